// A ByteWriter that fails on purpose, to see how writers above it handle a full disk or a
// failing close.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/memory_writer.h"

namespace testing_support {

// Keeps the output in a MemoryWriter. Once `failAtByte` bytes have been written in total (seek
// backs and overwrites count too), Write stores what still fits and throws WriteError, and so
// does every later Write, like a full disk. Finish throws when `failAtFinish` is set.
class FailingWriter final : public platform::ByteWriter {
 public:
  static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

  explicit FailingWriter(uint64_t failAtByte, bool failAtFinish = false)
      : m_failAtByte(failAtByte), m_failAtFinish(failAtFinish) {}

  void Write(const void* data, size_t size) override {
    const uint64_t room = m_failAtByte - std::min(m_written, m_failAtByte);
    if (size > room) {
      m_memory.Write(data, static_cast<size_t>(room));
      m_written += room;
      throw platform::WriteError("injected failure at byte " + std::to_string(m_failAtByte));
    }
    m_memory.Write(data, size);
    m_written += size;
  }
  uint64_t Tell() const override { return m_memory.Tell(); }
  void Seek(uint64_t absolute) override { m_memory.Seek(absolute); }
  void Finish() override {
    m_finishCalled = true;
    if (m_failAtFinish) throw platform::WriteError("injected failure at Finish");
    m_memory.Finish();
  }

  // Bytes passed to Write so far.
  uint64_t Written() const { return m_written; }
  bool FinishCalled() const { return m_finishCalled; }
  const platform::MemoryWriter& Memory() const { return m_memory; }

 private:
  platform::MemoryWriter m_memory;
  uint64_t m_failAtByte;
  bool m_failAtFinish;
  uint64_t m_written = 0;
  bool m_finishCalled = false;
};

}  // namespace testing_support
