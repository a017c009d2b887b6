#include "app/number_cell.h"

#include <QHeaderView>
#include <QTableWidget>

#include "app/qt_text.h"

namespace varnix {

NumberCell::NumberCell(const QString& text) : QTableWidgetItem(text) {
  setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

NumberCell::NumberCell(const QString& text, double value) : NumberCell(text) {
  m_value = value;
}

std::optional<double> NumberCell::number() const {
  return m_value ? m_value : readNumber(ss(text()));
}

bool NumberCell::operator<(const QTableWidgetItem& other) const {
  const auto* o = dynamic_cast<const NumberCell*>(&other);
  if (!o) return QTableWidgetItem::operator<(other);
  const std::optional<double> a = number(), b = o->number();
  if (a && b) return *a < *b;
  if (!a && !b) return text() < other.text();
  // A descending sort puts the larger first: there the cell without a
  // number is the smaller one.
  const bool descending =
      tableWidget() &&
      tableWidget()->horizontalHeader()->sortIndicatorOrder() == Qt::DescendingOrder;
  return descending ? !a : !b;
}

}  // namespace varnix
