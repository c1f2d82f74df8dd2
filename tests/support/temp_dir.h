// A fresh temporary folder per test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  // Path of `name` inside the folder, as a string.
  std::string File(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
// The names in `folder`, sorted: to see what a test left behind.
std::vector<std::string> FileNames(const std::filesystem::path& folder);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace testing_support
