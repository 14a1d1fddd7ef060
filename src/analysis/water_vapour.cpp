#include "analysis/water_vapour.hpp"

#include <cmath>
#include <vector>

#include "analysis/angstrom.hpp"

namespace tirovan::analysis {

std::optional<std::size_t> water_channel(std::span<const float> wavelength_nm, const WaterVapourModel& model) {
  for (std::size_t i = 0; i < wavelength_nm.size(); ++i) {
    const auto w = static_cast<double>(wavelength_nm[i]);
    if (w >= model.min_nm && w <= model.max_nm) return i;
  }
  return std::nullopt;
}

double extrapolate_aot(std::span<const float> wavelength_nm, std::span<const float> aot, double target_nm,
                       double min_nm, double max_nm) {
  const AngstromFit fit = fit_angstrom(wavelength_nm, aot, min_nm, max_nm);
  if (!std::isfinite(fit.alpha) || !std::isfinite(fit.beta)) return not_computed;
  return fit.beta * std::pow(target_nm / 1000.0, -fit.alpha); // beta is the AOT at 1 um
}

double precipitable_water(double ln_v0, double ln_signal, double air_mass, double tau_other,
                          const WaterVapourModel& model) {
  const double water = ln_v0 - ln_signal - air_mass * tau_other; // a (m w)^b
  if (!std::isfinite(water) || !(water > 0) || !(air_mass > 0) || !(model.a > 0) || !(model.b > 0)) return not_computed;
  return std::pow(water / model.a, 1.0 / model.b) / air_mass;
}

LangleyFit fit_water_langley(std::span<const WaterLangleyPoint> points, const WaterVapourModel& model,
                             const LangleyOptions& options) {
  const double b = model.b;
  auto abscissa = [b](double m) { return std::pow(m, b) / b; };
  std::vector<LangleyPoint> modified;
  modified.reserve(points.size());
  for (const WaterLangleyPoint& p : points)
    modified.push_back({abscissa(p.air_mass), p.ln_signal + p.air_mass * p.tau_other});
  LangleyOptions range = options;
  range.min_air_mass = abscissa(options.min_air_mass);
  range.max_air_mass = abscissa(options.max_air_mass);
  // The coverage rule asks for the same share of the fitted range on the
  // transformed axis as on the air-mass axis.
  if (options.max_air_mass > options.min_air_mass) {
    range.min_coverage_span = options.min_coverage_span * (range.max_air_mass - range.min_air_mass) /
                              (options.max_air_mass - options.min_air_mass);
  }
  LangleyFit fit = fit_langley(modified, range);
  fit.tau /= b; // slope against m^b / b is a w^b b
  return fit;
}

} // namespace tirovan::analysis
