#pragma once

// Writers of the binary spectroscopy formats the import reads, written from
// the formats' public descriptions, so that tests (and the fuzz seed corpus)
// can make files with exactly the values, counts and damage they need.

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace varnix::test {

/// A growing byte buffer with fixed-offset little- or big-endian fields.
class ByteWriter {
 public:
  explicit ByteWriter(bool bigEndian = false) : m_big(bigEndian) {}
  void put(std::size_t at, std::uint64_t v, std::size_t n) {
    if (m_bytes.size() < at + n) m_bytes.resize(at + n, '\0');
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t shift = 8 * (m_big ? n - 1 - k : k);
      m_bytes[at + k] = static_cast<char>((v >> shift) & 0xFFU);
    }
  }
  void u8(std::size_t at, std::uint64_t v) { put(at, v, 1); }
  void u16(std::size_t at, std::uint64_t v) { put(at, v, 2); }
  void u32(std::size_t at, std::uint64_t v) { put(at, v, 4); }
  void u64(std::size_t at, std::uint64_t v) { put(at, v, 8); }
  void f32(std::size_t at, float v) { u32(at, std::bit_cast<std::uint32_t>(v)); }
  void f64(std::size_t at, double v) { u64(at, std::bit_cast<std::uint64_t>(v)); }
  void text(std::size_t at, const std::string& s) {
    for (std::size_t k = 0; k < s.size(); ++k) u8(at + k, static_cast<unsigned char>(s[k]));
  }
  std::size_t size() const { return m_bytes.size(); }
  void grow(std::size_t n) { m_bytes.resize(m_bytes.size() + n, '\0'); }
  const std::string& bytes() const { return m_bytes; }

 private:
  std::string m_bytes;
  bool m_big;
};

/// One SPC subfile: z value, its own x (only with kSpcXyxy), and y given as
/// raw stored numbers: floats when the exponent is -128, else integers.
struct SpcSub {
  float z = 0;
  std::vector<float> x;
  std::vector<double> raw;
  int exponent = -128;
};

inline constexpr std::uint8_t kSpcShortY = 0x01;
inline constexpr std::uint8_t kSpcMulti = 0x04;
inline constexpr std::uint8_t kSpcXyxy = 0x40;
inline constexpr std::uint8_t kSpcXValues = 0x80;

/// An SPC file in the new format (version 0x4B, or 0x4C big-endian).
inline std::string spcFile(std::uint8_t flags, int exponent, double first, double last,
                           const std::vector<float>& sharedX, const std::vector<SpcSub>& subs,
                           const std::string& memo = "", bool bigEndian = false,
                           std::uint32_t pointCount = 0, std::uint32_t subfileCount = 0) {
  ByteWriter w(bigEndian);
  w.u8(0, flags);
  w.u8(1, bigEndian ? 0x4C : 0x4B);
  w.u8(3, static_cast<std::uint8_t>(static_cast<std::int8_t>(exponent)));
  const std::size_t n = subs.empty() ? 0 : subs[0].raw.size();
  w.u32(4, pointCount ? pointCount : static_cast<std::uint32_t>(n));
  w.f64(8, first);
  w.f64(16, last);
  w.u32(24, subfileCount ? subfileCount : static_cast<std::uint32_t>(subs.size()));
  w.u8(28, 13);  // Raman shift
  w.u8(29, 4);   // counts
  w.text(88, memo.substr(0, 129));
  w.u8(511, 0);
  for (float x : sharedX) w.f32(w.size(), x);
  const std::size_t yBytes = (flags & kSpcShortY) ? 2 : 4;
  for (const SpcSub& s : subs) {
    const std::size_t head = w.size();
    w.u8(head + 1, static_cast<std::uint8_t>(static_cast<std::int8_t>(s.exponent)));
    w.f32(head + 4, s.z);
    w.u32(head + 16, static_cast<std::uint32_t>(s.raw.size()));
    w.u8(head + 31, 0);
    for (float x : s.x) w.f32(w.size(), x);
    for (double v : s.raw) {
      if (s.exponent == -128)
        w.f32(w.size(), static_cast<float>(v));
      else
        w.put(w.size(), static_cast<std::uint64_t>(static_cast<std::int64_t>(v)), yBytes);
    }
  }
  return w.bytes();
}

/// An SPC file in the old format (version 0x4D): 32-bit integers stored
/// with their high 16 bits first, the first subfile header inside the main
/// header, further subfiles each with their own header (exponent k from
/// `subExponents`, 0 where it has none).
inline std::string spcOldFile(std::uint8_t flags, int exponent, float first, float last,
                              const std::vector<std::vector<std::int32_t>>& subs,
                              const std::string& memo = "",
                              const std::vector<int>& subExponents = {}) {
  ByteWriter w;
  w.u8(0, flags);
  w.u8(1, 0x4D);
  w.u16(2, static_cast<std::uint16_t>(static_cast<std::int16_t>(exponent)));
  w.f32(4, static_cast<float>(subs.empty() ? 0 : subs[0].size()));
  w.f32(8, first);
  w.f32(12, last);
  w.text(64, memo.substr(0, 129));
  w.u8(255, 0);
  for (std::size_t k = 0; k < subs.size(); ++k) {
    if (k > 0) w.grow(32);
    if (k < subExponents.size())
      w.u8(k == 0 ? 225 : w.size() - 31,
           static_cast<std::uint8_t>(static_cast<std::int8_t>(subExponents[k])));
    for (std::int32_t v : subs[k]) {
      const auto u = static_cast<std::uint32_t>(v);
      w.u16(w.size(), u >> 16U);
      w.u16(w.size(), u & 0xFFFFU);
    }
  }
  return w.bytes();
}

/// One WDF origin list: its type (3 x, 4 y, 5 z, 11 time...) and values.
struct WdfOrigin {
  std::uint32_t type;
  std::vector<double> values;
};

/// A WiRE WDF file: the 512-byte header block, XLST (unless x is empty),
/// ORGN (unless there are no origins), TEXT and DATA.
inline std::string wdfFile(const std::vector<std::vector<float>>& spectra,
                           const std::vector<float>& x, const std::vector<WdfOrigin>& origins = {},
                           const std::string& title = "", std::uint64_t collected = 0,
                           std::uint64_t capacityExtra = 0) {
  ByteWriter w;
  const std::uint64_t points = spectra.empty() ? x.size() : spectra[0].size();
  const std::uint64_t capacity = spectra.size() + capacityExtra;
  w.text(0, "WDF1");
  w.u32(4, 1);
  w.u64(8, 512);
  w.u32(60, static_cast<std::uint32_t>(points));
  w.u64(64, capacity);
  w.u64(72, collected ? collected : spectra.size());
  w.u32(84, 1);
  w.u32(88, static_cast<std::uint32_t>(x.size()));
  w.u32(92, static_cast<std::uint32_t>(origins.size()));
  w.text(96, "WiRE");
  w.u32(152, 1);
  w.text(240, title);
  w.u8(511, 0);
  auto block = [&](const char* tag, std::size_t body) {
    const std::size_t at = w.size();
    w.text(at, tag);
    w.u32(at + 4, 0);
    w.u64(at + 8, 16 + body);
    return at + 16;
  };
  if (!x.empty()) {
    std::size_t at = block("XLST", 8 + 4 * x.size());
    w.u32(at, 1);
    w.u32(at + 4, 1);  // Raman shift
    for (float v : x) w.f32(w.size(), v);
  }
  if (!origins.empty()) {
    std::size_t at = block("ORGN", 4 + origins.size() * (24 + 8 * capacity));
    w.u32(at, origins.size());
    for (const WdfOrigin& o : origins) {
      w.u32(w.size(), o.type | (o.type == 3 || o.type == 4 ? 0x80000000U : 0U));
      w.u32(w.size(), 5);  // micrometres
      w.text(w.size(), "Origin         ");
      w.u8(w.size(), 0);
      for (std::uint64_t k = 0; k < capacity; ++k)
        w.f64(w.size(), k < o.values.size() ? o.values[k] : 0.0);
    }
  }
  block("TEXT", 5);
  w.text(w.size(), "notes");
  block("DATA", 4 * points * capacity);
  for (std::uint64_t k = 0; k < capacity; ++k)
    for (std::uint64_t j = 0; j < points; ++j)
      w.f32(w.size(), k < spectra.size() ? spectra[k][j] : 0.0F);
  return w.bytes();
}

}  // namespace varnix::test
