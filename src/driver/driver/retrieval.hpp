// The retrieval of one measurement: dark correction, solar position, air
// mass, distance factor, then per channel the total, ozone and Rayleigh
// optical depths and the aerosol optical thickness, each channel's report
// line written to the console as soon as its value is known.
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
  float tau_total = 0, ozone_coefficient = 0, ozone_column = 0, tau_ozone = 0, tau_rayleigh = 0;
};

// Channels i = 0 .. aot.size() - 1 of every span. `signal` is overwritten
// by the dark-corrected signal. Throws the run-time failures of the math.
void retrieve(Measurement& m, std::span<const float> wavelength, std::span<const float> calibration_signal,
              std::span<float> signal, std::span<const float> dark, std::span<float> aot);

} // namespace tirovan::driver
