#include "atmos/atmos.hpp"

#include "runtime/checked_math.hpp"

namespace tirovan {
namespace {

constexpr float right_angle = 90.0f; // [deg]
constexpr float pi = 3.14159f;       // five decimals, deliberately not pi to full single precision
constexpr float half_turn = 180.0f;  // [deg]
// Kasten & Young (1989) coefficients.
constexpr float coefficient = 0.50572f;
constexpr float elevation_offset = 6.07995f; // [deg]
constexpr float exponent = -1.6364f;

} // namespace

void AIRMASS(float zenith, float& air_mass) {
  const float elevation = right_angle - zenith;               // h [deg]
  const float elevation_radians = elevation * pi / half_turn; // [rad]
  const float sine = runtime::checked::sin(elevation_radians);
  // The base h + 6.07995 enters the power unrounded (in double); the power
  // term itself is a stored single-precision value, and so is every step
  // after it.
  const double base = static_cast<double>(elevation) + static_cast<double>(elevation_offset);
  const auto power = static_cast<float>(runtime::checked::pow(base, static_cast<double>(exponent)));
  air_mass = 1.0f / (sine + coefficient * power);
}

} // namespace tirovan
