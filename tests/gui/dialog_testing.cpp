#include "tests/gui/dialog_testing.h"

#include <QDir>
#include <QListWidget>
#include <QPushButton>

#include "app/gui/rawtoavi_dlg.h"
#include "tests/support/avi_reader.h"
#include "tools/recording/recording_builder.h"

namespace gui_testing {

void WriteRecording(const QString& path) {
  recording::RecordingBuilder(17).IFrame(1).PFrame(2).PFrame(3).WriteTo(path.toStdString());
}

DialogControls ControlsOf(const CRawToAviDlg& dialog) {
  return {dialog.findChild<QPushButton*>(QStringLiteral("Folder")),
          dialog.findChild<QPushButton*>(QStringLiteral("Exit")),
          dialog.findChild<QListWidget*>(QStringLiteral("Progress")),
          dialog.findChild<QPushButton*>(QStringLiteral("SingleFile"))};
}

QStringList Lines(const QListWidget& list) {
  QStringList lines;
  for (int i = 0; i < list.count(); ++i) lines << list.item(i)->text();
  return lines;
}

QStringList InFolder(const QStringList& lines, const QString& folder) {
  QStringList result;
  for (const QString& line : lines) result << (line.contains(u"%1") ? line.arg(folder) : line);
  return result;
}

QStringList AviFiles(const QString& folder) {
  return QDir(folder).entryList({QStringLiteral("*.avi")}, QDir::Files, QDir::Name);
}

QStringList TemporaryFiles(const QString& folder) {
  return QDir(folder).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden,
                                QDir::Name);
}

int AviSampleCount(const QString& path) {
  try {
    return static_cast<int>(testing_support::ReadAviFile(path.toStdString()).samples.size());
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace gui_testing
