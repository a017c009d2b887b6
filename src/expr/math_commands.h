#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "workspace/data_file_reader.h"
#include "workspace/graph_store.h"
#include "workspace/selection.h"

namespace varnix {

/// Math on y and x, OK pressed: converts both formulas (x first; an error
/// changes nothing), then for every selected graph takes the undo copy and
/// sets y := Y(x, y) and x := X(x, y) from the old coordinates of each point,
/// recomputes both cached ranges, and finally enables Undo. A fault ends the
/// command where it happens, Undo untouched.
void mathOnYX(GraphStore& store, const Selection& sel, const std::string& xFormula,
              const std::string& yFormula, const ProgressFn& progress = {});

/// Math on y and x closed without OK: only enables Undo (with graphs loaded).
void mathOnYXCancelled(GraphStore& store);

/// Simple math on y, OK pressed with the field texts B, A, C, D:
/// y := B*y + A + C*N + D*N*y, N counting the changed graphs; the current
/// graph alone (N = 0) when fewer than two rows are selected. A field that is
/// not a number changes nothing; returns false then.
bool simpleMathOnY(GraphStore& store, const Selection& sel, const std::string& b,
                   const std::string& a, const std::string& c, const std::string& d);

/// Simple math on x, OK pressed: x := B*x + A, with the same fallback.
bool simpleMathOnX(GraphStore& store, const Selection& sel, const std::string& b,
                   const std::string& a);

/// Math on graphs, OK pressed: op is '+', '-', '*' or '/' (nullopt: no
/// radio button checked), second the graph picked in the list (nullopt:
/// none). Shows "Second graph not selected", and refuses a second graph with
/// fewer than two points, through message.
void mathOnGraphs(GraphStore& store, const Selection& sel, std::optional<char> op,
                  std::optional<std::size_t> second, const MessageFn& message);

/// What the Math on graphs menu command does whatever the dialog's answer:
/// enable Undo.
void mathOnGraphsFinished(GraphStore& store);

}  // namespace varnix
