#include "app/raw_folder.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

bool HasRawExtension(const std::string& name) {
  constexpr std::string_view kExtension = ".raw";
  if (name.size() < kExtension.size()) return false;
  return std::equal(
      kExtension.begin(), kExtension.end(), name.end() - kExtension.size(),
      [](char want, char got) { return want == std::tolower(static_cast<unsigned char>(got)); });
}

}  // namespace

std::string AbsoluteFolder(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) absolute = path;  // no current folder: the path as given still names the folder
  fs::path cleaned;
  for (const fs::path& part : absolute) {
    if (part.empty() || part == ".") continue;
    cleaned /= part;
  }
  return cleaned.empty() ? path : cleaned.string();
}

std::vector<std::string> ListRawFiles(const std::string& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    std::error_code ec;  // a dangling link or a vanished entry is simply no recording
    if (HasRawExtension(name) && entry.is_regular_file(ec)) names.push_back(std::move(name));
  }
  // std::string compares its characters as unsigned bytes.
  std::sort(names.begin(), names.end());
  std::vector<std::string> paths;
  paths.reserve(names.size());
  const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
  for (const std::string& name : names) paths.push_back(prefix + name);
  return paths;
}
