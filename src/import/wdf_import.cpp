// Renishaw WiRE WDF files: a chain of blocks, each with a 16-byte head (a
// four-letter name, an id, the block's size including the head). The first
// block, WDF1, is the 512-byte file header with the counts; DATA holds the
// spectra as 32-bit floats one after the other, XLST the shared x axis,
// ORGN the per-spectrum origins (map positions, time...), TEXT a comment.
#include <cmath>
#include <cstdint>
#include <limits>

#include "import/binary_bytes.h"
#include "import/import_result.h"

namespace varnix {

namespace {

constexpr std::size_t kFileHeader = 512;
constexpr std::size_t kBlockHead = 16;

constexpr std::uint32_t tag(const char (&s)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 8U |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 16U |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[3])) << 24U;
}

struct Block {
  std::size_t body = 0;  // offset of the bytes after the head
  std::size_t size = 0;  // bytes after the head that lie in the file
  bool found = false;
};

const char* unitName(std::uint32_t u) {
  static const char* const names[] = {"arbitrary",
                                      "Raman shift (cm-1)",
                                      "wavenumber",
                                      "nm",
                                      "eV",
                                      "µm",
                                      "counts",
                                      "electrons",
                                      "mm",
                                      "m",
                                      "K",
                                      "Pa",
                                      "s",
                                      "ms",
                                      "hours",
                                      "days",
                                      "pixels",
                                      "intensity",
                                      "relative intensity",
                                      "degrees",
                                      "radians",
                                      "°C",
                                      "°F",
                                      "K/min",
                                      "file time"};
  return u < std::size(names) ? names[u] : "unknown units";
}

enum OriginType : std::uint32_t { SpatialX = 3, SpatialY = 4, SpatialZ = 5 };

}  // namespace

ImportResult importWdf(std::string_view bytes, const std::string& fileName, std::size_t freeSlots) {
  ImportResult r;
  const BinaryBytes b(bytes);
  if (!b.has(0, kFileHeader) || b.u32(0) != tag("WDF1")) {
    r.refusal = "the WDF header is cut short";
    return r;
  }
  const std::uint64_t points = b.u32(60);
  const std::uint64_t capacity = b.u64(64);
  const std::uint64_t collected = b.u64(72);
  const std::uint64_t xCount = b.u32(88);
  const std::string title = b.text(240, 160);

  // Walk the block chain; a block that runs past the end keeps what is there.
  Block data, xlist, origins, text;
  std::size_t pos = 0;
  while (b.has(pos, kBlockHead)) {
    const std::uint32_t id = b.u32(pos);
    const std::uint64_t size = b.u64(pos + 8);
    if (size < kBlockHead) {
      r.warnings.push_back("a block at byte " + std::to_string(pos) +
                           " has an invalid size; the rest of the file is left out");
      break;
    }
    const std::size_t room = b.size() - pos - kBlockHead;
    const Block block{pos + kBlockHead,
                      static_cast<std::size_t>(std::min<std::uint64_t>(size - kBlockHead, room)),
                      true};
    Block* slot = id == tag("DATA")   ? &data
                  : id == tag("XLST") ? &xlist
                  : id == tag("ORGN") ? &origins
                  : id == tag("TEXT") ? &text
                                      : nullptr;
    if (slot && !slot->found) *slot = block;
    if (size - kBlockHead > room) {
      if (slot) r.warnings.push_back("the file is cut short in its data");
      break;
    }
    pos += static_cast<std::size_t>(size);
  }
  if (points == 0 || collected == 0) {
    r.refusal = "the WDF file holds no collected spectrum";
    return r;
  }
  if (!data.found) {
    r.refusal = "the WDF file has no data block";
    return r;
  }
  // Only whole spectra that lie in the file are read.
  const std::uint64_t inFile = data.size / (points * 4);
  const std::uint64_t spectra = std::min(collected, inFile);
  if (spectra == 0) {
    r.refusal = "the WDF data block is cut short";
    return r;
  }
  if (spectra < collected)
    r.warnings.push_back(std::to_string(spectra) + " of " + std::to_string(collected) +
                         " spectra are in the file");
  if (spectra > freeSlots) {
    r.refusal = slotRefusal(static_cast<std::size_t>(spectra), freeSlots);
    return r;
  }

  // The x axis; the point index where it is missing or does not fit.
  std::vector<double> xs;
  std::vector<std::string> comments;
  if (xlist.found && xCount == points && xlist.size >= 8 + points * 4) {
    xs.reserve(points);
    for (std::uint64_t j = 0; j < points; ++j) xs.push_back(b.f32(xlist.body + 8 + 4 * j));
    comments.push_back(std::string("x: ") + unitName(b.u32(xlist.body + 4)));
  } else {
    r.warnings.push_back("no usable x axis: x is the point number");
  }
  if (!title.empty()) comments.push_back("title: " + title);
  if (text.found && text.size > 0) {
    const std::string t = b.text(text.body, std::min<std::size_t>(text.size, 4096));
    if (!t.empty()) comments.push_back("comment: " + t);
  }

  // Map positions: each origin list is a type, units, a 16-byte label and one
  // 8-byte value per spectrum slot (the capacity; some writers use the count).
  std::vector<std::string> names(static_cast<std::size_t>(spectra));
  if (origins.found && origins.size >= 4 && spectra > 1) {
    const std::uint64_t lists = b.u32(origins.body);
    for (const std::uint64_t stride : {capacity, collected}) {
      const std::uint64_t each = 24 + stride * 8;
      if (stride < spectra || stride > origins.size / 8 || lists == 0 ||
          lists > (origins.size - 4) / each)
        continue;
      std::vector<std::string> found(names.size());
      for (std::uint64_t l = 0; l < lists; ++l) {
        const std::size_t at = origins.body + 4 + static_cast<std::size_t>(l * each);
        const std::uint32_t type = b.u32(at) & 0x7FFFFFFFU;
        const char* axis = type == SpatialX   ? "x"
                           : type == SpatialY ? "y"
                           : type == SpatialZ ? "z"
                                              : nullptr;
        if (!axis) continue;
        for (std::size_t k = 0; k < found.size(); ++k) {
          const double v = b.f64(at + 24 + 8 * k);
          if (!std::isfinite(v)) continue;
          if (!found[k].empty()) found[k] += " ";
          found[k] += std::string(axis) + "=" + shortestFloatText(static_cast<float>(v));
        }
      }
      names = std::move(found);
      break;
    }
  }

  for (std::uint64_t k = 0; k < spectra; ++k) {
    ImportedGraph g;
    if (spectra == 1)
      g.name = title.empty() ? fileName : title;
    else if (!names[k].empty())
      g.name = fileName + ", " + names[k];
    else
      g.name = fileName + ", spectrum " + std::to_string(k + 1);
    g.points.reserve(points);
    const std::size_t at = data.body + static_cast<std::size_t>(k * points * 4);
    for (std::uint64_t j = 0; j < points; ++j) {
      const double x = xs.empty() ? static_cast<double>(j) : xs[j];
      const double y = b.f32(at + 4 * j);
      if (!std::isfinite(x) || !std::isfinite(y)) {
        ++r.nonFinite;
        continue;
      }
      g.points.push_back({x, y});
    }
    g.comments = comments;
    r.graphs.push_back(std::move(g));
  }
  if (!dropEmptyGraphs(r, "the WDF file holds no finite values")) return r;
  r.layout = "Renishaw WiRE WDF, " + std::to_string(r.graphs.size()) +
             (r.graphs.size() == 1 ? " spectrum" : " spectra");
  return r;
}

}  // namespace varnix
