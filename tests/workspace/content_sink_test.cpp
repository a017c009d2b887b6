#include "workspace/content_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace varnix {
namespace {

/// A sink with the smallest buffer, which keeps the blocks it is handed.
class BlockSink final : public ContentSink {
 public:
  BlockSink() : ContentSink(kMaxRoom) {}
  std::vector<std::string> blocks;

 private:
  void take(std::string_view bytes) override { blocks.emplace_back(bytes); }
};

/// One step of a producer: append text, or write it at room() (asking room
/// for `ask` bytes).
struct Step {
  std::string text;
  std::size_t ask = 0;  ///< 0: append
};

std::string letters(std::size_t n, char first) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(first + i % 26);
  return s;
}

TEST(ContentSink, HandsOnEveryByteInOrderInBlocksOfItsBuffer) {
  constexpr std::size_t kCap = ContentSink::kMaxRoom;
  struct Case {
    const char* what;
    std::vector<Step> steps;
    std::size_t blocks;  // how many blocks the bytes come in
  };
  const std::vector<Case> cases = {
      {"nothing", {}, 0},
      {"an empty append", {{"", 0}}, 0},
      {"less than a buffer", {{letters(10, 'a'), 0}, {letters(20, 'A'), 0}}, 1},
      {"exactly a buffer", {{letters(kCap, 'a'), 0}}, 1},
      {"a buffer and one byte", {{letters(kCap + 1, 'a'), 0}}, 2},
      {"a long append after a few bytes",
       {{letters(5, 'a'), 0}, {letters(3 * kCap + 7, 'A'), 0}},
       4},
      {"a long append on an empty buffer", {{letters(3 * kCap + 7, 'a'), 0}}, 4},
      {"room that fits", {{letters(100, 'a'), 0}, {letters(60, 'A'), 70}}, 1},
      // 4000 bytes buffered: room for 200 more hands them on first.
      {"room that does not fit", {{letters(4000, 'a'), 0}, {letters(150, 'A'), 200}}, 2},
      {"room for the largest amount",
       {{letters(1, 'a'), 0}, {letters(kCap, 'A'), kCap}, {letters(kCap, 'a'), kCap}},
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BlockSink sink;
    std::string expected;
    for (const Step& s : c.steps) {
      expected += s.text;
      if (s.ask == 0) {
        sink.append(s.text);
        continue;
      }
      char* at = sink.room(s.ask);
      for (char ch : s.text) *at++ = ch;
      sink.commit(at);
    }
    sink.drain();
    sink.drain();  // nothing more to hand on
    std::string joined;
    for (const std::string& b : sink.blocks) {
      EXPECT_FALSE(b.empty());
      EXPECT_LE(b.size(), kCap);
      joined += b;
    }
    EXPECT_EQ(joined, expected);
    EXPECT_EQ(sink.blocks.size(), c.blocks);
  }
}

TEST(ContentSink, ProducedTextIsEverythingMade) {
  const std::string big = letters(300000, 'a');
  EXPECT_EQ(producedText(contentOf(big)), big);
  EXPECT_EQ(producedText(contentOf("")), "");
  EXPECT_EQ(producedText([](ContentSink& out) {
              out.append("x y");
              char* at = out.room(2);
              at[0] = '\r';
              at[1] = '\n';
              out.commit(at + 2);
            }),
            "x y\r\n");
}

}  // namespace
}  // namespace varnix
