// One recognition: the caller's bitmap in, the result store filled.
#ifndef OCRB_ENGINE_READ_H_
#define OCRB_ENGINE_READ_H_

#include <cstdint>
#include <functional>
#include <unordered_map>

#include "engine/context.h"
#include "engine/passes.h"
#include "image/blobs.h"
#include "ocrb.h"
#include "platform/memory.h"

namespace ocrb {

// The working image may hold at most this many pixels once its pixels are squared (a 600
// dpi A3 page has about 70 million); larger bitmaps, or resolutions that would blow a small
// bitmap up past it, are refused from the header, before anything of that size is allocated.
constexpr int64_t kMaxWorkingPixels = OCRB_MAX_WORKING_PIXELS;
static_assert(kMaxWorkingPixels == int64_t{1} << 28);

// The classification work of one read is bounded by the size of its working image, so that
// no bitmap (noise, speckle, checkerboards) costs more than a fixed time per pixel. Each
// question costs a base plus the pixels of its rectangle (what preparing the glyph passes
// costs); a read may spend the floor plus so much per working pixel. Reads of real pages
// spend a few per cent of it.
constexpr int64_t kQuestionBaseCost = 400;
constexpr int64_t kWorkBudgetFloor = int64_t{1} << 19;
constexpr int64_t kWorkBudgetPerPixel = 2;

// What a question about Rect costs, and what a read of so many working pixels may spend.
int64_t QuestionCost(const TRect& rect);
int64_t WorkBudget(int64_t working_pixels);

// How reads are carried out. The defaults are the fast forms; tests switch them off to read
// through the plain forms that the fast ones must match to the bit.
struct TReadTuning {
  bool ReuseAnswers = true;      // a question asked again within one read is not recomputed
  bool ReadCells = true;         // the empty and weak cells of lines with a grid are read whole
  bool LinesFollowSlope = true;  // a turned line's rows are taken along its slope
  bool JoinStrokes = true;       // pieces of thin print are labelled joined where they gather
};

// The classification work of a read: questions asked, what they cost and the budget they were
// charged against. BudgetSpent is set when the read stopped asking and left the rest of the
// blobs unread.
struct TReadWork {
  int64_t Questions = 0;
  int64_t Spent = 0;
  int64_t Budget = 0;
  bool BudgetSpent = false;
  int64_t CellsRead = 0;  // cells of line grids asked about
  int64_t CellChars = 0;  // characters those cells placed or replaced
};

// Answers given during one read, by image id and rectangle.
struct TAnswerKey {
  int32_t ImageId;
  TRect Rect;
  bool operator==(const TAnswerKey& o) const {
    return ImageId == o.ImageId && Rect.Left == o.Rect.Left && Rect.Top == o.Rect.Top &&
           Rect.Right == o.Rect.Right && Rect.Bottom == o.Rect.Bottom;
  }
};
struct TAnswerKeyHash {
  size_t operator()(const TAnswerKey& k) const {
    uint64_t h = static_cast<uint32_t>(k.ImageId);
    for (int32_t v : {k.Rect.Left, k.Rect.Top, k.Rect.Right, k.Rect.Bottom})
      h = (h ^ static_cast<uint32_t>(v)) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(h ^ (h >> 29));
  }
};
struct TAnswer {
  char Ch;
  double Confidence;
};
using TAnswerCache = std::unordered_map<TAnswerKey, TAnswer, TAnswerKeyHash>;

// Storage a handle keeps from one read to the next for its capacity only: the table of a
// read's answers and the labelling buffers. Each read starts them empty.
struct TReadStorage {
  TAnswerCache Answers;
  TLabelBuffers Labelling;
};

// Answers a query in place of the classifier, for tools that watch or replace what is asked.
using TGlyphAnswer = std::function<void(const TGlyphQuery& query, char& ch, double& confidence)>;

struct TReadOptions {
  TReadTuning Tuning;
  const TGlyphAnswer* Answer = nullptr;  // when given, asked instead of the model
};

// Reads the 1-bit packed DIB in Dib (never changed, never kept) into the context's result
// store with the context's parameters, and returns the work it did. Raises on any failure; a
// failure before the store is cleared leaves the previous result in place.
TReadWork RecognizeBitmap(TEngineContext& context, TReadStorage& storage, platform::HGlobal dib,
                          bool single_line, const TReadOptions& options = {});

}  // namespace ocrb

#endif  // OCRB_ENGINE_READ_H_
