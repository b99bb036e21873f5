// The network library at the engine's shape, 256-128-15: one forward pass (what every
// classifier pass costs), one learning step, and rebuilding the network from its stream (what
// every engine start-up costs).
#include <benchmark/benchmark.h>

#include <memory>

#include "neural/backprop.h"
#include "neural/compiled.h"
#include "neural/pattern.h"
#include "platform/resources.h"
#include "platform/stream.h"

namespace ocrb {
namespace {

constexpr uint64_t kSeed = 20240601;

std::unique_ptr<TBackpropNetwork> EngineShapedNetwork() {
  SeedRandomWeights(kSeed);
  return std::make_unique<TBackpropNetwork>(3, 0.45, 0.9, std::vector<int32_t>{256, 128, 15});
}

// A glyph-like 0/1 input: a filled band in the middle of the 16 x 16 grid.
TPattern GlyphPattern() {
  TPattern pattern(256, 15);
  for (int y = 2; y < 14; ++y) {
    for (int x = 5; x < 11; ++x) pattern.SetInput(y * 16 + x, 1.0);
  }
  pattern.SetOutput(7, 1.0);
  return pattern;
}

void BM_ForwardPass_256_128_15(benchmark::State& state) {
  auto network = EngineShapedNetwork();
  const TPattern pattern = GlyphPattern();
  for (auto _ : state) {
    network->SetInputs(pattern);
    network->Run();
    benchmark::DoNotOptimize(network->GetOutput(7));
  }
  state.SetItemsProcessed(state.iterations() * network->LinkCount());
}
BENCHMARK(BM_ForwardPass_256_128_15)->Unit(benchmark::kMicrosecond);

void BM_LearnStep_256_128_15(benchmark::State& state) {
  auto network = EngineShapedNetwork();
  const TPattern pattern = GlyphPattern();
  for (auto _ : state) {
    network->SetInputs(pattern);
    network->Run();
    network->SetTargets(pattern);
    network->Learn();
  }
}
BENCHMARK(BM_LearnStep_256_128_15)->Unit(benchmark::kMicrosecond);

void BM_LoadFromStream_256_128_15(benchmark::State& state) {
  auto source = EngineShapedNetwork();
  TMemoryStream stored;
  source->SaveToStream(stored);
  TBackpropNetwork network(3, 0.45, 0.9, {256, 64, 15});
  for (auto _ : state) {
    TReadOnlyMemoryStream in(stored.Bytes().data(), stored.Size());
    network.LoadFromStream(in);
  }
  state.SetBytesProcessed(state.iterations() * stored.Size());
}
BENCHMARK(BM_LoadFromStream_256_128_15)->Unit(benchmark::kMillisecond);

// The compiled pass on the stored model, as reading runs it, with each kernel.
void CompiledForward(benchmark::State& state, TKernel kernel) {
  platform::ResourceBytes stored;
  if (!platform::EmbeddedResources().Find("OCRB16NET", stored)) {
    state.SkipWithError("no embedded model");
    return;
  }
  TCompiledNetwork compiled;
  compiled.Compile(ParseBackpropStream(stored.data, stored.size));
  const TPattern pattern = GlyphPattern();
  for (auto _ : state) {
    compiled.Run(pattern.InputData(), 256, kernel);
    benchmark::DoNotOptimize(compiled.Output(7));
  }
}
void BM_CompiledForward_Portable(benchmark::State& state) {
  CompiledForward(state, TKernel::kPortable);
}
void BM_CompiledForward_Avx2(benchmark::State& state) {
  if (!HasAvx2()) {
    state.SkipWithError("no AVX2");
    return;
  }
  CompiledForward(state, TKernel::kAvx2);
}
void BM_CompiledForward_Best(benchmark::State& state) {
  CompiledForward(state, BestKernel());
}
BENCHMARK(BM_CompiledForward_Portable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompiledForward_Avx2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompiledForward_Best)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ocrb
