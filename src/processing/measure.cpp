#include "processing/measure.h"

#include <algorithm>
#include <cmath>

#include "workspace/number_text.h"

namespace varnix {
namespace {

enum class Order { Ascending, Descending, Mixed };

Order orderOf(const std::vector<Point>& pts) {
  bool up = true, down = true;
  // Without an early exit the loop vectorises; a curve is checked whole.
  for (std::size_t i = 1; i < pts.size(); ++i) {
    up &= pts[i].x >= pts[i - 1].x;
    down &= pts[i].x <= pts[i - 1].x;
  }
  return up ? Order::Ascending : down ? Order::Descending : Order::Mixed;
}

std::optional<double> finite(long double v) {
  const double d = static_cast<double>(v);
  if (!std::isfinite(d)) return std::nullopt;
  return d;
}

/// y at x on the polyline of the ascending points [begin, end) (bisection);
/// none outside.
template <typename It>
std::optional<double> yAt(It begin, It end, double x) {
  if (begin == end || x < begin->x || x > (end - 1)->x) return std::nullopt;
  It it = std::lower_bound(begin, end, x, [](const Point& p, double v) { return p.x < v; });
  if (it->x == x) return it->y;
  const Point& b = *it;
  const Point& a = *(it - 1);
  return finite(a.y + (static_cast<long double>(b.y) - a.y) * (static_cast<long double>(x) - a.x) /
                          (static_cast<long double>(b.x) - a.x));
}

/// The measurement of the ascending points [begin, end). The polyline
/// between the cursors is read in place (no copy): the interpolated value at
/// the lower cursor, the points inside, the interpolated value at the upper.
template <typename It>
void measureAscending(It begin, It end, double first, double second, Measurement& m) {
  const double lo = std::min(first, second), hi = std::max(first, second);
  m.yAtFirst = yAt(begin, end, first);
  m.yAtSecond = yAt(begin, end, second);
  const std::optional<double> yLo = yAt(begin, end, lo), yHi = yAt(begin, end, hi);
  const It from =
      std::lower_bound(begin, end, lo, [](const Point& p, double v) { return p.x < v; });
  const It to = std::upper_bound(from, end, hi, [](double v, const Point& p) { return v < p.x; });
  const bool head = yLo && (from == to || from->x > lo);
  const bool tail = yHi && (from == to || (to - 1)->x < hi);
  const std::size_t inside = static_cast<std::size_t>(to - from);
  const std::size_t n = inside + (head ? 1 : 0) + (tail ? 1 : 0);
  if (n == 0) return;
  auto at = [&](std::size_t k) -> Point {
    if (head) {
      if (k == 0) return {lo, *yLo};
      --k;
    }
    if (k < inside) return *(from + static_cast<std::ptrdiff_t>(k));
    return {hi, *yHi};
  };

  // One pass in double precision over the points inside (the readout shows
  // 7 digits; sums over a million terms stay far below that).
  std::size_t top = 0, bottom = 0;
  double area = 0, moment = 0;
  Point prev = at(0);
  double topY = prev.y, bottomY = prev.y;
  auto step = [&](const Point& p, std::size_t k) {
    if (p.y > topY) {
      topY = p.y;
      top = k;
    }
    if (p.y < bottomY) {
      bottomY = p.y;
      bottom = k;
    }
    const double a = prev.x, b = p.x, ya = prev.y, yb = p.y;
    area += (ya + yb) * (b - a) * 0.5;
    // The first moment of the straight piece, exactly.
    moment += (b - a) * (a * (2 * ya + yb) + b * (ya + 2 * yb)) * (1.0 / 6);
    prev = p;
  };
  std::size_t index = 1;
  It it = from;
  if (!head && it < to) ++it;  // at(0) is the first point inside
  for (; it < to; ++it) step(*it, index++);
  if (tail && n > 1) step(at(n - 1), index);
  m.maximum = at(top);
  m.minimum = at(bottom);
  if (n < 2 || !(hi > lo)) return;
  m.area = finite(area);
  if (area != 0) m.centroid = finite(moment / area);
  if (yLo && yHi) m.areaAboveBaseline = finite(area - (*yLo + *yHi) * (hi - lo) / 2);

  const long double half = static_cast<long double>(topY) / 2;
  if (topY > 0) {
    auto crossing = [&](std::size_t in, std::size_t out) {
      const Point a = at(in), b = at(out);
      const long double xa = a.x, ya = a.y, xb = b.x, yb = b.y;
      return xa + (xb - xa) * (ya - half) / (ya - yb);
    };
    std::optional<long double> left, right;
    for (std::size_t k = top; k > 0 && !left; --k)
      if (at(k - 1).y < half) left = crossing(k, k - 1);
    for (std::size_t k = top; k + 1 < n && !right; ++k)
      if (at(k + 1).y < half) right = crossing(k, k + 1);
    if (left && right) m.fwhm = finite(*right - *left);
  }
}

}  // namespace

Measurement measure(const Graph& g, double first, double second) {
  Measurement m;
  m.name = g.name;
  const std::vector<Point>& pts = g.series.points();
  const Order order = orderOf(pts);
  if (pts.empty() || order == Order::Mixed) return m;
  // A descending graph is read backwards.
  if (order == Order::Ascending)
    measureAscending(pts.begin(), pts.end(), first, second, m);
  else
    measureAscending(pts.rbegin(), pts.rend(), first, second, m);
  return m;
}

std::vector<Measurement> measureGraphs(const GraphStore& store, const Selection& sel, double first,
                                       double second) {
  std::vector<Measurement> out;
  std::vector<std::size_t> rows = sel.rows;
  if (rows.empty() && sel.current < store.count()) rows.push_back(sel.current);
  for (std::size_t r : rows)
    if (r < store.count()) out.push_back(measure(store.graph(r), first, second));
  return out;
}

const std::vector<std::string>& measurementColumns() {
  static const std::vector<std::string> columns = {
      "Graph",   "y at x1", "y at x2", "Max x", "Max y",
      "Min x",   "Min y",   "FWHM",    "Area",  "Area above baseline",
      "Centroid"};
  return columns;
}

std::string measurementCell(const std::optional<double>& v) {
  return v ? formatDataNumber(*v) : std::string("\u2013");
}

std::string measurementText(const std::vector<Measurement>& rows, double first, double second) {
  std::string out = "x1\t" + formatDataNumber(first) + "\tx2\t" + formatDataNumber(second) + "\r\n";
  const auto& columns = measurementColumns();
  for (std::size_t c = 0; c < columns.size(); ++c) out += (c ? "\t" : "") + columns[c];
  out += "\r\n";
  for (const Measurement& m : rows) {
    auto x = [](const std::optional<Point>& p) {
      return p ? std::optional<double>(p->x) : std::nullopt;
    };
    auto y = [](const std::optional<Point>& p) {
      return p ? std::optional<double>(p->y) : std::nullopt;
    };
    const std::optional<double> cells[] = {
        m.yAtFirst,   m.yAtSecond, x(m.maximum), y(m.maximum),        x(m.minimum),
        y(m.minimum), m.fwhm,      m.area,       m.areaAboveBaseline, m.centroid};
    out += m.name;
    for (const auto& c : cells) out += "\t" + measurementCell(c);
    out += "\r\n";
  }
  return out;
}

}  // namespace varnix
