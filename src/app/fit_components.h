#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "fit/least_squares.h"
#include "fit/peak_finding.h"

namespace varnix {

/// The baselines the Fit window offers, in the order of its list.
enum class BaselineKind { None, Constant, Linear, Poly2, Poly3, Poly4, Poly5, Exponential };
/// The peak shapes the Fit window offers, in the order of its list.
enum class PeakKind { Gauss, Lorentz, PseudoVoigt, Voigt };

/// One peak of a model built in the Fit window; id numbers its parameters
/// (h1, c1, w1) and stays when other peaks are removed.
struct PeakComponent {
  PeakKind kind = PeakKind::Gauss;
  int id = 1;
};

/// The captions of the baseline and peak lists.
const std::vector<std::string>& baselineCaptions();
const std::vector<std::string>& peakCaptions();

/// The baseline as a model formula ("b0 + b1*x"); empty for none.
std::string baselineFormula(BaselineKind kind);
/// A peak as a model formula ("gauss(x,h1,c1,w1)").
std::string peakFormula(const PeakComponent& peak);
/// Baseline and peaks joined by " + " (the formula the history records);
/// "0" for an empty model.
std::string modelFormula(BaselineKind baseline, const std::vector<PeakComponent>& peaks);

/// Starting values of a baseline's parameters (in formula order) for points
/// whose lowest y is minY.
std::vector<double> baselineStarts(BaselineKind kind, double minY);
/// Starting values of a peak's parameters (in formula order) from a guess;
/// with a baseline the height is taken above the guess's base, without one
/// from zero.
std::vector<double> peakStarts(PeakKind kind, const PeakGuess& guess, bool aboveBase);

/// The area and FWHM of a fitted peak with their standard errors, propagated
/// through the covariance of its parameters (NaN errors when not determined).
struct PeakSummary {
  double area = 0, areaError = 0, fwhm = 0, fwhmError = 0;
};
/// values: the peak's parameters in formula order; covariance: their
/// covariance matrix (row-major, values.size() squared), empty when the
/// errors are not determined.
PeakSummary peakShape(PeakKind kind, std::span<const double> values,
                      std::span<const double> covariance);

/// The covariance block of the named parameters out of a fit result.
std::vector<double> covarianceOf(const FitResult& result, const std::vector<std::size_t>& indices);

}  // namespace varnix
