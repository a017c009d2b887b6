#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/import_settings.h"
#include "workspace/graph_store.h"

namespace varnix {

/// No limit on the graphs a file may make.
inline constexpr std::size_t kAnySlots = static_cast<std::size_t>(-1);

/// One curve found in an instrument's export.
struct ImportedGraph {
  std::string name;
  std::vector<Point> points;
  /// Lines that were not data (headers, footers, stray lines, JCAMP-DX
  /// labelled records): the graph's comment lines.
  std::vector<std::string> comments;
};

/// What the import readers make of a file's bytes.
struct ImportResult {
  std::vector<ImportedGraph> graphs;
  /// How the file was read, for the summary ("separator tab, decimal comma").
  std::string layout;
  /// Notes on what was left out or did not agree.
  std::vector<std::string> warnings;
  /// Values that were nan, inf or beyond the 64-bit range: no point was made
  /// of them.
  std::size_t nonFinite = 0;
  /// Why nothing could be imported; no graphs then.
  std::optional<std::string> refusal;
  /// What the table was read with: each field given, or the guess for it
  /// (the fields a reader has no use for stay empty).
  ImportSettings settings;

  std::size_t pointCount() const {
    std::size_t n = 0;
    for (const ImportedGraph& g : graphs) n += g.points.size();
    return n;
  }
  std::size_t commentCount() const {
    std::size_t n = 0;
    for (const ImportedGraph& g : graphs) n += g.comments.size();
    return n;
  }
};

/// The bytes as UTF-8 text: a UTF-8 byte order mark is dropped, UTF-16 with
/// a byte order mark is converted (into `storage`, which `text` then views;
/// otherwise `text` views the bytes). False for a file that is not text (NUL
/// bytes or mostly control characters); `encoding` names what was found.
bool decodeText(std::string_view bytes, std::string& storage, std::string_view& text,
                std::string& encoding);

/// Calls f(number, line) for each line of a text, numbered from 0: CR LF, a
/// lone CR and a lone LF all end a line; f returns false to stop. The lines
/// are views into the text.
template <typename F>
void forEachTextLine(std::string_view text, F&& f) {
  std::size_t number = 0;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const auto* nl =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char* stop = nl ? nl : end;
    std::string_view line(p, static_cast<std::size_t>(stop - p));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    for (std::size_t cr; (cr = line.find('\r')) != std::string_view::npos;) {
      if (!f(number++, line.substr(0, cr))) return;
      line.remove_prefix(cr + 1);
    }
    if (!f(number++, line)) return;
    p = nl ? nl + 1 : end;
  }
}

/// The lines of a text (see forEachTextLine).
std::vector<std::string_view> splitLines(std::string_view text);

/// Reads a delimited table (CSV, semicolon or tab files, blank-separated
/// columns, decimal commas, header and footer lines, wide tables), with the
/// fields of settings that are given and a guess for the others.
ImportResult importTable(std::string_view text, const std::string& fileName,
                         const ImportSettings& settings = {});

/// Reads a JCAMP-DX file (4.24 and 5.x; XYDATA in AFFN and ASDF forms,
/// XYPOINTS, PEAK TABLE; simple LINK files with several blocks).
ImportResult importJcamp(std::string_view text, const std::string& fileName);

/// Whether the text is a VAMAS (ISO 14976) file: it starts with the
/// format's identifier.
bool looksLikeVamas(std::string_view text);

/// Reads a VAMAS file (REGULAR scans, any experiment mode): each block's
/// each corresponding variable one graph, named by the block identifier;
/// more graphs than freeSlots is refused.
ImportResult importVamas(std::string_view text, const std::string& fileName,
                         std::size_t freeSlots = kAnySlots);

/// Whether the text is JCAMP-DX: its first non-blank line starts "##" and a
/// JCAMP-DX version or data label follows (other "##KEY=value" headers head
/// plain tables).
bool looksLikeJcamp(std::string_view text);

/// Whether the text is a PANalytical XRDML file: XML whose first 4 KiB open
/// an xrdMeasurements element.
bool looksLikeXrdml(std::string_view text);

/// Reads a PANalytical XRDML file (with pugixml): each scan one graph, x
/// from the 2Theta positions (a start and end, or a list; else the axis
/// that moves), y its intensities or counts; more scans than freeSlots is
/// refused before they are read.
ImportResult importXrdml(std::string_view text, const std::string& fileName,
                         std::size_t freeSlots = kAnySlots);

/// Reads a Thermo Galactic SPC file (new and old format, one or several
/// subfiles, even x, a shared x array or one per subfile); more subfiles than
/// freeSlots is refused before they are read.
ImportResult importSpc(std::string_view bytes, const std::string& fileName,
                       std::size_t freeSlots = kAnySlots);

/// Reads a Renishaw WiRE WDF file: each collected spectrum one graph, x from
/// the file's x list, maps named by position; more spectra than freeSlots is
/// refused before they are read.
ImportResult importWdf(std::string_view bytes, const std::string& fileName,
                       std::size_t freeSlots = kAnySlots);

/// The name of a binary spectroscopy format this import does not read, found
/// from the bytes' magic (or the name's extension); empty if none.
std::string unreadableFormatName(std::string_view bytes, const std::string& fileName);

/// Decodes and reads a file's bytes with the reader its content asks for; a
/// file that would need more than freeSlots graphs may be refused early.
/// Settings apply to tables; other files are read as they say and warned
/// about settings that were given.
ImportResult importBytes(std::string_view bytes, const std::string& fileName,
                         std::size_t freeSlots = kAnySlots, const ImportSettings& settings = {});

/// The part of a file name after its last dot, in lower case; empty when
/// the name has no dot (a dot in a folder name does not count).
std::string lowerExtension(const std::string& fileName);

/// Whether a file's first bytes (64 KiB or more of a longer file) start a
/// text that only the table reader reads: no binary format, no UTF-16 (it
/// is converted whole), no VAMAS, no "##" header (JCAMP-DX is told by its
/// labels). text: the bytes after a UTF-8 byte order mark; encoding: as
/// decodeText says.
bool tableTextStart(std::string_view bytes, std::string_view& text, std::string& encoding);

/// What importBytes adds to a reader's result: the encoding in front of the
/// layout, and a warning when settings were given for a file that describes
/// its own layout.
void describeReading(ImportResult& r, const std::string& encoding, const ImportSettings& settings);

/// A count with thousands grouped: 12,345.
std::string groupedCount(std::size_t n);

/// The refusal of a file that needs more graph slots than are free.
std::string slotRefusal(std::size_t needed, std::size_t free);

/// Drops the graphs without a point, with a warning each; when none is left
/// the result is refused with `refusal` and false returned.
bool dropEmptyGraphs(ImportResult& r, const std::string& refusal);

}  // namespace varnix
