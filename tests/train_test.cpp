// The model trainer: rendering, the views it learns from, a few training steps, the three
// files it writes; and the embedded model on glyphs the trainer never saw.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "classify/classifier.h"
#include "engine/handles.h"
#include "image/packed_dib.h"
#include "neural/backprop.h"
#include "ocrb.h"
#include "platform/stream.h"
#include "tools/train/dense.h"
#include "tools/train/glyphs.h"
#include "tools/train/harvest.h"
#include "tools/train/model_files.h"
#include "tools/train/pages.h"

namespace ocrb::train {
namespace {

const GlyphMaker& Maker() {
  static const GlyphMaker maker(DefaultFontPath("OCRB.otf"), DefaultFontPath("OCRBS.otf"));
  return maker;
}

TEST(Render, DigitsStandAtTheRequestedHeightOnATenPerInchPitch) {
  Font font(DefaultFontPath("OCRB.otf"));
  TextStyle style;
  style.XDpi = style.YDpi = 300;
  style.DigitHeightMm = 2.54;  // 30 pixels at 300 dpi
  std::vector<TRect> boxes;
  const InkImage ink = Binarise(font.RenderLine("10 8", style, 2, &boxes), 0.5f);
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_NEAR(boxes[1].Bottom - boxes[1].Top + 1, 30, 1.5);
  EXPECT_GT(boxes[2].Left, boxes[2].Right);  // the space has no ink
  // Character cells are 30 pixels apart: "0" and "8" are two cells apart.
  EXPECT_NEAR((boxes[3].Left + boxes[3].Right) / 2.0 - (boxes[1].Left + boxes[1].Right) / 2.0, 60,
              1.5);
  const TRect all = InkBounds(ink, TRect{0, 0, ink.Width - 1, ink.Height - 1});
  EXPECT_LE(all.Left, boxes[0].Left + 1);
}

TEST(TrainingData, ViewsAreTheClassifiersOwnPasses) {
  std::mt19937_64 random(5);
  const RenderedGlyph glyph = Maker().Render(8, GlyphRecipe{}, random);
  const std::vector<GlyphView> views = GlyphMaker::Views(glyph);
  ASSERT_EQ(views.size(), 8u);
  // Pass 1 is the plain glyph: the same inputs the engine's extraction gives.
  TGlyphInputs pattern;
  ExtractGlyphPattern(*glyph.Image, TRect{0, 0, 0, 0}, false, pattern);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(views[0].Inputs[i], pattern[static_cast<size_t>(i)]) << i;
  // Thinning leaves less ink than the plain pass.
  auto ink = [](const GlyphView& v) {
    int n = 0;
    for (uint8_t x : v.Inputs) n += x;
    return n;
  };
  EXPECT_LT(ink(views[2]), ink(views[0]));
}

TEST(Trainer, LearnsAndWritesFilesTheEngineReads) {
  std::mt19937_64 random(11);
  std::vector<GlyphView> views;
  for (int n = 0; n < 6; ++n)
    for (int c = 0; c < kClassCount; ++c)
      for (const GlyphView& v : GlyphMaker::Views(Maker().Render(c, GlyphRecipe{}, random)))
        if (v.Pass <= 2) views.push_back(v);
  std::vector<Sample> samples;
  for (const GlyphView& v : views) {
    Sample e;
    e.Inputs = v.Inputs;
    e.Class = static_cast<int8_t>(v.Class);
    samples.push_back(e);
  }
  // A few all-paper inputs teach "not a character".
  for (int n = 0; n < 20; ++n) samples.push_back(Sample{});
  DenseNet net(32, kClassCount, 3);
  TrainOptions options;
  options.Epochs = 150;
  options.LearningRate = 0.5;
  options.LearningRateDecay = 0.99;
  options.Verbose = false;
  const TrainReport report = net.Train(samples, options);
  EXPECT_GT(report.TrainingAccuracy, 0.9);

  // The stored network computes what the dense one does, within single precision.
  const std::vector<uint8_t> bytes = NetworkStream(net, views[0].Inputs);
  EXPECT_EQ(bytes.size(), 28 + 256 * 28 + (32 + 15) * 44 + 12 * (256 * 32 + 32 * 15u));
  TBackpropNetwork stored;
  TReadOnlyMemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  stored.LoadFromStream(stream);
  TPattern pattern(256, 15);
  for (int i = 0; i < 256; ++i) pattern.SetInput(i, views[37].Inputs[i]);
  stored.SetInputs(pattern);
  stored.Run();
  std::vector<float> hidden(32), outputs(15);
  net.Forward(views[37].Inputs.data(), hidden.data(), outputs.data());
  EXPECT_EQ(std::max_element(outputs.begin(), outputs.end()) - outputs.begin(), views[37].Class);
  for (int k = 0; k < 15; ++k) EXPECT_NEAR(stored.GetOutput(k), outputs[k], 1e-4);
  EXPECT_EQ(stored.GetNode(stored.FirstOutput()).GetValue(1), 0.45);

  // Template counts: ink + paper is the class's glyph count at every cell.
  std::vector<const GlyphView*> pointers;
  for (const GlyphView& v : views) pointers.push_back(&v);
  const std::vector<uint8_t> counts = TemplateCountsBytes(pointers);
  ASSERT_EQ(counts.size(), 32768u);
  auto count = [&](int plane, int slot, int cell) {
    int32_t v;
    std::memcpy(&v, &counts[((plane * 16 + slot) * 256 + cell) * 4], 4);
    return v;
  };
  for (int k = 0; k < 16; ++k)
    for (int n = 0; n < 256; n += 17) EXPECT_EQ(count(0, k, n) + count(1, k, n), k < 15 ? 12 : 0);

  // Profiles 1 and 2 of a class hold the same total ink.
  const std::vector<uint8_t> profiles = ClassProfilesBytes(pointers);
  ASSERT_EQ(profiles.size(), 11520u);
  double rows = 0, columns = 0;
  for (int b = 0; b < 16; ++b) {
    double v1, v2;
    std::memcpy(&v1, &profiles[((3 * 16 + b) * 6 + 0) * 8], 8);
    std::memcpy(&v2, &profiles[((3 * 16 + b) * 6 + 1) * 8], 8);
    rows += v1;
    columns += v2;
  }
  EXPECT_NEAR(rows, columns, 1e-12);
  EXPECT_GT(rows, 0.1);
}

TEST(Labels, WholeGlyphsAreTheirClassAnythingElseIsNotACharacter) {
  // Two glyphs on a 20-pixel pitch (200 dpi).
  const std::vector<TrueGlyph> glyphs = {{'7', TRect{10, 10, 21, 29}},
                                         {'+', TRect{30, 13, 41, 26}}};
  const struct {
    TRect query;
    int label;
  } cases[] = {
      {{10, 10, 21, 29}, 7},     // exactly the glyph
      {{11, 11, 20, 28}, 7},     // a thin print of it
      {{8, 9, 23, 31}, 7},       // a bold print of it
      {{31, 14, 40, 25}, 10},    // the "+"
      {{10, 10, 41, 29}, -1},    // both glyphs touching
      {{10, 10, 21, 18}, -1},    // the top half of the "7"
      {{10, 10, 33, 29}, -1},    // the "7" and part of the "+"
      {{100, 10, 104, 14}, -1},  // a speck far away
      {{4, 2, 27, 37}, -1},      // the "7" inside far more than itself
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LabelQuery(c.query, glyphs, 20.0), c.label)
        << c.query.Left << "," << c.query.Top << "," << c.query.Right << "," << c.query.Bottom;
  }
}

// A recipe without blur, grey noise, specks or skew; the tests set what else they need.
PageRecipe Sharp() {
  PageRecipe r;
  r.MaxBlur = 0.35;
  r.MaxNoise = 0;
  r.MaxSpecks = 0;
  r.MaxAngleDeg = 0;
  return r;
}

TEST(Pages, TrueBoxesHoldTheInkOfACleanPage) {
  PageMaker maker(DefaultFontPath("OCRB.otf"), DefaultFontPath("OCRBS.otf"));
  PageRecipe clean = Sharp();
  clean.MaxThinning = clean.MaxWeight = 1.0;
  clean.MinThreshold = clean.MaxThreshold = 0.5;
  clean.HalfHeightShare = 0;
  std::mt19937_64 random(3);
  const SynthPage page = maker.Make(clean, random);
  ASSERT_FALSE(page.Glyphs.empty());
  // Read it: every character but the small ones the passes cannot see is found where its box
  // says.
  OCRB_HANDLE handle = nullptr;
  ASSERT_EQ(OCRB_Init("", "", &handle), OCRB_STATUS_OK);
  TEngineContext& context = *ContextOf(handle);
  std::vector<Sample> samples;
  std::vector<GlyphView> plain;
  HarvestStats stats;
  const uint32_t ppm = page.Dib[24] | page.Dib[25] << 8;
  Harvest(context, page,
          static_cast<int32_t>(std::lround(ppm / static_cast<double>(layout::kPelsPerMeterPerDpi))),
          false, samples, plain, stats);
  EXPECT_GE(stats.Positives[qkCandidate], stats.Queries[qkCandidate] * 9 / 10);
  EXPECT_LE(stats.Errors, stats.Characters / 10);
  EXPECT_FALSE(samples.empty());
  EXPECT_EQ(OCRB_Done(handle), OCRB_STATUS_OK);
}

// Heavily degraded pages thin the strokes by up to the recipe's greatest thinning and bold
// them by up to its greatest weight, each on its own: on the same random draws, more thinning
// leaves less ink, and a greater weight more.
TEST(Pages, StrokeWeightSpansTheRecipesRange) {
  PageMaker maker(DefaultFontPath("OCRB.otf"), DefaultFontPath("OCRBS.otf"));
  auto ink = [&](double max_thinning, double max_weight) {
    PageRecipe r = Sharp();
    r.ExtraHeavyShare = 1;
    r.MaxThinning = max_thinning;
    r.MaxWeight = max_weight;
    r.MinThreshold = 0.3;
    r.MaxThreshold = 0.5;
    std::mt19937_64 random(21);
    int64_t count = 0;
    for (int p = 0; p < 12; ++p) {
      const SynthPage page = maker.Make(r, random);
      // Colour-table entry 0 black: bit 0 is ink; else bit 1 is.
      const bool zero_is_ink = page.Dib[40] == 0 && page.Dib[41] == 0 && page.Dib[42] == 0;
      for (size_t i = 48; i < page.Dib.size(); ++i) {
        const int ones = __builtin_popcount(page.Dib[i]);
        count += zero_is_ink ? 8 - ones : ones;
      }
    }
    return count;
  };
  const int64_t usual = ink(1.4, 1.4);
  EXPECT_LT(ink(2.0, 1.4), usual);
  EXPECT_GT(ink(1.4, 1.8), usual);
}

// Ordinary text: set by each glyph's own advance, placed around the OCR-B lines, never part
// of the truth, so that what the passes ask about on it is "not a character".
const std::string kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

TEST(Render, ProportionalTextAdvancesByEachGlyph) {
  Font font(kDejaVu);
  TextStyle style;
  style.XDpi = style.YDpi = 300;
  style.Proportional = true;
  std::vector<TRect> boxes;
  font.RenderLine("iiWW", style, 2, &boxes);
  ASSERT_EQ(boxes.size(), 4u);
  const int narrow = boxes[1].Left - boxes[0].Left;
  const int wide = boxes[3].Left - boxes[2].Left;
  EXPECT_GT(narrow, 0);
  EXPECT_GT(wide, 2 * narrow);
  EXPECT_LT(boxes[1].Right, boxes[2].Left);  // no overlap between neighbours
  style.Proportional = false;                // on the fixed pitch every cell is 30 pixels
  font.RenderLine("iiWW", style, 2, &boxes);
  EXPECT_NEAR((boxes[3].Left + boxes[3].Right) / 2.0 - (boxes[0].Left + boxes[0].Right) / 2.0, 90,
              1.5);
}

TEST(Pages, OrdinaryTextIsAskedAboutAsNotACharacterAndNeverInTheTruth) {
  const PageMaker maker(DefaultFontPath("OCRB.otf"), DefaultFontPath("OCRBS.otf"), {kDejaVu});
  PageRecipe recipe = Sharp();
  recipe.MaxThinning = recipe.MaxWeight = 1.0;
  recipe.MinThreshold = recipe.MaxThreshold = 0.5;
  recipe.HalfHeightShare = 0;
  recipe.OtherTextShare = 1;
  recipe.OtherBesideShare = 1;
  std::mt19937_64 random(11);
  const SynthPage page = maker.Make(recipe, random);
  std::mt19937_64 again(11);
  EXPECT_EQ(maker.Make(recipe, again).Dib, page.Dib) << "same seed, same page";
  for (const std::string& line : page.Lines)
    EXPECT_EQ(line.find_first_not_of(std::string(kAlphabet) + " "), std::string::npos) << line;

  OCRB_HANDLE handle = nullptr;
  ASSERT_EQ(OCRB_Init("", "", &handle), OCRB_STATUS_OK);
  TEngineContext& context = *ContextOf(handle);
  std::vector<Sample> samples;
  std::vector<GlyphView> plain;
  HarvestStats stats;
  const uint32_t ppm = page.Dib[24] | page.Dib[25] << 8;
  Harvest(context, page,
          static_cast<int32_t>(std::lround(ppm / static_cast<double>(layout::kPelsPerMeterPerDpi))),
          false, samples, plain, stats);
  // Every OCR-B character is still a candidate of its class, and the words around them are
  // candidates too, labelled as no character.
  EXPECT_GE(stats.Positives[qkCandidate], static_cast<int64_t>(page.Glyphs.size()) * 9 / 10);
  EXPECT_GE(stats.Queries[qkCandidate] - stats.Positives[qkCandidate], 20);
  EXPECT_TRUE(
      std::any_of(samples.begin(), samples.end(), [](const Sample& s) { return s.Class < 0; }));
  EXPECT_EQ(OCRB_Done(handle), OCRB_STATUS_OK);

  // A maker without other faces draws no ordinary text whatever the recipe asks.
  const PageMaker plain_maker(DefaultFontPath("OCRB.otf"), DefaultFontPath("OCRBS.otf"));
  PageRecipe none = recipe;
  none.OtherTextShare = 0;
  std::mt19937_64 first(11), second(11);
  EXPECT_EQ(plain_maker.Make(recipe, first).Dib, plain_maker.Make(none, second).Dib);
}

// The embedded model on glyphs drawn with a seed the trainer never used.
TEST(EmbeddedModel, NamesFreshGlyphs) {
  OCRB_HANDLE handle = nullptr;
  ASSERT_EQ(OCRB_Init("", "", &handle), OCRB_STATUS_OK);
  TEngineContext& context = *ContextOf(handle);
  std::mt19937_64 random(424242);
  std::vector<RenderedGlyph> glyphs;
  for (int n = 0; n < 20; ++n)
    for (int c = 0; c < kClassCount; ++c)
      glyphs.push_back(Maker().Render(c, GlyphRecipe{}, random));
  for (int templates = 0; templates <= 1; ++templates) {
    const TClassifierSettings settings{templates, context.Parameters.MaxPasses};
    int right = 0;
    for (const RenderedGlyph& g : glyphs) {
      char ch = 0;
      double confidence = 0;
      ClassifyGlyph(context.Model, settings, *g.Image,
                    TRect{0, 0, static_cast<int32_t>(g.Image->Width()) - 1,
                          static_cast<int32_t>(g.Image->Height()) - 1},
                    ch, confidence);
      right += ch == kAlphabet[g.Class];
    }
    const double share = static_cast<double>(right) / glyphs.size();
    EXPECT_GE(share, templates ? 0.95 : 0.99) << (templates ? "templates" : "network");
  }
  EXPECT_EQ(OCRB_Done(handle), OCRB_STATUS_OK);
}

}  // namespace
}  // namespace ocrb::train
