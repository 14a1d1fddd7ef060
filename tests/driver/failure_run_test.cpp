// Every way a run can fail, provoked on the built program: the message on
// standard error, the exit status, and the records kept.

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "driver/driver.hpp"
#include "driver/input_files.hpp"
#include "support/support.hpp"

namespace tirovan {
namespace {

using test::calibration_file;
using test::run_tirovan;
using test::TempDir;

std::size_t count_lines(const std::string& text, const std::string& start) {
  std::size_t n = 0;
  for (std::size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) ++n;
  return n;
}

const std::string one_channel = calibration_file({1.0f});
const std::string good_record = "15 6 2005 10 30 21.0 52.2 1013 0.5 0.01\n";

struct FailureCase {
  const char* name;
  const char* lang; // nullptr: no file
  std::string dane;
  int status;
  // Expected standard error, with {lang} {dane} {wyniki} for full paths.
  std::string err;
  std::size_t records; // results records kept
  std::size_t reports; // console report lines shown
};

std::string expand(std::string text, const TempDir& dir) {
  for (const char* name : {"lang", "dane", "wyniki"}) {
    const std::string key = std::string("{") + name + "}";
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key)) {
      text.replace(at, key.size(), dir.file(std::string(name) + ".dat"));
    }
  }
  return text;
}

TEST(RunFailure, InputFilesAndArithmetic) {
  const std::string lang = one_channel;
  const FailureCase cases[] = {
      {"missing calibration file", nullptr, "1 1\n500\n" + good_record, 24,
       "forrtl: severe (24): end-of-file during read, unit 21, file {lang}\n", 0, 0},
      {"calibration file ends in its header", "only\nthree\nlines\n", "", 24,
       "forrtl: severe (24): end-of-file during read, unit 21, file {lang}\n", 0, 0},
      {"letter in the calibration file", "1\n2\n3\n4\n5\n6\n7\n8\n1\n500\nabc\n", "", 59,
       "forrtl: severe (59): list-directed I/O syntax error, unit 21, file {lang}\n", 0, 0},
      {"empty measurement file", lang.c_str(), "", 24,
       "forrtl: severe (24): end-of-file during read, unit 31, file {dane}\n", 0, 0},
      {"short measurement file", lang.c_str(), "1 3\n500\n" + good_record + good_record, 24,
       "forrtl: severe (24): end-of-file during read, unit 31, file {dane}\n", 2, 2},
      {"count beyond 32 bits", lang.c_str(), "1 99999999999\n", 64,
       "forrtl: severe (64): input conversion error, unit 31, file {dane}\n", 0, 0},
      {"nan token", lang.c_str(), "1 1\n500\n15 6 2005 10 30 nan 52.2 1013 0.5 0.01\n", 59,
       "forrtl: severe (59): list-directed I/O syntax error, unit 31, file {dane}\n", 0, 0},
      {"real beyond single precision", lang.c_str(), "1 1\n500\n15 6 2005 10 30 21 52.2 1e39 0.5 0.01\n", 64,
       "forrtl: severe (64): input conversion error, unit 31, file {dane}\n", 0, 0},
      {"log of a zero signal", lang.c_str(), "1 2\n500\n" + good_record + "15 6 2005 10 30 21.0 52.2 1013 0.5 0.5\n", 3,
       "\nrun-time error M6202: MATH\n- log: SING\n", 1, 1},
      {"log of a negative signal", lang.c_str(), "1 1\n500\n15 6 2005 10 30 21.0 52.2 1013 0.5 0.6\n", 3,
       "\nrun-time error M6201: MATH\n- log: DOMAIN\n", 0, 0},
      {"channel without a calibration signal", lang.c_str(),
       "2 1\n500 870\n15 6 2005 10 30 21.0 52.2 1013 0.5 0.01 0.5 0.01\n", 3,
       "\nrun-time error M6202: MATH\n- log: SING\n", 0, 1},
      {"zenith beyond 96.08 degrees", lang.c_str(), "1 1\n500\n15 6 2005 0 0 21.0 52.2 1013 0.5 0.01\n", 3,
       "\nrun-time error M6201: MATH\n- pow: DOMAIN\n", 0, 0},
      {"wavelength zero", lang.c_str(), "1 1\n0\n" + good_record, 184,
       "forrtl: severe (696): Real zero raised to negative power\n", 0, 0},
      {"month 13", lang.c_str(), "1 3\n500\n" + good_record + "15 13 2005 10 30 21.0 52.2 1013 0.5 0.01\n", 65,
       "tirovan: {dane}: measurement 2 has month 13, outside 1..12\n", 1, 1},
      {"month 0", lang.c_str(), "1 1\n500\n15 0 2005 10 30 21.0 52.2 1013 0.5 0.01\n", 65,
       "tirovan: {dane}: measurement 1 has month 0, outside 1..12\n", 0, 0},
      {"calibration count above the limit", "1\n2\n3\n4\n5\n6\n7\n8\n4097\n", "", 65,
       "tirovan: {lang}: calibration count 4097 exceeds the limit of 4096\n", 0, 0},
      {"channel count above the limit", lang.c_str(), "4097 1\n", 65,
       "tirovan: {dane}: channel count 4097 exceeds the limit of 4096\n", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.lang != nullptr) dir.write("lang.dat", c.lang);
    if (!c.dane.empty()) dir.write("dane.dat", c.dane);
    const test::RunResult run = run_tirovan(dir);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, expand(c.err, dir));
    EXPECT_TRUE(dir.exists("lang.dat")); // a missing input file is created empty
    const std::string results = dir.exists("wyniki.dat") ? dir.read("wyniki.dat") : "";
    EXPECT_EQ(count_lines(results, "\r\n"), c.records);
    EXPECT_EQ(count_lines(run.out, " Grubosc"), c.reports);
  }
}

// The month is refused where the ozone column is needed, not before: with
// no channel it never is; with one, the channel's ozone warnings come first.
TEST(RunFailure, MonthOutsideTheClimatologyEndsTheRunAtTheOzoneColumn) {
  {
    SCOPED_TRACE("month 13, no channels");
    TempDir dir;
    dir.write("lang.dat", one_channel);
    dir.write("dane.dat", "0 2\n\n15 13 2005 10 30 21.0 52.2 1013\n16 13 2005 10 30 21.0 52.2 1013\n");
    const test::RunResult run = run_tirovan(dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(dir.read("wyniki.dat"), "  15  13  2005  10  30\r\n  16  13  2005  10  30\r\n");
  }
  {
    SCOPED_TRACE("month 0, first channel at 870 nm");
    TempDir dir;
    dir.write("lang.dat", one_channel);
    dir.write("dane.dat", "1 1\n870\n15 0 2005 10 30 21.0 52.2 1013 0.5 0.01\n");
    const test::RunResult run = run_tirovan(dir);
    EXPECT_EQ(run.status, 65);
    EXPECT_EQ(run.err, "tirovan: " + dir.file("dane.dat") + ": measurement 1 has month 0, outside 1..12\n");
    const std::string warnings = " Dlugosc fali wieksza od 790nm\r\n przyjeto grubosc optyczna ozonu rowna O\r\n";
    ASSERT_GE(run.out.size(), warnings.size());
    EXPECT_EQ(run.out.substr(run.out.size() - warnings.size()), warnings);
    EXPECT_EQ(dir.read("wyniki.dat"), "");
  }
}

TEST(RunFailure, MissingMeasurementFileIsCreatedAfterTheResultsFile) {
  TempDir dir;
  dir.write("lang.dat", one_channel);
  const test::RunResult run = run_tirovan(dir);
  EXPECT_EQ(run.status, 24);
  EXPECT_EQ(run.err, "forrtl: severe (24): end-of-file during read, unit 31, file " + dir.file("dane.dat") + "\n");
  EXPECT_TRUE(dir.exists("dane.dat"));
  EXPECT_TRUE(dir.exists("wyniki.dat"));
}

TEST(RunFailure, CountsUpToTheLimitWork) {
  TempDir dir;
  std::vector<float> calibration(driver::max_channels, 1.0f);
  dir.write("lang.dat", calibration_file(calibration));
  dir.write("dane.dat",
            std::to_string(driver::max_channels) + " 0\n" + std::to_string(driver::max_channels) + "*500\n");
  const test::RunResult run = run_tirovan(dir);
  EXPECT_EQ(run.status, 0) << run.err;
}

TEST(RunFailure, ResultsFileThatCannotTakeRecords) {
  {
    SCOPED_TRACE("a directory named wyniki.dat");
    TempDir dir;
    dir.write("lang.dat", one_channel);
    dir.write("dane.dat", "1 1\n500\n" + good_record);
    std::filesystem::create_directory(dir.file("wyniki.dat"));
    const test::RunResult run = run_tirovan(dir);
    EXPECT_EQ(run.status, 30);
    EXPECT_EQ(run.err, std::string("forrtl: ") + std::strerror(EISDIR) + "\n" +
                           "forrtl: severe (30): open failure, unit 41, file " + dir.file("wyniki.dat") + "\n");
  }
  {
    SCOPED_TRACE("wyniki.dat linked to /dev/full");
    TempDir dir;
    dir.write("lang.dat", one_channel);
    dir.write("dane.dat", "1 2\n500\n" + good_record + good_record);
    std::filesystem::create_symlink("/dev/full", dir.file("wyniki.dat"));
    const test::RunResult run = run_tirovan(dir);
    EXPECT_EQ(run.status, 38);
    EXPECT_EQ(run.err, std::string("forrtl: ") + std::strerror(ENOSPC) + "\n" +
                           "forrtl: severe (38): error during write, unit 41, file " + dir.file("wyniki.dat") + "\n");
    // The first measurement's console line went out before its record failed.
    EXPECT_EQ(count_lines(run.out, " Grubosc"), 1u);
  }
}

TEST(RunFailure, StandardOutputRefused) {
  {
    SCOPED_TRACE("standard output on /dev/full");
    TempDir dir;
    dir.write("lang.dat", one_channel);
    dir.write("dane.dat", "1 1\n500\n" + good_record);
    const test::RunResult run = run_tirovan(dir, "/dev/full");
    EXPECT_EQ(run.status, 38);
    EXPECT_EQ(run.err, std::string("forrtl: ") + std::strerror(ENOSPC) +
                           "\nforrtl: severe (38): error during write, unit 6, file /dev/stdout\n");
  }
  {
    SCOPED_TRACE("standard output a pipe closed after the banner, as by head");
    TempDir dir;
    dir.write("lang.dat", one_channel);
    std::string dane = "1 3000\n500\n";
    for (int k = 0; k < 3000; ++k) dane += good_record;
    dir.write("dane.dat", dane);
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0); // the program must not hold the reading end
    const int pid = test::start_tirovan(dir, fds[1]);
    ::close(fds[1]);
    char first[64];
    ASSERT_GT(::read(fds[0], first, sizeof first), 0); // the banner is out
    ::close(fds[0]);
    const test::RunResult run = test::finish_tirovan(dir, pid);
    EXPECT_EQ(run.status, 38);
    EXPECT_EQ(run.err, std::string("forrtl: ") + std::strerror(EPIPE) +
                           "\nforrtl: severe (38): error during write, unit 6, file /dev/stdout\n");
    // Only complete records of measurements before the refused report line.
    const std::string results = dir.read("wyniki.dat");
    EXPECT_LT(results.size(), 3000u * 34u);
    EXPECT_EQ(results.size() % 34u, 0u);
  }
}

struct EventCase {
  int signal_number;
  int status;
  const char* line;
};

// dane.dat is a named pipe fed one record at a time: the program shows the
// record and waits for the next one; the event then ends it.
TEST(RunFailure, ConsoleEventsWhileWaitingForInput) {
  const EventCase cases[] = {
      {SIGINT, 130, "forrtl: error (200): program aborting due to control-C event\n"},
      {SIGQUIT, 1, "forrtl: error (200): program aborting due to control-BREAK event\n"},
      {SIGHUP, 2, "forrtl: error (200): program aborting due to window-CLOSE event\n"},
      {SIGTERM, 143, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal_number);
    TempDir dir;
    dir.write("lang.dat", one_channel);
    ASSERT_EQ(::mkfifo(dir.file("dane.dat").c_str(), 0600), 0);
    const int pid = test::start_tirovan(dir);
    const int feed = ::open(dir.file("dane.dat").c_str(), O_WRONLY);
    ASSERT_GE(feed, 0);
    const std::string head = "1 5\n500\n" + good_record;
    ASSERT_EQ(::write(feed, head.data(), head.size()), static_cast<ssize_t>(head.size()));
    // The record must reach wyniki.dat before the program waits again.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (count_lines(dir.read("wyniki.dat"), "\r\n") < 1 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(count_lines(dir.read("wyniki.dat"), "\r\n"), 1u);
    ASSERT_EQ(::kill(pid, c.signal_number), 0);
    const test::RunResult run = test::finish_tirovan(dir, pid);
    ::close(feed);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.line);
    EXPECT_EQ(count_lines(run.out, " Grubosc"), 1u);
    EXPECT_EQ(dir.read("wyniki.dat").size(), 32u + 2u);
  }
}

} // namespace
} // namespace tirovan

namespace tirovan {
namespace {

struct OpenCase {
  const char* name;
  std::function<void(const TempDir&)> prepare;
  std::function<void()> in_child;
  int status;
  std::string err; // {wyniki}, {dane} for the full paths
};

// Open failures that can be provoked on Linux, as root or not.
TEST(RunFailure, RefusedOpens) {
  const auto nothing = [] {};
  const OpenCase cases[] = {
      {"symbolic link loop: any other error",
       [](const TempDir& dir) { std::filesystem::create_symlink("wyniki.dat", dir.file("wyniki.dat")); }, nothing, 30,
       std::string("forrtl: ") + std::strerror(ELOOP) +
           "\nforrtl: severe (30): open failure, unit 41, file {wyniki}\n"},
      {"link into a missing folder: file not found",
       [](const TempDir& dir) { std::filesystem::create_symlink("no/such/folder/x", dir.file("wyniki.dat")); }, nothing,
       90, "forrtl: severe (602): file not found\n"},
      {"link through a file: file not found",
       [](const TempDir& dir) { std::filesystem::create_symlink("lang.dat/x", dir.file("wyniki.dat")); }, nothing, 90,
       "forrtl: severe (602): file not found\n"},
      {"a socket: no such device",
       [](const TempDir& dir) {
         const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         const std::string path = dir.file("wyniki.dat");
         ASSERT_LT(path.size(), sizeof address.sun_path);
         std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
         ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         ::close(s);
       },
       nothing, 42, "forrtl: severe (42): no such device, unit 41, file {wyniki}\n"},
      {"too many open files", [](const TempDir&) {},
       [] {
         const rlimit limit{4, 4}; // 0, 1, 2 and one file: dane.dat finds no descriptor
         ::setrlimit(RLIMIT_NOFILE, &limit);
       },
       91, "forrtl: severe (603): too many open files\n"},
      {"read-only results file: access not allowed",
       [](const TempDir& dir) {
         dir.write("wyniki.dat", "kept\r\n");
         ::chmod(dir.file("wyniki.dat").c_str(), 0444);
         ::chmod(dir.path().c_str(), 0755);
         ::chmod(dir.file("lang.dat").c_str(), 0644);
         ::chmod(dir.file("dane.dat").c_str(), 0644);
       },
       [] {
         // Root opens anything: run as nobody.
         if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
       },
       88, "forrtl: severe (600): access not allowed\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (test::sanitized && std::string(c.name) == "too many open files") continue;
    TempDir dir;
    dir.write("lang.dat", one_channel);
    dir.write("dane.dat", "1 1\n500\n" + good_record);
    c.prepare(dir);
    const test::RunResult run = run_tirovan(dir, c.in_child);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, expand(c.err, dir));
  }
}

} // namespace
} // namespace tirovan
