#include "processing/slicer.h"

#include <cerrno>
#include <charconv>
#include <cmath>

#include "processing/series_parameter.h"
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

std::string sliceFileName(const SlicerFields& f, double p, int decimals) {
  std::string count;
  if (decimals <= 0) {
    const double rounded = std::nearbyint(p);
    if (!(std::fabs(rounded) < 9.2e18)) throwFloatFault(FloatFault::InvalidOperation);
    count = std::to_string(static_cast<long long>(rounded));
  } else {
    if (!std::isfinite(p)) throwFloatFault(FloatFault::InvalidOperation);
    // The exact decimal value of p rounded half to even at that many
    // decimals; a value that rounds to zero is written without a sign.
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, p, std::chars_format::fixed, decimals);
    count.assign(buf, r.ptr);
    if (count[0] == '-' && count.find_first_not_of("-0.") == std::string::npos) count.erase(0, 1);
  }
  return f.directory + "/" + f.prefix + count + f.suffix + ".Dat";
}

std::string sliceText(const GraphStore& store, const std::vector<std::string>& values, double p,
                      double w) {
  std::string out;
  for (std::size_t i = 0; i < store.count(); ++i) {
    out += values[i];
    out += ' ';
    out += formatDataNumber(sliceValue(store.series(i), p, w));
    out += "\r\n";
  }
  return out;
}

namespace {

/// Windows written at the most by one run; more means a step far too small
/// for the range (each window is a file).
constexpr std::size_t kMaxSlices = 1000000;

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
  const double decimalsValue = readLeadingNumber(f.decimals);
  if (!(decimalsValue >= 0 && decimalsValue <= kMaxSliceDecimals) ||
      decimalsValue != std::floor(decimalsValue)) {
    if (message)
      message("Decimals in file names must be a whole number from 0 to " +
              std::to_string(kMaxSliceDecimals) + "; no slices were written");
    return {};
  }
  const int decimals = static_cast<int>(decimalsValue);
  // Walk the window starts first, with the same additions the run makes:
  // every start must move on from the one before, or the run never ends.
  std::size_t windows = 0;
  for (double p = start;;) {
    if (++windows > kMaxSlices) {
      if (message)
        message("The interval is too small for the range from " + formatDataNumber(start) + " to " +
                formatDataNumber(end) + "; no slices were written");
      return {};
    }
    const double next = p + step;
    if (next >= end) break;
    if (!(next > p)) {
      if (message)
        message("The interval is too small to move on from " + formatDataNumber(p) +
                "; no slices were written");
      return {};
    }
    p = next;
  }
  // The graphs' Values, checked before anything is written.
  std::vector<std::string> names;
  for (std::size_t i = 0; i < store.count(); ++i) names.push_back(store.graph(i).name);
  const std::vector<std::string> values = SeriesParameter(f.parameter).valuesOf(names);
  std::vector<std::string> written;
  double p = start;
  do {
    const std::string name = sliceFileName(f, p, decimals);
    const WriteResult r = writeFileAtomically(name, sliceText(store, values, p, step));
    if (!r.notice.empty() && message) message(r.notice);
    if (!r.ok) {
      // A name that leads nowhere, or the system's reason (a full disk, a
      // read-only file or file system, a folder in the way).
      const int e = r.errorNumber;
      throw Error(e == ENOENT || e == ENOTDIR || e == ENAMETOOLONG ? "Invalid filename"
                                                                   : r.message);
    }
    written.push_back(name);
    p = p + step;
  } while (!(p >= end));
  return written;
}

}  // namespace varnix
