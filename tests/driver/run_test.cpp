// The built program on small input files: the bundled example, the layout
// of the console report and the results file, and the state kept from one
// record to the next.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/retrieval.hpp"
#include "runtime/units.hpp"
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

// The lines of one measurement of the bundled example (440, 500, 675, 870
// and 1020 nm): each channel outside the ozone table gets its two warnings
// right before its report line. Values are pinned by the golden files.
TEST(Run, BundledExampleGroupsLinesPerMeasurement) {
  TempDir dir;
  for (const char* name : {"lang.dat", "dane.dat"}) {
    std::filesystem::copy_file(std::string(TIROVAN_EXAMPLES) + "/" + name, dir.file(name));
  }
  const test::RunResult run = run_tirovan(dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run.out.substr(0, banner.size()), banner);
  const std::vector<std::string> out = lines(run.out.substr(banner.size()));
  const std::vector<std::string> results = lines(dir.read("wyniki.dat"));
  ASSERT_FALSE(results.empty());
  ASSERT_EQ(out.size(), results.size() * 11u);
  for (std::size_t k = 0; k < results.size(); ++k) {
    const std::string* m = &out[k * 11];
    EXPECT_EQ(m[0], " Dlugosc fali mniejsza od 445 nm");
    EXPECT_EQ(m[1], " przyjeto grubosc optyczna ozonu rowna O");
    for (const std::size_t report : {2u, 3u, 4u, 7u, 10u}) EXPECT_GT(reported(m[report]), 0.0);
    for (const std::size_t warning : {5u, 8u}) {
      EXPECT_EQ(m[warning], " Dlugosc fali wieksza od 790nm");
      EXPECT_EQ(m[warning + 1], " przyjeto grubosc optyczna ozonu rowna O");
    }
    EXPECT_EQ(results[k].size(), 72u);
  }
}

// A few retrieval values to the bit (the console shows seven digits, the
// golden files cannot tell one ULP): zenith, air mass, distance factor and
// AOT of one channel. They agree with the double-precision recomputation
// of golden_test.cpp to within 1e-6.
TEST(Retrieval, SinglePrecisionValuesBitExact) {
  struct Case {
    std::int32_t day, month;
    float hour, minute, lon, lat, pressure, wavelength, calibration, signal;
    float zenith, air_mass, factor, aot;
  };
  const Case cases[] = {
      {21, 6, 10, 0, 8, 50, 1005, 500, 1.8472f, 0.41051f - 0.0012f, //
       0x1.fc5bc8p+4f, 0x1.2ced94p+0f, 0x1.efcd86p-1f, 0x1.1ac3d4p+0f},
      {10, 1, 13, 20, -58.4f, -35, 1016, 555, 1.9934f, 0.6f, //
       0x1.2af4p+5f, 0x1.41db3p+0f, 0x1.08bcd8p+0f, 0x1.b95a38p-1f},
      {29, 2, 12, 0, 0, 0, 1013, 870, 1.9561f, 1.2f, //
       0x1.048efp+3f, 0x1.028524p+0f, 0x1.04f5d8p+0f, 0x1.f3c88p-2f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.day << "." << c.month << " " << c.wavelength << " nm");
    driver::Measurement m;
    m.day = c.day;
    m.month = c.month;
    m.hour = c.hour;
    m.minute = c.minute;
    m.lon = c.lon;
    m.lat = c.lat;
    m.pressure = c.pressure;
    ASSERT_FALSE(driver::locate_sun(m).stop);
    const driver::ChannelResult result = driver::channel_aot(m, 0, c.wavelength, c.calibration, c.signal);
    ASSERT_FALSE(result.stop);
    EXPECT_EQ(result.ozone_table, c.wavelength > 790 ? OzoneTable::above : OzoneTable::inside);
    const float aot = result.aot;
    EXPECT_EQ(m.zenith, c.zenith) << std::hexfloat << m.zenith;
    EXPECT_EQ(m.air_mass, c.air_mass) << std::hexfloat << m.air_mass;
    EXPECT_EQ(m.factor, c.factor) << std::hexfloat << m.factor;
    EXPECT_EQ(aot, c.aot) << std::hexfloat << aot;
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
