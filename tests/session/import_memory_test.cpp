#include "session/import_memory.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace varnix {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct File {
  std::string name;
  std::string bytes;
};

TEST(ImportSignature, FilesOfOneKindShareItOthersDoNot) {
  const File base{"a.csv",
                  "Instrument: UV-2600\r\nDate: 2024-01-05 10:12\r\nSample: A-17\r\n"
                  "nm;A\r\n300;0,5\r\n301;0,75\r\n"};
  struct Case {
    const char* what;
    File other;
    bool same;
  };
  const std::vector<Case> cases = {
      {"other date, sample, values and length",
       {"b.csv",
        "Instrument: UV-2600\r\nDate: 2025-11-30 23:59\r\nSample: B-2 repeat\r\n"
        "nm;A\r\n250;12,25\r\n251;-1,5\r\n252;3\r\n"},
       true},
      {"upper-case extension, LF line ends",
       {"B.CSV", "Instrument: UV-2600\nDate: 2024-01-05 10:12\nSample: A-17\nnm;A\n300;0,5\n"},
       true},
      {"blank lines between header lines",
       {"b.csv",
        "\r\nInstrument: UV-2600\r\n\r\nDate: 2024-01-05\r\nSample: A\r\nnm;A\r\n300;0,5\r\n"},
       true},
      {"a footer after the data",
       {"b.csv",
        "Instrument: UV-2600\r\nDate: 1\r\nSample: A-17\r\nnm;A\r\n300;0,5\r\nEnd of data\r\n"},
       true},
      {"other extension", {"a.txt", base.bytes}, false},
      {"no extension", {"a", base.bytes}, false},
      {"other instrument key",
       {"b.csv", "Device: UV-2600\r\nDate: 1\r\nSample: A-17\r\nnm;A\r\n300;0,5\r\n"},
       false},
      {"other column titles",
       {"b.csv", "Instrument: UV-2600\r\nDate: 1\r\nSample: A-17\r\nnm;T\r\n300;0,5\r\n"},
       false},
      {"a dash in the column titles",
       {"b.csv", "Instrument: UV-2600\r\nDate: 1\r\nSample: A-17\r\nn-m;A\r\n300;0,5\r\n"},
       false},
      {"a column more",
       {"b.csv", "Instrument: UV-2600\r\nDate: 1\r\nSample: A-17\r\nnm;A\r\n300;0,5;2\r\n"},
       false},
      {"other separator",
       {"b.csv", "Instrument: UV-2600\r\nDate: 1\r\nSample: A-17\r\nnm;A\r\n300\t0,5\r\n"},
       false},
      {"a header line fewer",
       {"b.csv", "Instrument: UV-2600\r\nSample: A-17\r\nnm;A\r\n300;0,5\r\n"},
       false},
  };
  const std::string key = importSignature(base.bytes, base.name);
  ASSERT_FALSE(key.empty());
  for (const Case& c : cases) {
    const std::string other = importSignature(c.other.bytes, c.other.name);
    EXPECT_EQ(other == key, c.same) << c.what << ": " << key << " / " << other;
  }
}

TEST(ImportSignature, HeaderlessFilesGoByTheirFirstLineAndBinaryFilesHaveNone) {
  // Files without a header: alike when their numbers are laid out alike.
  EXPECT_EQ(importSignature("1.5 2\n2.5 3\n", "a.xy"), importSignature("-100 2e5\n", "b.xy"));
  EXPECT_NE(importSignature("1.5 2\n", "a.xy"), importSignature("1.5 2 3\n", "a.xy"));
  // A number that starts with the separator's neighbour still counts as one.
  EXPECT_EQ(importSignature("1,5;+2\n", "a.csv"), importSignature("-0,25;3E-5\n", "a.csv"));
  EXPECT_EQ(importSignature(std::string("\0\1\2\3WDF", 7), "a.wdf"), "");
  EXPECT_EQ(importSignature("", "a.csv"), importSignature("\r\n\r\n", "a.csv"));
  // The key is one word plus a hash: a safe settings file key.
  const std::string key = importSignature("x=1\n", "a.b.Txt");
  ASSERT_EQ(key.size(), 4 + 16u) << key;
  EXPECT_EQ(key.substr(0, 4), "txt ");
  EXPECT_EQ(key.find_first_of("=[]\r\n"), std::string::npos);
  EXPECT_EQ(importSignature("1 2\n", "dir.d/file").substr(0, 2), "- ");
}

TEST(ImportSignature, ReadsOnlyTheStartOfALongFile) {
  // Lines after the first line of numbers, and bytes past the first 64 KB,
  // change nothing: the key is found without reading a whole large file.
  std::string head = "Title: t\n1 2\n";
  std::string longer = head;
  for (int i = 0; i < 20000; ++i) longer += "1 2 3 4 5 6\n";
  EXPECT_EQ(importSignature(head, "a.txt"), importSignature(longer, "a.txt"));
  std::string headerOnly(100000, 'x');
  EXPECT_EQ(importSignature(headerOnly, "a.txt"), importSignature(headerOnly + "\n1 2\n", "a.txt"));
}

TEST(ImportMemory, RemembersForgetsAndLeavesOtherKeysAlone) {
  TempDir dir;
  const std::string path = dir.file("Varnix.ini");
  const std::string before =
      "[Colors]\r\nGraphs=65280\r\n\r\n[Import]\r\nFolder=/data\r\n\r\n[View]\r\nFollow "
      "files=1\r\n";
  writeFile(path, before);
  SettingsFile ini(path);
  const std::string csv = importSignature("nm;A\n300;0,5\n", "a.csv");
  const std::string txt = importSignature("1 2\n", "a.txt");
  EXPECT_EQ(rememberedImportSettings(ini, csv), std::nullopt);

  ImportSettings s;
  s.decimal = ',';
  s.separator = ';';
  s.xColumn = 2;
  s.columns = std::vector<std::size_t>{3, 5, 6, 7};
  s.rows = RowRange{2, 0, 3};
  ImportSettings t;
  t.layout = ImportLayout::StackedScans;
  t.headerRow = 0;
  rememberImportSettings(ini, csv, s);
  rememberImportSettings(ini, txt, t);
  // Read back from the file itself, as at the next start.
  SettingsFile again(path);
  EXPECT_EQ(rememberedImportSettings(again, csv), s);
  EXPECT_EQ(rememberedImportSettings(again, txt), t);
  const std::string text = readFile(path);
  EXPECT_EQ(text.substr(0, before.size()), before) << text;
  EXPECT_NE(text.find("\r\n[Import settings]\r\n" + csv + "="), std::string::npos) << text;
  EXPECT_EQ(again.readString("Import", "Folder", ""), "/data");

  // Changed, then forgotten with automatic settings; the other stays.
  s.xColumn = std::nullopt;
  rememberImportSettings(again, csv, s);
  EXPECT_EQ(rememberedImportSettings(SettingsFile(path), csv), s);
  rememberImportSettings(again, csv, ImportSettings{});
  EXPECT_EQ(rememberedImportSettings(SettingsFile(path), csv), std::nullopt);
  EXPECT_EQ(rememberedImportSettings(SettingsFile(path), txt), t);
  // Binary files have no key; nothing is written for them.
  const std::string unchanged = readFile(path);
  rememberImportSettings(again, "", t);
  EXPECT_EQ(readFile(path), unchanged);
  EXPECT_EQ(rememberedImportSettings(again, ""), std::nullopt);
}

TEST(ImportMemory, ATextThatNoLongerReadsIsNoSetting) {
  TempDir dir;
  const std::string path = dir.file("Varnix.ini");
  writeFile(path,
            "[Import settings]\r\ncsv 1=decimal=dot\r\ncsv 2=   \r\ncsv 3=auto\r\n"
            "csv 4=x=2 bogus\r\ncsv 5= x=2   decimal=comma \r\n");
  SettingsFile ini(path);
  for (const char* key : {"csv 1", "csv 2", "csv 3", "csv 4", "csv 0"})
    EXPECT_EQ(rememberedImportSettings(ini, key), std::nullopt) << key;
  ImportSettings expected;
  expected.xColumn = 2;
  expected.decimal = ',';
  EXPECT_EQ(rememberedImportSettings(ini, "csv 5"), expected);
}

TEST(ImportMemory, SettingsTextNamesEveryChoiceOrAuto) {
  EXPECT_EQ(importSettingsText(ImportSettings{}), "auto");
  ImportSettings s;
  s.decimal = ',';
  s.xColumn = 0;
  const std::string text = importSettingsText(s);
  EXPECT_NE(text.find("decimal=comma"), std::string::npos) << text;
  EXPECT_NE(text.find("x=none"), std::string::npos) << text;
  EXPECT_EQ(text.find("separator"), std::string::npos) << text;
}

}  // namespace
}  // namespace varnix
