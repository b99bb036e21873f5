// One recognition: the caller's bitmap in, the result store filled.
#ifndef OCRB_ENGINE_READ_H_
#define OCRB_ENGINE_READ_H_

#include <cstdint>

#include "engine/context.h"
#include "engine/passes.h"
#include "platform/memory.h"

namespace ocrb {

// The working image may hold at most this many pixels once its pixels are squared (a 600
// dpi A3 page has about 70 million); larger bitmaps, or resolutions that would blow a small
// bitmap up past it, are refused instead of exhausting memory.
constexpr int64_t kMaxWorkingPixels = int64_t{1} << 30;

// Reads the 1-bit packed DIB in Dib (never changed, never kept) into the context's result
// store with the context's parameters. Classify, when given, replaces the context's
// classifier (for tools that watch what is asked). Raises on any failure; a failure before
// the store is cleared leaves the previous result in place.
void RecognizeBitmap(TEngineContext& context, platform::HGlobal dib, bool single_line,
                     const TGlyphClassifier* classify = nullptr);

}  // namespace ocrb

#endif  // OCRB_ENGINE_READ_H_
