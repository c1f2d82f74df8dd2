// The disk fills up, or the file-size limit is reached, while the AVI file is written: the
// conversion fails with the cause, the recording and an existing output stay as they were,
// and the temporary file is gone, whether the limit strikes at the first byte, in the middle
// or at the very last byte.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/statvfs.h>

#include <csignal>
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
using testing::HasSubstr;
using testing::StartsWith;
using testing_support::SplitLines;
using testing_support::TempDir;

using Lines = std::vector<std::string>;

// Files may not grow beyond `bytes` and writing past that fails with EFBIG instead of
// killing the process. For a forked child only: the test process keeps its limits.
std::string LimitFileSize(rlim_t bytes) {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{bytes, bytes};
  return setrlimit(RLIMIT_FSIZE, &limit) == 0 ? std::string() : std::string("setrlimit failed");
}

// The recordings the disk fills up with: many samples smaller than the writer's buffer, or
// one sample larger than it, which is written straight to the file.
struct Shape {
  const char* name;
  std::vector<size_t> frameSizes;  // an I-frame every tenth
};

const Shape kShapes[] = {
    {"SmallSamples", std::vector<size_t>(40, 40 * 1024)},
    {"OneSampleLargerThanTheBuffer", {1536 * 1024, 5000, 5000}},
};

// Where the limit strikes.
enum class At { kFirstByte, kHalfWay, kLastByte, kNowhere };

struct LimitCase {
  const char* name;
  At at;
};

const LimitCase kLimits[] = {
    {"FirstByte", At::kFirstByte},
    {"HalfWay", At::kHalfWay},
    {"LastByte", At::kLastByte},
    {"JustEnough", At::kNowhere},
};

class DiskFull : public testing::Test {
 protected:
  // Writes the recording of `shape` as cam.raw and learns how large its AVI file is.
  void Prepare(const Shape& shape) {
    RecordingBuilder b(MP4_LAYOUT_TAGGED);
    for (size_t i = 0; i < shape.frameSizes.size(); ++i) {
      const auto time = static_cast<uint32_t>(i + 1);
      if (i % 10 == 0) {
        b.IFrame(time, shape.frameSizes[i]);
      } else {
        b.PFrame(time, shape.frameSizes[i]);
      }
    }
    m_recording = b.Build();
    testing_support::WriteFileBytes(m_raw, m_recording);
    m_expected = ExpectedSamples(b.Deliveries(), VolFor());
    const std::string probe = m_dir.File("probe.avi");
    ASSERT_EQ(ConvertRawToAvi(probe.c_str(), m_raw.c_str()), 0);
    m_aviSize = fs::file_size(probe);
    fs::remove(probe);
  }

  rlim_t LimitFor(At at) const {
    switch (at) {
      case At::kFirstByte:
        return 0;
      case At::kHalfWay:
        return m_aviSize / 2;
      case At::kLastByte:
        return m_aviSize - 1;
      case At::kNowhere:
        break;
    }
    return m_aviSize;
  }

  void ExpectRecordingAndFolderIntact() {
    EXPECT_TRUE(HoldsBytes(m_raw, m_recording));
    EXPECT_TRUE(NoTemporaries(m_dir.Path()));
  }

  TempDir m_dir;
  const std::string m_raw = m_dir.File("cam.raw");
  const std::string m_avi = m_dir.File("cam.avi");
  const Bytes m_previous = {'o', 'l', 'd', ' ', 'c', 'l', 'i', 'p'};
  Bytes m_recording;
  Samples m_expected;
  uint64_t m_aviSize = 0;
};

TEST_F(DiskFull, FileSizeLimitAnywhereFailsTheConversionAndKeepsTheOldOutput) {
  for (const Shape& shape : kShapes) {
    ASSERT_NO_FATAL_FAILURE(Prepare(shape));
    for (const LimitCase& limit : kLimits) {
      SCOPED_TRACE(std::string(shape.name) + ", limit at " + limit.name);
      testing_support::WriteFileBytes(m_avi, m_previous);
      const rlim_t bytes = LimitFor(limit.at);

      const nlohmann::json got = InChild([&] {
        const std::string why = LimitFileSize(bytes);
        if (!why.empty()) throw std::runtime_error(why);
        std::vector<std::string> causes;
        ConvertOptions options;
        options.onWriteError = [&](const std::string& message, const std::string& cause) {
          causes.push_back(message + " / " + cause);
        };
        std::string reason;
        const int result = ConvertRawToAvi(m_avi.c_str(), m_raw.c_str(), options, &reason);
        return nlohmann::json{{"result", result}, {"why", reason}, {"causes", causes}};
      });

      ExpectRecordingAndFolderIntact();
      const auto causes = got["causes"].get<std::vector<std::string>>();
      if (limit.at == At::kNowhere) {
        EXPECT_EQ(got["result"], 0) << got.dump();
        EXPECT_TRUE(CompleteAvi(m_avi, m_expected));
        EXPECT_TRUE(causes.empty());
        continue;
      }
      EXPECT_EQ(got["result"], -1);
      EXPECT_THAT(got["why"].get<std::string>(), HasSubstr("File too large"));
      EXPECT_TRUE(HoldsBytes(m_avi, m_previous));
      // A sample that cannot be written is reported once; the last bytes are written when
      // the file is completed, which is no sample write: that failure only fails the file.
      if (limit.at == At::kLastByte) {
        EXPECT_THAT(causes, testing::IsEmpty());
      } else {
        EXPECT_THAT(causes, testing::ElementsAre(StartsWith(std::string(kStreamWriteErrorMessage) +
                                                            " / " + m_dir.File(".cam.avi."))));
        EXPECT_THAT(causes, testing::Each(HasSubstr("File too large")));
      }
    }
  }
}

TEST_F(DiskFull, FileSizeLimitFailsTheCommandLineWithTheCauseOnStandardError) {
  ASSERT_NO_FATAL_FAILURE(Prepare(kShapes[0]));
  for (const bool previous : {false, true}) {
    SCOPED_TRACE(previous ? "with an earlier output" : "without an earlier output");
    if (previous) testing_support::WriteFileBytes(m_avi, m_previous);

    const testing_support::ProgramRun run = RunCli(
        {"cam.raw"}, m_dir.Path().string(), [&] { return LimitFileSize(LimitFor(At::kHalfWay)); });

    EXPECT_EQ(run.exitStatus, 1) << run.err;
    EXPECT_EQ(SplitLines(run.out),
              (Lines{kBannerLine, std::string("cam.avi") + kConvertingSuffix}));
    const Lines err = SplitLines(run.err);
    ASSERT_EQ(err.size(), 2u) << run.err;
    EXPECT_THAT(err[0], StartsWith(std::string("rawtoavi: ") + kStreamWriteErrorMessage));
    EXPECT_THAT(err[0], HasSubstr("File too large"));
    EXPECT_THAT(err[1], StartsWith(std::string("cam.avi") + kFailedSuffix));
    EXPECT_THAT(err[1], HasSubstr("File too large"));
    ExpectRecordingAndFolderIntact();
    if (previous) {
      EXPECT_TRUE(HoldsBytes(m_avi, m_previous));
    } else {
      EXPECT_FALSE(fs::exists(m_avi));
    }
  }
}

// A tmpfs of 512 KiB, mounted in a child's private mount namespace: everything that looks at
// it has to happen in that child, which reports its findings.
class FullTmpfs : public DiskFull {
 protected:
  static constexpr uint64_t kTmpfsSize = 512 * 1024;

  // Runs `body` in a child where m_small is a small tmpfs; skips the test where no such
  // mount can be made (no privileges for a mount namespace).
  nlohmann::json WithFullDisk(const std::function<nlohmann::json()>& body) {
    fs::create_directory(m_small);
    const nlohmann::json got = InChild([&] {
      const std::string why = MountSmallTmpfs(m_small, kTmpfsSize);
      if (!why.empty()) return nlohmann::json{{"skip", why}};
      return body();
    });
    return got;
  }

  static uint64_t FreeBlocks(const std::string& folder) {
    struct statvfs st {};
    if (statvfs(folder.c_str(), &st) != 0) throw std::runtime_error("statvfs failed");
    return st.f_bfree;
  }

  const std::string m_small = m_dir.File("small");
  const std::string m_smallAvi = m_small + "/cam.avi";
};

TEST_F(FullTmpfs, ConversionFailsWithNoSpaceAndGivesTheSpaceBack) {
  ASSERT_NO_FATAL_FAILURE(Prepare(kShapes[0]));
  ASSERT_GT(m_aviSize, kTmpfsSize);

  const nlohmann::json got = WithFullDisk([&] {
    testing_support::WriteFileBytes(m_smallAvi, m_previous);
    const uint64_t freeBefore = FreeBlocks(m_small);
    int writeErrors = 0;
    ConvertOptions options;
    options.onWriteError = [&](const std::string&, const std::string&) { ++writeErrors; };
    std::string why;
    const int result = ConvertRawToAvi(m_smallAvi.c_str(), m_raw.c_str(), options, &why);
    // A temporary file removed while still open would hold its blocks until the process ends.
    const bool spaceBack = FreeBlocks(m_small) == freeBefore;
    return nlohmann::json{
        {"result", result},
        {"why", why},
        {"writeErrors", writeErrors},
        {"checks",
         {CheckReport("earlier output kept", HoldsBytes(m_smallAvi, m_previous)),
          CheckReport("no temporary file", NoTemporaries(m_small)),
          CheckReport("space given back",
                      spaceBack ? testing::AssertionSuccess() : testing::AssertionFailure())}}};
  });
  if (got.contains("skip")) GTEST_SKIP() << "no small tmpfs: " << got["skip"].get<std::string>();

  EXPECT_EQ(got["result"], -1);
  EXPECT_THAT(got["why"].get<std::string>(), HasSubstr("No space left on device"));
  EXPECT_EQ(got["writeErrors"], 1);
  ExpectChecksPassed(got);
  ExpectRecordingAndFolderIntact();
}

TEST_F(FullTmpfs, CommandLineFailsWithNoSpaceOnStandardError) {
  ASSERT_NO_FATAL_FAILURE(Prepare(kShapes[0]));

  const nlohmann::json got = WithFullDisk([&] {
    testing_support::WriteFileBytes(m_smallAvi, m_previous);
    const testing_support::ProgramRun run = testing_support::RunProgram(
        RAWTOAVI_CLI, {"-o", "small/cam.avi", "cam.raw"}, m_dir.Path().string());
    return nlohmann::json{{"status", run.exitStatus},
                          {"out", run.out},
                          {"err", run.err},
                          {"checks",
                           {CheckReport("earlier output kept", HoldsBytes(m_smallAvi, m_previous)),
                            CheckReport("no temporary file", NoTemporaries(m_small))}}};
  });
  if (got.contains("skip")) GTEST_SKIP() << "no small tmpfs: " << got["skip"].get<std::string>();

  EXPECT_EQ(got["status"], 1);
  EXPECT_EQ(SplitLines(got["out"].get<std::string>()),
            (Lines{kBannerLine, std::string("small/cam.avi") + kConvertingSuffix}));
  const Lines err = SplitLines(got["err"].get<std::string>());
  ASSERT_EQ(err.size(), 2u) << got["err"].get<std::string>();
  EXPECT_THAT(err[0], StartsWith(std::string("rawtoavi: ") + kStreamWriteErrorMessage));
  EXPECT_THAT(err[0], HasSubstr("No space left on device"));
  EXPECT_THAT(err[1], StartsWith(std::string("small/cam.avi") + kFailedSuffix));
  EXPECT_THAT(err[1], HasSubstr("No space left on device"));
  ExpectChecksPassed(got);
  ExpectRecordingAndFolderIntact();
}

}  // namespace
}  // namespace faults
