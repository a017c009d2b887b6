#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnix {

/// One node of a model's expression tree. A node's children come before it
/// in the model's node list and the root is the last node, so a walk in list
/// order evaluates the tree bottom-up.
struct ModelNode {
  enum class Kind : std::uint8_t {
    Constant,
    X,
    Parameter,
    Negate,
    Add,
    Subtract,
    Multiply,
    Divide,
    Power,          ///< child[0] ^ child[1]
    PowerConstant,  ///< child[0] ^ constant
    Exp,
    Ln,
    Log10,
    Sqrt,
    Sin,
    Cos,
    Tan,
    Atan,
    Abs,
    Gauss,
    Lorentz,
    PseudoVoigt,
    Voigt,
  };
  Kind kind = Kind::Constant;
  std::uint8_t arity = 0;
  std::array<std::uint32_t, 5> child{};
  double constant = 0;          ///< the value of a Constant, the exponent of PowerConstant
  std::uint32_t parameter = 0;  ///< the index of a Parameter
};

/// A model formula of the fitting language: numbers, x, parameters (names of
/// letters, digits and underscores that start with a letter or underscore
/// and are no function name), + - * / ^ (right-associative, above unary
/// minus: -x^2 is -(x^2)), parentheses, pi, the functions exp ln log10 sqrt
/// sin cos tan atan abs and the peaks gauss(x,h,c,w), lorentz(x,h,c,w),
/// pvoigt(x,h,c,w,e) and voigt(x,a,c,wg,wl). Parts without x or parameters
/// are computed once when the formula is read.
class FitModel {
 public:
  /// Reads a formula. Throws Error "Formula error at position N: ..." with N
  /// the place of the fault counted in characters from 1.
  explicit FitModel(std::string_view formula);

  const std::string& formula() const { return m_formula; }
  /// The parameter names in order of first appearance.
  const std::vector<std::string>& parameters() const { return m_parameters; }
  /// The index of a parameter name; nullopt for a name not in the formula.
  std::optional<std::size_t> parameterIndex(std::string_view name) const;
  const std::vector<ModelNode>& nodes() const { return m_nodes; }
  /// Per parameter: whether it appears only as a width of the peak functions
  /// (w of gauss, lorentz and pvoigt, wg and wl of voigt), so that the model
  /// depends on its absolute value alone.
  std::vector<bool> widthParameters() const;

  /// The model at x with one value per parameter, in order.
  double value(double x, std::span<const double> parameters) const;
  /// The model at x and its derivative in every parameter (gradient has one
  /// entry per parameter).
  double valueAndGradient(double x, std::span<const double> parameters,
                          std::span<double> gradient) const;

 private:
  std::string m_formula;
  std::vector<std::string> m_parameters;
  std::vector<ModelNode> m_nodes;
};

/// Evaluates a model over and over, as a fit does: the value alone, or the
/// value with its gradient in the free parameters, both computed in one walk
/// by forward-mode dual numbers (every node carries its value and its
/// derivatives in the free parameters it depends on, nothing else). Keeps
/// its scratch space: one evaluator per thread.
class ModelEvaluator {
 public:
  /// free has one flag per parameter of the model; fixed parameters take
  /// part in the value only.
  ModelEvaluator(const FitModel& model, const std::vector<bool>& free);

  std::size_t freeCount() const { return m_free; }
  /// The value at x; parameters has one value per parameter of the model.
  double value(double x, const double* parameters);
  /// The value at x computed in extended precision (the peak functions in
  /// double): for chi-square at the end of a fit, whose residuals may be
  /// near the rounding level of the values.
  long double valueExtended(double x, const double* parameters);
  /// The value at x; gradient receives freeCount() derivatives, in the
  /// order of the free parameters.
  double valueAndGradient(double x, const double* parameters, double* gradient);

 private:
  template <bool Gradient>
  double run(double x, const double* parameters);

  /// One step of the chain rule: gradient[target] (+)= partial * gradient[source].
  struct ChainStep {
    std::uint32_t target;
    std::uint32_t source;
    std::uint32_t partial;  ///< node * 5 + child
    bool assign;            ///< the first step into target
  };

  std::vector<ModelNode> m_nodes;
  std::vector<std::int32_t> m_freeIndex;  ///< per parameter: index among the free ones, or -1
  std::size_t m_free = 0;
  /// Per node, the free parameters it depends on, side by side; m_gradient
  /// holds the node's derivatives in them at the same places.
  std::vector<std::uint32_t> m_deps;
  std::vector<ChainStep> m_chain;
  std::size_t m_rootOffset = 0;  ///< the root's derivatives, one per free parameter
  std::vector<double> m_value;
  std::vector<double> m_partial;  ///< node i's derivatives in its children at i * 5
  std::vector<double> m_gradient;
  std::vector<long double> m_extended;
};

}  // namespace varnix
