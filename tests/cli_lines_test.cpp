// ocrb's line options run as a user runs them: junk lines left out of text and kept with
// their figures in TSV and JSON, --all-lines, --line best and --check, on the pages in
// tests/data (made by tests/data/make_pages.py).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli_test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace ocrb::cli_test;

const fs::path kData = OCRB_TEST_DATA_DIR;
const std::string kMixed = (kData / "mixed-page.png").string();
const std::string kSlips = (kData / "slips.png").string();

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator && separator == '\t') parts.push_back("");
  return parts;
}

// A directory of the test's own for the program's output, removed at exit.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/ocrb_cli_lines_test_XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a scratch directory");
    dir_ = pattern;
  }
  ~Scratch() { fs::remove_all(dir_); }
  const fs::path& Dir() const { return dir_; }

 private:
  fs::path dir_;
};

Outcome Ocrb(const std::vector<std::string>& args) {
  static const Scratch scratch;
  return ocrb::cli_test::Run(OCRB_CLI_PATH, args, scratch.Dir(), "/dev/null");
}

// Ordinary print above a coding line: text shows the coding line alone unless asked for
// every line; --line best keeps it whatever text shows.
TEST(CliLines, TextLeavesOrdinaryPrintOut) {
  const std::string coding = Slurp(kData / "mixed-page.gt.txt");
  ASSERT_FALSE(coding.empty());
  struct Case {
    std::vector<std::string> Args;
    size_t Lines;  // lines printed; the last is the coding line
  };
  const std::vector<Case> cases = {
      {{kMixed}, 1},
      {{"--all-lines", kMixed}, 4},
      {{"--line", "best", kMixed}, 1},
      {{"--line=best", "--all-lines", kMixed}, 1},
      {{"--line", "all", "--all-lines", kMixed}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Args[0]);
    const Outcome run = Ocrb(c.Args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    const std::vector<std::string> lines = Split(run.Out, '\n');
    ASSERT_EQ(lines.size(), c.Lines) << run.Out;
    EXPECT_EQ(lines.back() + "\n", coding);
  }
}

// TSV and JSON keep the junk lines, flagged, with the figures of each line.
TEST(CliLines, TsvAndJsonKeepEveryLineWithItsFigures) {
  const Outcome tsv = Ocrb({"-f", "tsv", kMixed});
  ASSERT_EQ(tsv.Status, 0) << tsv.Err;
  const std::vector<std::string> rows = Split(tsv.Out, '\n');
  ASSERT_GT(rows.size(), 1u);
  const std::vector<std::string> header = Split(rows[0], '\t');
  ASSERT_EQ(header.size(), 17u);
  EXPECT_EQ(header[13], "line_junk");
  std::vector<std::string> junk, check;  // per line, from its rows
  for (size_t r = 1; r < rows.size(); ++r) {
    const std::vector<std::string> cells = Split(rows[r], '\t');
    ASSERT_EQ(cells.size(), 17u) << rows[r];
    const size_t line = std::stoul(cells[2]);
    if (junk.size() < line) {
      junk.push_back(cells[13]);
      check.push_back(cells[14]);
    }
    EXPECT_EQ(cells[13], junk[line - 1]);
    const double mean = std::stod(cells[10]), least = std::stod(cells[11]);
    EXPECT_TRUE(0 <= least && least <= mean && mean <= 1) << rows[r];
  }
  EXPECT_EQ(junk, (std::vector<std::string>{"1", "1", "1", "0"}));
  EXPECT_EQ(check, (std::vector<std::string>{"", "", "", "ok"}));

  const Outcome json = Ocrb({"-f", "json", kMixed});
  ASSERT_EQ(json.Status, 0) << json.Err;
  size_t flagged = 0, kept = 0;
  for (size_t at = 0; (at = json.Out.find("\"junk\": true", at)) != std::string::npos; ++at) {
    ++flagged;
  }
  for (size_t at = 0; (at = json.Out.find("\"junk\": false", at)) != std::string::npos; ++at) {
    ++kept;
  }
  EXPECT_EQ(flagged, 3u);
  EXPECT_EQ(kept, 1u);
  EXPECT_NE(json.Out.find("\"check\": {\"layout\": \"swiss-slip\", \"ok\": true, \"bad\": []}"),
            std::string::npos);
}

// Coding lines whose check digits hold or fail, with and without amount, and a line of no
// known layout, which gets no mark.
TEST(CliLines, CheckMarksEachCodingLine) {
  const std::string marked = Slurp(kData / "slips.gt.txt");
  ASSERT_FALSE(marked.empty());
  const Outcome run = Ocrb({"--check", kSlips});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, marked);
  std::string plain;
  for (const std::string& line : Split(marked, '\n')) plain += Split(line, '\t')[0] + "\n";
  EXPECT_EQ(Ocrb({kSlips}).Out, plain);
  // Of two valid coding lines --line best keeps the one with more characters.
  EXPECT_EQ(Ocrb({"--line", "best", "--check", kSlips}).Out, Split(marked, '\n')[0] + "\n");
}

TEST(CliLines, RefusesBadChoices) {
  struct Case {
    std::vector<std::string> Args;
    std::string Reason;
  };
  const std::vector<Case> cases = {
      {{"--line", "middle", kMixed}, "--line: unknown choice 'middle' (best or all)"},
      {{"--line", "best", "--single-line", kMixed},
       "--single-line and --line best exclude each other"},
      {{"--all-lines=yes", kMixed}, "--all-lines takes no value"},
      {{"--check=1", kMixed}, "--check takes no value"},
      {{kMixed, "--line"}, "--line needs a value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Reason);
    const Outcome run = Ocrb(c.Args);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(Split(run.Err, '\n').at(0), "ocrb: " + c.Reason);
  }
}

}  // namespace
