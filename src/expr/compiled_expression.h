#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace varnix {

/// Postfix text compiled once into an array of operations with the numbers
/// already converted. Evaluating it gives the same values and raises the same
/// errors, in the same order, as reading the text for every point: errors that
/// do not depend on x and y (an unknown token, an empty or full stack, a
/// number beyond the 64-bit range) become an operation at the token where
/// reading the text would meet them.
class CompiledExpression {
 public:
  enum class Op : unsigned char {
    PushX,
    PushY,
    PushConst,
    Add,
    Sub,
    Mul,
    Div,
    Pow,
    Sin,
    Cos,
    Ln,
    Exp,
    Abs,
    Fil,
    Tan,
    Ctg,
    PushPi,
    Acos,
    Asin,
    FailExpression,
    FailOverflow,
    Return
  };

  static CompiledExpression compile(std::string_view postfix);

  /// The value at one point; throws the expression error or the fault.
  double evaluate(double x, double y) const;

  /// Points evaluated together by evaluateBlock.
  static constexpr std::size_t kBlock = 256;

  /// Evaluates n <= kBlock points at once into out. Returns the index of the
  /// first point whose evaluation fails (n when none fails); raiseFault(i)
  /// then throws exactly what evaluate() throws at that point. Values of
  /// points after it are not meaningful.
  std::size_t evaluateBlock(const double* x, const double* y, std::size_t n, double* out) const;
  [[noreturn]] void raiseFault(std::size_t i) const;

  /// True when the expression is the plain variable x (or y): its value is
  /// that coordinate, never a fault.
  bool isX() const { return m_identity == 1; }
  bool isY() const { return m_identity == 2; }

 private:
  /// Where an operation takes its (last) operand: from the stack, or from a
  /// push that directly preceded it in the text and was folded into it.
  enum class Src : unsigned char { Stack, X, Y, Const };
  struct Instr {
    Op op;
    Src src;
    double value;
  };
  /// Folds each push that directly precedes an operation into it.
  void fuseOperands();
  [[noreturn]] void raiseCode(int code) const;

  std::vector<Instr> m_code;
  std::vector<std::string> m_details;  // texts of FailExpression, by index in value
  int m_identity = 0;
  int m_maxDepth = 0;
  // Scratch of evaluateBlock: the value stack of each point, and the first
  // fault code of each point (0: none).
  mutable std::vector<double> m_stack;
  mutable std::vector<int> m_faults;
};

}  // namespace varnix
