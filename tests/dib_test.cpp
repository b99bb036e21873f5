// TDIB: new images, the packed layout of the seven formats, loading a caller's bitmap,
// colour-table lookups, resolution and the trailing bits.
#include "image/dib.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "dib_test_util.h"
#include "platform/error.h"

namespace ocrb {
namespace {

using testing_util::BlockOf;
using testing_util::BuildDib;
using testing_util::BytesOf;
using testing_util::DibFields;
using testing_util::Get32;

constexpr uint32_t kBlack = 0x000000, kWhite = 0xFFFFFF;

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(DIB, NewImageWritesHeaderTableAndLayoutOfEveryFormat) {
  const struct {
    uint8_t format;
    uint16_t bits;
    int32_t colors, header_and_table, stride_of_33;
  } formats[] = {{1, 1, 2, 48, 8},   {2, 4, 16, 104, 20}, {3, 8, 256, 1064, 36}, {4, 16, 0, 40, 68},
                 {5, 16, 0, 40, 68}, {6, 24, 0, 40, 100}, {7, 32, 0, 40, 132}};
  for (const auto& f : formats) {
    SCOPED_TRACE(static_cast<int>(f.format));
    TDIB image;
    image.NewImage(33, 3, f.format, 300, 100);
    EXPECT_EQ(image.FormatCode(), f.format);
    EXPECT_EQ(image.BitCount(), f.bits);
    EXPECT_EQ(image.ColorCount(), f.colors);
    EXPECT_EQ(image.Stride(), f.stride_of_33);
    EXPECT_EQ(image.Size(), f.header_and_table + 3 * f.stride_of_33);
    EXPECT_EQ(image.Bits() - image.Header(), f.header_and_table);
    EXPECT_EQ(image.LockCount(), 1);
    EXPECT_TRUE(image.OwnsHandle());
    EXPECT_EQ(image.XResolution(), 300);
    EXPECT_EQ(image.YResolution(), 100);
    const uint8_t* h = image.Header();
    EXPECT_EQ(Get32(h), 40u);
    EXPECT_EQ(Get32(h + 20), 3u * f.stride_of_33);              // biSizeImage
    EXPECT_EQ(Get32(h + 32), static_cast<uint32_t>(f.colors));  // biClrUsed
    EXPECT_EQ(Get32(h + 36), static_cast<uint32_t>(f.colors));  // biClrImportant
    for (int32_t y = 0; y < 3; ++y) {
      for (int32_t x = 0; x < 33; ++x) ASSERT_EQ(image.GetPixel(x, y), 0);
    }
  }
  TDIB grey16, grey256, bilevel;
  grey16.NewImage(1, 1, kFormat4Bit, 0, 0);
  grey256.NewImage(1, 1, kFormat8Bit, 0, 0);
  bilevel.NewImage(1, 1, kFormat1Bit, 0, 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(grey16.PaletteEntry(i), 0x010101u * (16 * i));
  for (int i = 0; i < 256; ++i) EXPECT_EQ(grey256.PaletteEntry(i), 0x010101u * i);
  EXPECT_EQ(bilevel.PaletteEntry(0), kBlack);
  EXPECT_EQ(bilevel.PaletteEntry(1), kWhite);
}

TEST(DIB, NewImageIsBlackUntilFilledWhite) {
  TDIB image;
  image.NewImage(13, 5, kFormat1Bit, 200, 200);
  EXPECT_EQ(image.GetPixel(12, 4), 0);
  image.FillWhite();
  for (int32_t y = 0; y < 5; ++y) {
    for (int32_t x = 0; x < 13; ++x) ASSERT_EQ(image.GetPixel(x, y), 1);
  }
}

TEST(DIB, NewImageRefusesUnknownFormatsAndSizesBeyondTheLimit) {
  TDIB image;
  image.NewImage(4, 4, kFormat8Bit, 0, 0);
  for (uint8_t format : {0, 8, 0x81}) {
    EXPECT_EQ(MessageOf([&] { image.NewImage(4, 4, format, 0, 0); }), "Bit depht not allowed");
    EXPECT_EQ(image.Handle(), nullptr);
    EXPECT_EQ(image.Width(), 0u);
  }
  EXPECT_EQ(MessageOf([&] { image.NewImage(0, 4, 1, 0, 0); }), "Invalid image size");
  EXPECT_EQ(MessageOf([&] { image.NewImage(4, -1, 1, 0, 0); }), "Invalid image size");
  // 65536 x 32768 pixels of 32 bits are 8 GiB; 1-bit rows of 2^31 pixels times 8 rows 2 GiB.
  EXPECT_EQ(MessageOf([&] { image.NewImage(65536, 32768, 7, 0, 0); }), "Image too large");
  EXPECT_EQ(MessageOf([&] { image.NewImage(0x7FFFFFFF, 8, 1, 0, 0); }), "Image too large");
  EXPECT_EQ(image.Handle(), nullptr);
}

// Each format's raw value against the bytes it must occupy in the row.
TEST(DIB, PixelsArePackedAsEachFormatStoresThem) {
  const struct {
    uint8_t format;
    int32_t x, value, read_back;
    std::vector<uint8_t> bytes;  // the row's first bytes after the write
  } cases[] = {
      {1, 9, 1, 1, {0x00, 0x40}},
      {1, 0, 5, 1, {0x80}},
      {1, 0, -3, 0, {0x00}},  // only a value above 0 sets the bit
      {2, 2, 0x1A, 0xA, {0x00, 0xA0}},
      {2, 3, 0x07, 0x7, {0x00, 0x07}},
      {3, 1, 0x1F3, 0xF3, {0x00, 0xF3}},
      {5, 1, 0x12345, 0x2345, {0, 0, 0x45, 0x23}},
      {6, 1, 0x112233, 0x112233, {0, 0, 0, 0x11, 0x22, 0x33}},  // blue, green, red
      {7, 0, 0x11223344, 0x11223344, {0x11, 0x22, 0x33, 0x44}},
      {7, 0, -2, -2, {0xFF, 0xFF, 0xFF, 0xFE}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.format) * 1000 + c.x);
    TDIB image;
    image.NewImage(16, 2, c.format, 0, 0);
    image.SetPixel(c.x, 1, c.value);
    EXPECT_EQ(image.GetPixel(c.x, 1), c.read_back);
    const uint8_t* row = image.ScanLine(1);
    EXPECT_EQ(std::vector<uint8_t>(row, row + c.bytes.size()), c.bytes);
    EXPECT_EQ(image.GetPixel(c.x, 0), 0);  // the other row is untouched
  }
}

TEST(DIB, RowZeroIsTheLastStoredRow) {
  DibFields f;
  f.width = 8;
  f.height = 3;
  std::vector<uint8_t> bytes = BuildDib(f);
  const size_t pixels = testing_util::PixelOffset(f);
  bytes[pixels] = 0x80;          // first stored row: the bottom of the picture
  bytes[pixels + 2 * 4] = 0x01;  // last stored row: the top
  platform::GlobalBlock block = BlockOf(bytes);
  TDIB image;
  image.SetOwnsHandle(false);
  image.LoadFromHandle(block.Get());
  EXPECT_EQ(image.GetPixel(0, 2), 1);
  EXPECT_EQ(image.GetPixel(7, 0), 1);
  EXPECT_EQ(image.GetPixel(0, 0), 0);
  EXPECT_EQ(image.ScanLine(0), image.Bits() + 8);
}

TEST(DIB, TrailingBitsFillTheRowPaddingWithOnes) {
  TDIB image;
  image.NewImage(33, 2, kFormat1Bit, 0, 0);
  EXPECT_EQ(image.Stride(), 8);
  EXPECT_EQ(image.RowBytes(), 5);
  EXPECT_EQ(image.SetTrailingBits(), 31);
  for (int32_t y = 0; y < 2; ++y) {
    const uint8_t* row = image.ScanLine(y);
    EXPECT_EQ(row[4], 0x7F);  // pixel 32 stays 0, its seven neighbours are padding
    for (int i = 5; i < 8; ++i) EXPECT_EQ(row[i], 0xFF);
    EXPECT_EQ(image.GetPixel(32, y), 0);
  }
  TDIB exact;
  exact.NewImage(32, 2, kFormat1Bit, 0, 0);
  EXPECT_EQ(exact.SetTrailingBits(), 0);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(exact.Bits()[i], 0);
}

TEST(DIB, ResolutionIsStoredInPixelsPerMetre) {
  TDIB image;
  image.NewImage(1, 1, kFormat1Bit, 96, 0);
  EXPECT_EQ(Get32(image.Header() + 24), 3780u);  // 96 * 39.37 = 3779.52
  const struct {
    int32_t ppm, dpi;
  } reads[] = {{11811, 300}, {7874, 200}, {3937, 100}, {0, 0}, {2835, 72}};
  for (const auto& r : reads) {
    DibFields f;
    f.x_ppm = r.ppm;
    f.y_ppm = 0;
    platform::GlobalBlock block = BlockOf(BuildDib(f));
    TDIB loaded;
    loaded.LoadFromHandle(block.Release());
    EXPECT_EQ(loaded.XResolution(), r.dpi) << r.ppm;
    EXPECT_EQ(loaded.YResolution(), 0);
    loaded.SetYResolution(r.dpi);
    EXPECT_EQ(loaded.YResolution(), r.dpi);
  }
}

TEST(DIB, TheColourTableSitsAfterTheInfoHeaderWhateverClrUsedSays) {
  const struct {
    uint16_t bits;
    uint32_t info_size, clr_used;
    int32_t table_entries;
  } cases[] = {{1, 40, 16, 2}, {8, 40, 16, 256}, {1, 108, 0, 2}, {4, 124, 3, 16}, {24, 40, 5, 0}};
  for (const auto& c : cases) {
    DibFields f;
    f.bits = c.bits;
    f.info_size = c.info_size;
    f.clr_used = c.clr_used;
    platform::GlobalBlock block = BlockOf(BuildDib(f));
    TDIB image;
    image.LoadFromHandle(block.Release());
    EXPECT_EQ(image.Palette() - image.Header(), c.info_size);
    EXPECT_EQ(image.Bits() - image.Palette(), 4 * c.table_entries);
    EXPECT_EQ(image.ColorCount(), c.table_entries);
    EXPECT_EQ(image.Size(), 40 + 4 * c.table_entries + 4 * image.Stride());
  }
  DibFields short_header;
  short_header.info_size = 12;
  platform::GlobalBlock block = BlockOf(BuildDib(short_header));
  TDIB image;
  EXPECT_EQ(MessageOf([&] { image.LoadFromHandle(block.Release()); }),
            "BMP File error: invalid BitmapInfoHeader size !");
}

TEST(DIB, BlackAndWhiteIndexFollowTheColourTable) {
  const struct {
    uint16_t bits;
    std::vector<uint32_t> table;
    int32_t black, white;
  } cases[] = {
      {1, {kWhite, kBlack}, 1, 0},
      {1, {kBlack, kWhite}, 0, 1},
      {1, {0x808080, 0x404040}, 1, 0},      // neither: the fallbacks
      {1, {0xFF000000, 0xFFFFFFFF}, 0, 1},  // the reserved byte does not count
      {8, {0x101010}, 1, 255},              // entries 1.. are zero: black at 1
      {8, std::vector<uint32_t>(256, 0x777777), 0, 255},
      {4, std::vector<uint32_t>(16, 0x777777), 1, 0},
      {24, {}, 0, 0xFFFFFF},
      {16, {}, 1, 0},
      {32, {}, 1, 0},
  };
  for (const auto& c : cases) {
    DibFields f;
    f.bits = c.bits;
    f.palette = c.table;
    platform::GlobalBlock block = BlockOf(BuildDib(f));
    TDIB image;
    image.LoadFromHandle(block.Release());
    EXPECT_EQ(image.BlackIndex(), c.black) << c.bits;
    EXPECT_EQ(image.WhiteIndex(), c.white) << c.bits;
  }
}

TEST(DIB, GreyLevelsPickTheNearestEntryAndTheFirstOnATie) {
  TDIB image;
  image.NewImage(2, 1, kFormat1Bit, 0, 0);
  image.SetPixel(1, 0, 1);
  EXPECT_EQ(image.GetGray(0, 0), 0);
  EXPECT_EQ(image.GetGray(1, 0), 255);
  for (int32_t level = 0; level <= 255; ++level) {
    image.SetGray(0, 0, level);
    ASSERT_EQ(image.GetPixel(0, 0), level >= 128 ? 1 : 0) << level;
  }
  image.SetPaletteEntry(1, 0xFEFEFE);
  image.SetGray(0, 0, 127);  // 127 from both entries
  EXPECT_EQ(image.GetPixel(0, 0), 0);

  TDIB grey;
  grey.NewImage(1, 1, kFormat4Bit, 0, 0);
  grey.SetGray(0, 0, 203);  // entries are 0, 16, ..., 240: 208 is nearest
  EXPECT_EQ(grey.GetPixel(0, 0), 13);
  grey.SetColor(0, 0, 0x202020);
  EXPECT_EQ(grey.GetPixel(0, 0), 2);
  EXPECT_EQ(grey.GetColor(0, 0), 0x202020u);

  TDIB rgb;
  rgb.NewImage(1, 1, kFormat24Bit, 0, 0);
  rgb.SetColor(0, 0, 0x0A141E);  // red 10, green 20, blue 30
  EXPECT_EQ(rgb.GetPixel(0, 0), 10 | 20 << 8 | 30 << 16);
  EXPECT_EQ(rgb.GetColor(0, 0), 0x0A141Eu);
  EXPECT_EQ(rgb.GetGray(0, 0), 18);  // 0.11 * 30 + 0.59 * 20 + 0.3 * 10 = 18.1
  rgb.SetGray(0, 0, 77);
  EXPECT_EQ(rgb.GetColor(0, 0), 0x4D4D4Du);

  TDIB quad;
  quad.NewImage(1, 1, kFormat32Bit, 0, 0);
  quad.SetColor(0, 0, 0xFF0A141E);
  EXPECT_EQ(quad.GetColor(0, 0), 0x0A141Eu);   // the fourth byte is written 0
  EXPECT_EQ(quad.GetPixel(0, 0), 0x1E140A00);  // bytes blue, green, red, 0
  EXPECT_EQ(quad.GetGray(0, 0), 0);
}

TEST(DIB, ACallersBitmapIsWrappedNeverCopiedOrFreed) {
  DibFields f;
  f.width = 20;
  f.height = 10;
  std::vector<uint8_t> bytes = BuildDib(f);
  bytes.back() = 0x5A;
  platform::GlobalBlock block = BlockOf(bytes);
  {
    TDIB wrapper;
    wrapper.SetOwnsHandle(false);
    wrapper.LoadFromHandle(block.Get());
    EXPECT_EQ(wrapper.Handle(), block.Get());
    EXPECT_EQ(wrapper.LockCount(), 1);
    EXPECT_EQ(wrapper.BlockSize(), bytes.size());
    EXPECT_EQ(wrapper.Width(), 20u);
    EXPECT_EQ(wrapper.Height(), 10u);
    EXPECT_EQ(MessageOf([&] { wrapper.SetSize(30, 10, 0); }),
              "Cannot change the size of a borrowed bitmap");
  }
  // Unlocked again (a locked block cannot be re-allocated) and unchanged.
  EXPECT_EQ(BytesOf(block.Get()), bytes);
  EXPECT_EQ(platform::GlobalReAlloc(block.Get(), bytes.size(), 0), block.Get());
}

TEST(DIB, ARefusedBitmapKeepsItsHandleAndLockUntilFreed) {
  DibFields f;
  f.info_size = 12;
  platform::GlobalBlock block = BlockOf(BuildDib(f));
  TDIB image;
  image.SetOwnsHandle(false);
  EXPECT_THROW(image.LoadFromHandle(block.Get()), Error);
  EXPECT_EQ(image.Handle(), block.Get());
  EXPECT_EQ(image.LockCount(), 1);
  EXPECT_EQ(image.Header(), nullptr);
  EXPECT_EQ(image.Width(), 0u);
  EXPECT_THROW(image.GetPixel(0, 0), Error);
  EXPECT_THROW(image.BlackIndex(), Error);
  image.FreeImage();
  EXPECT_EQ(image.LockCount(), 0);
  EXPECT_EQ(platform::GlobalSize(block.Get()), BuildDib(f).size());  // not freed
}

TEST(DIB, InvalidHandlesRaiseTheSystemError) {
  TDIB image;
#ifdef _WIN32
  // The system does not always detect a foreign handle, but it never locks an empty movable
  // block: there is no memory to give.
  platform::GlobalBlock empty(platform::GlobalAlloc(platform::kGMemMoveable, 0));
  ASSERT_NE(empty.Get(), nullptr);
  image.SetOwnsHandle(false);
  EXPECT_THROW(image.LoadFromHandle(empty.Get()), SystemError);
  image.FreeImage();
#else
  int local = 0;
  try {
    image.LoadFromHandle(&local);
    FAIL();
  } catch (const SystemError& e) {
    EXPECT_EQ(e.Code(), platform::kErrorInvalidHandle);
  }
#endif
  image.LoadFromHandle(nullptr);
  EXPECT_EQ(image.Width(), 0u);
  EXPECT_THROW(image.Lock(), SystemError);
}

TEST(DIB, LocksNestAndOnlyTheLastUnlockReleasesTheBlock) {
  TDIB image;
  image.NewImage(4, 4, kFormat8Bit, 0, 0);
  void* memory = image.Lock();
  EXPECT_EQ(memory, image.Header());
  EXPECT_EQ(image.LockCount(), 2);
  image.Unlock();
  EXPECT_EQ(image.LockCount(), 1);
  image.UnlockAll();
  EXPECT_EQ(image.LockCount(), 0);
  image.Unlock();  // nothing left to undo
  EXPECT_EQ(image.LockCount(), 0);
  EXPECT_EQ(platform::GlobalReAlloc(image.Handle(), 2000, 0), image.Handle());
}

TEST(DIB, PixelAccessOutsideTheImageIsRefused) {
  TDIB image;
  image.NewImage(5, 3, kFormat24Bit, 0, 0);
  const int32_t outside[][2] = {{-1, 0}, {5, 0}, {0, 3}, {0, -1}, {INT32_MIN, INT32_MAX}};
  for (const auto& p : outside) {
    EXPECT_EQ(MessageOf([&] { image.GetPixel(p[0], p[1]); }), "Pixel out of bitmap");
    EXPECT_THROW(image.SetPixel(p[0], p[1], 0), Error);
    EXPECT_THROW(image.GetColor(p[0], p[1]), Error);
    EXPECT_THROW(image.SetGray(p[0], p[1], 0), Error);
  }
  EXPECT_THROW(image.ScanLine(3), Error);
  EXPECT_THROW(image.PaletteEntry(0), Error);  // 24 bits: no table
  TDIB empty;
  EXPECT_EQ(empty.Width(), 0u);
  EXPECT_EQ(empty.BitCount(), 0);
  EXPECT_EQ(empty.XResolution(), 0);
  EXPECT_THROW(empty.Fill(0), Error);
  EXPECT_THROW(empty.SetTrailingBits(), Error);
}

}  // namespace
}  // namespace ocrb

namespace ocrb {
namespace {

// A new image in an object that already owns a block keeps the block when it is large enough
// and not much larger, and is blank all the same; a much larger block is given back.
TEST(NewImage, ReusesItsOwnBlockOnlyWithinBoundsAndAlwaysStartsBlank) {
  TDIB image;
  image.NewImage(200, 100, kFormat1Bit, 300, 300);
  image.FillWhite();
  const platform::HGlobal first = image.Handle();
  image.NewImage(150, 90, kFormat1Bit, 200, 200);
  EXPECT_EQ(image.Handle(), first);
  EXPECT_EQ(image.LockCount(), 1);
  EXPECT_EQ(image.Width(), 150u);
  EXPECT_EQ(image.XResolution(), 200);
  for (int32_t y = 0; y < 90; ++y)
    for (int32_t x = 0; x < 150; ++x) ASSERT_EQ(image.GetPixel(x, y), 0) << x << "," << y;
  EXPECT_EQ(image.PaletteEntry(1), 0xFFFFFFu);
  image.NewImage(4000, 4000, kFormat1Bit, 0, 0);  // larger than the block: a new one
  EXPECT_GE(image.BlockSize(), static_cast<size_t>(image.Size()));
  const size_t big = image.BlockSize();
  image.NewImage(20, 20, kFormat1Bit, 0, 0);  // far smaller: the big block goes back
  EXPECT_LT(image.BlockSize(), big);
  EXPECT_THROW(image.NewImage(0, 5, kFormat1Bit, 0, 0), Error);
  EXPECT_EQ(image.Header(), nullptr);
}

}  // namespace
}  // namespace ocrb
