#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnix {

/// How a table's numbers make graphs.
enum class ImportLayout {
  FirstColumnX,    ///< x in one column, a graph per other column
  ColumnPairs,     ///< x1 y1 x2 y2 ...: a graph per pair
  SpectrumPerRow,  ///< x in the first row, a graph per following row
  StackedScans,    ///< two columns, x restarting: a graph per run
  StartStep,       ///< x from a start and step in the header, all numbers y
  AlternateLines,  ///< one column, x and y on alternate lines
};

/// Rows FROM to TO (counted from 1, TO included, 0: to the last), every STEP-th.
struct RowRange {
  std::size_t from = 1;
  std::size_t to = 0;
  std::size_t step = 1;
  bool operator==(const RowRange&) const = default;
  /// Whether the row numbered n (from 1) is taken.
  bool takes(std::size_t n) const {
    return n >= from && (to == 0 || n <= to) && (step == 1 || (n - from) % step == 0);
  }
};

/// The choices of an import; an empty field is automatic (the import
/// guesses it). Columns and rows are counted from 1, lines of the file too.
struct ImportSettings {
  /// '\t', ';', ',' or ' ' (runs of blanks and tabs).
  std::optional<char> separator;
  /// '.' or ','.
  std::optional<char> decimal;
  /// Lines at the start that are never data (they become comment lines).
  std::optional<std::size_t> skipLines;
  /// The line holding the column titles; 0: none.
  std::optional<std::size_t> headerRow;
  std::optional<ImportLayout> layout;
  /// The column of x (FirstColumnX) ; 0: none, x is the row number.
  std::optional<std::size_t> xColumn;
  /// The columns that make graphs, in order.
  std::optional<std::vector<std::size_t>> columns;
  /// The data rows taken (one spectrum per row: the spectra taken).
  std::optional<RowRange> rows;
  /// Columns in front of the numbers that are labels (text, a sample name,
  /// metadata); 0: none. A row's labels name its graph (SpectrumPerRow).
  std::optional<std::size_t> labels;
  /// The first x and the step of x (StartStep), over what the header says.
  std::optional<double> start;
  std::optional<double> step;

  bool operator==(const ImportSettings&) const = default;
  /// Whether every field is automatic.
  bool automatic() const { return *this == ImportSettings{}; }
};

/// Reads KEY=VALUE words (keys: separator, decimal, skip, header, layout, x,
/// columns, rows, labels, start, step; "auto" for any value). nullopt with a message naming the
/// word in error.
std::optional<ImportSettings> parseImportSettings(const std::vector<std::string>& words,
                                                  std::string& error);

/// The words of settings kept as one text, split at blanks and tabs.
std::vector<std::string> importSettingWords(std::string_view text);

/// Whether a word is meant as an import setting (a lower-case key and "=").
bool isImportSettingWord(std::string_view word);

/// The fields that are not automatic as KEY=VALUE words, in the order of
/// the keys; parseImportSettings gives back the same settings.
std::vector<std::string> formatImportSettings(const ImportSettings& settings);

/// The words and what they take, one line each, for help texts.
std::string importSettingsHelp();

}  // namespace varnix
