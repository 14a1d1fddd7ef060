// Langley fits on tiny hand-computed data sets: the line and its weights,
// and the boundary of every range, rejection and acceptance rule.
#include <cmath>
#include <cstddef>
#include <random>
#include <utility>
#include <string>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/langley.hpp"

namespace tirovan::analysis {
namespace {

// Points on ln V0 - tau m plus an offset per point.
std::vector<LangleyPoint> line_plus(double ln_v0, double tau, const std::vector<double>& m,
                                    const std::vector<double>& offset) {
  std::vector<LangleyPoint> p;
  for (std::size_t i = 0; i < m.size(); ++i) p.push_back({m[i], ln_v0 - tau * m[i] + offset[i]});
  return p;
}

TEST(Langley, WeightsOfTheTwoMethods) {
  // An exact line, with the air-mass range [2, 6] inclusive at both ends.
  // No rejection: residuals of rounding would be cut against an sd of rounding.
  for (LangleyMethod method : {LangleyMethod::objective, LangleyMethod::herman}) {
    const LangleyFit fit = fit_langley(line_plus(5.0, 0.2, {1.999, 2, 4, 6, 6.001}, {0, 0, 0, 0, 0}),
                                       {.method = method, .rejection_passes = 0, .min_points = 3});
    using enum PointRole;
    EXPECT_EQ(fit.roles, (std::vector<PointRole>{outside_range, used, used, used, outside_range}));
    EXPECT_EQ(fit.verdict, LangleyVerdict::accepted);
    EXPECT_NEAR(fit.ln_v0, 5.0, 1e-12);
    EXPECT_NEAR(fit.tau, 0.2, 1e-12);
  }
  // (m, y) = (1, 0), (2, 0), (4, 3), no rejection. Unweighted: mean m 7/3,
  // Smm 14/3, Smy 5: slope 15/14, intercept 1 - 15/14 * 7/3 = -3/2.
  // Weights 1/m^2 (1, 1/4, 1/16; W = 21/16): mean m 4/3, mean y 1/7,
  // Smm 2/3, Smy 1/2: slope 3/4, intercept 1/7 - 1 = -6/7; the same as
  // y/m = (0, 0, 3/4) on 1/m = (1, 1/2, 1/4) unweighted. (Weights 1/m give
  // -15/13, weights 1 give -3/2.)
  const std::vector<LangleyPoint> p = {{1, 0}, {2, 0}, {4, 3}};
  LangleyOptions o{.min_air_mass = 1, .max_air_mass = 4, .rejection_passes = 0, .min_points = 3};
  LangleyFit fit = fit_langley(p, o);
  EXPECT_NEAR(fit.ln_v0, -1.5, 1e-12);
  EXPECT_NEAR(fit.tau, -15.0 / 14.0, 1e-12);
  o.method = LangleyMethod::herman;
  fit = fit_langley(p, o);
  EXPECT_NEAR(fit.ln_v0, -6.0 / 7.0, 1e-12);
  EXPECT_NEAR(fit.tau, -0.75, 1e-12);
}

// Residuals (-2, 0, 3, 1, -1, -1) / 256 about ln V = 5 - 0.25 m at
// m = 2, 2.5, ..., 4.5 sum to zero and are orthogonal to m, so the fit is
// the line itself: sum r^2 = 16 / 256^2, residual sd = sqrt(16 / 4) / 256 =
// 2 / 256, and the largest residual is exactly 1.5 sd. All values are exact
// in binary.
std::vector<LangleyPoint> at_the_limit() {
  return line_plus(5.0, 0.25, {2, 2.5, 3, 3.5, 4, 4.5}, {-2. / 256, 0, 3. / 256, 1. / 256, -1. / 256, -1. / 256});
}

TEST(Langley, RejectionAndAcceptanceBoundaries) {
  struct Row {
    const char* name;
    double rejection_sd;
    std::size_t min_points;
    double min_surviving_fraction, max_residual_sd;
    std::size_t unreadable; // points in range without a finite ln V: rejected
    LangleyVerdict verdict;
    std::size_t used;
  };
  using enum LangleyVerdict;
  const double sd = 2.0 / 256, below_1_5 = std::nextafter(1.5, 0.0);
  const double above_sd = std::nextafter(sd, 1.0), above_5_8 = std::nextafter(5.0 / 8, 1.0);
  const std::vector<Row> rows = {
      // A residual of exactly rejection_sd sd stays: only beyond it is rejected.
      {"residual at rejection_sd", 1.5, 5, 0, 1, 0, accepted, 6},
      {"rejection_sd just below", below_1_5, 5, 0, 1, 0, accepted, 5},
      {"exactly min_points", 1.5, 6, 0, 1, 0, accepted, 6},
      {"one fewer in range", 1.5, 7, 0, 1, 0, too_few_in_range, 6},
      {"one fewer survived", 1.4, 6, 0, 1, 0, too_few_survived, 5},
      // 5 of 8 in range survive: one rejected, two unreadable.
      {"survivors at the fraction", 1.4, 3, 5.0 / 8, 1, 2, accepted, 5},
      {"survivors below the fraction", 1.4, 3, above_5_8, 1, 2, too_few_survived, 5},
      // Accepted only when the residual sd is below the limit.
      {"residual sd at the limit", 1.5, 5, 0, sd, 0, residual_too_large, 6},
      {"residual sd below the limit", 1.5, 5, 0, above_sd, 0, accepted, 6},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<LangleyPoint> points = at_the_limit();
    points.insert(points.end(), row.unreadable, {3.0, std::nan("")});
    const LangleyFit fit = fit_langley(points, {.rejection_sd = row.rejection_sd,
                                                .rejection_passes = 1,
                                                .min_surviving_fraction = row.min_surviving_fraction,
                                                .min_points = row.min_points,
                                                .max_residual_sd = row.max_residual_sd,
                                                .min_coverage_span = 2.5});
    EXPECT_EQ(fit.verdict, row.verdict);
    EXPECT_EQ(fit.used, row.used);
  }
  // The default limit: residuals (-3, 1, 4, 0, -1, -1) / 256 have an sd of
  // sqrt(28 / 4) / 256, and the 4 lies 1.512 sd off: it goes, the 1.5 sd
  // residual above stays.
  const LangleyOptions defaults{.min_points = 5, .min_coverage_span = 2.5};
  EXPECT_EQ(fit_langley(at_the_limit(), defaults).used, 6U);
  const LangleyFit fit = fit_langley(
      line_plus(5.0, 0.25, {2, 2.5, 3, 3.5, 4, 4.5}, {-3. / 256, 1. / 256, 4. / 256, 0, -1. / 256, -1. / 256}),
      defaults);
  EXPECT_EQ(fit.roles[2], PointRole::rejected);
}

// Outliers of 0.5 at m = 3.25 and 0.05 at m = 4.75 among eight points at
// m = 2, 2.5, ..., 5.5 off ln V = 5 - 0.25 m by (+,-,-,+,+,-,-,+) / 256.
// Pass 1: the large outlier inflates the sd so that only it exceeds 1.5 sd
// (2.63 sd; the small one 0.08 sd). Pass 2: the small one stands at 2.3 sd
// and goes. Pass 3 drops nothing (every residual 0.87 sd), and the line is
// exact again: the alternating offsets sum to zero and are orthogonal to m.
TEST(Langley, RejectionPasses) {
  const std::vector<double> m = {2, 2.5, 3, 3.5, 4, 4.5, 5, 5.5, 3.25, 4.75};
  constexpr double e = 1.0 / 256;
  const auto points = line_plus(5.0, 0.25, m, {e, -e, -e, e, e, -e, -e, e, -0.5, -0.05});
  for (int passes : {0, 1, 2, 3}) {
    SCOPED_TRACE(passes);
    const LangleyFit fit = fit_langley(
        points, {.rejection_passes = passes, .min_points = 3, .min_coverage_span = 3, .max_rising_fraction = 1});
    EXPECT_EQ(fit.roles[8], passes >= 1 ? PointRole::rejected : PointRole::used);
    EXPECT_EQ(fit.roles[9], passes >= 2 ? PointRole::rejected : PointRole::used);
    if (passes >= 2) {
      EXPECT_EQ(fit.verdict, LangleyVerdict::accepted); // sd e sqrt(8 / 6) = 0.0045
      EXPECT_NEAR(fit.ln_v0, 5.0, 1e-12);
      EXPECT_NEAR(fit.tau, 0.25, 1e-12);
    }
  }
}

// The quality tests of a half-day, each at its boundary: coverage of the
// air-mass range, the sign of the slope, and rising steps of ln V.
// Steps of 21 points at m = 2, 2.2, ..., 6: ten of -0.01, nine of -0.03
// and one rise r (the 11th). Median step -0.01, median absolute deviation
// 0.01 for either r below: sd_d = 0.014826, a rise beyond 3 sd_d =
// 0.044478 counts, and one rising step in 20 is 5 %.
std::vector<LangleyPoint> with_rise(double rise) {
  std::vector<LangleyPoint> p = {{2.0, 1.0}};
  for (int k = 1; k <= 20; ++k) {
    const double step = k == 11 ? rise : (k % 2 == 0 ? -0.01 : -0.03);
    p.push_back({2.0 + 0.2 * k, p.back().ln_signal + step});
  }
  return p;
}

TEST(Langley, QualityTestBoundaries) {
  struct Row {
    const char* name;
    std::vector<LangleyPoint> points;
    double min_coverage_span, max_rising_fraction;
    LangleyVerdict verdict;
    const char* reason;
  };
  using enum LangleyVerdict;
  const std::vector<LangleyPoint> flat = line_plus(1.0, 0.0, {2, 3, 4, 5, 6}, {0, 0.01, 0, 0.01, 0});
  const std::vector<Row> rows = {
      {"span exactly the coverage", at_the_limit(), 2.5, 0.02, accepted, "accepted"},
      {"span just short of it", at_the_limit(), std::nextafter(2.5, 3.0), 0.02, poor_coverage,
       "span 2.5 air masses, at least 2.5"},
      {"slope exactly 0", flat, 1, 0.02, slope_not_negative, "does not fall"},
      {"rising line", line_plus(1.0, -0.01, {2, 3, 4, 5, 6}, {0, 0, 0, 0, 0.001}), 1, 0.02, slope_not_negative,
       "tau -0.01"},
      {"rise within 3 sd", with_rise(0.044), 1, 0.02, accepted, "accepted"},
      {"rise beyond 3 sd, 1 of 20 steps allowed", with_rise(0.045), 1, 0.05, accepted, "accepted"},
      {"rise beyond 3 sd, 1 of 20 steps too many", with_rise(0.045), 1, 0.049, cloud_passage,
       "rises with air mass in 1 of 20 steps"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const LangleyOptions options{.rejection_passes = 0,
                                 .min_points = 3,
                                 .max_residual_sd = 10,
                                 .min_coverage_span = row.min_coverage_span,
                                 .max_rising_fraction = row.max_rising_fraction};
    const LangleyFit fit = fit_langley(row.points, options);
    EXPECT_EQ(fit.verdict, row.verdict);
    EXPECT_NE(verdict_text(fit, options).find(row.reason), std::string::npos) << verdict_text(fit, options);
  }
  // UV channels: air mass 1.5 to 3, sd below 0.009, a span of 1 enough.
  const LangleyOptions uv = uv_langley_options({});
  EXPECT_EQ(uv.min_air_mass, 1.5);
  EXPECT_EQ(uv.max_air_mass, 3.0);
  EXPECT_EQ(uv.max_residual_sd, 0.009);
  EXPECT_EQ(uv.min_coverage_span, 1.0);
  EXPECT_EQ(uv.rejection_passes, 1);
}

// Two accepted half-days disagree when their ln V0 differ by more than
// max_disagreement combined standard errors: 15/1024 apart with errors 3/1024
// and 4/1024 (combined 5/1024, all exact) is exactly 3.
TEST(Langley, HalfDaysDisagreeBeyondThreeCombinedErrors) {
  std::vector<LangleyFit> fits(3);
  for (LangleyFit& f : fits) f.verdict = LangleyVerdict::accepted;
  fits[0].ln_v0 = 0.5, fits[0].ln_v0_error = 3.0 / 1024;
  fits[1].ln_v0 = 0.5 + 15.0 / 1024, fits[1].ln_v0_error = 4.0 / 1024;
  fits[2].verdict = LangleyVerdict::residual_too_large, fits[2].ln_v0 = 9.0;
  EXPECT_FALSE(half_day_disagreement(fits, 3.0));
  fits[1].ln_v0 = std::nextafter(fits[1].ln_v0, 1.0);
  const auto d = half_day_disagreement(fits, 3.0);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->first, 0U);
  EXPECT_EQ(d->second, 1U);
  EXPECT_NEAR(d->difference, 15.0 / 1024, 1e-15);
  EXPECT_EQ(d->combined_error, 5.0 / 1024);
}

// The stated standard error of a single half-day's ln V0 is honest: over
// 200 synthetic mornings (120 points at air mass 2 to 6, Gaussian noise
// of 0.002 in ln V) it matches the scatter of the fitted ln V0 within a
// factor 1.5, with the default single rejection pass for both methods, and
// after three passes.
TEST(Langley, StandardErrorMatchesTheScatterOfRepeatedHalfDays) {
  for (const auto& [method, passes] : {std::pair{LangleyMethod::objective, 1}, std::pair{LangleyMethod::herman, 1},
                                       std::pair{LangleyMethod::objective, 3}}) {
    SCOPED_TRACE(std::string(method_name(method)) + ", passes " + std::to_string(passes));
    std::mt19937 random(42);
    std::normal_distribution<double> noise(0.0, 0.002);
    std::vector<double> ln_v0;
    double stated = 0;
    for (int draw = 0; draw < 200; ++draw) {
      std::vector<LangleyPoint> p;
      for (int k = 0; k < 120; ++k) {
        const double m = 2.0 + 4.0 * k / 119.0;
        p.push_back({m, 0.7 - 0.2 * m + noise(random)});
      }
      const LangleyFit fit = fit_langley(p, {.method = method, .rejection_passes = passes});
      ASSERT_EQ(fit.verdict, LangleyVerdict::accepted) << verdict_text(fit, {});
      ln_v0.push_back(fit.ln_v0);
      stated += fit.ln_v0_error / 200.0;
    }
    double mean = 0, ss = 0;
    for (double x : ln_v0) mean += x / 200.0;
    for (double x : ln_v0) ss += (x - mean) * (x - mean);
    const double scatter = std::sqrt(ss / 199.0);
    EXPECT_LT(stated / scatter, 1.5) << "stated " << stated << ", scatter " << scatter;
    EXPECT_GT(stated / scatter, 1.0 / 1.5) << "stated " << stated << ", scatter " << scatter;
  }
}

TEST(Langley, CombineHalfDays) {
  std::vector<LangleyFit> fits(4);
  const double ln_v0[] = {1, 2, 100, 4}, tau[] = {0.1, 0.2, 9, 0.6};
  for (std::size_t i = 0; i < fits.size(); ++i) {
    fits[i].verdict = i == 2 ? LangleyVerdict::residual_too_large : LangleyVerdict::accepted;
    fits[i].ln_v0 = ln_v0[i], fits[i].tau = tau[i], fits[i].ln_v0_error = 0.01 * static_cast<double>(i + 1);
  }
  // Accepted 1, 2, 4: mean 7/3, deviations -4/3, -1/3, 5/3, sum of squares
  // 14/3, sample sd sqrt(14/3 / 2) = sqrt(7/3).
  ChannelCalibration c = combine_half_days(fits);
  EXPECT_EQ(c.half_days, 3U);
  EXPECT_NEAR(c.ln_v0, 7.0 / 3, 1e-12);
  EXPECT_NEAR(c.ln_v0_uncertainty, std::sqrt(7.0 / 3), 1e-12);
  EXPECT_NEAR(c.tau, 0.3, 1e-12);
  // A single half-day: its intercept's standard error.
  c = combine_half_days(std::span(fits).subspan(1, 2));
  EXPECT_EQ(c.half_days, 1U);
  EXPECT_EQ(c.ln_v0, 2.0);
  EXPECT_EQ(c.ln_v0_uncertainty, 0.02);
  EXPECT_EQ(combine_half_days(std::span(fits).subspan(2, 1)).half_days, 0U);
}

} // namespace
} // namespace tirovan::analysis
