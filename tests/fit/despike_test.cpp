#include "fit/despike.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "test_util.h"
#include "workspace/error.h"

namespace varnix {
namespace {

/// 200 points of noise (deterministic, about +-1) with a real narrow peak
/// (FWHM 8 points, 30 high) at 100.
std::vector<double> spectrum() {
  std::vector<double> y;
  for (int i = 0; i < 200; ++i) {
    const double noise = std::sin(i * 12.9898) * std::cos(i * 4.1414);
    const double t = (i - 100) / 8.0;
    y.push_back(50 + noise + 30 * std::exp(-4 * std::log(2.0) * t * t));
  }
  return y;
}

struct SpikeCase {
  const char* name;
  std::vector<std::pair<int, double>> planted;  // index, height added
  double threshold;
  std::size_t width;
  std::set<std::size_t> expected;  // the points replaced
  bool narrowPeaks = false;        // real peaks 3 to 4 points wide added
};

/// Narrow real peaks, some centred between two points.
void addNarrowPeaks(std::vector<double>& y) {
  for (std::size_t i = 0; i < y.size(); ++i) {
    const double x = static_cast<double>(i);
    y[i] += 300 * std::exp(-4 * std::log(2.0) * std::pow((x - 30) / 3, 2)) +
            120 / (1 + 4 * std::pow((x - 60.5) / 3, 2)) +
            60 * std::exp(-4 * std::log(2.0) * std::pow((x - 140) / 4, 2)) +
            500 * std::exp(-4 * std::log(2.0) * std::pow((x - 165.5) / 3.5, 2));
  }
}

TEST(Despike, ReplacesPlantedSpikesAndNothingElse) {
  const std::vector<SpikeCase> cases = {
      {"one-point spike beside the peak", {{90, 400}}, 8, 3, {90}},
      {"spikes next to the ends", {{1, 400}, {198, -300}}, 8, 3, {1, 198}},
      {"two-point spike beside the peak", {{112, 300}, {113, 300}}, 8, 3, {112, 113}},
      {"both, and a negative one",
       {{60, 500}, {90, 400}, {112, 300}, {113, 300}, {150, -200}},
       8,
       3,
       {60, 90, 112, 113, 150}},
      {"two-point spike with too small a width: two steps", {{112, 300}, {113, 300}}, 8, 1, {}},
      {"width 1 takes one-point spikes", {{60, 500}, {150, -200}}, 8, 1, {60, 150}},
      {"spikes on the first and the last point", {{0, 400}, {199, 300}}, 8, 1, {0, 199}},
      {"two-point spikes at the ends",
       {{0, 400}, {1, 380}, {198, 300}, {199, 320}},
       8,
       2,
       {0, 1, 198, 199}},
      {"a step is no spike", {}, 8, 3, {}},
      {"threshold above the spike", {{90, 40}}, 200, 3, {}},
      {"narrow real peaks stay", {}, 8, 2, {}, true},
      {"narrow real peaks stay, spikes go",
       {{0, 300}, {80, 400}, {120, 250}, {121, 260}, {199, 200}},
       8,
       2,
       {0, 80, 120, 121, 199},
       true},
      {"narrow real peaks stay at a larger width too", {{80, 400}}, 6, 3, {80}, true},
  };
  for (const SpikeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> y = spectrum();
    if (std::string(c.name) == "a step is no spike")
      for (std::size_t i = 150; i < y.size(); ++i) y[i] += 300;
    if (c.narrowPeaks) addNarrowPeaks(y);
    for (auto [i, h] : c.planted) y[static_cast<std::size_t>(i)] += h;
    const std::vector<double> original = y;
    const std::vector<std::size_t> found = spikePoints(y, c.threshold, c.width);
    EXPECT_EQ(std::set<std::size_t>(found.begin(), found.end()), c.expected);
    const std::size_t replaced = despikeValues(y, c.threshold, c.width);
    EXPECT_EQ(replaced, c.expected.size());
    for (std::size_t i = 0; i < y.size(); ++i) {
      if (!c.expected.count(i)) {
        EXPECT_EQ(y[i], original[i]) << i;  // bit for bit
        continue;
      }
      double sum = 0;
      int n = 0;
      for (std::size_t j = i >= c.width ? i - c.width : 0; j <= std::min(i + c.width, y.size() - 1);
           ++j)
        if (!c.expected.count(j)) sum += original[j], ++n;
      EXPECT_DOUBLE_EQ(y[i], sum / n) << i;
    }
  }
}

TEST(Despike, EqualDifferencesFlagEveryOtherOne) {
  // A straight line: the median absolute deviation is 0, so every
  // difference that is not the median's counts.
  std::vector<double> y;
  for (int i = 0; i < 20; ++i) y.push_back(2.0 * i);
  y[7] = 100;
  EXPECT_EQ(despikeValues(y, 5, 2), 1u);
  EXPECT_DOUBLE_EQ(y[7], (10 + 12 + 16 + 18) / 4.0);
  std::vector<double> flat(10, 3.0);
  EXPECT_EQ(despikeValues(flat, 5, 2), 0u);
  std::vector<double> two = {1, 100};
  EXPECT_EQ(despikeValues(two, 5, 2), 0u);
}

TEST(Despike, GraphsAreUndoableAndBadParametersRefused) {
  GraphStore store;
  std::vector<Point> pts;
  const std::vector<double> y = spectrum();
  for (std::size_t i = 0; i < y.size(); ++i) pts.push_back({static_cast<double>(i), y[i]});
  pts[90].y += 400;
  test::addGraph(store, "s", pts);
  EXPECT_EQ(despikeGraphs(store, {0}, 8, 3), 1u);
  EXPECT_LT(store.series(0).maxY(), 90);  // the cached range follows
  EXPECT_TRUE(store.undoEnabled());
  store.restoreUndoCopies();
  EXPECT_EQ(store.series(0).points(), pts);
  for (auto [threshold, width, message] :
       {std::tuple{0.0, 3LL, "The spike threshold must be a number above 0, not 0"},
        std::tuple{std::nan(""), 3LL, "The spike threshold must be a number above 0, not nan"},
        std::tuple{5.0, 0LL, "The spike width must be a whole number from 1 to 10000"},
        std::tuple{5.0, 10001LL, "The spike width must be a whole number from 1 to 10000"}}) {
    try {
      checkDespikeParameters(threshold, width);
      ADD_FAILURE() << message;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
}

}  // namespace
}  // namespace varnix
