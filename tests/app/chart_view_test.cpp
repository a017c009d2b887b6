#include "view/chart_view.h"

#include <gtest/gtest.h>

#include <cmath>

namespace varnix {
namespace {

using Axis = ChartView::Axis;

struct Range {
  double min, max;
};

Range rangeOf(const ChartView& c, Axis a) {
  return {c.axisMin(a), c.axisMax(a)};
}

TEST(ChartViewZoom, ZoomOutAndInMoveTheMaximumThenTheMinimum) {
  ChartView c;
  c.resize(800, 600);
  struct Case {
    double min, max;
    long double factor;
  };
  for (const Case& k : {Case{0, 10, 0.1L}, Case{-4, 6, -0.1L}, Case{1.5, 2.5, 0.1L}}) {
    for (Axis a : {Axis::Left, Axis::Bottom}) {
      c.setAxisAutomatic(a, false);
      c.setAxisMin(a, k.min);
      c.setAxisMax(a, k.max);
    }
    c.zoomBy(k.factor);
    // The new maximum, then the minimum measured from it.
    const long double max = k.max + std::fabs(static_cast<long double>(k.max) - k.min) * k.factor;
    const long double min =
        k.min - std::fabs(static_cast<long double>(static_cast<double>(max)) - k.min) * k.factor;
    for (Axis a : {Axis::Left, Axis::Bottom}) {
      EXPECT_FALSE(c.axisAutomatic(a));
      EXPECT_EQ(rangeOf(c, a).max, static_cast<double>(max)) << k.min << " " << k.max;
      EXPECT_EQ(rangeOf(c, a).min, static_cast<double>(min)) << k.min << " " << k.max;
    }
  }
}

TEST(ChartViewZoom, YScaleMovesOnlyTheLeftMaximum) {
  ChartView c;
  c.resize(800, 600);
  c.setAxisAutomatic(Axis::Bottom, false);
  c.setAxisMin(Axis::Bottom, 0);
  c.setAxisMax(Axis::Bottom, 1);
  c.setAxisAutomatic(Axis::Left, false);
  c.setAxisMax(Axis::Left, 10);
  c.setAxisMin(Axis::Left, 2);
  c.scaleYMaximum(-0.5L);  // Increase Y scale: 10 - 8 / 2
  EXPECT_FALSE(c.axisAutomatic(Axis::Left));
  EXPECT_EQ(rangeOf(c, Axis::Left).max, 6);
  EXPECT_EQ(rangeOf(c, Axis::Left).min, 2);
  c.scaleYMaximum(0.5L);  // Decrease Y scale: 6 + 4 / 2
  EXPECT_EQ(rangeOf(c, Axis::Left).max, 8);
  EXPECT_EQ(rangeOf(c, Axis::Bottom).max, 1);
}

TEST(ChartViewZoom, BetweenColumnsInEitherOrder) {
  ChartView c;
  c.resize(800, 600);
  c.setAxisAutomatic(Axis::Bottom, false);
  c.setAxisMin(Axis::Bottom, 0);
  c.setAxisMax(Axis::Bottom, 100);
  const QRect r = c.plotRect();
  const int a = r.left() + r.width() / 4, b = r.left() + r.width() / 2;
  const double xa = c.xAtColumn(a), xb = c.xAtColumn(b);
  c.zoomToColumns(b, a);
  EXPECT_EQ(rangeOf(c, Axis::Bottom).min, xa);
  EXPECT_EQ(rangeOf(c, Axis::Bottom).max, xb);
}

}  // namespace
}  // namespace varnix
