#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "import/import_result.h"
#include "import/table_stream.h"
#include "workspace/callbacks.h"
#include "workspace/data_file_reader.h"
#include "workspace/graph_store.h"

namespace varnix {

/// Where an imported graph is saved: the original path with its extension
/// replaced by ".dat", with " (2)", " (3)"... before it while that file
/// exists (any entry, a dangling link too) or another graph already has that
/// path, so that Save never overwrites the instrument's own export.
std::string importedGraphPath(const std::string& original, const GraphStore& store);

/// Warnings a summary line shows; it counts the rest ("and 12 more").
inline constexpr std::size_t kShownWarnings = 20;

/// One line of the import summary for a file: graphs, points, layout,
/// comment lines, values left out for not being finite, the first
/// kShownWarnings warnings.
std::string importSummaryLine(const std::string& path, const ImportResult& result);

/// How files are read for their import: from streamFrom bytes on as they
/// arrive (blocks of blockSize), smaller ones whole.
struct ImportReading {
  std::uint64_t streamFrom = kStreamFrom;
  std::size_t blockSize = std::size_t{1} << 20;
};

/// Reads a file and imports it as importFiles does each (the store aside):
/// a refusal says why it cannot be read, an undone interrupted save is the
/// first warning; with completeLinesOnly a last line without its line end
/// is left out. A large plain table is imported as it is read, with the
/// same result as reading it whole (streamed, if given, says which).
ImportResult importFile(const std::string& path, bool completeLinesOnly,
                        const ImportSettings& settings = {}, std::size_t freeSlots = kAnySlots,
                        const ImportReading& reading = {}, bool* streamed = nullptr);

/// Import: each file is read by the tolerant readers and its graphs enter the
/// store as Add Files puts them (same slots, the capacity and its refusal).
/// Returns one summary line per file; `graphsAdded` counts the new graphs and
/// `failures` the files not imported.
/// The settings apply to every file; the graphs remember them for reloading.
std::vector<std::string> importFiles(GraphStore& store, const std::vector<std::string>& paths,
                                     const ProgressFn& progress, std::size_t* graphsAdded,
                                     std::size_t* failures, const ImportSettings& settings = {});

/// An export read again for Reload from disk and Follow files, with the
/// import settings it was imported with (words separated by blanks): a
/// column of points per graph of the import (in file order) and the first
/// graph's comment lines; with completeLinesOnly a last line without its
/// line end is left out. nullopt with the reason in error.
std::optional<DataFileContent> importedContent(const std::string& path, const std::string& settings,
                                               bool completeLinesOnly, std::string& error);

}  // namespace varnix
