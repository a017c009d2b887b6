#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <QWindow>

#include "app/baseline_window.h"
#include "app/fit_window.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "fit/fit_model.h"
#include "workspace/error.h"
#include "workspace/file_io.h"

namespace varnix {
namespace {

/// While a series fit runs between the graphs, the program takes no input
/// but a click on Cancel: nothing else may change the graphs underneath.
class OnlyCancel : public QObject {
 public:
  explicit OnlyCancel(QWidget* cancel) : m_cancel(cancel) { qApp->installEventFilter(this); }
  ~OnlyCancel() override { qApp->removeEventFilter(this); }
  OnlyCancel(const OnlyCancel&) = delete;
  OnlyCancel& operator=(const OnlyCancel&) = delete;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
        // A click from the window system comes to the window first, which
        // hands it on to the widget under the pointer: the Cancel button's
        // window lets it through, and of the widgets only Cancel takes it.
        if (watched->isWindowType())
          return watched != static_cast<QObject*>(m_cancel->window()->windowHandle());
        return watched != m_cancel;
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::Wheel:
      case QEvent::Close:
      case QEvent::Drop:
        return true;
      default:
        return false;
    }
  }

 private:
  QWidget* m_cancel;
};

}  // namespace

// --- Fit, Baseline and Remove spikes -------------------------------------------

void MainWindow::createFitWindows() {
  m_fitWindow = new FitWindow(this);
  connect(m_fitWindow, &FitWindow::fitRequested, this,
          [this](bool selected) { fitFromWindow(selected); });
  connect(m_fitWindow, &FitWindow::addGraphsRequested, this,
          [this](int what) { addFitGraphsFromWindow(what); });
  connect(m_fitWindow, &FitWindow::copyRequested, this, [this] {
    run([this] {
      QApplication::clipboard()->setText(qs(m_fitWindow->seriesText(m_session.fitTable())));
    });
  });
  connect(m_fitWindow, &FitWindow::saveRequested, this, [this] { saveFitTableFromWindow(); });
  connect(m_fitWindow, &FitWindow::failed, this,
          [this](const QString& message) { m_prompts.error(message); });
  connect(m_fitWindow, &FitWindow::plotRequested, this, [this] { plotFitParameter(); });
  m_baselineWindow = new BaselineWindow(this);
  connect(m_baselineWindow, &BaselineWindow::applyRequested, this, [this] { applyBaseline(); });
  m_despikeWindow = new DespikeWindow(this);
  connect(m_despikeWindow, &DespikeWindow::applyRequested, this, [this] { applyDespike(); });
}

void MainWindow::showFit() {
  showToolWindow(m_fitWindow);
}

void MainWindow::showBaseline() {
  showToolWindow(m_baselineWindow);
}

void MainWindow::showDespike() {
  showToolWindow(m_despikeWindow);
}

void MainWindow::showToolWindow(QDialog* window) {
  window->show();
  window->raise();
  window->activateWindow();
  refreshFitTools();
}

void MainWindow::refreshFitTools() {
  if (!m_fitWindow) return;
  const bool fit = m_fitWindow->isVisible(), baseline = m_baselineWindow->isVisible(),
             despike = m_despikeWindow->isVisible();
  if (!fit && !baseline && !despike) return;
  const double x1 = m_chart->xAtColumn(m_cursor1), x2 = m_chart->xAtColumn(m_cursor2);
  const Selection s = listSelection();
  const bool have = s.current < m_store.count();
  const std::vector<Point> all = have ? m_store.series(s.current).points() : std::vector<Point>{};
  if (fit) {
    m_fitWindow->setData(
        have ? m_store.graph(s.current).name : std::string(),
        have ? pointsInRange(m_store.series(s.current), x1, x2) : std::vector<Point>{}, x1, x2);
  }
  if (baseline) m_baselineWindow->setData(all, x1, x2);
  if (despike) m_despikeWindow->setData(all, x1, x2);
}

void MainWindow::fitFromWindow(bool selectedGraphs) {
  if (m_store.empty()) return;
  const Selection sel = selection();
  std::shared_ptr<const FitModel> model;
  FitSettings settings;
  const bool chained = selectedGraphs && m_fitWindow->chained();
  const bool ran = run([&] {
    model = m_fitWindow->model();
    settings = m_fitWindow->settings(*model);
    checkFitSettings(*model, settings);
    if (!selectedGraphs) {
      // Fit alone is the current graph's, whatever else is selected.
      m_session.selectOnly({});
      try {
        m_session.fit(model, settings, false);
      } catch (...) {
        m_session.selectOnly(sel.rows);
        throw;
      }
      m_session.selectOnly(sel.rows);
      return;
    }
    m_fitWindow->setRunning(true);
    const OnlyCancel guard(m_fitWindow->findChild<QPushButton*>("cancel"));
    // Between graphs the window answers its Cancel button.
    const ProgressFn progress = [this](int percent) {
      m_fitWindow->setProgress(percent);
      setProgress(percent);
      QCoreApplication::processEvents();
    };
    m_session.fit(model, settings, chained, progress, [this] {
      QCoreApplication::processEvents();
      return m_fitWindow->cancelRequested();
    });
  });
  m_fitWindow->setRunning(false);
  setProgress(0);
  if (!ran) return;
  const FitTable& table = m_session.fitTable();
  if (settings.weights != m_session.fitWeights()) {
    m_session.setFitWeights(settings.weights);
    record(cli::ScriptLine("fit-weights")
               .word(settings.weights == FitWeights::Poisson ? "poisson" : "none"));
  }
  cli::ScriptLine line(chained ? "fit-chained" : "fit");
  line.arg(model->formula()).number(settings.x1).number(settings.x2);
  for (std::size_t k = 0; k < model->parameters().size(); ++k)
    line.arg(parameterArgumentText(model->parameters()[k], settings.parameters[k]));
  // The graphs that were fitted (a cancelled series stops early).
  Selection fitted{{}, sel.current};
  if (selectedGraphs)
    for (const FitRow& r : table.rows) fitted.rows.push_back(r.slot);
  recordOn(fitted, line);
  if (selectedGraphs) {
    m_fitWindow->showSeries(table);
  } else if (!table.rows.empty()) {
    m_fitWindow->showResult(table, table.rows.front());
  }
  refreshFitTools();
}

void MainWindow::addGraphsToList(std::size_t before) {
  for (std::size_t i = before; i < m_store.count(); ++i) m_list->addItem(qs(m_store.graph(i).name));
  pushSelection();
  syncChart();
  m_chart->redraw();
}

/// A history line that varnix-cli cannot repeat: the lines after it would
/// act on other slots, so they become comments too.
void MainWindow::recordUnrepeatable(const std::string& what) {
  m_history.push_back("# skipped: " + what + " (not repeated by varnix-cli)");
  m_historyCut = true;
}

void MainWindow::addFitGraphsFromWindow(int what) {
  if (m_store.empty()) return;
  pullSelection();
  const std::size_t before = m_store.count();
  const std::vector<std::string> parts =
      what == 2 ? m_fitWindow->componentFormulas() : std::vector<std::string>{};
  const bool ran = run([&] {
    if (what < 2)
      m_session.addFitGraphs(what == 1);
    else
      m_session.addFitComponentGraphs(parts);
  });
  if (ran) {
    if (what == 0) record(cli::ScriptLine("fit-curve"));
    if (what == 1) record(cli::ScriptLine("fit-residual"));
    if (what == 2) {
      cli::ScriptLine line("fit-components");
      for (const std::string& p : parts) line.arg(p);
      record(line);
    }
  }
  addGraphsToList(before);
}

void MainWindow::saveFitTableFromWindow() {
  run([this] {
    if (!m_session.fitTable().model) throw Error("There is no fit to save");
    const QString path = m_prompts.saveFileName(dataFolder());
    if (path.isEmpty()) return;
    const std::string parameter = m_fitWindow->seriesParameter();
    m_session.saveFitTable(ss(path), &parameter, messageFn());
    record(cli::ScriptLine("fit-save").path(ss(path)).arg(parameter));
  });
}

void MainWindow::plotFitParameter() {
  pullSelection();
  const std::size_t before = m_store.count();
  std::string name;
  if (run([&] {
        std::vector<Point> points = m_fitWindow->parameterPoints(m_session.fitTable(), name);
        if (m_store.count() >= GraphStore::kMaxGraphs)
          throw Error("Cannot add a graph: every graph slot is taken");
        m_store.append("fit_" + name, "fit_" + name).series.assignSorted(std::move(points));
      }))
    recordUnrepeatable("plot of the fit parameter " + name);
  // The fit range is where the cursors stand: the new graph, in other units,
  // must not move it by rescaling the chart (a new range of either axis moves
  // the plot's edges); R shows it.
  if (m_store.count() > before)
    for (const ChartView::Axis a : {ChartView::Axis::Bottom, ChartView::Axis::Left})
      m_chart->setAxisAutomatic(a, false);
  addGraphsToList(before);
}

void MainWindow::applyBaseline() {
  if (m_store.empty()) return;
  const Selection sel = selection();
  cli::ScriptLine line("baseline-als");
  if (runCurveCommand(
          [&](const Selection&) {
            if (m_baselineWindow->polynomial()) {
              const std::vector<XRange> ranges = m_baselineWindow->ranges();
              m_session.subtractPolynomialBaseline(m_baselineWindow->degree(), ranges);
              line = cli::ScriptLine("baseline-poly");
              line.count(static_cast<std::size_t>(m_baselineWindow->degree()));
              for (const XRange& r : ranges) line.number(r.first).number(r.second);
            } else {
              const double lambda = m_baselineWindow->lambda(), p = m_baselineWindow->p();
              m_session.subtractAlsBaseline(lambda, p);
              line.number(lambda).number(p);
            }
          },
          true))
    recordOn(sel, line);
  refreshFitTools();
}

void MainWindow::applyDespike() {
  if (m_store.empty()) return;
  const Selection sel = selection();
  double threshold = 0;
  const std::size_t width = m_despikeWindow->width();
  if (runCurveCommand(
          [&](const Selection&) {
            threshold = m_despikeWindow->threshold();
            m_session.despike(threshold, width);
          },
          true)) {
    recordOn(sel, cli::ScriptLine("despike").number(threshold).count(width));
    showInformation();
  }
  refreshFitTools();
}

}  // namespace varnix
