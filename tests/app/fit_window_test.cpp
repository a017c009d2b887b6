// The Fit, Baseline and Remove spikes windows driven as a user drives them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <numbers>
#include <string>

#include "app/fit_components.h"
#include "app/main_window.h"
#include "app/number_cell.h"
#include "layout_check.h"
#include "scripted_prompts.h"
#include "test_util.h"
#include "view/chart_view.h"
#include "workspace/number_text.h"

namespace varnix {
namespace {

using test::readFile;
using test::ScriptedPrompts;
using test::writeFile;

template <typename T>
T* part(QObject* window, const char* name) {
  T* p = window->findChild<T*>(name);
  EXPECT_NE(p, nullptr) << name;
  return p;
}

/// The closed form of the Gaussian peak: height h, centre c, FWHM w.
double gaussian(double x, double h, double c, double w) {
  return h * std::exp(-4 * std::numbers::ln2 * (x - c) * (x - c) / (w * w));
}

/// A data file of a Gaussian on a sloping line, x from 0 to 100 in steps of
/// 0.5, with a wiggle of the given size that stands for noise and a spike.
void writeSpectrum(const QString& path, double centre, double spikeAt = -1, double noise = 0) {
  std::string text;
  for (int i = 0; i <= 200; ++i) {
    const double x = 0.5 * i;
    double y = 2 + 0.05 * x + gaussian(x, 5, centre, 6) + noise * std::sin(2.3 * i);
    if (x == spikeAt) y += 40;
    text += formatShortest(x) + " " + formatShortest(y) + "\r\n";
  }
  writeFile(path.toStdString(), text);
}

struct Fixture {
  QTemporaryDir dir;
  ScriptedPrompts prompts;
  std::unique_ptr<SettingsFile> settings;
  std::unique_ptr<MainWindow> window;

  Fixture() {
    settings = std::make_unique<SettingsFile>(dir.filePath("Varnix.ini").toStdString());
    window = std::make_unique<MainWindow>(prompts, *settings, QStringList{"varnix"});
    window->resize(1000, 700);
    window->show();
    QApplication::setActiveWindow(window.get());
    (void)QTest::qWaitForWindowActive(window.get());
  }
  ~Fixture() {
    prompts.answers = {UserPrompts::Answer::Yes};
    window->close();
  }
  MainWindow& w() { return *window; }
  QListWidget* list() { return window->graphList(); }
  void key(int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QApplication::setActiveWindow(window.get());
    list()->setFocus();
    QTest::keyClick(list(), static_cast<Qt::Key>(k), m);
  }
  /// Loads the files, rescales and puts the cursors at the chart's edges,
  /// so that every point lies between them.
  void loadWhole(const QStringList& files) {
    window->addFiles(files);
    key(Qt::Key_R);
    const int right = window->chart()->width();
    while (window->secondCursorColumn() < right - 5)
      key(Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
    while (window->firstCursorColumn() > 0) key(Qt::Key_Left, Qt::ControlModifier);
  }
  /// The value in the parameter table of the Fit window.
  double value(const QString& name, int column = 1) {
    auto* t = part<QTableWidget>(window->fitWindow(), "parameters");
    for (int r = 0; r < t->rowCount(); ++r)
      if (t->item(r, 0)->text() == name)
        return readNumber(t->item(r, column)->text().toStdString()).value_or(NAN);
    ADD_FAILURE() << name.toStdString();
    return NAN;
  }
  /// Clicks the Fit window's chart half way up, in the first column at x or
  /// past it.
  void clickFitChartAt(double x) {
    ChartView* chart = part<ChartView>(window->fitWindow(), "preview");
    const QRect r = chart->plotRect();
    int column = r.left();
    while (column < r.right() && chart->xAtColumn(column) < x) ++column;
    QTest::mouseClick(chart->findChild<QWidget*>(), Qt::LeftButton, {},
                      QPoint(column, r.center().y()));
  }
  void setCell(const QString& name, int column, const QString& text) {
    auto* t = part<QTableWidget>(window->fitWindow(), "parameters");
    for (int r = 0; r < t->rowCount(); ++r)
      if (t->item(r, 0)->text() == name) t->item(r, column)->setText(text);
  }
};

TEST(FitWindow, GaussianOnALineGivesItsParametersAndGraphs) {
  Fixture f;
  writeSpectrum(f.dir.filePath("peak.dat"), 40);
  f.loadWhole({f.dir.filePath("peak.dat")});
  f.key(Qt::Key_F, Qt::ControlModifier);
  FitWindow* fw = f.w().fitWindow();
  ASSERT_TRUE(fw->isVisible());
  part<QComboBox>(fw, "baseline")->setCurrentIndex(2);             // linear
  EXPECT_EQ(part<QLineEdit>(fw, "formula")->text(), "b0 + b1*x");  // at once
  // Built from the choices: the user edits it only with Own formula.
  EXPECT_TRUE(part<QLineEdit>(fw, "formula")->isReadOnly());
  // A click on the peak's flank in the window's chart adds it.
  f.clickFitChartAt(42);
  EXPECT_EQ(part<QLineEdit>(fw, "formula")->text(), "b0 + b1*x + gauss(x,h1,c1,w1)");
  // The guess starts near the peak; the fit lands on it.
  EXPECT_NEAR(f.value("c1"), 40, 1);
  part<QPushButton>(fw, "fit")->click();
  ASSERT_TRUE(f.prompts.errors.isEmpty()) << f.prompts.errors.join("; ").toStdString();
  EXPECT_NEAR(f.value("b0"), 2, 1e-8);
  EXPECT_NEAR(f.value("b1"), 0.05, 1e-10);
  EXPECT_NEAR(f.value("h1"), 5, 1e-8);
  EXPECT_NEAR(f.value("c1"), 40, 1e-8);
  EXPECT_NEAR(f.value("w1"), 6, 1e-8);
  // Values and errors in full at the window's first size: every digit shows.
  auto* params = part<QTableWidget>(fw, "parameters");
  for (int r = 0; r < params->rowCount(); ++r)
    for (int c : {1, 5}) {
      const QString text = params->item(r, c)->text();
      EXPECT_LE(params->fontMetrics().horizontalAdvance(text) + 6, params->columnWidth(c))
          << text.toStdString();
    }
  const QString results = part<QPlainTextEdit>(fw, "results")->toPlainText();
  EXPECT_TRUE(results.contains("R squared 1,")) << results.toStdString();
  // Area of a Gaussian: h w sqrt(pi / (4 ln 2)).
  const double area = 5 * 6 * std::sqrt(std::numbers::pi / (4 * std::numbers::ln2));
  EXPECT_TRUE(results.contains("area " + QString::fromStdString(formatDataNumber(area, 7))))
      << results.toStdString();
  EXPECT_TRUE(results.contains("FWHM 6 ±")) << results.toStdString();

  // The model, the residual and the components as new graphs.
  part<QPushButton>(fw, "addModel")->click();
  part<QPushButton>(fw, "addResidual")->click();
  part<QPushButton>(fw, "addComponents")->click();
  ASSERT_TRUE(f.prompts.errors.isEmpty()) << f.prompts.errors.join("; ").toStdString();
  ASSERT_EQ(f.list()->count(), 5);
  EXPECT_EQ(f.list()->item(1)->text(), "peak_fit.dat");
  EXPECT_EQ(f.list()->item(2)->text(), "peak_residual.dat");
  EXPECT_EQ(f.list()->item(4)->text(), "peak_part2.dat");
  // The history repeats the three in varnix-cli.
  const std::string script = f.w().sessionScript();
  EXPECT_NE(script.find("fit-curve\r\nfit-residual\r\nfit-components \"b0 + b1*x\" "
                        "\"gauss(x,h1,c1,w1)\"\r\n"),
            std::string::npos)
      << script;
  const Series& model = f.w().store().series(1);
  const Series& residual = f.w().store().series(2);
  const Series& line = f.w().store().series(3);
  const Series& peak = f.w().store().series(4);
  ASSERT_EQ(model.count(), 201u);
  for (std::size_t j = 0; j < model.count(); j += 17) {
    const double x = model.x(j);
    EXPECT_NEAR(model.y(j), 2 + 0.05 * x + gaussian(x, 5, 40, 6), 1e-8);
    EXPECT_NEAR(residual.y(j), 0, 1e-8);
    EXPECT_NEAR(line.y(j), 2 + 0.05 * x, 1e-8);
    EXPECT_NEAR(peak.y(j), gaussian(x, 5, 40, 6), 1e-8);
  }
}

// Peaks added by clicks keep their numbers; Remove peak takes the chosen one.
TEST(FitWindow, TheChosenPeakIsRemoved) {
  Fixture f;
  writeSpectrum(f.dir.filePath("peak.dat"), 40);
  f.loadWhole({f.dir.filePath("peak.dat")});
  f.key(Qt::Key_F, Qt::ControlModifier);
  FitWindow* fw = f.w().fitWindow();
  for (const double at : {20.0, 40.0, 60.0}) f.clickFitChartAt(at);
  const ChartView* preview = part<ChartView>(fw, "preview");
  auto* peaks = part<QListWidget>(fw, "peaks");
  ASSERT_EQ(peaks->count(), 3);
  EXPECT_NEAR(f.value("c2"), 40, 1);
  const double third = f.value("c3");
  peaks->setCurrentRow(1);
  part<QPushButton>(fw, "removePeak")->click();
  ASSERT_EQ(peaks->count(), 2);
  EXPECT_TRUE(peaks->item(0)->text().startsWith("1: "));
  EXPECT_TRUE(peaks->item(1)->text().startsWith("3: "));
  const QString formula = part<QLineEdit>(fw, "formula")->text();
  EXPECT_TRUE(formula.contains("gauss(x,h1,c1,w1)") && formula.contains("gauss(x,h3,c3,w3)") &&
              !formula.contains("c2"))
      << formula.toStdString();
  EXPECT_EQ(f.value("c3"), third);
  // With no peak chosen nothing is removed.
  peaks->setCurrentRow(-1);
  part<QPushButton>(fw, "removePeak")->click();
  EXPECT_EQ(peaks->count(), 2);
  // The preview draws the data, each peak and their sum; one peak is its
  // own sum.
  EXPECT_EQ(preview->seriesCount(), 4);
  peaks->setCurrentRow(0);
  part<QPushButton>(fw, "removePeak")->click();
  ASSERT_EQ(peaks->count(), 1);
  EXPECT_EQ(preview->seriesCount(), 2);
  // Below, the residual of every point of the data.
  const ChartView* residual = part<ChartView>(fw, "residual");
  EXPECT_EQ(residual->seriesCount(), 1);
  EXPECT_EQ(residual->seriesPointCount(0), preview->seriesPointCount(0));
  EXPECT_GT(residual->seriesPointCount(0), 100);
}

// Every control of the analysis windows has its place in the window's
// layout (one left out sits in the top left corner, over the others).
TEST(FitWindow, EveryControlOfTheAnalysisWindowsIsLaidOut) {
  Fixture f;
  writeSpectrum(f.dir.filePath("peak.dat"), 40, 70);
  f.loadWhole({f.dir.filePath("peak.dat")});
  f.key(Qt::Key_F, Qt::ControlModifier);
  f.key(Qt::Key_B, Qt::ControlModifier);
  f.key(Qt::Key_R, Qt::ControlModifier);
  for (QDialog* window : std::initializer_list<QDialog*>{f.w().fitWindow(), f.w().baselineWindow(),
                                                         f.w().despikeWindow()}) {
    ASSERT_NE(window, nullptr);
    SCOPED_TRACE(window->windowTitle().toStdString());
    int controls = 0;
    EXPECT_EQ(test::controlsNotLaidOut(window, controls), QStringList());
    EXPECT_GE(controls, 3);
  }
  // A fresh window has a formula without parameters: an empty table, and
  // nothing to cancel.
  EXPECT_EQ(part<QTableWidget>(f.w().fitWindow(), "parameters")->rowCount(), 0);
  EXPECT_FALSE(part<QPushButton>(f.w().fitWindow(), "cancel")->isEnabled());
  // Made as small as it goes, a window with a chart keeps a chart to work
  // on; made wide, its buttons keep their size at the right edge.
  for (QDialog* window : std::initializer_list<QDialog*>{f.w().fitWindow(), f.w().baselineWindow(),
                                                         f.w().despikeWindow()}) {
    SCOPED_TRACE(window->windowTitle().toStdString());
    window->resize(1, 1);
    QApplication::processEvents();
    const QSize chart = part<ChartView>(window, "preview")->size();
    EXPECT_GE(chart.width(), 400);
    EXPECT_GE(chart.height(), 200);
    window->resize(1200, 700);
    QApplication::processEvents();
    auto* close = part<QPushButton>(window, "close");
    EXPECT_LE(close->width(), close->sizeHint().width() + 2);
    EXPECT_GE(close->geometry().right(), window->width() - 30);
  }
}

// The number columns of the windows' tables sort by number, not text;
// cells without a number come last either way, and equal numbers keep
// their order.
TEST(FitWindow, NumberCellsSortByNumberWithTheEmptyOnesLast) {
  QTableWidget table(0, 2);
  struct Row {
    NumberCell* cell;
    const char* id;
  };
  auto* edited = new NumberCell("7");
  const Row rows[] = {{new NumberCell("2"), "a"},         {new NumberCell("–"), "b"},
                      {new NumberCell("10"), "c"},        {new NumberCell("-3"), "d"},
                      {new NumberCell("2"), "e"},         {new NumberCell("failed"), "f"},
                      {new NumberCell("1e300"), "g"},     {new NumberCell("–"), "h"},
                      {new NumberCell("1.0", 0.95), "i"}, {edited, "j"}};
  table.setRowCount(static_cast<int>(std::size(rows)));
  for (int r = 0; r < table.rowCount(); ++r) {
    table.setItem(r, 0, rows[r].cell);
    table.setItem(r, 1, new QTableWidgetItem(rows[r].id));
  }
  edited->setText("-7");  // sorts by what the cell says now
  auto order = [&] {
    QString ids;
    for (int r = 0; r < table.rowCount(); ++r) ids += table.item(r, 1)->text();
    return ids;
  };
  // Sorting from the header, as a user does.
  table.setSortingEnabled(true);
  table.horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
  EXPECT_EQ(order(), "jdiaecgfbh");
  table.horizontalHeader()->setSortIndicator(0, Qt::DescendingOrder);
  EXPECT_EQ(order(), "gcaeidjbhf");
}

// A peak's area and FWHM with errors propagated through the covariance of
// its height and width (closed forms: the area is proportional to h * w).
TEST(FitWindow, PeakAreaAndWidthCarryTheirPropagatedErrors) {
  const double gaussArea = std::sqrt(std::numbers::pi / (4 * std::numbers::ln2));
  const double lorentzArea = std::numbers::pi / 2;
  // h = 2, c = 5, w = 3; variances 0.01, 0.04, 0.09; h and w covary by cov.
  auto covariance = [](double cov) {
    return std::vector<double>{0.01, 0, cov, 0, 0.04, 0, cov, 0, 0.09};
  };
  struct Case {
    PeakKind kind;
    double factor, cov;
  };
  for (const Case& c :
       {Case{PeakKind::Gauss, gaussArea, 0}, Case{PeakKind::Lorentz, lorentzArea, 0},
        Case{PeakKind::Gauss, gaussArea, 0.02}, Case{PeakKind::Lorentz, lorentzArea, -0.02}}) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    const std::vector<double> values{2, 5, 3}, cov = covariance(c.cov);
    const PeakSummary s = peakShape(c.kind, values, cov);
    // var(h w) = w^2 var h + h^2 var w + 2 h w cov(h, w)
    const double areaError = c.factor * std::sqrt(9 * 0.01 + 4 * 0.09 + 2 * 6 * c.cov);
    EXPECT_NEAR(s.area, c.factor * 6, 1e-12);
    EXPECT_NEAR(s.areaError, areaError, 1e-7 * areaError);
    EXPECT_NEAR(s.fwhm, 3, 1e-12);
    EXPECT_NEAR(s.fwhmError, 0.3, 1e-7);
    // Without a covariance (a singular fit) the values stay, the errors are
    // not determined.
    const PeakSummary none = peakShape(c.kind, values, {});
    EXPECT_EQ(none.area, s.area);
    EXPECT_TRUE(std::isnan(none.areaError) && std::isnan(none.fwhmError));
  }
  // The block of a peak's parameters out of the whole fit's covariance.
  FitResult r;
  r.values = {1, 2, 3};
  r.covariance = {11, 12, 13, 21, 22, 23, 31, 32, 33};
  r.errorsDetermined = true;
  EXPECT_EQ(covarianceOf(r, {2, 0}), (std::vector<double>{33, 31, 13, 11}));
  r.errorsDetermined = false;
  EXPECT_TRUE(covarianceOf(r, {2, 0}).empty());
}

TEST(FitWindow, BadInputGetsItsMessageAndChangesNothing) {
  Fixture f;
  writeSpectrum(f.dir.filePath("peak.dat"), 40);
  f.loadWhole({f.dir.filePath("peak.dat")});
  f.key(Qt::Key_F, Qt::ControlModifier);
  FitWindow* fw = f.w().fitWindow();
  // No peak as prominent as the threshold, a threshold that is no number.
  for (const char* t : {"1000", "-1", "lots", "1e400"}) {
    part<QLineEdit>(fw, "threshold")->setText(t);
    f.prompts.errors.clear();
    part<QPushButton>(fw, "findPeaks")->click();
    EXPECT_EQ(f.prompts.errors.size(), 1) << t;
    EXPECT_EQ(part<QLineEdit>(fw, "formula")->text(), "0");
  }
  part<QCheckBox>(fw, "ownFormula")->setChecked(true);
  auto* formula = part<QLineEdit>(fw, "formula");
  EXPECT_FALSE(formula->isReadOnly());
  struct Case {
    QString formula;
    std::function<void()> edit;
    QString message;
  };
  const Case cases[] = {
      {"a + gauss(x,h,c", [] {}, "Formula error at position"},
      {"a*x", [&] { f.setCell("a", 1, ""); }, "Parameter a has no start value"},
      {"a*x", [&] { f.setCell("a", 1, "one"); }, "The start of a is not a number: one"},
      {"a*x", [&] { f.setCell("a", 1, "1e400"); }, "The start of a is not a number: 1e400"},
      {"a*x",
       [&] {
         f.setCell("a", 1, "1");
         f.setCell("a", 3, "-1e999");
       },
       "The lower bound of a is not a number: -1e999"},
      {"a*x",
       [&] {
         f.setCell("a", 1, "1");
         f.setCell("a", 3, "5");
         f.setCell("a", 4, "2");
       },
       "The lower bound of a"},
      {"a*x",
       [&] {
         f.setCell("a", 3, "2");
         f.setCell("a", 4, "5");
       },
       "The start value of a (1)"},
      {"ln(a)*x",
       [&] {
         f.setCell("a", 1, "-1");
         f.setCell("a", 3, "");
         f.setCell("a", 4, "");
       },
       "The model is not finite at the start"},
  };
  for (const Case& c : cases) {
    formula->setText(c.formula);
    c.edit();
    f.prompts.errors.clear();
    const std::vector<Point> before = f.w().store().series(0).points();
    part<QPushButton>(fw, "fit")->click();
    ASSERT_EQ(f.prompts.errors.size(), 1) << c.formula.toStdString();
    EXPECT_TRUE(f.prompts.errors[0].contains(c.message)) << f.prompts.errors[0].toStdString();
    EXPECT_EQ(f.w().store().series(0).points(), before);
    EXPECT_EQ(f.list()->count(), 1);
  }
  // Fewer points between the cursors than free parameters.
  formula->setText("a + b*x + c*x^2 + d*x^3");
  for (const char* n : {"a", "b", "c", "d"}) f.setCell(n, 1, "1");
  const int right = f.w().secondCursorColumn();
  while (f.w().firstCursorColumn() < right - 10) f.key(Qt::Key_Right, Qt::ControlModifier);
  f.prompts.errors.clear();
  part<QPushButton>(fw, "fit")->click();
  ASSERT_EQ(f.prompts.errors.size(), 1);
  EXPECT_TRUE(f.prompts.errors[0].contains("There are ")) << f.prompts.errors[0].toStdString();
  EXPECT_EQ(f.list()->count(), 1);
}

TEST(FitWindow, AClickOnCancelThroughTheWindowSystemStopsASeries) {
  Fixture f;
  QStringList files;
  for (int i = 0; i < 8; ++i) {
    files << f.dir.filePath(QString("s%1.dat").arg(i));
    writeSpectrum(files.last(), 40 + i);
  }
  f.loadWhole(files);
  f.list()->selectAll();
  f.key(Qt::Key_F, Qt::ControlModifier);
  FitWindow* fw = f.w().fitWindow();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(fw));
  part<QComboBox>(fw, "baseline")->setCurrentIndex(2);
  part<QLineEdit>(fw, "threshold")->setText("1");
  part<QPushButton>(fw, "findPeaks")->click();
  QTimer::singleShot(0, [&] {
    QPushButton* cancel = part<QPushButton>(fw, "cancel");
    // Pressed and released where the button is, as the window system delivers it.
    QTest::mouseClick(fw->windowHandle(), Qt::LeftButton, {},
                      cancel->mapTo(fw, cancel->rect().center()));
  });
  part<QPushButton>(fw, "fitSelected")->click();
  EXPECT_LT(part<QTableWidget>(fw, "seriesTable")->rowCount(), 8);
}

TEST(FitWindow, SeriesFitTableSavePlotAndReplay) {
  Fixture f;
  const QString work = f.dir.filePath("work");
  auto fresh = [&] {
    std::filesystem::remove_all(work.toStdString());
    std::filesystem::create_directories(work.toStdString());
    writeSpectrum(work + "/s110.dat", 40);
    writeSpectrum(work + "/s120.dat", 42);
    writeSpectrum(work + "/s130.dat", 44);
  };
  fresh();
  f.loadWhole({work + "/s110.dat", work + "/s120.dat", work + "/s130.dat"});
  f.list()->selectAll();
  f.key(Qt::Key_F, Qt::ControlModifier);
  FitWindow* fw = f.w().fitWindow();
  part<QComboBox>(fw, "baseline")->setCurrentIndex(2);
  part<QLineEdit>(fw, "threshold")->setText("1");
  part<QPushButton>(fw, "findPeaks")->click();
  part<QComboBox>(fw, "chain")->setCurrentIndex(1);
  // While the series runs only its Cancel answers: a key that would move a
  // cursor and a request to close the window do nothing.
  const int cursor = f.w().firstCursorColumn();
  bool ranDuringFit = false;
  QTimer::singleShot(0, [&] {
    ranDuringFit = true;
    EXPECT_TRUE(part<QPushButton>(fw, "cancel")->isEnabled());
    EXPECT_FALSE(part<QPushButton>(fw, "fitSelected")->isEnabled());
    f.key(Qt::Key_Right, Qt::ControlModifier);
    f.w().close();
  });
  part<QPushButton>(fw, "fitSelected")->click();
  EXPECT_TRUE(ranDuringFit);
  EXPECT_EQ(f.w().firstCursorColumn(), cursor);
  EXPECT_TRUE(f.w().isVisible());
  EXPECT_TRUE(f.prompts.asked.isEmpty()) << f.prompts.asked.join("; ").toStdString();
  EXPECT_FALSE(part<QPushButton>(fw, "cancel")->isEnabled());
  ASSERT_TRUE(f.prompts.errors.isEmpty()) << f.prompts.errors.join("; ").toStdString();
  auto* table = part<QTableWidget>(fw, "seriesTable");
  ASSERT_EQ(table->rowCount(), 3);
  int centre = -1;
  for (int c = 0; c < table->columnCount(); ++c)
    if (table->horizontalHeaderItem(c)->text() == "c1") centre = c;
  ASSERT_GE(centre, 0);
  // Sorted by the centre, falling: the graphs come in reverse order.
  table->sortItems(centre, Qt::DescendingOrder);
  const double centres[] = {44, 42, 40};
  const char* parameters[] = {"130", "120", "110"};
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(table->item(r, 0)->text(), parameters[r]);
    EXPECT_NEAR(readNumber(table->item(r, centre)->text().toStdString()).value(), centres[r], 1e-8);
  }
  // Save..., then the centre against the series parameter as a new graph.
  f.prompts.files = {work + "/table.dat"};
  part<QPushButton>(fw, "save")->click();
  const std::string saved = readFile((work + "/table.dat").toStdString());
  EXPECT_NE(saved.find("\r\n130 "), std::string::npos) << saved;
  part<QComboBox>(fw, "plotParameter")->setCurrentText("c1");
  const double x1 = f.w().chart()->xAtColumn(f.w().firstCursorColumn()),
               x2 = f.w().chart()->xAtColumn(f.w().secondCursorColumn());
  part<QPushButton>(fw, "plot")->click();
  // The fit range stays where it was, whatever x the new graph has.
  EXPECT_EQ(f.w().chart()->xAtColumn(f.w().firstCursorColumn()), x1);
  EXPECT_EQ(f.w().chart()->xAtColumn(f.w().secondCursorColumn()), x2);
  ASSERT_EQ(f.list()->count(), 4);
  const Series& plotted = f.w().store().series(3);
  ASSERT_EQ(plotted.count(), 3u);
  EXPECT_EQ(plotted.x(0), 110);  // beyond the spectra's x
  EXPECT_NEAR(plotted.y(2), 44, 1e-8);

  // The history replayed by varnix-cli writes the same table.
  const QString script = f.dir.filePath("session.vxs");
  f.prompts.files = {script};
  f.w().action("Save session as script...")->trigger();
  const std::string text = readFile(script.toStdString());
  EXPECT_NE(text.find("\r\nfit-chained \"b0 + b1*x + gauss(x,h1,c1,w1)\" "), std::string::npos)
      << text;
  EXPECT_NE(text.find("\r\nfit-save "), std::string::npos) << text;
  fresh();
  QProcess cli;
  cli.start(VARNIX_CLI, {script});
  ASSERT_TRUE(cli.waitForFinished(60000));
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  EXPECT_EQ(readFile((work + "/table.dat").toStdString()), saved);
}

TEST(BaselineAndSpikes, SpikeMarkedThenReplacedAndUndone) {
  Fixture f;
  writeSpectrum(f.dir.filePath("spiky.dat"), 40, 70, 0.2);
  f.loadWhole({f.dir.filePath("spiky.dat")});
  const std::vector<Point> original = f.w().store().series(0).points();

  // One planted spike: one point marked, then replaced by its neighbours' mean.
  f.key(Qt::Key_R, Qt::ControlModifier);
  DespikeWindow* d = f.w().despikeWindow();
  ASSERT_TRUE(d->isVisible());
  EXPECT_TRUE(part<QLabel>(d, "status")->text().startsWith("1 point "))
      << part<QLabel>(d, "status")->text().toStdString();
  EXPECT_EQ(f.w().store().series(0).points(), original);  // nothing before OK
  part<QPushButton>(d, "ok")->click();
  ASSERT_TRUE(f.prompts.errors.isEmpty()) << f.prompts.errors.join("; ").toStdString();
  const Series& s = f.w().store().series(0);
  for (std::size_t j = 0; j < s.count(); ++j) {
    if (s.x(j) != 70) {
      EXPECT_EQ(s.y(j), original[j].y) << j;
      continue;
    }
    // Width 3: three neighbours on either side.
    double sum = 0;
    for (std::size_t k = j - 3; k <= j + 3; ++k)
      if (k != j) sum += original[k].y;
    EXPECT_NEAR(s.y(j), sum / 6, 1e-12);
  }
  f.key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(f.w().store().series(0).points(), original);
  // A threshold beyond the number range is the field's own message.
  part<QLineEdit>(d, "threshold")->setText("1e400");
  EXPECT_EQ(part<QLabel>(d, "status")->text(), "The threshold is not a number: 1e400");
}

TEST(BaselineAndSpikes, BaselineDrawnThenSubtractedAndUndone) {
  Fixture f;
  writeSpectrum(f.dir.filePath("peak.dat"), 40);
  f.loadWhole({f.dir.filePath("peak.dat")});
  const std::vector<Point> original = f.w().store().series(0).points();
  // A straight line through ranges away from the peak takes the line away.
  f.key(Qt::Key_B, Qt::ControlModifier);
  BaselineWindow* b = f.w().baselineWindow();
  ASSERT_TRUE(b->isVisible());
  part<QComboBox>(b, "method")->setCurrentIndex(1);
  part<QSpinBox>(b, "degree")->setValue(1);
  part<QLineEdit>(b, "ranges")->setText("0 20 75 100");
  part<QPushButton>(b, "ok")->click();
  ASSERT_TRUE(f.prompts.errors.isEmpty()) << f.prompts.errors.join("; ").toStdString();
  EXPECT_NEAR(f.w().store().series(0).y(0), 0, 1e-9);
  EXPECT_NEAR(f.w().store().series(0).y(80), gaussian(40, 5, 40, 6), 1e-9);
  f.key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(f.w().store().series(0).points(), original);

  // Bad fields: the message, nothing changed.
  struct Case {
    int method;
    QString lambda, p, ranges, message;
  };
  for (const Case& c :
       {Case{0, "-1", "0.01", "", ""}, Case{0, "1e5", "1.5", "", ""}, Case{0, "x", "0.01", "", ""},
        Case{0, "1e400", "0.01", "", "The lambda is not a number: 1e400"},
        Case{1, "", "", "0 1e999", "The x ranges are not numbers: 0 1e999"},
        Case{1, "", "", "200 300", ""}, Case{1, "", "", "1 2 3", ""}}) {
    part<QComboBox>(b, "method")->setCurrentIndex(c.method);
    part<QLineEdit>(b, "lambda")->setText(c.lambda);
    part<QLineEdit>(b, "p")->setText(c.p);
    part<QLineEdit>(b, "ranges")->setText(c.ranges);
    f.prompts.errors.clear();
    part<QPushButton>(b, "ok")->click();
    ASSERT_EQ(f.prompts.errors.size(), 1) << c.lambda.toStdString() << c.ranges.toStdString();
    EXPECT_TRUE(f.prompts.errors[0].startsWith(c.message)) << f.prompts.errors[0].toStdString();
    EXPECT_EQ(f.w().store().series(0).points(), original);
  }
  // ALS takes most of the line away and can be undone.
  part<QComboBox>(b, "method")->setCurrentIndex(0);
  part<QLineEdit>(b, "lambda")->setText("1e5");
  part<QLineEdit>(b, "p")->setText("0.01");
  part<QPushButton>(b, "ok")->click();
  EXPECT_LT(std::abs(f.w().store().series(0).y(200)), 1.0);
  f.key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(f.w().store().series(0).points(), original);
}

}  // namespace
}  // namespace varnix
