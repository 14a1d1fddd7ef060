// report: the core's AOT for every record, flagged records skipped without
// stopping, timestamps, figures.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "atmos/atmos.hpp"
#include "runtime/units.hpp"
#include "run_tools.hpp"
#include "solar/solar.hpp"
#include "support/support.hpp"
#include "tools/report.hpp"

namespace tirovan::tools {
namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

std::vector<std::vector<std::string>> read_csv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : split(text, '\n')) {
    if (!line.empty()) rows.push_back(split(line, ','));
  }
  return rows;
}

// A ten-channel campaign at random sites and dates, in tirovan's file
// format; one record in ten has the Sun just below the horizon, where the
// core goes on computing.
void write_campaign(const test::TempDir& dir, int records) {
  const std::vector<double> wavelengths = {380, 440, 500, 532, 555, 610, 675, 779, 870, 1020};
  const std::vector<double> calibration = {0.81, 1.52, 1.85, 1.99, 2.05, 2.19, 2.10, 2.04, 1.96, 1.31};
  dir.write("lang.dat", test::calibration_file({0.81f, 1.52f, 1.85f, 1.99f, 2.05f, 2.19f, 2.10f, 2.04f, 1.96f, 1.31f}));
  std::mt19937 random(20240615);
  std::uniform_real_distribution<double> unit(0, 1);
  char line[512];
  std::string dane = "10 " + std::to_string(records) + "\n380 440 500 532 555 610 675 779 870 1020\n";
  for (int k = 0; k < records; ++k) {
    const bool below = k % 10 == 7;
    int day = 0, month = 0;
    float lon = 0, lat = 0, hour = 0, zenith = 0, azimuth = 0;
    do {
      month = 1 + static_cast<int>(unit(random) * 12);
      day = 1 + static_cast<int>(unit(random) * 28);
      lon = static_cast<float>(std::round(unit(random) * 36000 - 18000) / 100);
      lat = static_cast<float>(std::round(unit(random) * 13000 - 6000) / 100);
      hour = static_cast<float>(std::round(unit(random) * 240) / 10);
      (void)POSSOL(month, day, hour, lon, lat, zenith, azimuth);
    } while (below ? !(zenith > 90.5f && zenith < 95.5f) : !(zenith < 85.0f));
    float air_mass = 0;
    AIRMASS(zenith, air_mass);
    std::snprintf(line, sizeof line, "%d %d %d %g 0 %.2f %.2f %.1f", day, month, 2000 + k % 26,
                  static_cast<double>(hour), static_cast<double>(lon), static_cast<double>(lat),
                  980 + 40 * unit(random));
    dane += line;
    const double aot500 = 0.02 + 0.6 * unit(random), alpha = 2 * unit(random);
    for (std::size_t i = 0; i < wavelengths.size(); ++i) {
      const double tau = aot500 * std::pow(wavelengths[i] / 500.0, -alpha) + 0.1 * std::pow(wavelengths[i] / 500.0, -4);
      const double signal = calibration[i] * std::exp(-static_cast<double>(air_mass) * tau) + 0.002;
      std::snprintf(line, sizeof line, " %.5g %.4f", signal, signal * 0.01);
      dane += line;
    }
    dane += "\n";
  }
  dir.write("dane.dat", dane);
}

TEST(Report, EveryAotIsTheCoresToThreeDecimals) {
  const test::TempDir dir;
  constexpr int records = 200;
  write_campaign(dir, records);
  ASSERT_EQ(test::run_tirovan(dir).status, 0);
  const std::vector<std::string> core = split(dir.read("wyniki.dat"), '\n');

  ReportOptions options;
  options.folder = dir.path();
  options.output = dir.file("report.csv");
  std::vector<std::string> warnings;
  const ReportSummary summary = write_report(options, [&](const std::string& w) { warnings.push_back(w); });
  EXPECT_EQ(summary.records, static_cast<std::uint64_t>(records));
  EXPECT_EQ(summary.skipped, 0U);
  EXPECT_TRUE(warnings.empty());

  const auto rows = read_csv(dir.read("report.csv"));
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(records) + 1);
  ASSERT_GE(core.size(), static_cast<std::size_t>(records));
  const std::size_t first_aot = 4, flags = rows[0].size() - 1;
  EXPECT_EQ(rows[0][first_aot], "aot_channel_380nm");
  EXPECT_EQ(rows[0][first_aot + 10], "angstrom_440_870");
  EXPECT_EQ(summary.notes.front(), "report: angstrom_440_870 uses 440 500 532 555 610 675 779 870 nm");
  int below_horizon = 0;
  for (int k = 0; k < records; ++k) {
    const auto& row = rows[static_cast<std::size_t>(k) + 1];
    ASSERT_EQ(row.size(), rows[0].size()) << "record " << k + 1;
    below_horizon += row[flags] == "sun_below_horizon" ? 1 : 0;
    for (std::size_t i = 0; i < 10; ++i) {
      // Core: I4 I4 I6 I4 I4, then F10.3 per channel, CR LF.
      std::string want = core[static_cast<std::size_t>(k)].substr(22 + 10 * i, 10);
      want.erase(0, want.find_first_not_of(' '));
      char got[32];
      std::snprintf(got, sizeof got, "%.3f", static_cast<double>(std::stof(row[first_aot + i])));
      EXPECT_EQ(got, want) << "record " << k + 1 << " channel " << i + 1 << ": " << row[first_aot + i];
    }
  }
  EXPECT_EQ(below_horizon, records / 10);
}

// The reference physics against a truth built without tirovan::reference:
// the Sun's true zenith and distance from the PyEphem tables of
// bench/ephemeris, refraction by Saemundsson (1986, Sky Telesc. 72, 70),
// R = 1.02' / tan(h + 10.3 / (h + 5.11)) scaled by (p / 1010)(283 / (273 +
// T)), the Kasten & Young (1989) and Komhyr et al. (1989) air masses and
// Bodhaine et al. (1999) eq. 30 written out here. AOT 0.2 (500 / lambda)^1.3,
// ozone depth 0.03, 1013.25 hPa, 15 deg C. The two refraction models agree
// within a few arcseconds below 75 deg, 1e-5 in AOT.
TEST(ReferencePhysics, RecoversAerosolOfAnIndependentTruth) {
  struct Row {
    int year, month, day;
    double hour, lon, lat, zenith, distance; // as in the ephemeris tables
  };
  constexpr double deg = 3.14159265358979323846 / 180.0, pressure = 1013.25, tau_ozone = 0.03;
  const Row rows[] = {
      {2029, 9, 15, 22.878835, 159.2124, -17.4366, 41.06756, 1.00540841},
      {2024, 3, 17, 16.229794, -85.8809, 11.4112, 27.28841, 0.99515897},
      {2025, 7, 12, 21.909202, -92.0146, 53.5712, 52.12922, 1.01645505},
      {2021, 3, 10, 11.722398, 54.8416, -31.63, 52.93104, 0.99319059},
      {2023, 8, 17, 6, 21, 52.2, 67.1943, 1.01257133},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.zenith);
    const double h = 90.0 - r.zenith;
    const double refraction =
        1.02 / 60.0 / std::tan((h + 10.3 / (h + 5.11)) * deg) * (pressure / 1010.0) * (283.0 / (273.0 + 15.0)); // [deg]
    const double apparent = r.zenith - refraction;
    const double m_a = 1.0 / (std::cos(apparent * deg) + 0.50572 * std::pow(96.07995 - apparent, -1.6364));
    const double ratio = 22.0 / 6370.0, cos_z = std::cos(r.zenith * deg);
    const double m_o3 = (1.0 + ratio) / std::sqrt(cos_z * cos_z + 2.0 * ratio);
    const double factor = 1.0 / (r.distance * r.distance);
    UtcTime time;
    ASSERT_TRUE(utc_time(r.year, r.month, r.day, r.hour, 0.0, time));
    const ReferenceGeometry g = reference_geometry(time, r.lon, r.lat, pressure);
    EXPECT_NEAR(g.air_mass, m_a, 2e-4 * m_a);
    for (const double nm : {440.0, 500.0, 870.0}) {
      const double l2 = (nm / 1000.0) * (nm / 1000.0);
      const double tau_r =
          0.0021520 * (1.0455996 - 341.29061 / l2 - 0.90230850 * l2) / (1.0 + 0.0027059889 / l2 - 85.968563 * l2);
      const double truth = 0.2 * std::pow(nm / 500.0, -1.3);
      const double signal = 1000.0 * factor * std::exp(-(truth + tau_r) * m_a - tau_ozone * m_o3);
      EXPECT_NEAR(reference_aot(g, nm, pressure, 1000.0, signal, tau_ozone), truth, 2e-4) << nm << " nm";
    }
  }
}

TEST(Report, SkipsWhatWouldStopTheCoreAndGoesOn) {
  const test::TempDir dir;
  dir.write("lang.dat", test::calibration_file({1.52f, 1.31f}));
  // Record 2 has its dark signal above the signal (the core stops there),
  // record 3 a bad token, record 4 no such date.
  dir.write("dane.dat", "2 5\n500 870\n"
                        "15 6 2024 10 30.5 21.0 52.2 1013 1.23 0.01 0.99 0.02\n"
                        "15 6 2024 11 0 21.0 52.2 1013 1.23 0.01 0.99 1.5\n"
                        "15 6 2024 11 x 21.0 52.2 1013 1.23 0.01 0.99 0.02\n"
                        "31 6 2024 12 0 21.0 52.2 1013 1.23 0.01 0.99 0.02\n"
                        "16 6 2024 23 59.999 -150.0 52.2 1013 1.23 0.01 0.99 0.02\n");
  const test::RunResult core = test::run_tirovan(dir);
  EXPECT_EQ(core.status, 3);

  const test::ToolsRun run = test::run_tools(dir, "report -o out.csv --plot-dir plots");
  EXPECT_EQ(run.status, 1) << run.err; // done, with records skipped
  EXPECT_NE(run.err.find("dane.dat:4: warning: record 2 skipped: channel 2 (870 nm): the dark-corrected signal -0.51"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("dane.dat:5:14: warning: record 3 skipped: 'x' is not a number"), std::string::npos)
      << run.err;
  const auto rows = read_csv(dir.read("out.csv"));
  ASSERT_EQ(rows.size(), 6U);
  const std::vector<std::vector<std::string>> expected_start = {{"2024-06-15T10:30:30Z", "167.437847"},
                                                                {"2024-06-15T11:00:00Z", "167.458333"},
                                                                {"", ""},
                                                                {"", ""},
                                                                {"2024-06-17T00:00:00Z", "168.999999"}};
  const std::vector<std::string> expected_flags = {"", "signal_not_positive", "unreadable", "date_invalid", ""};
  for (std::size_t k = 0; k < 5; ++k) {
    SCOPED_TRACE(k + 1);
    const auto& row = rows[k + 1];
    ASSERT_EQ(row.size(), rows[0].size());
    EXPECT_EQ(row[0], expected_start[k][0]);
    EXPECT_EQ(row[1], expected_start[k][1]);
    EXPECT_EQ(row.back(), expected_flags[k]);
    EXPECT_EQ(row[4].empty(), k == 1 || k == 2); // no AOT for the skipped records
  }
  // The first record as the core wrote it before stopping.
  char got[16];
  std::snprintf(got, sizeof got, "%10.3f", static_cast<double>(std::stof(rows[1][4])));
  EXPECT_EQ(dir.read("wyniki.dat").substr(22, 10), got);
  EXPECT_TRUE(dir.exists("plots/aot_2024-06-15.svg"));
  EXPECT_TRUE(dir.exists("plots/aot_2024-06-15.png"));
}

using test::read_file;

// report's AOT rounds to the wyniki.dat field of every record, whatever
// the reader allows: the golden campaign, and records whose values are
// left out by a slash, null values or repeat counts (the run carries the
// previous record's values, dark-corrected signals included).
TEST(Report, AgreesWithTheRunOnEveryReaderForm) {
  const std::string lang2 = test::calibration_file({1.52f, 1.31f});
  const std::string head = "2 4\n500 870\n15 6 2024 10 30 21.0 52.2 1013 1.23 0.01 0.99 0.02\n";
  struct Case {
    const char* name;
    std::string lang, dane;
  };
  const Case cases[] = {
      {"golden campaign", read_file(TIROVAN_GOLDEN "/campaign/lang.dat"),
       read_file(TIROVAN_GOLDEN "/campaign/dane.dat")},
      {"slash after the pressure", lang2,
       head + "15 6 2024 11 0 21.0 52.2 1012 /\n15 6 2024 11 30 21.0 52.2 1012 /\n15 6 2024 12 0 21 52.2 1011 1.2 0.01 "
              "/\n"},
      {"null values", lang2,
       head + "15 6 2024 11 0 21.0 52.2 1012 1.3,,0.98 0.02\n15 6 2024 11 30 ,, 52.2 1012 1.25 0.01 ,, 0.02\n"
              "15 6 2024 12 0 21.0 52.2,,1.2 0.01 0.97 0.02\n"},
      {"repeat counts", lang2,
       head + "15 6 2024 11 0 21.0 52.2 1012 2* 0.98 0.02\n15 6 2024 11 30 2*21.5 1012 1.1 0.01 2*\n"
              "2*6 2024 12 0 21.0 52.2 1011 1.2 0.01 0.97 0.02\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const test::TempDir dir;
    dir.write("lang.dat", c.lang);
    dir.write("dane.dat", c.dane);
    ASSERT_EQ(test::run_tirovan(dir).status, 0);
    const std::vector<std::string> core = split(dir.read("wyniki.dat"), '\n');
    ASSERT_LT(test::run_tools(dir, "report -o out.csv").status, 2);
    const auto rows = read_csv(dir.read("out.csv"));
    ASSERT_GT(rows.size(), 1U);
    const std::size_t channels = (core[0].size() - 1 - 22) / 10;
    for (std::size_t k = 1; k < rows.size(); ++k) {
      for (std::size_t i = 0; i < channels; ++i) {
        std::string want = core[k - 1].substr(22 + 10 * i, 10);
        want.erase(0, want.find_first_not_of(' '));
        if (want.find('*') != std::string::npos) continue; // too wide for F10.3
        char got[32];
        std::snprintf(got, sizeof got, "%.3f", static_cast<double>(std::stof(rows[k][4 + i])));
        EXPECT_EQ(got, want) << "record " << k << " channel " << i + 1;
      }
    }
  }
}

// The same failure gives the same status and first message line in every
// command; a usage error is 2 as well.
TEST(Tools, SameFailureSameStatus) {
  const test::TempDir dir;
  struct Case {
    const char* arguments;
    int status;
    const char* first_line; // of standard error (check: of standard output)
  };
  const Case cases[] = {
      {"check missing", 2, "missing/lang.dat: error: cannot open: No such file or directory [open]"},
      {"report missing", 2, "tirovan-tools: missing/lang.dat: cannot open: No such file or directory"},
      {"langley missing", 2, "tirovan-tools: missing/dane.dat: cannot open: No such file or directory"},
      {"report --no-such-option", 2, "tirovan-tools: The following argument was not expected: --no-such-option"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const test::ToolsRun run = test::run_tools(dir, c.arguments);
    EXPECT_EQ(run.status, c.status);
    const std::string& text = std::string(c.arguments).starts_with("check") ? run.out : run.err;
    EXPECT_EQ(text.substr(0, text.find('\n')), c.first_line);
  }
}

// Days are dates, not runs of records: two days interleaved record by
// record make two days of 6 (no day_too_few), one figure each, and a
// warning that the file is out of order.
TEST(Report, InterleavedDaysAreGroupedByDate) {
  const test::TempDir dir;
  dir.write("lang.dat", test::calibration_file({1.52f, 1.31f}));
  std::string dane = "2 12\n500 870\n";
  for (int k = 0; k < 6; ++k) {
    for (const int day : {15, 16}) {
      dane += std::to_string(day) + " 6 2024 " + std::to_string(8 + k) + " 0 21.0 52.2 1013 1.2 0.01 1.0 0.02\n";
    }
  }
  dir.write("dane.dat", dane);
  const test::ToolsRun run = test::run_tools(dir, "report --screen -o out.csv --plot-dir plots");
  EXPECT_NE(run.err.find("not in date order"), std::string::npos) << run.err;
  const std::string csv = dir.read("out.csv");
  EXPECT_EQ(csv.find("day_too_few"), std::string::npos) << csv;
  const auto rows = read_csv(csv);
  ASSERT_EQ(rows.size(), 13U);
  for (std::size_t k = 1; k <= 6; ++k) EXPECT_EQ(rows[k][0].substr(0, 10), "2024-06-15") << k;
  EXPECT_FALSE(dir.read("plots/aot_2024-06-15.svg").empty());
  EXPECT_FALSE(dir.read("plots/aot_2024-06-16.svg").empty());
  EXPECT_TRUE(dir.read("plots/aot_2024-06-15_2.svg").empty());
}

// A station at 150 deg W measures from 08:00 to 16:15 local solar time,
// 18:00 to 02:15 UT: its day spans two UTC dates, one local solar day.
TEST(Report, LocalSolarDayKeepsAStationsDayTogether) {
  const test::TempDir dir;
  dir.write("lang.dat", test::calibration_file({1.52f, 1.31f}));
  std::string dane = "2 12\n500 870\n";
  for (int k = 0; k < 12; ++k) {
    const int minutes = 18 * 60 + 45 * k; // UT, from 18:00 on 15 June
    dane += std::to_string(15 + minutes / 1440) + " 6 2024 " + std::to_string(minutes % 1440 / 60) + " " +
            std::to_string(minutes % 60) + " -150.0 20.0 1013 1.2 0.01 1.0 0.02\n";
  }
  dir.write("dane.dat", dane);
  for (const bool local : {false, true}) {
    SCOPED_TRACE(local);
    const std::string plots = local ? "local" : "utc";
    const test::ToolsRun run =
        test::run_tools(dir, "report -o out.csv --plot-dir " + plots + (local ? " --local-solar-day" : ""));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(dir.read(plots + "/aot_2024-06-15.svg").empty());
    EXPECT_EQ(dir.read(plots + "/aot_2024-06-16.svg").empty(), local);
  }
}

// An input that never ends a line (/dev/zero as lang.dat) is refused at
// the companion's line limit by every command, in bounded memory.
TEST(Tools, InputThatNeverEndsIsRefused) {
  const test::TempDir dir;
  ASSERT_EQ(::symlink("/dev/zero", dir.file("lang.dat").c_str()), 0);
  dir.write("dane.dat", "1 0\n500\n");
  for (const char* command : {"check", "report", "langley -n"}) {
    SCOPED_TRACE(command);
    const test::ToolsRun run = test::run_tools(dir, command);
    EXPECT_NE(run.status, 0);
    EXPECT_NE((run.out + run.err).find("a line longer than 256 MiB"), std::string::npos) << run.out << run.err;
  }
}

// A channel below AOT -0.01 loses its value only: with --screen its cell
// is empty and the record flagged negative_aot; with --drop-flagged it stays.
TEST(Report, NegativeChannelLosesItsValueOnly) {
  const test::TempDir dir;
  dir.write("lang.dat", test::calibration_file({1.52f, 1.31f}));
  std::string dane = "2 8\n500 870\n";
  for (int k = 0; k < 8; ++k) {
    const char* signals = k == 3 ? " 1.2 0.01 1.6 0.02\n" : " 1.2 0.01 1.0 0.02\n";
    dane += "15 6 2024 " + std::to_string(9 + k) + " 0 21.0 52.2 1013" + signals;
  }
  dir.write("dane.dat", dane);
  for (const char* mode : {"--screen", "--drop-flagged"}) {
    SCOPED_TRACE(mode);
    const test::ToolsRun run = test::run_tools(dir, std::string("report -o out.csv --plot-dir plots ") + mode);
    const auto rows = read_csv(dir.read("out.csv"));
    ASSERT_EQ(rows.size(), 9U) << run.err;
    const std::vector<std::string>& header = rows[0];
    const std::vector<std::string>& row = rows[4];
    ASSERT_EQ(header[5], "aot_channel_870nm");
    EXPECT_EQ(row[5], "");
    EXPECT_NE(row[4], "");     // 500 nm kept
    EXPECT_EQ(row[6], "");     // no exponent from one channel
    EXPECT_EQ(row[7], row[4]); // aot_500nm
    EXPECT_NE(row.back().find("negative_aot"), std::string::npos) << row.back();
    EXPECT_FALSE(dir.read("plots/aot_2024-06-15.svg").empty());
  }
}

} // namespace
} // namespace tirovan::tools
