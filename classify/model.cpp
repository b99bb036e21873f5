// A model holds its network only as the compiled copy of the stream it was loaded from. A
// stream is judged whole before anything changes, so a refused one leaves the model as it was.
#include "classify/model.h"

#include <algorithm>
#include <utility>

#include "neural/failure.h"
#include "platform/error.h"

namespace ocrb {

void TModel::LoadNetwork(const uint8_t* data, size_t size) {
  const TStoredNetwork stored = ParseBackpropStream(data, size);
  if (data < owned_stream_.data() || data >= owned_stream_.data() + owned_stream_.size())
    owned_stream_.clear();
  stream_data_ = data;
  stream_size_ = size;
  compiled_.Compile(stored);
  reference_.reset();
}

void TModel::LoadNetwork(TStream& stream) {
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(stream.Remaining(), 0)));
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  ParseBackpropStream(bytes.data(), bytes.size());  // refuses before the model changes
  owned_stream_ = std::move(bytes);
  LoadNetwork(owned_stream_.data(), owned_stream_.size());
}

void TModel::Run() {
  if (reference_ != nullptr) {
    reference_->Run(inputs_);
    return;
  }
  if (!HasNetwork()) throw Error("No network loaded");
  // A network with fewer input nodes than the vector has cells cannot take it.
  Require(static_cast<int32_t>(inputs_.size()) <= compiled_.InputCount());
  compiled_.Run(inputs_.data(), static_cast<int32_t>(inputs_.size()),
                mode_ == TForwardMode::kCompiledPortable ? TKernel::kPortable : BestKernel());
}

double TModel::Output(int32_t index) const {
  if (reference_ != nullptr) return reference_->Output(index);
  Require(index >= 0 && index < compiled_.OutputCount());
  return compiled_.Output(index);
}

}  // namespace ocrb
