// What --info tells about a recording: its header and info fields, and what a walk through
// its records meets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct RecordingWalk {
  uint64_t videoFrames = 0;
  uint64_t iFrames = 0;
  uint64_t auxRecords = 0;
  // Bytes of the record area the reader passed over without delivering them: records of
  // other kinds, or damage. The reader does not report such records one by one, so they are
  // measured in bytes, not counted.
  uint64_t otherBytes = 0;
  // Bytes of the record area behind the point where the walk stopped: 0 unless a damaged
  // record ended it early.
  uint64_t unreadBytes = 0;
};

struct RecordingInfo {
  std::string path;
  uint64_t fileSize = 0;
  uint32_t layout = 0;
  uint16_t pictureSizeCode = 0;
  uint32_t frameRate = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t firstIFrameTime = 0;  // as scanned at open; 0 without I-frames
  uint32_t lastIFrameTime = 0;
  RecordingWalk walk;
};

// Opens the recording `path` and reads it from the first record to the last. Returns nullopt,
// with the reason in `*pWhy`, when it cannot be opened or is no recording.
std::optional<RecordingInfo> ReadRecordingInfo(const std::string& path, std::string* pWhy);

// "tagged", "user data" or "unknown".
const char* LayoutName(uint32_t layout);
