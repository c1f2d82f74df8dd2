#include "tests/app/app_files.h"

#include <filesystem>
#include <vector>

#include "reader/mp4file.h"
#include "tests/support/temp_dir.h"
#include "tools/recording/recording_builder.h"

namespace testing_support {

void WriteRecording(const std::string& path, int frames) {
  recording::RecordingBuilder builder(MP4_LAYOUT_TAGGED);
  for (int i = 0; i < frames; ++i) {
    const auto time = static_cast<uint32_t>(i + 1);
    if (i % 4 == 0) {
      builder.IFrame(time);
    } else {
      builder.PFrame(time);
    }
  }
  builder.WriteTo(path);
}

bool IsAvi(const std::string& path) {
  if (!std::filesystem::is_regular_file(path)) return false;
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  return bytes.size() > 12 && std::string(bytes.begin(), bytes.begin() + 4) == "RIFF" &&
         std::string(bytes.begin() + 8, bytes.begin() + 12) == "AVI ";
}

}  // namespace testing_support
