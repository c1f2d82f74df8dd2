// Which files of a folder are recordings, in which order, and how the folder is written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/raw_folder.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

TEST(ListRawFilesTest, TakesRegularFilesEndingInRawInAnyCaseInByteOrder) {
  const TempDir dir;
  for (const char* name : {"b.raw", "A.RAW", "a.raw", ".raw", "x.Raw", "\xc3\xa9.raw", "notes.txt",
                           "raw", "a.raw.bak", "rawfile", "a.ra"}) {
    WriteFileBytes(dir.File(name), {1, 2, 3});
  }
  fs::create_directory(dir.File("folder.raw"));
  fs::create_symlink("a.raw", dir.File("link.raw"));
  fs::create_symlink("missing.raw", dir.File("dangling.raw"));
  fs::create_symlink("folder.raw", dir.File("folderlink.raw"));

  const std::string folder = dir.Path().string();
  EXPECT_THAT(ListRawFiles(folder),
              testing::ElementsAre(folder + "/.raw", folder + "/A.RAW", folder + "/a.raw",
                                   folder + "/b.raw", folder + "/link.raw", folder + "/x.Raw",
                                   folder + "/\xc3\xa9.raw"));
  // A trailing separator does not double.
  EXPECT_THAT(ListRawFiles(folder + "/"), testing::Contains(folder + "/a.raw"));
}

TEST(ListRawFilesTest, ThrowsForAFolderItCannotList) {
  const TempDir dir;
  WriteFileBytes(dir.File("file.raw"), {1});
  for (const std::string& path : {dir.File("missing"), dir.File("file.raw")}) {
    EXPECT_THROW(ListRawFiles(path), fs::filesystem_error) << path;
  }
}

TEST(AbsoluteFolderTest, DropsDotsAndTrailingSeparatorsOnly) {
  const std::string cwd = fs::current_path().string();
  const struct {
    std::string given;
    std::string expected;
  } cases[] = {
      {"/data/./raw/", "/data/raw"},
      {"/data/raw", "/data/raw"},
      {"/", "/"},
      {"/data/../raw", "/data/../raw"},  // ".." is left to the file system
      {"recordings", cwd + "/recordings"},
      {".", cwd},
      {"./a/.", cwd + "/a"},
  };
  for (const auto& c : cases) EXPECT_EQ(AbsoluteFolder(c.given), c.expected) << c.given;
}

}  // namespace
