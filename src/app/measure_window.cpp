#include "app/measure_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "app/copy_save_keys.h"
#include "app/number_cell.h"
#include "app/qt_text.h"

namespace varnix {
namespace {

std::optional<double> xOf(const std::optional<Point>& p) {
  return p ? std::optional<double>(p->x) : std::nullopt;
}
std::optional<double> yOf(const std::optional<Point>& p) {
  return p ? std::optional<double>(p->y) : std::nullopt;
}

}  // namespace

MeasureWindow::MeasureWindow(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Measure");
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  m_range = new QLabel(this);
  const auto& columns = measurementColumns();
  m_table = new QTableWidget(0, static_cast<int>(columns.size()), this);
  QStringList captions;
  for (const std::string& c : columns) captions << qs(c);
  m_table->setHorizontalHeaderLabels(captions);
  m_table->verticalHeader()->hide();
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // The rows keep the order of the graph list until a column is clicked.
  m_table->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  m_table->setSortingEnabled(true);
  m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  m_copy = new QPushButton("Copy", this);
  m_save = new QPushButton("Save...", this);
  m_close = new QPushButton("Close", this);
  for (QPushButton* b : {m_copy, m_save, m_close}) b->setAutoDefault(false);
  // Tab leaves the table for the buttons; Ctrl+C and Ctrl+S work anywhere in
  // the window, Alt+C / Alt+S as the underlined letters say.
  m_table->setTabKeyNavigation(false);
  m_table->installEventFilter(this);
  m_copy->setText("&Copy");
  m_save->setText("&Save...");
  m_close->setText("Cl&ose");

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_range, 1);
  buttons->addWidget(m_copy);
  buttons->addWidget(m_save);
  buttons->addWidget(m_close);
  auto* l = new QVBoxLayout(this);
  l->addWidget(m_table);
  l->addLayout(buttons);
  resize(900, 220);
  connect(m_copy, &QPushButton::clicked, this, &MeasureWindow::copyRequested);
  connect(m_save, &QPushButton::clicked, this, &MeasureWindow::saveRequested);
  connect(m_close, &QPushButton::clicked, this, &QDialog::hide);
  const std::pair<QObject*, const char*> parts[] = {{m_range, "range"},
                                                    {m_table, "table"},
                                                    {m_copy, "copy"},
                                                    {m_save, "save"},
                                                    {m_close, "close"}};
  for (const auto& [part, name] : parts) part->setObjectName(name);
}

bool MeasureWindow::event(QEvent* e) {
  return claimCopyAndSaveKeys(e) || QDialog::event(e);
}

void MeasureWindow::keyPressEvent(QKeyEvent* e) {
  if (!pressCopyOrSave(e, m_copy, m_save)) QDialog::keyPressEvent(e);
}

bool MeasureWindow::eventFilter(QObject* watched, QEvent* e) {
  if (watched == m_table) {
    if (claimCopyAndSaveKeys(e)) return true;
    if (e->type() == QEvent::KeyPress &&
        pressCopyOrSave(static_cast<QKeyEvent*>(e), m_copy, m_save))
      return true;
  }
  return QDialog::eventFilter(watched, e);
}

void MeasureWindow::setRows(std::vector<Measurement> rows, double x1, double x2) {
  m_rows = std::move(rows);
  m_x1 = x1;
  m_x2 = x2;
  m_range->setText("x1 = " + number(x1, 7) + "   x2 = " + number(x2, 7));
  const int sortColumn = m_table->horizontalHeader()->sortIndicatorSection();
  const Qt::SortOrder sortOrder = m_table->horizontalHeader()->sortIndicatorOrder();
  m_table->setSortingEnabled(false);
  m_table->setRowCount(static_cast<int>(m_rows.size()));
  for (int r = 0; r < m_table->rowCount(); ++r) {
    const Measurement& m = m_rows[static_cast<std::size_t>(r)];
    m_table->setItem(r, 0, new QTableWidgetItem(qs(m.name)));
    const std::optional<double> cells[] = {
        m.yAtFirst,     m.yAtSecond, xOf(m.maximum), yOf(m.maximum),      xOf(m.minimum),
        yOf(m.minimum), m.fwhm,      m.area,         m.areaAboveBaseline, m.centroid};
    int c = 1;
    for (const auto& v : cells) {
      const QString text = qs(measurementCell(v));
      m_table->setItem(r, c++,
                       v && !std::isnan(*v) ? new NumberCell(text, *v) : new NumberCell(text));
    }
  }
  m_table->setSortingEnabled(true);
  if (sortColumn >= 0) m_table->sortItems(sortColumn, sortOrder);
}

std::string MeasureWindow::text() const {
  return measurementText(m_rows, m_x1, m_x2);
}

}  // namespace varnix
