// The README's input snippets, copied as a user copies them, give the
// console output and the results file that the README shows.
//
// A snippet is the code block after a line "<!-- example NAME -->": NAME
// lang.dat and dane.dat are inputs, console and wyniki.dat the outputs.

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/support.hpp"

namespace tirovan {
namespace {

std::map<std::string, std::string> readme_snippets() {
  std::ifstream in(std::string(TIROVAN_SOURCE_DIR) + "/README.md");
  std::map<std::string, std::string> snippets;
  const std::string marker = "<!-- example ";
  std::string line, name;
  bool inside = false;
  while (std::getline(in, line)) {
    if (inside) {
      if (line.starts_with("```")) {
        inside = false;
        name.clear();
      } else {
        snippets[name] += line + "\n";
      }
    } else if (line.starts_with(marker)) {
      name = line.substr(marker.size(), line.find(" -->") - marker.size());
    } else if (!name.empty() && line.starts_with("```")) {
      inside = true;
    }
  }
  return snippets;
}

// Lines with CR LF turned into LF and trailing blanks dropped: the README
// shows the text, its editor may trim the banner's padding.
std::string as_shown(const std::string& bytes) {
  std::istringstream in(bytes);
  std::string result;
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with('\r')) line.pop_back();
    line.erase(line.find_last_not_of(' ') + 1);
    result += line + "\n";
  }
  return result;
}

TEST(Readme, SnippetsRunAsShown) {
  std::map<std::string, std::string> snippet = readme_snippets();
  for (const char* name : {"lang.dat", "dane.dat", "console", "wyniki.dat"}) {
    ASSERT_FALSE(snippet[name].empty()) << "README has no snippet " << name;
  }
  test::TempDir dir;
  dir.write("lang.dat", snippet["lang.dat"]);
  dir.write("dane.dat", snippet["dane.dat"]);
  const test::RunResult run = test::run_tirovan(dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(as_shown(run.out), as_shown(snippet["console"]));
  const std::string results = dir.read("wyniki.dat");
  EXPECT_EQ(as_shown(results), as_shown(snippet["wyniki.dat"]));

  // The snippet is a plausible clear sky: 0 < AOT(870) < AOT(500).
  std::istringstream records(results);
  for (std::string record; std::getline(records, record);) {
    std::istringstream fields(record);
    int day = 0, month = 0, year = 0, hour = 0, minute = 0;
    double aot500 = 0, aot870 = 0;
    ASSERT_TRUE(fields >> day >> month >> year >> hour >> minute >> aot500 >> aot870) << record;
    EXPECT_GT(aot870, 0.0) << record;
    EXPECT_GT(aot500, aot870) << record;
  }
}

} // namespace
} // namespace tirovan
