// `report --uncertainty`: per channel an aot_<wavelength>nm_unc column, the
// 1-sigma uncertainty of the AOT (analysis/uncertainty.hpp: calibration,
// Rayleigh, ozone and geometry terms in quadrature), and above_wmo_limit,
// 1 when some channel's uncertainty exceeds 0.005 + 0.010 / m.
//
// The calibration term takes d(ln V0) per channel from lang.dat's line
// "ln V0 uncertainty: ..." (written by langley, calibration and transfer)
// or, overriding it, from --v0-uncertainty.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "analysis/uncertainty.hpp"
#include "tools/csv.hpp"
#include "tools/records.hpp"

namespace CLI {
class App;
}

namespace tirovan::tools {

struct UncertaintyOptions {
  bool enabled = false;
  double v0 = -1; // [ln signal] for every channel; negative: from lang.dat
  UncertaintySources sources;
};

class UncertaintyColumns {
public:
  // Throws Error when no calibration uncertainty is known for a channel.
  UncertaintyColumns(const UncertaintyOptions& options, const RecordReader& reader);
  [[nodiscard]] std::vector<std::string> names() const;
  void write(CsvWriter& csv, const Record& record) const;

private:
  std::vector<float> wavelength_;
  std::vector<double> ln_v0_;
  UncertaintySources sources_;
};

// The columns when enabled, else none.
[[nodiscard]] std::unique_ptr<UncertaintyColumns> uncertainty_columns(const UncertaintyOptions& options,
                                                                      const RecordReader& reader);

void add_uncertainty_options(CLI::App& command, UncertaintyOptions& options);

} // namespace tirovan::tools
