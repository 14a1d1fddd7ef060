// Figures render to the size asked for, as SVG (read back by another
// renderer) and as PNG.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/support.hpp"
#include "tools/figure.hpp"

namespace tirovan::tools {
namespace {

// Width and height from a PNG's IHDR chunk (bytes 16..23, big-endian).
std::pair<std::uint32_t, std::uint32_t> png_size(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char header[24] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  if (!in) return {0, 0};
  const auto word = [&](int at) {
    return (std::uint32_t{header[at]} << 24U) | (std::uint32_t{header[at + 1]} << 16U) |
           (std::uint32_t{header[at + 2]} << 8U) | std::uint32_t{header[at + 3]};
  };
  return {word(16), word(20)};
}

Figure day_figure(double width, double height) {
  Figure figure{"AOT, 2024-06-15", "Time of day, UTC [h]", "AOT [1]", {}};
  figure.width = width, figure.height = height;
  for (int channel = 0; channel < 3; ++channel) {
    Series s{std::to_string(440 + 200 * channel) + " nm", {}, {}, Series::Style::line_points};
    for (int i = 0; i < 40; ++i) {
      s.x.push_back(5 + 0.3 * i);
      s.y.push_back(i == 17 ? std::nan("") : 0.2 / (1 + channel) + 0.01 * std::sin(i)); // a gap in the line
    }
    figure.series.push_back(s);
  }
  figure.series.push_back({"rejected", {6, 7}, {0.1, 0.12}, Series::Style::hollow_points});
  return figure;
}

TEST(Figure, RendersAtTheSizeAskedFor) {
  const test::TempDir dir;
  const Figure top = day_figure(640, 400);
  Figure bottom = day_figure(640, 200);
  bottom.series.resize(1);
  struct Case {
    std::vector<Figure> panels;
    std::uint32_t width, height;
  };
  for (const Case& c : {Case{{top}, 640, 400}, Case{{top, bottom}, 640, 600}}) {
    const std::string svg = dir.file("f.svg"), png = dir.file("f.png"), converted = dir.file("converted.png");
    draw_stacked(c.panels, svg, png);
    EXPECT_EQ(png_size(png), std::make_pair(c.width, c.height));
    if (std::system("command -v rsvg-convert > /dev/null 2>&1") != 0) GTEST_SKIP() << "rsvg-convert not installed";
    ASSERT_EQ(std::system(("rsvg-convert -o '" + converted + "' '" + svg + "'").c_str()), 0);
    EXPECT_EQ(png_size(converted), std::make_pair(c.width, c.height));
  }
}

TEST(Figure, UnwritablePathThrows) {
  EXPECT_THROW(draw(day_figure(300, 200), "/nonexistent-folder/f.svg"), std::runtime_error);
}

TEST(Figure, NiceTicks) {
  struct Case {
    double lo, hi;
    bool loose;
    Ticks expected;
  };
  for (const Case& c : {Case{0.013, 0.187, true, {0, 0.2, 0.05}}, Case{4.5, 17.2, false, {5, 15, 5}},
                        Case{1.2958, 1.4242, true, {1.25, 1.45, 0.05}}, Case{-3, 7, true, {-4, 8, 2}}}) {
    const Ticks t = nice_ticks(c.lo, c.hi, 6, c.loose);
    EXPECT_NEAR(t.first, c.expected.first, 1e-12) << c.lo << " " << c.hi;
    EXPECT_NEAR(t.last, c.expected.last, 1e-12) << c.lo << " " << c.hi;
    EXPECT_NEAR(t.step, c.expected.step, 1e-12) << c.lo << " " << c.hi;
  }
}

// A line breaks where x jumps by more than three times the median spacing
// (a cloud, a night), not at a spacing of exactly three times it.
TEST(Figure, LinesBreakAcrossGaps) {
  struct Case {
    std::vector<double> x;
    std::vector<std::size_t> breaks;
  };
  const double nan = std::nan("");
  for (const Case& c : {Case{{0, 1, 2, 3, 4}, {}}, Case{{0, 1, 2, 3, 10, 11, 12}, {4}}, Case{{0, 1, 2, 5, 6}, {}},
                        Case{{0, 1, 2, 5.001, 6}, {3}}, Case{{0, 0.5, 1, 9, 9.5, 10, 20}, {3, 6}},
                        Case{{0, nan, 1, 2, 3, 9}, {5}}, Case{{}, {}}, Case{{4}, {}}}) {
    EXPECT_EQ(gap_breaks(c.x), c.breaks) << c.x.size();
  }
}

} // namespace
} // namespace tirovan::tools
