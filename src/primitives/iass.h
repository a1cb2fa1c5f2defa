// Indexed assignment B[I]←V and selective assignment (f B)←V. Both check everything first, then
// replace elements in place when the variable's array is held by nothing else and already has a
// type that holds V, and otherwise build a converted copy and store it in the name. A selective
// assignment carries a selection record through the structural functions of its target expression:
// each function is applied to the record's position array (1..n in ravel order of the variable's
// value), and the final positions say which elements of the value V replaces. A variable holding a
// hashed array holds its plain array from then on (the kept search table would not describe it).
#pragma once
#include <functional>

#include "primitives/dispatch.h"
#include "memory/pockutil.h"

namespace vantor {

// B[list]←V: `entry` is the name entry of B (a variable: SYNTAX ERROR for an undefined name,
// SYNTAX ERROR "Can't change nameclass on assignment" for a name of another class); `list` as for
// IndexArray (one item per axis, below 512 for an elided one); V must have the selection's shape or
// a single element (LENGTH ERROR, RANK ERROR). Arguments borrowed.
void AssignIndexed(Ref entry, const Ref& list, const Ref& value);

// Selection records: kind-4 pockets. Word 3 the name entry, word 4 the variable's value when the
// selection began, word 5 the current position array (0 until first needed), word 6 zero; all
// counted. A flag in the type word marks positions that name one whole item (after first or pick).
inline constexpr uint32_t kSelectionRecordType = kKindRecord4 | (2u << 4);

// A new selection record (counted) for the variable or system variable named by `entry`: VALUE
// ERROR when the name has no value, SYNTAX ERROR for a name that is not a variable.
Ref MakeSelection(Ref entry);
inline bool IsSelection(Ref r) { return IsRef(r) && (TypeWord(r) & 0xFFFF) == kSelectionRecordType; }

// Applies a structural function to a selection: `handler` is called with `left` and the record's
// positions (made when first needed); the result, which must be a simple integer array (SYNTAX
// ERROR otherwise), becomes the positions of the new record returned (counted).
CallResult ApplyToSelection(FunctionHandler handler, const Ref& left, const Ref& right);

// f¨ in a selective assignment: f selects within each selected item. `select` applies f (with the
// matching item of the left argument, 0 when there is none) to a selection of one item and returns
// f's selection of it (counted); the result is a selection of elements inside the items. Each
// within an item already selected within, or within the one whole item that first or pick gave,
// is a NONCE ERROR.
using ItemSelector = std::function<Ref(const Ref& leftItem, const Ref& itemSelection)>;
CallResult SelectWithinItems(const Ref& left, const Ref& selection, const ItemSelector& select);

// The end of a selective assignment: the elements of the variable's value at the final positions
// are replaced by V (shapes as for indexed assignment; a position 0, an overtaken or expanded fill,
// takes nothing; after first or pick V replaces the whole item), and the name gets the new value.
void AssignSelection(const Ref& selection, const Ref& value);

}  // namespace vantor
