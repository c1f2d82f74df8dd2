#include "app/cli/info_report.h"

#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "app/cli/exit_status.h"
#include "app/cli/recording_info.h"
#include "app/raw_folder.h"

namespace {

using Json = nlohmann::ordered_json;

Json ToJson(const RecordingInfo& info) {
  return {
      {"path", info.path},
      {"file_size", info.fileSize},
      {"header",
       {{"layout", info.layout},
        {"layout_name", LayoutName(info.layout)},
        {"picture_size_code", info.pictureSizeCode}}},
      {"info",
       {{"frame_rate", info.frameRate},
        {"width", info.width},
        {"height", info.height},
        {"first_iframe_time", info.firstIFrameTime},
        {"last_iframe_time", info.lastIFrameTime}}},
      {"walk",
       {{"video_frames", info.walk.videoFrames},
        {"iframes", info.walk.iFrames},
        {"aux_records", info.walk.auxRecords},
        {"other_bytes", info.walk.otherBytes},
        {"unread_bytes", info.walk.unreadBytes}}},
  };
}

void PrintText(const RecordingInfo& info) {
  std::cout << info.path << "\n"
            << "  file size:          " << info.fileSize << " bytes\n"
            << "  layout:             " << info.layout << " (" << LayoutName(info.layout) << ")\n"
            << "  picture-size code:  " << info.pictureSizeCode << "\n"
            << "  frame rate:         " << info.frameRate << "\n"
            << "  picture:            " << info.width << " x " << info.height << "\n"
            << "  first I-frame time: " << info.firstIFrameTime << "\n"
            << "  last I-frame time:  " << info.lastIFrameTime << "\n"
            << "  video frames:       " << info.walk.videoFrames << "\n"
            << "  I-frames:           " << info.walk.iFrames << "\n"
            << "  aux records:        " << info.walk.auxRecords << "\n"
            << "  other bytes:        " << info.walk.otherBytes
            << " (records of other kinds, or damage)\n"
            << "  unread bytes:       " << info.walk.unreadBytes << " (behind a damaged record)\n";
}

// The recordings a command-line path stands for; a folder that cannot be listed stands for
// itself, so that describing it reports why.
std::vector<std::string> Recordings(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) return {path};
  try {
    return ListRawFiles(AbsoluteFolder(path));
  } catch (const std::filesystem::filesystem_error&) {
    return {path};
  }
}

}  // namespace

int PrintRecordingInfo(const std::vector<std::string>& paths, bool json) {
  Json recordings = Json::array();
  int status = kExitSuccess;
  bool first = true;
  for (const std::string& path : paths) {
    for (const std::string& recording : Recordings(path)) {
      std::string why;
      const std::optional<RecordingInfo> info = ReadRecordingInfo(recording, &why);
      if (!info) {
        std::cerr << "rawtoavi: " << why << std::endl;
        if (json) recordings.push_back({{"path", recording}, {"error", why}});
        status = kExitFailure;
      } else if (json) {
        recordings.push_back(ToJson(*info));
      } else {
        if (!first) std::cout << "\n";
        PrintText(*info);
        first = false;
      }
    }
  }
  if (json) {
    const Json document = {{"schema_version", kInfoSchemaVersion}, {"recordings", recordings}};
    std::cout << document.dump(2) << std::endl;
  }
  return status;
}
