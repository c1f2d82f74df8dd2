#include "convert/vol_header.h"

#include <algorithm>
#include <bit>

namespace {

constexpr std::array<PictureSize, VOL_HEADER_CODES> PICTURE_SIZES = {{
    {720, 480, 30},
    {352, 240, 30},
    {160, 112, 30},
    {720, 576, 25},
    {352, 288, 25},
    {176, 144, 25},
}};

constexpr uint32_t MIN_VOL_RATE = 5;
constexpr uint32_t ANY_SIZE_RATE_CEILING = 30;
constexpr uint32_t DIMENSION_LIMIT = 1u << 13;  // width and height are 13-bit fields
// The clock runs at 1000 ticks per second for each frame per second of the rate, and a frame
// lasts 1001 ticks: the header declares rate x 1000/1001, as NTSC-style streams do.
constexpr uint32_t FRAME_TIME_INCREMENT = 1001;

constexpr uint32_t ClampRate(uint32_t rate, uint32_t ceiling) {
  return std::min(std::max(rate, MIN_VOL_RATE), ceiling);
}

// Writes fields most significant bit first into a header, from a given byte on.
class BitWriter {
 public:
  constexpr BitWriter(VolHeader& header, size_t byteOffset)
      : m_header(header), m_bit(byteOffset * 8) {}

  constexpr void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if ((value >> i) & 1u) m_header[m_bit / 8] |= static_cast<uint8_t>(0x80u >> (m_bit % 8));
      ++m_bit;
    }
  }
  constexpr void Marker() { Put(1, 1); }
  // A 0 bit, then 1 bits to the end of the header.
  constexpr void Stuff() {
    Put(0, 1);
    while (m_bit < VOL_HEADER_SIZE * 8) Put(1, 1);
  }

 private:
  VolHeader& m_header;
  size_t m_bit;
};

constexpr VolHeader BuildVolHeader(uint32_t width, uint32_t height, uint32_t rate) {
  // Video object 0, then video object layer 0.
  VolHeader header = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20};
  const uint32_t resolution = 1000 * rate;
  BitWriter w(header, 8);
  w.Put(0, 1);  // random_accessible_vol
  w.Put(1, 8);  // video_object_type_indication: simple object
  w.Put(1, 1);  // is_object_layer_identifier
  w.Put(2, 4);  // video_object_layer_verid
  w.Put(1, 3);  // video_object_layer_priority
  w.Put(1, 4);  // aspect_ratio_info: square pixels
  w.Put(0, 1);  // vol_control_parameters
  w.Put(0, 2);  // video_object_layer_shape: rectangular
  w.Marker();
  w.Put(resolution, 16);  // vop_time_increment_resolution
  w.Marker();
  w.Put(1, 1);  // fixed_vop_rate
  w.Put(FRAME_TIME_INCREMENT, std::bit_width(resolution - 1));
  w.Marker();
  w.Put(width, 13);
  w.Marker();
  w.Put(height, 13);
  w.Marker();
  w.Put(0, 1);  // interlaced
  w.Put(1, 1);  // obmc_disable
  w.Put(0, 2);  // sprite_enable
  w.Put(0, 1);  // not_8_bit
  w.Put(0, 1);  // quant_type: H.263 quantisation
  w.Put(0, 1);  // quarter_sample
  w.Put(1, 1);  // complexity_estimation_disable
  w.Put(1, 1);  // resync_marker_disable
  w.Put(0, 1);  // data_partitioned
  w.Put(0, 1);  // newpred_enable
  w.Put(0, 1);  // reduced_resolution_vop_enable
  w.Put(0, 1);  // scalability
  w.Stuff();
  return header;
}

constexpr std::array<VolHeader, VOL_HEADER_COUNT> BuildVolHeaderTable() {
  std::array<VolHeader, VOL_HEADER_COUNT> table{};
  for (int code = 0; code < VOL_HEADER_CODES; ++code) {
    const PictureSize& size = PICTURE_SIZES[static_cast<size_t>(code)];
    for (uint32_t rate = 1; rate <= VOL_HEADER_RATES; ++rate) {
      table[static_cast<size_t>(code * VOL_HEADER_RATES) + rate - 1] =
          BuildVolHeader(size.width, size.height, ClampRate(rate, size.rateCeiling));
    }
  }
  return table;
}

}  // namespace

constexpr std::array<VolHeader, VOL_HEADER_COUNT> g_byVolHeaderTable = BuildVolHeaderTable();

namespace {

constexpr bool EntryIs(int code, int rate, const VolHeader& expected) {
  return g_byVolHeaderTable[static_cast<size_t>(code * VOL_HEADER_RATES + rate - 1)] == expected;
}

// Known-good entries: each width of the time-increment field, the 25 fps ceiling and the rate
// floor.
static_assert(EntryIs(0, 30, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC8, 0x88,
                              0xBA, 0x98, 0x60, 0xFA, 0x62, 0xD0, 0x87, 0x82, 0x83, 0x07}));
static_assert(EntryIs(1, 12, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC8, 0x88,
                              0x97, 0x70, 0x61, 0xF4, 0xC2, 0xC1, 0x07, 0x85, 0x06, 0x0F}));
static_assert(EntryIs(3, 30, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC8, 0x88,
                              0xB0, 0xD4, 0x60, 0xFA, 0x62, 0xD0, 0x89, 0x02, 0x83, 0x07}));
static_assert(EntryIs(5, 1, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC8, 0x88,
                             0x89, 0xC4, 0x63, 0xE9, 0x82, 0xC2, 0x09, 0x0A, 0x0C, 0x1F}));

}  // namespace

std::optional<PictureSize> PictureSizeOfCode(uint16_t code) {
  if (code >= VOL_HEADER_CODES) return std::nullopt;
  return PICTURE_SIZES[code];
}

uint32_t VolFrameRate(uint16_t code, uint32_t rate) {
  const std::optional<PictureSize> size = PictureSizeOfCode(code);
  return ClampRate(rate, size ? size->rateCeiling : ANY_SIZE_RATE_CEILING);
}

const uint8_t* GetVolHeader(int16_t code, int16_t rate) {
  const int32_t index = int32_t{code} * VOL_HEADER_RATES + (int32_t{rate} - 1);
  return g_byVolHeaderTable[static_cast<size_t>(index)].data();
}

std::optional<VolHeader> VolHeaderForRecording(uint16_t code, uint32_t rate, uint32_t infoWidth,
                                               uint32_t infoHeight) {
  if (PictureSizeOfCode(code)) {
    return g_byVolHeaderTable[static_cast<size_t>(code * VOL_HEADER_RATES) +
                              VolFrameRate(code, rate) - 1];
  }
  if (infoWidth == 0 || infoHeight == 0 || infoWidth >= DIMENSION_LIMIT ||
      infoHeight >= DIMENSION_LIMIT) {
    return std::nullopt;
  }
  return BuildVolHeader(infoWidth, infoHeight, VolFrameRate(code, rate));
}
