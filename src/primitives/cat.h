// The structural functions that rearrange the items of arrays: ⍴ (shape, reshape), , and ⍪ (ravel,
// table, catenate, laminate), dyadic ↑ ↓ (take, drop), ⌽ ⊖ (reverse, rotate), ⍉ (transpose) and
// / ⌿ \ ⍀ used as functions (replicate, expand). Results never exceed rank 15; fill items come from
// the prototype of the argument (same); every check is made before anything is allocated or changed.
#pragma once
#include "memory/pockutil.h"

namespace vantor {

// A⍴B for other units: `shape` and `array` borrowed, the result counted.
Ref Reshape(Ref shape, Ref array);

// A,B for other units: `left` is a root-block slot or a Temporaries entry holding a counted
// reference, `right` is borrowed, the result counted. When the slot holds the only reference to a
// vector that can grow where it lies, the result is that pocket grown (the slot then refers to it
// too); otherwise the slot is left as it was.
Ref Catenated(Ref& left, Ref right);

// A↑B or A↓B (`drop`) for other units, with the axes `axis` (0: none); borrowed arguments, counted
// result.
Ref TakeOrDrop(Ref counts, Ref array, Ref axis, bool drop);

// Installs the functions of this unit in the dispatch tables.
void InitialiseStructure();

}  // namespace vantor
