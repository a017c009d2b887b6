#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "workspace/graph_store.h"

namespace varnix {

/// A peak found in the data, with starting values for a fit.
struct PeakGuess {
  std::size_t index = 0;  ///< the point at the top
  double centre = 0;      ///< x of the top
  double height = 0;      ///< above the base
  double fwhm = 0;        ///< full width where the data cross base + height / 2
  double base = 0;        ///< the higher of the lowest points on either side
  double prominence = 0;  ///< height above the base (the same as height)
};

/// The local maxima whose prominence is at least minProminence, in order of
/// x: a maximum's prominence is its height above the higher of the lowest
/// points between it and the nearest higher point on each side (or the end
/// of the data). A flat top counts once, at its middle. The points are taken
/// in list order.
std::vector<PeakGuess> findPeaks(std::span<const Point> points, double minProminence);

/// Guesses centre, height and width of the peak around a clicked x: from the
/// point nearest to x, uphill to the local maximum, then as findPeaks
/// measures it. nullopt for fewer than three points.
std::optional<PeakGuess> guessPeak(std::span<const Point> points, double x);

}  // namespace varnix
