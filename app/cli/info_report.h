// --info: describes recordings instead of converting them.
#pragma once

#include <string>
#include <vector>

// The version of the --json layout; raised whenever a field changes meaning or goes away.
inline constexpr int kInfoSchemaVersion = 1;

// Describes every recording `paths` names (a folder stands for its *.raw files) on standard
// output: as text, or with `json` as one JSON document
//   {"schema_version": 1, "recordings": [{"path": ..., "file_size": ..., "header": {...},
//    "info": {...}, "walk": {...}} or {"path": ..., "error": ...}, ...]}.
// Whatever cannot be described is also reported on standard error. Returns the exit status.
int PrintRecordingInfo(const std::vector<std::string>& paths, bool json);
