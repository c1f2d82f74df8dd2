// A conversion killed with SIGKILL half-way through its file: nothing appears under the
// output name, at most the temporary file remains, and the next run removes it and succeeds.
//
// The run is caught in the middle without any timing: the test watches the folder with
// inotify and stops the process with SIGSTOP at the first write into its temporary file, when
// almost all of a large recording is still to come, and only then kills it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/batch_driver.h"
#include "reader/mp4file.h"
#include "tests/app/run_program.h"
#include "tests/faults/fault_support.h"
#include "tests/support/temp_dir.h"

namespace faults {
namespace {

using recording::RecordingBuilder;
using testing_support::TempDir;

// A recording made of one group of records repeated many times, written to disk group by
// group so that it never has to be held in memory whole.
class RepeatedRecording {
 public:
  RepeatedRecording(uint32_t layout, int groups) : m_groups(groups) {
    RecordingBuilder b(layout);
    b.IFrame(1, 64 * 1024);
    for (uint32_t t = 2; t <= 24; ++t) b.PFrame(t, 20 * 1024);
    const Bytes built = b.Build();
    m_header.assign(built.begin(), built.begin() + 64);
    m_group.assign(built.begin() + 64, built.end() - 56);
    m_trailer.assign(built.end() - 56, built.end());
    for (int i = 0; i < groups; ++i) {
      m_deliveries.insert(m_deliveries.end(), b.Deliveries().begin(), b.Deliveries().end());
    }
  }

  void WriteTo(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    Put(out, m_header);
    for (int i = 0; i < m_groups; ++i) Put(out, m_group);
    Put(out, m_trailer);
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
  }

  // Whether `path` still holds exactly this recording, compared group by group.
  testing::AssertionResult HeldBy(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    Bytes chunk;
    const auto same = [&](const Bytes& expected) {
      chunk.resize(expected.size());
      in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
      return in.gcount() == static_cast<std::streamsize>(chunk.size()) && chunk == expected;
    };
    bool ok = same(m_header);
    for (int i = 0; ok && i < m_groups; ++i) ok = same(m_group);
    ok = ok && same(m_trailer) && in.peek() == std::ifstream::traits_type::eof();
    if (ok) return testing::AssertionSuccess();
    return testing::AssertionFailure() << path << " is no longer the recording it was";
  }

  uint64_t Size() const {
    return m_header.size() + m_group.size() * static_cast<uint64_t>(m_groups) + m_trailer.size();
  }
  const std::vector<recording::Delivery>& Deliveries() const { return m_deliveries; }

 private:
  static void Put(std::ofstream& out, const Bytes& bytes) {
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  int m_groups;
  Bytes m_header;
  Bytes m_group;
  Bytes m_trailer;
  std::vector<recording::Delivery> m_deliveries;
};

// Watches a folder for the first write into a temporary file named `prefix`...`.part`.
class FirstWriteWatch {
 public:
  FirstWriteWatch(const fs::path& folder, std::string prefix) : m_prefix(std::move(prefix)) {
    m_fd = inotify_init1(IN_CLOEXEC);
    if (m_fd < 0 || inotify_add_watch(m_fd, folder.c_str(), IN_MODIFY | IN_MOVED_TO) < 0) {
      const std::string why = std::string("inotify: ") + std::strerror(errno);
      if (m_fd >= 0) ::close(m_fd);
      throw std::runtime_error(why);
    }
  }
  ~FirstWriteWatch() { ::close(m_fd); }
  FirstWriteWatch(const FirstWriteWatch&) = delete;
  FirstWriteWatch& operator=(const FirstWriteWatch&) = delete;

  // Blocks until a temporary file of the prefix has been written to (true), or a file has
  // been renamed into the folder first (false: the run completed before it could be caught).
  bool Wait() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("inotify read failed");
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        const std::string name = event->len > 0 ? event->name : "";
        if ((event->mask & IN_MOVED_TO) != 0) return false;
        if ((event->mask & IN_MODIFY) != 0 && name.starts_with(m_prefix) &&
            name.ends_with(".part")) {
          return true;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

 private:
  std::string m_prefix;
  int m_fd = -1;
};

TEST(KilledRun, LeavesNoOutputAndTheNextRunCleansUpAndSucceeds) {
  TempDir dir;
  TempDir capture;
  // About 50 MB: the first write comes after 1 MB, so the rest keeps the run busy long after
  // it has been stopped.
  const RepeatedRecording recording(MP4_LAYOUT_TAGGED, 96);
  const std::string raw = dir.File("big.raw");
  const std::string avi = dir.File("big.avi");
  recording.WriteTo(raw);
  ASSERT_GT(recording.Size(), uint64_t{48} << 20);

  std::optional<FirstWriteWatch> watch;
  try {
    watch.emplace(dir.Path(), ".big.avi.");
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << "cannot catch the run in the middle without " << e.what();
  }
  const pid_t pid =
      StartCli({"big.raw"}, dir.Path().string(), capture.File("out"), capture.File("err"));
  const bool caught = watch->Wait();
  ::kill(pid, SIGSTOP);
  int status = 0;
  while (::waitpid(pid, &status, WUNTRACED) < 0 && errno == EINTR) {
  }
  const bool stopped = WIFSTOPPED(status);
  const bool published = fs::exists(avi);
  if (stopped) {
    ::kill(pid, SIGKILL);
    status = WaitFor(pid);
  }
  ASSERT_TRUE(caught && stopped && !published) << "the run ended before it could be stopped";
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  EXPECT_FALSE(fs::exists(fs::symlink_status(avi)));
  EXPECT_TRUE(recording.HeldBy(raw));
  const std::vector<std::string> left = TemporariesOf(avi);
  ASSERT_EQ(left.size(), 1u) << "a killed run cannot remove its temporary file";
  EXPECT_GT(fs::file_size(dir.Path() / left[0]), 0u);

  const testing_support::ProgramRun again = RunCli({"big.raw"}, dir.Path().string());

  EXPECT_EQ(again.exitStatus, 0) << again.err;
  EXPECT_EQ(testing_support::SplitLines(again.out).back(),
            "big.avi" + std::string(kConvertedSuffix));
  EXPECT_TRUE(CompleteAvi(avi, ExpectedSamples(recording.Deliveries(), VolFor())));
  EXPECT_TRUE(NoTemporaries(dir.Path()));
  EXPECT_TRUE(recording.HeldBy(raw));
}

}  // namespace
}  // namespace faults
