// Writes the bundled example, lang.dat and dane.dat, into a folder (default
// the current one) from the synthetic clear day of model.hpp.
//
// Each signal follows the Beer-Lambert law through the same geometry and
// atmosphere as the retrieval: solar zenith from POSSOL, air mass from
// AIRMASS (Kasten & Young 1989), Sun-Earth distance factor F from VARSOL,
// Rayleigh optical depth from RAYLEIGH and ozone optical depth from OZON
// and ESTIMDOBSON (zero outside the 445-790 nm ozone table):
//
//   V = V0 F exp(-(aot + tau_O3 + tau_R) m) + dark
//
// Signals carry five decimals (relative rounding error below 2e-5), so the
// retrieved AOT equals the model's to about 1e-5.
//
//   tirovan_example_gen [--every MINUTES] [folder]
//
// The folder is created (with its parents) when it does not exist.

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "atmos/atmos.hpp"
#include "model.hpp"
#include "solar/solar.hpp"

namespace {

namespace ex = tirovan::example;

constexpr float ozone_table_first = 445.0f; // [nm]
constexpr float ozone_table_last = 790.0f;  // [nm]

// `value` with `decimals` decimals, as written to the file.
std::string fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// The single-precision value the program reads from `text`.
float as_read(const std::string& text) { return std::strtof(text.c_str(), nullptr); }

// The channels' values separated by blanks.
std::string joined(const std::array<float, ex::channel_count>& values, int decimals) {
  std::string text;
  for (const float value : values) {
    if (!text.empty()) text += ' ';
    text += fixed(static_cast<double>(value), decimals);
  }
  return text;
}

bool write_whole(const std::string& path, const std::string& content) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return std::fclose(file) == 0 && written;
}

// A regular file (or a new one) is replaced whole through a temporary file
// in the same folder, so an interrupted run never leaves half a file; any
// other target (a pipe, a device) is written in place.
bool write_file(const std::string& path, const std::string& content) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) return write_whole(path, content);
  const std::string temporary = path + ".tmp";
  if (!write_whole(temporary, content)) {
    std::filesystem::remove(temporary, error);
    return false;
  }
  std::filesystem::rename(temporary, path, error);
  if (!error) return true;
  std::filesystem::remove(temporary, error);
  return false;
}

std::string calibration_file() {
  std::string text = "Synthetic calibration of the bundled example (no real instrument), five channels\n"
                     "Made by examples/generate.cpp together with dane.dat from the model in examples/model.hpp\n"
                     "Site of the example measurements: Warsaw, 52.20 N, 21.00 E, 15 June 2024\n"
                     "Signal unit: volts, the same as the signals in dane.dat\n"
                     "V0 is the signal outside the atmosphere at the mean Sun-Earth distance\n"
                     "Aerosol: Angstrom law, beta and alpha varying smoothly over the day\n"
                     "Line 10: channel wavelengths [nm] (kept for reference only)\n"
                     "Line 11: calibration signals V0 [V], channel order as in dane.dat\n";
  text += std::to_string(ex::channel_count) + "\n";
  text += joined(ex::wavelength, 0) + "\n";
  text += joined(ex::calibration, 4) + "\n";
  return text;
}

// One measurement record, or an empty string with the Sun below 5 deg
// elevation (air mass above 10), where no photometer is pointed.
std::string measurement(ex::Clock clock) {
  const float time = static_cast<float>(clock.minute) / 60.0f + static_cast<float>(clock.hour); // as the run forms it
  const double t = clock.hour + clock.minute / 60.0;                                            // model time [h UT]

  const std::string pressure_text = fixed(ex::pressure(t), 1);
  const float pressure = as_read(pressure_text);
  float zenith = 0, azimuth = 0, air_mass = 0, factor = 0, column = 0;
  (void)tirovan::POSSOL(ex::month, ex::day, time, ex::lon, ex::lat, zenith, azimuth);
  if (!(zenith < 85.0f)) return {};
  tirovan::AIRMASS(zenith, air_mass);
  tirovan::VARSOL(ex::day, ex::month, factor);
  tirovan::ESTIMDOBSON(ex::month, ex::lat, column);

  char head[80];
  std::snprintf(head, sizeof head, "%2d %2d %4d %2d %2d %5.2f %5.2f %s", ex::day, ex::month, ex::year, clock.hour,
                clock.minute, static_cast<double>(ex::lon), static_cast<double>(ex::lat), pressure_text.c_str());
  std::string line = head;
  for (std::size_t i = 0; i < ex::channel_count; ++i) {
    const float lambda = ex::wavelength[i];
    float ozone_coefficient = 0, tau_rayleigh = 0;
    if (lambda >= ozone_table_first && lambda <= ozone_table_last) (void)tirovan::OZON(lambda, ozone_coefficient);
    const float tau_ozone = (column / 1000.0f) * ozone_coefficient;
    tirovan::RAYLEIGH(lambda, pressure, tau_rayleigh);
    const double tau =
        ex::aot(static_cast<double>(lambda), t) + static_cast<double>(tau_ozone) + static_cast<double>(tau_rayleigh);
    const std::string dark_text = fixed(ex::dark(i, t), 4);
    const double signal = static_cast<double>(ex::calibration[i]) * static_cast<double>(factor) *
                              std::exp(-tau * static_cast<double>(air_mass)) +
                          static_cast<double>(as_read(dark_text));
    line += ' ';
    line += fixed(signal, 5);
    line += ' ';
    line += dark_text;
  }
  return line + "\n";
}

} // namespace

// tirovan_example_gen [FOLDER]: the bundled example, twenty measurements.
// tirovan_example_gen --every MINUTES [FOLDER]: the same clear day measured
// every MINUTES from 03:00 to 19:00 UT while the Sun is 5 deg up or more,
// dense enough for a Langley calibration (air mass 2 to 6 on both sides of
// noon).
int main(int argc, char** argv) {
  int every = 0;
  int arg = 1;
  if (argc > 2 && std::string(argv[1]) == "--every") {
    every = std::atoi(argv[2]);
    arg = 3;
    if (every <= 0) {
      std::fprintf(stderr, "tirovan_example_gen: --every needs a positive number of minutes\n");
      return 2;
    }
  }
  const std::string folder = argc > arg ? argv[arg] : ".";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    std::fprintf(stderr, "tirovan_example_gen: cannot create the folder %s: %s\n", folder.c_str(),
                 error.message().c_str());
    return 2;
  }
  std::string records;
  int count = 0;
  if (every == 0) {
    for (int record = 0; record < ex::measurement_count; ++record) {
      const std::string line = measurement(ex::clock_of(record));
      if (line.empty()) {
        std::fprintf(stderr, "tirovan_example_gen: the Sun is low or not up at measurement %d\n", record + 1);
        return 1;
      }
      records += line;
      ++count;
    }
  } else {
    for (int minutes = 3 * 60; minutes <= 19 * 60; minutes += every) {
      const std::string line = measurement({minutes / 60, minutes % 60});
      if (line.empty()) continue;
      records += line;
      ++count;
    }
  }
  std::string data = std::to_string(ex::channel_count) + " " + std::to_string(count) + "   channels, measurements\n";
  data += joined(ex::wavelength, 0) + "   wavelengths [nm]\n";
  data += records;
  if (!write_file(folder + "/lang.dat", calibration_file()) || !write_file(folder + "/dane.dat", data)) {
    std::fprintf(stderr, "tirovan_example_gen: cannot write into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
