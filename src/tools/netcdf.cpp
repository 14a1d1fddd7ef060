#include "tools/netcdf.hpp"

#include <netcdf.h>

#include <array>
#include <cmath>
#include <limits>
#include <string_view>
#include <vector>

#include "tools/status.hpp"

#ifndef TIROVAN_VERSION
#define TIROVAN_VERSION "unknown"
#endif

namespace tirovan::tools {
namespace {

constexpr float nan_f = std::numeric_limits<float>::quiet_NaN();
constexpr double nan_d = std::numeric_limits<double>::quiet_NaN();
constexpr double seconds_per_day = 86400;

} // namespace

struct NetcdfWriter::State {
  std::string name; // for messages
  int id = -1;
  int time = -1, aot = -1, zenith = -1, air_mass = -1, angstrom = -1, aot_500 = -1, aot_550 = -1, pw = -1, fine = -1,
      coarse = -1, fraction = -1, line = -1, flags = -1, lon = -1, lat = -1;
  std::size_t channels = 0, rows = 0;
  float site_lon = nan_f, site_lat = nan_f;

  void check(int status, std::string_view what) const {
    if (status != NC_NOERR) throw Error(name + ": NetCDF " + std::string(what) + ": " + nc_strerror(status));
  }
  void text(int var, const char* attribute, const std::string& value) const {
    check(nc_put_att_text(id, var, attribute, value.size(), value.c_str()), attribute);
  }
  int variable(const char* var_name, nc_type type, std::span<const int> dims, const char* units, const char* long_name,
               bool fill = true) const {
    int var = -1;
    check(nc_def_var(id, var_name, type, static_cast<int>(dims.size()), dims.data(), &var), var_name);
    if (units != nullptr) text(var, "units", units);
    text(var, "long_name", long_name);
    if (!fill) return var; // a coordinate has no missing values
    if (type == NC_FLOAT) check(nc_put_att_float(id, var, "_FillValue", NC_FLOAT, 1, &nan_f), var_name);
    if (type == NC_DOUBLE) check(nc_put_att_double(id, var, "_FillValue", NC_DOUBLE, 1, &nan_d), var_name);
    return var;
  }
  void put(int var, std::size_t row, double value) const {
    const auto v = static_cast<float>(value);
    check(nc_put_var1_float(id, var, &row, &v), "write");
  }
};

NetcdfWriter::NetcdfWriter(OutputFile& output, const NetcdfHeader& header) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.name = output.name();
  if (output.temporary().empty())
    throw Error(output.name() + ": a NetCDF file needs a regular file to write (not standard output or a device)");
  s.check(nc_create(output.temporary().c_str(), NC_CLOBBER | NC_64BIT_OFFSET, &s.id), "create");
  s.channels = header.wavelengths.size();
  int time_dim = -1, wl_dim = -1;
  s.check(nc_def_dim(s.id, "time", NC_UNLIMITED, &time_dim), "time");
  s.check(nc_def_dim(s.id, "wavelength", s.channels, &wl_dim), "wavelength");
  const std::array<int, 1> t{time_dim}, w{wl_dim};
  const std::array<int, 2> tw{time_dim, wl_dim};

  s.time = s.variable("time", NC_DOUBLE, t, "seconds since 1970-01-01 00:00:00 UTC", "time of the measurement", false);
  s.text(s.time, "standard_name", "time");
  s.text(s.time, "calendar", "standard");
  s.text(s.time, "axis", "T");
  const int wl = s.variable("wavelength", NC_FLOAT, w, "nm", "nominal wavelength of the channel", false);
  s.text(wl, "standard_name", "radiation_wavelength");
  s.aot = s.variable("aot", NC_FLOAT, tw, "1", "aerosol optical thickness");
  s.text(s.aot, "standard_name", "atmosphere_optical_thickness_due_to_ambient_aerosol_particles");
  s.text(s.aot, "coordinates", "lon lat");
  if (header.water_channel) {
    const float water = header.wavelengths[*header.water_channel];
    s.check(nc_put_att_float(s.id, s.aot, "water_channel_wavelength", NC_FLOAT, 1, &water), "water");
    s.text(s.aot, "comment",
           "the channel at water_channel_wavelength lies in the 940 nm water vapour band: its value there is the "
           "optical depth less Rayleigh and ozone, water vapour included, not an AOT (see precipitable_water)");
  }
  s.zenith = s.variable("solar_zenith_angle", NC_FLOAT, t, "degree", "solar zenith angle");
  s.text(s.zenith, "standard_name", "solar_zenith_angle");
  s.air_mass = s.variable("air_mass", NC_FLOAT, t, "1", "relative optical air mass (Kasten and Young 1989)");
  s.angstrom = s.variable("angstrom_exponent", NC_FLOAT, t, "1",
                          ("Angstrom exponent fitted over the channels " + header.angstrom_channels + " nm").c_str());
  s.aot_500 = s.variable("aot_500nm", NC_FLOAT, t, "1", "aerosol optical thickness at 500 nm, interpolated");
  s.aot_550 = s.variable("aot_550nm", NC_FLOAT, t, "1", "aerosol optical thickness at 550 nm, interpolated");
  s.pw = s.variable("precipitable_water", NC_FLOAT, t, "cm", "precipitable water from the 940 nm channel");
  s.fine = s.variable("aot_fine_500nm", NC_FLOAT, t, "1", "fine mode aerosol optical thickness at 500 nm (SDA)");
  s.coarse = s.variable("aot_coarse_500nm", NC_FLOAT, t, "1", "coarse mode aerosol optical thickness at 500 nm (SDA)");
  s.fraction = s.variable("fine_fraction", NC_FLOAT, t, "1", "fine mode fraction of the AOT at 500 nm (SDA)");
  s.line = s.variable("source_line", NC_INT, t, nullptr, "line of the record in the measurement file");
  s.flags = s.variable("flags", NC_INT, t, nullptr, "quality flags of the record");
  std::vector<int> masks;
  std::string meanings;
  for (std::size_t i = 0; i < flag_names.size(); ++i) {
    masks.push_back(1 << i);
    if (i > 0) meanings += ' ';
    meanings += flag_names[i];
  }
  s.check(nc_put_att_int(s.id, s.flags, "flag_masks", NC_INT, masks.size(), masks.data()), "flag_masks");
  s.text(s.flags, "flag_meanings", meanings);
  s.lon = s.variable("lon", NC_FLOAT, {}, "degrees_east", "longitude of the site");
  s.text(s.lon, "standard_name", "longitude");
  s.lat = s.variable("lat", NC_FLOAT, {}, "degrees_north", "latitude of the site");
  s.text(s.lat, "standard_name", "latitude");

  s.text(NC_GLOBAL, "Conventions", "CF-1.8");
  s.text(NC_GLOBAL, "title", "Aerosol optical thickness from direct-sun photometer measurements");
  s.text(NC_GLOBAL, "program", "tirovan-tools report");
  s.text(NC_GLOBAL, "version", TIROVAN_VERSION);
  s.text(NC_GLOBAL, "physics_mode", header.physics);
  s.text(NC_GLOBAL, "calibration_file", header.calibration_file);
  s.text(NC_GLOBAL, "source", header.measurement_file);
  s.check(nc_enddef(s.id), "define");
  s.check(nc_put_var_float(s.id, wl, header.wavelengths.data()), "wavelength");
}

NetcdfWriter::~NetcdfWriter() {
  if (state_ && state_->id >= 0) (void)nc_close(state_->id);
}

bool NetcdfWriter::row(const Record& r, Flags flags, const ProductValues& products) {
  State& s = *state_;
  if (!r.has_time) return false;
  const std::size_t i = s.rows++;
  const double seconds =
      static_cast<double>(days_from_civil(r.time.date.year, r.time.date.month, r.time.date.day)) * seconds_per_day +
      static_cast<double>(r.time.second_of_day);
  s.check(nc_put_var1_double(s.id, s.time, &i, &seconds), "write");
  const std::array<std::size_t, 2> start{i, 0}, count{1, s.channels};
  if (s.channels > 0) s.check(nc_put_vara_float(s.id, s.aot, start.data(), count.data(), r.aot.data()), "write");
  const bool located = !r.flags.has(Flag::unreadable);
  s.put(s.zenith, i, located ? static_cast<double>(r.m.zenith) : nan_d);
  s.put(s.air_mass, i, located && !r.flags.has(Flag::sun_too_low) ? static_cast<double>(r.m.air_mass) : nan_d);
  s.put(s.angstrom, i, r.angstrom);
  s.put(s.aot_500, i, r.aot_500);
  s.put(s.aot_550, i, r.aot_550);
  s.put(s.pw, i, products.pw_cm);
  s.put(s.fine, i, products.aot_fine);
  s.put(s.coarse, i, products.aot_coarse);
  s.put(s.fraction, i, products.fine_fraction);
  const auto line = static_cast<int>(r.where.line);
  s.check(nc_put_var1_int(s.id, s.line, &i, &line), "write");
  const auto bits = static_cast<int>(flags.bits());
  s.check(nc_put_var1_int(s.id, s.flags, &i, &bits), "write");
  if (std::isnan(s.site_lon) && located) s.site_lon = r.m.lon, s.site_lat = r.m.lat;
  return true;
}

void NetcdfWriter::close() {
  State& s = *state_;
  s.check(nc_put_var_float(s.id, s.lon, &s.site_lon), "lon");
  s.check(nc_put_var_float(s.id, s.lat, &s.site_lat), "lat");
  const int id = s.id;
  s.id = -1;
  s.check(nc_close(id), "close");
}

} // namespace tirovan::tools
