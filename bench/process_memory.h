// This process's resident memory, as the kernel reports it, for the in-process memory
// figures of the benchmarks.
#pragma once

#include <cstdint>

namespace bench {

// Resident set size now, in bytes.
uint64_t ResidentBytes();
// Highest resident set size since the process started or since the last ResetPeak, in bytes.
uint64_t PeakResidentBytes();
// Restarts the peak at the current size (Linux 4.0 on). Returns false when the kernel
// refuses; the peak then keeps counting from the process start.
bool ResetPeak();
// Bytes allocated through malloc and not yet freed, resident or not.
uint64_t AllocatedBytes();
// Hands freed heap memory back to the kernel, so that a following ResidentBytes counts live
// allocations only and new ones show up as they are touched.
void ReleaseFreedMemory();

}  // namespace bench
