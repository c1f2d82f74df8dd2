#include "app/gui/gui_version.h"

#include <cstring>
#include <filesystem>
#include <ostream>

bool WantsVersion(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) return true;
  }
  return false;
}

void PrintVersion(std::ostream& out, const char* argv0) {
  out << std::filesystem::path(argv0).filename().string() << ' ' << kGuiVersion << '\n'
      << kGuiDescription << '\n';
}
