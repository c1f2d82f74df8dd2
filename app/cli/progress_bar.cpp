#include "app/cli/progress_bar.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string FormatSize(uint64_t bytes) {
  constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  }
  return text;
}

}  // namespace

std::string FormatProgressBar(uint64_t consumed, uint64_t total, int width) {
  const double share =
      total == 0 ? 1.0
                 : static_cast<double>(std::min(consumed, total)) / static_cast<double>(total);
  const int filled = static_cast<int>(share * width);
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(width - filled), '-');
  char percent[16];
  std::snprintf(percent, sizeof percent, "] %3d%%  ", static_cast<int>(share * 100));
  return bar + percent + FormatSize(consumed) + " / " + FormatSize(total);
}
