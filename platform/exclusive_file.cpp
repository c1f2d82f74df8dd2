#include "platform/exclusive_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {

ExclusiveFile::ExclusiveFile(const std::string& path, size_t bufferSize)
    : m_path(path), m_bufferSize(std::max<size_t>(bufferSize, 1)) {
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below anyway.
  m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (m_fd < 0) Fail("cannot open");
  struct stat st {};
  if (::fstat(m_fd, &st) != 0) {
    const int err = errno;
    Close();
    errno = err;
    Fail("cannot examine");
  }
  if (!S_ISREG(st.st_mode)) {
    Close();
    throw FileError(m_path + ": not a regular file");
  }
  if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    Close();
    if (err == EWOULDBLOCK) throw FileError(m_path + ": held open by another reader");
    errno = err;
    Fail("cannot lock");
  }
  const int flags = ::fcntl(m_fd, F_GETFL);
  if (flags >= 0) ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
  m_length = static_cast<uint64_t>(st.st_size);
  // A small file needs no more buffer than itself.
  m_bufferSize =
      static_cast<size_t>(std::min<uint64_t>(m_bufferSize, std::max<uint64_t>(m_length, 1)));
  m_buffer = std::make_unique<uint8_t[]>(m_bufferSize);
}

ExclusiveFile::~ExclusiveFile() { Close(); }

void ExclusiveFile::Fail(const char* what) const {
  throw FileError(m_path + ": " + what + ": " + std::strerror(errno));
}

void ExclusiveFile::RequireOpen() const {
  if (m_fd < 0) throw FileError(m_path + ": file is closed");
}

uint64_t ExclusiveFile::Length() const {
  RequireOpen();
  return m_length;
}

uint64_t ExclusiveFile::Position() const {
  RequireOpen();
  return m_position;
}

void ExclusiveFile::Seek(uint64_t offset) {
  RequireOpen();
  m_position = offset;
}

size_t ExclusiveFile::ReadFromFd(uint8_t* dest, size_t count, uint64_t offset) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(m_fd, dest + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("read error");
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

size_t ExclusiveFile::Read(void* dest, size_t count) {
  RequireOpen();
  auto* out = static_cast<uint8_t*>(dest);
  size_t done = 0;
  while (done < count) {
    const uint64_t pos = m_position;
    if (pos >= m_bufferStart && pos < m_bufferStart + m_bufferFill) {
      const size_t at = static_cast<size_t>(pos - m_bufferStart);
      const size_t n = std::min(count - done, m_bufferFill - at);
      std::memcpy(out + done, m_buffer.get() + at, n);
      done += n;
      m_position += n;
      continue;
    }
    const size_t want = count - done;
    if (want >= m_bufferSize) {
      // Large reads go straight to the destination: no byte is copied twice.
      const size_t n = ReadFromFd(out + done, want, pos);
      done += n;
      m_position += n;
      break;
    }
    m_bufferStart = pos;
    m_bufferFill = 0;
    m_bufferFill = ReadFromFd(m_buffer.get(), m_bufferSize, pos);
    if (m_bufferFill == 0) break;
  }
  return done;
}

void ExclusiveFile::Close() noexcept {
  if (m_fd >= 0) {
    ::close(m_fd);  // also releases the flock
    m_fd = -1;
  }
  m_bufferFill = 0;
}

}  // namespace platform
