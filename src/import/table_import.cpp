#include <algorithm>
#include <array>
#include <charconv>
#include <map>

#include "import/import_result.h"

namespace varnix {

namespace {

/// How the fields of a line are separated; kBlanks: runs of blanks and tabs.
constexpr char kBlanks = ' ';

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

/// Splits a line into fields, trimmed of blanks and of the quotes around a
/// quoted field (in which the separator does not count). Empty fields after
/// the last value (a trailing separator) are dropped.
void splitFields(std::string_view line, char separator, std::vector<std::string_view>& fields) {
  fields.clear();
  line = trimBlanks(line);
  if (separator == kBlanks) {
    std::size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      const std::size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
      if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return;
  }
  std::size_t i = 0;
  while (i <= line.size()) {
    std::size_t start = i;
    while (start < line.size() && line[start] == ' ') ++start;
    std::size_t end = start;
    if (start < line.size() && line[start] == '"') {
      // A quoted field runs to its closing quote ("" is a quote inside).
      end = start + 1;
      while (end < line.size() &&
             !(line[end] == '"' && (end + 1 >= line.size() || line[end + 1] != '"'))) {
        end += line[end] == '"' ? 2 : 1;
      }
      fields.push_back(line.substr(start + 1, std::min(end, line.size()) - start - 1));
      i = line.find(separator, std::min(end, line.size()));
    } else {
      i = line.find(separator, start);
      fields.push_back(trimBlanks(line.substr(start, i == std::string_view::npos ? i : i - start)));
    }
    if (i == std::string_view::npos) break;
    ++i;
  }
  while (!fields.empty() && fields.back().empty()) fields.pop_back();
}

/// One number with '.' or ',' as the decimal mark: optional sign, digits,
/// decimal mark, exponent; also inf and nan. The other mark makes it no
/// number.
bool parseNumber(std::string_view field, char decimal, double& out) {
  field = trimBlanks(field);
  if (field.empty() || field.size() > 60) return false;
  char buffer[64];
  std::size_t n = 0;
  std::size_t i = 0;
  if (field[0] == '+') i = 1;
  const char other = decimal == '.' ? ',' : '.';
  for (; i < field.size(); ++i) {
    const char c = field[i];
    if (c == other) return false;
    buffer[n++] = c == decimal ? '.' : c;
  }
  if (n == 0 || (buffer[0] == '-' && n == 1)) return false;
  const auto [end, error] = std::from_chars(buffer, buffer + n, out);
  return error == std::errc() && end == buffer + n;
}

enum class FieldState { Missing, Number, Text };

FieldState readField(std::string_view field, char decimal, double& out) {
  if (trimBlanks(field).empty()) return FieldState::Missing;
  return parseNumber(field, decimal, out) ? FieldState::Number : FieldState::Text;
}

/// Wide rows with a title in front of their numbers ("Spec 1", values...).
constexpr std::size_t kWideFields = 20;

struct Choice {
  char separator = kBlanks;
  char decimal = '.';
};

/// Rows of at least two numbers, and rows of one number, that a separator
/// and decimal mark make of the sample lines.
struct Score {
  std::size_t wide = 0, single = 0;
  bool operator>(const Score& o) const {
    return wide != o.wide ? wide > o.wide : single > o.single;
  }
};

Score score(const std::vector<std::string_view>& sample, Choice c) {
  Score s;
  std::vector<std::string_view> fields;
  for (std::string_view line : sample) {
    splitFields(line, c.separator, fields);
    if (fields.empty()) continue;
    bool numbers = true;
    std::size_t values = 0;
    for (std::string_view f : fields) {
      double v = 0;
      const FieldState st = readField(f, c.decimal, v);
      if (st == FieldState::Text) {
        numbers = false;
        break;
      }
      values += st == FieldState::Number ? 1 : 0;
    }
    if (!numbers) {
      // A wide row with a title in front still reads as a row of numbers.
      bool titled = fields.size() >= kWideFields;
      for (std::size_t k = 1; k < fields.size() && titled; ++k) {
        double v = 0;
        titled = readField(fields[k], c.decimal, v) == FieldState::Number;
      }
      if (titled) ++s.wide;
      continue;
    }
    if (values == 0) continue;
    if (fields.size() >= 2)
      ++s.wide;
    else
      ++s.single;
  }
  return s;
}

/// The separator and decimal mark that read the most sample lines as rows of
/// numbers: tab, semicolon, comma, then blanks, the first of equals winning.
/// A comma separates fields (its decimal mark is the point) unless another
/// separator reads as many rows; with tab, semicolon and blanks the decimal
/// mark is the comma when that reads more rows than the point.
Choice chooseLayout(const std::vector<std::string_view>& sample) {
  constexpr std::array<Choice, 7> kChoices = {{{'\t', '.'},
                                               {'\t', ','},
                                               {';', '.'},
                                               {';', ','},
                                               {',', '.'},
                                               {kBlanks, '.'},
                                               {kBlanks, ','}}};
  Choice best = kChoices[0];
  Score bestScore = score(sample, best);
  for (std::size_t k = 1; k < kChoices.size(); ++k) {
    const Score s = score(sample, kChoices[k]);
    if (s > bestScore) {
      best = kChoices[k];
      bestScore = s;
    }
  }
  return best;
}

std::string separatorName(char separator) {
  switch (separator) {
    case '\t':
      return "tab";
    case ';':
      return "semicolon";
    case ',':
      return "comma";
    default:
      return "blanks";
  }
}

enum class RowKind { Blank, Numbers, Labelled, Text };

struct Row {
  RowKind kind = RowKind::Blank;
  std::size_t line = 0;        ///< index into the lines
  std::size_t firstField = 0;  ///< 1 for a labelled row
  std::size_t fieldCount = 0;
};

}  // namespace

ImportResult importTable(std::string_view text, const std::string& fileName) {
  ImportResult r;
  const std::vector<std::string_view> lines = splitLines(text);
  std::vector<std::string_view> sample;
  for (std::string_view line : lines) {
    if (!trimBlanks(line).empty()) sample.push_back(line);
    if (sample.size() == 2000) break;
  }
  const Choice choice = chooseLayout(sample);

  // Every line as numbers, numbers after a title, text or nothing.
  std::vector<Row> rows(lines.size());
  std::vector<std::string_view> fields;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    Row& row = rows[i];
    row.line = i;
    splitFields(lines[i], choice.separator, fields);
    row.fieldCount = fields.size();
    if (fields.empty()) continue;
    std::size_t texts = 0, numbers = 0;
    bool firstIsText = false;
    for (std::size_t k = 0; k < fields.size(); ++k) {
      double v = 0;
      const FieldState st = readField(fields[k], choice.decimal, v);
      if (st == FieldState::Text) {
        ++texts;
        if (k == 0) firstIsText = true;
      }
      if (st == FieldState::Number) ++numbers;
    }
    if (texts == 0 && numbers > 0) {
      row.kind = RowKind::Numbers;
    } else if (texts == 1 && firstIsText && numbers + 1 >= kWideFields) {
      row.kind = RowKind::Labelled;
      row.firstField = 1;
    } else {
      row.kind = RowKind::Text;
    }
  }
  // Data start with the first run of three rows of numbers (or the first
  // such row of a file with fewer).
  std::vector<std::size_t> numeric;
  for (const Row& row : rows)
    if (row.kind == RowKind::Numbers || row.kind == RowKind::Labelled) numeric.push_back(row.line);
  if (numeric.empty()) {
    r.refusal = "no rows of numbers";
    return r;
  }
  std::size_t start = numeric.front();
  for (std::size_t k = 0; k + 2 < numeric.size(); ++k) {
    auto nextNonBlank = [&](std::size_t from) {
      std::size_t j = from + 1;
      while (j < rows.size() && rows[j].kind == RowKind::Blank) ++j;
      return j;
    };
    const std::size_t second = nextNonBlank(numeric[k]);
    if (second == numeric[k + 1] && nextNonBlank(second) == numeric[k + 2]) {
      start = numeric[k];
      break;
    }
  }
  std::vector<std::size_t> data;  // the data rows from the start on
  std::map<std::size_t, std::size_t> widths;
  for (std::size_t line : numeric) {
    if (line < start) continue;
    data.push_back(line);
    ++widths[rows[line].fieldCount - rows[line].firstField];
  }
  std::size_t width = 0, widthRows = 0;
  for (const auto& [w, count] : widths)
    if (count > widthRows) {
      width = w;
      widthRows = count;
    }
  const bool wide = data.size() >= 2 && width >= kWideFields && width >= 4 * data.size();
  std::size_t labelled = 0;
  for (std::size_t line : data) labelled += rows[line].kind == RowKind::Labelled ? 1 : 0;
  if (!wide && labelled > 0) {
    // Titled rows only make sense in a wide table; elsewhere they are text.
    std::erase_if(data, [&](std::size_t line) { return rows[line].kind == RowKind::Labelled; });
    for (Row& row : rows)
      if (row.kind == RowKind::Labelled) row.kind = RowKind::Text;
    if (data.empty()) {
      r.refusal = "no rows of numbers";
      return r;
    }
  }

  // Everything that is not data becomes a comment line of the first graph.
  std::vector<std::string> comments;
  std::size_t dataIndex = 0;
  for (const Row& row : rows) {
    if (row.kind == RowKind::Blank) continue;
    if (dataIndex < data.size() && data[dataIndex] == row.line) {
      ++dataIndex;
      continue;
    }
    comments.emplace_back(trimBlanks(lines[row.line]));
  }
  auto keepComments = [&] {
    if (!r.graphs.empty()) r.graphs.front().comments = std::move(comments);
  };

  r.layout = "separator " + separatorName(choice.separator);
  r.layout += choice.decimal == ',' ? ", decimal comma" : ", decimal point";

  auto valueAt = [&](std::size_t line, std::size_t k, double& v) {
    splitFields(lines[line], choice.separator, fields);
    const std::size_t at = rows[line].firstField + k;
    return at < fields.size() && readField(fields[at], choice.decimal, v) == FieldState::Number;
  };
  auto lineNumber = [](std::size_t line) { return std::to_string(line + 1); };

  if (wide) {
    r.layout += ", one spectrum per row";
    const std::size_t xLine = data.front();
    splitFields(lines[xLine], choice.separator, fields);
    std::vector<double> xs;
    const std::size_t first = rows[xLine].firstField;
    for (std::size_t k = first; k < fields.size(); ++k) {
      double v = 0;
      if (readField(fields[k], choice.decimal, v) != FieldState::Number) break;
      xs.push_back(v);
    }
    for (std::size_t d = 1; d < data.size(); ++d) {
      const std::size_t line = data[d];
      splitFields(lines[line], choice.separator, fields);
      ImportedGraph g;
      g.name = rows[line].firstField == 1 ? std::string(trimBlanks(fields[0]))
                                          : fileName + ", row " + lineNumber(line);
      const std::size_t off = rows[line].firstField;
      for (std::size_t k = 0; k < xs.size(); ++k) {
        double y = 0;
        if (off + k >= fields.size() ||
            readField(fields[off + k], choice.decimal, y) != FieldState::Number) {
          r.warnings.push_back("line " + lineNumber(line) + ": " + g.name + " ends at value " +
                               std::to_string(k) + " (a value is missing)");
          break;
        }
        g.points.push_back({xs[k], y});
      }
      r.graphs.push_back(std::move(g));
    }
    if (xs.size() < width)
      r.warnings.push_back("line " + lineNumber(xLine) + ": the x row ends after " +
                           std::to_string(xs.size()) + " values");
    keepComments();
    return r;
  }

  // Column titles: the last text line before the data, with a field per column.
  std::vector<std::string> titles;
  for (std::size_t i = start; i-- > 0;) {
    if (rows[i].kind == RowKind::Blank) continue;
    if (rows[i].kind == RowKind::Text) {
      splitFields(lines[i], choice.separator, fields);
      if (fields.size() == width)
        for (std::string_view f : fields) titles.emplace_back(f);
    }
    break;
  }
  if (width == 1) {
    r.layout += ", one column (x is the row number)";
    ImportedGraph g;
    g.name = titles.empty() ? fileName : titles[0];
    for (std::size_t line : data) {
      double y = 0;
      if (!valueAt(line, 0, y)) {
        r.warnings.push_back("line " + lineNumber(line) + ": the value is missing; the graph ends");
        break;
      }
      g.points.push_back({static_cast<double>(g.points.size()), y});
    }
    r.graphs.push_back(std::move(g));
    keepComments();
    return r;
  }
  const std::size_t graphs = width - 1;
  r.graphs.resize(graphs);
  for (std::size_t k = 0; k < graphs; ++k) {
    ImportedGraph& g = r.graphs[k];
    if (k + 1 < titles.size() && !titles[k + 1].empty())
      g.name = titles[k + 1];
    else
      g.name = graphs == 1 ? fileName : fileName + ", column " + std::to_string(k + 2);
    g.points.reserve(data.size());
  }
  std::vector<bool> ended(graphs, false);
  std::size_t open = graphs;
  std::size_t wider = 0;
  for (std::size_t line : data) {
    if (open == 0) break;
    splitFields(lines[line], choice.separator, fields);
    if (fields.size() > width) ++wider;
    double x = 0;
    const bool hasX =
        !fields.empty() && readField(fields[0], choice.decimal, x) == FieldState::Number;
    for (std::size_t k = 0; k < graphs; ++k) {
      if (ended[k]) continue;
      double y = 0;
      if (!hasX || k + 1 >= fields.size() ||
          readField(fields[k + 1], choice.decimal, y) != FieldState::Number) {
        ended[k] = true;
        --open;
        r.warnings.push_back("line " + lineNumber(line) + ": " + r.graphs[k].name +
                             " ends at the line before (a value is missing)");
        continue;
      }
      r.graphs[k].points.push_back({x, y});
    }
  }
  if (wider > 0)
    r.warnings.push_back(std::to_string(wider) + " lines have more than " + std::to_string(width) +
                         " values; the extra values were left out");
  keepComments();
  return r;
}

}  // namespace varnix
