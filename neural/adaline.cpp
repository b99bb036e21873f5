// The ADALINE unit and network. The unit's learning step pushes every weight against the
// unit's own output (error = -2 x output), scaled by its source's output and the learning
// rate; the network wires each input and the bias node to the unit in table order.
#include "neural/adaline.h"

namespace ocrb {
namespace {

// Record sizes of an ADALINE stream: input and bias nodes (one value, one error cell), the
// ADALINE node (two values, one error cell), links (ID, weight, two node identifiers).
constexpr int64_t kInputRecordBytes = 28;
constexpr int64_t kAdalineNodeRecordBytes = 36;
constexpr int64_t kAdalineLinkRecordBytes = 20;

}  // namespace

// ---------------------------------------------------------------------------------------------
// TADALINENode

TADALINENode::TADALINENode() : TFeedForwardNode(2, 1) {}

TADALINENode::TADALINENode(double learning_rate) : TFeedForwardNode(2, 1) {
  Require(InUnitRange(learning_rate));
  values_[1] = learning_rate;
}

void TADALINENode::Learn() {
  StoreErrorCell(0, -2.0 * Cell(0));
  const double rate = Cell(1);
  const double error = ErrorCell(0);
  in_links_.First();
  for (int32_t i = 0, n = in_links_.Count(); i < n; ++i) {
    TBaseLink* link = in_links_.Current();
    link->UpdateWeight(link->SourceValue(0) * rate * error);
    in_links_.Next();
  }
}

double TADALINENode::Transfer(double x) const {
  return x > 0.0 ? 1.0 : -1.0;
}

// ---------------------------------------------------------------------------------------------
// TADALINELink

TADALINELink::TADALINELink() : TBaseLink(1) {
  StoreWeight(RandomWeight(-1.0, 1.0));
}

void TADALINELink::SaveToStream(TStream& stream) const {
  WriteInt32(stream, id_);
  WriteDouble(stream, Weight());
  WriteInt32(stream, source_ != nullptr ? source_->GetID() : -1);
  WriteInt32(stream, dest_ != nullptr ? dest_->GetID() : -1);
}

void TADALINELink::LoadFromStream(TStream& stream) {
  const int32_t id = ReadInt32(stream);
  const double weight = ReadDouble(stream);
  ReadInt32(stream);  // source identifier: the wiring is rebuilt, not read
  ReadInt32(stream);  // destination identifier
  id_ = id;
  StoreWeight(weight);
}

// ---------------------------------------------------------------------------------------------
// TADALINENetwork

TADALINENetwork::TADALINENetwork() = default;

TADALINENetwork::TADALINENetwork(int32_t input_count) : TADALINENetwork(input_count, 0.0) {}

TADALINENetwork::TADALINENetwork(int32_t input_count, double learning_rate) {
  Require(input_count >= 0 && input_count <= INT32_MAX - 2);
  node_count_ = input_count + 2;
  link_count_ = input_count + 1;
  learning_rate_ = learning_rate;
  CreateNetwork();
}

std::unique_ptr<TADALINENetwork> TADALINENetwork::CreateFromFile(const std::string& file_name) {
  auto network = std::make_unique<TADALINENetwork>();
  TFileStream stream(file_name, TFileStream::Mode::fmOpenRead);  // closed on every path
  network->LoadFromStream(stream);
  return network;
}

void TADALINENetwork::Run(int32_t) {
  Require(!nodes_.empty());
  GatherInputs();
  nodes_.back()->Run(0);
}

void TADALINENetwork::Learn() {
  Require(!nodes_.empty());
  nodes_.back()->Learn();
}

void TADALINENetwork::LoadFromStream(TStream& stream) {
  const int32_t id = ReadInt32(stream);
  const int32_t node_count = ReadInt32(stream);
  const int32_t link_count = ReadInt32(stream);
  CheckStoredCounts(node_count, link_count, stream);
  id_ = id;
  Rebuild(node_count, link_count);
  LoadRecords(stream);
}

void TADALINENetwork::SaveToStream(TStream& stream) const {
  WriteInt32(stream, id_);
  SaveNodesAndLinks(stream);
}

double TADALINENetwork::GetValue(int32_t) const {
  Require(!nodes_.empty());
  const double output = nodes_.back()->GetValue(0);
  Require(InUnitRange(output));
  return output;
}

void TADALINENetwork::CreateNetwork() {
  const int32_t n = node_count_;
  Require(n >= 2 && link_count_ >= 0 && link_count_ <= n - 1);
  AllocateTables();
  for (int32_t i = 0; i < n - 2; ++i)
    nodes_[static_cast<size_t>(i)] = std::make_unique<TInputNode>(1);
  nodes_[static_cast<size_t>(n - 2)] = std::make_unique<TBiasNode>(1.0);
  nodes_[static_cast<size_t>(n - 1)] = std::make_unique<TADALINENode>(learning_rate_);
  for (auto& link : links_) link = std::make_unique<TADALINELink>();
  TBaseNode& unit = *nodes_.back();
  for (int32_t j = 0; j < link_count_; ++j) {
    Connect(*nodes_[static_cast<size_t>(j)], unit, *links_[static_cast<size_t>(j)]);
  }
}

void TADALINENetwork::GatherInputs() {
  if (in_links_.Count() == 0) return;
  in_links_.First();
  for (int32_t i = 0, n = in_links_.Count(); i < n; ++i) {
    SetInput(i, in_links_.Current()->SourceValue(0));
    in_links_.Next();
  }
}

void TADALINENetwork::SetInput(int32_t index, double value) {
  Require(index >= 0 && index < InputCount());
  Require(InUnitRange(value));
  nodes_[static_cast<size_t>(index)]->SetValue(0, value);
}

void TADALINENetwork::SetInputs(const TPattern& pattern) {
  const int32_t count = pattern.InputCount();
  Require(count >= 1 && count <= InputCount());
  for (int32_t i = 0; i < count; ++i) {
    nodes_[static_cast<size_t>(i)]->SetValue(0, pattern.GetInput(i));
  }
}

int32_t TADALINENetwork::InputCount() const {
  return nodes_.size() >= 2 ? static_cast<int32_t>(nodes_.size()) - 2 : 0;
}

void TADALINENetwork::CheckStoredCounts(int32_t node_count, int32_t link_count,
                                        const TStream& stream) const {
  if (node_count < 2) throw NetworkStreamError("Network stream: node count out of range");
  if (link_count != node_count - 1) {
    throw NetworkStreamError("Network stream: link count does not match the node count");
  }
  const int64_t needed = (node_count - 1) * kInputRecordBytes + kAdalineNodeRecordBytes +
                         link_count * kAdalineLinkRecordBytes;
  if (needed > stream.Remaining()) {
    throw NetworkStreamError("Network stream is shorter than its counts state");
  }
}

}  // namespace ocrb
