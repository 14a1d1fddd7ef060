// `transfer REF_DIR FIELD_DIR -o OUT`: calibration transfer from a
// reference instrument to a field instrument side by side at one site
// (Pietras et al., NASA cross-calibration).
//
// Both follow Beer-Lambert, V = V0 F exp(-tau m). For a field channel at
// wavelength lf paired with the reference channel at lr (|lf - lr| within
// the tolerance), measured within a minute of each other:
//
//   ln V0_field = ln V0_ref + ln(V_field / V_ref) - ln(F_field / F_ref)
//                 + (m_field - m_ref) tau_ref + m_field (tau(lf) - tau(lr))
//
// with tau_ref = AOT_ref(lr) + tau_R(lr) + tau_O3(lr) the reference's total
// optical depth. Within a minute F_field = F_ref to 1e-7 and the air masses
// agree closely, so the first line, V0_ref times the signal ratio, carries
// the transfer. The last term corrects a wavelength mismatch: the aerosol
// part by the Angstrom law with the reference's own exponent alpha (from
// its AOT), AOT_ref(lr) ((lf / lr)^-alpha - 1), plus the difference of the
// retrieval's Rayleigh and ozone optical depths at lf and lr.
//
// Only stable periods enter: the reference's AOT(500) has a standard
// deviation below --stable-sd over +-stable-minutes. The field V0 is exp of
// the mean of the pairs' ln V0_field after dropping those beyond 3 x 1.4826
// MAD of their median; its uncertainty combines the standard error of
// that mean and the reference's own ln V0 uncertainty (its lang.dat line
// "ln V0 uncertainty:", when present) in quadrature.
//
// Exit status: 0 done, 1 some field channel without a partner (the
// template's V0 kept), 2 an input or output error, or fewer than
// --min-pairs stable pairs for a paired channel.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace tirovan::tools {

struct TransferCommand {
  std::string reference_dir, field_dir, output;
  double window_minutes = 1;  // [min] pairing window
  double tolerance_nm = 5;    // [nm] channel pairing
  double stable_sd = 0.01;    // [1] AOT(500) sd limit of a stable period
  double stable_minutes = 10; // [min] half-width of the stability window
  std::size_t min_pairs = 20;
};

int run_transfer(const TransferCommand& command, std::ostream& out, std::ostream& err);

void add_transfer_command(CLI::App& app);

} // namespace tirovan::tools
