#include "fit/peak_finding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace varnix {
namespace {

std::vector<Point> line(std::initializer_list<double> ys) {
  std::vector<Point> out;
  double x = 0;
  for (double y : ys) out.push_back({x++, y});
  return out;
}

TEST(PeakFinding, ProminenceIsTheHeightAboveTheHigherSaddle) {
  // The peak of 5 is walled in by the 10 on its right: its base is the
  // higher of the lowest points on either side (0 on the left, 2 between).
  const std::vector<PeakGuess> peaks = findPeaks(line({0, 5, 2, 10, 0}), 0);
  ASSERT_EQ(peaks.size(), 2u);
  EXPECT_EQ(peaks[0].index, 1u);
  EXPECT_DOUBLE_EQ(peaks[0].prominence, 3);
  EXPECT_DOUBLE_EQ(peaks[0].base, 2);
  EXPECT_EQ(peaks[1].index, 3u);
  EXPECT_DOUBLE_EQ(peaks[1].prominence, 10);
  // The threshold: only the big one.
  ASSERT_EQ(findPeaks(line({0, 5, 2, 10, 0}), 4).size(), 1u);
  // A flat top counts once, at its middle; ends are no peaks.
  const std::vector<PeakGuess> flat = findPeaks(line({9, 1, 4, 4, 4, 1, 3}), 0);
  ASSERT_EQ(flat.size(), 1u);
  EXPECT_EQ(flat[0].index, 3u);
  EXPECT_TRUE(findPeaks(line({1, 2}), 0).empty());
}

TEST(PeakFinding, GaussianPeaksGiveTheirCentreHeightAndWidth) {
  struct Peak {
    double h, c, w;
  };
  const Peak truth[] = {{100, 20, 2}, {40, 50, 4}, {70, 80, 1.5}};
  std::vector<Point> pts;
  for (int i = 0; i <= 10000; ++i) {
    const double x = i * 0.01;
    double y = 5;
    for (const Peak& p : truth)
      y += p.h * std::exp(-4 * std::log(2.0) * std::pow((x - p.c) / p.w, 2));
    y += 0.5 * std::exp(-std::pow((x - 65) / 0.5, 2));  // a bump below the threshold
    pts.push_back({x, y});
  }
  const std::vector<PeakGuess> found = findPeaks(pts, 10);
  ASSERT_EQ(found.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    EXPECT_NEAR(found[k].centre, truth[k].c, 1e-9);
    EXPECT_NEAR(found[k].height, truth[k].h, 1e-3 * truth[k].h);
    EXPECT_NEAR(found[k].fwhm, truth[k].w, 1e-3 * truth[k].w);
  }
  // A click on the flank of the second peak climbs to its top.
  const std::optional<PeakGuess> g = guessPeak(pts, 48.7);
  ASSERT_TRUE(g);
  EXPECT_NEAR(g->centre, 50, 1e-9);
  EXPECT_NEAR(g->fwhm, 4, 4e-3);
}

TEST(PeakFinding, GuessNeedsAPeak) {
  EXPECT_FALSE(guessPeak(line({1, 2}), 0));
  EXPECT_FALSE(guessPeak(line({3, 3, 3, 3}), 1));
  EXPECT_FALSE(guessPeak(line({1, 2, 3}), std::nan("")));
  // A top at the end of the data has one side only.
  const std::optional<PeakGuess> edge = guessPeak(line({0, 1, 2, 3}), 1);
  ASSERT_TRUE(edge);
  EXPECT_EQ(edge->index, 3u);
  EXPECT_DOUBLE_EQ(edge->height, 3);
  // A coarse peak: the half-height crossings are interpolated on the segments
  // that cross it (x = 7/3 and 11/3, so FWHM 4/3).
  const std::optional<PeakGuess> coarse = guessPeak(line({0, 0.5, 1, 4, 1, 0.5, 0}), 3);
  ASSERT_TRUE(coarse);
  EXPECT_NEAR(coarse->fwhm, 4.0 / 3, 1e-12);
  // Heights far below 1 (absorbance, normalised data) are peaks all the same.
  const std::optional<PeakGuess> small = guessPeak(line({0, 1e-4, 3e-4, 1e-4, 0}), 2);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->index, 2u);
  EXPECT_NEAR(small->height, 3e-4, 1e-12);
}

}  // namespace
}  // namespace varnix
