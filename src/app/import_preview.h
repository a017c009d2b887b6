#pragma once

#include <QDialog>
#include <QSpinBox>
#include <string>

#include "import/import_result.h"
#include "import/import_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace varnix {

class ChartView;

/// A number field with "auto" below its smallest number (and optionally
/// "none" for 0): the import's choices that may be left to its guess.
class ChoiceSpinBox : public QSpinBox {
  Q_OBJECT
 public:
  /// Values from -1 (automatic) to maximum; with noneText 0 reads as it.
  ChoiceSpinBox(int maximum, const QString& noneText, QWidget* parent);
  /// What "auto" shows: the guess, as "auto (3)".
  void setGuess(const QString& guess);

 protected:
  QString textFromValue(int value) const override;
  int valueFromText(const QString& text) const override;
  QValidator::State validate(QString& text, int& pos) const override;

 private:
  QString m_none;
  QString m_guess;
};

/// "Import with options": the first lines of a file as text and as the
/// table the import makes of them, the import's choices in fields (each
/// automatic until set, showing its guess), and the curves drawn small.
/// Every edit reads the file again. Modal; the main window imports with
/// settings() when it is accepted.
class ImportPreviewDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ImportPreviewDialog(QWidget* parent);

  /// Reads the file and shows it with these choices; `remembered`: they are
  /// the ones kept for files like this (the check box starts checked);
  /// `moreFiles` other files are imported with the same choices.
  void setFile(const QString& path, const ImportSettings& start, bool remembered,
               int moreFiles = 0);
  /// The choices made: the fields that are not automatic.
  ImportSettings settings() const;
  /// Whether "Use for files like this" is checked.
  bool useForFilesLikeThis() const;
  /// The preview's import of the file (what OK would import).
  const ImportResult& preview() const { return m_result; }

 private:
  /// The fields as settings; nullopt with the reason for a field that does
  /// not read (columns or rows).
  std::optional<ImportSettings> readFields(std::string& error) const;
  /// Reads the file with the fields' choices and shows the result.
  void reparse();
  void showGuess(const ImportSettings& used);
  void showTable();
  void showCurves();
  void setStatus(const QString& text, bool error);

  QString m_path;
  std::string m_bytes;  ///< what the preview reads (the start of a long text)
  bool m_cut = false;   ///< a long text was cut for the preview
  std::string m_readError;
  ImportResult m_result;
  bool m_filling = false;  ///< fields are being set, not edited

  QLabel* m_file;
  QComboBox* m_separator;
  QComboBox* m_decimal;
  ChoiceSpinBox* m_skip;
  ChoiceSpinBox* m_header;
  QComboBox* m_layout;
  ChoiceSpinBox* m_x;
  QLineEdit* m_columns;
  QLineEdit* m_rows;
  QPlainTextEdit* m_text;
  QTableWidget* m_table;
  ChartView* m_chart;
  QLabel* m_status;
  QCheckBox* m_remember;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

}  // namespace varnix
