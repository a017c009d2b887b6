#include "workspace/settings_file.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "workspace/error.h"
#include "workspace/file_io.h"

namespace varnix {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::vector<std::string> linesOf(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
      ++end;
    start = end + 1;
  }
  return lines;
}

/// The section name of a "[name]" line.
std::optional<std::string_view> sectionOf(std::string_view line) {
  line = trim(line);
  if (line.size() >= 2 && line.front() == '[' && line.back() == ']')
    return trim(line.substr(1, line.size() - 2));
  return std::nullopt;
}

}  // namespace

SettingsFile::SettingsFile(std::string path) : m_path(std::move(path)) {
  const std::string refusal =
      "; Varnix starts with the default settings and leaves the file as it is";
  std::error_code ec;
  const auto size = std::filesystem::file_size(m_path, ec);
  if (!ec && size > kMaxSize) {
    m_problem = "The settings file " + m_path + " is too large (" + std::to_string(size) +
                " bytes) to be a settings file" + refusal;
    return;
  }
  std::string text;
  const ReadResult r = readWholeFile(m_path, text);
  if (r.ok()) {
    m_lines = linesOf(text);
  } else if (r.status != ReadStatus::Missing) {
    const std::string reason = r.status == ReadStatus::NotRegular ? "not a regular file" : r.reason;
    m_problem = "Could not read the settings file " + m_path + ": " + reason + refusal;
  }
}

std::string SettingsFile::defaultPath() {
  if (const char* p = std::getenv("VARNIX_INI"); p && *p) return p;
  std::string dir;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
    dir = x;
  else if (const char* h = std::getenv("HOME"); h && *h)
    dir = std::string(h) + "/.config";
  else
    dir = ".";
  return dir + "/Varnix.ini";
}

std::optional<std::string> SettingsFile::readString(const std::string& section,
                                                    const std::string& key) const {
  bool inSection = false;
  for (const std::string& raw : m_lines) {
    if (auto s = sectionOf(raw)) {
      inSection = sameName(*s, section);
      continue;
    }
    if (!inSection) continue;
    const auto eq = raw.find('=');
    if (eq == std::string::npos) continue;
    if (!sameName(trim(std::string_view(raw).substr(0, eq)), key)) continue;
    std::string value(trim(std::string_view(raw).substr(eq + 1)));
    if (value.size() > 1023) value.resize(1023);
    return value;
  }
  return std::nullopt;
}

std::string SettingsFile::readString(const std::string& section, const std::string& key,
                                     const std::string& fallback) const {
  auto v = readString(section, key);
  return v ? *v : fallback;
}

std::int64_t SettingsFile::readInteger(const std::string& section, const std::string& key,
                                       std::int64_t fallback) const {
  auto v = readString(section, key);
  if (!v || v->empty()) return fallback;
  std::string_view t = *v;
  bool negative = false;
  if (t.front() == '-' || t.front() == '+') {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  }
  std::int64_t value = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), value, base);
  if (ec != std::errc() || ptr != t.data() + t.size() || t.empty()) return fallback;
  return negative ? -value : value;
}

void SettingsFile::writeString(const std::string& section, const std::string& key,
                               const std::string& value) {
  writeStrings(section, {{key, value}});
}

void SettingsFile::writeStrings(const std::string& section,
                                const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<std::string> lines = m_lines;
  for (const auto& [key, value] : values) {
    std::string entry = key;
    entry += '=';
    entry += value;
    bool inSection = false, done = false;
    std::size_t sectionEnd = std::string::npos;  // where a new key of the section goes
    for (std::size_t i = 0; i < lines.size() && !done; ++i) {
      if (auto s = sectionOf(lines[i])) {
        if (inSection) break;
        inSection = sameName(*s, section);
        if (inSection) sectionEnd = i + 1;
        continue;
      }
      if (!inSection) continue;
      if (!trim(lines[i]).empty()) sectionEnd = i + 1;
      const auto eq = lines[i].find('=');
      if (eq != std::string::npos &&
          sameName(trim(std::string_view(lines[i]).substr(0, eq)), key)) {
        lines[i] = entry;
        done = true;
      }
    }
    if (done) continue;
    if (sectionEnd == std::string::npos) {
      if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
    } else {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), entry);
    }
  }
  if (!m_problem.empty()) {
    // Never replace a file that could not be read: it may hold what the user
    // wants back once the reason is mended.
    m_lines = std::move(lines);
    return;
  }
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  // A fresh account may not have its configuration folder yet.
  const std::filesystem::path parent = std::filesystem::path(m_path).parent_path();
  if (!parent.empty()) makeFolders(parent.string());
  if (!writeFileAtomically(m_path, text).ok) throw Error("Unable to write to " + m_path);
  m_lines = std::move(lines);
}

void SettingsFile::writeInteger(const std::string& section, const std::string& key,
                                std::int64_t value) {
  writeString(section, key, std::to_string(value));
}

ColourSettings readColours(const SettingsFile& file) {
  ColourSettings d;
  // A value beyond 0x00BBGGRR is refused, not wrapped into some colour.
  auto colour = [&](const char* key, Colour fallback) {
    const std::int64_t v = file.readInteger("Colors", key, fallback);
    return v >= 0 && v <= 0xFFFFFF ? static_cast<Colour>(v) : fallback;
  };
  ColourSettings c;
  c.background = colour("BackGround", d.background);
  c.grid = colour("Grid", d.grid);
  c.axis = colour("Axis", d.axis);
  c.graphs = colour("Graphs", d.graphs);
  c.highlight = colour("Hlghtd graph", d.highlight);
  return c;
}

void writeColours(SettingsFile& file, const ColourSettings& c) {
  file.writeStrings("Colors", {{"BackGround", std::to_string(c.background)},
                               {"Grid", std::to_string(c.grid)},
                               {"Axis", std::to_string(c.axis)},
                               {"Graphs", std::to_string(c.graphs)},
                               {"Hlghtd graph", std::to_string(c.highlight)}});
}

}  // namespace varnix
