#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "workspace/graph_store.h"

namespace varnix {

/// Throws Error unless threshold > 0 and 1 <= width <= kMaxDespikeWidth.
void checkDespikeParameters(double threshold, long long width);
inline constexpr long long kMaxDespikeWidth = 10000;

/// The spike points of Whitaker and Hayes (2018): the modified z-score
/// 0.6745 (d - median d) / MAD of the first differences d_i = y_{i+1} - y_i
/// flags the differences with |z| > threshold (with MAD = 0, those that
/// differ from the median); flagged differences at most width apart (in
/// index) form a run, widened by the differences beside it with |z| above
/// threshold / 2. The points enclosed by a run's first and last difference
/// are spike points when they are at most width and the run goes back (its
/// first and last difference of opposite sign); a run within width points
/// of an end of the curve makes the points up to that end spike points; any
/// other run is a step or a real peak. Ascending indices.
std::vector<std::size_t> spikePoints(std::span<const double> y, double threshold,
                                     std::size_t width);

/// Replaces each spike point by the mean of the original values within width
/// points on either side that are not spike points (a spike point without
/// such neighbours stays). Returns the number of points replaced.
std::size_t despikeValues(std::vector<double>& y, double threshold, std::size_t width);

/// Removes spikes from each of the rows' graphs (takes undo copies, enables
/// Undo); returns the number of points replaced.
std::size_t despikeGraphs(GraphStore& store, const std::vector<std::size_t>& rows, double threshold,
                          std::size_t width);

}  // namespace varnix
