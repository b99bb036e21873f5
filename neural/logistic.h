// The transfer of every back-propagation unit, shared by the object model and the compiled
// forward pass so that both call the very same code.
#ifndef OCRB_NEURAL_LOGISTIC_H_
#define OCRB_NEURAL_LOGISTIC_H_

#include <cmath>

namespace ocrb {

// The logistic 1 / (1 + e^-X) in Double. For X >= 37 it is exactly 1.0 and for X <= -710 exactly
// 0.0; those ends are answered without the exponential, so no overflow is raised there.
// (exp(-X) < 2^-53 for X >= 37, so 1 + exp(-X) rounds to 1.0; exp(-X) overflows to infinity
// for X <= -710.)
inline double Logistic(double x) {
  if (x >= 37.0) return 1.0;
  if (x <= -710.0) return 0.0;
  return 1.0 / (1.0 + std::exp(-x));
}

}  // namespace ocrb

#endif  // OCRB_NEURAL_LOGISTIC_H_
