// A ConversionUi that records every call in order and keeps the progress list as the calls
// leave it, for tests of the batch driver.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/batch_driver.h"

namespace testing_support {

struct UiCall {
  enum class Kind { kReset, kInsert, kDelete, kEnable, kMessage, kProgress };
  Kind kind = Kind::kReset;
  int index = 0;
  std::string text;  // the inserted line, or the message
  std::string cause;
  uint64_t consumed = 0;
  uint64_t total = 0;

  bool operator==(const UiCall&) const = default;
};

UiCall Reset();
UiCall Insert(int index, const std::string& line);
UiCall Delete(int index);
UiCall Enable();
UiCall Message(const std::string& message, const std::string& cause);
UiCall Progress(uint64_t consumed, uint64_t total);

void PrintTo(const UiCall& call, std::ostream* os);

class RecordingUi final : public ConversionUi {
 public:
  void ResetContent() override;
  // Runs `onInsert` once the list holds the new line.
  void InsertString(int index, const std::string& line) override;
  void DeleteString(int index) override;
  void EnableButtons() override;
  void ShowMessage(const std::string& message, const std::string& cause) override;
  void ShowProgress(uint64_t consumed, uint64_t total) override;

  // Every call, progress included.
  const std::vector<UiCall>& Calls() const { return m_calls; }
  // The calls without the progress reports.
  std::vector<UiCall> ListCalls() const;
  const std::vector<std::string>& Lines() const { return m_lines; }

  std::function<void(const std::string& line)> onInsert;

 private:
  std::vector<UiCall> m_calls;
  std::vector<std::string> m_lines;
};

}  // namespace testing_support
