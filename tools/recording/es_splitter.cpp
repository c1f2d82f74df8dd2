#include "tools/recording/es_splitter.h"

#include <stdexcept>

namespace recording {

namespace {

constexpr uint8_t LAST_VOL_CODE = 0x2F;  // 00-1F video object, 20-2F video object layer
constexpr uint8_t VOS_CODE = 0xB0;
constexpr uint8_t VISUAL_OBJECT_CODE = 0xB5;
constexpr uint8_t GOV_CODE = 0xB3;
constexpr uint8_t VOP_CODE = 0xB6;
constexpr uint8_t INTRA_VOP_TYPE = 0;  // vop_coding_type, the two bits behind the VOP code

bool IsConfigurationCode(uint8_t code) {
  return code <= LAST_VOL_CODE || code == VOS_CODE || code == VISUAL_OBJECT_CODE;
}

}  // namespace

std::vector<Bytes> SplitElementaryStream(const Bytes& stream) {
  std::vector<Bytes> frames;
  size_t frameStart = stream.size();  // none yet
  bool afterGov = false;
  auto endFrameAt = [&](size_t at) {
    if (frameStart < at) frames.emplace_back(stream.begin() + frameStart, stream.begin() + at);
    frameStart = at;
  };
  for (size_t i = 0; i + 3 < stream.size(); ++i) {
    if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1) continue;
    const uint8_t code = stream[i + 3];
    if (code == GOV_CODE) {
      endFrameAt(i);
      afterGov = true;
    } else if (code == VOP_CODE) {
      if (!afterGov) {
        if (i + 4 < stream.size() && (stream[i + 4] >> 6) == INTRA_VOP_TYPE) {
          throw std::runtime_error("intra-coded VOP without a GOV at byte " + std::to_string(i));
        }
        endFrameAt(i);
      }
      afterGov = false;
    } else if (IsConfigurationCode(code) && frameStart < stream.size()) {
      throw std::runtime_error("configuration header after the first frame, at byte " +
                               std::to_string(i));
    }
    i += 2;
  }
  if (frameStart == stream.size()) throw std::runtime_error("no frame in the stream");
  endFrameAt(stream.size());
  return frames;
}

}  // namespace recording
