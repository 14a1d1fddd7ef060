// Air masses and Rayleigh optical depth in double precision, from their
// published formulas.
#pragma once

namespace tirovan::reference {

// Relative optical air mass [-] of Kasten & Young (1989, Appl. Opt. 28,
// 4735, eq. 3): 1 / (cos z + 0.50572 (96.07995 - z)^-1.6364), z [deg].
// z is the APPARENT (refracted) zenith angle, sun_position()'s
// zenith_apparent_deg, as pvlib documents the formula (get_relative_airmass,
// 'kastenyoung1989 - requires apparent sun zenith', v0.7 to v0.13); the
// paper itself was not at hand to confirm it. Given the true zenith
// instead, it comes out higher by 0.08 % at 60 deg, 0.9 % at 80 deg and
// 2.8 % at 85 deg (sea-level air). 0.99971 at z = 0, 37.92 at z = 90; NaN
// for z outside [0, 90].
[[nodiscard]] double kasten_young_air_mass(double zenith_deg);

// Air mass [-] of a thin absorbing layer at `layer_height_km` above the
// ground (ozone: 22 km), Komhyr, Grass & Leonard (1989, J. Geophys. Res.
// 94(D7)): (1 + h/R) / sqrt(cos^2 z + 2 h/R), R = 6370 km, z the true
// zenith angle [deg]: by Bouguer's invariant n r sin z, n0 sin(apparent z)
// at the ground, about sin(true z), is what reaches the layer, where n = 1.
// NaN for z outside [0, 90] or a layer height not above 0.
[[nodiscard]] double ozone_air_mass(double zenith_deg, double layer_height_km = 22);

// Rayleigh optical depth [-] at `wavelength_nm` [nm] for surface
// `pressure_hpa` [hPa]: Bodhaine et al. (1999, J. Atmos. Oceanic Technol.
// 16, 1854) eq. 30 for sea level (1013.25 hPa), 45 deg latitude and
// 360 ppm CO2, scaled by pressure / 1013.25. NaN for a wavelength not
// above 0 or a negative pressure.
[[nodiscard]] double bodhaine_rayleigh(double wavelength_nm, double pressure_hpa);

} // namespace tirovan::reference
