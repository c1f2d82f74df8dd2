#include "platform/riff_writer.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "platform/memory_writer.h"

namespace {

using platform::CloseChunk;
using platform::MakeFourCc;
using platform::MemoryWriter;
using platform::OpenChunk;
using platform::OpenList;
using platform::WriteChunk;

std::vector<uint8_t> Bytes(const char* text) {
  std::vector<uint8_t> bytes;
  for (const char* p = text; *p != '\0'; ++p) bytes.push_back(static_cast<uint8_t>(*p));
  return bytes;
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

TEST(RiffWriter, ChunkSizeCountsTheDataAndAnOddSizeGetsAZeroPad) {
  for (const size_t size : std::initializer_list<size_t>{0, 1, 2, 3, 255}) {
    SCOPED_TRACE(size);
    MemoryWriter out;
    const std::vector<uint8_t> data(size, 0xAB);
    WriteChunk(out, MakeFourCc("abcd"), data.data(), data.size());

    std::vector<uint8_t> expected = Bytes("abcd");
    Append(expected, {static_cast<uint8_t>(size), 0, 0, 0});
    Append(expected, data);
    if (size % 2 != 0) expected.push_back(0);
    EXPECT_EQ(out.Bytes(), expected);
    EXPECT_EQ(out.Tell(), expected.size());
  }
}

TEST(RiffWriter, ListsCountFormTypeAndPaddedChildren) {
  MemoryWriter out;
  const auto riff = OpenList(out, MakeFourCc("RIFF"), MakeFourCc("TEST"));
  WriteChunk(out, MakeFourCc("abcd"), "xyz", 3);
  const auto list = OpenList(out, MakeFourCc("LIST"), MakeFourCc("sub "));
  WriteChunk(out, MakeFourCc("efgh"), nullptr, 0);
  CloseChunk(out, list);
  CloseChunk(out, riff);

  std::vector<uint8_t> expected = Bytes("RIFF");
  Append(expected, {36, 0, 0, 0});
  Append(expected, Bytes("TESTabcd"));
  Append(expected, {3, 0, 0, 0, 'x', 'y', 'z', 0});
  Append(expected, Bytes("LIST"));
  Append(expected, {12, 0, 0, 0});
  Append(expected, Bytes("sub efgh"));
  Append(expected, {0, 0, 0, 0});
  EXPECT_EQ(out.Bytes(), expected);
  EXPECT_EQ(out.Tell(), expected.size());
}

TEST(RiffWriter, CloseCorrectsAWrongExpectedSizeAndEndsAfterTheChunk) {
  MemoryWriter out;
  const auto chunk = OpenChunk(out, MakeFourCc("abcd"), 10);
  out.Write("xyz", 3);
  CloseChunk(out, chunk);
  out.Write("!", 1);

  std::vector<uint8_t> expected = Bytes("abcd");
  Append(expected, {3, 0, 0, 0, 'x', 'y', 'z', 0, '!'});
  EXPECT_EQ(out.Bytes(), expected);
}

}  // namespace
