#include "tools/recording/recording_builder.h"

#include <cstddef>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "platform/little_endian.h"
#include "reader/mp4_format.h"

namespace recording {

namespace {

void AppendLe32(Bytes& out, uint32_t v) {
  uint8_t b[4];
  platform::StoreLe32(b, v);
  out.insert(out.end(), b, b + 4);
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// The 8-byte record and 36-byte frame header of a user-data video record.
Bytes UdVideoHeaders(uint32_t dwLength, uint32_t time) {
  Bytes headers(MP4_UD_START_CODE, MP4_UD_START_CODE + 4);
  AppendLe32(headers, MP4_UD_KIND_VIDEO);
  AppendLe32(headers, dwLength);
  AppendLe32(headers, time);
  headers.resize(MP4_UD_HEADERS_SIZE, 0xDD);
  return headers;
}

// Offset of the 01 that ends a 00 00 01 after the record's own start code, or 0 for none.
size_t StrayStartCodeEnd(const Bytes& bytes) {
  for (size_t i = 4; i < bytes.size(); ++i) {
    if (bytes[i] == 1 && bytes[i - 1] == 0 && bytes[i - 2] == 0) return i;
  }
  return 0;
}

}  // namespace

Bytes TagFrameHeader(uint32_t time) {
  Bytes header(16, 0xEE);
  header[5] = static_cast<uint8_t>(time);
  header[7] = static_cast<uint8_t>(time >> 8);
  header[9] = static_cast<uint8_t>(time >> 16);
  header[11] = static_cast<uint8_t>(time >> 24);
  return header;
}

RecordingBuilder::RecordingBuilder(uint32_t layout)
    : m_layout(layout), m_magic(MP4_INFO_MAGIC), m_magic2(MP4_INFO_MAGIC2) {}

RecordingBuilder& RecordingBuilder::VideoSize(uint16_t code) {
  m_videoSize = code;
  return *this;
}
RecordingBuilder& RecordingBuilder::FrameRate(uint32_t rate) {
  m_frameRate = rate;
  return *this;
}
RecordingBuilder& RecordingBuilder::Picture(uint32_t width, uint32_t height) {
  m_width = width;
  m_height = height;
  return *this;
}
RecordingBuilder& RecordingBuilder::StoredTimes(uint32_t start, uint32_t end) {
  m_storedStart = start;
  m_storedEnd = end;
  return *this;
}
RecordingBuilder& RecordingBuilder::Magic(uint32_t magic, uint32_t magic2) {
  m_magic = magic;
  m_magic2 = magic2;
  return *this;
}

Bytes RecordingBuilder::SyntheticData(bool iframe, size_t dataSize) {
  const size_t markAt =
      m_layout == MP4_LAYOUT_USERDATA ? MP4_UD_IFRAME_MARK_OFFSET : 0;  // data offset
  if (iframe && dataSize < markAt + 4) dataSize = markAt + 4;
  Bytes data(dataSize);
  // A simple generator whose bytes never form 00 00 01: no accidental start codes or tags.
  for (auto& b : data) {
    m_fillerSeed = m_fillerSeed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(0x10 + (m_fillerSeed >> 16) % 0x40);
  }
  if (iframe) std::memcpy(data.data() + markAt, MP4_GOV_START_CODE, 4);
  return data;
}

RecordingBuilder& RecordingBuilder::IFrame(uint32_t time, size_t dataSize) {
  return Frame(time, SyntheticData(true, dataSize));
}

RecordingBuilder& RecordingBuilder::PFrame(uint32_t time, size_t dataSize) {
  return Frame(time, SyntheticData(false, dataSize));
}

RecordingBuilder& RecordingBuilder::StreamFrame(uint32_t time, const Bytes& esFrame) {
  if (m_layout != MP4_LAYOUT_USERDATA) return Frame(time, esFrame);
  Bytes data = SyntheticData(false, MP4_UD_IFRAME_MARK_OFFSET);  // filler: never 00
  Append(data, esFrame);
  constexpr size_t timeOffset = sizeof(MP4UDRECORD) + offsetof(MP4UDFRAMEHEADER, dwTime);
  auto length = [&data] { return static_cast<uint32_t>(data.size() + MP4_UD_FRAME_LENGTH_BIAS); };
  while (const size_t end = StrayStartCodeEnd(UdVideoHeaders(length(), time))) {
    // Zero bytes after the frame's last start code are stuffing to a decoder.
    if (end < timeOffset) {
      data.push_back(0);
    } else {
      ++time;
    }
  }
  return UdVideoClaiming(length(), time, data);
}

RecordingBuilder& RecordingBuilder::Frame(uint32_t time, const Bytes& data) {
  if (m_layout == MP4_LAYOUT_USERDATA) {
    return UdVideoClaiming(static_cast<uint32_t>(data.size() + 32), time, data);
  }
  Bytes payload = TagFrameHeader(time);
  Append(payload, data);
  return TagRecord("ZEVO", MP4_TAG_TYPE_VIDEO, payload);
}

RecordingBuilder& RecordingBuilder::TagRecord(const char tag[4], uint32_t type,
                                              const Bytes& payload) {
  return TagRecordClaiming(tag, type, static_cast<uint32_t>(payload.size()), payload);
}

RecordingBuilder& RecordingBuilder::TagRecordClaiming(const char tag[4], uint32_t type,
                                                      uint32_t length, const Bytes& payload) {
  m_records.insert(m_records.end(), tag, tag + 4);
  AppendLe32(m_records, type);
  AppendLe32(m_records, length);
  Append(m_records, payload);
  const bool video = std::memcmp(tag, "ZEVO", 4) == 0 && type == MP4_TAG_TYPE_VIDEO;
  if (video && length == payload.size()) {
    const bool iframe =
        payload.size() >= 20 && std::memcmp(payload.data() + 16, MP4_GOV_START_CODE, 4) == 0;
    m_deliveries.push_back({MP4_DATA_TAG_VIDEO, iframe, payload});
  }
  return *this;
}

RecordingBuilder& RecordingBuilder::UdVideoClaiming(uint32_t dwLength, uint32_t time,
                                                    const Bytes& data) {
  Bytes record = UdVideoHeaders(dwLength, time);
  Append(record, data);
  if (dwLength >= 32 && dwLength - 32 == data.size()) {
    const bool iframe =
        data.size() >= 35 && std::memcmp(data.data() + 31, MP4_GOV_START_CODE, 4) == 0;
    m_deliveries.push_back({MP4_DATA_UD_VIDEO, iframe, record});
  }
  Append(m_records, record);
  return *this;
}

RecordingBuilder& RecordingBuilder::UdAux(const Bytes& data) {
  return UdAuxClaiming(static_cast<uint32_t>(data.size()), data);
}

RecordingBuilder& RecordingBuilder::UdAuxClaiming(uint32_t dwAuxLength, const Bytes& data) {
  m_records.insert(m_records.end(), MP4_UD_START_CODE, MP4_UD_START_CODE + 4);
  AppendLe32(m_records, MP4_UD_KIND_AUX);
  AppendLe32(m_records, dwAuxLength);
  Append(m_records, data);
  if (dwAuxLength == data.size()) m_deliveries.push_back({MP4_DATA_UD_AUX, false, data});
  return *this;
}

RecordingBuilder& RecordingBuilder::Raw(const Bytes& bytes) {
  Append(m_records, bytes);
  return *this;
}

Bytes RecordingBuilder::Build() const {
  Bytes out(64, 0xAA);  // bytes the format does not interpret
  platform::StoreLe32(out.data() + 4, m_layout);
  platform::StoreLe16(out.data() + 36, m_videoSize);
  Append(out, m_records);
  Bytes trailer(56, 0xBB);
  platform::StoreLe32(trailer.data() + 4, m_magic);
  platform::StoreLe32(trailer.data() + 8, m_magic2);
  platform::StoreLe32(trailer.data() + 12, m_storedStart);
  platform::StoreLe32(trailer.data() + 16, m_storedEnd);
  platform::StoreLe32(trailer.data() + 28, m_frameRate);
  platform::StoreLe32(trailer.data() + 32, m_width);
  platform::StoreLe32(trailer.data() + 36, m_height);
  Append(out, trailer);
  return out;
}

void RecordingBuilder::WriteTo(const std::string& path) const {
  const Bytes bytes = Build();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace recording
