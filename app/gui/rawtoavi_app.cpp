#include "app/gui/rawtoavi_app.h"

#include <QFileInfo>

#include "app/gui/app_icon.h"
#include "app/gui/gui_version.h"
#include "app/gui/rawtoavi_dlg.h"

CRawToAviApp::CRawToAviApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName());
  setApplicationVersion(QString::fromLatin1(kGuiVersion));
  setWindowIcon(AppIcon());
}

int CRawToAviApp::Run() {
  CRawToAviDlg dialog;
  dialog.exec();
  return 0;
}
