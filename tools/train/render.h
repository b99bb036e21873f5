// Renders OCR-B text with FreeType into grey coverage images, for making training glyphs and
// training pages. Sizes follow the typeface's geometry: one character advance is 2.54 mm
// (10 characters per inch) and digits stand about 2.3 to 2.8 mm tall.
#ifndef OCRB_TOOLS_TRAIN_RENDER_H_
#define OCRB_TOOLS_TRAIN_RENDER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ocrb.h"

namespace ocrb::train {

// A grey image: coverage 0.0 (paper) .. 1.0 (full ink), row 0 at the top.
struct GreyImage {
  int Width = 0;
  int Height = 0;
  std::vector<float> Pixels;  // Width * Height, row by row

  float& At(int x, int y) { return Pixels[static_cast<size_t>(y) * Width + x]; }
  float At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
};

// A bilevel image: 1 = ink, 0 = paper, row 0 at the top.
struct InkImage {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Pixels;

  uint8_t At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
};

// How one piece of text is set.
struct TextStyle {
  double XDpi = 200;            // horizontal sampling
  double YDpi = 200;            // vertical sampling
  double DigitHeightMm = 2.54;  // height of the digits
  double PitchMm = 2.54;        // advance from one character to the next
  double OffsetX = 0;           // sub-pixel shift of the whole text, in pixels
  double OffsetY = 0;
  bool Proportional = false;  // each glyph's own advance instead of the fixed pitch
};

// One OpenType face of the typeface.
class Font {
 public:
  // Opens the font file; throws std::runtime_error when it cannot be read.
  explicit Font(const std::string& path);
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  // Renders Text on one line with Margin pixels of paper around the ink. Boxes receives one
  // inclusive rectangle per character of Text: the pixels its outline covers at least half
  // (spaces and characters without such pixels get an empty rectangle 0,0,-1,-1).
  GreyImage RenderLine(const std::string& text, const TextStyle& style, int margin,
                       std::vector<TRect>* boxes) const;

  const std::string& Path() const { return path_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string path_;
};

// Ink where coverage reaches Threshold (0..1): a low threshold gives bold strokes, a high
// one thin strokes.
InkImage Binarise(const GreyImage& grey, float threshold);

// Grey turned by Degrees about its centre (positive: clockwise on the page, so that a line
// falls to the right), sampled bilinearly onto a canvas just large enough to hold all of it.
GreyImage Turn(const GreyImage& grey, double degrees);

// The smallest rectangle holding every ink pixel of Image inside Within (inclusive), or
// 0,0,-1,-1 when there is none.
TRect InkBounds(const InkImage& image, const TRect& within);

// The standard places of the typeface's files on Debian (fonts-ocr-b).
std::string DefaultFontPath(const std::string& file_name);

}  // namespace ocrb::train

#endif  // OCRB_TOOLS_TRAIN_RENDER_H_
