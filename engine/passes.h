// Blob qualification and merging: the four passes that turn the connected components of the
// working image into characters. Sizes are the read's scaled parameters.
#ifndef OCRB_ENGINE_PASSES_H_
#define OCRB_ENGINE_PASSES_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/context.h"
#include "engine/lines.h"
#include "ocrb.h"

namespace ocrb {

class TDIB;
class TBlobList;

// Blob statuses.
enum TBlobStatus : int32_t {
  bsCandidate = 0,  // a plausible character or flat mark, classified on its own
  bsFragment = 1,   // too small or oddly shaped alone; grouped with neighbours
  bsDone = 2,       // placed (a fragment group: every member), absorbed into another
                    // blob's character, or split
  bsRun = 3,        // a run of touching characters, split at narrow places
};

// Below this confidence a candidate is retried merged with its nearest neighbour.
constexpr double kMergeBelowConfidence = 0.8;
// A fragment group is placed only above this confidence.
constexpr double kFragmentPlaceAbove = 0.5;
// Room in the run pass's piece list; further pieces of one run are ignored.
constexpr int kMaxRunPieces = 256;
// A fragment group takes at most this many members.
constexpr int kMaxFragmentMembers = 8;

// The ten size parameters scaled to the working resolution.
struct TScaledSizes {
  int32_t SpaceWidth, MinCharWidth, MinCharHeight, MaxCharWidth, MaxCharHeight, SpeckSize,
      DashMinWidth, DashMinHeight, DashMaxWidth, DashMaxHeight;
};

// Which step of the passes asks for a classification.
enum TQueryKind : int32_t {
  qkCandidate = 0,       // a candidate blob on its own
  qkCandidateMerge = 1,  // a doubtful candidate merged with its nearest neighbour
  qkRunPiece = 2,        // a piece of a split run, asked on the run's own image
  qkFragmentGroup = 3,   // a group of fragments
  qkCell = 4,            // the ink of one cell of a line's grid, on an image of its own
};
constexpr int kQueryKinds = 5;

// One classification asked for by the passes: Rect (inclusive) of Image, which is the
// working image, the run's piece image for run pieces, or the cut-out ink of a cell; PageRect
// is the same rectangle in the working image's coordinates.
struct TGlyphQuery {
  const TDIB& Image;
  TRect Rect;
  TRect PageRect;
  TQueryKind Kind;
  // Which image of the read Image is: 0 for the working image, 1 + the blob's index for the
  // piece image of a run, negative for a cell's image. Equal ids and rectangles ask the same
  // question.
  int32_t ImageId = 0;
};

// Classifies a query: a character and a confidence in [0, 1]. Returns false, answering
// nothing, when the read's work budget does not allow the question; the passes then stop
// where they are and return false themselves.
using TGlyphClassifier =
    std::function<bool(const TGlyphQuery& query, char& ch, double& confidence)>;

// Round(Resolution / 200 * Value), halves to even, kept inside the 32-bit range.
int32_t ScaleParam(int32_t value, int32_t resolution);
TScaledSizes ScaleSizes(const TParameters& parameters, int32_t resolution);

// Window tests on inclusive rectangles (W = Right - Left + 1, H = Bottom - Top + 1).
bool IsOutsideCharWindow(const TRect& rect, int32_t speck_w, int32_t speck_h, int32_t min_w,
                         int32_t min_h, int32_t max_w, int32_t max_h);
bool IsInWindow(const TRect& rect, int32_t min_w, int32_t min_h, int32_t max_w, int32_t max_h);
bool IsWideRun(const TRect& rect, int32_t max_w, int32_t max_h);

// Squared distance of the two rectangles' centres (Left + (Right - Left) div 2, likewise
// for rows). Computed in 64 bits, so that far-apart blobs of a large page cannot overflow.
int64_t CenterDistance(const TRect& a, const TRect& b);

// The nearest other blob that is not bsDone, by CenterDistance, the lowest index on a tie (-1
// when there is none): what a scan of the whole list in list order would find, without the
// scan. The centres of the blobs that are not bsDone are kept in a grid of square cells; a
// question visits the cells ring by ring around its blob until no cell left can hold a nearer
// blob. The passes change statuses and bounds through it, so that the grid follows the list;
// bounds may only become unions of blobs of the list.
class TBlobNeighbours {
 public:
  TBlobNeighbours(TBlobList& list, int32_t cell_size);
  TBlobNeighbours(const TBlobNeighbours&) = delete;
  TBlobNeighbours& operator=(const TBlobNeighbours&) = delete;

  int32_t Nearest(int32_t index) const;
  void SetStatus(int32_t index, int32_t status);
  void SetBounds(int32_t index, const TRect& bounds);

 private:
  int64_t CellOf(const TRect& bounds) const;
  void Insert(int32_t index);
  void Erase(int32_t index);

  // A blob in a cell, with its centre kept beside it so a search never goes back to the list.
  struct Entry {
    int32_t Index;
    int64_t X, Y;
  };

  TBlobList& list_;
  int64_t cell_ = 1;
  int64_t left_ = 0, top_ = 0;  // where cell (0, 0) starts
  int64_t columns_ = 0, rows_ = 0;
  std::vector<std::vector<Entry>> cells_;
};

// Swaps Top and Bottom if Bottom < Top, then Left and Right if Right < Left.
void NormalizeRect(TRect& rect);

// Cuts the run in Piece (its ink is the image's BlackIndex) before the columns where the ink
// grows again after narrowing at both ends; keeps the pieces that fit the character window,
// at most kMaxRunPieces, left to right in Piece's coordinates. Returns how many were kept.
int32_t SplitRun(const TDIB& piece, TRect (&pieces)[kMaxRunPieces], int32_t speck_w,
                 int32_t speck_h, int32_t min_w, int32_t min_h, int32_t max_w, int32_t max_h);

// The four passes, in the order the driver runs them. Neighbours, built on List after
// qualification, answers their questions for nearest blobs, and they change statuses and bounds
// through it. A pass returns false when the classifier said the work budget was spent: it
// stops there, and what it placed stays.
void QualifyBlobs(TBlobList& list, const TScaledSizes& s);
bool CandidatePass(TBlobList& list, const TDIB& image, const TScaledSizes& s,
                   const TGlyphClassifier& classify, TLineModel& lines,
                   TBlobNeighbours& neighbours);
bool RunPass(TBlobList& list, const TDIB& image, const TScaledSizes& s,
             const TGlyphClassifier& classify, TLineModel& lines, TBlobNeighbours& neighbours);
bool FragmentPass(TBlobList& list, const TDIB& image, const TScaledSizes& s,
                  const TGlyphClassifier& classify, TLineModel& lines, TBlobNeighbours& neighbours);

}  // namespace ocrb

#endif  // OCRB_ENGINE_PASSES_H_
