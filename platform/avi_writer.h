// Writing an AVI file with one video stream.
//
// The file starts as a plain AVI: RIFF 'AVI ' with the headers, the frames in LIST 'movi' and an
// idx1 index. A file that outgrows AviWriterOptions::riffSizeThreshold continues in further
// RIFF 'AVIX' parts (the OpenDML extension for files beyond the RIFF size limit); then every
// part also carries an ix00 index of its frames, listed in the indx super index of the stream
// header, and LIST 'odml' holds the frame total of the whole file. Players that know only the
// plain form still play the first part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/byte_writer.h"
#include "platform/little_endian.h"
#include "platform/riff_writer.h"

namespace platform {

// WriteSample flag: the sample is a key frame.
constexpr uint32_t AVIIF_KEYFRAME = 0x10;

// The stream's description, as the AVIFile service takes it. A caller zeroes it and fills in
// what it knows; rates are in samples per dwRate/dwScale seconds.
struct AviStreamInfo {
  uint32_t fccType;     // MakeFourCc("vids")
  uint32_t fccHandler;  // the codec, e.g. MakeFourCc("DX50")
  uint32_t dwFlags;
  uint32_t dwCaps;  // not stored in the file
  uint16_t wPriority;
  uint16_t wLanguage;
  uint32_t dwScale;
  uint32_t dwRate;
  uint32_t dwStart;   // ignored: the writer sets it to the first sample's position
  uint32_t dwLength;  // ignored: the writer sets it to the positions up to the last sample
  uint32_t dwInitialFrames;
  uint32_t dwSuggestedBufferSize;  // raised to the largest sample written
  uint32_t dwQuality;
  uint32_t dwSampleSize;
  struct Rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
  } rcFrame;                     // the file stores each coordinate in 16 bits
  uint32_t dwEditCount;          // not stored in the file
  uint32_t dwFormatChangeCount;  // not stored in the file
  char szName[64];               // stored as the stream name when not empty
};

// The video format (BITMAPINFOHEADER), stored as it is in the file: little-endian byte arrays,
// read and set through the accessors. A zero-initialised record is all zeros.
struct BitmapInfoHeader {
  uint8_t biSize[4];
  uint8_t biWidth[4];
  uint8_t biHeight[4];
  uint8_t biPlanes[2];
  uint8_t biBitCount[2];
  uint8_t biCompression[4];
  uint8_t biSizeImage[4];
  uint8_t biXPelsPerMeter[4];
  uint8_t biYPelsPerMeter[4];
  uint8_t biClrUsed[4];
  uint8_t biClrImportant[4];

  uint32_t Size() const { return LoadLe32(biSize); }
  int32_t Width() const { return static_cast<int32_t>(LoadLe32(biWidth)); }
  int32_t Height() const { return static_cast<int32_t>(LoadLe32(biHeight)); }
  uint16_t Planes() const { return LoadLe16(biPlanes); }
  uint16_t BitCount() const { return LoadLe16(biBitCount); }
  uint32_t Compression() const { return LoadLe32(biCompression); }
  uint32_t SizeImage() const { return LoadLe32(biSizeImage); }
  int32_t XPelsPerMeter() const { return static_cast<int32_t>(LoadLe32(biXPelsPerMeter)); }
  int32_t YPelsPerMeter() const { return static_cast<int32_t>(LoadLe32(biYPelsPerMeter)); }
  uint32_t ClrUsed() const { return LoadLe32(biClrUsed); }
  uint32_t ClrImportant() const { return LoadLe32(biClrImportant); }

  void SetSize(uint32_t v) { StoreLe32(biSize, v); }
  void SetWidth(int32_t v) { StoreLe32(biWidth, static_cast<uint32_t>(v)); }
  void SetHeight(int32_t v) { StoreLe32(biHeight, static_cast<uint32_t>(v)); }
  void SetPlanes(uint16_t v) { StoreLe16(biPlanes, v); }
  void SetBitCount(uint16_t v) { StoreLe16(biBitCount, v); }
  void SetCompression(uint32_t v) { StoreLe32(biCompression, v); }
  void SetSizeImage(uint32_t v) { StoreLe32(biSizeImage, v); }
  void SetXPelsPerMeter(int32_t v) { StoreLe32(biXPelsPerMeter, static_cast<uint32_t>(v)); }
  void SetYPelsPerMeter(int32_t v) { StoreLe32(biYPelsPerMeter, static_cast<uint32_t>(v)); }
  void SetClrUsed(uint32_t v) { StoreLe32(biClrUsed, v); }
  void SetClrImportant(uint32_t v) { StoreLe32(biClrImportant, v); }
};
static_assert(sizeof(BitmapInfoHeader) == 40);

struct AviWriterOptions {
  // A RIFF part, its indexes included, ends before a sample would take it past this many bytes,
  // and the file goes on in a new part; only a part holding a single larger sample exceeds it.
  // At most 2 GiB.
  uint32_t riffSizeThreshold = uint32_t{1} << 30;
  // The most RIFF parts a file may have, 1 to 65536; the stream header reserves 16 bytes for
  // each.
  uint32_t maxRiffCount = 256;
};

// Writes one video stream as an AVI file to a ByteWriter it owns.
//
// Every sample has a position, in units of dwScale/dwRate seconds. The first sample's position
// becomes the stream's start (dwStart); a position skipped between two samples is filled with
// an empty chunk (a dropped frame), so every sample keeps its position in every reader. Each
// missing position costs 32 bytes of file, so a caller should bound the gaps it passes on.
//
// Memory: 8 bytes per sample of the current RIFF part for the indexes; sample data is written
// straight from the caller's buffer and never copied.
//
// Not thread-safe: one thread at a time.
class AviWriter {
 public:
  // Largest sample WriteSample takes: the index stores sizes in 31 bits.
  static constexpr size_t kMaxSampleSize = 0x7FFFFFFF;

  // Writes the headers. Throws std::invalid_argument when a rcFrame coordinate does not fit 16
  // bits or an option is out of range, WriteError when writing fails.
  AviWriter(std::unique_ptr<ByteWriter> out, const AviStreamInfo& info,
            const BitmapInfoHeader& format, AviWriterOptions options = {});
  // A writer destroyed without a successful Finish abandons the file: it does not finish the
  // ByteWriter, so an AtomicFileWriter leaves nothing behind.
  ~AviWriter() = default;
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Writes `size` bytes from `data` as the sample at `position`; `flags` may hold
  // AVIIF_KEYFRAME. Throws std::invalid_argument (nothing written) when `position` is not past
  // the previous sample's, `size` exceeds kMaxSampleSize or `data` is null with a size, WriteError
  // when writing fails or the file would need more than maxRiffCount parts. After a WriteError the
  // writer only throws.
  void WriteSample(uint32_t position, const uint8_t* data, size_t size, uint32_t flags);

  // Writes the indexes, completes the headers and finishes the ByteWriter. Throws WriteError.
  // After a successful Finish every call throws std::logic_error.
  void Finish();

 private:
  // Index entry of a chunk in the current RIFF part.
  struct IndexEntry {
    uint32_t offset;        // of the chunk header, from the 'movi' form type
    uint32_t sizeAndDelta;  // data size; bit 31 set for a chunk that is no key frame
  };
  // Super index entry of a finished RIFF part: where its ix00 chunk is.
  struct PartIndex {
    uint64_t offset;
    uint32_t size;      // of the whole ix00 chunk
    uint32_t duration;  // chunks in the part
  };

  void RequireUsable() const;
  void WriteHeaderList();
  void WriteDataChunk(const uint8_t* data, size_t size, bool keyFrame);
  void EndPart(bool moreFollow);
  void WriteStandardIndex();
  void WriteOldIndex();
  bool IsOpenDml() const { return !m_parts.empty(); }

  std::unique_ptr<ByteWriter> m_out;
  AviStreamInfo m_info;
  BitmapInfoHeader m_format;
  AviWriterOptions m_options;
  bool m_failed = false;
  bool m_finished = false;

  RiffChunk m_riff;
  RiffChunk m_movi;
  uint64_t m_headerStart = 0;
  std::vector<IndexEntry> m_entries;  // the current part's chunks
  std::vector<PartIndex> m_parts;     // finished parts, once the file spans several
  uint64_t m_chunkCount = 0;          // over all parts
  uint64_t m_firstPartChunks = 0;
  uint64_t m_nextPosition = 0;
  uint32_t m_largestSample = 0;
};

}  // namespace platform
