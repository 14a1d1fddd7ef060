// Line and scatter figures with titled axes, nice tick values, a grid and
// a legend, drawn with Cairo and written as SVG and PNG.
//
// Data are plotted as given, in their own units; the axis labels carry the
// units, e.g. "Time of day, UTC [h]". Points with a non-finite x or y are
// left out, and a line breaks there and across gaps in x (gap_breaks).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tirovan::tools {

struct Series {
  std::string label; // legend text; a series with an empty label has no legend entry
  std::vector<double> x, y;
  enum class Style { line, points, hollow_points, line_points } style = Style::line;
  int colour = -1; // index into the ten-colour palette; -1 takes the series' position in its figure
};

// A closed axis interval in data units, min < max.
struct AxisRange {
  double min = 0, max = 1;
};

struct Figure {
  std::string title, x_label, y_label;
  std::vector<Series> series;
  double width = 900, height = 520; // [px]; one SVG user unit is one pixel
  // Fixed axis limits; without them the limits are the data's, widened to whole tick steps.
  std::optional<AxisRange> x_range = std::nullopt, y_range = std::nullopt;
  bool x_clock = false; // x is a time of day [h], its ticks labelled hh:mm
};

// Where a line through points in x order breaks: the indices i for which
// x[i] - x[i-1] exceeds `factor` times the median of the positive
// intervals between finite neighbours, so that a line does not bridge a
// gap in the measurements (a cloud, a night) as if it had data there.
[[nodiscard]] std::vector<std::size_t> gap_breaks(std::span<const double> x, double factor = 3.0);

// Writes an SVG (and, when png_path is non-empty, a PNG) with Cairo: titled
// axes with units, ticks, legend. Throws std::runtime_error when a file
// cannot be written.
void draw(const Figure& figure, const std::string& svg_path, const std::string& png_path = {});

// The panels stacked top to bottom on one page, each with its own axes and
// legend; the page is as wide as the widest panel and as high as all of them.
void draw_stacked(std::span<const Figure> panels, const std::string& svg_path, const std::string& png_path = {});

// Tick values for an axis: the first and last tick and the step between
// them, a 1, 2 or 5 times a power of ten (Heckbert 1990, "Nice numbers for
// graph labels", Graphics Gems I, 61-63). `loose` widens [lo, hi] to whole
// steps; otherwise the ticks lie within [lo, hi].
struct Ticks {
  double first = 0, last = 1, step = 1;
};
[[nodiscard]] Ticks nice_ticks(double lo, double hi, int target_count, bool loose);

} // namespace tirovan::tools
