#include "driver/retrieval.hpp"

#include "runtime/checked_math.hpp"
#include "solar/solar.hpp"

namespace tirovan::driver {
namespace {

constexpr float minutes_per_hour = 60.0f;
constexpr float dobson_per_atm_cm = 1000.0f; // DU per atmosphere-centimetre

} // namespace

SunResult locate_sun(Measurement& m) {
  SunResult result;
  m.time = m.minute / minutes_per_hour + m.hour;
  try {
    result.below_horizon = POSSOL(m.month, m.day, m.time, m.lon, m.lat, m.zenith, m.azimuth);
  } catch (const runtime::Failure& failure) {
    result.stop = Stop{StopCause::solar_position, 0, failure};
    return result;
  }
  try {
    const float zenith_for_air_mass = m.zenith;
    AIRMASS(zenith_for_air_mass, m.air_mass);
  } catch (const runtime::Failure& failure) {
    result.stop = Stop{StopCause::sun_too_low, 0, failure};
    return result;
  }
  VARSOL(m.day, m.month, m.factor);
  m.ln_factor = runtime::checked::log(m.factor); // never fails: factor ~ 1
  return result;
}

ChannelResult channel_aot(Measurement& m, std::size_t channel, float wavelength, float calibration_signal,
                          float corrected_signal) {
  namespace checked = runtime::checked;
  ChannelResult result;
  // Beer-Lambert: tau = ln(calibration * factor / signal) / air mass, as
  // differences of logarithms in exactly this order.
  float ln_signal = 0, ln_calibration = 0;
  try {
    ln_signal = checked::log(corrected_signal);
  } catch (const runtime::Failure& failure) {
    result.stop = Stop{StopCause::signal_not_positive, channel, failure};
    return result;
  }
  try {
    ln_calibration = checked::log(calibration_signal);
  } catch (const runtime::Failure& failure) {
    result.stop = Stop{StopCause::calibration_not_positive, channel, failure};
    return result;
  }
  m.tau_total = -(((ln_signal - ln_calibration) - m.ln_factor) / m.air_mass);
  result.ozone_table = OZON(wavelength, m.ozone_coefficient);
  if (m.month < 1 || m.month > 12) {
    result.stop = Stop{StopCause::month_outside, channel, runtime::Failure({}, runtime::status_bad_data)};
    return result;
  }
  ESTIMDOBSON(m.month, m.lat, m.ozone_column);
  // The column is in DU, thousandths of an atm-cm: divide first, then apply the coefficient.
  m.tau_ozone = (m.ozone_column / dobson_per_atm_cm) * m.ozone_coefficient;
  try {
    RAYLEIGH(wavelength, m.pressure, m.tau_rayleigh);
  } catch (const runtime::Failure& failure) {
    result.stop = Stop{StopCause::rayleigh, channel, failure};
    return result;
  }
  result.aot = (m.tau_total - m.tau_ozone) - m.tau_rayleigh;
  return result;
}

} // namespace tirovan::driver
