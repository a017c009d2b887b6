#include "processing/series_parameter.h"

#include "workspace/error.h"
#include "workspace/number_text.h"

namespace varnix {

SeriesParameter::SeriesParameter(const std::string& pattern) : m_pattern(pattern) {
  if (pattern.empty() || pattern == kDigits) return;
  const std::string refusal =
      "Parameter from name: " + pattern + " is not a regular expression with one capture group";
  try {
    m_regex.emplace(pattern, std::regex::ECMAScript);
  } catch (const std::regex_error&) {
    throw Error(refusal);
  }
  if (m_regex->mark_count() != 1) throw Error(refusal);
}

std::string SeriesParameter::valueOf(const std::string& name) const {
  if (!m_regex) return digitsOf(name);
  std::smatch m;
  if (std::regex_search(name, m, *m_regex) && m[1].matched) {
    std::string text = m[1].str();
    if (readNumber(text)) return text;
  }
  throw Error("Parameter from name: " + m_pattern + " does not give a number for " + name);
}

std::vector<std::string> SeriesParameter::valuesOf(const std::vector<std::string>& names) const {
  std::vector<std::string> out;
  out.reserve(names.size());
  for (const std::string& n : names) out.push_back(valueOf(n));
  return out;
}

}  // namespace varnix
