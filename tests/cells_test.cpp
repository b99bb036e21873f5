// Reading the cells of a line: the grid fitted from trusted characters, and which cells are
// asked about, with what ink, and what their answers replace. A scripted classifier stands in
// for the network and records the ink it is shown.
#include "engine/cells.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dib_test_util.h"
#include "engine/lines.h"
#include "image/dib.h"

namespace ocrb {
namespace {

using testing_util::Box;
using testing_util::ToArt;

// A line of the store built from characters at given cells: pitch 20, cell 0 centred on
// column 30, digits 16 rows tall standing on row Base + Slope * x.
struct LineBuilder {
  double base = 60, slope = 0;
  TTextLine line;

  TRect CellRect(int cell, int width = 10, int height = 16) const {
    const double cx = 30 + 20.0 * cell;
    const auto bottom = static_cast<int32_t>(std::lround(base + slope * cx));
    const auto left = static_cast<int32_t>(std::lround(cx - width / 2.0));
    return TRect{left, bottom - height + 1, left + width - 1, bottom};
  }
  void Add(char ch, int cell, float conf) { line.Place(ch, CellRect(cell), conf); }
};

TEST(LineGrid, PitchPhaseBaselineAndSlopeFromTrustedCharacters) {
  for (double slope : {0.0, 0.03, -0.05}) {
    LineBuilder b;
    b.slope = slope;
    for (int cell : {0, 1, 2, 4, 5, 9, 10}) b.Add('0' + static_cast<char>(cell), cell, 0.95f);
    b.Add('7', 7, 0.3f);  // weak: plays no part
    TLineGrid grid;
    ASSERT_TRUE(FitLineGrid(b.line, grid)) << slope;
    EXPECT_NEAR(grid.Pitch, 20, 0.2) << slope;
    EXPECT_EQ(grid.CellOf(30 + 20 * 7), 7);
    EXPECT_NEAR(grid.CenterOf(3), 30 + 20 * 3 - 0.5, 1.0);  // inclusive rects: centres at .5
    EXPECT_NEAR(grid.Slope, slope, 0.01);
    EXPECT_NEAR(grid.BottomAt(230), 60 + slope * 230, 1.0);
    EXPECT_NEAR(grid.Height, 15, 0.01);
  }
}

TEST(LineGrid, BoxesFitWhereTheirClassStands) {
  LineBuilder b;
  for (int cell = 0; cell < 6; ++cell) b.Add('8', cell, 0.99f);
  TLineGrid grid;
  ASSERT_TRUE(FitLineGrid(b.line, grid));  // digits on rows 45 .. 60
  const struct {
    char ch;
    TRect rect;
    bool fits;
  } cases[] = {
      {'3', TRect{20, 45, 29, 60}, true},   // a whole digit
      {'3', TRect{20, 46, 29, 58}, true},   // a digit that lost an edge
      {'3', TRect{20, 45, 29, 52}, false},  // the upper half of something, read as a digit
      {'-', TRect{20, 51, 29, 53}, true},   // a hyphen at mid-height
      {'-', TRect{20, 45, 29, 47}, false},  // the bar of a '7'
      {'-', TRect{20, 57, 29, 59}, false},  // low, as a '4's crossbar is
      {'+', TRect{20, 49, 27, 56}, true},   // a small '+', half the digits' height
      {'>', TRect{20, 47, 29, 58}, true},  {'>', TRect{20, 40, 29, 48}, false},  // above the line
      {'~', TRect{20, 45, 29, 60}, false},  // nothing named fits nothing
  };
  for (const auto& c : cases)
    EXPECT_EQ(FitsGrid(c.ch, c.rect, grid), c.fits) << c.ch << " " << c.rect.Top;
}

TEST(LineGrid, RefusedWithoutEnoughAgreeingTrustedDigits) {
  LineBuilder few;
  few.Add('1', 0, 0.95f);
  few.Add('2', 1, 0.95f);
  few.Add('3', 2, 0.85f);  // below the trust
  TLineGrid grid;
  EXPECT_FALSE(FitLineGrid(few.line, grid));

  LineBuilder symbols;  // trusted, but no two digits to stand on
  for (int cell = 0; cell < 5; ++cell) symbols.Add(cell == 2 ? '4' : '+', cell, 0.99f);
  EXPECT_FALSE(FitLineGrid(symbols.line, grid));

  // Three trusted digits off any common pitch: 0, 33 and 47 pixels apart.
  TTextLine scattered;
  for (int left : {0, 33, 80}) scattered.Place('5', TRect{left, 40, left + 9, 55}, 0.99f);
  EXPECT_FALSE(FitLineGrid(scattered, grid));

  // One far outlier among agreeing ones is left out of the fit.
  LineBuilder outlier;
  for (int cell : {0, 1, 2, 3, 5}) outlier.Add('8', cell, 0.99f);
  TRect moved = outlier.CellRect(4);  // half a pitch off its cell
  moved.Left += 10;
  moved.Right += 10;
  outlier.line.Place('8', moved, 0.99f);
  ASSERT_TRUE(FitLineGrid(outlier.line, grid));
  EXPECT_NEAR(grid.Pitch, 20, 0.05);
  EXPECT_NEAR(grid.CenterOf(0), 29.5, 0.1);
}

// A page with the characters of a LineBuilder drawn as solid blocks, plus extra ink.
class CellsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_.NewImage(300, 100, kFormat1Bit, 200, 200);
    image_.FillWhite();
  }
  void Fill(const TRect& r) {
    for (int32_t y = r.Top; y <= r.Bottom; ++y)
      for (int32_t x = r.Left; x <= r.Right; ++x) image_.SetPixel(x, y, 0);
  }
  // A trusted line of digits in cells 0..9 but for the ones left out; their ink is drawn.
  void TrustedLine(const std::vector<int>& left_out) {
    for (int cell = 0; cell < 10; ++cell) {
      if (std::find(left_out.begin(), left_out.end(), cell) != left_out.end()) continue;
      b_.Add('0' + static_cast<char>(cell), cell, 0.99f);
      Fill(b_.CellRect(cell));
    }
    model_.Lines = {b_.line};
  }
  std::string Text() const { return model_.Lines[0].Text(); }
  // Reads the cells with so many pixels to look at; false when they ran out, or the
  // classifier allowed fewer than questions_ questions.
  bool Read(int64_t budget = 1 << 30) {
    const std::function<bool(int64_t)> charge = [&, budget](int64_t pixels) {
      charged_ += pixels;
      return charged_ <= budget;
    };
    return ReadLineCells(model_, image_, classify_, charge, &work_);
  }

  TDIB image_;
  LineBuilder b_;
  TLineModel model_;
  std::vector<std::vector<std::string>> shown_;  // the ink of each cell asked about
  std::vector<TRect> pages_;
  char answer_ = '4';
  double confidence_ = 0.97;
  int64_t charged_ = 0;
  TCellWork work_;
  int questions_ = -1;  // questions the budget allows; -1: no end
  TGlyphClassifier classify_ = [this](const TGlyphQuery& q, char& ch, double& conf) {
    if (questions_ >= 0 && static_cast<int>(shown_.size()) >= questions_) return false;
    EXPECT_EQ(q.Kind, qkCell);
    shown_.push_back(ToArt(q.Image, q.Image.BlackIndex()));
    pages_.push_back(q.PageRect);
    ch = answer_;
    conf = confidence_;
    return true;
  };
};

TEST_F(CellsTest, AnEmptyCellWithInkIsReadFromThatInkAlone) {
  TrustedLine({4, 5});
  // Cell 5 holds a wide character that reaches into cell 4 (columns 100 .. 119); cell 4 holds
  // a '+'-sized mark half as tall as the digits, with a bridge towards the wide character.
  const TRect wide{117, 45, 140, 60};
  model_.Lines[0].Place('5', wide, 0.99f);
  Fill(wide);
  Fill(TRect{106, 48, 113, 55});
  Fill(TRect{114, 50, 116, 51});
  answer_ = '+';
  Read();
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(Box(pages_[0]), Box(TRect{106, 48, 116, 55}));  // none of the wide character's ink
  ASSERT_EQ(shown_[0].size(), 8u);
  EXPECT_EQ(shown_[0][0], "########...");
  EXPECT_EQ(shown_[0][2], "###########");
  EXPECT_EQ(Text(), "0123+56789");
  EXPECT_FLOAT_EQ(model_.Lines[0][4].Conf, 0.97f);
  EXPECT_EQ(Box(model_.Lines[0][4].Rect), Box(pages_[0]));
  EXPECT_EQ(work_.CellsRead, 1);
  EXPECT_EQ(work_.CharsPlaced, 1);
}

TEST_F(CellsTest, CellsWithoutInkOrWithInkOutsideTheBandAreNotAsked) {
  TrustedLine({3, 6});
  Fill(TRect{125, 20, 132, 26});  // cell 6, well above the digits' rows
  Read();
  EXPECT_TRUE(shown_.empty());
  EXPECT_EQ(Text(), "01245789");
  // A speck in the band is not a character either.
  Fill(TRect{90, 52, 90, 52});
  Read();
  EXPECT_TRUE(shown_.empty());
}

TEST_F(CellsTest, AReadingMustPassTheThresholdAndBeatWhatItReplaces) {
  TrustedLine({2, 7});
  Fill(TRect{68, 46, 72, 58});    // cell 2
  Fill(TRect{168, 46, 172, 58});  // cell 7
  confidence_ = 0.5;              // not above the threshold: nothing placed
  Read();
  EXPECT_EQ(shown_.size(), 2u);
  EXPECT_EQ(Text(), "01345689");

  // A weak character in cell 7 is replaced by a better reading of the whole cell, and kept
  // against a worse one.
  model_.Lines[0].Place('~', TRect{168, 46, 172, 58}, 0.0f);
  model_.Lines[0].Place('1', TRect{68, 46, 72, 58}, 0.8f);
  confidence_ = 0.7;
  shown_.clear();
  Read();
  EXPECT_EQ(shown_.size(), 2u);
  EXPECT_EQ(Text(), "0113456489");
  EXPECT_FLOAT_EQ(model_.Lines[0][2].Conf, 0.8f);
  EXPECT_FLOAT_EQ(model_.Lines[0][7].Conf, 0.7f);
}

// A confident character that does not stand where its class stands (the bar of a broken '7'
// read as '-') is no reason to leave its cell: the cell is read whole, and what reads better
// takes it; one that nothing replaces keeps its place at a confidence of a half. (Cell 6 holds
// a bar alone, which is no ink in the band: it is not read.)
TEST_F(CellsTest, AConfidentMisfitIsReadAgainOrNotReportedAsSure) {
  TrustedLine({3, 6});
  model_.Lines[0].Place('-', TRect{84, 45, 95, 47}, 0.99f);  // cell 3's top bar
  Fill(TRect{84, 45, 95, 47});
  Fill(TRect{91, 48, 93, 60});                                 // and its stem
  model_.Lines[0].Place('-', TRect{144, 45, 155, 47}, 0.99f);  // cell 6: a bar
  Fill(TRect{144, 45, 155, 47});
  answer_ = '7';
  confidence_ = 0.9;
  Read();
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(Box(pages_[0]), Box(TRect{84, 45, 95, 60}));
  ASSERT_EQ(Text(), "012745-789");
  EXPECT_FLOAT_EQ(model_.Lines[0][3].Conf, 0.9f);
  EXPECT_FLOAT_EQ(model_.Lines[0][6].Conf, 0.5f);

  // Read again with nothing better to say: the bars stay, no longer sure.
  model_.Lines = {b_.line};
  model_.Lines[0].Place('-', TRect{84, 45, 95, 47}, 0.99f);
  confidence_ = 0.2;
  Read();
  EXPECT_EQ(Text(), "012-45789");
  EXPECT_FLOAT_EQ(model_.Lines[0][3].Conf, 0.5f);
}

TEST_F(CellsTest, LongGapsAreLeftAndTheEndsReachTwoCells) {
  // Digits in cells 0, 1, 2 and 12, 13: the nine empty cells between are not a missing
  // character. Two cells are looked at past each end, not three.
  image_.NewImage(400, 100, kFormat1Bit, 200, 200);
  image_.FillWhite();
  for (int cell : {0, 1, 2, 12, 13}) b_.Add('5', cell, 0.99f);
  model_.Lines = {b_.line};
  for (int cell : {-1, 5, 15, 16}) Fill(b_.CellRect(cell));
  Read();
  ASSERT_EQ(pages_.size(), 2u);  // cells -1 and 15; not 5 (in the gap) nor 16 (too far)
  EXPECT_EQ(Box(pages_[0]), Box(b_.CellRect(-1)));
  EXPECT_EQ(Box(pages_[1]), Box(b_.CellRect(15)));
  EXPECT_EQ(Text(), "4555554");
}

TEST_F(CellsTest, TheWorkBudgetEndsTheReading) {
  TrustedLine({3, 6});
  Fill(TRect{88, 46, 92, 58});
  Fill(TRect{148, 46, 152, 58});
  EXPECT_FALSE(Read(1));  // the first cell's pixels are already too many
  EXPECT_TRUE(shown_.empty());
  EXPECT_EQ(Text(), "01245789");
}

// A question the budget refuses ends the reading too: the cell read before it keeps its
// character, the next is not read.
TEST_F(CellsTest, AQuestionPastTheBudgetEndsTheReading) {
  TrustedLine({3, 6});
  Fill(TRect{88, 46, 92, 58});
  Fill(TRect{148, 46, 152, 58});
  questions_ = 1;  // every cell reads as '4'
  EXPECT_FALSE(Read());
  EXPECT_EQ(shown_.size(), 1u);
  EXPECT_EQ(Text(), "012445789");
  questions_ = -1;
  EXPECT_TRUE(Read());
  EXPECT_EQ(Text(), "0124454789");
}

}  // namespace
}  // namespace ocrb
