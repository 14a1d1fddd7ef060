// The command line of tirovan-tools: the subcommands registered on one
// CLI11 application, the parse, and one place where failures become
// messages and exit statuses.
#include <exception>
#include <new>
#include <string>

#include <CLI/CLI.hpp>

#include "runtime/files.hpp"
#include "tools/app.hpp"
#include "tools/calibration.hpp"
#include "tools/check.hpp"
#include "tools/langley.hpp"
#include "tools/report.hpp"
#include "tools/status.hpp"
#include "tools/transfer.hpp"

namespace tirovan::tools {

namespace {

int run(int argc, char** argv) {
  // Files opened later never land on a closed standard descriptor.
  tirovan::runtime::open_standard_descriptors();

  CLI::App app{"Companion tools of tirovan: check the input files, report AOT as a tidy table with the Angstrom "
               "exponent and figures, calibrate by Langley plots.\n"
               "Exit status of every command: 0 done, 1 done with warnings or records skipped, 2 input or output "
               "failure (or check found errors).",
               "tirovan-tools"};
  app.set_version_flag("--version", "tirovan-tools " TIROVAN_VERSION);
  app.require_subcommand(1);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return "tirovan-tools: " + std::string(e.what()) + "\nRun 'tirovan-tools --help' for more information.\n";
  });
  app.fallthrough();
  add_check_command(app);
  add_report_command(app);
  add_langley_command(app);
  add_calibration_command(app);
  add_transfer_command(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // CLI11 numbers its usage errors from 100; a usage error exits with 2.
    const int status = app.exit(e);
    return status >= 100 ? exit_failure : status;
  }
  flush_out();
  return exit_ok;
}

} // namespace

int run_app(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const Error& e) {
    print_error(e.what());
    return e.status();
  } catch (const std::bad_alloc&) {
    print_error("out of memory");
  } catch (const std::exception& e) {
    print_error(e.what());
  }
  return exit_failure;
}

} // namespace tirovan::tools
