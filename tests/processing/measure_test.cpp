#include "processing/measure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "test_util.h"

namespace varnix {
namespace {

/// A Gaussian A exp(-(x - mu)^2 / (2 sigma^2)) on a fine grid through mu,
/// in ascending or descending order of x.
Graph gaussian(bool descending) {
  Graph g;
  g.name = "g";
  const double A = 250, mu = 2.4, sigma = 0.05;
  std::vector<Point> pts;
  for (int i = -20000; i <= 20000; ++i) {
    const double x = mu + i * 1e-5 * 5;  // +-10 sigma
    pts.push_back({x, A * std::exp(-(x - mu) * (x - mu) / (2 * sigma * sigma))});
  }
  if (descending) std::reverse(pts.begin(), pts.end());
  g.series.points() = pts;
  g.series.recomputeRanges();
  return g;
}

TEST(Measure, GaussianAgainstClosedForms) {
  const double A = 250, mu = 2.4, sigma = 0.05;
  for (bool descending : {false, true}) {
    const Graph g = gaussian(descending);
    for (auto [c1, c2] : {std::pair{1.9, 2.9}, std::pair{2.9, 1.9}}) {
      const Measurement m = measure(g, c1, c2);
      ASSERT_TRUE(m.maximum && m.fwhm && m.area && m.centroid && m.areaAboveBaseline);
      EXPECT_DOUBLE_EQ(m.maximum->y, A);
      EXPECT_NEAR(m.maximum->x, mu, 1e-12);
      EXPECT_NEAR(*m.fwhm, 2 * std::sqrt(2 * std::log(2.0)) * sigma, 1e-6);
      EXPECT_NEAR(*m.area, A * sigma * std::sqrt(2 * M_PI), 1e-6);
      EXPECT_NEAR(*m.centroid, mu, 1e-9);
      EXPECT_NEAR(*m.areaAboveBaseline, *m.area, 1e-6);  // the ends are ~0
      EXPECT_NEAR(*m.yAtFirst, A * std::exp(-(c1 - mu) * (c1 - mu) / (2 * sigma * sigma)), 1e-9);
      EXPECT_NEAR(m.minimum->y, 0, 1e-9);
    }
    // Half the peak: the area is half, the width has one crossing only.
    const Measurement half = measure(g, mu, 3);
    EXPECT_NEAR(*half.area, A * sigma * std::sqrt(2 * M_PI) / 2, 1e-6);
    EXPECT_FALSE(half.fwhm.has_value());
  }
}

TEST(Measure, CellsThatCannotBeComputed) {
  struct Case {
    std::vector<Point> pts;
    double c1, c2;
    bool yAt1, area, baseline, fwhm;
  };
  const std::vector<Case> cases = {
      {{{0, 1}, {1, 3}, {2, 1}}, 1, 1, true, false, false, false},     // same x
      {{{0, 1}, {1, 3}, {2, 1}}, -5, 0.5, false, true, false, false},  // outside the graph
      {{{0, 1}}, 0, 1, true, false, false, false},                     // one point
      {{{0, 1}, {1, 3}, {2, 1}}, 0.2, 0.4, true, true, true, false},   // inside one segment
      {{{0, 0}, {1, 4}, {2, 0}}, 0, 2, true, true, true, true},        // a triangle
      {{{0, 1e308}, {1, 1e308}, {2, 1e308}}, 0, 2, true, false, false, false},  // area overflows
      {{{0, -1}, {1, -3}, {2, -1}}, 0, 2, true, true, true, false},             // no positive peak
  };
  for (const Case& c : cases) {
    Graph g;
    g.series.points() = c.pts;
    const Measurement m = measure(g, c.c1, c.c2);
    EXPECT_EQ(m.yAtFirst.has_value(), c.yAt1) << c.c1 << " " << c.c2;
    EXPECT_EQ(m.area.has_value(), c.area) << c.c1 << " " << c.c2;
    EXPECT_EQ(m.areaAboveBaseline.has_value(), c.baseline) << c.c1 << " " << c.c2;
    EXPECT_EQ(m.fwhm.has_value(), c.fwhm) << c.c1 << " " << c.c2;
  }
  Graph triangle;
  triangle.series.points() = {{0, 0}, {1, 4}, {2, 0}};
  const Measurement t = measure(triangle, 0, 2);
  EXPECT_EQ(*t.area, 4);
  EXPECT_EQ(*t.fwhm, 1);
  EXPECT_EQ(*t.centroid, 1);
  Graph mixed;
  mixed.series.points() = {{0, 0}, {2, 4}, {1, 0}};
  EXPECT_FALSE(measure(mixed, 0, 2).area.has_value());
}

// A tent of height 4 on [0, 2] standing on the sloped line 10 + 3x: what
// lies above the straight line between the cursors is the part of the tent
// above its chord there, whatever the offset and slope under it.
TEST(Measure, AreaAboveABaselineFarFromZero) {
  struct Case {
    double c1, c2;
    double yAt1, yAt2;  ///< line plus tent at the cursors
    double area;        ///< trapezoids under the polyline
    double above;       ///< the tent above its chord between the cursors
    Point top, bottom;
    double centroid;
  };
  // Integrals by hand: on [0, 1] y = 10 + 7x, on [1, 2] y = 18 - x.
  const Case cases[] = {
      {0, 2, 10, 16, 30, 4, {1, 17}, {0, 10}, 32.0 / 30},
      {2, 0, 16, 10, 30, 4, {1, 17}, {0, 10}, 32.0 / 30},
      // Inside: y(0.5) = 13.5, y(1.5) = 16.5; the chord cuts the tent at
      // height 2, leaving a triangle of base 1 and height 2.
      {0.5, 1.5, 13.5, 16.5, 16, 1, {1, 17}, {0.5, 13.5}, 16.25 / 16},
      // One side of the peak: the tent is straight there, nothing above.
      {0, 1, 10, 17, 13.5, 0, {1, 17}, {0, 10}, (5 + 7.0 / 3) / 13.5},
      // The second cursor beyond the graph: no baseline, the area to its end.
      {1, 5, 17, std::nan(""), 16.5, std::nan(""), {1, 17}, {2, 16}, (24 + 2.0 / 3) / 16.5},
  };
  for (bool descending : {false, true}) {
    Graph g;
    g.series.points() = {{0, 10}, {1, 17}, {2, 16}};
    if (descending) std::reverse(g.series.points().begin(), g.series.points().end());
    for (const Case& c : cases) {
      const Measurement m = measure(g, c.c1, c.c2);
      const std::string what =
          std::to_string(c.c1) + ".." + std::to_string(c.c2) + (descending ? " descending" : "");
      ASSERT_TRUE(m.yAtFirst && m.area && m.centroid && m.maximum && m.minimum) << what;
      EXPECT_DOUBLE_EQ(*m.yAtFirst, c.yAt1) << what;
      EXPECT_EQ(m.yAtSecond.has_value(), !std::isnan(c.yAt2)) << what;
      if (m.yAtSecond) EXPECT_DOUBLE_EQ(*m.yAtSecond, c.yAt2) << what;
      EXPECT_DOUBLE_EQ(*m.area, c.area) << what;
      EXPECT_EQ(m.areaAboveBaseline.has_value(), !std::isnan(c.above)) << what;
      if (m.areaAboveBaseline) EXPECT_NEAR(*m.areaAboveBaseline, c.above, 1e-12) << what;
      EXPECT_EQ(*m.maximum, c.top) << what;
      EXPECT_EQ(*m.minimum, c.bottom) << what;
      EXPECT_NEAR(*m.centroid, c.centroid, 1e-12) << what;
      // Half of 17 is below every y: no crossing, no width.
      EXPECT_FALSE(m.fwhm.has_value()) << what;
    }
  }
}

// Full width at half maximum of asymmetric peaks, crossings interpolated on
// the polyline; the minimum and maximum are the first of equals.
TEST(Measure, WidthOfAnAsymmetricPeak) {
  struct Case {
    std::vector<Point> pts;
    double c1, c2;
    std::optional<double> fwhm;
    Point top, bottom;
  };
  const Case cases[] = {
      // Half of 8 is 4: crossings at x = 1 + 2/6 (left) and 3 + 2 * 2/4 = 4.
      {{{0, 0}, {1, 2}, {2, 8}, {3, 6}, {5, 2}}, 0, 5, 8.0 / 3, {2, 8}, {0, 0}},
      // The same between cursors that cut the curve (y 3.2 and 3 there):
      // the crossings lie on the same segments.
      {{{0, 0}, {1, 2}, {2, 8}, {3, 6}, {5, 2}}, 1.2, 4.5, 8.0 / 3, {2, 8}, {4.5, 3}},
      // A cursor before the right crossing: no width.
      {{{0, 0}, {1, 2}, {2, 8}, {3, 6}, {5, 2}}, 0, 3.5, std::nullopt, {2, 8}, {0, 0}},
      // Two equal tops: the first counts; a dip below half between them
      // ends the width at the first peak (crossings 0.5 and 1 + 2/3).
      {{{0, 0}, {1, 4}, {2, 1}, {3, 4}, {4, 0}}, 0, 4, 7.0 / 6, {1, 4}, {0, 0}},
      // Equal lows: the first (crossings 1 - 2.5/4 and 1 + 2.5/4).
      {{{0, 1}, {1, 5}, {2, 1}, {3, 0}, {4, 0}, {5, 2}}, 0, 5, 1.25, {1, 5}, {3, 0}},
  };
  for (const Case& c : cases) {
    Graph g;
    g.series.points() = c.pts;
    const Measurement m = measure(g, c.c1, c.c2);
    EXPECT_EQ(m.fwhm.has_value(), c.fwhm.has_value()) << c.c1 << " " << c.c2;
    if (m.fwhm && c.fwhm) EXPECT_DOUBLE_EQ(*m.fwhm, *c.fwhm) << c.c1 << " " << c.c2;
    ASSERT_TRUE(m.maximum && m.minimum);
    EXPECT_EQ(*m.maximum, c.top) << c.c1 << " " << c.c2;
    EXPECT_EQ(*m.minimum, c.bottom) << c.c1 << " " << c.c2;
  }
}

// A vertical step (two points at one x) at a cursor or inside: both points
// belong to the polyline, in either direction of x.
TEST(Measure, StepsAtOneXKeepBothPoints) {
  struct Case {
    double c1, c2;
    double area;
    Point top, bottom;
  };
  // Up to 5 at x = 1, straight down to 1, then to 0 at x = 2.
  const Case cases[] = {
      {0, 2, 2.5 + 0.5, {1, 5}, {0, 0}},
      {1, 2, 0.5, {1, 5}, {2, 0}},
      {2, 1, 0.5, {1, 5}, {2, 0}},
      {0, 1, 2.5, {1, 5}, {0, 0}},
  };
  const std::vector<Point> up = {{0, 0}, {1, 5}, {1, 1}, {2, 0}};
  for (bool descending : {false, true}) {
    Graph g;
    g.series.points() = up;
    if (descending) std::reverse(g.series.points().begin(), g.series.points().end());
    for (const Case& c : cases) {
      const Measurement m = measure(g, c.c1, c.c2);
      const std::string what =
          std::to_string(c.c1) + ".." + std::to_string(c.c2) + (descending ? " descending" : "");
      ASSERT_TRUE(m.area && m.maximum && m.minimum) << what;
      EXPECT_DOUBLE_EQ(*m.area, c.area) << what;
      EXPECT_EQ(m.maximum->y, c.top.y) << what;
      EXPECT_EQ(m.minimum->y, c.bottom.y) << what;
    }
  }
  // The step the other way round (1 then 5 at x = 1, read backwards): the
  // point met first at a cursor starts or ends the polyline there.
  Graph back;
  back.series.points() = {{2, 0}, {1, 5}, {1, 1}, {0, 0}};
  EXPECT_DOUBLE_EQ(*measure(back, 0, 2).area, 0.5 + 2.5);
  EXPECT_DOUBLE_EQ(*measure(back, 1, 2).area, 2.5);
  EXPECT_DOUBLE_EQ(*measure(back, 0, 1).area, 0.5);
  EXPECT_EQ(*measure(back, 0, 1).yAtSecond, 1);
}

TEST(Measure, TextForTheClipboard) {
  GraphStore store;
  test::addGraph(store, "a.dat", {{0, 0}, {1, 4}, {2, 0}});
  test::addGraph(store, "b.dat", {{5, 1}});
  Selection none;
  none.current = 1;
  const std::string text = measurementText(measureGraphs(store, none, 0, 2), 0, 2);
  EXPECT_EQ(
      text,
      "x1\t0\tx2\t2\r\n"
      "Graph\ty at x1\ty at x2\tMax x\tMax y\tMin x\tMin y\tFWHM\tArea\tArea above "
      "baseline\tCentroid\r\n"
      "b.dat\t\u2013\t\u2013\t\u2013\t\u2013\t\u2013\t\u2013\t\u2013\t\u2013\t\u2013\t\u2013\r\n");
  Selection both;
  both.rows = {0, 1};
  EXPECT_EQ(measureGraphs(store, both, 0, 2).size(), 2u);
}

}  // namespace
}  // namespace varnix
