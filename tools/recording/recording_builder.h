// Writes raw recordings of either layout from a list of records: the fixture builder of the
// tests and the back end of the make-recording tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace recording {

using Bytes = std::vector<uint8_t>;

// What the reader delivers for one record, for tests to compare against.
struct Delivery {
  uint32_t dataType;  // MP4_DATA_TAG_VIDEO, MP4_DATA_UD_VIDEO or MP4_DATA_UD_AUX
  bool iframe;
  Bytes bytes;  // the delivered bytes (payload, headers + data, or aux data)
};

class RecordingBuilder {
 public:
  explicit RecordingBuilder(uint32_t layout);

  // Header and trailer fields.
  RecordingBuilder& VideoSize(uint16_t code);
  RecordingBuilder& FrameRate(uint32_t rate);
  RecordingBuilder& Picture(uint32_t width, uint32_t height);
  RecordingBuilder& StoredTimes(uint32_t start, uint32_t end);
  RecordingBuilder& Magic(uint32_t magic, uint32_t magic2);

  // A video frame in the recording's layout: a frame header carrying `time`, then `data`
  // (for an I-frame, data that carries the group-of-VOP mark at the layout's place).
  RecordingBuilder& Frame(uint32_t time, const Bytes& data);
  // A synthetic I- or P-frame of `dataSize` bytes (made long enough to hold the I-frame mark).
  RecordingBuilder& IFrame(uint32_t time, size_t dataSize = 64);
  RecordingBuilder& PFrame(uint32_t time, size_t dataSize = 64);
  // A frame of an MPEG-4 elementary stream (from its GOV or VOP start code on), stored so that
  // the delivered record still decodes as MPEG-4. Tagged layout: as Frame. User-data layout:
  // behind a 31-byte filler prefix, so that a GOV lands on the I-frame mark; a decoder reads
  // the record's headers and prefix as user data, so they must hold no 00 00 01. Where the
  // length or time bytes would form one with their neighbours, the data gets trailing zero
  // bytes and the time is moved on by 1, as often as needed.
  RecordingBuilder& StreamFrame(uint32_t time, const Bytes& esFrame);

  // Tagged layout: any record, with its length field set to `payload.size()` or to `length`.
  RecordingBuilder& TagRecord(const char tag[4], uint32_t type, const Bytes& payload);
  RecordingBuilder& TagRecordClaiming(const char tag[4], uint32_t type, uint32_t length,
                                      const Bytes& payload);
  // User-data layout: a video record whose frame header says `dwLength`, followed by `data`.
  RecordingBuilder& UdVideoClaiming(uint32_t dwLength, uint32_t time, const Bytes& data);
  RecordingBuilder& UdAux(const Bytes& data);
  RecordingBuilder& UdAuxClaiming(uint32_t dwAuxLength, const Bytes& data);
  // Bytes that are no record.
  RecordingBuilder& Raw(const Bytes& bytes);

  // Frame data for a synthetic frame: deterministic filler; for an I-frame the mark stands
  // at the layout's place.
  Bytes SyntheticData(bool iframe, size_t dataSize);

  Bytes Build() const;
  void WriteTo(const std::string& path) const;
  // What a reader delivers for the well-formed records added so far, in order.
  const std::vector<Delivery>& Deliveries() const { return m_deliveries; }
  uint32_t Layout() const { return m_layout; }

 private:
  uint32_t m_layout;
  uint16_t m_videoSize = 5;
  uint32_t m_frameRate = 25;
  uint32_t m_width = 176;
  uint32_t m_height = 144;
  uint32_t m_storedStart = 0;
  uint32_t m_storedEnd = 0;
  uint32_t m_magic;
  uint32_t m_magic2;
  uint32_t m_fillerSeed = 1;
  Bytes m_records;
  std::vector<Delivery> m_deliveries;
};

// Encodes a tagged frame header carrying `time` at bytes 5, 7, 9 and 11.
Bytes TagFrameHeader(uint32_t time);

}  // namespace recording
