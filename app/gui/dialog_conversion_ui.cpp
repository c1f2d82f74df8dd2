#include "app/gui/dialog_conversion_ui.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QMetaObject>
#include <memory>

QString ListLine(const std::string& line) {
  return QFile::decodeName(QByteArray::fromStdString(line));
}

DialogConversionUi::DialogConversionUi(QWidget& window, QListWidget& list,
                                       QAbstractButton& singleFile, QAbstractButton& folder)
    : m_window(window), m_list(list), m_singleFile(singleFile), m_folder(folder) {}

void DialogConversionUi::RunOnUiThread(const std::function<void()>& operation) {
  if (m_closed.load()) return;
  // Checked again on the UI thread: the window may have closed while the call was queued.
  QMetaObject::invokeMethod(
      &m_window,
      [this, &operation] {
        if (!m_closed.load()) operation();
      },
      Qt::BlockingQueuedConnection);
}

void DialogConversionUi::ResetContent() {
  RunOnUiThread([this] { m_list.clear(); });
}

void DialogConversionUi::InsertString(int index, const std::string& line) {
  RunOnUiThread([this, index, &line] { m_list.insertItem(index, ListLine(line)); });
}

void DialogConversionUi::DeleteString(int index) {
  RunOnUiThread([this, index] { std::unique_ptr<QListWidgetItem> item(m_list.takeItem(index)); });
}

void DialogConversionUi::EnableButtons() {
  RunOnUiThread([this] {
    m_singleFile.setEnabled(true);
    m_folder.setEnabled(true);
  });
}

void DialogConversionUi::ShowMessage(const std::string& message, const std::string& cause) {
  (void)cause;  // the box shows the message alone
  RunOnUiThread([this, &message] {
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(),
                    QString::fromStdString(message), QMessageBox::Ok, &m_window);
    box.exec();
  });
}
