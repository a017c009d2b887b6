#include "processing/measure.h"

#include <gtest/gtest.h>

#include <cmath>

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
