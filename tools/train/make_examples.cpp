// ocrb_make_examples: renders the images in examples/ and, for measuring binarisation, sets
// of grey scanned-looking images. Every image comes with NAME.gt.txt, its text.
//
//   ocrb_make_examples DIR                 the bundled examples
//   ocrb_make_examples --grey DIR N SEED   N grey PNGs with uneven light, blur and noise
//
// Text is set in the OCR-B faces with FreeType, blurred like a scanner's optics, given paper
// noise and then either thresholded (1-bit files) or kept grey. Same arguments, same bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "reader/decoders.h"
#include "reader/image.h"
#include "reader/lept.h"
#include "tools/train/render.h"

namespace {

using ocrb::reader::Pix;
using ocrb::train::Font;
using ocrb::train::GreyImage;
using ocrb::train::TextStyle;

constexpr double kLinePitchMm = 25.4 / 6;  // six lines to the inch

struct Scan {
  double XDpi = 200;
  double YDpi = 200;
  double DigitHeightMm = 2.54;
  double BlurPx = 0.6;     // Gaussian sigma, pixels
  double NoiseLevels = 6;  // Gaussian noise on 0..255 grey
  double Paper = 235;      // grey of the paper at the left edge
  double PaperSlope = 0;   // change of paper grey from left to right edge
  double Ink = 40;         // grey of full ink
  double SkewDegrees = 0;
};

// Lays the lines out one under another (0 = paper, 1 = ink).
GreyImage SetLines(const Font& font, const std::vector<std::string>& lines, const Scan& scan) {
  TextStyle style;
  style.XDpi = scan.XDpi;
  style.YDpi = scan.YDpi;
  style.DigitHeightMm = scan.DigitHeightMm;
  const int margin = static_cast<int>(std::lround(3.0 / 25.4 * scan.XDpi));
  const int pitch = static_cast<int>(std::lround(kLinePitchMm / 25.4 * scan.YDpi));
  std::vector<GreyImage> rendered;
  int width = 0;
  for (const std::string& text : lines) {
    rendered.push_back(font.RenderLine(text, style, margin, nullptr));
    width = std::max(width, rendered.back().Width);
  }
  GreyImage page;
  page.Width = width;
  page.Height = rendered.back().Height + pitch * static_cast<int>(lines.size() - 1);
  page.Pixels.assign(static_cast<size_t>(page.Width) * page.Height, 0.0f);
  for (size_t l = 0; l < rendered.size(); ++l) {
    const int top = pitch * static_cast<int>(l);
    for (int y = 0; y < rendered[l].Height; ++y) {
      for (int x = 0; x < rendered[l].Width; ++x) {
        float& v = page.At(x, top + y);
        v = std::min(1.0f, v + rendered[l].At(x, y));
      }
    }
  }
  return page;
}

// Rotates about the centre by Degrees (nearest neighbour on the coverage).
GreyImage Skew(const GreyImage& in, double degrees) {
  if (degrees == 0) return in;
  const double a = degrees * 3.14159265358979 / 180, c = std::cos(a), s = std::sin(a);
  GreyImage out = in;
  const double cx = in.Width / 2.0, cy = in.Height / 2.0;
  for (int y = 0; y < in.Height; ++y) {
    for (int x = 0; x < in.Width; ++x) {
      const int sx = static_cast<int>(std::lround(c * (x - cx) + s * (y - cy) + cx));
      const int sy = static_cast<int>(std::lround(-s * (x - cx) + c * (y - cy) + cy));
      out.At(x, y) = sx >= 0 && sy >= 0 && sx < in.Width && sy < in.Height ? in.At(sx, sy) : 0.0f;
    }
  }
  return out;
}

GreyImage Blur(const GreyImage& in, double sigma) {
  if (sigma <= 0) return in;
  const int radius = static_cast<int>(std::ceil(3 * sigma));
  std::vector<float> kernel(2 * radius + 1);
  float sum = 0;
  for (int i = -radius; i <= radius; ++i) {
    sum += kernel[i + radius] = static_cast<float>(std::exp(-i * i / (2 * sigma * sigma)));
  }
  for (float& k : kernel) k /= sum;
  GreyImage pass = in, out = in;
  for (int y = 0; y < in.Height; ++y) {
    for (int x = 0; x < in.Width; ++x) {
      float v = 0;
      for (int i = -radius; i <= radius; ++i) {
        v += kernel[i + radius] * in.At(std::clamp(x + i, 0, in.Width - 1), y);
      }
      pass.At(x, y) = v;
    }
  }
  for (int y = 0; y < in.Height; ++y) {
    for (int x = 0; x < in.Width; ++x) {
      float v = 0;
      for (int i = -radius; i <= radius; ++i) {
        v += kernel[i + radius] * pass.At(x, std::clamp(y + i, 0, in.Height - 1));
      }
      out.At(x, y) = v;
    }
  }
  return out;
}

// The scanned grey picture of the coverage: paper and ink levels, light falling off across
// the sheet, noise.
Pix ToGrey(const GreyImage& coverage, const Scan& scan, std::mt19937& random) {
  Pix pix(pixCreate(coverage.Width, coverage.Height, 8));
  if (!pix) throw std::runtime_error("out of memory");
  pixSetResolution(pix.get(), static_cast<l_int32>(scan.XDpi), static_cast<l_int32>(scan.YDpi));
  std::normal_distribution<double> noise(0, scan.NoiseLevels);
  for (int y = 0; y < coverage.Height; ++y) {
    for (int x = 0; x < coverage.Width; ++x) {
      const double paper = scan.Paper + scan.PaperSlope * x / coverage.Width;
      const double v = paper + (scan.Ink - paper) * coverage.At(x, y) + noise(random);
      pixSetPixel(pix.get(), x, y, static_cast<l_uint32>(std::clamp(std::lround(v), 0L, 255L)));
    }
  }
  return pix;
}

Pix Threshold(PIX* grey, int level) {
  return Pix(pixThresholdToBinary(grey, level));
}

Pix Render(const Font& font, const std::vector<std::string>& lines, const Scan& scan,
           std::mt19937& random) {
  return ToGrey(Blur(Skew(SetLines(font, lines, scan), scan.SkewDegrees), scan.BlurPx), scan,
                random);
}

void WriteText(const std::filesystem::path& path, const std::vector<std::string>& lines) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) throw std::runtime_error("cannot write " + path.string());
  for (const std::string& line : lines) std::fprintf(file, "%s\n", line.c_str());
  std::fclose(file);
}

// A 1-bit BMP: the file header, then the packed DIB the engine reads.
void WriteBmp(const std::filesystem::path& path, PIX* ink) {
  l_int32 x_dpi = 0, y_dpi = 0;
  pixGetResolution(ink, &x_dpi, &y_dpi);
  const std::vector<uint8_t> dib = ocrb::reader::PackDib(ink, x_dpi, y_dpi);
  const uint32_t size = static_cast<uint32_t>(14 + dib.size());
  const uint32_t offset = 14 + 40 + 8;
  const uint8_t header[14] = {'B',
                              'M',
                              static_cast<uint8_t>(size),
                              static_cast<uint8_t>(size >> 8),
                              static_cast<uint8_t>(size >> 16),
                              static_cast<uint8_t>(size >> 24),
                              0,
                              0,
                              0,
                              0,
                              static_cast<uint8_t>(offset),
                              0,
                              0,
                              0};
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot write " + path.string());
  std::fwrite(header, 1, sizeof header, file);
  std::fwrite(dib.data(), 1, dib.size(), file);
  std::fclose(file);
}

// The pages' texts in one file, as ocrb's text output separates pages: by a form feed line.
void WritePages(const std::filesystem::path& path,
                const std::vector<std::vector<std::string>>& pages) {
  std::vector<std::string> lines;
  for (size_t p = 0; p < pages.size(); ++p) {
    if (p > 0) lines.push_back("\f");
    lines.insert(lines.end(), pages[p].begin(), pages[p].end());
  }
  WriteText(path, lines);
}

// A grey picture as colour: paper of a pale yellow, ink of a dark blue.
Pix Tint(PIX* grey) {
  const int width = pixGetWidth(grey), height = pixGetHeight(grey);
  Pix colour(pixCreate(width, height, 32));
  if (!colour) throw std::runtime_error("out of memory");
  pixCopyResolution(colour.get(), grey);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      l_uint32 v = 0;
      pixGetPixel(grey, x, y, &v);
      const double g = v / 255.0;
      l_uint32 rgb = 0;
      composeRGBPixel(static_cast<l_int32>(std::lround(20 + 235 * g)),
                      static_cast<l_int32>(std::lround(30 + 215 * g)),
                      static_cast<l_int32>(std::lround(90 + 110 * g)), &rgb);
      pixSetPixel(colour.get(), x, y, rgb);
    }
  }
  return colour;
}

// A PDF of one page holding the picture at Dpi.
void WritePdf(const std::filesystem::path& path, PIX* pix, int dpi) {
  l_uint8* data = nullptr;
  size_t size = 0;
  // Without the date of writing, the same picture gives the same bytes.
  l_pdfSetDateAndVersion(0);
  if (pixWriteMemPdf(&data, &size, pix, dpi, nullptr) != 0 || data == nullptr) {
    throw std::runtime_error("cannot make " + path.string());
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  const bool written = file != nullptr && std::fwrite(data, 1, size, file) == size;
  if (file != nullptr) std::fclose(file);
  lept_free(data);
  if (!written) throw std::runtime_error("cannot write " + path.string());
}

void WritePix(const std::filesystem::path& path, PIX* pix, l_int32 format) {
  if (pixWrite(path.c_str(), pix, format) != 0) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

void MakeExamples(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  const Font font(ocrb::train::DefaultFontPath("OCRB.otf"));
  std::mt19937 random(20240607);

  // A payment-slip coding line, scanned at 200 dpi and saved as a 1-bit BMP.
  const std::vector<std::string> coding = {"0100000123456>120000019876543210005+ 010304565>"};
  Scan plain;
  plain.BlurPx = 0.7;
  plain.NoiseLevels = 10;
  plain.SkewDegrees = 0.3;
  Pix coding_grey = Render(font, coding, plain, random);
  WriteBmp(dir / "coding-200dpi.bmp", Threshold(coding_grey.get(), 138).get());
  WriteText(dir / "coding-200dpi.gt.txt", coding);

  // A block of lines at 300 dpi, kept grey with light falling off to the right: the reader
  // binarises it.
  const std::vector<std::string> block = {"1234567890 +-<># 0987654321", "<<4721>> #3018-55+",
                                          "2020-06-30 >>> 774411+", "#9632587410#"};
  Scan page;
  page.XDpi = page.YDpi = 300;
  page.DigitHeightMm = 2.4;
  page.BlurPx = 1.0;
  page.NoiseLevels = 4;
  page.Paper = 230;
  page.PaperSlope = -60;
  page.Ink = 60;
  page.SkewDegrees = -0.4;
  WritePix(dir / "block-300dpi.png", Render(font, block, page, random).get(), IFF_PNG);
  WriteText(dir / "block-300dpi.gt.txt", block);

  // A fax: 200 dpi across, 100 dpi down, Group 4 compressed.
  const std::vector<std::string> fax = {"+41 44 123 45 67", "0041-87#2231>09<"};
  Scan fine;
  fine.YDpi = 100;
  fine.DigitHeightMm = 2.8;
  fine.BlurPx = 0.4;
  fine.NoiseLevels = 6;
  Pix fax_grey = Render(font, fax, fine, random);
  WritePix(dir / "fax-200x100dpi.tif", Threshold(fax_grey.get(), 128).get(), IFF_TIFF_G4);
  WriteText(dir / "fax-200x100dpi.gt.txt", fax);

  // A slip's coding line in colour at 300 dpi, on tinted paper in dark blue ink: as a PNG, and
  // the same picture as a JPEG.
  const std::vector<std::string> slip = {"0100003949753>120000000000234478943216899+ 010001628>"};
  Scan colour;
  colour.XDpi = colour.YDpi = 300;
  colour.BlurPx = 0.9;
  colour.NoiseLevels = 2;
  colour.Paper = 240;
  Pix slip_picture = Tint(Render(font, slip, colour, random).get());
  // The PNG keeps 32 colours in a palette, which keeps it small.
  Pix slip_palette(pixOctreeQuantNumColors(slip_picture.get(), 32, 0));
  if (!slip_palette) throw std::runtime_error("out of memory");
  WritePix(dir / "slip-colour-300dpi.png", slip_palette.get(), IFF_PNG);
  WriteText(dir / "slip-colour-300dpi.gt.txt", slip);
  WritePix(dir / "slip-colour-300dpi.jpg", slip_picture.get(), IFF_JFIF_JPEG);

  // Two pages of one Group 4 TIFF at 200 dpi: a coding line, then a block of two lines.
  const std::vector<std::string> first = {"0100000987659>210000000000000000000000017+ 010123453>"};
  const std::vector<std::string> second = {"<<0815>> 4711#", "2025-01-31 +41 44"};
  Scan sheet;
  sheet.NoiseLevels = 6;
  const std::filesystem::path tiff = dir / "pages-2.tif";
  std::filesystem::remove(tiff);
  for (const auto* lines : {&first, &second}) {
    Pix grey = Render(font, *lines, sheet, random);
    if (pixWriteTiff(tiff.c_str(), Threshold(grey.get(), 128).get(), IFF_TIFF_G4, "a") != 0) {
      throw std::runtime_error("cannot write " + tiff.string());
    }
  }
  WritePages(dir / "pages-2.gt.txt", {first, second});

  // A PDF of one page: a grey scan at 200 dpi embedded as an image.
  const std::vector<std::string> letter = {"0100001250005>000000000000004567891231231+ 010012341>",
                                           "4711 0815"};
  Pix letter_grey = Render(font, letter, sheet, random);
  WritePdf(dir / "letter.pdf", letter_grey.get(), 200);
  WriteText(dir / "letter.gt.txt", letter);

  // A grey PNG that states no resolution: the reader estimates it from the digits.
  const std::vector<std::string> bare = {"31 41 59 26 53 58 97", ">>2718281828<<"};
  Scan unknown;
  unknown.XDpi = unknown.YDpi = 240;
  unknown.NoiseLevels = 4;
  Pix bare_grey = Render(font, bare, unknown, random);
  pixSetXRes(bare_grey.get(), 0);  // pixSetResolution leaves a resolution of 0 unset
  pixSetYRes(bare_grey.get(), 0);
  WritePix(dir / "grey-no-dpi.png", bare_grey.get(), IFF_PNG);
  WriteText(dir / "grey-no-dpi.gt.txt", bare);

  // A list of inputs for --files-from, one name a line, relative to the top of the source
  // tree.
  WriteText(dir / "inputs.list",
            {"examples/coding-200dpi.bmp", "examples/pages-2.tif", "examples/grey-no-dpi.png"});
}

std::string RandomLine(std::mt19937& random, int length) {
  static const char kAlphabet[] = "0123456789+-><#";
  std::uniform_int_distribution<int> pick(0, 14), gap(0, 11);
  std::string line;
  for (int i = 0; i < length; ++i) {
    line += gap(random) == 0 && i > 0 && i + 1 < length && line.back() != ' '
                ? ' '
                : kAlphabet[pick(random)];
  }
  return line;
}

// Grey images spanning the troubles binarisation meets: weak contrast, light falling off,
// blur and noise.
void MakeGreySet(const std::filesystem::path& dir, int count, unsigned seed) {
  std::filesystem::create_directories(dir);
  const Font regular(ocrb::train::DefaultFontPath("OCRB.otf"));
  const Font bold(ocrb::train::DefaultFontPath("OCRBS.otf"));
  std::mt19937 random(seed);
  auto uniform = [&random](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(random);
  };
  const double kDpis[] = {200, 240, 300, 400};
  for (int i = 0; i < count; ++i) {
    Scan scan;
    scan.XDpi = scan.YDpi = kDpis[std::uniform_int_distribution<int>(0, 3)(random)];
    scan.DigitHeightMm = uniform(2.3, 2.8);
    scan.BlurPx = uniform(0.3, 1.6) * scan.XDpi / 200;
    scan.NoiseLevels = uniform(2, 25);
    scan.Paper = uniform(170, 250);
    scan.Ink = uniform(0, scan.Paper - 70);
    scan.PaperSlope = uniform(-90, 30);
    scan.SkewDegrees = uniform(-1, 1);
    std::vector<std::string> lines;
    const int line_count = std::uniform_int_distribution<int>(1, 4)(random);
    for (int l = 0; l < line_count; ++l) {
      lines.push_back(RandomLine(random, std::uniform_int_distribution<int>(8, 40)(random)));
    }
    char name[32];
    std::snprintf(name, sizeof name, "g%04d", i);
    const Font& font = uniform(0, 1) < 0.8 ? regular : bold;
    WritePix(dir / (std::string(name) + ".png"), Render(font, lines, scan, random).get(), IFF_PNG);
    WriteText(dir / (std::string(name) + ".gt.txt"), lines);
  }
}

}  // namespace

int main(int argc, char** argv) {
  setMsgSeverity(L_SEVERITY_WARNING);
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0][0] != '-') {
      MakeExamples(args[0]);
    } else if (args.size() == 4 && args[0] == "--grey") {
      MakeGreySet(args[1], std::stoi(args[2]), static_cast<unsigned>(std::stoul(args[3])));
    } else {
      std::fprintf(stderr, "usage: ocrb_make_examples DIR | --grey DIR N SEED\n");
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ocrb_make_examples: %s\n", e.what());
    return 1;
  }
  return 0;
}
