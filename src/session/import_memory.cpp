#include "session/import_memory.h"

#include <cstdint>
#include <vector>

#include "import/import_result.h"

namespace varnix {
namespace {

constexpr std::size_t kSignatureLines = 64;
/// A line's shape is cut here (a spectrum per row may hold thousands of cells).
constexpr std::size_t kShapeChars = 256;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isNumberChar(char c) {
  return isDigit(c) || c == '.' || c == ',' || c == '+' || c == '-' || c == 'e' || c == 'E';
}

/// The line with every run of number characters that holds a digit as '#'
/// and every run of blanks as one blank, without blanks at the ends.
std::string shapeOf(std::string_view line) {
  std::string shape;
  std::size_t i = 0;
  while (i < line.size() && shape.size() < kShapeChars) {
    const char c = line[i];
    if (c == ' ' || c == '\t') {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (!shape.empty() && i < line.size()) shape += c == '\t' ? '\t' : ' ';
      continue;
    }
    if (isNumberChar(c)) {
      std::size_t j = i;
      bool digit = false;
      for (; j < line.size() && isNumberChar(line[j]); ++j)
        if (isDigit(line[j])) digit = true;
      if (digit) {
        shape += '#';
      } else {
        shape.append(line.substr(i, j - i));
      }
      i = j;
      continue;
    }
    shape += c;
    ++i;
  }
  return shape;
}

/// A line of numbers only: '#' with separators between.
bool isNumberShape(std::string_view shape) {
  bool number = false;
  for (char c : shape) {
    if (c == '#')
      number = true;
    else if (c != ' ' && c != '\t' && c != ';' && c != ',' && c != '"')
      return false;
  }
  return number;
}

std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t h = 14695981039346656037ull;
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace

std::string importSignature(std::string_view bytes, const std::string& fileName) {
  std::string storage, encoding;
  std::string_view text;
  if (!decodeText(bytes.substr(0, kImportSignatureBytes), storage, text, encoding)) return {};
  std::string header;
  forEachTextLine(text, [&](std::size_t number, std::string_view line) {
    const std::string shape = shapeOf(line);
    if (shape.empty()) return number + 1 < kSignatureLines;
    if (isNumberShape(shape)) {
      header += "data:" + shape + '\n';
      return false;
    }
    // Values after "Key:" or "KEY=" differ from file to file; the keys do not.
    header.append(shape.substr(0, shape.find_first_of(":=")));
    header += '\n';
    return number + 1 < kSignatureLines;
  });
  static const char* const kHex = "0123456789abcdef";
  std::string key = lowerExtension(fileName);
  if (key.empty()) key = "-";
  key += ' ';
  const std::uint64_t h = fnv1a(encoding + '\n' + header);
  for (int shift = 60; shift >= 0; shift -= 4) key += kHex[(h >> shift) & 0xF];
  return key;
}

std::string importSettingsText(const ImportSettings& settings) {
  std::string text;
  for (const std::string& w : formatImportSettings(settings)) {
    if (!text.empty()) text += ' ';
    text += w;
  }
  return text.empty() ? std::string("auto") : text;
}

std::optional<ImportSettings> rememberedImportSettings(const SettingsFile& file,
                                                       const std::string& signature) {
  if (signature.empty()) return std::nullopt;
  const std::optional<std::string> text = file.readString(kImportMemorySection, signature);
  if (!text) return std::nullopt;
  const std::vector<std::string> words = importSettingWords(*text);
  if (words.empty()) return std::nullopt;
  std::string error;
  std::optional<ImportSettings> s = parseImportSettings(words, error);
  if (!s || s->automatic()) return std::nullopt;
  return s;
}

void rememberImportSettings(SettingsFile& file, const std::string& signature,
                            const ImportSettings& settings) {
  if (signature.empty()) return;
  // Automatic settings are written as an empty value: the key stays, and
  // reads as nothing remembered.
  file.writeString(kImportMemorySection, signature,
                   settings.automatic() ? std::string() : importSettingsText(settings));
}

}  // namespace varnix
