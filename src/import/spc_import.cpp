// Thermo Galactic SPC files: a fixed main header, then one or more subfiles
// (a 32-byte subfile header and its values). The x axis is either even
// (first and last value in the main header), one x array shared by every
// subfile, or an x array in each subfile. Values are 32-bit floats or
// integers scaled by a power of two.
#include <cmath>
#include <cstdint>

#include "import/binary_bytes.h"
#include "import/import_result.h"

namespace varnix {

namespace {

constexpr std::uint8_t kShortY = 0x01;   // 16-bit integer values
constexpr std::uint8_t kMulti = 0x04;    // several subfiles
constexpr std::uint8_t kLabels = 0x20;   // axis labels in the header's label text
constexpr std::uint8_t kXyxy = 0x40;     // each subfile has its own x array
constexpr std::uint8_t kXValues = 0x80;  // one x array before the subfiles

constexpr std::size_t kNewHeader = 512;
constexpr std::size_t kOldHeader = 256;
constexpr std::size_t kSubHeader = 32;
constexpr int kFloatExponent = -128;

/// A byte read as a two's-complement number (-128..127).
int signedByte(std::uint8_t b) {
  return b < 128 ? int{b} : int{b} - 256;
}

const char* xUnits(std::uint8_t t) {
  static const char* const names[] = {"arbitrary",
                                      "wavenumber (cm-1)",
                                      "micrometres",
                                      "nanometres",
                                      "seconds",
                                      "minutes",
                                      "hertz",
                                      "kilohertz",
                                      "megahertz",
                                      "mass (m/z)",
                                      "ppm",
                                      "days",
                                      "years",
                                      "Raman shift (cm-1)",
                                      "eV",
                                      "text labels",
                                      "diode number",
                                      "channel",
                                      "degrees",
                                      "temperature (F)",
                                      "temperature (C)",
                                      "temperature (K)",
                                      "data points",
                                      "milliseconds",
                                      "microseconds",
                                      "nanoseconds",
                                      "gigahertz",
                                      "centimetres",
                                      "metres",
                                      "millimetres",
                                      "hours"};
  return t < std::size(names) ? names[t] : nullptr;
}

const char* yUnits(std::uint8_t t) {
  static const char* const names[] = {"arbitrary intensity",
                                      "interferogram",
                                      "absorbance",
                                      "Kubelka-Munk",
                                      "counts",
                                      "volts",
                                      "degrees",
                                      "milliamps",
                                      "millimetres",
                                      "millivolts",
                                      "log(1/R)",
                                      "percent",
                                      "intensity",
                                      "relative intensity",
                                      "energy",
                                      nullptr,
                                      "decibel",
                                      nullptr,
                                      nullptr,
                                      "temperature (F)",
                                      "temperature (C)",
                                      "temperature (K)",
                                      "index of refraction",
                                      "extinction coefficient",
                                      "real",
                                      "imaginary",
                                      "complex"};
  if (t < std::size(names)) return names[t];
  if (t == 128) return "transmission";
  if (t == 129) return "reflectance";
  if (t == 130) return "single beam";
  if (t == 131) return "emission";
  return nullptr;
}

struct Header {
  bool old = false;
  std::uint8_t flags = 0;
  int exponent = 0;
  std::uint64_t points = 0;  // per subfile when x is shared
  double first = 0, last = 0;
  std::uint64_t subfiles = 1;
  std::size_t dataStart = 0;  // the first subfile header
  std::uint8_t xType = 0, yType = 0;
  std::string memo, labels;
  float zStep = 0;
};

/// One subfile's values as y; x from `xs` (shared or its own array) or even.
struct Subfile {
  float z = 0;
  std::vector<Point> points;
};

std::string bytesNeeded(std::uint64_t n, const char* what) {
  return "the SPC file is cut short (" + std::to_string(n) + " " + what +
         " announced, more than the file holds)";
}

class SpcReader {
 public:
  SpcReader(std::string_view bytes, const std::string& fileName, std::size_t freeSlots)
      : m_bytes(bytes, bytes.size() > 1 && bytes[1] == 0x4C),
        m_name(fileName),
        m_freeSlots(freeSlots) {}

  ImportResult read() {
    ImportResult r;
    if (!readHeader(r)) return r;
    std::vector<float> sharedX;
    std::size_t pos = m_h.dataStart;
    const bool xyxy = !m_h.old && (m_h.flags & kXyxy);
    const std::size_t yBytes = (m_h.flags & kShortY) ? 2 : 4;
    if (!xyxy) {
      // Checked before anything is allocated from the count.
      const std::uint64_t room = (m_bytes.size() - std::min(m_bytes.size(), pos)) / yBytes;
      if (m_h.points == 0 || m_h.points > room) {
        r.refusal = m_h.points == 0 ? std::string("the SPC file holds no points")
                                    : bytesNeeded(m_h.points, "points");
        return r;
      }
    }
    if (!m_h.old && (m_h.flags & kXValues) && !xyxy) {
      if (!m_bytes.has(pos, m_h.points * 4)) {
        r.refusal = bytesNeeded(m_h.points, "x values");
        return r;
      }
      sharedX.reserve(m_h.points);
      for (std::uint64_t j = 0; j < m_h.points; ++j) sharedX.push_back(m_bytes.f32(pos + 4 * j));
      pos += m_h.points * 4;
    }
    if (!m_h.old &&
        m_h.subfiles > (m_bytes.size() - std::min(m_bytes.size(), pos)) / kSubHeader + 1) {
      r.refusal = bytesNeeded(m_h.subfiles, "subfiles");
      return r;
    }
    if (!m_h.old && m_h.subfiles > m_freeSlots) {
      r.refusal = slotRefusal(static_cast<std::size_t>(m_h.subfiles), m_freeSlots);
      return r;
    }
    std::vector<Subfile> subs;
    for (std::uint64_t k = 0; k < m_h.subfiles; ++k) {
      // The old format's first subfile header is the main header's last 32 bytes.
      const std::size_t head = m_h.old && k == 0 ? kOldHeader - kSubHeader : pos;
      if (!(m_h.old && k == 0)) pos += kSubHeader;
      if (!m_bytes.has(head, kSubHeader)) {
        if (m_h.old && k > 0) break;  // the old format does not count its subfiles
        r.refusal = bytesNeeded(m_h.subfiles, "subfiles");
        return r;
      }
      Subfile s;
      s.z = m_bytes.f32(head + 4);
      std::uint64_t n = m_h.points;
      std::vector<float> ownX;
      if (xyxy) {
        n = m_bytes.u32(head + 16);
        if (n == 0 || !m_bytes.has(pos, n * 4) || !m_bytes.has(pos + n * 4, n * yBytes)) {
          r.refusal = bytesNeeded(n, "points in a subfile");
          return r;
        }
        ownX.reserve(n);
        for (std::uint64_t j = 0; j < n; ++j) ownX.push_back(m_bytes.f32(pos + 4 * j));
        pos += n * 4;
      }
      if (!m_bytes.has(pos, n * yBytes)) {
        if (m_h.old && k > 0) break;
        r.refusal = bytesNeeded(n, "points in a subfile");
        return r;
      }
      // Each subfile scales its own values; a subfile that leaves its
      // exponent at 0 follows the file's.
      const int own = signedByte(m_bytes.u8(head + 1));
      const int exponent = own != 0 ? own : m_h.exponent;
      const std::vector<float>& xs = xyxy ? ownX : sharedX;
      s.points.reserve(n);
      for (std::uint64_t j = 0; j < n; ++j) {
        const double y = value(pos + j * yBytes, yBytes, exponent);
        const double x = xs.empty() ? evenX(j, n) : static_cast<double>(xs[j]);
        if (!std::isfinite(x) || !std::isfinite(y)) {
          ++r.nonFinite;
          continue;
        }
        s.points.push_back({x, y});
      }
      pos += n * yBytes;
      subs.push_back(std::move(s));
    }
    name(r, subs);
    r.layout = std::string("Thermo Galactic SPC") + (m_h.old ? ", old format" : "") +
               (subs.size() > 1 ? ", " + std::to_string(subs.size()) + " subfiles" : "") +
               (xyxy              ? ", x per subfile"
                : sharedX.empty() ? ", even x"
                                  : ", x array");
    return r;
  }

 private:
  bool readHeader(ImportResult& r) {
    const std::uint8_t version = m_bytes.u8(1);
    m_h.flags = m_bytes.u8(0);
    if (version == 0x4D) {
      m_h.old = true;
      if (!m_bytes.has(0, kOldHeader)) {
        r.refusal = "the SPC header is cut short";
        return false;
      }
      m_h.exponent = static_cast<std::int16_t>(m_bytes.u16(2));
      // The old format marks float values with 0x80 in its 16-bit exponent.
      if (m_h.exponent == 0x80) m_h.exponent = kFloatExponent;
      const float n = m_bytes.f32(4);
      if (!(n >= 1 && n <= 4.0e9F) || n != std::floor(n)) {
        r.refusal = "the SPC header gives no valid point count";
        return false;
      }
      m_h.points = static_cast<std::uint64_t>(n);
      m_h.first = m_bytes.f32(8);
      m_h.last = m_bytes.f32(12);
      m_h.xType = m_bytes.u8(16);
      m_h.yType = m_bytes.u8(17);
      m_h.memo = m_bytes.text(64, 130);
      m_h.labels = m_bytes.text(194, 30);
      // The old format does not count its subfiles: they run to the end.
      m_h.subfiles = (m_h.flags & kMulti) ? m_bytes.size() : 1;
      m_h.dataStart = kOldHeader;
      return true;
    }
    if (!m_bytes.has(0, kNewHeader)) {
      r.refusal = "the SPC header is cut short";
      return false;
    }
    m_h.exponent = signedByte(m_bytes.u8(3));
    m_h.points = m_bytes.u32(4);
    m_h.first = m_bytes.f64(8);
    m_h.last = m_bytes.f64(16);
    m_h.subfiles = (m_h.flags & kMulti) ? m_bytes.u32(24) : 1;
    m_h.xType = m_bytes.u8(28);
    m_h.yType = m_bytes.u8(29);
    m_h.memo = m_bytes.text(88, 130);
    m_h.labels = m_bytes.text(218, 30);
    m_h.zStep = m_bytes.f32(312);
    m_h.dataStart = kNewHeader;
    if (m_h.subfiles == 0) {
      r.refusal = "the SPC file holds no subfiles";
      return false;
    }
    if ((m_h.flags & kXyxy) == 0 && (!std::isfinite(m_h.first) || !std::isfinite(m_h.last)) &&
        (m_h.flags & kXValues) == 0) {
      r.refusal = "the SPC header gives no valid x range";
      return false;
    }
    return true;
  }

  double value(std::size_t at, std::size_t size, int exponent) const {
    if (exponent == kFloatExponent) return m_bytes.f32(at);
    if (size == 2) return std::ldexp(static_cast<std::int16_t>(m_bytes.u16(at)), exponent - 16);
    std::uint32_t v = m_bytes.u32(at);
    // The old format keeps the high 16 bits first.
    if (m_h.old) v = (v << 16U) | (v >> 16U);
    return std::ldexp(static_cast<std::int32_t>(v), exponent - 32);
  }

  double evenX(std::uint64_t j, std::uint64_t n) const {
    if (n < 2) return m_h.first;
    const double t = static_cast<double>(j) / static_cast<double>(n - 1);
    return j + 1 == n ? m_h.last : m_h.first + (m_h.last - m_h.first) * t;
  }

  void name(ImportResult& r, std::vector<Subfile>& subs) const {
    std::vector<std::string> comments;
    if (!m_h.memo.empty()) comments.push_back("memo: " + m_h.memo);
    if ((m_h.flags & kLabels) && !m_h.labels.empty())
      comments.push_back("axis labels: " + m_h.labels);
    if (const char* u = xUnits(m_h.xType); u && m_h.xType != 0)
      comments.push_back("x: " + std::string(u));
    if (const char* u = yUnits(m_h.yType); u && m_h.yType != 0)
      comments.push_back("y: " + std::string(u));
    // Subfiles are named by their z value where the values tell them apart.
    bool distinct = true;
    for (std::size_t k = 1; k < subs.size() && distinct; ++k)
      distinct = subs[k].z != subs[k - 1].z && std::isfinite(subs[k].z);
    for (std::size_t k = 0; k < subs.size(); ++k) {
      ImportedGraph g;
      if (subs.size() == 1)
        g.name = m_h.memo.empty() ? m_name : m_h.memo;
      else if (distinct && std::isfinite(subs[0].z))
        g.name = m_name + ", z=" + shortestFloatText(subs[k].z);
      else
        g.name = m_name + ", subfile " + std::to_string(k + 1);
      g.points = std::move(subs[k].points);
      g.comments = comments;
      r.graphs.push_back(std::move(g));
    }
    dropEmptyGraphs(r, "the SPC file holds no finite values");
  }

  BinaryBytes m_bytes;
  const std::string& m_name;
  std::size_t m_freeSlots;
  Header m_h;
};

}  // namespace

ImportResult importSpc(std::string_view bytes, const std::string& fileName, std::size_t freeSlots) {
  return SpcReader(bytes, fileName, freeSlots).read();
}

}  // namespace varnix
