#pragma once

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>
#include <QKeySequence>

namespace varnix {

/// For a tool window's event(): claims Ctrl+C and Ctrl+S before the main
/// window's menu shortcuts take them; true when e was such a key.
inline bool claimCopyAndSaveKeys(QEvent* e) {
  if (e->type() != QEvent::ShortcutOverride) return false;
  auto* k = static_cast<QKeyEvent*>(e);
  if (!k->matches(QKeySequence::Copy) && !k->matches(QKeySequence::Save)) return false;
  e->accept();
  return true;
}

/// For a tool window's keyPressEvent(): Ctrl+C presses copy, Ctrl+S save;
/// false for any other key.
inline bool pressCopyOrSave(QKeyEvent* e, QAbstractButton* copy, QAbstractButton* save) {
  if (e->matches(QKeySequence::Copy))
    copy->click();
  else if (e->matches(QKeySequence::Save))
    save->click();
  else
    return false;
  return true;
}

}  // namespace varnix
