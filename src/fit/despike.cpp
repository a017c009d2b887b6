#include "fit/despike.h"

#include <algorithm>
#include <cmath>

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
  std::vector<std::size_t> flagged;
  for (std::size_t i = 0; i < m; ++i) {
    const bool outlier = mad > 0 ? std::fabs(0.6745 * (d[i] - med) / mad) > threshold : d[i] != med;
    if (outlier) flagged.push_back(i);
  }
  // Runs of flagged differences, each closer than width to the one before.
  for (std::size_t a = 0; a < flagged.size();) {
    std::size_t b = a;
    while (b + 1 < flagged.size() && flagged[b + 1] - flagged[b] < width) ++b;
    // Differences first..last enclose the points first+1 .. last.
    for (std::size_t p = flagged[a] + 1; p <= flagged[b]; ++p) spikes.push_back(p);
    a = b + 1;
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
