#pragma once

#include <cstddef>
#include <optional>

#include "workspace/graph_store.h"

namespace varnix {

/// The point Delete point at cursor removes for cursor x c: searching the
/// pairs f = 1 .. n-2 with the neighbour before (ascending x) or after
/// (descending), the last matching pair deciding; point 0 never. nullopt
/// when nothing is to be deleted.
std::optional<std::size_t> pointAtCursor(const Series& s, double c);

/// Delete point at cursor on the current graph: takes its undo copy (also
/// when nothing is deleted), deletes the point, enables Undo. Returns the
/// deleted index.
std::optional<std::size_t> deletePointAtCursor(GraphStore& store, std::size_t current, double c);

}  // namespace varnix
