// Uncertainty of one AOT value, term by term, combined in quadrature
// (the terms are independent):
//
//   AOT = ln(V0 F / V) / m - tau_R - tau_O3
//
//  - calibration: d(ln V0) / m; a 1% error in V0 gives 0.01 / m;
//  - Rayleigh: tau_R dp / p, tau_R proportional to the surface pressure p
//    (Bodhaine et al. 1999, J. Atmos. Oceanic Technol. 16, 1854);
//  - ozone: d(tau_O3) = tau_O3 x the relative error of the column
//    (a climatological column is good to about 5%);
//  - geometry: a zenith error dz moves the air mass by dm and the total
//    optical depth ln(V0 F / V) / m by tau_total dm / m; with the
//    plane-parallel slope dm/dz = m^2 sin z (z in radians), good to a few
//    percent of itself below z = 80 deg, dm / m = m sin z dz.
//
// The WMO traceability limit for a field instrument: 95% of the
// differences from a reference within +-(0.005 + 0.010 / m) (Kazadzis et
// al. 2018, Atmos. Chem. Phys. 18, 3185).
#pragma once

namespace tirovan::analysis {

struct UncertaintyInputs {
  double air_mass = 0;     // m [1]
  double zenith_deg = 0;   // z [deg]
  double pressure_hpa = 0; // p [hPa]
  double tau_total = 0;    // [1] total optical depth of the channel
  double tau_rayleigh = 0; // [1]
  double tau_ozone = 0;    // [1]
};

struct UncertaintySources {
  double ln_v0 = 0;             // [ln signal] 1-sigma calibration error
  double pressure_hpa = 1.0;    // [hPa] 1-sigma
  double ozone_fraction = 0.05; // 1-sigma relative error of the ozone column
  double zenith_deg = 0.1;      // [deg] 1-sigma zenith error of the solar position
};

struct AotUncertainty {
  double calibration = 0, rayleigh = 0, ozone = 0, geometry = 0;
  double total = 0; // quadrature sum [1]
};

[[nodiscard]] AotUncertainty aot_uncertainty(const UncertaintyInputs& in, const UncertaintySources& sources);

// 0.005 + 0.010 / m, the half-width of the WMO band at air mass m.
[[nodiscard]] double wmo_limit(double air_mass);

} // namespace tirovan::analysis
