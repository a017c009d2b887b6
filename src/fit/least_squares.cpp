#include "fit/least_squares.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "fit/gsl_support.h"
#include "workspace/error.h"
#include "workspace/number_text.h"

namespace varnix {
namespace {

/// How a free parameter p is reached from the solver's unbounded u.
struct Bound {
  enum class Kind { None, Both, Lower, Upper } kind = Kind::None;
  double lower = 0, upper = 0;

  /// p(u), and dp/du in *slope.
  double external(double u, double* slope) const {
    switch (kind) {
      case Kind::None:
        *slope = 1;
        return u;
      case Kind::Both:
        *slope = (upper - lower) / 2 * std::cos(u);
        return std::clamp(lower + (upper - lower) * ((std::sin(u) + 1) / 2), lower, upper);
      case Kind::Lower: {
        const double r = std::sqrt(u * u + 1);
        *slope = u / r;
        return std::max(lower, lower - 1 + r);
      }
      case Kind::Upper: {
        const double r = std::sqrt(u * u + 1);
        *slope = -u / r;
        return std::min(upper, upper + 1 - r);
      }
    }
    return u;
  }

  /// u(p); a start on a bound is moved just inside it, where the slope is
  /// not zero, or the parameter could never leave the bound.
  double internal(double p) const {
    constexpr double kInside = 1e-3;
    switch (kind) {
      case Kind::None:
        return p;
      case Kind::Both: {
        const double s = std::clamp(2 * (p - lower) / (upper - lower) - 1, -1.0, 1.0);
        return std::clamp(std::asin(s), -std::numbers::pi / 2 + kInside,
                          std::numbers::pi / 2 - kInside);
      }
      case Kind::Lower:
        return std::max(kInside, std::sqrt(std::max(0.0, (p - lower + 1) * (p - lower + 1) - 1)));
      case Kind::Upper:
        return std::max(kInside, std::sqrt(std::max(0.0, (upper - p + 1) * (upper - p + 1) - 1)));
    }
    return p;
  }
};

/// The fit's state as GSL's callbacks see it.
struct Problem {
  Problem(const FitModel& m, const std::vector<bool>& free, std::span<const Point> p)
      : model(m), evaluator(m, free), points(p) {}

  const FitModel& model;
  ModelEvaluator evaluator;
  std::span<const Point> points;
  std::vector<double> values;          ///< every parameter, fixed ones included
  std::vector<std::size_t> freeIndex;  ///< the parameter of each free slot
  std::vector<Bound> bounds;           ///< per free slot
  std::vector<double> slope;           ///< dp/du per free slot
  std::vector<double> gradient;
  std::string failure;

  void setFree(const gsl_vector* u) {
    for (std::size_t k = 0; k < freeIndex.size(); ++k)
      values[freeIndex[k]] = bounds[k].external(gsl_vector_get(u, k), &slope[k]);
  }
};

/// A residual that is not finite (a trial step into a region where the
/// model is undefined) becomes a huge one, so that the step is refused.
constexpr double kUndefinedResidual = 1e100;

int residuals(const gsl_vector* u, void* data, gsl_vector* f) {
  Problem& p = *static_cast<Problem*>(data);
  p.setFree(u);
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    const double r = p.evaluator.value(p.points[i].x, p.values.data()) - p.points[i].y;
    gsl_vector_set(f, i, std::isfinite(r) ? r : kUndefinedResidual);
  }
  return GSL_SUCCESS;
}

int jacobian(const gsl_vector* u, void* data, gsl_matrix* J) {
  Problem& p = *static_cast<Problem*>(data);
  p.setFree(u);
  const std::size_t m = p.freeIndex.size();
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    p.evaluator.valueAndGradient(p.points[i].x, p.values.data(), p.gradient.data());
    double* row = gsl_matrix_ptr(J, i, 0);
    for (std::size_t k = 0; k < m; ++k) {
      const double d = p.gradient[k] * p.slope[k];
      if (!std::isfinite(d)) {
        const std::string& name = p.model.parameters()[p.freeIndex[k]];
        p.failure = "the derivative in " + name + " is not finite at " + name + "=" +
                    formatShortest(p.values[p.freeIndex[k]]) +
                    ", x=" + formatShortest(p.points[i].x);
        return GSL_EDOM;
      }
      row[k] = d;
    }
  }
  return GSL_SUCCESS;
}

std::vector<double> pointWeights(FitWeights weights, std::span<const Point> points) {
  std::vector<double> w(points.size(), 1.0);
  if (weights == FitWeights::Poisson)
    for (std::size_t i = 0; i < points.size(); ++i) w[i] = 1 / std::max(points[i].y, 1.0);
  return w;
}

/// The covariance (J^T W J)^-1 of the free parameters at the minimum, from
/// the Jacobian in the parameters themselves (not the solver's transformed
/// ones, whose slope vanishes on a bound). Columns are scaled to unit
/// length first, so that the rank test does not depend on the parameters'
/// units. Empty when the columns are linearly dependent.
std::vector<double> freeCovariance(Problem& p, const std::vector<double>& weights) {
  const std::size_t n = p.points.size(), m = p.freeIndex.size();
  gsl::Ptr<gsl_matrix> J = gsl::owned(gsl_matrix_alloc(n, m));
  gsl::Ptr<gsl_matrix> C = gsl::owned(gsl_matrix_alloc(m, m));
  std::vector<double> norm(m, 0);
  for (std::size_t i = 0; i < n; ++i) {
    p.evaluator.valueAndGradient(p.points[i].x, p.values.data(), p.gradient.data());
    const double sw = std::sqrt(weights[i]);
    for (std::size_t k = 0; k < m; ++k) {
      const double d = p.gradient[k] * sw;
      gsl_matrix_set(J.get(), i, k, d);
      norm[k] += d * d;
    }
  }
  for (std::size_t k = 0; k < m; ++k) {
    norm[k] = std::sqrt(norm[k]);
    if (!(norm[k] > 0) || !std::isfinite(norm[k])) return {};
    gsl_vector_view column = gsl_matrix_column(J.get(), k);
    gsl_vector_scale(&column.vector, 1 / norm[k]);
  }
  // A column within this relative size of the others' span counts as
  // dependent on them.
  constexpr double kRankTolerance = 1e-12;
  if (gsl_multifit_nlinear_covar(J.get(), kRankTolerance, C.get()) != GSL_SUCCESS) return {};
  std::vector<double> out(m * m);
  for (std::size_t a = 0; a < m; ++a) {
    if (gsl_matrix_get(C.get(), a, a) == 0) return {};
    for (std::size_t b = 0; b < m; ++b)
      out[a * m + b] = gsl_matrix_get(C.get(), a, b) / (norm[a] * norm[b]);
  }
  return out;
}

/// A trust-region method: the step's subproblem and the scaling of the
/// parameters.
struct Strategy {
  const gsl_multifit_nlinear_trs* trs;
  const gsl_multifit_nlinear_scale* scale;
};

struct SolverRun {
  bool converged = false;
  bool fullRank = false;
  std::string failure;
  std::vector<double> u;  ///< the solver's parameters at the end
  double chi2 = 0;
  std::size_t iterations = 0;
};

/// Iterates from u0 until no step lowers chi-square any more (GSL's "no
/// progress" after repeatedly shrinking the trust region) or the step is
/// down at rounding level; then starts again from there with a fresh trust
/// region for as long as that lowers chi-square (steps that had become tiny
/// in a long narrow valley grow again). There is no test on the gradient:
/// GSL's is absolute for a chi-square below 1 and stops fits of nearly
/// exact data early.
SolverRun runSolver(Problem& problem, const Strategy& strategy, const std::vector<double>& u0,
                    const gsl_vector* wts, std::size_t maxIterations) {
  const std::size_t n = problem.points.size(), m = u0.size();
  gsl_multifit_nlinear_parameters params = gsl_multifit_nlinear_default_parameters();
  params.trs = strategy.trs;
  params.scale = strategy.scale;
  params.solver = gsl_multifit_nlinear_solver_qr;
  gsl::Ptr<gsl_multifit_nlinear_workspace> first =
      gsl::owned(gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &params, n, m));
  // The restarts without geodesic acceleration (near the minimum its second
  // derivative, taken by finite differences, is mostly rounding) and with
  // More's scaling.
  params.trs = gsl_multifit_nlinear_trs_lm;
  params.scale = gsl_multifit_nlinear_scale_more;
  gsl::Ptr<gsl_multifit_nlinear_workspace> polish =
      gsl::owned(gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &params, n, m));
  gsl_multifit_nlinear_fdf fdf{};
  fdf.f = residuals;
  fdf.df = jacobian;
  fdf.n = n;
  fdf.p = m;
  fdf.params = &problem;
  problem.failure.clear();

  SolverRun run;
  run.u = u0;
  constexpr double kStepTolerance = 1e-15;
  constexpr int kMaxRestarts = 10;
  double previous = 0;
  for (int pass = 0; pass <= kMaxRestarts; ++pass) {
    gsl_multifit_nlinear_workspace* w = pass == 0 ? first.get() : polish.get();
    gsl_vector_const_view start = gsl_vector_const_view_array(run.u.data(), m);
    int status = gsl_multifit_nlinear_winit(&start.vector, wts, &fdf, w);
    bool converged = false;
    while (status == GSL_SUCCESS) {
      if (run.iterations >= maxIterations) {
        run.failure = "no convergence within " + std::to_string(maxIterations) + " iterations";
        break;
      }
      status = gsl_multifit_nlinear_iterate(w);
      if (status == GSL_ENOPROG) {
        converged = true;
        break;
      }
      if (status != GSL_SUCCESS) break;
      ++run.iterations;
      int info = 0;
      if (gsl_multifit_nlinear_test(kStepTolerance, 0, 0, &info, w) == GSL_SUCCESS) {
        converged = true;
        break;
      }
    }
    if (!converged) {
      if (pass > 0) {
        run.failure.clear();  // a restart that fails keeps the converged result
        return run;
      }
      const gsl_vector* x = gsl_multifit_nlinear_position(w);
      run.u.assign(x->data, x->data + m);
      if (run.failure.empty())
        run.failure = !problem.failure.empty() ? problem.failure : gsl_strerror(status);
      return run;
    }
    const gsl_vector* x = gsl_multifit_nlinear_position(w);
    run.u.assign(x->data, x->data + m);
    const double f = gsl_blas_dnrm2(gsl_multifit_nlinear_residual(w));
    run.chi2 = f * f;
    run.converged = true;
    if (pass > 0 && !(run.chi2 < previous * (1 - 1e-12))) break;
    previous = run.chi2;
  }
  return run;
}

}  // namespace

void checkFitSettings(const FitModel& model, const FitSettings& settings) {
  const std::vector<std::string>& names = model.parameters();
  if (settings.parameters.size() != names.size())
    throw Error("The fit needs one setting for each of the " + std::to_string(names.size()) +
                " parameters");
  for (std::size_t i = 0; i < names.size(); ++i) {
    const ParameterSetting& s = settings.parameters[i];
    if (!s.start) throw Error("Parameter " + names[i] + " has no start value");
    if (!std::isfinite(*s.start))
      throw Error("The start value of " + names[i] + " is not a finite number");
    if (std::isnan(s.lower) || std::isnan(s.upper))
      throw Error("A bound of " + names[i] + " is not a number");
    if (s.lower > s.upper)
      throw Error("The lower bound of " + names[i] + " (" + formatShortest(s.lower) +
                  ") is above its upper bound (" + formatShortest(s.upper) + ")");
    if (*s.start < s.lower || *s.start > s.upper)
      throw Error("The start value of " + names[i] + " (" + formatShortest(*s.start) +
                  ") is outside its bounds " + formatShortest(s.lower) + " to " +
                  formatShortest(s.upper));
  }
  if (std::isnan(settings.x1) || std::isnan(settings.x2))
    throw Error("The fit range is not a number");
}

std::vector<Point> pointsInRange(const Series& series, double x1, double x2) {
  const double lo = std::min(x1, x2), hi = std::max(x1, x2);
  std::vector<Point> out;
  for (const Point& p : series.points())
    if (p.x >= lo && p.x <= hi) out.push_back(p);
  return out;
}

namespace {

/// A parameter is free unless fixed or held by equal bounds.
bool isFree(const ParameterSetting& s) {
  return !s.fixed && s.lower < s.upper;
}

std::size_t freeCount(const FitSettings& settings) {
  return static_cast<std::size_t>(
      std::count_if(settings.parameters.begin(), settings.parameters.end(), isFree));
}

std::string rangeText(const FitSettings& settings) {
  return formatShortest(std::min(settings.x1, settings.x2)) + " and " +
         formatShortest(std::max(settings.x1, settings.x2));
}

}  // namespace

void checkFitStart(const FitModel& model, const FitSettings& settings,
                   std::span<const Point> points, const std::string& what, bool checkModel) {
  checkFitSettings(model, settings);
  const std::size_t free = freeCount(settings);
  if (points.empty())
    throw Error("There are no points between x = " + rangeText(settings) + " in " + what);
  if (points.size() < free)
    throw Error("There are " + std::to_string(points.size()) +
                " points between x = " + rangeText(settings) + " in " + what + ", fewer than the " +
                std::to_string(free) + " free parameters");
  for (const Point& p : points)
    if (!std::isfinite(p.x) || !std::isfinite(p.y))
      throw Error("The data of " + what + " hold a value that is not a finite number");
  if (!checkModel) return;
  std::vector<double> values;
  for (const ParameterSetting& s : settings.parameters) values.push_back(*s.start);
  std::vector<bool> freeMask;
  for (const ParameterSetting& s : settings.parameters) freeMask.push_back(isFree(s));
  ModelEvaluator e(model, freeMask);
  std::vector<double> gradient(e.freeCount());
  for (const Point& p : points) {
    const double v = e.valueAndGradient(p.x, values.data(), gradient.data());
    if (!std::isfinite(v))
      throw Error("The model is not finite at the start at x = " + formatShortest(p.x) + " in " +
                  what);
    for (double g : gradient)
      if (!std::isfinite(g))
        throw Error("The model's derivative is not finite at the start at x = " +
                    formatShortest(p.x) + " in " + what);
  }
}

FitResult fitPoints(const FitModel& model, const FitSettings& settings,
                    std::span<const Point> points, const std::string& what) {
  checkFitStart(model, settings, points, what);
  gsl::silenceErrors();
  const std::size_t count = model.parameters().size();
  std::vector<bool> freeMask;
  for (const ParameterSetting& s : settings.parameters) freeMask.push_back(isFree(s));
  Problem problem(model, freeMask, points);
  for (std::size_t i = 0; i < count; ++i) {
    const ParameterSetting& s = settings.parameters[i];
    problem.values.push_back(*s.start);
    if (!freeMask[i]) continue;
    problem.freeIndex.push_back(i);
    Bound b;
    b.lower = s.lower;
    b.upper = s.upper;
    const bool lo = std::isfinite(s.lower), hi = std::isfinite(s.upper);
    b.kind = lo && hi ? Bound::Kind::Both
             : lo     ? Bound::Kind::Lower
             : hi     ? Bound::Kind::Upper
                      : Bound::Kind::None;
    problem.bounds.push_back(b);
  }
  const std::size_t n = points.size(), m = problem.freeIndex.size();
  problem.slope.assign(m, 1);
  problem.gradient.assign(m, 0);
  const std::vector<double> weights = pointWeights(settings.weights, points);

  FitResult result;
  result.points = n;
  result.dof = n - m;
  if (m > 0) {
    std::vector<double> u0(m);
    for (std::size_t k = 0; k < m; ++k)
      u0[k] = problem.bounds[k].internal(problem.values[problem.freeIndex[k]]);
    gsl::Ptr<gsl_vector> wts = gsl::owned(gsl_vector_alloc(n));
    for (std::size_t i = 0; i < n; ++i) gsl_vector_set(wts.get(), i, weights[i]);
    // Levenberg-Marquardt with geodesic acceleration and Levenberg scaling
    // first: it reaches the certified minimum of every reference problem
    // from both starts. Should it fail or end where the Jacobian is
    // singular, the plain method with More's and with Levenberg's scaling
    // try from the start too, and the best converged run is taken.
    const Strategy strategies[] = {
        {gsl_multifit_nlinear_trs_lmaccel, gsl_multifit_nlinear_scale_levenberg},
        {gsl_multifit_nlinear_trs_lm, gsl_multifit_nlinear_scale_more},
        {gsl_multifit_nlinear_trs_lm, gsl_multifit_nlinear_scale_levenberg},
    };
    std::optional<SolverRun> best;
    for (const Strategy& strategy : strategies) {
      SolverRun run = runSolver(problem, strategy, u0, wts.get(), settings.maxIterations);
      if (!run.converged) {
        if (!best) best = std::move(run);
        continue;
      }
      gsl_vector_const_view end = gsl_vector_const_view_array(run.u.data(), m);
      problem.setFree(&end.vector);
      run.fullRank = !freeCovariance(problem, weights).empty();
      if (!best || !best->converged || (run.fullRank && !best->fullRank) ||
          (run.fullRank == best->fullRank && run.chi2 < best->chi2))
        best = std::move(run);
      if (best->fullRank) break;
    }
    result.converged = best->converged;
    result.failure = best->failure;
    result.iterations = best->iterations;
    gsl_vector_const_view end = gsl_vector_const_view_array(best->u.data(), m);
    problem.setFree(&end.vector);
  }

  result.values = problem.values;
  // The statistics in extended precision: a good fit's residuals may be
  // close to the rounding level of the model's values.
  long double chi2 = 0, sw = 0, swy = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const long double r =
        problem.evaluator.valueExtended(points[i].x, problem.values.data()) - points[i].y;
    chi2 += weights[i] * r * r;
    sw += weights[i];
    swy += weights[i] * points[i].y;
  }
  const long double mean = swy / sw;
  long double total = 0;
  for (std::size_t i = 0; i < n; ++i)
    total += weights[i] * (points[i].y - mean) * (points[i].y - mean);
  result.chi2 = static_cast<double>(chi2);
  result.r2 = total > 0 ? static_cast<double>(1 - chi2 / total) : std::nan("");
  if (m == 0) result.converged = true;

  result.errors.assign(count, 0);
  result.covariance.assign(count * count, 0);
  const std::vector<double> c = m > 0 ? freeCovariance(problem, weights) : std::vector<double>();
  result.errorsDetermined = result.dof > 0 && (m == 0 || !c.empty());
  const double scale = result.dof > 0 ? result.chi2 / static_cast<double>(result.dof) : 0;
  for (std::size_t a = 0; a < m; ++a) {
    const std::size_t pa = problem.freeIndex[a];
    result.errors[pa] = result.errorsDetermined ? std::sqrt(c[a * m + a] * scale) : std::nan("");
    for (std::size_t b = 0; b < m; ++b)
      result.covariance[pa * count + problem.freeIndex[b]] =
          result.errorsDetermined ? c[a * m + b] * scale : std::nan("");
  }
  return result;
}

std::vector<double> modelValues(const FitModel& model, std::span<const double> parameters,
                                std::span<const Point> points) {
  ModelEvaluator e(model, std::vector<bool>(model.parameters().size(), false));
  std::vector<double> out;
  out.reserve(points.size());
  for (const Point& p : points) out.push_back(e.value(p.x, parameters.data()));
  return out;
}

}  // namespace varnix
