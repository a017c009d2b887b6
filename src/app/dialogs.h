#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "processing/moments.h"
#include "processing/slicer.h"
#include "workspace/settings_file.h"

namespace varnix {

class ChartView;
class UserPrompts;

/// A line edit that lets through only digits, '.', '-', 'e', 'E' and
/// Backspace; any other typed character is swallowed with the alert sound.
class NumberKeyFilter : public QObject {
 public:
  NumberKeyFilter(UserPrompts& prompts, QObject* parent) : QObject(parent), m_prompts(prompts) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  UserPrompts& m_prompts;
};

/// "Comment": the comment lines of one graph.
class CommentDialog : public QDialog {
 public:
  explicit CommentDialog(QWidget* parent);
  /// Caption " Comment for <name>" and the lines to edit.
  void setComment(const QString& graphName, const std::vector<std::string>& lines);
  /// The edited lines (none for an empty text).
  std::vector<std::string> lines() const;

 private:
  QPlainTextEdit* m_text;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

/// "Rename File".
class RenameDialog : public QDialog {
 public:
  explicit RenameDialog(QWidget* parent);
  /// Shows name as the old name and as the new name to edit.
  void setName(const QString& name);
  QString newName() const;

 private:
  QLabel* m_oldNameLabel;
  QLineEdit* m_newNameEdit;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

/// "math": the two formulas of Math on y and x.
/// The fields of Math on y and x.
struct MathFormulas {
  std::string x, y;
};

class MathDialog : public QDialog {
 public:
  explicit MathDialog(QWidget* parent);
  MathFormulas formulas() const;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  QLineEdit* m_xFormula;
  QLineEdit* m_yFormula;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

/// "SimpleMath": Y = B*Y + A + C*N + D*N*Y.
/// The fields of Simple math on y, as typed.
struct SimpleMathFields {
  std::string b, a, c, d;
};

class SimpleMathDialog : public QDialog {
 public:
  SimpleMathDialog(QWidget* parent, UserPrompts& prompts);
  SimpleMathFields fields() const;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  QLineEdit *m_b, *m_a, *m_c, *m_d;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

/// "Simple Math on X": X = B*X + A.
/// The fields of Simple math on x, as typed.
struct SimpleMathXFields {
  std::string b, a;
};

class SimpleMathXDialog : public QDialog {
 public:
  explicit SimpleMathXDialog(QWidget* parent);
  SimpleMathXFields fields() const;

 protected:
  /// Opens with the focus on OK, the first in its focus order.
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit *m_b, *m_a;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

/// "Math on graphs".
class MathOnGraphsDialog : public QDialog {
 public:
  explicit MathOnGraphsDialog(QWidget* parent);
  /// The names of the graphs that will change, and the list to pick the
  /// second graph from (nothing picked); the operation stays as it was.
  void setGraphs(const QStringList& changing, const QStringList& all);
  /// The checked operation, if any.
  std::optional<char> operation() const;
  /// The row of the picked second graph, if any.
  std::optional<std::size_t> secondGraph() const;

 private:
  QTableWidget* m_in1;       // the graphs that will change
  QRadioButton* m_radio[4];  // + - * /
  QButtonGroup* m_group;
  QListWidget* m_secondList;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

/// "Slicer".
class SlicerDialog : public QDialog {
 public:
  SlicerDialog(QWidget* parent, UserPrompts& prompts);
  /// Refills the table: each graph's name and Value.
  void setGraphs(const std::vector<std::pair<QString, QString>>& namesAndValues);
  SlicerFields fields() const;

 private:
  /// The Value column from the parameter field (left as it is while the
  /// field gives no Value for a name).
  void showValues();

  UserPrompts& m_prompts;
  std::vector<std::string> m_names;
  QLineEdit* m_parameter;
  QTableWidget* m_table;
  QLineEdit *m_from, *m_to, *m_step, *m_prefix, *m_suffix, *m_directory;
  QLineEdit* m_decimals;  ///< "Decimals in file names"
  QPushButton* m_browse;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

/// "Moments": one graph's moments.
class MomentsDialog : public QDialog {
 public:
  explicit MomentsDialog(QWidget* parent);
  /// The frame's ends and the four moments, as texts.
  void setMoments(const QString& lower, const QString& upper, const MomentsRow& row);

 private:
  QLineEdit *m_from, *m_to, *m_m0, *m_m1, *m_d, *m_a;
  QPushButton* m_ok;
};

/// "Calculate Moments": the table of moments of the selected graphs.
class CalculateMomentsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CalculateMomentsDialog(QWidget* parent);
  void fill(const MomentsTable& t);
  /// "Parameter from name": "digits" or a pattern.
  QString parameter() const;

 signals:
  /// Save M0 .. Save M3.
  void saveRequested(int order);
  void previewRequested();
  /// The parameter field was edited (Enter or leaving it).
  void parameterChanged();

 private:
  QLineEdit* m_parameter;
  QTableWidget* m_table;
  QPushButton* m_close;
  QPushButton* m_preview;
  QPushButton* m_save[4];
};

/// "Preview": M1 (upper) and M0 (lower) against Value.
class MomentsPreview : public QDialog {
 public:
  explicit MomentsPreview(QWidget* parent);
  /// M0 points for the lower chart, M1 points for the upper; redraws both.
  void setPoints(const Series& m0, const Series& m1);

 private:
  ChartView* m_upper;
  ChartView* m_lower;
};

/// "Colors": the five colour settings.
class ColorsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ColorsDialog(QWidget* parent);
  void fill(const ColourSettings& c);
  ColourSettings chosen() const;

 signals:
  /// OK (before the dialog closes) and Apply.
  void applyRequested();
  void defaultsRequested();

 private:
  QComboBox* m_selector[5];  // Background, Axis, Grid, Graphs, Highlighted graph
  QPushButton* m_defaults;
  QPushButton* m_ok;
  QPushButton* m_apply;
  QPushButton* m_cancel;
};

/// "Labels": chart title and axis titles.
/// The fields of the Labels dialog.
struct LabelsFields {
  bool titleShown = false;
  QStringList title;
  QString left, bottom;
};

class LabelsDialog : public QDialog {
 public:
  explicit LabelsDialog(QWidget* parent);
  LabelsFields fields() const;

 private:
  QCheckBox* m_title;
  QPlainTextEdit* m_memo;
  QLineEdit* m_left;    // left axis title
  QLineEdit* m_bottom;  // bottom axis title
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

/// "Picker": coordinates picked off the chart.
class PickerWindow : public QDialog {
  Q_OBJECT
 public:
  explicit PickerWindow(QWidget* parent);
  /// A click at (x, y): one line with what Pick X and Pick Y ask for.
  void pick(const QString& x, const QString& y);
  QString text() const;
  void clearText();

 signals:
  void saveRequested();
  void clearRequested();

 private:
  QPlainTextEdit* m_memo;
  QPushButton* m_save;
  QPushButton* m_clear;
  QPushButton* m_close;
  QCheckBox* m_pickY;
  QCheckBox* m_pickX;
};

/// "Cursors": the x under each cursor line and their distance.
class CursorsWindow : public QDialog {
  Q_OBJECT
 public:
  explicit CursorsWindow(QWidget* parent);
  void setReadouts(const QString& first, const QString& second, const QString& distance);

 signals:
  void hideRequested();

 private:
  QLabel* m_x1;
  QLabel* m_x2;
  QLabel* m_dx;
  QPushButton* m_hideButton;
};

/// The summary after File, Import...: one line per file (graphs, points,
/// the separator and decimal mark found, lines kept as comments, warnings).
class ImportSummaryWindow : public QDialog {
  Q_OBJECT
 public:
  explicit ImportSummaryWindow(QWidget* parent);
  /// Shows the lines (replacing the last import's) and raises the window;
  /// paths[i] is the file line i is about.
  void showLines(const QStringList& lines, const QStringList& paths);
  QString text() const;
  /// The file whose line holds the text cursor (the only one when there is
  /// one); empty when there is none.
  QString chosenPath() const;

 signals:
  /// Options... was pressed for this file.
  void optionsRequested(const QString& path);

 private:
  QPlainTextEdit* m_text;
  QPushButton* m_options;
  QStringList m_paths;
};

/// "About...".
class AboutBox : public QDialog {
 public:
  explicit AboutBox(QWidget* parent);
};

}  // namespace varnix
