#pragma once

#include <string>
#include <vector>

#include "workspace/data_file_reader.h"
#include "workspace/graph_store.h"

namespace varnix {

/// The Slicer dialog's field texts.
struct SlicerFields {
  std::string from = "10";
  std::string to = "300";
  std::string step = "5";
  std::string prefix = "d";
  std::string suffix;
  std::string directory;
  /// "Decimals in file names": 0 names each slice after its window start
  /// rounded to a whole number; d > 0 keeps d decimals (d2.3.Dat).
  std::string decimals = "0";
  /// "Parameter from name": "digits" or a pattern (see SeriesParameter).
  std::string parameter = "digits";
};

/// The area of a series in the window starting at p, w wide: the segments
/// walked in index order from the first whose right end is at or after p,
/// up to and including the first whose right end lies beyond p + w.
/// Fewer than two points give 0.
double sliceValue(const Series& s, double p, double w);

/// The slice file name for window start p: directory "/" prefix count
/// suffix ".Dat", count being p rounded half to even, to a whole number or
/// to `decimals` decimals.
std::string sliceFileName(const SlicerFields& f, double p, int decimals = 0);

/// The largest number of decimals in slice file names.
constexpr int kMaxSliceDecimals = 15;

/// The text of one slice: "Value area" per graph in list order, CR LF ends;
/// values[i] is the Value of graph i.
std::string sliceText(const GraphStore& store, const std::vector<std::string>& values, double p,
                      double w);

/// OK of the Slicer: writes one slice file per window start from `from`
/// while below `to` (at least one). A step that is not positive, a walk of
/// window starts in which one does not move on from the one before, more
/// than a million windows, or decimals that are not a whole number from 0 to
/// kMaxSliceDecimals are refused through message before anything is written. A missing folder
/// throws "Invalid filename", a file that cannot be written "Could not write <file>: <why>"
/// (the disk is full, the file is read-only, ...); slices written before remain. Returns the
/// files written, in order.
std::vector<std::string> sliceGraphs(const GraphStore& store, const SlicerFields& f,
                                     const MessageFn& message);

}  // namespace varnix
