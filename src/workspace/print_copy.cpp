#include "workspace/print_copy.h"

namespace varnix {

Series printCopy(const Series& s, double x0, double x1, double y0, double y1, bool logY) {
  Series copy;
  std::vector<Point> pts;
  for (const Point& p : s.points()) {
    if (p.x >= x0 && p.x <= x1 && ((p.y >= y0 && p.y <= y1 && !logY) || p.y >= 1)) pts.push_back(p);
  }
  copy.points() = std::move(pts);
  // The chart fits its axes to the cached ranges.
  copy.recomputeRanges();
  return copy;
}

}  // namespace varnix
