// The retrieval of one measurement: dark correction, solar position, air
// mass, distance factor, then per channel the total, ozone and Rayleigh
// optical depths and the aerosol optical thickness, each channel's report
// line written to the console as soon as its value is known.
//
// `locate_sun` and `channel_aot` are the same steps without the report
// lines, for tools that want the values: called in this order they give
// bit for bit the program's results.
#pragma once

#include <cstdint>
#include <span>

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

// Thrown at the ozone column of a measurement whose month (outside 1..12)
// has no column in the climatology; the run ends there.
struct OzoneMonthRefused {
  std::int32_t month;
};

// Decimal time, solar position (POSSOL, with its warning below the
// horizon), air mass and distance factor (and its logarithm) of `m`.
void locate_sun(Measurement& m);

// Aerosol optical thickness of one channel of `m` (after locate_sun):
// Beer-Lambert total optical depth from the dark-corrected signal and the
// calibration signal at mean Sun-Earth distance, minus the ozone (with
// OZON's warnings) and Rayleigh optical depths. Sets the tau_* fields of
// `m`. Throws the run-time failures of the math and OzoneMonthRefused.
[[nodiscard]] float channel_aot(Measurement& m, float wavelength, float calibration_signal, float corrected_signal);

// The whole measurement, channels i = 0 .. aot.size() - 1 of every span.
// `signal` is overwritten by the dark-corrected signal.
void retrieve(Measurement& m, std::span<const float> wavelength, std::span<const float> calibration_signal,
              std::span<float> signal, std::span<const float> dark, std::span<float> aot);

} // namespace tirovan::driver
