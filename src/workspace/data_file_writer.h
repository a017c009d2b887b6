#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "workspace/callbacks.h"
#include "workspace/content_sink.h"
#include "workspace/data_file_reader.h"
#include "workspace/file_io.h"
#include "workspace/graph_store.h"

namespace varnix {

/// The text of a data file for a graph: its non-empty comment lines (each
/// starting with a double quote), then "x y" per point with 7 significant
/// digits; every line ends with CR LF.
std::string dataFileText(const Graph& g);
/// dataFileText made into out, line by line.
void writeDataFileContent(const Graph& g, ContentSink& out);

/// Writes graph g to path, replacing the file only once all of it is written;
/// a graph holding a value that is not finite is refused (no file could
/// read it back).
WriteResult writeDataFile(const std::string& path, const Graph& g,
                          WriteMode mode = WriteMode::Replace);

/// Writes content to path and reports a failure, or a notice such as a
/// restored interrupted save, through message; every failed write adds one
/// to *failures.
bool writeAndReport(const std::string& path, std::string_view content, const MessageFn& message,
                    std::size_t* failures = nullptr, WriteMode mode = WriteMode::Replace);

/// The question before a save creates the missing file a symbolic link names.
std::string danglingLinkQuestion(const std::string& link, const std::string& target);

/// Save: writes the current graph to its own path, asking "File already
/// exists. Overwrite?" first when a file is there, and danglingLinkQuestion
/// when the path is a link to a file that does not exist. A graph whose
/// name Import picked is written only as a new file (createOnSave). A
/// failed write is reported through message and counted in *failures.
/// Returns true when the file was written.
bool saveGraph(const GraphStore& store, std::size_t current, const ConfirmFn& confirm,
               const MessageFn& message, std::size_t* failures = nullptr);

/// Save As once the save dialog returned path; name and path stay unchanged.
void saveGraphAs(const GraphStore& store, std::size_t current, const std::string& path,
                 const MessageFn& message, std::size_t* failures = nullptr);

/// Save Selected: after "This will overwrite existing files!" is answered
/// Yes, writes every selected graph to its own path (a graph whose name
/// Import picked only as a new file). Returns the rows to
/// deselect (every row written or attempted); empty when not confirmed.
std::vector<std::size_t> saveSelected(const GraphStore& store,
                                      const std::vector<std::size_t>& selectedRows,
                                      const ConfirmFn& confirm, const MessageFn& message,
                                      std::size_t* failures = nullptr,
                                      std::vector<std::size_t>* written = nullptr);

/// Adds ".dat" to a path whose file name has no extension (the save
/// dialog's default extension); a path without a file name (a folder,
/// "dir/") stays as it is and is refused when written.
std::string withDefaultExtension(const std::string& path);

}  // namespace varnix
