#include "fit/peak_functions.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

// libcerf's Faddeeva function, declared here with the compiler's C complex
// type (cerf.h itself includes <complex.h>, which clashes with C++).
extern "C" {
__extension__ typedef _Complex double CerfComplex;
CerfComplex w_of_z(CerfComplex z);  // NOLINT(readability-identifier-naming): libcerf's name
}

namespace varnix {
namespace {

constexpr double kFourLn2 = 4 * std::numbers::ln2;
constexpr double kSqrtPi = 1.7724538509055160273;  // sqrt(pi)
const double kSigmaPerFwhm = 1 / (2 * std::sqrt(2 * std::numbers::ln2));

using Complex = std::complex<double>;

Complex faddeeva(Complex z) {
  CerfComplex c{};
  __real__ c = z.real();
  __imag__ c = z.imag();
  const CerfComplex w = w_of_z(c);
  return {__real__ w, __imag__ w};
}

/// w'(z) = -2 z w(z) + 2i/sqrt(pi). Far from the origin the two terms
/// cancel, so there (Im z >= 0) the derivative of the asymptotic series
/// w(z) ~ (i/sqrt(pi)) sum (2k-1)!! / (2^k z^(2k+1)) is used instead.
Complex faddeevaDerivative(Complex z, Complex w) {
  if (std::abs(z) < 50) return -2.0 * z * w + Complex(0, 2 / kSqrtPi);
  const Complex inv2 = 1.0 / (z * z);
  Complex sum = 0, power = inv2;
  double coefficient = 1;  // (2k+1)!! / 2^k
  for (int k = 0; k < 12; ++k) {
    sum -= coefficient * power;
    power *= inv2;
    coefficient *= (2.0 * k + 3) / 2;
  }
  return Complex(0, 1 / kSqrtPi) * sum;
}

double signOf(double v) {
  return v < 0 ? -1.0 : 1.0;
}

}  // namespace

PeakValue<4> gaussPeak(double x, double h, double c, double w) {
  PeakValue<4> r;
  const double t = (x - c) / w;
  const double e = std::exp(-kFourLn2 * t * t);
  r.value = h * e;
  r.partial[0] = -h * e * 2 * kFourLn2 * t / w;
  r.partial[1] = e;
  r.partial[2] = -r.partial[0];
  r.partial[3] = h * e * 2 * kFourLn2 * t * t / w;
  return r;
}

PeakValue<4> lorentzPeak(double x, double h, double c, double w) {
  PeakValue<4> r;
  const double t = (x - c) / w;
  const double d = 1 + 4 * t * t;
  r.value = h / d;
  const double common = h * 8 * t / (w * d * d);
  r.partial[0] = -common;
  r.partial[1] = 1 / d;
  r.partial[2] = common;
  r.partial[3] = common * t;
  return r;
}

PeakValue<5> pseudoVoigtPeak(double x, double h, double c, double w, double e) {
  const PeakValue<4> l = lorentzPeak(x, h, c, w);
  const PeakValue<4> g = gaussPeak(x, h, c, w);
  PeakValue<5> r;
  r.value = e * l.value + (1 - e) * g.value;
  for (int i = 0; i < 4; ++i) r.partial[i] = e * l.partial[i] + (1 - e) * g.partial[i];
  r.partial[4] = l.value - g.value;
  return r;
}

PeakValue<5> voigtPeak(double x, double a, double c, double wg, double wl) {
  PeakValue<5> r;
  const double u = x - c;
  const double sigma = std::fabs(wg) * kSigmaPerFwhm;
  const double gamma = std::fabs(wl) / 2;
  if (sigma == 0 && gamma == 0) {
    r.value = std::nan("");
    r.partial.fill(r.value);
    return r;
  }
  if (sigma <= 1e-9 * gamma) {
    // The Gaussian part is far below double precision: the Lorentzian, whose
    // derivative in the Gaussian width (proportional to it) vanishes too.
    const double s = u * u + gamma * gamma;
    const double shape = gamma / (std::numbers::pi * s);
    r.value = a * shape;
    r.partial[0] = -2 * a * gamma * u / (std::numbers::pi * s * s);
    r.partial[1] = shape;
    r.partial[2] = -r.partial[0];
    r.partial[3] = 0;
    r.partial[4] = a * (u * u - gamma * gamma) / (std::numbers::pi * s * s) * signOf(wl) / 2;
    return r;
  }
  const double scale = sigma * std::numbers::sqrt2;
  const Complex z(u / scale, gamma / scale);
  const Complex w = faddeeva(z);
  const Complex dw = faddeevaDerivative(z, w);
  const double norm = 1 / (sigma * std::sqrt(2 * std::numbers::pi));
  r.value = a * w.real() * norm;
  const double byU = a * dw.real() / (2 * kSqrtPi * sigma * sigma);
  const double byGamma = -a * dw.imag() / (2 * kSqrtPi * sigma * sigma);
  const double bySigma = a * norm / sigma * (-(dw * z).real() - w.real());
  r.partial[0] = byU;
  r.partial[1] = w.real() * norm;
  r.partial[2] = -byU;
  r.partial[3] = bySigma * signOf(wg) * kSigmaPerFwhm;
  r.partial[4] = byGamma * signOf(wl) / 2;
  return r;
}

double gaussValue(double x, double h, double c, double w) {
  const double t = (x - c) / w;
  return h * std::exp(-kFourLn2 * t * t);
}

double lorentzValue(double x, double h, double c, double w) {
  const double t = (x - c) / w;
  return h / (1 + 4 * t * t);
}

double pseudoVoigtValue(double x, double h, double c, double w, double e) {
  return e * lorentzValue(x, h, c, w) + (1 - e) * gaussValue(x, h, c, w);
}

double voigtValue(double x, double a, double c, double wg, double wl) {
  return voigtPeak(x, a, c, wg, wl).value;
}

namespace {

/// A Voigt profile's FWHM with its derivatives in |wg| and |wl|. The half
/// width u solves Re w((u + i gamma)/s) = Re w(i gamma/s) / 2 (s = sigma
/// sqrt 2; the profile's factor 1/sigma cancels), found by Newton's method
/// from the approximation of Olivero and Longbothum (1977), which is within
/// 0.03 % of it. The FWHM is homogeneous of degree 1 in (s, gamma), so
/// s du/ds = u - gamma du/dgamma, and du/dgamma follows from the implicit
/// equation.
struct VoigtWidth {
  double fwhm = 0, byGauss = 0, byLorentz = 0;
};

VoigtWidth voigtWidth(double wg, double wl) {
  // Computed at unit scale (the FWHM is proportional to it, its derivatives
  // do not depend on it), so that no square overflows or underflows.
  const double scale = std::max(std::fabs(wg), std::fabs(wl));
  if (!(scale > 0) || !std::isfinite(scale)) return {scale, 0, 1};
  const double g = std::fabs(wg) / scale, l = std::fabs(wl) / scale;
  const double sigma = g * kSigmaPerFwhm, gamma = l / 2;
  if (sigma <= 1e-9 * gamma) return {l * scale, 0, 1};
  if (gamma == 0) return {g * scale, 1, 0};
  const double s = sigma * std::numbers::sqrt2;
  const Complex z0(0, gamma / s);
  const Complex w0 = faddeeva(z0);
  const double half = w0.real() / 2;
  double u = (0.5346 * l + std::sqrt(0.2166 * l * l + g * g)) / 2;
  Complex dw;
  for (int i = 0; i < 50; ++i) {
    const Complex z(u / s, gamma / s);
    const Complex w = faddeeva(z);
    dw = faddeevaDerivative(z, w);
    const double step = (w.real() - half) / (dw.real() / s);
    u -= step;
    if (!(std::fabs(step) > 1e-15 * u)) break;
  }
  const Complex dw0 = faddeevaDerivative(z0, w0);
  // d/dgamma of Re w((u + i gamma)/s) - Re w(i gamma/s)/2 over d/du of it.
  const double byGamma = (-dw.imag() + dw0.imag() / 2) / dw.real();
  const double duDgamma = -byGamma;
  const double duDs = (u - gamma * duDgamma) / s;
  return {2 * u * scale, 2 * duDs * kSigmaPerFwhm * std::numbers::sqrt2, duDgamma};
}

}  // namespace

double voigtFwhm(double wg, double wl) {
  return voigtWidth(wg, wl).fwhm;
}

namespace {

/// value and sqrt(g^T C g) for n arguments.
Measured propagate(double value, const double* g, const double* covariance, int n) {
  double variance = 0;
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b) variance += g[a] * covariance[a * n + b] * g[b];
  return {value, std::sqrt(std::max(variance, 0.0))};
}

}  // namespace

PeakMeasures peakMeasures(PeakShape shape, const double* p, const double* covariance) {
  // sqrt(pi / (4 ln 2)): the area of a Gaussian of height and FWHM 1.
  const double gaussUnit = std::sqrt(std::numbers::pi / kFourLn2);
  const double lorentzUnit = std::numbers::pi / 2;
  PeakMeasures m;
  switch (shape) {
    case PeakShape::Gauss:
    case PeakShape::Lorentz: {
      const double unit = shape == PeakShape::Gauss ? gaussUnit : lorentzUnit;
      const double w = std::fabs(p[2]);
      const double gArea[3] = {unit * w, 0, unit * p[0] * signOf(p[2])};
      const double gWidth[3] = {0, 0, signOf(p[2])};
      m.area = propagate(unit * p[0] * w, gArea, covariance, 3);
      m.fwhm = propagate(w, gWidth, covariance, 3);
      break;
    }
    case PeakShape::PseudoVoigt: {
      const double h = p[0], w = std::fabs(p[2]), e = p[3];
      const double unit = e * lorentzUnit + (1 - e) * gaussUnit;
      const double gArea[4] = {unit * w, 0, unit * h * signOf(p[2]),
                               h * w * (lorentzUnit - gaussUnit)};
      const double gWidth[4] = {0, 0, signOf(p[2]), 0};
      m.area = propagate(unit * h * w, gArea, covariance, 4);
      m.fwhm = propagate(w, gWidth, covariance, 4);
      break;
    }
    case PeakShape::Voigt: {
      const VoigtWidth v = voigtWidth(p[2], p[3]);
      const double gArea[4] = {1, 0, 0, 0};
      const double gWidth[4] = {0, 0, v.byGauss * signOf(p[2]), v.byLorentz * signOf(p[3])};
      m.area = propagate(p[0], gArea, covariance, 4);
      m.fwhm = propagate(v.fwhm, gWidth, covariance, 4);
      break;
    }
  }
  return m;
}

}  // namespace varnix
