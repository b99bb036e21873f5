// The back-propagation network stream: layout and size, byte-exact round trips, outputs that
// survive a round trip to the bit, a hand-written stream, and every kind of malformed stream.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "neural/backprop.h"
#include "neural/compiled.h"
#include "neural/pattern.h"
#include "platform/resources.h"
#include "platform/stream.h"

namespace ocrb {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Saved(const TBackpropNetwork& network) {
  TMemoryStream out;
  network.SaveToStream(out);
  return out.Bytes();
}

void Load(TBackpropNetwork& network, const Bytes& bytes) {
  TReadOnlyMemoryStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  network.LoadFromStream(in);
}

// A trained-looking network: seeded weights, one learning step (so the previous steps and
// error cells are not zero) and a final run on a 0/1 input.
std::unique_ptr<TBackpropNetwork> Worked(const std::vector<int32_t>& sizes, uint64_t seed) {
  SeedRandomWeights(seed);
  auto network =
      std::make_unique<TBackpropNetwork>(static_cast<int32_t>(sizes.size()), 0.45, 0.9, sizes);
  for (int i = 0; i < sizes[0]; ++i) network->SetInput(i, (i * 7 + 3) % 5 < 2 ? 1.0 : 0.0);
  network->Run();
  for (int t = 0; t < sizes.back(); ++t) network->SetTarget(t, t == 0 ? 0.9 : 0.1);
  network->Learn();
  network->Run();
  return network;
}

const std::vector<std::vector<int32_t>> kShapes = {{2, 1}, {3, 2, 1}, {5, 4, 3, 2}, {256, 128, 15}};

TEST(NetworkStream, SizeFollowsTheRecordFormula) {
  for (const auto& sizes : kShapes) {
    const auto network = Worked(sizes, 1);
    int64_t inputs = sizes[0], units = 0, links = 0;
    for (size_t l = 1; l < sizes.size(); ++l) {
      units += sizes[l];
      links += int64_t{sizes[l - 1]} * sizes[l];
    }
    // 16 + 4L header, 28-byte input records, 44-byte unit records, 12-byte link records.
    const int64_t expected =
        16 + 4 * static_cast<int64_t>(sizes.size()) + inputs * 28 + units * 44 + links * 12;
    EXPECT_EQ(static_cast<int64_t>(Saved(*network).size()), expected) << sizes.size();
  }
  EXPECT_EQ(Saved(*Worked({256, 128, 15}, 2)).size(), 429744u);
}

// The engine's sequence: build 256-64-15, then load a stored 256-128-15 network over it.
TEST(NetworkStream, RoundTripGivesTheSameBytesAndOutputsToTheBit) {
  for (const auto& sizes : kShapes) {
    const auto source = Worked(sizes, 4);
    const Bytes bytes = Saved(*source);
    TBackpropNetwork loaded(3, 0.1, 0.2, {256, 64, 15});
    Load(loaded, bytes);
    EXPECT_EQ(Saved(loaded), bytes);
    EXPECT_EQ(loaded.LayerCount(), static_cast<int32_t>(sizes.size()));
    EXPECT_EQ(loaded.NodeCount(), source->NodeCount());
    EXPECT_EQ(loaded.LinkCount(), source->LinkCount());
    EXPECT_EQ(loaded.FirstHidden(), source->FirstHidden());
    EXPECT_EQ(loaded.FirstOutput(), source->FirstOutput());
    EXPECT_EQ(loaded.GetID(), source->GetID());
    for (int k = 0; k < loaded.LinkCount(); ++k) {
      ASSERT_EQ(loaded.GetLink(k).GetID(), source->GetLink(k).GetID());
      ASSERT_EQ(loaded.GetLink(k).GetValue(1), 0.0) << k;  // previous steps start afresh
    }
    for (int i = loaded.FirstHidden(); i < loaded.NodeCount(); ++i) {
      ASSERT_EQ(loaded.GetNode(i).GetValue(1), 0.45);  // the stored rate, not 0.1
      ASSERT_EQ(loaded.GetNode(i).GetValue(2), 0.9);
    }
    // The input nodes hold the last pattern: running again reproduces the stored outputs.
    loaded.Run();
    source->Run();
    for (int t = 0; t < sizes.back(); ++t) ASSERT_EQ(loaded.GetOutput(t), source->GetOutput(t));
    EXPECT_EQ(Saved(loaded), Saved(*source));
  }
}

TEST(NetworkStream, CreateFromFileReadsAStoredNetwork) {
  const auto source = Worked({3, 2, 1}, 5);
  const std::string path = ::testing::TempDir() + "backprop_stream.bin";
  {
    TFileStream out(path, TFileStream::Mode::fmCreate);
    source->SaveToStream(out);
  }
  auto loaded = TBackpropNetwork::CreateFromFile(path);
  EXPECT_EQ(Saved(*loaded), Saved(*source));
  EXPECT_EQ(loaded->GetLearningRate(), 0.0);
  EXPECT_EQ(loaded->GetMomentum(), 0.0);
  std::remove(path.c_str());
  EXPECT_THROW(TBackpropNetwork::CreateFromFile(path), Error);
}

// XOR written by hand, field by field, in the stream format with weights beyond -1..1, which only
// loading may store: h0 = x OR y, h1 = NOT (x AND y), h2 = 1 (all from inputs x, y and a constant
// 1), and the output h0 + h1 - 1.5 h2 scaled, i.e. h0 AND h1.
TEST(NetworkStream, AHandWrittenStreamComputesXor) {
  TMemoryStream out;
  auto i32 = [&](int32_t v) { out.WriteBuffer(&v, 4); };
  auto f64 = [&](double v) { out.WriteBuffer(&v, 8); };
  i32(100);  // network ID
  i32(3);
  for (int32_t size : {3, 3, 1}) i32(size);
  i32(7);
  i32(12);
  for (int i = 0; i < 3; ++i) {
    i32(200 + i), i32(1), f64(0.0), i32(1), f64(0.0);
  }
  for (int i = 3; i < 7; ++i) {
    i32(200 + i), i32(3), f64(0.0), f64(0.45), f64(0.9), i32(1), f64(0.0);
  }
  const double weights[12] = {20, 20, -10, -20, -20, 30, 0, 0, 30, 20, 20, -30};
  for (int k = 0; k < 12; ++k) i32(300 + k), f64(weights[k]);

  TBackpropNetwork network;
  Load(network, out.Bytes());
  EXPECT_EQ(network.GetID(), 100);
  EXPECT_EQ(network.GetNode(6).GetID(), 206);
  EXPECT_EQ(network.GetLink(11).GetID(), 311);
  EXPECT_EQ(Saved(network), out.Bytes());
  const double truth[4][3] = {{0, 0, 0}, {0, 1, 1}, {1, 0, 1}, {1, 1, 0}};
  for (const auto& row : truth) {
    network.SetInput(0, row[0]);
    network.SetInput(1, row[1]);
    network.SetInput(2, 1.0);
    network.Run();
    EXPECT_NEAR(network.GetOutput(0), row[2], 1e-4) << row[0] << row[1];
  }
}

// --- Malformed streams -----------------------------------------------------------------------

class MalformedStream : public ::testing::Test {
 protected:
  void SetUp() override { good_ = Saved(*Worked({3, 2, 1}, 6)); }

  // The stream with the 32-bit field at Offset replaced.
  Bytes With(size_t offset, int32_t value) const {
    Bytes bytes = good_;
    std::memcpy(&bytes[offset], &value, 4);
    return bytes;
  }

  // Loading Bytes must raise an Error whose message contains Text; when Unchanged, the network
  // must come out as it went in (a refused header, or a stream too short for its counts).
  void ExpectRefused(const Bytes& bytes, const std::string& text, bool unchanged) {
    TBackpropNetwork network(3, 0.45, 0.9, {2, 2, 2});
    const Bytes before = Saved(network);
    try {
      Load(network, bytes);
      ADD_FAILURE() << "accepted; expected: " << text;
    } catch (const Error& error) {
      EXPECT_NE(std::string(error.what()).find(text), std::string::npos) << error.what();
    }
    if (unchanged) {
      EXPECT_EQ(Saved(network), before) << text;
    }
    network.Run();  // whatever happened, the network is a sound graph
  }

  // The good stream with a second value cell, 0.125, in the first input node's record.
  Bytes WithExtraInputCell() const {
    Bytes bytes = With(28 + 4, 2);
    const double extra = 0.125;
    const auto* cell = reinterpret_cast<const uint8_t*>(&extra);
    bytes.insert(bytes.begin() + 44, cell, cell + 8);
    return bytes;
  }

  Bytes good_;  // header 28 bytes; nodes at 28 (3 x 28), 112 (3 x 44); links at 244
};

TEST_F(MalformedStream, HeadersWhoseCountsOrSizesCannotBeBuilt) {
  struct Case {
    size_t offset;  // of the 32-bit field replaced
    int32_t value;
    const char* text;
  } cases[] = {
      {4, 1, "layer count out of range"},          {4, 0, "layer count out of range"},
      {4, -1, "layer count out of range"},         {4, 1025, "layer count out of range"},
      {4, 0x7fffffff, "layer count out of range"}, {12, 0, "layer size not positive"},
      {12, -2, "layer size not positive"},         {20, 7, "node count does not match"},
      {20, -6, "node count does not match"},       {24, 9, "link count does not match"},
      {24, 5, "link count does not match"},
  };
  for (const Case& c : cases) ExpectRefused(With(c.offset, c.value), c.text, true);
  // Sizes whose link total passes 32 bits can never match a stored count.
  Bytes huge = With(8, 65536);
  std::memcpy(&huge[12], &huge[8], 4);
  ExpectRefused(huge, "node count does not match", true);
}

// Consistent counts for 1.6 billion links in a stream of a few hundred bytes: refused before
// anything is built from them.
TEST_F(MalformedStream, CountsFarBeyondTheStreamAreRefusedBeforeAllocating) {
  TMemoryStream out;
  for (int32_t field : {0, 3, 40000, 40000, 1, 80001, 1600040000}) out.WriteBuffer(&field, 4);
  out.WriteBuffer(good_.data() + 28, static_cast<int64_t>(good_.size()) - 28);
  ExpectRefused(out.Bytes(), "shorter than its counts state", true);
}

TEST_F(MalformedStream, RecordsWithFewerCellsThanTheirNodeUses) {
  ExpectRefused(With(28 + 4, 0), "fewer cells", false);   // input: no value cell
  ExpectRefused(With(112 + 4, 2), "fewer cells", false);  // unit: two value cells
  ExpectRefused(With(112 + 4, -1), "negative cell count", false);
  ExpectRefused(With(112 + 4, 0x7fffffff), "more cells than the stream holds", false);
  Bytes no_error = good_;  // the first unit's ErrorCount (after its three values) set to 0
  const int32_t zero = 0;
  std::memcpy(&no_error[112 + 8 + 24], &zero, 4);
  ExpectRefused(no_error, "fewer cells", false);
}

TEST_F(MalformedStream, EveryTruncationIsRefused) {
  for (size_t length = 0; length < good_.size(); ++length) {
    ExpectRefused(Bytes(good_.begin(), good_.begin() + static_cast<ptrdiff_t>(length)), "", true);
  }
}

TEST_F(MalformedStream, RecordsWithMoreCellsThanUsedAreKept) {
  const Bytes bytes = WithExtraInputCell();
  TBackpropNetwork network;
  Load(network, bytes);
  EXPECT_EQ(network.GetNode(0).GetValue(1), 0.125);
  EXPECT_EQ(Saved(network), bytes);
}

TEST_F(MalformedStream, ARecordThatOverrunsTheEndIsAReadError) {
  // Long enough for the minimal records the counts need, but the longer input record leaves
  // the last link record four bytes short.
  const Bytes bytes = WithExtraInputCell();
  ExpectRefused(Bytes(bytes.begin(), bytes.end() - 4), "Stream read error", false);
}

}  // namespace
}  // namespace ocrb

namespace ocrb {
namespace {

// Reading a stream straight into a compiled network must refuse exactly what building the
// object graph from it refuses, on the stored model cut short at every kind of place, with
// its header and record counts altered, and with random bytes changed; what both accept must
// compute alike.
TEST(NetworkStream, TheCompilingReaderRefusesExactlyWhatLoadingRefuses) {
  platform::ResourceBytes stored;
  ASSERT_TRUE(platform::EmbeddedResources().Find("OCRB16NET", stored));
  const Bytes original(stored.data, stored.data + stored.size);
  std::vector<Bytes> variants;
  auto cut = [&](size_t n) { variants.emplace_back(original.begin(), original.begin() + n); };
  for (size_t n = 0; n <= 64; ++n) cut(n);
  for (size_t record = 28; record < 28 + 256 * 28 + 143 * 44; record += record < 7196 ? 28 : 44) {
    cut(record - 1);
    cut(record + 5);
  }
  for (size_t n = original.size() - 30; n < original.size(); ++n) cut(n);
  auto set32 = [&](size_t at, int32_t value) {
    Bytes b = original;
    std::memcpy(&b[at], &value, 4);
    variants.push_back(b);
  };
  for (int32_t v : {-1, 0, 1, 2, 4, 1024, 1025}) set32(4, v);  // layer count
  for (int32_t v : {-1, 0, 1, 255, 257}) set32(8, v);          // input layer
  for (int32_t v : {0, 14, 16}) set32(16, v);                  // output layer
  for (int32_t v : {398, 400, -1}) set32(20, v);               // node count
  for (int32_t v : {34687, 34689, 0}) set32(24, v);            // link count
  for (int32_t v : {-1, 0, 1, 2, 3, 1 << 30}) {
    set32(28 + 4, v);                                // first input's value cells
    set32(28 + 255 * 28 + 12, v);                    // last input's error cells
    set32(28 + 256 * 28 + 4, v);                     // first unit's value cells
    set32(28 + 256 * 28 + 142 * 44 + 4, v);          // last unit's value cells
    set32(28 + 256 * 28 + 142 * 44 + 8 + 3 * 8, v);  // last unit's error cells
  }
  std::mt19937 random(99);
  for (int n = 0; n < 400; ++n) {
    Bytes b = original;
    const size_t at = random() % (28 + 256 * 28 + 143 * 44 + 64);
    b[at] = static_cast<uint8_t>(random());
    variants.push_back(b);
  }
  int refused = 0;
  for (size_t v = 0; v < variants.size(); ++v) {
    const Bytes& bytes = variants[v];
    bool graph_refuses = false, parse_refuses = false;
    TBackpropNetwork network;
    try {
      TReadOnlyMemoryStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
      network.LoadFromStream(in);
    } catch (const Error&) {
      graph_refuses = true;
    }
    TStoredNetwork parsed;
    try {
      parsed = ParseBackpropStream(bytes.data(), bytes.size());
    } catch (const Error&) {
      parse_refuses = true;
    }
    ASSERT_EQ(parse_refuses, graph_refuses)
        << "variant " << v << " of " << bytes.size() << " bytes";
    refused += graph_refuses;
    if (graph_refuses) continue;
    TCompiledNetwork compiled;
    ASSERT_TRUE(compiled.Compile(parsed)) << "variant " << v;
    std::vector<double> inputs(static_cast<size_t>(compiled.InputCount()));
    for (size_t i = 0; i < inputs.size(); i += 2) inputs[i] = 1.0;
    TPattern pattern(compiled.InputCount(), 0);
    for (int32_t i = 0; i < compiled.InputCount(); ++i)
      pattern.SetInput(i, inputs[static_cast<size_t>(i)]);
    network.SetInputs(pattern);
    network.Run(0);
    compiled.Run(inputs.data(), compiled.InputCount());
    // Bit for bit, or both NaN (a variant may hold a weight that is not finite, and which NaN
    // a sum of two NaNs gives is the compiler's choice of operand order).
    for (int32_t i = 0; i < compiled.OutputCount(); ++i) {
      const double a = compiled.Output(i), b = network.GetOutput(i);
      ASSERT_TRUE(std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)))
          << "variant " << v << ": " << a << " " << b;
    }
  }
  EXPECT_GT(refused, 100);
}

}  // namespace
}  // namespace ocrb
