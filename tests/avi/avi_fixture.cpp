#include "tests/avi/avi_fixture.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "platform/memory_writer.h"
#include "tests/support/temp_dir.h"

namespace avi_test {

platform::AviStreamInfo StreamInfo() {
  platform::AviStreamInfo info{};
  info.fccType = platform::MakeFourCc("vids");
  info.fccHandler = platform::MakeFourCc("DX50");
  info.dwScale = 1;
  info.dwRate = 25;
  info.dwQuality = 0xFFFFFFFF;
  info.rcFrame = {0, 0, kWidth, kHeight};
  return info;
}

platform::BitmapInfoHeader Format() {
  platform::BitmapInfoHeader format{};
  format.SetSize(sizeof format);
  format.SetWidth(kWidth);
  format.SetHeight(kHeight);
  format.SetPlanes(1);
  format.SetBitCount(24);
  format.SetCompression(platform::MakeFourCc("DX50"));
  format.SetSizeImage(kWidth * kHeight * 3);
  return format;
}

std::vector<uint8_t> Payload(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed * 31 + i * 7 + 1);
  return bytes;
}

void WriteSamples(platform::AviWriter& writer, const std::vector<PlannedSample>& samples) {
  for (const PlannedSample& s : samples) {
    const std::vector<uint8_t> payload = Payload(s.size, s.position);
    writer.WriteSample(s.position, payload.data(), payload.size(),
                       s.key ? platform::AVIIF_KEYFRAME : 0);
  }
}

std::vector<uint8_t> WriteAvi(const std::vector<PlannedSample>& samples,
                              const platform::AviWriterOptions& options) {
  auto memory = std::make_unique<platform::MemoryWriter>();
  const platform::MemoryWriter& out = *memory;
  platform::AviWriter writer(std::move(memory), StreamInfo(), Format(), options);
  WriteSamples(writer, samples);
  writer.Finish();
  return out.Bytes();
}

std::vector<testing_support::AviSample> ExpectedSamples(const std::vector<PlannedSample>& samples) {
  std::vector<testing_support::AviSample> expected;
  for (const PlannedSample& s : samples) {
    while (!expected.empty() && expected.back().position + 1 < s.position) {
      expected.push_back({expected.back().position + 1, {}, false});
    }
    expected.push_back({s.position, Payload(s.size, s.position), s.key});
  }
  return expected;
}

std::vector<PlannedSample> Sequence(uint32_t first, uint32_t count, size_t baseSize) {
  std::vector<PlannedSample> samples;
  for (uint32_t i = 0; i < count; ++i) {
    samples.push_back({first + i, baseSize + (i * 37) % 101, i % 5 == 0});
  }
  return samples;
}

std::vector<PlannedSample> SplitSamples() {
  std::vector<PlannedSample> samples = Sequence(10, 60, 150);
  samples.erase(samples.begin() + 20, samples.begin() + 24);
  samples[40].size = 5000;
  return samples;
}

CommandResult RunCommand(const std::string& command) {
  const testing_support::TempDir dir;
  const std::string errPath = dir.File("stderr");
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>" + errPath).c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const std::vector<uint8_t> err = testing_support::ReadFileBytes(errPath);
  result.err.assign(err.begin(), err.end());
  return result;
}

}  // namespace avi_test
