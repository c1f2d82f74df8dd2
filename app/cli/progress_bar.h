// The text of the progress bar the command line draws on a terminal.
#pragma once

#include <cstdint>
#include <string>

// A bar of `width` cells filled to consumed / total, the percentage and both sizes, e.g.
// "[##########----------]  50%  1.2 MiB / 2.4 MiB". A zero total counts as complete.
std::string FormatProgressBar(uint64_t consumed, uint64_t total, int width = 30);
