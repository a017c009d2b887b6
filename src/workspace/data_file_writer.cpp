#include "workspace/data_file_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "workspace/number_text.h"

namespace varnix {

std::string dataFileText(const Graph& g) {
  std::string out;
  out.reserve(g.series.count() * 24 + 64);
  for (const std::string& c : g.comments) {
    if (c.empty()) continue;
    if (c[0] != '"') out += '"';
    out += c;
    out += "\r\n";
  }
  char line[80];
  for (const Point& p : g.series.points()) {
    char* end = formatDataNumberTo(line, p.x, 7);
    *end++ = ' ';
    end = formatDataNumberTo(end, p.y, 7);
    *end++ = '\r';
    *end++ = '\n';
    out.append(line, end);
  }
  return out;
}

WriteResult writeDataFile(const std::string& path, const Graph& g) {
  // A NAN or INF line would end the reading there: such a file is not
  // written at all.
  const std::vector<Point>& pts = g.series.points();
  if (std::any_of(pts.begin(), pts.end(),
                  [](const Point& p) { return !std::isfinite(p.x) || !std::isfinite(p.y); })) {
    WriteResult refused;
    refused.ok = false;
    refused.errorNumber = EDOM;
    refused.message =
        "Cannot save " + g.name + " to " + path + ": it holds a value that is not a finite number";
    return refused;
  }
  return writeFileAtomically(path, dataFileText(g));
}

namespace {

bool report(const WriteResult& r, const MessageFn& message, std::size_t* failures) {
  if (r.ok) return true;
  if (failures) ++*failures;
  if (message) message(r.message);
  return false;
}

bool writeGraph(const std::string& path, const Graph& g, const MessageFn& message,
                std::size_t* failures) {
  return report(writeDataFile(path, g), message, failures);
}

}  // namespace

bool writeAndReport(const std::string& path, std::string_view content, const MessageFn& message,
                    std::size_t* failures) {
  return report(writeFileAtomically(path, content), message, failures);
}

bool saveGraph(const GraphStore& store, std::size_t current, const ConfirmFn& confirm,
               const MessageFn& message, std::size_t* failures) {
  if (store.empty() || current >= store.count()) return false;
  const Graph& g = store.graph(current);
  if (fileExists(g.path) && !(confirm && confirm("File already exists. Overwrite?"))) return false;
  return writeGraph(g.path, g, message, failures);
}

void saveGraphAs(const GraphStore& store, std::size_t current, const std::string& path,
                 const MessageFn& message, std::size_t* failures) {
  if (store.empty() || current >= store.count()) return;
  writeGraph(path, store.graph(current), message, failures);
}

std::vector<std::size_t> saveSelected(const GraphStore& store,
                                      const std::vector<std::size_t>& selectedRows,
                                      const ConfirmFn& confirm, const MessageFn& message,
                                      std::size_t* failures, std::vector<std::size_t>* written) {
  if (store.empty()) return {};
  if (!(confirm && confirm("This will overwrite existing files!"))) return {};
  std::vector<std::size_t> done;
  for (std::size_t i : selectedRows) {
    if (i >= store.count()) continue;
    if (writeGraph(store.graph(i).path, store.graph(i), message, failures) && written)
      written->push_back(i);
    done.push_back(i);
  }
  return done;
}

std::string withDefaultExtension(const std::string& path) {
  const std::string name = fileNameOf(path);
  if (name.empty() || name.find('.') != std::string::npos) return path;
  return path + ".dat";
}

}  // namespace varnix
