#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varnix {

/// Evaluates postfix text (with its final blank) by reading it token by
/// token, as the language defines it.
double evaluateTokens(std::string_view postfix, double x, double y);

/// Postfix text compiled once into an array of operations with the numbers
/// already converted. Evaluating it gives the same values and raises the same
/// errors, in the same order, as reading the text for every point: errors that
/// do not depend on x and y (an unknown token, an empty or full stack, a
/// number beyond the 64-bit range) become an operation at the token where
/// reading the text would meet them.
class CompiledExpression {
 public:
  enum class Op : unsigned char {
    PushX, PushY, PushConst, Add, Sub, Mul, Div, Pow, Sin, Cos, Ln, Exp, Abs, Fil, Tan, Ctg,
    PushPi, Acos, Asin, FailExpression, FailOverflow, Return
  };

  static CompiledExpression compile(std::string_view postfix);
  double evaluate(double x, double y) const;

 private:
  struct Instr {
    Op op;
    double value;
  };
  std::vector<Instr> m_code;
  std::vector<std::string> m_details;  // texts of FailExpression, by index in value
};

}  // namespace varnix
