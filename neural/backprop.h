// The layered back-propagation network: fully connected logistic units, trained one pattern
// at a time with momentum. It derives from the ADALINE network for its input handling but owns
// no bias node: a unit's net input is the plain weighted sum of the layer before it.
//
// Cells: an input node holds its input; a unit holds output, learning rate and momentum in its
// value cells and, in error cell 0, its target before Learn and its delta after it; a link
// holds its weight and its previous step. Every unit carries its own learning rate and
// momentum; the network's fields only seed them when units are created.
//
// Node table: the inputs, then each hidden layer, then the output layer, each layer one
// contiguous run. Link table: layer pair by layer pair, destination-major, so the link from
// source s to destination t of pair L is Links[offset(L) + t x size[L] + s].
#ifndef OCRB_NEURAL_BACKPROP_H_
#define OCRB_NEURAL_BACKPROP_H_

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "neural/adaline.h"
#include "neural/compiled.h"
#include "neural/logistic.h"

namespace ocrb {

// A feed-forward node with the logistic transfer.
class TBPNode : public TFeedForwardNode {
 public:
  TBPNode(int32_t value_count, int32_t error_count);
  double Transfer(double x) const override;
};

// Two cells: weight (RandomWeight(-1.0, 1.0)) and previous step (0.0).
class TBPLink : public TBaseLink {
 public:
  // Requires ValueCount >= 2; networks pass 2.
  explicit TBPLink(int32_t value_count);
  // Record: ID and weight only; loading leaves the previous step as it is.
  void SaveToStream(TStream& stream) const override;
  void LoadFromStream(TStream& stream) override;
  // weight := (weight + Step) + m x previous step, m being the destination's momentum (its
  // value cell 2); previous step := Step. No range check.
  void UpdateWeight(double step) override;
};

// An output unit. Hidden units (TBPMiddleNode) differ only in ComputeDelta.
class TBPOutputNode : public TBPNode {
 public:
  // Requires ValueCount >= 3 and ErrorCount >= 1; value cells 1 and 2 := LearningRate and
  // Momentum, unchecked. Networks pass 3 and 1.
  TBPOutputNode(int32_t value_count, double learning_rate, double momentum, int32_t error_count);

  // Error cell 0 := ComputeDelta; then for each in-link from the head,
  // UpdateWeight(source output x (learning rate x delta)).
  void Learn() override;
  // ((1 - o) x o) x (t - o), o the output and t the target in error cell 0.
  virtual double ComputeDelta();

 protected:
  int32_t UsedValueCount() const override { return 3; }
  int32_t UsedErrorCount() const override { return 1; }
};

// A hidden unit.
class TBPMiddleNode : public TBPOutputNode {
 public:
  using TBPOutputNode::TBPOutputNode;
  // ((1 - o) x o) x S, S the sum over the out-links from the head of the destination's delta
  // x weight (weights as the downstream units have already changed them in this pass).
  double ComputeDelta() override;
};

class TBackpropNetwork : public TADALINENetwork {
 public:
  // No layers, no nodes, no links.
  TBackpropNetwork();
  // Requires LayerCount >= 2, LayerSizes holding at least LayerCount entries, every size >= 1,
  // and node and link totals that fit in 32 bits. Builds the layers with random weights; the
  // units take LearningRate and Momentum.
  TBackpropNetwork(int32_t layer_count, double learning_rate, double momentum,
                   const std::vector<int32_t>& layer_sizes);

  // A network read from the named file. Learning rate and momentum fields stay 0.0; the units
  // take theirs from the stream. The file is closed whether loading succeeds or not.
  static std::unique_ptr<TBackpropNetwork> CreateFromFile(const std::string& file_name);

  using TADALINENetwork::Run;
  // GatherInputs, then Run(0) on every unit in table order (hidden layers, then outputs).
  void Run(int32_t index) override;
  // Takes targets from the network's own OutLinks when it has any; then Learn on every unit
  // from the last node of the table back to the first hidden unit.
  void Learn() override;
  // Stream: ID, LayerCount, LayerSizes, NodeCount, LinkCount, node records, link records.
  // Loading checks the whole header before touching the network and refuses
  // (NetworkStreamError, network unchanged) a layer count outside 2..kMaxLayerCount, a size
  // < 1, counts that are not the sums the sizes give, or a stream too short for the records.
  // It then rebuilds the network from the stored sizes and loads every record; a record that
  // is short or states fewer cells than its node uses raises, leaving a network of the new
  // shape with the records read so far.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  // GetOutput(Index), so that links leaving a nested network read its outputs.
  double GetValue(int32_t index) const override;
  // Error cell 0 of output unit Index: its target before Learn, its delta after.
  double GetError(int32_t index) const override;
  void CreateNetwork() override;
  void DestroyNetwork() override;

  // Output of output unit Index; requires 0 <= Index < output count.
  double GetOutput(int32_t index) const;
  // Requires 0 <= Index < output count and -1.0 <= Value <= 1.0.
  virtual void SetTarget(int32_t index, double value);
  // SetTarget(i, Pattern.GetOutput(i)) for every output unit; the pattern needs that many.
  virtual void SetTargets(const TPattern& pattern);

  int32_t LayerCount() const { return static_cast<int32_t>(layer_sizes_.size()); }
  // Requires 0 <= Index < LayerCount.
  int32_t LayerSize(int32_t index) const;
  int32_t FirstHidden() const { return first_hidden_; }
  int32_t FirstOutput() const { return first_output_; }
  int32_t OutputCount() const { return LayerCount() > 0 ? layer_sizes_.back() : 0; }
  double GetMomentum() const { return momentum_; }
  // Size of the input layer.
  int32_t InputCount() const override;

  // Largest layer count a stream may state (the stream parser's limit).
  static constexpr int32_t kMaxLayerCount = kMaxStoredLayers;

 protected:
  void CheckStoredCounts(int32_t node_count, int32_t link_count,
                         const TStream& stream) const override;

 private:
  TBaseNode& OutputNode(int32_t index) const;

  std::vector<int32_t> layer_sizes_;
  int32_t first_hidden_ = 0;
  int32_t first_output_ = 0;
  double momentum_ = 0.0;
};

// The input values and weights of Network in the stored form the compiled pass is made from,
// or nothing when Network is not a plain layered one: every input a plain input node and every
// unit a logistic unit fed by every node of the layer before, in source order, through
// back-propagation links. Weights that are not finite are copied as they are.
std::optional<TStoredNetwork> LayeredWeights(const TBackpropNetwork& network);

}  // namespace ocrb

#endif  // OCRB_NEURAL_BACKPROP_H_
