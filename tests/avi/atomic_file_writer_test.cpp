#include "platform/atomic_file_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/memory_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::AtomicFileWriter;
using platform::WriteError;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

void WriteText(platform::ByteWriter& out, const std::string& text) {
  out.Write(text.data(), text.size());
}

class AtomicFileWriterTest : public ::testing::Test {
 protected:
  std::set<std::string> FolderContents() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  testing_support::TempDir m_dir;
  const std::string m_final = m_dir.File("out.avi");
};

// One step of a write pattern: write `size` bytes, or seek to `seekTo`.
struct Step {
  std::optional<uint64_t> seekTo;
  size_t size = 0;
};

TEST_F(AtomicFileWriterTest, FileHoldsWhatAMemoryWriterHoldsForAnyPatternOfWritesAndSeeks) {
  // Headers and patches, as a RIFF writer makes them: a patch inside the buffered bytes, one
  // behind bytes already flushed, a write larger than the buffer over a buffered patch, a gap
  // past the end and an overwrite across the old end. No later step covers an earlier one.
  const std::vector<Step> steps = {
      {{}, 12},   {{}, 30},   {{4}, 4},   {{42}, 10},  {{}, 100},  {{8}, 4}, {{152}, 3},
      {{300}, 9}, {{150}, 4}, {{400}, 2}, {{390}, 80}, {{309}, 7}, {{0}, 1},
  };
  for (const size_t bufferSize :
       {size_t{1}, size_t{8}, size_t{64}, AtomicFileWriter::kDefaultBufferSize}) {
    SCOPED_TRACE(bufferSize);
    platform::MemoryWriter model;
    {
      AtomicFileWriter file(m_final, true, bufferSize);
      uint8_t value = 0;
      for (const Step& step : steps) {
        if (step.seekTo) {
          model.Seek(*step.seekTo);
          file.Seek(*step.seekTo);
        }
        std::vector<uint8_t> bytes(step.size);
        for (uint8_t& b : bytes) b = ++value;
        model.Write(bytes.data(), bytes.size());
        file.Write(bytes.data(), bytes.size());
        ASSERT_EQ(file.Tell(), model.Tell());
      }
      file.Finish();
    }
    EXPECT_EQ(ReadFileBytes(m_final), model.Bytes());
  }
}

TEST_F(AtomicFileWriterTest, FileAppearsOnlyAtFinishWithTheUsualPermissions) {
  const mode_t previous = ::umask(027);
  {
    AtomicFileWriter file(m_final);
    WriteText(file, "complete");
    EXPECT_FALSE(std::filesystem::exists(m_final));
    EXPECT_EQ(FolderContents().size(), 1u);  // the temporary file
    file.Finish();
  }
  ::umask(previous);
  EXPECT_EQ(ReadFileBytes(m_final), Text("complete"));
  EXPECT_EQ(FolderContents(), std::set<std::string>{"out.avi"});
  struct stat st {};
  ASSERT_EQ(::stat(m_final.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(AtomicFileWriterTest, AbandonedWriterLeavesNoFileAndAnExistingOneUntouched) {
  for (const bool existing : {false, true}) {
    SCOPED_TRACE(existing);
    if (existing) WriteFileBytes(m_final, Text("old"));
    {
      AtomicFileWriter file(m_final);
      WriteText(file, "new data that is never finished");
    }
    if (existing) {
      EXPECT_EQ(ReadFileBytes(m_final), Text("old"));
      EXPECT_EQ(FolderContents(), std::set<std::string>{"out.avi"});
    } else {
      EXPECT_TRUE(FolderContents().empty());
    }
  }
}

TEST_F(AtomicFileWriterTest, FinishReplacesAnExistingFile) {
  WriteFileBytes(m_final, Text("old"));
  AtomicFileWriter file(m_final);
  WriteText(file, "new");
  EXPECT_EQ(ReadFileBytes(m_final), Text("old"));
  file.Finish();
  EXPECT_EQ(ReadFileBytes(m_final), Text("new"));
  EXPECT_EQ(FolderContents(), std::set<std::string>{"out.avi"});
}

TEST_F(AtomicFileWriterTest, WithoutReplaceAnExistingFileIsRefusedAndKept) {
  WriteFileBytes(m_final, Text("old"));
  EXPECT_THROW(AtomicFileWriter(m_final, false), WriteError);

  // A file that appears while we write is not replaced either.
  std::filesystem::remove(m_final);
  {
    AtomicFileWriter file(m_final, false);
    WriteText(file, "new");
    WriteFileBytes(m_final, Text("other"));
    try {
      file.Finish();
      ADD_FAILURE() << "Finish replaced a file";
    } catch (const WriteError& e) {
      EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(ReadFileBytes(m_final), Text("other"));
  EXPECT_EQ(FolderContents(), std::set<std::string>{"out.avi"});
}

void ExpectCreationFails(const std::string& path) {
  SCOPED_TRACE(path);
  try {
    AtomicFileWriter file(path);
    ADD_FAILURE() << "created " << file.TemporaryPath();
  } catch (const WriteError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

TEST_F(AtomicFileWriterTest, PlacesWhereNoFileCanBeCreatedAreReported) {
  std::filesystem::create_directory(m_dir.Path() / "folder");
  WriteFileBytes(m_dir.File("plain"), Text("x"));
  for (const char* name : {"missing/out.avi", "folder", "plain/out.avi", "folder/"}) {
    ExpectCreationFails(m_dir.File(name));
  }
}

TEST_F(AtomicFileWriterTest, ReadOnlyFolderIsReported) {
  const auto folder = m_dir.Path() / "readonly";
  std::filesystem::create_directory(folder);
  std::filesystem::permissions(
      folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (::access(folder.c_str(), W_OK) == 0)
    GTEST_SKIP() << "running as root: every folder is writable";
  ExpectCreationFails((folder / "out.avi").string());
}

TEST_F(AtomicFileWriterTest, WriteErrorsAreReportedAndLeaveNothingBehind) {
  // A file size limit makes writes fail as a full disk would.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
  rlimit limited = previous;
  limited.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);

  const std::vector<uint8_t> data(600, 1);
  // Buffered data fails at Finish; a write as large as the buffer fails at once.
  for (const size_t bufferSize : {AtomicFileWriter::kDefaultBufferSize, size_t{16}}) {
    SCOPED_TRACE(bufferSize);
    try {
      AtomicFileWriter file(m_final, true, bufferSize);
      file.Write(data.data(), data.size());
      file.Write(data.data(), data.size());
      file.Finish();
      ADD_FAILURE() << "no error";
    } catch (const WriteError& e) {
      EXPECT_NE(std::string(e.what()).find("cannot write"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(FolderContents().empty());
  }
  ::setrlimit(RLIMIT_FSIZE, &previous);
}

TEST_F(AtomicFileWriterTest, OffsetsBeyond4GiBWork) {
  const uint64_t far = (uint64_t{5} << 30) + 3;
  {
    AtomicFileWriter file(m_final);
    file.Seek(far);
    WriteText(file, "end");
    EXPECT_EQ(file.Tell(), far + 3);
    file.Finish();
  }
  EXPECT_EQ(std::filesystem::file_size(m_final), far + 3);
  const int fd = ::open(m_final.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  char tail[3] = {};
  EXPECT_EQ(::pread(fd, tail, 3, static_cast<off_t>(far)), 3);
  ::close(fd);
  EXPECT_EQ(std::string(tail, 3), "end");
}

TEST_F(AtomicFileWriterTest, RemoveStaleTemporariesRemovesOnlyUnlockedLeftoversOfThatName) {
  const std::set<std::string> kept = {
      ".out.avi.locked.part",      // held by a live process
      ".out.avi.x.ab12CD.part",    // of "out.avi.x"
      ".other.avi.ab12CD.part",    // of another file
      ".out.avi.ab12CD.part.bak",  // not ours
  };
  for (const auto& name : kept) WriteFileBytes(m_dir.File(name), Text("x"));
  WriteFileBytes(m_dir.File(".out.avi.ab12CD.part"), Text("stale"));
  const int lockFd = ::open(m_dir.File(".out.avi.locked.part").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(lockFd, 0);
  ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);

  AtomicFileWriter live(m_final);
  WriteText(live, "live");
  EXPECT_EQ(AtomicFileWriter::RemoveStaleTemporaries(m_final), 1u);
  ::close(lockFd);

  std::set<std::string> expected = kept;
  expected.insert(std::filesystem::path(live.TemporaryPath()).filename().string());
  EXPECT_EQ(FolderContents(), expected);
  live.Finish();
  EXPECT_EQ(ReadFileBytes(m_final), Text("live"));
}

}  // namespace
