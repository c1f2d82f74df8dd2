// An AVI reader of our own, to check what the AVI writer produces without trusting it.
//
// It reads AVI files with one video stream, plain or with OpenDML parts (RIFF 'AVI ' then RIFF
// 'AVIX'), and checks the structure on the way: every chunk fits its parent, sizes are exact,
// odd chunks carry a zero pad byte, and every idx1, ix00 and indx entry points at the chunk it
// claims with that chunk's size. The input may be hostile: nothing is read outside it, and
// every defect is reported as AviFormatError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/avi_writer.h"

namespace testing_support {

class AviFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// avih, field by field.
struct AviMainHeader {
  uint32_t microSecPerFrame = 0;
  uint32_t maxBytesPerSec = 0;
  uint32_t paddingGranularity = 0;
  uint32_t flags = 0;
  uint32_t totalFrames = 0;
  uint32_t initialFrames = 0;
  uint32_t streams = 0;
  uint32_t suggestedBufferSize = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

// One data chunk of the stream.
struct AviSample {
  uint64_t position = 0;  // dwStart plus the chunks before it, empty ones included
  std::vector<uint8_t> bytes;
  bool keyFrame = false;  // as the index says

  bool operator==(const AviSample&) const = default;
};

// One RIFF part of the file.
struct AviPart {
  uint64_t offset = 0;  // of the RIFF header
  uint64_t size = 0;    // of the whole chunk: header, data and pad
  size_t chunks = 0;    // data chunks in its movi
  std::optional<size_t> ix00Entries;
  std::optional<size_t> idx1Entries;
};

struct AviFile {
  AviMainHeader avih;
  platform::AviStreamInfo strh{};  // the fields strh holds, szName from strn
  platform::BitmapInfoHeader strf{};
  std::optional<size_t> superIndexEntries;  // entries in use of indx; none for JUNK
  std::optional<uint32_t> dmlhTotalFrames;
  std::vector<AviPart> parts;
  std::vector<AviSample> samples;
};

// Throw AviFormatError naming the first defect found.
AviFile ParseAvi(std::span<const uint8_t> bytes);
AviFile ReadAviFile(const std::string& path);

}  // namespace testing_support
