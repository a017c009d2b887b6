// Feeds arbitrary bytes to the import readers: as they are (tables, UTF-16,
// binary, SPC and WDF files), after a JCAMP-DX head so that the
// compressed-data decoder meets them too, after valid SPC and WDF headers
// so that the subfile and block readers meet them, under the x row of a
// table of one spectrum per row, after a VAMAS experiment header, and with
// import settings read from the first line (which must read back the same
// when formatted); plain bodies and bodies with settings also after the
// first rows of a large table, read as they arrive in blocks, which must
// import as the whole text does. The bytes as they are also give a
// signature for the remembered import settings, which must not depend on
// the numbers.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import/import_result.h"
#include "import/table_stream.h"
#include "session/import_memory.h"

namespace {

/// A valid header with the given fields set (little-endian), zero elsewhere.
std::string header(std::size_t size,
                   std::initializer_list<std::pair<std::size_t, std::uint32_t>> fields) {
  std::string h(size, '\0');
  for (const auto& [at, v] : fields)
    for (std::size_t k = 0; k < 4; ++k) h[at + k] = static_cast<char>((v >> (8 * k)) & 0xFFU);
  return h;
}

void check(const std::string& bytes, const char* name = "fuzz.txt",
           const varnix::ImportSettings& settings = {}) {
  const varnix::ImportResult r = varnix::importBytes(bytes, name, 301, settings);
  // Refused: no graphs; accepted: at least one, and never more comment lines
  // than the text has lines (the binary readers add a few header notes to
  // each graph).
  if (r.refusal.has_value() != r.graphs.empty()) __builtin_trap();
  std::size_t lines = 1;
  for (char c : bytes) lines += c == '\n' || c == '\r' ? 1 : 0;
  if (!r.refusal && r.commentCount() > lines * 2 + 2 + 4 * r.graphs.size()) __builtin_trap();
  // Accepted: some point, and every point finite (nan, inf and overflow give
  // none), so whatever is saved of it loads back.
  if (!r.refusal && r.pointCount() == 0) __builtin_trap();
  for (const varnix::ImportedGraph& g : r.graphs)
    for (const varnix::Point& p : g.points)
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) __builtin_trap();
}

/// Files alike but for their numbers share the signature; a text file's is
/// its extension and 16 hex digits.
void checkSignature(std::string_view bytes) {
  const std::string signature = varnix::importSignature(bytes, "/data/run 1.Txt");
  if (signature.empty()) return;
  if (signature.size() != 20 || signature.compare(0, 4, "txt ") != 0) __builtin_trap();
  for (char c : signature.substr(4))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) __builtin_trap();
  if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") return;
  std::string renumbered(bytes);
  for (char& c : renumbered)
    if (c >= '0' && c <= '9') c = static_cast<char>('0' + (c - '0' + 7) % 10);
  if (varnix::importSignature(renumbered, "other.TXT") != signature) __builtin_trap();
}

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

/// The body after a table's first 2003 plain rows, read as it arrives in
/// blocks of `block` bytes, must import as the whole text does (or be left
/// to the whole-text reading).
void checkStreamed(std::string_view body, unsigned variant,
                   const varnix::ImportSettings& settings = {}) {
  constexpr const char* kSeparators[] = {"\t", ";", ",", "  "};
  const char* separator = kSeparators[variant % 4];
  const bool comma = variant / 4 % 2 == 1 && separator[0] != ',';
  std::string text;
  for (int k = 0; k < 2003; ++k)
    text += std::to_string(k) + (comma ? ",5" : ".5") + separator + std::to_string(k % 17) + "\n";
  // The fixed rows come in one block but for their last few hundred bytes,
  // so that block edges fall around the end of the sample and through the
  // body without thousands of calls per input.
  const std::size_t firstBlock = text.size() - 300;
  text += body;
  const std::size_t block = 1 + variant * 97 % 3000;
  auto read = [&](const varnix::BlockSink& sink) {
    sink(std::string_view(text).substr(0, firstBlock), text.size());
    for (std::size_t at = firstBlock; at < text.size(); at += block)
      sink(std::string_view(text).substr(at, block), text.size());
    return varnix::ReadResult{};
  };
  // Each reading guesses the separator from 2000 lines: one way per input.
  const bool completeLinesOnly = variant / 8 % 2 == 1;
  std::string notice;
  const std::optional<varnix::ImportResult> streamed =
      varnix::streamTable(read, "fuzz.txt", completeLinesOnly, settings, notice);
  if (!streamed) return;
  std::string whole = text;
  if (completeLinesOnly) whole.resize(varnix::completeLines(whole).size());
  const varnix::ImportResult r = varnix::importBytes(whole, "fuzz.txt", 301, settings);
  if (streamed->refusal != r.refusal || streamed->layout != r.layout ||
      streamed->warnings != r.warnings || streamed->nonFinite != r.nonFinite ||
      !(streamed->settings == r.settings) || streamed->graphs.size() != r.graphs.size())
    __builtin_trap();
  for (std::size_t g = 0; g < r.graphs.size(); ++g) {
    const varnix::ImportedGraph& a = streamed->graphs[g];
    const varnix::ImportedGraph& b = r.graphs[g];
    if (a.name != b.name || a.comments != b.comments || a.points.size() != b.points.size())
      __builtin_trap();
    for (std::size_t k = 0; k < a.points.size(); ++k)
      if (!sameBits(a.points[k].x, b.points[k].x) || !sameBits(a.points[k].y, b.points[k].y))
        __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 9) {
    case 0:
      check(std::string(body));
      checkSignature(body);
      checkStreamed(body, data[0] / 9U);
      break;
    case 1:
      check(
          "##TITLE=f\n##JCAMP-DX=4.24\n##FIRSTX=1\n##LASTX=9\n##NPOINTS=5\n"
          "##XYDATA=(X++(Y..Y))\n" +
          std::string(body) + "\n##END=\n");
      break;
    case 2:
      check("##TITLE=f\n##PEAK TABLE=(XY..XY)\n" + std::string(body));
      break;
    case 3:
      // SPC, new format: several subfiles each with its own x, float values.
      check(header(512, {{0, 0x80004BC4U}, {24, 3}}) + std::string(body), "f.spc");
      break;
    case 4:
      // SPC, old format: several subfiles, 16 points of 32-bit integers.
      check(header(256, {{0, 0x00104D04U}, {4, 0x41800000U}}) + std::string(body), "f.spc");
      break;
    case 6:
      check(",400,401,402,403\n" + std::string(body));
      break;
    case 8:
      // VAMAS: an experiment header of two blocks, the blocks from the body.
      check(
          "VAMAS Surface Chemical Analysis Standard Data Transfer Format 1988 May 4\n"
          "L\nI\nO\nE\n0\nNORM\nREGULAR\n1\n0\n0\n0\n0\n0\n2\n" +
              std::string(body),
          "f.vms");
      break;
    case 7: {
      const std::size_t eol = std::min(body.find('\n'), body.size());
      const std::vector<std::string> words = varnix::importSettingWords(body.substr(0, eol));
      std::string error;
      const std::optional<varnix::ImportSettings> s = varnix::parseImportSettings(words, error);
      if (s.has_value() != error.empty()) __builtin_trap();
      if (!s) break;
      if (varnix::parseImportSettings(varnix::formatImportSettings(*s), error) != s)
        __builtin_trap();
      check(std::string(body.substr(std::min(eol + 1, body.size()))), "fuzz.txt", *s);
      checkStreamed(body.substr(std::min(eol + 1, body.size())), data[0] / 9U, *s);
      break;
    }
    default:
      // WDF: 4 points, room for 8 spectra, 5 collected; blocks follow.
      check(header(512, {{0, 0x31464457U}, {8, 512}, {60, 4}, {64, 8}, {72, 5}, {88, 4}}) +
                std::string(body),
            "f.wdf");
      break;
  }
  return 0;
}
