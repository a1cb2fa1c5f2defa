// Reduction, n-wise reduction and scan: f/B f⌿B f/[K]B, A f/B and f\B f⍀B f\[K]B. A scalar
// primitive operand on a simple numeric array runs the scalar engine's kernels over whole runs of
// cells, starting with the kernel chosen for operators and restarting with a wider one when it gives
// up (+/2147483647 1 finishes in binary64); any other operand is applied item by item from the right,
// each result becoming an item of the result.
#pragma once
#include <cstdint>

#include "primitives/dispatch.h"

namespace vantor {

// f/[axis]B for other units: `operand` a function value and `array` borrowed (a root slot or a
// Temporaries entry); `axis` an axis of B (0 for a scalar). Counted result.
Ref Reduce(const Ref& operand, const Ref& array, uint32_t axis);

// The operator handlers of / ⌿ \ ⍀ with a function to their left (the axis register holds an axis
// given to the derived function).
CallResult ApplyReduceLast(const Ref& derived, const Ref& left, const Ref& right);
CallResult ApplyReduceFirst(const Ref& derived, const Ref& left, const Ref& right);
CallResult ApplyScanLast(const Ref& derived, const Ref& left, const Ref& right);
CallResult ApplyScanFirst(const Ref& derived, const Ref& left, const Ref& right);

}  // namespace vantor
