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

#include <algorithm>
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

namespace {

// A neighbourhood as one byte, in the clean-up code's order: bit 0 north, then clockwise
// (north-east, east, south-east, south, south-west, west) to bit 7 north-west. These are
// P2..P9 in order, so a sub-pass decision depends on nothing else and is looked up.
constexpr int kNorth = 0, kEast = 2, kSouth = 4, kWest = 6;

constexpr bool Bit(int code, int k) {
  return ((code >> k) & 1) != 0;
}

// Whether sub-pass Pass whitens a black pixel with neighbourhood Code.
constexpr bool SubPassRemoves(int pass, int code) {
  int black = 0, steps = 0;
  for (int k = 0; k < 8; ++k) {
    black += Bit(code, k);
    steps += !Bit(code, k) && Bit(code, (k + 1) % 8);
  }
  if (black < 2 || black > 6 || steps != 1) return false;
  const bool n = Bit(code, kNorth), e = Bit(code, kEast), s = Bit(code, kSouth),
             w = Bit(code, kWest);
  return pass == 1 ? !(n && e && s) && !(e && s && w) : !(n && e && w) && !(n && s && w);
}

struct SubPassTable {
  bool removes[2][256];
  constexpr SubPassTable() : removes{} {
    for (int code = 0; code < 256; ++code) {
      removes[0][code] = SubPassRemoves(1, code);
      removes[1][code] = SubPassRemoves(2, code);
    }
  }
};
constexpr SubPassTable kSubPass;

// The neighbourhood code of the cell at C in a grid of one byte (0 or 1) per pixel.
inline uint8_t CodeAt(const uint8_t* c, int64_t pitch) {
  const uint8_t* n = c - pitch;
  const uint8_t* s = c + pitch;
  return static_cast<uint8_t>(n[0] | n[1] << 1 | c[1] << 2 | s[1] << 3 | s[0] << 4 | s[-1] << 5 |
                              c[-1] << 6 | n[-1] << 7);
}

// One byte per pixel of a 1-bit row: 1 where the bit is 0 (the writer's black).
void UnpackZeros(const uint8_t* row, int32_t width, uint8_t* out) {
  for (int32_t x = 0; x < width; ++x) out[x] = ((row[x >> 3] >> (7 - (x & 7))) & 1) ^ 1;
}

// Writes a 1-bit row from one byte per pixel: bit 0 where the byte is set, 1 elsewhere. The
// alignment bits after the last pixel keep what they hold.
void PackZeros(const uint8_t* in, int32_t width, uint8_t* row) {
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    unsigned byte = 0;
    for (int k = 0; k < 8; ++k) byte = byte << 1 | (in[x + k] ^ 1u);
    row[x >> 3] = static_cast<uint8_t>(byte);
  }
  for (; x < width; ++x) {
    const auto mask = static_cast<uint8_t>(0x80 >> (x & 7));
    row[x >> 3] = in[x] ? static_cast<uint8_t>(row[x >> 3] & ~mask) : (row[x >> 3] | mask);
  }
}

}  // namespace

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
  const bool one_bit = format_code_ == kFormat1Bit;
  for (int32_t y = 0; y < height; ++y) {
    if (one_bit) {
      UnpackZeros(Row(y), width, &at(0, y));
      continue;
    }
    for (int32_t x = 0; x < width; ++x) at(x, y) = PixelAt(x, y) <= 0;
  }

  // Ink cells still to be judged; a whitened cell never turns black again, so the list only
  // shrinks, and the sub-passes never look at paper.
  std::vector<size_t> alive;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      if (at(x, y) != 0) alive.push_back(static_cast<size_t>(&at(x, y) - ink.data()));
    }
  }
  std::vector<size_t> doomed;
  auto sub_pass = [&](const bool(&removes)[256]) -> size_t {
    doomed.clear();
    for (size_t i : alive) {
      if (ink[i] != 0 && removes[CodeAt(&ink[i], pitch)]) doomed.push_back(i);
    }
    for (size_t i : doomed) ink[i] = 0;
    return doomed.size();
  };
  size_t removed;
  do {
    removed = sub_pass(kSubPass.removes[0]);
    removed += sub_pass(kSubPass.removes[1]);
    std::erase_if(alive, [&](size_t i) { return ink[i] == 0; });
  } while (removed != 0);

  if (format_code_ == kFormat1Bit && black == 0 && white == 1) {
    // The table NewImage makes: ink is black, so the clean-up can stay on the grid. In raster
    // order, each decision sees the removals already made.
    for (int32_t y = 1; y < height - 1; ++y) {
      uint8_t* c = &at(1, y);
      for (int32_t x = 1; x < width - 1; ++x, ++c) {
        if (*c == 0) continue;
        const TCleanup action = CleanupAction(CodeAt(c, pitch));
        if (action == TCleanup::Keep) continue;
        *c = 0;
        if (action == TCleanup::DeleteAndBeep) platform::Beep();
      }
    }
    for (int32_t y = 0; y < height; ++y) PackZeros(&at(0, y), width, Row(y));
    return;
  }

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
  if (format_code_ == kFormat1Bit && black == 0) {
    // A square is a row segment stamped down a column segment: take the ink of each row
    // widened by Radius either way, then of each column lengthened by Radius either way. Ink
    // pushed past the border falls off, as it does from the margin of a copy.
    // The copy is not made, but a size it could not have is refused all the same.
    layout::CheckedLayout(WithMargin(width_, radius), WithMargin(height_, radius), kFormat1Bit);
    const auto w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    std::vector<uint8_t> rows(w * h, 0), out(w * h, 0);
    const int64_t r = radius;
    std::vector<uint8_t> ink(w);
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* line = &rows[static_cast<size_t>(y) * w];
      UnpackZeros(Row(y), width, ink.data());
      for (int32_t x = 0; x < width; ++x) {
        if (ink[static_cast<size_t>(x)] == 0) continue;
        const int64_t from = std::max<int64_t>(0, x - r), to = std::min<int64_t>(width - 1, x + r);
        for (int64_t i = from; i <= to; ++i) line[i] = 1;
      }
    }
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* line = &rows[static_cast<size_t>(y) * w];
      const int64_t from = std::max<int64_t>(0, y - r), to = std::min<int64_t>(height - 1, y + r);
      for (int64_t j = from; j <= to; ++j) {
        uint8_t* target = &out[static_cast<size_t>(j) * w];
        for (size_t x = 0; x < w; ++x) target[x] |= line[x];
      }
    }
    for (int32_t y = 0; y < height; ++y) PackZeros(&out[static_cast<size_t>(y) * w], width, Row(y));
    return;
  }
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
