// Conversion of one free-format value token to a 32-bit integer or real.
//
// A value token is an optional sign, digits with at most one decimal point,
// and an optional exponent: one of the letters E, D or Q (either case) and
// an optionally signed integer. Both functions are pure: they return a
// status and leave the value untouched unless the status is `ok`.
//   syntax_error      a character that cannot stand in a number ("abc",
//                     "1;2"), a second point or exponent letter ("1.2.3"),
//                     an exponent letter at the start ("e5")
//   conversion_error  admitted characters that are still no storable
//                     number: an integer beyond 32 bits, a real beyond the
//                     single-precision range, a sign alone, "1e", a quoted
//                     string, a logical constant (T, F, .TRUE.)
// A real token is rounded once to the nearest float (ties to even); an
// integer item given a real token takes it truncated toward zero (7.9 -> 7,
// 1e2 -> 100).
#pragma once

#include <cstdint>
#include <string_view>

namespace tirovan::textio {

enum class TokenStatus { ok, syntax_error, conversion_error };

[[nodiscard]] TokenStatus parse_integer(std::string_view token, std::int32_t& value);
[[nodiscard]] TokenStatus parse_real(std::string_view token, float& value);

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

} // namespace tirovan::textio
