#pragma once

#include <QLayout>
#include <QString>
#include <QWidget>
#include <QtGlobal>

namespace varnix::test {

/// Whether the widget is an item of the layout or of a layout inside it.
inline bool laidOut(const QLayout* layout, const QWidget* w) {
  for (int i = 0; layout && i < layout->count(); ++i) {
    QLayoutItem* item = layout->itemAt(i);
    if (item->widget() == w || laidOut(item->layout(), w)) return true;
  }
  return false;
}

/// The controls of a window (its own child widgets, not Qt's inner ones)
/// that have no place in its layout: one left out sits in the top left
/// corner, over the others. Fills `controls` with how many there are.
inline QStringList controlsNotLaidOut(const QWidget* window, int& controls) {
  QStringList out;
  controls = 0;
  for (const QWidget* w : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w->isWindow() || w->objectName().startsWith("qt_")) continue;
    ++controls;
    if (!laidOut(window->layout(), w))
      out << QString(w->metaObject()->className()) + " " + w->objectName();
  }
  return out;
}

}  // namespace varnix::test
