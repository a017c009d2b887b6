#include "processing/smoothing.h"

#include <cmath>
#include <vector>

namespace varnix {

void dispoSmooth(Series& s) {
  std::vector<Point>& p = s.points();
  const std::size_t n = p.size();
  if (n < 11) return;
  std::vector<double> y(n);
  for (std::size_t i = 0; i < n; ++i) y[i] = p[i].y;
  const double w0 = kDispoWeights[0], w1 = kDispoWeights[1], w2 = kDispoWeights[2],
               w3 = kDispoWeights[3], w4 = kDispoWeights[4], w5 = kDispoWeights[5];
  for (std::size_t i = 5; i + 5 < n; ++i) {
    const double* Y = &y[i];
    // 64-bit products added left to right, in the order of the window.
    double sum = w5 * Y[-5];
    sum += w4 * Y[-4];
    sum += w3 * Y[-3];
    sum += w2 * Y[-2];
    sum += w1 * Y[-1];
    sum += w0 * Y[0];
    sum += w1 * Y[1];
    sum += w2 * Y[2];
    sum += w3 * Y[3];
    sum += w4 * Y[4];
    sum += w5 * Y[5];
    p[i].y = sum;
  }
}

void dispoSmoothGraphs(GraphStore& store, const Selection& sel, const ProgressFn& progress) {
  const std::size_t rows = store.count();
  for (std::size_t r = 0; r < rows; ++r) {
    if (sel.isSelected(r)) {
      store.takeUndoCopy(r);
      dispoSmooth(store.series(r));
      store.series(r).recomputeYRange();
    }
    if (progress) progress(static_cast<int>(std::nearbyint(100.0 * static_cast<double>(r + 1) /
                                                           static_cast<double>(rows))));
  }
  if (progress) progress(0);
  store.setUndoEnabled(true);
}

}  // namespace varnix
