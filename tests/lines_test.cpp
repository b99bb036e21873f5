// Line assembly: filing characters into lines, spaces, sorting, single-line mode, overlap
// removal and the store's capacity.
#include "engine/lines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <utility>

#include "platform/error.h"
#include "platform/rect.h"

namespace ocrb {
namespace {

class LinesTest : public ::testing::Test {
 protected:
  TLineModel model_;
  std::unique_ptr<TResultStore> store_ = std::make_unique<TResultStore>();

  // A character cell of a 200 dpi line: columns Left..Left+Width-1, rows Top..Top+19.
  void Add(char ch, int32_t left, int32_t top = 100, float conf = 0.9f, int32_t width = 14) {
    AddCharToLines(model_, ch, TRect{left, top, left + width - 1, top + 19}, conf);
  }
  std::string Text(int line) const { return model_.Lines[static_cast<size_t>(line)].Text(); }
  const TTextLine& Line(int line) const { return model_.Lines[static_cast<size_t>(line)]; }
  int LineCount() const { return static_cast<int>(model_.Lines.size()); }
  std::string Stored(int line) const { return std::string(store_->Lines[line].Text.View()); }
};

TEST_F(LinesTest, CharactersArrivingRightToLeftEndUpLeftToRight) {
  Add('3', 60, 100, 0.3f);
  Add('2', 40, 101, 0.2f);
  Add('1', 20, 99, 0.1f);
  ASSERT_EQ(LineCount(), 1);
  EXPECT_EQ(Text(0), "123");
  EXPECT_FLOAT_EQ(Line(0)[0].Conf, 0.1f);
  EXPECT_FLOAT_EQ(Line(0)[2].Conf, 0.3f);
  EXPECT_EQ(Line(0)[0].Rect.Left, 20);
  EXPECT_EQ(Line(0).Bounds(), (TRect{20, 99, 73, 120}));
}

TEST_F(LinesTest, CharacterFiledBetweenTwoTakesTheMiddleOfAllThreeArrays) {
  Add('a', 0, 100, 0.1f);
  Add('c', 40, 100, 0.3f);
  Add('b', 20, 100, 0.2f);
  EXPECT_EQ(Text(0), "abc");
  for (int k = 0; k < 3; ++k) {
    EXPECT_FLOAT_EQ(Line(0)[k].Conf, 0.1f * (k + 1)) << k;
    EXPECT_EQ(Line(0)[k].Rect.Left, 20 * k) << k;
  }
}

TEST_F(LinesTest, CharacterNotWhollyLeftOfAnyoneIsAppended) {
  Add('a', 0);
  Add('c', 40);
  // Starts left of the line's right edge but reaches past the last character.
  AddCharToLines(model_, 'x', TRect{30, 100, 60, 119}, 0.5f);
  EXPECT_EQ(Text(0), "acx");
}

TEST_F(LinesTest, LineMatchingUsesQuarterPointsAndContainment) {
  AddCharToLines(model_, 'a', TRect{0, 0, 10, 20}, 1);   // line 0: rows 0..20
  AddCharToLines(model_, 'b', TRect{0, 40, 10, 60}, 1);  // line 1: rows 40..60
  // Rows 15..45 have quarter points 22 and 38: inside neither line, so a new line opens.
  AddCharToLines(model_, 'd', TRect{40, 15, 50, 45}, 1);
  EXPECT_EQ(LineCount(), 3);
  AddCharToLines(model_, 'c', TRect{20, 10, 30, 50}, 1);  // quarter points 20 and 40: both
  EXPECT_EQ(LineCount(), 3);
  EXPECT_EQ(Text(0), "ac");  // the line opened first wins
  // A thin line inside a tall character's rows matches through containment alone.
  AddCharToLines(model_, 'e', TRect{0, 214, 10, 216}, 1);
  AddCharToLines(model_, 'f', TRect{20, 200, 30, 240}, 1);
  EXPECT_EQ(LineCount(), 4);
  EXPECT_EQ(Text(3), "ef");
  // Quarter points one row below a line's bottom miss it; on its bottom row they match.
  AddCharToLines(model_, 'g', TRect{0, 300, 10, 320}, 1);   // line 4: rows 300..320
  AddCharToLines(model_, 'i', TRect{40, 317, 50, 333}, 1);  // A = 321: line 5
  AddCharToLines(model_, 'h', TRect{20, 316, 30, 332}, 1);  // A = 320: line 4
  EXPECT_EQ(LineCount(), 6);
  EXPECT_EQ(Text(4), "gh");
  EXPECT_EQ(Text(5), "i");
}

TEST_F(LinesTest, SpaceCountsFollowTheGapUnit) {
  // Right of '1' is 13; the next Left lies 17, 18 and 36 columns further.
  Add('1', 0);
  Add('2', 13 + 17);
  Add('3', 30 + 13 + 18);
  Add('4', 61 + 13 + 36);
  InsertLineSpaces(model_, 18);
  EXPECT_EQ(Text(0), "12 3  4");
  for (int k : {2, 4, 5}) {
    EXPECT_EQ(Line(0)[k].Rect, (TRect{0, 0, 0, 0}));
    EXPECT_FLOAT_EQ(Line(0)[k].Conf, 1.0f);
  }
  EXPECT_EQ(Line(0)[6].Rect.Left, 110);  // moved with its character
}

TEST_F(LinesTest, TheScaledUnitIsTheGapAtEveryResolution) {
  // At 300 dpi the scaled unit is 27: gaps of 26, 27 and 54 give none, one and two spaces
  // (the resolution no longer enters a second time, which made the gap 40).
  Add('1', 0);
  Add('2', 13 + 26);
  Add('3', 39 + 13 + 27);
  Add('4', 79 + 13 + 54);
  InsertLineSpaces(model_, 27);
  EXPECT_EQ(Text(0), "12 3  4");
}

TEST_F(LinesTest, ZeroGapFailsOnlyWhenALineHasTwoCharacters) {
  Add('1', 0);
  EXPECT_NO_THROW(InsertLineSpaces(model_, 0));
  Add('2', 50);
  try {
    InsertLineSpaces(model_, 0);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Division by zero");
  }
}

TEST_F(LinesTest, FinishSortsLinesByTop) {
  Add('c', 0, 300);
  Add('a', 0, 100);
  Add('x', 200, 200);
  AddCharToLines(model_, 'y', TRect{0, 200, 13, 210}, 1);  // shares the rows of 'x'
  Add('b', 0, 200 + 50);
  FinishLines(TRect{0, 0, 999, 999}, model_, false);
  ASSERT_EQ(LineCount(), 4);
  EXPECT_EQ(Text(0), "a");
  EXPECT_EQ(Text(1), "yx");
  EXPECT_EQ(Text(2), "b");
  EXPECT_EQ(Text(3), "c");
}

TEST_F(LinesTest, SingleLineKeepsTheLineNearestTheMiddleRow) {
  Add('a', 0, 10);
  Add('b', 0, 95);  // centre 104: nearest to the middle row 100 of a 201-row image
  Add('c', 0, 170);
  FinishLines(TRect{0, 0, 300, 200}, model_, true);
  ASSERT_EQ(LineCount(), 1);
  EXPECT_EQ(Text(0), "b");
}

TEST_F(LinesTest, SingleLineJoinsTwoSideBySideLines) {
  Add('3', 200, 60);  // the right line, opened first and lower
  Add('4', 220, 60);
  Add('1', 0, 10);
  Add('2', 20, 10);
  FinishLines(TRect{0, 0, 300, 100}, model_, true);
  ASSERT_EQ(LineCount(), 1);
  EXPECT_EQ(Text(0), "1234");
  EXPECT_EQ(Line(0)[3].Rect.Left, 220);
}

TEST_F(LinesTest, SingleLineWithoutCharactersGivesOneEmptyLine) {
  store_->Lines[0].Text.Assign("stale");
  store_->LineCount = store_->Touched = 1;
  FinishLines(TRect{0, 0, 99, 99}, model_, true);
  CopyToStore(model_, *store_);
  EXPECT_EQ(store_->LineCount, 1);
  EXPECT_EQ(Stored(0), "");
}

TEST_F(LinesTest, OverlapKeepsTheHeavierCharacterAndTheLowerIndexOnATie) {
  // Identical rectangles and confidences: index 0 stays.
  AddCharToLines(model_, 'a', TRect{0, 0, 10, 20}, 0.5f);
  AddCharToLines(model_, 'b', TRect{0, 0, 10, 20}, 0.5f);
  // An unnamed glyph inside a recognised one, and a recognised one inside an unnamed one.
  AddCharToLines(model_, '7', TRect{30, 0, 44, 20}, 0.9f);
  AddCharToLines(model_, '~', TRect{35, 2, 40, 18}, 0.0f);
  AddCharToLines(model_, '~', TRect{60, 0, 80, 20}, 0.0f);
  AddCharToLines(model_, '8', TRect{68, 0, 72, 20}, 0.9f);
  FinishLines(TRect{0, 0, 99, 99}, model_, false);
  EXPECT_EQ(Text(0), "a78");
  EXPECT_FLOAT_EQ(Line(0)[1].Conf, 0.9f);
  EXPECT_EQ(Line(0)[2].Rect.Left, 68);
}

TEST_F(LinesTest, SpacesAndNeighboursWithoutOverlapSurviveFinishing) {
  Add('1', 0);
  Add('2', 13 + 18);
  InsertLineSpaces(model_, 18);
  FinishLines(TRect{0, 0, 999, 999}, model_, false);
  EXPECT_EQ(Text(0), "1 2");
}

// The model keeps what the store cannot hold until the copy, which takes the first 255 lines
// (after sorting) and the first 255 characters of each.
TEST_F(LinesTest, TheStoresCapacityAppliesAtTheCopyAndKeepsArraysParallel) {
  for (int i = 0; i < kMaxLineLength + 5; ++i) Add('0' + i % 10, i * 20, 0, i / 1000.0f);
  ASSERT_EQ(Line(0).Length(), kMaxLineLength + 5);
  for (int l = 1; l < kMaxLines + 3; ++l) Add('5', 0, l * 40);
  EXPECT_EQ(LineCount(), kMaxLines + 3);
  FinishLines(TRect{0, 0, 99999, 99999}, model_, false);
  CopyToStore(model_, *store_);
  ASSERT_EQ(store_->LineCount, kMaxLines);
  ASSERT_EQ(store_->Lines[0].Text.Length, kMaxLineLength);
  EXPECT_EQ(store_->Lines[0].Rects[kMaxLineLength - 1].Left, (kMaxLineLength - 1) * 20);
  EXPECT_FLOAT_EQ(store_->Lines[0].Confidences[kMaxLineLength - 1], (kMaxLineLength - 1) / 1000.0f);
  EXPECT_EQ(store_->Lines[kMaxLines - 1].Rects[0].Top, (kMaxLines - 1) * 40);

  // Spaces that would take a line past the store's capacity are not inserted; the characters
  // after them are all kept.
  model_.Lines.clear();
  for (int i = 0; i < kMaxLineLength - 2; ++i) Add('1', i * 14);
  Add('9', (kMaxLineLength - 2) * 14 + 200);
  InsertLineSpaces(model_, 18);
  EXPECT_EQ(Line(0).Length(), kMaxLineLength);
  EXPECT_EQ(Text(0).back(), '9');
  EXPECT_EQ(Text(0)[kMaxLineLength - 2], ' ');

  // The working model itself is bounded: a line past four times the store's length drops
  // the surplus.
  model_.Lines.clear();
  for (int i = 0; i < kMaxModelLineLength + 3; ++i) Add('2', i * 14);
  EXPECT_EQ(Line(0).Length(), kMaxModelLineLength);
}

TEST_F(LinesTest, SingleLineJoinIsCutAtTheStoresCapacity) {
  for (int i = 0; i < 200; ++i) Add('1', i * 14, 0);
  for (int i = 0; i < 100; ++i) Add('2', 5000 + i * 14, 100);
  FinishLines(TRect{0, 0, 9999, 200}, model_, true);
  EXPECT_EQ(Line(0).Length(), 300);
  CopyToStore(model_, *store_);
  EXPECT_EQ(store_->Lines[0].Text.Length, kMaxLineLength);
  EXPECT_EQ(Stored(0).substr(198, 4), "1122");
  EXPECT_EQ(store_->Lines[0].Rects[kMaxLineLength - 1].Left, 5000 + 54 * 14);
}

// Two rows of a page turned 2 or 3 degrees, 30 rows apart: over 60 characters each drifts by
// two lines' height. The characters arrive by column, as the passes give them, the two rows
// interleaved. Judged by its whole rows, an upper line rising to the right takes the lower
// row's characters once its own have risen to them; following its slope, each line stays
// one row either way.
TEST_F(LinesTest, TurnedRowsStayTwoLines) {
  for (const double degrees : {2.0, -2.0, -3.0}) {
    model_.Lines.clear();
    const double slope = std::tan(degrees * std::numbers::pi / 180);
    std::string expected[2];
    for (int i = 0; i < 60; ++i) {
      for (int row = 0; row < 2; ++row) {
        const char ch = "0123456789"[(i + 3 * row) % 10];
        const auto top = static_cast<int32_t>(std::lround(200 + 30 * row + slope * 20 * i));
        Add(ch, 20 * i, top, 0.95f);
        expected[row] += ch;
      }
    }
    ASSERT_EQ(LineCount(), 2) << degrees;
    EXPECT_TRUE(Line(0).Turned());
    EXPECT_EQ(Text(0), expected[0]) << degrees;
    EXPECT_EQ(Text(1), expected[1]) << degrees;

    // The same characters filed by the whole rows of each line splice them.
    TLineModel level;
    level.FollowSlope = false;
    for (int i = 0; i < 60; ++i) {
      for (int row = 0; row < 2; ++row) {
        const auto top = static_cast<int32_t>(std::lround(200 + 30 * row + slope * 20 * i));
        AddCharToLines(level, '0', TRect{20 * i, top, 20 * i + 13, top + 19}, 0.95f);
      }
    }
    if (degrees < 0) {
      EXPECT_NE(level.Lines[0].Length(), 60) << degrees;
    }
  }
}

TEST_F(LinesTest, ALevelLineIsJudgedByItsWholeRowsATurnedOneBesideTheColumn) {
  // Level: the rows of all its characters wherever the column.
  for (int i = 0; i < 10; ++i) Add('1', 20 * i, 100 + i % 2);
  EXPECT_FALSE(Line(0).Turned());
  EXPECT_EQ(Line(0).RowsAt(5000), (std::pair<int64_t, int64_t>{100, 120}));
  // Turned (rising a row a character): beside column 100, the rows of the characters there,
  // moved to the column along the slope; past the end, those of the last two, moved on.
  model_.Lines.clear();
  for (int i = 0; i < 20; ++i) Add('1', 20 * i, 100 - i);
  ASSERT_TRUE(Line(0).Turned());
  EXPECT_NEAR(Line(0).Slope(), -0.05, 1e-9);
  const auto [top, bottom] = Line(0).RowsAt(106);  // the centre of the character at 100
  EXPECT_EQ(top, 95);
  EXPECT_EQ(bottom, 114);
  const auto [far_top, far_bottom] = Line(0).RowsAt(587);  // ten characters past the end
  EXPECT_EQ(far_top, 71);
  EXPECT_EQ(far_bottom, 90);
  // Characters below the fit's confidence, and unnamed ones, do not tilt it.
  Add('~', 220, 180, 0.0f);
  Add('7', 240, 180, 0.5f);
  EXPECT_NEAR(Line(0).Slope(), -0.05, 1e-9);
}

TEST(SpaceString, NSpacesAndNothingForNonPositive) {
  EXPECT_EQ(SpaceString(3), "   ");
  EXPECT_EQ(SpaceString(0), "");
  EXPECT_EQ(SpaceString(-4), "");
}

}  // namespace
}  // namespace ocrb
