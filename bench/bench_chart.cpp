// The chart on Qt's offscreen platform: a full redraw through ChartView
// beside QCustomPlot drawing the same data directly, a cursor step (the
// overlay only) and a zoom step, and start-up with the sample spectra.
#include <benchmark/benchmark.h>

#include <qcustomplot.h>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <algorithm>
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
// Arguments of the redraw benchmarks: the shape, and whether the view is
// zoomed to 1% of the x range.
const Shape kShapes[] = {{301, 10000}, {10, 1000000}, {1, 1000000}, {301, 100000}};
constexpr int kWidth = 1600, kHeight = 900;

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
  static std::vector<Series> sets[std::size(kShapes)];
  auto& d = sets[shape];
  if (d.empty())
    for (int g = 0; g < kShapes[shape].graphs; ++g) d.push_back(curve(kShapes[shape].points, g));
  return d;
}

/// The x range of a zoom to 1% in the middle of the curves.
constexpr double kZoomLow = 2.29, kZoomHigh = 2.31;

std::unique_ptr<varnix::ChartView> makeView(int shape, bool zoomed = false) {
  auto view = std::make_unique<varnix::ChartView>();
  view->resize(kWidth, kHeight);
  view->show();
  // As in the main window: the chart reads the points where they are.
  const auto& d = data(shape);
  view->setSeriesSource([&d](int i) -> const Series* {
    return static_cast<std::size_t>(i) < d.size() ? &d[static_cast<std::size_t>(i)] : nullptr;
  });
  for (std::size_t i = 0; i < d.size(); ++i) view->showSeries(static_cast<int>(i), 16776960);
  if (zoomed) {
    view->setAxisAutomatic(varnix::ChartView::Axis::Bottom, false);
    view->setAxisMax(varnix::ChartView::Axis::Bottom, kZoomHigh);
    view->setAxisMin(varnix::ChartView::Axis::Bottom, kZoomLow);
  }
  view->redraw();
  return view;
}

void Redraw_varnix(benchmark::State& state) {
  auto view = makeView(static_cast<int>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) view->redraw();
}

/// The practical limit: every visible point visited once, the first, last,
/// smallest and largest y of each pixel column kept, and the result drawn
/// with QPainter into an image of the chart's size (no axes).
void Redraw_reference(benchmark::State& state) {
  const auto& d = data(static_cast<int>(state.range(0)));
  const bool zoomed = state.range(1) != 0;
  double x0 = d[0].minX(), x1 = d[0].maxX(), y0 = d[0].minY(), y1 = d[0].maxY();
  for (const Series& s : d) {
    x0 = std::min(x0, s.minX());
    x1 = std::max(x1, s.maxX());
    y0 = std::min(y0, s.minY());
    y1 = std::max(y1, s.maxY());
  }
  if (zoomed) {
    x0 = kZoomLow;
    x1 = kZoomHigh;
  }
  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  std::vector<QLineF> line;
  for (auto _ : state) {
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setPen(QPen(QColor(0, 255, 255), 1));
    const double kx = (kWidth - 1) / (x1 - x0), ky = -(kHeight - 1) / (y1 - y0);
    for (const Series& s : d) {
      const auto& pts = s.points();
      auto first = std::lower_bound(pts.begin(), pts.end(), x0,
                                    [](const Point& p, double x) { return p.x < x; });
      auto last = std::upper_bound(pts.begin(), pts.end(), x1,
                                   [](double x, const Point& p) { return x < p.x; });
      if (first != pts.begin()) --first;
      if (last != pts.end()) ++last;
      line.clear();
      int column = -1;
      double a = 0, lo = 0, hi = 0, z = 0;
      // Each column as one vertical line and a line to the next column: the
      // quickest way through QPainter (a long polyline takes four times as long).
      auto flush = [&] {
        if (column < 0) return;
        if (!line.empty()) line.back().setP2(QPointF(column, a));
        line.emplace_back(column, lo, column, hi);
        line.emplace_back(column, z, column, z);
      };
      for (auto p = first; p != last; ++p) {
        const int c = static_cast<int>((p->x - x0) * kx);
        const double y = std::floor((kHeight - 1) + (p->y - y0) * ky) + 0.25;
        if (c != column) {
          flush();
          column = c;
          a = lo = hi = z = y;
        } else {
          lo = std::min(lo, y);
          hi = std::max(hi, y);
          z = y;
        }
      }
      flush();
      if (!line.empty()) line.pop_back();
      painter.drawLines(line.data(), static_cast<int>(line.size()));
    }
  }
}

/// QCustomPlot's own graphs with the same data, for comparison.
void Redraw_qcpgraph(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  QCustomPlot plot;
  plot.resize(kWidth, kHeight);
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
  if (state.range(1) != 0) plot.xAxis->setRange(kZoomLow, kZoomHigh);
  for (auto _ : state) {
    if (state.range(1) == 0) plot.rescaleAxes();
    plot.replot(QCustomPlot::rpImmediateRefresh);
  }
}

void CursorStep_varnix(benchmark::State& state) {
  auto view = makeView(static_cast<int>(state.range(0)));
  int column = 100;
  for (auto _ : state) view->setCursorLines(++column % 900 + 50, 300, true);
}

/// A two-point curve, as a two-line data file gives.
const Series& twoPoints() {
  static const Series s = [] {
    Series t;
    t.assignSorted({{1.0, 2.0}, {3.0, 5.0}});
    return t;
  }();
  return s;
}

std::unique_ptr<varnix::ChartView> twoPointView() {
  auto view = std::make_unique<varnix::ChartView>();
  view->resize(kWidth, kHeight);
  view->show();
  view->setSeriesSource([](int i) -> const Series* { return i == 0 ? &twoPoints() : nullptr; });
  view->showSeries(0, 16776960);
  return view;
}

/// The bare QCustomPlot app: the same size, the two points as a graph.
std::unique_ptr<QCustomPlot> twoPointPlot() {
  auto plot = std::make_unique<QCustomPlot>();
  plot->resize(kWidth, kHeight);
  plot->show();
  plot->setNotAntialiasedElements(QCP::aeAll);
  plot->addGraph()->setData({1.0, 3.0}, {2.0, 5.0});
  plot->rescaleAxes();
  return plot;
}

// A cursor key step on a two-line file as the user sees it: the lines
// moved and the paint delivered. The reference is a bare QCustomPlot app of
// the same size moving a line item over a two-point graph and replotting.
void CursorKey_varnix(benchmark::State& state) {
  auto view = twoPointView();
  view->redraw();
  QApplication::processEvents();
  int column = 100;
  for (auto _ : state) {
    ++column;
    view->setCursorLines(column % 900 + 50, 600, true);
    QApplication::processEvents();
  }
}

void CursorKey_reference(benchmark::State& state) {
  auto plotHolder = twoPointPlot();
  QCustomPlot& plot = *plotHolder;
  auto* line = new QCPItemStraightLine(&plot);
  plot.replot();
  QApplication::processEvents();
  int column = 100;
  for (auto _ : state) {
    ++column;
    const double x = plot.xAxis->pixelToCoord(column % 900 + 50);
    line->point1->setCoords(x, 0);
    line->point2->setCoords(x, 1);
    plot.replot(QCustomPlot::rpQueuedReplot);
    QApplication::processEvents();
  }
}

// A zoom key step on a two-line file (Zoom In, then Zoom Out), the paint
// delivered, beside the bare QCustomPlot app scaling its axis and replotting.
void ZoomKey_varnix(benchmark::State& state) {
  auto view = twoPointView();
  view->setAxisAutomatic(varnix::ChartView::Axis::Bottom, false);
  view->setAxisAutomatic(varnix::ChartView::Axis::Left, false);
  view->redraw();
  QApplication::processEvents();
  int step = 0;
  for (auto _ : state) {
    view->zoomBy((++step % 2) ? -0.1L : 0.1L);
    view->redraw();
    QApplication::processEvents();
  }
}

void ZoomKey_reference(benchmark::State& state) {
  auto plotHolder = twoPointPlot();
  QCustomPlot& plot = *plotHolder;
  plot.replot();
  QApplication::processEvents();
  int step = 0;
  for (auto _ : state) {
    plot.xAxis->scaleRange((++step % 2) ? 0.9 : 1 / 0.9);
    plot.replot(QCustomPlot::rpQueuedReplot);
    QApplication::processEvents();
  }
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

// Rescale (R) after a mouse zoom, as the main window runs it: the zoom
// undone, both axes fitted, one replot with the cursor overlay following it,
// and the paints delivered. The reference is the drawer of Redraw_reference
// for the same shape.
void Rescale_varnix(benchmark::State& state) {
  auto view = makeView(static_cast<int>(state.range(0)));
  using Axis = varnix::ChartView::Axis;
  view->setCursorLines(300, 600, true);
  QObject::connect(view.get(), &varnix::ChartView::drawn,
                   [&view] { view->setCursorLines(300, 600, true); });
  for (auto _ : state) {
    state.PauseTiming();
    view->zoomTo(kZoomLow, kZoomHigh, 0, 500);
    QApplication::processEvents();
    state.ResumeTiming();
    view->setAxisAutomatic(Axis::Bottom, true);
    view->setAxisAutomatic(Axis::Left, true);
    view->restoreZoom();
    view->setAxisAutomatic(Axis::Bottom, true);
    view->setAxisAutomatic(Axis::Left, true);
    view->redraw();
    QApplication::processEvents();
  }
}

void Rescale_reference(benchmark::State& state) {
  Redraw_reference(state);
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
  QStringList openFileNames(const QString&, const QString&, const QString&) override { return {}; }
  QString saveTextName(const QString&, const QString&, const QString&, const QString&) override {
    return {};
  }
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

#define REDRAW_SHAPES ArgsProduct({{0, 1, 2, 3}, {0}})->Args({1, 1})->Unit(benchmark::kMillisecond)
BENCHMARK(Redraw_varnix)->REDRAW_SHAPES;
BENCHMARK(Redraw_reference)->REDRAW_SHAPES;
BENCHMARK(Redraw_qcpgraph)->REDRAW_SHAPES;
BENCHMARK(CursorStep_varnix)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(CursorKey_varnix)->Unit(benchmark::kMicrosecond);
BENCHMARK(CursorKey_reference)->Unit(benchmark::kMicrosecond);
BENCHMARK(ZoomKey_varnix)->Unit(benchmark::kMicrosecond);
BENCHMARK(ZoomKey_reference)->Unit(benchmark::kMicrosecond);
BENCHMARK(MeasureStep_varnix)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ZoomStep_varnix)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Rescale_varnix)->Args({1, 0})->Args({3, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Rescale_reference)->Args({1, 0})->Args({3, 0})->Unit(benchmark::kMillisecond);
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
