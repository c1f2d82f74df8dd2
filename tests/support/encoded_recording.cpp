#include "tests/support/encoded_recording.h"

#include <sys/wait.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "convert/vol_header.h"

namespace testing_support {

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

struct Picture {
  uint32_t width;
  uint32_t height;
};

Picture PictureOf(const EncodeSettings& encode) {
  if (encode.width != 0 && encode.height != 0) return {encode.width, encode.height};
  const std::optional<PictureSize> size = PictureSizeOfCode(encode.code);
  if (!size) throw std::runtime_error("no picture for size code " + std::to_string(encode.code));
  return {size->width, size->height};
}

}  // namespace

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string RunCommand(const std::string& command) {
  // Closes the pipe on every path; Close hands back the command's exit status.
  struct Pipe {
    FILE* file;
    ~Pipe() {
      if (file != nullptr) pclose(file);
    }
    int Close() { return pclose(std::exchange(file, nullptr)); }
  } pipe{popen(command.c_str(), "r")};
  if (pipe.file == nullptr) throw std::runtime_error("cannot run: " + command);
  std::string out;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe.file)) > 0;) out.append(chunk, n);
  const int status = pipe.Close();
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("command failed: " + command);
  }
  return out;
}

std::string EncodeTestPattern(const std::filesystem::path& folder, const EncodeSettings& encode,
                              const std::string& name) {
  const Picture picture = PictureOf(encode);
  const std::string path = (folder / (name + ".m4v")).string();
  // -strict very: the VOL header only before the first frame. -threads 1: more threads
  // switch resync markers on, which the table's header declares off. The encoder's time base
  // must be the header's own: a reduced fraction would change the VOP headers' field widths.
  std::ostringstream cmd;
  cmd << "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=" << picture.width << "x"
      << picture.height << ":rate=" << encode.rate << " -frames:v " << encode.frames
      << " -c:v mpeg4 -bf 0 -g " << encode.gop
      << " -threads 1 -strict very -flags +bitexact -enc_time_base 1/"
      << 1000 * VolFrameRate(encode.code, encode.rate) << " -fps_mode passthrough -f m4v "
      << ShellQuote(path);
  RunCommand(cmd.str());
  return path;
}

EncodedRecording MakeEncodedRecording(const std::filesystem::path& folder,
                                      const EncodeSettings& encode,
                                      const RecordingSettings& recording, const std::string& name) {
  EncodedRecording made;
  made.stream = EncodeTestPattern(folder, encode, name);
  made.recording = (folder / (name + ".raw")).string();
  std::ostringstream cmd;
  cmd << ShellQuote(RAWTOAVI_MAKE_RECORDING) << " " << ShellQuote(made.stream) << " "
      << ShellQuote(made.recording) << " --layout " << recording.layout << " --size-code "
      << encode.code << " --rate " << encode.rate << " --extra-every " << recording.extraEvery;
  if (encode.width != 0 && encode.height != 0) {
    cmd << " --width " << encode.width << " --height " << encode.height;
  }
  cmd << " " << recording.moreOptions;
  RunCommand(cmd.str());
  return made;
}

std::vector<std::string> DecodedFrameMd5s(const std::string& path, const std::string& inputFormat) {
  std::string cmd = "ffmpeg -v error -nostdin";
  if (!inputFormat.empty()) cmd += " -f " + inputFormat;
  cmd += " -i " + ShellQuote(path) + " -fps_mode passthrough -f framemd5 -";
  std::vector<std::string> md5s;
  for (const std::string& line : Lines(RunCommand(cmd))) {
    if (line[0] != '#') md5s.push_back(line.substr(line.rfind(',') + 1));
  }
  return md5s;
}

std::vector<std::string> FramePictureTypes(const std::string& path) {
  return Lines(
      RunCommand("ffprobe -v error -show_entries frame=pict_type -of csv=p=0 " + ShellQuote(path)));
}

}  // namespace testing_support
