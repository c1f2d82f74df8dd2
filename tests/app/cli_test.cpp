// The command line end to end: the built rawtoavi run in temporary folders.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "app/batch_driver.h"
#include "convert/convert_raw_to_avi.h"
#include "reader/mp4file.h"
#include "tests/app/app_files.h"
#include "tests/app/file_size_limit.h"
#include "tests/app/run_program.h"
#include "tests/support/temp_dir.h"
#include "tools/recording/recording_builder.h"

namespace {

namespace fs = std::filesystem;
using recording::Bytes;
using recording::RecordingBuilder;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;
using testing_support::IsAvi;
using testing_support::ProgramRun;
using testing_support::ReadFileBytes;
using testing_support::SplitLines;
using testing_support::StandardError;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using testing_support::WriteRecording;

using Lines = std::vector<std::string>;

constexpr char kExtraTag[4] = {'A', 'U', 'X', 'D'};
constexpr uint32_t kExtraType = 0x00020033;

// The AVI files anywhere under `folder`.
std::vector<std::string> AviFiles(const fs::path& folder) {
  std::vector<std::string> found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.path().extension() == ".avi") found.push_back(entry.path().string());
  }
  return found;
}

class CliTest : public testing::Test {
 protected:
  // A folder of recordings and other files:
  //   a.raw, b.raw, big.raw  recordings (big.raw with a 1.5 MiB I-frame)
  //   junk.raw               no recording
  //   keep.raw, keep.avi     a recording whose output exists
  //   rec/                   a folder with rec/a.raw and rec/b.raw
  //   empty/                 a folder without recordings
  CliTest() {
    WriteRecording(m_dir.File("a.raw"));
    WriteRecording(m_dir.File("b.raw"));
    RecordingBuilder(MP4_LAYOUT_TAGGED)
        .IFrame(1, 1536 * 1024)
        .PFrame(2)
        .WriteTo(m_dir.File("big.raw"));
    WriteFileBytes(m_dir.File("junk.raw"), std::vector<uint8_t>(300, 0x5A));
    WriteRecording(m_dir.File("keep.raw"));
    WriteFileBytes(m_dir.File("keep.avi"), m_kept);
    fs::create_directory(m_dir.File("rec"));
    WriteRecording(m_dir.File("rec/a.raw"));
    WriteRecording(m_dir.File("rec/b.raw"));
    fs::create_directory(m_dir.File("empty"));
  }

  ProgramRun Run(const std::vector<std::string>& args,
                 StandardError err = StandardError::kFile) const {
    return testing_support::RunProgram(RAWTOAVI_CLI, args, m_dir.Path().string(), err);
  }

  TempDir m_dir;
  const std::vector<uint8_t> m_kept = {'k', 'e', 'e', 'p'};
};

TEST_F(CliTest, ConvertsARecordingBesideItselfPrintingTheListLines) {
  const ProgramRun run = Run({"a.raw"});

  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(SplitLines(run.out), (Lines{kBannerLine, std::string("a.avi") + kConvertingSuffix,
                                        std::string("a.avi") + kConvertedSuffix}));
  EXPECT_EQ(run.err, "") << "no progress bar when standard error is no terminal";
  EXPECT_TRUE(IsAvi(m_dir.File("a.avi")));
}

struct StatusCase {
  const char* name;
  std::vector<std::string> args;
  int status;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class CliExitStatusTest : public CliTest, public testing::WithParamInterface<StatusCase> {};

TEST_P(CliExitStatusTest, TellsHowTheRunWent) {
  const ProgramRun run = Run(GetParam().args);
  EXPECT_EQ(run.exitStatus, GetParam().status) << run.out << run.err;
  if (GetParam().status == 2) {
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("--help"));
    EXPECT_THAT(AviFiles(m_dir.Path()), ElementsAre(m_dir.File("keep.avi")));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, CliExitStatusTest,
    testing::Values(
        StatusCase{"Converted", {"a.raw"}, 0}, StatusCase{"TwoConverted", {"a.raw", "b.raw"}, 0},
        StatusCase{"Folder", {"rec"}, 0}, StatusCase{"FolderWithoutRecordings", {"empty"}, 0},
        StatusCase{"ReplacedByDefault", {"keep.raw"}, 0},
        StatusCase{"SkippedCountsAsSuccess", {"-n", "keep.raw"}, 0},
        StatusCase{"NoRecording", {"junk.raw"}, 1}, StatusCase{"Missing", {"missing.raw"}, 1},
        StatusCase{"OneOfTwoFailed", {"junk.raw", "a.raw"}, 1}, StatusCase{"NoPath", {}, 2},
        StatusCase{"UnknownOption", {"--bogus", "a.raw"}, 2},
        StatusCase{"OutputWithTwoInputs", {"-o", "x.avi", "a.raw", "b.raw"}, 2},
        StatusCase{"OutputWithAFolder", {"-o", "x.avi", "rec"}, 2},
        StatusCase{"OutputWithoutAFile", {"a.raw", "-o"}, 2},
        StatusCase{"JsonWithoutInfo", {"--json", "a.raw"}, 2},
        StatusCase{"InfoWithOutput", {"--info", "-o", "x.avi", "a.raw"}, 2}),
    [](const testing::TestParamInfo<StatusCase>& param) { return param.param.name; });

TEST_F(CliTest, OutputOptionNamesTheFile) {
  fs::create_directory(m_dir.File("out"));

  const ProgramRun run = Run({"-o", "out/clip.avi", "a.raw"});

  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(SplitLines(run.out).back(), std::string("out/clip.avi") + kConvertedSuffix);
  EXPECT_TRUE(IsAvi(m_dir.File("out/clip.avi")));
  EXPECT_FALSE(fs::exists(m_dir.File("a.avi")));
}

TEST_F(CliTest, NoOverwriteKeepsAnExistingOutputAndSaysSo) {
  const ProgramRun run = Run({"--no-overwrite", "keep.raw", "a.raw"});

  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(SplitLines(run.out), (Lines{kBannerLine, std::string("keep.avi") + kSkippedSuffix,
                                        std::string("a.avi") + kConvertingSuffix,
                                        std::string("a.avi") + kConvertedSuffix}));
  EXPECT_EQ(ReadFileBytes(m_dir.File("keep.avi")), m_kept);
}

TEST_F(CliTest, FoldersAndFilesShareOneBannerAndFolderLinesAreAbsolute) {
  const ProgramRun run = Run({"rec", "b.raw"});

  EXPECT_EQ(run.exitStatus, 0) << run.err;
  const std::string a = m_dir.File("rec/a.avi");
  const std::string b = m_dir.File("rec/b.avi");
  EXPECT_EQ(SplitLines(run.out),
            (Lines{kBannerLine, a + kConvertingSuffix, a + kConvertedSuffix, b + kConvertingSuffix,
                   b + kConvertedSuffix, std::string("b.avi") + kConvertingSuffix,
                   std::string("b.avi") + kConvertedSuffix}));
  for (const std::string& avi : {a, b, m_dir.File("b.avi")}) EXPECT_TRUE(IsAvi(avi)) << avi;
}

TEST_F(CliTest, FailuresGoToStandardErrorAndQuietKeepsOnlyThem) {
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "quiet" : "not quiet");
    std::vector<std::string> args{"junk.raw", "a.raw"};
    if (quiet) args.insert(args.begin(), "-q");

    const ProgramRun run = Run(args);

    EXPECT_EQ(run.exitStatus, 1);
    const Lines progress{kBannerLine, std::string("junk.avi") + kConvertingSuffix,
                         std::string("a.avi") + kConvertingSuffix,
                         std::string("a.avi") + kConvertedSuffix};
    EXPECT_EQ(SplitLines(run.out), quiet ? Lines{} : progress);
    EXPECT_THAT(SplitLines(run.err),
                ElementsAre(StartsWith(std::string("junk.avi") + kFailedSuffix)));
    EXPECT_TRUE(IsAvi(m_dir.File("a.avi")));
  }
}

TEST_F(CliTest, WriteErrorIsReportedWithItsCause) {
  ProgramRun run;
  {
    const testing_support::FileSizeLimit limit(256 * 1024);
    run = Run({"big.raw"});
  }

  EXPECT_EQ(run.exitStatus, 1);
  const Lines err = SplitLines(run.err);
  ASSERT_EQ(err.size(), 2u) << run.err;
  EXPECT_THAT(err[0], StartsWith(std::string("rawtoavi: ") + kStreamWriteErrorMessage));
  EXPECT_THAT(err[0], HasSubstr("File too large"));
  EXPECT_THAT(err[1], StartsWith(std::string("big.avi") + kFailedSuffix));
  EXPECT_FALSE(fs::exists(m_dir.File("big.avi")));
}

TEST_F(CliTest, DrawsAProgressBarOnATerminalAndClearsIt) {
  WriteRecording(m_dir.File("long.raw"), 400);

  const ProgramRun run = Run({"long.raw"}, StandardError::kTerminal);

  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(SplitLines(run.out).back(), std::string("long.avi") + kConvertedSuffix);
  // Every drawing starts at the line's beginning; the last one blanks the bar.
  ASSERT_THAT(run.err, StartsWith("\r["));
  ASSERT_TRUE(run.err.ends_with("\r")) << run.err;
  EXPECT_EQ(run.err.find('\n'), std::string::npos);
  const size_t lastStart = run.err.rfind('\r', run.err.size() - 2);
  const std::string blank = run.err.substr(lastStart + 1, run.err.size() - lastStart - 2);
  EXPECT_EQ(blank.find_first_not_of(' '), std::string::npos) << blank;
  EXPECT_FALSE(blank.empty());
  EXPECT_THAT(run.err, HasSubstr("%"));
  EXPECT_GT(std::count(run.err.begin(), run.err.end(), '\r'), 3);
}

TEST_F(CliTest, VersionAndHelp) {
  const ProgramRun version = Run({"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out, "rawtoavi 1.0.0.1\nConvert the MPEG4 RAW data file to AVI file.\n");

  const ProgramRun help = Run({"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_THAT(help.out, HasSubstr("Usage: rawtoavi"));
  for (const char* option : {"--output", "--no-overwrite", "--info", "--json", "--quiet"}) {
    EXPECT_THAT(help.out, HasSubstr(option));
  }
}

TEST_F(CliTest, InfoAsJsonDescribesEachRecordingAndConvertsNothing) {
  RecordingBuilder tagged(MP4_LAYOUT_TAGGED);
  tagged.VideoSize(3)
      .FrameRate(15)
      .Picture(352, 240)
      .IFrame(100)
      .PFrame(140)
      .TagRecord(kExtraTag, kExtraType, Bytes(32, 1))
      .IFrame(200)
      .PFrame(240)
      .WriteTo(m_dir.File("tagged.raw"));
  RecordingBuilder(MP4_LAYOUT_USERDATA)
      .IFrame(10)
      .UdAux(Bytes(8, 2))
      .PFrame(20)
      .UdAux(Bytes(5, 3))
      .WriteTo(m_dir.File("ud.raw"));
  // A record claiming more bytes than the file holds ends the walk early.
  RecordingBuilder damaged(MP4_LAYOUT_TAGGED);
  damaged.IFrame(1).TagRecordClaiming(kExtraTag, kExtraType, 1u << 20, Bytes(4, 4));
  const size_t beforeTail = damaged.Build().size();
  damaged.PFrame(2).WriteTo(m_dir.File("damaged.raw"));
  const uint64_t tail = damaged.Build().size() - beforeTail;

  const ProgramRun run =
      Run({"--info", "--json", "tagged.raw", "ud.raw", "damaged.raw", "junk.raw"});

  EXPECT_EQ(run.exitStatus, 1) << "junk.raw is no recording";
  EXPECT_THAT(run.err, HasSubstr("junk.raw"));
  const nlohmann::json doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc.at("schema_version"), 1);
  const nlohmann::json& recordings = doc.at("recordings");
  ASSERT_EQ(recordings.size(), 4u);

  const nlohmann::json expectedTagged = {
      {"path", "tagged.raw"},
      {"file_size", fs::file_size(m_dir.File("tagged.raw"))},
      {"header", {{"layout", 17}, {"layout_name", "tagged"}, {"picture_size_code", 3}}},
      {"info",
       {{"frame_rate", 15},
        {"width", 352},
        {"height", 240},
        {"first_iframe_time", 100},
        {"last_iframe_time", 200}}},
      {"walk",
       {{"video_frames", 4},
        {"iframes", 2},
        {"aux_records", 0},
        {"other_bytes", 12 + 32},
        {"unread_bytes", 0}}}};
  EXPECT_EQ(recordings[0], expectedTagged) << recordings[0].dump(2);

  const nlohmann::json& ud = recordings[1];
  EXPECT_EQ(ud.at("header").at("layout_name"), "user data");
  EXPECT_EQ(ud.at("info").at("first_iframe_time"), 10);
  EXPECT_EQ(ud.at("walk"), (nlohmann::json{{"video_frames", 2},
                                           {"iframes", 1},
                                           {"aux_records", 2},
                                           {"other_bytes", 0},
                                           {"unread_bytes", 0}}));

  const nlohmann::json& walk = recordings[2].at("walk");
  EXPECT_EQ(walk.at("video_frames"), 1);
  EXPECT_EQ(walk.at("other_bytes"), 12) << "the header of the damaged record";
  EXPECT_EQ(walk.at("unread_bytes"), 4 + tail);

  EXPECT_EQ(recordings[3].at("path"), "junk.raw");
  EXPECT_THAT(recordings[3].at("error").get<std::string>(), HasSubstr("junk.raw"));
  EXPECT_THAT(AviFiles(m_dir.Path()), ElementsAre(m_dir.File("keep.avi")));
}

TEST_F(CliTest, InfoAsTextDescribesAFolder) {
  const ProgramRun run = Run({"--info", "rec"});

  EXPECT_EQ(run.exitStatus, 0) << run.err;
  for (const std::string& expected :
       {m_dir.File("rec/a.raw") + "\n", m_dir.File("rec/b.raw") + "\n",
        std::string("  layout:             17 (tagged)\n"),
        std::string("  picture:            176 x 144\n"), std::string("  video frames:       8\n"),
        std::string("  I-frames:           2\n")}) {
    EXPECT_THAT(run.out, HasSubstr(expected));
  }
  EXPECT_THAT(AviFiles(m_dir.Path()), ElementsAre(m_dir.File("keep.avi")));
}

}  // namespace
