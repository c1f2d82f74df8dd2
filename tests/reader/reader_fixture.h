// Shared helpers of the reader tests: a recording written to a temporary file and opened
// through the C interface.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "reader/mp4_reader.h"
#include "reader/mp4file.h"
#include "tests/support/temp_dir.h"
#include "tools/recording/recording_builder.h"

namespace reader_test {

using recording::Bytes;
using recording::RecordingBuilder;

// One delivery of a frame-reading call.
struct Got {
  uint32_t type;
  uint32_t count;
  Bytes bytes;
};

// A recording in a temporary folder, opened through MP4FileOpen and closed at the end.
class OpenRecording {
 public:
  explicit OpenRecording(const RecordingBuilder& builder) : OpenRecording(builder.Build()) {}
  explicit OpenRecording(const Bytes& bytes) : m_path(m_dir.File("rec.raw")) {
    testing_support::WriteFileBytes(m_path, bytes);
    m_handle = MP4FileOpen(m_path.c_str());
  }
  ~OpenRecording() {
    if (m_handle) MP4FileClose(m_handle);
  }
  OpenRecording(const OpenRecording&) = delete;
  OpenRecording& operator=(const OpenRecording&) = delete;

  void* Handle() const { return m_handle; }
  uint32_t Close() {
    const uint32_t result = MP4FileClose(m_handle);
    m_handle = nullptr;
    return result;
  }
  CMP4File& Reader() const { return *static_cast<CMP4File*>(m_handle); }
  const std::string& Path() const { return m_path; }

  Got Next() { return Call(MP4FileGetNextFrame); }
  Got NextI() { return Call(MP4FileGetNextIFrame); }
  std::pair<uint32_t, uint32_t> Pos() const {
    uint32_t i = 0xFFFFFFFF, f = 0xFFFFFFFF;
    EXPECT_EQ(MP4FileGetCurrentPos(m_handle, &i, &f), 1u);
    return {i, f};
  }

  template <typename Fn>
  Got Call(Fn fn) {
    m_buffer.assign(kBufferSize, 0xCD);
    uint32_t count = 0xFFFFFFFF;
    const uint32_t type = fn(m_handle, m_buffer.data(), &count);
    const size_t kept = type == MP4_DATA_NONE ? 0 : std::min<size_t>(count, kBufferSize);
    return {type, count, Bytes(m_buffer.begin(), m_buffer.begin() + kept)};
  }

 private:
  static constexpr size_t kBufferSize = 4 << 20;
  testing_support::TempDir m_dir;
  std::string m_path;
  void* m_handle = nullptr;
  Bytes m_buffer;
};

}  // namespace reader_test
