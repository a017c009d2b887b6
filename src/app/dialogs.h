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

#include "processing/moments.h"
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
  QPlainTextEdit* text;
  QPushButton* ok;
  QPushButton* cancel;
};

/// "Rename File".
class RenameDialog : public QDialog {
 public:
  explicit RenameDialog(QWidget* parent);
  QLabel* oldName;
  QLineEdit* newName;
  QPushButton* ok;
  QPushButton* cancel;
};

/// "math": the two formulas of Math on y and x.
class MathDialog : public QDialog {
 public:
  explicit MathDialog(QWidget* parent);
  QLineEdit* xFormula;
  QLineEdit* yFormula;
  QPushButton* ok;
  QPushButton* cancel;

 protected:
  void showEvent(QShowEvent* e) override;
};

/// "SimpleMath": Y = B*Y + A + C*N + D*N*Y.
class SimpleMathDialog : public QDialog {
 public:
  SimpleMathDialog(QWidget* parent, UserPrompts& prompts);
  QLineEdit *b, *a, *c, *d;
  QPushButton* ok;
  QPushButton* cancel;

 protected:
  void showEvent(QShowEvent* e) override;
};

/// "Simple Math on X": X = B*X + A.
class SimpleMathXDialog : public QDialog {
 public:
  explicit SimpleMathXDialog(QWidget* parent);
  QLineEdit *b, *a;
  QPushButton* ok;
  QPushButton* cancel;

 protected:
  /// Opens with the focus on OK, the first in its focus order.
  void showEvent(QShowEvent* event) override;
};

/// "Math on graphs".
class MathOnGraphsDialog : public QDialog {
 public:
  explicit MathOnGraphsDialog(QWidget* parent);
  QTableWidget* in1;       // the graphs that will change
  QRadioButton* radio[4];  // + - * /
  QButtonGroup* group;
  QListWidget* secondGraph;  // the second graph, chosen by a click
  QPushButton* ok;
  QPushButton* cancel;
  /// The checked operation, if any.
  std::optional<char> operation() const;
};

/// "Slicer".
class SlicerDialog : public QDialog {
 public:
  SlicerDialog(QWidget* parent, UserPrompts& prompts);
  QTableWidget* table;
  QLineEdit *from, *to, *step, *prefix, *suffix, *directory;
  QLineEdit* decimals;  ///< "Decimals in file names"
  QPushButton* browse;
  QPushButton* ok;
  QPushButton* cancel;

 private:
  UserPrompts& m_prompts;
};

/// "Moments": one graph's moments.
class MomentsDialog : public QDialog {
 public:
  explicit MomentsDialog(QWidget* parent);
  QLineEdit *from, *to, *m0, *m1, *d, *a;
  QPushButton* ok;
};

/// "Calculate Moments": the table of moments of the selected graphs.
class CalculateMomentsDialog : public QDialog {
 public:
  explicit CalculateMomentsDialog(QWidget* parent);
  void fill(const MomentsTable& t);
  QTableWidget* table;
  QPushButton* close;
  QPushButton* preview;
  QPushButton* save[4];
};

/// "Preview": M1 (upper) and M0 (lower) against Value.
class MomentsPreview : public QDialog {
 public:
  explicit MomentsPreview(QWidget* parent);
  ChartView* upper;
  ChartView* lower;
};

/// "Colors": the five colour settings.
class ColorsDialog : public QDialog {
 public:
  explicit ColorsDialog(QWidget* parent);
  void fill(const ColourSettings& c);
  ColourSettings chosen() const;
  QComboBox* selector[5];  // Background, Axis, Grid, Graphs, Highlighted graph
  QPushButton* defaults;
  QPushButton* ok;
  QPushButton* apply;
  QPushButton* cancel;
};

/// "Labels": chart title and axis titles.
class LabelsDialog : public QDialog {
 public:
  explicit LabelsDialog(QWidget* parent);
  QCheckBox* title;
  QPlainTextEdit* memo;
  QLineEdit* left;    // left axis title
  QLineEdit* bottom;  // bottom axis title
  QPushButton* ok;
  QPushButton* cancel;
};

/// "Picker": coordinates picked off the chart.
class PickerWindow : public QDialog {
 public:
  explicit PickerWindow(QWidget* parent);
  QPlainTextEdit* memo;
  QPushButton* save;
  QPushButton* clear;
  QPushButton* close;
  QCheckBox* pickY;
  QCheckBox* pickX;
};

/// "Cursors": the x under each cursor line and their distance.
class CursorsWindow : public QDialog {
 public:
  explicit CursorsWindow(QWidget* parent);
  QLabel* x1;
  QLabel* x2;
  QLabel* dx;
  QPushButton* hideButton;
};

/// "About...".
class AboutBox : public QDialog {
 public:
  explicit AboutBox(QWidget* parent);
};

}  // namespace varnix
