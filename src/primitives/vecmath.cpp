// Exponential and logarithm runs: picks the SLEEF loop for the processor's widest vector instructions
// (the SSE2 loops here, the AVX2 and AVX-512 ones in their own files) and puts the floating-point
// status into the state the scalar functions would leave.
#include "primitives/vecmath.h"

#include <cmath>
#include <immintrin.h>
#include <sleef.h>

#include "primitives/vecmath_isa.h"

namespace vantor {

namespace vecmath_isa {

template <auto F>
static void Run(const double* in, double* out, uint64_t n) {
  uint64_t i = 0;
  for (; i + 2 <= n; i += 2) _mm_storeu_pd(out + i, F(_mm_loadu_pd(in + i)));
  if (i < n) out[i] = _mm_cvtsd_f64(F(_mm_set_pd(1.0, in[i])));
}

void ExpSse2(const double* in, double* out, uint64_t n) { Run<Sleef_expd2_u10sse2>(in, out, n); }
void LogSse2(const double* in, double* out, uint64_t n) { Run<Sleef_logd2_u10sse2>(in, out, n); }

}  // namespace vecmath_isa

namespace {

using RunFn = void (*)(const double* in, double* out, uint64_t n);
struct Routines {
  RunFn exp, log;
};

Routines Choose() {
  using namespace vecmath_isa;
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return {ExpAvx512, LogAvx512};
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return {ExpAvx2, LogAvx2};
  return {ExpSse2, LogSse2};
}

const Routines& Chosen() {
  static const Routines routines = Choose();
  return routines;
}

// The library's intermediate steps may raise flags that std::exp and std::log would not: the run's
// flags are dropped and the meaningful ones raised afterwards by arithmetic on the SSE unit, whose
// status word the scalar engine reads.
class StatusKept {
 public:
  StatusKept() : saved_(_mm_getcsr()) {}
  ~StatusKept() { _mm_setcsr(saved_); }
  StatusKept(const StatusKept&) = delete;
  StatusKept& operator=(const StatusKept&) = delete;

 private:
  unsigned saved_;
};

void RaiseOverflow() {
  volatile double huge = 1E308;
  huge = huge * huge;
}

void RaiseDivideByZero() {
  volatile double zero = 0;
  zero = 1 / zero;
}

}  // namespace

void ExpRun(const double* in, double* out, uint64_t n) {
  {
    StatusKept status;
    Chosen().exp(in, out, n);
  }
  bool overflow = false;
  for (uint64_t i = 0; i < n; ++i) overflow |= std::isinf(out[i]);
  if (overflow) RaiseOverflow();
}

bool LogRun(const double* in, double* out, uint64_t n) {
  bool negative = false, zero = false;
  for (uint64_t i = 0; i < n; ++i) {
    negative |= in[i] < 0;
    zero |= in[i] == 0;
  }
  if (negative) return false;
  {
    StatusKept status;
    Chosen().log(in, out, n);
  }
  if (zero) RaiseDivideByZero();
  return true;
}

}  // namespace vantor
