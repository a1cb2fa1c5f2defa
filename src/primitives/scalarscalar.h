// The scalar-with-scalar fast path of the dyadic scalar functions + - × ÷ | ∨ ∧ < ≤ = ≥ > ≠ and of
// monadic ⌈ ⌊: when both arguments are simple scalars, a routine chosen by their element types
// computes the result directly, with 64-bit intermediates, without the engine's descriptors.
#pragma once
#include <cstdint>

#include "memory/pockutil.h"

namespace vantor {

// The counted result of scalar function `code` on two borrowed arguments, or 0 when the pair is not
// one this path serves (not both simple scalars, complex or decimal values, a result that needs a
// decimal under ⎕FR 1287): the engine's driver then runs. Integer results take the narrowest type
// (small ones from the shared small-integer scalars), results beyond 32 bits become binary64, and
// an argument nobody else holds is reused for a result of its type.
Ref ScalarWithScalar(uint32_t code, const Ref& left, const Ref& right);

// Monadic ⌈ (code 6) and ⌊ (code 7) of a simple scalar, or 0 when the driver must run.
Ref ScalarFloorCeiling(uint32_t code, const Ref& right);

}  // namespace vantor
