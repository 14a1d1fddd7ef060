#include "textio/numbers.hpp"

#include <array>
#include <charconv>
#include <limits>
#include <string>

namespace tirovan::textio {
namespace {

bool is_exponent_letter(char c) { return c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q'; }
bool is_logical_start(char c) { return c == 't' || c == 'T' || c == 'f' || c == 'F'; }

// What one pass over a value token finds. Syntax errors: characters other
// than digits, signs, the point and the exponent letters, a second point
// (or one in the exponent), a second exponent letter, or an exponent letter
// with nothing but a sign before it. Tokens made only of admitted
// characters that are still no complete number ("+", "1e", "--1", ".")
// cannot be converted; nor can quoted strings and logical constants (T, F,
// .T, .F...).
struct Number {
  TokenStatus status = TokenStatus::ok;
  bool integral = true; // no point and no exponent
  bool negative = false;
  bool exact = true; // all significant digits are in `digits` (at most 19)
  bool plain = true; // from_chars reads the token as it is (no '+' first, exponent letter e or E)
  std::uint64_t digits = 0;
  long long scale = 0; // value = digits * 10^scale, when exact
};

Number scan_number(std::string_view token) {
  Number n;
  if (token.empty()) return {TokenStatus::conversion_error};
  const char first = token[0];
  if (first == '\'' || first == '"' || is_logical_start(first) ||
      (first == '.' && token.size() > 1 && is_logical_start(token[1]))) {
    n.status = TokenStatus::conversion_error;
    return n;
  }
  int mantissa_digits = 0, significant = 0, exponent_digits = 0;
  long long fraction_digits = 0, exponent_value = 0;
  bool point = false, exponent = false, exponent_negative = false, misplaced_sign = false;
  for (std::size_t i = 0; i < token.size(); ++i) {
    const char c = token[i];
    if (is_digit(c)) {
      const auto d = static_cast<unsigned>(c - '0');
      if (exponent) {
        ++exponent_digits;
        if (exponent_value < 100000) exponent_value = exponent_value * 10 + d;
        continue;
      }
      ++mantissa_digits;
      if (n.digits == 0 && d == 0) { // a leading zero: no significant digit
        if (point) ++fraction_digits;
      } else if (significant < 19) {
        n.digits = n.digits * 10 + d;
        ++significant;
        if (point) ++fraction_digits;
      } else {
        n.exact = false;
      }
    } else if (c == '.') {
      if (exponent || point) return {TokenStatus::syntax_error};
      point = true;
    } else if (is_exponent_letter(c)) {
      if (exponent || (mantissa_digits == 0 && !point)) return {TokenStatus::syntax_error};
      exponent = true;
      if (c != 'e' && c != 'E') n.plain = false;
    } else if (c == '+' || c == '-') {
      if (i == 0) {
        n.negative = c == '-';
        if (c == '+') n.plain = false;
      } else if (is_exponent_letter(token[i - 1])) {
        exponent_negative = c == '-';
      } else {
        misplaced_sign = true;
      }
    } else {
      return {TokenStatus::syntax_error};
    }
  }
  if (misplaced_sign || mantissa_digits == 0 || (exponent && exponent_digits == 0)) {
    n.status = TokenStatus::conversion_error;
    return n;
  }
  n.integral = !point && !exponent;
  n.scale = (exponent_negative ? -exponent_value : exponent_value) - fraction_digits;
  return n;
}

// Decimal exponent of the leading significant digit of a well-formed real
// token (1.5e3 -> 3, 0.02 -> -2); only its sign matters, to tell an
// overflow from an underflow. Needs a nonzero digit in the token.
long long leading_exponent(std::string_view token) {
  std::size_t i = (token[0] == '+' || token[0] == '-') ? 1 : 0;
  long long position = 0; // exponent of the digit at i
  std::size_t integer_digits = 0;
  for (std::size_t j = i; j < token.size() && is_digit(token[j]); ++j) ++integer_digits;
  position = static_cast<long long>(integer_digits) - 1;
  long long leading = std::numeric_limits<long long>::min();
  for (; i < token.size() && !is_exponent_letter(token[i]); ++i) {
    if (token[i] == '.') continue;
    if (token[i] != '0') {
      leading = position;
      break;
    }
    --position;
  }
  while (i < token.size() && !is_exponent_letter(token[i])) ++i;
  long long exponent = 0;
  if (i < token.size()) {
    ++i;
    const bool negative = i < token.size() && token[i] == '-';
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
    for (; i < token.size(); ++i) {
      if (exponent < 1000000000LL) exponent = exponent * 10 + (token[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  if (leading == std::numeric_limits<long long>::min()) return -1; // all zeros: no magnitude
  return leading + exponent;
}

// Powers of ten held exactly: in float up to 10^10, in double up to 10^22.
constexpr std::array<double, 23> exact_pow10 = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                                1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
template <typename Real>
struct ExactLimits;
template <>
struct ExactLimits<float> {
  static constexpr std::uint64_t max_digits = 1ULL << 24;
  static constexpr long long max_scale = 10;
};
template <>
struct ExactLimits<double> {
  static constexpr std::uint64_t max_digits = 1ULL << 53;
  static constexpr long long max_scale = 22;
};

// The nearest Real to a well-formed token. When the digits and the power of
// ten are both exact in Real, one multiplication or division rounds once
// and so gives the nearest value (Clinger 1990); other tokens go to
// std::from_chars, which wants no leading '+' and 'e' as exponent letter.
template <typename Real>
TokenStatus convert_real(std::string_view token, const Number& n, Real& value) {
  using Limits = ExactLimits<Real>;
  if (n.exact && n.digits <= Limits::max_digits && n.scale >= -Limits::max_scale && n.scale <= Limits::max_scale) {
    const auto m = static_cast<Real>(n.digits);
    const auto p = static_cast<Real>(exact_pow10[static_cast<std::size_t>(n.scale < 0 ? -n.scale : n.scale)]);
    const Real magnitude = n.scale < 0 ? m / p : m * p;
    value = n.negative ? -magnitude : magnitude;
    return TokenStatus::ok;
  }
  std::string normalized;
  if (!n.plain) {
    normalized.assign(token[0] == '+' ? token.substr(1) : token);
    for (char& c : normalized) {
      if (c == 'd' || c == 'D' || c == 'q' || c == 'Q') c = 'e';
    }
    token = normalized;
  }
  Real result{};
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), result);
  if (error == std::errc::result_out_of_range) {
    if (leading_exponent(token) >= 0) return TokenStatus::conversion_error; // overflow
    result = n.negative ? -Real(0) : Real(0);                               // underflow to zero
  } else if (error != std::errc{} || end != token.data() + token.size()) {
    return TokenStatus::conversion_error;
  }
  value = result;
  return TokenStatus::ok;
}

} // namespace

TokenStatus parse_integer(std::string_view token, std::int32_t& value) {
  const Number n = scan_number(token);
  if (n.status != TokenStatus::ok) return n.status;
  if (n.integral) {
    if (!n.exact) return TokenStatus::conversion_error; // beyond 19 digits
    const std::uint64_t limit = n.negative ? 2147483648ULL : 2147483647ULL;
    if (n.digits > limit) return TokenStatus::conversion_error;
    const auto magnitude = static_cast<std::int64_t>(n.digits);
    value = static_cast<std::int32_t>(n.negative ? -magnitude : magnitude);
    return TokenStatus::ok;
  }
  double real = 0;
  if (convert_real(token, n, real) != TokenStatus::ok) return TokenStatus::conversion_error;
  if (!(real > -2147483649.0 && real < 2147483648.0)) return TokenStatus::conversion_error;
  value = static_cast<std::int32_t>(real); // truncation toward zero
  return TokenStatus::ok;
}

namespace {

// The common shapes [-]ddd and [-]ddd.ddd with at most 7 digits, where the
// digits are exact in a float and one division by an exact power of ten
// rounds once. False for every other token, which takes the full path.
bool parse_short_decimal(std::string_view token, float& value) {
  constexpr std::array<float, 8> pow10f = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f};
  const char* p = token.data();
  const char* const end = p + token.size();
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  std::uint32_t digits = 0;
  int count = 0;
  for (; p != end && is_digit(*p); ++p, ++count) digits = digits * 10 + static_cast<std::uint32_t>(*p - '0');
  int fraction = 0;
  if (p != end && *p == '.') {
    for (++p; p != end && is_digit(*p); ++p, ++fraction) digits = digits * 10 + static_cast<std::uint32_t>(*p - '0');
  }
  if (p != end || count + fraction == 0 || count + fraction > 7) return false;
  const float magnitude = static_cast<float>(digits) / pow10f[static_cast<std::size_t>(fraction)];
  value = negative ? -magnitude : magnitude;
  return true;
}

} // namespace

TokenStatus parse_real(std::string_view token, float& value) {
  if (parse_short_decimal(token, value)) return TokenStatus::ok;
  const Number n = scan_number(token);
  if (n.status != TokenStatus::ok) return n.status;
  return convert_real(token, n, value);
}

} // namespace tirovan::textio
