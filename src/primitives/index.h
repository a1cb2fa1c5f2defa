// Selecting items of arrays: the index generator ⍳, bracket indexing A[I;J], squad I⌷B, and the
// enclose family ⊂ ⊃ ↑ ↓ ∊ (enclose, partitioned enclose, partition, first, mix, split, pick, enlist,
// type), whose meanings ⎕ML chooses between. Selections are planned once as offset lists and then
// copied by loops specialised per element width; nested arrays are walked with explicit stacks.
// Indexed assignment (iass) shares the selection plans and the element conversion.
#pragma once
#include <cstdint>
#include <vector>

#include "primitives/dispatch.h"
#include "memory/pockutil.h"

namespace vantor {

// A planned selection from an array: the result's shape and, in result order, the ravel offsets of
// the elements it takes. The offsets are the sums of one contribution from each group, the groups
// varying like the digits of a number (the last fastest); a group with no contributions makes the
// selection empty.
struct SelectionPlan {
  std::vector<uint32_t> shape;
  std::vector<std::vector<uint32_t>> groups;
  uint64_t Count() const;
  // Calls visit(offset) for every selected element, in result order.
  template <typename Visit>
  void ForEachOffset(Visit visit) const;
};

// The plan of B[list] for `array` (borrowed): `list` is a nested vector with one item per axis, an
// item below 512 standing for the whole axis. RANK ERROR when the item count is not the rank (a
// scalar also takes one elided item), DOMAIN ERROR for an index that is not an integer, INDEX ERROR
// for one outside the axis in origin ⎕IO, LIMIT ERROR for a result above rank 15.
SelectionPlan PlanIndexing(Ref list, Ref array);

// A new array (count 1) of `type` and `shape` whose elements are those of `source` (borrowed, may be
// moved by the allocation) at the plan's offsets. Items of nested arrays are retained; a nested
// result is given in its simplest form (see Simplified).
Ref GatherSelection(const Ref& source, const SelectionPlan& plan);

// A nested array (counted, taken over) whose items are all simple scalars of one class becomes the
// simple array of their combined type, and a nested scalar holding a simple scalar becomes that
// scalar; anything else is returned as it is.
Ref Simplified(Ref nested);

// A copy (count 1) of the simple or nested array `source` (borrowed, may be moved) with its elements
// converted to `type`, which must hold them (CombinedType of the two): numbers widen, ⎕AV
// characters become their Unicode code points, and simple elements become scalar items.
Ref ConvertedCopy(const Ref& source, ElementType type);

// A new array (count 1) with the given element type and shape; data left as found (reference data
// zeroed).
Ref NewArray(ElementType type, const std::vector<uint32_t>& shape);

// Bracket indexing, the dyadic handler of code 98: `list` as for PlanIndexing. A scalar indexed by
// one elided item is returned as it is.
CallResult IndexArray(const Ref& list, const Ref& array);

// First (the first item in ravel order, disclosed; the prototype of an empty array) and mix (an array
// of arrays made one array, the axis K placing the items' axes; K 0 for none), for the units that
// build on them. Arguments borrowed and held in root slots; results counted.
Ref FirstItem(const Ref& array);
Ref MixItems(const Ref& array, const Ref& axis);

// The values of a simple numeric array as integers, in ravel order. DOMAIN ERROR for characters,
// nested items and numbers that are not integers (binary64 values within 1E¯10 of one count).
std::vector<int64_t> IntegersOf(Ref array);

// True when the handler (as the dispatch tables hold it) gives one whole item of its right argument
// under the current ⎕ML: first and pick. A selective assignment through one of them replaces that
// item by the whole value.
bool SelectsOneItem(FunctionHandler handler);
// True for dyadic ⊃ (pick).
bool IsPick(FunctionHandler handler);

// Installs ⍳ ⌷ ⊂ ⊃ ↑ ↓ ∊ (monadic; dyadic ⌷ ⊂ ⊃) and bracket indexing in the dispatch tables.
void InitialiseIndexing();

// ---- Inline definitions ----------------------------------------------------------------------------

inline uint64_t SelectionPlan::Count() const {
  uint64_t count = 1;
  for (const auto& group : groups) count *= group.size();
  return count;
}

template <typename Visit>
void SelectionPlan::ForEachOffset(Visit visit) const {
  if (groups.empty()) {
    visit(uint32_t{0});
    return;
  }
  for (const auto& group : groups)
    if (group.empty()) return;
  const size_t outerGroups = groups.size() - 1;
  std::vector<uint32_t> digit(outerGroups, 0);
  const std::vector<uint32_t>& inner = groups.back();
  for (;;) {
    uint32_t base = 0;
    for (size_t g = 0; g < outerGroups; ++g) base += groups[g][digit[g]];
    for (uint32_t contribution : inner) visit(base + contribution);
    size_t g = outerGroups;
    while (g > 0 && ++digit[g - 1] == groups[g - 1].size()) digit[--g] = 0;
    if (g == 0) return;
  }
}

}  // namespace vantor
