// Figures of one recognised line and the rule that calls a line junk.
//
// Ordinary print around a coding line (addresses, dates, sentences) reaches the engine too,
// and it names most of those glyphs as some digit. Such lines give themselves away by their
// confidences and by their layout: OCR-B sits on a fixed 2.54 mm pitch with digits of one
// height, ordinary type does not.
#ifndef OCRB_READER_LINES_H_
#define OCRB_READER_LINES_H_

#include <string_view>
#include <vector>

#include "ocrb.h"

namespace ocrb::reader {

// All shares are 0..1 and all figures count the characters other than spaces.
struct LineFigures {
  int Characters = 0;             // characters other than spaces
  int Unnamed = 0;                // of which '~', the engine's unnamed glyph
  float MeanConfidence = 0;       // '~' counts 0; 0 without characters
  float MinConfidence = 0;        // 0 without characters
  float UnnamedShare = 0;         // Unnamed / Characters
  double NamedConfidenceSum = 0;  // summed over the named characters
  float OffPitchShare = 0;        // steps between neighbours off the line's pitch
  float HeightSpreadShare = 0;    // digits whose height strays from the line's usual one
  float MedianConfidence = 0;     // '~' counts 0; 0 without characters (used by the rule only)
};

// Measures one line: Text with one confidence and one box per character, as the engine gives
// them (a space's box is ignored). A character beyond the end of Confidences or Boxes counts
// as unnamed, without a box.
LineFigures MeasureLine(std::string_view text, const std::vector<float>& confidences,
                        const std::vector<TRect>& boxes);

// The junk rule. A line without characters other than spaces is not junk (it says nothing;
// the engine's single-line mode gives one for a page without text). A line with characters
// is junk when any of these holds:
//   - its mean confidence is below 0.7 (so is a line whose characters are mostly unnamed:
//     '~' counts 0) and its median confidence below 0.9: a line whose usual character is
//     read surely is kept, however few of its glyphs were lost to damage;
//   - it has at least 8 steps between neighbouring characters and more than a quarter of
//     them are off the line's pitch (a step is off when its length, in pitches, is less than
//     a pitch or more than a fifth of a pitch from a whole number of pitches);
//   - it has at least 8 digits and more than 40 % of them are more than a quarter taller or
//     shorter than the median digit.
bool IsJunk(const LineFigures& figures);

// The junk rule's thresholds. Each keeps the lines of heavily degraded OCR-B scans with a wide
// margin (lines.cpp gives the figures).
inline constexpr float kJunkMinMeanConfidence = 0.7f;
inline constexpr float kJunkMinMedianConfidence = 0.9f;
// Fewer steps or digits than these say too little about a layout.
inline constexpr int kJunkMinSteps = 8;
inline constexpr int kJunkMinDigits = 8;
inline constexpr float kJunkMaxOffPitchShare = 0.25f;
inline constexpr float kJunkMaxHeightSpreadShare = 0.4f;
// A step is on the pitch within a fifth of a pitch of a whole number of pitches: the box
// centres of OCR-B glyphs sit a few pixels off their cells' centres, proportional type wanders.
inline constexpr double kJunkPitchTolerance = 0.2;
// A digit strays when its height differs from the median digit's by more than a quarter.
inline constexpr double kJunkHeightTolerance = 0.25;

}  // namespace ocrb::reader

#endif  // OCRB_READER_LINES_H_
