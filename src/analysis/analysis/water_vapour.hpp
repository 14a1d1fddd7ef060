// Precipitable water from a sun photometer's channel in the 940 nm water
// vapour band.
//
// The band's transmittance over a filter of about 10 nm does not follow
// Beer-Lambert: for a slant water path u = m w (m the relative optical air
// mass, used for water vapour too; w the precipitable water [cm]) it is
// close to
//     T_w = exp(-a (m w)^b),
// with a and b fitted to a radiative-transfer model of the filter (Reagan et
// al. 1987; Bruegge et al. 1992, J. Appl. Meteorol. 31, 157-165, whose
// modified Langley technique and model give the water vapour optical depth;
// Halthore et al. 1997, J. Geophys. Res. 102, 4343-4352). b is near 0.5 in
// the strong-line limit of the band and a near 0.6 for filters of about
// 10 nm; both depend on the filter and are the user's to set.
//
// With the signal V, the distance factor F and the calibration V0 of the
// channel, the Rayleigh optical depth tau_R and the aerosol optical depth
// tau_A at the channel's wavelength:
//     ln V - ln F = ln V0 - m (tau_R + tau_A) - a (m w)^b,
// so that a (m w)^b = ln V0 - (ln V - ln F) - m (tau_R + tau_A), and
//     w = ( [ln V0 - ln V + ln F - m (tau_R + tau_A)] / a )^(1/b) / m.
//
// The channel's own V0 comes from the modified Langley plot (Reagan et al.
// 1987; Bruegge et al. 1992): y = ln V - ln F + m (tau_R + tau_A) against
// m^b is the line ln V0 - a w^b m^b for a steady water column.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "analysis/langley.hpp"

namespace tirovan::analysis {

struct WaterVapourModel {
  double a = 0.6; // [cm^-b] band coefficient of T_w = exp(-a (m w)^b)
  double b = 0.5; // [1] band exponent
  // A channel whose wavelength is within [min_nm, max_nm] is the water channel.
  double min_nm = 930, max_nm = 950;
};

// The first channel within the model's window; none without.
[[nodiscard]] std::optional<std::size_t> water_channel(std::span<const float> wavelength_nm,
                                                       const WaterVapourModel& model);

// The aerosol optical depth at `target_nm` extrapolated along the Angstrom
// law fitted (least squares of ln AOT on ln lambda) over the channels within
// [min_nm, max_nm] with AOT > 0; NaN unless two distinct wavelengths enter.
[[nodiscard]] double extrapolate_aot(std::span<const float> wavelength_nm, std::span<const float> aot, double target_nm,
                                     double min_nm = 440, double max_nm = 870);

// Precipitable water [cm] of one measurement of the water channel:
// `ln_v0` and `ln_signal` = ln V - ln F in the same unit, `air_mass` m,
// `tau_other` = tau_R + tau_A at the channel. NaN when the water term is
// not positive (no absorption left, or a bad calibration) or an input is
// not finite.
[[nodiscard]] double precipitable_water(double ln_v0, double ln_signal, double air_mass, double tau_other,
                                        const WaterVapourModel& model);

// One measurement of the water channel on a modified Langley plot.
struct WaterLangleyPoint {
  double air_mass = 0;  // m [1]
  double ln_signal = 0; // ln V - ln F
  double tau_other = 0; // tau_R + tau_A at the channel [1]
};

// The modified Langley fit of a half-day, by the rules of fit_langley
// (range in air mass, rejection, acceptance). The abscissa is x = m^b / b,
// which advances like m near m = 1, so that the air-mass span rule keeps
// its meaning; the returned fit's ln_v0 is ln V0 and its tau is a w^b (the
// slope against m^b). Roles are per input point.
[[nodiscard]] LangleyFit fit_water_langley(std::span<const WaterLangleyPoint> points, const WaterVapourModel& model,
                                           const LangleyOptions& options = {});

} // namespace tirovan::analysis
