#include "platform/avi_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace platform {

namespace {

// The records of the headers and indexes, laid out as in the file.
struct MainHeaderRecord {
  uint8_t dwMicroSecPerFrame[4];
  uint8_t dwMaxBytesPerSec[4];
  uint8_t dwPaddingGranularity[4];
  uint8_t dwFlags[4];
  uint8_t dwTotalFrames[4];
  uint8_t dwInitialFrames[4];
  uint8_t dwStreams[4];
  uint8_t dwSuggestedBufferSize[4];
  uint8_t dwWidth[4];
  uint8_t dwHeight[4];
  uint8_t dwReserved[16];
};
static_assert(sizeof(MainHeaderRecord) == 56);

struct StreamHeaderRecord {
  uint8_t fccType[4];
  uint8_t fccHandler[4];
  uint8_t dwFlags[4];
  uint8_t wPriority[2];
  uint8_t wLanguage[2];
  uint8_t dwInitialFrames[4];
  uint8_t dwScale[4];
  uint8_t dwRate[4];
  uint8_t dwStart[4];
  uint8_t dwLength[4];
  uint8_t dwSuggestedBufferSize[4];
  uint8_t dwQuality[4];
  uint8_t dwSampleSize[4];
  uint8_t rcLeft[2];
  uint8_t rcTop[2];
  uint8_t rcRight[2];
  uint8_t rcBottom[2];
};
static_assert(sizeof(StreamHeaderRecord) == 56);

// indx: lists the ix00 chunk of every RIFF part.
struct SuperIndexHeader {
  uint8_t wLongsPerEntry[2];
  uint8_t bIndexSubType;
  uint8_t bIndexType;
  uint8_t nEntriesInUse[4];
  uint8_t dwChunkId[4];
  uint8_t dwReserved[12];
};
static_assert(sizeof(SuperIndexHeader) == 24);

struct SuperIndexEntry {
  uint8_t qwOffset[8];
  uint8_t dwSize[4];
  uint8_t dwDuration[4];
};
static_assert(sizeof(SuperIndexEntry) == 16);

// ix00: the chunks of one RIFF part.
struct StandardIndexHeader {
  uint8_t wLongsPerEntry[2];
  uint8_t bIndexSubType;
  uint8_t bIndexType;
  uint8_t nEntriesInUse[4];
  uint8_t dwChunkId[4];
  uint8_t qwBaseOffset[8];
  uint8_t dwReserved[4];
};
static_assert(sizeof(StandardIndexHeader) == 24);

struct StandardIndexEntry {
  uint8_t dwOffset[4];  // of the chunk data, from qwBaseOffset
  uint8_t dwSize[4];
};
static_assert(sizeof(StandardIndexEntry) == 8);

// idx1: the chunks of the first RIFF part.
struct OldIndexEntry {
  uint8_t dwChunkId[4];
  uint8_t dwFlags[4];
  uint8_t dwOffset[4];  // of the chunk header, from the 'movi' form type
  uint8_t dwSize[4];
};
static_assert(sizeof(OldIndexEntry) == 16);

struct DmlHeaderRecord {
  uint8_t dwTotalFrames[4];
  uint8_t dwReserved[244];
};
static_assert(sizeof(DmlHeaderRecord) == 248);

constexpr uint32_t kVideoChunkId = MakeFourCc("00dc");
constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint32_t kAvifTrustCkType = 0x800;
constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;
constexpr uint32_t kDeltaFrameBit = 0x80000000;
constexpr uint32_t kMaxRiffSizeThreshold = uint32_t{1} << 31;
constexpr uint32_t kMaxRiffCount = 65536;

template <typename Record>
void WriteRecord(ByteWriter& out, const Record& record) {
  out.Write(&record, sizeof record);
}

template <typename Record>
void WriteRecordChunk(ByteWriter& out, uint32_t fourCc, const Record& record) {
  WriteChunk(out, fourCc, &record, sizeof record);
}

uint32_t Saturate32(uint64_t value) {
  return static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

bool FitsInt16(int32_t value) {
  return value >= std::numeric_limits<int16_t>::min() &&
         value <= std::numeric_limits<int16_t>::max();
}

void StoreCoordinate(uint8_t* p, int32_t value) {
  StoreLe16(p, static_cast<uint16_t>(static_cast<int16_t>(value)));
}

}  // namespace

AviWriter::AviWriter(std::unique_ptr<ByteWriter> out, const AviStreamInfo& info,
                     const BitmapInfoHeader& format, AviWriterOptions options)
    : m_out(std::move(out)), m_info(info), m_format(format), m_options(options) {
  if (!m_out) throw std::invalid_argument("AviWriter: no output");
  const auto& rc = m_info.rcFrame;
  if (!FitsInt16(rc.left) || !FitsInt16(rc.top) || !FitsInt16(rc.right) || !FitsInt16(rc.bottom)) {
    throw std::invalid_argument("AviWriter: rcFrame coordinates must fit 16 bits");
  }
  if (m_options.riffSizeThreshold == 0 || m_options.riffSizeThreshold > kMaxRiffSizeThreshold) {
    throw std::invalid_argument("AviWriter: riffSizeThreshold must be 1 byte to 2 GiB");
  }
  if (m_options.maxRiffCount == 0 || m_options.maxRiffCount > kMaxRiffCount) {
    throw std::invalid_argument("AviWriter: maxRiffCount must be 1 to 65536");
  }
  m_info.dwStart = 0;
  m_info.dwLength = 0;

  m_riff = OpenList(*m_out, MakeFourCc("RIFF"), MakeFourCc("AVI "));
  // The headers are written now to reserve their room and again by Finish with the totals;
  // nothing in them changes size.
  m_headerStart = m_out->Tell();
  WriteHeaderList();
  m_movi = OpenList(*m_out, MakeFourCc("LIST"), MakeFourCc("movi"));
}

void AviWriter::RequireUsable() const {
  if (m_finished) throw std::logic_error("AviWriter: used after Finish");
  if (m_failed) throw WriteError("AviWriter: an earlier write failed");
}

void AviWriter::WriteHeaderList() {
  ByteWriter& out = *m_out;
  const uint32_t suggestedBufferSize = std::max(m_info.dwSuggestedBufferSize, m_largestSample);
  const uint32_t length = Saturate32(m_chunkCount);  // positions from dwStart on
  const auto& rc = m_info.rcFrame;

  const RiffChunk hdrl = OpenList(out, MakeFourCc("LIST"), MakeFourCc("hdrl"));

  MainHeaderRecord avih{};
  if (m_info.dwRate != 0) {
    const uint64_t scaled = uint64_t{1000000} * m_info.dwScale;
    StoreLe32(avih.dwMicroSecPerFrame, Saturate32((scaled + m_info.dwRate / 2) / m_info.dwRate));
  }
  if (m_info.dwScale != 0) {
    // The peak rate: the largest sample at every frame.
    const uint64_t bytes = uint64_t{m_largestSample} * m_info.dwRate;
    StoreLe32(avih.dwMaxBytesPerSec, Saturate32((bytes + m_info.dwScale - 1) / m_info.dwScale));
  }
  StoreLe32(avih.dwFlags, kAvifHasIndex | kAvifIsInterleaved | kAvifTrustCkType);
  StoreLe32(avih.dwTotalFrames, Saturate32(m_firstPartChunks));
  StoreLe32(avih.dwInitialFrames, m_info.dwInitialFrames);
  StoreLe32(avih.dwStreams, 1);
  StoreLe32(avih.dwSuggestedBufferSize, suggestedBufferSize);
  StoreLe32(avih.dwWidth, static_cast<uint32_t>(std::max(0, rc.right - rc.left)));
  StoreLe32(avih.dwHeight, static_cast<uint32_t>(std::max(0, rc.bottom - rc.top)));
  WriteRecordChunk(out, MakeFourCc("avih"), avih);

  const RiffChunk strl = OpenList(out, MakeFourCc("LIST"), MakeFourCc("strl"));
  StreamHeaderRecord strh{};
  StoreLe32(strh.fccType, m_info.fccType);
  StoreLe32(strh.fccHandler, m_info.fccHandler);
  StoreLe32(strh.dwFlags, m_info.dwFlags);
  StoreLe16(strh.wPriority, m_info.wPriority);
  StoreLe16(strh.wLanguage, m_info.wLanguage);
  StoreLe32(strh.dwInitialFrames, m_info.dwInitialFrames);
  StoreLe32(strh.dwScale, m_info.dwScale);
  StoreLe32(strh.dwRate, m_info.dwRate);
  StoreLe32(strh.dwStart, m_info.dwStart);
  StoreLe32(strh.dwLength, length);
  StoreLe32(strh.dwSuggestedBufferSize, suggestedBufferSize);
  StoreLe32(strh.dwQuality, m_info.dwQuality);
  StoreLe32(strh.dwSampleSize, m_info.dwSampleSize);
  StoreCoordinate(strh.rcLeft, rc.left);
  StoreCoordinate(strh.rcTop, rc.top);
  StoreCoordinate(strh.rcRight, rc.right);
  StoreCoordinate(strh.rcBottom, rc.bottom);
  WriteRecordChunk(out, MakeFourCc("strh"), strh);
  WriteRecordChunk(out, MakeFourCc("strf"), m_format);

  const size_t nameLength = strnlen(m_info.szName, sizeof m_info.szName);
  if (nameLength > 0) {
    const RiffChunk strn = OpenChunk(out, MakeFourCc("strn"));
    out.Write(m_info.szName, nameLength);
    const char terminator = '\0';
    out.Write(&terminator, 1);
    CloseChunk(out, strn);
  }

  // Room for the super index stays JUNK while the file has a single part, as players that
  // find an indx use it instead of idx1.
  const auto superIndexSize = static_cast<uint32_t>(
      sizeof(SuperIndexHeader) + sizeof(SuperIndexEntry) * m_options.maxRiffCount);
  const RiffChunk indx = OpenChunk(out, MakeFourCc(IsOpenDml() ? "indx" : "JUNK"), superIndexSize);
  SuperIndexHeader indexHeader{};
  if (IsOpenDml()) {
    StoreLe16(indexHeader.wLongsPerEntry, sizeof(SuperIndexEntry) / 4);
    indexHeader.bIndexType = kIndexOfIndexes;
    StoreLe32(indexHeader.nEntriesInUse, static_cast<uint32_t>(m_parts.size()));
    StoreLe32(indexHeader.dwChunkId, kVideoChunkId);
  }
  WriteRecord(out, indexHeader);
  for (uint32_t i = 0; i < m_options.maxRiffCount; ++i) {
    SuperIndexEntry entry{};
    if (i < m_parts.size()) {
      StoreLe64(entry.qwOffset, m_parts[i].offset);
      StoreLe32(entry.dwSize, m_parts[i].size);
      StoreLe32(entry.dwDuration, m_parts[i].duration);
    }
    WriteRecord(out, entry);
  }
  CloseChunk(out, indx);
  CloseChunk(out, strl);

  const RiffChunk odml = OpenList(out, MakeFourCc("LIST"), MakeFourCc("odml"));
  DmlHeaderRecord dmlh{};
  StoreLe32(dmlh.dwTotalFrames, length);
  WriteRecordChunk(out, MakeFourCc("dmlh"), dmlh);
  CloseChunk(out, odml);

  CloseChunk(out, hdrl);
}

void AviWriter::WriteSample(uint32_t position, const uint8_t* data, size_t size, uint32_t flags) {
  RequireUsable();
  if (m_chunkCount > 0 && position < m_nextPosition) {
    throw std::invalid_argument("AviWriter: sample position " + std::to_string(position) +
                                " is not past the previous one");
  }
  if (size > kMaxSampleSize) {
    throw std::invalid_argument("AviWriter: sample of " + std::to_string(size) +
                                " bytes is too large");
  }
  if (data == nullptr && size != 0) throw std::invalid_argument("AviWriter: sample without data");
  if (m_chunkCount == 0) {
    m_info.dwStart = position;
    m_nextPosition = position;
  }
  try {
    for (; m_nextPosition < position; ++m_nextPosition) WriteDataChunk(nullptr, 0, false);
    WriteDataChunk(data, size, (flags & AVIIF_KEYFRAME) != 0);
    ++m_nextPosition;
  } catch (...) {
    m_failed = true;
    throw;
  }
  m_largestSample = std::max(m_largestSample, static_cast<uint32_t>(size));
}

void AviWriter::WriteDataChunk(const uint8_t* data, size_t size, bool keyFrame) {
  // Project the part's size with this chunk and the index entries every chunk adds.
  const bool firstPart = m_riff.start == 0;
  const uint64_t entryBytes = sizeof(StandardIndexEntry) + (firstPart ? sizeof(OldIndexEntry) : 0);
  const uint64_t indexHeaderBytes = 8 + sizeof(StandardIndexHeader) + (firstPart ? 8 : 0);
  const uint64_t projected = (m_out->Tell() - m_riff.start) + 8 + size + size % 2 +
                             (m_entries.size() + 1) * entryBytes + indexHeaderBytes;
  if (!m_entries.empty() && projected > m_options.riffSizeThreshold) {
    if (m_parts.size() + 2 > m_options.maxRiffCount) {
      throw WriteError("AviWriter: the file would need more than " +
                       std::to_string(m_options.maxRiffCount) + " RIFF parts");
    }
    EndPart(true);
    m_riff = OpenList(*m_out, MakeFourCc("RIFF"), MakeFourCc("AVIX"));
    m_movi = OpenList(*m_out, MakeFourCc("LIST"), MakeFourCc("movi"));
  }

  const auto offset = static_cast<uint32_t>(m_out->Tell() - m_movi.DataStart());
  WriteChunk(*m_out, kVideoChunkId, data, size);
  m_entries.push_back({offset, static_cast<uint32_t>(size) | (keyFrame ? 0 : kDeltaFrameBit)});
  ++m_chunkCount;
}

void AviWriter::EndPart(bool moreFollow) {
  if (moreFollow || IsOpenDml()) WriteStandardIndex();
  CloseChunk(*m_out, m_movi);
  if (m_riff.start == 0) {
    WriteOldIndex();
    m_firstPartChunks = m_entries.size();
  }
  CloseChunk(*m_out, m_riff);
  m_entries.clear();
}

void AviWriter::WriteStandardIndex() {
  ByteWriter& out = *m_out;
  const auto count = static_cast<uint32_t>(m_entries.size());
  const RiffChunk ix00 = OpenChunk(
      out, MakeFourCc("ix00"),
      static_cast<uint32_t>(sizeof(StandardIndexHeader) + sizeof(StandardIndexEntry) * count));
  StandardIndexHeader header{};
  StoreLe16(header.wLongsPerEntry, sizeof(StandardIndexEntry) / 4);
  header.bIndexType = kIndexOfChunks;
  StoreLe32(header.nEntriesInUse, count);
  StoreLe32(header.dwChunkId, kVideoChunkId);
  StoreLe64(header.qwBaseOffset, m_movi.DataStart());
  WriteRecord(out, header);
  for (const IndexEntry& e : m_entries) {
    StandardIndexEntry entry{};
    StoreLe32(entry.dwOffset, e.offset + 8);
    StoreLe32(entry.dwSize, e.sizeAndDelta);
    WriteRecord(out, entry);
  }
  CloseChunk(out, ix00);
  m_parts.push_back({ix00.start, static_cast<uint32_t>(out.Tell() - ix00.start), count});
}

void AviWriter::WriteOldIndex() {
  ByteWriter& out = *m_out;
  const RiffChunk idx1 = OpenChunk(out, MakeFourCc("idx1"),
                                   static_cast<uint32_t>(sizeof(OldIndexEntry) * m_entries.size()));
  for (const IndexEntry& e : m_entries) {
    OldIndexEntry entry{};
    StoreLe32(entry.dwChunkId, kVideoChunkId);
    StoreLe32(entry.dwFlags, (e.sizeAndDelta & kDeltaFrameBit) != 0 ? 0 : AVIIF_KEYFRAME);
    StoreLe32(entry.dwOffset, e.offset);
    StoreLe32(entry.dwSize, e.sizeAndDelta & ~kDeltaFrameBit);
    WriteRecord(out, entry);
  }
  CloseChunk(out, idx1);
}

void AviWriter::Finish() {
  RequireUsable();
  try {
    EndPart(false);
    const uint64_t end = m_out->Tell();
    m_out->Seek(m_headerStart);
    WriteHeaderList();
    m_out->Seek(end);
    m_out->Finish();
  } catch (...) {
    m_failed = true;
    throw;
  }
  m_finished = true;
}

}  // namespace platform
