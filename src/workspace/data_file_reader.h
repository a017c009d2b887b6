#pragma once

#include <cstddef>
#include <cstdint>
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
  /// The line whose value did not convert (at most kMaxQuotedLine + 1
  /// characters of it); reading stopped there.
  std::optional<std::string> badLine;
};

/// The longest part of a bad line that a message quotes; a longer line is
/// cut there and followed by "...".
constexpr std::size_t kMaxQuotedLine = 4096;

/// Reads a data file's bytes block by block, as they come from the disk:
/// lines, numbers and line ends may straddle blocks. The result is the same
/// as for the whole text at once.
class DataFileParser {
 public:
  /// sizeHint: the file's size, to reserve room for its points.
  explicit DataFileParser(std::uint64_t sizeHint = 0);
  void feed(std::string_view block);
  /// Reads the last, unterminated line and hands over the content.
  DataFileContent finish();

 private:
  void feedBlock(std::string_view block);
  void takeCarriedLine();
  void line(std::string_view line);
  void prepareColumns(std::size_t values, std::size_t lineLength);

  DataFileContent m_out;
  std::uint64_t m_sizeHint;
  std::uint64_t m_totalBytes = 0;
  std::size_t m_expectedLines = 0;
  std::string m_carry;  ///< a line begun in an earlier block
  std::size_t m_count = 0;
  bool m_started = false, m_ended = false, m_skipLf = false, m_reserveKnown = false;
  bool m_reserved = false, m_singleValueMode = false, m_columnsPrepared = false, m_stop = false;
};

DataFileContent parseDataFile(std::string_view bytes);

/// "Wrong data in <path>;String "<line>" is invalid"; a line longer than
/// kMaxQuotedLine is quoted up to there and followed by "...".
std::string wrongDataMessage(const std::string& path, std::string_view line);

/// Reads the file at path and appends its graphs to the store as Add Files
/// does: the file's own graph named after the file, then the column graphs
/// "1", "2", ... with empty comment lists. A bad value shows the "Wrong data
/// in " message; the points before it stay. A file that cannot be opened gives
/// an empty graph. A file that would take the store beyond its capacity is
/// refused with a message and nothing is added, and so is one that is not a
/// regular file or does not fit in memory. A file that exists but cannot be
/// read, or whose reading fails midway, keeps what was read and says "Could
/// not read <path>: <reason>". Returns the graphs added; every refusal or
/// failed read adds one to *failures.
std::size_t loadDataFile(GraphStore& store, const std::string& path, const MessageFn& message,
                         std::size_t* failures = nullptr);

/// Add Files with the chosen paths, in order; returns the information-line
/// text, or nullopt when the list is empty (nothing happens then).
std::optional<std::string> addFiles(GraphStore& store, const std::vector<std::string>& paths,
                                    const MessageFn& message, const ProgressFn& progress = {},
                                    std::size_t* failures = nullptr);

}  // namespace varnix
