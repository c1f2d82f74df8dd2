#include "app/gui/raw_file_chooser.h"

#include <QFileDialog>
#include <QStringList>

void ConfigureRawFileDialog(QFileDialog& dialog) {
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters({QStringLiteral("RAW Files (*.raw)"), QStringLiteral("All Files (*.*)")});
  dialog.selectNameFilter(QStringLiteral("RAW Files (*.raw)"));
  dialog.setDefaultSuffix(QStringLiteral("RAW"));
  dialog.selectFile(QStringLiteral("*.raw"));
}

QString ChooseRawFile(QWidget* parent) {
  QFileDialog dialog(parent);
  ConfigureRawFileDialog(dialog);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles().value(0);
}
