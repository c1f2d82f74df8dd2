// The dialog converting: its list and buttons while the worker runs and afterwards, a
// cancelled choice, and closing, idle and in the middle of a conversion.
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "app/batch_driver.h"
#include "app/gui/rawtoavi_dlg.h"
#include "tests/gui/dialog_testing.h"
#include "tests/gui/worker_gate.h"
#include "tests/support/temp_dir.h"

using gui_testing::AviFiles;
using gui_testing::AviSampleCount;
using gui_testing::DialogControls;
using gui_testing::InFolder;
using gui_testing::Lines;
using gui_testing::TemporaryFiles;
using gui_testing::WorkerGate;

Q_DECLARE_METATYPE(WorkerGate::Release)

namespace {

constexpr int kRunTimeoutMs = 30000;
const QString kBanner = QString::fromLatin1(kBannerLine);

QString FolderOf(const testing_support::TempDir& dir) {
  return QString::fromStdString(dir.Path().string());
}

// A shown dialog whose file dialog answers with `*choice` (empty: cancel).
std::unique_ptr<CRawToAviDlg> ShownDialog(const QString* choice) {
  auto dialog = std::make_unique<CRawToAviDlg>();
  dialog->SetFileChooser([choice](QWidget*) { return *choice; });
  dialog->show();
  return dialog;
}

void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

}  // namespace

class DialogRunTest : public QObject {
  Q_OBJECT

 private slots:
  void runListsProgressThenResults_data();
  void runListsProgressThenResults();
  void cancelledChoiceChangesOnlyTheMode_data();
  void cancelledChoiceChangesOnlyTheMode();
  void closingWhileIdleIsImmediate_data();
  void closingWhileIdleIsImmediate();
  void exitDuringConversion_data();
  void exitDuringConversion();
};

void DialogRunTest::runListsProgressThenResults_data() {
  QTest::addColumn<bool>("singleFile");
  QTest::addColumn<QStringList>("recordings");
  QTest::addColumn<QString>("chosen");
  // In the lines, %1 stands for the folder.
  QTest::addColumn<QString>("ownLine");
  QTest::addColumn<QStringList>("whileConverting");
  QTest::addColumn<QStringList>("finalLines");
  QTest::addColumn<QStringList>("outputs");

  QTest::newRow("Single File") << true << QStringList{"clip.raw", "other.raw"}
                               << QString("clip.raw") << QString("Converting RAW to AVI file ... ")
                               << QStringList{kBanner, "%1/clip.avi has been converting ..."}
                               << QStringList{kBanner, "%1/clip.avi has been converted!"}
                               << QStringList{"clip.avi"};
  QTest::newRow("Folder") << false << QStringList{"a.raw", "b.raw", "c.raw"} << QString("b.raw")
                          << QString("%1/ is converted ...")
                          << QStringList{kBanner, "%1/a.avi has been converting ..."}
                          << QStringList{kBanner, "%1/c.avi has been converted!",
                                         "%1/b.avi has been converted!",
                                         "%1/a.avi has been converted!"}
                          << QStringList{"a.avi", "b.avi", "c.avi"};
}

void DialogRunTest::runListsProgressThenResults() {
  QFETCH(bool, singleFile);
  QFETCH(QStringList, recordings);
  QFETCH(QString, chosen);
  QFETCH(QString, ownLine);
  QFETCH(QStringList, whileConverting);
  QFETCH(QStringList, finalLines);
  QFETCH(QStringList, outputs);

  testing_support::TempDir dir;
  const QString folder = FolderOf(dir);
  for (const QString& name : recordings) gui_testing::WriteRecording(folder + '/' + name);
  const QString currentPath = QDir::currentPath();
  const QString choice = folder + '/' + chosen;
  WorkerGate gate;
  const auto dialog = ShownDialog(&choice);
  dialog->SetWorkerProc(gate.Proc());
  const DialogControls controls = gui_testing::ControlsOf(*dialog);

  Click(singleFile ? controls.singleFile : controls.folder);
  QTRY_VERIFY(gate.Reached(WorkerGate::kStart));
  QCOMPARE(dialog->IsSingleFile(), singleFile);
  QCOMPARE(dialog->PathName(), choice);
  QCOMPARE(Lines(*controls.progress), QStringList{InFolder({ownLine}, folder)});
  QVERIFY(!controls.singleFile->isEnabled());
  QVERIFY(!controls.folder->isEnabled());
  QVERIFY(controls.exit->isEnabled());

  gate.Open(WorkerGate::kStart);
  QTRY_VERIFY(gate.Reached(WorkerGate::kConverting));
  QCOMPARE(Lines(*controls.progress), InFolder(whileConverting, folder));
  QVERIFY(!controls.singleFile->isEnabled());
  QVERIFY(!controls.folder->isEnabled());
  QCOMPARE(TemporaryFiles(folder).size(), 1);
  QCOMPARE(AviFiles(folder), QStringList{});

  gate.Open(WorkerGate::kConverting);
  // "Folder" is enabled last, by the worker's last call.
  QTRY_VERIFY_WITH_TIMEOUT(controls.folder->isEnabled(), kRunTimeoutMs);
  QVERIFY(controls.singleFile->isEnabled());
  QCOMPARE(Lines(*controls.progress), InFolder(finalLines, folder));
  QCOMPARE(AviFiles(folder), outputs);
  for (const QString& name : outputs) {
    QCOMPARE(AviSampleCount(folder + '/' + name), gui_testing::kRecordingFrames);
  }
  QCOMPARE(TemporaryFiles(folder), QStringList{});
  QCOMPARE(QDir::currentPath(), currentPath);
}

void DialogRunTest::cancelledChoiceChangesOnlyTheMode_data() {
  QTest::addColumn<bool>("runSingleFile");
  QTest::addColumn<bool>("cancelSingleFile");

  QTest::newRow("Folder cancelled after a Single File run") << true << false;
  QTest::newRow("Single File cancelled after a Folder run") << false << true;
}

void DialogRunTest::cancelledChoiceChangesOnlyTheMode() {
  QFETCH(bool, runSingleFile);
  QFETCH(bool, cancelSingleFile);

  testing_support::TempDir dir;
  const QString folder = FolderOf(dir);
  gui_testing::WriteRecording(folder + "/clip.raw");
  QString choice = folder + "/clip.raw";
  const auto dialog = ShownDialog(&choice);
  const DialogControls controls = gui_testing::ControlsOf(*dialog);
  Click(runSingleFile ? controls.singleFile : controls.folder);
  QTRY_VERIFY_WITH_TIMEOUT(controls.folder->isEnabled(), kRunTimeoutMs);
  const QStringList lines = Lines(*controls.progress);
  QCOMPARE(lines.size(), 2);

  choice.clear();
  Click(cancelSingleFile ? controls.singleFile : controls.folder);
  QCOMPARE(dialog->IsSingleFile(), cancelSingleFile);
  // A started request would have disabled the buttons before returning.
  QVERIFY(controls.singleFile->isEnabled());
  QVERIFY(controls.folder->isEnabled());
  QCOMPARE(dialog->PathName(), folder + "/clip.raw");
  QCOMPARE(Lines(*controls.progress), lines);
  QVERIFY(dialog->isVisible());
}

void DialogRunTest::closingWhileIdleIsImmediate_data() {
  QTest::addColumn<QString>("how");
  QTest::addColumn<bool>("afterRun");

  QTest::newRow("Exit") << "Exit" << false;
  QTest::newRow("Escape") << "Escape" << false;
  QTest::newRow("close box") << "close" << false;
  QTest::newRow("Exit after a run") << "Exit" << true;
  QTest::newRow("close box after a run") << "close" << true;
}

void DialogRunTest::closingWhileIdleIsImmediate() {
  QFETCH(QString, how);
  QFETCH(bool, afterRun);

  testing_support::TempDir dir;
  const QString choice = FolderOf(dir) + "/clip.raw";
  gui_testing::WriteRecording(choice);
  const auto dialog = ShownDialog(&choice);
  const DialogControls controls = gui_testing::ControlsOf(*dialog);
  if (afterRun) {
    Click(controls.singleFile);
    QTRY_VERIFY_WITH_TIMEOUT(controls.folder->isEnabled(), kRunTimeoutMs);
  }

  QElapsedTimer timer;
  timer.start();
  if (how == "Exit") {
    Click(controls.exit);
  } else if (how == "Escape") {
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Escape);
  } else {
    dialog->close();  // as the window manager's close box does
  }
  QVERIFY(!dialog->isVisible());
  QCOMPARE(dialog->result(), int{QDialog::Rejected});
  QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
}

void DialogRunTest::exitDuringConversion_data() {
  QTest::addColumn<bool>("singleFile");
  QTest::addColumn<WorkerGate::Release>("release");
  QTest::addColumn<QStringList>("recordings");
  QTest::addColumn<QStringList>("linesAfter");
  QTest::addColumn<QStringList>("outputs");
  QTest::addColumn<int>("minMs");
  QTest::addColumn<int>("maxMs");

  constexpr int kWaitMs = int{std::chrono::milliseconds(CRawToAviDlg::kExitWait).count()};
  // Held until abandoned: the conversion outlasts the wait and is cut short, leaving nothing.
  // (A coarse timer may fire up to 5 % early.)
  QTest::newRow("Single File still converting after the wait")
      << true << WorkerGate::Release::kByTest << QStringList{"clip.raw"}
      << QStringList{kBanner, "%1/clip.avi has been converting ..."} << QStringList{}
      << kWaitMs * 95 / 100 << kWaitMs + 3000;
  // Held until Exit asks to stop: the file in hand is finished, the batch stops after it.
  QTest::newRow("Folder stops after the file in hand")
      << false << WorkerGate::Release::kOnStop << QStringList{"a.raw", "b.raw", "c.raw"}
      << QStringList{kBanner, "%1/a.avi has been converted!"} << QStringList{"a.avi"} << 0
      << kWaitMs / 2;
}

void DialogRunTest::exitDuringConversion() {
  QFETCH(bool, singleFile);
  QFETCH(WorkerGate::Release, release);
  QFETCH(QStringList, recordings);
  QFETCH(QStringList, linesAfter);
  QFETCH(QStringList, outputs);
  QFETCH(int, minMs);
  QFETCH(int, maxMs);

  testing_support::TempDir dir;
  const QString folder = FolderOf(dir);
  for (const QString& name : recordings) gui_testing::WriteRecording(folder + '/' + name);
  const QString choice = folder + '/' + recordings.first();
  WorkerGate gate(release);
  gate.Open(WorkerGate::kStart);
  const auto dialog = ShownDialog(&choice);
  dialog->SetWorkerProc(gate.Proc());
  const DialogControls controls = gui_testing::ControlsOf(*dialog);
  Click(singleFile ? controls.singleFile : controls.folder);
  QTRY_VERIFY(gate.Reached(WorkerGate::kConverting));
  QCOMPARE(TemporaryFiles(folder).size(), 1);

  QElapsedTimer timer;
  timer.start();
  Click(controls.exit);  // returns once the dialog has closed and the worker has ended
  const qint64 elapsed = timer.elapsed();
  QVERIFY(!dialog->isVisible());
  QCOMPARE(dialog->result(), int{QDialog::Rejected});
  QVERIFY2(elapsed >= minMs && elapsed < maxMs, qPrintable(QString::number(elapsed)));
  QCOMPARE(Lines(*controls.progress), InFolder(linesAfter, folder));
  QCOMPARE(AviFiles(folder), outputs);
  for (const QString& name : outputs) {
    QCOMPARE(AviSampleCount(folder + '/' + name), gui_testing::kRecordingFrames);
  }
  QCOMPARE(TemporaryFiles(folder), QStringList{});
}

QTEST_MAIN(DialogRunTest)
#include "dialog_run_test.moc"
