// The reader's in-process figures: MP4FileOpen (whose last-I-frame search reads backwards
// from the trailer), MP4FileSetCurrentPos to the last group (first call: the walk that builds
// the record index; later calls: jumps), MP4FileGetPrevIFrame stepping back, and the memory
// the reader holds (its buffers, and the index per record).
//
// Usage: reader_bench [--benchmark_... flags] NAME=RECORDING...
// Every benchmark runs for every recording named; run.sh passes the generated ones.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "bench/process_memory.h"
#include "bench/recording_survey.h"
#include "reader/mp4file.h"

namespace {

using bench::RecordingSurvey;

struct Recording {
  std::string name;
  std::string path;
  RecordingSurvey survey;
};

constexpr uint32_t kPrevSteps = 100;
constexpr int kRepetitions = 5;

// The C interface takes no buffer size: room for any record the generator writes.
uint8_t* FrameBuffer() {
  static std::vector<uint8_t> buffer(size_t{16} << 20);
  return buffer.data();
}

void* OpenOrSkip(benchmark::State& state, const Recording& r) {
  void* h = MP4FileOpen(r.path.c_str());
  if (h == nullptr) state.SkipWithError(("cannot open " + r.path).c_str());
  return h;
}

double Bytes(uint64_t n) { return static_cast<double>(n); }
// Memory grown from `base` to `now`; 0 when it shrank meanwhile.
uint64_t Growth(uint64_t now, uint64_t base) { return now > base ? now - base : 0; }

// Open and close; the open scans for the first and the last I-frame.
void Open(benchmark::State& state, const Recording& r) {
  bench::ReleaseFreedMemory();
  const uint64_t base = bench::ResidentBytes();
  bench::ResetPeak();
  for (auto _ : state) {
    void* h = OpenOrSkip(state, r);
    if (h == nullptr) return;
    MP4FileClose(h);
  }
  // The bytes the last-I-frame search covers: from the last I-frame, or without one from the
  // start, up to the end of the file.
  state.counters["search_bytes"] = Bytes(r.survey.fileBytes - r.survey.lastAnchorOffset);
  state.counters["peak_rss_delta"] = Bytes(Growth(bench::PeakResidentBytes(), base));
}

// The first repositioning to the last group: a walk over every record before it.
void SetPosFirst(benchmark::State& state, const Recording& r) {
  for (auto _ : state) {
    state.PauseTiming();
    void* h = OpenOrSkip(state, r);
    if (h == nullptr) return;
    state.ResumeTiming();
    const uint32_t ok = MP4FileSetCurrentPos(h, r.survey.groups, 0);
    state.PauseTiming();
    MP4FileClose(h);
    if (ok != 1) state.SkipWithError("MP4FileSetCurrentPos failed");
    state.ResumeTiming();
  }
  state.counters["walked_bytes"] = Bytes(r.survey.lastAnchorOffset);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(r.survey.lastAnchorOffset));
}

// Later repositionings to the last group, once the index knows where it is.
void SetPosRepeated(benchmark::State& state, const Recording& r) {
  void* h = OpenOrSkip(state, r);
  if (h == nullptr) return;
  MP4FileSetCurrentPos(h, r.survey.groups, 0);
  for (auto _ : state) {
    if (MP4FileSetCurrentPos(h, r.survey.groups, 0) != 1) {
      state.SkipWithError("MP4FileSetCurrentPos failed");
      break;
    }
  }
  MP4FileClose(h);
}

// From the last group back through kPrevSteps groups, one I-frame delivered per step.
void PrevIFrame(benchmark::State& state, const Recording& r) {
  void* h = OpenOrSkip(state, r);
  if (h == nullptr) return;
  uint32_t n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    MP4FileSetCurrentPos(h, r.survey.groups, 0);
    MP4FileGetNextFrame(h, FrameBuffer(), &n);  // the anchor: pair (groups, 0)
    state.ResumeTiming();
    for (uint32_t i = 0; i < kPrevSteps; ++i) {
      if (MP4FileGetPrevIFrame(h, FrameBuffer(), &n) == MP4_DATA_NONE) {
        state.SkipWithError("MP4FileGetPrevIFrame delivered nothing");
        break;
      }
    }
  }
  MP4FileClose(h);
  state.counters["per_step"] = benchmark::Counter(
      kPrevSteps, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Memory, not time: what an open reader holds, what the open needs at its peak, and what the
// record index adds once a walk has met every record.
void Footprint(benchmark::State& state, const Recording& r) {
  for (auto _ : state) {
    bench::ReleaseFreedMemory();
    const uint64_t base = bench::ResidentBytes();
    const bool peakReset = bench::ResetPeak();
    void* h = OpenOrSkip(state, r);
    if (h == nullptr) return;
    const uint64_t openPeak = Growth(bench::PeakResidentBytes(), base);
    // The open's search block is freed by now; trimmed, its pages cannot hide the index.
    bench::ReleaseFreedMemory();
    const uint64_t openHeld = Growth(bench::ResidentBytes(), base);
    const uint64_t openAllocated = bench::AllocatedBytes();
    // No group lies beyond the last: the walk meets every record and fails at the end.
    MP4FileSetCurrentPos(h, r.survey.groups + 1, 0);
    const uint64_t walkPeak = Growth(bench::PeakResidentBytes(), base);
    bench::ReleaseFreedMemory();
    const uint64_t walkHeld = Growth(bench::ResidentBytes(), base);
    const uint64_t indexAllocated = Growth(bench::AllocatedBytes(), openAllocated);
    MP4FileClose(h);
    const uint64_t index = Growth(walkHeld, openHeld);
    state.counters["peak_reset"] = peakReset ? 1 : 0;
    state.counters["open_peak"] = Bytes(openPeak);
    state.counters["open_held"] = Bytes(openHeld);
    state.counters["walk_peak"] = Bytes(walkPeak);
    state.counters["index_bytes"] = Bytes(index);
    state.counters["records"] = Bytes(r.survey.videoRecords);
    const double records = static_cast<double>(std::max<uint64_t>(r.survey.videoRecords, 1));
    state.counters["index_per_record"] = Bytes(index) / records;
    // Allocated also counts the vectors' spare capacity, resident or not.
    state.counters["index_allocated_per_record"] = Bytes(indexAllocated) / records;
  }
}

// The shared machine makes times noisy: the best repetition is the one least disturbed.
// Memory is taken at its worst.
double Min(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }
double Max(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

void Register(const Recording& r) {
  const auto add = [&](const char* what, void (*fn)(benchmark::State&, const Recording&)) {
    return benchmark::RegisterBenchmark((std::string(what) + "/" + r.name).c_str(), fn, r)
        ->UseRealTime()
        ->Repetitions(kRepetitions)
        ->ComputeStatistics("min", Min)
        ->ComputeStatistics("max", Max)
        ->ReportAggregatesOnly(true);
  };
  add("Open", Open)->Unit(benchmark::kMillisecond);
  add("Footprint", Footprint)->Iterations(1);
  if (r.survey.groups == 0) return;
  add("SetPosFirst", SetPosFirst)->Unit(benchmark::kMillisecond);
  add("SetPosRepeated", SetPosRepeated)->Unit(benchmark::kMicrosecond);
  if (r.survey.groups > kPrevSteps) add("PrevIFrame", PrevIFrame)->Unit(benchmark::kMicrosecond);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<Recording> recordings;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::cerr << "usage: reader_bench [--benchmark_... flags] NAME=RECORDING...\n";
      return 2;
    }
    recordings.push_back({arg.substr(0, eq), arg.substr(eq + 1), {}});
  }
  try {
    for (Recording& r : recordings) {
      bench::WarmPageCache(r.path);
      r.survey = bench::SurveyRecording(r.path);
      benchmark::AddCustomContext("survey/" + r.name,
                                  std::to_string(r.survey.fileBytes) + " bytes, " +
                                      std::to_string(r.survey.videoRecords) + " records, " +
                                      std::to_string(r.survey.groups) + " groups");
    }
  } catch (const std::exception& e) {
    std::cerr << "reader_bench: " << e.what() << "\n";
    return 1;
  }
  for (const Recording& r : recordings) Register(r);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
