// make-bench-recording: writes the recordings the benchmarks read, of any size, straight to
// disk. Tagged layout, 720 x 576 at 25 frames per second, groups of 25 frames: an I-frame of
// about 60 KB, then P-frames of about 15 KB. Optionally the same frames as an MPEG-4
// elementary stream (.m4v: the VOL header, then the frames), for remuxing by ffmpeg.
//
// Kinds:
//   groups     I-frames every 25 frames up to the trailer;
//   tail-p     the same, but the last I-frame is followed by --tail bytes of P-frames;
//   no-iframe  P-frames only.
// The file is exactly --size bytes. It is written under a temporary name and renamed when
// complete, so an interrupted run never leaves a file that looks finished.
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <CLI/CLI.hpp>

#include "bench/buffered_output.h"
#include "bench/synthetic_frames.h"
#include "bench/tagged_recording_writer.h"
#include "convert/vol_header.h"

namespace {

// Raised whenever the output for the same arguments changes, so that run.sh regenerates
// recordings it kept from an earlier run.
constexpr int kGeneratorVersion = 1;

enum class Kind { kGroups, kTailP, kNoIFrame };

constexpr bench::RecordingPicture kPicture{3, 25, 720, 576};
constexpr uint32_t kGroupLength = 25;
constexpr size_t kIFrameSize = 60 * 1024;
constexpr size_t kPFrameSize = 15 * 1024;
constexpr uint32_t kStartTimeMs = 1000;
constexpr uint32_t kFrameMs = 40;
// Records are never shorter than this, so the last one before an exact end is never too short
// to hold a frame, and never longer than kMaxRecord.
constexpr uint64_t kMinRecord = bench::TaggedRecordingWriter::kRecordOverhead + 128;
constexpr uint64_t kMaxRecord = 2 * (kIFrameSize + kIFrameSize / 10);

struct Options {
  std::string output;
  std::string m4v;
  uint64_t size = 0;
  Kind kind = Kind::kGroups;
  uint64_t tail = 100'000'000;
};

class Generator {
 public:
  explicit Generator(const Options& o)
      : m_frames(1000 * VolFrameRate(kPicture.sizeCode, kPicture.frameRate), 1001),
        m_recording(o.output + ".part", kPicture) {
    if (!o.m4v.empty()) {
      m_m4v = std::make_unique<bench::BufferedOutput>(o.m4v + ".part");
      const std::optional<VolHeader> vol = VolHeaderForRecording(
          kPicture.sizeCode, kPicture.frameRate, kPicture.width, kPicture.height);
      m_m4v->Write(vol->data(), vol->size());
    }
  }

  uint64_t Position() const { return m_recording.Position(); }

  // Appends frames, an I-frame opening every group when `groups` is set, until the next
  // record would start at `end` exactly.
  void EmitUntil(uint64_t end, bool groups) {
    while (Position() < end) {
      const bool iframe = groups && m_groupPosition == 0;
      const uint64_t left = end - Position();
      uint64_t record = bench::TaggedRecordingWriter::kRecordOverhead + TypicalSize(iframe);
      // Keep what is left either nothing or enough for one more record.
      if (left < record + kMinRecord) record = left <= kMaxRecord ? left : left / 2;
      Emit(iframe, record);
    }
  }

  void Emit(bool iframe, uint64_t record) {
    if (record < kMinRecord) throw std::runtime_error("the size leaves no room for a frame");
    const auto data = m_frames.Next(iframe, record - bench::TaggedRecordingWriter::kRecordOverhead);
    const uint32_t time = kStartTimeMs + m_frameCount++ * kFrameMs;
    m_recording.AddFrame(time, data);
    if (m_m4v) m_m4v->Write(data.data(), data.size());
    if (iframe) {
      if (!m_firstIFrameTime) m_firstIFrameTime = time;
      m_lastIFrameTime = time;
      m_groupPosition = 0;
    }
    m_groupPosition = (m_groupPosition + 1) % kGroupLength;
  }

  void Finish(const Options& o) {
    m_recording.Finish(m_firstIFrameTime.value_or(0), m_lastIFrameTime);
    if (m_m4v) m_m4v->Close();
    Publish(o.output);
    if (m_m4v) Publish(o.m4v);
  }

 private:
  // Sizes vary by up to a tenth, as an encoder's would.
  size_t TypicalSize(bool iframe) {
    const size_t base = iframe ? kIFrameSize : kPFrameSize;
    m_seed = m_seed * 1664525u + 1013904223u;
    return base - base / 10 + (m_seed >> 8) % (base / 5 + 1);
  }

  static void Publish(const std::string& path) {
    if (std::rename((path + ".part").c_str(), path.c_str()) != 0) {
      throw std::runtime_error("cannot rename " + path + ".part");
    }
  }

  bench::SyntheticFrames m_frames;
  bench::TaggedRecordingWriter m_recording;
  std::unique_ptr<bench::BufferedOutput> m_m4v;
  uint32_t m_groupPosition = 0;
  uint32_t m_frameCount = 0;
  uint32_t m_seed = 7;
  std::optional<uint32_t> m_firstIFrameTime;
  uint32_t m_lastIFrameTime = 0;
};

void Run(const Options& o) {
  constexpr uint64_t kHeaderSize = 64;
  constexpr uint64_t kTrailer = bench::TaggedRecordingWriter::kTrailerSize;
  if (o.size < kHeaderSize + kTrailer + kMinRecord) throw std::runtime_error("--size too small");
  const uint64_t trailerAt = o.size - kTrailer;
  Generator g(o);
  switch (o.kind) {
    case Kind::kGroups:
      g.EmitUntil(trailerAt, true);
      break;
    case Kind::kNoIFrame:
      g.EmitUntil(trailerAt, false);
      break;
    case Kind::kTailP: {
      const uint64_t iframe = bench::TaggedRecordingWriter::kRecordOverhead + kIFrameSize;
      if (o.tail + iframe + kMinRecord > trailerAt - kHeaderSize) {
        throw std::runtime_error("--tail leaves no room for the groups before it");
      }
      g.EmitUntil(trailerAt - o.tail - iframe, true);
      g.Emit(true, iframe);
      g.EmitUntil(trailerAt, false);
      break;
    }
  }
  g.Finish(o);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  CLI::App app{"Writes a synthetic raw recording for the benchmarks."};
  app.set_version_flag("--version", "make-bench-recording " + std::to_string(kGeneratorVersion));
  app.add_option("output", o.output, "raw recording to write")->required();
  app.add_option("--size", o.size, "size of the recording in bytes")->required();
  app.add_option("--kind", o.kind, "groups, tail-p or no-iframe")
      ->transform(CLI::CheckedTransformer(std::map<std::string, Kind>{
          {"groups", Kind::kGroups}, {"tail-p", Kind::kTailP}, {"no-iframe", Kind::kNoIFrame}}));
  app.add_option("--tail", o.tail, "tail-p: bytes of P-frames behind the last I-frame")
      ->capture_default_str();
  app.add_option("--m4v", o.m4v, "also write the frames as an MPEG-4 elementary stream here");
  CLI11_PARSE(app, argc, argv);
  try {
    Run(o);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "make-bench-recording: " << e.what() << "\n";
    return 1;
  }
}
