// Hostile recordings: length fields at 0, 1, exactly what remains, one byte more and
// 0xFFFFFFFF; trailer values and picture-size codes at their limits; and a recording beyond
// 4 GiB with a hole inside a record. One table, driven through ConvertRawToAvi and through
// every call of the C interface: each recording is refused with a reason or converted into a
// valid AVI holding every record the reader delivers, and the reader delivers exactly the
// well-formed records up to the damage, whole, and never anything outside the file.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "convert/convert_raw_to_avi.h"
#include "reader/mp4_format.h"
#include "reader/mp4file.h"
#include "tests/faults/fault_support.h"
#include "tests/support/temp_dir.h"

namespace faults {
namespace {

using recording::Delivery;
using recording::RecordingBuilder;
using testing_support::TempDir;

constexpr char kOtherTag[4] = {'J', 'U', 'N', 'K'};
constexpr uint32_t kOtherType = 0x00020033;
constexpr size_t kTrailerSize = sizeof(MP4FILEINFO);

// One hostile recording and what must come of it.
struct Hostile {
  std::string name;
  Bytes bytes;
  // Everything the reader delivers from the first record on, in order, until MP4_DATA_NONE.
  std::vector<Delivery> deliveries;
  // The VOL header the AVI file starts with; nullopt when the conversion must be refused.
  std::optional<VolHeader> vol;
  uint32_t rate = 25;
  uint32_t width = 176;
  uint32_t height = 144;
};

void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }

// Bytes that never form 00 00 01 nor the group-of-VOP mark.
Bytes Filler(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(0x10 + (seed + 7 * i) % 0x40);
  return bytes;
}

Bytes RecordsOf(const RecordingBuilder& b) {
  const Bytes built = b.Build();
  return Bytes(built.begin() + sizeof(MP4FILEHEADER), built.end() - kTrailerSize);
}

// The record whose length field is hostile.
enum class Field { kTagVideo, kTagOther, kUdVideo, kUdAux };
// The value of that field: 0, 1, 32 (a user-data frame header without data), every byte from
// the counted ones to the end of the file, one byte more than that, and the largest value.
enum class Claim { kZero, kOne, kHeaderOnly, kAllThatRemains, kOneMore, kMax };
// How the reader's walk goes on: past the record, taking the rest of the file as its payload,
// or ending at it.
enum class Walk { kGoesOn, kTakesTheRest, kStops };

struct LengthRow {
  const char* name;
  Field field;
  Claim claim;
  Walk walk;
};

const LengthRow kLengthRows[] = {
    {"TaggedVideoLength0", Field::kTagVideo, Claim::kZero, Walk::kGoesOn},
    {"TaggedVideoLength1", Field::kTagVideo, Claim::kOne, Walk::kGoesOn},
    {"TaggedVideoLengthAllThatRemains", Field::kTagVideo, Claim::kAllThatRemains,
     Walk::kTakesTheRest},
    {"TaggedVideoLengthOneMore", Field::kTagVideo, Claim::kOneMore, Walk::kStops},
    {"TaggedVideoLengthMax", Field::kTagVideo, Claim::kMax, Walk::kStops},
    {"TaggedOtherLength0", Field::kTagOther, Claim::kZero, Walk::kGoesOn},
    {"TaggedOtherLength1", Field::kTagOther, Claim::kOne, Walk::kGoesOn},
    {"TaggedOtherLengthAllThatRemains", Field::kTagOther, Claim::kAllThatRemains,
     Walk::kTakesTheRest},
    {"TaggedOtherLengthOneMore", Field::kTagOther, Claim::kOneMore, Walk::kStops},
    {"TaggedOtherLengthMax", Field::kTagOther, Claim::kMax, Walk::kStops},
    {"UserDataVideoLength0", Field::kUdVideo, Claim::kZero, Walk::kStops},
    {"UserDataVideoLength1", Field::kUdVideo, Claim::kOne, Walk::kStops},
    {"UserDataVideoLength32", Field::kUdVideo, Claim::kHeaderOnly, Walk::kGoesOn},
    {"UserDataVideoLengthAllThatRemains", Field::kUdVideo, Claim::kAllThatRemains,
     Walk::kTakesTheRest},
    {"UserDataVideoLengthOneMore", Field::kUdVideo, Claim::kOneMore, Walk::kStops},
    {"UserDataVideoLengthMax", Field::kUdVideo, Claim::kMax, Walk::kStops},
    {"UserDataAuxLength0", Field::kUdAux, Claim::kZero, Walk::kGoesOn},
    {"UserDataAuxLength1", Field::kUdAux, Claim::kOne, Walk::kGoesOn},
    {"UserDataAuxLengthAllThatRemains", Field::kUdAux, Claim::kAllThatRemains, Walk::kTakesTheRest},
    {"UserDataAuxLengthOneMore", Field::kUdAux, Claim::kOneMore, Walk::kStops},
    {"UserDataAuxLengthMax", Field::kUdAux, Claim::kMax, Walk::kStops},
};

// Well-formed records, the hostile one, then more well-formed records, among them I-frames,
// so that what happens after the hostile record shows.
Hostile FromLengthRow(const LengthRow& row) {
  const bool tagged = row.field == Field::kTagVideo || row.field == Field::kTagOther;
  const uint32_t layout = tagged ? MP4_LAYOUT_TAGGED : MP4_LAYOUT_USERDATA;
  RecordingBuilder b(layout);
  b.IFrame(1, 100).PFrame(2, 60);
  if (!tagged) b.UdAux(Bytes(5, 0x21));
  b.IFrame(3, 80);
  const std::vector<Delivery> before = b.Deliveries();
  const size_t start = b.Build().size() - kTrailerSize;  // where the hostile record begins

  RecordingBuilder after(layout);
  after.PFrame(10, 70).IFrame(11, 90).PFrame(12, 50).IFrame(13, 40);
  const Bytes afterRecords = RecordsOf(after);

  Bytes payload;
  switch (row.claim) {
    case Claim::kZero:
    case Claim::kHeaderOnly:
      break;
    case Claim::kOne:
      payload = Filler(1, 3);
      break;
    default:
      payload = Filler(40, 5);
      if (row.field == Field::kTagVideo) {
        payload = recording::TagFrameHeader(9);
        const Bytes data = Filler(24, 5);
        payload.insert(payload.end(), data.begin(), data.end());
      }
  }
  // The bytes a length counts start behind its record's 12-byte header or, for a user-data
  // video record, at its frame data (behind 44 bytes of headers; that length adds 32).
  const size_t counted = row.field == Field::kUdVideo ? MP4_UD_HEADERS_SIZE : 12;
  const uint32_t bias = row.field == Field::kUdVideo ? MP4_UD_FRAME_LENGTH_BIAS : 0;
  const auto remaining = static_cast<uint32_t>(payload.size() + afterRecords.size() + kTrailerSize);
  uint32_t claim = 0;
  switch (row.claim) {
    case Claim::kZero:
      claim = 0;
      break;
    case Claim::kOne:
      claim = 1;
      break;
    case Claim::kHeaderOnly:
      claim = MP4_UD_FRAME_LENGTH_BIAS;
      break;
    case Claim::kAllThatRemains:
      claim = remaining + bias;
      break;
    case Claim::kOneMore:
      claim = remaining + bias + 1;
      break;
    case Claim::kMax:
      claim = 0xFFFFFFFF;
      break;
  }
  switch (row.field) {
    case Field::kTagVideo:
      b.TagRecordClaiming("ZEVO", MP4_TAG_TYPE_VIDEO, claim, payload);
      break;
    case Field::kTagOther:
      b.TagRecordClaiming(kOtherTag, kOtherType, claim, payload);
      break;
    case Field::kUdVideo:
      b.UdVideoClaiming(claim, 9, payload);
      break;
    case Field::kUdAux:
      b.UdAuxClaiming(claim, payload);
      break;
  }
  b.Raw(afterRecords);

  Hostile h{row.name, b.Build(), before, VolFor()};
  switch (row.walk) {
    case Walk::kGoesOn:
      // The builder knows what a record whose length matches its bytes delivers.
      h.deliveries = b.Deliveries();
      h.deliveries.insert(h.deliveries.end(), after.Deliveries().begin(), after.Deliveries().end());
      break;
    case Walk::kTakesTheRest: {
      const uint32_t type = row.field == Field::kTagVideo  ? MP4_DATA_TAG_VIDEO
                            : row.field == Field::kUdVideo ? MP4_DATA_UD_VIDEO
                                                           : MP4_DATA_UD_AUX;
      const size_t from = row.field == Field::kUdVideo ? start : start + counted;
      if (row.field != Field::kTagOther) {
        h.deliveries.push_back({type, false, Bytes(h.bytes.begin() + from, h.bytes.end())});
      }
      break;
    }
    case Walk::kStops:
      break;
  }
  return h;
}

// Header and trailer values at their limits.
struct LimitRow {
  const char* name;
  uint16_t code;
  uint32_t rate;
  uint32_t width;
  uint32_t height;
  bool refused;
};

const LimitRow kLimitRows[] = {
    {"FrameRate0", 5, 0, 176, 144, false},
    {"FrameRate31", 5, 31, 176, 144, false},
    {"FrameRateMax", 5, 0xFFFFFFFF, 176, 144, false},
    {"Picture0x0", 5, 25, 0, 0, false},
    {"Picture65535x65535", 5, 25, 65535, 65535, false},
    {"Picture0x65535", 5, 25, 0, 65535, false},
    {"PictureMaxxMax", 5, 25, 0xFFFFFFFF, 0xFFFFFFFF, false},
    {"Code6WithAPicture", 6, 25, 320, 240, false},
    {"Code6WithoutAPicture", 6, 25, 0, 0, true},
    {"Code6WithoutAHeight", 6, 25, 320, 0, true},
    {"Code65535WithTheLargestPicture", 0xFFFF, 0xFFFFFFFF, 8191, 8191, false},
    {"Code65535WithAPictureTooWide", 0xFFFF, 25, 8192, 16, true},
    {"Code65535With65535x65535", 0xFFFF, 25, 65535, 65535, true},
};

Hostile FromLimitRow(const LimitRow& row, uint32_t layout) {
  RecordingBuilder b(layout);
  b.VideoSize(row.code).FrameRate(row.rate).Picture(row.width, row.height);
  b.IFrame(1).PFrame(2).IFrame(3).PFrame(4);
  const std::string prefix = layout == MP4_LAYOUT_TAGGED ? "Tagged" : "UserData";
  Hostile h{prefix + row.name, b.Build(), b.Deliveries(), std::nullopt,
            row.rate,          row.width, row.height};
  if (!row.refused) h.vol = VolFor(row.code, row.rate, row.width, row.height);
  return h;
}

std::vector<Hostile> AllHostileRecordings() {
  std::vector<Hostile> all;
  for (const LengthRow& row : kLengthRows) all.push_back(FromLengthRow(row));
  for (const uint32_t layout : {MP4_LAYOUT_TAGGED, MP4_LAYOUT_USERDATA}) {
    for (const LimitRow& row : kLimitRows) all.push_back(FromLimitRow(row, layout));
  }
  return all;
}

// A recording opened through the C interface, with a buffer of exactly `bufferSize` bytes on
// the heap, so that a write beyond what a delivery may take is caught by the sanitizer.
class CReader {
 public:
  // What one frame-reading call delivered.
  struct Got {
    uint32_t type;
    Bytes bytes;
    bool operator==(const Got&) const = default;
  };

  CReader(const std::string& path, size_t bufferSize)
      : m_handle(MP4FileOpen(path.c_str())),
        m_buffer(std::make_unique<uint8_t[]>(bufferSize)),
        m_size(bufferSize) {}
  ~CReader() {
    if (m_handle) MP4FileClose(m_handle);
  }
  CReader(const CReader&) = delete;
  CReader& operator=(const CReader&) = delete;

  void* Handle() const { return m_handle; }
  Got Next() { return Deliver(MP4FileGetNextFrame); }
  Got NextI() { return Deliver(MP4FileGetNextIFrame); }
  Got Prev() { return Deliver(MP4FileGetPrevIFrame); }
  Got One(uint32_t group) {
    return Deliver(
        [group](void* h, void* b, uint32_t* n) { return MP4FileGetOneFrame(h, group, b, n); });
  }
  uint32_t SetPos(uint32_t a, uint32_t b) { return MP4FileSetCurrentPos(m_handle, a, b); }
  std::pair<uint32_t, uint32_t> Pos() const {
    uint32_t i = 0;
    uint32_t f = 0;
    MP4FileGetCurrentPos(m_handle, &i, &f);
    return {i, f};
  }

  // Every delivery of `read` from here up to MP4_DATA_NONE (at most `limit`).
  template <typename Read>
  std::vector<Got> All(Read read, size_t limit) {
    std::vector<Got> got;
    for (Got g = read(); g.type != MP4_DATA_NONE && got.size() <= limit; g = read()) {
      got.push_back(std::move(g));
    }
    return got;
  }

 private:
  template <typename Fn>
  Got Deliver(Fn fn) {
    uint32_t count = 0xFFFFFFFF;
    const uint32_t type = fn(m_handle, m_buffer.get(), &count);
    if (type == MP4_DATA_NONE) {
      EXPECT_EQ(count, 0u);
      return {type, {}};
    }
    EXPECT_LE(count, m_size) << "a delivery larger than the file";
    const size_t kept = std::min<size_t>(count, m_size);
    return {type, Bytes(m_buffer.get(), m_buffer.get() + kept)};
  }

  void* m_handle;
  std::unique_ptr<uint8_t[]> m_buffer;
  size_t m_size;
};

void PrintTo(const CReader::Got& g, std::ostream* os) {
  *os << "{type " << g.type << ", " << g.bytes.size() << " bytes}";
}

std::vector<CReader::Got> AsGot(const std::vector<Delivery>& deliveries, bool iframesOnly) {
  std::vector<CReader::Got> got;
  for (const Delivery& d : deliveries) {
    if (iframesOnly && !(d.iframe && d.dataType != MP4_DATA_UD_AUX)) continue;
    got.push_back({d.dataType, d.bytes});
  }
  return got;
}

// The position pair sequential reading leaves after `deliveries`.
std::pair<uint32_t, uint32_t> PairAfter(const std::vector<Delivery>& deliveries) {
  std::pair<uint32_t, uint32_t> pair{0, 0};
  for (const Delivery& d : deliveries) {
    if (d.dataType == MP4_DATA_UD_AUX) continue;
    pair = d.iframe ? std::pair<uint32_t, uint32_t>{pair.first + 1, 0}
                    : std::pair<uint32_t, uint32_t>{pair.first, pair.second + 1};
  }
  return pair;
}

class HostileRecording : public testing::TestWithParam<Hostile> {
 protected:
  void SetUp() override { testing_support::WriteFileBytes(m_raw, GetParam().bytes); }

  TempDir m_dir;
  const std::string m_raw = m_dir.File("cam.raw");
  const std::string m_avi = m_dir.File("cam.avi");
};

TEST_P(HostileRecording, IsRefusedWithAReasonOrConvertedWithEveryRecord) {
  const Hostile& h = GetParam();
  std::string why;

  const int result = ConvertRawToAvi(m_avi.c_str(), m_raw.c_str(), {}, &why);

  if (h.vol) {
    EXPECT_EQ(result, 0) << why;
    EXPECT_TRUE(CompleteAvi(m_avi, ExpectedSamples(h.deliveries, *h.vol)));
  } else {
    EXPECT_EQ(result, -1);
    EXPECT_THAT(why, testing::HasSubstr("picture-size code"));
    EXPECT_FALSE(fs::exists(m_avi));
  }
  EXPECT_TRUE(HoldsBytes(m_raw, h.bytes));
  EXPECT_TRUE(NoTemporaries(m_dir.Path()));
}

TEST_P(HostileRecording, ReaderDeliversTheWellFormedRecordsWholeAndNothingOutsideTheFile) {
  const Hostile& h = GetParam();
  const std::vector<CReader::Got> all = AsGot(h.deliveries, false);
  const std::vector<CReader::Got> iframes = AsGot(h.deliveries, true);
  // No delivery can be longer than the file.
  CReader reader(m_raw, h.bytes.size());
  ASSERT_NE(reader.Handle(), nullptr);
  uint8_t info[MP4_INFO_SIZE];
  ASSERT_EQ(MP4FileGetInfo(reader.Handle(), info), 1u);
  EXPECT_EQ(platform::LoadLe32(info + MP4_INFO_FRAME_RATE_OFFSET), h.rate);
  EXPECT_EQ(platform::LoadLe32(info + MP4_INFO_WIDTH_OFFSET), h.width);
  EXPECT_EQ(platform::LoadLe32(info + MP4_INFO_HEIGHT_OFFSET), h.height);

  // Forwards, then on past the end or the damage: whatever comes must stay inside the file.
  EXPECT_EQ(reader.All([&] { return reader.Next(); }, all.size()), all);
  EXPECT_EQ(reader.Pos(), PairAfter(h.deliveries));
  for (int i = 0; i < 4; ++i) reader.Next();

  ASSERT_EQ(reader.SetPos(0, 0), 1u);
  EXPECT_EQ(reader.All([&] { return reader.NextI(); }, iframes.size()), iframes);

  // Every group from its start, from its successor and on its own; then one too far.
  const auto groups = static_cast<uint32_t>(iframes.size());
  for (uint32_t k = 1; k <= groups; ++k) {
    SCOPED_TRACE("group " + std::to_string(k));
    ASSERT_EQ(reader.SetPos(k, 0), 1u);
    EXPECT_EQ(reader.Next(), iframes[k - 1]);
    EXPECT_EQ(reader.Pos(), std::make_pair(k, 0u));
    const CReader::Got previous = reader.Prev();
    if (k == 1) {
      EXPECT_EQ(previous.type, uint32_t{MP4_DATA_NONE}) << "every recording starts with an I-frame";
    } else {
      EXPECT_EQ(previous, iframes[k - 2]);
      EXPECT_EQ(reader.Pos(), std::make_pair(k - 1, 0u));
    }
    EXPECT_EQ(reader.One(k), iframes[k - 1]);
  }
  EXPECT_EQ(reader.SetPos(groups + 1, 0), 0u);
  EXPECT_EQ(reader.One(groups + 1).type, uint32_t{MP4_DATA_NONE});

  // Every video record counted from the first I-frame, then one more than there are.
  const auto videos = static_cast<uint32_t>(
      std::count_if(h.deliveries.begin(), h.deliveries.end(),
                    [](const Delivery& d) { return d.dataType != MP4_DATA_UD_AUX; }));
  for (uint32_t b = 1; b <= videos; ++b) {
    ASSERT_EQ(reader.SetPos(1, b), 1u) << b;
    EXPECT_EQ(reader.Pos(), std::make_pair(1u, b));
  }
  EXPECT_EQ(reader.SetPos(1, videos + 1), 0u);

  // A failed repositioning is no dead end.
  ASSERT_EQ(reader.SetPos(0, 0), 1u);
  EXPECT_EQ(reader.Next(), all.front());
  EXPECT_TRUE(HoldsBytes(m_raw, h.bytes));
}

INSTANTIATE_TEST_SUITE_P(Table, HostileRecording, testing::ValuesIn(AllHostileRecordings()),
                         [](const testing::TestParamInfo<Hostile>& param) {
                           return param.param.name;
                         });

// A recording of more than 4 GiB: a hole of nearly 4 GiB inside a non-video record, with
// I-frames before and after it. Written sparse, so it costs no disk space.
class HugeRecording : public testing::TestWithParam<uint32_t> {
 protected:
  static constexpr uint32_t kHole = 0xFFFFFF00;

  // Writes the recording; false when the file system cannot hold it sparse.
  bool Write() {
    const uint32_t layout = GetParam();
    RecordingBuilder b(layout);
    b.IFrame(1, 200).PFrame(2, 100).IFrame(3, 150);
    m_deliveries = b.Deliveries();
    if (layout == MP4_LAYOUT_TAGGED) {
      b.TagRecordClaiming(kOtherTag, kOtherType, kHole, {});
    } else {
      b.UdAuxClaiming(kHole, {});
    }
    const Bytes built = b.Build();
    m_head.assign(built.begin(), built.end() - kTrailerSize);
    RecordingBuilder after(layout);
    after.PFrame(4, 90).IFrame(5, 120).PFrame(6, 80).IFrame(7, 300).PFrame(8, 333);
    m_tail = RecordsOf(after);
    m_tail.insert(m_tail.end(), built.end() - kTrailerSize, built.end());
    m_deliveries.insert(m_deliveries.end(), after.Deliveries().begin(), after.Deliveries().end());

    const int fd = ::open(m_raw.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + m_raw);
    const bool written =
        ::pwrite(fd, m_head.data(), m_head.size(), 0) == static_cast<ssize_t>(m_head.size()) &&
        ::pwrite(fd, m_tail.data(), m_tail.size(), static_cast<off_t>(TailOffset())) ==
            static_cast<ssize_t>(m_tail.size());
    struct stat st {};
    const bool sparse = ::fstat(fd, &st) == 0 && st.st_blocks * 512 < (int64_t{1} << 30);
    ::close(fd);
    if (!written) throw std::runtime_error("cannot write " + m_raw);
    return sparse;
  }

  uint64_t TailOffset() const { return m_head.size() + uint64_t{kHole}; }

  // The recording is as written: its bytes around the hole, and the hole still a hole.
  testing::AssertionResult Unchanged() const {
    const int fd = ::open(m_raw.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return testing::AssertionFailure() << m_raw << " is gone";
    Bytes head(m_head.size());
    Bytes tail(m_tail.size());
    const bool same =
        ::pread(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
        ::pread(fd, tail.data(), tail.size(), static_cast<off_t>(TailOffset())) ==
            static_cast<ssize_t>(tail.size()) &&
        head == m_head && tail == m_tail;
    // The first data behind the head lies in the block that holds the tail's first byte.
    const off_t firstBlock = (static_cast<off_t>(m_head.size()) + 4095) / 4096 * 4096;
    const off_t data = ::lseek(fd, firstBlock, SEEK_DATA);
    const off_t end = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    if (!same) return testing::AssertionFailure() << "the bytes around the hole changed";
    if (end != static_cast<off_t>(TailOffset() + m_tail.size())) {
      return testing::AssertionFailure() << "the length changed";
    }
    if (data >= 0 && data < static_cast<off_t>(TailOffset() / 4096 * 4096)) {
      return testing::AssertionFailure() << "data written into the hole at " << data;
    }
    return testing::AssertionSuccess();
  }

  TempDir m_dir;
  const std::string m_raw = m_dir.File("huge.raw");
  const std::string m_avi = m_dir.File("huge.avi");
  Bytes m_head;
  Bytes m_tail;
  std::vector<Delivery> m_deliveries;
};

TEST_P(HugeRecording, IsConvertedWholeAndItsFramesBeyond4GiBAreReachable) {
  if (!Write()) GTEST_SKIP() << "the file system has no sparse files";

  // The hole is passed over, never read into memory: the conversion, and the description
  // of the recording, each run in a process of their own whose peak memory is measured.
  long convertKb = 0;
  const nlohmann::json converted = InChild(
      [&] {
        std::string why;
        const int result = ConvertRawToAvi(m_avi.c_str(), m_raw.c_str(), {}, &why);
        return nlohmann::json{{"result", result}, {"why", why}};
      },
      &convertKb);
  long infoKb = 0;
  const int infoStatus = WaitFor(
      StartCli({"--info", "huge.raw"}, m_dir.Path().string(), "/dev/null", m_dir.File("info.err")),
      &infoKb);
  fs::remove(m_dir.File("info.err"));

  constexpr long kMemoryLimitKb = 1 << 20;
  EXPECT_LT(convertKb, kMemoryLimitKb);
  EXPECT_LT(infoKb, kMemoryLimitKb);
  EXPECT_TRUE(WIFEXITED(infoStatus) && WEXITSTATUS(infoStatus) == 0);
  ASSERT_EQ(converted["result"], 0) << converted["why"];
  const Samples expected = ExpectedSamples(m_deliveries, VolFor());
  EXPECT_TRUE(CompleteAvi(m_avi, expected));
  const testing_support::AviFile avi = testing_support::ReadAviFile(m_avi);
  ASSERT_EQ(avi.samples.size(), 8u);
  EXPECT_EQ(avi.samples.back().bytes, m_deliveries.back().bytes);

  // The C interface reaches the I-frames on both sides of the hole; its buffer need only
  // hold the largest video record, since nothing else is delivered here.
  const std::vector<CReader::Got> iframes = AsGot(m_deliveries, true);
  ASSERT_EQ(iframes.size(), 4u);
  CReader reader(m_raw, 64 * 1024);
  ASSERT_NE(reader.Handle(), nullptr);
  EXPECT_EQ(reader.All([&] { return reader.NextI(); }, iframes.size()), iframes);
  ASSERT_EQ(reader.SetPos(4, 0), 1u);
  EXPECT_EQ(reader.Next(), iframes[3]);
  EXPECT_EQ(reader.Prev(), iframes[2]);
  EXPECT_EQ(reader.One(2), iframes[1]);
  ASSERT_EQ(reader.SetPos(4, 1), 1u);
  EXPECT_EQ(reader.Next(), (CReader::Got{m_deliveries.back().dataType, m_deliveries.back().bytes}));
  EXPECT_EQ(reader.SetPos(5, 0), 0u);
  EXPECT_TRUE(Unchanged());
  EXPECT_TRUE(NoTemporaries(m_dir.Path()));
}

INSTANTIATE_TEST_SUITE_P(Layouts, HugeRecording,
                         testing::Values(MP4_LAYOUT_TAGGED, MP4_LAYOUT_USERDATA),
                         [](const testing::TestParamInfo<uint32_t>& param) {
                           return param.param == MP4_LAYOUT_TAGGED ? "Tagged" : "UserData";
                         });

}  // namespace
}  // namespace faults
