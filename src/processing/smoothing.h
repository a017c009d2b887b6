#pragma once

#include <vector>

#include "workspace/data_file_reader.h"
#include "workspace/graph_store.h"
#include "workspace/selection.h"

namespace varnix {

/// The DISPO weights by distance 0..5 from the centre (they sum to 1.001
/// over the 11 positions).
inline constexpr double kDispoWeights[6] = {0.207, 0.196, 0.161, 0.103, 0.021, -0.084};

/// y of point i of a series smoothed with the 11-point DISPO filter, computed
/// from the points y; the five points at each end keep their values.
double dispoValue(const std::vector<Point>& y, std::size_t i);

/// DISPO smoothing of the selected graphs: undo copy, filter, cached y range;
/// enables Undo (also with no graph loaded).
void dispoSmoothGraphs(GraphStore& store, const Selection& sel, const ProgressFn& progress = {});

}  // namespace varnix
