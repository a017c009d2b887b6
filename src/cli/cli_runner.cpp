#include "cli/cli_runner.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <new>
#include <sstream>

#include "expr/compiled_expression.h"
#include "expr/expression.h"
#include "expr/math_commands.h"
#include "fit/despike.h"
#include "processing/delete_point.h"
#include "processing/measure.h"
#include "processing/point_transforms.h"
#include "processing/slicer.h"
#include "processing/smoothing.h"
#include "workspace/data_file_reader.h"
#include "workspace/data_file_writer.h"
#include "workspace/error.h"
#include "workspace/file_io.h"
#include "workspace/graph_list_commands.h"
#include "workspace/number_text.h"
#include "workspace/version.h"

namespace varnix::cli {
namespace {

/// A mistake in the script itself (unknown command, wrong arguments).
class UsageError : public Error {
 public:
  using Error::Error;
};

}  // namespace

Runner::Runner(std::ostream& out, std::ostream& err)
    : m_out(out),
      m_err(err),
      m_ownSession(std::make_unique<Session>()),
      m_session(*m_ownSession),
      m_store(m_session.store()) {}

Runner::Runner(Session& session, std::ostream& out, std::ostream& err)
    : m_out(out), m_err(err), m_session(session), m_store(session.store()) {}

const std::vector<Runner::Command>& Runner::commands() {
  static const std::vector<Command> table = {
      {"load", 0, -1, "FILE...", "Add Files with these files, in order", &Runner::cmdLoad},
      {"import", 1, -1, "FILE...",
       "Import instrument exports (CSV, semicolon, tab, decimal comma, JCAMP-DX, VAMAS, SPC, WDF, "
       "XRDML); "
       "a summary line "
       "per file on standard error",
       &Runner::cmdImport},
      {"import-with", 1, -1, "KEY=VALUE... FILE...",
       "Import with these settings instead of the guess: separator=tab|semicolon|comma|blanks, "
       "decimal=point|comma, skip=LINES (never data), header=LINE|none (the column titles), "
       "layout=first-column-x|column-pairs|spectrum-per-row|stacked-scans|start-step|"
       "alternate-lines, x=COLUMN|none (none: x is the row number), columns=2,4-6 (the y "
       "columns), rows=FROM:TO[:STEP] (data rows or spectra from 1; TO empty: to the last), "
       "labels=N (label columns before the numbers), start=X step=DX (x of start-step); auto "
       "for any key is the guess",
       &Runner::cmdImportWith},
      {"select", 1, -1, "all|none|N...", "the selected rows become exactly these slots",
       &Runner::cmdSelect},
      {"current", 1, 1, "N", "the current row (focus row) becomes slot N", &Runner::cmdCurrent},
      {"info", 0, 0, "", "prints the information line", &Runner::cmdInfo},
      {"dump", 0, 0, "", "prints the whole store", &Runner::cmdDump},
      {"highlight", 0, 0, "", "highlights the current graph", &Runner::cmdHighlight},
      {"delete", 0, 0, "", "Delete from list (the current graph)", &Runner::cmdDelete},
      {"delete-all", 0, 0, "", "Delete All", &Runner::cmdDeleteAll},
      {"rename", 1, 1, "NAME", "Rename the current graph", &Runner::cmdRename},
      {"undo", 0, 0, "", "Undo (when enabled)", &Runner::cmdUndo},
      {"reload", 0, 0, "",
       "Reload from disk: the selected graphs (or the current one) read their files again",
       &Runner::cmdReload},
      {"save", 0, 0, "", "Save the current graph to its path", &Runner::cmdSave},
      {"save-as", 1, 1, "PATH", "Save As: the current graph to PATH", &Runner::cmdSaveAs},
      {"save-selected", 0, 0, "", "Save Selected", &Runner::cmdSaveSelected},
      {"picture", 1, 3, "FILE [WIDTH HEIGHT]",
       "Export picture: every graph as printed, after Rescale (PNG, SVG or PDF by the extension; "
       "800 x 600 by default)",
       &Runner::cmdPicture},
      {"normalize", 0, 0, "", "Normalize the selected graphs", &Runner::cmdTransform},
      {"ln", 0, 0, "", "Ln of the selected graphs", &Runner::cmdTransform},
      {"exp", 0, 0, "", "Exp of the selected graphs", &Runner::cmdTransform},
      {"filin", 0, 0, "", "Filin of the selected graphs", &Runner::cmdTransform},
      {"ev-a", 0, 0, "", "eV<=>A (selected graphs, or the current one)", &Runner::cmdTransform},
      {"remove-shelf", 0, 0, "", "Remove constant shelf (selected graphs, or the current one)",
       &Runner::cmdTransform},
      {"ev-nm", 0, 0, "", "eV<=>nm keeping the area (selected graphs, or the current one)",
       &Runner::cmdTransform},
      {"normalize-integral", 2, 2, "L U", "Normalize integral over the visible x range L..U",
       &Runner::cmdNormalizeIntegral},
      {"moments", 2, 3, "L U [PARAMETER]",
       "Calculate Moments over the visible x range L..U (PARAMETER from name: digits or a "
       "pattern)",
       &Runner::cmdMoments},
      {"moments-save", 2, 3, "0|1|2|3 FILE [PARAMETER]",
       "Save M0..M3 of the last moments table (Values from PARAMETER)", &Runner::cmdMomentsSave},
      {"slice", 6, 8, "FROM TO STEP PREFIX SUFFIX DIR [DECIMALS [PARAMETER]]",
       "Slicing with these dialog texts (DECIMALS in file names, 0 by default)", &Runner::cmdSlice},
      {"smooth", 0, 0, "", "DISPO smoothing of the selected graphs", &Runner::cmdSmooth},
      {"measure", 2, 2, "X1 X2",
       "prints the Measure table of the selected graphs (or the current one) between x = X1 "
       "and X2",
       &Runner::cmdMeasure},
      {"delete-point", 1, 1, "X", "Delete point at cursor with the cursor at x = X",
       &Runner::cmdDeletePoint},
      {"math-yx", 2, 2, "XFORMULA YFORMULA", "Math on y and x, OK pressed", &Runner::cmdMathYx},
      {"simple-math-y", 4, 4, "B A C D", "Simple math on y, OK pressed", &Runner::cmdSimpleMathY},
      {"simple-math-x", 2, 2, "B A", "Simple math on x, OK pressed", &Runner::cmdSimpleMathX},
      {"math-graphs", 2, 2, "OP SLOT", "Math on graphs: OP + - * / or none, SLOT or none",
       &Runner::cmdMathGraphs},
      {"postfix", 1, 1, "FORMULA", "prints the postfix text of FORMULA", &Runner::cmdPostfix},
      {"eval", 3, 3, "FORMULA X Y", "prints the value of FORMULA at x = X, y = Y",
       &Runner::cmdEval},
      {"fit", 3, -1, "FORMULA X1 X2 NAME=START[:LOW:HIGH]...",
       "fits FORMULA to each selected graph (or the current one) on X1 <= x <= X2, every graph "
       "from the given starts; prints one line per graph",
       &Runner::cmdFit},
      {"fit-chained", 3, -1, "FORMULA X1 X2 NAME=START[:LOW:HIGH]...",
       "as fit, each graph after the first starting from the result before it", &Runner::cmdFit},
      {"fit-weights", 1, 1, "none|poisson", "the weights of later fits (none, or 1/max(y,1))",
       &Runner::cmdFitWeights},
      {"fit-save", 1, 2, "FILE [PARAMETER]",
       "saves the last fit's table (first column from the names: digits or a pattern)",
       &Runner::cmdFitSave},
      {"fit-curve", 0, 0, "", "adds the last fit's model curves as new graphs",
       &Runner::cmdFitGraphs},
      {"fit-residual", 0, 0, "", "adds the last fit's residuals (data - model) as new graphs",
       &Runner::cmdFitGraphs},
      {"fit-components", 2, -1, "PART PART...",
       "adds each part of the last fit's formula (the parts joined by \" + \" make it) as new "
       "graphs",
       &Runner::cmdFitComponents},
      {"baseline-als", 2, 2, "LAMBDA P",
       "subtracts the asymmetric least squares baseline (Eilers and Boelens) from the selected "
       "graphs (or the current one)",
       &Runner::cmdBaselineAls},
      {"baseline-poly", 3, -1, "N X1 X2 [X3 X4 ...]",
       "subtracts the polynomial of degree N through the points in the x ranges",
       &Runner::cmdBaselinePoly},
      {"despike", 2, 2, "THRESHOLD WIDTH",
       "replaces spikes of up to WIDTH points (Whitaker and Hayes) in the selected graphs (or the "
       "current one) and prints how many points it replaced",
       &Runner::cmdDespike},
  };
  return table;
}

std::string Runner::helpText() {
  std::ostringstream s;
  s << "usage: varnix-cli SCRIPT        run the commands in SCRIPT (\"-\" for standard input)\n"
       "       varnix-cli -- SCRIPT     run SCRIPT, even one named like an option (-c, -)\n"
       "       varnix-cli -c 'CMD; CMD'  run commands given inline\n"
       "       varnix-cli --help         list the commands\n\n"
       "One command per line, or several separated by \";\". \"#\" at the start of a line\n"
       "starts a comment. Double quotes group an argument with blanks or \";\"; inside\n"
       "them \\\" is a double quote and \\\\ a backslash (any other backslash is itself).\n\n"
       "commands:\n";
  for (const Command& c : commands()) {
    std::string head = std::string(c.name) + (c.usage[0] ? " " : "") + c.usage;
    s << "  " << head;
    for (std::size_t i = head.size(); i < 40; ++i) s << ' ';
    s << ' ' << c.summary << '\n';
  }
  return s.str();
}

int Runner::run(const std::vector<ScriptCommand>& script) {
  std::size_t done = 0;
  for (const ScriptCommand& sc : script) {
    reportProgress(m_progress, done++, script.size());
    if (!sc.error.empty()) {
      m_err << "line " << sc.line << ": " << sc.error << ".\n";
      return 1;
    }
    const std::string& name = sc.words[0];
    const Args args(sc.words.begin() + 1, sc.words.end());
    try {
      auto it = std::find_if(commands().begin(), commands().end(),
                             [&](const Command& c) { return name == c.name; });
      if (it == commands().end()) throw UsageError("Unknown command " + name);
      const int n = static_cast<int>(args.size());
      if (n < it->minArgs || (it->maxArgs >= 0 && n > it->maxArgs))
        throw UsageError("Usage: " + std::string(it->name) + " " + it->usage);
      m_commandName = &name;
      (this->*(it->handler))(args);
    } catch (const UsageError& e) {
      m_err << "line " << sc.line << ": " << e.what() << ".\n";
      return 1;
    } catch (const Error& e) {
      m_err << e.what() << ".\n";
      return 1;
    } catch (const std::bad_alloc&) {
      m_err << "line " << sc.line << ": not enough memory.\n";
      return 1;
    }
  }
  // A file that could not be read or written fails the run, as a message
  // box would have told the user; the run itself went on.
  return m_failures > 0 ? 1 : 0;
}

// --- workspace helpers -------------------------------------------------------

void Runner::message(const std::string& text) {
  m_err << text << '\n';
}

bool Runner::confirm(const std::string&) {
  return true;
}

std::size_t Runner::slotArg(const std::string& text) const {
  std::size_t value = 0;
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    throw UsageError("Not a slot number: " + text);
  for (char c : text) value = value * 10 + static_cast<std::size_t>(c - '0');
  return value;
}

double Runner::numberArg(const std::string& text) {
  std::optional<double> v = readNumber(text);
  if (!v) throw UsageError("Not a number: " + text);
  return *v;
}

// --- graph workspace ---------------------------------------------------------

void Runner::cmdLoad(const Args& a) {
  // Add Files takes a file that is not there as an empty graph without a
  // word; a script run says so and fails, since its later steps expect data.
  for (const std::string& path : a) {
    std::error_code ec;
    if (std::filesystem::status(path, ec).type() == std::filesystem::file_type::not_found) {
      message("Warning: " + path + " does not exist; it was added as an empty graph");
      ++m_failures;
    }
  }
  m_session.addFiles(
      a, [this](const std::string& t) { message(t); }, {}, &m_failures);
}

void Runner::cmdImport(const Args& a) {
  for (const std::string& line : m_session.importFiles(a, {}, &m_failures)) message(line);
}

void Runner::cmdImportWith(const Args& a) {
  // The settings come first; the first word that is not KEY=VALUE is a file.
  std::size_t files = 0;
  while (files < a.size() && isImportSettingWord(a[files])) ++files;
  if (files == a.size()) throw UsageError("import-with needs a file after its settings");
  std::string error;
  const std::optional<ImportSettings> settings =
      parseImportSettings(Args(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(files)), error);
  if (!settings) throw Error(error);
  const Args paths(a.begin() + static_cast<std::ptrdiff_t>(files), a.end());
  for (const std::string& line : m_session.importFiles(paths, {}, &m_failures, *settings))
    message(line);
}

void Runner::cmdSelect(const Args& a) {
  if (a.size() == 1 && (a[0] == "all" || a[0] == "none")) {
    m_session.selectAll(a[0] == "all");
    return;
  }
  std::vector<std::size_t> chosen;
  for (const std::string& s : a) {
    std::size_t slot = slotArg(s);
    if (slot >= m_store.count()) throw UsageError("No graph in slot " + s);
    chosen.push_back(slot);
  }
  m_session.selectOnly(chosen);
}

void Runner::cmdCurrent(const Args& a) {
  std::size_t slot = slotArg(a[0]);
  if (slot >= m_store.count()) throw UsageError("No graph in slot " + a[0]);
  m_session.setFocusRow(slot);
}

void Runner::cmdInfo(const Args&) {
  m_out << m_session.information() << '\n';
}

void Runner::cmdDump(const Args&) {
  std::string out;
  for (std::size_t i = 0; i < m_store.count(); ++i) {
    const Graph& g = m_store.graph(i);
    out += "slot " + std::to_string(i) + " name=" + g.name + " path=" + g.path +
           " points=" + std::to_string(g.series.count()) + " mark=" + (g.undoMark ? "1" : "0") +
           "\n";
    for (const std::string& c : g.comments) out += "# " + c + "\n";
    for (const Point& p : g.series.points()) {
      out += formatShortest(p.x);
      out += ' ';
      out += formatShortest(p.y);
      out += '\n';
    }
  }
  out += "count=" + std::to_string(m_store.count()) +
         " undo=" + (m_store.undoEnabled() ? "on" : "off") +
         " highlighted=" + std::to_string(m_store.highlightedIndex()) + "\n";
  m_out << out;
}

void Runner::cmdHighlight(const Args&) {
  m_session.highlight();
}

void Runner::cmdDelete(const Args&) {
  m_session.deleteFromList();
}

void Runner::cmdDeleteAll(const Args&) {
  m_session.deleteAll([this](const std::string& q) { return confirm(q); });
}

void Runner::cmdRename(const Args& a) {
  m_session.rename(a[0]);
}

void Runner::cmdUndo(const Args&) {
  m_session.undo();
}

void Runner::cmdReload(const Args&) {
  m_session.reload([this](const std::string& t) { message(t); }, &m_failures);
}

void Runner::cmdSave(const Args&) {
  m_session.save([this](const std::string& q) { return confirm(q); },
                 [this](const std::string& t) { message(t); }, &m_failures);
}

void Runner::cmdSaveAs(const Args& a) {
  m_session.saveAs(
      a[0], [this](const std::string& t) { message(t); }, &m_failures);
}

void Runner::cmdPicture(const Args& a) {
  if (a.size() == 2) throw Error("picture needs both WIDTH and HEIGHT, or neither");
  int size[2] = {800, 600};
  for (std::size_t k = 1; k < a.size(); ++k) {
    const double v = numberArg(a[k]);
    if (!(v >= 16 && v <= 20000) || v != std::floor(v))
      throw Error("A picture's width and height are whole numbers from 16 to 20000, not " + a[k]);
    size[k - 1] = static_cast<int>(v);
  }
  if (!m_pictureWriter) throw Error("This build of varnix-cli draws no pictures");
  // A picture that could not be drawn or written is reported, and the run
  // goes on.
  try {
    writeAndReport(
        a[0], m_pictureWriter(m_store, a[0], size[0], size[1]),
        [this](const std::string& t) { message(t); }, &m_failures);
  } catch (const Error& e) {
    message(e.what());
    ++m_failures;
  }
}

void Runner::cmdSaveSelected(const Args&) {
  m_session.saveSelected([this](const std::string& q) { return confirm(q); },
                         [this](const std::string& t) { message(t); }, &m_failures);
}

// --- curve processing --------------------------------------------------------

void Runner::cmdTransform(const Args&) {
  const Selection s = selection();
  const std::string& n = *m_commandName;
  if (n == "normalize")
    normalizeGraphs(m_store, s);
  else if (n == "ln")
    lnGraphs(m_store, s);
  else if (n == "exp")
    expGraphs(m_store, s);
  else if (n == "filin")
    filinGraphs(m_store, s);
  else if (n == "ev-a")
    evAngstromGraphs(m_store, s);
  else if (n == "ev-nm")
    evNanometreGraphs(m_store, s);
  else
    removeShelfGraphs(m_store, s);
}

void Runner::cmdNormalizeIntegral(const Args& a) {
  normalizeIntegral(m_store, selection(), numberArg(a[0]), numberArg(a[1]));
}

void Runner::cmdMoments(const Args& a) {
  const double L = numberArg(a[0]), U = numberArg(a[1]);
  const SeriesParameter parameter(a.size() > 2 ? a[2] : SeriesParameter::kDigits);
  auto run = calculateMoments(m_store, selection(), L, U, m_session.momentsTable(), parameter);
  if (!run) return;
  std::string out = formatDataNumber(run->lower) + " " + formatDataNumber(run->upper) + "\n";
  auto line = [&](const MomentsRow& r) {
    out += r.name + "\t" + r.value + "\t" + r.m0 + "\t" + r.m1 + "\t" + r.d + "\t" + r.a + "\n";
  };
  if (run->isTable)
    for (const MomentsRow& r : m_session.momentsTable().rows) line(r);
  else
    line(run->single);
  m_out << out;
}

void Runner::cmdMomentsSave(const Args& a) {
  if (a[0].size() != 1 || a[0][0] < '0' || a[0][0] > '3')
    throw UsageError("Usage: moments-save 0|1|2|3 FILE");
  if (a.size() > 2) applySeriesParameter(m_session.momentsTable(), SeriesParameter(a[2]));
  saveMomentFile(
      m_session.momentsTable(), a[0][0] - '0', withDefaultExtension(a[1]),
      [this](const std::string& t) { message(t); }, &m_failures);
}

void Runner::cmdSlice(const Args& a) {
  SlicerFields f{a[0],
                 a[1],
                 a[2],
                 a[3],
                 a[4],
                 a[5],
                 a.size() > 6 ? a[6] : "0",
                 a.size() > 7 ? a[7] : SeriesParameter::kDigits};
  // A run that writes no slice (refused fields) fails the script.
  if (sliceGraphs(m_store, f, [this](const std::string& t) { message(t); }).empty()) ++m_failures;
}

void Runner::cmdMeasure(const Args& a) {
  const double x1 = numberArg(a[0]), x2 = numberArg(a[1]);
  std::string text = measurementText(measureGraphs(m_store, selection(), x1, x2), x1, x2);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  m_out << text;
}

void Runner::cmdSmooth(const Args&) {
  dispoSmoothGraphs(m_store, selection());
}

void Runner::cmdDeletePoint(const Args& a) {
  deletePointAtCursor(m_store, selection().current, numberArg(a[0]));
}

// --- expression math ---------------------------------------------------------

void Runner::cmdMathYx(const Args& a) {
  mathOnYX(m_store, selection(), a[0], a[1]);
}

void Runner::cmdSimpleMathY(const Args& a) {
  simpleMathOnY(m_store, selection(), a[0], a[1], a[2], a[3]);
}

void Runner::cmdSimpleMathX(const Args& a) {
  simpleMathOnX(m_store, selection(), a[0], a[1]);
}

void Runner::cmdMathGraphs(const Args& a) {
  std::optional<char> op;
  if (a[0] == "+" || a[0] == "-" || a[0] == "*" || a[0] == "/")
    op = a[0][0];
  else if (a[0] != "none")
    throw UsageError("Usage: math-graphs + | - | * | / | none SLOT");
  std::optional<std::size_t> second;
  if (a[1] != "none" && a[1] != "-") second = slotArg(a[1]);
  if (!m_store.empty())
    mathOnGraphs(m_store, selection(), op, second, [this](const std::string& t) { message(t); });
  mathOnGraphsFinished(m_store);
}

void Runner::cmdPostfix(const Args& a) {
  m_out << expressionToPostfix(a[0]) << '\n';
}

void Runner::cmdEval(const Args& a) {
  const double x = numberArg(a[1]), y = numberArg(a[2]);
  const std::string postfix = expressionToPostfix(a[0]) + " ";
  m_out << formatShortest(evaluatePostfix(postfix, x, y)) << '\n';
}

// --- fitting, baselines and spikes ---------------------------------------------

void Runner::cmdFit(const Args& a) {
  // The window offers no fit without a graph; a script that asks for one
  // went wrong before, and is told so.
  if (m_store.empty()) throw Error("There is no graph to fit; load one first");
  const double x1 = numberArg(a[1]), x2 = numberArg(a[2]);
  const Args starts(a.begin() + 3, a.end());
  const FitTable& table = m_session.fit(a[0], x1, x2, starts, *m_commandName == "fit-chained");
  std::string out;
  for (const FitRow& row : table.rows) {
    out += fitResultLine(table, row) + "\n";
    if (!row.result.converged) ++m_failures;
  }
  m_out << out;
}

void Runner::cmdFitWeights(const Args& a) {
  if (a[0] == "none")
    m_session.setFitWeights(FitWeights::None);
  else if (a[0] == "poisson")
    m_session.setFitWeights(FitWeights::Poisson);
  else
    throw UsageError("Usage: fit-weights none|poisson");
}

void Runner::cmdFitSave(const Args& a) {
  m_session.saveFitTable(
      withDefaultExtension(a[0]), a.size() > 1 ? &a[1] : nullptr,
      [this](const std::string& t) { message(t); }, &m_failures);
}

void Runner::cmdFitGraphs(const Args&) {
  m_session.addFitGraphs(*m_commandName == "fit-residual");
}

void Runner::cmdFitComponents(const Args& a) {
  m_session.addFitComponentGraphs(a);
}

void Runner::cmdBaselineAls(const Args& a) {
  m_session.subtractAlsBaseline(numberArg(a[0]), numberArg(a[1]));
}

void Runner::cmdBaselinePoly(const Args& a) {
  if (a.size() % 2 == 0) throw UsageError("Usage: baseline-poly N X1 X2 [X3 X4 ...]");
  const double degree = numberArg(a[0]);
  std::vector<XRange> ranges;
  for (std::size_t i = 1; i + 1 < a.size(); i += 2)
    ranges.emplace_back(numberArg(a[i]), numberArg(a[i + 1]));
  // A degree that is no small whole number is refused as one out of range.
  const bool whole = degree == std::floor(degree) && degree >= 0 && degree <= kMaxBaselineDegree;
  m_session.subtractPolynomialBaseline(whole ? static_cast<int>(degree) : -1, ranges);
}

void Runner::cmdDespike(const Args& a) {
  const double threshold = numberArg(a[0]), width = numberArg(a[1]);
  // A width that is no whole number in range is refused as width 0.
  const bool whole =
      width == std::floor(width) && width >= 1 && width <= static_cast<double>(kMaxDespikeWidth);
  m_session.despike(threshold, whole ? static_cast<std::size_t>(width) : 0);
  // "N spike points replaced in M graphs", without the information line's
  // leading blank (nothing when there is no graph).
  const std::string& told = m_session.information();
  if (!m_session.store().empty()) m_out << (told.starts_with(' ') ? told.substr(1) : told) << '\n';
}

}  // namespace varnix::cli
