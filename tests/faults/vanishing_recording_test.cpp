// Recordings that change between the folder search and their conversion, and recordings that
// another reader holds open: that one file fails with a reason saying what is wrong, and the
// other files of the folder convert as if nothing had happened.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/batch_driver.h"
#include "reader/mp4_reader.h"
#include "reader/mp4file.h"
#include "tests/app/recording_ui.h"
#include "tests/app/run_program.h"
#include "tests/faults/fault_support.h"
#include "tests/support/temp_dir.h"

namespace faults {
namespace {

using recording::RecordingBuilder;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;
using testing_support::RecordingUi;
using testing_support::SplitLines;
using testing_support::TempDir;

using Lines = std::vector<std::string>;

// A folder of three recordings a.raw, b.raw and c.raw; b.raw is the one things happen to.
class RecordingInAFolder : public testing::Test {
 protected:
  RecordingInAFolder() {
    for (const char* name : {"a", "b", "c"}) {
      RecordingBuilder b(MP4_LAYOUT_USERDATA);
      b.IFrame(1).PFrame(2).UdAux(Bytes(6, 7)).PFrame(3).IFrame(4);
      m_recordings[name] = b.Build();
      m_expected = ExpectedSamples(b.Deliveries(), VolFor());
      testing_support::WriteFileBytes(Raw(name), m_recordings[name]);
    }
  }

  std::string Raw(const std::string& name) const { return m_dir.File(name + ".raw"); }
  std::string Avi(const std::string& name) const { return m_dir.File(name + ".avi"); }

  ConversionRequest FolderRequest() const {
    ConversionRequest request;
    request.bSingleFile = false;
    request.path = m_dir.Path().string();
    return request;
  }

  // a and c converted completely and left as they were; b failed with `reason`, and nothing
  // of its conversion is left.
  void ExpectOnlyBFailed(const std::string& reason) {
    for (const char* name : {"a", "c"}) {
      EXPECT_TRUE(CompleteAvi(Avi(name), m_expected));
      EXPECT_TRUE(HoldsBytes(Raw(name), m_recordings[name]));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(Avi("b")))) << reason;
    EXPECT_TRUE(NoTemporaries(m_dir.Path()));
  }

  TempDir m_dir;
  std::map<std::string, Bytes> m_recordings;
  Samples m_expected;
};

struct Change {
  const char* name;
  std::function<void(const std::string& path)> apply;
  const char* reason;  // what the failure line says, after the path
};

TEST_F(RecordingInAFolder, ChangedAfterTheFolderSearchFailsAloneWithItsReason) {
  const auto cutTo = [](uint64_t size) {
    return [size](const std::string& path) { fs::resize_file(path, size); };
  };
  const auto cutBy = [](uint64_t bytes) {
    return [bytes](const std::string& path) { fs::resize_file(path, fs::file_size(path) - bytes); };
  };
  const Change changes[] = {
      {"deleted", [](const std::string& path) { fs::remove(path); },
       ": cannot open: No such file or directory"},
      {"emptied", cutTo(0), ": too short for a raw recording"},
      {"cut inside the header", cutTo(40), ": too short for a raw recording"},
      {"cut before its trailer", cutBy(56), ": not a raw recording (no info trailer)"},
      {"its last byte cut", cutBy(1), ": not a raw recording (no info trailer)"},
      {"replaced by a dangling link",
       [](const std::string& path) {
         fs::remove(path);
         fs::create_symlink("gone.raw", path);
       },
       ": cannot open: No such file or directory"},
      {"replaced by a folder",
       [](const std::string& path) {
         fs::remove(path);
         fs::create_directory(path);
       },
       ": not a regular file"},
      {"replaced by a named pipe",
       [](const std::string& path) {
         fs::remove(path);
         ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
       },
       ": not a regular file"},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    for (const char* name : {"a", "b", "c"}) fs::remove(Avi(name));
    fs::remove_all(Raw("b"));
    testing_support::WriteFileBytes(Raw("b"), m_recordings["b"]);
    RecordingUi ui;
    std::optional<Bytes> changed;
    ui.onInsert = [&](const std::string& line) {
      if (line != Avi("b") + kConvertingSuffix) return;
      change.apply(Raw("b"));
      if (fs::is_regular_file(fs::symlink_status(Raw("b")))) {
        changed = testing_support::ReadFileBytes(Raw("b"));
      }
    };
    BatchControl control;

    const BatchSummary summary = ConvertThreadProc(FolderRequest(), ui, control);

    EXPECT_EQ(summary.converted, 2);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_THAT(ui.Lines(), ElementsAre(kBannerLine, Avi("c") + kConvertedSuffix,
                                        Avi("b") + kFailedSuffix + Raw("b") + change.reason,
                                        Avi("a") + kConvertedSuffix));
    ExpectOnlyBFailed(change.name);
    if (changed) {
      EXPECT_TRUE(HoldsBytes(Raw("b"), *changed)) << "the recording was written to";
    }
  }
}

// Holds a recording open the way another program would, through either interface.
struct Holder {
  const char* name;
  std::function<std::shared_ptr<void>(const std::string& path)> open;
};

const Holder kHolders[] = {
    {"MP4FileOpen",
     [](const std::string& path) {
       void* handle = MP4FileOpen(path.c_str());
       return handle ? std::shared_ptr<void>(handle, MP4FileClose) : nullptr;
     }},
    {"CMP4File::Open",
     [](const std::string& path) { return std::shared_ptr<void>(CMP4File::Open(path)); }},
};

TEST_F(RecordingInAFolder, HeldByAnotherReaderFailsAloneUntilReleased) {
  for (const Holder& holder : kHolders) {
    SCOPED_TRACE(holder.name);
    for (const char* name : {"a", "b", "c"}) fs::remove(Avi(name));
    std::shared_ptr<void> held = holder.open(Raw("b"));
    ASSERT_TRUE(held);
    RecordingUi ui;
    BatchControl control;

    const BatchSummary summary = ConvertThreadProc(FolderRequest(), ui, control);
    const testing_support::ProgramRun run = RunCli({"b.raw", "c.raw"}, m_dir.Path().string());

    EXPECT_EQ(summary.converted, 2);
    EXPECT_EQ(summary.failed, 1);
    const std::string reason = Raw("b") + ": held open by another reader";
    EXPECT_EQ(ui.Lines()[2], Avi("b") + kFailedSuffix + reason);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(SplitLines(run.err),
              Lines{std::string("b.avi") + kFailedSuffix + "b.raw: held open by another reader"});
    EXPECT_THAT(SplitLines(run.out), testing::Contains(std::string("c.avi") + kConvertedSuffix));
    ExpectOnlyBFailed(holder.name);
    EXPECT_TRUE(HoldsBytes(Raw("b"), m_recordings["b"]));

    held.reset();
    const testing_support::ProgramRun again = RunCli({"b.raw"}, m_dir.Path().string());
    EXPECT_EQ(again.exitStatus, 0) << again.err;
    EXPECT_TRUE(CompleteAvi(Avi("b"), m_expected));
  }
}

}  // namespace
}  // namespace faults
