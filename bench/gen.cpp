// Writes a large, realistic lang.dat / dane.dat pair for throughput runs:
// a ten-channel photometer (four channels outside the 445-790 nm ozone
// table, as real instruments have them) measuring at sites and dates spread
// over years, always with the Sun up, values written to 4-5 significant
// digits as instruments write them. Deterministic for a given seed.
//
//   tirovan_gen N SEED DIRECTORY

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "solar/solar.hpp"

namespace {

constexpr int channel_count = 10;
constexpr float wavelengths[channel_count] = {380, 440, 500, 532, 555, 610, 675, 779, 870, 1020}; // [nm]
constexpr float calibration[channel_count] = {0.8123f, 1.5213f, 1.8472f, 1.9930f, 2.0511f,
                                              2.1876f, 2.1034f, 2.0402f, 1.9561f, 1.3127f}; // V0 [V]

// Rough optical depths of the clean atmosphere, for plausible signals.
double rayleigh(double wavelength_nm, double pressure) {
  const double l = wavelength_nm / 1000.0;
  return (0.008436 * std::pow(l, -4) - 0.0001225 * std::pow(l, -5) + 0.00014 * std::pow(l, -6)) * pressure / 1013.0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s N SEED DIRECTORY\n", argv[0]);
    return 2;
  }
  const long n = std::strtol(argv[1], nullptr, 10);
  std::mt19937_64 random(std::strtoull(argv[2], nullptr, 10));
  const std::string dir = argv[3];

  FILE* lang = std::fopen((dir + "/lang.dat").c_str(), "w");
  FILE* dane = std::fopen((dir + "/dane.dat").c_str(), "w");
  if (lang == nullptr || dane == nullptr) {
    std::perror(dir.c_str());
    return 1;
  }
  std::fprintf(lang,
               "Synthetic calibration of a ten-channel sun photometer\nSerial SYN-10, Langley plots\n"
               "Signals in volts\nChannels 380 to 1020 nm\nReduced to 1 AU\n\n\nEnd of header\n%d\n",
               channel_count);
  for (int i = 0; i < channel_count; ++i) std::fprintf(lang, "%g ", static_cast<double>(wavelengths[i]));
  std::fprintf(lang, "\n");
  for (int i = 0; i < channel_count; ++i) std::fprintf(lang, "%.4f ", static_cast<double>(calibration[i]));
  std::fprintf(lang, "\n");
  std::fclose(lang);

  std::fprintf(dane, "%d %ld\n", channel_count, n);
  for (int i = 0; i < channel_count; ++i) std::fprintf(dane, "%g ", static_cast<double>(wavelengths[i]));
  std::fprintf(dane, "\n");

  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (long k = 0; k < n; ++k) {
    int day, month, year, hour, minute;
    float lon, lat, zenith = 99, azimuth = 0;
    do { // a site, date and time with the Sun at least 10 degrees up
      year = 2000 + static_cast<int>(unit(random) * 26);
      month = 1 + static_cast<int>(unit(random) * 12);
      day = 1 + static_cast<int>(unit(random) * 28);
      lat = static_cast<float>(std::round((unit(random) * 130.0 - 60.0) * 100.0) / 100.0);
      lon = static_cast<float>(std::round((unit(random) * 360.0 - 180.0) * 100.0) / 100.0);
      const double local_noon = 12.0 - static_cast<double>(lon) / 15.0;
      double t = local_noon + (unit(random) - 0.5) * 12.0;
      t = std::fmod(t + 48.0, 24.0);
      hour = static_cast<int>(t);
      minute = static_cast<int>((t - hour) * 60.0);
      std::int32_t doy = 0;
      tirovan::DAY_NUMBER(day, month, 0, doy);
      tirovan::POS_FFT(doy, static_cast<float>(hour + minute / 60.0), lon, lat, zenith, azimuth);
    } while (!(zenith < 80.0f));
    const double h = 90.0 - static_cast<double>(zenith);
    const double air_mass = 1.0 / (std::sin(h * 3.14159 / 180.0) + 0.50572 * std::pow(h + 6.07995, -1.6364));
    float factor = 1;
    tirovan::VARSOL(day, month, factor);
    const double pressure = std::round((1013.0 + (unit(random) - 0.5) * 60.0) * 10.0) / 10.0;
    const double aot500 = 0.03 + 0.5 * unit(random) * unit(random);
    const double angstrom = 0.5 + 1.5 * unit(random);
    std::fprintf(dane, "%d %d %d %d %d %.2f %.2f %.1f", day, month, year, hour, minute, static_cast<double>(lon),
                 static_cast<double>(lat), pressure);
    for (int i = 0; i < channel_count; ++i) {
      const double tau = aot500 * std::pow(static_cast<double>(wavelengths[i]) / 500.0, -angstrom) +
                         rayleigh(wavelengths[i], pressure) + 0.3 * 0.05 * unit(random);
      const double dark = 0.001 + 0.003 * unit(random);
      const double signal = static_cast<double>(calibration[i] * factor) * std::exp(-air_mass * tau) + dark;
      std::fprintf(dane, " %.5g %.4f", signal, dark);
    }
    std::fprintf(dane, "\n");
  }
  return std::fclose(dane) == 0 ? 0 : 1;
}
