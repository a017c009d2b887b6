#include "processing/smoothing.h"

#include <cmath>

namespace varnix {

double dispoValue(const std::vector<Point>& y, std::size_t i) {
  if (i < 5 || i + 5 >= y.size()) return y[i].y;
  const double w0 = kDispoWeights[0], w1 = kDispoWeights[1], w2 = kDispoWeights[2],
               w3 = kDispoWeights[3], w4 = kDispoWeights[4], w5 = kDispoWeights[5];
  const Point* Y = &y[i];
  // 64-bit products added left to right, in the order of the window.
  double sum = w5 * Y[-5].y;
  sum += w4 * Y[-4].y;
  sum += w3 * Y[-3].y;
  sum += w2 * Y[-2].y;
  sum += w1 * Y[-1].y;
  sum += w0 * Y[0].y;
  sum += w1 * Y[1].y;
  sum += w2 * Y[2].y;
  sum += w3 * Y[3].y;
  sum += w4 * Y[4].y;
  sum += w5 * Y[5].y;
  return sum;
}

void dispoSmoothGraphs(GraphStore& store, const Selection& sel, const ProgressFn& progress) {
  const std::size_t rows = store.count();
  for (std::size_t r = 0; r < rows; ++r) {
    if (sel.isSelected(r)) {
      // The undo copy is the working copy: every point is computed from the
      // values from before the command.
      store.rewriteYWithUndo(
          r, [](const std::vector<Point>& y, std::size_t i) { return dispoValue(y, i); });
    }
    reportProgress(progress, r + 1, rows);
  }
  if (progress) progress(0);
  store.setUndoEnabled(true);
}

}  // namespace varnix
