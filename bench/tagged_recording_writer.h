// Streams a raw recording of the tagged layout to disk: the file header, one "ZEVO" video
// record per frame, and the info trailer, without holding the recording in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "bench/buffered_output.h"

namespace bench {

struct RecordingPicture {
  uint16_t sizeCode;  // the header's picture-size code
  uint32_t frameRate;
  uint32_t width;
  uint32_t height;
};

class TaggedRecordingWriter {
 public:
  // Bytes a video record adds in front of its frame data: record header and frame header.
  static constexpr size_t kRecordOverhead = 12 + 16;
  static constexpr size_t kTrailerSize = 56;

  // Creates `path` and writes the file header. Throws std::system_error.
  TaggedRecordingWriter(const std::string& path, const RecordingPicture& picture);

  // Appends a video record holding `data` with the frame time `time`.
  void AddFrame(uint32_t time, std::span<const uint8_t> data);
  // Offset of the next record.
  uint64_t Position() const { return m_out.Position(); }
  // Writes the trailer, with the stored times of the first and last I-frame, and closes.
  void Finish(uint32_t startTime, uint32_t endTime);

 private:
  BufferedOutput m_out;
  RecordingPicture m_picture;
};

}  // namespace bench
