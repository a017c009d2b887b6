#include "processing/slicer.h"

#include <cerrno>
#include <cmath>

#include "workspace/error.h"
#include "workspace/file_io.h"
#include "workspace/float_faults.h"
#include "workspace/number_text.h"

namespace varnix {

double sliceValue(const Series& s, double p, double w) {
  const std::vector<Point>& pt = s.points();
  const std::size_t n = pt.size();
  if (n < 2) return 0;
  const double end = p + w;
  double sum = 0;
  for (std::size_t i = 1; i < n; ++i) {
    if (pt[i].x >= p) {
      const long double term = (static_cast<long double>(pt[i - 1].y) + pt[i].y) *
                               std::fabs(static_cast<long double>(pt[i].x) - pt[i - 1].x) * 0.5L;
      sum = static_cast<double>(sum + term);
    }
    if (pt[i].x > end) break;
  }
  if (!std::isfinite(sum)) throwFloatFault(FloatFault::Overflow);
  return sum;
}

std::string sliceFileName(const SlicerFields& f, double p) {
  const double rounded = std::nearbyint(p);
  if (!(std::fabs(rounded) < 9.2e18)) throwFloatFault(FloatFault::InvalidOperation);
  return f.directory + "/" + f.prefix + std::to_string(static_cast<long long>(rounded)) + f.suffix +
         ".Dat";
}

std::string sliceText(const GraphStore& store, double p, double w) {
  std::string out;
  for (std::size_t i = 0; i < store.count(); ++i) {
    out += digitsOf(store.graph(i).name);
    out += ' ';
    out += formatDataNumber(sliceValue(store.series(i), p, w));
    out += "\r\n";
  }
  return out;
}

namespace {

/// Windows written at the most by one run; more means a step far too small
/// for the range (each window is a file).
constexpr double kMaxSlices = 1e6;

}  // namespace

std::vector<std::string> sliceGraphs(const GraphStore& store, const SlicerFields& f,
                                     const MessageFn& message) {
  const double start = readLeadingNumber(f.from);
  const double end = readLeadingNumber(f.to);
  const double step = readLeadingNumber(f.step);
  if (!(step > 0)) {
    if (message) message("The interval must be greater than 0; no slices were written");
    return {};
  }
  if (start + step == start || (end - start) / step > kMaxSlices) {
    if (message)
      message("The interval is too small for the range from " + formatDataNumber(start) + " to " +
              formatDataNumber(end) + "; no slices were written");
    return {};
  }
  std::vector<std::string> written;
  double p = start;
  do {
    const std::string name = sliceFileName(f, p);
    WriteResult r = writeFileAtomically(name, sliceText(store, p, step));
    if (!r.ok) {
      const int e = r.errorNumber;
      throw Error(e == ENOENT || e == ENOTDIR || e == ENAMETOOLONG || e == EINVAL
                      ? "Invalid filename"
                      : "File access denied");
    }
    written.push_back(name);
    p = p + step;
  } while (!(p >= end));
  return written;
}

}  // namespace varnix
