#include "processing/delete_point.h"

namespace varnix {

std::optional<std::size_t> pointAtCursor(const Series& s, double c) {
  const std::size_t n = s.count();
  if (n < 3) return std::nullopt;
  const bool ascending = s.x(n - 1) >= s.x(0);
  std::optional<std::size_t> candidate;
  for (std::size_t f = 1; f + 1 < n; ++f) {
    const std::size_t l = ascending ? f - 1 : f + 1;
    const double xl = s.x(l), xf = s.x(f);
    if (xl <= c && c < xf) candidate = (c - xl > xf - c) ? f : l;
  }
  if (candidate == 0) return std::nullopt;
  return candidate;
}

std::optional<std::size_t> deletePointAtCursor(GraphStore& store, std::size_t current, double c) {
  if (store.empty() || current >= store.count()) return std::nullopt;
  store.takeUndoCopy(current);
  std::optional<std::size_t> j = pointAtCursor(store.series(current), c);
  if (j) store.series(current).deletePoint(*j);
  store.setUndoEnabled(true);
  return j;
}

}  // namespace varnix
