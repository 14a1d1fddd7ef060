#include "tools/calibration_file.hpp"

#include <cmath>
#include <cstdlib>
#include <memory>

#include "runtime/failure.hpp"
#include "text.hpp"

namespace tirovan::tools {

LangTemplate read_lang_template(const InputFile& file) {
  std::unique_ptr<driver::InputText> reader = open_input(file, runtime::unit_calibration, {true, false});
  try {
    driver::Calibration c = driver::read_calibration(*reader);
    LangTemplate lang;
    lang.header = c.header;
    lang.header.resize(8);
    const auto n = static_cast<std::ptrdiff_t>(c.aux_at.size());
    lang.wavelength.assign(c.aux.begin(), c.aux.begin() + n);
    lang.signal.assign(c.signal.begin(), c.signal.begin() + n);
    if (lang.wavelength.empty()) throw Error(file.shown + ": no channel in the template");
    return lang;
  } catch (const textio::ReadFailure& failure) {
    throw Error(read_failure_text(file, failure, reader->part()));
  } catch (const runtime::Failure& failure) {
    throw Error(failure_text(file, *reader, failure));
  }
}

std::string uncertainty_line(const std::vector<double>& ln_v0_uncertainty, const std::string& note) {
  std::string line(uncertainty_prefix);
  for (const double u : ln_v0_uncertainty) {
    line.push_back(' ');
    line.append(std::isfinite(u) ? text::fixed(u, 4) : std::string("-"));
  }
  if (!note.empty()) line.append(" (").append(note).append(")");
  return line;
}

std::optional<std::vector<double>> uncertainty_from_header(const std::vector<std::string>& header,
                                                           std::size_t channels) {
  for (const std::string& line : header) {
    if (line.rfind(uncertainty_prefix, 0) != 0) continue;
    std::vector<double> values;
    const char* at = line.c_str() + uncertainty_prefix.size();
    while (values.size() < channels) {
      while (*at == ' ') ++at;
      if (*at == '-' && (at[1] == ' ' || at[1] == '\0')) {
        values.push_back(std::nan(""));
        ++at;
        continue;
      }
      char* end = nullptr;
      const double v = std::strtod(at, &end);
      if (end == at) break;
      values.push_back(v);
      at = end;
    }
    values.resize(channels, std::nan(""));
    return values;
  }
  return std::nullopt;
}

std::string lang_text(const LangTemplate& lang, const std::string& uncertainty, const std::vector<float>& v0) {
  std::string out;
  for (std::size_t k = 0; k < 8; ++k) out += (k == 6 ? uncertainty : lang.header[k]) + "\n";
  out += std::to_string(lang.wavelength.size()) + "\n" + text::list(lang.wavelength) + "\n" + text::list(v0) + "\n";
  return out;
}

} // namespace tirovan::tools
