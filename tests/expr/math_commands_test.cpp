#include "expr/math_commands.h"

#include "expr/expression.h"

#include <gtest/gtest.h>

#include <cmath>

#include "test_util.h"
#include "workspace/error.h"

namespace varnix {
namespace {

using test::addGraph;
using test::select;
using test::xs;
using test::ys;

TEST(MathOnYX, FormulasSeeTheOldCoordinates) {
  struct Case {
    const char* xf;
    const char* yf;
    std::vector<Point> after;
  };
  const Case cases[] = {
      {"x", "y", {{1, 2}, {3, 4}}},
      {"y", "x", {{2, 1}, {4, 3}}},
      {"x+1", "y*x", {{2, 2}, {4, 12}}},
      {"x", "", {{1, 0}, {3, 0}}},
      {"-x", "ln(y)", {{-1, std::log(2.0)}, {-3, std::log(4.0)}}},
  };
  for (const Case& c : cases) {
    GraphStore store;
    addGraph(store, "a", {{1, 2}, {3, 4}});
    addGraph(store, "b", {{1, 2}, {3, 4}});
    mathOnYX(store, select({0}, 1), c.xf, c.yf);
    EXPECT_EQ(store.series(0).points(), c.after) << c.xf << " ; " << c.yf;
    EXPECT_EQ(store.series(1).points(), (std::vector<Point>{{1, 2}, {3, 4}})) << "not selected";
    EXPECT_TRUE(store.graph(0).undoMark);
    EXPECT_FALSE(store.graph(1).undoMark);
    EXPECT_TRUE(store.undoEnabled());
  }
}

TEST(MathOnYX, NoSelectionEmptyGraphsAndCancel) {
  GraphStore store;
  mathOnYX(store, {}, "x", "y");
  mathOnYXCancelled(store);
  EXPECT_FALSE(store.undoEnabled());
  addGraph(store, "empty", std::vector<Point>{});
  addGraph(store, "a", {{1, 1}});
  mathOnYX(store, select({}, 1), "x", "2*y");  // no row selected: nothing changes
  EXPECT_EQ(store.series(1).y(0), 1);
  EXPECT_TRUE(store.undoEnabled());
  store.setUndoEnabled(false);
  mathOnYX(store, select({0}), "x", "y");
  EXPECT_TRUE(store.graph(0).undoMark);
  EXPECT_TRUE(store.graph(0).undoCopy.empty());
  store.setUndoEnabled(false);
  mathOnYXCancelled(store);
  EXPECT_TRUE(store.undoEnabled());
}

TEST(MathOnYX, ErrorsStopWhereTheyHappen) {
  GraphStore store;
  addGraph(store, "a", {{1, 2}, {2, 3}});
  addGraph(store, "b", {{1, 2}, {2, -1}, {3, 5}});
  addGraph(store, "c", {{1, 1}});
  // A conversion error touches nothing.
  EXPECT_THROW(mathOnYX(store, select({0, 1, 2}), "x+", "y"), Error);
  EXPECT_FALSE(store.graph(0).undoMark);
  EXPECT_FALSE(store.undoEnabled());
  // ln(y) faults at b's second point: a is done, b half done, c untouched.
  EXPECT_EQ(test::errorOf([&] {
              mathOnYX(store, select({0, 1, 2}), "x", "ln(y)");
            }),
            "Invalid floating point operation");
  EXPECT_EQ(ys(store.series(0)), (std::vector<double>{std::log(2.0), std::log(3.0)}));
  EXPECT_EQ(ys(store.series(1)), (std::vector<double>{std::log(2.0), -1, 5}));
  EXPECT_EQ(store.graph(1).undoCopy, (std::vector<Point>{{1, 2}, {2, -1}, {3, 5}}));
  EXPECT_FALSE(store.graph(2).undoMark);
  EXPECT_FALSE(store.undoEnabled());
  // The x formula fails after the new y is stored.
  GraphStore s2;
  addGraph(s2, "a", {{0, 1}});
  EXPECT_THROW(mathOnYX(s2, select({0}), "1/x", "y+1"), Error);
  EXPECT_EQ(s2.series(0).points(), (std::vector<Point>{{0, 2}}));
}

TEST(SimpleMathOnY, Table) {
  struct Case {
    std::vector<std::size_t> rows;
    std::size_t current;
    const char *b, *a, *c, *d;
    std::vector<double> firstY;  // y of point 0 of every slot after the command
    bool applied;
  };
  const Case cases[] = {
      {{2, 5, 9}, 0, "1", "0", "10", "0", {1, 1, 1, 1, 1, 11, 1, 1, 1, 21}, true},
      {{2, 5}, 0, "1", "0", "0", "1", {1, 1, 1, 1, 1, 2, 1, 1, 1, 1}, true},
      {{7}, 3, "2", "1", "10", "10", {1, 1, 1, 3, 1, 1, 1, 1, 1, 1}, true},
      {{}, 4, "-1", "0.5", "0", "0", {1, 1, 1, 1, -0.5, 1, 1, 1, 1, 1}, true},
      {{0, 1}, 0, "1", "", "0", "0", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, false},
      {{0, 1}, 0, "1", "x", "0", "0", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, false},
      {{0, 1}, 0, "1e0", "-.5", "0", "0", {0.5, 0.5, 1, 1, 1, 1, 1, 1, 1, 1}, true},
  };
  for (const Case& c : cases) {
    GraphStore store;
    for (int i = 0; i < 10; ++i) addGraph(store, "g", {{0, 1}, {1, 1}});
    Selection sel;
    sel.rows = c.rows;
    sel.current = c.current;
    EXPECT_EQ(simpleMathOnY(store, sel, c.b, c.a, c.c, c.d), c.applied);
    for (std::size_t g = 0; g < 10; ++g) EXPECT_EQ(store.series(g).y(0), c.firstY[g]) << g;
    EXPECT_EQ(store.undoEnabled(), c.applied);
  }
}

TEST(SimpleMathOnY, DefaultsMarkAndOverflowKeepsTheUndoCopy) {
  GraphStore store;
  addGraph(store, "a", {{0, 1}, {1, 2}});
  EXPECT_TRUE(simpleMathOnY(store, select({}, 0), "1", "0", "0", "0"));
  EXPECT_EQ(ys(store.series(0)), (std::vector<double>{1, 2}));
  EXPECT_TRUE(store.graph(0).undoMark);
  store.setUndoEnabled(false);
  addGraph(store, "b", {{0, 1}, {1, 1e10}});
  EXPECT_EQ(test::errorOf([&] {
              simpleMathOnY(store, select({0, 1}), "1e300", "0", "0", "0");
            }),
            "Floating point overflow");
  EXPECT_EQ(ys(store.series(1)), (std::vector<double>{1e300, 1e10}));
  EXPECT_EQ(store.graph(1).undoCopy, (std::vector<Point>{{0, 1}, {1, 1e10}}));
  EXPECT_FALSE(store.undoEnabled());
  GraphStore empty;
  EXPECT_FALSE(simpleMathOnY(empty, {}, "1", "0", "0", "0"));
}

TEST(SimpleMathOnX, MirrorsWithoutResorting) {
  GraphStore store;
  addGraph(store, "a", {{1, 10}, {2, 20}, {3, 30}});
  EXPECT_TRUE(simpleMathOnX(store, select({}, 0), "-1", "0"));
  EXPECT_EQ(xs(store.series(0)), (std::vector<double>{-1, -2, -3}));
  EXPECT_EQ(ys(store.series(0)), (std::vector<double>{10, 20, 30}));
  EXPECT_EQ(store.series(0).minX(), -3);
  EXPECT_TRUE(store.undoEnabled());
  EXPECT_FALSE(simpleMathOnX(store, select({}, 0), "2", "a"));
}

TEST(MathOnGraphs, InterpolationTable) {
  struct Case {
    char op;
    std::vector<Point> selected;
    std::vector<double> after;
  };
  const std::vector<Point> pts = {{2.5, 1}, {5, 1}};
  const Case cases[] = {
      {'+', pts, {3.5, 6}},
      {'-', pts, {-1.5, -4}},
      {'*', pts, {2.5, 5}},
      {'/', pts, {0.4, 0.2}},
      {'+', {{-5, 0}, {20, 0}}, {-5, 20}},
  };
  for (const Case& c : cases) {
    GraphStore store;
    addGraph(store, "second", {{0, 0}, {10, 10}});
    addGraph(store, "sel", c.selected);
    std::vector<std::string> messages;
    mathOnGraphs(store, select({1}), c.op, 0, [&](const std::string& m) { messages.push_back(m); });
    std::vector<double> got = ys(store.series(1));
    ASSERT_EQ(got.size(), c.after.size());
    for (std::size_t j = 0; j < got.size(); ++j) EXPECT_DOUBLE_EQ(got[j], c.after[j]) << c.op;
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(store.graph(1).undoMark);
    EXPECT_FALSE(store.graph(0).undoMark);
  }
}

TEST(MathOnGraphs, ZeroDenominatorsAndMessages) {
  GraphStore store;
  addGraph(store, "second", {{0, 1}, {1, 0}, {2, 1}});
  addGraph(store, "a", {{0, 4}, {1, 5}, {2, 6}});
  addGraph(store, "b", {{0.5, 1}, {1, 7}});
  addGraph(store, "c", {{0, 2}});
  std::vector<std::string> messages;
  auto msg = [&](const std::string& m) { messages.push_back(m); };
  mathOnGraphs(store, select({1, 2, 3}), '/', 0, msg);
  EXPECT_EQ(ys(store.series(1)), (std::vector<double>{4, 5, 6}));
  EXPECT_EQ(ys(store.series(2)), (std::vector<double>{2, 7}));
  EXPECT_EQ(ys(store.series(3)), (std::vector<double>{2}));
  EXPECT_EQ(messages,
            (std::vector<std::string>{"Zero denominators!-corresponding values left unmodified",
                                      "Zero denominators!-corresponding values left unmodified"}));
  messages.clear();
  mathOnGraphs(store, select({1}), '+', {}, msg);
  EXPECT_EQ(messages, std::vector<std::string>{"Second graph not selected"});
  messages.clear();
  mathOnGraphs(store, select({1}), '+', 3, msg);  // one point: refused
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(ys(store.series(1)), (std::vector<double>{4, 5, 6}));
  messages.clear();
  store.setUndoEnabled(false);
  mathOnGraphs(store, select({1}), std::nullopt, 0, msg);  // no operation chosen
  EXPECT_EQ(ys(store.series(1)), (std::vector<double>{4, 5, 6}));
  mathOnGraphsFinished(store);
  EXPECT_TRUE(store.undoEnabled());
}

TEST(MathOnGraphs, TheSecondGraphMayBeSelected) {
  GraphStore store;
  addGraph(store, "low", {{0, 1}, {1, 1}, {2, 1}});
  addGraph(store, "second", {{0, 1}, {1, 2}, {2, 3}});
  addGraph(store, "high", {{0, 1}, {1, 1}, {2, 1}});
  mathOnGraphs(store, select({0, 1, 2}), '+', 1, {});
  EXPECT_EQ(ys(store.series(0)), (std::vector<double>{2, 3, 4}));  // old values
  EXPECT_EQ(ys(store.series(1)), (std::vector<double>{2, 4, 6}));  // doubled
  EXPECT_EQ(ys(store.series(2)), (std::vector<double>{3, 5, 7}));  // new values
}

TEST(MathOnGraphs, EqualXInTheSecondGraphFaultsForSums) {
  GraphStore store;
  addGraph(store, "second", {{1, 0}, {1, 5}, {2, 1}});
  addGraph(store, "a", {{0, 1}, {3, 1}});
  EXPECT_THROW(mathOnGraphs(store, select({1}), '+', 0, {}), Error);
  EXPECT_TRUE(store.graph(1).undoMark);
  EXPECT_EQ(store.graph(1).undoCopy, (std::vector<Point>{{0, 1}, {3, 1}}));
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

// Evaluating in blocks gives exactly what evaluating point by point gives,
// also where a point in the middle faults.
TEST(MathOnYX, BlocksAgreeWithPointByPoint) {
  const char* formulas[][2] = {
      {"x", "ln(y)"}, {"1/x", "y+1"},   {"x+1", "y/(x-3)"},     {"ln(x)", "exp(y)"},
      {"y", "x"},     {"x*1e300", "y"}, {"acos(y)", "asin(x)"}, {"x^y", "ctg(y)"},
      {"x y", "y"},   {"x", "1e999"},   {"fil(x)", "abs(y)"},   {"sin(x)*y+1", "x^2+2*x*y-ln(y)"},
  };
  std::vector<Point> base;
  for (int i = 0; i < 700; ++i) base.push_back({(i - 300) * 0.01, (i % 37 - 5) * 0.5});
  base[400].y = 1000;  // exp overflow here
  for (const auto& f : formulas) {
    GraphStore store;
    addGraph(store, "g", base);
    std::string error;
    try {
      mathOnYX(store, select({0}), f[0], f[1]);
    } catch (const Error& e) {
      error = e.what();
    }
    // Point by point, as the language defines it.
    std::vector<Point> want = base;
    std::string wantError;
    try {
      const std::string px = expressionToPostfix(f[0]) + " ";
      const std::string py = expressionToPostfix(f[1]) + " ";
      for (Point& p : want) {
        const double x = p.x, y = p.y;
        p.y = evaluatePostfix(py, x, y);
        p.x = evaluatePostfix(px, x, y);
      }
    } catch (const Error& e) {
      wantError = e.what();
    }
    EXPECT_EQ(error, wantError) << f[0] << " ; " << f[1];
    const auto& got = store.series(0).points();
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t j = 0; j < got.size(); ++j) {
      const bool same =
          (got[j].x == want[j].x || (std::isnan(got[j].x) && std::isnan(want[j].x))) &&
          (got[j].y == want[j].y || (std::isnan(got[j].y) && std::isnan(want[j].y)));
      EXPECT_TRUE(same) << f[0] << " ; " << f[1] << " point " << j;
    }
  }
}

}  // namespace
}  // namespace varnix
