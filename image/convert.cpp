// Copies, size changes and resampling of a TDIB, all on raw pixel values.
//
// Nearest-neighbour resampling works in place: shrinking runs left to right (and top to
// bottom) before the block shrinks, enlarging runs right to left (and bottom to top) after
// it grows, so every source pixel or row is read before it is overwritten. New column X takes
// source column round(X * Old / New), which for enlarging can be the first column past the
// old width: the padding bits the old rows kept or the fill that SetSize put there. The box
// average of the smooth mode reads from a copy.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "image/dib.h"
#include "image/layout.h"
#include "platform/error.h"

namespace ocrb {

using namespace layout;

namespace {

constexpr char kDuplicateError[] = "DIB Duplicate error !";

// Old / New as a Double, the quotient formed in extended precision.
double Ratio(int32_t old_count, int32_t new_count) {
  return static_cast<double>(static_cast<long double>(old_count) / new_count);
}

// The source index round(I * Ratio) of every new index I, kept inside the old picture. When
// enlarging, the last index can round up to OldCount (for an even OldCount doubled, for
// example), which would read a row or column that SetSize has just filled with zeros: a black
// line along the bottom or right edge of every such image. It takes the last old one instead.
std::vector<int32_t> NearestSources(int32_t old_count, int32_t new_count) {
  const double ratio = Ratio(old_count, new_count);
  std::vector<int32_t> source(static_cast<size_t>(new_count));
  for (int32_t i = 0; i < new_count; ++i) {
    const auto nearest = static_cast<int32_t>(Round(static_cast<long double>(i) * ratio));
    source[i] = std::min(nearest, old_count - 1);
  }
  return source;
}

// The box of source indexes [First, Last] that the smooth mode averages for a new index.
struct TSpan {
  int32_t first;
  int32_t last;
};

std::vector<TSpan> BoxSpans(int32_t old_count, int32_t new_count) {
  const double ratio = Ratio(old_count, new_count);
  const long double reach = new_count > old_count ? 0.5L : -1.0L;
  std::vector<TSpan> spans(static_cast<size_t>(new_count));
  for (int32_t i = 0; i < new_count; ++i) {
    const auto first = static_cast<int64_t>(static_cast<long double>(i) * ratio);
    const auto last = static_cast<int64_t>(static_cast<long double>(i + 1) * ratio + reach);
    spans[i] = TSpan{static_cast<int32_t>(first),
                     static_cast<int32_t>(std::min<int64_t>(last, old_count - 1))};
  }
  return spans;
}

// Sum := Sum + Value / N as a Double, the step formed in extended precision.
double AddShare(double sum, int64_t value, int64_t n) {
  return static_cast<double>(static_cast<long double>(sum) + static_cast<long double>(value) / n);
}

}  // namespace

std::unique_ptr<TDIB> TDIB::Duplicate() const {
  auto copy = std::make_unique<TDIB>();
  DuplicateInto(*copy);
  return copy;
}

void TDIB::DuplicateInto(TDIB& copy) const {
  if (header_ == nullptr || &copy == this) throw Error(kDuplicateError);
  copy.NewImage(static_cast<int32_t>(width_), static_cast<int32_t>(height_), format_code_,
                XResolution(), YResolution());
  if (copy.size_ != size_) throw Error(kDuplicateError);
  // Header, colour table and rows byte for byte; a longer info header is cut to its first 40
  // bytes so that the copy has the layout every other operation expects.
  std::memcpy(copy.memory_, header_, kInfoHeaderSize);
  Put32(copy.memory_ + kSizeField, kInfoHeaderSize);
  std::memcpy(copy.palette_, palette_, 4 * static_cast<size_t>(color_count_));
  std::memcpy(copy.bits_, bits_, static_cast<size_t>(stride_) * height_);
  copy.ParseHeader();
  copy.BuildScanLines();
  copy.format_code_ = format_code_;
}

bool TDIB::CalcImageSize(int32_t width, int32_t height, uint8_t format, uint32_t& stride,
                         uint32_t& row_bytes, uint32_t& size) {
  const uint8_t f = format & 0x7F;
  const uint32_t bits = FormatBits(f);
  if (bits == 0) return false;
  const uint32_t row_bits = static_cast<uint32_t>(width) * bits;
  stride = ((row_bits + 31) >> 5) * 4;
  row_bytes = (row_bits + 7) >> 3;
  size = stride * static_cast<uint32_t>(height) + kInfoHeaderSize + 4 * FormatColors(f);
  return true;
}

int32_t TDIB::CheckResizable(int32_t new_width, int32_t new_height) const {
  RequireImage();
  const int32_t stride = CheckedLayout(new_width, new_height, format_code_).stride;
  if (!owns_handle_) throw Error("Cannot change the size of a borrowed bitmap");
  // The 16-bit rows of the new size would not match the 15-bit rows the header describes.
  if (bit_count_ == 15) throw Error("Cannot change the size of a 15-bit bitmap");
  return stride;
}

void TDIB::SetSize(int32_t new_width, int32_t new_height, uint8_t fill) {
  RequireImage();
  if (new_width >= 0 && static_cast<uint32_t>(new_width) == width_ && new_height >= 0 &&
      static_cast<uint32_t>(new_height) == height_) {
    return;
  }
  const auto new_stride = static_cast<size_t>(CheckResizable(new_width, new_height));
  const auto old_stride = static_cast<size_t>(stride_);
  const size_t old_height = height_;
  const auto height = static_cast<size_t>(new_height);
  const size_t kept_rows = std::min(old_height, height);
  const auto pixel_offset = static_cast<size_t>(bits_ - memory_);

  // Stored rows run bottom to top: the top rows of the picture are the last ones.
  if (height < old_height) {
    std::memmove(bits_, bits_ + (old_height - height) * old_stride, height * old_stride);
  }
  if (new_stride < old_stride) {
    for (size_t k = 0; k < kept_rows; ++k) {
      std::memmove(bits_ + k * new_stride, bits_ + k * old_stride, new_stride);
    }
  }

  UnlockAll();
  // Movable as well as zero-filling, so that a block that cannot grow in place may move.
  platform::HGlobal handle =
      platform::GlobalReAlloc(handle_, pixel_offset + new_stride * height,
                              platform::kGMemMoveable | platform::kGMemZeroInit);
  if (handle == nullptr) {
    ClearLayout();
    platform::RaiseLastOSError();
  }
  handle_ = handle;
  block_size_ = platform::GlobalSize(handle_);
  Lock();
  Put32(memory_ + kWidthField, static_cast<uint32_t>(new_width));
  Put32(memory_ + kHeightField, static_cast<uint32_t>(new_height));
  Put32(memory_ + kSizeImageField, static_cast<uint32_t>(new_stride * height));
  ParseHeader();
  BuildScanLines();

  if (new_stride > old_stride) {
    for (size_t k = kept_rows; k-- > 0;) {
      std::memmove(bits_ + k * new_stride, bits_ + k * old_stride, old_stride);
      std::memset(bits_ + k * new_stride + old_stride, fill, new_stride - old_stride);
    }
  }
  if (height > old_height) {
    std::memmove(bits_ + (height - old_height) * new_stride, bits_, old_height * new_stride);
    std::memset(bits_, fill, (height - old_height) * new_stride);
  }
}

void TDIB::Resize(int32_t new_width, int32_t new_height, bool smooth) {
  RequireImage();
  const auto old_width = static_cast<int32_t>(width_);
  const auto old_height = static_cast<int32_t>(height_);
  if (new_width >= 0 && new_width == old_width && new_height >= 0 && new_height == old_height) {
    return;
  }
  CheckResizable(new_width, new_height);
  if (smooth) {
    ResizeSmooth(new_width, new_height);
    return;
  }

  // Each row is read from a copy of itself, which gives what the in-place pixel order gives.
  auto scale_columns = [this](int32_t from_width, int32_t to_width) {
    const std::vector<int32_t> source = NearestSources(from_width, to_width);
    std::vector<uint8_t> copy(static_cast<size_t>(stride_));
    DispatchFormat(format_code_, [&](auto format) {
      for (uint32_t y = 0; y < height_; ++y) {
        uint8_t* row = Row(static_cast<int32_t>(y));
        std::memcpy(copy.data(), row, copy.size());
        for (int32_t x = 0; x < to_width; ++x) {
          WriteRaw(row, x, format, ReadRaw(copy.data(), source[x], format));
        }
      }
    });
  };
  auto scale_rows = [this](int32_t from_height, int32_t to_height) {
    const std::vector<int32_t> source = NearestSources(from_height, to_height);
    auto copy_row = [&](int32_t y) {
      if (source[y] != y) std::memcpy(Row(y), Row(source[y]), static_cast<size_t>(stride_));
    };
    if (to_height < from_height) {
      for (int32_t y = 0; y < to_height; ++y) copy_row(y);
    } else {
      for (int32_t y = to_height; y-- > 0;) copy_row(y);
    }
  };

  if (new_width < old_width) scale_columns(old_width, new_width);
  if (new_height < old_height) scale_rows(old_height, new_height);
  SetSize(new_width, new_height, 0);
  if (new_width > old_width) scale_columns(old_width, new_width);
  if (new_height > old_height) scale_rows(old_height, new_height);
}

// Every new pixel is the mean of the raw values in its box of source pixels, summed column
// by column; 24-bit pixels are averaged byte by byte.
void TDIB::ResizeSmooth(int32_t new_width, int32_t new_height) {
  const std::unique_ptr<TDIB> source = Duplicate();
  const auto old_width = static_cast<int32_t>(width_);
  const auto old_height = static_cast<int32_t>(height_);
  const std::vector<TSpan> columns = BoxSpans(old_width, new_width);
  const std::vector<TSpan> rows = BoxSpans(old_height, new_height);
  SetSize(new_width, new_height, 0);
  const bool rgb = format_code_ == kFormat24Bit;
  for (int32_t x = 0; x < new_width; ++x) {
    const TSpan cx = columns[x];
    for (int32_t y = 0; y < new_height; ++y) {
      const TSpan cy = rows[y];
      const int64_t n = int64_t{cx.last - cx.first + 1} * (cy.last - cy.first + 1);
      double sum[3] = {0, 0, 0};
      for (int32_t i = cx.first; i <= cx.last; ++i) {
        for (int32_t j = cy.first; j <= cy.last; ++j) {
          const int32_t value = source->PixelAt(i, j);
          if (rgb) {
            for (int b = 0; b < 3; ++b) sum[b] = AddShare(sum[b], value >> (16 - 8 * b) & 0xFF, n);
          } else {
            sum[0] = AddShare(sum[0], value, n);
          }
        }
      }
      const int64_t mean =
          rgb ? Round(sum[0]) << 16 | Round(sum[1]) << 8 | Round(sum[2]) : Round(sum[0]);
      PutPixel(x, y, static_cast<int32_t>(mean));
    }
  }
}

namespace {

// Eight pixels of a 1-bit row from pixel Bit on, as one byte (the first in the top bit);
// bytes past RowBytes read as 0.
uint8_t EightBits(const uint8_t* row, int64_t bit, int64_t row_bytes) {
  const int64_t b = bit >> 3;
  const int s = static_cast<int>(bit & 7);
  const unsigned high = row[b];
  const unsigned low = s != 0 && b + 1 < row_bytes ? row[b + 1] : 0;
  return static_cast<uint8_t>((high << s | low >> (8 - s)) & 0xFF);
}

}  // namespace

std::unique_ptr<TDIB> TDIB::CopyRect(const TRect& rect, bool allow_outside) const {
  RequireImage();
  const int64_t width = width_, height = height_;
  const bool outside =
      rect.Left < 0 || rect.Right >= width || rect.Top < 0 || rect.Bottom >= height;
  TRect r = rect;
  if (!(allow_outside && outside)) {
    r.Left = std::max(r.Left, 0);
    r.Top = std::max(r.Top, 0);
    r.Right = static_cast<int32_t>(std::min<int64_t>(r.Right, width - 1));
    r.Bottom = static_cast<int32_t>(std::min<int64_t>(r.Bottom, height - 1));
    if (r.Left > r.Right || r.Top > r.Bottom) throw Error("Rectangle outside the bitmap");
  }
  const int64_t result_width = std::llabs(int64_t{r.Right} - r.Left) + 1;
  const int64_t result_height = std::llabs(int64_t{r.Bottom} - r.Top) + 1;
  if (result_width > std::numeric_limits<int32_t>::max() ||
      result_height > std::numeric_limits<int32_t>::max()) {
    throw Error("Image too large");
  }
  auto result = std::make_unique<TDIB>();
  result->NewImage(static_cast<int32_t>(result_width), static_cast<int32_t>(result_height),
                   format_code_, XResolution(), YResolution());
  std::memcpy(result->palette_, palette_, 4 * static_cast<size_t>(color_count_));

  // Source columns and rows of the result that lie inside this image.
  int64_t first_x = 0, last_x = result_width - 1, first_y = 0, last_y = result_height - 1;
  if (allow_outside && outside) {
    result->FillWhite();
    first_x = std::max<int64_t>(0, -int64_t{r.Left});
    last_x = std::min<int64_t>(last_x, width - 1 - r.Left);
    first_y = std::max<int64_t>(0, -int64_t{r.Top});
    last_y = std::min<int64_t>(last_y, height - 1 - r.Top);
  }
  if (format_code_ == kFormat1Bit && !(allow_outside && outside)) {
    // Whole bytes at a time; the result's bits past its last pixel stay 0, as NewImage made
    // them.
    const int64_t full_bytes = result_width / 8;
    const int tail = static_cast<int>(result_width % 8);
    const auto tail_mask = static_cast<uint8_t>(0xFF00 >> tail);
    for (int64_t j = 0; j < result_height; ++j) {
      const uint8_t* from = Row(static_cast<int32_t>(r.Top + j));
      uint8_t* to = result->Row(static_cast<int32_t>(j));
      for (int64_t k = 0; k < full_bytes; ++k) to[k] = EightBits(from, r.Left + 8 * k, row_bytes_);
      if (tail != 0)
        to[full_bytes] = EightBits(from, r.Left + 8 * full_bytes, row_bytes_) & tail_mask;
    }
    return result;
  }
  DispatchFormat(format_code_, [&](auto format) {
    for (int64_t j = first_y; j <= last_y; ++j) {
      const uint8_t* from = Row(static_cast<int32_t>(r.Top + j));
      uint8_t* to = result->Row(static_cast<int32_t>(j));
      for (int64_t k = first_x; k <= last_x; ++k) {
        WriteRaw(to, static_cast<int32_t>(k), format,
                 ReadRaw(from, static_cast<int32_t>(r.Left + k), format));
      }
    }
  });
  return result;
}

}  // namespace ocrb

namespace ocrb {

void TDIB::CopyGrayFrom(const TDIB& source, int32_t left, int32_t top) {
  RequireImage();
  source.RequireImage();
  if (left < 0 || top < 0 || int64_t{left} + width_ > source.width_ ||
      int64_t{top} + height_ > source.height_) {
    throw Error("Pixel out of bitmap");
  }
  const auto width = static_cast<int32_t>(width_), height = static_cast<int32_t>(height_);
  if (format_code_ != kFormat1Bit || source.format_code_ != kFormat1Bit) {
    for (int32_t x = 0; x < width; ++x) {
      for (int32_t y = 0; y < height; ++y) SetGray(x, y, source.GetGray(left + x, top + y));
    }
    return;
  }
  // Each of the source's two values has one grey level and so one entry here.
  const int32_t to[2] = {NearestGrayEntry((source.PaletteEntry(0) >> 16) & 0xFF),
                         NearestGrayEntry((source.PaletteEntry(1) >> 16) & 0xFF)};
  const int64_t full_bytes = width / 8;
  const int tail = width % 8;
  const auto tail_mask = static_cast<uint8_t>(0xFF00 >> tail);  // the tail's pixel bits
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* from = source.Row(top + y);
    uint8_t* row = Row(y);
    auto mapped = [&](int64_t k) -> uint8_t {
      if (to[0] == to[1]) return to[0] > 0 ? 0xFF : 0x00;
      const uint8_t bits = EightBits(from, int64_t{left} + 8 * k, source.row_bytes_);
      return to[1] > 0 ? bits : static_cast<uint8_t>(~bits);
    };
    for (int64_t k = 0; k < full_bytes; ++k) row[k] = mapped(k);
    // The alignment bits after the last pixel keep what they hold.
    if (tail != 0) {
      row[full_bytes] =
          static_cast<uint8_t>((row[full_bytes] & ~tail_mask) | (mapped(full_bytes) & tail_mask));
    }
  }
}

}  // namespace ocrb
