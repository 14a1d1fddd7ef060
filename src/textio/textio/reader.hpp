// Free-format (list-directed) record input.
//
// A read statement starts on a new line and takes its values in order,
// found by their separators: blanks, tabs, a comma with blanks or tabs
// around it, or the end of a line. Lines end at LF; a CR right before the
// LF (or right before the end of the file) is dropped. Further forms:
//   r*c   r repetitions of the value c          3*0.5
//   r*    r null values                          2*
//   ,,    a null value (so is a comma before the first value)
//   /     ends the statement; the items left keep their values
// A null value leaves its item unchanged: the reader never sets an item of
// its own accord. Value tokens: optional sign, digits with at most one
// decimal point, optional exponent letter E, D or Q (either case) with an
// optionally signed integer. An integer item given a real token takes it
// truncated toward zero (7.9 -> 7, 1e2 -> 100).
//
// When every item has its value the rest of the line is ignored; a read
// without items (or whose array runs are all empty) passes over exactly one
// line. Blank lines are passed over while a value is still needed.
//
// Failures end the run (failure.hpp): no further line when one is needed
// (24 "end-of-file during read"), a malformed token (59 "list-directed I/O
// syntax error"), a well-formed token that cannot be stored, such as an
// integer beyond 32 bits, a real beyond the single-precision range, a
// quoted string, a logical constant or a sign alone (64 "input conversion
// error").
//
// Input is read in fixed-size blocks, tokens parsed in place; memory does
// not grow with the length of a line, only with the length of one token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tirovan::textio {

// Conversion of one value token; `ok` leaves the value in the output.
enum class TokenStatus { ok, syntax_error, conversion_error };
[[nodiscard]] TokenStatus parse_integer(std::string_view token, std::int32_t& value);
[[nodiscard]] TokenStatus parse_real(std::string_view token, float& value);

class Reader {
public:
  // Reads from `fd`; `unit` and `path` name it in failure messages. The fd
  // is closed by close() or the destructor when `owns_fd` is set.
  Reader(int fd, int unit, std::string path, bool owns_fd);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Called before every system read that may wait for input: the program
  // flushes its output there, so that a live pipe sees every record before
  // the program waits for the next one.
  void set_before_wait(std::function<void()> hook) { before_wait_ = std::move(hook); }

  void close();

  [[nodiscard]] int unit() const noexcept { return unit_; }
  [[nodiscard]] const std::string& path() const noexcept { return path_; }

  // One read statement: construct it (this fetches the statement's first
  // line), then give it the items in order.
  class Statement {
  public:
    explicit Statement(Reader& reader);
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() = default;

    void item(std::int32_t& value);
    void item(float& value);
    void items(std::span<float> values);

  private:
    Reader& reader_;
  };

private:
  enum class Next { value, null, slash };

  void begin_statement();
  Next next_value(std::string_view& token);
  [[nodiscard]] bool refill();
  [[nodiscard]] int peek(std::size_t offset);
  std::size_t scan_token(bool& has_star);
  void skip_rest_of_line();
  void next_line();
  [[noreturn]] void fail(TokenStatus status) const;
  [[noreturn]] void fail_end_of_file() const;

  int fd_;
  int unit_;
  std::string path_;
  bool owns_fd_;
  std::function<void()> before_wait_;

  std::vector<char> buffer_;
  std::size_t pos_ = 0; // next unread byte
  std::size_t end_ = 0; // end of the bytes read so far
  bool at_end_of_file_ = false;
  bool line_open_ = false; // a statement has started on the current line

  // State of the current statement.
  bool slash_ = false;
  bool comma_is_null_ = true; // a comma here gives a null value
  std::uint64_t repeats_left_ = 0;
  bool repeat_is_null_ = false;
  std::string repeat_value_;
};

} // namespace tirovan::textio
