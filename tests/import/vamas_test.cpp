#include <gtest/gtest.h>

#include "import/import_result.h"
#include "workspace/number_text.h"

namespace varnix {
namespace {

struct VamasBlock {
  std::string id;
  double start, step;
  std::vector<std::string> variables;
  std::vector<std::string> values;  ///< interleaved, as written
};

/// A VAMAS file of NORM experiments with REGULAR scans, written item by item
/// as the standard lays them out.
std::string vamasFile(const std::vector<VamasBlock>& blocks, const std::string& scan = "REGULAR",
                      const std::string& inclusion = "0",
                      const std::string& technique = "XPS\n0\nAl\n") {
  std::string f =
      "VAMAS Surface Chemical Analysis Standard Data Transfer Format 1988 May 4\n"
      "Lab\nInstrument\nOperator\nExperiment\n1\nexperiment note\nNORM\n" +
      scan + "\n1\n1\nEtch time\ns\n" + inclusion + "\n0\n0\n0\n" + std::to_string(blocks.size()) +
      "\n";
  for (const VamasBlock& b : blocks) {
    f += b.id + "\nsample A\n2024\n1\n2\n3\n4\n5\n0\n1\nblock note\n" + technique;
    f += "1486.6\n300\n100\n100\n45\n0\nFAT\n20\n1\n4.5\n0\n100\n100\n0\n0\nC\n1s\n-1\n";
    // Written as an instrument writes them, whatever the test's locale.
    // IRREGULAR: the abscissa is the first variable, its values in the list.
    if (scan == "REGULAR")
      f += "kinetic energy\neV\n" + formatShortest(b.start) + "\n" + formatShortest(b.step) + "\n";
    f += std::to_string(b.variables.size()) + "\n";
    for (const std::string& v : b.variables) f += v + "\nd\n";
    f += "pulse counting\n0.1\n1\n0\n0\n0\n0\n0\n";
    f += std::to_string(b.values.size()) + "\n";
    for (std::size_t v = 0; v < b.variables.size(); ++v) f += "0\n100\n";
    for (const std::string& y : b.values) f += y + "\n";
  }
  return f + "end of experiment\n";
}

TEST(ImportVamas, IonBeamTechniquesNameTheirSputteringParticle) {
  // Technique, variable value and source label, then (ion-beam techniques
  // only) the sputtering particle's three items.
  for (const std::string technique :
       {"SIMS\n0\nCs\nAr\n40\n4000\n", "SNMS energy distribution\n0\nCs\nAr\n40\n4000\n",
        "XPS\n0\nAl\n"}) {
    SCOPED_TRACE(technique);
    const ImportResult r = importBytes(
        vamasFile({{"C 1s", 10, 1, {"counts"}, {"5", "6"}}}, "REGULAR", "0", technique), "x.vms");
    ASSERT_FALSE(r.refusal) << *r.refusal;
    ASSERT_EQ(r.graphs.size(), 1U);
    EXPECT_EQ(r.graphs[0].points, (std::vector<Point>{{10, 5}, {11, 6}}));
  }
}

TEST(ImportVamas, EachBlocksEachVariableIsAGraph) {
  const std::string text =
      vamasFile({{"C 1s", 1200, 0.5, {"counts"}, {"10", "11", "12.5", "1E2"}},
                 {"O 1s", 900, -1, {"counts", "ratio"}, {"1", "0.1", "2", "0.2", "3", "0.3"}}});
  const ImportResult r = importBytes(text, "x.vms");
  ASSERT_FALSE(r.refusal) << *r.refusal;
  EXPECT_EQ(r.layout, "VAMAS, 2 blocks");
  ASSERT_EQ(r.graphs.size(), 3U);
  EXPECT_EQ(r.graphs[0].name, "C 1s");
  EXPECT_EQ(r.graphs[0].points,
            (std::vector<Point>{{1200, 10}, {1200.5, 11}, {1201, 12.5}, {1201.5, 100}}));
  EXPECT_EQ(r.graphs[1].name, "O 1s, counts");
  EXPECT_EQ(r.graphs[1].points, (std::vector<Point>{{900, 1}, {899, 2}, {898, 3}}));
  EXPECT_EQ(r.graphs[2].name, "O 1s, ratio");
  EXPECT_EQ(r.graphs[2].points, (std::vector<Point>{{900, 0.1}, {899, 0.2}, {898, 0.3}}));
  // The identifiers and comment lines stay with the first graph.
  EXPECT_EQ(r.graphs[0].comments,
            (std::vector<std::string>{"VAMAS: Lab, Instrument, Operator, Experiment",
                                      "experiment note", "block note", "block note"}));
}

TEST(ImportVamas, IrregularScansListXWithEachPoint) {
  const ImportResult r =
      importBytes(vamasFile({{"C 1s",
                              0,
                              0,
                              {"kinetic energy", "counts", "ratio"},
                              {"10", "1", "0.5", "12", "2", "nan", "11.5", "3", "0.25"}},
                             {"O 1s", 0, 0, {"kinetic energy", "counts"}, {"inf", "4", "7", "5"}}},
                            "IRREGULAR"),
                  "x.vms");
  ASSERT_FALSE(r.refusal) << *r.refusal;
  EXPECT_EQ(r.layout, "VAMAS, 2 blocks, IRREGULAR (x with each point)");
  ASSERT_EQ(r.graphs.size(), 3U);
  EXPECT_EQ(r.graphs[0].name, "C 1s, counts");
  EXPECT_EQ(r.graphs[0].points, (std::vector<Point>{{10, 1}, {12, 2}, {11.5, 3}}));
  EXPECT_EQ(r.graphs[1].points, (std::vector<Point>{{10, 0.5}, {11.5, 0.25}}));
  EXPECT_EQ(r.graphs[2].name, "O 1s");
  EXPECT_EQ(r.graphs[2].points, (std::vector<Point>{{7, 5}}));
  EXPECT_EQ(r.nonFinite, 2U);
}

TEST(ImportVamas, DamagedFilesAreRefusedWithTheReason) {
  const std::string good = vamasFile({{"C 1s", 1, 1, {"counts"}, {"1", "2", "3"}}});
  struct Case {
    const char* what;
    std::string text;
    const char* refusal;
  };
  const Case cases[] = {
      {"the identifier alone",
       "VAMAS Surface Chemical Analysis Standard Data Transfer Format 1988 May 4\n",
       "VAMAS: the file ends before its institution"},
      {"cut within the values", good.substr(0, good.find("\n2\n3\nend")),
       "VAMAS: the file ends before its ordinate values"},
      {"a huge block count",
       vamasFile({}).replace(vamasFile({}).find("\n0\nend"), 2, "\n999999999\n"),
       "VAMAS: line 18: the number of blocks (999999999) does not fit the file"},
      {"a word among the values", vamasFile({{"b", 1, 1, {"c"}, {"1", "x2"}}}),
       "VAMAS: line 70: \"x2\" is not a number"},
      {"mapping scans", vamasFile({{"b", 1, 1, {"c"}, {"1"}}}, "MAPPING"),
       "VAMAS: the scan mode MAPPING is not read (only REGULAR and IRREGULAR)"},
      {"an irregular block without a variable", vamasFile({{"b", 1, 1, {"x"}, {"1"}}}, "IRREGULAR"),
       "VAMAS: line 51: an IRREGULAR block needs its abscissa and one variable at least"},
      {"an inclusion list", vamasFile({{"b", 1, 1, {"c"}, {"1"}}}, "REGULAR", "-2"),
       "VAMAS: blocks that leave out items (a parameter inclusion list) are not read"},
      {"no block", vamasFile({}), "the VAMAS file holds no block"},
      {"nothing but nan", vamasFile({{"b", 1, 1, {"c"}, {"nan", "inf"}}}),
       "the VAMAS blocks hold no point"},
  };
  for (const Case& c : cases) {
    const ImportResult r = importBytes(c.text, "x.vms");
    EXPECT_EQ(r.refusal.value_or("(imported)"), c.refusal) << c.what;
    EXPECT_TRUE(r.graphs.empty()) << c.what;
  }
  // Blanks around an item are no part of it.
  const ImportResult padded =
      importBytes(vamasFile({{"b", 5, 1, {"c"}, {"  1", "\t2 ", " 3\t"}}}), "x.vms");
  ASSERT_FALSE(padded.refusal) << *padded.refusal;
  EXPECT_EQ(padded.graphs.at(0).points, (std::vector<Point>{{5, 1}, {6, 2}, {7, 3}}));
  // nan among numbers gives no point and is counted.
  const ImportResult r = importBytes(vamasFile({{"b", 5, 1, {"c"}, {"1", "NaN", "3"}}}), "x.vms");
  ASSERT_FALSE(r.refusal);
  EXPECT_EQ(r.nonFinite, 1U);
  EXPECT_EQ(r.graphs.at(0).points, (std::vector<Point>{{5, 1}, {7, 3}}));
  // More graphs than free slots: refused before the values are read.
  const ImportResult full =
      importBytes(vamasFile({{"a", 1, 1, {"c", "d"}, {"1", "2"}}}), "x.vms", 1);
  EXPECT_EQ(full.refusal.value_or(""),
            "it needs 2 graph slots and only 1 of 301 are free (or more: the file has 1 blocks)");
}

}  // namespace
}  // namespace varnix
