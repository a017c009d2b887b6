#pragma once

#include <functional>
#include <string>
#include <vector>

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

/// Runs a program (argv[0] looked up in PATH) and waits for it: its exit
/// status, or -1 when it could not be started (not installed).
using RunProgramFn = std::function<int(const std::vector<std::string>& argv)>;

/// The system's way of running a program (posix_spawnp), quietly.
int runProgram(const std::vector<std::string>& argv);

/// The desktop entry that an installed package put beside the program at
/// programPath (<prefix>/share/applications/io.github.varnix.Varnix.desktop
/// for <prefix>/bin/varnix), or an empty text when there is none.
std::string installedDesktopEntry(const std::string& programPath);

/// Associate .dat files as a user expects it: registers the program under
/// dataDir (unless a package installed its own desktop entry, which is then
/// used), refreshes the user's MIME and desktop databases and makes Varnix
/// the default for the type. Throws as associateDatFiles; returns the lines
/// that tell the user what was done and what failed.
std::string associateAndRefresh(const std::string& dataDir, const std::string& programPath,
                                const std::string& iconSvg, const RunProgramFn& run);

}  // namespace varnix
