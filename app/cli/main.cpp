// rawtoavi: converts raw MPEG-4 recordings into AVI files, one by one or a folder at a time,
// with the same batch driver and progress lines as the dialog.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "app/cli/convert_command.h"
#include "app/cli/exit_status.h"
#include "app/cli/info_report.h"

namespace {

constexpr const char* kDescription = "Convert the MPEG4 RAW data file to AVI file.";
constexpr const char* kVersion = "rawtoavi 1.0.0.1";

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

}  // namespace

int main(int argc, char** argv) {
  ConvertCommand command;
  bool noOverwrite = false;
  bool info = false;
  bool json = false;

  CLI::App app{kDescription, "rawtoavi"};
  app.set_version_flag("--version", std::string(kVersion) + "\n" + kDescription);
  app.add_option("PATH", command.paths,
                 "recordings (each converted beside itself, \"raw\" in its name becoming "
                 "\"avi\") and folders (each of their *.raw files)")
      ->required()
      ->type_name("PATH");
  CLI::Option* output =
      app.add_option("-o,--output", command.output, "output file; only with a single recording")
          ->type_name("FILE");
  CLI::Option* keep = app.add_flag("-n,--no-overwrite", noOverwrite,
                                   "keep existing output files and report them skipped");
  CLI::Option* infoFlag = app.add_flag(
      "--info", info, "describe the recordings (header, info fields, records) and convert nothing");
  app.add_flag("--json", json, "with --info: one JSON document")->needs(infoFlag);
  app.add_flag("-q,--quiet", command.quiet, "print errors only");
  infoFlag->excludes(output)->excludes(keep);
  app.footer(
      "Exit status: 0 when every recording was converted or skipped, 1 when any failed, 2 for "
      "a usage error, 130 when interrupted.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitSuccess : kExitUsage;
  }
  if (!command.output.empty() && (command.paths.size() != 1 || IsFolder(command.paths[0]))) {
    std::cerr << "rawtoavi: --output needs exactly one recording\n"
              << "Run with --help for more information.\n";
    return kExitUsage;
  }
  if (info) return PrintRecordingInfo(command.paths, json);
  command.replaceExisting = !noOverwrite;
  return RunConvertCommand(command);
}
