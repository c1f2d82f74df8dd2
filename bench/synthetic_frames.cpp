#include "bench/synthetic_frames.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace bench {

namespace {

constexpr uint8_t kGovStartCode[4] = {0x00, 0x00, 0x01, 0xB3};
constexpr uint8_t kVopStartCode[4] = {0x00, 0x00, 0x01, 0xB6};
// Filler is cut from one pool at varying offsets: generating gigabytes byte by byte would
// make the generator slower than what it feeds.
constexpr size_t kFillerPoolSize = size_t{4} << 20;
constexpr uint32_t kVopQuant = 8;
constexpr uint32_t kForwardFcode = 1;

uint32_t NextRandom(uint32_t& seed) {
  seed = seed * 1103515245u + 12345u;
  return seed >> 8;
}

// Appends fields most significant bit first; the last byte is completed with 1 bits, which
// can never help to form a start code.
class BitPacker {
 public:
  explicit BitPacker(std::vector<uint8_t>& out) : m_out(out) {}
  ~BitPacker() {
    if (m_bits > 0) m_out.push_back(static_cast<uint8_t>(m_byte | (0xFFu >> m_bits)));
  }
  BitPacker(const BitPacker&) = delete;
  BitPacker& operator=(const BitPacker&) = delete;

  void Put(uint64_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      m_byte = static_cast<uint8_t>(m_byte | (((value >> i) & 1u) << (7 - m_bits)));
      if (++m_bits == 8) {
        m_out.push_back(m_byte);
        m_byte = 0;
        m_bits = 0;
      }
    }
  }
  void Marker() { Put(1, 1); }

 private:
  std::vector<uint8_t>& m_out;
  uint8_t m_byte = 0;
  int m_bits = 0;
};

}  // namespace

SyntheticFrames::SyntheticFrames(uint32_t resolution, uint32_t increment)
    : m_resolution(resolution),
      m_increment(increment),
      m_incrementBits(std::max(1, static_cast<int>(std::bit_width(resolution - 1)))),
      m_filler(kFillerPoolSize) {
  // Bytes 0x10-0x4F: never 00, so the filler never forms 00 00 01, nor the tag 'Z' the
  // reader's last-I-frame search looks for.
  for (auto& b : m_filler) b = static_cast<uint8_t>(0x10 + NextRandom(m_seed) % 0x40);
}

void SyntheticFrames::PutGovHeader(uint64_t seconds) {
  m_frame.insert(m_frame.end(), kGovStartCode, kGovStartCode + 4);
  BitPacker bits(m_frame);
  bits.Put(seconds / 3600 % 24, 5);  // time_code_hours
  bits.Put(seconds / 60 % 60, 6);    // time_code_minutes
  bits.Marker();
  bits.Put(seconds % 60, 6);  // time_code_seconds
  bits.Put(1, 1);             // closed_gov
  bits.Put(0, 1);             // broken_link
  bits.Put(0, 1);             // next_start_code: a 0, then 1s to the byte boundary
}

void SyntheticFrames::PutVopHeader(bool iframe, uint64_t ticks) {
  const uint64_t seconds = ticks / m_resolution;
  m_frame.insert(m_frame.end(), kVopStartCode, kVopStartCode + 4);
  BitPacker bits(m_frame);
  bits.Put(iframe ? 0 : 1, 2);                                        // vop_coding_type: I or P
  for (uint64_t s = m_lastSeconds; s < seconds; ++s) bits.Put(1, 1);  // modulo_time_base
  bits.Put(0, 1);
  bits.Marker();
  bits.Put(ticks % m_resolution, m_incrementBits);  // vop_time_increment
  bits.Marker();
  bits.Put(1, 1);                           // vop_coded
  if (!iframe) bits.Put(0, 1);              // vop_rounding_type
  bits.Put(0, 3);                           // intra_dc_vlc_thr
  bits.Put(kVopQuant, 5);                   // vop_quant
  if (!iframe) bits.Put(kForwardFcode, 3);  // vop_fcode_forward
  m_lastSeconds = seconds;
}

void SyntheticFrames::PutFiller(size_t size) {
  while (size > 0) {
    const size_t n = std::min(size, kFillerPoolSize / 2);
    const size_t at = NextRandom(m_seed) % (kFillerPoolSize - n + 1);
    m_frame.insert(m_frame.end(), m_filler.begin() + static_cast<ptrdiff_t>(at),
                   m_filler.begin() + static_cast<ptrdiff_t>(at + n));
    size -= n;
  }
}

std::span<const uint8_t> SyntheticFrames::Next(bool iframe, size_t size) {
  size = std::max(size, kMinSize);
  const uint64_t ticks = m_frameCount++ * m_increment;
  m_frame.clear();
  if (iframe) {
    // A group of VOPs restarts the time base at its time code.
    m_lastSeconds = ticks / m_resolution;
    PutGovHeader(m_lastSeconds);
  }
  PutVopHeader(iframe, ticks);
  PutFiller(size - std::min(size, m_frame.size()));
  return {m_frame.data(), m_frame.size()};
}

}  // namespace bench
