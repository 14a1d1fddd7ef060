// Free-format reader: token conversion, statement and line rules, failures.

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/support.hpp"
#include "runtime/failure.hpp"
#include "runtime/units.hpp"
#include "textio/reader.hpp"
#include "textio/records.hpp"

namespace tirovan::textio {
namespace {

using runtime::Failure;
using runtime::io_failure;
using runtime::IoFailure;
using runtime::unit_measurements;
using test::TempDir;

// ---------------------------------------------------------------- tokens

struct RealToken {
  const char* token;
  float value;
};

TEST(ParseReal, ValueTokens) {
  const RealToken cases[] = {
      {"1.5", 1.5f},         {"1d+4", 1e4f},     {"2q-1", 0.2f},    {"1E5", 1e5f},
      {"1e5", 1e5f},         {"1D2", 100.0f},    {"3Q0", 3.0f},     {"-.5", -0.5f},
      {"+3", 3.0f},          {"5.", 5.0f},       {".25", 0.25f},    {"0.1234", 0.1234f},
      {"007", 7.0f},         {"1e-50", 0.0f},    {"-1e-50", -0.0f}, {"3.4028235e38", 3.4028235e38f},
      {"1.4e-45", 1.4e-45f}, {"+1.0E+00", 1.0f}, {"-0", -0.0f},
  };
  for (const auto& c : cases) {
    float value = -7.0f;
    ASSERT_EQ(parse_real(c.token, value), TokenStatus::ok) << c.token;
    EXPECT_EQ(value, c.value) << c.token;
    EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << c.token;
  }
}

struct BadToken {
  const char* token;
  TokenStatus status;
};

TEST(ParseReal, MalformedTokensFailAndLeaveTheItem) {
  const BadToken cases[] = {
      {"1.2.3", TokenStatus::syntax_error},
      {"e5", TokenStatus::syntax_error},
      {"+e5", TokenStatus::syntax_error},
      {"nan", TokenStatus::syntax_error},
      {"inf", TokenStatus::syntax_error},
      {"1;", TokenStatus::syntax_error},
      {"1e5e3", TokenStatus::syntax_error},
      {"1e5.0", TokenStatus::syntax_error},
      {"12a", TokenStatus::syntax_error},
      {"1\r2", TokenStatus::syntax_error},
      {"+", TokenStatus::conversion_error},
      {"-", TokenStatus::conversion_error},
      {"--1", TokenStatus::conversion_error},
      {"1e", TokenStatus::conversion_error},
      {"1.5e+", TokenStatus::conversion_error},
      {".", TokenStatus::conversion_error},
      {"1-2", TokenStatus::conversion_error},
      {"1e39", TokenStatus::conversion_error},
      {"3.40282357e38", TokenStatus::conversion_error},
      {"-1e39", TokenStatus::conversion_error},
      {"'5'", TokenStatus::conversion_error},
      {"\"5\"", TokenStatus::conversion_error},
      {"T", TokenStatus::conversion_error},
      {"f", TokenStatus::conversion_error},
      {".TRUE.", TokenStatus::conversion_error},
      {".f", TokenStatus::conversion_error},
  };
  for (const auto& c : cases) {
    float value = -7.0f;
    EXPECT_EQ(parse_real(c.token, value), c.status) << c.token;
    EXPECT_EQ(value, -7.0f) << c.token;
  }
}

struct IntegerToken {
  const char* token;
  std::int32_t value;
};

TEST(ParseInteger, IntegerAndTruncatedRealTokens) {
  const IntegerToken cases[] = {
      {"15", 15},
      {"-35", -35},
      {"+4", 4},
      {"7.9", 7},
      {"-3.9", -3},
      {"15.7", 15},
      {"1e2", 100},
      {"1d2", 100},
      {"0.5", 0},
      {"-0.5", 0},
      {"2147483647", 2147483647},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"2147483647.9", 2147483647},
      {"000000000000000000000000012", 12},
      {"1e-60", 0},
  };
  for (const auto& c : cases) {
    std::int32_t value = -7;
    ASSERT_EQ(parse_integer(c.token, value), TokenStatus::ok) << c.token;
    EXPECT_EQ(value, c.value) << c.token;
  }
}

TEST(ParseInteger, ValuesBeyond32BitsAreConversionErrors) {
  const std::string ten_thousand_digits(10000, '9');
  const std::string cases[] = {"2147483648",        "-2147483649",  "1e10", "-3e9", "99999999999999999999999",
                               ten_thousand_digits, "2147483648.0", "1e39"};
  for (const auto& token : cases) {
    std::int32_t value = -7;
    EXPECT_EQ(parse_integer(token, value), TokenStatus::conversion_error) << token.substr(0, 30);
    EXPECT_EQ(value, -7);
  }
  float real = 0;
  EXPECT_EQ(parse_real(ten_thousand_digits, real), TokenStatus::conversion_error);
  EXPECT_EQ(parse_real("0." + ten_thousand_digits, real), TokenStatus::ok);
  EXPECT_EQ(real, 1.0f);
}

// ------------------------------------------------------------ statements

// A read statement: item kinds ('i' integer, 'r' real) and the values the
// items hold afterwards. Every item starts at `untouched`, so a null value
// or a slash shows as `untouched` in the expectation.
constexpr double untouched = -7;

struct StatementShape {
  std::string kinds;
  std::vector<double> expected;
};

struct StatementCase {
  const char* name;
  std::string content;
  std::vector<StatementShape> statements;
};

class ReaderFixture {
public:
  explicit ReaderFixture(const std::string& content) {
    dir_.write("input.dat", content);
    const int fd = ::open(dir_.file("input.dat").c_str(), O_RDONLY);
    reader_ = std::make_unique<Reader>(fd, unit_measurements, dir_.file("input.dat"), true);
  }
  Reader& reader() { return *reader_; }
  std::string path() const { return dir_.file("input.dat"); }

  std::vector<double> read(const std::string& kinds) {
    std::vector<std::int32_t> integers(kinds.size(), static_cast<std::int32_t>(untouched));
    std::vector<float> reals(kinds.size(), static_cast<float>(untouched));
    Reader::Statement statement(*reader_);
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      if (kinds[k] == 'i')
        statement.item(integers[k]);
      else
        statement.item(reals[k]);
    }
    std::vector<double> values;
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      values.push_back(kinds[k] == 'i' ? integers[k] : static_cast<double>(reals[k]));
    }
    return values;
  }

private:
  TempDir dir_;
  std::unique_ptr<Reader> reader_;
};

TEST(ReadStatement, SeparatorsRepeatsNullsSlashAndLines) {
  constexpr double u = untouched;
  const std::string long_gap(70000, ' ');    // the next value lies in the next input block
  const std::string long_zeros(100000, '0'); // one token longer than a block
  std::string long_line;
  for (int k = 0; k < 100000; ++k) long_line += "1 ";
  const StatementCase cases[] = {
      {"one line", "1 2 3\n", {{"iii", {1, 2, 3}}}},
      {"one value per line", "1\n2\n3\n", {{"iii", {1, 2, 3}}}},
      {"commas", "1,2,3\n", {{"iii", {1, 2, 3}}}},
      {"commas with blanks and tabs", "1 ,\t2 ,3\n", {{"iii", {1, 2, 3}}}},
      {"tabs", "1\t2\t\t3\n", {{"iii", {1, 2, 3}}}},
      {"decimal comma is two values", "52,2\n", {{"rr", {52, 2}}}},
      {"repeat", "3*0.5\n", {{"rrr", {0.5, 0.5, 0.5}}}},
      {"null repeat", "2* 4\n", {{"rrr", {u, u, 4}}}},
      {"null repeat before a comma", "2*,4\n", {{"rrr", {u, u, 4}}}},
      {"repeat left over is dropped with the line", "3*7 8\n9\n", {{"ii", {7, 7}}, {"i", {9}}}},
      {"repeat across items of both kinds", "2*2.5\n", {{"ir", {2, 2.5}}}},
      {"two commas give a null", "1,,3\n", {{"iii", {1, u, 3}}}},
      {"comma before the first value", ",2\n", {{"ii", {u, 2}}}},
      {"commas around a line end", "1,\n,3\n", {{"iii", {1, u, 3}}}},
      {"comma at a line end separates", "1,\n2\n", {{"ii", {1, 2}}}},
      {"slash keeps the rest", "1 2 3 /\n", {{"iiiii", {1, 2, 3, u, u}}}},
      {"slash after a token", "1/ 5\n6\n", {{"ii", {1, u}}, {"i", {6}}}},
      {"slash on a later line", "1\n/\n2\n", {{"iii", {1, u, u}}, {"i", {2}}}},
      {"rest of line ignored", "10 20\n30\n", {{"i", {10}}, {"i", {30}}}},
      {"CR LF line ends", "1 2\r\n3\r\n", {{"ii", {1, 2}}, {"i", {3}}}},
      {"blank lines passed over for a value", "\n\n  \t\n5\n", {{"i", {5}}}},
      {"read without items passes one line", "\n7\n", {{"", {}}, {"i", {7}}}},
      {"reads without items pass text lines", "a b c\n\n8\n", {{"", {}}, {"", {}}, {"i", {8}}}},
      {"last line without line feed", "1 2", {{"ii", {1, 2}}}},
      {"CR at the end of the file", "4\r", {{"i", {4}}}},
      {"integer items take real tokens", "7.9 1e2 -3.9\n", {{"iii", {7, 100, -3}}}},
      {"exponent letters", "1d2 1Q-1 2e0\n", {{"rrr", {100, static_cast<double>(0.1f), 2}}}},
      {"block split over lines with a comment", "1\n\n2\n3 x y z\n4\n", {{"iii", {1, 2, 3}}, {"i", {4}}}},
      {"comment after the last value", "5 any text ;; 1.2.3\n6\n", {{"i", {5}}, {"i", {6}}}},
      {"value beyond an input block", "1" + long_gap + "2\n", {{"ii", {1, 2}}}},
      {"token longer than an input block", long_zeros + "1.5 2\n", {{"rr", {1.5, 2}}}},
      {"line longer than an input block", long_line + "\n9\n", {{"ii", {1, 1}}, {"i", {9}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReaderFixture fixture(c.content);
    for (const auto& statement : c.statements) {
      const std::vector<double> got = fixture.read(statement.kinds);
      ASSERT_EQ(got.size(), statement.expected.size());
      for (std::size_t k = 0; k < got.size(); ++k) {
        EXPECT_EQ(got[k], static_cast<double>(static_cast<float>(statement.expected[k]))) << "item " << k + 1;
      }
    }
  }
}

TEST(ReadStatement, SemicolonIsPartOfItsToken) {
  ReaderFixture fixture("1;2 5\n");
  EXPECT_THROW(fixture.read("i"), Failure);
}

TEST(ReadStatement, ArrayRunsAndEmptyRuns) {
  ReaderFixture fixture("1 2 3\nskipped line\n4 5\n");
  std::vector<float> values(3, -7.0f);
  Reader::Statement(fixture.reader()).items(values);
  EXPECT_EQ(values, (std::vector<float>{1, 2, 3}));
  Reader::Statement(fixture.reader()).items(std::span<float>()); // passes over one line
  Reader::Statement(fixture.reader()).items(std::span(values).first(2));
  EXPECT_EQ(values, (std::vector<float>{4, 5, 3}));
}

struct FailureCase {
  const char* name;
  std::string content;
  std::vector<std::string> statements; // item kinds per statement
  IoFailure number;
};

TEST(ReadStatement, FailuresNameUnitAndFile) {
  const FailureCase cases[] = {
      {"empty file", "", {""}, IoFailure::end_of_file},
      {"empty file, value needed", "", {"i"}, IoFailure::end_of_file},
      {"too few values", "1 2\n", {"iii"}, IoFailure::end_of_file},
      {"too few lines", "1\n", {"i", "i"}, IoFailure::end_of_file},
      {"blank lines only", "\n\n\n", {"r"}, IoFailure::end_of_file},
      {"letter", "abc\n", {"r"}, IoFailure::syntax_error},
      {"second point", "1.2.3\n", {"r"}, IoFailure::syntax_error},
      {"zero repeat", "0*5\n", {"r"}, IoFailure::syntax_error},
      {"repeat count not a number", "x*5\n", {"r"}, IoFailure::syntax_error},
      {"malformed repeated value", "2*1.1.1\n", {"r"}, IoFailure::syntax_error},
      {"integer beyond 32 bits", "99999999999\n", {"i"}, IoFailure::conversion_error},
      {"quoted string", "'x'\n", {"r"}, IoFailure::conversion_error},
      {"sign alone", "+ 1\n", {"r"}, IoFailure::conversion_error},
      {"real beyond single precision", "1e39\n", {"r"}, IoFailure::conversion_error},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReaderFixture fixture(c.content);
    try {
      for (const auto& kinds : c.statements) fixture.read(kinds);
      ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
      const Failure want = io_failure(c.number, unit_measurements, fixture.path());
      EXPECT_EQ(failure.message(), want.message());
      EXPECT_EQ(failure.status(), static_cast<int>(c.number));
    }
  }
}

// A token of max_token_length bytes is read; one byte more is refused at
// its start, before the rest of it is read.
TEST(ReadStatement, LongestToken) {
  const std::string longest = "0." + std::string(max_token_length - 2, '5');
  {
    ReaderFixture fixture("1 " + longest + " 2\n");
    EXPECT_EQ(fixture.read("rrr"), (std::vector<double>{1.0, static_cast<double>(5.0f / 9.0f), 2.0}));
  }
  ReaderFixture fixture("1 " + longest + "5 2\n");
  try {
    fixture.read("rrr");
    ADD_FAILURE() << "a token of max_token_length + 1 bytes read";
  } catch (const ReadFailure& failure) {
    EXPECT_EQ(failure.message(), io_failure(IoFailure::syntax_error, unit_measurements, fixture.path()).message());
    EXPECT_EQ(failure.where().column, 3U);
    EXPECT_EQ(failure.token().size(), max_token_length);
  }
}

TEST(ReadStatement, EndOfFileMessageIsExact) {
  ReaderFixture fixture("");
  try {
    fixture.read("i");
    FAIL() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.message(),
              "forrtl: severe (24): end-of-file during read, unit 31, file " + fixture.path() + "\n");
    EXPECT_EQ(failure.status(), 24);
  }
}

TEST(ReadStatement, ItemsReadBeforeAFailureKeepTheirValues) {
  ReaderFixture fixture("1 2 x\n");
  std::int32_t a = 0, b = 0, c = 0;
  Reader::Statement statement(fixture.reader());
  statement.item(a);
  statement.item(b);
  EXPECT_THROW(statement.item(c), Failure);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(c, 0);
}

TEST(Reader, OutputUnitsAreFlushedBeforeAReadThatMayWait) {
  int input[2], output[2];
  ASSERT_EQ(::pipe(input), 0);
  ASSERT_EQ(::pipe(output), 0);
  ASSERT_EQ(::fcntl(output[0], F_SETFL, O_NONBLOCK), 0);
  ASSERT_EQ(::write(input[1], "1\n", 2), 2);
  {
    runtime::OutputUnit unit(output[1], 99, "pipe", true);
    write_list(unit, "before");
    Reader reader(input[0], unit_measurements, "pipe", true);
    std::int32_t value = 0;
    Reader::Statement(reader).item(value);
    EXPECT_EQ(value, 1);
    char seen[16] = {};
    EXPECT_EQ(::read(output[0], seen, sizeof seen), 9);
    EXPECT_STREQ(seen, " before\r\n");
  }
  ::close(input[1]);
  ::close(output[0]);
}

// Positions of values and of failures, and a reader that goes on after a
// failed statement (what a checker needs to report every problem).
TEST(Reader, PositionsAndRecoveryAfterAFailure) {
  ReaderFixture fixture("1 2\n  3 x4 5\n\t6 3*7\n8 9,y\n");
  Reader& reader = fixture.reader();
  std::int32_t a = 0, b = 0;
  {
    Reader::Statement s(reader);
    s.item(a);
    s.item(b);
  }
  EXPECT_EQ(reader.value_position().line, 1U);
  EXPECT_EQ(reader.value_position().column, 3U);
  try {
    Reader::Statement s(reader);
    s.item(a);
    s.item(b);
    ADD_FAILURE() << "x4 read as a number";
  } catch (const ReadFailure& failure) {
    EXPECT_EQ(failure.number(), IoFailure::syntax_error);
    EXPECT_EQ(failure.where().line, 2U);
    EXPECT_EQ(failure.where().column, 5U);
    EXPECT_EQ(failure.token(), "x4");
  }
  float r[3] = {};
  Reader::Statement(reader).items(r); // goes on at line 3
  EXPECT_EQ(r[0], 6.0f);
  EXPECT_EQ(r[2], 7.0f);
  EXPECT_EQ(reader.value_position().line, 3U);
  EXPECT_EQ(reader.value_position().column, 4U); // the tab is one byte; 3*7 starts at column 4
  try {
    Reader::Statement s(reader);
    for (int k = 0; k < 4; ++k) s.item(a);
    ADD_FAILURE() << "y read as a number";
  } catch (const ReadFailure& failure) {
    EXPECT_EQ(failure.where().line, 4U);
    EXPECT_EQ(failure.where().column, 5U);
  }
  try {
    Reader::Statement{reader};
    ADD_FAILURE() << "a line after the last";
  } catch (const ReadFailure& failure) {
    EXPECT_EQ(failure.number(), IoFailure::end_of_file);
    EXPECT_EQ(failure.where().line, 5U);
  }
}

} // namespace
} // namespace tirovan::textio
