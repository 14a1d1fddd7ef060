// The retrieval of one measurement: decimal time, solar position, air mass,
// distance factor, then per channel the total, ozone and Rayleigh optical
// depths and the aerosol optical thickness.
//
// The steps compute; they print nothing. What the run shows on the console
// (the Sun below the horizon, a wavelength outside the ozone table) and
// what ends the run (a logarithm of a signal that is not positive, a Sun
// too low for an air mass, a month without an ozone column) come back as
// values, in the order in which the run meets them. Called in this order,
// locate_sun then channel_aot for channels 1, 2, ..., the steps give bit
// for bit the program's values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "atmos/atmos.hpp"
#include "runtime/failure.hpp"

namespace tirovan::driver {

// The variables of one measurement, kept from record to record by the run.
struct Measurement {
  std::int32_t day = 0, month = 0, year = 0;
  float hour = 0, minute = 0; // [h], [min] UT; both may carry fractions
  float lon = 0, lat = 0;     // [deg] east, north
  float pressure = 0;         // [hPa]
  float time = 0;             // [h] hour + minute / 60
  float zenith = 0, azimuth = 0, air_mass = 0, factor = 0;
  float ln_factor = 0; // ln factor, the same for every channel
  float tau_total = 0, ozone_coefficient = 0, ozone_column = 0, tau_ozone = 0, tau_rayleigh = 0;
};

// Why a measurement cannot be retrieved; the run ends there.
enum class StopCause : std::uint8_t {
  solar_position,           // POSSOL's arithmetic failed (an absurd latitude or time)
  sun_too_low,              // zenith beyond 96.08 deg: the air-mass formula has no value
  signal_not_positive,      // dark-corrected signal <= 0: no logarithm
  calibration_not_positive, // calibration signal <= 0: no logarithm
  rayleigh,                 // a wavelength of 0 nm (or below): no Rayleigh optical depth
  month_outside,            // month outside 1..12: no ozone column
};

struct Stop {
  StopCause cause;
  std::size_t channel = 0; // 0-based, for the causes of one channel
  // What tirovan reports on standard error for this stop; for
  // month_outside the run words its own message (it knows the record).
  runtime::Failure failure;
};

// Decimal time, solar position (POSSOL), air mass and distance factor.
struct SunResult {
  bool below_horizon = false; // zenith > 90 deg: the run warns, then goes on
  std::optional<Stop> stop;
};
[[nodiscard]] SunResult locate_sun(Measurement& m);

// One channel (after locate_sun): Beer-Lambert total optical depth from the
// dark-corrected signal and the calibration signal at mean Sun-Earth
// distance, minus the ozone and Rayleigh optical depths. Sets the tau_*
// fields of `m`.
struct ChannelResult {
  float aot = 0;                               // [1]
  OzoneTable ozone_table = OzoneTable::inside; // outside: the run warns (before a stop)
  std::optional<Stop> stop;
};
[[nodiscard]] ChannelResult channel_aot(Measurement& m, std::size_t channel, float wavelength, float calibration_signal,
                                        float corrected_signal);

} // namespace tirovan::driver
