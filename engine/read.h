// One recognition: the caller's bitmap in, the result store filled.
#ifndef OCRB_ENGINE_READ_H_
#define OCRB_ENGINE_READ_H_

#include <cstdint>

#include "engine/context.h"
#include "engine/passes.h"
#include "ocrb.h"
#include "platform/memory.h"

namespace ocrb {

// The working image may hold at most this many pixels once its pixels are squared (a 600
// dpi A3 page has about 70 million); larger bitmaps, or resolutions that would blow a small
// bitmap up past it, are refused from the header, before anything of that size is allocated.
constexpr int64_t kMaxWorkingPixels = OCRB_MAX_WORKING_PIXELS;
static_assert(kMaxWorkingPixels == int64_t{1} << 28);

// The classification work of one read is bounded by the size of its working image, so that
// no bitmap (noise, speckle, checkerboards) costs more than a fixed time per pixel. Each
// question costs a base plus the pixels of its rectangle (what preparing the glyph passes
// costs); a read may spend the floor plus so much per working pixel. Reads of real pages
// spend a few per cent of it.
constexpr int64_t kQuestionBaseCost = 400;
constexpr int64_t kWorkBudgetFloor = int64_t{1} << 19;
constexpr int64_t kWorkBudgetPerPixel = 2;

// What a question about Rect costs, and what a read of so many working pixels may spend.
int64_t QuestionCost(const TRect& rect);
int64_t WorkBudget(int64_t working_pixels);

// Reads the 1-bit packed DIB in Dib (never changed, never kept) into the context's result
// store with the context's parameters. Classify, when given, replaces the context's
// classifier (for tools that watch what is asked). Raises on any failure; a failure before
// the store is cleared leaves the previous result in place.
void RecognizeBitmap(TEngineContext& context, platform::HGlobal dib, bool single_line,
                     const TGlyphClassifier* classify = nullptr);

}  // namespace ocrb

#endif  // OCRB_ENGINE_READ_H_
