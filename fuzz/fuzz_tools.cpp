// libFuzzer target: the companion's entry points on an arbitrary pair of
// input files, and its fits on arbitrary numbers. The input is split at the
// first "\n@@\n" into lang.dat and dane.dat in a scratch folder; check,
// report (with screening) and langley (summary only) run on them. Each may
// end only normally or with the one failure type of the commands
// (tools::Error); the Langley fit and the screening also get the input's
// bytes as numbers (pairs of doubles), NaNs and infinities included.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "analysis/langley.hpp"
#include "analysis/screening.hpp"
#include "tools/check.hpp"
#include "tools/langley.hpp"
#include "tools/report.hpp"
#include "tools/status.hpp"

namespace {

void write_file(const char* name, std::string_view content) {
  const int fd =
      ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600); // NOLINT(cppcoreguidelines-pro-type-vararg)
  if (fd < 0) std::abort();
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n <= 0) std::abort();
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  ::close(fd);
}

template <class Command>
void expect_no_other_failure(Command command) {
  try {
    command();
  } catch (const tirovan::tools::Error& e) {
    if (e.status() != tirovan::tools::exit_failure) std::abort();
  }
}

void fits(const std::uint8_t* data, std::size_t size) {
  namespace analysis = tirovan::analysis;
  std::vector<analysis::LangleyPoint> points;
  std::vector<float> aot;
  for (std::size_t at = 0; at + 16 <= size && points.size() < 512; at += 16) {
    double m = 0, y = 0;
    std::memcpy(&m, data + at, sizeof m);
    std::memcpy(&y, data + at + 8, sizeof y);
    points.push_back({m, y});
    aot.push_back(static_cast<float>(y));
  }
  for (const auto method : {analysis::LangleyMethod::objective, analysis::LangleyMethod::herman}) {
    analysis::LangleyOptions options;
    options.method = method;
    const analysis::LangleyFit fit = analysis::fit_langley(points, options);
    if (fit.roles.size() != points.size()) std::abort();
    (void)analysis::verdict_text(fit, options);
  }
  std::vector<analysis::ScreeningPoint> day;
  for (std::size_t i = 0; i < points.size(); ++i) {
    day.push_back({points[i].air_mass, points[i].ln_signal, std::span<const float>(aot).subspan(i, 1),
                   points[i].ln_signal, points[i].air_mass});
  }
  if (analysis::screen_day(day).size() != day.size()) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/tirovan-fuzz-tools-XXXXXX";
  if (::mkdtemp(folder) == nullptr || ::chdir(folder) != 0) std::abort();
  const int null = ::open("/dev/null", O_WRONLY); // NOLINT(cppcoreguidelines-pro-type-vararg)
  ::dup2(null, STDOUT_FILENO);
  ::close(null);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace tools = tirovan::tools;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find("\n@@\n");
  write_file("lang.dat", input.substr(0, split));
  write_file("dane.dat", split == std::string_view::npos ? std::string_view() : input.substr(split + 4));

  expect_no_other_failure([] {
    const tools::CheckSummary summary = tools::check_inputs(".", [](const tools::Diagnostic&) {});
    (void)summary;
  });
  expect_no_other_failure([] {
    tools::ReportOptions options;
    options.output = "out.csv";
    options.screen = true;
    (void)tools::write_report(options, [](const std::string&) {});
  });
  expect_no_other_failure([] {
    tools::LangleyCommand command;
    command.no_write = true;
    std::ostringstream out, err;
    (void)tools::run_langley(command, out, err);
  });
  fits(data, size);
  return 0;
}
