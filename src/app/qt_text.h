#pragma once

#include <QString>
#include <cmath>
#include <string>

#include "workspace/number_text.h"

namespace varnix {

/// Text between the core (UTF-8 std::string) and Qt.
inline QString qs(const std::string& s) {
  return QString::fromStdString(s);
}
inline std::string ss(const QString& s) {
  return s.toStdString();
}

/// A readout: the general number format with that many significant digits.
inline QString number(double v, int digits) {
  return qs(formatDataNumber(v, digits));
}

/// A readout of the cursors or the mouse: as number(), but "overflow" for a
/// value beyond the number range (a view wider than the largest numbers), not
/// INF or NAN.
inline QString readout(double v, int digits) {
  return std::isfinite(v) ? number(v, digits) : QString("overflow");
}

}  // namespace varnix
