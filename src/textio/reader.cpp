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

constexpr std::size_t block_size = 64 * 1024;

// Bytes that end a value token: blank, tab, comma, slash and the line end
// (CR counts only before LF, which scan_token checks).
constexpr std::array<bool, 256> token_end = [] {
  std::array<bool, 256> table{};
  for (const unsigned char c : {' ', '\t', ',', '/', '\n', '\r'}) table[c] = true;
  return table;
}();

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_exponent_letter(char c) {
  return c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q';
}
bool is_logical_start(char c) { return c == 't' || c == 'T' || c == 'f' || c == 'F'; }

struct Shape {
  TokenStatus status;
  bool integral; // no decimal point and no exponent
};

// Syntax of a numeric value token. Characters outside digits, signs, the
// point and the exponent letters, a second point (or one in the exponent),
// a second exponent letter, or an exponent letter with nothing but a sign
// before it are syntax errors. A token made only of admitted characters
// that is still no complete number ("+", "1e", "--1", ".") cannot be
// converted. Quoted strings and logical constants (T, F, .T, .F...) are
// no numbers either.
Shape classify(std::string_view token) {
  if (token.empty()) return {TokenStatus::conversion_error, false};
  const char first = token[0];
  if (first == '\'' || first == '"' || is_logical_start(first) ||
      (first == '.' && token.size() > 1 && is_logical_start(token[1]))) {
    return {TokenStatus::conversion_error, false};
  }
  std::size_t mantissa_digits = 0, exponent_digits = 0, points = 0;
  bool exponent = false, misplaced_sign = false;
  for (std::size_t i = 0; i < token.size(); ++i) {
    const char c = token[i];
    if (is_digit(c)) {
      ++(exponent ? exponent_digits : mantissa_digits);
    } else if (c == '.') {
      if (exponent || points > 0) return {TokenStatus::syntax_error, false};
      ++points;
    } else if (is_exponent_letter(c)) {
      if (exponent || (mantissa_digits == 0 && points == 0)) return {TokenStatus::syntax_error, false};
      exponent = true;
    } else if (c == '+' || c == '-') {
      const bool leading = i == 0;
      const bool after_letter = i > 0 && is_exponent_letter(token[i - 1]);
      if (!leading && !after_letter) misplaced_sign = true;
    } else {
      return {TokenStatus::syntax_error, false};
    }
  }
  if (misplaced_sign || mantissa_digits == 0 || (exponent && exponent_digits == 0)) {
    return {TokenStatus::conversion_error, false};
  }
  return {TokenStatus::ok, points == 0 && !exponent};
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
    const bool negative = token[i] == '-';
    if (token[i] == '+' || token[i] == '-') ++i;
    for (; i < token.size(); ++i) {
      if (exponent < 1000000000LL) exponent = exponent * 10 + (token[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  if (leading == std::numeric_limits<long long>::min()) return -1; // all zeros: no magnitude
  return leading + exponent;
}

// from_chars wants no leading '+' and 'e' as the exponent letter.
template <typename Real>
TokenStatus convert_real(std::string_view token, Real& value) {
  std::string normalized;
  const bool needs_copy = token[0] == '+' || token.find_first_of("dDqQ") != std::string_view::npos;
  if (needs_copy) {
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
    result = token[0] == '-' ? -Real(0) : Real(0);                          // underflow to zero
  } else if (error != std::errc{} || end != token.data() + token.size()) {
    return TokenStatus::conversion_error;
  }
  value = result;
  return TokenStatus::ok;
}

} // namespace

TokenStatus parse_integer(std::string_view token, std::int32_t& value) {
  const Shape shape = classify(token);
  if (shape.status != TokenStatus::ok) return shape.status;
  if (shape.integral) {
    const bool negative = token[0] == '-';
    std::size_t i = (token[0] == '+' || token[0] == '-') ? 1 : 0;
    std::int64_t magnitude = 0;
    for (; i < token.size(); ++i) {
      magnitude = magnitude * 10 + (token[i] - '0');
      if (magnitude > 2147483648LL) return TokenStatus::conversion_error;
    }
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value > std::numeric_limits<std::int32_t>::max()) return TokenStatus::conversion_error;
    value = static_cast<std::int32_t>(signed_value);
    return TokenStatus::ok;
  }
  double real = 0;
  if (convert_real(token, real) != TokenStatus::ok) return TokenStatus::conversion_error;
  if (!(real > -2147483649.0 && real < 2147483648.0)) return TokenStatus::conversion_error;
  value = static_cast<std::int32_t>(real); // truncation toward zero
  return TokenStatus::ok;
}

TokenStatus parse_real(std::string_view token, float& value) {
  const Shape shape = classify(token);
  if (shape.status != TokenStatus::ok) return shape.status;
  return convert_real(token, value);
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
  throw io_failure(status == TokenStatus::syntax_error ? IoFailure::syntax_error : IoFailure::conversion_error,
                   unit_, path_);
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

std::size_t Reader::scan_token() {
  std::size_t i = 0;
  for (;;) {
    while (pos_ + i < end_) {
      const char c = buffer_[pos_ + i];
      if (!token_end[static_cast<unsigned char>(c)]) {
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
    const std::size_t length = scan_token();
    token = std::string_view(buffer_.data() + pos_, length);
    pos_ += length;
    comma_is_null_ = false;
    const std::size_t star = token.find('*');
    if (star == std::string_view::npos) return Next::value;

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
