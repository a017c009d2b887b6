// The reduced drawing of a series must light exactly the pixels of drawing
// every segment: checked on random curves of many kinds, in many views, on
// the drawing functions and through the chart itself.
#include "view/series_drawing.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cfloat>
#include <random>

#include "view/chart_view.h"

namespace varnix {
namespace {

std::vector<Point> curve(const std::string& kind, std::size_t n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0, 1);
  std::normal_distribution<double> noise(0, 1);
  std::vector<Point> p(n);
  for (std::size_t j = 0; j < n; ++j) {
    const double x = n > 1 ? static_cast<double>(j) / static_cast<double>(n - 1) : 0.5;
    double y = 0;
    if (kind == "noise") {
      y = noise(rng);
    } else if (kind == "steps") {
      y = std::floor(x * 7) + (unit(rng) < 0.01 ? noise(rng) : 0);
    } else if (kind == "spikes") {
      y = unit(rng) < 0.002 ? 50 * noise(rng) : 0.01 * noise(rng);
    } else if (kind == "extremes") {
      const double r = unit(rng);
      y = r < 0.05   ? DBL_MAX
          : r < 0.1  ? -DBL_MAX
          : r < 0.15 ? 1e300 * noise(rng)
          : r < 0.2  ? DBL_MIN
                     : noise(rng);
    } else if (kind == "borders") {
      // x on the exact borders between pixel columns of a 100-column view.
      p[j] = {
          (static_cast<double>(j % 101) + 0.5) / 100.0 + std::floor(static_cast<double>(j) / 101),
          noise(rng)};
      continue;
    } else if (kind == "columns64" || kind == "columns64+1" || kind == "columns512") {
      // Each column of a 120-column view holds exactly one block of 64 or
      // 512 points, or the blocks straddle the columns by one point.
      const std::size_t per = kind == "columns512" ? 512 : 64;
      const std::size_t shift = kind == "columns64+1" ? 1 : 0;
      p[j] = {(std::floor(static_cast<double>((j + shift) / per)) + 0.5) / 120.0,
              unit(rng) < 0.3 ? std::round(noise(rng)) : 0.02 * noise(rng)};
      continue;
    } else if (kind == "breaks") {
      y = unit(rng) < 0.01 ? std::nan("") : std::sin(20 * x) + 0.1 * noise(rng);
    } else if (kind == "positive") {
      y = std::exp(3 * noise(rng));
    } else {  // "mixed": around zero, for logarithmic axes
      y = noise(rng) * std::pow(10.0, 4 * noise(rng));
    }
    p[j] = {x, y};
  }
  return p;
}

/// Draws the segments one by one, or all in one call as the chart does,
/// with a one-pixel pen, no antialiasing, clipped to the plot rectangle.
QImage draw(const std::vector<QLineF>& segments, QSize size, const QRect& clip, double scale,
            bool eachOnItsOwn) {
  QImage image(size * scale, QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.scale(scale, scale);
  painter.setClipRect(clip);
  painter.setPen(QPen(Qt::white, 1));
  if (eachOnItsOwn)
    for (const QLineF& s : segments) painter.drawLine(s);
  else
    painter.drawLines(segments.data(), static_cast<int>(segments.size()));
  painter.end();
  return image;
}

struct View {
  double x0, x1, y0, y1;
  bool logX, logY;
  double scale;
};

TEST(SeriesDrawing, ReducedPolylinesLightTheSamePixelsAsEverySegment) {
  std::mt19937_64 rng(12);
  const QSize size(160, 90);
  const QRect clip(20, 10, 120, 70);
  const std::vector<std::pair<std::string, std::size_t>> curves = {
      {"noise", 50000},    {"noise", 3},          {"steps", 20000},     {"spikes", 100000},
      {"extremes", 5000},  {"borders", 5050},     {"breaks", 30000},    {"positive", 8000},
      {"mixed", 8000},     {"noise", 1},          {"noise", 2},         {"noise", 130},
      {"columns64", 7680}, {"columns64+1", 7680}, {"columns512", 61440}};
  const View views[] = {
      {0, 1, -3, 3, false, false, 1},            // the whole curve
      {0.3, 0.31, -2, 2, false, false, 1},       // zoomed to 1%
      {0.2, 0.7, -0.5, 0.5, false, false, 1},    // curve leaves the top and bottom
      {0, 1, -3, 3, false, false, 2.5},          // a magnified painter (printing)
      {-1, 2, -80, 80, false, false, 1},         // room around the curve
      {0.01, 1, 1e-3, 1e3, true, true, 1},       // both axes logarithmic
      {0.001, 2, -3, 3, true, false, 1},         // logarithmic x
      {0, 1, 1e-3, 1e3, false, true, 1},         // logarithmic y
      {0.1234, 0.8765, -3, 3, false, false, 1},  // zoomed in part-way
  };
  int cases = 0;
  for (const auto& [kind, n] : curves) {
    std::vector<Point> points = curve(kind, n, rng);
    for (int order = 0; order < 2; ++order) {
      if (order == 1) {
        // Not ascending: a few neighbours swapped, as after math on x.
        for (std::size_t j = 1; j < points.size(); j += 97) std::swap(points[j - 1], points[j]);
        if (points.size() > 1 && points[0].x <= points[1].x) std::swap(points[0], points[1]);
      }
      BlockSummary summary;
      summary.build(points);
      for (const View& v : views) {
        const AxisMap xMap(v.x0, v.x1, clip.left(), clip.width(), v.logX, clip.left() - 200);
        const AxisMap yMap(v.y0, v.y1, clip.bottom(), -clip.height(), v.logY, clip.bottom() + 200);
        std::vector<QLineF> reduced, full;
        reduceSegments(points, summary, xMap, yMap, v.scale, clip, reduced);
        allSegments(points, xMap, yMap, v.scale, full);
        const QImage expected = draw(full, size, clip, v.scale, true);
        const QImage actual = draw(reduced, size, clip, v.scale, false);
        ++cases;
        EXPECT_TRUE(actual == expected)
            << kind << " n=" << n << " order=" << order << " view x " << v.x0 << ".." << v.x1
            << " y " << v.y0 << ".." << v.y1 << " scale " << v.scale;
        if (n >= 5000 && v.scale == 1 && order == 0 && !v.logX && kind != "breaks")
          EXPECT_LE(reduced.size(), static_cast<std::size_t>(2 * (clip.width() + 2)))
              << kind << " is drawn with at most two segments per column";
      }
    }
  }
  EXPECT_EQ(cases, 15 * 2 * 9);
}

// The extremes of any run of points from the summary's levels: checked
// against a scan of the run, for runs that start and end on and beside the
// edges of blocks of every level, with and without points that are not
// finite in them.
TEST(SeriesDrawing, RunSearchesFindTheEndAndAskOnlyWithinTheirRange) {
  // Every run length from j, every range end and every guess: the search
  // finds where the run ends and never asks about a point outside (j, end),
  // which may lie past the series.
  for (std::size_t end = 1; end <= 40; ++end)
    for (std::size_t j = 0; j < end; ++j)
      for (std::size_t run = 1; run <= end - j; ++run)
        for (std::size_t guess : {0, 1, 2, 3, 5, 8, 17, 40, 1000}) {
          bool outside = false;
          const std::size_t found = runEnd(j, end, guess, [&](std::size_t k) {
            if (k <= j || k >= end) outside = true;
            return k < j + run;
          });
          ASSERT_EQ(found, j + run) << "j " << j << " end " << end << " guess " << guess;
          ASSERT_FALSE(outside) << "j " << j << " end " << end << " run " << run << " guess "
                                << guess;
        }
  // Bisection: the first index the predicate fails on, asked only within.
  for (std::size_t last = 0; last <= 20; ++last)
    for (std::size_t cut = 0; cut <= last; ++cut) {
      bool outside = false;
      const std::size_t found = firstNotBelow(0, last, [&](std::size_t k) {
        if (k >= last) outside = true;
        return k < cut;
      });
      ASSERT_EQ(found, cut);
      ASSERT_FALSE(outside);
    }
}

TEST(SeriesDrawing, SummaryExtremesMatchAScanOfTheRun) {
  std::mt19937_64 rng(3);
  std::normal_distribution<double> noise(0, 1);
  struct Case {
    std::size_t n;
    std::vector<std::size_t> notFinite;  // points with a NaN or infinite coordinate
  };
  const Case cases[] = {{7, {}},
                        {8, {}},
                        {33, {}},
                        {600, {}},
                        {5000, {}},
                        {5000, {0}},
                        {5000, {513, 4095}},
                        {40000, {9000}},
                        {4097, {4096}}};
  BlockSummary summary;
  for (const Case& c : cases) {
    std::vector<Point> points(c.n);
    for (std::size_t j = 0; j < c.n; ++j) points[j] = {static_cast<double>(j), noise(rng)};
    for (std::size_t k = 0; k < c.notFinite.size(); ++k) {
      const std::size_t j = c.notFinite[k];
      if (j + 1 == c.n)
        points[j].x = HUGE_VAL;  // still ascending: the last point
      else
        points[j].y = k % 2 == 0 ? std::nan("") : -HUGE_VAL;
    }
    // One summary built again for every case, as the chart does when the
    // points change.
    summary.build(points);
    ASSERT_TRUE(summary.ascending());
    // Edges of blocks of every level, one point either side of them, and
    // random places.
    std::vector<std::size_t> places = {0, c.n};
    for (std::size_t edge = BlockSummary::kBlockPoints; edge < c.n; edge *= BlockSummary::kFanOut)
      for (std::size_t k : {1, 2, 9, 63})
        if (edge * k < c.n)
          for (std::size_t place : {edge * k - 1, edge * k, edge * k + 1}) places.push_back(place);
    std::uniform_int_distribution<std::size_t> any(0, c.n);
    for (int k = 0; k < 40; ++k) places.push_back(any(rng));
    for (std::size_t first : places)
      for (std::size_t last : places) {
        if (first >= last || last > c.n) continue;
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        bool finite = true;
        for (std::size_t j = first; j < last; ++j) {
          finite = finite && std::isfinite(points[j].x) && std::isfinite(points[j].y);
          lo = std::min(lo, points[j].y);
          hi = std::max(hi, points[j].y);
        }
        double sLo = 0, sHi = 0;
        const bool sFinite = summary.extremes(points.data(), first, last, sLo, sHi);
        ASSERT_EQ(sFinite, finite) << "n=" << c.n << " [" << first << "," << last << ")";
        if (finite) {
          ASSERT_EQ(sLo, lo) << "n=" << c.n << " [" << first << "," << last << ")";
          ASSERT_EQ(sHi, hi) << "n=" << c.n << " [" << first << "," << last << ")";
        }
      }
  }
}

/// The chart in one colour on black, so that only the curve shows.
QImage chartImage(ChartView& chart) {
  QImage image(chart.size(), QImage::Format_RGB32);
  image.fill(Qt::black);
  chart.renderTo(&image, image.width(), image.height());
  return image;
}

TEST(SeriesDrawing, TheChartDrawsTheStorePointsWithoutACopy) {
  std::mt19937_64 rng(5);
  GraphStore store;
  ChartView chart;
  chart.resize(400, 300);
  chart.setColours(0, 0, 0, 0);
  chart.setSeriesSource([&](int i) -> const Series* {
    return static_cast<std::size_t>(i) < store.count() ? &store.series(static_cast<std::size_t>(i))
                                                       : nullptr;
  });
  store.append("a", "a").series.assignSorted(curve("spikes", 200000, rng));
  chart.showSeries(0, 0xFFFFFF);
  for (bool threeD : {false, true}) {
    chart.set3D(threeD);
    for (bool zoomed : {false, true}) {
      chart.setAxisAutomatic(ChartView::Axis::Bottom, !zoomed);
      chart.setAxisAutomatic(ChartView::Axis::Left, !zoomed);
      if (zoomed) {
        chart.setAxisMax(ChartView::Axis::Bottom, 0.52);
        chart.setAxisMin(ChartView::Axis::Bottom, 0.5);
        chart.setAxisMax(ChartView::Axis::Left, 0.02);
        chart.setAxisMin(ChartView::Axis::Left, -0.03);
      }
      chart.redraw();
      const QImage actual = chartImage(chart);
      // The same view with every segment drawn over an empty chart.
      const QRect r = chart.plotRect();
      const AxisMap xMap(chart.axisMin(ChartView::Axis::Bottom),
                         chart.axisMax(ChartView::Axis::Bottom), r.left(), r.width(), false, 0);
      const AxisMap yMap(chart.axisMin(ChartView::Axis::Left), chart.axisMax(ChartView::Axis::Left),
                         r.bottom(), -r.height(), false, 0);
      std::vector<QLineF> full;
      allSegments(store.series(0).points(), xMap, yMap, 1, full);
      const QImage expected = draw(full, chart.size(), r, 1, true);
      // The axis lines and their inward ticks are drawn over the curve, the
      // grid's zero line under it: white pixels are the curve's.
      constexpr QRgb kWhite = 0xFFFFFFFF;
      const QRect compared = r.adjusted(6, 1, -1, -6);
      int differ = 0;
      for (int y = compared.top(); y <= compared.bottom(); ++y)
        for (int x = compared.left(); x <= compared.right(); ++x)
          if ((actual.pixel(x, y) == kWhite) != (expected.pixel(x, y) == kWhite) && differ++ < 5)
            ADD_FAILURE() << x << "," << y << " " << std::hex << actual.pixel(x, y) << " vs "
                          << expected.pixel(x, y) << std::dec;
      EXPECT_EQ(differ, 0) << "3-D " << threeD << " zoomed " << zoomed;
    }
  }
  // Automatic axes follow the cached ranges of the store's series.
  chart.setAxisAutomatic(ChartView::Axis::Bottom, true);
  chart.setAxisAutomatic(ChartView::Axis::Left, true);
  chart.redraw();
  EXPECT_EQ(chart.axisMin(ChartView::Axis::Left), store.series(0).minY());
  EXPECT_EQ(chart.axisMax(ChartView::Axis::Left), store.series(0).maxY());
  // A slot the store no longer has draws nothing and counts no points.
  store.removeGraphSlot(0);
  EXPECT_EQ(chart.seriesPointCount(0), 0);
  chart.redraw();
}

}  // namespace
}  // namespace varnix
