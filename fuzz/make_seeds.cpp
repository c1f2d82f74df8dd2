// Writes the seed corpora of the fuzz targets: small recordings of both layouts made by the
// fixture builder, each also with a short call script appended for the reader target.
//
//   make-seeds READER_DIR CONVERT_DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "reader/mp4_format.h"
#include "tools/recording/recording_builder.h"

using recording::Bytes;
using recording::RecordingBuilder;

namespace {

std::vector<RecordingBuilder> Recordings() {
  std::vector<RecordingBuilder> all;
  for (uint32_t layout : {MP4_LAYOUT_TAGGED, MP4_LAYOUT_USERDATA}) {
    RecordingBuilder groups(layout);
    groups.IFrame(1, 40).PFrame(2, 30).PFrame(3, 20).IFrame(4, 40).PFrame(5, 25);
    all.push_back(groups);

    RecordingBuilder leadingP(layout);
    leadingP.PFrame(1, 24).PFrame(2, 24).IFrame(3, 36).PFrame(4, 16);
    all.push_back(leadingP);

    RecordingBuilder odd(layout);
    odd.IFrame(1, 36).Raw(Bytes(8, 0x41)).PFrame(2, 3);
    if (layout == MP4_LAYOUT_TAGGED) {
      odd.TagRecord("INFO", 7, Bytes(9, 1)).TagRecord("ZEVO", MP4_TAG_TYPE_VIDEO, {});
    } else {
      odd.UdAux(Bytes(5, 2)).UdAux({}).UdVideoClaiming(32, 9, {});
    }
    odd.IFrame(5, 36);
    all.push_back(odd);

    all.push_back(RecordingBuilder(layout));
  }
  return all;
}

void Write(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s READER_DIR CONVERT_DIR\n", argv[0]);
    return 2;
  }
  const std::filesystem::path readerDir = argv[1], convertDir = argv[2];
  std::filesystem::create_directories(readerDir);
  std::filesystem::create_directories(convertDir);
  // A script touching every call: next, next-I, prev, one(2), set(2, 1), pos, header, rewind.
  const Bytes script = {0, 0, 1, 2, 3, 2, 4, 2, 1, 5, 6, 7, 0};
  int n = 0;
  for (const RecordingBuilder& b : Recordings()) {
    const Bytes recording = b.Build();
    Write(convertDir / ("seed-" + std::to_string(n) + ".raw"), recording);
    Bytes withScript = recording;
    withScript.insert(withScript.end(), script.begin(), script.end());
    withScript.push_back(static_cast<uint8_t>(script.size()));
    withScript.push_back(0);
    Write(readerDir / ("seed-" + std::to_string(n) + ".bin"), withScript);
    ++n;
  }
  return 0;
}
