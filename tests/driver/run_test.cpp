// The built program on small input files: the bundled example, the layout
// of the console report and the results file, and the state kept from one
// record to the next.

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/support.hpp"

namespace tirovan {
namespace {

using test::calibration_file;
using test::run_tirovan;
using test::TempDir;

const std::string banner = " \r\n"
                           " ---------------------------------------------\r\n"
                           "                PROGRAM Tirovan 1.1         \r\n"
                           "           Autor Velindorastrakhumen\r\n"
                           " \r\n"
                           " Program oblicza grubosc optyczna aerozolu\r\n"
                           " Opis programu znajduje sie w pliku Readme.txt\r\n"
                           " Program korzysta z kliku kalibracyjbego lang.dat\r\n"
                           "          e-mail tirovan@photometry.example.org\r\n"
                           " ---------------------------------------------\r\n"
                           " \r\n";

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      result.push_back(text.substr(start) + "<no CR LF>");
      break;
    }
    result.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return result;
}

// The value of a console report line.
double reported(const std::string& line) {
  EXPECT_EQ(line.substr(0, 26), " Grubosc optyczna aerozolu");
  EXPECT_EQ(line.size(), 42u);
  return std::strtod(line.c_str() + 26, nullptr);
}

TEST(Run, BundledExampleAgainstAHandCheckedMeasurement) {
  TempDir dir;
  for (const char* name : {"lang.dat", "dane.dat"}) {
    std::filesystem::copy_file(std::string(TIROVAN_EXAMPLES) + "/" + name, dir.file(name));
  }
  const test::RunResult run = run_tirovan(dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run.out.substr(0, banner.size()), banner);

  // First measurement, 15 June 2024 at 05:40 UT, Warsaw (21.00 E, 52.20 N),
  // 1011.7 hPa, worked by hand in double precision:
  //   day of year 166, G = 2.857558 rad, equation of time -0.2406 min,
  //   declination 23.3308 deg, hour angle -74.0601 deg  ->  zenith 62.1284 deg
  //   air mass (Kasten & Young) at elevation 27.8716 deg: 2.131870
  //   distance factor at day 166: 0.969348 (ln = -0.031129)
  //   ozone column, June at 52.2 N: 375 + 2.8 * (372 - 375) / 5 = 373.32 DU
  //   channel  signal-dark  tau_total  tau_ozone  tau_Rayleigh  aot
  //   440 nm   0.6028       0.419633   0 (warn)   0.236636      0.182997
  //   500 nm   0.9344       0.305080   0.011200   0.139836      0.154044
  //   675 nm   1.4509       0.159597   0.015679   0.041190      0.102727
  //   870 nm   1.5728       0.087699   0 (warn)   0.014783      0.072916
  //   1020 nm  1.1040       0.066615   0 (warn)   0.007797      0.058818
  // e.g. 440 nm: tau_total = ln(1.5213 * 0.969348 / 0.6028) / 2.131870.
  const std::vector<std::string> out = lines(run.out.substr(banner.size()));
  ASSERT_GE(out.size(), 11u);
  EXPECT_EQ(out[0], " Dlugosc fali mniejsza od 445 nm");
  EXPECT_EQ(out[1], " przyjeto grubosc optyczna ozonu rowna O");
  EXPECT_NEAR(reported(out[2]), 0.182997, 2e-6);
  EXPECT_NEAR(reported(out[3]), 0.154044, 2e-6);
  EXPECT_NEAR(reported(out[4]), 0.102727, 2e-6);
  EXPECT_EQ(out[5], " Dlugosc fali wieksza od 790nm");
  EXPECT_EQ(out[6], " przyjeto grubosc optyczna ozonu rowna O");
  EXPECT_NEAR(reported(out[7]), 0.072916, 2e-6);
  EXPECT_EQ(out[8], " Dlugosc fali wieksza od 790nm");
  EXPECT_NEAR(reported(out[10]), 0.058818, 2e-6);
  // Per measurement: 5 report lines and 3 pairs of ozone warnings.
  EXPECT_EQ(out.size(), 20u * 11u);

  const std::vector<std::string> results = lines(dir.read("wyniki.dat"));
  ASSERT_EQ(results.size(), 20u);
  EXPECT_EQ(results[0], "  15   6  2024   5  40     0.183     0.154     0.103     0.073     0.059");
  for (const auto& line : results) {
    EXPECT_EQ(line.size(), 72u);
    std::istringstream fields(line.substr(22));
    double aot = 0;
    while (fields >> aot) {
      EXPECT_GT(aot, 0.02);
      EXPECT_LT(aot, 0.8);
    }
  }
}

// Two channels, two measurements, as in the input-file examples.
const std::string two_channel_calibration = calibration_file({1.52f, 1.31f});
const std::string two_measurements_one_per_line = "2 2\n500 870\n"
                                                  "15 6 2005 10 30 21.0 52.2 1013 1.23 0.01 0.99 0.02\n"
                                                  "15 6 2005 11 0 21.0 52.2 1012 1.30 0.01 1.02 0.02\n";

test::RunResult run_files(const std::string& lang, const std::string& dane, TempDir& dir) {
  dir.write("lang.dat", lang);
  dir.write("dane.dat", dane);
  return run_tirovan(dir);
}

struct SameOutputCase {
  const char* name;
  std::string dane;
};

TEST(Run, LayoutsOfTheSameMeasurementsReadAlike) {
  TempDir reference_dir;
  const test::RunResult reference = run_files(two_channel_calibration, two_measurements_one_per_line, reference_dir);
  ASSERT_EQ(reference.status, 0) << reference.err;
  const std::string reference_results = reference_dir.read("wyniki.dat");
  ASSERT_EQ(lines(reference_results).size(), 2u);

  const SameOutputCase cases[] = {
      {"record split with a surplus value", "2 2\n500 870\n15 6 2005 10 30 21.0 52.2 1013 1.23 0.01 0.99 0.02\n"
                                            "15 6 2005 11 0 21.0 52.2 1012\n1.30 0.01 1.02 0.02 7\n"},
      {"one value per line, comments, CR LF",
       "2 2   channels and measurements\r\n500\r\n\r\n870 nm\r\n15\n6\n2005\n10\n30\n21.0\n52.2\n1013\n1.23\n0.01\n"
       "0.99\n0.02\n15,6,2005,11,0,21.0,52.2,1012,1.30,0.01,1.02,0.02\n"},
      {"repeats and real-valued integers", "2*2.0\n500 870\n15 6 2005 10 30 21.0 52.2 1013 1.23 0.01 0.99 0.02\n"
                                           "15.9 6 2005 11 0 21.0 52.2 1012 1.30 0.01 1.02 0.02\n"},
      {"hour fraction instead of minutes", "2 2\n500 870\n15 6 2005 10 30 21.0 52.2 1013 1.23 0.01 0.99 0.02\n"
                                           "15 6 2005 10.5 30 21.0 52.2 1012 1.30 0.01 1.02 0.02\n"},
      {"values after the last record never read",
       "2 2\n500 870\n15 6 2005 10 30 21.0 52.2 1013 1.23 0.01 0.99 0.02\n"
       "15 6 2005 11 0 21.0 52.2 1012 1.30 0.01 1.02 0.02\nnot numbers at all\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const test::RunResult run = run_files(two_channel_calibration, c.dane, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, reference.out);
    std::string expected = reference_results;
    // 10.5 h + 30 min is 11:00, written as hour 10 and minute 30.
    if (std::string(c.name) == "hour fraction instead of minutes") {
      expected.replace(expected.find("  11   0", 24), 8, "  10  30");
    }
    EXPECT_EQ(dir.read("wyniki.dat"), expected);
  }
}

TEST(Run, SlashKeepsTheSignalsWhichAreDarkCorrectedAgain) {
  // After measurement 1 the signals hold 1.23 - 0.01 and 0.99 - 0.02;
  // measurement 2 ends after the pressure and so sees them once more.
  TempDir with_slash, explicit_values;
  const test::RunResult a = run_files(two_channel_calibration,
                                      "2 2\n500 870\n15 6 2005 10 30 21.0 52.2 1013 1.23 0.01 0.99 0.02\n"
                                      "15 6 2005 11 0 21.0 52.2 1012 /\n",
                                      with_slash);
  const test::RunResult b = run_files(two_channel_calibration,
                                      "2 2\n500 870\n15 6 2005 10 30 21.0 52.2 1013 1.23 0.01 0.99 0.02\n"
                                      "15 6 2005 11 0 21.0 52.2 1012 1.22 0.01 0.97 0.02\n",
                                      explicit_values);
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(with_slash.read("wyniki.dat"), explicit_values.read("wyniki.dat"));
}

TEST(Run, ZeroCountsAndTheResultsFile) {
  {
    SCOPED_TRACE("no measurements, no results file yet");
    TempDir dir;
    const test::RunResult run = run_files(two_channel_calibration, "2 0\n500 870\n", dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, banner);
    ASSERT_TRUE(dir.exists("wyniki.dat"));
    EXPECT_EQ(dir.read("wyniki.dat"), "");
  }
  {
    SCOPED_TRACE("no measurements keep an existing results file");
    TempDir dir;
    dir.write("wyniki.dat", "old results\r\n");
    const test::RunResult run = run_files(two_channel_calibration, "2 -3\n500 870\n", dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.read("wyniki.dat"), "old results\r\n");
  }
  {
    SCOPED_TRACE("a longer old results file is cut after the new records");
    TempDir dir;
    dir.write("wyniki.dat", std::string(5000, 'x') + "\r\n");
    const test::RunResult run = run_files(two_channel_calibration, two_measurements_one_per_line, dir);
    EXPECT_EQ(run.status, 0);
    const std::string results = dir.read("wyniki.dat");
    EXPECT_EQ(results.size(), 2u * (42 + 2));
    EXPECT_EQ(results.find('x'), std::string::npos);
  }
  {
    SCOPED_TRACE("zero channels: the wavelength line is passed over, five integers per record");
    TempDir dir;
    const test::RunResult run = run_files(
        calibration_file({}), "0 2\nthis line is passed over\n1 1 2000 12 0 0 0 0\n2 2 2000 12 1 0 0 0\n", dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, banner);
    EXPECT_EQ(dir.read("wyniki.dat"), "   1   1  2000  12   0\r\n   2   2  2000  12   1\r\n");
  }
}

TEST(Run, FieldsTooWideShowAsterisks) {
  TempDir dir;
  const test::RunResult run = run_files(calibration_file({1.0f}),
                                        "1 2\n500\n"
                                        // Near the pole in June the Sun is up at any hour angle.
                                        "15 6 1000000 1e20 -1e20 0 89.9 1013 0.5 0\n"
                                        "15 6 -99999 23.99 59.9 0 89.9 1013 1e-30 0\n",
                                        dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> results = lines(dir.read("wyniki.dat"));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].substr(0, 22), "  15   6**************");
  EXPECT_EQ(results[1].substr(0, 22), "  15   6-99999  23  59");
  for (const auto& line : results) {
    EXPECT_EQ(line.size(), 32u);
    EXPECT_EQ(line.substr(22).find('*'), std::string::npos) << line;
  }
}

TEST(Run, MoreThanTenChannels) {
  std::vector<float> calibration(12, 2.0f);
  std::string dane = "12 1\n";
  for (int i = 0; i < 12; ++i) dane += std::to_string(450 + 25 * i) + " ";
  dane += "\n15 6 2005 12 0 21.0 52.2 1013";
  for (int i = 0; i < 12; ++i) dane += " 1.5 0.01";
  dane += "\n";
  TempDir dir;
  const test::RunResult run = run_files(calibration_file(calibration), dane, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> results = lines(dir.read("wyniki.dat"));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].size(), 22u + 12u * 10u);
}

TEST(Run, SunBelowTheHorizonWarnsBeforeTheReportLines) {
  TempDir dir;
  // 21 March, 06:00 UT at 0 E, 0 N: zenith 91.89 deg, air mass still finite.
  const test::RunResult run = run_files(calibration_file({1.0f}), "1 1\n500\n21 3 2005 6 0 0 0 1013 0.001 0\n", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> out = lines(run.out.substr(banner.size()));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], "The sun is not raised");
  EXPECT_EQ(out[1].substr(0, 26), " Grubosc optyczna aerozolu");
}

} // namespace
} // namespace tirovan
