#pragma once

#include <QAction>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMap>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <functional>
#include <vector>

#include "app/baseline_window.h"
#include "app/dialogs.h"
#include "app/fit_window.h"
#include "app/import_preview.h"
#include "app/measure_window.h"
#include "app/open_files_dialog.h"
#include "app/user_prompts.h"
#include "cli/script.h"
#include "processing/moments.h"
#include "session/session.h"
#include "view/chart_view.h"
#include "workspace/graph_store.h"
#include "workspace/selection.h"
#include "workspace/settings_file.h"

namespace varnix {

/// The main window: owns the graph store, the main and print charts and
/// every dialog; one handler per menu command.
class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  /// arguments[1], when present, names the data file to load when the window
  /// is first shown.
  MainWindow(UserPrompts& prompts, SettingsFile& settings, const QStringList& arguments,
             QWidget* parent = nullptr);

  GraphStore& store() { return m_store; }
  Session& session() { return m_session; }
  ChartView* chart() const { return m_chart; }
  ChartView* printChart() const { return m_print; }
  QListWidget* graphList() const { return m_list; }
  QLabel* information() const { return m_info; }
  QLabel* mouseX() const { return m_lx; }
  QLabel* mouseY() const { return m_ly; }
  QProgressBar* progressBar() const { return m_progress; }
  QPushButton* addFilesButton() const { return m_addFiles; }
  /// A menu or pop-up action by its caption ("Normalize", "Save Selected ").
  QAction* action(const QString& caption) const { return m_actions.value(caption); }
  const ColourSettings& colours() const { return m_colours; }
  int firstCursorColumn() const { return m_cursor1; }
  int secondCursorColumn() const { return m_cursor2; }
  bool cursorsShown() const { return m_cursorsShown; }
  bool distinctColours() const { return m_distinctColours; }
  bool followFiles() const { return m_followFiles; }
  /// The recorded session as a varnix-cli script with its header comment.
  std::string sessionScript() const;
  /// Milliseconds a changed file must stay quiet before it is reloaded.
  void setSettleDelay(int ms);

  OpenFilesDialog* openFilesDialog() const { return m_open; }
  CursorsWindow* cursorsWindow() const { return m_cursors; }
  ColorsDialog* colorsDialog() const { return m_colorsDialog; }
  LabelsDialog* labelsDialog() const { return m_labels; }
  RenameDialog* renameDialog() const { return m_rename; }
  CommentDialog* commentDialog() const { return m_comment; }
  SimpleMathDialog* simpleMathDialog() const { return m_simpleMath; }
  SimpleMathXDialog* simpleMathXDialog() const { return m_simpleMathX; }
  SlicerDialog* slicerDialog() const { return m_slicer; }
  CalculateMomentsDialog* calculateMomentsDialog() const { return m_calcMoments; }
  MomentsPreview* momentsPreview() const { return m_momentsPreview; }
  MathOnGraphsDialog* mathOnGraphsDialog() const { return m_mathOnGraphs; }
  PickerWindow* picker() const { return m_picker; }
  MomentsDialog* momentsDialog() const { return m_moments; }
  MathDialog* mathDialog() const { return m_math; }
  MeasureWindow* measureWindow() const { return m_measure; }
  FitWindow* fitWindow() const { return m_fitWindow; }
  BaselineWindow* baselineWindow() const { return m_baselineWindow; }
  DespikeWindow* despikeWindow() const { return m_despikeWindow; }
  AboutBox* aboutBox() const { return m_about; }
  const MomentsTable& momentsTable() const { return m_table; }

  /// The selection of the graph list: selected rows and the focus row (the
  /// session takes them from the list first).
  Selection selection();
  /// Loads the data file named on the command line (once, when first shown).
  void loadCommandLineFile();
  /// Puts the five colour settings into effect and writes them to the settings file.
  bool applyColours();
  /// Rebuilds the print chart from the main chart (what Print and Copy use).
  void rebuildPrintChart();
  /// Prints the (rebuilt) print chart on printer in landscape orientation.
  void printChart(QPrinter& printer);
  /// Loads files as Add Files does after its dialog (also for dropped files).
  void addFiles(const QStringList& paths);
  /// Imports files as File, Import... does after its dialog (also for files
  /// dropped with Shift held) and shows the summary; settings that are not
  /// all automatic are recorded as `import-with`. With automatic settings a
  /// file of a kind with settings kept ("Use for files like this") is read
  /// with those, and its summary line says so.
  void importFiles(const QStringList& paths, const ImportSettings& settings = {});
  ImportSummaryWindow* importSummary() const { return m_importSummary; }
  ImportPreviewDialog* importPreview() const { return m_importPreview; }
  /// Files dropped on the window: imported with Shift held, else added.
  void dropFiles(const QStringList& paths, Qt::KeyboardModifiers modifiers);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QAction* addAction(QMenu* menu, const QString& caption, const QKeySequence& key,
                     void (MainWindow::*handler)());
  void buildMenus();
  void createWindows(bool haveArgument);
  /// The one road of every command (menu items, keys and buttons are
  /// connected through it): an error that ends the command goes to the
  /// general error report, what it did before stays and the chart shows it;
  /// the Undo item is brought up to date afterwards.
  bool run(const std::function<void()>& command);
  /// A curve command on the selection: busy cursor, the command, the changed
  /// curves (the selected rows, or the current graph for commands that fall
  /// back to it) and a redraw.
  bool runCurveCommand(const std::function<void(const Selection&)>& command,
                       bool fallsBackToCurrent = false);
  /// The session history: every command that changed graphs or wrote files,
  /// as the varnix-cli line that repeats it with the values taken off the
  /// screen (recordOn puts the selection and the current row first).
  /// A line that cannot be recorded (a name with a line break) becomes a
  /// comment saying why, and so does every line after it: without it the
  /// rest would replay on other graphs or files.
  void record(const cli::ScriptLine& line);
  void recordOn(const Selection& s, const cli::ScriptLine& line);
  /// eV<=>A and eV<=>nm: the conversion of the graphs (selected, or the
  /// current one), then Rescale when it finished.
  /// A curve command on the selected graphs, recorded as `name` when it ran.
  void runOnSelection(void (*command)(GraphStore&, const Selection&, const ProgressFn&),
                      const char* name);
  /// Add Files and Import after their dialogs: the files loaded by `load`,
  /// recorded as `command` (with its first words) and the paths, the list and
  /// chart brought up to date.
  void loadIntoList(const QStringList& paths, const cli::ScriptLine& command,
                    const std::function<void(const std::vector<std::string>&)>& load);
  void convertXAndRescale(void (*convert)(GraphStore&, const Selection&), const char* command);
  void syncChart();
  /// With distinct colours: each graph's palette colour (screen or print
  /// variant), the highlighted graph in the highlight colour and on top,
  /// swatches in the list and the legend. Off: the store's colours, nothing
  /// else.
  Colour seriesColour(std::size_t i, bool print) const;
  bool isHighlighted(std::size_t i) const;
  void showDistinctLook();
  /// A check item of the Options menu kept in the settings file's [View].
  void toggleOption(bool& option, QAction* item, const char* key);
  /// Follow files: the watched files are those of the loaded graphs.
  void watchSourceFiles();
  void fileChangedOnDisk(const QString& path);
  void folderChangedOnDisk(const QString& folder);
  /// After the settle delay, when idle: reloads the graphs whose files
  /// changed, marks (" *", italic) those with unsaved changes instead.
  void followChangedFiles();
  /// Marks a row whose file changed but was not read (" *", italic, why in
  /// the tool tip), or takes the mark away.
  void markChangedOnDisk(std::size_t row, bool changed, const QString& why = QString());
  /// Every series in its colour again (after rows moved).
  void recolourSeries();
  void syncSlots(const std::vector<std::size_t>& changed);
  /// The list widget's selection and focus row into the session, and back.
  void pullSelection();
  /// The selected rows and the focus row as the list widget shows them.
  Selection listSelection() const;
  void pushSelection();
  void showInformation();
  void refreshUndo();
  void setProgress(int p);
  ProgressFn progressFn();
  /// Messages in a box with one OK button; questions in a warning box.
  MessageFn messageFn();
  ConfirmFn confirmFn();
  void afterDraw();
  void updateReadouts(int dxDigits);
  void drawCursors();
  void moveCursor(bool right, Qt::KeyboardModifiers mods);
  void highlight();
  void chartMouseMoved(int x, int y);
  void chartMouseDown(int x, int y);

 private slots:
  // Menu, key and button commands, one slot each (docs/architecture.md
  // maps every caption and key to its slot and core function).
  void addFilesFromDialog();
  void importFromDialog();
  void importWithOptionsFromDialog();
  void save();
  void saveAs();
  void saveSelected();
  void deleteAll();
  void print();
  void exportPicture();
  void exitProgram();
  /// File, Exit and Esc: asks to end the program, or closes the analysis
  /// window the key was pressed in.
  void exitCommand();
  /// Where save dialogs start: the folder of the current graph's file, or
  /// empty when it has none.
  QString dataFolder() const;
  void copyToClipboard();
  void rescale();
  void zoomOut();
  void zoomIn();
  void increaseYScale();
  void decreaseYScale();
  void zoomBetweenCursors();
  void toggle3DView();
  void toggleLogScale();
  void selectAll();
  void toggleAnimatedZoom();
  void undo();
  void convertEvAngstrom();
  void convertEvNanometre();
  void applyFilin();
  void applyLn();
  void applyExp();
  void normalize();
  void normalizeIntegral();
  void removeConstantShelf();
  void calculateMoments();
  void showSlicer();
  void showMathOnYX();
  void showSimpleMathOnY();
  void showSimpleMathOnX();
  void showMathOnGraphs();
  void showPicker();
  void showMeasure();
  void showFit();
  void showBaseline();
  void showDespike();
  void reloadFromDisk();
  void runScript();
  void saveSessionScript();
  void toggleFollowFiles();
  void dispoSmoothing();
  void deletePointAtCursor();
  void showLabels();
  void showColors();
  void associateFiles();
  void toggleCursors();
  void toggleDistinctColours();
  void showDocumentation();
  void showAbout();
  void deleteFromList();
  void renameCurrent();
  void editComment();
  void hideCursors();

 private:
  /// The import's file dialog (its folder kept in [Import] Folder); empty when cancelled.
  QStringList chooseImportFiles(const QString& caption);
  /// The import preview for the first of the files; on OK all of them are
  /// imported with its choices, which are kept for files like the first when
  /// its box is checked (and forgotten when it is unchecked).
  void importWithOptions(const QStringList& paths);
  /// Imports with settings; useRemembered: each file whose kind has settings
  /// kept ("Use for files like this") is read with them instead. Files in a
  /// row that are read alike are one history line.
  void importInRuns(const QStringList& paths, const ImportSettings& settings, bool useRemembered);
  void saveMoment(int order);
  void previewMoments();
  void pickerSave();
  /// The Measure window follows the cursors, the selection and every command.
  void refreshMeasure();
  void pickerClear();
  /// The Fit, Baseline and Remove spikes windows and their requests.
  void createFitWindows();
  void showToolWindow(QDialog* window);
  /// The open tool windows follow the current graph and the cursors.
  void refreshFitTools();
  /// Fit (the current graph) or Fit selected graphs, from the Fit window.
  void fitFromWindow(bool selectedGraphs);
  /// Adds the last fit's model (0), residual (1) or components (2) as graphs.
  void addFitGraphsFromWindow(int what);
  void saveFitTableFromWindow();
  /// The chosen parameter of the last fit against the series parameter, as a new graph.
  void plotFitParameter();
  void applyBaseline();
  void applyDespike();
  /// New graphs from slot `before` on join the list; the chart shows them.
  void addGraphsToList(std::size_t before);
  /// A history line varnix-cli cannot repeat ends the repeatable history.
  void recordUnrepeatable(const std::string& what);
  void colorsApply();
  void colorsDefaults();

  UserPrompts& m_prompts;
  SettingsFile& m_settings;
  QStringList m_arguments;
  bool m_shownOnce = false;
  Session m_session;
  GraphStore& m_store = m_session.store();
  MomentsTable& m_table = m_session.momentsTable();
  ColourSettings m_colours;

  ChartView* m_chart;
  ChartView* m_print;
  QListWidget* m_list;
  QPushButton* m_addFiles;
  bool m_askingToExit = false;
  bool m_exitQueued = false;     ///< a close request waits for "Exit now?"
  bool m_exitConfirmed = false;  ///< Yes was answered: the next close goes through
  bool m_distinctColours = false;
  bool m_measurePlaced = false;
  bool m_followFiles = false;
  std::vector<std::string> m_history;
  bool m_historyCut = false;  ///< a command could not be recorded
  bool m_running = false;     ///< a command is running (run() is on the stack)
  QAction* m_followAction = nullptr;
  QFileSystemWatcher* m_watcher = nullptr;
  QTimer* m_settle = nullptr;
  QSet<QString> m_changedFiles;
  static constexpr qint64 kFollowLatencyMs = 1000;  ///< a changing file is shown this often
  int m_settleMs = 400;                             ///< quiet time before a changed file is read
  QElapsedTimer m_changesPending;                   ///< since the first change not yet read
  static constexpr const char* kFollowKey = "Follow files";
  QAction* m_distinctAction = nullptr;
  static constexpr const char* kViewSection = "View";
  static constexpr const char* kImportSection = "Import";
  static constexpr const char* kImportFolderKey = "Folder";
  static constexpr const char* kDistinctKey = "Distinct colours and legend";
  QFrame* m_readoutFrame;
  QLabel* m_lx;
  QLabel* m_ly;
  QProgressBar* m_progress;
  QFrame* m_infoFrame;
  QLabel* m_info;
  QMap<QString, QAction*> m_actions;
  QAction* m_undoAction = nullptr;
  QAction* m_scaleAction = nullptr;
  QAction* m_animatedAction = nullptr;

  // Cursor state.
  int m_cursor1 = 0, m_cursor2 = 0;
  int m_drawn1 = 0, m_drawn2 = 0;
  bool m_cursorsShown = true;

  AboutBox* m_about = nullptr;
  ImportSummaryWindow* m_importSummary = nullptr;
  ImportPreviewDialog* m_importPreview = nullptr;
  OpenFilesDialog* m_open = nullptr;
  CursorsWindow* m_cursors = nullptr;
  ColorsDialog* m_colorsDialog = nullptr;
  RenameDialog* m_rename = nullptr;
  CommentDialog* m_comment = nullptr;
  SimpleMathDialog* m_simpleMath = nullptr;
  SlicerDialog* m_slicer = nullptr;
  SimpleMathXDialog* m_simpleMathX = nullptr;
  LabelsDialog* m_labels = nullptr;
  CalculateMomentsDialog* m_calcMoments = nullptr;
  MomentsPreview* m_momentsPreview = nullptr;
  MathOnGraphsDialog* m_mathOnGraphs = nullptr;
  PickerWindow* m_picker = nullptr;
  MomentsDialog* m_moments = nullptr;
  MathDialog* m_math = nullptr;
  MeasureWindow* m_measure = nullptr;
  FitWindow* m_fitWindow = nullptr;
  BaselineWindow* m_baselineWindow = nullptr;
  DespikeWindow* m_despikeWindow = nullptr;
};

}  // namespace varnix
