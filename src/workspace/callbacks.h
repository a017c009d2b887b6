#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace varnix {

/// Shows a message box with one OK button (varnix-cli prints the line).
using MessageFn = std::function<void(const std::string&)>;
/// Asks a warning question with Yes, No and Cancel; true only for Yes.
using ConfirmFn = std::function<bool(const std::string&)>;
/// Sets the progress bar, 0 to 100.
using ProgressFn = std::function<void(int)>;

/// Moves the progress bar to the share of `done` of `total` rows (or files),
/// rounded to the nearest whole per cent; nothing without a bar or rows.
void reportProgress(const ProgressFn& progress, std::size_t done, std::size_t total);

}  // namespace varnix
