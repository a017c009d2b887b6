#include "workspace/graph_store.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>

#include "workspace/float_faults.h"

namespace varnix {

void Series::addPoint(double x, double y) {
  if (m_points.empty()) {
    m_minX = m_maxX = x;
    m_minY = m_maxY = y;
  } else {
    m_minX = std::min(m_minX, x);
    m_maxX = std::max(m_maxX, x);
    m_minY = std::min(m_minY, y);
    m_maxY = std::max(m_maxY, y);
  }
  if (m_points.empty() || m_points.back().x <= x) {
    m_points.push_back({x, y});
    return;
  }
  auto pos = std::upper_bound(m_points.begin(), m_points.end(), x,
                              [](double v, const Point& p) { return v < p.x; });
  m_points.insert(pos, {x, y});
}

void Series::deletePoint(std::size_t j) {
  m_points.erase(m_points.begin() + static_cast<std::ptrdiff_t>(j));
  recomputeRanges();
}

void Series::assignSorted(std::vector<Point> points) {
  bool ascending = true;
  for (std::size_t j = 1; j < points.size() && ascending; ++j)
    ascending = points[j - 1].x <= points[j].x;
  if (!ascending)
    std::stable_sort(points.begin(), points.end(),
                     [](const Point& a, const Point& b) { return a.x < b.x; });
  m_points = std::move(points);
  // The widening rule gives the plain minimum and maximum.
  if (!m_points.empty()) recomputeRanges();
}

namespace {

/// The smallest and largest of one coordinate over all points (0 and 0 for none).
std::pair<double, double> rangeOf(const std::vector<Point>& pts, double Point::*coordinate) {
  if (pts.empty()) return {0, 0};
  double lo = pts[0].*coordinate, hi = lo;
  for (const Point& p : pts) {
    lo = std::min(lo, p.*coordinate);
    hi = std::max(hi, p.*coordinate);
  }
  return {lo, hi};
}

}  // namespace

void Series::recomputeXRange() {
  std::tie(m_minX, m_maxX) = rangeOf(m_points, &Point::x);
}

void Series::recomputeYRange() {
  std::tie(m_minY, m_maxY) = rangeOf(m_points, &Point::y);
}

void Series::recomputeRanges() {
  if (m_points.empty()) {
    m_minX = m_maxX = m_minY = m_maxY = 0;
    return;
  }
  double xlo = m_points[0].x, xhi = xlo, ylo = m_points[0].y, yhi = ylo;
  for (const Point& p : m_points) {
    xlo = std::min(xlo, p.x);
    xhi = std::max(xhi, p.x);
    ylo = std::min(ylo, p.y);
    yhi = std::max(yhi, p.y);
  }
  m_minX = xlo;
  m_maxX = xhi;
  m_minY = ylo;
  m_maxY = yhi;
}

Graph& GraphStore::append(std::string name, std::string path) {
  Graph& g = m_graphs.emplace_back();
  g.name = std::move(name);
  g.path = std::move(path);
  g.colour = m_normalColour;
  return g;
}

std::uint64_t contentHash(const Graph& g) {
  // Eight bytes at a time, multiplied and folded (a comment line may be
  // gigabytes long); the length goes in too.
  std::uint64_t h = 1469598103934665603ULL;
  auto mix = [&h](const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      std::uint64_t w = 0;
      std::memcpy(&w, p + i, sizeof w);
      h = (h ^ w) * 0x9E3779B97F4A7C15ULL;
      h ^= h >> 29;
    }
    for (; i < n; ++i) h = (h ^ p[i]) * 1099511628211ULL;
    h = (h ^ n) * 0x9E3779B97F4A7C15ULL;
  };
  const std::vector<Point>& pts = g.series.points();
  if (!pts.empty()) mix(pts.data(), pts.size() * sizeof(Point));
  for (const std::string& c : g.comments) {
    mix(c.data(), c.size());
    mix("\n", 1);
  }
  return h;
}

void GraphStore::removeGraphSlot(std::size_t i) {
  m_graphs.erase(m_graphs.begin() + static_cast<std::ptrdiff_t>(i));
}

void GraphStore::takeUndoCopy(std::size_t i) {
  Graph& g = m_graphs[i];
  g.undoMark = true;
  g.undoCopy = g.series.points();
}

void GraphStore::restoreFromFirstFault(std::size_t i) {
  Graph& g = m_graphs[i];
  std::vector<Point>& pts = g.series.points();
  const std::vector<Point>& old = g.undoCopy;
  for (std::size_t j = 0; j < pts.size(); ++j) {
    if (std::isfinite(pts[j].y) || !std::isfinite(old[j].y)) continue;
    const bool nan = std::isnan(pts[j].y);
    std::copy(old.begin() + static_cast<std::ptrdiff_t>(j), old.end(),
              pts.begin() + static_cast<std::ptrdiff_t>(j));
    throwFloatFault(nan ? FloatFault::InvalidOperation : FloatFault::Overflow);
  }
}

std::vector<std::size_t> GraphStore::restoreUndoCopies() {
  std::vector<std::size_t> restored;
  for (std::size_t i = 0; i < m_graphs.size(); ++i) {
    Graph& g = m_graphs[i];
    if (!g.undoMark) continue;
    restored.push_back(i);
    g.undoMark = false;
    g.series.clear();
    // The undo copy is kept: restoring adds its points in order.
    g.series.assignSorted(g.undoCopy);
  }
  m_undoEnabled = false;
  return restored;
}

void GraphStore::highlight(std::size_t c) {
  if (m_highlighted < m_graphs.size()) m_graphs[m_highlighted].colour = m_normalColour;
  if (c < m_graphs.size()) m_graphs[c].colour = m_highlightColour;
  m_highlighted = c;
}

void GraphStore::recolourAll() {
  for (Graph& g : m_graphs) g.colour = m_normalColour;
}

double GraphStore::overallLargestY() const {
  bool any = false;
  double best = 0;
  for (const Graph& g : m_graphs) {
    if (g.series.empty()) continue;
    if (!any || g.series.maxY() > best) best = g.series.maxY();
    any = true;
  }
  return best;
}

}  // namespace varnix
