#pragma once

#include <cstddef>
#include <vector>

namespace varnix {

/// What the graph list tells a command: the selected rows in ascending
/// order and the focus row (the current graph, selected or not).
struct Selection {
  std::vector<std::size_t> rows;
  std::size_t current = 0;

  bool isSelected(std::size_t row) const {
    for (std::size_t r : rows)
      if (r == row) return true;
    return false;
  }
};

}  // namespace varnix
