// Products of a report beyond the AOT: the precipitable water from the
// channel in the 940 nm water band (analysis/water_vapour.hpp) and the fine
// and coarse mode AOT at 500 nm (analysis/fine_coarse.hpp), per record.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/fine_coarse.hpp"
#include "analysis/water_vapour.hpp"
#include "driver/input_files.hpp"
#include "tools/records.hpp"

namespace CLI {
class App;
}

namespace tirovan::tools {

struct ProductOptions {
  WaterVapourModel water;
  FineCoarseOptions fine_coarse;
};

struct ProductValues {
  double pw_cm = not_computed;
  double aot_fine = not_computed, aot_coarse = not_computed, fine_fraction = not_computed;
};

class Products {
public:
  Products(std::span<const float> wavelengths, const driver::Calibration& calibration, const ProductOptions& options);

  // The channel in the water window, whose "AOT" includes water vapour absorption.
  [[nodiscard]] std::optional<std::size_t> water_channel() const { return water_; }
  [[nodiscard]] ProductValues operator()(const Record& record) const;

  // Marks the water channel's AOT column with "_water" and inserts the
  // product columns (pw_cm, aot_fine_500nm, aot_coarse_500nm,
  // fine_fraction) before source_line.
  void name_columns(std::vector<std::string>& columns) const;
  static constexpr std::size_t column_count = 4;

private:
  std::vector<float> wavelengths_;
  ProductOptions options_;
  std::optional<std::size_t> water_;
  double ln_v0_water_ = not_computed;
};

// The options of the products (--pw-a, --pw-b, --water-window, --sda-*) on `command`.
void add_product_options(CLI::App& command, ProductOptions& options);

} // namespace tirovan::tools
