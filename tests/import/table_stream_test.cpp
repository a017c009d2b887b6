// Large tables read as they arrive must import exactly as when read whole:
// generated tables of many shapes, with and without something late in the
// file that the plain rows cannot take, imported both ways.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "import/importer.h"
#include "import/table_stream.h"
#include "test_util.h"
#include "workspace/data_file_reader.h"

namespace varnix {
namespace {

using test::TempDir;
using test::writeFile;

/// Everything a user sees of two imports agrees, points to the bit.
void expectSameImport(const ImportResult& streamed, const ImportResult& whole,
                      const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(streamed.refusal, whole.refusal);
  EXPECT_EQ(streamed.layout, whole.layout);
  EXPECT_EQ(streamed.warnings, whole.warnings);
  EXPECT_EQ(streamed.nonFinite, whole.nonFinite);
  EXPECT_TRUE(streamed.settings == whole.settings);
  EXPECT_EQ(formatImportSettings(streamed.settings), formatImportSettings(whole.settings));
  ASSERT_EQ(streamed.graphs.size(), whole.graphs.size());
  for (std::size_t g = 0; g < whole.graphs.size(); ++g) {
    const ImportedGraph& a = streamed.graphs[g];
    const ImportedGraph& b = whole.graphs[g];
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.comments, b.comments);
    ASSERT_EQ(a.points.size(), b.points.size()) << a.name;
    for (std::size_t k = 0; k < a.points.size(); ++k)
      if (std::bit_cast<std::uint64_t>(a.points[k].x) !=
              std::bit_cast<std::uint64_t>(b.points[k].x) ||
          std::bit_cast<std::uint64_t>(a.points[k].y) !=
              std::bit_cast<std::uint64_t>(b.points[k].y)) {
        ADD_FAILURE() << a.name << " point " << k << " differs";
        break;
      }
  }
}

/// What comes late in a generated table (in the part read as it arrives).
enum class Late {
  Nothing,
  BlankLine,       // lines without a field: still plain
  SeparatorsOnly,  // ";;;" and the like: still plain
  EqualX,          // x stands still for a row: still plain
  BlankCell,
  TextLine,
  NanWord,
  InfWord,
  Overflow,  // 1e999
  XRestarts,
  ShortRow,
  WideRow,
  NewBlock,
  Footer,
  QuotedRow,
  CtrlZ,
  NulByte,
  PairsLate,  // the odd columns turn into x columns of pairs in the rows after the sample
  Count
};

bool staysPlain(Late late) {
  return late == Late::Nothing || late == Late::BlankLine || late == Late::SeparatorsOnly ||
         late == Late::EqualX;
}

struct Shape {
  char separator = '\t';  // ' ': blanks
  char decimal = '.';
  std::size_t columns = 2;
  std::size_t rows = 2600;
  std::string lineEnd = "\n";
  bool finalLineEnd = true;
  bool descending = false;
  int header = 0;  // 0 none, 1 titles, 2 key-value lines and titles, 3 start and step
  bool bom = false;
  Late late = Late::Nothing;
  std::size_t lateRow = 2400;
};

std::string number(double v, char decimal, int digits) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, digits);
  std::string s(buf, r.ptr);
  for (char& c : s)
    if (c == '.') c = decimal;
  return s;
}

std::string table(const Shape& s, std::mt19937_64& rng) {
  std::string out = s.bom ? "\xEF\xBB\xBF" : "";
  const std::string sep =
      s.separator == ' ' ? std::string(1 + rng() % 3, ' ') : std::string(1, s.separator);
  auto line = [&](const std::string& text) { out += text + s.lineEnd; };
  if (s.header >= 2) {
    line("Instrument: spectrometer \"LS-2\", slit 0.5");
    line("Date=2024-05-01");
  }
  if (s.header == 3) {
    line("Start: 400");
    line("Step: 0.5");
  }
  if (s.header >= 1) {
    std::string titles = "Wavelength";
    for (std::size_t c = 1; c < s.columns; ++c)
      titles += sep + "\"Sample " + std::to_string(c) + "\"";
    line(titles);
  }
  std::uniform_real_distribution<double> y(-50, 5000);
  const double step = 0.125 + static_cast<double>(rng() % 7) / 64;
  for (std::size_t r = 0; r < s.rows; ++r) {
    const bool late = r == s.lateRow;
    double x = 300 + step * static_cast<double>(r);
    if (s.late == Late::XRestarts && r >= s.lateRow)
      x = 300 + step * static_cast<double>(r - s.lateRow);
    if (s.late == Late::EqualX && r == s.lateRow + 1) x = 300 + step * static_cast<double>(r - 1);
    if (s.descending) x = -x;
    std::vector<std::string> fields{number(x, s.decimal, 9)};
    for (std::size_t c = 1; c < s.columns; ++c) {
      double v = y(rng);
      // Column pairs: the third column an x of its own, narrow in the first
      // rows and covering the first column's range after them.
      if (s.late == Late::PairsLate && c % 2 == 0)
        v = r < s.lateRow ? 300 + static_cast<double>(r) * 1e-3
                          : 300 + step * static_cast<double>(r);
      const bool pairX = s.late == Late::PairsLate && c % 2 == 0;
      fields.push_back(number(v, s.decimal, pairX ? 9 : 1 + static_cast<int>(rng() % 9)));
    }
    if (late) {
      switch (s.late) {
        case Late::BlankLine:
          line("");
          line("   ");
          break;
        case Late::SeparatorsOnly:
          line(s.separator == ' ' ? "\t " : std::string(s.columns, s.separator));
          break;
        case Late::BlankCell:
          fields[s.columns - 1] = "";
          if (s.separator == ' ') fields[s.columns - 1] = "N/A";
          break;
        case Late::TextLine:
          line("# lamp changed");
          break;
        case Late::NanWord:
          fields[1] = "NaN";
          break;
        case Late::InfWord:
          fields[s.columns - 1] = "-inf";
          break;
        case Late::Overflow:
          fields[1] = "1e999";
          break;
        case Late::ShortRow:
          fields.pop_back();
          break;
        case Late::WideRow:
          fields.push_back("7");
          break;
        case Late::NewBlock:
          line("Region: second");
          break;
        case Late::QuotedRow:
          fields[0] = "\"" + fields[0] + "\"";
          break;
        case Late::CtrlZ:
          out += '\x1A';
          break;
        case Late::NulByte:
          out += '\0';
          break;
        default:
          break;
      }
    }
    std::string text = fields[0];
    for (std::size_t c = 1; c < fields.size(); ++c) text += sep + fields[c];
    if (r + 1 == s.rows && !s.finalLineEnd && s.late != Late::Footer)
      out += text;
    else
      line(text);
  }
  if (s.late == Late::Footer) {
    line("1024");
    out += "END";
    if (s.finalLineEnd) out += s.lineEnd;
  }
  return out;
}

Shape randomShape(std::mt19937_64& rng) {
  Shape s;
  constexpr char kSeparators[] = {'\t', ';', ',', ' '};
  s.separator = kSeparators[rng() % 4];
  s.decimal = s.separator != ',' && rng() % 3 == 0 ? ',' : '.';
  constexpr std::size_t kColumns[] = {2, 2, 3, 4, 5, 24};
  s.columns = kColumns[rng() % 6];
  s.rows = 2100 + rng() % 1500;
  const char* kEnds[] = {"\n", "\r\n", "\r"};
  s.lineEnd = kEnds[rng() % 3];
  s.finalLineEnd = rng() % 3 != 0;
  s.descending = rng() % 4 == 0;
  s.header = static_cast<int>(rng() % 4);
  s.bom = rng() % 6 == 0;
  s.late = static_cast<Late>(rng() % static_cast<unsigned>(Late::Count));
  // Mostly after the sample, sometimes the last row, sometimes within it.
  const unsigned where = rng() % 5;
  s.lateRow = where == 0   ? s.rows - 1
              : where == 1 ? 100 + rng() % 1800
                           : 2050 + rng() % (s.rows - 2050);
  if (s.late == Late::PairsLate) {
    s.columns = 4;
    s.lateRow = 2100 + rng() % (s.rows - 2100);
  }
  return s;
}

/// Settings a user may give for such a table.
ImportSettings randomSettings(std::mt19937_64& rng, const Shape& s) {
  ImportSettings set;
  switch (rng() % 8) {
    case 1:
      set.layout = ImportLayout::FirstColumnX;
      break;
    case 2:
      set.rows = RowRange{3, rng() % 2 == 0 ? std::size_t{0} : std::size_t{2900}, 1 + rng() % 9};
      break;
    case 3:
      set.xColumn = 0;
      break;
    case 4:
      set.columns = std::vector<std::size_t>{s.columns};
      break;
    case 5:
      set.skipLines = 3;
      break;
    case 6:
      set.separator = s.separator;
      set.decimal = s.decimal;
      break;
    case 7:
      set.layout = ImportLayout::StackedScans;
      break;
    default:
      break;
  }
  return set;
}

TEST(TableStream, ReadingAsTheFileArrivesImportsAsReadingItWhole) {
  TempDir dir;
  std::mt19937_64 rng(20240501);
  std::size_t streamed = 0, plainCases = 0;
  for (int n = 0; n < 120; ++n) {
    const Shape s = randomShape(rng);
    const ImportSettings settings = n % 2 == 0 ? ImportSettings{} : randomSettings(rng, s);
    const std::string text = table(s, rng);
    const std::string path = dir.file("table " + std::to_string(n) + ".csv");
    writeFile(path, text);
    for (const bool completeLinesOnly : {false, true}) {
      ImportReading reading;
      reading.streamFrom = 0;
      reading.blockSize = 512 + rng() % 9000;
      bool wasStreamed = false;
      const ImportResult a =
          importFile(path, completeLinesOnly, settings, kAnySlots, reading, &wasStreamed);
      std::string whole = text;
      if (completeLinesOnly) whole.resize(completeLines(whole).size());
      const ImportResult b = importBytes(whole, fileNameOf(path), kAnySlots, settings);
      expectSameImport(a, b,
                       "case " + std::to_string(n) + " late " +
                           std::to_string(static_cast<int>(s.late)) + " at row " +
                           std::to_string(s.lateRow) +
                           (completeLinesOnly ? " complete lines" : ""));
      streamed += wasStreamed ? 1 : 0;
      // Nothing special, nothing given that looks at every point: streamed.
      if (staysPlain(s.late) && !s.descending && settings.automatic() && s.header != 3 &&
          s.columns != 4) {
        ++plainCases;
        EXPECT_TRUE(wasStreamed) << "case " << n;
      }
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(plainCases, 10U);
  EXPECT_GT(streamed, plainCases);
}

/// A plain two-column table of n rows, x ascending.
std::string plainTable(std::size_t n, const std::string& lineEnd = "\n") {
  std::string text = "Energy (eV)\tIntensity\n";
  for (std::size_t k = 0; k < n; ++k)
    text += number(1 + static_cast<double>(k) / 1024, '.', 12) + '\t' +
            number(static_cast<double>(k % 977) * 0.25, '.', 7) + lineEnd;
  return text;
}

TEST(TableStream, WhatTheLateRowsChangeIsReadWhole) {
  struct Case {
    const char* what;
    std::string tail;
    bool streams;
  };
  const Case cases[] = {
      {"more plain rows", "9\t1\n10\t2\n", true},
      {"a blank cell", "9\t\n10\t2\n", false},
      {"a comment line", "# end of scan\n10\t2\n", false},
      {"x starting again: a second scan", "0\t1\n", false},
      {"nan", "9\tnan\n", false},
      {"a row of three", "9\t1\t1\n", false},
      {"a lone number after the table (a footer)", "9\t1\n2048\n", false},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text = plainTable(3000);
    text += c.tail;
    const std::string path = dir.file("t.txt");
    writeFile(path, text);
    ImportReading reading;
    reading.streamFrom = 1;
    reading.blockSize = 4096;
    bool streamed = false;
    const ImportResult a = importFile(path, false, {}, kAnySlots, reading, &streamed);
    EXPECT_EQ(streamed, c.streams);
    expectSameImport(a, importBytes(text, "t.txt"), c.what);
  }
}

TEST(TableStream, SmallFilesAndOtherFormatsAreReadWhole) {
  TempDir dir;
  struct Case {
    const char* what;
    std::string text;
    std::uint64_t from;
  };
  std::string utf16 = "\xFF\xFE";
  for (char c : plainTable(2500)) {
    utf16 += c;
    utf16 += '\0';
  }
  const Case cases[] = {
      {"below the size", plainTable(3000), 1 << 20},
      {"fewer lines than the sample", plainTable(1500), 0},
      {"UTF-16", utf16, 0},
      {"a ## header", "##TITLE=x\n##JCAMP-DX=4.24\n" + plainTable(2500), 0},
      {"binary", std::string(5000, '\x01') + plainTable(2500), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.file("f.txt");
    writeFile(path, c.text);
    ImportReading reading;
    reading.streamFrom = c.from;
    reading.blockSize = 8192;
    bool streamed = true;
    const ImportResult a = importFile(path, false, {}, kAnySlots, reading, &streamed);
    EXPECT_FALSE(streamed);
    expectSameImport(a, importBytes(c.text, "f.txt"), c.what);
  }
}

/// The bytes handed over in blocks of blockSize; `second` (if set) in the
/// second reading, and `status` at the end of it.
struct Bytes {
  std::string first, second;
  std::size_t blockSize = 1000;
  ReadStatus secondStatus = ReadStatus::Ok;
  int readings = 0;
  ReadResult operator()(const BlockSink& sink) {
    const std::string& text = readings++ == 0 || second.empty() ? first : second;
    for (std::size_t at = 0; at < text.size(); at += blockSize)
      sink(std::string_view(text).substr(at, blockSize), text.size());
    ReadResult r;
    if (readings > 1) r.status = secondStatus;
    return r;
  }
};

TEST(TableStream, AFileThatChangesOrFailsBetweenTheReadingsIsReadWhole) {
  std::string notice;
  const std::string text = plainTable(3000);
  {
    Bytes bytes{text, {}};
    const std::optional<ImportResult> r = streamTable(std::ref(bytes), "t", false, {}, notice);
    ASSERT_TRUE(r.has_value());
    expectSameImport(*r, importBytes(text, "t"), "unchanged");
    EXPECT_EQ(bytes.readings, 2);
  }
  {
    std::string changed = text;
    changed[30] = changed[30] == '1' ? '2' : '1';  // in the first part
    Bytes bytes{text, changed};
    EXPECT_FALSE(streamTable(std::ref(bytes), "t", false, {}, notice).has_value());
  }
  {
    Bytes bytes{text, text.substr(0, 2000)};  // cut short
    EXPECT_FALSE(streamTable(std::ref(bytes), "t", false, {}, notice).has_value());
  }
  {
    Bytes bytes{text, {}};
    bytes.secondStatus = ReadStatus::Failed;
    EXPECT_FALSE(streamTable(std::ref(bytes), "t", false, {}, notice).has_value());
  }
  {
    // Grown since the lines were counted (a file being written): read as it is now.
    const std::string grown = text + "100\t5\n101\t6\n";
    Bytes bytes{text, grown};
    const std::optional<ImportResult> r = streamTable(std::ref(bytes), "t", false, {}, notice);
    ASSERT_TRUE(r.has_value());
    expectSameImport(*r, importBytes(grown, "t"), "grown");
  }
}

TEST(TableStream, CompleteLinesOnlyLeavesOutTheLineBeingWritten) {
  for (const char* end : {"\n", "\r\n", "\r"}) {
    SCOPED_TRACE(std::string(end) == "\n" ? "LF" : std::string(end) == "\r" ? "CR" : "CR LF");
    const std::string text = plainTable(3000, end) + "800\t1";  // no line end yet
    std::string notice;
    Bytes bytes{text, {}};
    bytes.blockSize = 777;
    const std::optional<ImportResult> r = streamTable(std::ref(bytes), "t", true, {}, notice);
    ASSERT_TRUE(r.has_value());
    ASSERT_EQ(r->graphs.size(), 1U);
    EXPECT_EQ(r->graphs[0].points.size(), 3000U);
    Bytes all{text, {}};
    const std::optional<ImportResult> withLast = streamTable(std::ref(all), "t", false, {}, notice);
    ASSERT_TRUE(withLast.has_value());
    ASSERT_EQ(withLast->graphs[0].points.size(), 3001U);
    EXPECT_EQ(withLast->graphs[0].points.back(), (Point{800, 1}));
  }
}

TEST(TableStream, ALargeExportStreamsForImportAndReload) {
  // Beyond the size from which files are streamed: 5 MiB of rows.
  TempDir dir;
  const std::string path = dir.file("large.csv");
  std::string text = plainTable(280000, "\r\n");
  ASSERT_GE(text.size(), kStreamFrom);
  writeFile(path, text);
  bool streamed = false;
  const ImportResult r = importFile(path, false, {}, kAnySlots, {}, &streamed);
  EXPECT_TRUE(streamed);
  expectSameImport(r, importBytes(text, "large.csv"), "import");
  ASSERT_EQ(r.graphs.size(), 1U);
  ASSERT_EQ(r.graphs[0].points.size(), 280000U);
  // Row k holds x = 1 + k/1024 exactly (a power of two), y = (k mod 977)/4.
  EXPECT_EQ(r.graphs[0].points[123456], (Point{1 + 123456.0 / 1024, (123456 % 977) * 0.25}));
  // The points had their room once: no more than the rows.
  EXPECT_LE(r.graphs[0].points.capacity(), 280000U + 2);

  std::string error;
  const std::optional<DataFileContent> reloaded = importedContent(path, "", false, error);
  ASSERT_TRUE(reloaded.has_value()) << error;
  ASSERT_EQ(reloaded->columns.size(), 1U);
  EXPECT_EQ(reloaded->columns[0], r.graphs[0].points);
  EXPECT_EQ(reloaded->comments, r.graphs[0].comments);
}

TEST(TableStream, AStreamThatCannotGoOnTakesNoLines) {
  // Fewer lines than the sample: nothing is decided yet.
  const std::string shortHead = plainTable(100);
  TableStream notYet(shortHead, "t", {});
  EXPECT_FALSE(notYet.open());
  EXPECT_FALSE(notYet.feed("7\t1\n"));
  EXPECT_FALSE(notYet.finish().has_value());
  // Closed by a line that is no plain row: no further line is taken.
  const std::string head = plainTable(2500);
  TableStream closed(head, "t", {});
  ASSERT_TRUE(closed.open());
  EXPECT_TRUE(closed.feed(""));
  EXPECT_TRUE(closed.open());
  EXPECT_FALSE(closed.feed("a line of text\n"));
  EXPECT_FALSE(closed.open());
  EXPECT_FALSE(closed.feed("9000\t1\n"));
  EXPECT_FALSE(closed.finish().has_value());
}

TEST(TableStream, ThePointsGetTheirRoomOnceForTheRowsTaken) {
  const std::string text = plainTable(20000);
  struct Case {
    const char* rows;
    std::size_t points;  // rows FROM:TO:STEP taken of the 20,000
  };
  const Case cases[] = {
      {"1:0:1", 20000},
      {"3:0:7", (20000 - 3) / 7 + 1},
      {"3:15000:7", (15000 - 3) / 7 + 1},
      {"2500:2600:1", 101},
      // The first part holds rows 1 to 1999: exactly one more.
      {"1:2000:1", 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rows);
    std::string error;
    const std::optional<ImportSettings> settings =
        parseImportSettings({std::string("rows=") + c.rows}, error);
    ASSERT_TRUE(settings.has_value()) << error;
    Bytes bytes{text, {}};
    bytes.blockSize = 4096;
    std::string notice;
    const std::optional<ImportResult> r =
        streamTable(std::ref(bytes), "t", false, *settings, notice);
    ASSERT_TRUE(r.has_value());
    ASSERT_EQ(r->graphs.size(), 1U);
    const std::vector<Point>& points = r->graphs[0].points;
    EXPECT_EQ(points.size(), c.points);
    // Room for every row taken from the start, never grown by doubling.
    EXPECT_LE(points.capacity(), std::max<std::size_t>(points.size() + 1, 2000));
    expectSameImport(*r, importBytes(text, "t", kAnySlots, *settings), c.rows);
  }
}

// Rows picked past the table's end leave every graph empty: no import, and
// the summary says why, as for the whole file.
TEST(TableStream, NoRowTakenIsNoImport) {
  const std::string text = plainTable(20000);
  std::string error;
  const std::optional<ImportSettings> settings = parseImportSettings({"rows=30000:"}, error);
  ASSERT_TRUE(settings.has_value()) << error;
  Bytes bytes{text, {}};
  std::string notice;
  const std::optional<ImportResult> r = streamTable(std::ref(bytes), "t", false, *settings, notice);
  ASSERT_TRUE(r.has_value());
  const ImportResult whole = importBytes(text, "t", kAnySlots, *settings);
  ASSERT_TRUE(whole.refusal);
  expectSameImport(*r, whole, "rows past the end");
}

TEST(TableStream, TheLastLinesOfTheFirstPartDecideAsInTheWholeFile) {
  // A lone number, a text line or a short row among the last lines the
  // separator is guessed from: the first part then ends in no run of full
  // rows, and the file must read as a whole.
  const std::string rows = plainTable(3000);
  std::vector<std::string_view> lines = splitLines(rows);
  for (const char* odd : {"2048", "# lamp changed", "77"}) {
    for (std::size_t at : {1997, 1998, 1999, 2000}) {
      SCOPED_TRACE(std::string(odd) + " at line " + std::to_string(at + 1));
      std::string text;
      for (std::size_t k = 0; k < lines.size(); ++k) {
        if (k == at) text += std::string(odd) + "\n";
        text += std::string(lines[k]) + "\n";
      }
      Bytes bytes{text, {}};
      bytes.blockSize = 4096;
      std::string notice;
      const std::optional<ImportResult> r = streamTable(std::ref(bytes), "t", false, {}, notice);
      if (r) expectSameImport(*r, importBytes(text, "t"), odd);
    }
  }
}

TEST(TableStream, EdgesOfWhatStreams) {
  TempDir dir;
  struct Case {
    const char* what;
    std::string text;
    bool streams;
    bool completeLinesOnly;
  };
  // Falling x that stands still for a row.
  std::string falling;
  for (int k = 0; k < 3000; ++k) {
    const int x = 5000 - k + (k == 2600 ? 1 : 0);
    falling += std::to_string(x) + ";" + std::to_string(k % 13) + "\n";
  }
  // One column: x and y on alternate lines; a bare start, step and count
  // above it; values that go up and down.
  std::string alternate, bare = "10 0.5 3000\n", column;
  for (int k = 0; k < 3000; ++k) {
    alternate += std::to_string(k % 2 == 0 ? 400 + k : k % 7) + "\n";
    bare += std::to_string(k % 11) + "\n";
    column += std::to_string((k * 7919) % 1000) + "\n";
  }
  const Case cases[] = {
      {"x and y on alternate lines", alternate, false, false},
      {"start, step and count above one column", bare, false, false},
      {"one column", column, true, false},
      {"exactly the lines of the sample", plainTable(1999), true, false},
      {"falling x standing still", falling, true, false},
      {"no line end at all, complete lines only", "1 2 3 4 5 6", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.file("e.txt");
    writeFile(path, c.text);
    ImportReading reading;
    reading.streamFrom = 0;
    reading.blockSize = 1000;
    bool streamed = false;
    const ImportResult r = importFile(path, c.completeLinesOnly, {}, kAnySlots, reading, &streamed);
    EXPECT_EQ(streamed, c.streams);
    std::string whole = c.text;
    if (c.completeLinesOnly) whole.resize(completeLines(whole).size());
    expectSameImport(r, importBytes(whole, "e.txt"), c.what);
  }
  // A file being written that has no complete line yet has nothing to import.
  const std::string path = dir.file("growing.txt");
  writeFile(path, "400.5\t12");
  EXPECT_EQ(importFile(path, true).refusal, std::optional<std::string>("the file is empty"));
}

}  // namespace
}  // namespace varnix
