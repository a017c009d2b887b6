#include "processing/moments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "processing/point_transforms.h"
#include "test_util.h"
#include "workspace/error.h"

namespace varnix {
namespace {

using test::addGraph;
using test::select;
using test::ys;

Series seriesOf(std::initializer_list<Point> pts) {
  Series s;
  for (const Point& p : pts) s.addPoint(p.x, p.y);
  return s;
}

TEST(Moments, ConstantGraph) {
  Series s;
  for (int i = 0; i <= 10; ++i) s.addPoint(i, 1);
  MomentValues m = moments(s, 0, 10);
  EXPECT_EQ(m.m0, 10);
  EXPECT_EQ(m.m1, 5);
  // A uniform distribution on [0, 10] sampled by the trapezoid rule: the
  // variance of the midpoints is (10^2 - 1) / 12.
  EXPECT_NEAR(m.d, std::sqrt(99.0 / 12.0), 1e-12);
  EXPECT_NEAR(m.a, 0, 1e-12);
}

TEST(Moments, TwoPointsAreOneSegment) {
  Series s = seriesOf({{1, 2}, {3, 4}});
  EXPECT_EQ(momentSum(s, 0, 0, 0, 10), 6);
  EXPECT_EQ(momentSum(s, 0, 0, 3.5, 10), 0);  // right end below the frame
  Series one = seriesOf({{1, 2}});
  EXPECT_EQ(momentSum(one, 0, 0, 0, 10), 0);
  EXPECT_THROW(moments(one, 0, 10), Error);
}

// The walk's boundary rules in both directions, y = x on x = 0..5, frame
// 1.5 .. 3.5: ascending adds [1,2] [2,3] [3,4]; descending adds [2,3] [3,4]
// [4,5].
TEST(Moments, BoundaryRulesOfBothWalks) {
  Series up, down;
  for (int i = 0; i <= 5; ++i) up.addPoint(i, i);
  down = up;
  for (std::size_t j = 0; j < 6; ++j) {
    down.setX(j, 5 - static_cast<double>(j));
    down.setY(j, 5 - static_cast<double>(j));
  }
  EXPECT_EQ(momentSum(up, 0, 0, 1.5, 2), 1.5 + 2.5 + 3.5);
  EXPECT_EQ(momentSum(down, 0, 0, 1.5, 2), 2.5 + 3.5 + 4.5);
  // Equal first and last x counts as descending.
  Series flat = seriesOf({{1, 1}, {1, 1}});
  EXPECT_EQ(momentSum(flat, 0, 0, 0, 5), 0);
}

TEST(Moments, GaussianAgainstClosedForm) {
  const double mu = 2.1, sigma = 0.05, height = 300;
  Series s;
  for (int i = 0; i <= 20000; ++i) {
    const double x = 1.2 + 2.0 * i / 20000;
    s.addPoint(x, height * std::exp(-0.5 * std::pow((x - mu) / sigma, 2)));
  }
  MomentValues m = moments(s, 1.2, 3.2);
  EXPECT_NEAR(m.m0, height * sigma * std::sqrt(2 * std::numbers::pi), 1e-6);
  EXPECT_NEAR(m.m1, mu, 1e-9);
  EXPECT_NEAR(m.d, sigma, 1e-6);
  EXPECT_NEAR(m.a, 0, 1e-6);

  // The same curve after eV<=>A: descending x. In wavelength l = 1/(c x)
  // the area is the integral of f(x) / (c x^2) dx and the centroid that of
  // l f(x) / (c x^2) dx over it: computed here by Simpson's rule in x.
  GraphStore store;
  store.append("g", "g").series = s;
  evAngstromGraphs(store, select({}, 0));
  const Series& t = store.series(0);
  ASSERT_GT(t.x(0), t.x(t.count() - 1));
  MomentValues a = moments(t, t.minX(), t.maxX());
  const double c = 8.065544E-5;
  double area = 0, first = 0;
  const int n = 200000;
  const double h = 2.0 / n;
  for (int i = 0; i <= n; ++i) {
    const double x = 1.2 + h * i;
    const double w = (i == 0 || i == n) ? 1 : (i % 2 ? 4 : 2);
    const double f = height * std::exp(-0.5 * std::pow((x - mu) / sigma, 2)) / (c * x * x);
    area += w * f;
    first += w * f / (c * x);
  }
  area *= h / 3;
  first *= h / 3;
  EXPECT_NEAR(a.m0, area, area * 1e-6);
  EXPECT_NEAR(a.m1, first / area, 1e-3);
  EXPECT_GT(a.a, 0);  // the 1/x map skews the peak towards long wavelengths
  // Reversing the point order by hand gives the same area, walked ascending.
  Series r;
  for (std::size_t j = t.count(); j-- > 0;) r.addPoint(t.x(j), t.y(j));
  EXPECT_NEAR(moments(r, t.minX(), t.maxX()).m0, a.m0, std::fabs(a.m0) * 1e-12);
}

TEST(Moments, ZeroAreaFaults) {
  Series zero = seriesOf({{0, 0}, {1, 0}});
  EXPECT_EQ(test::errorOf([&] { moments(zero, 0, 1); }), "Invalid floating point operation");
  // Area 0 with a non-zero first moment: division by zero.
  Series sym = seriesOf({{1, -1}, {2, 0}, {3, 1}});
  EXPECT_EQ(test::errorOf([&] { moments(sym, 0, 4); }), "Floating point division by zero");
}

TEST(CalculateMoments, SingleGraphOrTable) {
  GraphStore store;
  addGraph(store, "a10b.dat", {{0, 1}, {5, 1}, {10, 1}});
  addGraph(store, "x.dat", {{0, 2}, {5, 2}, {10, 2}});
  addGraph(store, "T300K_2.dat", {{0, 0}, {5, 2}, {10, 4}});
  MomentsTable table;
  table.rows.resize(7);
  auto single = calculateMoments(store, select({1}, 0), 0, 10, table);
  ASSERT_TRUE(single);
  EXPECT_FALSE(single->isTable);
  EXPECT_EQ(single->single.name, "a10b.dat");
  EXPECT_EQ(single->single.value, "10");
  EXPECT_EQ(single->single.m0, "10");
  EXPECT_EQ(single->single.m1, "5");
  EXPECT_EQ(table.rows.size(), 7u);  // a single-graph run keeps the table

  auto run = calculateMoments(store, select({0, 1, 2}), 0, 10, table);
  ASSERT_TRUE(run && run->isTable);
  ASSERT_EQ(table.rows.size(), 3u);
  EXPECT_EQ(table.rows[1].value, "");
  EXPECT_EQ(table.rows[1].m0, "20");
  EXPECT_EQ(table.rows[2].value, "3002");
  EXPECT_EQ(table.rows[2].m1, "6.25");
  EXPECT_EQ(table.rows[2].d, "2.165064");
  EXPECT_EQ(momentFileText(table, 2).substr(0, 3), "10 ");
  const std::string d = momentFileText(table, 2);
  EXPECT_EQ(d, "10 " + table.rows[0].d + "\r\n " + table.rows[1].d + "\r\n3002 " + table.rows[2].d +
                   "\r\n");
  EXPECT_EQ(momentFileText(table, 3), "10 " + table.rows[0].a + "\r\n " + table.rows[1].a +
                                          "\r\n3002 " + table.rows[2].a + "\r\n");

  GraphStore empty;
  EXPECT_FALSE(calculateMoments(empty, {}, 0, 1, table));
}

TEST(CalculateMoments, AFaultLeavesTheRowsFilledSoFar) {
  GraphStore store;
  addGraph(store, "a1", {{0, 1}, {1, 2}, {2, 1}});
  addGraph(store, "b2", {{0, 0}, {1, 0}, {2, 0}});
  addGraph(store, "c3", {{0, 1}, {1, 2}, {2, 1}});
  MomentsTable table;
  EXPECT_THROW(calculateMoments(store, select({0, 1, 2}), 0, 2, table), Error);
  ASSERT_EQ(table.rows.size(), 3u);
  EXPECT_EQ(table.rows[0].m0, "3");
  EXPECT_EQ(table.rows[0].m1, "1");
  EXPECT_EQ(table.rows[0].d, "0.5");
  EXPECT_EQ(table.rows[0].a, "0");
  EXPECT_EQ(table.rows[1].name, "b2");
  EXPECT_EQ(table.rows[1].m0, "0");
  EXPECT_EQ(table.rows[1].m1, "");
  EXPECT_EQ(table.rows[2].name, "");
}

TEST(CalculateMoments, PreviewIsOrderedByValue) {
  MomentsTable table;
  table.rows = {{"T300K", "300", "5", "2.1", "", ""},
                {"T10K", "10", "7", "2.5", "", ""},
                {"x", "", "1.5E-6", "1e", "", ""}};
  auto [lower, upper] = momentsPreview(table);
  EXPECT_EQ(lower.points(), (std::vector<Point>{{0, 1.5e-6}, {10, 7}, {300, 5}}));
  EXPECT_EQ(upper.points(), (std::vector<Point>{{0, 1}, {10, 2.5}, {300, 2.1}}));
}

TEST(NormalizeIntegral, ScalesToTheLargestSelectedArea) {
  GraphStore store;
  addGraph(store, "a", {{0, 1}, {2, 1}});  // area 2
  addGraph(store, "b", {{0, 2}, {2, 2}});  // area 4
  addGraph(store, "c", {{0, 5}, {2, 5}});  // not selected
  normalizeIntegral(store, select({0, 1}), 0, 2);
  EXPECT_EQ(ys(store.series(0)), (std::vector<double>{2, 2}));
  EXPECT_EQ(ys(store.series(1)), (std::vector<double>{2, 2}));
  EXPECT_EQ(ys(store.series(2)), (std::vector<double>{5, 5}));
  EXPECT_TRUE(store.undoEnabled());
  EXPECT_TRUE(store.graph(0).undoMark);
  EXPECT_FALSE(store.graph(2).undoMark);
}

TEST(NormalizeIntegral, ZeroAreaStopsAtThatGraph) {
  GraphStore store;
  addGraph(store, "a", {{0, 1}, {2, 1}});
  addGraph(store, "z", {{0, 0}, {2, 0}});
  addGraph(store, "b", {{0, 2}, {2, 2}});
  EXPECT_EQ(test::errorOf([&] {
              normalizeIntegral(store, select({0, 1, 2}), 0, 2);
            }),
            "Floating point division by zero");
  EXPECT_EQ(ys(store.series(0)), (std::vector<double>{2, 2}));
  EXPECT_TRUE(store.graph(1).undoMark);
  EXPECT_EQ(ys(store.series(2)), (std::vector<double>{2, 2}));
  EXPECT_FALSE(store.graph(2).undoMark);
  EXPECT_FALSE(store.undoEnabled());
  GraphStore empty;
  normalizeIntegral(empty, {}, 0, 1);
  EXPECT_TRUE(empty.undoEnabled());
}

}  // namespace
}  // namespace varnix
