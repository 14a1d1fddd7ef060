// Comma-separated values (RFC 4180 fields, LF line ends) written through a
// block buffer straight to a file descriptor: no stream per field, numbers
// formatted in place with std::to_chars.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tirovan::tools {

class CsvWriter {
public:
  // Writes to `fd` (not closed here); `name` names it in error messages.
  CsvWriter(int fd, std::string name);
  ~CsvWriter(); // flushes what is left, ignoring errors: call flush() to see them
  CsvWriter(const CsvWriter&) = delete;
  CsvWriter& operator=(const CsvWriter&) = delete;

  // A text field, quoted when it holds a comma, a quote or a line end.
  void field(std::string_view text);
  // The shortest decimal that reads back as the same float; empty for NaN.
  void field(float value);
  // `significant` digits, shortest form that has them; empty for NaN.
  void field(double value, int significant);
  // `decimals` digits after the point; empty for NaN.
  void field_fixed(double value, int decimals);
  void field(std::int64_t value);
  void empty_field();
  void end_row();

  // Writes the buffer out; throws std::system_error when the system refuses.
  void flush();

private:
  void separator();
  char* reserve(std::size_t size);

  int fd_;
  std::string name_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  bool row_started_ = false;
};

} // namespace tirovan::tools
