#include "workspace/print_copy.h"

#include <gtest/gtest.h>

namespace varnix {
namespace {

TEST(PrintCopy, KeepsTheShownPartAndEveryYFromOne) {
  Series s;
  for (const Point& p :
       std::vector<Point>{{0, 5}, {1, 0.5}, {2, 3}, {3, 0.2}, {4, 50}, {5, -1}, {6, 2}, {7, 1}})
    s.addPoint(p.x, p.y);
  struct Case {
    double x0, x1, y0, y1;
    bool log;
    std::vector<double> xs;
  };
  const std::vector<Case> cases = {
      {0, 7, -10, 100, false, {0, 1, 2, 3, 4, 5, 6, 7}},  // everything shown
      {1, 6, 0, 4, false, {1, 2, 3, 4, 6}},   // y = 50 above the range is kept (y >= 1), -1 not
      {1, 6, 0.3, 4, false, {1, 2, 4, 6}},    // 0.2 below the range goes
      {0, 7, 0, 100, true, {0, 2, 4, 6, 7}},  // logarithmic: only y >= 1
      {2, 2, 0, 100, false, {2}},             // the range's ends count
  };
  for (const Case& c : cases) {
    std::vector<double> xs;
    const Series copy = printCopy(s, c.x0, c.x1, c.y0, c.y1, c.log);
    for (const Point& p : copy.points()) xs.push_back(p.x);
    EXPECT_EQ(xs, c.xs) << c.x0 << " " << c.x1 << " " << c.y0 << " " << c.log;
  }
}

}  // namespace
}  // namespace varnix
