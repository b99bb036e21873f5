// Line figures, the junk rule at each of its edges, the ranking of --line best, and a page of
// ordinary print above a coding line read end to end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "reader/decoders.h"  // Leptonica, PackDib
#include "reader/reader.h"

namespace ocrb::reader {
namespace {

const std::filesystem::path kData = OCRB_TEST_DATA_DIR;

// A line set in cells: character k stands in the cell that starts at Lefts[k], its box 12
// pixels wide and Heights[k] tall on one baseline; a space has the box 0,0,0,0 and confidence
// 1.0, as the engine gives them.
TextLine LineAt(const std::string& text, const std::vector<int>& lefts,
                const std::vector<int>& heights, const std::vector<float>& confidences) {
  TextLine line;
  line.Text = text;
  for (size_t k = 0; k < text.size(); ++k) {
    const bool space = text[k] == ' ';
    line.Confidences.push_back(space ? 1.0f : confidences[k]);
    line.Boxes.push_back(space ? TRect{0, 0, 0, 0}
                               : TRect{lefts[k], 100 - heights[k], lefts[k] + 11, 99});
  }
  AssessLine(line);
  return line;
}

// Text on a fixed pitch of 20 pixels, digits 20 pixels tall, every confidence Confidence.
TextLine GridLine(const std::string& text, float confidence = 1.0f, int first = 10) {
  std::vector<int> lefts, heights;
  for (size_t k = 0; k < text.size(); ++k) {
    lefts.push_back(first + 20 * static_cast<int>(k));
    heights.push_back(20);
  }
  return LineAt(text, lefts, heights, std::vector<float>(text.size(), confidence));
}

// Text whose k-th character starts Steps[k - 1] pixels after the one before it.
TextLine SteppedLine(const std::string& text, const std::vector<int>& steps) {
  std::vector<int> lefts = {10};
  for (int step : steps) lefts.push_back(lefts.back() + step);
  return LineAt(text, lefts, std::vector<int>(text.size(), 20),
                std::vector<float>(text.size(), 1.0f));
}

// Digits on the grid, one per confidence given.
TextLine ConfidenceLine(const std::vector<float>& confidences) {
  std::vector<int> lefts;
  for (size_t k = 0; k < confidences.size(); ++k) lefts.push_back(10 + 20 * static_cast<int>(k));
  return LineAt(std::string(confidences.size(), '5'), lefts,
                std::vector<int>(confidences.size(), 20), confidences);
}

// Ten digits on the grid with the given heights.
TextLine TallLine(const std::vector<int>& heights) {
  std::vector<int> lefts;
  for (size_t k = 0; k < heights.size(); ++k) lefts.push_back(10 + 20 * static_cast<int>(k));
  return LineAt(std::string(heights.size(), '5'), lefts, heights,
                std::vector<float>(heights.size(), 1.0f));
}

TEST(LineFigures, CountTheCharactersOtherThanSpaces) {
  const TextLine line =
      LineAt("7 ~3+", {10, 0, 50, 70, 90}, {20, 0, 20, 20, 14}, {0.9f, 1.0f, 0.0f, 0.6f, 0.8f});
  const LineFigures& f = line.Figures;
  EXPECT_EQ(f.Characters, 4);
  EXPECT_EQ(f.Unnamed, 1);
  EXPECT_FLOAT_EQ(f.MeanConfidence, (0.9f + 0.0f + 0.6f + 0.8f) / 4);
  EXPECT_FLOAT_EQ(f.MinConfidence, 0.0f);
  EXPECT_FLOAT_EQ(f.UnnamedShare, 0.25f);
  EXPECT_NEAR(f.NamedConfidenceSum, 0.9 + 0.6 + 0.8, 1e-6);

  // Spaces alone: nothing to measure, and nothing to leave out.
  const TextLine blank = GridLine("   ");
  EXPECT_EQ(blank.Figures.Characters, 0);
  EXPECT_EQ(blank.Figures.MeanConfidence, 0.0f);
  EXPECT_FALSE(blank.Junk);

  // Characters beyond the confidences or boxes given count as unnamed, without a box.
  const LineFigures short_of_data = MeasureLine("1234", {0.8f, 0.8f}, {{0, 0, 9, 19}});
  EXPECT_EQ(short_of_data.Characters, 4);
  EXPECT_EQ(short_of_data.Unnamed, 2);
  EXPECT_FLOAT_EQ(short_of_data.MeanConfidence, 0.4f);
  EXPECT_EQ(short_of_data.OffPitchShare, 0.0f);
}

TEST(LineFigures, OcrBSitsOnItsPitchAndProportionalTypeDoesNot) {
  // A coding line on its grid, its gap a whole cell.
  const TextLine coding = GridLine("0100003949753>120000000000234478943216899+ 010001628>");
  EXPECT_EQ(coding.Figures.OffPitchShare, 0.0f);
  EXPECT_EQ(coding.Figures.HeightSpreadShare, 0.0f);
  EXPECT_FALSE(coding.Junk);
  // Centres a few pixels off their cells, and steps across wide gaps.
  const TextLine jittered =
      SteppedLine("1234567890123", {21, 17, 23, 19, 20, 62, 18, 22, 99, 20, 21, 19});
  EXPECT_EQ(jittered.Figures.OffPitchShare, 0.0f);
  // Letters of proportional type: their advances vary with the letter.
  const TextLine proportional =
      SteppedLine("8008700060800", {11, 6, 17, 11, 11, 6, 11, 15, 6, 11, 17, 11});
  EXPECT_GT(proportional.Figures.OffPitchShare, kJunkMaxOffPitchShare);
  EXPECT_TRUE(proportional.Junk);
  // A glyph read as two halves half a pitch apart is off the pitch, not on a smaller one.
  const TextLine split =
      SteppedLine("1234455678901", {20, 20, 20, 10, 10, 20, 20, 20, 20, 20, 20, 20});
  EXPECT_FLOAT_EQ(split.Figures.OffPitchShare, 2.0f / 12);
}

// Each clause of the rule on both sides of its threshold, the others kept well inside.
TEST(JunkRule, EachClauseAtItsEdge) {
  struct Case {
    const char* Label;
    TextLine Line;
    bool Junk;
  };
  const std::vector<Case> cases = {
      {"mean confidence 0.7", GridLine("0123456789", 0.7f), false},
      {"mean confidence 0.69", GridLine("0123456789", 0.69f), true},
      // '~' counts 0, whatever confidence it came with.
      {"mostly unnamed", GridLine("12~~~", 1.0f), true},
      {"half unnamed", GridLine("12~~", 1.0f), true},
      {"one unnamed of four", GridLine("12~4", 1.0f), false},
      // A low mean with a sure median is a true line with a few glyphs lost to damage.
      {"mean 0.58, median 0.9",
       ConfidenceLine({0.9f, 0.9f, 0.9f, 0.9f, 0.9f, 0.9f, 0.1f, 0.1f, 0.1f, 0.1f}), false},
      {"mean 0.58, median 0.89",
       ConfidenceLine({0.89f, 0.89f, 0.89f, 0.89f, 0.89f, 0.89f, 0.1f, 0.12f, 0.1f, 0.1f}), true},
      // Eight steps, two of them off (a quarter): kept; three off: junk.
      {"2 of 8 steps off", SteppedLine("123456789", {20, 20, 20, 20, 20, 20, 31, 31}), false},
      {"3 of 8 steps off", SteppedLine("123456789", {20, 20, 20, 20, 20, 31, 31, 31}), true},
      // Off means more than a fifth of a pitch from a whole number of pitches.
      {"steps 1.2 pitches", SteppedLine("123456789", {20, 20, 20, 20, 20, 24, 24, 24}), false},
      {"steps 1.25 pitches", SteppedLine("123456789", {20, 20, 20, 20, 20, 25, 25, 25}), true},
      {"steps 2.15 pitches", SteppedLine("123456789", {20, 20, 20, 20, 20, 43, 43, 43}), false},
      // Characters standing on one another (steps of a sixth of a pitch) are off the pitch,
      // not on a whole number of none.
      {"3 of 8 steps a sixth", SteppedLine("123456789", {20, 20, 20, 20, 20, 3, 3, 3}), true},
      // The pitch comes from the steps with no space between them: three such steps of 20
      // and six across spaces of 40 are all on a pitch of 20, not half of them off one of 40.
      {"pitch from unspaced steps",
       LineAt("1234 5 6 7 8 9 0", {10, 30, 50, 70, 0, 110, 0, 150, 0, 190, 0, 230, 0, 270, 0, 310},
              std::vector<int>(16, 20), std::vector<float>(16, 1.0f)),
       false},
      // Seven steps say too little, however wild.
      {"7 steps, all off", SteppedLine("12345678", {20, 31, 7, 45, 13, 31, 7}), false},
      // Ten digits of median height 20: four strays (40 %) kept, five junk.
      {"4 of 10 digits stray", TallLine({20, 20, 26, 20, 14, 20, 26, 20, 14, 20}), false},
      {"5 of 10 digits stray", TallLine({20, 26, 26, 20, 14, 20, 26, 20, 14, 20}), true},
      // Strays differ by more than a quarter of the median height.
      {"heights off by a quarter", TallLine({20, 25, 25, 20, 15, 20, 25, 20, 15, 20}), false},
      // Seven digits say too little.
      {"7 digits, 4 stray", TallLine({20, 26, 26, 20, 14, 20, 14}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    EXPECT_EQ(c.Line.Junk, c.Junk);
    EXPECT_EQ(IsJunk(c.Line.Figures), c.Junk);
  }
}

PageResult PageOf(std::vector<TextLine> lines) {
  PageResult page;
  page.Lines = std::move(lines);
  return page;
}

TEST(BestLine, RanksCheckDigitsThenLayoutThenJunkThenConfidence) {
  const std::string slip = "0100003949753>120000000000234478943216899+ 010001628>";
  const std::string plain = "042>210000000003139471430009017+ 010001628>";
  const std::string bad = "0100003949753>120000100000234478943216899+ 010001628>";
  const std::string long_other = std::string(70, '8');
  // A long line of confident but off-pitch characters: junk with the largest sum.
  std::vector<int> wander;
  for (int k = 0; k < 80; ++k) wander.push_back(k % 3 == 0 ? 31 : 20);
  const TextLine junk = SteppedLine(std::string(81, '0'), wander);
  ASSERT_TRUE(junk.Junk);
  struct Case {
    const char* Label;
    std::vector<TextLine> Lines;
    std::string Kept;
  };
  const std::vector<Case> cases = {
      {"check digits over length", {GridLine(long_other), GridLine(plain)}, plain},
      {"a known layout over length", {GridLine(long_other), GridLine(bad)}, bad},
      {"good check digits over bad", {GridLine(bad), GridLine(plain)}, plain},
      {"of two good ones the more confident", {GridLine(plain), GridLine(slip)}, slip},
      {"not junk over a larger sum", {junk, GridLine("12345")}, "12345"},
      {"the larger sum", {GridLine("1234", 0.9f), GridLine("12345", 0.9f)}, "12345"},
      // '~' adds nothing to the sum: 5 against 5.4.
      {"named characters only", {GridLine("12~345"), GridLine("123456", 0.9f)}, "123456"},
      {"a tie to the upper line",
       {GridLine("11111", 0.9f, 10), GridLine("22222", 0.9f, 30)},
       "11111"},
      {"every line junk: the larger sum", {GridLine("111", 0.5f), junk}, junk.Text},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    PageResult page = PageOf(c.Lines);
    KeepBestLine(page);
    ASSERT_EQ(page.Lines.size(), 1u);
    EXPECT_EQ(page.Lines[0].Text, c.Kept);
  }
  PageResult empty;
  KeepBestLine(empty);
  EXPECT_TRUE(empty.Lines.empty());
}

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Ordinary print above a coding line: the engine names the letters as digits, the reader
// calls those lines junk, keeps the coding line, and --line best finds it.
TEST(JunkRule, OrdinaryPrintAboveACodingLine) {
  std::string coding = Slurp(kData / "mixed-page.gt.txt");
  ASSERT_FALSE(coding.empty());
  coding.pop_back();
  Engine engine{Parameters{}};
  std::vector<PageResult> pages =
      ReadImage(engine, ReadFileBytes((kData / "mixed-page.png").string()), {}, false);
  ASSERT_EQ(pages.size(), 1u);
  const std::vector<TextLine>& lines = pages[0].Lines;
  ASSERT_EQ(lines.size(), 4u);  // three of print, one coding line
  for (size_t l = 0; l < 3; ++l) {
    SCOPED_TRACE(lines[l].Text);
    EXPECT_TRUE(lines[l].Junk);
    EXPECT_FALSE(lines[l].Check.Known());
  }
  EXPECT_EQ(lines[3].Text, coding);
  EXPECT_FALSE(lines[3].Junk);
  EXPECT_TRUE(lines[3].Check.Valid());
  EXPECT_GT(lines[3].Figures.MeanConfidence, 0.95f);

  KeepBestLine(pages[0]);
  ASSERT_EQ(pages[0].Lines.size(), 1u);
  EXPECT_EQ(pages[0].Lines[0].Text, coding);
}

}  // namespace
}  // namespace ocrb::reader
