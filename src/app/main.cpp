#include <QApplication>
#include <clocale>

#include "app/main_window.h"
#include "app/user_prompts.h"
#include "workspace/settings_file.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Varnix");
  // Every number is read and written with '.' whatever the user's locale.
  std::setlocale(LC_NUMERIC, "C");
  varnix::SettingsFile settings(varnix::SettingsFile::defaultPath());
  varnix::QtUserPrompts prompts;
  varnix::MainWindow window(prompts, settings, QApplication::arguments());
  prompts.setParent(&window);
  window.showMaximized();
  return app.exec();
}
