#pragma once

#include <QLineF>
#include <QPointF>
#include <QRect>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "workspace/graph_store.h"

namespace varnix {

/// Where axis values land on the screen: lower maps to origin, upper to
/// origin + length (a negative length for the left axis, whose pixels grow
/// downwards). On a logarithmic axis the map is linear in the logarithm and
/// values that have none land at offAxis, outside the plot.
class AxisMap {
 public:
  AxisMap() = default;
  AxisMap(double lower, double upper, double origin, double length, bool logarithmic,
          double offAxis);

  double pixel(double v) const {
    if (!m_log) return m_origin + (v - m_lower) * m_factor;
    if (!(v > 0)) return m_offAxis;
    return m_origin + std::log(v / m_lower) * m_factor;
  }
  bool logarithmic() const { return m_log; }

 private:
  double m_lower = 0, m_origin = 0, m_factor = 1, m_offAxis = 0;
  bool m_log = false;
};

/// A point's place in device pixels: a quarter pixel into the pixel the
/// mapped value falls in (of a device `resolution` times finer than the
/// painter's units), kept within a billion pixels. A quarter pixel is never
/// on a pixel border or centre, so the rasteriser has no tie to break and
/// each segment lights the same pixels whichever way it is drawn.
/// Non-finite values stay non-finite.
inline double snapToPixel(double p, double resolution) {
  constexpr double kFar = 1e9;
  if (p < -kFar) p = -kFar;
  if (p > kFar) p = kFar;
  p *= resolution;
  if (!(p == p)) return p;
  // floor without a library call: exact for |p| <= 1e9 * resolution.
  auto whole = static_cast<double>(static_cast<std::int64_t>(p));
  if (whole > p) whole -= 1;
  return (whole + 0.25) / resolution;
}

/// The first index in [first, last) for which below(j) is false, for a
/// predicate that holds on a prefix.
template <typename Below>
std::size_t firstNotBelow(std::size_t first, std::size_t last, Below below) {
  while (first < last) {
    const std::size_t mid = first + (last - first) / 2;
    if (below(mid))
      first = mid + 1;
    else
      last = mid;
  }
  return first;
}

/// The first index in (j, end) for which inRun is false, or end, for a
/// predicate that holds on a prefix of [j, end): galloping out from
/// j + guess, so that a guess that is right costs two calls.
template <typename InRun>
std::size_t runEnd(std::size_t j, std::size_t end, std::size_t guess, InRun inRun) {
  const std::size_t probe = std::min(end, j + std::max<std::size_t>(guess, 1));
  // inRun holds before lo and fails from hi on.
  std::size_t lo = j + 1, hi = probe, step = 1;
  if (probe < end && inRun(probe)) {
    lo = probe + 1;
    while (step < end - probe && inRun(probe + step)) {
      lo = probe + step + 1;
      step *= 2;
    }
    hi = std::min(end, probe + step);
  } else {
    while (step < probe - j && !inRun(probe - step)) {
      hi = probe - step;
      step *= 2;
    }
    lo = step < probe - j ? probe - step + 1 : j + 1;
  }
  return firstNotBelow(lo, hi, inRun);
}

/// Smallest and largest y of the points of an ascending series in blocks
/// of kBlockPoints, and of blocks of kFanOut such blocks, and so on up, so
/// that the extremes of any run of points come from a few values per level
/// instead of a visit to every point. Built from the points; stale once
/// they change.
class BlockSummary {
 public:
  static constexpr std::size_t kBlockPoints = 32;
  static constexpr std::size_t kFanOut = 8;

  /// Scans the points once; remembers whether x ascends.
  void build(const std::vector<Point>& points);
  bool matches(const std::vector<Point>& points) const {
    return m_built && m_data == points.data() && m_count == points.size();
  }
  void clear() { m_built = false; }
  bool ascending() const { return m_ascending; }
  /// The smallest and largest y of points [first, last) into lo and hi;
  /// false (lo and hi then unspecified) if one of them has a non-finite x
  /// or y. Only for an ascending series the summary matches.
  bool extremes(const Point* points, std::size_t first, std::size_t last, double& lo,
                double& hi) const;
  /// How many levels of blocks there are (none for a series that does not
  /// ascend).
  std::size_t levels() const { return m_levels.size(); }

 private:
  /// A block's extremes; lo is a NaN if a point in it is not finite.
  struct Extremes {
    double lo, hi;
  };
  bool m_built = false;
  const Point* m_data = nullptr;
  std::size_t m_count = 0;
  bool m_ascending = true;
  /// Level l holds the whole blocks of kBlockPoints * kFanOut^l points.
  std::vector<std::vector<Extremes>> m_levels;
};

/// Segments that light exactly the pixels of drawing every segment between
/// the series' points in list order as one-pixel lines without
/// antialiasing, with far fewer segments: every run of consecutive points
/// that fall in the same pixel column becomes one vertical segment from its
/// lowest to its highest point, joined to the runs before and after it. A
/// point with a non-finite coordinate is not drawn and breaks the line.
/// Only points near `clip` are visited when x ascends (the summary, used
/// only when it matches the points, says whether it does); otherwise every
/// point is, and segments wholly outside `clip` are left out. The segments
/// replace those in out.
void reduceSegments(const std::vector<Point>& points, const BlockSummary& summary,
                    const AxisMap& xMap, const AxisMap& yMap, double resolution, const QRect& clip,
                    std::vector<QLineF>& out);

/// Every segment between consecutive points, mapped and snapped as
/// reduceSegments maps them: the drawing it must match.
void allSegments(const std::vector<Point>& points, const AxisMap& xMap, const AxisMap& yMap,
                 double resolution, std::vector<QLineF>& out);

}  // namespace varnix
