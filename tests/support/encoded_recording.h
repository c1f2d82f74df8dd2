// Real MPEG-4 data for tests: a test pattern encoded by ffmpeg's mpeg4 encoder with settings
// whose frames fit the VOL header table, wrapped into a raw recording by the built
// make-recording tool; and running ffmpeg and ffprobe to look at the results.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "reader/mp4file.h"

namespace testing_support {

struct EncodeSettings {
  uint16_t code = 5;  // picture-size code; its picture is encoded
  uint32_t rate = 25;
  int frames = 20;
  int gop = 10;  // frames from one I-frame to the next
  // For a code outside 0-5, the picture to encode (recordings outside the table).
  uint32_t width = 0;
  uint32_t height = 0;
};

struct RecordingSettings {
  uint32_t layout = MP4_LAYOUT_TAGGED;
  uint32_t extraEvery = 0;    // an aux or non-video record after every K frames; 0 for none
  std::string moreOptions{};  // further make-recording options, e.g. "--start-time 257"
};

struct EncodedRecording {
  std::string stream;     // the encoder's elementary stream (.m4v)
  std::string recording;  // the raw recording made from it
};

// Encodes `frames` frames of ffmpeg's testsrc2 pattern to `folder`/`name`.m4v: the code's
// picture, no B-frames, a GOV before every I-frame, the VOL header only at the start, and
// time counted in the units of the table's VOL header for the code and rate. Returns the
// path; throws std::runtime_error when ffmpeg fails.
std::string EncodeTestPattern(const std::filesystem::path& folder, const EncodeSettings& encode,
                              const std::string& name = "stream");

// Encodes as EncodeTestPattern does and wraps the stream into `folder`/`name`.raw with the
// code and rate in its header and trailer (and width and height, when given).
EncodedRecording MakeEncodedRecording(const std::filesystem::path& folder,
                                      const EncodeSettings& encode,
                                      const RecordingSettings& recording,
                                      const std::string& name = "stream");

// Runs `command` through the shell and returns its standard output; throws
// std::runtime_error when it cannot be run or exits with a failure.
std::string RunCommand(const std::string& command);

// `text` quoted for the shell.
std::string ShellQuote(const std::string& text);

// The MD5 of every picture ffmpeg decodes from `path`, in output order, without timestamps:
// two files decode alike when these are equal. `inputFormat` forces ffmpeg's demuxer (for
// example "m4v" for a stream assembled by hand); empty lets ffmpeg probe.
std::vector<std::string> DecodedFrameMd5s(const std::string& path,
                                          const std::string& inputFormat = "");

// The picture type ffprobe reports for each frame of `path` ("I", "P", ...), in order.
std::vector<std::string> FramePictureTypes(const std::string& path);

}  // namespace testing_support
