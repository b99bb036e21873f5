// Joining broken strokes before the blob passes. Thin print breaks each character into pieces
// that no blob pass sees whole; where such pieces gather, a closing of the ink bridges the
// gaps of a pixel or two between them, so that labelling finds characters again. Elsewhere
// the page keeps the components it has.
#ifndef OCRB_ENGINE_STROKES_H_
#define OCRB_ENGINE_STROKES_H_

#include <cstdint>
#include <vector>

#include "ocrb.h"

namespace ocrb {

class TBlobList;
class TDIB;
struct TLabelBuffers;

// Where the print falls apart: the cells of a grid half a character high (CharHeight, the
// scaled greatest character height, at least 16 pixels a cell) that hold the centre of a
// fragment (a blob of status bsFragment in Qualified) with another fragment's centre in its
// own cell or the eight around it, together with those eight. Cell (U, V) covers the columns
// U * Cell .. U * Cell + Cell - 1 and the rows likewise.
struct TBrokenRegions {
  int32_t Cell = 1;
  int64_t Columns = 0, Rows = 0;
  std::vector<uint8_t> Marked;  // by V * Columns + U; 1 inside a region
  bool Any = false;

  bool Contains(int64_t x, int64_t y) const {
    return Marked[static_cast<size_t>((y / Cell) * Columns + x / Cell)] != 0;
  }
};
TBrokenRegions FindBrokenRegions(const TDIB& image, const TBlobList& qualified,
                                 int32_t char_height);

// The ink of Image (1 bit, ink its BlackIndex) closed by a 3 x 3 square (dilated, then eroded,
// everything outside the image counting as ink for the erosion) inside Regions, as it is
// elsewhere; written over Joined, a copy of Image.
void CloseInRegions(const TDIB& image, const TBrokenRegions& regions, TDIB& joined);

// Relabels Blobs (the 8-connected components of Image of 4 pixels or more, in the order
// labelling finds them, qualified) as the components of Image closed inside the broken
// regions: the same list, in the same order, that labelling the closed image would give,
// except that a joined component reaching more than a character beyond the regions, or of more
// pixels than the boxes of four characters hold, keeps its pieces as they were. Only the
// neighbourhood of the regions is labelled again. Statuses are left for the caller to set anew.
// Returns false, changing nothing, when the page has no broken regions.
bool JoinBrokenStrokes(const TDIB& image, int32_t char_width, int32_t char_height, TBlobList& blobs,
                       TLabelBuffers* buffers = nullptr);

}  // namespace ocrb

#endif  // OCRB_ENGINE_STROKES_H_
