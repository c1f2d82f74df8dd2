// ffprobe, an independent reader, must find every sample of our files at its position.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/atomic_file_writer.h"
#include "platform/avi_writer.h"
#include "tests/avi/avi_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using avi_test::PlannedSample;
using avi_test::RunCommand;

std::map<std::string, std::string> KeyValues(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

// "pts,flags" per packet, as ffprobe prints them: K in the flags marks a key frame.
std::string ExpectedPackets(const std::vector<PlannedSample>& samples) {
  std::string packets;
  for (const auto& s : avi_test::ExpectedSamples(samples)) {
    if (s.bytes.empty()) continue;  // empty chunks advance the clock but are no packets
    packets += std::to_string(s.position) + "," + (s.keyFrame ? "K_" : "__") + "\n";
  }
  return packets;
}

TEST(AviFfprobe, ReadsEveryPacketAtItsPosition) {
  if (::access(avi_test::kFfprobe, X_OK) != 0) GTEST_SKIP() << "no ffprobe";
  struct Case {
    const char* name;
    std::vector<PlannedSample> samples;
    platform::AviWriterOptions options;
  };
  const std::vector<Case> cases = {
      {"plain", {{3, 100, true}, {4, 101, false}, {7, 0, false}, {8, 50, true}}, {}},
      {"split", avi_test::SplitSamples(), avi_test::kSplitOptions},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const testing_support::TempDir dir;
    const std::string path = dir.File("out.avi");
    platform::AviWriter writer(std::make_unique<platform::AtomicFileWriter>(path),
                               avi_test::StreamInfo(), avi_test::Format(), c.options);
    avi_test::WriteSamples(writer, c.samples);
    writer.Finish();

    // The payloads are no real video: -nofind_stream_info keeps ffprobe from decoding them.
    const std::string probe = std::string(avi_test::kFfprobe) + " -v error -nofind_stream_info ";
    const auto stream = RunCommand(probe +
                                   "-count_packets -show_entries "
                                   "stream=codec_tag_string,width,height,nb_read_packets "
                                   "-of default=noprint_wrappers=1 " +
                                   path);
    EXPECT_EQ(stream.status, 0);
    EXPECT_EQ(stream.err, "");
    const auto values = KeyValues(stream.out);
    EXPECT_EQ(values.at("codec_tag_string"), "DX50");
    EXPECT_EQ(values.at("width"), std::to_string(avi_test::kWidth));
    EXPECT_EQ(values.at("height"), std::to_string(avi_test::kHeight));

    const auto packets = RunCommand(probe + "-show_entries packet=pts,flags -of csv=p=0 " + path);
    EXPECT_EQ(packets.status, 0);
    EXPECT_EQ(packets.err, "");
    const std::string expected = ExpectedPackets(c.samples);
    EXPECT_EQ(packets.out, expected);
    EXPECT_EQ(values.at("nb_read_packets"),
              std::to_string(std::count(expected.begin(), expected.end(), '\n')));
  }
}

}  // namespace
