// Text is laid out on a fixed pitch, as OCR-B coding lines are printed: every character cell
// is PitchMm wide and the glyph is centred in its cell. The em size is chosen so that the
// digit "0" stands DigitHeightMm tall. Rendering is unhinted anti-aliased coverage, so a
// sub-pixel shift moves the edges as a real scan's sampling grid would.
#include "tools/train/render.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace ocrb::train {

struct Font::Impl {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  double digit_height_units = 0;  // height of "0" in font units
  ~Impl() {
    if (face != nullptr) FT_Done_Face(face);
    if (library != nullptr) FT_Done_FreeType(library);
  }
};

Font::Font(const std::string& path) : impl_(std::make_unique<Impl>()), path_(path) {
  if (FT_Init_FreeType(&impl_->library) != 0) throw std::runtime_error("FreeType start failed");
  if (FT_New_Face(impl_->library, path.c_str(), 0, &impl_->face) != 0)
    throw std::runtime_error("cannot open font " + path);
  if (FT_Load_Char(impl_->face, '0', FT_LOAD_NO_SCALE) != 0)
    throw std::runtime_error("font has no digit zero: " + path);
  impl_->digit_height_units = impl_->face->glyph->metrics.height;
  if (impl_->digit_height_units <= 0) throw std::runtime_error("bad digit height in " + path);
}

Font::~Font() = default;

GreyImage Font::RenderLine(const std::string& text, const TextStyle& style, int margin,
                           std::vector<TRect>* boxes) const {
  FT_Face face = impl_->face;
  const double mm_per_inch = 25.4;
  const double digit_px_y = style.DigitHeightMm / mm_per_inch * style.YDpi;
  const double em_px_y = digit_px_y * face->units_per_EM / impl_->digit_height_units;
  const double em_px_x = em_px_y * style.XDpi / style.YDpi;
  FT_Set_Char_Size(face, static_cast<FT_F26Dot6>(std::lround(em_px_x * 64)),
                   static_cast<FT_F26Dot6>(std::lround(em_px_y * 64)), 72, 72);
  const double pitch_px = style.PitchMm / mm_per_inch * style.XDpi;
  const double ascent_px = em_px_y * face->ascender / face->units_per_EM;
  const double descent_px = -em_px_y * face->descender / face->units_per_EM;

  // Where each character's advance starts: on the fixed pitch, or one after another by the
  // glyphs' own advances for ordinary typefaces.
  std::vector<double> starts(text.size() + 1, 0.0);
  for (size_t i = 0; i < text.size(); ++i) {
    if (!style.Proportional) {
      starts[i + 1] = static_cast<double>(i + 1) * pitch_px;
      continue;
    }
    double advance = 0;
    if (FT_Load_Char(face, static_cast<unsigned char>(text[i]), FT_LOAD_NO_HINTING) == 0)
      advance = face->glyph->advance.x / 64.0;
    starts[i + 1] = starts[i] + advance;
  }

  GreyImage image;
  image.Width = static_cast<int>(std::ceil(starts.back())) + 2 * margin + 2;
  image.Height = static_cast<int>(std::ceil(ascent_px + descent_px)) + 2 * margin + 2;
  image.Pixels.assign(static_cast<size_t>(image.Width) * image.Height, 0.0f);
  if (boxes != nullptr) boxes->assign(text.size(), TRect{0, 0, -1, -1});

  const double baseline = margin + 1 + ascent_px + style.OffsetY;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ') continue;
    if (FT_Load_Char(face, static_cast<unsigned char>(text[i]), FT_LOAD_NO_HINTING) != 0) continue;
    // Centre the glyph's advance in its cell, then shift by the sub-pixel offset.
    const double advance = face->glyph->advance.x / 64.0;
    const double cell = starts[i + 1] - starts[i];
    const double pen_x = margin + 1 + starts[i] + (cell - advance) / 2 + style.OffsetX;
    const double pen_floor_x = std::floor(pen_x);
    const double pen_floor_y = std::floor(baseline);
    FT_Vector delta{static_cast<FT_Pos>(std::lround((pen_x - pen_floor_x) * 64)),
                    static_cast<FT_Pos>(-std::lround((baseline - pen_floor_y) * 64))};
    FT_Set_Transform(face, nullptr, &delta);
    const FT_Error error = FT_Load_Char(face, static_cast<unsigned char>(text[i]),
                                        FT_LOAD_NO_HINTING | FT_LOAD_RENDER);
    FT_Set_Transform(face, nullptr, nullptr);
    if (error != 0) continue;
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    const int x0 = static_cast<int>(pen_floor_x) + face->glyph->bitmap_left;
    const int y0 = static_cast<int>(pen_floor_y) - face->glyph->bitmap_top;
    TRect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (unsigned r = 0; r < bitmap.rows; ++r) {
      for (unsigned c = 0; c < bitmap.width; ++c) {
        const int x = x0 + static_cast<int>(c), y = y0 + static_cast<int>(r);
        if (x < 0 || y < 0 || x >= image.Width || y >= image.Height) continue;
        const float v = bitmap.buffer[r * bitmap.pitch + c] / 255.0f;
        if (v <= 0) continue;
        image.At(x, y) = std::min(1.0f, image.At(x, y) + v);
        if (v < 0.5f) continue;  // the box holds what a mid threshold makes ink
        box.Left = std::min(box.Left, x);
        box.Top = std::min(box.Top, y);
        box.Right = std::max(box.Right, x);
        box.Bottom = std::max(box.Bottom, y);
      }
    }
    if (boxes != nullptr && box.Left <= box.Right) (*boxes)[i] = box;
  }
  return image;
}

InkImage Binarise(const GreyImage& grey, float threshold) {
  InkImage ink;
  ink.Width = grey.Width;
  ink.Height = grey.Height;
  ink.Pixels.resize(grey.Pixels.size());
  for (size_t i = 0; i < grey.Pixels.size(); ++i) ink.Pixels[i] = grey.Pixels[i] >= threshold;
  return ink;
}

GreyImage Turn(const GreyImage& grey, double degrees) {
  const double angle = degrees * std::numbers::pi / 180;
  const double c = std::cos(angle), s = std::sin(angle);
  GreyImage out;
  out.Width = static_cast<int>(std::ceil(std::fabs(c) * grey.Width + std::fabs(s) * grey.Height));
  out.Height = static_cast<int>(std::ceil(std::fabs(s) * grey.Width + std::fabs(c) * grey.Height));
  out.Pixels.assign(static_cast<size_t>(out.Width) * out.Height, 0);
  const double cx = grey.Width / 2.0, cy = grey.Height / 2.0;
  const double ox = out.Width / 2.0, oy = out.Height / 2.0;
  auto at = [&](int x, int y) -> double {
    return x < 0 || y < 0 || x >= grey.Width || y >= grey.Height ? 0.0 : grey.At(x, y);
  };
  for (int y = 0; y < out.Height; ++y) {
    for (int x = 0; x < out.Width; ++x) {
      // The source of (x, y) under the inverse turn.
      const double sx = c * (x - ox) + s * (y - oy) + cx;
      const double sy = -s * (x - ox) + c * (y - oy) + cy;
      const int x0 = static_cast<int>(std::floor(sx)), y0 = static_cast<int>(std::floor(sy));
      const double fx = sx - x0, fy = sy - y0;
      out.At(x, y) = static_cast<float>((1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x0 + 1, y0)) +
                                        fy * ((1 - fx) * at(x0, y0 + 1) + fx * at(x0 + 1, y0 + 1)));
    }
  }
  return out;
}

TRect InkBounds(const InkImage& image, const TRect& within) {
  TRect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  const int left = std::max(0, within.Left), top = std::max(0, within.Top);
  const int right = std::min(image.Width - 1, within.Right);
  const int bottom = std::min(image.Height - 1, within.Bottom);
  for (int y = top; y <= bottom; ++y) {
    for (int x = left; x <= right; ++x) {
      if (!image.At(x, y)) continue;
      box.Left = std::min(box.Left, x);
      box.Top = std::min(box.Top, y);
      box.Right = std::max(box.Right, x);
      box.Bottom = std::max(box.Bottom, y);
    }
  }
  if (box.Left > box.Right) return TRect{0, 0, -1, -1};
  return box;
}

std::string DefaultFontPath(const std::string& file_name) {
  return "/usr/share/fonts/opentype/ocr-b/" + file_name;
}

}  // namespace ocrb::train
