#include <gtest/gtest.h>

#include "import/import_result.h"

namespace varnix {
namespace {

struct LayoutCase {
  const char* what;
  std::string text;
  const char* layout;  ///< expected part of the layout
  std::vector<std::string> names;
  std::vector<std::vector<Point>> graphs;
  std::size_t comments;
};

/// Comment lines not checked.
constexpr std::size_t kAnyComments = static_cast<std::size_t>(-1);

void expectLayout(const LayoutCase& c, const char* fileName = "f.txt") {
  const ImportResult r = importBytes(c.text, fileName);
  ASSERT_FALSE(r.refusal) << c.what << ": " << *r.refusal;
  EXPECT_NE(r.layout.find(c.layout), std::string::npos) << c.what << ": " << r.layout;
  ASSERT_EQ(r.graphs.size(), c.graphs.size()) << c.what;
  for (std::size_t k = 0; k < c.graphs.size(); ++k) {
    EXPECT_EQ(r.graphs[k].name, c.names[k]) << c.what;
    EXPECT_EQ(r.graphs[k].points, c.graphs[k]) << c.what << " graph " << k;
  }
  if (c.comments != kAnyComments) EXPECT_EQ(r.commentCount(), c.comments) << c.what;
}

TEST(ImportLayouts, KeyValueHeadersWithoutAJcampLabelHeadATable) {
  const LayoutCase cases[] = {
      {"key=value header, title row",
       "##Instrument=UV-1800\n##Date=2024-01-01\n##Points=3\nnm,abs\n300,0.1\n301,0.2\n302,0.3\n",
       "separator comma",
       {"abs"},
       {{{300, 0.1}, {301, 0.2}, {302, 0.3}}},
       4},
      {"key=value header with blanks, tab table",
       "## Sample = A 12\n##Exposure=0.5\n500\t7\n501\t8\n",
       "separator tab",
       {"f.txt"},
       {{{500, 7}, {501, 8}}},
       2},
  };
  for (const LayoutCase& c : cases) expectLayout(c);
}

TEST(ImportLayouts, JcampLabelsWrittenWithBlanks) {
  const LayoutCase cases[] = {
      {"blanks around names and equals signs",
       "## TITLE = film\n## JCAMP-DX = 4.24\n## XUNITS = 1/CM\n## XFACTOR = 1\n"
       "## YFACTOR = 0.5\n## FIRSTX = 400\n## LASTX = 402\n## NPOINTS = 3\n"
       "## XYDATA = (X++(Y..Y))\n400 2 4 6\n## END =\n",
       "JCAMP-DX 4.24",
       {"film"},
       {{{400, 1}, {401, 2}, {402, 3}}},
       10},
      {"blanks inside the label, a point table",
       "##TITLE= pts\n##JCAMP-DX= 5.01\n## PEAK TABLE = (XY..XY)\n1,2 3,4\n##END=\n",
       "JCAMP-DX 5.01",
       {"pts"},
       {{{1, 2}, {3, 4}}},
       4},
      {"link file of two blocks",
       "## TITLE = link\n## JCAMP-DX = 5.01\n## BLOCKS = 2\n"
       "## TITLE = a\n## JCAMP-DX = 5.01\n## BLOCK_ID = 1\n## XY POINTS = (XY..XY)\n1,2\n## END =\n"
       "## TITLE = b\n## JCAMP-DX = 5.01\n## BLOCK_ID = 2\n## XY POINTS = (XY..XY)\n3,4\n"
       "## END =\n## END =\n",
       "JCAMP-DX 5.01",
       {"a", "b"},
       {{{1, 2}}, {{3, 4}}},
       kAnyComments},
  };
  for (const LayoutCase& c : cases) expectLayout(c, "f.jdx");
}

TEST(ImportLayouts, ScansOneAfterAnotherAreGraphsOfTheirOwn) {
  const LayoutCase cases[] = {
      {"two rising scans under a title row",
       "nm,counts\n1,10\n2,20\n3,30\n1,11\n2,21\n3,31\n",
       "2 scans one after another",
       {"counts, scan 1", "counts, scan 2"},
       {{{1, 10}, {2, 20}, {3, 30}}, {{1, 11}, {2, 21}, {3, 31}}},
       1},
      // Falling x; a scan may start a little off the first one's start.
      {"three falling scans",
       "3 1\n2 2\n1 3\n3.5 4\n2 5\n1 6\n2.75 7\n1.5 8\n1 9\n",
       "3 scans one after another",
       {"f.txt, scan 1", "f.txt, scan 2", "f.txt, scan 3"},
       {{{3, 1}, {2, 2}, {1, 3}}, {{3.5, 4}, {2, 5}, {1, 6}}, {{2.75, 7}, {1.5, 8}, {1, 9}}},
       0},
  };
  for (const LayoutCase& c : cases) {
    expectLayout(c);
    EXPECT_TRUE(importBytes(c.text, "f.txt").warnings.empty()) << c.what;
  }
}

TEST(ImportLayouts, AFirstColumnThatTurnsBackIsNamedInAWarning) {
  const std::string warning =
      "line 3: the first column, taken as x, turns back here (it is not monotonic); check that "
      "the file holds one x column and one scan";
  struct Case {
    const char* what;
    std::string text;
    std::size_t graphs;
  };
  const Case cases[] = {
      {"zig-zag", "1 1\n3 2\n2 3\n4 4\n", 1},
      // Back to far before the start: no second scan.
      {"restart beyond the start", "10 1\n11 2\n5 4\n6 5\n", 1},
      {"scans of two points", "1 1\n2 2\n1 3\n2 4\n1 5\n2 6\n", 1},
      {"a last scan too short", "1 1\n2 2\n1 3\n", 1},
      {"several columns", "1,1,1\n2,2,2\n1,3,3\n2,4,4\n", 2},
  };
  for (const Case& c : cases) {
    const ImportResult r = importBytes(c.text, "f.txt");
    ASSERT_FALSE(r.refusal) << c.what;
    EXPECT_EQ(r.graphs.size(), c.graphs) << c.what;
    EXPECT_EQ(r.warnings, std::vector<std::string>{warning}) << c.what;
  }
  // Falling throughout is monotonic too.
  EXPECT_TRUE(importBytes("3 1\n2 2\n1 3\n", "f.txt").warnings.empty());
}

TEST(ImportLayouts, OneSpectrumPerRowUnderAnXRowWithAnEmptyCorner) {
  const LayoutCase cases[] = {
      {"names in front of the rows",
       ",400,401,402\nA,1,2,3\nB,4,5,6\n",
       "one spectrum per row",
       {"A", "B"},
       {{{400, 1}, {401, 2}, {402, 3}}, {{400, 4}, {401, 5}, {402, 6}}},
       0},
      {"indices in front of the rows, tabs, falling x",
       "\t3\t2\t1\n1\t5\t6\t7\n02\t8\t9\t10\n",
       "one spectrum per row",
       {"1", "02"},
       {{{3, 5}, {2, 6}, {1, 7}}, {{3, 8}, {2, 9}, {1, 10}}},
       0},
      {"blank cells and a short last row",
       ",1,2,3\nA,1,,3\nB,4\n",
       "one spectrum per row",
       {"A", "B"},
       {{{1, 1}, {3, 3}}, {{1, 4}}},
       0},
      {"header lines, semicolons, decimal commas",
       "# map 2x1\n;500,5;600;700\nP 1;1;2;3,5\nP 2;4;5;6\n",
       "one spectrum per row",
       {"P 1", "P 2"},
       {{{500.5, 1}, {600, 2}, {700, 3.5}}, {{500.5, 4}, {600, 5}, {700, 6}}},
       1},
  };
  for (const LayoutCase& c : cases) expectLayout(c);
  // Numbers as labels could also be a first column of x: the summary says
  // what was guessed.
  const ImportResult r = importBytes("\t3\t2\t1\n1\t5\t6\t7\n2\t8\t9\t10\n", "f.txt");
  ASSERT_EQ(r.warnings.size(), 1U);
  EXPECT_EQ(r.warnings[0],
            "line 1 read as x values over one spectrum per row, each row's first number its "
            "name; import-with layout=first-column-x reads the columns as graphs");
  EXPECT_TRUE(importBytes(",1,2,3\nA,1,2,3\n", "f.txt").warnings.empty());
}

TEST(ImportLayouts, TablesThatOnlyLookLikeSpectraPerRowStayColumns) {
  const LayoutCase cases[] = {
      // Two x values only: a first row without x.
      {"a blank x in the first row",
       ",5,6\n1,6,7\n2,7,8\n",
       "separator comma",
       {"f.txt, column 2", "f.txt, column 3"},
       {{{1, 6}, {2, 7}}, {{1, 7}, {2, 8}}},
       0},
      // The first row does not run one way: no x axis.
      {"a first row that turns back",
       ",1,3,2\n1,6,7,8\n2,7,8,9\n",
       "separator comma",
       {"f.txt, column 2", "f.txt, column 3", "f.txt, column 4"},
       {{{1, 6}, {2, 7}}, {{1, 7}, {2, 8}}, {{1, 8}, {2, 9}}},
       0},
      {"nan in the first row",
       ",nan,1,2\n1,6,7,8\n2,7,8,9\n",
       "separator comma",
       {"f.txt, column 2", "f.txt, column 3", "f.txt, column 4"},
       {{{1, 6}, {2, 7}}, {{1, 7}, {2, 8}}, {{1, 8}, {2, 9}}},
       0},
      // A row wider than the x row.
      {"a row wider than the x row",
       ",1,2,3\n1,6,7,8,9\n2,7,8,9\n",
       "separator comma",
       {"f.txt, column 2", "f.txt, column 3", "f.txt, column 4"},
       {{{1, 6}, {2, 7}}, {{1, 7}, {2, 8}}, {{1, 8}, {2, 9}}},
       0},
  };
  for (const LayoutCase& c : cases) expectLayout(c);
}

TEST(ImportLayouts, ColumnPairsOnStrongEvidence) {
  const LayoutCase cases[] = {
      {"titles repeating per pair, trailing comma, metadata footer",
       "Wavelength,Intensity,Wavelength,Intensity,\n400,1,400.5,5,\n401,2,401.5,6,\n"
       "402,3,402.5,7,\n\nOperator: A. N. Other\nIntegration time: 100 ms\n",
       "2 column pairs (x, y)",
       {"f.txt, pair 1", "f.txt, pair 2"},
       {{{400, 1}, {401, 2}, {402, 3}}, {{400.5, 5}, {401.5, 6}, {402.5, 7}}},
       3},
      {"pairs of different lengths named by their titles",
       "nm,A,nm,B\n1,10,1,20\n2,11,2,21\n3,12,3,22\n4,13,,\n",
       "2 column pairs (x, y)",
       {"A", "B"},
       {{{1, 10}, {2, 11}, {3, 12}, {4, 13}}, {{1, 20}, {2, 21}, {3, 22}}},
       1},
      {"second x column overlapping the first by three fifths",
       "0,1,40,5\n50,2,90,6\n100,3,140,7\n",
       "2 column pairs (x, y)",
       {"f.txt, pair 1", "f.txt, pair 2"},
       {{{0, 1}, {50, 2}, {100, 3}}, {{40, 5}, {90, 6}, {140, 7}}},
       0},
      {"three falling pairs without titles",
       "9;1;9,1;2;8,9;3\n8;1;8,1;2;7,9;3\n7;1;7,1;2;6,9;3\n",
       "3 column pairs (x, y)",
       {"f.txt, pair 1", "f.txt, pair 2", "f.txt, pair 3"},
       {{{9, 1}, {8, 1}, {7, 1}}, {{9.1, 2}, {8.1, 2}, {7.1, 2}}, {{8.9, 3}, {7.9, 3}, {6.9, 3}}},
       0},
  };
  for (const LayoutCase& c : cases) {
    expectLayout(c);
    EXPECT_TRUE(importBytes(c.text, "f.txt").warnings.empty()) << c.what;
  }
  // Weak evidence keeps the first column as x; a near miss is warned about.
  struct Case {
    const char* what;
    std::string text;
    std::size_t graphs;
    std::vector<std::string> warnings;
  };
  const Case weak[] = {
      {"x titles repeating, y titles not, odd columns of their own ranges",
       "nm,A,nm,B\n1,10,100,20\n2,11,101,21\n3,12,102,22\n",
       3,
       {}},
      {"x columns and y columns of their own ranges",
       "nm,a,b,c\n400,1,2,3\n401,2,3,4\n402,3,4,5\n",
       3,
       {}},
      {"titles repeating, second x not monotonic",
       "x,y,x,y\n1,1,3,1\n2,2,1,2\n3,3,2,3\n",
       3,
       {"the columns may be pairs of x and y (the titles repeat per pair, the odd columns cover "
        "one range); read with the first column as x; import-with layout=column-pairs reads one "
        "graph per pair"}},
      {"x columns alike, one not monotonic, no titles",
       "1,7,3,1\n2,8,1,2\n3,9,2,3\n",
       3,
       {"the columns may be pairs of x and y (the odd columns cover one range); read with the "
        "first column as x; import-with layout=column-pairs reads one graph per pair"}},
      {"an odd number of columns", "1,5,1,6,1\n2,5,2,6,2\n3,5,3,6,3\n", 4, {}},
  };
  for (const Case& c : weak) {
    const ImportResult r = importBytes(c.text, "f.txt");
    ASSERT_FALSE(r.refusal) << c.what;
    EXPECT_EQ(r.graphs.size(), c.graphs) << c.what;
    EXPECT_EQ(r.warnings, c.warnings) << c.what;
  }
  // Asked for, pairs are read whatever the evidence.
  ImportSettings s;
  s.layout = ImportLayout::ColumnPairs;
  const ImportResult r = importTable("x,y,x,y\n1,1,3,1\n2,2,1,2\n3,3,2,3\n", "f.txt", s);
  ASSERT_EQ(r.graphs.size(), 2U);
  EXPECT_EQ(r.graphs[1].points, (std::vector<Point>{{3, 1}, {1, 2}, {2, 3}}));
}

TEST(ImportLayouts, XFromAStartAndStepInTheHeader) {
  const LayoutCase cases[] = {
      {"start, step and count, the last line shorter",
       "Start: 400\nStep: 0.5\nPoints: 7\n1 2 3\n4 5 6\n7\n",
       "x from start 400 and step 0.5",
       {"f.txt"},
       {{{400, 1}, {400.5, 2}, {401, 3}, {401.5, 4}, {402, 5}, {402.5, 6}, {403, 7}}},
       3},
      {"one header line, semicolons, a blank cell keeps its place",
       "Start angle (deg) 10; Step -2; Number of points 5\n1;;3\n4;5\n",
       "x from start 10 and step -2",
       {"f.txt"},
       {{{10, 1}, {6, 3}, {4, 4}, {2, 5}}},
       1},
      {"one value per line",
       "StartWavelength=200\nStepSize=1\n5\n6\n7\n",
       "x from start 200 and step 1",
       {"f.txt"},
       {{{200, 5}, {201, 6}, {202, 7}}},
       2},
      // The header describes the x column that is there.
      // Counts repeat: a first column that stands still is no x column.
      {"no count, a first column that repeats a value",
       "Start: 100\nStep: 1\n5 9 2\n5 3 8\n6 1\n",
       "x from start 100 and step 1",
       {"f.txt"},
       {{{100, 5}, {101, 9}, {102, 2}, {103, 5}, {104, 3}, {105, 8}, {106, 6}, {107, 1}}},
       2},
      {"an x column that the header describes",
       "Start: 400\nStep: 1\n400 1\n401 2\n402 3\n",
       "separator blanks",
       {"f.txt"},
       {{{400, 1}, {401, 2}, {402, 3}}},
       2},
      {"a count that does not fit",
       "Start: 400\nStep: 1\nPoints: 99\n1 2\n3 4\n5 6\n",
       "separator blanks",
       {"f.txt"},
       {{{1, 2}, {3, 4}, {5, 6}}},
       3},
      {"a step of nan, a huge count",
       "Start: 1\nStep: nan\nPoints: 1e300\n5\n6\n",
       "one column",
       {"f.txt"},
       {{{0, 5}, {1, 6}}},
       3},
  };
  for (const LayoutCase& c : cases) expectLayout(c);

  ImportSettings s;
  s.layout = ImportLayout::StartStep;
  ImportResult r = importTable("Start: 400\nStep: 1\nPoints: 99\n1 2\n3 4\n5 6\n", "f.txt", s);
  ASSERT_FALSE(r.refusal);
  EXPECT_EQ(r.graphs.at(0).points.size(), 6U);
  EXPECT_EQ(r.warnings, std::vector<std::string>{"the header gives 99 points and the data hold 6"});
  r = importTable("1 2\n3 4\n", "f.txt", s);
  EXPECT_EQ(r.refusal, "the header gives no start and step of x");
}

TEST(ImportLayouts, DataBlocksUnderHeadersOfTheirOwn) {
  const LayoutCase cases[] = {
      {"regions named in their headers",
       "Region: C 1s\nBE,counts\n290,5\n289,6\n288,7\nRegion: O 1s\nBE,counts\n535,8\n534,9\n"
       "533,10\n",
       "2 data blocks",
       {"C 1s", "O 1s"},
       {{{290, 5}, {289, 6}, {288, 7}}, {{535, 8}, {534, 9}, {533, 10}}},
       4},
      {"unnamed blocks where x starts again",
       "# scan A\n1 5\n2 6\n3 7\n# scan B\n1 8\n2 9\n3 10\n",
       "2 data blocks",
       {"f.txt, block 1", "f.txt, block 2"},
       {{{1, 5}, {2, 6}, {3, 7}}, {{1, 8}, {2, 9}, {3, 10}}},
       2},
      {"bracketed names, two columns each, x going on",
       "[first]\nx;a;b\n1;2;3\n2;3;4\n[second]\nx;c;d\n5;6;7\n6;7;8\n",
       "2 data blocks",
       {"first, a", "first, b", "second, c", "second, d"},
       {{{1, 2}, {2, 3}}, {{1, 3}, {2, 4}}, {{5, 6}, {6, 7}}, {{5, 7}, {6, 8}}},
       4},
      // A stray line inside one scan (x goes on, nothing named) is a comment.
      {"a stray line in a scan",
       "1 5\n2 6\n# lamp flicker\n3 7\n4 8\n",
       "separator blanks",
       {"f.txt"},
       {{{1, 5}, {2, 6}, {3, 7}, {4, 8}}},
       1},
      {"a key that only contains a name key",
       "1 5\n2 6\nSlit width: 2\n3 7\n",
       "separator blanks",
       {"f.txt"},
       {{{1, 5}, {2, 6}, {3, 7}}},
       1},
  };
  for (const LayoutCase& c : cases) {
    expectLayout(c);
    EXPECT_TRUE(importBytes(c.text, "f.txt").warnings.empty()) << c.what;
  }
}

/// Lines of the values first, first + 1, ... (count of them).
std::string valueLines(int first, int count) {
  std::string out;
  for (int k = 0; k < count; ++k) out += std::to_string(first + k) + "\n";
  return out;
}

/// The points of valueLines(first, count) at x = start + j * step.
std::vector<Point> stepped(double start, double step, int first, int count) {
  std::vector<Point> out;
  for (int j = 0; j < count; ++j) out.push_back({start + j * step, double(first + j)});
  return out;
}

TEST(ImportLayouts, OneColumnInBlocksAndXFromAStartAndStep) {
  const LayoutCase cases[] = {
      {"named regions, keyed start and step",
       "Region: C 1s\nStart: 280\nStep: 0.5\n5\n6\n7\nRegion: O 1s\nStart: 525\nStep: -1\n8\n"
       "9\n10\n",
       "one column in 2 blocks, each under its own header, x from start and step (or one graph: "
       "import-with layout=first-column-x)",
       {"C 1s", "O 1s"},
       {stepped(280, 0.5, 5, 3), stepped(525, -1, 8, 3)},
       6},
      // Numbers not alone on their line are header lines, never points.
      {"unnamed blocks with lines of numbers in their headers",
       "# channel\n3 0 1\n5\n6\n7\n# channel\n3 0 1\n8\n9\n",
       "one column in 2 blocks, each under its own header, x is the row number",
       {"f.txt, block 1", "f.txt, block 2"},
       {stepped(0, 1, 5, 3), stepped(0, 1, 8, 2)},
       4},
      {"start, step and last x alone above each block",
       "10 0.5 13.5\n" + valueLines(1, 8) + "[B]\n20 2\n" + valueLines(11, 9),
       "one column in 2 blocks, each under its own header, x from start and step",
       {"f.txt, block 1", "B"},
       {stepped(10, 0.5, 1, 8), stepped(20, 2, 11, 9)},
       3},
      {"start and step alone above one long column",
       "Powder 7\n10 0.5\n" + valueLines(1, 8),
       "x from start 10 and step 0.5 on the line above the column (or x the row number: "
       "import-with layout=first-column-x)",
       {"f.txt"},
       {stepped(10, 0.5, 1, 8)},
       2},
      {"start, step and the number of points",
       "-5 0.25 9\n" + valueLines(1, 9),
       "x from start -5 and step 0.25",
       {"f.txt"},
       {stepped(-5, 0.25, 1, 9)},
       1},
      // A third number that is neither the last x nor the count: no axis.
      {"three numbers that do not fit the column",
       "10 0.5 99\n" + valueLines(1, 8),
       "one column (x is the row number)",
       {"f.txt"},
       {stepped(0, 1, 1, 8)},
       1},
      {"two numbers above a short column",
       "10 0.5\n" + valueLines(1, 4),
       "one column (x is the row number)",
       {"f.txt"},
       {stepped(0, 1, 1, 4)},
       1},
      {"x and y on alternate lines",
       "380\n0.25\n381\n0.5\n382\n0.125\n383\n0.75\n",
       "one column, x and y on alternate lines (or one column: import-with "
       "layout=first-column-x)",
       {"f.txt"},
       {{{380, 0.25}, {381, 0.5}, {382, 0.125}, {383, 0.75}}},
       0},
      {"x and y both rising, on alternate lines",
       "1\n10\n2\n20\n3\n30\n4\n40\n",
       "x and y on alternate lines",
       {"f.txt"},
       {{{1, 10}, {2, 20}, {3, 30}, {4, 40}}},
       0},
      {"a falling column, some noise",
       "100\n90\n91\n73\n66\n59\n60\n48\n",
       "one column (x",
       {"f.txt"},
       {{{0, 100}, {1, 90}, {2, 91}, {3, 73}, {4, 66}, {5, 59}, {6, 60}, {7, 48}}},
       0},
      {"odd lines that rise unevenly",
       "1\n5\n2\n7\n8\n3\n30\n1\n",
       "one column (x",
       {"f.txt"},
       {{{0, 1}, {1, 5}, {2, 2}, {3, 7}, {4, 8}, {5, 3}, {6, 30}, {7, 1}}},
       0},
  };
  for (const LayoutCase& c : cases) {
    expectLayout(c);
    EXPECT_TRUE(importBytes(c.text, "f.txt").warnings.empty()) << c.what;
  }

  // An odd number of lines: not read as pairs, but said.
  const std::string odd = "380\n0.25\n381\n0.5\n382\n0.125\n383\n0.75\n384\n";
  ImportResult r = importBytes(odd, "f.txt");
  ASSERT_EQ(r.graphs.size(), 1U);
  EXPECT_EQ(r.graphs[0].points.size(), 9U);
  EXPECT_EQ(r.warnings,
            std::vector<std::string>{
                "the column alternates (its odd lines run steadily one way and its even lines do "
                "not); import-with layout=alternate-lines reads them as x and y"});
  ImportSettings s;
  s.layout = ImportLayout::AlternateLines;
  r = importTable(odd, "f.txt", s);
  ASSERT_EQ(r.graphs.size(), 1U);
  EXPECT_EQ(r.graphs[0].points.size(), 4U);
  EXPECT_EQ(r.warnings,
            std::vector<std::string>{"f.txt: the last line has no partner and gives no point"});
  // The other reading of a column taken as pairs.
  s.layout = ImportLayout::FirstColumnX;
  r = importTable(odd.substr(0, odd.size() - 4), "f.txt", s);
  ASSERT_EQ(r.graphs.size(), 1U);
  EXPECT_EQ(r.graphs[0].points.size(), 8U);
  // Start and step given: over the header's, for one column and for rows.
  s = {};
  s.layout = ImportLayout::StartStep;
  s.start = 5;
  s.step = 2;
  r = importTable("Start: 1\nStep: 1\n7\n8\n9\n", "f.txt", s);
  ASSERT_EQ(r.graphs.size(), 1U);
  EXPECT_EQ(r.graphs[0].points, stepped(5, 2, 7, 3));
  r = importTable("7 8\n9 10\n", "f.txt", s);
  ASSERT_EQ(r.graphs.size(), 1U);
  EXPECT_EQ(r.graphs[0].points, stepped(5, 2, 7, 4));
}

TEST(ImportLayouts, RowsThatStartWithText) {
  const LayoutCase cases[] = {
      {"metadata columns over x values: one spectrum per row",
       "Sample,Date,400,401,402\nA,2024-01-01,1,2,3\nB,2024-01-02,4,5,6\n",
       "separator comma, decimal point, 2 label columns, one spectrum per row (label columns "
       "guessed; import-with labels=0 reads none)",
       {"A, 2024-01-01", "B, 2024-01-02"},
       {{{400, 1}, {401, 2}, {402, 3}}, {{400, 4}, {401, 5}, {402, 6}}},
       0},
      {"an empty corner over the labels",
       ";;400;401;402\nA;x;1;2;3\nB;y;4;5;6\n",
       "2 label columns, one spectrum per row",
       {"A, x", "B, y"},
       {{{400, 1}, {401, 2}, {402, 3}}, {{400, 4}, {401, 5}, {402, 6}}},
       0},
      // A label that repeats names the points of one curve.
      {"a sample name on every row",
       "name\tx\ty\nrun 1\t1\t2\nrun 1\t2\t3\nrun 1\t3\t5\n",
       "separator tab, decimal point, 1 label column",
       {"y"},
       {{{1, 2}, {2, 3}, {3, 5}}},
       1},
  };
  for (const LayoutCase& c : cases) expectLayout(c);

  // Labels that are numbers: only when given.
  const std::string ids = "id,400,401,402\n17,1,2,3\n18,4,5,6\n";
  ImportSettings s;
  s.labels = 1;
  const ImportResult r = importTable(ids, "f.txt", s);
  ASSERT_FALSE(r.refusal);
  ASSERT_EQ(r.graphs.size(), 2U);
  EXPECT_EQ(r.graphs[1].name, "18");
  EXPECT_EQ(r.graphs[1].points, (std::vector<Point>{{400, 4}, {401, 5}, {402, 6}}));
  EXPECT_EQ(r.settings.labels, 1U);
}

/// An XRDML file of these scans (each the inside of its dataPoints).
std::string xrdml(const std::vector<std::string>& scans, const std::string& sample = "quartz") {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xrdMeasurements "
      "xmlns=\"http://www.xrdml.com/XRDMeasurement/1.5\">\n<sample type=\"To be analyzed\">"
      "<id>S1</id><name>" +
      sample + "</name></sample>\n<xrdMeasurement measurementType=\"Scan\">\n";
  for (const std::string& s : scans)
    out += "<scan scanAxis=\"Gonio\"><header/><dataPoints>" + s + "</dataPoints></scan>\n";
  return out + "</xrdMeasurement>\n</xrdMeasurements>\n";
}

const std::string kTwoTheta =
    "<positions axis=\"2Theta\" unit=\"deg\"><startPosition>10</startPosition>"
    "<endPosition>11</endPosition></positions>"
    "<positions axis=\"Omega\" unit=\"deg\"><startPosition>5</startPosition>"
    "<endPosition>5.5</endPosition></positions>"
    "<commonCountingTime unit=\"seconds\">1.5</commonCountingTime>";

TEST(ImportXrdml, EachScanIsAGraphOverItsTwoTheta) {
  const LayoutCase cases[] = {
      {"one scan, start and end",
       xrdml({kTwoTheta + "<intensities unit=\"counts\">4 8 16 32 64</intensities>"}),
       "PANalytical XRDML",
       {"quartz"},
       {{{10, 4}, {10.25, 8}, {10.5, 16}, {10.75, 32}, {11, 64}}},
       5},
      {"two scans: counts over a list; an omega scan",
       xrdml({"<positions axis=\"Omega\" unit=\"deg\"><commonPosition>3</commonPosition>"
              "</positions><positions axis=\"2Theta\" unit=\"deg\"><listPositions>20 20.5 "
              "21.5</listPositions></positions><counts unit=\"counts\">1 2 3</counts>",
              "<positions axis=\"Omega\" unit=\"deg\"><startPosition>1</startPosition>"
              "<endPosition>0</endPosition></positions><counts>7\n8\n</counts>"}),
       "PANalytical XRDML, 2 scans",
       {"quartz, scan 1", "quartz, scan 2"},
       {{{20, 1}, {20.5, 2}, {21.5, 3}}, {{1, 7}, {0, 8}}},
       kAnyComments},
  };
  for (const LayoutCase& c : cases) expectLayout(c, "run.xrdml");

  struct Refusal {
    const char* what;
    std::string text;
    const char* reason;
  };
  const Refusal refused[] = {
      {"cut short", xrdml({kTwoTheta}).substr(0, 200), "the XRDML file is not well-formed XML ("},
      {"no scan", xrdml({}), "the XRDML file holds no scan"},
      {"another root", "<xrdMeasurementsX/>", "the XML file has no xrdMeasurements element"},
      {"text among the intensities", xrdml({kTwoTheta + "<intensities>1 2 x3</intensities>"}),
       "quartz: its intensities hold \"x3\"; the scan makes no graph"},
      {"no moving axis",
       xrdml({"<positions axis=\"2Theta\"><startPosition>5</startPosition><endPosition>5</"
              "endPosition></positions><intensities>1 2</intensities>"}),
       "quartz: it gives no positions of a moving axis"},
  };
  for (const Refusal& c : refused) {
    const ImportResult r = importBytes(c.text, "run.xrdml");
    ASSERT_TRUE(r.refusal) << c.what;
    EXPECT_EQ(r.refusal->rfind(c.reason, 0), 0U) << c.what << ": " << *r.refusal;
  }
  // One scan of several that cannot be read is left out with a warning.
  ImportResult r = importBytes(
      xrdml({kTwoTheta + "<intensities>1 2</intensities>", "<intensities>3</intensities>"}),
      "run.xrdml");
  ASSERT_FALSE(r.refusal);
  EXPECT_EQ(r.graphs.size(), 1U);
  EXPECT_EQ(r.warnings, std::vector<std::string>{"quartz, scan 2: it gives no positions of a "
                                                 "moving axis; the scan makes no graph"});
  // Never read as a table, however large.
  std::string_view text;
  std::string encoding;
  EXPECT_FALSE(tableTextStart(xrdml({kTwoTheta}), text, encoding));
  r = importBytes(xrdml(std::vector<std::string>(3, kTwoTheta + "<counts>1 2</counts>")), "a.xml",
                  2);
  EXPECT_EQ(r.refusal, "it needs 3 graph slots and only 2 of 301 are free");
}

TEST(ImportLayouts, RowsOfSpectraArePicked) {
  std::string text = ",1,2,3\n";
  for (int k = 1; k <= 9; ++k) text += "s" + std::to_string(k) + ",1,2,3\n";
  ImportSettings s;
  s.rows = RowRange{2, 8, 3};
  const ImportResult r = importTable(text, "f.txt", s);
  ASSERT_FALSE(r.refusal);
  std::vector<std::string> names;
  for (const ImportedGraph& g : r.graphs) names.push_back(g.name);
  EXPECT_EQ(names, (std::vector<std::string>{"s2", "s5", "s8"}));
  EXPECT_EQ(r.settings.layout, ImportLayout::SpectrumPerRow);
}

}  // namespace
}  // namespace varnix
