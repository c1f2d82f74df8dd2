// The batch driver: converts one recording, or every recording of a folder, and reports
// progress as lines of a list, through a user interface of the caller's.
//
// The dialog and the command line drive the very same code; each supplies a ConversionUi.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/output_name.h"

// The texts of the progress list.
inline constexpr const char* kBannerLine = "[Tarnwick] RAW -> AVI : V0.09.00b";
inline constexpr const char* kConvertingSuffix = " has been converting ...";
inline constexpr const char* kConvertedSuffix = " has been converted!";
inline constexpr const char* kFailedSuffix = " could not be converted: ";
// Behind an output that is kept because the request does not replace existing files.
inline constexpr const char* kSkippedSuffix = " has been skipped: the file already exists";
// Behind a folder whose files cannot be listed, followed by the reason.
inline constexpr const char* kFolderUnreadableSuffix = " could not be read: ";

// What the driver needs of its user interface. The driver calls it on the worker thread;
// each call must have taken effect when it returns (the dialog runs it synchronously on its
// own thread).
class ConversionUi {
 public:
  virtual ~ConversionUi() = default;

  // The progress list, by zero-based line index; an insertion moves the lines from there on
  // down by one. Lines are never sorted.
  virtual void ResetContent() = 0;
  virtual void InsertString(int index, const std::string& line) = 0;
  virtual void DeleteString(int index) = 0;
  // Enables "Single File", then "Folder": the worker's last act.
  virtual void EnableButtons() = 0;
  // Shows a message to the user and returns when it has been seen (the dialog: a message box
  // with one OK button); `cause` says why, for interfaces that can show it.
  virtual void ShowMessage(const std::string& message, const std::string& cause) = 0;
  // Bytes of the recording in hand converted so far, of `total`: called while a recording
  // converts, each time a further thousandth of it has been consumed. Optional.
  virtual void ShowProgress(uint64_t consumed, uint64_t total) {
    (void)consumed;
    (void)total;
  }
};

// One request: a recording, or a folder whose "*.raw" files are all converted.
struct ConversionRequest {
  bool bSingleFile = true;
  // Single-file mode: the recording. Folder mode: the folder.
  std::string path;
  // Single-file mode: the output file; empty for AviPathFor(path). Unused in folder mode.
  std::string outputPath;
  // Replace existing output files (the dialog does), or keep them and report them skipped.
  bool replaceExisting = true;
};

// Shared between the worker and the thread that may stop it. Both flags only ever go from
// false to true during a request.
struct BatchControl {
  // Stop a folder batch after the file in hand.
  std::atomic<bool> stop{false};
  // Abandon the file in hand at its next frame, leaving no output (the dialog is closing).
  // From then on the driver makes no further call to the interface at all.
  std::atomic<bool> abandon{false};
};

// What a request did. A file abandoned half-way counts nowhere; an unreadable folder counts
// as one failure.
struct BatchSummary {
  int converted = 0;
  int failed = 0;
  int skipped = 0;
};

// Runs one request: empties the list, inserts the banner at line 0, and for each recording
// (folder mode: every regular file whose name matches *.raw case-insensitively, in byte order
// of the names, with the folder made absolute) inserts "<output> has been converting ..." at
// line 1, converts it, and replaces that line by "<output> has been converted!" or "<output>
// could not be converted: <reason>". The file converted last stands first under the banner.
//
// An output that exists while the request keeps existing files is not converted: only
// "<output> has been skipped: ..." is inserted at line 1. A folder that cannot be listed gets
// "<folder> could not be read: <reason>" at line 1. A folder without recordings leaves the
// banner alone.
//
// `control.stop` and `control.abandon` are tested before each file; the recording in hand is
// converted to its end unless abandoned. A write error shows kStreamWriteErrorMessage with its
// cause through ShowMessage, once for the file, before its failure line.
BatchSummary ConvertRawFiles(const ConversionRequest& request, ConversionUi& ui,
                             BatchControl& control);

// The worker: runs ConvertRawFiles, then enables the buttons again as its last act, unless
// the request was abandoned (then the interface is not touched again).
BatchSummary ConvertThreadProc(const ConversionRequest& request, ConversionUi& ui,
                               BatchControl& control);
