// CMP4File against the plain ReferenceReader: many seeded random recordings, each opened by
// both and driven through the same random call sequence. After every call the two must agree
// on the result, the byte count, the delivered bytes, the position pair and the file
// position.
//
// A failure names its seed; RAWTOAVI_DIFF_SEED=<seed> RAWTOAVI_DIFF_CASES=1 replays that case
// alone, and the same variables run a longer soak from another seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <utility>

#include "platform/little_endian.h"
#include "reader/mp4_format.h"
#include "reader/mp4_reader.h"
#include "reader/mp4file.h"
#include "tests/reader/reference_reader.h"
#include "tests/support/temp_dir.h"
#include "tools/recording/recording_builder.h"

namespace reader_test {
namespace {

using recording::Bytes;
using recording::RecordingBuilder;

constexpr uint64_t kDefaultSeed = 0x0DF5EED;
constexpr uint64_t kDefaultCases = 300;

uint64_t EnvOr(const char* name, uint64_t fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::strtoull(value, nullptr, 0) : fallback;
}

// mt19937_64 and plain modulo: the same sequence from every standard library.
class Rng {
 public:
  explicit Rng(uint64_t seed) : m_engine(seed) {}
  uint64_t Between(uint64_t lo, uint64_t hi) { return lo + m_engine() % (hi - lo + 1); }
  uint32_t Word() { return static_cast<uint32_t>(m_engine()); }
  bool Percent(uint64_t p) { return Between(0, 99) < p; }
  Bytes Noise(size_t n) {
    Bytes bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(m_engine());
    return bytes;
  }

 private:
  std::mt19937_64 m_engine;
};

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// ---- Recordings ----

// What the generator put in, to draw plausible call arguments; what a reader finds can differ
// (planted and damaged records).
struct Recording {
  Bytes bytes;
  uint32_t layout = 0;
  uint32_t iframes = 0;
  uint32_t videos = 0;
};

class RecordingGenerator {
 public:
  explicit RecordingGenerator(Rng& rng) : m_rng(rng) {}

  Recording Make() {
    if (m_rng.Percent(3)) return Tiny();
    const uint64_t roll = m_rng.Between(0, 99);
    m_rec.layout = roll < 45   ? uint32_t{MP4_LAYOUT_TAGGED}
                   : roll < 90 ? uint32_t{MP4_LAYOUT_USERDATA}
                               : OddLayout();
    m_bigLeft = m_rng.Percent(5) ? 1 : 0;
    RecordingBuilder b(m_rec.layout);
    b.VideoSize(static_cast<uint16_t>(m_rng.Between(0, 5)))
        .FrameRate(m_rng.Word())
        .Picture(m_rng.Word(), m_rng.Word())
        .StoredTimes(m_rng.Word(), m_rng.Word());
    if (m_rng.Percent(2)) {
      b.Magic(m_rng.Percent(50) ? m_rng.Word() : MP4_INFO_MAGIC,
              m_rng.Percent(50) ? m_rng.Word() : MP4_INFO_MAGIC2 + 1);
    }
    const bool bUserData = m_rec.layout == MP4_LAYOUT_USERDATA;
    const bool bHeaderFake = m_rng.Percent(5);
    if (bHeaderFake && bUserData) b.Raw(UdHeaderFakeTail());

    const uint64_t sizeRoll = m_rng.Between(0, 99);
    const uint64_t items = sizeRoll < 5    ? 0
                           : sizeRoll < 90 ? m_rng.Between(1, 40)
                                           : m_rng.Between(40, 120);
    // Damage that ends every walk where it stands, once, at a random place.
    const uint64_t damageAt = m_rng.Percent(15) ? m_rng.Between(0, items) : items + 1;
    for (uint64_t i = 0; i <= items; ++i) {
      if (i == damageAt) bUserData ? UdDamage(b) : TagDamage(b);
      if (i == items) break;
      const bool bLast = i + 1 == items;
      if (bLast && m_rng.Percent(25)) {
        PlantNearTheEnd(b);
      } else {
        bUserData ? UdItem(b) : TagItem(b);
      }
    }
    if (m_rng.Percent(10)) bUserData ? UdClaimIntoTrailer(b) : TagClaimIntoTrailer(b);

    m_rec.bytes = b.Build();
    if (bHeaderFake && !bUserData) PlantTagFakeInHeader();
    if (bHeaderFake && bUserData) PlantUdFakeInHeader();
    if (m_rng.Percent(40)) ScrambleTrailer();
    return std::move(m_rec);
  }

 private:
  uint32_t OddLayout() {
    const uint32_t odd[] = {0, 1, 16, 18, 33, 35, 0x11000000, 0xFFFFFFFF, m_rng.Word()};
    const uint32_t layout = odd[m_rng.Between(0, std::size(odd) - 1)];
    return layout == MP4_LAYOUT_TAGGED || layout == MP4_LAYOUT_USERDATA ? 0 : layout;
  }

  // Headers and trailers overlapping or missing, with and without the magic values.
  Recording Tiny() {
    m_rec.bytes = m_rng.Noise(m_rng.Between(0, 140));
    Bytes& bytes = m_rec.bytes;
    if (bytes.size() >= 64 && m_rng.Percent(70)) {
      m_rec.layout = m_rng.Percent(50) ? MP4_LAYOUT_TAGGED : MP4_LAYOUT_USERDATA;
      platform::StoreLe32(&bytes[4], m_rec.layout);
      platform::StoreLe32(&bytes[bytes.size() - 52], MP4_INFO_MAGIC);
      platform::StoreLe32(&bytes[bytes.size() - 48], MP4_INFO_MAGIC2);
    }
    return std::move(m_rec);
  }

  uint32_t Time() { return m_rng.Word(); }

  size_t FrameSize() {
    const uint64_t roll = m_rng.Between(0, 99);
    if (m_bigLeft > 0 && roll < 15) {
      --m_bigLeft;
      return MP4_SCRATCH_SIZE + m_rng.Between(0, 5000);  // larger than any buffer of the reader
    }
    if (roll < 55) return m_rng.Between(0, 80);
    if (roll < 92) return m_rng.Between(80, 2000);
    return m_rng.Between(2000, 30000);
  }

  // A complete I-frame record of the recording's layout, as bytes to hide inside a payload;
  // sometimes cut short, so that its length claims bytes that belong to what follows.
  Bytes FakeIFrameRecord() {
    RecordingBuilder fake(m_rec.layout);
    fake.IFrame(Time(), m_rng.Between(0, 60));
    const Bytes file = fake.Build();
    Bytes record(file.begin() + 64, file.end() - 56);
    if (m_rng.Percent(30)) record.resize(record.size() - m_rng.Between(0, record.size() / 2));
    if (m_rng.Percent(15)) record[4] ^= 0x02;  // the type or kind of no video record
    return record;
  }

  // Data with a fake I-frame record somewhere inside it.
  Bytes WithFake(size_t around) {
    Bytes data = m_rng.Noise(m_rng.Between(0, around));
    Append(data, FakeIFrameRecord());
    Append(data, m_rng.Noise(m_rng.Between(0, around)));
    return data;
  }

  // What a frame cut short inside its I-frame mark lacks of it, to stand right behind the
  // frame: whoever looks for the mark past the frame's end finds it there.
  static Bytes RestOfMark(size_t kept) {
    return Bytes(MP4_GOV_START_CODE + kept, MP4_GOV_START_CODE + 4);
  }

  void CountVideo(bool bIFrame) {
    ++m_rec.videos;
    if (bIFrame) ++m_rec.iframes;
  }

  // ---- tagged layout (and the unknown ones, which the builder writes as tagged) ----

  void TagItem(RecordingBuilder& b) {
    const uint64_t roll = m_rng.Between(0, 99);
    if (roll < 25) {
      b.IFrame(Time(), FrameSize());
      CountVideo(true);
    } else if (roll < 55) {
      b.PFrame(Time(), FrameSize());
      CountVideo(false);
    } else if (roll < 65) {
      // Around the 20 bytes that the I-frame mark needs: cut from an I-frame's payload.
      Bytes payload = recording::TagFrameHeader(Time());
      Append(payload, Bytes(MP4_GOV_START_CODE, MP4_GOV_START_CODE + 4));
      Append(payload, m_rng.Noise(4));
      payload.resize(m_rng.Percent(20) ? 0 : m_rng.Between(14, payload.size()));
      b.TagRecord("ZEVO", MP4_TAG_TYPE_VIDEO, payload);
      CountVideo(payload.size() >= 20);
      if (payload.size() >= 16 && payload.size() < 20 && m_rng.Percent(50)) {
        Bytes tag = RestOfMark(payload.size() - 16);
        tag.resize(4, 'Q');
        b.TagRecord(reinterpret_cast<const char*>(tag.data()), 7, m_rng.Noise(m_rng.Between(0, 8)));
      }
    } else if (roll < 78) {
      static const char* const kTags[] = {"ZEVO", "zevo", "ZEVA", "INFO", "\0\0\0\0"};
      const char* tag = kTags[m_rng.Between(0, std::size(kTags) - 1)];
      const uint32_t type =
          std::memcmp(tag, "ZEVO", 4) == 0 ? m_rng.Word() | 0x80000000u : MP4_TAG_TYPE_VIDEO;
      b.TagRecord(tag, type, m_rng.Percent(30) ? WithFake(40) : m_rng.Noise(FrameSize()));
    } else if (roll < 88) {
      Bytes payload = recording::TagFrameHeader(Time());
      Append(payload, WithFake(100));
      b.TagRecord("ZEVO", MP4_TAG_TYPE_VIDEO, payload);
      CountVideo(false);
    } else if (roll < 93) {
      b.Raw(Bytes(12 * m_rng.Between(1, 2), 0));  // records of no kind, with no payload
    } else {
      b.PFrame(Time(), m_rng.Between(0, 3));  // frames whose payload ends before the mark
      CountVideo(false);
    }
  }

  void TagDamage(RecordingBuilder& b) {
    if (m_rng.Percent(50)) {
      b.Raw(m_rng.Noise(m_rng.Between(1, 16)));  // stray bytes: the next header is garbage
    } else {
      const bool bVideo = m_rng.Percent(50);
      b.TagRecordClaiming(bVideo ? "ZEVO" : "INFO", MP4_TAG_TYPE_VIDEO,
                          m_rng.Percent(50) ? 0xFFFFFFFF : 0x01000000 + m_rng.Word() % 0x1000,
                          m_rng.Noise(m_rng.Between(0, 40)));
    }
  }

  // A last record whose length reaches into, to the end of, or beyond the trailer.
  void TagClaimIntoTrailer(RecordingBuilder& b) {
    Bytes payload = recording::TagFrameHeader(Time());
    if (m_rng.Percent(50)) Append(payload, Bytes(MP4_GOV_START_CODE, MP4_GOV_START_CODE + 4));
    const auto claim = static_cast<uint32_t>(payload.size() + m_rng.Between(0, 60));
    b.TagRecordClaiming(m_rng.Percent(80) ? "ZEVO" : "INFO", MP4_TAG_TYPE_VIDEO, claim, payload);
  }

  // A tagged I-frame record at header offset 8: its mark lands on header bytes 36 to 39.
  void PlantTagFakeInHeader() {
    Bytes& bytes = m_rec.bytes;
    std::memcpy(&bytes[8], "ZEVO", 4);
    platform::StoreLe32(&bytes[12], MP4_TAG_TYPE_VIDEO);
    platform::StoreLe32(&bytes[16], static_cast<uint32_t>(m_rng.Between(20, 80)));
    const Bytes frameHeader = recording::TagFrameHeader(Time());
    std::copy(frameHeader.begin(), frameHeader.end(), bytes.begin() + 20);
    std::memcpy(&bytes[36], MP4_GOV_START_CODE, 4);
  }

  // ---- user-data layout ----

  void UdItem(RecordingBuilder& b) {
    const uint64_t roll = m_rng.Between(0, 99);
    if (roll < 25) {
      b.IFrame(Time(), FrameSize());
      CountVideo(true);
    } else if (roll < 50) {
      b.PFrame(Time(), FrameSize());
      CountVideo(false);
    } else if (roll < 58) {
      // Around the 35 data bytes that the I-frame mark needs: cut from an I-frame's data.
      Bytes data = b.SyntheticData(true, 38);
      data.resize(m_rng.Percent(20) ? 0 : m_rng.Between(28, data.size()));
      b.UdVideoClaiming(static_cast<uint32_t>(data.size() + 32), Time(), data);
      CountVideo(data.size() >= 35);
      if (data.size() >= 31 && data.size() < 35 && m_rng.Percent(50)) {
        Bytes unit = RestOfMark(data.size() - 31);
        unit.resize(8, 0x11);
        b.Raw(unit);
      }
    } else if (roll < 70) {
      b.UdAux(m_rng.Percent(25)   ? Bytes()
              : m_rng.Percent(30) ? WithFake(30)
                                  : m_rng.Noise(FrameSize()));
    } else if (roll < 76) {
      for (uint64_t n = m_rng.Between(1, 3); n > 0; --n) {  // eight-byte units of no kind
        Bytes unit(MP4_UD_START_CODE, MP4_UD_START_CODE + 4);
        const uint32_t kinds[] = {0, 3, 0x101, 0xFFFFFFFF};
        unit.resize(8);
        platform::StoreLe32(&unit[4], kinds[m_rng.Between(0, 3)]);
        b.Raw(m_rng.Percent(30) ? m_rng.Noise(8) : unit);
      }
    } else if (roll < 86) {
      b.Frame(Time(), WithFake(100));
      CountVideo(false);
    } else if (roll < 93) {
      // Stray bytes: whole eight-byte steps keep the next record in reach, others hide it.
      b.Raw(m_rng.Noise(m_rng.Percent(50) ? 8 * m_rng.Between(1, 3) : m_rng.Between(1, 23)));
    } else {
      Bytes data = m_rng.Noise(m_rng.Between(0, 40));  // a GOV at data offset 0 is no mark
      if (data.size() >= 4) std::memcpy(data.data(), MP4_GOV_START_CODE, 4);
      b.Frame(Time(), data);
      CountVideo(false);
    }
  }

  void UdDamage(RecordingBuilder& b) {
    const uint64_t roll = m_rng.Between(0, 3);
    if (roll == 0) {
      b.UdVideoClaiming(static_cast<uint32_t>(m_rng.Between(0, 31)), Time(), m_rng.Noise(40));
    } else if (roll == 1) {
      b.UdVideoClaiming(0xFFFFFFFF - static_cast<uint32_t>(m_rng.Between(0, 12)), Time(),
                        m_rng.Noise(40));
    } else if (roll == 2) {
      b.UdAuxClaiming(0x01000000 + m_rng.Word() % 0x1000, m_rng.Noise(m_rng.Between(0, 20)));
    } else {
      b.UdVideoClaiming(0x01000000 + m_rng.Word() % 0x1000, Time(), m_rng.Noise(40));
    }
  }

  void UdClaimIntoTrailer(RecordingBuilder& b) {
    const size_t extra = m_rng.Between(0, 60);
    if (m_rng.Percent(50)) {
      b.UdAuxClaiming(static_cast<uint32_t>(extra), {});
    } else {
      Bytes data = b.SyntheticData(m_rng.Percent(50), 35);
      b.UdVideoClaiming(static_cast<uint32_t>(data.size() + 32 + extra), Time(), data);
    }
  }

  // The first 32 record bytes hold the mark of a user-data I-frame record whose headers stand
  // at header offset 16 (planted after the build): frame data from offset 60, mark at 91.
  Bytes UdHeaderFakeTail() {
    Bytes tail(32);
    for (auto& byte : tail) byte = static_cast<uint8_t>(0x10 + m_rng.Between(0, 0x3F));
    std::memcpy(&tail[27], MP4_GOV_START_CODE, 4);
    return tail;
  }

  void PlantUdFakeInHeader() {
    Bytes& bytes = m_rec.bytes;
    std::memcpy(&bytes[16], MP4_UD_START_CODE, 4);
    platform::StoreLe32(&bytes[20], MP4_UD_KIND_VIDEO);
    platform::StoreLe32(&bytes[24], static_cast<uint32_t>(32 + 35 + m_rng.Between(0, 20)));
    platform::StoreLe32(&bytes[28], Time());
  }

  // ---- both ----

  // The last record hides a fake I-frame record: the backward search meets it first.
  void PlantNearTheEnd(RecordingBuilder& b) {
    Bytes inside = m_rng.Noise(m_rng.Between(0, 20));
    Append(inside, FakeIFrameRecord());
    Append(inside, m_rng.Noise(m_rng.Between(0, 3)));
    if (m_rec.layout != MP4_LAYOUT_USERDATA) {
      Bytes payload = recording::TagFrameHeader(Time());
      Append(payload, inside);
      b.TagRecord(m_rng.Percent(50) ? "ZEVO" : "INFO", MP4_TAG_TYPE_VIDEO, payload);
    } else if (m_rng.Percent(50)) {
      b.UdAux(inside);
    } else {
      b.Frame(Time(), inside);
      CountVideo(false);
    }
  }

  // The trailer's uninterpreted bytes, which the walks read as records all the same; in the
  // user-data layout sometimes a record header among them.
  void ScrambleTrailer() {
    uint8_t* trailer = &m_rec.bytes[m_rec.bytes.size() - 56];
    for (const auto& [from, to] : {std::pair{0, 4}, std::pair{20, 28}, std::pair{40, 56}}) {
      for (int i = from; i < to; ++i) trailer[i] = static_cast<uint8_t>(m_rng.Word());
    }
    if (m_rec.layout == MP4_LAYOUT_USERDATA && m_rng.Percent(70)) {
      uint8_t* unit = trailer + (m_rng.Percent(50) ? 40 : 48);
      std::memcpy(unit, MP4_UD_START_CODE, 4);
      platform::StoreLe32(unit + 4, static_cast<uint32_t>(m_rng.Between(1, 2)));
      if (unit == trailer + 40) {  // then an auxiliary length too, at most 2 bytes too large
        platform::StoreLe32(unit + 8, static_cast<uint32_t>(m_rng.Between(0, 6)));
      }
    }
  }

  Rng& m_rng;
  Recording m_rec;
  int m_bigLeft = 0;
};

// ---- Calls ----

enum class Op { kNextFrame, kNextIFrame, kSetCurrentPos, kPrevIFrame, kOneFrame, kCurrentPos };

struct Call {
  Op op;
  uint32_t a = 0;
  uint32_t b = 0;
};

std::string Describe(const Call& call) {
  switch (call.op) {
    case Op::kNextFrame:
      return "GetNextFrame";
    case Op::kNextIFrame:
      return "GetNextIFrame";
    case Op::kSetCurrentPos:
      return "SetCurrentPos(" + std::to_string(call.a) + ", " + std::to_string(call.b) + ")";
    case Op::kPrevIFrame:
      return "GetPrevIFrame";
    case Op::kOneFrame:
      return "GetOneFrame(" + std::to_string(call.a) + ")";
    case Op::kCurrentPos:
      return "GetCurrentPos";
  }
  return "?";
}

// A group number around the recording's real ones, now and then far beyond.
uint32_t DrawGroup(Rng& rng, const Recording& rec) {
  if (rng.Percent(5)) return rng.Percent(50) ? 0xFFFFFFFF : rec.iframes + rng.Word() % 1000;
  return static_cast<uint32_t>(rng.Between(0, rec.iframes + 2));
}

uint32_t DrawFrameCount(Rng& rng, const Recording& rec) {
  const uint64_t roll = rng.Between(0, 99);
  if (roll < 40) return 0;
  if (roll < 85) return static_cast<uint32_t>(rng.Between(1, 6));
  if (roll < 97) return static_cast<uint32_t>(rng.Between(0, rec.videos + 2));
  return 0xFFFFFFFF;
}

Call DrawCall(Rng& rng, const Recording& rec) {
  const uint64_t roll = rng.Between(0, 99);
  if (roll < 35) return {Op::kNextFrame};
  if (roll < 47) return {Op::kNextIFrame};
  if (roll < 67) return {Op::kSetCurrentPos, DrawGroup(rng, rec), DrawFrameCount(rng, rec)};
  if (roll < 80) return {Op::kPrevIFrame};
  if (roll < 92) return {Op::kOneFrame, DrawGroup(rng, rec)};
  if (roll < 96) return {Op::kCurrentPos};
  return {Op::kSetCurrentPos, 0, 0};
}

// What one call did, as seen from outside.
struct Observed {
  uint32_t result = 0;  // the data type, or SetCurrentPos's and GetCurrentPos's result
  uint32_t count = 0;
  Bytes bytes;  // the delivered record
  uint32_t iframeNo = 0;
  uint32_t frameNo = 0;
  uint64_t position = 0;

  bool operator==(const Observed&) const = default;
};

std::string Describe(const Observed& o) {
  uint64_t hash = 0xcbf29ce484222325;  // FNV-1a, to tell delivered bytes apart briefly
  for (const uint8_t byte : o.bytes) hash = (hash ^ byte) * 0x100000001b3;
  std::ostringstream out;
  out << "result " << o.result << ", count " << o.count << ", " << o.bytes.size() << " bytes (hash "
      << std::hex << hash << std::dec << "), pair (" << o.iframeNo << ", " << o.frameNo
      << "), file position " << o.position;
  return out.str();
}

bool IsFrameCall(Op op) { return op != Op::kSetCurrentPos && op != Op::kCurrentPos; }

Bytes Delivered(uint32_t dwDataType, uint32_t count, const Bytes& buffer) {
  if (dwDataType == MP4_DATA_NONE) return {};
  return Bytes(buffer.begin(), buffer.begin() + std::min<size_t>(count, buffer.size()));
}

struct CloseHandle {
  void operator()(void* h) const { MP4FileClose(h); }
};
using Handle = std::unique_ptr<void, CloseHandle>;

Observed CallOptimised(void* h, const Call& call, Bytes& buffer) {
  Observed o;
  switch (call.op) {
    case Op::kNextFrame:
      o.result = MP4FileGetNextFrame(h, buffer.data(), &o.count);
      break;
    case Op::kNextIFrame:
      o.result = MP4FileGetNextIFrame(h, buffer.data(), &o.count);
      break;
    case Op::kSetCurrentPos:
      o.result = MP4FileSetCurrentPos(h, call.a, call.b);
      break;
    case Op::kPrevIFrame:
      o.result = MP4FileGetPrevIFrame(h, buffer.data(), &o.count);
      break;
    case Op::kOneFrame:
      o.result = MP4FileGetOneFrame(h, call.a, buffer.data(), &o.count);
      break;
    case Op::kCurrentPos:
      o.result = MP4FileGetCurrentPos(h, &o.iframeNo, &o.frameNo);
      break;
  }
  if (IsFrameCall(call.op)) o.bytes = Delivered(o.result, o.count, buffer);
  EXPECT_EQ(MP4FileGetCurrentPos(h, &o.iframeNo, &o.frameNo), 1u);
  o.position = static_cast<CMP4File*>(h)->FilePosition();
  return o;
}

Observed CallReference(ReferenceReader& ref, const Call& call, Bytes& buffer) {
  Observed o;
  switch (call.op) {
    case Op::kNextFrame:
      o.count = ref.GetNextFrame(buffer, &o.result);
      break;
    case Op::kNextIFrame:
      o.count = ref.GetNextIFrame(buffer, &o.result);
      break;
    case Op::kSetCurrentPos:
      o.result = ref.SetCurrentPos(call.a, call.b);
      break;
    case Op::kPrevIFrame:
      o.count = ref.GetPrevIFrame(buffer, &o.result);
      break;
    case Op::kOneFrame:
      o.count = ref.GetOneFrame(call.a, buffer, &o.result);
      break;
    case Op::kCurrentPos:
      o.result = 1;
      break;
  }
  if (IsFrameCall(call.op)) o.bytes = Delivered(o.result, o.count, buffer);
  o.iframeNo = ref.IFrameNo();
  o.frameNo = ref.FrameNo();
  o.position = ref.FilePosition();
  return o;
}

void RunCase(uint64_t seed, const testing_support::TempDir& dir) {
  Rng rng(seed);
  Recording rec = RecordingGenerator(rng).Make();
  const size_t fileSize = rec.bytes.size();
  SCOPED_TRACE("layout " + std::to_string(rec.layout) + ", " + std::to_string(fileSize) + " bytes");
  const std::string path = dir.File("case.raw");
  testing_support::WriteFileBytes(path, rec.bytes);

  const Handle h(MP4FileOpen(path.c_str()));
  std::optional<ReferenceReader> ref = ReferenceReader::Open(std::move(rec.bytes));
  ASSERT_EQ(h != nullptr, ref.has_value()) << "one reader opens the file, the other does not";
  if (!h) return;

  Bytes header(MP4_HEADER_SIZE);
  Bytes info(MP4_INFO_SIZE);
  ASSERT_EQ(MP4FileGetHeader(h.get(), header.data()), 1u);
  ASSERT_EQ(MP4FileGetInfo(h.get(), info.data()), 1u);
  ASSERT_EQ(header, ref->Header());
  ASSERT_EQ(info, ref->Info()) << "the scanned start and end times are info bytes 8 to 15";
  const Call noCall{Op::kCurrentPos};
  Bytes buffer(fileSize + 64);  // room for any record of the file
  Bytes refBuffer;
  const Observed opened = CallOptimised(h.get(), noCall, buffer);
  const Observed refOpened = CallReference(*ref, noCall, refBuffer);
  ASSERT_TRUE(opened == refOpened) << "after open\n  CMP4File:  " << Describe(opened)
                                   << "\n  reference: " << Describe(refOpened);

  std::string history;
  for (uint64_t n = rng.Between(30, 80), i = 1; i <= n; ++i) {
    const Call call = DrawCall(rng, rec);
    history += " " + Describe(call) + ";";
    // Half the calls find the buffer as the last call left it: an I-frame test that looked at
    // bytes the call did not read would see an earlier frame's mark there.
    if (rng.Percent(50)) std::fill(buffer.begin(), buffer.end(), static_cast<uint8_t>(i));
    const Observed got = CallOptimised(h.get(), call, buffer);
    const Observed want = CallReference(*ref, call, refBuffer);
    ASSERT_TRUE(got == want) << "call " << i << ", " << Describe(call)
                             << "\n  CMP4File:  " << Describe(got)
                             << "\n  reference: " << Describe(want)
                             << "\n  calls since open:" << history;
  }
}

TEST(Differential, ReaderMatchesThePlainReference) {
  const uint64_t first = EnvOr("RAWTOAVI_DIFF_SEED", kDefaultSeed);
  const uint64_t cases = EnvOr("RAWTOAVI_DIFF_CASES", kDefaultCases);
  const testing_support::TempDir dir;
  for (uint64_t seed = first; seed < first + cases; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " (replay: RAWTOAVI_DIFF_SEED=" +
                 std::to_string(seed) + " RAWTOAVI_DIFF_CASES=1)");
    RunCase(seed, dir);
    if (HasFailure()) break;  // the first divergence is the one to read
  }
}

}  // namespace
}  // namespace reader_test
