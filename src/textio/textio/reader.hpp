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
// Failures end the run (runtime/failure.hpp): no further line when one is needed
// (24 "end-of-file during read"), a malformed token or one longer than
// max_token_length (59 "list-directed I/O syntax error"), a well-formed
// token that cannot be stored, such as an integer beyond 32 bits, a real
// beyond the single-precision range, a quoted string, a logical constant or
// a sign alone (64 "input conversion error").
//
// Input is read in fixed-size blocks, tokens parsed in place; memory does
// not grow with the length of a line, only with the length of one token,
// which is bounded: an endless token (/dev/zero as input) is refused once
// it passes max_token_length, the buffer then at most twice that size. A
// buffer that cannot grow all the same ends the statement with failure 41
// ("insufficient virtual memory") for its unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/failure.hpp"
#include "textio/numbers.hpp"
#include "textio/text_position.hpp"

namespace tirovan::textio {

// The longest value token read, in bytes. A number needs a few dozen
// characters; a token longer than 1 MiB (a file of NUL bytes, a binary
// file, /dev/zero) is refused as a syntax error at its start.
inline constexpr std::size_t max_token_length = std::size_t{1} << 20;

class Reader {
public:
  // Reads from `fd`; `unit` and `path` name it in failure messages. The fd
  // is closed by close() or the destructor when `owns_fd` is set. Before a
  // system read that may wait (on anything but a regular file) every output
  // unit is flushed, so that whoever feeds a pipe live sees each record
  // before the program waits for the next input.
  Reader(int fd, int unit, std::string path, bool owns_fd);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  void close();

  [[nodiscard]] int unit() const noexcept { return unit_; }
  [[nodiscard]] const std::string& path() const noexcept { return path_; }
  // Start of the last value token read (of its r*c form for a repeat).
  [[nodiscard]] TextPosition value_position() const noexcept { return value_position_; }
  // The line the current read statement started on.
  [[nodiscard]] std::uint64_t statement_line() const noexcept { return statement_line_; }

  // A failed read statement leaves the reader usable: the next statement
  // starts on the line after the one where the failure happened.

  // Notes on the separators (text_position.hpp) are appended to `notes`
  // from now on; nullptr stops them. The run does not ask for them.
  void keep_notes(std::vector<TextNote>* notes) noexcept { notes_ = notes; }
  // A line longer than `bytes` fails as a syntax error with an empty token
  // at the position reached (the run sets no limit: its lines may be of
  // any length).
  void limit_lines(std::uint64_t bytes) noexcept { line_limit_ = bytes; }
  // The file starts with the UTF-8 byte-order mark EF BB BF (known once
  // the first statement has begun).
  [[nodiscard]] bool starts_with_byte_order_mark() const noexcept { return byte_order_mark_; }

  // One read statement: construct it (this fetches the statement's first
  // line), then give it the items in order.
  class Statement {
  public:
    explicit Statement(Reader& reader);
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() = default;

    // Each returns true when the item took a value, false when a null
    // value or a slash left it as it was.
    bool item(std::int32_t& value);
    bool item(float& value);
    void items(std::span<float> values);
    // The statement's line from the current position to its end (without
    // the line end), at most `limit` bytes of it, for a read without items
    // that wants the free text it passes over.
    [[nodiscard]] std::string rest_of_line(std::size_t limit);

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
  void consume_line_end(std::size_t length);
  [[nodiscard]] TextPosition position_at(std::size_t offset) const;
  [[noreturn]] void fail(TokenStatus status, std::string_view token) const;
  [[noreturn]] void fail_end_of_file() const;
  void note_token(std::string_view token);
  void note_comma_after_statement();

  int fd_;
  int unit_;
  std::string path_;
  bool owns_fd_;
  bool may_wait_; // not a regular file: a read may wait for input

  std::vector<char> buffer_;
  std::size_t pos_ = 0;          // next unread byte
  std::size_t end_ = 0;          // end of the bytes read so far
  std::uint64_t origin_ = 0;     // offset in the file of buffer_[0]
  std::uint64_t line_ = 1;       // line number at pos_
  std::uint64_t line_start_ = 0; // offset in the file where that line starts
  std::uint64_t statement_line_ = 0;
  TextPosition value_position_;
  bool at_end_of_file_ = false;
  bool line_open_ = false; // a statement has started on the current line
  bool byte_order_mark_ = false;
  std::uint64_t line_limit_ = ~std::uint64_t{0};

  // Notes, when kept: where the last value token ended (offset in the
  // file), its text, the line of the last token and whether a blank came
  // since then.
  std::vector<TextNote>* notes_ = nullptr;
  std::uint64_t token_end_ = ~std::uint64_t{0};
  std::uint64_t comma_at_ = ~std::uint64_t{0}; // a comma right after a digit ending a token
  std::uint64_t token_line_ = 0;
  bool blank_since_token_ = false;
  std::string last_token_;

  // State of the current statement.
  bool slash_ = false;
  bool comma_is_null_ = true; // a comma here gives a null value
  std::uint64_t repeats_left_ = 0;
  bool repeat_is_null_ = false;
  std::string repeat_value_;
};

} // namespace tirovan::textio
