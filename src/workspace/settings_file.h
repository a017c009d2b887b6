#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "workspace/graph_store.h"

namespace varnix {

/// The settings file Varnix.ini: sections in square brackets and key=value
/// lines. Every read and every write goes to the file itself; nothing is
/// cached. A missing, empty or garbled file reads as holding nothing.
class SettingsFile {
 public:
  explicit SettingsFile(std::string path) : m_path(std::move(path)) {}

  /// The file's place: $VARNIX_INI when set, otherwise Varnix.ini in the
  /// user's configuration folder ($XDG_CONFIG_HOME, else ~/.config).
  static std::string defaultPath();

  const std::string& path() const { return m_path; }

  /// The value of key in section (at most 1023 characters), or nullopt.
  std::optional<std::string> readString(const std::string& section, const std::string& key) const;
  std::string readString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  /// A decimal integer, or hexadecimal after "0x" / "0X"; the default for a
  /// missing key or a value that is not an integer.
  std::int64_t readInteger(const std::string& section, const std::string& key,
                           std::int64_t fallback) const;

  /// Writes one value, keeping every other line of the file. The file is
  /// replaced atomically. Throws "Unable to write to <path>" on failure.
  void writeString(const std::string& section, const std::string& key, const std::string& value);
  void writeInteger(const std::string& section, const std::string& key, std::int64_t value);
  /// Several keys of one section in one write, in order.
  void writeStrings(const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& values);

 private:
  std::string m_path;
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
