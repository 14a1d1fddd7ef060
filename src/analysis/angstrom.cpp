#include "analysis/angstrom.hpp"
#include "analysis/statistics.hpp"

#include <algorithm>
#include <cmath>

namespace tirovan::analysis {
namespace {

constexpr double nm_per_um = 1000.0;

bool in_window(float wavelength, double min_nm, double max_nm) {
  return static_cast<double>(wavelength) >= min_nm && static_cast<double>(wavelength) <= max_nm;
}

} // namespace

AngstromFit fit_angstrom(std::span<const float> wavelength_nm, std::span<const float> aot, double min_nm,
                         double max_nm) {
  AngstromFit fit;
  LineSums sums;
  const std::size_t n = std::min(wavelength_nm.size(), aot.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (!in_window(wavelength_nm[i], min_nm, max_nm) || !(aot[i] > 0) || !std::isfinite(aot[i])) continue;
    sums.add(std::log(static_cast<double>(wavelength_nm[i]) / nm_per_um), std::log(static_cast<double>(aot[i])));
    fit.channels.push_back(i);
  }
  const Line line = sums.line();
  if (std::isfinite(line.slope)) fit.alpha = -line.slope, fit.beta = std::exp(line.intercept);
  return fit;
}

AngstromWindow::AngstromWindow(std::span<const float> wavelength_nm, double min_nm, double max_nm) {
  for (std::size_t i = 0; i < wavelength_nm.size(); ++i) {
    if (!in_window(wavelength_nm[i], min_nm, max_nm)) continue;
    channels_.push_back(i);
    ln_lambda_.push_back(std::log(static_cast<double>(wavelength_nm[i]) / nm_per_um));
  }
}

AngstromWindow angstrom_440_870(std::span<const float> wavelength_nm, double tolerance_nm) {
  return AngstromWindow(wavelength_nm, 440.0 - tolerance_nm, 870.0 + tolerance_nm);
}

double AngstromWindow::alpha(std::span<const float> aot, double* beta, std::size_t* used) const {
  LineSums sums;
  for (std::size_t k = 0; k < channels_.size(); ++k) {
    const std::size_t i = channels_[k];
    if (i >= aot.size() || !(aot[i] > 0) || !std::isfinite(aot[i])) continue;
    sums.add(ln_lambda_[k], std::log(static_cast<double>(aot[i])));
  }
  const Line line = sums.line();
  if (used != nullptr) *used = sums.count();
  if (beta != nullptr) *beta = std::isfinite(line.slope) ? std::exp(line.intercept) : not_computed;
  return std::isfinite(line.slope) ? -line.slope : not_computed;
}

AotInterpolator::AotInterpolator(std::span<const float> wavelength_nm, double target_nm) {
  bool have_lower = false, have_upper = false;
  for (std::size_t i = 0; i < wavelength_nm.size(); ++i) {
    const auto w = static_cast<double>(wavelength_nm[i]);
    if (w == target_nm) {
      exact_ = true, lower_ = i;
      return;
    }
    if (!std::isfinite(w) || !(w > 0)) continue;
    if (w < target_nm && (!have_lower || w > static_cast<double>(wavelength_nm[lower_]))) lower_ = i, have_lower = true;
    if (w > target_nm && (!have_upper || w < static_cast<double>(wavelength_nm[upper_]))) upper_ = i, have_upper = true;
  }
  bracketed_ = have_lower && have_upper;
  if (bracketed_) {
    const auto w1 = static_cast<double>(wavelength_nm[lower_]), w2 = static_cast<double>(wavelength_nm[upper_]);
    weight_ = std::log(target_nm / w1) / std::log(w2 / w1);
  }
}

double AotInterpolator::operator()(std::span<const float> aot) const {
  if (exact_) return lower_ < aot.size() ? static_cast<double>(aot[lower_]) : not_computed;
  if (!bracketed_ || lower_ >= aot.size() || upper_ >= aot.size()) return not_computed;
  const auto a1 = static_cast<double>(aot[lower_]), a2 = static_cast<double>(aot[upper_]);
  if (!(a1 > 0 && a2 > 0)) return not_computed;
  // ln AOT is linear in ln lambda between the pair.
  const double ln_a1 = std::log(a1);
  return std::exp(ln_a1 + weight_ * (std::log(a2) - ln_a1));
}

double interpolate_aot(std::span<const float> wavelength_nm, std::span<const float> aot, double target_nm) {
  return AotInterpolator(wavelength_nm, target_nm)(aot);
}

} // namespace tirovan::analysis
