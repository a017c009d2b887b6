#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <set>

#include "import/import_result.h"
#include "workspace/number_text.h"

namespace varnix {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

/// A label as the standard compares them: upper case, without blanks,
/// dashes, slashes and underscores ("##PEAK TABLE" is PEAKTABLE).
std::string normalLabel(std::string_view label) {
  std::string out;
  for (char c : label) {
    if (c == ' ' || c == '-' || c == '/' || c == '_' || c == '\t') continue;
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

std::string pointsRead(std::size_t n) {
  return std::to_string(n) + (n == 1 ? " point was read" : " points were read");
}

std::string lineName(std::size_t line) {
  return "line " + std::to_string(line + 1);
}

/// An AFFN number at p: sign, digits, point, and an exponent written with a
/// sign ("1.5E+03"; "E3" without one is compressed data, not an exponent).
bool readAffn(std::string_view s, std::size_t& i, double& out) {
  const std::size_t start = i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  const std::size_t digits = i;
  while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
  if (i == digits) {
    i = start;
    return false;
  }
  if (i + 2 < s.size() && (s[i] == 'E' || s[i] == 'e') && (s[i + 1] == '+' || s[i + 1] == '-') &&
      std::isdigit(static_cast<unsigned char>(s[i + 2]))) {
    i += 2;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  }
  const std::string_view text = s.substr(start, i - start);
  if (text.find_first_of("0123456789") == std::string_view::npos) return false;
  const char* end = text.data() + text.size();
  const char* stop = scanDataNumber(text.data(), end, out);
  // With a digit there, only a value beyond the 64-bit range fails to scan:
  // read as infinite, it gives no point.
  if (!stop) out = HUGE_VAL;
  return !stop || stop == end;
}

/// The forms a line of compressed data was written in.
struct Forms {
  bool affn = false, sqz = false, dif = false, dup = false;
};

/// One line of (X++(Y..Y)) data in AFFN or ASDF form: the x value, then the
/// y values. `endsInDif`: the last value came from a difference, so the next
/// line starts with a check value. False with `error` on a character that
/// belongs to no form.
bool decodeLine(std::string_view s, std::size_t limit, std::vector<double>& values, bool& endsInDif,
                Forms& forms, std::string& error) {
  values.clear();
  endsInDif = false;
  double last = 0, lastDif = 0;
  bool difMode = false;
  std::size_t i = 0;
  // The digits after a compressed character: its value continues with them.
  auto digitsAfter = [&](int lead) {
    std::string text = std::to_string(std::abs(lead));
    while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.'))
      text += s[i++];
    double v = 0;
    if (!scanDataNumber(text.data(), text.data() + text.size(), v)) v = HUGE_VAL;
    return lead < 0 ? -v : v;
  };
  while (i < s.size()) {
    const char c = s[i];
    if (c == ' ' || c == '\t' || c == ',' || c == ';') {
      ++i;
      continue;
    }
    if (c == '$' && i + 1 < s.size() && s[i + 1] == '$') break;  // a comment ends the data
    double v = 0;
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-') {
      if (!readAffn(s, i, v)) {
        error = std::string("'") + c + "' is no number";
        return false;
      }
      // The x at the start of a line is always written so.
      if (!values.empty()) forms.affn = true;
      values.push_back(v);
      last = v;
      difMode = false;
      continue;
    }
    ++i;
    if (c == '@' || (c >= 'A' && c <= 'I') || (c >= 'a' && c <= 'i')) {
      const int lead = c == '@' ? 0 : c <= 'I' ? c - 'A' + 1 : -(c - 'a' + 1);
      v = digitsAfter(lead);
      values.push_back(v);
      last = v;
      difMode = false;
      forms.sqz = true;
    } else if (c == '%' || (c >= 'J' && c <= 'R') || (c >= 'j' && c <= 'r')) {
      if (values.empty()) {
        error = "a difference has no value before it";
        return false;
      }
      const int lead = c == '%' ? 0 : c <= 'R' ? c - 'J' + 1 : -(c - 'j' + 1);
      lastDif = digitsAfter(lead);
      last += lastDif;
      values.push_back(last);
      difMode = true;
      forms.dif = true;
    } else if ((c >= 'S' && c <= 'Z') || c == 's') {
      if (values.empty()) {
        error = "a repeat has no value before it";
        return false;
      }
      const double count = digitsAfter(c == 's' ? 9 : c - 'S' + 1);
      if (!(count >= 1 &&
            static_cast<double>(values.size()) + count <= static_cast<double>(limit))) {
        error = "a repeat count is out of range";
        return false;
      }
      for (double k = 1; k < count; ++k) {
        if (difMode) last += lastDif;
        values.push_back(last);
      }
      forms.dup = true;
    } else {
      error = std::string("unexpected character '") + c + "'";
      return false;
    }
  }
  endsInDif = difMode;
  return true;
}

struct DataLine {
  std::size_t line;
  std::string_view text;
};

enum class Table { None, XyData, Points };

struct Block {
  std::string title;
  std::string page;  ///< the ##PAGE= of an NTUPLES page
  std::map<std::string, std::string> labels;
  std::vector<std::string> comments;
  Table table = Table::None;
  bool collecting = false;  ///< the lines that follow are the table's
  std::size_t tableLine = 0;
  std::size_t group = 2;  ///< values per point of a points table
  std::vector<DataLine> data;
};

/// The comma-separated items of a label's value, trimmed.
std::vector<std::string> listOf(const Block& b, const std::string& label) {
  std::vector<std::string> out;
  const auto it = b.labels.find(label);
  if (it == b.labels.end()) return out;
  std::string_view v = it->second;
  while (true) {
    const std::size_t comma = v.find(',');
    out.emplace_back(trim(v.substr(0, comma)));
    if (comma == std::string_view::npos) return out;
    v.remove_prefix(comma + 1);
  }
}

/// An NTUPLES page's table as the labels of a plain spectrum: FIRSTX,
/// LASTX, XFACTOR, YFACTOR and NPOINTS from the columns of the header's
/// lists that belong to x and to the page's y symbol (labels of the page
/// itself win). The y variable's name, or empty.
std::string ntuplesLabels(Block& b, const std::string& ySymbol) {
  const std::vector<std::string> symbols = listOf(b, "SYMBOL");
  auto column = [&](const std::string& symbol) {
    for (std::size_t k = 0; k < symbols.size(); ++k)
      if (normalLabel(symbols[k]) == symbol) return k;
    return symbols.size();
  };
  const std::size_t x = column("X"), y = column(ySymbol);
  auto set = [&](const char* label, const char* list, std::size_t k) {
    const std::vector<std::string> items = listOf(b, list);
    if (k < items.size() && !items[k].empty()) b.labels.try_emplace(label, items[k]);
  };
  set("FIRSTX", "FIRST", x);
  set("LASTX", "LAST", x);
  set("XFACTOR", "FACTOR", x);
  set("NPOINTS", "VARDIM", x);
  set("YFACTOR", "FACTOR", y);
  const std::vector<std::string> names = listOf(b, "VARNAME");
  return y < names.size() ? names[y] : std::string();
}

std::optional<double> labelNumber(const Block& b, const std::string& label) {
  const auto it = b.labels.find(label);
  if (it == b.labels.end()) return std::nullopt;
  std::string_view v = trim(it->second);
  if (!v.empty() && v[0] == '+') v.remove_prefix(1);
  double out = 0;
  const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), out);
  if (error != std::errc() || end == v.data()) return std::nullopt;
  return out;
}

/// Agreement of two values within `fraction` of a step (or a millionth of
/// the value, without a step).
bool closeTo(double a, double b, double step, double fraction) {
  const double tolerance = step != 0 ? std::fabs(step) * fraction : std::fabs(b) * 1e-6 + 1e-12;
  return std::fabs(a - b) <= tolerance;
}

void readXyData(const Block& b, ImportedGraph& g, std::vector<std::string>& warnings,
                Forms& forms) {
  const double xFactor = labelNumber(b, "XFACTOR").value_or(1);
  const double yFactor = labelNumber(b, "YFACTOR").value_or(1);
  const std::optional<double> firstX = labelNumber(b, "FIRSTX");
  const std::optional<double> lastX = labelNumber(b, "LASTX");
  const std::optional<double> deltaX = labelNumber(b, "DELTAX");
  const std::optional<double> nPoints = labelNumber(b, "NPOINTS");
  std::vector<double> ys;
  struct LineStart {
    std::size_t index;  ///< of the point its x belongs to
    double x;           ///< the line's own x
    std::size_t line;
  };
  std::vector<LineStart> lineStarts;
  std::vector<double> values;
  bool checkNext = false;
  double lastY = 0;
  // Repeats may not make more values than the spectrum can have.
  const std::size_t most = nPoints && *nPoints >= 0 && *nPoints < 1e8
                               ? static_cast<std::size_t>(*nPoints) * 2 + 16
                               : std::size_t{50'000'000};
  for (const DataLine& d : b.data) {
    bool endsInDif = false;
    std::string error;
    const std::size_t limit = most > ys.size() ? most - ys.size() : 2;
    if (!decodeLine(d.text, limit, values, endsInDif, forms, error)) {
      warnings.push_back(lineName(d.line) + ": " + error + "; the rest of the line was left out");
      if (values.empty()) continue;
    }
    if (values.empty()) continue;
    std::size_t firstY = 1;
    bool checked = false;
    if (checkNext && values.size() > 1) {
      // The line repeats the last y of the line before as a check.
      if (values[1] != lastY)
        warnings.push_back(lineName(d.line) + ": the y check value " + formatShortest(values[1]) +
                           " differs from the last value of the line before (" +
                           formatShortest(lastY) + ")");
      firstY = 2;
      checked = true;
    }
    if (firstY >= values.size()) {
      checkNext = endsInDif;
      continue;
    }
    // A checked line's x belongs to its check value: the last point read.
    lineStarts.push_back({checked ? ys.size() - 1 : ys.size(), values[0] * xFactor, d.line});
    ys.insert(ys.end(), values.begin() + static_cast<std::ptrdiff_t>(firstY), values.end());
    lastY = ys.back();
    checkNext = endsInDif;
  }
  const std::size_t n = ys.size();
  if (n == 0) return;
  // x from FIRSTX, LASTX and NPOINTS (the standard's way; the count read
  // stands in for a missing NPOINTS), else from the lines' own x and the step.
  const std::size_t count =
      nPoints && *nPoints >= 2 && *nPoints <= 1e9 ? static_cast<std::size_t>(*nPoints) : n;
  double step = 0;
  if (firstX && lastX && count > 1)
    step = (*lastX - *firstX) / static_cast<double>(count - 1);
  else if (deltaX)
    step = *deltaX;
  else if (lineStarts.size() > 1 && lineStarts[1].index > lineStarts[0].index)
    step = (lineStarts[1].x - lineStarts[0].x) /
           static_cast<double>(lineStarts[1].index - lineStarts[0].index);
  const double x0 = firstX ? *firstX : lineStarts.front().x;
  g.points.resize(n);
  for (std::size_t k = 0; k < n; ++k)
    g.points[k] = {firstX && lastX && k + 1 == count ? *lastX : x0 + static_cast<double>(k) * step,
                   ys[k] * yFactor};
  const std::string where = lineName(b.tableLine) + " (##XYDATA=)";
  if (nPoints && *nPoints != static_cast<double>(n))
    warnings.push_back(where + ": ##NPOINTS= says " + formatShortest(*nPoints) + ", " +
                       pointsRead(n));
  if (deltaX && firstX && lastX && n > 1 && !closeTo(*deltaX, step, step, 0.01))
    warnings.push_back(where + ": ##DELTAX= " + formatShortest(*deltaX) +
                       " does not agree with FIRSTX, LASTX and NPOINTS (" + formatShortest(step) +
                       ")");
  for (const LineStart& start : lineStarts) {
    // Writers round a line's x (often to whole units): half a step is allowed.
    if (!closeTo(start.x, g.points[start.index].x, step, 0.5)) {
      warnings.push_back(lineName(start.line) + ": the line's x " + formatShortest(start.x) +
                         " does not agree with FIRSTX and the step (" +
                         formatShortest(g.points[start.index].x) + ")");
      break;
    }
  }
}

void readPoints(const Block& b, ImportedGraph& g, std::vector<std::string>& warnings) {
  const double xFactor = labelNumber(b, "XFACTOR").value_or(1);
  const double yFactor = labelNumber(b, "YFACTOR").value_or(1);
  std::vector<double> group;
  bool missing = false;  // a "?" in the group
  for (const DataLine& d : b.data) {
    std::size_t i = 0;
    const std::string_view s = d.text;
    while (i < s.size()) {
      const char c = s[i];
      if (c == ' ' || c == '\t' || c == ',' || c == ';') {
        ++i;
        continue;
      }
      if (c == '$') break;
      double v = 0;
      if (c == '?') {  // a missing value: the point is left out
        missing = true;
        ++i;
      } else if (!readAffn(s, i, v)) {
        warnings.push_back(lineName(d.line) + ": unexpected character '" + std::string(1, c) +
                           "'; the rest of the line was left out");
        break;
      }
      group.push_back(v);
      if (group.size() == b.group) {
        if (!missing) g.points.push_back({group[0] * xFactor, group[1] * yFactor});
        group.clear();
        missing = false;
      }
    }
  }
  const std::optional<double> nPoints = labelNumber(b, "NPOINTS");
  if (nPoints && *nPoints != static_cast<double>(g.points.size()))
    warnings.push_back(lineName(b.tableLine) + ": ##NPOINTS= says " + formatShortest(*nPoints) +
                       ", " + pointsRead(g.points.size()));
}

/// Leaves out the points with an x or y that is not finite (nan, or beyond
/// the 64-bit range after the factors and the step); returns how many such
/// values there were.
std::size_t dropNonFinite(std::vector<Point>& points) {
  std::size_t values = 0;
  std::erase_if(points, [&](const Point& p) {
    const std::size_t bad = (std::isfinite(p.x) ? 0 : 1) + (std::isfinite(p.y) ? 0 : 1);
    values += bad;
    return bad > 0;
  });
  return values;
}

}  // namespace

bool looksLikeJcamp(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos || text.substr(first, 2) != "##") return false;
  // Instruments also write "##KEY=value" headers above a plain table: only a
  // JCAMP-DX version or data label makes the file JCAMP-DX.
  bool found = false;
  forEachTextLine(text, [&](std::size_t, std::string_view line) {
    line = trim(line);
    if (line.substr(0, 2) != "##") return true;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return true;
    const std::string label = normalLabel(line.substr(2, eq - 2));
    found = label == "JCAMPDX" || label == "XYDATA" || label == "XYPOINTS" ||
            label == "PEAKTABLE" || label == "DATATABLE" || label == "NTUPLES" || label == "BLOCKS";
    return !found;
  });
  return found;
}

ImportResult importJcamp(std::string_view text, const std::string& fileName) {
  ImportResult r;
  const std::vector<std::string_view> lines = splitLines(text);
  std::vector<Block> blocks;
  std::vector<std::string> outside;  // records outside any block
  Block* current = nullptr;
  std::string version;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = trim(lines[i]);
    if (line.empty()) continue;
    std::vector<std::string>& comments = current ? current->comments : outside;
    if (line.substr(0, 2) == "##") {
      const std::size_t eq = line.find('=');
      const std::string label =
          normalLabel(line.substr(2, eq == std::string_view::npos ? eq : eq - 2));
      std::string_view value =
          eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1);
      if (const std::size_t c = value.find("$$"); c != std::string_view::npos)
        value = value.substr(0, c);
      value = trim(value);
      if (label == "TITLE") {
        blocks.emplace_back();
        current = &blocks.back();
        current->title = std::string(value);
      }
      if (label == "JCAMPDX" && version.empty()) version = std::string(value);
      if (!current) {
        outside.emplace_back(line);
        continue;
      }
      current->comments.emplace_back(line);
      current->labels[label] = std::string(value);
      current->collecting = false;
      const std::string form = normalLabel(value);
      Table table = Table::None;
      std::size_t group = 2;
      // A new block with the header's title and labels, for the next table.
      auto startBlock = [&] {
        Block next;
        next.title = current->title;
        next.labels = current->labels;
        blocks.push_back(std::move(next));
        current = &blocks.back();
      };
      if (label == "XYDATA") {
        if (form == "(X++(Y..Y))") {
          table = Table::XyData;
        } else {
          r.warnings.push_back(lineName(i) + ": ##XYDATA=" + std::string(value) +
                               " is a form this reader does not take; its data were left out");
        }
      } else if (label == "PAGE") {
        // A page of NTUPLES: a graph of its own, with the header's labels.
        if (current->table != Table::None) startBlock();
        current->page = std::string(value);
      } else if (label == "DATATABLE") {
        // "(X++(R..R)), XYDATA", "(XY..XY), PEAKS" and the like.
        const std::size_t comma = form.rfind(',');
        const std::string shape = form.substr(0, comma);
        const std::string kind = comma == std::string::npos ? "" : form.substr(comma + 1);
        const std::size_t dots = shape.find("..");
        if (kind == "XYDATA" && shape.size() == 11 && shape.compare(0, 5, "(X++(") == 0 &&
            shape.compare(6, 2, "..") == 0 && shape[5] == shape[8] && shape.substr(9) == "))") {
          table = Table::XyData;
          current->labels["DATATABLEY"] = std::string(1, shape[5]);
        } else if ((kind == "XYPOINTS" || kind == "PEAKS") && shape.size() > 2 &&
                   shape.front() == '(' && dots != std::string::npos && dots >= 3 &&
                   dots - 1 <= 3) {
          table = Table::Points;
          group = dots - 1;
        } else {
          r.warnings.push_back(lineName(i) + ": ##DATA TABLE=" + std::string(value) +
                               " is a form this reader does not take; its data were left out");
        }
      } else if (label == "PEAKASSIGNMENTS") {
        r.warnings.push_back(lineName(i) + ": ##PEAK ASSIGNMENTS=" + std::string(value) +
                             " is a form this reader does not take; its data were left out");
      } else if (label == "XYPOINTS" || label == "PEAKTABLE") {
        // (XY..XY), or with a width or multiplicity (XYW..XYW).
        const std::size_t dots = form.find("..");
        const std::size_t letters = dots == std::string::npos || dots < 1 ? 0 : dots - 1;
        if (form.size() > 2 && form.front() == '(' && letters >= 2 && letters <= 3) {
          table = Table::Points;
          group = letters;
        } else {
          r.warnings.push_back(lineName(i) + ": ##" + std::string(line.substr(2, eq - 2)) + "=" +
                               std::string(value) + " is a form this reader does not take");
        }
      }
      if (table != Table::None) {
        // A second table in one block: a graph of its own.
        if (current->table != Table::None) startBlock();
        current->table = table;
        current->group = group;
        current->collecting = true;
        current->tableLine = i;
      }
      if (label == "END") current = nullptr;
      continue;
    }
    if (line.substr(0, 2) == "$$" || !current || !current->collecting) {
      comments.emplace_back(line);
      continue;
    }
    current->data.push_back({i, line});
  }
  Forms forms;
  bool points = false, ntuples = false;
  for (Block& b : blocks) {
    if (b.data.empty()) continue;
    ImportedGraph g;
    g.name = b.title.empty() ? fileName : b.title;
    if (b.labels.count("NTUPLES")) {
      const auto y = b.labels.find("DATATABLEY");
      const std::string yName = ntuplesLabels(b, y == b.labels.end() ? "Y" : y->second);
      if (!b.page.empty()) g.name += ", " + b.page;
      if (!yName.empty()) g.name += " (" + yName + ")";
      ntuples = true;
    }
    if (b.table == Table::XyData) {
      readXyData(b, g, r.warnings, forms);
    } else {
      readPoints(b, g, r.warnings);
      points = true;
    }
    g.comments = std::move(b.comments);
    r.nonFinite += dropNonFinite(g.points);
    if (!g.points.empty()) r.graphs.push_back(std::move(g));
  }
  if (r.graphs.empty()) {
    r.refusal = "a JCAMP-DX file without a spectrum this reader takes";
    // Name the data that were there and not taken.
    for (const std::string& w : r.warnings)
      if (w.find("is a form this reader does not take") != std::string::npos) {
        *r.refusal += " (" + w.substr(w.find("##")) + ")";
        break;
      }
    if (r.nonFinite > 0)
      *r.refusal += " (" + std::to_string(r.nonFinite) +
                    (r.nonFinite == 1 ? " value was" : " values were") + " not finite)";
    return r;
  }
  // Records before the first block and those of a LINK block with no data
  // of its own go with the first graph.
  std::vector<std::string> leading;
  for (Block& b : blocks) {
    if (!b.data.empty()) break;
    leading.insert(leading.end(), b.comments.begin(), b.comments.end());
  }
  leading.insert(leading.end(), outside.begin(), outside.end());
  auto& first = r.graphs.front().comments;
  first.insert(first.begin(), leading.begin(), leading.end());
  r.layout = "JCAMP-DX" + (version.empty() ? std::string() : " " + version);
  std::string used;
  for (const auto& [on, name] : {std::pair{forms.affn, "AFFN"}, std::pair{forms.sqz, "SQZ"},
                                 std::pair{forms.dif, "DIF"}, std::pair{forms.dup, "DUP"}})
    if (on) used += (used.empty() ? "" : "/") + std::string(name);
  if (!used.empty()) r.layout += ", XYDATA " + used;
  if (points) r.layout += ", XY points";
  if (ntuples) r.layout += ", NTUPLES";
  if (blocks.size() > 1) r.layout += ", " + std::to_string(r.graphs.size()) + " blocks";
  return r;
}

}  // namespace varnix
