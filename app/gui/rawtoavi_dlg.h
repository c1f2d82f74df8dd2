// The program's dialog: converts one recording ("Single File") or every recording of a
// recording's folder ("Folder") on a worker thread, and lists the progress.
#pragma once

#include <QDialog>
#include <QEventLoop>
#include <QIcon>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "app/batch_driver.h"
#include "app/gui/dialog_conversion_ui.h"
#include "app/gui/done_event.h"

class QListWidget;
class QPushButton;

// UI thread only, except where the worker is concerned: the worker talks to the dialog only
// through its DialogConversionUi, and the dialog ends the worker before it is destroyed.
class CRawToAviDlg final : public QDialog {
  Q_OBJECT

 public:
  // Returns the chosen recording, or an empty string when the user cancels.
  using FileChooser = std::function<QString(QWidget* parent)>;
  // What the worker thread runs; ConvertThreadProc unless a test holds the worker up.
  using WorkerProc =
      std::function<BatchSummary(const ConversionRequest&, ConversionUi&, BatchControl&)>;

  // How long Exit lets a running worker finish before abandoning its conversion.
  static constexpr std::chrono::seconds kExitWait{10};

  explicit CRawToAviDlg(QWidget* parent = nullptr);
  // Ends a worker still running the way closing does.
  ~CRawToAviDlg() override;

  // Replace the open-file dialog or the worker's procedure; not while a worker runs.
  void SetFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
  void SetWorkerProc(WorkerProc proc) { m_workerProc = std::move(proc); }

  bool IsSingleFile() const { return m_bSingleFile; }
  const QString& PathName() const { return m_csPathName; }

  void OnBnClickedFolder();
  void OnBnClickedSingleFile();
  // Stops the worker and closes the dialog; also run by Escape and the window's close box.
  void OnBnClickedExit();
  void reject() override;

 protected:
  // Centres the window, frame included, on its screen.
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  void Convert(bool bSingleFile);
  void StartWorker(ConversionRequest request);
  // Handles events until the worker has ended or `timeout` has passed (none: no limit), so
  // that the worker's calls into this thread go on being served.
  void WaitForWorker(std::optional<std::chrono::milliseconds> timeout,
                     QEventLoop::ProcessEventsFlags flags);
  // Once the dialog has closed: cuts the worker off the dialog, abandons its conversion and
  // joins it.
  void EndWorker();

  QIcon m_hIcon;
  // Stop and abandon requests for the worker.
  BatchControl m_bContinue;
  bool m_bSingleFile = false;
  std::thread m_hThread;
  // The file chosen last.
  QString m_csPathName;
  // Parent-owned widgets.
  QListWidget* m_lbProgress = nullptr;
  QPushButton* m_btnFolder = nullptr;
  QPushButton* m_btnExit = nullptr;
  QPushButton* m_btnSingleFile = nullptr;
  // Set by the worker as its last act.
  DoneEvent m_hDoneEvent;
  std::unique_ptr<DialogConversionUi> m_conversionUi;
  FileChooser m_chooseFile;
  WorkerProc m_workerProc;
  bool m_bExiting = false;
};
