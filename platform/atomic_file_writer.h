// A file that appears under its final name only when it is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/byte_writer.h"

namespace platform {

// Writes a file through a temporary file in the same folder, `.<final name>.XXXXXX.part`, and
// renames it to the final name in Finish once the data is synced to disk. Until then nothing
// appears under the final name and an existing file of that name stays as it is; an object
// destroyed without a successful Finish removes its temporary file.
//
// The temporary file is created with mode 0666 minus the umask, like any new file, and is held
// with an exclusive flock while it is written, so RemoveStaleTemporaries tells a live temporary
// file from the leftover of a killed run.
//
// Writes are buffered (bufferSize bytes). A write at least as large as the buffer goes straight
// to the file after the buffer is flushed, so large payloads are not copied. A Seek back into
// the buffered bytes costs nothing, which makes patching a recent header cheap. All offsets
// are 64-bit. The writeback of written bytes is started every few megabytes, so the disk works
// while the caller goes on and Finish's sync finds little left to do.
//
// Not thread-safe: one thread at a time.
class AtomicFileWriter final : public ByteWriter {
 public:
  static constexpr size_t kDefaultBufferSize = size_t{1} << 20;

  // Creates the temporary file for `finalPath`. With `replaceExisting` false an existing file
  // of that name is never replaced: the constructor refuses it, and so does Finish if one has
  // appeared meanwhile. Throws WriteError when the file exists and may not be replaced, when
  // `finalPath` names a folder or has no file name, or when the temporary file cannot be
  // created (folder missing or not writable, ...).
  explicit AtomicFileWriter(std::string finalPath, bool replaceExisting = true,
                            size_t bufferSize = kDefaultBufferSize);
  // Removes the temporary file unless Finish succeeded. Never throws.
  ~AtomicFileWriter() override;
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Throw WriteError naming the temporary file and the cause (strerror) on an I/O error. After
  // one error the writer refuses every further call.
  void Write(const void* data, size_t size) override;
  uint64_t Tell() const override { return m_position; }
  void Seek(uint64_t absolute) override;
  // Flushes, syncs the file, renames it to the final name and syncs the folder. Throws
  // WriteError when any step fails; "already exists" when `replaceExisting` is false and the
  // final name is taken. If the last step (syncing the folder or closing the file) fails, the
  // file is in place under the final name nonetheless.
  void Finish() override;

  const std::string& FinalPath() const { return m_finalPath; }
  const std::string& TemporaryPath() const { return m_tempPath; }

  // Deletes the temporary files a killed earlier run left beside `finalPath`: the ones whose
  // flock it can take, so the temporary file of a live writer is never touched. Best effort:
  // a file it cannot open, lock or remove stays. Returns the number of files removed; never
  // throws WriteError.
  static size_t RemoveStaleTemporaries(const std::string& finalPath);

 private:
  [[noreturn]] void Fail(const std::string& path, const char* what, int error);
  void RequireWriting() const;
  void Flush();
  void WriteAt(const uint8_t* data, size_t size, uint64_t offset);
  void StartWriteback(uint64_t writtenUpTo);
  void Publish();

  std::string m_finalPath;
  std::string m_tempPath;
  bool m_replaceExisting;
  int m_fd = -1;
  bool m_failed = false;
  bool m_finished = false;
  uint64_t m_position = 0;
  // The buffer holds the file bytes [m_bufferStart, m_bufferStart + m_bufferFill), not yet
  // written to the file.
  std::unique_ptr<uint8_t[]> m_buffer;
  size_t m_bufferSize;
  uint64_t m_bufferStart = 0;
  size_t m_bufferFill = 0;
  // Writeback has been started for the file bytes before this offset.
  static constexpr uint64_t kWritebackStretch = uint64_t{8} << 20;
  uint64_t m_writebackFrom = 0;
};

}  // namespace platform
