// The README's and docs/'s snippets, copied as a user copies them, give the
// output shown, and every relative link of the manual leads somewhere.
//
// A snippet is the code block after a line "<!-- example NAME -->": NAME
// lang.dat and dane.dat are inputs, console and wyniki.dat their outputs;
// "bundled console", "bundled wyniki.dat" and "bundled check" are what the
// README's set-up command (a) gives on the bundled example (the console
// shown from its start).

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/support.hpp"

#ifdef TIROVAN_TOOLS_EXE
#include "tools/run_tools.hpp"
#endif

namespace tirovan {
namespace {

namespace fs = std::filesystem;

const fs::path source = TIROVAN_SOURCE_DIR;

// README.md and every page of docs/.
std::vector<fs::path> manual_pages() {
  std::vector<fs::path> pages{source / "README.md"};
  for (const auto& entry : fs::directory_iterator(source / "docs")) {
    if (entry.path().extension() == ".md") pages.push_back(entry.path());
  }
  return pages;
}

std::vector<std::string> lines_of(const fs::path& page) {
  std::ifstream in(page);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::map<std::string, std::string> snippets() {
  std::map<std::string, std::string> found;
  const std::string marker = "<!-- example ";
  for (const fs::path& page : manual_pages()) {
    std::string name;
    bool inside = false;
    for (const std::string& line : lines_of(page)) {
      if (inside) {
        if (line.starts_with("```")) {
          inside = false;
          name.clear();
        } else {
          found[name] += line + "\n";
        }
      } else if (line.starts_with(marker)) {
        name = line.substr(marker.size(), line.find(" -->") - marker.size());
        EXPECT_EQ(found.count(name), 0U) << "snippet " << name << " twice, again in " << page;
      } else if (!name.empty() && line.starts_with("```")) {
        inside = true;
      }
    }
  }
  return found;
}

// Lines with CR LF turned into LF and trailing blanks dropped: the manual
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
  std::map<std::string, std::string> snippet = snippets();
  for (const char* name : {"lang.dat", "dane.dat", "console", "wyniki.dat"}) {
    ASSERT_FALSE(snippet[name].empty()) << "the manual has no snippet " << name;
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

TEST(Readme, FirstRunOfTheBundledExampleAsShown) {
  std::map<std::string, std::string> snippet = snippets();
  for (const char* name : {"bundled console", "bundled wyniki.dat", "bundled check"}) {
    ASSERT_FALSE(snippet[name].empty()) << "the README has no snippet " << name;
  }
  test::TempDir dir;
  for (const char* name : {"lang.dat", "dane.dat"}) fs::copy_file(source / "examples" / name, dir.file(name));
  const test::RunResult run = test::run_tirovan(dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(as_shown(run.out).starts_with(as_shown(snippet["bundled console"])));
  EXPECT_EQ(as_shown(dir.read("wyniki.dat")), as_shown(snippet["bundled wyniki.dat"]));
#ifdef TIROVAN_TOOLS_EXE
  const test::ToolsRun check = test::run_tools(dir, "check");
  EXPECT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(check.out, snippet["bundled check"]);
#endif
}

// A heading's anchor as GitHub forms it: lower case, punctuation dropped,
// blanks turned into hyphens.
std::string anchor_of(const std::string& heading) {
  std::string anchor;
  for (const char c : heading.substr(heading.find_first_not_of('#'))) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '_' || u >= 0x80) {
      anchor += static_cast<char>(std::tolower(u));
    } else if (c == ' ') {
      anchor += '-';
    }
  }
  return anchor.substr(anchor.find_first_not_of('-'));
}

// Headings and links outside code blocks.
struct Page {
  std::set<std::string> anchors;
  std::vector<std::string> links;
};

Page read_page(const fs::path& path) {
  Page page;
  bool code = false;
  for (const std::string& line : lines_of(path)) {
    if (line.starts_with("```")) code = !code;
    if (code) continue;
    if (line.starts_with("#")) page.anchors.insert(anchor_of(line));
    // Markdown links "](target)": the target up to ")" without blanks.
    for (std::size_t at = line.find("]("); at != std::string::npos; at = line.find("](", at + 2)) {
      const std::size_t end = line.find_first_of(") \t", at + 2);
      if (end != std::string::npos && line[end] == ')' && end > at + 2)
        page.links.push_back(line.substr(at + 2, end - at - 2));
    }
  }
  return page;
}

TEST(Readme, EveryRelativeLinkLeadsToAFileAndHeading) {
  std::size_t checked = 0;
  for (const fs::path& from : manual_pages()) {
    for (const std::string& link : read_page(from).links) {
      if (link.starts_with("http://") || link.starts_with("https://") || link.starts_with("mailto:")) continue;
      const std::size_t hash = link.find('#');
      const fs::path target = hash == 0 ? from : from.parent_path() / link.substr(0, hash);
      EXPECT_TRUE(fs::exists(target)) << from.filename() << ": " << link;
      if (hash != std::string::npos && fs::exists(target)) {
        EXPECT_EQ(read_page(target).anchors.count(link.substr(hash + 1)), 1U) << from.filename() << ": " << link;
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 30U);
}

} // namespace
} // namespace tirovan
