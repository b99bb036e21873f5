// Back-propagation with momentum.
//
// Forward: every unit in table order sums source output x weight over its in-links in source
// order and applies the logistic, so each layer is complete before the next one starts.
//
// Backward: units learn from the last node of the table back to the first hidden unit. An
// output unit's delta is o(1 - o)(t - o); a hidden unit's is o(1 - o) times the sum of its
// destinations' deltas x weights, read after those destinations have already moved their
// weights in this pass. Each in-link then moves by source output x (rate x delta) plus the
// destination's momentum times the link's previous bare step.
#include "neural/backprop.h"

#include <cmath>
#include <limits>
#include <new>
#include <typeinfo>

namespace ocrb {
namespace {

// Record sizes of a back-propagation stream: input nodes (one value, one error cell), units
// (three values, one error cell), links (ID and weight).
constexpr int64_t kInputRecordBytes = 28;
constexpr int64_t kUnitRecordBytes = 44;
constexpr int64_t kLinkRecordBytes = 12;

// Node and link totals of a layer shape; Fits is false when either exceeds 32 bits.
struct ShapeTotals {
  int64_t nodes = 0;
  int64_t links = 0;
  bool fits = true;
};

ShapeTotals Totals(const std::vector<int32_t>& sizes) {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  ShapeTotals totals;
  for (size_t l = 0; l < sizes.size(); ++l) {
    totals.nodes += sizes[l];
    if (l > 0) totals.links += int64_t{sizes[l - 1]} * sizes[l];
    // Each term is below 2^62, so stopping at the first total past 32 bits avoids overflow.
    if (totals.nodes > kMax || totals.links > kMax) {
      totals.fits = false;
      break;
    }
  }
  return totals;
}

bool AllPositive(const std::vector<int32_t>& sizes) {
  for (int32_t size : sizes) {
    if (size < 1) return false;
  }
  return true;
}

int32_t CheckedLinkCells(int32_t value_count) {
  Require(value_count >= 2);
  return value_count;
}

int32_t CheckedUnitCells(int32_t value_count, int32_t error_count) {
  Require(value_count >= 3 && error_count >= 1);
  return value_count;
}

// Bytes the node and link records of a shape take at the least.
int64_t MinimalRecordBytes(const std::vector<int32_t>& sizes, int64_t nodes, int64_t links) {
  const int64_t inputs = sizes.empty() ? 0 : sizes[0];
  return inputs * kInputRecordBytes + (nodes - inputs) * kUnitRecordBytes +
         links * kLinkRecordBytes;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TBPNode, TBPLink

TBPNode::TBPNode(int32_t value_count, int32_t error_count)
    : TFeedForwardNode(value_count, error_count) {}

double TBPNode::Transfer(double x) const {
  return Logistic(x);
}

TBPLink::TBPLink(int32_t value_count) : TBaseLink(CheckedLinkCells(value_count)) {
  StoreWeight(RandomWeight(-1.0, 1.0));
}

void TBPLink::SaveToStream(TStream& stream) const {
  WriteInt32(stream, id_);
  WriteDouble(stream, Weight());
}

void TBPLink::LoadFromStream(TStream& stream) {
  const int32_t id = ReadInt32(stream);
  const double weight = ReadDouble(stream);
  id_ = id;
  StoreWeight(weight);
}

void TBPLink::UpdateWeight(double step) {
  Require(dest_ != nullptr);
  const double momentum = dest_->GetValue(2);
  StoreWeight((Weight() + step) + momentum * values_[1]);
  values_[1] = step;
}

// ---------------------------------------------------------------------------------------------
// TBPOutputNode, TBPMiddleNode

TBPOutputNode::TBPOutputNode(int32_t value_count, double learning_rate, double momentum,
                             int32_t error_count)
    : TBPNode(CheckedUnitCells(value_count, error_count), error_count) {
  values_[1] = learning_rate;
  values_[2] = momentum;
}

void TBPOutputNode::Learn() {
  const double delta = ComputeDelta();
  StoreErrorCell(0, delta);
  const double rate = Cell(1);
  in_links_.First();
  for (int32_t i = 0, n = in_links_.Count(); i < n; ++i) {
    TBaseLink* link = in_links_.Current();
    link->UpdateWeight(link->SourceValue(0) * (rate * delta));
    in_links_.Next();
  }
}

double TBPOutputNode::ComputeDelta() {
  const double output = Cell(0);
  const double target = ErrorCell(0);
  return ((1.0 - output) * output) * (target - output);
}

double TBPMiddleNode::ComputeDelta() {
  const double output = Cell(0);
  double sum = 0.0;
  out_links_.First();
  for (int32_t i = 0, n = out_links_.Count(); i < n; ++i) {
    sum = sum + out_links_.Current()->WeightedDestError(0);
    out_links_.Next();
  }
  return ((1.0 - output) * output) * sum;
}

// ---------------------------------------------------------------------------------------------
// TBackpropNetwork

TBackpropNetwork::TBackpropNetwork() = default;

TBackpropNetwork::TBackpropNetwork(int32_t layer_count, double learning_rate, double momentum,
                                   const std::vector<int32_t>& layer_sizes) {
  Require(layer_count >= 2 && static_cast<size_t>(layer_count) <= layer_sizes.size());
  std::vector<int32_t> sizes(layer_sizes.begin(), layer_sizes.begin() + layer_count);
  Require(AllPositive(sizes));
  const ShapeTotals totals = Totals(sizes);
  Require(totals.fits);
  layer_sizes_ = std::move(sizes);
  node_count_ = static_cast<int32_t>(totals.nodes);
  link_count_ = static_cast<int32_t>(totals.links);
  learning_rate_ = learning_rate;
  momentum_ = momentum;
  CreateNetwork();
}

std::unique_ptr<TBackpropNetwork> TBackpropNetwork::CreateFromFile(const std::string& file_name) {
  auto network = std::make_unique<TBackpropNetwork>();
  TFileStream stream(file_name, TFileStream::Mode::fmOpenRead);  // closed on every path
  network->LoadFromStream(stream);
  return network;
}

void TBackpropNetwork::Run(int32_t) {
  GatherInputs();
  for (size_t i = static_cast<size_t>(first_hidden_); i < nodes_.size(); ++i) nodes_[i]->Run(0);
}

void TBackpropNetwork::Learn() {
  if (out_links_.Count() > 0) {
    out_links_.First();
    for (int32_t i = 0, n = out_links_.Count(); i < n; ++i) {
      OutputNode(i).SetError(0, out_links_.Current()->DestError(0));
      out_links_.Next();
    }
  }
  for (size_t j = nodes_.size(); j > static_cast<size_t>(first_hidden_); --j) {
    nodes_[j - 1]->Learn();
  }
}

void TBackpropNetwork::LoadFromStream(TStream& stream) {
  // The whole header is read and judged before the network is touched.
  const int32_t id = ReadInt32(stream);
  const int32_t layer_count = ReadInt32(stream);
  if (layer_count < 2 || layer_count > kMaxLayerCount) {
    throw NetworkStreamError("Network stream: layer count out of range");
  }
  std::vector<int32_t> sizes(static_cast<size_t>(layer_count));
  for (int32_t& size : sizes) size = ReadInt32(stream);
  if (!AllPositive(sizes)) throw NetworkStreamError("Network stream: layer size not positive");
  const int32_t node_count = ReadInt32(stream);
  const int32_t link_count = ReadInt32(stream);
  const ShapeTotals totals = Totals(sizes);
  if (!totals.fits || node_count != totals.nodes) {
    throw NetworkStreamError("Network stream: node count does not match the layer sizes");
  }
  if (link_count != totals.links) {
    throw NetworkStreamError("Network stream: link count does not match the layer sizes");
  }
  if (MinimalRecordBytes(sizes, node_count, link_count) > stream.Remaining()) {
    throw NetworkStreamError("Network stream is shorter than its counts state");
  }
  id_ = id;
  layer_sizes_ = std::move(sizes);
  Rebuild(node_count, link_count);
  LoadRecords(stream);
}

void TBackpropNetwork::SaveToStream(TStream& stream) const {
  WriteInt32(stream, id_);
  WriteInt32(stream, LayerCount());
  for (int32_t size : layer_sizes_) WriteInt32(stream, size);
  SaveNodesAndLinks(stream);
}

double TBackpropNetwork::GetValue(int32_t index) const {
  return GetOutput(index);
}

double TBackpropNetwork::GetError(int32_t index) const {
  return OutputNode(index).GetError(0);
}

void TBackpropNetwork::CreateNetwork() {
  Require(LayerCount() >= 2 && AllPositive(layer_sizes_));
  const ShapeTotals totals = Totals(layer_sizes_);
  Require(totals.fits && totals.nodes == node_count_ && totals.links == link_count_);
  AllocateTables();
  const int32_t last = LayerCount() - 1;

  size_t i = 0;
  for (int32_t s = 0; s < layer_sizes_[0]; ++s) nodes_[i++] = std::make_unique<TInputNode>(1);
  first_hidden_ = static_cast<int32_t>(i);
  for (int32_t layer = 1; layer < last; ++layer) {
    for (int32_t s = 0; s < layer_sizes_[static_cast<size_t>(layer)]; ++s) {
      nodes_[i++] = std::make_unique<TBPMiddleNode>(3, learning_rate_, momentum_, 1);
    }
  }
  first_output_ = static_cast<int32_t>(i);
  for (int32_t s = 0; s < layer_sizes_[static_cast<size_t>(last)]; ++s) {
    nodes_[i++] = std::make_unique<TBPOutputNode>(3, learning_rate_, momentum_, 1);
  }

  for (size_t k = 0; k < links_.size(); ++k) {
    try {
      links_[k] = std::make_unique<TBPLink>(2);
    } catch (const std::bad_alloc&) {
      throw Error("Error - Failed to allocate link " + std::to_string(k));
    }
  }

  // Layer pair by layer pair; destinations outer, sources inner.
  size_t j = 0;
  size_t prev_start = 0;
  size_t cur_start = static_cast<size_t>(first_hidden_);
  for (int32_t layer = 0; layer < last; ++layer) {
    const auto sources = static_cast<size_t>(layer_sizes_[static_cast<size_t>(layer)]);
    const auto dests = static_cast<size_t>(layer_sizes_[static_cast<size_t>(layer) + 1]);
    for (size_t t = 0; t < dests; ++t) {
      for (size_t s = 0; s < sources; ++s) {
        Connect(*nodes_[prev_start + s], *nodes_[cur_start + t], *links_[j++]);
      }
    }
    prev_start = cur_start;
    cur_start += dests;
  }
}

void TBackpropNetwork::DestroyNetwork() {
  TADALINENetwork::DestroyNetwork();
  first_hidden_ = 0;
  first_output_ = 0;
}

double TBackpropNetwork::GetOutput(int32_t index) const {
  return OutputNode(index).GetValue(0);
}

void TBackpropNetwork::SetTarget(int32_t index, double value) {
  TBaseNode& node = OutputNode(index);
  Require(InUnitRange(value));
  node.SetError(0, value);
}

void TBackpropNetwork::SetTargets(const TPattern& pattern) {
  for (int32_t i = 0, n = OutputCount(); i < n; ++i) SetTarget(i, pattern.GetOutput(i));
}

int32_t TBackpropNetwork::LayerSize(int32_t index) const {
  Require(index >= 0 && index < LayerCount());
  return layer_sizes_[static_cast<size_t>(index)];
}

int32_t TBackpropNetwork::InputCount() const {
  return first_hidden_;
}

void TBackpropNetwork::CheckStoredCounts(int32_t node_count, int32_t link_count,
                                         const TStream& stream) const {
  const ShapeTotals totals = Totals(layer_sizes_);
  if (LayerCount() < 2 || !totals.fits || node_count != totals.nodes) {
    throw NetworkStreamError("Network stream: node count does not match the layer sizes");
  }
  if (link_count != totals.links) {
    throw NetworkStreamError("Network stream: link count does not match the layer sizes");
  }
  if (MinimalRecordBytes(layer_sizes_, node_count, link_count) > stream.Remaining()) {
    throw NetworkStreamError("Network stream is shorter than its counts state");
  }
}

TBaseNode& TBackpropNetwork::OutputNode(int32_t index) const {
  Require(index >= 0 && index < OutputCount() &&
          static_cast<size_t>(first_output_) + static_cast<size_t>(index) < nodes_.size());
  return *nodes_[static_cast<size_t>(first_output_ + index)];
}

std::optional<TStoredNetwork> LayeredWeights(const TBackpropNetwork& network) {
  const int32_t layer_count = network.LayerCount();
  if (layer_count < 2) return std::nullopt;
  TStoredNetwork stored;
  stored.LayerSizes.resize(static_cast<size_t>(layer_count));
  int64_t nodes = 0;
  for (int32_t l = 0; l < layer_count; ++l) {
    stored.LayerSizes[static_cast<size_t>(l)] = network.LayerSize(l);
    nodes += network.LayerSize(l);
  }
  if (network.NodeCount() != nodes) return std::nullopt;
  const int32_t inputs = stored.LayerSizes[0];
  for (int32_t i = 0; i < inputs; ++i) {
    const TBaseNode& node = network.GetNode(i);
    if (typeid(node) != typeid(TInputNode) || node.GetValueCount() < 1) return std::nullopt;
    stored.InputValues.push_back(node.GetValue(0));
  }
  // Weights of each layer pair in link-table order: destination-major, source-minor.
  int32_t start = 0;
  stored.Weights.resize(static_cast<size_t>(layer_count - 1));
  for (int32_t l = 0; l + 1 < layer_count; ++l) {
    const int32_t sources = stored.LayerSizes[static_cast<size_t>(l)];
    const int32_t units = stored.LayerSizes[static_cast<size_t>(l + 1)];
    const int32_t first_unit = start + sources;
    std::vector<double>& weights = stored.Weights[static_cast<size_t>(l)];
    weights.reserve(static_cast<size_t>(int64_t{sources} * units));
    for (int32_t t = 0; t < units; ++t) {
      TBaseNode& unit = network.GetNode(first_unit + t);
      const std::type_info& kind = typeid(unit);
      if ((kind != typeid(TBPMiddleNode) && kind != typeid(TBPOutputNode)) ||
          unit.GetValueCount() < 1 || unit.InLinks().Count() != sources) {
        return std::nullopt;
      }
      TLList<TBaseLink>& in = unit.InLinks();
      in.First();
      for (int32_t s = 0; s < sources; ++s, in.Next()) {
        const TBaseLink* link = in.Current();
        if (typeid(*link) != typeid(TBPLink) ||
            link->GetSourceNode() != &network.GetNode(start + s) || link->GetValueCount() < 1) {
          return std::nullopt;
        }
        weights.push_back(link->Weight());
      }
    }
    start = first_unit;
  }
  return stored;
}

}  // namespace ocrb
