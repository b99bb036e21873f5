// Result line assembly: files recognised characters into text lines of the result store,
// inserts spaces into wide gaps and finishes the lines. Everything works in place in the
// store's fixed arrays. The store's capacity is 255 lines of 255 characters; a character
// that would open a 256th line or become the 256th character of a line is dropped (spaces
// that do not fit are not inserted), so Text, Confidences and Rects always stay parallel.
#ifndef OCRB_ENGINE_LINES_H_
#define OCRB_ENGINE_LINES_H_

#include <cstdint>
#include <string>

#include "engine/context.h"

namespace ocrb {

// Empties the store: every line zeroed, LineCount 0.
void ClearResults(TResultStore& store);

// Files character Ch with rectangle Rect (inclusive) and confidence Conf into the first line
// whose rows it shares, in left-to-right order, or opens a new line.
void AddCharToLines(TResultStore& store, char ch, const TRect& rect, float conf);

// Places character Ch into Line as AddCharToLines places it once it has chosen the line:
// before the first character lying wholly to its right, and widens the line's Bounds. A full
// line drops it.
void PlaceCharInLine(TResultLine& line, char ch, const TRect& rect, float conf);

// Removes character Index of Line with its confidence and rectangle.
void DeleteCharAt(TResultLine& line, int index);

// Inserts (Left of a character - Right of the one before) div Unit spaces before it, Unit
// being the space width scaled to the read's resolution, then gives every space the
// rectangle 0,0,0,0 and confidence 1. Raises "Division by zero" when Unit is 0 and some line
// holds two or more characters.
void InsertLineSpaces(TResultStore& store, int32_t unit);

// Sorts the lines top to bottom, reduces them to one line when SingleLine is set (the one
// nearest the middle of ImageRect, or two side-by-side lines joined), and removes characters
// that overlap a character of greater weight (area times confidence).
void FinishLines(const TRect& image_rect, TResultStore& store, bool single_line);

// N spaces; empty for N <= 0.
std::string SpaceString(int32_t n);

}  // namespace ocrb

#endif  // OCRB_ENGINE_LINES_H_
