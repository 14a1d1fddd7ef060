// Solar position, distance factor and calendar, step by step against
// published and hand-derived values.

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "solar/solar.hpp"
#include "spencer_series.hpp"
#include "support/support.hpp"

namespace tirovan {
namespace {

constexpr std::int32_t int_max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t int_min = std::numeric_limits<std::int32_t>::min();

struct DayCase {
  std::int32_t day, month, year, doy;
};

TEST(DayNumber, DaysBeforeTheMonthAndTheLeapDay) {
  const DayCase cases[] = {
      {1, 3, 0, 60},    {1, 3, 2004, 61}, {29, 2, 2004, 60}, {31, 12, 1900, 366}, {31, 12, 0, 365}, {1, 1, 0, 1},
      {1, 2, 0, 32},    {1, 4, 0, 91},    {1, 5, 0, 121},    {1, 6, 0, 152},      {1, 7, 0, 182},   {1, 8, 0, 213},
      {1, 9, 0, 244},   {1, 10, 0, 274},  {1, 11, 0, 305},   {1, 12, 0, 335},     {1, 3, -4, 61},   {1, 3, 2100, 61},
      {1, 3, 2003, 60}, {1, 13, 0, 366},  {5, 0, 0, -26},
  };
  for (const auto& c : cases) {
    std::int32_t doy = -1;
    DAY_NUMBER(c.day, c.month, c.year, doy);
    EXPECT_EQ(doy, c.doy) << c.day << "/" << c.month << "/" << c.year;
  }
}

// 32-bit wrap-around of the same formula, computed in 64 bits.
std::int32_t wrapped(std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

TEST(DayNumber, ExtremeIntegersWrapInsteadOfOverflowing) {
  std::int32_t doy = 0;
  DAY_NUMBER(int_max, int_max, 4, doy);
  EXPECT_EQ(doy, wrapped(31LL * int_max - (int_max - 2LL) / 2 + int_max - 33 + 1));
  DAY_NUMBER(int_min, int_min, int_min, doy);
  EXPECT_EQ(doy, wrapped(31LL * int_min + int_min - 31));
  JULIANDAY(int_min, 12, int_max, doy);
  EXPECT_EQ(doy, wrapped(int_max + 334LL + 1));
  float factor = 0;
  VARSOL(int_max, int_min, factor);
  EXPECT_GE(factor, 0.9672f);
  EXPECT_LE(factor, 1.0344f);
}

struct SeriesCase {
  std::int32_t doy;
  double day_angle, eot_minutes, declination;
};

TEST(SpencerSeries, DayAngleEquationOfTimeAndDeclination) {
  const SeriesCase cases[] = {
      {1, 0.017214, -3.3511, -0.401065},
      {80, 1.377137, -7.5492, 0.005741},
      {172, 2.960844, -1.5475, 0.409377},
      {355, 6.111043, 1.7051, -0.408862},
  };
  for (const auto& c : cases) {
    const SpencerSeries s = spencer_series(c.doy);
    EXPECT_NEAR(s.day_angle, c.day_angle, 1e-6) << c.doy;
    EXPECT_NEAR(s.eot_minutes, c.eot_minutes, 1e-4) << c.doy;
    EXPECT_NEAR(s.declination, c.declination, 1e-6) << c.doy;
  }
}

struct PositionCase {
  const char* name;
  std::int32_t doy;
  float time, lon, lat;
  double zenith, azimuth;
};

TEST(PosFft, ZenithAndAzimuthToAHundredthOfADegree) {
  const PositionCase cases[] = {
      {"summer solstice noon, 52 N", 172, 12.0f, 0.0f, 52.0f, 28.55, 179.26},
      {"summer morning, 21 E", 172, 10.0f, 21.0f, 52.0f, 29.44, 162.28},
      {"summer afternoon, 21 E", 172, 14.0f, 21.0f, 52.0f, 47.77, 253.23},
      {"equinox dawn at the equator", 80, 6.0f, 0.0f, 0.0f, 91.89, 89.67},
      {"January noon, 30 S: Sun north-east", 1, 12.0f, 0.0f, -30.0f, 7.06, 6.29},
  };
  for (const auto& c : cases) {
    float zenith = 0, azimuth = 0;
    POS_FFT(c.doy, c.time, c.lon, c.lat, zenith, azimuth);
    EXPECT_NEAR(zenith, c.zenith, 0.01) << c.name;
    EXPECT_NEAR(azimuth, c.azimuth, 0.01) << c.name;
  }
}

// The time of true solar noon at longitude 0, found to the float: the hour
// angle is then exactly zero.
float true_noon(std::int32_t doy) {
  const float em = spencer_series(doy).eot_minutes;
  float t = 12.0f - em / 60.0f;
  for (int k = 0; k < 64; ++k) {
    float tv = em / 60.0f + (0.0f / 15.0f + t);
    tv = tv - 12.0f;
    if (tv == 0.0f) return t;
    t = std::nextafter(t, tv > 0.0f ? 0.0f : 24.0f);
  }
  ADD_FAILURE() << "no exact true noon for day " << doy;
  return t;
}

TEST(PosFft, MeridianCrossingNorthIs360AndSouthIs180) {
  const float noon = true_noon(172);
  float zenith = 0, azimuth = 0;
  POS_FFT(172, noon, 0.0f, 0.0f, zenith, azimuth); // declination +23.4: Sun north of the zenith
  EXPECT_NEAR(azimuth, 360.0, 1e-4);
  EXPECT_GT(azimuth, 359.9f);
  POS_FFT(172, noon, 0.0f, 52.0f, zenith, azimuth); // Sun south of the zenith
  EXPECT_NEAR(azimuth, 180.0, 1e-4);
}

TEST(Possol, LeapDaysAreNeverCountedAndTheWarningComesBelowTheHorizon) {
  float z1 = 0, a1 = 0, z2 = 0, a2 = 0;
  EXPECT_FALSE(POSSOL(3, 1, 12.0f, 0.0f, 52.0f, z1, a1));
  EXPECT_FALSE(POSSOL(2, 29, 12.0f, 0.0f, 52.0f, z2, a2)); // 29 February: day 60, as 1 March
  EXPECT_EQ(z1, z2);
  EXPECT_EQ(a1, a2);
  float zenith = 0, azimuth = 0;
  POS_FFT(60, 12.0f, 0.0f, 52.0f, zenith, azimuth);
  EXPECT_EQ(zenith, z1);

  EXPECT_TRUE(POSSOL(3, 21, 6.0f, 0.0f, 0.0f, zenith, azimuth));
  EXPECT_NEAR(zenith, 91.89, 0.01);
  EXPECT_NEAR(azimuth, 89.67, 0.01);
}

struct FactorCase {
  std::int32_t day, month;
  double factor;
};

TEST(Varsol, DistanceFactorThroughTheYear) {
  const FactorCase cases[] = {
      {4, 1, 1.034319}, {1, 1, 1.034272},  {5, 7, 0.967363},   {6, 7, 0.967362},
      {1, 3, 1.019376}, {29, 2, 1.019376}, {31, 12, 1.034224},
  };
  for (const auto& c : cases) {
    float factor = 0;
    VARSOL(c.day, c.month, factor);
    EXPECT_NEAR(factor, c.factor, 2e-6) << c.day << "/" << c.month;
  }
}

struct JulianCase {
  std::int32_t year, month, day, doy;
};

TEST(JulianDay, FourYearLeapRuleWithYearZero) {
  const JulianCase cases[] = {
      {2004, 3, 1, 61},  {2003, 3, 1, 60},  {1900, 12, 31, 366}, {0, 3, 1, 61},
      {2004, 2, 29, 60}, {2004, 1, 15, 15}, {-4, 12, 31, 366},   {2001, 12, 31, 365},
  };
  for (const auto& c : cases) {
    std::int32_t doy = -1;
    JULIANDAY(c.year, c.month, c.day, doy);
    EXPECT_EQ(doy, c.doy) << c.year << "-" << c.month << "-" << c.day;
  }
  for (const std::int32_t month : {0, 13, -1, int_max}) {
    std::int32_t doy = 77;
    JULIANDAY(2004, month, 1, doy);
    EXPECT_EQ(doy, 77) << month;
  }
}

TEST(Jul2Greg, DatesAndDaysOutsideTheYear) {
  struct Case {
    std::int32_t doy, year;
    bool ok;
    std::int32_t month, day;
  };
  const Case cases[] = {
      {60, 2004, true, 2, 29},      {60, 2003, true, 3, 1},
      {366, 2004, true, 12, 31},    {1, 2003, true, 1, 1},
      {365, 2003, true, 12, 31},    {0, 2003, true, 1, 0},
      {-5, 2003, true, 1, -5},      {int_min, 2003, true, 1, int_min},
      {366, 2003, false, 9, 9},     {367, 2004, false, 9, 9},
      {int_max, 2004, false, 9, 9},
  };
  for (const auto& c : cases) {
    std::int32_t month = 9, day = 9;
    EXPECT_EQ(JUL2GREG(c.doy, c.year, month, day), c.ok) << c.doy << " of " << c.year;
    EXPECT_EQ(month, c.month) << c.doy << " of " << c.year;
    EXPECT_EQ(day, c.day) << c.doy << " of " << c.year;
  }
  // Each call decides February afresh.
  std::int32_t month = 0, day = 0;
  ASSERT_TRUE(JUL2GREG(60, 2004, month, day));
  ASSERT_TRUE(JUL2GREG(60, 2003, month, day));
  EXPECT_EQ(month, 3);
  EXPECT_EQ(day, 1);
}

TEST(Jul2Greg, RoundTripOverEveryDateOfALeapAndACommonYear) {
  constexpr std::int32_t lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (const std::int32_t year : {2004, 2003}) {
    std::int32_t expected_doy = 0;
    for (std::int32_t m = 1; m <= 12; ++m) {
      const std::int32_t length = lengths[m - 1] + (m == 2 && year % 4 == 0 ? 1 : 0);
      for (std::int32_t d = 1; d <= length; ++d) {
        std::int32_t doy = 0, month = 0, day = 0;
        JULIANDAY(year, m, d, doy);
        EXPECT_EQ(doy, ++expected_doy);
        ASSERT_TRUE(JUL2GREG(doy, year, month, day));
        EXPECT_EQ(month, m);
        EXPECT_EQ(day, d);
      }
    }
    EXPECT_EQ(expected_doy, year % 4 == 0 ? 366 : 365);
  }
}

} // namespace
} // namespace tirovan
