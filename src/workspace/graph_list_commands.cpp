#include "workspace/graph_list_commands.h"

namespace varnix {

std::string highlightGraph(GraphStore& store, std::size_t current) {
  if (store.empty() || current >= store.count()) return {};
  store.highlight(current);
  return store.graph(current).name + " highlighted";
}

std::string renamedPath(const std::string& oldPath, const std::string& newName) {
  const auto pos = oldPath.rfind('/');
  std::string dir;
  if (pos != std::string::npos) {
    dir = oldPath.substr(0, pos);
    // A separator that follows another one (or stands first) stays.
    if (dir.empty() || dir.back() == '/') dir += '/';
  }
  return dir + "/" + newName;
}

void renameGraph(GraphStore& store, std::size_t current, const std::string& newName) {
  if (store.empty() || current >= store.count()) return;
  Graph& g = store.graph(current);
  g.path = renamedPath(g.path, newName);
  g.name = newName;
  g.createOnSave = false;  // a name the user chose
}

std::string deleteGraph(GraphStore& store, std::size_t current) {
  if (store.empty() || current >= store.count()) return {};
  std::string info = " " + store.graph(current).name + " deleted from memory";
  store.setUndoEnabled(false);
  store.removeGraphSlot(current);
  return info;
}

std::optional<std::string> deleteAllGraphs(GraphStore& store, const ConfirmFn& confirm) {
  if (store.empty()) return std::nullopt;
  if (!(confirm && confirm("Remove all data? (Unsaved changes will be lost)"))) return std::nullopt;
  for (std::size_t i = store.count(); i-- > 0;) store.removeGraphSlot(i);
  return "No Data loaded";
}

}  // namespace varnix
