// Shows the dialog after a Folder run over three recordings and saves a picture of its
// window as the X server shows it. scripts/screenshot-dialog.sh runs it under Xvfb.
// Usage: gui_screenshot EMPTY_FOLDER OUTPUT.png
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <iostream>

#include "app/gui/rawtoavi_app.h"
#include "app/gui/rawtoavi_dlg.h"
#include "tests/gui/dialog_testing.h"

int main(int argc, char** argv) {
  CRawToAviApp app(argc, argv);
  if (argc != 3) {
    std::cerr << "usage: gui_screenshot EMPTY_FOLDER OUTPUT.png\n";
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  for (const char* name : {"cam1_0800.raw", "cam1_0900.raw", "cam2_0800.raw"}) {
    gui_testing::WriteRecording(folder + '/' + QLatin1String(name));
  }

  CRawToAviDlg dialog;
  const QString choice = folder + "/cam1_0800.raw";
  dialog.SetFileChooser([&choice](QWidget*) { return choice; });
  dialog.show();
  if (!QTest::qWaitForWindowExposed(&dialog)) return 1;
  const gui_testing::DialogControls controls = gui_testing::ControlsOf(dialog);
  controls.folder->click();
  if (!QTest::qWaitFor([&] { return controls.folder->isEnabled(); }, 30000)) return 1;
  QTest::qWait(200);  // the last repaint

  const QPixmap picture = dialog.screen()->grabWindow(dialog.winId());
  if (!picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::cerr << "cannot write " << argv[2] << '\n';
    return 1;
  }
  return 0;
}
