#include "workspace/settings_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"
#include "workspace/error.h"
#include "workspace/file_association.h"

namespace varnix {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(SettingsFile, ReadsIntegersAndTexts) {
  TempDir dir;
  const std::string path = dir.file("Varnix.ini");
  writeFile(path,
            "[Colors]\r\nGraphs=0x00FF00\r\nGrid = 123 \r\nAxis=abc\r\nBackGround=\r\n"
            "Hlghtd graph=-5\r\n[Directories]\r\nLast=/home/me/data\nLong=" +
                std::string(2000, 'x') + "\n");
  SettingsFile ini(path);
  EXPECT_EQ(ini.readInteger("Colors", "Graphs", 1), 65280);
  EXPECT_EQ(ini.readInteger("Colors", "Grid", 1), 123);
  EXPECT_EQ(ini.readInteger("Colors", "Axis", 7), 7);
  EXPECT_EQ(ini.readInteger("Colors", "BackGround", 9), 9);
  EXPECT_EQ(ini.readInteger("Colors", "Missing", 4), 4);
  EXPECT_EQ(ini.readInteger("colors", "hlghtd graph", 4), -5);
  EXPECT_EQ(ini.readString("Directories", "Last", ""), "/home/me/data");
  EXPECT_EQ(ini.readString("Directories", "Long", "").size(), 1023u);
  EXPECT_EQ(ini.readString("Nowhere", "Last", "C"), "C");
  ColourSettings c = readColours(ini);
  EXPECT_EQ(c.graphs, 65280u);
  EXPECT_EQ(c.axis, 12632256u);
}

TEST(SettingsFile, MissingOrGarbledFilesGiveDefaults) {
  TempDir dir;
  EXPECT_EQ(readColours(SettingsFile(dir.file("none.ini"))), ColourSettings{});
  writeFile(dir.file("bad.ini"), std::string("\0\x01[[[\r\n=\r\nGraphs=5\r\n", 18));
  EXPECT_EQ(readColours(SettingsFile(dir.file("bad.ini"))), ColourSettings{});
  EXPECT_EQ(readColours(SettingsFile(dir.path())), ColourSettings{});  // a folder
}

TEST(SettingsFile, WritesKeepOtherLinesAndKeyNamesExactly) {
  TempDir dir;
  const std::string path = dir.file("sub/Varnix.ini");  // the folder is created
  SettingsFile ini(path);
  ini.writeString("Directories", "Last", "/data");
  ColourSettings c;
  c.graphs = 65280;
  writeColours(ini, c);
  EXPECT_EQ(readFile(path),
            "[Directories]\r\nLast=/data\r\n\r\n[Colors]\r\nBackGround=0\r\nGrid=8421504\r\n"
            "Axis=12632256\r\nGraphs=65280\r\nHlghtd graph=255\r\n");
  ini.writeString("Directories", "Last", "/other");
  ini.writeInteger("Directories", "Count", 3);
  EXPECT_EQ(ini.readString("Directories", "Last", ""), "/other");
  EXPECT_EQ(ini.readInteger("Directories", "Count", 0), 3);
  EXPECT_EQ(readColours(ini), c);
}

TEST(SettingsFile, UnwritableFileIsReported) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("Varnix.ini"));  // a folder in the way
  SettingsFile ini(dir.file("Varnix.ini"));
  EXPECT_EQ(test::errorOf([&] { writeColours(ini, ColourSettings{}); }),
            "Unable to write to " + dir.file("Varnix.ini"));
}

TEST(FileAssociation, WritesTheSameFilesTwice) {
  TempDir dir;
  const FileAssociation a = associateDatFiles(dir.path(), "/opt/varnix/varnix", "<svg/>");
  const std::string desktop = readFile(a.desktopFile);
  EXPECT_NE(desktop.find("Exec=\"/opt/varnix/varnix\" %f\n"), std::string::npos);
  EXPECT_NE(desktop.find("Icon=" + a.iconFile), std::string::npos);
  EXPECT_NE(readFile(a.mimeFile).find("<glob pattern=\"*.dat\""), std::string::npos);
  EXPECT_NE(readFile(a.mimeFile).find("<comment>ASCII DAT</comment>"), std::string::npos);
  const FileAssociation b = associateDatFiles(dir.path(), "/opt/varnix/varnix", "<svg/>");
  EXPECT_EQ(readFile(b.desktopFile), desktop);
  // A file where a folder must go: the folder cannot be created.
  test::writeFile(dir.file("blocked"), "");
  EXPECT_EQ(test::errorOf(
                [&] { associateDatFiles(dir.file("blocked"), "/opt/varnix/varnix", "<svg/>"); }),
            "Failed to create key " + dir.file("blocked") + "/mime/packages");
}

}  // namespace
}  // namespace varnix
