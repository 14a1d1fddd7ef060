// List output and fixed-format field editing.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "support/support.hpp"
#include "textio/format.hpp"
#include "runtime/units.hpp"
#include "textio/records.hpp"

namespace tirovan::textio {
namespace {

std::string list_real(float x) {
  char field[32];
  return {field, edit_list_real(field, x)};
}

std::string fixed(float x, int width, int decimals) {
  char field[128];
  return {field, edit_fixed(field, x, width, decimals)};
}

std::string integer(std::int32_t value, int width) {
  char field[32];
  return {field, edit_integer(field, value, width)};
}

std::string truncated(float value, int width) {
  char field[32];
  return {field, edit_truncated(field, value, width)};
}

struct RealField {
  float value;
  const char* field;
};

TEST(ListReal, SixteenColumnFields) {
  const float inf = std::numeric_limits<float>::infinity();
  const RealField cases[] = {
      {1.0f, "        1.000000"},        {-3.25f, "       -3.250000"},
      {1234.5f, "     1234.500000"},     {0.1234f, "    1.234000E-01"},
      {0.0567f, "    5.670000E-02"},     {-0.0213f, "   -2.130000E-02"},
      {0.0f, "    0.000000E+00"},        {-0.0f, "   -0.000000E+00"},
      {12345678.0f, "    1.234568E+07"}, {0.99999994f, "    9.999999E-01"},
      {0.9999999f, "    9.999999E-01"},  {9999999.0f, "  9999999.000000"},
      {10000000.0f, "    1.000000E+07"}, {-9999999.0f, " -9999999.000000"},
      {1.5f, "        1.500000"},        {3.4028235e38f, "    3.402823E+38"},
      {1.4e-45f, "    1.401298E-45"},    {1e-7f, "    1.000000E-07"},
      {0.01f, "    1.000000E-02"},       {-1e-6f, "   -1.000000E-06"},
      {1.0000001f, "        1.000000"},  {inf, "        Infinity"},
      {-inf, "       -Infinity"},        {std::numeric_limits<float>::quiet_NaN(), "             NaN"},
  };
  for (const auto& c : cases) EXPECT_EQ(list_real(c.value), c.field) << c.value;
}

// The fast paths scale by exact powers of ten; std::to_chars formats the
// exact binary value. Both must agree on every float of the usual ranges.
TEST(ListReal, AgreesWithExactFormattingOnRandomFloats) {
  TIROVAN_LONG_TEST();
  std::mt19937 random(12345);
  std::uniform_int_distribution<std::uint32_t> bits;
  int checked = 0;
  while (checked < 200000) {
    const std::uint32_t b = bits(random);
    float x;
    std::memcpy(&x, &b, sizeof x);
    if (!std::isfinite(x)) continue;
    // Concentrate on the usual magnitudes, where the fast paths work.
    int exponent = 0;
    if (checked % 2 == 0) x = std::ldexp(std::frexp(x, &exponent), static_cast<int>(b % 50) - 25);
    const float a = std::fabs(x);
    char want[64];
    char* end = (a >= 1.0f && a < 1e7f) ? std::to_chars(want, want + 64, x, std::chars_format::fixed, 6).ptr
                                        : std::to_chars(want, want + 64, x, std::chars_format::scientific, 6).ptr;
    std::string expected(want, end);
    for (char& ch : expected) {
      if (ch == 'e') ch = 'E';
    }
    expected.insert(0, 16 - expected.size(), ' ');
    ASSERT_EQ(list_real(x), expected) << std::hexfloat << x;
    char want3[64];
    std::string expected3(want3, std::to_chars(want3, want3 + 64, x, std::chars_format::fixed, 3).ptr);
    if (expected3.size() <= 10) {
      expected3.insert(0, 10 - expected3.size(), ' ');
    } else {
      expected3 = "**********";
    }
    ASSERT_EQ(fixed(x, 10, 3), expected3) << std::hexfloat << x;
    ++checked;
  }
}

TEST(FixedReal, F10_3Fields) {
  const RealField cases[] = {
      {0.1234f, "     0.123"},
      {0.0567f, "     0.057"},
      {-1.5f, "    -1.500"},
      {123456.5f, "123456.500"},
      {-12345.25f, "-12345.250"},
      {1000000.0f, "**********"},
      {-100000.0f, "**********"},
      {999999.9f, "999999.875"},
      {0.0004f, "     0.000"},
      {0.0f, "     0.000"},
      {0.1235f, "     0.123"},  // held as 0.12349999...
      {0.0625f, "     0.062"},  // exact tie: to even
      {-0.0004f, "    -0.000"}, // rounds to zero from below: the sign is kept
      {std::numeric_limits<float>::infinity(), "  Infinity"},
      {std::numeric_limits<float>::quiet_NaN(), "       NaN"},
      {3e38f, "**********"},
  };
  for (const auto& c : cases) EXPECT_EQ(fixed(c.value, 10, 3), c.field) << c.value;
}

TEST(FixedReal, OtherWidthsAndDecimals) {
  EXPECT_EQ(fixed(2.5f, 6, 1), "   2.5");
  EXPECT_EQ(fixed(-0.25f, 4, 0), " -0.");
  EXPECT_EQ(fixed(1e20f, 30, 2), "      100000002004087734272.00");
}

struct IntegerField {
  std::int32_t value;
  int width;
  const char* field;
};

TEST(FixedInteger, IwFields) {
  const IntegerField cases[] = {
      {6, 4, "   6"},
      {-35, 4, " -35"},
      {9999, 4, "9999"},
      {10000, 4, "****"},
      {-999, 4, "-999"},
      {-1000, 4, "****"},
      {0, 4, "   0"},
      {2005, 6, "  2005"},
      {-99999, 6, "-99999"},
      {-100000, 6, "******"},
      {1000000, 6, "******"},
      {999999, 6, "999999"},
      {std::numeric_limits<std::int32_t>::min(), 11, "-2147483648"},
      {std::numeric_limits<std::int32_t>::max(), 4, "****"},
  };
  for (const auto& c : cases) EXPECT_EQ(integer(c.value, c.width), c.field) << c.value;
}

TEST(FixedInteger, TruncatedHoursAndMinutes) {
  const RealField cases[] = {
      {23.99f, "  23"},
      {59.9f, "  59"},
      {-0.7f, "   0"},
      {12.75f, "  12"},
      {-12.9f, " -12"},
      {1e20f, "****"},
      {-1e20f, "****"},
      {2147483648.0f, "****"},
      {std::numeric_limits<float>::quiet_NaN(), "****"},
      {std::numeric_limits<float>::infinity(), "****"},
  };
  for (const auto& c : cases) EXPECT_EQ(truncated(c.value, 4), c.field) << c.value;
  EXPECT_EQ(truncated(-2147483648.0f, 11), "-2147483648");
}

TEST(Records, ListAndTextRecordsEndInCrLf) {
  const std::string out = test::capture_console([] {
    write_list(runtime::console());
    write_list(runtime::console(), "abc  ");
    write_list(runtime::console(), "Grubosc optyczna aerozolu", 0.1234f);
    write_text_record(runtime::console(), "The sun is not raised");
  });
  EXPECT_EQ(out, " \r\n abc  \r\n Grubosc optyczna aerozolu    1.234000E-01\r\nThe sun is not raised\r\n");
}

} // namespace
} // namespace tirovan::textio
