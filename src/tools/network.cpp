#include "tools/network.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <map>
#include <set>

#include "tools/status.hpp"

namespace tirovan::tools {
namespace {

std::string trimmed(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// The whole line in one write, so that lines of processes running side by
// side do not mix (a pipe keeps writes of up to PIPE_BUF bytes whole).
void line_to_stderr(const std::string& text) {
  const std::string line = text + "\n";
  (void)::write(STDERR_FILENO, line.data(), line.size());
}

// In the child: one folder's report; the exit status is the folder's.
[[noreturn]] void run_one(const ReportOptions& options) {
  int status = exit_ok;
  const std::string folder = options.folder;
  try {
    const ReportSummary summary =
        write_report(options, [&](const std::string& text) { line_to_stderr(folder + ": " + text); });
    if (summary.skipped > 0 || summary.warnings > 0 || summary.ended_early || summary.without_time > 0)
      status = exit_warnings;
    line_to_stderr("report: " + folder + ": " + std::to_string(summary.records) + " records (" +
                   std::to_string(summary.skipped) + " skipped) written to " + options.output);
  } catch (const Error& e) {
    line_to_stderr("tirovan-tools: " + folder + ": " + e.what());
    status = e.status();
  } catch (const std::exception& e) {
    line_to_stderr("tirovan-tools: " + folder + ": " + e.what());
    status = exit_failure;
  }
  std::_Exit(status); // no destructors of the parent's objects, no second flush of its buffers
}

} // namespace

std::string expand_pattern(const std::string& pattern, const std::string& folder) {
  const std::string dir = trimmed(folder);
  const std::size_t slash = dir.rfind('/');
  const std::string name = slash == std::string::npos || dir.size() == 1 ? dir : dir.substr(slash + 1);
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    if (pattern.compare(i, 5, "{dir}") == 0) {
      out += dir, i += 5;
    } else if (pattern.compare(i, 6, "{name}") == 0) {
      out += name, i += 6;
    } else {
      out += pattern[i++];
    }
  }
  return out;
}

int report_folders(const ReportOptions& base, const std::vector<std::string>& folders,
                   const std::string& output_pattern, unsigned jobs) {
  std::vector<ReportOptions> runs;
  std::set<std::string> outputs, plots;
  for (const std::string& folder : folders) {
    ReportOptions o = base;
    o.folder = folder;
    o.output = expand_pattern(output_pattern, folder);
    if (!outputs.insert(o.output).second)
      throw Error("--output-pattern '" + output_pattern + "' gives two folders the same file " + o.output +
                  "; use {dir} or {name}");
    if (!base.plot_folder.empty()) {
      o.plot_folder = expand_pattern(base.plot_folder, folder);
      if (!plots.insert(o.plot_folder).second)
        throw Error("--plot-dir '" + base.plot_folder + "' gives two folders the same folder " + o.plot_folder +
                    "; use {dir} or {name}");
    }
    runs.push_back(std::move(o));
  }
  (void)std::fflush(nullptr);
  std::cout.flush();
  std::map<pid_t, std::size_t> running;
  std::size_t next = 0, failed = 0, warned = 0;
  int worst = exit_ok;
  jobs = std::max(jobs, 1u);
  while (next < runs.size() || !running.empty()) {
    while (next < runs.size() && running.size() < jobs) {
      const pid_t pid = ::fork();
      if (pid < 0) throw Error("cannot start a process for " + runs[next].folder + ": " + std::strerror(errno));
      if (pid == 0) run_one(runs[next]);
      running.emplace(pid, next++);
    }
    int raw = 0;
    const pid_t done = ::waitpid(-1, &raw, 0);
    if (done < 0) {
      if (errno == EINTR) continue;
      throw Error(std::string("waiting for the folders' processes: ") + std::strerror(errno));
    }
    const auto at = running.find(done);
    if (at == running.end()) continue; // not one of ours
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : exit_failure;
    if (!WIFEXITED(raw)) line_to_stderr("tirovan-tools: " + runs[at->second].folder + ": the report was killed");
    running.erase(at);
    worst = std::max(worst, std::min(status, exit_failure));
    if (status >= exit_failure)
      ++failed;
    else if (status == exit_warnings)
      ++warned;
  }
  line_to_stderr("report: " + std::to_string(runs.size()) + " folders: " + std::to_string(runs.size() - failed) +
                 " written (" + std::to_string(warned) + " with warnings), " + std::to_string(failed) + " failed");
  return worst;
}

} // namespace tirovan::tools
