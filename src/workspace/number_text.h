#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varnix {

/// Converts one field of a data file: leading and trailing spaces (not tabs),
/// optional sign, a mantissa of at least one character (a lone "." is 0),
/// an optional exponent whose digits may be missing. nullopt when the text
/// does not convert, also for a value beyond the 64-bit range.
std::optional<double> parseDataValue(std::string_view text);

/// Reads one data-file number (sign, mantissa, exponent; no spaces) starting
/// at p; returns where it ends, or nullptr when it does not convert.
const char* scanDataNumber(const char* p, const char* end, double& out);

/// The strict number form of formulas and dialog fields: leading spaces,
/// optional sign, digits, optional "." that must be followed by a character,
/// optional exponent with at least one digit, nothing after it. "e5" is a
/// number (0); "5.", ".", "-", "1e", "2 " and "" are not.
bool isNumberText(std::string_view text);

/// Value of a text for which isNumberText holds. Throws the overflow error
/// for a value beyond the 64-bit range; tiny values underflow to 0.
double numberTextValue(std::string_view text);

/// isNumberText and numberTextValue in one: nullopt when the text is no number.
std::optional<double> readNumber(std::string_view text);

/// A number typed in a field: nullopt when the text is no number or its value
/// is beyond the 64-bit range, so that the field's own message can say so.
std::optional<double> readFieldNumber(std::string_view text);

/// Reads a number up to the first character that does not fit one; a text
/// without a leading number (also the empty text) reads as 0 ("12x" is 12).
double readLeadingNumber(std::string_view text);

/// The general format with p significant digits: "0", "INF", "NAN", fixed
/// form for 1e-4 <= |v| < 10^p after rounding, otherwise d.dddE-x.
std::string formatDataNumber(double v, int p = 7);
/// formatDataNumber into out (at least 32 characters); returns the end.
char* formatDataNumberTo(char* out, double v, int p = 7);

/// The shortest text that reads back as the same double; inf, -inf, nan.
std::string formatShortest(double v);

/// The digits '0'..'9' of a text, in order (the Value of a graph name).
std::string digitsOf(std::string_view name);

}  // namespace varnix
