// Result line assembly. The passes file recognised characters into a line model of the
// engine's own, inserts spaces into wide gaps and finishes the lines there; only then is the
// model copied into the result store, whose capacity (255 lines of 255 characters) applies
// once, at the copy. A line follows its slope: on a turned line, a character is matched
// against the rows of the line's characters beside it, moved along the line's fitted slope,
// rather than against the rows of the whole line.
#ifndef OCRB_ENGINE_LINES_H_
#define OCRB_ENGINE_LINES_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/context.h"

namespace ocrb {

// The working model holds this many lines, of this many characters each, at most: four times
// what the store holds, so that nothing a page can be read into is lost before the copy,
// while filing stays bounded per character. What would go past them is dropped.
constexpr int kMaxModelLines = 4 * kMaxLines;
constexpr int kMaxModelLineLength = 4 * kMaxLineLength;

// One character of a line: what it reads, its confidence and its rectangle (inclusive; spaces
// have 0,0,0,0).
struct TLineChar {
  char Ch = 0;
  float Conf = 0;
  TRect Rect = {};
  bool InFit = false;  // counted in the line's fit (set by the line)
};

// A line of the model, in the order its characters were placed.
class TTextLine {
 public:
  const std::vector<TLineChar>& Chars() const { return chars_; }
  int Length() const { return static_cast<int>(chars_.size()); }
  const TLineChar& operator[](int k) const { return chars_[static_cast<size_t>(k)]; }
  // Union of the rectangles of the characters placed into the line.
  const TRect& Bounds() const { return bounds_; }
  std::string Text() const;

  // Places Ch before the first character lying wholly to its right (appends when none is, or
  // when Rect starts at or past the line's right edge) and widens Bounds. A full line drops
  // it.
  void Place(char ch, const TRect& rect, float conf);
  // Removes character K (Bounds stays as it is).
  void Delete(int k);
  // Inserts Count copies of a character at index K, moving K.. right, as far as the line has
  // room.
  void Insert(int k, int count, const TLineChar& c);
  // Sets the confidence of character K.
  void SetConf(int k, float conf) { chars_[static_cast<size_t>(k)].Conf = conf; }
  void SetRect(int k, const TRect& rect) { chars_[static_cast<size_t>(k)].Rect = rect; }

  // The rise of the line's character centres per column, fitted by least squares over the
  // characters named with a confidence of 0.8 or more (what else a line takes in, specks and
  // pieces, would tilt it), and whether the line is turned: three such characters or more
  // whose centres move by half their mean height or more from one end of the line to the
  // other. A line that is not turned is level, and judged by its Bounds as a whole.
  double Slope() const;
  bool Turned() const;
  // The rows the line takes at column X: on a level line those of Bounds; on a turned line
  // those of the characters nearest X on either side (two each way), each moved along the
  // slope to X.
  std::pair<int64_t, int64_t> RowsAt(int64_t x) const;
  // With false, the line is always judged level: the rows of all its characters, as lines
  // were filed before they followed their slope (the reference the tests compare with).
  void SetFollowSlope(bool follow) { follow_slope_ = follow; }

 private:
  void Account(const TRect& rect, int sign);
  static bool Fits(const TLineChar& c);

  std::vector<TLineChar> chars_;
  TRect bounds_ = {};
  // The characters but spaces by centre column (twice the centre, to stay whole), and the
  // sums of the fit of centre rows on centre columns and of the heights, over the same.
  std::vector<std::pair<int64_t, TRect>> by_column_;
  double n_ = 0, sx_ = 0, sy_ = 0, sxx_ = 0, sxy_ = 0, heights_ = 0;
  bool follow_slope_ = true;
};

// The lines of one read, in the order they were opened until FinishLines sorts them. Lines
// opened follow their slope when FollowSlope is set.
struct TLineModel {
  std::vector<TTextLine> Lines;
  bool FollowSlope = true;
};

// Empties the store: every line zeroed, LineCount 0.
void ClearResults(TResultStore& store);

// Whether a character with rectangle Rect belongs to Line by rows: the line's rows at the
// character's centre column lie within the character's rows, or hold one of its quarter
// points.
bool LineTakes(const TTextLine& line, const TRect& rect);

// Files character Ch with rectangle Rect (inclusive) and confidence Conf into the first line
// (in the order lines were opened) that takes it, or opens a new line.
void AddCharToLines(TLineModel& model, char ch, const TRect& rect, float conf);

// Inserts (Left of a character - Right of the one before) div Unit spaces before it, Unit
// being the space width scaled to the read's resolution, then gives every space the
// rectangle 0,0,0,0 and confidence 1. Raises "Division by zero" when Unit is 0 and some line
// holds two or more characters.
void InsertLineSpaces(TLineModel& model, int32_t unit);

// Sorts the lines top to bottom, reduces them to one line when SingleLine is set (the one
// nearest the middle of ImageRect, or two side-by-side lines joined), and removes characters
// that overlap a character of greater weight (area times confidence).
void FinishLines(const TRect& image_rect, TLineModel& model, bool single_line);

// Copies the model into the store: the first 255 lines, the first 255 characters of each.
void CopyToStore(const TLineModel& model, TResultStore& store);

// N spaces; empty for N <= 0.
std::string SpaceString(int32_t n);

}  // namespace ocrb

#endif  // OCRB_ENGINE_LINES_H_
