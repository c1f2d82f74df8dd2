// The dialog's side of the batch driver: runs each of the worker's calls on the dialog's own
// thread and returns when it has taken effect, as a synchronous window message would.
#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <string>

#include "app/batch_driver.h"

class QAbstractButton;
class QListWidget;
class QWidget;

class DialogConversionUi final : public ConversionUi {
 public:
  // References only: the widgets belong to `window`, which must outlive this object and every
  // call in progress on it. Constructed on the widgets' (UI) thread.
  DialogConversionUi(QWidget& window, QListWidget& list, QAbstractButton& singleFile,
                     QAbstractButton& folder);

  // Worker thread only (a call from the UI thread itself would deadlock). Each blocks until
  // the UI thread has run it; after Close each returns at once without effect.
  void ResetContent() override;
  void InsertString(int index, const std::string& line) override;
  void DeleteString(int index) override;
  void EnableButtons() override;
  // A message box with `message`, one OK button, captioned with the application's name.
  void ShowMessage(const std::string& message, const std::string& cause) override;

  // UI thread: the window is closing; no call touches it any more. A call the worker had
  // already handed over still waits for the UI thread, which must therefore go on handling
  // events until the worker has ended (it then finds the adapter closed and does nothing).
  void Close() { m_closed.store(true); }

 private:
  void RunOnUiThread(const std::function<void()>& operation);

  QWidget& m_window;
  QListWidget& m_list;
  QAbstractButton& m_singleFile;
  QAbstractButton& m_folder;
  std::atomic<bool> m_closed{false};
};

// A line of the driver's (file-system bytes, as its paths are) as the list shows it.
QString ListLine(const std::string& line);
