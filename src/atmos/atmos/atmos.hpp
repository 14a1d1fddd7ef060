// Atmospheric attenuation: relative optical air mass, Rayleigh optical
// depth, ozone absorption coefficient and climatological ozone column.
//
// Inputs come first and outputs last. Arithmetic is single precision in the
// stated order; a mathematical function outside its domain throws the
// run-time MATH failure, a zero wavelength in RAYLEIGH the failure 696
// (runtime/failure.hpp).
#pragma once

#include <cstdint>

namespace tirovan {

// Relative optical air mass [-] for a solar `zenith` angle [deg], after
// Kasten & Young (1989): 1 / (sin h + 0.50572 (h + 6.07995)^-1.6364), h the
// elevation [deg]. No clamp at the horizon: it peaks near 91.8 deg (64.9)
// and falls toward 0 near 96.08 deg; beyond that the power has no real
// value and throws "- pow: DOMAIN". Note 0.999712, not 1, at the zenith.
void AIRMASS(float zenith, float& air_mass);

// Rayleigh optical depth [-] at `wavelength` [nm] for surface `pressure`
// [hPa]: (0.008436 l^-4 - 0.0001225 l^-5 + 0.00014 l^-6) * p / 1013, l in
// micrometres. A zero wavelength throws failure 696.
void RAYLEIGH(float wavelength, float pressure, float& tau_rayleigh);

// Where a wavelength falls against the ozone coefficient table.
enum class OzoneTable : std::uint8_t { inside, below, above };

// Ozone absorption coefficient [optical depth per 1000 DU] at `wavelength`
// [nm], interpolated linearly in a table over 445-790 nm. Outside the table
// the coefficient is 0 and the result says on which side (the caller
// warns). A NaN wavelength matches nothing, leaves `coefficient` unchanged
// and counts as inside.
OzoneTable OZON(float wavelength, float& coefficient);

// Climatological total ozone column [DU] for `month` [1..12] at `lat` [deg,
// north positive]: monthly values on a 5 deg grid, 85 N to 85 S,
// interpolated linearly in latitude, the polar node value held poleward of
// +-85 deg. A month outside 1..12 (no column in the table) or a NaN
// latitude gives NaN; the table is never read outside its bounds.
void ESTIMDOBSON(std::int32_t month, float lat, float& ozone_column);

} // namespace tirovan
