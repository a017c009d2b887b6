#pragma once

#include <stdexcept>
#include <string>

namespace varnix {

/// An error that ends a command; what() is the exact text the user is shown
/// (the general error report adds the full stop).
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace varnix
