// The engine context: one fixed-layout record per handle holding the model, the thirteen
// parameters and the result store. Recording a result allocates nothing; the accessors of
// the C API are plain copies out of this record.
#ifndef OCRB_ENGINE_CONTEXT_H_
#define OCRB_ENGINE_CONTEXT_H_

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "classify/model.h"
#include "image/blobs.h"
#include "image/dib.h"
#include "ocrb.h"

namespace ocrb {

constexpr int kMaxLines = OCRB_MAX_LINES;
constexpr int kMaxLineLength = OCRB_MAX_LINE_LENGTH;

// A length byte followed by room for 255 single-byte characters; Chars[0] is character 1.
struct TShortString {
  uint8_t Length = 0;
  char Chars[255] = {};

  std::string_view View() const { return std::string_view(Chars, Length); }
  // Copies at most the first 255 characters of a NUL-terminated string.
  void Assign(const char* text);
};

// One line of recognised text. Entries 0..Text.Length-1 of Confidences and Rects run
// parallel to the characters; entries past the length mean nothing.
struct TResultLine {
  TShortString Text;
  float Confidences[kMaxLineLength] = {};
  TRect Rects[kMaxLineLength] = {};
  // Union of the rectangles of the characters placed into the line by AddCharToLines.
  TRect Bounds = {};
};

// The result store: up to 255 lines, the first LineCount of them valid. Lines from Touched on
// have never been written since the store was last cleared and are all zero, so clearing only
// has to zero the lines below Touched.
struct TResultStore {
  TResultLine Lines[kMaxLines] = {};
  int32_t LineCount = 0;
  int32_t Touched = 0;
};

// How reads are carried out. The defaults are the fast forms; tests switch them off to read
// through the plain forms that the fast ones must match to the bit.
struct TReadTuning {
  bool IndexNeighbours = true;   // nearest blobs from a grid instead of a scan of the list
  bool ReuseAnswers = true;      // a question asked again within one read is not recomputed
  bool ReadCells = true;         // the empty and weak cells of lines with a grid are read whole
  bool LinesFollowSlope = true;  // a turned line's rows are taken along its slope
  bool JoinStrokes = true;       // pieces of thin print are labelled joined where they gather
};

// The classification work of the last read on a handle: questions asked, what they cost and
// the budget they were charged against. BudgetSpent is set when the read stopped asking and
// left the rest of the blobs unread.
struct TReadWork {
  int64_t Questions = 0;
  int64_t Spent = 0;
  int64_t Budget = 0;
  bool BudgetSpent = false;
  int64_t CellsRead = 0;  // cells of line grids asked about
  int64_t CellChars = 0;  // characters those cells placed or replaced
};

// Answers given during one read, by image id and rectangle; kept across reads for its
// storage and emptied at the start of each.
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

struct TEngineContext {
  // A model without a network, the store empty, every parameter 0.
  TEngineContext();

  // The network, its pattern and the tables, loaded by the model start-up (engine/model.h).
  TModel Model;

 private:
  struct FreeStore {
    void operator()(TResultStore* store) const;
  };
  // The store is one zero-filled block from the system (1.4 MB): its pages cost nothing until
  // a line is written, so a handle that reads coding lines never touches most of it.
  std::unique_ptr<TResultStore, FreeStore> result_block_;

 public:
  TResultStore& Results;  // Lines and LineCount

  TShortString Reserved1;
  TShortString Reserved2;

  TReadTuning Tuning;
  TReadWork LastRead;
  // Kept from read to read for their storage: the answers of one read, and the working image
  // (whose block a later read takes over when it is large enough and not much larger).
  TAnswerCache Answers;
  TDIB WorkImage;
  TLabelBuffers Labelling;

  uint8_t InsertSpaces = 0;  // parameter 1, one byte wide
  int32_t MaxPasses = 0;     // parameter 13
  int32_t UseTemplates = 0;  // parameter 12
  int32_t SpaceWidth = 0;    // parameters 2..11, in this order
  int32_t MinCharWidth = 0;
  int32_t MinCharHeight = 0;
  int32_t MaxCharWidth = 0;
  int32_t MaxCharHeight = 0;
  int32_t SpeckSize = 0;
  int32_t DashMinWidth = 0;
  int32_t DashMinHeight = 0;
  int32_t DashMaxWidth = 0;
  int32_t DashMaxHeight = 0;
};

// Sets the thirteen parameters to their defaults.
void SetDefaultParameters(TEngineContext& context);

// Stores Value into parameter Id (1..13); parameter 1 keeps the low 8 bits. Returns false,
// changing nothing, for any other Id.
bool SetParameter(TEngineContext& context, int32_t id, int32_t value);

}  // namespace ocrb

#endif  // OCRB_ENGINE_CONTEXT_H_
