#include "processing/series_parameter.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace varnix {
namespace {

using test::errorOf;

TEST(SeriesParameter, ValuesFromNamesByDigitsOrPattern) {
  struct Case {
    const char* pattern;
    const char* name;
    const char* value;  ///< nullptr: no number for this name
  };
  const Case cases[] = {
      // Every digit in order, whatever the pattern text that means "digits".
      {"digits", "T300K_2.dat", "3002"},
      {"", "T300K_2.dat", "3002"},
      {"digits", "x.dat", ""},
      // The first match anywhere in the name, not a match of the whole name.
      {"T(\\d+)K", "run_T300K_b7.dat", "300"},
      {"T(\\d+)K", "T5K_T7K", "5"},
      {"_([-+.0-9e]+)mW", "pl_-2.5e1mW.dat", "-2.5e1"},
      {"Time_(\\d+)", "Time_0042", "0042"},
      // A group that did not take part, an empty capture, no match at all.
      {"T(\\d+)?K", "TK.dat", nullptr},
      {"T(\\d*)K", "TK.dat", nullptr},
      {"T(\\d+)K", "T300.dat", nullptr},
      // Captured text that is no number in the strict reading of fields.
      {"T(\\w+)K", "TabcK", nullptr},
      {"T([0-9.]+)K", "T5.K", nullptr},
      {"T(.+)K", "T1 2K", nullptr},
  };
  for (const Case& c : cases) {
    const SeriesParameter p(c.pattern);
    if (c.value) {
      EXPECT_EQ(p.valueOf(c.name), c.value) << c.pattern << " on " << c.name;
    } else {
      EXPECT_EQ(errorOf([&] { p.valueOf(c.name); }), std::string("Parameter from name: ") +
                                                         c.pattern +
                                                         " does not give a number for " + c.name)
          << c.pattern << " on " << c.name;
    }
  }
  EXPECT_TRUE(SeriesParameter("digits").isDigits());
  EXPECT_TRUE(SeriesParameter("").isDigits());
  EXPECT_TRUE(SeriesParameter().isDigits());
  EXPECT_FALSE(SeriesParameter("T(\\d+)K").isDigits());
}

TEST(SeriesParameter, PatternsWithoutExactlyOneGroupAreRefused) {
  for (const char* pattern : {"(", "T\\d+K", "T(\\d+)_(\\d+)K", "[a-", "digit", "(?:x)\\d+"}) {
    EXPECT_EQ(errorOf([&] { SeriesParameter p(pattern); }),
              std::string("Parameter from name: ") + pattern +
                  " is not a regular expression with one capture group")
        << pattern;
  }
  // A group that is not capturing does not count.
  EXPECT_EQ(SeriesParameter("(?:run_)(\\d+)").valueOf("run_12"), "12");
}

TEST(SeriesParameter, AllNamesAreCheckedBeforeAnyValueIsUsed) {
  const SeriesParameter p("T(\\d+)K");
  EXPECT_EQ(p.valuesOf({"T10K.dat", "T020K.dat", "aT300K"}),
            (std::vector<std::string>{"10", "020", "300"}));
  EXPECT_TRUE(p.valuesOf({}).empty());
  EXPECT_EQ(errorOf([&] {
              p.valuesOf({"T10K.dat", "other.dat", "T30K.dat"});
            }),
            "Parameter from name: T(\\d+)K does not give a number for other.dat");
  EXPECT_EQ(SeriesParameter().valuesOf({"a1b2", "c"}), (std::vector<std::string>{"12", ""}));
}

}  // namespace
}  // namespace varnix
