#include "tests/support/avi_reader.h"

#include <cstring>

#include "platform/little_endian.h"
#include "platform/riff_writer.h"
#include "tests/support/temp_dir.h"

namespace testing_support {

namespace {

using platform::LoadLe16;
using platform::LoadLe32;
using platform::MakeFourCc;

constexpr uint32_t kDataChunkId = MakeFourCc("00dc");
constexpr uint32_t kKeyFrameFlag = 0x10;
constexpr uint32_t kDeltaFrameBit = 0x80000000;

[[noreturn]] void Fail(const std::string& what) { throw AviFormatError(what); }

std::string Name(uint32_t fourCc) {
  std::string name;
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<char>(fourCc >> (8 * i));
    name += c >= 0x20 && c < 0x7F ? c : '?';
  }
  return "'" + name + "'";
}

struct Chunk {
  uint32_t id = 0;
  uint64_t offset = 0;  // of the header
  uint32_t size = 0;    // of the data

  uint64_t Data() const { return offset + 8; }
  uint64_t End() const { return Data() + size + size % 2; }
  std::string Describe() const { return Name(id) + " at " + std::to_string(offset); }
};

class Input {
 public:
  explicit Input(std::span<const uint8_t> bytes) : m_bytes(bytes) {}

  uint64_t Size() const { return m_bytes.size(); }

  std::span<const uint8_t> At(uint64_t offset, uint64_t size) const {
    if (offset > m_bytes.size() || size > m_bytes.size() - offset) {
      Fail("read of " + std::to_string(size) + " bytes at " + std::to_string(offset) +
           " past the end");
    }
    return m_bytes.subspan(static_cast<size_t>(offset), static_cast<size_t>(size));
  }
  uint16_t Le16(uint64_t offset) const { return LoadLe16(At(offset, 2).data()); }
  uint32_t Le32(uint64_t offset) const { return LoadLe32(At(offset, 4).data()); }
  uint64_t Le64(uint64_t offset) const {
    return Le32(offset) | (static_cast<uint64_t>(Le32(offset + 4)) << 32);
  }

  // The chunks filling [begin, end) exactly.
  std::vector<Chunk> Chunks(uint64_t begin, uint64_t end) const {
    std::vector<Chunk> chunks;
    for (uint64_t at = begin; at < end;) {
      if (end - at < 8) Fail("truncated chunk header at " + std::to_string(at));
      const Chunk chunk{Le32(at), at, Le32(at + 4)};
      if (chunk.End() > end) Fail("chunk " + chunk.Describe() + " overruns its parent");
      if (chunk.size % 2 != 0 && At(chunk.Data() + chunk.size, 1)[0] != 0) {
        Fail("chunk " + chunk.Describe() + " has a pad byte that is not zero");
      }
      chunks.push_back(chunk);
      at = chunk.End();
    }
    return chunks;
  }

  bool IsList(const Chunk& chunk, uint32_t formType) const {
    return (chunk.id == MakeFourCc("LIST") || chunk.id == MakeFourCc("RIFF")) && chunk.size >= 4 &&
           Le32(chunk.Data()) == formType;
  }
  std::vector<Chunk> Children(const Chunk& list) const {
    return Chunks(list.Data() + 4, list.Data() + list.size);
  }

 private:
  std::span<const uint8_t> m_bytes;
};

void RequireSize(const Chunk& chunk, uint32_t minimum) {
  if (chunk.size < minimum) Fail("chunk " + chunk.Describe() + " is too short");
}

// What one RIFF part holds.
struct Part {
  Chunk riff;
  uint64_t moviData = 0;  // offset of the 'movi' form type, which idx1 offsets count from
  std::vector<Chunk> data;
  std::optional<Chunk> ix00;
  std::optional<Chunk> idx1;
  std::vector<std::optional<bool>> keyFrames;  // per data chunk, from the indexes
};

void SetKeyFrame(Part& part, size_t i, bool keyFrame) {
  auto& known = part.keyFrames[i];
  if (known && *known != keyFrame)
    Fail("idx1 and ix00 disagree on chunk " + part.data[i].Describe());
  known = keyFrame;
}

void ReadMainHeader(const Input& in, const Chunk& chunk, AviMainHeader& h) {
  RequireSize(chunk, 56);
  const uint64_t at = chunk.Data();
  h.microSecPerFrame = in.Le32(at);
  h.maxBytesPerSec = in.Le32(at + 4);
  h.paddingGranularity = in.Le32(at + 8);
  h.flags = in.Le32(at + 12);
  h.totalFrames = in.Le32(at + 16);
  h.initialFrames = in.Le32(at + 20);
  h.streams = in.Le32(at + 24);
  h.suggestedBufferSize = in.Le32(at + 28);
  h.width = in.Le32(at + 32);
  h.height = in.Le32(at + 36);
}

void ReadStreamHeader(const Input& in, const Chunk& chunk, platform::AviStreamInfo& s) {
  RequireSize(chunk, 56);
  const uint64_t at = chunk.Data();
  s.fccType = in.Le32(at);
  s.fccHandler = in.Le32(at + 4);
  s.dwFlags = in.Le32(at + 8);
  s.wPriority = in.Le16(at + 12);
  s.wLanguage = in.Le16(at + 14);
  s.dwInitialFrames = in.Le32(at + 16);
  s.dwScale = in.Le32(at + 20);
  s.dwRate = in.Le32(at + 24);
  s.dwStart = in.Le32(at + 28);
  s.dwLength = in.Le32(at + 32);
  s.dwSuggestedBufferSize = in.Le32(at + 36);
  s.dwQuality = in.Le32(at + 40);
  s.dwSampleSize = in.Le32(at + 44);
  s.rcFrame.left = static_cast<int16_t>(in.Le16(at + 48));
  s.rcFrame.top = static_cast<int16_t>(in.Le16(at + 50));
  s.rcFrame.right = static_cast<int16_t>(in.Le16(at + 52));
  s.rcFrame.bottom = static_cast<int16_t>(in.Le16(at + 54));
}

// Reads LIST 'hdrl'; returns the indx chunk if the stream has one.
std::optional<Chunk> ReadHeaderList(const Input& in, const Chunk& hdrl, AviFile& file) {
  std::optional<Chunk> indx;
  bool haveAvih = false;
  bool haveStrl = false;
  for (const Chunk& c : in.Children(hdrl)) {
    if (c.id == MakeFourCc("avih")) {
      ReadMainHeader(in, c, file.avih);
      haveAvih = true;
    } else if (in.IsList(c, MakeFourCc("strl"))) {
      if (haveStrl) Fail("more than one stream");
      haveStrl = true;
      bool haveStrh = false;
      bool haveStrf = false;
      for (const Chunk& s : in.Children(c)) {
        if (s.id == MakeFourCc("strh")) {
          ReadStreamHeader(in, s, file.strh);
          haveStrh = true;
        } else if (s.id == MakeFourCc("strf")) {
          RequireSize(s, sizeof file.strf);
          std::memcpy(&file.strf, in.At(s.Data(), sizeof file.strf).data(), sizeof file.strf);
          haveStrf = true;
        } else if (s.id == MakeFourCc("strn")) {
          const auto text = in.At(s.Data(), s.size);
          const size_t n = std::min(text.size(), sizeof file.strh.szName - 1);
          std::memcpy(file.strh.szName, text.data(), n);
        } else if (s.id == MakeFourCc("indx")) {
          indx = s;
        }
      }
      if (!haveStrh || !haveStrf) Fail("stream without strh or strf");
    } else if (in.IsList(c, MakeFourCc("odml"))) {
      for (const Chunk& d : in.Children(c)) {
        if (d.id != MakeFourCc("dmlh")) continue;
        RequireSize(d, 4);
        file.dmlhTotalFrames = in.Le32(d.Data());
      }
    }
  }
  if (!haveAvih || !haveStrl) Fail("hdrl without avih or strl");
  return indx;
}

void ReadMovi(const Input& in, const Chunk& movi, Part& part) {
  part.moviData = movi.Data();
  for (const Chunk& c : in.Children(movi)) {
    if (c.id == kDataChunkId) {
      part.data.push_back(c);
    } else if (c.id == MakeFourCc("ix00")) {
      if (part.ix00) Fail("second ix00 in one movi");
      part.ix00 = c;
    } else if (c.id != MakeFourCc("JUNK")) {
      Fail("unexpected chunk " + c.Describe() + " in movi");
    }
  }
  part.keyFrames.assign(part.data.size(), std::nullopt);
}

// idx1: one entry per data chunk of the part, in file order.
size_t CheckOldIndex(const Input& in, Part& part) {
  const Chunk& idx1 = *part.idx1;
  if (idx1.size % 16 != 0) Fail("idx1 size is no multiple of 16");
  const size_t count = idx1.size / 16;
  if (count != part.data.size()) {
    Fail("idx1 has " + std::to_string(count) + " entries for " + std::to_string(part.data.size()) +
         " chunks");
  }
  for (size_t i = 0; i < count; ++i) {
    const uint64_t at = idx1.Data() + 16 * i;
    const Chunk& chunk = part.data[i];
    if (in.Le32(at) != chunk.id || part.moviData + in.Le32(at + 8) != chunk.offset ||
        in.Le32(at + 12) != chunk.size) {
      Fail("idx1 entry " + std::to_string(i) + " does not match chunk " + chunk.Describe());
    }
    SetKeyFrame(part, i, (in.Le32(at + 4) & kKeyFrameFlag) != 0);
  }
  return count;
}

// ix00: a standard index of every data chunk of the part, in file order.
size_t CheckStandardIndex(const Input& in, Part& part) {
  const Chunk& ix00 = *part.ix00;
  RequireSize(ix00, 24);
  const uint64_t at = ix00.Data();
  const uint32_t count = in.Le32(at + 4);
  if (in.Le16(at) != 2 || in.At(at + 2, 1)[0] != 0 || in.At(at + 3, 1)[0] != 1 ||
      in.Le32(at + 8) != kDataChunkId) {
    Fail("ix00 at " + std::to_string(ix00.offset) + " is no standard index of 00dc");
  }
  if (count > (ix00.size - 24) / 8) Fail("ix00 entries overrun the chunk");
  if (count != part.data.size()) {
    Fail("ix00 has " + std::to_string(count) + " entries for " + std::to_string(part.data.size()) +
         " chunks");
  }
  const uint64_t base = in.Le64(at + 12);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t offset = in.Le32(at + 24 + 8 * i);
    const uint32_t size = in.Le32(at + 28 + 8 * i);
    const Chunk& chunk = part.data[i];
    // Offsets point at the data, 8 bytes past the chunk header.
    if (base + offset - 8 != chunk.offset || (size & ~kDeltaFrameBit) != chunk.size) {
      Fail("ix00 entry " + std::to_string(i) + " does not match chunk " + chunk.Describe());
    }
    SetKeyFrame(part, i, (size & kDeltaFrameBit) == 0);
  }
  return count;
}

// indx: one entry per part, each naming the part's ix00 chunk and its chunk count.
size_t CheckSuperIndex(const Input& in, const Chunk& indx, const std::vector<Part>& parts) {
  RequireSize(indx, 24);
  const uint64_t at = indx.Data();
  const uint32_t count = in.Le32(at + 4);
  if (in.Le16(at) != 4 || in.At(at + 2, 1)[0] != 0 || in.At(at + 3, 1)[0] != 0 ||
      in.Le32(at + 8) != kDataChunkId) {
    Fail("indx is no super index of 00dc");
  }
  if (count > (indx.size - 24) / 16) Fail("indx entries overrun the chunk");
  if (count != parts.size()) {
    Fail("indx lists " + std::to_string(count) + " parts of " + std::to_string(parts.size()));
  }
  for (size_t i = 0; i < count; ++i) {
    const uint64_t entry = at + 24 + 16 * i;
    const auto& ix00 = parts[i].ix00;
    if (!ix00 || in.Le64(entry) != ix00->offset ||
        in.Le32(entry + 8) != ix00->End() - ix00->offset ||
        in.Le32(entry + 12) != parts[i].data.size()) {
      Fail("indx entry " + std::to_string(i) + " does not match the ix00 of its part");
    }
  }
  return count;
}

}  // namespace

AviFile ParseAvi(std::span<const uint8_t> bytes) {
  const Input in(bytes);
  AviFile file;
  std::optional<Chunk> indx;
  bool haveHeaders = false;
  std::vector<Part> parts;
  for (const Chunk& riff : in.Chunks(0, in.Size())) {
    const bool first = parts.empty();
    if (!in.IsList(riff, MakeFourCc(first ? "AVI " : "AVIX")) || riff.id != MakeFourCc("RIFF")) {
      Fail("chunk " + riff.Describe() + " is no RIFF " + (first ? "'AVI '" : "'AVIX'"));
    }
    Part& part = parts.emplace_back();
    part.riff = riff;
    bool haveMovi = false;
    for (const Chunk& c : in.Children(riff)) {
      if (in.IsList(c, MakeFourCc("hdrl"))) {
        if (!first || haveHeaders) Fail("hdrl out of place at " + std::to_string(c.offset));
        indx = ReadHeaderList(in, c, file);
        haveHeaders = true;
      } else if (in.IsList(c, MakeFourCc("movi"))) {
        if (haveMovi) Fail("second movi in one RIFF");
        ReadMovi(in, c, part);
        haveMovi = true;
      } else if (c.id == MakeFourCc("idx1")) {
        if (!first || part.idx1) Fail("idx1 out of place at " + std::to_string(c.offset));
        part.idx1 = c;
      }
    }
    if (!haveHeaders || !haveMovi)
      Fail("RIFF at " + std::to_string(riff.offset) + " lacks hdrl or movi");
  }
  if (parts.empty()) Fail("no RIFF chunk");
  if (parts.size() > 1 && !indx) Fail("several RIFF parts without indx");
  if (indx) file.superIndexEntries = CheckSuperIndex(in, *indx, parts);

  uint64_t position = file.strh.dwStart;
  for (Part& part : parts) {
    AviPart& info = file.parts.emplace_back();
    info.offset = part.riff.offset;
    info.size = part.riff.End() - part.riff.offset;
    info.chunks = part.data.size();
    if (part.ix00 && !indx) Fail("ix00 without indx");
    if (part.idx1) info.idx1Entries = CheckOldIndex(in, part);
    if (part.ix00) info.ix00Entries = CheckStandardIndex(in, part);
    if (!part.idx1 && !part.ix00)
      Fail("RIFF at " + std::to_string(part.riff.offset) + " has no index");
    for (size_t i = 0; i < part.data.size(); ++i) {
      const auto data = in.At(part.data[i].Data(), part.data[i].size);
      file.samples.push_back({position++, {data.begin(), data.end()}, *part.keyFrames[i]});
    }
  }
  return file;
}

AviFile ReadAviFile(const std::string& path) { return ParseAvi(ReadFileBytes(path)); }

}  // namespace testing_support
