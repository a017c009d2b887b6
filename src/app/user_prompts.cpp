#include "app/user_prompts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QMessageBox>
#include <QProcess>
#include <QSpinBox>
#include <QUrl>

namespace varnix {

QWidget* QtUserPrompts::owner() const {
  // The window that asked: a box opened from an always-on-top tool window
  // (Picker, Preview) must come up above it, not under it.
  QWidget* active = QApplication::activeWindow();
  if (active && active->isVisible()) return active;
  return m_parent;
}

void keepAboveStayOnTopWindows(QWidget* dialog) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != dialog && w->isVisible() && w->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
      dialog->setWindowFlag(Qt::WindowStaysOnTopHint, true);
      return;
    }
}

int QtUserPrompts::exec(QDialog& dialog) {
  keepAboveStayOnTopWindows(&dialog);
  return dialog.exec();
}

UserPrompts::Answer QtUserPrompts::warning(const QString& text) {
  QMessageBox box(QMessageBox::Warning, "Varnix", text,
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, owner());
  box.setDefaultButton(QMessageBox::Cancel);
  const auto b = static_cast<QMessageBox::StandardButton>(exec(box));
  return b == QMessageBox::Yes ? Answer::Yes : b == QMessageBox::No ? Answer::No : Answer::Cancel;
}

UserPrompts::Answer QtUserPrompts::question(const QString& text) {
  QMessageBox box(QMessageBox::Information, "Varnix", text, QMessageBox::Yes | QMessageBox::No,
                  owner());
  box.setDefaultButton(QMessageBox::Yes);
  return exec(box) == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void QtUserPrompts::message(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, "Varnix", text, QMessageBox::Ok, owner());
  exec(box);
}

void QtUserPrompts::error(const QString& text) {
  QMessageBox box(QMessageBox::Critical, "Varnix", text + ".", QMessageBox::Ok, owner());
  exec(box);
}

QString QtUserPrompts::saveFileName(const QString& preset) {
  QFileDialog dialog(owner(), "Save As", preset, "ASCII DAT (*.dat)");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("dat");
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (!QFileInfo(preset).isDir()) dialog.selectFile(preset);
  if (exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString QtUserPrompts::savePictureName(const QString& preset) {
  QFileDialog dialog(owner(), "Export picture", preset,
                     "PNG picture (*.png);;SVG picture (*.svg);;PDF document (*.pdf)");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("png");
  if (exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QSize QtUserPrompts::pictureSize(const QSize& preset) {
  QDialog dialog(owner());
  dialog.setWindowTitle("Picture size");
  auto* width = new QSpinBox(&dialog);
  auto* height = new QSpinBox(&dialog);
  for (QSpinBox* b : {width, height}) {
    b->setRange(16, 20000);
    b->setSuffix(" px");
  }
  width->setValue(preset.width());
  height->setValue(preset.height());
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* form = new QFormLayout(&dialog);
  form->addRow("Width", width);
  form->addRow("Height", height);
  form->addRow(buttons);
  if (exec(dialog) != QDialog::Accepted) return {};
  return QSize(width->value(), height->value());
}

QString QtUserPrompts::openFileName(const QString& caption, const QString& filter) {
  QFileDialog dialog(owner(), caption, QString(), filter);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QStringList QtUserPrompts::openFileNames(const QString& caption, const QString& filter,
                                         const QString& folder) {
  QFileDialog dialog(owner(), caption, folder, filter);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  if (exec(dialog) != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString QtUserPrompts::saveTextName(const QString& caption, const QString& filter,
                                    const QString& suffix, const QString& folder) {
  QFileDialog dialog(owner(), caption, folder, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(suffix);
  if (exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString QtUserPrompts::folder(const QString& dir) {
  QFileDialog dialog(owner(), "Directory", dir);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  if (exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

void QtUserPrompts::beep() {
  QApplication::beep();
}

bool QtUserPrompts::openExternally(const QString& path) {
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
  // xdg-open says with its exit status whether a program took the file;
  // QDesktopServices reports success as soon as xdg-open starts.
  auto* opener = new QProcess;
  opener->start("xdg-open", {path});
  if (!opener->waitForStarted(3000)) {
    delete opener;
    return false;
  }
  if (opener->waitForFinished(5000)) {
    const bool ok = opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
    delete opener;
    return ok;
  }
  // Still running: it started a viewer in the foreground. It is left to
  // run (deleting it would end the viewer) and deletes itself when done.
  QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
  return true;
#else
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
#endif
}

}  // namespace varnix
