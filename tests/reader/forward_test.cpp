// Reading a recording forwards: what each call delivers, the position pair, the end of the
// data, and damaged records.
#include <functional>

#include "reader/mp4_format.h"
#include "tests/reader/reader_fixture.h"

namespace reader_test {
namespace {

using Pair = std::pair<uint32_t, uint32_t>;

struct Step {
  uint32_t type;
  int delivery;  // index into the builder's deliveries, or -1 for none
  Pair pair;
};

void ExpectSteps(OpenRecording& rec, const RecordingBuilder& b, bool iframesOnly,
                 const std::vector<Step>& steps) {
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("call " + std::to_string(i + 1));
    const Got got = iframesOnly ? rec.NextI() : rec.Next();
    EXPECT_EQ(got.type, steps[i].type);
    if (steps[i].delivery >= 0) {
      const Bytes& want = b.Deliveries()[static_cast<size_t>(steps[i].delivery)].bytes;
      EXPECT_EQ(got.count, want.size());
      EXPECT_EQ(got.bytes, want);
    } else {
      EXPECT_EQ(got.count, 0u);
    }
    EXPECT_EQ(rec.Pos(), steps[i].pair);
  }
}

// I, P, (other record), P, I, P in the tagged layout.
RecordingBuilder TwoGroups() {
  RecordingBuilder b(17);
  b.IFrame(10).PFrame(11).TagRecord("INFO", 1, Bytes(21, 7)).PFrame(12).IFrame(20).PFrame(21);
  return b;
}

TEST(Forward, NextFrameWalksTheRecordingAndCountsThePair) {
  const RecordingBuilder b = TwoGroups();
  OpenRecording rec(b);
  ExpectSteps(rec, b, false,
              {{MP4_DATA_TAG_VIDEO, 0, {1, 0}},
               {MP4_DATA_TAG_VIDEO, 1, {1, 1}},
               {MP4_DATA_TAG_VIDEO, 2, {1, 2}},
               {MP4_DATA_TAG_VIDEO, 3, {2, 0}},
               {MP4_DATA_TAG_VIDEO, 4, {2, 1}},
               {MP4_DATA_NONE, -1, {2, 1}},
               {MP4_DATA_NONE, -1, {2, 1}}});
}

TEST(Forward, NextIFramePassesOverEverythingElse) {
  const RecordingBuilder b = TwoGroups();
  OpenRecording rec(b);
  ExpectSteps(rec, b, true,
              {{MP4_DATA_TAG_VIDEO, 0, {1, 0}},
               {MP4_DATA_TAG_VIDEO, 3, {2, 0}},
               {MP4_DATA_NONE, -1, {2, 0}}});
}

TEST(Forward, UserDataLayoutDeliversHeadersDataAndAux) {
  RecordingBuilder b(34);
  b.PFrame(1).IFrame(2).UdAux(Bytes(5, 0x61)).PFrame(3).UdAux({}).IFrame(4);
  OpenRecording rec(b);
  ExpectSteps(rec, b, false,
              {{MP4_DATA_UD_VIDEO, 0, {0, 1}},
               {MP4_DATA_UD_VIDEO, 1, {1, 0}},
               {MP4_DATA_UD_AUX, 2, {1, 0}},
               {MP4_DATA_UD_VIDEO, 3, {1, 1}},
               {MP4_DATA_UD_AUX, 4, {1, 1}},
               {MP4_DATA_UD_VIDEO, 5, {2, 0}},
               {MP4_DATA_NONE, -1, {2, 0}}});
}

TEST(Forward, NextFrameAfterNextIFrameContinuesRightBehindIt) {
  RecordingBuilder b(34);
  b.PFrame(1).UdAux(Bytes(3, 1)).IFrame(2).UdAux(Bytes(4, 2)).PFrame(3);
  OpenRecording rec(b);
  ExpectSteps(rec, b, true, {{MP4_DATA_UD_VIDEO, 2, {1, 0}}});
  ExpectSteps(rec, b, false, {{MP4_DATA_UD_AUX, 3, {1, 0}}, {MP4_DATA_UD_VIDEO, 4, {1, 1}}});
}

TEST(Forward, EndOfDataInBothLayouts) {
  {
    OpenRecording rec(TwoGroups());
    while (rec.Next().type != MP4_DATA_NONE) {
    }
    // The trailer's first 12 bytes were read as a record header whose length is too large.
    EXPECT_EQ(rec.Reader().FilePosition(), rec.Reader().FileLength() - 44);
  }
  {
    RecordingBuilder b(34);
    b.IFrame(1);
    OpenRecording rec(b);
    EXPECT_EQ(rec.Next().type, uint32_t{MP4_DATA_UD_VIDEO});
    EXPECT_EQ(rec.Next().type, uint32_t{MP4_DATA_NONE});
    EXPECT_EQ(rec.Reader().FilePosition(), rec.Reader().FileLength());
  }
}

TEST(Forward, RecordingWithoutRecordsOrWithUnknownLayoutDeliversNothing) {
  for (uint32_t layout : {17u, 34u, 0u, 18u}) {
    SCOPED_TRACE(layout);
    RecordingBuilder b(layout);
    if (layout != 17 && layout != 34) b.Raw(TwoGroups().Build());
    OpenRecording rec(b);
    ASSERT_NE(rec.Handle(), nullptr);
    for (const Got& got : {rec.Next(), rec.NextI()}) {
      EXPECT_EQ(got.type, uint32_t{MP4_DATA_NONE});
      EXPECT_EQ(got.count, 0u);
    }
    EXPECT_EQ(rec.Pos(), Pair(0, 0));
  }
}

TEST(Forward, StrayBytesAreSkippedInWholeEightByteUnitsOnly) {
  struct Case {
    size_t stray;
    bool nextFound;
  };
  for (const Case c : {Case{8, true}, Case{16, true}, Case{3, false}}) {
    SCOPED_TRACE(c.stray);
    RecordingBuilder b(34);
    b.IFrame(1).Raw(Bytes(c.stray, 0x41)).PFrame(2);
    OpenRecording rec(b);
    EXPECT_EQ(rec.Next().bytes, b.Deliveries()[0].bytes);
    const Got second = rec.Next();
    if (c.nextFound) {
      EXPECT_EQ(second.bytes, b.Deliveries()[1].bytes);
      EXPECT_EQ(rec.Pos(), Pair(1, 1));
    } else {
      EXPECT_EQ(second.type, uint32_t{MP4_DATA_NONE});
    }
  }
}

TEST(Forward, TaggedRecordsNeedBothTagAndType) {
  RecordingBuilder b(17);
  b.TagRecord("ZEVO", 0x00010023, Bytes(30, 1))
      .TagRecord("zevo", MP4_TAG_TYPE_VIDEO, Bytes(30, 2))
      .TagRecord("ZEV0", MP4_TAG_TYPE_VIDEO, Bytes(30, 3))
      .PFrame(4);
  OpenRecording rec(b);
  ExpectSteps(rec, b, false, {{MP4_DATA_TAG_VIDEO, 0, {0, 1}}, {MP4_DATA_NONE, -1, {0, 1}}});
}

TEST(Forward, IFrameMarkCountsOnlyAtItsPlace) {
  RecordingBuilder b(34);
  Bytes markAtStart = b.SyntheticData(false, 60);
  std::copy(MP4_GOV_START_CODE, MP4_GOV_START_CODE + 4, markAtStart.begin());
  b.Frame(1, markAtStart).IFrame(2);
  OpenRecording rec(b);
  ExpectSteps(rec, b, false, {{MP4_DATA_UD_VIDEO, 0, {0, 1}}, {MP4_DATA_UD_VIDEO, 1, {1, 0}}});
}

TEST(Forward, ShortAndEmptyFrames) {
  {
    // A tagged video record of length 0 right after an I-frame: the buffer still holds the
    // I-frame, but the empty record is no I-frame.
    RecordingBuilder b(17);
    b.IFrame(1).TagRecord("ZEVO", MP4_TAG_TYPE_VIDEO, {}).PFrame(3);
    OpenRecording rec(b);
    std::vector<uint8_t> buffer(4096);
    uint32_t count = 0;
    EXPECT_EQ(MP4FileGetNextFrame(rec.Handle(), buffer.data(), &count), 1u);
    EXPECT_EQ(MP4FileGetNextFrame(rec.Handle(), buffer.data(), &count), 1u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(rec.Pos(), Pair(1, 1));
  }
  {
    // User-data frame lengths: 32 is a frame with no data, 31 cannot be read.
    RecordingBuilder b(34);
    b.IFrame(1).UdVideoClaiming(32, 2, {}).UdVideoClaiming(31, 3, {}).PFrame(4);
    OpenRecording rec(b);
    ExpectSteps(rec, b, false,
                {{MP4_DATA_UD_VIDEO, 0, {1, 0}},
                 {MP4_DATA_UD_VIDEO, 1, {1, 1}},
                 {MP4_DATA_NONE, -1, {1, 1}}});
    EXPECT_EQ(b.Deliveries()[1].bytes.size(), 44u);
  }
}

TEST(Forward, RecordClaimingMoreThanRemainsIsNotRead) {
  struct Case {
    const char* name;
    std::function<void(RecordingBuilder&)> add;
    uint32_t layout;
    uint64_t stopsAfter;  // bytes of the bad record consumed before the call gives up
  };
  const Case cases[] = {
      {"tagged other record",
       [](RecordingBuilder& b) { b.TagRecordClaiming("INFO", 1, 1000000, Bytes(10, 1)); }, 17, 12},
      {"tagged video record",
       [](RecordingBuilder& b) {
         b.TagRecordClaiming("ZEVO", MP4_TAG_TYPE_VIDEO, 1000000, Bytes(10, 1));
       },
       17, 12},
      {"user-data video", [](RecordingBuilder& b) { b.UdVideoClaiming(1000000, 1, Bytes(9, 1)); },
       34, 44},
      {"aux", [](RecordingBuilder& b) { b.UdAuxClaiming(1000000, Bytes(9, 1)); }, 34, 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingBuilder b(c.layout);
    b.IFrame(1);
    const uint64_t badAt = b.Build().size() - 56;
    c.add(b);
    OpenRecording rec(b);
    EXPECT_EQ(rec.Next().count, b.Deliveries()[0].bytes.size());
    const Got got = rec.Next();
    EXPECT_EQ(got.type, uint32_t{MP4_DATA_NONE});
    EXPECT_EQ(got.count, 0u);
    EXPECT_EQ(rec.Reader().FilePosition(), badAt + c.stopsAfter);
    EXPECT_EQ(rec.Pos(), Pair(1, 0));
  }
}

TEST(Forward, NextIFrameOnARecordingWithoutIFramesConsumesItAll) {
  RecordingBuilder b(17);
  b.PFrame(1).PFrame(2).TagRecord("INFO", 3, Bytes(8, 0));
  OpenRecording rec(b);
  ExpectSteps(rec, b, true, {{MP4_DATA_NONE, -1, {0, 0}}});
  EXPECT_EQ(rec.Next().type, uint32_t{MP4_DATA_NONE});
}

TEST(Forward, BoundedDestinationKeepsTheHeadOfALargerRecord) {
  RecordingBuilder b(17);
  b.IFrame(1, 5000).PFrame(2, 100);
  OpenRecording rec(b);
  std::vector<uint8_t> small(100);
  uint32_t type = 0;
  EXPECT_EQ(rec.Reader().GetNextFrame(FrameDest::Bounded(small.data(), small.size()), &type),
            b.Deliveries()[0].bytes.size());
  EXPECT_EQ(type, uint32_t{MP4_DATA_TAG_VIDEO});
  EXPECT_TRUE(std::equal(small.begin(), small.end(), b.Deliveries()[0].bytes.begin()));
  std::vector<uint8_t> grown;
  EXPECT_EQ(rec.Reader().GetNextFrame(FrameDest::Growable(grown, 3), &type), 116u);
  EXPECT_EQ(Bytes(grown.begin() + 3, grown.end()), b.Deliveries()[1].bytes);
}

}  // namespace
}  // namespace reader_test
