#include "app/output_name.h"

std::string AviPathFor(const std::string& rawPath) {
  const size_t slash = rawPath.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  constexpr std::string_view kFrom = "raw";
  constexpr std::string_view kTo = "avi";

  std::string path = rawPath.substr(0, nameStart);
  size_t from = nameStart;
  bool renamed = false;
  for (size_t at = rawPath.find(kFrom, from); at != std::string::npos;
       at = rawPath.find(kFrom, from)) {
    path.append(rawPath, from, at - from).append(kTo);
    from = at + kFrom.size();
    renamed = true;
  }
  path.append(rawPath, from);
  if (!renamed) path += ".avi";
  return path;
}
