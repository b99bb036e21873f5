// The model keeps the compiled copy of its network in step with the object graph by the
// process-wide edit count of the network library: whenever the count has moved since the copy
// was made, and the graph exists, the copy is made again before the next pass. Edits of other
// networks move the count too; they only cost a needless recompile, never a wrong answer.
#include "classify/model.h"

#include <utility>

#include "platform/error.h"

namespace ocrb {

TModel::TModel() : pattern_(std::make_unique<TPattern>(kPatternInputs, kPatternOutputs)) {}

void TModel::LoadNetwork(const uint8_t* data, size_t size) {
  // Judged whole before anything changes: a refused stream leaves the model as it was.
  const TStoredNetwork stored = ParseBackpropStream(data, size);
  graph_.reset();
  if (data < owned_stream_.data() || data >= owned_stream_.data() + owned_stream_.size())
    owned_stream_.clear();
  stream_data_ = data;
  stream_size_ = size;
  compiled_ok_ = compiled_.Compile(stored);
  graph_ran_ = false;
}

void TModel::LoadNetwork(TStream& stream) {
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(stream.Remaining(), 0)));
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  ParseBackpropStream(bytes.data(), bytes.size());  // refuses before the model changes
  owned_stream_ = std::move(bytes);
  LoadNetwork(owned_stream_.data(), owned_stream_.size());
}

void TModel::SetNetwork(std::unique_ptr<TBackpropNetwork> network) {
  Require(network != nullptr);
  graph_ = std::move(network);
  owned_stream_.clear();
  stream_data_ = nullptr;
  stream_size_ = 0;
  compiled_at_ = NetworkEditCount();
  compiled_ok_ = compiled_.Compile(*graph_);
  graph_ran_ = false;
}

TBackpropNetwork& TModel::Network() {
  if (graph_ == nullptr) {
    if (stream_data_ == nullptr) throw Error("No network loaded");
    auto graph = std::make_unique<TBackpropNetwork>();
    TReadOnlyMemoryStream stream(stream_data_, static_cast<int64_t>(stream_size_));
    graph->LoadFromStream(stream);
    graph_ = std::move(graph);
    // The compiled copy came from the same stream, so it already matches the new graph.
    compiled_at_ = NetworkEditCount();
  }
  return *graph_;
}

void TModel::Refresh() {
  if (graph_ == nullptr || compiled_at_ == NetworkEditCount()) return;
  compiled_at_ = NetworkEditCount();
  compiled_ok_ = compiled_.Compile(*graph_);
}

bool TModel::Compiled() {
  if (mode_ == TForwardMode::kObjectGraph) return false;
  Refresh();
  return compiled_ok_;
}

void TModel::Run() {
  if (!Compiled()) {
    TBackpropNetwork& network = Network();
    network.SetInputs(*pattern_);
    network.Run(0);
    graph_ran_ = true;
    // Writing the inputs counts as an edit; only edits made between passes should remake the
    // compiled copy.
    if (mode_ != TForwardMode::kObjectGraph) compiled_at_ = NetworkEditCount();
    return;
  }
  // The object graph refuses a pattern with more inputs than it has input nodes.
  Require(pattern_->InputCount() <= compiled_.InputCount());
  compiled_.Run(pattern_->InputData(), pattern_->InputCount(),
                mode_ == TForwardMode::kCompiledPortable ? TKernel::kPortable : BestKernel());
  graph_ran_ = false;
}

double TModel::Output(int32_t index) const {
  if (graph_ran_) return graph_->GetOutput(index);
  Require(index >= 0 && index < compiled_.OutputCount());
  return compiled_.Output(index);
}

}  // namespace ocrb
