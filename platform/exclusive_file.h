// A regular file opened read-only and held exclusively, with buffered reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace platform {

// Thrown by every failing operation of ExclusiveFile; what() names the path and the cause.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Read-only access to one regular file, held exclusively.
//
// Open takes flock(LOCK_EX | LOCK_NB) on its own open file description, so a second
// ExclusiveFile on the same file - in this process or in another that also locks - fails to
// open until the first is closed. Because the file is held exclusively its length is read
// once at open and cached.
//
// Reads go through a read-ahead buffer; a seek inside the buffered window costs nothing, so
// passing over data by seeking is as cheap as it gets. All offsets are 64-bit.
//
// Not thread-safe: one thread at a time.
class ExclusiveFile {
 public:
  // Opens `path`. Throws FileError when the file is missing, not accessible, not a regular
  // file, or held by another ExclusiveFile.
  explicit ExclusiveFile(const std::string& path, size_t bufferSize = kDefaultBufferSize);
  ~ExclusiveFile();
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;

  static constexpr size_t kDefaultBufferSize = 256 * 1024;

  bool IsOpen() const { return m_fd >= 0; }
  // Length in bytes, as it was at open.
  uint64_t Length() const;
  // Current read position.
  uint64_t Position() const;
  // Moves the read position to `offset` bytes from the start. Throws FileError when the file
  // is closed; a position beyond the end is allowed and makes later reads return 0 bytes.
  void Seek(uint64_t offset);
  // Reads up to `count` bytes at the position into `dest` and advances past them. Returns the
  // number of bytes read, fewer than `count` only at the end of the file. Throws FileError
  // on an I/O error or when the file is closed.
  size_t Read(void* dest, size_t count);
  // Releases the lock and the descriptor. Idempotent; never throws.
  void Close() noexcept;

  const std::string& Path() const { return m_path; }

 private:
  [[noreturn]] void Fail(const char* what) const;
  void RequireOpen() const;
  size_t ReadFromFd(uint8_t* dest, size_t count, uint64_t offset);

  std::string m_path;
  int m_fd = -1;
  uint64_t m_length = 0;
  uint64_t m_position = 0;
  // The buffered window holds file bytes [m_bufferStart, m_bufferStart + m_bufferFill).
  std::unique_ptr<uint8_t[]> m_buffer;
  size_t m_bufferSize;
  uint64_t m_bufferStart = 0;
  size_t m_bufferFill = 0;
};

}  // namespace platform
