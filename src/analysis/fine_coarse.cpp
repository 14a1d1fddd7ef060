#include "analysis/fine_coarse.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/statistics.hpp"

namespace tirovan::analysis {

FineCoarse deconvolve(std::span<const float> wavelength_nm, std::span<const float> aot,
                      const FineCoarseOptions& options) {
  FineCoarse r;
  std::vector<double> x, y;
  const std::size_t n = std::min(wavelength_nm.size(), aot.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto w = static_cast<double>(wavelength_nm[i]), t = static_cast<double>(aot[i]);
    if (!(w >= options.min_nm && w <= options.max_nm) || !std::isfinite(t) || !(t > 0)) continue;
    x.push_back(std::log(w / options.reference_nm));
    y.push_back(std::log(t));
  }
  r.channels = x.size();
  if (r.channels < std::max<std::size_t>(options.min_channels, 3)) return r;
  const auto c = fit_parabola(x, y);
  if (!c) return r;
  // The AOT at the reference is the channels' own (interpolated between the
  // bracketing channels), the parabola's only when they do not bracket it:
  // the parabola's exponent and curvature are its products, not its level.
  const double measured = interpolate_aot(wavelength_nm, aot, options.reference_nm);
  const double alpha = -(*c)[1], alpha_d = -2 * (*c)[2], tau = std::isfinite(measured) ? measured : std::exp((*c)[0]);
  r.alpha = alpha, r.alpha_derivative = alpha_d, r.aot = tau;

  // eta = D / t with D = alpha - alpha_c; eta (1 - eta) t^2 = D (t - D).
  // alpha' - alpha_c' = (D / t)(alpha_f'(alpha_c + t) - alpha_c') - D (t - D);
  // times t: A t^2 + B t + C = 0 with
  //   A = D (a - 1), B = D (2 a alpha_c + b) + D^2 - (alpha' - alpha_c'),
  //   C = D (a alpha_c^2 + b alpha_c + c - alpha_c').
  // With a < 1 and C > 0 the roots have opposite signs: one positive root.
  const double lambda_um = options.reference_nm / 1000;
  const double a = options.a, b = options.b0 * std::pow(lambda_um, options.b1),
               cc = options.c0 * std::pow(lambda_um, options.c1);
  const double ac = options.alpha_coarse, acd = options.alpha_coarse_derivative;
  const double d = alpha - ac;
  if (!(d > 0)) { // no fine mode to speak of: all coarse
    r.alpha_fine = not_computed;
    r.fine_fraction = 0;
    r.aot_fine = 0;
    r.aot_coarse = tau;
    return r;
  }
  const double qa = d * (a - 1), qb = d * (2 * a * ac + b) + d * d - (alpha_d - acd),
               qc = d * (a * ac * ac + b * ac + cc - acd);
  const double disc = qb * qb - 4 * qa * qc;
  if (!(disc >= 0) || qa == 0) return r;
  const double q = -0.5 * (qb + std::copysign(std::sqrt(disc), qb)); // no cancellation
  const double roots[] = {q / qa, q != 0 ? qc / q : not_computed};
  double t = not_computed;
  for (const double root : roots)
    if (std::isfinite(root) && root > 0) t = root;
  if (!std::isfinite(t)) return r;
  r.alpha_fine = ac + t;
  r.fine_fraction = std::clamp(d / t, 0.0, 1.0);
  r.aot_fine = r.fine_fraction * tau;
  r.aot_coarse = tau - r.aot_fine;
  return r;
}

} // namespace tirovan::analysis
