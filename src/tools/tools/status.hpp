// One status model for every subcommand of tirovan-tools, and the one
// exception type that carries a failure to main(), where it is caught once.
//
//   0  done, nothing to report
//   1  done, with warnings or records skipped (check: warnings only)
//   2  input or output failure (a missing folder, an unreadable file, a
//      refused write), a usage error, an option out of range, or a
//      degenerate input that gives no result (check: errors found)
//
// Diagnostics go to standard error; a command's product (check's findings,
// a report on standard output, langley's summary) goes to standard output.
#pragma once

#include <stdexcept>
#include <string>

namespace tirovan::analysis {}

namespace tirovan::tools {

// The commands are the analysis library's users: its names are theirs.
using namespace tirovan::analysis; // NOLINT(google-build-using-namespace)

inline constexpr int exit_ok = 0;
inline constexpr int exit_warnings = 1;
inline constexpr int exit_failure = 2;

// What ends a command: the message for standard error (without the
// program's name) and the exit status.
class Error : public std::runtime_error {
public:
  explicit Error(const std::string& message, int status = exit_failure)
      : std::runtime_error(message), status_(status) {}
  [[nodiscard]] int status() const noexcept { return status_; }

private:
  int status_;
};

// `text` and a line end on standard output; throws Error when the write is
// refused (a full disk, a closed pipe).
void print_out(const std::string& text);
// Flushes standard output; throws Error when the write is refused.
void flush_out();
// "tirovan-tools: <text>" and a line end on standard error, best effort.
void print_error(const std::string& text);
// `text` and a line end on standard error, best effort.
void print_err(const std::string& text);

} // namespace tirovan::tools
