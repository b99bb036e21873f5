#include "reader/overlay.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

namespace ocrb::reader {
namespace {

struct Colour {
  l_uint8 Red, Green, Blue;
};

Colour ColourOf(char ch, float confidence) {
  if (ch == '~' || confidence < kDoubtfulConfidence) return {220, 0, 0};
  if (confidence < kSureConfidence) return {235, 130, 0};
  return {0, 160, 0};
}

// Pages with non-square pixels are shown stretched to square ones; boxes follow.
struct Stretch {
  double X = 1;
  double Y = 1;
  TRect Apply(const TRect& r) const {
    auto edge = [](int32_t v, double f) { return static_cast<int32_t>(std::floor(v * f)); };
    return TRect{edge(r.Left, X), edge(r.Top, Y), edge(r.Right + 1, X) - 1,
                 edge(r.Bottom + 1, Y) - 1};
  }
};

// The largest built-in font whose letters stand no taller than about half a character.
Bmf FontFor(const PageResult& result, const Stretch& stretch) {
  std::vector<int> heights;
  for (const TextLine& line : result.Lines) {
    for (size_t k = 0; k < line.Text.size(); ++k) {
      const TRect r = stretch.Apply(line.Boxes[k]);
      if (line.Text[k] != ' ') heights.push_back(r.Bottom - r.Top + 1);
    }
  }
  int typical = 20;
  if (!heights.empty()) {
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    typical = heights[heights.size() / 2];
  }
  // Built-in sizes 4, 6, ... 20 have letters about 2.8 pixels tall per point.
  const int size = std::clamp(static_cast<int>(typical * 0.55 / 2.8) / 2 * 2, 4, 20);
  return Bmf(bmfCreate(nullptr, size));
}

}  // namespace

void WriteOverlay(PIX* picture, const PageResult& result, const std::string& path) {
  Stretch stretch;
  if (result.XDpi > 0 && result.YDpi > 0 && result.XDpi != result.YDpi) {
    const double square = std::max(result.XDpi, result.YDpi);
    stretch = Stretch{square / result.XDpi, square / result.YDpi};
  }
  Pix grey(pixConvertTo8(picture, 0));
  if (grey && (stretch.X != 1 || stretch.Y != 1)) {
    grey.reset(pixScale(grey.get(), static_cast<float>(stretch.X), static_cast<float>(stretch.Y)));
  }
  if (!grey) throw std::bad_alloc();
  // Ink becomes dark grey so that the coloured marks stand out on it.
  Pix light(pixGammaTRC(nullptr, grey.get(), 1.0f, -128, 255));
  Pix canvas(light ? pixConvertTo32(light.get()) : nullptr);
  Bmf font = FontFor(result, stretch);
  if (!canvas || !font) throw std::bad_alloc();
  const int ascent = font->baselinetab[static_cast<int>('8')];

  for (const TextLine& line : result.Lines) {
    for (size_t k = 0; k < line.Text.size(); ++k) {
      const char ch = line.Text[k];
      if (ch == ' ') continue;
      const TRect r = stretch.Apply(line.Boxes[k]);
      const Colour colour = ColourOf(ch, line.Confidences[k]);
      Box box(boxCreate(r.Left, r.Top, r.Right - r.Left + 1, r.Bottom - r.Top + 1));
      if (box) pixRenderBoxArb(canvas.get(), box.get(), 1, colour.Red, colour.Green, colour.Blue);

      const char label[2] = {ch, '\0'};
      l_int32 width = 0;
      bmfGetStringWidth(font.get(), label, &width);
      const int x = (r.Left + r.Right + 1 - width) / 2;
      int baseline = r.Top - 2;
      if (baseline - ascent < 0) baseline = r.Bottom + 2 + ascent;
      l_uint32 value = 0;
      composeRGBPixel(colour.Red, colour.Green, colour.Blue, &value);
      l_int32 drawn = 0, overflow = 0;
      pixSetTextline(canvas.get(), font.get(), label, value, x, baseline, &drawn, &overflow);
    }
  }
  errno = 0;
  if (pixWrite(path.c_str(), canvas.get(), IFF_PNG) != 0) {
    throw InputError(kExitEnvironment,
                     "cannot write the overlay " + path + ": " +
                         (errno != 0 ? std::strerror(errno) : "PNG encoding failed"));
  }
}

}  // namespace ocrb::reader
