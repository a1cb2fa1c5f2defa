// The search functions: A⍳B index-of, A∊B membership, A∪B union and ∪B unique, A∩B intersection,
// A~B without and A⍷B find. Items compare as = does: characters and integers exactly, binary64
// tolerantly under ⎕CT, decimals under ⎕DCT, nested items by match. A search builds a table on the
// searched argument once (a direct table, an exact hash of cells or a tolerant hash of floats,
// chosen by the element types and counts) and looks every sought cell up in it.
// The key operator A f⌸ B and f⌸ B groups the major cells of its keys with the same tables.
// A hashed array keeps the table of its array between searches (see below).
#pragma once
#include <cstdint>

#include "memory/memory1.h"
#include "memory/pockutil.h"

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
// against a nested one to items). The table itself is a workspace pocket (a small record holding the
// searched array in that type, the slots, the counts, the types and the tolerance it was built
// under), so that a hashed array or a bound search function can keep it for later searches; the
// SearchTable object holds it as a registered temporary, like any other Temporaries record.
class SearchTable {
 public:
  // Builds the table of the `cells` cells of `searched` for looking up cells of arrays of
  // `soughtType`; `soughtCells` is how many cells the caller expects to look up (at most 9 are
  // compared directly, without building a table). `searched` is borrowed and must be a root slot
  // or a Temporaries entry.
  SearchTable(const Ref& searched, uint32_t cells, uint64_t cellElements, ElementType soughtType,
              uint64_t soughtCells);
  // Looks up in a table kept from an earlier search: `kept` (borrowed) is a pocket that Kept() gave.
  explicit SearchTable(Ref kept);
  SearchTable(const SearchTable&) = delete;
  SearchTable& operator=(const SearchTable&) = delete;

  // The table's pocket, counted, for keeping it beyond this object.
  Ref Kept();
  // The number of searched cells: the answer for a cell that is not found.
  uint32_t Count() const { return count_; }
  SearchMethod Method() const { return method_; }
  // True when cells of an array of element type `soughtType` can be looked up in this table now:
  // an array of a wider type needs a table built for it, and so does a float table once ⎕CT has
  // changed.
  bool Accepts(ElementType soughtType);
  // True when the table was built over `cells` cells of `cellElements` elements (a kept table serves
  // only searches that take the searched array in the same cells).
  bool Covers(uint32_t cells, uint64_t cellElements) const { return cells == count_ && cellElements == cellElements_; }
  // For each of the `cells` cells of `sought` (borrowed; a root slot or Temporaries entry, its
  // elements in ravel order, `cellElements` per cell) the index of the first equal searched cell,
  // or Count() when none is equal. `answers` has room for `cells` entries (C++ memory: lookups
  // may allocate a converted copy of `sought`).
  void Find(const Ref& sought, uint64_t cells, uint32_t* answers);

 private:
  void MakePocket();
  void Build();
  Ref Searched() { return hold_[2]; }
  Ref Slots();
  void FindBits(Ref sought, uint64_t cells, uint32_t* answers);
  // [0] the table's pocket; [1] a converted sought array; [2] the searched array in the search type,
  // also held here so that compaction leaves its element type alone while the table is in use
  Temporaries hold_;
  uint64_t cellElements_;
  uint32_t count_;
  ElementType searchedType_;  // the searched array's own element type
  ElementType soughtType_;    // the element type the table was built for
  ElementType type_;          // the search type both arrays are brought to
  SearchMethod method_;
  double tolerance_;
};

// ---- Hashed arrays ------------------------------------------------------------------------------------
// A hashed array is a small record (kind 10, sub-type 2) holding an array (word 3) and, once a search
// has built it, that array's search table (word 4). It stands for its array everywhere: the evaluator gives every
// function the plain array, except the search functions ⍳ ∊ ∪ ∩ ~, which take a hashed array as the
// argument they search and use its kept table, building and keeping a new one when the kept table
// does not serve the search (another sought type, other cells, a changed ⎕CT).

inline constexpr uint32_t kHashedArrayType = kKindSmallRecord | (2u << 4);
inline bool IsHashedArray(Ref value) { return IsRef(value) && (TypeWord(value) & 0xFFFF) == kHashedArrayType; }
// The array a value stands for: the array of a hashed array, any other value itself (borrowed).
inline Ref PlainArray(Ref value) { return IsHashedArray(value) ? Words(value)[3] : value; }
// The counted reference `counted`, taken over, with a hashed array given way to its array (counted).
Ref TakePlainArray(Ref counted);
// A hashed array of `array` (borrowed, held in a slot), counted: a hashed array is given back as it
// is; DOMAIN ERROR for a value that is not an array.
Ref HashedArrayOf(const Ref& array);
// The search table pocket that a hashed array keeps (0 until a search has built one), borrowed.
Ref KeptTable(Ref hashed);
// 0 for a value that is not a hashed array, 1 for a hashed array without a table yet, 2 once a search
// has built its table.
uint32_t HashedState(Ref value);

// The arguments of a call with every hashed array replaced by its array, held (registered, so that
// compaction keeps them current) as long as this object lives.
class PlainArguments {
 public:
  PlainArguments(const Ref& left, const Ref& right);
  PlainArguments(const PlainArguments&) = delete;
  PlainArguments& operator=(const PlainArguments&) = delete;
  const Ref& Left() { return hold_[0]; }
  const Ref& Right() { return hold_[1]; }

 private:
  Temporaries hold_;
};

// A⍳B for other units: borrowed arguments, counted result.
Ref IndexOf(const Ref& left, const Ref& right);

// Installs dyadic ⍳ ∊ ~ ∩ ⍷ and monadic and dyadic ∪ in the dispatch tables (all but ⍷ searching
// hashed arrays with their kept tables), and the layouts of hashed arrays and kept tables.
void InitialiseSearch();

// Installs the key operator ⌸ in the evaluator's operator table: A f⌸ B calls f with each distinct
// major cell of A (in order of first appearance) and the cells of B at its occurrences, f⌸ B with
// each distinct cell of B and the indices of its occurrences; the results are mixed. ⊣ ⊢ {≢⍵} {⊂⍵}
// and {⍺,≢⍵} are answered without calling the operand.
void InitialiseKeyOperator();

}  // namespace vantor
