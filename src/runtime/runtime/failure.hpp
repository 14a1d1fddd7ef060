// Run-time failures: the one exception type that ends a run, its fixed
// messages and its exit statuses.
//
// Every failure of the program (a refused open or write, a malformed input
// value, the end of an input file, a mathematical function outside its
// domain, a console interrupt) is thrown as a `Failure` and caught in one
// place, which flushes the complete output records, writes `message()` to
// standard error and exits with `status()`.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace tirovan::runtime {

// Unit numbers of the program's file connections; they appear in messages.
inline constexpr int unit_console = 6;       // standard output
inline constexpr int unit_calibration = 21;  // lang.dat
inline constexpr int unit_measurements = 31; // dane.dat
inline constexpr int unit_results = 41;      // wyniki.dat

// Failure numbers of the I/O run-time catalogue.
enum class IoFailure : int {
  end_of_file = 24,
  open_failure = 30,
  write_error = 38,
  read_error = 39, // the system refuses a read (an I/O error of the medium)
  insufficient_memory = 41,
  no_such_device = 42,
  bad_file_name = 43,
  syntax_error = 59,
  conversion_error = 64,
  access_not_allowed = 600,
  file_exists = 601,
  file_not_found = 602,
  too_many_open_files = 603,
};

// Kinds of mathematical-function failure, with their run-time error codes.
enum class MathKind : int {
  domain = 6201,   // argument outside the function's domain
  sing = 6202,     // singularity (logarithm of zero)
  overflow = 6203, // finite arguments, result too large
  tloss = 6205,    // total loss of significance (trigonometric argument too large)
};

// Exit statuses that are not derived from a failure number.
inline constexpr int status_math = 3;        // mathematical-function failure
inline constexpr int status_bad_data = 65;   // count above the limit, no ozone column for the month
inline constexpr int status_control_c = 130; // 128 + SIGINT
inline constexpr int status_control_break = 1;
inline constexpr int status_window_close = 2;
inline constexpr int status_shutdown = 143; // 128 + SIGTERM

// A severe failure N ends the process with the 32-bit status 0xC0000000 + N;
// an 8-bit exit status keeps its low byte, which is N & 0xFF.
constexpr int severe_status(int number) { return number & 0xFF; }

class Failure : public std::exception {
public:
  // `message` is the full text for standard error, every line ending in '\n'
  // (it may be empty: a shut-down prints nothing).
  // `console_event` marks the end by a console event, which ends the run
  // without waiting for any output to drain.
  Failure(std::string message, int status, bool console_event = false)
      : message_(std::move(message)), status_(status), console_event_(console_event) {}

  [[nodiscard]] const std::string& message() const noexcept { return message_; }
  [[nodiscard]] int status() const noexcept { return status_; }
  [[nodiscard]] bool console_event() const noexcept { return console_event_; }
  [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }

private:
  std::string message_;
  int status_;
  bool console_event_;
};

// "forrtl: severe (N): <text>, unit U, file PATH" (the catalogue texts that
// name no unit leave unit and path out). A non-zero `os_error` (errno) first
// adds the line "forrtl: " + the system's text for it.
[[nodiscard]] Failure io_failure(IoFailure number, int unit, std::string_view path, int os_error = 0);

// A refused open, classified by errno into 600-603, 42, 43 or 30.
[[nodiscard]] Failure open_failure(int unit, std::string_view path, int os_error);

// The three-line mathematical-function report: an empty line,
// "run-time error M6202: MATH", "- log: SING"; exit status 3.
[[nodiscard]] Failure math_failure(std::string_view function, MathKind kind);

// A real zero raised to a negative integer power (failure 696).
[[nodiscard]] Failure zero_to_negative_power();

// One clear line about input data the program refuses; exit status 65.
[[nodiscard]] Failure bad_data(std::string_view path, std::string_view what);

// Memory exhausted (failure 41, "insufficient virtual memory"): naming the
// unit and file whose statement needed the memory, or, with `unit` 0, no
// unit (out_of_memory_line).
[[nodiscard]] Failure out_of_memory(int unit = 0, std::string_view path = {});
// The message without a unit, kept as a constant for when not even a
// message can be allocated.
inline constexpr std::string_view out_of_memory_line = "forrtl: severe (41): insufficient virtual memory\n";

} // namespace tirovan::runtime
