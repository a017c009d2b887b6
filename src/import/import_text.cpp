#include <algorithm>
#include <cstdint>

#include "import/binary_bytes.h"
#include "import/import_result.h"
#include "workspace/graph_store.h"

namespace varnix {

namespace {

void appendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string fromUtf16(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](std::size_t i) -> std::uint32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8U) | b : (b << 8U) | a;
  };
  constexpr std::uint32_t kReplacement = 0xFFFD;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const std::uint32_t u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
      const std::uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        appendUtf8(out, 0x10000 + ((u - 0xD800) << 10U) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    appendUtf8(out, u >= 0xD800 && u < 0xE000 ? kReplacement : u);
  }
  return out;
}

bool isBinary(std::string_view text) {
  const std::size_t n = std::min<std::size_t>(text.size(), 1 << 16);
  std::size_t control = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0) return true;
    if (c < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != '\f' && c != 0x1A) ++control;
  }
  return control * 100 > n;
}

}  // namespace

bool decodeText(std::string_view bytes, std::string& storage, std::string_view& text,
                std::string& encoding) {
  auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  encoding.clear();
  if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    const bool big = starts("\xFE\xFF");
    encoding = big ? "UTF-16 BE" : "UTF-16 LE";
    storage = fromUtf16(bytes.substr(2), big);
    text = storage;
    return !isBinary(text);
  }
  if (starts("\xEF\xBB\xBF")) {
    encoding = "UTF-8";
    bytes.remove_prefix(3);
  }
  text = bytes;
  return !isBinary(text);
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  forEachTextLine(text, [&](std::size_t, std::string_view line) {
    lines.push_back(line);
    return true;
  });
  return lines;
}

std::string groupedCount(std::size_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string slotRefusal(std::size_t needed, std::size_t free) {
  return "it needs " + groupedCount(needed) + (needed == 1 ? " graph slot" : " graph slots") +
         " and only " + std::to_string(free) + " of " + std::to_string(GraphStore::kMaxGraphs) +
         " are free";
}

bool dropEmptyGraphs(ImportResult& r, const std::string& refusal) {
  std::vector<ImportedGraph> kept;
  std::vector<std::string> comments;  // of graphs dropped: they stay with the file
  for (ImportedGraph& g : r.graphs) {
    if (g.points.empty()) {
      r.warnings.push_back(g.name + " has no point and makes no graph");
      comments.insert(comments.end(), g.comments.begin(), g.comments.end());
    } else {
      kept.push_back(std::move(g));
    }
  }
  if (!kept.empty() && !comments.empty())
    kept.front().comments.insert(kept.front().comments.begin(), comments.begin(), comments.end());
  r.graphs = std::move(kept);
  if (r.graphs.empty()) r.refusal = refusal;
  return !r.graphs.empty();
}

std::string lowerExtension(const std::string& fileName) {
  const std::size_t slash = fileName.find_last_of('/');
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = fileName.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext;
}

namespace {

bool isSpcVersion(std::string_view bytes) {
  if (bytes.size() < 2) return false;
  const auto version = static_cast<unsigned char>(bytes[1]);
  return version == 0x4B || version == 0x4C || version == 0x4D;
}

}  // namespace

std::string unreadableFormatName(std::string_view bytes, const std::string& fileName) {
  auto starts = [&](std::string_view magic) { return bytes.substr(0, magic.size()) == magic; };
  if (starts("Andor Technology Multi-Channel File")) return "Andor SIF";
  // PHI MultiPak's text header (SOFH ... EOFH) before its binary data; its
  // files are named .spe like Princeton's.
  if (starts("SOFH")) return "PHI MultiPak";
  if (starts(std::string_view("\x0A\x0A\xFE\xFE", 4))) return "Bruker OPUS";
  if (starts("PEPE")) return "PerkinElmer SP";
  if (starts("Spectral Data File") || starts("Spectral Exchange File")) return "Thermo SPA";
  // Princeton Instruments' header is 4100 bytes and ends with 0x5555.
  if (BinaryBytes(bytes).has(4098, 2) && BinaryBytes(bytes).u16(4098) == 0x5555)
    return "Princeton SPE";
  const std::string ext = lowerExtension(fileName);
  if (ext == "sif") return "Andor SIF";
  if (ext == "spe") return "Princeton SPE";
  if (ext == "spa") return "Thermo SPA";
  if (ext == "sp") return "PerkinElmer SP";
  return {};
}

namespace {

/// Whether the bytes start as no binary format does (WDF's magic).
bool mayBeText(std::string_view bytes) {
  return bytes.substr(0, 4) != "WDF1";
}

/// Whether text that decoded is a binary file after all (Andor and PHI
/// MultiPak write text before their binary data).
bool textHeadedBinary(std::string_view bytes) {
  return bytes.substr(0, 35) == "Andor Technology Multi-Channel File" ||
         bytes.substr(0, 4) == "SOFH";
}

ImportResult readBytes(std::string_view bytes, const std::string& fileName, std::size_t freeSlots,
                       const ImportSettings& settings, std::string& encoding) {
  ImportResult r;
  if (bytes.empty()) {
    r.refusal = "the file is empty";
    return r;
  }
  if (!mayBeText(bytes)) return importWdf(bytes, fileName, freeSlots);
  std::string storage;
  std::string_view text;
  const bool isText = decodeText(bytes, storage, text, encoding);
  if (!isText && isSpcVersion(bytes)) {
    r = importSpc(bytes, fileName, freeSlots);
    // A version byte alone is weak evidence: only a file named .spc is told
    // why its SPC content could not be read.
    if (!r.refusal || lowerExtension(fileName) == "spc") return r;
    r = {};
  }
  if (!isText || textHeadedBinary(bytes)) {
    const std::string format = unreadableFormatName(bytes, fileName);
    r.refusal = format.empty() ? std::string("not a text file (binary content)")
                               : "a " + format +
                                     " file (binary), which cannot be imported; "
                                     "export it as text or JCAMP-DX";
    return r;
  }
  if (looksLikeXrdml(text)) return importXrdml(text, fileName, freeSlots);
  return looksLikeVamas(text)   ? importVamas(text, fileName, freeSlots)
         : looksLikeJcamp(text) ? importJcamp(text, fileName)
                                : importTable(text, fileName, settings);
}

}  // namespace

bool tableTextStart(std::string_view bytes, std::string_view& text, std::string& encoding) {
  std::string storage;
  // A UTF-16 text is converted whole; JCAMP-DX is told from plain "##"
  // headers only by all its labels.
  if (bytes.empty() || !mayBeText(bytes) || !decodeText(bytes, storage, text, encoding) ||
      !storage.empty() || textHeadedBinary(bytes) || looksLikeVamas(text) || looksLikeXrdml(text))
    return false;
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && text.substr(first, 2) != "##";
}

void describeReading(ImportResult& r, const std::string& encoding, const ImportSettings& settings) {
  if (!encoding.empty() && !r.refusal) r.layout = encoding + ", " + r.layout;
  // Only tables take settings; the other readers follow the file's own
  // description, and a setting given for them would be silently lost.
  if (!r.refusal && !settings.automatic() && r.settings.automatic())
    r.warnings.insert(r.warnings.begin(),
                      "the import settings were not used: the file describes its own layout");
}

ImportResult importBytes(std::string_view bytes, const std::string& fileName, std::size_t freeSlots,
                         const ImportSettings& settings) {
  std::string encoding;
  ImportResult r = readBytes(bytes, fileName, freeSlots, settings, encoding);
  describeReading(r, encoding, settings);
  return r;
}

}  // namespace varnix
