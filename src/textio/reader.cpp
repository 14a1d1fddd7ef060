#include "textio/reader.hpp"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include <unistd.h>

#include "textio/console_events.hpp"
#include "textio/failure.hpp"

namespace tirovan::textio {
namespace {

constexpr std::size_t block_size = std::size_t{64} * 1024;

// Bytes that end a value token: blank, tab, comma, slash and the line end
// (CR counts only before LF, which scan_token checks); and the repeat star.
enum ByteClass : unsigned char { ordinary, token_end, star };
constexpr std::array<ByteClass, 256> byte_class = [] {
  std::array<ByteClass, 256> table{};
  for (const char c : {' ', '\t', ',', '/', '\n', '\r'}) table[static_cast<unsigned char>(c)] = token_end;
  table['*'] = star;
  return table;
}();

bool is_digit(char c) { return c >= '0' && c <= '9'; }
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

TokenStatus parse_real(std::string_view token, float& value) {
  if (parse_short_decimal(token, value)) return TokenStatus::ok;
  const Number n = scan_number(token);
  if (n.status != TokenStatus::ok) return n.status;
  return convert_real(token, n, value);
}

Reader::Reader(int fd, int unit, std::string path, bool owns_fd)
    : fd_(fd), unit_(unit), path_(std::move(path)), owns_fd_(owns_fd), buffer_(block_size) {}

Reader::~Reader() {
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
}

void Reader::close() {
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void Reader::fail(TokenStatus status) const {
  throw io_failure(status == TokenStatus::syntax_error ? IoFailure::syntax_error : IoFailure::conversion_error, unit_,
                   path_);
}

void Reader::fail_end_of_file() const { throw io_failure(IoFailure::end_of_file, unit_, path_); }

// Keeps the unread bytes [pos_, end_), moved to the front, and appends the
// next block of the file. False at the end of the file.
bool Reader::refill() {
  if (at_end_of_file_) return false;
  if (pos_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2); // one token longer than a block
  if (before_wait_) before_wait_();
  for (;;) {
    ssize_t n = 0;
    {
      const BlockingSection waiting;
      n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    }
    if (n > 0) {
      end_ += static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) {
      at_end_of_file_ = true;
      return false;
    }
    if (errno != EINTR) throw io_failure(IoFailure::read_error, unit_, path_, errno);
    check_console_event();
  }
}

int Reader::peek(std::size_t offset) {
  while (pos_ + offset >= end_) {
    if (!refill()) return -1;
  }
  return static_cast<unsigned char>(buffer_[pos_ + offset]);
}

void Reader::skip_rest_of_line() {
  for (;;) {
    const void* lf = std::memchr(buffer_.data() + pos_, '\n', end_ - pos_);
    if (lf != nullptr) {
      pos_ = static_cast<std::size_t>(static_cast<const char*>(lf) - buffer_.data()) + 1;
      return;
    }
    pos_ = end_;
    if (!refill()) return; // the last line had no line feed
  }
}

// The current line is used up (its line end, if any, consumed): the
// statement needs the next line.
void Reader::next_line() {
  if (peek(0) < 0) fail_end_of_file();
}

void Reader::begin_statement() {
  check_console_event();
  if (line_open_) skip_rest_of_line();
  line_open_ = true;
  next_line();
  slash_ = false;
  comma_is_null_ = true;
  repeats_left_ = 0;
}

std::size_t Reader::scan_token(bool& has_star) {
  std::size_t i = 0;
  has_star = false;
  for (;;) {
    while (pos_ + i < end_) {
      const char c = buffer_[pos_ + i];
      const ByteClass kind = byte_class[static_cast<unsigned char>(c)];
      if (kind != token_end) {
        has_star = has_star || kind == star;
        ++i;
        continue;
      }
      if (c != '\r') return i;
      if (pos_ + i + 1 == end_) break; // need the byte after the CR
      if (buffer_[pos_ + i + 1] == '\n') return i;
      ++i; // a CR inside a line is an ordinary character
    }
    if (!refill()) return i;
  }
}

Reader::Next Reader::next_value(std::string_view& token) {
  if (repeats_left_ > 0) {
    --repeats_left_;
    if (repeat_is_null_) return Next::null;
    token = repeat_value_;
    return Next::value;
  }
  for (;;) {
    const int c = peek(0);
    if (c == ' ' || c == '\t') {
      ++pos_;
      continue;
    }
    if (c < 0 || c == '\n' || (c == '\r' && (peek(1) == '\n' || peek(1) < 0))) {
      if (c == '\n') pos_ += 1;
      if (c == '\r') pos_ += peek(1) == '\n' ? 2 : 1;
      next_line();
      continue;
    }
    if (c == ',') {
      ++pos_;
      if (comma_is_null_) return Next::null;
      comma_is_null_ = true;
      continue;
    }
    if (c == '/') {
      ++pos_;
      slash_ = true;
      return Next::slash;
    }
    bool has_star = false;
    const std::size_t length = scan_token(has_star);
    token = std::string_view(buffer_.data() + pos_, length);
    pos_ += length;
    comma_is_null_ = false;
    if (!has_star) return Next::value;
    const std::size_t star = token.find('*');

    // Repeat form r*c or r*: r is an unsigned, nonzero integer.
    const std::string_view count = token.substr(0, star);
    if (count.empty()) fail(TokenStatus::syntax_error);
    std::uint64_t r = 0;
    for (const char d : count) {
      if (!is_digit(d)) fail(TokenStatus::syntax_error);
      r = r * 10 + static_cast<std::uint64_t>(d - '0');
      if (r > std::numeric_limits<std::int32_t>::max()) fail(TokenStatus::conversion_error);
    }
    if (r == 0) fail(TokenStatus::syntax_error);
    const std::string_view repeated = token.substr(star + 1);
    if (repeated.find('*') != std::string_view::npos) fail(TokenStatus::syntax_error);
    repeats_left_ = r - 1;
    repeat_is_null_ = repeated.empty();
    if (repeat_is_null_) return Next::null;
    repeat_value_.assign(repeated);
    token = repeat_value_;
    return Next::value;
  }
}

Reader::Statement::Statement(Reader& reader) : reader_(reader) { reader_.begin_statement(); }

void Reader::Statement::item(std::int32_t& value) {
  if (reader_.slash_) return;
  std::string_view token;
  if (reader_.next_value(token) != Next::value) return;
  const TokenStatus status = parse_integer(token, value);
  if (status != TokenStatus::ok) reader_.fail(status);
}

void Reader::Statement::item(float& value) {
  if (reader_.slash_) return;
  std::string_view token;
  if (reader_.next_value(token) != Next::value) return;
  const TokenStatus status = parse_real(token, value);
  if (status != TokenStatus::ok) reader_.fail(status);
}

void Reader::Statement::items(std::span<float> values) {
  for (float& value : values) item(value);
}

} // namespace tirovan::textio
