// Wavelength dependence of the aerosol optical thickness: the Angstrom (1929)
// law AOT(lambda) = beta * lambda^-alpha, lambda in micrometres, fitted by
// least squares of ln AOT against ln lambda, and AOT interpolated between
// two channels with the local exponent of that pair.
//
// Angstrom, A. (1929), On the atmospheric transmission of sun radiation and
// on dust in the air, Geogr. Ann. 11, 156-166.
#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <vector>

namespace tirovan::analysis {

inline constexpr double not_computed = std::numeric_limits<double>::quiet_NaN();

struct AngstromFit {
  double alpha = not_computed;       // Angstrom exponent [1]: -d ln AOT / d ln lambda
  double beta = not_computed;        // turbidity coefficient [1]: AOT at 1 um on the fitted line
  std::vector<std::size_t> channels; // indices of the channels that entered the fit
};

// Least-squares fit of ln AOT against ln lambda over the channels with
// wavelength in [min_nm, max_nm] [nm] and AOT > 0 (a logarithm needs it).
// alpha and beta stay NaN unless two channels of distinct wavelengths
// enter. Channels are paired by index; the shorter span sets the count.
[[nodiscard]] AngstromFit fit_angstrom(std::span<const float> wavelength_nm, std::span<const float> aot,
                                       double min_nm = 440, double max_nm = 870);

// The same fit, prepared once for a fixed set of wavelengths and then
// applied to many measurements without allocating.
class AngstromWindow {
public:
  AngstromWindow(std::span<const float> wavelength_nm, double min_nm = 440, double max_nm = 870);

  // Channels inside the window, in channel order.
  [[nodiscard]] const std::vector<std::size_t>& channels() const { return channels_; }

  // alpha and beta as fit_angstrom gives them; `used`, when given, gets the
  // number of channels that entered the fit.
  [[nodiscard]] double alpha(std::span<const float> aot, double* beta = nullptr, std::size_t* used = nullptr) const;

private:
  std::vector<std::size_t> channels_;
  std::vector<double> ln_lambda_; // ln(lambda [um]) per channel of the window
};

// The 440-870 nm exponent on real filters: a channel counts when its
// wavelength lies within `tolerance_nm` [nm] of the window, so the nominal
// 440 nm channel of an instrument whose filter sits at 439.4 nm enters (as
// AERONET's 440-870 nm exponent uses its channels at their exact filter
// wavelengths).
inline constexpr double angstrom_window_tolerance_nm = 5.0;
[[nodiscard]] AngstromWindow angstrom_440_870(std::span<const float> wavelength_nm,
                                              double tolerance_nm = angstrom_window_tolerance_nm);

// AOT at `target_nm` [nm]: the AOT of a channel at exactly that wavelength
// (the first such channel), otherwise from the nearest channels below and
// above it, lambda1 < target < lambda2, with the exponent of the pair:
//   AOT = AOT1 (target / lambda1)^-alpha12,  alpha12 = -ln(AOT2 / AOT1) / ln(lambda2 / lambda1).
// NaN when the target is not bracketed or either AOT is <= 0.
class AotInterpolator {
public:
  AotInterpolator(std::span<const float> wavelength_nm, double target_nm);

  [[nodiscard]] double operator()(std::span<const float> aot) const;

  [[nodiscard]] bool available() const { return exact_ || bracketed_; }

private:
  bool exact_ = false, bracketed_ = false;
  std::size_t lower_ = 0, upper_ = 0; // channel indices; lower_ is the exact channel when exact_
  double weight_ = 0;                 // ln(target / lambda1) / ln(lambda2 / lambda1)
};

[[nodiscard]] double interpolate_aot(std::span<const float> wavelength_nm, std::span<const float> aot,
                                     double target_nm);

} // namespace tirovan::analysis
