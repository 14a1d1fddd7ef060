// Accuracy budget of the retrieval's geometry and atmosphere against
// independent references, printed as Markdown tables:
//   (a) solar zenith of POSSOL against the ephemeris tables of
//       bench/ephemeris (PyEphem, no refraction), and the AOT error the
//       zenith error causes through the air mass, d tau = tau dm / m;
//   (b) RAYLEIGH against Bodhaine et al. (1999, J. Atmos. Oceanic Technol.
//       16, 1854) eq. 30, and the AOT bias it gives;
//   (c) VARSOL against (1 AU / r)^2 from the ephemeris;
//   (d) when built with the companion's reference library (ERFA), the
//       precise Sun of tirovan::reference against the same tables: true
//       zenith and distance factor, both tables;
//   (e) with it, the AOT budget of both physics of `tirovan-tools report`:
//       signals made from a known aerosol with the precise Sun (refracted,
//       real calendar), Kasten & Young air mass, Bodhaine Rayleigh depth
//       and the ozone layer's own air mass, retrieved by the core's steps
//       (driver::locate_sun, driver::channel_aot: `--physics core`) and by
//       the reference formula (`--physics reference`), per air mass and
//       wavelength.
//
//   tirovan_accuracy <ephemeris folder> [zenith errors csv]
//
// The optional second argument receives, for warsaw.csv, year, day of the
// year, hour and zenith error [deg] per line, for the plot of
// bench/ephemeris/plot_zenith_error.py.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "atmos/atmos.hpp"
#include "solar/solar.hpp"
#ifdef TIROVAN_ACCURACY_REFERENCE
#include "driver/retrieval.hpp"
#include "reference/atmosphere.hpp"
#include "reference/sun.hpp"
#endif

namespace {

struct Reference {
  int year = 0, month = 0, day = 0;
  double hour = 0, lon = 0, lat = 0; // [h UT], [deg E], [deg N]
  double zenith = 0;                 // [deg], no refraction
  double distance = 0;               // [AU]
};

std::vector<Reference> read_table(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "tirovan_accuracy: cannot read %s\n", path.c_str());
    std::exit(1);
  }
  std::vector<Reference> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#' || line[0] == 'y') continue; // provenance, column names
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream fields(line);
    Reference r;
    if (fields >> r.year >> r.month >> r.day >> r.hour >> r.lon >> r.lat >> r.zenith >> r.distance) rows.push_back(r);
  }
  return rows;
}

// Zenith angle [deg] as the run computes it: POSSOL's day count (no leap
// day) and series, without its console warning for a Sun below the horizon.
double program_zenith(const Reference& r) {
  std::int32_t doy = 0;
  tirovan::DAY_NUMBER(r.day, r.month, 0, doy);
  float zenith = 0, azimuth = 0;
  tirovan::POS_FFT(doy, static_cast<float>(r.hour), static_cast<float>(r.lon), static_cast<float>(r.lat), zenith,
                   azimuth);
  return static_cast<double>(zenith);
}

double air_mass(double zenith) {
  float m = 0;
  tirovan::AIRMASS(static_cast<float>(zenith), m);
  return static_cast<double>(m);
}

struct Stats {
  double max = 0, sum_squares = 0, sum = 0;
  long count = 0;
  void add(double error) {
    max = std::max(max, std::abs(error));
    sum_squares += error * error;
    sum += error;
    ++count;
  }
  [[nodiscard]] double rms() const { return count ? std::sqrt(sum_squares / static_cast<double>(count)) : 0.0; }
  [[nodiscard]] double mean() const { return count ? sum / static_cast<double>(count) : 0.0; }
};

bool leap_year_from_march(const Reference& r) { return r.year % 4 == 0 && r.month > 2; }

// Bodhaine et al. (1999) eq. 30: sea level (1013.25 hPa), 45 deg, 360 ppm CO2.
double bodhaine(double wavelength_nm) {
  const double l2 = (wavelength_nm / 1000.0) * (wavelength_nm / 1000.0); // [um^2]
  return 0.0021520 * (1.0455996 - 341.29061 / l2 - 0.90230850 * l2) / (1.0 + 0.0027059889 / l2 - 85.968563 * l2);
}

void zenith_budget(const std::vector<Reference>& rows) {
  Stats all, leap_march, rest;
  for (const Reference& r : rows) {
    const double error = program_zenith(r) - r.zenith;
    all.add(error);
    (leap_year_from_march(r) ? leap_march : rest).add(error);
  }
  std::printf("(a) Solar zenith angle, POSSOL - ephemeris, %ld random instants 2020-2030, |lat| <= 75 deg, Sun up\n\n",
              all.count);
  std::printf("| instants | count | max abs [deg] | RMS [deg] | mean [deg] |\n|---|---:|---:|---:|---:|\n");
  std::printf("| all | %ld | %.3f | %.3f | %+.3f |\n", all.count, all.max, all.rms(), all.mean());
  std::printf("| leap years, March to December | %ld | %.3f | %.3f | %+.3f |\n", leap_march.count, leap_march.max,
              leap_march.rms(), leap_march.mean());
  std::printf("| other dates | %ld | %.3f | %.3f | %+.3f |\n\n", rest.count, rest.max, rest.rms(), rest.mean());

  constexpr double tau = 0.3; // total optical depth
  std::printf("AOT error from the zenith error through the air mass, total optical depth %.1f:\n\n", tau);
  std::printf("| zenith [deg] | air mass | AOT error, RMS zenith error | AOT error, max zenith error |\n"
              "|---:|---:|---:|---:|\n");
  for (const double zenith : {30.0, 60.0, 75.0}) {
    const double m = air_mass(zenith);
    const auto aot_error = [&](double dz) { return tau * std::abs(air_mass(zenith + dz) - m) / m; };
    std::printf("| %.0f | %.3f | %.4f | %.4f |\n", zenith, m, aot_error(all.rms()), aot_error(all.max));
  }
  std::printf("\n");
}

void rayleigh_budget() {
  std::printf("(b) Rayleigh optical depth at 1013.25 hPa, RAYLEIGH against Bodhaine et al. (1999) eq. 30\n\n");
  std::printf("| wavelength [nm] | RAYLEIGH | Bodhaine | difference [%%] | AOT bias |\n|---:|---:|---:|---:|---:|\n");
  for (const double wavelength : {340.0, 380.0, 440.0, 500.0, 675.0, 870.0, 1020.0}) {
    float tau = 0;
    tirovan::RAYLEIGH(static_cast<float>(wavelength), 1013.25f, tau);
    const double program = static_cast<double>(tau);
    const double reference = bodhaine(wavelength);
    // The run subtracts `program` where `reference` belongs: AOT comes out high by the difference.
    std::printf("| %.0f | %.5f | %.5f | %+.2f | %+.4f |\n", wavelength, program, reference,
                100.0 * (program - reference) / reference, reference - program);
  }
  std::printf("\n");
}

void distance_budget(const std::vector<Reference>& rows) {
  Stats relative;
  for (const Reference& r : rows) {
    float factor = 0;
    tirovan::VARSOL(r.day, r.month, factor);
    const double reference = 1.0 / (r.distance * r.distance);
    relative.add(static_cast<double>(factor) / reference - 1.0);
  }
  std::printf("(c) Sun-Earth distance factor, VARSOL against (1 AU / r)^2, the %ld dates of (a)\n\n", relative.count);
  std::printf("| max abs [%%] | RMS [%%] | mean [%%] | AOT error at air mass 1, max | RMS |\n"
              "|---:|---:|---:|---:|---:|\n");
  // tau = ln(V0 F / V) / m: a relative error e of F moves tau by ln(1 + e) / m.
  std::printf("| %.3f | %.3f | %+.3f | %.5f | %.5f |\n\n", 100.0 * relative.max, 100.0 * relative.rms(),
              100.0 * relative.mean(), std::log1p(relative.max), std::log1p(relative.rms()));
}

#ifdef TIROVAN_ACCURACY_REFERENCE
void reference_budget(const std::vector<Reference>& random, const std::vector<Reference>& warsaw) {
  std::printf("(d) Precise Sun (tirovan::reference, ERFA), true zenith and (1 AU / r)^2 - ephemeris\n\n");
  std::printf("| table | count | zenith max abs [deg] | RMS [deg] | mean [deg] | factor max abs | RMS |\n"
              "|---|---:|---:|---:|---:|---:|---:|\n");
  const auto row = [](const char* name, const std::vector<Reference>& rows) {
    Stats zenith, factor;
    for (const Reference& r : rows) {
      const auto sun = tirovan::reference::sun_position({r.year, r.month, r.day, r.hour}, r.lon, r.lat);
      zenith.add(sun.zenith_true_deg - r.zenith);
      factor.add(sun.factor - 1.0 / (r.distance * r.distance));
    }
    std::printf("| %s | %ld | %.5f | %.5f | %+.6f | %.1e | %.1e |\n", name, zenith.count, zenith.max, zenith.rms(),
                zenith.mean(), factor.max, factor.rms());
  };
  row("random", random);
  row("warsaw", warsaw);
  std::printf("\n");
}

void aot_budget(const std::vector<std::vector<Reference>*>& tables) {
  constexpr double wavelengths[] = {440, 500, 675, 870, 1020};
  constexpr double pressure = 1013.25;            // [hPa]
  constexpr float calibration = 10000.0f;         // V0 at 1 au
  constexpr double bins[] = {1.0, 1.5, 2.5, 5.0}; // air-mass bounds
  constexpr std::size_t n_bins = 3, n_wl = std::size(wavelengths);
  Stats core[n_bins][n_wl], precise[n_bins][n_wl];
  for (const std::vector<Reference>* rows : tables) {
    for (const Reference& r : *rows) {
      const auto sun = tirovan::reference::sun_position({r.year, r.month, r.day, r.hour}, r.lon, r.lat, 0, pressure);
      const double m_a = tirovan::reference::kasten_young_air_mass(sun.zenith_apparent_deg);
      const double m_o3 = tirovan::reference::ozone_air_mass(sun.zenith_true_deg);
      if (!(m_a >= bins[0] && m_a <= bins[n_bins])) continue;
      std::size_t bin = 0;
      while (m_a >= bins[bin + 1] && bin + 1 < n_bins) ++bin;
      float column = 0;
      tirovan::ESTIMDOBSON(r.month, static_cast<float>(r.lat), column);
      for (std::size_t w = 0; w < n_wl; ++w) {
        const double truth = 0.2 * std::pow(wavelengths[w] / 500.0, -1.3); // Angstrom exponent 1.3
        float coefficient = 0;
        (void)tirovan::OZON(static_cast<float>(wavelengths[w]), coefficient);
        const double tau_ozone = static_cast<double>(column) / 1000.0 * static_cast<double>(coefficient);
        const double tau_rayleigh = tirovan::reference::bodhaine_rayleigh(wavelengths[w], pressure);
        const auto signal = static_cast<float>(static_cast<double>(calibration) * sun.factor *
                                               std::exp(-(truth + tau_rayleigh) * m_a - tau_ozone * m_o3));
        tirovan::driver::Measurement m;
        m.day = r.day, m.month = r.month, m.year = r.year;
        m.hour = static_cast<float>(r.hour), m.minute = 0;
        m.lon = static_cast<float>(r.lon), m.lat = static_cast<float>(r.lat), m.pressure = static_cast<float>(pressure);
        if (tirovan::driver::locate_sun(m).stop) continue;
        const auto retrieved =
            tirovan::driver::channel_aot(m, w, static_cast<float>(wavelengths[w]), calibration, signal);
        if (retrieved.stop) continue;
        core[bin][w].add(static_cast<double>(retrieved.aot) - truth);
        const double ln_ratio = std::log(static_cast<double>(calibration) * sun.factor / static_cast<double>(signal));
        precise[bin][w].add((ln_ratio - m_o3 * tau_ozone - m_a * tau_rayleigh) / m_a - truth);
      }
    }
  }
  std::printf("(e) AOT error of the two physics of `report`, retrieved - true, true AOT 0.2 at 500 nm (Angstrom 1.3),\n"
              "1013.25 hPa, instants of both tables with Kasten & Young air mass 1-5\n\n");
  std::printf("| air mass | wavelength [nm] | count | core mean | core RMS | core max abs | reference mean | reference "
              "max abs |\n|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (std::size_t b = 0; b < n_bins; ++b)
    for (std::size_t w = 0; w < n_wl; ++w)
      std::printf("| %.1f-%.1f | %.0f | %ld | %+.4f | %.4f | %.4f | %+.1e | %.1e |\n", bins[b], bins[b + 1],
                  wavelengths[w], core[b][w].count, core[b][w].mean(), core[b][w].rms(), core[b][w].max,
                  precise[b][w].mean(), precise[b][w].max);
  std::printf("\n");
}
#endif

void write_zenith_errors(const std::vector<Reference>& rows, const std::string& path) {
  std::ofstream out(path);
  out << "year,doy,hour,error\n";
  for (const Reference& r : rows) {
    std::int32_t doy = 0;
    tirovan::JULIANDAY(r.year, r.month, r.day, doy); // the calendar day of the year, leap day included
    char line[80];
    std::snprintf(line, sizeof line, "%d,%d,%g,%.5f\n", r.year, doy, r.hour, program_zenith(r) - r.zenith);
    out << line;
  }
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tirovan_accuracy <ephemeris folder> [zenith errors csv]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const std::vector<Reference> random = read_table(folder + "/random.csv");
  zenith_budget(random);
  rayleigh_budget();
  distance_budget(random);
  const std::vector<Reference> warsaw = read_table(folder + "/warsaw.csv");
#ifdef TIROVAN_ACCURACY_REFERENCE
  reference_budget(random, warsaw);
  {
    std::vector<Reference> both_random = random, both_warsaw = warsaw;
    aot_budget({&both_random, &both_warsaw});
  }
#endif
  if (argc > 2) write_zenith_errors(warsaw, argv[2]);
  return 0;
}
