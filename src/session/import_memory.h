#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "import/import_settings.h"
#include "workspace/settings_file.h"

namespace varnix {

/// The settings file section that holds the import settings chosen for kinds
/// of files ("Use for files like this").
inline constexpr const char* kImportMemorySection = "Import settings";

/// The start of a file that importSignature looks at.
inline constexpr std::size_t kImportSignatureBytes = 64 * 1024;

/// What makes files alike for the import: the lower-case extension and a
/// hash of the header's shape (the lines before the first line of numbers,
/// each cut at its first ':' or '=', numbers left out, and the shape of that
/// first line of numbers). Files of one instrument and method share it even
/// though dates, sample names after "Sample:" and values differ. Empty for a
/// file that is not text (binary formats have no choices to remember).
std::string importSignature(std::string_view bytes, const std::string& fileName);

/// The settings remembered for files with this signature; nullopt when none
/// are (or the stored text no longer reads as settings).
std::optional<ImportSettings> rememberedImportSettings(const SettingsFile& file,
                                                       const std::string& signature);

/// Remembers settings for files with this signature, replacing what was
/// remembered for them; automatic settings forget them. Other keys and
/// sections stay as they are. Throws "Unable to write to <path>".
void rememberImportSettings(SettingsFile& file, const std::string& signature,
                            const ImportSettings& settings);

/// The settings as the words of one line ("decimal=, x=2"), "auto" when all
/// are automatic.
std::string importSettingsText(const ImportSettings& settings);

}  // namespace varnix
