// The reader's input side: limits on file size, pixels and pages (each refused from the
// headers, before any decoding, and each with its boundary), TIFF pages decoded by the one-pass
// reader exactly as Leptonica decodes the same pixels from PNG, PNG and JPEG pages decoded a
// strip at a time exactly as Leptonica's whole-picture decoding gives them, and PDF pages
// rendered and read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pdf_test_util.h"
#include "reader/reader.h"
#include "reader_test_util.h"
#include "untrusted_files.h"

namespace ocrb::reader {
namespace {

using namespace test;

const std::filesystem::path kExamples = OCRB_EXAMPLES_DIR;

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

void PutBig16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}
void PutBig32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void PutLittle(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A little-endian TIFF written tag by tag: one directory per page, uncompressed, one strip.
struct TiffPage {
  uint32_t Width = 1;
  uint32_t Height = 1;
  uint16_t Bits = 1;
  uint16_t Photometric = 0;  // 0: min-is-white, 1: min-is-black
  uint16_t Orientation = 1;
  uint32_t Dpi = 0;              // 0: no resolution tags
  std::vector<uint8_t> Samples;  // the strip; empty: zeros, as many as the rows need
};
std::vector<uint8_t> MakeTiff(const std::vector<TiffPage>& pages) {
  std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
  for (size_t p = 0; p < pages.size(); ++p) {
    const TiffPage& page = pages[p];
    std::vector<uint8_t> strip = page.Samples;
    if (strip.empty()) {
      const uint64_t row = (uint64_t{page.Width} * page.Bits + 7) / 8;
      strip.assign(static_cast<size_t>(std::min<uint64_t>(row * page.Height, 1 << 20)), 0);
    }
    struct Tag {
      uint16_t Id, Type;
      uint32_t Value;
    };
    std::vector<Tag> tags = {{256, 4, page.Width},       {257, 4, page.Height},
                             {258, 3, page.Bits},        {259, 3, 1},
                             {262, 3, page.Photometric}, {273, 4, 0},
                             {274, 3, page.Orientation}, {277, 3, 1},
                             {278, 4, page.Height},      {279, 4, uint32_t(strip.size())}};
    if (page.Dpi > 0) tags.insert(tags.end(), {{282, 5, 0}, {283, 5, 0}, {296, 3, 2}});
    const size_t ifd = out.size();
    const size_t rationals = ifd + 2 + 12 * tags.size() + 4;
    const size_t strip_at = rationals + (page.Dpi > 0 ? 8 : 0);
    out.resize(strip_at);
    PutLittle(out, ifd, static_cast<uint32_t>(tags.size()), 2);
    for (size_t t = 0; t < tags.size(); ++t) {
      uint32_t value = tags[t].Value;
      if (tags[t].Id == 273) value = static_cast<uint32_t>(strip_at);
      if (tags[t].Type == 5) value = static_cast<uint32_t>(rationals);
      const size_t at = ifd + 2 + 12 * t;
      PutLittle(out, at, tags[t].Id, 2);
      PutLittle(out, at + 2, tags[t].Type, 2);
      PutLittle(out, at + 4, 1, 4);
      PutLittle(out, at + 8, value, tags[t].Type == 3 ? 2 : 4);
    }
    if (page.Dpi > 0) {
      PutLittle(out, rationals, page.Dpi, 4);
      PutLittle(out, rationals + 4, 1, 4);
    }
    out.insert(out.end(), strip.begin(), strip.end());
    const uint32_t next = p + 1 < pages.size() ? static_cast<uint32_t>(out.size()) : 0;
    PutLittle(out, ifd + 2 + 12 * tags.size(), next, 4);
  }
  return out;
}

// A GIF of Frames images of Width x Height each (LZW data of a single clear code: the decoder
// is never reached in the tests that use it).
std::vector<uint8_t> MakeGif(int frames, int width, int height) {
  std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0x80, 0, 0};
  PutLittle(out, 6, static_cast<uint32_t>(width), 2);
  PutLittle(out, 8, static_cast<uint32_t>(height), 2);
  out.insert(out.end(), {0, 0, 0, 255, 255, 255});  // a global table of two colours
  for (int f = 0; f < frames; ++f) {
    const size_t at = out.size();
    out.insert(out.end(), {0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    PutLittle(out, at + 5, static_cast<uint32_t>(width), 2);
    PutLittle(out, at + 7, static_cast<uint32_t>(height), 2);
    out.insert(out.end(), {2, 1, 0x04, 0});  // code size, one sub-block, end of data
  }
  out.push_back(0x3B);
  return out;
}

// The error DecodeImage throws for Bytes under Options ("" when it throws none).
std::string Refusal(const std::vector<uint8_t>& bytes, const LoadOptions& options) {
  try {
    DecodeImage(bytes, options, [](Page&&) {});
  } catch (const InputError& e) {
    EXPECT_EQ(e.Status(), kExitCorrupt) << e.what();
    return e.what();
  }
  return "";
}

// A scratch file removed at the end of the test.
class TempFile {
 public:
  explicit TempFile(const std::vector<uint8_t>& bytes) {
    char name[] = "/tmp/ocrb_input_test_XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    path_ = name;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

Pix Coding() {
  Pix pix(pixRead((kExamples / "coding-200dpi.bmp").c_str()));
  EXPECT_TRUE(pix);
  return Pix(pixConvertTo1(pix.get(), 128));
}

TEST(InputLimits, HugeImagesAreRefusedFromTheirHeaders) {
  const Pix ink = Coding();
  Pix grey(pixConvertTo8(ink.get(), 0));
  // Small files stating 60000 x 60000 pixels or more; their pixel data is short or missing,
  // so a decoder reached would fail with another message.
  std::vector<uint8_t> png = Encode(ink.get(), IFF_PNG);
  PutBig32(png, 16, 100000);  // IHDR width and height
  PutBig32(png, 20, 100000);
  std::vector<uint8_t> jpeg = Encode(grey.get(), IFF_JFIF_JPEG);
  for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // start of frame: height, then width
      PutBig16(jpeg, i + 5, 60000);
      PutBig16(jpeg, i + 7, 60000);
      break;
    }
  }
  std::vector<uint8_t> plain_bmp = Encode(ink.get(), IFF_BMP);
  PutLittle(plain_bmp, 18, 40000, 4);
  PutLittle(plain_bmp, 22, 40000, 4);
  std::vector<uint8_t> grey_bmp = Encode(grey.get(), IFF_BMP);
  PutLittle(grey_bmp, 18, 40000, 4);
  PutLittle(grey_bmp, 22, static_cast<uint32_t>(-40000), 4);  // top-down rows
  std::vector<uint8_t> gif = MakeGif(1, 65535, 65535);
  struct Case {
    const char* Name;
    std::vector<uint8_t> Bytes;
    std::string Says;
  };
  const Case cases[] = {
      {"PNG", png,
       "the image (100000 x 100000 pixels) exceeds --max-pixels (" +
           std::to_string(kDefaultMaxPixels) + ")"},
      {"JPEG", jpeg, "the image (60000 x 60000 pixels)"},
      {"PNM", Bytes("P5\n70000 70000\n255\n\x01\x02"), "the image (70000 x 70000 pixels)"},
      {"1-bit BMP", plain_bmp, "the image (40000 x 40000 pixels)"},
      {"8-bit BMP", grey_bmp, "the image (40000 x 40000 pixels)"},
      {"GIF", gif, "the image (65535 x 65535 pixels)"},
      {"TIFF", MakeTiff({TiffPage{}, TiffPage{100000, 100000, 1, 0, 1, 0, {}}}),
       "page 2 (100000 x 100000 pixels)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string refusal = Refusal(c.Bytes, LoadOptions{});
    EXPECT_NE(refusal.find(c.Says), std::string::npos) << refusal;
  }
}

// The limits hold at their value and refuse one above it.
TEST(InputLimits, EachLimitHasItsBoundary) {
  const Pix ink = Coding();
  const std::vector<uint8_t> png = Encode(ink.get(), IFF_PNG);
  const int64_t pixels = int64_t{pixGetWidth(ink.get())} * pixGetHeight(ink.get());
  const std::vector<uint8_t> three_pages = MakeTiff({TiffPage{}, TiffPage{}, TiffPage{}});
  struct Case {
    const char* Name;
    const std::vector<uint8_t>& Bytes;
    LoadOptions At;     // the limit equals what the file needs
    LoadOptions Below;  // one less
    const char* Says;
  };
  LoadOptions pixels_at, pixels_below, pages_at, pages_below, size_at, size_below;
  pixels_at.MaxPixels = pixels;
  pixels_below.MaxPixels = pixels - 1;
  pages_at.MaxPages = 3;
  pages_below.MaxPages = 2;
  size_at.MaxFileSize = png.size();
  size_below.MaxFileSize = png.size() - 1;
  const Case cases[] = {
      {"pixels", png, pixels_at, pixels_below, "exceeds --max-pixels"},
      {"pages", three_pages, pages_at, pages_below,
       "the page count (more than 2) exceeds --max-pages (2)"},
      {"bytes", png, size_at, size_below, "exceeds --max-file-size"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Refusal(c.Bytes, c.At), "");
    const std::string refusal = Refusal(c.Bytes, c.Below);
    EXPECT_NE(refusal.find(c.Says), std::string::npos) << refusal;
  }
  // Files on disk: the size is checked before reading.
  const TempFile file(png);
  EXPECT_EQ(ReadInputFile(file.Path(), size_at), png);
  try {
    ReadInputFile(file.Path(), size_below);
    ADD_FAILURE() << "a file above --max-file-size was read";
  } catch (const InputError& e) {
    EXPECT_EQ(e.Status(), kExitCorrupt);
    EXPECT_EQ(std::string(e.what()), "the file (" + std::to_string(png.size()) +
                                         " bytes) exceeds --max-file-size (" +
                                         std::to_string(png.size() - 1) + " bytes)");
  }
}

// GIF decoding keeps every frame: frames count as pages, and their pixels add up.
TEST(InputLimits, GifFramesCountAsPagesAndTheirPixelsAddUp) {
  LoadOptions options;
  options.MaxPages = 3;
  options.MaxPixels = 25000;
  EXPECT_NE(Refusal(MakeGif(4, 10, 10), options).find("(more than 3) exceeds --max-pages (3)"),
            std::string::npos);
  // As many frames as the limit allows pass the count (these frames hold no pixel data, which
  // the decoder refuses next).
  LoadOptions at_limit;
  at_limit.MaxPages = 4;
  const std::string at = Refusal(MakeGif(4, 10, 10), at_limit);
  EXPECT_EQ(at.find("--max-pages"), std::string::npos) << at;
  const std::string sum = Refusal(MakeGif(3, 100, 100), options);
  EXPECT_NE(sum.find("frames (30000 pixels) exceeds --max-pixels (25000)"), std::string::npos)
      << sum;
}

// A stream is given up after its first bytes when they are no image, whatever its length.
TEST(InputLimits, DevZeroIsNoImageAfterItsFirstBytes) {
  try {
    ReadInputFile("/dev/zero", LoadOptions{});
    ADD_FAILURE() << "/dev/zero was read";
  } catch (const InputError& e) {
    EXPECT_EQ(e.Status(), kExitCorrupt);
    EXPECT_NE(std::string(e.what()).find("not an image"), std::string::npos) << e.what();
  }
}

// Pages of every kind the one-pass reader meets give the DIB that Leptonica's decoding of the
// same pixels from PNG gives: its own line reader (bilevel and grey strips, both
// polarities) and libtiff's RGBA reader (colour, palettes, compression, rotated pages).
TEST(TiffPages, DecodeAsThePixelsOfTheSamePicture) {
  const Pix ink = Coding();
  Pix grey(pixConvertTo8(ink.get(), 0));
  // The line's true resolution: a wrong one would give way to the estimate from its digits.
  pixSetResolution(grey.get(), 200, 200);
  Pix rgb(pixConvertTo32(grey.get()));
  Pix palette(pixConvertGrayToColormap(grey.get()));
  Pix turned(pixRotate180(nullptr, ink.get()));
  // The coding line, min-is-black: every bit inverted.
  const int w = pixGetWidth(ink.get()), h = pixGetHeight(ink.get());
  TiffPage black_is_zero{static_cast<uint32_t>(w), static_cast<uint32_t>(h), 1, 1, 1, 200, {}};
  TiffPage upside_down{static_cast<uint32_t>(w), static_cast<uint32_t>(h), 1, 0, 3, 200, {}};
  for (int y = 0; y < h; ++y) {
    for (int b = 0; b < (w + 7) / 8; ++b) {
      const uint8_t byte = GET_DATA_BYTE(pixGetData(ink.get()) + y * pixGetWpl(ink.get()), b);
      black_is_zero.Samples.push_back(static_cast<uint8_t>(~byte));
      // Stored from the bottom right: the reader turns it back.
      const uint8_t turned_byte =
          GET_DATA_BYTE(pixGetData(turned.get()) + y * pixGetWpl(turned.get()), b);
      upside_down.Samples.push_back(turned_byte);
    }
  }
  struct Case {
    const char* Name;
    std::vector<uint8_t> Tiff;
    PIX* Same;
  };
  pixSetResolution(ink.get(), 200, 200);
  const Case cases[] = {
      {"Group 4", Encode(ink.get(), IFF_TIFF_G4), ink.get()},
      {"bilevel, min-is-black, by hand", MakeTiff({black_is_zero}), ink.get()},
      {"bilevel, stored upside down", MakeTiff({upside_down}), ink.get()},
      {"grey, deflate", Encode(grey.get(), IFF_TIFF_ZIP), grey.get()},
      {"grey, LZW", Encode(grey.get(), IFF_TIFF_LZW), grey.get()},
      {"colour", Encode(rgb.get(), IFF_TIFF_ZIP), rgb.get()},
      {"palette", Encode(palette.get(), IFF_TIFF), palette.get()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<Page> tiff = DecodeImage(c.Tiff, LoadOptions{});
    const std::vector<Page> png = DecodeImage(Encode(c.Same, IFF_PNG), LoadOptions{});
    ASSERT_EQ(tiff.size(), 1u);
    ASSERT_EQ(png.size(), 1u);
    EXPECT_EQ(BlockBytes(tiff[0].Dib), BlockBytes(png[0].Dib));
    EXPECT_EQ(tiff[0].XDpi, png[0].XDpi);
    EXPECT_EQ(tiff[0].Source, DpiSource::kFile);
  }
}

// Many pages come out one at a time, in order, each with its own size and resolution.
TEST(TiffPages, ManyPagesInOrder) {
  std::vector<TiffPage> pages;
  for (uint32_t i = 0; i < 300; ++i) {
    pages.push_back(TiffPage{i + 1, 2, 1, 0, 1, 100 + i, {}});
  }
  const std::vector<uint8_t> tiff = MakeTiff(pages);
  int seen = 0;
  DecodeImage(tiff, LoadOptions{}, [&](Page&& page) {
    EXPECT_EQ(page.Width, seen + 1);
    EXPECT_EQ(page.YDpi, 100 + seen);
    ++seen;
  });
  EXPECT_EQ(seen, 300);
  // A strip cut short is damage, named with its page: the page fails on its own.
  std::vector<uint8_t> cut = MakeTiff({TiffPage{8, 8, 1, 0, 1, 0, std::vector<uint8_t>(8, 0xFF)}});
  cut.resize(cut.size() - 4);
  const std::vector<Page> damaged = DecodeImage(cut, LoadOptions{});
  ASSERT_EQ(damaged.size(), 1u);
  EXPECT_TRUE(damaged[0].Failed());
  EXPECT_EQ(damaged[0].Status, kExitCorrupt);
  EXPECT_EQ(damaged[0].Error.rfind("corrupt or truncated TIFF data (page 1", 0), 0u)
      << damaged[0].Error;
}

// A PNG made chunk by chunk: Rows are the filtered rows (each with its filter byte).
std::string MakePng(uint32_t width, uint32_t height, int depth, int colour, const std::string& rows,
                    const std::string& palette = "", const std::string& transparency = "",
                    uint32_t per_metre = 0) {
  using testing_util::PngChunk;
  using testing_util::PutBig32;
  std::string header;
  PutBig32(header, width);
  PutBig32(header, height);
  header += static_cast<char>(depth);
  header += static_cast<char>(colour);
  header += std::string(3, '\0');
  std::string png = "\x89PNG\r\n\x1a\n" + PngChunk("IHDR", header);
  if (per_metre > 0) {
    std::string physical;
    PutBig32(physical, per_metre);
    PutBig32(physical, per_metre);
    png += PngChunk("pHYs", physical + '\x01');
  }
  if (!palette.empty()) png += PngChunk("PLTE", palette);
  if (!transparency.empty()) png += PngChunk("tRNS", transparency);
  return png + PngChunk("IDAT", testing_util::Deflate(rows)) + PngChunk("IEND", "");
}

// Colour PNG and every JPEG are decoded a strip of rows at a time, to grey as they come; the
// pages must be those Leptonica's decoding of the whole picture gives, resolution included,
// for every layout that takes that way: RGB, RGBA, grey with alpha, 16 bits, a palette with
// transparency, grey and colour and CMYK JPEG.
TEST(RowDecoders, GiveThePagesOfWholePictureDecoding) {
  setMsgSeverity(L_SEVERITY_NONE);
  Pix block(pixRead((kExamples / "block-300dpi.png").c_str()));
  Pix grey(pixConvertTo8(block.get(), 0));
  const uint32_t w = static_cast<uint32_t>(pixGetWidth(grey.get()));
  const uint32_t h = static_cast<uint32_t>(pixGetHeight(grey.get()));
  auto at = [&grey](uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(
        GET_DATA_BYTE(pixGetData(grey.get()) + y * pixGetWpl(grey.get()), x));
  };
  // Three colours of the same print, alpha rising to the right, a low byte of noise.
  std::string rgba, grey_alpha, rgb16, indexed;
  for (uint32_t y = 0; y < h; ++y) {
    for (std::string* rows : {&rgba, &grey_alpha, &rgb16, &indexed}) *rows += '\0';
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t v = at(x, y);
      const uint8_t alpha = static_cast<uint8_t>(x * 255 / w);
      rgba += {static_cast<char>(v), static_cast<char>(v / 2 + 60), static_cast<char>(255 - v / 3),
               static_cast<char>(alpha)};
      grey_alpha += {static_cast<char>(v), static_cast<char>(alpha)};
      for (uint8_t c : {v, static_cast<uint8_t>(v / 2), static_cast<uint8_t>(v ^ 0x0F)}) {
        rgb16 += {static_cast<char>(c), static_cast<char>((x * 7 + y) & 0xFF)};
      }
      indexed += static_cast<char>(v);
    }
  }
  std::string rgb;
  for (size_t i = 0; i < rgba.size();) {
    if ((i % (1 + 4 * size_t{w})) == 0) {
      rgb += rgba[i++];
      continue;
    }
    rgb += rgba.substr(i, 3);
    i += 4;
  }
  std::string palette, transparency;
  for (int i = 0; i < 256; ++i) {
    palette += {static_cast<char>(i), static_cast<char>(i), static_cast<char>(255 - i / 4)};
    if (i < 128) transparency += static_cast<char>(255 - i);
  }
  const uint32_t ppm = 11811;  // 300 dpi
  Pix colour(pixConvertTo32(grey.get()));
  pixSetResolution(colour.get(), 300, 300);
  // libjpeg writes CMYK with Adobe's marker, which Leptonica's reader honours.
  const std::vector<uint8_t> cmyk = Bytes(testing_util::EncodeJpeg(
      static_cast<int>(w), static_cast<int>(h), 4, [&at, w](int y, JSAMPLE* row) {
        for (uint32_t x = 0; x < w; ++x) {
          const uint8_t v = at(x, static_cast<uint32_t>(y));
          row[4 * x] = static_cast<JSAMPLE>(v);
          row[4 * x + 1] = static_cast<JSAMPLE>(v / 2);
          row[4 * x + 2] = 200;
          row[4 * x + 3] = static_cast<JSAMPLE>(255 - v / 5);
        }
      }));
  struct Case {
    const char* Name;
    std::vector<uint8_t> File;
  };
  const Case cases[] = {
      {"RGB PNG", Bytes(MakePng(w, h, 8, 2, rgb, "", "", ppm))},
      {"RGBA PNG", Bytes(MakePng(w, h, 8, 6, rgba, "", "", ppm))},
      {"grey and alpha PNG", Bytes(MakePng(w, h, 8, 4, grey_alpha))},
      {"16-bit RGB PNG", Bytes(MakePng(w, h, 16, 2, rgb16, "", "", ppm))},
      {"palette with transparency", Bytes(MakePng(w, h, 8, 3, indexed, palette, transparency))},
      {"grey JPEG", Encode(grey.get(), IFF_JFIF_JPEG)},
      {"colour JPEG", Encode(colour.get(), IFF_JFIF_JPEG)},
      {"CMYK JPEG", cmyk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    for (bool keep : {false, true}) {
      LoadOptions options;
      options.KeepPicture = keep;
      const std::vector<DecodedPage> rows = DecodeAllPages(c.File, options);
      Pix whole(pixReadMem(c.File.data(), c.File.size()));
      ASSERT_TRUE(whole);
      ASSERT_TRUE(pixGetDepth(whole.get()) == 32 || pixGetDepth(whole.get()) == 8);
      const DecodedPage expected = PackPage(std::move(whole), options, "image", DpiSource::kFile);
      ASSERT_EQ(rows.size(), 1u);
      EXPECT_EQ(rows[0].Dib, expected.Dib);
      EXPECT_EQ(rows[0].XDpi, expected.XDpi);
      EXPECT_EQ(rows[0].Source, expected.Source);
      if (keep) {
        ASSERT_TRUE(rows[0].Picture && expected.Picture);
        l_int32 same = 0;
        pixEqual(rows[0].Picture.get(), expected.Picture.get(), &same);
        EXPECT_TRUE(same);
      }
    }
  }
}

class PdfInput : public ::testing::Test {
 protected:
  void SetUp() override {
    Pix block(pixRead((kExamples / "block-300dpi.png").c_str()));
    ASSERT_TRUE(block);
    coding_ = Coding();
    block_ = Pix(pixConvertTo8(block.get(), 0));
    pdf_ = Bytes(testing_util::MakePdf({{coding_.get(), 200, 200}, {block_.get(), 300, 300}}));
  }
  Pix coding_, block_;
  std::vector<uint8_t> pdf_;
};

TEST_F(PdfInput, ReadsEveryPageAtTheRenderingResolution) {
  Engine engine{Parameters{}};
  for (int dpi : {0, 400}) {
    SCOPED_TRACE(dpi);
    LoadOptions options;
    options.Dpi = dpi;
    const std::vector<PageResult> pages = ReadImage(engine, pdf_, options, false);
    ASSERT_EQ(pages.size(), 2u);
    const int expected = dpi > 0 ? dpi : kDefaultPdfDpi;
    for (const PageResult& page : pages) {
      EXPECT_EQ(page.XDpi, expected);
      EXPECT_EQ(page.Source, dpi > 0 ? DpiSource::kOption : DpiSource::kFile);
    }
    // Each page as wide as its picture at the rendering resolution (Poppler rounds up).
    EXPECT_NEAR(pages[0].Width, pixGetWidth(coding_.get()) * expected / 200.0, 1.0);
    EXPECT_NEAR(pages[1].Width, pixGetWidth(block_.get()) * expected / 300.0, 1.0);
    std::string text[2];
    for (int p = 0; p < 2; ++p) {
      for (const TextLine& line : pages[p].Lines)
        text[p] += (text[p].empty() ? "" : "\n") + line.Text;
    }
    EXPECT_EQ(text[0], Truth("coding-200dpi"));
    EXPECT_EQ(text[1], Truth("block-300dpi"));
  }
}

TEST_F(PdfInput, LimitsHoldBeforeRendering) {
  LoadOptions one_page, small;
  one_page.MaxPages = 1;
  EXPECT_EQ(Refusal(pdf_, one_page), "the page count (2) exceeds --max-pages (1)");
  // The block page at 300 dpi is its own size; 200 pixels fewer are refused.
  small.MaxPixels = int64_t{pixGetWidth(block_.get())} * pixGetHeight(block_.get()) - 200;
  const std::string refusal = Refusal(pdf_, small);
  EXPECT_EQ(refusal.rfind("page 2 at 300 dpi (", 0), 0u) << refusal;
  EXPECT_NE(refusal.find("exceeds --max-pixels"), std::string::npos) << refusal;
  // Nothing was rendered: the first page, within the limit, never reached the sink.
  int pages = 0;
  try {
    DecodeImage(pdf_, small, [&](Page&&) { ++pages; });
  } catch (const InputError&) {
  }
  EXPECT_EQ(pages, 0);
}

// Damage is status 2 with one message. Only files starting with the PDF signature go to
// Poppler; other images never do, and text that merely mentions it is no image.
TEST_F(PdfInput, DamageIsRefused) {
  std::vector<uint8_t> truncated(pdf_.begin(), pdf_.begin() + 3000);
  EXPECT_EQ(Refusal(truncated, LoadOptions{}), "damaged PDF (Poppler cannot open it)");
  EXPECT_EQ(Refusal(Bytes("%PDF-1.4\n%%EOF\n"), LoadOptions{}),
            "damaged PDF (Poppler cannot open it)");
  EXPECT_NE(Refusal(Bytes("see the %PDF-1.4 attached, it holds the slips"), LoadOptions{})
                .find("not an image"),
            std::string::npos);
}

}  // namespace
}  // namespace ocrb::reader
