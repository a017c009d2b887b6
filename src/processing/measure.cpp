#include "processing/measure.h"

#include <algorithm>
#include <cmath>

#include "workspace/number_text.h"

namespace varnix {
namespace {

enum class Order { Ascending, Descending, Mixed };

Order orderOf(const std::vector<Point>& pts) {
  bool up = true, down = true;
  for (std::size_t i = 1; i < pts.size() && (up || down); ++i) {
    if (pts[i].x < pts[i - 1].x) up = false;
    if (pts[i].x > pts[i - 1].x) down = false;
  }
  return up ? Order::Ascending : down ? Order::Descending : Order::Mixed;
}

std::optional<double> finite(long double v) {
  const double d = static_cast<double>(v);
  if (!std::isfinite(d)) return std::nullopt;
  return d;
}

/// y at x on the polyline of ascending points (bisection); none outside.
std::optional<double> yAt(const std::vector<Point>& asc, double x) {
  if (asc.empty() || x < asc.front().x || x > asc.back().x) return std::nullopt;
  auto it =
      std::lower_bound(asc.begin(), asc.end(), x, [](const Point& p, double v) { return p.x < v; });
  if (it->x == x) return it->y;
  const Point& b = *it;
  const Point& a = *(it - 1);
  return finite(a.y + (static_cast<long double>(b.y) - a.y) * (static_cast<long double>(x) - a.x) /
                          (static_cast<long double>(b.x) - a.x));
}

}  // namespace

Measurement measure(const Graph& g, double first, double second) {
  Measurement m;
  m.name = g.name;
  const std::vector<Point>& pts = g.series.points();
  const Order order = orderOf(pts);
  if (pts.empty() || order == Order::Mixed) return m;
  // The points between the cursors in ascending order of x, found by
  // bisection; a descending graph is read backwards.
  const double lo = std::min(first, second), hi = std::max(first, second);
  std::vector<Point> asc;
  std::vector<Point> window;
  auto collect = [&](auto begin, auto end) {
    auto from = std::lower_bound(begin, end, lo, [](const Point& p, double v) { return p.x < v; });
    auto to = std::upper_bound(from, end, hi, [](double v, const Point& p) { return v < p.x; });
    // The neighbours outside the window give the interpolated ends.
    auto a = from == begin ? from : from - 1;
    auto b = to == end ? to : to + 1;
    asc.assign(a, b);
    window.assign(from, to);
  };
  if (order == Order::Ascending)
    collect(pts.begin(), pts.end());
  else
    collect(pts.rbegin(), pts.rend());
  m.yAtFirst = yAt(asc, first);
  m.yAtSecond = yAt(asc, second);
  const std::optional<double> yLo = yAt(asc, lo), yHi = yAt(asc, hi);

  std::vector<Point> line;
  if (yLo && (window.empty() || window.front().x > lo)) line.push_back({lo, *yLo});
  line.insert(line.end(), window.begin(), window.end());
  if (yHi && (window.empty() || window.back().x < hi)) line.push_back({hi, *yHi});
  if (line.empty()) return m;

  std::size_t top = 0, bottom = 0;
  for (std::size_t i = 1; i < line.size(); ++i) {
    if (line[i].y > line[top].y) top = i;
    if (line[i].y < line[bottom].y) bottom = i;
  }
  m.maximum = line[top];
  m.minimum = line[bottom];
  if (line.size() < 2 || !(hi > lo)) return m;

  long double area = 0, moment = 0;
  for (std::size_t i = 1; i < line.size(); ++i) {
    const long double a = line[i - 1].x, b = line[i].x, ya = line[i - 1].y, yb = line[i].y;
    area += (ya + yb) * (b - a) / 2;
    // The first moment of the straight piece, exactly.
    moment += (b - a) * (a * (2 * ya + yb) + b * (ya + 2 * yb)) / 6;
  }
  m.area = finite(area);
  if (area != 0) m.centroid = finite(moment / area);
  if (yLo && yHi)
    m.areaAboveBaseline = finite(area - (static_cast<long double>(*yLo) + *yHi) *
                                            (static_cast<long double>(hi) - lo) / 2);

  const long double half = static_cast<long double>(line[top].y) / 2;
  if (line[top].y > 0) {
    auto crossing = [&](std::size_t inside, std::size_t outside) -> std::optional<long double> {
      const long double xa = line[inside].x, ya = line[inside].y;
      const long double xb = line[outside].x, yb = line[outside].y;
      return xa + (xb - xa) * (ya - half) / (ya - yb);
    };
    std::optional<long double> left, right;
    for (std::size_t i = top; i > 0 && !left; --i)
      if (line[i - 1].y < half) left = crossing(i, i - 1);
    for (std::size_t i = top; i + 1 < line.size() && !right; ++i)
      if (line[i + 1].y < half) right = crossing(i, i + 1);
    if (left && right) m.fwhm = finite(*right - *left);
  }
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
