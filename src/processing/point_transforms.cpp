#include "processing/point_transforms.h"

#include <cmath>

#include "workspace/float_faults.h"

namespace varnix {
namespace {

/// Rewrites every y of a series with f; a throwing f leaves that point and
/// all later ones as they were.
template <typename F>
void rewriteY(Series& s, F&& f) {
  for (Point& p : s.points()) p.y = f(p.y);
}

/// The same, taking the undo copy of slot g and recomputing its cached y
/// range in the same pass; f must not fault but by overflowing.
template <typename F>
void rewriteYWithUndo(GraphStore& store, std::size_t g, F&& f) {
  store.rewriteYWithUndo(g,
                         [&](const std::vector<Point>& old, std::size_t j) { return f(old[j].y); });
}

/// Walks the list rows in order, calling f for each selected one and
/// advancing the progress bar by the share of rows done.
template <typename F>
void forSelectedRows(GraphStore& store, const Selection& sel, const ProgressFn& progress, F&& f) {
  const std::size_t rows = store.count();
  for (std::size_t r = 0; r < rows; ++r) {
    if (sel.isSelected(r)) f(r);
    reportProgress(progress, r + 1, rows);
  }
  if (progress) progress(0);
}

constexpr long double kEvAngstrom = 8.065544E-5L;

}  // namespace

std::vector<std::size_t> selectedOrCurrent(const GraphStore& store, const Selection& sel) {
  std::vector<std::size_t> out;
  if (sel.rows.size() > 1) {
    for (std::size_t r : sel.rows)
      if (r < store.count()) out.push_back(r);
  } else if (sel.current < store.count()) {
    out.push_back(sel.current);
  }
  return out;
}

void normalizeGraphs(GraphStore& store, const Selection& sel, const ProgressFn& progress) {
  forSelectedRows(store, sel, progress, [&](std::size_t g) {
    Series& s = store.series(g);
    const long double ymaxG = s.maxY();
    // Read once per graph: within a graph the overall largest y cannot
    // change, since this graph's cache is only recomputed at its end.
    const long double ymaxAll = store.overallLargestY();
    if (ymaxG == 0) {
      // Every point divides by zero: the first one faults.
      store.takeUndoCopy(g);
      if (!s.empty()) divideExtended(ymaxAll * s.y(0), 0);
      s.recomputeYRange();
      return;
    }
    // Otherwise only a result beyond the 64-bit range can fault.
    rewriteYWithUndo(store, g, [&](double y) { return static_cast<double>(ymaxAll * y / ymaxG); });
  });
  store.setUndoEnabled(true);
}

void lnGraphs(GraphStore& store, const Selection& sel, const ProgressFn& progress) {
  forSelectedRows(store, sel, progress, [&](std::size_t g) {
    Series& s = store.series(g);
    rewriteY(s, [](double y) { return checkFunction(std::log(y), y, true); });
    s.recomputeYRange();
  });
}

void expGraphs(GraphStore& store, const Selection& sel, const ProgressFn& progress) {
  forSelectedRows(store, sel, progress, [&](std::size_t g) {
    Series& s = store.series(g);
    rewriteY(s, [](double y) { return checkFunction(std::exp(y), y); });
    s.recomputeYRange();
  });
}

void filinGraphs(GraphStore& store, const Selection& sel, const ProgressFn& progress) {
  forSelectedRows(store, sel, progress, [&](std::size_t g) {
    rewriteYWithUndo(store, g, [](double y) { return y < 1.0 ? 1.0 : y; });
  });
  store.setUndoEnabled(true);
}

void evAngstromGraphs(GraphStore& store, const Selection& sel) {
  if (store.empty()) return;
  for (std::size_t g : selectedOrCurrent(store, sel)) {
    for (Point& p : store.series(g).points()) p.x = divideExtended(1.0L, p.x * kEvAngstrom);
  }
  recomputeAllRanges(store);
}

void evNanometreGraphs(GraphStore& store, const Selection& sel) {
  if (store.empty()) return;
  constexpr long double kEvNanometre = 1239.84198L;
  for (std::size_t g : selectedOrCurrent(store, sel)) {
    for (Point& p : store.series(g).points()) {
      const long double x = p.x;
      // Both from the old x; a fault leaves this point as it was.
      const double nx = divideExtended(kEvNanometre, x);
      const double ny = storeExtended(static_cast<long double>(p.y) * x * x / kEvNanometre);
      p.x = nx;
      p.y = ny;
    }
  }
  recomputeAllRanges(store);
}

void removeShelfGraphs(GraphStore& store, const Selection& sel) {
  if (store.empty()) return;
  for (std::size_t g : selectedOrCurrent(store, sel)) {
    const double yminG = store.series(g).minY();
    rewriteYWithUndo(store, g, [&](double y) { return subtractExtended(y, yminG); });
  }
  store.setUndoEnabled(true);
}

void recomputeAllRanges(GraphStore& store) {
  for (std::size_t i = 0; i < store.count(); ++i) {
    store.series(i).recomputeRanges();
  }
}

}  // namespace varnix
