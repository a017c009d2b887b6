// Fits of two pseudo-Voigt peaks on a linear baseline (2000 points): one
// spectrum, and a series of 41 as varnix-cli fits them. Each beside the
// reference: the same GSL solver (Levenberg-Marquardt, More's scaling, QR)
// on a model and Jacobian written out in C++ (pairs named .../varnix and
// .../reference).
#include <benchmark/benchmark.h>

#include <gsl/gsl_multifit_nlinear.h>

#include <cmath>
#include <memory>
#include <vector>

#include "fit/fit_commands.h"
#include "fit/least_squares.h"
#include "workspace/graph_store.h"

namespace {

using varnix::Point;

constexpr const char* kFormula = "a + b*x + pvoigt(x,h1,c1,w1,e1) + pvoigt(x,h2,c2,w2,e2)";
const std::vector<double> kStart = {0, 0, 900, 2.21, 0.06, 0.5, 300, 2.44, 0.1, 0.5};
constexpr double kFourLn2 = 2.772588722239781;

/// Value and derivatives (h, c, w, e) of one pseudo-Voigt peak.
double pseudoVoigt(double x, const double* p, double* d) {
  const double h = p[0], c = p[1], w = p[2], e = p[3];
  const double t = (x - c) / w;
  const double g = std::exp(-kFourLn2 * t * t);
  const double q = 1 / (1 + 4 * t * t);
  if (d) {
    const double dg = -2 * kFourLn2 * t * g;  // dG/dt per unit height
    const double dl = -8 * t * q * q;         // dL/dt per unit height
    const double dt = e * dl + (1 - e) * dg;
    d[0] = e * q + (1 - e) * g;
    d[1] = -h * dt / w;
    d[2] = -h * dt * t / w;
    d[3] = h * (q - g);
  }
  return h * (e * q + (1 - e) * g);
}

/// A spectrum of the series: peaks that move and broaden with k, noise from
/// a fixed generator (sum of uniforms).
std::vector<Point> spectrum(int k) {
  std::vector<Point> pts;
  unsigned state = 12345u + 977u * static_cast<unsigned>(k);
  auto uniform = [&] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 16777216.0;
  };
  const double p1[] = {1000.0 - 10 * k, 2.2 + 0.001 * k, 0.05 + 0.0005 * k, 0.3};
  const double p2[] = {400, 2.45 - 0.001 * k, 0.08, 0.6};
  for (int i = 0; i < 2000; ++i) {
    const double x = 1.8 + i * 0.0005;
    double noise = -6;
    for (int j = 0; j < 12; ++j) noise += uniform();
    pts.push_back(
        {x, 50 + 20 * x + pseudoVoigt(x, p1, nullptr) + pseudoVoigt(x, p2, nullptr) + 5 * noise});
  }
  return pts;
}

varnix::FitSettings settings() {
  varnix::FitSettings s;
  for (double v : kStart) s.parameters.push_back({v});
  return s;
}

void BM_OneFit_varnix(benchmark::State& state) {
  const varnix::FitModel model(kFormula);
  const std::vector<Point> pts = spectrum(0);
  const varnix::FitSettings s = settings();
  for (auto _ : state) {
    varnix::FitResult r = varnix::fitPoints(model, s, pts);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_OneFit_varnix)->Unit(benchmark::kMillisecond);

// --- the reference: the model compiled, the same solver ------------------------

int referenceF(const gsl_vector* p, void* data, gsl_vector* f) {
  const auto& pts = *static_cast<const std::vector<Point>*>(data);
  const double* q = p->data;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const double x = pts[i].x;
    gsl_vector_set(f, i,
                   q[0] + q[1] * x + pseudoVoigt(x, q + 2, nullptr) +
                       pseudoVoigt(x, q + 6, nullptr) - pts[i].y);
  }
  return GSL_SUCCESS;
}

int referenceDf(const gsl_vector* p, void* data, gsl_matrix* J) {
  const auto& pts = *static_cast<const std::vector<Point>*>(data);
  const double* q = p->data;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    double* row = gsl_matrix_ptr(J, i, 0);
    row[0] = 1;
    row[1] = pts[i].x;
    pseudoVoigt(pts[i].x, q + 2, row + 2);
    pseudoVoigt(pts[i].x, q + 6, row + 6);
  }
  return GSL_SUCCESS;
}

void referenceFit(const std::vector<Point>& pts) {
  const std::size_t n = pts.size(), m = kStart.size();
  gsl_multifit_nlinear_parameters params = gsl_multifit_nlinear_default_parameters();
  params.trs = gsl_multifit_nlinear_trs_lm;
  params.scale = gsl_multifit_nlinear_scale_more;
  params.solver = gsl_multifit_nlinear_solver_qr;
  gsl_multifit_nlinear_workspace* w =
      gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &params, n, m);
  gsl_multifit_nlinear_fdf fdf{};
  fdf.f = referenceF;
  fdf.df = referenceDf;
  fdf.n = n;
  fdf.p = m;
  fdf.params = const_cast<std::vector<Point>*>(&pts);
  gsl_vector_const_view x0 = gsl_vector_const_view_array(kStart.data(), m);
  gsl_multifit_nlinear_init(&x0.vector, &fdf, w);
  int info = 0;
  gsl_multifit_nlinear_driver(200, 1e-10, 0, 0, nullptr, nullptr, &info, w);
  gsl_matrix* covar = gsl_matrix_alloc(m, m);
  gsl_multifit_nlinear_covar(gsl_multifit_nlinear_jac(w), 0, covar);
  benchmark::DoNotOptimize(covar->data[0]);
  gsl_matrix_free(covar);
  gsl_multifit_nlinear_free(w);
}

void BM_OneFit_reference(benchmark::State& state) {
  const std::vector<Point> pts = spectrum(0);
  for (auto _ : state) referenceFit(pts);
}
BENCHMARK(BM_OneFit_reference)->Unit(benchmark::kMillisecond);

// --- the series of 41 ---------------------------------------------------------

void BM_Series41_varnix(benchmark::State& state) {
  varnix::GraphStore store;
  std::vector<std::size_t> rows;
  for (int k = 0; k < 41; ++k) {
    store.append("T" + std::to_string(10 + 7 * k) + "K.dat", "").series.assignSorted(spectrum(k));
    rows.push_back(static_cast<std::size_t>(k));
  }
  auto model = std::make_shared<const varnix::FitModel>(kFormula);
  varnix::FitSettings s = settings();
  s.x1 = 1.8;
  s.x2 = 2.8;
  for (auto _ : state) {
    varnix::FitTable t = varnix::fitGraphs(store, rows, model, s, false);
    benchmark::DoNotOptimize(t);
  }
}
BENCHMARK(BM_Series41_varnix)->Unit(benchmark::kMillisecond);

void BM_Series41_reference(benchmark::State& state) {
  std::vector<std::vector<Point>> series;
  for (int k = 0; k < 41; ++k) series.push_back(spectrum(k));
  for (auto _ : state)
    for (const std::vector<Point>& pts : series) referenceFit(pts);
}
BENCHMARK(BM_Series41_reference)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
