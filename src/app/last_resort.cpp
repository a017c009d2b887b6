#include "app/last_resort.h"

#include <QMessageBox>
#include <exception>
#include <new>

namespace varnix {

bool LastResortApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::bad_alloc&) {
    report("Not enough memory for this command; it was stopped.");
  } catch (const std::exception& e) {
    report(QString("Unexpected error: ") + e.what());
  } catch (...) {
    report("Unexpected error.");
  }
  return false;
}

void LastResortApplication::report(const QString& text) {
  static bool open = false;
  if (open) return;
  open = true;
  QMessageBox box(QMessageBox::Critical, "Varnix", text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setObjectName("lastResort");
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.exec();
  open = false;
}

}  // namespace varnix
