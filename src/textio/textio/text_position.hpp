// Where a value stands in an input text, what the reader noticed about the
// bytes around the values, and the failure of a read statement. Shared by
// the reader and by everyone who reports on input files, without the
// reader itself.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "runtime/failure.hpp"

namespace tirovan::textio {

// Where a token starts: line and column (in bytes), both counted from 1.
struct TextPosition {
  std::uint64_t line = 0;
  std::uint64_t column = 0;
};

// A failure of a read statement, with where it happened: the start of the
// offending token (of the whole r*c form for a repeat), or for the end of
// the file the position just past the last byte. `token` is the offending
// token's text (empty at the end of the file).
class ReadFailure : public runtime::Failure {
public:
  ReadFailure(runtime::Failure failure, runtime::IoFailure number, TextPosition where, std::string token)
      : runtime::Failure(std::move(failure)), number_(number), where_(where), token_(std::move(token)) {}

  [[nodiscard]] runtime::IoFailure number() const noexcept { return number_; }
  [[nodiscard]] TextPosition where() const noexcept { return where_; }
  [[nodiscard]] const std::string& token() const noexcept { return token_; }

private:
  runtime::IoFailure number_;
  TextPosition where_;
  std::string token_;
};

// What the reader notices besides the values, when asked to (see
// Reader::keep_notes): facts about the separators that change the meaning
// of what a user wrote without being an error of the grammar.
struct TextNote {
  enum class Kind : std::uint8_t {
    // A comma with a digit on both sides and no blank: "52,2" is read as the
    // two values 52 and 2. `where` is the start of `before`.
    digit_comma,
    // Two values of one line separated by blanks or tabs (a line whose values
    // are separated by commas alone is a comma-separated list, where a digit
    // comma is the list's separator). `where` is the second value's start.
    blank_separator,
    // A null value (",," or "n*"): the item keeps the value it had before.
    null_value,
    // A slash: the items after it keep the values they had before.
    slash,
  };
  Kind kind;
  TextPosition where;
  std::string before, after; // digit_comma: the texts either side of the comma
};

} // namespace tirovan::textio
