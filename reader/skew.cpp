// The finder works on the ink reduced to a half (for the search) and a quarter (for the sweep)
// by rank reduction. Each trial angle shears the reduced ink vertically about its top-left
// corner; when the shear cancels the skew, text lines lie along rows, and the sum over rows of
// the squared change of the row's ink count from the row above is at its greatest. The sweep
// finds the best whole degree; the search then tries half the step either side of the best so
// far, keeps the best of the three, and halves the step again. The confidence is the ratio of
// the best score of the search to its worst, trusted only for a page with enough ink and a
// best angle inside the sweep. These are Leptonica's skew finder and its parameters, run here
// step by step with Leptonica's shear and score so that no case prints a warning.
#include "reader/skew.h"

#include <algorithm>
#include <cmath>

namespace ocrb::reader {
namespace {

constexpr double kSweepStep = 1;
constexpr double kMinSearchStep = 0.01;
// Scores below these say nothing: too little ink, or a page nearly all ink.
constexpr float kMinValidMaxScore = 10000;
constexpr double kMinScoreFactor = 0.000002;  // times width squared times height
// Pages narrower or lower than this are read as they are: reduced four times they hold too
// few rows and columns to shear.
constexpr int kMinSide = 64;

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180;

float ShearScore(PIX* into, PIX* from, double degrees) {
  pixVShearCorner(into, from, static_cast<l_float32>(degrees * kRadiansPerDegree),
                  L_BRING_IN_WHITE);
  l_float32 sum = 0;
  pixFindDifferentialSquareSum(into, &sum);
  return sum;
}

}  // namespace

bool SkewMeasure::Level() const {
  return Valid && std::fabs(Degrees) >= kMinSkewDegrees && Confidence >= kMinSkewConfidence;
}

SkewMeasure MeasureSkew(PIX* ink) {
  SkewMeasure measure;
  if (ink == nullptr || pixGetDepth(ink) != 1) return measure;
  if (pixGetWidth(ink) < kMinSide || pixGetHeight(ink) < kMinSide) return measure;
  Pix search(pixReduceRankBinaryCascade(ink, 1, 0, 0, 0));
  if (!search) return measure;
  l_int32 empty = 1;
  if (pixZero(search.get(), &empty) != 0 || empty != 0) return measure;
  Pix sweep(pixReduceRankBinaryCascade(search.get(), 1, 0, 0, 0));
  Pix sweep_work(sweep ? pixCreateTemplate(sweep.get()) : nullptr);
  Pix search_work(pixCreateTemplate(search.get()));
  if (!sweep || !sweep_work || !search_work) return measure;

  // The sweep, in whole degrees; the best at either end of it is not a skew the sweep found.
  const int angles = static_cast<int>(2 * kSkewSweepDegrees / kSweepStep) + 1;
  int best_index = 0;
  float best = -1;
  for (int i = 0; i < angles; ++i) {
    const float score =
        ShearScore(sweep_work.get(), sweep.get(), -kSkewSweepDegrees + i * kSweepStep);
    if (score > best) {
      best = score;
      best_index = i;
    }
  }
  if (best_index == 0 || best_index == angles - 1) return measure;

  // The search, halving the step, on the half-size ink.
  double centre = -kSkewSweepDegrees + best_index * kSweepStep;
  float scores[5];
  scores[2] = ShearScore(search_work.get(), search.get(), centre);
  scores[0] = ShearScore(search_work.get(), search.get(), centre - kSweepStep);
  scores[4] = ShearScore(search_work.get(), search.get(), centre + kSweepStep);
  float least = std::min({scores[0], scores[2], scores[4]});
  for (double delta = kSweepStep / 2; delta >= kMinSearchStep; delta /= 2) {
    scores[1] = ShearScore(search_work.get(), search.get(), centre - delta);
    scores[3] = ShearScore(search_work.get(), search.get(), centre + delta);
    least = std::min({least, scores[1], scores[3]});
    int top = 1;
    for (int i = 2; i < 4; ++i) {
      if (scores[i] > scores[top]) top = i;
    }
    const float left = scores[top - 1], right = scores[top + 1], most = scores[top];
    scores[0] = left;
    scores[2] = most;
    scores[4] = right;
    centre += delta * (top - 2);
  }
  const float most = scores[2];
  const double width = pixGetWidth(search.get()), height = pixGetHeight(search.get());
  double confidence = least > kMinScoreFactor * width * width * height ? most / least : 0;
  if (centre > kSkewSweepDegrees - kSweepStep || centre < -kSkewSweepDegrees + kSweepStep ||
      most < kMinValidMaxScore) {
    confidence = 0;
  }
  measure.Valid = true;
  // The best shear is the turn that levels the page, clockwise positive: the page itself is
  // turned the other way.
  measure.Degrees = -centre;
  measure.Confidence = confidence;
  return measure;
}

}  // namespace ocrb::reader
