#include "analysis/calibration_history.hpp"
#include "analysis/statistics.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <set>
#include <tuple>

namespace tirovan::analysis {
namespace {

constexpr double rejection_mads = 3.0;

std::string quoted(std::string_view text) {
  if (text.find_first_of(",\"\n\r") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string number(double value) {
  char buffer[32];
  return {buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr};
}

std::string number(float value) {
  char buffer[32];
  return {buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr};
}

// The fields of one CSV line (RFC 4180 quoting); false for an unclosed quote.
bool split(std::string_view line, std::vector<std::string>& fields) {
  fields.assign(1, {});
  bool in_quotes = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (in_quotes) {
      if (c != '"') {
        fields.back() += c;
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else {
        in_quotes = false;
      }
    } else if (c == '"') {
      in_quotes = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return !in_quotes;
}

template <class T>
bool parse(const std::string& text, T& value) {
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc{} && result.ptr == text.data() + text.size();
}

bool parse_date(const std::string& text, CivilDate& date) {
  std::int64_t y = 0, m = 0, d = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  if (!parse(text.substr(0, 4), y) || !parse(text.substr(5, 2), m) || !parse(text.substr(8, 2), d)) return false;
  if (!is_valid_date(y, m, d)) return false;
  date = {y, m, d};
  return true;
}

auto key(const HistoryRow& row) {
  return std::make_tuple(row.instrument, days_from_civil(row.date.year, row.date.month, row.date.day), row.afternoon,
                         number(row.wavelength));
}

} // namespace

std::string history_header() {
  return "instrument,date,half_day,wavelength_nm,ln_v0,ln_v0_error,points,air_mass_span,method\n";
}

std::string format_history_row(const HistoryRow& row) {
  return quoted(row.instrument) + "," + format_date(row.date) + "," + (row.afternoon ? "pm" : "am") + "," +
         number(row.wavelength) + "," + number(row.ln_v0) + "," + number(row.ln_v0_error) + "," +
         std::to_string(row.points) + "," + number(row.air_mass_span) + "," + quoted(row.method) + "\n";
}

HistoryText parse_history(std::string_view text) {
  HistoryText result;
  std::vector<std::string> fields;
  std::size_t line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line_number == 1) {
      if (std::string(line) + "\n" != history_header()) {
        result.error = "line 1: not a calibration history header (" + history_header().substr(0, 40) + "...)";
        return result;
      }
      continue;
    }
    if (line.empty()) continue;
    HistoryRow row;
    const auto bad = [&](const std::string& what) {
      result.error = "line " + std::to_string(line_number) + ": " + what;
    };
    if (!split(line, fields) || fields.size() != 9) {
      bad("9 comma-separated fields expected");
      return result;
    }
    row.instrument = fields[0];
    row.method = fields[8];
    if (!parse_date(fields[1], row.date)) {
      bad("'" + fields[1] + "' is not a date YYYY-MM-DD");
      return result;
    }
    if (fields[2] != "am" && fields[2] != "pm") {
      bad("half_day '" + fields[2] + "' is neither am nor pm");
      return result;
    }
    row.afternoon = fields[2] == "pm";
    if (!parse(fields[3], row.wavelength) || !parse(fields[4], row.ln_v0) || !parse(fields[5], row.ln_v0_error) ||
        !parse(fields[6], row.points) || !parse(fields[7], row.air_mass_span) || !std::isfinite(row.ln_v0) ||
        !std::isfinite(row.wavelength)) {
      bad("a number field cannot be read");
      return result;
    }
    result.rows.push_back(std::move(row));
  }
  if (line_number == 0) result.error = "empty: no header";
  return result;
}

std::vector<HistoryRow> merge_history(std::vector<HistoryRow> existing, std::span<const HistoryRow> added,
                                      std::size_t& appended) {
  std::set<decltype(key(HistoryRow{}))> seen;
  for (const HistoryRow& row : existing) seen.insert(key(row));
  appended = 0;
  for (const HistoryRow& row : added) {
    if (!seen.insert(key(row)).second) continue;
    existing.push_back(row);
    ++appended;
  }
  return existing;
}

double history_day(const HistoryRow& row) {
  return static_cast<double>(days_from_civil(row.date.year, row.date.month, row.date.day)) +
         (row.afternoon ? 0.75 : 0.25);
}

double point_scatter(std::span<const HistoryPoint> sorted) {
  if (sorted.size() < 3) return 0;
  std::vector<double> difference;
  for (std::size_t k = 1; k < sorted.size(); ++k) difference.push_back(sorted[k].ln_v0 - sorted[k - 1].ln_v0);
  return robust_sd(difference, median(difference)) / std::sqrt(2.0);
}

std::vector<Jump> find_jumps(std::span<const HistoryPoint> sorted, const JumpOptions& options) {
  std::vector<Jump> jumps;
  const double limit = options.factor * point_scatter(sorted);
  const std::size_t persist = std::max<std::size_t>(options.persist, 1);
  std::size_t segment = 0; // first point of the current level
  for (std::size_t k = segment + 2; k + persist <= sorted.size(); ++k) {
    // The old level: the median of up to `baseline` points before k, since the last jump.
    const std::size_t from = std::max(segment, k - std::min(k, options.baseline));
    if (k - from < 2) continue;
    std::vector<double> before;
    for (std::size_t j = from; j < k; ++j) before.push_back(sorted[j].ln_v0);
    const double level = median(before);
    // Every one of the next `persist` points beyond the limit, on one side.
    int side = 0;
    bool persists = true;
    for (std::size_t j = k; j < k + persist && persists; ++j) {
      const double d = sorted[j].ln_v0 - level;
      const int s = d > limit ? 1 : (d < -limit ? -1 : 0);
      persists = s != 0 && (side == 0 || s == side);
      side = s;
    }
    if (!persists) continue;
    // The new level: the median of up to `baseline` points from k on (at least the persisting ones).
    std::vector<double> after;
    const std::size_t to = std::min(sorted.size(), k + std::max(persist, options.baseline));
    for (std::size_t j = k; j < to; ++j) after.push_back(sorted[j].ln_v0);
    jumps.push_back({k, sorted[k].day, median(after) - level});
    segment = k;
    k = k + 1; // the loop's ++k makes the next candidate k + 2: two points of the new level set it
  }
  return jumps;
}

V0Estimate estimate_v0(std::span<const HistoryPoint> sorted, std::span<const Jump> jumps, double day, V0Model model,
                       double window) {
  V0Estimate e;
  e.segment_begin = 0;
  e.segment_end = sorted.size();
  for (const Jump& jump : jumps) {
    if (jump.day <= day)
      e.segment_begin = jump.index;
    else {
      e.segment_end = jump.index;
      break;
    }
  }
  std::vector<std::size_t> chosen;
  for (std::size_t k = e.segment_begin; k < e.segment_end; ++k)
    if (model == V0Model::trend || std::abs(sorted[k].day - day) <= window) chosen.push_back(k);
  if (chosen.empty()) {
    e.problem = model == V0Model::mean ? "no half-day within the window (and on this side of a jump)"
                                       : "no half-day between the jumps around the date";
    return e;
  }
  // Residuals from the model's first fit: the median for the mean, a line for the trend.
  const auto fit_line = [&](const std::vector<std::size_t>& index, double& a, double& b, double& mean_t, double& sxx) {
    LineSums sums;
    for (const std::size_t k : index) sums.add(sorted[k].day, sorted[k].ln_v0);
    const Line line = sums.line();
    mean_t = line.mean_x, sxx = line.sxx;
    b = std::isfinite(line.slope) ? line.slope : 0;
    a = std::isfinite(line.slope) ? line.intercept : line.mean_y; // all on one day: their mean
  };
  if (model == V0Model::trend && chosen.size() < 3) {
    e.problem = "a trend needs 3 half-days between the jumps, " + std::to_string(chosen.size()) + " there";
    return e;
  }
  std::vector<double> residual;
  residual.reserve(chosen.size());
  double a = 0, b = 0, mean_t = 0, sxx = 0;
  if (model == V0Model::trend) fit_line(chosen, a, b, mean_t, sxx);
  for (const std::size_t k : chosen)
    residual.push_back(sorted[k].ln_v0 - (model == V0Model::trend ? a + b * sorted[k].day : 0));
  const double centre = median(residual);
  const double spread = robust_sd(residual, centre);
  std::vector<std::size_t> kept;
  for (std::size_t j = 0; j < chosen.size(); ++j)
    if (!(std::abs(residual[j] - centre) > rejection_mads * spread)) kept.push_back(chosen[j]);
  e.rejected = chosen.size() - kept.size();
  e.used = kept.size();
  e.first_day = sorted[kept.front()].day;
  e.last_day = sorted[kept.back()].day;
  const auto n = static_cast<double>(kept.size());
  if (model == V0Model::mean) {
    double sum = 0;
    for (const std::size_t k : kept) sum += sorted[k].ln_v0;
    e.ln_v0 = sum / n;
    double ss = 0;
    for (const std::size_t k : kept) ss += (sorted[k].ln_v0 - e.ln_v0) * (sorted[k].ln_v0 - e.ln_v0);
    e.uncertainty = kept.size() > 1 ? std::sqrt(ss / (n - 1) / n) : sorted[kept.front()].ln_v0_error;
  } else {
    if (kept.size() < 3) {
      e.problem = "a trend needs 3 half-days, " + std::to_string(kept.size()) + " left after rejection";
      return e;
    }
    fit_line(kept, a, b, mean_t, sxx);
    double ss = 0;
    for (const std::size_t k : kept) ss += std::pow(sorted[k].ln_v0 - (a + b * sorted[k].day), 2);
    const double s = std::sqrt(ss / (n - 2));
    e.ln_v0 = a + b * day;
    e.uncertainty = s * std::sqrt(1.0 / n + (sxx > 0 ? (day - mean_t) * (day - mean_t) / sxx : 0.0));
  }
  e.ok = true;
  return e;
}

} // namespace tirovan::analysis
