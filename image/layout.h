// Sizes of packed DIBs, shared by the image units (field offsets and little-endian access
// come from image/packed_dib.h). Sizes are formed in 64 bits and checked against
// kMaxPixelBytes before anything is allocated.
#ifndef OCRB_IMAGE_LAYOUT_H_
#define OCRB_IMAGE_LAYOUT_H_

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "image/dib.h"
#include "image/packed_dib.h"

namespace ocrb::layout {

// Round: to nearest, halves to even, in extended precision.
inline int64_t Round(long double x) {
  return static_cast<int64_t>(std::nearbyint(x));
}

// Bits per pixel that NewImage stores for Format 1..7; 0 for any other Format.
inline uint16_t FormatBits(uint8_t format) {
  constexpr uint16_t kBits[8] = {0, 1, 4, 8, 16, 16, 24, 32};
  return format < 8 ? kBits[format] : 0;
}
// Colour-table entries NewImage writes for Format 1..7.
inline int32_t FormatColors(uint8_t format) {
  constexpr int32_t kColors[8] = {0, 2, 16, 256, 0, 0, 0, 0};
  return format < 8 ? kColors[format] : 0;
}
// Format code of a stored bit count; 0 when the engine cannot read it.
inline uint8_t FormatOfBitCount(uint16_t bits) {
  switch (bits) {
    case 1:
      return kFormat1Bit;
    case 4:
      return kFormat4Bit;
    case 8:
      return kFormat8Bit;
    case 15:
      return kFormat15Bit;
    case 16:
      return kFormat16Bit;
    case 24:
      return kFormat24Bit;
    case 32:
      return kFormat32Bit;
    default:
      return 0;
  }
}

// Bytes per stored row: rows start on 4-byte boundaries.
inline int64_t StrideOf(int64_t width, int64_t bits) {
  return (width * bits + 31) / 32 * 4;
}
inline int64_t RowBytesOf(int64_t width, int64_t bits) {
  return (width * bits + 7) / 8;
}

struct TLayout {
  int32_t stride;
  int32_t row_bytes;
  int32_t colors;
  int32_t size;  // 40-byte header, colour table and rows
};

// The layout of a new Width x Height image of Format. Raises "Bit depht not allowed" for a
// Format outside 1..7 and Error for a size that is not positive or is too large.
TLayout CheckedLayout(int64_t width, int64_t height, uint8_t format);

// Calls F with Format as a compile-time constant, so that the pixel readers and writers
// inside a loop lose their switch. Format must be 1..7.
template <typename F>
void DispatchFormat(uint8_t format, F&& f) {
  switch (format) {
    case kFormat1Bit:
      f(std::integral_constant<uint8_t, kFormat1Bit>{});
      break;
    case kFormat4Bit:
      f(std::integral_constant<uint8_t, kFormat4Bit>{});
      break;
    case kFormat8Bit:
      f(std::integral_constant<uint8_t, kFormat8Bit>{});
      break;
    case kFormat15Bit:
    case kFormat16Bit:
      f(std::integral_constant<uint8_t, kFormat16Bit>{});
      break;
    case kFormat24Bit:
      f(std::integral_constant<uint8_t, kFormat24Bit>{});
      break;
    default:
      f(std::integral_constant<uint8_t, kFormat32Bit>{});
      break;
  }
}

}  // namespace ocrb::layout

#endif  // OCRB_IMAGE_LAYOUT_H_
