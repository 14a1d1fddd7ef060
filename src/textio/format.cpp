#include "textio/format.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace tirovan::textio {
namespace {

// Powers of ten that a double holds exactly (up to 10^22).
constexpr std::array<double, 13> exact_pow10 = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12};

char* fill(char* out, char c, int count) {
  std::memset(out, c, static_cast<std::size_t>(count));
  return out + count;
}

// Right-justifies text[0, len) in a field of `width` columns, or fills the
// field with asterisks when the text is longer.
char* justify(char* out, const char* text, int len, int width) {
  if (len > width) return fill(out, '*', width);
  out = fill(out, ' ', width - len);
  std::memcpy(out, text, static_cast<std::size_t>(len));
  return out + len;
}

char* write_text(char* out, std::string_view text) { return std::copy(text.begin(), text.end(), out); }

char* write_non_finite(char* out, float x) {
  return write_text(out, std::isnan(x) ? "NaN" : (x < 0 ? "-Infinity" : "Infinity"));
}

// "00" "01" ... "99": two digits per division.
constexpr std::array<char, 200> digit_pairs = [] {
  std::array<char, 200> table{};
  for (std::size_t i = 0; i < 100; ++i) {
    table[2 * i] = static_cast<char>('0' + i / 10);
    table[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return table;
}();

// Writes `digits` decimal digits of n (zero-padded), n < 10^digits.
char* write_padded(char* out, std::uint64_t n, int digits) {
  int i = digits;
  while (i >= 2) {
    i -= 2;
    std::memcpy(out + i, &digit_pairs[static_cast<std::size_t>(2 * (n % 100))], 2);
    n /= 100;
  }
  if (i == 1) out[0] = static_cast<char>('0' + n % 10);
  return out + digits;
}

char* write_unsigned(char* out, std::uint64_t n) {
  char tmp[20];
  int len = 0;
  do {
    tmp[len++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  while (len > 0) *out++ = tmp[--len];
  return out;
}

// x with `decimals` digits after the point, from its exact value.
// |x| * 10^decimals is exact in double when decimals <= 6 and |x| < 10^9
// (24 bits of a float plus at most 14 bits of 5^6), so one rounding
// to an integer (ties to even, the default rounding mode) gives the correctly
// rounded decimal. Other values go through std::to_chars, which rounds the
// exact binary value the same way.
char* write_fixed(char* out, float x, int decimals) {
  if (decimals <= 6 && std::fabs(x) < 1e9f) {
    const double scaled =
        std::nearbyint(std::fabs(static_cast<double>(x)) * exact_pow10[static_cast<std::size_t>(decimals)]);
    const auto n = static_cast<std::uint64_t>(scaled);
    const auto unit = static_cast<std::uint64_t>(exact_pow10[static_cast<std::size_t>(decimals)]);
    if (std::signbit(x)) *out++ = '-';
    out = write_unsigned(out, n / unit);
    *out++ = '.';
    return write_padded(out, n % unit, decimals);
  }
  const auto [end, error] = std::to_chars(out, out + 80, x, std::chars_format::fixed, decimals);
  return error == std::errc{} ? end : out;
}

// Exponent form with seven significant digits: d.ddddddE+xx.
char* write_exponent7(char* out, float x) {
  if (std::signbit(x)) *out++ = '-';
  const double a = std::fabs(static_cast<double>(x));
  if (a == 0.0) return write_text(out, "0.000000E+00");
  // Fast path for 1e-6 <= a < 1, the usual optical thicknesses: a * 10^k
  // is exact for k <= 12, so the first k that brings it to [10^6, 10^7)
  // gives the decimal exponent and one exact rounding gives the digits.
  if (a < 1.0) {
    for (int k = 7; k <= 12; ++k) {
      const double m = a * exact_pow10[static_cast<std::size_t>(k)];
      if (m < 1e6) continue;
      auto n = static_cast<std::uint64_t>(std::nearbyint(m));
      int exponent = 6 - k;
      if (n == 10000000) { // rounded up into the next decade
        n = 1000000;
        ++exponent;
      }
      *out++ = static_cast<char>('0' + n / 1000000);
      *out++ = '.';
      out = write_padded(out, n % 1000000, 6);
      *out++ = 'E';
      *out++ = exponent < 0 ? '-' : '+';
      return write_padded(out, static_cast<std::uint64_t>(std::abs(exponent)), 2);
    }
  }
  char* end = std::to_chars(out, out + 32, std::fabs(x), std::chars_format::scientific, 6).ptr;
  for (char* p = out; p != end; ++p) {
    if (*p == 'e') *p = 'E';
  }
  return end;
}

} // namespace

char* edit_list_real(char* out, float x) {
  // The usual optical thicknesses, 1e-6 <= |x| < 1, straight into the field.
  const float magnitude = std::fabs(x);
  if (magnitude >= 1e-6f && magnitude < 1.0f) {
    const int sign = std::signbit(x) ? 1 : 0;
    out = fill(out, ' ', list_real_width - 12 - sign);
    return write_exponent7(out, x);
  }
  char text[96];
  char* end;
  const float a = std::fabs(x);
  if (!std::isfinite(x)) {
    end = write_non_finite(text, x);
  } else if (a >= 1.0f && a < 10000000.0f) {
    end = write_fixed(text, x, 6);
  } else {
    end = write_exponent7(text, x);
  }
  return justify(out, text, static_cast<int>(end - text), list_real_width);
}

char* edit_integer(char* out, std::int32_t value, int width) {
  char text[12];
  char* end = text;
  if (value < 0) *end++ = '-';
  // Magnitude through 64 bits: -2^31 has no 32-bit positive counterpart.
  end = write_unsigned(end, static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(value))));
  return justify(out, text, static_cast<int>(end - text), width);
}

char* edit_truncated(char* out, float value, int width) {
  // Every value in (-2^31 - 1, 2^31) truncates to a 32-bit integer.
  const auto v = static_cast<double>(value);
  if (!(v > -2147483649.0 && v < 2147483648.0)) return fill(out, '*', width);
  return edit_integer(out, static_cast<std::int32_t>(value), width);
}

char* edit_fixed(char* out, float x, int width, int decimals) {
  char text[96];
  char* end = std::isfinite(x) ? write_fixed(text, x, decimals) : write_non_finite(text, x);
  return justify(out, text, static_cast<int>(end - text), width);
}

char* edit_text(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

} // namespace tirovan::textio
