// Products beyond the AOT, run as a user runs them: the precipitable water
// of a synthetic day through langley and report, the NetCDF file read back
// by ncdump, and many folders with one broken.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "atmos/atmos.hpp"
#include "run_tools.hpp"
#include "solar/solar.hpp"
#include "support/support.hpp"

namespace tirovan::tools {
namespace {

// Bodhaine et al. (1999) eq. 30 at p [hPa], lambda [nm]: not the core's polynomial.
double bodhaine(double nm, double p) {
  const double l = nm / 1000, l2 = l * l;
  return 0.0021520 * (1.0455996 - 341.29061 / l2 - 0.90230850 * l2) / (1 + 0.0027059889 / l2 - 85.968563 * l2) * p /
         1013.25;
}

const std::vector<double> wavelengths = {380, 440, 870, 940, 1020}; // none in the core's ozone table
const std::vector<double> v0 = {0.8, 1.5, 1.9, 1.2, 1.3};
constexpr double water = 1.5, band_a = 0.6, band_b = 0.5, pressure = 1000;

// A June morning at 45 N, 10 E, every 4 minutes from air mass 7 to 1.5,
// aerosol 0.12 (lambda / 500 nm)^-1.3 and 1.5 cm of water; the number of
// records goes to `records`.
std::string dane(int* records = nullptr) {
  std::string rows;
  int count = 0;
  char line[256];
  for (int minute = 3 * 60; minute < 12 * 60; minute += 4) {
    const auto hour = static_cast<float>(minute / 60), min = static_cast<float>(minute % 60);
    float zenith = 0, azimuth = 0, m = 0, factor = 0;
    (void)POSSOL(6, 21, hour + min / 60, 10.0f, 45.0f, zenith, azimuth);
    if (!(zenith < 85.0f)) continue;
    AIRMASS(zenith, m);
    if (m > 7 || m < 1.5f) continue;
    VARSOL(21, 6, factor);
    std::snprintf(line, sizeof line, "21 6 2024 %g %g 10.00 45.00 %g", static_cast<double>(hour),
                  static_cast<double>(min), pressure);
    rows += line;
    const double am = static_cast<double>(m);
    for (std::size_t i = 0; i < wavelengths.size(); ++i) {
      double tau = bodhaine(wavelengths[i], pressure) + 0.12 * std::pow(wavelengths[i] / 500, -1.3);
      double t = std::exp(-am * tau);
      if (wavelengths[i] == 940) t *= std::exp(-band_a * std::pow(am * water, band_b));
      std::snprintf(line, sizeof line, " %.7g 0", v0[i] * static_cast<double>(factor) * t);
      rows += line;
    }
    rows += "\n";
    ++count;
  }
  if (records != nullptr) *records = count;
  return std::to_string(wavelengths.size()) + " " + std::to_string(count) + "\n380 440 870 940 1020\n" + rows;
}

std::string lang() {
  std::string text;
  for (int i = 1; i <= 8; ++i) text += "header\n";
  text += "5\n380 440 870 940 1020\n0.8 1.5 1.9 1.2 1.3\n";
  return text;
}

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, ',');) out.push_back(f);
  return out;
}

TEST(Products, WaterColumnOfASyntheticDay) {
  const test::TempDir dir;
  int records = 0;
  dir.write("dane.dat", dane(&records));
  dir.write("lang.dat", lang());
  ASSERT_GT(records, 40);

  // The modified Langley plot gives the water channel's V0 back.
  const test::ToolsRun langley = run_tools(dir, "langley . -o cal.dat");
  EXPECT_NE(langley.out.find("940 nm is the water vapour channel: modified Langley"), std::string::npos)
      << langley.out << langley.err;
  std::stringstream cal(dir.read("cal.dat"));
  std::string line;
  for (int i = 0; i < 10; ++i) std::getline(cal, line); // eight header lines, count, wavelengths
  std::getline(cal, line);
  std::stringstream values(line);
  std::vector<double> fitted(5);
  for (double& v : fitted) values >> v;
  EXPECT_NEAR(fitted[3], 1.2, 0.01 * 1.2) << langley.out;

  // The report's column within 5%, the water channel's AOT column marked.
  const test::ToolsRun report = run_tools(dir, "report . -o r.csv --pw-a 0.6 --pw-b 0.5");
  ASSERT_EQ(report.status, 0) << report.err;
  std::stringstream csv(dir.read("r.csv"));
  std::getline(csv, line);
  const std::vector<std::string> header = fields(line);
  std::size_t pw = 0;
  for (std::size_t k = 0; k < header.size(); ++k)
    if (header[k] == "pw_cm") pw = k;
  ASSERT_GT(pw, 0u);
  EXPECT_EQ(header[7], "aot_channel_940nm_water");
  int rows = 0;
  while (std::getline(csv, line)) {
    EXPECT_NEAR(std::stod(fields(line)[pw]), water, 0.05 * water) << line;
    ++rows;
  }
  EXPECT_EQ(rows, records);
  // Another band exponent gives another column: the option reaches the retrieval.
  ASSERT_EQ(run_tools(dir, "report . -o r2.csv --pw-b 0.6").status, 0);
  EXPECT_NE(dir.read("r.csv"), dir.read("r2.csv"));
}

TEST(Products, NetcdfReadsBackWithCfAttributes) {
  const test::TempDir dir;
  dir.write("dane.dat", dane());
  dir.write("lang.dat", lang());
  ASSERT_EQ(run_tools(dir, "report . --format netcdf -o r.nc").status, 0);
  ASSERT_EQ(std::system(("ncdump -h '" + dir.path() + "/r.nc' > '" + dir.path() + "/h.txt'").c_str()), 0);
  const std::string header = dir.read("h.txt");
  for (const char* expected :
       {":Conventions = \"CF-1.8\"", "time:units = \"seconds since 1970-01-01 00:00:00 UTC\"",
        "float aot(time, wavelength)",
        "aot:standard_name = \"atmosphere_optical_thickness_due_to_ambient_aerosol_particles\"", "aot:units = \"1\"",
        "aot:water_channel_wavelength = 940.f", "wavelength:units = \"nm\"", "precipitable_water:units = \"cm\"",
        "flags:flag_meanings = \"unreadable signal_not_positive", "lat:units = \"degrees_north\"",
        ":program = \"tirovan-tools report\"", ":calibration_file = "})
    EXPECT_NE(header.find(expected), std::string::npos) << expected << "\n" << header;
  // Standard output is no place for a NetCDF file; no temporary is left behind.
  EXPECT_EQ(run_tools(dir, "report . --format netcdf").status, 2);
  EXPECT_EQ(run_tools(dir, "report . --format netcdf -o /dev/null").status, 2);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().rfind(".tirovan-tools-", 0), std::string::npos) << entry.path();
}

TEST(Products, ManyFoldersOneBroken) {
  const test::TempDir dir;
  for (const char* site : {"a", "b", "c"}) {
    std::filesystem::create_directory(dir.file(site));
    dir.write(std::string(site) + "/dane.dat", dane());
    dir.write(std::string(site) + "/lang.dat", lang());
  }
  dir.write("b/lang.dat", "not a calibration\n");
  const test::ToolsRun run = run_tools(dir, "report a b c --jobs 2 --output-pattern 'out-{name}.csv'");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_FALSE(dir.read("out-a.csv").empty());
  EXPECT_FALSE(dir.read("out-c.csv").empty());
  EXPECT_NE(run.err.find("tirovan-tools: b: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("3 folders: 2 written (0 with warnings), 1 failed"), std::string::npos) << run.err;
  // One file for several folders, or -o with several, is refused before any work.
  EXPECT_EQ(run_tools(dir, "report a c --output-pattern same.csv").status, 2);
  EXPECT_EQ(run_tools(dir, "report a c -o x.csv").status, 2);
}

} // namespace
} // namespace tirovan::tools
