#include "view/print_chart.h"

#include <QApplication>
#include <QByteArray>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "view/chart_view.h"
#include "workspace/error.h"
#include "workspace/file_io.h"
#include "workspace/print_copy.h"

namespace varnix {

void fillPrintChart(ChartView& print, const GraphStore& store, const PrintChartContent& c) {
  print.truncateSeries(0);
  print.setTitle(c.titleLines, c.titleVisible);
  if (print.axisLogarithmic(ChartView::Axis::Left) != c.logY) {
    // Switching on needs a range without negative ends; the chart refits anyway.
    print.setAxisMin(ChartView::Axis::Left, 0);
    if (print.axisMax(ChartView::Axis::Left) < 0) print.setAxisMax(ChartView::Axis::Left, 1);
    print.setAxisLogarithmic(ChartView::Axis::Left, c.logY);
  }
  print.setLineColourOverride(!c.colour);
  for (std::size_t i = 0; i < store.count(); ++i)
    print.setSeries(static_cast<int>(i), printCopy(store.series(i), c.x0, c.x1, c.y0, c.y1, c.logY),
                    c.colour ? c.colour(i) : 0);
  print.setTopSeries(c.topSeries);
  print.setLegendPosition(c.legendPosition);
  print.setLegend(c.legendNames);
  print.setAxisAutomatic(ChartView::Axis::Bottom, true);
  print.setAxisAutomatic(ChartView::Axis::Left, true);
}

std::string pictureOf(ChartView& chart, const std::string& path, int width, int height) {
  std::string lower = fileNameOf(path);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  auto endsWith = [&](std::string_view end) {
    return lower.size() >= end.size() &&
           lower.compare(lower.size() - end.size(), end.size(), end) == 0;
  };
  using Format = ChartView::PictureFormat;
  const QByteArray bytes = chart.picture(endsWith(".svg")   ? Format::Svg
                                         : endsWith(".pdf") ? Format::Pdf
                                                            : Format::Png,
                                         width, height);
  if (bytes.isEmpty()) throw Error("Could not draw the picture for " + path);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

PrintChartContent wholeDataView(const GraphStore& store) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  double x0 = kInf, x1 = -kInf, y0 = kInf, y1 = -kInf;
  for (std::size_t i = 0; i < store.count(); ++i)
    for (const Point& p : store.series(i).points()) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
      x0 = std::min(x0, p.x);
      x1 = std::max(x1, p.x);
      y0 = std::min(y0, p.y);
      y1 = std::max(y1, p.y);
    }
  PrintChartContent c;
  if (x0 <= x1) {
    c.x0 = x0;
    c.x1 = x1;
    c.y0 = y0;
    c.y1 = y1;
  }
  return c;
}

OffscreenPictures::OffscreenPictures() = default;
OffscreenPictures::~OffscreenPictures() = default;

std::string OffscreenPictures::draw(const GraphStore& store, const std::string& path, int width,
                                    int height) {
  if (!QApplication::instance()) {
    static int argc = 3;
    static char name[] = "varnix-cli", option[] = "-platform", platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    // Qt's notes about the display it does not need are no business of a
    // script's error output.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
      if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    });
    m_app = std::make_unique<QApplication>(argc, argv);
  }
  ChartView chart;
  chart.resize(width, height);
  chart.usePrintLook();
  fillPrintChart(chart, store, wholeDataView(store));
  return pictureOf(chart, path, width, height);
}

}  // namespace varnix
