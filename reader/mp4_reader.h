// CMP4File: one open raw recording, its header and trailer copies, the reading position and
// the buffers every record reading uses.
//
// Failures never leave a CMP4File: file errors are caught inside each operation and become
// its failure result (a null reader, false, or MP4_DATA_NONE with a byte count of 0).
//
// Threading: one thread at a time per reader, with one exception: while a repositioning runs
// (m_bBusy set), the forward readers on another thread wait at their next record header,
// polling every 100 ms.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/exclusive_file.h"
#include "reader/frame_dest.h"
#include "reader/mp4_format.h"
#include "reader/record_index.h"

class CMP4File {
 public:
  // Opens and validates `path`: the header, and the trailer with both magic values; then
  // scans the time of the first and last I-frame into the trailer copy. Returns null on any
  // failure, with the reason in `*pWhy` when given. The file is held exclusively until the
  // reader is destroyed.
  static std::unique_ptr<CMP4File> Open(const std::string& path, std::string* pWhy = nullptr);
  // Use Open; the key keeps an unopened reader from being made elsewhere.
  struct OpenKey {
    explicit OpenKey() = default;
  };
  explicit CMP4File(OpenKey) {}
  ~CMP4File();
  CMP4File(const CMP4File&) = delete;
  CMP4File& operator=(const CMP4File&) = delete;

  // The 64 header bytes as stored.
  const MP4FILEHEADER& Header() const { return *m_pHeader; }
  // The trailer, with dwStartTime and dwEndTime as scanned at open.
  const MP4FILEINFO& Info() const { return *m_pInfo; }
  uint32_t IFrameNo() const { return m_nIFrameNo; }
  uint32_t FrameNo() const { return m_nFrameNo; }
  // Byte offset of the reading position in the file.
  uint64_t FilePosition() const;
  uint64_t FileLength() const;

  // Delivers the next video frame (either layout) or auxiliary record (user-data layout) and
  // advances the position pair. Returns the byte count and sets *pdwDataType to
  // MP4_DATA_TAG_VIDEO, MP4_DATA_UD_VIDEO, MP4_DATA_UD_AUX, or MP4_DATA_NONE with 0 at the end
  // of the data and on every failure. On MP4_DATA_NONE the destination's content is undefined.
  uint32_t GetNextFrame(FrameDest dest, uint32_t* pdwDataType);
  // Passes over everything up to the next I-frame and delivers it (MP4_DATA_TAG_VIDEO or
  // MP4_DATA_UD_VIDEO), or MP4_DATA_NONE with 0. Never delivers MP4_DATA_UD_AUX.
  uint32_t GetNextIFrame(FrameDest dest, uint32_t* pdwDataType);

  // Moves the reading position to a video record named by an I-frame number `a` and a frame
  // count `b`; returns 1, or 0 on failure.
  //  (0, 0): back to the first record, pair (0, 0); succeeds for any layout.
  //  (a, 0): onto the anchor of group a (the a-th I-frame; for a = 0 the first video record,
  //          when it is no I-frame), pair (a - 1, 0), so that delivering the anchor next
  //          gives it its sequential label (a, 0).
  //  (a, b): right behind the b-th video record counted from that anchor (the anchor being
  //          the first, I-frames included, on across groups), pair (a, b).
  // On failure the file position is where a walk from the first record stopped (in or at the
  // end of the trailer when the target lies beyond the last record; offset 64 for an unknown
  // layout); the pair is unchanged, except that when the anchor was found but fewer than b
  // video records follow, the I-frame number already holds a.
  uint32_t SetCurrentPos(uint32_t a, uint32_t b);
  // Delivers the anchor of the previous group: from pair (k, x), k > 0, the anchor of group
  // k - 1 (the (k-1)-th I-frame; for k = 1 the first video record when it is no I-frame),
  // with pair (k - 1, 0) and the reading position right behind it. MP4_DATA_NONE with 0 when
  // k is 0 (nothing else happens), when that group is empty, on a read failure or an unknown
  // layout; the pair is then unchanged and the file position is where the walk stopped.
  // A record of any size is delivered whole.
  uint32_t GetPrevIFrame(FrameDest dest, uint32_t* pdwDataType);
  // Delivers the I-frame of group `a` (for a = 0 the recording's first I-frame) as
  // GetNextIFrame would after SetCurrentPos(a, 0), or MP4_DATA_NONE with 0 when that fails;
  // in both cases it then repositions to (s, 0), s being the I-frame number on entry.
  uint32_t GetOneFrame(uint32_t a, FrameDest dest, uint32_t* pdwDataType);

 private:
  bool DoOpen(const std::string& path, std::string* pWhy);
  void Destroy() noexcept;

  bool HasBytesLeft(uint64_t n) const;
  bool ReadExact(void* pBuffer, size_t n);
  void Skip(uint64_t n);
  void WaitWhileBusy() const;

  // Reads a video record's `n` data bytes into `dest` from `offset`, after checking that they
  // all lie in the file. With `bOnlyIFrame`, the bytes behind the I-frame mark are read only
  // for an I-frame and passed over otherwise. `markOffset` is the mark's offset in the data.
  bool ReadFrameData(FrameDest& dest, size_t offset, uint32_t n, size_t markOffset,
                     bool bOnlyIFrame, bool* pbIFrame);
  uint32_t ReadNext(FrameDest& dest, uint32_t* pdwDataType, bool bIFrameOnly);
  void CountDelivered(bool bIFrame);

  // What reading one record came to.
  enum class Outcome { kDelivered, kPassedOver, kFailed };
  Outcome ReadTaggedRecord(FrameDest& dest, bool bIFrameOnly, uint32_t* pdwCount,
                           uint32_t* pdwDataType);
  Outcome ReadUserDataRecord(FrameDest& dest, bool bIFrameOnly, uint32_t* pdwCount,
                             uint32_t* pdwDataType);
  Outcome DeliverTaggedVideo(FrameDest& dest, bool bIFrameOnly, uint32_t* pdwCount,
                             uint32_t* pdwDataType);
  Outcome DeliverUdVideo(FrameDest& dest, bool bIFrameOnly, uint32_t* pdwCount,
                         uint32_t* pdwDataType);

  // Positioning: the walk from the first record, through the record index.
  bool LayoutIsKnown() const;
  RecordIndex& Index();
  bool ParseNextRecord(RecordIndex& index);
  template <typename Enough>
  void ParseUntil(RecordIndex& index, Enough enough);
  std::optional<size_t> FindAnchor(uint32_t a);
  std::optional<size_t> FindVideoFrom(size_t anchor, uint32_t b);

  void ScanTimeRange();
  uint32_t FindLastIFrame(uint8_t* pBuffer, uint32_t* pdwDataType);
  // `pInBlock`: the candidate's bytes as the search read them, `nInBlock` of them.
  bool TryLastIFrameCandidate(uint64_t offset, const uint8_t* pInBlock, size_t nInBlock,
                              uint8_t* pBuffer, uint32_t* pdwDataType, uint32_t* pdwCount);

  std::unique_ptr<MP4FILEHEADER> m_pHeader;
  std::unique_ptr<MP4FILEINFO> m_pInfo;
  uint32_t m_nIFrameNo = 0;
  uint32_t m_nFrameNo = 0;
  std::unique_ptr<platform::ExclusiveFile> m_pFile;
  std::unique_ptr<uint8_t[]> m_pScratch;
  size_t m_nScratchSize = 0;
  std::unique_ptr<MP4TAGRECORD> m_pTagRec;
  std::unique_ptr<MP4UDRECORD> m_pUdRec;
  std::unique_ptr<MP4UDFRAMEHEADER> m_pUdFrameHdr;
  std::unique_ptr<uint8_t[]> m_pAuxLen;
  std::atomic<uint32_t> m_bBusy{0};
  std::optional<RecordIndex> m_index;  // built by the first repositioning
};
