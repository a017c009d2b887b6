#include "app/fit_components.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>

#include "fit/peak_functions.h"

namespace varnix {
namespace {

/// The area of a Gaussian of height 1 and FWHM 1: sqrt(pi / (4 ln 2)).
const double kGaussArea = std::sqrt(std::numbers::pi / (4 * std::numbers::ln2));
constexpr double kLorentzArea = std::numbers::pi / 2;

/// sqrt(g' C g) with g the gradient of f at v by central differences.
double propagatedError(const std::function<double(std::span<const double>)>& f,
                       std::span<const double> v, std::span<const double> covariance) {
  const std::size_t n = v.size();
  if (covariance.size() != n * n) return std::numeric_limits<double>::quiet_NaN();
  std::vector<double> g(n), p(v.begin(), v.end());
  for (std::size_t i = 0; i < n; ++i) {
    const double h = 1e-6 * std::max(std::abs(v[i]), 1e-6);
    p[i] = v[i] + h;
    const double up = f(p);
    p[i] = v[i] - h;
    const double down = f(p);
    p[i] = v[i];
    g[i] = (up - down) / (2 * h);
  }
  double var = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) var += g[i] * covariance[i * n + j] * g[j];
  return std::sqrt(std::max(var, 0.0));
}

}  // namespace

const std::vector<std::string>& baselineCaptions() {
  static const std::vector<std::string> captions = {"None",         "Constant",     "Linear",
                                                    "Polynomial 2", "Polynomial 3", "Polynomial 4",
                                                    "Polynomial 5", "Exponential"};
  return captions;
}

const std::vector<std::string>& peakCaptions() {
  static const std::vector<std::string> captions = {"Gaussian", "Lorentzian", "Pseudo-Voigt",
                                                    "Voigt"};
  return captions;
}

std::string baselineFormula(BaselineKind kind) {
  switch (kind) {
    case BaselineKind::None:
      return {};
    case BaselineKind::Exponential:
      return "b0*exp(b1*x)";
    default:
      break;
  }
  const int degree = static_cast<int>(kind) - static_cast<int>(BaselineKind::Constant);
  std::string f = "b0";
  for (int k = 1; k <= degree; ++k) {
    f += " + b" + std::to_string(k) + "*x";
    if (k > 1) f += "^" + std::to_string(k);
  }
  return f;
}

std::string peakFormula(const PeakComponent& peak) {
  const std::string n = std::to_string(peak.id);
  switch (peak.kind) {
    case PeakKind::Gauss:
      return "gauss(x,h" + n + ",c" + n + ",w" + n + ")";
    case PeakKind::Lorentz:
      return "lorentz(x,h" + n + ",c" + n + ",w" + n + ")";
    case PeakKind::PseudoVoigt:
      return "pvoigt(x,h" + n + ",c" + n + ",w" + n + ",e" + n + ")";
    case PeakKind::Voigt:
      return "voigt(x,a" + n + ",c" + n + ",wg" + n + ",wl" + n + ")";
  }
  return {};
}

std::string modelFormula(BaselineKind baseline, const std::vector<PeakComponent>& peaks) {
  std::string f = baselineFormula(baseline);
  for (const PeakComponent& p : peaks) f += (f.empty() ? "" : " + ") + peakFormula(p);
  return f.empty() ? "0" : f;
}

std::vector<double> baselineStarts(BaselineKind kind, double minY) {
  if (kind == BaselineKind::None) return {};
  if (kind == BaselineKind::Exponential) return {minY, 0};
  std::vector<double> starts(
      static_cast<std::size_t>(static_cast<int>(kind) - static_cast<int>(BaselineKind::Constant)) +
          1,
      0.0);
  starts[0] = minY;
  return starts;
}

std::vector<double> peakStarts(PeakKind kind, const PeakGuess& guess, bool aboveBase) {
  const double h = aboveBase ? guess.height : guess.height + guess.base;
  const double w = guess.fwhm > 0 ? guess.fwhm : 1;
  switch (kind) {
    case PeakKind::Gauss:
    case PeakKind::Lorentz:
      return {h, guess.centre, w};
    case PeakKind::PseudoVoigt:
      return {h, guess.centre, w, 0.5};
    case PeakKind::Voigt:
      // Equal Gaussian and Lorentzian widths of 0.6 w give a FWHM close to
      // w; the area lies between the Gaussian's and the Lorentzian's.
      return {h * w * (kGaussArea + kLorentzArea) / 2, guess.centre, 0.6 * w, 0.6 * w};
  }
  return {};
}

PeakSummary peakShape(PeakKind kind, std::span<const double> values,
                      std::span<const double> covariance) {
  std::function<double(std::span<const double>)> area, fwhm;
  switch (kind) {
    case PeakKind::Gauss:
      area = [](std::span<const double> v) { return kGaussArea * v[0] * std::abs(v[2]); };
      fwhm = [](std::span<const double> v) { return std::abs(v[2]); };
      break;
    case PeakKind::Lorentz:
      area = [](std::span<const double> v) { return kLorentzArea * v[0] * std::abs(v[2]); };
      fwhm = [](std::span<const double> v) { return std::abs(v[2]); };
      break;
    case PeakKind::PseudoVoigt:
      area = [](std::span<const double> v) {
        return v[0] * std::abs(v[2]) * (v[3] * kLorentzArea + (1 - v[3]) * kGaussArea);
      };
      fwhm = [](std::span<const double> v) { return std::abs(v[2]); };
      break;
    case PeakKind::Voigt:
      area = [](std::span<const double> v) { return v[0]; };
      fwhm = [](std::span<const double> v) { return voigtFwhm(std::abs(v[2]), std::abs(v[3])); };
      break;
  }
  PeakSummary s;
  s.area = area(values);
  s.fwhm = fwhm(values);
  s.areaError = propagatedError(area, values, covariance);
  s.fwhmError = propagatedError(fwhm, values, covariance);
  return s;
}

std::vector<double> covarianceOf(const FitResult& result, const std::vector<std::size_t>& indices) {
  const std::size_t n = result.values.size();
  if (!result.errorsDetermined || result.covariance.size() != n * n) return {};
  std::vector<double> block;
  block.reserve(indices.size() * indices.size());
  for (std::size_t i : indices)
    for (std::size_t j : indices) block.push_back(result.covariance[i * n + j]);
  return block;
}

}  // namespace varnix
