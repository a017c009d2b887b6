#include "workspace/graph_store.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace varnix {
namespace {

using test::addGraph;
using test::xs;
using test::ys;

TEST(Series, AddPointKeepsXAscendingWithEqualXInAddingOrder) {
  Series s;
  s.addPoint(2, 10);  // a
  s.addPoint(1, 20);  // b
  s.addPoint(2, 30);  // c
  s.addPoint(0, 40);  // smaller than all: the front
  s.addPoint(1, 50);  // after the earlier x = 1
  EXPECT_EQ(xs(s), (std::vector<double>{0, 1, 1, 2, 2}));
  EXPECT_EQ(ys(s), (std::vector<double>{40, 20, 50, 10, 30}));
}

TEST(Series, CachedRangeRules) {
  Series s;
  EXPECT_EQ(s.minY(), 0);
  s.addPoint(5, 3);  // the first point sets both ends
  EXPECT_EQ(s.minX(), 5);
  EXPECT_EQ(s.maxX(), 5);
  EXPECT_EQ(s.minY(), 3);
  EXPECT_EQ(s.maxY(), 3);
  s.addPoint(1, 7);  // widens
  EXPECT_EQ(s.minX(), 1);
  EXPECT_EQ(s.maxY(), 7);
  s.setY(1, 100);  // set y leaves the cache alone
  s.setX(0, -50);
  EXPECT_EQ(s.maxY(), 7);
  EXPECT_EQ(s.minX(), 1);
  s.recomputeYRange();
  EXPECT_EQ(s.maxY(), 100);
  EXPECT_EQ(s.minX(), 1);
  s.recomputeXRange();
  EXPECT_EQ(s.minX(), -50);
  s.deletePoint(1);  // delete recomputes both ranges
  EXPECT_EQ(s.maxY(), 7);
  EXPECT_EQ(s.maxX(), -50);
  s.clear();
  s.recomputeXRange();
  s.recomputeYRange();
  EXPECT_EQ(s.minX(), 0);
  EXPECT_EQ(s.maxY(), 0);
}

TEST(Series, AssignSortedEqualsAddingOneByOne) {
  std::vector<Point> pts = {{3, 1}, {1, 2}, {3, 3}, {2, 4}, {1, 5}, {-1, 6}};
  Series a, b;
  for (const Point& p : pts) a.addPoint(p.x, p.y);
  b.assignSorted(pts);
  EXPECT_EQ(a.points(), b.points());
  EXPECT_EQ(a.minX(), b.minX());
  EXPECT_EQ(a.maxX(), b.maxX());
  EXPECT_EQ(a.minY(), b.minY());
  EXPECT_EQ(a.maxY(), b.maxY());
}

// The undo scenarios of the store, as a table of commands and expectations.
TEST(GraphStore, UndoRestoresEveryGraphChangedSinceTheLastUndo) {
  GraphStore store;
  addGraph(store, "a", {{0, 1}, {1, 2}});
  addGraph(store, "b", {{0, 3}, {1, 4}});
  addGraph(store, "c", {{0, 5}});
  // A command on a, then one on b.
  store.takeUndoCopy(0);
  store.series(0).setY(0, 10);
  store.takeUndoCopy(1);
  store.series(1).setY(1, 40);
  store.setUndoEnabled(true);
  EXPECT_EQ(store.restoreUndoCopies(), (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(ys(store.series(0)), (std::vector<double>{1, 2}));
  EXPECT_EQ(ys(store.series(1)), (std::vector<double>{3, 4}));
  EXPECT_FALSE(store.undoEnabled());
  EXPECT_FALSE(store.graph(0).undoMark);
  // Undo keeps the copies; with no mark a second undo changes nothing.
  store.series(0).setY(0, 99);
  EXPECT_TRUE(store.restoreUndoCopies().empty());
  EXPECT_EQ(store.series(0).y(0), 99);
}

TEST(GraphStore, SecondCommandOnSameGraphUndoesOnlyTheSecond) {
  GraphStore store;
  addGraph(store, "a", {{0, 1}});
  store.takeUndoCopy(0);
  store.series(0).setY(0, 2);
  store.takeUndoCopy(0);
  store.series(0).setY(0, 3);
  store.restoreUndoCopies();
  EXPECT_EQ(store.series(0).y(0), 2);
}

TEST(GraphStore, RemovingASlotMovesLaterSlotsWithTheirUndoState) {
  GraphStore store;
  for (int i = 0; i < 5; ++i) {
    Graph& g = addGraph(store, "g" + std::to_string(i), {{0, double(i)}});
    g.comments = {"comment " + std::to_string(i)};
  }
  store.takeUndoCopy(3);
  store.series(3).setY(0, 33);
  store.takeUndoCopy(4);
  store.series(4).setY(0, 44);
  store.removeGraphSlot(2);
  ASSERT_EQ(store.count(), 4u);
  EXPECT_EQ(store.graph(2).name, "g3");
  EXPECT_EQ(store.graph(2).comments, std::vector<std::string>{"comment 3"});
  EXPECT_TRUE(store.graph(2).undoMark);
  EXPECT_TRUE(store.graph(3).undoMark);
  EXPECT_EQ(store.restoreUndoCopies(), (std::vector<std::size_t>{2, 3}));
  EXPECT_EQ(store.series(2).y(0), 3);
  EXPECT_EQ(store.series(3).y(0), 4);
}

TEST(GraphStore, UndoOfADescendingGraphAddsItsPointsInAscendingOrder) {
  GraphStore store;
  Graph& g = addGraph(store, "a", {{1, 1}, {2, 2}, {3, 3}});
  // x rewritten in place, as eV<=>A does: now descending.
  g.series.setX(0, 30);
  g.series.setX(1, 20);
  g.series.setX(2, 10);
  store.takeUndoCopy(0);
  g.series.setY(0, 0);
  store.restoreUndoCopies();
  EXPECT_EQ(xs(g.series), (std::vector<double>{10, 20, 30}));
  EXPECT_EQ(ys(g.series), (std::vector<double>{3, 2, 1}));
}

TEST(GraphStore, HighlightAndRemoval) {
  GraphStore store;
  store.setColours(100, 200);
  for (int i = 0; i < 3; ++i) addGraph(store, "g" + std::to_string(i), {{0, 0}});
  store.highlight(2);
  EXPECT_EQ(store.graph(2).colour, 200u);
  store.removeGraphSlot(2);  // the index is not adjusted
  EXPECT_EQ(store.highlightedIndex(), 2u);
  store.highlight(0);  // slot 2 is past the end: nothing to recolour
  EXPECT_EQ(store.graph(0).colour, 200u);
  EXPECT_EQ(store.graph(1).colour, 100u);
  store.highlight(1);
  EXPECT_EQ(store.graph(0).colour, 100u);
  store.recolourAll();
  EXPECT_EQ(store.graph(1).colour, 100u);
  EXPECT_EQ(store.highlightedIndex(), 1u);
}

TEST(GraphStore, OverallLargestYIgnoresEmptyGraphs) {
  GraphStore store;
  EXPECT_EQ(store.overallLargestY(), 0);
  addGraph(store, "empty", std::vector<Point>{});
  addGraph(store, "neg", {{0, -5}, {1, -3}});
  EXPECT_EQ(store.overallLargestY(), -3);
  addGraph(store, "pos", {{0, 8}});
  EXPECT_EQ(store.overallLargestY(), 8);
  store.series(2).setY(0, 100);  // the cache, not the data, counts
  EXPECT_EQ(store.overallLargestY(), 8);
}

}  // namespace
}  // namespace varnix
