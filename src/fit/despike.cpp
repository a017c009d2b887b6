#include "fit/despike.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "workspace/error.h"
#include "workspace/number_text.h"

namespace varnix {
namespace {

/// The median of the values (which it reorders); the mean of the middle two
/// for an even count.
double median(std::vector<double>& v) {
  const std::size_t n = v.size(), mid = n / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<long>(mid), v.end());
  const double upper = v[mid];
  if (n % 2) return upper;
  const double lower = *std::max_element(v.begin(), v.begin() + static_cast<long>(mid));
  return lower / 2 + upper / 2;
}

}  // namespace

void checkDespikeParameters(double threshold, long long width) {
  if (!(threshold > 0) || !std::isfinite(threshold))
    throw Error("The spike threshold must be a number above 0, not " + formatShortest(threshold));
  if (width < 1 || width > kMaxDespikeWidth)
    throw Error("The spike width must be a whole number from 1 to " +
                std::to_string(kMaxDespikeWidth));
}

std::vector<std::size_t> spikePoints(std::span<const double> y, double threshold,
                                     std::size_t width) {
  std::vector<std::size_t> spikes;
  if (y.size() < 3) return spikes;
  const std::size_t m = y.size() - 1;
  std::vector<double> d(m);
  for (std::size_t i = 0; i < m; ++i) d[i] = y[i + 1] - y[i];
  std::vector<double> work = d;
  const double med = median(work);
  for (std::size_t i = 0; i < m; ++i) work[i] = std::fabs(d[i] - med);
  const double mad = median(work);
  // |z| of each difference; with MAD = 0 every difference off the median is
  // an outlier.
  std::vector<double> z(m);
  for (std::size_t i = 0; i < m; ++i)
    z[i] = mad > 0       ? std::fabs(0.6745 * (d[i] - med) / mad)
           : d[i] != med ? std::numeric_limits<double>::infinity()
                         : 0.0;
  std::vector<std::size_t> flagged;
  for (std::size_t i = 0; i < m; ++i)
    if (z[i] > threshold) flagged.push_back(i);
  for (std::size_t k = 0; k < flagged.size();) {
    // A run: flagged differences at most width apart, widened by the
    // differences beside it above half the threshold (the flanks of a real
    // peak rise gradually, those of a spike do not).
    const bool first = k == 0;
    std::size_t last = k;
    while (last + 1 < flagged.size() && flagged[last + 1] - flagged[last] <= width) ++last;
    std::size_t a = flagged[k], b = flagged[last];
    while (a > 0 && z[a - 1] > threshold / 2) --a;
    while (b + 1 < m && z[b + 1] > threshold / 2) ++b;
    k = last + 1;
    while (k < flagged.size() && flagged[k] <= b) ++k;
    // Differences a..b enclose the points a+1 .. b: a spike when at most
    // width wide and back down (or up) again at its end. Otherwise, within
    // width points of an end of the curve, the points up to that end are a
    // spike that never comes back; elsewhere the run is a step or a peak.
    if (a < b && b - a <= width && (d[a] - med) * (d[b] - med) < 0)
      for (std::size_t p = a + 1; p <= b; ++p) spikes.push_back(p);
    else if (first && b + 1 <= width)
      for (std::size_t p = 0; p <= b; ++p) spikes.push_back(p);
    else if (k == flagged.size() && m - a <= width)
      for (std::size_t p = a + 1; p <= m; ++p) spikes.push_back(p);
  }
  return spikes;
}

std::size_t despikeValues(std::vector<double>& y, double threshold, std::size_t width) {
  const std::vector<std::size_t> spikes = spikePoints(y, threshold, width);
  if (spikes.empty()) return 0;
  std::vector<bool> isSpike(y.size(), false);
  for (std::size_t s : spikes) isSpike[s] = true;
  const std::vector<double> original = y;
  std::size_t replaced = 0;
  for (std::size_t s : spikes) {
    const std::size_t from = s >= width ? s - width : 0;
    const std::size_t to = std::min(y.size() - 1, s + width);
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t j = from; j <= to; ++j)
      if (!isSpike[j]) {
        sum += original[j];
        ++count;
      }
    if (count == 0) continue;
    y[s] = sum / static_cast<double>(count);
    ++replaced;
  }
  return replaced;
}

std::size_t despikeGraphs(GraphStore& store, const std::vector<std::size_t>& rows, double threshold,
                          std::size_t width) {
  checkDespikeParameters(threshold, static_cast<long long>(width));
  std::size_t replaced = 0;
  for (std::size_t r : rows) {
    store.takeUndoCopy(r);
    std::vector<Point>& points = store.series(r).points();
    std::vector<double> y;
    y.reserve(points.size());
    for (const Point& p : points) y.push_back(p.y);
    const std::size_t n = despikeValues(y, threshold, width);
    if (n == 0) continue;
    for (std::size_t j = 0; j < points.size(); ++j) points[j].y = y[j];
    store.series(r).recomputeYRange();
    replaced += n;
  }
  store.setUndoEnabled(true);
  return replaced;
}

}  // namespace varnix
