// Calibration over an instrument's life, run as a user runs it: a
// history of half-days made here (drift, a jump, scatter, outliers, cloudy
// gaps) fitted by `calibration`; a reference and a field instrument side by
// side made with the precise Sun (ERFA), Kasten & Young air mass and
// Bodhaine Rayleigh, none of which the transfer uses, calibrated by
// `transfer`; and `langley --history` appending without repeats.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/calendar.hpp"
#include "reference/atmosphere.hpp"
#include "reference/sun.hpp"
#include "tools/run_tools.hpp"

namespace tirovan::test {
namespace {

std::vector<double> last_line_numbers(const std::string& text) {
  std::string body = text;
  while (!body.empty() && body.back() == '\n') body.pop_back();
  std::istringstream line(body.substr(body.rfind('\n') + 1));
  std::vector<double> values;
  for (double v = 0; line >> v;) values.push_back(v);
  return values;
}

std::string lang_dat(const std::vector<double>& wavelength, const std::vector<double>& v0) {
  std::string text = "Test sun photometer #7\n";
  for (int k = 2; k <= 8; ++k) text += "header line " + std::to_string(k) + "\n";
  text += std::to_string(wavelength.size()) + "\n";
  for (const double w : wavelength) text += std::to_string(w) + " ";
  text += "\n";
  for (const double v : v0) text += std::to_string(v) + " ";
  return text + "\n";
}

// --- A two-year life: 440 nm steady, 500 nm losing 2%/yr, 870 nm up 3%
// from the morning of 2025-03-17 (a cleaned filter). ---
constexpr double wavelengths[] = {440, 500, 870};
const std::int64_t life_start = analysis::days_from_civil(2024, 1, 1);
const std::int64_t jump_day = analysis::days_from_civil(2025, 3, 17);

double true_v0(std::size_t channel, double day) {
  switch (channel) {
  case 0: return 1.50;
  case 1: return 1.80 * (1.0 - 0.02 * (day - static_cast<double>(life_start)) / 365.25);
  default: return 1.95 * (day >= static_cast<double>(jump_day) ? 1.03 : 1.0);
  }
}

std::string history_csv() {
  std::mt19937 random(11);
  std::normal_distribution<double> gauss(0.0, 0.003); // 0.3% scatter of a half-day's ln V0
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::string text = "instrument,date,half_day,wavelength_nm,ln_v0,ln_v0_error,points,air_mass_span,method\n";
  const std::int64_t gap_from = analysis::days_from_civil(2024, 11, 20),
                     gap_to = analysis::days_from_civil(2025, 1, 10);
  for (std::int64_t d = life_start; d < life_start + 731; ++d) {
    if (d >= gap_from && d < gap_to) continue; // a cloudy winter
    const bool clear_day = uniform(random) < 0.4 || std::abs(d - jump_day) <= 1;
    for (const bool pm : {false, true}) {
      if (!clear_day || uniform(random) > 0.7) continue;
      const double day = static_cast<double>(d) + (pm ? 0.75 : 0.25);
      const analysis::CivilDate date = analysis::civil_from_days(d);
      for (std::size_t i = 0; i < std::size(wavelengths); ++i) {
        const double haze = uniform(random) < 0.03 ? -0.02 : 0.0; // a hazy half-day passed the fit
        char row[200];
        (void)std::snprintf(row, sizeof row, "Test sun photometer #7,%04d-%02d-%02d,%s,%g,%.6f,0.002,40,4,objective\n",
                            static_cast<int>(date.year), static_cast<int>(date.month), static_cast<int>(date.day),
                            pm ? "pm" : "am", wavelengths[i], std::log(true_v0(i, day)) + gauss(random) + haze);
        text += row;
      }
    }
  }
  return text;
}

TEST(Calibration, LifeHistoryGivesV0AtADateAndFindsTheJumpWithoutSmearingIt) {
  TempDir dir;
  dir.write("history.csv", history_csv());
  dir.write("template.dat", lang_dat({440, 500, 870}, {1, 1, 1}));
  struct Case {
    const char* date;
    const char* model;
    int status;
  };
  const Case cases[] = {
      {"2024-07-01", "mean", 0},  {"2025-03-12", "mean", 0}, // five days before the jump
      {"2025-03-20", "mean", 0},                             // three days after it
      {"2025-12-01", "trend", 0}, {"2024-06-10", "trend", 0},
  };
  for (const Case& c : cases) {
    const ToolsRun run = run_tools(dir, std::string("calibration history.csv --date ") + c.date + " --model " +
                                            c.model + " --template template.dat -o out.dat --plot life.svg");
    ASSERT_EQ(run.status, c.status) << c.date << run.err;
    const std::vector<double> v0 = last_line_numbers(dir.read("out.dat"));
    ASSERT_EQ(v0.size(), 3u) << c.date;
    int y = 0, m = 0, d = 0;
    (void)std::sscanf(c.date, "%d-%d-%d", &y, &m, &d);
    const double day = static_cast<double>(analysis::days_from_civil(y, m, d)) + 0.5;
    for (std::size_t i = 0; i < 3; ++i) {
      const double error = v0[i] / true_v0(i, day) - 1.0;
      EXPECT_LT(std::abs(error), 0.003) << c.date << " " << c.model << " channel " << wavelengths[i];
      std::printf("%s %-5s %4g nm: V0 error %+.3f%%\n", c.date, c.model, wavelengths[i], 100.0 * error);
    }
    // One jump, in 870 nm, dated within a day.
    const std::size_t at = run.out.find("870 nm: jump of ");
    ASSERT_NE(at, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("jump", at + 10), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(": jump"), at + 6) << run.out; // the first jump line is 870 nm's
    const std::size_t date_at = run.out.find(" at ", at) + 4;
    int jy = 0, jm = 0, jd = 0;
    ASSERT_EQ(std::sscanf(run.out.c_str() + date_at, "%d-%d-%d", &jy, &jm, &jd), 3);
    EXPECT_LE(std::abs(analysis::days_from_civil(jy, jm, jd) - jump_day), 1) << run.out;
    EXPECT_NE(dir.read("out.dat").find("ln V0 uncertainty: "), std::string::npos);
  }
  // No half-day within the window, in the cloudy winter: nothing to write.
  EXPECT_EQ(
      run_tools(dir, "calibration history.csv --date 2024-12-25 --window 10 --template template.dat -o x.dat").status,
      2);
}

// --- Side by side: a reference at 440/500/675/870 nm and a field
// instrument at 1 nm longer wavelengths, 15 s later each minute. ---
constexpr double lon = 21.0, lat = 52.2, pressure = 1005.0;
constexpr double ref_wl[] = {440, 500, 675, 870}, field_wl[] = {441, 501, 676, 871};
constexpr double ref_v0[] = {1.52, 1.85, 2.10, 1.96}, field_v0[] = {0.81, 1.23, 0.95, 2.41};

double ozone_od(double nm) { return 0.3 * 0.11 * std::exp(-std::pow((nm - 600.0) / 80.0, 2)); } // 300 DU, Chappuis band
double aerosol(double nm, double t) {
  const double wobble = t > 10.0 && t < 12.0 ? 0.05 * std::sin(2 * std::numbers::pi * t * 10.0) : 0.0; // passing plumes
  return (0.15 + wobble) * std::pow(nm / 500.0, -1.4);
}

std::string dane_dat(const double* wl, const double* v0, double offset_min, bool field, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, 0.002);
  std::uniform_real_distribution<double> cloud(0.85, 1.0);
  std::vector<std::string> rows;
  for (int k = 0; k <= 16 * 60; ++k) {
    const double minutes = 3 * 60 + k + offset_min, t = minutes / 60.0;
    const auto sun = reference::sun_position({2024, 6, 15, t}, lon, lat, 100, pressure, 15);
    if (sun.zenith_apparent_deg > 82) continue;
    const double m = reference::kasten_young_air_mass(sun.zenith_apparent_deg);
    const double m_o3 = reference::ozone_air_mass(sun.zenith_apparent_deg);
    // The field instrument sees the passing plumes through its own field of view.
    const double seen = field && t > 10.0 && t < 12.0 ? cloud(random) : 1.0;
    char row[400];
    int n = std::snprintf(row, sizeof row, "15 6 2024 %d %.2f %g %g %g", static_cast<int>(t),
                          minutes - 60 * std::floor(t), lon, lat, pressure);
    for (std::size_t i = 0; i < 4; ++i) {
      const double tau = aerosol(wl[i], t) + reference::bodhaine_rayleigh(wl[i], pressure);
      const double v = v0[i] * sun.factor * std::exp(-tau * m - ozone_od(wl[i]) * m_o3) * seen * (1 + noise(random));
      n += std::snprintf(row + n, sizeof row - static_cast<std::size_t>(n), " %.6f 0", v);
    }
    rows.emplace_back(row);
  }
  std::string text = "4 " + std::to_string(rows.size()) + "\n";
  for (std::size_t i = 0; i < 4; ++i) text += std::to_string(wl[i]) + " ";
  text += "\n";
  for (const std::string& r : rows) text += r + "\n";
  return text;
}

TEST(Transfer, RecoversTheFieldCalibrationAcrossAOneNanometreMismatch) {
  TempDir dir;
  ASSERT_EQ(std::system(("mkdir '" + dir.file("ref") + "' '" + dir.file("field") + "'").c_str()), 0);
  dir.write("ref/lang.dat", lang_dat({440, 500, 675, 870}, {ref_v0[0], ref_v0[1], ref_v0[2], ref_v0[3]}));
  dir.write("ref/dane.dat", dane_dat(ref_wl, ref_v0, 0.0, false, 3));
  dir.write("field/lang.dat", lang_dat({441, 501, 676, 871}, {1, 1, 1, 1}));
  dir.write("field/dane.dat", dane_dat(field_wl, field_v0, 0.25, true, 4));
  struct Case {
    const char* options;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"", 0, ""},
      {"--tolerance 0.5", 2, "no field channel has a reference channel"},
      {"--min-pairs 5000", 2, "fewer than 5000 stable pairs"},
      {"--window 0.2", 2, "0 records paired in time"}, // 15 s apart, 12 s allowed
  };
  for (const Case& c : cases) {
    const ToolsRun run = run_tools(dir, std::string("transfer ref field -o field-lang.dat ") + c.options);
    ASSERT_EQ(run.status, c.status) << c.options << run.out << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    if (c.status != 0) continue;
    const std::vector<double> v0 = last_line_numbers(dir.read("field-lang.dat"));
    ASSERT_EQ(v0.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
      const double error = v0[i] / field_v0[i] - 1.0;
      EXPECT_LT(std::abs(error), 0.002) << field_wl[i] << " nm\n" << run.out;
      std::printf("transfer %g nm: V0 error %+.3f%%\n", field_wl[i], 100.0 * error);
    }
  }
}

TEST(Transfer, LangleyHistoryAppendsOnceAndReportStatesTheUncertainty) {
  TempDir dir;
  dir.write("lang.dat", lang_dat({440, 500, 675, 870}, {ref_v0[0], ref_v0[1], ref_v0[2], ref_v0[3]}));
  dir.write("dane.dat", dane_dat(ref_wl, ref_v0, 0.0, false, 5));
  const ToolsRun first = run_tools(dir, "langley . --history h.csv -o new.dat");
  ASSERT_LE(first.status, 1) << first.err;
  const std::string once = dir.read("h.csv");
  const auto rows_in = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n') - 1; };
  EXPECT_EQ(rows_in(once), 8) << first.out; // 4 channels, morning and afternoon
  EXPECT_NE(first.err.find("8 half-day channel rows added"), std::string::npos) << first.err;
  const ToolsRun again = run_tools(dir, "langley . --history h.csv -n");
  EXPECT_NE(again.err.find("0 half-day channel rows added"), std::string::npos) << again.err;
  EXPECT_EQ(dir.read("h.csv"), once);
  EXPECT_NE(dir.read("new.dat").find("\nln V0 uncertainty: "), std::string::npos);

  // report --uncertainty: lang.dat here has no uncertainty line.
  EXPECT_EQ(run_tools(dir, "report . --uncertainty -o r.csv").status, 2);
  dir.write("lang.dat", dir.read("new.dat")); // langley's calibration states its uncertainty
  EXPECT_EQ(run_tools(dir, "report . --uncertainty -o r.csv").status, 0);
  ASSERT_EQ(run_tools(dir, "report . --uncertainty --v0-uncertainty 0.02 -o r.csv").status, 0);
  std::istringstream csv(dir.read("r.csv"));
  std::string header, row;
  std::getline(csv, header);
  EXPECT_NE(header.find(",aot_440nm_unc,aot_500nm_unc,aot_675nm_unc,aot_870nm_unc,above_wmo_limit"), std::string::npos)
      << header;
  std::size_t rows = 0, above = 0;
  while (std::getline(csv, row)) {
    std::vector<std::string> f;
    std::stringstream fields(row);
    for (std::string x; std::getline(fields, x, ',');) f.push_back(x);
    const double m = std::stod(f[3]);
    double largest = 0;
    for (std::size_t k = f.size() - 5; k < f.size() - 1; ++k) {
      EXPECT_GE(std::stod(f[k]), 0.02 / m - 1e-6); // the calibration term alone
      largest = std::max(largest, std::stod(f[k]));
    }
    EXPECT_EQ(f.back(), largest > 0.005 + 0.010 / m ? "1" : "0") << row;
    ++rows;
    above += f.back() == "1";
  }
  EXPECT_GT(rows, 500u);
  EXPECT_GT(above, 0u);
  EXPECT_LT(above, rows);
}

} // namespace
} // namespace tirovan::test
