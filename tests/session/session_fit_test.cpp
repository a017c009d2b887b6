#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fit/peak_functions.h"
#include "session/session.h"
#include "test_util.h"
#include "workspace/error.h"

namespace varnix {
namespace {

/// A session with a straight line y = 2 + 3x (and a wobble) in n graphs,
/// the focus on the first.
Session lines(std::size_t n) {
  Session s;
  for (std::size_t g = 0; g < n; ++g) {
    std::vector<Point> pts;
    for (int i = 0; i < 50; ++i) {
      const double x = i * 0.1;
      pts.push_back({x, 2 + 3 * x + static_cast<double>(g) + 0.1 * std::sin(17.0 * x)});
    }
    test::addGraph(s.store(), "L" + std::to_string(g), pts);
  }
  s.setFocusRow(0);
  return s;
}

TEST(SessionFit, FitsTheSelectedGraphsOrTheCurrentOne) {
  Session s = lines(3);
  s.setFocusRow(1);
  EXPECT_EQ(s.fit("a + b*x", 0, 10, {"a=0", "b=0"}, false).rows.size(), 1u);
  EXPECT_EQ(s.fitTable().rows[0].slot, 1u);
  s.selectOnly({0, 2});
  const FitTable& t = s.fit("a + b*x", 0, 10, {"b=0", "a=0"}, false);
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(t.rows[1].slot, 2u);
  EXPECT_NEAR(t.rows[1].result.values[0], 4, 0.05);
  EXPECT_NEAR(t.rows[1].result.values[1], 3, 0.05);
}

TEST(SessionFit, BadInputKeepsTheLastFitAndNoGraphsDoNothing) {
  Session s = lines(1);
  s.fit("a + b*x", 0, 10, {"a=0", "b=0"}, false);
  const std::size_t rows = s.fitTable().rows.size();
  EXPECT_THROW(s.fit("a + b*", 0, 10, {"a=0", "b=0"}, false), Error);
  EXPECT_THROW(s.fit("a + b*x", 0, 10, {"a=0"}, false), Error);
  EXPECT_THROW(s.fit("a + b*x", 20, 30, {"a=0", "b=0"}, false), Error);
  EXPECT_EQ(s.fitTable().rows.size(), rows);
  EXPECT_EQ(s.fitTable().model->formula(), "a + b*x");
  Session empty;
  EXPECT_TRUE(empty.fit("a + b*x", 0, 10, {"a=0", "b=0"}, false).rows.empty());
  EXPECT_THROW(empty.fit("a + b*x", 0, 10, {"a=0"}, false), Error);  // still checked
}

TEST(SessionFit, WeightsApplyToLaterFits) {
  Session s = lines(1);
  const double unweighted = s.fit("a + b*x", 0, 10, {"a=0", "b=0"}, false).rows[0].result.chi2;
  s.setFitWeights(FitWeights::Poisson);
  const double weighted = s.fit("a + b*x", 0, 10, {"a=0", "b=0"}, false).rows[0].result.chi2;
  // Poisson weights 1/y with y between 2 and 17 make chi2 smaller.
  EXPECT_LT(weighted, unweighted / 2);
}

TEST(SessionFit, NewGraphsJoinTheListUnselected) {
  Session s = lines(2);
  s.selectAll(true);
  s.fit("a + b*x", 0, 10, {"a=0", "b=0"}, false);
  EXPECT_EQ(s.addFitGraphs(true), (std::vector<std::size_t>{2, 3}));
  EXPECT_EQ(s.store().count(), 4u);
  EXPECT_EQ(s.selection().rows, (std::vector<std::size_t>{0, 1}));
}

TEST(SessionFit, DespikeTellsHowManyPointsItReplaced) {
  Session s = lines(2);
  s.store().series(0).points()[20].y += 100;
  s.selectAll(true);
  EXPECT_EQ(s.despike(5, 3), 1u);
  EXPECT_EQ(s.information(), " 1 spike point replaced in 2 graphs");
  EXPECT_THROW(s.despike(5, 0), Error);
  EXPECT_THROW(s.subtractAlsBaseline(0, 0.1), Error);
  EXPECT_THROW(s.subtractPolynomialBaseline(1, {}), Error);
  Session empty;
  EXPECT_EQ(empty.despike(5, 3), 0u);
}

}  // namespace
}  // namespace varnix
