#include "bench/recording_survey.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "reader/mp4_format.h"
#include "reader/mp4file.h"

namespace bench {

namespace {

// Larger than any record the generator writes; the C interface takes no buffer size.
constexpr size_t kFrameBufferSize = size_t{16} << 20;

bool HasMark(const uint8_t* data, uint32_t count, size_t at) {
  return count >= at + 4 && std::memcmp(data + at, MP4_GOV_START_CODE, 4) == 0;
}

}  // namespace

RecordingSurvey SurveyRecording(const std::string& path) {
  void* h = MP4FileOpen(path.c_str());
  if (h == nullptr) throw std::runtime_error(path + ": cannot open as a recording");
  std::vector<uint8_t> buffer(kFrameBufferSize);
  RecordingSurvey s;
  uint64_t offset = sizeof(MP4FILEHEADER);
  for (;;) {
    uint32_t count = 0;
    const uint32_t type = MP4FileGetNextFrame(h, buffer.data(), &count);
    if (type == MP4_DATA_TAG_VIDEO || type == MP4_DATA_UD_VIDEO) {
      const bool tagged = type == MP4_DATA_TAG_VIDEO;
      if (HasMark(buffer.data(), count,
                  tagged ? MP4_TAG_IFRAME_MARK_OFFSET
                         : MP4_UD_HEADERS_SIZE + MP4_UD_IFRAME_MARK_OFFSET)) {
        ++s.groups;
        s.lastAnchorOffset = offset;
      }
      ++s.videoRecords;
      offset += tagged ? sizeof(MP4TAGRECORD) + count : count;
    } else if (type == MP4_DATA_UD_AUX) {
      offset += sizeof(MP4UDRECORD) + 4 + count;
    } else {
      break;
    }
  }
  MP4FileClose(h);
  s.fileBytes = std::filesystem::file_size(path);
  return s;
}

void WarmPageCache(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error(path + ": cannot open");
  std::vector<uint8_t> block(size_t{1} << 20);
  while (::read(fd, block.data(), block.size()) > 0) {
  }
  ::close(fd);
}

}  // namespace bench
