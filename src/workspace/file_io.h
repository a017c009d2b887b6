#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varnix {

/// The whole content of a file, or nullopt when it cannot be opened or read
/// (a folder, a missing file).
std::optional<std::string> readWholeFile(const std::string& path);

/// Result of a write: ok, or the system's error number and a sentence for the user.
struct WriteResult {
  bool ok = true;
  int errorNumber = 0;
  std::string message;
};

/// Replaces the file at path with content without ever leaving it half
/// written: the bytes go to a temporary file in the same folder, which is
/// renamed over the target only when everything was written and flushed.
/// On failure the old file is untouched and the temporary file removed.
WriteResult writeFileAtomically(const std::string& path, std::string_view content);

/// True when a file (of any kind) exists at path.
bool fileExists(const std::string& path);

/// The text after the last '/' of a path (the whole path if it has none).
std::string fileNameOf(const std::string& path);

}  // namespace varnix
