// Thinning and dilation of 1-bit glyph images.
//
// Thin is a parallel thinning on the 3 x 3 neighbourhood (the Zhang-Suen conditions) run on a
// copy with a white frame one pixel wide. Each of the two sub-passes of an iteration decides
// from the copy as it was before the sub-pass, and whitens the pixels with 2..6 black
// neighbours and exactly one white-to-black step around them whose south-east (first
// sub-pass) or north-west (second sub-pass) side is open; the iterations stop at the first
// that whitens nothing. A table-driven clean-up then removes, in raster order and in place,
// the pixels that an 8-connected line one pixel wide does not need. Dilate stamps a square
// around every black pixel into a copy with a margin.
#include "image/thin.h"

#include <limits>
#include <type_traits>
#include <vector>

#include "image/layout.h"
#include "platform/beep.h"
#include "platform/error.h"

namespace ocrb {

namespace {

// Clean-up action by code: rows are code div 16 (south, south-west, west, north-west),
// columns code mod 16 (north, north-east, east, south-east). K keeps the pixel, D removes it,
// B removes it and beeps.
constexpr char kCleanupTable[16][17] = {
    "KKKBKDBBKKKKBDBB",  // 0
    "KKKKDKDDBKKKBDBB",  // 1
    "KKKKKKKKKKKKKKKK",  // 2
    "BKKKDDDDBKKKBDBB",  // 3
    "KDKDKKKDKKKKKDKD",  // 4
    "DKKDKKDKDDKDDKDK",  // 5
    "BDKDKDKDKKKKKDKD",  // 6
    "BDKDDKDKBDKDBKBK",  // 7
    "KBKBKDKBKKKKKDKB",  // 8
    "KKKKKDKDKKKKKDKB",  // 9
    "KKKKKKKKKKKKKKKK",  // 10
    "KKKKKDKDKKKKKDKD",  // 11
    "BBKBKDKBKKKKKDKB",  // 12
    "DDKDDKDKDDKDDKDK",  // 13
    "BBKBKDKBKKKKKDKD",  // 14
    "BBKBDKDKBBKDBKDK",  // 15
};

// Size of a temporary image with Margin pixels added on each side.
int32_t WithMargin(uint32_t size, int64_t margin) {
  const int64_t total = int64_t{size} + 2 * margin;
  if (total > std::numeric_limits<int32_t>::max()) throw Error("Image too large");
  return static_cast<int32_t>(total);
}

}  // namespace

TCleanup CleanupAction(uint8_t code) {
  switch (kCleanupTable[code >> 4][code & 15]) {
    case 'D':
      return TCleanup::Delete;
    case 'B':
      return TCleanup::DeleteAndBeep;
    default:
      return TCleanup::Keep;
  }
}

int32_t CountNeighbours(const uint8_t (&p)[10]) {
  int32_t count = 0;
  for (int k = 2; k <= 9; ++k) count += p[k];
  return count;
}

int32_t CountTransitions(const uint8_t (&p)[10]) {
  int32_t count = 0;
  for (int k = 2; k <= 9; ++k) count += p[k] == 0 && p[k == 9 ? 2 : k + 1] == 1;
  return count;
}

void TDIB::ReadNeighbours(int32_t x, int32_t y, int32_t black, uint8_t (&p)[10]) const {
  const uint8_t* north = Row(y - 1);
  const uint8_t* row = Row(y);
  const uint8_t* south = Row(y + 1);
  const uint8_t f = format_code_;
  p[1] = ReadRaw(row, x, f) == black;
  p[2] = ReadRaw(north, x, f) == black;
  p[3] = ReadRaw(north, x + 1, f) == black;
  p[4] = ReadRaw(row, x + 1, f) == black;
  p[5] = ReadRaw(south, x + 1, f) == black;
  p[6] = ReadRaw(south, x, f) == black;
  p[7] = ReadRaw(south, x - 1, f) == black;
  p[8] = ReadRaw(row, x - 1, f) == black;
  p[9] = ReadRaw(north, x - 1, f) == black;
}

void GetNeighbours(int32_t x, int32_t y, const TDIB& image, uint8_t (&p)[10]) {
  if (x < 1 || y < 1 || int64_t{x} + 1 >= image.Width() || int64_t{y} + 1 >= image.Height()) {
    throw Error("Pixel out of bitmap");
  }
  image.ReadNeighbours(x, y, image.BlackIndex(), p);
}

void TDIB::CheckMarks(const TDIB& marks) const {
  RequireImage();
  if (marks.Header() == nullptr || marks.width_ < width_ || marks.height_ < height_) {
    throw Error("The marks image is smaller than the image");
  }
}

// The sub-pass decisions read only this image and write only Marks, so every decision sees
// the image as it was before the sub-pass.
template <int Pass>
int32_t TDIB::MarkPass(TDIB& marks) const {
  CheckMarks(marks);
  const int32_t black = BlackIndex();
  const auto width = static_cast<int32_t>(width_), height = static_cast<int32_t>(height_);
  uint8_t p[10];
  for (int32_t x = 1; x < width - 1; ++x) {
    for (int32_t y = 1; y < height - 1; ++y) {
      ReadNeighbours(x, y, black, p);
      const int32_t b = CountNeighbours(p);
      bool mark = b >= 2 && b <= 6 && CountTransitions(p) == 1;
      if constexpr (Pass == 1) {
        mark = mark && p[2] * p[4] * p[6] == 0 && p[4] * p[6] * p[8] == 0;
      } else {
        mark = mark && p[2] * p[4] * p[8] == 0 && p[2] * p[6] * p[8] == 0;
      }
      marks.PutPixel(x, y, mark ? 1 : 0);
    }
  }
  return 1;
}

int32_t TDIB::MarkPass1(TDIB& marks) const {
  return MarkPass<1>(marks);
}
int32_t TDIB::MarkPass2(TDIB& marks) const {
  return MarkPass<2>(marks);
}

int64_t TDIB::DeleteMarked(const TDIB& marks) {
  CheckMarks(marks);
  const int32_t white = WhiteIndex();
  int64_t removed = 0;
  for (uint32_t y = 0; y < height_; ++y) {
    for (uint32_t x = 0; x < width_; ++x) {
      const auto xi = static_cast<int32_t>(x), yi = static_cast<int32_t>(y);
      if (marks.PixelAt(xi, yi) == 1 && PixelAt(xi, yi) != white) {
        PutPixel(xi, yi, white);
        ++removed;
      }
    }
  }
  return removed;
}

// The sub-passes run on a framed grid of one byte per pixel holding what the 1-bit working
// copy would hold: ink where the writer of a 1-bit pixel stores 0 (a raw value of 0 or
// less). Only black pixels are tested; a mark on a white pixel would change nothing.
void TDIB::Thin() {
  RequireImage();
  const int32_t black = BlackIndex();
  const int32_t white = WhiteIndex();
  const auto width = static_cast<int32_t>(width_), height = static_cast<int32_t>(height_);
  const int64_t pitch = WithMargin(width_, 1);
  const int64_t framed_height = WithMargin(height_, 1);
  if (pitch * framed_height > kMaxPixelBytes) throw Error("Image too large");
  std::vector<uint8_t> ink(static_cast<size_t>(pitch * framed_height), 0);
  auto at = [&](int32_t x, int32_t y) -> uint8_t& {  // image coordinates, frame around them
    return ink[static_cast<size_t>((y + 1) * pitch + x + 1)];
  };
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) at(x, y) = PixelAt(x, y) <= 0;
  }

  std::vector<size_t> doomed;
  auto sub_pass = [&](auto pass) -> size_t {
    doomed.clear();
    for (int32_t x = 0; x < width; ++x) {
      for (int32_t y = 0; y < height; ++y) {
        const uint8_t* c = &at(x, y);
        if (*c == 0) continue;
        const uint8_t* n = c - pitch;
        const uint8_t* s = c + pitch;
        const uint8_t p[10] = {0, 1, n[0], n[1], c[1], s[1], s[0], s[-1], c[-1], n[-1]};
        const int32_t b = CountNeighbours(p);
        if (b < 2 || b > 6 || CountTransitions(p) != 1) continue;
        if constexpr (decltype(pass)::value == 1) {
          if (p[2] * p[4] * p[6] != 0 || p[4] * p[6] * p[8] != 0) continue;
        } else {
          if (p[2] * p[4] * p[8] != 0 || p[2] * p[6] * p[8] != 0) continue;
        }
        doomed.push_back(static_cast<size_t>(c - ink.data()));
      }
    }
    for (size_t i : doomed) ink[i] = 0;
    return doomed.size();
  };
  size_t removed;
  do {
    removed = sub_pass(std::integral_constant<int, 1>{});
    removed += sub_pass(std::integral_constant<int, 2>{});
  } while (removed != 0);

  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) PutPixel(x, y, at(x, y) ? 0 : 1);
  }

  // Clean-up in raster order: each decision sees the removals already made.
  for (int32_t y = 1; y < height - 1; ++y) {
    for (int32_t x = 1; x < width - 1; ++x) {
      if (PixelAt(x, y) != black) continue;
      const int32_t neighbours[8] = {
          PixelAt(x, y - 1), PixelAt(x + 1, y - 1), PixelAt(x + 1, y), PixelAt(x + 1, y + 1),
          PixelAt(x, y + 1), PixelAt(x - 1, y + 1), PixelAt(x - 1, y), PixelAt(x - 1, y - 1)};
      uint8_t code = 0;
      for (int bit = 0; bit < 8; ++bit) code |= (neighbours[bit] == black) << bit;
      const TCleanup action = CleanupAction(code);
      if (action == TCleanup::Keep) continue;
      PutPixel(x, y, white);
      if (action == TCleanup::DeleteAndBeep) platform::Beep();
    }
  }
}

void TDIB::Dilate(int32_t radius) {
  RequireImage();
  const auto width = static_cast<int32_t>(width_), height = static_cast<int32_t>(height_);
  if (radius < 0) {
    // An empty square stamps nothing: every pixel takes the white of the blank copy.
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) PutPixel(x, y, 1);
    }
    return;
  }
  const int32_t black = BlackIndex();
  TDIB work;
  work.NewImage(WithMargin(width_, radius), WithMargin(height_, radius), kFormat1Bit, XResolution(),
                YResolution());
  work.FillWhite();
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      if (PixelAt(x, y) != black) continue;
      for (int32_t i = 0; i <= 2 * radius; ++i) {
        for (int32_t j = 0; j <= 2 * radius; ++j) work.PutPixel(x + i, y + j, black);
      }
    }
  }
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) PutPixel(x, y, work.PixelAt(radius + x, radius + y));
  }
}

}  // namespace ocrb
