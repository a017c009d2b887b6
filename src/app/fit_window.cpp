#include "app/fit_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "app/copy_save_keys.h"
#include "app/number_cell.h"
#include "app/qt_text.h"
#include "fit/fit_model.h"
#include "processing/series_parameter.h"
#include "view/chart_view.h"
#include "workspace/error.h"
#include "workspace/number_text.h"

namespace varnix {
namespace {

enum Column { Name, Value, Fixed, Lower, Upper, StdError, ColumnCount };

constexpr Colour kDataColour = 0xC0C0C0;       // light grey
constexpr Colour kModelColour = 0x0000FF;      // red
constexpr Colour kComponentColour = 0x00A5FF;  // orange
constexpr Colour kResidualColour = 0x00C000;   // green

/// A number as the table shows it: the shortest text that reads back the same.
QString cell(double v) {
  return qs(formatShortest(v));
}

/// A bound field: empty is no bound.
double readBound(const QString& text, double none, const std::string& what) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return none;
  const std::optional<double> v = readFieldNumber(ss(t));
  if (!v) throw Error("The " + what + " is not a number: " + ss(t));
  return *v;
}

Series seriesOf(const std::vector<Point>& points) {
  Series s;
  s.assignSorted(points);
  return s;
}

/// The series parameter of every converged row (the slot without a pattern
/// when a name has no digits), as the table file writes it.
std::vector<std::string> seriesValues(const FitTable& table, const std::string& pattern) {
  const SeriesParameter parameter(pattern.empty() ? SeriesParameter::kDigits : pattern);
  std::vector<std::string> values;
  for (const FitRow* r : table.convergedRows()) {
    try {
      values.push_back(parameter.valueOf(r->name));
    } catch (const Error&) {
      if (!parameter.isDigits()) throw;
      values.push_back(std::to_string(r->slot));
    }
  }
  return values;
}

}  // namespace

FitWindow::FitWindow(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Fit");
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);

  m_range = new QLabel(this);
  m_baseline = new QComboBox(this);
  for (const std::string& c : baselineCaptions()) m_baseline->addItem(qs(c));
  m_peakType = new QComboBox(this);
  for (const std::string& c : peakCaptions()) m_peakType->addItem(qs(c));
  m_peakList = new QListWidget(this);
  m_peakList->setMaximumHeight(56);
  m_addPeak = new QPushButton("&Add peak", this);
  m_removePeak = new QPushButton("Re&move peak", this);
  m_threshold = new QLineEdit(this);
  m_threshold->setPlaceholderText("prominence");
  m_find = new QPushButton("Find &peaks", this);
  m_ownFormula = new QCheckBox("&Own formula", this);
  m_formula = new QLineEdit(this);
  m_formula->setReadOnly(true);
  m_params = new QTableWidget(0, ColumnCount, this);
  m_params->setHorizontalHeaderLabels({"Parameter", "Value", "Fixed", "Lower", "Upper", "Error"});
  m_params->verticalHeader()->hide();
  // Names, values, check boxes and errors take what they need, every digit
  // shown; the bounds share the rest.
  m_params->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  for (const Column c : {Name, Value, Fixed, StdError})
    m_params->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
  m_params->setWordWrap(false);
  m_params->setMinimumHeight(150);
  m_weights = new QComboBox(this);
  m_weights->addItems({"None", "Poisson (1/y)"});
  m_chain = new QComboBox(this);
  m_chain->addItems({"the same start", "the previous result"});
  m_nameParameter = new QLineEdit(qs(SeriesParameter::kDigits), this);
  m_fit = new QPushButton("&Fit", this);
  m_fitSelected = new QPushButton("Fit &selected graphs", this);
  m_cancel = new QPushButton("Cancel", this);
  m_cancel->setEnabled(false);
  m_progress = new QProgressBar(this);
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
  m_results = new QPlainTextEdit(this);
  m_results->setReadOnly(true);
  m_results->setMinimumHeight(80);
  m_results->setMaximumHeight(130);
  m_series = new QTableWidget(0, 0, this);
  m_series->verticalHeader()->hide();
  m_series->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_series->setSortingEnabled(true);
  m_plotParameter = new QComboBox(this);
  m_plot = new QPushButton("P&lot against series", this);
  m_copy = new QPushButton("&Copy", this);
  m_save = new QPushButton("Sa&ve...", this);
  m_addModel = new QPushButton("Add mo&del", this);
  m_addResidual = new QPushButton("Add &residual", this);
  m_addComponents = new QPushButton("Add compo&nents", this);
  m_close = new QPushButton("Cl&ose", this);
  for (QPushButton* b : {m_addPeak, m_removePeak, m_find, m_fit, m_fitSelected, m_cancel, m_plot,
                         m_copy, m_save, m_addModel, m_addResidual, m_addComponents, m_close})
    b->setAutoDefault(false);
  m_chart = new ChartView(this);
  m_chart->setMinimumSize(420, 260);
  m_chart->setMouseEnabled(false);
  m_residual = new ChartView(this);
  m_residual->setMinimumSize(420, 90);
  m_residual->setMaximumHeight(140);
  m_residual->setMouseEnabled(false);

  // Left: the model and the fit; right: the preview and the results.
  auto* model = new QGroupBox("Model", this);
  auto* form = new QFormLayout(model);
  form->addRow("Baseline:", m_baseline);
  auto* peakRow = new QHBoxLayout;
  peakRow->addWidget(m_peakType, 1);
  peakRow->addWidget(m_addPeak);
  peakRow->addWidget(m_removePeak);
  form->addRow("Peaks:", peakRow);
  form->addRow("", m_peakList);
  auto* findRow = new QHBoxLayout;
  findRow->addWidget(m_threshold, 1);
  findRow->addWidget(m_find);
  form->addRow("Threshold:", findRow);
  form->addRow(m_ownFormula, m_formula);
  auto* settings = new QFormLayout;
  settings->addRow("Weights:", m_weights);
  settings->addRow("Series from:", m_chain);
  settings->addRow("Parameter from name:", m_nameParameter);
  auto* fitRow = new QHBoxLayout;
  fitRow->addWidget(m_fit);
  fitRow->addWidget(m_fitSelected);
  fitRow->addWidget(m_cancel);
  auto* left = new QVBoxLayout;
  left->addWidget(m_range);
  left->addWidget(model);
  left->addWidget(m_params, 1);
  left->addLayout(settings);
  left->addLayout(fitRow);
  left->addWidget(m_progress);
  left->addWidget(m_results);

  auto* seriesButtons = new QHBoxLayout;
  seriesButtons->addWidget(m_plotParameter, 1);
  seriesButtons->addWidget(m_plot);
  seriesButtons->addWidget(m_copy);
  seriesButtons->addWidget(m_save);
  auto* addButtons = new QHBoxLayout;
  addButtons->addWidget(m_addModel);
  addButtons->addWidget(m_addResidual);
  addButtons->addWidget(m_addComponents);
  addButtons->addStretch(1);
  addButtons->addWidget(m_close);
  auto* right = new QVBoxLayout;
  right->addWidget(m_chart, 3);
  right->addWidget(m_residual, 1);
  right->addWidget(m_series, 2);
  right->addLayout(seriesButtons);
  right->addLayout(addButtons);
  auto* l = new QHBoxLayout(this);
  l->addLayout(left, 2);
  l->addLayout(right, 3);
  resize(1180, 760);

  connect(m_baseline, &QComboBox::currentIndexChanged, this, [this] { rebuildFormula(); });
  connect(m_addPeak, &QPushButton::clicked, this, [this] {
    try {
      addPeakAt((m_x1 + m_x2) / 2);
    } catch (const Error& e) {
      emit failed(qs(e.what()));
    }
  });
  connect(m_removePeak, &QPushButton::clicked, this, [this] { removePeak(); });
  connect(m_find, &QPushButton::clicked, this, [this] {
    try {
      findPeaks();
    } catch (const Error& e) {
      emit failed(qs(e.what()));
    }
  });
  connect(m_ownFormula, &QCheckBox::toggled, this, [this](bool on) {
    m_formula->setReadOnly(!on);
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_baseline, m_peakType, m_peakList, m_addPeak,
                                         m_removePeak, m_find, m_threshold, m_addComponents})
      w->setEnabled(!on);
    if (!on) rebuildFormula();
  });
  connect(m_formula, &QLineEdit::textChanged, this, [this] { rebuildTable(); });
  connect(m_params, &QTableWidget::cellChanged, this, [this] {
    if (m_filling) return;
    storeEntries();
    updatePreview();
  });
  connect(m_fit, &QPushButton::clicked, this, [this] { emit fitRequested(false); });
  connect(m_fitSelected, &QPushButton::clicked, this, [this] { emit fitRequested(true); });
  connect(m_cancel, &QPushButton::clicked, this, [this] { m_cancelRequested = true; });
  connect(m_addModel, &QPushButton::clicked, this, [this] { emit addGraphsRequested(0); });
  connect(m_addResidual, &QPushButton::clicked, this, [this] { emit addGraphsRequested(1); });
  connect(m_addComponents, &QPushButton::clicked, this, [this] { emit addGraphsRequested(2); });
  connect(m_copy, &QPushButton::clicked, this, &FitWindow::copyRequested);
  connect(m_save, &QPushButton::clicked, this, &FitWindow::saveRequested);
  connect(m_plot, &QPushButton::clicked, this, &FitWindow::plotRequested);
  connect(m_close, &QPushButton::clicked, this, &QDialog::hide);
  connect(m_chart, &ChartView::mousePressed, this, &FitWindow::chartClicked);

  const std::pair<QObject*, const char*> parts[] = {{m_range, "range"},
                                                    {m_baseline, "baseline"},
                                                    {m_peakType, "peakType"},
                                                    {m_peakList, "peaks"},
                                                    {m_addPeak, "addPeak"},
                                                    {m_removePeak, "removePeak"},
                                                    {m_threshold, "threshold"},
                                                    {m_find, "findPeaks"},
                                                    {m_ownFormula, "ownFormula"},
                                                    {m_formula, "formula"},
                                                    {m_params, "parameters"},
                                                    {m_weights, "weights"},
                                                    {m_chain, "chain"},
                                                    {m_nameParameter, "parameterFromName"},
                                                    {m_fit, "fit"},
                                                    {m_fitSelected, "fitSelected"},
                                                    {m_cancel, "cancel"},
                                                    {m_progress, "progress"},
                                                    {m_results, "results"},
                                                    {m_series, "seriesTable"},
                                                    {m_plotParameter, "plotParameter"},
                                                    {m_plot, "plot"},
                                                    {m_copy, "copy"},
                                                    {m_save, "save"},
                                                    {m_addModel, "addModel"},
                                                    {m_addResidual, "addResidual"},
                                                    {m_addComponents, "addComponents"},
                                                    {m_close, "close"},
                                                    {m_chart, "preview"},
                                                    {m_residual, "residual"}};
  for (const auto& [part, name] : parts) part->setObjectName(name);
  rebuildFormula();
}

bool FitWindow::event(QEvent* e) {
  return claimCopyAndSaveKeys(e) || QDialog::event(e);
}

void FitWindow::keyPressEvent(QKeyEvent* e) {
  if (!pressCopyOrSave(e, m_copy, m_save)) QDialog::keyPressEvent(e);
}

void FitWindow::setData(const std::string& name, std::vector<Point> points, double x1, double x2) {
  m_name = name;
  m_points = std::move(points);
  m_x1 = x1;
  m_x2 = x2;
  m_range->setText(qs(name) + ":  x1 = " + number(x1, 7) + "   x2 = " + number(x2, 7) + "   (" +
                   QString::number(m_points.size()) + " points)");
  updatePreview();
}

double FitWindow::minY() const {
  double lo = std::numeric_limits<double>::infinity();
  for (const Point& p : m_points)
    if (std::isfinite(p.y)) lo = std::min(lo, p.y);
  return std::isfinite(lo) ? lo : 0;
}

void FitWindow::rebuildFormula() {
  if (m_ownFormula->isChecked()) return;
  // A new baseline starts from the data's floor.
  const auto kind = static_cast<BaselineKind>(m_baseline->currentIndex());
  const std::vector<double> starts = baselineStarts(kind, minY());
  for (std::size_t k = 0; k < starts.size(); ++k) {
    Entry& e = m_entries["b" + std::to_string(k)];
    if (e.value.isEmpty()) e.value = cell(starts[k]);
  }
  m_peakList->clear();
  for (const PeakComponent& p : m_peaks)
    m_peakList->addItem(QString::number(p.id) + ": " +
                        qs(peakCaptions()[static_cast<std::size_t>(p.kind)]));
  m_formula->setText(qs(modelFormula(kind, m_peaks)));
  rebuildTable();
}

void FitWindow::storeEntries() {
  for (int r = 0; r < m_params->rowCount(); ++r) {
    Entry& e = m_entries[ss(m_params->item(r, Name)->text())];
    e.value = m_params->item(r, Value)->text();
    e.fixed = m_params->item(r, Fixed)->checkState() == Qt::Checked;
    e.lower = m_params->item(r, Lower)->text();
    e.upper = m_params->item(r, Upper)->text();
  }
}

void FitWindow::rebuildTable() {
  std::vector<std::string> names;
  try {
    names = FitModel(ss(m_formula->text())).parameters();
  } catch (const Error&) {
    // A formula being typed keeps the table it had until it reads again.
    updatePreview();
    return;
  }
  if (names != m_shown) {
    m_filling = true;
    m_shown = names;
    m_params->setRowCount(static_cast<int>(names.size()));
    for (int r = 0; r < m_params->rowCount(); ++r) {
      const std::string& n = names[static_cast<std::size_t>(r)];
      const Entry& e = m_entries[n];
      auto* name = new QTableWidgetItem(qs(n));
      name->setFlags(Qt::ItemIsEnabled);
      m_params->setItem(r, Name, name);
      m_params->setItem(r, Value, new NumberCell(e.value));
      auto* fixed = new QTableWidgetItem;
      fixed->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
      fixed->setCheckState(e.fixed ? Qt::Checked : Qt::Unchecked);
      m_params->setItem(r, Fixed, fixed);
      m_params->setItem(r, Lower, new NumberCell(e.lower));
      m_params->setItem(r, Upper, new NumberCell(e.upper));
      auto* err = new NumberCell(e.error);
      err->setFlags(Qt::ItemIsEnabled);
      m_params->setItem(r, StdError, err);
    }
    m_filling = false;
    QStringList plot;
    for (const std::string& n : names) plot << qs(n);
    m_plotParameter->clear();
    m_plotParameter->addItems(plot);
  }
  updatePreview();
}

std::shared_ptr<const FitModel> FitWindow::model() const {
  return std::make_shared<const FitModel>(ss(m_formula->text()));
}

FitSettings FitWindow::settings(const FitModel& model) const {
  FitSettings s;
  s.x1 = m_x1;
  s.x2 = m_x2;
  s.weights = weights();
  const double inf = std::numeric_limits<double>::infinity();
  for (const std::string& n : model.parameters()) {
    ParameterSetting p;
    const auto it = m_entries.find(n);
    if (it != m_entries.end()) {
      const Entry& e = it->second;
      const QString v = e.value.trimmed();
      if (!v.isEmpty()) {
        p.start = readFieldNumber(ss(v));
        if (!p.start) throw Error("The start of " + n + " is not a number: " + ss(v));
      }
      p.fixed = e.fixed;
      p.lower = readBound(e.lower, -inf, "lower bound of " + n);
      p.upper = readBound(e.upper, inf, "upper bound of " + n);
    }
    s.parameters.push_back(p);
  }
  return s;
}

bool FitWindow::chained() const {
  return m_chain->currentIndex() == 1;
}

FitWeights FitWindow::weights() const {
  return m_weights->currentIndex() == 1 ? FitWeights::Poisson : FitWeights::None;
}

std::string FitWindow::seriesParameter() const {
  const std::string t = ss(m_nameParameter->text().trimmed());
  return t.empty() ? SeriesParameter::kDigits : t;
}

std::map<std::string, double> FitWindow::currentValues() const {
  std::map<std::string, double> values;
  for (const auto& [name, e] : m_entries)
    if (const std::optional<double> v = readFieldNumber(ss(e.value.trimmed()))) values[name] = *v;
  return values;
}

std::vector<std::string> FitWindow::componentFormulas() const {
  if (m_ownFormula->isChecked()) return {};
  std::vector<std::string> parts;
  const std::string b = baselineFormula(static_cast<BaselineKind>(m_baseline->currentIndex()));
  if (!b.empty()) parts.push_back(b);
  for (const PeakComponent& p : m_peaks) parts.push_back(peakFormula(p));
  return parts;
}

void FitWindow::updatePreview() {
  m_chart->setSeries(0, seriesOf(m_points), kDataColour);
  int shown = 1;
  std::vector<Point> residual;
  // The model and its parts at the data's x, from the values in the table;
  // a formula that does not read or a value missing draws the data alone.
  const std::map<std::string, double> values = currentValues();
  auto curve = [&](const std::string& formula, std::vector<Point>* model) {
    const FitModel m(formula);
    std::vector<double> p;
    for (const std::string& n : m.parameters()) {
      const auto it = values.find(n);
      if (it == values.end()) return false;
      p.push_back(it->second);
    }
    std::vector<Point> out;
    out.reserve(m_points.size());
    for (const Point& pt : m_points) out.push_back({pt.x, m.value(pt.x, p)});
    if (model) *model = out;
    m_chart->setSeries(shown++, seriesOf(out), model ? kModelColour : kComponentColour);
    return true;
  };
  try {
    std::vector<Point> model;
    const std::vector<std::string> parts = componentFormulas();
    if (parts.size() > 1)
      for (const std::string& c : parts) curve(c, nullptr);
    if (curve(ss(m_formula->text()), &model))
      for (std::size_t i = 0; i < model.size(); ++i)
        residual.push_back({m_points[i].x, m_points[i].y - model[i].y});
  } catch (const Error&) {
  }
  m_chart->truncateSeries(shown);
  m_chart->redraw();
  m_residual->setSeries(0, seriesOf(residual), kResidualColour);
  m_residual->redraw();
}

void FitWindow::addPeakFromGuess(PeakKind kind, const PeakGuess& guess) {
  const PeakComponent peak{kind, m_nextPeak++};
  const bool baseline = m_baseline->currentIndex() != static_cast<int>(BaselineKind::None);
  const std::vector<double> starts = peakStarts(kind, guess, baseline);
  const FitModel m(peakFormula(peak));
  for (std::size_t k = 0; k < starts.size(); ++k) {
    Entry& e = m_entries[m.parameters()[k]];
    e = Entry{};
    e.value = cell(starts[k]);
  }
  m_peaks.push_back(peak);
}

void FitWindow::addPeakAt(double x) {
  if (m_ownFormula->isChecked()) return;
  const std::optional<PeakGuess> guess = guessPeak(m_points, x);
  if (!guess) throw Error("A peak needs at least three points between the cursors");
  addPeakFromGuess(static_cast<PeakKind>(m_peakType->currentIndex()), *guess);
  rebuildFormula();
}

void FitWindow::findPeaks() {
  if (m_ownFormula->isChecked()) return;
  const QString t = m_threshold->text().trimmed();
  double threshold = 0;
  if (!t.isEmpty()) {
    const std::optional<double> v = readFieldNumber(ss(t));
    if (!v || !(*v >= 0)) throw Error("The threshold is not a number of zero or more: " + ss(t));
    threshold = *v;
  }
  const std::vector<PeakGuess> found = varnix::findPeaks(m_points, threshold);
  if (found.empty()) throw Error("No peak between the cursors is as prominent as the threshold");
  for (const PeakGuess& g : found)
    addPeakFromGuess(static_cast<PeakKind>(m_peakType->currentIndex()), g);
  rebuildFormula();
}

void FitWindow::removePeak() {
  const int r = m_peakList->currentRow();
  if (r < 0 || r >= static_cast<int>(m_peaks.size())) return;
  m_peaks.erase(m_peaks.begin() + r);
  rebuildFormula();
}

void FitWindow::chartClicked(int x, int) {
  try {
    addPeakAt(m_chart->xAtColumn(x));
  } catch (const Error&) {
    // Too few points to guess from: the click adds nothing.
  }
}

void FitWindow::showResult(const FitTable& table, const FitRow& row) {
  const FitResult& r = row.result;
  const std::vector<std::string>& names = table.model->parameters();
  QString text = qs(row.name) + ": ";
  if (!r.converged) {
    m_results->setPlainText(
        text + (r.undetermined ? "the fit is undetermined: " : "the fit failed: ") + qs(r.failure));
    return;
  }
  for (std::size_t k = 0; k < names.size(); ++k) {
    Entry& e = m_entries[names[k]];
    e.value = cell(r.values[k]);
    e.error = table.settings.parameters[k].fixed ? "fixed"
              : r.errorsDetermined               ? cell(r.errors[k])
                                                 : "not determined";
  }
  m_shown.clear();  // the table shows the new values and errors
  rebuildTable();
  text += "chi-square " + number(r.chi2, 7) + ", reduced chi-square " +
          (r.dof > 0 ? number(r.chi2 / static_cast<double>(r.dof), 7) : QString("–")) +
          ", R squared " + number(r.r2, 7) + ", " + QString::number(r.iterations) +
          " iterations, " + QString::number(r.points) + " points\n";
  if (!r.errorsDetermined) text += "The errors are not determined (a singular fit).\n";
  // Area and FWHM of each peak, when the model is the window's own.
  if (!m_ownFormula->isChecked() && ss(m_formula->text()) == table.model->formula()) {
    for (const PeakComponent& p : m_peaks) {
      std::vector<std::size_t> idx;
      std::vector<double> v;
      const FitModel peak(peakFormula(p));
      for (const std::string& n : peak.parameters()) {
        idx.push_back(*table.model->parameterIndex(n));
        v.push_back(r.values[idx.back()]);
      }
      const PeakSummary s = peakShape(p.kind, v, covarianceOf(r, idx));
      auto withError = [](double value, double error) {
        return number(value, 7) + " ± " +
               (std::isfinite(error) ? number(error, 3) : QString("not determined"));
      };
      text += "Peak " + QString::number(p.id) + ": area " + withError(s.area, s.areaError) +
              ", FWHM " + withError(s.fwhm, s.fwhmError) + "\n";
    }
  }
  m_results->setPlainText(text);
}

void FitWindow::showSeries(const FitTable& table) {
  const std::vector<std::string>& names = table.model->parameters();
  QStringList captions{"Parameter from name", "Graph"};
  for (const std::string& n : names) captions << qs(n) << qs(n + ".err");
  captions << "chi2"
           << "r2"
           << "Status";
  m_series->setSortingEnabled(false);
  m_series->clear();
  m_series->setColumnCount(static_cast<int>(captions.size()));
  m_series->setHorizontalHeaderLabels(captions);
  m_series->setRowCount(static_cast<int>(table.rows.size()));
  std::vector<std::string> values;
  try {
    values = seriesValues(table, ss(m_nameParameter->text().trimmed()));
  } catch (const Error&) {
    values.clear();
  }
  std::size_t converged = 0;
  for (int i = 0; i < m_series->rowCount(); ++i) {
    const FitRow& row = table.rows[static_cast<std::size_t>(i)];
    const FitResult& r = row.result;
    int c = 0;
    QString parameter = "–";
    if (r.converged && converged < values.size()) parameter = qs(values[converged]);
    if (r.converged) ++converged;
    m_series->setItem(i, c++, new NumberCell(parameter));
    m_series->setItem(i, c++, new QTableWidgetItem(qs(row.name)));
    for (std::size_t k = 0; k < names.size(); ++k) {
      m_series->setItem(i, c++, new NumberCell(r.converged ? cell(r.values[k]) : "–"));
      m_series->setItem(i, c++, new NumberCell(r.converged ? cell(r.errors[k]) : "–"));
    }
    m_series->setItem(i, c++, new NumberCell(r.converged ? cell(r.chi2) : "–"));
    m_series->setItem(i, c++, new NumberCell(r.converged ? cell(r.r2) : "–"));
    m_series->setItem(i, c++, new QTableWidgetItem(qs(fitStatusText(r))));
  }
  m_series->setSortingEnabled(true);
  m_series->resizeColumnsToContents();
  QString text =
      QString::number(converged) + " of " + QString::number(table.rows.size()) + " graphs fitted";
  if (table.cancelled) text += " (cancelled)";
  m_results->setPlainText(text + ".");
}

std::string FitWindow::seriesText(const FitTable& table) const {
  const SeriesParameter parameter(seriesParameter());
  return fitTableText(table, &parameter);
}

std::vector<Point> FitWindow::parameterPoints(const FitTable& table, std::string& name) const {
  name = ss(m_plotParameter->currentText());
  if (!table.model) throw Error("There is no fit to plot");
  const std::optional<std::size_t> k = table.model->parameterIndex(name);
  if (!k) throw Error("The last fit has no parameter " + name);
  const std::vector<std::string> values = seriesValues(table, seriesParameter());
  std::vector<Point> points;
  std::size_t i = 0;
  for (const FitRow* r : table.convergedRows()) {
    const std::optional<double> x = readFieldNumber(values[i++]);
    if (x) points.push_back({*x, r->result.values[*k]});
  }
  if (points.empty()) throw Error("The last fit has no converged graph to plot");
  return points;
}

void FitWindow::setRunning(bool running) {
  m_cancelRequested = false;
  m_cancel->setEnabled(running);
  m_fit->setEnabled(!running);
  m_fitSelected->setEnabled(!running);
  if (!running) m_progress->setValue(0);
}

void FitWindow::setProgress(int percent) {
  m_progress->setValue(percent);
}

}  // namespace varnix
