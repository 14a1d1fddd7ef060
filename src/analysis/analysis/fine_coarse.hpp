// Fine and coarse mode aerosol optical depth by the spectral deconvolution
// of O'Neill et al. (2003), J. Geophys. Res. 108(D17), 4559, after O'Neill,
// Dubovik & Eck (2001), Appl. Opt. 40, 2368.
//
// With x = ln(lambda / lambda_ref), a second-order least-squares fit
// ln AOT = c0 + c1 x + c2 x^2 over the channels gives at lambda_ref the
// Angstrom exponent alpha = -c1 and its spectral derivative
// alpha' = d alpha / d ln lambda = -2 c2. The AOT at lambda_ref (the
// channels' own, interpolated; exp(c0) when they do not bracket it) is split into a fine and
// a coarse mode, tau = tau_f + tau_c, eta = tau_f / tau, with
//     alpha  = eta alpha_f + (1 - eta) alpha_c,
//     alpha' = eta alpha_f' + (1 - eta) alpha_c' - eta (1 - eta) (alpha_f - alpha_c)^2,
// the coarse mode taken as spectrally flat (alpha_c, alpha_c' fixed) and
// the fine mode's derivative tied to its exponent by the empirical relation
//     alpha_f' = a alpha_f^2 + b alpha_f + c,
//     b = b0 lambda^b1, c = c0 lambda^c1 (lambda [um]).
// Eliminating eta leaves a quadratic in t = alpha_f - alpha_c (see
// fine_coarse.cpp) with one positive root; eta = (alpha - alpha_c) / t,
// clamped to [0, 1] (a fine mode steeper than the relation allows).
//
// The constants below are those recalled from the AERONET SDA technical memo
// (O'Neill, Eck, Smirnov, Holben); they could not be checked against the
// paper here, so every one is an option of `report`.
#pragma once

#include <cstddef>
#include <span>

#include "analysis/angstrom.hpp"

namespace tirovan::analysis {

struct FineCoarseOptions {
  double reference_nm = 500;            // where alpha, alpha' and the modes are given
  double min_nm = 380, max_nm = 1020;   // channels fitted
  std::size_t min_channels = 4;         // a parabola through three points has no residual to judge it by
  double a = -0.22;                     // alpha_f' = a alpha_f^2 + b alpha_f + c
  double b0 = 0.57714, b1 = 1.0275;     // b = b0 lambda^b1; b0 = 10^-0.2388
  double c0 = 1.83357, c1 = -0.4683;    // c = c0 lambda^c1; c0 = 10^0.2633
  double alpha_coarse = -0.15;          // [1] coarse mode exponent
  double alpha_coarse_derivative = 0.0; // [1]
};

struct FineCoarse {
  double alpha = not_computed, alpha_derivative = not_computed; // at the reference wavelength
  double alpha_fine = not_computed;
  double fine_fraction = not_computed; // eta, clamped to [0, 1]
  double aot = not_computed, aot_fine = not_computed, aot_coarse = not_computed;
  std::size_t channels = 0; // entered the fit
};

// Channels within [min_nm, max_nm] with a finite AOT > 0 enter; all values
// stay NaN with fewer than min_channels of them or when the quadratic has no
// admissible root.
[[nodiscard]] FineCoarse deconvolve(std::span<const float> wavelength_nm, std::span<const float> aot,
                                    const FineCoarseOptions& options = {});

} // namespace tirovan::analysis
