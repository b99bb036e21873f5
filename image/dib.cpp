// The packed DIB in its memory block: header parsing with every size checked against the
// block, the lock discipline, new images, and pixel and colour access for the seven formats.
//
// Picture row Y is stored at Bits + (Height - 1 - Y) * Stride, so instead of a table of row
// pointers the image keeps the address of row 0 (the last stored row) and steps back one
// Stride per row. Pixel values are raw; colours go through the colour table only in the
// colour and grey operations.
#include "image/dib.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "image/layout.h"
#include "platform/error.h"

namespace ocrb {

using namespace layout;

namespace {

constexpr char kBadHeaderSize[] = "BMP File error: invalid BitmapInfoHeader size !";

// A colour-table entry's red, green and blue bytes.
constexpr uint32_t kRgbMask = 0x00FFFFFF;

}  // namespace

namespace layout {

TLayout CheckedLayout(int64_t width, int64_t height, uint8_t format) {
  const uint16_t bits = FormatBits(format);
  if (bits == 0) throw Error("Bit depht not allowed");
  if (width <= 0 || height <= 0) throw Error("Invalid image size");
  const int64_t stride = StrideOf(width, bits);
  if (stride > kMaxPixelBytes || stride * height > kMaxPixelBytes) {
    throw Error("Image too large");
  }
  const int32_t colors = FormatColors(format);
  return TLayout{static_cast<int32_t>(stride), static_cast<int32_t>(RowBytesOf(width, bits)),
                 colors, static_cast<int32_t>(stride * height + kInfoHeaderSize + 4 * colors)};
}

}  // namespace layout

TDIB::~TDIB() {
  FreeImage();
}

void* TDIB::Lock() {
  if (lock_count_ == 0) {
    void* memory = platform::GlobalLock(handle_);
    if (memory == nullptr) platform::RaiseLastOSError();
    memory_ = static_cast<uint8_t*>(memory);
  }
  ++lock_count_;
  return memory_;
}

void TDIB::Unlock() {
  if (lock_count_ <= 0) return;
  if (--lock_count_ == 0) {
    platform::GlobalUnlock(handle_);
    memory_ = nullptr;
  }
}

void TDIB::UnlockAll() {
  if (handle_ == nullptr) return;
  while (lock_count_ > 0) Unlock();
}

void TDIB::FreeImage() {
  UnlockAll();
  if (handle_ != nullptr && owns_handle_) platform::GlobalFree(handle_);
  handle_ = nullptr;
  block_size_ = 0;
  ClearLayout();
}

void TDIB::ClearLayout() {
  header_ = palette_ = bits_ = top_row_ = nullptr;
  width_ = height_ = 0;
  bit_count_ = 0;
}

void TDIB::LoadFromHandle(platform::HGlobal handle) {
  FreeImage();
  handle_ = handle;
  if (handle == nullptr) return;
  block_size_ = platform::GlobalSize(handle);
  Lock();
  ParseHeader();
  BuildScanLines();
}

// Every size is formed in 64 bits and compared with the block before the header's pointers
// are set, so a damaged header leaves the image without pixels rather than reading outside.
void TDIB::ParseHeader() {
  ClearLayout();
  const uint8_t* h = memory_;
  if (h == nullptr) throw Error(kBadHeaderSize);
  // A block too short to hold the header's own size field cannot hold a valid header.
  if (block_size_ < 4) throw Error(kBadHeaderSize);
  const uint32_t info_size = Get32(h + kSizeField);
  if (info_size < static_cast<uint32_t>(kInfoHeaderSize)) throw Error(kBadHeaderSize);
  if (info_size > block_size_) {
    throw Error("BMP File error: BitmapInfoHeader larger than its memory block !");
  }
  const int32_t width = GetI32(h + kWidthField);
  const int32_t height = GetI32(h + kHeightField);
  const uint16_t bits = Get16(h + kBitCountField);
  if (Get32(h + kCompressionField) != 0) {
    throw Error("BMP File error: compressed bitmaps are not supported !");
  }
  if (height < 0) throw Error("BMP File error: top-down bitmaps are not supported !");
  if (width <= 0 || height == 0) throw Error("BMP File error: invalid bitmap size !");
  const uint8_t format = FormatOfBitCount(bits);
  if (format == 0) throw Error("Invalid DIB BitCount...");

  const int64_t colors = bits <= 8 ? int64_t{1} << bits : 0;
  const int64_t stride = StrideOf(width, bits);
  if (stride > kMaxPixelBytes || stride * height > kMaxPixelBytes) {
    throw Error("BMP File error: bitmap too large !");
  }
  const int64_t pixel_offset = int64_t{info_size} + 4 * colors;
  // 15-bit pixels are read as 16-bit words, which can reach past the end of a row.
  const int64_t last_row_reach =
      bits == 15 ? std::max<int64_t>(stride, 2 * int64_t{width}) : stride;
  const int64_t pixel_end = pixel_offset + stride * (height - 1) + last_row_reach;
  if (pixel_offset > static_cast<int64_t>(block_size_)) {
    throw Error("BMP File error: colour table larger than its memory block !");
  }
  if (pixel_end > static_cast<int64_t>(block_size_)) {
    throw Error("BMP File error: pixel rows larger than their memory block !");
  }

  header_ = memory_;
  palette_ = memory_ + info_size;
  bits_ = palette_ + 4 * colors;
  format_code_ = format;
  bit_count_ = bits;
  color_count_ = static_cast<int32_t>(colors);
  stride_ = static_cast<int32_t>(stride);
  row_bytes_ = static_cast<int32_t>(RowBytesOf(width, bits));
  size_ = static_cast<int32_t>(4 * colors + kInfoHeaderSize + stride * height);
  width_ = static_cast<uint32_t>(width);
  height_ = static_cast<uint32_t>(height);
}

void TDIB::BuildScanLines() {
  top_row_ = bits_ == nullptr ? nullptr : bits_ + static_cast<ptrdiff_t>(height_ - 1) * stride_;
}

void TDIB::NewImage(int32_t width, int32_t height, uint8_t format, int32_t x_res, int32_t y_res) {
  TLayout layout;
  try {
    layout = CheckedLayout(width, height, format);
  } catch (...) {
    FreeImage();
    throw;
  }
  const auto size = static_cast<size_t>(layout.size);
  if (handle_ != nullptr && owns_handle_ && block_size_ >= size &&
      block_size_ <= kReuseFactor * size + kReuseSlack) {
    // The block this image already owns is large enough and not much larger: it is used
    // again, zeroed as a new one would be, rather than freed and allocated afresh.
    UnlockAll();
    ClearLayout();
    Lock();
    std::memset(memory_, 0, size);
  } else {
    FreeImage();
    handle_ = platform::GlobalAlloc(platform::kGMemMoveable | platform::kGMemZeroInit, size);
    if (handle_ == nullptr) platform::RaiseLastOSError();
    owns_handle_ = true;  // the block is ours, whatever this object held before
    block_size_ = platform::GlobalSize(handle_);
    Lock();
  }

  uint8_t* h = memory_;
  Put32(h + kSizeField, kInfoHeaderSize);
  Put32(h + kWidthField, static_cast<uint32_t>(width));
  Put32(h + kHeightField, static_cast<uint32_t>(height));
  Put16(h + kPlanesField, 1);
  Put16(h + kBitCountField, FormatBits(format));
  Put32(h + kCompressionField, 0);
  Put32(h + kSizeImageField, static_cast<uint32_t>(layout.stride) * static_cast<uint32_t>(height));
  Put32(h + kClrUsedField, static_cast<uint32_t>(layout.colors));
  Put32(h + kClrImportantField, static_cast<uint32_t>(layout.colors));
  uint8_t* palette = h + kInfoHeaderSize;
  if (layout.colors == 2) {
    Put32(palette + 4, kRgbMask);  // entry 0 black, entry 1 white
  } else {
    for (int32_t i = 0; i < layout.colors; ++i) {
      const auto grey = static_cast<uint32_t>(i * (256 / layout.colors));
      Put32(palette + 4 * i, grey | grey << 8 | grey << 16);
    }
  }
  ParseHeader();
  BuildScanLines();
  SetXResolution(x_res);
  SetYResolution(y_res);
  format_code_ = format;  // Format 4 is stored as 16 bits but keeps its own code
}

void TDIB::RequireImage() const {
  if (header_ == nullptr) throw Error("The image is empty");
}

int32_t TDIB::ReadResolution(size_t offset) const {
  if (header_ == nullptr) return 0;
  return static_cast<int32_t>(
      Round(static_cast<long double>(GetI32(header_ + offset)) / kPelsPerMeterPerDpi));
}

void TDIB::WriteResolution(size_t offset, int32_t dpi) {
  RequireImage();
  // |dpi| * 39.37 fits 64 bits; the field keeps the low 32 bits as a 32-bit store would.
  Put32(header_ + offset, static_cast<uint32_t>(Round(dpi * kPelsPerMeterPerDpi)));
}

int32_t TDIB::XResolution() const {
  return ReadResolution(kXPelsField);
}
int32_t TDIB::YResolution() const {
  return ReadResolution(kYPelsField);
}
void TDIB::SetXResolution(int32_t dpi) {
  WriteResolution(kXPelsField, dpi);
}
void TDIB::SetYResolution(int32_t dpi) {
  WriteResolution(kYPelsField, dpi);
}

uint8_t* TDIB::ScanLine(int32_t y) {
  if (header_ == nullptr || static_cast<uint32_t>(y) >= height_) {
    throw Error("Scan line out of bitmap");
  }
  return Row(y);
}

const uint8_t* TDIB::ScanLine(int32_t y) const {
  return const_cast<TDIB*>(this)->ScanLine(y);
}

void TDIB::CheckPixel(int32_t x, int32_t y) const {
  if (static_cast<uint32_t>(x) >= width_ || static_cast<uint32_t>(y) >= height_) {
    throw Error("Pixel out of bitmap");
  }
}

int32_t TDIB::GetPixel(int32_t x, int32_t y) const {
  CheckPixel(x, y);
  return PixelAt(x, y);
}

void TDIB::SetPixel(int32_t x, int32_t y, int32_t value) {
  CheckPixel(x, y);
  PutPixel(x, y, value);
}

uint32_t TDIB::PaletteEntry(int32_t index) const {
  if (header_ == nullptr || index < 0 || index >= color_count_) {
    throw Error("Palette index out of range");
  }
  return Get32(palette_ + 4 * index);
}

void TDIB::SetPaletteEntry(int32_t index, uint32_t entry) {
  PaletteEntry(index);  // range check
  Put32(palette_ + 4 * index, entry);
}

int32_t TDIB::WhiteIndex() const {
  RequireImage();
  for (int32_t i = 0; i < color_count_; ++i) {
    if ((Get32(palette_ + 4 * i) & kRgbMask) == kRgbMask) return i;
  }
  if (bit_count_ == 8) return 255;
  if (bit_count_ == 24) return 0xFFFFFF;
  return 0;
}

int32_t TDIB::BlackIndex() const {
  RequireImage();
  for (int32_t i = 0; i < color_count_; ++i) {
    if ((Get32(palette_ + 4 * i) & kRgbMask) == 0) return i;
  }
  return bit_count_ == 8 || bit_count_ == 24 ? 0 : 1;
}

uint32_t TDIB::GetColor(int32_t x, int32_t y) const {
  CheckPixel(x, y);
  switch (bit_count_) {
    case 1:
    case 4:
    case 8:
      return Get32(palette_ + 4 * PixelAt(x, y));
    case 24: {
      const uint8_t* p = Row(y) + 3 * static_cast<ptrdiff_t>(x);
      return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
    }
    case 32:
      return Get32(Row(y) + 4 * static_cast<ptrdiff_t>(x));
    default:
      return 0;
  }
}

// The entry nearest Color in red, green and blue; the first one wins a tie.
int32_t TDIB::NearestEntry(uint32_t color) const {
  const int32_t red = (color >> 16) & 0xFF, green = (color >> 8) & 0xFF, blue = color & 0xFF;
  int32_t best = 0;
  int32_t best_distance = std::numeric_limits<int32_t>::max();
  for (int32_t i = 0; i < color_count_; ++i) {
    const uint32_t entry = Get32(palette_ + 4 * i);
    const int32_t dr = static_cast<int32_t>((entry >> 16) & 0xFF) - red;
    const int32_t dg = static_cast<int32_t>((entry >> 8) & 0xFF) - green;
    const int32_t db = static_cast<int32_t>(entry & 0xFF) - blue;
    const int32_t distance = dr * dr + dg * dg + db * db;
    if (distance < best_distance) {
      best = i;
      best_distance = distance;
      if (distance == 0) break;
    }
  }
  return best;
}

void TDIB::SetColor(int32_t x, int32_t y, uint32_t color) {
  CheckPixel(x, y);
  switch (bit_count_) {
    case 1:
    case 4:
    case 8:
      PutPixel(x, y, NearestEntry(color));
      break;
    case 24:  // the writer takes red | green << 8 | blue << 16
      PutPixel(
          x, y,
          static_cast<int32_t>((color >> 16 & 0xFF) | (color & 0xFF00) | (color & 0xFF) << 16));
      break;
    case 32:
      Put32(Row(y) + 4 * static_cast<ptrdiff_t>(x), color & kRgbMask);
      break;
    default:
      break;
  }
}

int32_t TDIB::GetGray(int32_t x, int32_t y) const {
  CheckPixel(x, y);
  switch (format_code_) {
    case kFormat24Bit: {
      const uint32_t c = GetColor(x, y);
      return static_cast<int32_t>(
          Round(0.11L * (c & 0xFF) + 0.59L * (c >> 8 & 0xFF) + 0.3L * (c >> 16 & 0xFF)));
    }
    case kFormat1Bit:
    case kFormat4Bit:
    case kFormat8Bit:
      return (Get32(palette_ + 4 * PixelAt(x, y)) >> 16) & 0xFF;
    default:
      return 0;
  }
}

int32_t TDIB::NearestGrayEntry(int32_t level) const {
  int32_t best = 0;
  int64_t best_difference = std::numeric_limits<int64_t>::max();
  for (int32_t i = 0; i < color_count_; ++i) {
    const int64_t red = (Get32(palette_ + 4 * i) >> 16) & 0xFF;
    const int64_t difference = std::llabs(red - level);
    if (difference < best_difference) {
      best = i;
      best_difference = difference;
      if (difference == 0) break;
    }
  }
  return best;
}

void TDIB::SetGray(int32_t x, int32_t y, int32_t level) {
  CheckPixel(x, y);
  switch (format_code_) {
    case kFormat24Bit: {
      const auto l = static_cast<uint32_t>(level) & 0xFF;
      SetColor(x, y, l << 16 | l << 8 | l);
      break;
    }
    case kFormat1Bit:
    case kFormat4Bit:
    case kFormat8Bit: {
      PutPixel(x, y, NearestGrayEntry(level));
      break;
    }
    default:
      break;
  }
}

void TDIB::Fill(uint8_t value) {
  RequireImage();
  std::memset(bits_, value, static_cast<size_t>(stride_) * height_);
}

// The last four bytes of a row are one big-endian word whose low A mod 32 bits lie after
// the last pixel; they become 1.
int64_t TDIB::SetTrailingBits() {
  RequireImage();
  const int64_t alignment_bits = int64_t{stride_} * 8 - width_;
  const uint32_t set = ~(0xFFFFFFFFu << (alignment_bits % 32));
  if (set != 0) {
    for (uint32_t k = 0; k < height_; ++k) {
      uint8_t* tail = bits_ + static_cast<ptrdiff_t>(k) * stride_ + stride_ - 4;
      tail[0] |= static_cast<uint8_t>(set >> 24);
      tail[1] |= static_cast<uint8_t>(set >> 16);
      tail[2] |= static_cast<uint8_t>(set >> 8);
      tail[3] |= static_cast<uint8_t>(set);
    }
  }
  return alignment_bits;
}

}  // namespace ocrb
