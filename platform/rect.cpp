#include "platform/rect.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#endif

namespace ocrb::platform {

#ifdef _WIN32

// TRect and RECT share their layout: four 32-bit integers in the same order.
static_assert(sizeof(TRect) == sizeof(RECT));

bool IsRectEmpty(const TRect& r) {
  return ::IsRectEmpty(reinterpret_cast<const RECT*>(&r));
}
bool UnionRect(TRect& dst, const TRect& a, const TRect& b) {
  return ::UnionRect(reinterpret_cast<RECT*>(&dst), reinterpret_cast<const RECT*>(&a),
                     reinterpret_cast<const RECT*>(&b));
}
bool IntersectRect(TRect& dst, const TRect& a, const TRect& b) {
  return ::IntersectRect(reinterpret_cast<RECT*>(&dst), reinterpret_cast<const RECT*>(&a),
                         reinterpret_cast<const RECT*>(&b));
}
void OffsetRect(TRect& r, int32_t dx, int32_t dy) {
  ::OffsetRect(reinterpret_cast<RECT*>(&r), dx, dy);
}

#else

bool IsRectEmpty(const TRect& r) {
  return r.Right <= r.Left || r.Bottom <= r.Top;
}

bool UnionRect(TRect& dst, const TRect& a, const TRect& b) {
  const bool a_empty = IsRectEmpty(a);
  const bool b_empty = IsRectEmpty(b);
  if (a_empty && b_empty) {
    dst = TRect{0, 0, 0, 0};
    return false;
  }
  if (a_empty) {
    dst = b;
  } else if (b_empty) {
    dst = a;
  } else {
    dst = TRect{std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
                std::max(a.Bottom, b.Bottom)};
  }
  return true;
}

bool IntersectRect(TRect& dst, const TRect& a, const TRect& b) {
  const TRect overlap{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
                      std::min(a.Bottom, b.Bottom)};
  if (IsRectEmpty(a) || IsRectEmpty(b) || IsRectEmpty(overlap)) {
    dst = TRect{0, 0, 0, 0};
    return false;
  }
  dst = overlap;
  return true;
}

void OffsetRect(TRect& r, int32_t dx, int32_t dy) {
  // Wrap like the 32-bit arithmetic of the system call instead of overflowing.
  r.Left = static_cast<int32_t>(static_cast<uint32_t>(r.Left) + static_cast<uint32_t>(dx));
  r.Right = static_cast<int32_t>(static_cast<uint32_t>(r.Right) + static_cast<uint32_t>(dx));
  r.Top = static_cast<int32_t>(static_cast<uint32_t>(r.Top) + static_cast<uint32_t>(dy));
  r.Bottom = static_cast<int32_t>(static_cast<uint32_t>(r.Bottom) + static_cast<uint32_t>(dy));
}

#endif

}  // namespace ocrb::platform
