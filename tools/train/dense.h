// A dense trainer for the engine's network shape: binary inputs, one hidden layer and
// outputs, all units logistic and without bias, exactly the function the stored network
// computes. It trains on whole arrays in mini-batches, exploiting that the inputs are 0 or
// 1; the result is copied into the library's network and stored through its own stream
// writer.
#ifndef OCRB_TOOLS_TRAIN_DENSE_H_
#define OCRB_TOOLS_TRAIN_DENSE_H_

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace ocrb::train {

constexpr int kInputs = 256;

// One training example: the 256 inputs (0 or 1) and the class, or -1 for "not a character"
// (every output's target is then 0).
struct Sample {
  std::array<uint8_t, kInputs> Inputs{};
  int8_t Class = -1;
  bool Validation = false;  // held out for early stopping
};

struct TrainOptions {
  int Epochs = 40;
  int Patience = 5;  // epochs without a better validation loss before stopping
  int BatchSize = 16;
  double LearningRate = 0.5;  // per batch, on the mean gradient
  double Momentum = 0.9;
  double LearningRateDecay = 0.92;  // per epoch
  uint64_t Seed = 1;
  bool Verbose = true;
};

struct TrainReport {
  int EpochsRun = 0;
  int BestEpoch = 0;
  double BestValidationLoss = 0;
  double ValidationAccuracy = 0;  // largest output right, or all below 0.5 for non-characters
  double TrainingAccuracy = 0;
};

class DenseNet {
 public:
  DenseNet(int hidden, int outputs, uint64_t seed);

  // Hidden and output activations for Inputs (0 or 1 each).
  void Forward(const uint8_t* inputs, float* hidden, float* outputs) const;

  // Trains on the samples not marked Validation, keeping the weights of the epoch with the
  // lowest loss on those marked (cross-entropy of the logistic outputs). Without validation
  // samples every epoch counts as the best so far.
  TrainReport Train(const std::vector<Sample>& samples, const TrainOptions& options);

  int Hidden() const { return hidden_; }
  int Outputs() const { return outputs_; }
  // Weight from input S to hidden unit T, and from hidden unit S to output T.
  float W1(int t, int s) const { return w1t_[static_cast<size_t>(s) * hidden_ + t]; }
  float W2(int t, int s) const { return w2_[static_cast<size_t>(t) * hidden_ + s]; }

 private:
  double Loss(const std::vector<const Sample*>& samples, double* accuracy) const;

  int hidden_, outputs_;
  std::vector<float> w1t_;  // [input][hidden]
  std::vector<float> w2_;   // [output][hidden]
  std::mt19937_64 random_;
};

}  // namespace ocrb::train

#endif  // OCRB_TOOLS_TRAIN_DENSE_H_
