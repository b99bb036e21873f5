// TDIB: the engine's one image type, a packed device-independent bitmap (info header, colour
// table, pixel rows stored bottom row first) held in one movable memory block. Pixel (X, Y)
// has X = 0 at the left and Y = 0 at the top whatever the storage order. Pixel values are raw:
// colour-table indices for 1, 4 and 8 bits, packed colour bits otherwise.
//
// The image knows the size of its block. A bitmap handed in by a caller is checked against
// that size before any byte of it is used, and no operation reads or writes outside the block.
// Failures raise ocrb::Error (ocrb::SystemError when the memory functions fail).
#ifndef OCRB_IMAGE_DIB_H_
#define OCRB_IMAGE_DIB_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ocrb.h"
#include "platform/memory.h"

namespace ocrb {

class TBlobList;
struct TLabelBuffers;

// Pixel format codes (FormatCode) and the bit count each is stored with.
constexpr uint8_t kFormat1Bit = 1;   // 1 bit, 2-entry colour table
constexpr uint8_t kFormat4Bit = 2;   // 4 bits, 16-entry colour table
constexpr uint8_t kFormat8Bit = 3;   // 8 bits, 256-entry colour table
constexpr uint8_t kFormat15Bit = 4;  // 15 bits when loaded; new images store 16
constexpr uint8_t kFormat16Bit = 5;  // 16-bit little-endian word
constexpr uint8_t kFormat24Bit = 6;  // blue, green, red bytes
constexpr uint8_t kFormat32Bit = 7;  // four bytes

// The pixel rows of one image may take at most this many bytes (2 GiB less 64 KiB). Every
// image with its 40-byte header and largest colour table then stays below 2^31 bytes, so its
// Size and every row offset fit a signed 32-bit integer. Bigger images are refused.
constexpr int64_t kMaxPixelBytes = (int64_t{1} << 31) - (int64_t{1} << 16);

// Bytes of the info header this engine writes.
constexpr int32_t kInfoHeaderSize = 40;

class TDIB {
 public:
  // An empty image: no handle, FormatCode 3, OwnsHandle true.
  TDIB() = default;
  // Frees the image (FreeImage): an owned block is freed, a borrowed one only unlocked.
  ~TDIB();
  TDIB(const TDIB&) = delete;
  TDIB& operator=(const TDIB&) = delete;

  // ---- Block and lifecycle ----

  // Locks the block on the first call and counts the calls; returns the block's address.
  // Raises the system error when the block cannot be locked.
  void* Lock();
  // Undoes one Lock; the block is unlocked when the count reaches 0.
  void Unlock();
  // Undoes every outstanding Lock.
  void UnlockAll();
  // Unlocks, frees the block if the image owns it, and leaves the image empty.
  void FreeImage();

  // Wraps the packed DIB in Handle without copying it; OwnsHandle is left as it is, so set it
  // false first for a caller's bitmap. The header, colour table and pixel rows must fit the
  // block (GlobalSize): at least a 40-byte header, width and height above 0 (bottom-up rows
  // only), no compression, bit count 1, 4, 8, 15, 16, 24 or 32, and at most kMaxPixelBytes of
  // rows. Anything else raises Error before a pixel is touched; the image then keeps the
  // handle and its lock (released by FreeImage or the destructor) but has no header. A null
  // Handle leaves the image empty.
  void LoadFromHandle(platform::HGlobal handle);

  // A new blank image owned by this object: Width x Height pixels of Format (1..7), resolution
  // XRes x YRes dpi, all pixel bytes 0 (all black for 1 bit). Formats 1..3 get a black-and-
  // white or grey colour table. Raises "Bit depht not allowed" for another Format and Error
  // for a size that is not positive or exceeds kMaxPixelBytes; the image is then empty. An
  // image that owns a block of at least the size needed, and at most kReuseFactor times it
  // (plus kReuseSlack bytes), keeps that block instead of allocating another.
  void NewImage(int32_t width, int32_t height, uint8_t format, int32_t x_res, int32_t y_res);

  static constexpr size_t kReuseFactor = 4;
  static constexpr size_t kReuseSlack = 64 * 1024;

  // ---- Header values ----

  uint32_t Width() const { return width_; }    // 0 for an empty image
  uint32_t Height() const { return height_; }  // 0 for an empty image
  uint16_t BitCount() const { return bit_count_; }
  // Resolution in dpi, stored as pixels per metre with the factor 39.37; 0 when empty.
  int32_t XResolution() const;
  int32_t YResolution() const;
  void SetXResolution(int32_t dpi);
  void SetYResolution(int32_t dpi);

  platform::HGlobal Handle() const { return handle_; }
  bool OwnsHandle() const { return owns_handle_; }
  void SetOwnsHandle(bool owns) { owns_handle_ = owns; }
  // Bytes of the packed DIB as laid out with a 40-byte header.
  int32_t Size() const { return size_; }
  // Bytes of the memory block, as the memory functions report it.
  size_t BlockSize() const { return block_size_; }
  uint8_t FormatCode() const { return format_code_; }
  int32_t LockCount() const { return lock_count_; }
  int32_t ColorCount() const { return color_count_; }
  int32_t Stride() const { return stride_; }
  int32_t RowBytes() const { return row_bytes_; }
  // The info header, colour table and first stored row inside the locked block; nullptr for
  // an empty image.
  const uint8_t* Header() const { return header_; }
  const uint8_t* Palette() const { return palette_; }
  const uint8_t* Bits() const { return bits_; }
  // First byte of picture row Y (Y = 0 top). Raises Error for a row outside the image.
  uint8_t* ScanLine(int32_t y);
  const uint8_t* ScanLine(int32_t y) const;

  // ---- Pixels ----
  // The accessors check 0 <= X < Width and 0 <= Y < Height and raise Error("Pixel out of
  // bitmap") otherwise; loops inside the engine use unchecked row access.

  // Raw value: the bit, nibble or byte; the 16-bit word; red | green << 8 | blue << 16 for
  // 24 bits; the four stored bytes most significant first for 32 bits.
  int32_t GetPixel(int32_t x, int32_t y) const;
  // Stores a raw value: a value above 0 sets a 1-bit pixel; the other formats keep the
  // low bits they hold.
  void SetPixel(int32_t x, int32_t y, int32_t value);
  // Colour as red << 16 | green << 8 | blue (0 for 15 and 16 bits).
  uint32_t GetColor(int32_t x, int32_t y) const;
  // Writes the nearest colour-table entry (palette formats) or the colour itself.
  void SetColor(int32_t x, int32_t y, uint32_t color);
  // Grey level 0..255 of palette and 24-bit pixels; 0 for the other formats.
  int32_t GetGray(int32_t x, int32_t y) const;
  // Writes the entry whose red byte is nearest Level (palette formats, first on a tie) or a
  // grey colour (24 bits); other formats are left alone.
  void SetGray(int32_t x, int32_t y, int32_t level);

  // Colour-table entry Index (blue in the low byte, then green, red, reserved). Raises Error
  // for an index outside 0..ColorCount-1.
  uint32_t PaletteEntry(int32_t index) const;
  void SetPaletteEntry(int32_t index, uint32_t entry);
  // The first all-white (all-black) table entry, or the format's fallback value.
  int32_t WhiteIndex() const;
  int32_t BlackIndex() const;

  // Copies a glyph through grey levels: every pixel (X, Y) of this image gets the entry that
  // SetGray chooses for Source's GetGray(Left + X, Top + Y). This image's rectangle must fit
  // inside Source at (Left, Top), or Error("Pixel out of bitmap") is raised first. Two 1-bit
  // images are copied a byte at a time, the source's two values mapped once.
  void CopyGrayFrom(const TDIB& source, int32_t left, int32_t top);
  // Sets every byte of the pixel rows to Value.
  void Fill(uint8_t value);
  // Fill(255): white for the tables NewImage makes.
  void FillWhite() { Fill(255); }
  // Sets the alignment bits after the last pixel of every row to 1 and returns how many
  // there are per row (Stride * 8 - Width). Meant for 1-bit images.
  int64_t SetTrailingBits();

  // ---- Conversion and resampling (convert.cpp) ----

  // A new image with this one's header, colour table and pixels, owned by the caller and
  // normalised to a 40-byte header. Raises "DIB Duplicate error !" when the new layout does
  // not match (a 15-bit image whose 15-bit and 16-bit strides differ).
  std::unique_ptr<TDIB> Duplicate() const;
  // The same into Copy, which keeps its block when NewImage would.
  void DuplicateInto(TDIB& copy) const;
  // Stride, RowBytes and Size of a Width x Height image of Format (its top bit ignored), as
  // 32-bit unsigned arithmetic gives them. Returns false, outputs untouched, for an unknown
  // Format.
  static bool CalcImageSize(int32_t width, int32_t height, uint8_t format, uint32_t& stride,
                            uint32_t& row_bytes, uint32_t& size);
  // Changes the dimensions keeping the top-left part of the picture and filling the rest with
  // the byte Fill. The image must own its block.
  void SetSize(int32_t new_width, int32_t new_height, uint8_t fill);
  // Resamples to NewWidth x NewHeight: nearest neighbour in place, or with Smooth a box
  // average of raw values from a copy.
  void Resize(int32_t new_width, int32_t new_height, bool smooth);
  // A new image, owned by the caller, with the pixels of the inclusive rectangle Rect and this
  // image's format, resolution and colour table. With AllowOutside the rectangle may reach
  // outside the image (those pixels are filled with 255 bytes); otherwise it is clamped to
  // the image and must then lie inside it with Left <= Right and Top <= Bottom.
  std::unique_ptr<TDIB> CopyRect(const TRect& rect, bool allow_outside) const;

  // ---- Connected components (blobs.cpp) ----

  // Labels the connected components of the ink (raw value BlackIndex) of a 1-bit image, in
  // the order their leftmost-topmost pixels are met column by column, and appends those of
  // at least MinWidth x MinHeight and MinPixels pixels to List (which may be nullptr).
  // 8-connected items carry their pixels in breadth-first order from that first pixel.
  // Buffers, when given, lend their storage (see TLabelBuffers). With MaxPixels above 0, a
  // component of more pixels is taken from the ink but not listed, and its pixels are never
  // held all at once: labelling then needs memory for MaxPixels points and a component's
  // frontier, not for the largest component.
  void FindBlobs(bool eight_connected, int32_t min_width, int32_t min_height, int32_t min_pixels,
                 TBlobList* list, TLabelBuffers* buffers = nullptr, int32_t max_pixels = 0) const;
  void FindBlobs8(int32_t min_width, int32_t min_height, int32_t min_pixels, TBlobList* list,
                  TLabelBuffers* buffers = nullptr, int32_t max_pixels = 0) const;
  void FindBlobs4(int32_t min_width, int32_t min_height, int32_t min_pixels, TBlobList* list,
                  TLabelBuffers* buffers = nullptr, int32_t max_pixels = 0) const;

  // ---- Thinning and dilation (thin.cpp) ----

  // Thins the ink to 8-connected lines one pixel wide. Expects the 1-bit table of NewImage.
  void Thin();
  // Thickens the ink by a square of side 2 * Radius + 1; ink beyond the border is cut off.
  // A negative Radius leaves every pixel at the raw value 1 (white for a NewImage table).
  void Dilate(int32_t radius);
  // One sub-pass of the thinning: Marks (a 1-bit image of this size) gets 1 at the interior
  // pixels the sub-pass removes, 0 at the other interior pixels. Returns 1.
  int32_t MarkPass1(TDIB& marks) const;
  int32_t MarkPass2(TDIB& marks) const;
  // Whitens every pixel marked 1 in Marks that is not white; returns how many changed.
  int64_t DeleteMarked(const TDIB& marks);

 private:
  friend void GetNeighbours(int32_t x, int32_t y, const TDIB& image, uint8_t (&p)[10]);

  // Reads the info header of the locked block into the fields, checking it against the block.
  void ParseHeader();
  // Sets up the row addressing: picture row Y starts at Bits + (Height - 1 - Y) * Stride.
  void BuildScanLines();
  // Forgets the header pointers and sizes (the block stays as it is).
  void ClearLayout();
  // Raises Error when the image has no header.
  void RequireImage() const;
  // Raises Error unless the image may take the new size; returns the new Stride.
  int32_t CheckResizable(int32_t new_width, int32_t new_height) const;
  void ResizeSmooth(int32_t new_width, int32_t new_height);
  void CheckPixel(int32_t x, int32_t y) const;
  int32_t ReadResolution(size_t offset) const;
  void WriteResolution(size_t offset, int32_t dpi);
  int32_t NearestEntry(uint32_t color) const;
  // The palette entry whose red byte is nearest Level, the first on a tie (SetGray's choice).
  int32_t NearestGrayEntry(int32_t level) const;
  template <int Pass>
  int32_t MarkPass(TDIB& marks) const;
  // P1..P9 of (X, Y) into P[1..9]: 1 where the raw value is Black. Unchecked.
  void ReadNeighbours(int32_t x, int32_t y, int32_t black, uint8_t (&p)[10]) const;
  // Raises Error unless Marks is at least as large as this image.
  void CheckMarks(const TDIB& marks) const;

  uint8_t* Row(int32_t y) const { return top_row_ - static_cast<ptrdiff_t>(y) * stride_; }
  // Unchecked raw access for loops that keep inside the image.
  int32_t PixelAt(int32_t x, int32_t y) const { return ReadRaw(Row(y), x, format_code_); }
  void PutPixel(int32_t x, int32_t y, int32_t value) { WriteRaw(Row(y), x, format_code_, value); }
  // Raw pixel X of a row of the given format; the readers and writers of the seven formats.
  static int32_t ReadRaw(const uint8_t* row, int32_t x, uint8_t format);
  static void WriteRaw(uint8_t* row, int32_t x, uint8_t format, int32_t value);

  platform::HGlobal handle_ = nullptr;
  size_t block_size_ = 0;
  uint8_t* memory_ = nullptr;
  uint8_t* header_ = nullptr;
  uint8_t* palette_ = nullptr;
  uint8_t* bits_ = nullptr;
  uint8_t* top_row_ = nullptr;  // picture row 0, the last stored row
  bool owns_handle_ = true;
  uint8_t format_code_ = kFormat8Bit;
  uint16_t bit_count_ = 0;
  int32_t lock_count_ = 0;
  int32_t size_ = 0;
  int32_t color_count_ = 0;
  int32_t stride_ = 0;
  int32_t row_bytes_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
};

inline int32_t TDIB::ReadRaw(const uint8_t* row, int32_t x, uint8_t format) {
  switch (format) {
    case kFormat1Bit:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case kFormat4Bit:
      return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    case kFormat8Bit:
      return row[x];
    case kFormat15Bit:
    case kFormat16Bit:
      return row[2 * x] | row[2 * x + 1] << 8;
    case kFormat24Bit: {
      const uint8_t* p = row + 3 * static_cast<ptrdiff_t>(x);
      return p[2] | p[1] << 8 | p[0] << 16;
    }
    default: {
      const uint8_t* p = row + 4 * static_cast<ptrdiff_t>(x);
      return static_cast<int32_t>(uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 |
                                  uint32_t{p[2]} << 8 | p[3]);
    }
  }
}

inline void TDIB::WriteRaw(uint8_t* row, int32_t x, uint8_t format, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  switch (format) {
    case kFormat1Bit: {
      const auto mask = static_cast<uint8_t>(0x80 >> (x & 7));
      if (value > 0) {
        row[x >> 3] |= mask;
      } else {
        row[x >> 3] &= static_cast<uint8_t>(~mask);
      }
      break;
    }
    case kFormat4Bit: {
      uint8_t& b = row[x >> 1];
      b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (v & 0x0F))
                  : static_cast<uint8_t>((b & 0x0F) | (v & 0x0F) << 4);
      break;
    }
    case kFormat8Bit:
      row[x] = static_cast<uint8_t>(v);
      break;
    case kFormat15Bit:
    case kFormat16Bit:
      row[2 * x] = static_cast<uint8_t>(v);
      row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      break;
    case kFormat24Bit: {
      uint8_t* p = row + 3 * static_cast<ptrdiff_t>(x);
      p[0] = static_cast<uint8_t>(v >> 16);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v);
      break;
    }
    default: {
      uint8_t* p = row + 4 * static_cast<ptrdiff_t>(x);
      p[0] = static_cast<uint8_t>(v >> 24);
      p[1] = static_cast<uint8_t>(v >> 16);
      p[2] = static_cast<uint8_t>(v >> 8);
      p[3] = static_cast<uint8_t>(v);
      break;
    }
  }
}

}  // namespace ocrb

#endif  // OCRB_IMAGE_DIB_H_
