#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "import/importer.h"
#include "session/session.h"
#include "test_util.h"
#include "workspace/data_file_reader.h"
#include "workspace/data_file_writer.h"
#include "workspace/interrupted_save.h"

namespace varnix {
namespace {

using test::TempDir;
using test::writeFile;

std::vector<Point> pts(std::initializer_list<Point> p) {
  return p;
}

struct TableCase {
  const char* what;
  std::string text;
  const char* layout;  ///< expected part of the layout
  std::vector<std::vector<Point>> graphs;
};

TEST(ImportTable, SeparatorsAndDecimalMarksFoundFromTheData) {
  const TableCase cases[] = {
      {"comma, no blank",
       "340,0.1308\n341,0.2\n",
       "separator comma, decimal point",
       {pts({{340, 0.1308}, {341, 0.2}})}},
      {"trailing comma",
       "899.9957886,0.03348613903,\r\n900,0.5,\r\n",
       "separator comma",
       {pts({{899.9957886, 0.03348613903}, {900, 0.5}})}},
      {"blanks around the comma",
       "0.000000 ,    0\n1.5 ,  2\n",
       "separator comma",
       {pts({{0, 0}, {1.5, 2}})}},
      {"tab and decimal comma",
       "25,61272\t1234,5\n25,7\t1300\n",
       "separator tab, decimal comma",
       {pts({{25.61272, 1234.5}, {25.7, 1300}})}},
      {"semicolon and decimal comma",
       "1,5;2,5;-3\n2;3,25;4e-3\n",
       "separator semicolon, decimal comma",
       {pts({{1.5, 2.5}, {2, 3.25}}), pts({{1.5, -3}, {2, 4e-3}})}},
      {"blanks and decimal comma",
       "1,5   2,5\n2,5 3\n",
       "separator blanks, decimal comma",
       {pts({{1.5, 2.5}, {2.5, 3}})}},
      {"blanks and decimal point",
       "  1.5   2.5\n2.5 3E2\n",
       "separator blanks, decimal point",
       {pts({{1.5, 2.5}, {2.5, 300}})}},
      // "1,234" alone: two values (x 1, y 234), not one with a decimal comma.
      {"ambiguous 1,234", "1,234\n2,345\n", "separator comma", {pts({{1, 234}, {2, 345}})}},
      {"quoted fields",
       "\"1.5\",\"2.5\"\n\"2\",\"3\"\n",
       "separator comma",
       {pts({{1.5, 2.5}, {2, 3}})}},
      {"one column", "5\n6\n7\n", "one column", {pts({{0, 5}, {1, 6}, {2, 7}})}},
      {"CR line ends and a plus sign", "1\t+2\r3\t4\r", "separator tab", {pts({{1, 2}, {3, 4}})}},
  };
  for (const TableCase& c : cases) {
    const ImportResult r = importBytes(c.text, "f.csv");
    ASSERT_FALSE(r.refusal) << c.what << ": " << *r.refusal;
    EXPECT_NE(r.layout.find(c.layout), std::string::npos) << c.what << ": " << r.layout;
    ASSERT_EQ(r.graphs.size(), c.graphs.size()) << c.what;
    for (std::size_t k = 0; k < c.graphs.size(); ++k) {
      ASSERT_EQ(r.graphs[k].points.size(), c.graphs[k].size()) << c.what << " graph " << k;
      for (std::size_t j = 0; j < c.graphs[k].size(); ++j) {
        EXPECT_EQ(r.graphs[k].points[j].x, c.graphs[k][j].x) << c.what;
        EXPECT_EQ(r.graphs[k].points[j].y, c.graphs[k][j].y) << c.what;
      }
    }
  }
}

TEST(ImportTable, HeadersFootersAndStrayLinesBecomeComments) {
  const std::string text =
      "# Spectrometer export\n## operator: A. N. Other\n// comment\nIntegration time: 100 ms\n"
      "GAIN\t2\n>>>>>Begin Spectral Data<<<<<\n"
      "Wavelength\tT010K\tSample 1\n500\t1\t10\n501\t2\t20\nsaturated here\n502\t3\t30\n"
      "1/2 plate\tNot fitted\n";
  const ImportResult r = importBytes(text, "run.txt");
  ASSERT_FALSE(r.refusal);
  ASSERT_EQ(r.graphs.size(), 2U);
  EXPECT_EQ(r.graphs[0].name, "T010K");
  EXPECT_EQ(r.graphs[1].name, "Sample 1");
  EXPECT_EQ(r.graphs[0].points.size(), 3U);
  EXPECT_EQ(r.graphs[1].points.back().y, 30);
  // Header lines (also "GAIN 2", numbers before the data), the title row,
  // the stray line and the footer.
  EXPECT_EQ(r.graphs[0].comments.size(), 9U);
  EXPECT_EQ(r.graphs[0].comments.back(), "1/2 plate\tNot fitted");
  EXPECT_TRUE(r.graphs[1].comments.empty());
  // Lone numbers before and after the data are header and footer lines.
  const ImportResult lone = importBytes("2048\n1 10\n2 20\n3 30\n4 40\n1024\n", "n.txt");
  ASSERT_EQ(lone.graphs.size(), 1U);
  EXPECT_EQ(lone.graphs[0].points.size(), 4U);
  EXPECT_EQ(lone.graphs[0].comments, (std::vector<std::string>{"2048", "1024"}));
  EXPECT_TRUE(lone.warnings.empty());
  // A header line that starts with "." is a title row, not data.
  const ImportResult dot = importBytes(".wavelength, spc\n500,1\n501,2\n502,3\n", "s.csv");
  ASSERT_EQ(dot.graphs.size(), 1U);
  EXPECT_EQ(dot.graphs[0].name, "spc");
  EXPECT_EQ(dot.graphs[0].points.size(), 3U);
  // A "Key=value" or "Key: value" header line just before the data is no
  // title row.
  for (const char* header : {"#Objective=\t100x\n", "Objective:\t100x\n"}) {
    const ImportResult key = importBytes(std::string(header) + "1\t2\n2\t3\n3\t4\n", "h.txt");
    ASSERT_EQ(key.graphs.size(), 1U);
    EXPECT_EQ(key.graphs[0].name, "h.txt") << header;
  }
  // Without titles: the file name and the column number.
  const ImportResult plain = importBytes("1,2,3\n2,3,4\n", "s.csv");
  ASSERT_EQ(plain.graphs.size(), 2U);
  EXPECT_EQ(plain.graphs[0].name, "s.csv, column 2");
  EXPECT_EQ(plain.graphs[1].name, "s.csv, column 3");
}

TEST(ImportTable, ABlankCellIsNoPointAndTheGraphGoesOn) {
  const ImportResult r = importBytes("1;10;100\n\n\n2;;200\n3;30;300\n", "m.csv");
  ASSERT_EQ(r.graphs.size(), 2U);
  EXPECT_EQ(r.graphs[0].points, pts({{1, 10}, {3, 30}}));
  EXPECT_EQ(r.graphs[1].points.size(), 3U);
  EXPECT_TRUE(r.warnings.empty());
  // "N/A" and "--" are blank cells, not text.
  const ImportResult na = importBytes("1\t1\t5\n2\t2\tN/A\n3\t--\t7\n", "na.txt");
  ASSERT_EQ(na.graphs.size(), 2U);
  EXPECT_EQ(na.graphs[0].points, pts({{1, 1}, {2, 2}}));
  EXPECT_EQ(na.graphs[1].points, pts({{1, 5}, {3, 7}}));
  EXPECT_TRUE(na.warnings.empty());
  // inf and nan take their place in a row but give no point; a field of
  // dots is text.
  const ImportResult special = importBytes("1 inf\n2 nan\n3 4\n. 5\n", "s.txt");
  ASSERT_EQ(special.graphs.size(), 1U);
  EXPECT_EQ(special.graphs[0].points.size(), 1U);
  EXPECT_EQ(special.nonFinite, 2U);
  EXPECT_EQ(special.graphs[0].comments, std::vector<std::string>{". 5"});
}

TEST(ImportTable, NonFiniteValuesGiveNoPointAndAreCounted) {
  std::string wideX = "x", wideA = "A";
  for (int k = 0; k < 24; ++k) {
    wideX += "," + (k == 3 ? std::string("nan") : std::to_string(100 + k));
    wideA += "," + (k == 5 ? std::string("-inf") : std::to_string(k));
  }
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::vector<Point>> graphs;
    std::size_t nonFinite;
  };
  const Case cases[] = {
      {"signs and spellings",
       "1,-inf\n2,1e999\n3,-1E999\n4,5\n5,NaN\n6,Infinity\n",
       {pts({{4, 5}})},
       5},
      // Too small for 64 bits is 0, not a missing value.
      {"underflow", "1 1e-999\n2 3\n", {pts({{1, 0}, {2, 3}})}, 0},
      // The graph goes on after the value: unlike an empty field, it does
      // not end it.
      {"in the middle of a column",
       "1;10;100\n2;nan;200\n3;30;300\n",
       {pts({{1, 10}, {3, 30}}), pts({{1, 100}, {2, 200}, {3, 300}})},
       1},
      {"an x that is not finite",
       "nan;1;2\n2;3;4\n3;5;6\n",
       {pts({{2, 3}, {3, 5}}), pts({{2, 4}, {3, 6}})},
       1},
      {"decimal comma", "1,5;inf\n2,5;3,5\n3,5;1e999\n", {pts({{2.5, 3.5}})}, 2},
      // x is the row number: the row left out keeps its place.
      {"one column", "5\nnan\n7\n", {pts({{0, 5}, {2, 7}})}, 1},
  };
  for (const Case& c : cases) {
    const ImportResult r = importBytes(c.text, "f.csv");
    ASSERT_FALSE(r.refusal) << c.what << ": " << *r.refusal;
    EXPECT_EQ(r.nonFinite, c.nonFinite) << c.what;
    EXPECT_TRUE(r.warnings.empty()) << c.what << ": " << r.warnings.front();
    ASSERT_EQ(r.graphs.size(), c.graphs.size()) << c.what;
    for (std::size_t k = 0; k < c.graphs.size(); ++k) {
      ASSERT_EQ(r.graphs[k].points.size(), c.graphs[k].size()) << c.what << " graph " << k;
      for (std::size_t j = 0; j < c.graphs[k].size(); ++j) {
        EXPECT_EQ(r.graphs[k].points[j].x, c.graphs[k][j].x) << c.what;
        EXPECT_EQ(r.graphs[k].points[j].y, c.graphs[k][j].y) << c.what;
      }
    }
  }
  // One spectrum per row: a column whose x is not finite and a y that is not
  // give no point.
  const ImportResult wide = importBytes(wideX + "\n" + wideA + "\n", "w.csv");
  ASSERT_EQ(wide.graphs.size(), 1U);
  EXPECT_NE(wide.layout.find("one spectrum per row"), std::string::npos) << wide.layout;
  EXPECT_EQ(wide.nonFinite, 2U);
  ASSERT_EQ(wide.graphs[0].points.size(), 22U);
  EXPECT_EQ(wide.graphs[0].points[3].x, 104);
  EXPECT_EQ(wide.graphs[0].points[4].y, 6);
}

// A blank cell (an empty field, "N/A", a row cut short) is no point in that
// graph at that row; the graph goes on, and the graphs beside it too. A blank
// x is no point in any graph. Each case: the text, the points per graph, the
// warnings.
TEST(ImportTable, BlankCellsLeaveOutOnlyTheirPoint) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::vector<Point>> graphs;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {"empty tab field",
       "x\ta\tb\tc\n1\t10\t100\t1000\n2\t20\t\t2000\n3\t30\t300\t3000\n",
       {pts({{1, 10}, {2, 20}, {3, 30}}), pts({{1, 100}, {3, 300}}),
        pts({{1, 1000}, {2, 2000}, {3, 3000}})},
       {}},
      {"N/A between blanks",
       "1 10 100\n2 20 N/A\n3 30 300\n4 40 400\n",
       {pts({{1, 10}, {2, 20}, {3, 30}, {4, 40}}), pts({{1, 100}, {3, 300}, {4, 400}})},
       {}},
      // Two tabs in a row are an empty field, not one separator.
      {"tab and decimal comma, empty field",
       "1,5\t10\t100\n2,5\t\t200\n3,5\t30\t300\n4,5\t40\t400\n",
       {pts({{1.5, 10}, {3.5, 30}, {4.5, 40}}),
        pts({{1.5, 100}, {2.5, 200}, {3.5, 300}, {4.5, 400}})},
       {}},
      {"tab, empty field after blanks",
       "1\t10 \t100\n2 \t \t200\n3\t30\t300\n4\t40\t400\n",
       {pts({{1, 10}, {3, 30}, {4, 40}}), pts({{1, 100}, {2, 200}, {3, 300}, {4, 400}})},
       {}},
      {"decimal comma, empty field",
       "1;1,5;2,5\n2;;3,5\n3;4,5;5,5\n",
       {pts({{1, 1.5}, {3, 4.5}}), pts({{1, 2.5}, {2, 3.5}, {3, 5.5}})},
       {}},
      {"a row cut short",
       "1,10,100\n2,20,200\n3,30\n4,40,400\n",
       {pts({{1, 10}, {2, 20}, {3, 30}, {4, 40}}), pts({{1, 100}, {2, 200}, {4, 400}})},
       {}},
      // Pixels outside a calibrated axis: blank at the start and the end.
      {"blank at the start and the end of columns",
       "x,a,b\n1,,5\n2,,6\n3,7,8\n4,9,10\n5,11,\n6,12,\n",
       {pts({{3, 7}, {4, 9}, {5, 11}, {6, 12}}), pts({{1, 5}, {2, 6}, {3, 8}, {4, 10}})},
       {}},
      {"the last column blank in the first rows",
       "1,5,\n2,6,\n3,7,8\n4,8,9\n5,9,10\n",
       {pts({{1, 5}, {2, 6}, {3, 7}, {4, 8}, {5, 9}}), pts({{3, 8}, {4, 9}, {5, 10}})},
       {}},
      {"a blank x",
       "1,10,100\n2,20,200\n,30,300\n4,40,400\n,50,500\n",
       {pts({{1, 10}, {2, 20}, {4, 40}}), pts({{1, 100}, {2, 200}, {4, 400}})},
       {"line 3 and 1 more rows have no x value and give no point"}},
      {"a column blank in every row",
       "1,,5\n2,,6\n3,,7\n",
       {pts({{1, 5}, {2, 6}, {3, 7}})},
       {"m.txt, column 2 has no point and makes no graph"}},
      // A longer row: its extra value is left out, the others read.
      {"longer row",
       "1,10,100\n2,20,200,7\n3,30,300\n4,40,400\n",
       {pts({{1, 10}, {2, 20}, {3, 30}, {4, 40}}), pts({{1, 100}, {2, 200}, {3, 300}, {4, 400}})},
       {"1 line has more than 3 values; the extra values were left out"}},
  };
  for (const Case& c : cases) {
    const ImportResult r = importBytes(c.text, "m.txt");
    ASSERT_FALSE(r.refusal) << c.what;
    ASSERT_EQ(r.graphs.size(), c.graphs.size()) << c.what;
    for (std::size_t k = 0; k < c.graphs.size(); ++k)
      EXPECT_EQ(r.graphs[k].points, c.graphs[k]) << c.what << " graph " << k;
    EXPECT_EQ(r.warnings, c.warnings) << c.what;
  }
}

TEST(ImportTable, ABlankCellInAWideRowLeavesOutThatPoint) {
  std::string xs = "x", a = "A", b = "B";
  for (int k = 0; k < 30; ++k) {
    xs += k == 12 ? std::string(",") : "," + std::to_string(400 + k);
    a += k == 7 ? std::string(",") : "," + std::to_string(k);
    b += "," + std::to_string(2 * k);
  }
  const ImportResult r = importBytes(xs + "\n" + a + "\n" + b + "\n", "wide.csv");
  ASSERT_FALSE(r.refusal);
  ASSERT_EQ(r.graphs.size(), 2U);
  EXPECT_EQ(r.graphs[0].name, "A");
  // Value 7 is blank, and x 12 for both.
  ASSERT_EQ(r.graphs[0].points.size(), 28U);
  EXPECT_EQ(r.graphs[0].points[6], (Point{406, 6}));
  EXPECT_EQ(r.graphs[0].points[7], (Point{408, 8}));
  ASSERT_EQ(r.graphs[1].points.size(), 29U);
  EXPECT_EQ(r.graphs[1].points[12], (Point{413, 26}));
  EXPECT_EQ(r.graphs[1].points[28], (Point{429, 58}));
  EXPECT_TRUE(r.warnings.empty());
  // A row with text after its numbers is no spectrum: a comment line.
  std::string odd;
  for (int k = 0; k < 29; ++k) odd += std::to_string(k) + ",";
  odd += "saturated";
  const ImportResult withText =
      importBytes(xs + "\n" + b + "\n" + odd + "\n" + b + "\n", "wide.csv");
  ASSERT_EQ(withText.graphs.size(), 2U);
  EXPECT_EQ(withText.graphs[0].name, "B");
  EXPECT_EQ(withText.graphs[1].name, "B");
  EXPECT_EQ(withText.graphs[0].comments, std::vector<std::string>{odd});
  EXPECT_TRUE(withText.warnings.empty());
}

TEST(ImportTable, ARowOfMissingValuesOnlyIsAStrayLine) {
  const ImportResult r = importBytes("1,2,3\n3,4,5\n--,N/A,\n5,6,7\n", "s.csv");
  ASSERT_EQ(r.graphs.size(), 2U);
  EXPECT_EQ(r.graphs[0].points, (std::vector<Point>{{1, 2}, {3, 4}, {5, 6}}));
  EXPECT_EQ(r.graphs[1].points, (std::vector<Point>{{1, 3}, {3, 5}, {5, 7}}));
  EXPECT_EQ(r.graphs[0].comments, std::vector<std::string>{"--,N/A,"});
  EXPECT_TRUE(r.warnings.empty());
}

TEST(ImportTable, WideTablesAreReadTransposed) {
  std::string xs = "x", plain, titled;
  for (int k = 0; k < 40; ++k) xs += "," + std::to_string(400 + k);
  std::string a = "A", b = "B";
  for (int k = 0; k < 40; ++k) {
    a += "," + std::to_string(k);
    b += "," + std::to_string(2 * k);
  }
  const ImportResult r = importBytes(xs + "\n" + a + "\n" + b + "\n", "wide.csv");
  ASSERT_FALSE(r.refusal);
  EXPECT_NE(r.layout.find("one spectrum per row"), std::string::npos) << r.layout;
  ASSERT_EQ(r.graphs.size(), 2U);
  EXPECT_EQ(r.graphs[1].name, "B");
  ASSERT_EQ(r.graphs[1].points.size(), 40U);
  EXPECT_EQ(r.graphs[1].points[39].x, 439);
  EXPECT_EQ(r.graphs[1].points[39].y, 78);
  // Rows without titles.
  const ImportResult untitled = importBytes(xs.substr(2) + "\n" + a.substr(2) + "\n", "w.csv");
  ASSERT_EQ(untitled.graphs.size(), 1U);
  EXPECT_EQ(untitled.graphs[0].name, "w.csv, row 2");
  EXPECT_EQ(untitled.graphs[0].points.size(), 40U);
}

std::string utf16(const std::string& ascii, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    if (bigEndian) out += '\0';
    out += c;
    if (!bigEndian) out += '\0';
  }
  return out;
}

TEST(ImportTable, Utf16AndByteOrderMarksReadLikePlainText) {
  const std::string text = "Wavelength\tA\r\n500\t1,5\r\n501\t2,5\r\n";
  const ImportResult plain = importBytes(text, "u.txt");
  for (const std::string& bytes :
       {utf16(text, false), utf16(text, true), std::string("\xEF\xBB\xBF") + text}) {
    const ImportResult r = importBytes(bytes, "u.txt");
    ASSERT_FALSE(r.refusal);
    ASSERT_EQ(r.graphs.size(), 1U);
    EXPECT_EQ(r.graphs[0].name, "A");
    EXPECT_EQ(r.graphs[0].points.size(), plain.graphs[0].points.size());
    EXPECT_EQ(r.graphs[0].points[1].y, 2.5);
  }
  EXPECT_NE(importBytes(utf16(text, true), "u.txt").layout.find("UTF-16 BE"), std::string::npos);
}

TEST(ImportTable, BadInputIsRefusedWithOneReason) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "empty"},
      {std::string("\x7F"
                   "ELF\x02\x01\x01\0\0\0",
                   10),
       "binary"},
      {"just words\nand more words\n", "no rows of numbers"},
      {"\x01\x02\x03\x04\x05\x06 1 2\n", "binary"},
  };
  for (const auto& [bytes, reason] : cases) {
    const ImportResult r = importBytes(bytes, "bad");
    ASSERT_TRUE(r.refusal) << reason;
    EXPECT_NE(r.refusal->find(reason), std::string::npos) << *r.refusal;
    EXPECT_TRUE(r.graphs.empty());
  }
}

TEST(ImportTable, ATableWithoutAPointIsRefusedSayingWhy) {
  const std::pair<std::string, std::string> cases[] = {
      {"2.5 2.5 2.5\n;1\n",
       "no points: the lines of numbers mix separators (1 line with semicolon, 1 line with "
       "blanks; read with separator semicolon, decimal point)"},
      {"a;b\n;1\n;2\n;3\n1 2\n",
       "no points: the lines of numbers mix separators (3 lines with semicolon, 1 line with "
       "blanks; read with separator semicolon, decimal point)"},
      {"1 nan\n2 inf\n", "no points: 2 values are nan, inf or beyond the number range"},
      {"1 -1e999\n", "no points: 1 value is nan, inf or beyond the number range"},
      {",1\n,2\n,3\n", "no points: line 1 and 2 more rows have no x value and give no point"},
      // Decimal marks mixed within lines: only one line reads as numbers.
      {"3,5\t3,5\t2.5\n,7e2\n3,5\t3,5\t2.5\t3,5\n",
       "no points: line 2: the row has no x value and gives no point; 2 lines are not "
       "numbers with separator comma, decimal point"},
      {"x\n,1\n",
       "no points: line 2: the row has no x value and gives no point; 1 line "
       "is not numbers with separator comma, decimal point"},
  };
  for (const auto& [text, reason] : cases) {
    const ImportResult r = importBytes(text, "f.csv");
    ASSERT_TRUE(r.refusal) << text;
    EXPECT_EQ(*r.refusal, reason) << text;
    EXPECT_TRUE(r.graphs.empty()) << text;
  }
  // The summary line and a run's failure count follow the refusal.
  TempDir dir;
  writeFile(dir.file("m.txt"), "2.5 2.5 2.5\n;1\n");
  GraphStore store;
  std::size_t added = 0, failures = 0;
  const auto summary = importFiles(store, {dir.file("m.txt")}, {}, &added, &failures);
  EXPECT_EQ(summary[0], dir.file("m.txt") + ": not imported: " + cases[0].second);
  EXPECT_EQ(store.count(), 0U);
  EXPECT_EQ(failures, 1U);
}

// --- JCAMP-DX ----------------------------------------------------------------

std::string jcamp(const std::string& data, const std::string& npoints = "11") {
  return "##TITLE=test spectrum\n##JCAMP-DX=4.24\n##DATA TYPE=INFRARED SPECTRUM\n"
         "##XUNITS=1/CM\n##YUNITS=ABSORBANCE\n##XFACTOR=2\n##YFACTOR=0.5\n##FIRSTX=200\n"
         "##LASTX=220\n##DELTAX=2\n##NPOINTS=" +
         npoints + "\n##XYDATA=(X++(Y..Y))\n" + data + "##END=\n";
}

TEST(ImportJcamp, CompressedFormsImportLikeTheirAffnTwin) {
  // y: 10 12 15 15 15 20 18 18 17 16 10 at x 100..110 (times XFACTOR 2).
  const std::string affn = jcamp("100 10 12 15 15 15\n105 20 18 18 17 16\n110 10\n");
  const std::string forms[] = {
      jcamp("100A0A2A5A5A5\n105B0A8A8A7A6\n110A0\n"),             // SQZ
      jcamp("100A0KL%T\n104A5Nk%jjo\n110A0\n"),                   // DIF, DUP, check values
      jcamp("100+10+12+15+15+15\n105+20+18+18+17+16\n110+10\n"),  // PAC
      jcamp("100 10,12,15,15,15 $$ a comment\n105 20,18 18,17 16\n110 10\n"),
  };
  const ImportResult reference = importBytes(affn, "a.jdx");
  ASSERT_FALSE(reference.refusal);
  ASSERT_EQ(reference.graphs.size(), 1U);
  const std::vector<Point>& p = reference.graphs[0].points;
  ASSERT_EQ(p.size(), 11U);
  EXPECT_EQ(p[0].x, 200);
  EXPECT_EQ(p[0].y, 5);
  EXPECT_EQ(p[5].y, 10);
  EXPECT_EQ(p[10].x, 220);
  EXPECT_TRUE(reference.warnings.empty());
  EXPECT_EQ(reference.graphs[0].name, "test spectrum");
  for (const std::string& f : forms) {
    const ImportResult r = importBytes(f, "c.jdx");
    ASSERT_EQ(r.graphs.size(), 1U) << f;
    EXPECT_TRUE(r.warnings.empty()) << f << r.warnings.front();
    ASSERT_EQ(r.graphs[0].points.size(), p.size()) << f;
    for (std::size_t j = 0; j < p.size(); ++j) {
      EXPECT_EQ(r.graphs[0].points[j].x, p[j].x) << f;
      EXPECT_EQ(r.graphs[0].points[j].y, p[j].y) << f;
    }
  }
}

// A repeat (DUP) after a difference (DIF) repeats the difference, not the
// value; after a plain value it repeats the value. Each form against its
// AFFN twin, written out by hand.
TEST(ImportJcamp, RepeatsAfterDifferencesRepeatTheDifference) {
  struct Case {
    const char* what;
    std::string compressed, affn;
    const char* forms;
  };
  const Case cases[] = {
      // 10 +1 (+1 +1) +0 (+0) | check 13, -3 (-3 -3) +0 (+0)
      {"DIF then DUP, over a line end", jcamp("100A0JU%T\n105A3lU%T\n"),
       jcamp("100 10 11 12 13 13 13\n106 10 7 4 4 4\n"), "SQZ/DIF/DUP"},
      // A two-digit count: 10 +1, then the +1 nine times more.
      {"DIF then a DUP of 10", jcamp("100A0JS0\n"), jcamp("100 10 11 12 13 14 15 16 17 18 19 20\n"),
       "SQZ/DIF/DUP"},
      {"SQZ then DUP", jcamp("100A0A1A2A3U\n106A0GDU\n"),
       jcamp("100 10 11 12 13 13 13\n106 10 7 4 4 4\n"), "SQZ/DUP"},
      // A negative difference repeated, then a plain value after it.
      {"negative DIF, DUP, then SQZ", jcamp("100B0kTA0A0A0A0A0A0A0A0\n"),
       jcamp("100 20 18 16 10 10 10 10 10 10 10 10\n"), "SQZ/DIF/DUP"},
      // '@' and '%' lead digits of a positive value or difference.
      {"@ and % with digits", jcamp("100@7%3T@9%1U%0@1@2@3\n"),
       jcamp("100 7 10 13 9 10 11 12 12 1 2 3\n"), "SQZ/DIF/DUP"},
      // A line with its x alone holds no value and asks for no check.
      {"a line with only its x", jcamp("100 10 11 12 13 14\n105\n105 15 16 17 18 19\n110 20\n"),
       jcamp("100 10 11 12 13 14 15 16 17 18 19 20\n"), "AFFN"},
  };
  for (const Case& c : cases) {
    const ImportResult want = importBytes(c.affn, "a.jdx");
    ASSERT_EQ(want.graphs.size(), 1U) << c.what;
    const ImportResult got = importBytes(c.compressed, "c.jdx");
    ASSERT_FALSE(got.refusal) << c.what;
    ASSERT_EQ(got.graphs.size(), 1U) << c.what;
    EXPECT_TRUE(got.warnings.empty()) << c.what << ": " << got.warnings.front();
    EXPECT_EQ(got.layout, std::string("JCAMP-DX 4.24, XYDATA ") + c.forms) << c.what;
    ASSERT_EQ(got.graphs[0].points.size(), 11U) << c.what;
    for (std::size_t j = 0; j < 11; ++j)
      EXPECT_EQ(got.graphs[0].points[j], want.graphs[0].points[j]) << c.what << " point " << j;
  }
  // The values themselves (YFACTOR 0.5): 10 11 12 13 13 13 10 7 4 4 4.
  const ImportResult r = importBytes(cases[0].compressed, "c.jdx");
  const double halves[] = {10, 11, 12, 13, 13, 13, 10, 7, 4, 4, 4};
  for (std::size_t j = 0; j < 11; ++j)
    EXPECT_EQ(r.graphs[0].points[j], (Point{200 + 2.0 * static_cast<double>(j), halves[j] / 2}));
  // A lone '$' is no comment: the rest of its line is left out, with a note.
  const ImportResult dollar =
      importBytes(jcamp("100 10 11 12 13 14 $ 99\n105 15 16 17 18 19\n110 20\n"), "d.jdx");
  ASSERT_EQ(dollar.graphs.size(), 1U);
  EXPECT_EQ(dollar.warnings, std::vector<std::string>{"line 13: unexpected character '$'; the "
                                                      "rest of the line was left out"});
  ASSERT_EQ(dollar.graphs[0].points.size(), 11U);
  EXPECT_EQ(dollar.graphs[0].points[4].y, 7);
  EXPECT_EQ(dollar.graphs[0].points[5].y, 7.5);
  // A check value that disagrees with the repeated difference is named.
  const ImportResult bad = importBytes(jcamp("100A0JU%T\n105A4lU%T\n"), "b.jdx");
  ASSERT_EQ(bad.warnings.size(), 1U);
  EXPECT_EQ(bad.warnings[0],
            "line 14: the y check value 14 differs from the last value of the line before (13)");
}

TEST(ImportJcamp, DisagreementsImportWithAWarningNamingTheLine) {
  const ImportResult check = importBytes(jcamp("100A0KL%T\n104A6Nk%jjo\n110A0\n"), "c.jdx");
  ASSERT_EQ(check.graphs.size(), 1U);
  ASSERT_FALSE(check.warnings.empty());
  EXPECT_NE(check.warnings[0].find("line 14: the y check value"), std::string::npos)
      << check.warnings[0];
  // A file cut short: its x still follow FIRSTX, LASTX and NPOINTS.
  const ImportResult count = importBytes(jcamp("100 10 12 15 15 15\n105 20\n", "11"), "n.jdx");
  ASSERT_EQ(count.graphs.size(), 1U);
  ASSERT_EQ(count.warnings.size(), 1U);
  EXPECT_EQ(count.warnings[0], "line 12 (##XYDATA=): ##NPOINTS= says 11, 6 points were read");
  EXPECT_EQ(count.graphs[0].points.back().x, 210);
  // A line's x rounded to whole units is fine (step 2.5 here)...
  const ImportResult rounded = importBytes(
      "##TITLE=r\n##XFACTOR=1\n##FIRSTX=100\n##LASTX=115\n##NPOINTS=7\n"
      "##XYDATA=(X++(Y..Y))\n100 1 2 3\n108 4 5 6\n115 7\n##END=\n",
      "r.jdx");
  EXPECT_TRUE(rounded.warnings.empty()) << rounded.warnings.front();
  EXPECT_EQ(rounded.graphs[0].points[3].x, 107.5);
  // Without FIRSTX and LASTX the lines' own x give the step, check values
  // included.
  const ImportResult own = importBytes(
      "##TITLE=o\n##XYDATA=(X++(Y..Y))\n100A0KL%T\n104A5Nk%jjo\n110A0\n##END=\n", "o.jdx");
  ASSERT_EQ(own.graphs.size(), 1U);
  EXPECT_TRUE(own.warnings.empty()) << own.warnings.front();
  ASSERT_EQ(own.graphs[0].points.size(), 11U);
  EXPECT_EQ(own.graphs[0].points[10].x, 110);
  // ...a line whose x does not fit the step is named.
  const ImportResult x =
      importBytes(jcamp("100 10 12 15 15 15\n106 20 18 18 17 16\n110 10\n"), "x.jdx");
  ASSERT_EQ(x.warnings.size(), 1U);
  EXPECT_NE(x.warnings[0].find("line 14: the line's x 212"), std::string::npos) << x.warnings[0];
}

TEST(ImportJcamp, NonFiniteValuesGiveNoPointAndAreCounted) {
  const std::string nines(400, '9');
  struct Case {
    const char* what;
    std::string text;
    std::size_t points;
    std::size_t nonFinite;
    std::size_t at;  ///< the place of the point left out
    double x;        ///< the x of the point now there
  };
  const Case cases[] = {
      {"AFFN beyond the range", jcamp("100 10 12 15 15 15\n105 20 18 1E+999 17 16\n110 10\n"), 10,
       1, 7, 216},
      {"SQZ beyond the range", jcamp("100A0A2A5A5A5\n105B0A8A" + nines + "A7A6\n110A0\n"), 10, 1, 7,
       216},
      {"YFACTOR makes it overflow",
       "##TITLE=t\n##XFACTOR=1\n##YFACTOR=1E300\n##FIRSTX=0\n##LASTX=2\n##NPOINTS=3\n"
       "##XYDATA=(X++(Y..Y))\n0 1 1E+10 3\n##END=\n",
       2, 1, 1, 2},
      {"AFFN tiny is 0, not left out",
       jcamp("100 10 12 15 15 15\n105 20 18 1E-999 17 16\n110 10\n"), 11, 0, 7, 214},
  };
  for (const Case& c : cases) {
    const ImportResult r = importBytes(c.text, "n.jdx");
    ASSERT_FALSE(r.refusal) << c.what << ": " << *r.refusal;
    ASSERT_EQ(r.graphs.size(), 1U) << c.what;
    const std::vector<Point>& p = r.graphs[0].points;
    ASSERT_EQ(p.size(), c.points) << c.what;
    EXPECT_EQ(r.nonFinite, c.nonFinite) << c.what;
    EXPECT_EQ(p[c.at].x, c.x) << c.what;
    for (const Point& q : p) EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.y)) << c.what;
  }
  // A point table: "?" is a missing value (no point, not counted), a value
  // beyond the range is counted.
  const ImportResult table =
      importBytes("##TITLE=p\n##XYPOINTS=(XY..XY)\n1,1E+999; 2,2; 3,?\n4,4\n##END=\n", "p.jdx");
  ASSERT_EQ(table.graphs.size(), 1U);
  EXPECT_EQ(table.graphs[0].points.size(), 2U);
  EXPECT_EQ(table.graphs[0].points[1].x, 4);
  EXPECT_EQ(table.nonFinite, 1U);
  // A lone point is no number: the rest of its line is left out, with a warning.
  const ImportResult dot =
      importBytes("##TITLE=d\n##XYPOINTS=(XY..XY)\n1,1; .,5; 6,6\n2,2\n##END=\n", "d.jdx");
  ASSERT_EQ(dot.graphs.size(), 1U);
  EXPECT_EQ(dot.graphs[0].points.size(), 2U);
  EXPECT_EQ(dot.nonFinite, 0U);
  ASSERT_EQ(dot.warnings.size(), 1U);
  EXPECT_EQ(dot.warnings[0], "line 3: unexpected character '.'; the rest of the line was left out");
  // Nothing finite at all: refused, with the count.
  const ImportResult none =
      importBytes("##TITLE=n\n##XYPOINTS=(XY..XY)\n1,1E+999; 2E+999,2\n##END=\n", "n.jdx");
  ASSERT_TRUE(none.refusal);
  EXPECT_EQ(*none.refusal,
            "a JCAMP-DX file without a spectrum this reader takes (2 values were not finite)");
}

TEST(ImportJcamp, PointTablesAndLinkBlocks) {
  const std::string text =
      "##TITLE=link\n##JCAMP-DX=5.01\n##BLOCKS=2\n"
      "##TITLE=peaks\n##JCAMP-DX=5.01\n##XFACTOR=1\n##YFACTOR=10\n##NPOINTS=3\n"
      "##PEAK TABLE=(XY..XY)\n100,1; 200,2\n300,3\n##END=\n"
      "##TITLE=points\n##JCAMP-DX=5.01\n##XYPOINTS=(XY..XY)\n5 1.5 6 2.5\n##END=\n##END=\n";
  const ImportResult r = importBytes(text, "l.jdx");
  ASSERT_FALSE(r.refusal);
  ASSERT_EQ(r.graphs.size(), 2U);
  EXPECT_EQ(r.graphs[0].name, "peaks");
  ASSERT_EQ(r.graphs[0].points.size(), 3U);
  EXPECT_EQ(r.graphs[0].points[2].y, 30);
  EXPECT_EQ(r.graphs[1].name, "points");
  EXPECT_EQ(r.graphs[1].points.size(), 2U);
  EXPECT_TRUE(r.warnings.empty());
  // The link block's records go with the first graph.
  EXPECT_EQ(r.graphs[0].comments.front(), "##TITLE=link");
}

TEST(ImportJcamp, NtuplesPagesAreGraphsOfTheirOwn) {
  const std::string nmr =
      "##TITLE=nmr\n##JCAMP-DX=5.01\n##DATA TYPE=NMR SPECTRUM\n##NTUPLES=NMR SPECTRUM\n"
      "##VAR_NAME= FREQUENCY, SPECTRUM/REAL, SPECTRUM/IMAG, PAGE NUMBER\n"
      "##SYMBOL= X, R, I, N\n##VAR_DIM= 4, 4, 4, 2\n##FIRST= 100, 0, 0, 1\n"
      "##LAST= 400, 0, 0, 2\n##FACTOR= 1, 0.5, 2, 1\n"
      "##PAGE= N=1\n##DATA TABLE= (X++(R..R)), XYDATA\n100 2 4\n300 6 8\n"
      "##PAGE= N=2\n##DATA TABLE= (X++(I..I)), XYDATA\n100 1 2 3 4\n"
      "##END NTUPLES= NMR SPECTRUM\n##END=\n";
  ImportResult r = importBytes(nmr, "n.jdx");
  ASSERT_FALSE(r.refusal) << *r.refusal;
  ASSERT_EQ(r.graphs.size(), 2U);
  EXPECT_EQ(r.graphs[0].name, "nmr, N=1 (SPECTRUM/REAL)");
  EXPECT_EQ(r.graphs[0].points, (std::vector<Point>{{100, 1}, {200, 2}, {300, 3}, {400, 4}}));
  EXPECT_EQ(r.graphs[1].name, "nmr, N=2 (SPECTRUM/IMAG)");
  EXPECT_EQ(r.graphs[1].points, (std::vector<Point>{{100, 2}, {200, 4}, {300, 6}, {400, 8}}));
  EXPECT_NE(r.layout.find("NTUPLES"), std::string::npos) << r.layout;

  const std::string ms =
      "##TITLE=gc-ms\n##JCAMP-DX=5.01\n##NTUPLES=MASS SPECTRUM\n##VAR_NAME= MASS, INTENSITY, "
      "RETENTION TIME\n##SYMBOL= X, Y, T\n##FACTOR= 1, 10, 1\n"
      "##PAGE= T= 5.2\n##DATA TABLE= (XY..XY), PEAKS\n50,1 51,2\n"
      "##PAGE= T= 6.0\n##DATA TABLE= (XY..XY), PEAKS\n70,3\n##END NTUPLES=MASS SPECTRUM\n"
      "##END=\n";
  r = importBytes(ms, "m.jdx");
  ASSERT_FALSE(r.refusal) << *r.refusal;
  ASSERT_EQ(r.graphs.size(), 2U);
  EXPECT_EQ(r.graphs[1].name, "gc-ms, T= 6.0 (INTENSITY)");
  EXPECT_EQ(r.graphs[0].points, (std::vector<Point>{{50, 10}, {51, 20}}));

  // Data this reader does not take: refused naming them.
  r = importBytes("##TITLE=a\n##JCAMP-DX=5.01\n##PEAK ASSIGNMENTS=(XYMA)\n(1,2,<a>)\n##END=\n",
                  "a.jdx");
  ASSERT_TRUE(r.refusal);
  EXPECT_EQ(*r.refusal,
            "a JCAMP-DX file without a spectrum this reader takes (##PEAK ASSIGNMENTS=(XYMA) is "
            "a form this reader does not take; its data were left out)");
}

// --- into the store ------------------------------------------------------------

TEST(ImportFiles, GraphsEnterTheStoreAndSaveBesideTheExport) {
  TempDir dir;
  const std::string csv = dir.file("spectrum.csv");
  const std::string original = "x,y\n3,30\n1,10\n2,20\n";
  writeFile(csv, original);
  writeFile(dir.file("spectrum.dat"), "1 1\n");  // already there: never overwritten
  GraphStore store;
  store.append("old", "old.dat");
  std::size_t added = 0, failures = 0;
  const auto summary = importFiles(store, {csv, dir.file("missing.csv")}, {}, &added, &failures);
  ASSERT_EQ(summary.size(), 2U);
  // x out of order is read (and sorted) all the same, with a warning.
  EXPECT_EQ(summary[0], csv +
                            ": 1 graph, 3 points, separator comma, decimal point, 1 line kept "
                            "as comments; warning: line 4: the first column, taken as x, turns "
                            "back here (it is not monotonic); check that the file holds one x "
                            "column and one scan");
  EXPECT_NE(summary[1].find("not imported"), std::string::npos) << summary[1];
  EXPECT_EQ(added, 1U);
  EXPECT_EQ(failures, 1U);
  ASSERT_EQ(store.count(), 2U);
  const Graph& g = store.graph(1);
  EXPECT_EQ(g.name, "y");
  EXPECT_EQ(g.path, dir.file("spectrum (2).dat"));
  EXPECT_EQ(g.series.x(0), 1);  // sorted by x as Add Files sorts
  EXPECT_EQ(g.series.maxY(), 30);
  EXPECT_FALSE(store.undoEnabled());
  EXPECT_TRUE(writeDataFile(g.path, g).ok);
  EXPECT_EQ(test::readFile(csv), original);
  EXPECT_EQ(test::readFile(dir.file("spectrum.dat")), "1 1\n");
  EXPECT_EQ(test::readFile(g.path), "\"x,y\r\n1 10\r\n2 20\r\n3 30\r\n");
  // A second import of the same file gets the next free name.
  importFiles(store, {csv}, {}, &added, nullptr);
  EXPECT_EQ(store.graph(2).path, dir.file("spectrum (3).dat"));
}

TEST(ImportFiles, SummaryLineShowsTwentyWarningsAndCountsTheRest) {
  struct Case {
    std::size_t warnings;
    std::size_t nonFinite;
    std::string tail;
  };
  const Case cases[] = {
      {0, 0, "1 graph, 2 points, separator tab, decimal point"},
      {1, 1, ", 1 value left out (nan, inf or beyond the number range); warning: w1"},
      {20, 2, ", 2 values left out (nan, inf or beyond the number range); warning: w1"},
      {21, 0, "; warning: w20; and 1 more"},
      {1234, 1005, "; warning: w20; and 1,214 more"},
  };
  for (const Case& c : cases) {
    ImportResult r;
    r.graphs.resize(1);
    r.graphs[0].points = {{1, 2}, {2, 3}};
    r.layout = "separator tab, decimal point";
    r.nonFinite = c.nonFinite;
    for (std::size_t k = 1; k <= c.warnings; ++k) r.warnings.push_back("w" + std::to_string(k));
    const std::string line = importSummaryLine("f.txt", r);
    std::size_t shown = 0;
    for (std::size_t at = line.find("; warning: "); at != std::string::npos;
         at = line.find("; warning: ", at + 1))
      ++shown;
    EXPECT_EQ(shown, std::min<std::size_t>(c.warnings, 20)) << line;
    if (c.warnings <= 20 && c.warnings > 0) {
      EXPECT_TRUE(line.ends_with("; warning: w" + std::to_string(c.warnings))) << line;
      EXPECT_NE(line.find(c.tail), std::string::npos) << line;
    } else {
      EXPECT_TRUE(line.ends_with(c.tail)) << line;
    }
    EXPECT_EQ(line.find(", 1,005 values left out") != std::string::npos, c.nonFinite == 1005)
        << line;
  }
}

// A warning quotes the file: its control characters (a terminal's escape
// sequence, a line break) are shown, never sent as they are.
TEST(ImportFiles, SummaryLineShowsControlCharactersOfWarningsEscaped) {
  ImportResult r;
  r.graphs.resize(1);
  r.graphs[0].points = {{1, 2}};
  std::string all;
  for (int c = 0; c < 0x20; ++c) all += static_cast<char>(c);
  r.warnings = {"\x1b[2J\x7f\tend", all};
  const std::string line = importSummaryLine("f.txt", r);
  EXPECT_TRUE(std::none_of(line.begin(), line.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  })) << line;
  EXPECT_NE(line.find("; warning: \\x1B[2J\\x7F\\tend; warning: \\x00\\x01"), std::string::npos)
      << line;
  EXPECT_NE(line.find("\\x08\\t\\n\\x0B\\x0C\\r\\x0E"), std::string::npos) << line;
}

TEST(ImportFiles, TheNamePickedIsVisible) {
  const GraphStore store;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/d/spectrum.csv", "/d/spectrum.dat"},
      {"/d/.csv", "/d/csv.dat"},
      {"/d/..csv", "/d/csv.dat"},
      {"/d/run", "/d/run.dat"},
      {"/d/a.b.csv", "/d/a.b.dat"},
      {"/d/.hidden.csv", "/d/.hidden.dat"},
      {".csv", "csv.dat"},
  };
  for (const auto& [original, picked] : cases)
    EXPECT_EQ(importedGraphPath(original, store), picked) << original;
}

TEST(ImportFiles, TheNamePickedHasNoEntryAtAllAndTheFirstSaveCreatesIt) {
  TempDir dir;
  const std::string csv = dir.file("spectrum.csv");
  writeFile(csv, "1,10\n2,20\n");
  // A dangling link at the name: a save would create the file it names.
  std::filesystem::create_symlink(dir.file("elsewhere.dat"), dir.file("spectrum.dat"));
  GraphStore store;
  importFiles(store, {csv}, {}, nullptr, nullptr);
  ASSERT_EQ(store.count(), 1u);
  EXPECT_EQ(store.graph(0).path, dir.file("spectrum (2).dat"));
  EXPECT_TRUE(store.graph(0).createOnSave);
  // A link placed at the picked name after the import is not written through.
  std::filesystem::create_symlink(dir.file("planted.dat"), store.graph(0).path);
  std::vector<std::string> messages;
  EXPECT_FALSE(saveGraph(
      store, 0, [](const std::string&) { return true; },
      [&](const std::string& m) { messages.push_back(m); }));
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir.file("planted.dat")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere.dat")));
}

TEST(ImportFiles, AnExportLeftHalfWrittenIsRestoredWithAWarning) {
  TempDir dir, state;
  test::ScopedEnv env("XDG_STATE_HOME", state.path());
  const std::string csv = dir.file("spectrum.csv");
  test::interruptedSave(csv, test::numberedLines(150000, 3), test::numberedLines(220000, 7));
  GraphStore store;
  const std::vector<std::string> summary = importFiles(store, {csv}, {}, nullptr, nullptr);
  ASSERT_EQ(summary.size(), 1u);
  const std::string warning = "; warning: Restored " + csv + " from an interrupted save";
  EXPECT_NE(summary[0].find(warning), std::string::npos) << summary[0];
  ASSERT_EQ(store.count(), 1u);
  EXPECT_EQ(store.series(0).count(), 150000u);
}

TEST(ImportFiles, MoreColumnsThanFreeSlotsIsRefusedWhole) {
  TempDir dir;
  std::string line = "1";
  for (int k = 0; k < 5; ++k) line += "\t2";
  writeFile(dir.file("w.txt"), line + "\n" + line + "\n");
  GraphStore store;
  for (std::size_t i = 0; i < GraphStore::kMaxGraphs - 3; ++i) store.append("g", "g");
  std::size_t added = 0, failures = 0;
  const auto summary = importFiles(store, {dir.file("w.txt")}, {}, &added, &failures);
  EXPECT_EQ(store.count(), GraphStore::kMaxGraphs - 3);
  EXPECT_EQ(failures, 1U);
  EXPECT_NE(summary[0].find("it needs 5 graph slots and only 3 of 301 are free"), std::string::npos)
      << summary[0];
}

TEST(ImportFiles, ReloadReadsTheExportAgainTheSameWay) {
  TempDir dir;
  const std::string csv = dir.file("live.csv");
  writeFile(csv, "x;a;b\n1;1,5;10\n2;2,5;20\n");
  Session session;
  session.importFiles({csv});
  ASSERT_EQ(session.store().count(), 2U);
  EXPECT_EQ(session.store().graph(1).sourcePath, csv);
  // The instrument wrote more; "b" is selected and read again, one undoable step.
  writeFile(csv, "x;a;b\n1;1,5;10\n2;2,5;20\n3;3,5;30\n");
  session.selectOnly({1});
  std::vector<std::string> messages;
  const auto changed =
      session.reload([&](const std::string& m) { messages.push_back(m); }, nullptr);
  EXPECT_EQ(changed, std::vector<std::size_t>{1});
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(session.store().series(1).count(), 3U);
  EXPECT_EQ(session.store().series(1).maxY(), 30);
  EXPECT_EQ(session.store().series(0).count(), 2U);  // not selected
  session.undo();
  EXPECT_EQ(session.store().series(1).count(), 2U);
  // A narrower export: the graph stays and the message says why.
  writeFile(csv, "x;a\n1;1\n2;2\n");
  session.selectOnly({1});
  session.reload([&](const std::string& m) { messages.push_back(m); }, nullptr);
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_EQ(messages[0], "Cannot reload b: " + csv + " has no graph 2 now");
  EXPECT_EQ(session.store().series(1).count(), 2U);
  // The exact reader's reload without the import reader names the reason.
  reloadGraphs(session.store(), {0}, false, [&](const std::string& m) { messages.push_back(m); });
  EXPECT_EQ(messages.back(), "Cannot reload a: it was imported");
}

}  // namespace
}  // namespace varnix
