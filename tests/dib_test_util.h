// Helpers shared by the image tests: packed DIBs built byte by byte, movable blocks holding
// them, and 1-bit images drawn as text ('#' ink, '.' paper).
#ifndef OCRB_TESTS_DIB_TEST_UTIL_H_
#define OCRB_TESTS_DIB_TEST_UTIL_H_

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image/dib.h"
#include "image/packed_dib.h"
#include "platform/memory.h"

namespace ocrb::testing_util {

using layout::Get32;
using layout::Put16;
using layout::Put32;

// The fields of a packed DIB to build. Stride and the table size follow the usual rules:
// rows padded to 4 bytes, 2^bits table entries up to 8 bits.
struct DibFields {
  int32_t width = 8;
  int32_t height = 4;
  uint16_t bits = 1;
  uint32_t info_size = 40;
  uint32_t compression = 0;
  int32_t x_ppm = 7874;  // 200 dpi
  int32_t y_ppm = 7874;
  uint32_t clr_used = 0;
  std::vector<uint32_t> palette;  // padded with zeros to the table size
};

inline int64_t StrideFor(int64_t width, int64_t bits) {
  return (width * bits + 31) / 32 * 4;
}
inline int64_t TableEntries(uint16_t bits) {
  return bits <= 8 ? int64_t{1} << bits : 0;
}

// Header, table and zeroed rows; pixel rows start at PixelOffset(f).
inline size_t PixelOffset(const DibFields& f) {
  return f.info_size + 4 * static_cast<size_t>(TableEntries(f.bits));
}
inline std::vector<uint8_t> BuildDib(const DibFields& f) {
  const int64_t rows = f.height < 0 ? -int64_t{f.height} : f.height;
  std::vector<uint8_t> b(PixelOffset(f) + static_cast<size_t>(StrideFor(f.width, f.bits) * rows));
  Put32(b, 0, f.info_size);
  Put32(b, 4, static_cast<uint32_t>(f.width));
  Put32(b, 8, static_cast<uint32_t>(f.height));
  Put16(b, 12, 1);
  Put16(b, 14, f.bits);
  Put32(b, 16, f.compression);
  Put32(b, 24, static_cast<uint32_t>(f.x_ppm));
  Put32(b, 28, static_cast<uint32_t>(f.y_ppm));
  Put32(b, 32, f.clr_used);
  for (size_t i = 0; i < f.palette.size(); ++i) Put32(b, f.info_size + 4 * i, f.palette[i]);
  return b;
}

// A rectangle as an array that GoogleTest can compare and print.
inline std::array<int32_t, 4> Box(const TRect& r) {
  return {r.Left, r.Top, r.Right, r.Bottom};
}

// A movable block holding exactly Bytes.
inline platform::GlobalBlock BlockOf(const std::vector<uint8_t>& bytes) {
  platform::GlobalBlock block(platform::GlobalAlloc(platform::kGMemMoveable, bytes.size()));
  if (!bytes.empty()) {
    std::memcpy(platform::GlobalLock(block.Get()), bytes.data(), bytes.size());
    platform::GlobalUnlock(block.Get());
  }
  return block;
}

// The block's bytes, for comparing before and after.
inline std::vector<uint8_t> BytesOf(platform::HGlobal mem) {
  std::vector<uint8_t> bytes(platform::GlobalSize(mem));
  if (!bytes.empty()) {
    std::memcpy(bytes.data(), platform::GlobalLock(mem), bytes.size());
    platform::GlobalUnlock(mem);
  }
  return bytes;
}

// A new 1-bit image (table black, white) drawn from text: '#' is value 0, '.' value 1. With
// WhiteFirst the table is (white, black) and '#' is value 1.
inline std::unique_ptr<TDIB> FromArt(const std::vector<std::string>& art,
                                     bool white_first = false) {
  auto image = std::make_unique<TDIB>();
  image->NewImage(static_cast<int32_t>(art[0].size()), static_cast<int32_t>(art.size()),
                  kFormat1Bit, 200, 200);
  if (white_first) {
    image->SetPaletteEntry(0, 0x00FFFFFF);
    image->SetPaletteEntry(1, 0);
  }
  image->Fill(white_first ? 0x00 : 0xFF);
  const int32_t ink = white_first ? 1 : 0;
  for (size_t y = 0; y < art.size(); ++y) {
    for (size_t x = 0; x < art[y].size(); ++x) {
      if (art[y][x] == '#') image->SetPixel(static_cast<int32_t>(x), static_cast<int32_t>(y), ink);
    }
  }
  return image;
}

// The picture of a 1-bit image: '#' where the value is Ink, '.' elsewhere.
inline std::vector<std::string> ToArt(const TDIB& image, int32_t ink = 0) {
  std::vector<std::string> art(image.Height(), std::string(image.Width(), '.'));
  for (uint32_t y = 0; y < image.Height(); ++y) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      if (image.GetPixel(static_cast<int32_t>(x), static_cast<int32_t>(y)) == ink) art[y][x] = '#';
    }
  }
  return art;
}

// A packed DIB of random ink at 300 dpi (ink is palette entry 0): the noise a careless scan
// or a crafted file brings.
inline std::vector<uint8_t> NoiseDib(int32_t w, int32_t h, int percent, std::mt19937_64& random) {
  const int32_t stride = (w + 31) / 32 * 4;
  std::vector<uint8_t> dib(48 + static_cast<size_t>(stride) * h, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) dib[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, static_cast<uint32_t>(w));
  put32(8, static_cast<uint32_t>(h));
  dib[12] = 1;
  dib[14] = 1;
  put32(24, 11811);  // 300 dpi
  put32(28, 11811);
  put32(44, 0xFFFFFF);  // entry 1 white: ink is 0
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const bool ink = static_cast<int>(random() % 100) < percent;
      if (!ink)
        dib[48 + static_cast<size_t>(y) * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
  return dib;
}

// The packed DIB of a BMP file: everything after the 14-byte file header (the file's bytes
// when it is too short to hold one, which no reader accepts).
inline std::vector<uint8_t> PackedDib(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  return bytes.size() > 14 ? std::vector<uint8_t>(bytes.begin() + 14, bytes.end()) : bytes;
}

}  // namespace ocrb::testing_util

#endif  // OCRB_TESTS_DIB_TEST_UTIL_H_
