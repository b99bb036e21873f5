// The recognition driver. The caller's bitmap is wrapped without copying and duplicated
// once; all work happens on that private copy. Non-square pixels are squared by repeating
// rows or columns up to the larger resolution, the size parameters (stated for 200 dpi) are
// scaled to the working resolution, and the 8-connected components go through the four
// passes. Rectangles are mapped back to the caller's grid at the end.
#include "engine/read.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "classify/classifier.h"
#include "engine/cells.h"
#include "engine/lines.h"
#include "engine/strokes.h"
#include "image/blobs.h"
#include "image/dib.h"
#include "platform/error.h"

namespace ocrb {
namespace {

// Bitmaps stating no resolution, or a screen resolution, are read as 200 dpi.
constexpr int32_t kScreenResolution = 96;
constexpr int32_t kDefaultResolution = 200;

int32_t RoundToInt(long double x) {
  if (!(std::fabs(x) < 2147483647.0L)) throw Error("Image too large");
  return static_cast<int32_t>(std::nearbyint(x));
}

// The size of the working image once pixels of Width x Height at XRes x YRes dpi are
// squared at the larger resolution; refuses sizes past the limit. Worked out from the header
// alone, before anything of that size is allocated.
struct TWorkingSize {
  int32_t Width;
  int32_t Height;
};
TWorkingSize WorkingSize(int32_t width, int32_t height, int32_t x_res, int32_t y_res) {
  if (int64_t{width} * height > kMaxWorkingPixels) throw Error("Image too large");
  if (x_res == y_res) return {width, height};
  // One resolution stated and the other 0 (or negative) gives no ratio to work with.
  if (x_res <= 0 || y_res <= 0) throw Error("Invalid DIB resolution");
  const int32_t m = std::max(x_res, y_res);
  const int32_t w = RoundToInt(static_cast<long double>(int64_t{width} * m) / x_res);
  const int32_t h = RoundToInt(static_cast<long double>(int64_t{height} * m) / y_res);
  if (int64_t{w} * h > kMaxWorkingPixels) throw Error("Image too large");
  return {w, h};
}

// Squares the pixels of Work, whose resolutions differ, at the larger of the two.
void SquarePixels(TDIB& work, int32_t x_res, int32_t y_res) {
  const TWorkingSize size = WorkingSize(work.Width(), work.Height(), x_res, y_res);
  work.Resize(size.Width, size.Height, false);
  const int32_t m = std::max(x_res, y_res);
  work.SetXResolution(m);
  work.SetYResolution(m);
}

}  // namespace

int64_t QuestionCost(const TRect& rect) {
  const int64_t w = std::abs(int64_t{rect.Right} - rect.Left) + 1;
  const int64_t h = std::abs(int64_t{rect.Bottom} - rect.Top) + 1;
  return kQuestionBaseCost + w * h;
}

int64_t WorkBudget(int64_t working_pixels) {
  return kWorkBudgetFloor + kWorkBudgetPerPixel * working_pixels;
}

TReadWork RecognizeBitmap(TEngineContext& context, TReadStorage& storage, platform::HGlobal dib,
                          bool single_line, const TReadOptions& options) {
  const TParameters& parameters = context.Parameters;
  const TReadTuning& tuning = options.Tuning;
  TDIB* const work = &context.WorkImage;
  {
    // The wrapper never owns the caller's block: releasing it only unlocks.
    TDIB wrapper;
    wrapper.SetOwnsHandle(false);
    wrapper.LoadFromHandle(dib);
    // Refused from the header, before the copy and before squaring can blow it up.
    WorkingSize(wrapper.Width(), wrapper.Height(), wrapper.XResolution(), wrapper.YResolution());
    wrapper.DuplicateInto(*work);
  }
  work->SetTrailingBits();
  if (work->BitCount() != 1) throw Error("Invalid DIB BitCount...");

  const int32_t x_res0 = work->XResolution();
  const int32_t y_res0 = work->YResolution();
  // The caller's grid, which every rectangle handed back lies in.
  const int32_t last_column = static_cast<int32_t>(work->Width()) - 1;
  const int32_t last_row = static_cast<int32_t>(work->Height()) - 1;
  if (x_res0 != y_res0) SquarePixels(*work, x_res0, y_res0);
  int32_t resolution = work->XResolution();
  if (resolution <= kScreenResolution) resolution = kDefaultResolution;
  const TScaledSizes sizes = ScaleSizes(parameters, resolution);

  TBlobList blobs;
  work->FindBlobs(true, 1, 1, 4, &blobs, &storage.Labelling);
  QualifyBlobs(blobs, sizes);
  // Where thin print has fallen apart, the pieces are labelled joined; they are still read
  // on the working image, as printed.
  if (tuning.JoinStrokes && JoinBrokenStrokes(*work, sizes.MaxCharWidth, sizes.MaxCharHeight, blobs,
                                              &storage.Labelling)) {
    QualifyBlobs(blobs, sizes);
  }

  const TClassifierSettings settings{parameters.UseTemplates, parameters.MaxPasses};
  TReadWork done;
  done.Budget = WorkBudget(int64_t{work->Width()} * work->Height());
  TAnswerCache& answers = storage.Answers;
  answers.clear();
  // Every question is charged before it is answered (answers taken from the table of this
  // read's answers too, so that the charge does not depend on how reads are tuned); the first
  // one past the budget is refused, and the passes end there.
  const TGlyphClassifier classifier = [&](const TGlyphQuery& query, char& ch, double& confidence) {
    const int64_t cost = QuestionCost(query.Rect);
    if (done.Spent + cost > done.Budget) {
      done.BudgetSpent = true;
      return false;
    }
    done.Spent += cost;
    ++done.Questions;
    if (options.Answer != nullptr) {
      (*options.Answer)(query, ch, confidence);
      return true;
    }
    if (!tuning.ReuseAnswers) {
      ClassifyGlyph(context.Model, settings, query.Image, query.Rect, ch, confidence);
      return true;
    }
    // The same rectangle of the same image gets the same answer; fragment groups and merges
    // often ask again.
    const TAnswerKey key{query.ImageId, query.Rect};
    const auto known = answers.find(key);
    if (known != answers.end()) {
      ch = known->second.Ch;
      confidence = known->second.Confidence;
      return true;
    }
    ClassifyGlyph(context.Model, settings, query.Image, query.Rect, ch, confidence);
    answers.emplace(key, TAnswer{ch, confidence});
    return true;
  };
  // Looking at a cell costs its pixels, as a question does.
  const std::function<bool(int64_t)> charge = [&](int64_t pixels) {
    if (done.Spent + pixels > done.Budget) {
      done.BudgetSpent = true;
      return false;
    }
    done.Spent += pixels;
    return true;
  };
  TResultStore& store = context.Results();
  ClearResults(store);
  // The passes file characters into a model of lines, which goes to the store once finished.
  TLineModel lines;
  lines.FollowSlope = tuning.LinesFollowSlope;
  // Cells about one character tall: a nearest blob is usually in the home cell or the next.
  TBlobNeighbours neighbours(blobs, sizes.MaxCharHeight);
  try {
    // A pass that ran out of budget leaves what it placed, and the blobs not yet read unread.
    if (CandidatePass(blobs, *work, sizes, classifier, lines, neighbours) &&
        RunPass(blobs, *work, sizes, classifier, lines, neighbours) &&
        FragmentPass(blobs, *work, sizes, classifier, lines, neighbours) && tuning.ReadCells) {
      TCellWork cells;
      ReadLineCells(lines, *work, classifier, charge, &cells);
      done.CellsRead = cells.CellsRead;
      done.CellChars = cells.CharsPlaced;
    }
    if (parameters.InsertSpaces != 0) InsertLineSpaces(lines, sizes.SpaceWidth);
    FinishLines(TRect{0, 0, static_cast<int32_t>(work->Width()) - 1,
                      static_cast<int32_t>(work->Height()) - 1},
                lines, single_line);
  } catch (...) {
    // A read that fails leaves the store as far as it had got.
    CopyToStore(lines, store);
    throw;
  }
  CopyToStore(lines, store);

  if (x_res0 != y_res0) {
    const long double x_scale = work->XResolution();
    const long double y_scale = work->YResolution();
    // Rounding halves to even can carry the last row or column of the working image one past
    // the caller's last (row 2H - 1 of a doubled image of H rows is H - 0.5): such an edge is
    // held to the grid.
    auto back = [](int32_t value, int32_t res0, long double res, int32_t last) {
      const auto mapped = static_cast<int32_t>(
          std::nearbyint(static_cast<long double>(int64_t{value} * res0) / res));
      return std::clamp(mapped, 0, last);
    };
    for (int32_t l = 0; l < store.LineCount; ++l) {
      TResultLine& line = store.Lines[l];
      for (int k = 0; k < line.Text.Length; ++k) {
        TRect& r = line.Rects[k];
        r = TRect{
            back(r.Left, x_res0, x_scale, last_column), back(r.Top, y_res0, y_scale, last_row),
            back(r.Right, x_res0, x_scale, last_column), back(r.Bottom, y_res0, y_scale, last_row)};
      }
    }
  }
  return done;
}

}  // namespace ocrb
