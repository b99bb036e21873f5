// The AVX2 form of the layer sums: four units' sums to a register, up to eight registers at
// a time, so that eight independent chains of additions are in flight. Each lane is one unit's
// sum and takes its terms in source order, with a separate multiply and add (never fused), so
// its bits are those of the portable loop. The inputs that are not 0.0 are listed four at a
// time. Built for AVX2 by a function attribute and called only when the processor has it.
#include "neural/compiled.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>

namespace ocrb::kernels {
namespace {

template <int Registers>
__attribute__((target("avx2"))) inline void Block(const double* x, const int32_t* active,
                                                  int32_t active_count, const double* weights,
                                                  int32_t stride, double* sums) {
  __m256d acc[Registers];
  for (int r = 0; r < Registers; ++r) acc[r] = _mm256_loadu_pd(sums + 4 * r);
  for (int32_t k = 0; k < active_count; ++k) {
    const int32_t s = active[k];
    const double v = x[s];
    const double* w = weights + static_cast<ptrdiff_t>(s) * stride;
    if (v == 1.0) {
      for (int r = 0; r < Registers; ++r)
        acc[r] = _mm256_add_pd(acc[r], _mm256_loadu_pd(w + 4 * r));
    } else {
      const __m256d vv = _mm256_set1_pd(v);
      for (int r = 0; r < Registers; ++r)
        acc[r] = _mm256_add_pd(acc[r], _mm256_mul_pd(vv, _mm256_loadu_pd(w + 4 * r)));
    }
  }
  for (int r = 0; r < Registers; ++r) _mm256_storeu_pd(sums + 4 * r, acc[r]);
}

template <int Registers>
__attribute__((target("avx2"))) inline void BlockAll(const double* x, int32_t count,
                                                     const double* weights, int32_t stride,
                                                     double* sums) {
  __m256d acc[Registers];
  for (int r = 0; r < Registers; ++r) acc[r] = _mm256_loadu_pd(sums + 4 * r);
  for (int32_t s = 0; s < count; ++s) {
    const __m256d v = _mm256_set1_pd(x[s]);
    const double* w = weights + static_cast<ptrdiff_t>(s) * stride;
    for (int r = 0; r < Registers; ++r)
      acc[r] = _mm256_add_pd(acc[r], _mm256_mul_pd(v, _mm256_loadu_pd(w + 4 * r)));
  }
  for (int r = 0; r < Registers; ++r) _mm256_storeu_pd(sums + 4 * r, acc[r]);
}

}  // namespace

__attribute__((target("avx2"))) int32_t ListActiveAvx2(const double* x, int32_t count,
                                                        int32_t* active) {
  // Not equal or unordered: a NaN is listed and -0.0 is not, as with x != 0.0.
  const __m256d zero = _mm256_setzero_pd();
  int32_t listed = 0;
  int32_t s = 0;
  for (; s + 4 <= count; s += 4) {
    auto mask = static_cast<unsigned>(
        _mm256_movemask_pd(_mm256_cmp_pd(_mm256_loadu_pd(x + s), zero, _CMP_NEQ_UQ)));
    for (; mask != 0; mask &= mask - 1) active[listed++] = s + __builtin_ctz(mask);
  }
  for (; s < count; ++s) {
    active[listed] = s;
    listed += x[s] != 0.0;
  }
  return listed;
}

__attribute__((target("avx2"))) void AccumulateAllAvx2(const double* x, int32_t count,
                                                       const double* weights, int32_t stride,
                                                       double* sums) {
  int32_t t = 0;
  for (; t + 32 <= stride; t += 32) BlockAll<8>(x, count, weights + t, stride, sums + t);
  for (; t + 16 <= stride; t += 16) BlockAll<4>(x, count, weights + t, stride, sums + t);
  for (; t + 4 <= stride; t += 4) BlockAll<1>(x, count, weights + t, stride, sums + t);
}

__attribute__((target("avx2"))) void AccumulateAvx2(const double* x, const int32_t* active,
                                                    int32_t active_count, const double* weights,
                                                    int32_t stride, double* sums) {
  int32_t t = 0;
  for (; t + 32 <= stride; t += 32)
    Block<8>(x, active, active_count, weights + t, stride, sums + t);
  for (; t + 16 <= stride; t += 16)
    Block<4>(x, active, active_count, weights + t, stride, sums + t);
  for (; t + 4 <= stride; t += 4) Block<1>(x, active, active_count, weights + t, stride, sums + t);
}

}  // namespace ocrb::kernels

#else

namespace ocrb::kernels {
// Without x86 vector instructions the portable loop serves; BestKernel never picks this.
int32_t ListActiveAvx2(const double* x, int32_t count, int32_t* active) {
  return ListActivePortable(x, count, active);
}
void AccumulateAvx2(const double* x, const int32_t* active, int32_t active_count,
                    const double* weights, int32_t stride, double* sums) {
  AccumulatePortable(x, active, active_count, weights, stride, sums);
}
void AccumulateAllAvx2(const double* x, int32_t count, const double* weights, int32_t stride,
                       double* sums) {
  AccumulateAllPortable(x, count, weights, stride, sums);
}
}  // namespace ocrb::kernels

#endif
