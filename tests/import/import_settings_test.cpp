#include <gtest/gtest.h>

#include "import/import_result.h"
#include "import/import_settings.h"

namespace varnix {
namespace {

ImportSettings given(const std::vector<std::string>& words) {
  std::string error;
  const std::optional<ImportSettings> s = parseImportSettings(words, error);
  EXPECT_TRUE(s) << error;
  return s.value_or(ImportSettings{});
}

TEST(ImportSettings, WordsAreReadIntoFields) {
  const ImportSettings s = given({"separator=semicolon", "decimal=comma", "skip=3", "header=4",
                                  "layout=column-pairs", "x=2", "columns=3,5-7,1", "rows=10:20:5"});
  EXPECT_EQ(s.separator, ';');
  EXPECT_EQ(s.decimal, ',');
  EXPECT_EQ(s.skipLines, 3U);
  EXPECT_EQ(s.headerRow, 4U);
  EXPECT_EQ(s.layout, ImportLayout::ColumnPairs);
  EXPECT_EQ(s.xColumn, 2U);
  EXPECT_EQ(s.columns, (std::vector<std::size_t>{3, 5, 6, 7, 1}));
  EXPECT_EQ(s.rows, (RowRange{10, 20, 5}));

  const ImportSettings none = given({"header=none", "x=none", "separator=blanks", "rows=7:"});
  EXPECT_EQ(none.headerRow, 0U);
  EXPECT_EQ(none.xColumn, 0U);
  EXPECT_EQ(none.separator, ' ');
  EXPECT_EQ(none.rows, (RowRange{7, 0, 1}));
  // "auto" is the guess, as if the key were not given.
  EXPECT_TRUE(given({"separator=auto", "rows=auto", "layout=auto"}).automatic());
  EXPECT_TRUE(given({}).automatic());
}

TEST(ImportSettings, FormattedWordsReadBackTheSame) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"separator=tab", "decimal=point"},
      {"separator=comma", "skip=0", "header=none", "layout=spectrum-per-row", "x=none"},
      {"skip=12", "header=13", "layout=stacked-scans", "columns=2,4-6,9", "rows=1:100:3"},
      {"layout=start-step", "rows=5:"},
      {"layout=first-column-x", "x=3", "columns=1-2", "rows=2:2"},
      {"layout=start-step", "start=-12.5", "step=0.001"},
      {"layout=spectrum-per-row", "labels=2"},
      {"layout=alternate-lines"},
  };
  for (const auto& words : cases) {
    const ImportSettings s = given(words);
    // The words come back as given (these are in the formatter's order).
    EXPECT_EQ(formatImportSettings(s), words);
    EXPECT_EQ(given(formatImportSettings(s)), s);
  }
}

TEST(ImportSettings, ABadWordIsNamedAndNothingIsRead) {
  struct Case {
    std::vector<std::string> words;
    const char* message;
  };
  const Case cases[] = {
      {{"sep=tab"},
       "unknown import setting \"sep=tab\" (the keys are separator, decimal, skip, header, "
       "layout, x, columns, rows, labels, start and step)"},
      {{"labels=x"}, "import setting \"labels=x\": the value should be a number of columns"},
      {{"step=0"}, "import setting \"step=0\": the value should be a number other than 0"},
      {{"start=nan"}, "import setting \"start=nan\": the value should be a number or auto"},
      {{"skip"}, "unknown import setting \"skip\""},
      {{"separator=pipe"},
       "import setting \"separator=pipe\": the value should be tab, semicolon, comma, blanks or "
       "auto"},
      {{"decimal=."}, "import setting \"decimal=.\": the value should be point, comma or auto"},
      {{"skip=-1"}, "import setting \"skip=-1\""},
      {{"skip=1.5"}, "import setting \"skip=1.5\""},
      {{"skip=99999999999"}, "import setting \"skip=99999999999\""},
      {{"skip="}, "import setting \"skip=\""},
      {{"header=0"}, "import setting \"header=0\""},
      {{"x=0"}, "import setting \"x=0\""},
      {{"layout=pairs"}, "import setting \"layout=pairs\""},
      {{"columns=0"}, "import setting \"columns=0\""},
      {{"columns=3-2"}, "import setting \"columns=3-2\""},
      {{"columns=2,"}, "import setting \"columns=2,\""},
      {{"columns=1-999999999"}, "import setting \"columns=1-999999999\""},
      {{"rows=5"}, "import setting \"rows=5\""},
      {{"rows=0:4"}, "import setting \"rows=0:4\""},
      {{"rows=5:4"}, "import setting \"rows=5:4\""},
      {{"rows=1:4:0"}, "import setting \"rows=1:4:0\""},
      {{"rows=1:4:2:1"}, "import setting \"rows=1:4:2:1\""},
      {{"rows=:4"}, "import setting \"rows=:4\""},
      {{"skip=1", "skip=2"}, "import setting \"skip=2\" repeats its key"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(parseImportSettings(c.words, error)) << c.words.back();
    EXPECT_EQ(error.rfind(c.message, 0), 0U) << error;
  }
}

TEST(ImportSettings, SettingWordsAreToldFromFileNames) {
  EXPECT_TRUE(isImportSettingWord("rows=1:2"));
  EXPECT_TRUE(isImportSettingWord("sep=tab"));  // a setting, if a wrong one
  EXPECT_FALSE(isImportSettingWord("/data/a=b.csv"));
  EXPECT_FALSE(isImportSettingWord("=x"));
  EXPECT_FALSE(isImportSettingWord("Run2=a.csv"));
  EXPECT_FALSE(isImportSettingWord("data.csv"));
}

TEST(ImportSettings, KeptTextSplitsIntoWordsAtBlanksAndTabs) {
  EXPECT_EQ(importSettingWords(" layout=pairs\tx=2   decimal=comma "),
            (std::vector<std::string>{"layout=pairs", "x=2", "decimal=comma"}));
  EXPECT_TRUE(importSettingWords(" \t ").empty());
}

TEST(ImportSettings, FormatsAreKnownByTheLastDotOfTheName) {
  struct Case {
    const char* name;
    const char* extension;
  };
  for (const Case& c : {Case{"run.SPC", "spc"}, Case{"/data/a.tar.Gz", "gz"}, Case{"plain", ""},
                        Case{"/data/v1.2/plain", ""}, Case{"dot.", ""}, Case{".hidden", "hidden"}})
    EXPECT_EQ(lowerExtension(c.name), c.extension) << c.name;
  // The name's extension tells a binary format without its magic.
  EXPECT_EQ(unreadableFormatName("xx", "/a/b.SIF"), "Andor SIF");
  EXPECT_EQ(unreadableFormatName("xx", "/a.sif/b"), "");
}

TEST(ImportSettings, RowRangesTakeTheirRows) {
  const RowRange every{2, 8, 3};
  std::vector<std::size_t> taken;
  for (std::size_t n = 1; n <= 12; ++n)
    if (every.takes(n)) taken.push_back(n);
  EXPECT_EQ(taken, (std::vector<std::size_t>{2, 5, 8}));
  EXPECT_TRUE((RowRange{4, 0, 1}).takes(1000000));
  EXPECT_FALSE((RowRange{4, 0, 1}).takes(3));
}

struct SettingsCase {
  const char* what;
  std::vector<std::string> words;
  std::string text;
  std::vector<std::string> names;
  std::vector<std::vector<Point>> graphs;
};

TEST(ImportSettings, GivenFieldsOverrideTheGuess) {
  const SettingsCase cases[] = {
      // The guess takes the comma for the separator; the user knows better.
      {"separator and decimal mark",
       {"separator=blanks", "decimal=comma"},
       "1,5 2\n2,5 3\n3,5 4\n",
       {"f.txt"},
       {{{1.5, 2}, {2.5, 3}, {3.5, 4}}}},
      // Numbers in the header would otherwise start the data.
      {"lines skipped",
       {"skip=3"},
       "100 200\n300 400\n500 600\n1 2\n2 3\n3 4\n",
       {"f.txt"},
       {{{1, 2}, {2, 3}, {3, 4}}}},
      {"header line names the graphs",
       {"header=2"},
       "# run 7\nnm;alpha;beta\n# units\n1;2;3\n2;4;5\n",
       {"alpha", "beta"},
       {{{1, 2}, {2, 4}}, {{1, 3}, {2, 5}}}},
      {"no header line",
       {"header=none"},
       "nm;alpha\n1;2\n2;4\n3;6\n",
       {"f.txt"},
       {{{1, 2}, {2, 4}, {3, 6}}}},
      {"x in the third column, two y columns",
       {"x=3", "columns=1,2"},
       "a,b,t\n5,6,0\n7,8,1\n",
       {"a", "b"},
       {{{0, 5}, {1, 7}}, {{0, 6}, {1, 8}}}},
      {"x is the row number",
       {"x=none", "columns=2"},
       "9,1\n8,2\n7,3\n",
       {"f.txt"},
       {{{0, 1}, {1, 2}, {2, 3}}}},
      // Rows counted among the data rows; the row number of x=none stays.
      {"every second row from the second",
       {"rows=2::2", "x=none", "columns=1"},
       "10\n11\n12\n13\n14\n",
       {"f.txt"},
       {{{1, 11}, {3, 13}}}},
      {"rows 2 to 3", {"rows=2:3"}, "1 1\n2 2\n3 3\n4 4\n", {"f.txt"}, {{{2, 2}, {3, 3}}}},
      // A zig-zag asked to be scans is cut wherever x turns back.
      {"stacked scans asked for",
       {"layout=stacked-scans"},
       "1 1\n3 2\n2 3\n4 4\n",
       {"f.txt, scan 1", "f.txt, scan 2"},
       {{{1, 1}, {3, 2}}, {{2, 3}, {4, 4}}}},
      // Scans the guess would find stay one curve when the user says so.
      {"one x column asked for",
       {"layout=first-column-x"},
       "1 1\n2 2\n3 3\n1 4\n2 5\n3 6\n",
       {"f.txt"},
       {{{1, 1}, {2, 2}, {3, 3}, {1, 4}, {2, 5}, {3, 6}}}},
      // A row too short to hold x gives no point.
      {"x in a column a row does not reach",
       {"x=2", "columns=1"},
       "5 1\n6\n7 3\n",
       {"f.txt"},
       {{{1, 5}, {3, 7}}}},
      // The separator is found on the lines that are data only.
      {"lines skipped do not choose the separator",
       {"skip=2"},
       "1;2\n3;4\n5,6\n7,8\n",
       {"f.txt"},
       {{{5, 6}, {7, 8}}}},
      {"one spectrum per row asked for, under an empty corner",
       {"layout=spectrum-per-row"},
       ",1,2\nA,5,6\n",
       {"A"},
       {{{1, 5}, {2, 6}}}},
      {"one spectrum per row asked for",
       {"layout=spectrum-per-row", "rows=2:"},
       "1 2 3\n10 20 30\n40 50 60\n",
       {"f.txt, row 3"},
       {{{1, 40}, {2, 50}, {3, 60}}}},
  };
  for (const SettingsCase& c : cases) {
    const ImportResult r = importTable(c.text, "f.txt", given(c.words));
    ASSERT_FALSE(r.refusal) << c.what << ": " << *r.refusal;
    ASSERT_EQ(r.graphs.size(), c.graphs.size()) << c.what;
    for (std::size_t k = 0; k < c.graphs.size(); ++k) {
      EXPECT_EQ(r.graphs[k].name, c.names[k]) << c.what;
      EXPECT_EQ(r.graphs[k].points, c.graphs[k]) << c.what << " graph " << k;
    }
  }
}

TEST(ImportSettings, TheResultSaysWhatWasGuessed) {
  const ImportResult r = importTable("# head\nnm;a;b\n1;2,5;3\n2;4;5\n", "f.txt");
  ASSERT_FALSE(r.refusal);
  EXPECT_EQ(r.settings.separator, ';');
  EXPECT_EQ(r.settings.decimal, ',');
  EXPECT_EQ(r.settings.skipLines, 0U);
  EXPECT_EQ(r.settings.headerRow, 2U);
  EXPECT_EQ(r.settings.layout, ImportLayout::FirstColumnX);
  EXPECT_EQ(r.settings.xColumn, 1U);
  EXPECT_EQ(r.settings.columns, (std::vector<std::size_t>{2, 3}));
  EXPECT_EQ(r.settings.rows, (RowRange{1, 0, 1}));
  // Read again with what was guessed, the file gives the same graphs.
  const ImportResult again = importTable("# head\nnm;a;b\n1;2,5;3\n2;4;5\n", "f.txt", r.settings);
  ASSERT_EQ(again.graphs.size(), r.graphs.size());
  for (std::size_t k = 0; k < r.graphs.size(); ++k)
    EXPECT_EQ(again.graphs[k].points, r.graphs[k].points);

  const ImportResult scans = importTable("1 1\n2 2\n3 3\n1 4\n2 5\n3 6\n", "f.txt");
  EXPECT_EQ(scans.settings.layout, ImportLayout::StackedScans);
  EXPECT_EQ(scans.settings.headerRow, 0U);
  const ImportResult one = importTable("5\n6\n7\n", "f.txt");
  EXPECT_EQ(one.settings.xColumn, 0U);
}

TEST(ImportSettings, SettingsThatCannotApplyAreToldOf) {
  // An x column beyond the table is refused; y columns beyond it are warned about.
  ImportResult r = importTable("1 2\n3 4\n", "f.txt", given({"x=3"}));
  EXPECT_EQ(r.refusal, "x is to be column 3 and the table has 2 columns");
  r = importTable("1 2\n3 4\n", "f.txt", given({"columns=2,5"}));
  ASSERT_FALSE(r.refusal);
  EXPECT_EQ(r.graphs.size(), 1U);
  EXPECT_EQ(r.warnings, std::vector<std::string>{
                            "column 5 is beyond the table's 2 columns and makes no graph"});
  // Rows beyond the table leave nothing to import.
  r = importTable("1 2\n3 4\n", "f.txt", given({"rows=5:9"}));
  EXPECT_TRUE(r.refusal);
  // A file that describes its own layout is read as it says, with a warning.
  r = importBytes("##TITLE=t\n##JCAMP-DX=4.24\n##XYPOINTS=(XY..XY)\n1,2\n##END=\n", "f.jdx",
                  kAnySlots, given({"skip=2"}));
  ASSERT_FALSE(r.refusal);
  ASSERT_FALSE(r.warnings.empty());
  EXPECT_EQ(r.warnings.front(),
            "the import settings were not used: the file describes its own layout");
}

}  // namespace
}  // namespace varnix
