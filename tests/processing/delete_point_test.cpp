#include "processing/delete_point.h"

#include <gtest/gtest.h>

#include <optional>

#include "test_util.h"

namespace varnix {
namespace {

using test::addGraph;
using test::xs;

TEST(DeletePoint, CursorTable) {
  struct Case {
    std::vector<double> x;
    double cursor;
    std::optional<std::size_t> deleted;
  };
  const std::vector<double> up = {0, 1, 2, 3, 4};
  const std::vector<double> down = {4, 3, 2, 1, 0};
  const Case cases[] = {
      {up, 1.4, 1},   {up, 1.6, 2},      {up, 1.5, 1},        {up, 0.2, {}},
      {up, 0.6, 1},   {up, 3.5, {}},     {up, 3.0, {}},       {up, 2.0, 2},
      {up, -1, {}},   {up, 9, {}},       {down, 1.4, 3},      {down, 1.6, 2},
      {down, 1.5, 3}, {down, 3.5, {}},   {down, 0.4, 4},      {down, 3.0, {}},
      {down, 2.0, 2}, {{0, 1}, 0.4, {}}, {{0, 1, 2}, 0.9, 1}, {{0, 2, 1, 3, 4}, 1.5, 2},
  };
  for (const Case& c : cases) {
    Series s;
    for (std::size_t i = 0; i < c.x.size(); ++i) s.points().push_back({c.x[i], double(i)});
    EXPECT_EQ(pointAtCursor(s, c.cursor), c.deleted)
        << "cursor " << c.cursor << " first x " << c.x.front();
  }
}

TEST(DeletePoint, WorksOnTheCurrentGraphAndAlwaysTakesTheUndoCopy) {
  GraphStore store;
  addGraph(store, "a", {{0, 0}, {1, 10}, {2, 0}, {3, 5}});
  addGraph(store, "b", {{0, 0}, {1, 10}, {2, 0}});
  EXPECT_EQ(deletePointAtCursor(store, 0, 1.1), 1u);
  EXPECT_EQ(xs(store.series(0)), (std::vector<double>{0, 2, 3}));
  EXPECT_EQ(store.series(0).maxY(), 5);  // ranges recomputed
  EXPECT_TRUE(store.undoEnabled());
  store.setUndoEnabled(false);
  EXPECT_FALSE(deletePointAtCursor(store, 1, 0.1));
  EXPECT_TRUE(store.graph(1).undoMark);
  EXPECT_TRUE(store.undoEnabled());
  EXPECT_EQ(store.restoreUndoCopies(), (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(store.series(0).count(), 4u);
}

}  // namespace
}  // namespace varnix
