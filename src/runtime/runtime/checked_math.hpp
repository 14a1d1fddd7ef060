// Checked mathematical functions: the logarithm, real power, arcsine,
// arccosine, sine and cosine of the retrieval, each evaluated in double
// precision and reporting an argument outside its domain by throwing the
// MATH failure (failure.hpp).
//
// Single-precision overloads take and return `float`: the function is
// evaluated in double and its result rounded once to single precision, so
// that the value a caller stores is the correctly rounded float of the
// function in all but the rarest cases.
//
// Conventions, per function:
//   log   x == 0 (either sign)            -> SING
//         x < 0, x == -inf                -> DOMAIN
//   pow   x < 0 with a non-integer y      -> DOMAIN
//         x == 0 with y < 0               -> SING
//         finite x, y with infinite result -> OVERFLOW
//   asin, acos   |x| > 1                  -> DOMAIN
//   sin, cos     x infinite               -> DOMAIN
// A NaN argument is no failure: it passes through quietly as a NaN result.
// TLOSS (total loss of significance) has its report in failure.hpp, but
// this platform's sine and cosine reduce every finite argument exactly, so
// no finite argument loses its significance here: a time of 1e20 hours
// still gives an angle, and the run goes on.
#pragma once

#include <cmath>
#include <string_view>

#include "runtime/failure.hpp"

namespace tirovan::runtime::checked {

[[noreturn]] inline void fail(std::string_view function, MathKind kind) { throw math_failure(function, kind); }

inline double log(double x) {
  if (x <= 0.0) fail("log", x == 0.0 ? MathKind::sing : MathKind::domain);
  return std::log(x);
}
inline float log(float x) { return static_cast<float>(log(static_cast<double>(x))); }

inline double pow(double x, double y) {
  if (x < 0.0 && std::isfinite(y) && std::trunc(y) != y) fail("pow", MathKind::domain);
  if (x == 0.0 && y < 0.0) fail("pow", MathKind::sing);
  const double r = std::pow(x, y);
  if (std::isinf(r) && std::isfinite(x) && std::isfinite(y)) fail("pow", MathKind::overflow);
  return r;
}

inline float asin(float x) {
  if (std::fabs(x) > 1.0f) fail("asin", MathKind::domain);
  return static_cast<float>(std::asin(static_cast<double>(x)));
}

inline float acos(float x) {
  if (std::fabs(x) > 1.0f) fail("acos", MathKind::domain);
  return static_cast<float>(std::acos(static_cast<double>(x)));
}

inline float sin(float x) {
  if (std::isinf(x)) fail("sin", MathKind::domain);
  return static_cast<float>(std::sin(static_cast<double>(x)));
}

inline float cos(float x) {
  if (std::isinf(x)) fail("cos", MathKind::domain);
  return static_cast<float>(std::cos(static_cast<double>(x)));
}

} // namespace tirovan::runtime::checked
