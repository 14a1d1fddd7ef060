#include "support/support.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "runtime/units.hpp"

#ifndef TIROVAN_EXE
#define TIROVAN_EXE "tirovan"
#endif

namespace tirovan::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tirovan-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& content) const {
  std::ofstream(file(name), std::ios::binary) << content;
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool TempDir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

std::string capture_console(const std::function<void()>& action) {
  runtime::console().flush();
  TempDir dir;
  const std::string path = dir.file("console");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(fd, STDOUT_FILENO);
  ::close(fd);
  try {
    action();
    runtime::console().flush();
  } catch (...) {
    runtime::console().flush();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    throw;
  }
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  return dir.read("console");
}

namespace {

pid_t start_with(const TempDir& dir, const std::string* stdout_path, int stdout_fd = -1,
                 const std::function<void()>* in_child = nullptr) {
  const std::string out_path = dir.path() + "/.stdout";
  const std::string err_path = dir.path() + "/.stderr";
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = stdout_fd >= 0 ? stdout_fd
                                   : ::open(stdout_path != nullptr ? stdout_path->c_str() : out_path.c_str(),
                                            O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    // The program starts with standard input, output and error only, as from
    // a shell: nothing the test runner holds open leaks into it.
    for (int fd = STDERR_FILENO + 1; fd < 1024; ++fd) ::close(fd);
    if (in_child != nullptr) (*in_child)();
    ::execl(TIROVAN_EXE, "tirovan", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

RunResult finish_with(const TempDir& dir, pid_t pid, bool captured) {
  int wait_status = 0;
  struct rusage usage {};
  ::wait4(pid, &wait_status, 0, &usage);
  RunResult result;
  result.peak_rss_kb = usage.ru_maxrss;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  result.out = captured ? dir.read(".stdout") : std::string();
  result.err = dir.read(".stderr");
  std::filesystem::remove(dir.path() + "/.stdout");
  std::filesystem::remove(dir.path() + "/.stderr");
  return result;
}

RunResult run_with(const TempDir& dir, const std::string* stdout_path) {
  return finish_with(dir, start_with(dir, stdout_path), stdout_path == nullptr);
}

} // namespace

RunResult run_tirovan(const TempDir& dir) { return run_with(dir, nullptr); }
RunResult run_tirovan(const TempDir& dir, const std::string& stdout_path) { return run_with(dir, &stdout_path); }
RunResult run_tirovan(const TempDir& dir, const std::function<void()>& in_child) {
  return finish_with(dir, start_with(dir, nullptr, -1, &in_child), true);
}
int start_tirovan(const TempDir& dir) { return start_with(dir, nullptr); }
int start_tirovan(const TempDir& dir, int stdout_fd) { return start_with(dir, nullptr, stdout_fd); }
int start_tirovan(const TempDir& dir, int stdout_fd, const std::function<void()>& in_child) {
  return start_with(dir, nullptr, stdout_fd, &in_child);
}
RunResult finish_tirovan(const TempDir& dir, int pid) { return finish_with(dir, pid, true); }

std::string calibration_file(const std::vector<float>& signals) {
  std::ostringstream text;
  for (int line = 1; line <= 8; ++line) text << "header line " << line << ": free text, 1.2.3 ; x\n";
  text << signals.size() << "\n";
  for (std::size_t i = 0; i < signals.size(); ++i) text << (i == 0 ? "" : " ") << 400 + 100 * i;
  text << "\n";
  for (std::size_t i = 0; i < signals.size(); ++i) text << (i == 0 ? "" : " ") << signals[i];
  text << "\n";
  return text.str();
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

} // namespace tirovan::test
