// Solar geometry and calendar: day of the year, solar zenith and azimuth,
// Sun-Earth distance factor, and the two day-of-year conversions.
//
// Conventions for every procedure below:
//   time     [h]    decimal hours of universal time (mean solar time at 0 deg)
//   lon      [deg]  positive east of Greenwich
//   lat      [deg]  positive north
//   zenith   [deg]  90 - elevation; above 90 with the Sun below the horizon
//   azimuth  [deg]  from north through east (90 east, 180 south), in (0, 360]
//   doy      [-]    day of the year, 1 = 1 January
// Inputs come first and outputs last; outputs are written through references.
// All arithmetic is single precision in the stated order; trigonometric
// functions are evaluated in double and rounded to single precision, and an
// argument outside a function's domain throws the run-time MATH failure
// (runtime/failure.hpp). Integer day counts wrap around modulo 2^32, as
// 32-bit hardware gives them, instead of overflowing: results are the
// documented ones wherever the arithmetic fits in 32 bits.
#pragma once

#include <cstdint>

namespace tirovan {

// Day of the year of `day` [1..31] of `month` [1..12] in `year`. Year 0
// stands for "no year" and never adds a leap day; otherwise every multiple
// of 4 is a leap year (no century rule), a leap day counting from March.
// Months above 12 continue the day count; months 2 and below follow January.
void DAY_NUMBER(std::int32_t day, std::int32_t month, std::int32_t year, std::int32_t& doy);

// Solar zenith and azimuth [deg] on day `doy` at `time` [h UT] for a site
// at `lon`, `lat` [deg]. Equation of time and declination: Fourier series
// of Spencer (1971) in the day angle G = 2 pi doy / 365 (the day itself,
// not doy - 1). No refraction; the sine of the elevation is not clamped.
void POS_FFT(std::int32_t doy, float time, float lon, float lat, float& zenith, float& azimuth);

// Solar zenith and azimuth [deg] for `day` of `month` (month first!) at
// `time` [h UT], site `lon`, `lat` [deg]; the day count never includes a
// leap day. Returns true when the Sun is below the horizon (zenith > 90),
// the angles being set all the same: the caller decides whether to warn.
bool POSSOL(std::int32_t month, std::int32_t day, float time, float lon, float lat, float& zenith, float& azimuth);

// Sun-Earth distance factor (mean distance / actual distance)^2 [-] for
// `day` of `month` (day first!), with the distance 1 - e cos(theta) of the
// mean, e = 0.01673, theta = (doy - 4) * 0.9856 deg since perihelion on
// 4 January. About 0.967 (early July) to 1.034 (4 January).
void VARSOL(std::int32_t day, std::int32_t month, float& factor);

// Day of the year of a date; every multiple of 4 is a leap year, year 0
// included. A month outside 1..12 leaves `doy` unchanged.
void JULIANDAY(std::int32_t year, std::int32_t month, std::int32_t day, std::int32_t& doy);

// Month and day of day `doy` of `year` (leap years as in JULIANDAY).
// doy <= 0 gives month 1 and day = doy. A doy beyond the year's last day
// has no date in that year: the call returns false and leaves `month` and
// `day` unchanged; otherwise it returns true.
[[nodiscard]] bool JUL2GREG(std::int32_t doy, std::int32_t year, std::int32_t& month, std::int32_t& day);

} // namespace tirovan
