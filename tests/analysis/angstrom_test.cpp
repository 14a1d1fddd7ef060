// Angstrom exponent and AOT interpolation against AOT sets of known truth.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/angstrom.hpp"

namespace tirovan::analysis {
namespace {

struct PowerLaw {
  double alpha, beta; // AOT = beta * (lambda [um])^-alpha
  std::vector<float> wavelengths;
  std::vector<std::size_t> fitted; // channels within 440-870 nm
};

std::vector<float> aot_of(const PowerLaw& law) {
  std::vector<float> aot;
  for (const float w : law.wavelengths)
    aot.push_back(static_cast<float>(law.beta * std::pow(static_cast<double>(w) / 1000.0, -law.alpha)));
  return aot;
}

TEST(AngstromFit, RecoversExactPowerLaws) {
  const std::vector<PowerLaw> cases = {
      {1.4, 0.10, {440, 500, 675, 870}, {0, 1, 2, 3}},
      {0.0, 0.25, {440, 675, 870}, {0, 1, 2}},
      {-0.4, 0.05, {440, 870}, {0, 1}},                                      // coarse dust: AOT grows with lambda
      {2.1, 0.02, {340, 380, 440, 500, 675, 870, 1020, 1640}, {2, 3, 4, 5}}, // channels outside the window left out
  };
  for (const PowerLaw& law : cases) {
    SCOPED_TRACE(law.alpha);
    const std::vector<float> aot = aot_of(law);
    const AngstromFit fit = fit_angstrom(law.wavelengths, aot);
    // The AOT are rounded to float: a relative 6e-8 in each.
    EXPECT_NEAR(fit.alpha, law.alpha, 1e-6);
    EXPECT_NEAR(fit.beta / law.beta, 1.0, 1e-6);
    EXPECT_EQ(fit.channels, law.fitted);
    std::size_t used = 0;
    EXPECT_EQ(AngstromWindow(law.wavelengths).alpha(aot, nullptr, &used), fit.alpha);
    EXPECT_EQ(used, law.fitted.size());
  }
}

TEST(AngstromFit, HandComputedAotThatIsNoPowerLaw) {
  // Three channels equally spaced in ln lambda (500 e^0, 500 e^0.2, 500 e^0.4
  // nm) with AOT 0.3, 0.2, 0.15. With x symmetric about its mean the middle
  // point drops out of the slope:
  //   alpha = -(ln 0.15 - ln 0.3) / 0.4 = ln 2 / 0.4 = 1.7328679514
  //   ln beta = mean ln AOT + alpha * mean x = ln(0.009) / 3 + alpha * (ln 0.5 + 0.2)
  //   beta = 0.0885014941
  // A 675 nm channel with negative AOT and a 1020 nm channel outside the
  // window do not enter.
  const std::vector<float> wavelengths = {610.701379f, 1020, 500, 675, 745.912349f};
  const std::vector<float> aot = {0.2f, 0.05f, 0.3f, -0.01f, 0.15f};
  const AngstromFit fit = fit_angstrom(wavelengths, aot);
  EXPECT_NEAR(fit.alpha, 1.7328679514, 2e-7);
  EXPECT_NEAR(fit.beta, 0.0885014941, 2e-8);
  EXPECT_EQ(fit.channels, (std::vector<std::size_t>{0, 2, 4}));
}

// The 440-870 nm window includes its bounds; one row per bound.
TEST(AngstromFit, WindowBounds) {
  struct Row {
    float edge_nm;
    bool fitted;
  };
  for (const Row row : {Row{440, true}, Row{870, true}, Row{439.9f, false}, Row{870.1f, false}}) {
    SCOPED_TRACE(row.edge_nm);
    const std::vector<float> wavelengths = {row.edge_nm, 500, 675}, aot = {0.3f, 0.2f, 0.1f};
    const auto expected = row.fitted ? std::vector<std::size_t>{0, 1, 2} : std::vector<std::size_t>{1, 2};
    EXPECT_EQ(fit_angstrom(wavelengths, aot).channels, expected);
    EXPECT_EQ(AngstromWindow(wavelengths).channels(), expected);
  }
}

// Nominal channels: within the tolerance of the window they count; a
// tolerance of 0 is the bare window.
TEST(AngstromFit, ToleranceOfTheNominalWindow) {
  struct Row {
    float edge_nm;
    double tolerance_nm;
    bool fitted;
  };
  for (const Row row : {Row{435, 5, true}, Row{875, 5, true}, Row{434.9f, 5, false}, Row{875.1f, 5, false},
                        Row{439.4f, 0, false}, Row{428, 12, true}}) {
    SCOPED_TRACE(row.edge_nm);
    const std::vector<float> wavelengths = {row.edge_nm, 500, 675};
    const auto expected = row.fitted ? std::vector<std::size_t>{0, 1, 2} : std::vector<std::size_t>{1, 2};
    EXPECT_EQ(angstrom_440_870(wavelengths, row.tolerance_nm).channels(), expected);
  }
}

// An AERONET level-2 row with its exact filter wavelengths: AOD 0.306553,
// 0.248363, 0.135716, 0.084788 at 439.4, 498.9, 672.7, 867.6 nm; AERONET
// gives the 440-870 nm exponent 1.912505.
TEST(AngstromFit, AeronetRowOnFilterWavelengths) {
  const std::vector<float> wavelengths = {439.4f, 498.9f, 672.7f, 867.6f};
  const std::vector<float> aot = {0.306553f, 0.248363f, 0.135716f, 0.084788f};
  std::size_t used = 0;
  EXPECT_NEAR(angstrom_440_870(wavelengths).alpha(aot, nullptr, &used), 1.912505, 0.002);
  EXPECT_EQ(used, 4u);
}

TEST(AngstromFit, NeedsTwoDistinctWavelengths) {
  EXPECT_TRUE(std::isnan(fit_angstrom(std::vector<float>{500}, std::vector<float>{0.1f}).alpha));
  EXPECT_TRUE(std::isnan(fit_angstrom(std::vector<float>{500, 500}, std::vector<float>{0.1f, 0.2f}).alpha));
  EXPECT_TRUE(std::isnan(fit_angstrom(std::vector<float>{440, 870}, std::vector<float>{0.1f, 0.0f}).alpha));
}

TEST(AotInterpolation, At550And500) {
  struct Case {
    const char* name;
    std::vector<float> wavelengths, aot;
    double target, expected; // NaN: not available
  };
  const double nan = not_computed;
  const std::vector<Case> cases = {
      // Power law alpha 1.3, beta 0.08: exact between any two channels.
      {"power law",
       {440, 675},
       {static_cast<float>(0.08 * std::pow(0.44, -1.3)), static_cast<float>(0.08 * std::pow(0.675, -1.3))},
       550,
       0.08 * std::pow(0.55, -1.3)},
      // Nearest channels 500 and 675, listed out of order, AOT no power law:
      // alpha12 = -ln(0.12 / 0.2) / ln(675 / 500) = 1.70215864, AOT = 0.2 (550 / 500)^-alpha12.
      {"nearest pair", {675, 380, 1020, 500}, {0.12f, 0.5f, 0.01f, 0.2f}, 550, 0.170048607},
      {"exact channel", {440, 500, 675}, {0.3f, 0.25f, 0.2f}, 500, 0.25},
      {"exact channel, negative AOT", {440, 500}, {0.3f, -0.002f}, 500, -0.002},
      {"not bracketed", {600, 700}, {0.2f, 0.1f}, 550, nan},
      {"bracketing AOT not positive", {500, 675}, {0.2f, 0.0f}, 550, nan},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const double got = interpolate_aot(c.wavelengths, c.aot, c.target);
    if (std::isnan(c.expected)) {
      EXPECT_TRUE(std::isnan(got)) << got;
    } else {
      EXPECT_NEAR(got, c.expected, 1e-7 * std::fabs(c.expected));
    }
  }
}

} // namespace
} // namespace tirovan::analysis
