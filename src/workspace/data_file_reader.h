#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workspace/callbacks.h"
#include "workspace/file_io.h"
#include "workspace/graph_store.h"

namespace varnix {

/// A line with more than two characters, not starting with a double quote,
/// whose first or second character lies in '.'..'9'.
bool isDataLine(std::string_view line);
/// A line starting with a double quote, or one whose first and second
/// characters both lie outside '.'..'9'.
bool isCommentLine(std::string_view line);

/// Splits a file's bytes into lines as they arrive, block by block: CR,
/// CR LF and a lone LF end a line (also when a block ends between CR and
/// LF), a Ctrl-Z ends the file, a UTF-8 byte-order mark at the start is
/// skipped, and a line may straddle any number of blocks.
class LineSplitter {
 public:
  /// Calls f(line, owned) for every line the block completes; owned is the
  /// splitter's own buffer when the line was carried over from an earlier
  /// block (f may move it away), else null.
  template <typename F>
  void feed(std::string_view block, F&& f);
  /// Hands over the last line when the file does not end with a line end.
  template <typename F>
  void finish(F&& f);

 private:
  template <typename F>
  void split(std::string_view block, F&& f);
  static bool startsWithBom(std::string_view text) {
    return text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
           static_cast<unsigned char>(text[1]) == 0xBB &&
           static_cast<unsigned char>(text[2]) == 0xBF;
  }
  std::string m_carry;  ///< a line begun in an earlier block
  bool m_started = false, m_ended = false, m_skipLf = false;
};

/// Reserves room for n points, asking the system for huge pages where a
/// column is large: a big file then costs far fewer page faults.
void reservePoints(std::vector<Point>& v, std::size_t n);

/// Calls f(line) for every line of a file's bytes (see LineSplitter).
void forEachLine(std::string_view bytes, const std::function<void(std::string_view)>& f);

/// What one data file holds, read as the graph reader reads it.
struct DataFileContent {
  /// Points per slot in file order: column 0 for the file's own slot, then
  /// one per further y column prepared by the first multi-column line.
  std::vector<std::vector<Point>> columns;
  /// Values on the last data line minus 1 (0 without data lines).
  int lastLineYColumns = 0;
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
  /// The file's lines counted beforehand (at most): the points then get
  /// their room once and never move, where a guess from the first block
  /// could run short.
  void expectLines(std::uint64_t lines);
  void feed(std::string_view block);
  /// Reads the last, unterminated line and hands over the content.
  DataFileContent finish();

 private:
  void takeLine(std::string_view line, std::string* owned);
  void line(std::string_view line);
  void prepareColumns(std::size_t values, std::size_t lineLength);

  LineSplitter m_lines;
  DataFileContent m_out;
  std::uint64_t m_sizeHint;
  std::uint64_t m_totalBytes = 0;
  std::size_t m_expectedLines = 0;
  std::size_t m_count = 0;
  bool m_reserveKnown = false, m_reserved = false, m_singleValueMode = false;
  bool m_columnsPrepared = false, m_stop = false;
};

DataFileContent parseDataFile(std::string_view bytes);

/// Counts the lines of a file's bytes as they arrive, block by block, as
/// LineSplitter splits them (at most: a Ctrl-Z ends the file early).
class LineCounter {
 public:
  void feed(std::string_view block);
  /// The lines, a last one without its line end included.
  std::uint64_t lines() const { return m_ends + 1; }

 private:
  std::uint64_t m_ends = 0;
  bool m_lastCr = false;  ///< the last block ended in a CR
};

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

/// Reads a whole data file as loadDataFile does; nullopt (told through
/// `tell`) for a file that is not regular or does not fit in memory. `read`
/// says how the reading ended (a failure midway keeps what was read).
std::optional<DataFileContent> readDataFileContent(const std::string& path, ReadResult& read,
                                                   const MessageFn& tell);

/// Reload from disk: each graph of rows reads its file again (the column it
/// came from) and takes its points and, for a file's own graph, its comment
/// lines, in place. With takeUndoCopies the old points become the undo
/// copies and Undo is enabled, so Undo brings them back. A file that is gone
/// or cannot be read, or a graph that was not read from a file, is named in
/// a message and the graph stays as it was. Returns the rows reloaded.
/// With completeLinesOnly (following a file another program is still
/// writing) a last line without its line end is left for the next reading.
/// Imported graphs are read again by importReader (path, import settings,
/// completeLinesOnly, error): a column per graph of the import and the first
/// graph's comment lines, or nullopt with the reason in error.
using ContentReader = std::function<std::optional<DataFileContent>(
    const std::string&, const std::string&, bool, std::string&)>;
/// Following files (a program may be writing them): a graph is held, not
/// reloaded, when its file is larger than maxBytes, now holds fewer points
/// than the graph (a file truncated, or rewritten and not yet complete), or
/// cannot be read; each held row is listed with the reason instead of a
/// message.
struct FollowLimits {
  std::uint64_t maxBytes = 64ull << 20;
  struct Held {
    std::size_t row;
    std::string reason;
  };
  std::vector<Held> held;
};
std::vector<std::size_t> reloadGraphs(GraphStore& store, const std::vector<std::size_t>& rows,
                                      bool takeUndoCopies, const MessageFn& message,
                                      std::size_t* failures = nullptr,
                                      bool completeLinesOnly = false,
                                      const ContentReader& importReader = {},
                                      FollowLimits* follow = nullptr);

/// Add Files with the chosen paths, in order; returns the information-line
/// text, or nullopt when the list is empty (nothing happens then).
std::optional<std::string> addFiles(GraphStore& store, const std::vector<std::string>& paths,
                                    const MessageFn& message, const ProgressFn& progress = {},
                                    std::size_t* failures = nullptr);

// --- LineSplitter ---------------------------------------------------------

template <typename F>
void LineSplitter::feed(std::string_view block, F&& f) {
  if (m_ended || block.empty()) return;
  if (!m_started) {
    // The byte-order mark may only be looked for once three bytes are there.
    if (m_carry.size() + block.size() < 3) {
      m_carry.append(block);
      return;
    }
    m_started = true;
    if (!m_carry.empty()) {
      std::string head = std::move(m_carry);
      m_carry.clear();
      head.append(block);
      if (startsWithBom(head)) head.erase(0, 3);
      split(head, f);
      return;
    }
    if (startsWithBom(block)) block.remove_prefix(3);
  }
  split(block, f);
}

template <typename F>
void LineSplitter::finish(F&& f) {
  if (!m_started) {
    m_started = true;
    std::string head = std::move(m_carry);
    m_carry = std::string();
    if (startsWithBom(head)) head.erase(0, 3);
    split(head, f);
  }
  if (!m_carry.empty()) {
    f(std::string_view(m_carry), &m_carry);
    m_carry = std::string();
  }
}

template <typename F>
void LineSplitter::split(std::string_view block, F&& f) {
  if (const void* eof = std::memchr(block.data(), '\x1A', block.size())) {
    block = block.substr(0, static_cast<std::size_t>(static_cast<const char*>(eof) - block.data()));
    m_ended = true;
  }
  if (m_skipLf && !block.empty()) {
    if (block[0] == '\n') block.remove_prefix(1);
    m_skipLf = false;
  }
  const char* p = block.data();
  const char* const end = p + block.size();
  bool atLineEnd = false;  // p is on the line end of the line just taken
  // A line begun in an earlier block ends at the first line end here.
  if (!m_carry.empty()) {
    // The first line end, found by memchr: a line may be gigabytes long.
    const auto len = static_cast<std::size_t>(end - p);
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', len));
    const char* cr =
        static_cast<const char*>(std::memchr(p, '\r', lf ? static_cast<std::size_t>(lf - p) : len));
    const char* q = cr ? cr : lf ? lf : end;
    m_carry.append(p, q);
    if (q == end) return;
    f(std::string_view(m_carry), &m_carry);
    m_carry = std::string();
    p = q;
    atLineEnd = true;
  }
  // Files from Linux tools hold no CR at all: then only LF is looked for.
  const bool anyCr = std::memchr(p, '\r', static_cast<std::size_t>(end - p)) != nullptr;
  const char* nextLf = nullptr;  // the next LF at or after p, or end
  while (p < end) {
    if (atLineEnd) {
      if (*p == '\r') {
        if (p + 1 < end && p[1] == '\n')
          ++p;
        else if (p + 1 == end)
          m_skipLf = true;
      }
      ++p;
      atLineEnd = false;
      continue;
    }
    // The line ends at the first LF or CR, whichever comes first.
    if (nextLf < p) {
      nextLf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      if (!nextLf) nextLf = end;
    }
    const char* q = nextLf;
    if (anyCr) {
      if (const void* cr = std::memchr(p, '\r', static_cast<std::size_t>(q - p)))
        q = static_cast<const char*>(cr);
    }
    if (q == end) {
      m_carry.assign(p, end);
      return;
    }
    f(std::string_view(p, static_cast<std::size_t>(q - p)), static_cast<std::string*>(nullptr));
    p = q;
    atLineEnd = true;
  }
}

}  // namespace varnix
