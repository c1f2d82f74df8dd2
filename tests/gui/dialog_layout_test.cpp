// The dialog's look: caption, controls, their order and their sizes in dialog units for a
// known font; the open-file dialog; and the application object that runs it all.
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>
#include <cmath>

#include "app/gui/dialog_units.h"
#include "app/gui/raw_file_chooser.h"
#include "app/gui/rawtoavi_app.h"
#include "app/gui/rawtoavi_dlg.h"
#include "tests/gui/dialog_testing.h"
#include "tests/support/temp_dir.h"

namespace {

// The font the dialog's units are measured in; set as the application's font.
QFont TestFont() { return QFont(QStringLiteral("DejaVu Sans"), 8); }

// The dialog-unit rule, worked out here independently of the code under test.
QRect ExpectedPixels(const QRect& dialogUnits, const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const double baseX = (letters / 26 + 1) / 2;
  const double baseY = metrics.height();
  const auto scale = [](int units, double base, double per) {
    return static_cast<int>(std::lround(units * base / per));
  };
  return {scale(dialogUnits.x(), baseX, 4), scale(dialogUnits.y(), baseY, 8),
          scale(dialogUnits.width(), baseX, 4), scale(dialogUnits.height(), baseY, 8)};
}

}  // namespace

class DialogLayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void mulDivRoundsHalfUp_data();
  void mulDivRoundsHalfUp();
  void baseUnitsFollowTheFont_data();
  void baseUnitsFollowTheFont();
  void windowIsFixedCentredAndCaptioned();
  void controls_data();
  void controls();
  void tabOrderStartsAtFolder();
  void progressListScrollsAndKeepsItsOrder();
  void fileDialogPicksAnExistingRecording_data();
  void fileDialogPicksAnExistingRecording();
  void applicationIsNamedAfterTheExecutable();
  void runShowsTheDialogModallyUntilItCloses();
};

void DialogLayoutTest::initTestCase() {
  QCOMPARE(QFontInfo(TestFont()).family(), QStringLiteral("DejaVu Sans"));  // fonts-dejavu-core
  QApplication::setFont(TestFont());
}

void DialogLayoutTest::mulDivRoundsHalfUp_data() {
  QTest::addColumn<int>("number");
  QTest::addColumn<int>("numerator");
  QTest::addColumn<int>("denominator");
  QTest::addColumn<int>("expected");

  QTest::newRow("exact") << 400 << 6 << 4 << 600;
  QTest::newRow("half rounds up") << 403 << 6 << 4 << 605;
  QTest::newRow("below half rounds down") << 7 << 13 << 8 << 11;   // 11.375
  QTest::newRow("above half rounds up") << 187 << 13 << 8 << 304;  // 303.875
  QTest::newRow("zero") << 0 << 7 << 4 << 0;
  QTest::newRow("no overflow in the product") << 2000000000 << 3 << 4 << 1500000000;
}

void DialogLayoutTest::mulDivRoundsHalfUp() {
  QFETCH(int, number);
  QFETCH(int, numerator);
  QFETCH(int, denominator);
  QFETCH(int, expected);
  QCOMPARE(MulDiv(number, numerator, denominator), expected);
}

void DialogLayoutTest::baseUnitsFollowTheFont_data() {
  QTest::addColumn<QFont>("font");
  QTest::newRow("DejaVu Sans 8") << TestFont();
  QTest::newRow("DejaVu Sans 14") << QFont(QStringLiteral("DejaVu Sans"), 14);
  QTest::newRow("DejaVu Serif 10") << QFont(QStringLiteral("DejaVu Serif"), 10);
}

void DialogLayoutTest::baseUnitsFollowTheFont() {
  QFETCH(QFont, font);
  const DialogBaseUnits base = DialogBaseUnitsOf(font);
  // Four horizontal and eight vertical units make one base unit.
  const QRect expected = ExpectedPixels({0, 0, 4, 8}, font);
  QCOMPARE(base.x, expected.width());
  QCOMPARE(base.y, expected.height());
  QVERIFY(base.x > 0 && base.y > base.x);
}

void DialogLayoutTest::windowIsFixedCentredAndCaptioned() {
  CRawToAviDlg dialog;
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));

  QCOMPARE(dialog.windowTitle(), QStringLiteral("Tarnwick v1.00.00"));
  const QSize size = ExpectedPixels({0, 0, 403, 201}, TestFont()).size();
  QCOMPARE(dialog.size(), size);
  QCOMPARE(dialog.minimumSize(), size);
  QCOMPARE(dialog.maximumSize(), size);
  const QPoint offCentre =
      dialog.frameGeometry().center() - dialog.screen()->availableGeometry().center();
  QVERIFY2(offCentre.manhattanLength() <= 1,
           qPrintable(QString("%1, %2").arg(offCentre.x()).arg(offCentre.y())));

  const Qt::WindowFlags flags = dialog.windowFlags();
  // A normal top-level window has a taskbar entry.
  QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);
  QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
  QVERIFY(flags.testFlag(Qt::WindowTitleHint));
  QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
  QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
  QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
  QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
  QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
  QCOMPARE(dialog.windowIcon().availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
}

void DialogLayoutTest::controls_data() {
  QTest::addColumn<int>("id");
  QTest::addColumn<QString>("className");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QRect>("dialogUnits");
  QTest::addColumn<bool>("isDefault");

  QTest::newRow("Folder") << 1 << "QPushButton"
                          << "Folder" << QRect(346, 159, 50, 16) << false;
  QTest::newRow("Exit") << 2 << "QPushButton"
                        << "Exit" << QRect(346, 178, 50, 16) << false;
  QTest::newRow("Progress") << 1000 << "QListWidget"
                            << "" << QRect(7, 7, 329, 187) << false;
  QTest::newRow("SingleFile") << 1001 << "QPushButton"
                              << "Single File" << QRect(346, 140, 50, 14) << true;
}

void DialogLayoutTest::controls() {
  QFETCH(int, id);
  QFETCH(QString, className);
  QFETCH(QString, caption);
  QFETCH(QRect, dialogUnits);
  QFETCH(bool, isDefault);

  CRawToAviDlg dialog;
  const auto* control = dialog.findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
  QVERIFY(control);
  QCOMPARE(control->property("controlId").toInt(), id);
  QCOMPARE(QString::fromLatin1(control->metaObject()->className()), className);
  QCOMPARE(control->geometry(), ExpectedPixels(dialogUnits, TestFont()));
  QVERIFY(control->isEnabled());
  if (const auto* button = qobject_cast<const QPushButton*>(control)) {
    QCOMPARE(button->text(), caption);
    QCOMPARE(button->isDefault(), isDefault);
  }
}

void DialogLayoutTest::tabOrderStartsAtFolder() {
  CRawToAviDlg dialog;
  dialog.show();
  QVERIFY(QTest::qWaitForWindowActive(&dialog));
  const gui_testing::DialogControls controls = gui_testing::ControlsOf(dialog);
  const QList<QWidget*> order{controls.folder, controls.exit, controls.progress,
                              controls.singleFile, controls.folder};
  QCOMPARE(QApplication::focusWidget(), order.first());
  for (qsizetype i = 1; i < order.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), order[i]);
  }
}

void DialogLayoutTest::progressListScrollsAndKeepsItsOrder() {
  CRawToAviDlg dialog;
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  QListWidget* list = gui_testing::ControlsOf(dialog).progress;
  QVERIFY(!list->isSortingEnabled());
  QVERIFY(!list->verticalScrollBar()->isVisible());
  for (int i = 0; i < 40; ++i) list->insertItem(0, QString::number(i));
  QTRY_VERIFY(list->verticalScrollBar()->isVisible());
  QCOMPARE(list->item(0)->text(), QStringLiteral("39"));
  QCOMPARE(list->item(39)->text(), QStringLiteral("0"));
}

void DialogLayoutTest::fileDialogPicksAnExistingRecording_data() {
  QTest::addColumn<QString>("existing");
  QTest::addColumn<QString>("typed");  // empty: cancel
  QTest::addColumn<QString>("chosen");

  QTest::newRow("a recording") << "clip.raw"
                               << "clip.raw"
                               << "clip.raw";
  QTest::newRow("default suffix") << "clip.RAW"
                                  << "clip"
                                  << "clip.RAW";
  QTest::newRow("cancelled") << "clip.raw"
                             << ""
                             << "";
}

void DialogLayoutTest::fileDialogPicksAnExistingRecording() {
  QFETCH(QString, existing);
  QFETCH(QString, typed);
  QFETCH(QString, chosen);

  testing_support::TempDir dir;
  const QString folder = QString::fromStdString(dir.Path().string());
  gui_testing::WriteRecording(folder + '/' + existing);

  QStringList nameFilters;
  QString selectedFilter, initialName, defaultSuffix;
  QFileDialog::FileMode fileMode{};
  QFileDialog::AcceptMode acceptMode{};
  // The dialog runs its own event loop on this thread; answer it from in there.
  QTimer poll;
  connect(&poll, &QTimer::timeout, [&] {
    auto* fileDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!fileDialog || !fileDialog->isVisible()) return;
    poll.stop();
    nameFilters = fileDialog->nameFilters();
    selectedFilter = fileDialog->selectedNameFilter();
    defaultSuffix = fileDialog->defaultSuffix();
    fileMode = fileDialog->fileMode();
    acceptMode = fileDialog->acceptMode();
    auto* nameEdit = fileDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    initialName = nameEdit ? nameEdit->text() : QString();
    if (typed.isEmpty() || !nameEdit) {
      fileDialog->reject();
      return;
    }
    fileDialog->setDirectory(folder);
    nameEdit->setText(typed);
    QMetaObject::invokeMethod(fileDialog, "accept");  // as the Open button does
  });
  poll.start(10);

  const QString result = ChooseRawFile(nullptr);
  QCOMPARE(nameFilters,
           (QStringList{QStringLiteral("RAW Files (*.raw)"), QStringLiteral("All Files (*.*)")}));
  QCOMPARE(selectedFilter, QStringLiteral("RAW Files (*.raw)"));
  QCOMPARE(initialName, QStringLiteral("*.raw"));
  QCOMPARE(defaultSuffix, QStringLiteral("RAW"));
  QCOMPARE(fileMode, QFileDialog::ExistingFile);
  QCOMPARE(acceptMode, QFileDialog::AcceptOpen);
  QCOMPARE(result, chosen.isEmpty() ? QString() : folder + '/' + chosen);
}

void DialogLayoutTest::applicationIsNamedAfterTheExecutable() {
  QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("gui_layout_tests"));
  QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.0.0.1"));
  const QIcon icon = QApplication::windowIcon();
  QCOMPARE(icon.availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
  for (const int size : {16, 32, 48}) {
    QCOMPARE(icon.pixmap(size).size(), QSize(size, size));
  }
}

void DialogLayoutTest::runShowsTheDialogModallyUntilItCloses() {
  bool modal = false;
  QTimer poll;
  connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<CRawToAviDlg*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    poll.stop();
    modal = dialog->windowModality() == Qt::ApplicationModal;
    gui_testing::ControlsOf(*dialog).exit->click();
  });
  poll.start(10);

  QCOMPARE(static_cast<CRawToAviApp*>(qApp)->Run(), 0);
  QVERIFY(modal);
}

int main(int argc, char** argv) {
  CRawToAviApp app(argc, argv);
  DialogLayoutTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "dialog_layout_test.moc"
