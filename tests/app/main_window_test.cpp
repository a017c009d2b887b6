#include "app/main_window.h"
#include "app/baseline_window.h"
#include "app/fit_window.h"
#include "app/last_resort.h"
#include "app/measure_window.h"
#include "layout_check.h"

#include <gtest/gtest.h>

#include <qpa/qwindowsysteminterface.h>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include <sys/stat.h>

#include "app/user_prompts.h"
#include "processing/delete_point.h"
#include "processing/measure.h"
#include "processing/point_transforms.h"
#include "processing/smoothing.h"
#include "scripted_prompts.h"
#include "test_util.h"
#include "view/colour.h"
#include "workspace/data_file_reader.h"
#include "workspace/error.h"
#include "workspace/number_text.h"
#include "workspace/palette.h"

namespace varnix {
namespace {

using test::readFile;
using test::ScriptedPrompts;
using test::writeFile;
using Axis = ChartView::Axis;

/// A named part of a dialog or tool window (their widgets are private).
template <typename T>
T* part(QObject* window, const char* name) {
  T* p = window->findChild<T*>(name);
  EXPECT_NE(p, nullptr) << name;
  return p;
}

QString samples() {
  return QString(VARNIX_SOURCE_DIR) + "/data/samples";
}

/// A main window on a temporary settings file, shown and active.
struct Fixture {
  QTemporaryDir dir;
  ScriptedPrompts prompts;
  std::unique_ptr<SettingsFile> settings;
  std::unique_ptr<MainWindow> window;

  explicit Fixture(QStringList args = {"varnix"}, const QString& ini = QString()) {
    const QString iniPath = dir.filePath("Varnix.ini");
    if (!ini.isEmpty()) writeFile(iniPath.toStdString(), ini.toStdString());
    settings = std::make_unique<SettingsFile>(iniPath.toStdString());
    window = std::make_unique<MainWindow>(prompts, *settings, args);
    window->resize(1000, 700);
    window->show();
    QApplication::setActiveWindow(window.get());
    (void)QTest::qWaitForWindowActive(window.get());
    window->graphList()->setFocus();
  }
  ~Fixture() {
    prompts.answers = {UserPrompts::Answer::Yes};
    window->close();
  }
  MainWindow& w() { return *window; }
  QListWidget* list() { return window->graphList(); }
  /// A key pressed and released in the graph list, the main window active
  /// (as it is again after a modal dialog closes).
  void key(int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QApplication::setActiveWindow(window.get());
    if (!list()->hasFocus()) list()->setFocus();
    QTest::keyClick(list(), static_cast<Qt::Key>(k), m);
  }
  void load(const QStringList& files) { window->addFiles(files); }
  void trigger(const QString& caption) {
    QAction* a = window->action(caption);
    ASSERT_NE(a, nullptr) << caption.toStdString();
    a->trigger();
  }
  /// Turns Follow files on with the given quiet time.
  void follow(int quietMs) {
    window->setSettleDelay(quietMs);
    trigger("Follow files");
  }
  /// Runs f once the next modal dialog is open.
  static void whenOpen(std::function<void()> f) { QTimer::singleShot(0, f); }
  std::string iniText() { return readFile(dir.filePath("Varnix.ini").toStdString()); }
};

TEST(MainWindowStart, CommandLineFileAndSettings) {
  Fixture f({"varnix", samples() + "/two_detectors.dat"}, "[Colors]\r\nGraphs=0x00FF00\r\n");
  ASSERT_EQ(f.list()->count(), 2);
  EXPECT_EQ(f.list()->item(0)->text(), "two_detectors.dat");
  EXPECT_EQ(f.list()->item(1)->text(), "1");
  EXPECT_EQ(f.w().store().graph(1).path, "1");
  EXPECT_EQ(f.w().information()->text(), "Varnix 0.1.0");  // not changed by the start file
  EXPECT_EQ(f.w().colours().graphs, 65280u);
  EXPECT_EQ(f.w().store().graph(0).colour, 65280u);
  const std::string ini = f.iniText();
  EXPECT_NE(ini.find("Graphs=65280"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Hlghtd graph=255"), std::string::npos) << ini;
  EXPECT_NE(ini.find("BackGround=0"), std::string::npos) << ini;
  EXPECT_FALSE(f.w().action("Undo")->isEnabled());
  EXPECT_TRUE(f.w().cursorsWindow()->isVisible());
}

TEST(MainWindowStart, MissingFileAndPathWithBlank) {
  Fixture missing({"varnix", "/no/such/file.dat"});
  ASSERT_EQ(missing.prompts.messages.size(), 1);
  EXPECT_EQ(missing.prompts.messages[0],
            "/no/such/file.dat doesn't exist.Use \" to wrap  long file names containing spaces");
  EXPECT_EQ(missing.list()->count(), 0);

  QTemporaryDir dir;
  const QString spaced = dir.filePath("with blank.dat");
  writeFile(spaced.toStdString(), "1 2\r\n2 3\r\n");
  Fixture quoted({"varnix", spaced});
  ASSERT_EQ(quoted.list()->count(), 1);
  EXPECT_EQ(quoted.list()->item(0)->text(), "with blank.dat");
}

TEST(MainWindowStart, GarbledSettingsGiveDefaults) {
  Fixture f({"varnix"}, "\x01\x02garbage\r\n[Colors\r\nGraphs=blue\r\n");
  EXPECT_EQ(f.w().colours(), ColourSettings{});
}

TEST(MainWindowExit, NoKeepsEverything) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  f.list()->item(0)->setSelected(true);
  f.prompts.answers = {UserPrompts::Answer::No};
  f.key(Qt::Key_Escape);
  EXPECT_EQ(f.prompts.asked.last(), "Exit now?");
  EXPECT_TRUE(f.w().isVisible());
  EXPECT_EQ(f.list()->count(), 1);
  EXPECT_TRUE(f.list()->item(0)->isSelected());
}

TEST(MainWindowExit, EscInAnAnalysisWindowClosesThatWindowOnly) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  const std::pair<const char*, QDialog*> windows[] = {{"Measure", f.w().measureWindow()},
                                                      {"Fit...", f.w().fitWindow()},
                                                      {"Baseline...", f.w().baselineWindow()},
                                                      {"Remove spikes...", f.w().despikeWindow()}};
  for (const auto& entry : windows) {
    // Named copies: clang 14 lets no lambda capture a structured binding.
    const char* command = entry.first;
    QDialog* window = entry.second;
    f.trigger(command);
    ASSERT_TRUE(window->isVisible()) << command;
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == window; })) << command;
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr) << command;
    EXPECT_EQ(focus->window(), window) << command;
    QTest::keyClick(focus, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible()) << command;
    EXPECT_TRUE(f.prompts.asked.isEmpty()) << command;
    EXPECT_TRUE(f.w().isVisible());
  }
  // In the main window Esc still asks.
  f.prompts.answers = {UserPrompts::Answer::No};
  f.key(Qt::Key_Escape);
  EXPECT_EQ(f.prompts.asked, QStringList{"Exit now?"});
}

TEST(Measuring, SaveDialogsStartInTheFolderOfTheData) {
  QTemporaryDir dir;
  const QString file = dir.filePath("a.dat");
  writeFile(file.toStdString(), "1 2\n2 3\n");
  Fixture f({"varnix", file});
  f.key(Qt::Key_G);
  part<QPushButton>(f.w().measureWindow(), "save")->click();
  f.trigger("Export picture...");
  ASSERT_EQ(f.prompts.presets.size(), 2);
  EXPECT_EQ(f.prompts.presets[0], QFileInfo(file).absolutePath());
  EXPECT_EQ(f.prompts.presets[1], QFileInfo(file).absolutePath() + "/varnix.png");
}

TEST(Measuring, GGivesTheMeasureWindowTheKeys) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  f.key(Qt::Key_G);
  MeasureWindow* m = f.w().measureWindow();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == m; }));
  QApplication::clipboard()->clear();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
  // The whole table, not the current cell alone.
  EXPECT_TRUE(QApplication::clipboard()->text().contains("\nGraph\ty at x1"))
      << QApplication::clipboard()->text().toStdString();
}

TEST(AddFiles, TwoFoldersAndAMultiColumnFile) {
  QTemporaryDir a, b;
  writeFile(a.filePath("one.dat").toStdString(), "1 10\r\n2 20\r\n");
  writeFile(b.filePath("wide.dat").toStdString(), "1 1 2 3\r\n2 2 3 4\r\n");
  writeFile(b.filePath("notes.txt").toStdString(), "1 2\r\n");
  Fixture f;
  f.whenOpen([&] {
    OpenFilesDialog* d = f.w().openFilesDialog();
    ASSERT_TRUE(d->setCurrentDirectory(a.path()));
    part<QListWidget>(d, "files")->selectAll();
    d->addSelected();
    ASSERT_TRUE(d->setCurrentDirectory(b.path()));
    EXPECT_EQ(part<QListWidget>(d, "files")->count(), 1);  // the mask shows *.dat only
    d->addAll();
    EXPECT_EQ(d->chosenNames(), (QStringList{"one.dat", "wide.dat"}));
    EXPECT_EQ(d->chosenPaths(), (QStringList{a.filePath("one.dat"), b.filePath("wide.dat")}));
    part<QPushButton>(d, "ok")->click();
  });
  f.trigger("Add Files");
  ASSERT_EQ(f.list()->count(), 4);
  EXPECT_EQ(f.list()->item(2)->text(), "1");
  EXPECT_EQ(f.list()->item(3)->text(), "2");
  EXPECT_EQ(f.w().information()->text(), " 4 files loaded. Press <R> to rescale");
  EXPECT_EQ(f.w().progressBar()->value(), 0);
  EXPECT_EQ(f.w().chart()->seriesCount(), 4);
  EXPECT_EQ(f.w().chart()->seriesPointCount(3), 2);
  // OK remembered the folder.
  EXPECT_EQ(f.settings->readString("Directories", "Last", ""), b.path().toStdString());

  // Cancel changes nothing, not even the information line.
  f.whenOpen([&] { part<QPushButton>(f.w().openFilesDialog(), "cancel")->click(); });
  f.trigger("Add Files");
  EXPECT_EQ(f.list()->count(), 4);
  EXPECT_EQ(f.w().information()->text(), " 4 files loaded. Press <R> to rescale");
}

TEST(AddFiles, PreviewAndRemoveInTheOpenDialog) {
  QTemporaryDir a;
  writeFile(a.filePath("bad.dat").toStdString(), "1 2\r\n2 x\r\n");
  writeFile(a.filePath("single.dat").toStdString(), "5.5\r\n6.5\r\n7.5\r\n");
  Fixture f;
  f.whenOpen([&] {
    OpenFilesDialog* d = f.w().openFilesDialog();
    ASSERT_TRUE(d->setCurrentDirectory(a.path()));
    part<QCheckBox>(d, "preview")->setChecked(true);
    part<QListWidget>(d, "files")->setCurrentRow(0);  // bad.dat
    d->preview();
    EXPECT_EQ(d->previewWindow()->windowTitle(), "Invalid Data");
    EXPECT_EQ(d->previewWindow()->pointCount(), 1);
    part<QListWidget>(d, "files")->setCurrentRow(1);  // single.dat: plotted against 0, 1, 2
    d->preview();
    EXPECT_EQ(d->previewWindow()->windowTitle(), "single.dat");
    EXPECT_EQ(d->previewWindow()->pointCount(), 3);
    d->addAll();
    d->addAll();  // a file added twice is listed twice
    EXPECT_EQ(d->chosenNames().size(), 4);
    part<QListWidget>(d, "chosen")->item(1)->setSelected(true);
    part<QListWidget>(d, "chosen")->item(2)->setSelected(true);
    part<QListWidget>(d, "chosen")->setFocus();
    QTest::keyClick(part<QListWidget>(d, "chosen"), Qt::Key_Delete);
    EXPECT_EQ(d->chosenNames(), (QStringList{"bad.dat", "single.dat"}));
    EXPECT_EQ(d->fullPath("x.dat"), a.path() + "/x.dat");
    part<QPushButton>(d, "ok")->click();
  });
  f.trigger("Add Files");
  ASSERT_EQ(f.list()->count(), 2);
  EXPECT_EQ(f.prompts.messages.size(), 1);  // the bad value in bad.dat
  EXPECT_FALSE(f.w().openFilesDialog()->previewWindow()->isVisible());
}

TEST(GraphList, DeleteRenameSaveUndo) {
  QTemporaryDir dir;
  QStringList files;
  for (int i = 0; i < 4; ++i) {
    files << dir.filePath(QString("g%1.dat").arg(i));
    writeFile(files.last().toStdString(), "1 " + std::to_string(i + 1) + "\r\n2 5\r\n");
  }
  Fixture f;
  f.load(files);
  // Delete from list with rows 1, 2 and 3 selected and the focus on row 2.
  f.list()->setCurrentRow(2, QItemSelectionModel::NoUpdate);
  for (int r : {1, 2, 3}) f.list()->item(r)->setSelected(true);
  f.trigger("popup:Delete from list");
  ASSERT_EQ(f.list()->count(), 3);
  EXPECT_EQ(f.w().information()->text(), " g2.dat deleted from memory");
  EXPECT_EQ(f.w().store().graph(2).name, "g3.dat");
  EXPECT_EQ(f.w().chart()->seriesCount(), 3);

  // Rename then Save writes the new path; the old file stays.
  f.list()->setCurrentRow(0);
  f.whenOpen([&] {
    part<QLineEdit>(f.w().renameDialog(), "newName")->setText("renamed.dat");
    part<QPushButton>(f.w().renameDialog(), "ok")->click();
  });
  f.key(Qt::Key_F6);
  EXPECT_EQ(f.list()->item(0)->text(), "renamed.dat");
  f.key(Qt::Key_F2);
  EXPECT_EQ(readFile(dir.filePath("renamed.dat").toStdString()), "1 1\r\n2 5\r\n");
  EXPECT_EQ(readFile(files[0].toStdString()), "1 1\r\n2 5\r\n");

  // Normalize then Undo restores the graphs and selects their rows.
  f.list()->clearSelection();
  f.list()->item(0)->setSelected(true);
  f.list()->item(1)->setSelected(true);
  f.key(Qt::Key_N);
  EXPECT_TRUE(f.w().action("Undo")->isEnabled());
  EXPECT_EQ(f.w().store().series(0).y(1), 5);  // scaled to the overall largest y (5)
  f.list()->clearSelection();
  f.key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(f.w().store().series(0).y(0), 1);
  EXPECT_TRUE(f.list()->item(0)->isSelected());
  EXPECT_TRUE(f.list()->item(1)->isSelected());
  EXPECT_FALSE(f.list()->item(2)->isSelected());
  EXPECT_FALSE(f.w().action("Undo")->isEnabled());

  // Delete All asks first.
  f.prompts.answers = {UserPrompts::Answer::No};
  f.key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(f.list()->count(), 3);
  f.key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(f.list()->count(), 0);
  EXPECT_EQ(f.w().information()->text(), "No Data loaded");
}

TEST(GraphList, DeletingAMiddleGraphDrawsTheLaterOnesInItsPlace) {
  QTemporaryDir dir;
  QStringList files;
  // a, b and c with 2, 3 and 4 points.
  for (int g = 0; g < 3; ++g) {
    files << dir.filePath(QString("%1.dat").arg(QChar('a' + g)));
    std::string text;
    for (int k = 0; k < g + 2; ++k)
      text += std::to_string(k) + " " + std::to_string(10 * g + k) + "\r\n";
    writeFile(files.last().toStdString(), text);
  }
  Fixture f;
  f.load(files);
  f.trigger("Distinct colours and legend");
  ChartView* c = f.w().chart();
  EXPECT_EQ(c->seriesPointCount(1), 3);
  f.list()->clearSelection();
  f.list()->setCurrentRow(1, QItemSelectionModel::NoUpdate);
  f.list()->item(1)->setSelected(true);
  f.trigger("popup:Delete from list");
  ASSERT_EQ(c->seriesCount(), 2);
  ASSERT_EQ(f.w().store().count(), 2u);
  EXPECT_EQ(f.w().store().graph(1).name, "c.dat");
  EXPECT_EQ(c->seriesPointCount(0), 2);
  EXPECT_EQ(c->seriesPointCount(1), 4);  // c, now in slot 1
  // The palette follows the rows.
  EXPECT_EQ(c->seriesPenColour(0), toQColor(distinctColour(0, false)));
  EXPECT_EQ(c->seriesPenColour(1), toQColor(distinctColour(1, false)));
  // The automatic axes span a and c.
  c->redraw();
  EXPECT_EQ(c->axisMin(Axis::Left), 0);
  EXPECT_EQ(c->axisMax(Axis::Left), 23);
  EXPECT_EQ(c->axisMax(Axis::Bottom), 3);
  // The legend names a and c.
  f.prompts.files = {dir.filePath("p.svg")};
  f.trigger("Export picture...");
  const std::string svg = readFile(dir.filePath("p.svg").toStdString());
  EXPECT_NE(svg.find("a.dat"), std::string::npos);
  EXPECT_EQ(svg.find("b.dat"), std::string::npos);
  EXPECT_NE(svg.find("c.dat"), std::string::npos);
}

TEST(GraphList, HighlightAndComment) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  f.load({samples() + "/T020K.dat"});
  const QPoint at = f.list()->visualItemRect(f.list()->item(1)).center();
  QTest::mouseClick(f.list()->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(f.w().information()->text(),
            " 1 files loaded. Press <R> to rescale");  // a click selects only
  QTest::mouseDClick(f.list()->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(f.w().information()->text(), "T020K.dat highlighted");
  EXPECT_EQ(f.w().store().graph(1).colour, 255u);
  f.whenOpen([&] {
    EXPECT_EQ(f.w().commentDialog()->windowTitle(), " Comment for T020K.dat");
    part<QPlainTextEdit>(f.w().commentDialog(), "text")->setPlainText("\"new comment\nSecond");
    part<QPushButton>(f.w().commentDialog(), "ok")->click();
  });
  f.key(Qt::Key_Return);
  EXPECT_EQ(f.w().store().graph(1).comments, (std::vector<std::string>{"\"new comment", "Second"}));
}

TEST(Cursors, KeysMoveTheLines) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  for (int i = 0; i < 3; ++i) f.key(Qt::Key_Right, Qt::ControlModifier);
  f.key(Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(f.w().firstCursorColumn(), 30);
  EXPECT_EQ(f.w().secondCursorColumn(), 1);
  const double a = f.w().chart()->xAtColumn(30), b = f.w().chart()->xAtColumn(1);
  EXPECT_EQ(part<QLabel>(f.w().cursorsWindow(), "dx")->text().toStdString(),
            "dx=" + formatDataNumber(a - b, 5));
  EXPECT_EQ(part<QLabel>(f.w().cursorsWindow(), "x2")->text().toStdString(),
            formatDataNumber(a, 7));
  EXPECT_EQ(part<QLabel>(f.w().cursorsWindow(), "x1")->text().toStdString(),
            formatDataNumber(b, 7));
  f.key(Qt::Key_Left);
  EXPECT_EQ(f.w().firstCursorColumn(), 29);
  EXPECT_EQ(part<QLabel>(f.w().cursorsWindow(), "dx")->text().toStdString(),
            "dx=" + formatDataNumber(f.w().chart()->xAtColumn(29) - b, 7));
  // Alt: nothing moves and the list keeps its row.
  f.load({samples() + "/T020K.dat"});
  f.list()->setCurrentRow(1);
  f.key(Qt::Key_Left, Qt::AltModifier);
  EXPECT_EQ(f.w().firstCursorColumn(), 29);
  EXPECT_EQ(f.list()->currentRow(), 1);
  f.key(Qt::Key_Left, Qt::ShiftModifier | Qt::ControlModifier);
  EXPECT_EQ(f.w().secondCursorColumn(), -9);
  // Hidden cursors: the arrows belong to the list, Zoom between cursors does nothing.
  part<QPushButton>(f.w().cursorsWindow(), "hide")->click();
  EXPECT_FALSE(f.w().cursorsShown());
  const double before = f.w().chart()->axisMin(Axis::Bottom);
  f.key(Qt::Key_W);
  EXPECT_EQ(f.w().chart()->axisMin(Axis::Bottom), before);
  f.list()->setCurrentRow(0);
  f.key(Qt::Key_Down);  // the list moves as usual
  EXPECT_EQ(f.list()->currentRow(), 1);
  f.key(Qt::Key_Right);
  EXPECT_EQ(f.w().firstCursorColumn(), 29);
  f.trigger("Show Cursors");
  EXPECT_TRUE(f.w().cursorsWindow()->isVisible());
  // A view wider than the largest numbers: the readouts say so.
  ChartView* c = f.w().chart();
  c->setAxisAutomatic(Axis::Bottom, false);
  c->setAxisMax(Axis::Bottom, 1.7e308);
  c->setAxisMin(Axis::Bottom, -1.7e308);
  f.key(Qt::Key_Right);
  for (const char* label : {"x1", "x2"})
    EXPECT_EQ(part<QLabel>(f.w().cursorsWindow(), label)->text(), "overflow") << label;
  EXPECT_EQ(part<QLabel>(f.w().cursorsWindow(), "dx")->text(), "dx=overflow");
}

TEST(ViewCommands, ZoomArithmeticAndRefusals) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  ChartView* c = f.w().chart();
  auto setLeft = [&](double lo, double hi) {
    c->setAxisAutomatic(Axis::Left, false);
    c->setAxisMin(Axis::Left, std::min(lo, c->axisMin(Axis::Left)));
    c->setAxisMax(Axis::Left, hi);
    c->setAxisMin(Axis::Left, lo);
  };
  setLeft(0, 100);
  f.key(Qt::Key_Z);
  EXPECT_DOUBLE_EQ(c->axisMin(Axis::Left), -11);
  EXPECT_DOUBLE_EQ(c->axisMax(Axis::Left), 110);
  setLeft(0, 100);
  f.key(Qt::Key_X);
  EXPECT_DOUBLE_EQ(c->axisMin(Axis::Left), 9);
  EXPECT_DOUBLE_EQ(c->axisMax(Axis::Left), 90);
  f.key(Qt::Key_Plus, Qt::KeypadModifier);  // keypad + is Zoom In too
  EXPECT_DOUBLE_EQ(c->axisMax(Axis::Left), 90 - 81 * 0.1);
  setLeft(0, 100);
  f.key(Qt::Key_PageUp);
  EXPECT_EQ(c->axisMax(Axis::Left), 50);
  f.key(Qt::Key_PageDown);
  EXPECT_EQ(c->axisMax(Axis::Left), 75);
  EXPECT_FALSE(c->axisAutomatic(Axis::Left));

  // Log Scale twice: linear again, 0 to the previous maximum, not automatic.
  f.trigger("Log Scale");
  EXPECT_TRUE(c->axisLogarithmic(Axis::Left));
  EXPECT_EQ(f.w().action("Log Scale")->text(), "Linear Scale");
  f.w().action("Log Scale")->trigger();
  EXPECT_FALSE(c->axisLogarithmic(Axis::Left));
  EXPECT_EQ(c->axisMin(Axis::Left), 0);
  EXPECT_EQ(c->axisMax(Axis::Left), 75);
  EXPECT_EQ(f.w().action("Log Scale")->text(), "Log Scale");

  // Log Scale with a maximum below 0: refused, caption already switched.
  setLeft(-10, -5);
  f.trigger("Log Scale");
  ASSERT_EQ(f.prompts.errors.size(), 1);
  EXPECT_EQ(f.prompts.errors[0], "Axis Minimum Value must be <= Maximum.");
  EXPECT_EQ(f.w().action("Log Scale")->text(), "Linear Scale");
  EXPECT_FALSE(c->axisLogarithmic(Axis::Left));

  // Zoom between cursors right of the plot area: refused by the chart.
  const int right = c->width() + 50;
  for (int i = 0; i < right / 10; ++i) f.key(Qt::Key_Right, Qt::ControlModifier);
  for (int i = 0; i < right / 10 + 3; ++i)
    f.key(Qt::Key_Right, Qt::ShiftModifier | Qt::ControlModifier);
  f.key(Qt::Key_W);
  ASSERT_EQ(f.prompts.errors.size(), 2);
  EXPECT_EQ(f.prompts.errors[1], "Axis Minimum Value must be <= Maximum.");
  EXPECT_FALSE(c->axisAutomatic(Axis::Bottom));

  // Rescale fits both axes again.
  f.key(Qt::Key_R);
  EXPECT_TRUE(c->axisAutomatic(Axis::Bottom));
  EXPECT_TRUE(c->axisAutomatic(Axis::Left));
  EXPECT_DOUBLE_EQ(c->axisMin(Axis::Bottom), 1.2);
  EXPECT_DOUBLE_EQ(c->axisMax(Axis::Bottom), 3.2);
}

TEST(ViewCommands, MouseZoomAndUndoZoom) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  ChartView* c = f.w().chart();
  const QRect r = c->plotRect();
  QWidget* plot = c->findChild<QWidget*>();
  ASSERT_NE(plot, nullptr);
  const QPoint a = r.topLeft() + QPoint(20, 20), b = r.topLeft() + QPoint(120, 90);
  const double x0 = c->xAtColumn(a.x()), x1 = c->xAtColumn(b.x());
  QTest::mousePress(plot, Qt::LeftButton, {}, a);
  QTest::mouseMove(plot, b);
  QTest::mouseRelease(plot, Qt::LeftButton, {}, b);
  EXPECT_DOUBLE_EQ(c->axisMin(Axis::Bottom), x0);
  EXPECT_DOUBLE_EQ(c->axisMax(Axis::Bottom), x1);
  EXPECT_FALSE(c->axisAutomatic(Axis::Left));
  // A drag towards the upper left undoes the zoom.
  QTest::mousePress(plot, Qt::LeftButton, {}, b);
  QTest::mouseRelease(plot, Qt::LeftButton, {}, a);
  EXPECT_TRUE(c->axisAutomatic(Axis::Bottom));
  EXPECT_DOUBLE_EQ(c->axisMin(Axis::Bottom), 1.2);
  // Zoomed from a range the user set, the undo brings that range back.
  c->setAxisAutomatic(Axis::Bottom, false);
  c->setAxisAutomatic(Axis::Left, false);
  c->setAxisMin(Axis::Bottom, 1.5);
  c->setAxisMax(Axis::Bottom, 2.5);
  c->setAxisMin(Axis::Left, 0);
  c->setAxisMax(Axis::Left, 500);
  QTest::mousePress(plot, Qt::LeftButton, {}, a);
  QTest::mouseMove(plot, b);
  QTest::mouseRelease(plot, Qt::LeftButton, {}, b);
  EXPECT_NE(c->axisMax(Axis::Bottom), 2.5);
  QTest::mousePress(plot, Qt::LeftButton, {}, b);
  QTest::mouseRelease(plot, Qt::LeftButton, {}, a);
  EXPECT_FALSE(c->axisAutomatic(Axis::Bottom));
  EXPECT_EQ(c->axisMin(Axis::Bottom), 1.5);
  EXPECT_EQ(c->axisMax(Axis::Bottom), 2.5);
  EXPECT_EQ(c->axisMin(Axis::Left), 0);
  EXPECT_EQ(c->axisMax(Axis::Left), 500);
}

/// Counts the chart engine's replots and the paint events its widget gets.
struct PaintCounter : QObject {
  int replots = 0, paints = 0;
  explicit PaintCounter(ChartView* c) {
    QObject::connect(c, &ChartView::drawn, this, [this] { ++replots; });
    for (QWidget* w : c->findChildren<QWidget*>())
      if (QByteArray(w->metaObject()->className()) == "QCustomPlot") w->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
  /// Replots and paints of one step, once its queued paints are delivered.
  std::pair<int, int> count(const std::function<void()>& step) {
    QApplication::processEvents();
    replots = paints = 0;
    step();
    QApplication::processEvents();
    return {replots, paints};
  }
};

TEST(ViewCommands, OneReplotAndOnePaintPerCommand) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  f.load({samples() + "/T020K.dat"});
  ChartView* c = f.w().chart();
  QWidget* plot = c->findChild<QWidget*>();
  ASSERT_NE(plot, nullptr);
  PaintCounter counter(c);
  using Count = std::pair<int, int>;
  for (int i = 0; i < 8; ++i) f.key(Qt::Key_Right, Qt::ControlModifier);
  const QRect r = c->plotRect();
  const QPoint a = r.topLeft() + QPoint(20, 20), b = r.topLeft() + QPoint(120, 90);
  struct Step {
    const char* what;
    std::function<void()> run;
    Count expected;
  };
  const Step steps[] = {
      {"Rescale", [&] { f.key(Qt::Key_R); }, {1, 1}},
      {"cursor step", [&] { f.key(Qt::Key_Right); }, {0, 1}},
      {"second cursor step", [&] { f.key(Qt::Key_Right, Qt::ShiftModifier); }, {0, 1}},
      {"Zoom In", [&] { f.key(Qt::Key_X); }, {1, 1}},
      {"Zoom Out", [&] { f.key(Qt::Key_Z); }, {1, 1}},
      {"Increase Y scale", [&] { f.trigger("Increase Y scale"); }, {1, 1}},
      {"mouse zoom",
       [&] {
         QTest::mousePress(plot, Qt::LeftButton, {}, a);
         QTest::mouseRelease(plot, Qt::LeftButton, {}, b);
       },
       {1, 1}},
      {"Rescale after a mouse zoom", [&] { f.key(Qt::Key_R); }, {1, 1}},
  };
  for (const Step& s : steps) EXPECT_EQ(counter.count(s.run), s.expected) << s.what;
  EXPECT_TRUE(c->axisAutomatic(Axis::Bottom));
  EXPECT_DOUBLE_EQ(c->axisMin(Axis::Bottom), 1.2);

  // The single paint still shows both cursor lines where they are now.
  const QImage shot = plot->grab().toImage();
  const int y = r.center().y();
  EXPECT_EQ(shot.pixelColor(f.w().firstCursorColumn(), y), QColor(255, 255, 0));
  EXPECT_EQ(shot.pixelColor(f.w().secondCursorColumn(), y), QColor(0, 255, 0));
  part<QPushButton>(f.w().cursorsWindow(), "hide")->click();
  EXPECT_NE(plot->grab().toImage().pixelColor(f.w().firstCursorColumn(), y), QColor(255, 255, 0));
}

TEST(ViewCommands, AnimatedZoomAnd3D) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  ChartView* c = f.w().chart();
  f.trigger("Animated Zoom");
  EXPECT_TRUE(f.w().action("Animated Zoom")->isChecked());
  EXPECT_TRUE(c->animatedZoom());
  int redraws = 0;
  QObject::connect(c, &ChartView::drawn, [&] { ++redraws; });
  c->zoomTo(1.5, 2.5, 0, 500);
  EXPECT_EQ(redraws, 8);  // seven steps of a third of the way, then the target
  EXPECT_EQ(c->axisMin(Axis::Bottom), 1.5);
  EXPECT_EQ(c->axisMax(Axis::Left), 500);
  f.trigger("Animated Zoom");
  EXPECT_FALSE(c->animatedZoom());
  EXPECT_EQ(c->depth(), 0);
  f.trigger("3D View");
  EXPECT_TRUE(c->is3D());
  EXPECT_EQ(c->depth(), c->height() / 10);
  f.trigger("3D View");
  EXPECT_FALSE(c->is3D());
}

TEST(CurveCommands, KeysRunTheCoreFunctions) {
  struct Case {
    int key;
    Qt::KeyboardModifiers mods;
    void (*core)(GraphStore&, const Selection&);
  };
  const Case cases[] = {
      {Qt::Key_N, {}, [](GraphStore& s, const Selection& sel) { normalizeGraphs(s, sel); }},
      {Qt::Key_F, {}, [](GraphStore& s, const Selection& sel) { filinGraphs(s, sel); }},
      {Qt::Key_C, {}, [](GraphStore& s, const Selection& sel) { removeShelfGraphs(s, sel); }},
      {Qt::Key_F3, {}, [](GraphStore& s, const Selection& sel) { evAngstromGraphs(s, sel); }},
      {Qt::Key_F10, {}, [](GraphStore& s, const Selection& sel) { dispoSmoothGraphs(s, sel); }},
      {Qt::Key_L, {}, [](GraphStore& s, const Selection& sel) { lnGraphs(s, sel); }},
      {Qt::Key_E, {}, [](GraphStore& s, const Selection& sel) { expGraphs(s, sel); }},
  };
  for (const Case& c : cases) {
    Fixture f({"varnix", samples() + "/T010K.dat"});
    f.load({samples() + "/T300K.dat"});
    f.list()->setCurrentRow(1);
    f.list()->item(0)->setSelected(true);
    GraphStore expected = f.w().store();
    const Selection sel = f.w().selection();
    try {
      c.core(expected, sel);
    } catch (const Error&) {
      // The same fault reaches the error report in the window.
    }
    f.key(c.key, c.mods);
    for (std::size_t g = 0; g < 2; ++g)
      EXPECT_EQ(f.w().store().series(g).points(), expected.series(g).points()) << c.key;
  }
}

TEST(CurveCommands, LnFaultReachesTheErrorReport) {
  QTemporaryDir dir;
  writeFile(dir.filePath("z.dat").toStdString(), "1 1\r\n2 0\r\n3 2\r\n");
  Fixture f({"varnix", dir.filePath("z.dat")});
  f.list()->item(0)->setSelected(true);
  f.key(Qt::Key_L);
  ASSERT_EQ(f.prompts.errors.size(), 1);
  EXPECT_EQ(f.prompts.errors[0], "Floating point division by zero.");
  EXPECT_EQ(f.w().store().series(0).y(0), 0);
  EXPECT_EQ(f.w().store().series(0).y(1), 0);
}

TEST(CurveCommands, DeletePointAtTheFirstCursor) {
  QTemporaryDir dir;
  std::string text;
  for (int i = 0; i <= 100; ++i) text += std::to_string(i) + " 1\r\n";
  writeFile(dir.filePath("line.dat").toStdString(), text);
  Fixture f({"varnix", dir.filePath("line.dat")});
  ChartView* c = f.w().chart();
  const int column = c->plotRect().left() + c->plotRect().width() / 2;
  for (int i = 0; i < column; ++i) f.key(Qt::Key_Right);
  const double x = c->xAtColumn(column);
  const auto expected = pointAtCursor(f.w().store().series(0), x);
  ASSERT_TRUE(expected);
  f.key(Qt::Key_D);
  EXPECT_EQ(f.w().store().series(0).count(), 100u);
  EXPECT_TRUE(f.w().store().graph(0).undoMark);
  for (const Point& p : f.w().store().series(0).points())
    EXPECT_NE(p.x, static_cast<double>(*expected));  // x = index on this line
}

TEST(Dialogs, SimpleMathThroughItsKeyFilter) {
  QTemporaryDir dir;
  QStringList files;
  for (int i = 0; i < 10; ++i) {
    files << dir.filePath(QString("s%1.dat").arg(i));
    writeFile(files.last().toStdString(), "0 1\r\n1 1\r\n");
  }
  Fixture f;
  f.load(files);
  for (int r : {2, 5, 9}) f.list()->item(r)->setSelected(true);
  f.whenOpen([&] {
    SimpleMathDialog* d = f.w().simpleMathDialog();
    part<QLineEdit>(d, "c")->clear();
    QTest::keyClicks(part<QLineEdit>(d, "c"), "1+0x");  // "+" and "x" are swallowed with a beep
    EXPECT_EQ(part<QLineEdit>(d, "c")->text(), "10");
    QTest::keyClick(part<QLineEdit>(d, "c"), Qt::Key_Home);
    QTest::keyClick(part<QLineEdit>(d, "c"), Qt::Key_Delete);  // editing keys pass
    QTest::keyClick(part<QLineEdit>(d, "c"), Qt::Key_1);
    EXPECT_EQ(part<QLineEdit>(d, "c")->text(), "10");
    part<QPushButton>(d, "ok")->click();
  });
  f.key(Qt::Key_Apostrophe);
  EXPECT_EQ(f.prompts.beeps, 2);
  const double expected[] = {1, 1, 1, 1, 1, 11, 1, 1, 1, 21};
  for (std::size_t g = 0; g < 10; ++g) EXPECT_EQ(f.w().store().series(g).y(0), expected[g]) << g;
  EXPECT_TRUE(f.w().action("Undo")->isEnabled());
}

TEST(Dialogs, MathCancelStillEnablesUndo) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  f.whenOpen([&] {
    EXPECT_EQ(part<QLineEdit>(f.w().mathDialog(), "xFormula")->text(), "x");
    EXPECT_EQ(part<QLineEdit>(f.w().mathDialog(), "yFormula")->text(), "y");
    part<QPushButton>(f.w().mathDialog(), "cancel")->click();
  });
  f.key(Qt::Key_Y);
  EXPECT_TRUE(f.w().action("Undo")->isEnabled());
  // A formula error changes nothing and keeps the formulas for next time.
  f.w().store().setUndoEnabled(false);
  f.whenOpen([&] {
    part<QLineEdit>(f.w().mathDialog(), "yFormula")->setText("2*-y");
    part<QPushButton>(f.w().mathDialog(), "ok")->click();
  });
  f.key(Qt::Key_Y);
  ASSERT_EQ(f.prompts.errors.size(), 1);
  EXPECT_EQ(f.prompts.errors[0], "error in expression: 2*.");
  EXPECT_FALSE(f.w().action("Undo")->isEnabled());
  EXPECT_EQ(part<QLineEdit>(f.w().mathDialog(), "yFormula")->text(), "2*-y");
}

TEST(Dialogs, MathOnGraphsMessages) {
  QTemporaryDir dir;
  writeFile(dir.filePath("second.dat").toStdString(), "0 1\r\n1 0\r\n2 1\r\n");
  writeFile(dir.filePath("a.dat").toStdString(), "0 4\r\n1 5\r\n2 6\r\n");
  Fixture f;
  f.load({dir.filePath("second.dat"), dir.filePath("a.dat")});
  f.list()->item(1)->setSelected(true);
  f.whenOpen([&] {
    MathOnGraphsDialog* d = f.w().mathOnGraphsDialog();
    EXPECT_EQ(part<QTableWidget>(d, "in1")->item(0, 0)->text(), "a.dat");
    EXPECT_TRUE(part<QListWidget>(d, "secondGraph")->selectedItems().isEmpty());
    EXPECT_FALSE(d->operation().has_value());
    part<QRadioButton>(d, "radio3")->setChecked(true);
    part<QPushButton>(d, "ok")->click();
  });
  f.key(Qt::Key_F4);
  EXPECT_EQ(f.prompts.messages, QStringList{"Second graph not selected"});
  f.whenOpen([&] {
    MathOnGraphsDialog* d = f.w().mathOnGraphsDialog();
    EXPECT_EQ(d->operation(), '/');  // the choice is kept
    part<QListWidget>(d, "secondGraph")->item(0)->setSelected(true);
    EXPECT_EQ(part<QListWidget>(d, "secondGraph")->selectedItems().size(), 1);
    EXPECT_EQ(f.w().selection().rows.size(), 1u);
    part<QPushButton>(d, "ok")->click();
  });
  f.key(Qt::Key_F4);
  EXPECT_EQ(f.prompts.messages,
            (QStringList{"Second graph not selected",
                         "Zero denominators!-corresponding values left unmodified"}));
  EXPECT_TRUE(f.list()->item(1)->isSelected());
  EXPECT_EQ(test::ys(f.w().store().series(1)), (std::vector<double>{4, 5, 6}));
  // Cancel still enables Undo.
  f.w().store().setUndoEnabled(false);
  f.whenOpen([&] { part<QPushButton>(f.w().mathOnGraphsDialog(), "cancel")->click(); });
  f.key(Qt::Key_F4);
  EXPECT_TRUE(f.w().action("Undo")->isEnabled());
}

TEST(Dialogs, MomentsTableSaveAndPreview) {
  QTemporaryDir dir;
  Fixture f;
  f.load({samples() + "/T300K.dat", samples() + "/T010K.dat", samples() + "/T100K.dat"});
  f.list()->selectAll();
  f.whenOpen([&] {
    CalculateMomentsDialog* d = f.w().calculateMomentsDialog();
    EXPECT_EQ(part<QTableWidget>(d, "table")->rowCount(), 3);
    EXPECT_EQ(part<QTableWidget>(d, "table")->item(0, 1)->text(), "300");
    f.prompts.files = {dir.filePath("d.dat")};
    part<QPushButton>(d, "save2")->click();
    part<QPushButton>(d, "preview")->click();
    part<QPushButton>(d, "close")->click();
  });
  f.key(Qt::Key_M);
  const MomentsTable& t = f.w().momentsTable();
  EXPECT_EQ(readFile(dir.filePath("d.dat").toStdString()),
            "300 " + t.rows[0].d + "\r\n010 " + t.rows[1].d + "\r\n100 " + t.rows[2].d + "\r\n");
  EXPECT_TRUE(f.w().momentsPreview()->isVisible());
  // The preview's points are ordered by Value.
  EXPECT_EQ(part<ChartView>(f.w().momentsPreview(), "lower")->seriesPointCount(0), 3);
}

TEST(Dialogs, SlicerWritesTheFileSet) {
  QTemporaryDir out;
  Fixture f;
  f.load({samples() + "/T010K.dat", samples() + "/T020K.dat"});
  f.whenOpen([&] {
    SlicerDialog* d = f.w().slicerDialog();
    EXPECT_EQ(part<QLineEdit>(d, "from")->text(), "10");
    EXPECT_EQ(part<QTableWidget>(d, "table")->item(1, 1)->text(), "020");
    part<QLineEdit>(d, "from")->setText("1.5");
    part<QLineEdit>(d, "to")->setText("3");
    part<QLineEdit>(d, "step")->setText("0.5");
    part<QLineEdit>(d, "directory")->setText(out.path());
    part<QPushButton>(d, "ok")->click();
  });
  f.trigger("Slicing");
  EXPECT_EQ(QDir(out.path()).entryList(QDir::Files), (QStringList{"d2.Dat"}));
  // Windows 1.5, 2.0 and 2.5 all round to 2; the last one is in the file.
  const std::string text = readFile(out.filePath("d2.Dat").toStdString());
  EXPECT_EQ(text.substr(0, 4), "010 ");
}

TEST(Picker, LinesOnClicks) {
  QTemporaryDir dir;
  Fixture f({"varnix", samples() + "/T010K.dat"});
  ChartView* c = f.w().chart();
  QWidget* plot = c->findChild<QWidget*>();
  const QPoint p = c->plotRect().center();
  QTest::mouseClick(plot, Qt::LeftButton, {}, p);
  EXPECT_TRUE(
      part<QPlainTextEdit>(f.w().picker(), "memo")->toPlainText().isEmpty());  // closed: nothing
  f.key(Qt::Key_P);
  QTest::mouseClick(plot, Qt::LeftButton, {}, p);
  const std::string y = formatDataNumber(c->yAtRow(p.y()), 5);
  const std::string x = formatDataNumber(c->xAtColumn(p.x()), 5);
  EXPECT_EQ(part<QPlainTextEdit>(f.w().picker(), "memo")->toPlainText().toStdString(), y);
  part<QCheckBox>(f.w().picker(), "pickX")->setChecked(true);
  QTest::mouseClick(plot, Qt::LeftButton, {}, p);
  EXPECT_EQ(part<QPlainTextEdit>(f.w().picker(), "memo")->toPlainText().toStdString(),
            y + "\n" + x + " " + y);
  f.prompts.files = {dir.filePath("picks.dat")};
  part<QPushButton>(f.w().picker(), "save")->click();
  EXPECT_EQ(readFile(dir.filePath("picks.dat").toStdString()), y + "\r\n" + x + " " + y + "\r\n");
  f.prompts.answers = {UserPrompts::Answer::No};
  part<QPushButton>(f.w().picker(), "clear")->click();
  EXPECT_EQ(f.prompts.asked.last(), "Clear All?");
  EXPECT_FALSE(part<QPlainTextEdit>(f.w().picker(), "memo")->toPlainText().isEmpty());
}

TEST(Output, PrintChartKeepsTheShownPart) {
  QTemporaryDir dir;
  writeFile(dir.filePath("p.dat").toStdString(), "5 0.3\r\n15 0.3\r\n15 0.7\r\n15 3\r\n25 0.3\r\n");
  Fixture f({"varnix", dir.filePath("p.dat")});
  ChartView* c = f.w().chart();
  c->setAxisAutomatic(Axis::Bottom, false);
  c->setAxisAutomatic(Axis::Left, false);
  c->setAxisMax(Axis::Bottom, 20);
  c->setAxisMin(Axis::Bottom, 10);
  c->setAxisMin(Axis::Left, 0);
  c->setAxisMax(Axis::Left, 0.5);
  f.w().rebuildPrintChart();
  EXPECT_EQ(f.w().printChart()->seriesPointCount(0), 2);  // (15, 0.3) and (15, 3)
  // The print chart's axes fit the points it draws, not an empty chart's.
  QImage probe(400, 300, QImage::Format_ARGB32);
  f.w().printChart()->renderTo(&probe, 400, 300);
  EXPECT_DOUBLE_EQ(f.w().printChart()->axisMin(Axis::Bottom), 15);
  EXPECT_DOUBLE_EQ(f.w().printChart()->axisMax(Axis::Bottom), 15);
  EXPECT_DOUBLE_EQ(f.w().printChart()->axisMin(Axis::Left), 0.3);
  EXPECT_DOUBLE_EQ(f.w().printChart()->axisMax(Axis::Left), 3);
  // Export pictures and the clipboard.
  f.prompts.files = {dir.filePath("chart.svg"), dir.filePath("chart.png"),
                     dir.filePath("chart.pdf")};
  f.trigger("Export picture...");
  f.prompts.size = QSize(1024, 512);  // the size the user picks
  f.trigger("Export picture...");
  f.trigger("Export picture...");
  EXPECT_NE(readFile(dir.filePath("chart.svg").toStdString()).find("<svg"), std::string::npos);
  EXPECT_EQ(QImage(dir.filePath("chart.png")).size(), QSize(1024, 512));
  EXPECT_EQ(readFile(dir.filePath("chart.pdf").toStdString()).substr(0, 4), "%PDF");
  // Written as data files are: a FIFO is refused at once, a read-only file kept.
  const QString fifo = dir.filePath("fifo.png"), readOnly = dir.filePath("ro.svg");
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  writeFile(readOnly.toStdString(), "old");
  QFile::setPermissions(readOnly, QFileDevice::ReadOwner);
  f.prompts.files = {fifo, readOnly};
  f.prompts.messages.clear();
  f.trigger("Export picture...");
  f.trigger("Export picture...");
  EXPECT_EQ(f.prompts.messages, QStringList({"Could not write " + fifo + ": not a regular file",
                                             "Could not write " + readOnly + ": Existing file " +
                                                 readOnly + " is not writable"}));
  EXPECT_EQ(readFile(readOnly.toStdString()), "old");
  f.key(Qt::Key_C, Qt::ControlModifier);
  const QMimeData* mime = QApplication::clipboard()->mimeData();
  ASSERT_NE(mime, nullptr);
  EXPECT_TRUE(mime->hasFormat("image/svg+xml"));
  EXPECT_EQ(qvariant_cast<QImage>(mime->imageData()).size(), QSize(640, 480));
  EXPECT_EQ(f.w().printChart()->size(), QSize(800, 600));
  // A log scale on the screen is one on paper, and back.
  f.trigger("Log Scale");
  f.w().rebuildPrintChart();
  EXPECT_TRUE(f.w().printChart()->axisLogarithmic(Axis::Left));
  EXPECT_GE(f.w().printChart()->seriesPointCount(0), 1);
  f.w().action("Log Scale")->trigger();  // now captioned "Linear Scale"
  f.w().rebuildPrintChart();
  EXPECT_FALSE(f.w().printChart()->axisLogarithmic(Axis::Left));
}

TEST(Output, PrintingToAPdfFile) {
  QTemporaryDir dir;
  Fixture f({"varnix", samples() + "/T010K.dat"});
  f.w().rebuildPrintChart();
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(dir.filePath("page.pdf"));
  printer.setPageOrientation(QPageLayout::Portrait);
  f.w().printChart(printer);
  EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Portrait);  // put back
  const std::string pdf = readFile(dir.filePath("page.pdf").toStdString());
  EXPECT_EQ(pdf.substr(0, 4), "%PDF");
  EXPECT_GT(pdf.size(), 2000u);
}

TEST(AddFiles, DroppedFilesLoadAsAddFilesDoes) {
  Fixture f;
  auto* mime = new QMimeData;
  mime->setUrls({QUrl::fromLocalFile(samples() + "/T010K.dat"),
                 QUrl::fromLocalFile(samples() + "/two_detectors.dat")});
  QWidget* target = f.w().centralWidget();
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  ASSERT_EQ(f.list()->count(), 3);
  EXPECT_EQ(f.w().information()->text(), " 3 files loaded. Press <R> to rescale");
  delete mime;
}

TEST(Options, ColorsLabelsAndAssociation) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  f.whenOpen([&] {
    ColorsDialog* d = f.w().colorsDialog();
    part<QComboBox>(d, "selector3")
        ->setCurrentIndex(part<QComboBox>(d, "selector3")->findText("Lime"));
    part<QPushButton>(d, "apply")->click();
    part<QPushButton>(d, "cancel")->click();
  });
  f.trigger("Colors");
  EXPECT_EQ(f.w().colours().graphs, 0x00FF00u);
  EXPECT_NE(f.iniText().find("Graphs=65280"), std::string::npos);
  f.whenOpen([&] {
    ColorsDialog* d = f.w().colorsDialog();
    part<QPushButton>(d, "defaults")->click();
    part<QPushButton>(d, "cancel")->click();
  });
  f.trigger("Colors");
  EXPECT_EQ(f.w().colours(), ColourSettings{});

  f.whenOpen([&] {
    LabelsDialog* d = f.w().labelsDialog();
    EXPECT_EQ(part<QLineEdit>(d, "left")->text(), "PL Intensity (arb.units)");
    part<QCheckBox>(d, "title")->setChecked(true);
    part<QPlainTextEdit>(d, "memo")->setPlainText("Run 7");
    part<QPushButton>(d, "ok")->click();
  });
  f.trigger("Labels");
  EXPECT_TRUE(f.w().chart()->titleVisible());
  EXPECT_EQ(f.w().chart()->axisTitle(Axis::Bottom), "Energy (eV)");
  EXPECT_EQ(f.w().printChart()->axisTitle(Axis::Left), "PL Intensity (arb.units)");

  QTemporaryDir data, config;
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  f.trigger("Associate .dat files");
  f.trigger("Associate .dat files");
  ASSERT_EQ(f.prompts.messages.size(), 2);
  EXPECT_TRUE(f.prompts.messages[1].contains("MIME database refreshed"))
      << f.prompts.messages[1].toStdString();
  const std::string desktop = readFile(data.filePath("applications/varnix.desktop").toStdString());
  EXPECT_NE(desktop.find("Exec=\""), std::string::npos);
  EXPECT_NE(desktop.find("\" %f"), std::string::npos);
  EXPECT_NE(readFile(data.filePath("mime/packages/varnix-dat.xml").toStdString()).find("ASCII DAT"),
            std::string::npos);
  EXPECT_TRUE(f.prompts.errors.isEmpty());
  qunsetenv("XDG_DATA_HOME");
  qunsetenv("XDG_CONFIG_HOME");

  f.key(Qt::Key_F1);
  ASSERT_EQ(f.prompts.opened.size(), 1);
  EXPECT_TRUE(f.prompts.opened[0].endsWith("/doc/varnix.html"));
}

TEST(Trust, OneExitQuestionAtATime) {
  // Close requests from the window system (the title bar's button, wmctrl)
  // and from the program while "Exit now?" is open are ignored; the answer
  // No keeps the window and its graphs, Yes ends it.
  for (const bool fromWindowSystem : {false, true}) {
    SCOPED_TRACE(fromWindowSystem);
    Fixture f({"varnix", samples() + "/T010K.dat"});
    QWindow* handle = f.w().windowHandle();
    ASSERT_NE(handle, nullptr);
    auto requestClose = [&] {
      if (fromWindowSystem)
        QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
            handle);
      else
        f.w().close();
    };
    f.prompts.whileAsking = [&] {
      requestClose();
      requestClose();
    };
    f.prompts.answers = {UserPrompts::Answer::No};
    requestClose();
    QTest::qWait(20);
    EXPECT_EQ(f.prompts.asked, QStringList{"Exit now?"});
    EXPECT_TRUE(f.w().isVisible());
    EXPECT_EQ(f.list()->count(), 1);
    // Asked again on the next request; Yes closes the window.
    f.prompts.answers = {UserPrompts::Answer::Yes};
    requestClose();
    QTest::qWait(20);
    EXPECT_EQ(f.prompts.asked.size(), 2);
    EXPECT_FALSE(f.w().isVisible());
  }
}

TEST(Trust, ChartClickLeavesTheFocusInTheList) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  ChartView* c = f.w().chart();
  QWidget* plot = c->findChild<QWidget*>();
  QTest::mouseClick(plot, Qt::LeftButton, {}, c->plotRect().center());
  EXPECT_TRUE(f.list()->hasFocus());
  EXPECT_EQ(c->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(plot->focusPolicy(), Qt::NoFocus);
}

TEST(Trust, PopupSelectAllShowsItsKeyAndTheKeyWorks) {
  Fixture f;
  f.load({samples() + "/T010K.dat", samples() + "/T020K.dat"});
  QAction* popup = f.w().action("popup:Select All");
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
  EXPECT_EQ(popup->text(), "Select All");
  f.list()->clearSelection();
  f.key(Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(f.list()->selectedItems().size(), 2);
}

TEST(Trust, SimpleMathOnXOpensOnOk) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  QWidget* focused = nullptr;
  f.whenOpen([&] {
    focused = f.w().simpleMathXDialog()->focusWidget();
    part<QPushButton>(f.w().simpleMathXDialog(), "cancel")->click();
  });
  f.key(Qt::Key_Semicolon);
  EXPECT_EQ(focused, part<QPushButton>(f.w().simpleMathXDialog(), "ok"));
}

TEST(Trust, ManualWithoutABrowserSaysWhereItIs) {
  Fixture f;
  f.prompts.canOpen = false;
  const QString folder = QDir::currentPath();
  f.key(Qt::Key_F1);
  EXPECT_EQ(QDir::currentPath(), folder);  // a later Save of a relative path goes there
  ASSERT_EQ(f.prompts.messages.size(), 1);
  EXPECT_TRUE(f.prompts.messages[0].contains("/doc/varnix.html"))
      << f.prompts.messages[0].toStdString();
}

#if defined(Q_OS_LINUX)
// The manual is opened with xdg-open, whose exit status says whether a
// program took the file; one that is still running after a few seconds is a
// viewer in the foreground and counts as opened.
TEST(Trust, TheManualCountsAsOpenedWhenTheOpenerSaysSo) {
  QTemporaryDir bin;
  const QByteArray path = qgetenv("PATH");
  struct Case {
    const char* script;  // none: there is no xdg-open
    bool opened;
  };
  const Case cases[] = {{"exit 0", true},
                        {"exit 4", false},
                        {"/bin/sleep 6; : > \"$0.done\"", true},
                        {nullptr, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script ? c.script : "no opener");
    const QString opener = bin.filePath("xdg-open");
    QFile::remove(opener);
    if (c.script) {
      writeFile(opener.toStdString(),
                std::string("#!/bin/sh\necho \"$1\" > \"$0.arg\"\n") + c.script + "\n");
      QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    qputenv("PATH", bin.path().toLocal8Bit());
    QtUserPrompts prompts;
    const bool opened = prompts.openExternally("/some/where/manual page.html");
    qputenv("PATH", path);
    EXPECT_EQ(opened, c.opened);
    if (c.script)
      EXPECT_EQ(readFile((opener + ".arg").toStdString()), "/some/where/manual page.html\n");
  }
  // The viewer left running ends and its process is deleted.
  EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(bin.filePath("xdg-open.done")); }, 10000));
  QTest::qWait(1000);
}
#endif

// Two commands on one key make Qt run neither: every key of the menus is
// unique. The analysis windows stand apart at the end of the Tools menu.
TEST(Menus, EveryKeyRunsOneCommand) {
  Fixture f;
  std::map<QString, QStringList> byKey;
  std::map<QString, QList<QAction*>> menus;
  std::function<void(QMenu*)> walk = [&](QMenu* menu) {
    menus[menu->title().remove('&')] = menu->actions();
    for (QAction* a : menu->actions()) {
      if (a->menu()) walk(a->menu());
      for (const QKeySequence& k : a->shortcuts()) byKey[k.toString()] << a->text();
    }
  };
  for (QAction* a : f.w().menuBar()->actions())
    if (a->menu()) walk(a->menu());
  EXPECT_GE(byKey.size(), 30u);
  for (const auto& [key, commands] : byKey)
    EXPECT_EQ(commands.size(), 1) << key.toStdString() << ": " << commands.join(", ").toStdString();
  ASSERT_TRUE(menus.count("Tools"));
  const QList<QAction*>& tools = menus["Tools"];
  QStringList tail;
  for (qsizetype i = std::max<qsizetype>(0, tools.size() - 4); i < tools.size(); ++i)
    tail << (tools[i]->isSeparator() ? "-" : tools[i]->text());
  EXPECT_EQ(tail, QStringList({"-", "Fit...", "Baseline...", "Remove spikes..."}));
}

TEST(Trust, SlicerDecimalsInFileNames) {
  QTemporaryDir out;
  Fixture f;
  f.load({samples() + "/T010K.dat"});
  f.whenOpen([&] {
    SlicerDialog* d = f.w().slicerDialog();
    EXPECT_EQ(part<QLineEdit>(d, "decimals")->text(), "0");
    part<QLineEdit>(d, "from")->setText("2.3");
    part<QLineEdit>(d, "to")->setText("2.65");
    part<QLineEdit>(d, "step")->setText("0.1");
    part<QLineEdit>(d, "decimals")->setText("1");
    part<QLineEdit>(d, "directory")->setText(out.path());
    part<QPushButton>(d, "ok")->click();
  });
  f.trigger("Slicing");
  EXPECT_EQ(QDir(out.path()).entryList(QDir::Files),
            (QStringList{"d2.3.Dat", "d2.4.Dat", "d2.5.Dat", "d2.6.Dat"}));
  EXPECT_EQ(part<QLineEdit>(f.w().slicerDialog(), "decimals")->text(), "1");  // kept for the run
}

TEST(Trust, PrintedFontsAndLinesKeepTheirScreenSize) {
  // Drawn at four times the size with a scale of four, the text grows in
  // both directions (sixteen times the dark pixels, hairlines four times);
  // pixel fonts in printer dots would give about four in all.
  Fixture f({"varnix", samples() + "/T010K.dat"});
  f.w().rebuildPrintChart();
  auto darkPixels = [&](int size, int scale) {
    QImage image(800 * size, 600 * size, QImage::Format_RGB32);
    image.fill(Qt::white);
    f.w().printChart()->renderTo(&image, image.width(), image.height(), scale);
    long n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) n += qGray(image.pixel(x, y)) < 128;
    return static_cast<double>(n);
  };
  const double one = darkPixels(1, 1);
  const double ratio = darkPixels(4, 4) / one, unscaled = darkPixels(4, 1) / one;
  EXPECT_GT(ratio, 7) << ratio;
  EXPECT_LT(ratio, 17) << ratio;
  EXPECT_LT(unscaled, 5.5) << unscaled;
}

TEST(Measuring, TheMeasureWindowFollowsCursorsAndSelection) {
  QTemporaryDir dir;
  Fixture f({"varnix", samples() + "/T010K.dat"});
  f.load({samples() + "/T020K.dat"});
  ChartView* c = f.w().chart();
  const QRect r = c->plotRect();
  // The first cursor at the left quarter, the second at the right quarter.
  for (int i = 0; i < (r.left() + r.width() / 4) / 10; ++i)
    f.key(Qt::Key_Right, Qt::ControlModifier);
  for (int i = 0; i < (r.left() + 3 * r.width() / 4) / 10; ++i)
    f.key(Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
  f.key(Qt::Key_G);
  MeasureWindow* m = f.w().measureWindow();
  ASSERT_TRUE(m->isVisible());
  QTableWidget* table = part<QTableWidget>(m, "table");
  ASSERT_EQ(table->rowCount(), 1);  // nothing selected: the current graph
  const double x1 = c->xAtColumn(f.w().firstCursorColumn());
  const double x2 = c->xAtColumn(f.w().secondCursorColumn());
  const Measurement want = measure(
      f.w().store().graph(
          f.list()->currentRow() < 0 ? 0 : static_cast<std::size_t>(f.list()->currentRow())),
      x1, x2);
  EXPECT_EQ(table->item(0, 8)->text().toStdString(), measurementCell(want.area));
  // A cursor step and a selection change update it.
  f.key(Qt::Key_Left);
  EXPECT_NE(part<QLabel>(m, "range")
                ->text()
                .toStdString()
                .find(formatDataNumber(c->xAtColumn(f.w().firstCursorColumn()))),
            std::string::npos);
  f.list()->selectAll();
  EXPECT_EQ(table->rowCount(), 2);
  // Copy: tab-separated with the header row; Save... writes the same text.
  part<QPushButton>(m, "copy")->click();
  const QString copied = QApplication::clipboard()->text();
  EXPECT_TRUE(copied.contains("Graph\ty at x1\ty at x2\tMax x")) << copied.toStdString();
  EXPECT_TRUE(copied.contains("T020K.dat\t"));
  f.prompts.files = {dir.filePath("m.txt")};
  part<QPushButton>(m, "save")->click();
  EXPECT_EQ(QString::fromStdString(readFile(dir.filePath("m.txt").toStdString())), copied);
  // By keyboard: Tab leaves the table for the buttons; Ctrl+C and Ctrl+S.
  QApplication::clipboard()->clear();
  m->activateWindow();
  QApplication::setActiveWindow(m);
  table->setFocus();
  QTest::keyClick(table, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), part<QPushButton>(m, "copy"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), copied);
  f.prompts.files = {dir.filePath("k.txt")};
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(QString::fromStdString(readFile(dir.filePath("k.txt").toStdString())), copied);
}

TEST(Trust, TheLastResortBoxIsOneAtATimeAboveEveryWindow) {
  QWidget tool(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
  tool.show();
  int boxes = -1;
  bool onTop = false;
  QTimer::singleShot(0, [&] {
    // Counts the boxes then open and closes them.
    QTimer::singleShot(0, [&] {
      boxes = 0;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
          ++boxes;
          onTop = box->objectName() == "lastResort" &&
                  box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
          box->reject();
        }
    });
    // A fault that comes again while the box is open opens no second one.
    LastResortApplication::report("Unexpected error: again");
  });
  LastResortApplication::report("Unexpected error: first");
  EXPECT_EQ(boxes, 1);
  EXPECT_TRUE(onTop);
}

TEST(Trust, DialogsOpenAboveWindowsThatStayOnTop) {
  QWidget preview(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
  QDialog box;
  keepAboveStayOnTopWindows(&box);
  EXPECT_FALSE(box.windowFlags().testFlag(Qt::WindowStaysOnTopHint));  // none is shown
  preview.show();
  keepAboveStayOnTopWindows(&box);
  EXPECT_TRUE(box.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST(Trust, EnterPressesTheFocusedButtonOfTheOpenDialog) {
  QTemporaryDir a;
  writeFile(a.filePath("one.dat").toStdString(), "1 10\r\n2 20\r\n");
  Fixture f;
  f.whenOpen([&] {
    OpenFilesDialog* d = f.w().openFilesDialog();
    ASSERT_TRUE(d->setCurrentDirectory(a.path()));
    d->addAll();
    QPushButton* ok = part<QPushButton>(d, "ok");
    ok->setFocus();
    QTest::keyClick(ok, Qt::Key_Return);
    if (d->isVisible()) part<QPushButton>(d, "cancel")->click();  // never hang the test
  });
  f.trigger("Add Files");
  EXPECT_EQ(f.list()->count(), 1);
}

/// The texts of one column of a table, top to bottom.
QStringList columnTexts(QTableWidget* table, int column) {
  QStringList out;
  for (int r = 0; r < table->rowCount(); ++r) out << table->item(r, column)->text();
  return out;
}

Measurement measurementOf(const std::string& name, std::optional<double> area, double fwhm) {
  Measurement m;
  m.name = name;
  m.area = area;
  m.fwhm = fwhm;
  return m;
}

TEST(Measuring, TheMeasureWindowKeepsTheUsersSortOrder) {
  MeasureWindow m(nullptr);
  QTableWidget* table = part<QTableWidget>(&m, "table");
  constexpr int kFwhm = 7, kArea = 8;
  m.setRows({measurementOf("g0", 10, 3), measurementOf("g1", 9, 1), measurementOf("g2", {}, 2),
             measurementOf("g3", 100, 5), measurementOf("g4", 9.5, 4)},
            1.5, 2.25);
  EXPECT_EQ(part<QLabel>(&m, "range")->text(), "x1 = 1.5   x2 = 2.25");
  // Until the user sorts, the rows are in the order of the graph list.
  EXPECT_EQ(columnTexts(table, 0), (QStringList{"g0", "g1", "g2", "g3", "g4"}));
  // By number, not by text; "–" last in both directions.
  const struct {
    int column;
    Qt::SortOrder order;
    QStringList names;
  } sorts[] = {
      {kArea, Qt::AscendingOrder, {"g1", "g4", "g0", "g3", "g2"}},
      {kArea, Qt::DescendingOrder, {"g3", "g0", "g4", "g1", "g2"}},
      {kFwhm, Qt::AscendingOrder, {"g1", "g2", "g0", "g4", "g3"}},
      {0, Qt::DescendingOrder, {"g4", "g3", "g2", "g1", "g0"}},
  };
  for (const auto& s : sorts) {
    table->sortByColumn(s.column, s.order);
    EXPECT_EQ(columnTexts(table, 0), s.names) << s.column << " " << s.order;
  }
  // New values (a cursor moved): the rows are sorted again the same way,
  // each row's cells staying with its graph.
  table->sortByColumn(kArea, Qt::AscendingOrder);
  m.setRows({measurementOf("g0", 1, 3), measurementOf("g1", 50, 1), measurementOf("g2", 3, 2),
             measurementOf("g3", {}, 5), measurementOf("g4", 20, 4)},
            1, 2);
  EXPECT_EQ(columnTexts(table, 0), (QStringList{"g0", "g2", "g4", "g1", "g3"}));
  EXPECT_EQ(columnTexts(table, kArea), (QStringList{"1", "3", "20", "50", "\u2013"}));
  EXPECT_EQ(columnTexts(table, kFwhm), (QStringList{"3", "2", "4", "1", "5"}));
  table->sortByColumn(kArea, Qt::DescendingOrder);
  m.setRows({measurementOf("g0", 7, 3), measurementOf("g1", 70, 1), measurementOf("g2", {}, 2)}, 1,
            2);
  EXPECT_EQ(columnTexts(table, 0), (QStringList{"g1", "g0", "g2"}));
  EXPECT_EQ(table->rowCount(), 3);
}

TEST(Measuring, EvNanometreKeepsTheAreaAndRescales) {
  Fixture f({"varnix", samples() + "/T010K.dat"});
  const std::vector<Point> before = f.w().store().series(0).points();
  f.key(Qt::Key_F3, Qt::ShiftModifier);
  const std::vector<Point>& after = f.w().store().series(0).points();
  ASSERT_EQ(after.size(), before.size());
  EXPECT_DOUBLE_EQ(after[0].x, 1239.84198 / before[0].x);
  EXPECT_DOUBLE_EQ(after[0].y, before[0].y * before[0].x * before[0].x / 1239.84198);
  EXPECT_FALSE(f.w().action("Undo")->isEnabled());
  EXPECT_TRUE(f.w().chart()->axisAutomatic(Axis::Bottom));
  EXPECT_NEAR(f.w().chart()->axisMin(Axis::Bottom), 1239.84198 / before.back().x, 1e-9);
}

TEST(Measuring, ParameterFromNameInTheMomentsTableAndTheSlicer) {
  QTemporaryDir out;
  Fixture f;
  f.load({samples() + "/T010K.dat", samples() + "/T020K.dat"});
  f.list()->selectAll();
  f.whenOpen([&] {
    CalculateMomentsDialog* d = f.w().calculateMomentsDialog();
    QLineEdit* p = part<QLineEdit>(d, "parameter");
    EXPECT_EQ(p->text(), "digits");
    p->setText("T0*(\\d+)K");
    emit p->editingFinished();
    EXPECT_EQ(part<QTableWidget>(d, "table")->item(1, 1)->text(), "20");
    p->setText("(");  // not a regular expression: refused, the Values stay
    emit p->editingFinished();
    EXPECT_EQ(part<QTableWidget>(d, "table")->item(1, 1)->text(), "20");
    part<QPushButton>(d, "close")->click();
  });
  f.key(Qt::Key_M);
  ASSERT_EQ(f.prompts.errors.size(), 1);
  EXPECT_EQ(f.prompts.errors[0],
            "Parameter from name: ( is not a regular expression with one capture group.");
  f.whenOpen([&] {
    SlicerDialog* d = f.w().slicerDialog();
    part<QLineEdit>(d, "parameter")->setText("T0*(\\d+)K");
    emit part<QLineEdit>(d, "parameter")->editingFinished();
    EXPECT_EQ(part<QTableWidget>(d, "table")->item(0, 1)->text(), "10");
    part<QLineEdit>(d, "from")->setText("2");
    part<QLineEdit>(d, "to")->setText("2.1");
    part<QLineEdit>(d, "step")->setText("0.5");
    part<QLineEdit>(d, "directory")->setText(out.path());
    part<QPushButton>(d, "ok")->click();
  });
  f.trigger("Slicing");
  const std::string text = readFile(out.filePath("d2.Dat").toStdString());
  EXPECT_EQ(text.substr(0, 3), "10 ");
  EXPECT_NE(text.find("\r\n20 "), std::string::npos);
}

TEST(DistinctColours, PaletteSwatchesLegendAndPicture) {
  QTemporaryDir dir;
  Fixture f;
  QStringList files;
  for (int i = 0; i < 35; ++i) {
    const QString path = dir.filePath(QString("g%1.dat").arg(i, 2, 10, QChar('0')));
    writeFile(path.toStdString(),
              "1 " + std::to_string(i + 1) + "\r\n2 " + std::to_string(i + 2) + "\r\n");
    files << path;
  }
  f.load(files);
  ChartView* c = f.w().chart();
  EXPECT_EQ(c->seriesPenColour(3), toQColor(f.w().colours().graphs));  // off: one colour
  EXPECT_FALSE(c->legendVisible());
  f.trigger("Distinct colours and legend");
  EXPECT_TRUE(f.w().distinctColours());
  EXPECT_NE(f.iniText().find("[View]\r\nDistinct colours and legend=1"), std::string::npos)
      << f.iniText();
  for (int i : {0, 3, 11})
    EXPECT_EQ(c->seriesPenColour(i), toQColor(distinctColour(static_cast<std::size_t>(i), false)));
  EXPECT_FALSE(f.list()->item(3)->icon().isNull());
  EXPECT_TRUE(c->legendVisible());
  // The highlighted graph keeps the highlight colour.
  f.list()->setCurrentRow(2);
  f.key(Qt::Key_Shift);
  EXPECT_EQ(c->seriesPenColour(2), toQColor(f.w().colours().highlight));
  // The exported picture holds the legend's names, "... and 5 more" and
  // the print variants of the colours.
  f.prompts.files = {dir.filePath("p.svg")};
  f.trigger("Export picture...");
  const std::string svg = readFile(dir.filePath("p.svg").toStdString());
  EXPECT_NE(svg.find("g00.dat"), std::string::npos);
  EXPECT_NE(svg.find("... and 5 more"), std::string::npos);
  const QColor print = toQColor(distinctColour(0, true));
  EXPECT_NE(svg.find(print.name().toStdString()), std::string::npos) << print.name().toStdString();
  // The legend as on paper: a white box (the screen's is dark).
  EXPECT_NE(svg.find("fill=\"#ffffff\""), std::string::npos);
  // The legend can be dragged; that zooms nothing.
  QWidget* plot = c->findChild<QWidget*>();
  c->redraw();
  const double x0 = c->axisMin(Axis::Bottom), x1 = c->axisMax(Axis::Bottom);
  EXPECT_FALSE(c->legendPosition().has_value());
  const QRect r = c->plotRect();
  const QPoint grab(r.right() - 20, r.top() + 12);  // inside the legend in the top right corner
  QTest::mousePress(plot, Qt::LeftButton, {}, grab);
  QMouseEvent move(QEvent::MouseMove, QPointF(grab - QPoint(200, -100)), QPointF(), Qt::LeftButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(plot, &move);
  QTest::mouseRelease(plot, Qt::LeftButton, {}, grab - QPoint(200, -100));
  ASSERT_TRUE(c->legendPosition().has_value());
  EXPECT_LT(c->legendPosition()->x(), 0.9);
  EXPECT_EQ(c->axisMin(Axis::Bottom), x0);
  EXPECT_EQ(c->axisMax(Axis::Bottom), x1);
  // Off again: today's look.
  f.trigger("Distinct colours and legend");
  EXPECT_EQ(c->seriesPenColour(3), toQColor(f.w().colours().graphs));
  EXPECT_FALSE(c->legendVisible());
  EXPECT_TRUE(f.list()->item(3)->icon().isNull());
  EXPECT_NE(f.iniText().find("Distinct colours and legend=0"), std::string::npos);
}

TEST(DistinctColours, TheHighlightedCurveIsDrawnOverTheOthers) {
  QTemporaryDir dir;
  QStringList files;
  for (const char* name : {"a.dat", "b.dat", "c.dat"}) {
    files << dir.filePath(name);
    writeFile(files.last().toStdString(), "0 0\r\n1 1\r\n2 0\r\n");  // one curve, three times
  }
  Fixture f;
  f.load(files);
  f.trigger("Distinct colours and legend");
  ChartView* c = f.w().chart();
  // Pixels of a colour on the rising half of the curve, left of the legend.
  auto pixels = [&](QColor colour) {
    c->redraw();
    QImage image(c->size(), QImage::Format_RGB32);
    c->renderTo(&image, image.width(), image.height());
    const QRect r = c->plotRect();
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x < r.center().x(); ++x) n += image.pixel(x, y) == colour.rgb();
    return n;
  };
  const QColor highlight = toQColor(f.w().colours().highlight);
  for (int row : {0, 1, 2}) {
    f.list()->setCurrentRow(row);
    f.key(Qt::Key_Shift);  // highlights the current row
    EXPECT_GT(pixels(highlight), 20) << row;
    for (int other = 0; other < 3; ++other)
      if (other != row)
        EXPECT_EQ(pixels(toQColor(distinctColour(static_cast<std::size_t>(other), false))), 0)
            << row << " " << other;
  }
  // Off: as before, the curves in slot order, the later ones over the
  // highlighted first one.
  f.list()->setCurrentRow(0);
  f.key(Qt::Key_Shift);
  f.trigger("Distinct colours and legend");
  EXPECT_EQ(pixels(highlight), 0);
  EXPECT_GT(pixels(toQColor(f.w().colours().graphs)), 20);
}

TEST(Reload, F5GetsTheRawDataBackAndUndoTheWork) {
  QTemporaryDir dir;
  const QString path = dir.filePath("a.dat");
  writeFile(path.toStdString(), "1 2\r\n2 8\r\n3 4\r\n");
  Fixture f({"varnix", path});
  f.list()->item(0)->setSelected(true);
  f.key(Qt::Key_L);  // Ln: the work to lose
  const double ln2 = f.w().store().series(0).points()[0].y;
  EXPECT_DOUBLE_EQ(ln2, std::log(2.0));
  f.key(Qt::Key_F5);
  EXPECT_EQ(f.w().store().series(0).points(), (std::vector<Point>{{1, 2}, {2, 8}, {3, 4}}));
  EXPECT_TRUE(f.w().action("Undo")->isEnabled());
  f.key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(f.w().store().series(0).points()[0].y, ln2);
}

TEST(Reload, FollowFilesGrowsTheGraphAndSparesUnsavedWork) {
  QTemporaryDir dir;
  const QString a = dir.filePath("a.dat"), b = dir.filePath("b.dat");
  writeFile(a.toStdString(), "1 2\n");
  writeFile(b.toStdString(), "1 2\n");
  Fixture f;
  f.load({a, b});
  f.follow(50);
  EXPECT_TRUE(f.w().followFiles());
  EXPECT_NE(f.iniText().find("Follow files=1"), std::string::npos);
  f.w().store().series(1).points()[0].y = 99;  // unsaved work in b
  // Another program appends line by line; the last line is still half written.
  {
    std::ofstream out(a.toStdString(), std::ios::app);
    out << "2 3\n3 4\n4 5.";
  }
  {
    std::ofstream out(b.toStdString(), std::ios::app);
    out << "2 3\n";
  }
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return f.w().store().series(0).count() == std::size_t{3}; }, 5000))
      << f.w().store().series(0).count();
  EXPECT_EQ(f.w().store().series(0).points().back(), (Point{3, 4}));  // no half line
  ASSERT_TRUE(QTest::qWaitFor([&] { return f.list()->item(1)->text().endsWith(" *"); }, 5000));
  EXPECT_EQ(f.w().store().series(1).points()[0].y, 99);  // not overwritten
  EXPECT_EQ(f.list()->item(0)->text(), "a.dat");
}

TEST(Reload, TheInformationLineSpeaksOfHeldFilesUntilEachIsReadAgain) {
  QTemporaryDir dir;
  const QString a = dir.filePath("a.dat"), b = dir.filePath("b.dat");
  for (const QString& p : {a, b}) writeFile(p.toStdString(), "1 2\n2 3\n3 4\n");
  Fixture f;
  f.load({a, b});
  f.follow(50);
  auto held = [&](int row) { return f.list()->item(row)->text().endsWith(" *"); };
  // Both cut short: both held, the line says so.
  for (const QString& p : {a, b}) writeFile(p.toStdString(), "1 2\n");
  ASSERT_TRUE(QTest::qWaitFor([&] { return held(0) && held(1); }, 5000));
  EXPECT_TRUE(f.w().information()->text().contains("Not reloaded"));
  // a is whole again: b is still held, and the line still says so.
  writeFile(a.toStdString(), "1 2\n2 3\n3 4\n4 5\n");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !held(0); }, 5000));
  EXPECT_TRUE(held(1));
  EXPECT_TRUE(f.w().information()->text().contains("Not reloaded"))
      << f.w().information()->text().toStdString();
  // Then b: the line has had its say.
  writeFile(b.toStdString(), "1 2\n2 3\n3 4\n4 5\n");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !held(1); }, 5000));
  EXPECT_EQ(f.w().information()->text(), "");
}

TEST(Reload, FollowFilesNeverEmptiesAGraphAndKeepsFollowing) {
  QTemporaryDir dir;
  const QString a = dir.filePath("a.dat"), cr = dir.filePath("cr.csv"),
                big = dir.filePath("big.dat");
  writeFile(a.toStdString(), "1 2\n2 3\n3 4\n");
  writeFile(big.toStdString(), "1 2\n");
  // An import with CR-only line ends (an old instrument's writer).
  writeFile(cr.toStdString(), "x,y\r1,10\r2,20\r3,30\r4,40\r");
  Fixture f;
  f.load({a, big});
  f.w().importFiles({cr});
  ASSERT_EQ(f.w().store().count(), 3u);
  ASSERT_EQ(f.w().store().series(2).count(), 4u);
  f.follow(50);
  const auto undoBefore = f.w().action("Undo")->isEnabled();

  // Truncated (a writer starting over): the graph keeps its points, the row
  // is marked and the information line says why.
  writeFile(a.toStdString(), "");
  ASSERT_TRUE(QTest::qWaitFor([&] { return f.list()->item(0)->text().endsWith(" *"); }, 5000));
  EXPECT_EQ(f.w().store().series(0).count(), 3u);
  EXPECT_NE(f.w().information()->text().indexOf("fewer points"), -1)
      << f.w().information()->text().toStdString();
  EXPECT_NE(f.list()->item(0)->toolTip().indexOf("F5"), -1);
  // Written again in full: read, the mark goes.
  writeFile(a.toStdString(), "1 2\n2 3\n3 4\n4 5\n");
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return f.w().store().series(0).count() == std::size_t{4}; }, 5000))
      << f.w().store().series(0).count();
  EXPECT_EQ(f.list()->item(0)->text(), "a.dat");

  // Deleted and made again: still followed, and once it is read again the
  // information line no longer says it is gone.
  QFile::remove(a);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return f.w().information()->text().contains("is gone"); }, 5000));
  writeFile(a.toStdString(), "1 2\n2 3\n3 4\n4 5\n5 6\n");
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return f.w().store().series(0).count() == std::size_t{5}; }, 5000))
      << f.w().store().series(0).count();
  EXPECT_EQ(f.w().information()->text(), "");

  // CR-only lines: the last complete line counts, a half-written one not.
  {
    std::ofstream out(cr.toStdString(), std::ios::app | std::ios::binary);
    out << "5,50\r6,6";
  }
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return f.w().store().series(2).count() == std::size_t{5}; }, 5000))
      << f.w().store().series(2).count();
  EXPECT_EQ(f.w().store().series(2).points().back(), (Point{5, 50}));

  // A file grown beyond what following reads is not read; F5 would.
  {
    std::ofstream out(big.toStdString(), std::ios::app | std::ios::binary);
    const std::string line = "2 3\n";
    std::string block;
    for (int i = 0; i < (1 << 16); ++i) block += line;
    while (out.tellp() < static_cast<std::streamoff>(FollowLimits{}.maxBytes)) out << block;
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return f.list()->item(1)->text().endsWith(" *"); }, 10000));
  EXPECT_EQ(f.w().store().series(1).count(), 1u);
  EXPECT_NE(f.w().information()->text().indexOf("too large to follow"), -1);
  // Following takes no undo copies.
  EXPECT_EQ(f.w().action("Undo")->isEnabled(), undoBefore);
}

/// A window that follows a file of one line, a.dat, with the given quiet
/// time.
struct FollowedFile : Fixture {
  QTemporaryDir dir;
  QString path = dir.filePath("a.dat");
  explicit FollowedFile(int quietMs) {
    writeFile(path.toStdString(), "1 2\n");
    load({path});
    follow(quietMs);
  }
};

TEST(Reload, FollowFilesShowsAFileThatNeverStopsChanging) {
  FollowedFile f(400);
  const QString& a = f.path;
  // A line every 100 ms, faster than the quiet time: still shown within a
  // second or so, long before the writer stops.
  QElapsedTimer clock;
  clock.start();
  int lines = 1;
  while (f.w().store().series(0).count() == 1 && clock.elapsed() < 4000) {
    std::ofstream out(a.toStdString(), std::ios::app);
    out << ++lines << " 1\n";
    out.close();
    QTest::qWait(100);
  }
  // Shown while the writer was still at it, not only once it stopped.
  EXPECT_GT(f.w().store().series(0).count(), 1u);
}

// A quiet time longer than a second: a file that changed at once and again
// shortly before the second was up is still shown when the second is up,
// not a quiet time after its last change.
TEST(Reload, FollowFilesShowsAChangeWithinASecondWhateverTheQuietTime) {
  FollowedFile f(3000);
  const QString& a = f.path;
  QElapsedTimer clock;
  clock.start();
  writeFile(a.toStdString(), "1 2\n2 3\n");
  QTest::qWait(800);
  writeFile(a.toStdString(), "1 2\n2 3\n3 4\n");
  while (f.w().store().series(0).count() < 3 && clock.elapsed() < 2400) QTest::qWait(20);
  EXPECT_EQ(f.w().store().series(0).count(), 3u) << clock.elapsed() << " ms";
  // A change long after the last one shown starts a new wait (here the
  // second's limit); it is not read at once as if the old run went on.
  QTest::qWait(1500);
  clock.restart();
  writeFile(a.toStdString(), "1 2\n2 3\n3 4\n4 5\n");
  while (f.w().store().series(0).count() < 4 && clock.elapsed() < 5000) QTest::qWait(10);
  EXPECT_EQ(f.w().store().series(0).count(), 4u);
  EXPECT_GE(clock.elapsed(), 500);
}

TEST(Reload, FollowedChangesTakeNoUndoCopyAndReadCrOnlyLines) {
  QTemporaryDir dir;
  const QString a = dir.filePath("a.dat"), b = dir.filePath("b.dat");
  writeFile(a.toStdString(), "1 0.5\r\n2 3\r\n");
  writeFile(b.toStdString(), "1 2\r2 3\r");  // lines ended by CR alone
  Fixture f;
  f.load({a, b});
  f.follow(50);
  auto append = [&](const std::string& text) {
    std::ofstream out(b.toStdString(), std::ios::app | std::ios::binary);
    out << text;
  };
  // Another program writes on; its last line is not finished yet.
  append("3 4\r4 5");
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return f.w().store().series(1).count() == std::size_t{3}; }, 5000))
      << f.w().store().series(1).count();
  EXPECT_EQ(f.w().store().series(1).points(), (std::vector<Point>{{1, 2}, {2, 3}, {3, 4}}));
  EXPECT_FALSE(f.w().action("Undo")->isEnabled());  // nothing to undo
  EXPECT_FALSE(f.w().store().graph(1).undoMark);
  EXPECT_EQ(f.w().chart()->axisMax(Axis::Left), 4);  // redrawn with the new points
  // Work on a, then b grows again: Undo takes back the work on a only.
  f.list()->clearSelection();
  f.list()->item(0)->setSelected(true);
  f.key(Qt::Key_F);  // Filin: 0.5 becomes 1
  EXPECT_EQ(f.w().store().series(0).points()[0].y, 1);
  append("\r5 6\r");
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return f.w().store().series(1).count() == std::size_t{5}; }, 5000))
      << f.w().store().series(1).count();
  EXPECT_EQ(f.w().store().series(1).points()[4], (Point{5, 6}));
  EXPECT_FALSE(f.w().store().graph(1).undoMark);
  EXPECT_TRUE(f.w().action("Undo")->isEnabled());
  f.key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(f.w().store().series(0).points()[0].y, 0.5);
  EXPECT_EQ(f.w().store().series(1).count(), 5u);
  EXPECT_EQ(f.list()->item(1)->text(), "b.dat");  // not marked as changed on disk
  // Replaced by a rename (as editors save): read, and still followed.
  writeFile((b + ".tmp").toStdString(), "1 1\r2 2\r3 3\r4 4\r5 5\r6 6\r");
  std::filesystem::rename((b + ".tmp").toStdString(), b.toStdString());
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return f.w().store().series(1).count() == std::size_t{6}; }, 5000))
      << f.w().store().series(1).count();
  append("7 7\r");
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return f.w().store().series(1).count() == std::size_t{7}; }, 5000))
      << f.w().store().series(1).count();
  EXPECT_EQ(f.w().store().series(1).points()[6], (Point{7, 7}));
}

TEST(Reload, RunScriptWorksOnTheLoadedGraphsAndStopsAtAnError) {
  QTemporaryDir dir;
  Fixture f({"varnix", samples() + "/T010K.dat"});
  const QString script = dir.filePath("s.vxs");
  writeFile(script.toStdString(), "# a script\nload " + (samples() + "/T020K.dat").toStdString() +
                                      "\nselect 1\nfilin\nrename \"two\"\n");
  f.prompts.files = {script};
  f.trigger("Run script...");
  ASSERT_EQ(f.list()->count(), 2);
  EXPECT_EQ(f.list()->item(1)->text(), "T020K.dat");  // rename worked on the current row, 0
  EXPECT_EQ(f.list()->item(0)->text(), "two");
  EXPECT_TRUE(f.list()->item(1)->isSelected());
  EXPECT_GE(f.w().store().series(1).minY(), 1);
  EXPECT_TRUE(f.w().action("Undo")->isEnabled());
  EXPECT_TRUE(f.prompts.errors.isEmpty());
  // A line that is no command: the run stops there, what came before stays.
  writeFile(script.toStdString(), "select 0\nln\nfrobnicate\nexp\n");
  const double y0 = f.w().store().series(0).points()[0].y;
  f.prompts.files = {script};
  f.trigger("Run script...");
  ASSERT_EQ(f.prompts.errors.size(), 1);
  EXPECT_EQ(f.prompts.errors[0], "line 3: Unknown command frobnicate.");
  EXPECT_DOUBLE_EQ(f.w().store().series(0).points()[0].y, std::log(y0));
}

/// Every file below dir with its bytes, by path relative to dir.
std::map<std::string, std::string> filesBelow(const QString& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.toStdString()))
    if (e.is_regular_file())
      out[std::filesystem::relative(e.path(), dir.toStdString()).string()] =
          readFile(e.path().string());
  return out;
}

void freshCopies(const QString& dir) {
  std::filesystem::remove_all(dir.toStdString());
  std::filesystem::create_directories((dir + "/slices").toStdString());
  for (const char* name : {"T010K.dat", "T020K.dat", "T030K.dat"})
    std::filesystem::copy_file((samples() + "/" + name).toStdString(),
                               (dir + "/" + name).toStdString());
}

TEST(SessionScript, ReplayWithVarnixCliWritesTheSameFiles) {
  QTemporaryDir tmp;
  const QString work = tmp.filePath("work"), script = tmp.filePath("session.vxs");
  freshCopies(work);
  Fixture f;
  f.load({work + "/T010K.dat", work + "/T020K.dat", work + "/T030K.dat"});
  f.key(Qt::Key_R);
  f.list()->selectAll();
  f.key(Qt::Key_N);    // 1 normalize
  f.key(Qt::Key_I);    // 2 normalize-integral (visible range)
  f.key(Qt::Key_F10);  // 3 smooth
  f.whenOpen([&] {
    part<QLineEdit>(f.w().simpleMathDialog(), "b")->setText("2");
    part<QPushButton>(f.w().simpleMathDialog(), "ok")->click();
  });
  f.key(Qt::Key_Apostrophe);  // 4 simple-math-y
  f.list()->clearSelection();
  f.list()->setCurrentRow(1, QItemSelectionModel::NoUpdate);
  f.list()->item(1)->setSelected(true);
  f.whenOpen([&] {
    part<QLineEdit>(f.w().mathDialog(), "yFormula")->setText("y+1");
    part<QPushButton>(f.w().mathDialog(), "ok")->click();
  });
  f.key(Qt::Key_Y);  // 5 math-yx
  f.key(Qt::Key_L);  // 6 ln
  for (int i = 0; i < 40; ++i) f.key(Qt::Key_Right, Qt::ControlModifier);
  f.key(Qt::Key_D);                      // 7 delete-point
  f.key(Qt::Key_F3, Qt::ShiftModifier);  // 8 ev-nm
  f.whenOpen([&] {
    part<QLineEdit>(f.w().renameDialog(), "newName")->setText("renamed.dat");
    part<QPushButton>(f.w().renameDialog(), "ok")->click();
  });
  f.key(Qt::Key_F6);  // 9 rename
  f.key(Qt::Key_F2);  // 10 save
  f.list()->selectAll();
  f.whenOpen([&] {
    f.prompts.files = {work + "/m0.dat"};
    part<QPushButton>(f.w().calculateMomentsDialog(), "save0")->click();
    part<QPushButton>(f.w().calculateMomentsDialog(), "close")->click();
  });
  f.key(Qt::Key_M);  // 11 moments, 12 moments-save
  f.whenOpen([&] {
    SlicerDialog* d = f.w().slicerDialog();
    part<QLineEdit>(d, "from")->setText("1.5");
    part<QLineEdit>(d, "to")->setText("3");
    part<QLineEdit>(d, "step")->setText("0.5");
    part<QLineEdit>(d, "directory")->setText(work + "/slices");
    part<QPushButton>(d, "ok")->click();
  });
  f.trigger("Slicing");  // 13 slice
  f.list()->item(0)->setSelected(true);
  f.key(Qt::Key_S);  // 14 save-selected
  ASSERT_TRUE(f.prompts.errors.isEmpty()) << f.prompts.errors.join("; ").toStdString();
  f.prompts.files = {script};
  f.trigger("Save session as script...");
  const std::string text = readFile(script.toStdString());
  EXPECT_EQ(text.rfind("# Varnix session, ", 0), 0u) << text;
  for (const char* command : {"normalize", "normalize-integral", "smooth", "simple-math-y",
                              "math-yx", "ln", "delete-point", "ev-nm", "rename", "save", "moments",
                              "moments-save", "slice", "save-selected"})
    EXPECT_TRUE(text.find(std::string("\r\n") + command + " ") != std::string::npos ||
                text.find(std::string("\r\n") + command + "\r\n") != std::string::npos)
        << command;

  const auto desktop = filesBelow(work);
  freshCopies(work);
  QProcess cli;
  cli.start(VARNIX_CLI, {script});
  ASSERT_TRUE(cli.waitForFinished(60000));
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  const auto replay = filesBelow(work);
  ASSERT_EQ(replay.size(), desktop.size());
  for (const auto& [name, bytes] : desktop) {
    ASSERT_TRUE(replay.count(name)) << name;
    EXPECT_TRUE(replay.at(name) == bytes) << name;
  }
}

TEST(SessionScript, AHostileFileNameStaysOneArgument) {
  QTemporaryDir tmp;
  const QString work = tmp.filePath("work"), script = tmp.filePath("session.vxs");
  const std::string hostile = "x\"; select all; simple-math-y 0 0 0 0; save-selected; \"y.csv";
  auto fresh = [&] {
    freshCopies(work);
    writeFile((work + "/").toStdString() + hostile, "1,10\n2,20\n3,30\n");
  };
  fresh();
  Fixture f;
  f.load({work + "/T010K.dat"});
  f.w().importFiles({work + "/" + QString::fromStdString(hostile)});
  ASSERT_EQ(f.list()->count(), 2);
  f.list()->clearSelection();
  f.list()->setCurrentRow(1);
  f.key(Qt::Key_N);   // normalize the imported graph
  f.key(Qt::Key_F2);  // and save it beside its export
  f.prompts.files = {script};
  f.trigger("Save session as script...");
  EXPECT_TRUE(f.prompts.messages.isEmpty()) << f.prompts.messages.join("; ").toStdString();
  const std::string text = readFile(script.toStdString());
  EXPECT_NE(text.find(R"(import ")" + work.toStdString() +
                      R"(/x\"; select all; simple-math-y 0 0 0 0; save-selected; \"y.csv")"),
            std::string::npos)
      << text;
  const auto desktop = filesBelow(work);
  ASSERT_EQ(desktop.size(), 5u);  // the three samples, the export and the saved graph
  fresh();
  QProcess cli;
  cli.start(VARNIX_CLI, {script});
  ASSERT_TRUE(cli.waitForFinished(60000));
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  const auto replay = filesBelow(work);
  EXPECT_TRUE(replay == desktop);
  EXPECT_EQ(replay.at("T010K.dat"), readFile((samples() + "/T010K.dat").toStdString()));
}

TEST(SessionScript, ANameWithALineBreakEndsWhatTheScriptRepeats) {
  QTemporaryDir tmp;
  const QString good = tmp.filePath("good.dat"), bad = tmp.filePath("two\nlines.dat");
  const QString script = tmp.filePath("s.vxs");
  writeFile(good.toStdString(), "1 2\r\n2 3\r\n");
  writeFile(bad.toStdString(), "1 5\r\n2 6\r\n");
  Fixture f;
  f.load({good});
  // Save As with such a name (recorded with the selection first), then a load.
  f.prompts.files = {tmp.filePath("as\tcopy.dat")};
  f.trigger("Save As");
  EXPECT_TRUE(QFileInfo::exists(tmp.filePath("as\tcopy.dat")));  // the command itself runs
  f.load({bad});
  f.list()->setCurrentRow(0);
  f.key(Qt::Key_N);
  ASSERT_EQ(f.list()->count(), 2);
  f.prompts.files = {script};
  f.trigger("Save session as script...");
  ASSERT_EQ(f.prompts.messages.size(), 1);
  EXPECT_TRUE(f.prompts.messages[0].startsWith("The script cannot repeat all of the work"))
      << f.prompts.messages[0].toStdString();
  const std::string text = readFile(script.toStdString());
  // Every line is whole: a command or a comment, none starts inside a name.
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  ASSERT_EQ(lines.size(), 2u + 8u) << text;
  EXPECT_EQ(lines[2], "load \"" + good.toStdString() + "\"");
  // A TAB is written escaped; the line break cannot be.
  EXPECT_EQ(lines[5], "save-as $\"" + tmp.path().toStdString() + "/as\\tcopy.dat\"");
  EXPECT_EQ(lines[6],
            "# load was not recorded: a name or text in it holds a line break or another control "
            "character");
  EXPECT_EQ(lines[7].rfind("# skipped: select ", 0), 0u) << lines[7];
  EXPECT_EQ(lines[8], "# skipped: current 0");
  EXPECT_EQ(lines[9], "# skipped: normalize");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 10);  // no line break inside a line
}

TEST(SessionScript, PathsAreRecordedAbsolute) {
  QTemporaryDir tmp;
  writeFile(tmp.filePath("rel.dat").toStdString(), "1 2\r\n2 3\r\n");
  const QString before = QDir::currentPath();
  QDir::setCurrent(tmp.path());
  {
    Fixture f({"varnix", "rel.dat"});
    ASSERT_EQ(f.list()->count(), 1);
    f.w().addFiles({"rel.dat"});
    f.prompts.files = {"out.dat"};
    f.trigger("Save As");
    const std::string text = f.w().sessionScript();
    const std::string abs = tmp.filePath("rel.dat").toStdString();
    EXPECT_NE(text.find("\r\nload \"" + abs + "\"\r\nload \"" + abs + "\"\r\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("save-as \"" + tmp.filePath("out.dat").toStdString() + "\""),
              std::string::npos)
        << text;
  }
  QDir::setCurrent(before);
}

TEST(Import, MenuDropSummaryAndFolder) {
  QTemporaryDir data;
  writeFile(data.filePath("uv.csv").toStdString(), "nm;A;B\n300;0,5;1\n301;0,75;2\n");
  writeFile(data.filePath("ir.jdx").toStdString(),
            "##TITLE=ir\n##JCAMP-DX=4.24\n##XFACTOR=1\n##YFACTOR=1\n##FIRSTX=10\n"
            "##LASTX=12\n##NPOINTS=3\n##XYDATA=(X++(Y..Y))\n10A0KL\n##END=\n");
  writeFile(data.filePath("bin.dat").toStdString(), std::string("\0\1\2\3", 4));
  Fixture f;
  f.prompts.files = {data.filePath("uv.csv") + "\n" + data.filePath("ir.jdx") + "\n" +
                     data.filePath("bin.dat")};
  EXPECT_EQ(f.w().action("Import...")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_I));
  f.trigger("Import...");
  ASSERT_EQ(f.list()->count(), 3);
  EXPECT_EQ(f.list()->item(0)->text(), "A");
  EXPECT_EQ(f.list()->item(2)->text(), "ir");
  EXPECT_EQ(f.w().chart()->seriesPointCount(2), 3);
  EXPECT_EQ(f.w().information()->text(), " 3 files loaded. Press <R> to rescale");
  EXPECT_TRUE(f.prompts.messages.isEmpty());  // one summary, no box per file
  ASSERT_TRUE(f.w().importSummary()->isVisible());
  const QStringList lines = f.w().importSummary()->text().split('\n');
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(
      lines[0].endsWith("uv.csv: 2 graphs, 4 points, separator semicolon, decimal comma, "
                        "1 line kept as comments"))
      << lines[0].toStdString();
  EXPECT_TRUE(lines[2].contains("bin.dat: not imported: not a text file"))
      << lines[2].toStdString();
  EXPECT_EQ(f.settings->readString("Import", "Folder", ""), data.path().toStdString());
  // The session history repeats it with varnix-cli.
  EXPECT_NE(f.w().sessionScript().find("import \"" + data.filePath("uv.csv").toStdString() + "\""),
            std::string::npos)
      << f.w().sessionScript();
  // The dialog opens there next time; Cancel changes nothing.
  f.trigger("Import...");
  EXPECT_EQ(f.prompts.lastFolder, data.path());
  EXPECT_EQ(f.list()->count(), 3);
  // Undo, saving and the other commands work on imported graphs.
  f.w().graphList()->setCurrentRow(0);
  f.trigger("Save");
  EXPECT_TRUE(QFileInfo::exists(data.filePath("uv.dat")));

  // Files dropped with Shift are imported, without it added.
  f.w().dropFiles({data.filePath("uv.csv")}, Qt::ShiftModifier);
  ASSERT_EQ(f.list()->count(), 5);
  // Paths not taken by a file or another graph (B of the first import has "uv (2).dat").
  EXPECT_EQ(f.w().store().graph(1).path, data.filePath("uv (2).dat").toStdString());
  EXPECT_EQ(f.w().store().graph(3).path, data.filePath("uv (3).dat").toStdString());
  f.w().dropFiles({data.filePath("uv.csv")}, Qt::NoModifier);
  ASSERT_GT(f.list()->count(), 5);
  EXPECT_EQ(f.list()->item(5)->text(), "uv.csv");  // named as Add Files names it
}

TEST(Import, TheSummaryWindowShowsEveryLineWholeAfterEveryImport) {
  QTemporaryDir data;
  // 23 data lines with a stray character each: 20 warnings and "and 3 more".
  std::string text = "##TITLE=t\n##JCAMP-DX=4.24\n##XYDATA=(X++(Y..Y))\n";
  for (int k = 1; k <= 23; ++k) text += std::to_string(k) + " 1 ~\n";
  text += "##END=\n";
  writeFile(data.filePath("short.jdx").toStdString(), text);
  Fixture f;
  f.w().importFiles({data.filePath("short.jdx")});
  ImportSummaryWindow* summary = f.w().importSummary();
  ASSERT_TRUE(summary->isVisible());
  EXPECT_TRUE(summary->text().endsWith("; and 3 more")) << summary->text().toStdString();
  // The long line wraps: nothing of it is out of view sideways.
  auto* edit = part<QPlainTextEdit>(summary, "text");
  QApplication::processEvents();
  EXPECT_EQ(edit->horizontalScrollBar()->maximum(), 0);
  // Closed, or minimized, the window comes back with the next import.
  part<QPushButton>(summary, "close")->click();
  ASSERT_FALSE(summary->isVisible());
  f.w().importFiles({data.filePath("short.jdx")});
  EXPECT_TRUE(summary->isVisible());
  summary->showMinimized();
  f.w().importFiles({data.filePath("short.jdx")});
  EXPECT_FALSE(summary->isMinimized());
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

TEST(SaveKey, OnADanglingLinkAsksBeforeCreatingItsFile) {
  QTemporaryDir dir;
  const std::string link = dir.filePath("link.dat").toStdString();
  const std::string target = dir.filePath("target.dat").toStdString();
  std::filesystem::create_symlink(target, link);
  writeFile(dir.filePath("a.dat").toStdString(), "1 2\r\n");
  Fixture f({"varnix", dir.filePath("a.dat")});
  ASSERT_EQ(f.list()->count(), 1);
  f.list()->setCurrentRow(0);
  // Renamed to the name of the link.
  f.whenOpen([&] {
    part<QLineEdit>(f.w().renameDialog(), "newName")->setText("link.dat");
    part<QPushButton>(f.w().renameDialog(), "ok")->click();
  });
  f.key(Qt::Key_F6);
  const QString question = QString::fromStdString("The link " + link + " points to " + target +
                                                  ", which does not exist. Create it?");
  f.prompts.answers = {UserPrompts::Answer::No};
  f.key(Qt::Key_F2);
  ASSERT_FALSE(f.prompts.asked.isEmpty());
  EXPECT_EQ(f.prompts.asked.last(), question);
  EXPECT_FALSE(std::filesystem::exists(target));
  f.prompts.answers = {UserPrompts::Answer::Yes};
  f.key(Qt::Key_F2);
  EXPECT_EQ(f.prompts.asked.last(), question);
  EXPECT_EQ(readFile(target), "1 2\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
}

}  // namespace
}  // namespace varnix

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QTableWidget>

#include "app/import_preview.h"

namespace varnix {
namespace {

/// The import preview driven from its focus widget, as a user types.
struct PreviewKeys {
  ImportPreviewDialog* dialog;
  QWidget* focus() const {
    QWidget* w = dialog->focusWidget();
    return w ? w : dialog;
  }
  void key(int k, Qt::KeyboardModifiers m = Qt::NoModifier) const {
    QTest::keyClick(focus(), static_cast<Qt::Key>(k), m);
  }
  /// Replaces the text of the field with the focus.
  void type(const QString& text) const {
    key(Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(focus(), text);
  }
  /// The named part the focus is in (a spin box's line edit counts as its box).
  QString focusName() const {
    for (QWidget* w = focus(); w && w != dialog; w = w->parentWidget())
      if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_")) return w->objectName();
    return {};
  }
  QString cell(int row, int column) const {
    QTableWidgetItem* item = part<QTableWidget>(dialog, "table")->item(row, column);
    return item ? item->text() : QString();
  }
  QStringList titles() const {
    auto* t = part<QTableWidget>(dialog, "table");
    QStringList out;
    for (int c = 0; c < t->columnCount(); ++c) out << t->horizontalHeaderItem(c)->text();
    return out;
  }
};

/// Three columns; the guess takes the first as x and makes two graphs.
const char* const kThreeColumns = "a;b;c\n1;2;3\n2;4;6\n3;6;9\n";

TEST(ImportWithOptions, KeysSetTheChoicesTheTableFollowsAndOkImportsAndRecords) {
  QTemporaryDir data;
  const QString path = data.filePath("three.csv");
  writeFile(path.toStdString(), kThreeColumns);
  Fixture f;
  f.prompts.files = {path};
  EXPECT_EQ(f.w().action("Import with options...")->shortcut(),
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I));
  bool checked = false;
  f.whenOpen([&] {
    PreviewKeys k{f.w().importPreview()};
    ASSERT_TRUE(k.dialog->isVisible());
    EXPECT_TRUE(k.dialog->isModal());
    // Above the Cursors window, which stays on top.
    EXPECT_TRUE(k.dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(part<QLabel>(k.dialog, "file")->text(), path);
    int controls = 0;
    EXPECT_EQ(test::controlsNotLaidOut(k.dialog, controls), QStringList());
    EXPECT_GE(controls, 10);
    EXPECT_TRUE(part<QPlainTextEdit>(k.dialog, "text")->toPlainText().startsWith("   1  a;b;c\n"));
    // The guess: shown beside "auto", one x column and the two graphs.
    EXPECT_EQ(part<QComboBox>(k.dialog, "separator")->currentText(), "auto (semicolon)");
    EXPECT_EQ(k.titles(), (QStringList{"x", "b", "c"}));
    EXPECT_EQ(k.cell(2, 0), "3");
    EXPECT_EQ(k.cell(2, 2), "9");
    // Tab goes through the choices in order.
    EXPECT_EQ(k.focusName(), "separator");
    const QStringList order = {"decimal", "skip", "header",   "layout", "x",
                               "columns", "rows", "remember", "ok",     "cancel"};
    QStringList visited;
    for (int i = 0; i < order.size(); ++i) {
      k.key(Qt::Key_Tab);
      visited << k.focusName();
    }
    EXPECT_EQ(visited, order);
    // Back to x: column 2 as x, column 3 the only graph.
    for (int i = 0; i < 5; ++i) k.key(Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_EQ(k.focusName(), "x");
    k.type("2");
    k.key(Qt::Key_Tab);
    k.type("3");
    EXPECT_EQ(k.titles(), (QStringList{"x", "c"}));
    ASSERT_EQ(part<QTableWidget>(k.dialog, "table")->rowCount(), 3);
    EXPECT_EQ(k.cell(0, 0), "2");
    EXPECT_EQ(k.cell(0, 1), "3");
    EXPECT_EQ(k.cell(2, 0), "6");
    EXPECT_EQ(k.cell(2, 1), "9");
    // The chart draws that graph: its axes fit the graph's points.
    ChartView* preview = part<ChartView>(k.dialog, "preview");
    EXPECT_EQ(preview->seriesCount(), 1);
    EXPECT_EQ(preview->seriesPointCount(0), 3);
    EXPECT_EQ(preview->axisMin(Axis::Bottom), 2);
    EXPECT_EQ(preview->axisMax(Axis::Bottom), 6);
    EXPECT_EQ(preview->axisMin(Axis::Left), 3);
    EXPECT_EQ(preview->axisMax(Axis::Left), 9);
    checked = true;
    k.key(Qt::Key_Return);  // Enter is OK
  });
  f.trigger("Import with options...");
  ASSERT_TRUE(checked);
  ASSERT_EQ(f.list()->count(), 1);
  EXPECT_EQ(f.w().store().series(0).points(), (std::vector<Point>{{2, 3}, {4, 6}, {6, 9}}));
  const std::string script = f.w().sessionScript();
  EXPECT_NE(script.find("import-with x=2 columns=3 \"" + path.toStdString() + "\""),
            std::string::npos)
      << script;
  EXPECT_TRUE(f.w().importSummary()->isVisible());
  EXPECT_TRUE(f.w().importSummary()->text().startsWith(path + ": 1 graph, 3 points"))
      << f.w().importSummary()->text().toStdString();
  // Nothing is kept for later files without the box.
  EXPECT_EQ(f.iniText().find("[Import settings]"), std::string::npos);
}

TEST(ImportWithOptions, NoneForXCountsTheRowsAndALargeFileIsShownInPartButImportedWhole) {
  QTemporaryDir data;
  const QString path = data.filePath("big.csv");
  // Over the 2 MB the window reads: 200,000 rows of two columns, the
  // second holding the row number, so every point can be told.
  constexpr int kRows = 200000;
  std::string text = "a;b\n";
  for (int i = 1; i <= kRows; ++i) text += std::to_string(5 * i) + ";" + std::to_string(i) + "\n";
  ASSERT_GT(text.size(), std::size_t{2} * 1024 * 1024);
  writeFile(path.toStdString(), text);
  Fixture f;
  f.prompts.files = {path};
  bool checked = false;
  f.whenOpen([&] {
    PreviewKeys k{f.w().importPreview()};
    auto* status = part<QLabel>(k.dialog, "status");
    EXPECT_TRUE(
        status->text().endsWith(" (the preview reads the first 2 MB; OK imports the whole file)"))
        << status->text().toStdString();
    EXPECT_EQ(k.titles(), (QStringList{"x", "b"}));
    for (int i = 0; i < 5; ++i) k.key(Qt::Key_Tab);
    ASSERT_EQ(k.focusName(), "x");
    k.type("none");
    // No x column: both columns are graphs against the row number (from 0).
    EXPECT_EQ(part<QSpinBox>(k.dialog, "x")->value(), 0);
    EXPECT_EQ(k.titles(), (QStringList{"x", "a", "b"}));
    EXPECT_EQ(k.cell(0, 0), "0");
    EXPECT_EQ(k.cell(1, 0), "1");
    EXPECT_EQ(k.cell(1, 1), "10");
    EXPECT_EQ(k.cell(1, 2), "2");
    checked = true;
    k.key(Qt::Key_Return);
  });
  f.trigger("Import with options...");
  ASSERT_TRUE(checked);
  ASSERT_EQ(f.list()->count(), 2);
  const std::vector<Point>& b = f.w().store().series(1).points();
  ASSERT_EQ(b.size(), std::size_t{kRows});
  EXPECT_EQ(b.back().x, kRows - 1);
  EXPECT_EQ(b.back().y, kRows);
  EXPECT_EQ(f.w().store().series(0).points().back().y, 5.0 * kRows);
  EXPECT_NE(f.w().sessionScript().find("import-with x=none \""), std::string::npos)
      << f.w().sessionScript();
}

TEST(ImportWithOptions, EscapeChangesNothingAndAFieldThatDoesNotReadHoldsOkBack) {
  QTemporaryDir data;
  const QString path = data.filePath("three.csv");
  writeFile(path.toStdString(), kThreeColumns);
  Fixture f;
  f.prompts.files = {path};
  f.whenOpen([&] {
    PreviewKeys k{f.w().importPreview()};
    // Tab goes round the choices and buttons; the text and the table of the
    // file are for looking at (and take the focus only from a click).
    QStringList round;
    for (int i = 0; i < 14; ++i) {
      k.key(Qt::Key_Tab);
      round << k.focusName();
    }
    EXPECT_EQ(round.mid(0, 11), QStringList({"decimal", "skip", "header", "layout", "x", "columns",
                                             "rows", "remember", "ok", "cancel", "separator"}))
        << round.join(" ").toStdString();
    // A count field takes a count, "auto" or its word for none; no sign.
    struct Typed {
      QString text;
      QValidator::State state;
    };
    const Typed typed[] = {{"2", QValidator::Acceptable},    {"+2", QValidator::Invalid},
                           {"-1", QValidator::Invalid},      {"au", QValidator::Intermediate},
                           {"AUTO", QValidator::Acceptable}, {"", QValidator::Intermediate},
                           {"99999999", QValidator::Invalid}};
    for (const char* name : {"skip", "x"})
      for (Typed t : typed) {
        int at = 0;
        EXPECT_EQ(
            static_cast<QAbstractSpinBox*>(part<QSpinBox>(k.dialog, name))->validate(t.text, at),
            t.state)
            << name << " " << t.text.toStdString();
      }
    // What is typed is not rewritten under the cursor: "0" stays "0" (not
    // "none") while a "5" may still follow.
    auto* header = part<QSpinBox>(k.dialog, "header");
    header->setFocus();
    k.type("05");
    EXPECT_EQ(header->value(), 5);
    k.type("auto");
    EXPECT_EQ(header->value(), -1);
    for (int i = 0; i < 20 && k.focusName() != "columns"; ++i) k.key(Qt::Key_Tab);
    if (k.focusName() != "columns") {
      ADD_FAILURE() << "Tab never comes back to the columns";
      k.dialog->reject();
      return;
    }
    k.type("2-");
    auto* status = part<QLabel>(k.dialog, "status");
    EXPECT_TRUE(status->text().contains("columns")) << status->text().toStdString();
    EXPECT_FALSE(part<QPushButton>(k.dialog, "ok")->isEnabled());
    k.key(Qt::Key_Return);  // no OK while a field does not read
    EXPECT_TRUE(k.dialog->isVisible());
    k.key(Qt::Key_Escape);
  });
  f.trigger("Import with options...");
  EXPECT_FALSE(f.w().importPreview()->isVisible());
  EXPECT_EQ(f.list()->count(), 0);
  EXPECT_EQ(f.w().sessionScript().find("import"), std::string::npos);
  EXPECT_FALSE(f.w().importSummary()->isVisible());
  // Cancel does what Escape does. The table's columns are as wide as what
  // they show, no wider.
  f.prompts.files = {path};
  f.whenOpen([&] {
    ImportPreviewDialog* d = f.w().importPreview();
    auto* table = part<QTableWidget>(d, "table");
    EXPECT_GE(table->columnCount(), 2);
    for (int c = 0; c < table->columnCount(); ++c) {
      int widest = table->fontMetrics().horizontalAdvance(table->horizontalHeaderItem(c)->text());
      for (int r = 0; r < table->rowCount(); ++r)
        if (table->item(r, c))
          widest =
              std::max(widest, table->fontMetrics().horizontalAdvance(table->item(r, c)->text()));
      EXPECT_GE(table->columnWidth(c), widest) << c;
      EXPECT_LE(table->columnWidth(c), widest + 50) << c;
    }
    part<QPushButton>(d, "cancel")->click();
  });
  f.trigger("Import with options...");
  EXPECT_FALSE(f.w().importPreview()->isVisible());
  EXPECT_EQ(f.list()->count(), 0);
}

TEST(ImportWithOptions, UseForFilesLikeThisAppliesToImportAndShiftDropUntilUnchecked) {
  QTemporaryDir data;
  const QString first = data.filePath("run1.csv");
  const QString second = data.filePath("run2.csv");
  const QString other = data.filePath("other.csv");
  writeFile(first.toStdString(), std::string("Sample: A\n") + kThreeColumns);
  writeFile(second.toStdString(), "Sample: B-7\na;b;c\n10;20;30\n11;21;31\n");
  writeFile(other.toStdString(), kThreeColumns);
  Fixture f({"varnix"}, "[Import]\r\nFolder=/somewhere\r\n[View]\r\nFollow files=0\r\n");
  f.prompts.files = {first};
  f.whenOpen([&] {
    PreviewKeys k{f.w().importPreview()};
    EXPECT_FALSE(part<QCheckBox>(k.dialog, "remember")->isChecked());
    for (int i = 0; i < 5; ++i) k.key(Qt::Key_Tab);
    k.type("2");  // x column 2
    for (int i = 0; i < 3; ++i) k.key(Qt::Key_Tab);
    ASSERT_EQ(k.focusName(), "remember");
    k.key(Qt::Key_Space);
    EXPECT_TRUE(part<QCheckBox>(k.dialog, "remember")->isChecked());
    k.key(Qt::Key_Return);
  });
  f.trigger("Import with options...");
  ASSERT_EQ(f.list()->count(), 2);  // y from columns 1 and 3 against column 2
  const std::string ini = f.iniText();
  EXPECT_NE(ini.find("[Import settings]\r\ncsv "), std::string::npos) << ini;
  EXPECT_NE(ini.find("=x=2\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Follow files=0"), std::string::npos) << ini;

  // A file like it (other sample, other numbers) comes in the same way by
  // File, Import and by dropping with Shift; another kind of file by the guess.
  f.prompts.files = {second + "\n" + other};
  f.trigger("Import...");
  ASSERT_EQ(f.list()->count(), 6);
  EXPECT_EQ(f.w().store().series(2).points(), (std::vector<Point>{{20, 10}, {21, 11}}));
  EXPECT_EQ(f.w().store().series(4).points(), (std::vector<Point>{{1, 2}, {2, 4}, {3, 6}}));
  const QStringList lines = f.w().importSummary()->text().split('\n');
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].endsWith("; read with the settings kept for files like this: x=2"))
      << lines[0].toStdString();
  EXPECT_FALSE(lines[1].contains("settings kept")) << lines[1].toStdString();
  EXPECT_EQ(f.w().information()->text(), " 4 files loaded. Press <R> to rescale");
  f.w().dropFiles({second}, Qt::ShiftModifier);
  ASSERT_EQ(f.list()->count(), 8);
  EXPECT_EQ(f.w().store().series(6).points(), (std::vector<Point>{{20, 10}, {21, 11}}));
  // varnix-cli knows nothing of the settings file: the history says what was used.
  const QString script = data.filePath("session.vxs");
  writeFile(script.toStdString(), f.w().sessionScript() + "dump\r\n");
  QProcess cli;
  cli.start(VARNIX_CLI, {script});
  ASSERT_TRUE(cli.waitForFinished(60000));
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  // Each slot's name and points, as the window has them.
  std::string expected;
  for (std::size_t i = 0; i < f.w().store().count(); ++i) {
    const Graph& g = f.w().store().graph(i);
    expected += "slot " + std::to_string(i) + " name=" + g.name + "\n";
    for (const Point& p : g.series.points())
      expected += formatShortest(p.x) + " " + formatShortest(p.y) + "\n";
  }
  std::string replayed;
  for (const QString& line : QString::fromUtf8(cli.readAllStandardOutput()).split('\n')) {
    if (line.startsWith("slot "))
      replayed += line.left(line.indexOf(" path=")).toStdString() + "\n";
    else if (!line.isEmpty() && !line.startsWith("# ") && !line.startsWith("count="))
      replayed += line.toStdString() + "\n";
  }
  EXPECT_EQ(replayed, expected);

  // Opened for such a file, the window starts from what was kept; unchecked,
  // the guess is back.
  f.prompts.files = {second};
  f.whenOpen([&] {
    PreviewKeys k{f.w().importPreview()};
    EXPECT_TRUE(part<QCheckBox>(k.dialog, "remember")->isChecked());
    EXPECT_EQ(part<QSpinBox>(k.dialog, "x")->value(), 2);
    part<QCheckBox>(k.dialog, "remember")->click();
    part<QPushButton>(k.dialog, "ok")->click();
  });
  f.trigger("Import with options...");
  ASSERT_EQ(f.list()->count(), 10);
  f.w().importFiles({second});
  ASSERT_EQ(f.list()->count(), 12);
  EXPECT_EQ(f.w().store().series(10).points(), (std::vector<Point>{{10, 20}, {11, 21}}));
}

TEST(ImportWithOptions, TheSummaryWindowOpensItForTheFileOfTheCursorLine) {
  QTemporaryDir data;
  const QString a = data.filePath("a.csv");
  const QString b = data.filePath("b.txt");
  writeFile(a.toStdString(), kThreeColumns);
  writeFile(b.toStdString(), "1 5\n2 6\n");
  Fixture f;
  f.w().importFiles({a, b});
  ImportSummaryWindow* summary = f.w().importSummary();
  auto* text = part<QPlainTextEdit>(summary, "text");
  QTextCursor cursor = text->textCursor();
  cursor.movePosition(QTextCursor::End);
  text->setTextCursor(cursor);
  QString shown;
  f.whenOpen([&] {
    shown = part<QLabel>(f.w().importPreview(), "file")->text();
    QTest::keyClick(f.w().importPreview(), Qt::Key_Escape);
  });
  part<QPushButton>(summary, "options")->click();
  EXPECT_EQ(shown, b);
  EXPECT_EQ(f.list()->count(), 3);  // Escape: nothing more
}

}  // namespace
}  // namespace varnix
