// Command-line options of the cloud screening (tools/screening.hpp), for
// the commands that screen a series of AOT.
#pragma once

#include "tools/screening.hpp"

namespace CLI {
class App;
}

namespace tirovan::tools {

// Adds --screen, --drop-flagged (which implies --screen) and one option
// per threshold of `options`, with its default shown.
void add_screening_options(CLI::App& command, bool& screen, bool& drop_flagged, ScreeningOptions& options);

} // namespace tirovan::tools
