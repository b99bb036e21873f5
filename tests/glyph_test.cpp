// Glyph extraction: layout of the 16 x 16 grid, the two roundings, trimming, gap filling.
#include "classify/glyph.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dib_test_util.h"
#include "platform/error.h"

namespace ocrb {
namespace {

using testing_util::FromArt;

// A W x H picture with ink in the given source columns (all rows) or rows (all columns).
std::vector<std::string> Columns(int w, int h, std::vector<int> ink_columns) {
  std::vector<std::string> art(h, std::string(w, '.'));
  for (auto& row : art)
    for (int c : ink_columns) row[c] = '#';
  return art;
}
std::vector<std::string> Solid(int w, int h) {
  return std::vector<std::string>(h, std::string(w, '#'));
}

// Grid and pattern as pictures: row GY, column GX.
std::vector<std::string> GridArt(const TGlyphGrid& grid) {
  std::vector<std::string> art(16, std::string(16, '.'));
  for (int gx = 0; gx < 16; ++gx)
    for (int gy = 0; gy < 16; ++gy)
      if (grid.Cells[gx * 16 + gy]) art[gy][gx] = '#';
  return art;
}
std::vector<std::string> PatternArt(const TGlyphInputs& inputs) {
  std::vector<std::string> art(16, std::string(16, '.'));
  for (int gy = 0; gy < 16; ++gy)
    for (int gx = 0; gx < 16; ++gx)
      if (inputs[static_cast<size_t>(gy * 16 + gx)] == 1.0) art[gy][gx] = '#';
  return art;
}
// Which grid columns hold ink anywhere.
std::string InkColumns(const std::vector<std::string>& art) {
  std::string columns(16, '.');
  for (const auto& row : art)
    for (int x = 0; x < 16; ++x)
      if (row[x] == '#') columns[x] = '#';
  return columns;
}
std::string InkRows(const std::vector<std::string>& art) {
  std::string rows(16, '.');
  for (int y = 0; y < 16; ++y)
    if (art[y].find('#') != std::string::npos) rows[y] = '#';
  return rows;
}

struct Extracted {
  std::vector<std::string> grid, pattern;
  int32_t grid_count, pattern_count;
};
Extracted Extract(const std::vector<std::string>& art, bool trim = false,
                  TRect rect = TRect{0, 0, 0, 0}) {
  auto image = FromArt(art);
  TGlyphGrid grid;
  TGlyphInputs pattern;
  Extracted e;
  e.grid_count = ExtractGlyphGrid(*image, rect, trim, grid);
  e.pattern_count = ExtractGlyphPattern(*image, rect, trim, pattern);
  e.grid = GridArt(grid);
  e.pattern = PatternArt(pattern);
  return e;
}

TEST(GlyphExtraction, TallGlyphIsCentredWithUnitScale) {
  const Extracted e = Extract(Solid(10, 16));  // S = 1, 10 columns from X0 = 3
  EXPECT_EQ(InkColumns(e.grid), "...##########...");
  EXPECT_EQ(InkColumns(e.pattern), "...##########...");
  EXPECT_EQ(InkRows(e.grid), std::string(16, '#'));
  EXPECT_EQ(e.grid_count, 160);
  EXPECT_EQ(e.pattern_count, 160);
}

TEST(GlyphExtraction, RoundingOfTheCellCountsDiffersBetweenGridAndPattern) {
  // 7 x 20: S = 1.25, W / S = 5.6. The grid takes 6 columns from X0 = 5 and samples source
  // columns 0, 1, 2, 3, 5, 6; the pattern takes 5 columns from X0 = 5 (0, 1, 2, 3, 5).
  EXPECT_EQ(InkColumns(Extract(Solid(7, 20)).grid), ".....######.....");
  EXPECT_EQ(InkColumns(Extract(Solid(7, 20)).pattern), ".....#####......");
  EXPECT_EQ(InkColumns(Extract(Columns(7, 20, {4})).grid), "................");
  EXPECT_EQ(InkColumns(Extract(Columns(7, 20, {6})).grid), "..........#.....");
  EXPECT_EQ(InkColumns(Extract(Columns(7, 20, {6})).pattern), "................");
  EXPECT_EQ(InkColumns(Extract(Columns(7, 20, {5})).pattern), ".........#......");
  // 32 x 48: S = 3, W / S = 10.67: 11 grid columns from 2, 10 pattern columns from 3.
  EXPECT_EQ(InkColumns(Extract(Solid(32, 48)).grid), "..###########...");
  EXPECT_EQ(InkColumns(Extract(Solid(32, 48)).pattern), "...##########...");
}

TEST(GlyphExtraction, FlatGlyphSamplesRowsZeroZeroOneTwo) {
  // 12 x 3: S = 0.75, H / S = 4 rows from Y0 = 6, sampling source rows 0, 0, 1, 2.
  std::vector<std::string> art = {std::string(12, '#'), std::string(12, '.'), std::string(12, '.')};
  EXPECT_EQ(InkRows(Extract(art).grid), "......##........");
  art = {std::string(12, '.'), std::string(12, '.'), std::string(12, '#')};
  EXPECT_EQ(InkRows(Extract(art).grid), ".........#......");
}

TEST(GlyphExtraction, OutputOrdersAreColumnMajorForGridAndRowMajorForPattern) {
  // One ink block in the top-left corner of a 16 x 16 image: cell (GX 0, GY 0) only.
  std::vector<std::string> art(16, std::string(16, '.'));
  art[0][1] = '#';  // GX 1, GY 0
  auto image = FromArt(art);
  TGlyphGrid grid;
  TGlyphInputs pattern;
  ExtractGlyphGrid(*image, TRect{0, 0, 0, 0}, false, grid);
  ExtractGlyphPattern(*image, TRect{0, 0, 0, 0}, false, pattern);
  EXPECT_EQ(grid.Cells[1 * 16 + 0], 1);
  EXPECT_EQ(pattern[0 * 16 + 1], 1.0);
  EXPECT_EQ(pattern[1 * 16 + 0], 0.0);
}

// The inputs are written whole: what an earlier glyph left in the vector is gone, and the ink
// cells are as many as the extraction counts.
TEST(GlyphExtraction, PatternOverwritesEveryInputCell) {
  std::vector<std::string> art(12, std::string(8, '.'));
  for (int y = 2; y < 10; ++y) art[y][3] = art[y][4] = '#';
  auto image = FromArt(art);
  for (const double stale : {0.5, 1.0, -1.0}) {
    TGlyphInputs inputs;
    inputs.fill(stale);
    const int32_t count = ExtractGlyphPattern(*image, TRect{0, 0, 0, 0}, false, inputs);
    int32_t ink = 0;
    for (double cell : inputs) {
      ASSERT_TRUE(cell == 0.0 || cell == 1.0) << cell;
      ink += cell == 1.0;
    }
    EXPECT_EQ(ink, count);
    EXPECT_GT(ink, 0);
    EXPECT_LT(ink, 256);
  }
}

TEST(GlyphExtraction, OnlyTheGridFillsAPaperPixelEnclosedByInk) {
  std::vector<std::string> art = Solid(16, 16);
  art[5][7] = '.';
  const Extracted e = Extract(art);
  EXPECT_EQ(e.grid[5][7], '#');
  EXPECT_EQ(e.pattern[5][7], '.');
  EXPECT_EQ(e.grid_count, 256);
  EXPECT_EQ(e.pattern_count, 255);
}

TEST(GlyphExtraction, ImageWithoutInkCountsOneAndIsAllPaper) {
  const Extracted e = Extract(std::vector<std::string>(20, std::string(12, '.')));
  EXPECT_EQ(e.grid_count, 1);
  EXPECT_EQ(e.pattern_count, 1);
  EXPECT_EQ(InkColumns(e.grid), std::string(16, '.'));
  EXPECT_EQ(InkColumns(e.pattern), std::string(16, '.'));
}

// Trimming decides by the first row only: compare with the picture without that row.
class TrimTest : public ::testing::Test {
 protected:
  // A body of full rows below TopRow; the bottom row is full and is never dropped.
  static std::vector<std::string> WithTop(const std::string& top_row) {
    std::vector<std::string> art(16, std::string(top_row.size(), '#'));
    for (size_t y = 2; y < art.size(); y += 3) art[y][y % top_row.size()] = '.';
    art.insert(art.begin(), top_row);
    return art;
  }
  static bool TopDropped(const std::string& top_row) {
    std::vector<std::string> art = WithTop(top_row);
    const Extracted trimmed = Extract(art, true);
    std::vector<std::string> body(art.begin() + 1, art.end());
    const Extracted without = Extract(body, false);
    const Extracted kept = Extract(art, false);
    EXPECT_TRUE(trimmed.grid == without.grid || trimmed.grid == kept.grid);
    return trimmed.grid == without.grid && trimmed.pattern == without.pattern;
  }
};

TEST_F(TrimTest, SparseRowsAreDroppedUpToOneEighthOfTheWidthRoundedToEven) {
  // Right - Left = 19: limit Round(2.375) = 2.
  EXPECT_TRUE(TopDropped("......##............"));
  EXPECT_FALSE(TopDropped(".....###............"));
  // Right - Left = 20: limit Round(2.5) = 2, so 3 ink pixels in one run stay.
  EXPECT_FALSE(TopDropped(".....###............."));
  // Right - Left = 12: limit Round(1.5) = 2, so 2 ink pixels go.
  EXPECT_TRUE(TopDropped(".....##......"));
}

TEST_F(TrimTest, RaggedRowsWithFiveChangesAreDroppedWhateverTheirInk) {
  EXPECT_TRUE(TopDropped("..#####..#####..####"));   // 6 changes
  EXPECT_FALSE(TopDropped("#####..#####..######"));  // 4 changes
}

TEST(GlyphExtraction, SingleSparseRowLeavesNothing) {
  TGlyphGrid grid;
  auto image = FromArt({"#..................."});
  EXPECT_EQ(ExtractGlyphGrid(*image, TRect{0, 0, 0, 0}, true, grid), 0);
  for (uint8_t cell : grid.Cells) ASSERT_EQ(cell, 0);
}

TEST(GlyphExtraction, RectangleReachingPastTheImageRaisesOutOfBitmap) {
  auto image = FromArt(Solid(10, 10));
  TGlyphGrid grid;
  try {
    ExtractGlyphGrid(*image, TRect{0, 0, 19, 19}, false, grid);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Out of bitmap");
  }
  TGlyphInputs pattern;
  EXPECT_THROW(ExtractGlyphPattern(*image, TRect{-5, 0, 9, 9}, false, pattern), Error);
}

TEST(GlyphExtraction, RectangleSelectsPartOfTheImage) {
  std::vector<std::string> art(20, std::string(30, '.'));
  for (int y = 2; y < 18; ++y)
    for (int x = 12; x < 22; ++x) art[y][x] = '#';
  const Extracted part = Extract(art, false, TRect{12, 2, 21, 17});
  const Extracted alone = Extract(Solid(10, 16));
  EXPECT_EQ(part.grid, alone.grid);
  EXPECT_EQ(part.pattern, alone.pattern);
}

}  // namespace
}  // namespace ocrb
