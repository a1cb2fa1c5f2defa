// Binary64 matrix products through OpenBLAS, loaded when first needed: a process that never
// multiplies matrices never starts the library's threads.
#pragma once
#include <cstdint>

namespace vantor {

// c = a × b for row-major matrices a (rows × inner), b (inner × columns) and c (rows × columns), on
// up to `threads` threads. False (c untouched) when the library cannot be loaded or a length does
// not fit its 32-bit sizes.
bool MultiplyMatrices(uint64_t rows, uint64_t inner, uint64_t columns, const double* a, const double* b, double* c,
                      uint32_t threads);

}  // namespace vantor
