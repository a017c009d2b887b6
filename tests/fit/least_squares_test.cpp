#include "fit/least_squares.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fit/nist_harder_data.h"
#include "fit/peak_functions.h"
#include "workspace/error.h"

namespace varnix {
namespace {

// --- the NIST StRD reference problems ------------------------------------------

struct NistProblem {
  std::vector<double> start1, start2, certified, certifiedError;
  double certifiedRss = 0;
  std::vector<Point> points;
};

std::vector<double> numbersOf(const std::string& line) {
  std::vector<double> out;
  const char* p = line.data();
  const char* end = p + line.size();
  while (p < end) {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\r')) ++p;
    if (p == end) break;
    double v = 0;
    auto r = std::from_chars(p, end, v);
    if (r.ec != std::errc()) break;
    out.push_back(v);
    p = r.ptr;
  }
  return out;
}

/// Reads a problem file of the NIST collection: starting and certified
/// values from the "bN = ..." lines, data from the "Data: y x" block.
NistProblem readNist(const std::string& file) {
  std::ifstream in(std::string(VARNIX_SOURCE_DIR) + "/tests/fit/nist/" + file);
  EXPECT_TRUE(in) << file;
  NistProblem p;
  std::string line;
  bool data = false;
  while (std::getline(in, line)) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    if (data) {
      const std::vector<double> v = numbersOf(line);
      if (v.size() == 2) p.points.push_back({v[1], v[0]});
      continue;
    }
    if (line.compare(first, 5, "Data:") == 0 && line.find(" y ") != std::string::npos &&
        line.find("Variable") == std::string::npos && line.find("Response") == std::string::npos) {
      data = true;
    } else if (line[first] == 'b' && line.find(" = ") != std::string::npos) {
      const std::vector<double> v = numbersOf(line.substr(line.find('=') + 1));
      EXPECT_EQ(v.size(), 4u) << line;
      p.start1.push_back(v[0]);
      p.start2.push_back(v[1]);
      p.certified.push_back(v[2]);
      p.certifiedError.push_back(v[3]);
    } else if (line.find("Residual Sum of Squares:") != std::string::npos) {
      p.certifiedRss = numbersOf(line.substr(line.find(':') + 1)).at(0);
    }
  }
  std::sort(p.points.begin(), p.points.end(),
            [](const Point& a, const Point& b) { return a.x < b.x; });
  return p;
}

/// The log relative error: the number of agreeing significant digits.
double lre(double value, double certified) {
  if (value == certified) return 15;
  return -std::log10(std::fabs(value - certified) / std::fabs(certified));
}

/// Starts for the parameters b1, b2, ... (wherever they first appear).
FitSettings startAt(const FitModel& model, const std::vector<double>& start) {
  FitSettings s;
  for (const std::string& name : model.parameters())
    s.parameters.push_back({start.at(std::stoul(name.substr(1)) - 1)});
  return s;
}

/// The fitted value of parameter bk+1.
double valueOf(const FitModel& model, const FitResult& r, std::size_t k) {
  return r.values[*model.parameterIndex("b" + std::to_string(k + 1))];
}

struct NistCase {
  const char* file;
  const char* formula;
};

const std::vector<NistCase> kLowerDifficulty = {
    {"Misra1a.dat", "b1*(1-exp(-b2*x))"},
    {"Chwirut2.dat", "exp(-b1*x)/(b2+b3*x)"},
    {"Chwirut1.dat", "exp(-b1*x)/(b2+b3*x)"},
    {"Lanczos3.dat", "b1*exp(-b2*x) + b3*exp(-b4*x) + b5*exp(-b6*x)"},
    {"Gauss1.dat", "b1*exp(-b2*x) + b3*exp(-(x-b4)^2/b5^2) + b6*exp(-(x-b7)^2/b8^2)"},
    {"Gauss2.dat", "b1*exp(-b2*x) + b3*exp(-(x-b4)^2/b5^2) + b6*exp(-(x-b7)^2/b8^2)"},
    {"DanWood.dat", "b1*x^b2"},
    {"Misra1b.dat", "b1 * (1-(1+b2*x/2)^(-2))"},
};

TEST(LeastSquares, ReferenceProblemsFromBothStarts) {
  for (const NistCase& c : kLowerDifficulty) {
    const NistProblem p = readNist(c.file);
    ASSERT_FALSE(p.points.empty()) << c.file;
    const FitModel model(c.formula);
    ASSERT_EQ(model.parameters().size(), p.certified.size()) << c.file;
    for (int start = 1; start <= 2; ++start) {
      SCOPED_TRACE(std::string(c.file) + " from start " + std::to_string(start));
      const FitResult r =
          fitPoints(model, startAt(model, start == 1 ? p.start1 : p.start2), p.points);
      ASSERT_TRUE(r.converged) << r.failure;
      EXPECT_EQ(r.dof, p.points.size() - p.certified.size());
      EXPECT_GE(lre(r.chi2, p.certifiedRss), 6) << r.chi2;
      for (std::size_t k = 0; k < p.certified.size(); ++k) {
        const std::size_t i = *model.parameterIndex("b" + std::to_string(k + 1));
        EXPECT_GE(lre(r.values[i], p.certified[k]), 6) << "b" << k + 1 << "=" << r.values[i];
        EXPECT_GE(lre(r.errors[i], p.certifiedError[k]), 4)
            << "b" << k + 1 << ".err=" << r.errors[i];
      }
    }
  }
}

TEST(LeastSquares, HarderReferenceProblemsFromBothStarts) {
  for (const test::HarderProblem& h : test::harderProblems()) {
    std::vector<Point> points;
    for (std::size_t i = 0; i < h.x.size(); ++i) points.push_back({h.x[i], h.y[i]});
    std::sort(points.begin(), points.end(),
              [](const Point& a, const Point& b) { return a.x < b.x; });
    const FitModel model(h.formula);
    for (int start = 1; start <= 2; ++start) {
      SCOPED_TRACE(std::string(h.name) + " from start " + std::to_string(start));
      const FitResult r =
          fitPoints(model, startAt(model, start == 1 ? h.start1 : h.start2), points);
      ASSERT_TRUE(r.converged) << r.failure;
      EXPECT_GE(lre(r.chi2, h.certifiedRss), 6) << r.chi2;
      for (std::size_t k = 0; k < h.certified.size(); ++k)
        EXPECT_GE(lre(valueOf(model, r, k), h.certified[k]), 6) << "b" << k + 1;
    }
  }
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

/// Points of y = f(x) at x = x0, x0 + dx, ...
template <typename F>
std::vector<Point> sample(F f, double x0, double dx, int n) {
  std::vector<Point> out;
  for (int i = 0; i < n; ++i) out.push_back({x0 + i * dx, f(x0 + i * dx)});
  return out;
}

FitSettings starts(std::initializer_list<ParameterSetting> s) {
  FitSettings out;
  out.parameters = s;
  return out;
}

/// A deterministic wobble in [-1, 1] standing in for noise.
double wobble(double x) {
  return std::sin(37.1 * x) * std::cos(11.3 * x * x);
}

TEST(LeastSquares, StraightLineMatchesTheClosedFormWithAndWithoutPoissonWeights) {
  const std::vector<Point> pts =
      sample([](double x) { return 30 + 4 * x + 3 * wobble(x); }, 0, 0.5, 40);
  const FitModel model("a + b*x");
  for (FitWeights weights : {FitWeights::None, FitWeights::Poisson}) {
    SCOPED_TRACE(weights == FitWeights::None ? "none" : "poisson");
    FitSettings s = starts({{1}, {1}});
    s.weights = weights;
    const FitResult r = fitPoints(model, s, pts);
    ASSERT_TRUE(r.converged) << r.failure;
    // Weighted normal equations of a straight line, solved in long double.
    long double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Point& p : pts) {
      const long double w = weights == FitWeights::None ? 1 : 1 / std::max(p.y, 1.0);
      sw += w, sx += w * p.x, sy += w * p.y, sxx += w * p.x * p.x, sxy += w * p.x * p.y;
    }
    const long double det = sw * sxx - sx * sx;
    const long double b = (sw * sxy - sx * sy) / det, a = (sy - b * sx) / sw;
    long double chi2 = 0, total = 0;
    for (const Point& p : pts) {
      const long double w = weights == FitWeights::None ? 1 : 1 / std::max(p.y, 1.0);
      chi2 += w * (p.y - a - b * p.x) * (p.y - a - b * p.x);
      total += w * (p.y - sy / sw) * (p.y - sy / sw);
    }
    const long double s2 = chi2 / (pts.size() - 2);
    EXPECT_NEAR(r.values[0], static_cast<double>(a), 1e-10 * std::fabs(static_cast<double>(a)));
    EXPECT_NEAR(r.values[1], static_cast<double>(b), 1e-10 * std::fabs(static_cast<double>(b)));
    EXPECT_NEAR(r.errors[0], static_cast<double>(std::sqrt(s2 * sxx / det)), 1e-8 * r.errors[0]);
    EXPECT_NEAR(r.errors[1], static_cast<double>(std::sqrt(s2 * sw / det)), 1e-8 * r.errors[1]);
    EXPECT_NEAR(r.chi2, static_cast<double>(chi2), 1e-10 * r.chi2);
    EXPECT_NEAR(r.r2, static_cast<double>(1 - chi2 / total), 1e-12);
    EXPECT_EQ(r.dof, 38u);
    EXPECT_TRUE(r.errorsDetermined);
    // The covariance of a and b: -s2 sx / det.
    EXPECT_NEAR(r.covariance[1], static_cast<double>(-s2 * sx / det),
                1e-8 * std::fabs(r.covariance[1]));
  }
}

TEST(LeastSquares, BoundsHoldAtTheMinimum) {
  // A Gaussian of FWHM 2 fitted with the width held below 1.5 (two bounds),
  // above 2.5 (lower bound only) and below 1.2 (upper bound only).
  const std::vector<Point> pts =
      sample([](double x) { return gaussValue(x, 10, 5, 2) + 0.05 * wobble(x); }, 0, 0.1, 101);
  const FitModel model("gauss(x, h, c, w)");
  struct Case {
    double lower, upper, start, expectedBound;
  };
  const double inf = std::numeric_limits<double>::infinity();
  for (const Case& c : {Case{0.5, 1.5, 1, 1.5}, Case{2.5, inf, 3, 2.5}, Case{-inf, 1.2, 1, 1.2}}) {
    SCOPED_TRACE(c.expectedBound);
    ParameterSetting w{c.start};
    w.lower = c.lower;
    w.upper = c.upper;
    const FitResult r = fitPoints(model, starts({{8}, {4.5}, w}), pts);
    ASSERT_TRUE(r.converged) << r.failure;
    EXPECT_GE(r.values[2], c.lower);
    EXPECT_LE(r.values[2], c.upper);
    EXPECT_NEAR(r.values[2], c.expectedBound, 1e-6);
  }
  // Bounds that do not bind change nothing, on either side or both: the same
  // minimum as without.
  const FitResult free = fitPoints(model, starts({{8}, {4.5}, {1}}), pts);
  ASSERT_TRUE(free.converged);
  for (const auto& [lower, upper] : {std::pair{0.1, 10.0}, {0.1, inf}, {-inf, 10.0}}) {
    SCOPED_TRACE(std::to_string(lower) + " " + std::to_string(upper));
    ParameterSetting loose{1};
    loose.lower = lower;
    loose.upper = upper;
    const FitResult bounded = fitPoints(model, starts({{8}, {4.5}, loose}), pts);
    ASSERT_TRUE(bounded.converged);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(bounded.values[k], free.values[k], 1e-8 * std::fabs(free.values[k]));
      EXPECT_NEAR(bounded.errors[k], free.errors[k], 1e-6 * free.errors[k]);
    }
  }
}

TEST(LeastSquares, AMinimumOnABoundCostsNoMoreThanAFreeOne) {
  // Two peaks whose shapes lie beyond pure Gaussians (e < 0), fitted with
  // the shapes kept between 0 and 1: a minimum on the bounds. It ends
  // exactly there, in about the iterations the free fit takes (every
  // iteration counted), and a refit that starts there ends there again.
  const std::vector<Point> pts = sample(
      [](double x) {
        return 2 + pseudoVoigtValue(x, 10, 4, 1.2, -0.08) +
               pseudoVoigtValue(x, 6, 6.5, 0.8, -0.05) + 0.02 * wobble(x);
      },
      0, 0.02, 500);
  const FitModel model("b + pvoigt(x, h1, c1, w1, e1) + pvoigt(x, h2, c2, w2, e2)");
  ParameterSetting shape{0.5};
  shape.lower = 0;
  shape.upper = 1;
  const FitResult free =
      fitPoints(model, starts({{0}, {8}, {4.2}, {1}, {0.5}, {5}, {6.4}, {1}, {0.5}}), pts);
  const FitResult bounded =
      fitPoints(model, starts({{0}, {8}, {4.2}, {1}, shape, {5}, {6.4}, {1}, shape}), pts);
  ASSERT_TRUE(free.converged) << free.failure;
  ASSERT_TRUE(bounded.converged) << bounded.failure;
  EXPECT_LT(free.values[4], 0);
  EXPECT_LT(free.values[8], 0);
  EXPECT_EQ(bounded.values[4], 0);
  EXPECT_EQ(bounded.values[8], 0);
  EXPECT_LE(bounded.iterations, free.iterations + 12);
  FitSettings again = starts({{0}, {9}, {4}, {1.1}, shape, {5}, {6.5}, {0.9}, shape});
  again.parameters[4].start = again.parameters[8].start = 0;
  const FitResult refit = fitPoints(model, again, pts);
  ASSERT_TRUE(refit.converged) << refit.failure;
  EXPECT_EQ(refit.values[4], 0);
  EXPECT_NEAR(refit.chi2, bounded.chi2, 1e-9 * bounded.chi2);
  EXPECT_LE(refit.iterations, free.iterations + 12);
}

TEST(LeastSquares, ABoundedStartIsWhereTheFitBegins) {
  // A start already at the minimum is kept through the bounds' change of
  // variable: one iteration finds it stationary.
  const std::vector<Point> pts = sample([](double x) { return 5 + 0.01 * wobble(x); }, 0, 0.1, 50);
  double mean = 0;
  for (const Point& p : pts) mean += p.y / static_cast<double>(pts.size());
  const FitModel model("a");
  const double inf = std::numeric_limits<double>::infinity();
  for (const auto& [lower, upper] : {std::pair{0.0, 100.0}, {0.0, inf}, {-inf, 100.0}}) {
    SCOPED_TRACE(std::to_string(lower) + " " + std::to_string(upper));
    ParameterSetting a{mean};
    a.lower = lower;
    a.upper = upper;
    FitSettings settings = starts({a});
    settings.maxIterations = 1;
    const FitResult r = fitPoints(model, settings, pts);
    ASSERT_TRUE(r.converged) << r.failure;
    EXPECT_NEAR(r.values[0], mean, 1e-12 * mean);
  }
}

TEST(LeastSquares, FixedParametersStay) {
  const std::vector<Point> pts = sample(
      [](double x) { return lorentzValue(x, 7, 1, 0.8) + 2 + 0.02 * wobble(x); }, -3, 0.05, 121);
  const FitModel model("lorentz(x, h, c, w) + base");
  ParameterSetting held{2.5};
  held.fixed = true;
  ParameterSetting equalBounds{0.8};
  equalBounds.lower = equalBounds.upper = 0.8;
  for (const ParameterSetting& fixedBase : {held}) {
    const FitResult r = fitPoints(model, starts({{5}, {0.7}, equalBounds, fixedBase}), pts);
    ASSERT_TRUE(r.converged) << r.failure;
    EXPECT_EQ(r.values[2], 0.8);
    EXPECT_EQ(r.values[3], 2.5);
    EXPECT_EQ(r.errors[2], 0);
    EXPECT_EQ(r.errors[3], 0);
    EXPECT_EQ(r.dof, 121u - 2);
    EXPECT_GT(r.errors[0], 0);
  }
}

TEST(LeastSquares, ASingularFitKeepsTheErrorsOfWhatItDetermines) {
  // c + a*b*x: the data determine c and the product ab, not a and b. The
  // variance of c is that of the straight line c + k*x, scaled by chi2/dof
  // with one free parameter more in dof.
  const std::vector<Point> pts = sample([](double x) { return 1 + 3 * x + wobble(x); }, 0, 1, 20);
  const FitResult r = fitPoints(FitModel("c + a*b*x"), starts({{0}, {1}, {2}}), pts);
  const FitResult line = fitPoints(FitModel("c + k*x"), starts({{0}, {1}}), pts);
  ASSERT_TRUE(line.converged);
  EXPECT_FALSE(r.converged);
  EXPECT_TRUE(r.undetermined);
  EXPECT_EQ(fitStatusText(r), "undetermined: the data do not determine a and b");
  EXPECT_FALSE(r.errorsDetermined);
  EXPECT_NEAR(r.values[1] * r.values[2], line.values[1], 1e-8);
  EXPECT_EQ(r.dof + 1, line.dof);
  const double dofs = static_cast<double>(line.dof) / static_cast<double>(r.dof);
  EXPECT_NEAR(r.covariance[0], line.covariance[0] * dofs, 1e-6 * line.covariance[0]);
  EXPECT_NEAR(r.errors[0], std::sqrt(r.covariance[0]), 1e-12);
  EXPECT_TRUE(std::isnan(r.errors[1]) && std::isnan(r.errors[2]));
  EXPECT_TRUE(std::isnan(r.covariance[1]) && std::isnan(r.covariance[3 * 1 + 2]));
  // As many points as free parameters: a fit, but no degrees of freedom.
  const FitResult exact =
      fitPoints(FitModel("a + b*x"), starts({{0}, {0}}), std::vector<Point>{{0, 1}, {1, 3}});
  ASSERT_TRUE(exact.converged);
  EXPECT_EQ(exact.dof, 0u);
  EXPECT_FALSE(exact.errorsDetermined);
  EXPECT_NEAR(exact.values[1], 2, 1e-12);
}

TEST(LeastSquares, AnEndThatIsNoDeterminedMinimumSaysWhy) {
  // An empty spectrum determines the base and the height (0), not where or
  // how wide a peak is. A one-point spike draws an unbounded width to 0, on
  // the kink of |w|. Held away from 0, the same width gives a minimum.
  const std::vector<Point> zero = sample([](double) { return 0.0; }, 1, 0.01, 200);
  const std::vector<Point> spike =
      sample([](double x) { return 10 + 0.5 * wobble(x) + (std::fabs(x - 2) < 1e-9 ? 30 : 0); }, 1,
             0.01, 200);
  ParameterSetting held{0.3};
  held.lower = 0.05;
  struct Case {
    const char* name;
    const std::vector<Point>& points;
    const char* formula;
    FitSettings settings;
    std::string status;  // up to where the numbers begin
  };
  const std::vector<Case> cases = {
      {"empty", zero, "a + gauss(x, h, c, w)", starts({{10}, {40}, {2.1}, {0.3}}),
       "undetermined: the data do not determine c and w"},
      {"empty, lorentz", zero, "lorentz(x, h, c, w)", starts({{40}, {2.1}, {0.3}}),
       "undetermined: the data do not determine c and w"},
      {"spike", spike, "a + gauss(x, h, c, w)", starts({{10}, {40}, {2.1}, {0.3}}),
       "failed: the width w goes to 0 (w="},
      {"spike, lorentz", spike, "a + lorentz(x, h, c, w)", starts({{10}, {40}, {2.1}, {-0.3}}),
       "failed: the width w goes to 0 (w="},
      {"spike, bounded", spike, "a + gauss(x, h, c, w)", starts({{10}, {40}, {2.1}, held}),
       "converged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FitResult r = fitPoints(FitModel(c.formula), c.settings, c.points);
    EXPECT_EQ(fitStatusText(r).substr(0, c.status.size()), c.status) << fitStatusText(r);
    if (c.status.starts_with("failed: the width"))
      EXPECT_TRUE(
          fitStatusText(r).ends_with("; keep it from 0 with a lower bound, as in "
                                     "w=0.3:0.01:"))
          << fitStatusText(r);
  }
}

TEST(LeastSquares, WidthsAreReportedPositive) {
  // The model depends on |w|: a fit from a negative width ends at the same
  // minimum as one from the positive width, and says so with the same
  // numbers (the covariance turned with the sign).
  const std::vector<Point> pts = sample(
      [](double x) {
        return 1 + gaussValue(x, 10, 5, 2) + voigtValue(x, 4, 7, 0.5, 0.3) + 0.05 * wobble(x);
      },
      0, 0.05, 201);
  const FitModel model("b + gauss(x, h, c, w) + voigt(x, a, d, g, l)");
  const FitResult plus =
      fitPoints(model, starts({{0}, {8}, {4.8}, {1.5}, {3}, {7.1}, {0.4}, {0.4}}), pts);
  const FitResult minus =
      fitPoints(model, starts({{0}, {8}, {4.8}, {-1.5}, {3}, {7.1}, {-0.4}, {-0.4}}), pts);
  ASSERT_TRUE(plus.converged) << plus.failure;
  ASSERT_TRUE(minus.converged) << minus.failure;
  for (std::size_t i = 0; i < plus.values.size(); ++i) {
    EXPECT_NEAR(minus.values[i], plus.values[i], 1e-7 * std::fabs(plus.values[i])) << i;
    EXPECT_NEAR(minus.errors[i], plus.errors[i], 1e-5 * plus.errors[i]) << i;
    for (std::size_t j = 0; j < plus.values.size(); ++j) {
      const double c = plus.covariance[i * plus.values.size() + j];
      EXPECT_NEAR(minus.covariance[i * plus.values.size() + j], c, 1e-4 * std::fabs(c) + 1e-15)
          << i << " " << j;
    }
  }
  EXPECT_GT(minus.values[3], 0);
  // A width whose bounds keep it negative stays negative.
  ParameterSetting negative{-1.5};
  negative.lower = -3;
  negative.upper = -0.5;
  const FitResult held =
      fitPoints(model, starts({{0}, {8}, {4.8}, negative, {3}, {7.1}, {0.4}, {0.4}}), pts);
  ASSERT_TRUE(held.converged) << held.failure;
  EXPECT_NEAR(held.values[3], -2, 0.01);
}

TEST(LeastSquares, NoConvergenceWithinTheLimitIsAFailureWithItsReason) {
  const NistProblem p = readNist("Misra1a.dat");
  const FitModel model("b1*(1-exp(-b2*x))");
  FitSettings s = startAt(model, p.start1);
  s.maxIterations = 1;
  const FitResult r = fitPoints(model, s, p.points);
  EXPECT_FALSE(r.converged);
  EXPECT_EQ(r.failure, "no convergence within 1 iteration");
  s.maxIterations = 3;
  EXPECT_EQ(fitPoints(model, s, p.points).failure, "no convergence within 3 iterations");
}

TEST(LeastSquares, DerivativeThatIsNotFiniteDuringTheFitIsAFailure) {
  // sqrt(b) has no finite derivative at b = 0, which the data pull b to.
  const std::vector<Point> pts = sample([](double x) { return x; }, 0, 1, 10);
  const FitResult r = fitPoints(FitModel("x + sqrt(b)"), starts({{0}}), pts);
  EXPECT_FALSE(r.converged);
  EXPECT_EQ(r.failure, "the derivative in b is not finite at b=0, x=0");
}

struct BadInput {
  const char* formula;
  FitSettings settings;
  std::vector<Point> points;
  std::string message;
};

TEST(LeastSquares, BadInputIsRefusedWithItsMessage) {
  const std::vector<Point> three = {{1, 1}, {2, 4}, {3, 9}};
  const double inf = std::numeric_limits<double>::infinity();
  ParameterSetting noStart;
  ParameterSetting crossed{1};
  crossed.lower = 2;
  crossed.upper = 0;
  ParameterSetting outside{5};
  outside.lower = 0;
  outside.upper = 1;
  std::vector<BadInput> cases = {
      {"a*x", starts({noStart}), three, "Parameter a has no start value"},
      {"a*x", starts({{inf}}), three, "The start value of a is not a finite number"},
      {"a*x", starts({crossed}), three, "The lower bound of a (2) is above its upper bound (0)"},
      {"a*x", starts({outside}), three, "The start value of a (5) is outside its bounds 0 to 1"},
      {"a*x", starts({{1}, {2}}), three, "The fit needs one setting for each of the 1 parameters"},
      {"a + b*x + c*x^2 + d*x^3", starts({{1}, {1}, {1}, {1}}), three,
       "There are 3 points between x = -inf and inf in the graph, fewer than the 4 free "
       "parameters"},
      {"a + b*x",
       starts({{1}, {1}}),
       {},
       "There are no points between x = -inf and inf in the graph"},
      {"ln(a*x)", starts({{-1}}), three,
       "The model is not finite at the start at x = 1 in the graph"},
      {"a/(x-2)", starts({{1}}), three,
       "The model is not finite at the start at x = 2 in the graph"},
      {"a*x", starts({{1e200}}), three,
       "The chi-square is not finite at the start in the graph (the model is too far from the "
       "data)"},
      {"a*x",
       starts({{1}}),
       {{1, 1}, {2, std::nan("")}},
       "The data of the graph hold a value that is not a finite number"},
  };
  for (const BadInput& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      fitPoints(FitModel(c.formula), c.settings, c.points);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace varnix
