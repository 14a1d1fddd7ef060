// The bundled example retrieves the aerosol model it was generated from:
// every channel of every measurement within 0.002 of the model's AOT; and
// its generator remakes it.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "examples/model.hpp"
#include "support/support.hpp"

namespace tirovan {
namespace {

namespace ex = example;

constexpr std::string_view report = " Grubosc optyczna aerozolu";

TEST(Example, RetrievesTheGeneratingModel) {
  test::TempDir dir;
  for (const char* name : {"lang.dat", "dane.dat"}) {
    std::filesystem::copy_file(std::string(TIROVAN_SOURCE_DIR) + "/examples/" + name, dir.file(name));
  }
  const test::RunResult run = test::run_tirovan(dir);
  ASSERT_EQ(run.status, 0) << run.err;

  std::vector<double> reported;
  std::istringstream console(run.out);
  for (std::string line; std::getline(console, line);) {
    if (line.starts_with(report)) reported.push_back(std::strtod(line.c_str() + report.size(), nullptr));
  }
  std::istringstream results(dir.read("wyniki.dat"));
  ASSERT_EQ(reported.size(), ex::channel_count * ex::measurement_count);

  double largest = 0;
  for (int record = 0; record < ex::measurement_count; ++record) {
    const ex::Clock clock = ex::clock_of(record);
    int day = 0, month = 0, year = 0, hour = 0, minute = 0;
    ASSERT_TRUE(results >> day >> month >> year >> hour >> minute) << "record " << record + 1;
    EXPECT_EQ(hour * 60 + minute, clock.hour * 60 + clock.minute) << "record " << record + 1;
    const double t = clock.hour + clock.minute / 60.0;
    for (std::size_t i = 0; i < ex::channel_count; ++i) {
      double written = 0;
      ASSERT_TRUE(results >> written);
      const double retrieved = reported[static_cast<std::size_t>(record) * ex::channel_count + i];
      const double model = ex::aot(static_cast<double>(ex::wavelength[i]), t);
      EXPECT_NEAR(retrieved, model, 0.002) << "record " << record + 1 << ", " << ex::wavelength[i] << " nm";
      EXPECT_NEAR(written, retrieved, 0.0005);
      largest = std::max(largest, std::abs(retrieved - model));
    }
  }
  std::printf("largest |retrieved - model| AOT: %.6f\n", largest);
}

// `text` in single quotes, for the shell.
std::string quoted(const std::string& text) {
  std::string result(1, '\'');
  result += text;
  result += '\'';
  return result;
}

// Runs the generator with `arguments` (through the shell, as written) and
// returns its exit status; standard error goes to `err`.
int generate(const std::string& arguments, const std::string& err) {
  std::string command = quoted(TIROVAN_EXAMPLE_GEN);
  command += ' ';
  command += arguments;
  command += " 2> ";
  command += quoted(err);
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(Example, GeneratorRemakesItInANewFolder) {
  test::TempDir dir;
  ASSERT_EQ(generate(quoted(dir.file("a/b")), dir.file("err")), 0) << dir.read("err");
  for (const char* name : {"lang.dat", "dane.dat"}) {
    std::ifstream in(std::string(TIROVAN_SOURCE_DIR) + "/examples/" + name, std::ios::binary);
    const std::string bundled{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(dir.read(std::string("a/b/") + name), bundled) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("a/b/lang.dat.tmp")));

  // A folder that cannot be made: under a regular file.
  dir.write("plain", "");
  EXPECT_EQ(generate("--every 2 " + quoted(dir.file("plain/c")), dir.file("err")), 2);
  EXPECT_TRUE(dir.read("err").starts_with("tirovan_example_gen: cannot create the folder ")) << dir.read("err");
}

} // namespace
} // namespace tirovan
