#include "textio/reader.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include <unistd.h>

#include "runtime/console_events.hpp"
#include "runtime/files.hpp"
#include "runtime/units.hpp"

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

} // namespace

Reader::Reader(int fd, int unit, std::string path, bool owns_fd)
    : fd_(fd), unit_(unit), path_(std::move(path)), owns_fd_(owns_fd), may_wait_(!runtime::is_regular_file(fd)),
      buffer_(block_size) {}

Reader::~Reader() {
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
}

void Reader::close() {
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

TextPosition Reader::position_at(std::size_t offset) const { return {line_, origin_ + offset - line_start_ + 1}; }

void Reader::fail(TokenStatus status, std::string_view token) const {
  const auto number =
      status == TokenStatus::syntax_error ? runtime::IoFailure::syntax_error : runtime::IoFailure::conversion_error;
  throw ReadFailure(runtime::io_failure(number, unit_, path_), number, value_position_, std::string(token));
}

void Reader::fail_end_of_file() const {
  const auto number = runtime::IoFailure::end_of_file;
  throw ReadFailure(runtime::io_failure(number, unit_, path_), number, position_at(pos_), {});
}

// Passes over a line end of `length` bytes (LF, or CR LF) at pos_.
void Reader::consume_line_end(std::size_t length) {
  pos_ += length;
  ++line_;
  line_start_ = origin_ + pos_;
}

// Keeps the unread bytes [pos_, end_), moved to the front, and appends the
// next block of the file. False at the end of the file.
bool Reader::refill() {
  if (at_end_of_file_) return false;
  if (origin_ + end_ - line_start_ > line_limit_) {
    // A line that has not ended after line_limit_ bytes: an input that
    // never ends (a device, a file without line ends) for a caller that
    // set a limit.
    throw ReadFailure(runtime::io_failure(runtime::IoFailure::syntax_error, unit_, path_),
                      runtime::IoFailure::syntax_error, position_at(pos_), {});
  }
  if (pos_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    origin_ += pos_;
    pos_ = 0;
  }
  if (end_ == buffer_.size()) {
    // One token longer than a block; scan_token stops before it passes
    // max_token_length, so the buffer stays below twice that.
    try {
      buffer_.resize(buffer_.size() * 2);
    } catch (const std::bad_alloc&) {
      throw runtime::out_of_memory(unit_, path_);
    }
  }
  if (may_wait_) runtime::flush_output_units();
  for (;;) {
    ssize_t n = 0;
    if (may_wait_) {
      // Everything is flushed: a console event may end the process from
      // its handler while the read waits.
      const runtime::BlockingSection waiting;
      n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    } else {
      n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    }
    if (n > 0) {
      if (origin_ == 0 && end_ < 3 && end_ + static_cast<std::size_t>(n) >= 3) {
        byte_order_mark_ = buffer_[0] == '\xEF' && buffer_[1] == '\xBB' && buffer_[2] == '\xBF';
      }
      end_ += static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) {
      at_end_of_file_ = true;
      return false;
    }
    if (errno != EINTR) throw runtime::io_failure(runtime::IoFailure::read_error, unit_, path_, errno);
    runtime::check_console_event();
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
      pos_ = static_cast<std::size_t>(static_cast<const char*>(lf) - buffer_.data());
      consume_line_end(1);
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
  runtime::check_console_event();
  if (line_open_ && notes_ != nullptr) note_comma_after_statement();
  if (line_open_) skip_rest_of_line();
  line_open_ = true;
  next_line();
  statement_line_ = line_;
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
    if (i > max_token_length || !refill()) return i; // the caller refuses a token too long
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
      blank_since_token_ = true;
      continue;
    }
    if (c < 0 || c == '\n' || (c == '\r' && (peek(1) == '\n' || peek(1) < 0))) {
      if (c == '\n') consume_line_end(1);
      if (c == '\r') {
        if (peek(1) == '\n') {
          consume_line_end(2);
        } else {
          pos_ += 1; // a CR ending the file
        }
      }
      next_line();
      continue;
    }
    if (c == ',') {
      if (notes_ != nullptr) {
        const std::uint64_t at = origin_ + pos_;
        if (at == token_end_ && !last_token_.empty() && is_digit(last_token_.back())) comma_at_ = at;
        if (comma_is_null_) notes_->push_back({TextNote::Kind::null_value, position_at(pos_), {}, {}});
      }
      ++pos_;
      if (comma_is_null_) return Next::null;
      comma_is_null_ = true;
      continue;
    }
    if (c == '/') {
      if (notes_ != nullptr) notes_->push_back({TextNote::Kind::slash, position_at(pos_), {}, {}});
      ++pos_;
      slash_ = true;
      return Next::slash;
    }
    bool has_star = false;
    const std::size_t length = scan_token(has_star);
    value_position_ = position_at(pos_);
    token = std::string_view(buffer_.data() + pos_, length);
    if (notes_ != nullptr) note_token(token);
    pos_ += length;
    comma_is_null_ = false;
    if (length > max_token_length) fail(TokenStatus::syntax_error, token.substr(0, max_token_length));
    if (!has_star) return Next::value;
    const std::size_t star = token.find('*');

    // Repeat form r*c or r*: r is an unsigned, nonzero integer.
    const std::string_view count = token.substr(0, star);
    if (count.empty()) fail(TokenStatus::syntax_error, token);
    std::uint64_t r = 0;
    for (const char d : count) {
      if (!is_digit(d)) fail(TokenStatus::syntax_error, token);
      r = r * 10 + static_cast<std::uint64_t>(d - '0');
      if (r > std::numeric_limits<std::int32_t>::max()) fail(TokenStatus::conversion_error, token);
    }
    if (r == 0) fail(TokenStatus::syntax_error, token);
    const std::string_view repeated = token.substr(star + 1);
    if (repeated.find('*') != std::string_view::npos) fail(TokenStatus::syntax_error, token);
    repeats_left_ = r - 1;
    repeat_is_null_ = repeated.empty();
    if (repeat_is_null_) {
      if (notes_ != nullptr) notes_->push_back({TextNote::Kind::null_value, value_position_, {}, {}});
      return Next::null;
    }
    repeat_value_.assign(repeated);
    token = repeat_value_;
    return Next::value;
  }
}

// A value token starts at pos_ (notes are kept): a digit comma right
// before it, a blank between it and an earlier value of its line.
void Reader::note_token(std::string_view token) {
  const std::uint64_t at = origin_ + pos_;
  if (token_line_ == line_ && blank_since_token_) {
    notes_->push_back({TextNote::Kind::blank_separator, value_position_, {}, {}});
  }
  if (comma_at_ != ~std::uint64_t{0} && comma_at_ + 1 == at && !token.empty() && is_digit(token.front())) {
    const TextPosition before_at{line_, value_position_.column - 1 - last_token_.size()};
    notes_->push_back({TextNote::Kind::digit_comma, before_at, last_token_, std::string(token.substr(0, 40))});
  }
  constexpr std::size_t kept = 40; // enough of a number to quote it
  last_token_.assign(token.substr(0, kept));
  token_end_ = at + token.size();
  token_line_ = line_;
  blank_since_token_ = false;
  comma_at_ = ~std::uint64_t{0};
}

// The statement before ended on a value right before a comma and a digit
// ("0,0027" where 0 was its last value): a digit comma in the rest of the
// line, which is passed over.
void Reader::note_comma_after_statement() {
  if (origin_ + pos_ != token_end_ || last_token_.empty() || !is_digit(last_token_.back())) return;
  if (peek(0) != ',' || peek(1) < 0 || !is_digit(static_cast<char>(peek(1)))) return;
  constexpr std::size_t kept = 40;
  std::string after;
  for (std::size_t i = 1; after.size() < kept; ++i) {
    const int c = peek(i);
    if (c < 0 || byte_class[static_cast<unsigned char>(c)] == token_end) break;
    after += static_cast<char>(c);
  }
  const TextPosition before_at{line_, origin_ + pos_ - line_start_ + 1 - last_token_.size()};
  notes_->push_back({TextNote::Kind::digit_comma, before_at, last_token_, after});
}

Reader::Statement::Statement(Reader& reader) : reader_(reader) { reader_.begin_statement(); }

bool Reader::Statement::item(std::int32_t& value) {
  if (reader_.slash_) return false;
  std::string_view token;
  if (reader_.next_value(token) != Next::value) return false;
  const TokenStatus status = parse_integer(token, value);
  if (status != TokenStatus::ok) reader_.fail(status, token);
  return true;
}

bool Reader::Statement::item(float& value) {
  if (reader_.slash_) return false;
  std::string_view token;
  if (reader_.next_value(token) != Next::value) return false;
  const TokenStatus status = parse_real(token, value);
  if (status != TokenStatus::ok) reader_.fail(status, token);
  return true;
}

std::string Reader::Statement::rest_of_line(std::size_t limit) {
  std::string text;
  for (;;) {
    const int c = reader_.peek(0);
    if (c < 0 || c == '\n' || (c == '\r' && (reader_.peek(1) == '\n' || reader_.peek(1) < 0))) return text;
    if (text.size() < limit) text += static_cast<char>(c);
    ++reader_.pos_;
  }
}

void Reader::Statement::items(std::span<float> values) {
  for (float& value : values) item(value);
}

} // namespace tirovan::textio
