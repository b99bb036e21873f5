// Lists that connected-component labelling (TDIB::FindBlobs) fills: TPointList holds the
// pixels of one component, TBlobItem one component, TBlobList the components of an image.
// Points live in one contiguous array per list, never one allocation per pixel.
#ifndef OCRB_IMAGE_BLOBS_H_
#define OCRB_IMAGE_BLOBS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "ocrb.h"
#include "platform/error.h"

namespace ocrb {

// One pixel of a component; Done is 1 once its neighbours have been examined.
struct TBlobPoint {
  int32_t X = 0;
  int32_t Y = 0;
  uint8_t Done = 0;
};

// An ordered list of points, owned by value.
class TPointList {
 public:
  // Appends a point and returns its index. Raises "No memory to add a point to list.." when
  // the list cannot grow.
  int32_t Add(int32_t x, int32_t y, uint8_t done) { return AddPoint(TBlobPoint{x, y, done}); }
  int32_t AddPoint(const TBlobPoint& point) {
    if (points_.size() >= kMaxPoints) throw Error(kNoMemory);
    try {
      points_.push_back(point);
    } catch (const std::bad_alloc&) {
      throw Error(kNoMemory);
    }
    return static_cast<int32_t>(points_.size() - 1);
  }
  // The point at Index, a reference into the list. Raises "List index out of bounds (%d)".
  TBlobPoint& Items(int32_t index);
  const TBlobPoint& Items(int32_t index) const;
  // Appends a copy of every point of Source, in order.
  void Append(const TPointList& source);
  int32_t Count() const { return static_cast<int32_t>(points_.size()); }
  // Empties the list, keeping its storage for reuse.
  void Clear() { points_.clear(); }
  // Removes the first Count points (at most all of them), keeping the rest in order.
  void DropFront(int32_t count) {
    const auto n = static_cast<size_t>(std::clamp<int32_t>(count, 0, Count()));
    points_.erase(points_.begin(), points_.begin() + static_cast<std::ptrdiff_t>(n));
  }
  // Unchecked access and iteration for loops over every point.
  const TBlobPoint& operator[](size_t index) const { return points_[index]; }
  TBlobPoint& operator[](size_t index) { return points_[index]; }
  auto begin() const { return points_.begin(); }
  auto end() const { return points_.end(); }

 private:
  static constexpr size_t kMaxPoints = 0x7FFFFFFF;  // indexes are signed 32-bit
  static constexpr char kNoMemory[] = "No memory to add a point to list..";

  std::vector<TBlobPoint> points_;
};

// Storage that labelling can keep from one image to the next: the bit set of the ink not yet
// taken and the queue of the component growing. Its capacity follows the largest image
// labelled lately, and is given back when an image needs less than a quarter of it.
struct TLabelBuffers {
  std::vector<uint64_t> Ink;
  TPointList Queue;
};

// One connected component. Bounds is inclusive; the centre is the rounded mean of the
// pixels' coordinates; Status belongs to the recognition passes. Points is empty for items
// made by 4-connected labelling.
class TBlobItem {
 public:
  TRect Bounds = {0, 0, 0, 0};
  int32_t Status = 0;
  int32_t PixelCount = 0;
  int32_t CenterX = 0;
  int32_t CenterY = 0;
  TPointList Points;

  // Copies Source's numbers and appends a copy of each of its points to the points this item
  // already has.
  void Assign(const TBlobItem& source);
};

// The components of an image in the order labelling found them; the list owns its items.
class TBlobList {
 public:
  // The item at Index. Raises "List index out of bounds (%d)".
  TBlobItem& Items(int32_t index);
  const TBlobItem& Items(int32_t index) const;
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Frees every item in list order and empties the list.
  void Clear();
  // Appends Item, which the list takes over; returns its index.
  int32_t Add(std::unique_ptr<TBlobItem> item);
  // Appends a new item made from a copy of Item (Assign); Item stays with the caller.
  int32_t Add(const TBlobItem& item);
  // Appends a new item with these values, Status 0 and no points.
  int32_t AddBlob(const TRect& bounds, int32_t pixel_count, int32_t center_x, int32_t center_y);
  // Hands every item over to the caller, in list order, and empties the list.
  std::vector<std::unique_ptr<TBlobItem>> TakeAll();

 private:
  std::vector<std::unique_ptr<TBlobItem>> items_;
};

}  // namespace ocrb

#endif  // OCRB_IMAGE_BLOBS_H_
