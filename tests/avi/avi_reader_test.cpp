// Our AVI reader is only as good a check as the damage it notices, and it must survive any input.
#include "tests/support/avi_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/little_endian.h"
#include "tests/avi/avi_fixture.h"

namespace {

using testing_support::AviFormatError;
using testing_support::ParseAvi;

// A small split file: a few parts, with every kind of index.
std::vector<uint8_t> SmallSplitFile() {
  return avi_test::WriteAvi(avi_test::Sequence(0, 12, 301), {1500, 16});
}

// Offset of the first occurrence of `fourCc` in `bytes`.
size_t Find(const std::vector<uint8_t>& bytes, const char* fourCc) {
  const auto at = std::search(bytes.begin(), bytes.end(), fourCc, fourCc + 4);
  if (at == bytes.end()) throw std::runtime_error(std::string("no ") + fourCc);
  return static_cast<size_t>(at - bytes.begin());
}

// Offset of the first data chunk: the one after the first 'movi' form type.
size_t FirstDataChunk(const std::vector<uint8_t>& bytes) { return Find(bytes, "movi") + 4; }

void Add32(std::vector<uint8_t>& bytes, size_t at, uint32_t delta) {
  platform::StoreLe32(&bytes[at], platform::LoadLe32(&bytes[at]) + delta);
}

TEST(AviReader, ReadsTheFileItIsGiven) {
  const auto bytes = SmallSplitFile();
  const auto file = ParseAvi(bytes);
  EXPECT_GE(file.parts.size(), 3u);
  EXPECT_EQ(file.samples, avi_test::ExpectedSamples(avi_test::Sequence(0, 12, 301)));
}

TEST(AviReader, NoticesDamage) {
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const std::vector<Case> cases = {
      {"truncated", [](auto& b) { b.pop_back(); }},
      {"trailing byte", [](auto& b) { b.push_back(0); }},
      {"RIFF size too large", [](auto& b) { Add32(b, 4, 2); }},
      {"chunk size one short", [](auto& b) { Add32(b, FirstDataChunk(b) + 4, -2u); }},
      {"pad byte not zero", [](auto& b) { b[FirstDataChunk(b) + 8 + 301] = 1; }},
      {"unknown chunk in movi", [](auto& b) { b[FirstDataChunk(b) + 1] = '1'; }},
      {"idx1 offset", [](auto& b) { Add32(b, Find(b, "idx1") + 8 + 16 + 8, 2); }},
      {"idx1 size", [](auto& b) { Add32(b, Find(b, "idx1") + 8 + 12, 1); }},
      {"ix00 offset", [](auto& b) { Add32(b, Find(b, "ix00") + 8 + 24, 2); }},
      {"ix00 base", [](auto& b) { Add32(b, Find(b, "ix00") + 8 + 12, 2); }},
      {"ix00 size", [](auto& b) { Add32(b, Find(b, "ix00") + 8 + 28, 1); }},
      {"ix00 entry count", [](auto& b) { Add32(b, Find(b, "ix00") + 8 + 4, 1); }},
      {"indx offset", [](auto& b) { Add32(b, Find(b, "indx") + 8 + 24, 8); }},
      {"indx duration", [](auto& b) { Add32(b, Find(b, "indx") + 8 + 24 + 12, 1); }},
      {"indx entry count", [](auto& b) { Add32(b, Find(b, "indx") + 8 + 4, -1u); }},
      {"indx turned to JUNK", [](auto& b) { std::copy_n("JUNK", 4, &b[Find(b, "indx")]); }},
      {"second part not AVIX", [](auto& b) { b[Find(b, "AVIX")] = 'B'; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = SmallSplitFile();
    c.damage(bytes);
    EXPECT_THROW(ParseAvi(bytes), AviFormatError);
  }
}

TEST(AviReader, SurvivesAnyTruncationOrSingleByteChange) {
  const auto bytes = SmallSplitFile();
  for (size_t length = 0; length < bytes.size(); ++length) {
    EXPECT_THROW(ParseAvi({bytes.data(), length}), AviFormatError) << length;
  }
  // A changed byte may still leave a valid file (payload, reserved fields); it must not crash.
  std::vector<uint8_t> changed = bytes;
  for (size_t at = 0; at < changed.size(); ++at) {
    for (const uint8_t value : {uint8_t{0x00}, uint8_t{0x80}, uint8_t{0xFF}}) {
      const uint8_t original = changed[at];
      changed[at] = value;
      try {
        ParseAvi(changed);
      } catch (const AviFormatError&) {
      }
      changed[at] = original;
    }
  }
}

}  // namespace
