// A file written front to back through a large buffer, for the benchmark's generator: the
// recordings run to gigabytes, so they are streamed to disk and never held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace bench {

class BufferedOutput {
 public:
  // Creates or truncates `path`. Throws std::system_error.
  explicit BufferedOutput(const std::string& path);
  ~BufferedOutput();
  BufferedOutput(const BufferedOutput&) = delete;
  BufferedOutput& operator=(const BufferedOutput&) = delete;

  // Throws std::system_error.
  void Write(const void* data, size_t size);
  uint64_t Position() const { return m_position; }
  // Writes what is buffered and closes the file. Throws std::system_error.
  void Close();

 private:
  static constexpr size_t kBufferSize = size_t{8} << 20;

  void Flush();

  std::string m_path;
  int m_fd = -1;
  std::unique_ptr<uint8_t[]> m_buffer;
  size_t m_fill = 0;
  uint64_t m_position = 0;
};

}  // namespace bench
