// Depth, match and tally (≡ ≢), and what every structural function shares about the items of an
// array: the prototype (the fill item of take, expand and overtaking reshape), the fill element of a
// simple type, and the element type that holds the elements of two arrays. Nested arrays are walked
// with explicit stacks, so a value nested 100,000 deep is handled like any other.
#pragma once
#include <cstdint>

#include "memory/pockutil.h"

namespace vantor {

// The element type of a result that holds elements of types `a` and `b`: the same type; for two
// numeric types the one of higher promotion rank (Boolean < 8 < 16 < 32 < 64-bit integer < binary64
// = decimal128 < complex; binary64 with decimal128 gives the type ⎕FR names); for two character
// types the wider one (⎕AV characters are widened to at least 16 bits, since their code points may
// lie above 255); a numeric type with a character type, or any reference type, gives references.
ElementType CombinedType(ElementType a, ElementType b);

// The element type an array contributes to a combination: its own, except that the shared scalars
// 0 and 1 count as Boolean.
ElementType ContributedType(Ref array);

// The raw fill element of a simple element type (16 bytes, enough for every width): 0 for numbers
// (the decimal zero for decimal128), the blank for characters (its ⎕AV position for ⎕AV characters).
struct RawElement {
  alignas(16) uint8_t bytes[16];
};
RawElement SimpleFill(ElementType type);

// `array` (borrowed) with every number replaced by 0 and every character by a blank, the nesting
// kept; counted. Simple numeric results are Boolean, simple character results keep their type.
Ref ZeroedCopy(Ref array);

// The prototype of an array (borrowed): its first item, or for an empty array its fill item, made
// with ZeroedCopy; counted. This is the item take, expand and reshape pad with. A reference below
// 512 or a non-array item (a namespace, a function) counts as the number 0.
Ref Prototype(Ref array);

// Depth: 0 for a simple scalar, 1 + the greatest item depth otherwise, negative when the items'
// depths differ.
int32_t Depth(Ref array);

// Match: same rank, shape, nesting and items, numbers compared tolerantly (⎕CT, ⎕DCT for decimals),
// characters exactly; empty arrays also compare their prototypes.
bool Match(Ref a, Ref b);

// Installs ≡ and ≢ in the dispatch tables.
void InitialiseSame();

}  // namespace vantor
