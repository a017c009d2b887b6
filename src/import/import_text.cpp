#include <algorithm>
#include <cstdint>

#include "import/import_result.h"

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

bool looksLikeJcamp(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && text.substr(first, 2) == "##";
}

ImportResult importBytes(std::string_view bytes, const std::string& fileName) {
  ImportResult r;
  if (bytes.empty()) {
    r.refusal = "the file is empty";
    return r;
  }
  std::string encoding, storage;
  std::string_view text;
  if (!decodeText(bytes, storage, text, encoding)) {
    r.refusal = "not a text file (binary content)";
    return r;
  }
  r = looksLikeJcamp(text) ? importJcamp(text, fileName) : importTable(text, fileName);
  if (!encoding.empty() && !r.refusal) r.layout = encoding + ", " + r.layout;
  return r;
}

}  // namespace varnix
