// Thinning and dilation: the stated cases, the neighbourhood helpers, the clean-up table, and
// properties checked by independent routes (a thinned glyph stays inside the original; a
// dilation equals the pixels within the square's reach of the ink).
#include "image/thin.h"

#include <gtest/gtest.h>

#include <random>

#include "dib_test_util.h"
#include "image/dib.h"
#include "platform/beep.h"
#include "platform/error.h"

namespace ocrb {
namespace {

using testing_util::FromArt;
using testing_util::ToArt;
using Art = std::vector<std::string>;

Art Thinned(const Art& art) {
  std::unique_ptr<TDIB> image = FromArt(art);
  image->Thin();
  return ToArt(*image);
}

Art Dilated(const Art& art, int32_t radius) {
  std::unique_ptr<TDIB> image = FromArt(art);
  image->Dilate(radius);
  return ToArt(*image);
}

TEST(Thin, StatedCases) {
  const struct {
    const char* name;
    Art before, after;
  } cases[] = {
      {"square to its centre",
       {".....", ".###.", ".###.", ".###.", "....."},
       {".....", ".....", "..#..", ".....", "....."}},
      {"bar two high",
       {"........", ".######.", ".######.", "........"},
       {"........", "..####..", "........", "........"}},
      {"thin line keeps its ends",
       {"........", ".######.", "........"},
       {"........", ".######.", "........"}},
      {"three pixels", {".....", ".#...", ".##..", "....."}, {".....", ".....", ".#...", "....."}},
      {"isolated pixel", {"...", ".#.", "..."}, {"...", ".#.", "..."}},
      {"diagonal line",
       {"#....", ".#...", "..#..", "...#.", "....#"},
       {"#....", ".#...", "..#..", "...#.", "....#"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Thinned(c.before), c.after);
  }
}

TEST(Thin, TheCleanUpTableDecidesByNeighbourCode) {
  EXPECT_EQ(CleanupAction(0), TCleanup::Keep);    // isolated
  EXPECT_EQ(CleanupAction(5), TCleanup::Delete);  // north and east
  EXPECT_EQ(CleanupAction(17), TCleanup::Keep);   // north and south
  EXPECT_EQ(CleanupAction(68), TCleanup::Keep);   // east and west
  EXPECT_EQ(CleanupAction(3), TCleanup::DeleteAndBeep);
  EXPECT_EQ(CleanupAction(255), TCleanup::Keep);
  int deletes = 0, beeps = 0;
  for (int code = 0; code < 256; ++code) {
    deletes += CleanupAction(static_cast<uint8_t>(code)) == TCleanup::Delete;
    beeps += CleanupAction(static_cast<uint8_t>(code)) == TCleanup::DeleteAndBeep;
  }
  EXPECT_EQ(deletes, 64);
  EXPECT_EQ(beeps, 40);
}

// Shapes that the sub-passes leave two pixels thick in places; the clean-up then removes
// corner pixels in raster order, sounding the beep where the table says so.
TEST(Thin, TheCleanUpRemovesCornersTheSubPassesLeave) {
  const struct {
    Art before, after;
    unsigned long long beeps;
  } cases[] = {
      {{".....", "..##.", ".#.#.", ".##..", "....."},
       {".....", "..#..", ".#.#.", "..#..", "....."},
       0},
      {{"........", ".#####..", ".##.#.#.", "..####..", "...##.#.", ".#####..", "........"},
       {"........", "...###..", "..#.#.#.", "...###..", "....#.#.", ".#####..", "........"},
       1},
  };
  for (const auto& c : cases) {
    const unsigned long long before = platform::BeepCount();
    EXPECT_EQ(Thinned(c.before), c.after);
    EXPECT_EQ(platform::BeepCount() - before, c.beeps);
  }
}

TEST(Thin, ImagesOneOrTwoPixelsWideAreThinnedOnTheirFramedCopy) {
  EXPECT_EQ(Thinned({"#", "#", "#", "#"}), (Art{"#", "#", "#", "#"}));
  const Art two = {"##", "##", "##", "##", "##"};
  const Art after = Thinned(two);
  int left = 0;
  for (const std::string& row : after)
    left += static_cast<int>(std::count(row.begin(), row.end(), '#'));
  EXPECT_GT(left, 0);
  EXPECT_LT(left, 10);
}

// Random thick strokes: the skeleton stays inside the ink.
TEST(Thin, ASkeletonStaysInsideTheInk) {
  std::mt19937 random(21);
  for (int round = 0; round < 60; ++round) {
    const int32_t w = 8 + static_cast<int32_t>(random() % 30),
                  h = 8 + static_cast<int32_t>(random() % 30);
    Art art(h, std::string(w, '.'));
    for (int stroke = 0; stroke < 3; ++stroke) {
      int32_t x = static_cast<int32_t>(random() % w), y = static_cast<int32_t>(random() % h);
      const int32_t dx = static_cast<int32_t>(random() % 3) - 1,
                    dy = static_cast<int32_t>(random() % 3) - 1;
      const int32_t pen = 1 + static_cast<int32_t>(random() % 4);
      for (int step = 0; step < 20; ++step, x += dx, y += dy) {
        for (int32_t i = 0; i < pen; ++i) {
          for (int32_t j = 0; j < pen; ++j) {
            if (x + i >= 0 && x + i < w && y + j >= 0 && y + j < h) art[y + j][x + i] = '#';
          }
        }
      }
    }
    std::unique_ptr<TDIB> image = FromArt(art);
    image->Thin();
    const Art after = ToArt(*image);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        ASSERT_TRUE(after[y][x] == '.' || art[y][x] == '#') << round << ": " << x << "," << y;
        ASSERT_LE(image->GetPixel(x, y), 1);
      }
    }
  }
}

// Thinning composed of the public steps: the framed 1-bit copy, the mark passes and
// DeleteMarked to a fixed point, the copy back, then the clean-up table in raster order.
void ThinStepByStep(TDIB& image) {
  const int32_t black = image.BlackIndex(), white = image.WhiteIndex();
  const auto w = static_cast<int32_t>(image.Width()), h = static_cast<int32_t>(image.Height());
  TDIB work, marks;
  work.NewImage(w + 2, h + 2, kFormat1Bit, 0, 0);
  work.FillWhite();
  marks.NewImage(w + 2, h + 2, kFormat1Bit, 0, 0);
  marks.FillWhite();
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) work.SetPixel(x + 1, y + 1, image.GetPixel(x, y));
  }
  int64_t removed;
  do {
    work.MarkPass1(marks);
    removed = work.DeleteMarked(marks);
    work.MarkPass2(marks);
    removed += work.DeleteMarked(marks);
  } while (removed != 0);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) image.SetPixel(x, y, work.GetPixel(x + 1, y + 1));
  }
  const int32_t around[8][2] = {{0, -1}, {1, -1}, {1, 0},  {1, 1},
                                {0, 1},  {-1, 1}, {-1, 0}, {-1, -1}};
  for (int32_t y = 1; y < h - 1; ++y) {
    for (int32_t x = 1; x < w - 1; ++x) {
      if (image.GetPixel(x, y) != black) continue;
      uint8_t code = 0;
      for (int bit = 0; bit < 8; ++bit) {
        code |= (image.GetPixel(x + around[bit][0], y + around[bit][1]) == black) << bit;
      }
      const TCleanup action = CleanupAction(code);
      if (action != TCleanup::Keep) image.SetPixel(x, y, white);
      if (action == TCleanup::DeleteAndBeep) platform::Beep();
    }
  }
}

TEST(Thin, MatchesTheStepByStepThinningOnRandomImages) {
  std::mt19937 random(41);
  for (int round = 0; round < 400; ++round) {
    const uint8_t format = round % 4 == 0 ? kFormat8Bit : kFormat1Bit;
    const int32_t w = 1 + static_cast<int32_t>(random() % 24),
                  h = 1 + static_cast<int32_t>(random() % 24);
    const int density = 30 + static_cast<int>(random() % 60);
    TDIB image;
    image.NewImage(w, h, format, 0, 0);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        const bool paper = static_cast<int>(random() % 100) >= density;
        image.SetPixel(x, y, paper ? 1 + static_cast<int32_t>(random() % 2) : 0);
      }
    }
    if (round % 5 == 1) {  // a (white, black) table: the raw values decide, not the colours
      image.SetPaletteEntry(0, 0xFFFFFF);
      image.SetPaletteEntry(1, 0);
    }
    std::unique_ptr<TDIB> expected = image.Duplicate();
    const unsigned long long beeps_before = platform::BeepCount();
    ThinStepByStep(*expected);
    const unsigned long long expected_beeps = platform::BeepCount() - beeps_before;
    image.Thin();
    ASSERT_EQ(platform::BeepCount() - beeps_before - expected_beeps, expected_beeps) << round;
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        ASSERT_EQ(image.GetPixel(x, y), expected->GetPixel(x, y)) << round << ": " << x << "," << y;
      }
    }
  }
}

TEST(Thin, NeighbourhoodHelpers) {
  std::unique_ptr<TDIB> image = FromArt({
      "#.#",
      ".##",
      "#..",
  });
  uint8_t p[10] = {};
  GetNeighbours(1, 1, *image, p);
  const uint8_t expected[10] = {0, 1, 0, 1, 1, 0, 0, 1, 0, 1};  // P1 .. P9
  for (int k = 1; k <= 9; ++k) EXPECT_EQ(p[k], expected[k]) << "P" << k;
  EXPECT_EQ(CountNeighbours(p), 4);   // NE, E, SW, NW
  EXPECT_EQ(CountTransitions(p), 3);  // N->NE, SE/S->SW... W->NW: three 0 -> 1 steps
  EXPECT_THROW(GetNeighbours(0, 1, *image, p), Error);
  EXPECT_THROW(GetNeighbours(1, 2, *image, p), Error);

  const uint8_t ring[10] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(CountNeighbours(ring), 8);
  EXPECT_EQ(CountTransitions(ring), 0);
  const uint8_t wrap[10] = {0, 1, 1, 0, 0, 0, 0, 0, 0, 0};  // only P2: 0 -> 1 from P9
  EXPECT_EQ(CountTransitions(wrap), 1);
}

TEST(Thin, MarkPassesReadTheImageAsItWasAndDeleteMarkedCounts) {
  std::unique_ptr<TDIB> image = FromArt({".....", ".###.", ".###.", ".###.", "....."});
  TDIB marks;
  marks.NewImage(5, 5, kFormat1Bit, 0, 0);
  marks.FillWhite();
  EXPECT_EQ(image->MarkPass1(marks), 1);
  // The first sub-pass takes the east and south edges and the north-west corner.
  EXPECT_EQ(ToArt(marks, 1), (Art{"#####", "##.##", "#..##", "#####", "#####"}));
  EXPECT_EQ(image->DeleteMarked(marks), 6);
  EXPECT_EQ(image->DeleteMarked(marks), 0);  // already white
  EXPECT_EQ(image->MarkPass2(marks), 1);
  TDIB small;
  small.NewImage(2, 2, kFormat1Bit, 0, 0);
  EXPECT_THROW(image->MarkPass1(small), Error);
}

TEST(Dilate, StampsASquareAroundEveryInkPixel) {
  EXPECT_EQ(Dilated({".....", ".....", "..#..", ".....", "....."}, 1),
            (Art{".....", ".###.", ".###.", ".###.", "....."}));
  EXPECT_EQ(Dilated({"#...", "....", "...."}, 1), (Art{"##..", "##..", "...."}));
  const Art art = {"#..#.", ".....", "..#.."};
  EXPECT_EQ(Dilated(art, 0), art);
  EXPECT_EQ(Dilated(art, -1), (Art{".....", ".....", "....."}));

  // Against the definition: ink where some ink pixel lies within Radius on both axes.
  std::mt19937 random(31);
  for (int round = 0; round < 40; ++round) {
    const int32_t w = 1 + static_cast<int32_t>(random() % 20),
                  h = 1 + static_cast<int32_t>(random() % 20);
    const int32_t radius = static_cast<int32_t>(random() % 4);
    Art source(h, std::string(w, '.'));
    for (auto& row : source) {
      for (char& c : row) c = random() % 9 == 0 ? '#' : '.';
    }
    Art expected(h, std::string(w, '.'));
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        for (int32_t j = std::max(0, y - radius); j <= std::min(h - 1, y + radius); ++j) {
          for (int32_t i = std::max(0, x - radius); i <= std::min(w - 1, x + radius); ++i) {
            if (source[j][i] == '#') expected[y][x] = '#';
          }
        }
      }
    }
    ASSERT_EQ(Dilated(source, radius), expected) << round;
  }
}

}  // namespace
}  // namespace ocrb

namespace ocrb {
namespace {

// Random glyph-sized images with strokes a few pixels wide, as the classifier thins them.
std::unique_ptr<TDIB> RandomGlyph(std::mt19937& random, uint8_t format) {
  const int32_t w = 3 + static_cast<int32_t>(random() % 48),
                h = 3 + static_cast<int32_t>(random() % 60);
  auto image = std::make_unique<TDIB>();
  image->NewImage(w, h, format, 0, 0);
  image->FillWhite();
  for (int stroke = 0, n = 1 + static_cast<int>(random() % 5); stroke < n; ++stroke) {
    const int32_t x0 = static_cast<int32_t>(random() % w), y0 = static_cast<int32_t>(random() % h);
    const int32_t x1 = static_cast<int32_t>(random() % w), y1 = static_cast<int32_t>(random() % h);
    const int32_t thick = 1 + static_cast<int32_t>(random() % 6);
    for (int t = 0; t <= 64; ++t) {
      const int32_t cx = x0 + (x1 - x0) * t / 64, cy = y0 + (y1 - y0) * t / 64;
      for (int32_t y = std::max(0, cy - thick / 2); y <= std::min(h - 1, cy + thick / 2); ++y)
        for (int32_t x = std::max(0, cx - thick / 2); x <= std::min(w - 1, cx + thick / 2); ++x)
          image->SetPixel(x, y, 0);
    }
  }
  for (int speck = static_cast<int>(random() % 12); speck > 0; --speck)
    image->SetPixel(static_cast<int32_t>(random() % w), static_cast<int32_t>(random() % h),
                    static_cast<int32_t>(random() % 2));
  return image;
}

void ExpectSamePixels(const TDIB& a, const TDIB& b, int round) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (int32_t y = 0; y < static_cast<int32_t>(a.Height()); ++y)
    for (int32_t x = 0; x < static_cast<int32_t>(a.Width()); ++x)
      ASSERT_EQ(a.GetPixel(x, y), b.GetPixel(x, y)) << round << ": " << x << "," << y;
}

TEST(Thin, MatchesTheStepByStepThinningOnRandomGlyphs) {
  std::mt19937 random(7);
  for (int round = 0; round < 1500; ++round) {
    std::unique_ptr<TDIB> image = RandomGlyph(random, kFormat1Bit);
    std::unique_ptr<TDIB> expected = image->Duplicate();
    const unsigned long long before = platform::BeepCount();
    ThinStepByStep(*expected);
    const unsigned long long expected_beeps = platform::BeepCount() - before;
    image->Thin();
    ASSERT_EQ(platform::BeepCount() - before - expected_beeps, expected_beeps) << round;
    ExpectSamePixels(*image, *expected, round);
  }
}

// Dilation as the rule states it: stamp a square of the image's black into a white copy with a
// margin, then take the copy's middle back.
void DilateStepByStep(TDIB& image, int32_t radius) {
  const int32_t w = static_cast<int32_t>(image.Width()), h = static_cast<int32_t>(image.Height());
  const int32_t black = image.BlackIndex();
  TDIB work;
  work.NewImage(w + 2 * std::max(radius, 0), h + 2 * std::max(radius, 0), kFormat1Bit, 0, 0);
  work.FillWhite();
  for (int32_t x = 0; x < w; ++x)
    for (int32_t y = 0; y < h; ++y)
      if (image.GetPixel(x, y) == black)
        for (int32_t i = 0; i <= 2 * radius; ++i)
          for (int32_t j = 0; j <= 2 * radius; ++j) work.SetPixel(x + i, y + j, black);
  const int32_t r = std::max(radius, 0);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) image.SetPixel(x, y, work.GetPixel(r + x, r + y));
}

TEST(Dilate, MatchesTheStepByStepDilationOnRandomGlyphs) {
  std::mt19937 random(8);
  for (int round = 0; round < 1500; ++round) {
    std::unique_ptr<TDIB> image = RandomGlyph(random, kFormat1Bit);
    if (round % 7 == 3) {  // a (white, black) table
      image->SetPaletteEntry(0, 0xFFFFFF);
      image->SetPaletteEntry(1, 0);
    }
    const int32_t radius = static_cast<int32_t>(random() % 4) - (round % 11 == 5 ? 2 : 0);
    std::unique_ptr<TDIB> expected = image->Duplicate();
    DilateStepByStep(*expected, radius);
    image->Dilate(radius);
    ExpectSamePixels(*image, *expected, round);
  }
}

}  // namespace
}  // namespace ocrb
