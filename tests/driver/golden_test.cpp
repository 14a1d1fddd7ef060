// Golden files: the built program's standard output and wyniki.dat, byte for
// byte, on the bundled example and on a ten-channel campaign (340-1640 nm,
// both sides of the ozone table and 555 nm; northern and southern sites, 29
// February, a low morning Sun and a Sun just below the horizon, negative
// AOT). The expected files were made by the program and reviewed: a sample
// of values is recomputed below in double precision from the published
// formulas, independently of the code under test.
//
// After a deliberate change of the output, tests/driver/golden/regenerate
// rewrites the expected files; review the diff before committing it.

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/support.hpp"

namespace tirovan {
namespace {

using test::TempDir;

const std::string golden = TIROVAN_GOLDEN;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct GoldenCase {
  const char* name;
  std::string inputs; // folder with lang.dat and dane.dat
  std::string expected;
};

TEST(Golden, StandardOutputAndResultsByteForByte) {
  const GoldenCase cases[] = {
      {"ten-channel campaign", golden + "/campaign", golden + "/campaign"},
      {"bundled example", TIROVAN_EXAMPLES, golden + "/example"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("lang.dat", slurp(c.inputs + "/lang.dat"));
    dir.write("dane.dat", slurp(c.inputs + "/dane.dat"));
    const test::RunResult run = test::run_tirovan(dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, slurp(c.expected + "/expected.stdout"));
    EXPECT_EQ(dir.read("wyniki.dat"), slurp(c.expected + "/expected.wyniki.dat"));
  }
}

// ----------------------------------------------- independent recomputation

constexpr double pi = std::numbers::pi;
double radians(double degrees) { return degrees * pi / 180; }

// Day of the year without a leap day (29 February counts as 1 March).
int day_of_year(int day, int month) {
  constexpr int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  return month == 2 && day == 29 ? 60 : before[month - 1] + day;
}

// Spencer (1971) series and spherical astronomy: solar zenith [deg].
double zenith(int day, int month, double ut_hours, double lon, double lat) {
  const double g = 2 * pi * day_of_year(day, month) / 365;
  const double eot = 0.000075 + 0.001868 * std::cos(g) - 0.032077 * std::sin(g) - 0.014615 * std::cos(2 * g) -
                     0.040849 * std::sin(2 * g);
  const double decl = 0.006918 - 0.399912 * std::cos(g) + 0.070257 * std::sin(g) - 0.006758 * std::cos(2 * g) +
                      0.000907 * std::sin(2 * g) - 0.002697 * std::cos(3 * g) + 0.00148 * std::sin(3 * g);
  const double solar_time = ut_hours + lon / 15 + eot * 720 / pi / 60; // [h]
  const double hour_angle = radians((solar_time - 12) * 15);
  const double sin_elevation =
      std::sin(decl) * std::sin(radians(lat)) + std::cos(hour_angle) * std::cos(decl) * std::cos(radians(lat));
  return 90 - std::asin(sin_elevation) * 180 / pi;
}

// Kasten & Young (1989), with pi as 3.14159 as the program uses it.
double air_mass(double z) {
  const double h = 90 - z;
  return 1 / (std::sin(h * 3.14159 / 180) + 0.50572 * std::pow(h + 6.07995, -1.6364));
}

double distance_factor(int day, int month) {
  const double theta = (day_of_year(day, month) - 4) * 0.9856 * pi / 180;
  return 1 / std::pow(1 - 0.01673 * std::cos(theta), 2);
}

double rayleigh(double wavelength_nm, double pressure) {
  const double l = wavelength_nm / 1000;
  return (0.008436 * std::pow(l, -4) - 0.0001225 * std::pow(l, -5) + 0.00014 * std::pow(l, -6)) * pressure / 1013;
}

// Ozone coefficients per 1000 DU at this campaign's channels: table nodes
// at 500 and 555 nm, the midpoint of 0.048 (670 nm) and 0.036 (680 nm) at
// 675 nm, zero outside 445-790 nm.
double ozone_coefficient(double wavelength_nm) {
  if (wavelength_nm == 500) return 0.03;
  if (wavelength_nm == 555) return 0.095;
  if (wavelength_nm == 675) return 0.042;
  return 0;
}

struct Sample {
  int record;          // 1-based in the campaign's dane.dat
  double ozone_column; // [DU] climatology node for the record's month and latitude
};

// Records whose latitude falls on a climatology node: 21 June at 50 N (372
// DU), 10 January at 35 S (295 DU), 29 February at the equator (250 DU).
TEST(Golden, CampaignSampleAgreesWithAnIndependentComputation) {
  const std::string dane = slurp(golden + "/campaign/dane.dat");
  const std::string lang = slurp(golden + "/campaign/lang.dat");
  std::istringstream lang_in(lang);
  std::string line;
  for (int k = 0; k < 8; ++k) std::getline(lang_in, line);
  int n = 0;
  lang_in >> n;
  std::vector<double> wavelength(static_cast<std::size_t>(n)), calibration(static_cast<std::size_t>(n));
  for (double& w : wavelength) lang_in >> w;
  for (double& v : calibration) lang_in >> v;

  std::istringstream dane_in(dane);
  int channels = 0, measurements = 0;
  dane_in >> channels >> measurements;
  ASSERT_EQ(channels, n);
  for (int i = 0; i < n; ++i) dane_in >> line;
  std::vector<std::vector<double>> records;
  for (int r = 0; r < measurements; ++r) {
    std::vector<double> values(static_cast<std::size_t>(8 + 2 * n));
    for (double& v : values) dane_in >> v;
    records.push_back(values);
  }

  const std::string out = slurp(golden + "/campaign/expected.stdout");
  std::vector<double> console;
  for (std::size_t at = out.find(" Grubosc optyczna aerozolu"); at != std::string::npos;
       at = out.find(" Grubosc optyczna aerozolu", at + 1)) {
    console.push_back(std::strtod(out.c_str() + at + 26, nullptr));
  }
  std::istringstream results(slurp(golden + "/campaign/expected.wyniki.dat"));
  std::vector<std::vector<double>> fields;
  while (std::getline(results, line)) {
    std::istringstream in(line);
    std::vector<double> row;
    for (double v = 0; in >> v;) row.push_back(v);
    fields.push_back(row);
  }
  ASSERT_EQ(console.size(), static_cast<std::size_t>(n * measurements));

  for (const Sample s : {Sample{5, 372}, Sample{7, 295}, Sample{13, 250}}) {
    const std::vector<double>& v = records[static_cast<std::size_t>(s.record - 1)];
    const int day = static_cast<int>(v[0]), month = static_cast<int>(v[1]);
    const double z = zenith(day, month, v[3] + v[4] / 60, v[5], v[6]);
    const double m = air_mass(z);
    const double factor = distance_factor(day, month);
    for (int i = 0; i < n; ++i) {
      SCOPED_TRACE(testing::Message() << "record " << s.record << ", " << wavelength[static_cast<std::size_t>(i)]
                                      << " nm");
      const double signal = v[static_cast<std::size_t>(8 + 2 * i)] - v[static_cast<std::size_t>(9 + 2 * i)];
      const double tau = std::log(calibration[static_cast<std::size_t>(i)] * factor / signal) / m;
      const double w = wavelength[static_cast<std::size_t>(i)];
      const double aot = tau - s.ozone_column / 1000 * ozone_coefficient(w) - rayleigh(w, v[7]);
      // Single-precision arithmetic differs from this by a few 1e-7.
      EXPECT_NEAR(console[static_cast<std::size_t>((s.record - 1) * n + i)], aot, 2e-5);
      EXPECT_NEAR(fields[static_cast<std::size_t>(s.record - 1)][static_cast<std::size_t>(5 + i)], aot, 0.0005 + 2e-5);
    }
  }
}

} // namespace
} // namespace tirovan
