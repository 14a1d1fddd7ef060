#include "driver/retrieval.hpp"

#include <string_view>

#include "atmos/atmos.hpp"
#include "solar/solar.hpp"
#include "textio/checked_math.hpp"
#include "textio/output.hpp"

namespace tirovan::driver {
namespace {

constexpr std::string_view report_text = "Grubosc optyczna aerozolu";
constexpr float minutes_per_hour = 60.0f;
constexpr float dobson_per_atm_cm = 1000.0f; // DU per atmosphere-centimetre

} // namespace

void retrieve(Measurement& m, std::span<const float> wavelength, std::span<const float> calibration_signal,
              std::span<float> signal, std::span<const float> dark, std::span<float> aot) {
  namespace checked = textio::checked;
  const std::size_t n = aot.size();
  m.time = m.minute / minutes_per_hour + m.hour;
  for (std::size_t i = 0; i < n; ++i) signal[i] = signal[i] - dark[i];

  POSSOL(m.month, m.day, m.time, m.lon, m.lat, m.zenith, m.azimuth);
  const float zenith_for_air_mass = m.zenith;
  AIRMASS(zenith_for_air_mass, m.air_mass);
  VARSOL(m.day, m.month, m.factor);

  const float ln_factor = checked::log(m.factor); // the same for every channel; never fails (factor ~ 1)
  for (std::size_t i = 0; i < n; ++i) {
    // Beer-Lambert: tau = ln(calibration * factor / signal) / air mass, as
    // differences of logarithms in exactly this order.
    const float ln_signal = checked::log(signal[i]);
    const float ln_calibration = checked::log(calibration_signal[i]);
    m.tau_total = -(((ln_signal - ln_calibration) - ln_factor) / m.air_mass);
    OZON(wavelength[i], m.ozone_coefficient);
    ESTIMDOBSON(m.month, m.lat, m.ozone_column);
    // The column is in DU, thousandths of an atm-cm: divide first, then apply the coefficient.
    m.tau_ozone = (m.ozone_column / dobson_per_atm_cm) * m.ozone_coefficient;
    RAYLEIGH(wavelength[i], m.pressure, m.tau_rayleigh);
    aot[i] = (m.tau_total - m.tau_ozone) - m.tau_rayleigh;
    textio::write_list(textio::console(), report_text, aot[i]);
  }
}

} // namespace tirovan::driver
