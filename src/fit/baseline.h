#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "workspace/graph_store.h"

namespace varnix {

/// Throws Error unless 0 < lambda <= kMaxAlsLambda and 0 < p < 1.
void checkAlsParameters(double lambda, double p);
inline constexpr double kMaxAlsLambda = 1e12;  // as the message says

/// The asymmetric least squares baseline of Eilers and Boelens (2005):
/// weights start at 1; ten times (W + lambda D'D) z = W y is solved (D the
/// second-difference matrix) and w set to p where y > z, else 1 - p; the z
/// of the tenth solve is returned. Banded Cholesky solves: linear in the
/// number of points. Fewer than three points give y itself.
std::vector<double> alsBaseline(std::span<const double> y, double lambda, double p);

/// An x range of a polynomial baseline (either order).
using XRange = std::pair<double, double>;

/// The least-squares polynomial of the given degree (0 to kMaxBaselineDegree)
/// through the points with x inside any of the ranges, on x centred on and
/// scaled by those points' x span, evaluated at every point. Throws Error
/// when the ranges hold no more points than the degree.
/// Throws Error for a degree outside 0..kMaxBaselineDegree, no range, or a
/// range end that is not a number.
void checkPolynomialBaseline(int degree, std::span<const XRange> ranges);
std::vector<double> polynomialBaseline(std::span<const Point> points, int degree,
                                       std::span<const XRange> ranges);
inline constexpr int kMaxBaselineDegree = 10;

/// Subtracts the ALS baseline from each of the rows' graphs. Every graph's
/// baseline is computed before any graph changes; takes undo copies and
/// enables Undo.
void subtractAlsBaseline(GraphStore& store, const std::vector<std::size_t>& rows, double lambda,
                         double p);
/// Subtracts the polynomial baseline from each of the rows' graphs; a graph
/// whose ranges hold too few points refuses the whole command (Error naming
/// it) before anything changes. Takes undo copies and enables Undo.
void subtractPolynomialBaseline(GraphStore& store, const std::vector<std::size_t>& rows, int degree,
                                std::span<const XRange> ranges);

}  // namespace varnix
