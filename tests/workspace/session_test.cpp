#include "workspace/session.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace varnix {
namespace {

using test::addGraph;

Session sessionOf(std::size_t graphs) {
  Session s;
  for (std::size_t i = 0; i < graphs; ++i)
    addGraph(s.store(), "g" + std::to_string(i), {{0, 1}, {1, 2}});
  return s;
}

TEST(Session, DeleteFromListMovesTheFocusAndSelectsTheNextRow) {
  struct Case {
    std::size_t graphs, focus;
    std::vector<std::size_t> selected;
    std::size_t focusAfter;
    std::vector<std::size_t> selectedAfter;
  };
  const std::vector<Case> cases = {
      // Rows 1, 2, 3 selected, focus on 2: only graph 2 goes; the focus moves
      // up to row 1 and the row after it (2, the old 3) is selected.
      {5, 2, {1, 2, 3}, 1, {1, 2}},
      {4, 0, {}, 0, {0}},   // focus on the first row: row 0 is selected
      {3, 2, {}, 1, {}},    // the last row: the focus ends on the new last row
      {3, 1, {0}, 0, {0}},  // focus 0 after: row 0
      {2, 1, {}, 0, {}},    // one row left: nothing to select (f = n - 1)
  };
  for (const Case& c : cases) {
    Session s = sessionOf(c.graphs);
    s.setFocusRow(c.focus);
    s.selectOnly(c.selected);
    EXPECT_EQ(s.deleteFromList(), c.focus);
    EXPECT_EQ(s.information(), " g" + std::to_string(c.focus) + " deleted from memory");
    EXPECT_EQ(s.focusRow(), c.focusAfter) << c.graphs << " " << c.focus;
    EXPECT_EQ(s.selection().rows, c.selectedAfter) << c.graphs << " " << c.focus;
    EXPECT_EQ(s.store().count(), c.graphs - 1);
  }
  Session empty;
  EXPECT_EQ(empty.deleteFromList(), std::nullopt);
}

TEST(Session, DeleteAllAsksAndUndoSelectsTheRestoredRows) {
  Session s = sessionOf(3);
  s.store().takeUndoCopy(1);
  s.store().series(1).points()[0].y = 9;
  s.store().setUndoEnabled(true);
  EXPECT_EQ(s.undo(), std::vector<std::size_t>{1});
  EXPECT_EQ(s.selection().rows, std::vector<std::size_t>{1});
  EXPECT_EQ(s.store().series(1).points()[0].y, 1);
  EXPECT_TRUE(s.undo().empty());  // Undo is disabled now

  std::vector<std::string> asked;
  EXPECT_FALSE(s.deleteAll([&](const std::string& q) {
    asked.push_back(q);
    return false;
  }));
  EXPECT_EQ(s.store().count(), 3u);
  EXPECT_TRUE(s.deleteAll([](const std::string&) { return true; }));
  EXPECT_EQ(asked, std::vector<std::string>{"Remove all data? (Unsaved changes will be lost)"});
  EXPECT_EQ(s.information(), "No Data loaded");
  EXPECT_EQ(s.focusRow(), std::nullopt);
  EXPECT_FALSE(s.deleteAll([](const std::string&) { return true; }));  // empty: nothing asked
}

TEST(Session, AddFilesFocusesTheFirstRowAndSaveSelectedDeselects) {
  test::TempDir dir;
  test::writeFile(dir.file("a.dat"), "1 2\r\n");
  test::writeFile(dir.file("b.dat"), "1 2 3\r\n");
  Session s;
  EXPECT_EQ(s.information(), "Varnix 0.1.0");
  s.addFiles({dir.file("a.dat"), dir.file("b.dat")}, {});
  EXPECT_EQ(s.information(), " 3 files loaded. Press <R> to rescale");
  EXPECT_EQ(s.focusRow(), 0u);
  EXPECT_TRUE(s.selection().rows.empty());
  s.setFocusRow(2);
  s.addFiles({dir.file("a.dat")}, {});
  EXPECT_EQ(s.focusRow(), 2u);  // an existing focus stays
  s.selectOnly({0, 3});
  s.saveSelected([](const std::string&) { return true; }, {});
  EXPECT_TRUE(s.selection().rows.empty());
  s.highlight();
  EXPECT_EQ(s.information(), "1 highlighted");
}

}  // namespace
}  // namespace varnix
