// Feeds arbitrary text to the model formula reader. A refusal must be an
// Error that names a place inside the text (or just after it); a formula
// that reads must give a tree in evaluation order whose value is the same
// through every evaluator, with and without derivatives.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fit/fit_model.h"
#include "workspace/error.h"

namespace {

bool same(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<varnix::FitModel> model;
  try {
    model.emplace(text);
  } catch (const varnix::Error& e) {
    const std::string message = e.what();
    const std::string head = "Formula error at position ";
    if (message.compare(0, head.size(), head) != 0) __builtin_trap();
    const std::size_t place = std::stoul(message.substr(head.size()));
    if (place < 1 || place > size + 1) __builtin_trap();
    return 0;
  }
  const std::vector<varnix::ModelNode>& nodes = model->nodes();
  if (nodes.empty()) __builtin_trap();
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    for (int c = 0; c < nodes[i].arity; ++c)
      if (nodes[i].child[c] >= i) __builtin_trap();
    if (nodes[i].kind == varnix::ModelNode::Kind::Parameter &&
        nodes[i].parameter >= model->parameters().size())
      __builtin_trap();
  }
  const std::vector<std::string>& names = model->parameters();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (text.find(names[i]) == std::string_view::npos) __builtin_trap();
    for (std::size_t j = 0; j < i; ++j)
      if (names[i] == names[j]) __builtin_trap();
  }
  // Every evaluator gives the same value; with half the parameters held,
  // the gradient of the free ones is the full gradient's.
  std::vector<bool> some(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) some[i] = i % 2 == 0;
  varnix::ModelEvaluator all(*model, std::vector<bool>(names.size(), true));
  varnix::ModelEvaluator half(*model, some);
  std::vector<double> full(names.size()), part(half.freeCount());
  for (const double x : {0.5, -2.0, 1e10}) {
    std::vector<double> p(names.size());
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = 0.3 + 0.7 * static_cast<double>(i);
    const double v = model->value(x, p);
    if (!same(v, model->valueAndGradient(x, p, full))) __builtin_trap();
    if (!same(v, all.value(x, p.data()))) __builtin_trap();
    if (!same(v, half.valueAndGradient(x, p.data(), part.data()))) __builtin_trap();
    for (std::size_t i = 0, k = 0; i < names.size(); ++i)
      if (some[i] && !same(part[k++], full[i])) __builtin_trap();
    // The extended-precision value may differ (cancellation), but exists.
    (void)all.valueExtended(x, p.data());
  }
  return 0;
}
