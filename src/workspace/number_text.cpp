#include "workspace/number_text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "workspace/float_faults.h"

namespace varnix {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

struct DecimalParts {
  bool negative = false;
  std::string_view intDigits;
  std::string_view fracDigits;
  bool expNegative = false;
  std::string_view expDigits;
};

/// The decimal value of the parts rounded to 64 bits; nullopt on overflow.
std::optional<double> decimalValue(const DecimalParts& d) {
  const double zero = d.negative ? -0.0 : 0.0;
  // Position of the first significant digit relative to the decimal point.
  std::size_t firstInt = d.intDigits.find_first_not_of('0');
  long long lead = 0;
  if (firstInt != std::string_view::npos) {
    lead = static_cast<long long>(d.intDigits.size() - firstInt);
  } else {
    std::size_t firstFrac = d.fracDigits.find_first_not_of('0');
    if (firstFrac == std::string_view::npos) return zero;
    lead = -static_cast<long long>(firstFrac);
  }
  long long exponent = 0;
  for (char c : d.expDigits) {
    exponent = exponent * 10 + (c - '0');
    if (exponent > 1000000) break;
  }
  if (d.expNegative) exponent = -exponent;
  const long long magnitude = lead + exponent;
  if (magnitude > 400) return std::nullopt;
  if (magnitude < -400) return zero;

  std::string text;
  text.reserve(d.intDigits.size() + d.fracDigits.size() + 16);
  if (d.negative) text += '-';
  text += d.intDigits.empty() ? std::string_view("0") : d.intDigits;
  if (!d.fracDigits.empty()) {
    text += '.';
    text += d.fracDigits;
  }
  text += 'e';
  text += std::to_string(exponent);
  double value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) {
    if (magnitude > 0) return std::nullopt;
    return zero;
  }
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  if (std::isinf(value)) return std::nullopt;
  return value;
}

std::size_t skipSpaces(std::string_view t, std::size_t i) {
  while (i < t.size() && t[i] == ' ') ++i;
  return i;
}

std::size_t skipDigits(std::string_view t, std::size_t i) {
  while (i < t.size() && isDigit(t[i])) ++i;
  return i;
}

/// Scans the longest prefix in the strict form; `any` tells whether the
/// prefix holds a digit or an exponent (otherwise there is no number).
struct StrictScan {
  DecimalParts parts;
  bool any = false;
};

StrictScan scanStrict(std::string_view t) {
  StrictScan s;
  std::size_t i = skipSpaces(t, 0);
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    s.parts.negative = t[i] == '-';
    ++i;
  }
  const std::size_t bodyStart = i;
  std::size_t j = skipDigits(t, i);
  s.parts.intDigits = t.substr(i, j - i);
  i = j;
  if (i > bodyStart) s.any = true;
  if (i < t.size() && t[i] == '.' && i + 1 < t.size()) {
    j = skipDigits(t, i + 1);
    s.parts.fracDigits = t.substr(i + 1, j - i - 1);
    if (j > i + 1) s.any = true;
    i = j;
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    std::size_t k = i + 1;
    bool neg = false;
    if (k < t.size() && (t[k] == '+' || t[k] == '-')) {
      neg = t[k] == '-';
      ++k;
    }
    j = skipDigits(t, k);
    if (j > k) {
      s.parts.expNegative = neg;
      s.parts.expDigits = t.substr(k, j - k);
      s.any = true;
    }
  }
  return s;
}

constexpr double kPowersOf10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

const char* scanDataNumber(const char* p, const char* end, double& out) {
  DecimalParts d;
  if (p < end && (*p == '+' || *p == '-')) {
    d.negative = *p == '-';
    ++p;
  }
  const char* const mantissa = p;
  std::uint64_t w = 0;
  int digits = 0;  // significant digits taken into w
  // Takes the digits at p into w (leading zeros do not count) and returns them.
  auto takeDigits = [&] {
    const char* q = p;
    while (q < end && isDigit(*q)) {
      if (digits > 0 || *q != '0') {
        w = w * 10 + static_cast<std::uint64_t>(*q - '0');
        ++digits;
      }
      ++q;
    }
    std::string_view taken(p, static_cast<std::size_t>(q - p));
    p = q;
    return taken;
  };
  d.intDigits = takeDigits();
  if (p < end && *p == '.') {
    ++p;
    d.fracDigits = takeDigits();
  }
  if (p == mantissa) return nullptr;
  int exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p < end && (*p == '+' || *p == '-')) {
      d.expNegative = *p == '-';
      ++p;
    }
    const char* q = p;
    while (q < end && isDigit(*q)) {
      if (exponent < 100000) exponent = exponent * 10 + (*q - '0');
      ++q;
    }
    d.expDigits = std::string_view(p, static_cast<std::size_t>(q - p));
    p = q;
  }
  // Clinger's fast path: a mantissa below 2^53 scaled by at most 10^22 is
  // exact on both sides, so one correctly rounded operation is exact.
  const int scale = (d.expNegative ? -exponent : exponent) - static_cast<int>(d.fracDigits.size());
  if (digits <= 18 && w < (std::uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
    double v = static_cast<double>(w);
    v = scale >= 0 ? v * kPowersOf10[scale] : v / kPowersOf10[-scale];
    out = d.negative ? -v : v;
    return p;
  }
  std::optional<double> v = decimalValue(d);
  if (!v) return nullptr;
  out = *v;
  return p;
}

std::optional<double> parseDataValue(std::string_view t) {
  const char* p = t.data();
  const char* const end = p + t.size();
  while (p < end && *p == ' ') ++p;
  double v = 0;
  p = scanDataNumber(p, end, v);
  if (!p) return std::nullopt;
  while (p < end && *p == ' ') ++p;
  if (p != end) return std::nullopt;
  return v;
}

bool isNumberText(std::string_view t) {
  std::size_t i = skipSpaces(t, 0);
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  if (i == t.size()) return false;
  i = skipDigits(t, i);
  if (i < t.size() && t[i] == '.') {
    if (i + 1 >= t.size()) return false;
    i = skipDigits(t, i + 1);
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    const std::size_t digitsStart = i;
    i = skipDigits(t, i);
    if (i == digitsStart) return false;
  }
  return i == t.size();
}

double numberTextValue(std::string_view t) {
  StrictScan s = scanStrict(t);
  auto v = decimalValue(s.parts);
  if (!v) throwFloatFault(FloatFault::Overflow);
  return *v;
}

std::optional<double> readNumber(std::string_view t) {
  if (!isNumberText(t)) return std::nullopt;
  return numberTextValue(t);
}

std::optional<double> readFieldNumber(std::string_view t) {
  if (!isNumberText(t)) return std::nullopt;
  return decimalValue(scanStrict(t).parts);
}

double readLeadingNumber(std::string_view t) {
  StrictScan s = scanStrict(t);
  if (!s.any) return 0.0;
  auto v = decimalValue(s.parts);
  if (!v) throwFloatFault(FloatFault::Overflow);
  return *v;
}

namespace {

/// The general format of std::to_chars with p digits, with the exponent
/// spelled "E7" or "E-5".
char* formatWithLibrary(char* out, double v, int p) {
  // The general format picks the fixed form exactly for -4 <= exponent < p
  // and drops trailing zeros; only the exponent's spelling differs ("e+07"
  // becomes "E7", "e-05" becomes "E-5").
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, p);
  char* e = std::find(buf, res.ptr, 'e');
  out = std::copy(buf, e, out);
  if (e == res.ptr) return out;
  *out++ = 'E';
  const char* q = e + 1;
  if (*q == '-') *out++ = '-';
  if (*q == '+' || *q == '-') ++q;
  while (q + 1 < res.ptr && *q == '0') ++q;
  return std::copy(q, static_cast<const char*>(res.ptr), out);
}

constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kLargestExactPower = 22;

/// Seven significant digits without the library: a * 10^(6 - e) is one
/// correctly rounded multiplication or division by an exact power of ten, so
/// it lies within 2e-9 of the exact scaled value. Where that is too close to a
/// rounding tie or to a power of ten to decide, nullptr: the caller asks the
/// library, which rounds the exact binary value.
char* formatSevenDigits(char* out, double v) {
  const double a = std::fabs(v);
  // The binary exponent as frexp gives it, read from the bits; a subnormal
  // number, taken for one near 1e-308, needs a power of ten beyond the exact
  // ones and goes to the library below.
  const int binaryExponent = static_cast<int>(std::bit_cast<std::uint64_t>(a) >> 52) - 1022;
  // floor(log10(a)) or one less.
  int e = ((binaryExponent - 1) * 78913) >> 18;
  double r = 0;
  for (int tries = 0;; ++tries) {
    if (tries == 3) return nullptr;
    const int k = 6 - e;
    if (k > kLargestExactPower || -k > kLargestExactPower) return nullptr;
    r = k >= 0 ? a * kExactPowersOfTen[k] : a / kExactPowersOfTen[-k];
    if (r < 1e6)
      --e;
    else if (r >= 1e7)
      ++e;
    else
      break;
  }
  constexpr double kMargin = 1e-6;
  if (r - 1e6 < kMargin || 1e7 - r < kMargin) return nullptr;
  // r is positive: truncation is its floor.
  auto m = static_cast<std::uint32_t>(r);
  const double fraction = r - static_cast<double>(m);
  if (std::fabs(fraction - 0.5) < kMargin) return nullptr;
  m += fraction > 0.5 ? 1U : 0U;
  if (m == 10000000U) {
    m = 1000000U;
    ++e;
  }
  // Two halves, whose digits do not wait for each other.
  const std::uint32_t high = m / 10000, low = m % 10000;
  const std::uint32_t values[7] = {high / 100,     high / 10 % 10, high % 10, low / 1000,
                                   low / 100 % 10, low / 10 % 10,  low % 10};
  char digits[7];
  for (int i = 0; i < 7; ++i) digits[i] = static_cast<char>('0' + values[i]);
  int last = 6;  // the last digit kept: trailing zeros are dropped
  while (last > 0 && digits[last] == '0') --last;
  if (v < 0) *out++ = '-';
  // All seven digits are stored every time (out has room for them) and the
  // end put after the last one kept: no copies of varying length.
  if (e >= 0 && e < 7) {
    for (int i = 0; i < 7; ++i) out[i + (i > e ? 1 : 0)] = digits[i];
    out[e + 1] = '.';
    return out + (last > e ? last + 2 : e + 1);
  }
  if (e < 0 && e >= -4) {
    for (int i = 0; i < 5; ++i) out[i] = i == 1 ? '.' : '0';
    out += 1 - e;
    for (int i = 0; i < 7; ++i) out[i] = digits[i];
    return out + last + 1;
  }
  out[0] = digits[0];
  out[1] = '.';
  for (int i = 1; i < 7; ++i) out[i + 1] = digits[i];
  out += last > 0 ? last + 2 : 1;
  *out++ = 'E';
  if (e < 0) *out++ = '-';
  const int magnitude = std::abs(e);
  if (magnitude >= 10) *out++ = static_cast<char>('0' + magnitude / 10);
  *out++ = static_cast<char>('0' + magnitude % 10);
  return out;
}

}  // namespace

char* formatDataNumberTo(char* out, double v, int p) {
  if (v == 0) {
    *out++ = '0';
    return out;
  }
  if (std::isinf(v)) return std::copy_n("INF", 3, out);
  if (std::isnan(v)) return std::copy_n("NAN", 3, out);
  if (p < 1) p = 1;
  if (p == 7)
    if (char* end = formatSevenDigits(out, v)) return end;
  return formatWithLibrary(out, v, p);
}

std::string formatDataNumber(double v, int p) {
  char buf[64];
  return std::string(buf, formatDataNumberTo(buf, v, p));
}

std::string formatShortest(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

std::string digitsOf(std::string_view name) {
  std::string out;
  for (char c : name)
    if (isDigit(c)) out += c;
  return out;
}

}  // namespace varnix
