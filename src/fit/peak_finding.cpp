#include "fit/peak_finding.h"

#include <cmath>
#include <limits>

namespace varnix {
namespace {

/// Measures the maximum whose flat top spans points first..last.
PeakGuess measurePeak(std::span<const Point> pts, std::size_t first, std::size_t last) {
  const double top = pts[first].y;
  constexpr double kNone = std::numeric_limits<double>::infinity();
  // The lowest point on each side before a higher one (or the end).
  double leftMin = kNone, rightMin = kNone;
  for (std::size_t i = first; i-- > 0 && pts[i].y <= top;) leftMin = std::min(leftMin, pts[i].y);
  for (std::size_t i = last + 1; i < pts.size() && pts[i].y <= top; ++i)
    rightMin = std::min(rightMin, pts[i].y);
  PeakGuess g;
  g.index = first + (last - first) / 2;
  g.centre = pts[g.index].x;
  if (leftMin == kNone && rightMin == kNone) {
    g.base = top;
    return g;
  }
  g.base = leftMin == kNone ? rightMin : rightMin == kNone ? leftMin : std::max(leftMin, rightMin);
  g.height = g.prominence = top - g.base;
  // Where the data cross half the height on either side, interpolated.
  const double half = g.base + g.height / 2;
  auto crossing = [&](std::size_t inside, std::size_t outside) {
    const Point& a = pts[inside];
    const Point& b = pts[outside];
    return a.x + (half - a.y) * (b.x - a.x) / (b.y - a.y);
  };
  double left = pts.front().x, right = pts.back().x;
  for (std::size_t i = first; i-- > 0;)
    if (pts[i].y < half) {
      left = crossing(i + 1, i);
      break;
    }
  for (std::size_t i = last + 1; i < pts.size(); ++i)
    if (pts[i].y < half) {
      right = crossing(i - 1, i);
      break;
    }
  g.fwhm = std::fabs(right - left);
  return g;
}

}  // namespace

std::vector<PeakGuess> findPeaks(std::span<const Point> pts, double minProminence) {
  std::vector<PeakGuess> out;
  const std::size_t n = pts.size();
  for (std::size_t i = 1; i + 1 < n; ++i) {
    if (!(pts[i].y > pts[i - 1].y)) continue;
    std::size_t j = i;
    while (j + 1 < n && pts[j + 1].y == pts[i].y) ++j;
    if (j + 1 < n && pts[j + 1].y < pts[i].y) {
      const PeakGuess g = measurePeak(pts, i, j);
      if (g.prominence >= minProminence && g.prominence > 0) out.push_back(g);
    }
    i = j;
  }
  return out;
}

std::optional<PeakGuess> guessPeak(std::span<const Point> pts, double x) {
  const std::size_t n = pts.size();
  if (n < 3 || std::isnan(x)) return std::nullopt;
  std::size_t at = 0;
  for (std::size_t i = 1; i < n; ++i)
    if (std::fabs(pts[i].x - x) < std::fabs(pts[at].x - x)) at = i;
  // Uphill to the top, then across a flat top.
  for (;;) {
    const double here = pts[at].y;
    const double left = at > 0 ? pts[at - 1].y : -std::numeric_limits<double>::infinity();
    const double right = at + 1 < n ? pts[at + 1].y : -std::numeric_limits<double>::infinity();
    if (left > here && left >= right)
      --at;
    else if (right > here)
      ++at;
    else
      break;
  }
  std::size_t first = at, last = at;
  while (first > 0 && pts[first - 1].y == pts[at].y) --first;
  while (last + 1 < n && pts[last + 1].y == pts[at].y) ++last;
  const PeakGuess g = measurePeak(pts, first, last);
  if (!(g.height > 0)) return std::nullopt;
  return g;
}

}  // namespace varnix
