// tirovan-tools report [DIR] [-o FILE] [--plot-dir DIR]
#include <memory>
#include <unistd.h>

#include "tools/command.hpp"
#include "tools/report.hpp"
#include "tools/screening_options.hpp"

namespace tirovan::tools {

void add_report_command(CLI::App& app) {
  auto options = std::make_shared<ReportOptions>();
  CLI::App* command =
      app.add_subcommand("report", "Write AOT, Angstrom exponent and AOT at 500/550 nm as CSV, plot each day");
  command->footer("Retrieves every measurement with tirovan's own procedures (the same single-precision AOT) and\n"
                  "writes one CSV row per record: time_utc (ISO 8601, to the second), day_of_year (with fraction),\n"
                  "zenith_deg, air_mass, aot_<wavelength>nm per channel, the Angstrom exponent fitted over the\n"
                  "channels within 440-870 nm, AOT at 500 and 550 nm from the bracketing channels, source_line\n"
                  "and flags. A record that would stop tirovan gets a row with its flag, no values, and a warning\n"
                  "on standard error. Exit status: 0 done, 1 input or output failed.");
  command->add_option("DIR", options->folder, "Folder with lang.dat and dane.dat")->capture_default_str();
  command->add_option("-o,--output", options->output, "CSV file to write (default: standard output)");
  command->add_option("--plot-dir", options->plot_folder,
                      "Write one figure per day here (aot_YYYY-MM-DD.svg and .png): AOT per channel and the "
                      "Angstrom exponent against the time of day");
  command->add_option("--max-warnings", options->max_warnings, "Warnings shown per kind (0: all)")
      ->capture_default_str();
  add_screening_options(*command, options->screen, options->drop_flagged, options->screening);
  command->callback([options] {
    options->progress = ::isatty(STDERR_FILENO) != 0;
    const ReportSummary summary = write_report(*options, [](const std::string& text) { print_err(text); });
    if (summary.dropped > 0) print_err("report: " + std::to_string(summary.dropped) + " flagged records left out");
    if (summary.skipped > 0) {
      print_err("report: " + std::to_string(summary.skipped) + " of " + std::to_string(summary.records) +
                " records skipped");
    }
  });
}

} // namespace tirovan::tools
