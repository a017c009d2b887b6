#include "workspace/file_association.h"

#include <cerrno>
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
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir)) throw Error("Failed to create key " + dir);
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

}  // namespace varnix
