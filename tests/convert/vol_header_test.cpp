// The VOL header table: the pinned entries, every entry read back field by field as a decoder
// reads it, the entries the rate clamp makes equal, headers for recordings outside the table,
// and ffmpeg decoding real encoder frames behind a table header.
#include "convert/vol_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <set>
#include <string>
#include <vector>

#include "tests/support/encoded_recording.h"
#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

VolHeader Entry(int code, int rate) {
  VolHeader header;
  const uint8_t* p = GetVolHeader(static_cast<int16_t>(code), static_cast<int16_t>(rate));
  std::copy(p, p + VOL_HEADER_SIZE, header.begin());
  return header;
}

class BitReader {
 public:
  explicit BitReader(const VolHeader& header) : m_header(header) {}
  uint32_t Get(int bits) {
    uint32_t value = 0;
    for (int i = 0; i < bits; ++i, ++m_bit) {
      value = (value << 1) | ((m_header.at(m_bit / 8) >> (7 - m_bit % 8)) & 1u);
    }
    return value;
  }
  size_t BitsLeft() const { return m_header.size() * 8 - m_bit; }

 private:
  const VolHeader& m_header;
  size_t m_bit = 0;
};

struct Expected {
  uint32_t width;
  uint32_t height;
  uint32_t rate;  // the declared rate: clock 1000 x rate, frames 1001 ticks apart
};

// Reads `header` as a decoder does and checks every field. Returns the width of the
// time-increment field, which a decoder derives from the clock resolution.
int ExpectHeaderFields(const VolHeader& header, const Expected& want) {
  BitReader r(header);
  EXPECT_EQ(r.Get(32), 0x00000100u) << "video object start code";
  EXPECT_EQ(r.Get(32), 0x00000120u) << "video object layer start code";
  struct Field {
    const char* name;
    int bits;
    uint32_t value;
  };
  auto expectFields = [&r](std::initializer_list<Field> fields) {
    for (const Field& f : fields) EXPECT_EQ(r.Get(f.bits), f.value) << f.name;
  };
  expectFields({{"random_accessible_vol", 1, 0},
                {"video_object_type_indication", 8, 1},
                {"is_object_layer_identifier", 1, 1},
                {"video_object_layer_verid", 4, 2},
                {"video_object_layer_priority", 3, 1},
                {"aspect_ratio_info", 4, 1},
                {"vol_control_parameters", 1, 0},
                {"video_object_layer_shape", 2, 0},
                {"marker", 1, 1}});
  const uint32_t resolution = r.Get(16);
  EXPECT_EQ(resolution, 1000 * want.rate);
  const int incrementBits = std::bit_width(resolution - 1);
  expectFields({{"marker", 1, 1},
                {"fixed_vop_rate", 1, 1},
                {"fixed_vop_time_increment", incrementBits, 1001},
                {"marker", 1, 1},
                {"width", 13, want.width},
                {"marker", 1, 1},
                {"height", 13, want.height},
                {"marker", 1, 1},
                {"interlaced", 1, 0},
                {"obmc_disable", 1, 1},
                {"sprite_enable", 2, 0},
                {"not_8_bit", 1, 0},
                {"quant_type", 1, 0},
                {"quarter_sample", 1, 0},
                {"complexity_estimation_disable", 1, 1},
                {"resync_marker_disable", 1, 1},
                {"data_partitioned", 1, 0},
                {"newpred_enable", 1, 0},
                {"reduced_resolution_vop_enable", 1, 0},
                {"scalability", 1, 0}});
  // Stuffing: a 0 bit, then 1 bits up to the end of the last byte.
  EXPECT_EQ(r.BitsLeft(), static_cast<size_t>(19 - incrementBits));
  EXPECT_EQ(r.Get(1), 0u) << "stuffing";
  const int ones = static_cast<int>(r.BitsLeft());
  EXPECT_EQ(r.Get(ones), (1u << ones) - 1) << "stuffing";
  return incrementBits;
}

const Expected PICTURES[VOL_HEADER_CODES] = {
    {720, 480, 30}, {352, 240, 30}, {160, 112, 30}, {720, 576, 25}, {352, 288, 25}, {176, 144, 25},
};

uint32_t DeclaredRate(int code, uint32_t rate) {
  return std::clamp<uint32_t>(rate, 5, PICTURES[code].rate);
}

TEST(VolHeaderTable, PinnedEntries) {
  struct Case {
    int code;
    int rate;
    VolHeader header;
  };
  const Case cases[] = {
      {0, 30, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC8, 0x88,
               0xBA, 0x98, 0x60, 0xFA, 0x62, 0xD0, 0x87, 0x82, 0x83, 0x07}},
      {1, 12, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC8, 0x88,
               0x97, 0x70, 0x61, 0xF4, 0xC2, 0xC1, 0x07, 0x85, 0x06, 0x0F}},
      {3, 30, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC8, 0x88,
               0xB0, 0xD4, 0x60, 0xFA, 0x62, 0xD0, 0x89, 0x02, 0x83, 0x07}},
      {5, 1, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC8, 0x88,
              0x89, 0xC4, 0x63, 0xE9, 0x82, 0xC2, 0x09, 0x0A, 0x0C, 0x1F}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code) + " rate " + std::to_string(c.rate));
    EXPECT_EQ(Entry(c.code, c.rate), c.header);
    EXPECT_EQ(g_byVolHeaderTable[static_cast<size_t>(c.code * 30 + c.rate - 1)], c.header);
  }
}

TEST(VolHeaderTable, EveryEntryHoldsItsCodesPictureAndRate) {
  const Bytes common = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC8, 0x88};
  for (int code = 0; code < VOL_HEADER_CODES; ++code) {
    const std::optional<PictureSize> size = PictureSizeOfCode(static_cast<uint16_t>(code));
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, PICTURES[code].width);
    EXPECT_EQ(size->height, PICTURES[code].height);
    for (int rate = 1; rate <= VOL_HEADER_RATES; ++rate) {
      SCOPED_TRACE("code " + std::to_string(code) + " rate " + std::to_string(rate));
      const VolHeader header = Entry(code, rate);
      EXPECT_TRUE(std::equal(common.begin(), common.end(), header.begin()));
      ExpectHeaderFields(header, {PICTURES[code].width, PICTURES[code].height,
                                  DeclaredRate(code, static_cast<uint32_t>(rate))});
    }
  }
  EXPECT_FALSE(PictureSizeOfCode(6));
}

TEST(VolHeaderTable, TimeIncrementWidthFollowsTheRate) {
  struct Case {
    int rate;
    int incrementBits;  // the stuffing then takes 19 - incrementBits bits
  };
  for (const Case c : {Case{8, 13}, Case{9, 14}, Case{16, 14}, Case{17, 15}}) {
    for (int code = 0; code < VOL_HEADER_CODES; ++code) {
      SCOPED_TRACE("code " + std::to_string(code) + " rate " + std::to_string(c.rate));
      const Expected want = {PICTURES[code].width, PICTURES[code].height,
                             static_cast<uint32_t>(c.rate)};
      EXPECT_EQ(ExpectHeaderFields(Entry(code, c.rate), want), c.incrementBits);
    }
  }
}

TEST(VolHeaderTable, EntriesAreEqualExactlyWhereTheRateIsClamped) {
  for (int code = 0; code < VOL_HEADER_CODES; ++code) {
    SCOPED_TRACE("code " + std::to_string(code));
    for (int rate = 2; rate <= 5; ++rate) EXPECT_EQ(Entry(code, rate), Entry(code, 1));
    std::set<VolHeader> top;
    for (int rate = 25; rate <= 30; ++rate) top.insert(Entry(code, rate));
    EXPECT_EQ(top.size(), PICTURES[code].rate == 25 ? 1u : 6u);
  }
}

TEST(VolHeaderForRecording, TableCodesTakeTheClampedRatesEntry) {
  struct Case {
    uint16_t code;
    uint32_t rate;
    int entryRate;
  };
  const Case cases[] = {
      {0, 0, 5},   {0, 12, 12},   {0, 31, 30},         {0, 0xFFFFFFFF, 30},
      {3, 29, 25}, {3, 1000, 25}, {5, 0xFFFFFFFF, 25}, {5, 1, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code) + " rate " + std::to_string(c.rate));
    // Trailer sizes do not matter for table codes.
    EXPECT_EQ(VolHeaderForRecording(c.code, c.rate, 0, 0), Entry(c.code, c.entryRate));
    EXPECT_EQ(VolHeaderForRecording(c.code, c.rate, 640, 480), Entry(c.code, c.entryRate));
  }
}

TEST(VolHeaderForRecording, OtherCodesAreBuiltFromTheTrailersPicture) {
  struct Case {
    uint16_t code;
    uint32_t rate;
    uint32_t width;
    uint32_t height;
    bool described;
  };
  const Case cases[] = {
      {6, 25, 640, 480, true},      {0xFFFF, 60, 320, 240, true}, {7, 2, 8191, 8191, true},
      {6, 25, 0, 480, false},       {6, 25, 640, 0, false},       {6, 25, 8192, 480, false},
      {6, 25, 640, 0x10000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code) + " " + std::to_string(c.width) + "x" +
                 std::to_string(c.height));
    const std::optional<VolHeader> header =
        VolHeaderForRecording(c.code, c.rate, c.width, c.height);
    ASSERT_EQ(header.has_value(), c.described);
    if (header) {
      ExpectHeaderFields(*header, {c.width, c.height, std::clamp<uint32_t>(c.rate, 5, 30)});
    }
  }
  // A table code's picture under another code gives the table's entry.
  EXPECT_EQ(VolHeaderForRecording(9, 12, 352, 240), Entry(1, 12));
}

// ---- Real frames ----

bool HasStartCode(const Bytes& bytes, uint8_t first, uint8_t last) {
  for (size_t i = 0; i + 3 < bytes.size(); ++i) {
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] >= first &&
        bytes[i + 3] <= last) {
      return true;
    }
  }
  return false;
}

TEST(VolHeaderDecoding, EncodersFramesDecodeAlikeBehindOurHeader) {
  const testing_support::EncodeSettings cases[] = {
      {.code = 5, .rate = 1},  {.code = 1, .rate = 12},
      {.code = 2, .rate = 17}, {.code = 3, .rate = 30},
      {.code = 0, .rate = 30}, {.code = 9, .rate = 20, .width = 320, .height = 240},
  };
  for (testing_support::EncodeSettings encode : cases) {
    SCOPED_TRACE("code " + std::to_string(encode.code) + " rate " + std::to_string(encode.rate));
    encode.frames = 8;
    encode.gop = 4;
    testing_support::TempDir dir;
    const std::string stream = testing_support::EncodeTestPattern(dir.Path(), encode);
    const Bytes encoded = testing_support::ReadFileBytes(stream);

    const uint8_t gov[] = {0x00, 0x00, 0x01, 0xB3};
    const auto frames = std::search(encoded.begin(), encoded.end(), gov, gov + 4);
    ASSERT_NE(frames, encoded.end());
    const Bytes rest(frames, encoded.end());
    // Otherwise the decoder would use the encoder's own header for later frames.
    ASSERT_FALSE(HasStartCode(rest, 0x00, 0x2F)) << "a VOL header among the frames";

    const std::optional<VolHeader> ours =
        VolHeaderForRecording(encode.code, encode.rate, encode.width, encode.height);
    ASSERT_TRUE(ours);
    Bytes spliced(ours->size() + rest.size());
    std::copy(rest.begin(), rest.end(), std::copy(ours->begin(), ours->end(), spliced.begin()));
    testing_support::WriteFileBytes(dir.File("spliced.m4v"), spliced);

    const std::vector<std::string> want = testing_support::DecodedFrameMd5s(stream);
    EXPECT_EQ(want.size(), 8u);
    EXPECT_EQ(testing_support::DecodedFrameMd5s(dir.File("spliced.m4v"), "m4v"), want);
  }
}

}  // namespace
