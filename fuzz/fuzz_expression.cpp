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
                        : varnix::evaluateTokens(postfix, x, y);
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
  return 0;
}
