// The stored back-propagation network stream, read the two ways the engine reads it: parsed
// straight from its bytes for the compiled forward pass (ParseBackpropStream, what start-up
// does with the embedded network) and loaded into the object graph (LoadFromStream, what the
// trainer and tools do). The input is the whole stream.
//
// Beyond not crashing, the two readers must agree: both accept or both refuse; an accepted
// network saves to a stream that loads and saves again to the same bytes and parses to the
// same layer sizes; the graph's layered weights are the parsed ones and both compile; and
// then every node value of a forward pass is the same to the bit (or NaN in both) in the
// graph and in both compiled copies, with every kernel the processor has.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "fuzz_util.h"
#include "neural/backprop.h"
#include "neural/compiled.h"
#include "neural/pattern.h"
#include "platform/error.h"
#include "platform/stream.h"

namespace {

using ocrb::TBackpropNetwork;
using ocrb::TCompiledNetwork;
using ocrb::TKernel;
using ocrb::TStoredNetwork;

std::vector<uint8_t> Saved(const TBackpropNetwork& network) {
  ocrb::TMemoryStream out;
  network.SaveToStream(out);
  return out.Bytes();
}

uint64_t Bits(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

// Equal to the bit, or both NaN: which NaN a sum of two NaNs gives is the compiler's choice of
// operand order.
bool SameValue(double a, double b) {
  return Bits(a) == Bits(b) || (std::isnan(a) && std::isnan(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<TStoredNetwork> stored;
  try {
    stored = ocrb::ParseBackpropStream(data, size);
  } catch (const ocrb::Error&) {
  }
  auto graph = std::make_unique<TBackpropNetwork>();
  bool loaded = false;
  try {
    ocrb::TReadOnlyMemoryStream in(data, static_cast<int64_t>(size));
    graph->LoadFromStream(in);
    loaded = true;
  } catch (const ocrb::Error&) {
  }
  OCRB_FUZZ_CHECK(stored.has_value() == loaded);
  if (!loaded) return 0;

  const std::vector<uint8_t> saved = Saved(*graph);
  TBackpropNetwork again;
  ocrb::TReadOnlyMemoryStream in(saved.data(), static_cast<int64_t>(saved.size()));
  again.LoadFromStream(in);
  OCRB_FUZZ_CHECK(Saved(again) == saved);
  OCRB_FUZZ_CHECK(ocrb::ParseBackpropStream(saved.data(), saved.size()).LayerSizes ==
                  stored->LayerSizes);

  // A loaded back-propagation network is always a plain layered one.
  const std::optional<TStoredNetwork> layered = ocrb::LayeredWeights(*graph);
  OCRB_FUZZ_CHECK(layered.has_value());
  OCRB_FUZZ_CHECK(layered->LayerSizes == stored->LayerSizes);
  OCRB_FUZZ_CHECK(layered->Weights.size() == stored->Weights.size());
  TCompiledNetwork from_stream, from_graph;
  OCRB_FUZZ_CHECK(from_stream.Compile(*stored));
  OCRB_FUZZ_CHECK(from_graph.Compile(*layered));

  // Inputs of 0 and 1 (what the classifier feeds) taken from the stream's own bits.
  const int32_t inputs = graph->InputCount();
  ocrb::TPattern pattern(inputs, graph->OutputCount());
  std::vector<double> x(static_cast<size_t>(inputs));
  for (int32_t i = 0; i < inputs; ++i) {
    x[static_cast<size_t>(i)] = data[static_cast<size_t>(i) % size] >> (i % 8) & 1;
    pattern.SetInput(i, x[static_cast<size_t>(i)]);
  }
  graph->SetInputs(pattern);
  graph->Run(0);
  const std::vector<TKernel> kernels = ocrb::RunnableKernels();
  for (TKernel kernel : kernels) {
    for (TCompiledNetwork* copy : {&from_stream, &from_graph}) {
      copy->Run(x.data(), inputs, kernel);
      OCRB_FUZZ_CHECK(copy->Values().size() == static_cast<size_t>(graph->NodeCount()));
      for (int32_t node = graph->FirstHidden(); node < graph->NodeCount(); ++node) {
        OCRB_FUZZ_CHECK(
            SameValue(copy->Values()[static_cast<size_t>(node)], graph->GetNode(node).GetValue(0)));
      }
    }
  }
  return 0;
}
