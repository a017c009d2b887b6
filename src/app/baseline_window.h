#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "fit/baseline.h"
#include "workspace/graph_store.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace varnix {

class ChartView;

/// A tool window that previews a change of the current graph before it is
/// made to the selected graphs: the graph in grey, what the command would
/// take away or put in its place in colour. Non-modal, on top of the main
/// window; OK asks the main window to run the command.
class PreviewToolWindow : public QDialog {
  Q_OBJECT
 public:
  PreviewToolWindow(QWidget* parent, const QString& title);
  /// The current graph's points and the cursors' x.
  void setData(std::vector<Point> points, double x1, double x2);

 signals:
  void applyRequested();

 protected:
  /// Recomputes the preview from the fields (errors go to the status line).
  virtual void updatePreview() = 0;
  /// Draws the graph and the second curve; status under the chart.
  void showPreview(const std::vector<Point>& second, const QString& status);

  std::vector<Point> m_points;
  double m_x1 = 0, m_x2 = 0;
  ChartView* m_chart;
  QLabel* m_status;
  QPushButton* m_ok;
  QPushButton* m_close;
};

/// "Baseline": asymmetric least squares (lambda, p) or a polynomial through
/// x ranges, drawn over the current graph, subtracted from the selected
/// graphs on OK.
class BaselineWindow : public PreviewToolWindow {
  Q_OBJECT
 public:
  explicit BaselineWindow(QWidget* parent);
  bool polynomial() const;
  /// The fields as numbers; throws Error with the field's name.
  double lambda() const;
  double p() const;
  int degree() const;
  std::vector<XRange> ranges() const;

 protected:
  void updatePreview() override;

 private:
  QComboBox* m_method;
  QLineEdit* m_lambda;
  QLineEdit* m_p;
  QSpinBox* m_degree;
  QLineEdit* m_ranges;
  QPushButton* m_addCursors;
};

/// "Remove spikes": threshold and width; the points that would be replaced
/// are marked on the current graph before OK.
class DespikeWindow : public PreviewToolWindow {
  Q_OBJECT
 public:
  explicit DespikeWindow(QWidget* parent);
  /// The fields as numbers; throws Error with the field's name.
  double threshold() const;
  std::size_t width() const;

 protected:
  void updatePreview() override;

 private:
  QLineEdit* m_threshold;
  QSpinBox* m_width;
};

}  // namespace varnix
