#include "cli/script.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <optional>

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

TEST(Script, EscapesInsideQuotes) {
  using W = std::vector<std::vector<std::string>>;
  struct Case {
    const char* script;
    W words;
  };
  const Case cases[] = {
      {R"(rename "a\"b")", {{"rename", "a\"b"}}},
      {R"(rename "a\\b")", {{"rename", "a\\b"}}},
      {R"(rename "a\\\"b")", {{"rename", "a\\\"b"}}},
      // Any other backslash is itself: Windows paths keep working.
      {R"(load "C:\data\t.dat")", {{"load", "C:\\data\\t.dat"}}},
      {R"(load "\n\x")", {{"load", "\\n\\x"}}},
      // Outside quotes a backslash is an ordinary character.
      {R"(load a\"b" c)", {{"load", "a\\b", "c"}}},
      // An escaped quote neither ends the word nor lets a ";" end the command.
      {R"(rename "x\"; delete-all; \"y")", {{"rename", "x\"; delete-all; \"y"}}},
      {R"(rename "\\"; info)", {{"rename", "\\"}, {"info"}}},
      // In $"..." \t, \n, \r and \xHH are control characters; others as above.
      {R"(load $"a\tb\x41\x4g\q\\t" c)", {{"load", "a\tbA\\x4g\\q\\t", "c"}}},
      {R"(rename $"\r\n\x0"$"")", {{"rename", "\r\n\\x0"}}},
      {R"(rename $"\x30\x39\x3a\x3A\x3F\x2f\x3g\x3G\x:0")", {{"rename", "09::?/\\x3g\\x3G\\x:0"}}},
      {R"(load a$b)", {{"load", "a$b"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(words(c.script), c.words) << c.script;
  // A backslash before the closing quote escapes it: the quote stays open.
  const std::vector<ScriptCommand> open = parseScript(R"(load "C:\dir\")");
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].error, "unbalanced quote");
}

TEST(Script, QuotedWordsComeBackExactly) {
  struct Case {
    std::string text;
    std::optional<std::string> quoted;
  };
  const Case cases[] = {
      {"", "\"\""},
      {"plain.dat", "\"plain.dat\""},
      {"with blank; and semicolon", "\"with blank; and semicolon\""},
      {"a\"b", R"("a\"b")"},
      {"C:\\dir\\", R"("C:\\dir\\")"},
      {"\\\"", R"("\\\"")"},
      {"# not a comment", "\"# not a comment\""},
      {"\xc3\xa4rger \xe2\x82\xac.dat", "\"\xc3\xa4rger \xe2\x82\xac.dat\""},
      {"x\"; select all; simple-math-y 0 0 0 0; save-selected; \"y.csv",
       R"("x\"; select all; simple-math-y 0 0 0 0; save-selected; \"y.csv")"},
      // A TAB is written escaped in $"..."; no line carries a line break or
      // another control character.
      {"tab\there", "$\"tab\\there\""},
      {"C:\\t\t\"", "$\"C:\\\\t\\t\\\"\""},
      {"a\nb", std::nullopt},
      {"a\rb", std::nullopt},
      {"tab\tand\nbreak", std::nullopt},
      {std::string("nul\0", 4), std::nullopt},
      {"esc\x1b", std::nullopt},
      {"del\x7f", std::nullopt},
      {"\x1f", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> q = quoteScriptWord(c.text);
    EXPECT_EQ(q, c.quoted) << c.text;
    if (!q) continue;
    // Read back as the argument of a command, also with a command after it.
    const std::vector<ScriptCommand> back = parseScript("rename " + *q + "; info");
    ASSERT_EQ(back.size(), 2u) << *q;
    EXPECT_EQ(back[0].words, (std::vector<std::string>{"rename", c.text})) << *q;
  }
  // Every byte that is no control character survives, one at a time.
  for (int b = 0x20; b < 0x100; ++b) {
    if (b == 0x7f) continue;
    const std::string text = "a" + std::string(1, static_cast<char>(b)) + "b";
    const auto q = quoteScriptWord(text);
    ASSERT_TRUE(q) << b;
    EXPECT_EQ(parseScript("rename " + *q)[0].words[1], text) << b;
  }
}

TEST(Script, LinesFromCommandsAndArguments) {
  struct Case {
    ScriptLine line;
    std::string text;
    bool recordable;
  };
  const std::string here = std::filesystem::current_path().string();
  const Case cases[] = {
      {ScriptLine("normalize"), "normalize", true},
      {ScriptLine("save-as").path("/abs/x y.dat"), R"(save-as "/abs/x y.dat")", true},
      {ScriptLine("save-as").path("rel.dat"), "save-as \"" + here + "/rel.dat\"", true},
      {ScriptLine("slice").arg("1").path(""), R"(slice "1" "")", true},
      {ScriptLine("moments").number(0.1).number(-2.5e300).arg("T(\\d+)K"),
       R"(moments 0.1 -2.5e+300 "T(\\d+)K")", true},
      {ScriptLine("moments-save").count(3).path("/m"), R"(moments-save 3 "/m")", true},
      {ScriptLine("math-graphs").word("+").word("none"), "math-graphs + none", true},
      // A word the parser would split or unquote goes in quotes.
      {ScriptLine("math-graphs").word("a b").word("x\"").word(""), R"(math-graphs "a b" "x\"" "")",
       true},
      {ScriptLine("load").path("/data/run\t7.dat"), R"(load $"/data/run\t7.dat")", true},
      {ScriptLine("math-graphs").word("a\x01"),
       "# math-graphs was not recorded: a name or text in it holds a line break or another "
       "control character",
       false},
      {ScriptLine("rename").arg("a\nb"),
       "# rename was not recorded: a name or text in it holds a line break or another control "
       "character",
       false},
      {ScriptLine("load").path("/ok.dat").path("/bad\r.dat"),
       "# load was not recorded: a name or text in it holds a line break or another control "
       "character",
       false},
      {ScriptLine("delete-point").number(std::nan("")),
       "# delete-point was not recorded: a name or text in it holds a line break or another "
       "control character",
       false},
      {ScriptLine("normalize-integral").number(1).number(-INFINITY), "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.line.recordable(), c.recordable) << c.text;
    if (!c.text.empty()) EXPECT_EQ(c.line.text(), c.text);
  }
}

}  // namespace
}  // namespace varnix::cli
