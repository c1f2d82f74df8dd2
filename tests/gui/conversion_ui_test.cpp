// The dialog's interface for the worker: its calls carried out on the UI thread, the message
// box, and a closed window that calls no longer reach.
#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "app/gui/dialog_conversion_ui.h"
#include "convert/convert_raw_to_avi.h"
#include "tests/gui/dialog_testing.h"

using gui_testing::Lines;

namespace {

// Runs `calls` on a thread of its own, as the worker does.
class WorkerThread {
 public:
  explicit WorkerThread(std::function<void()> calls)
      : m_thread([this, calls = std::move(calls)] {
          calls();
          m_done.store(true);
        }) {}
  ~WorkerThread() { m_thread.join(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  bool Done() const { return m_done.load(); }

 private:
  std::atomic<bool> m_done{false};
  std::thread m_thread;
};

// Performs one step of a table's script: "+<index> <text>", "-<index>", "reset", "enable".
void Perform(ConversionUi& ui, const QString& step) {
  if (step == "reset") {
    ui.ResetContent();
  } else if (step == "enable") {
    ui.EnableButtons();
  } else if (step.startsWith('+')) {
    const qsizetype space = step.indexOf(' ');
    ui.InsertString(step.mid(1, space - 1).toInt(), step.mid(space + 1).toStdString());
  } else {
    ui.DeleteString(step.mid(1).toInt());
  }
}

}  // namespace

class ConversionUiTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void listAndButtonOperations_data();
  void listAndButtonOperations();
  void messageBoxHoldsTheWorkerUntilDismissed();
  void closedWindowIsNoLongerTouched();
  void callHandedOverBeforeClosingHasNoEffect();

 private:
  std::unique_ptr<QWidget> m_window;
  QListWidget* m_list = nullptr;
  QPushButton* m_singleFile = nullptr;
  QPushButton* m_folder = nullptr;
  std::unique_ptr<DialogConversionUi> m_ui;
};

void ConversionUiTest::init() {
  m_window = std::make_unique<QWidget>();
  m_list = new QListWidget(m_window.get());
  m_singleFile = new QPushButton(QStringLiteral("Single File"), m_window.get());
  m_folder = new QPushButton(QStringLiteral("Folder"), m_window.get());
  m_singleFile->setEnabled(false);
  m_folder->setEnabled(false);
  m_ui = std::make_unique<DialogConversionUi>(*m_window, *m_list, *m_singleFile, *m_folder);
  m_window->show();
}

void ConversionUiTest::cleanup() {
  m_ui.reset();
  m_window.reset();
}

void ConversionUiTest::listAndButtonOperations_data() {
  QTest::addColumn<QStringList>("before");
  QTest::addColumn<QStringList>("script");
  QTest::addColumn<QStringList>("after");
  QTest::addColumn<bool>("enabled");

  QTest::newRow("insertions at 0 stack up unsorted")
      << QStringList{} << QStringList{"+0 a", "+0 c", "+0 b"} << QStringList{"b", "c", "a"}
      << false;
  QTest::newRow("insertion at 1 goes under the first line")
      << QStringList{"banner", "old"} << QStringList{"+1 new"}
      << QStringList{"banner", "new", "old"} << false;
  QTest::newRow("a line replaced in place")
      << QStringList{"banner", "x converting", "y done"} << QStringList{"-1", "+1 x done"}
      << QStringList{"banner", "x done", "y done"} << false;
  QTest::newRow("reset empties the list")
      << QStringList{"a", "b"} << QStringList{"reset", "+0 banner"} << QStringList{"banner"}
      << false;
  QTest::newRow("buttons enabled")
      << QStringList{"a"} << QStringList{"enable"} << QStringList{"a"} << true;
}

void ConversionUiTest::listAndButtonOperations() {
  QFETCH(QStringList, before);
  QFETCH(QStringList, script);
  QFETCH(QStringList, after);
  QFETCH(bool, enabled);

  m_list->addItems(before);
  {
    WorkerThread worker([&] {
      for (const QString& step : script) Perform(*m_ui, step);
    });
    QTRY_VERIFY(worker.Done());
  }
  QCOMPARE(Lines(*m_list), after);
  QCOMPARE(m_singleFile->isEnabled(), enabled);
  QCOMPARE(m_folder->isEnabled(), enabled);
}

void ConversionUiTest::messageBoxHoldsTheWorkerUntilDismissed() {
  std::atomic<bool> returned{false};
  QString text;
  QString title;
  QList<QAbstractButton*> buttons;
  bool workerHeld = false;
  // The box runs its own event loop on this thread; look at it from in there.
  QTimer poll;
  connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    poll.stop();
    text = box->text();
    title = box->windowTitle();
    buttons = box->buttons();
    workerHeld = !returned.load();
    box->button(QMessageBox::Ok)->click();
  });
  poll.start(10);

  WorkerThread worker([&] {
    m_ui->ShowMessage(kStreamWriteErrorMessage, "disk full");
    returned.store(true);
  });
  QTRY_VERIFY(worker.Done());
  QCOMPARE(text, QStringLiteral("AVI StreamWrite Error!!"));
  QCOMPARE(title, QCoreApplication::applicationName());
  QCOMPARE(buttons.size(), 1);
  QVERIFY(workerHeld);
}

void ConversionUiTest::closedWindowIsNoLongerTouched() {
  m_list->addItems({"a", "b"});
  m_ui->Close();
  // This thread handles no events meanwhile: a call that waited for it would never return.
  std::promise<void> finished;
  std::thread worker([&] {
    m_ui->ResetContent();
    m_ui->InsertString(0, "late");
    m_ui->DeleteString(0);
    m_ui->EnableButtons();
    m_ui->ShowMessage(kStreamWriteErrorMessage, "disk full");
    finished.set_value();
  });
  std::future<void> done = finished.get_future();
  const bool returned = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  // Should a call wait for this thread after all, serve it, so that the worker can be joined.
  while (done.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    QCoreApplication::processEvents();
  }
  worker.join();
  QVERIFY(returned);
  QCOMPARE(Lines(*m_list), (QStringList{"a", "b"}));
  QVERIFY(!m_singleFile->isEnabled());
  QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void ConversionUiTest::callHandedOverBeforeClosingHasNoEffect() {
  WorkerThread worker([&] { m_ui->InsertString(0, "late"); });
  // Give the call time to reach this thread's queue; the outcome must be the same if it has
  // not yet: no effect, and the worker freed.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  m_ui->Close();
  QTRY_VERIFY(worker.Done());
  QCOMPARE(Lines(*m_list), QStringList{});
}

QTEST_MAIN(ConversionUiTest)
#include "conversion_ui_test.moc"
