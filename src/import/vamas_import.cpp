// VAMAS surface analysis files (ISO 14976): one item per line, an experiment
// header, then blocks, each with its own header, x from a start and an
// increment, and the values of its corresponding variables interleaved.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

#include "import/import_result.h"
#include "workspace/number_text.h"

namespace varnix {

namespace {

constexpr std::string_view kVamasMagic = "VAMAS Surface Chemical Analysis Standard Data Transfer";

/// Why the file cannot be read: the refusal.
struct VamasError {
  std::string message;
};

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

/// The file's lines, taken one item at a time.
class Items {
 public:
  explicit Items(std::string_view text) : m_lines(splitLines(text)) {}

  std::size_t left() const { return m_lines.size() - m_at; }
  std::size_t lineNumber() const { return m_at; }  // of the item last taken, from 1

  std::string_view text(const char* what) {
    if (m_at >= m_lines.size()) throw VamasError{std::string("the file ends before its ") + what};
    return trimmed(m_lines[m_at++]);
  }
  void skip(std::size_t n, const char* what) {
    if (n > left()) throw VamasError{std::string("the file ends within its ") + what};
    m_at += n;
  }
  bool number(std::string_view s, double& v) const {
    if (s.empty() || std::none_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return false;
    const char* end = s.data() + s.size();
    if (s.front() == '+') s.remove_prefix(1);
    return scanDataNumber(s.data(), end, v) == end;
  }
  double real(const char* what) {
    const std::string_view s = text(what);
    double v = 0;
    if (!number(s, v) || !std::isfinite(v))
      throw VamasError{"line " + std::to_string(m_at) + ": the " + what + " is not a number"};
    return v;
  }
  /// A count of items still to come, no more than the lines left (each at
  /// least perItem lines).
  std::size_t count(const char* what, std::size_t perItem = 1) {
    const double v = real(what);
    const std::size_t room = left() / perItem;  // whole items that still fit
    if (v < 0 || v != std::floor(v) || v > static_cast<double>(room))
      throw VamasError{"line " + std::to_string(m_at) + ": the " + what + " (" +
                       std::string(m_lines[m_at - 1]) + ") does not fit the file"};
    return static_cast<std::size_t>(v);
  }

 private:
  std::vector<std::string_view> m_lines;
  std::size_t m_at = 0;
};

bool oneOf(std::string_view s, std::initializer_list<std::string_view> words) {
  return std::find(words.begin(), words.end(), s) != words.end();
}

}  // namespace

bool looksLikeVamas(std::string_view text) {
  while (!text.empty() && (text.front() == '\r' || text.front() == '\n' || text.front() == ' '))
    text.remove_prefix(1);
  return text.substr(0, kVamasMagic.size()) == kVamasMagic;
}

ImportResult importVamas(std::string_view text, const std::string& fileName,
                         std::size_t freeSlots) {
  ImportResult r;
  try {
    Items in(text);
    in.text("format identifier");
    std::vector<std::string> about;
    for (const char* what : {"institution", "instrument", "operator", "experiment"})
      about.emplace_back(in.text(what));
    std::vector<std::string> comments = {"VAMAS: " + about[0] + ", " + about[1] + ", " + about[2] +
                                         ", " + about[3]};
    const std::size_t commentLines = in.count("number of comment lines");
    for (std::size_t k = 0; k < commentLines; ++k) comments.emplace_back(in.text("comment lines"));
    const std::string mode(in.text("experiment mode"));
    const std::string scan(in.text("scan mode"));
    const bool mapping = oneOf(mode, {"MAP", "MAPDP", "MAPSV", "MAPSVDP", "SEM"});
    const bool depthProfile = oneOf(mode, {"MAPDP", "MAPSVDP", "SDP", "SDPSV"});
    // The number of spectral regions (MAP, MAPDP, NORM and SDP), then the
    // map's positions and coordinates (MAP and MAPDP).
    if (oneOf(mode, {"MAP", "MAPDP", "NORM", "SDP"})) in.skip(1, "number of spectral regions");
    if (oneOf(mode, {"MAP", "MAPDP"})) in.skip(3, "map description");
    const std::size_t variables = in.count("number of experimental variables", 2);
    in.skip(2 * variables, "experimental variables");
    const double inclusion = in.real("parameter inclusion list");
    if (inclusion != 0)
      throw VamasError{"blocks that leave out items (a parameter inclusion list) are not read"};
    in.skip(in.count("number of manually entered items"), "manually entered items");
    const std::size_t futureExperiment = in.count("number of future experiment entries");
    const std::size_t futureBlock = in.count("number of future block entries");
    in.skip(futureExperiment, "future experiment entries");
    const std::size_t blocks = in.count("number of blocks");
    // REGULAR: x from a start and an increment; IRREGULAR: x is the first
    // corresponding variable, written with each point.
    const bool regular = scan == "REGULAR";
    if (!regular && scan != "IRREGULAR")
      throw VamasError{"the scan mode " + scan + " is not read (only REGULAR and IRREGULAR)"};
    std::size_t graphs = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
      std::string id(in.text("block identifier"));
      if (id.empty()) id = fileName + ", block " + std::to_string(b + 1);
      in.text("sample identifier");
      in.skip(7, "date and time");
      const std::size_t blockComments = in.count("number of block comment lines");
      for (std::size_t k = 0; k < blockComments; ++k)
        comments.emplace_back(in.text("block comment lines"));
      const std::string technique(in.text("technique"));
      if (mode == "MAP" || mode == "MAPDP") in.skip(2, "x and y coordinates");
      in.skip(variables, "values of the experimental variables");
      in.text("analysis source label");
      // The ion-beam techniques, also in their energy-spectrum form ("SIMS
      // energy ..."), name the sputtering particle.
      const std::string_view family = std::string_view(technique).substr(0, technique.find(' '));
      if (depthProfile || oneOf(family, {"FABMS", "ISS", "SIMS", "SNMS"}))
        in.skip(3, "sputtering particle");
      in.skip(4, "analysis source");
      if (mapping) in.skip(2, "field of view");
      if (oneOf(mode, {"MAPSV", "MAPSVDP", "SEM"})) in.skip(6, "linescan coordinates");
      in.skip(4, "analysis source angles and analyser settings");
      if (technique == "AES diff") in.skip(1, "differential width");
      in.skip(3, "analyser settings");
      in.skip(4, "analysis width and take-off angles");
      in.skip(3, "species, transition and charge");
      double start = 0, step = 0;
      if (regular) {
        in.text("abscissa label");
        in.text("abscissa units");
        start = in.real("abscissa start");
        step = in.real("abscissa increment");
      }
      const std::size_t corresponding = in.count("number of corresponding variables", 2);
      if (!regular && corresponding < 2)
        throw VamasError{"line " + std::to_string(in.lineNumber()) +
                         ": an IRREGULAR block needs its abscissa and one variable at least"};
      const std::size_t yFirst = regular ? 0 : 1;  // the first variable that is a graph
      const std::size_t curves = corresponding - yFirst;
      std::vector<std::string> labels;
      for (std::size_t v = 0; v < corresponding; ++v) {
        labels.emplace_back(in.text("corresponding variable label"));
        in.text("corresponding variable units");
      }
      in.skip(4, "signal mode, collection time, scans and time correction");
      if (depthProfile &&
          oneOf(technique, {"AES diff", "AES dir", "EDX", "ELS", "UPS", "XPS", "XRF"}))
        in.skip(7, "sputtering source");
      in.skip(3, "sample angles");
      in.skip(3 * in.count("number of additional parameters", 3), "additional parameters");
      in.skip(futureBlock, "future block entries");
      const std::size_t announced = in.count("number of ordinate values");
      in.skip(2 * corresponding, "ordinate ranges");
      graphs += curves;
      if (graphs > freeSlots) {
        r.refusal = slotRefusal(graphs, freeSlots) + " (or more: the file has " +
                    std::to_string(blocks) + " blocks)";
        r.graphs.clear();
        return r;
      }
      const std::size_t first = r.graphs.size();
      for (std::size_t v = yFirst; v < corresponding; ++v) {
        ImportedGraph& g = r.graphs.emplace_back();
        g.name = curves == 1 ? id : id + ", " + labels[v];
        g.points.reserve(announced / std::max<std::size_t>(corresponding, 1));
      }
      if (corresponding == 0) continue;
      if (announced % corresponding != 0)
        r.warnings.push_back("block " + id + ": " + std::to_string(announced) +
                             " values do not divide among " + std::to_string(corresponding) +
                             " variables; the last point is incomplete");
      double pointX = 0;
      for (std::size_t k = 0; k < announced; ++k) {
        double y = 0;
        const std::string_view s = in.text("ordinate values");
        if (!in.number(s, y)) {
          std::string lower(s);
          for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
          if (!oneOf(lower, {"nan", "inf", "-inf", "+inf", "infinity", "-infinity"}))
            throw VamasError{"line " + std::to_string(in.lineNumber()) + ": \"" + std::string(s) +
                             "\" is not a number"};
          y = std::numeric_limits<double>::quiet_NaN();
        }
        const std::size_t point = k / corresponding;  // values interleave per point
        const std::size_t column = k % corresponding;
        if (!regular && column == 0) {
          pointX = y;
          r.nonFinite += std::isfinite(y) ? 0 : 1;
          continue;
        }
        const double x = regular ? start + static_cast<double>(point) * step : pointX;
        // A value with no finite x of its own (irregular scans) is counted
        // with that x already; one of a regular scan is left out here.
        if (std::isfinite(y) && std::isfinite(x))
          r.graphs[first + column - yFirst].points.push_back({x, y});
        else if (!std::isfinite(y) || regular)
          ++r.nonFinite;
      }
    }
    r.layout = "VAMAS, " + std::to_string(blocks) + (blocks == 1 ? " block" : " blocks") +
               (regular ? "" : ", IRREGULAR (x with each point)");
    if (!r.graphs.empty()) r.graphs.front().comments = std::move(comments);
    if (r.graphs.empty()) {
      r.refusal = "the VAMAS file holds no block";
      return r;
    }
  } catch (const VamasError& e) {
    r = {};
    r.refusal = "VAMAS: " + e.message;
    return r;
  }
  dropEmptyGraphs(r, "the VAMAS blocks hold no point");
  return r;
}

}  // namespace varnix
