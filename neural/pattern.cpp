#include "neural/pattern.h"

#include <algorithm>

#include "neural/base.h"

namespace ocrb {
namespace {

std::vector<double> CheckedCells(int32_t count) {
  Require(count >= 0);
  return std::vector<double>(static_cast<size_t>(count), 0.0);
}

bool ValidIndex(int32_t index, const std::vector<double>& cells) {
  return index >= 0 && static_cast<size_t>(index) < cells.size();
}

}  // namespace

TPattern::TPattern(int32_t input_count, int32_t output_count)
    : inputs_(CheckedCells(input_count)), outputs_(CheckedCells(output_count)) {}

TPattern::TPattern(int32_t input_count, int32_t output_count, TStream& stream)
    : TPattern(input_count, output_count) {
  LoadFromStream(stream);
}

TPattern::TPattern(int32_t input_count, int32_t output_count, int32_t id,
                   std::span<const double> inputs, std::span<const double> outputs)
    : TPattern(input_count, output_count) {
  Require(inputs.size() >= inputs_.size() && outputs.size() >= outputs_.size());
  id_ = id;
  std::copy_n(inputs.begin(), inputs_.size(), inputs_.begin());
  std::copy_n(outputs.begin(), outputs_.size(), outputs_.begin());
}

double TPattern::GetInput(int32_t index) const {
  Require(ValidIndex(index, inputs_));
  const double value = inputs_[static_cast<size_t>(index)];
  Require(InUnitRange(value));
  return value;
}

double TPattern::GetOutput(int32_t index) const {
  Require(ValidIndex(index, outputs_));
  const double value = outputs_[static_cast<size_t>(index)];
  Require(InUnitRange(value));
  return value;
}

void TPattern::SetInput(int32_t index, double value) {
  Require(ValidIndex(index, inputs_));
  Require(InUnitRange(value));
  inputs_[static_cast<size_t>(index)] = value;
}

void TPattern::SetOutput(int32_t index, double value) {
  Require(ValidIndex(index, outputs_));
  Require(InUnitRange(value));
  outputs_[static_cast<size_t>(index)] = value;
}

int32_t TPattern::InputCount() const {
  return static_cast<int32_t>(inputs_.size());
}
int32_t TPattern::OutputCount() const {
  return static_cast<int32_t>(outputs_.size());
}

void TPattern::SaveToStream(TStream& stream) const {
  WriteInt32(stream, id_);
  for (double cell : inputs_) WriteDouble(stream, cell);
  for (double cell : outputs_) WriteDouble(stream, cell);
}

void TPattern::LoadFromStream(TStream& stream) {
  const int32_t id = ReadInt32(stream);
  std::vector<double> inputs(inputs_.size());
  std::vector<double> outputs(outputs_.size());
  for (double& cell : inputs) cell = ReadDouble(stream);
  for (double& cell : outputs) cell = ReadDouble(stream);
  id_ = id;
  inputs_ = std::move(inputs);
  outputs_ = std::move(outputs);
}

void TPattern::Notify() {}

int32_t TPattern::GetID() const {
  return id_;
}

}  // namespace ocrb
