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

/// The FWHM of a Voigt profile by the approximation of Olivero and Longbothum
/// (1977), good to 0.02 %: 0.5346 wl + sqrt(0.2166 wl^2 + wg^2).
double voigtFwhm(double wg, double wl);

}  // namespace varnix
