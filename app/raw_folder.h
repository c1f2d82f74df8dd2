// Which files of a folder are recordings to convert.
#pragma once

#include <string>
#include <vector>

// `path` as an absolute folder path, without "." components or a trailing separator, so the
// paths built on it read well in the progress list. ".." components are kept: resolving them
// without the file system could change which folder is meant.
std::string AbsoluteFolder(const std::string& path);

// The paths `folder`/name of every regular file (or symbolic link to one) directly in
// `folder` whose name ends in ".raw" in any letter case, in byte order of the names.
// Throws std::filesystem::filesystem_error when the folder cannot be read.
std::vector<std::string> ListRawFiles(const std::string& folder);
