// Shared pieces of the AVI tests: a stream description, sample payloads, writing a file into
// memory, and running ffprobe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/avi_writer.h"
#include "tests/support/avi_reader.h"

namespace avi_test {

constexpr int32_t kWidth = 352;
constexpr int32_t kHeight = 288;

// A sample to write: where, how many bytes, key frame or not.
struct PlannedSample {
  uint32_t position;
  size_t size;
  bool key;
};

// An MPEG-4 (DX50) stream of kWidth x kHeight at 25 frames per second.
platform::AviStreamInfo StreamInfo();
platform::BitmapInfoHeader Format();

// `size` bytes that differ from sample to sample (`seed`), so a misplaced sample shows.
std::vector<uint8_t> Payload(size_t size, uint32_t seed);

// Passes `samples` to `writer`, each with its Payload.
void WriteSamples(platform::AviWriter& writer, const std::vector<PlannedSample>& samples);

// Writes `samples` with AviWriter and returns the finished file.
std::vector<uint8_t> WriteAvi(const std::vector<PlannedSample>& samples,
                              const platform::AviWriterOptions& options = {});

// What a reader should find: every position from the first sample's to the last one's, the
// skipped ones as empty chunks that are no key frames.
std::vector<testing_support::AviSample> ExpectedSamples(const std::vector<PlannedSample>& samples);

// `count` samples from `first` on, a key frame every 5, sizes varying (odd ones included).
std::vector<PlannedSample> Sequence(uint32_t first, uint32_t count, size_t baseSize);

// A file split every few KB; 64 super-index slots keep the headers at 1.6 KB.
constexpr platform::AviWriterOptions kSplitOptions{4096, 64};

// Dozens of samples from position 10 on, with a gap of 4 positions and a sample larger than a
// part of kSplitOptions.
std::vector<PlannedSample> SplitSamples();

struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};
// Runs `command` through the shell, collecting its standard output and error.
CommandResult RunCommand(const std::string& command);

constexpr const char* kFfprobe = "/usr/bin/ffprobe";

}  // namespace avi_test
