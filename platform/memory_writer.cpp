#include "platform/memory_writer.h"

#include <cstring>

namespace platform {

void MemoryWriter::RequireWriting() const {
  if (m_finished) throw WriteError("memory output: used after Finish");
}

void MemoryWriter::Write(const void* data, size_t size) {
  RequireWriting();
  if (size == 0) return;
  if (size > m_bytes.max_size() - m_position) throw WriteError("memory output: too large");
  const size_t at = static_cast<size_t>(m_position);
  if (at + size > m_bytes.size()) m_bytes.resize(at + size);
  std::memcpy(m_bytes.data() + at, data, size);
  m_position += size;
}

void MemoryWriter::Seek(uint64_t absolute) {
  RequireWriting();
  if (absolute > m_bytes.max_size()) throw WriteError("memory output: too large");
  m_position = absolute;
}

void MemoryWriter::Finish() {
  RequireWriting();
  m_finished = true;
}

}  // namespace platform
