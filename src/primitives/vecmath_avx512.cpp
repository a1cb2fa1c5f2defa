// The SLEEF loops of vecmath for AVX-512 (this file is compiled with -mavx512f). The last
// partial vector is padded with 1, whose exponential and logarithm raise no flag.
#include <immintrin.h>
#include <sleef.h>

#include "primitives/vecmath_isa.h"

namespace vantor::vecmath_isa {

template <auto F>
static void Run(const double* in, double* out, uint64_t n) {
  uint64_t i = 0;
  for (; i + 8 <= n; i += 8) _mm512_storeu_pd(out + i, F(_mm512_loadu_pd(in + i)));
  if (i == n) return;
  double last[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  for (uint64_t k = 0; i + k < n; ++k) last[k] = in[i + k];
  _mm512_storeu_pd(last, F(_mm512_loadu_pd(last)));
  for (uint64_t k = 0; i + k < n; ++k) out[i + k] = last[k];
}

void ExpAvx512(const double* in, double* out, uint64_t n) { Run<Sleef_expd8_u10avx512f>(in, out, n); }
void LogAvx512(const double* in, double* out, uint64_t n) { Run<Sleef_logd8_u10avx512f>(in, out, n); }

}  // namespace vantor::vecmath_isa
