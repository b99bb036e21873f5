// Compiling a layered network for the forward pass, and reading one straight from its stream.
//
// The stream reader walks the bytes once, judging them exactly as the object model's loader
// does (same header checks, same record checks, same point of failure for a short stream), so
// that a start-up that compiles from the stream refuses the same resources as one that builds
// the object graph. Only the input values and the weights are kept: the identifiers, the
// units' stored outputs, rates and errors play no part in a forward pass.
#include "neural/compiled.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "neural/failure.h"
#include "neural/logistic.h"

namespace ocrb {
namespace {

// Cells an input node and a unit use at the least; a stored record with fewer is refused.
constexpr int32_t kInputValueCells = 1;
constexpr int32_t kUnitValueCells = 3;
constexpr int32_t kErrorCells = 1;
constexpr int64_t kInputRecordBytes = 28;
constexpr int64_t kUnitRecordBytes = 44;
constexpr int64_t kLinkRecordBytes = 12;
constexpr int32_t kLanes = 4;  // Doubles per AVX2 register; strides are padded to it

// Little-endian fields from a byte span; a read past the end raises as a short stream does.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int32_t Int32() {
    uint32_t v = 0;
    Take(4);
    for (int i = 0; i < 4; ++i) v |= uint32_t{data_[pos_ - 4 + i]} << (8 * i);
    return static_cast<int32_t>(v);
  }
  double Double() {
    uint64_t v = 0;
    Take(8);
    for (int i = 0; i < 8; ++i) v |= uint64_t{data_[pos_ - 8 + i]} << (8 * i);
    double d;
    std::memcpy(&d, &v, sizeof d);
    return d;
  }
  void Skip(int64_t bytes) { Take(static_cast<size_t>(bytes)); }
  int64_t Remaining() const { return static_cast<int64_t>(size_ - pos_); }

 private:
  void Take(size_t n) {
    if (size_ - pos_ < n) throw Error("Stream read error");
    pos_ += n;
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A node record's cell count, refused as the loader refuses it.
int32_t CellCount(ByteReader& in, int32_t used) {
  const int32_t count = in.Int32();
  if (count < 0) throw NetworkStreamError("Node record states a negative cell count");
  if (count < used) throw NetworkStreamError("Node record states fewer cells than the object uses");
  if (count > in.Remaining() / static_cast<int64_t>(sizeof(double))) {
    throw NetworkStreamError("Node record states more cells than the stream holds");
  }
  return count;
}

// Reads one node record and returns its value cell 0.
double NodeRecord(ByteReader& in, int32_t used_values) {
  in.Int32();  // identifier
  const int32_t values = CellCount(in, used_values);
  const double first = in.Double();
  in.Skip(int64_t{values - 1} * 8);
  in.Skip(int64_t{CellCount(in, kErrorCells)} * 8);
  return first;
}

int32_t RoundUp(int32_t n) {
  return (n + kLanes - 1) / kLanes * kLanes;
}

}  // namespace

TStoredNetwork ParseBackpropStream(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  in.Int32();  // the network's identifier
  const int32_t layer_count = in.Int32();
  if (layer_count < 2 || layer_count > kMaxStoredLayers) {
    throw NetworkStreamError("Network stream: layer count out of range");
  }
  TStoredNetwork stored;
  stored.LayerSizes.resize(static_cast<size_t>(layer_count));
  for (int32_t& s : stored.LayerSizes) s = in.Int32();
  int64_t nodes = 0, links = 0;
  bool fits = true;
  for (size_t l = 0; l < stored.LayerSizes.size(); ++l) {
    if (stored.LayerSizes[l] < 1)
      throw NetworkStreamError("Network stream: layer size not positive");
  }
  for (size_t l = 0; l < stored.LayerSizes.size() && fits; ++l) {
    nodes += stored.LayerSizes[l];
    if (l > 0) links += int64_t{stored.LayerSizes[l - 1]} * stored.LayerSizes[l];
    fits = nodes <= std::numeric_limits<int32_t>::max() &&
           links <= std::numeric_limits<int32_t>::max();
  }
  const int32_t node_count = in.Int32();
  const int32_t link_count = in.Int32();
  if (!fits || node_count != nodes) {
    throw NetworkStreamError("Network stream: node count does not match the layer sizes");
  }
  if (link_count != links) {
    throw NetworkStreamError("Network stream: link count does not match the layer sizes");
  }
  const int64_t inputs = stored.LayerSizes[0];
  if (inputs * kInputRecordBytes + (nodes - inputs) * kUnitRecordBytes + links * kLinkRecordBytes >
      in.Remaining()) {
    throw NetworkStreamError("Network stream is shorter than its counts state");
  }

  stored.InputValues.resize(static_cast<size_t>(inputs));
  for (double& v : stored.InputValues) v = NodeRecord(in, kInputValueCells);
  for (int64_t u = inputs; u < nodes; ++u) NodeRecord(in, kUnitValueCells);
  stored.Weights.resize(stored.LayerSizes.size() - 1);
  for (size_t l = 0; l + 1 < stored.LayerSizes.size(); ++l) {
    std::vector<double>& w = stored.Weights[l];
    w.resize(static_cast<size_t>(int64_t{stored.LayerSizes[l]} * stored.LayerSizes[l + 1]));
    for (double& weight : w) {
      in.Int32();  // the link's identifier
      weight = in.Double();
    }
  }
  return stored;
}

bool HasAvx2() {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

bool HasAvx512() {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
  // The check also asks whether the system saves the 512-bit registers.
  return HasAvx2() && __builtin_cpu_supports("avx512f");
#else
  return false;
#endif
}

TKernel BestKernel() {
  static const TKernel best = HasAvx512() ? TKernel::kAvx512
                              : HasAvx2() ? TKernel::kAvx2
                                          : TKernel::kPortable;
  return best;
}

std::vector<TKernel> RunnableKernels() {
  std::vector<TKernel> kernels = {TKernel::kPortable};
  if (HasAvx2()) kernels.push_back(TKernel::kAvx2);
  if (HasAvx512()) kernels.push_back(TKernel::kAvx512);
  return kernels;
}

void TCompiledNetwork::Clear() {
  layer_sizes_.clear();
  layers_.clear();
  values_.clear();
  sums_.clear();
  active_.clear();
  output_start_ = 0;
  all_finite_ = true;
}

bool TCompiledNetwork::Build(const std::vector<int32_t>& sizes) {
  Clear();
  if (sizes.size() < 2) return false;
  layer_sizes_ = sizes;
  int64_t nodes = 0;
  int32_t widest = 0;
  for (int32_t s : sizes) {
    nodes += s;
    widest = std::max(widest, s);
  }
  layers_.resize(sizes.size() - 1);
  for (size_t l = 0; l < layers_.size(); ++l) {
    Layer& layer = layers_[l];
    layer.Sources = sizes[l];
    layer.Units = sizes[l + 1];
    layer.Stride = RoundUp(layer.Units);
    layer.Weights.assign(static_cast<size_t>(int64_t{layer.Sources} * layer.Stride), 0.0);
  }
  values_.assign(static_cast<size_t>(nodes), 0.0);
  sums_.assign(static_cast<size_t>(RoundUp(widest)), 0.0);
  active_.assign(static_cast<size_t>(widest), 0);
  output_start_ = static_cast<int32_t>(nodes - sizes.back());
  return true;
}

bool TCompiledNetwork::Compile(const TStoredNetwork& stored) {
  if (!Build(stored.LayerSizes) || stored.Weights.size() != layers_.size() ||
      stored.InputValues.size() != static_cast<size_t>(InputCount())) {
    Clear();
    return false;
  }
  for (size_t l = 0; l < layers_.size(); ++l) {
    Layer& layer = layers_[l];
    const std::vector<double>& w = stored.Weights[l];
    if (w.size() != static_cast<size_t>(int64_t{layer.Sources} * layer.Units)) {
      Clear();
      return false;
    }
    // Link t x Sources + s joins source s to unit t.
    for (int32_t t = 0; t < layer.Units; ++t) {
      for (int32_t s = 0; s < layer.Sources; ++s) {
        const double weight = w[static_cast<size_t>(int64_t{t} * layer.Sources + s)];
        all_finite_ = all_finite_ && std::isfinite(weight);
        layer.Weights[static_cast<size_t>(int64_t{s} * layer.Stride + t)] = weight;
      }
    }
  }
  std::copy(stored.InputValues.begin(), stored.InputValues.end(), values_.begin());
  return true;
}

void TCompiledNetwork::Run(const double* inputs, int32_t count, TKernel kernel) {
  std::copy(inputs, inputs + count, values_.begin());
  if (!all_finite_) kernel = TKernel::kPortable;
  const bool portable = kernel == TKernel::kPortable;
  const bool avx512 = kernel == TKernel::kAvx512;
  size_t source_start = 0;
  for (const Layer& layer : layers_) {
    const double* x = values_.data() + source_start;
    std::fill(sums_.begin(), sums_.begin() + layer.Stride, 0.0);
    if (source_start == 0 && all_finite_) {
      // The inputs: mostly paper (0.0, skipped) and ink (1.0, the weight itself).
      const int32_t active = (portable ? kernels::ListActivePortable
                              : avx512 ? kernels::ListActiveAvx512
                                       : kernels::ListActiveAvx2)(x, layer.Sources, active_.data());
      (portable ? kernels::AccumulatePortable
       : avx512 ? kernels::AccumulateAvx512
                : kernels::AccumulateAvx2)(x, active_.data(), active, layer.Weights.data(),
                                           layer.Stride, sums_.data());
    } else {
      (portable ? kernels::AccumulateAllPortable
       : avx512 ? kernels::AccumulateAllAvx512
                : kernels::AccumulateAllAvx2)(x, layer.Sources, layer.Weights.data(), layer.Stride,
                                              sums_.data());
    }
    double* out = values_.data() + source_start + layer.Sources;
    for (int32_t t = 0; t < layer.Units; ++t) out[t] = Logistic(sums_[static_cast<size_t>(t)]);
    source_start += static_cast<size_t>(layer.Sources);
  }
}

namespace kernels {

int32_t ListActivePortable(const double* x, int32_t count, int32_t* active) {
  int32_t listed = 0;
  for (int32_t s = 0; s < count; ++s) {
    active[listed] = s;
    listed += x[s] != 0.0;
  }
  return listed;
}

void AccumulatePortable(const double* x, const int32_t* active, int32_t active_count,
                        const double* weights, int32_t stride, double* sums) {
  for (int32_t k = 0; k < active_count; ++k) {
    const int32_t s = active[k];
    const double v = x[s];
    const double* w = weights + static_cast<ptrdiff_t>(s) * stride;
    if (v == 1.0) {
      for (int32_t t = 0; t < stride; ++t) sums[t] = sums[t] + w[t];
    } else {
      for (int32_t t = 0; t < stride; ++t) sums[t] = sums[t] + v * w[t];
    }
  }
}

void AccumulateAllPortable(const double* x, int32_t count, const double* weights, int32_t stride,
                           double* sums) {
  for (int32_t s = 0; s < count; ++s) {
    const double v = x[s];
    const double* w = weights + static_cast<ptrdiff_t>(s) * stride;
    for (int32_t t = 0; t < stride; ++t) sums[t] = sums[t] + v * w[t];
  }
}

}  // namespace kernels

}  // namespace ocrb
