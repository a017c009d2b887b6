#pragma once

#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnix {

/// Bounds-checked reading of fixed-size fields from a binary file held in
/// memory. Callers ask has() before reading; a read past the end yields 0.
class BinaryBytes {
 public:
  explicit BinaryBytes(std::string_view bytes, bool bigEndian = false)
      : m_bytes(bytes), m_bigEndian(bigEndian) {}

  /// The number of bytes held.
  std::size_t size() const { return m_bytes.size(); }
  /// Whether n bytes from offset lie inside the file (no overflow).
  bool has(std::size_t offset, std::size_t n) const {
    return offset <= m_bytes.size() && n <= m_bytes.size() - offset;
  }
  /// The byte at offset.
  std::uint8_t u8(std::size_t offset) const {
    return has(offset, 1) ? static_cast<std::uint8_t>(m_bytes[offset]) : 0;
  }
  /// A 16-bit unsigned field.
  std::uint16_t u16(std::size_t offset) const {
    return static_cast<std::uint16_t>(unsignedField(offset, 2));
  }
  /// A 32-bit unsigned field.
  std::uint32_t u32(std::size_t offset) const {
    return static_cast<std::uint32_t>(unsignedField(offset, 4));
  }
  /// A 64-bit unsigned field.
  std::uint64_t u64(std::size_t offset) const { return unsignedField(offset, 8); }
  /// An IEEE single-precision field.
  float f32(std::size_t offset) const { return std::bit_cast<float>(u32(offset)); }
  /// An IEEE double-precision field.
  double f64(std::size_t offset) const { return std::bit_cast<double>(u64(offset)); }
  /// A fixed-size text field up to its first NUL, blanks trimmed and control
  /// characters shown as blanks.
  std::string text(std::size_t offset, std::size_t n) const {
    if (!has(offset, n)) return {};
    std::string_view s = m_bytes.substr(offset, n);
    s = s.substr(0, s.find('\0'));
    std::string out;
    for (char c : s) out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
  }

 private:
  std::uint64_t unsignedField(std::size_t offset, std::size_t n) const {
    if (!has(offset, n)) return 0;
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t at = m_bigEndian ? k : n - 1 - k;
      v = (v << 8U) | static_cast<unsigned char>(m_bytes[offset + at]);
    }
    return v;
  }

  std::string_view m_bytes;
  bool m_bigEndian;
};

/// The shortest text that reads back as the same single-precision value.
inline std::string shortestFloatText(float v) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

}  // namespace varnix
