#include "processing/slicer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"
#include "workspace/error.h"

namespace varnix {
namespace {

using test::addGraph;
using test::readFile;
using test::TempDir;

std::vector<std::string> fileNames(const std::vector<std::string>& paths) {
  std::vector<std::string> out;
  for (const auto& p : paths) out.push_back(std::filesystem::path(p).filename().string());
  return out;
}

TEST(Slicer, InitialTextsWriteFiftyEightFiles) {
  TempDir dir;
  GraphStore store;
  for (const char* name : {"T10K.dat", "T20K.dat", "ref.dat"}) {
    std::vector<Point> pts;
    for (int x = 0; x <= 400; ++x) pts.push_back({double(x), 1.0});
    addGraph(store, name, pts);
  }
  SlicerFields f;
  f.directory = dir.path();
  auto written = sliceGraphs(store, f, {});
  ASSERT_EQ(written.size(), 58u);
  EXPECT_EQ(fileNames(written).front(), "d10.Dat");
  EXPECT_EQ(fileNames(written).back(), "d295.Dat");
  EXPECT_FALSE(std::filesystem::exists(dir.file("d300.Dat")));
  // Window 10..15 on unit spacing: the segments ending at 10 .. 16, area 7.
  EXPECT_EQ(readFile(dir.file("d10.Dat")), "10 7\r\n20 7\r\n 7\r\n");
}

TEST(Slicer, FileNamesAndWindowStarts) {
  struct Case {
    SlicerFields f;
    std::vector<std::string> names;
  };
  auto fields = [](const char* from, const char* to, const char* step, const char* prefix,
                   const char* suffix) {
    SlicerFields f;
    f.from = from;
    f.to = to;
    f.step = step;
    f.prefix = prefix;
    f.suffix = suffix;
    return f;
  };
  const Case cases[] = {
      {fields("300", "10", "5", "d", ""), {"d300.Dat"}},
      {fields("0", "1.5", "0.5", "s", "_a"), {"s0_a.Dat", "s0_a.Dat", "s1_a.Dat"}},
      {fields("2.5", "4", "1", "", ""), {"2.Dat", "4.Dat"}},
      {fields("12x", "14", "1e", "p", ""), {"p12.Dat", "p13.Dat"}},
      {fields("-2", "0", "1", "m", ""), {"m-2.Dat", "m-1.Dat"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    GraphStore store;
    addGraph(store, "g1", {{0, 1}, {1, 1}});
    SlicerFields f = c.f;
    f.directory = dir.path();
    EXPECT_EQ(fileNames(sliceGraphs(store, f, {})), c.names) << c.f.from << " " << c.f.step;
  }
}

TEST(Slicer, FractionalStepsAccumulateByAddition) {
  TempDir dir;
  GraphStore store;
  addGraph(store, "g", {{0, 1}, {1, 1}});
  SlicerFields f;
  f.from = "0";
  f.to = "1";
  f.step = "0.1";
  f.directory = dir.path();
  // 0.1 added ten times stays below 1, so an eleventh window starts there.
  EXPECT_EQ(sliceGraphs(store, f, {}).size(), 11u);
}

TEST(Slicer, SliceValues) {
  Series s;
  for (int x = 10; x <= 20; ++x) s.addPoint(x, x);
  EXPECT_EQ(sliceValue(s, 0, 5), 10.5);  // ends before the first x: the first segment
  EXPECT_EQ(sliceValue(s, 25, 5), 0);    // starts after the last x
  EXPECT_EQ(sliceValue(s, 12, 2), 11.5 + 12.5 + 13.5 + 14.5);  // boundary segments whole
  EXPECT_EQ(sliceValue(s, 14, 2), 13.5 + 14.5 + 15.5 + 16.5);
  Series one;
  one.addPoint(1, 1);
  EXPECT_EQ(sliceValue(one, 0, 5), 0);
}

TEST(Slicer, RefusalsAndFileErrors) {
  TempDir dir;
  GraphStore store;
  addGraph(store, "g", {{0, 1}, {1, 1}});
  SlicerFields f;
  f.directory = dir.path();
  std::vector<std::string> messages;
  auto msg = [&](const std::string& m) { messages.push_back(m); };
  for (const char* step : {"0", "-1", "", "x"}) {
    f.step = step;
    EXPECT_TRUE(sliceGraphs(store, f, msg).empty()) << step;
  }
  f.step = "1e-300";
  EXPECT_TRUE(sliceGraphs(store, f, msg).empty());
  EXPECT_EQ(messages.size(), 5u);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  f.step = "5";
  f.directory = dir.file("missing");
  EXPECT_EQ(test::errorOf([&] { sliceGraphs(store, f, msg); }), "Invalid filename");
  // A folder where a slice file should go: the slices before it remain.
  f.directory = dir.path();
  std::filesystem::create_directory(dir.file("d20.Dat"));
  EXPECT_EQ(test::errorOf([&] { sliceGraphs(store, f, msg); }),
            "Could not write " + dir.file("d20.Dat") + ": Is a directory");
  EXPECT_TRUE(std::filesystem::exists(dir.file("d10.Dat")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("d15.Dat")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("d25.Dat")));
}

/// One graph of two points and the Slicer's fields for a run into dir.
struct SliceRun {
  TempDir dir;
  GraphStore store;
  SlicerFields f;
  std::vector<std::string> messages;
  SliceRun(const char* from, const char* to, const char* step, const char* decimals = "0") {
    addGraph(store, "g", {{0, 1}, {1, 1}});
    f.from = from;
    f.to = to;
    f.step = step;
    f.decimals = decimals;
    f.directory = dir.path();
  }
  std::vector<std::string> run() {
    return sliceGraphs(store, f, [&](const std::string& m) { messages.push_back(m); });
  }
};

TEST(Slicer, WindowStartsThatStopMovingAreRefusedBeforeWriting) {
  struct Case {
    const char *from, *to, *step;
    std::size_t files;  // 0: refused with a message
  };
  const Case cases[] = {
      {"9007199254740982", "9007199254741092", "1", 0},  // beyond 2^53 the start stops at ...992
      {"4503599627370494", "4503599627370506", "0.4", 0},
      {"1e16", "0", "1", 1},  // start above end: one slice, as always
      {"4503599627370494", "4503599627370500", "1", 6},
      {"0", "2000000", "1", 0},  // more than a million files
  };
  for (const Case& c : cases) {
    SliceRun r(c.from, c.to, c.step);
    EXPECT_EQ(r.run().size(), c.files) << c.from << " " << c.step;
    EXPECT_EQ(r.messages.size(), c.files == 0 ? 1u : 0u) << c.from;
    if (c.files == 0) EXPECT_TRUE(std::filesystem::is_empty(r.dir.path())) << c.from;
  }
}

TEST(Slicer, DecimalsInFileNames) {
  struct Case {
    const char *from, *to, *step, *decimals;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"2.3", "2.65", "0.1", "0", {"d2.Dat", "d2.Dat", "d2.Dat", "d3.Dat"}},
      {"2.3", "2.65", "0.1", "1", {"d2.3.Dat", "d2.4.Dat", "d2.5.Dat", "d2.6.Dat"}},
      {"0.125", "0.5", "0.25", "2", {"d0.12.Dat", "d0.38.Dat"}},  // exact ties to even
      {"-0.04", "0", "1", "1", {"d0.0.Dat"}},
      {"1", "2", "1", "3", {"d1.000.Dat"}},
  };
  for (const Case& c : cases) {
    SliceRun r(c.from, c.to, c.step, c.decimals);
    EXPECT_EQ(fileNames(r.run()), c.names) << c.from << " " << c.decimals;
  }
  for (const char* bad : {"-1", "1.5", "16"}) {
    SliceRun r("10", "300", "5", bad);
    EXPECT_TRUE(r.run().empty()) << bad;
    EXPECT_EQ(r.messages.size(), 1u) << bad;
  }
}

TEST(Slicer, AReadOnlySliceFileIsKeptAndTheUserToldWhy) {
  TempDir dir;
  GraphStore store;
  addGraph(store, "g", {{0, 1}, {1, 1}});
  test::writeFile(dir.file("d10.Dat"), "keep");
  std::filesystem::permissions(dir.file("d10.Dat"), std::filesystem::perms::owner_read);
  SlicerFields f;
  f.directory = dir.path();
  EXPECT_EQ(test::errorOf([&] { sliceGraphs(store, f, {}); }),
            "Could not write " + dir.file("d10.Dat") + ": Existing file " + dir.file("d10.Dat") +
                " is not writable");
  EXPECT_EQ(readFile(dir.file("d10.Dat")), "keep");
}

}  // namespace
}  // namespace varnix
