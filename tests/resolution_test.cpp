// The resolution estimate: the one-sweep labelling against Leptonica's, and the estimate on
// coding lines the trainer renders at 150 to 600 dpi and saves without a resolution, alone and
// among lines of ordinary text, then read by the engine as if the resolution had been stated.
// A fixed set of synthetic scans measures how close the estimate comes.
#include "reader/resolution.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "ocrb.h"
#include "reader/decoder.h"
#include "reader/image.h"
#include "reader_test_util.h"
#include "tools/train/harvest.h"
#include "tools/train/pages.h"
#include "tools/train/render.h"

namespace ocrb::reader {
namespace {

using namespace test;

using train::Font;
using train::GreyImage;
using train::TextStyle;

const char kDejaVu[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr double kPointMm = 25.4 / 72;

// Reads pages through the C API of the engine the test links.
class Reader {
 public:
  Reader() { EXPECT_EQ(OCRB_Init("", "", &handle_), OCRB_STATUS_OK); }
  ~Reader() { OCRB_Done(handle_); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // The lines of the page, one per row of text ("<refused>" when the engine refuses it).
  std::string Read(const Page& page) {
    if (OCRB_Read(handle_, page.Dib.Get(), 0) != OCRB_STATUS_OK) return "<refused>";
    int32_t count = 0;
    OCRB_ResultLinesCount(handle_, &count);
    std::string text;
    for (int32_t l = 0; l < count; ++l) {
      int32_t length = 0;
      char line[OCRB_MAX_LINE_LENGTH + 1] = {};
      if (OCRB_ResultLineLength(handle_, l, &length) != OCRB_STATUS_OK) continue;
      OCRB_ResultLineChars(handle_, l, line);
      text += (l > 0 ? "\n" : "") + std::string(line, static_cast<size_t>(length));
    }
    return text;
  }

 private:
  OCRB_HANDLE handle_ = nullptr;
};

// Lines of text one under another, each in its own face and size, as grey paper (255) and
// ink (0) at Dpi, stating no resolution.
struct TextLine {
  const Font* Face;
  std::string Text;
  double DigitHeightMm;
  double PitchMm;
};
Pix RenderPage(const std::vector<TextLine>& lines, double dpi) {
  std::vector<GreyImage> rendered;
  int width = 0, height = 0;
  for (const TextLine& line : lines) {
    TextStyle style;
    style.XDpi = style.YDpi = dpi;
    style.DigitHeightMm = line.DigitHeightMm;
    style.PitchMm = line.PitchMm;
    rendered.push_back(
        line.Face->RenderLine(line.Text, style, static_cast<int>(dpi / 25), nullptr));
    width = std::max(width, rendered.back().Width);
    height += rendered.back().Height;
  }
  Pix page(pixCreate(width, height, 8));
  pixSetAllArbitrary(page.get(), 255);
  int top = 0;
  for (const GreyImage& image : rendered) {
    for (int y = 0; y < image.Height; ++y)
      for (int x = 0; x < image.Width; ++x)
        pixSetPixel(page.get(), x, top + y,
                    static_cast<l_uint32>(std::lround(255 * (1 - image.At(x, y)))));
    top += image.Height;
  }
  return page;
}

const Font& Ocrb() {
  static const Font font(train::DefaultFontPath("OCRB.otf"));
  return font;
}

const char kCodingLine[] = "0100003949753>120000507962012345+ 070012345>";

TEST(Components, AgreeWithLeptonicasLabelling) {
  std::mt19937 random(5);
  // Widths either side of a word boundary; densities from specks to a maze of one component.
  for (int width : {1, 31, 32, 33, 100, 257}) {
    for (double density : {0.05, 0.3, 0.5, 0.62}) {
      SCOPED_TRACE(std::to_string(width) + " wide, density " + std::to_string(density));
      Pix ink(pixCreate(width, 61, 1));
      std::bernoulli_distribution on(density);
      for (int y = 0; y < 61; ++y)
        for (int x = 0; x < width; ++x)
          if (on(random)) pixSetPixel(ink.get(), x, y, 1);
      std::vector<std::array<int, 4>> ours, theirs;
      ForEachComponent(ink.get(), [&](const ComponentBox& b) {
        ours.push_back({b.Left, b.Top, b.Width(), b.Height()});
      });
      BOXA* boxes = pixConnCompBB(ink.get(), 8);
      ASSERT_NE(boxes, nullptr);
      for (int i = 0; i < boxaGetCount(boxes); ++i) {
        l_int32 x, y, w, h;
        boxaGetBoxGeometry(boxes, i, &x, &y, &w, &h);
        theirs.push_back({x, y, w, h});
      }
      boxaDestroy(&boxes);
      std::sort(ours.begin(), ours.end());
      std::sort(theirs.begin(), theirs.end());
      EXPECT_EQ(ours, theirs);
    }
  }
}

// A coding line saved without a resolution, at the resolutions scanners use: the estimate
// lies within a tenth of the truth and the engine reads the line as it reads it with the
// resolution stated.
TEST(ResolutionEstimate, CodingLinesAt150To600Dpi) {
  Reader reader;
  for (double dpi : {150.0, 200.0, 300.0, 400.0, 600.0}) {
    SCOPED_TRACE(std::to_string(dpi) + " dpi");
    const Pix grey = RenderPage({{&Ocrb(), kCodingLine, 2.45, 2.54}}, dpi);
    Pix ink(pixThresholdToBinary(grey.get(), 128));
    // Grey through PNG, and bilevel through GIF, which has no resolution field at all.
    for (const std::vector<uint8_t>& file :
         {Encode(grey.get(), IFF_PNG), Encode(ink.get(), IFF_GIF)}) {
      const std::vector<Page> pages = DecodeImage(file, LoadOptions{});
      ASSERT_EQ(pages.size(), 1u);
      EXPECT_EQ(pages[0].Source, DpiSource::kEstimated);
      EXPECT_NEAR(pages[0].XDpi, dpi, 0.1 * dpi);
      EXPECT_EQ(pages[0].YDpi, pages[0].XDpi);
      LoadOptions stated;
      stated.Dpi = static_cast<int>(dpi);
      const std::vector<Page> told = DecodeImage(file, stated);
      ASSERT_EQ(told.size(), 1u);
      EXPECT_EQ(told[0].Source, DpiSource::kOption);
      EXPECT_EQ(reader.Read(told[0]), kCodingLine);
      EXPECT_EQ(reader.Read(pages[0]), kCodingLine);
    }
  }
}

// Lines of ordinary text above and below, smaller and larger than the digits, leave the
// estimate within a tenth.
TEST(ResolutionEstimate, OrdinaryTextAroundTheLine) {
  const Font dejavu(kDejaVu);
  const std::string words[] = {"Payment slip for account holders, please keep this part",
                               "Bank details and reference below; payable by 12.03.2024",
                               "The quick brown fox jumps over the lazy dog 0123456789"};
  for (double points : {8.0, 10.0, 14.0}) {
    // DejaVu's digits stand 0.73 em tall; set on a pitch of 0.6 em.
    const double digit = 0.73 * points * kPointMm, pitch = 0.6 * points * kPointMm;
    for (double dpi : {200.0, 300.0}) {
      SCOPED_TRACE(std::to_string(points) + " pt at " + std::to_string(dpi) + " dpi");
      const Pix page = RenderPage({{&dejavu, words[0], digit, pitch},
                                   {&dejavu, words[1], digit, pitch},
                                   {&Ocrb(), kCodingLine, 2.45, 2.54},
                                   {&dejavu, words[2], digit, pitch}},
                                  dpi);
      const std::vector<Page> pages = DecodeImage(Encode(page.get(), IFF_PNG), LoadOptions{});
      ASSERT_EQ(pages.size(), 1u);
      EXPECT_EQ(pages[0].Source, DpiSource::kEstimated);
      EXPECT_NEAR(pages[0].XDpi, dpi, 0.1 * dpi);
    }
  }
}

// Where the estimate comes in and where it stays out.
TEST(ResolutionEstimate, WhereItComesInAndWhereItStaysOut) {
  const Font dejavu(kDejaVu);
  const Pix line = RenderPage({{&Ocrb(), kCodingLine, 2.45, 2.54}}, 300);
  const Pix few = RenderPage({{&Ocrb(), "12 0 4", 2.45, 2.54}}, 300);
  const Pix text =
      RenderPage({{&dejavu, "Nothing but words here, in a line of text", 3, 2.6}}, 300);
  struct Case {
    const char* Name;
    PIX* Picture;
    int StatedDpi;
    LoadOptions Options;
    DpiSource Source;
    int Dpi;  // expected; -1: within a tenth of 300
  };
  LoadOptions option, off;
  option.Dpi = 240;
  off.EstimateDpi = false;
  const Case cases[] = {
      {"stated", line.get(), 300, {}, DpiSource::kFile, 300},
      {"stated as a screen's", line.get(), 72, {}, DpiSource::kEstimated, -1},
      {"screen's, with the option", line.get(), 96, option, DpiSource::kOption, 240},
      {"none, estimate off", line.get(), 0, off, DpiSource::kNone, 0},
      {"three digits", few.get(), 0, {}, DpiSource::kNone, 0},
      {"words only", text.get(), 0, {}, DpiSource::kNone, 0},
      {"screen's, too little evidence", few.get(), 72, {}, DpiSource::kNone, 72},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Pix copy(pixCopy(nullptr, c.Picture));
    pixSetResolution(copy.get(), c.StatedDpi, c.StatedDpi);
    const std::vector<Page> pages = DecodeImage(Encode(copy.get(), IFF_PNG), c.Options);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].Source, c.Source);
    if (c.Dpi >= 0) {
      EXPECT_EQ(pages[0].XDpi, c.Dpi);
    } else {
      EXPECT_NEAR(pages[0].XDpi, 300, 30);
    }
  }
  // Pixels held by a caller get the estimate only when the caller asks for it.
  Pix samples(pixCopy(nullptr, line.get()));
  pixEndianByteSwap(samples.get());  // Leptonica keeps the bytes of each word reversed
  const PixelView ordered{reinterpret_cast<const uint8_t*>(pixGetData(samples.get())),
                          pixGetWidth(line.get()),
                          pixGetHeight(line.get()),
                          static_cast<size_t>(pixGetWpl(line.get())) * 4,
                          1,
                          false};
  const Page plain = PageFromPixels(ordered, 0, 0, Binarisation::kSauvola);
  const Page asked = PageFromPixels(ordered, 0, 0, Binarisation::kSauvola, true);
  EXPECT_EQ(plain.Source, DpiSource::kNone);
  EXPECT_EQ(plain.XDpi, 0);
  EXPECT_EQ(asked.Source, DpiSource::kEstimated);
  EXPECT_NEAR(asked.XDpi, 300, 30);
}

// 1-bit BMPs go to the engine without decoding: the estimate goes into their header, whichever
// colour-table entry is ink.
TEST(ResolutionEstimate, WrittenIntoPlainBmps) {
  const Pix grey = RenderPage({{&Ocrb(), kCodingLine, 2.45, 2.54}}, 400);
  Pix ink(pixThresholdToBinary(grey.get(), 128));
  Reader reader;
  for (bool inverted : {false, true}) {
    SCOPED_TRACE(inverted ? "ink is entry 0" : "ink is entry 1");
    std::vector<uint8_t> bmp = Encode(ink.get(), IFF_BMP);
    ASSERT_EQ(bmp[28], 1);  // one bit per pixel, handed over as it is
    if (inverted) {
      const size_t table = 14 + 40, pixels = bmp[10] | bmp[11] << 8;
      for (size_t i = 0; i < 4; ++i) std::swap(bmp[table + i], bmp[table + 4 + i]);
      for (size_t i = pixels; i < bmp.size(); ++i) bmp[i] = static_cast<uint8_t>(~bmp[i]);
    }
    const std::vector<Page> pages = DecodeImage(bmp, LoadOptions{});
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].Source, DpiSource::kEstimated);
    EXPECT_NEAR(pages[0].XDpi, 400, 40);
    EXPECT_EQ(reader.Read(pages[0]), kCodingLine);
  }
}

// The measurement: 80 synthetic scans (40 under the sanitizers) from a fixed seed (150 to
// 600 dpi, digits 2.25 to 2.85 mm tall, clean to heavily degraded), their resolution removed.
// Prints how often there is an estimate, its error against the true resolution and against the
// one the printed digit height implies, and the character error rates of reading with the
// resolution stated, with the estimate, and without either (the engine's 200 dpi). Where there
// is an estimate, the engine must read as well as with the truth.
TEST(ResolutionEstimate, SyntheticScans) {
  train::PageRecipe recipe;
  recipe.MinDpi = 150;
  recipe.MaxDpi = 600;
  recipe.HalfHeightShare = 0;
  const train::PageMaker maker(train::DefaultFontPath("OCRB.otf"),
                               train::DefaultFontPath("OCRBS.otf"));
  std::mt19937_64 random(2024);
  Reader reader;
  LoadOptions without;
  without.EstimateDpi = false;
  std::vector<double> errors, height_errors;
  // Edit distances: all scans with the resolution stated, estimated, and neither; the scans
  // with an estimate with it and with the truth.
  int64_t stated = 0, estimated = 0, neither = 0, characters = 0;
  int64_t estimated_own = 0, stated_own = 0, characters_own = 0;
  // Scans stating their true resolution whose estimate overruled it; scans stating half or
  // twice it that the estimate corrected, and the edit distance of reading those.
  int overruled = 0, corrected = 0;
  int64_t wrong_kept = 0;
  auto expected_text = [](const train::SynthPage& page) {
    std::string text;
    for (const std::string& line : page.Lines) text += (text.empty() ? "" : "\n") + line;
    return text;
  };
  // Fewer under the sanitizers, which slow the engine tenfold.
#ifdef OCRB_SANITIZED
  constexpr int kPages = 40;
#else
  constexpr int kPages = 80;
#endif
  for (int n = 0; n < kPages; ++n) {
    const train::SynthPage scan = maker.Make(recipe, random);
    ASSERT_GE(scan.Dib.size(), 40u);
    const int dpi = PelsPerMeterToDpi(static_cast<int32_t>(Get32(scan.Dib.data() + kXPelsField)));
    std::vector<int> heights;
    for (const train::TrueGlyph& g : scan.Glyphs)
      if (g.Ch >= '2' && g.Ch <= '9') heights.push_back(g.Box.Bottom - g.Box.Top + 1);
    std::sort(heights.begin(), heights.end());
    // As a BMP file stating nothing.
    std::vector<uint8_t> bmp(14 + scan.Dib.size());
    bmp[0] = 'B';
    bmp[1] = 'M';
    bmp[10] = 14 + 40 + 8;
    std::copy(scan.Dib.begin(), scan.Dib.end(), bmp.begin() + 14);
    std::fill(bmp.begin() + 14 + 24, bmp.begin() + 14 + 32, 0);
    LoadOptions truth;
    truth.Dpi = dpi;
    const std::vector<Page> as_stated = DecodeImage(bmp, truth);
    const std::vector<Page> as_estimated = DecodeImage(bmp, LoadOptions{});
    const std::vector<Page> as_before = DecodeImage(bmp, without);
    // Stating the truth, and stating half or twice it (whichever the engine takes as stated).
    std::vector<uint8_t> right = bmp, wrong = bmp;
    std::copy(scan.Dib.begin() + 24, scan.Dib.begin() + 32, right.begin() + 14 + 24);
    const int false_dpi = dpi / 2 > 96 ? dpi / 2 : dpi * 2;
    for (size_t at : {size_t{14 + 24}, size_t{14 + 28}}) {
      const uint32_t ppm = static_cast<uint32_t>(DpiToPelsPerMeter(false_dpi));
      for (int i = 0; i < 4; ++i) wrong[at + i] = static_cast<uint8_t>(ppm >> (8 * i));
    }
    const std::vector<Page> as_right = DecodeImage(right, LoadOptions{});
    const std::vector<Page> as_wrong = DecodeImage(wrong, LoadOptions{});
    ASSERT_EQ(as_right.size(), 1u);
    ASSERT_EQ(as_wrong.size(), 1u);
    overruled += as_right[0].Source != DpiSource::kFile;
    corrected += as_wrong[0].Source == DpiSource::kEstimated;
    wrong_kept += train::EditDistance(expected_text(scan), reader.Read(as_wrong[0]));
    ASSERT_EQ(as_stated.size(), 1u);
    ASSERT_EQ(as_estimated.size(), 1u);
    ASSERT_EQ(as_before.size(), 1u);
    std::string expected;
    for (const std::string& line : scan.Lines) expected += (expected.empty() ? "" : "\n") + line;
    const int64_t e_stated = train::EditDistance(expected, reader.Read(as_stated[0]));
    const int64_t e_estimated = train::EditDistance(expected, reader.Read(as_estimated[0]));
    stated += e_stated;
    estimated += e_estimated;
    neither += train::EditDistance(expected, reader.Read(as_before[0]));
    characters += static_cast<int64_t>(expected.size());
    if (as_estimated[0].Source != DpiSource::kEstimated || heights.empty()) continue;
    stated_own += e_stated;
    estimated_own += e_estimated;
    characters_own += static_cast<int64_t>(expected.size());
    const double printed = heights[heights.size() / 2] * 25.4 / 2.45;
    errors.push_back(std::fabs(as_estimated[0].XDpi - dpi) / dpi);
    height_errors.push_back(std::fabs(as_estimated[0].XDpi - printed) / printed);
  }
  ASSERT_FALSE(errors.empty());
  std::sort(errors.begin(), errors.end());
  std::sort(height_errors.begin(), height_errors.end());
  auto rate = [](int64_t e, int64_t n) { return static_cast<double>(e) / static_cast<double>(n); };
  std::printf(
      "estimated %zu of %d scans; error against the resolution: median %.3f, worst %.3f; "
      "against the digits' height: median %.3f, worst %.3f\n"
      "character error rate, all scans: resolution stated %.4f, estimated %.4f, neither "
      "%.4f; scans with an estimate: stated %.4f, estimated %.4f\n",
      errors.size(), kPages, errors[errors.size() / 2], errors.back(),
      height_errors[height_errors.size() / 2], height_errors.back(), rate(stated, characters),
      rate(estimated, characters), rate(neither, characters), rate(stated_own, characters_own),
      rate(estimated_own, characters_own));
  std::printf(
      "stating the truth: overruled on %d of %d scans; stating half or twice it: corrected on "
      "%d, character error rate %.4f\n",
      overruled, kPages, corrected, rate(wrong_kept, characters));
  EXPECT_EQ(overruled, 0);
  // The estimate's own bar is lower than the bar for overruling a file: fewer are corrected
  // than estimated, and those left read as badly as a wrong resolution reads.
  EXPECT_GE(corrected, kPages * 7 / 10);
  EXPECT_LT(wrong_kept, neither / 2);
  // The heavily degraded scans left without an estimate are broken into specks.
  EXPECT_GE(errors.size(), kPages * 8u / 10);
  EXPECT_LE(height_errors[height_errors.size() / 2], 0.03);
  EXPECT_LE(height_errors.back(), 0.15);
  EXPECT_LE(estimated_own, stated_own + characters_own / 100);
  EXPECT_LT(estimated, neither / 2);
}

// The rules that choose a page's resolution, each at its edges, with a scripted estimate: the
// estimate is asked for only where it can matter, and at most once.
TEST(ChooseResolution, EachRuleAndItsEdges) {
  LoadOptions plain, given, oblong, off;
  given.Dpi = 300;
  oblong.Dpi = 200;
  oblong.YDpi = 100;
  off.EstimateDpi = false;
  constexpr DpiSource kFile = DpiSource::kFile, kOption = DpiSource::kOption,
                      kEstimated = DpiSource::kEstimated, kNone = DpiSource::kNone;
  struct Case {
    const char* Name;
    int StatedX, StatedY;
    const LoadOptions* Options;
    DpiEstimate Estimate;
    int X, Y;
    DpiSource Source;
    int Asked;  // calls of the estimate
  };
  const Case cases[] = {
      {"the option over a stated resolution", 150, 150, &given, {600, true}, 300, 300, kOption, 0},
      {"the option over a fax resolution", 200, 100, &given, {}, 300, 300, kOption, 0},
      {"the option over nothing", 0, 0, &given, {}, 300, 300, kOption, 0},
      {"an oblong option", 300, 300, &oblong, {}, 200, 100, kOption, 0},
      {"stated, estimate agrees", 300, 300, &plain, {310, true}, 300, 300, kFile, 1},
      {"stated half the digits'", 150, 150, &plain, {300, true}, 300, 300, kEstimated, 1},
      {"stated twice the digits'", 600, 600, &plain, {300, true}, 300, 300, kEstimated, 1},
      {"a third above: kept", 300, 300, &plain, {400, true}, 300, 300, kFile, 1},
      {"past a third above", 300, 300, &plain, {401, true}, 401, 401, kEstimated, 1},
      {"a quarter below: kept", 300, 300, &plain, {225, true}, 300, 300, kFile, 1},
      {"past a quarter below", 300, 300, &plain, {224, true}, 224, 224, kEstimated, 1},
      {"an estimate not trusted", 150, 150, &plain, {300, false}, 150, 150, kFile, 1},
      {"no estimate", 150, 150, &plain, {0, false}, 150, 150, kFile, 1},
      {"one figure stands for both", 0, 300, &plain, {300, true}, 300, 300, kFile, 1},
      {"a fax resolution is kept", 200, 100, &plain, {400, true}, 200, 100, kFile, 0},
      {"stated, estimate off", 150, 150, &off, {300, true}, 150, 150, kFile, 0},
      {"a screen's, estimated untrusted", 72, 72, &plain, {300, false}, 300, 300, kEstimated, 1},
      {"96 dpi is none", 96, 96, &plain, {0, false}, 96, 96, kNone, 1},
      {"97 dpi is stated", 97, 97, &plain, {0, false}, 97, 97, kFile, 1},
      {"nothing, estimate off", 0, 0, &off, {300, true}, 0, 0, kNone, 0},
      {"negative figures are nothing", -5, -5, &plain, {0, false}, 0, 0, kNone, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    int asked = 0;
    const Resolution r = ChooseResolution(c.StatedX, c.StatedY, kFile, *c.Options, [&] {
      ++asked;
      return c.Estimate;
    });
    EXPECT_EQ(r.X, c.X);
    EXPECT_EQ(r.Y, c.Y);
    EXPECT_EQ(r.Source, c.Source);
    EXPECT_EQ(asked, c.Asked);
    // What is stated is kept, one figure standing for both.
    const int x = std::max(c.StatedX, 0), y = std::max(c.StatedY, 0);
    EXPECT_EQ(r.StatedX, x > 0 ? x : y);
    EXPECT_EQ(r.StatedY, y > 0 ? y : x);
  }
}

// An estimate overrules a file only on a coding line's worth of digits that mostly agree.
TEST(ResolutionEstimate, TrustNeedsACodingLinesWorthOfAgreeingDigits) {
  auto trusted = [](int dpi, int evidence, int mated) {
    ResolutionEstimate e;
    e.Dpi = dpi;
    e.Evidence = evidence;
    e.Mated = mated;
    return e.Trusted();
  };
  EXPECT_TRUE(trusted(300, 12, 20));
  EXPECT_FALSE(trusted(300, 11, 11));
  EXPECT_FALSE(trusted(300, 12, 21));  // 12 of 21 is less than 0.6
  EXPECT_FALSE(trusted(0, 40, 40));
  const Font dejavu(kDejaVu);
  const Pix line = RenderPage({{&Ocrb(), kCodingLine, 2.45, 2.54}}, 300);
  const Pix reference = RenderPage({{&Ocrb(), "000000000000000001234567890", 2.45, 2.54}}, 300);
  const Pix few = RenderPage({{&Ocrb(), "12 034 56", 2.45, 2.54}}, 300);
  const Pix words =
      RenderPage({{&dejavu, "Payment slip for account holders, keep this", 3, 2.6},
                  {&dejavu, "Bank details and reference below; by 12.03.2024", 3, 2.6}},
                 300);
  for (const auto& [page, expected] : std::vector<std::pair<PIX*, bool>>{
           {line.get(), true}, {reference.get(), true}, {few.get(), false}, {words.get(), false}}) {
    Pix ink(pixThresholdToBinary(page, 128));
    const ResolutionEstimate e = EstimateResolution(ink.get());
    EXPECT_EQ(e.Trusted(), expected) << e.Dpi << " dpi, " << e.Evidence << " of " << e.Mated;
  }
}

// A packed DIB, either colour-table entry ink and any width, gives the estimate its picture
// gives.
TEST(ResolutionEstimate, DibRowsGiveWhatThePictureGives) {
  std::mt19937 random(11);
  for (double dpi : {150.0, 301.0, 600.0}) {
    const Pix grey = RenderPage({{&Ocrb(), kCodingLine, 2.45, 2.54}}, dpi);
    Pix ink(pixThresholdToBinary(grey.get(), 128));
    // Specks, and ink up to the last column, where a row's padding begins.
    std::bernoulli_distribution speck(0.002);
    const int width = pixGetWidth(ink.get()), height = pixGetHeight(ink.get());
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x)
        if (speck(random)) pixSetPixel(ink.get(), x, y, 1);
      pixSetPixel(ink.get(), width - 1, y, y % 3 == 0);
    }
    const ResolutionEstimate own = EstimateResolution(ink.get());
    ASSERT_GT(own.Dpi, 0);
    for (bool inverted : {false, true}) {
      SCOPED_TRACE(std::to_string(dpi) + (inverted ? " dpi, ink is entry 0" : " dpi"));
      std::vector<uint8_t> bmp = Encode(ink.get(), IFF_BMP);
      ASSERT_EQ(bmp[28], 1);
      if (inverted) {
        const size_t table = 14 + 40, pixels = bmp[10] | bmp[11] << 8;
        for (size_t i = 0; i < 4; ++i) std::swap(bmp[table + i], bmp[table + 4 + i]);
        for (size_t i = pixels; i < bmp.size(); ++i) bmp[i] = static_cast<uint8_t>(~bmp[i]);
      }
      const ResolutionEstimate dib = EstimateDibResolution(bmp.data() + 14, width, height);
      EXPECT_EQ(dib.Dpi, own.Dpi);
      EXPECT_EQ(dib.Evidence, own.Evidence);
      EXPECT_EQ(dib.Mated, own.Mated);
      EXPECT_EQ(dib.DigitHeight, own.DigitHeight);
    }
  }
}

// Files that state a resolution: a wrong one gives way to the digits, in decoded files and in
// 1-bit BMPs alike; a right one, or one near enough, stays, with ordinary text around the
// line too; a page of words alone keeps what it states.
TEST(ResolutionEstimate, WrongStatedResolutionsGiveWay) {
  const Font dejavu(kDejaVu);
  const Pix line = RenderPage({{&Ocrb(), kCodingLine, 2.45, 2.54}}, 300);
  const double digit = 0.73 * 10 * kPointMm, pitch = 0.6 * 10 * kPointMm;
  const Pix mixed =
      RenderPage({{&dejavu, "Payment slip for account holders, keep it", digit, pitch},
                  {&Ocrb(), kCodingLine, 2.45, 2.54},
                  {&dejavu, "The quick brown fox 0123456789", digit, pitch}},
                 300);
  const Pix words = RenderPage({{&dejavu, "Nothing but words here, in a line of text", 3, 2.6},
                                {&dejavu, "and another one, with 12.03.2024 in it", 3, 2.6}},
                               300);
  Pix line_ink(pixThresholdToBinary(line.get(), 128));
  struct Case {
    const char* Name;
    PIX* Picture;
    int Format;
    int Stated;
    DpiSource Source;  // kEstimated: within a tenth of 300
  };
  const Case cases[] = {
      {"PNG stating 150", line.get(), IFF_PNG, 150, DpiSource::kEstimated},
      {"PNG stating 600", line.get(), IFF_PNG, 600, DpiSource::kEstimated},
      {"PNG stating 200", line.get(), IFF_PNG, 200, DpiSource::kEstimated},
      {"PNG stating 300", line.get(), IFF_PNG, 300, DpiSource::kFile},
      {"PNG stating 250", line.get(), IFF_PNG, 250, DpiSource::kFile},
      {"BMP stating 150", line_ink.get(), IFF_BMP, 150, DpiSource::kEstimated},
      {"BMP stating 600", line_ink.get(), IFF_BMP, 600, DpiSource::kEstimated},
      {"BMP stating 300", line_ink.get(), IFF_BMP, 300, DpiSource::kFile},
      {"text around, stating 300", mixed.get(), IFF_PNG, 300, DpiSource::kFile},
      {"text around, stating 150", mixed.get(), IFF_PNG, 150, DpiSource::kEstimated},
      {"words alone, stating 150", words.get(), IFF_PNG, 150, DpiSource::kFile},
  };
  Reader reader;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Pix copy(pixCopy(nullptr, c.Picture));
    pixSetResolution(copy.get(), c.Stated, c.Stated);
    const std::vector<Page> pages = DecodeImage(Encode(copy.get(), c.Format), LoadOptions{});
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].Source, c.Source);
    EXPECT_EQ(pages[0].StatedXDpi, c.Stated);
    EXPECT_EQ(pages[0].StatedYDpi, c.Stated);
    if (c.Source == DpiSource::kFile) {
      EXPECT_EQ(pages[0].XDpi, c.Stated);
    } else {
      EXPECT_NEAR(pages[0].XDpi, 300, 30);
      EXPECT_EQ(pages[0].YDpi, pages[0].XDpi);
    }
    if (c.Picture == line.get() || c.Picture == line_ink.get()) {
      EXPECT_EQ(reader.Read(pages[0]), kCodingLine);
    }
  }
}

}  // namespace
}  // namespace ocrb::reader
