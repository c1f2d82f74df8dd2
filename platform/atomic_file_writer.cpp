#include "platform/atomic_file_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <utility>
#include <vector>

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr char kTempSuffix[] = ".part";
constexpr size_t kTempSuffixLength = sizeof kTempSuffix - 1;
constexpr size_t kTempRandomLength = 6;  // the XXXXXX of mkstemp
constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

// Takes errno as a value read before any string is built: building one may change errno.
std::string ErrorText(const std::string& path, const char* what, int error) {
  return path + ": " + what + ": " + std::strerror(error);
}

std::string FolderOf(const std::string& path) {
  const fs::path folder = fs::path(path).parent_path();
  return folder.empty() ? std::string(".") : folder.string();
}

std::string TempPrefix(const std::string& fileName) { return "." + fileName + "."; }

mode_t CurrentUmask() {
  // umask() can only be read by setting it, which races with files other threads create
  // meanwhile; /proc reports it without changing it.
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("Umask:")) {
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes `path` if it is a regular file no one holds a flock on. Returns whether it did.
bool RemoveIfUnlocked(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  bool removed = false;
  struct stat opened {};
  struct stat named {};
  // The name is checked again under the lock: the writer may have published its file, or
  // another cleaner removed it, since we opened it.
  if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      ::lstat(path.c_str(), &named) == 0 && SameFile(opened, named)) {
    removed = ::unlink(path.c_str()) == 0;
  }
  ::close(fd);
  return removed;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string finalPath, bool replaceExisting, size_t bufferSize)
    : m_finalPath(std::move(finalPath)),
      m_replaceExisting(replaceExisting),
      m_bufferSize(std::max<size_t>(bufferSize, 1)) {
  const std::string name = fs::path(m_finalPath).filename().string();
  if (name.empty() || name == "." || name == "..") {
    throw WriteError(m_finalPath + ": no file name");
  }
  struct stat existing {};
  if (::stat(m_finalPath.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) throw WriteError(m_finalPath + ": is a folder");
    if (!m_replaceExisting) throw WriteError(m_finalPath + ": already exists");
  }

  // Everything that can throw is done before the file exists.
  m_buffer = std::make_unique<uint8_t[]>(m_bufferSize);
  const mode_t mode = 0666 & ~CurrentUmask();
  const std::string folder = FolderOf(m_finalPath);
  const std::string pattern =
      (fs::path(folder) / (TempPrefix(name) + "XXXXXX" + kTempSuffix)).string();
  // A cleaner in another process may take a brand-new file before we lock it; that file is
  // lost to us, so we start over with a new name.
  for (int attempt = 0; m_fd < 0; ++attempt) {
    std::string path = pattern;
    const int fd = ::mkostemps(path.data(), static_cast<int>(kTempSuffixLength), O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      throw WriteError(m_finalPath + ": cannot create a temporary file in " + folder + ": " +
                       std::strerror(error));
    }
    // A filesystem without flock still gets its file; only the cleanup loses its guard.
    const bool lockTaken = ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
    struct stat st {};
    if (lockTaken && ::fstat(fd, &st) == 0 && st.st_nlink > 0) {
      m_fd = fd;
      m_tempPath = std::move(path);
    } else {
      ::close(fd);
      if (attempt == 3) throw WriteError(m_finalPath + ": temporary files keep disappearing");
    }
  }
  // mkstemp creates the file private (0600); the output should get the permissions any new
  // file gets. Filesystems without permissions (FAT) refuse, which does no harm.
  ::fchmod(m_fd, mode);
}

AtomicFileWriter::~AtomicFileWriter() {
  // Unlinking before closing keeps the lock until the name is gone.
  if (!m_finished && !m_tempPath.empty()) ::unlink(m_tempPath.c_str());
  if (m_fd >= 0) ::close(m_fd);
}

void AtomicFileWriter::Fail(const std::string& path, const char* what, int error) {
  m_failed = true;
  throw WriteError(ErrorText(path, what, error));
}

void AtomicFileWriter::RequireWriting() const {
  if (m_finished) throw WriteError(m_finalPath + ": used after Finish");
  if (m_failed) throw WriteError(m_tempPath + ": an earlier write failed");
}

void AtomicFileWriter::WriteAt(const uint8_t* data, size_t size, uint64_t offset) {
  while (size > 0) {
    const ssize_t n = ::pwrite(m_fd, data, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(m_tempPath, "cannot write", errno);
    }
    if (n == 0) Fail(m_tempPath, "cannot write", EIO);
    data += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  StartWriteback(offset);
}

void AtomicFileWriter::StartWriteback(uint64_t writtenUpTo) {
  // Finish syncs the whole file. Left alone, the kernel writes little of it back before that
  // (not until a tenth of memory is dirty), so the conversion first runs and then waits for
  // the disk. Starting the writeback of each stretch once it is written lets the disk work
  // meanwhile. Only a hint: errors are Finish's fsync to report.
  if (writtenUpTo < m_writebackFrom + kWritebackStretch) return;
  ::sync_file_range(m_fd, static_cast<off_t>(m_writebackFrom),
                    static_cast<off_t>(writtenUpTo - m_writebackFrom), SYNC_FILE_RANGE_WRITE);
  m_writebackFrom = writtenUpTo;
}

void AtomicFileWriter::Flush() {
  if (m_bufferFill == 0) return;
  WriteAt(m_buffer.get(), m_bufferFill, m_bufferStart);
  m_bufferFill = 0;
}

void AtomicFileWriter::Write(const void* data, size_t size) {
  RequireWriting();
  if (size == 0) return;
  if (size > kMaxOffset - m_position) Fail(m_tempPath, "cannot write", EFBIG);
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (size >= m_bufferSize) {
    Flush();
    WriteAt(bytes, size, m_position);
    m_position += size;
    return;
  }
  // The buffer holds one contiguous run of bytes: a write joins it only where it overlaps or
  // extends that run and still fits.
  const bool joins = m_position >= m_bufferStart && m_position <= m_bufferStart + m_bufferFill &&
                     m_position - m_bufferStart + size <= m_bufferSize;
  if (!joins) {
    Flush();
    m_bufferStart = m_position;
  }
  const auto at = static_cast<size_t>(m_position - m_bufferStart);
  std::memcpy(m_buffer.get() + at, bytes, size);
  m_bufferFill = std::max(m_bufferFill, at + size);
  m_position += size;
}

void AtomicFileWriter::Seek(uint64_t absolute) {
  RequireWriting();
  if (absolute > kMaxOffset) Fail(m_tempPath, "cannot seek", EFBIG);
  m_position = absolute;
}

void AtomicFileWriter::Publish() {
  if (m_replaceExisting) {
    if (::rename(m_tempPath.c_str(), m_finalPath.c_str()) != 0) {
      Fail(m_finalPath, "cannot rename the temporary file to it", errno);
    }
    return;
  }
  // rename() would replace a file that appeared meanwhile; link() refuses to.
  if (::link(m_tempPath.c_str(), m_finalPath.c_str()) != 0) {
    if (errno == EEXIST) {
      m_failed = true;
      throw WriteError(m_finalPath + ": already exists");
    }
    Fail(m_finalPath, "cannot link the temporary file to it", errno);
  }
  if (::unlink(m_tempPath.c_str()) != 0) Fail(m_tempPath, "cannot remove", errno);
}

void AtomicFileWriter::Finish() {
  RequireWriting();
  Flush();
  if (::fsync(m_fd) != 0) Fail(m_tempPath, "cannot sync", errno);
  // The file stays open, and locked, until it has its final name.
  Publish();
  m_finished = true;

  const std::string folder = FolderOf(m_finalPath);
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) throw WriteError(ErrorText(folder, "cannot open the folder to sync it", errno));
  // EINVAL: the filesystem cannot sync folders; there is nothing more to do.
  const int syncError = ::fsync(dirFd) == 0 || errno == EINVAL ? 0 : errno;
  ::close(dirFd);
  if (syncError != 0) throw WriteError(ErrorText(folder, "cannot sync the folder", syncError));

  const int fd = std::exchange(m_fd, -1);
  if (::close(fd) != 0) throw WriteError(ErrorText(m_finalPath, "cannot close", errno));
}

size_t AtomicFileWriter::RemoveStaleTemporaries(const std::string& finalPath) {
  const std::string prefix = TempPrefix(fs::path(finalPath).filename().string());
  const size_t nameLength = prefix.size() + kTempRandomLength + kTempSuffixLength;

  std::vector<std::string> candidates;
  std::error_code error;
  for (fs::directory_iterator it(FolderOf(finalPath), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    // The exact length keeps the temporary files of longer names ("a.avi.x") out.
    if (name.size() == nameLength && name.starts_with(prefix) && name.ends_with(kTempSuffix)) {
      candidates.push_back(it->path().string());
    }
  }
  return static_cast<size_t>(std::count_if(candidates.begin(), candidates.end(), RemoveIfUnlocked));
}

}  // namespace platform
