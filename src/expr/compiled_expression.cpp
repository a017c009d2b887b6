#include "expr/compiled_expression.h"

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
    {"x", Op::PushX, 0},     {"y", Op::PushY, 0},      {"+", Op::Add, 2},      {"-", Op::Sub, 2},
    {"*", Op::Mul, 2},       {"/", Op::Div, 2},        {"^", Op::Pow, 2},      {"sin", Op::Sin, 1},
    {"cos", Op::Cos, 1},     {"ln", Op::Ln, 1},        {"exp", Op::Exp, 1},    {"abs", Op::Abs, 1},
    {"fil", Op::Fil, 1},     {"tan", Op::Tan, 1},      {"ctg", Op::Ctg, 1},    {"p", Op::PushPi, 0},
    {"acos", Op::Acos, 1},   {"asin", Op::Asin, 1},
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

/// Applies a one-value function; faults as the language defines them.
inline double applyUnary(Op op, double v) {
  switch (op) {
    case Op::Sin:
      return checkFunction(std::sin(v), v);
    case Op::Cos:
      return checkFunction(std::cos(v), v);
    case Op::Ln:
      return checkFunction(std::log(v), v, true);
    case Op::Exp:
      return checkFunction(std::exp(v), v);
    case Op::Abs:
      return std::fabs(v);
    case Op::Fil:
      return v > 1 ? v : 1.0;
    case Op::Tan:
      return checkFunction(std::tan(v), v);
    case Op::Ctg: {
      const double t = checkFunction(std::tan(v), v);
      return checkDiv(1.0 / t, 1.0, t);
    }
    case Op::Acos:
    case Op::Asin: {
      const long double lv = v;
      const long double rest = 1.0L - lv * lv;
      if (rest < 0) throwFloatFault(FloatFault::InvalidOperation);
      const long double root = std::sqrt(rest);
      return storeExtended(op == Op::Acos ? std::atan2(root, lv) : std::atan2(lv, root));
    }
    default:
      return v;
  }
}

inline double applyBinary(Op op, double a, double b) {
  switch (op) {
    case Op::Add:
      return checkArith(a + b, a, b);
    case Op::Sub:
      return checkArith(a - b, a, b);
    case Op::Mul:
      return checkArith(a * b, a, b);
    case Op::Div:
      return checkDiv(a / b, a, b);
    case Op::Pow:
      // A base that is not positive gives 0, never a fault.
      return a > 0 ? checkArith(std::pow(a, b), a, b) : 0.0;
    default:
      return a;
  }
}

}  // namespace

double evaluateTokens(std::string_view text, double x, double y) {
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
    c.m_code.push_back({Op::FailExpression, static_cast<double>(c.m_details.size())});
    c.m_details.emplace_back(detail);
  };
  auto push = [&](Instr in) {
    if (depth == kStackSize) {
      fail("Stack full");
      return false;
    }
    c.m_code.push_back(in);
    ++depth;
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
        c.m_code.push_back({Op::FailOverflow, 0});
        failed = true;
        break;
      }
      if (!push({Op::PushConst, *v})) failed = true;
    } else if (const TokenInfo* t = lookUp(token)) {
      if (t->pops == 0) {
        if (!push({t->op, 0})) failed = true;
      } else if (depth < t->pops) {
        fail("Empty stack");
        failed = true;
      } else {
        c.m_code.push_back({t->op, 0});
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
      c.m_code.push_back({Op::Return, 0});
  }
  return c;
}

double CompiledExpression::evaluate(double x, double y) const {
  double stack[kStackSize + 1];
  int top = -1;
  for (const Instr& in : m_code) {
    switch (in.op) {
      case Op::PushX:
        stack[++top] = x;
        break;
      case Op::PushY:
        stack[++top] = y;
        break;
      case Op::PushConst:
        stack[++top] = in.value;
        break;
      case Op::PushPi:
        stack[++top] = std::numbers::pi;
        break;
      case Op::Add:
      case Op::Sub:
      case Op::Mul:
      case Op::Div:
      case Op::Pow:
        --top;
        stack[top] = applyBinary(in.op, stack[top], stack[top + 1]);
        break;
      case Op::FailExpression:
        raiseExpressionError(m_details[static_cast<std::size_t>(in.value)]);
      case Op::FailOverflow:
        throwFloatFault(FloatFault::Overflow);
      case Op::Return:
        return stack[top];
      default:
        stack[top] = applyUnary(in.op, stack[top]);
        break;
    }
  }
  return stack[top];
}

}  // namespace varnix
