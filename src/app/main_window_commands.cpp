#include "app/main_window.h"

#include "import/importer.h"
#include "session/import_memory.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QSvgGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <sstream>

#include "app/qt_text.h"
#include "cli/cli_runner.h"
#include "cli/script.h"
#include "expr/math_commands.h"
#include "processing/delete_point.h"
#include "processing/point_transforms.h"
#include "processing/slicer.h"
#include "processing/smoothing.h"
#include "view/print_chart.h"
#include "workspace/data_file_reader.h"
#include "workspace/data_file_writer.h"
#include "workspace/error.h"
#include "workspace/file_association.h"
#include "workspace/file_io.h"
#include "workspace/graph_list_commands.h"
#include "workspace/number_text.h"
#include "workspace/print_copy.h"
#include "workspace/version.h"

namespace varnix {
// --- files ------------------------------------------------------------------

void MainWindow::addFilesFromDialog() {
  m_open->clearChosen();
  if (m_open->exec() != QDialog::Accepted || m_open->chosenPaths().isEmpty()) return;
  addFiles(m_open->chosenPaths());
}

void MainWindow::addFiles(const QStringList& paths) {
  loadIntoList(paths, cli::ScriptLine("load"), [&](const std::vector<std::string>& list) {
    m_session.addFiles(list, messageFn(), progressFn());
  });
}

void MainWindow::loadIntoList(const QStringList& paths, const cli::ScriptLine& command,
                              const std::function<void(const std::vector<std::string>&)>& load) {
  if (paths.isEmpty()) return;
  m_chart->setBusyCursor();
  std::vector<std::string> list;
  for (const QString& p : paths) list.push_back(ss(p));
  const std::size_t before = m_store.count();
  pullSelection();
  cli::ScriptLine line = command;
  for (const std::string& p : list) line.path(p);
  if (run([&] { load(list); })) record(line);
  showInformation();
  m_chart->recomputeGeometry();
  setProgress(0);
  m_chart->setCrosshairCursor();
  for (std::size_t i = before; i < m_store.count(); ++i) m_list->addItem(qs(m_store.graph(i).name));
  pushSelection();
  syncChart();
  m_chart->redraw();
  m_list->setFocus();
}

namespace {

/// The key of the file's kind for the settings kept with "Use for files like
/// this"; empty for anything but a readable regular file.
std::string importSignatureOf(const QString& path) {
  const QFileInfo info(path);
  if (!info.isFile()) return {};  // a FIFO would block the read
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray start = file.read(static_cast<qint64>(kImportSignatureBytes));
  return importSignature(
      std::string_view(start.constData(), static_cast<std::size_t>(start.size())),
      ss(info.fileName()));
}

}  // namespace

QStringList MainWindow::chooseImportFiles(const QString& caption) {
  const QString folder = qs(m_settings.readString(kImportSection, kImportFolderKey, ""));
  QStringList paths = m_prompts.openFileNames(
      caption,
      "Spectra and tables (*.txt *.csv *.tsv *.asc *.dat *.xy *.dpt *.prn *.scope *.jdx *.dx "
      "*.jcamp *.vms *.spc *.wdf);;All files (*)",
      folder.isEmpty() ? QDir::homePath() : folder);
  if (!paths.isEmpty())
    m_settings.writeStrings(kImportSection,
                            {{kImportFolderKey, ss(QFileInfo(paths.first()).absolutePath())}});
  return paths;
}

void MainWindow::importFromDialog() {
  importFiles(chooseImportFiles("Import"));
}

void MainWindow::importWithOptionsFromDialog() {
  importWithOptions(chooseImportFiles("Import with options"));
}

void MainWindow::importWithOptions(const QStringList& paths) {
  if (paths.isEmpty()) return;
  const std::string kind = importSignatureOf(paths.first());
  const std::optional<ImportSettings> kept = rememberedImportSettings(m_settings, kind);
  m_importPreview->setFile(paths.first(), kept.value_or(ImportSettings{}), kept.has_value(),
                           static_cast<int>(paths.size()) - 1);
  keepAboveStayOnTopWindows(m_importPreview);
  if (m_importPreview->exec() != QDialog::Accepted) return;
  const ImportSettings chosen = m_importPreview->settings();
  const bool keep = m_importPreview->useForFilesLikeThis();
  importInRuns(paths, chosen, false);
  // After the import: a settings file that cannot be written is reported
  // without holding the graphs back.
  if (keep || kept) rememberImportSettings(m_settings, kind, keep ? chosen : ImportSettings{});
}

void MainWindow::importFiles(const QStringList& paths, const ImportSettings& settings) {
  importInRuns(paths, settings, settings.automatic());
}

void MainWindow::importInRuns(const QStringList& paths, const ImportSettings& settings,
                              bool useRemembered) {
  struct Run {
    QStringList paths;
    ImportSettings settings;
    bool remembered = false;
  };
  std::vector<Run> runs;
  for (const QString& p : paths) {
    Run next{{}, settings, false};
    if (useRemembered)
      if (auto kept = rememberedImportSettings(m_settings, importSignatureOf(p))) {
        next.settings = *kept;
        next.remembered = true;
      }
    if (runs.empty() || runs.back().settings != next.settings ||
        runs.back().remembered != next.remembered)
      runs.push_back(next);
    runs.back().paths << p;
  }
  const std::size_t before = m_store.count();
  QStringList lines, linePaths;
  for (const Run& r : runs) {
    std::vector<std::string> summary;
    cli::ScriptLine command(r.settings.automatic() ? "import" : "import-with");
    for (const std::string& word : formatImportSettings(r.settings)) command.word(word);
    loadIntoList(r.paths, command, [&](const std::vector<std::string>& list) {
      summary = m_session.importFiles(list, progressFn(), nullptr, r.settings);
    });
    const QString note = r.remembered ? "; read with the settings kept for files like this: " +
                                            qs(importSettingsText(r.settings))
                                      : QString();
    for (std::size_t k = 0; k < summary.size(); ++k) {
      lines << qs(summary[k]) + note;
      linePaths << r.paths.value(static_cast<qsizetype>(k));
    }
  }
  if (runs.size() > 1) {
    // One information line for the whole import, as for a single run.
    m_session.setInformation(" " + std::to_string(m_store.count() - before) +
                             " files loaded. Press <R> to rescale");
    showInformation();
  }
  if (!lines.isEmpty()) m_importSummary->showLines(lines, linePaths);
}

void MainWindow::dropFiles(const QStringList& paths, Qt::KeyboardModifiers modifiers) {
  if (modifiers & Qt::ShiftModifier)
    importFiles(paths);
  else
    addFiles(paths);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& u : event->mimeData()->urls())
    if (u.isLocalFile()) paths << u.toLocalFile();
  dropFiles(paths, event->modifiers());
  event->acceptProposedAction();
}

void MainWindow::save() {
  if (m_store.empty()) return;
  pullSelection();
  const Selection sel = m_session.selection();
  if (m_session.save(confirmFn(), messageFn())) recordOn(sel, cli::ScriptLine("save"));
}

void MainWindow::saveAs() {
  if (m_store.empty()) return;
  const std::size_t c = selection().current;
  const QString path = m_prompts.saveFileName(qs(m_store.graph(c).path));
  if (path.isEmpty()) return;
  recordOn(m_session.selection(), cli::ScriptLine("save-as").path(ss(path)));
  m_session.saveAs(ss(path), messageFn());
}

void MainWindow::saveSelected() {
  if (m_store.empty()) return;
  pullSelection();
  const Selection sel = m_session.selection();
  if (m_session.saveSelected(confirmFn(), messageFn()))
    recordOn(sel, cli::ScriptLine("save-selected"));
  pushSelection();
}

// --- view commands ----------------------------------------------------------

void MainWindow::rescale() {
  run([&] {
    if (!m_store.empty()) recomputeAllRanges(m_store);
    m_chart->setAxisAutomatic(ChartView::Axis::Bottom, true);
    m_chart->setAxisAutomatic(ChartView::Axis::Left, true);
    m_chart->restoreZoom();
    // Undo zoom may bring back a fixed range; Rescale always ends fitted.
    m_chart->setAxisAutomatic(ChartView::Axis::Bottom, true);
    m_chart->setAxisAutomatic(ChartView::Axis::Left, true);
    m_chart->redraw();
  });
}

void MainWindow::zoomOut() {
  m_chart->zoomBy(0.1L);
  m_chart->redraw();
}

void MainWindow::zoomIn() {
  m_chart->zoomBy(-0.1L);
  m_chart->redraw();
}

void MainWindow::increaseYScale() {
  m_chart->scaleYMaximum(-0.5L);
  m_chart->redraw();
}

void MainWindow::decreaseYScale() {
  m_chart->scaleYMaximum(0.5L);
  m_chart->redraw();
}

void MainWindow::zoomBetweenCursors() {
  if (m_store.empty() || m_cursor1 == m_cursor2 || !m_cursorsShown) return;
  run([&] {
    m_chart->zoomToColumns(m_cursor1, m_cursor2);
    m_chart->redraw();
  });
}

void MainWindow::toggle3DView() {
  run([&] {
    m_chart->set3D(!m_chart->is3D());
    m_chart->redraw();
  });
}

void MainWindow::toggleLogScale() {
  run([&] {
    const auto L = ChartView::Axis::Left;
    if (m_scaleAction->text() == "Log Scale") {
      m_scaleAction->setText("Linear Scale");
      m_chart->setPanning(ChartView::Panning::Horizontal);
      m_chart->setAxisAutomatic(L, false);
      m_chart->setAxisMin(L, 0);
      m_chart->setAxisLogarithmic(L, true);
      m_chart->setAxisMin(L, 0);
    } else {
      m_chart->setPanning(ChartView::Panning::Both);
      m_scaleAction->setText("Log Scale");
      m_chart->setAxisLogarithmic(L, false);
    }
    m_chart->redraw();
  });
}

void MainWindow::toggleAnimatedZoom() {
  // The item checks itself when triggered; the chart follows it.
  run([&] { m_chart->setAnimatedZoom(m_animatedAction->isChecked()); });
}

// --- curve commands ---------------------------------------------------------

bool MainWindow::runCurveCommand(const std::function<void(const Selection&)>& command,
                                 bool fallsBackToCurrent) {
  return run([&] {
    m_chart->setBusyCursor();
    const Selection s = selection();
    command(s);
    syncSlots(fallsBackToCurrent ? selectedOrCurrent(m_store, s) : s.rows);
    m_chart->setCrosshairCursor();
    m_chart->redraw();
  });
}

void MainWindow::runOnSelection(void (*command)(GraphStore&, const Selection&, const ProgressFn&),
                                const char* name) {
  const Selection sel = selection();
  if (runCurveCommand([&](const Selection& s) { command(m_store, s, progressFn()); }))
    recordOn(sel, cli::ScriptLine(name));
}

void MainWindow::normalize() {
  runOnSelection(normalizeGraphs, "normalize");
}

void MainWindow::applyLn() {
  runOnSelection(lnGraphs, "ln");
}

void MainWindow::applyExp() {
  runOnSelection(expGraphs, "exp");
}

void MainWindow::applyFilin() {
  runOnSelection(filinGraphs, "filin");
}

void MainWindow::convertXAndRescale(void (*convert)(GraphStore&, const Selection&),
                                    const char* command) {
  bool done = false;
  const Selection sel = selection();
  runCurveCommand(
      [&](const Selection& s) {
        convert(m_store, s);
        done = true;
      },
      true);
  if (!done) return;  // a fault ends the command before Rescale
  recordOn(sel, cli::ScriptLine(command));
  rescale();
}

void MainWindow::convertEvAngstrom() {
  convertXAndRescale(evAngstromGraphs, "ev-a");
}

void MainWindow::convertEvNanometre() {
  convertXAndRescale(evNanometreGraphs, "ev-nm");
}

void MainWindow::removeConstantShelf() {
  const Selection sel = selection();
  if (runCurveCommand([&](const Selection& s) { removeShelfGraphs(m_store, s); }, true))
    recordOn(sel, cli::ScriptLine("remove-shelf"));
}

void MainWindow::normalizeIntegral() {
  const Selection sel = selection();
  const double L = m_chart->axisMin(ChartView::Axis::Bottom);
  const double U = m_chart->axisMax(ChartView::Axis::Bottom);
  if (runCurveCommand(
          [&](const Selection& s) { varnix::normalizeIntegral(m_store, s, L, U, progressFn()); }))
    recordOn(sel, cli::ScriptLine("normalize-integral").number(L).number(U));
}

void MainWindow::dispoSmoothing() {
  const Selection sel = selection();
  if (runCurveCommand([&](const Selection& s) { dispoSmoothGraphs(m_store, s, progressFn()); }))
    recordOn(sel, cli::ScriptLine("smooth"));
}

void MainWindow::deletePointAtCursor() {
  if (m_store.empty()) return;
  const Selection sel = selection();
  const double x = m_chart->xAtColumn(m_cursor1);
  if (run([&] {
        varnix::deletePointAtCursor(m_store, sel.current, x);
        syncSlots({sel.current});
        m_chart->redraw();
      }))
    recordOn(sel, cli::ScriptLine("delete-point").number(x));
}

// --- dialog commands --------------------------------------------------------

void MainWindow::calculateMoments() {
  const double L = m_chart->axisMin(ChartView::Axis::Bottom);
  const double U = m_chart->axisMax(ChartView::Axis::Bottom);
  if (m_store.empty()) return;
  std::optional<MomentsRun> result;
  const Selection sel = selection();
  const std::string parameter = ss(m_calcMoments->parameter());
  if (run([&] {
        result = varnix::calculateMoments(m_store, sel, L, U, m_table, SeriesParameter(parameter));
      }))
    recordOn(sel, cli::ScriptLine("moments").number(L).number(U).arg(parameter));
  if (!result) {
    m_calcMoments->fill(m_table);
    return;
  }
  if (!result->isTable) {
    m_moments->setMoments(number(L, 7), number(U, 7), result->single);
    m_moments->exec();
  } else {
    m_calcMoments->fill(m_table);
    m_calcMoments->exec();
  }
}

void MainWindow::saveMoment(int order) {
  const QString path = m_prompts.saveFileName(dataFolder());
  if (path.isEmpty()) return;
  if (run([&] { saveMomentFile(m_table, order, ss(path), messageFn()); }))
    record(cli::ScriptLine("moments-save")
               .count(static_cast<std::size_t>(order))
               .path(ss(path))
               .arg(ss(m_calcMoments->parameter())));
}

void MainWindow::previewMoments() {
  auto [lower, upper] = varnix::momentsPreview(m_table);
  m_momentsPreview->setPoints(lower, upper);
  m_momentsPreview->show();
  m_momentsPreview->raise();
}

void MainWindow::showSlicer() {
  std::vector<std::pair<QString, QString>> graphs;
  for (std::size_t r = 0; r < m_store.count(); ++r)
    graphs.emplace_back(qs(m_store.graph(r).name), qs(digitsOf(m_store.graph(r).name)));
  m_slicer->setGraphs(graphs);
  if (m_slicer->exec() != QDialog::Accepted) return;
  const SlicerFields f = m_slicer->fields();
  if (run([&] { sliceGraphs(m_store, f, messageFn()); })) {
    record(cli::ScriptLine("slice")
               .arg(f.from)
               .arg(f.to)
               .arg(f.step)
               .arg(f.prefix)
               .arg(f.suffix)
               .path(f.directory)
               .arg(f.decimals)
               .arg(f.parameter));
  }
}

void MainWindow::showMathOnYX() {
  if (m_store.empty()) return;
  if (m_math->exec() == QDialog::Accepted) {
    bool failed = true;
    const Selection sel = selection();
    const MathFormulas formulas = m_math->formulas();
    run([&] {
      mathOnYX(m_store, sel, formulas.x, formulas.y, progressFn());
      failed = false;
    });
    if (!failed) recordOn(sel, cli::ScriptLine("math-yx").arg(formulas.x).arg(formulas.y));
    syncChart();
    if (failed) return;
    setProgress(0);
    m_chart->redraw();
  } else {
    mathOnYXCancelled(m_store);
  }
  refreshUndo();
}

void MainWindow::showSimpleMathOnY() {
  if (m_store.empty()) return;
  if (m_simpleMath->exec() != QDialog::Accepted) return;
  const Selection sel = selection();
  const SimpleMathFields k = m_simpleMath->fields();
  if (runCurveCommand([&](const Selection& s) { simpleMathOnY(m_store, s, k.b, k.a, k.c, k.d); },
                      true))
    recordOn(sel, cli::ScriptLine("simple-math-y").arg(k.b).arg(k.a).arg(k.c).arg(k.d));
}

void MainWindow::showSimpleMathOnX() {
  if (m_store.empty()) return;
  if (m_simpleMathX->exec() != QDialog::Accepted) return;
  const Selection sel = selection();
  const SimpleMathXFields k = m_simpleMathX->fields();
  if (runCurveCommand([&](const Selection& s) { simpleMathOnX(m_store, s, k.b, k.a); }, true))
    recordOn(sel, cli::ScriptLine("simple-math-x").arg(k.b).arg(k.a));
}

void MainWindow::showMathOnGraphs() {
  if (!m_store.empty()) {
    const Selection s = selection();
    QStringList changing, all;
    for (std::size_t r : s.rows) changing << qs(m_store.graph(r).name);
    for (int r = 0; r < m_list->count(); ++r) all << m_list->item(r)->text();
    m_mathOnGraphs->setGraphs(changing, all);
    if (m_mathOnGraphs->exec() == QDialog::Accepted) {
      const std::optional<std::size_t> second = m_mathOnGraphs->secondGraph();
      const std::optional<char> op = m_mathOnGraphs->operation();
      if (run([&] { mathOnGraphs(m_store, s, op, second, messageFn()); }))
        recordOn(s, cli::ScriptLine("math-graphs")
                        .word(op ? std::string(1, *op) : std::string("none"))
                        .word(second ? std::to_string(*second) : std::string("none")));
      syncSlots(s.rows);
      m_chart->redraw();
    }
  }
  mathOnGraphsFinished(m_store);
  refreshUndo();
}

void MainWindow::showPicker() {
  m_picker->show();
  m_picker->raise();
}

void MainWindow::runScript() {
  const QString path =
      m_prompts.openFileName("Run script", "varnix-cli scripts (*.vxs *.txt);;All files (*)");
  if (path.isEmpty()) return;
  std::string text;
  const ReadResult read = readWholeFile(ss(path), text);
  if (!read.ok()) {
    m_prompts.message(
        "Could not read " + path + ": " +
        qs(read.status == ReadStatus::Missing ? "No such file or directory" : read.reason));
    return;
  }
  pullSelection();
  std::ostringstream out, err;
  cli::Runner runner(m_session, out, err);
  runner.setProgress(progressFn());
  // Pictures as Export picture draws them, with the window's look.
  runner.setPictureWriter([this](const GraphStore&, const std::string& file, int w, int h) {
    rebuildPrintChart();
    return pictureOf(*m_print, file, w, h);
  });
  m_chart->setBusyCursor();
  const int status = runner.run(cli::parseScript(text));
  m_history.push_back("# Run script " +
                      cli::quoteScriptWord(ss(path)).value_or("(a name with a line break)") +
                      " (not repeated here)");
  // The list, the chart and the information line show the session as the
  // script left it; what it did before an error stays.
  m_list->clear();
  for (std::size_t i = 0; i < m_store.count(); ++i) m_list->addItem(qs(m_store.graph(i).name));
  pushSelection();
  syncChart();
  setProgress(0);
  m_chart->setCrosshairCursor();
  showInformation();
  m_chart->redraw();
  QStringList lines = qs(err.str()).split('\n', Qt::SkipEmptyParts);
  if (status != 0 && !lines.isEmpty()) {
    QString last = lines.takeLast();
    if (last.endsWith('.')) last.chop(1);
    if (!lines.isEmpty()) m_prompts.message(lines.join('\n'));
    m_prompts.error(last);
  } else if (!lines.isEmpty()) {
    m_prompts.message(lines.join('\n'));
  }
}

void MainWindow::saveSessionScript() {
  const QString path = m_prompts.saveTextName("Save session as script",
                                              "varnix-cli scripts (*.vxs)", "vxs", dataFolder());
  if (path.isEmpty()) return;
  if (m_historyCut)
    m_prompts.message(
        "The script cannot repeat all of the work: a file name or text holds a line break or "
        "another control character, which a script line cannot carry. It repeats the work up to "
        "that command; the commands from there on are comment lines.");
  writeAndReport(ss(path), sessionScript(), messageFn());
}

void MainWindow::toggleOption(bool& option, QAction* item, const char* key) {
  option = !option;
  item->setChecked(option);
  m_settings.writeStrings(kViewSection, {{key, option ? "1" : "0"}});
}

void MainWindow::toggleDistinctColours() {
  toggleOption(m_distinctColours, m_distinctAction, kDistinctKey);
  syncChart();
  m_chart->redraw();
}

void MainWindow::reloadFromDisk() {
  if (m_store.empty()) return;
  pullSelection();
  recordOn(m_session.selection(), cli::ScriptLine("reload"));
  m_chart->setBusyCursor();
  const std::vector<std::size_t> changed = m_session.reload(messageFn());
  syncSlots(changed);
  m_chart->setCrosshairCursor();
  for (std::size_t r : changed) markChangedOnDisk(r, false);
  m_chart->redraw();
}

void MainWindow::toggleFollowFiles() {
  toggleOption(m_followFiles, m_followAction, kFollowKey);
  watchSourceFiles();
}

void MainWindow::watchSourceFiles() {
  QStringList wanted, folders;
  if (m_followFiles)
    for (std::size_t i = 0; i < m_store.count(); ++i)
      if (!m_store.graph(i).sourcePath.empty()) {
        wanted << qs(m_store.graph(i).sourcePath);
        folders << QFileInfo(wanted.last()).absolutePath();
      }
  wanted.removeDuplicates();
  folders.removeDuplicates();
  const QStringList watched = m_watcher->files();
  for (const QString& f : watched)
    if (!wanted.contains(f)) m_watcher->removePath(f);
  for (const QString& f : wanted)
    if (!watched.contains(f) && QFileInfo::exists(f)) m_watcher->addPath(f);
  // The folders too: a file deleted and made again (or replaced by a rename)
  // is no longer watched under its name; its folder tells when it is back.
  const QStringList watchedFolders = m_watcher->directories();
  for (const QString& d : watchedFolders)
    if (!folders.contains(d)) m_watcher->removePath(d);
  for (const QString& d : folders)
    if (!watchedFolders.contains(d) && QFileInfo(d).isDir()) m_watcher->addPath(d);
}

void MainWindow::folderChangedOnDisk(const QString& folder) {
  // A followed file that is there again but not watched: made anew.
  const QStringList watched = m_watcher->files();
  for (std::size_t i = 0; i < m_store.count(); ++i) {
    const QString path = qs(m_store.graph(i).sourcePath);
    if (path.isEmpty() || watched.contains(path) || QFileInfo(path).absolutePath() != folder)
      continue;
    if (QFileInfo::exists(path)) fileChangedOnDisk(path);
  }
}

void MainWindow::fileChangedOnDisk(const QString& path) {
  m_changedFiles.insert(path);
  // A file still being written changes again and again: wait until it has
  // been quiet for a moment, but show what is there at least once a second.
  if (!m_changesPending.isValid()) m_changesPending.start();
  const qint64 waited = m_changesPending.elapsed();
  if (waited >= kFollowLatencyMs) {
    if (!m_settle->isActive()) m_settle->start(0);
    return;
  }
  m_settle->start(static_cast<int>(std::min<qint64>(m_settleMs, kFollowLatencyMs - waited)));
}

namespace {
/// How the information line and a row's tip begin when Follow files held a
/// file back (the tip without the leading blank).
constexpr const char* kNotReloaded = " Not reloaded: ";
}  // namespace

void MainWindow::followChangedFiles() {
  // Never in the middle of a command or while a dialog is open.
  if (m_running || QApplication::activeModalWidget()) {
    m_settle->start(m_settleMs);
    return;
  }
  m_changesPending.invalidate();
  if (!m_followFiles) {
    m_changedFiles.clear();
    return;
  }
  std::vector<std::size_t> rows;
  for (std::size_t i = 0; i < m_store.count(); ++i) {
    if (!m_changedFiles.contains(qs(m_store.graph(i).sourcePath))) continue;
    if (hasUnsavedChanges(m_store.graph(i)))
      markChangedOnDisk(i, true);  // the user's changes are not overwritten
    else
      rows.push_back(i);
  }
  m_changedFiles.clear();
  run([&] {
    FollowLimits limits;
    const std::vector<std::size_t> changed =
        reloadGraphs(m_store, rows, false, messageFn(), nullptr, true, importedContent, &limits);
    for (std::size_t r : changed) markChangedOnDisk(r, false);
    // A graph is never emptied or cut short behind the user's back: its row
    // is marked and the information line says why; F5 reads the file.
    for (const FollowLimits::Held& h : limits.held)
      markChangedOnDisk(h.row, true, qs(kNotReloaded + 1) + qs(h.reason) + "; F5 reads it");
    if (!limits.held.empty()) {
      std::string text = kNotReloaded + limits.held.front().reason + "; F5 reads it";
      if (limits.held.size() > 1)
        text += " (and " + std::to_string(limits.held.size() - 1) + " more)";
      m_session.setInformation(text);
      showInformation();
    } else if (!changed.empty() && m_session.information().rfind(kNotReloaded, 0) == 0) {
      // Once every file it spoke of is read again, the line has had its say.
      bool stillHeld = false;
      for (int r = 0; r < m_list->count(); ++r)
        stillHeld = stillHeld || m_list->item(r)->toolTip().startsWith(qs(kNotReloaded + 1));
      if (!stillHeld) {
        m_session.setInformation("");
        showInformation();
      }
    }
    syncSlots(changed);
    if (!changed.empty()) m_chart->redraw();
  });
  // A file replaced by a rename is no longer watched under its name.
  watchSourceFiles();
}

void MainWindow::markChangedOnDisk(std::size_t row, bool changed, const QString& why) {
  if (row >= static_cast<std::size_t>(m_list->count())) return;
  QListWidgetItem* item = m_list->item(static_cast<int>(row));
  item->setToolTip(!changed ? QString()
                   : why.isEmpty()
                       ? "The file changed on disk; not reloaded because of unsaved changes"
                       : why);
  QFont font = item->font();
  if (font.italic() == changed) return;
  font.setItalic(changed);
  item->setFont(font);
  item->setText(changed ? qs(m_store.graph(row).name) + " *" : qs(m_store.graph(row).name));
}

void MainWindow::showMeasure() {
  if (!m_measurePlaced) {
    // First time at the bottom of the main window, over the information
    // line rather than the curves; later where the user left it.
    const QRect frame = frameGeometry();
    m_measure->move(frame.left() + 8,
                    std::max(frame.top(), frame.bottom() - m_measure->height() - 40));
    m_measurePlaced = true;
  }
  m_measure->show();
  m_measure->raise();
  // The keys go to it: Ctrl+C and Ctrl+S copy and save the table at once.
  m_measure->activateWindow();
  m_measure->findChild<QWidget*>("table")->setFocus();
  refreshMeasure();
}

void MainWindow::refreshMeasure() {
  refreshFitTools();
  if (!m_measure || !m_measure->isVisible()) return;
  const double x1 = m_chart->xAtColumn(m_cursor1), x2 = m_chart->xAtColumn(m_cursor2);
  // Read off the list, not the session: this also runs while the
  // session's rows are being shown in the list.
  const Selection s = listSelection();
  m_measure->setRows(measureGraphs(m_store, s, x1, x2), x1, x2);
}

void MainWindow::pickerSave() {
  const QString path = m_prompts.saveFileName(dataFolder());
  if (path.isEmpty()) return;
  QString text = m_picker->text();
  std::string out;
  if (!text.isEmpty())
    for (const QString& l : text.split('\n')) out += ss(l) + "\r\n";
  writeAndReport(ss(path), out, messageFn());
}

void MainWindow::pickerClear() {
  if (m_prompts.question("Clear All?") == UserPrompts::Answer::Yes) m_picker->clearText();
}

bool MainWindow::applyColours() {
  try {
    writeColours(m_settings, m_colours);
  } catch (const Error& e) {
    m_prompts.error(qs(e.what()));
    return false;
  }
  m_store.setColours(m_colours.graphs, m_colours.highlight);
  m_store.recolourAll();
  recolourSeries();
  m_chart->setColours(m_colours.background, m_colours.axis, m_colours.grid, m_colours.graphs);
  return true;
}

void MainWindow::colorsApply() {
  m_colours = m_colorsDialog->chosen();
  applyColours();
  m_chart->redraw();
}

void MainWindow::colorsDefaults() {
  m_colours = ColourSettings{};
  applyColours();
  m_colorsDialog->fill(m_colours);
  m_chart->redraw();
}

void MainWindow::showColors() {
  m_colorsDialog->exec();
  applyColours();
  m_chart->redraw();
}

void MainWindow::showLabels() {
  if (m_labels->exec() != QDialog::Accepted) return;
  const LabelsFields labels = m_labels->fields();
  for (ChartView* c : {m_chart, m_print}) {
    c->setAxisTitle(ChartView::Axis::Left, labels.left);
    c->setAxisTitle(ChartView::Axis::Bottom, labels.bottom);
  }
  if (labels.titleShown)
    m_chart->setTitle(labels.title, true);
  else
    m_chart->setTitle(m_chart->titleLines(), false);
  m_chart->redraw();
}

}  // namespace varnix
