// Feeds arbitrary bytes to the import readers: as they are (tables, UTF-16,
// binary), and after a JCAMP-DX head so that the compressed-data decoder
// meets them too.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "import/import_result.h"

namespace {

void check(const std::string& bytes) {
  const varnix::ImportResult r = varnix::importBytes(bytes, "fuzz.txt");
  // Refused: no graphs; accepted: at least one, and never more comment lines
  // than the text has lines.
  if (r.refusal.has_value() != r.graphs.empty()) __builtin_trap();
  std::size_t lines = 1;
  for (char c : bytes) lines += c == '\n' || c == '\r' ? 1 : 0;
  if (!r.refusal && r.commentCount() > lines * 2 + 2) __builtin_trap();
  // Accepted: some point, and every point finite (nan, inf and overflow give
  // none), so whatever is saved of it loads back.
  if (!r.refusal && r.pointCount() == 0) __builtin_trap();
  for (const varnix::ImportedGraph& g : r.graphs)
    for (const varnix::Point& p : g.points)
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      check(std::string(body));
      break;
    case 1:
      check(
          "##TITLE=f\n##JCAMP-DX=4.24\n##FIRSTX=1\n##LASTX=9\n##NPOINTS=5\n"
          "##XYDATA=(X++(Y..Y))\n" +
          std::string(body) + "\n##END=\n");
      break;
    default:
      check("##TITLE=f\n##PEAK TABLE=(XY..XY)\n" + std::string(body));
      break;
  }
  return 0;
}
