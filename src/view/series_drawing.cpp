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

namespace {

/// The smallest and largest y of points and blocks taken so far, and a
/// poison that becomes a NaN once one of them is not finite.
struct Span {
  double lo = std::numeric_limits<double>::infinity(), hi = -lo, poison = 0;

  void add(const Point& p) {
    lo = std::min(lo, p.y);
    hi = std::max(hi, p.y);
    poison += p.x * 0 + p.y * 0;
  }
  /// A block's extremes; its lo is a NaN if a point in it is not finite.
  template <typename Block>
  void add(const Block& b) {
    lo = std::min(lo, b.lo);
    hi = std::max(hi, b.hi);
    poison += b.lo * 0;
  }
  template <typename Item>
  void addAll(const Item* items, std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to; ++k) add(items[k]);
  }
  bool finite() const { return poison == 0; }
};

}  // namespace

void BlockSummary::build(const std::vector<Point>& points) {
  const std::size_t n = points.size();
  m_data = points.data();
  m_count = n;
  m_ascending = true;
  for (std::size_t j = 1; j < n && m_ascending; ++j) m_ascending = points[j - 1].x <= points[j].x;
  m_levels.clear();
  m_built = true;
  if (!m_ascending) return;
  // Each level from the one below: the points, then blocks of blocks.
  auto summarise = [](const auto* items, std::size_t blocks, std::size_t per) {
    std::vector<Extremes> level(blocks);
    for (std::size_t b = 0; b < blocks; ++b) {
      Span span;
      span.addAll(items, b * per, (b + 1) * per);
      level[b] = {span.finite() ? span.lo : std::numeric_limits<double>::quiet_NaN(), span.hi};
    }
    return level;
  };
  m_levels.push_back(summarise(points.data(), n / kBlockPoints, kBlockPoints));
  while (m_levels.back().size() >= kFanOut) {
    const std::vector<Extremes>& below = m_levels.back();
    std::vector<Extremes> above = summarise(below.data(), below.size() / kFanOut, kFanOut);
    m_levels.push_back(std::move(above));
  }
}

bool BlockSummary::extremes(const Point* points, std::size_t first, std::size_t last, double& lo,
                            double& hi) const {
  Span span;
  auto roundUp = [](std::size_t v, std::size_t m) { return (v + m - 1) / m * m; };
  auto roundDown = [](std::size_t v, std::size_t m) { return v / m * m; };
  // The points before the first and after the last whole block, then at
  // each level the blocks outside the whole blocks of the level above.
  const std::size_t a = std::min(last, roundUp(first, kBlockPoints));
  const std::size_t b = std::max(a, roundDown(last, kBlockPoints));
  span.addAll(points, first, a);
  span.addAll(points, b, last);
  std::size_t from = a / kBlockPoints, to = b / kBlockPoints;
  for (std::size_t l = 0; from < to; ++l) {
    std::size_t innerFrom = to, innerTo = to;
    if (l + 1 < m_levels.size()) {
      innerFrom = std::min(to, roundUp(from, kFanOut));
      innerTo = std::max(innerFrom, roundDown(to, kFanOut));
    }
    span.addAll(m_levels[l].data(), from, innerFrom);
    span.addAll(m_levels[l].data(), innerTo, to);
    from = innerFrom / kFanOut;
    to = innerTo / kFanOut;
  }
  lo = span.lo;
  hi = span.hi;
  return span.finite();
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

/// The walk for ascending x: the columns ascend too, so the points near the
/// clip are found by bisection and each column's run by galloping from where
/// the last run's length says it ends; the extremes of a run come from the
/// summary.
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
  // On a logarithmic axis only positive values keep their order in pixels.
  const bool logarithmic = yMap.logarithmic();
  RunReducer runs(out);
  std::size_t guess = 1;
  std::size_t j = begin;
  while (j < end) {
    if (!finitePoint(pts[j])) {
      runs.breakLine();
      ++j;
      continue;
    }
    const double c = column(j);
    const std::size_t past = runEnd(j, end, guess, [&](std::size_t k) { return column(k) == c; });
    guess = past - j;
    runs.begin(c, row(pts[j].y));
    double lo = 0, hi = 0;
    if (past - j == 1) {
      // A run of one point is its own line end.
    } else if (summary.extremes(pts, j + 1, past, lo, hi) && (!logarithmic || lo > 0)) {
      runs.extend(row(lo), row(hi));
      runs.setLast(row(pts[past - 1].y));
    } else {
      // After a point that is not drawn, the rest of the run goes point by
      // point: each piece is a run of its own.
      for (std::size_t k = j + 1; k < past; ++k) {
        if (!finitePoint(pts[k]))
          runs.breakLine();
        else
          runs.add(c, row(pts[k].y));
      }
    }
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
