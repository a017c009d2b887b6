#include "expr/expression.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

#include "expr/compiled_expression.h"
#include "workspace/error.h"

namespace varnix {
namespace {

std::string convert(const std::string& formula) {
  try {
    return expressionToPostfix(formula);
  } catch (const Error& e) {
    return std::string("!") + e.what();
  }
}

TEST(ExpressionToPostfix, Table) {
  const std::pair<const char*, const char*> cases[] = {
      {"x", "x"},
      {"sin(x)*y+1", "x sin y * 1 +"},
      {"x^(-2)", "x 0 2 - ^"},
      {"pi*x", "p x *"},
      {"exp(-x)", "0 x - exp"},
      {"(5)", "5"},
      {"((x))", "x"},
      {"", "0"},
      {"-x", "0 x -"},
      {"+x", "0 x +"},
      {"-x^2", "0 x 2 ^ -"},
      {"x/y*2", "x y 2 * /"},
      {"2^3^2", "2 3 ^ 2 ^"},
      {"x-y+1", "x y - 1 +"},
      {"x+y-1", "x y 1 - +"},
      {"sin", "0 sin"},
      {"sinx", "x sin"},
      {"2sin(x)", "x sin"},
      {"exq(x)", "x exp"},
      {"x+ 5", "x  5 +"},
      {"1e-5*x", "1e-5 x *"},
      {"1E5*x", "1E5 x *"},
      {"-1e-5", "-1e-5"},
      {"(-1e-5)", "0 1e-5 -"},
      {"1e+5", "1e+5"},
      {"acos(x)+asin(y)", "x acos y asin +"},
      {"ctg(x)/tan(y)", "x ctg y tan /"},
      {"abs(fil(ln(x)))", "x ln fil abs"},
      {"cos(x)", "x cos"},
      {"(x+y)*(x-y)", "x y + x y - *"},
      {"x+", "!error in expression: x+"},
      {"2*-x", "!error in expression: 2*"},
      {"x^-2", "!error in expression: x^"},
      {"2*(x+)", "!error in expression: (x+)"},
      {"1E-5*x", "!error in expression: 1E"},
      {"p", "!error in expression: p"},
      {"X", "!error in expression: X"},
      {"PI", "!error in expression: PI"},
      {"Sin(x)", "!error in expression: Sin(x)"},
      {"()", "!error in expression: ()"},
      {"sin()", "!error in expression: ()"},
      {"x y", "!error in expression: x y"},
      {"x + 1", "!error in expression: x "},
      {"5.", "!error in expression: 5."},
      {"z", "!error in expression: z"},
  };
  for (const auto& [formula, expected] : cases) EXPECT_EQ(convert(formula), expected) << formula;
}

struct EvalCase {
  const char* formula;
  double x, y;
  double value;  // used when error is empty
  const char* error;
};

TEST(EvaluatePostfix, Table) {
  const double pi = std::numbers::pi;
  const EvalCase cases[] = {
      {"x/y*2", 8, 2, 2, ""},
      {"2^3^2", 0, 0, 64, ""},
      {"x-y-1", 5, 1, 3, ""},
      {"x^2", -3, 0, 0, ""},
      {"(-3)^2", 0, 0, 0, ""},
      {"0^2", 0, 0, 0, ""},
      {"x^0.5", 4, 0, 2, ""},
      {"-x^2", 3, 0, -9, ""},
      {"x+ 5", 1, 0, 6, ""},
      {"", 5, 5, 0, ""},
      {"fil(0.5)", 0, 0, 1, ""},
      {"fil(3)", 0, 0, 3, ""},
      {"ctg(1)", 0, 0, 1 / std::tan(1.0), ""},
      {"acos(1)", 0, 0, 0, ""},
      {"asin(1)", 0, 0, pi / 2, ""},
      {"acos(0)", 0, 0, pi / 2, ""},
      {"asin(-1)", 0, 0, -pi / 2, ""},
      {"pi", 0, 0, pi, ""},
      {"sin", 0, 0, 0, ""},
      {"sin(x)*y+1", 0.5, 2, std::sin(0.5) * 2 + 1, ""},
      {"abs(x-y)", 1, 4, 3, ""},
      {"exp(-1000)", 0, 0, 0, ""},
      {"1e-400*x", 5, 0, 0, ""},
      {"x+  5", 1, 0, 0, "error in expression:  "},
      {"x/0", 1, 0, 0, "Floating point division by zero"},
      {"ctg(0)", 0, 0, 0, "Floating point division by zero"},
      {"ln(0)", 0, 0, 0, "Floating point division by zero"},
      {"ln(-1)", 0, 0, 0, "Invalid floating point operation"},
      {"0/0", 0, 0, 0, "Invalid floating point operation"},
      {"acos(2)", 0, 0, 0, "Invalid floating point operation"},
      {"asin(2)", 0, 0, 0, "Invalid floating point operation"},
      {"exp(1000)", 0, 0, 0, "Floating point overflow"},
      {"x*1e308*10", 1, 0, 0, "Floating point overflow"},
      {"1e999+x", 1, 0, 0, "Floating point overflow"},
      {"x^1000", 10, 0, 0, "Floating point overflow"},
  };
  for (const EvalCase& c : cases) {
    for (bool compiled : {false, true}) {
      try {
        const std::string postfix = expressionToPostfix(c.formula) + " ";
        const double v = compiled ? CompiledExpression::compile(postfix).evaluate(c.x, c.y)
                                  : evaluatePostfix(postfix, c.x, c.y);
        EXPECT_STREQ("", c.error) << c.formula;
        EXPECT_DOUBLE_EQ(v, c.value) << c.formula;
      } catch (const Error& e) {
        EXPECT_STREQ(e.what(), c.error) << c.formula << (compiled ? " compiled" : " text");
      }
    }
  }
}

TEST(EvaluatePostfix, HandMadeTexts) {
  const std::pair<const char*, const char*> cases[] = {
      {"x + ", "error in expression: Empty stack"}, {"+ ", "error in expression: Empty stack"},
      {"sin ", "error in expression: Empty stack"}, {"", "error in expression: "},
      {"x foo ", "error in expression: foo"},       {"X ", "error in expression: X"},
  };
  for (const auto& [text, error] : cases) {
    for (bool compiled : {false, true}) {
      try {
        compiled ? CompiledExpression::compile(text).evaluate(1, 2) : evaluatePostfix(text, 1, 2);
        ADD_FAILURE() << '"' << text << '"';
      } catch (const Error& e) {
        EXPECT_STREQ(e.what(), error) << '"' << text << '"';
      }
    }
  }
  // Values left below the result are ignored; a missing final blank drops
  // the last token.
  EXPECT_EQ(evaluatePostfix("1 2 3 ", 0, 0), 3);
  EXPECT_EQ(evaluatePostfix("1 2", 0, 0), 1);
  EXPECT_EQ(CompiledExpression::compile("1 2").evaluate(0, 0), 1);
  EXPECT_EQ(evaluatePostfix(" 7 ", 0, 0), 7);
  // The constant is the double nearest to pi.
  const double pi = evaluatePostfix("p ", 0, 0);
  std::uint64_t bits;
  std::memcpy(&bits, &pi, sizeof bits);
  EXPECT_EQ(bits, 0x400921FB54442D18u);
}

TEST(EvaluatePostfix, StackHoldsNinetyValues) {
  std::string ok, full;
  for (int i = 0; i < 90; ++i) ok += "1 ";
  full = ok + "1 ";
  EXPECT_EQ(evaluatePostfix(ok, 0, 0), 1);
  EXPECT_THROW(evaluatePostfix(full, 0, 0), Error);
  EXPECT_THROW(CompiledExpression::compile(full).evaluate(0, 0), Error);
  // A right-nested chain needing more than 90 operands.
  std::string f = "x";
  for (int i = 0; i < 95; ++i) f = "x-(" + f + ")";
  EXPECT_THROW(evaluatePostfix(expressionToPostfix(f) + " ", 1, 1), Error);
}

TEST(IsPlainNumber, Table) {
  for (const char* t : {"2", "2.5", "1e5", "1e-5", "1e+5", "-1e-5", " 5"})
    EXPECT_TRUE(isPlainNumber(t)) << t;
  for (const char* t : {"-2", "+2", "1E-5", "x", "", "5.", "2-1"})
    EXPECT_FALSE(isPlainNumber(t)) << t;
}

TEST(SplitExpression, FindAndStrip) {
  EXPECT_EQ(findTopLevelOperator("+", "sin(x)*y+1"), 9u);
  EXPECT_EQ(findTopLevelOperator("*", "sin(x)*y+1"), 7u);
  EXPECT_EQ(findTopLevelOperator("+", "(x+y)"), 0u);
  EXPECT_EQ(findTopLevelOperator("+", "x+"), 0u);  // the last character is never examined
  EXPECT_EQ(findTopLevelOperator("-", "2e-3"), 0u);
  EXPECT_EQ(findTopLevelOperator("-", "2E-3"), 3u);
  EXPECT_EQ(findTopLevelOperator("sin", "asin(x)"), 2u);  // two letters compared
  EXPECT_EQ(findTopLevelOperator("exp", "exq(x)"), 1u);
  EXPECT_EQ(findTopLevelOperator("-", "a-b-c"), 4u);
  EXPECT_EQ(stripParentheses("(x)"), "x");
  EXPECT_EQ(stripParentheses("()"), "");
  SplitResult s = splitExpression("2sin(x)");
  EXPECT_EQ(s.kind, "sin");
  EXPECT_EQ(s.right, "(x)");
  EXPECT_EQ(s.left, "");
  s = splitExpression("((1e5))");
  EXPECT_EQ(s.kind, "1e5");
  s = splitExpression("a*b");
  EXPECT_EQ(s.left, "a");
  EXPECT_EQ(s.right, "b");
  EXPECT_EQ(s.kind, "*");
  EXPECT_EQ(splitExpression("q").kind, "");
}

// Random formulas: the compiled evaluator agrees with reading the text, on
// values and on errors.
TEST(CompiledExpression, AgreesWithTheTextEvaluator) {
  std::mt19937 rng(11);
  const char* atoms[] = {"x", "y", "pi", "2", "0.5", "1e-3", "0", "-x", "1e999"};
  const char* ops[] = {"+", "-", "*", "/", "^"};
  const char* fns[] = {"sin", "cos", "ln", "exp", "abs", "fil", "tan", "ctg", "acos", "asin"};
  std::function<std::string(int)> gen = [&](int depth) -> std::string {
    const int pick = depth > 4 ? 0 : static_cast<int>(rng() % 4);
    if (pick == 0) return atoms[rng() % 9];
    if (pick == 1) return std::string(fns[rng() % 10]) + "(" + gen(depth + 1) + ")";
    if (pick == 2) return "(" + gen(depth + 1) + ")";
    return gen(depth + 1) + ops[rng() % 5] + gen(depth + 1);
  };
  const double points[][2] = {{0.5, 2}, {-3, 0}, {0, 0}, {1e10, -7}, {2, 1e-300}};
  int compared = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string f = gen(0);
    std::string postfix;
    try {
      postfix = expressionToPostfix(f) + " ";
    } catch (const Error&) {
      continue;
    }
    const CompiledExpression c = CompiledExpression::compile(postfix);
    for (const auto& p : points) {
      std::string a, b;
      try {
        double v = evaluatePostfix(postfix, p[0], p[1]);
        a = std::isnan(v) ? "nan" : std::to_string(v) + "/" + std::to_string(std::signbit(v));
      } catch (const Error& e) {
        a = e.what();
      }
      try {
        double v = c.evaluate(p[0], p[1]);
        b = std::isnan(v) ? "nan" : std::to_string(v) + "/" + std::to_string(std::signbit(v));
      } catch (const Error& e) {
        b = e.what();
      }
      EXPECT_EQ(a, b) << f << " at " << p[0] << "," << p[1];
      ++compared;
    }
  }
  EXPECT_GT(compared, 5000);
}

// Deep nesting ends with an expression error, also on a 1 MB thread stack.
void* convertDeep(void* arg) {
  auto* text = static_cast<std::string*>(arg);
  try {
    expressionToPostfix(*text);
    *text = "converted";
  } catch (const Error& e) {
    *text = e.what();
  }
  return nullptr;
}

/// x inside `depth` openings such as "sin(", each closed after it.
std::string nested(const std::string& opening, std::size_t depth) {
  std::string s;
  s.reserve(depth * (opening.size() + 1) + 1);
  for (std::size_t i = 0; i < depth; ++i) s += opening;
  s += 'x';
  s.append(depth, ')');
  return s;
}

TEST(ExpressionToPostfix, DeepNestingFailsCleanlyOnASmallStack) {
  std::vector<std::string> formulas = {
      std::string(100000, '(') + "x" + std::string(100000, ')'),
      std::string(100000, '-') + "x",
      nested("x*(", 50000),
      nested("sin(", 20000),
  };
  for (std::string& f : formulas) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 1 << 20);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, convertDeep, &f), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(f.rfind("error in expression: ", 0), 0u) << f.substr(0, 40);
  }
  // A flat chain of operators is no nesting, however long: a sum of 201
  // terms and a 10 MB sum convert (in one scan) and evaluate.
  std::string sum201 = "x";
  for (int i = 0; i < 200; ++i) sum201 += "+x";
  EXPECT_EQ(evaluatePostfix(expressionToPostfix(sum201) + " ", 2, 0), 402);
  std::string big = "1";
  while (big.size() < 10'000'000) big += "+1-1+1";
  std::string postfix = expressionToPostfix(big);
  EXPECT_EQ(postfix.substr(0, 10), "1 1 1 - + ");
  EXPECT_EQ(evaluatePostfix(postfix + " ", 0, 0), 1 + static_cast<double>((big.size() - 1) / 6));
  // Mixed operators keep their precedence along the chain.
  EXPECT_EQ(expressionToPostfix("x*2+y/3-1+x^2"), "x 2 * y 3 / 1 - + x 2 ^ +");
  // Ordinary nesting is well within the bound.
  std::string f = "x";
  for (int i = 0; i < 40; ++i) f = "(" + f + "+1)";
  EXPECT_NO_THROW(expressionToPostfix(f));
}

}  // namespace
}  // namespace varnix
