#include "app/batch_driver.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "app/raw_folder.h"
#include "convert/convert_raw_to_avi.h"

namespace {

namespace fs = std::filesystem;

enum class Outcome { kConverted, kFailed, kSkipped, kAbandoned };

bool OutputExists(const std::string& path) {
  std::error_code ec;
  // A dangling symbolic link counts: publishing without replacing refuses it as well.
  return fs::exists(fs::symlink_status(path, ec));
}

// Hands the converter's progress on to the interface a thousandth of the file at a time, so
// that a dialog, which waits for each call, is not called for every record.
class ProgressForwarder {
 public:
  ProgressForwarder(ConversionUi& ui, const std::atomic<bool>& abandon)
      : m_ui(ui), m_abandon(abandon) {}

  void operator()(uint64_t consumed, uint64_t total) {
    if (m_abandon) return;
    if (m_forwarded && consumed < m_last + total / 1000 && consumed != total) return;
    m_forwarded = true;
    m_last = consumed;
    m_ui.ShowProgress(consumed, total);
  }

 private:
  ConversionUi& m_ui;
  const std::atomic<bool>& m_abandon;
  bool m_forwarded = false;
  uint64_t m_last = 0;
};

Outcome ConvertOne(const std::string& rawPath, const std::string& aviPath,
                   const ConversionRequest& request, ConversionUi& ui, BatchControl& control) {
  if (!request.replaceExisting && OutputExists(aviPath)) {
    ui.InsertString(1, aviPath + kSkippedSuffix);
    return Outcome::kSkipped;
  }
  ui.InsertString(1, aviPath + kConvertingSuffix);

  ConvertOptions options;
  options.replaceExisting = request.replaceExisting;
  // Stopping waits for the file in hand; only abandoning cuts it short.
  options.cancel = &control.abandon;
  options.onWriteError = [&](const std::string& message, const std::string& cause) {
    if (!control.abandon) ui.ShowMessage(message, cause);
  };
  ProgressForwarder forwarder(ui, control.abandon);
  options.onProgress = [&](uint64_t consumed, uint64_t total) { forwarder(consumed, total); };

  std::string why;
  const bool converted = ConvertRawToAvi(aviPath.c_str(), rawPath.c_str(), options, &why) == 0;
  if (control.abandon) return Outcome::kAbandoned;
  ui.DeleteString(1);
  ui.InsertString(1, converted ? aviPath + kConvertedSuffix : aviPath + kFailedSuffix + why);
  return converted ? Outcome::kConverted : Outcome::kFailed;
}

void Count(Outcome outcome, BatchSummary& summary) {
  switch (outcome) {
    case Outcome::kConverted:
      ++summary.converted;
      break;
    case Outcome::kFailed:
      ++summary.failed;
      break;
    case Outcome::kSkipped:
      ++summary.skipped;
      break;
    case Outcome::kAbandoned:
      break;
  }
}

BatchSummary ConvertFolder(const ConversionRequest& request, ConversionUi& ui,
                           BatchControl& control) {
  BatchSummary summary;
  const std::string folder = AbsoluteFolder(request.path);
  std::vector<std::string> recordings;
  try {
    recordings = ListRawFiles(folder);
  } catch (const fs::filesystem_error& e) {
    ui.InsertString(1, folder + kFolderUnreadableSuffix + e.code().message());
    ++summary.failed;
    return summary;
  }
  for (const std::string& rawPath : recordings) {
    if (control.stop || control.abandon) break;
    Count(ConvertOne(rawPath, AviPathFor(rawPath), request, ui, control), summary);
  }
  return summary;
}

}  // namespace

BatchSummary ConvertRawFiles(const ConversionRequest& request, ConversionUi& ui,
                             BatchControl& control) {
  if (control.abandon) return {};
  ui.ResetContent();
  ui.InsertString(0, kBannerLine);
  if (!request.bSingleFile) return ConvertFolder(request, ui, control);

  BatchSummary summary;
  if (control.stop) return summary;
  const std::string aviPath =
      request.outputPath.empty() ? AviPathFor(request.path) : request.outputPath;
  Count(ConvertOne(request.path, aviPath, request, ui, control), summary);
  return summary;
}

BatchSummary ConvertThreadProc(const ConversionRequest& request, ConversionUi& ui,
                               BatchControl& control) {
  const BatchSummary summary = ConvertRawFiles(request, ui, control);
  if (!control.abandon) ui.EnableButtons();
  return summary;
}
