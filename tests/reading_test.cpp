// Reading what the trainer's renderer draws, through the C API: spaces at several
// resolutions, and the accuracy on a fixed set of synthetic scans (made here from a seed, so
// that the check needs nothing from outside the project).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ocrb.h"
#include "platform/memory.h"
#include "tools/train/glyphs.h"
#include "tools/train/harvest.h"
#include "tools/train/pages.h"
#include "tools/train/render.h"

namespace ocrb::train {
namespace {

class Engine {
 public:
  Engine() { EXPECT_EQ(OCRB_Init("", "", &handle_), OCRB_STATUS_OK); }
  ~Engine() { OCRB_Done(handle_); }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Reads a packed DIB and returns its lines (empty when the read fails).
  std::vector<std::string> Read(const std::vector<uint8_t>& dib) {
    platform::GlobalBlock block(platform::GlobalAlloc(platform::kGMemMoveable, dib.size()));
    std::memcpy(platform::GlobalLock(block.Get()), dib.data(), dib.size());
    platform::GlobalUnlock(block.Get());
    std::vector<std::string> lines;
    if (OCRB_Read(handle_, block.Get(), 0) != OCRB_STATUS_OK) return lines;
    int32_t count = 0;
    OCRB_ResultLinesCount(handle_, &count);
    for (int32_t l = 0; l < count; ++l) {
      int32_t length = 0;
      if (OCRB_ResultLineLength(handle_, l, &length) != OCRB_STATUS_OK) continue;
      std::vector<char> text(static_cast<size_t>(length) + 1);
      OCRB_ResultLineChars(handle_, l, text.data());
      lines.emplace_back(text.data(), static_cast<size_t>(length));
    }
    return lines;
  }

 private:
  OCRB_HANDLE handle_ = nullptr;
};

// One line of text at Dpi as a 1-bit packed DIB (ink black, resolution stated).
std::vector<uint8_t> LineDib(const std::string& text, double dpi) {
  static const Font font(DefaultFontPath("OCRB.otf"));
  TextStyle style;
  style.XDpi = style.YDpi = dpi;
  style.DigitHeightMm = 2.45;
  const InkImage ink = Binarise(font.RenderLine(text, style, 8, nullptr), 0.5f);
  std::unique_ptr<TDIB> image =
      GlyphMaker::ToDIB(ink, TRect{0, 0, ink.Width - 1, ink.Height - 1}, static_cast<int32_t>(dpi));
  return std::vector<uint8_t>(image->Header(), image->Header() + image->Size());
}

// A coding line with one and with two empty cells gets exactly one and two spaces, whatever
// the resolution: the space width scales with it once.
TEST(Spaces, OneSpacePerEmptyCellAtEveryResolution) {
  Engine engine;
  for (double dpi : {150.0, 200.0, 300.0, 400.0}) {
    for (const std::string text : {"0100000123456>1200 01030", "12345  67890+"}) {
      const std::vector<std::string> lines = engine.Read(LineDib(text, dpi));
      ASSERT_EQ(lines.size(), 1u) << dpi << " dpi";
      EXPECT_EQ(lines[0], text) << dpi << " dpi";
    }
  }
}

std::string WithoutSpaces(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    for (char c : line)
      if (c != ' ') text += c;
    text += '\n';
  }
  return text;
}

// 120 synthetic scans from a fixed seed, clean to heavy, 150 to 400 dpi and some at 200 x 100
// dpi. The character error rate (spaces removed) must stay at or below what the engine
// reached when this bound was set; a rise means a change made reading worse. Lower the bound
// when reading improves.
TEST(Accuracy, FixedSetOfSyntheticScansDoesNotRegress) {
  constexpr double kMaxErrorRate = 0.081;
  const PageMaker maker(DefaultFontPath("OCRB.otf"), DefaultFontPath("OCRBS.otf"));
  std::mt19937_64 random(1208);
  Engine engine;
  int64_t errors = 0, characters = 0;
  for (int n = 0; n < 120; ++n) {
    const SynthPage page = maker.Make(PageRecipe{}, random);
    std::vector<std::string> truth = page.Lines;
    const std::string expected = WithoutSpaces(truth);
    errors += EditDistance(expected, WithoutSpaces(engine.Read(page.Dib)));
    characters += static_cast<int64_t>(expected.size());
  }
  const double rate = static_cast<double>(errors) / static_cast<double>(characters);
  std::printf("character error rate on the fixed synthetic set: %.4f (%lld of %lld)\n", rate,
              static_cast<long long>(errors), static_cast<long long>(characters));
  EXPECT_LE(rate, kMaxErrorRate);
}

}  // namespace
}  // namespace ocrb::train
