// The SLEEF loops of vecmath for AVX2 with FMA (this file is compiled with -mavx2 -mfma). The last
// partial vector is padded with 1, whose exponential and logarithm raise no flag.
#include <immintrin.h>
#include <sleef.h>

#include "primitives/vecmath_isa.h"

namespace vantor::vecmath_isa {

template <auto F>
static void Run(const double* in, double* out, uint64_t n) {
  uint64_t i = 0;
  for (; i + 4 <= n; i += 4) _mm256_storeu_pd(out + i, F(_mm256_loadu_pd(in + i)));
  if (i == n) return;
  double last[4] = {1, 1, 1, 1};
  for (uint64_t k = 0; i + k < n; ++k) last[k] = in[i + k];
  _mm256_storeu_pd(last, F(_mm256_loadu_pd(last)));
  for (uint64_t k = 0; i + k < n; ++k) out[i + k] = last[k];
}

void ExpAvx2(const double* in, double* out, uint64_t n) { Run<Sleef_expd4_u10avx2>(in, out, n); }
void LogAvx2(const double* in, double* out, uint64_t n) { Run<Sleef_logd4_u10avx2>(in, out, n); }

}  // namespace vantor::vecmath_isa
