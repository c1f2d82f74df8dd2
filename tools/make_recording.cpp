// make-recording: wraps an MPEG-4 Visual elementary stream (ffmpeg -c:v mpeg4 -f m4v) into a
// raw recording of either layout, as a device would have written it. Makes the bundled sample
// and the recordings the tests convert.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "convert/vol_header.h"
#include "reader/mp4_format.h"
#include "tools/recording/es_splitter.h"
#include "tools/recording/recording_builder.h"

namespace {

struct Options {
  std::string input;
  std::string output;
  uint32_t layout = MP4_LAYOUT_TAGGED;
  uint16_t code = 5;
  uint32_t rate = 25;
  uint32_t width = 0;   // 0: the code's width
  uint32_t height = 0;  // 0: the code's height
  uint32_t startTime = 1000;
  uint32_t timeStep = 0;  // 0: 1000 / rate
  uint32_t extraEvery = 0;
  uint32_t extraSize = 32;
};

// A tagged record the reader passes over: neither its tag nor its type is video.
constexpr char EXTRA_TAG[4] = {'A', 'U', 'X', 'D'};
constexpr uint32_t EXTRA_TYPE = 0x00020033;

recording::Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ResolveDefaults(Options& o) {
  if (o.width == 0 || o.height == 0) {
    const std::optional<PictureSize> size = PictureSizeOfCode(o.code);
    if (!size) throw std::runtime_error("size code outside 0-5: give --width and --height");
    if (o.width == 0) o.width = size->width;
    if (o.height == 0) o.height = size->height;
  }
  if (o.timeStep == 0) o.timeStep = 1000 / std::max<uint32_t>(o.rate, 1);
}

void AddExtraRecord(recording::RecordingBuilder& b, const Options& o) {
  const recording::Bytes data = b.SyntheticData(false, o.extraSize);
  if (o.layout == MP4_LAYOUT_USERDATA) {
    b.UdAux(data);
  } else {
    b.TagRecord(EXTRA_TAG, EXTRA_TYPE, data);
  }
}

int Run(Options o) {
  ResolveDefaults(o);
  const std::vector<recording::Bytes> frames =
      recording::SplitElementaryStream(ReadWholeFile(o.input));

  recording::RecordingBuilder b(o.layout);
  b.VideoSize(o.code).FrameRate(o.rate).Picture(o.width, o.height);
  uint32_t time = o.startTime;
  size_t extras = 0;
  for (size_t i = 0; i < frames.size(); ++i, time += o.timeStep) {
    b.StreamFrame(time, frames[i]);
    if (o.extraEvery != 0 && (i + 1) % o.extraEvery == 0) {
      AddExtraRecord(b, o);
      ++extras;
    }
  }
  b.StoredTimes(o.startTime, time - o.timeStep);
  b.WriteTo(o.output);
  std::cout << o.output << ": " << frames.size() << " frames, " << extras << " extra records\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  CLI::App app{"Wraps an MPEG-4 elementary stream into a raw recording."};
  app.add_option("input", o.input, "MPEG-4 elementary stream (ffmpeg -c:v mpeg4 -f m4v)")
      ->required()
      ->check(CLI::ExistingFile);
  app.add_option("output", o.output, "raw recording to write")->required();
  app.add_option("--layout", o.layout, "record layout: tagged (default) or userdata")
      ->transform(CLI::CheckedTransformer(std::map<std::string, uint32_t>{
          {"tagged", MP4_LAYOUT_TAGGED}, {"userdata", MP4_LAYOUT_USERDATA}}));
  app.add_option("--size-code", o.code, "picture-size code in the file header")
      ->capture_default_str();
  app.add_option("--rate", o.rate, "frame rate in the trailer")->capture_default_str();
  app.add_option("--width", o.width, "picture width in the trailer (default: the code's)");
  app.add_option("--height", o.height, "picture height in the trailer (default: the code's)");
  app.add_option("--start-time", o.startTime, "time of the first frame")->capture_default_str();
  app.add_option("--time-step", o.timeStep, "time between frames (default: 1000 / rate)");
  app.add_option("--extra-every", o.extraEvery,
                 "after every K frames, one record that is no video: an aux record "
                 "(userdata) or a record of another tag and type (tagged); 0 for none")
      ->capture_default_str();
  app.add_option("--extra-size", o.extraSize, "data bytes of each extra record")
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  try {
    return Run(o);
  } catch (const std::exception& e) {
    std::cerr << "make-recording: " << e.what() << "\n";
    return 1;
  }
}
