// Conventions shared by the subcommands of tirovan-tools.
//
// A subcommand registers itself on the CLI11 application with a callback
// that does its work when its name is given. It ends with a status other
// than 0 by throwing CLI::RuntimeError(status), which main() turns into
// the exit status without a message; any other exception is reported by
// main() as "tirovan-tools: <what()>" with status 1.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace tirovan::tools {

// Exit statuses of tirovan-tools.
inline constexpr int exit_ok = 0;
inline constexpr int exit_failure = 1;  // a command could not do its work
inline constexpr int exit_warnings = 1; // check: warnings, no errors
inline constexpr int exit_errors = 2;   // check: errors (also CLI11's status for a usage error)

void add_check_command(CLI::App& app);
void add_report_command(CLI::App& app);

// "tirovan-tools: <text>" and a line end on standard error.
void print_error(const std::string& text);
// `text` and a line end on standard output; throws std::system_error when
// the write is refused (a full disk, a closed pipe).
void print_out(const std::string& text);
// `text` and a line end on standard error, best effort.
void print_err(const std::string& text);

} // namespace tirovan::tools
