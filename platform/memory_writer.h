// A ByteWriter that keeps the output in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/byte_writer.h"

namespace platform {

// Holds everything written in a byte vector. Write and Seek throw WriteError only after
// Finish, or when a position does not fit the address space; Finish never fails, it only
// records that it was called.
class MemoryWriter final : public ByteWriter {
 public:
  void Write(const void* data, size_t size) override;
  uint64_t Tell() const override { return m_position; }
  void Seek(uint64_t absolute) override;
  void Finish() override;

  bool IsFinished() const { return m_finished; }
  const std::vector<uint8_t>& Bytes() const { return m_bytes; }

 private:
  void RequireWriting() const;

  std::vector<uint8_t> m_bytes;
  uint64_t m_position = 0;
  bool m_finished = false;
};

}  // namespace platform
