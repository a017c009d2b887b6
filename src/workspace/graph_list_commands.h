#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "workspace/data_file_writer.h"
#include "workspace/graph_store.h"

namespace varnix {

/// Highlight the current graph; returns the information line ("<name>
/// highlighted"), empty when the store is empty.
std::string highlightGraph(GraphStore& store, std::size_t current);

/// The new path of a renamed graph: the old directory part, "/" and the new
/// name. A root directory keeps its separator ("/a.dat" gives "//b.dat");
/// a bare name gives "/" and the name.
std::string renamedPath(const std::string& oldPath, const std::string& newName);

/// Rename: the current graph's name and path change; the file on disk stays.
void renameGraph(GraphStore& store, std::size_t current, const std::string& newName);

/// Delete from list: removes the current graph and disables Undo. Returns
/// the information line (" <name> deleted from memory").
std::string deleteGraph(GraphStore& store, std::size_t current);

/// Delete All after "Remove all data? (Unsaved changes will be lost)" is
/// answered Yes; returns "No Data loaded", or nothing when not confirmed.
std::optional<std::string> deleteAllGraphs(GraphStore& store, const ConfirmFn& confirm);

}  // namespace varnix
