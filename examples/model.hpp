// The synthetic clear day of the bundled example: site, date, channels,
// calibration, measurement times, surface pressure, dark signals and the
// aerosol model. examples/generate.cpp turns it into lang.dat and dane.dat;
// the example test checks the program's retrieval against aot() below.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace tirovan::example {

// Warsaw, 15 June 2024; times in UT.
inline constexpr int day = 15, month = 6, year = 2024;
inline constexpr float lon = 21.0f; // [deg] east
inline constexpr float lat = 52.2f; // [deg] north

inline constexpr std::size_t channel_count = 5;
inline constexpr std::array<float, channel_count> wavelength = {440.0f, 500.0f, 675.0f, 870.0f, 1020.0f}; // [nm]
// Calibration signals V0 [V]: outside the atmosphere, at mean Sun-Earth distance.
inline constexpr std::array<float, channel_count> calibration = {1.5213f, 1.8472f, 2.1034f, 1.9561f, 1.3127f};
// Dark signal [V] of each channel at the first measurement; it drifts up
// by 10 % over the day (detector warming).
inline constexpr std::array<double, channel_count> dark_at_start = {0.0025, 0.0018, 0.0022, 0.0020, 0.0027};

// Twenty measurements, every 40 minutes from 04:30 to 17:10 UT: solar
// zenith 72.7 deg (air mass 3.3) in the first, 28.9 deg (1.14) near local
// noon, 76.7 deg (4.3) in the last.
inline constexpr int measurement_count = 20;
inline constexpr int first_minute = 4 * 60 + 30; // [min] after 00:00 UT
inline constexpr int step_minutes = 40;

struct Clock {
  int hour, minute;
};
constexpr Clock clock_of(int record) { // record 0 .. measurement_count - 1
  const int minutes = first_minute + record * step_minutes;
  return {minutes / 60, minutes % 60};
}

// Fraction of the measuring day, 0 at the first and 1 at the last
// measurement, for t in decimal hours UT (0 before, 1 after).
inline double day_fraction(double t) {
  const double start = first_minute / 60.0;
  const double end = (first_minute + (measurement_count - 1) * step_minutes) / 60.0;
  return std::clamp((t - start) / (end - start), 0.0, 1.0); // the air holds steady before and after
}

// Smooth step from 0 at the first to 1 at the last measurement, flat at
// both ends: the air stays steady through the low-Sun hours of morning and
// evening, which a Langley plot of the example relies on.
inline double rise(double t) {
  const double pi = std::acos(-1.0);
  return (1.0 - std::cos(pi * day_fraction(t))) / 2.0;
}

// Angstrom law AOT(lambda) = beta (lambda / 1 um)^-alpha. Over the day the
// turbidity beta grows from 0.058 to 0.068 and the exponent alpha falls
// from 1.42 to 1.30: haze builds up with a growing share of coarse
// particles.
inline double beta(double t) { return 0.058 + 0.010 * rise(t); }
inline double alpha(double t) { return 1.42 - 0.12 * rise(t); }
inline double aot(double wavelength_nm, double t) { return beta(t) * std::pow(wavelength_nm / 1000.0, -alpha(t)); }

// Surface pressure [hPa], falling slowly through the day.
inline double pressure(double t) { return 1012.4 - 0.9 * day_fraction(t); }

// Dark signal [V] of channel i.
inline double dark(std::size_t i, double t) { return dark_at_start[i] * (1.0 + 0.1 * day_fraction(t)); }

} // namespace tirovan::example
