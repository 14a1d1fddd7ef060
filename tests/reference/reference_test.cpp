// The precise Sun against PyEphem's tables in bench/ephemeris, against
// hand-derived noon zeniths and a first-order refraction formula; the air
// masses and Rayleigh depth against values worked out from their papers.

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "reference/atmosphere.hpp"
#include "reference/sun.hpp"

namespace tirovan::reference {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// The rows of an ephemeris table as name -> value, from its header line
// (the first line that does not start with '#').
std::vector<std::map<std::string, double>> read_ephemeris(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::vector<std::string> names;
  std::vector<std::map<std::string, double>> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::vector<std::string> cells;
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    if (names.empty()) {
      names = cells;
      continue;
    }
    std::map<std::string, double> row;
    for (std::size_t i = 0; i < cells.size() && i < names.size(); ++i) row[names[i]] = std::stod(cells[i]);
    rows.push_back(row);
  }
  return rows;
}

// PyEphem 4.1.4 (VSOP87), topocentric at sea level, pressure 0.
TEST(SunPosition, AgreesWithPyEphemTables) {
  for (const char* table : {"random.csv", "warsaw.csv"}) {
    const auto rows = read_ephemeris(std::string(TIROVAN_EPHEMERIS) + "/" + table);
    ASSERT_GE(rows.size(), 5000u) << table;
    double worst_zenith = 0, worst_factor = 0;
    for (const auto& r : rows) {
      const UtcInstant t{static_cast<int>(r.at("year")), static_cast<int>(r.at("month")), static_cast<int>(r.at("day")),
                         r.at("hour")};
      const SunPosition sun = sun_position(t, r.at("lon"), r.at("lat"));
      worst_zenith = std::max(worst_zenith, std::abs(sun.zenith_true_deg - r.at("zenith")));
      const double distance = r.at("distance");
      worst_factor = std::max(worst_factor, std::abs(sun.factor - 1.0 / (distance * distance)));
      ASSERT_LT(sun.zenith_apparent_deg, sun.zenith_true_deg) << table; // the air lifts the Sun
    }
    EXPECT_LT(worst_zenith, 0.002) << table;
    EXPECT_LT(worst_factor, 1e-5) << table;
  }
}

// At transit on the June solstice the zenith angle is |latitude - 23.44|
// (obliquity of the ecliptic, 2024) and the Sun stands due south (north in
// the southern hemisphere); three hours earlier it is in the east.
// Transit [h UT] = 12 - longitude / 15 - equation of time (-1.7 min).
TEST(SunPosition, SolsticeNoonAndMorning) {
  struct Case {
    double lon, lat, hour, zenith, azimuth;
  };
  const Case cases[] = {
      {21.0, 52.2, 12.0 - 21.0 / 15.0 + 1.7 / 60.0, 52.2 - 23.44, 180.0}, // Warsaw
      {18.4, -33.9, 12.0 - 18.4 / 15.0 + 1.7 / 60.0, 33.9 + 23.44, 0.0},  // Cape Town
      {-70.0, -23.44, 12.0 + 70.0 / 15.0 + 1.7 / 60.0, 46.88, 0.0},       // south of the tropic
  };
  for (const Case& c : cases) {
    const SunPosition sun = sun_position({2024, 6, 21, c.hour}, c.lon, c.lat, 0, 0);
    EXPECT_NEAR(sun.zenith_true_deg, c.zenith, 0.01) << c.lat;
    EXPECT_NEAR(std::remainder(sun.azimuth_deg - c.azimuth, 360.0), 0.0, 1.0) << c.lat;
    const SunPosition morning = sun_position({2024, 6, 21, c.hour - 3.0}, c.lon, c.lat);
    EXPECT_GT(morning.azimuth_deg, 0.0) << c.lat;
    EXPECT_LT(morning.azimuth_deg, 180.0) << c.lat;
  }
}

// The first-order refraction R = 0.00452 deg p tan z / (273 + T), p [hPa],
// T [deg C], z the apparent zenith angle (Duffett-Smith, Practical
// Astronomy with your Calculator, 1988): ERFA's A tan z + B tan^3 z with
// humidity lies 0-2.5 % below it up to 75 deg.
TEST(SunPosition, RefractionAgreesWithFirstOrderFormula) {
  struct Weather {
    double pressure, temperature;
  };
  for (const Weather w : {Weather{1013.25, 15}, Weather{850, -10}, Weather{1030, 35}}) {
    for (double hour = 3.0; hour <= 10.6; hour += 0.05) { // Warsaw, June morning: zenith 80 to 29 deg
      const SunPosition sun = sun_position({2024, 6, 21, hour}, 21.0, 52.2, 0, w.pressure, w.temperature);
      if (sun.zenith_apparent_deg > 75.0) continue;
      const double first_order =
          0.00452 * w.pressure * std::tan(sun.zenith_apparent_deg * std::acos(-1.0) / 180.0) / (273.0 + w.temperature);
      const double ratio = (sun.zenith_true_deg - sun.zenith_apparent_deg) / first_order;
      EXPECT_GT(ratio, 0.975) << hour;
      EXPECT_LT(ratio, 1.0) << hour;
    }
  }
  const SunPosition vacuum = sun_position({2024, 6, 21, 6.0}, 21.0, 52.2, 0, 0);
  EXPECT_EQ(vacuum.zenith_apparent_deg, vacuum.zenith_true_deg);
}

TEST(SunPosition, RefusesImpossibleInputs) {
  const UtcInstant noon{2024, 6, 21, 12};
  EXPECT_THROW((void)sun_position({2023, 2, 29, 12}, 21, 52), std::invalid_argument);
  EXPECT_THROW((void)sun_position(noon, nan, 52), std::invalid_argument);
  EXPECT_THROW((void)sun_position(noon, 21, 90.001), std::invalid_argument);
  EXPECT_THROW((void)sun_position(noon, 21, 52, 0, -0.001), std::invalid_argument);
  EXPECT_NO_THROW((void)sun_position(noon, 21, -90, 0, 0));
}

TEST(Calendar, ValidUtcBoundaries) {
  struct Case {
    UtcInstant t;
    bool valid;
  };
  const Case cases[] = {
      {{2024, 2, 29, 12}, true},
      {{2023, 2, 29, 12}, false},
      {{2000, 2, 29, 0}, true},
      {{2100, 2, 29, 0}, false}, // centuries leap only by 400
      {{2023, 4, 31, 0}, false},
      {{2023, 13, 1, 0}, false},
      {{2023, 0, 1, 0}, false},
      {{2023, 1, 0, 0}, false},
      {{2023, 1, 1, 0}, true},
      {{2023, 1, 1, -1e-9}, false},
      {{2023, 1, 1, 24 - 1e-9}, true},
      {{2023, 1, 1, 24}, false},
      {{2016, 12, 31, 24}, true},
      {{2016, 12, 31, 24 + 0.999 / 3600}, true}, // 23:59:60.999
      {{2016, 12, 31, 24 + 1.0 / 3600}, false},
      {{2017, 12, 31, 24 + 0.5 / 3600}, false},
      {{2023, 1, 1, nan}, false},
      {{2023, 1, 1, std::numeric_limits<double>::infinity()}, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(valid_utc(c.t), c.valid) << c.t.year << '-' << c.t.month << '-' << c.t.day << ' ' << c.t.hour;
}

TEST(Calendar, DayOfYearCountsTheLeapDay) {
  struct Case {
    int year, month, day, doy;
  };
  for (const Case c : {Case{2023, 1, 1, 1}, Case{2023, 3, 1, 60}, Case{2024, 3, 1, 61}, Case{2100, 3, 1, 60},
                       Case{2000, 3, 1, 61}, Case{2024, 12, 31, 366}, Case{2023, 12, 31, 365}})
    EXPECT_EQ(day_of_year(c.year, c.month, c.day), c.doy) << c.year << '-' << c.month << '-' << c.day;
  EXPECT_THROW((void)day_of_year(2023, 2, 29), std::invalid_argument);
}

// 1 / (cos z + 0.50572 (96.07995 - z)^-1.6364) and
// (1 + 22/6370) / sqrt(cos^2 z + 44/6370), worked out separately.
TEST(AirMass, KastenYoungAndOzoneLayerTables) {
  struct Case {
    double zenith, kasten_young, ozone;
  };
  const Case cases[] = {
      {0, 0.999712, 1.000006},  {30, 1.153992, 1.153389},  {60, 1.994293, 1.979744},
      {80, 5.586036, 5.212408}, {85, 10.305791, 8.332223}, {90, 37.919608, 12.073709},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(kasten_young_air_mass(c.zenith), c.kasten_young, 1e-6 * c.kasten_young) << c.zenith;
    EXPECT_NEAR(ozone_air_mass(c.zenith), c.ozone, 1e-6 * c.ozone) << c.zenith;
  }
  EXPECT_NEAR(ozone_air_mass(90, 10), 17.874585, 1e-5);
  for (const double outside : {-1e-9, 90 + 1e-9, nan}) {
    EXPECT_TRUE(std::isnan(kasten_young_air_mass(outside))) << outside;
    EXPECT_TRUE(std::isnan(ozone_air_mass(outside))) << outside;
  }
  EXPECT_TRUE(std::isnan(ozone_air_mass(30, 0)));
}

TEST(Rayleigh, BodhaineEquation30) {
  const std::pair<double, double> cases[] = {{340, 0.71248}, {380, 0.44618}, {440, 0.24261}, {500, 0.14335},
                                             {675, 0.04220}, {870, 0.01513}, {1020, 0.00798}};
  for (const auto& [wavelength, tau] : cases) EXPECT_NEAR(bodhaine_rayleigh(wavelength, 1013.25), tau, 5e-5);
  EXPECT_NEAR(bodhaine_rayleigh(500, 800) / bodhaine_rayleigh(500, 1013.25), 800 / 1013.25, 1e-14);
  EXPECT_TRUE(std::isnan(bodhaine_rayleigh(0, 1013.25)));
  EXPECT_TRUE(std::isnan(bodhaine_rayleigh(500, -1)));
}

} // namespace
} // namespace tirovan::reference
