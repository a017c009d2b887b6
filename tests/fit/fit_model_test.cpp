#include "fit/fit_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "workspace/error.h"

namespace varnix {
namespace {

struct ValueCase {
  const char* formula;
  std::vector<std::string> names;  // in order of first appearance
  std::vector<double> params;
  double x;
  double expected;
};

TEST(FitModel, ValuesFollowPrecedenceAndAssociativity) {
  const double pi = std::numbers::pi;
  const std::vector<ValueCase> cases = {
      {"x", {}, {}, 2.5, 2.5},
      {"-x^2", {}, {}, 3, -9},
      {"(-x)^2", {}, {}, 3, 9},
      {"2^3^2", {}, {}, 0, 512},
      {"x^-1", {}, {}, 4, 0.25},
      {"2*-x", {}, {}, 3, -6},
      {"a-b-c", {"a", "b", "c"}, {10, 3, 2}, 0, 5},
      {"a/b/c", {"a", "b", "c"}, {24, 3, 2}, 0, 4},
      {"a+b*x^2", {"a", "b"}, {1, 2}, 3, 19},
      {"b*x + a + b", {"b", "a"}, {2, 5}, 1, 9},
      {" 1.5e1 + .5 + 2. + 1E-1 ", {}, {}, 0, 17.6},
      {"2e-400 + x", {}, {}, 1, 1},
      {"x + 0.0005e-320 + 123e-330", {}, {}, 1, 1},
      {"pi*x", {}, {}, 2, 2 * pi},
      {"exp(x) + ln(x) + log10(x) + sqrt(x)",
       {},
       {},
       100,
       std::exp(100.0) + std::log(100.0) + 2 + 10},
      {"sin(x)+cos(x)+tan(x)+atan(x)+abs(-x)",
       {},
       {},
       0.3,
       std::sin(0.3) + std::cos(0.3) + std::tan(0.3) + std::atan(0.3) + 0.3},
      {"gauss(x, h, c, w)", {"h", "c", "w"}, {3, 1, 2}, 2, 1.5},
      {"lorentz(x, h, c, w)", {"h", "c", "w"}, {3, 1, 2}, 2, 1.5},
      {"pvoigt(x, h, c, w, e)", {"h", "c", "w", "e"}, {3, 1, 2, 0.25}, 1, 3},
      {"_b2 * x1", {"_b2", "x1"}, {2, 7}, 0, 14},
      {"e*x", {"e"}, {3}, 2, 6},
      {"Amp*x + Zed - zeta + _u", {"Amp", "Zed", "zeta", "_u"}, {2, 3, 4, 5}, 1.5, 7},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.formula);
    const FitModel m(c.formula);
    EXPECT_EQ(m.parameters(), c.names);
    EXPECT_NEAR(m.value(c.x, c.params), c.expected, 1e-12 * std::max(1.0, std::fabs(c.expected)));
  }
}

TEST(FitModel, PartsWithoutXOrParametersAreComputedOnce) {
  EXPECT_EQ(FitModel("2*pi*(3+4)").nodes().size(), 1u);
  // a * (constant): the constant's inputs are gone.
  EXPECT_EQ(FitModel("a*(2*pi)").nodes().size(), 3u);
}

struct ErrorCase {
  std::string formula;
  std::string message;
};

TEST(FitModel, ErrorsNameTheirPlace) {
  const std::vector<ErrorCase> cases = {
      {"", "Formula error at position 1: the formula is empty"},
      {"   ", "Formula error at position 4: the formula is empty"},
      {"x +", "Formula error at position 4: the formula ends where a value is expected"},
      {"(x", "Formula error at position 1: '(' without a matching ')'"},
      {"(x 2", "Formula error at position 4: expected ')'"},
      {"x)", "Formula error at position 2: ')' without a matching '('"},
      {"foo(x)", "Formula error at position 1: unknown function foo"},
      {"2 + gauss(x,1,2)", "Formula error at position 16: gauss takes 4 arguments"},
      {"exp(x, 1)", "Formula error at position 6: exp takes 1 argument"},
      {"voigt(x,1,2,3", "Formula error at position 1: '(' of voigt is not closed"},
      {"1 + exp", "Formula error at position 5: exp is a function: write exp(...)"},
      {"x $ 2", "Formula error at position 3: unexpected character '$'"},
      {"x \xc2\xb0", "Formula error at position 3: unexpected character"},
      {"2 3", "Formula error at position 3: expected an operator or the end of the formula"},
      {"2x", "Formula error at position 2: expected an operator or the end of the formula"},
      {"1 + 1e999", "Formula error at position 5: the number is too large"},
      {"0.5e400", "Formula error at position 1: the number is too large"},
      {"x + 00.00012e400", "Formula error at position 5: the number is too large"},
      {"1e0400", "Formula error at position 1: the number is too large"},
      {"x**2", "Formula error at position 3: expected a value before '*'"},
      {"()", "Formula error at position 2: expected a value before ')'"},
      {".", "Formula error at position 1: a number needs a digit"},
      {"sin(,x)", "Formula error at position 5: expected a value before ','"},
      {"gauss(x 1,2,3)", "Formula error at position 9: expected ',' or ')'"},
      {std::string(300, '(') + "x" + std::string(300, ')'),
       "Formula error at position 201: the formula is nested too deeply"},
      {std::string(300, '-') + "x",
       "Formula error at position 201: the formula is nested too deeply"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.formula);
    try {
      FitModel m(c.formula);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

// --- derivatives against finite differences on random formulas --------------

/// Builds random formulas over x and the parameters a, b, c from pieces
/// that are smooth and finite for parameters in [-1, 1] and x in [0, 2].
class RandomFormula {
 public:
  explicit RandomFormula(unsigned seed) : m_rng(seed) {}

  std::string make(int depth) {
    if (depth == 0 || pick(4) == 0) return leaf();
    const std::string a = make(depth - 1), b = make(depth - 1);
    switch (pick(16)) {
      case 0:
        return "(" + a + "+" + b + ")";
      case 1:
        return "(" + a + "-" + b + ")";
      case 2:
        return "(" + a + "*" + b + ")";
      case 3:
        return "(" + a + "/(1.5+sin(" + b + ")))";
      case 4:
        return "exp(sin(" + a + "))";
      case 5:
        return "ln(1+(" + a + ")^2)";
      case 6:
        return "sqrt(2+cos(" + a + "))";
      case 7:
        return "atan(" + a + ")";
      case 8:
        return "(2+sin(" + a + "))^(cos(" + b + "))";
      case 9:
        return "-(" + a + ")^3";
      case 10:
        return "gauss(" + a + "," + b + ",0.3,1+(" + a + ")^2)";
      case 11:
        return "lorentz(x," + a + "," + b + ",0.5+abs(sin(" + b + ")))";
      case 12:
        return "pvoigt(x," + a + ",0.2,1.2+cos(" + b + "),0.4)";
      case 13:
        return "voigt(x," + a + "," + b + ",0.7+(" + b + ")^2,0.4+(" + a + ")^2)";
      case 14:
        return "tan(0.3*sin(" + a + "))";
      default:
        return "log10(3+sin(" + a + ")*cos(" + b + "))";
    }
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }
  std::string leaf() {
    static const char* const leaves[] = {"x", "a", "b", "c", "0.7", "2", "pi", "(a*x)"};
    return leaves[pick(8)];
  }
  std::mt19937 m_rng;
};

/// Fourth-order central difference of f in parameter k with step h.
double numericDerivative(const FitModel& m, double x, std::vector<double> p, std::size_t k,
                         double h) {
  const double p0 = p[k];
  auto f = [&](double d) {
    p[k] = p0 + d;
    return m.value(x, p);
  };
  return (8 * (f(h) - f(-h)) - (f(2 * h) - f(-2 * h))) / (12 * h);
}

TEST(FitModel, GradientMatchesFiniteDifferencesOnRandomFormulas) {
  RandomFormula gen(20240521);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> param(-1, 1), xs(0, 2);
  int checked = 0;
  for (int t = 0; t < 400; ++t) {
    const std::string text = gen.make(4);
    const FitModel m(text);
    const std::size_t n = m.parameters().size();
    if (n == 0) continue;
    for (int s = 0; s < 3; ++s) {
      std::vector<double> p(n);
      for (double& v : p) v = param(rng);
      const double x = xs(rng);
      std::vector<double> g(n);
      const double v = m.valueAndGradient(x, p, g);
      ASSERT_DOUBLE_EQ(v, m.value(x, p)) << text;
      for (std::size_t k = 0; k < n; ++k) {
        // The difference of two steps bounds the finite difference's own
        // error (fast oscillations need the smaller step).
        const double fd = numericDerivative(m, x, p, k, 2.5e-4);
        const double coarse = numericDerivative(m, x, p, k, 1e-3);
        EXPECT_NEAR(g[k], fd, 1e-6 * std::max(1.0, std::fabs(fd)) + std::fabs(fd - coarse))
            << text << " d/d" << m.parameters()[k] << " at x=" << x;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 500);
}

TEST(FitModel, EvaluatorGivesTheFreeParametersGradientOnly) {
  const FitModel m("a*exp(-b*x) + c*x^2");
  // b held: the gradient holds d/da and d/dc in that order.
  ModelEvaluator e(m, {true, false, true});
  EXPECT_EQ(e.freeCount(), 2u);
  const double p[] = {2, 0.5, 3};
  double g[2];
  const double x = 1.5;
  const double v = e.valueAndGradient(x, p, g);
  EXPECT_DOUBLE_EQ(v, 2 * std::exp(-0.75) + 3 * 2.25);
  EXPECT_DOUBLE_EQ(g[0], std::exp(-0.75));
  EXPECT_DOUBLE_EQ(g[1], 2.25);
  EXPECT_DOUBLE_EQ(e.value(x, p), v);
}

TEST(FitModel, PowerWithConstantExponentTakesNegativeBases) {
  const FitModel m("(a*x)^2 + (a*x)^3");
  std::vector<double> g(1);
  const double v = m.valueAndGradient(2, std::vector<double>{-1.5}, g);
  // (-3)^2 + (-3)^3 = -18; d/da = 2 (a x) x + 3 (a x)^2 x = -12 + 54.
  EXPECT_DOUBLE_EQ(v, -18);
  EXPECT_DOUBLE_EQ(g[0], 42);
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

TEST(FitModel, WidthParametersAreThoseTheModelTakesTheAbsoluteValueOf) {
  const std::vector<std::pair<const char*, std::vector<bool>>> cases = {
      {"gauss(x,h,c,w)", {false, false, true}},
      {"lorentz(x,h,c,w) + pvoigt(x,h2,c,w,e)", {false, false, true, false, false}},
      {"voigt(x,a,c,g,l) + gauss(x,h,c,g)", {false, false, true, true, false}},
      {"gauss(x,h,c,w) + w*x", {false, false, false}},
      {"gauss(x,h,c,-w)", {false, false, false}},
      {"gauss(x,h,w,w)", {false, false}},
      {"w", {false}},
  };
  for (const auto& [formula, expected] : cases) {
    SCOPED_TRACE(formula);
    const FitModel model(formula);
    const std::vector<bool> width = model.widthParameters();
    EXPECT_EQ(width, expected);
    // Turning the sign of a width changes no value.
    std::vector<double> p(width.size());
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = 0.3 + 0.7 * static_cast<double>(i);
    for (std::size_t i = 0; i < p.size(); ++i) {
      if (!width[i]) continue;
      std::vector<double> turned = p;
      turned[i] = -p[i];
      for (double x : {0.1, 1.3, 2.9}) EXPECT_EQ(model.value(x, turned), model.value(x, p)) << i;
    }
  }
}

}  // namespace
}  // namespace varnix
