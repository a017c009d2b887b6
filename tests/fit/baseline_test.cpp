#include "fit/baseline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "test_util.h"
#include "workspace/error.h"

namespace varnix {
namespace {

/// Solves A z = b for a small dense symmetric positive definite A by
/// Gaussian elimination in long double (no pivoting needed).
std::vector<double> denseSolve(std::vector<std::vector<long double>> A,
                               std::vector<long double> b) {
  const std::size_t n = b.size();
  for (std::size_t k = 0; k < n; ++k)
    for (std::size_t i = k + 1; i < n; ++i) {
      const long double f = A[i][k] / A[k][k];
      for (std::size_t j = k; j < n; ++j) A[i][j] -= f * A[k][j];
      b[i] -= f * b[k];
    }
  std::vector<double> z(n);
  for (std::size_t i = n; i-- > 0;) {
    long double s = b[i];
    for (std::size_t j = i + 1; j < n; ++j) s -= A[i][j] * z[j];
    z[i] = static_cast<double>(s / A[i][i]);
  }
  return z;
}

/// The ALS baseline with the matrix D'D built densely from D itself.
std::vector<double> denseAls(const std::vector<double>& y, double lambda, double p) {
  const std::size_t n = y.size();
  std::vector<std::vector<long double>> DtD(n, std::vector<long double>(n, 0));
  for (std::size_t r = 0; r + 2 < n; ++r) {
    const long double d[3] = {1, -2, 1};
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) DtD[r + a][r + b] += d[a] * d[b];
  }
  std::vector<double> w(n, 1), z;
  for (int it = 0; it < 10; ++it) {
    auto A = DtD;
    std::vector<long double> rhs(n);
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < n; ++j) A[i][j] *= lambda;
      A[i][i] += w[i];
      rhs[i] = w[i] * y[i];
    }
    z = denseSolve(A, rhs);
    for (std::size_t i = 0; i < n; ++i) w[i] = y[i] > z[i] ? p : 1 - p;
  }
  return z;
}

TEST(Baseline, AlsMatchesADenseSolve) {
  for (std::size_t n : {3u, 4u, 7u, 40u}) {
    std::vector<double> y;
    for (std::size_t i = 0; i < n; ++i) {
      const double x = static_cast<double>(i) / 4;
      y.push_back(5 + 0.5 * x + 20 * std::exp(-(x - 4) * (x - 4)) + std::sin(7 * x));
    }
    for (double lambda : {1.0, 100.0, 1e5}) {
      for (double p : {0.001, 0.05, 0.5}) {
        SCOPED_TRACE(std::to_string(n) + " " + std::to_string(lambda) + " " + std::to_string(p));
        const std::vector<double> fast = alsBaseline(y, lambda, p);
        const std::vector<double> dense = denseAls(y, lambda, p);
        // Up to the conditioning of the system (lambda 1e5 against weights
        // of 0.001).
        for (std::size_t i = 0; i < n; ++i)
          EXPECT_NEAR(fast[i], dense[i], 1e-6 * (1 + std::fabs(dense[i])));
      }
    }
  }
  // Fewer than three points have no second difference: the baseline is y.
  EXPECT_EQ(alsBaseline(std::vector<double>{3, 4}, 10, 0.1), (std::vector<double>{3, 4}));
  EXPECT_TRUE(alsBaseline(std::vector<double>{}, 10, 0.1).empty());
}

TEST(Baseline, AlsIsNotLiftedByAPeak) {
  // A broad background with a narrow peak 500 high on it: with a small p
  // the baseline stays within 2 of the background, under the peak too.
  std::vector<double> y, background;
  for (int i = 0; i < 500; ++i) {
    const double x = i / 100.0;
    background.push_back(100 + 30 * x - 4 * x * x);
    y.push_back(background.back() + 500 * std::exp(-(x - 2.5) * (x - 2.5) / 0.005));
  }
  const std::vector<double> z = alsBaseline(y, 1e4, 0.001);
  for (int i = 0; i < 500; ++i) EXPECT_NEAR(z[i], background[i], 2) << i;
}

TEST(Baseline, PolynomialThroughRangesMatchesTheExactCurve) {
  // A cubic background plus a peak in the middle: a cubic through the two
  // flanks gives the background back exactly, also under the peak.
  std::vector<Point> pts;
  auto background = [](double x) { return 1e3 + 2 * x - 0.3 * x * x + 0.01 * x * x * x; };
  for (int i = 0; i <= 200; ++i) {
    const double x = 100 + i * 0.5;  // far from 0: the scaling matters
    pts.push_back({x, background(x) + (x > 140 && x < 160 ? 50 : 0)});
  }
  const std::vector<XRange> ranges = {{100, 135}, {200, 165}};
  const std::vector<double> b = polynomialBaseline(pts, 3, ranges);
  for (std::size_t i = 0; i < pts.size(); ++i)
    EXPECT_NEAR(b[i], background(pts[i].x), 1e-8 * std::fabs(background(pts[i].x)));
  // Degree 0 is the mean of the points in the ranges.
  const std::vector<double> flat = polynomialBaseline(
      std::vector<Point>{{0, 1}, {1, 3}, {2, 100}, {3, 5}}, 0, std::vector<XRange>{{0, 1}, {3, 3}});
  EXPECT_NEAR(flat[2], 3, 1e-12);
  // All chosen points at one x: a constant still, not a division by zero.
  const std::vector<double> one = polynomialBaseline(
      std::vector<Point>{{0, 1}, {1, 3}, {1, 5}, {2, 9}}, 0, std::vector<XRange>{{0.5, 1.5}});
  for (double v : one) EXPECT_NEAR(v, 4, 1e-12);
}

struct RefusedBaseline {
  int degree;
  std::vector<XRange> ranges;
  std::string message;
};

TEST(Baseline, RefusalsNameTheirReason) {
  const std::vector<Point> pts = {{0, 1}, {1, 2}, {2, 3}, {3, 4}};
  const std::vector<RefusedBaseline> cases = {
      {-1, {{0, 3}}, "The degree of the baseline must be a whole number from 0 to 10"},
      {11, {{0, 3}}, "The degree of the baseline must be a whole number from 0 to 10"},
      {1, {}, "The baseline needs at least one x range"},
      {1, {{0, std::nan("")}}, "A baseline range is not a number"},
      {1, {{0, 3}, {5, 6}}, "There are no points between x = 5 and 6"},
      {2,
       {{0.5, 2.5}},
       "A baseline of degree 2 needs at least 3 points in its ranges; they hold 2"},
  };
  for (const RefusedBaseline& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      polynomialBaseline(pts, c.degree, c.ranges);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
  for (auto [lambda, p, message] :
       {std::tuple{0.0, 0.1, "Lambda must be above 0 and at most 1e12, not 0"},
        std::tuple{2e12, 0.1, "Lambda must be above 0 and at most 1e12, not 2e+12"},
        std::tuple{10.0, 0.0, "p must lie between 0 and 1, not 0"},
        std::tuple{10.0, 1.0, "p must lie between 0 and 1, not 1"},
        std::tuple{10.0, std::nan(""), "p must lie between 0 and 1, not nan"}}) {
    try {
      alsBaseline(std::vector<double>{1, 2, 3}, lambda, p);
      ADD_FAILURE() << message;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
}

TEST(Baseline, SubtractingIsUndoableAndARefusalChangesNothing) {
  GraphStore store;
  test::addGraph(store, "a", {{0, 5}, {1, 6}, {2, 7}, {3, 8}});
  test::addGraph(store, "b", {{0, 1}, {1, 1}, {10, 1}});
  const std::vector<Point> a = store.series(0).points(), b = store.series(1).points();
  // Graph b has no point in 1.5..2.5: nothing changes, also not graph a.
  const std::vector<XRange> ranges = {{-1, 0.5}, {1.5, 2.5}};
  EXPECT_THROW(subtractPolynomialBaseline(store, {0, 1}, 1, ranges), Error);
  EXPECT_EQ(store.series(0).points(), a);
  EXPECT_EQ(store.series(1).points(), b);
  EXPECT_FALSE(store.undoEnabled());

  subtractPolynomialBaseline(store, {0}, 1, ranges);
  for (const Point& p : store.series(0).points()) EXPECT_NEAR(p.y, 0, 1e-12);
  double top = -1;
  for (const Point& p : store.series(0).points()) top = std::max(top, p.y);
  EXPECT_EQ(store.series(0).maxY(), top);
  EXPECT_TRUE(store.undoEnabled());
  store.restoreUndoCopies();
  EXPECT_EQ(store.series(0).points(), a);

  subtractAlsBaseline(store, {0, 1}, 100, 0.01);
  EXPECT_TRUE(store.graph(0).undoMark && store.graph(1).undoMark);
  store.restoreUndoCopies();
  EXPECT_EQ(store.series(1).points(), b);
}

}  // namespace
}  // namespace varnix
