// The character classifier: one rectangle of the working image becomes one character of
// "0123456789+-><#" with a confidence, or "~" with confidence 0 when nothing is named.
#ifndef OCRB_CLASSIFY_CLASSIFIER_H_
#define OCRB_CLASSIFY_CLASSIFIER_H_

#include <cstdint>
#include <functional>

#include "classify/glyph.h"
#include "classify/model.h"
#include "ocrb.h"

namespace ocrb {

class TDIB;

// The alphabet in class order, and the character of a glyph left unnamed.
inline constexpr char kAlphabet[] = "0123456789+-><#";
constexpr int kClassCount = 15;
constexpr char kRejectChar = '~';

// Classification stops as soon as the best confidence reaches this.
constexpr double kEarlyStopConfidence = 0.9;
// Preprocessing passes: plain, thinned, thinned and dilated, dilated; each without and then
// with trimming of a ragged first and last row.
constexpr int kMaxPassCount = 8;

struct TClassScore {
  int32_t Class;
  double Score;
};

// The character of class Index; raises "No IndexToChar..." outside 0..14.
char IndexToChar(int32_t index);

// Scores Grid against every class's ink and paper counts and fills Ranking with the 15
// classes in descending order of score (ties: the lower class first).
void ClassifyByTemplates(const TGlyphGrid& grid,
                         const int32_t (&counts)[2][kTemplateClassSlots][kGridCells],
                         TClassScore (&ranking)[kClassCount]);

// Fills Working, a 1-bit image of Rect's size made by NewImage, with the glyph in Rect of
// Image as preprocessing pass Pass (1..8) prepares it. Returns whether that pass trims the
// first and last row. Training uses this too, so that it sees exactly what reading sees.
bool PrepareGlyphPass(const TDIB& image, const TRect& rect, int32_t pass, TDIB& working);

// The same for pass Pass when Working holds what passes 1 .. Pass - 1, run in order, left
// in it: only the work the pass adds is done (a copy for passes 1, 3 and 7, a dilation for
// pass 5, nothing for the even passes). Working ends as PrepareGlyphPass would leave it.
bool AdvanceGlyphPass(const TDIB& image, const TRect& rect, int32_t pass, TDIB& working);

// Recognises the prepared working image of one pass: sets Best to a class index (or -1 for
// none) and Score to its confidence.
using TPassRecogniser =
    std::function<void(const TDIB& working, bool trim_edges, int32_t& best, double& score)>;

// The pass loop of ClassifyGlyph with any recogniser: up to MaxPasses passes (outside 1..8
// means 8), each on a fresh copy of the glyph, stopping once the confidence reaches 0.9. The
// working image is Scratch when given (its block is reused), else a temporary.
void ClassifyGlyphPasses(int32_t max_passes, const TDIB& image, const TRect& rect,
                         const TPassRecogniser& recognise, char& ch, double& confidence,
                         TDIB* scratch = nullptr);

// What the classifier takes from the engine's parameters.
struct TClassifierSettings {
  int32_t UseTemplates = 0;  // nonzero: the template recogniser instead of the network
  int32_t MaxPasses = 8;     // preprocessing passes at most (outside 1..8 means 8)
};

// Classifies Rect (inclusive, inside Image) with the model's network, or its template counts,
// over up to MaxPasses preprocessing passes. Writes the model's inputs and network values.
void ClassifyGlyph(TModel& model, const TClassifierSettings& settings, const TDIB& image,
                   const TRect& rect, char& ch, double& confidence);

}  // namespace ocrb

#endif  // OCRB_CLASSIFY_CLASSIFIER_H_
