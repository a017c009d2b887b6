#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "import/binary_writer.h"
#include "import/importer.h"
#include "test_util.h"

namespace varnix {
namespace {

using test::SpcSub;
using test::WdfOrigin;

struct Expected {
  std::string name;
  std::vector<Point> points;
};

void expectGraphs(const ImportResult& r, const std::vector<Expected>& want,
                  const std::string& what) {
  ASSERT_FALSE(r.refusal) << what << ": " << *r.refusal;
  ASSERT_EQ(r.graphs.size(), want.size()) << what;
  for (std::size_t k = 0; k < want.size(); ++k) {
    EXPECT_EQ(r.graphs[k].name, want[k].name) << what;
    ASSERT_EQ(r.graphs[k].points.size(), want[k].points.size()) << what << " graph " << k;
    for (std::size_t j = 0; j < want[k].points.size(); ++j) {
      EXPECT_EQ(r.graphs[k].points[j].x, want[k].points[j].x) << what << " graph " << k;
      EXPECT_EQ(r.graphs[k].points[j].y, want[k].points[j].y) << what << " graph " << k;
    }
  }
}

struct SpcCase {
  const char* what;
  std::string bytes;
  const char* layout;
  std::vector<Expected> graphs;
};

TEST(ImportSpc, EachFlavourReadsItsValuesAndNames) {
  constexpr std::uint8_t kXy = test::kSpcXValues;
  constexpr std::uint8_t kMultiX = test::kSpcMulti | test::kSpcXValues;
  constexpr std::uint8_t kXyxy = test::kSpcMulti | test::kSpcXyxy | test::kSpcXValues;
  const SpcCase cases[] = {
      {"even x, float y, named by the memo",
       test::spcFile(0, -128, 100, 400, {}, {{0, {}, {1.5, -2, 0.25, 8}, -128}}, "film A"),
       "Thermo Galactic SPC, even x",
       {{"film A", {{100, 1.5}, {200, -2}, {300, 0.25}, {400, 8}}}}},
      // 32-bit integers scaled by 2^(exp-32): with exp 16, 65536 is 1.
      {"32-bit integers",
       test::spcFile(0, 16, 1, 3, {}, {{0, {}, {65536, 131072, -98304}, 16}}),
       "even x",
       {{"s.spc", {{1, 1}, {2, 2}, {3, -1.5}}}}},
      // 16-bit integers scaled by 2^(exp-16): with exp 18, each counts 4.
      {"16-bit integers",
       test::spcFile(test::kSpcShortY, 18, 0, 1, {}, {{0, {}, {1, -2}, 18}}),
       "even x",
       {{"s.spc", {{0, 4}, {1, -8}}}}},
      {"one x array, several subfiles named by z",
       test::spcFile(kMultiX, -128, 0, 0, {5, 7, 6},
                     {{10, {}, {1, 2, 3}, -128}, {20.5F, {}, {4, 5, 6}, -128}}),
       "2 subfiles, x array",
       {{"s.spc, z=10", {{5, 1}, {7, 2}, {6, 3}}}, {"s.spc, z=20.5", {{5, 4}, {7, 5}, {6, 6}}}}},
      {"x per subfile, counts differ",
       test::spcFile(kXyxy, -128, 0, 0, {},
                     {{1, {1, 2}, {10, 20}, -128}, {2, {3, 4, 5}, {30, 40, 50}, -128}}),
       "x per subfile",
       {{"s.spc, z=1", {{1, 10}, {2, 20}}}, {"s.spc, z=2", {{3, 30}, {4, 40}, {5, 50}}}}},
      {"equal z values: named by position",
       test::spcFile(test::kSpcMulti, -128, 0, 1, {},
                     {{0, {}, {1, 2}, -128}, {0, {}, {3, 4}, -128}}),
       "2 subfiles",
       {{"s.spc, subfile 1", {{0, 1}, {1, 2}}}, {"s.spc, subfile 2", {{0, 3}, {1, 4}}}}},
      {"big-endian new format",
       test::spcFile(kXy, -128, 0, 0, {2, 4}, {{0, {}, {-1, 1}, -128}}, "", true),
       "x array",
       {{"s.spc", {{2, -1}, {4, 1}}}}},
      // Old format: exponent 16, so the stored integer 131072 is 2.
      {"old format",
       test::spcOldFile(0, 16, 10, 12, {{131072, -65536, 32768}}, "old memo"),
       "old format, even x",
       {{"old memo", {{10, 2}, {11, -1}, {12, 0.5}}}}},
      {"old format, float values",
       [] {
         // Exponent 0x80: the stored 32-bit words are floats (no word swap).
         std::string s = test::spcOldFile(0, 0x80, 0, 1, {{0, 0}});
         test::ByteWriter w;
         w.f32(0, 2.5F);
         w.f32(4, -0.75F);
         s.replace(256, 8, w.bytes());
         return s;
       }(),
       "old format",
       {{"s.spc", {{0, 2.5}, {1, -0.75}}}}},
      {"old format, several subfiles",
       test::spcOldFile(test::kSpcMulti, 16, 0, 1, {{65536, 131072}, {196608, 262144}}),
       "old format, 2 subfiles",
       {{"s.spc, subfile 1", {{0, 1}, {1, 2}}}, {"s.spc, subfile 2", {{0, 3}, {1, 4}}}}},
      // Each subfile scales by its own exponent; 0 there means the file's.
      {"old format, an exponent per subfile",
       test::spcOldFile(test::kSpcMulti, 16, 0, 1,
                        {{65536, 131072}, {65536, 131072}, {65536, 131072}}, "", {0, 17, 15}),
       "old format, 3 subfiles",
       {{"s.spc, subfile 1", {{0, 1}, {1, 2}}},
        {"s.spc, subfile 2", {{0, 2}, {1, 4}}},
        {"s.spc, subfile 3", {{0, 0.5}, {1, 1}}}}},
      {"new format, one subfile following the file's exponent",
       test::spcFile(0, 16, 0, 1, {}, {{0, {}, {65536, 196608}, 0}}),
       "even x",
       {{"s.spc", {{0, 1}, {1, 3}}}}},
      {"new format, one subfile with an exponent of its own",
       test::spcFile(0, 16, 0, 1, {}, {{0, {}, {65536, 196608}, 18}}),
       "even x",
       {{"s.spc", {{0, 4}, {1, 12}}}}},
      {"x array, an exponent per subfile",
       test::spcFile(kMultiX, 16, 0, 0, {5, 7},
                     {{1, {}, {65536, 131072}, 15}, {2, {}, {65536, 131072}, 0}}),
       "2 subfiles, x array",
       {{"s.spc, z=1", {{5, 0.5}, {7, 1}}}, {"s.spc, z=2", {{5, 1}, {7, 2}}}}},
      {"x per subfile, integers and floats mixed",
       test::spcFile(kXyxy, 16, 0, 0, {},
                     {{1, {1, 2}, {65536, 131072}, 17}, {2, {3}, {0.75}, -128}}),
       "x per subfile",
       {{"s.spc, z=1", {{1, 2}, {2, 4}}}, {"s.spc, z=2", {{3, 0.75}}}}},
  };
  for (const SpcCase& c : cases) {
    const ImportResult r = importBytes(c.bytes, "s.spc");
    expectGraphs(r, c.graphs, c.what);
    EXPECT_NE(r.layout.find(c.layout), std::string::npos) << c.what << ": " << r.layout;
  }
}

TEST(ImportSpc, UnitsAndMemoBecomeComments) {
  const ImportResult r =
      importBytes(test::spcFile(0, -128, 0, 1, {}, {{0, {}, {1, 2}, -128}}, "m"), "s.spc");
  ASSERT_EQ(r.graphs.size(), 1U);
  const std::vector<std::string> want = {"memo: m", "x: Raman shift (cm-1)", "y: counts"};
  EXPECT_EQ(r.graphs[0].comments, want);
}

TEST(ImportSpc, NonFiniteValuesGiveNoPoint) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const ImportResult r =
      importBytes(test::spcFile(test::kSpcMulti | test::kSpcXValues, -128, 0, 0, {1, nan, 3},
                                {{1, {}, {inf, 2, 3}, -128}, {2, {}, {nan, 5, nan}, -128}}),
                  "s.spc");
  expectGraphs(r, {{"s.spc, z=1", {{3, 3}}}}, "nan");
  // Five points have an x or a y that is not finite.
  EXPECT_EQ(r.nonFinite, 5U);
  ASSERT_EQ(r.warnings.size(), 1U);
  EXPECT_EQ(r.warnings[0], "s.spc, z=2 has no point and makes no graph");
}

struct Refused {
  const char* what;
  std::string bytes;
  const char* reason;
};

TEST(ImportSpc, DamagedFilesAreRefusedWithoutReadingPastTheEnd) {
  const std::string good = test::spcFile(0, -128, 0, 1, {}, {{0, {}, {1, 2}, -128}});
  const Refused cases[] = {
      {"header cut short", good.substr(0, 300), "the SPC header is cut short"},
      {"points beyond the file",
       test::spcFile(0, -128, 0, 1, {}, {{0, {}, {1, 2}, -128}}, "", false, 4000000000U),
       "the SPC file is cut short (4000000000 points announced"},
      {"absurd subfile count",
       test::spcFile(test::kSpcMulti, -128, 0, 1, {}, {{0, {}, {1, 2}, -128}}, "", false, 0,
                     0xFFFFFFFFU),
       "the SPC file is cut short (4294967295 subfiles announced"},
      {"no points", test::spcFile(0, -128, 0, 1, {}, {{0, {}, {}, -128}}), "holds no points"},
      {"second subfile missing",
       test::spcFile(test::kSpcMulti, -128, 0, 1, {}, {{0, {}, {1, 2}, -128}}, "", false, 0, 2),
       "the SPC file is cut short (2 subfiles announced"},
      {"x per subfile beyond the file",
       test::spcFile(test::kSpcMulti | test::kSpcXyxy, -128, 0, 1, {},
                     {{0, {1}, {1}, -128}}, "", false, 0, 1).substr(0, 512 + 32 + 2),
       "points in a subfile"},
      {"nan x range", test::spcFile(0, -128, NAN, 1, {}, {{0, {}, {1, 2}, -128}}),
       "no valid x range"},
      {"old format with a bad count", [] {
         std::string s = test::spcOldFile(0, 16, 0, 1, {{1, 2}});
         s[4] = s[5] = s[6] = s[7] = '\xFF';  // a NaN point count
         return s;
       }(), "no valid point count"},
  };
  for (const Refused& c : cases) {
    const ImportResult r = importBytes(c.bytes, "s.spc");
    ASSERT_TRUE(r.refusal) << c.what;
    EXPECT_NE(r.refusal->find(c.reason), std::string::npos) << c.what << ": " << *r.refusal;
    EXPECT_TRUE(r.graphs.empty()) << c.what;
  }
}

// Every prefix of a valid file, and the file with each header byte changed:
// never a crash or a read past the buffer (ASan checks the latter), never a
// point that was not in the file.
template <typename F>
void attack(const std::string& good, const std::string& name, F&& check) {
  for (std::size_t n = 0; n <= good.size(); ++n) {
    // A copy on the heap of just n bytes, so that any overread is caught.
    const std::string cut = good.substr(0, n);
    check(importBytes(cut, name));
  }
  for (std::size_t at = 0; at < std::min<std::size_t>(good.size(), 640); ++at)
    for (int v : {0x00, 0x7F, 0x80, 0xFF}) {
      std::string bad = good;
      bad[at] = static_cast<char>(v);
      check(importBytes(bad, name));
    }
}

TEST(ImportSpc, CutAndDamagedFilesNeverCrash) {
  const std::string good =
      test::spcFile(test::kSpcMulti | test::kSpcXyxy | test::kSpcXValues, -128, 0, 0, {},
                    {{1, {1, 2}, {10, 20}, -128}, {2, {3, 4, 5}, {30, 40, 50}, -128}});
  attack(good, "s.spc", [](const ImportResult& r) {
    EXPECT_EQ(r.refusal.has_value(), r.graphs.empty());
    EXPECT_LE(r.pointCount(), 5U);
  });
  attack(test::spcOldFile(test::kSpcMulti, 16, 0, 1, {{1, 2}, {3, 4}}), "s.spc",
         [](const ImportResult& r) { EXPECT_EQ(r.refusal.has_value(), r.graphs.empty()); });
}

struct WdfCase {
  const char* what;
  std::string bytes;
  std::vector<Expected> graphs;
  std::vector<std::string> warnings;
};

TEST(ImportWdf, SpectraMapsAndSeries) {
  const WdfCase cases[] = {
      {"single spectrum named by its title",
       test::wdfFile({{5, 6, 7}}, {100, 200.5F, 300}, {}, "Si wafer"),
       {{"Si wafer", {{100, 5}, {200.5, 6}, {300, 7}}}},
       {}},
      // A time list first: only the spatial ones name the spectra.
      {"map named by position",
       test::wdfFile({{1, 2}, {3, 4}, {5, 6}}, {10, 20},
                     {{11, {1e5, 2e5, 3e5}}, {3, {0, 1.5, 0}}, {4, {-2, -2, 0.25}}}),
       {{"m.wdf, x=0 y=-2", {{10, 1}, {20, 2}}},
        {"m.wdf, x=1.5 y=-2", {{10, 3}, {20, 4}}},
        {"m.wdf, x=0 y=0.25", {{10, 5}, {20, 6}}}},
       {}},
      {"series without positions, room for more spectra",
       test::wdfFile({{1}, {2}}, {7}, {}, "", 0, 3),
       {{"m.wdf, spectrum 1", {{7, 1}}}, {"m.wdf, spectrum 2", {{7, 2}}}},
       {}},
      {"no x list",
       test::wdfFile({{4, 5}}, {}),
       {{"m.wdf", {{0, 4}, {1, 5}}}},
       {"no usable x axis: x is the point number"}},
      {"more spectra announced than written",
       [] {
         std::string s = test::wdfFile({{1}, {2}, {3}}, {1});
         return s.substr(0, s.size() - 4);
       }(),
       {{"m.wdf, spectrum 1", {{1, 1}}}, {"m.wdf, spectrum 2", {{1, 2}}}},
       {"the file is cut short in its data", "2 of 3 spectra are in the file"}},
  };
  for (const WdfCase& c : cases) {
    const ImportResult r = importBytes(c.bytes, "m.wdf");
    expectGraphs(r, c.graphs, c.what);
    EXPECT_EQ(r.warnings, c.warnings) << c.what;
    EXPECT_NE(r.layout.find("Renishaw WiRE WDF"), std::string::npos) << r.layout;
  }
  const ImportResult r = importBytes(test::wdfFile({{1, 2}}, {3, 4}), "m.wdf");
  ASSERT_EQ(r.graphs.size(), 1U);
  const std::vector<std::string> comments = {"x: Raman shift (cm-1)", "comment: notes"};
  EXPECT_EQ(r.graphs[0].comments, comments);
}

TEST(ImportWdf, DamagedFilesAreRefusedOrReadInPart) {
  const Refused cases[] = {
      {"header cut short", test::wdfFile({{1}}, {1}).substr(0, 500), "the WDF header is cut short"},
      {"nothing collected", test::wdfFile({}, {1}), "holds no collected spectrum"},
      {"no data block", test::wdfFile({{1}}, {1}).substr(0, 512 + 16 + 12 + 21), "no data block"},
      {"only nan", test::wdfFile({{NAN}}, {1}), "holds no finite values"},
      {"absurd count",
       [] {
         std::string s = test::wdfFile({{1}, {2}}, {1});
         for (int k = 72; k < 80; ++k) s[k] = '\x7F';
         return s;
       }(),
       "it needs 2 graph slots and only 1 of 301 are free"},
  };
  for (const Refused& c : cases) {
    const ImportResult r = importBytes(c.bytes, "m.wdf", 1);
    ASSERT_TRUE(r.refusal) << c.what;
    EXPECT_NE(r.refusal->find(c.reason), std::string::npos) << c.what << ": " << *r.refusal;
  }
  const std::string good =
      test::wdfFile({{1, 2}, {3, 4}}, {10, 20}, {{3, {0, 1}}, {4, {5, 6}}}, "t");
  attack(good, "m.wdf", [](const ImportResult& r) {
    EXPECT_EQ(r.refusal.has_value(), r.graphs.empty());
    EXPECT_LE(r.pointCount(), 4U);
  });
}

TEST(ImportBinary, OtherFormatsAreRefusedByName) {
  std::string spe(4100, '\0');
  spe[4098] = spe[4099] = '\x55';
  const Refused cases[] = {
      {"Andor", std::string("Andor Technology Multi-Channel File\n65538 1\0\1", 46), "Andor SIF"},
      {"OPUS", std::string("\x0A\x0A\xFE\xFE\0\0\0\0", 8), "Bruker OPUS"},
      {"PerkinElmer", std::string("PEPE\0\1\2", 7), "PerkinElmer SP"},
      {"SPA", std::string("Spectral Data File\0\0\1", 21), "Thermo SPA"},
      {"SPE", spe, "Princeton SPE"},
      // A bitmap's second byte is the old SPC version byte: not taken as SPC.
      {"bitmap", std::string("BM\0\0\1\2", 6), "not a text file (binary content)"},
  };
  for (const Refused& c : cases) {
    const ImportResult r = importBytes(c.bytes, "x.bin");
    ASSERT_TRUE(r.refusal) << c.what;
    EXPECT_NE(r.refusal->find(c.reason), std::string::npos) << c.what << ": " << *r.refusal;
  }
  // By the extension, unless the content names another format (PHI
  // MultiPak's .spe: a text header, then binary data or none).
  const Refused named[] = {
      {"y.SPE", std::string("\0\1\2", 3), "a Princeton SPE file (binary)"},
      {"z.spe", std::string("SOFH\nPlatform: x\nEOFH\n\0\0\1\0\xFF\0", 28),
       "a PHI MultiPak file (binary)"},
      {"z.spe", "SOFH\nPlatform: x\nEOFH\n1 2\n3 4\n5 6\n", "a PHI MultiPak file (binary)"},
  };
  for (const Refused& c : named) {
    const ImportResult r = importBytes(c.bytes, c.what);
    ASSERT_TRUE(r.refusal) << c.what;
    EXPECT_EQ(*r.refusal,
              std::string(c.reason) + ", which cannot be imported; export it as text or JCAMP-DX");
  }
}

TEST(ImportBinary, AMapWithMoreSpectraThanFreeSlotsIsRefusedWithTheCount) {
  test::TempDir dir;
  const std::vector<std::vector<float>> spectra(301, std::vector<float>{1, 2});
  test::writeFile(dir.file("map.wdf"), test::wdfFile(spectra, {1, 2}));
  GraphStore store;
  test::addGraph(store, "a", {{0, 0}});
  std::size_t added = 0, failures = 0;
  std::vector<std::string> lines =
      importFiles(store, {dir.file("map.wdf")}, nullptr, &added, &failures);
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_EQ(lines[0], dir.file("map.wdf") +
                          ": not imported: it needs 301 graph slots and only 300 of 301 are free");
  EXPECT_EQ(store.count(), 1U);
  EXPECT_EQ(failures, 1U);
  // Into an empty list it fits exactly.
  GraphStore empty;
  lines = importFiles(empty, {dir.file("map.wdf")}, nullptr, &added, &failures);
  EXPECT_EQ(empty.count(), 301U);
  EXPECT_EQ(added, 301U);
}

}  // namespace
}  // namespace varnix
