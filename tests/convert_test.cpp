// Duplicate, CalcImageSize, SetSize, Resize and CopyRect. Nearest-neighbour resizing is
// checked against the in-place pixel loops it replaces on many random images.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "dib_test_util.h"
#include "image/blobs.h"
#include "image/dib.h"
#include "platform/error.h"

namespace ocrb {
namespace {

using testing_util::BlockOf;
using testing_util::Box;
using testing_util::BuildDib;
using testing_util::BytesOf;
using testing_util::DibFields;
using testing_util::FromArt;
using testing_util::Get32;
using testing_util::ToArt;

int32_t RoundHalfEven(long double x) {
  return static_cast<int32_t>(std::nearbyint(x));
}

// An image of Format with random pixel bytes, padding included.
std::unique_ptr<TDIB> RandomImage(int32_t width, int32_t height, uint8_t format,
                                  std::mt19937& random) {
  auto image = std::make_unique<TDIB>();
  image->NewImage(width, height, format, 200, 100);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image->ScanLine(y);
    for (int32_t i = 0; i < image->Stride(); ++i) row[i] = static_cast<uint8_t>(random());
  }
  return image;
}

std::vector<uint8_t> PixelBytes(const TDIB& image) {
  return std::vector<uint8_t>(image.Bits(),
                              image.Bits() + static_cast<size_t>(image.Stride()) * image.Height());
}

TEST(Duplicate, CopiesHeaderTableAndPixelsByteForByte) {
  DibFields f;
  f.width = 21;
  f.height = 7;
  f.x_ppm = 11810;  // not a whole number of dpi: the copy keeps the exact value
  f.clr_used = 0;
  f.palette = {0xFFFFFF, 0x000000};  // white first
  std::vector<uint8_t> bytes = BuildDib(f);
  for (size_t i = 48; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37);
  platform::GlobalBlock block = BlockOf(bytes);
  TDIB wrapper;
  wrapper.SetOwnsHandle(false);
  wrapper.LoadFromHandle(block.Get());
  std::unique_ptr<TDIB> copy = wrapper.Duplicate();
  EXPECT_NE(copy->Handle(), block.Get());
  EXPECT_TRUE(copy->OwnsHandle());
  EXPECT_EQ(copy->LockCount(), 1);
  EXPECT_EQ(std::vector<uint8_t>(copy->Header(), copy->Header() + copy->Size()), bytes);
  EXPECT_EQ(copy->BlackIndex(), 1);
  copy->SetPixel(0, 0, 0);
  copy->SetTrailingBits();
  EXPECT_EQ(BytesOf(block.Get()), bytes);  // the caller's bitmap is untouched
}

TEST(Duplicate, CutsALongerInfoHeaderToFortyBytes) {
  DibFields f;
  f.bits = 4;
  f.info_size = 124;
  f.width = 9;
  f.height = 3;
  f.palette.assign(16, 0);
  f.palette[5] = 0x123456;
  std::vector<uint8_t> bytes = BuildDib(f);
  bytes.back() = 0x5F;  // row 0, pixels 16.. are padding; pixel 8 is in the high nibble
  bytes[bytes.size() - 8] = 0x5A;
  platform::GlobalBlock block = BlockOf(bytes);
  TDIB wrapper;
  wrapper.SetOwnsHandle(false);
  wrapper.LoadFromHandle(block.Get());
  std::unique_ptr<TDIB> copy = wrapper.Duplicate();
  EXPECT_EQ(Get32(copy->Header()), 40u);
  EXPECT_EQ(copy->Palette() - copy->Header(), 40);
  EXPECT_EQ(copy->PaletteEntry(5), 0x123456u);
  EXPECT_EQ(PixelBytes(*copy), PixelBytes(wrapper));
  EXPECT_EQ(copy->GetPixel(0, 0), 5);
  EXPECT_EQ(copy->GetPixel(1, 0), 10);
}

TEST(Duplicate, FifteenBitRowsThatDifferFromSixteenBitRowsAreRefused) {
  for (int32_t width : {16, 17}) {
    DibFields f;
    f.bits = 15;
    f.width = width;
    std::vector<uint8_t> bytes = BuildDib(f);
    bytes.resize(bytes.size() + 4);  // room for the 16-bit reads of the top row
    platform::GlobalBlock block = BlockOf(bytes);
    TDIB image;
    image.LoadFromHandle(block.Release());
    if (width == 16) {
      EXPECT_EQ(image.Duplicate()->BitCount(), 15);
    } else {
      try {
        image.Duplicate();
        ADD_FAILURE() << "duplicated";
      } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "DIB Duplicate error !");
      }
    }
  }
}

TEST(CalcImageSize, GivesTheLayoutNewImageMakes) {
  const struct {
    uint8_t format;
    uint32_t stride, row_bytes, size;
  } cases[] = {{1, 8, 5, 48 + 80},      {2, 20, 17, 104 + 200},   {3, 36, 33, 1064 + 360},
               {4, 68, 66, 40 + 680},   {0x85, 68, 66, 40 + 680}, {6, 100, 99, 40 + 1000},
               {7, 132, 132, 40 + 1320}};
  for (const auto& c : cases) {
    uint32_t stride = 0, row_bytes = 0, size = 0;
    ASSERT_TRUE(TDIB::CalcImageSize(33, 10, c.format, stride, row_bytes, size));
    EXPECT_EQ(stride, c.stride);
    EXPECT_EQ(row_bytes, c.row_bytes);
    EXPECT_EQ(size, c.size);
    if (c.format < 8) {
      TDIB image;
      image.NewImage(33, 10, c.format, 0, 0);
      EXPECT_EQ(static_cast<uint32_t>(image.Size()), size);
    }
  }
  uint32_t stride = 7, row_bytes = 7, size = 7;
  EXPECT_FALSE(TDIB::CalcImageSize(33, 10, 0, stride, row_bytes, size));
  EXPECT_FALSE(TDIB::CalcImageSize(33, 10, 8, stride, row_bytes, size));
  EXPECT_EQ(stride + row_bytes + size, 21u);
}

TEST(SetSize, TallerKeepsThePictureOnTopAndFillsTheNewRows) {
  std::mt19937 random(1);
  std::unique_ptr<TDIB> image = RandomImage(10, 10, kFormat1Bit, random);
  const std::vector<std::string> before = ToArt(*image);
  image->SetSize(10, 12, 0);
  EXPECT_EQ(image->Height(), 12u);
  EXPECT_EQ(image->LockCount(), 1);
  EXPECT_EQ(Get32(image->Header() + 20), 48u);  // biSizeImage
  std::vector<std::string> after = ToArt(*image);
  EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + 10), before);
  for (int32_t y : {10, 11}) {
    for (int i = 0; i < 4; ++i) EXPECT_EQ(image->ScanLine(y)[i], 0);
  }
}

TEST(SetSize, NarrowerKeepsTheLeftColumns) {
  std::mt19937 random(2);
  std::unique_ptr<TDIB> image = RandomImage(40, 6, kFormat1Bit, random);
  const std::vector<std::string> before = ToArt(*image);
  EXPECT_EQ(image->Stride(), 8);
  image->SetSize(8, 6, 0);
  EXPECT_EQ(image->Stride(), 4);
  const std::vector<std::string> after = ToArt(*image);
  for (int y = 0; y < 6; ++y) EXPECT_EQ(after[y], before[y].substr(0, 8));
}

// Against a description of the result: the common part is kept, what is new is Fill.
TEST(SetSize, AnyNewSizeKeepsTheCommonPartAndFillsTheRest) {
  std::mt19937 random(3);
  for (int round = 0; round < 300; ++round) {
    const uint8_t format = static_cast<uint8_t>(1 + random() % 7);
    const int32_t w = 1 + static_cast<int32_t>(random() % 50),
                  h = 1 + static_cast<int32_t>(random() % 9);
    const int32_t nw = 1 + static_cast<int32_t>(random() % 50),
                  nh = 1 + static_cast<int32_t>(random() % 9);
    const auto fill = static_cast<uint8_t>(random());
    std::unique_ptr<TDIB> image = RandomImage(w, h, format, random);
    std::unique_ptr<TDIB> original = image->Duplicate();
    image->SetSize(nw, nh, fill);
    ASSERT_EQ(image->Width(), static_cast<uint32_t>(nw));
    ASSERT_EQ(image->Height(), static_cast<uint32_t>(nh));
    for (int32_t y = 0; y < std::min(h, nh); ++y) {
      for (int32_t x = 0; x < std::min(w, nw); ++x) {
        ASSERT_EQ(image->GetPixel(x, y), original->GetPixel(x, y)) << round;
      }
      for (int32_t i = original->Stride(); i < image->Stride(); ++i) {
        ASSERT_EQ(image->ScanLine(y)[i], fill) << round;
      }
    }
    for (int32_t y = h; y < nh; ++y) {
      for (int32_t i = 0; i < image->Stride(); ++i) ASSERT_EQ(image->ScanLine(y)[i], fill);
    }
  }
}

// The in-place loops pixel by pixel: shrink before SetSize left to right and top to bottom,
// enlarge after it right to left and bottom to top; sources never past the old picture.
void InPlaceResize(TDIB& image, int32_t nw, int32_t nh) {
  const auto ow = static_cast<int32_t>(image.Width()), oh = static_cast<int32_t>(image.Height());
  const double h = static_cast<double>(static_cast<long double>(ow) / nw);
  const double g = static_cast<double>(static_cast<long double>(oh) / nh);
  auto copy_row = [&](int32_t y) {
    const int32_t from = std::min(RoundHalfEven(y * static_cast<long double>(g)), oh - 1);
    std::memmove(image.ScanLine(y), image.ScanLine(from), static_cast<size_t>(image.Stride()));
  };
  if (nw < ow) {
    for (int32_t y = 0; y < oh; ++y) {
      for (int32_t x = 0; x < nw; ++x) {
        image.SetPixel(x, y, image.GetPixel(RoundHalfEven(x * static_cast<long double>(h)), y));
      }
    }
  }
  if (nh < oh) {
    for (int32_t y = 0; y < nh; ++y) copy_row(y);
  }
  image.SetSize(nw, nh, 0);
  if (nw > ow) {
    for (int32_t y = 0; y < nh; ++y) {
      for (int32_t x = nw - 1; x >= 0; --x) {
        const int32_t from = std::min(RoundHalfEven(x * static_cast<long double>(h)), ow - 1);
        image.SetPixel(x, y, image.GetPixel(from, y));
      }
    }
  }
  if (nh > oh) {
    for (int32_t y = nh - 1; y >= 0; --y) copy_row(y);
  }
}

TEST(Resize, NearestNeighbourMatchesThePixelByPixelLoops) {
  std::mt19937 random(4);
  for (int round = 0; round < 400; ++round) {
    const uint8_t format = static_cast<uint8_t>(1 + random() % 7);
    const int32_t w = 1 + static_cast<int32_t>(random() % 70),
                  h = 1 + static_cast<int32_t>(random() % 12);
    const int32_t nw = 1 + static_cast<int32_t>(random() % 70),
                  nh = 1 + static_cast<int32_t>(random() % 12);
    std::unique_ptr<TDIB> image = RandomImage(w, h, format, random);
    if (round % 2 == 0) image->SetTrailingBits();
    std::unique_ptr<TDIB> expected = image->Duplicate();
    image->Resize(nw, nh, false);
    InPlaceResize(*expected, nw, nh);
    ASSERT_EQ(PixelBytes(*image), PixelBytes(*expected))
        << round << ": format " << int{format} << ", " << w << "x" << h << " -> " << nw << "x"
        << nh;
  }
}

TEST(Resize, ToTheSameSizeChangesNothing) {
  std::mt19937 random(5);
  std::unique_ptr<TDIB> image = RandomImage(30, 5, kFormat8Bit, random);
  const std::vector<uint8_t> before = PixelBytes(*image);
  const uint8_t* bits = image->Bits();
  image->Resize(30, 5, false);
  image->Resize(30, 5, true);
  EXPECT_EQ(image->Bits(), bits);
  EXPECT_EQ(PixelBytes(*image), before);
}

TEST(Resize, WiderTakesTheRoundedSourceColumnHalvesToEven) {
  TDIB image;
  image.NewImage(100, 50, kFormat8Bit, 200, 200);
  for (int32_t x = 0; x < 100; ++x) image.SetPixel(x, 7, x);
  image.Resize(150, 50, false);
  const int32_t expected[] = {0, 1, 1, 2, 3, 3, 4};  // round(X * 100 / 150)
  for (int32_t x = 0; x < 7; ++x) EXPECT_EQ(image.GetPixel(x, 7), expected[x]) << x;
  EXPECT_EQ(image.GetPixel(149, 7), 99);

  TDIB doubled;
  doubled.NewImage(4, 1, kFormat8Bit, 200, 200);
  for (int32_t x = 0; x < 4; ++x) doubled.SetPixel(x, 0, 10 + x);
  doubled.Resize(8, 1, false);  // ratio 0.5: X = 1 takes 0 (0.5), X = 3 takes 2 (1.5)
  EXPECT_EQ(doubled.GetPixel(1, 0), 10);
  EXPECT_EQ(doubled.GetPixel(3, 0), 12);
  EXPECT_EQ(doubled.GetPixel(5, 0), 12);
}

// A 200 x 100 dpi page doubled in height: row Y takes row round(Y / 2). For an even old
// height the last row would round to row 4, past the old picture, which holds SetSize's fill
// (byte 0, black in a black-and-white table); it takes the last old row instead.
TEST(Resize, TallerTakesTheRoundedSourceRowInsideTheOldPicture) {
  TDIB image;
  image.NewImage(8, 4, kFormat8Bit, 200, 100);
  for (int32_t y = 0; y < 4; ++y) image.SetPixel(0, y, 10 + y);
  image.Resize(8, 8, false);
  const int32_t expected[] = {10, 10, 11, 12, 12, 12, 13, 13};
  for (int32_t y = 0; y < 8; ++y) EXPECT_EQ(image.GetPixel(0, y), expected[y]) << y;
}

TEST(Resize, SmoothAveragesTheBoxOfSourcePixels) {
  TDIB image;
  image.NewImage(4, 2, kFormat8Bit, 0, 0);
  const int32_t values[2][4] = {{10, 20, 30, 41}, {0, 0, 100, 100}};
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 4; ++x) image.SetPixel(x, y, values[y][x]);
  }
  image.Resize(2, 1, true);             // boxes of 2 x 2
  EXPECT_EQ(image.GetPixel(0, 0), 8);   // 30 / 4 = 7.5, to even
  EXPECT_EQ(image.GetPixel(1, 0), 68);  // 271 / 4 = 67.75

  TDIB rgb;
  rgb.NewImage(2, 1, kFormat24Bit, 0, 0);
  rgb.SetPixel(0, 0, 0x0A0B0C);
  rgb.SetPixel(1, 0, 0x141516);
  rgb.Resize(1, 1, true);
  EXPECT_EQ(rgb.GetPixel(0, 0), 0x0F1011);  // each byte averaged: 15, 16, 17

  TDIB grown;  // enlarging: boxes reach half a source pixel further, cut at the border
  grown.NewImage(2, 1, kFormat8Bit, 0, 0);
  grown.SetPixel(0, 0, 10);
  grown.SetPixel(1, 0, 20);
  grown.Resize(4, 1, true);
  const int32_t expected[] = {15, 15, 20, 20};
  for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(grown.GetPixel(x, 0), expected[x]) << x;
}

TEST(CopyRect, CutsTheRectangleWithFormatResolutionAndTable) {
  std::mt19937 random(6);
  std::unique_ptr<TDIB> image = RandomImage(20, 12, kFormat1Bit, random);
  image->SetPaletteEntry(0, 0xFFFFFF);
  image->SetPaletteEntry(1, 0x000000);
  std::unique_ptr<TDIB> cut = image->CopyRect(TRect{5, 5, 14, 9}, false);
  EXPECT_EQ(cut->Width(), 10u);
  EXPECT_EQ(cut->Height(), 5u);
  EXPECT_EQ(cut->XResolution(), 200);
  EXPECT_EQ(cut->YResolution(), 100);
  EXPECT_EQ(cut->BlackIndex(), 1);
  for (int32_t y = 0; y < 5; ++y) {
    for (int32_t x = 0; x < 10; ++x) ASSERT_EQ(cut->GetPixel(x, y), image->GetPixel(5 + x, 5 + y));
  }
}

// A 1-bit cut is made a byte at a time: every rectangle of random images of many widths must
// give the pixels one at a time would give, and leave the bits past its last pixel 0 (the
// first block of the cut is compared whole with one made pixel by pixel).
TEST(CopyRect, OneBitCutsMatchPixelByPixelCopies) {
  std::mt19937 random(8);
  for (int trial = 0; trial < 400; ++trial) {
    const int32_t w = 1 + static_cast<int32_t>(random() % 80);
    const int32_t h = 1 + static_cast<int32_t>(random() % 12);
    std::unique_ptr<TDIB> image = RandomImage(w, h, kFormat1Bit, random);
    const int32_t l = static_cast<int32_t>(random() % w), t = static_cast<int32_t>(random() % h);
    const int32_t r = l + static_cast<int32_t>(random() % (w - l));
    const int32_t b = t + static_cast<int32_t>(random() % (h - t));
    std::unique_ptr<TDIB> cut = image->CopyRect(TRect{l, t, r, b}, false);
    TDIB expected;
    expected.NewImage(r - l + 1, b - t + 1, kFormat1Bit, image->XResolution(),
                      image->YResolution());
    for (int32_t y = 0; y <= b - t; ++y)
      for (int32_t x = 0; x <= r - l; ++x) expected.SetPixel(x, y, image->GetPixel(l + x, t + y));
    EXPECT_EQ(BytesOf(cut->Handle()), BytesOf(expected.Handle()))
        << w << " x " << h << " cut at " << l << "," << t;
  }
}

TEST(CopyRect, OutsideTheImageIsWhiteOrClamped) {
  std::mt19937 random(7);
  std::unique_ptr<TDIB> image = RandomImage(8, 6, kFormat8Bit, random);
  std::unique_ptr<TDIB> outside = image->CopyRect(TRect{-2, 0, 3, 3}, true);
  ASSERT_EQ(outside->Width(), 6u);
  ASSERT_EQ(outside->Height(), 4u);
  for (int32_t y = 0; y < 4; ++y) {
    EXPECT_EQ(outside->GetPixel(0, y), 255);
    EXPECT_EQ(outside->GetPixel(1, y), 255);
    for (int32_t x = 2; x < 6; ++x) EXPECT_EQ(outside->GetPixel(x, y), image->GetPixel(x - 2, y));
  }
  std::unique_ptr<TDIB> clamped = image->CopyRect(TRect{-2, 0, 3, 3}, false);
  ASSERT_EQ(clamped->Width(), 4u);
  EXPECT_EQ(clamped->GetPixel(0, 0), image->GetPixel(0, 0));
  std::unique_ptr<TDIB> beyond = image->CopyRect(TRect{6, 4, 12, 9}, true);
  EXPECT_EQ(beyond->GetPixel(0, 0), image->GetPixel(6, 4));
  EXPECT_EQ(beyond->GetPixel(2, 0), 255);
  EXPECT_THROW(image->CopyRect(TRect{9, 0, 12, 3}, false), Error);  // nothing inside
  EXPECT_THROW(image->CopyRect(TRect{5, 0, 2, 3}, false), Error);   // Left > Right
}

// The steps of a read: wrap the caller's bitmap, work on a duplicate brought to square
// pixels, label its components. The caller's block comes back as it went in. The doubled
// height is even, so its last row is SetSize's fill: black under a (black, white) table.
TEST(Conversion, AReadsStepsLeaveTheCallersBitmapUntouched) {
  std::unique_ptr<TDIB> drawn = FromArt({
      "..........",
      ".##....#..",
      ".##....#..",
      ".......#..",
      "..........",
      "..........",
  });
  DibFields f;
  f.width = 10;
  f.height = 6;
  f.x_ppm = 7874;  // 200 x 100 dpi: every other row was dropped
  f.y_ppm = 3937;
  f.palette = {0x000000, 0xFFFFFF};
  std::vector<uint8_t> bytes = BuildDib(f);
  std::copy(drawn->Bits(), drawn->Bits() + 6 * drawn->Stride(), bytes.begin() + 48);
  platform::GlobalBlock block = BlockOf(bytes);

  auto wrapper = std::make_unique<TDIB>();
  wrapper->SetOwnsHandle(false);
  wrapper->LoadFromHandle(block.Get());
  std::unique_ptr<TDIB> work = wrapper->Duplicate();
  wrapper.reset();
  EXPECT_EQ(work->SetTrailingBits(), 22);
  ASSERT_EQ(work->BitCount(), 1);
  work->Resize(10, 12, false);
  work->SetYResolution(200);
  TBlobList blobs;
  work->FindBlobs(true, 1, 1, 4, &blobs);
  // No line of fill along the bottom: the two marks and nothing else.
  ASSERT_EQ(blobs.Count(), 2);
  EXPECT_EQ(Box(blobs.Items(0).Bounds), Box({1, 2, 2, 5}));
  EXPECT_EQ(Box(blobs.Items(1).Bounds), Box({7, 2, 7, 6}));
  EXPECT_EQ(BytesOf(block.Get()), bytes);
  EXPECT_EQ(platform::GlobalReAlloc(block.Get(), bytes.size(), 0), block.Get());  // unlocked
}

}  // namespace
}  // namespace ocrb

namespace ocrb {
namespace {

// The glyph copy against SetGray of GetGray, pixel by pixel, with source tables of every kind
// (black and white either way round, greys either side of the middle, one colour twice) and
// 1-bit and 8-bit images; the alignment bits of the copy must keep what they held.
TEST(CopyGrayFrom, MatchesSetGrayOfGetGrayPixelByPixel) {
  std::mt19937 random(12);
  const uint32_t entries[] = {0x000000, 0xFFFFFF, 0x7F7F7F, 0x808080, 0x7E0000, 0x81FFFF, 0x123456};
  for (int round = 0; round < 2000; ++round) {
    const uint8_t source_format = round % 9 == 4 ? kFormat8Bit : kFormat1Bit;
    const int32_t sw = 1 + static_cast<int32_t>(random() % 70),
                  sh = 1 + static_cast<int32_t>(random() % 30);
    std::unique_ptr<TDIB> source = RandomImage(sw, sh, source_format, random);
    if (source_format == kFormat1Bit) {
      source->SetPaletteEntry(0, entries[random() % 7]);
      source->SetPaletteEntry(1, entries[random() % 7]);
    }
    const int32_t w = 1 + static_cast<int32_t>(random() % sw),
                  h = 1 + static_cast<int32_t>(random() % sh);
    const int32_t left = static_cast<int32_t>(random() % (sw - w + 1)),
                  top = static_cast<int32_t>(random() % (sh - h + 1));
    TDIB fast, plain;
    for (TDIB* copy : {&fast, &plain}) {
      copy->NewImage(w, h, kFormat1Bit, 0, 0);
      if (round % 3 == 0) copy->FillWhite();  // padding bits set: they must stay set
      if (round % 5 == 2) {                   // a copy whose own table is (white, black)
        copy->SetPaletteEntry(0, 0xFFFFFF);
        copy->SetPaletteEntry(1, 0);
      }
    }
    fast.CopyGrayFrom(*source, left, top);
    for (int32_t x = 0; x < w; ++x)
      for (int32_t y = 0; y < h; ++y) plain.SetGray(x, y, source->GetGray(left + x, top + y));
    ASSERT_EQ(PixelBytes(fast), PixelBytes(plain)) << round;
  }
  TDIB small;
  small.NewImage(4, 4, kFormat1Bit, 0, 0);
  TDIB copy;
  copy.NewImage(3, 3, kFormat1Bit, 0, 0);
  EXPECT_THROW(copy.CopyGrayFrom(small, 2, 0), Error);
  EXPECT_THROW(copy.CopyGrayFrom(small, -1, 0), Error);
}

}  // namespace
}  // namespace ocrb
