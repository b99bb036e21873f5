// Rectangle operations with the platform's rules. TRect is the public inclusive rectangle,
// but these operations, like their Windows namesakes, count a rectangle as empty when
// Right <= Left or Bottom <= Top: a rectangle one pixel wide or tall is empty for them.
#ifndef OCRB_PLATFORM_RECT_H_
#define OCRB_PLATFORM_RECT_H_

#include "ocrb.h"

namespace ocrb::platform {

// True when Right <= Left or Bottom <= Top.
bool IsRectEmpty(const TRect& r);
// Smallest rectangle holding a and b; if one is empty the other; both empty gives 0,0,0,0.
// Returns false when the result is empty.
bool UnionRect(TRect& dst, const TRect& a, const TRect& b);
// Overlap of a and b, or 0,0,0,0 when either is empty or they do not overlap (the greater
// Left must lie below the smaller Right, likewise Top and Bottom). False when empty.
bool IntersectRect(TRect& dst, const TRect& a, const TRect& b);
// Moves r by dx columns and dy rows.
void OffsetRect(TRect& r, int32_t dx, int32_t dy);

}  // namespace ocrb::platform

// TRect is the public C type, declared outside any namespace; its comparison lives beside it.
inline bool operator==(const TRect& a, const TRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

#endif  // OCRB_PLATFORM_RECT_H_
