// Hostile bytes in the input files and runs cut short at random: every run
// ends with its defined message and status, memory stays bounded, and
// wyniki.dat always holds complete records.

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/support.hpp"
#include "textio/reader.hpp"

namespace tirovan {
namespace {

using test::calibration_file;
using test::run_tirovan;
using test::TempDir;

const std::string one_channel = calibration_file({1.0f});

std::string eof(const TempDir& dir, const char* name, int unit) {
  return "forrtl: severe (24): end-of-file during read, unit " + std::to_string(unit) + ", file " + dir.file(name) +
         "\n";
}
std::string syntax(const TempDir& dir) {
  return "forrtl: severe (59): list-directed I/O syntax error, unit 31, file " + dir.file("dane.dat") + "\n";
}
std::string conversion(const TempDir& dir) {
  return "forrtl: severe (64): input conversion error, unit 31, file " + dir.file("dane.dat") + "\n";
}

struct TokenCase {
  std::string token;
  int status; // 0, 59 or 64
};

// Each token stands as the longitude of an otherwise good record.
TEST(HostileInput, TokensInAValuePosition) {
  const std::string ten_thousand_digits(10000, '7');
  const TokenCase cases[] = {
      {"nan", 59},
      {"inf", 59},
      {"1e39", 64},
      {"--1", 64},
      {"1.2.3", 59},
      {"+", 64},
      {"e5", 59},
      {"1.0e5x", 59},
      {"'21'", 64},
      {"T", 64},
      {ten_thousand_digits, 64},
      {"0." + ten_thousand_digits, 0},
      {std::string("2\0001", 3), 59},
      {"\xff\xfe", 59},
      {"21\x80", 59},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.token.substr(0, 20));
    TempDir dir;
    dir.write("lang.dat", one_channel);
    dir.write("dane.dat", "1 1\n500\n15 6 2005 10 30 " + c.token + " 52.2 1013 0.5 0.01\n");
    const test::RunResult run = run_tirovan(dir);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.status == 0 ? "" : c.status == 59 ? syntax(dir) : conversion(dir));
  }
}

TEST(HostileInput, NulBytesAndInvalidUtf8InHeaderLinesArePassedOver) {
  TempDir dir;
  std::string lang;
  for (int line = 0; line < 8; ++line) lang += std::string("\0\xff\xc3\x28 \x80 text", 11) + "\n";
  lang += "1\n500\n1.0\n";
  dir.write("lang.dat", lang);
  dir.write("dane.dat", "1 1\n500\n15 6 2005 10 30 21.0 52.2 1013 0.5 0.01\n");
  const test::RunResult run = run_tirovan(dir);
  EXPECT_EQ(run.status, 0) << run.err;
}

struct CountCase {
  const char* name;
  std::string dane;
  int status;
};

TEST(HostileInput, ChannelCounts) {
  const CountCase cases[] = {
      {"zero channels", "0 1\n\n1 1 2000 12 0 0 0 1013\n", 0},
      {"negative channels", "-5 1\n\n1 1 2000 12 0 0 0 1013\n", 0},
      {"negative measurements", "1 -2147483648\n500\n", 0},
      {"largest count", "2147483647 0\n", 65},
      {"integer beyond 32 bits", "1 2147483648\n", 64},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("lang.dat", one_channel);
    dir.write("dane.dat", c.dane);
    EXPECT_EQ(run_tirovan(dir).status, c.status);
  }
}

struct EndlessCase {
  const char* name;
  std::function<void(const TempDir&)> make_dane;
  rlim_t data_limit; // RLIMIT_DATA of the run, bytes; not applied under a sanitizer
  int status;
};

// An endless token ends the run at its start with a syntax error, at once
// and in bounded memory; memory exhausted all the same is failure 41 for
// the unit that needed it, never an abort.
TEST(HostileInput, EndlessTokenAndExhaustedMemory) {
  const std::string longest = "0." + std::string(textio::max_token_length - 2, '5');
  const EndlessCase cases[] = {
      {"/dev/zero as dane.dat",
       [](const TempDir& dir) { std::filesystem::create_symlink("/dev/zero", dir.file("dane.dat")); }, rlim_t{64} << 20,
       59},
      {"the longest token with 1.5 MiB of data memory",
       [&longest](const TempDir& dir) {
         dir.write("dane.dat", "1 1\n500\n15 6 2005 10 30 " + longest + " 52.2 1013 0.5 0.01\n");
       },
       rlim_t{3} << 19, 41},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (test::sanitized && c.status == 41) continue; // the sanitizer's own mappings exceed any small limit
    TempDir dir;
    dir.write("lang.dat", one_channel);
    c.make_dane(dir);
    const rlimit limit{c.data_limit, c.data_limit};
    const auto start = std::chrono::steady_clock::now();
    const test::RunResult run = run_tirovan(dir, [&limit] {
      if (!test::sanitized) ::setrlimit(RLIMIT_DATA, &limit);
    });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.status == 59 ? syntax(dir)
                                      : "forrtl: severe (41): insufficient virtual memory, unit 31, file " +
                                            dir.file("dane.dat") + "\n");
  }
}

TEST(HostileInput, HundredMegabyteLineInBoundedMemory) {
  TIROVAN_LONG_TEST();
  TempDir dir;
  dir.write("lang.dat", one_channel);
  {
    std::string dane = "1 2\n500\n15 6 2005 10 30 21.0 52.2 1013 0.5 0.01";
    const std::string filler = " 1.2345 garbage ;;; \xff";
    while (dane.size() < 100'000'000) dane += filler;
    dane += "\n15 6 2005 11 0 21.0 52.2 1013 0.5 0.01\n";
    dir.write("dane.dat", dane);
  } // freed before the run: the forked child's peak memory starts as ours
  const test::RunResult run = run_tirovan(dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir.read("wyniki.dat").size(), 2u * 34u);
  if (!test::sanitized) {
    EXPECT_LT(run.peak_rss_kb, 16 * 1024);
  }
}

TEST(HostileInput, HundredMegabyteLineWithoutEndAtTheEndOfTheFile) {
  TIROVAN_LONG_TEST();
  TempDir dir;
  dir.write("lang.dat", one_channel);
  dir.write("dane.dat", "1 2\n500\n15 6 2005 10 30 21.0 52.2 1013 0.5 0.01" + std::string(100'000'000, ' '));
  const test::RunResult run = run_tirovan(dir);
  EXPECT_EQ(run.status, 24);
  EXPECT_EQ(run.err, eof(dir, "dane.dat", 31));
  if (!test::sanitized) {
    EXPECT_LT(run.peak_rss_kb, 16 * 1024);
  }
}

// Kills runs at random moments and checks that wyniki.dat is then always a
// prefix of the full run's results made of complete records, and the
// console output a sequence of complete lines.
TEST(HostileInput, RunsInterruptedAtRandomKeepCompleteRecords) {
  TIROVAN_LONG_TEST();
  TempDir dir;
  dir.write("lang.dat", calibration_file({1.5f, 1.8f, 2.1f}));
  std::string dane = "3 20000\n440 500 870\n";
  for (int k = 0; k < 20000; ++k) {
    dane += "15 6 2005 " + std::to_string(8 + k % 8) + " " + std::to_string(k % 60) +
            " 21.0 52.2 1013 0.61 0.002 0.93 0.002 1.57 0.002\n";
  }
  dir.write("dane.dat", dane);
  const auto start = std::chrono::steady_clock::now();
  const test::RunResult full = run_tirovan(dir);
  const auto duration = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(full.status, 0) << full.err;
  const std::string full_results = dir.read("wyniki.dat");
  constexpr std::size_t record = 22 + 3 * 10 + 2;
  ASSERT_EQ(full_results.size(), 20000 * record);

  std::mt19937 random(2026);
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
  std::uniform_int_distribution<long> moment(0, micros);
  for (int attempt = 0; attempt < 24; ++attempt) {
    ::unlink(dir.file("wyniki.dat").c_str());
    const int signal_number = attempt % 2 == 0 ? SIGINT : SIGTERM;
    const int pid = test::start_tirovan(dir);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    ::kill(pid, signal_number);
    const test::RunResult run = test::finish_tirovan(dir, pid);
    SCOPED_TRACE("attempt " + std::to_string(attempt) + ", status " + std::to_string(run.status));
    ASSERT_TRUE(run.status == 0 || run.status == (signal_number == SIGINT ? 130 : 143));
    const std::string results = dir.exists("wyniki.dat") ? dir.read("wyniki.dat") : "";
    EXPECT_EQ(results.size() % record, 0u);
    EXPECT_EQ(full_results.compare(0, results.size(), results), 0);
    EXPECT_TRUE(run.out.empty() || run.out.ends_with("\r\n"));
    EXPECT_EQ(full.out.compare(0, run.out.size(), run.out), 0);
  }
}

} // namespace
} // namespace tirovan
