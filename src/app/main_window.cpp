#include "app/main_window.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
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

#include "expr/math_commands.h"
#include "processing/delete_point.h"
#include "processing/point_transforms.h"
#include "processing/slicer.h"
#include "processing/smoothing.h"
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

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}
std::string ss(const QString& s) {
  return s.toStdString();
}

QString number(double v, int digits) {
  return qs(formatDataNumber(v, digits));
}

const char* kIconSvg =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 64 64'>"
    "<rect width='64' height='64' rx='8' fill='black'/>"
    "<polyline points='4,52 14,50 22,40 28,14 34,44 42,48 50,30 60,50' fill='none' "
    "stroke='aqua' stroke-width='3'/>"
    "<line x1='28' y1='6' x2='28' y2='60' stroke='yellow' stroke-width='1.5'/>"
    "<line x1='42' y1='6' x2='42' y2='60' stroke='lime' stroke-width='1.5'/></svg>\n";

}  // namespace

MainWindow::MainWindow(UserPrompts& prompts, SettingsFile& settings, const QStringList& arguments,
                       QWidget* parent)
    : QMainWindow(parent), m_prompts(prompts), m_settings(settings), m_arguments(arguments) {
  setWindowTitle("Varnix");
  QLocale::setDefault(QLocale::c());  // '.' as decimal separator, no grouping
  auto* central = new QWidget(this);
  setCentralWidget(central);
  m_chart = new ChartView(central);
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
  addAction(file, "Save", QKeySequence(Qt::Key_F2), &MainWindow::save);
  addAction(file, "Save As", {}, &MainWindow::saveAs);
  addAction(file, "Save Selected ", QKeySequence(Qt::Key_S), &MainWindow::saveSelected);
  addAction(file, "Delete All", QKeySequence(Qt::CTRL | Qt::Key_Delete), &MainWindow::deleteAll);
  file->addSeparator();
  addAction(file, "Print...", QKeySequence(Qt::CTRL | Qt::Key_P), &MainWindow::print);
  addAction(file, "Export picture...", {}, &MainWindow::exportPicture);
  file->addSeparator();
  addAction(file, "Exit", QKeySequence(Qt::Key_Escape), &MainWindow::exitProgram);

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
  addAction(tools, "DISPO smoothing", QKeySequence(Qt::Key_F10), &MainWindow::dispoSmoothing);
  addAction(tools, "Delete point at cursor", QKeySequence(Qt::Key_D),
            &MainWindow::deletePointAtCursor);

  QMenu* options = menuBar()->addMenu("&Options");
  addAction(options, "Labels", {}, &MainWindow::showLabels);
  addAction(options, "Colors", {}, &MainWindow::showColors);
  addAction(options, "Associate .dat files", {}, &MainWindow::associateFiles);
  addAction(options, "Show Cursors", {}, &MainWindow::toggleCursors);

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
  m_open = new OpenFilesDialog(this, m_settings, !haveArgument);
  m_cursors = new CursorsWindow(this);
  connect(m_cursors->hideButton, &QPushButton::clicked, this,
          [this] { run([this] { hideCursors(); }); });
  m_colorsDialog = new ColorsDialog(this);
  m_colorsDialog->fill(m_colours);
  connect(m_colorsDialog->ok, &QPushButton::clicked, this, [this] {
    colorsApply();
    m_colorsDialog->accept();
  });
  connect(m_colorsDialog->apply, &QPushButton::clicked, this,
          [this] { run([this] { colorsApply(); }); });
  connect(m_colorsDialog->defaults, &QPushButton::clicked, this,
          [this] { run([this] { colorsDefaults(); }); });
  m_rename = new RenameDialog(this);
  m_comment = new CommentDialog(this);
  m_simpleMath = new SimpleMathDialog(this, m_prompts);
  m_slicer = new SlicerDialog(this, m_prompts);
  m_simpleMathX = new SimpleMathXDialog(this);
  m_labels = new LabelsDialog(this);
  m_calcMoments = new CalculateMomentsDialog(this);
  for (int i = 0; i < 4; ++i)
    connect(m_calcMoments->save[i], &QPushButton::clicked, this,
            [this, i] { run([this, i] { saveMoment(i); }); });
  connect(m_calcMoments->preview, &QPushButton::clicked, this,
          [this] { run([this] { previewMoments(); }); });
  m_momentsPreview = new MomentsPreview(this);
  m_mathOnGraphs = new MathOnGraphsDialog(this);
  m_picker = new PickerWindow(this);
  connect(m_picker->save, &QPushButton::clicked, this, [this] { run([this] { pickerSave(); }); });
  connect(m_picker->clear, &QPushButton::clicked, this, [this] { run([this] { pickerClear(); }); });
  m_moments = new MomentsDialog(this);
  m_math = new MathDialog(this);
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
  // Every way of closing asks first, one question at a time: a second close
  // request while "Exit now?" is open is ignored.
  if (m_askingToExit) {
    event->ignore();
    return;
  }
  m_askingToExit = true;
  const bool yes = m_prompts.question("Exit now?") == UserPrompts::Answer::Yes;
  m_askingToExit = false;
  if (!yes) {
    event->ignore();
    return;
  }
  event->accept();
  // The tool windows go with the main window; the program ends.
  QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

void MainWindow::exitProgram() {
  close();
}

// --- helpers ----------------------------------------------------------------

Selection MainWindow::selection() {
  pullSelection();
  return m_session.selection();
}

void MainWindow::pullSelection() {
  for (int r = 0; r < m_list->count(); ++r)
    m_session.setSelected(static_cast<std::size_t>(r), m_list->item(r)->isSelected());
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

void MainWindow::run(const std::function<void()>& command) {
  QString failure;
  try {
    command();
  } catch (const Error& e) {
    failure = qs(e.what());
  } catch (const std::bad_alloc&) {
    failure = "Not enough memory for this command; it was stopped";
  }
  if (!failure.isEmpty()) {
    // What the command did before the error stays; the chart shows it.
    m_chart->setCrosshairCursor();
    setProgress(0);
    syncChart();
    m_chart->redraw();
    refreshUndo();
    m_prompts.error(failure);
    return;
  }
  refreshUndo();
}

void MainWindow::syncChart() {
  for (std::size_t i = 0; i < m_store.count(); ++i)
    m_chart->setSeries(static_cast<int>(i), m_store.series(i), m_store.graph(i).colour);
  m_chart->truncateSeries(static_cast<int>(m_store.count()));
}

void MainWindow::syncSlots(const std::vector<std::size_t>& changed) {
  for (std::size_t i : changed)
    if (i < m_store.count())
      m_chart->setSeries(static_cast<int>(i), m_store.series(i), m_store.graph(i).colour);
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
    if (i < m_store.count()) m_chart->setSeriesColour(static_cast<int>(i), m_store.graph(i).colour);
  m_chart->redraw();
}

void MainWindow::editComment() {
  if (m_store.empty()) return;
  const std::size_t c = selection().current;
  Graph& g = m_store.graph(c);
  m_comment->setWindowTitle(" Comment for " + qs(g.name));
  QStringList lines;
  for (const std::string& l : g.comments) lines << qs(l);
  m_comment->text->setPlainText(lines.join('\n'));
  if (m_comment->exec() == QDialog::Accepted) {
    std::vector<std::string> out;
    const QString text = m_comment->text->toPlainText();
    if (!text.isEmpty())
      for (const QString& l : text.split('\n')) out.push_back(ss(l));
    m_store.graph(c).comments = std::move(out);
  }
  m_list->update();
}

void MainWindow::renameCurrent() {
  if (m_store.empty()) return;
  const std::size_t c = selection().current;
  m_rename->oldName->setText(qs(m_store.graph(c).name));
  m_rename->newName->setText(qs(m_store.graph(c).name));
  if (m_rename->exec() != QDialog::Accepted) return;
  const QString n = m_rename->newName->text();
  m_session.rename(ss(n));
  m_list->item(static_cast<int>(c))->setText(n);
}

void MainWindow::deleteFromList() {
  if (m_store.empty()) return;
  pullSelection();
  const std::optional<std::size_t> removed = m_session.deleteFromList();
  if (!removed) return;
  delete m_list->takeItem(static_cast<int>(*removed));
  m_chart->removeSeries(static_cast<int>(*removed));
  pushSelection();
  showInformation();
  refreshUndo();
  m_chart->redraw();
}

void MainWindow::deleteAll() {
  if (!m_session.deleteAll(confirmFn())) return;
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
  const std::vector<std::size_t> rows = m_session.undo();
  pushSelection();
  syncSlots(rows);
  m_chart->redraw();
  refreshUndo();
}

// --- files ------------------------------------------------------------------

void MainWindow::addFilesFromDialog() {
  m_open->clearChosen();
  if (m_open->exec() != QDialog::Accepted || m_open->chosenPaths().isEmpty()) return;
  addFiles(m_open->chosenPaths());
}

void MainWindow::addFiles(const QStringList& paths) {
  if (paths.isEmpty()) return;
  m_chart->setBusyCursor();
  std::vector<std::string> list;
  for (const QString& p : paths) list.push_back(ss(p));
  const std::size_t before = m_store.count();
  pullSelection();
  run([&] { m_session.addFiles(list, messageFn(), progressFn()); });
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

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& u : event->mimeData()->urls())
    if (u.isLocalFile()) paths << u.toLocalFile();
  addFiles(paths);
  event->acceptProposedAction();
}

void MainWindow::save() {
  if (m_store.empty()) return;
  pullSelection();
  m_session.save(confirmFn(), messageFn());
}

void MainWindow::saveAs() {
  if (m_store.empty()) return;
  const std::size_t c = selection().current;
  const QString path = m_prompts.saveFileName(qs(m_store.graph(c).path));
  if (path.isEmpty()) return;
  m_session.saveAs(ss(path), messageFn());
}

void MainWindow::saveSelected() {
  if (m_store.empty()) return;
  pullSelection();
  m_session.saveSelected(confirmFn(), messageFn());
  pushSelection();
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
  m_cursors->x1->setText(number(b, 7));
  m_cursors->x2->setText(number(a, 7));
  m_cursors->dx->setText("dx=" + number(a - b, dxDigits));
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
  m_lx->setText("x = " + number(m_chart->xAtColumn(x), 5));
  m_ly->setText("y = " + number(m_chart->yAtRow(y), 5));
}

void MainWindow::chartMouseDown(int x, int y) {
  if (!m_picker->isVisible()) return;
  const QString px = number(m_chart->xAtColumn(x), 5), py = number(m_chart->yAtRow(y), 5);
  const bool wantX = m_picker->pickX->isChecked(), wantY = m_picker->pickY->isChecked();
  if (wantX && wantY)
    m_picker->memo->appendPlainText(px + " " + py);
  else if (wantX)
    m_picker->memo->appendPlainText(px);
  else if (wantY)
    m_picker->memo->appendPlainText(py);
}

// --- view commands ----------------------------------------------------------

void MainWindow::rescale() {
  run([&] {
    if (!m_store.empty()) recomputeAllRanges(m_store);
    m_chart->setAxisAutomatic(ChartView::Axis::Bottom, true);
    m_chart->setAxisAutomatic(ChartView::Axis::Left, true);
    m_chart->undoZoom();
    // Undo zoom may bring back a fixed range; Rescale always ends fitted.
    m_chart->setAxisAutomatic(ChartView::Axis::Bottom, true);
    m_chart->setAxisAutomatic(ChartView::Axis::Left, true);
    m_chart->redraw();
  });
}

void MainWindow::zoomOut() {
  run([&] {
    m_chart->zoomBy(0.1L);
    m_chart->redraw();
  });
}

void MainWindow::zoomIn() {
  run([&] {
    m_chart->zoomBy(-0.1L);
    m_chart->redraw();
  });
}

void MainWindow::increaseYScale() {
  run([&] {
    m_chart->scaleYMaximum(-0.5L);
    m_chart->redraw();
  });
}

void MainWindow::decreaseYScale() {
  run([&] {
    m_chart->scaleYMaximum(0.5L);
    m_chart->redraw();
  });
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

void MainWindow::runCurveCommand(const std::function<void(const Selection&)>& command,
                                 bool fallsBackToCurrent) {
  run([&] {
    m_chart->setBusyCursor();
    const Selection s = selection();
    command(s);
    syncSlots(fallsBackToCurrent ? selectedOrCurrent(m_store, s) : s.rows);
    m_chart->setCrosshairCursor();
    m_chart->redraw();
  });
}

void MainWindow::normalize() {
  runCurveCommand([&](const Selection& s) { normalizeGraphs(m_store, s, progressFn()); });
}

void MainWindow::applyLn() {
  runCurveCommand([&](const Selection& s) { lnGraphs(m_store, s, progressFn()); });
}

void MainWindow::applyExp() {
  runCurveCommand([&](const Selection& s) { expGraphs(m_store, s, progressFn()); });
}

void MainWindow::applyFilin() {
  runCurveCommand([&](const Selection& s) { filinGraphs(m_store, s, progressFn()); });
}

void MainWindow::convertEvAngstrom() {
  bool done = false;
  runCurveCommand(
      [&](const Selection& s) {
        evAngstromGraphs(m_store, s);
        done = true;
      },
      true);
  if (done) rescale();  // a fault ends the command before Rescale
}

void MainWindow::removeConstantShelf() {
  runCurveCommand([&](const Selection& s) { removeShelfGraphs(m_store, s); }, true);
}

void MainWindow::normalizeIntegral() {
  runCurveCommand([&](const Selection& s) {
    varnix::normalizeIntegral(m_store, s, m_chart->axisMin(ChartView::Axis::Bottom),
                              m_chart->axisMax(ChartView::Axis::Bottom), progressFn());
  });
}

void MainWindow::dispoSmoothing() {
  runCurveCommand([&](const Selection& s) { dispoSmoothGraphs(m_store, s, progressFn()); });
}

void MainWindow::deletePointAtCursor() {
  if (m_store.empty()) return;
  run([&] {
    const std::size_t c = selection().current;
    varnix::deletePointAtCursor(m_store, c, m_chart->xAtColumn(m_cursor1));
    syncSlots({c});
    m_chart->redraw();
  });
}

// --- dialog commands --------------------------------------------------------

void MainWindow::calculateMoments() {
  const double L = m_chart->axisMin(ChartView::Axis::Bottom);
  const double U = m_chart->axisMax(ChartView::Axis::Bottom);
  if (m_store.empty()) return;
  std::optional<MomentsRun> result;
  run([&] { result = varnix::calculateMoments(m_store, selection(), L, U, m_table); });
  if (!result) {
    m_calcMoments->fill(m_table);
    return;
  }
  if (!result->isTable) {
    m_moments->from->setText(number(L, 7));
    m_moments->to->setText(number(U, 7));
    m_moments->m0->setText(qs(result->single.m0));
    m_moments->m1->setText(qs(result->single.m1));
    m_moments->d->setText(qs(result->single.d));
    m_moments->a->setText(qs(result->single.a));
    m_moments->exec();
  } else {
    m_calcMoments->fill(m_table);
    m_calcMoments->exec();
  }
}

void MainWindow::saveMoment(int order) {
  const QString path = m_prompts.saveFileName(QString());
  if (path.isEmpty()) return;
  run([&] { saveMomentFile(m_table, order, ss(path), messageFn()); });
}

void MainWindow::previewMoments() {
  auto [lower, upper] = varnix::momentsPreview(m_table);
  m_momentsPreview->lower->setSeries(0, lower, 65280);
  m_momentsPreview->upper->setSeries(0, upper, 65280);
  m_momentsPreview->lower->redraw();
  m_momentsPreview->upper->redraw();
  m_momentsPreview->show();
  m_momentsPreview->raise();
}

void MainWindow::showSlicer() {
  m_slicer->table->setRowCount(m_list->count());
  for (int r = 0; r < m_list->count(); ++r) {
    const std::string name = m_store.graph(static_cast<std::size_t>(r)).name;
    m_slicer->table->setItem(r, 0, new QTableWidgetItem(qs(name)));
    m_slicer->table->setItem(r, 1, new QTableWidgetItem(qs(digitsOf(name))));
  }
  if (m_slicer->exec() != QDialog::Accepted) return;
  SlicerFields f;
  f.from = ss(m_slicer->from->text());
  f.to = ss(m_slicer->to->text());
  f.step = ss(m_slicer->step->text());
  f.prefix = ss(m_slicer->prefix->text());
  f.suffix = ss(m_slicer->suffix->text());
  f.directory = ss(m_slicer->directory->text());
  f.decimals = ss(m_slicer->decimals->text());
  run([&] { sliceGraphs(m_store, f, messageFn()); });
}

void MainWindow::showMathOnYX() {
  if (m_store.empty()) return;
  if (m_math->exec() == QDialog::Accepted) {
    bool failed = true;
    run([&] {
      mathOnYX(m_store, selection(), ss(m_math->xFormula->text()), ss(m_math->yFormula->text()),
               progressFn());
      failed = false;
    });
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
  runCurveCommand(
      [&](const Selection& s) {
        simpleMathOnY(m_store, s, ss(m_simpleMath->b->text()), ss(m_simpleMath->a->text()),
                      ss(m_simpleMath->c->text()), ss(m_simpleMath->d->text()));
      },
      true);
}

void MainWindow::showSimpleMathOnX() {
  if (m_store.empty()) return;
  if (m_simpleMathX->exec() != QDialog::Accepted) return;
  runCurveCommand(
      [&](const Selection& s) {
        simpleMathOnX(m_store, s, ss(m_simpleMathX->b->text()), ss(m_simpleMathX->a->text()));
      },
      true);
}

void MainWindow::showMathOnGraphs() {
  if (!m_store.empty()) {
    const Selection s = selection();
    m_mathOnGraphs->in1->clearContents();
    m_mathOnGraphs->in1->setRowCount(std::max<int>(1, static_cast<int>(s.rows.size())));
    int row = 0;
    for (std::size_t r : s.rows)
      m_mathOnGraphs->in1->setItem(row++, 0, new QTableWidgetItem(qs(m_store.graph(r).name)));
    m_mathOnGraphs->secondGraph->clear();
    for (int r = 0; r < m_list->count(); ++r)
      m_mathOnGraphs->secondGraph->addItem(m_list->item(r)->text());
    m_mathOnGraphs->secondGraph->setCurrentRow(-1);
    m_mathOnGraphs->secondGraph->clearSelection();
    if (m_mathOnGraphs->exec() == QDialog::Accepted) {
      std::optional<std::size_t> second;
      const auto picked = m_mathOnGraphs->secondGraph->selectedItems();
      if (!picked.isEmpty())
        second = static_cast<std::size_t>(m_mathOnGraphs->secondGraph->row(picked.first()));
      run([&] { mathOnGraphs(m_store, s, m_mathOnGraphs->operation(), second, messageFn()); });
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

void MainWindow::pickerSave() {
  const QString path = m_prompts.saveFileName(QString());
  if (path.isEmpty()) return;
  QString text = m_picker->memo->toPlainText();
  std::string out;
  if (!text.isEmpty())
    for (const QString& l : text.split('\n')) out += ss(l) + "\r\n";
  writeAndReport(ss(path), out, messageFn());
}

void MainWindow::pickerClear() {
  if (m_prompts.question("Clear All?") == UserPrompts::Answer::Yes) m_picker->memo->clear();
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
  for (std::size_t i = 0; i < m_store.count(); ++i)
    m_chart->setSeriesColour(static_cast<int>(i), m_colours.graphs);
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
  for (ChartView* c : {m_chart, m_print}) {
    c->setAxisTitle(ChartView::Axis::Left, m_labels->left->text());
    c->setAxisTitle(ChartView::Axis::Bottom, m_labels->bottom->text());
  }
  if (m_labels->title->isChecked())
    m_chart->setTitle(m_labels->memo->toPlainText().split('\n'), true);
  else
    m_chart->setTitle(m_chart->titleLines(), false);
  m_chart->redraw();
}

// --- output -----------------------------------------------------------------

void MainWindow::rebuildPrintChart() {
  m_print->truncateSeries(0);
  m_print->setTitle(m_chart->titleLines(), m_chart->titleVisible());
  const bool log = m_chart->axisLogarithmic(ChartView::Axis::Left);
  if (m_print->axisLogarithmic(ChartView::Axis::Left) != log) {
    // Switching on needs a range without negative ends; the chart refits anyway.
    m_print->setAxisMin(ChartView::Axis::Left, 0);
    if (m_print->axisMax(ChartView::Axis::Left) < 0) m_print->setAxisMax(ChartView::Axis::Left, 1);
    m_print->setAxisLogarithmic(ChartView::Axis::Left, log);
  }
  const double bx0 = m_chart->axisMin(ChartView::Axis::Bottom);
  const double bx1 = m_chart->axisMax(ChartView::Axis::Bottom);
  const double ly0 = m_chart->axisMin(ChartView::Axis::Left);
  const double ly1 = m_chart->axisMax(ChartView::Axis::Left);
  for (std::size_t i = 0; i < m_store.count(); ++i)
    m_print->setSeries(static_cast<int>(i), printCopy(m_store.series(i), bx0, bx1, ly0, ly1, log),
                       0);
  m_print->setAxisAutomatic(ChartView::Axis::Bottom, true);
  m_print->setAxisAutomatic(ChartView::Axis::Left, true);
}

void MainWindow::print() {
  rebuildPrintChart();
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() != QDialog::Accepted) return;
  printChart(printer);
}

void MainWindow::printChart(QPrinter& printer) {
  // Landscape for this page; the printer's orientation is put back after.
  const auto orientation = printer.pageLayout().orientation();
  printer.setPageOrientation(QPageLayout::Landscape);
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
  // Laid out as on a 96 dpi screen and scaled to the printer's dots, so
  // fonts and lines keep their screen size on paper.
  m_print->renderTo(&printer, page.width(), page.height(), printer.resolution() / 96.0);
  printer.setPageOrientation(orientation);
}

void MainWindow::copyToClipboard() {
  rebuildPrintChart();
  m_print->resize(640, 480);
  QByteArray svg;
  {
    QBuffer buffer(&svg);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator gen;
    gen.setOutputDevice(&buffer);
    gen.setSize(QSize(640, 480));
    gen.setViewBox(QRect(0, 0, 640, 480));
    m_print->renderTo(&gen, 640, 480);
  }
  QImage image(640, 480, QImage::Format_ARGB32);
  image.fill(Qt::white);
  m_print->renderTo(&image, 640, 480);
  auto* mime = new QMimeData;
  mime->setData("image/svg+xml", svg);
  mime->setImageData(image);
  QApplication::clipboard()->setMimeData(mime);
  m_print->resize(800, 600);
}

void MainWindow::exportPicture() {
  const QString path = m_prompts.savePictureName(QDir::homePath() + "/varnix.png");
  if (path.isEmpty()) return;
  const QSize size = m_prompts.pictureSize(QSize(800, 600));
  if (size.isEmpty()) return;
  rebuildPrintChart();
  bool ok = false;
  const QString lower = path.toLower();
  if (lower.endsWith(".svg"))
    ok = m_print->saveSvg(path, size.width(), size.height());
  else if (lower.endsWith(".pdf"))
    ok = m_print->savePdf(path, size.width(), size.height());
  else
    ok = m_print->savePng(path, size.width(), size.height());
  if (!ok) m_prompts.message("Could not write " + path);
}

void MainWindow::showDocumentation() {
  const QString dir = QCoreApplication::applicationDirPath();
  QDir::setCurrent(dir);
  // Beside the program in a build folder, in share/doc/varnix when installed.
  QString manual = dir + "/doc/varnix.html";
  const QString installed = QDir::cleanPath(dir + "/../share/doc/varnix/varnix.html");
  if (!QFileInfo::exists(manual) && QFileInfo::exists(installed)) manual = installed;
  if (!m_prompts.openExternally(manual))
    m_prompts.message("No program to show the manual was found. The manual is the file " + manual +
                      "; open it in a web browser.");
}

void MainWindow::showAbout() {
  m_about->show();
  m_about->raise();
}

void MainWindow::associateFiles() {
  run([&] {
    const std::string report = associateAndRefresh(
        userDataDirectory(), ss(QCoreApplication::applicationFilePath()), kIconSvg, runProgram);
    m_prompts.message(qs(report));
  });
}

}  // namespace varnix
