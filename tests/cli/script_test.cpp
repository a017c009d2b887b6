#include "cli/script.h"

#include <gtest/gtest.h>

namespace varnix::cli {
namespace {

std::vector<std::vector<std::string>> words(const std::string& text) {
  std::vector<std::vector<std::string>> out;
  for (const ScriptCommand& c : parseScript(text)) out.push_back(c.words);
  return out;
}

TEST(Script, CommandsWordsQuotesAndComments) {
  using W = std::vector<std::vector<std::string>>;
  EXPECT_EQ(words("load a.dat b.dat\ninfo"), (W{{"load", "a.dat", "b.dat"}, {"info"}}));
  EXPECT_EQ(words("select 1 2; dump ;; info"), (W{{"select", "1", "2"}, {"dump"}, {"info"}}));
  EXPECT_EQ(words("# a comment\n  # another\r\ninfo\r\n"), (W{{"info"}}));
  EXPECT_EQ(words("math-yx \"x; y\" \"sin(x) * y\""), (W{{"math-yx", "x; y", "sin(x) * y"}}));
  EXPECT_EQ(words("slice 10 300 5 d \"\" /tmp"), (W{{"slice", "10", "300", "5", "d", "", "/tmp"}}));
  EXPECT_EQ(words("eval x#1 1 2"), (W{{"eval", "x#1", "1", "2"}}));
  EXPECT_EQ(words("\t\n\n"), W{});
  EXPECT_EQ(parseScript("a\nb\n\nc").back().line, 4);
}

}  // namespace
}  // namespace varnix::cli
