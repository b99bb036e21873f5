// The ADALINE unit and network: wiring, the sign unit, its learning step, inputs and the
// ADALINE stream.
#include "neural/adaline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/stream.h"

namespace ocrb {
namespace {

std::vector<uint8_t> Saved(const TADALINENetwork& network) {
  TMemoryStream out;
  network.SaveToStream(out);
  return out.Bytes();
}

TEST(ADALINENetwork, WiresEveryInputAndTheBiasToTheUnitInTableOrder) {
  for (int inputs : {0, 1, 5}) {
    TADALINENetwork network(inputs, 0.5);
    const int n = inputs + 2;
    ASSERT_EQ(network.NodeCount(), n);
    ASSERT_EQ(network.LinkCount(), n - 1);
    EXPECT_EQ(network.InputCount(), inputs);
    TBaseNode& unit = network.GetNode(n - 1);
    EXPECT_NE(dynamic_cast<TBiasNode*>(&network.GetNode(n - 2)), nullptr);
    EXPECT_NE(dynamic_cast<TADALINENode*>(&unit), nullptr);
    EXPECT_EQ(unit.GetValue(1), 0.5);  // learning rate handed to the unit
    unit.InLinks().First();
    for (int j = 0; j < n - 1; ++j, unit.InLinks().Next()) {
      TBaseLink& link = network.GetLink(j);
      EXPECT_EQ(unit.InLinks().Current(), &link);
      EXPECT_EQ(link.GetSourceNode(), &network.GetNode(j));
      EXPECT_EQ(link.GetDestNode(), &unit);
      EXPECT_GE(link.GetValue(0), -1.0);
      EXPECT_LT(link.GetValue(0), 1.0);
    }
  }
  EXPECT_THROW(TADALINENetwork(-1), AssertionFailure);
  EXPECT_THROW(TADALINENetwork(2, 1.5), AssertionFailure);
}

// Two inputs and the bias with hand-set weights: the unit computes sign(x0 w0 + x1 w1 + b).
TEST(ADALINENetwork, RunComputesTheSignOfTheWeightedSum) {
  TADALINENetwork network(2, 0.25);
  network.GetLink(0).SetValue(0, 0.5);
  network.GetLink(1).SetValue(0, 0.5);
  network.GetLink(2).SetValue(0, -0.75);  // bias: fires only when both inputs are on (AND)
  EXPECT_EQ(TADALINENode().Transfer(0.0), -1.0);
  EXPECT_EQ(TADALINENode().Transfer(1e-300), 1.0);
  const double truth[4][3] = {{0, 0, -1}, {0, 1, -1}, {1, 0, -1}, {1, 1, 1}};
  for (const auto& row : truth) {
    network.SetInput(0, row[0]);
    network.SetInput(1, row[1]);
    network.Run();
    EXPECT_EQ(network.GetValue(99), row[2]);  // the index plays no part
  }
}

TEST(ADALINENetwork, LearnMovesEachWeightAgainstTheOutputUntilAStepIsTooLarge) {
  TADALINENetwork network(2, 0.25);
  for (int j = 0; j < 3; ++j) network.GetLink(j).SetValue(0, 0.125);
  network.SetInput(0, 0.5);
  network.SetInput(1, 1.0);
  network.Run();
  ASSERT_EQ(network.GetValue(0), 1.0);
  network.Learn();  // error -2; steps x * 0.25 * -2
  TBaseNode& unit = network.GetNode(3);
  EXPECT_EQ(unit.GetError(0), -2.0);
  EXPECT_EQ(network.GetLink(0).GetValue(0), 0.125 - 0.25);
  EXPECT_EQ(network.GetLink(1).GetValue(0), 0.125 - 0.5);
  EXPECT_EQ(network.GetLink(2).GetValue(0), 0.125 - 0.5);  // bias input 1.0

  // With rate 1.0 the second step, 1.0 x 1.0 x 2.0, is out of range: the first stays made.
  TADALINENetwork steep(2, 1.0);
  for (int j = 0; j < 3; ++j) steep.GetLink(j).SetValue(0, -0.25);
  steep.SetInput(0, 0.25);
  steep.SetInput(1, 1.0);
  steep.Run();
  ASSERT_EQ(steep.GetValue(0), -1.0);
  EXPECT_THROW(steep.Learn(), AssertionFailure);
  EXPECT_EQ(steep.GetLink(0).GetValue(0), -0.25 + 0.5);
  EXPECT_EQ(steep.GetLink(1).GetValue(0), -0.25);
}

TEST(ADALINENetwork, InputsAreCheckedAgainstTheInputNodes) {
  TADALINENetwork network(3);
  EXPECT_THROW(network.SetInput(3, 0.0), AssertionFailure);  // the bias node is no input
  EXPECT_THROW(network.SetInput(-1, 0.0), AssertionFailure);
  EXPECT_THROW(network.SetInput(0, 1.5), AssertionFailure);
  EXPECT_THROW(network.SetInputs(TPattern(0, 1)), AssertionFailure);
  EXPECT_THROW(network.SetInputs(TPattern(4, 0)), AssertionFailure);
  network.SetInput(2, 0.75);
  const double two[] = {0.5, -0.5};
  network.SetInputs(TPattern(2, 0, 0, two, {}));
  EXPECT_EQ(network.GetNode(0).GetValue(0), 0.5);
  EXPECT_EQ(network.GetNode(1).GetValue(0), -0.5);
  EXPECT_EQ(network.GetNode(2).GetValue(0), 0.75);  // beyond the pattern: untouched
  TADALINENetwork empty;
  EXPECT_THROW(empty.Run(), AssertionFailure);
  EXPECT_THROW(empty.GetValue(0), AssertionFailure);
}

TEST(ADALINEStream, RecordsHaveTheirSizesAndRoundTripByteForByte) {
  TADALINENetwork network(3, 0.5);
  network.SetInput(1, 1.0);
  network.Run();
  const std::vector<uint8_t> bytes = Saved(network);
  // ID, NodeCount, LinkCount; 4 records of 28 bytes, one of 36, 4 links of 20.
  ASSERT_EQ(bytes.size(), 12u + 4 * 28 + 36 + 4 * 20);
  int32_t fields[3];
  std::memcpy(fields, &bytes[12 + 4 * 28 + 36 + 12], 8);  // link 0: source and dest IDs
  EXPECT_EQ(fields[0], network.GetNode(0).GetID());
  EXPECT_EQ(fields[1], network.GetNode(4).GetID());

  TADALINENetwork loaded;
  TReadOnlyMemoryStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  loaded.LoadFromStream(in);
  EXPECT_EQ(Saved(loaded), bytes);
  EXPECT_EQ(loaded.GetID(), network.GetID());
  loaded.Run();
  EXPECT_EQ(loaded.GetValue(0), network.GetValue(0));
}

TEST(ADALINEStream, CountsThatDoNotFitTheWiringAreRefused) {
  const std::vector<uint8_t> good = Saved(TADALINENetwork(2));
  struct Case {
    int32_t node_count, link_count;
  } cases[] = {{1, 0}, {-4, -5}, {4, 4}, {4, 2}, {400, 399}};
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = good;
    std::memcpy(&bytes[4], &c.node_count, 4);
    std::memcpy(&bytes[8], &c.link_count, 4);
    TADALINENetwork network(1);
    const std::vector<uint8_t> before = Saved(network);
    TReadOnlyMemoryStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
    EXPECT_THROW(network.LoadFromStream(in), NetworkStreamError) << c.node_count;
    EXPECT_EQ(Saved(network), before);
  }
}

}  // namespace
}  // namespace ocrb
