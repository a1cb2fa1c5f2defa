// The loops of vecmath for each instruction set, each compiled in its own file with that set
// enabled; vecmath calls the one the processor supports. Kept free of inline library code so that
// nothing compiled for a wider instruction set can be shared with the rest of the program.
#pragma once
#include <cstdint>

namespace vantor::vecmath_isa {

void ExpSse2(const double* in, double* out, uint64_t n);
void LogSse2(const double* in, double* out, uint64_t n);
void ExpAvx2(const double* in, double* out, uint64_t n);
void LogAvx2(const double* in, double* out, uint64_t n);
void ExpAvx512(const double* in, double* out, uint64_t n);
void LogAvx512(const double* in, double* out, uint64_t n);

}  // namespace vantor::vecmath_isa
