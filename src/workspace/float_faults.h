#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace varnix {

inline constexpr const char* kInvalidOperationText = "Invalid floating point operation";
inline constexpr const char* kDivisionByZeroText = "Floating point division by zero";
inline constexpr const char* kOverflowText = "Floating point overflow";

enum class FloatFault { InvalidOperation, DivisionByZero, Overflow };

/// Throws varnix::Error with the standard text of the fault.
[[noreturn]] void throwFloatFault(FloatFault fault);

// Faults are detected per operation from the result: a non-finite result from
// finite operands is a fault (NaN: invalid operation; infinity: overflow, or
// division by zero where the divisor is 0). Non-finite operands propagate
// silently, as quiet NaNs and infinities do in IEEE arithmetic.
//
// The *Fault functions return 0 for a sound result, otherwise 1 + the
// FloatFault; the check* functions throw instead.

inline int arithFault(double r, double a, double b) {
  if (std::isfinite(r) || !std::isfinite(a) || !std::isfinite(b)) [[likely]]
    return 0;
  return 1 + static_cast<int>(std::isnan(r) ? FloatFault::InvalidOperation : FloatFault::Overflow);
}

inline int divFault(double r, double a, double b) {
  if (std::isfinite(r) || !std::isfinite(a) || !std::isfinite(b)) [[likely]]
    return 0;
  if (b == 0)
    return 1 + static_cast<int>(a == 0 ? FloatFault::InvalidOperation : FloatFault::DivisionByZero);
  return 1 + static_cast<int>(std::isnan(r) ? FloatFault::InvalidOperation : FloatFault::Overflow);
}

/// For a one-argument function of v (ln, exp, sin, ...): ln(0) is a
/// division by zero, other infinities from finite v overflow.
inline int functionFault(double r, double v, bool poleAtZero = false) {
  if (std::isfinite(r) || !std::isfinite(v)) [[likely]]
    return 0;
  if (std::isnan(r)) return 1 + static_cast<int>(FloatFault::InvalidOperation);
  return 1 +
         static_cast<int>(poleAtZero && v == 0 ? FloatFault::DivisionByZero : FloatFault::Overflow);
}

/// Throws the fault of a *Fault code (nothing for 0).
inline void raiseFault(int code) {
  if (code) [[unlikely]]
    throwFloatFault(static_cast<FloatFault>(code - 1));
}

/// Checks the result r of a + b, a - b or a * b.
inline double checkArith(double r, double a, double b) {
  raiseFault(arithFault(r, a, b));
  return r;
}

/// Checks the result r of a / b.
inline double checkDiv(double r, double a, double b) {
  raiseFault(divFault(r, a, b));
  return r;
}

/// Checks the result r of a one-argument function of v.
inline double checkFunction(double r, double v, bool poleAtZero = false) {
  raiseFault(functionFault(r, v, poleAtZero));
  return r;
}

/// Rounds an extended-precision result to 64 bits; a value beyond the 64-bit
/// range overflows, a NaN from finite operands is an invalid operation.
inline double storeExtended(long double r) {
  const double d = static_cast<double>(r);
  if (!std::isfinite(d)) [[unlikely]] {
    throwFloatFault(std::isnan(d) ? FloatFault::InvalidOperation : FloatFault::Overflow);
  }
  return d;
}

/// a - b computed in extended precision and rounded to 64 bits. When the
/// exponents of a and b differ by at most 10, the exact difference has at
/// most 64 significant bits, so the extended result is exact and its one
/// rounding is the plain 64-bit subtraction; only other cases need the
/// extended unit.
inline double subtractExtended(double a, double b) {
  std::uint64_t ua, ub;
  std::memcpy(&ua, &a, sizeof ua);
  std::memcpy(&ub, &b, sizeof ub);
  const int ea = static_cast<int>((ua >> 52) & 0x7FF), eb = static_cast<int>((ub >> 52) & 0x7FF);
  if (ea != 0 && eb != 0 && ea - eb <= 10 && eb - ea <= 10) return a - b;
  return static_cast<double>(static_cast<long double>(a) - b);
}

/// Extended-precision division a / b, faults as checkDiv, stored as 64 bits.
inline double divideExtended(long double a, long double b) {
  if (b == 0) [[unlikely]]
    throwFloatFault(a == 0 ? FloatFault::InvalidOperation : FloatFault::DivisionByZero);
  return storeExtended(a / b);
}

}  // namespace varnix
