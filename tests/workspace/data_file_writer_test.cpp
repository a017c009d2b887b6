#include "workspace/data_file_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <random>

#include "test_util.h"
#include "workspace/interrupted_save.h"
#include "workspace/number_text.h"

namespace varnix {
namespace {

using test::addGraph;
using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(WriteDataFile, CommentsThenPointsWithCrLf) {
  Graph g;
  g.comments = {"Sample 1", "\"quoted", "", "x"};
  g.series.addPoint(1000000, 0.00001);
  g.series.addPoint(1234.5678, -2.5);
  EXPECT_EQ(dataFileText(g), "\"Sample 1\r\n\"quoted\r\n\"x\r\n1234.568 -2.5\r\n1000000 1E-5\r\n");
  Graph empty;
  EXPECT_EQ(dataFileText(empty), "");
}

TEST(WriteDataFile, ReadBackGivesTheSameGraphAtSevenDigits) {
  TempDir dir;
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> v(-1e6, 1e6);
  Graph g;
  g.comments = {"\"run 7", "Sample"};
  for (int i = 0; i < 2000; ++i) g.series.addPoint(v(rng), v(rng) * 1e-9);
  ASSERT_TRUE(writeDataFile(dir.file("r.dat"), g).ok);
  GraphStore store;
  loadDataFile(store, dir.file("r.dat"), {});
  const Series& back = store.series(0);
  ASSERT_EQ(back.count(), g.series.count());
  for (std::size_t j = 0; j < back.count(); ++j) {
    EXPECT_EQ(back.x(j), *parseDataValue(formatDataNumber(g.series.x(j))));
    EXPECT_EQ(back.y(j), *parseDataValue(formatDataNumber(g.series.y(j))));
  }
  EXPECT_EQ(store.graph(0).comments, (std::vector<std::string>{"\"run 7", "\"Sample"}));
}

TEST(Save, AsksBeforeReplacingAndReportsFailures) {
  TempDir dir;
  GraphStore store;
  Graph& g = addGraph(store, "a.dat", {{1, 2}});
  g.path = dir.file("a.dat");
  std::vector<std::string> asked, messages;
  auto no = [&](const std::string& q) {
    asked.push_back(q);
    return false;
  };
  auto yes = [&](const std::string& q) {
    asked.push_back(q);
    return true;
  };
  auto msg = [&](const std::string& m) { messages.push_back(m); };

  saveGraph(store, 0, no, msg);  // no file yet: written without a question
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(readFile(g.path), "1 2\r\n");
  store.series(0).setY(0, 3);
  saveGraph(store, 0, no, msg);
  EXPECT_EQ(asked, std::vector<std::string>{"File already exists. Overwrite?"});
  EXPECT_EQ(readFile(g.path), "1 2\r\n");
  saveGraph(store, 0, yes, msg);
  EXPECT_EQ(readFile(g.path), "1 3\r\n");
  EXPECT_TRUE(messages.empty());

  // Save As leaves name and path alone; Save then writes the old path again.
  saveGraphAs(store, 0, dir.file("b.dat"), msg);
  EXPECT_EQ(readFile(dir.file("b.dat")), "1 3\r\n");
  EXPECT_EQ(store.graph(0).path, dir.file("a.dat"));
}

TEST(Save, ADanglingLinkIsFollowedOnlyAfterAsking) {
  TempDir dir;
  GraphStore store;
  Graph& g = addGraph(store, "a.dat", {{1, 2}});
  g.path = dir.file("a.dat");
  const std::string target = dir.file("real/target.dat");
  std::filesystem::create_directory(dir.file("real"));
  std::filesystem::create_symlink("real/target.dat", g.path);
  std::vector<std::string> asked;
  auto answer = [&asked](bool yes) {
    return [&asked, yes](const std::string& q) {
      asked.push_back(q);
      return yes;
    };
  };
  const std::string question =
      "The link " + g.path + " points to " + target + ", which does not exist. Create it?";
  EXPECT_FALSE(saveGraph(store, 0, answer(false), {}));
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_TRUE(saveGraph(store, 0, answer(true), {}));
  EXPECT_EQ(readFile(target), "1 2\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(g.path));
  EXPECT_EQ(asked, (std::vector<std::string>{question, question}));
  // Now the file is there: the usual question.
  EXPECT_FALSE(saveGraph(store, 0, answer(false), {}));
  EXPECT_EQ(asked.back(), "File already exists. Overwrite?");
}

TEST(Save, AGraphWhoseNameImportPickedIsWrittenOnlyAsANewFile) {
  TempDir dir;
  GraphStore store;
  const std::string first = dir.file("spectrum.dat"), second = dir.file("spectrum (2).dat");
  addGraph(store, "y", {{1, 2}}).path = first;
  addGraph(store, "z", {{3, 4}}).path = second;
  store.graph(0).createOnSave = store.graph(1).createOnSave = true;
  // Entries that appeared at the names after the import.
  std::filesystem::create_symlink(dir.file("planted.dat"), first);
  writeFile(second, "someone else's");
  std::vector<std::string> asked, messages;
  auto yes = [&](const std::string& q) {
    asked.push_back(q);
    return true;
  };
  auto msg = [&](const std::string& m) { messages.push_back(m); };
  std::size_t failures = 0;
  EXPECT_FALSE(saveGraph(store, 0, yes, msg, &failures));
  EXPECT_TRUE(asked.empty());
  saveSelected(store, {1}, yes, msg, &failures);
  EXPECT_EQ(asked, std::vector<std::string>{"This will overwrite existing files!"});
  const std::string why = ": another file of that name appeared since the name was chosen";
  EXPECT_EQ(messages, (std::vector<std::string>{"Could not write " + first + why,
                                                "Could not write " + second + why}));
  EXPECT_EQ(failures, 2u);
  EXPECT_FALSE(std::filesystem::exists(dir.file("planted.dat")));
  EXPECT_EQ(readFile(second), "someone else's");
  // Where nothing is, the file is made.
  std::filesystem::remove(first);
  EXPECT_TRUE(saveGraph(store, 0, yes, msg));
  EXPECT_EQ(readFile(first), "1 2\r\n");
}

TEST(Save, ASaveThatRestoresAnInterruptedOneSaysSo) {
  TempDir dir, state;
  test::ScopedEnv env("XDG_STATE_HOME", state.path());
  GraphStore store;
  Graph& g = addGraph(store, "a.dat", {{1, 2}});
  g.path = dir.file("a.dat");
  test::interruptedSave(g.path, test::numberedLines(150000, 3), test::numberedLines(220000, 7));
  std::vector<std::string> messages;
  std::size_t failures = 0;
  EXPECT_TRUE(saveGraph(
      store, 0, [](const std::string&) { return true; },
      [&](const std::string& m) { messages.push_back(m); }, &failures));
  EXPECT_EQ(messages, std::vector<std::string>{"Restored " + g.path + " from an interrupted save"});
  EXPECT_EQ(failures, 0u);
  EXPECT_EQ(readFile(g.path), "1 2\r\n");
}

TEST(Save, AFailedWriteKeepsTheOldFileAndIsReported) {
  TempDir dir;
  GraphStore store;
  addGraph(store, "g", {{1, 2}});
  std::vector<std::string> messages;
  auto msg = [&](const std::string& m) { messages.push_back(m); };
  // A folder in the way, and a folder that does not exist.
  std::filesystem::create_directory(dir.file("folder.dat"));
  saveGraphAs(store, 0, dir.file("folder.dat"), msg);
  saveGraphAs(store, 0, dir.file("missing/x.dat"), msg);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[0].find("folder.dat"), std::string::npos);
  EXPECT_NE(messages[1].find("missing/x.dat"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.dat")));
  // No temporary files are left behind.
  std::size_t entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) (void)e, ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST(Save, AValueThatIsNotFiniteIsNeverWritten) {
  // The reader stops at a NAN or INF line: such a file would not load back.
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const Point bad[] = {{nan, 1}, {1, nan}, {inf, 1}, {1, -inf}, {-inf, inf}};
  for (const Point& b : bad) {
    TempDir dir;
    GraphStore store;
    Graph& g = addGraph(store, "g.dat", {{0, 1}});
    g.path = dir.file("g.dat");
    writeFile(g.path, "0 5\r\n");
    g.series.points().push_back(b);
    std::vector<std::string> messages;
    std::size_t failures = 0;
    auto msg = [&](const std::string& m) { messages.push_back(m); };
    auto yes = [](const std::string&) { return true; };
    EXPECT_FALSE(saveGraph(store, 0, yes, msg, &failures));
    saveGraphAs(store, 0, dir.file("as.dat"), msg, &failures);
    std::vector<std::size_t> written;
    EXPECT_EQ(saveSelected(store, {0}, yes, msg, &failures, &written), std::vector<std::size_t>{0});
    EXPECT_TRUE(written.empty());
    EXPECT_FALSE(writeDataFile(dir.file("direct.dat"), g).ok);
    EXPECT_EQ(failures, 3u);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0],
              "Cannot save g.dat to " + g.path + ": it holds a value that is not a finite number");
    EXPECT_EQ(messages[1], "Cannot save g.dat to " + dir.file("as.dat") +
                               ": it holds a value that is not a finite number");
    EXPECT_EQ(readFile(g.path), "0 5\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("as.dat")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("direct.dat")));
  }
}

// A file of several MiB is written a block at a time: lines, and a comment
// longer than a block, cross the blocks' ends whole.
TEST(Save, ALargeGraphIsWrittenLineForLine) {
  TempDir dir;
  Graph g;
  const std::string longComment(std::size_t{5} << 19, 'c');
  g.comments = {"first", longComment, "", "\"last"};
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> v(-1e9, 1e9);
  std::vector<Point> pts;
  for (int i = 0; i < 300000; ++i) pts.push_back({i * 0.001, v(rng) * (i % 7 == 0 ? 1e-12 : 1)});
  g.series.assignSorted(std::move(pts));
  std::string expected = "\"first\r\n\"" + longComment + "\r\n\"last\r\n";
  for (const Point& p : g.series.points())
    expected += formatDataNumber(p.x) + " " + formatDataNumber(p.y) + "\r\n";
  ASSERT_GT(expected.size(), std::size_t{8} << 20);
  ASSERT_TRUE(writeDataFile(dir.file("big.dat"), g).ok);
  EXPECT_TRUE(readFile(dir.file("big.dat")) == expected);
  EXPECT_TRUE(dataFileText(g) == expected);
}

TEST(Save, ReplacingKeepsTheOldContentUntilTheNewIsComplete) {
  TempDir dir;
  writeFile(dir.file("old.dat"), "old content");
  std::filesystem::permissions(dir.file("old.dat"), std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write |
                                                        std::filesystem::perms::group_read);
  Graph g;
  g.series.addPoint(5, 6);
  ASSERT_TRUE(writeDataFile(dir.file("old.dat"), g).ok);
  EXPECT_EQ(readFile(dir.file("old.dat")), "5 6\r\n");
  // The file keeps its permissions.
  auto perms = std::filesystem::status(dir.file("old.dat")).permissions();
  EXPECT_EQ(perms & std::filesystem::perms::group_read, std::filesystem::perms::group_read);
  EXPECT_EQ(perms & std::filesystem::perms::others_read, std::filesystem::perms::none);
}

TEST(SaveSelected, WritesEverySelectedGraphAfterTheWarning) {
  TempDir dir;
  GraphStore store;
  for (int i = 0; i < 4; ++i) {
    Graph& g = addGraph(store, "g", {{double(i), 1}});
    g.path = dir.file("g" + std::to_string(i) + ".dat");
  }
  std::vector<std::string> asked;
  auto no = [&](const std::string& q) {
    asked.push_back(q);
    return false;
  };
  EXPECT_TRUE(saveSelected(store, {0, 2, 3}, no, {}).empty());
  EXPECT_EQ(asked, std::vector<std::string>{"This will overwrite existing files!"});
  EXPECT_FALSE(std::filesystem::exists(dir.file("g0.dat")));
  auto done = saveSelected(store, {0, 2, 3}, [](const std::string&) { return true; }, {});
  EXPECT_EQ(done, (std::vector<std::size_t>{0, 2, 3}));
  EXPECT_TRUE(std::filesystem::exists(dir.file("g0.dat")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("g1.dat")));
  EXPECT_EQ(readFile(dir.file("g3.dat")), "3 1\r\n");
}

TEST(SaveAs, DefaultExtension) {
  EXPECT_EQ(withDefaultExtension("/tmp/a"), "/tmp/a.dat");
  EXPECT_EQ(withDefaultExtension("/tmp/a.txt"), "/tmp/a.txt");
  EXPECT_EQ(withDefaultExtension("/tmp.d/a"), "/tmp.d/a.dat");
}

}  // namespace
}  // namespace varnix
