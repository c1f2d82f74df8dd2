// The output name of a recording: "raw" becomes "avi" in the file name only, and a name that
// does not change gets ".avi" appended.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "app/output_name.h"

namespace {

struct NameCase {
  const char* raw;
  const char* avi;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.raw; }

class AviPathForTest : public testing::TestWithParam<NameCase> {};

TEST_P(AviPathForTest, RenamesTheFileNameOnly) {
  EXPECT_EQ(AviPathFor(GetParam().raw), GetParam().avi) << "for " << GetParam().raw;
}

INSTANTIATE_TEST_SUITE_P(
    Names, AviPathForTest,
    testing::Values(
        // the ordinary case, with and without a folder
        NameCase{"cam1.raw", "cam1.avi"}, NameCase{"/data/cam1.raw", "/data/cam1.avi"},
        // folders named raw stay as they are
        NameCase{"/data/raw/cam1.raw", "/data/raw/cam1.avi"},
        NameCase{"raw/raw.d/CAM1.RAW", "raw/raw.d/CAM1.RAW.avi"},
        // every occurrence, anywhere in the name, left to right without overlaps
        NameCase{"drawer.raw", "davier.avi"}, NameCase{"rawraw.raw", "aviavi.avi"},
        NameCase{"a.raw.raw", "a.avi.avi"}, NameCase{"rawr", "avir"}, NameCase{"rrawaw", "raviaw"},
        // case-sensitive: no lower-case "raw" leaves the name unchanged, so ".avi" is appended
        NameCase{"CAM1.RAW", "CAM1.RAW.avi"}, NameCase{"Cam1.Raw", "Cam1.Raw.avi"},
        NameCase{"/data/raw/clip.mp4", "/data/raw/clip.mp4.avi"}, NameCase{"clip", "clip.avi"},
        // hidden files are names like any other
        NameCase{".raw", ".avi"}, NameCase{"/d/.cam.raw", "/d/.cam.avi"},
        NameCase{".hidden", ".hidden.avi"}));

}  // namespace
