// Zenith angle and air mass at a site over one day, and the Angstrom
// exponent of a measured spectrum, from the installed tirovan libraries.
#include <cstdio>

#include "analysis/angstrom.hpp"
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
  // AERONET's 440-870 nm channels at their filter wavelengths [nm] and a
  // row of their AOT: the least-squares exponent of ln AOT on ln lambda.
  const float wavelength[] = {439.4f, 498.9f, 672.7f, 867.6f};
  const float aot[] = {0.306553f, 0.248363f, 0.135716f, 0.084788f};
  const tirovan::analysis::AngstromFit fit = tirovan::analysis::fit_angstrom(wavelength, aot, 430, 880);
  std::printf("Angstrom exponent %.4f over %zu channels\n", fit.alpha, fit.channels.size());
}
