// Pages the reader turns before the engine reads them: quarter turns and levelling checked
// pixel by pixel, the skew finder on rendered pages turned by known angles, and whole reads of
// turned coding lines and slips through the reader, with their boxes back in the page's pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "reader/decoder.h"
#include "reader/reader.h"
#include "reader/turn.h"
#include "tools/train/render.h"

namespace ocrb::reader {
namespace {

using train::Font;
using train::GreyImage;
using train::InkImage;
using train::TextStyle;

// A packed 1-bit DIB of Ink (1 = ink) with the table (black, white), rows bottom up.
std::vector<uint8_t> DibOf(const InkImage& ink, int dpi) {
  const size_t stride = (static_cast<size_t>(ink.Width) + 31) / 32 * 4;
  std::vector<uint8_t> dib(48 + stride * static_cast<size_t>(ink.Height), 0);
  Put32(&dib[0], 40);
  Put32(&dib[4], static_cast<uint32_t>(ink.Width));
  Put32(&dib[8], static_cast<uint32_t>(ink.Height));
  dib[12] = 1;
  dib[14] = 1;
  Put32(&dib[24], static_cast<uint32_t>(DpiToPelsPerMeter(dpi)));
  Put32(&dib[28], static_cast<uint32_t>(DpiToPelsPerMeter(dpi)));
  Put32(&dib[44], 0x00FFFFFF);  // entry 0 black, entry 1 white: paper is a set bit
  for (int y = 0; y < ink.Height; ++y) {
    uint8_t* row = &dib[48 + stride * static_cast<size_t>(ink.Height - 1 - y)];
    for (int x = 0; x < ink.Width; ++x) {
      if (!ink.At(x, y)) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
  return dib;
}

// A packed DIB of a 40-byte header and two colours as a BMP file.
std::vector<uint8_t> FileOf(const std::vector<uint8_t>& dib) {
  std::vector<uint8_t> file(14 + dib.size(), 0);
  file[0] = 'B';
  file[1] = 'M';
  Put32(&file[2], static_cast<uint32_t>(file.size()));
  Put32(&file[10], 14 + 48);
  std::memcpy(&file[14], dib.data(), dib.size());
  return file;
}

std::vector<uint8_t> BmpOf(const InkImage& ink, int dpi) {
  return FileOf(DibOf(ink, dpi));
}

// Whether pixel (X, Y) of a packed 1-bit DIB made by TurnDib or DibOf is ink.
bool InkAt(const std::vector<uint8_t>& dib, int x, int y) {
  const int width = static_cast<int>(Get32(&dib[4])), height = static_cast<int>(Get32(&dib[8]));
  const size_t stride = (static_cast<size_t>(width) + 31) / 32 * 4;
  const bool set =
      (dib[48 + stride * static_cast<size_t>(height - 1 - y) + x / 8] >> (7 - x % 8)) & 1;
  const bool set_is_ink = Get32(&dib[40]) == 0x00FFFFFF;  // TurnDib's (white, black)
  return set == set_is_ink;
}

InkImage RandomInk(int width, int height, std::mt19937& random) {
  InkImage ink;
  ink.Width = width;
  ink.Height = height;
  ink.Pixels.resize(static_cast<size_t>(width) * height);
  for (uint8_t& p : ink.Pixels) p = random() % 3 == 0;
  return ink;
}

TEST(TurnDib, QuarterTurnsMoveEveryPixelWhereItBelongs) {
  std::mt19937 random(3);
  for (const auto& [w, h] : {std::pair{37, 11}, std::pair{8, 40}, std::pair{65, 64}}) {
    const InkImage ink = RandomInk(w, h, random);
    const std::vector<uint8_t> dib = DibOf(ink, 300);
    for (int q = 0; q < 4; ++q) {
      const std::vector<uint8_t> turned = TurnDib(dib.data(), dib.size(), TurnPlan{q, 0});
      const TurnGeometry geometry(w, h, TurnPlan{q, 0});
      ASSERT_EQ(static_cast<int>(Get32(&turned[4])), q % 2 ? h : w);
      ASSERT_EQ(static_cast<int>(Get32(&turned[8])), q % 2 ? w : h);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          // A quarter clockwise takes (x, y) to (h - 1 - y, x).
          int tx = x, ty = y;
          for (int k = 0; k < q; ++k) {
            const int th = k % 2 == 0 ? h : w;
            const int nx = th - 1 - ty, ny = tx;
            tx = nx;
            ty = ny;
          }
          ASSERT_EQ(InkAt(turned, tx, ty), ink.At(x, y) != 0) << q << ": " << x << "," << y;
          // The box of one turned pixel maps back onto the pixel.
          const TRect back = geometry.BoxToPage(TRect{tx, ty, tx, ty});
          EXPECT_EQ(back.Left, x);
          EXPECT_EQ(back.Top, y);
          EXPECT_EQ(back.Right, x);
          EXPECT_EQ(back.Bottom, y);
        }
      }
    }
  }
}

// Levelling moves each column by whole rows: every turned column holds the page's column,
// shifted, with nothing resampled, and boxes map back within a pixel.
TEST(TurnDib, LevellingShearsColumnsByWholeRows) {
  std::mt19937 random(4);
  const InkImage ink = RandomInk(300, 40, random);
  const std::vector<uint8_t> dib = DibOf(ink, 300);
  for (const double degrees : {-3.0, -0.7, 2.0, 5.0}) {
    const TurnPlan plan{0, degrees};
    const std::vector<uint8_t> turned = TurnDib(dib.data(), dib.size(), plan);
    const TurnGeometry geometry(300, 40, plan);
    ASSERT_EQ(static_cast<int>(Get32(&turned[4])), 300);
    ASSERT_GE(geometry.TurnedHeight(),
              40 + static_cast<int>(std::tan(std::fabs(degrees) * std::numbers::pi / 180) * 300));
    for (int x = 0; x < 300; ++x) {
      const int down = geometry.Margin() + geometry.Shift(x);
      for (int y = 0; y < 40; ++y)
        ASSERT_EQ(InkAt(turned, x, y + down), ink.At(x, y) != 0) << degrees;
      const TRect back = geometry.BoxToPage(TRect{x, 10 + down, x, 12 + down});
      EXPECT_LE(std::abs(back.Top - 10), 1) << degrees << " at " << x;
      EXPECT_LE(std::abs(back.Bottom - 12), 1) << degrees << " at " << x;
      EXPECT_EQ(back.Left, x);
    }
    // A level page falling to the right is raised on the right: the slope comes out.
    EXPECT_EQ(geometry.Shift(299) - geometry.Shift(0) < 0, degrees < 0);
  }
}

// TurnDib pixel by pixel from its definition: every turned pixel takes the page's pixel it
// came from, back through the shear and the quarter turns; the rest is paper.
std::vector<bool> TurnedByDefinition(const InkImage& ink, const TurnPlan& plan) {
  const TurnGeometry geometry(ink.Width, ink.Height, plan);
  const int tw = geometry.TurnedWidth(), th = geometry.TurnedHeight();
  std::vector<bool> out(static_cast<size_t>(tw) * th, false);
  for (int j = 0; j < th; ++j) {
    for (int i = 0; i < tw; ++i) {
      const int u = i, v = j - geometry.Margin() - geometry.Shift(i);
      if (v < 0 || v >= geometry.UprightHeight()) continue;
      int x = u, y = v;
      switch (plan.Quarters) {
        case 1:
          x = v;
          y = ink.Height - 1 - u;
          break;
        case 2:
          x = ink.Width - 1 - u;
          y = ink.Height - 1 - v;
          break;
        case 3:
          x = ink.Width - 1 - v;
          y = u;
          break;
        default:
          break;
      }
      out[static_cast<size_t>(j) * tw + i] = ink.At(x, y) != 0;
    }
  }
  return out;
}

// Pages of many sizes, sparse and dense, with either colour table, turned by every quarter
// and by angles either way: TurnDib matches the definition pixel for pixel, margins included.
TEST(TurnDib, EveryPlanMatchesTheDefinitionPixelForPixel) {
  std::mt19937 random(5);
  for (int trial = 0; trial < 120; ++trial) {
    const int w = 1 + static_cast<int>(random() % 150), h = 1 + static_cast<int>(random() % 90);
    InkImage ink = RandomInk(w, h, random);
    if (trial % 3 == 0) {
      for (uint8_t& p : ink.Pixels) p = p != 0 && random() % 8 == 0;  // sparse, like print
    }
    std::vector<uint8_t> dib = DibOf(ink, 300);
    if (trial % 2 == 1) {
      // The other colour table: entry 0 white, entry 1 black, every bit flipped.
      Put32(&dib[40], 0x00FFFFFF);
      Put32(&dib[44], 0);
      for (size_t b = 48; b < dib.size(); ++b) dib[b] = static_cast<uint8_t>(~dib[b]);
    }
    const double degrees =
        trial % 4 == 0 ? 0 : std::uniform_real_distribution<double>(-7, 7)(random);
    const TurnPlan plan{trial % 4, degrees};
    const std::vector<uint8_t> turned = TurnDib(dib.data(), dib.size(), plan);
    const TurnGeometry geometry(w, h, plan);
    const int tw = geometry.TurnedWidth(), th = geometry.TurnedHeight();
    ASSERT_EQ(static_cast<int>(Get32(&turned[4])), tw);
    ASSERT_EQ(static_cast<int>(Get32(&turned[8])), th);
    const std::vector<bool> expected = TurnedByDefinition(ink, plan);
    for (int y = 0; y < th; ++y) {
      for (int x = 0; x < tw; ++x) {
        ASSERT_EQ(InkAt(turned, x, y), expected[static_cast<size_t>(y) * tw + x])
            << "trial " << trial << " (" << w << "x" << h << ", " << plan.Quarters << " quarters, "
            << degrees << " degrees) at " << x << "," << y;
      }
    }
  }
}

// Lines of OCR-B rendered at Dpi, turned by Degrees (positive: clockwise, the lines fall to
// the right), binarised at half coverage.
InkImage TurnedText(const std::vector<std::string>& lines, double dpi, double degrees) {
  static const Font font(train::DefaultFontPath("OCRB.otf"));
  TextStyle style;
  style.XDpi = style.YDpi = dpi;
  style.DigitHeightMm = 2.45;
  std::vector<GreyImage> rendered;
  int width = 0, height = 0;
  for (const std::string& line : lines) {
    rendered.push_back(font.RenderLine(line, style, 12, nullptr));
    width = std::max(width, rendered.back().Width);
    height += rendered.back().Height * 3 / 2;
  }
  GreyImage page;
  page.Width = width;
  page.Height = height;
  page.Pixels.assign(static_cast<size_t>(width) * height, 0);
  int top = 0;
  for (const GreyImage& r : rendered) {
    for (int y = 0; y < r.Height; ++y)
      for (int x = 0; x < r.Width; ++x) page.At(x, top + y) = r.At(x, y);
    top += r.Height * 3 / 2;
  }
  return train::Binarise(train::Turn(page, degrees), 0.5f);
}

const std::string kCodingLine = "0100003949753>120000000000234478943216899+ 010001628>";

TEST(Skew, TheFinderMeasuresKnownTurnsAndNothingWithoutText) {
  const std::vector<std::string> block = {
      kCodingLine, "042>210000000003139471430009017+ 010001628>", "7351982 46072 0100003949753>"};
  for (const double degrees : {-5.0, -2.0, -0.5, 0.3, 1.0, 3.5}) {
    const InkImage ink = TurnedText(block, 300, degrees);
    const std::vector<uint8_t> dib = DibOf(ink, 300);
    double measured = 0, confidence = 0;
    ASSERT_TRUE(Decoder().MeasureDibSkew(dib.data(), ink.Width, ink.Height, &measured, &confidence))
        << degrees;
    EXPECT_NEAR(measured, degrees, 0.1) << degrees;
    EXPECT_GE(confidence, kMinSkewConfidence) << degrees;
  }
  // A blank page, a page of noise and a page too small: no skew to act on.
  std::mt19937 random(9);
  InkImage blank;
  blank.Width = 800;
  blank.Height = 300;
  blank.Pixels.assign(800 * 300, 0);
  for (const InkImage& ink : {blank, RandomInk(800, 300, random), RandomInk(40, 30, random)}) {
    const std::vector<uint8_t> dib = DibOf(ink, 300);
    double measured = 0, confidence = 0;
    const bool valid =
        Decoder().MeasureDibSkew(dib.data(), ink.Width, ink.Height, &measured, &confidence);
    EXPECT_TRUE(!valid || confidence < kMinSkewConfidence) << ink.Width << " " << measured;
  }
}

class ReadTurned : public ::testing::Test {
 protected:
  std::vector<PageResult> Read(const std::vector<uint8_t>& file, const LoadOptions& options = {}) {
    return ReadImage(engine_, file, options, false);
  }
  Engine engine_{Parameters{}};
};

std::vector<std::string> Texts(const PageResult& page) {
  std::vector<std::string> texts;
  for (const TextLine& line : page.Lines) {
    if (!line.Junk) texts.push_back(line.Text);
  }
  return texts;
}

// A coding line of 53 characters at 200 and 300 dpi, turned from -5 to +5 degrees in half
// degrees, read exactly through the reader, its boxes on the line in the file's pixels.
TEST_F(ReadTurned, ACodingLineTurnedUpToFiveDegreesReadsExactly) {
  for (const double dpi : {200.0, 300.0}) {
    for (int half = -10; half <= 10; ++half) {
      const double degrees = half / 2.0;
      const InkImage ink = TurnedText({kCodingLine}, dpi, degrees);
      const std::vector<PageResult> pages = Read(BmpOf(ink, static_cast<int>(dpi)));
      ASSERT_EQ(pages.size(), 1u);
      const PageResult& page = pages[0];
      EXPECT_EQ(Texts(page), std::vector<std::string>{kCodingLine}) << dpi << " dpi, " << degrees;
      if (std::fabs(degrees) >= 1) {
        EXPECT_NEAR(page.SkewDegrees, degrees, 0.15) << degrees;
      }
      if (page.Lines.empty()) continue;
      // Each box holds ink of the file where it says.
      const TextLine& line = page.Lines[0];
      for (size_t k = 0; k < line.Text.size(); ++k) {
        if (line.Text[k] == ' ') continue;
        const TRect& b = line.Boxes[k];
        ASSERT_TRUE(b.Left >= 0 && b.Right < ink.Width && b.Top >= 0 && b.Bottom < ink.Height);
        int inked = 0;
        for (int y = b.Top; y <= b.Bottom; ++y)
          for (int x = b.Left; x <= b.Right; ++x) inked += ink.At(x, y);
        EXPECT_GT(inked, (b.Right - b.Left + 1) * (b.Bottom - b.Top + 1) / 8)
            << degrees << " " << k;
      }
    }
  }
}

// A slip's lines turned a quarter, a half and three quarters read their coding lines exactly
// with the defaults; every way round but the right one reads poorly.
TEST_F(ReadTurned, ASlipTurnedByQuartersReadsItsCodingLines) {
  const std::vector<std::string> slip = {"042>210000000003139471430009017+ 010001628>",
                                         kCodingLine};
  const InkImage upright = TurnedText(slip, 300, 0);
  const std::vector<uint8_t> dib = DibOf(upright, 300);
  for (int q = 0; q < 4; ++q) {
    const std::vector<uint8_t> file = FileOf(TurnDib(dib.data(), dib.size(), TurnPlan{q, 0}));
    const std::vector<PageResult> pages = Read(file);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(Texts(pages[0]), slip) << q;
    // The page is stood up by turning it back.
    EXPECT_EQ(pages[0].Orientation, (360 - 90 * q) % 360) << q;
    // Read the way it lies, it is left as it is: poorly read, every line junk.
    LoadOptions as_it_lies;
    as_it_lies.Orientation = 0;
    const std::vector<PageResult> lying = Read(file, as_it_lies);
    ASSERT_EQ(lying.size(), 1u);
    EXPECT_EQ(lying[0].Orientation, 0);
    if (q != 0) {
      EXPECT_NE(Texts(lying[0]), slip) << q;
    }
  }
}

// An upside-down slip below a field of random ink is stood up while the page is mostly paper,
// and not tried at other turns once the field makes it more ink than paper.
TEST_F(ReadTurned, APageMostlyInkIsNotTriedAtOtherTurns) {
  const std::vector<std::string> slip = {kCodingLine};
  const InkImage text = TurnedText(slip, 300, 0);
  std::mt19937 random(4);
  for (const int percent : {20, 60}) {
    InkImage page;
    page.Width = text.Width;
    const int field = 400, gap = 80;
    page.Height = field + gap + text.Height;
    page.Pixels.assign(static_cast<size_t>(page.Width) * page.Height, 0);
    for (int y = 0; y < field; ++y)
      for (int x = 0; x < page.Width; ++x)
        page.Pixels[static_cast<size_t>(y) * page.Width + x] =
            static_cast<int>(random() % 100) < percent;
    for (int y = 0; y < text.Height; ++y)
      for (int x = 0; x < text.Width; ++x)
        page.Pixels[static_cast<size_t>(field + gap + y) * page.Width + x] = text.At(x, y);
    const std::vector<uint8_t> dib = DibOf(page, 300);
    const std::vector<uint8_t> upside_down = TurnDib(dib.data(), dib.size(), TurnPlan{2, 0});
    const double share = InkShare(upside_down.data(), upside_down.size());
    const std::vector<PageResult> pages = Read(FileOf(upside_down));
    ASSERT_EQ(pages.size(), 1u);
    if (percent == 20) {
      EXPECT_LT(share, 1.0 / 3);
      EXPECT_EQ(pages[0].Orientation, 180);
      const std::vector<std::string> texts = Texts(pages[0]);
      EXPECT_NE(std::find(texts.begin(), texts.end(), kCodingLine), texts.end());
    } else {
      EXPECT_GT(share, 1.0 / 3);
      EXPECT_EQ(pages[0].Orientation, 0);
    }
  }
}

TEST(InkShare, CountsTheDarkerEntryWhicheverBitItIs) {
  InkImage ink;
  ink.Width = 13;  // rows end inside a byte, their padding set
  ink.Height = 3;
  ink.Pixels.assign(13 * 3, 0);
  for (int x = 0; x < 13; x += 2) ink.Pixels[13 + x] = 1;  // 7 of 39 in row 1
  std::vector<uint8_t> dib = DibOf(ink, 300);              // ink is a clear bit
  const size_t stride = 4;
  for (int y = 0; y < 3; ++y) dib[48 + stride * y + 1] |= 0x07;  // padding bits set (paper)
  dib[48 + 3] = 0xFF;
  EXPECT_DOUBLE_EQ(InkShare(dib.data(), dib.size()), 7.0 / 39);
  const std::vector<uint8_t> turned = TurnDib(dib.data(), dib.size(), TurnPlan{2, 0});
  EXPECT_DOUBLE_EQ(InkShare(turned.data(), turned.size()), 7.0 / 39);  // ink is a set bit
  const std::vector<uint8_t> cut(dib.begin(), dib.end() - 1);
  EXPECT_THROW(InkShare(cut.data(), cut.size()), std::invalid_argument);
}

TEST_F(ReadTurned, LevellingAndTurningCanBeTurnedOff) {
  const InkImage ink = TurnedText({kCodingLine}, 300, 2.5);
  LoadOptions off;
  off.Deskew = false;
  const std::vector<PageResult> pages = Read(BmpOf(ink, 300), off);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].SkewDegrees, 0);
  // Nothing to read any way round: a blank page reports no turn and no skew.
  InkImage blank;
  blank.Width = 600;
  blank.Height = 200;
  blank.Pixels.assign(600 * 200, 0);
  const std::vector<PageResult> empty = Read(BmpOf(blank, 300));
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty[0].SkewDegrees, 0);
  EXPECT_EQ(empty[0].Orientation, 0);
  EXPECT_TRUE(empty[0].Lines.empty());
}

}  // namespace
}  // namespace ocrb::reader
