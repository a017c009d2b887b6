#pragma once

#include <QStringList>
#include <deque>
#include <functional>

#include "app/user_prompts.h"

namespace varnix::test {

/// Prompts that answer from a script and record what the program showed.
class ScriptedPrompts : public UserPrompts {
 public:
  std::deque<Answer> answers;  // for warning() and question(); Yes when empty
  QStringList asked;           // texts of warning() and question()
  QStringList messages;        // texts of message()
  QStringList errors;          // texts of error(), with the full stop
  std::deque<QString> files;   // for saveFileName(), savePictureName() and folder()
  QStringList opened;          // openExternally()
  bool canOpen = true;         // whether a program to open files is there
  int beeps = 0;
  std::function<void()> whileAsking;  // runs while a question box is open

  Answer warning(const QString& text) override { return next(text); }
  Answer question(const QString& text) override {
    if (whileAsking) {
      auto f = std::move(whileAsking);
      whileAsking = nullptr;
      f();
    }
    return next(text);
  }
  void message(const QString& text) override { messages << text; }
  void error(const QString& text) override { errors << text + "."; }
  QStringList presets;  // what saveFileName(), savePictureName() and saveTextName() started at
  QString saveFileName(const QString& preset) override {
    presets << preset;
    return nextFile();
  }
  QString savePictureName(const QString& preset) override {
    presets << preset;
    return nextFile();
  }
  QString folder(const QString&) override { return nextFile(); }
  QString openFileName(const QString&, const QString&) override { return nextFile(); }
  /// Several files: the next entry of files, split at line ends.
  QStringList openFileNames(const QString&, const QString&, const QString& folder) override {
    lastFolder = folder;
    const QString f = nextFile();
    return f.isEmpty() ? QStringList() : f.split('\n');
  }
  QString lastFolder;
  QString saveTextName(const QString&, const QString&, const QString&,
                       const QString& folder) override {
    presets << folder;
    return nextFile();
  }
  QSize size{800, 600};  // for pictureSize()
  QSize pictureSize(const QSize&) override { return size; }
  void beep() override { ++beeps; }
  bool openExternally(const QString& path) override {
    opened << path;
    return canOpen;
  }

 private:
  Answer next(const QString& text) {
    asked << text;
    if (answers.empty()) return Answer::Yes;
    Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  QString nextFile() {
    if (files.empty()) return {};
    QString f = files.front();
    files.pop_front();
    return f;
  }
};

}  // namespace varnix::test

#include <ostream>

/// Readable QStrings in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
  *os << '{';
  for (const QString& s : l) *os << '"' << s.toStdString() << "\" ";
  *os << '}';
}
