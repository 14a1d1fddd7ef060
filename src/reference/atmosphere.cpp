#include "reference/atmosphere.hpp"

#include <cmath>
#include <limits>
#include <numbers>

namespace tirovan::reference {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double radians_per_degree = std::numbers::pi / 180.0;

bool zenith_in_sky(double zenith_deg) { return zenith_deg >= 0.0 && zenith_deg <= 90.0; }

} // namespace

double kasten_young_air_mass(double zenith_deg) {
  if (!zenith_in_sky(zenith_deg)) return nan;
  return 1.0 / (std::cos(zenith_deg * radians_per_degree) + 0.50572 * std::pow(96.07995 - zenith_deg, -1.6364));
}

double ozone_air_mass(double zenith_deg, double layer_height_km) {
  constexpr double earth_radius_km = 6370.0;
  if (!zenith_in_sky(zenith_deg) || !(layer_height_km > 0.0) || !std::isfinite(layer_height_km)) return nan;
  const double ratio = layer_height_km / earth_radius_km;
  const double cos_z = std::cos(zenith_deg * radians_per_degree);
  return (1.0 + ratio) / std::sqrt(cos_z * cos_z + 2.0 * ratio);
}

double bodhaine_rayleigh(double wavelength_nm, double pressure_hpa) {
  if (!(wavelength_nm > 0.0) || !std::isfinite(wavelength_nm) || !(pressure_hpa >= 0.0)) return nan;
  const double l2 = (wavelength_nm / 1000.0) * (wavelength_nm / 1000.0); // [um^2]
  const double sea_level =
      0.0021520 * (1.0455996 - 341.29061 / l2 - 0.90230850 * l2) / (1.0 + 0.0027059889 / l2 - 85.968563 * l2);
  return sea_level * pressure_hpa / 1013.25;
}

} // namespace tirovan::reference
