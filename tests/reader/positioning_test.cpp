// Random access: SetCurrentPos, GetPrevIFrame and GetOneFrame, their two counting
// conventions, group 0, failure states, and recordings beyond 4 GiB.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "reader/mp4_format.h"
#include "tests/reader/reader_fixture.h"

namespace reader_test {
namespace {

using Pair = std::pair<uint32_t, uint32_t>;
constexpr int kNone = -1;
constexpr int kNoFrameCall = -2;  // the call delivers no frame

Got SetPos(OpenRecording& rec, uint32_t a, uint32_t b) {
  return {MP4FileSetCurrentPos(rec.Handle(), a, b), 0, {}};
}
Got Prev(OpenRecording& rec) { return rec.Call(MP4FileGetPrevIFrame); }
Got One(OpenRecording& rec, uint32_t a) {
  return rec.Call([a](void* h, void* buffer, uint32_t* length) {
    return MP4FileGetOneFrame(h, a, buffer, length);
  });
}
// Reads forwards from the start until the pair is `pair`.
void ReadTo(OpenRecording& rec, Pair pair) {
  ASSERT_EQ(MP4FileSetCurrentPos(rec.Handle(), 0, 0), 1u);
  for (int i = 0; i < 100 && rec.Pos() != pair; ++i)
    ASSERT_NE(rec.Next().type, uint32_t{MP4_DATA_NONE});
  ASSERT_EQ(rec.Pos(), pair);
}

void ExpectDelivery(const Got& got, const RecordingBuilder& b, int delivery) {
  if (delivery == kNone) {
    EXPECT_EQ(got.type, uint32_t{MP4_DATA_NONE});
    EXPECT_EQ(got.count, 0u);
    return;
  }
  const auto& want = b.Deliveries()[static_cast<size_t>(delivery)];
  EXPECT_EQ(got.type, want.dataType);
  EXPECT_EQ(got.count, want.bytes.size());
  EXPECT_EQ(got.bytes, want.bytes);
}

// Video records I P P | I P P P | I P (deliveries 0-8); group 0 is empty.
RecordingBuilder ThreeGroups(uint32_t layout) {
  RecordingBuilder b(layout);
  b.IFrame(1).PFrame(2).PFrame(3).IFrame(4).PFrame(5).PFrame(6).PFrame(7).IFrame(8).PFrame(9);
  return b;
}

struct Row {
  const char* name;
  std::function<void(OpenRecording&)> from;  // brings a freshly opened reader to the row's state
  std::function<Got(OpenRecording&)> call;
  uint32_t result;  // SetCurrentPos's result; for the frame readers the data type
  int delivery;     // what the call delivers (frame readers only)
  Pair pair;
  int nextDelivery;  // what MP4FileGetNextFrame then delivers
  Pair nextPair;
};

TEST(Positioning, WorkedExample) {
  const auto none = [](OpenRecording&) {};
  const auto at25 = [](OpenRecording& r) { ASSERT_EQ(MP4FileSetCurrentPos(r.Handle(), 2, 5), 1u); };
  const auto at31 = [](OpenRecording& r) { ReadTo(r, {3, 1}); };
  const auto at31Prev = [](OpenRecording& r) {
    ReadTo(r, {3, 1});
    Prev(r);
  };
  const auto at31PrevPrev = [](OpenRecording& r) {
    ReadTo(r, {3, 1});
    Prev(r);
    Prev(r);
  };
  const Row rows[] = {
      {"set (2,0)",
       none,
       [](OpenRecording& r) { return SetPos(r, 2, 0); },
       1,
       kNoFrameCall,
       {1, 0},
       3,
       {2, 0}},
      {"set (2,1)",
       none,
       [](OpenRecording& r) { return SetPos(r, 2, 1); },
       1,
       kNoFrameCall,
       {2, 1},
       4,
       {2, 2}},
      {"set (2,4)",
       none,
       [](OpenRecording& r) { return SetPos(r, 2, 4); },
       1,
       kNoFrameCall,
       {2, 4},
       7,
       {3, 0}},
      {"set (2,5)",
       none,
       [](OpenRecording& r) { return SetPos(r, 2, 5); },
       1,
       kNoFrameCall,
       {2, 5},
       8,
       {2, 6}},
      {"set (4,0)",
       at25,
       [](OpenRecording& r) { return SetPos(r, 4, 0); },
       0,
       kNoFrameCall,
       {2, 5},
       kNone,
       {2, 5}},
      {"set (0,2)",
       at25,
       [](OpenRecording& r) { return SetPos(r, 0, 2); },
       0,
       kNoFrameCall,
       {2, 5},
       kNone,
       {2, 5}},
      {"prev from (3,1)", at31, Prev, MP4_DATA_TAG_VIDEO, 3, {2, 0}, 4, {2, 1}},
      {"prev again", at31Prev, Prev, MP4_DATA_TAG_VIDEO, 0, {1, 0}, 1, {1, 1}},
      {"prev into empty group 0", at31PrevPrev, Prev, MP4_DATA_NONE, kNone, {1, 0}, kNone, {1, 0}},
      {"one (3) from (1,2)",
       [](OpenRecording& r) {
         ReadTo(r, {1, 2});
       },
       [](OpenRecording& r) { return One(r, 3); },
       MP4_DATA_TAG_VIDEO,
       7,
       {0, 0},
       0,
       {1, 0}},
      {"one (0) from (2,3)",
       [](OpenRecording& r) {
         ReadTo(r, {2, 3});
       },
       [](OpenRecording& r) { return One(r, 0); },
       MP4_DATA_TAG_VIDEO,
       0,
       {1, 0},
       3,
       {2, 0}},
      {"one (7) from (2,3)",
       [](OpenRecording& r) {
         ReadTo(r, {2, 3});
       },
       [](OpenRecording& r) { return One(r, 7); },
       MP4_DATA_NONE,
       kNone,
       {1, 0},
       3,
       {2, 0}},
  };
  const RecordingBuilder b = ThreeGroups(17);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    OpenRecording rec(b);
    row.from(rec);
    const Got got = row.call(rec);
    EXPECT_EQ(got.type, row.result);
    if (row.delivery != kNoFrameCall) ExpectDelivery(got, b, row.delivery);
    EXPECT_EQ(rec.Pos(), row.pair);
    ExpectDelivery(rec.Next(), b, row.nextDelivery);
    EXPECT_EQ(rec.Pos(), row.nextPair);
  }
}

TEST(Positioning, RecordingThatBeginsWithPFramesHasAGroupZero) {
  for (uint32_t layout : {17u, 34u}) {
    SCOPED_TRACE(layout);
    RecordingBuilder b(layout);
    b.PFrame(1).PFrame(2).PFrame(3).IFrame(4).PFrame(5).IFrame(6);
    OpenRecording rec(b);
    EXPECT_EQ(MP4FileSetCurrentPos(rec.Handle(), 0, 2), 1u);
    EXPECT_EQ(rec.Pos(), Pair(0, 2));
    ExpectDelivery(rec.Next(), b, 2);
    EXPECT_EQ(rec.Pos(), Pair(0, 3));

    ReadTo(rec, {1, 1});
    ExpectDelivery(Prev(rec), b, 0);  // no I-frame, yet delivered as the anchor of group 0
    EXPECT_EQ(rec.Pos(), Pair(0, 0));
    ExpectDelivery(rec.Next(), b, 1);

    // (a, 0) leaves the pair one below a; GetPrevIFrame then targets group a - 2.
    EXPECT_EQ(MP4FileSetCurrentPos(rec.Handle(), 2, 0), 1u);
    EXPECT_EQ(rec.Pos(), Pair(1, 0));
    ExpectDelivery(Prev(rec), b, 0);
    EXPECT_EQ(MP4FileSetCurrentPos(rec.Handle(), 1, 0), 1u);
    ExpectDelivery(Prev(rec), b, kNone);
  }
}

TEST(Positioning, UserDataAuxRecordsAreNeverCounted) {
  RecordingBuilder b(34);
  b.IFrame(1).UdAux({1}).PFrame(2).UdAux({2, 2}).PFrame(3).UdAux({3, 3, 3}).IFrame(4).PFrame(5);
  // Deliveries: 0 I, 1 aux, 2 P, 3 aux, 4 P, 5 aux, 6 I, 7 P.
  OpenRecording rec(b);
  EXPECT_EQ(MP4FileSetCurrentPos(rec.Handle(), 1, 3), 1u);
  EXPECT_EQ(rec.Pos(), Pair(1, 3));
  ExpectDelivery(rec.Next(), b, 5);  // the aux record right behind the third counted frame
  EXPECT_EQ(rec.Pos(), Pair(1, 3));
  ExpectDelivery(rec.Next(), b, 6);
  EXPECT_EQ(rec.Pos(), Pair(2, 0));
  // Byte for byte what sequential reading delivers, headers included.
  ExpectDelivery(Prev(rec), b, 0);
  EXPECT_EQ(rec.Pos(), Pair(1, 0));
  ExpectDelivery(rec.Next(), b, 1);
}

TEST(Positioning, FailuresLeaveTheStatesDocumentedAndZeroZeroRecovers) {
  const RecordingBuilder b = ThreeGroups(17);
  struct Case {
    const char* name;
    uint32_t a, b;
    Pair pairAfter;
  };
  for (const Case& c :
       {Case{"anchor beyond the last group", 4, 0, {1, 1}},
        Case{"b beyond the end keeps a", 2, 7, {2, 1}}, Case{"empty group 0", 0, 1, {1, 1}}}) {
    SCOPED_TRACE(c.name);
    OpenRecording rec(b);
    ReadTo(rec, {1, 1});
    EXPECT_EQ(MP4FileSetCurrentPos(rec.Handle(), c.a, c.b), 0u);
    EXPECT_EQ(rec.Pos(), c.pairAfter);
    // The walk stopped in the trailer.
    EXPECT_GE(rec.Reader().FilePosition(), rec.Reader().FileLength() - 56);
    ExpectDelivery(rec.Next(), b, kNone);
    EXPECT_EQ(MP4FileSetCurrentPos(rec.Handle(), 0, 0), 1u);
    EXPECT_EQ(rec.Pos(), Pair(0, 0));
    ExpectDelivery(rec.Next(), b, 0);
  }
}

TEST(Positioning, UnknownLayoutAndEmptyRecording) {
  {
    RecordingBuilder b(5);
    b.Raw(ThreeGroups(17).Build());
    OpenRecording rec(b);
    rec.Next();
    EXPECT_EQ(MP4FileSetCurrentPos(rec.Handle(), 1, 0), 0u);
    EXPECT_EQ(rec.Reader().FilePosition(), 64u);
    EXPECT_EQ(MP4FileSetCurrentPos(rec.Handle(), 0, 0), 1u);
    ExpectDelivery(One(rec, 1), b, kNone);
  }
  for (uint32_t layout : {17u, 34u}) {
    RecordingBuilder b(layout);
    OpenRecording rec(b);
    EXPECT_EQ(MP4FileSetCurrentPos(rec.Handle(), 0, 0), 1u);
    EXPECT_EQ(rec.Reader().FilePosition(), 64u);
    EXPECT_EQ(MP4FileSetCurrentPos(rec.Handle(), 1, 0), 0u);
    ExpectDelivery(Prev(rec), b, kNone);
  }
}

TEST(Positioning, PrevIFrameAtIFrameZeroTouchesNothing) {
  const RecordingBuilder b = ThreeGroups(34);
  OpenRecording rec(b);
  rec.Next();
  ASSERT_EQ(MP4FileSetCurrentPos(rec.Handle(), 1, 0), 1u);  // pair (0, 0), on the first I-frame
  const uint64_t position = rec.Reader().FilePosition();
  ExpectDelivery(Prev(rec), b, kNone);
  EXPECT_EQ(rec.Reader().FilePosition(), position);
  ExpectDelivery(rec.Next(), b, 0);
}

TEST(Positioning, OneFrameZeroAndOneGiveTheFirstIFrame) {
  RecordingBuilder b(34);
  b.PFrame(1).UdAux({9}).IFrame(2).PFrame(3).IFrame(4);
  OpenRecording rec(b);
  ExpectDelivery(One(rec, 0), b, 2);
  EXPECT_EQ(rec.Pos(), Pair(0, 0));
  ExpectDelivery(One(rec, 1), b, 2);
  ExpectDelivery(One(rec, 2), b, 4);
  ExpectDelivery(rec.Next(), b, 0);  // entered at I-frame number 0: reading starts over
}

TEST(Positioning, RecordingsBeyondFourGiBPositionCorrectly) {
  // I, then 5 GB of other records (a sparse hole), then I, P: the second group starts beyond
  // 4 GiB, where 32-bit offsets would wrap.
  RecordingBuilder head(17);
  head.IFrame(1);
  Bytes bytes = head.Build();
  const Bytes trailer(bytes.end() - 56, bytes.end());
  bytes.resize(bytes.size() - 56);
  RecordingBuilder tail(17);
  tail.IFrame(2).PFrame(3);
  Bytes tailBytes = tail.Build();
  tailBytes.erase(tailBytes.begin(), tailBytes.begin() + 64);
  tailBytes.resize(tailBytes.size() - 56);

  testing_support::TempDir dir;
  const std::string path = dir.File("big.raw");
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  uint64_t at = 0;
  const auto put = [&](const Bytes& data) {
    ASSERT_EQ(pwrite(fd, data.data(), data.size(), static_cast<off_t>(at)),
              static_cast<ssize_t>(data.size()));
    at += data.size();
  };
  put(bytes);
  for (uint32_t hole : {3000000000u, 2000000000u}) {
    RecordingBuilder other(17);
    other.TagRecordClaiming("HOLE", 1, hole, {});
    Bytes header = other.Build();
    put(Bytes(header.begin() + 64, header.end() - 56));
    at += hole;
  }
  const uint64_t secondI = at;
  put(tailBytes);
  put(trailer);
  close(fd);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  if (static_cast<uint64_t>(st.st_blocks) * 512 > (1u << 30)) GTEST_SKIP() << "no sparse files";

  void* h = MP4FileOpen(path.c_str());
  ASSERT_NE(h, nullptr);
  auto& reader = *static_cast<CMP4File*>(h);
  EXPECT_EQ(reader.Info().StartTime(), 1u);
  EXPECT_EQ(reader.Info().EndTime(), 2u);
  EXPECT_EQ(MP4FileSetCurrentPos(h, 2, 0), 1u);
  EXPECT_EQ(reader.FilePosition(), secondI);
  std::vector<uint8_t> buffer(1 << 16);
  uint32_t count = 0;
  EXPECT_EQ(MP4FileGetNextFrame(h, buffer.data(), &count), uint32_t{MP4_DATA_TAG_VIDEO});
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + count), tail.Deliveries()[0].bytes);
  EXPECT_EQ(MP4FileGetPrevIFrame(h, buffer.data(), &count), uint32_t{MP4_DATA_TAG_VIDEO});
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + count), head.Deliveries()[0].bytes);
  EXPECT_EQ(MP4FileSetCurrentPos(h, 2, 2), 1u);
  EXPECT_EQ(reader.FilePosition(), secondI + tailBytes.size());
  MP4FileClose(h);
}

}  // namespace
}  // namespace reader_test
