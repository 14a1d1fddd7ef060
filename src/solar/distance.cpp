// Sun-Earth distance factor from a mean-anomaly model of the orbit.

#include "solar/solar.hpp"

#include "runtime/checked_math.hpp"
#include "wrapping.hpp"

namespace tirovan {
namespace {

constexpr std::int32_t perihelion_day = 4;   // day of the year of perihelion (early January)
constexpr float mean_daily_motion = 0.9856f; // [deg/day], 360 / 365.25
constexpr float eccentricity = 0.01673f;
constexpr float half_circle = 180.0f; // [deg]

} // namespace

void VARSOL(std::int32_t day, std::int32_t month, float& factor) {
  // The day count of DAY_NUMBER without a leap day, so that the two agree.
  const std::int32_t doy = solar_detail::day_of_common_year(day, month);
  const float pi = 2.0f * runtime::checked::acos(0.0f); // formed afresh on every call
  const float theta = static_cast<float>(solar_detail::wrap_add(doy, -perihelion_day)) * mean_daily_motion * pi /
                      half_circle; // [rad] since perihelion, negative for 1-3 January
  const float cos_theta = runtime::checked::cos(theta);
  factor = 1.0f / ((1.0f - eccentricity * cos_theta) * (1.0f - eccentricity * cos_theta));
}

} // namespace tirovan
