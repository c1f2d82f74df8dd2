// The command line's face of the batch driver: the progress list as printed lines, and a
// progress bar on a terminal.
#pragma once

#include <cstddef>
#include <string>

#include "app/batch_driver.h"

class ConsoleUi final : public ConversionUi {
 public:
  // `quiet`: print only errors. `progressBar`: draw a bar on standard error while a recording
  // converts (for a terminal only: it redraws itself with carriage returns).
  ConsoleUi(bool quiet, bool progressBar) : m_quiet(quiet), m_progressBar(progressBar) {}

  // A console cannot take printed lines back, so it prints each line once, when it is
  // inserted: progress lines on standard output, failures on standard error. The banner is
  // printed once, however many requests a run makes.
  void ResetContent() override {}
  void InsertString(int index, const std::string& line) override;
  void DeleteString(int index) override;
  void EnableButtons() override {}
  void ShowMessage(const std::string& message, const std::string& cause) override;
  void ShowProgress(uint64_t consumed, uint64_t total) override;

 private:
  void ClearBar();

  bool m_quiet;
  bool m_progressBar;
  bool m_bannerShown = false;
  std::string m_bar;  // the bar as drawn, empty when none is
};
