// Glyph extraction: a small bilevel image holding one glyph becomes a 16 x 16 grid of ink
// cells, for the template recogniser (TGlyphGrid, column by column) or as the 256 inputs of
// the network (TGlyphInputs, row by row).
#ifndef OCRB_CLASSIFY_GLYPH_H_
#define OCRB_CLASSIFY_GLYPH_H_

#include <array>
#include <cstdint>

#include "ocrb.h"

namespace ocrb {

class TDIB;

constexpr int kGridSize = 16;  // cells per side of the glyph grid

// 256 cells, 0 paper or 1 ink; cell GX * 16 + GY (column by column, each top to bottom).
struct TGlyphGrid {
  uint8_t Cells[kGridSize * kGridSize];
};

// The network's input vector for one glyph: 256 cells, 0.0 paper or 1.0 ink; cell GY * 16 + GX
// (row by row, each left to right).
using TGlyphInputs = std::array<double, kGridSize * kGridSize>;

// Reduces the glyph in Rect of Image (inclusive; an empty rectangle in the platform sense
// selects the whole image) to Grid: optional trimming of a sparse or ragged first and last
// row, uniform scaling of the longer side to 16 cells, centring, one sample per cell, and
// paper samples with 3 or 4 ink 4-neighbours counted as ink. Returns the number of ink cells
// (at least 1), or 0 when nothing is left after trimming. Raises "Out of bitmap" when a
// sample falls outside the image.
int32_t ExtractGlyphGrid(const TDIB& image, const TRect& rect, bool trim_edges, TGlyphGrid& grid);

// The same reduction written as network inputs, every cell set; the cell counts truncate
// instead of rounding and gaps are not filled.
int32_t ExtractGlyphPattern(const TDIB& image, const TRect& rect, bool trim_edges,
                            TGlyphInputs& inputs);

}  // namespace ocrb

#endif  // OCRB_CLASSIFY_GLYPH_H_
