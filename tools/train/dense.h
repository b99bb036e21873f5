// A dense trainer for the engine's network shape: inputs, one hidden layer and outputs, all
// units logistic and without bias, exactly the function the stored network computes. It
// trains on whole arrays for speed; the result is copied into the library's network and
// stored through its own stream writer.
#ifndef OCRB_TOOLS_TRAIN_DENSE_H_
#define OCRB_TOOLS_TRAIN_DENSE_H_

#include <cstdint>
#include <random>
#include <vector>

namespace ocrb::train {

struct Example {
  std::vector<float> Inputs;   // 0 or 1 each
  std::vector<float> Targets;  // one per output
};

struct TrainOptions {
  int Epochs = 40;
  int Patience = 6;            // epochs without a better validation loss before stopping
  double LearningRate = 0.05;  // per example, stochastic gradient descent
  double Momentum = 0.9;
  double LearningRateDecay = 0.93;  // per epoch
  double ValidationShare = 0.1;
  uint64_t Seed = 1;
  bool Verbose = true;
};

struct TrainReport {
  int EpochsRun = 0;
  int BestEpoch = 0;
  double BestValidationLoss = 0;
  double ValidationAccuracy = 0;  // share of validation examples whose largest output is right
  double TrainingAccuracy = 0;
};

class DenseNet {
 public:
  DenseNet(int inputs, int hidden, int outputs, uint64_t seed);

  // Hidden and output activations for Inputs.
  void Forward(const float* inputs, float* hidden, float* outputs) const;
  // Largest output's index (ties: the lowest) and its value.
  int Classify(const float* inputs, float* best = nullptr) const;

  // Trains on Examples with a held-out validation share, keeping the weights of the epoch
  // with the lowest validation loss (cross-entropy of the logistic outputs).
  TrainReport Train(std::vector<Example> examples, const TrainOptions& options);

  int Inputs() const { return inputs_; }
  int Hidden() const { return hidden_; }
  int Outputs() const { return outputs_; }
  // Weight from input S to hidden unit T is W1[T * Inputs + S]; from hidden S to output T
  // is W2[T * Hidden + S].
  const std::vector<float>& W1() const { return w1_; }
  const std::vector<float>& W2() const { return w2_; }

 private:
  double Loss(const std::vector<Example>& examples, size_t begin, size_t end,
              double* accuracy) const;

  int inputs_, hidden_, outputs_;
  std::vector<float> w1_, w2_;
  std::mt19937_64 random_;
};

}  // namespace ocrb::train

#endif  // OCRB_TOOLS_TRAIN_DENSE_H_
