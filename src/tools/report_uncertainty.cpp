#include "tools/report_uncertainty.hpp"

#include <cmath>

#include <CLI/CLI.hpp>

#include "driver/retrieval.hpp"
#include "text.hpp"
#include "tools/calibration_file.hpp"
#include "tools/options.hpp"

namespace tirovan::tools {

UncertaintyColumns::UncertaintyColumns(const UncertaintyOptions& options, const RecordReader& reader)
    : wavelength_(reader.wavelengths().begin(), reader.wavelengths().end()), sources_(options.sources) {
  const std::size_t n = wavelength_.size();
  if (options.v0 >= 0) {
    ln_v0_.assign(n, options.v0);
    return;
  }
  // lang.dat read again for its header lines (the records' reader keeps none).
  const auto from_file = uncertainty_from_header(read_lang_template(reader.calibration_file()).header, n);
  if (!from_file)
    throw Error(reader.calibration_file().shown + ": no \"" + std::string(uncertainty_prefix) +
                "\" header line; give --v0-uncertainty");
  ln_v0_ = *from_file;
  for (std::size_t i = 0; i < n; ++i)
    if (!std::isfinite(ln_v0_[i]) || ln_v0_[i] < 0)
      throw Error(reader.calibration_file().shown + ": no ln V0 uncertainty for channel " + std::to_string(i + 1) +
                  " (" + text::shortest(wavelength_[i]) + " nm); give --v0-uncertainty");
}

std::vector<std::string> UncertaintyColumns::names() const {
  std::vector<std::string> names;
  for (const float w : wavelength_) names.push_back("aot_" + text::shortest(w) + "nm_unc");
  names.emplace_back("above_wmo_limit");
  return names;
}

void UncertaintyColumns::write(CsvWriter& csv, const Record& r) const {
  bool any = false, above = false;
  for (std::size_t i = 0; i < wavelength_.size(); ++i) {
    if (r.flags.skipped() || i >= r.aot.size() || !std::isfinite(r.aot[i])) {
      csv.empty_field();
      continue;
    }
    // The retrieval's own gas optical depths for this channel and record.
    driver::Measurement gases = r.m;
    (void)driver::channel_aot(gases, i, wavelength_[i], 1.0f, 1.0f);
    UncertaintyInputs in;
    in.air_mass = static_cast<double>(r.m.air_mass);
    in.zenith_deg = static_cast<double>(r.m.zenith);
    in.pressure_hpa = static_cast<double>(r.m.pressure);
    in.tau_rayleigh = static_cast<double>(gases.tau_rayleigh);
    in.tau_ozone = static_cast<double>(gases.tau_ozone);
    in.tau_total = static_cast<double>(r.aot[i]) + in.tau_rayleigh + in.tau_ozone;
    UncertaintySources sources = sources_;
    sources.ln_v0 = ln_v0_[i];
    const AotUncertainty u = aot_uncertainty(in, sources);
    csv.field(static_cast<float>(u.total));
    any = true;
    above = above || u.total > wmo_limit(in.air_mass);
  }
  if (any)
    csv.field(static_cast<std::int64_t>(above ? 1 : 0));
  else
    csv.empty_field();
}

std::unique_ptr<UncertaintyColumns> uncertainty_columns(const UncertaintyOptions& options, const RecordReader& reader) {
  if (!options.enabled) return nullptr;
  return std::make_unique<UncertaintyColumns>(options, reader);
}

void add_uncertainty_options(CLI::App& command, UncertaintyOptions& options) {
  const char* group = "AOT uncertainty (1 sigma, terms in quadrature)";
  command
      .add_flag("--uncertainty", options.enabled,
                "add aot_<wavelength>nm_unc per channel and above_wmo_limit (0.005 + 0.010/m, Kazadzis et al. 2018)")
      ->group(group);
  command
      .add_option("--v0-uncertainty", options.v0,
                  "d(ln V0) of every channel [default: lang.dat's \"ln V0 uncertainty:\" line]")
      ->group(group)
      ->check(finite_in(0, 1));
  command.add_option("--pressure-uncertainty", options.sources.pressure_hpa, "surface pressure error [hPa]")
      ->capture_default_str()
      ->group(group)
      ->check(finite_in(0, 200));
  command.add_option("--ozone-uncertainty", options.sources.ozone_fraction, "relative error of the ozone column")
      ->capture_default_str()
      ->group(group)
      ->check(finite_in(0, 1));
  command
      .add_option("--zenith-uncertainty", options.sources.zenith_deg,
                  "solar zenith error of the retrieval's solar position [deg] (0.1: RMS of its Fourier series)")
      ->capture_default_str()
      ->group(group)
      ->check(finite_in(0, 10));
}

} // namespace tirovan::tools
