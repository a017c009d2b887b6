#include "import/import_settings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

#include "workspace/number_text.h"

namespace varnix {

namespace {

struct Named {
  const char* word;
  char value;
};
constexpr std::array<Named, 4> kSeparators = {
    {{"tab", '\t'}, {"semicolon", ';'}, {"comma", ','}, {"blanks", ' '}}};
constexpr std::array<Named, 2> kDecimals = {{{"point", '.'}, {"comma", ','}}};

struct NamedLayout {
  const char* word;
  ImportLayout value;
};
constexpr std::array<NamedLayout, 6> kLayouts = {
    {{"first-column-x", ImportLayout::FirstColumnX},
     {"column-pairs", ImportLayout::ColumnPairs},
     {"spectrum-per-row", ImportLayout::SpectrumPerRow},
     {"stacked-scans", ImportLayout::StackedScans},
     {"start-step", ImportLayout::StartStep},
     {"alternate-lines", ImportLayout::AlternateLines}}};

constexpr std::array<const char*, 11> kKeys = {"separator", "decimal", "skip",    "header",
                                               "layout",    "x",       "columns", "rows",
                                               "labels",    "start",   "step"};

/// Counts are at most this: a file has no more lines or columns than that.
constexpr std::size_t kLargest = 1'000'000'000;

/// A whole number of decimal digits only, at most kLargest.
std::optional<std::size_t> wholeNumber(std::string_view s) {
  if (s.empty() || s.size() > 10 ||
      !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  std::size_t n = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
  if (ec != std::errc() || end != s.data() + s.size() || n > kLargest) return std::nullopt;
  return n;
}

std::optional<std::vector<std::size_t>> columnList(std::string_view s) {
  std::vector<std::size_t> out;
  while (true) {
    const std::size_t comma = s.find(',');
    const std::string_view item = s.substr(0, comma);
    const std::size_t dash = item.find('-');
    const auto first = wholeNumber(item.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : wholeNumber(item.substr(dash + 1));
    if (!first || !last || *first == 0 || *last < *first || *last - *first >= 100000 ||
        out.size() + (*last - *first) >= 100000)
      return std::nullopt;
    for (std::size_t c = *first; c <= *last; ++c) out.push_back(c);
    if (comma == std::string_view::npos) return out;
    s.remove_prefix(comma + 1);
  }
}

std::optional<RowRange> rowRange(std::string_view s) {
  const std::size_t c1 = s.find(':');
  if (c1 == std::string_view::npos) return std::nullopt;
  const std::size_t c2 = s.find(':', c1 + 1);
  RowRange r;
  const auto from = wholeNumber(s.substr(0, c1));
  const std::string_view toText =
      s.substr(c1 + 1, c2 == std::string_view::npos ? std::string_view::npos : c2 - c1 - 1);
  const auto to = toText.empty() ? std::optional<std::size_t>(0) : wholeNumber(toText);
  const auto step =
      c2 == std::string_view::npos ? std::optional<std::size_t>(1) : wholeNumber(s.substr(c2 + 1));
  if (!from || !to || !step || *from == 0 || *step == 0 || (*to != 0 && *to < *from))
    return std::nullopt;
  r.from = *from;
  r.to = *to;
  r.step = *step;
  return r;
}

template <typename Table>
auto lookUp(const Table& table, std::string_view word) -> std::optional<decltype(table[0].value)> {
  for (const auto& entry : table)
    if (word == entry.word) return entry.value;
  return std::nullopt;
}

template <typename Table, typename V>
std::string nameOf(const Table& table, V value) {
  for (const auto& entry : table)
    if (entry.value == value) return entry.word;
  return {};
}

std::string number(std::size_t n) {
  return std::to_string(n);
}

/// A finite decimal number ("-12.5", "1e-3").
std::optional<double> finiteNumber(std::string_view s) {
  double v = 0;
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v))
    return std::nullopt;
  return v;
}

}  // namespace

std::vector<std::string> importSettingWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

bool isImportSettingWord(std::string_view word) {
  const std::size_t eq = word.find('=');
  if (eq == 0 || eq == std::string_view::npos) return false;
  return std::all_of(word.begin(), word.begin() + static_cast<std::ptrdiff_t>(eq),
                     [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; });
}

std::optional<ImportSettings> parseImportSettings(const std::vector<std::string>& words,
                                                  std::string& error) {
  ImportSettings s;
  std::vector<std::string_view> seen;
  for (const std::string& word : words) {
    const std::size_t eq = word.find('=');
    const std::string_view key = std::string_view(word).substr(0, eq);
    const std::string_view value =
        eq == std::string::npos ? std::string_view() : std::string_view(word).substr(eq + 1);
    if (eq == std::string::npos || std::find(kKeys.begin(), kKeys.end(), key) == kKeys.end()) {
      error = "unknown import setting \"" + word +
              "\" (the keys are separator, decimal, skip, header, layout, x, columns, rows, "
              "labels, start and step)";
      return std::nullopt;
    }
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
      error = "import setting \"" + word + "\" repeats its key";
      return std::nullopt;
    }
    seen.push_back(key);
    if (value == "auto") continue;
    std::string expected;
    if (key == "separator") {
      s.separator = lookUp(kSeparators, value);
      if (!s.separator) expected = "tab, semicolon, comma, blanks or auto";
    } else if (key == "decimal") {
      s.decimal = lookUp(kDecimals, value);
      if (!s.decimal) expected = "point, comma or auto";
    } else if (key == "skip") {
      s.skipLines = wholeNumber(value);
      if (!s.skipLines) expected = "a number of lines or auto";
    } else if (key == "header") {
      s.headerRow = value == "none" ? std::optional<std::size_t>(0) : wholeNumber(value);
      if (!s.headerRow || (value != "none" && *s.headerRow == 0))
        expected = "a line number from 1, none or auto";
    } else if (key == "layout") {
      s.layout = lookUp(kLayouts, value);
      if (!s.layout)
        expected =
            "first-column-x, column-pairs, spectrum-per-row, stacked-scans, start-step, "
            "alternate-lines or auto";
    } else if (key == "x") {
      s.xColumn = value == "none" ? std::optional<std::size_t>(0) : wholeNumber(value);
      if (!s.xColumn || (value != "none" && *s.xColumn == 0))
        expected = "a column number from 1, none or auto";
    } else if (key == "columns") {
      s.columns = columnList(value);
      if (!s.columns) expected = "column numbers from 1 such as 2,4-6, or auto";
    } else if (key == "labels") {
      s.labels = wholeNumber(value);
      if (!s.labels || *s.labels > 1000) expected = "a number of columns (0 to 1000) or auto";
    } else if (key == "start" || key == "step") {
      std::optional<double>& field = key == "start" ? s.start : s.step;
      field = finiteNumber(value);
      if (!field || (key == "step" && *field == 0))
        expected = key == "start" ? "a number or auto" : "a number other than 0, or auto";
    } else {
      s.rows = rowRange(value);
      if (!s.rows)
        expected = "FROM:TO or FROM:TO:STEP (rows from 1, TO empty for the last), or auto";
    }
    if (!expected.empty()) {
      error = "import setting \"" + word;
      error.append("\": the value should be ").append(expected);
      return std::nullopt;
    }
  }
  return s;
}

std::vector<std::string> formatImportSettings(const ImportSettings& s) {
  std::vector<std::string> words;
  if (s.separator) words.push_back("separator=" + nameOf(kSeparators, *s.separator));
  if (s.decimal) words.push_back("decimal=" + nameOf(kDecimals, *s.decimal));
  if (s.skipLines) words.push_back("skip=" + number(*s.skipLines));
  if (s.headerRow) words.push_back("header=" + (*s.headerRow ? number(*s.headerRow) : "none"));
  if (s.layout) words.push_back("layout=" + nameOf(kLayouts, *s.layout));
  if (s.xColumn) words.push_back("x=" + (*s.xColumn ? number(*s.xColumn) : "none"));
  if (s.columns) {
    // Runs of consecutive columns as FIRST-LAST.
    std::string list;
    const std::vector<std::size_t>& c = *s.columns;
    for (std::size_t i = 0; i < c.size();) {
      std::size_t j = i;
      while (j + 1 < c.size() && c[j + 1] == c[j] + 1) ++j;
      list += (list.empty() ? "" : ",") + number(c[i]) + (j > i ? "-" + number(c[j]) : "");
      i = j + 1;
    }
    words.push_back("columns=" + list);
  }
  if (s.rows)
    words.push_back("rows=" + number(s.rows->from) + ":" +
                    (s.rows->to ? number(s.rows->to) : std::string()) +
                    (s.rows->step != 1 ? ":" + number(s.rows->step) : std::string()));
  if (s.labels) words.push_back("labels=" + number(*s.labels));
  if (s.start) words.push_back("start=" + formatShortest(*s.start));
  if (s.step) words.push_back("step=" + formatShortest(*s.step));
  return words;
}

std::string importSettingsHelp() {
  return "separator=tab|semicolon|comma|blanks, decimal=point|comma, skip=LINES, "
         "header=LINE|none (the column titles), "
         "layout=first-column-x|column-pairs|spectrum-per-row|stacked-scans|start-step|"
         "alternate-lines, x=COLUMN|none, columns=2,4-6 (the y columns), rows=FROM:TO[:STEP] (TO "
         "empty: to the last), labels=N (label columns before the numbers), start=X step=DX (x of "
         "start-step); auto for any of them is the "
         "guess";
}

}  // namespace varnix
