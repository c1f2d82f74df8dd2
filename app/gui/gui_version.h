// The dialog program's name, version and description, and its --version option.
#pragma once

#include <iosfwd>

inline constexpr const char* kGuiVersion = "1.0.0.1";
inline constexpr const char* kGuiDescription = "Convert the MPEG4 RAW data file to AVI file.";

// Whether the command line asks for the version. Needs no Qt, so that it works without a
// display.
bool WantsVersion(int argc, const char* const* argv);

// Prints "<executable name> <version>" and the description, one a line. `argv0` is argv[0].
void PrintVersion(std::ostream& out, const char* argv0);
