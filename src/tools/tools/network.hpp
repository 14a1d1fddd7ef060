// A report of many data folders (a network of sites, or the days of one
// site in folders), each folder by its own process: a folder's failure
// ends only its process, and the output policy's signal cleanup
// (tools/output.hpp) and the NetCDF library, both process-global, never see
// two folders at once.
//
// Each folder writes its own file, named by an output pattern in which
// {dir} is the folder as given (without a trailing '/') and {name} its last
// component: '{dir}/report.csv' writes next to the data, 'out/{name}.nc'
// gathers the files in one place. Each folder's process prints one summary
// line on standard error; the exit status is the largest of the folders'.
#pragma once

#include <string>
#include <vector>

#include "tools/report.hpp"

namespace tirovan::tools {

// `pattern` with {dir} and {name} replaced for `folder`.
[[nodiscard]] std::string expand_pattern(const std::string& pattern, const std::string& folder);

// Runs the report of every folder, at most `jobs` at a time, with `base`'s
// options; the output and the plot folder come from the patterns. Returns
// the largest exit status of the folders (0, 1 or 2). Throws Error (status
// 2) before any work when the patterns would give two folders one file.
int report_folders(const ReportOptions& base, const std::vector<std::string>& folders,
                   const std::string& output_pattern, unsigned jobs);

} // namespace tirovan::tools
