// Synthetic MPEG-4 frames of chosen sizes: real start codes and VOP headers, so that a parser
// (ours, or ffmpeg's when remuxing the .m4v twin) sees a well-formed stream, followed by filler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace bench {

class SyntheticFrames {
 public:
  // `resolution` and `increment`: the VOL header's vop_time_increment_resolution and its
  // fixed frame duration in those ticks; every frame lasts `increment` ticks.
  SyntheticFrames(uint32_t resolution, uint32_t increment);

  // The next frame of the stream, `size` bytes (at least kMinSize). An I-frame opens with a
  // group-of-VOP header (00 00 01 B3) and then its VOP (00 00 01 B6); a P-frame is a VOP
  // alone. The bytes stay valid until the next call.
  std::span<const uint8_t> Next(bool iframe, size_t size);

  static constexpr size_t kMinSize = 32;

 private:
  void PutGovHeader(uint64_t seconds);
  void PutVopHeader(bool iframe, uint64_t ticks);
  void PutFiller(size_t size);

  uint32_t m_resolution;
  uint32_t m_increment;
  int m_incrementBits;
  uint64_t m_frameCount = 0;
  uint64_t m_lastSeconds = 0;  // the time base the next VOP's modulo_time_base counts from
  std::vector<uint8_t> m_filler;
  uint32_t m_seed = 1;
  std::vector<uint8_t> m_frame;
};

}  // namespace bench
