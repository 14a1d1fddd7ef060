#include "tools/csv.hpp"
#include "tools/status.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <system_error>
#include <unistd.h>

namespace tirovan::tools {
namespace {

constexpr std::size_t block_size = std::size_t{1} << 16;
constexpr std::size_t max_number_size = 64; // a formatted number never needs more

} // namespace

CsvWriter::CsvWriter(int fd, std::string name) : fd_(fd), name_(std::move(name)), buffer_(block_size) {}

CsvWriter::~CsvWriter() {
  try {
    flush();
  } catch (const Error&) { // NOLINT(bugprone-empty-catch): a destructor must not throw
  }
}

void CsvWriter::flush() {
  std::size_t done = 0;
  while (done < used_) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      used_ = 0;
      throw Error(name_ + ": cannot write: " + std::error_code(error, std::generic_category()).message());
    }
    done += static_cast<std::size_t>(n);
  }
  used_ = 0;
}

char* CsvWriter::reserve(std::size_t size) {
  if (used_ + size > buffer_.size()) {
    flush();
    if (size > buffer_.size()) buffer_.resize(size);
  }
  return buffer_.data() + used_;
}

void CsvWriter::separator() {
  if (row_started_) *reserve(1) = ',', ++used_;
  row_started_ = true;
}

void CsvWriter::field(std::string_view text) {
  separator();
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    char* out = reserve(text.size());
    text.copy(out, text.size());
    used_ += text.size();
    return;
  }
  char* out = reserve(2 * text.size() + 2);
  char* p = out;
  *p++ = '"';
  for (const char c : text) {
    if (c == '"') *p++ = '"';
    *p++ = c;
  }
  *p++ = '"';
  used_ += static_cast<std::size_t>(p - out);
}

void CsvWriter::field(float value) {
  separator();
  if (std::isnan(value)) return;
  char* out = reserve(max_number_size);
  used_ += static_cast<std::size_t>(std::to_chars(out, out + max_number_size, value).ptr - out);
}

void CsvWriter::field(double value, int significant) {
  separator();
  if (std::isnan(value)) return;
  char* out = reserve(max_number_size);
  const auto result = std::isfinite(value)
                          ? std::to_chars(out, out + max_number_size, value, std::chars_format::general, significant)
                          : std::to_chars(out, out + max_number_size, value);
  used_ += static_cast<std::size_t>(result.ptr - out);
}

void CsvWriter::field_fixed(double value, int decimals) {
  separator();
  if (std::isnan(value)) return;
  // Fixed notation of a huge value would be long; such values get the general form.
  char* out = reserve(max_number_size);
  auto result = std::to_chars(out, out + max_number_size, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc{}) result = std::to_chars(out, out + max_number_size, value);
  used_ += static_cast<std::size_t>(result.ptr - out);
}

void CsvWriter::field(std::int64_t value) {
  separator();
  char* out = reserve(max_number_size);
  used_ += static_cast<std::size_t>(std::to_chars(out, out + max_number_size, value).ptr - out);
}

void CsvWriter::empty_field() { separator(); }

void CsvWriter::end_row() {
  *reserve(1) = '\n';
  ++used_;
  row_started_ = false;
}

} // namespace tirovan::tools
