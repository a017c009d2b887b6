#include "workspace/data_file_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "workspace/number_text.h"

namespace varnix {

void writeDataFileContent(const Graph& g, ContentSink& out) {
  for (const std::string& c : g.comments) {
    if (c.empty()) continue;
    if (c[0] != '"') out.append("\"");
    out.append(c);
    out.append("\r\n");
  }
  // Two numbers of at most 32 characters, a space, CR LF.
  constexpr std::size_t kLongestLine = 2 * 32 + 3;
  for (const Point& p : g.series.points()) {
    char* end = out.room(kLongestLine);
    end = formatDataNumberTo(end, p.x, 7);
    *end++ = ' ';
    end = formatDataNumberTo(end, p.y, 7);
    *end++ = '\r';
    *end++ = '\n';
    out.commit(end);
  }
}

std::string dataFileText(const Graph& g) {
  return producedText([&g](ContentSink& out) { writeDataFileContent(g, out); });
}

WriteResult writeDataFile(const std::string& path, const Graph& g, WriteMode mode) {
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
  return writeFileAtomically(
      path, [&g](ContentSink& out) { writeDataFileContent(g, out); }, mode);
}

namespace {

bool report(const WriteResult& r, const MessageFn& message, std::size_t* failures) {
  if (!r.notice.empty() && message) message(r.notice);
  if (r.ok) return true;
  if (failures) ++*failures;
  if (message) message(r.message);
  return false;
}

bool writeGraph(const std::string& path, const Graph& g, const MessageFn& message,
                std::size_t* failures, WriteMode mode = WriteMode::Replace) {
  return report(writeDataFile(path, g, mode), message, failures);
}

}  // namespace

bool writeAndReport(const std::string& path, std::string_view content, const MessageFn& message,
                    std::size_t* failures, WriteMode mode) {
  return report(writeFileAtomically(path, content, mode), message, failures);
}

bool saveGraph(const GraphStore& store, std::size_t current, const ConfirmFn& confirm,
               const MessageFn& message, std::size_t* failures) {
  if (store.empty() || current >= store.count()) return false;
  const Graph& g = store.graph(current);
  if (g.createOnSave) return writeGraph(g.path, g, message, failures, WriteMode::CreateNew);
  if (fileExists(g.path)) {
    if (!(confirm && confirm("File already exists. Overwrite?"))) return false;
  } else if (const std::optional<std::string> target = danglingLinkTarget(g.path)) {
    if (!(confirm && confirm(danglingLinkQuestion(g.path, *target)))) return false;
  }
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
    const Graph& g = store.graph(i);
    if (writeGraph(g.path, g, message, failures,
                   g.createOnSave ? WriteMode::CreateNew : WriteMode::Replace) &&
        written)
      written->push_back(i);
    done.push_back(i);
  }
  return done;
}

std::string danglingLinkQuestion(const std::string& link, const std::string& target) {
  return "The link " + link + " points to " + target + ", which does not exist. Create it?";
}

std::string withDefaultExtension(const std::string& path) {
  const std::string name = fileNameOf(path);
  if (name.empty() || name.find('.') != std::string::npos) return path;
  return path + ".dat";
}

}  // namespace varnix
