// Mini-batch gradient descent with momentum on the cross-entropy of logistic outputs, so
// the output error is simply target - output and saturated wrong outputs still learn. The
// inputs are binary, so the hidden sums add the weight rows of the active inputs only and
// the first layer's gradient touches only those rows. Samples are shuffled each epoch with
// the trainer's own seeded generator; nothing depends on the clock or on threads, so a run is
// reproducible bit for bit on one machine.
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

DenseNet::DenseNet(int hidden, int outputs, uint64_t seed)
    : hidden_(hidden), outputs_(outputs), random_(seed) {
  // Scaled uniform start: keeps the first hidden sums in the logistic's working range.
  std::uniform_real_distribution<float> u1(-0.25f, 0.25f);
  const float r2 = 1.0f / std::sqrt(hidden / 4.0f);
  std::uniform_real_distribution<float> u2(-r2, r2);
  w1t_.resize(static_cast<size_t>(kInputs) * hidden);
  w2_.resize(static_cast<size_t>(outputs) * hidden);
  for (float& w : w1t_) w = u1(random_);
  for (float& w : w2_) w = u2(random_);
}

void DenseNet::Forward(const uint8_t* x, float* h, float* o) const {
  std::fill(h, h + hidden_, 0.0f);
  for (int s = 0; s < kInputs; ++s) {
    if (!x[s]) continue;
    const float* row = &w1t_[static_cast<size_t>(s) * hidden_];
    for (int t = 0; t < hidden_; ++t) h[t] += row[t];
  }
  for (int t = 0; t < hidden_; ++t) h[t] = Sigmoid(h[t]);
  for (int t = 0; t < outputs_; ++t) {
    const float* w = &w2_[static_cast<size_t>(t) * hidden_];
    float sum = 0;
    for (int s = 0; s < hidden_; ++s) sum += w[s] * h[s];
    o[t] = Sigmoid(sum);
  }
}

double DenseNet::Loss(const std::vector<const Sample*>& samples, double* accuracy) const {
  std::vector<float> h(hidden_), o(outputs_);
  double loss = 0;
  size_t right = 0;
  for (const Sample* e : samples) {
    Forward(e->Inputs.data(), h.data(), o.data());
    for (int t = 0; t < outputs_; ++t) {
      const double p = std::clamp<double>(o[t], 1e-7, 1 - 1e-7);
      loss -= t == e->Class ? std::log(p) : std::log(1 - p);
    }
    const int k = static_cast<int>(std::max_element(o.begin(), o.end()) - o.begin());
    right += e->Class >= 0 ? k == e->Class : o[k] < 0.5f;
  }
  if (accuracy != nullptr)
    *accuracy = samples.empty() ? 0 : static_cast<double>(right) / samples.size();
  return samples.empty() ? 0 : loss / samples.size();
}

TrainReport DenseNet::Train(const std::vector<Sample>& samples, const TrainOptions& options) {
  std::vector<const Sample*> training, validation;
  for (const Sample& s : samples) (s.Validation ? validation : training).push_back(&s);

  const size_t n1 = w1t_.size(), n2 = w2_.size();
  std::vector<float> v1(n1, 0), v2(n2, 0), g1(n1, 0), g2(n2, 0);
  std::vector<float> h(hidden_), o(outputs_), delta_o(outputs_), delta_h(hidden_);

  TrainReport report;
  report.BestValidationLoss = validation.empty() ? 1e300 : Loss(validation, nullptr);
  std::vector<float> best_w1 = w1t_, best_w2 = w2_;
  double rate = options.LearningRate;
  int since_best = 0;
  for (int epoch = 1; epoch <= options.Epochs; ++epoch) {
    std::shuffle(training.begin(), training.end(), random_);
    const float mu = static_cast<float>(options.Momentum);
    for (size_t begin = 0; begin < training.size(); begin += options.BatchSize) {
      const size_t end = std::min(training.size(), begin + options.BatchSize);
      const float lr = static_cast<float>(rate / (end - begin));
      std::fill(g1.begin(), g1.end(), 0.0f);
      std::fill(g2.begin(), g2.end(), 0.0f);
      for (size_t i = begin; i < end; ++i) {
        const Sample& e = *training[i];
        Forward(e.Inputs.data(), h.data(), o.data());
        for (int t = 0; t < outputs_; ++t) delta_o[t] = (t == e.Class ? 1.0f : 0.0f) - o[t];
        std::fill(delta_h.begin(), delta_h.end(), 0.0f);
        for (int t = 0; t < outputs_; ++t) {
          const float* w = &w2_[static_cast<size_t>(t) * hidden_];
          float* g = &g2[static_cast<size_t>(t) * hidden_];
          for (int s = 0; s < hidden_; ++s) {
            delta_h[s] += delta_o[t] * w[s];
            g[s] += delta_o[t] * h[s];
          }
        }
        for (int s = 0; s < hidden_; ++s) delta_h[s] *= h[s] * (1 - h[s]);
        for (int s = 0; s < kInputs; ++s) {
          if (!e.Inputs[s]) continue;
          float* g = &g1[static_cast<size_t>(s) * hidden_];
          for (int t = 0; t < hidden_; ++t) g[t] += delta_h[t];
        }
      }
      for (size_t k = 0; k < n1; ++k) {
        v1[k] = mu * v1[k] + lr * g1[k];
        w1t_[k] += v1[k];
      }
      for (size_t k = 0; k < n2; ++k) {
        v2[k] = mu * v2[k] + lr * g2[k];
        w2_[k] += v2[k];
      }
    }
    rate *= options.LearningRateDecay;
    double train_accuracy = 0, validation_accuracy = 0;
    std::vector<const Sample*> probe(training.begin(),
                                     training.begin() + std::min<size_t>(training.size(), 20000));
    const double train_loss = Loss(probe, &train_accuracy);
    const double validation_loss = Loss(validation, &validation_accuracy);
    report.EpochsRun = epoch;
    if (options.Verbose) {
      std::fprintf(stderr, "epoch %2d  train loss %.5f acc %.4f  validation loss %.5f acc %.4f\n",
                   epoch, train_loss, train_accuracy, validation_loss, validation_accuracy);
    }
    if (validation.empty() || validation_loss < report.BestValidationLoss) {
      report.BestValidationLoss = validation_loss;
      report.BestEpoch = epoch;
      report.ValidationAccuracy = validation_accuracy;
      report.TrainingAccuracy = train_accuracy;
      best_w1 = w1t_;
      best_w2 = w2_;
      since_best = 0;
    } else if (++since_best >= options.Patience) {
      break;
    }
  }
  w1t_ = best_w1;
  w2_ = best_w2;
  return report;
}

}  // namespace ocrb::train
