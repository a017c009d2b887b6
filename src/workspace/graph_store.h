#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varnix {

struct Point {
  double x;
  double y;
  bool operator==(const Point&) const = default;
};

/// The points of one curve with their cached x and y ranges. Adding keeps x
/// ascending (equal x in adding order) and widens the cache; setting x or y
/// leaves the cache alone until it is recomputed.
class Series {
 public:
  std::size_t count() const { return m_points.size(); }
  bool empty() const { return m_points.empty(); }
  double x(std::size_t j) const { return m_points[j].x; }
  double y(std::size_t j) const { return m_points[j].y; }
  void setX(std::size_t j, double v) { m_points[j].x = v; }
  void setY(std::size_t j, double v) { m_points[j].y = v; }

  /// Inserts after every point whose x is <= x; widens the cached ranges
  /// (the first point of an empty series sets both ends).
  void addPoint(double x, double y);
  /// Removes point j; both cached ranges are recomputed.
  void deletePoint(std::size_t j);
  /// Removes every point; the cached ranges are kept until the next add.
  void clear() { m_points.clear(); }
  /// Replaces the points with `points` stably sorted by x: the same result,
  /// cache included, as adding them one by one to an empty series.
  void assignSorted(std::vector<Point> points);

  /// Scans all points; an empty series gives 0 and 0.
  void recomputeXRange();
  void recomputeYRange();
  /// Both ranges in one pass.
  void recomputeRanges();
  /// Sets the cached y range to a scan's result.
  void setYRange(double lo, double hi) {
    m_minY = lo;
    m_maxY = hi;
  }
  double minX() const { return m_minX; }
  double maxX() const { return m_maxX; }
  double minY() const { return m_minY; }
  double maxY() const { return m_maxY; }

  const std::vector<Point>& points() const { return m_points; }
  /// Direct access for bulk rewrites; the caller keeps the cache rules.
  std::vector<Point>& points() { return m_points; }

 private:
  std::vector<Point> m_points;
  double m_minX = 0, m_maxX = 0, m_minY = 0, m_maxY = 0;
};

/// Colour values are 0x00BBGGRR, red in the low byte.
using Colour = std::uint32_t;

inline constexpr Colour kDefaultGraphsColour = 16776960;  // aqua
inline constexpr Colour kDefaultHighlightColour = 255;    // red

struct Graph {
  std::string name;
  std::string path;
  std::vector<std::string> comments;
  Series series;
  std::vector<Point> undoCopy;
  bool undoMark = false;
  Colour colour = kDefaultGraphsColour;
  /// Where the points came from: the data file (also for a column graph,
  /// whose path is only its column number) and the y column in it (0 for
  /// the file's own graph). Empty for graphs made otherwise.
  std::string sourcePath;
  std::size_t sourceColumn = 0;
  /// The file is an instrument's export read by Import: it is read again
  /// the same way (sourceColumn is then the graph's place in the import).
  bool sourceImported = false;
  /// The import settings it was read with (KEY=VALUE words separated by
  /// blanks); empty: every field guessed.
  std::string importSettings;
  /// The path was picked by Import and no file of the graph's is there yet:
  /// the first save creates the file and refuses anything (a file, a link)
  /// that appeared under that name since.
  bool createOnSave = false;
  /// contentHash of the points and comments as last read or written; a
  /// graph whose content differs carries unsaved changes.
  std::uint64_t savedHash = 0;
};

/// A hash of a graph's points (bit for bit) and comment lines.
std::uint64_t contentHash(const Graph& g);
/// Whether g differs from what was last read from or written to its file.
inline bool hasUnsavedChanges(const Graph& g) {
  return contentHash(g) != g.savedHash;
}

/// The program-wide workspace of graphs. Slot i is row i of the graph list
/// and series i of the chart.
class GraphStore {
 public:
  /// Capacity of the per-slot tables.
  static constexpr std::size_t kMaxGraphs = 301;

  std::size_t count() const { return m_graphs.size(); }
  bool empty() const { return m_graphs.empty(); }
  Graph& graph(std::size_t i) { return m_graphs[i]; }
  const Graph& graph(std::size_t i) const { return m_graphs[i]; }
  Series& series(std::size_t i) { return m_graphs[i].series; }
  const Series& series(std::size_t i) const { return m_graphs[i].series; }

  /// Appends a graph in the normal colour with an empty undo copy.
  Graph& append(std::string name, std::string path);
  /// Removes slot i; later slots move down with their comment lists, undo
  /// copies and undo marks.
  void removeGraphSlot(std::size_t i);

  /// Sets the undo mark of slot i and refills its undo copy with its points.
  void takeUndoCopy(std::size_t i);
  /// takeUndoCopy(i) and a rewrite of every y in one pass, y_j := f(old, j),
  /// for rewrites whose only possible fault is a result beyond the 64-bit
  /// range (f itself does not check): the first point whose new y is not
  /// finite while its old one was is the faulting point. It and the later
  /// points get their old values back, the cache stays, and the fault is
  /// thrown. Otherwise the cached y range is recomputed (in the same pass).
  template <typename F>
  void rewriteYWithUndo(std::size_t i, F&& f);
  /// Restores every marked graph from its undo copy (clearing the mark),
  /// disables Undo and returns the restored slots in ascending order: the
  /// rows the graph list selects.
  std::vector<std::size_t> restoreUndoCopies();

  bool undoEnabled() const { return m_undoEnabled; }
  void setUndoEnabled(bool on) { m_undoEnabled = on; }

  /// Highlights graph c: the previously highlighted slot (if it still holds
  /// a graph) returns to the normal colour. The index is not adjusted when
  /// graphs are removed.
  void highlight(std::size_t c);
  std::size_t highlightedIndex() const { return m_highlighted; }
  /// Sets every graph to the normal colour; the highlighted index stays.
  void recolourAll();

  Colour normalColour() const { return m_normalColour; }
  Colour highlightColour() const { return m_highlightColour; }
  void setColours(Colour normal, Colour highlight) {
    m_normalColour = normal;
    m_highlightColour = highlight;
  }

  /// The largest cached largest y over all graphs with points; 0 if none.
  double overallLargestY() const;

 private:
  /// The fault part of rewriteYWithUndo; throws when a point faulted.
  void restoreFromFirstFault(std::size_t i);

  std::vector<Graph> m_graphs;
  std::size_t m_highlighted = 0;
  bool m_undoEnabled = false;
  Colour m_normalColour = kDefaultGraphsColour;
  Colour m_highlightColour = kDefaultHighlightColour;
};

template <typename F>
void GraphStore::rewriteYWithUndo(std::size_t i, F&& f) {
  Graph& g = m_graphs[i];
  std::vector<Point>& pts = g.series.points();
  g.undoMark = true;
  std::swap(g.undoCopy, pts);
  const std::vector<Point>& old = g.undoCopy;
  const std::size_t n = old.size();
  pts.resize(n);
  if (n == 0) {
    g.series.recomputeYRange();
    return;
  }
  double lo = f(old, 0), hi = lo;
  bool finite = true;
  for (std::size_t j = 0; j < n; ++j) {
    const double y = f(old, j);
    pts[j] = {old[j].x, y};
    lo = std::min(lo, y);
    hi = std::max(hi, y);
    finite &= std::isfinite(y);
  }
  if (!finite) [[unlikely]]
    restoreFromFirstFault(i);
  g.series.setYRange(lo, hi);
}

}  // namespace varnix
