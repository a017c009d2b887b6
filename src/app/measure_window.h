#pragma once

#include <QDialog>
#include <vector>

#include "processing/measure.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace varnix {

/// "Measure": for every selected graph, what lies between the two cursor
/// lines (y at each cursor, maximum, minimum, FWHM, areas, centroid); one
/// row per graph, columns sortable. Non-modal, on top of the main window.
class MeasureWindow : public QDialog {
  Q_OBJECT
 public:
  explicit MeasureWindow(QWidget* parent);
  /// Shows these rows for the cursors at x1 and x2.
  void setRows(std::vector<Measurement> rows, double x1, double x2);
  /// Tab-separated text with a header row (Copy and Save...).
  std::string text() const;

 signals:
  void copyRequested();
  void saveRequested();

 protected:
  /// Ctrl+C and Ctrl+S belong to this window while it has the focus, not to
  /// the main window's Copy to clipboard.
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  /// The table would copy only its current cell: the keys are the window's.
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  QLabel* m_range;
  QTableWidget* m_table;
  QPushButton* m_copy;
  QPushButton* m_save;
  QPushButton* m_close;
  std::vector<Measurement> m_rows;
  double m_x1 = 0, m_x2 = 0;
};

}  // namespace varnix
