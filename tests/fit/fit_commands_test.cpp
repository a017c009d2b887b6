#include "fit/fit_commands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "fit/peak_functions.h"
#include "test_util.h"
#include "workspace/error.h"

namespace varnix {
namespace {

const double kInf = std::numeric_limits<double>::infinity();

struct ArgumentCase {
  std::string text;
  double start, lower, upper;
  bool fixed;
};

TEST(FitCommands, ParameterArgumentsReadStartsAndBounds) {
  const FitModel model("a*x + b + c");
  const std::vector<ArgumentCase> cases = {
      {"a=1.5", 1.5, -kInf, kInf, false}, {"a=-2:-3:4e1", -2, -3, 40, false},
      {"a=2::5", 2, -kInf, 5, false},     {"a=2:1:", 2, 1, kInf, false},
      {"a=3:3:3", 3, 3, 3, true},
  };
  for (const ArgumentCase& c : cases) {
    SCOPED_TRACE(c.text);
    FitSettings s;
    readParameterArgument(model, c.text, s);
    ASSERT_EQ(s.parameters.size(), 3u);
    const ParameterSetting& p = s.parameters[0];
    EXPECT_EQ(*p.start, c.start);
    EXPECT_EQ(p.lower, c.lower);
    EXPECT_EQ(p.upper, c.upper);
    EXPECT_EQ(p.fixed, c.fixed);
    EXPECT_FALSE(s.parameters[1].start);
    // The text written for the history reads back the same.
    FitSettings again;
    readParameterArgument(model, parameterArgumentText("a", p), again);
    EXPECT_EQ(*again.parameters[0].start, c.start);
    EXPECT_EQ(again.parameters[0].lower, c.lower);
    EXPECT_EQ(again.parameters[0].upper, c.upper);
  }
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"a", "Not a parameter start: a (write NAME=START or NAME=START:LOW:HIGH)"},
      {"=1", "Not a parameter start: =1 (write NAME=START or NAME=START:LOW:HIGH)"},
      {"a=1:2", "Not a parameter start: a=1:2 (write NAME=START or NAME=START:LOW:HIGH)"},
      {"a=1:2:3:4", "Not a parameter start: a=1:2:3:4 (write NAME=START or NAME=START:LOW:HIGH)"},
      {"a=x", "The start of a is not a number: a=x"},
      {"a=", "The start of a is not a number: a="},
      {"a=1:y:2", "The lower bound of a is not a number: a=1:y:2"},
      {"a=1:0:2,5", "The upper bound of a is not a number: a=1:0:2,5"},
      {"d=1", "d is not a parameter of the formula a*x + b + c"},
      {"x=1", "x is not a parameter of the formula a*x + b + c"},
  };
  for (const auto& [text, message] : refused) {
    SCOPED_TRACE(text);
    FitSettings s;
    try {
      readParameterArgument(model, text, s);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
  FitSettings twice;
  readParameterArgument(model, "b=1", twice);
  EXPECT_THROW(readParameterArgument(model, "b=2", twice), Error);
}

/// A store of Gaussians on a base, one graph per centre.
GraphStore gaussians(const std::vector<double>& centres) {
  GraphStore store;
  for (std::size_t g = 0; g < centres.size(); ++g) {
    std::vector<Point> pts;
    for (int i = 0; i <= 400; ++i) {
      const double x = i * 0.025;
      pts.push_back({x, 2 + gaussValue(x, 10, centres[g], 0.8) + 0.05 * std::sin(91.3 * x)});
    }
    test::addGraph(store, "T" + std::to_string(10 * (g + 1)) + "K.dat", pts);
  }
  return store;
}

FitSettings gaussStarts(double centre) {
  FitSettings s;
  s.parameters = {{8}, {centre}, {1}, {0}};
  return s;
}

TEST(FitCommands, EachGraphFromTheStartOrChainedFromTheOneBefore) {
  const GraphStore store = gaussians({3, 3, 3});
  auto model = std::make_shared<const FitModel>("gauss(x,h,c,w) + base");
  const FitTable separate = fitGraphs(store, {0, 1, 2}, model, gaussStarts(2.5), false);
  const FitTable chained = fitGraphs(store, {0, 1, 2}, model, gaussStarts(2.5), true);
  ASSERT_EQ(separate.rows.size(), 3u);
  ASSERT_EQ(chained.rows.size(), 3u);
  // The same data: the separate fits all take the first one's path, the
  // chained ones after the first start at its result and have nothing left
  // to do.
  for (int g = 0; g < 3; ++g) {
    ASSERT_TRUE(separate.rows[g].result.converged);
    ASSERT_TRUE(chained.rows[g].result.converged);
    EXPECT_EQ(separate.rows[g].result.iterations, separate.rows[0].result.iterations);
    EXPECT_NEAR(chained.rows[g].result.values[1], separate.rows[g].result.values[1], 1e-9);
  }
  EXPECT_GT(chained.rows[0].result.iterations, 2u);
  EXPECT_LE(chained.rows[1].result.iterations, 1u);
  EXPECT_LE(chained.rows[2].result.iterations, 1u);
  EXPECT_EQ(chained.rows[1].slot, 1u);
  EXPECT_EQ(chained.rows[1].name, "T20K.dat");
}

TEST(FitCommands, ChainedFitsFollowAPeakThatMovesAway) {
  // A narrow peak walks by a width per graph: from the first start the
  // later graphs lie out of reach, from the graph before they do not.
  const GraphStore store = gaussians({2, 2.7, 3.4, 4.1, 4.8});
  auto model = std::make_shared<const FitModel>("gauss(x,h,c,w) + base");
  const FitTable chained = fitGraphs(store, {0, 1, 2, 3, 4}, model, gaussStarts(2), true);
  const double centres[] = {2, 2.7, 3.4, 4.1, 4.8};
  for (int g = 0; g < 5; ++g) {
    ASSERT_TRUE(chained.rows[g].result.converged);
    EXPECT_NEAR(chained.rows[g].result.values[1], centres[g], 1e-3);
  }
}

TEST(FitCommands, AChainedSeriesOutlivesAnEmptyAndAForeignSpectrum) {
  // An empty spectrum determines no peak, and a foreign one (its peak far
  // off and narrow) leads the next start astray: the spectra after either
  // are fitted as if they were not there.
  const std::vector<double> centres = {3, 3.1, 3.2, 3.3, 3.4, 8.5, 3.6, 3.7};
  GraphStore store = gaussians(centres);
  for (Point& p : store.series(2).points()) p.y = 0;
  for (Point& p : store.series(5).points())
    p.y = 2 + gaussValue(p.x, 10, 8.5, 0.3) + 0.05 * std::sin(91.3 * p.x);
  auto model = std::make_shared<const FitModel>("gauss(x,h,c,w) + base");
  const FitTable t = fitGraphs(store, {0, 1, 2, 3, 4, 5, 6, 7}, model, gaussStarts(3), true);
  ASSERT_EQ(t.rows.size(), 8u);
  for (std::size_t g : {0, 1, 3, 4, 6, 7}) {
    SCOPED_TRACE(g);
    ASSERT_TRUE(t.rows[g].result.converged) << t.rows[g].result.failure;
    EXPECT_NEAR(t.rows[g].result.values[1], centres[g], 1e-3);
  }
  EXPECT_TRUE(t.rows[2].result.undetermined);
  EXPECT_EQ(fitResultLine(t, t.rows[0]).substr(fitResultLine(t, t.rows[0]).find(" start=")),
            " start=given status=converged");
  // The graph after the empty one starts from the one before that.
  EXPECT_EQ(t.rows[2].startSlot, 1u);
  EXPECT_EQ(t.rows[3].startSlot, 1u);
  EXPECT_EQ(t.rows[4].startSlot, 3u);
}

TEST(FitCommands, AChainedStartAGraphCannotTakeFailsThatGraphOnly) {
  // y = 2 sqrt(x - 4) on 5..10, then the same on 0..10: from the first
  // result (c near 4) the second graph's model is NaN below x = 4.
  GraphStore store;
  std::vector<Point> right, wide;
  for (int i = 0; i <= 50; ++i) right.push_back({5 + 0.1 * i, 2 * std::sqrt(1 + 0.1 * i)});
  for (int i = 0; i <= 100; ++i) wide.push_back({0.1 * i, i > 40 ? 2 * std::sqrt(0.1 * i - 4) : 0});
  test::addGraph(store, "right", right);
  test::addGraph(store, "wide", wide);
  test::addGraph(store, "again", right);
  auto model = std::make_shared<const FitModel>("a*sqrt(x - c)");
  FitSettings s;
  s.parameters = {{1}, {3}};
  const FitTable t = fitGraphs(store, {0, 1, 2}, model, s, true);
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_TRUE(t.rows[0].result.converged);
  EXPECT_NEAR(t.rows[0].result.values[1], 4, 1e-9);
  EXPECT_FALSE(t.rows[1].result.converged);
  EXPECT_EQ(t.rows[1].result.failure, "the model is not finite at the start at x = 0 in wide");
  EXPECT_TRUE(std::isnan(t.rows[1].result.chi2));
  // The third starts from the last result that converged.
  EXPECT_TRUE(t.rows[2].result.converged);
  EXPECT_LE(t.rows[2].result.iterations, 1u);
  EXPECT_EQ(t.convergedRows().size(), 2u);
}

TEST(FitCommands, BadInputInAnyGraphRefusesTheRunBeforeAFit) {
  GraphStore store = gaussians({3});
  test::addGraph(store, "few", {{1, 1}, {2, 2}, {3, 3}});
  auto model = std::make_shared<const FitModel>("gauss(x,h,c,w) + base");
  try {
    fitGraphs(store, {0, 1}, model, gaussStarts(3), false);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "There are 3 points between x = -inf and inf in few, fewer than the 4 free "
              "parameters");
  }
  // The settings are checked also without a graph to fit.
  FitSettings noStart = gaussStarts(3);
  noStart.parameters[0].start.reset();
  EXPECT_THROW(fitGraphs(store, {}, model, noStart, false), Error);
  FitSettings range = gaussStarts(3);
  range.x1 = 20;
  range.x2 = 30;
  EXPECT_THROW(fitGraphs(store, {0}, model, range, true), Error);
  // A chained graph after the first is checked for its points, not for
  // its start (that comes from the graph before).
  FitSettings nan = gaussStarts(3);
  nan.parameters[2].start = 0;  // w = 0: NaN at the start
  EXPECT_THROW(fitGraphs(store, {0}, model, nan, true), Error);
}

TEST(FitCommands, ResultLineHasTheExactFormat) {
  FitTable table;
  table.model = std::make_shared<const FitModel>("a + b*x");
  FitRow row;
  row.slot = 4;
  row.name = "T010K.dat";
  row.result.values = {1.5, 0.1};
  row.result.errors = {0.25, std::nan("")};
  row.result.chi2 = 12.75;
  row.result.dof = 98;
  row.result.r2 = 0.9990234375;
  row.result.iterations = 7;
  row.result.converged = true;
  EXPECT_EQ(fitResultLine(table, row),
            "fit 4 T010K.dat: a=1.5 a.err=0.25 b=0.1 b.err=nan chi2=12.75 dof=98 "
            "r2=0.9990234375 iterations=7 status=converged");
  row.result.converged = false;
  row.result.failure = "no convergence within 2000 iterations";
  EXPECT_EQ(fitResultLine(table, row).substr(fitResultLine(table, row).find("status")),
            "status=failed: no convergence within 2000 iterations");
}

TEST(FitCommands, TableTextTakesTheParameterFromTheNames) {
  const GraphStore store = gaussians({3, 3.2});
  auto model = std::make_shared<const FitModel>("gauss(x,h,c,w) + base");
  FitTable table = fitGraphs(store, {0, 1}, model, gaussStarts(3), false);
  const std::string text = fitTableText(table, nullptr);
  const std::size_t firstLine = text.find("\r\n");
  EXPECT_EQ(text.substr(0, firstLine),
            "\"parameter h h.err c c.err w w.err base base.err chi2 r2 status");
  // Two data lines, each of 12 numbers, the first being the digits.
  const std::string second =
      text.substr(firstLine + 2, text.find("\r\n", firstLine + 2) - firstLine - 2);
  EXPECT_EQ(second.substr(0, 3), "10 ");
  EXPECT_EQ(std::count(second.begin(), second.end(), ' '), 11);
  EXPECT_TRUE(second.ends_with(" 1"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
  const SeriesParameter pattern("T(\\d+)K");
  EXPECT_EQ(fitTableText(table, &pattern).substr(firstLine + 2, 3), "10 ");
  const SeriesParameter noMatch("X(\\d+)");
  EXPECT_THROW(fitTableText(table, &noMatch), Error);
  // Names without digits: the slots.
  table.rows[0].name = "a";
  table.rows[1].name = "b";
  const std::string bySlot = fitTableText(table, nullptr);
  EXPECT_EQ(bySlot.substr(0, 6), "\"slot ");
  EXPECT_NE(bySlot.find("\r\n1 "), std::string::npos);
  // Every fit has its row, with its status; the reason of one that did not
  // converge on a comment line before it.
  table.rows[0].result.converged = false;
  table.rows[0].result.undetermined = true;
  table.rows[0].result.failure = "the data do not determine c";
  table.rows[1].result.converged = false;
  table.rows[1].name = "b\nc";
  table.rows[1].result.failure = "no convergence within 2000 iterations";
  // The rows as before but for the status (the last two characters "1").
  std::vector<std::string> lines;
  for (std::size_t at = 0, next; (next = bySlot.find("\r\n", at)) != std::string::npos;
       at = next + 2)
    lines.push_back(bySlot.substr(at, next - at));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(fitTableText(table, nullptr),
            lines[0] + "\r\n\"slot 0 a: undetermined: the data do not determine c\r\n" +
                lines[1].substr(0, lines[1].size() - 2) +
                " 0\r\n\"slot 1 b c: failed: no convergence within 2000 iterations\r\n" +
                lines[2].substr(0, lines[2].size() - 2) + " -1\r\n");
  EXPECT_THROW(fitTableText(FitTable(), nullptr), Error);
}

/// Both graphs of the store fitted with a Gaussian on a constant between x1
/// and x2, the second graph's file in /data/run.
FitTable fitBothIn(GraphStore& store, double start, double x1, double x2) {
  store.graph(1).path = "/data/run/T20K.dat";
  auto model = std::make_shared<const FitModel>("gauss(x,h,c,w) + base");
  FitSettings s = gaussStarts(start);
  s.x1 = x1;
  s.x2 = x2;
  return fitGraphs(store, {0, 1}, model, s, false);
}

TEST(FitCommands, CurvesAndResidualsBecomeNewGraphs) {
  GraphStore store = gaussians({3, 3.5});
  // The range given backwards is the same range.
  const FitTable table = fitBothIn(store, 3.2, 6, 1);
  const std::vector<std::size_t> curves = addFitGraphs(store, table, false);
  const std::vector<std::size_t> residuals = addFitGraphs(store, table, true);
  EXPECT_EQ(curves, (std::vector<std::size_t>{2, 3}));
  EXPECT_EQ(residuals, (std::vector<std::size_t>{4, 5}));
  EXPECT_EQ(store.graph(3).name, "T20K_fit.dat");
  EXPECT_EQ(store.graph(3).path, "/data/run/T20K_fit.dat");
  EXPECT_EQ(store.graph(5).name, "T20K_residual.dat");
  for (int g = 0; g < 2; ++g) {
    const std::vector<double>& v = table.rows[g].result.values;
    const Series& data = store.series(g);
    const Series& fit = store.series(2 + g);
    const Series& res = store.series(4 + g);
    ASSERT_EQ(fit.count(), 201u);  // x from 1 to 6 on a 0.025 grid
    EXPECT_EQ(fit.x(0), 1);
    for (std::size_t j = 0; j < fit.count(); ++j) {
      const double model = gaussValue(fit.x(j), v[0], v[1], v[2]) + v[3];
      EXPECT_NEAR(fit.y(j), model, 1e-12 * std::fabs(model));
      EXPECT_NEAR(res.y(j), data.y(j + 40) - fit.y(j), 1e-12);
    }
  }
  // The fitted graph is gone: refused.
  store.removeGraphSlot(0);
  EXPECT_THROW(addFitGraphs(store, table, false), Error);
}

TEST(FitCommands, ComponentsAreTheFormulasPartsAtTheFittedValues) {
  GraphStore store = gaussians({3, 3.5});
  const FitTable table = fitBothIn(store, 3, 1, 6);
  // Parts that do not make the fitted formula, or only one part, add nothing.
  for (const std::vector<std::string>& parts :
       {std::vector<std::string>{"gauss(x,h,c,w)", "base*1"},
        std::vector<std::string>{"base", "gauss(x,h,c,w)"},
        std::vector<std::string>{"gauss(x,h,c,w) + base"}}) {
    EXPECT_THROW(addFitComponentGraphs(store, table, parts), Error) << parts[0];
    EXPECT_EQ(store.count(), 2u);
  }
  const std::vector<std::size_t> added =
      addFitComponentGraphs(store, table, {"gauss(x,h,c,w)", "base"});
  EXPECT_EQ(added, (std::vector<std::size_t>{2, 3, 4, 5}));
  EXPECT_EQ(store.graph(4).name, "T20K_part1.dat");
  EXPECT_EQ(store.graph(5).path, "/data/run/T20K_part2.dat");
  for (int g = 0; g < 2; ++g) {
    const std::vector<double>& v = table.rows[g].result.values;
    const Series& peak = store.series(2 + 2 * g);
    const Series& base = store.series(3 + 2 * g);
    ASSERT_EQ(peak.count(), 201u);
    for (std::size_t j = 0; j < peak.count(); j += 10) {
      EXPECT_NEAR(peak.y(j), gaussValue(peak.x(j), v[0], v[1], v[2]), 1e-12);
      EXPECT_EQ(base.y(j), v[3]);
    }
  }
}

TEST(FitCommands, NewGraphsRespectTheCapacity) {
  GraphStore store = gaussians({3, 3});
  auto model = std::make_shared<const FitModel>("gauss(x,h,c,w) + base");
  const FitTable table = fitGraphs(store, {0, 1}, model, gaussStarts(3), false);
  while (store.count() < GraphStore::kMaxGraphs - 1) store.append("filler", "");
  try {
    addFitGraphs(store, table, false);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot add 2 graphs: only 1 of 301 graph slots are free");
  }
  EXPECT_EQ(store.count(), GraphStore::kMaxGraphs - 1);
}

}  // namespace
}  // namespace varnix
