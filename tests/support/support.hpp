// Test helpers: a temporary working folder, capture of what the console
// unit writes, and a runner for the built program.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tirovan::test {

// Sanitizer runtimes take memory and file descriptors of their own, so
// limits on either are checked only in plain builds.
// GCC marks an AddressSanitizer build with __SANITIZE_ADDRESS__, clang 14
// only through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define TIROVAN_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TIROVAN_TEST_SANITIZED 1
#endif
#endif
#if defined(TIROVAN_TEST_SANITIZED)
inline constexpr bool sanitized = true;
#else
inline constexpr bool sanitized = false;
#endif

// Long tests (100 MB inputs, runs killed at random, sweeps of random
// floats) run only in a build configured with -DTIROVAN_LONG_TESTS=ON.
#define TIROVAN_LONG_TEST()                                                                                            \
  do {                                                                                                                 \
    if (!::tirovan::test::long_tests) GTEST_SKIP() << "long test: configure with -DTIROVAN_LONG_TESTS=ON";             \
  } while (false)
#ifndef TIROVAN_LONG_TESTS
#define TIROVAN_LONG_TESTS 0
#endif
inline constexpr bool long_tests = TIROVAN_LONG_TESTS != 0;

// A fresh folder under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  [[nodiscard]] std::string read(const std::string& name) const;
  [[nodiscard]] bool exists(const std::string& name) const;

private:
  std::string path_;
};

// Runs `action` with standard output sent to a temporary file and returns
// the bytes the console unit wrote (flushed at the end).
std::string capture_console(const std::function<void()>& action);

struct RunResult {
  int status = -1; // exit status, or 128 + signal number
  std::string out;
  std::string err;
  long peak_rss_kb = 0; // the child's peak resident memory
};

// Runs the built tirovan in `dir` with standard input closed; standard
// output and error are captured through files.
RunResult run_tirovan(const TempDir& dir);

// Same, with standard output redirected to the file `stdout_path` (e.g.
// /dev/full) instead of being captured.
RunResult run_tirovan(const TempDir& dir, const std::string& stdout_path);

// Same, running `in_child` in the child process just before the program
// starts (to lower a limit or drop privileges).
RunResult run_tirovan(const TempDir& dir, const std::function<void()>& in_child);

// Starts tirovan in `dir` without waiting (output captured as above, or
// sent to the open file descriptor `stdout_fd`) ...
int start_tirovan(const TempDir& dir);
int start_tirovan(const TempDir& dir, int stdout_fd);
int start_tirovan(const TempDir& dir, int stdout_fd, const std::function<void()>& in_child);
// ... and waits for it to end.
RunResult finish_tirovan(const TempDir& dir, int pid);

// A calibration file: eight header lines, the count, the first array
// (wavelengths by convention) and the calibration signals.
std::string calibration_file(const std::vector<float>& signals);

// The whole of a file ("" when it cannot be read); its lines without line
// ends; lines joined with a line feed after each.
std::string read_file(const std::string& path);
std::vector<std::string> lines_of(const std::string& text);
std::string join(const std::vector<std::string>& lines);

} // namespace tirovan::test
