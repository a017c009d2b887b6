// Curve commands on 301 graphs of 10,000 points and on one graph of
// 10,000,000 points, each beside a bare loop doing the same arithmetic over a
// plain array (pairs named .../varnix and .../reference).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "processing/moments.h"
#include "processing/point_transforms.h"
#include "processing/smoothing.h"
#include "workspace/graph_store.h"

namespace {

using varnix::GraphStore;
using varnix::Point;

struct Shape {
  std::size_t graphs;
  std::size_t points;
};
const Shape kShapes[] = {{301, 10000}, {1, 10000000}};

std::vector<Point> curve(std::size_t n, std::size_t seed) {
  std::vector<Point> p(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double x = 1.2 + 2.0 * static_cast<double>(i) / static_cast<double>(n);
    p[i] = {x, 20 + 1000 * std::exp(-0.5 * std::pow((x - 2.3) / 0.05, 2)) +
                   static_cast<double>((i * 7919 + seed) % 101) * 0.1};
  }
  return p;
}

GraphStore& store(int shape) {
  static GraphStore stores[2];
  GraphStore& s = stores[shape];
  if (s.empty()) {
    for (std::size_t g = 0; g < kShapes[shape].graphs; ++g)
      s.append("g", "g").series.assignSorted(curve(kShapes[shape].points, g));
  }
  return s;
}

std::vector<std::vector<double>>& plain(int shape) {
  static std::vector<std::vector<double>> arrays[2];
  auto& a = arrays[shape];
  if (a.empty()) {
    for (std::size_t g = 0; g < kShapes[shape].graphs; ++g) {
      std::vector<double> y;
      for (const Point& p : curve(kShapes[shape].points, g)) y.push_back(p.y);
      a.push_back(std::move(y));
    }
  }
  return a;
}

varnix::Selection all(const GraphStore& s) {
  varnix::Selection sel;
  for (std::size_t i = 0; i < s.count(); ++i) sel.rows.push_back(i);
  return sel;
}

void setPoints(benchmark::State& state, int shape) {
  state.SetItemsProcessed(
      static_cast<int64_t>(state.iterations() * kShapes[shape].graphs * kShapes[shape].points));
}

void Normalize_varnix(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  GraphStore& s = store(shape);
  const auto sel = all(s);
  for (auto _ : state) varnix::normalizeGraphs(s, sel);
  setPoints(state, shape);
}

void Normalize_reference(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  auto& a = plain(shape);
  for (auto _ : state) {
    double top = 0;
    for (auto& y : a)
      for (double v : y) top = std::max(top, v);
    for (auto& y : a) {
      double g = y[0];
      for (double v : y) g = std::max(g, v);
      const long double all = top;
      for (double& v : y) v = static_cast<double>(all * v / g);
    }
    benchmark::DoNotOptimize(a.data());
  }
  setPoints(state, shape);
}

void Filin_varnix(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  GraphStore& s = store(shape);
  const auto sel = all(s);
  for (auto _ : state) varnix::filinGraphs(s, sel);
  setPoints(state, shape);
}

void Filin_reference(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  auto& a = plain(shape);
  for (auto _ : state) {
    for (auto& y : a) {
      for (double& v : y) v = v < 1.0 ? 1.0 : v;
      double lo = y[0], hi = y[0];
      for (double v : y) lo = std::min(lo, v), hi = std::max(hi, v);
      benchmark::DoNotOptimize(lo + hi);
    }
  }
  setPoints(state, shape);
}

// Both sides start every iteration from the original curves (outside the
// timing): after one run every minimum would be 0.
void Shelf_varnix(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  GraphStore s = store(shape);
  const GraphStore original = s;
  varnix::Selection sel = all(s);
  if (sel.rows.size() < 2) sel.current = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (std::size_t g = 0; g < s.count(); ++g) s.series(g) = original.series(g);
    state.ResumeTiming();
    varnix::removeShelfGraphs(s, sel);
  }
  setPoints(state, shape);
}

void Shelf_reference(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  auto a = plain(shape);
  const auto original = a;
  for (auto _ : state) {
    state.PauseTiming();
    a = original;
    state.ResumeTiming();
    for (auto& y : a) {
      double lo = y[0];
      for (double v : y) lo = std::min(lo, v);
      const long double m = lo;
      for (double& v : y) v = static_cast<double>(v - m);
    }
    benchmark::DoNotOptimize(a.data());
  }
  setPoints(state, shape);
}

void Dispo_varnix(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  GraphStore& s = store(shape);
  const auto sel = all(s);
  for (auto _ : state) varnix::dispoSmoothGraphs(s, sel);
  setPoints(state, shape);
}

void Dispo_reference(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  auto& a = plain(shape);
  const double* w = varnix::kDispoWeights;
  for (auto _ : state) {
    for (auto& y : a) {
      const std::vector<double> c = y;
      for (std::size_t i = 5; i + 5 < c.size(); ++i) {
        double s = w[5] * c[i - 5];
        s += w[4] * c[i - 4];
        s += w[3] * c[i - 3];
        s += w[2] * c[i - 2];
        s += w[1] * c[i - 1];
        s += w[0] * c[i];
        s += w[1] * c[i + 1];
        s += w[2] * c[i + 2];
        s += w[3] * c[i + 3];
        s += w[4] * c[i + 4];
        s += w[5] * c[i + 5];
        y[i] = s;
      }
    }
    benchmark::DoNotOptimize(a.data());
  }
  setPoints(state, shape);
}

void Moments_varnix(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  GraphStore& s = store(shape);
  for (auto _ : state) {
    double sum = 0;
    for (std::size_t g = 0; g < s.count(); ++g) sum += varnix::momentSum(s.series(g), 1, 0, 1.2, 2);
    benchmark::DoNotOptimize(sum);
  }
  setPoints(state, shape);
}

void Moments_reference(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  std::vector<std::vector<Point>> pts;
  for (std::size_t g = 0; g < kShapes[shape].graphs; ++g)
    pts.push_back(curve(kShapes[shape].points, g));
  for (auto _ : state) {
    double total = 0;
    for (const auto& p : pts) {
      double sum = 0;
      for (std::size_t i = 1; i < p.size(); ++i) {
        if (p[i].x >= 1.2) {
          const long double mid = (static_cast<long double>(p[i - 1].x) + p[i].x) / 2;
          sum = static_cast<double>(
              sum + mid * (static_cast<long double>(p[i - 1].y) + p[i].y) *
                        std::fabs(static_cast<long double>(p[i].x) - p[i - 1].x) * 0.5L);
        }
        if (p[i].x > 3.2) break;
      }
      total += sum;
    }
    benchmark::DoNotOptimize(total);
  }
  setPoints(state, shape);
}

}  // namespace

#define VARNIX_PAIR(name)                                                  \
  BENCHMARK(name##_varnix)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond); \
  BENCHMARK(name##_reference)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)

VARNIX_PAIR(Normalize);
VARNIX_PAIR(Filin);
VARNIX_PAIR(Shelf);
VARNIX_PAIR(Dispo);
VARNIX_PAIR(Moments);
BENCHMARK_MAIN();
