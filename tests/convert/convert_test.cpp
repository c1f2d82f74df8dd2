// Converting one recording: the stream header and format, the samples with their positions
// and key-frame flags, the output's atomicity, and recordings outside the usual limits.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>

#include "convert/convert_raw_to_avi.h"
#include "convert/vol_header.h"
#include "reader/mp4_format.h"
#include "tests/support/avi_reader.h"
#include "tests/support/temp_dir.h"
#include "tools/recording/recording_builder.h"

namespace testing_support {
// Readable failure output: position, size, key flag and the first bytes.
void PrintTo(const AviSample& s, std::ostream* os) {
  *os << "{pos " << s.position << ", " << s.bytes.size() << " bytes, "
      << (s.keyFrame ? "key" : "delta") << ", starts";
  for (size_t i = 0; i < std::min<size_t>(s.bytes.size(), 24); ++i) {
    *os << ' ' << std::hex << int{s.bytes[i]} << std::dec;
  }
  *os << "}";
}
}  // namespace testing_support

namespace {

using recording::Bytes;
using recording::RecordingBuilder;
using testing_support::AviFile;
using testing_support::AviSample;
using testing_support::ReadAviFile;

uint32_t FourCc(const char (&code)[5]) {
  return platform::LoadLe32(reinterpret_cast<const uint8_t*>(code));
}

Bytes VolFor(uint16_t code, int16_t rate) {
  const uint8_t* vol = GetVolHeader(static_cast<int16_t>(code), rate);
  return Bytes(vol, vol + VOL_HEADER_SIZE);
}

// The samples a conversion of `b` must write: the VOL header and the first I-frame at
// position 1, then every later non-empty video record, key frame when it is an I-frame.
std::vector<AviSample> ExpectedSamples(const RecordingBuilder& b, const Bytes& vol) {
  std::vector<AviSample> samples;
  uint64_t position = 1;
  bool seenI = false;
  for (const auto& d : b.Deliveries()) {
    if (d.dataType == MP4_DATA_UD_AUX) continue;
    if (!seenI) {
      if (!d.iframe) continue;  // frames before the first I-frame are dropped
      seenI = true;
      Bytes first = vol;
      first.insert(first.end(), d.bytes.begin(), d.bytes.end());
      samples.push_back({position++, first, true});
      continue;
    }
    if (d.bytes.empty()) continue;
    samples.push_back({position++, d.bytes, d.iframe});
  }
  if (!seenI) samples.push_back({1, vol, false});
  return samples;
}

// Converts with the file size limited to `limit` bytes and exits 0 when the conversion failed
// with exactly one write-error message.
[[noreturn]] void ConvertUnderFileSizeLimit(const std::string& avi, const std::string& raw,
                                            rlim_t limit) {
  signal(SIGXFSZ, SIG_IGN);
  const rlimit fsize{limit, limit};
  setrlimit(RLIMIT_FSIZE, &fsize);
  int messages = 0;
  ConvertOptions options;
  options.onWriteError = [&](const std::string& message, const std::string&) {
    if (message == "AVI StreamWrite Error!!") ++messages;
  };
  const int result = ConvertRawToAvi(avi.c_str(), raw.c_str(), options);
  _exit(result == -1 && messages == 1 ? 0 : 1);
}

class Convert : public testing::Test {
 protected:
  std::string Raw(const RecordingBuilder& b, const std::string& name = "cam1.raw") {
    const std::string path = m_dir.File(name);
    b.WriteTo(path);
    return path;
  }
  std::string Avi(const std::string& name = "cam1.avi") { return m_dir.File(name); }
  // Files left in the folder, temporary files included.
  std::vector<std::string> Listing() const { return testing_support::FileNames(m_dir.Path()); }

  testing_support::TempDir m_dir;
};

TEST_F(Convert, WritesTheStreamHeaderFormatAndEverySample) {
  for (uint32_t layout : {17u, 34u}) {
    SCOPED_TRACE(layout);
    RecordingBuilder b(layout);
    b.VideoSize(4).FrameRate(12).Picture(352, 288);
    b.PFrame(1).PFrame(2).IFrame(3).PFrame(4).PFrame(5, 3).IFrame(6).PFrame(7);
    if (layout == 17) {
      b.TagRecord("INFO", 9, Bytes(10, 1)).TagRecord("ZEVO", MP4_TAG_TYPE_VIDEO, {}).PFrame(8);
    } else {
      b.UdAux(Bytes(10, 1)).UdAux({}).UdVideoClaiming(32, 9, {}).PFrame(8);
    }
    ASSERT_EQ(ConvertRawToAvi(Avi().c_str(), Raw(b).c_str()), 0);

    const AviFile avi = ReadAviFile(Avi());
    EXPECT_EQ(avi.strh.fccType, FourCc("vids"));
    EXPECT_EQ(avi.strh.fccHandler, FourCc("DX50"));
    EXPECT_EQ(avi.strh.dwScale, 1001u);
    EXPECT_EQ(avi.strh.dwRate, 12u * 1001);
    EXPECT_EQ(avi.strh.dwSuggestedBufferSize, 352u * 288 * 3);
    EXPECT_EQ(avi.strh.dwQuality, 0u);
    EXPECT_EQ(avi.strh.rcFrame.right, 352);
    EXPECT_EQ(avi.strh.rcFrame.bottom, 288);
    EXPECT_EQ(avi.strf.Size(), 40u);
    EXPECT_EQ(avi.strf.Width(), 352);
    EXPECT_EQ(avi.strf.Height(), 288);
    EXPECT_EQ(avi.strf.Planes(), 1);
    EXPECT_EQ(avi.strf.BitCount(), 24);
    EXPECT_EQ(avi.strf.Compression(), FourCc("DX50"));
    EXPECT_EQ(avi.strf.SizeImage(), 352u * 288 * 3);
    EXPECT_EQ(avi.samples, ExpectedSamples(b, VolFor(4, 12)));
    EXPECT_EQ(avi.strh.dwStart, 1u);
    EXPECT_EQ(avi.strh.dwLength, avi.samples.size());
  }
}

TEST_F(Convert, RecordingWithoutAnIFrameGivesTheVolHeaderAlone) {
  RecordingBuilder b(17);
  b.PFrame(1).PFrame(2);
  ASSERT_EQ(ConvertRawToAvi(Avi().c_str(), Raw(b).c_str()), 0);
  const AviFile avi = ReadAviFile(Avi());
  ASSERT_EQ(avi.samples.size(), 1u);
  EXPECT_EQ(avi.samples[0], (AviSample{1, VolFor(5, 25), false}));
}

TEST_F(Convert, RateAndSizeComeFromTheInfoRecordTheVolHeaderFromTheCode) {
  RecordingBuilder b(17);
  b.VideoSize(0).FrameRate(25).Picture(640, 360).IFrame(1);
  ASSERT_EQ(ConvertRawToAvi(Avi().c_str(), Raw(b).c_str()), 0);
  const AviFile avi = ReadAviFile(Avi());
  EXPECT_EQ(avi.strh.dwRate, 25025u);
  EXPECT_EQ(avi.strh.dwScale, 1001u);
  EXPECT_EQ(avi.strf.Width(), 640);
  EXPECT_EQ(avi.strf.Height(), 360);
  EXPECT_TRUE(std::equal(avi.samples[0].bytes.begin(), avi.samples[0].bytes.begin() + 21,
                         VolFor(0, 25).begin()));
}

TEST_F(Convert, ValuesOutsideTheTable) {
  struct Case {
    const char* name;
    uint16_t code;
    uint32_t rate, width, height;
    std::optional<VolHeader> vol;  // nullopt: refused
  };
  const Case cases[] = {
      {"rate 0 clamps to 5", 2, 0, 160, 112, VolHeaderForRecording(2, 5, 0, 0)},
      {"rate 100 clamps to the ceiling", 3, 100, 720, 576, VolHeaderForRecording(3, 25, 0, 0)},
      {"unknown code with a usable picture", 9, 15, 320, 240,
       VolHeaderForRecording(9, 15, 320, 240)},
      {"unknown code without a picture", 9, 15, 0, 0, std::nullopt},
      {"unknown code with a picture too large", 6, 15, 8192, 240, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(Avi());
    RecordingBuilder b(17);
    b.VideoSize(c.code).FrameRate(c.rate).Picture(c.width, c.height).IFrame(1).PFrame(2);
    std::string why;
    const int result = ConvertRawToAvi(Avi().c_str(), Raw(b).c_str(), {}, &why);
    if (!c.vol) {
      EXPECT_EQ(result, -1);
      EXPECT_NE(why.find("picture-size code"), std::string::npos) << why;
      EXPECT_FALSE(std::filesystem::exists(Avi()));
      continue;
    }
    ASSERT_EQ(result, 0) << why;
    const AviFile avi = ReadAviFile(Avi());
    EXPECT_TRUE(std::equal(c.vol->begin(), c.vol->end(), avi.samples[0].bytes.begin()));
  }
}

TEST_F(Convert, RecordsLargerThanAPictureAreKeptWhole) {
  for (uint32_t width : {16u, 0u}) {
    SCOPED_TRACE(width);
    RecordingBuilder b(34);
    b.Picture(width, 16).IFrame(1, 5000).PFrame(2, 9000);
    ASSERT_EQ(ConvertRawToAvi(Avi().c_str(), Raw(b).c_str()), 0);
    EXPECT_EQ(ReadAviFile(Avi()).samples, ExpectedSamples(b, VolFor(5, 25)));
  }
}

TEST_F(Convert, ShortTaggedRecordIsNeverAKeyFrame) {
  RecordingBuilder b(17);
  b.IFrame(1).TagRecord("ZEVO", MP4_TAG_TYPE_VIDEO, Bytes(12, 0x33)).PFrame(3);
  ASSERT_EQ(ConvertRawToAvi(Avi().c_str(), Raw(b).c_str()), 0);
  const AviFile avi = ReadAviFile(Avi());
  ASSERT_EQ(avi.samples.size(), 3u);
  EXPECT_FALSE(avi.samples[1].keyFrame);
}

TEST_F(Convert, ExistingOutputIsReplacedOrKept) {
  RecordingBuilder b(17);
  b.IFrame(1).PFrame(2);
  const std::string raw = Raw(b);
  testing_support::WriteFileBytes(Avi(), Bytes(10, 'x'));
  ConvertOptions keep;
  keep.replaceExisting = false;
  EXPECT_EQ(ConvertRawToAvi(Avi().c_str(), raw.c_str(), keep), -1);
  EXPECT_EQ(testing_support::ReadFileBytes(Avi()), Bytes(10, 'x'));
  EXPECT_EQ(ConvertRawToAvi(Avi().c_str(), raw.c_str()), 0);
  EXPECT_EQ(ReadAviFile(Avi()).samples.size(), 2u);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"cam1.avi", "cam1.raw"}));
}

TEST_F(Convert, OutputThatIsTheRecordingItselfIsRefused) {
  RecordingBuilder b(17);
  b.IFrame(1).PFrame(2);
  const std::string raw = Raw(b);
  const Bytes before = testing_support::ReadFileBytes(raw);
  std::filesystem::create_symlink(raw, m_dir.File("link.avi"));
  std::filesystem::create_hard_link(raw, m_dir.File("hard.avi"));
  const std::string relative =
      std::filesystem::relative(raw, std::filesystem::current_path()).string();
  for (const std::string& out :
       {raw, relative, m_dir.File("./cam1.raw"), m_dir.File("link.avi"), m_dir.File("hard.avi")}) {
    SCOPED_TRACE(out);
    std::string why;
    EXPECT_EQ(ConvertRawToAvi(out.c_str(), raw.c_str(), {}, &why), -1);
    EXPECT_NE(why.find("recording itself"), std::string::npos) << why;
    EXPECT_EQ(testing_support::ReadFileBytes(raw), before);
  }
}

TEST_F(Convert, NoRecordingNoOutput) {
  testing_support::WriteFileBytes(m_dir.File("junk.raw"), Bytes(500, 1));
  for (const std::string& raw : {m_dir.File("junk.raw"), m_dir.File("missing.raw")}) {
    std::string why;
    EXPECT_EQ(ConvertRawToAvi(Avi().c_str(), raw.c_str(), {}, &why), -1);
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(std::filesystem::exists(Avi()));
  }
}

TEST_F(Convert, CancelledConversionLeavesNothingAndKeepsAnExistingFile) {
  RecordingBuilder b(17);
  b.IFrame(1).PFrame(2).PFrame(3);
  const std::string raw = Raw(b);
  testing_support::WriteFileBytes(Avi(), Bytes(7, 'o'));
  std::atomic<bool> cancel{false};
  ConvertOptions options;
  options.cancel = &cancel;
  int records = 0;
  options.onProgress = [&](uint64_t, uint64_t) {
    if (++records == 2) cancel = true;
  };
  EXPECT_EQ(ConvertRawToAvi(Avi().c_str(), raw.c_str(), options), -1);
  EXPECT_EQ(testing_support::ReadFileBytes(Avi()), Bytes(7, 'o'));
  EXPECT_EQ(Listing(), (std::vector<std::string>{"cam1.avi", "cam1.raw"}));
}

TEST_F(Convert, FailedSampleWriteIsReportedOnceAndLeavesNothing) {
  RecordingBuilder b(17);
  b.IFrame(1, 40000);
  for (uint32_t t = 2; t < 40; ++t) b.PFrame(t, 40000);
  const std::string raw = Raw(b);
  const std::string avi = Avi();
  // In a child process whose files may not grow beyond 256 KB.
  EXPECT_EXIT(ConvertUnderFileSizeLimit(avi, raw, 256 << 10), testing::ExitedWithCode(0), "");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"cam1.raw"}));
}

TEST_F(Convert, LargeOutputsContinueInFurtherRiffParts) {
  RecordingBuilder b(34);
  for (uint32_t t = 0; t < 60; ++t) {
    if (t % 10 == 0) {
      b.IFrame(t, 3000);
    } else {
      b.PFrame(t, 1000 + 37 * t);
    }
  }
  ConvertOptions options;
  options.riffSizeThreshold = 16 << 10;
  ASSERT_EQ(ConvertRawToAvi(Avi().c_str(), Raw(b).c_str(), options), 0);
  const AviFile avi = ReadAviFile(Avi());
  EXPECT_GT(avi.parts.size(), 3u);
  EXPECT_EQ(avi.samples, ExpectedSamples(b, VolFor(5, 25)));
}

}  // namespace
