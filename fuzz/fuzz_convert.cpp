// Fuzz target: a whole recording converted to AVI, then read back by our own AVI reader.
//
// A conversion that succeeds must leave a well-formed AVI (every chunk, size and index entry
// consistent) whose first sample starts with the VOL header; one that fails must leave no
// file, temporary or final. The RIFF part size is tiny so the OpenDML form is exercised.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "convert/convert_raw_to_avi.h"
#include "convert/vol_header.h"
#include "tests/support/avi_reader.h"

namespace {

const std::filesystem::path& WorkDir() {
  static const std::filesystem::path dir = [] {
    const char* tmp = std::getenv("TMPDIR");
    auto path = std::filesystem::path(tmp ? tmp : "/tmp") /
                ("fuzz-convert-" + std::to_string(getpid()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string raw = (WorkDir() / "in.raw").string();
  const std::string avi = (WorkDir() / "out.avi").string();
  FILE* f = std::fopen(raw.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  std::filesystem::remove(avi);

  ConvertOptions options;
  options.riffSizeThreshold = 4096;
  if (ConvertRawToAvi(avi.c_str(), raw.c_str(), options) == 0) {
    const testing_support::AviFile file = testing_support::ReadAviFile(avi);  // throws if bad
    if (file.samples.empty() || file.samples[0].position != 1 ||
        file.samples[0].bytes.size() < VOL_HEADER_SIZE) {
      std::abort();
    }
  }
  // Nothing but the recording and, after a success, the AVI file.
  for (const auto& entry : std::filesystem::directory_iterator(WorkDir())) {
    const std::string name = entry.path().filename().string();
    if (name != "in.raw" && name != "out.avi") std::abort();
  }
  return 0;
}
