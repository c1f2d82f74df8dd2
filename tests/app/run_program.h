// Runs a built program as a user would, and captures what it prints and its exit status.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ProgramRun {
  int exitStatus = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

enum class StandardError { kFile, kTerminal };

// Runs `program` with `args` in the folder `workDir`, with no standard input. Standard output
// always goes to a file; standard error too, or, with kTerminal, to a pseudo-terminal, so that
// the program sees a terminal there. Throws std::runtime_error when the program cannot be
// started.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& workDir, StandardError err = StandardError::kFile);

// The lines of `text`, without their line ends.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace testing_support
