// The batch driver against real recordings in temporary folders, seen through a user interface
// that records every call.
#include "app/batch_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "convert/convert_raw_to_avi.h"
#include "reader/mp4file.h"
#include "tests/app/app_files.h"
#include "tests/app/file_size_limit.h"
#include "tests/app/recording_ui.h"
#include "tests/support/temp_dir.h"
#include "tools/recording/recording_builder.h"

namespace {

namespace fs = std::filesystem;
using recording::RecordingBuilder;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::Matcher;
using testing::StartsWith;
using testing_support::Delete;
using testing_support::Enable;
using testing_support::Insert;
using testing_support::IsAvi;
using testing_support::ReadFileBytes;
using testing_support::RecordingUi;
using testing_support::Reset;
using testing_support::TempDir;
using testing_support::UiCall;
using testing_support::WriteFileBytes;
using testing_support::WriteRecording;

using Lines = std::vector<std::string>;

constexpr auto Names = testing_support::FileNames;

// Works in `folder` while it lives.
class CurrentFolder {
 public:
  explicit CurrentFolder(const fs::path& folder) : m_previous(fs::current_path()) {
    fs::current_path(folder);
  }
  ~CurrentFolder() { fs::current_path(m_previous); }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  fs::path m_previous;
};

std::string Converting(const std::string& avi) { return avi + kConvertingSuffix; }
std::string Converted(const std::string& avi) { return avi + kConvertedSuffix; }
std::string Skipped(const std::string& avi) { return avi + kSkippedSuffix; }
std::string Failed(const std::string& avi) { return avi + kFailedSuffix; }

// The calls that convert one file successfully.
std::vector<UiCall> ConversionCalls(const std::string& avi) {
  return {Insert(1, Converting(avi)), Delete(1), Insert(1, Converted(avi))};
}

ConversionRequest Request(bool bSingleFile, const std::string& path) {
  ConversionRequest request;
  request.bSingleFile = bSingleFile;
  request.path = path;
  return request;
}

BatchSummary Summary(int converted, int failed) {
  BatchSummary summary;
  summary.converted = converted;
  summary.failed = failed;
  return summary;
}

class BatchDriverTest : public testing::Test {
 protected:
  ConversionRequest FolderRequest() const { return Request(false, m_dir.Path().string()); }
  ConversionRequest FileRequest(const std::string& name) const {
    return Request(true, m_dir.File(name));
  }
  void WriteRecordings(std::initializer_list<const char*> names) {
    for (const char* name : names) WriteRecording(m_dir.File(name));
  }

  TempDir m_dir;
  RecordingUi m_ui;
  BatchControl m_control;
};

TEST_F(BatchDriverTest, SingleFileShowsTheConvertingLineThenTheResultAndEnablesButtonsLast) {
  WriteRecording(m_dir.File("cam1.raw"));
  const std::string avi = m_dir.File("cam1.avi");
  bool sawConvertingLine = false;
  m_ui.onInsert = [&](const std::string& line) {
    if (line != Converting(avi)) return;
    sawConvertingLine = true;
    EXPECT_EQ(m_ui.Lines(), (Lines{kBannerLine, Converting(avi)}));
    EXPECT_FALSE(fs::exists(avi)) << "the output appears only when complete";
  };

  const BatchSummary summary = ConvertThreadProc(FileRequest("cam1.raw"), m_ui, m_control);

  EXPECT_TRUE(sawConvertingLine);
  EXPECT_THAT(m_ui.ListCalls(),
              ElementsAre(Reset(), Insert(0, kBannerLine), Insert(1, Converting(avi)), Delete(1),
                          Insert(1, Converted(avi)), Enable()));
  EXPECT_EQ(m_ui.Lines(), (Lines{kBannerLine, Converted(avi)}));
  EXPECT_EQ(summary.converted, 1);
  EXPECT_EQ(summary.failed + summary.skipped, 0);
  EXPECT_TRUE(IsAvi(avi));
}

TEST_F(BatchDriverTest, ReportsProgressOnlyWhileTheFileConverts) {
  const std::string raw = m_dir.File("cam1.raw");
  WriteRecording(raw, 40);
  ConvertRawFiles(FileRequest("cam1.raw"), m_ui, m_control);

  const std::vector<UiCall>& calls = m_ui.Calls();
  const auto converting =
      std::find(calls.begin(), calls.end(), Insert(1, Converting(m_dir.File("cam1.avi"))));
  const auto deleted = std::find(calls.begin(), calls.end(), Delete(1));
  ASSERT_LT(converting, deleted);
  uint64_t last = 0;
  int reports = 0;
  for (auto call = calls.begin(); call != calls.end(); ++call) {
    if (call->kind != UiCall::Kind::kProgress) continue;
    EXPECT_TRUE(call > converting && call < deleted) << "progress outside the conversion";
    EXPECT_EQ(call->total, fs::file_size(raw));
    EXPECT_GE(call->consumed, last);
    EXPECT_LE(call->consumed, call->total);
    last = call->consumed;
    ++reports;
  }
  EXPECT_GT(reports, 10);
  EXPECT_GT(last, fs::file_size(raw) * 9 / 10);
}

TEST_F(BatchDriverTest, SingleFileWritesAnExplicitOutputPath) {
  WriteRecording(m_dir.File("cam1.raw"));
  fs::create_directory(m_dir.File("out"));
  const std::string avi = m_dir.File("out/clip.avi");
  ConversionRequest request = FileRequest("cam1.raw");
  request.outputPath = avi;

  EXPECT_EQ(ConvertRawFiles(request, m_ui, m_control).converted, 1);

  EXPECT_EQ(m_ui.Lines(), (Lines{kBannerLine, Converted(avi)}));
  EXPECT_TRUE(IsAvi(avi));
  EXPECT_FALSE(fs::exists(m_dir.File("cam1.avi")));
}

TEST_F(BatchDriverTest, SingleFileThatIsNoRecordingGetsItsFailureLine) {
  const std::map<std::string, std::vector<uint8_t>> inputs = {
      {"junk.raw", std::vector<uint8_t>(200, 0x5A)},  // long enough, but no trailer
      {"short.raw", {1, 2, 3}},
      {"empty.raw", {}},
  };
  for (const auto& [name, bytes] : inputs) WriteFileBytes(m_dir.File(name), bytes);
  for (const char* name : {"junk.raw", "short.raw", "empty.raw", "missing.raw"}) {
    SCOPED_TRACE(name);
    RecordingUi ui;
    const std::string avi = AviPathFor(m_dir.File(name));

    const BatchSummary summary = ConvertThreadProc(FileRequest(name), ui, m_control);

    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(summary.converted, 0);
    ASSERT_EQ(ui.Lines().size(), 2u);
    EXPECT_THAT(ui.Lines()[1], StartsWith(Failed(avi)));
    EXPECT_GT(ui.Lines()[1].size(), Failed(avi).size()) << "the reason is missing";
    EXPECT_EQ(ui.ListCalls().back(), Enable());
    EXPECT_FALSE(fs::exists(avi));
  }
}

TEST_F(BatchDriverTest, FolderConvertsInByteOrderAndListsTheLastFirst) {
  WriteRecordings({"c.raw", "a.raw", "b.raw"});
  const std::string a = m_dir.File("a.avi");
  const std::string b = m_dir.File("b.avi");
  const std::string c = m_dir.File("c.avi");

  const BatchSummary summary = ConvertThreadProc(FolderRequest(), m_ui, m_control);

  std::vector<UiCall> expected{Reset(), Insert(0, kBannerLine)};
  for (const std::string& avi : {a, b, c}) {
    for (const UiCall& call : ConversionCalls(avi)) expected.push_back(call);
  }
  expected.push_back(Enable());
  EXPECT_THAT(m_ui.ListCalls(), ElementsAreArray(expected));
  EXPECT_EQ(m_ui.Lines(), (Lines{kBannerLine, Converted(c), Converted(b), Converted(a)}));
  EXPECT_EQ(summary.converted, 3);
  for (const std::string& avi : {a, b, c}) EXPECT_TRUE(IsAvi(avi)) << avi;
}

TEST_F(BatchDriverTest, FolderLinesNameTheFolderAbsolutely) {
  fs::create_directory(m_dir.File("rec"));
  WriteRecording(m_dir.File("rec/a.raw"));
  {
    const CurrentFolder inDir(m_dir.Path());
    ConvertRawFiles(Request(false, "./rec/."), m_ui, m_control);
  }
  EXPECT_EQ(m_ui.Lines(), (Lines{kBannerLine, Converted(m_dir.File("rec/a.avi"))}));
}

// Folders whose contents are no ordinary recordings: what the list shows, and that every file
// there is only read.
struct FolderCase {
  const char* name;
  std::function<void(const TempDir&)> fill;
  // The lines below the banner, given the folder.
  std::function<std::vector<Matcher<std::string>>(const TempDir&)> lines;
  BatchSummary summary;
};

void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

class FolderContentsTest : public testing::TestWithParam<FolderCase> {};

TEST_P(FolderContentsTest, ListsWhatItConverts) {
  const TempDir dir;
  GetParam().fill(dir);
  std::map<std::string, std::vector<uint8_t>> before;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir.Path())) {
    if (entry.is_regular_file()) before[entry.path().string()] = ReadFileBytes(entry.path());
  }
  RecordingUi ui;
  BatchControl control;

  const BatchSummary summary = ConvertRawFiles(Request(false, dir.Path().string()), ui, control);

  std::vector<Matcher<std::string>> lines{kBannerLine};
  for (const Matcher<std::string>& line : GetParam().lines(dir)) lines.push_back(line);
  EXPECT_THAT(ui.Lines(), ElementsAreArray(lines));
  EXPECT_EQ(summary.converted, GetParam().summary.converted);
  EXPECT_EQ(summary.failed, GetParam().summary.failed);
  EXPECT_EQ(summary.skipped, 0);
  for (const auto& [path, bytes] : before) EXPECT_EQ(ReadFileBytes(path), bytes) << path;
}

INSTANTIATE_TEST_SUITE_P(
    Folders, FolderContentsTest,
    testing::Values(
        FolderCase{"Empty", [](const TempDir&) {},
                   [](const TempDir&) { return std::vector<Matcher<std::string>>{}; },
                   Summary(0, 0)},
        FolderCase{"OnlyAFolderNamedRaw",
                   [](const TempDir& d) {
                     fs::create_directory(d.File("x.raw"));
                     WriteRecording(d.File("x.raw/inner.raw"));
                   },
                   [](const TempDir&) { return std::vector<Matcher<std::string>>{}; },
                   Summary(0, 0)},
        FolderCase{"NoRawNames",
                   [](const TempDir& d) {
                     for (const char* name : {"raw", "a.raw.bak", "clip.avi", "rawdata"}) {
                       WriteRecording(d.File(name));
                     }
                   },
                   [](const TempDir&) { return std::vector<Matcher<std::string>>{}; },
                   Summary(0, 0)},
        FolderCase{"UpperCaseName", [](const TempDir& d) { WriteRecording(d.File("CAM1.RAW")); },
                   [](const TempDir& d) {
                     return std::vector<Matcher<std::string>>{Converted(d.File("CAM1.RAW.avi"))};
                   },
                   Summary(1, 0)},
        FolderCase{"LinkToARecording",
                   [](const TempDir& d) {
                     WriteRecording(d.File("target.bin"));
                     fs::create_symlink("target.bin", d.File("link.raw"));
                   },
                   [](const TempDir& d) {
                     return std::vector<Matcher<std::string>>{Converted(d.File("link.avi"))};
                   },
                   Summary(1, 0)},
        FolderCase{"NotARecordingAmongRecordings",
                   [](const TempDir& d) {
                     WriteRecording(d.File("a.raw"));
                     WriteFileBytes(d.File("b.raw"), std::vector<uint8_t>(300, 7));
                     WriteRecording(d.File("c.raw"));
                   },
                   [](const TempDir& d) {
                     return std::vector<Matcher<std::string>>{Converted(d.File("c.avi")),
                                                              StartsWith(Failed(d.File("b.avi"))),
                                                              Converted(d.File("a.avi"))};
                   },
                   Summary(2, 1)}),
    [](const testing::TestParamInfo<FolderCase>& param) { return param.param.name; });

TEST_F(BatchDriverTest, FolderThatCannotBeListedGetsOneFailureLine) {
  WriteRecording(m_dir.File("cam1.raw"));
  ConversionRequest request = FileRequest("cam1.raw");
  request.bSingleFile = false;

  const BatchSummary summary = ConvertThreadProc(request, m_ui, m_control);

  EXPECT_THAT(m_ui.Lines(), ElementsAre(kBannerLine, StartsWith(m_dir.File("cam1.raw") +
                                                                kFolderUnreadableSuffix)));
  EXPECT_EQ(summary.failed, 1);
  EXPECT_EQ(m_ui.ListCalls().back(), Enable());
}

TEST_F(BatchDriverTest, StopLetsTheFileInHandFinishAndStartsNoOther) {
  WriteRecordings({"a.raw", "b.raw", "c.raw", "d.raw", "e.raw"});
  const std::string b = m_dir.File("b.avi");
  m_ui.onInsert = [&](const std::string& line) {
    if (line == Converting(b)) m_control.stop = true;
  };

  const BatchSummary summary = ConvertThreadProc(FolderRequest(), m_ui, m_control);

  std::vector<UiCall> expected{Reset(), Insert(0, kBannerLine)};
  for (const std::string& avi : {m_dir.File("a.avi"), b}) {
    for (const UiCall& call : ConversionCalls(avi)) expected.push_back(call);
  }
  expected.push_back(Enable());
  EXPECT_THAT(m_ui.ListCalls(), ElementsAreArray(expected));
  EXPECT_EQ(summary.converted, 2);
  EXPECT_TRUE(IsAvi(b));
  for (const char* name : {"c.avi", "d.avi", "e.avi"}) EXPECT_FALSE(fs::exists(m_dir.File(name)));
}

TEST_F(BatchDriverTest, AbandonCutsTheFileInHandShortAndTouchesTheInterfaceNoMore) {
  WriteRecordings({"a.raw", "b.raw", "c.raw", "d.raw", "e.raw"});
  const std::string b = m_dir.File("b.avi");
  m_ui.onInsert = [&](const std::string& line) {
    if (line == Converting(b)) m_control.abandon = true;
  };

  const BatchSummary summary = ConvertThreadProc(FolderRequest(), m_ui, m_control);

  EXPECT_EQ(m_ui.Calls().back(), Insert(1, Converting(b)));
  EXPECT_EQ(summary.converted, 1);
  EXPECT_EQ(summary.failed + summary.skipped, 0);
  // a was converted; b left neither an output nor a temporary file.
  EXPECT_EQ(Names(m_dir.Path()),
            (std::vector<std::string>{"a.avi", "a.raw", "b.raw", "c.raw", "d.raw", "e.raw"}));
}

TEST_F(BatchDriverTest, AbandonedBeforeItStartsARequestDoesNothing) {
  WriteRecording(m_dir.File("cam1.raw"));
  m_control.abandon = true;

  ConvertThreadProc(FileRequest("cam1.raw"), m_ui, m_control);
  ConvertThreadProc(FolderRequest(), m_ui, m_control);

  EXPECT_TRUE(m_ui.Calls().empty());
  EXPECT_FALSE(fs::exists(m_dir.File("cam1.avi")));
}

TEST_F(BatchDriverTest, SecondRequestEmptiesTheListFirst) {
  WriteRecordings({"a.raw", "b.raw", "c.raw"});
  ConvertThreadProc(FolderRequest(), m_ui, m_control);
  const size_t firstCalls = m_ui.ListCalls().size();

  ConvertThreadProc(FileRequest("a.raw"), m_ui, m_control);

  const std::vector<UiCall> calls = m_ui.ListCalls();
  const std::string a = m_dir.File("a.avi");
  EXPECT_THAT(std::vector<UiCall>(calls.begin() + static_cast<ptrdiff_t>(firstCalls), calls.end()),
              ElementsAre(Reset(), Insert(0, kBannerLine), Insert(1, Converting(a)), Delete(1),
                          Insert(1, Converted(a)), Enable()));
  EXPECT_EQ(m_ui.Lines(), (Lines{kBannerLine, Converted(a)}));
}

TEST_F(BatchDriverTest, KeepingExistingOutputsSkipsThem) {
  WriteRecordings({"a.raw", "b.raw"});
  const std::vector<uint8_t> kept = {'k', 'e', 'e', 'p'};
  WriteFileBytes(m_dir.File("a.avi"), kept);
  fs::create_symlink("nowhere.avi", m_dir.File("b.avi"));  // a dangling link is kept too
  WriteRecording(m_dir.File("c.raw"));
  ConversionRequest request = FolderRequest();
  request.replaceExisting = false;

  const BatchSummary summary = ConvertThreadProc(request, m_ui, m_control);

  const std::string a = m_dir.File("a.avi");
  const std::string b = m_dir.File("b.avi");
  const std::string c = m_dir.File("c.avi");
  std::vector<UiCall> expected{Reset(), Insert(0, kBannerLine), Insert(1, Skipped(a)),
                               Insert(1, Skipped(b))};
  for (const UiCall& call : ConversionCalls(c)) expected.push_back(call);
  expected.push_back(Enable());
  EXPECT_THAT(m_ui.ListCalls(), ElementsAreArray(expected));
  EXPECT_EQ(m_ui.Lines(), (Lines{kBannerLine, Converted(c), Skipped(b), Skipped(a)}));
  EXPECT_EQ(summary.converted, 1);
  EXPECT_EQ(summary.skipped, 2);
  EXPECT_EQ(summary.failed, 0);
  EXPECT_EQ(ReadFileBytes(a), kept);
  EXPECT_TRUE(fs::is_symlink(b));
  EXPECT_FALSE(fs::exists(m_dir.File("nowhere.avi")));
  EXPECT_TRUE(IsAvi(c));
}

TEST_F(BatchDriverTest, ReplacingIsTheDefault) {
  WriteRecording(m_dir.File("a.raw"));
  WriteFileBytes(m_dir.File("a.avi"), {'o', 'l', 'd'});

  const BatchSummary summary = ConvertRawFiles(FileRequest("a.raw"), m_ui, m_control);

  EXPECT_EQ(summary.converted, 1);
  EXPECT_EQ(m_ui.Lines(), (Lines{kBannerLine, Converted(m_dir.File("a.avi"))}));
  EXPECT_TRUE(IsAvi(m_dir.File("a.avi")));
}

TEST_F(BatchDriverTest, WriteErrorIsShownOnceThenTheFileFails) {
  // One frame larger than the writer's buffer goes straight to the file and meets the limit.
  RecordingBuilder(MP4_LAYOUT_TAGGED)
      .IFrame(1, 1536 * 1024)
      .PFrame(2)
      .PFrame(3)
      .WriteTo(m_dir.File("big.raw"));
  const std::string avi = m_dir.File("big.avi");
  BatchSummary summary;
  {
    const testing_support::FileSizeLimit limit(256 * 1024);
    summary = ConvertThreadProc(FileRequest("big.raw"), m_ui, m_control);
  }

  std::vector<UiCall> messages;
  for (const UiCall& call : m_ui.Calls()) {
    if (call.kind == UiCall::Kind::kMessage) messages.push_back(call);
  }
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, kStreamWriteErrorMessage);
  EXPECT_THAT(messages[0].cause, testing::HasSubstr("File too large"));
  const std::vector<UiCall> calls = m_ui.ListCalls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls[calls.size() - 4], messages[0]) << "the message comes before the result";
  EXPECT_THAT(m_ui.Lines(), ElementsAre(kBannerLine, StartsWith(Failed(avi))));
  EXPECT_EQ(summary.failed, 1);
  EXPECT_EQ(Names(m_dir.Path()), (std::vector<std::string>{"big.raw"}));
}

}  // namespace
