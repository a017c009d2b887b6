#pragma once

#include <cstddef>
#include <vector>

#include "workspace/data_file_reader.h"
#include "workspace/graph_store.h"
#include "workspace/selection.h"

namespace varnix {

// The six point transforms rewrite every point of their graphs in place. A
// floating-point fault ends the command at the faulting point: points already
// rewritten keep their new values, the rest stay, the interrupted graph's
// cached range is not recomputed and Undo keeps its state.

/// Normalize (selected graphs): y := Ymax_all * y / Ymax_g in extended
/// precision, Ymax_g the graph's cached largest y from before the command.
/// Takes undo copies; enables Undo (also with no graph loaded).
void normalizeGraphs(GraphStore& store, const Selection& sel, const ProgressFn& progress = {});
/// Ln (selected graphs): y := ln y. No undo copy, Undo untouched.
void lnGraphs(GraphStore& store, const Selection& sel, const ProgressFn& progress = {});
/// Exp (selected graphs): y := e^y. No undo copy, Undo untouched.
void expGraphs(GraphStore& store, const Selection& sel, const ProgressFn& progress = {});
/// Filin (selected graphs): y below 1 becomes 1. Takes undo copies; enables
/// Undo (also with no graph loaded).
void filinGraphs(GraphStore& store, const Selection& sel, const ProgressFn& progress = {});
/// eV<=>A (selected graphs if more than one is selected, else the current
/// graph): x := 1 / (x * 8.065544E-5) in extended precision, no re-sorting;
/// then the cached ranges of every graph are recomputed (Rescale's data part).
void evAngstromGraphs(GraphStore& store, const Selection& sel);
/// eV<=>nm keeping the area (as eV<=>A chooses its graphs): x := 1239.84198 / x
/// and y := y * x^2 / 1239.84198 (the Jacobian of the conversion), both in
/// extended precision from the old x, so that the integrated intensity over
/// any range stays. No undo copy, no re-sorting; every graph's cached ranges
/// are recomputed. Applied twice it gives the curve back.
void evNanometreGraphs(GraphStore& store, const Selection& sel);
/// Remove constant shelf (selected graphs if more than one is selected, else
/// the current graph): y := y - Ymin_g, Ymin_g cached from before. Takes undo
/// copies; enables Undo when a graph is loaded.
void removeShelfGraphs(GraphStore& store, const Selection& sel);

/// Recomputes the cached x and y ranges of every graph.
void recomputeAllRanges(GraphStore& store);

/// The graphs a command works on: the selected rows, or the current graph
/// when at most one row is selected (for the commands that fall back).
std::vector<std::size_t> selectedOrCurrent(const GraphStore& store, const Selection& sel);

}  // namespace varnix
