// What the benchmarks need to know about a recording before timing it, learnt by reading it
// once from start to end through the C interface.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct RecordingSurvey {
  uint64_t fileBytes = 0;
  uint64_t videoRecords = 0;
  uint32_t groups = 0;  // I-frames
  // Offset of the last I-frame's record: the bytes a walk to the last group passes over.
  uint64_t lastAnchorOffset = 0;
};

// Throws std::runtime_error when the recording cannot be opened.
RecordingSurvey SurveyRecording(const std::string& path);

// Reads the whole file once, so that timed runs find it in the page cache.
void WarmPageCache(const std::string& path);

}  // namespace bench
