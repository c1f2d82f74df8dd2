// Opening a recording: validation, exclusivity, the scanned time range, header and info.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>

#include "reader/mp4_format.h"
#include "tests/reader/reader_fixture.h"

namespace reader_test {
namespace {

bool FileIsFree(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free;
}

struct OpenCase {
  const char* name;
  std::function<Bytes()> make;
  bool opens;
};

TEST(Open, AcceptsOnlyFilesWithBothTrailerMagics) {
  const OpenCase cases[] = {
      {"tagged", [] { return RecordingBuilder(17).IFrame(1).PFrame(2).Build(); }, true},
      {"user data", [] { return RecordingBuilder(34).IFrame(1).UdAux({1}).Build(); }, true},
      {"unknown layout", [] { return RecordingBuilder(0).Build(); }, true},
      {"no records (120 bytes)", [] { return RecordingBuilder(17).Build(); }, true},
      {"63 bytes", [] { return Bytes(63, 0); }, false},
      {"empty", [] { return Bytes(); }, false},
      {"trailer only",
       [] {
         const Bytes whole = RecordingBuilder(17).Build();
         return Bytes(whole.end() - 56, whole.end());
       },
       false},
      {"first magic wrong",
       [] { return RecordingBuilder(17).Magic(MP4_INFO_MAGIC ^ 1, MP4_INFO_MAGIC2).Build(); },
       false},
      {"second magic wrong",
       [] { return RecordingBuilder(17).Magic(MP4_INFO_MAGIC, MP4_INFO_MAGIC2 + 1).Build(); },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpenRecording rec(c.make());
    EXPECT_EQ(rec.Handle() != nullptr, c.opens);
    if (!c.opens) {
      EXPECT_TRUE(FileIsFree(rec.Path())) << "a failed open must release the file";
    }
  }
}

TEST(Open, MissingFileAndNullPathGiveNull) {
  EXPECT_EQ(MP4FileOpen("/nonexistent/rec.raw"), nullptr);
  EXPECT_EQ(MP4FileOpen(nullptr), nullptr);
  testing_support::TempDir dir;
  EXPECT_EQ(MP4FileOpen(dir.Path().c_str()), nullptr) << "a folder is no recording";
}

TEST(Open, RecordingIsHeldExclusivelyUntilClosed) {
  OpenRecording rec(RecordingBuilder(17).IFrame(1));
  ASSERT_NE(rec.Handle(), nullptr);
  EXPECT_EQ(MP4FileOpen(rec.Path().c_str()), nullptr);
  EXPECT_FALSE(FileIsFree(rec.Path()));
  // Another process is refused too.
  const std::string cmd = "flock -n -x '" + rec.Path() + "' true";
  EXPECT_NE(std::system(cmd.c_str()), 0);

  EXPECT_EQ(rec.Close(), 1u);
  EXPECT_TRUE(FileIsFree(rec.Path()));
  void* second = MP4FileOpen(rec.Path().c_str());
  EXPECT_NE(second, nullptr);
  MP4FileClose(second);
}

TEST(Open, StartsAtTheFirstRecordWithPairZero) {
  RecordingBuilder b(17);
  b.PFrame(1).IFrame(2).PFrame(3).IFrame(4);
  OpenRecording rec(b);
  EXPECT_EQ(rec.Pos(), std::make_pair(0u, 0u));
  EXPECT_EQ(rec.Reader().FilePosition(), 64u);
  const Got first = rec.Next();
  EXPECT_EQ(first.bytes, b.Deliveries()[0].bytes) << "the open's scan must not move reading on";
  EXPECT_EQ(rec.Pos(), std::make_pair(0u, 1u));
}

TEST(Open, HeaderAndInfoCopyExactlyTheirSizes) {
  RecordingBuilder b(34);
  b.StoredTimes(0xDEADBEEF, 0xFEEDFACE).FrameRate(12).Picture(352, 240).VideoSize(1);
  b.IFrame(0x11223344).PFrame(5).IFrame(0x55667788);
  const Bytes file = b.Build();
  OpenRecording rec(file);
  ASSERT_NE(rec.Handle(), nullptr);

  Bytes header(70, 0xCC);
  EXPECT_EQ(MP4FileGetHeader(rec.Handle(), header.data()), 1u);
  EXPECT_TRUE(std::equal(file.begin(), file.begin() + 64, header.begin()));
  EXPECT_EQ(header[64], 0xCC);

  Bytes info(60, 0xCC);
  EXPECT_EQ(MP4FileGetInfo(rec.Handle(), info.data()), 1u);
  Bytes expected(file.end() - 52, file.end());
  platform::StoreLe32(expected.data() + 8, 0x11223344);  // scanned, not stored
  platform::StoreLe32(expected.data() + 12, 0x55667788);
  EXPECT_EQ(Bytes(info.begin(), info.begin() + 52), expected);
  EXPECT_EQ(info[52], 0xCC);
}

TEST(Open, NullHandleGivesZeroAndWritesNothing) {
  uint32_t a = 7, b = 7;
  uint8_t buf[64] = {};
  EXPECT_EQ(MP4FileClose(nullptr), 0u);
  EXPECT_EQ(MP4FileGetHeader(nullptr, buf), 0u);
  EXPECT_EQ(MP4FileGetInfo(nullptr, buf), 0u);
  EXPECT_EQ(MP4FileGetCurrentPos(nullptr, &a, &b), 0u);
  EXPECT_EQ(MP4FileGetNextFrame(nullptr, buf, &a), 0u);
  EXPECT_EQ(MP4FileGetNextIFrame(nullptr, buf, &b), 0u);
  EXPECT_EQ(a, 7u);
  EXPECT_EQ(b, 7u);
}

// ---- The time range: first and last I-frame ----

// A complete tagged I-frame record, to plant inside another record's payload.
Bytes TaggedIFrameRecord(uint32_t time, uint32_t claimedLength = 0) {
  RecordingBuilder inner(17);
  inner.IFrame(time, 20);
  const Bytes built = inner.Build();
  Bytes record(built.begin() + 64, built.end() - 56);
  if (claimedLength) platform::StoreLe32(record.data() + 8, claimedLength);
  return record;
}

struct TimeCase {
  const char* name;
  std::function<RecordingBuilder()> make;
  uint32_t start;
  uint32_t end;
};

TEST(Open, ScansTheTimesOfTheFirstAndLastIFrame) {
  const TimeCase cases[] = {
      {"no I-frame", [] { return RecordingBuilder(17).PFrame(1).PFrame(2); }, 0, 0},
      {"one I-frame", [] { return RecordingBuilder(17).PFrame(1).IFrame(0x04030201); }, 0x04030201,
       0x04030201},
      {"last I-frame followed by P-frames and other records",
       [] {
         RecordingBuilder b(17);
         b.IFrame(100).PFrame(101).IFrame(200).PFrame(201).TagRecord("ABCD", 5, Bytes(30, 1));
         b.PFrame(202).TagRecord("ZEVO", 7, Bytes(40, 2));
         return b;
       },
       100, 200},
      {"complete I-frame record planted in the last payload",
       [] {
         RecordingBuilder b(17);
         b.IFrame(100).IFrame(200);
         Bytes data = b.SyntheticData(false, 10);
         const Bytes fake = TaggedIFrameRecord(999);
         data.insert(data.end(), fake.begin(), fake.end());
         data.resize(data.size() + 5, 0x20);
         return b.Frame(300, data);
       },
       100, 999},
      {"planted header claiming more than the file holds",
       [] {
         RecordingBuilder b(17);
         b.IFrame(100).IFrame(200);
         Bytes data = b.SyntheticData(false, 10);
         const Bytes fake = TaggedIFrameRecord(999, 5000);
         data.insert(data.end(), fake.begin(), fake.end());
         return b.Frame(300, data);
       },
       100, 200},
      {"short video record after the last I-frame is no I-frame",
       [] {
         RecordingBuilder b(17);
         b.IFrame(100).IFrame(200).TagRecord("ZEVO", MP4_TAG_TYPE_VIDEO, Bytes(5, 0x31));
         return b;
       },
       100, 200},
      {"user data: last I-frame before aux and stray bytes",
       [] {
         RecordingBuilder b(34);
         b.PFrame(7).IFrame(300).PFrame(301).IFrame(400).UdAux(Bytes(9, 4)).Raw(Bytes(8, 0x41));
         return b;
       },
       300, 400},
      {"user data: short frame data is no I-frame",
       [] {
         RecordingBuilder b(34);
         b.IFrame(300).UdVideoClaiming(32 + 34, 5, Bytes(34, 0x22));
         return b;
       },
       300, 300},
      {"unknown layout", [] { return RecordingBuilder(5).IFrame(1); }, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpenRecording rec(c.make().StoredTimes(0xAAAAAAAA, 0xBBBBBBBB));
    ASSERT_NE(rec.Handle(), nullptr);
    EXPECT_EQ(rec.Reader().Info().StartTime(), c.start);
    EXPECT_EQ(rec.Reader().Info().EndTime(), c.end);
  }
}

TEST(Open, TimeOfAFrameIgnoresTheBytesBetweenItsTimeBytes) {
  RecordingBuilder b(17);
  Bytes payload = recording::TagFrameHeader(0x04030201);
  payload[6] = payload[8] = payload[10] = 0x99;
  const Bytes data = b.SyntheticData(true, 40);
  payload.insert(payload.end(), data.begin(), data.end());
  b.TagRecord("ZEVO", MP4_TAG_TYPE_VIDEO, payload);
  OpenRecording rec(b);
  EXPECT_EQ(rec.Reader().Info().StartTime(), 0x04030201u);
}

TEST(Open, LastIFrameIsFoundWhereverItStandsAgainstTheSearchBlocks) {
  // The search reads 1 MiB blocks backwards from 60 bytes before the end. Place the last
  // I-frame so that its record header starts `k` bytes below a block's first byte: for k of
  // 1 to 7 its tag lies across two blocks.
  constexpr uint64_t kBlock = 1 << 20;
  for (const uint64_t k : {0u, 1u, 4u, 7u, 8u}) {
    SCOPED_TRACE(k);
    RecordingBuilder b(17);
    b.IFrame(111, 40);
    const uint64_t iframeRecord = 12 + 16 + 40;
    // From the I-frame's record to the end: the I-frame, one P-frame, the trailer.
    const uint64_t distance = 60 + kBlock + k;
    b.PFrame(222, distance - iframeRecord - 28 - 56);
    ASSERT_EQ(b.Build().size() - 64, distance);
    OpenRecording rec(b);
    EXPECT_EQ(rec.Reader().Info().EndTime(), 111u);
  }
}

TEST(Open, IFramesLargerThanTheScratchBufferStillGiveTheTimes) {
  for (uint32_t layout : {17u, 34u}) {
    SCOPED_TRACE(layout);
    RecordingBuilder b(layout);
    b.IFrame(1000, 1500000).PFrame(1001).IFrame(2000, 1100000).PFrame(2001, 1200000);
    OpenRecording rec(b);
    ASSERT_NE(rec.Handle(), nullptr);
    EXPECT_EQ(rec.Reader().Info().StartTime(), 1000u);
    EXPECT_EQ(rec.Reader().Info().EndTime(), 2000u);
    const Got first = rec.Next();  // delivered whole into the caller's buffer
    EXPECT_EQ(first.bytes, b.Deliveries()[0].bytes);
  }
}

}  // namespace
}  // namespace reader_test
