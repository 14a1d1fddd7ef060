// History rows (merge without repeats, refused lines) and the AOT
// uncertainty budget: hand-derived terms, the WMO band's boundary, and a
// Monte Carlo check that the stated 1-sigma covers the error of a
// retrieval run with erroneous V0, pressure, ozone and zenith.
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/calibration_history.hpp"
#include "analysis/uncertainty.hpp"

namespace tirovan::analysis {
namespace {

TEST(CalibrationHistory, MergeKeepsOneRowPerInstrumentDateHalfDayAndWavelength) {
  const HistoryRow base{"CE318 #1", {2024, 6, 15}, false, 500.0f, 0.61, 0.002, 40, 4.0, "objective"};
  auto with = [&](auto change) {
    HistoryRow r = base;
    change(r);
    return r;
  };
  struct Case {
    const char* name;
    HistoryRow row;
    std::size_t appended;
  };
  const Case cases[] = {
      {"same key, other value", with([](HistoryRow& r) { r.ln_v0 = 0.7; }), 0},
      {"afternoon", with([](HistoryRow& r) { r.afternoon = true; }), 1},
      {"next day", with([](HistoryRow& r) {
         r.date = {2024, 6, 16};
       }),
       1},
      {"other channel", with([](HistoryRow& r) { r.wavelength = 500.5f; }), 1},
      {"other instrument", with([](HistoryRow& r) { r.instrument = "CE318 #2"; }), 1},
  };
  for (const Case& c : cases) {
    std::size_t appended = 9;
    const HistoryRow added[] = {c.row, c.row}; // a repeat within the new rows counts once
    const auto merged = merge_history({base}, added, appended);
    EXPECT_EQ(appended, c.appended) << c.name;
    EXPECT_EQ(merged.size(), 1 + c.appended) << c.name;
    EXPECT_EQ(merged.front().ln_v0, 0.61) << c.name; // the old row stays as it was
  }
  // The text round trip keeps a name with a comma and a quote.
  HistoryRow odd = base;
  odd.instrument = "Cimel, \"north\" roof";
  const HistoryText back = parse_history(history_header() + format_history_row(odd));
  ASSERT_EQ(back.error, "");
  ASSERT_EQ(back.rows.size(), 1u);
  EXPECT_EQ(back.rows[0].instrument, odd.instrument);
  EXPECT_EQ(back.rows[0].ln_v0, 0.61);
}

TEST(CalibrationHistory, RefusedLinesNameTheirLine) {
  const std::string header = history_header();
  struct Case {
    std::string text, error;
  };
  const Case cases[] = {
      {"date,ln_v0\n", "line 1: not a calibration history header"},
      {header + "a,2024-02-30,am,500,0.6,0.002,40,4,objective\n", "line 2: '2024-02-30' is not a date"},
      {header + "a,2024-02-03,noon,500,0.6,0.002,40,4,objective\n", "line 2: half_day 'noon'"},
      {header + "a,2024-02-03,am,500,x,0.002,40,4,objective\n", "line 2: a number field"},
      {header + "a,2024-02-03,am,500,0.6\n", "line 2: 9 comma-separated fields"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_history(c.text).error.rfind(c.error, 0), 0u) << c.text;
}

TEST(AotUncertainty, TermsByHand) {
  // m = 2 at z = 60 deg; 1% in V0, 1 hPa at 1000 hPa, 5% ozone, 0.1 deg.
  const UncertaintyInputs in{2.0, 60.0, 1000.0, 0.3, 0.1435, 0.03};
  const AotUncertainty u = aot_uncertainty(in, {0.01, 1.0, 0.05, 0.1});
  const double geometry = 0.3 * 2.0 * std::sin(std::numbers::pi / 3) * 0.1 * std::numbers::pi / 180; // 9.069e-4
  EXPECT_NEAR(u.calibration, 0.005, 1e-12);
  EXPECT_NEAR(u.rayleigh, 1.435e-4, 1e-12);
  EXPECT_NEAR(u.ozone, 1.5e-3, 1e-12);
  EXPECT_NEAR(u.geometry, geometry, 1e-12);
  EXPECT_NEAR(u.total, std::sqrt(0.005 * 0.005 + 1.435e-4 * 1.435e-4 + 1.5e-3 * 1.5e-3 + geometry * geometry), 1e-12);
  EXPECT_DOUBLE_EQ(wmo_limit(2.0), 0.01);
  EXPECT_DOUBLE_EQ(wmo_limit(1.0), 0.015);
}

// The retrieval written out by hand: signals made with the true V0,
// pressure, ozone and zenith (air mass 1 / cos z, not the code's slope),
// retrieved with values drawn from the stated 1-sigma distributions.
TEST(AotUncertainty, OneSigmaCoversTwoThirdsOfTheErrors) {
  std::mt19937 random(7);
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  struct Case {
    const char* name;
    UncertaintySources sources;
  };
  const Case cases[] = {
      {"calibration dominates", {0.01, 1.0, 0.05, 0.1}},
      {"all comparable", {0.002, 5.0, 0.10, 0.3}},
      {"geometry dominates", {0.0005, 0.5, 0.02, 0.5}},
  };
  for (const Case& c : cases) {
    const int trials = 20000;
    int covered = 0;
    for (int k = 0; k < trials; ++k) {
      const double z = 75.0 * uniform(random), p = 950.0 + 70.0 * uniform(random);
      const double aot = 0.02 + 0.5 * uniform(random), tau_r_per_hpa = 0.24 / 1013.25 * uniform(random);
      const double tau_o3 = 0.04 * uniform(random);
      const double m = 1.0 / std::cos(z * std::numbers::pi / 180);
      const double tau = aot + tau_r_per_hpa * p + tau_o3;
      const double ln_v_over_v0 = -tau * m; // F = 1
      // Erroneous inputs of the retrieval.
      const double ln_v0_err = c.sources.ln_v0 * gauss(random);
      const double p_used = p + c.sources.pressure_hpa * gauss(random);
      const double o3_used = tau_o3 * (1.0 + c.sources.ozone_fraction * gauss(random));
      const double z_used = z + c.sources.zenith_deg * gauss(random);
      const double m_used = 1.0 / std::cos(z_used * std::numbers::pi / 180);
      const double retrieved = (ln_v0_err - ln_v_over_v0) / m_used - tau_r_per_hpa * p_used - o3_used;
      const AotUncertainty u = aot_uncertainty(
          {m_used, z_used, p_used, retrieved + tau_r_per_hpa * p_used + o3_used, tau_r_per_hpa * p_used, o3_used},
          c.sources);
      if (std::abs(retrieved - aot) <= u.total) ++covered;
    }
    const double share = covered / static_cast<double>(trials);
    EXPECT_GT(share, 0.60) << c.name;
    EXPECT_LT(share, 0.80) << c.name;
    std::printf("coverage %-22s %.3f\n", c.name, share);
  }
}

} // namespace
} // namespace tirovan::analysis
