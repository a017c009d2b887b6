#pragma once

#include <optional>
#include <string>
#include <vector>

#include "workspace/graph_store.h"
#include "workspace/selection.h"

namespace varnix {

/// What the Measure window shows for one graph between the x of the two
/// cursor lines. An empty value is a cell that cannot be computed ("–").
struct Measurement {
  std::string name;
  std::optional<double> yAtFirst, yAtSecond;  ///< y at each cursor, linearly interpolated
  std::optional<Point> maximum, minimum;      ///< of the curve between the cursors
  std::optional<double> fwhm;                 ///< full width at half maximum of the largest peak
  std::optional<double> area;                 ///< trapezoids between the cursors
  std::optional<double> areaAboveBaseline;    ///< area less the straight line between the cursors
  std::optional<double> centroid;             ///< x of the area's centre
};

/// Measures a graph between first and second (either order). The curve is
/// the polyline through its points; between the cursors it runs from the
/// interpolated value at the lower cursor through every point inside to the
/// interpolated value at the upper one (a cursor outside the graph's x range
/// cuts nothing off). The half maximum is half the largest y; its two
/// crossings are interpolated on the polyline and must lie between the
/// cursors. Ascending and descending x are searched by bisection (only the
/// points between the cursors are visited); x in mixed order gives no values.
Measurement measure(const Graph& g, double first, double second);

/// The graphs a measurement covers: the selected rows, or the current graph
/// when none is selected.
std::vector<Measurement> measureGraphs(const GraphStore& store, const Selection& sel, double first,
                                       double second);

/// Tab-separated text with a header row, one row per graph, numbers with 7
/// significant digits and "–" for cells that cannot be computed (what Copy
/// puts on the clipboard and Save... writes).
std::string measurementText(const std::vector<Measurement>& rows, double first, double second);

/// The column captions of the Measure window and of measurementText.
const std::vector<std::string>& measurementColumns();

/// The cell text of one value ("–" when empty).
std::string measurementCell(const std::optional<double>& v);

}  // namespace varnix
