#include "bench/process_memory.h"

#include <malloc.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace bench {

namespace {

// A "Name:   1234 kB" line of /proc/self/status, in bytes; 0 when missing.
uint64_t StatusKilobytes(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(name))
      return std::strtoull(line.c_str() + name.size(), nullptr, 10) * 1024;
  }
  return 0;
}

}  // namespace

uint64_t ResidentBytes() { return StatusKilobytes("VmRSS:"); }

uint64_t PeakResidentBytes() { return StatusKilobytes("VmHWM:"); }

bool ResetPeak() {
  // "5" resets the peak resident size (see proc(5), /proc/pid/clear_refs).
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

uint64_t AllocatedBytes() {
  const struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;  // in use from the heap, and mapped blocks
}

void ReleaseFreedMemory() { ::malloc_trim(0); }

}  // namespace bench
