// End to end with real MPEG-4 frames: recordings made from ffmpeg's encoder, converted, then
// read by ffprobe and decoded by ffmpeg as independent judges.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "convert/convert_raw_to_avi.h"
#include "tests/support/encoded_recording.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::EncodeSettings;
using testing_support::RecordingSettings;

// ffprobe's view of the video stream, as key=value pairs; errors end up among them too.
std::map<std::string, std::string> Probe(const std::string& avi) {
  const std::string out = testing_support::RunCommand(
      "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
      "stream=codec_name,codec_tag_string,width,height,nb_read_frames -of default=nw=1 " +
      testing_support::ShellQuote(avi) + " 2>&1");
  std::map<std::string, std::string> fields;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    fields[eq == std::string::npos ? "unexpected output" : line.substr(0, eq)] =
        eq == std::string::npos ? line : line.substr(eq + 1);
  }
  return fields;
}

struct Case {
  const char* name;
  EncodeSettings encode;
  RecordingSettings recording;
  uint32_t riffSizeThreshold;
  std::string width, height;
};

TEST(ConvertDecode, PlayersReadAndDecodeEveryFrame) {
  const Case cases[] = {
      {"tagged, code 5 at 25 fps", {5, 25, 30, 10}, {MP4_LAYOUT_TAGGED, 4}, 1u << 30, "176", "144"},
      {"user data, code 1 at 12 fps",
       {1, 12, 24, 8},
       {MP4_LAYOUT_USERDATA, 3},
       1u << 30,
       "352",
       "240"},
      {"tagged, code 2 at 8 fps, split into RIFF parts",
       {2, 8, 40, 12},
       {MP4_LAYOUT_TAGGED, 0},
       8u << 10,
       "160",
       "112"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir dir;
    const auto made = testing_support::MakeEncodedRecording(dir.Path(), c.encode, c.recording);
    const std::string avi = dir.File("out.avi");
    ConvertOptions options;
    options.riffSizeThreshold = c.riffSizeThreshold;
    std::string why;
    ASSERT_EQ(ConvertRawToAvi(avi.c_str(), made.recording.c_str(), options, &why), 0) << why;

    const auto probe = Probe(avi);
    EXPECT_EQ(probe.count("unexpected output"), 0u) << probe.at("unexpected output");
    EXPECT_EQ(probe.at("codec_name"), "mpeg4");
    EXPECT_EQ(probe.at("codec_tag_string"), "DX50");
    EXPECT_EQ(probe.at("width"), c.width);
    EXPECT_EQ(probe.at("height"), c.height);
    EXPECT_EQ(probe.at("nb_read_frames"), std::to_string(c.encode.frames));
    const auto decoded = testing_support::DecodedFrameMd5s(avi);
    EXPECT_EQ(decoded.size(), static_cast<size_t>(c.encode.frames));
    EXPECT_EQ(decoded, testing_support::DecodedFrameMd5s(made.stream));
  }
}

}  // namespace
