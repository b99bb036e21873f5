// The fast forms of the engine against its plain forms, to the bit. The compiled forward pass
// (both kernels) against the object graph over many inputs: random grids of every ink count,
// all paper, all ink, and the views of rendered glyphs. Whole reads of synthetic scans and
// noise through the fast engine against the plain reference configuration (object-graph
// forward pass, nearest blobs by scanning the list, no reuse of answers).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "classify/model.h"
#include "dib_test_util.h"
#include "engine/context.h"
#include "engine/model.h"
#include "engine/read.h"
#include "engine_test_util.h"
#include "neural/backprop.h"
#include "neural/pattern.h"
#include "platform/memory.h"
#include "platform/resources.h"
#include "tools/train/glyphs.h"
#include "tools/train/pages.h"

namespace ocrb {
namespace {

// Bit patterns, so that -0.0 and 0.0 (or two NaNs) are told apart.
uint64_t Bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// Equal to the bit, or both NaN. Which NaN a sum of two NaNs gives depends on the operand
// order the compiler picks for the addition, which C++ leaves open; every NaN output is alike
// to the classifier (never above a score).
bool SameValue(double a, double b) {
  return Bits(a) == Bits(b) || (std::isnan(a) && std::isnan(b));
}

// The object graph of a network stream.
std::unique_ptr<TBackpropNetwork> Graph(const uint8_t* data, size_t size) {
  auto graph = std::make_unique<TBackpropNetwork>();
  TReadOnlyMemoryStream stream(data, static_cast<int64_t>(size));
  graph->LoadFromStream(stream);
  return graph;
}

// The model's forward pass done by the object graph of the stream the model was loaded from:
// the plain reference.
class GraphPass : public TReferencePass {
 public:
  explicit GraphPass(const TModel& model)
      : graph_(Graph(model.NetworkData(), model.NetworkSize())) {}
  void Run(const TGlyphInputs& inputs) override {
    for (size_t i = 0; i < inputs.size(); ++i)
      pattern_.SetInput(static_cast<int32_t>(i), inputs[i]);
    graph_->SetInputs(pattern_);
    graph_->Run(0);
  }
  double Output(int32_t index) const override { return graph_->GetOutput(index); }

 private:
  std::unique_ptr<TBackpropNetwork> graph_;
  TPattern pattern_{kPatternInputs, kPatternOutputs};
};

std::vector<std::array<uint8_t, 256>> ForwardInputs() {
  std::vector<std::array<uint8_t, 256>> inputs;
  std::mt19937_64 random(20261208);
  inputs.push_back({});
  std::array<uint8_t, 256> all{};
  all.fill(1);
  inputs.push_back(all);
  // Every ink count from 0 to 256, many times over, at random places (fewer under the
  // sanitizers, which slow the object graph tenfold).
#ifdef OCRB_SANITIZED
  constexpr int kRounds = 30;
#else
  constexpr int kRounds = 380;
#endif
  for (int round = 0; round < kRounds; ++round) {
    for (int ink = 0; ink <= 256; ++ink) {
      std::array<uint8_t, 256> grid{};
      std::array<int, 256> cells;
      for (int i = 0; i < 256; ++i) cells[static_cast<size_t>(i)] = i;
      std::shuffle(cells.begin(), cells.end(), random);
      for (int i = 0; i < ink; ++i) grid[static_cast<size_t>(cells[static_cast<size_t>(i)])] = 1;
      inputs.push_back(grid);
    }
  }
  // What the classifier really feeds it: the eight views of rendered glyphs.
  const train::GlyphMaker maker(train::DefaultFontPath("OCRB.otf"),
                                train::DefaultFontPath("OCRBS.otf"));
  for (int n = 0; n < 100; ++n) {
    for (int c = 0; c < 15; ++c) {
      for (const train::GlyphView& view :
           train::GlyphMaker::Views(maker.Render(c, train::GlyphRecipe{}, random)))
        inputs.push_back(view.Inputs);
    }
  }
  return inputs;
}

TEST(CompiledNetwork, EveryNodeValueMatchesTheObjectGraphToTheBit) {
  const platform::ResourceBytes net = platform::FindResourceBytes(kNetworkResource);
  const std::unique_ptr<TBackpropNetwork> owned = Graph(net.data, net.size);
  TBackpropNetwork& graph = *owned;
  // The stored form the runtime parses from the stream is the one the graph holds.
  const TStoredNetwork parsed = ParseBackpropStream(net.data, net.size);
  const std::optional<TStoredNetwork> layered = LayeredWeights(graph);
  ASSERT_TRUE(layered.has_value());
  EXPECT_EQ(layered->LayerSizes, parsed.LayerSizes);
  EXPECT_EQ(layered->InputValues, parsed.InputValues);
  EXPECT_EQ(layered->Weights, parsed.Weights);
  TCompiledNetwork compiled;
  ASSERT_TRUE(compiled.Compile(parsed));
  ASSERT_TRUE(compiled.AllWeightsFinite());
  ASSERT_EQ(compiled.UnitCount(), 143);
  const std::vector<TKernel> kernels = RunnableKernels();
  const std::vector<std::array<uint8_t, 256>> inputs = ForwardInputs();
#ifndef OCRB_SANITIZED
  ASSERT_GE(inputs.size(), 100000u);
#endif
  TPattern pattern(256, 15);
  std::vector<double> x(256);
  for (size_t n = 0; n < inputs.size(); ++n) {
    for (int i = 0; i < 256; ++i) {
      x[static_cast<size_t>(i)] = inputs[n][static_cast<size_t>(i)];
      pattern.SetInput(i, x[static_cast<size_t>(i)]);
    }
    graph.SetInputs(pattern);
    graph.Run(0);
    for (TKernel kernel : kernels) {
      compiled.Run(x.data(), 256, kernel);
      for (int node = graph.FirstHidden(); node < graph.NodeCount(); ++node) {
        ASSERT_EQ(Bits(compiled.Values()[static_cast<size_t>(node)]),
                  Bits(graph.GetNode(node).GetValue(0)))
            << "input " << n << ", node " << node << ", kernel " << static_cast<int>(kernel);
      }
    }
  }
  if (!HasAvx2()) GTEST_SKIP() << "this processor has no AVX2: only the portable kernel ran";
}

// The vector listings of the inputs a pass adds list exactly what the plain one lists: every
// value that is not 0.0 (NaN and tiny ones too, not -0.0), in order, at every length.
TEST(CompiledNetwork, EveryKernelListsTheSameInputs) {
  if (!HasAvx2()) GTEST_SKIP() << "this processor has no AVX2";
  std::vector<int32_t (*)(const double*, int32_t, int32_t*)> listings = {kernels::ListActiveAvx2};
  if (HasAvx512()) listings.push_back(kernels::ListActiveAvx512);
  const double kinds[] = {0.0, -0.0, 1.0, 0.5, -1.0, std::nan(""), 4.9e-324, -4.9e-324, HUGE_VAL};
  std::mt19937 random(7);
  std::uniform_int_distribution<size_t> pick(0, std::size(kinds) - 1);
  for (int count = 0; count <= 40; ++count) {
    for (int round = 0; round < 50; ++round) {
      std::vector<double> x(static_cast<size_t>(count));
      for (double& v : x) v = kinds[random() % 3 == 0 ? pick(random) : 0];
      std::vector<int32_t> plain(x.size() + 1, -1);
      const int32_t listed = kernels::ListActivePortable(x.data(), count, plain.data());
      for (size_t k = 0; k < listings.size(); ++k) {
        std::vector<int32_t> vector(x.size() + 1, -1);
        ASSERT_EQ(listings[k](x.data(), count, vector.data()), listed) << count << " " << k;
        EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + listed, vector.begin()))
            << count << " " << k;
      }
    }
  }
}

// Every vector kernel gives the portable kernel's bits on layers of every width, and on inputs
// that are neither 0 nor 1. Rows are padded to four doubles, so a layer of 4, 12 or 20 units
// ends in a register of which only four lanes are live, and one of 1, 7 or 15 in padded lanes;
// both the hidden layer (read from the listed inputs) and the output layer (read from every
// hidden value) take each of these widths.
TEST(CompiledNetwork, EveryKernelMatchesThePortableOneAtEveryLayerWidth) {
  const std::vector<TKernel> kernels = RunnableKernels();
  if (kernels.size() == 1) GTEST_SKIP() << "this processor has no vector kernel";
  std::mt19937 random(11);
  std::normal_distribution<double> weight(0.0, 1.5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int32_t widths[] = {1, 3, 4, 5, 8, 12, 15, 16, 20, 33, 64, 100, 128, 131, 150, 260};
  for (int32_t hidden : widths) {
    for (int32_t outputs : {1, 4, 7, 12, 15, 20, 24}) {
      TStoredNetwork stored;
      stored.LayerSizes = {37, hidden, outputs};
      stored.InputValues.assign(37, 0.0);
      for (size_t l = 0; l + 1 < stored.LayerSizes.size(); ++l) {
        stored.Weights.emplace_back(
            static_cast<size_t>(stored.LayerSizes[l] * stored.LayerSizes[l + 1]));
        for (double& w : stored.Weights.back()) w = weight(random);
      }
      TCompiledNetwork compiled;
      ASSERT_TRUE(compiled.Compile(stored));
      for (int round = 0; round < 20; ++round) {
        std::vector<double> x(37);
        for (double& v : x) {
          const double r = unit(random);
          v = r < 0.4 ? 0.0 : r < 0.8 ? 1.0 : r < 0.85 ? -0.0 : unit(random) * 2 - 1;
        }
        compiled.Run(x.data(), 37, TKernel::kPortable);
        const std::vector<double> portable = compiled.Values();
        for (TKernel kernel : kernels) {
          compiled.Run(x.data(), 37, kernel);
          for (size_t n = 0; n < portable.size(); ++n) {
            ASSERT_EQ(Bits(compiled.Values()[n]), Bits(portable[n]))
                << "hidden " << hidden << ", outputs " << outputs << ", node " << n << ", kernel "
                << static_cast<int>(kernel);
          }
        }
      }
    }
  }
}

// Changes made through the object model (a weight set, a learning step) reach a model through
// the stream they are saved to, and the model then computes what the changed graph computes.
TEST(CompiledNetwork, RunsWhatTheChangedObjectGraphSaves) {
  const platform::ResourceBytes net = platform::FindResourceBytes(kNetworkResource);
  const std::unique_ptr<TBackpropNetwork> graph = Graph(net.data, net.size);
  TModel model;
  TGlyphInputs inputs{};
  for (size_t i = 0; i < inputs.size(); i += 3) inputs[i] = 1.0;
  auto model_outputs = [&] {
    TMemoryStream stream;
    graph->SaveToStream(stream);
    TReadOnlyMemoryStream saved(stream.Bytes().data(), static_cast<int64_t>(stream.Size()));
    model.LoadNetwork(saved);
    model.Inputs() = inputs;
    model.Run();
    std::vector<double> out;
    for (int i = 0; i < 15; ++i) out.push_back(model.Output(i));
    return out;
  };
  auto graph_outputs = [&] {
    TPattern pattern(256, 15);
    for (size_t i = 0; i < inputs.size(); ++i) pattern.SetInput(static_cast<int32_t>(i), inputs[i]);
    graph->SetInputs(pattern);
    graph->Run(0);
    std::vector<double> out;
    for (int i = 0; i < 15; ++i) out.push_back(graph->GetOutput(i));
    return out;
  };
  const std::vector<double> before = graph_outputs();
  EXPECT_EQ(model_outputs(), before);

  // A weight set through the object model (from the most active hidden unit to output 7,
  // moved by at least 0.7), and a learning step.
  int32_t active = 0;
  for (int32_t h = 1; h < 128; ++h)
    if (graph->GetNode(256 + h).GetValue(0) > graph->GetNode(256 + active).GetValue(0)) active = h;
  TBaseLink& link = graph->GetLink(32768 + 7 * 128 + active);
  link.SetValue(0, std::abs(link.Weight()) > 0.7 ? 0.0 : (link.Weight() > 0 ? -1.0 : 1.0));
  const std::vector<double> changed = graph_outputs();
  EXPECT_NE(changed, before);
  EXPECT_EQ(model_outputs(), changed);
  graph->SetTargets(TPattern(256, 15));
  graph->Learn();
  const std::vector<double> learnt = graph_outputs();
  EXPECT_EQ(model_outputs(), learnt);
}

// A weight that is not finite turns the shortcuts off: 0.0 x infinity is NaN in the graph's
// sum, which skipping the paper inputs would lose. Every node then still matches the graph.
TEST(CompiledNetwork, WeightsThatAreNotFiniteRunAsTheObjectGraphRunsThem) {
  const platform::ResourceBytes net = platform::FindResourceBytes(kNetworkResource);
  const std::vector<uint8_t> embedded(net.data, net.data + net.size);
  const size_t first_link = 28 + 256 * 28 + 143 * 44;
  const double odd_weights[] = {std::nan(""), HUGE_VAL, -HUGE_VAL};
  std::mt19937 random(3);
  for (const double odd : odd_weights) {
    std::vector<uint8_t> bytes = embedded;
    // Link 0 (input 0 to hidden unit 0), and a hidden-to-output link.
    std::memcpy(&bytes[first_link + 4], &odd, 8);
    std::memcpy(&bytes[first_link + 12 * (32768 + 5 * 128 + 9) + 4], &odd, 8);
    const std::unique_ptr<TBackpropNetwork> graph = Graph(bytes.data(), bytes.size());
    TCompiledNetwork compiled;
    ASSERT_TRUE(compiled.Compile(ParseBackpropStream(bytes.data(), bytes.size())));
    EXPECT_FALSE(compiled.AllWeightsFinite());
    TModel model;
    model.LoadNetwork(bytes.data(), bytes.size());
    for (int round = 0; round < 20; ++round) {
      std::vector<double> x(256);
      for (double& v : x) v = random() % 3 == 0 ? 1.0 : 0.0;
      x[0] = round % 2;  // input 0 both paper and ink
      TPattern pattern(256, 15);
      for (int i = 0; i < 256; ++i) pattern.SetInput(i, x[static_cast<size_t>(i)]);
      graph->SetInputs(pattern);
      graph->Run(0);
      // Hidden unit 0 sums input 0 x the odd weight: NaN whenever that input is paper.
      if (x[0] == 0.0) {
        EXPECT_TRUE(std::isnan(graph->GetNode(256).GetValue(0)));
      }
      for (TKernel kernel : RunnableKernels()) {
        compiled.Run(x.data(), 256, kernel);
        for (int32_t node = graph->FirstHidden(); node < graph->NodeCount(); ++node) {
          ASSERT_TRUE(SameValue(compiled.Values()[static_cast<size_t>(node)],
                                graph->GetNode(node).GetValue(0)))
              << "weight " << odd << ", round " << round << ", node " << node;
        }
      }
      std::copy(x.begin(), x.end(), model.Inputs().begin());
      model.Run();
      for (int32_t k = 0; k < 15; ++k)
        ASSERT_TRUE(SameValue(model.Output(k), graph->GetOutput(k))) << "output " << k;
    }
  }
}

struct ReadResult {
  std::vector<std::string> text;
  std::vector<std::vector<uint32_t>> confidences;
  std::vector<std::vector<std::array<int32_t, 4>>> rects;
  bool operator==(const ReadResult&) const = default;
};

ReadResult Read(TTestEngine& engine, const std::vector<uint8_t>& dib) {
  const TResultStore& store = engine.Read(dib);
  ReadResult result;
  for (int l = 0; l < store.LineCount; ++l) {
    const TResultLine& line = store.Lines[l];
    result.text.emplace_back(line.Text.View());
    result.confidences.emplace_back();
    result.rects.emplace_back();
    for (int k = 0; k < line.Text.Length; ++k) {
      uint32_t bits;
      std::memcpy(&bits, &line.Confidences[k], 4);
      result.confidences.back().push_back(bits);
      const TRect& r = line.Rects[k];
      result.rects.back().push_back({r.Left, r.Top, r.Right, r.Bottom});
    }
  }
  return result;
}

std::unique_ptr<TTestEngine> NewContext(bool plain) {
  std::unique_ptr<TTestEngine> engine = NewTestEngine(plain);
  if (plain) {
    TModel& model = engine->Context().Model;
    model.SetReferencePass(std::make_unique<GraphPass>(model));
  }
  return engine;
}

TEST(FastEngine, ReadsExactlyAsThePlainReference) {
  std::unique_ptr<TTestEngine> fast = NewContext(false);
  std::unique_ptr<TTestEngine> portable = NewContext(false);
  portable->Context().Model.SetForwardMode(TForwardMode::kCompiledPortable);
  std::unique_ptr<TTestEngine> plain = NewContext(true);
  const train::PageMaker maker(train::DefaultFontPath("OCRB.otf"),
                               train::DefaultFontPath("OCRBS.otf"));
  std::mt19937_64 random(77);
  std::vector<std::vector<uint8_t>> images;
  for (int n = 0; n < 40; ++n) {
    train::PageRecipe recipe;
    recipe.MaxLines = 3;
    recipe.HalfHeightShare = n % 7 == 3 ? 1.0 : 0.0;
    images.push_back(maker.Make(recipe, random).Dib);
  }
  images.push_back(testing_util::NoiseDib(64, 64, 8, random));
  images.push_back(testing_util::NoiseDib(48, 80, 25, random));
  images.push_back(testing_util::NoiseDib(90, 40, 45, random));
  int characters = 0;
  for (size_t n = 0; n < images.size(); ++n) {
    const ReadResult expected = Read(*plain, images[n]);
    EXPECT_EQ(Read(*fast, images[n]), expected) << "image " << n;
    EXPECT_EQ(Read(*portable, images[n]), expected) << "image " << n;
    // What the handle keeps from earlier reads (buffers, answers) changes nothing.
    EXPECT_EQ(Read(*NewContext(false), images[n]), expected) << "image " << n;
    for (const std::string& line : expected.text) characters += static_cast<int>(line.size());
  }
  EXPECT_GT(characters, 1000);  // the set is not empty of text
}

}  // namespace
}  // namespace ocrb
