// The AVX-512 form of the layer sums: eight units' sums to a register and up to sixteen
// registers at a time, so that a hidden layer of 128 units is summed in one walk over the
// inputs, each input's row of weights read once. As in the AVX2 form, each lane is one unit's
// sum and takes its terms in source order with a separate multiply and add (never fused), so
// its bits are those of the portable loop. Built for AVX-512F by a function attribute and
// called only when the processor and the system have it.
#include "neural/compiled.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>

namespace ocrb::kernels {
namespace {

template <int Registers>
__attribute__((target("avx512f"))) inline void Block(const double* x, const int32_t* active,
                                                     int32_t active_count, const double* weights,
                                                     int32_t stride, double* sums) {
  __m512d acc[Registers];
  for (int r = 0; r < Registers; ++r) acc[r] = _mm512_loadu_pd(sums + 8 * r);
  for (int32_t k = 0; k < active_count; ++k) {
    const int32_t s = active[k];
    const double v = x[s];
    const double* w = weights + static_cast<ptrdiff_t>(s) * stride;
    if (v == 1.0) {
      for (int r = 0; r < Registers; ++r)
        acc[r] = _mm512_add_pd(acc[r], _mm512_loadu_pd(w + 8 * r));
    } else {
      const __m512d vv = _mm512_set1_pd(v);
      for (int r = 0; r < Registers; ++r)
        acc[r] = _mm512_add_pd(acc[r], _mm512_mul_pd(vv, _mm512_loadu_pd(w + 8 * r)));
    }
  }
  for (int r = 0; r < Registers; ++r) _mm512_storeu_pd(sums + 8 * r, acc[r]);
}

template <int Registers>
__attribute__((target("avx512f"))) inline void BlockAll(const double* x, int32_t count,
                                                        const double* weights, int32_t stride,
                                                        double* sums) {
  __m512d acc[Registers];
  for (int r = 0; r < Registers; ++r) acc[r] = _mm512_loadu_pd(sums + 8 * r);
  for (int32_t s = 0; s < count; ++s) {
    const __m512d v = _mm512_set1_pd(x[s]);
    const double* w = weights + static_cast<ptrdiff_t>(s) * stride;
    for (int r = 0; r < Registers; ++r)
      acc[r] = _mm512_add_pd(acc[r], _mm512_mul_pd(v, _mm512_loadu_pd(w + 8 * r)));
  }
  for (int r = 0; r < Registers; ++r) _mm512_storeu_pd(sums + 8 * r, acc[r]);
}

// The last four sums of a row whose stride is a multiple of four but not of eight: one register
// of which only the lanes in Lanes are read and written.
__attribute__((target("avx512f"))) inline void BlockPart(const double* x, const int32_t* active,
                                                         int32_t active_count,
                                                         const double* weights, int32_t stride,
                                                         double* sums, __mmask8 lanes) {
  __m512d acc = _mm512_maskz_loadu_pd(lanes, sums);
  for (int32_t k = 0; k < active_count; ++k) {
    const int32_t s = active[k];
    const __m512d w = _mm512_maskz_loadu_pd(lanes, weights + static_cast<ptrdiff_t>(s) * stride);
    acc = x[s] == 1.0 ? _mm512_add_pd(acc, w)
                      : _mm512_add_pd(acc, _mm512_mul_pd(_mm512_set1_pd(x[s]), w));
  }
  _mm512_mask_storeu_pd(sums, lanes, acc);
}

__attribute__((target("avx512f"))) inline void BlockAllPart(const double* x, int32_t count,
                                                            const double* weights,
                                                            int32_t stride, double* sums,
                                                            __mmask8 lanes) {
  __m512d acc = _mm512_maskz_loadu_pd(lanes, sums);
  for (int32_t s = 0; s < count; ++s) {
    const __m512d w = _mm512_maskz_loadu_pd(lanes, weights + static_cast<ptrdiff_t>(s) * stride);
    acc = _mm512_add_pd(acc, _mm512_mul_pd(_mm512_set1_pd(x[s]), w));
  }
  _mm512_mask_storeu_pd(sums, lanes, acc);
}

}  // namespace

__attribute__((target("avx512f"))) int32_t ListActiveAvx512(const double* x, int32_t count,
                                                            int32_t* active) {
  // Not equal or unordered: a NaN is listed and -0.0 is not, as with x != 0.0. Sixteen
  // inputs at a time; the indices of those listed are packed to the front and stored.
  const __m512d zero = _mm512_setzero_pd();
  const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  int32_t listed = 0;
  int32_t s = 0;
  for (; s + 16 <= count; s += 16) {
    const __mmask8 low = _mm512_cmp_pd_mask(_mm512_loadu_pd(x + s), zero, _CMP_NEQ_UQ);
    const __mmask8 high = _mm512_cmp_pd_mask(_mm512_loadu_pd(x + s + 8), zero, _CMP_NEQ_UQ);
    const __mmask16 mask = static_cast<__mmask16>(low | high << 8);
    _mm512_mask_compressstoreu_epi32(active + listed, mask,
                                     _mm512_add_epi32(lanes, _mm512_set1_epi32(s)));
    listed += __builtin_popcount(mask);
  }
  for (; s < count; ++s) {
    active[listed] = s;
    listed += x[s] != 0.0;
  }
  return listed;
}

__attribute__((target("avx512f"))) void AccumulateAvx512(const double* x, const int32_t* active,
                                                         int32_t active_count,
                                                         const double* weights, int32_t stride,
                                                         double* sums) {
  int32_t t = 0;
  for (; t + 128 <= stride; t += 128)
    Block<16>(x, active, active_count, weights + t, stride, sums + t);
  for (; t + 64 <= stride; t += 64)
    Block<8>(x, active, active_count, weights + t, stride, sums + t);
  for (; t + 8 <= stride; t += 8) Block<1>(x, active, active_count, weights + t, stride, sums + t);
  // A stride that is a multiple of four but not of eight leaves four sums.
  if (t < stride) BlockPart(x, active, active_count, weights + t, stride, sums + t, 0x0F);
}

__attribute__((target("avx512f"))) void AccumulateAllAvx512(const double* x, int32_t count,
                                                            const double* weights,
                                                            int32_t stride, double* sums) {
  int32_t t = 0;
  for (; t + 64 <= stride; t += 64) BlockAll<8>(x, count, weights + t, stride, sums + t);
  for (; t + 16 <= stride; t += 16) BlockAll<2>(x, count, weights + t, stride, sums + t);
  for (; t + 8 <= stride; t += 8) BlockAll<1>(x, count, weights + t, stride, sums + t);
  if (t < stride) BlockAllPart(x, count, weights + t, stride, sums + t, 0x0F);
}

}  // namespace ocrb::kernels

#else

namespace ocrb::kernels {
// Without x86 vector instructions the portable loop serves; BestKernel never picks this.
int32_t ListActiveAvx512(const double* x, int32_t count, int32_t* active) {
  return ListActivePortable(x, count, active);
}
void AccumulateAvx512(const double* x, const int32_t* active, int32_t active_count,
                      const double* weights, int32_t stride, double* sums) {
  AccumulatePortable(x, active, active_count, weights, stride, sums);
}
void AccumulateAllAvx512(const double* x, int32_t count, const double* weights, int32_t stride,
                         double* sums) {
  AccumulateAllPortable(x, count, weights, stride, sums);
}
}  // namespace ocrb::kernels

#endif
