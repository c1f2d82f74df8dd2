#include "bench/tagged_recording_writer.h"

#include <cstring>

#include "platform/little_endian.h"
#include "reader/mp4_format.h"

namespace bench {

TaggedRecordingWriter::TaggedRecordingWriter(const std::string& path,
                                             const RecordingPicture& picture)
    : m_out(path), m_picture(picture) {
  uint8_t header[sizeof(MP4FILEHEADER)];
  std::memset(header, 0xAA, sizeof header);  // bytes the format does not interpret
  platform::StoreLe32(header + MP4_HEADER_LAYOUT_OFFSET, MP4_LAYOUT_TAGGED);
  platform::StoreLe16(header + MP4_HEADER_VIDEO_SIZE_OFFSET, picture.sizeCode);
  m_out.Write(header, sizeof header);
}

void TaggedRecordingWriter::AddFrame(uint32_t time, std::span<const uint8_t> data) {
  uint8_t head[kRecordOverhead];
  std::memcpy(head, MP4_TAG_VIDEO, 4);
  platform::StoreLe32(head + 4, MP4_TAG_TYPE_VIDEO);
  platform::StoreLe32(head + 8, static_cast<uint32_t>(16 + data.size()));
  // The frame header: the time in bytes 5, 7, 9 and 11, filler elsewhere.
  uint8_t* frameHeader = head + 12;
  std::memset(frameHeader, 0xEE, 16);
  for (int i = 0; i < 4; ++i) frameHeader[5 + 2 * i] = static_cast<uint8_t>(time >> (8 * i));
  m_out.Write(head, sizeof head);
  m_out.Write(data.data(), data.size());
}

void TaggedRecordingWriter::Finish(uint32_t startTime, uint32_t endTime) {
  uint8_t trailer[kTrailerSize];
  static_assert(sizeof trailer == sizeof(MP4FILEINFO));
  std::memset(trailer, 0xBB, sizeof trailer);
  constexpr size_t info = MP4_INFO_RECORD_OFFSET;
  platform::StoreLe32(trailer + info + MP4_INFO_MAGIC_OFFSET, MP4_INFO_MAGIC);
  platform::StoreLe32(trailer + info + MP4_INFO_MAGIC2_OFFSET, MP4_INFO_MAGIC2);
  platform::StoreLe32(trailer + info + MP4_INFO_START_TIME_OFFSET, startTime);
  platform::StoreLe32(trailer + info + MP4_INFO_END_TIME_OFFSET, endTime);
  platform::StoreLe32(trailer + info + MP4_INFO_FRAME_RATE_OFFSET, m_picture.frameRate);
  platform::StoreLe32(trailer + info + MP4_INFO_WIDTH_OFFSET, m_picture.width);
  platform::StoreLe32(trailer + info + MP4_INFO_HEIGHT_OFFSET, m_picture.height);
  m_out.Write(trailer, sizeof trailer);
  m_out.Close();
}

}  // namespace bench
