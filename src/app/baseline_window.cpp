#include "app/baseline_window.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/qt_text.h"
#include "fit/despike.h"
#include "view/chart_view.h"
#include "workspace/error.h"
#include "workspace/number_text.h"

namespace varnix {
namespace {

constexpr Colour kGraphColour = 0xA0A0A0;    // grey
constexpr Colour kPreviewColour = 0x0000FF;  // red

double readField(const QLineEdit* field, const char* what) {
  const std::optional<double> v = readFieldNumber(ss(field->text().trimmed()));
  if (!v) throw Error(std::string("The ") + what + " is not a number: " + ss(field->text()));
  return *v;
}

Series seriesOf(const std::vector<Point>& points) {
  Series s;
  s.assignSorted(points);
  return s;
}

}  // namespace

PreviewToolWindow::PreviewToolWindow(QWidget* parent, const QString& title) : QDialog(parent) {
  setWindowTitle(title);
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  m_chart = new ChartView(this);
  m_chart->setMinimumSize(480, 260);
  m_chart->setMouseEnabled(false);
  m_status = new QLabel(this);
  m_status->setWordWrap(true);
  m_ok = new QPushButton("OK", this);
  m_close = new QPushButton("Cl&ose", this);
  m_ok->setDefault(true);
  m_close->setAutoDefault(false);
  connect(m_ok, &QPushButton::clicked, this, &PreviewToolWindow::applyRequested);
  connect(m_close, &QPushButton::clicked, this, &QDialog::hide);
  m_chart->setObjectName("preview");
  m_status->setObjectName("status");
  m_ok->setObjectName("ok");
  m_close->setObjectName("close");
}

void PreviewToolWindow::setData(std::vector<Point> points, double x1, double x2) {
  m_points = std::move(points);
  m_x1 = x1;
  m_x2 = x2;
  updatePreview();
}

void PreviewToolWindow::showPreview(const std::vector<Point>& second, const QString& status) {
  m_chart->setSeries(0, seriesOf(m_points), kGraphColour);
  m_chart->setSeries(1, seriesOf(second), kPreviewColour);
  m_chart->redraw();
  m_status->setText(status);
}

// --- Baseline ------------------------------------------------------------------

BaselineWindow::BaselineWindow(QWidget* parent) : PreviewToolWindow(parent, "Baseline") {
  m_method = new QComboBox(this);
  m_method->addItems({"Asymmetric least squares", "Polynomial through x ranges"});
  m_lambda = new QLineEdit("100000", this);
  m_p = new QLineEdit("0.01", this);
  m_degree = new QSpinBox(this);
  m_degree->setRange(0, kMaxBaselineDegree);
  m_degree->setValue(1);
  m_ranges = new QLineEdit(this);
  m_ranges->setPlaceholderText("x1 x2  x3 x4 ...");
  m_addCursors = new QPushButton("Add &cursor range", this);
  m_addCursors->setAutoDefault(false);
  auto* form = new QFormLayout;
  form->addRow("&Method:", m_method);
  form->addRow("&Lambda:", m_lambda);
  form->addRow("&p:", m_p);
  form->addRow("&Degree:", m_degree);
  auto* rangeRow = new QHBoxLayout;
  rangeRow->addWidget(m_ranges, 1);
  rangeRow->addWidget(m_addCursors);
  // A row of a layout has no buddy of its own: the label points at the field.
  auto* rangeLabel = new QLabel("x &ranges:", this);
  rangeLabel->setBuddy(m_ranges);
  form->addRow(rangeLabel, rangeRow);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_status, 1);
  buttons->addWidget(m_ok);
  buttons->addWidget(m_close);
  auto* l = new QVBoxLayout(this);
  l->addLayout(form);
  l->addWidget(m_chart, 1);
  l->addLayout(buttons);
  resize(640, 480);
  auto refresh = [this] {
    const bool poly = polynomial();
    m_lambda->setEnabled(!poly);
    m_p->setEnabled(!poly);
    m_degree->setEnabled(poly);
    m_ranges->setEnabled(poly);
    m_addCursors->setEnabled(poly);
    updatePreview();
  };
  connect(m_method, &QComboBox::currentIndexChanged, this, refresh);
  for (QLineEdit* f : {m_lambda, m_p, m_ranges})
    connect(f, &QLineEdit::textChanged, this, [this] { updatePreview(); });
  connect(m_degree, &QSpinBox::valueChanged, this, [this] { updatePreview(); });
  connect(m_addCursors, &QPushButton::clicked, this, [this] {
    const QString t = m_ranges->text().trimmed();
    m_ranges->setText((t.isEmpty() ? t : t + "  ") + qs(formatShortest(m_x1)) + " " +
                      qs(formatShortest(m_x2)));
  });
  const std::pair<QObject*, const char*> parts[] = {
      {m_method, "method"}, {m_lambda, "lambda"}, {m_p, "p"},
      {m_degree, "degree"}, {m_ranges, "ranges"}, {m_addCursors, "addCursorRange"}};
  for (const auto& [part, name] : parts) part->setObjectName(name);
  refresh();
}

bool BaselineWindow::polynomial() const {
  return m_method->currentIndex() == 1;
}

double BaselineWindow::lambda() const {
  return readField(m_lambda, "lambda");
}

double BaselineWindow::p() const {
  return readField(m_p, "p");
}

int BaselineWindow::degree() const {
  return m_degree->value();
}

std::vector<XRange> BaselineWindow::ranges() const {
  const QStringList words =
      m_ranges->text().split(QRegularExpression("[\\s;,]+"), Qt::SkipEmptyParts);
  if (words.size() % 2 != 0) throw Error("The x ranges need two ends each");
  std::vector<XRange> out;
  for (qsizetype i = 0; i + 1 < words.size(); i += 2) {
    const std::optional<double> a = readFieldNumber(ss(words[i])),
                                b = readFieldNumber(ss(words[i + 1]));
    if (!a || !b)
      throw Error("The x ranges are not numbers: " + ss(words[i]) + " " + ss(words[i + 1]));
    out.emplace_back(*a, *b);
  }
  return out;
}

void BaselineWindow::updatePreview() {
  std::vector<Point> baseline;
  QString status;
  try {
    std::vector<double> z;
    if (polynomial()) {
      const std::vector<XRange> r = ranges();
      checkPolynomialBaseline(degree(), r);
      z = polynomialBaseline(m_points, degree(), r);
    } else {
      checkAlsParameters(lambda(), p());
      std::vector<double> y;
      for (const Point& pt : m_points) y.push_back(pt.y);
      z = alsBaseline(y, lambda(), p());
    }
    for (std::size_t i = 0; i < z.size() && i < m_points.size(); ++i)
      baseline.push_back({m_points[i].x, z[i]});
    status = "The red curve is subtracted from the selected graphs.";
  } catch (const Error& e) {
    status = qs(e.what());
  }
  showPreview(baseline, status);
}

// --- Remove spikes ---------------------------------------------------------------

DespikeWindow::DespikeWindow(QWidget* parent) : PreviewToolWindow(parent, "Remove spikes") {
  m_threshold = new QLineEdit("6", this);
  m_width = new QSpinBox(this);
  m_width->setRange(1, static_cast<int>(kMaxDespikeWidth));
  m_width->setValue(3);
  auto* form = new QFormLayout;
  form->addRow("&Threshold:", m_threshold);
  form->addRow("&Width:", m_width);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_status, 1);
  buttons->addWidget(m_ok);
  buttons->addWidget(m_close);
  auto* l = new QVBoxLayout(this);
  l->addLayout(form);
  l->addWidget(m_chart, 1);
  l->addLayout(buttons);
  resize(640, 440);
  connect(m_threshold, &QLineEdit::textChanged, this, [this] { updatePreview(); });
  connect(m_width, &QSpinBox::valueChanged, this, [this] { updatePreview(); });
  m_threshold->setObjectName("threshold");
  m_width->setObjectName("width");
  updatePreview();
}

double DespikeWindow::threshold() const {
  return readField(m_threshold, "threshold");
}

std::size_t DespikeWindow::width() const {
  return static_cast<std::size_t>(m_width->value());
}

void DespikeWindow::updatePreview() {
  std::vector<Point> marked;
  QString status;
  try {
    checkDespikeParameters(threshold(), static_cast<long long>(width()));
    std::vector<double> y;
    for (const Point& pt : m_points) y.push_back(pt.y);
    const std::vector<std::size_t> spikes = spikePoints(y, threshold(), width());
    despikeValues(y, threshold(), width());
    for (std::size_t i = 0; i < m_points.size(); ++i) marked.push_back({m_points[i].x, y[i]});
    status = QString::number(spikes.size()) + (spikes.size() == 1 ? " point" : " points") +
             " of this graph would be replaced (in red; grey: the graph after).";
  } catch (const Error& e) {
    status = qs(e.what());
  }
  // The graph in red under the despiked graph in grey: what sticks out in
  // red is replaced.
  m_chart->setSeries(0, seriesOf(m_points), kPreviewColour);
  m_chart->setSeries(1, seriesOf(marked), kGraphColour);
  m_chart->redraw();
  m_status->setText(status);
}

}  // namespace varnix
