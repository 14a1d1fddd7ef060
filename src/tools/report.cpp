#include "tools/report.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "tools/csv.hpp"
#include "tools/figure.hpp"
#include "tools/netcdf.hpp"
#include "tools/network.hpp"
#include "tools/options.hpp"
#include "tools/output.hpp"
#include "tools/report_uncertainty.hpp"

#include "text.hpp"

namespace tirovan::tools {
namespace {

constexpr double hours_per_day = 24;
constexpr std::uint64_t progress_threshold = 200000; // records; smaller inputs finish before a line helps
constexpr std::uint64_t progress_stride = 16384;     // records between looks at the clock

using text::shortest;

std::string wavelength_list(std::span<const float> wavelengths, const std::vector<std::size_t>& channels) {
  std::vector<float> used;
  used.reserve(channels.size());
  for (const std::size_t i : channels) used.push_back(wavelengths[i]);
  return text::list(used);
}

// Doubles of the report's own statistics are written at single precision,
// like the AOT they come from.
void put(CsvWriter& csv, double value) { csv.field(static_cast<float>(value)); }

void write_row(CsvWriter& csv, const Record& r, const ProductValues& products, Flags screening = {},
               const UncertaintyColumns* extra = nullptr) {
  if (r.has_time) {
    char stamp[24];
    csv.field(std::string_view(stamp, static_cast<std::size_t>(format_iso8601(stamp, r.time) - stamp)));
    const double day = day_of_year(r.time.date.year, r.time.date.month, r.time.date.day);
    csv.field_fixed(day + r.time.fraction_of_day, 6);
  } else {
    csv.empty_field();
    csv.empty_field();
  }
  const bool located = !r.flags.has(Flag::unreadable);
  if (located)
    csv.field(r.m.zenith);
  else
    csv.empty_field();
  if (located && !r.flags.has(Flag::sun_too_low))
    csv.field(r.m.air_mass);
  else
    csv.empty_field();
  for (const float aot : r.aot) csv.field(aot);
  put(csv, r.angstrom);
  put(csv, r.aot_500);
  put(csv, r.aot_550);
  for (const double value : {products.pw_cm, products.aot_fine, products.aot_coarse, products.fine_fraction})
    put(csv, value);
  csv.field(static_cast<std::int64_t>(r.where.line));
  Flags flags = r.flags;
  flags |= screening;
  if (flags.any())
    csv.field(flags.names());
  else
    csv.empty_field();
  if (extra != nullptr) extra->write(csv, r);
  csv.end_row();
}

// Rate-limited warnings: the first `limit` of each kind, then a count.
class Warnings {
public:
  Warnings(const std::function<void(const std::string&)>& sink, std::size_t limit) : sink_(sink), limit_(limit) {}

  void add(const std::string& kind, const std::string& text) {
    const std::size_t seen = ++seen_[kind];
    if (limit_ == 0 || seen <= limit_) sink_(text);
  }
  void finish() {
    for (const auto& [kind, seen] : seen_) {
      if (limit_ > 0 && seen > limit_)
        sink_("warning: " + std::to_string(seen - limit_) + " more " + kind + " not shown");
    }
  }

private:
  const std::function<void(const std::string&)>& sink_;
  std::size_t limit_;
  std::map<std::string, std::size_t> seen_;
};

class Progress {
public:
  Progress(bool enabled, std::int32_t total)
      : enabled_(enabled && total >= static_cast<std::int32_t>(progress_threshold)), total_(total) {}
  ~Progress() {
    if (shown_) show("\r\x1b[K");
  }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void update(std::uint64_t done) {
    if (!enabled_ || done % progress_stride != 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    shown_ = true;
    show("\rreport: " + text::fixed(100.0 * static_cast<double>(done) / static_cast<double>(total_), 0) + "% (" +
         std::to_string(done) + " of " + std::to_string(total_) + " records)");
  }

private:
  // Progress is best effort: a refused write to the terminal is no failure.
  static void show(const std::string& line) { (void)::write(STDERR_FILENO, line.data(), line.size()); }

  bool enabled_;
  std::int32_t total_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};

// Where the rows go: the CSV, or the NetCDF file, with the products of each record.
struct Rows {
  const Products& products;
  CsvWriter* csv = nullptr;
  NetcdfWriter* netcdf = nullptr;
  const UncertaintyColumns* uncertainty = nullptr; // extra CSV columns, when asked
  std::uint64_t without_time = 0;

  void write(const Record& r, Flags screening = {}) {
    const ProductValues values = products(r);
    if (csv != nullptr) {
      write_row(*csv, r, values, screening, uncertainty);
      return;
    }
    Flags flags = r.flags;
    flags |= screening;
    if (!netcdf->row(r, flags, values)) ++without_time;
  }
};

// One day of records in file order, the records reused from day to day.
class Report {
public:
  Report(const ReportOptions& options, RecordReader& reader, Rows& rows, Warnings& warnings, ReportSummary& summary)
      : options_(options), reader_(reader), rows_(rows), warnings_(warnings), summary_(summary),
        screening_(options.screen || options.drop_flagged), hold_days_(!options.plot_folder.empty() || screening_) {}

  void run() {
    Progress progress(options_.progress, reader_.declared_count());
    if (hold_days_) {
      const DayIndex index = index_days(reader_.measurement_file(), options_.local_solar_day);
      if (!index.in_order) {
        // Interleaved or unsorted: hold each date's records until all of
        // them are in (the read-ahead counted them).
        expected_ = index.records;
        warnings_.add("", reader_.measurement_file().shown +
                              ": warning: records are not in date order; days are grouped by date");
      }
    }
    std::int64_t key = no_day;
    for (;;) {
      Record record;
      if (!reader_.next(record)) break;
      progress.update(reader_.records_read());
      if (record.flags.skipped()) {
        ++summary_.skipped;
        warnings_.add("skipped records", location(reader_.measurement_file(), record.where) + ": warning: record " +
                                             std::to_string(record.number) + " skipped: " + record.problem);
      }
      if (!hold_days_) {
        rows_.write(record);
        ++summary_.records;
        continue;
      }
      key = day_key(record, key, options_.local_solar_day);
      if (expected_.empty()) { // in date order: a new date closes the day before
        if (!open_.empty() && open_.begin()->first != key) finish_day(open_.begin());
        open_[key].push_back(std::move(record));
        continue;
      }
      auto day = open_.try_emplace(key).first;
      day->second.push_back(std::move(record));
      if (day->second.size() == expected_[key]) finish_day(day);
    }
    while (!open_.empty()) finish_day(open_.begin());
  }

private:
  // Cloud screening of the day's records that have a time, values and no
  // flag of their own (a record with the Sun below the horizon would
  // distort the day's statistics); the others are not screened.
  //
  // A channel with AOT below the screening's limit loses its value: the
  // record enters the screening with its Angstrom exponent and AOT(500)
  // from the channels kept, and is written with them when the screening
  // flags it negative_aot.
  std::vector<Flags> screen(std::span<Record> day) const {
    std::vector<Flags> flags(day.size());
    if (!screening_) return flags;
    std::vector<ScreeningPoint> points;
    std::vector<std::size_t> index;
    // The water channel is no AOT: its values, water vapour included, stay out of the tests.
    const std::optional<std::size_t> water = rows_.products.water_channel();
    std::vector<std::vector<float>> without_water(water ? day.size() : 0);
    std::vector<Record> kept; // the records' values without their rejected channels
    kept.reserve(day.size());
    for (std::size_t i = 0; i < day.size(); ++i) {
      const Record& r = day[i];
      if (!r.has_time || r.flags.any()) continue;
      Record& k = kept.emplace_back();
      k.aot = r.aot;
      for (float& aot : k.aot)
        if (!(static_cast<double>(aot) >= options_.screening.min_aot)) aot = static_cast<float>(not_computed);
      reader_.derive(k);
      std::span<const float> aot = r.aot;
      if (water && *water < r.aot.size()) {
        without_water[i] = r.aot;
        without_water[i].erase(without_water[i].begin() + static_cast<std::ptrdiff_t>(*water));
        aot = without_water[i];
      }
      points.push_back(
          {r.time.fraction_of_day * hours_per_day, static_cast<double>(r.m.air_mass), aot, k.aot_500, k.angstrom});
      index.push_back(i);
    }
    const std::vector<Flags> found = screen_day(points, options_.screening);
    for (std::size_t j = 0; j < index.size(); ++j) {
      flags[index[j]] = found[j];
      if (!found[j].has(Flag::negative_aot)) continue;
      Record& r = day[index[j]];
      r.aot = std::move(kept[j].aot);
      r.angstrom = kept[j].angstrom, r.aot_500 = kept[j].aot_500, r.aot_550 = kept[j].aot_550;
    }
    return flags;
  }

  // Writes a day's records and its figure, and forgets the day. With
  // drop_flagged the records to keep are moved to the front first.
  void finish_day(std::map<std::int64_t, std::vector<Record>>::iterator at) {
    std::vector<Record>& records = at->second;
    const std::size_t count = records.size();
    std::vector<Flags> screening = screen(records);
    std::size_t kept = count;
    if (options_.drop_flagged) {
      kept = 0;
      for (std::size_t i = 0; i < count; ++i) {
        // A record that lost only channels (their cells are empty) is kept.
        Flags reasons = records[i].flags;
        reasons |= screening[i];
        if (reasons.any() && !(reasons.bits() == flag_bit(Flag::negative_aot))) continue;
        if (kept != i) std::swap(records[kept], records[i]);
        screening[kept++] = screening[i];
      }
      summary_.dropped += count - kept;
    }
    const std::span<const Record> day(records.data(), kept);
    for (std::size_t i = 0; i < kept; ++i) rows_.write(day[i], screening[i]);
    summary_.records += kept;
    if (!options_.plot_folder.empty() && at->first != no_day) {
      std::string stem = options_.plot_folder + "/aot_" + format_date(civil_from_days(at->first));
      const int repeat = ++figures_of_date_[stem];
      if (repeat > 1) stem.append("_").append(std::to_string(repeat));
      draw_day(day, reader_.wavelengths(), reader_.angstrom_window(), stem, options_.local_solar_day,
               screening_ ? std::span<const Flags>(screening.data(), kept) : std::span<const Flags>{});
      summary_.figures.push_back(stem + ".svg");
    }
    open_.erase(at);
  }

  const ReportOptions& options_;
  RecordReader& reader_;
  Rows& rows_;
  Warnings& warnings_;
  ReportSummary& summary_;
  bool screening_;
  bool hold_days_;
  std::map<std::int64_t, std::vector<Record>> open_; // days being read, by day key
  std::map<std::int64_t, std::uint64_t> expected_;   // records per day when the file is out of order
  std::map<std::string, int> figures_of_date_;
};

} // namespace

std::vector<std::string> report_columns(std::span<const float> wavelengths) {
  std::vector<std::string> columns = {"time_utc", "day_of_year", "zenith_deg", "air_mass"};
  for (const float w : wavelengths) columns.push_back("aot_channel_" + shortest(w) + "nm");
  for (const char* name : {"angstrom_440_870", "aot_500nm", "aot_550nm", "source_line", "flags"})
    columns.emplace_back(name);
  return columns;
}

std::string angstrom_note(std::span<const float> wavelengths, const AngstromWindow& window) {
  if (window.channels().empty()) return "report: angstrom_440_870 has no channel within 440-870 nm";
  return "report: angstrom_440_870 uses " + wavelength_list(wavelengths, window.channels()) + " nm";
}

void draw_day(std::span<const Record> day, std::span<const float> wavelengths, const AngstromWindow& window,
              const std::string& stem, bool local_solar, std::span<const Flags> screening) {
  // Time of day [h]: UTC, or local mean solar time UT + lon / 15 h.
  const auto hour_of = [local_solar](const Record& r) {
    const double utc = r.time.fraction_of_day * hours_per_day;
    if (!local_solar) return utc;
    const double local = utc + static_cast<double>(r.m.lon) / 15.0;
    return local - hours_per_day * std::floor(local / hours_per_day);
  };
  const std::string time_label = local_solar ? "Local solar time, UT + lon/15 [hh:mm]" : "Time of day, UTC [hh:mm]";
  const Record* first = nullptr;
  double earliest = hours_per_day, latest = 0;
  for (const Record& r : day) {
    if (!r.has_time || r.flags.skipped()) continue;
    if (first == nullptr) first = &r;
    const double hour = hour_of(r);
    earliest = std::min(earliest, hour), latest = std::max(latest, hour);
  }
  if (first == nullptr) return;
  const bool many = day.size() > 150;
  const auto style = many ? Series::Style::line : Series::Style::line_points;

  const std::string site =
      text::fixed(std::fabs(static_cast<double>(first->m.lat)), 2) + "\u00b0 " + (first->m.lat < 0 ? "S" : "N") + ", " +
      text::fixed(std::fabs(static_cast<double>(first->m.lon)), 2) + "\u00b0 " + (first->m.lon < 0 ? "W" : "E");
  const CivilDate date = local_solar ? civil_from_days(day_key(*first, no_day, true)) : first->time.date;
  Figure aot{"Aerosol optical thickness, " + format_date(date) + (local_solar ? ", local solar day" : "") + " (" +
                 site + ")",
             time_label,
             "AOT [1]",
             {}};
  aot.series.resize(wavelengths.size());
  for (std::size_t i = 0; i < wavelengths.size(); ++i) {
    aot.series[i].label = shortest(wavelengths[i]) + " nm";
    aot.series[i].style = style;
  }
  Series alpha{"\u03b1 " + wavelength_list(wavelengths, window.channels()) + " nm", {}, {}, style, 0};
  // With screening on, flagged records are hollow markers of their
  // channel's colour, off the clear records' lines.
  const bool screened = !screening.empty();
  std::vector<Series> flagged(wavelengths.size() + 1);
  for (std::size_t i = 0; i < flagged.size(); ++i) {
    flagged[i].style = Series::Style::hollow_points;
    flagged[i].colour = i < wavelengths.size() ? static_cast<int>(i) : 0;
  }
  flagged.back().label = "flagged (hollow)";
  const double gap = not_computed; // breaks the clear records' line
  for (std::size_t k = 0; k < day.size(); ++k) {
    const Record& r = day[k];
    if (!r.has_time || r.flags.skipped()) continue;
    const double hour = hour_of(r);
    const bool is_flagged = screened && k < screening.size() && (screening[k].any() || r.flags.any());
    for (std::size_t i = 0; i < wavelengths.size(); ++i) {
      const auto value = static_cast<double>(r.aot[i]);
      aot.series[i].x.push_back(hour);
      aot.series[i].y.push_back(is_flagged ? gap : value);
      if (is_flagged) flagged[i].x.push_back(hour), flagged[i].y.push_back(value);
    }
    alpha.x.push_back(hour);
    alpha.y.push_back(is_flagged ? gap : r.angstrom);
    if (is_flagged) flagged.back().x.push_back(hour), flagged.back().y.push_back(r.angstrom);
  }
  if (screened) {
    for (std::size_t i = 0; i < wavelengths.size(); ++i) {
      aot.series[i].colour = static_cast<int>(i);
      aot.series.push_back(flagged[i]);
    }
  }
  // Whole hours around the data with room, so that no marker sits on the frame.
  constexpr double room = 0.1; // [h]
  const AxisRange hours{std::floor(earliest - room), std::max(std::ceil(latest + room), std::floor(earliest) + 1)};
  aot.x_range = hours;
  aot.x_clock = true;
  Figure angstrom{"", time_label, "\u00c5ngstr\u00f6m exponent [1]", {std::move(alpha)}};
  if (screened) angstrom.series.push_back(std::move(flagged.back()));
  angstrom.x_range = hours;
  angstrom.x_clock = true;
  angstrom.height = 300;
  const Figure panels[] = {std::move(aot), std::move(angstrom)};
  draw_stacked(panels, stem + ".svg", stem + ".png");
}

ReportSummary write_report(const ReportOptions& options, const std::function<void(const std::string&)>& warn) {
  ReportSummary summary;
  RecordReader reader(options.folder, {options.physics, options.angstrom_tolerance_nm});
  summary.notes.push_back(angstrom_note(reader.wavelengths(), reader.angstrom_window()));
  if (options.physics == Physics::reference) {
    summary.notes.emplace_back("report: physics reference: precise Sun (ERFA), Kasten & Young air mass, Bodhaine "
                               "Rayleigh depth, ozone air mass (Komhyr, 22 km); values differ from tirovan's");
  }
  set_run_inputs({input_file(options.folder, calibration_name).path, reader.measurement_file().path});
  if (!options.plot_folder.empty()) {
    if (::mkdir(options.plot_folder.c_str(), 0777) != 0 && errno != EEXIST) {
      throw Error(options.plot_folder +
                  ": cannot create: " + std::error_code(errno, std::generic_category()).message());
    }
    struct stat folder {};
    if (::stat(options.plot_folder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
      throw Error(options.plot_folder + ": not a folder");
  }
  const Products products(reader.wavelengths(), reader.calibration(), options.products);
  const std::unique_ptr<UncertaintyColumns> uncertainty = uncertainty_columns(options.uncertainty, reader);
  // Rows stream into a temporary file that replaces the old one only when
  // the whole report, figures included, succeeded.
  if (options.netcdf && options.output.empty()) throw Error("--format netcdf needs -o FILE.nc");
  OutputFile output(options.output);
  Warnings warnings(warn, options.max_warnings);
  auto finish = [&] {
    if (reader.ended_early()) {
      summary.ended_early = true;
      warnings.add("", location(reader.measurement_file(), reader.end()) + ": warning: the file ends after " +
                           std::to_string(reader.records_read()) + " of the " +
                           std::to_string(reader.declared_count()) + " declared records (tirovan stops here)");
    }
  };
  if (options.netcdf) {
    NetcdfWriter netcdf(output, {reader.wavelengths(), products.water_channel(),
                                 wavelength_list(reader.wavelengths(), reader.angstrom_window().channels()),
                                 reader.calibration_file().path, reader.measurement_file().path});
    Rows rows{products, nullptr, &netcdf};
    Report(options, reader, rows, warnings, summary).run();
    finish();
    summary.without_time = rows.without_time;
    if (rows.without_time > 0)
      warnings.add("", output.name() + ": warning: " + std::to_string(rows.without_time) +
                           " records without a valid time left out (no place on the time axis)");
    warnings.finish();
    netcdf.close();
  } else {
    CsvWriter csv(output.fd(), output.name());
    std::vector<std::string> columns = report_columns(reader.wavelengths());
    products.name_columns(columns);
    if (uncertainty) {
      const std::vector<std::string> names = uncertainty->names();
      columns.insert(columns.end(), names.begin(), names.end());
    }
    for (const std::string& column : columns) csv.field(column);
    csv.end_row();
    Rows rows{products, &csv, nullptr, uncertainty.get()};
    Report(options, reader, rows, warnings, summary).run();
    finish();
    warnings.finish();
    csv.flush();
  }
  output.commit();
  return summary;
}

namespace {

void add_screening_options(CLI::App& command, bool& screen, bool& drop_flagged, ScreeningOptions& options) {
  const char* group = "Cloud screening (Smirnov et al. 2000, adapted to single measurements)";
  CLI::Option* on = command.add_flag("--screen", screen, "screen each day for clouds; reasons go to the flags column");
  on->group(group);
  command.add_flag("--drop-flagged", drop_flagged, "screen, and leave flagged records out of the CSV and figures")
      ->group(group);
  // Every threshold below takes effect only with screening on; each is
  // checked for a finite value in its range.
  auto threshold = [&](const char* name, double& value, const char* text, const CLI::Validator& range) {
    command.add_option(name, value, text)->capture_default_str()->group(group)->check(range);
  };
  threshold("--screen-max-air-mass", options.max_air_mass, "air mass above this is not used", finite_in(1, 40));
  threshold("--screen-min-aot", options.min_aot,
            "AOT below this in a channel drops that channel's value (flag negative_aot)", finite_in(-1, 10));
  threshold("--triplet-window", options.triplet_window_minutes,
            "three consecutive measurements within this many minutes form a triplet", finite_in(0, 1440, true));
  threshold("--triplet-abs", options.triplet_absolute, "triplet: AOT spread limit ...", finite_in(0, 10));
  threshold("--triplet-rel", options.triplet_relative, "... or this fraction of the AOT, whichever is larger",
            finite_in(0, 10));
  threshold("--stable-sd", options.stable_sd, "a day whose AOT(500) sd is below this skips the smoothness test",
            finite_in(0, 10));
  threshold("--smoothness-limit", options.max_smoothness, "smoothness D of ln AOT(500), t in days [1/day], to reach",
            finite_in(0, 1e6, true));
  threshold("--smoothness-bin", options.smoothness_bin_minutes,
            "measurements this many minutes apart or closer enter the smoothness test as one", finite_in(0, 1440));
  threshold("--sigma-limit", options.sigma_limit, "AOT(500) and Angstrom exponent beyond mean +- this many sd",
            finite_in(0, 100, true));
  command
      .add_flag("!--smoothness-as-published", options.smoothness_dip_rule,
                "the smoothness test removes the point of the largest term even when it is a dip between two "
                "higher points (default: the higher neighbour goes, as a cloud only adds optical depth)")
      ->group(group);
  command.add_option("--min-day-points", options.min_day_points, "a day with fewer measurements left is flagged whole")
      ->capture_default_str()
      ->group(group)
      ->check(CLI::Range(std::size_t{0}, std::size_t{1000000}));
}

} // namespace
void add_report_command(CLI::App& app) {
  auto options = std::make_shared<ReportOptions>();
  CLI::App* command =
      app.add_subcommand("report", "Write AOT, Angstrom exponent and AOT at 500/550 nm as CSV, plot each day");
  command->footer(
      "Retrieves every measurement with tirovan's own procedures (the same single-precision AOT; with\n"
      "--physics reference, with precise physics in double precision, the values to publish) and\n"
      "writes one CSV row per record: time_utc (ISO 8601, to the second), day_of_year (with fraction),\n"
      "zenith_deg, air_mass, aot_channel_<wavelength>nm per channel, angstrom_440_870 (the Angstrom\n"
      "exponent fitted over the channels within --angstrom-tolerance of 440-870 nm; the channels used\n"
      "are named on standard error), aot_500nm and aot_550nm (from the bracketing channels),\n"
      "source_line and flags; pw_cm, precipitable water from a channel in the water window (its AOT column\n"
      "ends in _water: water vapour absorbs there); aot_fine_500nm, aot_coarse_500nm and\n"
      "fine_fraction by spectral deconvolution, empty with fewer than four channels with AOT > 0 in\n"
      "380-1020 nm (a parabola in ln AOT needs a fourth point to be more than an interpolation).\n"
      "A record that would stop tirovan gets a row with its flag, no values, and a warning\n"
      "on standard error. Writes: the CSV to -o FILE (replaced atomically) or standard output; figures to\n"
      "--plot-dir; warnings and the summary to standard error; never lang.dat or dane.dat.\n"
      "Exit status: 0 done, 1 done with records skipped or warnings, 2 input or output failure.");
  auto folders = std::make_shared<std::vector<std::string>>(std::vector<std::string>{"."});
  auto network = std::make_shared<std::pair<std::string, unsigned>>(std::string(), std::thread::hardware_concurrency());
  command->add_option("DIR", *folders, "Folders with lang.dat and dane.dat (several: see --output-pattern)")
      ->capture_default_str();
  command->add_option("-o,--output", options->output, "File to write (default: standard output); one folder only");
  command->add_option("--output-pattern", network->first,
                      "With several folders, the file of each: {dir} is the folder, {name} its last component "
                      "(e.g. '{dir}/report.csv' or 'out/{name}.nc'); each folder is a process of its own");
  command->add_option("--jobs", network->second, "Folders reported at a time (default: the number of cores)")
      ->check(CLI::Range(1u, 4096u));
  command
      ->add_option_function<std::string>(
          "--format", [options](const std::string& format) { options->netcdf = format == "netcdf"; },
          "csv, or netcdf (CF-1.8; needs -o FILE.nc or --output-pattern)")
      ->check(CLI::IsMember({"csv", "netcdf"}))
      ->default_str("csv");
  command->add_option("--plot-dir", options->plot_folder,
                      "Write one figure per day here (aot_YYYY-MM-DD.svg and .png): AOT per channel and the "
                      "Angstrom exponent against the time of day; with several folders a pattern as above");
  command->add_option("--max-warnings", options->max_warnings, "Warnings shown per kind (0: all)")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{0}, std::size_t{1000000000}));
  auto physics = std::make_shared<std::string>("core");
  command
      ->add_option("--physics", *physics,
                   "core: tirovan's own procedures and numbers; reference: precise Sun (ERFA, real calendar), "
                   "Kasten & Young air mass on the apparent zenith, Bodhaine et al. (1999) Rayleigh depth and the "
                   "ozone depth on its own air mass (Komhyr et al. 1989, 22 km) - the values to publish")
      ->capture_default_str()
      ->check(CLI::IsMember({"core", "reference"}));
  command
      ->add_option("--angstrom-tolerance", options->angstrom_tolerance_nm,
                   "a channel within this many nm of 440-870 nm enters angstrom_440_870 (the channels used are "
                   "named on standard error)")
      ->capture_default_str()
      ->check(finite_in(0, 200));
  add_product_options(*command, options->products);
  add_screening_options(*command, options->screen, options->drop_flagged, options->screening);
  add_uncertainty_options(*command, options->uncertainty);
  command->add_flag("--local-solar-day", options->local_solar_day,
                    "Group days (figures, screening) by local mean solar time UT + lon/15 h instead of the UTC "
                    "date, for stations far from Greenwich whose day spans UTC midnight; figures show that time");
  command->callback([options, physics, folders, network] {
    options->physics = *physics == "reference" ? Physics::reference : Physics::core;
    options->progress = ::isatty(STDERR_FILENO) != 0;
    if (folders->size() > 1) {
      if (!options->output.empty())
        throw Error("-o names one file; with " + std::to_string(folders->size()) + " folders use --output-pattern");
      if (network->first.empty())
        throw Error("with " + std::to_string(folders->size()) + " folders, --output-pattern names each one's file");
      const int status = report_folders(*options, *folders, network->first, network->second);
      if (status != exit_ok) throw CLI::RuntimeError(status);
      return;
    }
    options->folder = folders->front();
    if (!network->first.empty()) {
      if (!options->output.empty()) throw Error("-o and --output-pattern: give one of them");
      options->output = expand_pattern(network->first, options->folder);
    }
    const ReportSummary summary = write_report(*options, [](const std::string& text) { print_err(text); });
    for (const std::string& note : summary.notes) print_err(note);
    if (summary.dropped > 0) print_err("report: " + std::to_string(summary.dropped) + " flagged records left out");
    if (summary.skipped > 0) {
      print_err("report: " + std::to_string(summary.skipped) + " of " + std::to_string(summary.records) +
                " records skipped");
    }
    if (summary.skipped > 0 || summary.warnings > 0 || summary.ended_early) throw CLI::RuntimeError(exit_warnings);
  });
}

} // namespace tirovan::tools
