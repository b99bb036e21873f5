// Training examples from the engine's own reading: a synthetic page is read by the real
// recognition with a classifier hook that records every rectangle the passes ask about.
// Each is labelled by the page's true glyph boxes: one whole character is an example of its
// class; anything else (two characters, part of one, noise) is "not a character".
#include <array>
#include <cstdint>
#include <vector>

#include "engine/context.h"
#include "engine/passes.h"
#include "tools/train/dense.h"
#include "tools/train/glyphs.h"
#include "tools/train/pages.h"

#ifndef OCRB_TOOLS_TRAIN_HARVEST_H_
#define OCRB_TOOLS_TRAIN_HARVEST_H_

namespace ocrb::train {

struct HarvestStats {
  int64_t Queries[kQueryKinds] = {};    // by query kind
  int64_t Positives[kQueryKinds] = {};  // of those, labelled as one whole character
  int64_t Characters = 0;     // true characters on the pages
  int64_t Errors = 0;         // edit distance of the page text read, spaces removed
};

// The class of the one true glyph that Query covers almost wholly without reaching into
// another, or -1. Pitch is the character pitch in pixels, which bounds how much larger than
// the glyph's outline the query may be (bold print and blur widen blobs).
int LabelQuery(const TRect& query, const std::vector<TrueGlyph>& glyphs, double pitch);

// Reads Page with the context's model (the network must be loaded) and appends the eight
// views of every query, labelled, to Samples (marked Validation when Validation is set).
// The plain views (passes 1 and 2) of queries that hold one whole character also go to
// Plain, for the template counts.
void Harvest(TEngineContext& context, const SynthPage& page, int32_t dpi, bool validation,
             std::vector<Sample>& samples, std::vector<GlyphView>& plain, HarvestStats& stats);

// Levenshtein distance, for measuring reads.
int64_t EditDistance(const std::string& a, const std::string& b);

}  // namespace ocrb::train

#endif  // OCRB_TOOLS_TRAIN_HARVEST_H_
