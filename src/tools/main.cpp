// tirovan-tools: companion commands around the tirovan retrieval, built on
// the same procedures so that their numbers are tirovan's numbers.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include <CLI/CLI.hpp>

#include "runtime/files.hpp"
#include "tools/calibration.hpp"
#include "tools/check.hpp"
#include "tools/langley.hpp"
#include "tools/report.hpp"
#include "tools/status.hpp"
#include "tools/transfer.hpp"

namespace {

int run(int argc, char** argv) {
  namespace tools = tirovan::tools;
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
  tools::add_check_command(app);
  tools::add_report_command(app);
  tools::add_langley_command(app);
  tools::add_calibration_command(app);
  tools::add_transfer_command(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // CLI11 numbers its usage errors from 100; a usage error exits with 2.
    const int status = app.exit(e);
    return status >= 100 ? tools::exit_failure : status;
  }
  tools::flush_out();
  return tools::exit_ok;
}

} // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const tirovan::tools::Error& e) {
    tirovan::tools::print_error(e.what());
    return e.status();
  } catch (const std::bad_alloc&) {
    tirovan::tools::print_error("out of memory");
  } catch (const std::exception& e) {
    tirovan::tools::print_error(e.what());
  }
  return tirovan::tools::exit_failure;
}
