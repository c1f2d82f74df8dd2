#include "platform/avi_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/atomic_file_writer.h"
#include "platform/memory_writer.h"
#include "tests/avi/avi_fixture.h"
#include "tests/support/avi_reader.h"
#include "tests/support/failing_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using avi_test::ExpectedSamples;
using avi_test::kSplitOptions;
using avi_test::PlannedSample;
using avi_test::Sequence;
using avi_test::SplitSamples;
using avi_test::WriteAvi;
using avi_test::WriteSamples;
using platform::AviWriter;
using platform::AviWriterOptions;
using platform::MakeFourCc;
using platform::WriteError;
using testing_support::AviFile;
using testing_support::ParseAvi;

constexpr uint32_t kAvihFlags = 0x910;  // has index, interleaved, trust chunk types

struct RoundTripCase {
  const char* name;
  std::vector<PlannedSample> samples;
};

TEST(AviWriter, PlainFileRoundTripsEverySampleAtItsPosition) {
  const std::vector<RoundTripCase> cases = {
      {"no samples", {}},
      {"key flags", {{0, 10, true}, {1, 12, false}, {2, 14, true}, {3, 16, false}}},
      {"odd sizes", {{0, 1, true}, {1, 3, false}, {2, 255, false}, {3, 2, false}}},
      {"zero-size samples", {{0, 10, true}, {1, 0, false}, {2, 7, false}, {3, 0, true}}},
      {"first position after 0", {{100, 10, true}, {101, 11, false}}},
      {"interior gaps", {{0, 10, true}, {1, 11, false}, {5, 12, false}, {7, 13, true}}},
  };
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.name);
    const AviFile file = ParseAvi(WriteAvi(c.samples));
    const auto expected = ExpectedSamples(c.samples);
    EXPECT_EQ(file.samples, expected);
    EXPECT_EQ(file.strh.dwStart, c.samples.empty() ? 0 : c.samples.front().position);
    EXPECT_EQ(file.strh.dwLength, expected.size());
    EXPECT_EQ(file.avih.totalFrames, expected.size());
    EXPECT_EQ(file.dmlhTotalFrames, expected.size());
    ASSERT_EQ(file.parts.size(), 1u);
    EXPECT_EQ(file.parts[0].idx1Entries, expected.size());
    EXPECT_FALSE(file.parts[0].ix00Entries);
    EXPECT_FALSE(file.superIndexEntries);
  }
}

TEST(AviWriter, HeadersDescribeTheStream) {
  platform::AviStreamInfo info = avi_test::StreamInfo();
  info.dwFlags = 3;
  info.wPriority = 4;
  info.wLanguage = 5;
  info.dwInitialFrames = 6;
  info.dwSuggestedBufferSize = 100;  // smaller than the largest sample: raised
  info.dwSampleSize = 0;
  info.dwStart = 77;   // ignored
  info.dwLength = 88;  // ignored
  info.rcFrame = {2, 4, 2 + avi_test::kWidth, 4 + avi_test::kHeight};
  std::strcpy(info.szName, "camera 1");

  auto memory = std::make_unique<platform::MemoryWriter>();
  const platform::MemoryWriter& out = *memory;
  AviWriter writer(std::move(memory), info, avi_test::Format());
  const std::vector<uint8_t> large = avi_test::Payload(1000, 0);
  writer.WriteSample(0, large.data(), large.size(), platform::AVIIF_KEYFRAME);
  writer.WriteSample(1, large.data(), 10, 0);
  writer.Finish();
  const AviFile file = ParseAvi(out.Bytes());

  EXPECT_EQ(file.avih.microSecPerFrame, 40000u);
  EXPECT_EQ(file.avih.maxBytesPerSec, 25000u);
  EXPECT_EQ(file.avih.flags, kAvihFlags);
  EXPECT_EQ(file.avih.streams, 1u);
  EXPECT_EQ(file.avih.initialFrames, 6u);
  EXPECT_EQ(file.avih.suggestedBufferSize, 1000u);
  EXPECT_EQ(file.avih.width, static_cast<uint32_t>(avi_test::kWidth));
  EXPECT_EQ(file.avih.height, static_cast<uint32_t>(avi_test::kHeight));

  const platform::AviStreamInfo& strh = file.strh;
  EXPECT_EQ(strh.fccType, MakeFourCc("vids"));
  EXPECT_EQ(strh.fccHandler, MakeFourCc("DX50"));
  EXPECT_EQ(strh.dwFlags, 3u);
  EXPECT_EQ(strh.wPriority, 4u);
  EXPECT_EQ(strh.wLanguage, 5u);
  EXPECT_EQ(strh.dwInitialFrames, 6u);
  EXPECT_EQ(strh.dwScale, 1u);
  EXPECT_EQ(strh.dwRate, 25u);
  EXPECT_EQ(strh.dwStart, 0u);
  EXPECT_EQ(strh.dwLength, 2u);
  EXPECT_EQ(strh.dwSuggestedBufferSize, 1000u);
  EXPECT_EQ(strh.dwQuality, 0xFFFFFFFFu);
  EXPECT_EQ(strh.rcFrame.left, 2);
  EXPECT_EQ(strh.rcFrame.top, 4);
  EXPECT_EQ(strh.rcFrame.right, 2 + avi_test::kWidth);
  EXPECT_EQ(strh.rcFrame.bottom, 4 + avi_test::kHeight);
  EXPECT_STREQ(strh.szName, "camera 1");

  const platform::BitmapInfoHeader format = avi_test::Format();
  EXPECT_EQ(std::memcmp(&file.strf, &format, sizeof format), 0);
  EXPECT_EQ(file.strf.Width(), avi_test::kWidth);
  EXPECT_EQ(file.strf.Compression(), MakeFourCc("DX50"));
}

TEST(AviWriter, FrameDurationIsRoundedToMicroseconds) {
  struct Case {
    uint32_t scale;
    uint32_t rate;
    uint32_t microseconds;
  };
  for (const Case& c : {Case{1, 25, 40000}, Case{1001, 30000, 33367}, Case{1, 3, 333333},
                        Case{2, 3, 666667}, Case{1, 0, 0}}) {
    SCOPED_TRACE(std::to_string(c.scale) + "/" + std::to_string(c.rate));
    platform::AviStreamInfo info = avi_test::StreamInfo();
    info.dwScale = c.scale;
    info.dwRate = c.rate;
    auto memory = std::make_unique<platform::MemoryWriter>();
    const platform::MemoryWriter& out = *memory;
    AviWriter writer(std::move(memory), info, avi_test::Format());
    writer.Finish();
    EXPECT_EQ(ParseAvi(out.Bytes()).avih.microSecPerFrame, c.microseconds);
  }
}

TEST(AviWriter, LargeFileContinuesInOpenDmlPartsWithEverySampleInPlace) {
  const std::vector<PlannedSample> samples = SplitSamples();
  const AviFile file = ParseAvi(WriteAvi(samples, kSplitOptions));
  const auto expected = ExpectedSamples(samples);

  EXPECT_EQ(file.samples, expected);
  EXPECT_EQ(file.strh.dwStart, 10u);
  EXPECT_EQ(file.strh.dwLength, expected.size());
  EXPECT_EQ(file.dmlhTotalFrames, expected.size());
  ASSERT_GE(file.parts.size(), 4u);
  EXPECT_EQ(file.superIndexEntries, file.parts.size());
  EXPECT_EQ(file.avih.totalFrames, file.parts[0].chunks);
  EXPECT_EQ(file.parts[0].idx1Entries, file.parts[0].chunks);
  bool singleLargeSample = false;
  for (const auto& part : file.parts) {
    EXPECT_EQ(part.ix00Entries, part.chunks);
    if (&part != &file.parts[0]) {
      EXPECT_FALSE(part.idx1Entries);
    }
    if (part.chunks == 1 && part.size > kSplitOptions.riffSizeThreshold) {
      singleLargeSample = true;
    } else {
      EXPECT_LE(part.size, kSplitOptions.riffSizeThreshold) << "part at " << part.offset;
    }
  }
  EXPECT_TRUE(singleLargeSample);
}

TEST(AviWriter, FileNeedingMorePartsThanAllowedFails) {
  auto memory = std::make_unique<platform::MemoryWriter>();
  AviWriter writer(std::move(memory), avi_test::StreamInfo(), avi_test::Format(), {2000, 2});
  const std::vector<uint8_t> payload = avi_test::Payload(1500, 0);
  writer.WriteSample(0, payload.data(), payload.size(), platform::AVIIF_KEYFRAME);
  writer.WriteSample(1, payload.data(), payload.size(), platform::AVIIF_KEYFRAME);
  EXPECT_THROW(writer.WriteSample(2, payload.data(), payload.size(), 0), WriteError);
  EXPECT_THROW(writer.Finish(), WriteError);
}

TEST(AviWriter, MisuseIsRefusedWithoutHarmingTheFile) {
  auto memory = std::make_unique<platform::MemoryWriter>();
  const platform::MemoryWriter& out = *memory;
  AviWriter writer(std::move(memory), avi_test::StreamInfo(), avi_test::Format());
  const std::vector<uint8_t> payload = avi_test::Payload(10, 5);
  writer.WriteSample(5, payload.data(), payload.size(), platform::AVIIF_KEYFRAME);
  EXPECT_THROW(writer.WriteSample(5, payload.data(), payload.size(), 0), std::invalid_argument);
  EXPECT_THROW(writer.WriteSample(4, payload.data(), payload.size(), 0), std::invalid_argument);
  EXPECT_THROW(writer.WriteSample(6, nullptr, 1, 0), std::invalid_argument);
  EXPECT_THROW(writer.WriteSample(6, payload.data(), AviWriter::kMaxSampleSize + 1, 0),
               std::invalid_argument);
  writer.Finish();
  EXPECT_EQ(ParseAvi(out.Bytes()).samples, ExpectedSamples({{5, 10, true}}));
  EXPECT_THROW(writer.Finish(), std::logic_error);

  platform::AviStreamInfo wide = avi_test::StreamInfo();
  wide.rcFrame.right = 40000;
  for (const auto& [info, options] :
       {std::pair{wide, AviWriterOptions{}},
        std::pair{avi_test::StreamInfo(), AviWriterOptions{0, 1}},
        std::pair{avi_test::StreamInfo(), AviWriterOptions{(1u << 31) + 1, 1}},
        std::pair{avi_test::StreamInfo(), AviWriterOptions{4096, 0}}}) {
    EXPECT_THROW(
        AviWriter(std::make_unique<platform::MemoryWriter>(), info, avi_test::Format(), options),
        std::invalid_argument);
  }
}

// Writes SplitSamples through a FailingWriter; returns what the writer threw, if anything.
std::optional<std::string> WriteThrough(testing_support::FailingWriter*& failing,
                                        std::unique_ptr<testing_support::FailingWriter> out,
                                        std::optional<AviWriter>& writer) {
  failing = out.get();
  try {
    writer.emplace(std::move(out), avi_test::StreamInfo(), avi_test::Format(), kSplitOptions);
    WriteSamples(*writer, SplitSamples());
    writer->Finish();
  } catch (const WriteError& e) {
    return e.what();
  }
  return std::nullopt;
}

TEST(AviWriter, OutputErrorsReachTheCaller) {
  testing_support::FailingWriter* failing = nullptr;
  std::optional<AviWriter> unfailing;
  ASSERT_FALSE(WriteThrough(
      failing,
      std::make_unique<testing_support::FailingWriter>(testing_support::FailingWriter::kNever),
      unfailing));
  const uint64_t total = failing->Written();

  struct Case {
    uint64_t failAtByte;
    bool failAtFinish;
  };
  // In the headers, the first part, a later part, the final header rewrite, the output's Finish.
  for (const Case& c :
       {Case{0, false}, Case{100, false}, Case{2000, false}, Case{total / 2, false},
        Case{total - 1, false}, Case{testing_support::FailingWriter::kNever, true}}) {
    SCOPED_TRACE(c.failAtByte);
    std::optional<AviWriter> writer;
    const auto error = WriteThrough(
        failing, std::make_unique<testing_support::FailingWriter>(c.failAtByte, c.failAtFinish),
        writer);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("injected failure"), std::string::npos) << *error;
    if (!writer) continue;  // the constructor failed
    EXPECT_EQ(failing->FinishCalled(), c.failAtFinish);
    const uint8_t byte = 0;
    EXPECT_THROW(writer->WriteSample(100000, &byte, 1, 0), WriteError);
    EXPECT_THROW(writer->Finish(), WriteError);
  }
}

TEST(AviWriter, FileAppearsOnlyWhenFinished) {
  const testing_support::TempDir dir;
  const std::string path = dir.File("out.avi");
  const std::vector<PlannedSample> samples = Sequence(0, 20, 100);
  {
    AviWriter abandoned(std::make_unique<platform::AtomicFileWriter>(path), avi_test::StreamInfo(),
                        avi_test::Format(), kSplitOptions);
    WriteSamples(abandoned, samples);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

  AviWriter writer(std::make_unique<platform::AtomicFileWriter>(path), avi_test::StreamInfo(),
                   avi_test::Format(), kSplitOptions);
  WriteSamples(writer, samples);
  writer.Finish();
  EXPECT_EQ(testing_support::ReadAviFile(path).samples, ExpectedSamples(samples));
}

}  // namespace
