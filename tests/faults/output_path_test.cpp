// Outputs that cannot or must not be written: a read-only folder, a folder in the output's
// place, and every way of naming the recording itself as the output. Each is refused with a
// reason before anything is written, through ConvertRawToAvi and through the command line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/batch_driver.h"
#include "convert/convert_raw_to_avi.h"
#include "reader/mp4file.h"
#include "tests/app/run_program.h"
#include "tests/faults/fault_support.h"
#include "tests/support/temp_dir.h"

namespace faults {
namespace {

using recording::RecordingBuilder;
using testing::AllOf;
using testing::HasSubstr;
using testing::StartsWith;
using testing_support::SplitLines;
using testing_support::TempDir;

using Lines = std::vector<std::string>;

class OutputPath : public testing::Test {
 protected:
  OutputPath() {
    RecordingBuilder b(MP4_LAYOUT_TAGGED);
    b.IFrame(1).PFrame(2).PFrame(3).IFrame(4);
    m_recording = b.Build();
  }

  void WriteRecording(const std::string& path) const {
    testing_support::WriteFileBytes(path, m_recording);
  }

  // ConvertRawToAvi run with `dir` as the current folder, in a child, so that relative
  // spellings mean what they mean to a user and the test process keeps its own folder.
  nlohmann::json ConvertIn(const fs::path& dir, const std::string& avi, const std::string& raw,
                           const std::function<std::string()>& prepare = {}) const {
    return InChild([&] {
      if (::chdir(dir.c_str()) != 0) throw std::runtime_error("chdir failed");
      if (prepare) {
        const std::string why = prepare();
        if (!why.empty()) throw std::runtime_error(why);
      }
      std::string why;
      const int result = ConvertRawToAvi(avi.c_str(), raw.c_str(), {}, &why);
      return nlohmann::json{{"result", result}, {"why", why}};
    });
  }

  TempDir m_dir;
  Bytes m_recording;
};

TEST_F(OutputPath, ReadOnlyFolderRefusesTheOutputAndKeepsWhatIsThere) {
  if (!InChild([] { return DropPrivileges(); }).get<std::string>().empty()) {
    GTEST_SKIP() << "cannot run unprivileged, and as root every folder is writable";
  }
  // The unprivileged child must reach the folder: the test folder is private otherwise.
  fs::permissions(m_dir.Path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
  const fs::path ro = m_dir.Path() / "ro";
  const Bytes previous = {'k', 'e', 'p', 't'};

  for (const bool withPrevious : {false, true}) {
    SCOPED_TRACE(withPrevious ? "an earlier output is there" : "no earlier output");
    fs::create_directory(ro);
    WriteRecording((ro / "cam.raw").string());
    fs::permissions(ro / "cam.raw", fs::perms::owner_read | fs::perms::owner_write |
                                        fs::perms::group_read | fs::perms::others_read);
    if (withPrevious) testing_support::WriteFileBytes((ro / "cam.avi").string(), previous);
    const Lines names = testing_support::FileNames(ro);
    fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                            fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec);

    const nlohmann::json direct = ConvertIn(ro, "cam.avi", "cam.raw", DropPrivileges);
    const testing_support::ProgramRun run =
        RunCli({"ro/cam.raw"}, m_dir.Path().string(), DropPrivileges);

    EXPECT_EQ(direct["result"], -1);
    EXPECT_THAT(direct["why"].get<std::string>(),
                HasSubstr("cannot create a temporary file in .: Permission denied"));
    EXPECT_EQ(run.exitStatus, 1) << run.err;
    EXPECT_THAT(SplitLines(run.err),
                testing::ElementsAre(
                    AllOf(StartsWith(std::string("ro/cam.avi") + kFailedSuffix),
                          HasSubstr("cannot create a temporary file in ro: Permission denied"))));
    EXPECT_EQ(testing_support::FileNames(ro), names) << "nothing written, nothing removed";
    EXPECT_TRUE(HoldsBytes((ro / "cam.raw").string(), m_recording));
    if (withPrevious) {
      EXPECT_TRUE(HoldsBytes((ro / "cam.avi").string(), previous));
    }
    fs::permissions(ro, fs::perms::owner_all);
    fs::remove_all(ro);
  }
}

TEST_F(OutputPath, FolderInTheOutputsPlaceIsRefused) {
  struct Case {
    const char* name;
    std::string output;  // for -o; empty: the default name beside the recording
    const char* reason;
  };
  const Case cases[] = {
      {"a folder", "out", "is a folder"},
      {"a folder with a trailing slash", "out/", "no file name"},
      {"a link to a folder", "linked", "is a folder"},
      {"the default name taken by a folder", "", "is a folder"},
      {"a missing folder", "missing/cam.avi", "cannot create a temporary file"},
  };
  WriteRecording(m_dir.File("cam.raw"));
  fs::create_directory(m_dir.File("out"));
  fs::create_directory_symlink("out", m_dir.File("linked"));
  fs::create_directory(m_dir.File("cam.avi"));
  const Lines names = testing_support::FileNames(m_dir.Path());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string shown = c.output.empty() ? "cam.avi" : c.output;
    std::vector<std::string> args{"cam.raw"};
    if (!c.output.empty()) args = {"-o", c.output, "cam.raw"};

    const nlohmann::json direct = ConvertIn(m_dir.Path(), shown, "cam.raw");
    const testing_support::ProgramRun run = RunCli(args, m_dir.Path().string());

    EXPECT_EQ(direct["result"], -1);
    EXPECT_THAT(direct["why"].get<std::string>(), HasSubstr(c.reason));
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(SplitLines(run.err), testing::ElementsAre(AllOf(StartsWith(shown + kFailedSuffix),
                                                                HasSubstr(c.reason))));
    EXPECT_EQ(testing_support::FileNames(m_dir.Path()), names);
    for (const char* folder : {"out", "cam.avi"}) {
      EXPECT_TRUE(fs::is_empty(m_dir.File(folder))) << folder << " was written into";
    }
    EXPECT_TRUE(HoldsBytes(m_dir.File("cam.raw"), m_recording));
  }
}

TEST_F(OutputPath, RecordingItselfIsRefusedUnderEverySpelling) {
  WriteRecording(m_dir.File("cam.raw"));
  fs::create_directory(m_dir.File("sub"));
  fs::create_symlink("cam.raw", m_dir.File("link.avi"));
  fs::create_symlink("link.avi", m_dir.File("chain.avi"));
  fs::create_hard_link(m_dir.File("cam.raw"), m_dir.File("hard.avi"));
  fs::create_directory_symlink(".", m_dir.File("here"));
  const Lines names = testing_support::FileNames(m_dir.Path());

  const std::vector<std::string> spellings = {
      "cam.raw",      "./cam.raw", m_dir.File("cam.raw"), "sub/../cam.raw",
      "here/cam.raw", "link.avi",  "chain.avi",           "hard.avi",
  };
  for (const std::string& output : spellings) {
    SCOPED_TRACE(output);
    const nlohmann::json direct = ConvertIn(m_dir.Path(), output, "cam.raw");
    const testing_support::ProgramRun run =
        RunCli({"-o", output, "cam.raw"}, m_dir.Path().string());

    EXPECT_EQ(direct["result"], -1);
    EXPECT_THAT(direct["why"].get<std::string>(), HasSubstr("is the recording itself"));
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(SplitLines(run.err),
                testing::ElementsAre(AllOf(StartsWith(output + kFailedSuffix),
                                           HasSubstr("is the recording itself"))));
    EXPECT_TRUE(HoldsBytes(m_dir.File("cam.raw"), m_recording));
    EXPECT_EQ(testing_support::FileNames(m_dir.Path()), names);
    EXPECT_TRUE(fs::is_symlink(m_dir.File("link.avi")));
  }
}

TEST_F(OutputPath, DefaultNameThatLinksToTheRecordingIsRefused) {
  for (const bool hard : {false, true}) {
    SCOPED_TRACE(hard ? "hard link" : "symbolic link");
    fs::remove_all(m_dir.File("cam.avi"));
    WriteRecording(m_dir.File("cam.raw"));
    if (hard) {
      fs::create_hard_link(m_dir.File("cam.raw"), m_dir.File("cam.avi"));
    } else {
      fs::create_symlink("cam.raw", m_dir.File("cam.avi"));
    }

    const testing_support::ProgramRun run = RunCli({"cam.raw"}, m_dir.Path().string());

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(SplitLines(run.err),
                testing::ElementsAre(AllOf(StartsWith(std::string("cam.avi") + kFailedSuffix),
                                           HasSubstr("is the recording itself"))));
    EXPECT_TRUE(HoldsBytes(m_dir.File("cam.raw"), m_recording));
    EXPECT_EQ(fs::is_symlink(m_dir.File("cam.avi")), !hard);
    EXPECT_TRUE(NoTemporaries(m_dir.Path()));
  }
}

TEST_F(OutputPath, KeepingExistingFilesSkipsTheRecordingNamedAsItsOutput) {
  WriteRecording(m_dir.File("cam.raw"));

  const testing_support::ProgramRun run =
      RunCli({"-n", "-o", "cam.raw", "cam.raw"}, m_dir.Path().string());

  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(SplitLines(run.out), (Lines{kBannerLine, std::string("cam.raw") + kSkippedSuffix}));
  EXPECT_TRUE(HoldsBytes(m_dir.File("cam.raw"), m_recording));
  EXPECT_EQ(testing_support::FileNames(m_dir.Path()), Lines{"cam.raw"});
}

}  // namespace
}  // namespace faults
