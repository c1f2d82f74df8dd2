// A plain reader of raw recordings, the yardstick of the differential test of CMP4File.
//
// It holds the whole file in memory and reads it the straightforward way: every repositioning
// walks again from the first record, every record met is read whole, and the last I-frame is
// looked for by testing one candidate byte position after another from the trailer backwards.
// It is slow and meant to be obviously right; CMP4File, with its buffering, block search and
// record index, must give exactly its results, byte counts, position pairs and file positions.
//
// Where CMP4File settles a point the format leaves open, this reader settles it the same way:
// the I-frame test never looks past the end of a frame; a user-data video record whose
// dwLength is below 32 or whose byte count (dwLength + 12) does not fit in 32 bits cannot be
// read; no record is too large for a buffer; file offsets are 64-bit.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace reader_test {

class ReferenceReader {
 public:
  using Bytes = std::vector<uint8_t>;

  // Validates the header and the trailer's magic values and scans the time range; nullopt
  // when the bytes are no recording.
  static std::optional<ReferenceReader> Open(Bytes file);

  const Bytes& Header() const { return m_header; }  // 64 bytes as stored
  Bytes Info() const;                               // trailer bytes 4-55, times as scanned
  uint32_t IFrameNo() const { return m_nIFrameNo; }
  uint32_t FrameNo() const { return m_nFrameNo; }
  uint64_t FilePosition() const { return m_pos; }

  // The frame readers deliver into `buffer`, which grows as a record needs: the record is
  // buffer[0, byte count). They return the byte count and set *pdwDataType.
  uint32_t GetNextFrame(Bytes& buffer, uint32_t* pdwDataType);
  uint32_t GetNextIFrame(Bytes& buffer, uint32_t* pdwDataType);
  uint32_t SetCurrentPos(uint32_t a, uint32_t b);
  uint32_t GetPrevIFrame(Bytes& buffer, uint32_t* pdwDataType);
  uint32_t GetOneFrame(uint32_t a, Bytes& buffer, uint32_t* pdwDataType);

 private:
  enum class Kind { kVideo, kAux, kOther, kFailed };

  explicit ReferenceReader(Bytes file) : m_file(std::move(file)) {}

  uint32_t Layout() const;
  bool LayoutIsKnown() const;
  bool HasBytesLeft(uint64_t n) const;
  bool ReadExact(uint8_t* pDest, uint64_t n);
  bool ReadExact(Bytes& dest, uint64_t offset, uint64_t n);
  Kind ReadRecord(Bytes& dest, uint32_t* pdwCount, bool* pbIFrame);
  uint32_t Deliver(Kind kind, bool bIFrame, uint32_t dwCount, uint32_t* pdwDataType);
  uint64_t AnchorRecordSize() const;

  void ScanTimeRange();
  uint32_t FindLastIFrame(Bytes& buffer, uint32_t* pdwDataType);

  Bytes m_file;
  uint64_t m_pos = 0;
  Bytes m_header;
  Bytes m_info;
  uint32_t m_nIFrameNo = 0;
  uint32_t m_nFrameNo = 0;
  Bytes m_scratch;
  uint8_t m_tagRec[12] = {};
  uint8_t m_udRec[8] = {};
  uint8_t m_udFrameHdr[36] = {};
  uint8_t m_auxLen[4] = {};
};

}  // namespace reader_test
