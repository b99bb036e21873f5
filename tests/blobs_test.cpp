// Connected components and the point and blob lists. The labelling is checked on the stated
// cases, by drawing the components back, and against a plain breadth-first search with a
// marker image on many random images.
#include "image/blobs.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "dib_test_util.h"
#include "image/dib.h"
#include "platform/error.h"

namespace ocrb {
namespace {

using testing_util::Box;
using testing_util::FromArt;

std::vector<std::array<int32_t, 4>> BoundsOf(const TBlobList& list) {
  std::vector<std::array<int32_t, 4>> bounds;
  for (int32_t i = 0; i < list.Count(); ++i) bounds.push_back(Box(list.Items(i).Bounds));
  return bounds;
}

TEST(FindBlobs, StatedCases) {
  const struct {
    const char* name;
    std::vector<std::string> art;
    bool eight;
    int32_t min_width, min_height, min_pixels;
    std::vector<std::array<int32_t, 4>> bounds;
  } cases[] = {
      {"no ink", {"....", "...."}, true, 1, 1, 1, {}},
      {"corner touch, 8", {"#...", ".#..", "...."}, true, 1, 1, 1, {{0, 0, 1, 1}}},
      {"corner touch, 4", {"#...", ".#..", "...."}, false, 1, 1, 1, {{0, 0, 0, 0}, {1, 1, 1, 1}}},
      {"three pixels are too few", {"##.##", "#..##"}, true, 1, 1, 4, {{3, 0, 4, 1}}},
      {"bar 1 wide passes",
       {".#.", ".#.", ".#.", ".#.", ".#.", ".#.", ".#.", ".#.", ".#.", ".#."},
       true,
       1,
       1,
       4,
       {{1, 0, 1, 9}}},
      {"bar 1 wide is too narrow",
       {".#.", ".#.", ".#.", ".#.", ".#.", ".#.", ".#.", ".#.", ".#.", ".#."},
       true,
       2,
       1,
       4,
       {}},
      {"bar too short", {"###", "..."}, true, 1, 2, 1, {}},
      {"no least size", {"#.#", "..."}, true, 0, -5, -3, {{0, 0, 0, 0}, {2, 0, 2, 0}}},
      {"column order",
       {".......#", "..#....#", ".......#"},
       true,
       1,
       1,
       1,
       {{2, 1, 2, 1}, {7, 0, 7, 2}}},
      {"leftmost column then top",
       {"..#.", "#...", ".#..", "..##"},
       true,
       1,
       1,
       1,
       {{0, 1, 3, 3}, {2, 0, 2, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TDIB> image = FromArt(c.art);
    TBlobList list;
    image->FindBlobs(c.eight, c.min_width, c.min_height, c.min_pixels, &list);
    EXPECT_EQ(BoundsOf(list), c.bounds);
  }
}

TEST(FindBlobs, ASinglePixelAndTheCentresRoundHalvesToEven) {
  TDIB image;
  image.NewImage(8, 8, kFormat1Bit, 0, 0);
  image.FillWhite();
  image.SetPixel(3, 5, 0);
  TBlobList list;
  image.FindBlobs(true, 1, 1, 1, &list);
  ASSERT_EQ(list.Count(), 1);
  const TBlobItem& dot = list.Items(0);
  EXPECT_EQ(Box(dot.Bounds), Box({3, 5, 3, 5}));
  EXPECT_EQ(dot.PixelCount, 1);
  EXPECT_EQ(dot.CenterX, 3);
  EXPECT_EQ(dot.CenterY, 5);
  EXPECT_EQ(dot.Status, 0);
  ASSERT_EQ(dot.Points.Count(), 1);
  EXPECT_EQ(dot.Points.Items(0).Done, 1);

  const struct {
    std::vector<std::string> art;
    int32_t center_x, center_y;
  } centres[] = {{{"##.."}, 0, 0},
                 {{".##."}, 2, 0},
                 {{".###"}, 2, 0},
                 {{"#", "#", ".", "."}, 0, 0},
                 {{".", "#", "#", "."}, 0, 2}};
  for (const auto& c : centres) {
    TBlobList pair;
    FromArt(c.art)->FindBlobs(false, 1, 1, 1, &pair);
    ASSERT_EQ(pair.Count(), 1);
    EXPECT_EQ(pair.Items(0).CenterX, c.center_x);
    EXPECT_EQ(pair.Items(0).CenterY, c.center_y);
    EXPECT_EQ(pair.Items(0).Points.Count(), 0);  // 4-connected items carry no points
  }
}

TEST(FindBlobs, InkIsTheBlackEntryOfTheColourTable) {
  std::unique_ptr<TDIB> image = FromArt({"#..", "...", "..."});  // value 0 at (0, 0)
  TBlobList black_first;
  image->FindBlobs(true, 1, 1, 1, &black_first);
  EXPECT_EQ(BoundsOf(black_first), (std::vector<std::array<int32_t, 4>>{{0, 0, 0, 0}}));
  image->SetPaletteEntry(0, 0xFFFFFF);
  image->SetPaletteEntry(1, 0x000000);
  TBlobList white_first;
  image->FindBlobs(true, 1, 1, 1, &white_first);
  EXPECT_EQ(BoundsOf(white_first), (std::vector<std::array<int32_t, 4>>{{0, 0, 2, 2}}));
  EXPECT_EQ(white_first.Items(0).PixelCount, 8);
}

TEST(FindBlobs, OnlyOneBitImagesAreLabelledAndANullListRecordsNothing) {
  TDIB grey;
  grey.NewImage(4, 4, kFormat8Bit, 0, 0);
  TBlobList list;
  try {
    grey.FindBlobs(true, 1, 1, 1, &list);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "This operation requires 1 bit per pixel bitmap !");
  }
  std::unique_ptr<TDIB> image = FromArt({"##", "##"});
  image->FindBlobs(true, 1, 1, 1, nullptr);
  image->FindBlobs(false, 1, 1, 1, nullptr);
  EXPECT_EQ(list.Count(), 0);
}

// Centres of a component wider than 2^31 / width pixels: the sums need 64 bits.
TEST(FindBlobs, CentresOfHugeComponents) {
  TDIB image;
  image.NewImage(70001, 2, kFormat1Bit, 0, 0);  // all black
  TBlobList list;
  image.FindBlobs(false, 1, 1, 1, &list);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0).PixelCount, 140002);
  EXPECT_EQ(list.Items(0).CenterX, 35000);
  EXPECT_EQ(list.Items(0).CenterY, 0);  // 0.5 to even
}

// A plain labelling: a marker image, the seed scan column by column through GetPixel, and
// a breadth-first queue of point records.
void PlainLabel(const TDIB& image, bool eight, int32_t min_w, int32_t min_h, int32_t min_p,
                TBlobList& list) {
  const auto w = static_cast<int32_t>(image.Width()), h = static_cast<int32_t>(image.Height());
  const int32_t ink = image.BlackIndex();
  TDIB marker;
  marker.NewImage(w, h, kFormat1Bit, 0, 0);
  marker.Fill(0);
  for (int32_t sx = 0; sx < w; ++sx) {
    for (int32_t sy = 0; sy < h; ++sy) {
      if (marker.GetPixel(sx, sy) != 0 || image.GetPixel(sx, sy) != ink) continue;
      TPointList points;
      points.Add(sx, sy, 0);
      marker.SetPixel(sx, sy, 1);
      auto take = [&](int32_t x, int32_t y) {
        if (marker.GetPixel(x, y) == 0 && image.GetPixel(x, y) == ink) {
          points.Add(x, y, 0);
          marker.SetPixel(x, y, 1);
        }
      };
      for (int32_t r = 0; r < points.Count(); ++r) {
        TBlobPoint p = points.Items(r);
        if (p.Done) continue;
        points.Items(r).Done = 1;
        if (eight) {
          for (int32_t i = std::max(0, p.X - 1); i <= std::min(p.X + 1, w - 1); ++i) {
            for (int32_t j = std::max(0, p.Y - 1); j <= std::min(p.Y + 1, h - 1); ++j) take(i, j);
          }
        } else {
          take(p.X, p.Y);
          take(std::max(0, p.X - 1), p.Y);
          take(std::min(p.X + 1, w - 1), p.Y);
          take(p.X, std::max(0, p.Y - 1));
          take(p.X, std::min(p.Y + 1, h - 1));
        }
      }
      if (points.Count() < std::max(0, min_p)) continue;
      TBlobItem item;
      item.Bounds = TRect{INT32_MAX, INT32_MAX, 0, 0};
      double sum_x = 0, sum_y = 0;
      for (int32_t r = 0; r < points.Count(); ++r) {
        const TBlobPoint& p = points.Items(r);
        item.Bounds.Left = std::min(item.Bounds.Left, p.X);
        item.Bounds.Top = std::min(item.Bounds.Top, p.Y);
        item.Bounds.Right = std::max(item.Bounds.Right, p.X);
        item.Bounds.Bottom = std::max(item.Bounds.Bottom, p.Y);
        sum_x += p.X;
        sum_y += p.Y;
      }
      if (item.Bounds.Right - item.Bounds.Left + 1 < min_w ||
          item.Bounds.Bottom - item.Bounds.Top + 1 < min_h) {
        continue;
      }
      item.PixelCount = points.Count();
      item.CenterX = static_cast<int32_t>(std::nearbyint(sum_x / points.Count()));
      item.CenterY = static_cast<int32_t>(std::nearbyint(sum_y / points.Count()));
      if (eight) item.Points.Append(points);
      list.Add(item);
    }
  }
}

TEST(FindBlobs, MatchesAPlainBreadthFirstLabellingOnRandomImages) {
  std::mt19937 random(11);
  for (int round = 0; round < 300; ++round) {
    const int32_t w = 1 + static_cast<int32_t>(random() % 90);
    const int32_t h = 1 + static_cast<int32_t>(random() % 40);
    const int density = 20 + static_cast<int>(random() % 50);
    TDIB image;
    image.NewImage(w, h, kFormat1Bit, 0, 0);
    for (int32_t y = 0; y < h; ++y) {
      uint8_t* row = image.ScanLine(y);
      for (int32_t i = 0; i < image.Stride(); ++i) row[i] = static_cast<uint8_t>(random());
      for (int32_t x = 0; x < w; ++x)
        image.SetPixel(x, y, static_cast<int>(random() % 100) >= density);
    }
    if (round % 3 == 0) {  // ink is value 1, and the padding bits hold ones and zeros
      image.SetPaletteEntry(0, 0xFFFFFF);
      image.SetPaletteEntry(1, 0);
    }
    const bool eight = round % 2 == 0;
    const int32_t min_w = static_cast<int32_t>(random() % 3),
                  min_h = static_cast<int32_t>(random() % 3);
    const int32_t min_p = static_cast<int32_t>(random() % 6) - 1;
    TBlobList fast, plain;
    image.FindBlobs(eight, min_w, min_h, min_p, &fast);
    PlainLabel(image, eight, min_w, min_h, min_p, plain);
    ASSERT_EQ(fast.Count(), plain.Count()) << round;
    for (int32_t i = 0; i < fast.Count(); ++i) {
      const TBlobItem& a = fast.Items(i);
      const TBlobItem& b = plain.Items(i);
      ASSERT_EQ(Box(a.Bounds), Box(b.Bounds)) << round << " item " << i;
      ASSERT_EQ(a.PixelCount, b.PixelCount);
      ASSERT_EQ(a.CenterX, b.CenterX);
      ASSERT_EQ(a.CenterY, b.CenterY);
      ASSERT_EQ(a.Points.Count(), b.Points.Count());
      for (int32_t k = 0; k < a.Points.Count(); ++k) {
        ASSERT_EQ(a.Points[k].X, b.Points[k].X) << round << " item " << i << " point " << k;
        ASSERT_EQ(a.Points[k].Y, b.Points[k].Y);
        ASSERT_EQ(a.Points[k].Done, 1);
      }
    }
  }
}

// With a pixel limit, labelling lists what it lists without one, less the components past
// the limit, in the same order and with the same points; a component larger than the block
// after which its queue is compacted is left out too, and what follows it is found.
TEST(FindBlobs, ComponentsPastThePixelLimitAreLeftOut) {
  std::mt19937 random(5);
  for (int round = 0; round < 60; ++round) {
    const bool large = round % 10 == 0;
    const int32_t w = large ? 400 : 20 + static_cast<int32_t>(random() % 120);
    const int32_t h = large ? 300 : 10 + static_cast<int32_t>(random() % 60);
    TDIB image;
    image.NewImage(w, h, kFormat1Bit, 0, 0);
    image.Fill(1);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        const bool block = large && x < 360 && y < 250;  // 90,000 pixels in one component
        if (block || random() % 100 < 45) image.SetPixel(x, y, 0);
      }
    }
    const bool eight = round % 2 == 0;
    const int32_t limit = 1 + static_cast<int32_t>(random() % 40);
    TBlobList all, limited;
    image.FindBlobs(eight, 1, 1, 1, &all);
    image.FindBlobs(eight, 1, 1, 1, &limited, nullptr, limit);
    std::vector<const TBlobItem*> want;
    for (int32_t i = 0; i < all.Count(); ++i)
      if (all.Items(i).PixelCount <= limit) want.push_back(&all.Items(i));
    ASSERT_LT(want.size(), static_cast<size_t>(all.Count())) << round;
    ASSERT_EQ(static_cast<size_t>(limited.Count()), want.size()) << round;
    for (int32_t i = 0; i < limited.Count(); ++i) {
      const TBlobItem& a = limited.Items(i);
      const TBlobItem& b = *want[static_cast<size_t>(i)];
      ASSERT_EQ(Box(a.Bounds), Box(b.Bounds)) << round << " item " << i;
      ASSERT_EQ(a.PixelCount, b.PixelCount);
      ASSERT_EQ(a.Points.Count(), b.Points.Count());
      for (int32_t k = 0; k < a.Points.Count(); ++k) ASSERT_EQ(a.Points[k].X, b.Points[k].X);
    }
  }
}

// Every ink pixel belongs to exactly one component, and nothing else does.
TEST(FindBlobs, ComponentsDrawnBackGiveTheImage) {
  std::mt19937 random(12);
  TDIB image;
  image.NewImage(300, 120, kFormat1Bit, 0, 0);
  image.FillWhite();
  for (int stroke = 0; stroke < 150; ++stroke) {
    int32_t x = static_cast<int32_t>(random() % 300), y = static_cast<int32_t>(random() % 120);
    for (int step = 0; step < 30; ++step) {
      image.SetPixel(x, y, 0);
      x = std::clamp<int32_t>(x + static_cast<int32_t>(random() % 3) - 1, 0, 299);
      y = std::clamp<int32_t>(y + static_cast<int32_t>(random() % 3) - 1, 0, 119);
    }
  }
  TBlobList list;
  image.FindBlobs(true, 0, 0, 0, &list);
  TDIB drawn;
  drawn.NewImage(300, 120, kFormat1Bit, 0, 0);
  drawn.FillWhite();
  int64_t points = 0;
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TBlobItem& item = list.Items(i);
    EXPECT_EQ(item.PixelCount, item.Points.Count());
    for (const TBlobPoint& p : item.Points) {
      ASSERT_EQ(drawn.GetPixel(p.X, p.Y), 1) << "pixel in two components";
      drawn.SetPixel(p.X, p.Y, 0);
      ++points;
      ASSERT_GE(p.X, item.Bounds.Left);
      ASSERT_LE(p.X, item.Bounds.Right);
      ASSERT_GE(p.Y, item.Bounds.Top);
      ASSERT_LE(p.Y, item.Bounds.Bottom);
    }
  }
  EXPECT_EQ(testing_util::ToArt(drawn), testing_util::ToArt(image));
  EXPECT_GT(points, 1000);
}

TEST(BlobList, AddTakesOverOrCopiesAndAssignAppendsPoints) {
  TBlobItem source;
  source.Bounds = TRect{1, 2, 3, 4};
  source.Status = 3;
  source.PixelCount = 2;
  source.CenterX = 2;
  source.CenterY = 3;
  source.Points.Add(1, 2, 0);
  source.Points.Add(3, 4, 1);

  TBlobItem target;
  target.Points.Add(9, 9, 1);
  target.Assign(source);
  EXPECT_EQ(Box(target.Bounds), Box(source.Bounds));
  EXPECT_EQ(target.Status, 3);
  ASSERT_EQ(target.Points.Count(), 3);  // the old point stays first
  EXPECT_EQ(target.Points.Items(0).X, 9);
  EXPECT_EQ(target.Points.Items(2).Y, 4);
  EXPECT_EQ(target.Points.Items(2).Done, 1);
  target.Assign(target);
  EXPECT_EQ(target.Points.Count(), 6);

  TBlobList list;
  EXPECT_EQ(list.Add(source), 0);
  source.Points.Items(0).X = 77;  // the copy is independent
  EXPECT_EQ(list.Items(0).Points.Items(0).X, 1);
  auto owned = std::make_unique<TBlobItem>();
  TBlobItem* raw = owned.get();
  EXPECT_EQ(list.Add(std::move(owned)), 1);
  EXPECT_EQ(&list.Items(1), raw);
  EXPECT_EQ(list.AddBlob(TRect{5, 6, 7, 8}, 10, 6, 7), 2);
  EXPECT_EQ(list.Items(2).PixelCount, 10);
  EXPECT_EQ(list.Items(2).Status, 0);
  EXPECT_EQ(list.Items(2).Points.Count(), 0);
  list.Items(2).Status = 2;
  EXPECT_EQ(list.Items(2).Status, 2);

  for (int32_t index : {-1, 3}) {
    try {
      list.Items(index);
      FAIL();
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "List index out of bounds (" + std::to_string(index) + ")");
    }
  }
  EXPECT_THROW(source.Points.Items(2), Error);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace ocrb
