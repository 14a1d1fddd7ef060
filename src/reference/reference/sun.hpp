// Precise position of the Sun and Sun-Earth distance factor for a ground
// observer, in double precision, from ERFA (the IAU SOFA algorithms):
// Earth ephemeris eraEpv00, IAU 2006/2000A precession-nutation, annual and
// diurnal aberration, the observer on the WGS84 ellipsoid, and ERFA's
// A tan z + B tan^3 z refraction model.
//
// Time is UTC on the Gregorian calendar with its leap days; leap seconds
// are taken from ERFA's table (TT = UTC + (TAI - UTC) + 32.184 s). UT1 is
// taken equal to UTC: |UT1 - UTC| < 0.9 s moves the Sun's hour angle by
// less than 0.004 deg; through a leap second, where the true UT1 - UTC
// steps by 1 s, the Earth's rotation thus stands still for that second.
// Polar motion is neglected (< 0.5"). eraEpv00 is
// fitted to 1900-2100; its accuracy degrades slowly outside.
#pragma once

namespace tirovan::reference {

// An instant of UTC: calendar date and hour of the day [h], which may carry
// a fraction. The day ends at 24 h, or 1 s later on a day ending in a leap
// second (23:59:60 is 24 h exactly).
struct UtcInstant {
  int year = 2000, month = 1, day = 1;
  double hour = 0;
};

// True for a date of the Gregorian calendar (29 February in leap years
// only) and an hour inside that UTC day, 0 <= hour < 24 (24 + 1/3600 on a
// leap-second day). Years before 1960 (no UTC yet) or beyond ERFA's
// leap-second table are accepted, with TAI - UTC as ERFA extrapolates it.
[[nodiscard]] bool valid_utc(const UtcInstant& t);

// Day of the year [1..366], 1 January = 1, leap day counted; the date must
// pass valid_utc.
[[nodiscard]] int day_of_year(int year, int month, int day);

struct SunPosition {
  double zenith_true_deg = 0;     // topocentric, without refraction [deg]
  double zenith_apparent_deg = 0; // as refracted by the air at the observer [deg]
  double azimuth_deg = 0;         // from north through east, [0, 360) [deg]
  double distance_au = 0;         // observer to the Sun's centre [au]
  double factor = 0;              // (1 au / distance)^2, as in V = V0 factor exp(-tau m)
};

// Position of the Sun's centre seen at `t` from longitude `lon_deg_east`
// [deg, east positive], geodetic latitude `lat_deg_north` [deg, north
// positive], `height_m` above the WGS84 ellipsoid [m], with surface
// `pressure_hpa` [hPa] and `temperature_c` [deg C] for the refraction
// (relative humidity 50 %, wavelength 0.55 um; refraction varies by < 2 %
// over 340-1020 nm). Pressure 0 gives no refraction.
//
// The true zenith and the distance are topocentric: the Sun seen from the
// observer, not from the Earth's centre (the difference reaches 8.8" in
// zenith and 8.5e-5 in factor). Light time of the Sun's own barycentric
// motion (< 0.01") is neglected. Refraction follows ERFA's model: within
// 0.05" at zenith angles below 70 deg, 30" at 85 deg, 20' at the horizon;
// below about 87 deg apparent it is held at its value there.
//
// Throws std::invalid_argument for an instant that fails valid_utc, a
// latitude outside [-90, 90], a negative pressure or any non-finite input.
[[nodiscard]] SunPosition sun_position(const UtcInstant& t, double lon_deg_east, double lat_deg_north,
                                       double height_m = 0, double pressure_hpa = 1013.25, double temperature_c = 15);

} // namespace tirovan::reference
