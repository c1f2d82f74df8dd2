// make-recording: recordings made from a real encoder stream deliver exactly its frames in both
// layouts, and user-data records still decode as MPEG-4 (their headers never hold a start code).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "convert/vol_header.h"
#include "platform/little_endian.h"
#include "reader/mp4_format.h"
#include "reader/mp4_reader.h"
#include "tests/support/encoded_recording.h"
#include "tests/support/temp_dir.h"
#include "tools/recording/recording_builder.h"

namespace {

using recording::Bytes;

struct Delivered {
  uint32_t type;
  bool iframe;  // as the reader counts it
  Bytes bytes;
};

struct ReadBack {
  MP4FILEHEADER header;
  MP4FILEINFO info;
  std::vector<Delivered> video;
  std::vector<Delivered> aux;
};

ReadBack ReadAll(const std::string& path) {
  std::string why;
  const std::unique_ptr<CMP4File> reader = CMP4File::Open(path, &why);
  if (!reader) throw std::runtime_error("cannot open " + path + ": " + why);
  ReadBack got{reader->Header(), reader->Info(), {}, {}};
  for (;;) {
    Bytes bytes;
    uint32_t type = MP4_DATA_NONE;
    const uint32_t n = reader->GetNextFrame(FrameDest::Growable(bytes, 0), &type);
    if (type == MP4_DATA_NONE) break;
    bytes.resize(n);
    if (type == MP4_DATA_UD_AUX) {
      got.aux.push_back({type, false, bytes});
    } else {
      got.video.push_back({type, reader->FrameNo() == 0, bytes});
    }
  }
  return got;
}

bool StartsWith(const Bytes& bytes, size_t at, std::initializer_list<uint8_t> prefix) {
  return bytes.size() >= at + prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
}

size_t CountStartCodes(const Bytes& bytes, size_t from, size_t to, uint8_t code) {
  size_t count = 0;
  for (size_t i = from; i + 2 < std::min(to, bytes.size()); ++i) {
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 &&
        (code == 0 || (i + 3 < bytes.size() && bytes[i + 3] == code))) {
      ++count;
    }
  }
  return count;
}
constexpr uint8_t ANY_CODE = 0;

constexpr size_t UD_FRAME_AT = MP4_UD_HEADERS_SIZE + MP4_UD_IFRAME_MARK_OFFSET;  // 75
constexpr size_t UD_LENGTH_AT = sizeof(MP4UDRECORD) + offsetof(MP4UDFRAMEHEADER, dwLength);
constexpr size_t UD_TIME_AT = sizeof(MP4UDRECORD) + offsetof(MP4UDFRAMEHEADER, dwTime);

class MakeRecording : public testing::Test {
 protected:
  static constexpr int FRAMES = 30;

  static void SetUpTestSuite() {
    s_dir = std::make_unique<testing_support::TempDir>();
    const testing_support::EncodeSettings encode{.code = 2, .rate = 12, .frames = FRAMES, .gop = 8};
    s_tagged = testing_support::MakeEncodedRecording(
        s_dir->Path(), encode, {.layout = MP4_LAYOUT_TAGGED, .extraEvery = 4}, "tagged");
    // Times whose low byte is 01 would form 00 00 01 with the length's high bytes.
    s_userData =
        testing_support::MakeEncodedRecording(s_dir->Path(), encode,
                                              {.layout = MP4_LAYOUT_USERDATA,
                                               .extraEvery = 3,
                                               .moreOptions = "--start-time 257 --time-step 256"},
                                              "userdata");
    s_pictureTypes = testing_support::FramePictureTypes(s_tagged.stream);
  }
  static void TearDownTestSuite() { s_dir.reset(); }

  // The stream's frames: everything from its first GOV on.
  static Bytes StreamFrames(const std::string& stream) {
    const Bytes all = testing_support::ReadFileBytes(stream);
    const auto gov =
        std::search(all.begin(), all.end(), MP4_GOV_START_CODE, MP4_GOV_START_CODE + 4);
    return Bytes(gov, all.end());
  }

  static void ExpectIFramesWhereTheEncoderPutThem(const std::vector<Delivered>& video) {
    ASSERT_EQ(s_pictureTypes.size(), size_t{FRAMES});
    ASSERT_EQ(video.size(), size_t{FRAMES});
    size_t iframes = 0;
    for (size_t i = 0; i < video.size(); ++i) {
      EXPECT_EQ(video[i].iframe, s_pictureTypes[i] == "I") << "frame " << i;
      iframes += video[i].iframe;
    }
    EXPECT_EQ(iframes, 4u);
  }

  static inline std::unique_ptr<testing_support::TempDir> s_dir;
  static inline testing_support::EncodedRecording s_tagged;
  static inline testing_support::EncodedRecording s_userData;
  static inline std::vector<std::string> s_pictureTypes;
};

TEST_F(MakeRecording, TaggedRecordingDeliversTheStreamsFramesOneByOne) {
  const ReadBack got = ReadAll(s_tagged.recording);
  EXPECT_EQ(got.header.Layout(), uint32_t{MP4_LAYOUT_TAGGED});
  EXPECT_EQ(got.header.VideoSize(), 2u);
  EXPECT_EQ(got.info.FrameRate(), 12u);
  EXPECT_EQ(got.info.Width(), 160u);
  EXPECT_EQ(got.info.Height(), 112u);
  // Frames 1000 + 83 * i; I-frames at 0, 8, 16, 24.
  EXPECT_EQ(got.info.StartTime(), 1000u);
  EXPECT_EQ(got.info.EndTime(), 1000u + 24 * 83);
  EXPECT_TRUE(got.aux.empty()) << "the extra tagged records are no video";

  ExpectIFramesWhereTheEncoderPutThem(got.video);
  Bytes joined;
  for (const Delivered& frame : got.video) {
    EXPECT_EQ(frame.type, uint32_t{MP4_DATA_TAG_VIDEO});
    EXPECT_TRUE(StartsWith(frame.bytes, MP4_TAG_IFRAME_MARK_OFFSET, {0, 0, 1}));
    EXPECT_EQ(CountStartCodes(frame.bytes, 0, frame.bytes.size(), 0xB6), 1u) << "one VOP";
    joined.insert(joined.end(), frame.bytes.begin() + MP4_TAG_IFRAME_MARK_OFFSET,
                  frame.bytes.end());
  }
  EXPECT_EQ(joined, StreamFrames(s_tagged.stream));
}

TEST_F(MakeRecording, UserDataRecordingDeliversTheSameFramesBehindStartCodeFreeHeaders) {
  const ReadBack got = ReadAll(s_userData.recording);
  const ReadBack tagged = ReadAll(s_tagged.recording);
  EXPECT_EQ(got.header.Layout(), uint32_t{MP4_LAYOUT_USERDATA});
  EXPECT_EQ(got.aux.size(), size_t{FRAMES / 3});

  ExpectIFramesWhereTheEncoderPutThem(got.video);
  ASSERT_EQ(got.video.size(), tagged.video.size());
  uint32_t lastTime = 0;
  for (size_t i = 0; i < got.video.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const Bytes& record = got.video[i].bytes;
    EXPECT_EQ(got.video[i].type, uint32_t{MP4_DATA_UD_VIDEO});
    EXPECT_EQ(CountStartCodes(record, 0, UD_FRAME_AT, ANY_CODE), 1u)
        << "only the record's own start code before the frame";
    const uint32_t time = platform::LoadLe32(record.data() + UD_TIME_AT);
    EXPECT_GT(time, lastTime);
    lastTime = time;
    // The frame, perhaps followed by zero bytes.
    const Bytes frame(tagged.video[i].bytes.begin() + MP4_TAG_IFRAME_MARK_OFFSET,
                      tagged.video[i].bytes.end());
    ASSERT_GE(record.size(), UD_FRAME_AT + frame.size());
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), record.begin() + UD_FRAME_AT));
    EXPECT_TRUE(std::all_of(record.begin() + static_cast<ptrdiff_t>(UD_FRAME_AT + frame.size()),
                            record.end(), [](uint8_t b) { return b == 0; }));
  }
}

TEST_F(MakeRecording, UserDataRecordsDecodeAsTheStreamDoes) {
  const ReadBack got = ReadAll(s_userData.recording);
  const VolHeader vol = VolHeaderForRecording(2, 12, 0, 0).value();
  Bytes samples(vol.begin(), vol.end());
  for (const Delivered& frame : got.video) {
    samples.insert(samples.end(), frame.bytes.begin(), frame.bytes.end());
  }
  testing_support::WriteFileBytes(s_dir->File("samples.m4v"), samples);
  const std::vector<std::string> want = testing_support::DecodedFrameMd5s(s_userData.stream);
  EXPECT_EQ(want.size(), size_t{FRAMES});
  EXPECT_EQ(testing_support::DecodedFrameMd5s(s_dir->File("samples.m4v"), "m4v"), want);
}

TEST(MakeRecordingTool, RefusesWhatItCannotStore) {
  testing_support::TempDir dir;
  testing_support::WriteFileBytes(dir.File("none.m4v"), Bytes(100, 0x55));
  testing_support::WriteFileBytes(dir.File("intra.m4v"), {0x00, 0x00, 0x01, 0xB6, 0x10, 0x55});
  // ffmpeg's defaults: the configuration headers again before every I-frame.
  const std::string repeated = dir.File("repeated.m4v");
  testing_support::RunCommand(
      "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 6 "
      "-c:v mpeg4 -bf 0 -g 3 -f m4v " +
      testing_support::ShellQuote(repeated));
  const std::string good = testing_support::EncodeTestPattern(dir.Path(), {.frames = 3});

  struct Case {
    const char* name;
    std::string input;
    std::string options;
    bool refused;
  };
  const Case cases[] = {
      {"no frame", dir.File("none.m4v"), "", true},
      {"intra-coded VOP without a GOV", dir.File("intra.m4v"), "", true},
      {"configuration headers among the frames", repeated, "", true},
      {"code without a picture", good, "--size-code 6", true},
      {"code without a picture, picture given", good, "--size-code 6 --width 176 --height 144",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string cmd = testing_support::ShellQuote(RAWTOAVI_MAKE_RECORDING) + " " +
                            testing_support::ShellQuote(c.input) + " " +
                            testing_support::ShellQuote(dir.File("out.raw")) + " " + c.options +
                            " >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()) != 0, c.refused);
  }
}

// ---- Storing stream frames in the user-data layout ----

TEST(StreamFrame, LengthAndTimeNeverFormAStartCodeWithTheirNeighbours) {
  struct Case {
    const char* name;
    size_t frameSize;
    uint32_t time;
    bool padded;
    bool moved;
  };
  const Case cases[] = {
      {"clean", 100, 0x0202, false, false},
      {"length low byte 01", 194, 0x0202, true, false},  // length 0x101
      {"length 0x100", 193, 0x0202, true, false},        // 00 01 after the kind's 00s
      {"length 0x10000", 65473, 0x0202, true, false},    // 00 00 01 00
      {"time low byte 01", 100, 0x0301, false, true},    // after the length's 00 00
      {"time 0x100", 100, 0x0100, false, true},          // 00 01 after the length's 00
      {"time 0x10000", 100, 0x10000, false, true},       // 00 00 01 00
      {"time 0x1000000", 100, 0x1000000, false, true},   // 00 00 00 01
      {"time 0x1000000, long frame", 70000, 0x1000000, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recording::RecordingBuilder b(MP4_LAYOUT_USERDATA);
    Bytes frame = b.SyntheticData(false, c.frameSize);
    std::copy_n(MP4_GOV_START_CODE, 4, frame.begin());
    b.StreamFrame(c.time, frame);
    ASSERT_EQ(b.Deliveries().size(), 1u);
    const recording::Delivery& got = b.Deliveries()[0];
    EXPECT_TRUE(got.iframe);
    EXPECT_EQ(CountStartCodes(got.bytes, 0, UD_FRAME_AT, ANY_CODE), 1u);

    EXPECT_EQ(platform::LoadLe32(got.bytes.data() + UD_LENGTH_AT) + 12, got.bytes.size());
    const uint32_t time = platform::LoadLe32(got.bytes.data() + UD_TIME_AT);
    EXPECT_EQ(time != c.time, c.moved);
    EXPECT_GE(time, c.time);
    EXPECT_LT(time - c.time, 0x200u) << "moved on only as far as needed";

    ASSERT_GE(got.bytes.size(), UD_FRAME_AT + frame.size());
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), got.bytes.begin() + UD_FRAME_AT));
    const size_t padding = got.bytes.size() - UD_FRAME_AT - frame.size();
    EXPECT_EQ(padding != 0, c.padded);
    EXPECT_LE(padding, 2u);
    EXPECT_TRUE(std::all_of(got.bytes.end() - static_cast<ptrdiff_t>(padding), got.bytes.end(),
                            [](uint8_t byte) { return byte == 0; }));
  }
}

TEST(StreamFrame, TaggedLayoutStoresTheFrameAsItIs) {
  recording::RecordingBuilder b(MP4_LAYOUT_TAGGED);
  const Bytes frame = {0x00, 0x00, 0x01, 0xB3, 0x00, 0x10, 0x07, 0x00, 0x00, 0x01, 0xB6, 0x10};
  b.StreamFrame(0x0301, frame);
  ASSERT_EQ(b.Deliveries().size(), 1u);
  Bytes want = recording::TagFrameHeader(0x0301);
  want.insert(want.end(), frame.begin(), frame.end());
  EXPECT_EQ(b.Deliveries()[0].bytes, want);
  EXPECT_TRUE(b.Deliveries()[0].iframe);
}

}  // namespace
