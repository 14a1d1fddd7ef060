// Every row of the troubleshooting table (docs/failures.md): its mistake is
// made on a copy of the bundled example, and the run gives the status, the
// message on standard error and the figures the row states. Each case also
// quotes its row, so that the table cannot drop or change a figure unseen.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/support.hpp"

namespace tirovan {
namespace {

struct Inputs {
  std::optional<std::string> lang, dane; // nullopt: the file is missing
};

using test::join;
using test::lines_of;
using test::read_file;

// Replaces the first `from` on line `number` (from 1) by `to`.
void edit(std::optional<std::string>& text, std::size_t number, const std::string& from, const std::string& to) {
  std::vector<std::string> lines = lines_of(*text);
  const std::size_t at = lines.at(number - 1).find(from);
  if (at == std::string::npos) throw std::logic_error("line " + std::to_string(number) + " has no '" + from + "'");
  lines[number - 1].replace(at, from.size(), to);
  text = join(lines);
}

void insert_line(std::optional<std::string>& text, std::size_t number, const std::string& line) {
  std::vector<std::string> lines = lines_of(*text);
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(number - 1), line);
  text = join(lines);
}

// Every record's hour (the fourth value from line 3 on) `hours` later.
void shift_hours(std::optional<std::string>& dane, int hours) {
  std::vector<std::string> lines = lines_of(*dane);
  for (std::size_t i = 2; i < lines.size(); ++i) {
    std::istringstream fields(lines[i]);
    std::vector<std::string> values{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
    values.at(3) = std::to_string(std::stoi(values[3]) + hours);
    lines[i].clear();
    for (const std::string& value : values) lines[i] += (lines[i].empty() ? "" : " ") + value;
  }
  dane = join(lines);
}

struct Aot {
  std::size_t record, channel; // from 1
  const char* written;         // as in wyniki.dat
};

struct Row {
  const char* quote; // words of the row in docs/failures.md
  void (*mistake)(Inputs&);
  int status;
  const char* err; // the whole of standard error, DIR for the folder
  int records;     // lines in wyniki.dat; -1: there is none
  std::vector<Aot> aot = {};
  const char* console = ""; // a line the console must hold
  bool earlier_results = false;
  std::size_t width = 72; // characters per wyniki.dat line
};

constexpr const char* lang_eof = "forrtl: severe (24): end-of-file during read, unit 21, file DIR/lang.dat\n";
constexpr const char* dane_eof = "forrtl: severe (24): end-of-file during read, unit 31, file DIR/dane.dat\n";
constexpr const char* syntax = "forrtl: severe (59): list-directed I/O syntax error, unit 31, file DIR/dane.dat\n";
constexpr const char* conversion = "forrtl: severe (64): input conversion error, unit 31, file DIR/dane.dat\n";
constexpr const char* log_domain = "\nrun-time error M6201: MATH\n- log: DOMAIN\n";
constexpr const char* log_sing = "\nrun-time error M6202: MATH\n- log: SING\n";
constexpr const char* pow_domain = "\nrun-time error M6201: MATH\n- pow: DOMAIN\n";
constexpr const char* sun = "The sun is not raised\r\n";

const std::vector<Row> rows = {
    {"0.186, 0.155, 0.101, 0.071, 0.056",
     [](Inputs&) {},
     0,
     "",
     20,
     {{1, 1, "0.186"}, {1, 2, "0.155"}, {1, 3, "0.101"}, {1, 4, "0.071"}, {1, 5, "0.056"}, {19, 2, "0.167"}},
     " Grubosc optyczna aerozolu    5.639171E-02\r\n"},
    {"an empty `lang.dat` in the folder and no `wyniki.dat`", [](Inputs& in) { in.lang.reset(); }, 24, lang_eof, -1},
    {"`dane.dat` now empty", [](Inputs& in) { in.dane.reset(); }, 24, dane_eof, 0},
    {"`wyniki.dat` as it was, byte for byte", [](Inputs& in) { in.dane.reset(); }, 24, dane_eof, 20, {}, "", true},
    {"seven: the first line deleted", [](Inputs& in) { in.lang = in.lang->substr(in.lang->find('\n') + 1); }, 24,
     lang_eof, -1},
    {"`1O12.4`", [](Inputs& in) { edit(in.dane, 3, "1012.4", "1O12.4"); }, 59, syntax, 0},
    {"`52,2N`", [](Inputs& in) { edit(in.dane, 3, "52.20", "52,2N"); }, 59, syntax, 0},
    {"`4:30`", [](Inputs& in) { edit(in.dane, 3, " 4 30 ", " 4:30 "); }, 59, syntax, 0},
    {"`Warsaw, clear day` before a record", [](Inputs& in) { insert_line(in.dane, 4, "Warsaw, clear day"); }, 59,
     syntax, 1},
    {"(`Test day`)", [](Inputs& in) { insert_line(in.dane, 3, "Test day"); }, 64, conversion, 0},
    {"(`2024-06-15 clear`)", [](Inputs& in) { insert_line(in.dane, 3, "2024-06-15 clear"); }, 64, conversion, 0},
    {"the pair swapped", [](Inputs& in) { edit(in.dane, 3, "0.64789 0.0018", "0.0018 0.64789"); }, 3, log_domain, 0},
    {"a record one value short", [](Inputs& in) { edit(in.dane, 3, " 0.0027", ""); }, 3, log_domain, 0},
    {"`52,20` is two values", [](Inputs& in) { edit(in.dane, 3, "52.20", "52,20"); }, 3, log_domain, 0},
    {"a value too many at the end of a record's line is ignored",
     [](Inputs& in) { edit(in.dane, 3, "0.0027", "0.0027 0.0027"); },
     0,
     "",
     20,
     {{1, 5, "0.056"}}},
    {"count 4 and four signals",
     [](Inputs& in) {
       edit(in.lang, 9, "5", "4");
       edit(in.lang, 11, " 1.3127", "");
     },
     3, log_sing, 0},
    {"a signal equals its dark signal", [](Inputs& in) { edit(in.dane, 3, "0.64789", "0.0018"); }, 3, log_sing, 0},
    {"the fifth at 23:10 UT", [](Inputs& in) { edit(in.dane, 7, "  7 10 ", " 23 10 "); }, 3, pow_domain, 4, {}, sun},
    {"−0.066 at 440 nm, −0.028 at 500 nm",
     [](Inputs& in) { edit(in.dane, 3, "21.00", "-21.00"); },
     0,
     "",
     20,
     {{1, 1, "-0.066"}, {1, 2, "-0.028"}},
     sun},
    {"06:30 for a 04:30 UT measurement gives 0.442 at 500 nm, 18:30 for 16:30 UT gives −0.094",
     [](Inputs& in) { shift_hours(in.dane, 2); },
     0,
     "",
     20,
     {{1, 2, "0.442"}, {19, 2, "-0.094"}},
     sun},
    {"675 and 870 nm swapped there give 0.143 and 0.029 at 04:30",
     [](Inputs& in) { edit(in.dane, 2, "675 870", "870 675"); },
     0,
     "",
     20,
     {{1, 3, "0.143"}, {1, 4, "0.029"}}},
    {"(0.122 and 0.050 here)",
     [](Inputs& in) {
       edit(in.dane, 2, "675 870", "870 675");
       edit(in.lang, 10, "675 870", "870 675");
       edit(in.lang, 11, "2.1034 1.9561", "1.9561 2.1034");
     },
     0,
     "",
     20,
     {{1, 3, "0.122"}, {1, 4, "0.050"}}},
    {"`5.560325E-02` instead of `5.639171E-02` on the console, 0.056 either way",
     [](Inputs& in) { edit(in.dane, 3, "0.0027", "0,0027"); },
     0,
     "",
     20,
     {{1, 5, "0.056"}},
     " Grubosc optyczna aerozolu    5.560325E-02\r\n"},
    {"(22 for 20: twenty results, then the failure)", [](Inputs& in) { edit(in.dane, 1, "5 20", "5 22"); }, 24,
     dane_eof, 20},
    {"(18 for 20: 18 lines)", [](Inputs& in) { edit(in.dane, 1, "5 20", "5 18"); }, 0, "", 18},
    {"(6 for 5: status 59", [](Inputs& in) { edit(in.dane, 1, "5 20", "6 20"); }, 59, syntax, 0},
    {"with a sixth wavelength added, SING",
     [](Inputs& in) {
       edit(in.dane, 1, "5 20", "6 20");
       edit(in.dane, 2, "1020", "1020 1640");
     },
     3, log_sing, 0},
    {"(4 for 5)", [](Inputs& in) { edit(in.dane, 1, "5 20", "4 20"); }, 0, "", 20, {{20, 4, "0.081"}}, "", false, 62},
    {"(`6 15` in the second record: measurement 2 has month 15, one line in `wyniki.dat`)",
     [](Inputs& in) { edit(in.dane, 4, "15  6", "6 15"); }, 65,
     "tirovan: DIR/dane.dat: measurement 2 has month 15, outside 1..12\n", 1},
    {"in a first record at low Sun the same swap puts the Sun below the horizon and ends the run with status 3",
     [](Inputs& in) { edit(in.dane, 3, "15  6", "6 15"); },
     3,
     pow_domain,
     0,
     {},
     sun},
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

TEST(Troubleshooting, EveryRowAsStated) {
  const std::string source = TIROVAN_SOURCE_DIR;
  std::string table = read_file(source + "/docs/failures.md");
  std::replace(table.begin(), table.end(), '\n', ' '); // prose may wrap anywhere
  const std::size_t section = table.find("## Troubleshooting");
  ASSERT_NE(section, std::string::npos);
  const Inputs example{read_file(source + "/examples/lang.dat"), read_file(source + "/examples/dane.dat")};
  std::string earlier; // the unchanged example's results (the first row), as an earlier run left them

  for (const Row& row : rows) {
    SCOPED_TRACE(row.quote);
    EXPECT_NE(table.find(row.quote, section), std::string::npos) << "no row of docs/failures.md says this";
    Inputs inputs = example;
    row.mistake(inputs);
    test::TempDir dir;
    if (inputs.lang) dir.write("lang.dat", *inputs.lang);
    if (inputs.dane) dir.write("dane.dat", *inputs.dane);
    if (row.earlier_results) dir.write("wyniki.dat", earlier);
    const test::RunResult run = test::run_tirovan(dir);

    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.err, replaced(row.err, "DIR", std::filesystem::canonical(dir.path()).string()));
    EXPECT_NE(run.out.find(row.console), std::string::npos) << run.out;
    for (const char* name : {"lang.dat", "dane.dat"}) {
      if (!(std::string(name) == "lang.dat" ? inputs.lang : inputs.dane)) {
        EXPECT_TRUE(dir.exists(name) && dir.read(name).empty()) << name << " is not created empty";
      }
    }
    ASSERT_EQ(dir.exists("wyniki.dat"), row.records >= 0);
    const std::string results = dir.read("wyniki.dat");
    if (row.earlier_results) {
      EXPECT_EQ(results, earlier);
    }
    const std::vector<std::string> lines = lines_of(results);
    EXPECT_EQ(static_cast<int>(lines.size()), std::max(row.records, 0));
    for (const std::string& line : lines) EXPECT_EQ(line.size(), row.width + 1) << line; // CR LF
    for (const Aot& aot : row.aot) {
      ASSERT_LT(aot.record - 1, lines.size());
      const std::string field = lines[aot.record - 1].substr(22 + 10 * (aot.channel - 1), 10);
      EXPECT_EQ(field.substr(field.find_first_not_of(' ')), aot.written)
          << "record " << aot.record << ", channel " << aot.channel;
    }
    if (&row == &rows.front()) earlier = results;
  }
}

} // namespace
} // namespace tirovan
