#include "bench/buffered_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace bench {

namespace {

[[noreturn]] void Fail(const std::string& path, const char* what) {
  throw std::system_error(errno, std::generic_category(), path + ": " + what);
}

}  // namespace

BufferedOutput::BufferedOutput(const std::string& path)
    : m_path(path), m_buffer(std::make_unique<uint8_t[]>(kBufferSize)) {
  m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (m_fd < 0) Fail(m_path, "cannot create");
}

BufferedOutput::~BufferedOutput() {
  if (m_fd >= 0) ::close(m_fd);
}

void BufferedOutput::Flush() {
  const uint8_t* p = m_buffer.get();
  size_t left = m_fill;
  while (left > 0) {
    const ssize_t n = ::write(m_fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(m_path, "cannot write");
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  m_fill = 0;
}

void BufferedOutput::Write(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  m_position += size;
  while (size > 0) {
    const size_t n = std::min(size, kBufferSize - m_fill);
    std::memcpy(m_buffer.get() + m_fill, bytes, n);
    m_fill += n;
    bytes += n;
    size -= n;
    if (m_fill == kBufferSize) Flush();
  }
}

void BufferedOutput::Close() {
  Flush();
  const int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0) Fail(m_path, "cannot close");
}

}  // namespace bench
