#include "workspace/data_file_reader.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>

#include "test_util.h"
#include "workspace/interrupted_save.h"
#include "workspace/number_text.h"

// A limit on the address space breaks the sanitizer's shadow memory.
#if defined(__SANITIZE_ADDRESS__)
#define VARNIX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARNIX_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef VARNIX_ADDRESS_SANITIZER
#define VARNIX_ADDRESS_SANITIZER 0
#endif

namespace varnix {
namespace {

using test::addGraph;
using test::TempDir;
using test::writeFile;

TEST(LineKinds, Table) {
  struct Case {
    const char* line;
    bool data;
    bool comment;
  };
  const Case cases[] = {
      {"1.5 2.5", true, false},  {" 1 2", true, false}, {"-1 -2", true, false},
      {"a1 2", true, false},     {"-a", false, true},   {"\"1 2", false, true},
      {"\"", false, true},       {"5", false, false},   {"12", false, false},
      {"a", false, true},        {"ab", false, true},   {"", false, false},
      {"x=1", false, true},      {"#1 2", true, false}, {"/x", false, false},
      {"Sample 1", false, true}, {"a/", false, false},  {"+1", false, false},
      {"+12", true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isDataLine(c.line), c.data) << '"' << c.line << '"';
    EXPECT_EQ(isCommentLine(c.line), c.comment) << '"' << c.line << '"';
  }
}

TEST(LineSplitting, LineEndsCtrlZAndByteOrderMark) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\x1a\r\nb", {"a"}},
      {"\xEF\xBB\xBF"
       "a\nb",
       {"a", "b"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    forEachLine(c.bytes, [&](std::string_view l) { got.emplace_back(l); });
    EXPECT_EQ(got, c.lines) << c.bytes;
  }
}

TEST(LineCounting, CountsWhatTheSplitterSplitsInBlocksOfAnySize) {
  auto times = [](const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  struct Case {
    std::string bytes;
    std::uint64_t lines;  // line ends + 1
  };
  const Case cases[] = {
      {"", 1},
      {"a", 1},
      {"a\r\nb\r\n", 3},
      {"a\rb\r", 3},
      {"a\nb\n", 3},
      {"a\r\nb\nc\rd", 4},
      {"a\n\rb", 3},
      {"a\r\n\r\nb", 3},
      {"\r", 2},
      {"\r\r\n", 3},
      {"\n\r\n\r", 4},
      {times("x\r\n", 20), 21},
      {times("\r", 33), 34},
      {times("\n", 40), 41},
      {times(times("\r\n", 8) + "\r", 3), 28},
      // Long enough for the wide counters to be summed on the way.
      {times("\n", 10000), 10001},
      {times("\r\n", 5000), 5001},
      {times("a\r", 5000), 5001},
      {std::string(15, '1') + "\r\n" + std::string(15, '2') + "\r" + std::string(16, '3') + "\n",
       4},
  };
  for (const Case& c : cases) {
    for (std::size_t block : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7},
                              std::size_t{16}, std::size_t{17}, c.bytes.size() + 1}) {
      LineCounter counter;
      for (std::size_t at = 0; at < c.bytes.size(); at += block)
        counter.feed(std::string_view(c.bytes).substr(at, block));
      EXPECT_EQ(counter.lines(), c.lines) << c.bytes << " in blocks of " << block;
    }
  }
  // Random files: the splitter's lines, one more when the text ends with a
  // line end or holds nothing (a byte-order mark alone).
  std::mt19937 rng(11);
  const std::vector<std::string> pieces = {"1", " ", "\r", "\n", "\r\n", "ab", "\xEF\xBB\xBF"};
  for (int file = 0; file < 5000; ++file) {
    std::string bytes;
    const int n = static_cast<int>(rng() % 60);
    for (int i = 0; i < n; ++i) bytes += pieces[rng() % pieces.size()];
    std::uint64_t split = 0;
    forEachLine(bytes, [&](std::string_view) { ++split; });
    const bool endsWithEnd =
        bytes.empty() || bytes == "\xEF\xBB\xBF" || bytes.back() == '\r' || bytes.back() == '\n';
    LineCounter counter;
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t len = std::min<std::size_t>(rng() % 20 + 1, bytes.size() - at);
      counter.feed(std::string_view(bytes).substr(at, len));
      at += len;
    }
    EXPECT_EQ(counter.lines(), split + (endsWithEnd ? 1 : 0)) << bytes;
  }
}

TEST(LoadDataFile, PointsGetTheirRoomOnceWhateverTheFirstMebibyteSays) {
  // Short lines in the first MiB and longer ones after it, or a header
  // first: a guess from the first block would run short or long. The room
  // is that of the file's lines (data lines, 30 header lines and the empty
  // last one), so the points never moved.
  TempDir dir;
  const int lines = 300000;
  for (const bool header : {false, true}) {
    std::string bytes;
    if (header)
      for (int i = 0; i < 30; ++i) bytes += "\"header line " + std::to_string(i) + "\"\n";
    for (int i = 0; i < lines; ++i) {
      const bool longer = bytes.size() > (std::size_t{1} << 20);
      bytes += std::to_string(i) + (longer ? ".0000125 " : " ") + std::to_string(i % 7) + "\n";
    }
    writeFile(dir.file("grow.dat"), bytes);
    ReadResult read;
    const std::optional<DataFileContent> c =
        readDataFileContent(dir.file("grow.dat"), read, [](const std::string&) {});
    ASSERT_TRUE(c);
    ASSERT_EQ(c->columns[0].size(), static_cast<std::size_t>(lines));
    EXPECT_EQ(c->columns[0].capacity(), static_cast<std::size_t>(lines + (header ? 30 : 0) + 1));
    EXPECT_EQ(c->columns[0].back(), (Point{299999.0000125, 0})) << header;
    // A followed file is read whole and parsed the same way.
    const DataFileContent followed = parseDataFile(bytes);
    ASSERT_EQ(followed.columns[0].size(), static_cast<std::size_t>(lines));
    EXPECT_EQ(followed.columns[0].capacity(), c->columns[0].capacity());
  }
}

struct FileCase {
  const char* name;
  std::string bytes;
  std::vector<std::vector<Point>> columns;
  int lastLineYColumns;
  bool bad;
};

TEST(ParseDataFile, EdgeCases) {
  const FileCase cases[] = {
      {"two values", "1.5 2.5\r\n", {{{1.5, 2.5}}}, 1, false},
      {"leading space", " 1 2\r\n", {{{1, 2}}}, 1, false},
      {"single values", "10.5\r\n11.25\r\n12\r\n", {{{0, 10.5}, {1, 11.25}}}, 0, false},
      {"single mode stays", "10.5\r\n3 4\r\n", {{{0, 10.5}, {1, 3}}}, 1, false},
      {"blank at the end", "7.5 \r\n1 2\r\n", {{{0, 7.5}, {1, 1}}}, 1, false},
      {"four values", "1 2 3 4\r\n", {{{1, 2}}, {{1, 3}}, {{1, 4}}}, 3, false},
      {"negative", "-1 -2\r\n", {{{-1, -2}}}, 1, false},
      {"comment word", "1 2 # run 5\r\n", {{{1, 2}}, {{1, 5}}}, 2, false},
      {"trailing tab", "1 2\t\r\n0 1\r\n", {{}}, 1, true},
      {"tab separator", "1\t2\r\n", {{{1, 2}}}, 1, false},
      {"commas then pair", "1,2,3\r\n4 5\r\n", {{{1, 2}, {0, 4}}, {{1, 3}}}, 1, false},
      {"one value and text", "1 abc\r\n", {{}}, 0, true},
      {"bad stops", "0 1\r\n1.2.3 4\r\n5 6\r\n", {{{0, 1}}}, 1, true},
      {"no data", "\"only a comment\r\nhello\r\n", {{}}, 0, false},
      {"lone LF ends lines", "1 2\n3 4\n", {{{1, 2}, {3, 4}}}, 1, false},
      {"file order", "3 1\r\n1 2\r\n3 3\r\n2 4\r\n", {{{3, 1}, {1, 2}, {3, 3}, {2, 4}}}, 1, false},
      {"two-value line in multi file", "1 2 3\r\n4 5\r\n", {{{1, 2}, {4, 5}}, {{1, 3}}}, 1, false},
      {"bad value in a later column",
       "1 2 3\r\n4 5 x6-\r\n",
       {{{1, 2}, {4, 5}}, {{1, 3}}},
       2,
       true},
      {"more values than prepared",
       "1 2 3\r\n4 5 6 7\r\n",
       {{{1, 2}, {4, 5}}, {{1, 3}, {4, 6}}},
       3,
       false},
      {"comma line fails", "1,2\r\n", {{}}, 1, true},
      {"multi-value with tabs", "1\t2\t3\r\n", {{{1, 2}}, {{1, 3}}}, 2, false},
      {"two spaces make a comment", "  1 2\r\n", {{}}, 0, false},
      {"tab before a number", "\t1 2\r\n", {{}}, 1, true},
      {"exponent without digits", "1e 2E\r\n", {{{1, 2}}}, 1, false},
      {"lone point", ". .\r\n", {{{0, 0}}}, 1, false},
  };
  for (const FileCase& c : cases) {
    DataFileContent got = parseDataFile(c.bytes);
    EXPECT_EQ(got.columns, c.columns) << c.name;
    EXPECT_EQ(got.lastLineYColumns, c.lastLineYColumns) << c.name;
    EXPECT_EQ(got.badLine.has_value(), c.bad) << c.name;
  }
}

TEST(ParseDataFile, NoValueThatIsNotFiniteBecomesAPoint) {
  // nan, inf and overflow either stop the reading as wrong data or make the
  // line a comment line; the points before stay.
  struct Case {
    const char* line;
    bool comment;
    std::size_t points;
  };
  const Case cases[] = {
      {"1 nan", false, 1},
      {"1 inf", false, 1},
      {"1e999 2", false, 1},
      {"1 -1E999", false, 1},
      {"1 2 NAN", false, 1},
      {"1e309", false, 1},
      {"nan 1", true, 2},
      {"INF 1", true, 2},
      {"-inf 1", true, 2},
      // A multi-column line keeps the values before the bad one.
      {"1 2 3e400", false, 2},
  };
  for (const Case& c : cases) {
    const DataFileContent r = parseDataFile(std::string("0 1\r\n") + c.line + "\r\n5 6\r\n");
    std::size_t points = 0;
    for (const auto& column : r.columns)
      for (const Point& p : column) {
        EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << c.line;
        ++points;
      }
    EXPECT_EQ(points, c.points) << c.line;
    if (c.comment)
      EXPECT_EQ(r.comments, std::vector<std::string>{c.line});
    else
      EXPECT_EQ(r.badLine, std::string(c.line));
  }
}

TEST(ParseDataFile, CommentsAreCollectedFromTheWholeFile) {
  DataFileContent c = parseDataFile("\"head\r\nSample 1\r\n1 2\r\nbad x\r\n1.2.3 4\r\nafter\r\n");
  EXPECT_EQ(c.comments, (std::vector<std::string>{"\"head", "Sample 1", "bad x", "after"}));
  ASSERT_TRUE(c.badLine);
  EXPECT_EQ(*c.badLine, "1.2.3 4");
}

TEST(LoadDataFile, ColumnGraphsNamesAndMessage) {
  TempDir dir;
  writeFile(dir.file("a.dat"), "1 2\r\n");
  writeFile(dir.file("b.dat"), "\"b\r\n1 10 20 30\r\n2 11 21 31\r\n");
  writeFile(dir.file("bad.dat"), "1 2\r\n2 x\r\n");
  GraphStore store;
  addGraph(store, "x", {{0, 0}});
  addGraph(store, "y", {{0, 0}});
  store.setUndoEnabled(true);
  std::vector<std::string> messages;
  auto info = addFiles(store, {dir.file("a.dat"), dir.file("b.dat"), dir.file("bad.dat")},
                       [&](const std::string& m) { messages.push_back(m); });
  ASSERT_TRUE(info);
  EXPECT_EQ(*info, " 5 files loaded. Press <R> to rescale");
  ASSERT_EQ(store.count(), 7u);
  const char* names[] = {"x", "y", "a.dat", "b.dat", "1", "2", "bad.dat"};
  for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(store.graph(i).name, names[i]);
  EXPECT_EQ(store.graph(3).path, dir.file("b.dat"));
  EXPECT_EQ(store.graph(4).path, "1");
  EXPECT_EQ(store.graph(5).path, "2");
  EXPECT_EQ(store.graph(3).comments, std::vector<std::string>{"\"b"});
  EXPECT_TRUE(store.graph(4).comments.empty());
  EXPECT_EQ(test::ys(store.series(5)), (std::vector<double>{30, 31}));
  EXPECT_EQ(store.series(6).count(), 1u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Wrong data in " + dir.file("bad.dat") + ";String \"2 x\" is invalid");
  EXPECT_FALSE(store.undoEnabled());
}

TEST(LoadDataFile, PointsAreSortedByXStably) {
  TempDir dir;
  writeFile(dir.file("u.dat"), "3 1\r\n1 2\r\n3 3\r\n2 4\r\n1 5\n");
  GraphStore store;
  loadDataFile(store, dir.file("u.dat"), {});
  EXPECT_EQ(store.series(0).points(), (std::vector<Point>{{1, 2}, {1, 5}, {2, 4}, {3, 1}, {3, 3}}));
  EXPECT_EQ(store.series(0).minX(), 1);
  EXPECT_EQ(store.series(0).maxY(), 5);
}

TEST(LoadDataFile, MissingFileGivesAnEmptyGraphWithoutMessageAFolderSaysWhy) {
  TempDir dir;
  GraphStore store;
  std::vector<std::string> messages;
  std::size_t failures = 0;
  std::filesystem::create_symlink(dir.file("nowhere.dat"), dir.file("dangling.dat"));
  auto info = addFiles(
      store, {dir.file("missing.dat"), dir.file("dangling.dat"), dir.path()},
      [&](const std::string& m) { messages.push_back(m); }, {}, &failures);
  EXPECT_EQ(*info, " 3 files loaded. Press <R> to rescale");
  EXPECT_EQ(store.count(), 3u);
  EXPECT_TRUE(store.series(0).empty());
  EXPECT_TRUE(store.series(2).empty());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Could not read " + dir.path() + ": Is a directory");
  EXPECT_EQ(failures, 1u);
  EXPECT_FALSE(addFiles(store, {}, {}).has_value());
}

TEST(LoadDataFile, CapacityRefusesTheWholeFile) {
  TempDir dir;
  writeFile(dir.file("wide.dat"), "1 2 3 4\r\n");
  writeFile(dir.file("one.dat"), "1 2\r\n");
  GraphStore store;
  for (int i = 0; i < 299; ++i) addGraph(store, "g", {{0, 0}});
  std::vector<std::string> messages;
  auto info = addFiles(store, {dir.file("wide.dat"), dir.file("one.dat")},
                       [&](const std::string& m) { messages.push_back(m); });
  EXPECT_EQ(*info, " 1 files loaded. Press <R> to rescale");
  EXPECT_EQ(store.count(), 300u);
  EXPECT_EQ(store.graph(299).name, "one.dat");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("wide.dat"), std::string::npos);
  EXPECT_NE(messages[0].find("301"), std::string::npos);
}

TEST(LoadDataFile, AOneLineFileOfManyValuesIsRefusedCheaply) {
  TempDir dir;
  std::string line = "1";
  for (int i = 0; i < 200000; ++i) line += " 2";
  writeFile(dir.file("wide.dat"), line + "\n");  // LF only: one very wide line
  DataFileContent c = parseDataFile(line);
  EXPECT_EQ(c.lastLineYColumns, 200000);
  EXPECT_EQ(c.columns.size(), GraphStore::kMaxGraphs);
  GraphStore store;
  std::vector<std::string> messages;
  loadDataFile(store, dir.file("wide.dat"), [&](const std::string& m) { messages.push_back(m); });
  EXPECT_EQ(store.count(), 0u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("wide.dat"), std::string::npos);
}

TEST(LoadDataFile, ProgressEndsAtZero) {
  TempDir dir;
  writeFile(dir.file("a.dat"), "1 2 3\r\n");
  GraphStore store;
  std::vector<int> progress;
  addFiles(store, {dir.file("a.dat"), dir.file("a.dat")}, {},
           [&](int p) { progress.push_back(p); });
  // Two files, each adding a column graph: the list grows to 3 and then 4.
  EXPECT_EQ(progress, (std::vector<int>{0, 25, 0}));
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

// A literal reading of the data file rules, line by line and character by
// character, to compare the reader's fast paths against.
DataFileContent referenceParse(const std::string& bytes) {
  DataFileContent out;
  out.columns.resize(1);
  std::size_t count = 0;
  bool single = false, prepared = false, stop = false;
  auto isNum = [](char c) {
    return (c >= '.' && c <= '9') || c == '+' || c == '-' || c == 'E' || c == 'e';
  };
  forEachLine(bytes, [&](std::string_view line) {
    if (isCommentLine(line)) out.comments.emplace_back(line);
    if (stop || !isDataLine(line)) return;
    std::vector<std::string> runs;
    std::string run;
    for (char c : line) {
      if (isNum(c)) {
        run += c;
      } else if (!run.empty()) {
        runs.push_back(run);
        run.clear();
      }
    }
    if (!run.empty()) runs.push_back(run);
    const std::size_t n = runs.size();
    out.lastLineYColumns = static_cast<int>(n) - 1;
    std::size_t blank = std::string_view::npos;
    for (std::size_t i = 1; i < line.size(); ++i)
      if (line[i] == ' ' || line[i] == '\t') {
        blank = i;
        break;
      }
    if (blank == std::string_view::npos || blank == line.size() - 1) single = true;
    if (n > 2) {
      if (!prepared) {
        out.columns.resize(n - 1);
        prepared = true;
      }
      for (std::size_t k = 1; k < n && k <= out.columns.size(); ++k) {
        auto x = parseDataValue(runs[0]);
        auto y = parseDataValue(runs[k]);
        if (!x || !y) {
          stop = true;
          out.badLine = std::string(line);
          return;
        }
        out.columns[k - 1].push_back({*x, *y});
      }
      return;
    }
    const std::string_view a =
        line.substr(0, blank == std::string_view::npos ? line.size() : blank);
    std::optional<Point> p;
    if (single) {
      if (auto y = parseDataValue(a)) p = Point{double(count), *y};
    } else {
      auto x = parseDataValue(a);
      auto y = parseDataValue(line.substr(blank + 1));
      if (x && y) p = Point{*x, *y};
    }
    if (!p) {
      stop = true;
      out.badLine = std::string(line);
      return;
    }
    out.columns[0].push_back(*p);
    ++count;
  });
  return out;
}

TEST(ParseDataFile, AgreesWithALiteralReadingOnRandomFiles) {
  std::mt19937 rng(99);
  const std::string alphabet = "0123456789012345678901234567890123456789.. \t  -+eE,a\"x";
  int withPoints = 0;
  for (int file = 0; file < 100000; ++file) {
    std::string bytes;
    const int lines = static_cast<int>(rng() % 6) + 1;
    for (int l = 0; l < lines; ++l) {
      const int len = static_cast<int>(rng() % 20);
      for (int c = 0; c < len; ++c) bytes += alphabet[rng() % alphabet.size()];
      bytes += (rng() % 3 == 0) ? "\r\n" : "\n";
    }
    const DataFileContent got = parseDataFile(bytes);
    const DataFileContent want = referenceParse(bytes);
    ASSERT_EQ(got.lastLineYColumns, want.lastLineYColumns) << bytes;
    ASSERT_EQ(got.badLine, want.badLine) << bytes;
    ASSERT_EQ(got.comments, want.comments) << bytes;
    ASSERT_EQ(got.columns.size(), want.columns.size()) << bytes;
    withPoints += !got.columns[0].empty();
    for (std::size_t k = 0; k < got.columns.size(); ++k) {
      ASSERT_EQ(got.columns[k].size(), want.columns[k].size()) << bytes;
      for (std::size_t j = 0; j < got.columns[k].size(); ++j) {
        const Point a = got.columns[k][j], b = want.columns[k][j];
        ASSERT_TRUE((a.x == b.x || (std::isnan(a.x) && std::isnan(b.x))) && (a.y == b.y)) << bytes;
      }
    }
  }
  EXPECT_GT(withPoints, 10000);  // the random files do exercise the readers
}

void expectSameContent(const DataFileContent& got, const DataFileContent& want,
                       const std::string& bytes) {
  ASSERT_EQ(got.lastLineYColumns, want.lastLineYColumns) << bytes;
  ASSERT_EQ(got.badLine, want.badLine) << bytes;
  ASSERT_EQ(got.comments, want.comments) << bytes;
  ASSERT_EQ(got.columns.size(), want.columns.size()) << bytes;
  for (std::size_t k = 0; k < got.columns.size(); ++k) {
    ASSERT_EQ(got.columns[k].size(), want.columns[k].size()) << bytes;
    for (std::size_t j = 0; j < got.columns[k].size(); ++j)
      ASSERT_TRUE(std::memcmp(&got.columns[k][j], &want.columns[k][j], sizeof(Point)) == 0)
          << bytes;
  }
}

TEST(DataFileParser, BlocksOfAnySizeReadAsTheWholeText) {
  std::mt19937 rng(7);
  const std::vector<std::string> pieces = {
      "1",  "2.5", " ", "\t",           "-",    "e",    "\r", "\n", "\r\n",
      "\"", "a",   ",", "\xEF\xBB\xBF", "\x1A", "3 4 5"};
  for (int file = 0; file < 20000; ++file) {
    std::string bytes;
    const int n = static_cast<int>(rng() % 40);
    for (int i = 0; i < n; ++i) bytes += pieces[rng() % pieces.size()];
    const DataFileContent want = parseDataFile(bytes);
    DataFileParser parser(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t len = std::min<std::size_t>(rng() % 7 + 1, bytes.size() - at);
      parser.feed(std::string_view(bytes).substr(at, len));
      at += len;
    }
    expectSameContent(parser.finish(), want, bytes);
  }
}

TEST(LoadDataFile, ReadsAcrossBlockBordersAndStopsInALaterBlock) {
  TempDir dir;
  // Lines of 16 bytes: the 1 MiB blocks end exactly on line ends, and a
  // second file of 17-byte lines puts a line across every border.
  for (int width : {16, 17}) {
    std::string bytes, line;
    const int lines = 200000;
    for (int i = 0; i < lines; ++i) {
      line = std::to_string(100000 + i) + " " +
             std::string(static_cast<std::size_t>(width) - 10, '7') + "\r\n";
      if (i == lines - 10) line = "100000 1.2.3\r\n";
      bytes += line;
    }
    writeFile(dir.file("big.dat"), bytes);
    GraphStore store;
    std::vector<std::string> messages;
    loadDataFile(store, dir.file("big.dat"), [&](const std::string& m) { messages.push_back(m); });
    ASSERT_EQ(store.count(), 1u);
    EXPECT_EQ(store.series(0).count(), static_cast<std::size_t>(lines - 10));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              "Wrong data in " + dir.file("big.dat") + ";String \"100000 1.2.3\" is invalid");
    expectSameContent(
        DataFileContent{{store.series(0).points()}, 1, {}, std::string("100000 1.2.3")},
        parseDataFile(bytes), "big.dat");
  }
}

TEST(WrongDataMessage, QuotesAtMost4096Characters) {
  const std::string exact(4096, '7'), longer = exact + "89";
  EXPECT_EQ(wrongDataMessage("f", exact), "Wrong data in f;String \"" + exact + "\" is invalid");
  EXPECT_EQ(wrongDataMessage("f", longer),
            "Wrong data in f;String \"" + exact + "...\" is invalid");
  // A 20 MB bad line keeps only what the message needs.
  const std::string huge = "1 " + std::string(20'000'000, 'x');
  const DataFileContent c = parseDataFile(huge);
  ASSERT_TRUE(c.badLine.has_value());
  EXPECT_EQ(wrongDataMessage("f", *c.badLine).size(),
            std::string("Wrong data in f;String \"\" is invalid").size() + 4099);
}

TEST(LoadDataFile, RefusesWhatIsNoRegularFileAndKeepsEarlierGraphs) {
  TempDir dir;
  writeFile(dir.file("a.dat"), "1 2\r\n");
  ASSERT_EQ(::mkfifo(dir.file("fifo.dat").c_str(), 0600), 0);
  GraphStore store;
  std::vector<std::string> messages;
  std::size_t failures = 0;
  auto info = addFiles(
      store, {dir.file("a.dat"), dir.file("fifo.dat"), "/dev/zero"},
      [&](const std::string& m) { messages.push_back(m); }, {}, &failures);
  EXPECT_EQ(*info, " 1 files loaded. Press <R> to rescale");
  EXPECT_EQ(store.count(), 1u);
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "Cannot load " + dir.file("fifo.dat") + ": not a regular file",
                          "Cannot load /dev/zero: not a regular file"}));
  EXPECT_EQ(failures, 2u);
}

TEST(ParseDataFile, ReservesFromTheBytesNotFromLinesTimesColumns) {
  // A first line of 302 values and then many short lines: the 301 prepared
  // columns must not each get room for every line of the file.
  std::string bytes;
  for (int i = 0; i < 302; ++i) bytes += "1 ";
  bytes += "\n";
  for (int i = 0; i < 2'000'000; ++i) bytes += "1 2\n";
  const DataFileContent c = parseDataFile(bytes);
  ASSERT_EQ(c.columns.size(), GraphStore::kMaxGraphs);
  EXPECT_EQ(c.columns[0].size(), 2'000'001u);
#if !VARNIX_ADDRESS_SANITIZER
  // In a child limited to 1.5 GB of address space (lines times columns
  // would reserve 9.6 GB).
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct rlimit lim {};
    lim.rlim_cur = lim.rlim_max = 1536ull << 20;
    ::setrlimit(RLIMIT_AS, &lim);
    try {
      const DataFileContent inChild = parseDataFile(bytes);
      ::_exit(inChild.columns[0].size() == 2'000'001u ? 0 : 2);
    } catch (...) {
      ::_exit(3);
    }
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
#endif
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

TEST(LoadDataFile, AFileLeftHalfWrittenIsRestoredAndTheUserIsTold) {
  const std::string old = test::numberedLines(150000, 3), fresh = test::numberedLines(220000, 7);
  const std::vector<Point> oldPoints = parseDataFile(old).columns[0];
  const ContentReader importReader = [](const std::string& path, const std::string&, bool,
                                        std::string&) {
    std::string text;
    readWholeFile(path, text);
    return std::optional<DataFileContent>(parseDataFile(text));
  };
  struct Case {
    const char* what;
    std::function<void(GraphStore&, const std::string&, const MessageFn&, std::size_t*)> read;
  };
  const std::vector<Case> cases = {
      {"load", [](GraphStore& s, const std::string& p, const MessageFn& m,
                  std::size_t* f) { loadDataFile(s, p, m, f); }},
      {"reload", [](GraphStore& s, const std::string&, const MessageFn& m,
                    std::size_t* f) { reloadGraphs(s, {0}, true, m, f); }},
      {"follow", [](GraphStore& s, const std::string&, const MessageFn& m,
                    std::size_t* f) { reloadGraphs(s, {0}, false, m, f, true); }},
      {"reload an import",
       [&](GraphStore& s, const std::string&, const MessageFn& m, std::size_t* f) {
         s.graph(0).sourceImported = true;
         reloadGraphs(s, {0}, false, m, f, false, importReader);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir, state;
    test::ScopedEnv env("XDG_STATE_HOME", state.path());
    const std::string path = dir.file("a.dat");
    GraphStore store;
    if (std::string(c.what) != "load") {
      writeFile(path, "1 1\r\n");
      ASSERT_EQ(loadDataFile(store, path, {}), 1u);
    }
    test::interruptedSave(path, old, fresh);
    std::vector<std::string> messages;
    std::size_t failures = 0;
    c.read(
        store, path, [&](const std::string& m) { messages.push_back(m); }, &failures);
    EXPECT_EQ(messages, std::vector<std::string>{"Restored " + path + " from an interrupted save"});
    EXPECT_EQ(failures, 0u);
    ASSERT_EQ(store.count(), 1u);
    EXPECT_EQ(store.series(0).points(), oldPoints);
  }
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

TEST(FollowFiles, AGraphIsHeldOnlyWhenItsFileShrankGrewTooLargeOrWentAway) {
  struct Case {
    const char* what;
    std::string rewritten;  // empty: the file is removed
    std::uint64_t maxBytes;
    std::vector<Point> after;  // empty: the graph is held as it was
    const char* reason;        // part of the reason the row is held for
  };
  const std::vector<Point> before = {{1, 2}, {2, 3}, {3, 4}};
  const std::vector<Case> cases = {
      {"as many points, new values", "1 5\n2 6\n3 7\n", 1024, {{1, 5}, {2, 6}, {3, 7}}, ""},
      {"more points", "1 2\n2 3\n3 4\n4 5\n", 1024, {{1, 2}, {2, 3}, {3, 4}, {4, 5}}, ""},
      {"fewer points", "1 2\n2 3\n", 1024, {}, "now holds fewer points (2 instead of 3)"},
      {"half a line more only", "1 2\n2 3\n3 4\n4", 1024, before, ""},
      {"over the size limit", "1 5\n2 6\n3 7\n", 8, {}, "is too large to follow"},
      {"gone", "", 1024, {}, "is gone"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.file("a.dat");
    writeFile(path, "1 2\n2 3\n3 4\n");
    GraphStore store;
    ASSERT_EQ(loadDataFile(store, path, {}), 1u);
    if (c.rewritten.empty())
      std::filesystem::remove(path);
    else
      writeFile(path, c.rewritten);
    FollowLimits limits;
    limits.maxBytes = c.maxBytes;
    std::vector<std::string> messages;
    const std::vector<std::size_t> changed = reloadGraphs(
        store, {0}, false, [&](const std::string& m) { messages.push_back(m); }, nullptr, true, {},
        &limits);
    EXPECT_TRUE(messages.empty());
    if (c.after.empty()) {
      EXPECT_TRUE(changed.empty());
      ASSERT_EQ(limits.held.size(), 1u);
      EXPECT_EQ(limits.held[0].row, 0u);
      EXPECT_NE(limits.held[0].reason.find(c.reason), std::string::npos) << limits.held[0].reason;
      EXPECT_EQ(store.series(0).points(), before);
    } else {
      EXPECT_EQ(changed, std::vector<std::size_t>{0});
      EXPECT_TRUE(limits.held.empty());
      EXPECT_EQ(store.series(0).points(), c.after);
    }
  }
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

TEST(LoadDataFile, LookingForAnInterruptedSaveLeavesNoFolderBehind) {
  TempDir dir, state;
  test::ScopedEnv env("XDG_STATE_HOME", state.path());
  const std::string path = dir.file("a.dat");
  writeFile(path, "1 2\n");
  GraphStore store;
  ASSERT_EQ(loadDataFile(store, path, {}), 1u);
  reloadGraphs(store, {0}, true, {});
  EXPECT_TRUE(std::filesystem::is_empty(state.path()));
}

}  // namespace
}  // namespace varnix
