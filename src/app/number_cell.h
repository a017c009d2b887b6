#pragma once

#include <QTableWidgetItem>
#include <optional>

namespace varnix {

/// A table cell that sorts by its number. A cell without one ("–", a failure)
/// sorts after every number in either direction; such cells sort by text
/// among themselves. Cells of equal numbers keep their order.
class NumberCell : public QTableWidgetItem {
 public:
  /// The number is read from the text whenever cells are compared, so an
  /// edited cell sorts by what it now says.
  explicit NumberCell(const QString& text);
  /// Shows text and sorts by value, not by the (rounded) text.
  NumberCell(const QString& text, double value);

  std::optional<double> number() const;
  bool operator<(const QTableWidgetItem& other) const override;

 private:
  std::optional<double> m_value;
};

}  // namespace varnix
