// A picture of what was read: the page with every character's box and name drawn on it.
#ifndef OCRB_READER_OVERLAY_H_
#define OCRB_READER_OVERLAY_H_

#include <string>

#include "reader/engine.h"
#include "reader/lept.h"

namespace ocrb::reader {

// Confidence at or above which a character counts as sure (green) and below which it is
// doubtful (red); orange in between.
constexpr float kSureConfidence = 0.9f;
constexpr float kDoubtfulConfidence = 0.5f;

// Writes Picture, lightened, as an RGB PNG with each box drawn in the colour of its
// confidence and the character written above it (below when there is no room). Non-square
// pixels are stretched to square ones, so that the picture looks like the paper. Throws
// InputError(kExitEnvironment) when Path cannot be written.
void WriteOverlay(PIX* picture, const PageResult& result, const std::string& path);

}  // namespace ocrb::reader

#endif  // OCRB_READER_OVERLAY_H_
