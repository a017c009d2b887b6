#include "view/chart_view.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <fstream>
#include <sstream>

#include "test_util.h"
#include "view/colour.h"

namespace varnix {
namespace {

using Axis = ChartView::Axis;

struct Range {
  double min, max;
};

Range rangeOf(const ChartView& c, Axis a) {
  return {c.axisMin(a), c.axisMax(a)};
}

TEST(ChartViewZoom, ZoomOutAndInMoveTheMaximumThenTheMinimum) {
  ChartView c;
  c.resize(800, 600);
  struct Case {
    double min, max;
    long double factor;
  };
  for (const Case& k : {Case{0, 10, 0.1L}, Case{-4, 6, -0.1L}, Case{1.5, 2.5, 0.1L}}) {
    for (Axis a : {Axis::Left, Axis::Bottom}) {
      c.setAxisAutomatic(a, false);
      c.setAxisMin(a, k.min);
      c.setAxisMax(a, k.max);
    }
    c.zoomBy(k.factor);
    // The new maximum, then the minimum measured from it.
    const long double max = k.max + std::fabs(static_cast<long double>(k.max) - k.min) * k.factor;
    const long double min =
        k.min - std::fabs(static_cast<long double>(static_cast<double>(max)) - k.min) * k.factor;
    for (Axis a : {Axis::Left, Axis::Bottom}) {
      EXPECT_FALSE(c.axisAutomatic(a));
      EXPECT_EQ(rangeOf(c, a).max, static_cast<double>(max)) << k.min << " " << k.max;
      EXPECT_EQ(rangeOf(c, a).min, static_cast<double>(min)) << k.min << " " << k.max;
    }
  }
}

TEST(ChartViewZoom, YScaleMovesOnlyTheLeftMaximum) {
  ChartView c;
  c.resize(800, 600);
  c.setAxisAutomatic(Axis::Bottom, false);
  c.setAxisMin(Axis::Bottom, 0);
  c.setAxisMax(Axis::Bottom, 1);
  c.setAxisAutomatic(Axis::Left, false);
  c.setAxisMax(Axis::Left, 10);
  c.setAxisMin(Axis::Left, 2);
  c.scaleYMaximum(-0.5L);  // Increase Y scale: 10 - 8 / 2
  EXPECT_FALSE(c.axisAutomatic(Axis::Left));
  EXPECT_EQ(rangeOf(c, Axis::Left).max, 6);
  EXPECT_EQ(rangeOf(c, Axis::Left).min, 2);
  c.scaleYMaximum(0.5L);  // Decrease Y scale: 6 + 4 / 2
  EXPECT_EQ(rangeOf(c, Axis::Left).max, 8);
  EXPECT_EQ(rangeOf(c, Axis::Bottom).max, 1);
}

TEST(ChartViewZoom, BetweenColumnsInEitherOrder) {
  ChartView c;
  c.resize(800, 600);
  c.setAxisAutomatic(Axis::Bottom, false);
  c.setAxisMin(Axis::Bottom, 0);
  c.setAxisMax(Axis::Bottom, 100);
  const QRect r = c.plotRect();
  const int a = r.left() + r.width() / 4, b = r.left() + r.width() / 2;
  const double xa = c.xAtColumn(a), xb = c.xAtColumn(b);
  c.zoomToColumns(b, a);
  EXPECT_EQ(rangeOf(c, Axis::Bottom).min, xa);
  EXPECT_EQ(rangeOf(c, Axis::Bottom).max, xb);
}

/// A series of these points, sorted and with its ranges cached.
Series seriesOf(std::vector<Point> points) {
  Series s;
  s.assignSorted(std::move(points));
  return s;
}

std::string svgOf(ChartView& c) {
  return c.picture(ChartView::PictureFormat::Svg, 800, 600).toStdString();
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

/// Legend names that no other name contains ("n07x" is not in "n17x").
QString legendName(int i) {
  return QString("n%1x").arg(i, 2, 10, QChar('0'));
}

TEST(ChartViewLegend, TheFirstThirtyNamesThenACount) {
  struct Case {
    int names, series;
    int shown;         ///< names drawn, from the first on
    const char* more;  ///< the count line, or nullptr
  };
  const Case cases[] = {
      {35, 35, 30, "... and 5 more"},
      {31, 35, 30, "... and 1 more"},
      {30, 35, 30, nullptr},
      {3, 35, 3, nullptr},
      {5, 3, 3, "... and 2 more"},
      {3, 0, 0, "... and 3 more"},
      {1, 1, 1, nullptr},
  };
  for (const Case& k : cases) {
    ChartView c;
    c.resize(800, 600);
    for (int i = 0; i < k.series; ++i)
      c.setSeries(i, seriesOf({{0, static_cast<double>(i)}, {1, i + 1.0}}), 0xFFFFFF);
    // A longer legend first: what the new one does not name is gone.
    QStringList many;
    for (int i = 0; i < 40; ++i) many << "stale" + legendName(i);
    c.setLegend(many);
    QStringList names;
    for (int i = 0; i < k.names; ++i) names << legendName(i);
    c.setLegend(names);
    EXPECT_TRUE(c.legendVisible());
    const std::string svg = svgOf(c);
    for (int i = 0; i < 40; ++i) {
      const std::string name = legendName(i).toStdString();
      EXPECT_EQ(contains(svg, name), i < k.shown) << k.names << " names: " << name;
    }
    EXPECT_FALSE(contains(svg, "stale")) << k.names;
    // One count line at most, the new one.
    std::size_t counts = 0;
    for (std::size_t at = svg.find(" more"); at != std::string::npos;
         at = svg.find(" more", at + 1))
      ++counts;
    EXPECT_EQ(counts, k.more ? 1u : 0u) << k.names;
    if (k.more) EXPECT_TRUE(contains(svg, k.more)) << k.names << " " << k.more;
  }
}

int pixelsOf(const QImage& image, QRgb colour);

/// Pixels of the print look's white legend box when the chart is drawn on
/// blue at `dpi`, laid out as at 96 dpi and scaled, in 96 dpi pixels.
double printedLegendArea(ChartView& c, int dpi) {
  const double scale = dpi / 96.0;
  QImage image(static_cast<int>(600 * scale), static_cast<int>(400 * scale), QImage::Format_RGB32);
  image.setDotsPerMeterX(static_cast<int>(std::lround(dpi / 0.0254)));
  image.setDotsPerMeterY(image.dotsPerMeterX());
  image.fill(Qt::blue);
  c.renderTo(&image, image.width(), image.height(), scale);
  return pixelsOf(image, qRgb(255, 255, 255)) / (scale * scale);
}

TEST(ChartViewLegend, PrintedAtAnyResolutionTheLegendKeepsItsSize) {
  ChartView c;
  c.resize(600, 400);
  c.usePrintLook();
  c.setSeries(0, seriesOf({{0, 0}, {1, 1}}), 0);
  c.setSeries(1, seriesOf({{0, 1}, {1, 0}}), 0);
  c.setLegend({"T010K.dat", "a longer name.dat"});
  const double screen = printedLegendArea(c, 96);
  ASSERT_GT(screen, 500);
  for (int dpi : {300, 600}) {
    const double printed = printedLegendArea(c, dpi);
    EXPECT_GT(printed, 0.7 * screen) << dpi;
    EXPECT_LT(printed, 1.4 * screen) << dpi;
  }
}

TEST(ChartViewPictures, APngHasTheWhitePageOfPrint) {
  ChartView c;
  c.resize(300, 200);
  c.usePrintLook();
  c.setSeries(0, seriesOf({{0, 0}, {1, 1}}), 0);
  const QImage png = QImage::fromData(c.picture(ChartView::PictureFormat::Png, 300, 200), "PNG");
  ASSERT_FALSE(png.isNull());
  EXPECT_EQ(png.size(), QSize(300, 200));
  EXPECT_EQ(png.pixel(0, 0), qRgba(255, 255, 255, 255));
  EXPECT_EQ(png.pixel(299, 199), qRgba(255, 255, 255, 255));
}

TEST(ChartViewLegend, NoNamesHideItAndThePositionIsKeptInsideThePlot) {
  ChartView c;
  c.resize(800, 600);
  c.setSeries(0, seriesOf({{0, 0}, {1, 1}}), 0xFFFFFF);
  EXPECT_FALSE(c.legendVisible());
  c.setLegend({"only"});
  EXPECT_TRUE(c.legendVisible());
  EXPECT_TRUE(contains(svgOf(c), "only"));
  c.setLegend({});
  EXPECT_FALSE(c.legendVisible());
  EXPECT_FALSE(contains(svgOf(c), "only"));
  // Fractions of the plot rectangle, the corner kept inside it.
  const struct {
    QPointF asked, kept;
  } positions[] = {{{0.25, 0.5}, {0.25, 0.5}},
                   {{-1, 2}, {0, 0.95}},
                   {{1, -0.5}, {0.95, 0}},
                   {{0.95, 0.95}, {0.95, 0.95}}};
  for (const auto& p : positions) {
    c.setLegendPosition(p.asked);
    ASSERT_TRUE(c.legendPosition().has_value());
    EXPECT_EQ(*c.legendPosition(), p.kept) << p.asked.x() << " " << p.asked.y();
  }
  c.setLegendPosition(std::nullopt);
  EXPECT_FALSE(c.legendPosition().has_value());
}

TEST(ChartViewLogAxis, RefusalsAndTheRangeReadBack) {
  for (Axis a : {Axis::Left, Axis::Bottom}) {
    ChartView c;
    c.resize(800, 600);
    c.setAxisAutomatic(a, false);
    const struct {
      double min, max;
      bool refused;
    } cases[] = {{-1, 10, true}, {0, 10, false}, {2, 10, false}, {0, 0, false}};
    for (const auto& k : cases) {
      c.setAxisLogarithmic(a, false);
      c.setAxisMax(a, 1e9);
      c.setAxisMin(a, k.min);
      c.setAxisMax(a, k.max);
      const std::string error = test::errorOf([&] { c.setAxisLogarithmic(a, true); });
      EXPECT_EQ(error, k.refused ? "Logarithmic Axis Min and Max values should be >= 0" : "")
          << k.min << " " << k.max;
      EXPECT_EQ(c.axisLogarithmic(a), !k.refused);
      // The range the program set reads back unchanged, 0 included.
      EXPECT_EQ(c.axisMin(a), k.min);
      EXPECT_EQ(c.axisMax(a), k.max);
    }
    c.setAxisLogarithmic(a, false);
    EXPECT_FALSE(c.axisLogarithmic(a));
    c.setAxisMin(a, -5);
    EXPECT_EQ(c.axisMin(a), -5);
  }
}

TEST(ChartViewLogAxis, PixelsMapToTheLogarithm) {
  ChartView c;
  c.resize(800, 600);
  for (Axis a : {Axis::Bottom, Axis::Left}) {
    c.setAxisAutomatic(a, false);
    c.setAxisMax(a, 1000);
    c.setAxisMin(a, 1);
    c.setAxisLogarithmic(a, true);
  }
  c.show();  // lays the plot out at the chart's size
  c.recomputeGeometry();
  const QRect r = c.plotRect();
  ASSERT_GT(r.width(), 100);
  ASSERT_GT(r.height(), 100);
  for (int k : {0, 1, 3}) {
    const int px = r.left() + r.width() * k / 3;
    const double f = static_cast<double>(px - r.left()) / r.width();
    EXPECT_NEAR(c.xAtColumn(px), std::pow(1000.0, f), 1e-9 * std::pow(1000.0, f)) << k;
    const int py = r.top() + r.height() * k / 3;
    const double g = static_cast<double>(py - r.top()) / r.height();
    EXPECT_NEAR(c.yAtRow(py), std::pow(1000.0, 1 - g), 1e-9 * std::pow(1000.0, 1 - g)) << k;
  }
  // A minimum of 0 has no logarithm: the map stays straight.
  c.setAxisMin(Axis::Left, 0);
  c.setAxisMax(Axis::Left, 100);
  EXPECT_EQ(c.yAtRow(r.top()), 100);
  EXPECT_NEAR(c.yAtRow(r.top() + r.height() / 4), 100 - 100.0 * (r.height() / 4) / r.height(),
              1e-9);
  // Linear again: a straight map.
  c.setAxisLogarithmic(Axis::Bottom, false);
  const int mid = r.left() + r.width() / 2;
  EXPECT_NEAR(c.xAtColumn(mid), 1 + 999.0 * (mid - r.left()) / r.width(), 1e-9);
}

TEST(ChartViewLogAxis, AutomaticAxesTakeThePositiveValuesOnly) {
  // Each case: the series' points, the automatic range on a linear and on
  // a logarithmic left axis (nullopt: the series gives none).
  struct Case {
    const char* what;
    std::vector<std::vector<Point>> series;
    double linLo, linHi, logLo, logHi;
  };
  const Case cases[] = {
      {"all positive", {{{0, 2}, {1, 50}}}, 2, 50, 2, 50},
      {"negative and zero values", {{{0, -5}, {1, 0}, {2, 3}, {3, 100}}}, -5, 100, 3, 100},
      {"zero is the smallest", {{{0, 0}, {1, 4}, {2, 60}}}, 0, 60, 4, 60},
      {"one series without positive values", {{{0, -3}, {1, -1}}, {{0, 7}, {1, 9}}}, -3, 9, 7, 9},
      {"two series", {{{0, -1}, {1, 0.5}, {2, 8}}, {{0, 0.25}, {1, 4}}}, -1, 8, 0.25, 8},
  };
  for (const Case& k : cases) {
    ChartView c;
    c.resize(800, 600);
    for (std::size_t i = 0; i < k.series.size(); ++i)
      c.setSeries(static_cast<int>(i), seriesOf(k.series[i]), 0xFFFFFF);
    c.redraw();
    EXPECT_EQ(c.axisMin(Axis::Left), k.linLo) << k.what;
    EXPECT_EQ(c.axisMax(Axis::Left), k.linHi) << k.what;
    c.setAxisAutomatic(Axis::Left, false);
    c.setAxisMin(Axis::Left, 0);
    c.setAxisLogarithmic(Axis::Left, true);
    c.setAxisAutomatic(Axis::Left, true);
    c.redraw();
    EXPECT_EQ(c.axisMin(Axis::Left), k.logLo) << k.what;
    EXPECT_EQ(c.axisMax(Axis::Left), k.logHi) << k.what;
  }
}

TEST(ChartViewLogAxis, ThePositiveRangeFollowsChangedPoints) {
  GraphStore store;
  store.append("a", "a").series.assignSorted({{0, -1}, {1, 2}, {2, 10}});
  ChartView c;
  c.resize(800, 600);
  c.setSeriesSource([&](int i) -> const Series* {
    return static_cast<std::size_t>(i) < store.count() ? &store.series(static_cast<std::size_t>(i))
                                                       : nullptr;
  });
  c.showSeries(0, 0xFFFFFF);
  for (Axis a : {Axis::Left, Axis::Bottom}) {
    c.setAxisAutomatic(a, false);
    c.setAxisMin(a, 0);
    c.setAxisLogarithmic(a, true);
    c.setAxisAutomatic(a, true);
  }
  c.redraw();
  EXPECT_EQ(c.axisMin(Axis::Left), 2);
  EXPECT_EQ(c.axisMax(Axis::Left), 10);
  EXPECT_EQ(c.axisMin(Axis::Bottom), 1);  // x 0 has no logarithm
  // New points, shown again: scanned again.
  store.series(0).assignSorted({{0, 0}, {0.5, 0.125}, {4, 3}});
  c.showSeries(0, 0xFFFFFF);
  c.redraw();
  EXPECT_EQ(c.axisMin(Axis::Left), 0.125);
  EXPECT_EQ(c.axisMax(Axis::Left), 3);
  EXPECT_EQ(c.axisMin(Axis::Bottom), 0.5);
  EXPECT_EQ(c.axisMax(Axis::Bottom), 4);
}

/// The chart rendered on black with the axes, grid and labels in black too:
/// only the curves show.
QImage curvesOnly(ChartView& c) {
  c.setColours(0, 0, 0, 0);
  c.redraw();
  QImage image(c.size(), QImage::Format_RGB32);
  image.fill(Qt::black);
  c.renderTo(&image, image.width(), image.height());
  return image;
}

int pixelsOf(const QImage& image, QRgb colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == colour ? 1 : 0;
  return n;
}

TEST(ChartViewLayers, TheTopSeriesIsDrawnOverTheOthers) {
  ChartView c;
  c.resize(400, 300);
  const std::vector<Point> line = {{0, 0}, {1, 1}, {2, 0.5}};
  c.setSeries(0, seriesOf(line), 0x0000FF);  // red
  c.setSeries(1, seriesOf(line), 0x00FF00);  // green
  c.setSeries(2, seriesOf(line), 0xFF0000);  // blue
  const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255);
  // Each case: the top series, and which colour covers the shared curve.
  const struct {
    int top;
    QRgb seen;
  } cases[] = {{-1, blue}, {0, red}, {1, green}, {2, blue}, {0, red}, {-1, blue}};
  for (const auto& k : cases) {
    c.setTopSeries(k.top);
    const QImage image = curvesOnly(c);
    for (QRgb colour : {red, green, blue})
      if (colour == k.seen)
        EXPECT_GT(pixelsOf(image, colour), 100) << "top " << k.top;
      else
        EXPECT_EQ(pixelsOf(image, colour), 0) << "top " << k.top;
  }
}

TEST(ChartViewSeries, RemovingAMiddleSeriesMovesTheLaterOnesDown) {
  GraphStore store;
  // Three graphs with 2, 3 and 4 points, at different heights.
  for (int g = 0; g < 3; ++g) {
    std::vector<Point> pts;
    for (int k = 0; k < g + 2; ++k) pts.push_back({static_cast<double>(k), 10.0 * g + k});
    store.append("g", "g").series.assignSorted(pts);
  }
  ChartView c;
  c.resize(400, 300);
  c.setSeriesSource([&](int i) -> const Series* {
    return static_cast<std::size_t>(i) < store.count() ? &store.series(static_cast<std::size_t>(i))
                                                       : nullptr;
  });
  const Colour colours[] = {0x0000FF, 0x00FF00, 0xFF0000};
  for (int i = 0; i < 3; ++i) c.showSeries(i, colours[i]);
  c.setTopSeries(2);
  EXPECT_EQ(c.seriesPointCount(1), 3);
  store.removeGraphSlot(1);
  c.removeSeries(1);
  ASSERT_EQ(c.seriesCount(), 2);
  EXPECT_EQ(c.seriesPointCount(0), 2);
  EXPECT_EQ(c.seriesPointCount(1), 4);  // the third graph, now slot 1
  EXPECT_EQ(c.seriesPenColour(1), toQColor(colours[2]));
  // Drawn: the first and the third graph, nothing of the second; the
  // automatic axes span what is left (y 0..23).
  const QImage image = curvesOnly(c);
  EXPECT_GT(pixelsOf(image, qRgb(255, 0, 0)), 10);
  EXPECT_EQ(pixelsOf(image, qRgb(0, 255, 0)), 0);
  EXPECT_GT(pixelsOf(image, qRgb(0, 0, 255)), 10);
  EXPECT_EQ(c.axisMin(Axis::Left), 0);
  EXPECT_EQ(c.axisMax(Axis::Left), 23);
  EXPECT_EQ(c.axisMax(Axis::Bottom), 3);
  // The first one: the others move down.
  c.removeSeries(0);
  ASSERT_EQ(c.seriesCount(), 1);
  store.removeGraphSlot(0);
  EXPECT_EQ(c.seriesPointCount(0), 4);
  EXPECT_EQ(c.seriesPenColour(0), toQColor(colours[2]));
  c.showSeries(1, colours[1]);  // a new last slot without a graph draws nothing
  EXPECT_EQ(c.seriesPointCount(1), 0);
  // Out of range: nothing happens.
  c.removeSeries(2);
  c.removeSeries(-1);
  EXPECT_EQ(c.seriesCount(), 2);
  c.truncateSeries(1);
  EXPECT_EQ(c.seriesCount(), 1);
  EXPECT_EQ(c.seriesPointCount(1), 0);
  EXPECT_EQ(c.seriesPointCount(-1), 0);
  c.truncateSeries(0);
  EXPECT_EQ(c.seriesCount(), 0);
}

}  // namespace
}  // namespace varnix
