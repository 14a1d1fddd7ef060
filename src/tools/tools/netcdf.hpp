// The report as a CF-1.8 NetCDF file (netCDF classic, 64-bit offset):
// time [s since 1970-01-01 00:00:00 UTC] along an unlimited dimension,
// wavelength [nm], aot(time, wavelength) with the CF standard name
// atmosphere_optical_thickness_due_to_ambient_aerosol_particles, the other
// report columns as variables of time with units and long names, the site's
// longitude and latitude, and the flags as a CF flag variable (flag_masks,
// flag_meanings). Records without a valid time have no place on the time
// axis and are left out (the CSV keeps them).
//
// The file is written by the output policy of tools/output.hpp: NetCDF
// needs a path, so the library creates the temporary that the policy made
// in the target's folder, and the policy renames it over the target when
// the whole report succeeded. A target that is not a regular file (a
// device, standard output) is refused.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "analysis/flags.hpp"
#include "tools/output.hpp"
#include "tools/products.hpp"
#include "tools/records.hpp"

namespace tirovan::tools {

struct NetcdfHeader {
  std::span<const float> wavelengths;       // [nm]
  std::optional<std::size_t> water_channel; // its aot is not an AOT
  std::string angstrom_channels;            // "440 500 675 870"
  std::string calibration_file, measurement_file;
  std::string physics = "core (tirovan's single-precision retrieval)";
};

class NetcdfWriter {
public:
  // Creates the file's temporary through `output` and defines the header.
  NetcdfWriter(OutputFile& output, const NetcdfHeader& header);
  ~NetcdfWriter();
  NetcdfWriter(const NetcdfWriter&) = delete;
  NetcdfWriter& operator=(const NetcdfWriter&) = delete;

  // One record; false when it has no time (not written).
  bool row(const Record& record, Flags flags, const ProductValues& products);
  // Writes the site and closes the file; output.commit() then renames it.
  void close();

private:
  struct State;
  std::unique_ptr<State> state_;
};

} // namespace tirovan::tools
