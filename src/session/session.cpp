#include "session/session.h"

#include "import/importer.h"

#include <algorithm>

#include "fit/despike.h"
#include "workspace/data_file_reader.h"
#include "workspace/data_file_writer.h"
#include "workspace/graph_list_commands.h"
#include "workspace/version.h"

namespace varnix {

Session::Session() : m_information(std::string(kProgramName) + " " + kVersion) {}

void Session::syncRows() {
  m_selected.resize(m_store.count(), false);
  if (m_focus && *m_focus >= m_store.count())
    m_focus = m_store.empty() ? std::nullopt : std::optional<std::size_t>(m_store.count() - 1);
}

Selection Session::selection() const {
  Selection s;
  for (std::size_t i = 0; i < m_selected.size() && i < m_store.count(); ++i)
    if (m_selected[i]) s.rows.push_back(i);
  s.current = m_focus.value_or(0);
  return s;
}

bool Session::isSelected(std::size_t row) const {
  return row < m_selected.size() && m_selected[row];
}

void Session::setFocusRow(std::optional<std::size_t> row) {
  m_focus = row && *row < m_store.count() ? row : std::nullopt;
}

void Session::setSelected(std::size_t row, bool selected) {
  syncRows();
  if (row < m_selected.size()) m_selected[row] = selected;
}

void Session::selectOnly(const std::vector<std::size_t>& rows) {
  syncRows();
  std::fill(m_selected.begin(), m_selected.end(), false);
  for (std::size_t r : rows)
    if (r < m_selected.size()) m_selected[r] = true;
}

void Session::selectAll(bool selected) {
  syncRows();
  std::fill(m_selected.begin(), m_selected.end(), selected);
}

void Session::addFiles(const std::vector<std::string>& paths, const MessageFn& message,
                       const ProgressFn& progress, std::size_t* failures) {
  auto info = varnix::addFiles(m_store, paths, message, progress, failures);
  syncRows();
  if (!m_focus && !m_store.empty()) m_focus = 0;
  if (info) m_information = *info;
}

std::vector<std::string> Session::importFiles(const std::vector<std::string>& paths,
                                              const ProgressFn& progress, std::size_t* failures,
                                              const ImportSettings& settings) {
  if (paths.empty()) return {};
  std::size_t added = 0;
  std::vector<std::string> summary =
      varnix::importFiles(m_store, paths, progress, &added, failures, settings);
  syncRows();
  if (!m_focus && !m_store.empty()) m_focus = 0;
  m_information = " " + std::to_string(added) + " files loaded. Press <R> to rescale";
  return summary;
}

void Session::loadFile(const std::string& path, const MessageFn& message, std::size_t* failures) {
  loadDataFile(m_store, path, message, failures);
  syncRows();
}

void Session::highlight() {
  const std::string info = highlightGraph(m_store, selection().current);
  if (!info.empty()) m_information = info;
}

void Session::rename(const std::string& newName) {
  renameGraph(m_store, selection().current, newName);
}

std::optional<std::size_t> Session::deleteFromList() {
  if (m_store.empty()) return std::nullopt;
  const std::size_t row = selection().current;
  m_information = deleteGraph(m_store, row);
  if (row < m_selected.size()) m_selected.erase(m_selected.begin() + static_cast<long>(row));
  // The focus row goes: the focus moves to the row above it, or stays on
  // the new first row; a focus below it moves up with its row.
  if (m_focus && *m_focus >= row && *m_focus > 0) --*m_focus;
  syncRows();
  const std::size_t n = m_store.count();
  if (n > 0 && m_focus) {
    const std::size_t f = *m_focus;
    if (f < n - 1) m_selected[f == 0 ? 0 : f + 1] = true;
  }
  return row;
}

bool Session::deleteAll(const ConfirmFn& confirm) {
  auto info = deleteAllGraphs(m_store, confirm);
  if (!info) return false;
  m_information = *info;
  m_selected.clear();
  m_focus.reset();
  return true;
}

std::vector<std::size_t> Session::undo() {
  if (!m_store.undoEnabled()) return {};
  std::vector<std::size_t> rows = m_store.restoreUndoCopies();
  for (std::size_t r : rows) setSelected(r, true);
  return rows;
}

bool Session::save(const ConfirmFn& confirm, const MessageFn& message, std::size_t* failures) {
  const std::size_t c = selection().current;
  if (!saveGraph(m_store, c, confirm, message, failures)) return false;
  markSaved(c);
  return true;
}

void Session::markSaved(std::size_t row) {
  // Written to the file it will be reloaded from: nothing unsaved is left.
  Graph& g = m_store.graph(row);
  g.createOnSave = false;  // the file is the graph's own now
  if (g.sourceColumn == 0 && g.path == g.sourcePath) g.savedHash = contentHash(g);
}

std::vector<std::size_t> Session::reload(const MessageFn& message, std::size_t* failures) {
  return reloadGraphs(m_store, selectedOrCurrentRows(), true, message, failures, false,
                      importedContent);
}

std::vector<std::size_t> Session::selectedOrCurrentRows() const {
  Selection s = selection();
  if (s.rows.empty() && s.current < m_store.count()) s.rows.push_back(s.current);
  return s.rows;
}

void Session::saveAs(const std::string& path, const MessageFn& message, std::size_t* failures) {
  saveGraphAs(m_store, selection().current, withDefaultExtension(path), message, failures);
}

bool Session::saveSelected(const ConfirmFn& confirm, const MessageFn& message,
                           std::size_t* failures) {
  std::vector<std::size_t> written;
  const std::vector<std::size_t> done =
      varnix::saveSelected(m_store, selection().rows, confirm, message, failures, &written);
  for (std::size_t r : done) setSelected(r, false);
  for (std::size_t r : written) markSaved(r);
  return !done.empty();
}

// --- fitting, baselines and spikes -------------------------------------------

const FitTable& Session::fit(const std::string& formula, double x1, double x2,
                             const std::vector<std::string>& parameterArguments, bool chained,
                             const ProgressFn& progress) {
  auto model = std::make_shared<const FitModel>(formula);
  FitSettings settings;
  settings.parameters.resize(model->parameters().size());
  for (const std::string& a : parameterArguments) readParameterArgument(*model, a, settings);
  settings.x1 = x1;
  settings.x2 = x2;
  settings.weights = m_fitWeights;
  return fit(model, settings, chained, progress);
}

const FitTable& Session::fit(const std::shared_ptr<const FitModel>& model,
                             const FitSettings& settings, bool chained, const ProgressFn& progress,
                             const std::function<bool()>& cancel) {
  checkFitSettings(*model, settings);
  if (m_store.empty()) return m_fitTable;
  m_fitTable =
      fitGraphs(m_store, selectedOrCurrentRows(), model, settings, chained, progress, cancel);
  return m_fitTable;
}

void Session::saveFitTable(const std::string& path, const std::string* parameter,
                           const MessageFn& message, std::size_t* failures) {
  std::optional<SeriesParameter> pattern;
  if (parameter) pattern.emplace(*parameter);
  const std::string text = fitTableText(m_fitTable, pattern ? &*pattern : nullptr);
  writeAndReport(path, text, message, failures);
}

std::vector<std::size_t> Session::addFitGraphs(bool residual) {
  std::vector<std::size_t> added = varnix::addFitGraphs(m_store, m_fitTable, residual);
  syncRows();
  return added;
}

std::vector<std::size_t> Session::addFitComponentGraphs(const std::vector<std::string>& parts) {
  std::vector<std::size_t> added = varnix::addFitComponentGraphs(m_store, m_fitTable, parts);
  syncRows();
  return added;
}

void Session::subtractAlsBaseline(double lambda, double p) {
  checkAlsParameters(lambda, p);
  if (m_store.empty()) return;
  varnix::subtractAlsBaseline(m_store, selectedOrCurrentRows(), lambda, p);
}

void Session::subtractPolynomialBaseline(int degree, const std::vector<XRange>& ranges) {
  checkPolynomialBaseline(degree, ranges);
  if (m_store.empty()) return;
  varnix::subtractPolynomialBaseline(m_store, selectedOrCurrentRows(), degree, ranges);
}

std::size_t Session::despike(double threshold, std::size_t width) {
  checkDespikeParameters(threshold, static_cast<long long>(width));
  if (m_store.empty()) return 0;
  const std::vector<std::size_t> rows = selectedOrCurrentRows();
  const std::size_t replaced = despikeGraphs(m_store, rows, threshold, width);
  m_information = " " + std::to_string(replaced) +
                  (replaced == 1 ? " spike point" : " spike points") + " replaced in " +
                  std::to_string(rows.size()) + (rows.size() == 1 ? " graph" : " graphs");
  return replaced;
}

}  // namespace varnix
