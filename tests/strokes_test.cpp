// Joining broken strokes: where the regions are, what the closing makes of the ink there,
// and the local relabelling, which must give what labelling the whole closed page gives.
#include "engine/strokes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dib_test_util.h"
#include "engine/passes.h"
#include "image/blobs.h"
#include "image/dib.h"

namespace ocrb {
namespace {

using testing_util::Box;
using testing_util::FromArt;
using testing_util::ToArt;

TEST(BrokenRegions, OnlyWhereFragmentsGather) {
  TDIB page;
  page.NewImage(200, 100, kFormat1Bit, 200, 200);
  TBlobList blobs;
  blobs.AddBlob(TRect{20, 20, 23, 23}, 16, 21, 21);      // a lone speck
  blobs.AddBlob(TRect{100, 50, 113, 69}, 200, 106, 59);  // a character
  blobs.AddBlob(TRect{104, 40, 106, 44}, 10, 105, 42);   // a fragment beside the character
  for (int32_t i = 0; i < blobs.Count(); ++i)
    blobs.Items(i).Status = i == 1 ? bsCandidate : bsFragment;
  EXPECT_FALSE(FindBrokenRegions(page, blobs, 30).Any);

  blobs.AddBlob(TRect{118, 41, 121, 44}, 12, 119, 42);  // a second fragment, one cell on
  blobs.Items(3).Status = bsFragment;
  const TBrokenRegions regions = FindBrokenRegions(page, blobs, 30);
  ASSERT_TRUE(regions.Any);
  EXPECT_EQ(regions.Cell, 16);  // half of 30, but never below 16
  // Centres in cells (6, 2) and (7, 2): each sees the other within the nine cells around
  // it, so columns 5 .. 8 of rows 1 .. 3 are marked, and nothing near the lone speck.
  for (int64_t v = 0; v < regions.Rows; ++v) {
    for (int64_t u = 0; u < regions.Columns; ++u) {
      const bool inside = u >= 5 && u <= 8 && v >= 1 && v <= 3;
      EXPECT_EQ(regions.Contains(u * 16, v * 16), inside) << u << ", " << v;
    }
  }
}

// The closing by a 3 x 3 square, pixel by pixel: a pixel is ink when every pixel around it
// (outside the image counting as ink) has ink within one pixel.
std::vector<std::string> ReferenceClosing(const std::vector<std::string>& art,
                                          const TBrokenRegions& regions) {
  const int h = static_cast<int>(art.size()), w = static_cast<int>(art[0].size());
  auto ink = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h && art[y][x] == '#'; };
  auto dilated = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= w || y >= h) return true;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (ink(x + dx, y + dy)) return true;
    return false;
  };
  std::vector<std::string> out = art;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (!regions.Contains(x, y)) continue;
      bool closed = true;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) closed = closed && dilated(x + dx, y + dy);
      if (closed) out[y][x] = '#';
    }
  }
  return out;
}

// Broken strokes on a page: short bars with gaps of one or two pixels, in clusters a
// character apart, and specks.
std::vector<std::string> BrokenPage(int w, int h, std::mt19937& random) {
  std::vector<std::string> art(h, std::string(w, '.'));
  auto put = [&](int x, int y) {
    if (x >= 0 && y >= 0 && x < w && y < h) art[y][x] = '#';
  };
  for (int cy = 4; cy + 12 < h; cy += 22) {
    for (int cx = static_cast<int>(random() % 6); cx + 10 < w;
         cx += 14 + static_cast<int>(random() % 8)) {
      for (int stroke = 0; stroke < 3; ++stroke) {
        const bool across = random() % 2 == 0;
        int x = cx + static_cast<int>(random() % 8), y = cy + static_cast<int>(random() % 12);
        for (int k = 0; k < 9; ++k) {
          if (random() % 4 != 0) put(x, y);  // a pixel in four is missing
          (across ? x : y) += 1;
        }
      }
    }
  }
  for (int s = 0; s < w * h / 400; ++s)
    put(static_cast<int>(random() % w), static_cast<int>(random() % h));
  return art;
}

TBlobList Qualified(const TDIB& image) {
  TBlobList blobs;
  image.FindBlobs(true, 1, 1, 4, &blobs);
  TScaledSizes s{};
  s.SpeckSize = 4;
  s.MinCharWidth = 6;
  s.MinCharHeight = 10;
  s.MaxCharWidth = 25;
  s.MaxCharHeight = 30;
  s.DashMinWidth = 100;  // no flat marks
  s.DashMaxWidth = 100;
  QualifyBlobs(blobs, s);
  return blobs;
}

TEST(CloseInRegions, MatchesAPixelByPixelClosingInsideTheRegionsOnly) {
  std::mt19937 random(5);
  for (int trial = 0; trial < 40; ++trial) {
    const int w = 60 + static_cast<int>(random() % 150), h = 30 + static_cast<int>(random() % 60);
    const std::vector<std::string> art = BrokenPage(w, h, random);
    const bool white_first = trial % 2 == 1;
    const auto image = FromArt(art, white_first);
    const TBrokenRegions regions = FindBrokenRegions(*image, Qualified(*image), 20);
    TDIB closed;
    CloseInRegions(*image, regions, closed);
    EXPECT_EQ(ToArt(closed, white_first ? 1 : 0),
              regions.Any ? ReferenceClosing(art, regions) : art)
        << "trial " << trial;
    // The bits past each row's last pixel are the image's own.
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* a = image->ScanLine(y);
      const uint8_t* b = closed.ScanLine(y);
      if (w % 8 != 0) {
        EXPECT_EQ(a[w / 8] & (0xFF >> (w % 8)), b[w / 8] & (0xFF >> (w % 8)));
      }
    }
  }
}

void ExpectSameBlobs(const TBlobList& got, const TBlobList& want, const std::string& where) {
  ASSERT_EQ(got.Count(), want.Count()) << where;
  for (int32_t i = 0; i < got.Count(); ++i) {
    const TBlobItem& a = got.Items(i);
    const TBlobItem& b = want.Items(i);
    ASSERT_EQ(Box(a.Bounds), Box(b.Bounds)) << where << " blob " << i;
    EXPECT_EQ(a.PixelCount, b.PixelCount) << where << " blob " << i;
    EXPECT_EQ(a.CenterX, b.CenterX) << where << " blob " << i;
    EXPECT_EQ(a.CenterY, b.CenterY) << where << " blob " << i;
    ASSERT_EQ(a.Points.Count(), b.Points.Count()) << where << " blob " << i;
    for (int32_t k = 0; k < a.Points.Count(); ++k) {
      ASSERT_EQ(a.Points[static_cast<size_t>(k)].X, b.Points[static_cast<size_t>(k)].X) << where;
      ASSERT_EQ(a.Points[static_cast<size_t>(k)].Y, b.Points[static_cast<size_t>(k)].Y) << where;
    }
  }
}

// Labelling the neighbourhood of the regions gives what labelling the whole closed page
// gives: the same components, numbers, points and order.
TEST(JoinBrokenStrokes, LocalRelabellingMatchesLabellingTheClosedPage) {
  std::mt19937 random(9);
  int joined_pages = 0;
  for (int trial = 0; trial < 40; ++trial) {
    const int w = 100 + static_cast<int>(random() % 300), h = 40 + static_cast<int>(random() % 150);
    const auto image = FromArt(BrokenPage(w, h, random), trial % 2 == 1);
    TBlobList blobs = Qualified(*image);
    const TBrokenRegions regions = FindBrokenRegions(*image, blobs, 20);
    const bool joined = JoinBrokenStrokes(*image, 25, 20, blobs);
    ASSERT_EQ(joined, regions.Any);
    joined_pages += joined;
    TDIB closed;
    CloseInRegions(*image, regions, closed);
    TBlobList want;
    closed.FindBlobs(true, 1, 1, 4, &want);
    ExpectSameBlobs(blobs, want, "trial " + std::to_string(trial));
  }
  EXPECT_GT(joined_pages, 30);
}

// A joined component that would reach more than a character past the regions (here a long
// bar whose broken end lies among fragments) keeps its pieces; the rest is joined.
TEST(JoinBrokenStrokes, AComponentReachingFarBeyondTheRegionsKeepsItsPieces) {
  std::vector<std::string> art(40, std::string(300, '.'));
  for (int x = 10; x < 200; ++x) art[20][x] = art[21][x] = '#';  // the bar, whole
  for (int x = 201; x < 230; x += 4)                             // its broken end
    art[20][x] = art[21][x] = art[20][x + 1] = art[21][x + 1] = art[20][x + 2] = art[21][x + 2] =
        '#';
  for (int y = 5; y < 35; y += 3)  // a broken upright far away from the bar
    art[y][280] = art[y][281] = art[y + 1][280] = art[y + 1][281] = '#';
  const auto image = FromArt(art);
  TBlobList blobs = Qualified(*image);
  const int32_t before = blobs.Count();
  ASSERT_TRUE(JoinBrokenStrokes(*image, 25, 20, blobs));
  // The bar and its eight pieces stay nine blobs; the upright's ten pieces become one.
  EXPECT_EQ(before, 1 + 8 + 10);
  ASSERT_EQ(blobs.Count(), 1 + 8 + 1);
  EXPECT_EQ(Box(blobs.Items(0).Bounds), Box(TRect{10, 20, 199, 21}));
  EXPECT_EQ(Box(blobs.Items(blobs.Count() - 1).Bounds), Box(TRect{280, 5, 281, 33}));
}

// Pieces that close into one mass of more ink than four characters hold (here a field of
// dots a pixel apart, as a patch of noise closes) keep their pieces; the broken upright beside
// them is still joined.
TEST(JoinBrokenStrokes, PiecesClosingIntoAMassKeepThemselves) {
  std::vector<std::string> art(80, std::string(300, '.'));
  int dots = 0;
  for (int y = 5; y + 1 < 70; y += 3) {
    for (int x = 5; x + 1 < 200; x += 3, ++dots)
      art[y][x] = art[y][x + 1] = art[y + 1][x] = art[y + 1][x + 1] = '#';
  }
  for (int y = 5; y < 35; y += 3)
    art[y][280] = art[y][281] = art[y + 1][280] = art[y + 1][281] = '#';
  const auto image = FromArt(art);
  TBlobList blobs = Qualified(*image);
  ASSERT_EQ(blobs.Count(), dots + 10);
  ASSERT_TRUE(JoinBrokenStrokes(*image, 25, 20, blobs));
  ASSERT_EQ(blobs.Count(), dots + 1);
  int32_t largest = 0;
  for (int32_t i = 0; i < blobs.Count(); ++i)
    largest = std::max(largest, blobs.Items(i).PixelCount);
  EXPECT_EQ(largest, 2 * 29);  // the upright, rows 5 to 33, whole
}

TEST(JoinBrokenStrokes, APageWithoutBrokenRegionsIsLeftAlone) {
  // A character and, far from it, a speck: no two fragments together.
  std::vector<std::string> art(20, std::string(60, '.'));
  for (int y = 2; y < 14; ++y)
    for (int x = 2; x < 10; ++x) art[y][x] = '#';
  art[17][55] = art[17][56] = art[18][55] = art[18][56] = '#';
  const auto image = FromArt(art);
  TBlobList blobs = Qualified(*image);
  const int32_t count = blobs.Count();
  EXPECT_FALSE(JoinBrokenStrokes(*image, 25, 20, blobs));
  EXPECT_EQ(blobs.Count(), count);
}

}  // namespace
}  // namespace ocrb
