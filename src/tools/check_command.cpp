// tirovan-tools check [DIR]
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <system_error>

#include "tools/check.hpp"
#include "tools/command.hpp"

namespace tirovan::tools {
namespace {

struct CheckOptions {
  std::string folder = ".";
  std::size_t max_per_rule = 20;
};

std::string plural(std::uint64_t n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

} // namespace

void add_check_command(CLI::App& app) {
  auto options = std::make_shared<CheckOptions>();
  CLI::App* command = app.add_subcommand("check", "Check lang.dat and dane.dat and report every problem");
  command->footer("Reads both files as tirovan reads them and writes nothing. Each problem is one line on standard\n"
                  "output, FILE:LINE:COLUMN: error|warning: TEXT [rule], then a summary line. Errors are what\n"
                  "stops tirovan or makes its results wrong; warnings are what looks suspicious.\n"
                  "Exit status: 0 clean, 1 warnings only, 2 errors.");
  command
      ->add_option("DIR", options->folder,
                   "Folder with lang.dat and dane.dat; diagnostics name the files as "
                   "DIR/lang.dat, or bare when DIR is the working directory")
      ->capture_default_str();
  command->add_option("--max-per-rule", options->max_per_rule, "Diagnostics shown per rule (0: all)")
      ->capture_default_str();
  command->callback([options] {
    std::map<std::string, std::uint64_t> per_rule;
    const CheckSummary summary = check_inputs(options->folder, [&](const Diagnostic& d) {
      const std::uint64_t seen = ++per_rule[d.rule];
      if (options->max_per_rule == 0 || seen <= options->max_per_rule) print_out(format_diagnostic(d));
    });
    for (const auto& [rule, seen] : per_rule) {
      if (options->max_per_rule > 0 && seen > options->max_per_rule) {
        print_out("note: " + std::to_string(seen - options->max_per_rule) + " more [" + rule + "] not shown");
      }
    }
    const bool here = options->folder.empty() || options->folder == ".";
    print_out((here ? std::string() : options->folder + ": ") +
              "lang.dat and dane.dat: " + plural(summary.records, "record") + " checked, " +
              plural(summary.errors, "error") + ", " + plural(summary.warnings, "warning"));
    if (std::fflush(stdout) != 0) {
      throw std::system_error(errno, std::generic_category(), "cannot write to standard output");
    }
    if (summary.errors > 0) throw CLI::RuntimeError(exit_errors);
    if (summary.warnings > 0) throw CLI::RuntimeError(exit_warnings);
  });
}

} // namespace tirovan::tools
