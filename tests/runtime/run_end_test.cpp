// How a run ends when output is refused, a signal arrives while a write
// waits, standard descriptors are closed, or signals were ignored at start:
// provoked on the built program, counting what reached each output.

#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/support.hpp"

namespace tirovan {
namespace {

using test::TempDir;

constexpr std::size_t record_size = 34; // one channel: 32 characters and CR LF

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string one_channel_campaign(int measurements) {
  std::string dane = "1 " + std::to_string(measurements) + "\n500\n";
  for (int k = 0; k < measurements; ++k) dane += "15 6 2024 10 " + std::to_string(k % 60) + " 21 52 1013 1.2 0.01\n";
  return dane;
}

std::string read_all(int fd) {
  std::string text;
  char block[4096];
  for (ssize_t n; (n = ::read(fd, block, sizeof block)) > 0;) text.append(block, static_cast<std::size_t>(n));
  return text;
}

// Waits up to `seconds` for `pid`; kills it if it is still running.
int wait_or_kill(int pid, int seconds, bool& ended) {
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      ended = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ended = false;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

// As `ulimit -f 1` in a shell: SIGXFSZ left at its default, which would
// kill the process at the first write beyond the limit.
void limit_files_to_1024_bytes() {
  const rlimit limit{1024, 1024};
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

// A refused write leaves both outputs as an unbuffered run leaves them at
// that statement: the console lines and the complete records before it.
TEST(RunEnd, RefusedWriteLeavesTheOutputsOfTheStatementBefore) {
  struct Limit {
    const char* name;
    std::function<void()> in_child;
  };
  const Limit limits[] = {
      {"wyniki.dat limited to 1024 bytes: record 31 is refused", limit_files_to_1024_bytes},
      {"the same with SIGXFSZ ignored at start",
       [] {
         std::signal(SIGXFSZ, SIG_IGN);
         limit_files_to_1024_bytes();
       }},
  };
  for (const Limit& limit : limits) {
    SCOPED_TRACE(limit.name);
    TempDir dir;
    dir.write("lang.dat", test::calibration_file({1.5f}));
    dir.write("dane.dat", one_channel_campaign(40));
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const int pid = test::start_tirovan(dir, fds[1], limit.in_child);
    ::close(fds[1]);
    const std::string out = read_all(fds[0]);
    ::close(fds[0]);
    const test::RunResult run = test::finish_tirovan(dir, pid);
    EXPECT_EQ(run.status, 38);
    EXPECT_EQ(run.err, std::string("forrtl: ") + std::strerror(EFBIG) +
                           "\nforrtl: severe (38): error during write, unit 41, file " + dir.file("wyniki.dat") + "\n");
    EXPECT_EQ(count(out, " Grubosc"), 31u);
    const std::string results = dir.read("wyniki.dat");
    EXPECT_EQ(results.size(), 30 * record_size);
    EXPECT_EQ(results.substr(results.size() - 2), "\r\n");
  }
  {
    SCOPED_TRACE("standard output limited to 1024 bytes: report line 15 is refused");
    TempDir dir;
    dir.write("lang.dat", test::calibration_file({1.5f}));
    dir.write("dane.dat", one_channel_campaign(40));
    const test::RunResult run = test::run_tirovan(dir, limit_files_to_1024_bytes);
    EXPECT_EQ(run.status, 38);
    EXPECT_EQ(run.err, std::string("forrtl: ") + std::strerror(EFBIG) +
                           "\nforrtl: severe (38): error during write, unit 6, file /dev/stdout\n");
    EXPECT_EQ(count(run.out, " Grubosc"), 14u);
    EXPECT_EQ(run.out.substr(run.out.size() - 2), "\r\n"); // the half line is cut away
    EXPECT_EQ(dir.read("wyniki.dat").size(), 14 * record_size);
  }
}

// Standard output is a pipe nobody reads: the program blocks in a write,
// part of its bytes taken. Control-C must end it at once.
TEST(RunEnd, ControlCEndsAWriteThatWaitsForAReader) {
  TempDir dir;
  dir.write("lang.dat", test::calibration_file({1.5f}));
  dir.write("dane.dat", one_channel_campaign(20000));
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  const int pid = test::start_tirovan(dir, fds[1]);
  ::close(fds[1]);
  // Wait until the results stop growing: the console write is blocked.
  std::size_t size = 0;
  for (int stable = 0; stable < 20;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::size_t now = dir.exists("wyniki.dat") ? dir.read("wyniki.dat").size() : 0;
    stable = now == size && now > 0 ? stable + 1 : 0;
    size = now;
  }
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  bool ended = false;
  const int status = wait_or_kill(pid, 5, ended);
  ::close(fds[0]);
  ASSERT_TRUE(ended) << "still waiting for the pipe after Control-C";
  EXPECT_EQ(status, 130);
  EXPECT_EQ(dir.read(".stderr"), "forrtl: error (200): program aborting due to control-C event\n");
  EXPECT_EQ(dir.read("wyniki.dat").size() % record_size, 0u);
}

struct FedRun {
  TempDir dir;
  int pid = -1;
  int feed = -1;
};

// dane.dat is a named pipe; the first record is fed and has reached
// wyniki.dat when this returns, the program waiting for the next.
void start_fed(FedRun& run, const std::function<void()>& in_child) {
  run.dir.write("lang.dat", test::calibration_file({1.5f}));
  ASSERT_EQ(::mkfifo(run.dir.file("dane.dat").c_str(), 0600), 0);
  const int out = ::open(run.dir.file("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  run.pid = test::start_tirovan(run.dir, out, in_child);
  ::close(out);
  run.feed = ::open(run.dir.file("dane.dat").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(run.feed, 0);
  const std::string head = "1 3\n500\n15 6 2024 10 30 21 52 1013 1.2 0.01\n";
  ASSERT_EQ(::write(run.feed, head.data(), head.size()), static_cast<ssize_t>(head.size()));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((!run.dir.exists("wyniki.dat") || run.dir.read("wyniki.dat").size() < record_size) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(run.dir.read("wyniki.dat").size(), record_size);
}

// Started with standard error closed, the program must not open a file on
// descriptor 2, where the Control-C line would land in it.
TEST(RunEnd, ClosedStandardDescriptorsTakeNoFile) {
  for (const int closed : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    SCOPED_TRACE(closed);
    FedRun run;
    start_fed(run, [closed] { ::close(closed); });
    ASSERT_EQ(::kill(run.pid, SIGINT), 0);
    bool ended = false;
    EXPECT_EQ(wait_or_kill(run.pid, 10, ended), 130);
    ::close(run.feed);
    EXPECT_EQ(run.dir.read("wyniki.dat").size(), record_size);
    EXPECT_EQ(count(run.dir.read("wyniki.dat"), "forrtl"), 0u);
    EXPECT_EQ(count(run.dir.read("lang.dat"), "forrtl"), 0u);
  }
}

// Signals ignored when the program starts (nohup, background jobs) stay
// ignored: the run goes on to its normal end.
TEST(RunEnd, SignalsIgnoredAtStartStayIgnored) {
  FedRun run;
  start_fed(run, [] {
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
  });
  ASSERT_EQ(::kill(run.pid, SIGHUP), 0);
  ASSERT_EQ(::kill(run.pid, SIGINT), 0);
  const std::string rest = "15 6 2024 10 31 21 52 1013 1.2 0.01\n15 6 2024 10 32 21 52 1013 1.2 0.01\n";
  ASSERT_EQ(::write(run.feed, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
  ::close(run.feed);
  bool ended = false;
  EXPECT_EQ(wait_or_kill(run.pid, 10, ended), 0);
  EXPECT_EQ(run.dir.read(".stderr"), "");
  EXPECT_EQ(run.dir.read("wyniki.dat").size(), 3 * record_size);
}

} // namespace
} // namespace tirovan
