#include "workspace/graph_list_commands.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace varnix {
namespace {

using test::addGraph;

TEST(Rename, NewPathKeepsTheDirectory) {
  const std::pair<const char*, const char*> cases[] = {
      {"/data/a.dat", "/data/b.dat"},
      {"/a.dat", "//b.dat"},
      {"a.dat", "/b.dat"},
      {"1", "/b.dat"},
      {"/x/y/z/a.dat", "/x/y/z/b.dat"},
      {"rel/a.dat", "rel/b.dat"},
  };
  for (const auto& [oldPath, newPath] : cases) EXPECT_EQ(renamedPath(oldPath, "b.dat"), newPath);
  EXPECT_EQ(renamedPath("/data/a.dat", ""), "/data/");
}

TEST(GraphList, HighlightRenameDelete) {
  GraphStore store;
  EXPECT_EQ(highlightGraph(store, 0), "");
  for (int i = 0; i < 5; ++i) addGraph(store, "g" + std::to_string(i) + ".dat", {{0, 0}});
  EXPECT_EQ(highlightGraph(store, 2), "g2.dat highlighted");
  renameGraph(store, 1, "new.dat");
  EXPECT_EQ(store.graph(1).name, "new.dat");
  EXPECT_EQ(store.graph(1).path, "/data/new.dat");
  store.setUndoEnabled(true);
  EXPECT_EQ(deleteGraph(store, 2), " g2.dat deleted from memory");
  EXPECT_FALSE(store.undoEnabled());
  EXPECT_EQ(store.count(), 4u);
  EXPECT_EQ(store.graph(2).name, "g3.dat");
}

TEST(GraphList, DeleteAllAsksFirstAndKeepsUndoState) {
  GraphStore store;
  EXPECT_FALSE(deleteAllGraphs(store, [](const std::string&) { return true; }));
  addGraph(store, "a", {{0, 0}});
  addGraph(store, "b", {{0, 0}});
  store.setUndoEnabled(true);
  std::string asked;
  EXPECT_FALSE(deleteAllGraphs(store, [&](const std::string& q) {
    asked = q;
    return false;
  }));
  EXPECT_EQ(asked, "Remove all data? (Unsaved changes will be lost)");
  EXPECT_EQ(store.count(), 2u);
  EXPECT_EQ(*deleteAllGraphs(store, [](const std::string&) { return true; }), "No Data loaded");
  EXPECT_EQ(store.count(), 0u);
  EXPECT_TRUE(store.undoEnabled());
}

}  // namespace
}  // namespace varnix
