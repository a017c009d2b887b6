#include "expr/compiled_expression.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "expr/expression.h"
#include "workspace/float_faults.h"
#include "workspace/number_text.h"

namespace varnix {
namespace {

using Op = CompiledExpression::Op;

/// The token table: name, operation and how many values it pops.
struct TokenInfo {
  std::string_view name;
  Op op;
  int pops;
};
constexpr TokenInfo kTokens[] = {
    {"x", Op::PushX, 0},   {"y", Op::PushY, 0},   {"+", Op::Add, 2},   {"-", Op::Sub, 2},
    {"*", Op::Mul, 2},     {"/", Op::Div, 2},     {"^", Op::Pow, 2},   {"sin", Op::Sin, 1},
    {"cos", Op::Cos, 1},   {"ln", Op::Ln, 1},     {"exp", Op::Exp, 1}, {"abs", Op::Abs, 1},
    {"fil", Op::Fil, 1},   {"tan", Op::Tan, 1},   {"ctg", Op::Ctg, 1}, {"p", Op::PushPi, 0},
    {"acos", Op::Acos, 1}, {"asin", Op::Asin, 1},
};

const TokenInfo* lookUp(std::string_view token) {
  for (const TokenInfo& t : kTokens)
    if (t.name == token) return &t;
  return nullptr;
}

/// Reads the token at i (0-based): the character there, even a blank, and
/// those after it up to the next blank; i moves past that blank.
std::string_view nextToken(std::string_view text, std::size_t& i) {
  if (i >= text.size()) {
    i = text.size() + 1;
    return {};
  }
  std::size_t j = i + 1;
  while (j < text.size() && text[j] != ' ') ++j;
  std::string_view token = text.substr(i, j - i);
  i = j + 1;
  return token;
}

/// a^b as exp(b ln a): a base that is not positive gives 0, never a fault.
/// A square is the correctly rounded product itself.
inline double power(double a, double b, int& fault) {
  fault = 0;
  if (!(a > 0)) return 0.0;
  const double r = b == 2 ? a * a : std::pow(a, b);
  fault = arithFault(r, a, b);
  return r;
}

/// A one-value function; sets fault (0: none) as the language defines them.
inline double unaryValue(Op op, double v, int& fault) {
  fault = 0;
  double r = v;
  switch (op) {
    case Op::Sin:
      r = std::sin(v);
      break;
    case Op::Cos:
      r = std::cos(v);
      break;
    case Op::Ln:
      r = std::log(v);
      fault = functionFault(r, v, true);
      return r;
    case Op::Exp:
      r = std::exp(v);
      break;
    case Op::Abs:
      return std::fabs(v);
    case Op::Fil:
      return v > 1 ? v : 1.0;
    case Op::Tan:
      r = std::tan(v);
      break;
    case Op::Ctg: {
      const double t = std::tan(v);
      if ((fault = functionFault(t, v))) return t;
      r = 1.0 / t;
      fault = divFault(r, 1.0, t);
      return r;
    }
    case Op::Acos:
    case Op::Asin: {
      const long double lv = v;
      const long double rest = 1.0L - lv * lv;
      if (rest < 0) {
        fault = 1 + static_cast<int>(FloatFault::InvalidOperation);
        return std::nan("");
      }
      const long double root = std::sqrt(rest);
      const long double e = op == Op::Acos ? std::atan2(root, lv) : std::atan2(lv, root);
      r = static_cast<double>(e);
      break;
    }
    default:
      return v;
  }
  fault = functionFault(r, v);
  return r;
}

inline double binaryValue(Op op, double a, double b, int& fault) {
  fault = 0;
  double r;
  switch (op) {
    case Op::Add:
      r = a + b;
      break;
    case Op::Sub:
      r = a - b;
      break;
    case Op::Mul:
      r = a * b;
      break;
    case Op::Div:
      r = a / b;
      fault = divFault(r, a, b);
      return r;
    case Op::Pow:
      return power(a, b, fault);
    default:
      return a;
  }
  fault = arithFault(r, a, b);
  return r;
}

inline double applyUnary(Op op, double v) {
  int fault = 0;
  const double r = unaryValue(op, v, fault);
  varnix::raiseFault(fault);
  return r;
}

inline double applyBinary(Op op, double a, double b) {
  int fault = 0;
  const double r = binaryValue(op, a, b, fault);
  varnix::raiseFault(fault);
  return r;
}

bool isBinary(Op op) {
  return op == Op::Add || op == Op::Sub || op == Op::Mul || op == Op::Div || op == Op::Pow;
}

bool isPush(Op op) {
  return op == Op::PushX || op == Op::PushY || op == Op::PushConst || op == Op::PushPi;
}

}  // namespace

double evaluatePostfix(std::string_view text, double x, double y) {
  double stack[kStackSize];
  int count = 0;
  auto push = [&](double v) {
    if (count == kStackSize) raiseExpressionError("Stack full");
    stack[count++] = v;
  };
  auto pop = [&]() -> double {
    if (count == 0) raiseExpressionError("Empty stack");
    return stack[--count];
  };
  std::size_t i = 0;
  do {
    const std::string_view token = nextToken(text, i);
    if (isNumberText(token)) {
      push(numberTextValue(token));
      continue;
    }
    const TokenInfo* t = lookUp(token);
    if (!t) raiseExpressionError(token);
    switch (t->op) {
      case Op::PushX:
        push(x);
        break;
      case Op::PushY:
        push(y);
        break;
      case Op::PushPi:
        push(std::numbers::pi);
        break;
      default:
        if (t->pops == 2) {
          const double b = pop();
          const double a = pop();
          push(applyBinary(t->op, a, b));
        } else {
          push(applyUnary(t->op, pop()));
        }
    }
  } while (i + 1 < text.size());
  return pop();
}

CompiledExpression CompiledExpression::compile(std::string_view text) {
  CompiledExpression c;
  int depth = 0;
  auto fail = [&](std::string_view detail) {
    c.m_code.push_back({Op::FailExpression, Src::Stack, static_cast<double>(c.m_details.size())});
    c.m_details.emplace_back(detail);
  };
  auto push = [&](Instr in) {
    if (depth == kStackSize) {
      fail("Stack full");
      return false;
    }
    c.m_code.push_back(in);
    ++depth;
    c.m_maxDepth = std::max(c.m_maxDepth, depth);
    return true;
  };
  std::size_t i = 0;
  bool failed = false;
  do {
    const std::string_view token = nextToken(text, i);
    if (isNumberText(token)) {
      std::optional<double> v;
      try {
        v = numberTextValue(token);
      } catch (...) {
        c.m_code.push_back({Op::FailOverflow, Src::Stack, 0});
        failed = true;
        break;
      }
      if (!push({Op::PushConst, Src::Stack, *v})) failed = true;
    } else if (const TokenInfo* t = lookUp(token)) {
      if (t->pops == 0) {
        if (!push({t->op, Src::Stack, 0})) failed = true;
      } else if (depth < t->pops) {
        fail("Empty stack");
        failed = true;
      } else {
        c.m_code.push_back({t->op, Src::Stack, 0});
        depth -= t->pops - 1;
      }
    } else {
      fail(token);
      failed = true;
    }
  } while (!failed && i + 1 < text.size());
  if (!failed) {
    if (depth == 0)
      fail("Empty stack");
    else
      c.m_code.push_back({Op::Return, Src::Stack, 0});
  }
  if (c.m_code.size() == 2 && c.m_code[1].op == Op::Return) {
    if (c.m_code[0].op == Op::PushX) c.m_identity = 1;
    if (c.m_code[0].op == Op::PushY) c.m_identity = 2;
  }
  c.fuseOperands();
  return c;
}

void CompiledExpression::fuseOperands() {
  std::vector<Instr> out;
  out.reserve(m_code.size());
  for (const Instr& in : m_code) {
    const bool fusable = in.op != Op::Return && in.op != Op::FailExpression &&
                         in.op != Op::FailOverflow && !isPush(in.op);
    if (fusable && !out.empty() && out.back().src == Src::Stack) {
      const Instr prev = out.back();
      Src src = Src::Stack;
      double value = 0;
      if (prev.op == Op::PushX) src = Src::X;
      if (prev.op == Op::PushY) src = Src::Y;
      if (prev.op == Op::PushConst) src = Src::Const, value = prev.value;
      if (prev.op == Op::PushPi) src = Src::Const, value = std::numbers::pi;
      if (src != Src::Stack) {
        out.back() = {in.op, src, value};
        continue;
      }
    }
    out.push_back(in);
  }
  m_code = std::move(out);
}

namespace {

constexpr int code(Op op, int src) {
  return static_cast<int>(op) * 4 + src;
}

}  // namespace

double CompiledExpression::evaluate(double x, double y) const {
  // The top of the stack lives in `top`; the values below it in `below`.
  // One switch over operation and operand source together: a folded push
  // gives a binary operation its right-hand value, a function its argument.
  double below[kStackSize + 1];
  int n = 0;  // values in below
  double top = 0;
  constexpr int S = 0, X = 1, Y = 2, C = 3;
#define VARNIX_BINARY(OP, APPLY)          \
  case code(Op::OP, S): {                 \
    const double a = below[--n], b = top; \
    top = APPLY;                          \
    break;                                \
  }                                       \
  case code(Op::OP, X): {                 \
    const double a = top, b = x;          \
    top = APPLY;                          \
    break;                                \
  }                                       \
  case code(Op::OP, Y): {                 \
    const double a = top, b = y;          \
    top = APPLY;                          \
    break;                                \
  }                                       \
  case code(Op::OP, C): {                 \
    const double a = top, b = in->value;  \
    top = APPLY;                          \
    break;                                \
  }
  for (const Instr* in = m_code.data();; ++in) {
    switch (code(in->op, static_cast<int>(in->src))) {
      case code(Op::PushX, S):
        below[n++] = top;
        top = x;
        break;
      case code(Op::PushY, S):
        below[n++] = top;
        top = y;
        break;
      case code(Op::PushConst, S):
        below[n++] = top;
        top = in->value;
        break;
      case code(Op::PushPi, S):
        below[n++] = top;
        top = std::numbers::pi;
        break;
        VARNIX_BINARY(Add, checkArith(a + b, a, b))
        VARNIX_BINARY(Sub, checkArith(a - b, a, b))
        VARNIX_BINARY(Mul, checkArith(a * b, a, b))
        VARNIX_BINARY(Div, checkDiv(a / b, a, b))
        VARNIX_BINARY(Pow, applyBinary(Op::Pow, a, b))
      case code(Op::FailExpression, S):
        raiseExpressionError(m_details[static_cast<std::size_t>(in->value)]);
      case code(Op::FailOverflow, S):
        throwFloatFault(FloatFault::Overflow);
      case code(Op::Return, S):
        return top;
      default: {
        // Functions.
        double v = top;
        switch (in->src) {
          case Src::X:
            v = x;
            break;
          case Src::Y:
            v = y;
            break;
          case Src::Const:
            v = in->value;
            break;
          default:
            break;
        }
        if (in->src != Src::Stack) below[n++] = top;
        top = applyUnary(in->op, v);
        break;
      }
    }
  }
#undef VARNIX_BINARY
}

void CompiledExpression::raiseCode(int code) const {
  if (code >= 4) raiseExpressionError(m_details[static_cast<std::size_t>(code - 4)]);
  varnix::raiseFault(code);
  throwFloatFault(FloatFault::Overflow);  // not reached: code is never 0 here
}

void CompiledExpression::raiseFault(std::size_t i) const {
  raiseCode(m_faults[i]);
}

std::size_t CompiledExpression::evaluateBlock(const double* xs, const double* ys, std::size_t n,
                                              double* out) const {
  // Every operation runs over all points of the block before the next one;
  // the first fault of each point is kept, later operations of that point
  // see NaN and cannot fault again. The point that fails first in point
  // order is the one evaluate() would have met first.
  m_stack.resize(static_cast<std::size_t>(m_maxDepth + 2) * kBlock);
  m_faults.assign(kBlock, 0);
  int* faults = m_faults.data();
  auto slot = [&](int d) { return m_stack.data() + static_cast<std::size_t>(d) * kBlock; };
  auto note = [&](std::size_t i, int code, double* value) {
    if (code) [[unlikely]] {
      if (!faults[i]) faults[i] = code;
      *value = std::nan("");
    }
  };
  int d = 0;  // values on the stack
  for (const Instr& in : m_code) {
    const double* operand = nullptr;  // a folded push: x, y, or the constant
    double constant = in.value;
    switch (in.src) {
      case Src::X:
        operand = xs;
        break;
      case Src::Y:
        operand = ys;
        break;
      default:
        break;
    }
    switch (in.op) {
      case Op::PushX:
        std::copy(xs, xs + n, slot(d++));
        break;
      case Op::PushY:
        std::copy(ys, ys + n, slot(d++));
        break;
      case Op::PushConst:
        std::fill(slot(d), slot(d) + n, in.value);
        ++d;
        break;
      case Op::PushPi:
        std::fill(slot(d), slot(d) + n, std::numbers::pi);
        ++d;
        break;
      case Op::FailExpression:
      case Op::FailOverflow: {
        const int code = in.op == Op::FailOverflow ? 1 + static_cast<int>(FloatFault::Overflow)
                                                   : 4 + static_cast<int>(in.value);
        for (std::size_t i = 0; i < n; ++i)
          if (!faults[i]) faults[i] = code;
        return 0;
      }
      case Op::Return:
        std::copy(slot(d - 1), slot(d - 1) + n, out);
        break;
      default:
        if (isBinary(in.op)) {
          double* a = slot(in.src == Src::Stack ? d - 2 : d - 1);
          const double* b = in.src == Src::Stack ? slot(d - 1) : operand;
          if (in.src == Src::Stack) --d;
          int fault = 0;
          if (b) {
            for (std::size_t i = 0; i < n; ++i) {
              a[i] = binaryValue(in.op, a[i], b[i], fault);
              note(i, fault, &a[i]);
            }
          } else {
            for (std::size_t i = 0; i < n; ++i) {
              a[i] = binaryValue(in.op, a[i], constant, fault);
              note(i, fault, &a[i]);
            }
          }
        } else {
          // A function: of the top value, or of a folded push (a new value).
          double* v = slot(in.src == Src::Stack ? d - 1 : d);
          if (in.src == Src::X || in.src == Src::Y)
            std::copy(operand, operand + n, v);
          else if (in.src == Src::Const)
            std::fill(v, v + n, constant);
          if (in.src != Src::Stack) ++d;
          int fault = 0;
          for (std::size_t i = 0; i < n; ++i) {
            v[i] = unaryValue(in.op, v[i], fault);
            note(i, fault, &v[i]);
          }
        }
        break;
    }
  }
  for (std::size_t i = 0; i < n; ++i)
    if (faults[i]) return i;
  return n;
}

}  // namespace varnix
