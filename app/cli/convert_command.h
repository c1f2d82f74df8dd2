// Converting the recordings and folders named on the command line.
#pragma once

#include <string>
#include <vector>

struct ConvertCommand {
  std::vector<std::string> paths;  // recordings and folders
  std::string output;              // explicit output of the only recording; empty for none
  bool replaceExisting = true;
  bool quiet = false;
};

// Converts each path in turn: a folder in folder mode, anything else as one recording (so a
// missing file fails as a recording would). SIGINT and SIGTERM abandon the file in hand,
// leaving no output of it, and end the run. Returns the exit status.
int RunConvertCommand(const ConvertCommand& command);
