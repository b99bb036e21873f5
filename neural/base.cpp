// Nodes, links and the base network.
//
// The forward step of a feed-forward node walks its in-links from the head with the list
// cursor and accumulates source output x weight in a Double, one link at a time; the order of
// that sum is what makes stored networks reproduce their outputs to the bit, so it is kept as
// is (a faster path may gather the weights from the link table, which is in the same order).
//
// Loading stages every record in locals and commits it only when it is complete and sound, so a
// refused or short record leaves its object as it was.
#include "neural/base.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <mutex>
#include <random>
#include <string_view>

namespace ocrb {

// ---------------------------------------------------------------------------------------------
// Failures

AbstractCallError::AbstractCallError(const std::string& operation)
    : Error("Abstract operation called: " + operation) {}

// ---------------------------------------------------------------------------------------------
// Stream fields

namespace {

template <class T>
T ToLittleEndian(T value) {
  if constexpr (std::endian::native == std::endian::big) {
    auto bytes = std::bit_cast<std::array<unsigned char, sizeof(T)>>(value);
    std::reverse(bytes.begin(), bytes.end());
    return std::bit_cast<T>(bytes);
  } else {
    return value;
  }
}

}  // namespace

void WriteInt32(TStream& stream, int32_t value) {
  const int32_t le = ToLittleEndian(value);
  stream.WriteBuffer(&le, sizeof le);
}

void WriteDouble(TStream& stream, double value) {
  const double le = ToLittleEndian(value);
  stream.WriteBuffer(&le, sizeof le);
}

int32_t ReadInt32(TStream& stream) {
  int32_t le = 0;
  stream.ReadBuffer(&le, sizeof le);
  return ToLittleEndian(le);
}

double ReadDouble(TStream& stream) {
  double le = 0.0;
  stream.ReadBuffer(&le, sizeof le);
  return ToLittleEndian(le);
}

// ---------------------------------------------------------------------------------------------
// Process-wide state

namespace {

std::atomic<int32_t> link_counter{-1};
std::atomic<int32_t> node_counter{-1};

// The weight generator and its lock. A function-local static is built on first use, which
// the language makes thread-safe.
struct WeightGenerator {
  std::mutex lock;
  std::mt19937_64 engine{kDefaultRandomSeed};
};

WeightGenerator& Generator() {
  static WeightGenerator generator;
  return generator;
}

constexpr int kMantissaBits = 53;  // a Double holds 53 significant bits

}  // namespace

int32_t NextLinkID() {
  return link_counter.fetch_add(1) + 1;
}
int32_t NextNodeID() {
  return node_counter.fetch_add(1) + 1;
}
int32_t LastLinkID() {
  return link_counter.load();
}
int32_t LastNodeID() {
  return node_counter.load();
}

void ResetIDCounters() {
  link_counter.store(-1);
  node_counter.store(-1);
}

void SeedRandomWeights(uint64_t seed) {
  WeightGenerator& generator = Generator();
  std::lock_guard<std::mutex> guard(generator.lock);
  generator.engine.seed(seed);
}

double RandomWeight(double low, double high) {
  WeightGenerator& generator = Generator();
  uint64_t bits;
  {
    std::lock_guard<std::mutex> guard(generator.lock);
    bits = generator.engine();
  }
  // The top 53 bits scaled by 2^-53: uniform on [0, 1), never 1.0.
  const double r = static_cast<double>(bits >> (64 - kMantissaBits)) * 0x1.0p-53;
  const double weight = low + r * (high - low);
  Require(weight >= low && weight <= high);
  return weight;
}

// ---------------------------------------------------------------------------------------------
// Record helpers

namespace {

// Reads a stored cell count and refuses one that is negative, below Used, or larger than the
// rest of the stream can fill with Doubles, before anything is allocated from it.
int32_t ReadCellCount(TStream& stream, int32_t used, const char* what) {
  const int32_t count = ReadInt32(stream);
  if (count < 0) throw NetworkStreamError(std::string(what) + " states a negative cell count");
  if (count < used) {
    throw NetworkStreamError(std::string(what) + " states fewer cells than the object uses");
  }
  if (count > stream.Remaining() / static_cast<int64_t>(sizeof(double))) {
    throw NetworkStreamError(std::string(what) + " states more cells than the stream holds");
  }
  return count;
}

std::vector<double> ReadCells(TStream& stream, int32_t count) {
  std::vector<double> cells(static_cast<size_t>(count));
  for (double& cell : cells) cell = ReadDouble(stream);
  return cells;
}

void WriteCells(TStream& stream, const std::vector<double>& cells) {
  WriteInt32(stream, static_cast<int32_t>(cells.size()));
  for (double cell : cells) WriteDouble(stream, cell);
}

std::vector<double> ZeroCells(int32_t count) {
  return std::vector<double>(count > 0 ? static_cast<size_t>(count) : 0, 0.0);
}

bool ValidIndex(int32_t index, const std::vector<double>& cells) {
  return index >= 0 && static_cast<size_t>(index) < cells.size();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TBaseLink

TBaseLink::TBaseLink(int32_t value_count) : id_(NextLinkID()), values_(ZeroCells(value_count)) {}

void TBaseLink::SaveToStream(TStream& stream) const {
  WriteInt32(stream, id_);
  WriteCells(stream, values_);
}

void TBaseLink::LoadFromStream(TStream& stream) {
  const int32_t id = ReadInt32(stream);
  const int32_t count = ReadCellCount(stream, 0, "Link record");
  std::vector<double> cells = ReadCells(stream, count);
  id_ = id;
  values_ = std::move(cells);
}

double TBaseLink::GetValue(int32_t index) const {
  Require(ValidIndex(index, values_));
  return values_[static_cast<size_t>(index)];
}

void TBaseLink::SetValue(int32_t index, double value) {
  Require(ValidIndex(index, values_));
  Require(InUnitRange(value));
  values_[static_cast<size_t>(index)] = value;
}

void TBaseLink::SetSourceNode(TBaseNode* node) {
  source_ = node;
}
void TBaseLink::SetDestNode(TBaseNode* node) {
  dest_ = node;
}
TBaseNode* TBaseLink::GetSourceNode() const {
  return source_;
}
TBaseNode* TBaseLink::GetDestNode() const {
  return dest_;
}

void TBaseLink::UpdateWeight(double delta) {
  Require(InUnitRange(delta));
  StoreWeight(Weight() + delta);
}

int32_t TBaseLink::GetID() const {
  return id_;
}

double TBaseLink::SourceValue(int32_t index) const {
  Require(source_ != nullptr);
  return source_->GetValue(index);
}

double TBaseLink::DestValue(int32_t index) const {
  Require(dest_ != nullptr);
  return dest_->GetValue(index);
}

double TBaseLink::SourceError(int32_t index) const {
  Require(source_ != nullptr);
  return source_->GetError(index);
}

double TBaseLink::DestError(int32_t index) const {
  Require(dest_ != nullptr);
  return dest_->GetError(index);
}

double TBaseLink::WeightedSourceValue(int32_t index) const {
  return SourceValue(index) * Weight();
}

double TBaseLink::WeightedDestValue(int32_t index) const {
  const double product = DestValue(index) * Weight();
  Require(InUnitRange(product));
  return product;
}

double TBaseLink::WeightedSourceError(int32_t index) const {
  return SourceError(index) * Weight();
}

double TBaseLink::WeightedDestError(int32_t index) const {
  return DestError(index) * Weight();
}

int32_t TBaseLink::GetValueCount() const {
  return static_cast<int32_t>(values_.size());
}

void TBaseLink::Signal(int32_t) {
  throw AbstractCallError("TBaseLink.Signal");
}

double TBaseLink::Weight() const {
  Require(!values_.empty());
  return values_[0];
}

void TBaseLink::StoreWeight(double weight) {
  StoreCell(0, weight);
}

void TBaseLink::StoreCell(int32_t index, double value) {
  Require(ValidIndex(index, values_));
  values_[static_cast<size_t>(index)] = value;
}

// ---------------------------------------------------------------------------------------------
// TBaseNode

TBaseNode::TBaseNode(int32_t value_count, int32_t error_count)
    : id_(NextNodeID()), values_(ZeroCells(value_count)), errors_(ZeroCells(error_count)) {}

void TBaseNode::Run(int32_t) {
  throw AbstractCallError("TBaseNode.Run");
}
void TBaseNode::Learn() {
  throw AbstractCallError("TBaseNode.Learn");
}
void TBaseNode::Signal(int32_t) {
  throw AbstractCallError("TBaseNode.Signal");
}

void TBaseNode::LoadFromStream(TStream& stream) {
  const int32_t id = ReadInt32(stream);
  std::vector<double> values =
      ReadCells(stream, ReadCellCount(stream, UsedValueCount(), "Node record"));
  std::vector<double> errors =
      ReadCells(stream, ReadCellCount(stream, UsedErrorCount(), "Node record"));
  id_ = id;
  values_ = std::move(values);
  errors_ = std::move(errors);
}

void TBaseNode::SaveToStream(TStream& stream) const {
  WriteInt32(stream, id_);
  WriteCells(stream, values_);
  WriteCells(stream, errors_);
}

double TBaseNode::GetValue(int32_t index) const {
  Require(ValidIndex(index, values_));
  return values_[static_cast<size_t>(index)];
}

void TBaseNode::SetValue(int32_t index, double value) {
  Require(ValidIndex(index, values_));
  Require(InUnitRange(value));
  values_[static_cast<size_t>(index)] = value;
}

double TBaseNode::GetError(int32_t index) const {
  Require(ValidIndex(index, errors_));
  return errors_[static_cast<size_t>(index)];
}

void TBaseNode::SetError(int32_t index, double value) {
  Require(ValidIndex(index, errors_));
  Require(InUnitRange(value));
  errors_[static_cast<size_t>(index)] = value;
}

int32_t TBaseNode::GetID() const {
  return id_;
}

void TBaseNode::LinkTo(TBaseNode& to_node, TBaseLink& link) {
  out_links_.Add(&link);
  try {
    to_node.in_links_.Add(&link);
  } catch (...) {
    out_links_.Last();
    out_links_.ExtractCurrent();
    throw;
  }
  link.SetSourceNode(this);
  link.SetDestNode(&to_node);
}

void TBaseNode::Notify(int32_t) {}

void TBaseNode::Connect(TBaseNode& from_node, TBaseNode& to_node, TBaseLink& link) {
  from_node.LinkTo(to_node, link);
}

int32_t TBaseNode::Disconnect(TBaseNode& from_node, TBaseNode& to_node) {
  return DetachLink(from_node, to_node) != nullptr ? 1 : 0;
}

TBaseLink* TBaseNode::DetachLink(TBaseNode& from_node, TBaseNode& to_node) {
  TLList<TBaseLink>& out = from_node.out_links_;
  out.First();
  for (int32_t i = 0, n = out.Count(); i < n; ++i, out.Next()) {
    TBaseLink* link = out.Current();
    if (link->GetDestNode() != &to_node) continue;
    // The out-list cursor stays on the link while the in-list is searched: they are two lists.
    if (to_node.in_links_.Find(link) != 0) to_node.in_links_.ExtractCurrent();
    out.ExtractCurrent();
    link->SetSourceNode(nullptr);
    link->SetDestNode(nullptr);
    return link;
  }
  return nullptr;
}

double TBaseNode::Cell(int32_t index) const {
  Require(ValidIndex(index, values_));
  return values_[static_cast<size_t>(index)];
}

void TBaseNode::StoreCell(int32_t index, double value) {
  Require(ValidIndex(index, values_));
  values_[static_cast<size_t>(index)] = value;
}

double TBaseNode::ErrorCell(int32_t index) const {
  Require(ValidIndex(index, errors_));
  return errors_[static_cast<size_t>(index)];
}

void TBaseNode::StoreErrorCell(int32_t index, double value) {
  Require(ValidIndex(index, errors_));
  errors_[static_cast<size_t>(index)] = value;
}

// ---------------------------------------------------------------------------------------------
// TFeedForwardNode, TInputNode, TBiasNode

void TFeedForwardNode::Run(int32_t index) {
  Require(ValidIndex(index, values_));
  double sum = 0.0;
  in_links_.First();
  for (int32_t i = 0, n = in_links_.Count(); i < n; ++i) {
    sum = sum + in_links_.Current()->WeightedSourceValue(0);
    in_links_.Next();
  }
  values_[static_cast<size_t>(index)] = Transfer(sum);
}

double TFeedForwardNode::Transfer(double x) const {
  return x;
}

TInputNode::TInputNode(int32_t count) : TBaseNode(count, count) {}

TBiasNode::TBiasNode(double value) : TInputNode(1) {
  values_[0] = value;
}

double TBiasNode::GetValue(int32_t) const {
  return Cell(0);
}

void TBiasNode::SetValue(int32_t, double) {}

// ---------------------------------------------------------------------------------------------
// TBaseNetwork

namespace {

// The smallest node record (no cells) and base link record (no cells), in bytes.
constexpr int64_t kMinNodeRecordBytes = 12;
constexpr int64_t kMinLinkRecordBytes = 8;

}  // namespace

TBaseNetwork::TBaseNetwork() : TBaseNode(0, 0) {}

TBaseNetwork::~TBaseNetwork() {
  TBaseNetwork::DestroyNetwork();
}

void TBaseNetwork::Signal(int32_t value) {
  for (auto& node : nodes_) node->Signal(value);
  for (auto& link : links_) link->Signal(value);
}

void TBaseNetwork::Notify(int32_t value) {
  for (auto& node : nodes_) node->Notify(value);
}

int32_t TBaseNetwork::Disconnect(TBaseNode& from_node, TBaseNode& to_node) {
  TBaseLink* link = DetachLink(from_node, to_node);
  if (link == nullptr) return 0;
  for (auto it = links_.begin(); it != links_.end(); ++it) {
    if (it->get() == link) {
      links_.erase(it);  // releases the link; no list refers to it any more
      link_count_ = static_cast<int32_t>(links_.size());
      break;
    }
  }
  return 1;
}

void TBaseNetwork::CreateNetwork() {
  throw AbstractCallError("TBaseNetwork.CreateNetwork");
}

void TBaseNetwork::DestroyNetwork() {
  // Nodes first, then links, each in table order. A released node's lists only drop their
  // cells; the links they referred to are released right after.
  for (auto& node : nodes_) node.reset();
  std::vector<std::unique_ptr<TBaseNode>>().swap(nodes_);
  for (auto& link : links_) link.reset();
  std::vector<std::unique_ptr<TBaseLink>>().swap(links_);
  node_count_ = 0;
  link_count_ = 0;
}

void TBaseNetwork::GatherInputs() {
  throw AbstractCallError("TBaseNetwork.GatherInputs");
}

void TBaseNetwork::SaveNodesAndLinks(TStream& stream) const {
  WriteInt32(stream, static_cast<int32_t>(nodes_.size()));
  WriteInt32(stream, static_cast<int32_t>(links_.size()));
  for (const auto& node : nodes_) node->SaveToStream(stream);
  for (const auto& link : links_) link->SaveToStream(stream);
}

void TBaseNetwork::LoadNodesAndLinks(TStream& stream) {
  const int32_t node_count = ReadInt32(stream);
  const int32_t link_count = ReadInt32(stream);
  CheckStoredCounts(node_count, link_count, stream);
  Rebuild(node_count, link_count);
  LoadRecords(stream);
}

TBaseNode& TBaseNetwork::GetNode(int32_t index) const {
  Require(index >= 0 && static_cast<size_t>(index) < nodes_.size());
  return *nodes_[static_cast<size_t>(index)];
}

TBaseLink& TBaseNetwork::GetLink(int32_t index) const {
  Require(index >= 0 && static_cast<size_t>(index) < links_.size());
  return *links_[static_cast<size_t>(index)];
}

void TBaseNetwork::CheckStoredCounts(int32_t node_count, int32_t link_count,
                                     const TStream& stream) const {
  if (node_count < 0 || link_count < 0) throw NetworkStreamError("Network stream: negative count");
  if (node_count * kMinNodeRecordBytes + link_count * kMinLinkRecordBytes > stream.Remaining()) {
    throw NetworkStreamError("Network stream is shorter than its counts state");
  }
}

void TBaseNetwork::Rebuild(int32_t node_count, int32_t link_count) {
  DestroyNetwork();
  node_count_ = node_count;
  link_count_ = link_count;
  try {
    CreateNetwork();
  } catch (...) {
    DestroyNetwork();
    throw;
  }
}

void TBaseNetwork::LoadRecords(TStream& stream) {
  for (auto& node : nodes_) node->LoadFromStream(stream);
  for (auto& link : links_) link->LoadFromStream(stream);
}

void TBaseNetwork::AllocateTables() {
  Require(node_count_ >= 0 && link_count_ >= 0);
  nodes_.clear();
  links_.clear();
  nodes_.resize(static_cast<size_t>(node_count_));
  links_.resize(static_cast<size_t>(link_count_));
}

}  // namespace ocrb
