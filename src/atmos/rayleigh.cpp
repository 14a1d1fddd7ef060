#include "atmos/atmos.hpp"

#include "runtime/failure.hpp"

namespace tirovan {
namespace {

constexpr float nm_to_um = 0.001f;
constexpr float reference_pressure = 1013.0f; // [hPa], deliberately 1013 and not 1013.25
constexpr float c4 = 0.008436f;               // coefficient of l^-4
constexpr float c5 = -0.0001225f;             // coefficient of l^-5
constexpr float c6 = 0.00014f;                // coefficient of l^-6

// base^n for n >= 1 by square-and-multiply, every product a float.
float integer_power(float base, unsigned n) {
  float result = 1.0f;
  for (;;) {
    if ((n & 1u) != 0) result *= base;
    n >>= 1u;
    if (n == 0) return result;
    base *= base;
  }
}

} // namespace

void RAYLEIGH(float wavelength, float pressure, float& tau_rayleigh) {
  const float lambda = wavelength * nm_to_um; // [um]
  if (lambda == 0.0f) throw runtime::zero_to_negative_power();
  const float pressure_ratio = pressure / reference_pressure;
  const float reciprocal = 1.0f / lambda; // [1/um]; the negative powers are powers of it
  const float a = c4 * integer_power(reciprocal, 4);
  const float b = a + c5 * integer_power(reciprocal, 5);
  tau_rayleigh = (b + c6 * integer_power(reciprocal, 6)) * pressure_ratio;
}

} // namespace tirovan
