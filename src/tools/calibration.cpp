#include "tools/calibration.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include <CLI/CLI.hpp>

#include "text.hpp"
#include "tools/calibration_file.hpp"
#include "tools/figure.hpp"
#include "tools/options.hpp"
#include "tools/output.hpp"

namespace tirovan::tools {
namespace {

// The whole of a text file; none when it does not exist. Throws Error otherwise.
std::optional<std::string> read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return std::nullopt;
    throw Error(path + ": cannot open: " + std::strerror(errno));
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw Error(path + ": cannot read");
  return text.str();
}

std::vector<HistoryRow> read_history(const std::string& path) {
  const std::optional<std::string> text = read_text(path);
  if (!text) return {};
  HistoryText parsed = parse_history(*text);
  if (!parsed.error.empty()) throw Error(path + ": " + parsed.error);
  return std::move(parsed.rows);
}

bool parse_date(const std::string& text, CivilDate& date) {
  // YYYY-MM-DD, digits where digits belong.
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (const std::size_t i : {0U, 1U, 2U, 3U, 5U, 6U, 8U, 9U})
    if (text[i] < '0' || text[i] > '9') return false;
  const auto number = [&text](std::size_t at, std::size_t length) {
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  const int y = number(0, 4), m = number(5, 2), d = number(8, 2);
  if (!is_valid_date(y, m, d)) return false;
  date = {y, m, d};
  return true;
}

std::string day_text(double day) {
  return format_date(civil_from_days(static_cast<std::int64_t>(std::floor(day)))) +
         (day - std::floor(day) < 0.5 ? " am" : " pm");
}

} // namespace

std::size_t append_history(const std::string& path, const std::vector<HistoryRow>& rows) {
  std::size_t appended = 0;
  const std::vector<HistoryRow> merged = merge_history(read_history(path), rows, appended);
  std::string text = history_header();
  for (const HistoryRow& row : merged) text += format_history_row(row);
  write_file(path, text);
  return appended;
}

int run_calibration(const CalibrationCommand& command, std::ostream& out, std::ostream& err) {
  CivilDate date{};
  if (!parse_date(command.date, date)) throw Error("--date " + command.date + ": not a date YYYY-MM-DD");
  const double day = static_cast<double>(days_from_civil(date.year, date.month, date.day)) + 0.5;
  const InputFile lang_file{command.lang_template, command.lang_template};
  set_run_inputs({command.history, command.lang_template});
  refuse_input(command.output);
  const LangTemplate lang = read_lang_template(lang_file);
  const std::optional<std::string> history_text = read_text(command.history);
  if (!history_text) throw Error(command.history + ": no such file");
  HistoryText parsed = parse_history(*history_text);
  if (!parsed.error.empty()) throw Error(command.history + ": " + parsed.error);

  std::set<std::string> instruments;
  for (const HistoryRow& row : parsed.rows)
    if (command.instrument.empty() || row.instrument == command.instrument) instruments.insert(row.instrument);
  if (instruments.empty())
    throw Error(command.history + ": no half-day" +
                (command.instrument.empty() ? std::string() : " of instrument '" + command.instrument + "'"));
  if (instruments.size() > 1)
    throw Error(command.history + ": half-days of " + std::to_string(instruments.size()) +
                " instruments; choose one with --instrument");

  const std::size_t n = lang.wavelength.size();
  std::vector<float> v0 = lang.signal;
  std::vector<double> uncertainty(n, std::nan(""));
  std::size_t missing = 0;
  Figure figure;
  figure.title = "Calibration history of " + *instruments.begin() + ", fit at " + command.date;
  figure.x_label = "Date [days since " + command.date + "]";
  figure.y_label = "ln V0 - ln V0(date) [ln signal]";
  out << "Calibration at " << command.date << " ("
      << (command.model == V0Model::mean ? "robust mean within +-" + text::fixed(command.window, 0) + " days"
                                         : std::string("linear trend"))
      << ") from " << command.history << "\n";
  for (std::size_t i = 0; i < n; ++i) {
    const std::string channel = text::shortest(lang.wavelength[i]) + " nm";
    std::vector<HistoryPoint> points;
    for (const HistoryRow& row : parsed.rows)
      if (row.instrument == *instruments.begin() && std::abs(row.wavelength - lang.wavelength[i]) <= 0.5f)
        points.push_back({history_day(row), row.ln_v0, row.ln_v0_error});
    std::sort(points.begin(), points.end(), [](const auto& a, const auto& b) { return a.day < b.day; });
    const std::vector<Jump> jumps = find_jumps(points, command.jumps);
    for (const Jump& jump : jumps)
      out << "  " << channel << ": jump of " << text::fixed(100.0 * std::expm1(jump.step), 2) << "% in V0 at "
          << day_text(jump.day) << " (after " << day_text(points[jump.index - 1].day) << ")\n";
    const V0Estimate e = estimate_v0(points, jumps, day, command.model, command.window);
    if (!e.ok) {
      ++missing;
      out << "  " << channel << ": no value (" << (points.empty() ? "no half-day in the history" : e.problem)
          << "); the template's V0 kept\n";
      continue;
    }
    v0[i] = static_cast<float>(std::exp(e.ln_v0));
    uncertainty[i] = e.uncertainty;
    out << "  " << channel << ": V0 " << text::shortest(v0[i]) << " +- " << text::fixed(100.0 * e.uncertainty, 3)
        << "% (ln V0 " << text::fixed(e.ln_v0, 5) << " +- " << text::fixed(e.uncertainty, 5) << "), " << e.used
        << " half-days used, " << e.rejected << " rejected, " << day_text(e.first_day) << " to " << day_text(e.last_day)
        << "\n";
    if (!command.plot.empty()) {
      const auto colour = static_cast<int>(i % 10);
      Series data{channel, {}, {}, Series::Style::points, colour};
      for (const HistoryPoint& p : points) {
        data.x.push_back(p.day - day);
        data.y.push_back(p.ln_v0 - e.ln_v0);
      }
      figure.series.push_back(std::move(data));
      const double x0 = e.first_day - day, x1 = e.last_day - day;
      const double from = command.model == V0Model::mean ? std::min(x0, -command.window) : x0;
      const double to = command.model == V0Model::mean ? std::max(x1, command.window) : x1;
      // The fit and its 1-sigma band; a trend's band is drawn at its width at the date.
      double slope = 0;
      if (command.model == V0Model::trend) {
        const V0Estimate later = estimate_v0(points, jumps, day + 1.0, command.model, command.window);
        slope = later.ln_v0 - e.ln_v0;
      }
      figure.series.push_back({"", {from, to}, {slope * from, slope * to}, Series::Style::line, colour});
      for (const double sign : {-1.0, 1.0})
        figure.series.push_back({"",
                                 {from, to},
                                 {slope * from + sign * e.uncertainty, slope * to + sign * e.uncertainty},
                                 Series::Style::line,
                                 colour});
      for (const Jump& jump : jumps)
        figure.series.push_back({channel + " jump " + day_text(jump.day),
                                 {jump.day - day, jump.day - day},
                                 {-std::abs(jump.step), std::abs(jump.step)},
                                 Series::Style::line_points,
                                 colour});
    }
  }
  if (missing == n) throw Error(command.history + ": no channel could be calibrated at " + command.date);
  std::string note = "calibration at " + command.date + ", " +
                     (command.model == V0Model::mean ? "mean within +-" + text::fixed(command.window, 0) + " days"
                                                     : std::string("linear trend")) +
                     ", tirovan-tools";
  write_file(command.output, lang_text(lang, uncertainty_line(uncertainty, note), v0));
  err << "tirovan-tools: calibration written to " << command.output << "\n";
  if (!command.plot.empty()) draw(figure, command.plot);
  return missing > 0 ? 1 : 0;
}

void add_calibration_command(CLI::App& app) {
  auto command = std::make_shared<CalibrationCommand>();
  CLI::App* sub = app.add_subcommand(
      "calibration", "V0 at a date from a calibration history (langley --history), written as a lang.dat");
  sub->add_option("FILE", command->history, "calibration history CSV")->required();
  sub->add_option("--date", command->date, "date of the calibration, YYYY-MM-DD")->required();
  sub->add_option("--template", command->lang_template, "lang.dat whose header, count and wavelengths are used")
      ->required();
  sub->add_option("-o,--output", command->output, "lang.dat to write")->required();
  sub->add_option("--plot", command->plot, "SVG figure of ln V0 against time with the fit, its band and the jumps");
  sub->add_option("--instrument", command->instrument, "use the rows of this instrument only");
  sub->add_option_function<std::string>(
         "--model",
         [command](const std::string& name) { command->model = name == "trend" ? V0Model::trend : V0Model::mean; },
         "mean: robust mean of the half-days within --window days; trend: least-squares line over the segment")
      ->check(CLI::IsMember({"mean", "trend"}))
      ->default_str("mean");
  sub->add_option("--window", command->window, "half-width of the mean's window [days]")
      ->capture_default_str()
      ->check(finite_in(0, 36600, true));
  sub->add_option("--jump-factor", command->jumps.factor, "a jump: a change of level beyond this many sd of scatter")
      ->capture_default_str()
      ->check(finite_in(0, 1000, true));
  sub->add_option("--jump-persist", command->jumps.persist, "... that lasts this many half-days")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{1}, std::size_t{1000}));
  sub->callback([command] { end_command(run_calibration(*command, std::cout, std::cerr)); });
}

} // namespace tirovan::tools
