// The Fourier series of Spencer (1971) behind POS_FFT, exposed to the
// tests so that each step can be checked on its own. Private to src/solar.
#pragma once

#include <cstdint>

namespace tirovan {

struct SpencerSeries {
  float day_angle;   // G = 2 pi doy / 365 [rad]
  float eot_minutes; // equation of time [min]: true minus mean solar time
  float declination; // solar declination [rad]
};

SpencerSeries spencer_series(std::int32_t doy);

} // namespace tirovan
