#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>

namespace varnix {

class ChartView;
class SettingsFile;

/// "Preview": a quick plot of the file under the cursor in the open dialog.
class FilePreview : public QDialog {
 public:
  explicit FilePreview(QWidget* parent);
  /// Plots the file as the preview reads it: the first column against the
  /// rest (single values against 0, 1, 2, ...); "Invalid Data" as the
  /// caption at a value that does not convert.
  void showFile(const QString& name, const QString& path);
  /// Points plotted by the last showFile.
  int pointCount() const;

 private:
  ChartView* m_chart;
};

/// "Open": collects data files from any folders before Add Files loads them.
class OpenFilesDialog : public QDialog {
 public:
  OpenFilesDialog(QWidget* parent, SettingsFile& settings, bool readLast);

  /// The chosen files: display names and full paths, row k with entry k.
  QStringList chosenNames() const;
  const QStringList& chosenPaths() const { return m_paths; }
  void clearChosen();

  QString currentDirectory() const { return m_dir; }
  /// Shows dir; false (and nothing changes) when it is no folder.
  bool setCurrentDirectory(const QString& dir);
  /// The full path of a file name in the current folder.
  QString fullPath(const QString& name) const;

  void addSelected();     // Add, or a double click in the file list
  void addAll();          // Add All
  void removeSelected();  // Remove, Delete or "." in the chosen names
  void preview();
  FilePreview* previewWindow() const { return m_previewWindow; }

 protected:
  void showEvent(QShowEvent* e) override;
  void done(int result) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QComboBox* m_drives;
  QListWidget* m_folders;
  QListWidget* m_files;
  QComboBox* m_filter;
  QPushButton* m_add;
  QPushButton* m_remove;
  QPushButton* m_addAllButton;
  QCheckBox* m_previewBox;
  QListWidget* m_chosen;
  QPushButton* m_ok;
  QPushButton* m_cancel;
  FilePreview* m_previewWindow;

  void refreshFolders();
  void refreshFiles();
  void addName(const QString& name);
  void openFolderRow(QListWidgetItem* item);

  SettingsFile& m_settings;
  QString m_dir;
  QStringList m_paths;
};

}  // namespace varnix
