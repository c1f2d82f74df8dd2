// Where the video records of a recording lie, as a walk from the first record meets them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

// Every walk from the first record (offset 64) meets the same records in the same order, so
// what one walk learns serves all later ones: the reader records each video record it parses
// and where the walk ends, and repositioning then jumps instead of walking again.
//
// Costs 12 bytes per video record and 4 per I-frame; records that are not video cost nothing.
// The entries live in deques, which grow by small blocks: a vector would double, holding up to
// twice what it needs and, while it moves, three times.
class RecordIndex {
 public:
  // `headerSize` is the bytes in front of a video record's data: 12 (tagged) or 44 (user data).
  explicit RecordIndex(uint32_t headerSize) : m_headerSize(headerSize) {}

  struct Video {
    uint64_t start;  // offset of the record header
    uint64_t end;    // offset right behind the record
    bool iframe;
  };

  size_t VideoCount() const { return m_starts.size(); }
  size_t IFrameCount() const { return m_iframes.size(); }
  Video VideoAt(size_t i) const {
    const uint64_t start = m_starts[i] & ~kIFrameBit;
    return {start, start + m_headerSize + m_dataSizes[i], (m_starts[i] & kIFrameBit) != 0};
  }
  // Index (among the video records) of the k-th I-frame, k counting from 0.
  size_t IFrameAt(size_t k) const { return m_iframes[k]; }

  // Where parsing goes on, and, once the walk has failed, the file position it fails at.
  uint64_t ParsedUpTo() const { return m_parsedUpTo; }
  const std::optional<uint64_t>& EndsAt() const { return m_endsAt; }

  // Records a parsed record; `next` is where the following one starts.
  void AddVideo(uint64_t start, uint32_t dataSize, bool iframe, uint64_t next);
  void AddOther(uint64_t next) { m_parsedUpTo = next; }
  void End(uint64_t failurePosition) { m_endsAt = failurePosition; }

 private:
  static constexpr uint64_t kIFrameBit = uint64_t{1} << 63;

  uint32_t m_headerSize;
  std::deque<uint64_t> m_starts;  // with the I-frame mark in the top bit
  std::deque<uint32_t> m_dataSizes;
  std::deque<uint32_t> m_iframes;
  uint64_t m_parsedUpTo = 64;
  std::optional<uint64_t> m_endsAt;
};
