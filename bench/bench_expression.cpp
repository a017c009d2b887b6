// Math on y and x over 10,000,000 points beside a hand-written loop that
// computes the same formula with the same fault checks.
#include <benchmark/benchmark.h>

#include <cmath>

#include "expr/math_commands.h"
#include "workspace/float_faults.h"
#include "workspace/graph_store.h"

namespace {

constexpr std::size_t kPoints = 10000000;

std::vector<varnix::Point> points() {
  std::vector<varnix::Point> p(kPoints);
  for (std::size_t i = 0; i < kPoints; ++i)
    p[i] = {1.2 + 2.0 * static_cast<double>(i) / kPoints, 1.5 + static_cast<double>(i % 97) * 0.01};
  return p;
}

void run(benchmark::State& state, const char* yFormula) {
  varnix::GraphStore store;
  const auto base = points();
  store.append("g", "g").series.assignSorted(base);
  varnix::Selection sel;
  sel.rows = {0};
  for (auto _ : state) {
    state.PauseTiming();
    store.series(0).points() = base;  // the same input every time
    state.ResumeTiming();
    varnix::mathOnYX(store, sel, "x", yFormula);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPoints));
}

void SinXY_varnix(benchmark::State& state) {
  run(state, "sin(x)*y+1");
}
void Poly_varnix(benchmark::State& state) {
  run(state, "x^2+2*x*y-ln(y)");
}

using varnix::checkArith;
using varnix::checkFunction;

template <typename F>
void reference(benchmark::State& state, F f) {
  const auto base = points();
  std::vector<varnix::Point> p;
  std::vector<varnix::Point> undo;
  for (auto _ : state) {
    state.PauseTiming();
    p = base;
    state.ResumeTiming();
    undo = p;  // the command's undo copy
    for (auto& q : p) q.y = f(q.x, q.y);
    double lo = p[0].x, hi = p[0].x, ylo = p[0].y, yhi = p[0].y;
    for (const auto& q : p) {
      lo = std::min(lo, q.x), hi = std::max(hi, q.x);
      ylo = std::min(ylo, q.y), yhi = std::max(yhi, q.y);
    }
    benchmark::DoNotOptimize(lo + hi + ylo + yhi);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPoints));
}

void SinXY_reference(benchmark::State& state) {
  reference(state, [](double x, double y) {
    const double s = checkFunction(std::sin(x), x);
    const double m = checkArith(s * y, s, y);
    return checkArith(m + 1, m, 1);
  });
}

void Poly_reference(benchmark::State& state) {
  reference(state, [](double x, double y) {
    const double sq = x > 0 ? checkArith(std::pow(x, 2.0), x, 2) : 0.0;
    const double t = checkArith(2 * x, 2, x);
    const double u = checkArith(t * y, t, y);
    const double a = checkArith(sq + u, sq, u);
    const double l = checkFunction(std::log(y), y, true);
    return checkArith(a - l, a, l);
  });
}

}  // namespace

BENCHMARK(SinXY_varnix)->Unit(benchmark::kMillisecond);
BENCHMARK(SinXY_reference)->Unit(benchmark::kMillisecond);
BENCHMARK(Poly_varnix)->Unit(benchmark::kMillisecond);
BENCHMARK(Poly_reference)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
