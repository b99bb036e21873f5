// A page is rendered as grey coverage at its true resolution, line by line on a 2.54 mm
// pitch, then degraded in the order a print-and-scan chain does it: stroke weight (coverage
// scaled), optical blur (separable Gaussian), a slight rotation about the centre, sensor
// noise, binarisation at a threshold, and isolated specks. Half-height pages are rendered
// square and lose every other row, as a fax-mode scan does.
#include "tools/train/pages.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "classify/classifier.h"
#include "image/packed_dib.h"

namespace ocrb::train {
namespace {

// One pass of a 1-D kernel over Count lines of Length samples each; sample I of line L sits at
// Pixels[L * LineStep + I * Step]. Paper lies beyond the ends.
void Convolve(std::vector<float>& pixels, int count, int length, size_t line_step, size_t step,
              const std::vector<float>& kernel) {
  const int radius = static_cast<int>(kernel.size() / 2);
  std::vector<float> line(length);
  for (int l = 0; l < count; ++l) {
    float* base = &pixels[l * line_step];
    for (int i = 0; i < length; ++i) {
      float sum = 0;
      for (int k = std::max(-radius, -i); k <= radius && i + k < length; ++k)
        sum += kernel[k + radius] * base[(i + k) * step];
      line[i] = sum;
    }
    for (int i = 0; i < length; ++i) base[i * step] = line[i];
  }
}

void Blur(GreyImage& image, double sigma) {
  if (sigma < 0.2) return;
  const int radius = static_cast<int>(std::ceil(3 * sigma));
  std::vector<float> kernel(2 * radius + 1);
  float total = 0;
  for (int i = -radius; i <= radius; ++i)
    total += kernel[i + radius] = static_cast<float>(std::exp(-i * i / (2 * sigma * sigma)));
  for (float& k : kernel) k /= total;
  const size_t width = static_cast<size_t>(image.Width);
  Convolve(image.Pixels, image.Height, image.Width, width, 1, kernel);  // rows
  Convolve(image.Pixels, image.Width, image.Height, 1, width, kernel);  // columns
}

GreyImage Rotate(const GreyImage& image, double angle, std::vector<TrueGlyph>& glyphs) {
  if (std::fabs(angle) < 1e-6) return image;
  const double c = std::cos(angle), s = std::sin(angle);
  const double cx = image.Width / 2.0, cy = image.Height / 2.0;
  GreyImage out;
  out.Width = image.Width;
  out.Height = image.Height;
  out.Pixels.assign(image.Pixels.size(), 0);
  for (int y = 0; y < out.Height; ++y) {
    for (int x = 0; x < out.Width; ++x) {
      // The source of (x, y) under the inverse rotation, sampled bilinearly.
      const double sx = c * (x - cx) + s * (y - cy) + cx;
      const double sy = -s * (x - cx) + c * (y - cy) + cy;
      const int x0 = static_cast<int>(std::floor(sx)), y0 = static_cast<int>(std::floor(sy));
      const double fx = sx - x0, fy = sy - y0;
      auto at = [&](int xx, int yy) -> double {
        return xx < 0 || yy < 0 || xx >= image.Width || yy >= image.Height ? 0.0 : image.At(xx, yy);
      };
      out.At(x, y) = static_cast<float>((1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x0 + 1, y0)) +
                                        fy * ((1 - fx) * at(x0, y0 + 1) + fx * at(x0 + 1, y0 + 1)));
    }
  }
  for (TrueGlyph& g : glyphs) {
    double left = 1e9, top = 1e9, right = -1e9, bottom = -1e9;
    for (int corner = 0; corner < 4; ++corner) {
      const double px = (corner & 1) ? g.Box.Right : g.Box.Left;
      const double py = (corner & 2) ? g.Box.Bottom : g.Box.Top;
      const double rx = c * (px - cx) - s * (py - cy) + cx;
      const double ry = s * (px - cx) + c * (py - cy) + cy;
      left = std::min(left, rx);
      right = std::max(right, rx);
      top = std::min(top, ry);
      bottom = std::max(bottom, ry);
    }
    g.Box =
        TRect{static_cast<int32_t>(std::lround(left)), static_cast<int32_t>(std::lround(top)),
              static_cast<int32_t>(std::lround(right)), static_cast<int32_t>(std::lround(bottom))};
  }
  return out;
}

using layout::Put32;

// The packed 1-bit DIB of Ink, keeping every Step-th row (Step 2 for a half-height page).
std::vector<uint8_t> PackDib(const InkImage& ink, int step, int x_dpi, int y_dpi,
                             bool white_first) {
  const int width = ink.Width, height = (ink.Height + step - 1) / step;
  const size_t stride = ((static_cast<size_t>(width) + 31) / 32) * 4;
  std::vector<uint8_t> b(48 + stride * height, 0);
  Put32(b, 0, 40);
  Put32(b, 4, static_cast<uint32_t>(width));
  Put32(b, 8, static_cast<uint32_t>(height));
  b[12] = 1;
  b[14] = 1;
  Put32(b, 20, static_cast<uint32_t>(stride * height));
  const double factor = static_cast<double>(layout::kPelsPerMeterPerDpi);
  Put32(b, 24, static_cast<uint32_t>(std::lround(x_dpi * factor)));
  Put32(b, 28, static_cast<uint32_t>(std::lround(y_dpi * factor)));
  const uint32_t black = 0x000000, white = 0xFFFFFF;
  Put32(b, 40, white_first ? white : black);
  Put32(b, 44, white_first ? black : white);
  const int ink_value = white_first ? 1 : 0;
  for (int row = 0; row < height; ++row) {
    const int y = row * step;
    uint8_t* stored = &b[48 + stride * (height - 1 - row)];  // bottom row first
    for (int x = 0; x < width; ++x) {
      const int value = ink.At(x, y) ? ink_value : 1 - ink_value;
      if (value) stored[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  return b;
}

}  // namespace

std::string RandomLine(std::mt19937_64& random) {
  std::uniform_int_distribution<int> digit(0, 9), cls(0, kClassCount - 1);
  std::uniform_real_distribution<double> unit(0, 1);
  std::string line;
  if (unit(random) < 0.35) {
    // Coding-line-like: digit groups closed by symbols, separated by spaces.
    const int groups = 1 + static_cast<int>(unit(random) * 4);
    for (int g = 0; g < groups; ++g) {
      if (g > 0) line += ' ';
      const int n = 2 + static_cast<int>(unit(random) * 14);
      for (int i = 0; i < n; ++i) line += static_cast<char>('0' + digit(random));
      line += "><+#-"[static_cast<int>(unit(random) * 5)];
    }
    return line;
  }
  const int n = 3 + static_cast<int>(unit(random) * 40);
  for (int i = 0; i < n; ++i) {
    if (i > 0 && i + 1 < n && unit(random) < 0.07)
      line += std::string(1 + (unit(random) < 0.3), ' ');
    line += kAlphabet[cls(random)];
  }
  return line;
}

std::string RandomProse(std::mt19937_64& random) {
  static const char* const kWords[] = {"Lorem",        "ipsum",        "dolor",
                                       "sit",          "amet",         "consectetur",
                                       "adipiscing",   "elit",         "sed",
                                       "eiusmod",      "tempor",       "incididunt",
                                       "labore",       "dolore",       "magna",
                                       "aliqua",       "Ut",           "enim",
                                       "minim",        "veniam",       "quis",
                                       "nostrud",      "exercitation", "ullamco",
                                       "laboris",      "nisi",         "aliquip",
                                       "commodo",      "consequat",    "Duis",
                                       "aute",         "irure",        "reprehenderit",
                                       "voluptate",    "Zahlteil",     "Empfangsschein",
                                       "Konto",        "Betrag",       "Referenz",
                                       "Zahlbar",      "durch",        "Zahlungspflichtiger",
                                       "Einzahlung",   "Giro",         "Versement",
                                       "Compte",       "Montant",      "Payable",
                                       "par",          "Ricevuta",     "Conto",
                                       "Importo",      "Invoice",      "Amount",
                                       "Account",      "Due",          "date",
                                       "Payment",      "slip",         "Customer",
                                       "number",       "Please",       "pay",
                                       "within",       "days",         "Musterstrasse",
                                       "Bahnhofplatz", "Hauptgasse",   "Bern",
                                       "Basel",        "Zurich",       "Geneve",
                                       "Lausanne",     "Muster",       "AG",
                                       "GmbH",         "SA",           "Hans",
                                       "Meier",        "Anna",         "Keller",
                                       "Postfach",     "Tel",          "Fax",
                                       "Nr",           "CHF",          "EUR",
                                       "IBAN",         "MwSt",         "Total",
                                       "Rechnung",     "Datum"};
  std::uniform_real_distribution<double> unit(0, 1);
  const size_t word_count = sizeof(kWords) / sizeof(kWords[0]);
  auto number = [&](int digits) {
    std::string n;
    for (int i = 0; i < digits; ++i)
      n += static_cast<char>('0' + static_cast<int>(unit(random) * 10));
    return n;
  };
  std::string line;
  const int tokens = 2 + static_cast<int>(unit(random) * 9);
  for (int t = 0; t < tokens; ++t) {
    if (t > 0) line += ' ';
    const double kind = unit(random);
    if (kind < 0.72) {
      line += kWords[static_cast<size_t>(unit(random) * word_count)];
    } else if (kind < 0.80) {
      line += number(1 + static_cast<int>(unit(random) * 4));  // a house number or postcode
    } else if (kind < 0.86) {                                  // a date
      line += number(2);
      line += '.';
      line += number(2);
      line += ".20";
      line += number(2);
    } else if (kind < 0.92) {  // an amount
      line += number(1 + static_cast<int>(unit(random) * 4));
      line += '.';
      line += number(2);
    } else {  // part of an account number
      line += "CH";
      line += number(2);
      line += ' ';
      line += number(4);
      line += ' ';
      line += number(4);
    }
    if (unit(random) < 0.12) line += ",.:;/"[static_cast<int>(unit(random) * 5)];
  }
  return line;
}

std::vector<std::string> DefaultOtherFonts() {
  return {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
          "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
          "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf",
          "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
          "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
          "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf",
          "/usr/share/fonts/truetype/liberation2/LiberationSerif-Regular.ttf",
          "/usr/share/fonts/truetype/liberation2/LiberationMono-Regular.ttf",
          "/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf",
          "/usr/share/fonts/truetype/noto/NotoSerif-Regular.ttf",
          "/usr/share/fonts/truetype/noto/NotoSansMono-Regular.ttf"};
}

PageMaker::PageMaker(const std::string& regular_font, const std::string& bold_font,
                     const std::vector<std::string>& other_fonts)
    : regular_(regular_font), bold_(bold_font) {
  for (const std::string& path : other_fonts) others_.push_back(std::make_unique<Font>(path));
}

SynthPage PageMaker::Make(const PageRecipe& r, std::mt19937_64& random) const {
  std::uniform_real_distribution<double> unit(0, 1);
  auto between = [&](double low, double high) { return low + (high - low) * unit(random); };
  const bool half_height = unit(random) < r.HalfHeightShare;
  int dpi = half_height ? 200 : static_cast<int>(std::lround(between(r.MinDpi, r.MaxDpi)));
  if (r.FixedDpi > 0) dpi = r.FixedDpi;
  const bool bold = unit(random) < r.BoldFaceShare;
  const Font& font = bold ? bold_ : regular_;

  SynthPage page;
  int lines = r.MinLines + static_cast<int>(unit(random) * (r.MaxLines - r.MinLines + 1));
  if (r.FixedLines > 0) lines = r.FixedLines;
  TextStyle style;
  style.XDpi = style.YDpi = dpi;
  style.DigitHeightMm = between(r.MinDigitMm, r.MaxDigitMm);
  const double line_pitch = between(3.8, 6.0) / 25.4 * dpi;  // baseline to baseline
  const int margin = static_cast<int>(dpi / 200.0 * 8);

  std::vector<GreyImage> rendered;
  std::vector<std::vector<TRect>> boxes(lines);
  int width = 0;
  for (int l = 0; l < lines; ++l) {
    page.Lines.push_back(RandomLine(random));
    style.OffsetX = unit(random);
    style.OffsetY = unit(random);
    rendered.push_back(font.RenderLine(page.Lines.back(), style, 2, &boxes[l]));
    width = std::max(width, rendered.back().Width);
  }
  const int row_height = rendered[0].Height;
  std::vector<int> line_x(lines);
  for (int l = 0; l < lines; ++l)
    line_x[l] = static_cast<int>(unit(random) * (width - rendered[l].Width + 1));

  // Ordinary text: lines above and below the OCR-B block, and words beside its lines.
  struct Placed {
    GreyImage Image;
    int X = 0, Y = 0;  // Y relative to the block it belongs to
  };
  std::vector<Placed> above, below, beside;
  int above_height = 0, below_height = 0, right = margin + width;
  if (r.OtherTextShare > 0 && !others_.empty() && unit(random) < r.OtherTextShare) {
    auto prose = [&](const std::string& text) {
      const Font& other = *others_[static_cast<size_t>(unit(random) * others_.size())];
      TextStyle ordinary;
      ordinary.XDpi = ordinary.YDpi = dpi;
      ordinary.DigitHeightMm = between(r.MinOtherDigitMm, r.MaxOtherDigitMm);
      ordinary.Proportional = true;
      ordinary.OffsetX = unit(random);
      ordinary.OffsetY = unit(random);
      return other.RenderLine(text, ordinary, 2, nullptr);
    };
    const int count = 1 + static_cast<int>(unit(random) * r.MaxOtherLines);
    const int under = static_cast<int>(unit(random) * std::min(count, 3));
    for (int k = 0; k < count; ++k) {
      Placed placed;
      placed.Image = prose(RandomProse(random));
      std::vector<Placed>& block = k < count - under ? above : below;
      int& height = k < count - under ? above_height : below_height;
      placed.Y = height;
      height += static_cast<int>(std::lround(placed.Image.Height * between(1.0, 1.5)));
      block.push_back(std::move(placed));
    }
    const double mm = dpi / 25.4;
    if (above_height > 0) above_height += static_cast<int>(between(1.0, 6.0) * mm);
    if (below_height > 0) {
      const int gap = static_cast<int>(between(1.0, 6.0) * mm);
      for (Placed& p : below) p.Y += gap;
      below_height += gap;
    }
    if (unit(random) < r.OtherBesideShare) {
      for (int l = 0; l < lines; ++l) {
        if (unit(random) < 0.5) continue;
        std::string words = RandomProse(random);
        words = words.substr(0, words.find(' ', 4 + static_cast<size_t>(unit(random) * 12)));
        Placed placed;
        placed.Image = prose(words);
        placed.X =
            margin + line_x[l] + rendered[l].Width + static_cast<int>(between(2.0, 8.0) * mm);
        placed.Y =
            static_cast<int>(std::lround(line_pitch * l)) + (row_height - placed.Image.Height) / 2;
        right = std::max(right, placed.X + placed.Image.Width);
        beside.push_back(std::move(placed));
      }
    }
    for (Placed& p : above) right = std::max(right, margin + p.Image.Width);
    for (Placed& p : below) right = std::max(right, margin + p.Image.Width);
    for (std::vector<Placed>* block : {&above, &below}) {
      for (Placed& p : *block)
        p.X = margin + static_cast<int>(unit(random) * (right - margin - p.Image.Width + 1));
    }
  }

  GreyImage grey;
  grey.Width = right + margin;
  const int block_top = margin + above_height;
  const int block_height = static_cast<int>(std::ceil(line_pitch * (lines - 1))) + row_height;
  grey.Height = block_top + block_height + below_height + margin;
  grey.Pixels.assign(static_cast<size_t>(grey.Width) * grey.Height, 0);
  auto paste = [&grey](const GreyImage& image, int dx, int dy) {
    for (int y = 0; y < image.Height; ++y) {
      if (dy + y < 0 || dy + y >= grey.Height) continue;
      for (int x = 0; x < image.Width; ++x) {
        if (dx + x < 0 || dx + x >= grey.Width) continue;
        grey.At(dx + x, dy + y) = std::max(grey.At(dx + x, dy + y), image.At(x, y));
      }
    }
  };
  for (int l = 0; l < lines; ++l) {
    const int dx = margin + line_x[l];
    const int dy = block_top + static_cast<int>(std::lround(line_pitch * l));
    paste(rendered[l], dx, dy);
    for (size_t k = 0; k < page.Lines[l].size(); ++k) {
      const TRect& b = boxes[l][k];
      if (page.Lines[l][k] == ' ' || b.Left > b.Right) continue;
      page.Glyphs.push_back(
          TrueGlyph{page.Lines[l][k], TRect{b.Left + dx, b.Top + dy, b.Right + dx, b.Bottom + dy}});
    }
  }
  for (const Placed& p : above) paste(p.Image, p.X, margin + p.Y);
  for (const Placed& p : beside) paste(p.Image, p.X, block_top + p.Y);
  for (const Placed& p : below) paste(p.Image, p.X, block_top + block_height + p.Y);

  // Degradation: a third of the pages nearly clean, a third mild, a third heavy.
  const double scale = dpi / 200.0;
  double level = unit(random) * 3;
  const bool thin = r.ExtraThinShare > 0 && unit(random) < r.ExtraThinShare;
  if (thin) level = 2 + unit(random);
  if (r.ExtraHeavyShare > 0 && unit(random) < r.ExtraHeavyShare) level = 2 + unit(random);
  const double severity = level < 1   ? 0.15 * level
                          : level < 2 ? 0.15 + 0.35 * (level - 1)
                                      : 0.5 + 0.5 * (level - 2);
  const double stroke = between(-1, 1);
  double weight = std::exp(stroke * severity * std::log(stroke < 0 ? r.MaxThinning : r.MaxWeight));
  if (thin) weight = r.MinThinWeight + (r.MaxThinWeight - r.MinThinWeight) * (stroke + 1) / 2;
  if (r.FixedWeight > 0) weight = r.FixedWeight;
  double blur = (0.35 + severity * (r.MaxBlur - 0.35) * unit(random)) * scale;
  if (r.FixedBlur >= 0) blur = r.FixedBlur;
  for (float& v : grey.Pixels) v = static_cast<float>(std::min(1.0, v * weight));
  Blur(grey, blur);
  const double angle_deg = r.TurnDeg > 0 ? between(-r.TurnDeg, r.TurnDeg)
                                         : between(-r.MaxAngleDeg, r.MaxAngleDeg) * severity;
  grey = Rotate(grey, angle_deg * std::numbers::pi / 180, page.Glyphs);
  const double noise = r.MaxNoise * severity * unit(random);
  std::normal_distribution<float> gauss(0.0f, static_cast<float>(noise));
  if (noise > 0.005)
    for (float& v : grey.Pixels) v += gauss(random);
  // The threshold moves away from one half with the severity; a thin stroke (weight below 1)
  // never meets a threshold above what its blurred coverage reaches.
  double threshold = 0.5 + between(-1, 1) * severity * (r.MaxThreshold - 0.5);
  threshold = std::clamp(threshold, r.MinThreshold, std::min(r.MaxThreshold, 0.8 * weight));
  if (r.FixedThreshold > 0) threshold = r.FixedThreshold;
  InkImage ink = Binarise(grey, static_cast<float>(threshold));
  const int speck_count =
      static_cast<int>(r.MaxSpecks * severity * unit(random) * ink.Width * ink.Height);
  for (int i = 0; i < speck_count; ++i) {
    const int x = static_cast<int>(unit(random) * ink.Width);
    const int y = static_cast<int>(unit(random) * ink.Height);
    const int size = 1 + static_cast<int>(unit(random) * 1.5 * scale);
    for (int yy = y; yy < std::min(ink.Height, y + size); ++yy)
      for (int xx = x; xx < std::min(ink.Width, x + size); ++xx)
        ink.Pixels[static_cast<size_t>(yy) * ink.Width + xx] = 1;
  }
  const bool white_first = unit(random) < 0.2;
  page.Dib = PackDib(ink, half_height ? 2 : 1, dpi, half_height ? dpi / 2 : dpi, white_first);
  page.Width = ink.Width;
  page.Height = half_height ? ((ink.Height + 1) / 2) * 2 : ink.Height;
  page.Facts.XDpi = dpi;
  page.Facts.YDpi = half_height ? dpi / 2 : dpi;
  page.Facts.Level = level < 1 ? "clean" : level < 2 ? "mild" : "heavy";
  page.Facts.Bold = bold;
  page.Facts.Weight = weight;
  page.Facts.Blur = blur;
  page.Facts.Threshold = threshold;
  page.Facts.AngleDeg = angle_deg;
  return page;
}

}  // namespace ocrb::train
