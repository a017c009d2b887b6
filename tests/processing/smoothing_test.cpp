#include "processing/smoothing.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace varnix {
namespace {

using test::addGraph;
using test::select;
using test::ys;

std::vector<Point> line(std::vector<double> y) {
  std::vector<Point> pts;
  for (std::size_t i = 0; i < y.size(); ++i) pts.push_back({double(i), y[i]});
  return pts;
}

TEST(Dispo, SpikeReproducesTheWeights) {
  std::vector<double> y(25, 0.0);
  y[10] = 1;
  GraphStore store;
  addGraph(store, "spike", line(y));
  dispoSmoothGraphs(store, select({0}));
  const std::vector<double> out = ys(store.series(0));
  const double expected[] = {-0.084, 0.021, 0.103, 0.161, 0.196, 0.207,
                             0.196,  0.161, 0.103, 0.021, -0.084};
  for (int d = -5; d <= 5; ++d) EXPECT_DOUBLE_EQ(out[10 + d], expected[d + 5]) << d;
  EXPECT_EQ(out[4], 0);
  EXPECT_EQ(out[16], 0);
  EXPECT_TRUE(store.undoEnabled());
  EXPECT_EQ(store.graph(0).undoCopy, line(y));
}

TEST(Dispo, ConstantEndsAndShortGraphs) {
  GraphStore store;
  addGraph(store, "const", line(std::vector<double>(30, 100.0)));
  addGraph(store, "eleven", line({0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}));
  addGraph(store, "ten", line({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  addGraph(store, "unselected", line(std::vector<double>(30, 100.0)));
  dispoSmoothGraphs(store, select({0, 1, 2}));
  const std::vector<double> c = ys(store.series(0));
  for (std::size_t i = 0; i < 30; ++i) {
    if (i < 5 || i > 24)
      EXPECT_EQ(c[i], 100);
    else
      EXPECT_NEAR(c[i], 100.1, 1e-12);
  }
  EXPECT_EQ(ys(store.series(1)), (std::vector<double>{0, 0, 0, 0, 0, 0.207, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ys(store.series(2)), (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_TRUE(store.graph(2).undoMark);
  EXPECT_FALSE(store.graph(3).undoMark);
  EXPECT_EQ(store.series(3).y(10), 100);
}

TEST(Dispo, ReadsOnlyTheValuesFromBeforeTheCommand) {
  // A recursive filter would feed smoothed values into later points; the
  // ramp shows it: the filter of a straight line is the line times 1.001.
  std::vector<double> y;
  for (int i = 0; i < 40; ++i) y.push_back(i);
  GraphStore store;
  addGraph(store, "ramp", line(y));
  dispoSmoothGraphs(store, select({0}));
  for (int i = 5; i < 35; ++i) EXPECT_NEAR(store.series(0).y(i), i * 1.001, 1e-12) << i;
  GraphStore empty;
  dispoSmoothGraphs(empty, {});
  EXPECT_TRUE(empty.undoEnabled());
}

}  // namespace
}  // namespace varnix
