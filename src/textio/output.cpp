#include "textio/output.hpp"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "textio/console_events.hpp"
#include "textio/failure.hpp"
#include "textio/format.hpp"

namespace tirovan::textio {
namespace {

// Large enough that a flush is one system call per several hundred records,
// small enough to stay in cache.
constexpr std::size_t buffer_size = std::size_t{64} * 1024;
constexpr std::size_t line_end_size = 2; // CR LF

} // namespace

OutputFile::OutputFile(int fd, int unit, std::string path, bool owns_fd)
    : fd_(fd), unit_(unit), path_(std::move(path)), owns_fd_(owns_fd), buffer_(buffer_size) {}

OutputFile::~OutputFile() {
  try {
    flush();
  } catch (...) { // NOLINT(bugprone-empty-catch): the run has already ended; nothing left to report to
  }
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
}

char* OutputFile::begin_record(std::size_t max_length) {
  const std::size_t needed = max_length + line_end_size;
  if (buffer_.size() - used_ < needed) {
    flush();
    if (buffer_.size() < needed) buffer_.resize(needed);
  }
  return buffer_.data() + used_;
}

void OutputFile::end_record(char* end) {
  end[0] = '\r';
  end[1] = '\n';
  used_ = static_cast<std::size_t>(end + line_end_size - buffer_.data());
}

void OutputFile::write_all(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      const int error = errno;
      if (error == EINTR) {
        // A console event while the reader of our output is not reading:
        // what is left cannot be delivered without waiting, so drop it.
        if (detail::pending_console_event != 0) {
          used_ = 0;
          detail::throw_console_event();
        }
        continue;
      }
      used_ = 0; // the system refused these bytes: they cannot be delivered
      throw io_failure(IoFailure::write_error, unit_, path_, error);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    written_ += static_cast<std::uint64_t>(n);
  }
}

void OutputFile::flush() {
  if (used_ == 0) return;
  write_all(buffer_.data(), used_);
  used_ = 0;
}

void OutputFile::cut() {
  flush();
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
    if (::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
      throw io_failure(IoFailure::write_error, unit_, path_, errno);
    }
  }
}

void OutputFile::close() {
  flush();
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

OutputFile& console() {
  static OutputFile standard_output(STDOUT_FILENO, unit_console, "/dev/stdout", false);
  return standard_output;
}

void write_list(OutputFile& file) {
  char* p = file.begin_record(1);
  *p++ = ' ';
  file.end_record(p);
}

void write_list(OutputFile& file, std::string_view text) {
  char* p = file.begin_record(1 + text.size());
  *p++ = ' ';
  file.end_record(edit_text(p, text));
}

void write_list(OutputFile& file, std::string_view text, float value) {
  char* p = file.begin_record(1 + text.size() + list_real_width);
  *p++ = ' ';
  p = edit_text(p, text);
  file.end_record(edit_list_real(p, value));
}

void write_text_record(OutputFile& file, std::string_view text) {
  char* p = file.begin_record(text.size());
  file.end_record(edit_text(p, text));
}

} // namespace tirovan::textio
