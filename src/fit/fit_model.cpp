#include "fit/fit_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

#include "fit/peak_functions.h"
#include "workspace/error.h"

namespace varnix {
namespace {

using Kind = ModelNode::Kind;

struct FunctionInfo {
  std::string_view name;
  Kind kind;
  int arity;
};

constexpr std::array<FunctionInfo, 13> kFunctions = {{
    {"exp", Kind::Exp, 1},
    {"ln", Kind::Ln, 1},
    {"log10", Kind::Log10, 1},
    {"sqrt", Kind::Sqrt, 1},
    {"sin", Kind::Sin, 1},
    {"cos", Kind::Cos, 1},
    {"tan", Kind::Tan, 1},
    {"atan", Kind::Atan, 1},
    {"abs", Kind::Abs, 1},
    {"gauss", Kind::Gauss, 4},
    {"lorentz", Kind::Lorentz, 4},
    {"pvoigt", Kind::PseudoVoigt, 5},
    {"voigt", Kind::Voigt, 5},
}};

const FunctionInfo* findFunction(std::string_view name) {
  for (const FunctionInfo& f : kFunctions)
    if (f.name == name) return &f;
  return nullptr;
}

/// Levels of parentheses, function arguments, signs and powers one formula
/// may nest (each level is a few stack frames of the parser).
constexpr int kMaxDepth = 200;

template <typename T, int N>
T copyPartials(const PeakValue<N>& r, T* d) {
  for (int i = 0; i < N; ++i) d[i] = r.partial[static_cast<std::size_t>(i)];
  return r.value;
}

/// The value of node n from its children's values, in T (double, or long
/// double for the final statistics; the peak functions are computed in
/// double either way); with Gradient, also its partial derivatives in each
/// child (d[0..arity)). A partial whose child depends on no free parameter is
/// never read, so it may be NaN.
template <typename T, bool Gradient>
inline T nodeValue(const ModelNode& n, const T* val, T x, const double* p, T* d) {
  using std::atan, std::cos, std::exp, std::fabs, std::log, std::log10, std::pow, std::sin,
      std::sqrt, std::tan;
  const T a = n.arity > 0 ? val[n.child[0]] : 0;
  const T b = n.arity > 1 ? val[n.child[1]] : 0;
  switch (n.kind) {
    case Kind::Constant:
      return n.constant;
    case Kind::X:
      return x;
    case Kind::Parameter:
      return p[n.parameter];
    case Kind::Negate:
      if constexpr (Gradient) d[0] = -1;
      return -a;
    case Kind::Add:
      if constexpr (Gradient) d[0] = d[1] = 1;
      return a + b;
    case Kind::Subtract:
      if constexpr (Gradient) d[0] = 1, d[1] = -1;
      return a - b;
    case Kind::Multiply:
      if constexpr (Gradient) d[0] = b, d[1] = a;
      return a * b;
    case Kind::Divide: {
      const T q = a / b;
      if constexpr (Gradient) d[0] = 1 / b, d[1] = -q / b;
      return q;
    }
    case Kind::Power: {
      const T v = pow(a, b);
      if constexpr (Gradient) d[0] = b * pow(a, b - 1), d[1] = v * log(a);
      return v;
    }
    case Kind::PowerConstant: {
      const T c = n.constant;
      if (c == 2) {
        if constexpr (Gradient) d[0] = 2 * a;
        return a * a;
      }
      if constexpr (Gradient) d[0] = c * pow(a, c - 1);
      return pow(a, c);
    }
    case Kind::Exp: {
      const T v = exp(a);
      if constexpr (Gradient) d[0] = v;
      return v;
    }
    case Kind::Ln:
      if constexpr (Gradient) d[0] = 1 / a;
      return log(a);
    case Kind::Log10:
      if constexpr (Gradient) d[0] = 1 / (a * std::numbers::ln10_v<T>);
      return log10(a);
    case Kind::Sqrt: {
      const T v = sqrt(a);
      if constexpr (Gradient) d[0] = T(0.5) / v;
      return v;
    }
    case Kind::Sin:
      if constexpr (Gradient) d[0] = cos(a);
      return sin(a);
    case Kind::Cos:
      if constexpr (Gradient) d[0] = -sin(a);
      return cos(a);
    case Kind::Tan: {
      const T v = tan(a);
      if constexpr (Gradient) d[0] = 1 + v * v;
      return v;
    }
    case Kind::Atan:
      if constexpr (Gradient) d[0] = 1 / (1 + a * a);
      return atan(a);
    case Kind::Abs:
      if constexpr (Gradient) d[0] = a < 0 ? T(-1) : a > 0 ? T(1) : T(0);
      return fabs(a);
    case Kind::Gauss:
    case Kind::Lorentz: {
      const double da = static_cast<double>(a), db = static_cast<double>(b);
      const double c = static_cast<double>(val[n.child[2]]);
      const double w = static_cast<double>(val[n.child[3]]);
      if constexpr (Gradient)
        return copyPartials(
            n.kind == Kind::Gauss ? gaussPeak(da, db, c, w) : lorentzPeak(da, db, c, w), d);
      return n.kind == Kind::Gauss ? gaussValue(da, db, c, w) : lorentzValue(da, db, c, w);
    }
    case Kind::PseudoVoigt:
    case Kind::Voigt: {
      const double da = static_cast<double>(a), db = static_cast<double>(b);
      const double c = static_cast<double>(val[n.child[2]]);
      const double w1 = static_cast<double>(val[n.child[3]]);
      const double w2 = static_cast<double>(val[n.child[4]]);
      const PeakValue<5> r =
          n.kind == Kind::Voigt ? voigtPeak(da, db, c, w1, w2) : pseudoVoigtPeak(da, db, c, w1, w2);
      if constexpr (Gradient) return copyPartials(r, d);
      return r.value;
    }
  }
  return 0;
}

/// Recursive descent over the formula; builds the node list bottom-up,
/// computing nodes without x and parameters on the spot.
class Parser {
 public:
  Parser(std::string_view text, std::vector<ModelNode>& nodes, std::vector<std::string>& names)
      : m_text(text), m_nodes(nodes), m_names(names) {}

  void parse() {
    skipBlanks();
    if (m_pos == m_text.size()) fail(m_pos, "the formula is empty");
    parseSum();
    if (m_pos < m_text.size()) {
      const char c = m_text[m_pos];
      if (c == ')') fail(m_pos, "')' without a matching '('");
      if (isDigit(c) || isNameStart(c) || c == '.' || c == '(' || c == ',')
        fail(m_pos, "expected an operator or the end of the formula");
      unexpected(c);
    }
  }

 private:
  [[noreturn]] void fail(std::size_t at, const std::string& what) const {
    throw Error("Formula error at position " + std::to_string(at + 1) + ": " + what);
  }

  void skipBlanks() {
    while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                     m_text[m_pos] == '\r' || m_text[m_pos] == '\n'))
      ++m_pos;
  }

  bool take(char c) {
    skipBlanks();
    if (m_pos < m_text.size() && m_text[m_pos] == c) {
      ++m_pos;
      return true;
    }
    return false;
  }

  std::uint32_t add(ModelNode n) {
    bool constant = n.arity > 0;
    for (int i = 0; i < n.arity; ++i) constant &= m_nodes[n.child[i]].kind == Kind::Constant;
    if (constant) {
      // All inputs are known: the node is a number from now on.
      std::array<double, 5> values{};
      ModelNode local = n;
      for (int i = 0; i < n.arity; ++i) {
        values[static_cast<std::size_t>(i)] = m_nodes[n.child[i]].constant;
        local.child[i] = static_cast<std::uint32_t>(i);
      }
      double unused[5];
      const double v = nodeValue<double, false>(local, values.data(), 0, nullptr, unused);
      n = ModelNode{};
      n.constant = v;
    }
    m_nodes.push_back(n);
    return static_cast<std::uint32_t>(m_nodes.size() - 1);
  }

  std::uint32_t binary(Kind kind, std::uint32_t a, std::uint32_t b) {
    ModelNode n;
    n.kind = kind;
    n.arity = 2;
    n.child[0] = a;
    n.child[1] = b;
    return add(n);
  }

  std::uint32_t parseSum() {
    std::uint32_t left = parseProduct();
    for (;;) {
      if (take('+'))
        left = binary(Kind::Add, left, parseProduct());
      else if (take('-'))
        left = binary(Kind::Subtract, left, parseProduct());
      else
        return left;
    }
  }

  std::uint32_t parseProduct() {
    std::uint32_t left = parseUnary();
    for (;;) {
      if (take('*'))
        left = binary(Kind::Multiply, left, parseUnary());
      else if (take('/'))
        left = binary(Kind::Divide, left, parseUnary());
      else
        return left;
    }
  }

  std::uint32_t parseUnary() {
    skipBlanks();
    if (++m_depth > kMaxDepth) fail(m_pos, "the formula is nested too deeply");
    std::uint32_t result;
    if (take('-')) {
      ModelNode n;
      n.kind = Kind::Negate;
      n.arity = 1;
      n.child[0] = parseUnary();
      result = add(n);
    } else if (take('+')) {
      result = parseUnary();
    } else {
      result = parsePower();
    }
    --m_depth;
    return result;
  }

  std::uint32_t parsePower() {
    const std::uint32_t base = parsePrimary();
    if (!take('^')) return base;
    const std::uint32_t exponent = parseUnary();
    if (m_nodes[exponent].kind == Kind::Constant && m_nodes[base].kind != Kind::Constant) {
      ModelNode n;
      n.kind = Kind::PowerConstant;
      n.arity = 1;
      n.child[0] = base;
      n.constant = m_nodes[exponent].constant;
      return add(n);
    }
    return binary(Kind::Power, base, exponent);
  }

  std::uint32_t parsePrimary() {
    skipBlanks();
    if (m_pos >= m_text.size()) fail(m_pos, "the formula ends where a value is expected");
    const char c = m_text[m_pos];
    if (isDigit(c) || c == '.') return parseNumber();
    if (isNameStart(c)) return parseName();
    if (c == '(') {
      const std::size_t open = m_pos++;
      const std::uint32_t inner = parseSum();
      if (!take(')')) {
        skipBlanks();
        if (m_pos >= m_text.size()) fail(open, "'(' without a matching ')'");
        fail(m_pos, "expected ')'");
      }
      return inner;
    }
    if (c == ')') fail(m_pos, "expected a value before ')'");
    if (c == '+' || c == '-' || c == '*' || c == '/' || c == '^' || c == ',')
      fail(m_pos, std::string("expected a value before '") + c + "'");
    unexpected(c);
  }

  [[noreturn]] void unexpected(char c) const {
    if (c > ' ' && c < 127) fail(m_pos, std::string("unexpected character '") + c + "'");
    fail(m_pos, "unexpected character");
  }

  static bool isDigit(char c) { return c >= '0' && c <= '9'; }
  static bool isNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  }

  std::uint32_t parseNumber() {
    const std::size_t start = m_pos;
    std::size_t p = m_pos;
    const std::size_t n = m_text.size();
    // Decimal exponent of the leading digit, to tell underflow from overflow.
    long long magnitude = 0;
    bool seenNonZero = false;
    std::size_t digits = 0;
    while (p < n && isDigit(m_text[p])) {
      if (m_text[p] != '0' || seenNonZero) {
        if (seenNonZero) ++magnitude;
        seenNonZero = true;
      }
      ++p;
      ++digits;
    }
    if (p < n && m_text[p] == '.') {
      ++p;
      while (p < n && isDigit(m_text[p])) {
        if (!seenNonZero) {
          --magnitude;
          if (m_text[p] != '0') seenNonZero = true;
        }
        ++p;
        ++digits;
      }
    }
    if (digits == 0) fail(start, "a number needs a digit");
    // An exponent only when digits follow: "2e" is the number 2 and a name.
    if (p < n && (m_text[p] == 'e' || m_text[p] == 'E')) {
      std::size_t q = p + 1;
      bool negative = false;
      if (q < n && (m_text[q] == '+' || m_text[q] == '-')) negative = m_text[q++] == '-';
      if (q < n && isDigit(m_text[q])) {
        long long exponent = 0;
        while (q < n && isDigit(m_text[q])) {
          exponent = std::min(exponent * 10 + (m_text[q] - '0'), 1000000000LL);
          ++q;
        }
        magnitude += negative ? -exponent : exponent;
        p = q;
      }
    }
    double value = 0;
    const auto r = std::from_chars(m_text.data() + start, m_text.data() + p, value);
    if (r.ec == std::errc::result_out_of_range) {
      if (seenNonZero && magnitude > 0) fail(start, "the number is too large");
      value = 0;  // below the smallest double: underflows to 0
    } else if (r.ec != std::errc() || r.ptr != m_text.data() + p) {
      fail(start, "not a number");
    }
    m_pos = p;
    ModelNode node;
    node.constant = value;
    return add(node);
  }

  std::uint32_t parseName() {
    const std::size_t start = m_pos;
    while (m_pos < m_text.size() && (isNameStart(m_text[m_pos]) || isDigit(m_text[m_pos]))) ++m_pos;
    const std::string_view name = m_text.substr(start, m_pos - start);
    skipBlanks();
    const bool call = m_pos < m_text.size() && m_text[m_pos] == '(';
    const FunctionInfo* f = findFunction(name);
    if (call) {
      if (!f) fail(start, "unknown function " + std::string(name));
      return parseCall(*f, start);
    }
    if (f) fail(start, std::string(name) + " is a function: write " + std::string(name) + "(...)");
    ModelNode n;
    if (name == "x") {
      n.kind = Kind::X;
    } else if (name == "pi") {
      n.constant = std::numbers::pi;
    } else {
      n.kind = Kind::Parameter;
      auto it = std::find(m_names.begin(), m_names.end(), name);
      n.parameter = static_cast<std::uint32_t>(it - m_names.begin());
      if (it == m_names.end()) m_names.emplace_back(name);
    }
    return add(n);
  }

  std::uint32_t parseCall(const FunctionInfo& f, std::size_t start) {
    ++m_pos;  // '('
    ModelNode n;
    n.kind = f.kind;
    n.arity = static_cast<std::uint8_t>(f.arity);
    const std::string count = f.arity == 1 ? "1 argument" : std::to_string(f.arity) + " arguments";
    for (int i = 0; i < f.arity; ++i) {
      skipBlanks();
      if (i > 0 && !take(',')) {
        if (m_pos < m_text.size() && m_text[m_pos] == ')')
          fail(m_pos, std::string(f.name) + " takes " + count);
        if (m_pos >= m_text.size()) fail(start, "'(' of " + std::string(f.name) + " is not closed");
        fail(m_pos, "expected ',' or ')'");
      }
      n.child[i] = parseSum();
    }
    if (!take(')')) {
      if (m_pos < m_text.size() && m_text[m_pos] == ',')
        fail(m_pos, std::string(f.name) + " takes " + count);
      if (m_pos >= m_text.size()) fail(start, "'(' of " + std::string(f.name) + " is not closed");
      fail(m_pos, "expected ')'");
    }
    return add(n);
  }

  std::string_view m_text;
  std::size_t m_pos = 0;
  int m_depth = 0;
  std::vector<ModelNode>& m_nodes;
  std::vector<std::string>& m_names;
};

/// Drops the nodes the root does not reach (inputs of computed constants).
std::vector<ModelNode> reachableNodes(const std::vector<ModelNode>& nodes) {
  std::vector<bool> used(nodes.size(), false);
  used.back() = true;
  for (std::size_t i = nodes.size(); i-- > 0;)
    if (used[i])
      for (int c = 0; c < nodes[i].arity; ++c) used[nodes[i].child[c]] = true;
  std::vector<std::uint32_t> newIndex(nodes.size(), 0);
  std::vector<ModelNode> out;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (!used[i]) continue;
    ModelNode n = nodes[i];
    for (int c = 0; c < n.arity; ++c) n.child[c] = newIndex[n.child[c]];
    newIndex[i] = static_cast<std::uint32_t>(out.size());
    out.push_back(n);
  }
  return out;
}

}  // namespace

FitModel::FitModel(std::string_view formula) : m_formula(formula) {
  std::vector<ModelNode> nodes;
  Parser(m_formula, nodes, m_parameters).parse();
  m_nodes = reachableNodes(nodes);
}

std::optional<std::size_t> FitModel::parameterIndex(std::string_view name) const {
  for (std::size_t i = 0; i < m_parameters.size(); ++i)
    if (m_parameters[i] == name) return i;
  return std::nullopt;
}

std::vector<bool> FitModel::widthParameters() const {
  // A parameter's every occurrence is a node of its own with one parent.
  std::vector<bool> asWidth(m_nodes.size(), false);
  for (const ModelNode& n : m_nodes) {
    const bool peak = n.kind == Kind::Gauss || n.kind == Kind::Lorentz ||
                      n.kind == Kind::PseudoVoigt || n.kind == Kind::Voigt;
    if (!peak) continue;
    asWidth[n.child[3]] = true;
    if (n.kind == Kind::Voigt) asWidth[n.child[4]] = true;
  }
  std::vector<bool> width(m_parameters.size(), true);
  for (std::size_t i = 0; i < m_nodes.size(); ++i)
    if (m_nodes[i].kind == Kind::Parameter && !asWidth[i]) width[m_nodes[i].parameter] = false;
  return width;
}

double FitModel::value(double x, std::span<const double> parameters) const {
  std::vector<double> val(m_nodes.size());
  double unused[5];
  for (std::size_t i = 0; i < m_nodes.size(); ++i)
    val[i] = nodeValue<double, false>(m_nodes[i], val.data(), x, parameters.data(), unused);
  return val.back();
}

double FitModel::valueAndGradient(double x, std::span<const double> parameters,
                                  std::span<double> gradient) const {
  ModelEvaluator e(*this, std::vector<bool>(m_parameters.size(), true));
  return e.valueAndGradient(x, parameters.data(), gradient.data());
}

ModelEvaluator::ModelEvaluator(const FitModel& model, const std::vector<bool>& free)
    : m_nodes(model.nodes()), m_freeIndex(model.parameters().size(), -1) {
  for (std::size_t i = 0; i < m_freeIndex.size(); ++i)
    if (i < free.size() && free[i]) m_freeIndex[i] = static_cast<std::int32_t>(m_free++);
  // Each node depends on the union of its children's free parameters, kept
  // in ascending order; its derivatives in them lie side by side in
  // m_gradient from m_offset.
  std::vector<std::uint32_t> depStart{0};
  std::vector<bool> mark(m_free, false);
  for (const ModelNode& n : m_nodes) {
    const std::size_t begin = m_deps.size();
    if (n.kind == ModelNode::Kind::Parameter) {
      if (m_freeIndex[n.parameter] >= 0)
        m_deps.push_back(static_cast<std::uint32_t>(m_freeIndex[n.parameter]));
    } else {
      for (int c = 0; c < n.arity; ++c)
        for (std::uint32_t k = depStart[n.child[c]]; k < depStart[n.child[c] + 1]; ++k)
          if (!mark[m_deps[k]]) {
            mark[m_deps[k]] = true;
            m_deps.push_back(m_deps[k]);
          }
      for (std::size_t k = begin; k < m_deps.size(); ++k) mark[m_deps[k]] = false;
      std::sort(m_deps.begin() + static_cast<long>(begin), m_deps.end());
    }
    depStart.push_back(static_cast<std::uint32_t>(m_deps.size()));
  }
  m_gradient.assign(m_deps.size(), 0);
  // The chain rule as one list of steps: d node / d p += (d node / d child)
  // * (d child / d p) for every child and every free parameter p the child
  // depends on; the first step into an entry assigns. A parameter's own
  // derivative is 1 once and for all.
  std::vector<bool> written(m_deps.size(), false);
  for (std::size_t i = 0; i < m_nodes.size(); ++i) {
    const ModelNode& n = m_nodes[i];
    if (n.kind == ModelNode::Kind::Parameter) {
      if (depStart[i] < depStart[i + 1]) m_gradient[depStart[i]] = 1;
      continue;
    }
    for (int c = 0; c < n.arity; ++c) {
      const std::uint32_t j = n.child[c];
      for (std::uint32_t k = depStart[j]; k < depStart[j + 1]; ++k) {
        const auto at = std::lower_bound(m_deps.begin() + depStart[i],
                                         m_deps.begin() + depStart[i + 1], m_deps[k]);
        const auto target = static_cast<std::uint32_t>(at - m_deps.begin());
        ChainStep step;
        step.target = target;
        step.source = k;
        step.partial = static_cast<std::uint32_t>(i * 5 + static_cast<std::size_t>(c));
        step.assign = !written[target];
        written[target] = true;
        m_chain.push_back(step);
      }
    }
  }
  // Every parameter of the formula is a node the root reaches (parts that
  // were computed once hold none), so the root depends on every free
  // parameter, in ascending order: its derivatives are the gradient.
  m_rootOffset = depStart[m_nodes.size() - 1];
  m_value.assign(m_nodes.size(), 0);
  m_partial.assign(m_nodes.size() * 5, 0);
  m_extended.assign(m_nodes.size(), 0);
}

template <bool Gradient>
double ModelEvaluator::run(double x, const double* parameters) {
  double* val = m_value.data();
  double* partial = m_partial.data();
  const std::size_t count = m_nodes.size();
  for (std::size_t i = 0; i < count; ++i)
    val[i] = nodeValue<double, Gradient>(m_nodes[i], val, x, parameters, partial + i * 5);
  if constexpr (Gradient) {
    double* g = m_gradient.data();
    for (const ChainStep& s : m_chain) {
      const double term = partial[s.partial] * g[s.source];
      g[s.target] = s.assign ? term : g[s.target] + term;
    }
  }
  return val[count - 1];
}

double ModelEvaluator::value(double x, const double* parameters) {
  return run<false>(x, parameters);
}

long double ModelEvaluator::valueExtended(double x, const double* parameters) {
  long double unused[5];
  const std::size_t count = m_nodes.size();
  for (std::size_t i = 0; i < count; ++i)
    m_extended[i] =
        nodeValue<long double, false>(m_nodes[i], m_extended.data(), x, parameters, unused);
  return m_extended[count - 1];
}

double ModelEvaluator::valueAndGradient(double x, const double* parameters, double* gradient) {
  const double v = run<true>(x, parameters);
  std::copy_n(m_gradient.begin() + static_cast<long>(m_rootOffset), m_free, gradient);
  return v;
}

}  // namespace varnix
