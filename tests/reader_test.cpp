// The reader library checked by independent routes: a packed DIB read back by Leptonica
// equals the image it was packed from, caller pixels give the very DIB a decoded file of the
// same pixels gives, every TIFF page is read, and refusals carry their statuses.
#include "reader/reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dib_test_util.h"
#include "reader_test_util.h"

namespace ocrb::reader {
namespace {

using namespace test;

const std::filesystem::path kExamples = OCRB_EXAMPLES_DIR;

// A grey test card: a gradient with dark bars, so that every binarisation has work to do.
Pix GreyCard(int width, int height) {
  Pix pix(pixCreate(width, height, 8));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool bar = (x / 7) % 3 == 0 && y > height / 4 && y < 3 * height / 4;
      pixSetPixel(pix.get(), x, y, bar ? 40 + x % 30 : 150 + (x * 100) / width);
    }
  }
  return pix;
}

std::vector<uint8_t> Samples(PIX* pix, int channels) {
  const int w = pixGetWidth(pix), h = pixGetHeight(pix);
  std::vector<uint8_t> out;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      l_uint32 v = 0;
      pixGetPixel(pix, x, y, &v);
      if (channels == 1) {
        out.push_back(static_cast<uint8_t>(v));
      } else {
        l_int32 r, g, b;
        extractRGBValues(v, &r, &g, &b);
        out.insert(out.end(),
                   {static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)});
      }
    }
  }
  return out;
}

TEST(PackDib, ReadsBackAsTheSameImageWithItsResolution) {
  // Widths on both sides of a byte and a word boundary exercise the row padding and the mask.
  for (int width : {1, 7, 8, 9, 31, 32, 33, 100}) {
    Pix ink(pixCreate(width, 5, 1));
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < width; ++x)
        if ((x * 7 + y * 3) % 5 < 2) pixSetPixel(ink.get(), x, y, 1);
    const std::vector<uint8_t> dib = PackDib(ink.get(), 300, 150);
    // The file header a BMP writer would put in front.
    std::vector<uint8_t> file(14 + dib.size());
    file[0] = 'B';
    file[1] = 'M';
    const uint32_t size = static_cast<uint32_t>(file.size()), offset = 14 + 40 + 8;
    std::memcpy(&file[2], &size, 4);
    std::memcpy(&file[10], &offset, 4);
    std::memcpy(&file[14], dib.data(), dib.size());
    Pix back(pixReadMem(file.data(), file.size()));
    ASSERT_TRUE(back) << width;
    Pix ink_back(pixConvertTo1(back.get(), 128));  // palette (white, black): 1 stays ink
    l_int32 same = 0;
    pixEqual(ink.get(), ink_back.get(), &same);
    EXPECT_TRUE(same) << "width " << width;
    l_int32 xres = 0, yres = 0;
    pixGetResolution(back.get(), &xres, &yres);
    EXPECT_EQ(xres, 300);
    EXPECT_EQ(yres, 150);
  }
}

TEST(PageFromPixels, GivesTheDibOfAFileWithTheSamePixels) {
  const Pix grey = GreyCard(130, 40);
  Pix rgb(pixConvertTo32(grey.get()));
  Pix ink(pixThresholdToBinary(grey.get(), 100));
  struct Case {
    const char* Name;
    PIX* Picture;
    int Channels;
    bool Bilevel;
    int Dpi;
    int YDpi;
    Binarisation Method;
  };
  const Case cases[] = {
      {"grey sauvola", grey.get(), 1, false, 0, 0, Binarisation::kSauvola},
      {"grey 300 dpi", grey.get(), 1, false, 300, 300, Binarisation::kSauvola},
      {"grey 200 by 100 dpi", grey.get(), 1, false, 200, 100, Binarisation::kSauvola},
      {"grey otsu", grey.get(), 1, false, 0, 0, Binarisation::kOtsu},
      {"rgb", rgb.get(), 3, false, 150, 150, Binarisation::kNormalisedOtsu},
      {"bilevel", ink.get(), 1, true, 200, 100, Binarisation::kSauvola},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<uint8_t> samples =
        c.Bilevel ? Samples(c.Picture, 1) : Samples(c.Picture, c.Channels);
    PixelView view;
    view.Data = samples.data();
    view.Width = pixGetWidth(c.Picture);
    view.Height = pixGetHeight(c.Picture);
    view.Stride = static_cast<size_t>(view.Width * c.Channels);
    view.Channels = c.Channels;
    view.Bilevel = c.Bilevel;
    const Page page = PageFromPixels(view, c.Dpi, c.YDpi, c.Method);

    // The same pixels as a PNG file stating the same resolution.
    LoadOptions options;
    options.Method = c.Method;
    Pix bare(pixCopy(nullptr, c.Picture));
    pixSetResolution(bare.get(), c.Dpi, c.YDpi);
    const std::vector<Page> decoded = DecodeImage(Encode(bare.get(), IFF_PNG), options);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(BlockBytes(page.Dib), BlockBytes(decoded[0].Dib));
    EXPECT_EQ(page.XDpi, c.Dpi);
    EXPECT_EQ(page.YDpi, c.YDpi > 0 ? c.YDpi : c.Dpi);
    EXPECT_EQ(page.Width, view.Width);
  }
}

TEST(PageFromPixels, HonoursTheRowStride) {
  const Pix grey = GreyCard(50, 20);
  const std::vector<uint8_t> tight = Samples(grey.get(), 1);
  std::vector<uint8_t> padded(64 * 20, 0xAB);  // rows of 50 samples, 64 bytes apart
  for (int y = 0; y < 20; ++y) std::memcpy(&padded[y * 64], &tight[y * 50], 50);
  PixelView a{tight.data(), 50, 20, 50, 1, false};
  PixelView b{padded.data(), 50, 20, 64, 1, false};
  EXPECT_EQ(BlockBytes(PageFromPixels(a, 0, 0, Binarisation::kSauvola).Dib),
            BlockBytes(PageFromPixels(b, 0, 0, Binarisation::kSauvola).Dib));
}

TEST(PageFromPixels, RefusesShapesItCannotTake) {
  const std::vector<uint8_t> data(64 * 64 * 4, 0);
  const PixelView refused[] = {
      {nullptr, 10, 10, 10, 1, false},               // no pixels
      {data.data(), 0, 10, 10, 1, false},            // no width
      {data.data(), 10, -1, 10, 1, false},           // negative height
      {data.data(), 10, 10, 9, 1, false},            // stride shorter than a row
      {data.data(), 10, 10, 20, 2, false},           // two channels
      {data.data(), 10, 10, 30, 3, true},            // bilevel colour
      {data.data(), 1 << 17, 1, 1 << 17, 1, false},  // wider than any page
  };
  for (const PixelView& view : refused) {
    try {
      PageFromPixels(view, 0, 0, Binarisation::kSauvola);
      ADD_FAILURE() << "accepted " << view.Width << "x" << view.Height << "x" << view.Channels;
    } catch (const InputError& e) {
      EXPECT_EQ(e.Status(), kExitCorrupt);
    }
  }
}

TEST(ReadImage, ReadsEveryPageOfATiff) {
  Pix coding(pixRead((kExamples / "coding-200dpi.bmp").c_str()));
  ASSERT_TRUE(coding);
  char path[] = "/tmp/ocrb_reader_test_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  pixWriteTiff(path, coding.get(), IFF_TIFF_G4, "w");
  pixWriteTiff(path, coding.get(), IFF_TIFF_ZIP, "a");  // the same page, another coding
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  std::remove(path);
  Engine engine{Parameters{}};
  const std::vector<PageResult> pages = ReadImage(engine, bytes, LoadOptions{}, false);
  ASSERT_EQ(pages.size(), 2u);
  for (const PageResult& page : pages) {
    ASSERT_EQ(page.Lines.size(), 1u);
    EXPECT_EQ(page.Lines[0].Text, Truth("coding-200dpi"));
    EXPECT_EQ(page.XDpi, 200);
    EXPECT_EQ(page.Lines[0].Confidences.size(), page.Lines[0].Text.size());
  }
}

// Any file (a list of names) is read whole through the same bounded routine as images, without
// the test of an image's first bytes: up to its limit, and not a byte past it, from a pipe too.
TEST(ReadFileBytes, ReadsAnyFileWithinItsLimit) {
  char path[] = "/tmp/ocrb_reader_test_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string text(100, 'a');
  ASSERT_EQ(write(fd, text.data(), text.size()), 100);
  close(fd);
  const std::vector<uint8_t> whole = ReadFileBytes(path, 100);
  EXPECT_EQ(std::string(whole.begin(), whole.end()), text);
  try {
    ReadFileBytes(path, 99);
    ADD_FAILURE() << "a file past its limit was read";
  } catch (const InputError& e) {
    EXPECT_EQ(e.Status(), kExitCorrupt);
    EXPECT_STREQ(e.what(), "the file (100 bytes) exceeds the limit of 99 bytes for a file");
  }
  std::remove(path);
  try {
    ReadFileBytes("/dev/zero", 1 << 20);
    ADD_FAILURE() << "an endless device was read";
  } catch (const InputError& e) {
    EXPECT_EQ(e.Status(), kExitCorrupt);
    EXPECT_STREQ(e.what(), "the input exceeds the limit of 1048576 bytes for a file");
  }
  try {
    ReadFileBytes("/no/such/file");
    ADD_FAILURE() << "a missing file was read";
  } catch (const InputError& e) {
    EXPECT_EQ(e.Status(), kExitEnvironment);
  }
}

TEST(ReadImage, RefusalsCarryTheirStatuses) {
  Engine engine{Parameters{}};
  const std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
  try {
    ReadImage(engine, text, LoadOptions{}, false);
    ADD_FAILURE() << "text read as an image";
  } catch (const InputError& e) {
    EXPECT_EQ(e.Status(), kExitCorrupt);
    EXPECT_EQ(e.EngineStatus(), 0);
  }
  // A block the engine refuses: a header that claims 4 bits per pixel.
  Pix ink(pixCreate(16, 16, 1));
  std::vector<uint8_t> dib = PackDib(ink.get(), 200, 200);
  dib[14] = 4;
  Page page;
  page.Dib = CopyToBlock(dib.data(), dib.size());
  try {
    engine.Read(page, false);
    ADD_FAILURE() << "a 4-bit header was read";
  } catch (const InputError& e) {
    EXPECT_EQ(e.Status(), kExitCorrupt);
    EXPECT_EQ(e.EngineStatus(), OCRB_STATUS_READ_FAILED);
  }
}

TEST(ParameterTable, NamesEveryParameterOnceInIdOrder) {
  const Parameters defaults;
  int id = 1;
  for (const ParameterInfo& p : ParameterTable()) {
    EXPECT_EQ(p.Id, id++);
    EXPECT_LE(p.Min, defaults[p.Id]) << p.Name;
    EXPECT_GE(p.Max, defaults[p.Id]) << p.Name;
  }
}

TEST(Writers, EscapeNamesAndLeaveSpacesWithoutBoxes) {
  FileResult file;
  file.Name = "a\tb\"c";
  PageResult page;
  page.Width = 10;
  TextLine line;
  line.Text = "1 2";
  line.Confidences = {0.5f, 1.0f, 0.25f};
  line.Boxes = {TRect{1, 2, 3, 4}, TRect{0, 0, 0, 0}, TRect{5, 6, 7, 8}};
  AssessLine(line);
  page.Lines.push_back(line);
  file.Pages.push_back(page);
  page.SkewDegrees = -1.234;
  page.Orientation = 180;
  file.Pages.back() = page;
  // Each row ends in its line's mean, least, unnamed share, junk flag and (empty) check, then
  // its page's skew and orientation.
  EXPECT_EQ(FormatFile(Format::kTsv, file, 0, 1),
            "a\\tb\"c\t1\t1\t1\t1\t0.500\t1\t2\t3\t4\t0.375\t0.250\t0.000\t1\t\t-1.23\t180\n"
            "a\\tb\"c\t1\t1\t2\t \t1.000\t\t\t\t\t0.375\t0.250\t0.000\t1\t\t-1.23\t180\n"
            "a\\tb\"c\t1\t1\t3\t2\t0.250\t5\t6\t7\t8\t0.375\t0.250\t0.000\t1\t\t-1.23\t180\n");
  const std::string json = FormatFile(Format::kJson, file, 0, 1);
  EXPECT_NE(json.find("\"file\": \"a\\u0009b\\\"c\""), std::string::npos) << json;
  EXPECT_NE(json.find("{\"char\": \" \", \"confidence\": 1.000, \"box\": null}"), std::string::npos)
      << json;
  // The line is junk (mean 0.375): text leaves it out unless asked for every line.
  EXPECT_EQ(FormatFile(Format::kText, file, 0, 1), "");
  EXPECT_EQ(FormatFile(Format::kText, file, 0, 1, {true, false}), "1 2\n");
}

}  // namespace
}  // namespace ocrb::reader

namespace ocrb::reader {
namespace {

// A packed DIB of Width x Height 1-bit pixels in a movable block, its header fields as given.
struct DibFields {
  uint32_t HeaderSize = 40;
  int32_t Width = 64;
  int32_t Height = 32;
  uint16_t BitCount = 1;
  uint32_t Compression = 0;
  int32_t XPelsPerMetre = 7874;  // 200 dpi
  int32_t YPelsPerMetre = 7874;
  int64_t Shortfall = 0;  // bytes the block lacks for its rows
};

GlobalBlock MakeDib(const DibFields& f) {
  testing_util::DibFields built;
  built.width = f.Width;
  built.height = f.Height;
  built.bits = f.BitCount;
  built.compression = f.Compression;
  built.x_ppm = f.XPelsPerMetre;
  built.y_ppm = f.YPelsPerMetre;
  built.palette = {0x00ffffff, 0};  // white (the zeros: a blank page), black
  std::vector<uint8_t> bytes = testing_util::BuildDib(built);
  // The size field as given over the layout of a 40-byte header, and the rows cut short.
  testing_util::Put32(bytes, 0, f.HeaderSize);
  bytes.resize(bytes.size() - static_cast<size_t>(f.Shortfall));
  return CopyToBlock(bytes.data(), bytes.size());
}

// The reason told for a refusal agrees with the engine, by its own route: the engine refuses
// exactly the bitmaps given a reason, at each limit and one past it.
TEST(RefusalReason, AgreesWithTheEngineAndNamesTheFault) {
  constexpr int64_t kLimit = OCRB_MAX_WORKING_PIXELS;
  struct Case {
    const char* Name;
    DibFields Fields;
    const char* Reason;  // "" when the engine reads it
  };
  std::vector<Case> cases = {
      {"sound", {}, ""},
      {"header size", {.HeaderSize = 39}, "header size field says 39"},
      {"compressed", {.Compression = 1}, "compressed"},
      {"top down", {.Height = -32}, "top down"},
      {"zero width", {.Width = 0}, "not positive"},
      {"eight bits", {.BitCount = 8}, "8 bits a pixel"},
      {"rows cut short", {.Shortfall = 1}, "more than its block"},
      {"one resolution", {.YPelsPerMetre = 0}, "one resolution and not the other"},
      {"at the limit", {.Width = 16384, .Height = 16384}, ""},
      {"past the limit", {.Width = 16385, .Height = 16384}, "more than the engine's limit"},
      // Squared at 400 x 200 dpi, 8192 rows become 16384: at the limit; one more row passes it.
      {"squared to the limit",
       {.Width = 16384, .Height = 8192, .XPelsPerMetre = 15748, .YPelsPerMetre = 7874},
       ""},
      {"squared past the limit",
       {.Width = 16384, .Height = 8193, .XPelsPerMetre = 15748, .YPelsPerMetre = 7874},
       "squaring its pixels at 400 x 200 dpi makes 16384 x 16386 pixels"},
  };
  static_assert(kLimit == int64_t{16384} * 16384);
  OCRB_HANDLE engine = nullptr;
  ASSERT_EQ(OCRB_Init("", "", &engine), OCRB_STATUS_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const GlobalBlock dib = MakeDib(c.Fields);
    const std::string reason = RefusalReason(dib);
    if (std::string(c.Reason).empty()) {
      EXPECT_EQ(reason, "");
    } else {
      EXPECT_NE(reason.find(c.Reason), std::string::npos) << reason;
    }
    // The engine is asked about every bitmap but the large blank ones it would read (slowly).
    const bool large = int64_t{c.Fields.Width} * std::abs(c.Fields.Height) > (int64_t{1} << 22);
    if (large && reason.empty()) continue;
    EXPECT_EQ(OCRB_Read(engine, dib.Get(), 0) == OCRB_STATUS_READ_FAILED, !reason.empty());
  }
  OCRB_Done(engine);
  EXPECT_EQ(RefusalReason(GlobalBlock()), "its memory block is empty or cannot be locked");
}

}  // namespace
}  // namespace ocrb::reader
