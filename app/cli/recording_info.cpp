#include "app/cli/recording_info.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "reader/mp4_format.h"
#include "reader/mp4_reader.h"

namespace {

// The bytes a delivered record takes up in the file.
uint64_t StoredSize(uint32_t dwDataType, uint32_t dwCount) {
  switch (dwDataType) {
    case MP4_DATA_TAG_VIDEO:
      return sizeof(MP4TAGRECORD) + uint64_t{dwCount};
    case MP4_DATA_UD_AUX:
      return sizeof(MP4UDRECORD) + 4 + uint64_t{dwCount};  // record, length field, data
    default:
      return dwCount;  // user-data video is delivered with its headers
  }
}

}  // namespace

const char* LayoutName(uint32_t layout) {
  switch (layout) {
    case MP4_LAYOUT_TAGGED:
      return "tagged";
    case MP4_LAYOUT_USERDATA:
      return "user data";
    default:
      return "unknown";
  }
}

std::optional<RecordingInfo> ReadRecordingInfo(const std::string& path, std::string* pWhy) {
  const std::unique_ptr<CMP4File> reader = CMP4File::Open(path, pWhy);
  if (!reader) return std::nullopt;

  RecordingInfo info;
  info.path = path;
  info.fileSize = reader->FileLength();
  info.layout = reader->Header().Layout();
  info.pictureSizeCode = reader->Header().VideoSize();
  const MP4FILEINFO& trailer = reader->Info();
  info.frameRate = trailer.FrameRate();
  info.width = trailer.Width();
  info.height = trailer.Height();
  info.firstIFrameTime = trailer.StartTime();
  info.lastIFrameTime = trailer.EndTime();

  RecordingWalk& walk = info.walk;
  uint64_t delivered = 0;
  std::vector<uint8_t> buffer;
  for (;;) {
    uint32_t dwDataType = MP4_DATA_NONE;
    // Only counted: auxiliary data, which may claim up to 4 GiB, is not read.
    const uint32_t dwCount =
        reader->GetNextFrame(FrameDest::Growable(buffer, 0).WithoutAuxData(), &dwDataType);
    if (dwDataType == MP4_DATA_NONE) break;
    delivered += StoredSize(dwDataType, dwCount);
    if (dwDataType == MP4_DATA_UD_AUX) {
      ++walk.auxRecords;
    } else {
      ++walk.videoFrames;
      if (reader->FrameNo() == 0) ++walk.iFrames;  // an I-frame restarts the frame count
    }
  }
  // The walk ends by failing to read a record, in the trailer for an intact recording.
  const uint64_t areaStart = MP4_RECORD_AREA_OFFSET;
  const uint64_t areaEnd = std::max(areaStart, info.fileSize - sizeof(MP4FILEINFO));
  const uint64_t reached = std::clamp(reader->FilePosition(), areaStart, areaEnd);
  walk.otherBytes = reached - areaStart - std::min(delivered, reached - areaStart);
  walk.unreadBytes = areaEnd - reached;
  return info;
}
