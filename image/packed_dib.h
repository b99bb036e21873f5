// The packed DIB as files and memory blocks hold it: where the fields of its info header lie,
// how resolution is stored, and little-endian access to its fields. Engine, reader, tools and
// tests all take these from here.
#ifndef OCRB_IMAGE_PACKED_DIB_H_
#define OCRB_IMAGE_PACKED_DIB_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ocrb::layout {

// Bytes of a BMP file's own header, before the packed DIB, and of the info header the engine
// reads (a longer header is accepted and its extra fields skipped).
constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;

// Offsets of the info header fields.
constexpr size_t kSizeField = 0;
constexpr size_t kWidthField = 4;
constexpr size_t kHeightField = 8;
constexpr size_t kPlanesField = 12;
constexpr size_t kBitCountField = 14;
constexpr size_t kCompressionField = 16;
constexpr size_t kSizeImageField = 20;
constexpr size_t kXPelsField = 24;
constexpr size_t kYPelsField = 28;
constexpr size_t kClrUsedField = 32;
constexpr size_t kClrImportantField = 36;

// Resolution is stored in pixels per metre and exchanged in dots per inch: 200 dpi is 7874.
// The engine converts in extended precision; code that works in double precision uses
// static_cast<double>(kPelsPerMeterPerDpi), which is the double nearest 39.37.
constexpr long double kPelsPerMeterPerDpi = 39.37L;

inline uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline int32_t GetI32(const uint8_t* p) {
  return static_cast<int32_t>(Get32(p));
}
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
// The same at byte At of a buffer being built.
inline void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  Put16(b.data() + at, v);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put32(b.data() + at, v);
}

}  // namespace ocrb::layout

#endif  // OCRB_IMAGE_PACKED_DIB_H_
