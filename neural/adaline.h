// The ADALINE network: input nodes and a constant bias node all feeding one sign unit. The
// back-propagation network (neural/backprop.h) derives from it and reuses its input handling.
//
// Cells: an input node holds its input in value cell 0; the bias node holds 1.0; the ADALINE
// node holds its output (+1.0 or -1.0) and its learning rate, and the error of its last Learn;
// an ADALINE link holds its weight.
#ifndef OCRB_NEURAL_ADALINE_H_
#define OCRB_NEURAL_ADALINE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "neural/base.h"
#include "neural/pattern.h"

namespace ocrb {

// The sign unit: two value cells (output, learning rate) and one error cell.
class TADALINENode : public TFeedForwardNode {
 public:
  // Learning rate 0.0.
  TADALINENode();
  // Requires -1.0 <= LearningRate <= 1.0.
  explicit TADALINENode(double learning_rate);

  // Error := -2.0 x output; then for each in-link from the head,
  // UpdateWeight(source output x learning rate x error), which requires each step to lie in
  // -1.0..1.0 (steps made before a failing one stay).
  void Learn() override;
  // +1.0 when X > 0.0, else -1.0.
  double Transfer(double x) const override;

 protected:
  int32_t UsedValueCount() const override { return 2; }
  int32_t UsedErrorCount() const override { return 1; }
};

// One cell, the weight, drawn from RandomWeight(-1.0, 1.0).
class TADALINELink : public TBaseLink {
 public:
  TADALINELink();
  // Record: ID, weight, ID of the source node, ID of the destination node (-1 for an end that
  // is not attached). Loading reads the two node identifiers and discards them.
  void SaveToStream(TStream& stream) const override;
  void LoadFromStream(TStream& stream) override;
};

// Table layout for N nodes: inputs 0..N-3, the bias node N-2, the ADALINE node N-1; link j
// joins node j to the ADALINE node, so N-1 links.
class TADALINENetwork : public TBaseNetwork {
 public:
  // No nodes and no links.
  TADALINENetwork();
  // InputCount inputs (>= 0), learning rate 0.0.
  explicit TADALINENetwork(int32_t input_count);
  TADALINENetwork(int32_t input_count, double learning_rate);

  // A network read from the named file (an ADALINE stream). Raises the stream's error when the
  // file cannot be opened; the file is closed whether loading succeeds or not.
  static std::unique_ptr<TADALINENetwork> CreateFromFile(const std::string& file_name);

  // GatherInputs, then Run(0) on the ADALINE node. Index plays no part.
  void Run(int32_t index) override;
  void Run() { Run(0); }
  // Learn on the ADALINE node.
  void Learn() override;
  // Network ID, then SaveNodesAndLinks / LoadNodesAndLinks. A stream is refused
  // (NetworkStreamError, network unchanged) unless NodeCount >= 2, LinkCount = NodeCount - 1
  // and the stream holds at least the records these counts need.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  // Output of the ADALINE node, which must lie in -1.0..1.0; Index plays no part.
  double GetValue(int32_t index) const override;
  void CreateNetwork() override;
  // The i-th link of the network's own InLinks (from the head) feeds SetInput(i, ...);
  // nothing happens when that list is empty.
  void GatherInputs() override;

  // Requires 0 <= Index < the number of input nodes and -1.0 <= Value <= 1.0; writes input
  // node Index.
  virtual void SetInput(int32_t index, double value);
  // Requires 1 <= Pattern.InputCount() <= the number of input nodes; writes the pattern's
  // inputs into the first input nodes, in order.
  virtual void SetInputs(const TPattern& pattern);

  double GetLearningRate() const { return learning_rate_; }
  // Input nodes of the network: NodeCount - 2 here.
  virtual int32_t InputCount() const;

 protected:
  void CheckStoredCounts(int32_t node_count, int32_t link_count,
                         const TStream& stream) const override;

  double learning_rate_ = 0.0;
};

}  // namespace ocrb

#endif  // OCRB_NEURAL_ADALINE_H_
