// Repositioning: SetCurrentPos, GetPrevIFrame and GetOneFrame.
//
// Each of them behaves as a walk over the records from offset 64 that counts I-frames. The
// walk is deterministic, so its findings are kept in the record index and later calls jump to
// the target; results, pairs, file positions and failure states are those of the walk.
#include <algorithm>
#include <cstring>

#include "reader/mp4_reader.h"

namespace {

constexpr size_t kMarkSize = sizeof(MP4_GOV_START_CODE);

// Sets the busy flag for a repositioning and clears it on every way out.
class BusyScope {
 public:
  explicit BusyScope(std::atomic<uint32_t>& flag) : m_flag(flag) { m_flag = 1; }
  ~BusyScope() { m_flag = 0; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  std::atomic<uint32_t>& m_flag;
};

}  // namespace

bool CMP4File::LayoutIsKnown() const {
  const uint32_t layout = m_pHeader->Layout();
  return layout == MP4_LAYOUT_TAGGED || layout == MP4_LAYOUT_USERDATA;
}

RecordIndex& CMP4File::Index() {
  if (!m_index) {
    m_index.emplace(m_pHeader->Layout() == MP4_LAYOUT_TAGGED
                        ? static_cast<uint32_t>(sizeof(MP4TAGRECORD))
                        : static_cast<uint32_t>(MP4_UD_HEADERS_SIZE));
  }
  return *m_index;
}

// Parses the record at index.ParsedUpTo() as a walk reads it: the same remaining-bytes tests,
// failing at the same file position. Payloads are passed over; only the bytes up to an
// I-frame mark are read. Returns false when the walk ends there.
bool CMP4File::ParseNextRecord(RecordIndex& index) {
  const uint64_t o = index.ParsedUpTo();
  const uint64_t length = m_pFile->Length();
  const auto left = [&](uint64_t at) { return at <= length ? length - at : 0; };
  const auto readAt = [&](uint64_t at, void* dest, size_t n) {
    m_pFile->Seek(at);
    if (m_pFile->Read(dest, n) != n) throw platform::FileError(m_pFile->Path() + ": short read");
  };
  uint8_t mark[MP4_UD_IFRAME_MARK_OFFSET + kMarkSize];

  if (m_pHeader->Layout() == MP4_LAYOUT_TAGGED) {
    MP4TAGRECORD rec;
    if (left(o) < sizeof rec) return index.End(o), false;
    readAt(o, &rec, sizeof rec);
    const uint64_t body = o + sizeof rec;
    const uint32_t n = rec.Length();
    if (left(body) < n) return index.End(body), false;
    if (!rec.IsVideo()) return index.AddOther(body + n), true;
    constexpr size_t kNeeded = MP4_TAG_IFRAME_MARK_OFFSET + kMarkSize;
    bool bIFrame = false;
    if (n >= kNeeded) {
      readAt(body, mark, kNeeded);
      bIFrame = std::memcmp(mark + MP4_TAG_IFRAME_MARK_OFFSET, MP4_GOV_START_CODE, kMarkSize) == 0;
    }
    index.AddVideo(o, n, bIFrame, body + n);
    return true;
  }

  MP4UDRECORD rec;
  if (left(o) < sizeof rec) return index.End(o), false;
  readAt(o, &rec, sizeof rec);
  if (rec.IsVideo()) {
    MP4UDFRAMEHEADER frameHeader;
    if (left(o + sizeof rec) < sizeof frameHeader) return index.End(o + sizeof rec), false;
    readAt(o + sizeof rec, &frameHeader, sizeof frameHeader);
    const uint64_t data = o + MP4_UD_HEADERS_SIZE;
    const uint32_t dwLength = frameHeader.Length();
    if (dwLength < MP4_UD_FRAME_LENGTH_BIAS || dwLength > UINT32_MAX - 12) {
      return index.End(data), false;
    }
    const uint32_t n = dwLength - MP4_UD_FRAME_LENGTH_BIAS;
    if (left(data) < n) return index.End(data), false;
    bool bIFrame = false;
    if (n >= sizeof mark) {
      readAt(data, mark, sizeof mark);
      bIFrame = std::memcmp(mark + MP4_UD_IFRAME_MARK_OFFSET, MP4_GOV_START_CODE, kMarkSize) == 0;
    }
    index.AddVideo(o, n, bIFrame, data + n);
    return true;
  }
  if (rec.IsAux()) {
    uint8_t auxLength[4];
    if (left(o + sizeof rec) < sizeof auxLength) return index.End(o + sizeof rec), false;
    readAt(o + sizeof rec, auxLength, sizeof auxLength);
    const uint64_t data = o + sizeof rec + sizeof auxLength;
    const uint32_t n = platform::LoadLe32(auxLength);
    if (left(data) < n) return index.End(data), false;
    return index.AddOther(data + n), true;
  }
  return index.AddOther(o + sizeof rec), true;
}

template <typename Enough>
void CMP4File::ParseUntil(RecordIndex& index, Enough enough) {
  while (!enough() && !index.EndsAt() && ParseNextRecord(index)) {
  }
}

// The anchor of group a, as an index among the video records: the a-th I-frame, or for
// a = 0 the first video record when it is no I-frame.
std::optional<size_t> CMP4File::FindAnchor(uint32_t a) {
  RecordIndex& index = Index();
  if (a == 0) {
    ParseUntil(index, [&] { return index.VideoCount() >= 1; });
    if (index.VideoCount() >= 1 && !index.VideoAt(0).iframe) return 0;
    // The walk's counter never returns to 0: it runs on to the end of the records.
    ParseUntil(index, [] { return false; });
    return std::nullopt;
  }
  ParseUntil(index, [&] { return index.IFrameCount() >= a; });
  if (index.IFrameCount() >= a) return index.IFrameAt(a - 1);
  return std::nullopt;
}

// The b-th video record from the anchor on, the anchor being the first.
std::optional<size_t> CMP4File::FindVideoFrom(size_t anchor, uint32_t b) {
  RecordIndex& index = Index();
  const size_t target = anchor + b - 1;
  ParseUntil(index, [&] { return index.VideoCount() > target; });
  if (index.VideoCount() > target) return target;
  return std::nullopt;
}

uint32_t CMP4File::SetCurrentPos(uint32_t a, uint32_t b) {
  BusyScope busy(m_bBusy);
  try {
    m_pFile->Seek(MP4_RECORD_AREA_OFFSET);
    if (a == 0 && b == 0) {
      m_nIFrameNo = 0;
      m_nFrameNo = 0;
      return 1;
    }
    if (!LayoutIsKnown()) return 0;
    RecordIndex& index = Index();
    const std::optional<size_t> anchor = FindAnchor(a);
    if (!anchor) {
      m_pFile->Seek(*index.EndsAt());
      return 0;
    }
    if (b == 0) {
      m_nIFrameNo = a - 1;
      m_nFrameNo = 0;
      m_pFile->Seek(index.VideoAt(*anchor).start);
      return 1;
    }
    m_nIFrameNo = a;
    const std::optional<size_t> target = FindVideoFrom(*anchor, b);
    if (!target) {
      m_pFile->Seek(*index.EndsAt());
      return 0;
    }
    m_nFrameNo = b;
    m_pFile->Seek(index.VideoAt(*target).end);
    return 1;
  } catch (...) {  // file errors; the index cannot grow
    return 0;
  }
}

uint32_t CMP4File::GetPrevIFrame(FrameDest dest, uint32_t* pdwDataType) {
  *pdwDataType = MP4_DATA_NONE;
  if (m_nIFrameNo == 0) return 0;
  const uint32_t t = m_nIFrameNo - 1;
  try {
    m_pFile->Seek(MP4_RECORD_AREA_OFFSET);
    if (!LayoutIsKnown()) return 0;
    RecordIndex& index = Index();
    const std::optional<size_t> anchor = FindAnchor(t);
    if (!anchor) {
      m_pFile->Seek(*index.EndsAt());
      return 0;
    }
    const uint32_t dwIFrameNo = m_nIFrameNo;
    const uint32_t dwFrameNo = m_nFrameNo;
    m_pFile->Seek(index.VideoAt(*anchor).start);
    uint32_t dwCount = 0;
    Outcome outcome = Outcome::kFailed;
    if (m_pHeader->Layout() == MP4_LAYOUT_TAGGED) {
      if (ReadExact(m_pTagRec.get(), sizeof(MP4TAGRECORD))) {
        outcome = DeliverTaggedVideo(dest, false, &dwCount, pdwDataType);
      }
    } else if (ReadExact(m_pUdRec.get(), sizeof(MP4UDRECORD))) {
      outcome = DeliverUdVideo(dest, false, &dwCount, pdwDataType);
    }
    if (outcome != Outcome::kDelivered) {  // the file changed under us
      m_nIFrameNo = dwIFrameNo;
      m_nFrameNo = dwFrameNo;
      *pdwDataType = MP4_DATA_NONE;
      return 0;
    }
    m_nIFrameNo = t;
    m_nFrameNo = 0;
    return dwCount;
  } catch (...) {
    *pdwDataType = MP4_DATA_NONE;
    return 0;
  }
}

uint32_t CMP4File::GetOneFrame(uint32_t a, FrameDest dest, uint32_t* pdwDataType) {
  const uint32_t s = m_nIFrameNo;
  uint32_t dwCount = 0;
  *pdwDataType = MP4_DATA_NONE;
  if (SetCurrentPos(a, 0) == 1) dwCount = GetNextIFrame(dest, pdwDataType);
  SetCurrentPos(s, 0);
  return dwCount;
}
