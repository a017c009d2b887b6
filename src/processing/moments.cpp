#include "processing/moments.h"

#include <cmath>

#include "workspace/data_file_writer.h"
#include "workspace/error.h"
#include "workspace/float_faults.h"
#include "workspace/number_text.h"

namespace varnix {
namespace {

/// One trapezoid term in extended precision, added to the 64-bit sum.
inline double addTerm(double sum, int k, double c, const Point& a, const Point& b) {
  const long double mid = (static_cast<long double>(a.x) + b.x) / 2 - c;
  long double power = 1;
  for (int i = 0; i < k; ++i) power *= mid;
  const long double term = power * (static_cast<long double>(a.y) + b.y) *
                           std::fabs(static_cast<long double>(b.x) - a.x) * 0.5L;
  return static_cast<double>(sum + term);
}

}  // namespace

double momentSum(const Series& s, int k, double c, double L, double W) {
  const std::vector<Point>& p = s.points();
  const std::size_t n = p.size();
  if (n < 2) return 0;
  const double U = L + W;
  double sum = 0;
  if (p[n - 1].x > p[0].x) {
    for (std::size_t i = 1; i < n; ++i) {
      if (p[i].x >= L) sum = addTerm(sum, k, c, p[i - 1], p[i]);
      if (p[i].x > U) break;
    }
  } else {
    for (std::size_t i = n - 1; i >= 1; --i) {
      if (p[i].x >= L) sum = addTerm(sum, k, c, p[i - 1], p[i]);
      if (p[i].x > U) break;
    }
  }
  if (!std::isfinite(sum)) throwFloatFault(FloatFault::Overflow);
  return sum;
}

MomentValues moments(const Series& s, double L, double U, MomentsRow* cells) {
  const double W = U - L;
  MomentValues m;
  m.m0 = momentSum(s, 0, 0, L, W);
  if (cells) cells->m0 = formatDataNumber(m.m0);
  m.m1 = divideExtended(momentSum(s, 1, 0, L, W), m.m0);
  if (cells) cells->m1 = formatDataNumber(m.m1);
  const double variance = divideExtended(momentSum(s, 2, m.m1, L, W), m.m0);
  m.d = checkFunction(std::sqrt(variance), variance);
  if (cells) cells->d = formatDataNumber(m.d);
  const long double q = static_cast<long double>(momentSum(s, 3, m.m1, L, W)) / m.m0;
  m.a = divideExtended(q, static_cast<long double>(m.d) * m.d * m.d);
  if (cells) cells->a = formatDataNumber(m.a);
  return m;
}

namespace {

void rowFor(const Graph& g, double L, double U, std::string value, MomentsRow& row) {
  row.name = g.name;
  row.value = std::move(value);
  moments(g.series, L, U, &row);
}

}  // namespace

std::optional<MomentsRun> calculateMoments(const GraphStore& store, const Selection& sel, double L,
                                           double U, MomentsTable& table,
                                           const SeriesParameter& parameter) {
  MomentsRun run;
  run.lower = L;
  run.upper = U;
  if (store.empty()) return std::nullopt;
  if (sel.rows.size() < 2) {
    if (sel.current >= store.count()) return std::nullopt;
    const Graph& g = store.graph(sel.current);
    rowFor(g, L, U, parameter.valueOf(g.name), run.single);
    return run;
  }
  // Every name gives its Value before the table changes.
  std::vector<std::string> names;
  for (std::size_t g : sel.rows)
    if (g < store.count()) names.push_back(store.graph(g).name);
  std::vector<std::string> values = parameter.valuesOf(names);
  run.isTable = true;
  table.rows.assign(sel.rows.size(), MomentsRow{});
  std::size_t r = 0, v = 0;
  for (std::size_t g : sel.rows) {
    if (g < store.count()) rowFor(store.graph(g), L, U, std::move(values[v++]), table.rows[r]);
    ++r;
  }
  return run;
}

void applySeriesParameter(MomentsTable& table, const SeriesParameter& parameter) {
  std::vector<std::string> names;
  for (const MomentsRow& row : table.rows) names.push_back(row.name);
  std::vector<std::string> values = parameter.valuesOf(names);
  for (std::size_t i = 0; i < table.rows.size(); ++i) table.rows[i].value = std::move(values[i]);
}

void normalizeIntegral(GraphStore& store, const Selection& sel, double L, double U,
                       const ProgressFn& progress) {
  if (store.empty()) {
    store.setUndoEnabled(true);
    return;
  }
  const double W = U - L;
  double target = 0;
  for (std::size_t g : sel.rows) {
    if (g >= store.count()) continue;
    const double e = momentSum(store.series(g), 0, 0, L, W);
    if (e > target) target = e;
  }
  const std::size_t rows = store.count();
  for (std::size_t r = 0; r < rows; ++r) {
    if (sel.isSelected(r)) {
      store.takeUndoCopy(r);
      Series& s = store.series(r);
      const double e = momentSum(s, 0, 0, L, W);
      const double f = divideExtended(target, e);
      for (Point& p : s.points()) p.y = checkArith(p.y * f, p.y, f);
      s.recomputeYRange();
    }
    reportProgress(progress, r + 1, rows);
  }
  if (progress) progress(0);
  store.setUndoEnabled(true);
}

std::string momentFileText(const MomentsTable& table, int order) {
  std::string out;
  for (const MomentsRow& row : table.rows) {
    const std::string* cell = order == 0   ? &row.m0
                              : order == 1 ? &row.m1
                              : order == 2 ? &row.d
                                           : &row.a;
    out += row.value;
    out += ' ';
    out += *cell;
    out += "\r\n";
  }
  return out;
}

void saveMomentFile(const MomentsTable& table, int order, const std::string& path,
                    const std::function<void(const std::string&)>& message, std::size_t* failures) {
  if (table.rows.empty())
    throw Error("There is no moments table to save; calculate the moments of several graphs first");
  writeAndReport(path, momentFileText(table, order), message, failures);
}

std::pair<Series, Series> momentsPreview(const MomentsTable& table) {
  std::pair<Series, Series> out;  // first: M0 (lower chart), second: M1 (upper chart)
  for (const MomentsRow& row : table.rows) {
    const double v = readLeadingNumber(row.value);
    out.first.addPoint(v, readLeadingNumber(row.m0));
    out.second.addPoint(v, readLeadingNumber(row.m1));
  }
  return out;
}

}  // namespace varnix
