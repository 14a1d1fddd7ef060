#include "analysis/uncertainty.hpp"

#include <cmath>
#include <numbers>

namespace tirovan::analysis {

AotUncertainty aot_uncertainty(const UncertaintyInputs& in, const UncertaintySources& sources) {
  AotUncertainty u;
  const double m = in.air_mass;
  u.calibration = std::abs(sources.ln_v0 / m);
  u.rayleigh = std::abs(in.tau_rayleigh * sources.pressure_hpa / in.pressure_hpa);
  u.ozone = std::abs(in.tau_ozone * sources.ozone_fraction);
  const double dz = sources.zenith_deg * std::numbers::pi / 180.0;
  const double relative_air_mass = m * std::sin(in.zenith_deg * std::numbers::pi / 180.0) * dz;
  u.geometry = std::abs(in.tau_total * relative_air_mass);
  u.total =
      std::sqrt(u.calibration * u.calibration + u.rayleigh * u.rayleigh + u.ozone * u.ozone + u.geometry * u.geometry);
  return u;
}

double wmo_limit(double air_mass) { return 0.005 + 0.010 / air_mass; }

} // namespace tirovan::analysis
