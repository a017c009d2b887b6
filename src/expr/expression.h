#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnix {

/// Raises the expression error: "error in expression: " followed by detail.
[[noreturn]] void raiseExpressionError(std::string_view detail);

/// A number of the strict form that is not to be split at a sign: "+" only
/// as "e+", "-" only as "e-" ("2", "1e-5" and "-1e-5" are, "-2" and "1E-5"
/// are not).
bool isPlainNumber(std::string_view text);

/// The 1-based position of the last match of name (an operator, or the
/// first two letters of a function name) outside parentheses, never at the
/// last character nor after an "e"; 0 when there is none.
std::size_t findTopLevelOperator(std::string_view name, std::string_view text);

/// The text without its first and last character; empty below 3 characters.
std::string_view stripParentheses(std::string_view text);

/// One splitting step: the root operator with its operands, or a function
/// with its argument (text before the name dropped), or a leaf kind (the
/// number text, "x", "y" or "p"); kind is empty without recognisable
/// structure. Views point into text.
struct SplitResult {
  std::string_view left;
  std::string_view right;
  std::string_view kind;
};
SplitResult splitExpression(std::string_view text);

/// Converts a formula into postfix text (tokens separated by one blank,
/// without the final blank). Raises the expression error for a piece that
/// cannot be split, and for formulas nested deeper than kMaxNesting.
std::string expressionToPostfix(std::string_view formula);

/// Levels of splitting and parenthesis stripping one conversion may nest.
inline constexpr int kMaxNesting = 200;
/// Values the evaluator's stack holds.
inline constexpr int kStackSize = 90;

/// Evaluates postfix text (with its final blank) at x and y, reading the text
/// token by token. Raises the expression error and the floating-point faults.
double evaluatePostfix(std::string_view postfix, double x, double y);

}  // namespace varnix
