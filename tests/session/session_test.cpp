#include "session/session.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "test_util.h"
#include "workspace/data_file_reader.h"

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

namespace varnix {
namespace {

TEST(Reload, GetsTheFileBackAndUndoBringsTheWorkBack) {
  test::TempDir dir;
  test::writeFile(dir.file("m.dat"), "\"head\r\n1 2 3\r\n2 4 6\r\n");
  Session s;
  s.addFiles({dir.file("m.dat")}, {});
  ASSERT_EQ(s.store().count(), 2u);  // the file's graph and column graph "1"
  EXPECT_FALSE(hasUnsavedChanges(s.store().graph(1)));
  for (std::size_t i : {0u, 1u}) s.store().series(i).points()[0].y = 100;
  EXPECT_TRUE(hasUnsavedChanges(s.store().graph(1)));
  // The file changed meanwhile: the reload reads it as it is now.
  test::writeFile(dir.file("m.dat"), "\"new head\r\n1 7 8\r\n2 9 10\r\n3 11 12\r\n");
  s.selectAll(true);
  std::vector<std::string> messages;
  const auto changed = s.reload([&](const std::string& m) { messages.push_back(m); });
  EXPECT_EQ(changed, (std::vector<std::size_t>{0, 1}));
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(s.store().series(0).points(), (std::vector<Point>{{1, 7}, {2, 9}, {3, 11}}));
  EXPECT_EQ(s.store().series(1).points(), (std::vector<Point>{{1, 8}, {2, 10}, {3, 12}}));
  EXPECT_EQ(s.store().graph(0).comments, std::vector<std::string>{"\"new head"});
  EXPECT_EQ(s.store().graph(1).name, "1");  // name, path and row stay
  EXPECT_FALSE(hasUnsavedChanges(s.store().graph(0)));
  // One undoable step: Undo brings the processed points back.
  s.undo();
  EXPECT_EQ(s.store().series(0).points()[0], (Point{1, 100}));
  EXPECT_EQ(s.store().series(1).points()[0], (Point{1, 100}));
}

TEST(Reload, AFileThatIsGoneOrNarrowerLeavesTheGraphAndSaysSo) {
  test::TempDir dir;
  test::writeFile(dir.file("a.dat"), "1 2\r\n");
  test::writeFile(dir.file("m.dat"), "1 2 3\r\n");
  Session s;
  s.addFiles({dir.file("a.dat"), dir.file("m.dat")}, {});
  std::filesystem::remove(dir.file("a.dat"));
  test::writeFile(dir.file("m.dat"), "1 5\r\n");
  s.selectAll(true);
  std::vector<std::string> messages;
  std::size_t failures = 0;
  const auto changed = s.reload([&](const std::string& m) { messages.push_back(m); }, &failures);
  EXPECT_EQ(changed, std::vector<std::size_t>{1});  // m.dat's own graph
  EXPECT_EQ(failures, 2u);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Cannot reload a.dat: " + dir.file("a.dat") + " is gone");
  EXPECT_EQ(messages[1],
            "Cannot reload 1: " + dir.file("m.dat") + " has no column 2 of y values now");
  EXPECT_EQ(s.store().series(0).points(), (std::vector<Point>{{1, 2}}));
  EXPECT_EQ(s.store().series(2).points(), (std::vector<Point>{{1, 3}}));
  // A graph made otherwise has no file to read.
  test::addGraph(s.store(), "made", {{0, 1}});
  s.selectOnly({3});
  s.reload([&](const std::string& m) { messages.push_back(m); });
  EXPECT_EQ(messages.back(), "Cannot reload made: it was not read from a file");
}

TEST(Reload, FollowingReadsOnlyCompleteLines) {
  test::TempDir dir;
  test::writeFile(dir.file("f.dat"), "1 2\n2 3\n");
  GraphStore store;
  loadDataFile(store, dir.file("f.dat"), {});
  test::writeFile(dir.file("f.dat"), "1 2\n2 3\n3 4\n4 5.");  // a line half written
  EXPECT_EQ(reloadGraphs(store, {0}, false, {}, nullptr, true), std::vector<std::size_t>{0});
  EXPECT_EQ(store.series(0).points(), (std::vector<Point>{{1, 2}, {2, 3}, {3, 4}}));
  EXPECT_FALSE(store.undoEnabled());
}

// Following a file another program writes: only lines with their line end
// count, whichever line ends the writer uses. Reload from disk (F5) reads the
// last line too.
TEST(Reload, LineEndsWhileFollowingAndOnF5) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<Point> following, f5;
  };
  const std::vector<Point> two = {{1, 2}, {2, 3}}, three = {{1, 2}, {2, 3}, {3, 4}};
  const Case cases[] = {
      {"CR LF, half line", "1 2\r\n2 3\r\n3 4", two, three},
      {"CR only, half line", "1 2\r2 3\r3 4", two, three},
      {"CR only, complete", "1 2\r2 3\r3 4\r", three, three},
      {"LF only, half line", "1 2\n2 3\n3 4", two, three},
      {"CR written, LF still to come", "1 2\r\n2 3\r\n3 4\r", three, three},
      {"half a number", "1 2\r\n2 3\r\n3 4.", two, three},
      {"an x without y", "1 2\r2 3\r3", two, two},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    const std::string path = dir.file("f.dat");
    test::writeFile(path, "\"old\r\n0 0\r\n");
    GraphStore store;
    loadDataFile(store, path, {});
    test::writeFile(path, "\"new\r" + c.text);
    std::vector<std::string> messages;
    auto tell = [&](const std::string& m) { messages.push_back(m); };
    EXPECT_EQ(reloadGraphs(store, {0}, false, tell, nullptr, true), std::vector<std::size_t>{0})
        << c.what;
    EXPECT_EQ(store.series(0).points(), c.following) << c.what;
    EXPECT_EQ(store.graph(0).comments, std::vector<std::string>{"\"new"}) << c.what;
    EXPECT_EQ(store.series(0).maxY(), c.following.back().y) << c.what;
    EXPECT_FALSE(store.graph(0).undoMark) << c.what;
    EXPECT_FALSE(hasUnsavedChanges(store.graph(0))) << c.what;
    EXPECT_EQ(reloadGraphs(store, {0}, true, tell, nullptr, false), std::vector<std::size_t>{0})
        << c.what;
    EXPECT_EQ(store.series(0).points(), c.f5) << c.what;
    EXPECT_TRUE(messages.empty()) << c.what << ": " << messages.front();
    // F5 took the followed points as its undo copy.
    EXPECT_TRUE(store.graph(0).undoMark) << c.what;
    EXPECT_EQ(store.graph(0).undoCopy, c.following) << c.what;
  }
}

TEST(Reload, WhatCannotBeReadLeavesGraphAndUndoAlone) {
  test::TempDir dir;
  const std::string a = dir.file("a.dat"), b = dir.file("b.dat");
  test::writeFile(a, "1 2\r\n2 3\r\n");
  test::writeFile(b, "1 5\r\n");
  GraphStore store;
  loadDataFile(store, a, {});
  loadDataFile(store, b, {});
  std::vector<std::string> messages;
  auto tell = [&](const std::string& m) { messages.push_back(m); };
  std::size_t failures = 0;
  // Rows past the end are no graphs.
  EXPECT_TRUE(reloadGraphs(store, {2, 7}, true, tell, &failures).empty());
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(failures, 0u);
  // a is gone, b is a FIFO now: neither is read (nor waited for), in
  // either mode.
  std::filesystem::remove(a);
  std::filesystem::remove(b);
  ASSERT_EQ(::mkfifo(b.c_str(), 0600), 0);
  for (bool following : {false, true}) {
    messages.clear();
    failures = 0;
    EXPECT_TRUE(reloadGraphs(store, {0, 1}, !following, tell, &failures, following).empty());
    EXPECT_EQ(failures, 2u);
    EXPECT_EQ(messages, (std::vector<std::string>{"Cannot reload a.dat: " + a + " is gone",
                                                  "Cannot load " + b + ": not a regular file"}))
        << following;
    EXPECT_FALSE(store.undoEnabled());
    EXPECT_FALSE(store.graph(0).undoMark);
    EXPECT_FALSE(store.graph(1).undoMark);
    EXPECT_EQ(store.series(0).points(), (std::vector<Point>{{1, 2}, {2, 3}}));
    EXPECT_EQ(store.series(1).points(), (std::vector<Point>{{1, 5}}));
  }
  // A folder where the file was: the reason is told once, nothing changes.
  std::filesystem::create_directory(a);
  for (bool following : {false, true}) {
    messages.clear();
    failures = 0;
    EXPECT_TRUE(reloadGraphs(store, {0}, !following, tell, &failures, following).empty());
    ASSERT_EQ(messages.size(), 1u) << following;
    EXPECT_EQ(messages[0].rfind("Could not read " + a + ": ", 0), 0u) << messages[0];
    EXPECT_EQ(failures, 1u);
    EXPECT_EQ(store.series(0).points(), (std::vector<Point>{{1, 2}, {2, 3}}));
    EXPECT_FALSE(store.undoEnabled());
  }
  // A bad value: the points before it are taken and the message names it.
  std::filesystem::remove(b);
  test::writeFile(b, "1 6\r\n2 7\r\n3 x\r\n4 8\r\n");
  messages.clear();
  failures = 0;
  EXPECT_EQ(reloadGraphs(store, {1}, true, tell, &failures), std::vector<std::size_t>{1});
  EXPECT_EQ(store.series(1).points(), (std::vector<Point>{{1, 6}, {2, 7}}));
  EXPECT_EQ(messages,
            std::vector<std::string>{"Wrong data in " + b + ";String \"3 x\" is invalid"});
  EXPECT_EQ(failures, 0u);
  EXPECT_TRUE(store.undoEnabled());
  EXPECT_EQ(store.graph(1).undoCopy, (std::vector<Point>{{1, 5}}));
}

TEST(Reload, SavingToItsOwnFileLeavesNoUnsavedChange) {
  test::TempDir dir;
  test::writeFile(dir.file("a.dat"), "1 2\r\n");
  Session s;
  s.addFiles({dir.file("a.dat")}, {});
  s.store().series(0).points()[0].y = 5;
  EXPECT_TRUE(hasUnsavedChanges(s.store().graph(0)));
  s.selectAll(true);
  s.saveSelected([](const std::string&) { return true; }, {});
  EXPECT_FALSE(hasUnsavedChanges(s.store().graph(0)));
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

TEST(Session, AnImportedGraphsFirstSaveMakesItsFileWhichLaterSavesReplace) {
  test::TempDir dir;
  test::writeFile(dir.file("s.csv"), "x,y\n1,10\n2,20\n");
  const std::string dat = dir.file("s.dat");
  auto yes = [](const std::string&) { return true; };
  for (const bool renamed : {false, true}) {
    SCOPED_TRACE(renamed);
    Session s;
    s.importFiles({dir.file("s.csv")}, {});
    ASSERT_EQ(s.store().graph(0).path, dat);
    if (renamed) {
      // A name the user chose may replace a file that is there.
      test::writeFile(dir.file("t.dat"), "old\r\n");
      s.setFocusRow(0);
      s.rename("t.dat");
      EXPECT_FALSE(s.store().graph(0).createOnSave);
    }
    const std::string path = s.store().graph(0).path;
    s.setFocusRow(0);
    std::vector<std::string> messages;
    auto msg = [&](const std::string& m) { messages.push_back(m); };
    EXPECT_TRUE(s.save(yes, msg));
    EXPECT_EQ(test::readFile(path), "\"x,y\r\n1 10\r\n2 20\r\n");
    s.store().series(0).setY(0, 5);
    EXPECT_TRUE(s.save(yes, msg));
    EXPECT_EQ(test::readFile(path), "\"x,y\r\n1 5\r\n2 20\r\n");
    EXPECT_TRUE(messages.empty());
    std::filesystem::remove(path);
  }
}

}  // namespace
}  // namespace varnix
