#include "driver/retrieval.hpp"

#include <string_view>

#include "atmos/atmos.hpp"
#include "runtime/checked_math.hpp"
#include "runtime/units.hpp"
#include "solar/solar.hpp"
#include "textio/records.hpp"

namespace tirovan::driver {
namespace {

constexpr std::string_view report_text = "Grubosc optyczna aerozolu";
constexpr float minutes_per_hour = 60.0f;
constexpr float dobson_per_atm_cm = 1000.0f; // DU per atmosphere-centimetre

} // namespace

void locate_sun(Measurement& m) {
  m.time = m.minute / minutes_per_hour + m.hour;
  POSSOL(m.month, m.day, m.time, m.lon, m.lat, m.zenith, m.azimuth);
  const float zenith_for_air_mass = m.zenith;
  AIRMASS(zenith_for_air_mass, m.air_mass);
  VARSOL(m.day, m.month, m.factor);
  m.ln_factor = runtime::checked::log(m.factor); // never fails: factor ~ 1
}

float channel_aot(Measurement& m, float wavelength, float calibration_signal, float corrected_signal) {
  namespace checked = runtime::checked;
  // Beer-Lambert: tau = ln(calibration * factor / signal) / air mass, as
  // differences of logarithms in exactly this order.
  const float ln_signal = checked::log(corrected_signal);
  const float ln_calibration = checked::log(calibration_signal);
  m.tau_total = -(((ln_signal - ln_calibration) - m.ln_factor) / m.air_mass);
  OZON(wavelength, m.ozone_coefficient);
  if (m.month < 1 || m.month > 12) throw OzoneMonthRefused{m.month};
  ESTIMDOBSON(m.month, m.lat, m.ozone_column);
  // The column is in DU, thousandths of an atm-cm: divide first, then apply the coefficient.
  m.tau_ozone = (m.ozone_column / dobson_per_atm_cm) * m.ozone_coefficient;
  RAYLEIGH(wavelength, m.pressure, m.tau_rayleigh);
  return (m.tau_total - m.tau_ozone) - m.tau_rayleigh;
}

void retrieve(Measurement& m, std::span<const float> wavelength, std::span<const float> calibration_signal,
              std::span<float> signal, std::span<const float> dark, std::span<float> aot) {
  for (std::size_t i = 0; i < aot.size(); ++i) signal[i] = signal[i] - dark[i];
  locate_sun(m);
  for (std::size_t i = 0; i < aot.size(); ++i) {
    aot[i] = channel_aot(m, wavelength[i], calibration_signal[i], signal[i]);
    textio::write_list(runtime::console(), report_text, aot[i]);
  }
}

} // namespace tirovan::driver
