// Training glyphs: the fifteen characters rendered at random sizes, resolutions, sub-pixel
// positions and stroke weights, each turned into exactly what the classifier sees, through
// the engine's own copy, preprocessing passes and extraction.
#ifndef OCRB_TOOLS_TRAIN_GLYPHS_H_
#define OCRB_TOOLS_TRAIN_GLYPHS_H_

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "classify/glyph.h"
#include "image/dib.h"
#include "tools/train/render.h"

namespace ocrb::train {

// Ranges the glyphs are drawn from.
struct GlyphRecipe {
  double MinDpi = 150, MaxDpi = 400;
  double MinDigitMm = 2.3, MaxDigitMm = 2.8;
  double MinThreshold = 0.3, MaxThreshold = 0.7;  // coverage that counts as ink
  double BoldShare = 0.3;                         // share of glyphs from the bold face
};

// One rendered glyph as the engine holds it: a 1-bit image (black-and-white table) of the
// glyph's ink bounding box.
struct RenderedGlyph {
  int Class = 0;
  std::unique_ptr<TDIB> Image;
};

// What the classifier sees of one glyph in one preprocessing pass.
struct GlyphView {
  int Class = 0;
  int Pass = 1;
  std::array<uint8_t, 256> Inputs{};  // the network's inputs (0 or 1), row by row
  TGlyphGrid Grid{};                  // the template grid, column by column
};

class GlyphMaker {
 public:
  // Regular is OCRB.otf, Bold OCRBS.otf.
  GlyphMaker(const std::string& regular_font, const std::string& bold_font);

  // Renders class Class with parameters drawn from Recipe with Random.
  RenderedGlyph Render(int cls, const GlyphRecipe& recipe, std::mt19937_64& random) const;

  // The views of passes 1..8 of Glyph.
  static std::vector<GlyphView> Views(const RenderedGlyph& glyph);
  // The views of passes 1..8 of the glyph in Rect (inclusive) of Image, labelled Class.
  static std::vector<GlyphView> Views(const TDIB& image, const TRect& rect, int cls);

  // A 1-bit image of Ink's pixels inside Box (black-and-white table, ink black).
  static std::unique_ptr<TDIB> ToDIB(const InkImage& ink, const TRect& box, int32_t dpi);

 private:
  Font regular_;
  Font bold_;
};

}  // namespace ocrb::train

#endif  // OCRB_TOOLS_TRAIN_GLYPHS_H_
