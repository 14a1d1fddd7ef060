// Zenith angle and air mass at a site over one day, from the installed
// tirovan libraries.
#include <cstdio>

#include "atmos/atmos.hpp"
#include "solar/solar.hpp"

int main() {
  for (int hour = 4; hour <= 20; hour += 2) {
    float zenith = 0, azimuth = 0, air_mass = 0;
    // Month before day; true when the Sun is below the horizon.
    if (tirovan::POSSOL(6, 21, static_cast<float>(hour), 21.0f, 52.2f, zenith, azimuth)) continue;
    tirovan::AIRMASS(zenith, air_mass);
    std::printf("%02d:00 UT  zenith %7.3f deg  azimuth %7.3f deg  air mass %7.4f\n", hour, zenith, azimuth, air_mass);
  }
}
