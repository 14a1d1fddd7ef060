// A lang.dat written from a template: the template's eight header lines,
// with its seventh replaced by the per-channel uncertainty of ln V0
// ("ln V0 uncertainty: 0.004 0.004 ..." then a note), its channel count and
// wavelengths, and the new calibration signals V0. `report --uncertainty`
// reads that line back (uncertainty_from_header).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/inputs.hpp"

namespace tirovan::tools {

struct LangTemplate {
  std::vector<std::string> header; // the 8 free-text lines
  std::vector<float> wavelength;   // [nm]
  std::vector<float> signal;       // V0 as the template has them
};

// Reads the template through the core's reader; throws Error.
[[nodiscard]] LangTemplate read_lang_template(const InputFile& file);

inline constexpr std::string_view uncertainty_prefix = "ln V0 uncertainty:";

// "ln V0 uncertainty: u1 u2 ... (note)" with 4 decimals; a NaN as "-".
[[nodiscard]] std::string uncertainty_line(const std::vector<double>& ln_v0_uncertainty, const std::string& note);

// The values of the first header line that starts with the prefix, one
// per channel up to `channels` ("-" gives NaN); none when no line has it.
[[nodiscard]] std::optional<std::vector<double>> uncertainty_from_header(const std::vector<std::string>& header,
                                                                         std::size_t channels);

// The whole lang.dat text from the template, the uncertainty line and V0.
[[nodiscard]] std::string lang_text(const LangTemplate& lang, const std::string& uncertainty,
                                    const std::vector<float>& v0);

} // namespace tirovan::tools
