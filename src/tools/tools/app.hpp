// The whole command line of tirovan-tools: every subcommand registered on
// one CLI11 application, parsed, run, and every failure turned into its
// message on standard error and its exit status (see status.hpp).
#pragma once

namespace tirovan::tools {

// Runs tirovan-tools with the program's arguments; returns the exit status.
int run_app(int argc, char** argv);

} // namespace tirovan::tools
