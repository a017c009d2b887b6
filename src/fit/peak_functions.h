#pragma once

#include <array>

namespace varnix {

/// The value of a peak function with its partial derivatives, in the order
/// of the function's arguments (x first).
template <int N>
struct PeakValue {
  double value = 0;
  std::array<double, N> partial{};
};

/// gauss(x, h, c, w) = h exp(-4 ln2 (x-c)^2 / w^2): height h, centre c, full
/// width at half maximum w (its sign does not matter). w = 0 gives NaN.
PeakValue<4> gaussPeak(double x, double h, double c, double w);

/// lorentz(x, h, c, w) = h / (1 + 4 (x-c)^2 / w^2): height, centre, FWHM.
PeakValue<4> lorentzPeak(double x, double h, double c, double w);

/// pvoigt(x, h, c, w, e) = e lorentz(x,h,c,w) + (1-e) gauss(x,h,c,w).
PeakValue<5> pseudoVoigtPeak(double x, double h, double c, double w, double e);

/// voigt(x, a, c, wg, wl): the convolution of a Gaussian of FWHM wg and a
/// Lorentzian of FWHM wl, normalised to area a and centred at c, computed
/// from the Faddeeva function w(z). The signs of the widths do not matter;
/// wg = 0 is the Lorentzian, wl = 0 the Gaussian, both 0 give NaN.
PeakValue<5> voigtPeak(double x, double a, double c, double wg, double wl);

/// The values alone, for evaluations without derivatives.
double gaussValue(double x, double h, double c, double w);
double lorentzValue(double x, double h, double c, double w);
double pseudoVoigtValue(double x, double h, double c, double w, double e);
double voigtValue(double x, double a, double c, double wg, double wl);

/// The FWHM of a Voigt profile, solved from the Faddeeva function to 1e-12
/// relative (not the approximation 0.5346 wl + sqrt(0.2166 wl^2 + wg^2) of
/// Olivero and Longbothum, which is off by up to 0.03 %).
double voigtFwhm(double wg, double wl);

/// The peak functions of the model language.
enum class PeakShape { Gauss, Lorentz, PseudoVoigt, Voigt };

/// A derived quantity with its standard error.
struct Measured {
  double value = 0;
  double error = 0;
};

/// A peak's area and FWHM with their standard errors, from the fitted values
/// of its arguments after x (h, c, w for gauss and lorentz; h, c, w, e for
/// pvoigt; a, c, wg, wl for voigt) and their covariance (row-major, as many
/// rows as arguments): the error is sqrt(g^T C g), g the gradient of the
/// quantity in the arguments. A Voigt profile's FWHM is voigtFwhm.
struct PeakMeasures {
  Measured area, fwhm;
};
PeakMeasures peakMeasures(PeakShape shape, const double* arguments, const double* covariance);

}  // namespace varnix
