#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/script.h"
#include "processing/moments.h"
#include "session/session.h"
#include "workspace/graph_store.h"
#include "workspace/selection.h"

namespace varnix::cli {

/// Runs script commands on one session: the graph store, the selected rows,
/// the current row, the information line and the last moments table.
class Runner {
 public:
  /// A runner on a session of its own (varnix-cli).
  Runner(std::ostream& out, std::ostream& err);
  /// A runner on an existing session (Run script... in the desktop program).
  Runner(Session& session, std::ostream& out, std::ostream& err);

  /// Moves the progress bar after each command (share of the script done).
  void setProgress(ProgressFn progress) { m_progress = std::move(progress); }
  /// Draws the store as the bytes of a picture file of width x height
  /// pixels (PNG, SVG or PDF by the extension of path); throws
  /// varnix::Error when it cannot. The runner writes them as it writes
  /// every file.
  using PictureWriter =
      std::function<std::string(const GraphStore&, const std::string& path, int width, int height)>;
  /// The `picture` command's drawer: only a build with the chart has one.
  void setPictureWriter(PictureWriter writer) { m_pictureWriter = std::move(writer); }

  /// Runs the commands in order; returns the exit status: 1 after an error
  /// that ended a command (which also ends the run), or when a file could
  /// not be read or written, a file to load was not there or the Slicer
  /// wrote no slice; 0 otherwise.
  int run(const std::vector<ScriptCommand>& commands);

  /// One line per command: its words and what it does.
  static std::string helpText();

 private:
  using Args = std::vector<std::string>;
  struct Command {
    const char* name;
    int minArgs;
    int maxArgs;  // -1: any number
    const char* usage;
    const char* summary;
    void (Runner::*handler)(const Args&);
  };
  static const std::vector<Command>& commands();

  Selection selection() const { return m_session.selection(); }
  void message(const std::string& text);
  bool confirm(const std::string& text);
  std::size_t slotArg(const std::string& text) const;
  static double numberArg(const std::string& text);

  void cmdLoad(const Args& a);
  void cmdImport(const Args& a);
  void cmdImportWith(const Args& a);
  void cmdSelect(const Args& a);
  void cmdCurrent(const Args& a);
  void cmdInfo(const Args& a);
  void cmdDump(const Args& a);
  void cmdPicture(const Args& a);
  void cmdDelete(const Args& a);
  void cmdDeleteAll(const Args& a);
  void cmdRename(const Args& a);
  void cmdUndo(const Args& a);
  void cmdReload(const Args& a);
  void cmdSave(const Args& a);
  void cmdSaveAs(const Args& a);
  void cmdSaveSelected(const Args& a);
  void cmdHighlight(const Args& a);
  void cmdTransform(const Args& a);
  void cmdNormalizeIntegral(const Args& a);
  void cmdMoments(const Args& a);
  void cmdMomentsSave(const Args& a);
  void cmdSlice(const Args& a);
  void cmdSmooth(const Args& a);
  void cmdMeasure(const Args& a);
  void cmdDeletePoint(const Args& a);
  void cmdMathYx(const Args& a);
  void cmdSimpleMathY(const Args& a);
  void cmdSimpleMathX(const Args& a);
  void cmdMathGraphs(const Args& a);
  void cmdPostfix(const Args& a);
  void cmdEval(const Args& a);
  void cmdFit(const Args& a);
  void cmdFitWeights(const Args& a);
  void cmdFitSave(const Args& a);
  void cmdFitGraphs(const Args& a);
  void cmdFitComponents(const Args& a);
  void cmdBaselineAls(const Args& a);
  void cmdBaselinePoly(const Args& a);
  void cmdDespike(const Args& a);

  std::ostream& m_out;
  std::ostream& m_err;
  std::unique_ptr<Session> m_ownSession;
  Session& m_session;
  GraphStore& m_store;
  PictureWriter m_pictureWriter;
  ProgressFn m_progress;       ///< the session's graphs
  std::size_t m_failures = 0;  ///< files not read or not written
  const std::string* m_commandName = nullptr;
};

}  // namespace varnix::cli
