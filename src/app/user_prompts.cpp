#include "app/user_prompts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QMessageBox>
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

UserPrompts::Answer QtUserPrompts::warning(const QString& text) {
  const auto b = QMessageBox::warning(owner(), "Varnix", text,
                                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                      QMessageBox::Cancel);
  return b == QMessageBox::Yes ? Answer::Yes : b == QMessageBox::No ? Answer::No : Answer::Cancel;
}

UserPrompts::Answer QtUserPrompts::question(const QString& text) {
  QMessageBox box(QMessageBox::Information, "Varnix", text, QMessageBox::Yes | QMessageBox::No,
                  owner());
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void QtUserPrompts::message(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, "Varnix", text, QMessageBox::Ok, owner());
  box.exec();
}

void QtUserPrompts::error(const QString& text) {
  QMessageBox::critical(owner(), "Varnix", text + ".");
}

QString QtUserPrompts::saveFileName(const QString& preset) {
  QFileDialog dialog(owner(), "Save As", preset, "ASCII DAT (*.dat)");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("dat");
  dialog.setOption(QFileDialog::ReadOnly, false);
  dialog.selectFile(preset);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString QtUserPrompts::savePictureName(const QString& preset) {
  QFileDialog dialog(owner(), "Export picture", preset,
                     "PNG picture (*.png);;SVG picture (*.svg);;PDF document (*.pdf)");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("png");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
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
  if (dialog.exec() != QDialog::Accepted) return {};
  return QSize(width->value(), height->value());
}

QString QtUserPrompts::openFileName(const QString& caption, const QString& filter) {
  return QFileDialog::getOpenFileName(owner(), caption, QString(), filter);
}

QStringList QtUserPrompts::openFileNames(const QString& caption, const QString& filter,
                                         const QString& folder) {
  return QFileDialog::getOpenFileNames(owner(), caption, folder, filter);
}

QString QtUserPrompts::saveTextName(const QString& caption, const QString& filter,
                                    const QString& suffix) {
  QFileDialog dialog(owner(), caption, QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(suffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString QtUserPrompts::folder(const QString& dir) {
  return QFileDialog::getExistingDirectory(owner(), "Directory", dir);
}

void QtUserPrompts::beep() {
  QApplication::beep();
}

bool QtUserPrompts::openExternally(const QString& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace varnix
