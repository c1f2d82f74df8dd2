#include "tests/reader/reference_reader.h"

#include <cstring>
#include <utility>

#include "reader/mp4_format.h"

namespace reader_test {
namespace {

constexpr uint64_t kFirstRecord = 64;
constexpr uint64_t kTrailerSize = 56;

// Byte-wise on purpose: this reader shares no decoding with CMP4File.
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool IsGovStartCode(const uint8_t* p) { return std::memcmp(p, MP4_GOV_START_CODE, 4) == 0; }

bool IsTagVideo(const uint8_t* rec) {
  return std::memcmp(rec, "ZEVO", 4) == 0 && Le32(rec + 4) == MP4_TAG_TYPE_VIDEO;
}

bool IsUdRecord(const uint8_t* rec, uint32_t dwKind) {
  return std::memcmp(rec, MP4_UD_START_CODE, 4) == 0 && Le32(rec + 4) == dwKind;
}

// A user-data video record needs a dwLength that covers the rest of its frame header, and a
// byte count (dwLength + 12) that can be reported in 32 bits.
bool IsReadableUdLength(uint32_t dwLength) { return dwLength >= 32 && dwLength <= 0xFFFFFFFF - 12; }

uint32_t TimeOf(uint32_t dwDataType, const ReferenceReader::Bytes& frame) {
  if (dwDataType == MP4_DATA_TAG_VIDEO) {
    return static_cast<uint32_t>(frame[5] | frame[7] << 8 | frame[9] << 16) |
           static_cast<uint32_t>(frame[11]) << 24;
  }
  if (dwDataType == MP4_DATA_UD_VIDEO) return Le32(&frame[12]);
  return 0;
}

uint32_t EndWithNone(uint32_t* pdwDataType) {
  *pdwDataType = MP4_DATA_NONE;
  return 0;
}

}  // namespace

std::optional<ReferenceReader> ReferenceReader::Open(Bytes file) {
  ReferenceReader reader(std::move(file));
  reader.m_header.resize(64);
  if (!reader.ReadExact(reader.m_header.data(), 64)) return std::nullopt;
  reader.m_pos = reader.m_file.size() - kTrailerSize;  // the file holds at least 64 bytes
  reader.m_info.resize(kTrailerSize);
  if (!reader.ReadExact(reader.m_info.data(), kTrailerSize)) return std::nullopt;
  if (Le32(&reader.m_info[4]) != MP4_INFO_MAGIC || Le32(&reader.m_info[8]) != MP4_INFO_MAGIC2) {
    return std::nullopt;
  }
  reader.ScanTimeRange();
  reader.m_pos = kFirstRecord;
  reader.m_nIFrameNo = 0;
  reader.m_nFrameNo = 0;
  return reader;
}

ReferenceReader::Bytes ReferenceReader::Info() const {
  return Bytes(m_info.begin() + 4, m_info.end());
}

uint32_t ReferenceReader::Layout() const { return Le32(&m_header[4]); }

bool ReferenceReader::LayoutIsKnown() const {
  return Layout() == MP4_LAYOUT_TAGGED || Layout() == MP4_LAYOUT_USERDATA;
}

bool ReferenceReader::HasBytesLeft(uint64_t n) const {
  return m_pos <= m_file.size() && m_file.size() - m_pos >= n;
}

bool ReferenceReader::ReadExact(uint8_t* pDest, uint64_t n) {
  if (!HasBytesLeft(n)) return false;
  if (n > 0) std::memcpy(pDest, m_file.data() + m_pos, n);
  m_pos += n;
  return true;
}

bool ReferenceReader::ReadExact(Bytes& dest, uint64_t offset, uint64_t n) {
  if (!HasBytesLeft(n)) return false;
  if (dest.size() < offset + n) dest.resize(offset + n);
  return ReadExact(dest.data() + offset, n);
}

// Reads the record at the file position whole. A video record lands in `dest` as the frame
// readers deliver it (tagged: the payload; user data: both headers, then the frame data from
// byte 44), auxiliary data from byte 0; a tagged record that is no video record is passed over
// through the scratch buffer. Sets the byte count a delivery reports, and the I-frame test's
// result for a video record.
ReferenceReader::Kind ReferenceReader::ReadRecord(Bytes& dest, uint32_t* pdwCount, bool* pbIFrame) {
  *pdwCount = 0;
  *pbIFrame = false;
  if (Layout() == MP4_LAYOUT_TAGGED) {
    if (!ReadExact(m_tagRec, sizeof m_tagRec)) return Kind::kFailed;
    const uint32_t dwLength = Le32(m_tagRec + 8);
    if (!IsTagVideo(m_tagRec)) {
      return ReadExact(m_scratch, 0, dwLength) ? Kind::kOther : Kind::kFailed;
    }
    if (!ReadExact(dest, 0, dwLength)) return Kind::kFailed;
    *pbIFrame = dwLength >= 20 && IsGovStartCode(&dest[16]);
    *pdwCount = dwLength;
    return Kind::kVideo;
  }

  if (!ReadExact(m_udRec, sizeof m_udRec)) return Kind::kFailed;
  if (IsUdRecord(m_udRec, MP4_UD_KIND_VIDEO)) {
    if (!ReadExact(m_udFrameHdr, sizeof m_udFrameHdr)) return Kind::kFailed;
    const uint32_t dwLength = Le32(m_udFrameHdr);
    if (!IsReadableUdLength(dwLength) || !ReadExact(dest, 44, dwLength - 32)) return Kind::kFailed;
    std::memcpy(dest.data(), m_udRec, sizeof m_udRec);
    std::memcpy(dest.data() + 8, m_udFrameHdr, sizeof m_udFrameHdr);
    *pbIFrame = dwLength - 32 >= 35 && IsGovStartCode(&dest[75]);
    *pdwCount = dwLength + 12;
    return Kind::kVideo;
  }
  if (IsUdRecord(m_udRec, MP4_UD_KIND_AUX)) {
    if (!ReadExact(m_auxLen, sizeof m_auxLen)) return Kind::kFailed;
    const uint32_t dwAuxLength = Le32(m_auxLen);
    if (!ReadExact(dest, 0, dwAuxLength)) return Kind::kFailed;
    *pdwCount = dwAuxLength;
    return Kind::kAux;
  }
  return Kind::kOther;  // eight bytes that are no record: consumed, the next eight are tried
}

uint32_t ReferenceReader::Deliver(Kind kind, bool bIFrame, uint32_t dwCount,
                                  uint32_t* pdwDataType) {
  if (kind == Kind::kAux) {
    *pdwDataType = MP4_DATA_UD_AUX;
    return dwCount;
  }
  *pdwDataType = Layout() == MP4_LAYOUT_TAGGED ? MP4_DATA_TAG_VIDEO : MP4_DATA_UD_VIDEO;
  if (bIFrame) {
    ++m_nIFrameNo;
    m_nFrameNo = 0;
  } else {
    ++m_nFrameNo;
  }
  return dwCount;
}

uint32_t ReferenceReader::GetNextFrame(Bytes& buffer, uint32_t* pdwDataType) {
  if (!LayoutIsKnown()) return EndWithNone(pdwDataType);
  for (;;) {
    if (m_pos >= m_file.size()) return EndWithNone(pdwDataType);
    uint32_t dwCount = 0;
    bool bIFrame = false;
    const Kind kind = ReadRecord(buffer, &dwCount, &bIFrame);
    if (kind == Kind::kFailed) return EndWithNone(pdwDataType);
    if (kind != Kind::kOther) return Deliver(kind, bIFrame, dwCount, pdwDataType);
  }
}

// No end test of its own: the walk ends when a read fails.
uint32_t ReferenceReader::GetNextIFrame(Bytes& buffer, uint32_t* pdwDataType) {
  if (!LayoutIsKnown()) return EndWithNone(pdwDataType);
  for (;;) {
    uint32_t dwCount = 0;
    bool bIFrame = false;
    const Kind kind = ReadRecord(buffer, &dwCount, &bIFrame);
    if (kind == Kind::kFailed) return EndWithNone(pdwDataType);
    if (kind == Kind::kVideo && bIFrame) return Deliver(kind, bIFrame, dwCount, pdwDataType);
  }
}

// The size of the video record whose headers were read last.
uint64_t ReferenceReader::AnchorRecordSize() const {
  return uint64_t{Layout() == MP4_LAYOUT_TAGGED ? Le32(m_tagRec + 8) : Le32(m_udFrameHdr)} + 12;
}

uint32_t ReferenceReader::SetCurrentPos(uint32_t a, uint32_t b) {
  if (a == 0 && b == 0) {
    m_pos = kFirstRecord;
    m_nIFrameNo = 0;
    m_nFrameNo = 0;
    return 1;
  }
  m_pos = kFirstRecord;
  if (!LayoutIsKnown()) return 0;

  // The anchor of group a: the first video record at which the I-frame count equals a.
  uint32_t dwIFrames = 0;
  uint64_t consumed = 0;
  for (;;) {
    const uint64_t before = m_pos;
    uint32_t dwCount = 0;
    bool bIFrame = false;
    const Kind kind = ReadRecord(m_scratch, &dwCount, &bIFrame);
    if (kind == Kind::kFailed) return 0;
    consumed += m_pos - before;
    if (kind != Kind::kVideo) continue;
    if (bIFrame) ++dwIFrames;
    if (dwIFrames == a) break;
  }
  m_nIFrameNo = dwIFrames - 1;  // for a = 0 this wraps, and b is not 0: set again below
  m_pos = kFirstRecord + consumed - AnchorRecordSize();
  if (b == 0) {
    m_nFrameNo = 0;
    return 1;
  }

  // Then b video records from the anchor on, the anchor being the first.
  m_nIFrameNo = a;
  uint32_t dwFrames = 0;
  for (;;) {
    uint32_t dwCount = 0;
    bool bIFrame = false;
    const Kind kind = ReadRecord(m_scratch, &dwCount, &bIFrame);
    if (kind == Kind::kFailed) return 0;
    if (kind == Kind::kVideo && ++dwFrames == b) {
      m_nFrameNo = b;
      return 1;
    }
  }
}

uint32_t ReferenceReader::GetPrevIFrame(Bytes& buffer, uint32_t* pdwDataType) {
  if (m_nIFrameNo == 0) return EndWithNone(pdwDataType);
  const uint32_t t = m_nIFrameNo - 1;
  m_pos = kFirstRecord;
  if (!LayoutIsKnown()) return EndWithNone(pdwDataType);
  uint32_t dwIFrames = 0;
  for (;;) {
    uint32_t dwCount = 0;
    bool bIFrame = false;
    const Kind kind = ReadRecord(m_scratch, &dwCount, &bIFrame);
    if (kind == Kind::kFailed) return EndWithNone(pdwDataType);
    if (kind != Kind::kVideo) continue;
    if (bIFrame) ++dwIFrames;
    if (dwIFrames == t) {
      if (buffer.size() < dwCount) buffer.resize(dwCount);
      if (dwCount > 0) std::memcpy(buffer.data(), m_scratch.data(), dwCount);
      *pdwDataType = Layout() == MP4_LAYOUT_TAGGED ? MP4_DATA_TAG_VIDEO : MP4_DATA_UD_VIDEO;
      m_nIFrameNo = t;
      m_nFrameNo = 0;
      return dwCount;
    }
  }
}

uint32_t ReferenceReader::GetOneFrame(uint32_t a, Bytes& buffer, uint32_t* pdwDataType) {
  const uint32_t s = m_nIFrameNo;
  uint32_t dwCount = 0;
  if (SetCurrentPos(a, 0) == 1) {
    dwCount = GetNextIFrame(buffer, pdwDataType);
  } else {
    *pdwDataType = MP4_DATA_NONE;
  }
  SetCurrentPos(s, 0);
  return dwCount;
}

void ReferenceReader::ScanTimeRange() {
  m_pos = kFirstRecord;
  uint32_t dwDataType = MP4_DATA_NONE;
  GetNextIFrame(m_scratch, &dwDataType);
  const uint32_t dwStartTime = TimeOf(dwDataType, m_scratch);
  dwDataType = MP4_DATA_NONE;
  FindLastIFrame(m_scratch, &dwDataType);
  const uint32_t dwEndTime = TimeOf(dwDataType, m_scratch);
  PutLe32(&m_info[12], dwStartTime);
  PutLe32(&m_info[16], dwEndTime);
}

// Tests candidate record starts from just before the trailer backwards, one byte at a time,
// until one holds a complete I-frame record; a candidate that fails never lets the search
// jump, whatever it held.
uint32_t ReferenceReader::FindLastIFrame(Bytes& buffer, uint32_t* pdwDataType) {
  if (!LayoutIsKnown()) return 0;
  const bool bTagged = Layout() == MP4_LAYOUT_TAGGED;
  const uint64_t headerSize = bTagged ? sizeof m_tagRec : sizeof m_udRec;
  for (uint64_t k = 0;; ++k) {
    const uint64_t length = m_file.size();
    if (length < kTrailerSize + headerSize + k) return 0;  // the seek would precede the file
    m_pos = length - kTrailerSize - headerSize - k;
    if (bTagged) {
      if (!ReadExact(m_tagRec, sizeof m_tagRec) || !IsTagVideo(m_tagRec)) continue;
      const uint32_t dwLength = Le32(m_tagRec + 8);
      if (!ReadExact(buffer, 0, dwLength) || dwLength < 20 || !IsGovStartCode(&buffer[16])) {
        continue;
      }
      *pdwDataType = MP4_DATA_TAG_VIDEO;
      return dwLength;
    }
    if (!ReadExact(m_udRec, sizeof m_udRec) || !IsUdRecord(m_udRec, MP4_UD_KIND_VIDEO)) continue;
    if (!ReadExact(m_udFrameHdr, sizeof m_udFrameHdr)) continue;
    const uint32_t dwLength = Le32(m_udFrameHdr);
    if (!IsReadableUdLength(dwLength) || !ReadExact(buffer, 44, dwLength - 32)) continue;
    if (dwLength - 32 < 35 || !IsGovStartCode(&buffer[75])) continue;
    std::memcpy(buffer.data(), m_udRec, sizeof m_udRec);
    std::memcpy(buffer.data() + 8, m_udFrameHdr, sizeof m_udFrameHdr);
    *pdwDataType = MP4_DATA_UD_VIDEO;
    return dwLength + 12;
  }
}

}  // namespace reader_test
