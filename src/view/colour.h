#pragma once

#include <QColor>

#include "workspace/graph_store.h"

namespace varnix {

/// A colour value of the core and the settings file (0x00BBGGRR, red in the
/// low byte) as Qt's colour.
inline QColor toQColor(Colour c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

}  // namespace varnix
