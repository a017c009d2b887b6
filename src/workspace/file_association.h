#pragma once

#include <string>

namespace varnix {

/// What the association of .dat files writes: a shared MIME type "ASCII DAT"
/// for *.dat, and a desktop entry whose open command is the program's path
/// and the file in double quotes, with the program's icon.
struct FileAssociation {
  std::string mimeFile;     // <data>/mime/packages/varnix-dat.xml
  std::string desktopFile;  // <data>/applications/varnix.desktop
  std::string iconFile;     // <data>/icons/hicolor/scalable/apps/varnix.svg
};

/// The user's data folder: $XDG_DATA_HOME, else ~/.local/share.
std::string userDataDirectory();

/// Registers the program at programPath for *.dat under dataDir. Running it
/// twice leaves the same files. A folder that cannot be created throws
/// "Failed to create key <folder>"; a file that cannot be written throws
/// "Failed to set data for '<file>'". Files written before stay.
FileAssociation associateDatFiles(const std::string& dataDir, const std::string& programPath,
                                  const std::string& iconSvg);

}  // namespace varnix
