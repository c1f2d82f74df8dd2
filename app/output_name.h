// The name of the AVI file a recording is converted into.
#pragma once

#include <string>

// The output path of a recording: in the recording's folder, its file name with every "raw"
// replaced by "avi" (case-sensitive, left to right, without overlaps); when that leaves the
// name unchanged, the name with ".avi" appended, so a recording is never its own output.
// The folder part of the path is kept as it is, even when it holds "raw".
std::string AviPathFor(const std::string& rawPath);
