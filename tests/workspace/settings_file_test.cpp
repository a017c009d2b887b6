#include "workspace/settings_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <vector>

#include "test_util.h"
#include "workspace/error.h"
#include "workspace/file_association.h"
#include "workspace/file_io.h"
#include "workspace/interrupted_save.h"

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

TEST(SettingsFile, ColoursBeyondTwentyFourBitsGiveTheDefault) {
  TempDir dir;
  const ColourSettings d;
  const std::vector<std::pair<std::string, Colour>> cases = {
      {"0xFFFFFF", 0xFFFFFF},  {"0", 0},
      {"16777216", d.grid},    {"0x1000080", d.grid},
      {"-1", d.grid},          {"4294967296", d.grid},
      {"-4294967041", d.grid}, {"99999999999999999999", d.grid},
  };
  for (const auto& [text, want] : cases) {
    writeFile(dir.file("c.ini"), "[Colors]\r\nGrid=" + text + "\r\n");
    EXPECT_EQ(readColours(SettingsFile(dir.file("c.ini"))).grid, want) << text;
  }
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
  // A folder that cannot be made for a missing file.
  SettingsFile ini("/proc/varnix-no-such-folder/Varnix.ini");
  EXPECT_EQ(ini.readProblem(), "");
  EXPECT_EQ(test::errorOf([&] { writeColours(ini, ColourSettings{}); }),
            "Unable to write to /proc/varnix-no-such-folder/Varnix.ini");
}

// The configuration folder is made for a fresh account, but a home folder
// that is not there (not mounted, none for this account) is not made.
TEST(SettingsFile, AMissingHomeIsNotMade) {
  TempDir dir;
  test::ScopedEnv home("HOME", dir.file("home"));
  test::ScopedEnv config("XDG_CONFIG_HOME", "");
  test::ScopedEnv ini("VARNIX_INI", "");
  const std::string path = SettingsFile::defaultPath();
  ASSERT_EQ(path, dir.file("home") + "/.config/Varnix.ini");
  SettingsFile missing(path);
  EXPECT_EQ(test::errorOf([&] { writeColours(missing, ColourSettings{}); }),
            "Unable to write to " + path);
  EXPECT_EQ(test::errorOf([&] { associateDatFiles(dir.file("home") + "/.local/share", "/v", ""); }),
            "Failed to create key " + dir.file("home") + "/.local/share/mime/packages");
  // Nor does an in-place save keep its journal there.
  test::ScopedEnv state("XDG_STATE_HOME", "");
  EXPECT_EQ(journalStateFolder(), "");
  EXPECT_FALSE(std::filesystem::exists(dir.file("home")));
  std::filesystem::create_directory(dir.file("home"));
  EXPECT_EQ(journalStateFolder(), dir.file("home") + "/.local/state/varnix/journals");
  SettingsFile fresh(path);
  writeColours(fresh, ColourSettings{});
  EXPECT_EQ(readColours(SettingsFile(path)), ColourSettings{});
}

TEST(SettingsFile, ReadOnceAndNeverOverwrittenWhenUnreadable) {
  TempDir dir;
  const std::string path = dir.file("Varnix.ini");
  test::writeFile(path, "[Colors]\r\nGrid=5\r\n");
  SettingsFile ini(path);
  // Read when made: a later change of the file by someone else is not seen,
  // and a write keeps the copy the program read.
  test::writeFile(path, "[Colors]\r\nGrid=6\r\n");
  EXPECT_EQ(ini.readInteger("Colors", "Grid", 0), 5);
  ini.writeInteger("Colors", "Axis", 7);
  EXPECT_EQ(test::readFile(path), "[Colors]\r\nGrid=5\r\nAxis=7\r\n");

  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    const char* problem;
  };
  const std::vector<Case> cases = {
      {"a folder", [](const std::string& p) { std::filesystem::create_directory(p); },
       "Is a directory"},
      {"too large",
       [](const std::string& p) {
         test::writeFile(p, "[Colors]\r\nGrid=5\r\n" + std::string(SettingsFile::kMaxSize, ';'));
       },
       "is too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir d;
    const std::string p = d.file("Varnix.ini");
    c.make(p);
    const auto before = std::filesystem::is_directory(p) ? std::string() : test::readFile(p);
    SettingsFile bad(p);
    EXPECT_NE(bad.readProblem().find(c.problem), std::string::npos) << bad.readProblem();
    EXPECT_NE(bad.readProblem().find(p), std::string::npos);
    EXPECT_EQ(readColours(bad), ColourSettings{});
    // Writes change the copy in memory only; the file stays as it was.
    bad.writeInteger("Colors", "Grid", 9);
    EXPECT_EQ(bad.readInteger("Colors", "Grid", 0), 9);
    if (before.empty())
      EXPECT_TRUE(std::filesystem::is_directory(p));
    else
      EXPECT_EQ(test::readFile(p), before);
  }
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

TEST(FileAssociation, RefreshesTheDatabasesAndSaysWhatItDid) {
  TempDir dir;
  std::vector<std::vector<std::string>> ran;
  struct Case {
    std::vector<int> statuses;  // update-mime-database, update-desktop-database, xdg-mime
    std::vector<std::string> lines;
  };
  const std::string wrote = "Wrote " + dir.path() + "/mime/packages/varnix-dat.xml, " + dir.path() +
                            "/applications/varnix.desktop and " + dir.path() +
                            "/icons/hicolor/scalable/apps/varnix.svg.";
  const std::vector<Case> cases = {
      {{0, 0, 0},
       {"Varnix now opens .dat files (ASCII DAT).", wrote, "MIME database refreshed: done.",
        "Desktop database refreshed: done.", "Varnix made the default for .dat files: done."}},
      {{-1, 3, -1},
       {"Varnix is registered for .dat files (ASCII DAT), but not as the default.", wrote,
        "MIME database refreshed: not done (update-mime-database is not installed).",
        "Desktop database refreshed: failed (update-desktop-database ended with status 3).",
        "Varnix made the default for .dat files: not done (xdg-mime is not installed)."}},
  };
  for (const Case& c : cases) {
    ran.clear();
    std::size_t next = 0;
    const std::string text = associateAndRefresh(dir.path(), "/opt/varnix/varnix", "<svg/>",
                                                 [&](const std::vector<std::string>& argv) {
                                                   ran.push_back(argv);
                                                   return c.statuses[next++];
                                                 });
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    EXPECT_EQ(lines, c.lines);
    ASSERT_EQ(ran.size(), 3u);
    EXPECT_EQ(ran[0], (std::vector<std::string>{"update-mime-database", dir.path() + "/mime"}));
    EXPECT_EQ(ran[2], (std::vector<std::string>{"xdg-mime", "default", "varnix.desktop",
                                                "application/x-varnix-dat"}));
  }
  // An installed package: its desktop entry is used, nothing is written.
  TempDir prefix;
  std::filesystem::create_directories(prefix.file("bin"));
  std::filesystem::create_directories(prefix.file("share/applications"));
  test::writeFile(prefix.file("share/applications/io.github.varnix.Varnix.desktop"), "[x]");
  TempDir data;
  ran.clear();
  const std::string text = associateAndRefresh(data.path(), prefix.file("bin/varnix"), "<svg/>",
                                               [&](const std::vector<std::string>& argv) {
                                                 ran.push_back(argv);
                                                 return 0;
                                               });
  EXPECT_NE(text.find("Uses the installed desktop entry"), std::string::npos) << text;
  ASSERT_EQ(ran.size(), 1u);
  EXPECT_EQ(ran[0][2], "io.github.varnix.Varnix.desktop");
  EXPECT_TRUE(std::filesystem::is_empty(data.path()));
  EXPECT_EQ(runProgram({"varnix-no-such-program"}), -1);
  EXPECT_EQ(runProgram({"sh", "-c", "exit 4"}), 4);
}

}  // namespace
}  // namespace varnix
