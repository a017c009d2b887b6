#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workspace/graph_store.h"

namespace varnix {

/// Shows a message box with one OK button (the CLI prints the line).
using MessageFn = std::function<void(const std::string&)>;
/// Sets the progress bar, 0 to 100.
using ProgressFn = std::function<void(int)>;

/// A line with more than two characters, not starting with a double quote,
/// whose first or second character lies in '.'..'9'.
bool isDataLine(std::string_view line);
/// A line starting with a double quote, or one whose first and second
/// characters both lie outside '.'..'9'.
bool isCommentLine(std::string_view line);

/// Splits a file's bytes into lines: CR, CR LF and a lone LF end a line, a
/// Ctrl-Z ends the file, a UTF-8 byte-order mark at the start is skipped.
/// Calls f(line) for every line.
void forEachLine(std::string_view bytes, const std::function<void(std::string_view)>& f);

/// What one data file holds, read as the graph reader reads it.
struct DataFileContent {
  /// Points per slot in file order: column 0 for the file's own slot, then
  /// one per further y column prepared by the first multi-column line.
  std::vector<std::vector<Point>> columns;
  /// Values on the last data line minus 1 (0 without data lines).
  int result = 0;
  /// The comment lines, as read.
  std::vector<std::string> comments;
  /// The line whose value did not convert; reading stopped there.
  std::optional<std::string> badLine;
};

DataFileContent parseDataFile(std::string_view bytes);

/// "Wrong data in <path>;String "<line>" is invalid"
std::string wrongDataMessage(const std::string& path, std::string_view line);

/// Reads the file at path and appends its graphs to the store as Add Files
/// does: the file's own graph named after the file, then the column graphs
/// "1", "2", ... with empty comment lists. A bad value shows the "Wrong data
/// in " message; the points before it stay. A file that cannot be opened gives
/// an empty graph. A file that would take the store beyond its capacity is
/// refused with a message and nothing is added. Returns the graphs added.
std::size_t loadDataFile(GraphStore& store, const std::string& path, const MessageFn& message);

/// Add Files with the chosen paths, in order; returns the information-line
/// text, or nullopt when the list is empty (nothing happens then).
std::optional<std::string> addFiles(GraphStore& store, const std::vector<std::string>& paths,
                                    const MessageFn& message, const ProgressFn& progress = {});

}  // namespace varnix
