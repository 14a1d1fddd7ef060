#include "tools/screening_options.hpp"

#include <CLI/CLI.hpp>

namespace tirovan::tools {

void add_screening_options(CLI::App& command, bool& screen, bool& drop_flagged, ScreeningOptions& options) {
  const char* group = "Cloud screening (Smirnov et al. 2000, adapted to single measurements)";
  CLI::Option* on = command.add_flag("--screen", screen, "screen each day for clouds; reasons go to the flags column");
  on->group(group);
  command.add_flag("--drop-flagged", drop_flagged, "screen, and leave flagged records out of the CSV and figures")
      ->group(group);
  // Every threshold below takes effect only with screening on.
  auto threshold = [&](const char* name, auto& value, const char* text) {
    command.add_option(name, value, text)->capture_default_str()->group(group);
  };
  threshold("--screen-max-air-mass", options.max_air_mass, "air mass above this is not used");
  threshold("--screen-min-aot", options.min_aot, "AOT below this in any channel rejects the measurement");
  threshold("--triplet-window", options.triplet_window_minutes,
            "three consecutive measurements within this many minutes form a triplet");
  threshold("--triplet-abs", options.triplet_absolute, "triplet: AOT spread limit ...");
  threshold("--triplet-rel", options.triplet_relative, "... or this fraction of the AOT, whichever is larger");
  threshold("--stable-sd", options.stable_sd, "a day whose AOT(500) sd is below this skips the smoothness test");
  threshold("--smoothness-limit", options.max_smoothness, "smoothness D of ln AOT(500) [1/h] to reach");
  threshold("--sigma-limit", options.sigma_limit, "AOT(500) and Angstrom exponent beyond mean +- this many sd");
  threshold("--min-day-points", options.min_day_points, "a day with fewer measurements left is flagged whole");
}

} // namespace tirovan::tools
