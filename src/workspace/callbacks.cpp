#include "workspace/callbacks.h"

#include <cmath>

namespace varnix {

void reportProgress(const ProgressFn& progress, std::size_t done, std::size_t total) {
  if (progress && total > 0)
    progress(static_cast<int>(
        std::nearbyint(100.0 * static_cast<double>(done) / static_cast<double>(total))));
}

}  // namespace varnix
