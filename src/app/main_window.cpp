#include "app/main_window.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
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
#include <initializer_list>

#include "app/baseline_window.h"
#include "app/fit_window.h"
#include "app/measure_window.h"
#include "app/qt_text.h"
#include "expr/math_commands.h"
#include "processing/delete_point.h"
#include "processing/point_transforms.h"
#include "processing/slicer.h"
#include "processing/smoothing.h"
#include "view/colour.h"
#include "workspace/data_file_reader.h"
#include "workspace/data_file_writer.h"
#include "workspace/error.h"
#include "workspace/file_association.h"
#include "workspace/file_io.h"
#include "workspace/graph_list_commands.h"
#include "workspace/number_text.h"
#include "workspace/palette.h"
#include "workspace/print_copy.h"
#include "workspace/version.h"

namespace varnix {

MainWindow::MainWindow(UserPrompts& prompts, SettingsFile& settings, const QStringList& arguments,
                       QWidget* parent)
    : QMainWindow(parent), m_prompts(prompts), m_settings(settings), m_arguments(arguments) {
  setWindowTitle("Varnix");
  QLocale::setDefault(QLocale::c());  // '.' as decimal separator, no grouping
  auto* central = new QWidget(this);
  setCentralWidget(central);
  m_chart = new ChartView(central);
  // The chart draws the store's points; it keeps no copy of its own.
  m_chart->setSeriesSource([this](int i) -> const Series* {
    const auto slot = static_cast<std::size_t>(i);
    return slot < m_store.count() ? &m_store.series(slot) : nullptr;
  });
  m_print = new ChartView(nullptr);
  m_print->setParent(this);
  m_print->hide();
  m_print->resize(800, 600);
  m_print->usePrintLook();
  m_list = new QListWidget(central);
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  QFont listFont("Arial");
  listFont.setPixelSize(13);
  listFont.setBold(true);
  m_list->setFont(listFont);
  m_list->setStyleSheet(
      "QListWidget { background: black; color: lime; }"
      "QListWidget::item { height: 16px; }");
  m_list->setContextMenuPolicy(Qt::ActionsContextMenu);
  m_addFiles = new QPushButton("Add Files", central);
  m_readoutFrame = new QFrame(central);
  m_readoutFrame->setFrameStyle(QFrame::Panel | QFrame::Raised);
  m_lx = new QLabel("X= xxx.xxx", m_readoutFrame);
  m_ly = new QLabel("Y= xxx.xxx", m_readoutFrame);
  QFont readout("Arial");
  readout.setPixelSize(13);
  readout.setBold(true);
  m_lx->setFont(readout);
  m_ly->setFont(readout);
  m_lx->setStyleSheet("color: black;");
  m_ly->setStyleSheet("color: navy;");
  m_progress = new QProgressBar(central);
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
  m_progress->setTextVisible(false);
  m_infoFrame = new QFrame(central);
  m_infoFrame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  m_info = new QLabel(QString("%1 %2").arg(kProgramName, kVersion), central);
  buildMenus();
  setAcceptDrops(true);

  m_colours = readColours(m_settings);
  m_distinctColours = m_settings.readInteger(kViewSection, kDistinctKey, 0) != 0;
  m_followFiles = m_settings.readInteger(kViewSection, kFollowKey, 0) != 0;
  m_watcher = new QFileSystemWatcher(this);
  m_settle = new QTimer(this);
  m_settle->setSingleShot(true);
  m_settle->setInterval(m_settleMs);
  connect(m_watcher, &QFileSystemWatcher::fileChanged, this,
          [this](const QString& path) { fileChangedOnDisk(path); });
  connect(m_watcher, &QFileSystemWatcher::directoryChanged, this,
          [this](const QString& folder) { folderChangedOnDisk(folder); });
  connect(m_settle, &QTimer::timeout, this, [this] { followChangedFiles(); });
  m_store.setColours(m_colours.graphs, m_colours.highlight);
  applyColours();
  m_store.setUndoEnabled(false);
  refreshUndo();

  connect(m_addFiles, &QPushButton::clicked, this,
          [this] { run([this] { addFilesFromDialog(); }); });
  connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { run([this] { highlight(); }); });
  connect(m_chart, &ChartView::mouseMoved, this, &MainWindow::chartMouseMoved);
  connect(m_chart, &ChartView::mousePressed, this, &MainWindow::chartMouseDown);
  connect(m_chart, &ChartView::drawn, this, &MainWindow::afterDraw);
  m_list->installEventFilter(this);

  createWindows(arguments.size() > 1 && !arguments.at(1).isEmpty());

  resize(587, 433);
  if (QScreen* s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
}

// --- menus ------------------------------------------------------------------

QAction* MainWindow::addAction(QMenu* menu, const QString& caption, const QKeySequence& key,
                               void (MainWindow::*handler)()) {
  auto* a = new QAction(caption, this);
  if (!key.isEmpty()) a->setShortcut(key);
  a->setShortcutContext(Qt::WindowShortcut);
  connect(a, &QAction::triggered, this, [this, handler] { run([&] { (this->*handler)(); }); });
  if (menu) menu->addAction(a);
  QMainWindow::addAction(a);
  m_actions.insert(caption, a);
  return a;
}

void MainWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  addAction(file, "Add Files", QKeySequence(Qt::Key_A), &MainWindow::addFilesFromDialog);
  addAction(file, "Import...", QKeySequence(Qt::CTRL | Qt::Key_I), &MainWindow::importFromDialog);
  addAction(file, "Import with options...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I),
            &MainWindow::importWithOptionsFromDialog);
  addAction(file, "Save", QKeySequence(Qt::Key_F2), &MainWindow::save);
  addAction(file, "Save As", {}, &MainWindow::saveAs);
  addAction(file, "Save Selected ", QKeySequence(Qt::Key_S), &MainWindow::saveSelected);
  addAction(file, "Delete All", QKeySequence(Qt::CTRL | Qt::Key_Delete), &MainWindow::deleteAll);
  file->addSeparator();
  addAction(file, "Print...", QKeySequence(Qt::CTRL | Qt::Key_P), &MainWindow::print);
  addAction(file, "Export picture...", {}, &MainWindow::exportPicture);
  file->addSeparator();
  addAction(file, "Run script...", {}, &MainWindow::runScript);
  addAction(file, "Save session as script...", {}, &MainWindow::saveSessionScript);
  file->addSeparator();
  addAction(file, "Exit", QKeySequence(Qt::Key_Escape), &MainWindow::exitCommand);

  QMenu* view = menuBar()->addMenu("&View");
  addAction(view, "Copy to clipboard", QKeySequence(Qt::CTRL | Qt::Key_C),
            &MainWindow::copyToClipboard);
  addAction(view, "Rescale", QKeySequence(Qt::Key_R), &MainWindow::rescale);
  addAction(view, "Zoom Out", QKeySequence(Qt::Key_Z), &MainWindow::zoomOut);
  addAction(view, "Zoom In", QKeySequence(Qt::Key_X), &MainWindow::zoomIn);
  addAction(view, "Increase Y scale", QKeySequence(Qt::Key_PageUp), &MainWindow::increaseYScale);
  addAction(view, "Decrease Y scale", QKeySequence(Qt::Key_PageDown), &MainWindow::decreaseYScale);
  addAction(view, "Zoom between cursors", QKeySequence(Qt::Key_W), &MainWindow::zoomBetweenCursors);
  addAction(view, "3D View", {}, &MainWindow::toggle3DView);
  m_scaleAction = addAction(view, "Log Scale", {}, &MainWindow::toggleLogScale);
  addAction(view, "Select All", QKeySequence(Qt::CTRL | Qt::Key_A), &MainWindow::selectAll);
  m_animatedAction = addAction(view, "Animated Zoom", {}, &MainWindow::toggleAnimatedZoom);
  m_animatedAction->setCheckable(true);

  QMenu* tools = menuBar()->addMenu("&Tools");
  m_undoAction = addAction(tools, "Undo", QKeySequence(Qt::CTRL | Qt::Key_Z), &MainWindow::undo);
  addAction(tools, "eV<=>A", QKeySequence(Qt::Key_F3), &MainWindow::convertEvAngstrom);
  addAction(tools, "eV<=>nm (keep area)", QKeySequence(Qt::SHIFT | Qt::Key_F3),
            &MainWindow::convertEvNanometre);
  QMenu* functions = tools->addMenu("Functions");
  addAction(functions, "Filin", QKeySequence(Qt::Key_F), &MainWindow::applyFilin);
  addAction(functions, "Ln", QKeySequence(Qt::Key_L), &MainWindow::applyLn);
  addAction(functions, "Exp", QKeySequence(Qt::Key_E), &MainWindow::applyExp);
  addAction(tools, "Normalize", QKeySequence(Qt::Key_N), &MainWindow::normalize);
  addAction(tools, "Normalize integral", QKeySequence(Qt::Key_I), &MainWindow::normalizeIntegral);
  addAction(tools, "Remove constant shelf", QKeySequence(Qt::Key_C),
            &MainWindow::removeConstantShelf);
  addAction(tools, "Calculate Moments", QKeySequence(Qt::Key_M), &MainWindow::calculateMoments);
  addAction(tools, "Slicing", {}, &MainWindow::showSlicer);
  addAction(tools, "Math on y and x", QKeySequence(Qt::Key_Y), &MainWindow::showMathOnYX);
  addAction(tools, "Simple math on y", QKeySequence(Qt::Key_Apostrophe),
            &MainWindow::showSimpleMathOnY);
  addAction(tools, "Simple math on x", QKeySequence(Qt::Key_Semicolon),
            &MainWindow::showSimpleMathOnX);
  addAction(tools, "Math on graphs", QKeySequence(Qt::Key_F4), &MainWindow::showMathOnGraphs);
  addAction(tools, "Picker", QKeySequence(Qt::Key_P), &MainWindow::showPicker);
  addAction(tools, "Measure", QKeySequence(Qt::Key_G), &MainWindow::showMeasure);
  addAction(tools, "Reload from disk", QKeySequence(Qt::Key_F5), &MainWindow::reloadFromDisk);
  addAction(tools, "DISPO smoothing", QKeySequence(Qt::Key_F10), &MainWindow::dispoSmoothing);
  addAction(tools, "Delete point at cursor", QKeySequence(Qt::Key_D),
            &MainWindow::deletePointAtCursor);
  tools->addSeparator();
  addAction(tools, "Fit...", QKeySequence(Qt::CTRL | Qt::Key_F), &MainWindow::showFit);
  addAction(tools, "Baseline...", QKeySequence(Qt::CTRL | Qt::Key_B), &MainWindow::showBaseline);
  addAction(tools, "Remove spikes...", QKeySequence(Qt::CTRL | Qt::Key_R),
            &MainWindow::showDespike);

  QMenu* options = menuBar()->addMenu("&Options");
  addAction(options, "Labels", {}, &MainWindow::showLabels);
  addAction(options, "Colors", {}, &MainWindow::showColors);
  addAction(options, "Associate .dat files", {}, &MainWindow::associateFiles);
  addAction(options, "Show Cursors", {}, &MainWindow::toggleCursors);
  m_distinctAction =
      addAction(options, "Distinct colours and legend", {}, &MainWindow::toggleDistinctColours);
  m_distinctAction->setCheckable(true);
  m_distinctAction->setChecked(m_distinctColours);
  m_followAction = addAction(options, "Follow files", {}, &MainWindow::toggleFollowFiles);
  m_followAction->setCheckable(true);
  m_followAction->setChecked(m_followFiles);

  QMenu* help = menuBar()->addMenu("&Help");
  addAction(help, "Documentation", QKeySequence(Qt::Key_F1), &MainWindow::showDocumentation);
  addAction(help, "About", {}, &MainWindow::showAbout);

  // The graph list's pop-up menu; its keys act in the whole window.
  auto popup = [this](const QString& caption, const QKeySequence& key, void (MainWindow::*h)()) {
    auto* a = new QAction(caption, m_list);
    a->setShortcut(key);
    a->setShortcutContext(key.isEmpty() ? Qt::WidgetShortcut : Qt::WindowShortcut);
    connect(a, &QAction::triggered, this, [this, h] { (this->*h)(); });
    m_list->addAction(a);
    m_actions.insert("popup:" + caption, a);
  };
  // The View menu's own Select All: the pop-up shows its Ctrl+A, and one
  // action holds the key (two would make it ambiguous).
  QAction* selectAll = m_actions.value("Select All");
  m_list->addAction(selectAll);
  m_actions.insert("popup:Select All", selectAll);
  popup("Add Files to list", QKeySequence(Qt::Key_Insert), &MainWindow::addFilesFromDialog);
  popup("Delete from list", QKeySequence(Qt::Key_Delete), &MainWindow::deleteFromList);
  popup("Rename", QKeySequence(Qt::Key_F6), &MainWindow::renameCurrent);
  popup("Save As", {}, &MainWindow::saveAs);
  for (QAction* a : m_list->actions())
    if (a != selectAll) QMainWindow::addAction(a);
}

void MainWindow::createWindows(bool haveArgument) {
  m_about = new AboutBox(this);
  m_importSummary = new ImportSummaryWindow(this);
  m_importPreview = new ImportPreviewDialog(this);
  connect(m_importSummary, &ImportSummaryWindow::optionsRequested, this,
          [this](const QString& path) { run([&] { importWithOptions({path}); }); });
  m_open = new OpenFilesDialog(this, m_settings, !haveArgument);
  m_cursors = new CursorsWindow(this);
  connect(m_cursors, &CursorsWindow::hideRequested, this,
          [this] { run([this] { hideCursors(); }); });
  m_colorsDialog = new ColorsDialog(this);
  m_colorsDialog->fill(m_colours);
  connect(m_colorsDialog, &ColorsDialog::applyRequested, this,
          [this] { run([this] { colorsApply(); }); });
  connect(m_colorsDialog, &ColorsDialog::defaultsRequested, this,
          [this] { run([this] { colorsDefaults(); }); });
  m_rename = new RenameDialog(this);
  m_comment = new CommentDialog(this);
  m_simpleMath = new SimpleMathDialog(this, m_prompts);
  m_slicer = new SlicerDialog(this, m_prompts);
  m_simpleMathX = new SimpleMathXDialog(this);
  m_labels = new LabelsDialog(this);
  m_calcMoments = new CalculateMomentsDialog(this);
  connect(m_calcMoments, &CalculateMomentsDialog::saveRequested, this,
          [this](int order) { run([this, order] { saveMoment(order); }); });
  connect(m_calcMoments, &CalculateMomentsDialog::parameterChanged, this, [this] {
    run([this] {
      applySeriesParameter(m_table, SeriesParameter(ss(m_calcMoments->parameter())));
      m_calcMoments->fill(m_table);
    });
  });
  connect(m_calcMoments, &CalculateMomentsDialog::previewRequested, this,
          [this] { run([this] { previewMoments(); }); });
  m_momentsPreview = new MomentsPreview(this);
  m_mathOnGraphs = new MathOnGraphsDialog(this);
  m_picker = new PickerWindow(this);
  connect(m_picker, &PickerWindow::saveRequested, this, [this] { run([this] { pickerSave(); }); });
  connect(m_picker, &PickerWindow::clearRequested, this,
          [this] { run([this] { pickerClear(); }); });
  m_moments = new MomentsDialog(this);
  m_math = new MathDialog(this);
  m_measure = new MeasureWindow(this);
  connect(m_measure, &MeasureWindow::copyRequested, this,
          [this] { run([this] { QApplication::clipboard()->setText(qs(m_measure->text())); }); });
  connect(m_measure, &MeasureWindow::saveRequested, this, [this] {
    run([this] {
      const QString path = m_prompts.saveFileName(dataFolder());
      if (!path.isEmpty()) writeAndReport(ss(path), m_measure->text(), messageFn());
    });
  });
  connect(m_list, &QListWidget::itemSelectionChanged, this, [this] { refreshMeasure(); });
  connect(m_list, &QListWidget::currentRowChanged, this, [this] { refreshMeasure(); });
  createFitWindows();
}

// --- start-up, layout and shut-down -----------------------------------------

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (m_shownOnce) return;
  m_shownOnce = true;
  m_cursors->show();
  loadCommandLineFile();
}

void MainWindow::loadCommandLineFile() {
  if (m_arguments.size() < 2) return;
  const QString a = m_arguments.at(1);
  if (a.isEmpty()) return;
  if (!QFileInfo::exists(a)) {
    m_prompts.message(a + " doesn't exist.Use \" to wrap  long file names containing spaces");
    return;
  }
  record(cli::ScriptLine("load").path(ss(a)));
  run([&] {
    const std::size_t before = m_store.count();
    m_session.loadFile(ss(a), messageFn());
    for (std::size_t i = before; i < m_store.count(); ++i)
      m_list->addItem(qs(m_store.graph(i).name));
    syncChart();
    m_chart->redraw();
  });
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  const int W = centralWidget()->width(), H = centralWidget()->height();
  m_chart->setGeometry(2, 2, std::max(0, W - 184), std::max(0, H - 22));
  m_list->setGeometry(W - 180, 38, 177, std::max(0, H - 84));
  m_addFiles->setGeometry(W - 180, H - 44, 179, 24);
  m_readoutFrame->setGeometry(W - 180, 2, 177, 36);
  m_lx->setGeometry(5, 2, 170, 16);
  m_ly->setGeometry(5, 18, 170, 16);
  m_progress->setGeometry(2, H - 18, 95, 16);
  m_infoFrame->setGeometry(98, H - 18, std::max(0, W - 99), 16);
  m_info->setGeometry(106, H - 18, std::max(0, W - 110), 16);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (m_exitConfirmed) {
    event->accept();
    // The tool windows go with the main window; the program ends.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    return;
  }
  // "Exit now?" is asked outside close handling: while Qt is inside a close,
  // a second close request from the window manager would end the program
  // without calling this handler.
  event->ignore();
  if (!m_exitQueued && !m_askingToExit) {
    m_exitQueued = true;
    QTimer::singleShot(0, this, [this] {
      m_exitQueued = false;
      exitProgram();
    });
  }
}

void MainWindow::exitCommand() {
  // Esc reaches this command from the analysis windows too: there it closes
  // the window it was pressed in, never the program.
  QWidget* active = QApplication::activeWindow();
  for (QDialog* tool :
       std::initializer_list<QDialog*>{m_measure, m_fitWindow, m_baselineWindow, m_despikeWindow})
    if (tool && tool == active) {
      tool->close();
      activateWindow();
      return;
    }
  exitProgram();
}

void MainWindow::exitProgram() {
  // One question at a time: a close request while it is open is ignored.
  if (m_askingToExit) return;
  m_askingToExit = true;
  const bool yes = m_prompts.question("Exit now?") == UserPrompts::Answer::Yes;
  m_askingToExit = false;
  if (!yes) return;
  m_exitConfirmed = true;
  close();
}

// --- helpers ----------------------------------------------------------------

Selection MainWindow::selection() {
  pullSelection();
  return m_session.selection();
}

QString MainWindow::dataFolder() const {
  const Selection s = listSelection();
  if (s.current >= m_store.count()) return {};
  const QFileInfo file(qs(m_store.graph(s.current).path));
  return file.isAbsolute() && file.dir().exists() ? file.absolutePath() : QString();
}

Selection MainWindow::listSelection() const {
  Selection s;
  for (int r = 0; r < m_list->count(); ++r)
    if (m_list->item(r)->isSelected()) s.rows.push_back(static_cast<std::size_t>(r));
  s.current = m_list->currentRow() < 0 ? 0 : static_cast<std::size_t>(m_list->currentRow());
  return s;
}

void MainWindow::pullSelection() {
  m_session.selectOnly(listSelection().rows);
  const int f = m_list->currentRow();
  m_session.setFocusRow(f < 0 ? std::nullopt : std::optional<std::size_t>(f));
}

void MainWindow::pushSelection() {
  const std::optional<std::size_t> f = m_session.focusRow();
  const int focus = f ? static_cast<int>(*f) : -1;
  if (m_list->currentRow() != focus) m_list->setCurrentRow(focus, QItemSelectionModel::NoUpdate);
  for (int r = 0; r < m_list->count(); ++r) {
    const bool on = m_session.isSelected(static_cast<std::size_t>(r));
    if (m_list->item(r)->isSelected() != on) m_list->item(r)->setSelected(on);
  }
}

void MainWindow::showInformation() {
  m_info->setText(qs(m_session.information()));
}

bool MainWindow::run(const std::function<void()>& command) {
  QString failure;
  const bool outer = !m_running;
  m_running = true;
  try {
    command();
  } catch (const Error& e) {
    failure = qs(e.what());
  } catch (const std::bad_alloc&) {
    failure = "Not enough memory for this command; it was stopped";
  }
  if (outer) m_running = false;
  if (!failure.isEmpty()) {
    // What the command did before the error stays; the chart shows it.
    m_chart->setCrosshairCursor();
    setProgress(0);
    syncChart();
    m_chart->redraw();
    refreshUndo();
    m_prompts.error(failure);
    refreshMeasure();
    return false;
  }
  refreshUndo();
  refreshMeasure();
  return true;
}

void MainWindow::syncChart() {
  for (std::size_t i = 0; i < m_store.count(); ++i)
    m_chart->showSeries(static_cast<int>(i), seriesColour(i, false));
  m_chart->truncateSeries(static_cast<int>(m_store.count()));
  showDistinctLook();
  watchSourceFiles();
}

void MainWindow::syncSlots(const std::vector<std::size_t>& changed) {
  for (std::size_t i : changed)
    if (i < m_store.count()) m_chart->showSeries(static_cast<int>(i), seriesColour(i, false));
}

void MainWindow::setSettleDelay(int ms) {
  m_settleMs = ms;
  m_settle->setInterval(ms);
}

void MainWindow::record(const cli::ScriptLine& line) {
  if (!line.recordable()) m_historyCut = true;
  m_history.push_back(line.recordable() && m_historyCut ? "# skipped: " + line.text()
                                                        : line.text());
}

void MainWindow::recordOn(const Selection& s, const cli::ScriptLine& line) {
  if (line.recordable()) {
    cli::ScriptLine select("select");
    if (s.rows.empty()) select.word("none");
    for (std::size_t r : s.rows) select.count(r);
    record(select);
    if (s.current < m_store.count()) record(cli::ScriptLine("current").count(s.current));
  }
  record(line);
}

std::string MainWindow::sessionScript() const {
  std::string text = "# Varnix session, " + ss(QDateTime::currentDateTime().toString(Qt::ISODate)) +
                     ", " + kProgramName + " " + kVersion + "\r\n" +
                     "# Run it with: varnix-cli THIS_FILE\r\n";
  for (const std::string& line : m_history) text += line + "\r\n";
  return text;
}

void MainWindow::recolourSeries() {
  for (std::size_t i = 0; i < m_store.count(); ++i)
    m_chart->setSeriesColour(static_cast<int>(i), seriesColour(i, false));
  showDistinctLook();
}

bool MainWindow::isHighlighted(std::size_t i) const {
  return i < m_store.count() && i == m_store.highlightedIndex() &&
         m_store.graph(i).colour == m_store.highlightColour();
}

Colour MainWindow::seriesColour(std::size_t i, bool print) const {
  if (!m_distinctColours || isHighlighted(i)) return m_store.graph(i).colour;
  return distinctColour(i, print);
}

void MainWindow::showDistinctLook() {
  QStringList names;
  for (int r = 0; r < m_list->count(); ++r) {
    QListWidgetItem* item = m_list->item(r);
    if (m_distinctColours) {
      QPixmap swatch(12, 12);
      swatch.fill(toQColor(seriesColour(static_cast<std::size_t>(r), false)));
      item->setIcon(QIcon(swatch));
      names << item->text();
    } else if (!item->icon().isNull()) {
      item->setIcon(QIcon());
    }
  }
  int top = -1;
  for (std::size_t i = 0; i < m_store.count() && m_distinctColours; ++i)
    if (isHighlighted(i)) top = static_cast<int>(i);
  m_chart->setTopSeries(top);
  m_chart->setLegend(names);
}

void MainWindow::refreshUndo() {
  m_undoAction->setEnabled(m_store.undoEnabled());
}

void MainWindow::setProgress(int p) {
  m_progress->setValue(p);
  m_progress->repaint();
}

ProgressFn MainWindow::progressFn() {
  return [this](int p) { setProgress(p); };
}

MessageFn MainWindow::messageFn() {
  return [this](const std::string& m) { m_prompts.message(qs(m)); };
}

ConfirmFn MainWindow::confirmFn() {
  return
      [this](const std::string& q) { return m_prompts.warning(qs(q)) == UserPrompts::Answer::Yes; };
}

// --- graph list -------------------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched != m_list) return QMainWindow::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress) {
    auto* e = static_cast<QKeyEvent*>(event);
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
      if (!(e->modifiers() & Qt::KeypadModifier) || e->key() == Qt::Key_Enter) {
        run([this] { editComment(); });
        return true;
      }
    }
    if ((e->key() == Qt::Key_Left || e->key() == Qt::Key_Right) && m_cursorsShown) {
      moveCursor(e->key() == Qt::Key_Right, e->modifiers() & ~Qt::KeypadModifier);
      return true;
    }
    if (e->modifiers() & Qt::KeypadModifier) {
      if (e->key() == Qt::Key_Plus) {
        run([this] { zoomIn(); });
        return true;
      }
      if (e->key() == Qt::Key_Minus) {
        run([this] { zoomOut(); });
        return true;
      }
    }
  } else if (event->type() == QEvent::KeyRelease) {
    if (!static_cast<QKeyEvent*>(event)->isAutoRepeat()) run([this] { highlight(); });
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::highlight() {
  if (m_store.empty()) return;
  const std::size_t c = selection().current;
  const std::size_t before = m_store.highlightedIndex();
  const bool unchanged =
      before == c && c < m_store.count() && m_store.graph(c).colour == m_store.highlightColour();
  m_session.highlight();
  showInformation();
  if (unchanged) return;  // nothing to repaint
  for (std::size_t i : {before, c})
    if (i < m_store.count()) m_chart->setSeriesColour(static_cast<int>(i), seriesColour(i, false));
  if (m_distinctColours) showDistinctLook();
  m_chart->redraw();
}

void MainWindow::editComment() {
  if (m_store.empty()) return;
  const std::size_t c = selection().current;
  Graph& g = m_store.graph(c);
  m_comment->setComment(qs(g.name), g.comments);
  if (m_comment->exec() == QDialog::Accepted) m_store.graph(c).comments = m_comment->lines();
  m_list->update();
}

void MainWindow::renameCurrent() {
  if (m_store.empty()) return;
  const std::size_t c = selection().current;
  m_rename->setName(qs(m_store.graph(c).name));
  if (m_rename->exec() != QDialog::Accepted) return;
  const QString n = m_rename->newName();
  recordOn(m_session.selection(), cli::ScriptLine("rename").arg(ss(n)));
  m_session.rename(ss(n));
  m_list->item(static_cast<int>(c))->setText(n);
  if (m_distinctColours) {
    showDistinctLook();
    m_chart->redraw();
  }
}

void MainWindow::deleteFromList() {
  if (m_store.empty()) return;
  pullSelection();
  recordOn(m_session.selection(), cli::ScriptLine("delete"));
  const std::optional<std::size_t> removed = m_session.deleteFromList();
  if (!removed) return;
  delete m_list->takeItem(static_cast<int>(*removed));
  m_chart->removeSeries(static_cast<int>(*removed));
  pushSelection();
  if (m_distinctColours) recolourSeries();
  showInformation();
  refreshUndo();
  m_chart->redraw();
}

void MainWindow::deleteAll() {
  if (!m_session.deleteAll(confirmFn())) return;
  record(cli::ScriptLine("delete-all"));
  m_list->clear();
  m_chart->truncateSeries(0);
  showInformation();
  m_chart->redraw();
  refreshUndo();
}

void MainWindow::selectAll() {
  m_list->setUpdatesEnabled(false);
  m_list->hide();
  m_list->selectAll();
  m_list->show();
  m_list->setUpdatesEnabled(true);
  m_list->setFocus();
}

void MainWindow::undo() {
  if (!m_store.undoEnabled()) return;
  pullSelection();
  record(cli::ScriptLine("undo"));
  const std::vector<std::size_t> rows = m_session.undo();
  pushSelection();
  syncSlots(rows);
  m_chart->redraw();
  refreshUndo();
}

// --- cursors and readouts ---------------------------------------------------

void MainWindow::drawCursors() {
  m_chart->setCursorLines(m_cursor1, m_cursor2, m_cursorsShown);
}

void MainWindow::afterDraw() {
  if (!m_cursorsShown) return;
  drawCursors();
  updateReadouts(7);
}

void MainWindow::updateReadouts(int dxDigits) {
  const double a = m_chart->xAtColumn(m_cursor1), b = m_chart->xAtColumn(m_cursor2);
  m_cursors->setReadouts(readout(b, 7), readout(a, 7), "dx=" + readout(a - b, dxDigits));
}

void MainWindow::moveCursor(bool right, Qt::KeyboardModifiers mods) {
  const int sign = right ? 1 : -1;
  mods &= Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
  if (mods == Qt::NoModifier)
    m_cursor1 += sign;
  else if (mods == Qt::ControlModifier)
    m_cursor1 += 10 * sign;
  else if (mods == Qt::ShiftModifier)
    m_cursor2 += sign;
  else if (mods == (Qt::ShiftModifier | Qt::ControlModifier))
    m_cursor2 += 10 * sign;
  m_drawn1 = m_cursor1;
  m_drawn2 = m_cursor2;
  drawCursors();
  updateReadouts(right ? 5 : 7);
  refreshMeasure();
}

void MainWindow::toggleCursors() {
  m_cursorsShown = true;
  m_cursors->show();
  drawCursors();
  updateReadouts(7);
}

void MainWindow::hideCursors() {
  m_cursorsShown = false;
  m_cursors->hide();
  drawCursors();
}

void MainWindow::chartMouseMoved(int x, int y) {
  m_lx->setText("x = " + readout(m_chart->xAtColumn(x), 5));
  m_ly->setText("y = " + readout(m_chart->yAtRow(y), 5));
}

void MainWindow::chartMouseDown(int x, int y) {
  if (!m_picker->isVisible()) return;
  const QString px = number(m_chart->xAtColumn(x), 5), py = number(m_chart->yAtRow(y), 5);
  m_picker->pick(px, py);
}

}  // namespace varnix
