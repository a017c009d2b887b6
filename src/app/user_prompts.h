#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

namespace varnix {

/// Every question box, message box and file dialog of the program goes
/// through this interface; the desktop program uses QtUserPrompts, tests a
/// scripted implementation.
class UserPrompts {
 public:
  enum class Answer { Yes, No, Cancel };
  virtual ~UserPrompts() = default;

  /// A warning box with Yes, No and Cancel.
  virtual Answer warning(const QString& text) = 0;
  /// A question box with Yes and No ("Exit now?", "Clear All?").
  virtual Answer question(const QString& text) = 0;
  /// A plain message box with one OK button.
  virtual void message(const QString& text) = 0;
  /// The general error report: a box titled "Varnix" with the message and a full stop.
  virtual void error(const QString& text) = 0;
  /// The save dialog: filter "ASCII DAT" (*.dat), default extension dat, a
  /// confirmation before replacing a file. preset is a file name, or a folder
  /// to start in. Empty when cancelled.
  virtual QString saveFileName(const QString& preset) = 0;
  /// The save dialog of pictures (PNG, SVG, PDF). Empty when cancelled.
  virtual QString savePictureName(const QString& preset) = 0;
  /// The width and height of an exported picture, starting from preset;
  /// an empty size when cancelled.
  virtual QSize pictureSize(const QSize& preset) = 0;
  /// An open dialog for one file (a script). Empty when cancelled.
  virtual QString openFileName(const QString& caption, const QString& filter) = 0;
  /// Several files to open, starting in folder; empty when cancelled.
  virtual QStringList openFileNames(const QString& caption, const QString& filter,
                                    const QString& folder) = 0;
  /// A save dialog for a text file with this filter and default suffix,
  /// starting in folder.
  virtual QString saveTextName(const QString& caption, const QString& filter, const QString& suffix,
                               const QString& folder) = 0;
  /// A folder chooser starting at dir. Empty when cancelled.
  virtual QString folder(const QString& dir) = 0;
  /// The system's alert sound.
  virtual void beep() = 0;
  /// Opens a file or address with the desktop's default handler.
  virtual bool openExternally(const QString& path) = 0;
};

/// The prompts of the desktop program: message boxes and file dialogs.
/// Gives dialog the stay-on-top flag when a visible window has it (the
/// Preview, Picker and Measure windows), so it never opens underneath.
void keepAboveStayOnTopWindows(QWidget* dialog);

class QtUserPrompts : public UserPrompts {
 public:
  explicit QtUserPrompts(QWidget* parent = nullptr) : m_parent(parent) {}
  void setParent(QWidget* parent) { m_parent = parent; }

  Answer warning(const QString& text) override;
  Answer question(const QString& text) override;
  void message(const QString& text) override;
  void error(const QString& text) override;
  QString saveFileName(const QString& preset) override;
  QString savePictureName(const QString& preset) override;
  QSize pictureSize(const QSize& preset) override;
  QString folder(const QString& dir) override;
  QString openFileName(const QString& caption, const QString& filter) override;
  QStringList openFileNames(const QString& caption, const QString& filter,
                            const QString& folder) override;
  QString saveTextName(const QString& caption, const QString& filter, const QString& suffix,
                       const QString& folder) override;
  void beep() override;
  bool openExternally(const QString& path) override;

 private:
  QWidget* owner() const;
  /// Runs a box or file dialog above every window that stays on top.
  int exec(QDialog& dialog);
  QWidget* m_parent;
};

}  // namespace varnix
