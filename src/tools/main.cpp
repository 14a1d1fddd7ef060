// tirovan-tools: companion commands around the tirovan retrieval, built on
// the same procedures so that their numbers are tirovan's numbers.
#include <cerrno>
#include <cstdio>
#include <exception>
#include <string>
#include <system_error>

#include "runtime/files.hpp"
#include "runtime/units.hpp"
#include "tools/command.hpp"
#include "tools/langley_command.hpp"

namespace tirovan::tools {

void print_error(const std::string& text) { print_err("tirovan-tools: " + text); }

void print_out(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) == EOF || std::fputc('\n', stdout) == EOF) {
    throw std::system_error(errno, std::generic_category(), "cannot write to standard output");
  }
}

void print_err(const std::string& text) {
  (void)std::fputs(text.c_str(), stderr);
  (void)std::fputc('\n', stderr);
}

} // namespace tirovan::tools

namespace {

int run(int argc, char** argv) {
  namespace tools = tirovan::tools;
  // Files opened later never land on a closed standard descriptor.
  tirovan::runtime::open_standard_descriptors();
  // The core procedures' console warnings are not part of any command's output.
  tirovan::runtime::console().silence();

  CLI::App app{"Companion tools of tirovan: check the input files, report AOT as a tidy table with the Angstrom "
               "exponent and figures, calibrate by Langley plots.",
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
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // CLI11 numbers its usage errors from 100; a usage error exits with 2.
    const int status = app.exit(e);
    return status >= 100 ? tools::exit_errors : status;
  }
  return tools::exit_ok;
}

} // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    tirovan::tools::print_error(e.what());
  } catch (...) {
    tirovan::tools::print_error("unexpected failure");
  }
  return tirovan::tools::exit_failure;
}
