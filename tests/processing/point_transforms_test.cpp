#include "processing/point_transforms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "test_util.h"
#include "workspace/error.h"
#include "workspace/float_faults.h"

namespace varnix {
namespace {

using test::addGraph;
using test::select;
using test::xs;
using test::ys;

TEST(PointTransforms, FilinNormalizeShelf) {
  GraphStore store;
  addGraph(store, "a", {{0, 0.5}, {1, 1.0}, {2, 3.0}});
  filinGraphs(store, select({0}));
  EXPECT_EQ(ys(store.series(0)), (std::vector<double>{1, 1, 3}));
  EXPECT_TRUE(store.undoEnabled());
  EXPECT_EQ(store.series(0).minY(), 1);

  GraphStore s2;
  addGraph(s2, "a", {{0, 1}, {1, 2}});
  addGraph(s2, "b", {{0, 8}, {1, 4}});
  normalizeGraphs(s2, select({0}));
  EXPECT_EQ(ys(s2.series(0)), (std::vector<double>{4, 8}));
  EXPECT_EQ(ys(s2.series(1)), (std::vector<double>{8, 4}));
  normalizeGraphs(s2, select({1}));  // holds the overall maximum: factor 1
  EXPECT_EQ(ys(s2.series(1)), (std::vector<double>{8, 4}));

  GraphStore s3;
  addGraph(s3, "a", {{0, 5}, {1, 3}, {2, 7}});
  removeShelfGraphs(s3, select({}, 0));
  EXPECT_EQ(ys(s3.series(0)), (std::vector<double>{2, 0, 4}));
  EXPECT_EQ(s3.series(0).minY(), 0);
  EXPECT_TRUE(s3.undoEnabled());
}

TEST(PointTransforms, NormalizeUsesTheCachedMaximumFromBeforeTheCommand) {
  GraphStore store;
  addGraph(store, "a", {{0, 1}, {1, 2}});
  addGraph(store, "b", {{0, 10}});
  store.series(0).setY(1, 5);  // not in the cache: the factor stays 10 / 2
  normalizeGraphs(store, select({0}));
  EXPECT_EQ(ys(store.series(0)), (std::vector<double>{5, 25}));
}

TEST(PointTransforms, NormalizeProductIsExtendedPrecision) {
  GraphStore store;
  addGraph(store, "a", {{0, 1e300}, {1, 3}});
  addGraph(store, "b", {{0, 1e300 * 3}});
  // Ymax_all * y would overflow in 64 bits; in extended precision it fits.
  normalizeGraphs(store, select({0}));
  EXPECT_DOUBLE_EQ(store.series(0).y(0), 3e300);
  const long double expected = static_cast<long double>(3e300) * 3 / 1e300;
  EXPECT_EQ(store.series(0).y(1), static_cast<double>(expected));
}

TEST(PointTransforms, LnExpLeaveUndoAlone) {
  GraphStore store;
  addGraph(store, "a", {{0, 1}, {1, std::exp(2.0)}});
  lnGraphs(store, select({0}));
  EXPECT_EQ(ys(store.series(0)), (std::vector<double>{0, 2}));
  EXPECT_FALSE(store.undoEnabled());
  EXPECT_FALSE(store.graph(0).undoMark);
  expGraphs(store, select({0}));
  EXPECT_EQ(store.series(0).y(0), 1);
  EXPECT_FALSE(store.undoEnabled());
  store.setUndoEnabled(true);
  lnGraphs(store, select({0}));
  EXPECT_TRUE(store.undoEnabled());
}

TEST(PointTransforms, EvAngstrom) {
  GraphStore store;
  addGraph(store, "a", {{1, 10}, {2, 20}, {4, 40}});
  evAngstromGraphs(store, select({}, 0));
  const double c1 = static_cast<double>(1.0L / (1.0L * 8.065544E-5L));
  EXPECT_EQ(store.series(0).x(0), c1);
  EXPECT_GT(store.series(0).x(0), store.series(0).x(1));
  EXPECT_GT(store.series(0).x(1), store.series(0).x(2));
  EXPECT_EQ(ys(store.series(0)), (std::vector<double>{10, 20, 40}));  // no re-sorting
  EXPECT_EQ(store.series(0).minX(), store.series(0).x(2));            // ranges recomputed
  EXPECT_FALSE(store.undoEnabled());
  evAngstromGraphs(store, select({}, 0));
  std::vector<double> back = xs(store.series(0));
  EXPECT_NEAR(back[0], 1, 1e-15);
  EXPECT_NEAR(back[1], 2, 1e-15);
  EXPECT_NEAR(back[2], 4, 1e-15);
}

TEST(PointTransforms, WhichGraphsTheFallbackCommandsChange) {
  struct Case {
    std::vector<std::size_t> rows;
    std::size_t current;
    std::vector<bool> changed;
  };
  const Case cases[] = {
      {{}, 1, {false, true, false}},
      {{2}, 1, {false, true, false}},
      {{0, 2}, 1, {true, false, true}},
      {{0, 1, 2}, 1, {true, true, true}},
  };
  for (const Case& c : cases) {
    GraphStore store;
    for (int i = 0; i < 3; ++i) addGraph(store, "g", {{1, 5}, {2, 7}});
    Selection sel;
    sel.rows = c.rows;
    sel.current = c.current;
    GraphStore ev = store;
    removeShelfGraphs(store, sel);
    evAngstromGraphs(ev, sel);
    for (std::size_t g = 0; g < 3; ++g) {
      EXPECT_EQ(store.series(g).y(0) == 0, c.changed[g]) << "shelf graph " << g;
      EXPECT_EQ(store.graph(g).undoMark, c.changed[g]);
      EXPECT_EQ(ev.series(g).x(0) != 1, c.changed[g]) << "eV graph " << g;
    }
  }
}

TEST(PointTransforms, NoGraphLoaded) {
  GraphStore a, b, c;
  normalizeGraphs(a, {});
  filinGraphs(b, {});
  removeShelfGraphs(c, {});
  EXPECT_TRUE(a.undoEnabled());
  EXPECT_TRUE(b.undoEnabled());
  EXPECT_FALSE(c.undoEnabled());
}

// A fault in the middle of a graph: earlier points rewritten, the faulting
// point and later ones not, Undo unchanged, the cache not recomputed.
TEST(PointTransforms, FaultsStopAtTheFaultingPoint) {
  struct Case {
    const char* name;
    void (*command)(GraphStore&, const Selection&);
    std::vector<Point> points;
    const char* message;
    std::vector<double> after;
    bool takesUndoCopy;
  };
  auto ln = [](GraphStore& s, const Selection& sel) { lnGraphs(s, sel); };
  auto ex = [](GraphStore& s, const Selection& sel) { expGraphs(s, sel); };
  auto norm = [](GraphStore& s, const Selection& sel) { normalizeGraphs(s, sel); };
  const Case cases[] = {
      {"ln of 0",
       ln,
       {{0, 1}, {1, 0}, {2, 5}},
       "Floating point division by zero",
       {0, 0, 5},
       false},
      {"ln of negative",
       ln,
       {{0, 1}, {1, -2}, {2, 5}},
       "Invalid floating point operation",
       {0, -2, 5},
       false},
      {"exp overflow",
       ex,
       {{0, 0}, {1, 710}, {2, 1}},
       "Floating point overflow",
       {1, 710, 1},
       false},
      {"normalize by 0", norm, {{0, -1}, {1, 0}}, "Floating point division by zero", {-1, 0}, true},
      {"normalize 0 by 0",
       norm,
       {{0, 0}, {1, 0}},
       "Invalid floating point operation",
       {0, 0},
       true},
  };
  for (const Case& c : cases) {
    GraphStore store;
    addGraph(store, "g", c.points);
    addGraph(store, "h", {{0, 3}});
    const double maxBefore = store.series(0).maxY();
    try {
      c.command(store, select({0, 1}));
      ADD_FAILURE() << c.name << ": no fault";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), c.message) << c.name;
    }
    EXPECT_EQ(ys(store.series(0)), c.after) << c.name;
    EXPECT_EQ(store.series(0).maxY(), maxBefore) << c.name;
    EXPECT_EQ(store.series(1).y(0), 3) << c.name << ": later graph untouched";
    EXPECT_FALSE(store.undoEnabled()) << c.name;
    EXPECT_EQ(store.graph(0).undoMark, c.takesUndoCopy) << c.name;
    if (c.takesUndoCopy) EXPECT_EQ(store.graph(0).undoCopy, c.points) << c.name;
  }
}

/// The cached ranges a scan of the points gives.
void expectRangesOfPoints(const Series& s, const char* what) {
  double x0 = s.x(0), x1 = s.x(0), y0 = s.y(0), y1 = s.y(0);
  for (const Point& p : s.points()) {
    x0 = std::min(x0, p.x);
    x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y);
    y1 = std::max(y1, p.y);
  }
  EXPECT_EQ(s.minX(), x0) << what;
  EXPECT_EQ(s.maxX(), x1) << what;
  EXPECT_EQ(s.minY(), y0) << what;
  EXPECT_EQ(s.maxY(), y1) << what;
}

TEST(PointTransforms, EvNanometreKeepsTheAreaAndRecomputesEveryRange) {
  constexpr long double hc = 1239.84198L;
  const std::vector<Point> ev = {{1, 10}, {2, 20}, {4, 40}};
  for (std::size_t converted : {0u, 1u}) {
    GraphStore store;
    for (int g = 0; g < 2; ++g) addGraph(store, "g", ev);
    // The other graph's points changed in place, its cache not: the command
    // recomputes every graph's ranges, as Rescale does.
    const std::size_t other = 1 - converted;
    store.series(other).points()[1].y = -7;
    store.series(other).points()[2].x = 9;
    evNanometreGraphs(store, select({}, converted));
    const Series& s = store.series(converted);
    ASSERT_EQ(s.count(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
      const long double x = ev[k].x, y = ev[k].y;
      EXPECT_EQ(s.x(k), static_cast<double>(hc / x)) << k;
      EXPECT_EQ(s.y(k), static_cast<double>(y * x * x / hc)) << k;
    }
    // Not re-sorted: x now descends.
    EXPECT_GT(s.x(0), s.x(2));
    EXPECT_DOUBLE_EQ(s.maxX(), 1239.84198);
    EXPECT_DOUBLE_EQ(s.minX(), 1239.84198 / 4);
    EXPECT_DOUBLE_EQ(s.minY(), 10 / 1239.84198);
    EXPECT_DOUBLE_EQ(s.maxY(), 40 * 16 / 1239.84198);
    expectRangesOfPoints(s, "converted");
    expectRangesOfPoints(store.series(other), "other");
    EXPECT_EQ(store.series(other).minY(), -7);
    EXPECT_EQ(store.series(other).maxX(), 9);
    EXPECT_EQ(store.series(other).points()[0], ev[0]);
    EXPECT_FALSE(store.undoEnabled());
    EXPECT_FALSE(store.graph(converted).undoMark);
    // Twice gives the curve back.
    evNanometreGraphs(store, select({}, converted));
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_NEAR(s.x(k), ev[k].x, 1e-14 * ev[k].x);
      EXPECT_NEAR(s.y(k), ev[k].y, 1e-14 * ev[k].y);
    }
    expectRangesOfPoints(s, "back");
  }
  // The area over x stays: a triangle 0..4 eV-wide under trapezoids keeps
  // its integral in nm within the trapezoid error of a fine grid.
  GraphStore fine;
  std::vector<Point> tri;
  for (int k = 0; k <= 4000; ++k) {
    const double x = 1 + k * 1e-3;
    tri.push_back({x, 1 - std::fabs(x - 3) / 2});
  }
  addGraph(fine, "t", tri);
  evNanometreGraphs(fine, select({}, 0));
  double area = 0;
  const auto& p = fine.series(0).points();
  for (std::size_t k = 1; k < p.size(); ++k)
    area += (p[k].y + p[k - 1].y) / 2 * std::fabs(p[k].x - p[k - 1].x);
  EXPECT_NEAR(area, 2.0, 1e-5);  // the triangle's area: base 4, height 1
}

TEST(PointTransforms, EvNanometreFaultLeavesTheFaultingPoint) {
  GraphStore store;
  addGraph(store, "g", {{-2, 3}, {0, 1}, {2, 5}});
  EXPECT_EQ(test::errorOf([&] { evNanometreGraphs(store, select({}, 0)); }),
            "Floating point division by zero");
  EXPECT_EQ(store.series(0).x(0), static_cast<double>(1239.84198L / -2));
  EXPECT_EQ(store.series(0).y(0), static_cast<double>(3 * 4 / 1239.84198L));
  EXPECT_EQ(store.series(0).points()[1], (Point{0, 1}));
  EXPECT_EQ(store.series(0).points()[2], (Point{2, 5}));
  // Nothing loaded: nothing to do.
  GraphStore empty;
  evNanometreGraphs(empty, select({}, 0));
  EXPECT_EQ(empty.count(), 0u);
}

TEST(PointTransforms, EvAngstromOfZeroFaults) {
  GraphStore store;
  addGraph(store, "g", {{0, 1}, {1, 2}});
  EXPECT_THROW(evAngstromGraphs(store, select({}, 0)), Error);
  EXPECT_EQ(store.series(0).x(0), 0);
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

// The shortcut of subtractExtended gives exactly the extended-precision
// difference rounded to 64 bits, across close and distant exponents.
TEST(SubtractExtended, EqualsTheExtendedComputation) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> mant(-2, 2);
  std::uniform_int_distribution<int> exp(-30, 30);
  for (int i = 0; i < 200000; ++i) {
    const double a = std::ldexp(mant(rng), exp(rng));
    const double b = i % 7 == 0 ? a * (1 + 1e-15) : std::ldexp(mant(rng), exp(rng));
    const double want = static_cast<double>(static_cast<long double>(a) - b);
    ASSERT_EQ(subtractExtended(a, b), want) << a << " " << b;
  }
  EXPECT_EQ(subtractExtended(5, 0), 5);
  EXPECT_EQ(subtractExtended(1e-310, 1e-310), 0);
}

}  // namespace
}  // namespace varnix
