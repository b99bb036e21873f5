// The classifier copies the glyph into a private 1-bit working image and tries up to eight
// preprocessing passes on fresh copies of it: plain, thinned, thinned then dilated, and
// dilated, each without and then with trimming of a ragged first and last row. A pass that
// would make the image its predecessor left (the trimmed passes; pass 5 from pass 3's thinned
// glyph) goes on from it rather than from a fresh copy, with the same result. The first
// pass whose best confidence reaches 0.9 ends the search, so the costly passes only run for
// glyphs the cheap ones left in doubt. The result is the best over the passes tried; a
// later pass must beat it strictly to replace it.
#include "classify/classifier.h"

#include "classify/glyph.h"
#include "image/dib.h"
#include "platform/error.h"

namespace ocrb {
namespace {

// What each pass does to the working image before recognition.
enum class Preprocess { kNone, kThin, kThinDilate, kDilate };

Preprocess PreprocessOfPass(int pass) {
  static constexpr Preprocess kByPass[kMaxPassCount] = {
      Preprocess::kNone,       Preprocess::kNone,       Preprocess::kThin,   Preprocess::kThin,
      Preprocess::kThinDilate, Preprocess::kThinDilate, Preprocess::kDilate, Preprocess::kDilate};
  return kByPass[pass - 1];
}

}  // namespace

char IndexToChar(int32_t index) {
  if (index < 0 || index >= kClassCount) throw Error("No IndexToChar...");
  return kAlphabet[index];
}

void ClassifyByTemplates(const TGlyphGrid& grid,
                         const int32_t (&counts)[2][kTemplateClassSlots][kGridCells],
                         TClassScore (&ranking)[kClassCount]) {
  for (int32_t k = 0; k < kClassCount; ++k) {
    const int32_t* ink = counts[0][k];
    const int32_t* paper = counts[1][k];
    int32_t max_ink = 0;
    int32_t max_paper = 0;
    for (int n = 0; n < kGridCells; ++n) {
      max_ink = std::max(max_ink, ink[n]);
      max_paper = std::max(max_paper, paper[n]);
    }
    max_ink = std::max(max_ink, 1);
    max_paper = std::max(max_paper, 1);
    double ink_score = 0;
    double paper_score = 0;
    for (int n = 0; n < kGridCells; ++n) {
      const int32_t g = grid.Cells[n];
      ink_score += static_cast<double>(int64_t{g} * ink[n]) / max_ink;
      paper_score += static_cast<double>(int64_t{g == 0 ? 1 : 0} * paper[n]) / max_paper;
    }
    ranking[k] = TClassScore{k, (ink_score + paper_score) / 256};
  }
  // Exchange sort, descending; a strict comparison keeps the lower class first on a tie.
  for (int i = 0; i < kClassCount - 1; ++i) {
    for (int j = i + 1; j < kClassCount; ++j) {
      if (ranking[j].Score > ranking[i].Score) std::swap(ranking[i], ranking[j]);
    }
  }
}

bool PrepareGlyphPass(const TDIB& image, const TRect& rect, int32_t pass, TDIB& working) {
  // A fresh copy every pass: grey 0..127 becomes the black entry, 128..255 the white one.
  working.CopyGrayFrom(image, rect.Left, rect.Top);
  const Preprocess preprocess = PreprocessOfPass(pass);
  if (preprocess == Preprocess::kThin || preprocess == Preprocess::kThinDilate) working.Thin();
  if (preprocess == Preprocess::kThinDilate || preprocess == Preprocess::kDilate) working.Dilate(1);
  return pass % 2 == 0;
}

bool AdvanceGlyphPass(const TDIB& image, const TRect& rect, int32_t pass, TDIB& working) {
  switch (pass) {
    case 1:
    case 3:
    case 7:
      return PrepareGlyphPass(image, rect, pass, working);
    case 5:
      // Pass 3's thinned glyph, which pass 4 did not change, dilated.
      working.Dilate(1);
      return false;
    default:
      // The even passes read their predecessor's image, trimmed.
      return true;
  }
}

void ClassifyGlyphPasses(int32_t max_passes, const TDIB& image, const TRect& rect,
                         const TPassRecogniser& recognise, char& ch, double& confidence,
                         TDIB* scratch) {
  const int32_t w = rect.Right - rect.Left + 1;
  const int32_t h = rect.Bottom - rect.Top + 1;
  TDIB temporary;
  TDIB& working = scratch != nullptr ? *scratch : temporary;
  working.NewImage(w, h, kFormat1Bit, image.XResolution(), image.YResolution());

  ch = kRejectChar;
  confidence = 0.0;
  int32_t passes = max_passes;
  if (passes <= 0 || passes > kMaxPassCount) passes = kMaxPassCount;
  for (int32_t pass = 1; pass <= passes; ++pass) {
    const bool trim_edges = AdvanceGlyphPass(image, rect, pass, working);
    int32_t best = -1;
    double score = 0.0;
    recognise(working, trim_edges, best, score);
    if (best >= 0 && score > confidence) {
      ch = IndexToChar(best);
      confidence = score;
    }
    if (confidence >= kEarlyStopConfidence) break;
  }
}

void ClassifyGlyph(TModel& model, const TClassifierSettings& settings, const TDIB& image,
                   const TRect& rect, char& ch, double& confidence) {
  const TRect whole{0, 0, 0, 0};  // an empty rectangle selects the whole working image
  if (settings.UseTemplates != 0) {
    ClassifyGlyphPasses(
        settings.MaxPasses, image, rect,
        [&](const TDIB& working, bool trim_edges, int32_t& best, double& score) {
          TGlyphGrid grid;
          TClassScore ranking[kClassCount];
          ExtractGlyphGrid(working, whole, trim_edges, grid);
          ClassifyByTemplates(grid, model.TemplateCounts, ranking);
          best = ranking[0].Class;
          score = ranking[0].Score;
        },
        ch, confidence, &model.GlyphImage());
    return;
  }
  ClassifyGlyphPasses(
      settings.MaxPasses, image, rect,
      [&](const TDIB& working, bool trim_edges, int32_t& best, double& score) {
        ExtractGlyphPattern(working, whole, trim_edges, model.Inputs());
        model.Run();
        // Strictly greater: the lowest class wins a tie and an output <= 0 never counts.
        for (int32_t i = 0; i < kClassCount; ++i) {
          const double output = model.Output(i);
          if (output > score) {
            score = output;
            best = i;
          }
        }
      },
      ch, confidence, &model.GlyphImage());
}

}  // namespace ocrb
