// The non-scalar numeric functions: decode A⊥B (the value of digits B in the mixed radix A), encode
// A⊤B (the digits of B in the radix A) and matrix divide A⌹B and inverse ⌹B (least squares in
// binary64). Decode and encode compute exactly in 64-bit integers when they can, else in binary64,
// decimal128 (⎕FR 1287) or complex numbers, with the tolerant residue of the scalar kernels.
#pragma once

namespace vantor {

// Enters ⊥ (45), ⊤ (46) and ⌹ (49) in the evaluator's dispatch tables. Called once at start-up.
void InitialiseEncode();

}  // namespace vantor
