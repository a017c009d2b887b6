// The chart on Qt's offscreen platform: a full redraw through ChartView
// beside QCustomPlot drawing the same data directly, a cursor step (the
// overlay only) and a zoom step, and start-up with the sample spectra.
#include <benchmark/benchmark.h>

#include <qcustomplot.h>
#include <QApplication>
#include <QDir>
#include <cmath>
#include <memory>

#include "app/main_window.h"
#include "app/measure_window.h"
#include "processing/measure.h"
#include "view/chart_view.h"
#include "workspace/graph_store.h"

namespace {

using varnix::Point;
using varnix::Series;

struct Shape {
  int graphs;
  int points;
};
const Shape kShapes[] = {{301, 10000}, {10, 1000000}};

Series curve(int n, int seed) {
  std::vector<Point> p(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double x = 1.2 + 2.0 * i / n;
    p[static_cast<std::size_t>(i)] = {x, 20 +
                                             1000 * std::exp(-0.5 * std::pow((x - 2.3) / 0.05, 2)) +
                                             ((i * 7919 + seed) % 101) * 0.1};
  }
  Series s;
  s.assignSorted(std::move(p));
  return s;
}

const std::vector<Series>& data(int shape) {
  static std::vector<Series> sets[2];
  auto& d = sets[shape];
  if (d.empty())
    for (int g = 0; g < kShapes[shape].graphs; ++g) d.push_back(curve(kShapes[shape].points, g));
  return d;
}

std::unique_ptr<varnix::ChartView> makeView(int shape) {
  auto view = std::make_unique<varnix::ChartView>();
  view->resize(1200, 800);
  view->show();
  const auto& d = data(shape);
  for (std::size_t i = 0; i < d.size(); ++i) view->setSeries(static_cast<int>(i), d[i], 16776960);
  view->redraw();
  return view;
}

void Redraw_varnix(benchmark::State& state) {
  auto view = makeView(static_cast<int>(state.range(0)));
  for (auto _ : state) view->redraw();
}

void Redraw_reference(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  QCustomPlot plot;
  plot.resize(1200, 800);
  plot.show();
  plot.setNotAntialiasedElements(QCP::aeAll);
  plot.setPlottingHint(QCP::phFastPolylines, true);
  for (const Series& s : data(shape)) {
    QCPGraph* g = plot.addGraph();
    QVector<QCPGraphData> v(static_cast<qsizetype>(s.count()));
    for (std::size_t j = 0; j < s.count(); ++j) v[static_cast<qsizetype>(j)] = {s.x(j), s.y(j)};
    g->data()->set(v, true);
  }
  plot.rescaleAxes();
  for (auto _ : state) {
    plot.rescaleAxes();
    plot.replot(QCustomPlot::rpImmediateRefresh);
  }
}

void CursorStep_varnix(benchmark::State& state) {
  auto view = makeView(static_cast<int>(state.range(0)));
  int column = 100;
  for (auto _ : state) view->setCursorLines(++column % 900 + 50, 300, true);
}

// A cursor step with the Measure window open: one selected graph of the
// shape measured between the cursors and the window's table refilled (the
// cursor overlay itself is CursorStep_varnix). Compare with Redraw_varnix.
void MeasureStep_varnix(benchmark::State& state) {
  auto view = makeView(static_cast<int>(state.range(0)));
  varnix::GraphStore store;
  varnix::Graph& g = store.append("g.dat", "g.dat");
  g.series = data(static_cast<int>(state.range(0)))[0];
  varnix::Selection sel;
  sel.rows = {0};
  varnix::MeasureWindow window(nullptr);
  window.show();
  int column = 0;
  for (auto _ : state) {
    ++column;
    const double x1 = view->xAtColumn(300 + column % 200), x2 = view->xAtColumn(800);
    window.setRows(varnix::measureGraphs(store, sel, x1, x2), x1, x2);
  }
}

void ZoomStep_varnix(benchmark::State& state) {
  auto view = makeView(static_cast<int>(state.range(0)));
  using Axis = varnix::ChartView::Axis;
  view->setAxisAutomatic(Axis::Bottom, false);
  view->setAxisAutomatic(Axis::Left, false);
  int step = 0;
  for (auto _ : state) {
    // Zoom In, and Zoom Out every other step so the range stays comparable.
    view->zoomBy((++step % 2) ? -0.1L : 0.1L);
    view->redraw();
  }
}

class NoPrompts : public varnix::UserPrompts {
 public:
  Answer warning(const QString&) override { return Answer::Yes; }
  Answer question(const QString&) override { return Answer::Yes; }
  void message(const QString&) override {}
  void error(const QString&) override {}
  QString saveFileName(const QString&) override { return {}; }
  QString savePictureName(const QString&) override { return {}; }
  QString folder(const QString&) override { return {}; }
  QString openFileName(const QString&, const QString&) override { return {}; }
  QString saveTextName(const QString&, const QString&, const QString&) override { return {}; }
  QSize pictureSize(const QSize& s) override { return s; }
  void beep() override {}
  bool openExternally(const QString&) override { return true; }
};

void Startup_varnix(benchmark::State& state) {
  QStringList files;
  for (const QString& f : QDir(VARNIX_SAMPLES).entryList({"T*K.dat"}, QDir::Files, QDir::Name))
    files << QString(VARNIX_SAMPLES) + "/" + f;
  const QString ini = QDir::temp().filePath("varnix-bench.ini");
  for (auto _ : state) {
    NoPrompts prompts;
    varnix::SettingsFile settings(ini.toStdString());
    varnix::MainWindow w(prompts, settings, {"varnix", files.first()});
    w.resize(1200, 800);
    w.show();
    w.addFiles(files.mid(1));
    QApplication::processEvents();
  }
  state.counters["files"] = static_cast<double>(files.size());
}

}  // namespace

BENCHMARK(Redraw_varnix)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Redraw_reference)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(CursorStep_varnix)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(MeasureStep_varnix)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ZoomStep_varnix)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Startup_varnix)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The offscreen platform's notes about window features are not results.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
