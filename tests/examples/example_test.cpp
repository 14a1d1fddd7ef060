// The bundled example retrieves the aerosol model it was generated from:
// every channel of every measurement within 0.002 of the model's AOT.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

} // namespace
} // namespace tirovan
