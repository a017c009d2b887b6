#pragma once

#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace varnix {

/// "Parameter from name": how the series parameter (the Value of a graph in
/// the moments table, the moment files and the slices) is read from its name.
/// "digits" (the default) takes every digit of the name in order; any other
/// text is a regular expression with one capture group (`T(\d+)K`,
/// `Time_(\d+)`) whose captured text must be a number.
class SeriesParameter {
 public:
  static constexpr const char* kDigits = "digits";

  /// Throws Error "Parameter from name: <pattern> is not a regular expression
  /// with one capture group" for a pattern that is no such expression.
  explicit SeriesParameter(const std::string& pattern = kDigits);

  /// The Value text of a name. Throws Error "Parameter from name: <pattern>
  /// does not give a number for <name>" when the name does not match or the
  /// capture is no number.
  std::string valueOf(const std::string& name) const;
  /// The values of all names, checked before any is used.
  std::vector<std::string> valuesOf(const std::vector<std::string>& names) const;

  bool isDigits() const { return !m_regex; }

 private:
  std::string m_pattern;
  std::optional<std::regex> m_regex;
};

}  // namespace varnix
