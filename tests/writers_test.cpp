// The writers on results made by hand: what text output leaves out and marks, and TSV line
// cells that agree with the character rows beside them.
#include "reader/writers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "reader/xml_writers.h"

namespace ocrb::reader {
namespace {

// A line on a 20-pixel grid with one confidence per character ('~' and spaces as the engine
// gives them), assessed as the engine's reads are.
TextLine Line(const std::string& text, const std::vector<float>& confidences) {
  TextLine line;
  line.Text = text;
  for (size_t k = 0; k < text.size(); ++k) {
    const int left = 10 + 20 * static_cast<int>(k);
    const bool space = text[k] == ' ';
    line.Confidences.push_back(space ? 1.0f : (text[k] == '~' ? 0.0f : confidences[k]));
    line.Boxes.push_back(space ? TRect{0, 0, 0, 0} : TRect{left, 10, left + 11, 29});
  }
  AssessLine(line);
  return line;
}

TextLine Line(const std::string& text, float confidence) {
  return Line(text, std::vector<float>(text.size(), confidence));
}

const std::string kGood = "0100003949753>120000000000234478943216899+ 010001628>";
const std::string kBad = "042>210000000003139471430009016+ 010001628>";

// Two pages: junk above a good coding line, then a bad one and a line of no layout.
FileResult TwoPages() {
  FileResult file;
  file.Name = "scan.tif";
  file.Pages.resize(2);
  file.Pages[0].Lines = {Line("8008 7000 60", 0.5f), Line(kGood, 0.99f)};
  file.Pages[1].Lines = {Line(kBad, 0.98f), Line("<<4721>> #3~18-55+", 0.95f)};
  return file;
}

TEST(TextOutput, LeavesJunkOutAndMarksCheckedLines) {
  const FileResult file = TwoPages();
  ASSERT_TRUE(file.Pages[0].Lines[0].Junk);
  struct Case {
    const char* Label;
    TextOptions Options;
    std::string Expected;
  };
  const std::vector<Case> cases = {
      {"default", {}, kGood + "\n\f\n" + kBad + "\n<<4721>> #3~18-55+\n"},
      {"all lines",
       {true, false},
       "8008 7000 60\n" + kGood + "\n\f\n" + kBad + "\n<<4721>> #3~18-55+\n"},
      {"check",
       {false, true},
       kGood + "\tok\n\f\n" + kBad + "\tbad reference\n<<4721>> #3~18-55+\n"},
      {"both",
       {true, true},
       "8008 7000 60\n" + kGood + "\tok\n\f\n" + kBad + "\tbad reference\n<<4721>> #3~18-55+\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    EXPECT_EQ(FormatFile(Format::kText, file, 0, 1, c.Options), c.Expected);
  }
  // A file among several is named first; options change nothing else.
  EXPECT_EQ(FormatFile(Format::kText, file, 1, 2, {false, true}),
            "\n==> scan.tif <==\n" + kGood + "\tok\n\f\n" + kBad +
                "\tbad reference\n<<4721>> #3~18-55+\n");
}

std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  size_t start = 0;
  for (size_t tab; (tab = row.find('\t', start)) != std::string::npos; start = tab + 1) {
    cells.push_back(row.substr(start, tab - start));
  }
  cells.push_back(row.substr(start));
  return cells;
}

// Every line of a TSV table keeps all its lines, junk too, and its line cells agree with its
// character rows: the mean and least of their confidences, the share of '~'.
TEST(TsvOutput, LineCellsAgreeWithTheCharacterRows) {
  FileResult file = TwoPages();
  file.Pages[1].Lines[1] = Line("1~3 5~", {0.5f, 0.0f, 0.75f, 1.0f, 0.9f, 0.0f});
  std::istringstream in(FormatPrologue(Format::kTsv) + FormatFile(Format::kTsv, file, 0, 1));
  std::string row;
  std::getline(in, row);
  const std::vector<std::string> header = Cells(row);
  ASSERT_EQ(header.size(), 17u);
  EXPECT_EQ(header[10], "line_mean");
  EXPECT_EQ(header[14], "line_check");
  EXPECT_EQ(header[15], "skew_degrees");
  EXPECT_EQ(header[16], "orientation");
  struct Seen {
    std::string Text, Mean, Min, Unnamed, Junk, Check;
    double Sum = 0, Least = 1;
    int Characters = 0, Tildes = 0;
  };
  std::vector<Seen> lines;
  while (std::getline(in, row)) {
    const std::vector<std::string> cells = Cells(row);
    ASSERT_EQ(cells.size(), 17u) << row;
    const size_t index = static_cast<size_t>(std::stoi(cells[1]) - 1) * 2 +
                         static_cast<size_t>(std::stoi(cells[2]) - 1);
    if (lines.size() <= index) lines.resize(index + 1);
    Seen& seen = lines[index];
    seen.Text += cells[4];
    if (cells[4] != " ") {
      const double confidence = std::strtod(cells[5].c_str(), nullptr);
      seen.Sum += confidence;
      seen.Least = std::min(seen.Least, confidence);
      ++seen.Characters;
      seen.Tildes += cells[4] == "~";
    }
    // The line cells are the same on every row of a line.
    if (seen.Text.size() > 1) {
      EXPECT_EQ(cells[10] + cells[11] + cells[12] + cells[13] + cells[14],
                seen.Mean + seen.Min + seen.Unnamed + seen.Junk + seen.Check);
    }
    seen.Mean = cells[10];
    seen.Min = cells[11];
    seen.Unnamed = cells[12];
    seen.Junk = cells[13];
    seen.Check = cells[14];
  }
  ASSERT_EQ(lines.size(), 4u);
  const std::vector<std::string> junk = {"1", "0", "0", "1"};
  const std::vector<std::string> check = {"", "ok", "bad reference", ""};
  for (size_t l = 0; l < lines.size(); ++l) {
    const Seen& seen = lines[l];
    SCOPED_TRACE(seen.Text);
    EXPECT_NEAR(std::stod(seen.Mean), seen.Sum / seen.Characters, 0.002);
    EXPECT_NEAR(std::stod(seen.Min), seen.Least, 0.0005);
    EXPECT_NEAR(std::stod(seen.Unnamed), static_cast<double>(seen.Tildes) / seen.Characters,
                0.0005);
    EXPECT_EQ(seen.Junk, junk[l]);
    EXPECT_EQ(seen.Check, check[l]);
  }
}

// Markup escaped, UTF-8 kept, and every byte sequence XML 1.0 cannot hold replaced by U+FFFD,
// one replacement a bad byte or a whole character XML refuses.
TEST(XmlEscape, KeepsCharactersAndReplacesWhatXmlCannotHold) {
  const std::string r = "\xEF\xBF\xBD";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0100>12+ 01<#", "0100&gt;12+ 01&lt;#"},
      {"a&b\"c'd", "a&amp;b&quot;c&apos;d"},
      {"tab\tnewline\ncr\r", "tab\tnewline\ncr\r"},  // the three controls XML allows
      {std::string("nul\0x", 5), "nul" + r + "x"},
      {"\x01\x1F", r + r},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"\xFF", r},
      {"\xC3", r},                          // cut short at the end
      {"\xC3(", r + "("},                   // a lead byte without its continuation
      {"\x80", r},                          // a lone continuation byte
      {"\xC0\xAF", r + r},                  // an overlong '/'
      {"\xE0\x80\xAF", r + r + r},          // an overlong '/' in three bytes
      {"\xED\xA0\x80", r + r + r},          // a surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},  // beyond U+10FFFF
      {"\xEF\xBF\xBE", r},                  // U+FFFE, no XML character
      {"\xEE\x80\x80", "\xEE\x80\x80"},     // U+E000, the first one after the gap
      {"\xED\x9F\xBF", "\xED\x9F\xBF"},     // U+D7FF, the last one before it
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(XmlEscape(in), out) << in;
  }
}

// The note for a replaced resolution, and its absence where nothing was replaced.
TEST(ResolutionNotice, OnlyForAStatedResolutionReplaced) {
  auto page = [](int x, int y, DpiSource source, int stated_x, int stated_y) {
    PageResult p;
    p.XDpi = x;
    p.YDpi = y;
    p.Source = source;
    p.StatedXDpi = stated_x;
    p.StatedYDpi = stated_y;
    return p;
  };
  const std::vector<std::pair<PageResult, std::string>> cases = {
      {page(311, 311, DpiSource::kEstimated, 150, 150),
       "read at 311 dpi as its digits measure, not at the 150 dpi the file states"},
      {page(300, 300, DpiSource::kOption, 600, 600),
       "read at 300 dpi as given, not at the 600 dpi the file states"},
      {page(200, 200, DpiSource::kOption, 200, 100),
       "read at 200 dpi as given, not at the 200 x 100 dpi the file states"},
      {page(300, 150, DpiSource::kOption, 300, 300),
       "read at 300 x 150 dpi as given, not at the 300 dpi the file states"},
      {page(300, 300, DpiSource::kOption, 300, 300), ""},  // nothing replaced
      {page(300, 300, DpiSource::kFile, 300, 300), ""},
      {page(300, 300, DpiSource::kOption, 0, 0), ""},       // nothing stated
      {page(210, 210, DpiSource::kEstimated, 72, 72), ""},  // no resolution to the engine
      {page(210, 210, DpiSource::kEstimated, 96, 96), ""},
      {page(210, 210, DpiSource::kEstimated, 97, 97),
       "read at 210 dpi as its digits measure, not at the 97 dpi the file states"},
  };
  for (const auto& [p, expected] : cases) {
    EXPECT_EQ(ResolutionNotice(p), expected) << expected;
  }
  PageResult failed = cases[0].first;
  failed.Status = kExitCorrupt;
  EXPECT_EQ(ResolutionNotice(failed), "");
}

TEST(JsonOutput, StatedDpiIsAPairOrNull) {
  FileResult file = TwoPages();
  file.Pages[0].StatedXDpi = 200;
  file.Pages[0].StatedYDpi = 100;
  const std::string json = FormatFile(Format::kJson, file, 0, 1);
  const size_t first = json.find("\"stated_dpi\": [200, 100]");
  ASSERT_NE(first, std::string::npos) << json;
  EXPECT_NE(json.find("\"stated_dpi\": null", first), std::string::npos) << json;
}

// Both layout formats make one document of any number of files and pages, and a file of no
// pages adds nothing to it.
TEST(LayoutOutput, OneDocumentForSeveralFiles) {
  const FileResult file = TwoPages();
  FileResult failed;
  failed.Name = "gone.png";
  failed.Status = kExitCorrupt;
  for (const Format format : {Format::kHocr, Format::kAlto}) {
    const std::string document = FormatPrologue(format, {file.Name, failed.Name, file.Name}) +
                                 FormatFile(format, file, 0, 3) + FormatFile(format, failed, 1, 3) +
                                 FormatFile(format, file, 2, 3) + FormatEpilogue(format);
    EXPECT_EQ(FormatFile(format, failed, 1, 3), "");
    const std::string page = format == Format::kHocr ? "class=\"ocr_page\"" : "<Page ";
    size_t pages = 0;
    for (size_t at = document.find(page); at != std::string::npos; at = document.find(page, at + 1))
      ++pages;
    EXPECT_EQ(pages, 4u);
    // The junk line of the first page is left out: three lines a file.
    const std::string line = format == Format::kHocr ? "class=\"ocr_line\"" : "<TextLine ";
    size_t lines = 0;
    for (size_t at = document.find(line); at != std::string::npos; at = document.find(line, at + 1))
      ++lines;
    EXPECT_EQ(lines, 6u);
    EXPECT_EQ(document.find("8008"), std::string::npos);
    EXPECT_NE(document.find("page_3_2"), std::string::npos);
    EXPECT_EQ(std::string(FormatExtension(format)), format == Format::kHocr ? "hocr" : "xml");
  }
}

}  // namespace
}  // namespace ocrb::reader
