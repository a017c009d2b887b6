#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "app/last_resort.h"
#include "app/main_window.h"
#include "app/user_prompts.h"
#include "workspace/settings_file.h"
#include "workspace/version.h"

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    if (argv[1][2] == 'v') {
      std::printf("varnix %s\n", varnix::kVersion);
    } else {
      std::printf(
          "usage: varnix [FILE]\n\n"
          "Starts Varnix, the viewer and editor of measured curves, and loads FILE (a\n"
          "data file; quote a path with spaces). F1 in the program opens the manual.\n\n"
          "  --help     this text\n"
          "  --version  the program's version\n");
    }
    return 0;
  }
  varnix::LastResortApplication app(argc, argv);
  QApplication::setApplicationName("Varnix");
  // Every number is read and written with '.' whatever the user's locale.
  std::setlocale(LC_NUMERIC, "C");
  try {
    varnix::SettingsFile settings(varnix::SettingsFile::defaultPath());
    varnix::QtUserPrompts prompts;
    varnix::MainWindow window(prompts, settings, QApplication::arguments());
    prompts.setParent(&window);
    window.showMaximized();
    if (!settings.readProblem().empty())
      QTimer::singleShot(0, &window, [&] {
        prompts.message(QString::fromStdString(settings.readProblem()) + ".");
      });
    return app.exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Varnix", QString("Varnix could not start: ") + e.what());
  }
  return 1;
}
