// Field editing for list output and fixed-format output.
//
// Each function writes one field at `out` and returns the end of what it
// wrote; the caller provides room (`list_real_width` for a list-output real,
// w for an Iw or Fw.d field). Nothing here fails: a value too wide for its
// field fills the field with asterisks.
//
// Rounding is to nearest from the exact stored 32-bit value, with a tie
// (possible only for values a float holds exactly, such as 0.0625 under
// F10.3) going to the even digit. A negative value that rounds to zero keeps
// its minus sign ("-0.000"), as C's printf and current Fortran processors
// show it. Infinities and NaN are written as "Infinity", "-Infinity" and
// "NaN", right-justified in the field (asterisks if the field is narrower).
#pragma once

#include <cstdint>
#include <string_view>

namespace tirovan::textio {

inline constexpr int list_real_width = 16;

// List-output real: 16 columns, right-justified. Fixed form with 6 decimals
// for 1 <= |x| < 10 000 000, otherwise exponent form with seven significant
// digits ("    1.234000E-01"); the choice is made on |x| before rounding.
char* edit_list_real(char* out, float x);

// Iw: the integer right-justified in w columns, "-" when negative.
char* edit_integer(char* out, std::int32_t value, int width);

// Iw applied to a real truncated toward zero (the results file's hour and
// minute). A value outside the 32-bit integer range, or NaN, fills the field
// with asterisks: there is no integer to show.
char* edit_truncated(char* out, float value, int width);

// Fw.d (0 <= d <= 30): the real rounded to d decimals, right-justified in w
// columns, with a single "0" before the point when the integer part is zero.
char* edit_fixed(char* out, float x, int width, int decimals);

// A: the text at its full stored length.
char* edit_text(char* out, std::string_view text);

} // namespace tirovan::textio
