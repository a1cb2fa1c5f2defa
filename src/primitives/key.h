// The search functions: A⍳B index-of, A∊B membership, A∪B union and ∪B unique, A∩B intersection,
// A~B without and A⍷B find. Items compare as = does: characters and integers exactly, binary64
// tolerantly under ⎕CT, decimals under ⎕DCT, nested items by match. A search builds a table on the
// searched argument once (a direct table, an exact hash of cells or a tolerant hash of floats,
// chosen by the element types and counts) and looks every sought cell up in it.
// The key operator A f⌸ B and f⌸ B groups the major cells of its keys with the same tables.
#pragma once
#include <cstdint>

#include "memory/memory1.h"

namespace vantor {

// How a table finds cells. The element types of the two arrays decide it (see SearchTable).
enum class SearchMethod : uint8_t {
  kNeverEqual,  // characters against numbers: nothing is found
  kEmptyCells,  // cells of no elements: every cell equals the first
  kBits,        // a Boolean vector searched for Booleans: the first 0 and the first 1
  kLinear,      // each sought cell compared with the searched cells in order (few sought cells,
                // complex and decimal items)
  kNested,      // nested and mixed items: hashed by their shapes and characters, compared by match
  kDirect8,     // 1-byte cells: a table of 256 first positions
  kDirect16,    // 2-byte cells: a table of 65536 first positions
  kWord32,      // 4-byte exact cells hashed as one 32-bit word
  kWord64,      // 8-byte exact cells (64-bit integers, binary64 under ⎕CT 0) hashed as one word
  kCells,       // other exact cells hashed as strings of bytes
  kTolerant,    // binary64 cells under a nonzero ⎕CT: masked-key tolerant hashing of the first
                // element, whole cells compared tolerantly
};

// A search table over the cells of one array, built once and consulted for any number of sought
// arrays. The searched array's elements are taken in ravel order in cells of `cellElements`
// elements (the major cells for A⍳B, single elements for A∊B). Both arrays are brought to one
// element type first (numbers to the wider type, characters to the wider width, a simple array
// against a nested one to items); the table keeps the searched array in that type and its table
// pocket as registered temporaries, so it lives on the C++ stack like any other Temporaries record.
class SearchTable {
 public:
  // Builds the table of the `cells` cells of `searched` for looking up cells of arrays of
  // `soughtType`; `soughtCells` is how many cells the caller expects to look up (at most 9 are
  // compared directly, without building a table). `searched` is borrowed and must be a root slot
  // or a Temporaries entry.
  SearchTable(const Ref& searched, uint32_t cells, uint64_t cellElements, ElementType soughtType,
              uint64_t soughtCells);
  SearchTable(const SearchTable&) = delete;
  SearchTable& operator=(const SearchTable&) = delete;

  // The number of searched cells: the answer for a cell that is not found.
  uint32_t Count() const { return count_; }
  SearchMethod Method() const { return method_; }
  // True when cells of an array of element type `soughtType` can be looked up in this table now:
  // an array of a wider type needs a table built for it, and so does a float table once ⎕CT has
  // changed.
  bool Accepts(ElementType soughtType) const;
  // For each of the `cells` cells of `sought` (borrowed; a root slot or Temporaries entry, its
  // elements in ravel order, `cellElements` per cell) the index of the first equal searched cell,
  // or Count() when none is equal. `answers` has room for `cells` entries (C++ memory: lookups
  // may allocate a converted copy of `sought`).
  void Find(const Ref& sought, uint64_t cells, uint32_t* answers);

 private:
  void Build();
  void FindBits(Ref sought, uint64_t cells, uint32_t* answers);
  Temporaries hold_;  // [0] the searched array in the search type, [1] the table, [2] a converted sought array
  uint64_t cellElements_;
  uint32_t count_;
  ElementType searchedType_;  // the searched array's own element type
  ElementType soughtType_;    // the element type the table was built for
  ElementType type_;          // the search type both arrays are brought to
  SearchMethod method_;
  double tolerance_;
};

// A⍳B for other units: borrowed arguments, counted result.
Ref IndexOf(const Ref& left, const Ref& right);

// Installs dyadic ⍳ ∊ ~ ∩ ⍷ and monadic and dyadic ∪ in the dispatch tables.
void InitialiseSearch();

// Installs the key operator ⌸ in the evaluator's operator table: A f⌸ B calls f with each distinct
// major cell of A (in order of first appearance) and the cells of B at its occurrences, f⌸ B with
// each distinct cell of B and the indices of its occurrences; the results are mixed. ⊣ ⊢ {≢⍵} {⊂⍵}
// and {⍺,≢⍵} are answered without calling the operand.
void InitialiseKeyOperator();

}  // namespace vantor
