// Fuzz target: a recording followed by a script of calls to the ten C functions.
//
// Input: [recording][script][script length, u16 LE]. The recording is written to a temporary
// file and opened; each script byte picks a call, and the bytes after it give its arguments.
// Every delivered byte count must fit the buffer the interface promises to need (the
// recording's own length), which ASan then checks byte by byte.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "reader/mp4file.h"

namespace {

class Script {
 public:
  Script(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool Done() const { return m_at >= m_size; }
  uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
  // Small numbers mostly, so calls hit real groups; sometimes anything.
  uint32_t Number() {
    const uint8_t b = Byte();
    if (b < 0xF0) return b % 16;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return v;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};

std::string TempPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/fuzz-reader-" + std::to_string(getpid()) + ".raw";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t scriptSize = 0;
  if (size >= 2) scriptSize = std::min<size_t>(data[size - 2] | data[size - 1] << 8, size - 2);
  const size_t recordingSize = size >= 2 ? size - 2 - scriptSize : size;
  Script script(data + recordingSize, scriptSize);

  const std::string path = TempPath();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(data, 1, recordingSize, f);
  std::fclose(f);

  void* h = MP4FileOpen(path.c_str());
  if (h == nullptr) return 0;
  if (MP4FileOpen(path.c_str()) != nullptr) std::abort();  // held exclusively

  // No delivery can be longer than the file it comes from.
  std::vector<uint8_t> buffer(recordingSize + 1);
  uint8_t header[MP4_HEADER_SIZE];
  uint8_t info[MP4_INFO_SIZE];
  uint32_t a = 0, b = 0, length = 0;
  const auto checkDelivery = [&](uint32_t type) {
    if (type != MP4_DATA_TAG_VIDEO && type != MP4_DATA_UD_VIDEO && type != MP4_DATA_UD_AUX &&
        type != MP4_DATA_NONE) {
      std::abort();
    }
    if (length > recordingSize || (type == MP4_DATA_NONE && length != 0)) std::abort();
  };
  for (int calls = 0; !script.Done() && calls < 64; ++calls) {
    switch (script.Byte() % 8) {
      case 0:
        checkDelivery(MP4FileGetNextFrame(h, buffer.data(), &length));
        break;
      case 1:
        checkDelivery(MP4FileGetNextIFrame(h, buffer.data(), &length));
        break;
      case 2:
        checkDelivery(MP4FileGetPrevIFrame(h, buffer.data(), &length));
        break;
      case 3:
        checkDelivery(MP4FileGetOneFrame(h, script.Number(), buffer.data(), &length));
        break;
      case 4: {
        const uint32_t i = script.Number();
        MP4FileSetCurrentPos(h, i, script.Number());
        break;
      }
      case 5:
        if (MP4FileGetCurrentPos(h, &a, &b) != 1) std::abort();
        break;
      case 6:
        if (MP4FileGetHeader(h, header) != 1 || MP4FileGetInfo(h, info) != 1) std::abort();
        break;
      default:
        if (MP4FileSetCurrentPos(h, 0, 0) != 1) std::abort();
        break;
    }
  }
  if (MP4FileClose(h) != 1) std::abort();
  return 0;
}
