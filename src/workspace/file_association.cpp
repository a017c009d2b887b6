#include "workspace/file_association.h"

#include <cerrno>
#if !defined(_WIN32)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif
#include <cstdlib>
#include <filesystem>

#include "workspace/error.h"
#include "workspace/file_io.h"

namespace varnix {

std::string userDataDirectory() {
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return x;
  if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.local/share";
  return ".";
}

namespace {

void makeFolder(const std::string& dir) {
  if (!makeFolders(dir)) throw Error("Failed to create key " + dir);
}

void setData(const std::string& path, const std::string& text) {
  if (!writeFileAtomically(path, text).ok) throw Error("Failed to set data for '" + path + "'");
}

}  // namespace

FileAssociation associateDatFiles(const std::string& dataDir, const std::string& programPath,
                                  const std::string& iconSvg) {
  FileAssociation a;
  const std::string mimeDir = dataDir + "/mime/packages";
  const std::string appDir = dataDir + "/applications";
  const std::string iconDir = dataDir + "/icons/hicolor/scalable/apps";
  a.mimeFile = mimeDir + "/varnix-dat.xml";
  a.desktopFile = appDir + "/varnix.desktop";
  a.iconFile = iconDir + "/varnix.svg";

  // 1. The extension and its type name.
  makeFolder(mimeDir);
  setData(a.mimeFile,
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
          "  <mime-type type=\"application/x-varnix-dat\">\n"
          "    <comment>ASCII DAT</comment>\n"
          "    <glob pattern=\"*.dat\" weight=\"60\"/>\n"
          "  </mime-type>\n"
          "</mime-info>\n");
  // 2. The open command: the program's path and the file in double quotes.
  makeFolder(iconDir);
  setData(a.iconFile, iconSvg);
  makeFolder(appDir);
  setData(a.desktopFile,
          "[Desktop Entry]\n"
          "Type=Application\n"
          "Name=Varnix\n"
          "Comment=View, measure and edit measured curves\n"
          "Exec=\"" +
              programPath +
              "\" %f\n"
              "Icon=" +
              a.iconFile +
              "\n"
              "MimeType=application/x-varnix-dat;\n"
              "Categories=Science;Education;\n"
              "Terminal=false\n");
  return a;
}

int runProgram(const std::vector<std::string>& argv) {
#if defined(_WIN32)
  (void)argv;
  return -1;
#else
  if (argv.empty()) return -1;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // Its output would only clutter the terminal the program was started from.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int err = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  if (!WIFEXITED(status)) return -1;
  // The shell's code for a command it could not find.
  return WEXITSTATUS(status) == 127 ? -1 : WEXITSTATUS(status);
#endif
}

std::string installedDesktopEntry(const std::string& programPath) {
  const std::filesystem::path bin = std::filesystem::path(programPath).parent_path();
  if (bin.filename() != "bin") return {};
  const std::filesystem::path entry =
      bin.parent_path() / "share" / "applications" / "io.github.varnix.Varnix.desktop";
  std::error_code ec;
  return std::filesystem::is_regular_file(entry, ec) ? entry.string() : std::string();
}

std::string associateAndRefresh(const std::string& dataDir, const std::string& programPath,
                                const std::string& iconSvg, const RunProgramFn& run) {
  std::string lines;
  std::string desktopId = "varnix.desktop";
  const std::string installed = installedDesktopEntry(programPath);
  if (!installed.empty()) {
    desktopId = "io.github.varnix.Varnix.desktop";
    lines += "Uses the installed desktop entry " + installed + ".\n";
  } else {
    const FileAssociation a = associateDatFiles(dataDir, programPath, iconSvg);
    lines += "Wrote " + a.mimeFile + ", " + a.desktopFile + " and " + a.iconFile + ".\n";
  }
  auto step = [&](const std::vector<std::string>& argv, const std::string& what) {
    const int status = run ? run(argv) : -1;
    if (status == 0)
      lines += what + ": done.\n";
    else if (status < 0)
      lines += what + ": not done (" + argv[0] + " is not installed).\n";
    else
      lines +=
          what + ": failed (" + argv[0] + " ended with status " + std::to_string(status) + ").\n";
    return status == 0;
  };
  if (installed.empty()) {
    step({"update-mime-database", dataDir + "/mime"}, "MIME database refreshed");
    step({"update-desktop-database", dataDir + "/applications"}, "Desktop database refreshed");
  }
  const bool isDefault = step({"xdg-mime", "default", desktopId, "application/x-varnix-dat"},
                              "Varnix made the default for .dat files");
  if (!lines.empty()) lines.pop_back();
  return (isDefault
              ? "Varnix now opens .dat files (ASCII DAT).\n"
              : "Varnix is registered for .dat files (ASCII DAT), but not as the default.\n") +
         lines;
}

}  // namespace varnix
