// PANalytical XRDML files: XML, read with pugixml. Each scan of each
// measurement holds its data points: the positions of the axes (a start and
// an end, or a list) and the intensities (or counts) at evenly spaced steps
// between them.
#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "import/import_result.h"
#include "workspace/number_text.h"

namespace varnix {

namespace {

constexpr std::string_view kRoot = "xrdMeasurements";

/// The numbers of an element's text, split at white space; false (and a
/// note of the first word) when a word is no number. Not finite: NaN.
bool numbersOf(const char* text, std::vector<double>& out, std::string& badWord) {
  out.clear();
  const char* p = text;
  const char* end = p + std::strlen(p);
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (p < end) {
    while (p < end && blank(*p)) ++p;
    if (p == end) break;
    const char* stop = p;
    while (stop < end && !blank(*stop)) ++stop;
    const std::string_view word(p, static_cast<std::size_t>(stop - p));
    double v = 0;
    const bool digits =
        std::any_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (const std::optional<double> d = digits ? parseDataValue(word) : std::nullopt) {
      v = *d;
    } else {
      // nan, inf and numbers beyond the range are no point, but in place.
      const auto [at, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
      if (at != word.data() + word.size() || (ec == std::errc() && std::isfinite(v))) {
        badWord = std::string(word.substr(0, 20));
        return false;
      }
      v = std::numeric_limits<double>::quiet_NaN();
    }
    out.push_back(v);
    p = stop;
  }
  return true;
}

/// The x axis of a scan: the positions of 2Theta, else of the axis that
/// moves (a start and end that differ, or a list).
struct Axis {
  std::string name, unit;
  double start = 0, end = 0;
  std::vector<double> list;
  bool found = false;
};

Axis scanAxis(const pugi::xml_node& points, std::string& problem) {
  Axis best;
  for (const pugi::xml_node& p : points.children("positions")) {
    Axis a;
    a.name = p.attribute("axis").as_string();
    a.unit = p.attribute("unit").as_string();
    std::string bad;
    if (const pugi::xml_node list = p.child("listPositions")) {
      if (!numbersOf(list.child_value(), a.list, bad)) {
        problem = "the " + a.name + " positions hold \"" + bad + "\"";
        continue;
      }
      a.found = !a.list.empty();
    } else if (p.child("startPosition") && p.child("endPosition")) {
      const std::optional<double> s = parseDataValue(p.child_value("startPosition"));
      const std::optional<double> e = parseDataValue(p.child_value("endPosition"));
      a.found = s && e && std::isfinite(*s) && std::isfinite(*e);
      if (a.found) {
        a.start = *s;
        a.end = *e;
      }
    }
    if (!a.found) continue;
    const bool moves = !a.list.empty() || a.start != a.end;
    if (a.name == "2Theta" && moves) return a;
    if (!best.found && moves) best = std::move(a);
  }
  return best;
}

}  // namespace

bool looksLikeXrdml(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos || text[first] != '<') return false;
  return text.substr(0, 4096).find("<xrdMeasurements") != std::string_view::npos;
}

ImportResult importXrdml(std::string_view text, const std::string& fileName,
                         std::size_t freeSlots) {
  ImportResult r;
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed =
      doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    r.refusal = "the XRDML file is not well-formed XML (" + std::string(parsed.description()) +
                " at byte " + std::to_string(parsed.offset) + ")";
    return r;
  }
  const pugi::xml_node root = doc.child(kRoot.data());
  if (!root) {
    r.refusal = "the XML file has no xrdMeasurements element (not XRDML)";
    return r;
  }
  std::vector<pugi::xml_node> scans;
  for (const pugi::xml_node& m : root.children("xrdMeasurement"))
    for (const pugi::xml_node& s : m.children("scan")) scans.push_back(s);
  if (scans.empty()) {
    r.refusal = "the XRDML file holds no scan";
    return r;
  }
  if (scans.size() > freeSlots) {
    r.refusal = slotRefusal(scans.size(), freeSlots);
    return r;
  }
  std::vector<std::string> comments;
  const pugi::xml_node sample = root.child("sample");
  std::string sampleName = sample.child_value("name");
  if (sampleName.empty()) sampleName = sample.child_value("id");
  if (!sampleName.empty()) comments.push_back("sample: " + sampleName);
  if (const char* type = root.child("xrdMeasurement").attribute("measurementType").as_string();
      *type)
    comments.push_back("measurement: " + std::string(type));

  std::vector<double> values;
  for (std::size_t k = 0; k < scans.size(); ++k) {
    const pugi::xml_node points = scans[k].child("dataPoints");
    ImportedGraph g;
    const std::string base = sampleName.empty() ? fileName : sampleName;
    g.name = scans.size() == 1 ? base : base + ", scan " + std::to_string(k + 1);
    std::string problem;
    const Axis axis = scanAxis(points, problem);
    pugi::xml_node counts = points.child("intensities");
    if (!counts) counts = points.child("counts");
    std::string bad;
    if (!counts) {
      problem = "it holds no intensities or counts";
    } else if (!numbersOf(counts.child_value(), values, bad)) {
      problem = "its intensities hold \"" + bad + "\"";
    } else if (!axis.found && problem.empty()) {
      problem = "it gives no positions of a moving axis";
    }
    if (!problem.empty()) {
      r.warnings.push_back(g.name + ": " + problem + "; the scan makes no graph");
      continue;
    }
    const std::size_t n =
        axis.list.empty() ? values.size() : std::min(values.size(), axis.list.size());
    if (!axis.list.empty() && axis.list.size() != values.size())
      r.warnings.push_back(g.name + ": " + std::to_string(axis.list.size()) + " positions and " +
                           std::to_string(values.size()) + " intensities; " + std::to_string(n) +
                           " points read");
    g.points.reserve(n);
    for (std::size_t j = 0; j < n; ++j) {
      double x = 0;
      if (!axis.list.empty())
        x = axis.list[j];
      else if (n == 1 || j + 1 == n)
        x = n == 1 ? axis.start : axis.end;
      else
        x = axis.start +
            (axis.end - axis.start) * (static_cast<double>(j) / static_cast<double>(n - 1));
      if (!std::isfinite(x) || !std::isfinite(values[j]))
        ++r.nonFinite;
      else
        g.points.push_back({x, values[j]});
    }
    g.comments.push_back("x: " + axis.name + (axis.unit.empty() ? "" : " (" + axis.unit + ")"));
    if (const char* unit = counts.attribute("unit").as_string(); *unit)
      g.comments.push_back("y: " + std::string(counts.name()) + " (" + unit + ")");
    if (const char* time = points.child_value("commonCountingTime"); *time)
      g.comments.push_back("counting time: " + std::string(time));
    r.graphs.push_back(std::move(g));
  }
  // What the scans share goes with the first graph.
  if (!r.graphs.empty())
    r.graphs.front().comments.insert(r.graphs.front().comments.begin(), comments.begin(),
                                     comments.end());
  r.layout = "PANalytical XRDML" +
             (scans.size() > 1 ? ", " + std::to_string(scans.size()) + " scans" : std::string());
  if (r.graphs.empty() && !r.warnings.empty()) {
    r.refusal = r.warnings.front();
    r.warnings.clear();
    return r;
  }
  dropEmptyGraphs(r, "the XRDML file holds no finite values");
  return r;
}

}  // namespace varnix
