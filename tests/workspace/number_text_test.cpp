#include "workspace/number_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include "workspace/error.h"

namespace varnix {
namespace {

struct FormatCase {
  double value;
  int digits;
  const char* text;
};

TEST(FormatDataNumber, ExamplesAndBoundaries) {
  const double inf = std::numeric_limits<double>::infinity();
  const FormatCase cases[] = {
      {1234.5678, 7, "1234.568"},
      {0.5, 7, "0.5"},
      {0.000123, 7, "0.000123"},
      {0.0000123, 7, "1.23E-5"},
      {12345678, 7, "1.234568E7"},
      {1000000, 7, "1000000"},
      {-2.5, 7, "-2.5"},
      {0.0001, 7, "0.0001"},
      {0.00009999, 7, "9.999E-5"},
      {0.000099999999, 7, "0.0001"},
      {9999999.4, 7, "9999999"},
      {9999999.5, 7, "1E7"},
      {9999999.96, 7, "1E7"},
      {10000000, 7, "1E7"},
      {-0.00001, 7, "-1E-5"},
      {1E-300, 7, "1E-300"},
      {1.5E-6, 7, "1.5E-6"},
      {1.7976931348623157e308, 7, "1.797693E308"},
      {0, 7, "0"},
      {-0.0, 7, "0"},
      {inf, 7, "INF"},
      {-inf, 7, "INF"},
      {std::nan(""), 7, "NAN"},
      {123456, 5, "1.2346E5"},
      {12345, 5, "12345"},
      {0.5, 5, "0.5"},
      {1.5, 5, "1.5"},
      {2000, 5, "2000"},
      {100, 7, "100"},
      {0.1, 7, "0.1"},
      {1.0 / 3.0, 7, "0.3333333"},
      {-1234567.8, 7, "-1234568"},
  };
  for (const FormatCase& c : cases)
    EXPECT_EQ(formatDataNumber(c.value, c.digits), c.text) << c.value << " p=" << c.digits;
}

struct ParseCase {
  const char* text;
  bool ok;
  double value;
};

TEST(ParseDataValue, Grammar) {
  const ParseCase cases[] = {
      {"1", true, 1},
      {" 1", true, 1},
      {"   -1.5", true, -1.5},
      {"+2", true, 2},
      {".", true, 0},
      {"5.", true, 5},
      {".5", true, 0.5},
      {"1e5", true, 1e5},
      {"1E-2", true, 0.01},
      {"1e", true, 1},
      {"1e+", true, 1},
      {"2 ", true, 2},
      {"1e-400", true, 0},
      {"2\t", false, 0},
      {"\t2", false, 0},
      {"1,5", false, 0},
      {"", false, 0},
      {" ", false, 0},
      {"+", false, 0},
      {"-", false, 0},
      {"e5", false, 0},
      {"1e400", false, 0},
      {"1.2.3", false, 0},
      {"--1", false, 0},
      {"0x10", false, 0},
      {"1 2", false, 0},
      {"abc", false, 0},
      {"-.e5", true, 0},
      {"1e5e5", false, 0},
      {"3-4", false, 0},
      {"0.1000000000000000055511151231257827", true, 0.1},
      {"123456789012345678901234567890", true, 1.2345678901234568e29},
      {"4.9406564584124654e-324", true, 4.9406564584124654e-324},
      {"1.7976931348623157e308", true, 1.7976931348623157e308},
  };
  for (const ParseCase& c : cases) {
    auto v = parseDataValue(c.text);
    EXPECT_EQ(v.has_value(), c.ok) << '"' << c.text << '"';
    if (v && c.ok) {
      EXPECT_EQ(*v, c.value) << c.text;
    }
  }
}

TEST(ParseDataValue, MatchesCorrectRoundingOnRandomText) {
  std::mt19937_64 rng(42);
  std::uniform_int_distribution<int> digit(0, 9), len(1, 20), exp(-30, 30);
  for (int i = 0; i < 20000; ++i) {
    std::string s = rng() % 2 ? "-" : "";
    const int intLen = len(rng) % 8;
    for (int k = 0; k < intLen; ++k) s += char('0' + digit(rng));
    s += '.';
    const int fracLen = len(rng);
    for (int k = 0; k < fracLen; ++k) s += char('0' + digit(rng));
    if (rng() % 2) s += "e" + std::to_string(exp(rng));
    double expected = 0;
    std::from_chars(s.data(), s.data() + s.size(), expected);
    auto v = parseDataValue(s);
    ASSERT_TRUE(v.has_value()) << s;
    EXPECT_EQ(*v, expected) << s;
  }
}

TEST(NumberText, StrictForm) {
  const char* numbers[] = {"2", "-2.5", ".5", "1e5", "1E-5", "5.e3", "e5", " 5", "+1", "0"};
  const char* nonNumbers[] = {"5.", ".", "-", "1e", "2 ", "   ", "", "1e+", "x", "1,5", "2e5x"};
  for (const char* t : numbers) EXPECT_TRUE(isNumberText(t)) << '"' << t << '"';
  for (const char* t : nonNumbers) EXPECT_FALSE(isNumberText(t)) << '"' << t << '"';
  EXPECT_EQ(*readNumber("e5"), 0);
  EXPECT_EQ(*readNumber("5.e3"), 5000);
  EXPECT_EQ(*readNumber(" -2.5"), -2.5);
  EXPECT_EQ(*readNumber("1e-400"), 0);
  EXPECT_FALSE(readNumber("1e").has_value());
  EXPECT_THROW(readNumber("1e999"), Error);
}

TEST(NumberText, LeadingNumber) {
  const std::pair<const char*, double> cases[] = {
      {"12x", 12},     {"", 0},   {"x", 0},         {"1.5.3", 1.5}, {"1e", 1}, {"-", 0},
      {"3e2abc", 300}, {" 7", 7}, {"-4.25", -4.25}, {".5", 0.5},    {"5.", 5}, {"2 3", 2},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(readLeadingNumber(text), value) << text;
}

TEST(NumberText, ShortestAndDigits) {
  EXPECT_EQ(formatShortest(0.1), "0.1");
  EXPECT_EQ(formatShortest(-2), "-2");
  EXPECT_EQ(formatShortest(1e300), "1e+300");
  EXPECT_EQ(formatShortest(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(formatShortest(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(formatShortest(-std::nan("")), "nan");
  EXPECT_EQ(digitsOf("T300K_2.dat"), "3002");
  EXPECT_EQ(digitsOf("a10b.dat"), "10");
  EXPECT_EQ(digitsOf("x.dat"), "");
}

TEST(FormatDataNumber, ReadsBackAsSevenSignificantDigits) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mant(-10, 10);
  std::uniform_int_distribution<int> exp(-300, 300);
  for (int i = 0; i < 20000; ++i) {
    const double v = mant(rng) * std::pow(10.0, exp(rng));
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 6);
    double rounded = 0;
    std::from_chars(buf, r.ptr, rounded);
    auto back = parseDataValue(formatDataNumber(v, 7));
    ASSERT_TRUE(back.has_value()) << v;
    EXPECT_EQ(*back, rounded) << v << " " << formatDataNumber(v, 7);
  }
}

/// The C library's "%.7G" with the exponent spelled as data files spell it:
/// an independent reference for the writer's own formatting.
std::string printfSevenDigits(double v) {
  if (v == 0) return "0";
  if (std::isinf(v)) return "INF";
  if (std::isnan(v)) return "NAN";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.7G", v);
  std::string s(buf);
  // The tests also run under a locale with a decimal comma.
  std::replace(s.begin(), s.end(), ',', '.');
  const std::size_t e = s.find('E');
  if (e == std::string::npos) return s;
  std::string mantissa = s.substr(0, e + 1);
  std::size_t q = e + 1;
  if (s[q] == '-') mantissa += '-';
  if (s[q] == '+' || s[q] == '-') ++q;
  while (q + 1 < s.size() && s[q] == '0') ++q;
  return mantissa + s.substr(q);
}

TEST(FormatDataNumber, SevenDigitsMatchTheLibraryOnTenMillionValues) {
  std::mt19937_64 rng(2026);
  std::uniform_real_distribution<double> mantissa(1, 10);
  std::uniform_int_distribution<int> exponent(-24, 32);
  std::uniform_int_distribution<int> digits(1, 7);
  std::size_t mismatches = 0;
  auto check = [&](double v) {
    const std::string ours = formatDataNumber(v, 7);
    const std::string reference = printfSevenDigits(v);
    if (ours != reference && ++mismatches <= 10)
      ADD_FAILURE() << std::hexfloat << v << ": " << ours << " vs " << reference;
  };
  for (int i = 0; i < 10'000'000; ++i) {
    double v = 0;
    switch (i % 4) {
      case 0:  // any bit pattern: every exponent, subnormals, NaN and infinities
        v = std::bit_cast<double>(rng());
        break;
      case 1:  // values an instrument writes, over the whole fast range
        v = mantissa(rng) * std::pow(10.0, exponent(rng));
        break;
      case 2: {  // short decimals such as 1.5 or 0.00125: exact and near ties
        const double scale = std::pow(10.0, digits(rng));
        v = std::round(mantissa(rng) * scale) / scale * std::pow(10.0, exponent(rng) / 4);
        break;
      }
      default:  // next to a decimal boundary
        v = std::nextafter(std::pow(10.0, exponent(rng)), (rng() & 1) ? 0.0 : 1e300);
        break;
    }
    if (rng() & 1) v = -v;
    check(v);
  }
  for (double v : {9999999.5,
                   9999999.4999999,
                   9999998.5,
                   999999.95,
                   99999.995,
                   0.0001,
                   0.00009999999,
                   0.000099999995,
                   1e-5,
                   1e-4,
                   1e6,
                   1e7,
                   1234567.5,
                   1234568.5,
                   0.5,
                   1.5,
                   2.5,
                   0.125,
                   4503599627370495.5,
                   1e22,
                   1e23,
                   1e-16,
                   1e-17,
                   123456.75,
                   5e-324,
                   1.7976931348623157e308})
    for (double s : {1.0, -1.0}) check(s * v);
  EXPECT_EQ(mismatches, 0U);
}

}  // namespace
}  // namespace varnix
