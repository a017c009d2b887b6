#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fit/least_squares.h"
#include "processing/series_parameter.h"
#include "workspace/callbacks.h"
#include "workspace/graph_store.h"

namespace varnix {

/// One graph of a fit run.
struct FitRow {
  std::size_t slot = 0;
  std::string name;  ///< the graph's name when it was fitted
  FitResult result;
  /// A chained fit: the slot whose result it started from (none: the given
  /// starts).
  std::optional<std::size_t> startSlot;
};

/// The last fit: its model and settings and one row per graph, in list order.
struct FitTable {
  std::shared_ptr<const FitModel> model;
  FitSettings settings;
  bool chained = false;
  bool cancelled = false;
  std::vector<FitRow> rows;
  /// The rows whose fit converged (those that save, draw and subtract).
  std::vector<const FitRow*> convergedRows() const;
};

/// Reads one parameter argument NAME=START or NAME=START:LOW:HIGH (an empty
/// LOW or HIGH is no bound; LOW = HIGH holds the parameter) into settings,
/// whose parameters follow the model. Throws Error for a malformed text, a
/// name that is not a parameter of the model, and a name given twice.
void readParameterArgument(const FitModel& model, std::string_view text, FitSettings& settings);

/// The argument text of one parameter setting, as readParameterArgument reads
/// it (for the session history).
std::string parameterArgumentText(const std::string& name, const ParameterSetting& setting);

/// Fits the model to each of the rows' graphs on the points with x in the
/// settings' range, in list order: every graph from the settings' starts,
/// or (chained) each graph after the first from the last result that
/// converged with determined errors (from the given starts while there is
/// none). A chained end that did not converge with determined errors, or
/// whose chi2/dof is more than 4 times the least of the series so far, is
/// fitted from the given starts too, and the better end is kept.
/// Bad input (settings, a graph without enough points, a model not finite
/// at the start) throws Error before any graph is fitted. cancel, asked
/// between graphs, ends the run early (the table says so).
FitTable fitGraphs(const GraphStore& store, const std::vector<std::size_t>& rows,
                   const std::shared_ptr<const FitModel>& model, const FitSettings& settings,
                   bool chained, const ProgressFn& progress = {},
                   const std::function<bool()>& cancel = {});

/// The output line of one row: "fit SLOT NAME: p1=V p1.err=E ... chi2=V dof=N
/// r2=V iterations=N status=converged" (or "status=undetermined: <which>",
/// "status=failed: <reason>"; a chained fit has "start=given" or
/// "start=slotN" before the status), numbers in the shortest form that
/// reads back the same.
std::string fitResultLine(const FitTable& table, const FitRow& row);

/// The text of a fit table file: a comment line naming the columns, then
/// per row the series parameter from the graph's name (the slot when no
/// pattern is given and a name has no digits), the value and error of every
/// parameter in formula order, chi2, r2 and the status (1 converged, 0
/// undetermined, -1 failed; a comment line with the reason goes before the
/// row of a fit that did not converge); CR LF line ends.
/// Throws Error without a table, or when a pattern finds no number in a name.
std::string fitTableText(const FitTable& table, const SeriesParameter* parameter);

/// Adds one graph per converged row: the model (residual = false) or the data
/// minus the model at the graph's own x within the fit range, named after the
/// graph with "_fit" or "_residual" before the extension. Throws Error
/// without a table, when a fitted graph is gone, or when the store has too
/// few free slots. Returns the new slots.
std::vector<std::size_t> addFitGraphs(GraphStore& store, const FitTable& table, bool residual);

/// Adds, per converged row, one graph per part of the fitted formula (parts
/// that, joined by " + ", are that formula: a baseline and its peaks): the
/// part at the fitted values, at the graph's own x within the fit range,
/// named after the graph with "_part1", "_part2"... before the extension.
/// Throws Error as addFitGraphs does, and when the parts are fewer than two
/// or do not make the fitted formula. Returns the new slots.
std::vector<std::size_t> addFitComponentGraphs(GraphStore& store, const FitTable& table,
                                               const std::vector<std::string>& parts);

}  // namespace varnix
