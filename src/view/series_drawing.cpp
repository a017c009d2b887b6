#include "view/series_drawing.h"

#include <algorithm>
#include <limits>

namespace varnix {

AxisMap::AxisMap(double lower, double upper, double origin, double length, bool logarithmic,
                 double offAxis)
    : m_lower(lower), m_origin(origin), m_offAxis(offAxis), m_log(logarithmic) {
  if (m_log)
    m_factor = length / std::log(upper / lower);
  else
    m_factor = length / (upper - lower);
}

void BlockSummary::build(const std::vector<Point>& points) {
  const std::size_t n = points.size();
  m_data = points.data();
  m_count = n;
  m_ascending = true;
  for (std::size_t j = 1; j < n && m_ascending; ++j) m_ascending = points[j - 1].x <= points[j].x;
  const std::size_t blocks = m_ascending ? n / kBlockPoints : 0;
  m_min.resize(blocks);
  m_max.resize(blocks);
  m_finite.resize(blocks);
  m_firstX.resize(m_ascending ? (n + kBlockPoints - 1) / kBlockPoints : 0);
  for (std::size_t b = 0; b < m_firstX.size(); ++b) m_firstX[b] = points[b * kBlockPoints].x;
  for (std::size_t b = 0; b < blocks; ++b) {
    const Point* p = points.data() + b * kBlockPoints;
    double lo = p[0].y, hi = p[0].y;
    bool finite = true;
    for (std::size_t k = 0; k < kBlockPoints; ++k) {
      lo = std::min(lo, p[k].y);
      hi = std::max(hi, p[k].y);
      finite &= std::isfinite(p[k].y) && std::isfinite(p[k].x);
    }
    m_min[b] = lo;
    m_max[b] = hi;
    m_finite[b] = finite ? 1 : 0;
  }
  m_built = true;
}

namespace {

/// Turns points, one pixel column run at a time, into segments: a run is
/// drawn as the vertical segment from its lowest to its highest point and
/// joined to the next run by the segment from its last point to that run's
/// first.
class RunReducer {
 public:
  explicit RunReducer(std::vector<QLineF>& out) : m_out(out) {}

  void add(double column, double y) {
    if (m_runOpen && column == m_column) {
      extend(y, y);
      m_last = y;
      return;
    }
    begin(column, y);
  }
  /// Starts a run of its own (also within the column of the last one).
  void begin(double column, double y) {
    flush();
    if (m_joinable) m_out.emplace_back(m_column, m_last, column, y);
    m_runOpen = true;
    m_column = column;
    m_low = m_high = m_last = y;
    m_many = false;
  }
  /// Adds points of the open run with these extreme pixel rows.
  void extend(double a, double b) {
    m_low = std::min({m_low, a, b});
    m_high = std::max({m_high, a, b});
    m_many = true;
  }
  void setLast(double y) {
    m_last = y;
    m_many = true;
  }
  /// A point that is not drawn: the line ends.
  void breakLine() {
    flush();
    m_joinable = false;
  }
  void finish() { flush(); }

 private:
  void flush() {
    if (!m_runOpen) return;
    m_runOpen = false;
    m_joinable = true;
    // Points in one pixel are still a (zero-length) segment.
    if (m_many) m_out.emplace_back(m_column, m_low, m_column, m_high);
  }

  std::vector<QLineF>& m_out;
  bool m_joinable = false;  ///< a run ended and no break came since
  bool m_runOpen = false;
  bool m_many = false;
  double m_column = 0, m_low = 0, m_high = 0, m_last = 0;
};

bool finitePoint(const Point& p) {
  return std::isfinite(p.x) && std::isfinite(p.y);
}

/// The list-order walk for series whose pixel columns do not ascend.
void reduceInListOrder(const std::vector<Point>& points, const AxisMap& xMap, const AxisMap& yMap,
                       double resolution, std::vector<QLineF>& out) {
  RunReducer runs(out);
  for (const Point& p : points) {
    if (!finitePoint(p)) {
      runs.breakLine();
      continue;
    }
    runs.add(snapToPixel(xMap.pixel(p.x), resolution), snapToPixel(yMap.pixel(p.y), resolution));
  }
  runs.finish();
}

/// Leaves out the segments that lie wholly beyond one side of clip (with a
/// pixel to spare).
void dropSegmentsOutside(std::vector<QLineF>& segments, const QRect& clip) {
  const double left = clip.left() - 2, right = clip.right() + 2;
  const double top = clip.top() - 2, bottom = clip.bottom() + 2;
  std::erase_if(segments, [&](const QLineF& s) {
    const QPointF a = s.p1(), b = s.p2();
    return (a.x() < left && b.x() < left) || (a.x() > right && b.x() > right) ||
           (a.y() < top && b.y() < top) || (a.y() > bottom && b.y() > bottom);
  });
}

/// Asks for the memory of [first, last) at once, so that a bisection
/// through it waits for memory once rather than at every step.
void prefetch(const Point* first, const Point* last) {
#if defined(__GNUC__)
  for (const char* p = reinterpret_cast<const char*>(first);
       p < reinterpret_cast<const char*>(last); p += 64)
    __builtin_prefetch(p);
#else
  (void)first;
  (void)last;
#endif
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

/// The walk for ascending x: the columns ascend too, so the points near the
/// clip are found by bisection and each column's run by galloping; the
/// extremes of whole blocks inside a run come from the summary.
void reduceAscending(const std::vector<Point>& points, const BlockSummary& summary,
                     const AxisMap& xMap, const AxisMap& yMap, double resolution, const QRect& clip,
                     std::vector<QLineF>& out) {
  const std::size_t n = points.size();
  const Point* pts = points.data();
  auto column = [&](std::size_t j) { return snapToPixel(xMap.pixel(pts[j].x), resolution); };
  auto row = [&](double y) { return snapToPixel(yMap.pixel(y), resolution); };
  const double left = clip.left() - 1, right = clip.right() + 1;
  const std::size_t firstIn = firstNotBelow(0, n, [&](std::size_t j) { return column(j) < left; });
  const std::size_t pastIn =
      firstNotBelow(firstIn, n, [&](std::size_t j) { return column(j) <= right; });
  // One point on each side joins the curve to the edges of the view.
  const std::size_t begin = firstIn > 0 ? firstIn - 1 : 0;
  const std::size_t end = std::min(n, pastIn + 1);
  const bool byValue = !yMap.logarithmic();
  constexpr std::size_t kBlock = BlockSummary::kBlockPoints;
  // Blocks that start before end.
  const std::size_t blocksBefore = (end + kBlock - 1) / kBlock;
  RunReducer runs(out);
  std::size_t j = begin;
  while (j < end) {
    if (!finitePoint(pts[j])) {
      runs.breakLine();
      ++j;
      continue;
    }
    const double c = column(j);
    // The run of column c: the last block that starts in it, by galloping
    // and bisecting over the blocks' first x, then the run's end by
    // bisecting inside that block.
    auto blockIn = [&](std::size_t b) {
      return snapToPixel(xMap.pixel(summary.firstX(b)), resolution) == c;
    };
    std::size_t last = j / kBlock, step = 1;
    while (last + step < blocksBefore && blockIn(last + step)) {
      last += step;
      step *= 2;
    }
    last = firstNotBelow(last + 1, std::min(blocksBefore, last + step + 1), blockIn) - 1;
    prefetch(pts + last * kBlock, pts + std::min(end, (last + 1) * kBlock));
    const std::size_t past =
        firstNotBelow(std::max(j + 1, last * kBlock), std::min(end, (last + 1) * kBlock),
                      [&](std::size_t k) { return column(k) == c; });
    runs.begin(c, row(pts[j].y));
    // After a point that is not drawn, the rest of the run goes point by
    // point: each piece is a run of its own.
    bool broken = false;
    std::size_t k = j + 1;
    while (k < past) {
      const std::size_t stop = std::min(past, (k / kBlock + 1) * kBlock);
      if (byValue && !broken) {
        if (k % kBlock == 0 && stop - k == kBlock && summary.finite(k / kBlock)) {
          runs.extend(row(summary.minY(k / kBlock)), row(summary.maxY(k / kBlock)));
          k = stop;
          continue;
        }
        // Any infinity or NaN makes `poison` a NaN; no branch per point.
        double lo = pts[k].y, hi = pts[k].y, poison = 0;
        for (std::size_t q = k; q < stop; ++q) {
          lo = std::min(lo, pts[q].y);
          hi = std::max(hi, pts[q].y);
          poison += pts[q].x * 0 + pts[q].y * 0;
        }
        if (poison == 0) {
          runs.extend(row(lo), row(hi));
          k = stop;
          continue;
        }
      }
      for (; k < stop; ++k) {
        if (!finitePoint(pts[k])) {
          runs.breakLine();
          broken = true;
        } else {
          runs.add(c, row(pts[k].y));
        }
      }
    }
    if (!broken && past - 1 > j) runs.setLast(row(pts[past - 1].y));
    j = past;
  }
  runs.finish();
}

}  // namespace

void reduceSegments(const std::vector<Point>& points, const BlockSummary& summary,
                    const AxisMap& xMap, const AxisMap& yMap, double resolution, const QRect& clip,
                    std::vector<QLineF>& out) {
  out.clear();
  if (points.empty()) return;
  // A magnified painter draws thicker lines, whose caps make every segment
  // count: there the series is drawn whole.
  if (resolution != 1) {
    allSegments(points, xMap, yMap, resolution, out);
    return;
  }
  // Columns ascend with x unless a logarithmic axis puts points without a
  // logarithm off to the side.
  const bool ascending = summary.matches(points) && summary.ascending() &&
                         (!xMap.logarithmic() || points.front().x > 0);
  if (ascending) {
    reduceAscending(points, summary, xMap, yMap, resolution, clip, out);
  } else {
    reduceInListOrder(points, xMap, yMap, resolution, out);
    dropSegmentsOutside(out, clip);
  }
}

void allSegments(const std::vector<Point>& points, const AxisMap& xMap, const AxisMap& yMap,
                 double resolution, std::vector<QLineF>& out) {
  out.clear();
  bool open = false;
  QPointF last;
  for (const Point& p : points) {
    if (!finitePoint(p)) {
      open = false;
      continue;
    }
    const QPointF q(snapToPixel(xMap.pixel(p.x), resolution),
                    snapToPixel(yMap.pixel(p.y), resolution));
    if (open) out.emplace_back(last, q);
    last = q;
    open = true;
  }
}

}  // namespace varnix
