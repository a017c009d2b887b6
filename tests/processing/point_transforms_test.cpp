#include "processing/point_transforms.h"

#include <gtest/gtest.h>

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
