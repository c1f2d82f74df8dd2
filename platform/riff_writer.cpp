#include "platform/riff_writer.h"

#include <limits>
#include <string>

#include "platform/little_endian.h"

namespace platform {

namespace {

void WriteLe32(ByteWriter& out, uint32_t value) {
  uint8_t bytes[4];
  StoreLe32(bytes, value);
  out.Write(bytes, sizeof bytes);
}

}  // namespace

RiffChunk OpenChunk(ByteWriter& out, uint32_t fourCc, uint32_t expectedSize) {
  const RiffChunk chunk{out.Tell(), expectedSize};
  uint8_t header[8];
  StoreLe32(header, fourCc);
  StoreLe32(header + 4, expectedSize);
  out.Write(header, sizeof header);
  return chunk;
}

RiffChunk OpenList(ByteWriter& out, uint32_t fourCc, uint32_t formType) {
  const RiffChunk chunk = OpenChunk(out, fourCc);
  WriteLe32(out, formType);
  return chunk;
}

void CloseChunk(ByteWriter& out, const RiffChunk& chunk) {
  const uint64_t end = out.Tell();
  if (end < chunk.DataStart()) throw WriteError("RIFF chunk closed before its header ends");
  const uint64_t size = end - chunk.DataStart();
  if (size > std::numeric_limits<uint32_t>::max()) {
    throw WriteError("RIFF chunk of " + std::to_string(size) + " bytes exceeds 4 GiB");
  }
  const auto size32 = static_cast<uint32_t>(size);
  if (size32 != chunk.declaredSize) {
    out.Seek(chunk.start + 4);
    WriteLe32(out, size32);
    out.Seek(end);
  }
  if (size32 % 2 != 0) {
    const uint8_t pad = 0;
    out.Write(&pad, 1);
  }
}

void WriteChunk(ByteWriter& out, uint32_t fourCc, const void* data, size_t size) {
  if (size > std::numeric_limits<uint32_t>::max()) {
    throw WriteError("RIFF chunk of " + std::to_string(size) + " bytes exceeds 4 GiB");
  }
  const RiffChunk chunk = OpenChunk(out, fourCc, static_cast<uint32_t>(size));
  out.Write(data, size);
  CloseChunk(out, chunk);
}

}  // namespace platform
