#include "tools/train/glyphs.h"

#include <cmath>

#include "classify/classifier.h"

namespace ocrb::train {

GlyphMaker::GlyphMaker(const std::string& regular_font, const std::string& bold_font)
    : regular_(regular_font), bold_(bold_font) {}

std::unique_ptr<TDIB> GlyphMaker::ToDIB(const InkImage& ink, const TRect& box, int32_t dpi) {
  auto dib = std::make_unique<TDIB>();
  const int32_t w = box.Right - box.Left + 1;
  const int32_t h = box.Bottom - box.Top + 1;
  dib->NewImage(w, h, kFormat1Bit, dpi, dpi);
  dib->FillWhite();
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      if (ink.At(box.Left + x, box.Top + y)) dib->SetPixel(x, y, 0);
    }
  }
  return dib;
}

RenderedGlyph GlyphMaker::Render(int cls, const GlyphRecipe& recipe,
                                 std::mt19937_64& random) const {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto between = [&](double low, double high) { return low + (high - low) * unit(random); };
  const bool bold = unit(random) < recipe.BoldShare;
  TextStyle style;
  style.XDpi = style.YDpi = std::round(between(recipe.MinDpi, recipe.MaxDpi));
  style.DigitHeightMm = between(recipe.MinDigitMm, recipe.MaxDigitMm);
  style.OffsetX = unit(random);
  style.OffsetY = unit(random);
  const float threshold = static_cast<float>(between(recipe.MinThreshold, recipe.MaxThreshold));
  const std::string text(1, kAlphabet[cls]);
  for (;;) {
    const GreyImage grey = (bold ? bold_ : regular_).RenderLine(text, style, 3, nullptr);
    const InkImage ink = Binarise(grey, threshold);
    const TRect box = InkBounds(ink, TRect{0, 0, ink.Width - 1, ink.Height - 1});
    if (box.Left <= box.Right) {
      return RenderedGlyph{cls, ToDIB(ink, box, static_cast<int32_t>(style.XDpi))};
    }
    style.DigitHeightMm *= 1.1;  // nothing reached the threshold: draw it larger
  }
}

std::vector<GlyphView> GlyphMaker::Views(const RenderedGlyph& glyph) {
  const TDIB& image = *glyph.Image;
  return Views(image,
               TRect{0, 0, static_cast<int32_t>(image.Width()) - 1,
                     static_cast<int32_t>(image.Height()) - 1},
               glyph.Class);
}

std::vector<GlyphView> GlyphMaker::Views(const TDIB& image, const TRect& rect, int cls) {
  TDIB working;
  working.NewImage(rect.Right - rect.Left + 1, rect.Bottom - rect.Top + 1, kFormat1Bit,
                   image.XResolution(), image.YResolution());
  TGlyphInputs pattern;
  std::vector<GlyphView> views;
  for (int pass = 1; pass <= kMaxPassCount; ++pass) {
    GlyphView view;
    view.Class = cls;
    view.Pass = pass;
    const bool trim = AdvanceGlyphPass(image, rect, pass, working);
    const TRect whole{0, 0, 0, 0};
    ExtractGlyphPattern(working, whole, trim, pattern);
    for (int i = 0; i < 256; ++i) view.Inputs[i] = pattern[static_cast<size_t>(i)] > 0.5 ? 1 : 0;
    ExtractGlyphGrid(working, whole, trim, view.Grid);
    views.push_back(view);
  }
  return views;
}

}  // namespace ocrb::train
