#pragma once

#include <QApplication>
#include <QString>

namespace varnix {

/// The last resort: an exception that escaped a handler is reported in a box
/// and the event loop goes on, so the user's graphs stay and can be saved.
class LastResortApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;

  /// The box: above every window, the stay-on-top tool windows too, and one
  /// at a time: a fault that repeats while it is open (a refresh that fails
  /// again on each event) opens no second box.
  static void report(const QString& text);
};

}  // namespace varnix
