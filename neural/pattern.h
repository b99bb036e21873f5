// TPattern: one presentation pattern of the network library, a vector of inputs, a vector of
// target outputs and an identifier. A network copies the inputs into its input nodes
// (SetInputs) and, when training, the outputs into its output units as targets (SetTargets).
//
// Cells written through the setters lie in -1.0..1.0; the getters check the range again on
// every read, because the stream record and the array constructor store cells unchecked.
// A failed check raises AssertionFailure (neural/base.h) and changes nothing.
#ifndef OCRB_NEURAL_PATTERN_H_
#define OCRB_NEURAL_PATTERN_H_

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/stream.h"

namespace ocrb {

class TPattern {
 public:
  // InputCount and OutputCount cells of 0.0, ID 0. Both counts must be >= 0.
  TPattern(int32_t input_count, int32_t output_count);
  // As above, then LoadFromStream(Stream).
  TPattern(int32_t input_count, int32_t output_count, TStream& stream);
  // ID and the first InputCount entries of Inputs and OutputCount entries of Outputs, copied
  // unchecked. The spans must hold at least that many entries.
  TPattern(int32_t input_count, int32_t output_count, int32_t id, std::span<const double> inputs,
           std::span<const double> outputs);
  virtual ~TPattern() = default;
  TPattern(const TPattern&) = default;
  TPattern& operator=(const TPattern&) = default;

  // Require 0 <= Index < count; the cell read must lie in -1.0..1.0.
  virtual double GetInput(int32_t index) const;
  virtual double GetOutput(int32_t index) const;
  // Require 0 <= Index < count, then -1.0 <= Value <= 1.0.
  virtual void SetInput(int32_t index, double value);
  virtual void SetOutput(int32_t index, double value);

  virtual int32_t InputCount() const;
  // Sets every input cell to 0.0.
  void ClearInputs() { std::fill(inputs_.begin(), inputs_.end(), 0.0); }
  // The input cells in order, as the setters and loading left them (no range check).
  const double* InputData() const { return inputs_.data(); }
  virtual int32_t OutputCount() const;

  // Record: ID (signed 32-bit), the inputs, the outputs (Doubles); the counts are not stored,
  // so a record is read back into a pattern made with the same counts. 4 + 8 x (InputCount +
  // OutputCount) bytes. Loading is unchecked by range and, on a short stream, raises
  // "Stream read error" and leaves the pattern unchanged.
  virtual void SaveToStream(TStream& stream) const;
  virtual void LoadFromStream(TStream& stream);

  // Does nothing.
  virtual void Notify();
  virtual int32_t GetID() const;

 private:
  std::vector<double> inputs_;
  std::vector<double> outputs_;
  int32_t id_ = 0;
};

}  // namespace ocrb

#endif  // OCRB_NEURAL_PATTERN_H_
