#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "fit/baseline.h"
#include "fit/fit_commands.h"
#include "import/import_settings.h"
#include "processing/moments.h"
#include "workspace/callbacks.h"
#include "workspace/graph_store.h"
#include "workspace/selection.h"

namespace varnix {

/// The workspace that the desktop program and varnix-cli share: the graphs,
/// the rows of the graph list (which are selected, which has the focus), the
/// information line and the last moments table, with the list commands whose
/// rules touch more than the graphs. The window mirrors the rows in its list
/// widget; varnix-cli keeps them here alone.
class Session {
 public:
  Session();

  GraphStore& store() { return m_store; }
  const GraphStore& store() const { return m_store; }
  const std::string& information() const { return m_information; }
  void setInformation(std::string text) { m_information = std::move(text); }
  MomentsTable& momentsTable() { return m_table; }
  const MomentsTable& momentsTable() const { return m_table; }

  // --- the rows of the graph list ------------------------------------------
  /// The selected rows in ascending order and the focus row.
  Selection selection() const;
  bool isSelected(std::size_t row) const;
  /// The focus row; nullopt when the list has none (a new list).
  std::optional<std::size_t> focusRow() const { return m_focus; }
  void setFocusRow(std::optional<std::size_t> row);
  void setSelected(std::size_t row, bool selected);
  /// Exactly these rows become selected.
  void selectOnly(const std::vector<std::size_t>& rows);
  void selectAll(bool selected);

  // --- list commands --------------------------------------------------------
  /// Add Files: the files' graphs join the list unselected; the first row
  /// gets the focus when none had it. Sets the information line.
  void addFiles(const std::vector<std::string>& paths, const MessageFn& message,
                const ProgressFn& progress = {}, std::size_t* failures = nullptr);
  /// Import: the graphs the tolerant readers find in the files join the list
  /// as Add Files's do; one summary line per file.
  std::vector<std::string> importFiles(const std::vector<std::string>& paths,
                                       const ProgressFn& progress = {},
                                       std::size_t* failures = nullptr,
                                       const ImportSettings& settings = {});
  /// Loads one file as the command line does (the information line stays).
  void loadFile(const std::string& path, const MessageFn& message, std::size_t* failures = nullptr);
  /// Highlight the current graph; the information line names it.
  void highlight();
  /// Rename the current graph.
  void rename(const std::string& newName);
  /// Delete from list: removes the current graph (whatever else is selected).
  /// The focus moves to the row above (or stays on the new first row) and,
  /// as the list command says, row 0 (focus on 0) or the row after the focus
  /// is selected unless the focus is on the last row. Returns the removed slot.
  std::optional<std::size_t> deleteFromList();
  /// Delete All after its question; false when not confirmed or empty.
  bool deleteAll(const ConfirmFn& confirm);
  /// Undo: restores the undo copies and selects their rows; the rows changed.
  std::vector<std::size_t> undo();
  /// Save, Save As and Save Selected (which deselects the rows it wrote).
  /// Save; true when the file was written.
  bool save(const ConfirmFn& confirm, const MessageFn& message, std::size_t* failures = nullptr);
  void saveAs(const std::string& path, const MessageFn& message, std::size_t* failures = nullptr);
  /// Save Selected; false when not confirmed or nothing was selected.
  bool saveSelected(const ConfirmFn& confirm, const MessageFn& message,
                    std::size_t* failures = nullptr);
  /// Reload from disk: the selected graphs (the current one when none is
  /// selected) read their files again; one undoable step. The rows changed.
  std::vector<std::size_t> reload(const MessageFn& message, std::size_t* failures = nullptr);
  /// The selected rows, or the current one when none is selected.
  std::vector<std::size_t> selectedOrCurrentRows() const;

  // --- fitting, baselines and spikes -----------------------------------------
  /// The last fit (no model before the first).
  const FitTable& fitTable() const { return m_fitTable; }
  /// The weights of later fits that are given as text (none at first).
  FitWeights fitWeights() const { return m_fitWeights; }
  void setFitWeights(FitWeights weights) { m_fitWeights = weights; }
  /// Fits the formula to the selected graphs (the current one when none is
  /// selected) between x1 and x2 (either order), each parameter started as
  /// its argument NAME=START[:LOW:HIGH] says, with the session's weights.
  /// Bad input throws Error and changes nothing; with graphs, the result
  /// becomes the last fit. chained: see fitGraphs.
  const FitTable& fit(const std::string& formula, double x1, double x2,
                      const std::vector<std::string>& parameterArguments, bool chained,
                      const ProgressFn& progress = {});
  /// The same with a model and settings made by the caller (the Fit window).
  const FitTable& fit(const std::shared_ptr<const FitModel>& model, const FitSettings& settings,
                      bool chained, const ProgressFn& progress = {},
                      const std::function<bool()>& cancel = {});
  /// Writes the last fit's table (fitTableText) to path; parameter: the
  /// pattern or "digits" of Parameter from name, nullptr for digits or slots.
  void saveFitTable(const std::string& path, const std::string* parameter, const MessageFn& message,
                    std::size_t* failures = nullptr);
  /// Adds the fitted curves (or residuals) of the last fit as new graphs
  /// (unselected rows); returns their slots.
  std::vector<std::size_t> addFitGraphs(bool residual);
  /// The last fit's parts as new graphs (see addFitComponentGraphs).
  std::vector<std::size_t> addFitComponentGraphs(const std::vector<std::string>& parts);
  /// Subtracts the asymmetric least squares baseline from the selected
  /// graphs (or the current one); undoable.
  void subtractAlsBaseline(double lambda, double p);
  /// Subtracts the polynomial baseline through the x ranges; undoable.
  void subtractPolynomialBaseline(int degree, const std::vector<XRange>& ranges);
  /// Removes spikes from the selected graphs (or the current one); undoable.
  /// The information line tells how many points were replaced.
  std::size_t despike(double threshold, std::size_t width);

 private:
  /// A graph written to its own file carries no unsaved changes.
  void markSaved(std::size_t row);
  /// Rows follow the store: new slots are unselected rows.
  void syncRows();

  GraphStore m_store;
  std::vector<bool> m_selected;
  std::optional<std::size_t> m_focus;
  std::string m_information;
  MomentsTable m_table;
  FitTable m_fitTable;
  FitWeights m_fitWeights = FitWeights::None;
};

}  // namespace varnix
