#include "import/importer.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "import/table_stream.h"
#include "workspace/file_io.h"

namespace varnix {

namespace {

bool pathTaken(const std::string& path, const GraphStore& store) {
  // Any entry counts, a dangling link among them: a save must never write
  // through a link someone placed at the name.
  if (entryExists(path)) return true;
  for (std::size_t i = 0; i < store.count(); ++i)
    if (store.graph(i).path == path) return true;
  return false;
}

std::string plural(std::size_t n, const std::string& word) {
  return groupedCount(n) + " " + word + (n == 1 ? "" : "s");
}

/// A text from a file as one visible line: control characters (an escape
/// sequence that would drive the terminal, a line break) as \t, \r, \n or
/// \xHH.
std::string visible(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F) {
      out += c;
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

}  // namespace

ImportResult importFile(const std::string& path, bool completeLinesOnly,
                        const ImportSettings& settings, std::size_t freeSlots,
                        const ImportReading& reading, bool* streamed) {
  if (streamed) *streamed = false;
  // A large plain table is read as it arrives, never whole.
  std::string notice;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (!ec && size >= reading.streamFrom) {
    // An interrupted save is undone first, whichever reading then decides.
    notice = recoverInterruptedSave(path);
    std::string readNotice;
    std::optional<ImportResult> r = streamTable(
        [&](const BlockSink& sink) { return readFileInBlocks(path, sink, reading.blockSize); },
        fileNameOf(path), completeLinesOnly, settings, readNotice);
    if (notice.empty()) notice = readNotice;
    if (r) {
      if (streamed) *streamed = true;
      if (!notice.empty()) r->warnings.insert(r->warnings.begin(), notice);
      return std::move(*r);
    }
  }
  ImportResult result;
  std::string bytes;
  const ReadResult read = readWholeFile(path, bytes);
  if (read.status == ReadStatus::Missing)
    result.refusal = "there is no such file";
  else if (read.status == ReadStatus::NotRegular)
    result.refusal = "not a regular file";
  else if (read.status == ReadStatus::NoMemory)
    result.refusal = "not enough memory";
  else if (read.status != ReadStatus::Ok)
    result.refusal = read.reason.empty() ? std::string("the file cannot be read") : read.reason;
  if (result.refusal) return result;
  if (notice.empty()) notice = read.notice;
  // CR, LF or CR LF end a line (a file of CR-only lines has no LF at all).
  // UTF-16 line ends are two bytes; the decoder drops an odd last one.
  if (completeLinesOnly) bytes.resize(completeLines(bytes).size());
  result = importBytes(bytes, fileNameOf(path), freeSlots, settings);
  if (!notice.empty()) result.warnings.insert(result.warnings.begin(), notice);
  return result;
}

std::optional<DataFileContent> importedContent(const std::string& path, const std::string& settings,
                                               bool completeLinesOnly, std::string& error) {
  const std::optional<ImportSettings> parsed =
      parseImportSettings(importSettingWords(settings), error);
  if (!parsed) {
    error = path + ": " + error;
    return std::nullopt;
  }
  ImportResult r = importFile(path, completeLinesOnly, *parsed);
  if (r.refusal) {
    error = path + ": " + *r.refusal;
    return std::nullopt;
  }
  DataFileContent c;
  for (ImportedGraph& g : r.graphs) c.columns.push_back(std::move(g.points));
  if (!r.graphs.empty()) c.comments = std::move(r.graphs.front().comments);
  return c;
}

std::string importedGraphPath(const std::string& original, const GraphStore& store) {
  const std::string name = fileNameOf(original);
  const std::string folder = original.substr(0, original.size() - name.size());
  std::string base = name.substr(0, name.rfind('.'));
  // An export named only by its extension (".csv") would give a hidden
  // ".dat": its name without the leading dots is the visible one ("csv.dat").
  const std::size_t shown = name.find_first_not_of('.');
  if (base.find_first_not_of('.') == std::string::npos && shown != std::string::npos)
    base = name.substr(shown);
  const std::string stem = folder + base;
  std::string path = stem + ".dat";
  for (int k = 2; pathTaken(path, store); ++k) path = stem + " (" + std::to_string(k) + ").dat";
  return path;
}

std::string importSummaryLine(const std::string& path, const ImportResult& result) {
  if (result.refusal) return path + ": not imported: " + *result.refusal;
  std::string line = path + ": " + plural(result.graphs.size(), "graph") + ", " +
                     plural(result.pointCount(), "point") + ", " + result.layout;
  if (const std::size_t c = result.commentCount(); c > 0)
    line += ", " + plural(c, "line") + " kept as comments";
  if (result.nonFinite > 0)
    line += ", " + plural(result.nonFinite, "value") +
            " left out (nan, inf or beyond the number range)";
  const std::size_t shown = std::min(result.warnings.size(), kShownWarnings);
  for (std::size_t k = 0; k < shown; ++k) line += "; warning: " + visible(result.warnings[k]);
  if (result.warnings.size() > shown)
    line += "; and " + groupedCount(result.warnings.size() - shown) + " more";
  return line;
}

std::vector<std::string> importFiles(GraphStore& store, const std::vector<std::string>& paths,
                                     const ProgressFn& progress, std::size_t* graphsAdded,
                                     std::size_t* failures, const ImportSettings& settings) {
  std::string settingsText;
  for (const std::string& word : formatImportSettings(settings))
    settingsText += (settingsText.empty() ? "" : " ") + word;
  std::vector<std::string> summary;
  std::size_t added = 0;
  for (std::size_t p = 0; p < paths.size(); ++p) {
    const std::string& path = paths[p];
    ImportResult result;
    try {
      const std::size_t free = GraphStore::kMaxGraphs - store.count();
      result = importFile(path, false, settings, free);
      const std::size_t graphs = result.graphs.size();
      if (!result.refusal && graphs > free) {
        const bool rowsOfSpectra = result.settings.layout == ImportLayout::SpectrumPerRow;
        result.graphs.clear();
        result.refusal = slotRefusal(graphs, free);
        if (rowsOfSpectra)
          *result.refusal += "; import-with rows=FROM:TO[:STEP] takes part of the rows";
      }
      if (!result.refusal) {
        summary.push_back(importSummaryLine(path, result));
        const std::size_t first = store.count();
        try {
          for (std::size_t k = 0; k < result.graphs.size(); ++k) {
            ImportedGraph& ig = result.graphs[k];
            Graph& g = store.append(ig.name, importedGraphPath(path, store));
            g.series.assignSorted(std::move(ig.points));
            g.comments = std::move(ig.comments);
            g.sourcePath = path;
            g.sourceColumn = k;
            g.sourceImported = true;
            g.importSettings = settingsText;
            g.createOnSave = true;
            g.savedHash = contentHash(g);
          }
        } catch (const std::bad_alloc&) {
          while (store.count() > first) store.removeGraphSlot(store.count() - 1);
          summary.pop_back();
          throw;
        }
        store.setUndoEnabled(false);
        added += graphs;
      }
    } catch (const std::bad_alloc&) {
      result = {};
      result.refusal = "not enough memory";
    }
    if (result.refusal) {
      if (failures) ++*failures;
      summary.push_back(importSummaryLine(path, result));
    }
    reportProgress(progress, p, paths.size());
  }
  if (progress) progress(0);
  if (graphsAdded) *graphsAdded = added;
  return summary;
}

}  // namespace varnix
