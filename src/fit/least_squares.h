#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fit/fit_model.h"
#include "workspace/graph_store.h"

namespace varnix {

/// How the squared residuals are weighted: equally, or by 1/max(y, 1) (the
/// variance of a count is its mean; counts below 1 are taken as 1 so that
/// empty channels do not get an infinite weight).
enum class FitWeights { None, Poisson };

/// The start of one parameter, whether it is held, and its optional bounds.
struct ParameterSetting {
  std::optional<double> start;  ///< nullopt: no start given (refused)
  bool fixed = false;
  double lower = -std::numeric_limits<double>::infinity();
  double upper = std::numeric_limits<double>::infinity();
};

/// Everything a fit needs besides the model and the points.
struct FitSettings {
  std::vector<ParameterSetting> parameters;  ///< one per model parameter, in order
  FitWeights weights = FitWeights::None;
  double x1 = -std::numeric_limits<double>::infinity();  ///< the range, either order
  double x2 = std::numeric_limits<double>::infinity();
  std::size_t maxIterations = 2000;
};

/// The outcome of one fit.
struct FitResult {
  bool converged = false;  ///< a minimum where the data determine every free parameter
  /// A minimum where the data leave some free parameters undetermined
  /// (failure names them); their errors are NaN, the others' are kept.
  bool undetermined = false;
  std::string failure;             ///< why not, when not converged
  std::vector<double> values;      ///< per parameter, in model order
  std::vector<double> errors;      ///< standard errors; 0 for fixed ones, NaN when not determined
  std::vector<double> covariance;  ///< per parameter pair (row-major), scaled by chi2/dof
  bool errorsDetermined = false;   ///< false: singular fit or dof = 0
  double chi2 = 0;
  double r2 = 0;
  std::size_t points = 0;
  std::size_t dof = 0;
  std::size_t iterations = 0;
};

/// Checks the settings against the model before any data is looked at:
/// one setting per parameter, each with a start; lower <= upper and the
/// start within them; a fixed parameter's start is its value. Throws Error
/// with the user's message.
void checkFitSettings(const FitModel& model, const FitSettings& settings);

/// The points of a series with x within the settings' range (either order).
std::vector<Point> pointsInRange(const Series& series, double x1, double x2);

/// Checks that a fit of these points can start: points in range, at least
/// as many as free parameters, finite data, a model and a chi-square that
/// are finite at the start (unless checkModel is false). Throws Error ("... in <what>", what
/// naming the graph) with the user's message.
void checkFitStart(const FitModel& model, const FitSettings& settings,
                   std::span<const Point> points, const std::string& what, bool checkModel = true);

/// Least-squares fit of model to the points (already restricted to the
/// range) by GSL's trust-region Levenberg-Marquardt with the exact Jacobian;
/// bounded parameters are fitted through a smooth transformation (sine for
/// two bounds, square root for one, as MINUIT does). Bad input throws
/// Error (checkFitStart); a fit that does not converge returns converged =
/// false with the reason and the last values.
FitResult fitPoints(const FitModel& model, const FitSettings& settings,
                    std::span<const Point> points, const std::string& what = "the graph");

/// "converged", "undetermined: <which>" or "failed: <reason>".
std::string fitStatusText(const FitResult& result);

/// Model values at the given x (the fitted curve).
std::vector<double> modelValues(const FitModel& model, std::span<const double> parameters,
                                std::span<const Point> points);

}  // namespace varnix
