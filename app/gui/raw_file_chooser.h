// The open-file dialog that picks a raw recording.
#pragma once

#include <QString>

class QFileDialog;
class QWidget;

// Sets `dialog` up for picking one existing recording: filters "RAW Files (*.raw)" (active)
// and "All Files (*.*)", "*.raw" as the initial name, "RAW" as the default suffix.
void ConfigureRawFileDialog(QFileDialog& dialog);

// Runs that dialog modally over `parent`; returns the chosen file, or an empty string when
// the user cancels. UI thread only.
QString ChooseRawFile(QWidget* parent);
