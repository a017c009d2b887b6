#include "expr/expression.h"

#include <array>
#include <vector>

#include "expr/compiled_expression.h"
#include "workspace/error.h"
#include "workspace/number_text.h"

namespace varnix {

void raiseExpressionError(std::string_view detail) {
  throw Error("error in expression: " + std::string(detail));
}

bool isPlainNumber(std::string_view text) {
  if (!isNumberText(text)) return false;
  if (text.find('+') != std::string_view::npos && text.find("e+") == std::string_view::npos)
    return false;
  if (text.find('-') != std::string_view::npos && text.find("e-") == std::string_view::npos)
    return false;
  return true;
}

std::size_t findTopLevelOperator(std::string_view name, std::string_view text) {
  if (text.empty() || name.empty()) return 0;
  int depth = 0;
  std::size_t found = 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i - 1];
    const bool afterE = i > 1 && text[i - 2] == 'e';
    const bool match = name.size() == 1 ? c == name[0] : c == name[0] && text[i] == name[1];
    if (depth == 0 && !afterE && match) found = i;
    if (c == '(') ++depth;
    if (c == ')') --depth;
  }
  return found;
}

std::string_view stripParentheses(std::string_view text) {
  if (text.size() < 3) return {};
  return text.substr(1, text.size() - 2);
}

namespace {

constexpr std::array<std::string_view, 5> kOperators = {"+", "-", "/", "*", "^"};
constexpr std::array<std::string_view, 10> kFunctions = {"ln",  "exp", "acos", "asin", "cos",
                                                         "sin", "tan", "ctg",  "abs",  "fil"};

/// The last top-level position (1-based, 0 for none) of every operator and
/// function name, found in one pass with the rules of findTopLevelOperator.
struct TopLevelMatches {
  std::array<std::size_t, 5> op{};
  std::array<std::size_t, 10> fn{};
};

TopLevelMatches scanTopLevel(std::string_view text) {
  TopLevelMatches m;
  int depth = 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i - 1];
    if (depth == 0 && !(i > 1 && text[i - 2] == 'e')) {
      const char d = text[i];
      // Operators by character; functions by their first two letters.
      switch (c) {
        case '+':
          m.op[0] = i;
          break;
        case '-':
          m.op[1] = i;
          break;
        case '/':
          m.op[2] = i;
          break;
        case '*':
          m.op[3] = i;
          break;
        case '^':
          m.op[4] = i;
          break;
        case 'l':
          if (d == 'n') m.fn[0] = i;
          break;
        case 'e':
          if (d == 'x') m.fn[1] = i;
          break;
        case 'a':
          if (d == 'c') m.fn[2] = i;
          if (d == 's') m.fn[3] = i;
          if (d == 'b') m.fn[8] = i;
          break;
        case 'c':
          if (d == 'o') m.fn[4] = i;
          if (d == 't') m.fn[7] = i;
          break;
        case 's':
          if (d == 'i') m.fn[5] = i;
          break;
        case 't':
          if (d == 'a') m.fn[6] = i;
          break;
        case 'f':
          if (d == 'i') m.fn[9] = i;
          break;
        default:
          break;
      }
    }
    if (c == '(') ++depth;
    if (c == ')') --depth;
  }
  return m;
}

/// Every top-level position (1-based, ascending) of each operator, with
/// the rules of findTopLevelOperator.
std::array<std::vector<std::size_t>, 5> topLevelOperatorPositions(std::string_view text) {
  std::array<std::vector<std::size_t>, 5> at;
  int depth = 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i - 1];
    if (depth == 0 && !(i > 1 && text[i - 2] == 'e')) {
      for (std::size_t k = 0; k < kOperators.size(); ++k)
        if (c == kOperators[k][0]) at[k].push_back(i);
    }
    if (c == '(') ++depth;
    if (c == ')') --depth;
  }
  return at;
}

void raiseTooDeep() {
  raiseExpressionError("formula nested too deeply");
}

SplitResult split(std::string_view text, int& depth) {
  SplitResult r;
  for (;;) {
    if (isPlainNumber(text))
      r.kind = text;
    else if (text == "x")
      r.kind = "x";
    else if (text == "y")
      r.kind = "y";
    else if (text == "pi")
      r.kind = "p";

    const TopLevelMatches m = scanTopLevel(text);
    for (std::size_t k = 0; k < kOperators.size(); ++k) {
      if (std::size_t pos = m.op[k]) {
        r.left = text.substr(0, pos - 1);
        r.right = text.substr(pos);
        r.kind = kOperators[k];
        return r;
      }
    }
    for (std::size_t k = 0; k < kFunctions.size(); ++k) {
      if (std::size_t pos = m.fn[k]) {
        const std::size_t from = pos - 1 + kFunctions[k].size();
        r.left = {};
        r.right = from < text.size() ? text.substr(from) : std::string_view();
        r.kind = kFunctions[k];
        return r;
      }
    }
    if (!text.empty() && text.front() == '(' && text.back() == ')') {
      if (++depth > kMaxNesting) raiseTooDeep();
      text = stripParentheses(text);
      continue;
    }
    return r;
  }
}

bool isOperatorKind(std::string_view kind) {
  return kind.size() == 1 &&
         (kind[0] == '+' || kind[0] == '-' || kind[0] == '/' || kind[0] == '*' || kind[0] == '^');
}

bool isFunctionKind(std::string_view kind) {
  for (std::string_view f : kFunctions)
    if (kind == f) return true;
  return false;
}

void toPostfix(std::string_view text, int depth, std::string& out) {
  if (isPlainNumber(text)) {
    out += text;
    return;
  }
  if (text.empty()) {
    out += '0';
    return;
  }
  if (++depth > kMaxNesting) raiseTooDeep();
  SplitResult s = split(text, depth);
  if (s.kind.empty()) raiseExpressionError(text);
  if (isOperatorKind(s.kind)) {
    // The left operand of the last operator is a prefix of the same text,
    // and so is its own left operand, and so on (x+x+...+x). That chain is
    // walked here in one scan instead of one recursion and one scan per
    // operator: it is no nesting, and a flat formula may be any length.
    // The top-level positions in a prefix are those of the whole text that
    // lie before its last character.
    struct Link {
      std::string_view right, kind;
    };
    std::vector<Link> chain{{s.right, s.kind}};
    std::string_view base = s.left;
    if (!base.empty() && !isPlainNumber(base)) {
      auto at = topLevelOperatorPositions(base);
      for (;;) {
        if (base.empty() || isPlainNumber(base)) break;
        const std::size_t last = base.size() - 1;  // positions must be <= last
        bool found = false;
        for (std::size_t k = 0; k < kOperators.size() && !found; ++k) {
          while (!at[k].empty() && at[k].back() > last) at[k].pop_back();
          if (at[k].empty()) continue;
          const std::size_t pos = at[k].back();
          at[k].pop_back();
          chain.push_back({base.substr(pos), kOperators[k]});
          base = base.substr(0, pos - 1);
          found = true;
        }
        if (!found) break;
      }
    }
    toPostfix(base, depth, out);
    for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
      out += ' ';
      toPostfix(link->right, depth, out);
      out += ' ';
      out += link->kind;
    }
  } else if (isFunctionKind(s.kind)) {
    toPostfix(s.right, depth, out);
    out += ' ';
    out += s.kind;
  } else {
    out += s.kind;
  }
}

}  // namespace

SplitResult splitExpression(std::string_view text) {
  int depth = 0;
  return split(text, depth);
}

std::string expressionToPostfix(std::string_view formula) {
  std::string out;
  toPostfix(formula, 0, out);
  return out;
}

}  // namespace varnix
