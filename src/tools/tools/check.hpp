// Checks of a data folder's lang.dat and dane.dat before tirovan runs on
// them: read with tirovan's own reader rules and every record retrieved
// with its own procedures, each problem reported with its file, line and
// column. Errors are what stops tirovan or makes its results wrong for
// certain (a bad token, a null value or slash that reuses the previous
// record's values, a count that drops or misses records, calibrations
// paired with the wrong channel, an impossible date, time, place or
// pressure, a logarithm of a non-positive signal, the Sun more than 1 deg
// below the horizon, a signal above the top of the atmosphere, an AOT out
// of range, out of line with the other channels or following the air
// mass); warnings are what is merely suspicious (the Sun just below the
// horizon, a pressure that may be mmHg, times that look like local time).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "textio/text_position.hpp"

namespace CLI {
class App;
}

namespace tirovan::tools {

enum class Severity { warning, error };

struct Diagnostic {
  std::string file;           // as shown to the user (see inputs.hpp)
  textio::TextPosition where; // line 0: the file as a whole; column 0: the line as a whole
  Severity severity = Severity::error;
  std::string rule;    // short name of the check, e.g. "decimal-comma"
  std::string message; // one line, no line end
};

// "dane.dat:12:31: error: <message> [rule]"
[[nodiscard]] std::string format_diagnostic(const Diagnostic& diagnostic);

struct CheckSummary {
  std::uint64_t records = 0; // measurement records read
  std::uint64_t errors = 0, warnings = 0;
};

// Reads both files of `folder` (never writing anything) and hands every
// problem to `report`, in reading order (a day's local-time warning comes
// after that day's records).
CheckSummary check_inputs(std::string_view folder, const std::function<void(const Diagnostic&)>& report);

// The limits of the physics and range rules, each a closed or open bound
// as written (values in the files' units).
namespace limits {
// AOT below the floor is beyond measurement noise; above the ceiling no
// direct-sun photometer sees the Sun.
inline constexpr double aot_floor = -0.02, aot_ceiling = 5.0;
[[nodiscard]] constexpr bool aot_plausible(double aot) { return aot >= aot_floor && aot <= aot_ceiling; }
// The Sun below the horizon [deg]: up to 1 deg a warning (refraction,
// horizon), beyond it no direct-sun measurement.
enum class SunBelow { no, warning, error };
[[nodiscard]] constexpr SunBelow sun_below(double depression_deg) {
  return depression_deg > 1.0 ? SunBelow::error : depression_deg > 0 ? SunBelow::warning : SunBelow::no;
}
[[nodiscard]] constexpr bool hour_valid(double hour) { return hour >= 0 && hour < 24; }
[[nodiscard]] constexpr bool minute_valid(double minute) { return minute >= 0 && minute < 60; }
// [hPa], from the highest stations to the deepest lows.
[[nodiscard]] constexpr bool pressure_valid(double hpa) { return hpa >= 500 && hpa <= 1100; }
// 712-803 mmHg is 950-1070 hPa near sea level, and reads as a plausible
// high-mountain pressure in hPa: only suspicious.
[[nodiscard]] constexpr bool pressure_maybe_mmhg(double hpa) { return hpa >= 712 && hpa <= 803; }
// A positive wavelength below 200 nm is one written in micrometres.
[[nodiscard]] constexpr bool wavelength_in_micrometres(double nm) { return nm > 0 && nm < 200; }
// A channel out of line with the Angstrom law of the others: off by more
// than a factor 1.6 and by more than 0.03 in AOT.
[[nodiscard]] bool out_of_spectrum(double aot, double expected);
// A day's AOT against 1 / air mass: slope above 0.1 (V0 off by 10 %) and a
// change over the day's range of 1/m above 0.03.
[[nodiscard]] bool follows_air_mass(double slope, double change);
} // namespace limits

// Registers `check [DIR]` on `app`.
void add_check_command(CLI::App& app);

} // namespace tirovan::tools
