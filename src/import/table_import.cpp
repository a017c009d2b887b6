#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "import/import_result.h"
#include "import/table_stream.h"
#include "workspace/data_file_reader.h"
#include "workspace/number_text.h"

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
  // A tab in front is an empty first field (the corner of a table).
  if (separator == '\t')
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  line = separator == '\t' ? line : trimBlanks(line);
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

enum class FieldState { Missing, Number, NonFinite, Text };

/// One number with '.' or ',' as the decimal mark: optional sign, digits,
/// decimal mark, exponent. inf, nan and numbers beyond the 64-bit range are
/// NonFinite (out is then NaN). The other mark makes it no number.
FieldState parseNumber(std::string_view field, char decimal, double& out) {
  field = trimBlanks(field);
  if (!field.empty() && field[0] == '+') field.remove_prefix(1);
  if (field.empty()) return FieldState::Text;
  char buffer[64];
  if (decimal == ',') {
    if (field.size() > sizeof buffer) return FieldState::Text;
    for (std::size_t i = 0; i < field.size(); ++i) {
      const char c = field[i];
      if (c == '.') return FieldState::Text;
      buffer[i] = c == ',' ? '.' : c;
    }
    field = std::string_view(buffer, field.size());
  }
  const char* begin = field.data();
  const char* end = begin + field.size();
  // The data files' own exact reader first; it needs a digit ("." and "e"
  // alone are no numbers here).
  if (std::any_of(begin, end, [](char c) { return c >= '0' && c <= '9'; }) &&
      scanDataNumber(begin, end, out) == end)
    return FieldState::Number;
  // What is left of numbers: inf, nan, and (the exact reader having failed
  // on it) a value too large for 64 bits.
  double v = 0;
  const auto [stop, error] = std::from_chars(begin, end, v);
  if (stop != end || (error == std::errc() && std::isfinite(v))) return FieldState::Text;
  out = std::numeric_limits<double>::quiet_NaN();
  return FieldState::NonFinite;
}

/// The quick road for a line of numbers only: appends them to the cells and
/// returns true; false (the cells as they were) for anything else, which
/// then goes the general way (quotes, empty fields, text, inf and nan).
bool readNumberLine(std::string_view line, char separator, char decimal,
                    std::vector<double>& cells) {
  const std::size_t before = cells.size();
  const char* p = line.data();
  const char* end = p + line.size();
  // Blanks around a field; a tab that separates is no blank (two tabs in a
  // row are an empty field).
  const bool tabs = separator == '\t';
  auto blank = [tabs](char c) { return c == ' ' || (c == '\t' && !tabs); };
  auto fail = [&] {
    cells.resize(before);
    return false;
  };
  auto hasDigit = [](const char* a, const char* b) {
    for (; a < b; ++a)
      if (*a >= '0' && *a <= '9') return true;
    return false;
  };
  if (decimal == '.') {
    // Straight through the line: a number, then blanks, then the separator.
    while (true) {
      while (p < end && blank(*p)) ++p;
      if (p == end) break;
      double v = 0;
      const char* q = scanDataNumber(p, end, v);
      if (!q || !hasDigit(p, q)) return fail();
      cells.push_back(v);
      if (separator == kBlanks) {
        if (q < end && !blank(*q)) return fail();
        p = q;
        continue;
      }
      while (q < end && blank(*q)) ++q;
      if (q == end) break;
      if (*q != separator) return fail();
      p = q + 1;
    }
    return cells.size() > before || fail();
  }
  char buffer[64];
  while (true) {
    while (p < end && blank(*p)) ++p;
    if (p == end) break;
    // The field: to the next blank, or to the separator.
    const char* stop = p;
    if (separator == kBlanks) {
      while (stop < end && !blank(*stop)) ++stop;
    } else {
      stop = static_cast<const char*>(std::memchr(p, separator, static_cast<std::size_t>(end - p)));
      if (!stop) stop = end;
    }
    const char* fieldEnd = stop;
    while (fieldEnd > p && blank(fieldEnd[-1])) --fieldEnd;
    if (fieldEnd == p) return fail();  // an empty field
    const auto n = static_cast<std::size_t>(fieldEnd - p);
    if (n > sizeof buffer) return fail();
    for (std::size_t i = 0; i < n; ++i) {
      if (p[i] == '.') return fail();
      buffer[i] = p[i] == ',' ? '.' : p[i];
    }
    double v = 0;
    if (!hasDigit(buffer, buffer + n) || scanDataNumber(buffer, buffer + n, v) != buffer + n)
      return fail();
    cells.push_back(v);
    if (stop == end) break;
    p = separator == kBlanks ? stop : stop + 1;
  }
  return cells.size() > before || fail();
}

/// The words exports write where a value is missing ("N/A", "--", "null").
bool missingWord(std::string_view field) {
  constexpr std::string_view kWords[] = {"n/a",  "na",   "-", "--",  "---",
                                         "null", "none", "?", "#n/a"};
  if (field.size() > 4) return false;
  std::string lower(field);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::find(std::begin(kWords), std::end(kWords), lower) != std::end(kWords);
}

FieldState readField(std::string_view field, char decimal, double& out) {
  field = trimBlanks(field);
  if (field.empty() || missingWord(field)) return FieldState::Missing;
  return parseNumber(field, decimal, out);
}

/// A number, finite or not (nan, inf and overflow take a place in the row).
bool isValue(FieldState st) {
  return st == FieldState::Number || st == FieldState::NonFinite;
}

/// Wide rows with a title in front of their numbers ("Sample 1", values...).
constexpr std::size_t kWideFields = 20;

struct Choice {
  char separator = kBlanks;
  char decimal = '.';
};

/// Rows of at least two numbers, and rows of one number, that a separator
/// and decimal mark make of the sample lines.
struct Score {
  std::size_t wide = 0, single = 0;
  /// Rows of numbers after text in front (labels, a sample name, metadata).
  std::size_t labelled = 0;
  bool operator>(const Score& o) const {
    if (wide != o.wide) return wide > o.wide;
    if (single != o.single) return single > o.single;
    // Labelled rows decide only where no choice reads rows of numbers.
    return wide == 0 && labelled > o.labelled;
  }
};

/// The number of text fields in front of a row's numbers (at least one
/// number, nothing but numbers and blanks after them); 0 if none or if the
/// row is not so.
std::size_t leadingTextFields(const std::vector<std::string_view>& fields, char decimal);

Score score(const std::vector<std::string_view>& sample, Choice c, std::size_t labels = 0) {
  Score s;
  std::vector<std::string_view> fields;
  for (std::string_view line : sample) {
    splitFields(line, c.separator, fields);
    // Label columns given: the numbers after them.
    if (labels > 0)
      fields.erase(fields.begin(),
                   fields.begin() + static_cast<std::ptrdiff_t>(std::min(labels, fields.size())));
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
      values += isValue(st) ? 1 : 0;
    }
    if (!numbers) {
      // A wide row with a title in front still reads as a row of numbers.
      bool titled = fields.size() >= kWideFields;
      for (std::size_t k = 1; k < fields.size() && titled; ++k) {
        double v = 0;
        titled = isValue(readField(fields[k], c.decimal, v));
      }
      if (titled)
        ++s.wide;
      else if (leadingTextFields(fields, c.decimal) > 0)
        ++s.labelled;
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

std::size_t leadingTextFields(const std::vector<std::string_view>& fields, char decimal) {
  std::size_t text = 0, numbers = 0;
  for (std::string_view f : fields) {
    double v = 0;
    const FieldState st = readField(f, decimal, v);
    if (st == FieldState::Text) {
      if (numbers > 0) return 0;
      ++text;
    } else if (text == 0) {
      return 0;
    } else {
      numbers += isValue(st) ? 1 : 0;
    }
  }
  return numbers > 0 ? text : 0;
}

/// The separator and decimal mark that read the most sample lines as rows of
/// numbers: tab, semicolon, comma, then blanks, the first of equals winning.
/// A comma separates fields (its decimal mark is the point) unless another
/// separator reads as many rows; with tab, semicolon and blanks the decimal
/// mark is the comma when that reads more rows than the point.
constexpr std::array<Choice, 7> kChoices = {
    {{'\t', '.'}, {'\t', ','}, {';', '.'}, {';', ','}, {',', '.'}, {kBlanks, '.'}, {kBlanks, ','}}};

Choice chooseLayout(const std::vector<std::string_view>& sample, const ImportSettings& settings) {
  // The choices that agree with the separator and decimal mark given (a
  // pair the guess never makes, such as comma and decimal comma, as given).
  std::vector<Choice> choices;
  for (const Choice& c : kChoices)
    if (settings.separator.value_or(c.separator) == c.separator &&
        settings.decimal.value_or(c.decimal) == c.decimal)
      choices.push_back(c);
  if (choices.empty())
    choices.push_back({settings.separator.value_or(kBlanks), settings.decimal.value_or('.')});
  const std::size_t labels = settings.labels.value_or(0);
  Choice best = choices[0];
  Score bestScore = score(sample, best, labels);
  for (std::size_t k = 1; k < choices.size(); ++k) {
    const Score s = score(sample, choices[k], labels);
    if (s > bestScore) {
      best = choices[k];
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

/// Titled: a title and numbers, too short to be a labelled row of a wide
/// table; text unless it turns out to be a row of a table of spectra.
enum class RowKind : std::uint8_t { Numbers, Labelled, Titled, Text };

/// A line that is not blank. Its values follow those of the rows before it
/// in the cells (from the second field on for a labelled or titled row;
/// kMissing for an empty field); a text, titled or labelled row's text is
/// texts[text].
struct Row {
  std::uint32_t count;
  std::uint32_t text;
  RowKind kind;
};

/// An empty field: a NaN no reader produces (signalling, with a payload).
const double kMissing = std::bit_cast<double>(std::uint64_t{0x7FF4DEADBEEF0001});
bool isMissing(double v) {
  return std::bit_cast<std::uint64_t>(v) == std::bit_cast<std::uint64_t>(kMissing);
}

/// The layouts the sample's rows of numbers are written in, each line in
/// the first that reads it as a row of at least two fields, when there are
/// more than one: "3 lines with semicolon, 1 line with comma".
std::string mixedLayouts(const std::vector<std::string_view>& sample) {
  std::array<std::size_t, kChoices.size()> lines{};
  for (std::string_view line : sample)
    for (std::size_t k = 0; k < kChoices.size(); ++k)
      if (score({line}, kChoices[k]).wide > 0) {
        ++lines[k];
        break;
      }
  std::string out;
  std::size_t kinds = 0;
  for (std::size_t k = 0; k < kChoices.size(); ++k) {
    if (lines[k] == 0) continue;
    ++kinds;
    out += (out.empty() ? "" : ", ") + std::to_string(lines[k]) +
           (lines[k] == 1 ? " line with " : " lines with ") + separatorName(kChoices[k].separator) +
           (kChoices[k].decimal == ',' ? " and decimal comma" : "");
  }
  return kinds > 1 ? out : std::string();
}

/// The scans of a curve whose x runs to its end and then starts again within
/// half a step of its first value (scans written one after another, nothing
/// between), each of three points at least: empty when x does not do that.
std::vector<std::vector<Point>> stackedScans(const std::vector<Point>& p) {
  constexpr std::size_t kLeast = 3;
  if (p.size() < 2 * kLeast || p[1].x == p[0].x) return {};
  const bool up = p[1].x > p[0].x;
  const double step = std::abs(p[1].x - p[0].x);
  std::vector<std::vector<Point>> scans(1, {p[0]});
  for (std::size_t j = 1; j < p.size(); ++j) {
    const bool onward = up ? p[j].x > p[j - 1].x : p[j].x < p[j - 1].x;
    if (!onward) {
      if (std::abs(p[j].x - p[0].x) > step / 2 || scans.back().size() < kLeast) return {};
      scans.emplace_back();
    }
    scans.back().push_back(p[j]);
  }
  if (scans.size() < 2 || scans.back().size() < kLeast) return {};
  return scans;
}

/// The runs of a curve in the direction of its first step: a scan starts
/// wherever x turns back.
std::vector<std::vector<Point>> runsOnward(const std::vector<Point>& p) {
  std::vector<std::vector<Point>> runs;
  int direction = 0;
  for (std::size_t j = 0; j < p.size(); ++j) {
    const int step = j == 0 ? 0 : p[j].x > p[j - 1].x ? 1 : p[j].x < p[j - 1].x ? -1 : 0;
    if (direction == 0) direction = step;
    if (j == 0 || (step != 0 && step != direction)) runs.emplace_back();
    runs.back().push_back(p[j]);
  }
  return runs;
}

/// Whether the rows from xRow on are a table of spectra: at least three x
/// values, strictly monotonic, after an empty first cell, then rows each of
/// a label (text, or a number in the empty cell's column) and no more
/// values than there are x values, up to the first line of text (at least
/// one such row). labelsAreNumbers: every label was a number.
bool isSpectrumRowTable(const std::vector<Row>& rows, const std::vector<double>& cells,
                        std::size_t xRow, std::size_t xCell, bool& labelsAreNumbers) {
  const Row& x = rows[xRow];
  if (x.kind != RowKind::Numbers || x.count < 4 || !isMissing(cells[xCell])) return false;
  int direction = 0;
  for (std::size_t j = xCell + 2; j < xCell + x.count; ++j) {
    const double a = cells[j - 1], b = cells[j];
    if (!std::isfinite(a) || !std::isfinite(b) || a == b) return false;
    const int d = b > a ? 1 : -1;
    if (direction != 0 && d != direction) return false;
    direction = d;
  }
  std::size_t matching = 0, numbered = 0;
  std::size_t cell = xCell + x.count;
  for (std::size_t k = xRow + 1; k < rows.size() && rows[k].kind != RowKind::Text;
       cell += rows[k++].count) {
    const Row& row = rows[k];
    if (row.kind == RowKind::Numbers) {
      if (row.count < 2 || row.count > x.count || isMissing(cells[cell])) return false;
      ++numbered;
    } else if (row.count >= x.count) {
      return false;
    }
    ++matching;
  }
  labelsAreNumbers = matching > 0 && numbered == matching;
  return matching > 0;
}

/// Whether rows with label columns are one spectrum per row: a first row of
/// at least three x values, strictly monotonic, then rows of no more values
/// up to the first line of text (at least one), each with a label of its
/// own (labels that repeat name points of one curve, not spectra).
bool isLabelledSpectrumTable(const std::vector<Row>& rows, const std::vector<double>& cells,
                             const std::vector<std::string>& labels, std::size_t xRow,
                             std::size_t xCell) {
  const Row& x = rows[xRow];
  if (x.kind != RowKind::Numbers || x.count < 3) return false;
  for (std::size_t j = xCell + 1; j < xCell + x.count; ++j) {
    const double a = cells[j - 1], b = cells[j];
    if (!std::isfinite(a) || !std::isfinite(b) || a == b ||
        (b > a) != (cells[xCell + 1] > cells[xCell]))
      return false;
  }
  std::vector<std::string_view> seen;
  for (std::size_t k = xRow + 1; k < rows.size() && rows[k].kind != RowKind::Text; ++k) {
    if (rows[k].count > x.count || labels[k].empty()) return false;
    seen.emplace_back(labels[k]);
  }
  std::sort(seen.begin(), seen.end());
  return !seen.empty() && std::adjacent_find(seen.begin(), seen.end()) == seen.end();
}

/// The x axis a header describes by its start and step (and often the
/// number of points): "Start: 400", "StepSize=0.5", "Points 2048".
struct StartStep {
  bool found = false;  ///< a start and a step (not zero) were given
  double start = 0, step = 0;
  std::size_t count = 0;  ///< 0: not given
};

StartStep startAndStep(const std::vector<std::string_view>& header, char decimal) {
  constexpr std::string_view kStarts[] = {"start", "first", "begin", "from", "x0", "xmin"};
  constexpr std::string_view kSteps[] = {"step", "increment", "delta", "interval"};
  constexpr std::string_view kCounts[] = {"points", "count", "npts", "number of"};
  StartStep a;
  bool start = false, step = false;
  // The number after a key: within a short distance, past words such as
  // "angle (deg):".
  auto numberAfter = [&](std::string_view line, std::size_t at, double& out) {
    const std::size_t limit = std::min(line.size(), at + 32);
    while (at < limit) {
      const char c = line[at];
      if ((c >= '0' && c <= '9') || ((c == '-' || c == '+' || c == '.') && at + 1 < line.size() &&
                                     line[at + 1] >= '0' && line[at + 1] <= '9'))
        break;
      ++at;
    }
    if (at >= limit) return false;
    std::size_t end = at + 1;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != ';' &&
           (line[end] != ',' || decimal == ','))
      ++end;
    return parseNumber(line.substr(at, end - at), decimal, out) == FieldState::Number;
  };
  auto valueOf = [&](std::string_view lower, std::string_view line, const std::string_view* keys,
                     std::size_t n, double& out) {
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t at = lower.find(keys[k]);
      // At the start of a word.
      if (at == std::string_view::npos ||
          (at > 0 && std::isalpha(static_cast<unsigned char>(lower[at - 1]))))
        continue;
      if (numberAfter(line, at + keys[k].size(), out)) return true;
    }
    return false;
  };
  for (std::string_view line : header) {
    std::string lower(line);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // A line may give several: "Start 10, Step 0.02, Points 500".
    double v = 0;
    if (!start && valueOf(lower, line, kStarts, std::size(kStarts), v)) {
      start = true;
      a.start = v;
    }
    if (!step && valueOf(lower, line, kSteps, std::size(kSteps), v)) {
      step = true;
      a.step = v;
    }
    if (a.count == 0 && valueOf(lower, line, kCounts, std::size(kCounts), v) && v >= 1 &&
        v < 1e12 && v == std::floor(v))
      a.count = static_cast<std::size_t>(v);
  }
  a.found = start && step && a.step != 0 && std::isfinite(a.start) && std::isfinite(a.step);
  return a;
}

/// The name a block's header lines give it: the value of a line such as
/// "Region: C 1s" or "# Name = run 2" (the last one), or a line "[O 1s]";
/// empty if none.
std::string blockName(const std::vector<std::string_view>& lines) {
  constexpr std::string_view kKeys[] = {"name",  "region", "title",    "block",
                                        "label", "sample", "spectrum", "id"};
  std::string name;
  for (std::string_view line : lines) {
    line = trimBlanks(line);
    while (!line.empty() && (line.front() == '#' || line.front() == '/' || line.front() == ';'))
      line = trimBlanks(line.substr(1));
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      name = std::string(trimBlanks(line.substr(1, line.size() - 2)));
      continue;
    }
    const std::size_t mark = line.find_first_of(":=");
    if (mark == std::string_view::npos) continue;
    std::string key(trimBlanks(line.substr(0, mark)));
    for (char& c : key)
      c = std::isalpha(static_cast<unsigned char>(c))
              ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
              : ' ';
    // A word of the key is one of the keys ("Region", "Sample ID"), or
    // starts with a longer one ("RegionName").
    bool named = false;
    for (std::size_t at = 0; at < key.size() && !named && key.size() <= 24;) {
      const std::size_t end = std::min(key.find(' ', at), key.size());
      const std::string_view word = std::string_view(key).substr(at, end - at);
      for (std::string_view k : kKeys)
        named = named || word == k || (k.size() >= 4 && word.substr(0, k.size()) == k);
      at = end + 1;
    }
    if (!named) continue;
    std::string_view value = trimBlanks(line.substr(mark + 1));
    while (!value.empty() && (value.front() == '"' || value.back() == '"'))
      value =
          trimBlanks(value.front() == '"' ? value.substr(1) : value.substr(0, value.size() - 1));
    if (!value.empty()) name = std::string(value);
  }
  return name;
}

/// What speaks for a table of column pairs x1 y1 x2 y2 ...
struct PairEvidence {
  bool xMonotonic = false;    ///< every odd column runs one way, all the same way
  bool xAlike = false;        ///< and they cover much the same range
  bool titlesRepeat = false;  ///< the titles repeat per pair
  bool strong() const { return xMonotonic && (xAlike || titlesRepeat); }
  bool close() const { return !strong() && (titlesRepeat || xAlike); }
  std::string why() const {
    std::string w = titlesRepeat ? "the titles repeat per pair" : "";
    if (xAlike) w += (w.empty() ? "" : ", ") + std::string("the odd columns cover one range");
    return w;
  }
};

/// The odd columns of a table (its x columns if it is one of pairs) as its
/// rows come: whether each runs one way and the range it covers.
class PairColumns {
 public:
  explicit PairColumns(std::size_t pairs = 0) : m_xs(pairs) {}

  /// Takes the values of one row of data (blank, nan and inf count for none).
  void add(const double* v, std::size_t count) {
    for (std::size_t p = 0; p < m_xs.size() && 2 * p < count; ++p) {
      const double x = v[2 * p];
      if (!std::isfinite(x)) continue;
      Column& c = m_xs[p];
      if (c.values++ == 0) {
        c.low = c.high = x;
      } else {
        const int d = x > c.last ? 1 : x < c.last ? -1 : 0;
        if (d == 0 || (c.direction != 0 && d != c.direction)) c.monotonic = false;
        c.direction = d;
        c.low = std::min(c.low, x);
        c.high = std::max(c.high, x);
      }
      c.last = x;
    }
  }

  /// The evidence of the rows taken so far.
  PairEvidence evidence(bool titlesRepeat) const {
    PairEvidence e;
    e.titlesRepeat = titlesRepeat;
    e.xMonotonic = true;
    e.xAlike = true;
    for (const Column& c : m_xs) {
      e.xMonotonic =
          e.xMonotonic && c.values >= 3 && c.monotonic && c.direction == m_xs[0].direction;
      // Alike: each overlaps the first column's range by half of the wider one.
      const double overlap = std::min(c.high, m_xs[0].high) - std::max(c.low, m_xs[0].low);
      const double span = std::max(c.high - c.low, m_xs[0].high - m_xs[0].low);
      e.xAlike = e.xAlike && c.values >= 3 && span > 0 && overlap >= span / 2;
    }
    return e;
  }

 private:
  struct Column {
    double last = 0, low = 0, high = 0;
    std::size_t values = 0;
    int direction = 0;
    bool monotonic = true;
  };
  std::vector<Column> m_xs;
};

/// Whether the column titles repeat per pair (x, y, x, y...).
bool titlesRepeatPerPair(const std::vector<std::string>& titles, std::size_t width) {
  if (titles.size() != width || width < 2) return false;
  bool repeat = !titles[0].empty() && !titles[1].empty();
  for (std::size_t p = 1; p < width / 2 && repeat; ++p)
    repeat = titles[2 * p] == titles[0] && titles[2 * p + 1] == titles[1];
  return repeat;
}

/// The odd columns of the data rows from start to stop.
PairColumns pairColumnsOf(const std::vector<Row>& rows, const std::vector<double>& cells,
                          std::size_t start, std::size_t stop, std::size_t startCell,
                          std::size_t width) {
  PairColumns columns(width / 2);
  std::size_t cell = startCell;
  for (std::size_t k = start; k < stop; cell += rows[k++].count)
    if (rows[k].kind != RowKind::Text && rows[k].kind != RowKind::Titled)
      columns.add(cells.data() + cell, rows[k].count);
  return columns;
}

/// The warning of a table read with x in its first column that may be one
/// of column pairs.
std::string pairWarning(const PairEvidence& pairs) {
  return "the columns may be pairs of x and y (" + pairs.why() +
         "); read with the first column as x; import-with layout=column-pairs reads one graph "
         "per pair";
}

/// No column: x is the row number.
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

/// x from a line of two or three numbers alone above a column of `values`
/// intensities (diffraction exports): start and step, and the last x or the
/// number of points, which must then agree with the column.
StartStep bareStartStep(const double* v, std::size_t count, std::size_t values) {
  constexpr std::size_t kLongColumn = 8;
  StartStep a;
  if (count < 2 || count > 3 || values < kLongColumn || !std::isfinite(v[0]) ||
      !std::isfinite(v[1]) || v[1] == 0)
    return a;
  a.start = v[0];
  a.step = v[1];
  if (count == 3) {
    const double last = a.start + static_cast<double>(values - 1) * a.step;
    if (v[2] == static_cast<double>(values))
      a.count = values;
    else if (!(std::abs(v[2] - last) <= std::abs(a.step) / 2))
      return a;
  }
  a.found = true;
  return a;
}

/// Whether the odd lines of a column (the 1st, 3rd, ...) run one way in
/// steps that differ by less than a factor of two, as x values written
/// between their y values do. A part of the column that does not, ends it.
bool oddLinesRiseSteadily(const std::vector<double>& v) {
  constexpr std::size_t kLeast = 8;
  if (v.size() < kLeast) return false;
  double low = std::numeric_limits<double>::infinity(), high = 0;
  for (std::size_t j = 2; j < v.size(); j += 2) {
    const double d = v[j] - v[j - 2];
    if (!std::isfinite(d) || d == 0 || (d > 0) != (v[2] > v[0])) return false;
    low = std::min(low, std::abs(d));
    high = std::max(high, std::abs(d));
  }
  return high < 2 * low;
}

/// How a column of values reads as x and y on alternate lines.
enum class Alternation { None, Pairs, Doubtful };

Alternation alternation(const std::vector<double>& v) {
  if (!oddLinesRiseSteadily(v)) return Alternation::None;
  bool evensRun = true, zigzag = true, sameSide = true, wholeRuns = true;
  for (std::size_t j = 1; j < v.size(); ++j) {
    const double d = v[j] - v[j - 1];
    if (!std::isfinite(d)) return Alternation::None;
    wholeRuns = wholeRuns && d != 0 && (d > 0) == (v[1] > v[0]);
    if (j >= 2) zigzag = zigzag && (d > 0) != (v[j - 1] > v[j - 2]) && d != 0;
    if (j % 2 == 1) sameSide = sameSide && d != 0 && (d > 0) == (v[1] > v[0]);
    if (j >= 3 && j % 2 == 1) {
      const double e = v[j] - v[j - 2];
      evensRun = evensRun && e != 0 && (e > 0) == (v[3] > v[1]);
    }
  }
  // A column that runs one way throughout is one curve.
  if (wholeRuns) return Alternation::None;
  if (v.size() % 2 == 0 && (zigzag || (sameSide && !evensRun))) return Alternation::Pairs;
  return evensRun ? Alternation::None : Alternation::Doubtful;
}

}  // namespace

/// Where a table read with x in one column stands after its last row, when
/// further rows of plain numbers of its width would only add points to the
/// graphs of its last block (no other part of the reading depends on them).
struct TableTail {
  bool open = false;
  Choice choice;
  std::size_t width = 0;
  std::size_t xColumn = 0;  ///< kNone: the row number
  std::vector<std::size_t> yColumns;
  std::size_t blockBase = 0;  ///< the first graph of the last block
  RowRange taken;
  std::size_t dataRow = 0;  ///< the rows of data so far
  std::size_t rows = 0;     ///< the table's rows so far (text lines among them)
  double lastX = std::numeric_limits<double>::quiet_NaN();
  int direction = 0;
  /// The odd columns, while the table might yet be one of column pairs.
  bool pairsWeighed = false, titlesRepeat = false;
  PairColumns pairColumns;
  /// Where the warning on column pairs stands (or would stand) among the warnings.
  std::size_t pairWarningAt = 0;
  bool pairWarned = false;
};

namespace {

/// The table read with the layout chosen on the sample lines; with tail,
/// also whether and how rows that follow could be added.
ImportResult readTable(std::string_view text, const std::string& fileName,
                       const std::vector<std::string_view>& sample, const ImportSettings& settings,
                       TableTail* tail = nullptr) {
  ImportResult r;
  const Choice choice = chooseLayout(sample, settings);
  // Lines to skip and the title line are no data whatever they hold.
  const std::size_t skip = settings.skipLines.value_or(0);
  const std::size_t headerLine = settings.headerRow.value_or(0);  // from 1; 0: none given
  const std::size_t firstDataLine = std::max(skip, headerLine);
  std::size_t firstDataRow = 0;  // the first row on a line after those
  std::string_view headerText;

  // One pass: every line that is not blank as numbers, numbers after a
  // title, or text; the numbers parsed once, into the cells.
  std::vector<Row> rows;
  // Line numbers: row k is on line k + the offset of the last jump at or
  // before it (blank lines make the jumps).
  std::vector<std::pair<std::size_t, std::size_t>> jumps{{0, 0}};
  std::vector<std::string_view> texts;
  std::vector<double> cells;
  rows.reserve(text.size() / 16 + 16);
  cells.reserve(text.size() / 8 + 16);
  std::vector<std::string_view> fields;
  bool tooLong = false;
  // Label columns in front of the numbers: each row's labels, joined.
  const std::size_t labels = settings.labels.value_or(0);
  std::vector<std::string> rowLabels;
  forEachTextLine(text, [&](std::size_t number, std::string_view line) {
    const std::size_t first = cells.size();
    if (labels > 0 && !trimBlanks(line).empty()) rowLabels.emplace_back();
    if (number < firstDataLine) {
      if (number + 1 == headerLine) headerText = line;
      if (trimBlanks(line).empty()) return true;
      if (number - rows.size() != jumps.back().second - jumps.back().first)
        jumps.emplace_back(rows.size(), number);
      rows.push_back({0, static_cast<std::uint32_t>(texts.size()), RowKind::Text});
      texts.push_back(line);
      firstDataRow = rows.size();
      return true;
    }
    if (labels == 0 && readNumberLine(line, choice.separator, choice.decimal, cells)) {
      if (cells.size() - first > UINT32_MAX || rows.size() == UINT32_MAX) {
        tooLong = true;
        return false;
      }
      if (number - rows.size() != jumps.back().second - jumps.back().first)
        jumps.emplace_back(rows.size(), number);
      rows.push_back({static_cast<std::uint32_t>(cells.size() - first), 0, RowKind::Numbers});
      return true;
    }
    splitFields(line, choice.separator, fields);
    if (fields.empty()) {
      if (labels > 0) rowLabels.pop_back();
      return true;
    }
    // A line of no more fields than the labels is text.
    bool labelsOnly = false;
    if (labels > 0) {
      labelsOnly = fields.size() <= labels;
      for (std::size_t k = 0; k < labels && k < fields.size() && !labelsOnly; ++k)
        if (!fields[k].empty())
          rowLabels.back().append(rowLabels.back().empty() ? "" : ", ").append(fields[k]);
      if (!labelsOnly)
        fields.erase(fields.begin(), fields.begin() + static_cast<std::ptrdiff_t>(labels));
    }
    std::size_t textFields = labelsOnly ? 1 : 0, numbers = 0;
    bool firstIsText = false;
    for (std::size_t k = 0; k < fields.size(); ++k) {
      double v = 0;
      const FieldState st = readField(fields[k], choice.decimal, v);
      if (st == FieldState::Text) {
        ++textFields;
        firstIsText = firstIsText || k == 0;
        continue;
      }
      numbers += isValue(st) ? 1 : 0;
      cells.push_back(isValue(st) ? v : kMissing);
    }
    Row row{0, 0, RowKind::Numbers};
    if (textFields == 0 && numbers > 0) {
      row.kind = RowKind::Numbers;
    } else {
      row.kind = textFields != 1 || !firstIsText || numbers == 0 ? RowKind::Text
                 : numbers + 1 >= kWideFields                    ? RowKind::Labelled
                                                                 : RowKind::Titled;
      if (row.kind == RowKind::Text) cells.resize(first);
      row.text = static_cast<std::uint32_t>(texts.size());
      texts.push_back(line);
    }
    if (cells.size() - first > UINT32_MAX || rows.size() == UINT32_MAX) {
      tooLong = true;
      return false;
    }
    row.count = static_cast<std::uint32_t>(cells.size() - first);
    if (number - rows.size() != jumps.back().second - jumps.back().first)
      jumps.emplace_back(rows.size(), number);
    rows.push_back(row);
    return true;
  });
  if (tooLong) {
    r.refusal = "too many lines or values for one table";
    return r;
  }
  auto isData = [&](std::size_t k) {
    return rows[k].kind != RowKind::Text && rows[k].kind != RowKind::Titled;
  };
  auto lineOf = [&](std::size_t k) {
    const auto jump =
        std::prev(std::upper_bound(jumps.begin(), jumps.end(), k,
                                   [](std::size_t row, const auto& j) { return row < j.first; }));
    return jump->second + (k - jump->first);
  };
  // The data start with the first run of three rows of numbers of one width
  // (or the first row of numbers of a file without such a run): a lone
  // number in a header ("2048") stays a header line.
  std::size_t start = rows.size();
  for (std::size_t k = firstDataRow; k < rows.size(); ++k)
    if (isData(k)) {
      if (start == rows.size()) start = k;
      if (k + 2 < rows.size() && isData(k + 1) && isData(k + 2) &&
          rows[k].count == rows[k + 1].count && rows[k].count == rows[k + 2].count) {
        start = k;
        break;
      }
    }
  // Rows that start with text (a label, a sample name, metadata), more of
  // them than rows of numbers: read again with the label columns most of
  // them have.
  if (!settings.labels) {
    std::vector<std::size_t> tally;
    std::size_t numberRows = 0;
    for (std::size_t k = firstDataRow; k < rows.size(); ++k) {
      const Row& row = rows[k];
      numberRows += isData(k) ? 1 : 0;
      if (row.kind != RowKind::Text && row.kind != RowKind::Titled) continue;
      // Not a "Key: value" or "Key=value" line of a header; two numbers at least.
      const std::string_view line = texts[row.text];
      splitFields(line, choice.separator, fields);
      const std::size_t n = leadingTextFields(fields, choice.decimal);
      if (n == 0 || fields.size() < n + 2 || line.find('=') != std::string_view::npos ||
          fields[n - 1].back() == ':')
        continue;
      if (n >= tally.size()) tally.resize(n + 1);
      ++tally[n];
    }
    const auto most = std::max_element(tally.begin(), tally.end());
    if (most != tally.end() && *most >= 2 && *most > numberRows) {
      ImportSettings again = settings;
      again.labels = static_cast<std::size_t>(most - tally.begin());
      ImportResult labelled = readTable(text, fileName, sample, again, tail);
      if (!labelled.refusal) {
        labelled.layout += " (label columns guessed; import-with labels=0 reads none)";
        return labelled;
      }
    }
  }
  if (start == rows.size()) {
    r.refusal = "no rows of numbers";
    return r;
  }
  // One spectrum per row: an x row whose first cell (the table's corner) is
  // empty, then rows that each start with their label.
  bool corner = false, labelsAreNumbers = false;
  // Or rows with label columns, each named by its own: under a row of x values.
  bool labelRows = false;
  if (settings.layout.value_or(ImportLayout::SpectrumPerRow) == ImportLayout::SpectrumPerRow) {
    std::size_t xRow = firstDataRow, xCell = 0;
    for (; xRow < rows.size() && !isData(xRow); ++xRow) xCell += rows[xRow].count;
    if (xRow < rows.size()) {
      if (labels > 0)
        labelRows =
            !settings.layout && isLabelledSpectrumTable(rows, cells, rowLabels, xRow, xCell);
      else
        corner = settings.layout ? rows[xRow].kind == RowKind::Numbers && rows[xRow].count >= 2 &&
                                       isMissing(cells[xCell])
                                 : isSpectrumRowTable(rows, cells, xRow, xCell, labelsAreNumbers);
      if (corner || labelRows || settings.layout) {
        start = xRow;
        // Titled rows are spectra however short.
        for (std::size_t k = xRow + 1; k < rows.size(); ++k)
          if (rows[k].kind == RowKind::Titled) rows[k].kind = RowKind::Labelled;
      }
    }
  }
  // Rows of at least two values just before the run belong to it: their
  // last cells are blank (a trailing separator drops them).
  const std::size_t runWidth = rows[start].count;
  while (start > firstDataRow && isData(start - 1) && rows[start - 1].count >= 2 &&
         rows[start - 1].count < runWidth)
    --start;
  // The width of the table (the most common number of values in a row),
  // and the text lines after the start, which become comment lines.
  std::vector<std::size_t> widths;
  std::vector<std::size_t> textsAfter;
  std::size_t dataRows = 0, labelled = 0;
  for (std::size_t k = start; k < rows.size(); ++k) {
    if (!isData(k)) {
      textsAfter.push_back(k);
      continue;
    }
    if (rows[k].count >= widths.size()) widths.resize(rows[k].count + 1);
    ++widths[rows[k].count];
    ++dataRows;
    labelled += rows[k].kind == RowKind::Labelled ? 1 : 0;
  }
  std::size_t width = 0, widthRows = 0;
  for (std::size_t w = 0; w < widths.size(); ++w)
    if (widths[w] > widthRows) {
      width = w;
      widthRows = widths[w];
    }
  const bool wide =
      settings.layout
          ? *settings.layout == ImportLayout::SpectrumPerRow
          : corner || labelRows || (dataRows >= 2 && width >= kWideFields && width >= 4 * dataRows);
  if (!wide && labelled > 0) {
    // Titled rows only make sense in a wide table; elsewhere they are text.
    for (Row& row : rows)
      if (row.kind == RowKind::Labelled) row.kind = RowKind::Text;
    while (start < rows.size() && !isData(start)) ++start;
    textsAfter.clear();
    for (std::size_t k = start; k < rows.size(); ++k)
      if (!isData(k)) textsAfter.push_back(k);
    if (start == rows.size()) {
      r.refusal = "no rows of numbers";
      return r;
    }
  }

  // The data end with the last row of the full width, or of two values or
  // more (the others blank): a lone number after it is a footer ("1024").
  std::size_t stop = rows.size();
  if (!wide) {
    const std::size_t least = std::min<std::size_t>(width, 2);
    while (stop > start && !(isData(stop - 1) && rows[stop - 1].count >= least)) --stop;
  }
  // Everything that is not data becomes a comment line of the first graph:
  // every line before the data, text lines within, every line after.
  std::vector<std::string> comments;
  const std::size_t startLine = lineOf(start);
  const std::size_t lastLine = lineOf(stop - 1);
  forEachTextLine(text, [&](std::size_t number, std::string_view line) {
    if (number >= startLine) return false;
    if (!trimBlanks(line).empty()) comments.emplace_back(trimBlanks(line));
    return true;
  });
  for (std::size_t k : textsAfter)
    if (k < stop) comments.emplace_back(trimBlanks(texts[rows[k].text]));
  const std::size_t commentsAfter = comments.size();  // where the lines after the data start
  if (stop < rows.size())
    forEachTextLine(text, [&](std::size_t number, std::string_view line) {
      if (number > lastLine && !trimBlanks(line).empty()) comments.emplace_back(trimBlanks(line));
      return true;
    });
  std::size_t startCell = 0;
  for (std::size_t k = 0; k < start; ++k) startCell += rows[k].count;
  auto keepComments = [&] {
    if (!r.graphs.empty()) r.graphs.front().comments = std::move(comments);
  };
  auto lineNumber = [&](std::size_t k) { return std::to_string(lineOf(k) + 1); };

  r.layout = "separator " + separatorName(choice.separator);
  r.layout += choice.decimal == ',' ? ", decimal comma" : ", decimal point";
  if (labels > 0) {
    r.layout += ", " + std::to_string(labels) + (labels == 1 ? " label column" : " label columns");
    r.settings.labels = labels;
  }
  r.settings.separator = choice.separator;
  r.settings.decimal = choice.decimal;
  r.settings.skipLines = skip;
  const RowRange taken = settings.rows.value_or(RowRange{});
  r.settings.rows = taken;

  if (wide) {
    r.layout += ", one spectrum per row";
    r.settings.layout = ImportLayout::SpectrumPerRow;
    r.settings.headerRow = headerLine;
    const Row& xRow = rows[start];
    std::vector<double> xs;
    // A blank x cell gives that column no point in any spectrum; the corner
    // cell is the column of the labels.
    for (std::size_t k = corner ? 1 : 0; k < xRow.count; ++k) {
      xs.push_back(cells[startCell + k]);
      r.nonFinite += std::isfinite(xs.back()) || isMissing(xs.back()) ? 0 : 1;
    }
    std::size_t cell = startCell + xRow.count;
    std::size_t spectrum = 0;
    // Graphs named by a number in the corner's column: the number as written.
    std::vector<std::pair<std::size_t, std::size_t>> numberLabels;  // graph, line
    for (std::size_t k = start + 1; k < rows.size(); cell += rows[k++].count) {
      if (!isData(k) || !taken.takes(++spectrum)) continue;
      const Row& row = rows[k];
      ImportedGraph g;
      std::size_t first = cell;  // the cell of the first x
      if (labels > 0 && !rowLabels[k].empty()) {
        g.name = rowLabels[k];
      } else if (row.kind == RowKind::Labelled) {
        splitFields(texts[row.text], choice.separator, fields);
        g.name = std::string(trimBlanks(fields[0]));
      } else if (corner) {
        numberLabels.emplace_back(r.graphs.size(), lineOf(k));
        ++first;
      } else {
        g.name = fileName + ", row " + lineNumber(k);
      }
      // A blank cell is no point at that x; the spectrum goes on.
      const std::size_t values = row.count - (first - cell);
      for (std::size_t j = 0; j < xs.size() && j < values; ++j) {
        if (isMissing(cells[first + j])) continue;
        const double y = cells[first + j];
        r.nonFinite += std::isfinite(y) ? 0 : 1;
        if (std::isfinite(xs[j]) && std::isfinite(y)) g.points.push_back({xs[j], y});
      }
      r.graphs.push_back(std::move(g));
    }
    if (!numberLabels.empty()) {
      std::size_t next = 0;
      forEachTextLine(text, [&](std::size_t number, std::string_view line) {
        if (number != numberLabels[next].second) return true;
        splitFields(line, choice.separator, fields);
        std::string& name = r.graphs[numberLabels[next].first].name;
        name = fields.empty() || fields[0].empty()
                   ? fileName + ", row " + std::to_string(number + 1)
                   : std::string(fields[0]);
        return ++next < numberLabels.size();
      });
    }
    if (labelsAreNumbers)
      r.warnings.push_back("line " + lineNumber(start) +
                           " read as x values over one spectrum per row, each row's first "
                           "number its name; import-with layout=first-column-x reads the "
                           "columns as graphs");
    if (xs.size() + (corner ? 1 : 0) < width)
      r.warnings.push_back("line " + lineNumber(start) + ": the x row ends after " +
                           std::to_string(xs.size()) + " values");
    keepComments();
    return r;
  }

  // Column titles: the line given, or the last line before the data if it
  // is text with a field per column.
  std::vector<std::string> titles;
  std::size_t titleLine = 0;  // from 1; 0: none
  if (settings.headerRow) {
    splitFields(headerText, choice.separator, fields);
    for (std::string_view f : fields) titles.emplace_back(f);
    titleLine = headerLine;
  } else if (start > firstDataRow && rows[start - 1].kind == RowKind::Text && width >= 2) {
    // Not a "Key: value" or "Key=value" line of a header, nor the line above
    // a single column, nor a line skipped.
    const std::string_view line = texts[rows[start - 1].text];
    splitFields(line, choice.separator, fields);
    const bool keyValue = line.find('=') != std::string_view::npos ||
                          (!fields.empty() && !fields[0].empty() && fields[0].back() == ':');
    // The titles of the label columns name no graph.
    if (labels > 0 && fields.size() == width + labels)
      fields.erase(fields.begin(), fields.begin() + static_cast<std::ptrdiff_t>(labels));
    if (fields.size() == width && !keyValue) {
      for (std::string_view f : fields) titles.emplace_back(f);
      titleLine = lineOf(start - 1) + 1;
    }
  }
  r.settings.headerRow = titleLine;

  // One column of values: blocks each under header lines of their own
  // (regions or channels one after another), x and y on alternate lines.
  // Rows that follow may yet make a column alternate: none is streamed then.
  bool mayAlternate = false;
  if (width == 1 && !settings.xColumn && !settings.columns &&
      (!settings.layout || settings.layout == ImportLayout::StartStep ||
       settings.layout == ImportLayout::AlternateLines)) {
    struct Block {
      std::size_t headerFrom = 0, headerTo = 0;  // its header rows
      std::size_t aboveCell = 0;                 // the cells of the row above its values
      std::vector<double> values;
      std::vector<std::size_t> valueRows;
    };
    std::vector<Block> blocks(1);
    blocks[0].headerTo = start;
    blocks[0].aboveCell = start > 0 ? startCell - rows[start - 1].count : 0;
    std::size_t cell = startCell;
    for (std::size_t k = start; k < stop; cell += rows[k++].count) {
      // Any other line (text, or numbers not alone on their line) is a
      // header line of the block that follows.
      if (rows[k].kind != RowKind::Numbers || rows[k].count != 1) {
        if (!blocks.back().values.empty()) blocks.emplace_back().headerFrom = k;
        blocks.back().aboveCell = cell;
        continue;
      }
      Block& b = blocks.back();
      if (b.values.empty()) b.headerTo = k;
      b.values.push_back(cells[cell]);
      b.valueRows.push_back(k);
    }
    if (blocks.back().values.empty()) blocks.pop_back();
    mayAlternate = !blocks.empty() && oddLinesRiseSteadily(blocks[0].values);
    const bool alternate = settings.layout == ImportLayout::AlternateLines;
    const Alternation single =
        blocks.size() == 1 && !settings.layout ? alternation(blocks[0].values) : Alternation::None;
    if (single == Alternation::Doubtful)
      r.warnings.push_back(
          "the column alternates (its odd lines run steadily one way and its "
          "even lines do not); import-with layout=alternate-lines reads them as "
          "x and y");
    if (blocks.size() > 1 || alternate || single == Alternation::Pairs) {
      std::size_t pairBlocks = 0, axisBlocks = 0, dataRow = 0;
      std::vector<char> valueLine(lineOf(stop - 1) + 1, 0);
      for (std::size_t n = 0; n < blocks.size(); ++n) {
        const Block& b = blocks[n];
        for (std::size_t k : b.valueRows) valueLine[lineOf(k)] = 1;
        std::vector<std::string_view> header;
        for (std::size_t k = b.headerFrom; k < b.headerTo; ++k)
          if (rows[k].kind == RowKind::Text || rows[k].kind == RowKind::Titled)
            header.push_back(texts[rows[k].text]);
        StartStep axis = startAndStep(header, choice.decimal);
        const Row& above = rows[b.headerTo > 0 ? b.headerTo - 1 : 0];
        if (!axis.found && b.headerTo > b.headerFrom && above.kind == RowKind::Numbers)
          axis = bareStartStep(cells.data() + b.aboveCell, above.count, b.values.size());
        if (settings.start) axis.start = *settings.start;
        if (settings.step) axis.step = *settings.step;
        axis.found = (axis.found || (settings.start && settings.step)) && axis.step != 0;
        if (settings.layout == ImportLayout::StartStep && !axis.found) {
          r.refusal = "the header gives no start and step of x";
          return r;
        }
        const bool pairs = alternate || (!axis.found && !settings.layout &&
                                         alternation(b.values) == Alternation::Pairs);
        pairBlocks += pairs ? 1 : 0;
        axisBlocks += axis.found && !pairs ? 1 : 0;
        ImportedGraph& g = r.graphs.emplace_back();
        const std::string name = blockName(header);
        g.name = blocks.size() == 1 ? fileName
                 : name.empty()     ? fileName + ", block " + std::to_string(n + 1)
                                    : name;
        const std::size_t step = pairs ? 2 : 1;
        if (pairs && b.values.size() % 2 == 1)
          r.warnings.push_back(g.name + ": the last line has no partner and gives no point");
        for (std::size_t j = 0; j + step <= b.values.size(); j += step) {
          const double x = pairs        ? b.values[j]
                           : axis.found ? axis.start + static_cast<double>(j) * axis.step
                                        : static_cast<double>(j);
          const double y = b.values[j + step - 1];
          if (!taken.takes(++dataRow) || isMissing(x) || isMissing(y)) continue;
          if (!std::isfinite(x) || !std::isfinite(y))
            ++r.nonFinite;
          else
            g.points.push_back({x, y});
        }
      }
      r.layout += ", one column";
      if (blocks.size() > 1)
        r.layout += " in " + std::to_string(blocks.size()) + " blocks, each under its own header";
      if (pairBlocks > 0) {
        r.layout += ", x and y on alternate lines";
        r.settings.layout = ImportLayout::AlternateLines;
      } else if (axisBlocks == blocks.size()) {
        r.layout += ", x from start and step";
        r.settings.layout = ImportLayout::StartStep;
      } else {
        r.layout += axisBlocks > 0 ? ", x from start and step where the header gives them"
                                   : ", x is the row number";
      }
      // The other reading, where this one was guessed.
      if (!settings.layout)
        r.layout += pairBlocks > 0 && blocks.size() == 1
                        ? " (or one column: import-with layout=first-column-x)"
                        : " (or one graph: import-with layout=first-column-x)";
      // Every line that is not a value is a comment line.
      comments.clear();
      forEachTextLine(text, [&](std::size_t number, std::string_view line) {
        if ((number >= valueLine.size() || !valueLine[number]) && !trimBlanks(line).empty())
          comments.emplace_back(trimBlanks(line));
        return true;
      });
      keepComments();
      return r;
    }
  }

  // x from a start and a step in the header, every number a y value.
  bool startStepGiven = false;  // and yet not taken, for the shape of the rows
  if (settings.layout.value_or(ImportLayout::StartStep) == ImportLayout::StartStep) {
    std::vector<std::string_view> header;
    forEachTextLine(text, [&](std::size_t number, std::string_view line) {
      if (number >= startLine) return false;
      header.push_back(line);
      return true;
    });
    StartStep axis = startAndStep(header, choice.decimal);
    bool bareAxis = false;
    // Or a line of two or three numbers alone above one column (whether it
    // agrees with the column depends on every row: none is streamed).
    const bool bareLine =
        start > firstDataRow && rows[start - 1].kind == RowKind::Numbers && width == 1;
    if (!axis.found && bareLine) {
      std::size_t values = 0;
      for (std::size_t k = start; k < stop; ++k) values += isData(k) ? rows[k].count : 0;
      axis = bareStartStep(cells.data() + startCell - rows[start - 1].count, rows[start - 1].count,
                           values);
      bareAxis = axis.found;
      // The line's numbers are no y values then.
      if (axis.found && axis.count == 0) axis.count = values;
    }
    if (settings.start) axis.start = *settings.start;
    if (settings.step) axis.step = *settings.step;
    axis.found = (axis.found || (settings.start && settings.step)) && axis.step != 0;
    startStepGiven = axis.found || bareLine;
    // The last line of values may be shorter than any other.
    std::size_t end = stop;
    while (end < rows.size() && isData(end)) ++end;
    std::size_t values = 0, lastData = start;
    for (std::size_t k = start; k < end; ++k)
      if (isData(k)) lastData = k;
    const std::size_t full = rows[start].count;
    bool shaped = true;  // every row full but the last, which may be shorter
    // A first column that runs one way is more likely x than intensities.
    int direction = 0;
    bool firstMonotonic = true;
    double last = 0;
    std::size_t cell = startCell;
    for (std::size_t k = start; k < end && axis.found; cell += rows[k++].count) {
      if (!isData(k)) continue;
      shaped = shaped && (k == lastData ? rows[k].count <= full : rows[k].count == full);
      const double v = cells[cell];
      if (values > 0) {
        const int d = v > last ? 1 : v < last ? -1 : 0;
        firstMonotonic = firstMonotonic && d != 0 && (direction == 0 || d == direction);
        direction = d;
      }
      last = v;
      values += rows[k].count;
    }
    const bool asked = settings.layout == ImportLayout::StartStep;
    if (asked || (axis.found && shaped &&
                  (axis.count == values || (axis.count == 0 && (full == 1 || !firstMonotonic))))) {
      if (!axis.found) {
        r.refusal = "the header gives no start and step of x";
        return r;
      }
      r.layout +=
          ", x from start " + formatShortest(axis.start) + " and step " + formatShortest(axis.step);
      if (bareAxis && !asked && !settings.start && !settings.step)
        r.layout +=
            " on the line above the column (or x the row number: import-with "
            "layout=first-column-x)";
      r.settings.layout = ImportLayout::StartStep;
      ImportedGraph& g = r.graphs.emplace_back();
      g.name = fileName;
      g.points.reserve(values);
      // The rows taken beyond the end of the table are no comment lines.
      comments.erase(comments.begin() + static_cast<std::ptrdiff_t>(commentsAfter),
                     comments.begin() + static_cast<std::ptrdiff_t>(commentsAfter + end - stop));
      std::size_t index = 0, dataRow = 0;
      cell = startCell;
      for (std::size_t k = start; k < end; cell += rows[k++].count) {
        if (!isData(k)) continue;
        const bool take = taken.takes(++dataRow);
        for (std::size_t j = 0; j < rows[k].count; ++j, ++index) {
          const double y = cells[cell + j];
          // A blank cell keeps its place on the axis.
          if (!take || isMissing(y)) continue;
          const double x = axis.start + static_cast<double>(index) * axis.step;
          if (!std::isfinite(y) || !std::isfinite(x))
            ++r.nonFinite;
          else
            g.points.push_back({x, y});
        }
      }
      if (axis.count != 0 && axis.count != index)
        r.warnings.push_back("the header gives " + groupedCount(axis.count) +
                             " points and the data hold " + groupedCount(index));
      keepComments();
      return r;
    }
  }

  // Column pairs x1 y1 x2 y2 ...: taken on strong evidence only.
  const bool pairsWeighed =
      width >= 4 && width % 2 == 0 &&
      settings.layout.value_or(ImportLayout::ColumnPairs) == ImportLayout::ColumnPairs;
  const bool titlesRepeat = titlesRepeatPerPair(titles, width);
  PairColumns pairColumns =
      pairsWeighed ? pairColumnsOf(rows, cells, start, stop, startCell, width) : PairColumns();
  const PairEvidence pairs = pairsWeighed ? pairColumns.evidence(titlesRepeat) : PairEvidence{};
  if (settings.layout == ImportLayout::ColumnPairs || (!settings.layout && pairs.strong())) {
    r.layout += ", " + std::to_string(width / 2) + " column pairs (x, y)";
    r.settings.layout = ImportLayout::ColumnPairs;
    // The y titles name the graphs when they tell them apart.
    bool distinct = true;
    for (std::size_t a = 1; a < width && distinct; a += 2)
      for (std::size_t b = a + 2; b < width && distinct; b += 2)
        distinct =
            a < titles.size() && b < titles.size() && !titles[a].empty() && titles[a] != titles[b];
    for (std::size_t p = 0; 2 * p + 1 < width; ++p) {
      ImportedGraph& g = r.graphs.emplace_back();
      g.name = distinct ? titles[2 * p + 1] : fileName + ", pair " + std::to_string(p + 1);
    }
    std::size_t cell = startCell, dataRow = 0;
    for (std::size_t k = start; k < stop; cell += rows[k++].count) {
      if (!isData(k) || !taken.takes(++dataRow)) continue;
      const double* v = cells.data() + cell;
      for (std::size_t p = 0; 2 * p + 1 < width && 2 * p + 1 < rows[k].count; ++p) {
        const double x = v[2 * p], y = v[2 * p + 1];
        // A blank cell is no point in that pair's graph (pairs of different
        // lengths end in blank cells).
        if (isMissing(x) || isMissing(y)) continue;
        r.nonFinite += (std::isfinite(x) ? 0 : 1) + (std::isfinite(y) ? 0 : 1);
        if (std::isfinite(x) && std::isfinite(y)) r.graphs[p].points.push_back({x, y});
      }
    }
    keepComments();
    return r;
  }
  const std::size_t pairWarningAt = r.warnings.size();
  if (pairs.close()) r.warnings.push_back(pairWarning(pairs));

  // x and the y columns (from 0; kNone: x is the row number).
  const std::size_t xColumn = settings.xColumn
                                  ? (*settings.xColumn == 0 ? kNone : *settings.xColumn - 1)
                                  : (width == 1 ? kNone : 0);
  if (xColumn != kNone && xColumn >= width) {
    r.refusal = "x is to be column " + std::to_string(xColumn + 1) + " and the table has " +
                std::to_string(width) + (width == 1 ? " column" : " columns");
    return r;
  }
  std::vector<std::size_t> yColumns;
  if (settings.columns) {
    for (std::size_t c : *settings.columns) {
      if (c - 1 < width) {
        yColumns.push_back(c - 1);
      } else {
        r.warnings.push_back("column " + std::to_string(c) + " is beyond the table's " +
                             std::to_string(width) + " columns and makes no graph");
      }
    }
  } else {
    for (std::size_t c = 0; c < width; ++c)
      if (c != xColumn) yColumns.push_back(c);
  }
  r.settings.xColumn = xColumn == kNone ? 0 : xColumn + 1;
  r.settings.columns.emplace();
  for (std::size_t c : yColumns) r.settings.columns->push_back(c + 1);
  r.settings.layout = ImportLayout::FirstColumnX;
  if (xColumn == kNone)
    r.layout += width == 1 ? ", one column (x is the row number)" : ", x is the row number";
  else if (xColumn != 0)
    r.layout += ", x in column " + std::to_string(xColumn + 1);

  const std::size_t graphs = yColumns.size();
  // The graphs of a block: named by the block (when the file has several)
  // and by the column titles.
  auto nameBlock = [&](std::size_t base, const std::string& block,
                       const std::vector<std::string>& columnTitles) {
    for (std::size_t k = 0; k < graphs; ++k) {
      ImportedGraph& g = r.graphs[base + k];
      const std::size_t c = yColumns[k];
      const std::string column = c < columnTitles.size() && !columnTitles[c].empty()
                                     ? columnTitles[c]
                                     : "column " + std::to_string(c + 1);
      if (!block.empty())
        g.name = graphs == 1 ? block : std::string(block).append(", ").append(column);
      else if (c < columnTitles.size() && !columnTitles[c].empty())
        g.name = columnTitles[c];
      else
        g.name = graphs == 1 ? fileName : std::string(fileName).append(", ").append(column);
    }
  };
  auto addBlock = [&](const std::string& block, const std::vector<std::string>& columnTitles) {
    const std::size_t base = r.graphs.size();
    r.graphs.resize(base + graphs);
    nameBlock(base, block, columnTitles);
  };
  addBlock("", titles);
  for (ImportedGraph& g : r.graphs) g.points.reserve(dataRows);
  // Data blocks each under header lines of their own (multi-region
  // exports): a new block where x turns back after text lines, or where
  // those lines name it.
  const bool blocks = !settings.layout && xColumn != kNone;
  std::size_t blockCount = 1, blockBase = 0, headerFrom = start;
  bool textSince = false;
  auto headerLines = [&](std::size_t from, std::size_t to) {
    std::vector<std::string_view> lines;
    for (std::size_t k = from; k < to; ++k)
      if (!isData(k)) lines.push_back(texts[rows[k].text]);
    return lines;
  };
  auto titlesOf = [&](const std::vector<std::string_view>& lines) {
    std::vector<std::string> out;
    if (lines.empty() || lines.back().find('=') != std::string_view::npos) return out;
    splitFields(lines.back(), choice.separator, fields);
    if (fields.size() == width)
      for (std::string_view f : fields) out.emplace_back(f);
    return out;
  };
  std::size_t wider = 0, withoutX = 0, firstWithoutX = 0;
  std::size_t cell = startCell;
  // Where x first turns back: the first column may then not be one x axis.
  double lastX = std::numeric_limits<double>::quiet_NaN();
  int direction = 0;
  std::size_t turn = rows.size();
  std::size_t dataRow = 0;  // from 1
  for (std::size_t k = start; k < stop; cell += rows[k++].count) {
    if (!isData(k)) {
      if (k > start && !textSince) {
        textSince = true;
        headerFrom = k;
      }
      continue;
    }
    const Row& row = rows[k];
    const double* v = cells.data() + cell;
    // The row number stays taken by a row left out.
    const double x = xColumn == kNone      ? static_cast<double>(dataRow)
                     : xColumn < row.count ? v[xColumn]
                                           : kMissing;
    const bool hasX = !isMissing(x);
    const bool finiteX = std::isfinite(x);
    if (textSince && blocks) {
      const std::vector<std::string_view> header = headerLines(headerFrom, k);
      const std::string name = blockName(header);
      const bool turnsBack =
          finiteX && direction != 0 && std::isfinite(lastX) && (x - lastX) * direction <= 0;
      if (turnsBack || !name.empty()) {
        if (blockCount++ == 1) {
          // The first block is named now that there are several.
          const std::string first = blockName(headerLines(0, start));
          nameBlock(0, first.empty() ? fileName + ", block 1" : first, titles);
        }
        blockBase = r.graphs.size();
        addBlock(name.empty() ? fileName + ", block " + std::to_string(blockCount) : name,
                 titlesOf(header));
        lastX = std::numeric_limits<double>::quiet_NaN();
        direction = 0;
      }
    }
    textSince = false;
    if (!taken.takes(++dataRow)) continue;
    if (row.count > width && width > 1) ++wider;
    r.nonFinite += hasX && !finiteX ? 1 : 0;
    if (hasX && finiteX) {
      const int step = x > lastX ? 1 : x < lastX ? -1 : 0;
      if (step != 0 && direction != 0 && step != direction && turn == rows.size()) turn = k;
      if (step != 0) direction = step;
      lastX = x;
    }
    // A blank cell is no point in that graph at this row (a blank x: in
    // none); the graphs go on.
    if (!hasX) {
      if (withoutX++ == 0) firstWithoutX = k;
      continue;
    }
    for (std::size_t c = 0; c < graphs; ++c) {
      if (yColumns[c] >= row.count || isMissing(v[yColumns[c]])) continue;
      // A value that is not finite gives no point; the graph goes on.
      const double y = v[yColumns[c]];
      if (!std::isfinite(y))
        ++r.nonFinite;
      else if (finiteX)
        r.graphs[blockBase + c].points.push_back({x, y});
    }
  }
  if (withoutX > 0)
    r.warnings.push_back("line " + lineNumber(firstWithoutX) +
                         (withoutX == 1 ? std::string(": the row has no x value and gives no point")
                                        : " and " + std::to_string(withoutX - 1) +
                                              " more rows have no x value and give no point"));
  const ImportLayout asked = settings.layout.value_or(ImportLayout::StackedScans);
  if (tail) {
    // More rows only add points when they cannot change what was decided
    // on these: the table ends in a run of full rows of numbers (its start
    // and end stay), x has not turned back, the header gives no start and
    // step of x and the layout is not one that looks at all the points.
    bool fullRows = rows.size() >= 3;
    for (std::size_t k = rows.size() - std::min<std::size_t>(rows.size(), 3); k < rows.size(); ++k)
      fullRows = fullRows && rows[k].kind == RowKind::Numbers && rows[k].count == width;
    tail->open = fullRows && turn == rows.size() && !startStepGiven && !mayAlternate &&
                 labels == 0 && graphs > 0 &&
                 settings.layout.value_or(ImportLayout::FirstColumnX) == ImportLayout::FirstColumnX;
    tail->choice = choice;
    tail->width = width;
    tail->xColumn = xColumn;
    tail->yColumns = yColumns;
    tail->blockBase = blockBase;
    tail->taken = taken;
    tail->dataRow = dataRow;
    tail->rows = rows.size();
    tail->lastX = lastX;
    tail->direction = direction;
    tail->pairsWeighed = pairsWeighed;
    tail->titlesRepeat = titlesRepeat;
    tail->pairColumns = std::move(pairColumns);
    tail->pairWarningAt = pairWarningAt;
    tail->pairWarned = pairs.close();
  }
  if (blockCount > 1) {
    r.layout += ", " + std::to_string(blockCount) + " data blocks";
    turn = rows.size();  // each block was checked on its own
  }
  if (graphs == 1 && blockCount == 1 && asked == ImportLayout::StackedScans &&
      (turn < rows.size() || settings.layout)) {
    std::vector<std::vector<Point>> scans = stackedScans(r.graphs[0].points);
    // Asked for: every turn back starts a scan.
    if (scans.empty() && settings.layout) scans = runsOnward(r.graphs[0].points);
    if (scans.size() > 1) {
      r.layout += ", " + std::to_string(scans.size()) + " scans one after another";
      r.settings.layout = ImportLayout::StackedScans;
      const std::string name = r.graphs[0].name;
      r.graphs.resize(scans.size());
      for (std::size_t k = 0; k < scans.size(); ++k) {
        r.graphs[k].name = name + ", scan " + std::to_string(k + 1);
        r.graphs[k].points = std::move(scans[k]);
      }
      turn = rows.size();
    }
  }
  if (turn < rows.size() && !settings.layout)
    r.warnings.push_back("line " + lineNumber(turn) +
                         ": the first column, taken as x, turns back here (it is not "
                         "monotonic); check that the file holds one x column and one scan");
  if (wider > 0)
    r.warnings.push_back(std::to_string(wider) + (wider == 1 ? " line has" : " lines have") +
                         " more than " + std::to_string(width) +
                         " values; the extra values were left out");
  keepComments();
  return r;
}

}  // namespace

namespace {

/// The end of a table's reading, once every row is in: a column blank (or
/// not finite) in every row makes no graph, and a table without a point is
/// refused with the reason.
void finishTable(ImportResult& r, const std::vector<std::string_view>& sample) {
  if (r.refusal) return;
  if (r.pointCount() > 0) {
    dropEmptyGraphs(r, "");
    return;
  }
  // Graphs without a single point are no import: the summary says why.
  std::string why;
  if (const std::string layouts = mixedLayouts(sample); !layouts.empty()) {
    why = "the lines of numbers mix separators (" + layouts + "; read with " + r.layout + ")";
  } else {
    if (r.nonFinite > 0)
      why = std::to_string(r.nonFinite) + (r.nonFinite == 1 ? " value is" : " values are") +
            " nan, inf or beyond the number range";
    else if (!r.warnings.empty())
      why = r.warnings.front();
    if (const std::size_t textLines = r.commentCount(); textLines > 0)
      why += (why.empty() ? "" : "; ") + std::to_string(textLines) +
             (textLines == 1 ? " line is" : " lines are") + " not numbers with " + r.layout;
  }
  r.graphs.clear();
  r.refusal = "no points" + (why.empty() ? std::string() : ": " + why);
}

}  // namespace

std::string_view completeLines(std::string_view text) {
  const std::size_t end = text.find_last_of("\r\n");
  return text.substr(0, end == std::string_view::npos ? 0 : end + 1);
}

std::vector<std::string_view> tableSample(std::string_view text, const ImportSettings& settings) {
  std::vector<std::string_view> sample;
  const std::size_t notData =
      std::max(settings.skipLines.value_or(0), settings.headerRow.value_or(0));
  forEachTextLine(text, [&](std::size_t number, std::string_view line) {
    if (number >= notData && !trimBlanks(line).empty()) sample.push_back(line);
    return sample.size() < kTableSampleLines;
  });
  return sample;
}

std::size_t tableSampleEnd(std::string_view text, const ImportSettings& settings) {
  text = completeLines(text);
  const std::vector<std::string_view> sample = tableSample(text, settings);
  if (sample.size() < kTableSampleLines) return 0;
  // Past the line end of the last line of the sample (there is one: the
  // lines are complete).
  const auto lastEnd =
      static_cast<std::size_t>(sample.back().data() - text.data()) + sample.back().size();
  return text.find_first_of("\r\n", lastEnd) + 1;
}

ImportResult importTable(std::string_view text, const std::string& fileName,
                         const ImportSettings& settings) {
  const std::vector<std::string_view> sample = tableSample(text, settings);
  ImportResult r = readTable(text, fileName, sample, settings);
  finishTable(r, sample);
  return r;
}

TableStream::TableStream(std::string_view head, const std::string& fileName,
                         const ImportSettings& settings)
    : m_tail(std::make_unique<TableTail>()) {
  head = completeLines(head);
  m_sample = tableSample(head, settings);
  // Without the whole sample the rest of the file could choose another
  // separator or decimal mark.
  if (m_sample.size() < kTableSampleLines) return;
  m_result = readTable(head, fileName, m_sample, settings, m_tail.get());
  if (m_result.refusal) m_tail->open = false;
}

TableStream::~TableStream() = default;

bool TableStream::open() const {
  return m_tail->open;
}

void TableStream::expectRows(std::uint64_t rows) {
  if (!open()) return;
  const TableTail& t = *m_tail;
  // Only the rows taken add points.
  const RowRange& taken = t.taken;
  std::uint64_t first = std::max<std::uint64_t>(t.dataRow + 1, taken.from);
  std::uint64_t last = t.dataRow + rows;
  if (taken.to != 0) last = std::min<std::uint64_t>(last, taken.to);
  std::uint64_t more = 0;
  if (last >= first) {
    const std::uint64_t step = std::max<std::size_t>(taken.step, 1);
    first += (step - (first - taken.from) % step) % step;  // the first row taken
    more = last >= first ? (last - first) / step + 1 : 0;
  }
  for (std::size_t c = 0; c < t.yColumns.size(); ++c) {
    std::vector<Point>& points = m_result.graphs[t.blockBase + c].points;
    reservePoints(points, points.size() + static_cast<std::size_t>(std::min<std::uint64_t>(
                                              more, points.max_size() - points.size())));
  }
}

bool TableStream::feed(std::string_view lines) {
  if (!open()) return false;
  bool plain = true;
  forEachTextLine(lines, [&](std::size_t, std::string_view line) {
    plain = row(line);
    return plain;
  });
  if (!plain) m_tail->open = false;
  return plain;
}

bool TableStream::row(std::string_view line) {
  TableTail& t = *m_tail;
  m_cells.clear();
  if (!readNumberLine(line, t.choice.separator, t.choice.decimal, m_cells)) {
    // A line without a field (blank, or separators only) is no row.
    splitFields(line, t.choice.separator, m_fields);
    return m_fields.empty();
  }
  // The table reader takes no more rows than that.
  if (m_cells.size() != t.width || t.rows >= UINT32_MAX) return false;
  ++t.rows;
  if (t.pairsWeighed) t.pairColumns.add(m_cells.data(), m_cells.size());
  // The row number stays taken by a row left out.
  const double x = t.xColumn == kNone ? static_cast<double>(t.dataRow) : m_cells[t.xColumn];
  if (!t.taken.takes(++t.dataRow)) return true;
  if (!std::isfinite(x)) return false;
  const int step = x > t.lastX ? 1 : x < t.lastX ? -1 : 0;
  // x turning back may make scans of a curve, or a warning.
  if (step != 0 && t.direction != 0 && step != t.direction) return false;
  if (step != 0) t.direction = step;
  t.lastX = x;
  for (std::size_t c = 0; c < t.yColumns.size(); ++c) {
    const double y = m_cells[t.yColumns[c]];
    if (!std::isfinite(y)) return false;
    m_result.graphs[t.blockBase + c].points.push_back({x, y});
  }
  return true;
}

std::optional<ImportResult> TableStream::finish() {
  if (!open()) return std::nullopt;
  TableTail& t = *m_tail;
  t.open = false;
  ImportResult& r = m_result;
  if (t.pairsWeighed) {
    // The rows that came may have made the odd columns look like x columns.
    const PairEvidence pairs = t.pairColumns.evidence(t.titlesRepeat);
    if (pairs.strong()) return std::nullopt;
    if (t.pairWarned)
      r.warnings.erase(r.warnings.begin() + static_cast<std::ptrdiff_t>(t.pairWarningAt));
    if (pairs.close())
      r.warnings.insert(r.warnings.begin() + static_cast<std::ptrdiff_t>(t.pairWarningAt),
                        pairWarning(pairs));
  }
  // The points had room for every line; give back what blank lines left.
  for (ImportedGraph& g : r.graphs)
    if (g.points.capacity() > g.points.size() + g.points.size() / 2) g.points.shrink_to_fit();
  finishTable(r, m_sample);
  return std::move(r);
}

}  // namespace varnix
