#include "fit/fit_commands.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "workspace/error.h"
#include "workspace/number_text.h"

namespace varnix {

std::vector<const FitRow*> FitTable::convergedRows() const {
  std::vector<const FitRow*> out;
  for (const FitRow& r : rows)
    if (r.result.converged) out.push_back(&r);
  return out;
}

void readParameterArgument(const FitModel& model, std::string_view text, FitSettings& settings) {
  const std::string shown(text);
  const std::string usage =
      "Not a parameter start: " + shown + " (write NAME=START or NAME=START:LOW:HIGH)";
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos || eq == 0) throw Error(usage);
  const std::string name(text.substr(0, eq));
  const std::optional<std::size_t> index = model.parameterIndex(name);
  if (!index) throw Error(name + " is not a parameter of the formula " + model.formula());
  settings.parameters.resize(model.parameters().size());
  ParameterSetting& s = settings.parameters[*index];
  if (s.start) throw Error("The start of " + name + " is given twice");
  std::vector<std::string_view> fields;
  std::string_view rest = text.substr(eq + 1);
  for (;;) {
    const std::size_t colon = rest.find(':');
    fields.push_back(rest.substr(0, colon));
    if (colon == std::string_view::npos) break;
    rest = rest.substr(colon + 1);
  }
  if (fields.size() != 1 && fields.size() != 3) throw Error(usage);
  auto number = [&](std::string_view field, const char* what) {
    const std::optional<double> v = readNumber(field);
    if (!v) throw Error("The " + std::string(what) + " of " + name + " is not a number: " + shown);
    return *v;
  };
  ParameterSetting parsed;
  parsed.start = number(fields[0], "start");
  if (fields.size() == 3) {
    if (!fields[1].empty()) parsed.lower = number(fields[1], "lower bound");
    if (!fields[2].empty()) parsed.upper = number(fields[2], "upper bound");
    parsed.fixed = parsed.lower == parsed.upper;
  }
  s = parsed;
}

std::string parameterArgumentText(const std::string& name, const ParameterSetting& setting) {
  std::string out = name + "=" + formatShortest(setting.start.value_or(0));
  const bool lower = std::isfinite(setting.lower), upper = std::isfinite(setting.upper);
  if (setting.fixed)
    out += ":" + formatShortest(setting.start.value_or(0)) + ":" +
           formatShortest(setting.start.value_or(0));
  else if (lower || upper)
    out += ":" + (lower ? formatShortest(setting.lower) : std::string()) + ":" +
           (upper ? formatShortest(setting.upper) : std::string());
  return out;
}

FitTable fitGraphs(const GraphStore& store, const std::vector<std::size_t>& rows,
                   const std::shared_ptr<const FitModel>& model, const FitSettings& settings,
                   bool chained, const ProgressFn& progress, const std::function<bool()>& cancel) {
  checkFitSettings(*model, settings);
  // Every graph's points are checked before the first fit; the model at the
  // start too where the start is known now.
  std::vector<std::vector<Point>> points;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const std::size_t r = rows[k];
    points.push_back(pointsInRange(store.series(r), settings.x1, settings.x2));
    // A chained graph's start is the result before it: known only then.
    checkFitStart(*model, settings, points.back(), store.graph(r).name, !chained || k == 0);
  }
  FitTable table;
  table.model = model;
  table.settings = settings;
  table.chained = chained;
  // One fit; a start this graph's model cannot take (a chained one) is a
  // failure of this graph, told in lower case as the solver's reasons are.
  auto fitFrom = [&](const FitSettings& start, std::size_t k) {
    const std::string& name = store.graph(rows[k]).name;
    try {
      return fitPoints(*model, start, points[k], name);
    } catch (const Error& e) {
      FitResult failed;
      failed.failure = e.what();
      if (!failed.failure.empty() && failed.failure[0] >= 'A' && failed.failure[0] <= 'Z')
        failed.failure[0] = static_cast<char>(failed.failure[0] - 'A' + 'a');
      failed.points = points[k].size();
      failed.chi2 = failed.r2 = std::nan("");
      for (const ParameterSetting& s : start.parameters) {
        failed.values.push_back(*s.start);
        failed.errors.push_back(std::nan(""));
      }
      return failed;
    }
  };
  // How good an end is: a converged fit with errors, a converged one, one
  // that leaves parameters undetermined, a failure; then the lower chi2.
  auto rank = [](const FitResult& r) {
    return r.converged ? (r.errorsDetermined ? 0 : 1) : r.undetermined ? 2 : 3;
  };
  auto better = [&](const FitResult& a, const FitResult& b) {
    return rank(a) < rank(b) || (rank(a) == rank(b) && a.chi2 < b.chi2);
  };
  auto reduced = [](const FitResult& r) {
    return r.dof > 0 ? r.chi2 / static_cast<double>(r.dof) : r.chi2;
  };
  // The row the next graph starts from: the last converged fit with
  // determined errors.
  std::optional<std::size_t> from;
  double bestReduced = std::numeric_limits<double>::infinity();
  for (std::size_t k = 0; k < rows.size(); ++k) {
    if (cancel && cancel()) {
      table.cancelled = true;
      break;
    }
    FitRow row;
    row.slot = rows[k];
    row.name = store.graph(rows[k]).name;
    if (chained && from) {
      const FitResult& before = table.rows[*from].result;
      FitSettings start = settings;
      for (std::size_t i = 0; i < start.parameters.size(); ++i)
        start.parameters[i].start = before.values[i];
      row.result = fitFrom(start, k);
      row.startSlot = table.rows[*from].slot;
      // A chained end that is no good, or far worse than the best fit of
      // the series so far, is set against a fit from the given starts: the
      // better stays.
      if (rank(row.result) > 0 || !(reduced(row.result) <= 4 * bestReduced)) {
        FitResult given = fitFrom(settings, k);
        if (better(given, row.result)) {
          row.result = std::move(given);
          row.startSlot.reset();
        }
      }
    } else {
      row.result = fitFrom(settings, k);
    }
    if (chained && rank(row.result) == 0) {
      from = table.rows.size();
      bestReduced = std::min(bestReduced, reduced(row.result));
    }
    table.rows.push_back(std::move(row));
    reportProgress(progress, k + 1, rows.size());
  }
  if (progress) progress(0);
  return table;
}

std::string fitResultLine(const FitTable& table, const FitRow& row) {
  const FitResult& r = row.result;
  std::string out = "fit " + std::to_string(row.slot) + " " + row.name + ":";
  const std::vector<std::string>& names = table.model->parameters();
  for (std::size_t i = 0; i < names.size(); ++i) {
    out += " " + names[i] + "=" + formatShortest(r.values[i]);
    out += " " + names[i] + ".err=" + formatShortest(r.errors[i]);
  }
  out += " chi2=" + formatShortest(r.chi2) + " dof=" + std::to_string(r.dof) +
         " r2=" + formatShortest(r.r2) + " iterations=" + std::to_string(r.iterations);
  if (table.chained)
    out += " start=" + (row.startSlot ? "slot" + std::to_string(*row.startSlot) : "given");
  out += " status=" + fitStatusText(r);
  return out;
}

namespace {

void requireTable(const FitTable& table) {
  if (!table.model) throw Error("There is no fit yet; fit a model first");
}

}  // namespace

std::string fitTableText(const FitTable& table, const SeriesParameter* parameter) {
  requireTable(table);
  std::vector<std::string> names;
  names.reserve(table.rows.size());
  for (const FitRow& r : table.rows) names.push_back(r.name);
  const SeriesParameter digits;
  std::vector<std::string> first = (parameter ? *parameter : digits).valuesOf(names);
  const bool bySlot = !parameter && std::any_of(first.begin(), first.end(),
                                                [](const std::string& v) { return v.empty(); });
  if (bySlot)
    for (std::size_t k = 0; k < table.rows.size(); ++k)
      first[k] = std::to_string(table.rows[k].slot);
  std::string out = bySlot ? "\"slot" : "\"parameter";
  for (const std::string& p : table.model->parameters())
    out.append(" ").append(p).append(" ").append(p).append(".err");
  out += " chi2 r2 status\r\n";
  for (std::size_t k = 0; k < table.rows.size(); ++k) {
    const FitRow& row = table.rows[k];
    const FitResult& r = row.result;
    if (!r.converged) {
      // The reason on a comment line of its own, which no line break in a
      // name may end early.
      std::string comment =
          "\"slot " + std::to_string(row.slot) + " " + row.name + ": " + fitStatusText(r);
      std::replace(comment.begin(), comment.end(), '\r', ' ');
      std::replace(comment.begin(), comment.end(), '\n', ' ');
      out += comment + "\r\n";
    }
    out += first[k];
    for (std::size_t i = 0; i < r.values.size(); ++i)
      out += " " + formatShortest(r.values[i]) + " " + formatShortest(r.errors[i]);
    out += " " + formatShortest(r.chi2) + " " + formatShortest(r.r2) +
           (r.converged      ? " 1"
            : r.undetermined ? " 0"
                             : " -1") +
           "\r\n";
  }
  return out;
}

namespace {

/// "T010K.dat" -> "T010K_fit.dat": the suffix before the extension.
std::string withSuffix(const std::string& name, const std::string& suffix) {
  const std::size_t slash = name.find_last_of('/');
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == 0)
    return name + suffix;
  return name.substr(0, dot) + suffix + name.substr(dot);
}

/// Adds, per converged row, `perRow` graphs: the k-th has the suffix
/// suffixOf(k) and, at the row's points within the fit range, the y values
/// valuesOf(row, points, k). Every curve is made first, so that a failure
/// adds nothing.
std::vector<std::size_t> addCurves(
    GraphStore& store, const FitTable& table, std::size_t perRow,
    const std::function<std::string(std::size_t)>& suffixOf,
    const std::function<std::vector<double>(const FitRow&, const std::vector<Point>&, std::size_t)>&
        valuesOf) {
  requireTable(table);
  const std::vector<const FitRow*> rows = table.convergedRows();
  for (const FitRow* r : rows)
    if (r->slot >= store.count() || store.graph(r->slot).name != r->name)
      throw Error("The graph " + r->name + " of the last fit is no longer in slot " +
                  std::to_string(r->slot));
  const std::size_t count = rows.size() * perRow;
  if (store.count() + count > GraphStore::kMaxGraphs)
    throw Error("Cannot add " + std::to_string(count) + " graphs: only " +
                std::to_string(GraphStore::kMaxGraphs - store.count()) + " of " +
                std::to_string(GraphStore::kMaxGraphs) + " graph slots are free");
  std::vector<std::vector<Point>> curves;
  for (const FitRow* r : rows) {
    const std::vector<Point> pts =
        pointsInRange(store.series(r->slot), table.settings.x1, table.settings.x2);
    for (std::size_t k = 0; k < perRow; ++k) {
      const std::vector<double> y = valuesOf(*r, pts, k);
      std::vector<Point> curve = pts;
      for (std::size_t j = 0; j < curve.size(); ++j) curve[j].y = y[j];
      curves.push_back(std::move(curve));
    }
  }
  std::vector<std::size_t> added;
  for (std::size_t c = 0; c < curves.size(); ++c) {
    const Graph& source = store.graph(rows[c / perRow]->slot);
    const std::string name = withSuffix(source.name, suffixOf(c % perRow));
    const std::size_t slash = source.path.find_last_of('/');
    const std::string path =
        slash == std::string::npos ? name : source.path.substr(0, slash + 1) + name;
    Graph& g = store.append(name, path);
    g.series.assignSorted(std::move(curves[c]));
    added.push_back(store.count() - 1);
  }
  return added;
}

}  // namespace

std::vector<std::size_t> addFitGraphs(GraphStore& store, const FitTable& table, bool residual) {
  return addCurves(
      store, table, 1, [&](std::size_t) { return residual ? "_residual" : "_fit"; },
      [&](const FitRow& r, const std::vector<Point>& pts, std::size_t) {
        std::vector<double> y = modelValues(*table.model, r.result.values, pts);
        if (residual)
          for (std::size_t j = 0; j < pts.size(); ++j) y[j] = pts[j].y - y[j];
        return y;
      });
}

std::vector<std::size_t> addFitComponentGraphs(GraphStore& store, const FitTable& table,
                                               const std::vector<std::string>& parts) {
  requireTable(table);
  std::string joined;
  for (const std::string& p : parts) joined += (joined.empty() ? "" : " + ") + p;
  if (parts.size() < 2 || joined != table.model->formula())
    throw Error("The last fit was not made of these components");
  std::vector<FitModel> models;
  std::vector<std::vector<std::size_t>> indices;  // each part's parameters in the fit's
  for (const std::string& p : parts) {
    models.emplace_back(p);
    std::vector<std::size_t> in;
    for (const std::string& n : models.back().parameters()) {
      const std::optional<std::size_t> i = table.model->parameterIndex(n);
      if (!i) throw Error("The last fit was not made of these components");
      in.push_back(*i);
    }
    indices.push_back(std::move(in));
  }
  return addCurves(
      store, table, parts.size(), [](std::size_t k) { return "_part" + std::to_string(k + 1); },
      [&](const FitRow& r, const std::vector<Point>& pts, std::size_t k) {
        std::vector<double> values;
        for (std::size_t i : indices[k]) values.push_back(r.result.values[i]);
        return modelValues(models[k], values, pts);
      });
}

}  // namespace varnix
