#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/import_result.h"
#include "workspace/file_io.h"

namespace varnix {

struct TableTail;

/// The complete lines of a text: up to its last line end (CR or LF).
std::string_view completeLines(std::string_view text);

/// Lines the table reader guesses separator and decimal mark from.
inline constexpr std::size_t kTableSampleLines = 2000;

/// The lines the table reader guesses separator and decimal mark from: the
/// first kTableSampleLines lines that are not blank, after the lines to skip
/// and the title line.
std::vector<std::string_view> tableSample(std::string_view text, const ImportSettings& settings);

/// The length of text up to the line end of the last line of the sample
/// the table reader guesses from (a file's first part that long decides as
/// the whole would); 0 when its complete lines do not hold the whole sample.
std::size_t tableSampleEnd(std::string_view text, const ImportSettings& settings);

/// A table read as its file arrives: its first lines by the table reader,
/// the lines after them as plain rows of numbers added to the graphs. The
/// result is the table reader's on the whole text; where a line could
/// change more than the points (a blank cell, a text line, x turning back,
/// a row of another width, nan or inf) the stream closes, and the file must
/// be read whole.
class TableStream {
 public:
  /// Reads the first lines (complete lines, holding the sample), which
  /// must stay until finish.
  TableStream(std::string_view head, const std::string& fileName, const ImportSettings& settings);
  ~TableStream();
  TableStream(const TableStream&) = delete;
  TableStream& operator=(const TableStream&) = delete;

  /// Whether lines may follow (false: the head alone decided nothing yet,
  /// or its table is no plain one).
  bool open() const;
  /// Room for this many more rows in each graph that grows, taken once.
  void expectRows(std::uint64_t rows);
  /// Takes further lines of text (CR, LF or CR LF end them); false, and
  /// closed, at the first that is not a plain row.
  bool feed(std::string_view lines);
  /// The import; nullopt when the stream closed or the rows that came
  /// changed what the first lines decided.
  std::optional<ImportResult> finish();

 private:
  bool row(std::string_view line);

  std::vector<std::string_view> m_sample;
  ImportResult m_result;
  std::unique_ptr<TableTail> m_tail;
  std::vector<double> m_cells;
  std::vector<std::string_view> m_fields;
};

/// Hands a file's bytes to the sink block by block, each time it is called
/// (readFileInBlocks for a file), and says how the reading ended.
using BlockReader = std::function<ReadResult(const BlockSink& sink)>;

/// Files of this size or more are imported as they are read.
inline constexpr std::uint64_t kStreamFrom = std::uint64_t{4} << 20;

/// The import of a large plain table (x in one column, numbers only after
/// its header) in two readings of its bytes, never holding its text: the
/// first counts its lines and reads its first part, the second adds the
/// rows. nullopt when the bytes are no such table through and through, or
/// changed between the readings, or could not be read: the whole-file
/// import then decides. notice: what the first reading had to say. With
/// completeLinesOnly a last line without its line end is left out.
std::optional<ImportResult> streamTable(const BlockReader& read, const std::string& fileName,
                                        bool completeLinesOnly, const ImportSettings& settings,
                                        std::string& notice);

}  // namespace varnix
