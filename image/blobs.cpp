// Connected components of the ink of a 1-bit image, and the lists they are recorded in.
//
// Seeds are met column by column (X outer, Y inner). A component grows breadth-first from its
// seed, its point list serving as the queue; each unmarked ink neighbour is appended and
// marked as soon as it is seen, so every pixel enters exactly one component once. The
// neighbours of a point are visited column by column too: X - 1 .. X + 1 outer, Y - 1 .. Y + 1
// inner (8-connected), or the point itself, west, east, north, south (4-connected).
//
// The ink not yet taken is kept as one bit per pixel in column-major order, bit X * Height + Y,
// so that the seed scan is a forward search for the next set bit that skips paper a 64-bit
// word at a time, and taking a pixel is clearing its bit.
#include "image/blobs.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "image/dib.h"
#include "image/layout.h"

namespace ocrb {

namespace {

[[noreturn]] void RaiseIndexError(int32_t index) {
  char message[64];
  std::snprintf(message, sizeof message, "List index out of bounds (%" PRId32 ")", index);
  throw Error(message);
}

// Ink pixels not yet taken into a component.
class TFreeInk {
 public:
  TFreeInk(const TDIB& image, std::vector<uint64_t>& words)
      : height_(image.Height()), words_(words) {
    const auto needed = static_cast<size_t>((int64_t{image.Width()} * image.Height() + 63) / 64);
    if (words_.capacity() / 4 > needed) std::vector<uint64_t>().swap(words_);
    words_.assign(needed, 0);
    const int32_t width = static_cast<int32_t>(image.Width());
    // Ink is the raw value BlackIndex: flip the bits when that value is 0.
    const uint8_t flip = image.BlackIndex() == 1 ? 0x00 : 0xFF;
    const int32_t full_bytes = width / 8;
    const auto last_mask = static_cast<uint8_t>(0xFF00 >> (width % 8));
    for (int32_t y = 0; y < static_cast<int32_t>(height_); ++y) {
      const uint8_t* row = image.ScanLine(y);
      for (int32_t b = 0; b <= full_bytes; ++b) {
        if (b == full_bytes && last_mask == 0) break;
        uint8_t ink = row[b] ^ flip;
        if (b == full_bytes) ink &= last_mask;
        while (ink != 0) {
          const int k = std::countl_zero(ink);
          ink &= static_cast<uint8_t>(~(0x80 >> k));
          Set(Index(8 * b + k, y));
        }
      }
    }
  }

  int64_t Index(int32_t x, int32_t y) const { return int64_t{x} * height_ + y; }

  // Clears the pixel's bit and says whether it was set.
  bool Take(int64_t index) {
    uint64_t& word = words_[static_cast<size_t>(index >> 6)];
    const uint64_t bit = uint64_t{1} << (index & 63);
    if ((word & bit) == 0) return false;
    word &= ~bit;
    return true;
  }

  // The first set bit at or after From, or -1.
  int64_t Next(int64_t from) const {
    auto w = static_cast<size_t>(from >> 6);
    if (w >= words_.size()) return -1;
    uint64_t word = words_[w] & (~uint64_t{0} << (from & 63));
    while (word == 0) {
      if (++w == words_.size()) return -1;
      word = words_[w];
    }
    return static_cast<int64_t>(w) * 64 + std::countr_zero(word);
  }

 private:
  void Set(int64_t index) {
    words_[static_cast<size_t>(index >> 6)] |= uint64_t{1} << (index & 63);
  }

  int64_t height_;
  std::vector<uint64_t>& words_;
};

// Points examined before an oversize component's queue is compacted.
constexpr size_t kDropBlock = 1 << 16;

template <bool kEightConnected>
void Label(const TDIB& image, int32_t min_width, int32_t min_height, int32_t min_pixels,
           TBlobList* list, TLabelBuffers& buffers, int32_t max_pixels = 0) {
  const auto width = static_cast<int32_t>(image.Width());
  const auto height = static_cast<int32_t>(image.Height());
  TFreeInk ink(image, buffers.Ink);
  TPointList& points = buffers.Queue;  // the queue of the current component, reused
  const int32_t least_pixels = std::max(0, min_pixels);

  for (int64_t seed = ink.Next(0); seed >= 0; seed = ink.Next(seed + 1)) {
    const auto seed_x = static_cast<int32_t>(seed / height);
    const auto seed_y = static_cast<int32_t>(seed % height);
    points.Clear();
    ink.Take(seed);
    points.Add(seed_x, seed_y, 0);
    auto visit = [&](int32_t x, int32_t y) {
      if (ink.Take(ink.Index(x, y))) points.Add(x, y, 0);
    };
    // A component past MaxPixels is still taken from the ink, but only its frontier is kept:
    // the points already examined are dropped a block at a time.
    bool oversize = false;
    for (size_t r = 0; r < static_cast<size_t>(points.Count()); ++r) {
      if (max_pixels > 0 && points.Count() > max_pixels) oversize = true;
      if (oversize && r >= kDropBlock) {
        points.DropFront(static_cast<int32_t>(r));
        r = 0;
      }
      TBlobPoint& p = points[r];
      if (p.Done != 0) continue;
      p.Done = 1;
      const int32_t x = p.X, y = p.Y;  // p may move as the list grows
      if constexpr (kEightConnected) {
        const int32_t x1 = std::min(x + 1, width - 1), y1 = std::min(y + 1, height - 1);
        for (int32_t i = std::max(0, x - 1); i <= x1; ++i) {
          for (int32_t j = std::max(0, y - 1); j <= y1; ++j) visit(i, j);
        }
      } else {
        visit(x, y);
        visit(std::max(0, x - 1), y);
        visit(std::min(x + 1, width - 1), y);
        visit(x, std::max(0, y - 1));
        visit(x, std::min(y + 1, height - 1));
      }
    }

    const int32_t count = points.Count();
    if (oversize || count < least_pixels) continue;
    TRect bounds{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(), 0, 0};
    int64_t sum_x = 0, sum_y = 0;
    for (const TBlobPoint& p : points) {
      bounds.Left = std::min(bounds.Left, p.X);
      bounds.Top = std::min(bounds.Top, p.Y);
      bounds.Right = std::max(bounds.Right, p.X);
      bounds.Bottom = std::max(bounds.Bottom, p.Y);
      sum_x += p.X;
      sum_y += p.Y;
    }
    if (bounds.Right - bounds.Left + 1 < min_width || bounds.Bottom - bounds.Top + 1 < min_height) {
      continue;
    }
    const auto center_x =
        static_cast<int32_t>(layout::Round(static_cast<long double>(sum_x) / count));
    const auto center_y =
        static_cast<int32_t>(layout::Round(static_cast<long double>(sum_y) / count));
    if constexpr (kEightConnected) {
      auto item = std::make_unique<TBlobItem>();
      item->Bounds = bounds;
      item->PixelCount = count;
      item->CenterX = center_x;
      item->CenterY = center_y;
      item->Points.Append(points);
      list->Add(std::move(item));
    } else {
      list->AddBlob(bounds, count, center_x, center_y);
    }
  }
}

}  // namespace

TBlobPoint& TPointList::Items(int32_t index) {
  if (index < 0 || index >= Count()) RaiseIndexError(index);
  return points_[static_cast<size_t>(index)];
}

const TBlobPoint& TPointList::Items(int32_t index) const {
  return const_cast<TPointList*>(this)->Items(index);
}

void TPointList::Append(const TPointList& source) {
  if (points_.size() + source.points_.size() > kMaxPoints) throw Error(kNoMemory);
  try {
    points_.insert(points_.end(), source.points_.begin(), source.points_.end());
  } catch (const std::bad_alloc&) {
    throw Error(kNoMemory);
  }
}

void TBlobItem::Assign(const TBlobItem& source) {
  Bounds = source.Bounds;
  Status = source.Status;
  PixelCount = source.PixelCount;
  CenterX = source.CenterX;
  CenterY = source.CenterY;
  if (&source != this) {
    Points.Append(source.Points);
  } else {
    const TPointList copy = source.Points;
    Points.Append(copy);
  }
}

TBlobItem& TBlobList::Items(int32_t index) {
  if (index < 0 || index >= Count()) RaiseIndexError(index);
  return *items_[static_cast<size_t>(index)];
}

const TBlobItem& TBlobList::Items(int32_t index) const {
  return const_cast<TBlobList*>(this)->Items(index);
}

void TBlobList::Clear() {
  for (auto& item : items_) item.reset();
  items_.clear();
}

int32_t TBlobList::Add(std::unique_ptr<TBlobItem> item) {
  items_.push_back(std::move(item));
  return Count() - 1;
}

int32_t TBlobList::Add(const TBlobItem& item) {
  auto copy = std::make_unique<TBlobItem>();
  copy->Assign(item);
  return Add(std::move(copy));
}

int32_t TBlobList::AddBlob(const TRect& bounds, int32_t pixel_count, int32_t center_x,
                           int32_t center_y) {
  auto item = std::make_unique<TBlobItem>();
  item->Bounds = bounds;
  item->PixelCount = pixel_count;
  item->CenterX = center_x;
  item->CenterY = center_y;
  return Add(std::move(item));
}

std::vector<std::unique_ptr<TBlobItem>> TBlobList::TakeAll() {
  std::vector<std::unique_ptr<TBlobItem>> items;
  items.swap(items_);
  return items;
}

void TDIB::FindBlobs(bool eight_connected, int32_t min_width, int32_t min_height,
                     int32_t min_pixels, TBlobList* list, TLabelBuffers* buffers,
                     int32_t max_pixels) const {
  if (eight_connected) {
    FindBlobs8(min_width, min_height, min_pixels, list, buffers, max_pixels);
  } else {
    FindBlobs4(min_width, min_height, min_pixels, list, buffers, max_pixels);
  }
}

namespace {

void CheckLabelling(const TDIB& image) {
  if (image.FormatCode() != kFormat1Bit) {
    throw Error("This operation requires 1 bit per pixel bitmap !");
  }
  if (image.Header() == nullptr) throw Error("The image is empty");
}

}  // namespace

// Without a list there is nothing to record, so the scan is skipped.
void TDIB::FindBlobs8(int32_t min_width, int32_t min_height, int32_t min_pixels, TBlobList* list,
                      TLabelBuffers* buffers, int32_t max_pixels) const {
  CheckLabelling(*this);
  if (list == nullptr) return;
  TLabelBuffers own;
  Label<true>(*this, min_width, min_height, min_pixels, list, buffers != nullptr ? *buffers : own,
              max_pixels);
}

void TDIB::FindBlobs4(int32_t min_width, int32_t min_height, int32_t min_pixels, TBlobList* list,
                      TLabelBuffers* buffers, int32_t max_pixels) const {
  CheckLabelling(*this);
  if (list == nullptr) return;
  TLabelBuffers own;
  Label<false>(*this, min_width, min_height, min_pixels, list, buffers != nullptr ? *buffers : own,
               max_pixels);
}

}  // namespace ocrb
