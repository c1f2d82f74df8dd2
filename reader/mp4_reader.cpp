#include "reader/mp4_reader.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr size_t kMarkSize = sizeof(MP4_GOV_START_CODE);

uint32_t EndWithNone(uint32_t* pdwDataType) {
  *pdwDataType = MP4_DATA_NONE;
  return 0;
}

}  // namespace

CMP4File::~CMP4File() { Destroy(); }

std::unique_ptr<CMP4File> CMP4File::Open(const std::string& path, std::string* pWhy) {
  std::string why;
  std::unique_ptr<CMP4File> reader;
  try {
    reader = std::make_unique<CMP4File>(OpenKey());
    if (reader->DoOpen(path, &why)) return reader;
  } catch (const std::bad_alloc&) {
    why = "out of memory";
  } catch (const std::exception& e) {
    why = e.what();
  }
  if (pWhy) *pWhy = why;
  return nullptr;  // `reader`, if any, is destroyed here: file closed, buffers released
}

bool CMP4File::DoOpen(const std::string& path, std::string* pWhy) {
  m_bBusy = 0;
  m_pHeader = std::make_unique<MP4FILEHEADER>();
  m_pInfo = std::make_unique<MP4FILEINFO>();
  m_pTagRec = std::make_unique<MP4TAGRECORD>();
  m_pUdRec = std::make_unique<MP4UDRECORD>();
  m_pUdFrameHdr = std::make_unique<MP4UDFRAMEHEADER>();
  m_pAuxLen = std::make_unique<uint8_t[]>(4);

  m_pFile = std::make_unique<platform::ExclusiveFile>(path);  // throws FileError with a reason
  // No record the reader reads for its own use can be longer than the file: a small file
  // needs no full-size scratch buffer. It still holds the 79 bytes of a record's head.
  m_nScratchSize = std::clamp<uint64_t>(m_pFile->Length(), 128, MP4_SCRATCH_SIZE);
  m_pScratch = std::make_unique<uint8_t[]>(m_nScratchSize);  // zero-filled
  if (!ReadExact(m_pHeader.get(), sizeof(MP4FILEHEADER))) {
    *pWhy = path + ": too short for a raw recording";
    return false;
  }
  m_pFile->Seek(m_pFile->Length() - sizeof(MP4FILEINFO));
  if (!ReadExact(m_pInfo.get(), sizeof(MP4FILEINFO))) {
    *pWhy = path + ": cannot read the info trailer";
    return false;
  }
  if (m_pInfo->Magic() != MP4_INFO_MAGIC || m_pInfo->Magic2() != MP4_INFO_MAGIC2) {
    *pWhy = path + ": not a raw recording (no info trailer)";
    return false;
  }
  ScanTimeRange();
  m_pFile->Seek(MP4_RECORD_AREA_OFFSET);
  m_nIFrameNo = 0;
  m_nFrameNo = 0;
  return true;
}

void CMP4File::Destroy() noexcept {
  m_pScratch.reset();
  m_pHeader.reset();
  m_pInfo.reset();
  m_pTagRec.reset();
  m_pUdRec.reset();
  m_pUdFrameHdr.reset();
  m_pAuxLen.reset();
  m_pFile.reset();  // closes the file and releases the lock
}

uint64_t CMP4File::FilePosition() const { return m_pFile->Position(); }
uint64_t CMP4File::FileLength() const { return m_pFile->Length(); }

bool CMP4File::HasBytesLeft(uint64_t n) const {
  const uint64_t length = m_pFile->Length();
  const uint64_t position = m_pFile->Position();
  return position <= length && length - position >= n;
}

bool CMP4File::ReadExact(void* pBuffer, size_t n) {
  try {
    if (!HasBytesLeft(n)) return false;
    return n == 0 || m_pFile->Read(pBuffer, n) == n;
  } catch (const platform::FileError&) {
    return false;
  }
}

void CMP4File::Skip(uint64_t n) { m_pFile->Seek(m_pFile->Position() + n); }

void CMP4File::WaitWhileBusy() const {
  while (m_bBusy.load()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void CMP4File::CountDelivered(bool bIFrame) {
  if (bIFrame) {
    ++m_nIFrameNo;
    m_nFrameNo = 0;
  } else {
    ++m_nFrameNo;
  }
}

bool CMP4File::ReadFrameData(FrameDest& dest, size_t offset, uint32_t n, size_t markOffset,
                             bool bOnlyIFrame, bool* pbIFrame) {
  *pbIFrame = false;
  if (!HasBytesLeft(n)) return false;
  // First the bytes up to the end of the I-frame mark, which decide what happens to the rest.
  const size_t head = std::min<size_t>(n, markOffset + kMarkSize);
  size_t room = dest.Prepare(offset + head);
  const size_t take = room > offset ? std::min(head, room - offset) : 0;
  if (!ReadExact(dest.Data() + offset, take)) return false;
  *pbIFrame = take == markOffset + kMarkSize &&
              std::memcmp(dest.Data() + offset + markOffset, MP4_GOV_START_CODE, kMarkSize) == 0;
  if (take == n) return true;
  if (bOnlyIFrame && !*pbIFrame) {
    Skip(n - take);
    return true;
  }
  room = dest.Prepare(offset + n);
  const size_t more = room > offset + take ? std::min<size_t>(n - take, room - offset - take) : 0;
  if (!ReadExact(dest.Data() + offset + take, more)) return false;
  Skip(n - take - more);  // a Bounded destination keeps only what fits
  return true;
}

uint32_t CMP4File::GetNextFrame(FrameDest dest, uint32_t* pdwDataType) {
  return ReadNext(dest, pdwDataType, false);
}

uint32_t CMP4File::GetNextIFrame(FrameDest dest, uint32_t* pdwDataType) {
  return ReadNext(dest, pdwDataType, true);
}

uint32_t CMP4File::ReadNext(FrameDest& dest, uint32_t* pdwDataType, bool bIFrameOnly) {
  const uint32_t layout = m_pHeader->Layout();
  if (layout != MP4_LAYOUT_TAGGED && layout != MP4_LAYOUT_USERDATA) {
    return EndWithNone(pdwDataType);
  }
  try {
    for (;;) {
      if (!m_pFile->IsOpen()) return EndWithNone(pdwDataType);
      // The I-frame search has no end test of its own: its next header read fails instead.
      if (!bIFrameOnly && m_pFile->Position() >= m_pFile->Length()) {
        return EndWithNone(pdwDataType);
      }
      WaitWhileBusy();
      uint32_t dwCount = 0;
      const Outcome outcome = layout == MP4_LAYOUT_TAGGED
                                  ? ReadTaggedRecord(dest, bIFrameOnly, &dwCount, pdwDataType)
                                  : ReadUserDataRecord(dest, bIFrameOnly, &dwCount, pdwDataType);
      if (outcome == Outcome::kDelivered) return dwCount;
      if (outcome == Outcome::kFailed) return EndWithNone(pdwDataType);
    }
  } catch (...) {  // file errors, and a Growable destination that cannot grow
    return EndWithNone(pdwDataType);
  }
}

// One record of the tagged layout: a video record is delivered (or, by the I-frame search,
// passed over when it is no I-frame); any other record is passed over.
CMP4File::Outcome CMP4File::ReadTaggedRecord(FrameDest& dest, bool bIFrameOnly, uint32_t* pdwCount,
                                             uint32_t* pdwDataType) {
  if (!ReadExact(m_pTagRec.get(), sizeof(MP4TAGRECORD))) return Outcome::kFailed;
  if (m_pTagRec->IsVideo()) return DeliverTaggedVideo(dest, bIFrameOnly, pdwCount, pdwDataType);
  const uint32_t n = m_pTagRec->Length();
  if (!HasBytesLeft(n)) return Outcome::kFailed;
  Skip(n);
  return Outcome::kPassedOver;
}

// The record header is in m_pTagRec. Reads the payload and delivers it, unless it is passed
// over (bIFrameOnly and no I-frame).
CMP4File::Outcome CMP4File::DeliverTaggedVideo(FrameDest& dest, bool bIFrameOnly,
                                               uint32_t* pdwCount, uint32_t* pdwDataType) {
  const uint32_t n = m_pTagRec->Length();
  bool bIFrame = false;
  if (!ReadFrameData(dest, 0, n, MP4_TAG_IFRAME_MARK_OFFSET, bIFrameOnly, &bIFrame)) {
    return Outcome::kFailed;
  }
  if (bIFrameOnly && !bIFrame) return Outcome::kPassedOver;
  CountDelivered(bIFrame);
  *pdwDataType = MP4_DATA_TAG_VIDEO;
  *pdwCount = n;
  return Outcome::kDelivered;
}

// One 8-byte unit of the user-data layout: a video record as in the tagged layout; an
// auxiliary record delivered (passed over by the I-frame search); anything else consumed, so
// that the next eight bytes are tried.
CMP4File::Outcome CMP4File::ReadUserDataRecord(FrameDest& dest, bool bIFrameOnly,
                                               uint32_t* pdwCount, uint32_t* pdwDataType) {
  if (!ReadExact(m_pUdRec.get(), sizeof(MP4UDRECORD))) return Outcome::kFailed;
  if (m_pUdRec->IsVideo()) return DeliverUdVideo(dest, bIFrameOnly, pdwCount, pdwDataType);
  if (!m_pUdRec->IsAux()) return Outcome::kPassedOver;
  if (!ReadExact(m_pAuxLen.get(), 4)) return Outcome::kFailed;
  const uint32_t dwAuxLength = platform::LoadLe32(m_pAuxLen.get());
  if (!HasBytesLeft(dwAuxLength)) return Outcome::kFailed;
  if (bIFrameOnly) {
    Skip(dwAuxLength);
    return Outcome::kPassedOver;
  }
  const size_t take = std::min<size_t>(dest.PrepareAux(dwAuxLength), dwAuxLength);
  if (!ReadExact(dest.Data(), take)) return Outcome::kFailed;
  Skip(dwAuxLength - take);
  *pdwDataType = MP4_DATA_UD_AUX;
  *pdwCount = dwAuxLength;
  return Outcome::kDelivered;
}

// The record is in m_pUdRec. Reads the frame header and the data; as DeliverTaggedVideo.
CMP4File::Outcome CMP4File::DeliverUdVideo(FrameDest& dest, bool bIFrameOnly, uint32_t* pdwCount,
                                           uint32_t* pdwDataType) {
  if (!ReadExact(m_pUdFrameHdr.get(), sizeof(MP4UDFRAMEHEADER))) return Outcome::kFailed;
  const uint32_t dwLength = m_pUdFrameHdr->Length();
  // A length below 32 has no data count, and one whose byte count (+12) does not fit in
  // 32 bits cannot be reported: either record is unreadable.
  if (dwLength < MP4_UD_FRAME_LENGTH_BIAS || dwLength > UINT32_MAX - 12) {
    return Outcome::kFailed;
  }
  bool bIFrame = false;
  if (!ReadFrameData(dest, MP4_UD_HEADERS_SIZE, dwLength - MP4_UD_FRAME_LENGTH_BIAS,
                     MP4_UD_IFRAME_MARK_OFFSET, bIFrameOnly, &bIFrame)) {
    return Outcome::kFailed;
  }
  if (bIFrameOnly && !bIFrame) return Outcome::kPassedOver;
  CountDelivered(bIFrame);
  uint8_t* out = dest.Data();
  std::memcpy(out, m_pUdRec.get(), sizeof(MP4UDRECORD));
  std::memcpy(out + sizeof(MP4UDRECORD), m_pUdFrameHdr.get(), sizeof(MP4UDFRAMEHEADER));
  *pdwDataType = MP4_DATA_UD_VIDEO;
  *pdwCount = dwLength + 12;
  return Outcome::kDelivered;
}

void CMP4File::ScanTimeRange() {
  uint32_t dwStartTime = 0;
  uint32_t dwEndTime = 0;
  const auto timeOf = [&](uint32_t dwDataType, uint32_t* pdwTime) {
    if (dwDataType == MP4_DATA_TAG_VIDEO) *pdwTime = MP4TAGFRAMEHEADER::TimeOf(m_pScratch.get());
    if (dwDataType == MP4_DATA_UD_VIDEO) *pdwTime = platform::LoadLe32(m_pScratch.get() + 12);
  };
  try {
    m_pFile->Seek(MP4_RECORD_AREA_OFFSET);
  } catch (const platform::FileError&) {
    return;
  }
  uint32_t dwDataType = MP4_DATA_NONE;
  GetNextIFrame(FrameDest::Bounded(m_pScratch.get(), m_nScratchSize), &dwDataType);
  timeOf(dwDataType, &dwStartTime);
  dwDataType = MP4_DATA_NONE;
  FindLastIFrame(m_pScratch.get(), &dwDataType);
  timeOf(dwDataType, &dwEndTime);
  platform::StoreLe32(m_pInfo->dwStartTime, dwStartTime);
  platform::StoreLe32(m_pInfo->dwEndTime, dwEndTime);
}

// The last I-frame is the highest candidate record start, below the trailer, that holds a
// complete I-frame record. A candidate can only start with its layout's fixed eight bytes (tag
// and type, or start code and kind), so the search reads the file backwards in large blocks,
// finds those patterns, and verifies only them, highest first: the result is that of testing
// every byte position in turn, without a seek and a read for each.
uint32_t CMP4File::FindLastIFrame(uint8_t* pBuffer, uint32_t* pdwDataType) {
  try {
    uint8_t pattern[8];
    size_t headerSize = 0;
    size_t rareByte = 0;  // the pattern byte least likely in video data, searched with memrchr
    switch (m_pHeader->Layout()) {
      case MP4_LAYOUT_TAGGED:
        std::memcpy(pattern, MP4_TAG_VIDEO, 4);
        platform::StoreLe32(pattern + 4, MP4_TAG_TYPE_VIDEO);
        headerSize = sizeof(MP4TAGRECORD);
        rareByte = 0;  // 'Z'
        break;
      case MP4_LAYOUT_USERDATA:
        std::memcpy(pattern, MP4_UD_START_CODE, 4);
        platform::StoreLe32(pattern + 4, MP4_UD_KIND_VIDEO);
        headerSize = sizeof(MP4UDRECORD);
        rareByte = 3;  // 0xB2
        break;
      default:
        return 0;
    }
    const uint64_t length = m_pFile->Length();
    if (length < sizeof(MP4FILEINFO) + headerSize) return 0;
    uint64_t highest = length - sizeof(MP4FILEINFO) - headerSize;
    const size_t kBlockSize = static_cast<size_t>(std::min<uint64_t>(1 << 20, highest + 8));
    std::vector<uint8_t> block(kBlockSize);
    // Candidates start at offsets 0..highest; each block covers the next candidates down,
    // plus the 7 bytes of overlap that a pattern starting at its top needs.
    for (;;) {
      const uint64_t end = highest + sizeof(pattern);
      const uint64_t start = end > kBlockSize ? end - kBlockSize : 0;
      const size_t size = static_cast<size_t>(end - start);
      m_pFile->Seek(start);
      if (m_pFile->Read(block.data(), size) != size) return 0;
      size_t searchEnd = static_cast<size_t>(highest - start) + 1;  // candidate starts < this
      while (searchEnd > 0) {
        const void* hit = memrchr(block.data() + rareByte, pattern[rareByte], searchEnd);
        if (hit == nullptr) break;
        const size_t at =
            static_cast<size_t>(static_cast<const uint8_t*>(hit) - block.data()) - rareByte;
        if (std::memcmp(block.data() + at, pattern, sizeof(pattern)) == 0) {
          uint32_t dwCount = 0;
          if (TryLastIFrameCandidate(start + at, block.data() + at, size - at, pBuffer, pdwDataType,
                                     &dwCount)) {
            return dwCount;
          }
        }
        searchEnd = at;
      }
      if (start == 0) return 0;
      highest = start - 1;
    }
  } catch (const platform::FileError&) {
    return 0;
  }
}

// Verifies one candidate as the byte-by-byte search would read it: the same length tests on
// the same bytes, and the same bytes left in `pBuffer` (the mark and the time; the rest of the
// record is not read). The bytes that decide are the candidate's head (record header, frame
// header and mark); they are taken from the search block, which holds them for all but the
// candidates at its very top. Reading them from the file instead would refill the read-ahead
// buffer at every candidate and copy the searched bytes many times over.
bool CMP4File::TryLastIFrameCandidate(uint64_t offset, const uint8_t* pInBlock, size_t nInBlock,
                                      uint8_t* pBuffer, uint32_t* pdwDataType, uint32_t* pdwCount) {
  constexpr size_t kTagNeeded = MP4_TAG_IFRAME_MARK_OFFSET + kMarkSize;
  constexpr size_t kUdNeeded = MP4_UD_IFRAME_MARK_OFFSET + kMarkSize;
  constexpr size_t kTagHead = sizeof(MP4TAGRECORD) + kTagNeeded;  // 32
  constexpr size_t kUdHead = MP4_UD_HEADERS_SIZE + kUdNeeded;     // 79
  const bool bTagged = m_pHeader->Layout() == MP4_LAYOUT_TAGGED;
  const uint64_t length = m_pFile->Length();
  const uint64_t left = offset < length ? length - offset : 0;  // bytes from the candidate on
  const size_t have = static_cast<size_t>(std::min<uint64_t>(bTagged ? kTagHead : kUdHead, left));
  uint8_t head[kUdHead];
  const uint8_t* p = pInBlock;
  if (nInBlock < have) {
    try {
      m_pFile->Seek(offset);
      if (m_pFile->Read(head, have) != have) return false;
    } catch (const platform::FileError&) {
      return false;
    }
    p = head;
  }
  if (bTagged) {
    if (left < sizeof(MP4TAGRECORD)) return false;
    std::memcpy(m_pTagRec.get(), p, sizeof(MP4TAGRECORD));
    if (!m_pTagRec->IsVideo()) return false;
    const uint32_t n = m_pTagRec->Length();
    if (left - sizeof(MP4TAGRECORD) < n || n < kTagNeeded) return false;
    std::memcpy(pBuffer, p + sizeof(MP4TAGRECORD), kTagNeeded);
    if (std::memcmp(pBuffer + MP4_TAG_IFRAME_MARK_OFFSET, MP4_GOV_START_CODE, kMarkSize) != 0) {
      return false;
    }
    *pdwDataType = MP4_DATA_TAG_VIDEO;
    *pdwCount = n;
    return true;
  }
  if (left < sizeof(MP4UDRECORD)) return false;
  std::memcpy(m_pUdRec.get(), p, sizeof(MP4UDRECORD));
  if (!m_pUdRec->IsVideo()) return false;
  if (left - sizeof(MP4UDRECORD) < sizeof(MP4UDFRAMEHEADER)) return false;
  std::memcpy(m_pUdFrameHdr.get(), p + sizeof(MP4UDRECORD), sizeof(MP4UDFRAMEHEADER));
  const uint32_t dwLength = m_pUdFrameHdr->Length();
  if (dwLength < MP4_UD_FRAME_LENGTH_BIAS || dwLength > UINT32_MAX - 12) return false;
  const uint32_t n = dwLength - MP4_UD_FRAME_LENGTH_BIAS;
  if (left - MP4_UD_HEADERS_SIZE < n || n < kUdNeeded) return false;
  uint8_t* data = pBuffer + MP4_UD_HEADERS_SIZE;
  std::memcpy(data, p + MP4_UD_HEADERS_SIZE, kUdNeeded);
  if (std::memcmp(data + MP4_UD_IFRAME_MARK_OFFSET, MP4_GOV_START_CODE, kMarkSize) != 0) {
    return false;
  }
  std::memcpy(pBuffer, m_pUdRec.get(), sizeof(MP4UDRECORD));
  std::memcpy(pBuffer + sizeof(MP4UDRECORD), m_pUdFrameHdr.get(), sizeof(MP4UDFRAMEHEADER));
  *pdwDataType = MP4_DATA_UD_VIDEO;
  *pdwCount = dwLength + 12;
  return true;
}
