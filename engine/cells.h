// Reading the empty cells of a line. OCR-B stands on a fixed pitch, so once a line holds
// enough characters read with confidence, its pitch, phase, baseline, slope and digit height
// say where every other character of the line must stand. A cell of that grid that holds no
// character, or only a weakly read one, is asked about whole: all the ink inside it, pieces
// and specks the blob passes could not use included.
#ifndef OCRB_ENGINE_CELLS_H_
#define OCRB_ENGINE_CELLS_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/context.h"
#include "engine/lines.h"
#include "engine/passes.h"
#include "ocrb.h"

namespace ocrb {

class TDIB;

// A character of a line at or above this confidence is trusted: it fixes the line's grid,
// and its cell is not asked about again.
constexpr double kCellAnchorConfidence = 0.9;
// Fewer trusted characters than this leave a line as it is.
constexpr int kMinCellAnchors = 3;
// A run of more empty cells than this between two characters is not read: it is a gap
// between fields or text beside the line, not a character that went missing.
constexpr int kMaxCellGap = 8;
// Cells looked at beyond a line's first and last character.
constexpr int kCellsBeyondEnds = 2;

// A line's character grid, in working pixels: cell K is centred on column
// Phase + K * Pitch, and the digits of the line stand on row Baseline + Slope * x and
// reach Height above it.
struct TLineGrid {
  double Pitch = 0;
  double Phase = 0;
  double Baseline = 0;
  double Slope = 0;
  double Height = 0;

  double CenterOf(int64_t cell) const { return Phase + Pitch * static_cast<double>(cell); }
  // The nearest cell to column X.
  int64_t CellOf(double x) const;
  double BottomAt(double x) const { return Baseline + Slope * x; }
};

// Fits the grid of Line from its characters read at kCellAnchorConfidence or more (and, given
// Prior, standing where their class stands on it). Returns false, leaving Grid unspecified,
// when fewer than kMinCellAnchors of them agree on one pitch or fewer than two of them are
// digits.
bool FitLineGrid(const TTextLine& line, TLineGrid& grid, const TLineGrid* prior = nullptr);

// Whether a box read as Ch stands where OCR-B puts that class on the grid: within the rows
// the class takes (with some slack for blur and bold print), and, for the taller classes,
// over most of them. A box that does not is likely a piece of some other character.
bool FitsGrid(char ch, const TRect& rect, const TLineGrid& grid);

// The confidence a character that does not fit its line's grid is reported with at most.
constexpr double kMisfitConfidence = 0.5;

// What a line's cells cost to look at and what they gave.
struct TCellWork {
  int64_t CellsRead = 0;    // cells asked about
  int64_t CharsPlaced = 0;  // characters placed or replaced from them
};

// Reads the cells of every line of Model on Image (the working image, whose ink is its
// BlackIndex) that hold no character, only characters below kCellAnchorConfidence or ones
// that do not fit the grid, or more than one character, from
// two cells before the line's first character to two after its last. A cell's ink is every ink
// pixel inside the cell and the line's band that no trusted character of the line covers; a cell
// without ink stays empty. A reading above kFragmentPlaceAbove that beats the characters it would
// replace takes their place, with the ink's rectangle; a character left that does not fit the grid
// is reported at kMisfitConfidence at most. Charge is told the pixels each cell costs to
// look at and answers whether the read may go on; Classify is charged by itself. Returns false
// when either said the read's budget was spent, which ends the reading of cells.
bool ReadLineCells(TLineModel& model, const TDIB& image, const TGlyphClassifier& classify,
                   const std::function<bool(int64_t)>& charge, TCellWork* work = nullptr);

}  // namespace ocrb

#endif  // OCRB_ENGINE_CELLS_H_
