// Checked mathematical functions: the logarithm, real power, arcsine,
// arccosine, sine and cosine of the retrieval, each evaluated in double
// precision and reporting an argument outside its domain by throwing the
// run-time MATH failure (see failure.hpp).
//
// Single-precision overloads take and return `float`: the function is
// evaluated in double and its result rounded once to single precision, as
// the single-precision intrinsics of the original run-time return it.
//
// Conventions, per function:
//   log   x == 0 (either sign)            -> SING    (6202)
//         x < 0, x == -inf                -> DOMAIN  (6201)
//   pow   x < 0 with a non-integer y      -> DOMAIN
//         x == 0 with y < 0               -> SING
//         finite x, y with infinite result -> OVERFLOW (6203)
//   asin, acos   |x| > 1                  -> DOMAIN
//   sin, cos     x infinite               -> DOMAIN
// A NaN argument is no failure: it passes through quietly as a NaN result.
// TLOSS (6205, total loss of significance) has its report in failure.hpp,
// but this platform's sine and cosine reduce every finite argument exactly,
// so no finite argument loses its significance here: a time of 1e20 hours
// still gives an angle, and the run goes on.
#pragma once

#include <cmath>
#include <string_view>

namespace tirovan::textio {

[[noreturn]] void throw_math_failure(std::string_view function, int kind_code);

namespace checked {

inline double log(double x) {
  if (x <= 0.0) throw_math_failure("log", x == 0.0 ? 6202 : 6201);
  return std::log(x);
}
inline float log(float x) { return static_cast<float>(log(static_cast<double>(x))); }

inline double pow(double x, double y) {
  if (x < 0.0 && std::isfinite(y) && std::trunc(y) != y) throw_math_failure("pow", 6201);
  if (x == 0.0 && y < 0.0) throw_math_failure("pow", 6202);
  const double r = std::pow(x, y);
  if (std::isinf(r) && std::isfinite(x) && std::isfinite(y)) throw_math_failure("pow", 6203);
  return r;
}

inline float asin(float x) {
  if (std::fabs(x) > 1.0f) throw_math_failure("asin", 6201);
  return static_cast<float>(std::asin(static_cast<double>(x)));
}

inline float acos(float x) {
  if (std::fabs(x) > 1.0f) throw_math_failure("acos", 6201);
  return static_cast<float>(std::acos(static_cast<double>(x)));
}

inline void check_trig_argument(std::string_view function, float x) {
  if (std::isinf(x)) throw_math_failure(function, 6201);
}

inline float sin(float x) {
  check_trig_argument("sin", x);
  return static_cast<float>(std::sin(static_cast<double>(x)));
}

inline float cos(float x) {
  check_trig_argument("cos", x);
  return static_cast<float>(std::cos(static_cast<double>(x)));
}

} // namespace checked
} // namespace tirovan::textio
