// Helpers of the dialog tests: recordings to convert, the dialog's controls, and what a
// folder holds afterwards.
#pragma once

#include <QString>
#include <QStringList>

class CRawToAviDlg;
class QListWidget;
class QPushButton;

namespace gui_testing {

// The number of frames in a recording WriteRecording makes.
inline constexpr int kRecordingFrames = 3;

// A short recording of the tagged layout that the converter accepts.
void WriteRecording(const QString& path);

struct DialogControls {
  QPushButton* folder;
  QPushButton* exit;
  QListWidget* progress;
  QPushButton* singleFile;
};
// Found by object name; null where one is missing.
DialogControls ControlsOf(const CRawToAviDlg& dialog);

QStringList Lines(const QListWidget& list);
// `lines` with %1 replaced by `folder`.
QStringList InFolder(const QStringList& lines, const QString& folder);

// Names of the AVI files in `folder`, sorted.
QStringList AviFiles(const QString& folder);
// Names of the temporary files of atomic writes in `folder` (".<name>.XXXXXX.part").
QStringList TemporaryFiles(const QString& folder);
// The number of samples of the AVI file at `path`, or -1 when it is no complete AVI file.
int AviSampleCount(const QString& path);

}  // namespace gui_testing
