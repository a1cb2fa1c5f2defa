// Exponential and natural logarithm of binary64 runs through the SLEEF vector library, with the
// widest vector instructions the processor offers (chosen once, at first use). The floating-point
// status the runs leave is the one the element-by-element std::exp and std::log would leave where the
// scalar engine's post-checks look: an overflow flag when an exponential is not finite, a
// divide-by-zero flag for the logarithm of 0; other flags are left as they were before the run.
#pragma once
#include <cstdint>

namespace vantor {

// out[i] = e*in[i] for i < n (in and out may be the same buffer).
void ExpRun(const double* in, double* out, uint64_t n);
// out[i] = ln in[i]; false (out then undefined) when an element is negative.
bool LogRun(const double* in, double* out, uint64_t n);

}  // namespace vantor
