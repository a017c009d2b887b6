#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "workspace/graph_store.h"

namespace varnix {

/// The settings file Varnix.ini: sections in square brackets and key=value
/// lines. The file is read once, when the object is made; reads answer from
/// that copy and every write updates it and replaces the file. A missing,
/// empty or garbled file reads as holding nothing. A file that exists but
/// could not be read (no permission, a folder, larger than kMaxSize) reads
/// as holding nothing too, and is never written: readProblem() says why.
class SettingsFile {
 public:
  /// Larger files are not read: no settings file grows to this size.
  static constexpr std::uint64_t kMaxSize = 1 << 20;

  explicit SettingsFile(std::string path);

  /// The file's place: $VARNIX_INI when set, otherwise Varnix.ini in the
  /// user's configuration folder ($XDG_CONFIG_HOME, else ~/.config).
  static std::string defaultPath();

  const std::string& path() const { return m_path; }
  /// Empty when the file was read or is missing; otherwise the sentence that
  /// tells the user why it was not read (and that it will not be changed).
  const std::string& readProblem() const { return m_problem; }

  /// The value of key in section (at most 1023 characters), or nullopt.
  std::optional<std::string> readString(const std::string& section, const std::string& key) const;
  std::string readString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  /// A decimal integer, or hexadecimal after "0x" / "0X"; the default for a
  /// missing key or a value that is not an integer.
  std::int64_t readInteger(const std::string& section, const std::string& key,
                           std::int64_t fallback) const;

  /// Writes one value, keeping every other line of the file. The file is
  /// replaced atomically. Throws "Unable to write to <path>" on failure. With
  /// a read problem only the copy in memory changes.
  void writeString(const std::string& section, const std::string& key, const std::string& value);
  void writeInteger(const std::string& section, const std::string& key, std::int64_t value);
  /// Several keys of one section in one write, in order.
  void writeStrings(const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& values);

 private:
  std::string m_path;
  std::vector<std::string> m_lines;
  std::string m_problem;
};

/// The five colour settings (0x00BBGGRR).
struct ColourSettings {
  Colour background = 0;
  Colour grid = 8421504;
  Colour axis = 12632256;
  Colour graphs = 16776960;
  Colour highlight = 255;

  bool operator==(const ColourSettings&) const = default;
};

/// Reads section "Colors"; missing or bad values give the defaults.
ColourSettings readColours(const SettingsFile& file);

/// Writes the five colours to section "Colors" as decimal integers, in the
/// order BackGround, Grid, Axis, Graphs, Hlghtd graph. Throws "Unable to
/// write to <path>" when the file cannot be written.
void writeColours(SettingsFile& file, const ColourSettings& colours);

}  // namespace varnix
