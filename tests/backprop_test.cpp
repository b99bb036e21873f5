// The back-propagation network: shape and wiring, the logistic, the forward pass against an
// independent evaluation, the learning step against a numerical gradient, momentum, and
// learning real tasks.
#include "neural/backprop.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>
#include <vector>

#include "neural/pattern.h"

namespace ocrb {
namespace {

TEST(BackpropNetwork, ShapeGivesCountsAndTableBoundaries) {
  struct Case {
    std::vector<int32_t> sizes;
    int nodes, links, first_hidden, first_output;
  } cases[] = {
      {{256, 64, 15}, 335, 17344, 256, 320},
      {{256, 128, 15}, 399, 34688, 256, 384},
      {{2, 3}, 5, 6, 2, 2},  // no hidden layer: the inputs feed the outputs
      {{4, 3, 2, 1}, 10, 20, 4, 9},
  };
  for (const Case& c : cases) {
    TBackpropNetwork network(static_cast<int32_t>(c.sizes.size()), 0.45, 0.9, c.sizes);
    EXPECT_EQ(network.NodeCount(), c.nodes);
    EXPECT_EQ(network.LinkCount(), c.links);
    EXPECT_EQ(network.FirstHidden(), c.first_hidden);
    EXPECT_EQ(network.FirstOutput(), c.first_output);
    EXPECT_EQ(network.LayerCount(), static_cast<int32_t>(c.sizes.size()));
    EXPECT_EQ(network.LayerSize(1), c.sizes[1]);
    for (int i = c.first_hidden; i < c.nodes; ++i) {
      const bool output = i >= c.first_output;
      EXPECT_EQ(dynamic_cast<TBPMiddleNode*>(&network.GetNode(i)) == nullptr, output) << i;
      EXPECT_EQ(network.GetNode(i).GetValue(1), 0.45);
      EXPECT_EQ(network.GetNode(i).GetValue(2), 0.9);
    }
  }
  // Only the first LayerCount sizes count.
  EXPECT_EQ(TBackpropNetwork(2, 0.1, 0.1, {3, 2, 99}).NodeCount(), 5);
}

TEST(BackpropNetwork, ConstructionRefusesShapesItCannotBuild) {
  EXPECT_THROW(TBackpropNetwork(1, 0.1, 0.1, {3}), AssertionFailure);
  EXPECT_THROW(TBackpropNetwork(3, 0.1, 0.1, {3, 2}), AssertionFailure);
  EXPECT_THROW(TBackpropNetwork(2, 0.1, 0.1, {3, 0}), AssertionFailure);
  EXPECT_THROW(TBackpropNetwork(2, 0.1, 0.1, {-3, 2}), AssertionFailure);
  // 2^32 links do not fit the 32-bit counts; refused before anything is allocated.
  EXPECT_THROW(TBackpropNetwork(2, 0.1, 0.1, {65536, 65536}), AssertionFailure);
}

// Every link of the engine's shape joins the nodes its table index names: pair 0 is
// t x 256 + s (input s to hidden t), pair 1 is 32768 + t x 128 + s (hidden s to output t).
TEST(BackpropNetwork, WiringOfTheEngineShapeIsDestinationMajor) {
  TBackpropNetwork network(3, 0.45, 0.9, {256, 128, 15});
  EXPECT_EQ(network.GetLink(255).GetSourceNode(), &network.GetNode(255));
  EXPECT_EQ(network.GetLink(255).GetDestNode(), &network.GetNode(256));
  EXPECT_EQ(network.GetLink(32768).GetSourceNode(), &network.GetNode(256));
  EXPECT_EQ(network.GetLink(32768).GetDestNode(), &network.GetNode(384));
  for (int k = 0; k < network.LinkCount(); ++k) {
    const bool first_pair = k < 32768;
    const int local = first_pair ? k : k - 32768;
    const int width = first_pair ? 256 : 128;
    const int source = (first_pair ? 0 : 256) + local % width;
    const int dest = (first_pair ? 256 : 384) + local / width;
    ASSERT_EQ(network.GetLink(k).GetSourceNode(), &network.GetNode(source)) << k;
    ASSERT_EQ(network.GetLink(k).GetDestNode(), &network.GetNode(dest)) << k;
  }
  // In-links of a unit run in source order, out-links of a node in destination order.
  TBaseNode& hidden7 = network.GetNode(263);
  hidden7.InLinks().First();
  for (int s = 0; s < 256; ++s, hidden7.InLinks().Next()) {
    ASSERT_EQ(hidden7.InLinks().Current()->GetSourceNode(), &network.GetNode(s));
  }
  hidden7.OutLinks().First();
  for (int t = 0; t < 15; ++t, hidden7.OutLinks().Next()) {
    ASSERT_EQ(hidden7.OutLinks().Current()->GetDestNode(), &network.GetNode(384 + t));
  }
}

TEST(Logistic, KnownValuesSaturationWithoutFloatingPointFlagsAndThePlainFormula) {
  TBPNode node(1, 1);
  EXPECT_EQ(node.Transfer(0.0), 0.5);
  volatile double far = 800.0;
  std::feclearexcept(FE_ALL_EXCEPT);
  const double high = node.Transfer(far);
  const double low = node.Transfer(-far);
  EXPECT_EQ(std::fetestexcept(FE_OVERFLOW | FE_UNDERFLOW | FE_DIVBYZERO | FE_INVALID), 0);
  EXPECT_EQ(high, 1.0);
  EXPECT_EQ(low, 0.0);
  // The shortcuts at both ends give exactly what 1 / (1 + e^-x) gives.
  std::vector<double> xs = {36.9,
                            37.0,
                            37.1,
                            -709.78,
                            -709.79,
                            -710.0,
                            -710.5,
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity()};
  for (double x = -760.0; x <= 760.0; x += 0.37) xs.push_back(x);
  for (double x : xs) ASSERT_EQ(Logistic(x), 1.0 / (1.0 + std::exp(-x))) << x;
}

std::vector<double> Glyph() {
  std::vector<double> inputs(256, 0.0);
  for (int y = 2; y < 14; ++y) {
    for (int x = 4; x < 12; ++x) inputs[static_cast<size_t>(y * 16 + x)] = (x + y) % 3 ? 1.0 : 0.0;
  }
  return inputs;
}

// An evaluation of the 256-128-15 network from its link table alone, summing each unit's inputs
// in source order in Double: the contract any faster forward path must meet to the bit.
TEST(BackpropNetwork, ForwardPassMatchesATableDrivenEvaluationToTheBit) {
  SeedRandomWeights(99);
  TBackpropNetwork network(3, 0.45, 0.9, {256, 128, 15});
  const std::vector<double> inputs = Glyph();
  network.SetInputs(TPattern(256, 15, 0, inputs, std::vector<double>(15, 0.0)));
  network.Run();
  std::vector<double> hidden(128);
  for (int t = 0; t < 128; ++t) {
    double sum = 0.0;
    for (int s = 0; s < 256; ++s) sum += inputs[s] * network.GetLink(t * 256 + s).Weight();
    hidden[t] = Logistic(sum);
    ASSERT_EQ(network.GetNode(256 + t).GetValue(0), hidden[t]) << t;
  }
  for (int t = 0; t < 15; ++t) {
    double sum = 0.0;
    for (int s = 0; s < 128; ++s) sum += hidden[s] * network.GetLink(32768 + t * 128 + s).Weight();
    ASSERT_EQ(network.GetOutput(t), Logistic(sum)) << t;
    ASSERT_EQ(network.GetValue(t), network.GetOutput(t));
  }
  EXPECT_THROW(network.GetOutput(15), AssertionFailure);
  EXPECT_THROW(network.GetOutput(-1), AssertionFailure);
}

TEST(BPLink, MomentumReachesBackOneBareStep) {
  struct Case {
    double momentum, after_two;
  } cases[] = {{0.0, 0.4375}, {0.5, 0.5}, {0.25, 0.46875}};
  for (const Case& c : cases) {
    TInputNode source(1);
    TBPOutputNode dest(3, 0.45, c.momentum, 1);
    TBPLink link(2);
    link.SetValue(0, 0.25);
    source.LinkTo(dest, link);
    link.UpdateWeight(0.125);  // previous step 0.0: the plain delta rule
    EXPECT_EQ(link.GetValue(0), 0.375);
    link.UpdateWeight(0.0625);  // w + s1 + s2 + m x s1
    EXPECT_EQ(link.GetValue(0), c.after_two) << c.momentum;
    EXPECT_EQ(link.GetValue(1), 0.0625);  // the bare step, without its momentum term
  }
  EXPECT_THROW(TBPLink(1), AssertionFailure);
  EXPECT_THROW(TBPOutputNode(2, 0.1, 0.1, 1), AssertionFailure);
}

TEST(BPOutputNode, DeltaIsZeroAtASaturatedOutputAndTheTargetCellTurnsIntoTheDelta) {
  for (double output : {0.0, 1.0}) {
    TBackpropNetwork network(2, 0.45, 0.9, {1, 1});
    network.SetInput(0, 1.0);
    network.GetNode(1).SetValue(0, output);
    const double weight = network.GetLink(0).Weight();
    network.SetTarget(0, 0.3);
    network.Learn();
    EXPECT_EQ(network.GetError(0), 0.0) << output;
    EXPECT_EQ(network.GetLink(0).Weight(), weight) << output;
  }
  TBackpropNetwork network(2, 0.45, 0.9, {2, 1});
  network.SetInput(0, 0.5);
  network.Run();
  network.SetTarget(0, 0.7);
  EXPECT_EQ(network.GetError(0), 0.7);
  network.Learn();
  const double o = network.GetOutput(0);
  EXPECT_DOUBLE_EQ(network.GetError(0), o * (1.0 - o) * (0.7 - o));
  EXPECT_THROW(network.SetTarget(0, 1.5), AssertionFailure);
  EXPECT_THROW(network.SetTarget(1, 0.5), AssertionFailure);
}

double HalfSquaredError(TBackpropNetwork& network, const std::vector<double>& targets) {
  network.Run();
  double error = 0.0;
  for (size_t k = 0; k < targets.size(); ++k) {
    const double d = targets[k] - network.GetOutput(static_cast<int32_t>(k));
    error += 0.5 * d * d;
  }
  return error;
}

// With a tiny learning rate and no momentum, each link's step divided by the rate is the
// negative gradient of half the squared error, which central differences measure directly.
TEST(BackpropNetwork, LearningStepFollowsTheNumericalGradient) {
  constexpr double kRate = 1e-6, kH = 1e-5;
  SeedRandomWeights(3);
  TBackpropNetwork network(3, kRate, 0.0, {3, 3, 2});
  const double inputs[] = {0.3, -0.7, 1.0};
  const std::vector<double> targets = {0.2, 0.9};
  TPattern pattern(3, 2, 0, inputs, targets);
  network.SetInputs(pattern);
  std::vector<double> gradient, before;
  for (int k = 0; k < network.LinkCount(); ++k) {
    TBaseLink& link = network.GetLink(k);
    const double w = link.Weight();
    before.push_back(w);
    link.SetValue(0, w + kH);
    const double up = HalfSquaredError(network, targets);
    link.SetValue(0, w - kH);
    const double down = HalfSquaredError(network, targets);
    link.SetValue(0, w);
    gradient.push_back((up - down) / (2 * kH));
  }
  network.Run();
  network.SetTargets(pattern);
  network.Learn();
  for (int k = 0; k < network.LinkCount(); ++k) {
    const double step = (network.GetLink(k).Weight() - before[static_cast<size_t>(k)]) / kRate;
    EXPECT_NEAR(step, -gradient[static_cast<size_t>(k)], 1e-6 + 1e-4 * std::fabs(gradient[k])) << k;
  }
}

// A hidden unit's delta is read through weights its destinations have already moved.
TEST(BackpropNetwork, HiddenDeltasUseTheOutputWeightsOfThisPass) {
  SeedRandomWeights(5);
  TBackpropNetwork network(3, 0.9, 0.0, {2, 2, 2});
  network.SetInput(0, 1.0);
  network.SetInput(1, -1.0);
  network.Run();
  std::vector<double> before;
  for (int k = 0; k < network.LinkCount(); ++k) before.push_back(network.GetLink(k).Weight());
  network.SetTarget(0, 1.0);
  network.SetTarget(1, -1.0);
  network.Learn();
  for (int h = 0; h < 2; ++h) {
    const double o = network.GetNode(2 + h).GetValue(0);
    double moved = 0.0, old = 0.0;
    for (int t = 0; t < 2; ++t) {
      const int k = 4 + t * 2 + h;
      moved += network.GetError(t) * network.GetLink(k).Weight();
      old += network.GetError(t) * before[static_cast<size_t>(k)];
    }
    const double delta = network.GetNode(2 + h).GetError(0);
    EXPECT_DOUBLE_EQ(delta, (1.0 - o) * o * moved) << h;
    EXPECT_GT(std::fabs(delta - (1.0 - o) * o * old), 1e-6) << h;
  }
}

// Online training with the engine's rate and momentum learns XOR (inputs x, y and a constant
// 1.0 standing in for a bias) and the linearly separable AND, with a fixed seed.
TEST(BackpropNetwork, LearnsXorAndALinearlySeparableSet) {
  struct Task {
    const char* name;
    std::vector<int32_t> sizes;
    double targets[4];
  } tasks[] = {{"xor", {3, 4, 1}, {0.1, 0.9, 0.9, 0.1}}, {"and", {3, 1}, {0.1, 0.1, 0.1, 0.9}}};
  const double inputs[4][3] = {{0, 0, 1}, {0, 1, 1}, {1, 0, 1}, {1, 1, 1}};
  for (const Task& task : tasks) {
    SeedRandomWeights(4);
    TBackpropNetwork network(static_cast<int32_t>(task.sizes.size()), 0.45, 0.9, task.sizes);
    auto worst_miss = [&] {
      double worst = 0.0;
      for (int p = 0; p < 4; ++p) {
        for (int i = 0; i < 3; ++i) network.SetInput(i, inputs[p][i]);
        network.Run();
        worst = std::max(worst, std::fabs(network.GetOutput(0) - task.targets[p]));
      }
      return worst;
    };
    // Every output within 0.2 of its target: on the right side of 0.5 with a margin. AND
    // cannot meet 0.1 and 0.9 exactly with one logistic unit, XOR can come close.
    constexpr double kGoal = 0.2;
    const double untrained = worst_miss();
    for (int epoch = 0; epoch < 5000 && worst_miss() > kGoal; ++epoch) {
      for (int p = 0; p < 4; ++p) {
        network.SetInputs(TPattern(3, 1, p, inputs[p], std::span(&task.targets[p], 1)));
        network.Run();
        network.SetTargets(TPattern(3, 1, p, inputs[p], std::span(&task.targets[p], 1)));
        network.Learn();
      }
    }
    EXPECT_GT(untrained, kGoal) << task.name;
    EXPECT_LE(worst_miss(), kGoal) << task.name;
  }
}

// A network inside a graph takes its inputs from the links entering it and its targets from
// the error cells of the nodes it feeds; it then behaves exactly like its twin driven directly.
TEST(BackpropNetwork, NestedInAGraphItGathersInputsAndTargetsThroughItsLinks) {
  SeedRandomWeights(11);
  TBackpropNetwork nested(3, 0.45, 0.9, {2, 2, 1});
  SeedRandomWeights(11);
  TBackpropNetwork direct(3, 0.45, 0.9, {2, 2, 1});
  TInputNode a(1), b(1);
  TBaseNode sink(1, 1);
  TBaseLink la(1), lb(1), out(1);
  a.SetValue(0, 0.75);
  b.SetValue(0, -0.25);
  sink.SetError(0, 0.8);
  nested.Connect(a, nested, la);
  nested.Connect(b, nested, lb);
  nested.Connect(nested, sink, out);
  direct.SetInput(0, 0.75);
  direct.SetInput(1, -0.25);
  for (int round = 0; round < 3; ++round) {
    nested.Run();
    direct.Run();
    EXPECT_EQ(out.SourceValue(0), direct.GetOutput(0));  // the network presents its output
    nested.Learn();
    direct.SetTarget(0, 0.8);
    direct.Learn();
  }
  for (int k = 0; k < direct.LinkCount(); ++k) {
    EXPECT_EQ(nested.GetLink(k).Weight(), direct.GetLink(k).Weight()) << k;
  }
}

TEST(BackpropNetwork, InputsAndTargetsComeFromPatternsWithinTheLayerSizes) {
  TBackpropNetwork network(3, 0.45, 0.9, {4, 3, 2});
  EXPECT_THROW(network.SetInputs(TPattern(0, 2)), AssertionFailure);
  EXPECT_THROW(network.SetInputs(TPattern(5, 2)), AssertionFailure);
  EXPECT_THROW(network.SetTargets(TPattern(4, 1)), AssertionFailure);  // too few outputs
  EXPECT_THROW(network.SetInput(4, 0.0), AssertionFailure);            // a hidden unit
  EXPECT_THROW(network.LayerSize(3), AssertionFailure);
  const double two[] = {1.0, 1.0};
  network.SetInput(2, 0.5);
  network.SetInputs(TPattern(2, 0, 0, two, {}));
  EXPECT_EQ(network.GetNode(1).GetValue(0), 1.0);
  EXPECT_EQ(network.GetNode(2).GetValue(0), 0.5);  // beyond the pattern: untouched
  TBackpropNetwork empty;
  EXPECT_NO_THROW(empty.Run());
  EXPECT_NO_THROW(empty.Learn());
  EXPECT_THROW(empty.GetOutput(0), AssertionFailure);
}

}  // namespace
}  // namespace ocrb
