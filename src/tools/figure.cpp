#include "tools/figure.hpp"
#include "tools/status.hpp"
#include "tools/output.hpp"

#include <algorithm>
#include <array>
#include <cairo-svg.h>
#include <cairo.h>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <stdexcept>
#include <vector>

#include "text.hpp"

namespace tirovan::tools {
namespace {

struct Rgb {
  double r, g, b;
};

constexpr Rgb rgb(unsigned hex) {
  return {static_cast<double>((hex >> 16U) & 0xffU) / 255.0, static_cast<double>((hex >> 8U) & 0xffU) / 255.0,
          static_cast<double>(hex & 0xffU) / 255.0};
}

// Tableau 10, the qualitative palette of Tableau and matplotlib ("tab10"):
// ten hues that stay apart on screen and in print.
constexpr std::array<Rgb, 10> palette = {rgb(0x1f77b4), rgb(0xff7f0e), rgb(0x2ca02c), rgb(0xd62728), rgb(0x9467bd),
                                         rgb(0x8c564b), rgb(0xe377c2), rgb(0x7f7f7f), rgb(0xbcbd22), rgb(0x17becf)};
constexpr Rgb ink = rgb(0x222222);
constexpr Rgb grid_ink = rgb(0xe3e3e3);

constexpr const char* font_family = "DejaVu Sans";
constexpr double title_size = 15, label_size = 12.5, tick_size = 11, legend_size = 11; // [px]
constexpr double pad = 10, tick_length = 5;                                            // [px]
constexpr double legend_row = 17, legend_swatch = 24;                                  // [px]

using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;
using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

void set_colour(cairo_t* cr, const Rgb& c, double alpha = 1.0) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

void set_font(cairo_t* cr, double size, bool bold = false) {
  cairo_select_font_face(cr, font_family, CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

double text_width(cairo_t* cr, const std::string& text) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  return e.x_advance;
}

// Draws `text` with its anchor at (x, y): h = 0 left, 0.5 centre, 1 right;
// v = 0 top, 0.5 middle, 1 baseline of the font's ascent.
void show_text(cairo_t* cr, const std::string& text, double x, double y, double h, double v) {
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  cairo_move_to(cr, x - h * text_width(cr, text), y + (1.0 - v) * fe.ascent * 0.78);
  cairo_show_text(cr, text.c_str());
}

double nice_number(double x, bool round) {
  const double exponent = std::floor(std::log10(x));
  const double fraction = x / std::pow(10.0, exponent);
  double nice = 10;
  if (round) {
    if (fraction < 1.5)
      nice = 1;
    else if (fraction < 3)
      nice = 2;
    else if (fraction < 7)
      nice = 5;
  } else {
    if (fraction <= 1)
      nice = 1;
    else if (fraction <= 2)
      nice = 2;
    else if (fraction <= 5)
      nice = 5;
  }
  return nice * std::pow(10.0, exponent);
}

// Tick label with as many decimals as the step needs; never "-0".
std::string tick_label(double value, double step) {
  const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(step) + 1e-9)), 0, 12);
  if (std::fabs(value) < step * 1e-6) value = 0;
  return text::fixed(value, decimals);
}

// "hh:mm" of a time of day [h].
std::string clock_label(double hours) {
  const long minutes = std::lround(hours * 60.0);
  const long wrapped = ((minutes % 1440) + 1440) % 1440;
  return text::padded(wrapped / 60, 2) + ":" + text::padded(wrapped % 60, 2);
}

struct Axis {
  double min = 0, max = 1;
  Ticks ticks;
};

Axis make_axis(const std::optional<AxisRange>& fixed, double lo, double hi, int target_count) {
  if (fixed && std::isfinite(fixed->min) && std::isfinite(fixed->max) && fixed->min < fixed->max) {
    return {fixed->min, fixed->max, nice_ticks(fixed->min, fixed->max, target_count, false)};
  }
  if (!(lo <= hi)) lo = 0, hi = 1; // no finite data
  if (lo == hi) {
    const double half = lo == 0 ? 1.0 : std::fabs(lo) * 0.1;
    lo -= half, hi += half;
  }
  // A little room, so that no point sits on the frame.
  const double margin = 0.02 * (hi - lo);
  const Ticks ticks = nice_ticks(lo - margin, hi + margin, target_count, true);
  return {ticks.first, ticks.last, ticks};
}

struct Box {
  double x0, y0, x1, y1;
  [[nodiscard]] bool contains(double x, double y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
};

bool finite_point(const Series& s, std::size_t i) { return std::isfinite(s.x[i]) && std::isfinite(s.y[i]); }

Rgb series_colour(const Series& s, std::size_t position) {
  const std::size_t index = s.colour >= 0 ? static_cast<std::size_t>(s.colour) : position;
  return palette[index % palette.size()];
}

void draw_marker(cairo_t* cr, const Series& s, double x, double y) {
  switch (s.style) {
  case Series::Style::hollow_points:
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, 3.2, 0, 2 * M_PI);
    break;
  case Series::Style::points:
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, 2.8, 0, 2 * M_PI);
    break;
  case Series::Style::line_points:
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, 2.2, 0, 2 * M_PI);
    break;
  case Series::Style::line: break;
  }
}

void finish_markers(cairo_t* cr, const Series& s) {
  if (s.style == Series::Style::hollow_points) {
    cairo_set_line_width(cr, 1.3);
    cairo_stroke(cr);
  } else {
    cairo_fill(cr);
  }
}

// One panel of the page: axes, grid, series, legend, labels, title, all
// within `area`.
class Panel {
public:
  Panel(cairo_t* cr, const Figure& figure, Box area) : cr_(cr), figure_(figure), area_(area) {
    double x_lo = std::numeric_limits<double>::infinity(), x_hi = -x_lo, y_lo = x_lo, y_hi = -x_lo;
    for (const Series& s : figure.series) {
      const std::size_t n = std::min(s.x.size(), s.y.size());
      for (std::size_t i = 0; i < n; ++i) {
        if (!finite_point(s, i)) continue;
        x_lo = std::min(x_lo, s.x[i]), x_hi = std::max(x_hi, s.x[i]);
        y_lo = std::min(y_lo, s.y[i]), y_hi = std::max(y_hi, s.y[i]);
      }
    }
    x_ = make_axis(figure.x_range, x_lo, x_hi, std::max(3, static_cast<int>((area.x1 - area.x0) / 110)));
    y_ = make_axis(figure.y_range, y_lo, y_hi, std::max(3, static_cast<int>((area.y1 - area.y0) / 60)));
    layout();
  }

  [[nodiscard]] double plot_left() const { return plot_.x0; }
  [[nodiscard]] double plot_right() const { return plot_.x1; }

  // Gives the plot the horizontal extent [x0, x1] (to line up the x axes of
  // stacked panels) and places the legend anew.
  void align(double x0, double x1) {
    plot_.x0 = x0, plot_.x1 = x1;
    place_legend();
  }

  void draw() {
    cairo_save(cr_);
    draw_grid_and_ticks();
    draw_series();
    draw_frame_and_labels();
    if (legend_entries_ > 0) draw_legend();
    cairo_restore(cr_);
  }

private:
  [[nodiscard]] double px(double x) const {
    const double v = plot_.x0 + (x - x_.min) / (x_.max - x_.min) * (plot_.x1 - plot_.x0);
    return std::clamp(v, -1e6, 1e6);
  }
  [[nodiscard]] double py(double y) const {
    const double v = plot_.y1 - (y - y_.min) / (y_.max - y_.min) * (plot_.y1 - plot_.y0);
    return std::clamp(v, -1e6, 1e6);
  }

  template <typename F>
  void for_each_tick(const Axis& axis, F f) const {
    const double step = axis.ticks.step;
    const double slack = step * 1e-9;
    for (int k = 0;; ++k) {
      const double v = axis.ticks.first + k * step;
      if (v > axis.max + slack || k > 1000) break;
      if (v >= axis.min - slack) f(v);
    }
  }

  void layout() {
    set_font(cr_, tick_size);
    double widest_tick = 0;
    for_each_tick(
        y_, [&](double v) { widest_tick = std::max(widest_tick, text_width(cr_, tick_label(v, y_.ticks.step))); });
    const double top = area_.y0 + (figure_.title.empty() ? pad : title_size + 2 * pad);
    const double left =
        area_.x0 + pad + (figure_.y_label.empty() ? 0 : label_size + pad) + widest_tick + tick_length + 4;
    const double bottom =
        area_.y1 - pad - (figure_.x_label.empty() ? 0 : label_size + pad) - tick_size - tick_length - 4;
    plot_ = {left, top, area_.x1 - 2 * pad, bottom};

    set_font(cr_, legend_size);
    double widest_label = 0;
    legend_entries_ = 0;
    for (const Series& s : figure_.series) {
      if (s.label.empty()) continue;
      ++legend_entries_;
      widest_label = std::max(widest_label, text_width(cr_, s.label));
    }
    legend_width_ = legend_swatch + 3 * 6 + widest_label;
    legend_height_ = static_cast<double>(legend_entries_) * legend_row + 8;
    if (legend_entries_ > 0 && !place_legend_inside()) plot_.x1 = area_.x1 - 3 * pad - legend_width_;
    place_legend();
  }

  // The legend goes into the corner of the plot that covers the fewest data
  // (points and points along line segments), and to the right of the plot
  // when every corner covers some and there is room there.
  [[nodiscard]] bool place_legend_inside() {
    const double inset = 8, w = legend_width_, h = legend_height_;
    const std::array<Box, 4> corners = {
        Box{plot_.x1 - inset - w, plot_.y0 + inset, plot_.x1 - inset, plot_.y0 + inset + h},
        Box{plot_.x0 + inset, plot_.y0 + inset, plot_.x0 + inset + w, plot_.y0 + inset + h},
        Box{plot_.x1 - inset - w, plot_.y1 - inset - h, plot_.x1 - inset, plot_.y1 - inset},
        Box{plot_.x0 + inset, plot_.y1 - inset - h, plot_.x0 + inset + w, plot_.y1 - inset}};
    std::size_t best = 0, best_count = std::numeric_limits<std::size_t>::max();
    for (std::size_t c = 0; c < corners.size(); ++c) {
      const std::size_t count = covered(corners[c]);
      if (count < best_count) best = c, best_count = count;
    }
    legend_ = corners[best];
    return best_count == 0 && w < (plot_.x1 - plot_.x0) / 2 && h < (plot_.y1 - plot_.y0) / 2;
  }

  void place_legend() {
    if (legend_entries_ == 0 || place_legend_inside()) return;
    if (area_.x1 - plot_.x1 >= legend_width_ + 2 * pad) {
      legend_ = {plot_.x1 + pad, plot_.y0, plot_.x1 + pad + legend_width_, plot_.y0 + legend_height_};
    }
  }

  [[nodiscard]] std::size_t covered(const Box& box) const {
    const Box grown{box.x0 - 3, box.y0 - 3, box.x1 + 3, box.y1 + 3};
    std::size_t count = 0;
    for (const Series& s : figure_.series) {
      const std::size_t n = std::min(s.x.size(), s.y.size());
      const bool lines = s.style == Series::Style::line || s.style == Series::Style::line_points;
      for (std::size_t i = 0; i < n; ++i) {
        if (!finite_point(s, i)) continue;
        if (grown.contains(px(s.x[i]), py(s.y[i]))) ++count;
        if (lines && i + 1 < n && finite_point(s, i + 1)) {
          for (double t : {0.25, 0.5, 0.75}) {
            const double x = px(s.x[i]) + t * (px(s.x[i + 1]) - px(s.x[i]));
            const double y = py(s.y[i]) + t * (py(s.y[i + 1]) - py(s.y[i]));
            if (grown.contains(x, y)) ++count;
          }
        }
      }
    }
    return count;
  }

  void draw_grid_and_ticks() {
    cairo_set_line_width(cr_, 1);
    set_colour(cr_, grid_ink);
    for_each_tick(x_, [&](double v) {
      const double x = std::round(px(v)) + 0.5;
      cairo_move_to(cr_, x, plot_.y0), cairo_line_to(cr_, x, plot_.y1);
    });
    for_each_tick(y_, [&](double v) {
      const double y = std::round(py(v)) + 0.5;
      cairo_move_to(cr_, plot_.x0, y), cairo_line_to(cr_, plot_.x1, y);
    });
    cairo_stroke(cr_);

    set_colour(cr_, ink);
    set_font(cr_, tick_size);
    for_each_tick(x_, [&](double v) {
      const double x = std::round(px(v)) + 0.5;
      cairo_move_to(cr_, x, plot_.y1), cairo_line_to(cr_, x, plot_.y1 + tick_length);
      cairo_stroke(cr_);
      show_text(cr_, figure_.x_clock ? clock_label(v) : tick_label(v, x_.ticks.step), x, plot_.y1 + tick_length + 4,
                0.5, 0);
    });
    for_each_tick(y_, [&](double v) {
      const double y = std::round(py(v)) + 0.5;
      cairo_move_to(cr_, plot_.x0 - tick_length, y), cairo_line_to(cr_, plot_.x0, y);
      cairo_stroke(cr_);
      show_text(cr_, tick_label(v, y_.ticks.step), plot_.x0 - tick_length - 4, y, 1, 0.5);
    });
  }

  void draw_series() {
    cairo_save(cr_);
    cairo_rectangle(cr_, plot_.x0, plot_.y0, plot_.x1 - plot_.x0, plot_.y1 - plot_.y0);
    cairo_clip(cr_);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_ROUND);
    for (std::size_t k = 0; k < figure_.series.size(); ++k) {
      const Series& s = figure_.series[k];
      const std::size_t n = std::min(s.x.size(), s.y.size());
      set_colour(cr_, series_colour(s, k));
      if (s.style == Series::Style::line || s.style == Series::Style::line_points) {
        const std::vector<std::size_t> breaks = gap_breaks(std::span(s.x).first(n));
        auto next_break = breaks.begin();
        bool pen_down = false;
        for (std::size_t i = 0; i < n; ++i) {
          if (next_break != breaks.end() && *next_break == i) pen_down = false, ++next_break;
          if (!finite_point(s, i)) {
            pen_down = false;
            continue;
          }
          if (pen_down)
            cairo_line_to(cr_, px(s.x[i]), py(s.y[i]));
          else
            cairo_move_to(cr_, px(s.x[i]), py(s.y[i]));
          pen_down = true;
        }
        cairo_set_line_width(cr_, s.style == Series::Style::line ? 1.8 : 1.2);
        cairo_stroke(cr_);
      }
      if (s.style != Series::Style::line) {
        for (std::size_t i = 0; i < n; ++i) {
          if (finite_point(s, i)) draw_marker(cr_, s, px(s.x[i]), py(s.y[i]));
        }
        finish_markers(cr_, s);
      }
    }
    cairo_restore(cr_);
  }

  void draw_frame_and_labels() {
    set_colour(cr_, ink);
    cairo_set_line_width(cr_, 1);
    cairo_rectangle(cr_, std::round(plot_.x0) + 0.5, std::round(plot_.y0) + 0.5, std::round(plot_.x1 - plot_.x0),
                    std::round(plot_.y1 - plot_.y0));
    cairo_stroke(cr_);
    if (!figure_.x_label.empty()) {
      set_font(cr_, label_size);
      show_text(cr_, figure_.x_label, (plot_.x0 + plot_.x1) / 2, area_.y1 - pad, 0.5, 1);
    }
    if (!figure_.y_label.empty()) {
      set_font(cr_, label_size);
      cairo_save(cr_);
      cairo_translate(cr_, area_.x0 + pad, (plot_.y0 + plot_.y1) / 2);
      cairo_rotate(cr_, -M_PI / 2);
      show_text(cr_, figure_.y_label, 0, 0, 0.5, 0);
      cairo_restore(cr_);
    }
    if (!figure_.title.empty()) {
      set_font(cr_, title_size, true);
      show_text(cr_, figure_.title, (plot_.x0 + plot_.x1) / 2, area_.y0 + pad, 0.5, 0);
    }
  }

  void draw_legend() {
    const Box& b = legend_;
    cairo_rectangle(cr_, std::round(b.x0) + 0.5, std::round(b.y0) + 0.5, std::round(b.x1 - b.x0),
                    std::round(b.y1 - b.y0));
    cairo_set_source_rgba(cr_, 1, 1, 1, 0.92);
    cairo_fill_preserve(cr_);
    set_colour(cr_, rgb(0xbbbbbb));
    cairo_set_line_width(cr_, 1);
    cairo_stroke(cr_);
    set_font(cr_, legend_size);
    double y = b.y0 + 4 + legend_row / 2;
    for (std::size_t k = 0; k < figure_.series.size(); ++k) {
      const Series& s = figure_.series[k];
      if (s.label.empty()) continue;
      const double x = b.x0 + 6;
      set_colour(cr_, series_colour(s, k));
      if (s.style == Series::Style::line || s.style == Series::Style::line_points) {
        cairo_move_to(cr_, x, y), cairo_line_to(cr_, x + legend_swatch, y);
        cairo_set_line_width(cr_, s.style == Series::Style::line ? 1.8 : 1.2);
        cairo_stroke(cr_);
      }
      if (s.style != Series::Style::line) {
        draw_marker(cr_, s, x + legend_swatch / 2, y);
        finish_markers(cr_, s);
      }
      set_colour(cr_, ink);
      show_text(cr_, s.label, x + legend_swatch + 6, y, 0, 0.5);
      y += legend_row;
    }
  }

  cairo_t* cr_;
  const Figure& figure_;
  Box area_;
  Box plot_{};
  Box legend_{};
  Axis x_, y_;
  std::size_t legend_entries_ = 0;
  double legend_width_ = 0, legend_height_ = 0;
};

void render(cairo_t* cr, std::span<const Figure> panels, double width) {
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  std::vector<Panel> laid_out;
  laid_out.reserve(panels.size());
  double top = 0, left = 0, right = width;
  for (const Figure& figure : panels) {
    laid_out.emplace_back(cr, figure, Box{0, top, width, top + figure.height});
    top += figure.height;
    left = std::max(left, laid_out.back().plot_left());
    right = std::min(right, laid_out.back().plot_right());
  }
  // Stacked panels of one width share the horizontal extent of their plots.
  const bool same_width = std::all_of(panels.begin(), panels.end(), [&](const Figure& f) { return f.width == width; });
  for (Panel& panel : laid_out) {
    if (same_width && panels.size() > 1 && left < right) panel.align(left, right);
    panel.draw();
  }
}

[[noreturn]] void fail(const std::string& path, cairo_status_t status) {
  throw Error(path + ": cannot write: " + cairo_status_to_string(status));
}

} // namespace

// Fontconfig, which finds Cairo's fonts, keeps its configuration until the
// process ends, unreleased by design; LeakSanitizer is told so. GCC marks
// an AddressSanitizer build with __SANITIZE_ADDRESS__, clang 14 only
// through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define TIROVAN_FIGURE_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TIROVAN_FIGURE_LSAN 1
#endif
#endif
#if defined(TIROVAN_FIGURE_LSAN)
extern "C" const char* __lsan_default_suppressions(); // NOLINT(bugprone-reserved-identifier)
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

Ticks nice_ticks(double lo, double hi, int target_count, bool loose) {
  if (!(std::isfinite(lo) && std::isfinite(hi) && lo < hi)) return {lo, lo, 1};
  const double range = nice_number(hi - lo, false);
  const double step = nice_number(range / std::max(1, target_count - 1), true);
  const double first = loose ? std::floor(lo / step) * step : std::ceil(lo / step - 1e-9) * step;
  const double last = loose ? std::ceil(hi / step) * step : std::floor(hi / step + 1e-9) * step;
  return {first, last, step};
}

std::vector<std::size_t> gap_breaks(std::span<const double> x, double factor) {
  std::vector<double> steps;
  for (std::size_t i = 1; i < x.size(); ++i) {
    const double step = x[i] - x[i - 1];
    if (std::isfinite(step) && step > 0) steps.push_back(step);
  }
  std::vector<std::size_t> breaks;
  if (steps.empty()) return breaks;
  const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
  std::nth_element(steps.begin(), middle, steps.end());
  const double limit = factor * *middle;
  for (std::size_t i = 1; i < x.size(); ++i) {
    if (x[i] - x[i - 1] > limit) breaks.push_back(i);
  }
  return breaks;
}

void draw(const Figure& figure, const std::string& svg_path, const std::string& png_path) {
  draw_stacked(std::span<const Figure>(&figure, 1), svg_path, png_path);
}

void draw_stacked(std::span<const Figure> panels, const std::string& svg_path, const std::string& png_path) {
  double width = 1, height = 0;
  for (const Figure& figure : panels) width = std::max(width, figure.width), height += figure.height;
  height = std::max(height, 1.0);
  // Drawn in memory, then written by the output policy (tools/output.hpp).
  const cairo_write_func_t append = [](void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
  };
  std::string bytes;
  {
    Surface surface(cairo_svg_surface_create_for_stream(append, &bytes, width, height), cairo_surface_destroy);
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
      fail(svg_path, cairo_surface_status(surface.get()));
    cairo_svg_surface_set_document_unit(surface.get(), CAIRO_SVG_UNIT_PX);
    {
      const Context cr(cairo_create(surface.get()), cairo_destroy);
      render(cr.get(), panels, width);
    }
    cairo_surface_finish(surface.get());
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
      fail(svg_path, cairo_surface_status(surface.get()));
  }
  write_file(svg_path, bytes);
  if (png_path.empty()) return;
  Surface image(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(std::ceil(width)),
                                           static_cast<int>(std::ceil(height))),
                cairo_surface_destroy);
  if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS) fail(png_path, cairo_surface_status(image.get()));
  {
    const Context cr(cairo_create(image.get()), cairo_destroy);
    render(cr.get(), panels, width);
  }
  bytes.clear();
  const cairo_status_t status = cairo_surface_write_to_png_stream(image.get(), append, &bytes);
  if (status != CAIRO_STATUS_SUCCESS) fail(png_path, status);
  write_file(png_path, bytes);
}

} // namespace tirovan::tools
