#include "app/gui/rawtoavi_dlg.h"

#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <utility>

#include "app/gui/app_icon.h"
#include "app/gui/dialog_units.h"
#include "app/gui/raw_file_chooser.h"

namespace {

// The layout, in dialog units.
constexpr QSize kDialogSize{403, 201};

struct ControlTemplate {
  int id;
  const char* name;
  QRect rect;
};

constexpr ControlTemplate kFolder{1, "Folder", {346, 159, 50, 16}};
constexpr ControlTemplate kExit{2, "Exit", {346, 178, 50, 16}};
constexpr ControlTemplate kProgress{1000, "Progress", {7, 7, 329, 187}};
constexpr ControlTemplate kSingleFile{1001, "SingleFile", {346, 140, 50, 14}};

void Place(QWidget& control, const ControlTemplate& item, DialogBaseUnits base) {
  control.setObjectName(QString::fromLatin1(item.name));
  control.setProperty("controlId", item.id);
  control.setGeometry(MapDialogRect(item.rect, base));
}

}  // namespace

CRawToAviDlg::CRawToAviDlg(QWidget* parent)
    // A normal top-level window, so it has a taskbar entry; title and close box only.
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_hIcon(AppIcon()),
      m_chooseFile(ChooseRawFile),
      m_workerProc(ConvertThreadProc) {
  setWindowTitle(QStringLiteral("Tarnwick v1.00.00"));
  setWindowIcon(m_hIcon);
  CreateControls();
  m_conversionUi =
      std::make_unique<DialogConversionUi>(*this, *m_lbProgress, *m_btnSingleFile, *m_btnFolder);
}

CRawToAviDlg::~CRawToAviDlg() {
  m_bContinue.stop = true;
  EndWorker();
}

void CRawToAviDlg::CreateControls() {
  const DialogBaseUnits base = DialogBaseUnitsOf(font());
  setFixedSize(MapDialogRect({QPoint(), kDialogSize}, base).size());

  // Created in tab order.
  m_btnFolder = new QPushButton(QStringLiteral("Folder"), this);
  Place(*m_btnFolder, kFolder, base);
  m_btnExit = new QPushButton(QStringLiteral("Exit"), this);
  Place(*m_btnExit, kExit, base);
  m_lbProgress = new QListWidget(this);
  Place(*m_lbProgress, kProgress, base);
  // It scrolls vertically only; long lines are cut off at the edge.
  m_lbProgress->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_btnSingleFile = new QPushButton(QStringLiteral("Single File"), this);
  Place(*m_btnSingleFile, kSingleFile, base);
  m_btnSingleFile->setDefault(true);

  setTabOrder(m_btnFolder, m_btnExit);
  setTabOrder(m_btnExit, m_lbProgress);
  setTabOrder(m_lbProgress, m_btnSingleFile);
  m_btnFolder->setFocus();

  connect(m_btnFolder, &QPushButton::clicked, this, &CRawToAviDlg::OnBnClickedFolder);
  connect(m_btnExit, &QPushButton::clicked, this, &CRawToAviDlg::OnBnClickedExit);
  connect(m_btnSingleFile, &QPushButton::clicked, this, &CRawToAviDlg::OnBnClickedSingleFile);
}

void CRawToAviDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Here rather than at construction: the frame's size is known once the window exists.
  if (!event->spontaneous()) {
    move(screen()->availableGeometry().center() - frameGeometry().center() + pos());
  }
}

void CRawToAviDlg::OnBnClickedFolder() { Convert(false); }

void CRawToAviDlg::OnBnClickedSingleFile() { Convert(true); }

void CRawToAviDlg::Convert(bool bSingleFile) {
  // The worker may enable the buttons while Exit waits for it.
  if (m_bExiting) return;
  // The mode is taken even when the choice is then cancelled.
  m_bSingleFile = bSingleFile;
  const QString path = m_chooseFile(this);
  if (path.isEmpty()) return;

  m_btnSingleFile->setEnabled(false);
  m_btnFolder->setEnabled(false);
  m_csPathName = path;

  ConversionRequest request;
  request.bSingleFile = bSingleFile;
  if (bSingleFile) {
    m_lbProgress->insertItem(0, QStringLiteral("Converting RAW to AVI file ... "));
    request.path = QFile::encodeName(path).toStdString();
  } else {
    // The folder goes to the driver as it is; the current directory stays untouched.
    QString folder = QFileInfo(path).absolutePath();
    request.path = QFile::encodeName(folder).toStdString();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    m_lbProgress->insertItem(0, folder + QStringLiteral(" is converted ..."));
  }
  StartWorker(std::move(request));
}

void CRawToAviDlg::StartWorker(ConversionRequest request) {
  // The buttons are enabled again only by a worker's last call into the dialog, so a worker
  // still to be joined here is ending and needs this thread no more.
  if (m_hThread.joinable()) m_hThread.join();
  m_bContinue.stop = false;
  m_bContinue.abandon = false;
  m_hDoneEvent.Reset();
  m_hThread = std::thread([this, request = std::move(request)] {
    m_workerProc(request, *m_conversionUi, m_bContinue);
    m_hDoneEvent.Set();
  });
}

void CRawToAviDlg::reject() { OnBnClickedExit(); }

void CRawToAviDlg::OnBnClickedExit() {
  // Escape or the close box while the wait below runs.
  if (m_bExiting) return;
  m_bExiting = true;
  m_bContinue.stop = true;
  if (m_hThread.joinable()) WaitForWorker(kExitWait, QEventLoop::AllEvents);
  done(QDialog::Rejected);
  EndWorker();
}

void CRawToAviDlg::EndWorker() {
  m_conversionUi->Close();
  m_bContinue.abandon = true;
  if (!m_hThread.joinable()) return;
  // The worker may have handed over a call just before Close: serve it, or join deadlocks.
  WaitForWorker(std::nullopt, QEventLoop::ExcludeUserInputEvents);
  m_hThread.join();
}

void CRawToAviDlg::WaitForWorker(std::optional<std::chrono::milliseconds> timeout,
                                 QEventLoop::ProcessEventsFlags flags) {
  QEventLoop loop;
  connect(&m_hDoneEvent, &DoneEvent::Signalled, &loop, &QEventLoop::quit);
  QTimer timer;
  timer.setSingleShot(true);
  connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  if (timeout) timer.start(*timeout);
  if (!m_hDoneEvent.IsSet()) loop.exec(flags);
}
