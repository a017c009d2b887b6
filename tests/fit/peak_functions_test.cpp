#include "fit/peak_functions.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

namespace varnix {
namespace {

using std::numbers::ln2;
using std::numbers::pi;

/// Composite Simpson's rule with n (even) intervals.
double simpson(const std::function<double(double)>& f, double a, double b, int n) {
  const double h = (b - a) / n;
  double s = f(a) + f(b);
  for (int i = 1; i < n; ++i) s += f(a + i * h) * (i % 2 ? 4 : 2);
  return s * h / 3;
}

/// The x above c where f falls to half its value at c (bisection).
double halfWidthPoint(const std::function<double(double)>& f, double c, double far) {
  const double half = f(c) / 2;
  double lo = c, hi = far;
  for (int i = 0; i < 200; ++i) {
    const double mid = (lo + hi) / 2;
    (f(mid) > half ? lo : hi) = mid;
  }
  return lo;
}

struct ShapeCase {
  const char* name;
  std::function<double(double)> f;
  double centre, height, fwhm, area;
  double integrateFrom, integrateTo;
  double areaTolerance;
};

TEST(PeakFunctions, HeightWidthAndAreaMatchTheirClosedForms) {
  const double h = 2.5, c = 1.2, w = 0.4;
  const double gaussArea = h * w * std::sqrt(pi / (4 * ln2));
  // The Lorentzian over +-L holds h w atan(2L/w) of its area pi h w / 2.
  const double L = 200;
  const double lorentzWindow = h * w * std::atan(2 * L / w);
  const double e = 0.3;
  const double sigma = 0.25 / (2 * std::sqrt(2 * ln2));
  const std::vector<ShapeCase> cases = {
      {"gauss", [&](double x) { return gaussPeak(x, h, c, w).value; }, c, h, w, gaussArea, c - 5,
       c + 5, 1e-12},
      {"gauss with negative width", [&](double x) { return gaussPeak(x, h, c, -w).value; }, c, h, w,
       gaussArea, c - 5, c + 5, 1e-12},
      {"lorentz", [&](double x) { return lorentzPeak(x, h, c, w).value; }, c, h, w, lorentzWindow,
       c - L, c + L, 1e-9},
      {"pvoigt", [&](double x) { return pseudoVoigtPeak(x, h, c, w, e).value; }, c, h, w,
       e * lorentzWindow + (1 - e) * gaussArea, c - L, c + L, 1e-9},
      // wl = 0: the area-normalised Gaussian of FWHM wg.
      {"voigt wl=0", [&](double x) { return voigtPeak(x, 3, c, 0.25, 0).value; }, c,
       3 / (sigma * std::sqrt(2 * pi)), 0.25, 3, c - 5, c + 5, 1e-10},
  };
  for (const ShapeCase& s : cases) {
    SCOPED_TRACE(s.name);
    EXPECT_NEAR(s.f(s.centre), s.height, 1e-12 * s.height);
    EXPECT_NEAR(halfWidthPoint(s.f, s.centre, s.centre + 10) - s.centre, s.fwhm / 2, 1e-10);
    EXPECT_NEAR(simpson(s.f, s.integrateFrom, s.integrateTo, 400000), s.area,
                s.areaTolerance * s.area);
  }
}

TEST(PeakFunctions, PseudoVoigtEndsAreGaussAndLorentz) {
  for (double x : {-1.0, 0.3, 0.9, 4.0}) {
    EXPECT_DOUBLE_EQ(pseudoVoigtPeak(x, 2, 0.5, 0.7, 0).value, gaussPeak(x, 2, 0.5, 0.7).value);
    EXPECT_DOUBLE_EQ(pseudoVoigtPeak(x, 2, 0.5, 0.7, 1).value, lorentzPeak(x, 2, 0.5, 0.7).value);
  }
}

TEST(PeakFunctions, VoigtLimitsAndConvolution) {
  const double a = 2, c = 0.5;
  for (double x : {-3.0, 0.0, 0.5, 0.6, 2.0, 30.0}) {
    SCOPED_TRACE(x);
    const double u = x - c;
    // wl = 0: the Gaussian.
    const double wg = 0.8, s = wg / (2 * std::sqrt(2 * ln2));
    const double gauss = a / (s * std::sqrt(2 * pi)) * std::exp(-u * u / (2 * s * s));
    EXPECT_NEAR(voigtPeak(x, a, c, wg, 0).value, gauss, 1e-14 + 1e-12 * gauss);
    // wg -> 0: the Lorentzian, exactly at 0 and in the limit.
    const double wl = 0.6, g = wl / 2;
    const double lorentz = a * g / (pi * (u * u + g * g));
    EXPECT_NEAR(voigtPeak(x, a, c, 0, wl).value, lorentz, 1e-13 * lorentz);
    EXPECT_NEAR(voigtPeak(x, a, c, 1e-6, wl).value, lorentz, 1e-8 * lorentz);
    EXPECT_NEAR(voigtPeak(x, a, c, 1e-3, wl).value, lorentz, 1e-4 * lorentz);
  }
  // In between, the convolution of the two, integrated numerically.
  const double wg = 0.5, wl = 0.3, s = wg / (2 * std::sqrt(2 * ln2)), g = wl / 2;
  for (double u : {0.0, 0.2, 1.0, 3.0}) {
    const double conv = simpson(
        [&](double t) {
          const double gauss = std::exp(-t * t / (2 * s * s)) / (s * std::sqrt(2 * pi));
          const double v = u - t;
          return gauss * g / (pi * (v * v + g * g));
        },
        -3, 3, 200000);
    EXPECT_NEAR(voigtPeak(c + u, 1, c, wg, wl).value, conv, 1e-9 * conv) << u;
  }
  // The FWHM is the profile's own, from mostly Gaussian to mostly Lorentzian
  // (where the approximation of Olivero and Longbothum is off by 0.024 %).
  for (double ratio : {1e-4, 0.1, 1.0, 1.7, 5.0, 1e3}) {
    const double wlr = 0.4 * ratio;
    auto f = [&](double x) { return voigtPeak(x, 1, 0, 0.4, wlr).value; };
    EXPECT_NEAR(2 * halfWidthPoint(f, 0, 1e4), voigtFwhm(0.4, wlr), 1e-10 * voigtFwhm(0.4, wlr))
        << ratio;
    // In proportion to the widths, however small or large.
    for (double scale : {1e-200, 1e200})
      EXPECT_NEAR(voigtFwhm(0.4 * scale, wlr * scale) / scale, voigtFwhm(0.4, wlr),
                  1e-12 * voigtFwhm(0.4, wlr));
  }
  EXPECT_TRUE(std::isnan(voigtPeak(1, 1, 1, 0, 0).value));
  EXPECT_DOUBLE_EQ(voigtPeak(0.7, 1, 0.5, -0.4, -0.2).value,
                   voigtPeak(0.7, 1, 0.5, 0.4, 0.2).value);
}

/// Fourth-order central differences of every argument of a peak function.
template <int N, typename F>
void expectPartialsMatch(F f, std::array<double, N> args, double tolerance) {
  const PeakValue<N> r = std::apply(f, args);
  for (int k = 0; k < N; ++k) {
    // A step below the argument's size: the widths' signs make a kink at 0.
    const double h = 1e-4 * std::max(1e-3, std::fabs(args[k]));
    auto at = [&](double d) {
      std::array<double, N> a = args;
      a[k] += d;
      return std::apply(f, a).value;
    };
    const double fd = (8 * (at(h) - at(-h)) - (at(2 * h) - at(-2 * h))) / (12 * h);
    EXPECT_NEAR(r.partial[k], fd, tolerance * std::max(1.0, std::fabs(fd)))
        << "argument " << k << " at x=" << args[0];
  }
}

TEST(PeakFunctions, PartialDerivativesMatchFiniteDifferences) {
  for (double x : {-2.0, 0.1, 0.5, 0.93, 3.0}) {
    SCOPED_TRACE(x);
    expectPartialsMatch<4>(gaussPeak, {x, 1.7, 0.4, 0.6}, 1e-8);
    expectPartialsMatch<4>(gaussPeak, {x, 1.7, 0.4, -0.6}, 1e-8);
    expectPartialsMatch<4>(lorentzPeak, {x, 1.7, 0.4, 0.6}, 1e-8);
    expectPartialsMatch<5>(pseudoVoigtPeak, {x, 1.7, 0.4, 0.6, 0.35}, 1e-8);
    expectPartialsMatch<5>(voigtPeak, {x, 1.7, 0.4, 0.6, 0.3}, 1e-7);
    expectPartialsMatch<5>(voigtPeak, {x, 1.7, 0.4, -0.6, -0.3}, 1e-7);
    expectPartialsMatch<5>(voigtPeak, {x, 1.7, 0.4, 0.6, 1e-5}, 1e-7);
    // Far out in units of the Gaussian width (|z| above 50): the derivative
    // comes from the asymptotic series.
    expectPartialsMatch<5>(voigtPeak, {x + 5, 1.7, 0.4, 0.02, 0.5}, 1e-7);
    expectPartialsMatch<5>(voigtPeak, {x, 2.0, 0.4, 1e-11, 0.5}, 1e-7);
  }
}

TEST(PeakFunctions, AreaAndWidthErrorsPropagateTheCovariance) {
  // A covariance with correlations (positive definite by construction).
  const double L[4][4] = {
      {0.3, 0, 0, 0}, {0.1, 0.2, 0, 0}, {-0.05, 0.02, 0.04, 0}, {0.01, 0, 0.003, 0.05}};
  double C[16] = {};
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 4; ++b)
      for (int k = 0; k < 4; ++k) C[a * 4 + b] += L[a][k] * L[b][k];
  double C3[9];
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) C3[a * 3 + b] = C[a * 4 + b];
  const double gaussUnit = std::sqrt(pi / (4 * ln2));
  struct Case {
    PeakShape shape;
    std::array<double, 4> p;
    int n;
    std::function<double(const std::array<double, 4>&)> area, fwhm;
  };
  const std::vector<Case> cases = {
      {PeakShape::Gauss,
       {5, 1, 0.4, 0},
       3,
       [&](auto& q) { return q[0] * q[2] * gaussUnit; },
       [](auto& q) { return q[2]; }},
      {PeakShape::Lorentz,
       {5, 1, -0.4, 0},
       3,
       [](auto& q) { return pi / 2 * q[0] * std::fabs(q[2]); },
       [](auto& q) { return std::fabs(q[2]); }},
      {PeakShape::PseudoVoigt,
       {5, 1, 0.4, 0.3},
       4,
       [&](auto& q) { return q[0] * q[2] * (q[3] * pi / 2 + (1 - q[3]) * gaussUnit); },
       [](auto& q) { return q[2]; }},
      {PeakShape::Voigt,
       {7, 1, 0.4, 0.25},
       4,
       [](auto& q) { return q[0]; },
       [](auto& q) { return voigtFwhm(q[2], q[3]); }},
  };
  for (const Case& c : cases) {
    const PeakMeasures m = peakMeasures(c.shape, c.p.data(), c.n == 3 ? C3 : C);
    EXPECT_NEAR(m.area.value, c.area(c.p), 1e-12 * m.area.value);
    EXPECT_NEAR(m.fwhm.value, c.fwhm(c.p), 1e-12);
    // g^T C g with g from central differences of the closed forms.
    for (int which = 0; which < 2; ++which) {
      const auto& f = which == 0 ? c.area : c.fwhm;
      double g[4] = {};
      for (int k = 0; k < c.n; ++k) {
        std::array<double, 4> up = c.p, down = c.p;
        up[k] += 1e-6;
        down[k] -= 1e-6;
        g[k] = (f(up) - f(down)) / 2e-6;
      }
      double v = 0;
      for (int a = 0; a < c.n; ++a)
        for (int b = 0; b < c.n; ++b) v += g[a] * (c.n == 3 ? C3[a * 3 + b] : C[a * 4 + b]) * g[b];
      EXPECT_NEAR(which == 0 ? m.area.error : m.fwhm.error, std::sqrt(v), 1e-7 * std::sqrt(v));
    }
  }
}

}  // namespace
}  // namespace varnix
