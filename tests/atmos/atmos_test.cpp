// Air mass, Rayleigh optical depth, ozone coefficient and ozone column
// against their published tables.

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "atmos/atmos.hpp"
#include "support/support.hpp"
#include "runtime/failure.hpp"

namespace tirovan {
namespace {

// Relative difference, for "six significant digits".
double relative(double got, double want) { return std::fabs(got - want) / std::fabs(want); }

struct AirMassCase {
  float zenith;
  double air_mass;
};

TEST(AirMass, KastenYoungTableAboveAndBelowTheHorizon) {
  const AirMassCase cases[] = {
      {0, 0.999712}, {30, 1.15399}, {45, 1.41260}, {60, 1.99429}, {70, 2.90315}, {80, 5.58604},
      {85, 10.3058}, {88, 19.4333}, {90, 37.9196}, {92, 63.4640}, {95, 2.78741}, {96, 0.0317761},
  };
  for (const auto& c : cases) {
    float air_mass = 0;
    AIRMASS(c.zenith, air_mass);
    EXPECT_LT(relative(air_mass, c.air_mass), 5e-6) << c.zenith << ": " << air_mass;
  }
  // Below the horizon the formula peaks near 91.76 deg at about 64.85.
  float peak = 0, peak_zenith = 0;
  for (float zenith = 90.0f; zenith < 96.0f; zenith += 0.001f) {
    float air_mass = 0;
    AIRMASS(zenith, air_mass);
    if (air_mass > peak) {
      peak = air_mass;
      peak_zenith = zenith;
    }
  }
  EXPECT_NEAR(peak, 64.85, 0.01);
  EXPECT_NEAR(peak_zenith, 91.76, 0.01);
}

// Every step after the power is single precision: these are the exact
// floats (a one-ULP change of any of them fails), not approximations.
TEST(AirMass, SinglePrecisionResultsBitExact) {
  const std::pair<float, float> cases[] = {{0.0f, 0.999711931f}, {85.0f, 10.3057995f}, {92.0f, 63.4640007f}};
  for (const auto& [zenith, want] : cases) {
    float air_mass = 0;
    AIRMASS(zenith, air_mass);
    EXPECT_EQ(air_mass, want) << std::hexfloat << zenith << ": got " << air_mass << ", want " << want;
  }
}

TEST(AirMass, BeyondTheFormulaTheRealPowerFails) {
  for (const float zenith : {96.1f, 120.0f, 180.0f}) {
    float air_mass = -1;
    try {
      AIRMASS(zenith, air_mass);
      ADD_FAILURE() << zenith;
    } catch (const runtime::Failure& failure) {
      EXPECT_EQ(failure.message(), "\nrun-time error M6201: MATH\n- pow: DOMAIN\n");
      EXPECT_EQ(failure.status(), 3);
    }
  }
}

struct RayleighCase {
  float wavelength, pressure;
  double tau;
};

TEST(Rayleigh, OpticalDepthTable) {
  const RayleighCase cases[] = {
      {340, 1013, 0.694943},  {380, 1013, 0.435615},    {400, 1013, 0.351748},   {440, 1013, 0.236940},
      {500, 1013, 0.140016},  {500, 1000, 0.138219},    {500, 506.5, 0.0700080}, {675, 1013, 0.0412429},
      {870, 1013, 0.0148022}, {1020, 1013, 0.00780692},
  };
  for (const auto& c : cases) {
    float tau = 0;
    RAYLEIGH(c.wavelength, c.pressure, tau);
    EXPECT_LT(relative(tau, c.tau), 5e-6) << c.wavelength << " nm, " << c.pressure << " hPa: " << tau;
  }
  // At 500 nm the powers of 1/0.5 are exact: 0.134976 - 0.00392 + 0.00896.
  float tau = 0;
  RAYLEIGH(500, 1013, tau);
  EXPECT_EQ(tau, ((0.008436f * 16.0f + -0.0001225f * 32.0f) + 0.00014f * 64.0f) * (1013.0f / 1013.0f));
  float half = 0;
  RAYLEIGH(500, 506.5f, half);
  EXPECT_FLOAT_EQ(half, tau / 2);
}

TEST(Rayleigh, ZeroWavelengthIsAZeroToANegativePower) {
  float tau = 0;
  try {
    RAYLEIGH(0.0f, 1013.0f, tau);
    FAIL();
  } catch (const runtime::Failure& failure) {
    EXPECT_EQ(failure.message(), "forrtl: severe (696): Real zero raised to negative power\n");
    EXPECT_EQ(failure.status(), 184);
  }
}

constexpr OzoneTable below = OzoneTable::below, above = OzoneTable::above, inside = OzoneTable::inside;

struct OzoneCase {
  float wavelength;
  double coefficient;
  OzoneTable table;
};

TEST(Ozon, InterpolatedCoefficientsAndWarnings) {
  const OzoneCase cases[] = {
      {340, 0, below},      {440, 0, below},      {445, 0.003, inside},  {500, 0.03, inside},   {502.5, 0.0325, inside},
      {575, 0.122, inside}, {600, 0.125, inside}, {605, 0.13, inside},   {615, 0.1125, inside}, {675, 0.042, inside},
      {780, 0, inside},     {790, 0, inside},     {790.0001f, 0, above}, {870, 0, above},       {1020, 0, above},
  };
  for (const auto& c : cases) {
    float coefficient = -1;
    EXPECT_EQ(OZON(c.wavelength, coefficient), c.table) << c.wavelength;
    EXPECT_NEAR(coefficient, c.coefficient, 2e-7) << c.wavelength;
  }
}

TEST(Ozon, NaNWavelengthLeavesTheCoefficient) {
  float coefficient = 0.5f;
  EXPECT_EQ(OZON(std::numeric_limits<float>::quiet_NaN(), coefficient), OzoneTable::inside);
  EXPECT_EQ(coefficient, 0.5f);
}

struct ColumnCase {
  std::int32_t month;
  float lat;
  double column;
};

TEST(EstimDobson, ClimatologyInterpolatedInLatitude) {
  const ColumnCase cases[] = {
      {1, 0, 251},    {1, 2.5f, 249},     {1, -2.5f, 253},   {1, 5, 247},   {1, -5, 255},    {3, 85, 467},
      {3, 84, 467.6}, {4, -37.8f, 286.8}, {6, 52.5f, 373.5}, {7, 25, 396},  {7, 27.5f, 349}, {9, -84, 234.6},
      {9, -85, 230},  {9, -90, 230},      {10, -62.5f, 388}, {12, 90, 358}, {12, 1000, 358}, {2, -1e30f, 294},
  };
  for (const auto& c : cases) {
    float column = 0;
    ESTIMDOBSON(c.month, c.lat, column);
    EXPECT_NEAR(column, c.column, 1e-4) << "month " << c.month << ", " << c.lat;
  }
}

TEST(EstimDobson, NoColumnForMonthsOutsideTheYearOrANaNLatitude) {
  for (const std::int32_t month :
       {0, 13, -1, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()}) {
    float column = 1;
    ESTIMDOBSON(month, 50.0f, column);
    EXPECT_TRUE(std::isnan(column)) << month;
  }
  float column = 1;
  ESTIMDOBSON(6, std::numeric_limits<float>::quiet_NaN(), column);
  EXPECT_TRUE(std::isnan(column));
}

} // namespace
} // namespace tirovan
