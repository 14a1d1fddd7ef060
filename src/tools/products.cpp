#include "tools/products.hpp"

#include <algorithm>
#include <cmath>

#include <CLI/CLI.hpp>

#include "atmos/atmos.hpp"
#include "tools/options.hpp"

#include "text.hpp"

namespace tirovan::tools {

Products::Products(std::span<const float> wavelengths, const driver::Calibration& calibration,
                   const ProductOptions& options)
    : wavelengths_(wavelengths.begin(), wavelengths.end()), options_(options),
      water_(analysis::water_channel(wavelengths, options.water)) {
  if (water_ && *water_ < calibration.signal.size() && calibration.signal[*water_] > 0.0f)
    ln_v0_water_ = std::log(static_cast<double>(calibration.signal[*water_]));
}

ProductValues Products::operator()(const Record& r) const {
  ProductValues v;
  if (r.flags.skipped()) return v;
  std::vector<float> aot = r.aot;
  if (water_) {
    const std::size_t i = *water_;
    const double lambda = static_cast<double>(wavelengths_[i]);
    const double tau_a = extrapolate_aot(wavelengths_, r.aot, lambda);
    float tau_r = 0; // the core's Rayleigh optical depth
    RAYLEIGH(wavelengths_[i], r.m.pressure, tau_r);
    const float signal = i < r.signal.size() ? r.signal[i] : 0.0f;
    if (signal > 0.0f && r.m.factor > 0.0f) {
      const double ln_signal = std::log(static_cast<double>(signal)) - std::log(static_cast<double>(r.m.factor));
      v.pw_cm = precipitable_water(ln_v0_water_, ln_signal, static_cast<double>(r.m.air_mass),
                                   static_cast<double>(tau_r) + tau_a, options_.water);
    }
    aot[i] = static_cast<float>(not_computed); // not an aerosol optical depth
  }
  const FineCoarse split = deconvolve(wavelengths_, aot, options_.fine_coarse);
  v.aot_fine = split.aot_fine;
  v.aot_coarse = split.aot_coarse;
  v.fine_fraction = split.fine_fraction;
  return v;
}

void Products::name_columns(std::vector<std::string>& columns) const {
  if (water_) {
    const std::string name = "aot_channel_" + text::shortest(wavelengths_[*water_]) + "nm";
    for (std::string& column : columns)
      if (column == name) column += "_water";
  }
  auto at = std::find(columns.begin(), columns.end(), "source_line");
  columns.insert(at, {"pw_cm", "aot_fine_500nm", "aot_coarse_500nm", "fine_fraction"});
}

void add_product_options(CLI::App& command, ProductOptions& options) {
  const char* water = "Precipitable water (940 nm band: T = exp(-a (m w)^b))";
  command
      .add_option("--pw-a", options.water.a,
                  "band coefficient a [cm^-b]; default for a ~10 nm filter (Bruegge et al. 1992, Halthore et al. "
                  "1997: filter-dependent, set your instrument's)")
      ->capture_default_str()
      ->group(water)
      ->check(finite_in(0, 10, true));
  command.add_option("--pw-b", options.water.b, "band exponent b (0.5: strong-line limit)")
      ->capture_default_str()
      ->group(water)
      ->check(finite_in(0, 1, true));
  command
      .add_option_function<std::vector<double>>(
          "--water-window",
          [&options](const std::vector<double>& range) {
            if (!(range[0] <= range[1])) throw CLI::ValidationError("--water-window", "low above high");
            options.water.min_nm = range[0], options.water.max_nm = range[1];
          },
          "a channel within LOW HIGH [nm] is the water channel (its AOT column is flagged, not an AOT)")
      ->expected(2)
      ->default_str("930 950")
      ->group(water)
      ->check(finite_in(0, 1e5));
  const char* sda = "Fine and coarse modes (O'Neill et al. 2003; needs four channels with AOT > 0 in 380-1020 nm)";
  FineCoarseOptions& f = options.fine_coarse;
  auto constant = [&](const char* name, double& value, const char* text) {
    command.add_option(name, value, text)->capture_default_str()->group(sda)->check(finite_in(-100, 100));
  };
  constant("--sda-a", f.a, "alpha_f' = a alpha_f^2 + b alpha_f + c: a (not checked against the paper)");
  constant("--sda-b0", f.b0, "b = b0 lambda^b1 (lambda in um; not checked)");
  constant("--sda-b1", f.b1, "b1 (not checked)");
  constant("--sda-c0", f.c0, "c = c0 lambda^c1 (not checked)");
  constant("--sda-c1", f.c1, "c1 (not checked)");
  constant("--sda-alpha-coarse", f.alpha_coarse, "coarse mode Angstrom exponent (not checked)");
  constant("--sda-alpha-coarse-derivative", f.alpha_coarse_derivative, "its derivative (not checked)");
}

} // namespace tirovan::tools
