// The output side of every file we produce: a byte sink with a position that can move back,
// so container sizes and indexes can be patched once they are known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace platform {

// Thrown by every failing ByteWriter operation; what() names the output and the cause.
class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A seekable byte sink. The position starts at 0; Write stores bytes at the position and moves
// it past them, overwriting what is there and extending the output at its end. Seek may move
// the position past the end; a later Write there leaves the skipped bytes zero.
//
// Finish completes the output and reports every error on the way (buffered data, syncing,
// publishing). Nothing may be called after Finish, whether it succeeded or threw. An object
// destroyed without a successful Finish abandons its output; destructors never throw.
//
// Not thread-safe: one thread at a time.
class ByteWriter {
 public:
  virtual ~ByteWriter() = default;

  // Writes `size` bytes from `data` (which may be null when `size` is 0). Throws WriteError.
  virtual void Write(const void* data, size_t size) = 0;
  // Current position in bytes from the start.
  virtual uint64_t Tell() const = 0;
  // Moves the position to `absolute` bytes from the start. Throws WriteError.
  virtual void Seek(uint64_t absolute) = 0;
  // Completes the output. Throws WriteError.
  virtual void Finish() = 0;
};

}  // namespace platform
