// Feeds arbitrary text to the formula converter and both evaluators, which
// must agree on every value and every error.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "expr/compiled_expression.h"
#include "expr/expression.h"
#include "workspace/error.h"

namespace {

std::string outcome(const std::string& postfix, double x, double y, bool compiled) {
  try {
    double v = compiled ? varnix::CompiledExpression::compile(postfix).evaluate(x, y)
                        : varnix::evaluatePostfix(postfix, x, y);
    if (std::isnan(v)) return "nan";
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return std::to_string(bits);
  } catch (const varnix::Error& e) {
    return std::string("error:") + e.what();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string postfix;
  try {
    postfix = varnix::expressionToPostfix(text) + " ";
  } catch (const varnix::Error&) {
    postfix = std::string(text);  // also evaluate the raw text as postfix
  }
  const double points[][2] = {{0.5, 2.0}, {-3.0, 0.0}, {1e300, -1e-300}};
  for (const auto& p : points) {
    if (outcome(postfix, p[0], p[1], false) != outcome(postfix, p[0], p[1], true)) __builtin_trap();
  }
  // Evaluating the three points as one block stops at the first point that
  // fails point by point, with the same values before it and the same error.
  const varnix::CompiledExpression c = varnix::CompiledExpression::compile(postfix);
  const double xs[] = {points[0][0], points[1][0], points[2][0]};
  const double ys[] = {points[0][1], points[1][1], points[2][1]};
  double out[3];
  const std::size_t bad = c.evaluateBlock(xs, ys, 3, out);
  for (std::size_t i = 0; i < 3 && i <= bad; ++i) {
    const std::string single = outcome(postfix, xs[i], ys[i], true);
    std::string block;
    if (i < bad) {
      std::uint64_t bits;
      std::memcpy(&bits, &out[i], sizeof bits);
      block = std::isnan(out[i]) ? "nan" : std::to_string(bits);
    } else {
      try {
        c.raiseFault(i);
      } catch (const varnix::Error& e) {
        block = std::string("error:") + e.what();
      }
    }
    if (single != block) __builtin_trap();
  }
  return 0;
}
