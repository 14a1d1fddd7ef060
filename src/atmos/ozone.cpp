#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string_view>

#include "atmos/atmos.hpp"

namespace tirovan {
namespace {

constexpr float nm_to_um = 0.001f;
constexpr float lowest_wavelength = 0.445f; // [um], first table entry
constexpr float highest_wavelength = 0.79f; // [um], last table entry

// Ozone absorption coefficients [optical depth per 1000 DU] by wavelength
// [um] across the Chappuis band: steps of 0.005 um to 0.61, then 0.01 um.
// Deliberately not monotonic: 0.122 at 0.575, a dip to 0.115 at 0.59, the
// peak 0.13 at 0.605.
constexpr std::size_t ozone_entries = 52;
constexpr std::array<float, ozone_entries> ozone_wavelength = {
    0.445f, 0.45f, 0.455f, 0.46f, 0.465f, 0.47f, 0.475f, 0.48f, 0.485f, 0.49f, //  1-10
    0.495f, 0.5f,  0.505f, 0.51f, 0.515f, 0.52f, 0.525f, 0.53f, 0.535f, 0.54f, // 11-20
    0.545f, 0.55f, 0.555f, 0.56f, 0.565f, 0.57f, 0.575f, 0.58f, 0.585f, 0.59f, // 21-30
    0.595f, 0.6f,  0.605f, 0.61f, 0.62f,  0.63f, 0.64f,  0.65f, 0.66f,  0.67f, // 31-40
    0.68f,  0.69f, 0.7f,   0.71f, 0.72f,  0.73f, 0.74f,  0.75f, 0.76f,  0.77f, // 41-50
    0.78f,  0.79f};                                                            // 51-52
constexpr std::array<float, ozone_entries> ozone_coefficient = {
    0.003f, 0.003f, 0.004f, 0.006f, 0.008f, 0.009f, 0.012f, 0.014f, 0.017f, 0.021f, //  1-10
    0.025f, 0.03f,  0.035f, 0.04f,  0.045f, 0.048f, 0.057f, 0.063f, 0.07f,  0.075f, // 11-20
    0.08f,  0.085f, 0.095f, 0.103f, 0.11f,  0.12f,  0.122f, 0.12f,  0.118f, 0.115f, // 21-30
    0.12f,  0.125f, 0.13f,  0.12f,  0.105f, 0.09f,  0.079f, 0.067f, 0.057f, 0.048f, // 31-40
    0.036f, 0.028f, 0.023f, 0.018f, 0.014f, 0.011f, 0.01f,  0.009f, 0.007f, 0.004f, // 41-50
    0.0f,   0.0f};                                                                  // 51-52

// Total ozone climatology [DU]: rows are latitude nodes j = 1..35 at
// 90 - 5j deg (85 N to 85 S, north first), columns the months Jan..Dec.
// July at 25 N is 396 as published (its neighbours suggest 296).
constexpr int latitude_nodes = 35;
constexpr std::array<std::array<float, 12>, latitude_nodes> ozone_column_table = {{
    //  Jan   Feb   Mar   Apr   May   Jun   Jul   Aug   Sep   Oct   Nov   Dec
    {395, 433, 467, 467, 411, 371, 333, 311, 283, 299, 314, 358}, //  1  85 N
    {395, 433, 470, 465, 414, 371, 332, 308, 291, 299, 314, 358}, //  2  80 N
    {395, 433, 460, 462, 416, 370, 332, 308, 302, 299, 314, 358}, //  3  75 N
    {395, 436, 459, 455, 415, 368, 334, 313, 308, 309, 314, 358}, //  4  70 N
    {395, 432, 451, 444, 410, 367, 338, 320, 312, 315, 332, 358}, //  5  65 N
    {392, 428, 441, 431, 406, 372, 346, 327, 317, 317, 332, 358}, //  6  60 N
    {390, 426, 433, 421, 402, 375, 350, 330, 318, 317, 327, 353}, //  7  55 N
    {387, 418, 420, 410, 394, 372, 346, 326, 313, 312, 322, 349}, //  8  50 N
    {376, 402, 401, 395, 382, 360, 335, 319, 307, 302, 311, 338}, //  9  45 N
    {354, 374, 377, 373, 363, 341, 321, 310, 300, 291, 297, 320}, // 10  40 N
    {322, 338, 347, 348, 342, 323, 310, 303, 295, 283, 284, 299}, // 11  35 N
    {292, 303, 316, 325, 324, 311, 302, 298, 290, 280, 276, 281}, // 12  30 N
    {269, 278, 291, 304, 307, 301, 396, 291, 284, 275, 270, 267}, // 13  25 N
    {254, 261, 271, 287, 291, 290, 296, 286, 279, 270, 263, 256}, // 14  20 N
    {248, 251, 260, 275, 279, 282, 284, 283, 279, 268, 261, 252}, // 15  15 N
    {246, 246, 254, 267, 271, 275, 280, 281, 279, 267, 260, 251}, // 16  10 N
    {247, 248, 254, 261, 264, 268, 274, 277, 278, 263, 258, 251}, // 17   5 N
    {251, 250, 255, 259, 260, 263, 268, 273, 276, 263, 259, 253}, // 18   0
    {255, 254, 257, 258, 258, 259, 262, 268, 272, 265, 264, 257}, // 19   5 S
    {260, 258, 259, 259, 257, 256, 259, 264, 270, 269, 270, 264}, // 20  10 S
    {266, 262, 261, 260, 258, 258, 261, 266, 273, 277, 278, 272}, // 21  15 S
    {271, 265, 264, 263, 264, 264, 268, 274, 282, 287, 286, 279}, // 22  20 S
    {277, 270, 269, 271, 271, 273, 279, 288, 295, 301, 298, 287}, // 23  25 S
    {286, 278, 277, 278, 281, 289, 295, 306, 313, 317, 311, 297}, // 24  30 S
    {295, 286, 284, 284, 291, 306, 315, 327, 333, 336, 323, 307}, // 25  35 S
    {306, 294, 289, 289, 303, 319, 331, 343, 348, 354, 335, 318}, // 26  40 S
    {319, 303, 296, 297, 312, 327, 340, 353, 360, 371, 350, 332}, // 27  45 S
    {334, 313, 305, 306, 318, 328, 342, 355, 367, 387, 366, 347}, // 28  50 S
    {344, 322, 312, 314, 322, 328, 338, 351, 368, 402, 381, 358}, // 29  55 S
    {344, 325, 315, 318, 323, 337, 344, 339, 353, 402, 390, 365}, // 30  60 S
    {338, 324, 317, 319, 322, 337, 340, 325, 324, 374, 388, 366}, // 31  65 S
    {331, 317, 312, 313, 322, 337, 340, 307, 291, 333, 376, 364}, // 32  70 S
    {324, 306, 305, 302, 322, 337, 340, 294, 267, 294, 357, 358}, // 33  75 S
    {320, 299, 299, 302, 322, 337, 340, 294, 253, 274, 346, 356}, // 34  80 S
    {316, 294, 295, 302, 322, 337, 340, 294, 230, 259, 341, 353}, // 35  85 S
}};

constexpr float grid_step = 5.0f;    // [deg] between latitude nodes
constexpr float polar_limit = 85.0f; // [deg], the outermost nodes
constexpr int northern_offset = 17;  // node index of 5 N, counted from 85 N
constexpr int southern_offset = 18;  // node index of the equator

// T(j, m) with the printed 1-based indices.
float column_at(int node, std::int32_t month) {
  return ozone_column_table[static_cast<std::size_t>(node - 1)][static_cast<std::size_t>(month - 1)];
}

} // namespace

OzoneTable OZON(float wavelength, float& coefficient) {
  const float lambda = wavelength * nm_to_um; // [um]
  // Interval i with W(i) < lambda <= W(i+1) (the first also takes
  // lambda == W(1)): an inner node belongs to the interval below it.
  const auto upper = std::lower_bound(ozone_wavelength.begin(), ozone_wavelength.end(), lambda);
  const auto j = static_cast<std::size_t>(upper - ozone_wavelength.begin());
  std::size_t i = ozone_entries; // no interval
  if (j > 0 && j < ozone_entries) i = j - 1;
  if (j == 0 && lambda == ozone_wavelength[0]) i = 0;
  if (i < ozone_entries) {
    coefficient = ozone_coefficient[i] + (lambda - ozone_wavelength[i]) *
                                             (ozone_coefficient[i + 1] - ozone_coefficient[i]) /
                                             (ozone_wavelength[i + 1] - ozone_wavelength[i]);
  }
  if (lambda < lowest_wavelength) {
    coefficient = 0.0f;
    return OzoneTable::below;
  }
  if (lambda > highest_wavelength) {
    coefficient = 0.0f;
    return OzoneTable::above;
  }
  return OzoneTable::inside;
}

void ESTIMDOBSON(std::int32_t month, float lat, float& ozone_column) {
  if (month < 1 || month > 12 || std::isnan(lat)) {
    ozone_column = std::numeric_limits<float>::quiet_NaN();
    return;
  }
  if (lat >= polar_limit) {
    ozone_column = column_at(1, month);
    return;
  }
  if (lat <= -polar_limit) {
    ozone_column = column_at(latitude_nodes, month);
    return;
  }
  // Node j north of the site (or at it) and j + 1 south of it. The
  // quotient is truncated from double, never rounded to float first.
  const int q = static_cast<int>(static_cast<double>(lat) / static_cast<double>(grid_step));
  const int j = lat >= 0.0f ? northern_offset - q : southern_offset - q;
  const float slope = (column_at(j + 1, month) - column_at(j, month)) / grid_step; // [DU/deg] southward
  const float distance = static_cast<float>(90 - 5 * j) - lat;                     // [deg] south of node j
  ozone_column = column_at(j, month) + distance * slope;
}

} // namespace tirovan
