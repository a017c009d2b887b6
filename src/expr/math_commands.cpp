#include "expr/math_commands.h"

#include <algorithm>
#include <cmath>

#include "expr/compiled_expression.h"
#include "expr/expression.h"
#include "processing/point_transforms.h"
#include "workspace/error.h"
#include "workspace/float_faults.h"
#include "workspace/number_text.h"

namespace varnix {

namespace {

/// Sets y := fy(x, y) and then x := fx(x, y) for every point, both from the
/// old coordinates, in blocks of points. A failing point stops the walk as
/// evaluating point by point would: earlier points are done, the failing
/// point keeps its new y when only fx fails there, later points stay.
void rewritePoints(std::vector<Point>& pts, const CompiledExpression& fx,
                   const CompiledExpression& fy) {
  constexpr std::size_t kB = CompiledExpression::kBlock;
  // The identity formulas (the dialog's defaults) leave their coordinate.
  const bool keepX = fx.isX(), keepY = fy.isY();
  if (keepX && keepY) return;
  double x[kB], y[kB], nx[kB], ny[kB];
  for (std::size_t first = 0; first < pts.size(); first += kB) {
    const std::size_t n = std::min(kB, pts.size() - first);
    Point* p = pts.data() + first;
    for (std::size_t i = 0; i < n; ++i) x[i] = p[i].x, y[i] = p[i].y;
    const std::size_t badY = keepY ? n : fy.evaluateBlock(x, y, n, ny);
    const std::size_t badX = keepX ? n : fx.evaluateBlock(x, y, n, nx);
    const std::size_t done = std::min(badX, badY);
    for (std::size_t i = 0; i < done; ++i) {
      if (!keepY) p[i].y = ny[i];
      if (!keepX) p[i].x = nx[i];
    }
    if (done < n) {
      if (badY == done) fy.raiseFault(done);
      p[done].y = keepY ? p[done].y : ny[done];
      fx.raiseFault(done);
    }
  }
}

}  // namespace

void mathOnYX(GraphStore& store, const Selection& sel, const std::string& xFormula,
              const std::string& yFormula, const ProgressFn& progress) {
  if (store.empty()) return;
  const CompiledExpression fx = CompiledExpression::compile(expressionToPostfix(xFormula) + " ");
  const CompiledExpression fy = CompiledExpression::compile(expressionToPostfix(yFormula) + " ");
  const std::size_t n = store.count();
  for (std::size_t s = 0; s < n; ++s) {
    if (!sel.isSelected(s)) continue;
    store.takeUndoCopy(s);
    Series& series = store.series(s);
    rewritePoints(series.points(), fx, fy);
    series.recomputeRanges();
    if (progress)
      progress(static_cast<int>(
          std::nearbyint(100.0 * static_cast<double>(s) / static_cast<double>(n) - 1)));
  }
  if (progress) progress(0);
  store.setUndoEnabled(true);
}

void mathOnYXCancelled(GraphStore& store) {
  if (!store.empty()) store.setUndoEnabled(true);
}

namespace {

/// The graphs the simple-math commands change, in ascending slot order.
std::vector<std::size_t> simpleMathTargets(const GraphStore& store, const Selection& sel) {
  return selectedOrCurrent(store, sel);
}

}  // namespace

bool simpleMathOnY(GraphStore& store, const Selection& sel, const std::string& bText,
                   const std::string& aText, const std::string& cText, const std::string& dText) {
  if (store.empty()) return false;
  const auto a = readNumber(aText);
  const auto b = readNumber(bText);
  const auto c = readNumber(cText);
  const auto d = readNumber(dText);
  if (!a || !b || !c || !d) return false;
  const bool several = sel.rows.size() > 1;
  long long n = 0;
  for (std::size_t g : simpleMathTargets(store, sel)) {
    store.takeUndoCopy(g);
    Series& s = store.series(g);
    const long double cn = static_cast<long double>(*c) * static_cast<long double>(n);
    const long double dn = static_cast<long double>(*d) * static_cast<long double>(n);
    for (Point& p : s.points()) {
      const long double y = p.y;
      p.y = several ? storeExtended(*b * y + *a + cn + dn * y) : storeExtended(*b * y + *a);
    }
    ++n;
    s.recomputeYRange();
  }
  if (sel.current < store.count()) store.series(sel.current).recomputeYRange();
  store.setUndoEnabled(true);
  return true;
}

bool simpleMathOnX(GraphStore& store, const Selection& sel, const std::string& bText,
                   const std::string& aText) {
  if (store.empty()) return false;
  const auto a = readNumber(aText);
  const auto b = readNumber(bText);
  if (!a || !b) return false;
  for (std::size_t g : simpleMathTargets(store, sel)) {
    store.takeUndoCopy(g);
    Series& s = store.series(g);
    for (Point& p : s.points()) p.x = storeExtended(*b * static_cast<long double>(p.x) + *a);
    s.recomputeXRange();
  }
  if (sel.current < store.count()) store.series(sel.current).recomputeYRange();
  store.setUndoEnabled(true);
  return true;
}

namespace {

/// The new y of one point combined with the second graph's value on the
/// segment e-1..e; throws the floating-point faults.
double combine(char op, double yj, double xj, const Point& a, const Point& b) {
  const long double dx = static_cast<long double>(xj) - a.x;
  const long double dy = static_cast<long double>(b.y) - a.y;
  const long double span = static_cast<long double>(b.x) - a.x;
  const long double num = dx * dy;
  if (span == 0)
    throwFloatFault(num == 0 ? FloatFault::InvalidOperation : FloatFault::DivisionByZero);
  const long double term = num / span;
  switch (op) {
    case '+':
      return storeExtended((static_cast<long double>(a.y) + yj) + term);
    case '-':
      return storeExtended((static_cast<long double>(yj) - a.y) - term);
    case '*':
      return storeExtended(yj * (a.y + term));
    default: {
      const long double v = a.y + term;
      return divideExtended(yj, v);
    }
  }
}

}  // namespace

void mathOnGraphs(GraphStore& store, const Selection& sel, std::optional<char> op,
                  std::optional<std::size_t> second, const MessageFn& message) {
  if (!second || *second >= store.count()) {
    if (message) message("Second graph not selected");
    return;
  }
  if (!op) return;  // no operation chosen: nothing changes
  const std::size_t m = store.series(*second).count();
  if (m < 2) {
    if (message)
      message("The second graph " + store.graph(*second).name +
              " needs at least two points; no graph was changed");
    return;
  }
  for (std::size_t s = 0; s < store.count(); ++s) {
    if (!sel.isSelected(s)) continue;
    store.takeUndoCopy(s);
    // The second graph is read live: it may be the graph being changed.
    const std::vector<Point>& second2 = store.series(*second).points();
    std::vector<Point>& pts = store.series(s).points();
    std::size_t e = 1;
    bool failed = false;
    for (std::size_t j = 0; j < pts.size(); ++j) {
      const double xj = pts[j].x;
      while (second2[e].x < xj && e < m - 1) ++e;
      if (*op == '/') {
        try {
          pts[j].y = combine('/', pts[j].y, xj, second2[e - 1], second2[e]);
        } catch (const Error&) {
          failed = true;
        }
      } else {
        pts[j].y = combine(*op, pts[j].y, xj, second2[e - 1], second2[e]);
      }
    }
    if (failed && message) message("Zero denominators!-corresponding values left unmodified");
    store.series(s).recomputeYRange();
  }
}

void mathOnGraphsFinished(GraphStore& store) {
  store.setUndoEnabled(true);
}

}  // namespace varnix
