#include "fit/baseline.h"

#include <gsl/gsl_linalg.h>

#include <algorithm>
#include <cmath>

#include "fit/gsl_support.h"
#include "workspace/error.h"
#include "workspace/number_text.h"

namespace varnix {

void checkAlsParameters(double lambda, double p) {
  if (!(lambda > 0 && lambda <= kMaxAlsLambda))
    throw Error("Lambda must be above 0 and at most 1e12, not " + formatShortest(lambda));
  if (!(p > 0 && p < 1)) throw Error("p must lie between 0 and 1, not " + formatShortest(p));
}

std::vector<double> alsBaseline(std::span<const double> y, double lambda, double p) {
  checkAlsParameters(lambda, p);
  gsl::silenceErrors();
  const std::size_t n = y.size();
  std::vector<double> z(y.begin(), y.end());
  if (n < 3) return z;  // no second differences: nothing to smooth
  // The band of lambda D'D: row i of D (i = 0 .. n-3) is (1, -2, 1) at
  // columns i .. i+2, so column j meets rows j-2, j-1 and j.
  auto rowOfD = [n](std::size_t k, std::ptrdiff_t shift) {
    const std::ptrdiff_t r = static_cast<std::ptrdiff_t>(k) + shift;
    return r >= 0 && r <= static_cast<std::ptrdiff_t>(n) - 3;
  };
  std::vector<double> diagonal(n), first(n, 0), second(n, 0);
  for (std::size_t j = 0; j < n; ++j) {
    diagonal[j] =
        lambda * ((rowOfD(j, -2) ? 1 : 0) + (rowOfD(j, -1) ? 4 : 0) + (rowOfD(j, 0) ? 1 : 0));
    if (j + 1 < n) first[j] = lambda * ((rowOfD(j, -1) ? -2 : 0) + (rowOfD(j, 0) ? -2 : 0));
    if (j + 2 < n) second[j] = rowOfD(j, 0) ? lambda : 0;
  }
  std::vector<double> w(n, 1.0);
  gsl::Ptr<gsl_matrix> band = gsl::owned(gsl_matrix_alloc(n, 3));
  gsl::Ptr<gsl_vector> rhs = gsl::owned(gsl_vector_alloc(n));
  gsl::Ptr<gsl_vector> solution = gsl::owned(gsl_vector_alloc(n));
  for (int iteration = 0; iteration < 10; ++iteration) {
    for (std::size_t j = 0; j < n; ++j) {
      gsl_matrix_set(band.get(), j, 0, diagonal[j] + w[j]);
      gsl_matrix_set(band.get(), j, 1, first[j]);
      gsl_matrix_set(band.get(), j, 2, second[j]);
      gsl_vector_set(rhs.get(), j, w[j] * y[j]);
    }
    if (gsl_linalg_cholesky_band_decomp(band.get()) != GSL_SUCCESS ||
        gsl_linalg_cholesky_band_solve(band.get(), rhs.get(), solution.get()) != GSL_SUCCESS)
      throw Error("The baseline could not be computed: lambda " + formatShortest(lambda) +
                  " is too large for these data");
    for (std::size_t j = 0; j < n; ++j) {
      z[j] = gsl_vector_get(solution.get(), j);
      w[j] = y[j] > z[j] ? p : 1 - p;
    }
  }
  for (double v : z)
    if (!std::isfinite(v))
      throw Error("The baseline could not be computed: it is not finite for these data");
  return z;
}

void checkPolynomialBaseline(int degree, std::span<const XRange> ranges) {
  if (degree < 0 || degree > kMaxBaselineDegree)
    throw Error("The degree of the baseline must be a whole number from 0 to " +
                std::to_string(kMaxBaselineDegree));
  if (ranges.empty()) throw Error("The baseline needs at least one x range");
  for (const XRange& r : ranges)
    if (std::isnan(r.first) || std::isnan(r.second))
      throw Error("A baseline range is not a number");
}

std::vector<double> polynomialBaseline(std::span<const Point> points, int degree,
                                       std::span<const XRange> ranges) {
  checkPolynomialBaseline(degree, ranges);
  auto inRange = [](double x, const XRange& r) {
    return x >= std::min(r.first, r.second) && x <= std::max(r.first, r.second);
  };
  for (const XRange& r : ranges) {
    if (std::none_of(points.begin(), points.end(), [&](const Point& p) { return inRange(p.x, r); }))
      throw Error("There are no points between x = " + formatShortest(std::min(r.first, r.second)) +
                  " and " + formatShortest(std::max(r.first, r.second)));
  }
  std::vector<Point> chosen;
  for (const Point& p : points)
    if (std::any_of(ranges.begin(), ranges.end(), [&](const XRange& r) { return inRange(p.x, r); }))
      chosen.push_back(p);
  const std::size_t terms = static_cast<std::size_t>(degree) + 1;
  if (chosen.size() < terms)
    throw Error("A baseline of degree " + std::to_string(degree) + " needs at least " +
                std::to_string(terms) + " points in its ranges; they hold " +
                std::to_string(chosen.size()));
  gsl::silenceErrors();
  // x centred on and scaled by the chosen points' span: the powers stay
  // within [-1, 1] and the design matrix well conditioned.
  double lo = chosen.front().x, hi = lo;
  for (const Point& p : chosen) lo = std::min(lo, p.x), hi = std::max(hi, p.x);
  const double centre = lo / 2 + hi / 2;
  const double half = hi > lo ? hi / 2 - lo / 2 : 1;
  auto scaled = [&](double x) { return (x - centre) / half; };
  const std::size_t n = chosen.size();
  gsl::Ptr<gsl_matrix> X = gsl::owned(gsl_matrix_alloc(n, terms));
  gsl::Ptr<gsl_vector> yv = gsl::owned(gsl_vector_alloc(n));
  gsl::Ptr<gsl_vector> c = gsl::owned(gsl_vector_alloc(terms));
  gsl::Ptr<gsl_matrix> cov = gsl::owned(gsl_matrix_alloc(terms, terms));
  gsl::Ptr<gsl_multifit_linear_workspace> work = gsl::owned(gsl_multifit_linear_alloc(n, terms));
  for (std::size_t i = 0; i < n; ++i) {
    const double t = scaled(chosen[i].x);
    double power = 1;
    for (std::size_t k = 0; k < terms; ++k) {
      gsl_matrix_set(X.get(), i, k, power);
      power *= t;
    }
    gsl_vector_set(yv.get(), i, chosen[i].y);
  }
  double chi2 = 0;
  if (gsl_multifit_linear(X.get(), yv.get(), c.get(), cov.get(), &chi2, work.get()) != GSL_SUCCESS)
    throw Error("The baseline could not be computed");
  std::vector<double> out;
  out.reserve(points.size());
  for (const Point& p : points) {
    // Horner's rule in the scaled x.
    const double t = scaled(p.x);
    double v = 0;
    for (std::size_t k = terms; k-- > 0;) v = v * t + gsl_vector_get(c.get(), k);
    out.push_back(v);
  }
  return out;
}

namespace {

/// Subtracts each row's baseline, all of them computed beforehand.
void subtractBaselines(GraphStore& store, const std::vector<std::size_t>& rows,
                       const std::vector<std::vector<double>>& baselines) {
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const std::vector<double>& b = baselines[k];
    store.rewriteYWithUndo(
        rows[k], [&](const std::vector<Point>& old, std::size_t j) { return old[j].y - b[j]; });
  }
  store.setUndoEnabled(true);
}

}  // namespace

void subtractAlsBaseline(GraphStore& store, const std::vector<std::size_t>& rows, double lambda,
                         double p) {
  checkAlsParameters(lambda, p);
  std::vector<std::vector<double>> baselines;
  for (std::size_t r : rows) {
    std::vector<double> y;
    for (const Point& pt : store.series(r).points()) y.push_back(pt.y);
    baselines.push_back(alsBaseline(y, lambda, p));
  }
  subtractBaselines(store, rows, baselines);
}

void subtractPolynomialBaseline(GraphStore& store, const std::vector<std::size_t>& rows, int degree,
                                std::span<const XRange> ranges) {
  checkPolynomialBaseline(degree, ranges);
  std::vector<std::vector<double>> baselines;
  for (std::size_t r : rows) {
    try {
      baselines.push_back(polynomialBaseline(store.series(r).points(), degree, ranges));
    } catch (const Error& e) {
      throw Error(std::string(e.what()) + " in " + store.graph(r).name);
    }
  }
  subtractBaselines(store, rows, baselines);
}

}  // namespace varnix
