// The classifier: the pass loop (order, early stop, ties, MaxPasses), what each pass does to
// the glyph, the network and template recognisers with hand-made models, IndexToChar.
#include "classify/classifier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dib_test_util.h"
#include "neural/backprop.h"
#include "neural/pattern.h"
#include "platform/error.h"
#include "platform/stream.h"

namespace ocrb {
namespace {

using testing_util::FromArt;

// A glyph-like picture: a ring two pixels thick, 12 x 18.
std::unique_ptr<TDIB> Ring() {
  std::vector<std::string> art(18, std::string(12, '.'));
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 12; ++x)
      if (x < 2 || x >= 10 || y < 2 || y >= 16) art[y][x] = '#';
  return FromArt(art);
}

int InkOf(const TDIB& image) {
  int ink = 0;
  for (uint32_t y = 0; y < image.Height(); ++y)
    for (uint32_t x = 0; x < image.Width(); ++x)
      ink += image.GetPixel(static_cast<int32_t>(x), static_cast<int32_t>(y)) == image.BlackIndex();
  return ink;
}

// Runs the pass loop with scripted results: pass P answers Script[P - 1].
struct Scripted {
  struct Answer {
    int32_t cls;
    double score;
  };
  std::vector<Answer> script;
  std::vector<int> ink_seen;
  std::vector<bool> trim_seen;
  char ch = 0;
  double confidence = -1;

  void Run(int32_t max_passes, const TDIB& image) {
    const TRect rect{0, 0, static_cast<int32_t>(image.Width()) - 1,
                     static_cast<int32_t>(image.Height()) - 1};
    ClassifyGlyphPasses(
        max_passes, image, rect,
        [&](const TDIB& working, bool trim, int32_t& best, double& score) {
          const size_t pass = ink_seen.size();
          ink_seen.push_back(InkOf(working));
          trim_seen.push_back(trim);
          const Answer a = pass < script.size() ? script[pass] : Answer{-1, 0.0};
          best = a.cls;
          score = a.score;
        },
        ch, confidence);
  }
};

TEST(ClassifyPasses, MaxPassesOutsideOneToEightMeansEight) {
  auto glyph = Ring();
  for (int32_t n : {0, -3, 9, 1000, 8}) {
    Scripted s;
    s.Run(n, *glyph);
    EXPECT_EQ(s.ink_seen.size(), 8u) << n;
    EXPECT_EQ(s.ch, '~');
    EXPECT_EQ(s.confidence, 0.0);
  }
  Scripted one;
  one.Run(1, *glyph);
  EXPECT_EQ(one.ink_seen.size(), 1u);
  EXPECT_FALSE(one.trim_seen[0]);
}

TEST(ClassifyPasses, EachPassStartsFromTheGlyphAndAppliesItsPreprocessing) {
  auto glyph = Ring();
  Scripted s;
  s.Run(8, *glyph);
  const int plain = InkOf(*glyph);
  ASSERT_EQ(s.ink_seen.size(), 8u);
  EXPECT_EQ(s.ink_seen[0], plain);
  EXPECT_EQ(s.ink_seen[1], plain);  // the plain glyph again, trimmed
  EXPECT_LT(s.ink_seen[2], plain);  // thinned
  EXPECT_EQ(s.ink_seen[3], s.ink_seen[2]);
  EXPECT_GT(s.ink_seen[4], s.ink_seen[2]);  // thinned, then dilated
  EXPECT_GT(s.ink_seen[6], plain);          // dilated
  EXPECT_EQ(s.ink_seen[7], s.ink_seen[6]);
  for (int p = 0; p < 8; ++p) EXPECT_EQ(s.trim_seen[p], p % 2 == 1) << "pass " << p + 1;
}

// The loop goes on from the previous pass's image where it can; every pass must still see,
// pixel for pixel, what preparing it from a fresh copy gives. Random glyphs of many shapes
// and sizes (thinning and dilation both change them), in both colour-table orders.
TEST(ClassifyPasses, PassesGoingOnFromTheirPredecessorSeeWhatAFreshCopyGives) {
  std::mt19937 random(17);
  for (int trial = 0; trial < 300; ++trial) {
    const int w = 1 + static_cast<int>(random() % 30), h = 1 + static_cast<int>(random() % 30);
    const double density = 0.2 + 0.6 * (random() % 100) / 100.0;
    std::vector<std::string> art(h, std::string(w, '.'));
    for (auto& row : art)
      for (char& c : row) c = (random() % 1000) < density * 1000 ? '#' : '.';
    auto image = FromArt(art, trial % 2 == 1);
    const TRect rect{0, 0, w - 1, h - 1};
    std::vector<std::vector<int32_t>> seen;
    std::vector<bool> trims;
    char ch = 0;
    double confidence = 0;
    ClassifyGlyphPasses(
        8, *image, rect,
        [&](const TDIB& working, bool trim, int32_t& best, double& score) {
          std::vector<int32_t> pixels;
          for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) pixels.push_back(working.GetPixel(x, y));
          seen.push_back(pixels);
          trims.push_back(trim);
          best = -1;
          score = 0;
        },
        ch, confidence);
    ASSERT_EQ(seen.size(), 8u);
    TDIB fresh;
    fresh.NewImage(w, h, kFormat1Bit, 200, 200);
    for (int32_t pass = 1; pass <= 8; ++pass) {
      const bool trim = PrepareGlyphPass(*image, rect, pass, fresh);
      std::vector<int32_t> pixels;
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) pixels.push_back(fresh.GetPixel(x, y));
      EXPECT_EQ(seen[static_cast<size_t>(pass - 1)], pixels)
          << "trial " << trial << " pass " << pass;
      EXPECT_EQ(trims[static_cast<size_t>(pass - 1)], trim);
    }
  }
}

TEST(ClassifyPasses, EarlyStopTiesAndTheBestOverThePasses) {
  auto glyph = Ring();
  struct Case {
    std::vector<Scripted::Answer> script;
    char ch;
    double confidence;
    size_t passes;
  } cases[] = {
      {{{3, 0.9}}, '3', 0.9, 1},                          // exactly 0.9 stops at once
      {{{3, 0.89}, {5, 0.2}}, '3', 0.89, 8},              // 0.89 goes on
      {{{1, 0.70}, {2, 0.85}, {3, 0.95}}, '3', 0.95, 3},  // pass 4 never runs
      {{{8, 0.80}, {3, 0.80}}, '8', 0.80, 8},             // a tie does not replace
      {{{8, 0.80}, {3, 0.60}, {4, 0.5}}, '8', 0.80, 8},   // the best, not the last
      {{{-1, 0.99}, {14, 0.3}}, '#', 0.3, 8},             // no class, no candidate
      {{{2, 0.0}}, '~', 0.0, 8},                          // zero never beats the start
  };
  for (const Case& c : cases) {
    Scripted s;
    s.script = c.script;
    s.Run(8, *glyph);
    EXPECT_EQ(s.ch, c.ch);
    EXPECT_EQ(s.confidence, c.confidence);
    EXPECT_EQ(s.ink_seen.size(), c.passes);
  }
}

TEST(IndexToChar, AlphabetOrderAndRefusalOutside) {
  EXPECT_EQ(IndexToChar(0), '0');
  EXPECT_EQ(IndexToChar(10), '+');
  EXPECT_EQ(IndexToChar(14), '#');
  for (int32_t i : {15, -1}) {
    try {
      IndexToChar(i);
      FAIL();
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "No IndexToChar...");
    }
  }
}

struct Counts {
  int32_t c[2][kTemplateClassSlots][kGridCells] = {};
};

TEST(ClassifyByTemplates, ScoresAgreementAndRanksTiesByClass) {
  auto counts = std::make_unique<Counts>();
  TGlyphGrid grid{};
  for (int n = 0; n < 128; ++n) grid.Cells[n] = 1;  // left half ink
  // Class 4: 10 glyphs, all ink on the left half, all paper on the right: perfect agreement.
  // Classes 6 and 2: identical tables of 10 glyphs, half of them agreeing at every cell but
  // one cell of each plane, which lies where the grid disagrees.
  for (int n = 0; n < 256; ++n) {
    counts->c[0][4][n] = n < 128 ? 10 : 0;
    counts->c[1][4][n] = n < 128 ? 0 : 10;
    for (int k : {6, 2}) {
      counts->c[0][k][n] = n == 200 ? 10 : 5;
      counts->c[1][k][n] = n == 50 ? 10 : 5;
    }
  }
  TClassScore ranking[kClassCount];
  ClassifyByTemplates(grid, counts->c, ranking);
  EXPECT_EQ(ranking[0].Class, 4);
  EXPECT_DOUBLE_EQ(ranking[0].Score, 1.0);
  EXPECT_EQ(ranking[1].Class, 2);
  EXPECT_EQ(ranking[2].Class, 6);
  EXPECT_DOUBLE_EQ(ranking[1].Score, 0.5);
  for (int i = 3; i < kClassCount; ++i) EXPECT_EQ(ranking[i].Score, 0.0);

  // A white glyph scores the paper share alone: (255 * 5 + 10) / 10 / 256 for classes 2 and
  // 6, 128 / 256 for class 4.
  TGlyphGrid white{};
  ClassifyByTemplates(white, counts->c, ranking);
  EXPECT_EQ(ranking[0].Class, 2);
  EXPECT_DOUBLE_EQ(ranking[0].Score, 128.5 / 256);
  EXPECT_EQ(ranking[2].Class, 4);
  EXPECT_DOUBLE_EQ(ranking[2].Score, 0.5);
}

TEST(ClassifyByTemplates, EmptyTableGivesTheRejectCharacter) {
  TModel model;
  auto glyph = Ring();
  char ch = 0;
  double confidence = -1;
  ClassifyGlyph(model, TClassifierSettings{1, 8}, *glyph, TRect{0, 0, 11, 17}, ch, confidence);
  EXPECT_EQ(ch, '~');
  EXPECT_EQ(confidence, 0.0);
}

// The stream of a 256-1-15 network whose weights are set in the stream: the hidden unit
// outputs 0.5 for every glyph, and output K gets weight OutputWeights[K].
std::vector<uint8_t> HandMadeNetwork(const std::vector<double>& output_weights) {
  TBackpropNetwork shape(3, 0.45, 0.9, {256, 1, 15});
  TMemoryStream stream;
  shape.SaveToStream(stream);
  std::vector<uint8_t> bytes = stream.Bytes();
  const size_t links = 28 + 256 * 28 + 16 * 44;
  for (int s = 0; s < 256; ++s) {
    const double zero = 0.0;
    std::memcpy(&bytes[links + 12 * s + 4], &zero, 8);
  }
  for (int t = 0; t < 15; ++t)
    std::memcpy(&bytes[links + 12 * (256 + t) + 4], &output_weights[t], 8);
  return bytes;
}

// Loads Bytes into Model, which keeps its own copy.
void LoadInto(TModel& model, const std::vector<uint8_t>& bytes) {
  TReadOnlyMemoryStream source(bytes.data(), static_cast<int64_t>(bytes.size()));
  model.LoadNetwork(source);
}

TEST(ClassifyGlyph, NetworkOutputsPickTheStrictlyLargestLowestClass) {
  TModel model;
  const TClassifierSettings settings;
  auto glyph = Ring();
  const TRect rect{0, 0, 11, 17};
  char ch = 0;
  double confidence = -1;

  // Outputs 9 and 12 tie at the top: 9 wins. logistic(0.5 * 10) < 0.9, so all 8 passes run.
  std::vector<double> weights(15, 1.0);
  weights[9] = weights[12] = 2.0;
  LoadInto(model, HandMadeNetwork(weights));
  ClassifyGlyph(model, settings, *glyph, rect, ch, confidence);
  EXPECT_EQ(ch, '9');
  EXPECT_DOUBLE_EQ(confidence, 1.0 / (1.0 + std::exp(-1.0)));

  // Every output exactly 0 (sum -1000): nothing is named.
  LoadInto(model, HandMadeNetwork(std::vector<double>(15, -2000.0)));
  ClassifyGlyph(model, settings, *glyph, rect, ch, confidence);
  EXPECT_EQ(ch, '~');
  EXPECT_EQ(confidence, 0.0);
}

}  // namespace
}  // namespace ocrb
