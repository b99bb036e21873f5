// The skew of a page: how far its text lines are turned from level, found as Leptonica finds
// it (a sweep of vertical shears of the ink scored by how sharply the row sums change from row
// to row, then a search that halves the step), on the ink of a packed or decoded page.
#ifndef OCRB_READER_SKEW_H_
#define OCRB_READER_SKEW_H_

#include "reader/decoder.h"
#include "reader/lept.h"

namespace ocrb::reader {

// The sweep covers this many degrees either way, in steps of a degree; the search stops at a
// hundredth of a degree. (When a skew is acted on: decoder.h.)
constexpr double kSkewSweepDegrees = 7;

struct SkewMeasure {
  bool Valid = false;     // false: too small, no ink, or no best angle inside the sweep
  double Degrees = 0;     // positive: the page falls to the right (text turned clockwise)
  double Confidence = 0;  // best score over worst; 0 when the scores cannot be trusted
  // Whether a page with this skew is to be levelled.
  bool Level() const;
};

// The skew of Ink (1 bit, 1 = ink). Quiet: nothing is printed, whatever the picture.
SkewMeasure MeasureSkew(PIX* ink);

}  // namespace ocrb::reader

#endif  // OCRB_READER_SKEW_H_
