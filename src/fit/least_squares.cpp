#include "fit/least_squares.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <optional>

#include <gsl/gsl_linalg.h>

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
        // r - 1 as u^2 / (r + 1): exact at the bound (u = 0).
        const double r = std::sqrt(u * u + 1);
        *slope = u / r;
        return lower + u * u / (r + 1);
      }
      case Kind::Upper: {
        const double r = std::sqrt(u * u + 1);
        *slope = -u / r;
        return upper - u * u / (r + 1);
      }
    }
    return u;
  }

  /// u(p); a start on a bound is moved just inside it, where the slope is
  /// not zero, or the parameter could never leave the bound (inside = 0:
  /// the bound itself, for an end on it).
  double internal(double p, double kInside = 1e-3) const {
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
        p.failure = "the derivative in " + name;
        p.failure.append(" is not finite at ")
            .append(name)
            .append("=")
            .append(formatShortest(p.values[p.freeIndex[k]]))
            .append(", x=")
            .append(formatShortest(p.points[i].x));
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

/// What the Jacobian at the end of a pass says: the covariance (J^T W J)^-1
/// of the free parameters, from the Jacobian in the parameters themselves
/// (not the solver's transformed ones, whose slope vanishes on a bound), with
/// columns scaled to unit length first so that the rank test does not depend
/// on the parameters' units (empty when the columns are linearly dependent);
/// whether the Gauss-Newton step from here is negligible (the end is a
/// stationary point); and whether a parameter has lost all influence
/// (changing it by itself moves the model by less than 1e-10 of the
/// residual), as at the far end of a plateau, where a solver can stop
/// without being at a minimum.
struct EndJacobian {
  std::vector<double> covariance;
  std::vector<double> step;     ///< the Gauss-Newton step in the parameters
  bool closeToMinimum = false;  ///< the step is within 1e-3 of every standard error
  bool stationary = false;
  bool deadParameter = false;
  bool healthy() const { return !covariance.empty() && !deadParameter; }
};

EndJacobian assessEnd(Problem& p, const std::vector<double>& weights, double chi2,
                      std::size_t dof) {
  const std::size_t n = p.points.size(), m = p.freeIndex.size();
  gsl::Ptr<gsl_matrix> J = gsl::owned(gsl_matrix_alloc(n, m));
  gsl::Ptr<gsl_matrix> C = gsl::owned(gsl_matrix_alloc(m, m));
  std::vector<double> norm(m, 0), g(m, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const double v =
        p.evaluator.valueAndGradient(p.points[i].x, p.values.data(), p.gradient.data());
    const double sw = std::sqrt(weights[i]);
    const double r = (v - p.points[i].y) * sw;
    for (std::size_t k = 0; k < m; ++k) {
      const double d = p.gradient[k] * sw;
      gsl_matrix_set(J.get(), i, k, d);
      norm[k] += d * d;
      g[k] += d * r;
    }
  }
  EndJacobian end;
  for (std::size_t k = 0; k < m; ++k) {
    norm[k] = std::sqrt(norm[k]);
    // The change: the parameter's size, or for a bounded one (which may sit
    // on a bound at 0) its greatest distance to a bound, if larger.
    const double v = p.values[p.freeIndex[k]];
    double change = std::fabs(v);
    if (std::isfinite(p.bounds[k].lower) && p.bounds[k].kind != Bound::Kind::None)
      change = std::max(change, v - p.bounds[k].lower);
    if (std::isfinite(p.bounds[k].upper) && p.bounds[k].kind != Bound::Kind::None)
      change = std::max(change, p.bounds[k].upper - v);
    if (norm[k] * change < 1e-10 * std::sqrt(chi2)) end.deadParameter = true;
    if (!(norm[k] > 0) || !std::isfinite(norm[k])) return end;
    gsl_vector_view column = gsl_matrix_column(J.get(), k);
    gsl_vector_scale(&column.vector, 1 / norm[k]);
  }
  // A column within this relative size of the others' span counts as
  // dependent on them.
  constexpr double kRankTolerance = 1e-12;
  if (gsl_multifit_nlinear_covar(J.get(), kRankTolerance, C.get()) != GSL_SUCCESS) return end;
  for (std::size_t a = 0; a < m; ++a)
    if (gsl_matrix_get(C.get(), a, a) == 0) return end;
  end.covariance.resize(m * m);
  for (std::size_t a = 0; a < m; ++a)
    for (std::size_t b = 0; b < m; ++b)
      end.covariance[a * m + b] = gsl_matrix_get(C.get(), a, b) / (norm[a] * norm[b]);
  // The Gauss-Newton step -(J^T W J)^-1 J^T W r, negligible against each
  // parameter and against its standard error.
  const double scale = dof > 0 ? chi2 / static_cast<double>(dof) : 0;
  end.stationary = end.closeToMinimum = true;
  end.step.assign(m, 0);
  for (std::size_t a = 0; a < m; ++a) {
    for (std::size_t b = 0; b < m; ++b) end.step[a] -= end.covariance[a * m + b] * g[b];
    const double step = std::fabs(end.step[a]);
    const double error = std::sqrt(end.covariance[a * m + a] * scale);
    if (!(step <= 1e-10 * std::fabs(p.values[p.freeIndex[a]]) + 1e-8 * error))
      end.stationary = false;
    if (!(step <= 1e-3 * error)) end.closeToMinimum = false;
  }
  return end;
}

/// A trust-region method: the step's subproblem and the scaling of the
/// parameters.
struct Strategy {
  const gsl_multifit_nlinear_trs* trs;
  const gsl_multifit_nlinear_scale* scale;
  const gsl_multifit_nlinear_solver* solver;
};

struct SolverRun {
  bool converged = false;
  std::string failure;
  std::vector<double> u;  ///< the solver's parameters at the end
  double chi2 = 0;
  std::size_t iterations = 0;
  EndJacobian end;  ///< at the end, when converged
};

/// Near the minimum Levenberg-Marquardt shrinks its steps once chi-square
/// changes at its rounding level, while the parameters may still be off by
/// far more than theirs (a straight line stops some 1e-9 short). When the
/// Gauss-Newton step lies well within the standard errors, it is taken as
/// it is (up to three times) as long as chi-square does not rise beyond
/// rounding and no bound is crossed. True when the end is then stationary.
double chi2Of(Problem& problem, const std::vector<double>& weights) {
  double chi2 = 0;
  for (std::size_t i = 0; i < problem.points.size(); ++i) {
    const double r =
        problem.evaluator.value(problem.points[i].x, problem.values.data()) - problem.points[i].y;
    chi2 += weights[i] * r * r;
  }
  return chi2;
}

bool finishByGaussNewton(Problem& problem, const std::vector<double>& weights, SolverRun& run) {
  const std::size_t m = problem.freeIndex.size(), dof = problem.points.size() - m;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!run.end.closeToMinimum) return false;
    std::vector<double> u(m);
    for (std::size_t k = 0; k < m; ++k) {
      const Bound& b = problem.bounds[k];
      const double p = problem.values[problem.freeIndex[k]] + run.end.step[k];
      if (!(p > b.lower && p < b.upper) && b.kind != Bound::Kind::None) return false;
      u[k] = b.internal(p);
    }
    const std::vector<double> before = problem.values;
    gsl_vector_const_view view = gsl_vector_const_view_array(u.data(), m);
    problem.setFree(&view.vector);
    const double chi2 = chi2Of(problem, weights);
    if (!(chi2 <= run.chi2 * (1 + 1e-12))) {
      problem.values = before;
      return false;
    }
    run.u = u;
    run.chi2 = chi2;
    run.end = assessEnd(problem, weights, chi2, dof);
    if (run.end.stationary) return true;
  }
  return false;
}

/// The Gauss-Newton step of the free parameters that are not held (0 for
/// the held ones), with the standard errors it is judged by, and chi-square's
/// half gradient J^T W r in every free parameter.
struct HeldStep {
  bool ok = false;  ///< false: the Jacobian of the others is singular
  std::vector<double> step, error, gradient;
};

HeldStep stepWithHeld(Problem& p, const std::vector<double>& weights, const std::vector<bool>& held,
                      double chi2, std::size_t dof) {
  const std::size_t n = p.points.size(), m = p.freeIndex.size();
  std::vector<std::size_t> open;
  for (std::size_t k = 0; k < m; ++k)
    if (!held[k]) open.push_back(k);
  HeldStep out;
  out.step.assign(m, 0);
  out.error.assign(m, 0);
  out.gradient.assign(m, 0);
  const std::size_t q = open.size();
  gsl::Ptr<gsl_matrix> J = gsl::owned(gsl_matrix_alloc(n, std::max<std::size_t>(q, 1)));
  std::vector<double> norm(q, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const double v =
        p.evaluator.valueAndGradient(p.points[i].x, p.values.data(), p.gradient.data());
    const double sw = std::sqrt(weights[i]);
    const double r = (v - p.points[i].y) * sw;
    for (std::size_t k = 0; k < m; ++k) out.gradient[k] += p.gradient[k] * sw * r;
    for (std::size_t j = 0; j < q; ++j) {
      const double d = p.gradient[open[j]] * sw;
      gsl_matrix_set(J.get(), i, j, d);
      norm[j] += d * d;
    }
  }
  if (q == 0) {
    out.ok = true;
    return out;
  }
  for (std::size_t j = 0; j < q; ++j) {
    norm[j] = std::sqrt(norm[j]);
    if (!(norm[j] > 0) || !std::isfinite(norm[j])) return out;
    gsl_vector_view column = gsl_matrix_column(J.get(), j);
    gsl_vector_scale(&column.vector, 1 / norm[j]);
  }
  gsl::Ptr<gsl_matrix> C = gsl::owned(gsl_matrix_alloc(q, q));
  if (gsl_multifit_nlinear_covar(J.get(), 1e-12, C.get()) != GSL_SUCCESS) return out;
  const double scale = dof > 0 ? chi2 / static_cast<double>(dof) : 0;
  for (std::size_t a = 0; a < q; ++a) {
    if (gsl_matrix_get(C.get(), a, a) == 0) return out;
    double step = 0;
    for (std::size_t b = 0; b < q; ++b)
      step -= gsl_matrix_get(C.get(), a, b) / (norm[a] * norm[b]) * out.gradient[open[b]];
    out.step[open[a]] = step;
    out.error[open[a]] = std::sqrt(gsl_matrix_get(C.get(), a, a) * scale) / norm[a];
  }
  out.ok = true;
  return out;
}

/// An end on bounds, judged by the projected gradient: the parameters whose
/// Gauss-Newton step leads out through a bound are put on it and held, and
/// the others take their Gauss-Newton steps as long as these shrink and
/// chi-square does not rise beyond rounding; one whose step would cross a
/// bound joins the held ones, a held one whose chi-square falls inward is
/// let go (once). The end is a minimum on the bounds when those steps are
/// negligible (as in the stationary test) and chi-square's gradient in each
/// held parameter points out through its bound. Then the run ends there,
/// the held parameters exactly on their bounds; otherwise nothing changes.
/// Each step counts as an iteration of the run.
bool finishOnBounds(Problem& problem, const std::vector<double>& weights, SolverRun& run) {
  const std::size_t m = problem.freeIndex.size(), dof = problem.points.size() - m;
  if (run.end.step.size() != m) return false;
  std::vector<bool> held(m, false), released(m, false);
  std::vector<double> on(m, 0);
  bool any = false;
  const std::vector<double> before = problem.values;
  for (std::size_t k = 0; k < m; ++k) {
    const Bound& b = problem.bounds[k];
    const bool lower = b.kind == Bound::Kind::Both || b.kind == Bound::Kind::Lower;
    const bool upper = b.kind == Bound::Kind::Both || b.kind == Bound::Kind::Upper;
    const double target = problem.values[problem.freeIndex[k]] + run.end.step[k];
    if (lower && target < b.lower)
      on[k] = b.lower;
    else if (upper && target > b.upper)
      on[k] = b.upper;
    else
      continue;
    held[k] = any = true;
    problem.values[problem.freeIndex[k]] = on[k];
  }
  if (!any) return false;
  auto restore = [&] {
    problem.values = before;
    return false;
  };
  double chi2 = chi2Of(problem, weights);
  if (!(chi2 <= run.chi2 * (1 + 1e-12))) return restore();
  double lastWorst = std::numeric_limits<double>::infinity();
  for (;;) {
    const HeldStep h = stepWithHeld(problem, weights, held, chi2, dof);
    ++run.iterations;
    if (!h.ok) return restore();
    bool stationary = true, release = false;
    double worst = 0;  // the largest step in standard errors
    for (std::size_t k = 0; k < m; ++k) {
      const double p = problem.values[problem.freeIndex[k]];
      if (held[k]) {
        // Chi-square must fall outward through the bound: where a step
        // inside lowers it, the parameter is let go (once).
        const bool atLower = on[k] == problem.bounds[k].lower;
        if (atLower ? h.gradient[k] < 0 : h.gradient[k] > 0) {
          if (released[k]) return restore();
          held[k] = false;
          released[k] = release = true;
        }
      } else {
        if (!(std::fabs(h.step[k]) <= 1e-10 * std::fabs(p) + 1e-8 * h.error[k])) stationary = false;
        worst = std::max(worst, std::fabs(h.step[k]) / h.error[k]);
      }
    }
    if (release) {
      lastWorst = std::numeric_limits<double>::infinity();  // another problem now
      continue;
    }
    if (stationary) {
      for (std::size_t k = 0; k < m; ++k)
        run.u[k] = problem.bounds[k].internal(problem.values[problem.freeIndex[k]], 0);
      run.chi2 = chi2;
      run.end = assessEnd(problem, weights, chi2, dof);
      run.end.stationary = true;
      return true;
    }
    // The steps must keep shrinking (Gauss-Newton may converge only
    // linearly where the residuals are large).
    if (!(worst < 0.9 * lastWorst)) return restore();
    lastWorst = worst;
    // Parameters whose step now leads out through a bound join the held
    // ones, on it (at most once each); otherwise the others step.
    bool joined = false;
    for (std::size_t k = 0; k < m; ++k) {
      const Bound& b = problem.bounds[k];
      const double p = problem.values[problem.freeIndex[k]] + h.step[k];
      if (held[k] || b.kind == Bound::Kind::None || (p > b.lower && p < b.upper)) continue;
      held[k] = joined = true;
      on[k] = p <= b.lower ? b.lower : b.upper;
      problem.values[problem.freeIndex[k]] = on[k];
    }
    if (joined)
      lastWorst = std::numeric_limits<double>::infinity();
    else
      for (std::size_t k = 0; k < m; ++k)
        if (!held[k]) problem.values[problem.freeIndex[k]] += h.step[k];
    const double next = chi2Of(problem, weights);
    if (!(next <= chi2 * (1 + 1e-12))) return restore();
    chi2 = next;
  }
}

/// One run of a method from u0, in passes. A pass iterates until no step
/// lowers chi-square any more (GSL's "no progress" after repeatedly
/// shrinking the trust region) or the step is down at rounding level (1e-15
/// of the parameters). Whenever the step falls below 1e-10 of the
/// parameters, and at the end of a pass, the Gauss-Newton step from there
/// is computed: the run has converged once it is negligible (a stationary
/// point; a small step alone may only mean a small trust region). After a
/// pass that ends elsewhere, a new pass starts from its end with a fresh
/// trust region (steps that had become tiny in a long narrow valley grow
/// again); a pass that no longer lowers chi-square by 1e-12 of itself ends
/// the run as converged (at the rounding level of the data). There is no
/// test on the gradient: GSL's is absolute for a chi-square below 1 and
/// stops fits of nearly exact data early.
SolverRun runSolver(Problem& problem, const Strategy& strategy, const std::vector<double>& u0,
                    const gsl_vector* wts, const std::vector<double>& weights,
                    std::size_t maxIterations) {
  const std::size_t n = problem.points.size(), m = u0.size();
  gsl_multifit_nlinear_parameters params = gsl_multifit_nlinear_default_parameters();
  params.trs = strategy.trs;
  params.scale = strategy.scale;
  params.solver = strategy.solver;
  gsl::Ptr<gsl_multifit_nlinear_workspace> w =
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
  // Takes the solver's current end: chi-square and the Jacobian's verdict.
  auto assess = [&] {
    const gsl_vector* x = gsl_multifit_nlinear_position(w.get());
    const double f = gsl_blas_dnrm2(gsl_multifit_nlinear_residual(w.get()));
    run.chi2 = f * f;
    run.u.assign(x->data, x->data + m);
    problem.setFree(x);
    run.end = assessEnd(problem, weights, run.chi2, n - m);
    return run.end.stationary || finishByGaussNewton(problem, weights, run) ||
           finishOnBounds(problem, weights, run);
  };
  // With bounds, the end is also looked for every few iterations: a
  // parameter drawn to its bound creeps there by ever smaller steps in the
  // solver's variable, which the test on small steps would wait for long.
  const bool bounded = std::any_of(problem.bounds.begin(), problem.bounds.end(),
                                   [](const Bound& b) { return b.kind != Bound::Kind::None; });
  constexpr std::size_t kBoundCheck = 10;
  constexpr double kSmallStep = 1e-10, kRoundingStep = 1e-15;
  for (int pass = 0;; ++pass) {
    const double before = run.chi2;
    gsl_vector_const_view start = gsl_vector_const_view_array(run.u.data(), m);
    int status = gsl_multifit_nlinear_winit(&start.vector, wts, &fdf, w.get());
    bool ended = false, assessed = false;
    while (status == GSL_SUCCESS) {
      if (run.iterations >= maxIterations) {
        run.failure = "no convergence within " + std::to_string(maxIterations) +
                      (maxIterations == 1 ? " iteration" : " iterations");
        break;
      }
      status = gsl_multifit_nlinear_iterate(w.get());
      if (status == GSL_ENOPROG) {
        ended = true;
        break;
      }
      if (status != GSL_SUCCESS) break;
      ++run.iterations;
      if (bounded && run.iterations % kBoundCheck == 0) {
        if (assess()) {
          run.converged = true;
          return run;
        }
        // GSL goes on from its own position, whatever the test left behind.
        problem.setFree(gsl_multifit_nlinear_position(w.get()));
      }
      int info = 0;
      if (gsl_multifit_nlinear_test(kSmallStep, 0, 0, &info, w.get()) == GSL_SUCCESS) {
        if (assess()) {
          run.converged = true;
          return run;
        }
        assessed = true;
        if (gsl_multifit_nlinear_test(kRoundingStep, 0, 0, &info, w.get()) == GSL_SUCCESS) {
          ended = true;
          break;
        }
      } else {
        assessed = false;
      }
    }
    if (!ended) {
      const gsl_vector* x = gsl_multifit_nlinear_position(w.get());
      run.u.assign(x->data, x->data + m);
      if (run.failure.empty())
        run.failure = !problem.failure.empty() ? problem.failure : gsl_strerror(status);
      return run;
    }
    if ((!assessed && assess()) || (pass > 0 && !(run.chi2 < before * (1 - 1e-12)))) {
      run.converged = true;
      return run;
    }
  }
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

/// The covariance (J^T W J)^+ of the free parameters by the pseudo-inverse
/// (GSL's SVD of the Jacobian with columns scaled to unit length; singular
/// values below 1e-12 of the largest count as 0), for an end where the
/// Jacobian is singular. A parameter with a share in the null space (a
/// change of it that some change of the others undoes, or one that moves
/// nothing) is undetermined: NaN in its row and column. The others keep
/// their variances, which no choice of inverse changes.
struct Determination {
  std::vector<double> covariance;
  std::vector<bool> undetermined;
};

Determination pseudoInverseCovariance(Problem& p, const std::vector<double>& weights) {
  const std::size_t n = p.points.size(), m = p.freeIndex.size();
  gsl::Ptr<gsl_matrix> J = gsl::owned(gsl_matrix_alloc(n, m));
  std::vector<double> norm(m, 0);
  for (std::size_t i = 0; i < n; ++i) {
    p.evaluator.valueAndGradient(p.points[i].x, p.values.data(), p.gradient.data());
    const double sw = std::sqrt(weights[i]);
    for (std::size_t k = 0; k < m; ++k) {
      const double d = p.gradient[k] * sw;
      gsl_matrix_set(J.get(), i, k, std::isfinite(d) ? d : 0);
      norm[k] += d * d;
    }
  }
  for (std::size_t k = 0; k < m; ++k) {
    norm[k] = std::sqrt(norm[k]);
    gsl_vector_view column = gsl_matrix_column(J.get(), k);
    if (norm[k] > 0 && std::isfinite(norm[k]))
      gsl_vector_scale(&column.vector, 1 / norm[k]);
    else
      gsl_vector_set_zero(&column.vector);
  }
  gsl::Ptr<gsl_matrix> V = gsl::owned(gsl_matrix_alloc(m, m));
  gsl::Ptr<gsl_vector> S = gsl::owned(gsl_vector_alloc(m));
  gsl::Ptr<gsl_vector> work = gsl::owned(gsl_vector_alloc(m));
  Determination out;
  out.undetermined.assign(m, true);
  out.covariance.assign(m * m, std::nan(""));
  if (gsl_linalg_SV_decomp(J.get(), V.get(), S.get(), work.get()) != GSL_SUCCESS) return out;
  const double cut = 1e-12 * gsl_vector_get(S.get(), 0);
  std::vector<double> nullShare(m, 0);
  for (std::size_t j = 0; j < m; ++j)
    if (!(gsl_vector_get(S.get(), j) > cut))
      for (std::size_t k = 0; k < m; ++k)
        nullShare[k] += std::pow(gsl_matrix_get(V.get(), k, j), 2);
  for (std::size_t k = 0; k < m; ++k)
    out.undetermined[k] = !(nullShare[k] < 1e-8) || !(norm[k] > 0) || !std::isfinite(norm[k]);
  for (std::size_t a = 0; a < m; ++a)
    for (std::size_t b = 0; b < m; ++b) {
      if (out.undetermined[a] || out.undetermined[b]) continue;
      double c = 0;
      for (std::size_t j = 0; j < m; ++j) {
        const double s = gsl_vector_get(S.get(), j);
        if (s > cut) c += gsl_matrix_get(V.get(), a, j) * gsl_matrix_get(V.get(), b, j) / (s * s);
      }
      out.covariance[a * m + b] = c / (norm[a] * norm[b]);
    }
  return out;
}

/// "a", "a and b", "a, b and c".
std::string namesText(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i)
    out += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  return out;
}

/// Why an end is on a kink: a width of gauss, lorentz or pvoigt that 0
/// lies within the bounds of and that has shrunk below half the median
/// spacing of the points (the peak covers one point at most, and the model,
/// which depends on |w|, has a kink at 0 that stops the solver short).
/// Empty when there is none.
std::string kinkReason(const FitModel& model, const FitSettings& settings,
                       const std::vector<double>& values, std::span<const Point> points) {
  std::vector<double> spacing;
  for (std::size_t i = 1; i < points.size(); ++i)
    if (points[i].x != points[i - 1].x) spacing.push_back(std::fabs(points[i].x - points[i - 1].x));
  if (spacing.empty()) return {};
  std::nth_element(spacing.begin(), spacing.begin() + static_cast<long>(spacing.size() / 2),
                   spacing.end());
  const double typical = spacing[spacing.size() / 2];
  // The spacing to two digits, for the suggested bound.
  char text[32];
  std::snprintf(text, sizeof text, "%.2g", typical);
  const double bound = std::strtod(text, nullptr);
  for (const ModelNode& n : model.nodes()) {
    using Kind = ModelNode::Kind;
    if (n.kind != Kind::Gauss && n.kind != Kind::Lorentz && n.kind != Kind::PseudoVoigt) continue;
    const ModelNode& w = model.nodes()[n.child[3]];
    if (w.kind != Kind::Parameter) continue;
    const ParameterSetting& s = settings.parameters[w.parameter];
    if (!isFree(s) || s.lower > 0 || s.upper < 0) continue;
    const double v = values[w.parameter];
    if (!(std::fabs(v) < typical / 2)) continue;
    const std::string& name = model.parameters()[w.parameter];
    std::string why = "the width ";
    why += name;
    why += " goes to 0 (";
    why += name;
    why += "=";
    why += formatShortest(v);
    why +=
        ", below half the spacing of the points), where the model has a kink; keep it from 0 "
        "with a lower bound, as in ";
    why += name;
    why += "=";
    why += formatShortest(std::max(std::fabs(*s.start), bound));
    why += ":";
    why += formatShortest(bound);
    why += ":";
    return why;
  }
  return {};
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
  const std::vector<double> weights = pointWeights(settings.weights, points);
  double chi2 = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const double v = e.value(points[i].x, values.data());
    if (!std::isfinite(v))
      throw Error("The model is not finite at the start at x = " + formatShortest(points[i].x) +
                  " in " + what);
    chi2 += weights[i] * (v - points[i].y) * (v - points[i].y);
  }
  if (!std::isfinite(chi2))
    throw Error("The chi-square is not finite at the start in " + what +
                " (the model is too far from the data)");
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
  std::vector<double> covariance;  // of the free parameters, unscaled
  if (m > 0) {
    std::vector<double> u0(m);
    for (std::size_t k = 0; k < m; ++k)
      u0[k] = problem.bounds[k].internal(problem.values[problem.freeIndex[k]]);
    gsl::Ptr<gsl_vector> wts = gsl::owned(gsl_vector_alloc(n));
    for (std::size_t i = 0; i < n; ++i) gsl_vector_set(wts.get(), i, weights[i]);
    // Levenberg-Marquardt with More's scaling (invariant to the parameters'
    // units) first, its steps from the normal equations (Cholesky: about
    // three quarters of the time of QR steps on a spectrum of thousands of
    // points; its end is judged from the Jacobian's pivoted QR all the same),
    // then with QR steps. Should it fail, or end where the Jacobian is singular or
    // a parameter has lost its influence, the method with geodesic
    // acceleration and Levenberg's scaling (which gets off the plateaus of
    // the hardest reference problems) and plain Levenberg-Marquardt with
    // Levenberg's scaling try from the start too, and the best end is taken.
    const Strategy strategies[] = {
        {gsl_multifit_nlinear_trs_lm, gsl_multifit_nlinear_scale_more,
         gsl_multifit_nlinear_solver_cholesky},
        {gsl_multifit_nlinear_trs_lm, gsl_multifit_nlinear_scale_more,
         gsl_multifit_nlinear_solver_qr},
        {gsl_multifit_nlinear_trs_lmaccel, gsl_multifit_nlinear_scale_levenberg,
         gsl_multifit_nlinear_solver_qr},
        {gsl_multifit_nlinear_trs_lm, gsl_multifit_nlinear_scale_levenberg,
         gsl_multifit_nlinear_solver_qr},
    };
    std::optional<SolverRun> best;
    std::size_t iterations = 0;
    bool bestTrusted = false;
    for (const Strategy& strategy : strategies) {
      SolverRun run = runSolver(problem, strategy, u0, wts.get(), weights, settings.maxIterations);
      iterations += run.iterations;
      // The normal equations' end is taken as it stands only where the
      // Gauss-Newton step from there is negligible; otherwise the QR runs
      // go on from the start and the lowest chi-square wins. A QR end that
      // is healthy and confirms the one before to rounding (1e-12 of
      // chi-square) is the one taken, and the search ends there.
      const bool trusted =
          strategy.solver != gsl_multifit_nlinear_solver_cholesky || run.end.stationary;
      const bool confirms = best && best->converged && run.converged && run.end.healthy() &&
                            trusted && std::fabs(run.chi2 - best->chi2) <= 1e-12 * best->chi2;
      const bool better = !best || confirms || (run.converged && !best->converged) ||
                          (run.converged && best->converged &&
                           ((run.end.healthy() && !best->end.healthy()) ||
                            (run.end.healthy() == best->end.healthy() && run.chi2 < best->chi2)));
      if (better) {
        best = std::move(run);
        bestTrusted = trusted;
      }
      if (best->converged && best->end.healthy() && bestTrusted) break;
    }
    result.converged = best->converged;
    result.failure = best->failure;
    // Every iteration of every method that was tried.
    result.iterations = iterations;
    covariance = std::move(best->end.covariance);
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
  if (!std::isfinite(result.chi2) && result.converged) {
    result.converged = false;
    result.failure = "the chi-square is not finite at the end";
  }

  if (!result.converged && m > 0)
    covariance = assessEnd(problem, weights, result.chi2, result.dof).covariance;
  // A singular end: the parameters the data determine keep their errors.
  std::vector<bool> undetermined(m, false);
  if (m > 0 && covariance.empty()) {
    Determination d = pseudoInverseCovariance(problem, weights);
    covariance = std::move(d.covariance);
    undetermined = std::move(d.undetermined);
  }
  if (m > 0) {
    const std::string kink = kinkReason(model, settings, problem.values, points);
    if (!kink.empty()) {
      result.converged = false;
      result.failure = kink;
    }
  }
  std::vector<std::string> unknown;
  for (std::size_t a = 0; a < m; ++a)
    if (undetermined[a]) unknown.push_back(model.parameters()[problem.freeIndex[a]]);
  if (result.converged && !unknown.empty()) {
    result.converged = false;
    result.undetermined = true;
    result.failure = "the data do not determine " + namesText(unknown);
  }

  result.errors.assign(count, 0);
  result.covariance.assign(count * count, 0);
  result.errorsDetermined = result.dof > 0 && unknown.empty();
  const double scale = result.dof > 0 ? result.chi2 / static_cast<double>(result.dof) : 0;
  const std::vector<double>& c = covariance;
  for (std::size_t a = 0; a < m; ++a) {
    const std::size_t pa = problem.freeIndex[a];
    const bool known = result.dof > 0 && !undetermined[a];
    result.errors[pa] = known ? std::sqrt(c[a * m + a] * scale) : std::nan("");
    for (std::size_t b = 0; b < m; ++b)
      result.covariance[pa * count + problem.freeIndex[b]] =
          known && !undetermined[b] ? c[a * m + b] * scale : std::nan("");
  }
  // The model depends on a width's absolute value alone: report it positive
  // (where the bounds allow), the covariance with the others turned with it.
  const std::vector<bool> width = model.widthParameters();
  for (std::size_t i = 0; i < count; ++i) {
    const ParameterSetting& s = settings.parameters[i];
    const double v = result.values[i];
    if (!width[i] || !(v < 0) || -v > s.upper) continue;
    result.values[i] = -v;
    for (std::size_t j = 0; j < count; ++j)
      if (j != i) {
        result.covariance[i * count + j] = -result.covariance[i * count + j];
        result.covariance[j * count + i] = -result.covariance[j * count + i];
      }
  }
  return result;
}

std::string fitStatusText(const FitResult& result) {
  if (result.converged) return "converged";
  return (result.undetermined ? "undetermined: " : "failed: ") + result.failure;
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
