#pragma once

#include "workspace/graph_store.h"

namespace varnix {

/// The print copy of a series (what Print, Copy to clipboard and Export
/// picture draw): the points whose x lies in the shown range [x0, x1] and
/// whose y lies in the shown range [y0, y1] on a linear axis, or is at least
/// 1 (on either axis; the only test on a logarithmic one). Order is kept;
/// the copy's cached ranges are those of its points.
Series printCopy(const Series& s, double x0, double x1, double y0, double y1, bool logY);

}  // namespace varnix
