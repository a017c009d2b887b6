#pragma once

#include <QDialog>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/fit_components.h"
#include "fit/fit_commands.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace varnix {

class ChartView;

/// "Fit": a model (a baseline plus peaks, or a formula typed in the model
/// language) fitted to the current graph between the cursor lines, or to
/// every selected graph. The window draws the points in range, the model,
/// its components and the residual, and follows every parameter edit.
/// Non-modal, on top of the main window; the main window runs the fits.
class FitWindow : public QDialog {
  Q_OBJECT
 public:
  explicit FitWindow(QWidget* parent);

  /// The points of the current graph between the cursors (the preview and
  /// peak guesses work on them).
  void setData(const std::string& name, std::vector<Point> points, double x1, double x2);
  double x1() const { return m_x1; }
  double x2() const { return m_x2; }

  /// The model formula as the window shows it. Throws Error for a formula
  /// that does not read.
  std::shared_ptr<const FitModel> model() const;
  /// The starts, fixed flags and bounds of the table for this model, the
  /// range and the weights. Throws Error for a field that is no number.
  FitSettings settings(const FitModel& model) const;
  bool chained() const;
  FitWeights weights() const;
  /// "Parameter from name" for the series table ("digits" when empty).
  std::string seriesParameter() const;

  /// Shows one graph's fit: the values go into the table (so the next fit
  /// starts there), the errors beside them, the figures below.
  void showResult(const FitTable& table, const FitRow& row);
  /// Shows a series fit in the results table.
  void showSeries(const FitTable& table);
  /// The results table as a data file (Copy and Save...).
  std::string seriesText(const FitTable& table) const;
  /// The series parameter and the chosen parameter's value of every
  /// converged row; the parameter's name in name.
  std::vector<Point> parameterPoints(const FitTable& table, std::string& name) const;

  /// A series fit is running: the progress bar and Cancel; false ends it.
  void setRunning(bool running);
  void setProgress(int percent);
  bool cancelRequested() const { return m_cancelRequested; }

  /// Adds a peak of the chosen shape guessed from the points around x.
  void addPeakAt(double x);
  /// Adds every peak whose prominence is at least the threshold field.
  void findPeaks();
  /// The components' formulas (baseline, then each peak); empty in formula mode.
  std::vector<std::string> componentFormulas() const;
  /// The values of the table by parameter name (those that read as numbers).
  std::map<std::string, double> currentValues() const;

 signals:
  void fitRequested(bool selectedGraphs);
  void addGraphsRequested(int what);  ///< 0 model, 1 residual, 2 components
  void copyRequested();
  void saveRequested();
  void plotRequested();
  /// A request of the window itself failed (the main window reports it).
  void failed(const QString& message);

 protected:
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  struct Entry {
    QString value, lower, upper, error;
    bool fixed = false;
  };
  /// The formula field follows the baseline and peaks unless it is typed.
  void rebuildFormula();
  /// The parameter table follows the formula's parameters (values kept by name).
  void rebuildTable();
  void storeEntries();
  void updatePreview();
  void removePeak();
  void addPeakFromGuess(PeakKind kind, const PeakGuess& guess);
  void chartClicked(int x, int y);
  double minY() const;

  QLabel* m_range;
  QComboBox* m_baseline;
  QComboBox* m_peakType;
  QListWidget* m_peakList;
  QPushButton* m_addPeak;
  QPushButton* m_removePeak;
  QLineEdit* m_threshold;
  QPushButton* m_find;
  QCheckBox* m_ownFormula;
  QLineEdit* m_formula;
  QTableWidget* m_params;
  QComboBox* m_weights;
  QComboBox* m_chain;
  QLineEdit* m_nameParameter;
  QPushButton* m_fit;
  QPushButton* m_fitSelected;
  QPushButton* m_cancel;
  QProgressBar* m_progress;
  QPlainTextEdit* m_results;
  QTableWidget* m_series;
  QComboBox* m_plotParameter;
  QPushButton* m_plot;
  QPushButton* m_copy;
  QPushButton* m_save;
  QPushButton* m_addModel;
  QPushButton* m_addResidual;
  QPushButton* m_addComponents;
  QPushButton* m_close;
  ChartView* m_chart;
  ChartView* m_residual;

  std::string m_name;
  std::vector<Point> m_points;
  double m_x1 = 0, m_x2 = 0;
  std::vector<PeakComponent> m_peaks;
  int m_nextPeak = 1;
  std::map<std::string, Entry> m_entries;
  std::vector<std::string> m_shown;  ///< the parameters the table shows, in order
  bool m_filling = false;
  bool m_cancelRequested = false;
};

}  // namespace varnix
