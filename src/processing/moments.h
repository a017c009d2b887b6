#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "processing/series_parameter.h"
#include "workspace/data_file_reader.h"
#include "workspace/graph_store.h"
#include "workspace/selection.h"

namespace varnix {

/// The trapezoid sum S of order k (0..3) about centre c over the frame that
/// starts at L and is W wide; the walk runs ascending when the last x is
/// above the first, else descending, and ends after the first segment whose
/// walked end lies beyond L + W. Fewer than two points give 0.
double momentSum(const Series& s, int k, double c, double L, double W);

struct MomentValues {
  double m0 = 0, m1 = 0, d = 0, a = 0;
};

/// One row of the "Calculate Moments" table, as its cells show it.
struct MomentsRow {
  std::string name, value, m0, m1, d, a;
};

/// M0 (area), M1 (centroid), D (width) and A (skewness) of a series over
/// the frame L..U. Throws the division faults when M0 or D is 0, and the
/// invalid operation when the variance is negative. With cells, each value's
/// text is stored as soon as it is known.
MomentValues moments(const Series& s, double L, double U, MomentsRow* cells = nullptr);

struct MomentsTable {
  std::vector<MomentsRow> rows;
};

/// What Calculate Moments shows: the frame and either one graph's moments
/// (fewer than two rows selected) or the refilled table.
struct MomentsRun {
  double lower = 0, upper = 0;
  bool isTable = false;
  MomentsRow single;
};

/// Calculate Moments over the visible x range L..U. With two or more
/// selected rows the table is emptied, sized and filled row by row (a fault
/// leaves the rows filled so far). nullopt with no graph loaded.
std::optional<MomentsRun> calculateMoments(const GraphStore& store, const Selection& sel, double L,
                                           double U, MomentsTable& table,
                                           const SeriesParameter& parameter = SeriesParameter());

/// The Values of the table's rows read anew from their names; nothing
/// changes when a name gives no Value (Error).
void applySeriesParameter(MomentsTable& table, const SeriesParameter& parameter);

/// Normalize integral over L..U: every selected graph is scaled to the
/// largest area among the selected graphs. Takes undo copies; enables Undo
/// (also with no graph loaded).
void normalizeIntegral(GraphStore& store, const Selection& sel, double L, double U,
                       const ProgressFn& progress = {});

/// The text of a moment file: "Value moment" per table row, CR LF line ends.
/// order 0..3 picks M0, M1, D or A.
std::string momentFileText(const MomentsTable& table, int order);

/// Save M0..M3: writes the moment file of `order` to path. Without a moments
/// table nothing is written and Error is thrown; a failed write is reported
/// through message and counted in *failures.
void saveMomentFile(const MomentsTable& table, int order, const std::string& path,
                    const std::function<void(const std::string&)>& message,
                    std::size_t* failures = nullptr);

/// The Preview points: (Value, M0) for the lower chart and (Value, M1) for
/// the upper, each cell read up to its first non-number character.
std::pair<Series, Series> momentsPreview(const MomentsTable& table);

}  // namespace varnix
