// Stochastic gradient descent with momentum on the cross-entropy of logistic outputs, so the
// output error is simply target - output and saturated wrong outputs still learn. Examples
// are shuffled each epoch with the trainer's own seeded generator; nothing depends on the
// clock or on thread timing, so a run is reproducible bit for bit on one machine.
#include "tools/train/dense.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace ocrb::train {
namespace {

float Sigmoid(float x) {
  return 1.0f / (1.0f + std::exp(-x));
}

}  // namespace

DenseNet::DenseNet(int inputs, int hidden, int outputs, uint64_t seed)
    : inputs_(inputs), hidden_(hidden), outputs_(outputs), random_(seed) {
  // Scaled uniform start: keeps the first hidden sums in the logistic's working range.
  std::uniform_real_distribution<float> u1(-1.0f / std::sqrt(inputs / 8.0f),
                                           1.0f / std::sqrt(inputs / 8.0f));
  std::uniform_real_distribution<float> u2(-1.0f / std::sqrt(hidden / 4.0f),
                                           1.0f / std::sqrt(hidden / 4.0f));
  w1_.resize(static_cast<size_t>(hidden) * inputs);
  w2_.resize(static_cast<size_t>(outputs) * hidden);
  for (float& w : w1_) w = u1(random_);
  for (float& w : w2_) w = u2(random_);
}

void DenseNet::Forward(const float* x, float* h, float* o) const {
  for (int t = 0; t < hidden_; ++t) {
    const float* w = &w1_[static_cast<size_t>(t) * inputs_];
    float sum = 0;
    for (int s = 0; s < inputs_; ++s) sum += w[s] * x[s];
    h[t] = Sigmoid(sum);
  }
  for (int t = 0; t < outputs_; ++t) {
    const float* w = &w2_[static_cast<size_t>(t) * hidden_];
    float sum = 0;
    for (int s = 0; s < hidden_; ++s) sum += w[s] * h[s];
    o[t] = Sigmoid(sum);
  }
}

int DenseNet::Classify(const float* inputs, float* best) const {
  std::vector<float> h(hidden_), o(outputs_);
  Forward(inputs, h.data(), o.data());
  const int k = static_cast<int>(std::max_element(o.begin(), o.end()) - o.begin());
  if (best != nullptr) *best = o[k];
  return k;
}

double DenseNet::Loss(const std::vector<Example>& examples, size_t begin, size_t end,
                      double* accuracy) const {
  std::vector<float> h(hidden_), o(outputs_);
  double loss = 0;
  size_t right = 0;
  for (size_t i = begin; i < end; ++i) {
    const Example& e = examples[i];
    Forward(e.Inputs.data(), h.data(), o.data());
    for (int t = 0; t < outputs_; ++t) {
      const double p = std::clamp<double>(o[t], 1e-7, 1 - 1e-7);
      loss -= e.Targets[t] * std::log(p) + (1 - e.Targets[t]) * std::log(1 - p);
    }
    const int k = static_cast<int>(std::max_element(o.begin(), o.end()) - o.begin());
    const int target =
        static_cast<int>(std::max_element(e.Targets.begin(), e.Targets.end()) - e.Targets.begin());
    if (e.Targets[target] > 0.5f && k == target) ++right;
    // An example with all targets low counts as right when no output passes one half.
    if (e.Targets[target] <= 0.5f && o[k] <= 0.5f) ++right;
  }
  if (accuracy != nullptr) *accuracy = end > begin ? static_cast<double>(right) / (end - begin) : 0;
  return end > begin ? loss / (end - begin) : 0;
}

TrainReport DenseNet::Train(std::vector<Example> examples, const TrainOptions& options) {
  std::shuffle(examples.begin(), examples.end(), random_);
  const size_t validation = static_cast<size_t>(examples.size() * options.ValidationShare);
  const size_t training = examples.size() - validation;

  std::vector<float> v1(w1_.size(), 0), v2(w2_.size(), 0);
  std::vector<float> h(hidden_), o(outputs_), delta_o(outputs_), delta_h(hidden_);
  std::vector<size_t> order(training);
  std::iota(order.begin(), order.end(), size_t{0});

  TrainReport report;
  report.BestValidationLoss = Loss(examples, training, examples.size(), nullptr);
  std::vector<float> best_w1 = w1_, best_w2 = w2_;
  double rate = options.LearningRate;
  int since_best = 0;
  for (int epoch = 1; epoch <= options.Epochs; ++epoch) {
    std::shuffle(order.begin(), order.end(), random_);
    const float lr = static_cast<float>(rate);
    const float mu = static_cast<float>(options.Momentum);
    for (size_t index : order) {
      const Example& e = examples[index];
      const float* x = e.Inputs.data();
      Forward(x, h.data(), o.data());
      for (int t = 0; t < outputs_; ++t) delta_o[t] = e.Targets[t] - o[t];
      for (int s = 0; s < hidden_; ++s) {
        float sum = 0;
        for (int t = 0; t < outputs_; ++t)
          sum += delta_o[t] * w2_[static_cast<size_t>(t) * hidden_ + s];
        delta_h[s] = sum * h[s] * (1 - h[s]);
      }
      for (int t = 0; t < outputs_; ++t) {
        float* w = &w2_[static_cast<size_t>(t) * hidden_];
        float* v = &v2[static_cast<size_t>(t) * hidden_];
        const float d = lr * delta_o[t];
        for (int s = 0; s < hidden_; ++s) {
          v[s] = mu * v[s] + d * h[s];
          w[s] += v[s];
        }
      }
      for (int t = 0; t < hidden_; ++t) {
        float* w = &w1_[static_cast<size_t>(t) * inputs_];
        float* v = &v1[static_cast<size_t>(t) * inputs_];
        const float d = lr * delta_h[t];
        for (int s = 0; s < inputs_; ++s) {
          v[s] = mu * v[s] + d * x[s];
          w[s] += v[s];
        }
      }
    }
    rate *= options.LearningRateDecay;
    double train_accuracy = 0, validation_accuracy = 0;
    const double train_loss = Loss(examples, 0, std::min(training, size_t{20000}), &train_accuracy);
    const double validation_loss = Loss(examples, training, examples.size(), &validation_accuracy);
    report.EpochsRun = epoch;
    if (options.Verbose) {
      std::fprintf(stderr, "epoch %2d  train loss %.5f acc %.4f  validation loss %.5f acc %.4f\n",
                   epoch, train_loss, train_accuracy, validation_loss, validation_accuracy);
    }
    if (validation == 0 || validation_loss < report.BestValidationLoss) {
      report.BestValidationLoss = validation_loss;
      report.BestEpoch = epoch;
      report.ValidationAccuracy = validation_accuracy;
      report.TrainingAccuracy = train_accuracy;
      best_w1 = w1_;
      best_w2 = w2_;
      since_best = 0;
    } else if (++since_best >= options.Patience) {
      break;
    }
  }
  w1_ = best_w1;
  w2_ = best_w2;
  return report;
}

}  // namespace ocrb::train
