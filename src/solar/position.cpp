// Solar position from the day of the year, time and site.
//
// Every named intermediate is a float, formed in the order written; the
// constants are the single-precision values below and no others (pi as
// 3.1415927, the year as 365 days, the degree as 0.017453292 rad).

#include "solar/solar.hpp"
#include "spencer_series.hpp"

#include "runtime/checked_math.hpp"
#include "wrapping.hpp"

namespace tirovan {
namespace {

namespace checked = runtime::checked;

constexpr float degrees_per_hour = 15.0f;
constexpr float degree = 0.017453292f; // [rad]; also divides radians back to degrees
constexpr float two_pi = 6.2831855f;
constexpr float pi = 3.1415927f;
constexpr float days_per_year = 365.0f; // 365, not 365.25: the day angle of Spencer (1971)
constexpr float noon = 12.0f;           // [h]
constexpr float minutes_per_hour = 60.0f;
constexpr float half_circle = 180.0f; // [deg]
constexpr float right_angle = 90.0f;  // [deg]

// Spencer (1971) Fourier coefficients [rad]: equation of time ...
constexpr float eot_0 = 0.000075f;
constexpr float eot_cos1 = 0.001868f;
constexpr float eot_sin1 = -0.032077f;
constexpr float eot_cos2 = -0.014615f;
constexpr float eot_sin2 = -0.040849f;
// ... and solar declination.
constexpr float dec_0 = 0.006918f;
constexpr float dec_cos1 = -0.399912f;
constexpr float dec_sin1 = 0.070257f;
constexpr float dec_cos2 = -0.006758f;
constexpr float dec_sin2 = 0.000907f;
constexpr float dec_cos3 = -0.002697f;
constexpr float dec_sin3 = 0.00148f;

} // namespace

void DAY_NUMBER(std::int32_t day, std::int32_t month, std::int32_t year, std::int32_t& doy) {
  doy = solar_detail::day_of_common_year(day, month);
  if (month <= 2) return; // no leap day before March
  if (year != 0 && year % 4 == 0) doy = solar_detail::wrap_add(doy, 1);
}

SpencerSeries spencer_series(std::int32_t doy) {
  SpencerSeries series{};
  const float day_angle = (static_cast<float>(doy) * two_pi) / days_per_year; // G [rad]
  const float day_angle_2 = day_angle * 2.0f;
  const float day_angle_3 = day_angle * 3.0f;
  const float cos_g = checked::cos(day_angle);
  const float sin_g = checked::sin(day_angle);
  const float cos_2g = checked::cos(day_angle_2);
  const float sin_2g = checked::sin(day_angle_2);

  // Equation of time [rad], partial sums kept in single precision.
  float eot = eot_0;
  eot = eot + eot_cos1 * cos_g;
  eot = eot + eot_sin1 * sin_g;
  eot = eot + eot_cos2 * cos_2g;
  eot = eot + eot_sin2 * sin_2g;

  float declination = dec_0;
  declination = declination + dec_cos1 * cos_g;
  declination = declination + dec_sin1 * sin_g;
  declination = declination + dec_cos2 * cos_2g;
  declination = declination + dec_sin2 * sin_2g;
  declination = declination + dec_cos3 * checked::cos(day_angle_3);
  declination = declination + dec_sin3 * checked::sin(day_angle_3);

  series.day_angle = day_angle;
  series.eot_minutes = eot * noon * minutes_per_hour / pi; // 12 * 60 / pi minutes per radian
  series.declination = declination;
  return series;
}

void POS_FFT(std::int32_t doy, float time, float lon, float lat, float& zenith, float& azimuth) {
  const float mean_solar_time = lon / degrees_per_hour + time; // [h]
  const float latitude = lat * degree;                         // [rad]
  const SpencerSeries series = spencer_series(doy);

  float true_solar_time = series.eot_minutes / minutes_per_hour + mean_solar_time; // [h]
  true_solar_time = true_solar_time - noon;
  const float hour_angle = true_solar_time * degrees_per_hour * degree; // [rad], negative before noon
  const float declination = series.declination;

  const float sin_d = checked::sin(declination);
  const float cos_d = checked::cos(declination);
  const float sin_p = checked::sin(latitude);
  const float cos_p = checked::cos(latitude);
  const float sin_h = checked::sin(hour_angle);
  const float cos_h = checked::cos(hour_angle);

  const float sin_elevation = sin_d * sin_p + cos_h * (cos_d * cos_p);
  const float elevation = checked::asin(sin_elevation); // not clamped: beyond +-1 is a DOMAIN failure
  const float cos_l = checked::cos(elevation);

  // Azimuth counted from south toward west: its sine S and cosine C.
  float sin_a = (sin_h * cos_d) / cos_l;
  if (sin_a > 1.0f || sin_a < -1.0f) sin_a = sin_a < 0.0f ? -1.0f : 1.0f;
  const float cos_a = (cos_h * (cos_d * sin_p) - sin_d * cos_p) / cos_l;
  float a = checked::asin(sin_a);
  if (cos_a <= 0.0f) {
    a = pi - a;
  } else if (sin_a <= 0.0f) {
    a = a + two_pi;
  }
  // Now in (0, 2 pi] from south; turn it to count from north.
  a = a + pi;
  if (a > two_pi) a = a - two_pi; // a Sun due north keeps 2 pi, i.e. 360 deg

  const float elevation_degrees = elevation * half_circle / pi;
  zenith = right_angle - elevation_degrees;
  azimuth = a / degree;
}

bool POSSOL(std::int32_t month, std::int32_t day, float time, float lon, float lat, float& zenith, float& azimuth) {
  std::int32_t doy = 0;
  DAY_NUMBER(day, month, 0, doy); // year 0: a date without a year, never a leap day
  POS_FFT(doy, time, lon, lat, zenith, azimuth);
  return zenith > right_angle;
}

} // namespace tirovan
