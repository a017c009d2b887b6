#pragma once

namespace varnix {

inline constexpr const char* kProgramName = "Varnix";
inline constexpr const char* kVersion = "0.1.0";

}  // namespace varnix
