// The Sun seen from a ground observer with ERFA. The observer-dependent
// quantities (Earth's barycentric position and velocity from eraEpv00, the
// observer's place and velocity on the rotating WGS84 Earth, the CIO-based
// bias-precession-nutation matrix, the refraction constants) come from
// eraApco13; the Sun's direction is then taken through the same steps as
// eraAtco13 takes a star, with the geometric observer-to-Sun direction in
// place of a catalogue direction and parallax.

#include "reference/sun.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include <erfa.h>

namespace tirovan::reference {
namespace {

constexpr double radians_per_degree = std::numbers::pi / 180.0;
constexpr double relative_humidity = 0.5; // [0..1], refraction only
constexpr double wavelength_um = 0.55;    // [um], refraction only

// UTC as ERFA's two-part quasi Julian date, whose day holds 86401 s when it
// ends in a leap second. Returns eraDtf2d's status: 0 valid, +1 valid with
// an extrapolated TAI - UTC, anything else not an instant of that day.
int utc_quasi_jd(const UtcInstant& t, double& day_part, double& time_part) {
  if (!std::isfinite(t.hour) || t.hour < 0.0 || t.hour >= 25.0) return -4;
  const double seconds = t.hour * 3600.0;
  // Hours past 23 and minutes past 59 go into the seconds, so that a leap
  // second (23:59:60) is 24 h and the day's end is checked by eraDtf2d.
  const int hour = std::min(23, static_cast<int>(seconds / 3600.0));
  const double after_hour = seconds - 3600.0 * hour;
  const int minute = std::min(59, static_cast<int>(after_hour / 60.0));
  return eraDtf2d("UTC", t.year, t.month, t.day, hour, minute, after_hour - 60.0 * minute, &day_part, &time_part);
}

bool accepted(int status) { return status == 0 || status == 1; }

} // namespace

bool valid_utc(const UtcInstant& t) {
  double day_part = 0, time_part = 0;
  return accepted(utc_quasi_jd(t, day_part, time_part));
}

int day_of_year(int year, int month, int day) {
  double mjd0 = 0, first = 0, date = 0;
  if (eraCal2jd(year, 1, 1, &mjd0, &first) != 0 || eraCal2jd(year, month, day, &mjd0, &date) != 0)
    throw std::invalid_argument("day_of_year: not a calendar date");
  return static_cast<int>(date - first) + 1;
}

SunPosition sun_position(const UtcInstant& t, double lon_deg_east, double lat_deg_north, double height_m,
                         double pressure_hpa, double temperature_c) {
  double utc1 = 0, utc2 = 0;
  if (!accepted(utc_quasi_jd(t, utc1, utc2))) throw std::invalid_argument("sun_position: not a UTC instant");
  if (!std::isfinite(lon_deg_east) || !(std::abs(lat_deg_north) <= 90.0) || !std::isfinite(height_m) ||
      !(pressure_hpa >= 0.0) || !std::isfinite(pressure_hpa) || !std::isfinite(temperature_c))
    throw std::invalid_argument("sun_position: observer or weather out of range");

  eraASTROM astrom{};
  double equation_of_origins = 0;
  constexpr double ut1_minus_utc = 0, polar_x = 0, polar_y = 0;
  if (!accepted(eraApco13(utc1, utc2, ut1_minus_utc, lon_deg_east * radians_per_degree,
                          lat_deg_north * radians_per_degree, height_m, polar_x, polar_y, pressure_hpa, temperature_c,
                          relative_humidity, wavelength_um, &astrom, &equation_of_origins)))
    throw std::invalid_argument("sun_position: date outside ERFA's range");

  // astrom.eh is the unit vector from the Sun to the observer (BCRS axes,
  // observer's own place, not the geocentre), astrom.em their distance [au].
  double towards_sun[3] = {-astrom.eh[0], -astrom.eh[1], -astrom.eh[2]};
  // Aberration by the observer's barycentric velocity, the Earth's rotation
  // included (eraApco13 folds the diurnal term into astrom.v). The Sun's
  // light is not deflected by the Sun itself, so eraLdsun has no part here.
  double aberrated[3], cirs[3];
  eraAb(towards_sun, astrom.v, astrom.em, astrom.bm1, aberrated);
  eraRxp(astrom.bpn, aberrated, cirs);
  double right_ascension = 0, declination = 0;
  eraC2s(cirs, &right_ascension, &declination);
  right_ascension = eraAnp(right_ascension);

  SunPosition sun;
  double azimuth = 0, zenith = 0, hour_angle = 0, observed_dec = 0, observed_ra = 0;
  eraAtioq(right_ascension, declination, &astrom, &azimuth, &zenith, &hour_angle, &observed_dec, &observed_ra);
  sun.zenith_apparent_deg = zenith / radians_per_degree;
  astrom.refa = 0;
  astrom.refb = 0;
  eraAtioq(right_ascension, declination, &astrom, &azimuth, &zenith, &hour_angle, &observed_dec, &observed_ra);
  sun.zenith_true_deg = zenith / radians_per_degree;
  sun.azimuth_deg = azimuth / radians_per_degree;
  sun.distance_au = astrom.em;
  sun.factor = 1.0 / (astrom.em * astrom.em);
  return sun;
}

} // namespace tirovan::reference
