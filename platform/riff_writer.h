// Writing RIFF chunks over a ByteWriter.
//
// A chunk is an 8-byte header (four-character code, 32-bit little-endian data size) followed by
// its data and, when the size is odd, one pad byte the size does not count. Every chunk is
// written by opening it, writing its data and closing it; closing works out the size from the
// position, so no caller computes a size by hand.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_writer.h"

namespace platform {

// The four-character code `text` as the little-endian value RIFF stores.
constexpr uint32_t MakeFourCc(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
         (static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24);
}

// An open chunk: where its header starts and the size the header holds so far.
struct RiffChunk {
  uint64_t start = 0;
  uint32_t declaredSize = 0;

  // Where the chunk's data starts (for a LIST or RIFF: its form type).
  uint64_t DataStart() const { return start + 8; }
};

// Writes a chunk header at the position. `expectedSize` is the data size if the caller knows it
// (a payload about to be written); CloseChunk then needs no seek back when it turns out right.
// Throws WriteError.
RiffChunk OpenChunk(ByteWriter& out, uint32_t fourCc, uint32_t expectedSize = 0);

// Opens a LIST or RIFF chunk (`fourCc`) and writes its form type.
RiffChunk OpenList(ByteWriter& out, uint32_t fourCc, uint32_t formType);

// Closes `chunk`, whose data ends at the position: patches the size in its header if it differs
// from the declared one, writes the pad byte for an odd size and leaves the position after the
// chunk. Throws WriteError, also when the data exceeds 4 GiB - 1.
void CloseChunk(ByteWriter& out, const RiffChunk& chunk);

// Writes a whole chunk holding `size` bytes from `data`, straight from the caller's buffer.
// Throws WriteError.
void WriteChunk(ByteWriter& out, uint32_t fourCc, const void* data, size_t size);

}  // namespace platform
