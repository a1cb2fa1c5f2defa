// The operators: the rows through which the evaluator applies every derived function of a primitive
// operator, and the operators themselves except reduction and scan (the scan unit): each ¨, outer
// product ∘.f, inner product f.g, commute ⍨, compose ∘, power ⍣ and rank ⍤, with the identity
// elements that reductions of empty axes produce and the collecting of results item by item.
#pragma once
#include <cstdint>
#include <vector>

#include "primitives/dispatch.h"
#include "memory/memory1.h"

namespace vantor {

// The primitive code of a function value that is a primitive (seen through wrappers that only name
// it), or 0 for any other function.
uint32_t PrimitiveCodeOf(Ref fn);

// True when `code` is a dyadic scalar (pervasive) primitive.
bool IsDyadicScalarCode(uint32_t code);

// True for an operand that is an array (also a hashed one) rather than a function.
bool IsArrayOperand(Ref operand);

// The item that reducing an empty axis with `operand` gives for every cell, counted: 0 or 1 for the
// arithmetic and Boolean functions, the largest or most negative finite number for ⌊ and ⌈ (by ⎕FR),
// an empty array of `array`'s prototype for , and ⍪, an empty vector for ∪. DOMAIN ERROR when the
// operand has no identity.
Ref IdentityItem(Ref operand, const Ref& array);

// An integer vector holding `values` (a shape to reshape to), counted.
Ref IntegerVector(const std::vector<uint32_t>& values);

// An array of `shape` whose every item is `item` (borrowed), counted: simple when the item is a simple
// scalar.
Ref FilledWith(const std::vector<uint32_t>& shape, const Ref& item);

// The item at ravel position `index` of `array`, or its only item when it has one (single-item
// extension), counted; an argument that is not an array is its own item.
Ref ItemAt(const Ref& array, uint64_t index);

// The shape of the result of f¨ (and the like) on `left` and `right`: the right argument's shape
// for a monadic call (`left` 0); else a single item extends, two single items give the higher rank
// (the right on a tie), and otherwise the shapes must agree (RANK or LENGTH ERROR).
std::vector<uint32_t> ItemsShape(const Ref& left, const Ref& right);

// f⍣g: whether g's result (borrowed) says to stop: 1 or 0, else LENGTH or DOMAIN ERROR.
bool PowerTestPasses(const Ref& result);

// f⍤k: the cells of each argument that the rank operand selects, as nested arrays of the frames'
// shapes, into the slots `leftCells` (left unset for a monadic call) and `rightCells` (root slots).
// The errors of a bad rank operand or argument are signalled here.
void RankCells(const Ref& derived, const Ref& left, const Ref& right, Ref& leftCells, Ref& rightCells);

// Results of applying an operand item by item, gathered into an array of a given shape. Items are
// stored as they come; the finished array is simple when every item is a simple scalar of one class.
class ItemCollector {
 public:
  explicit ItemCollector(const std::vector<uint32_t>& shape);
  ItemCollector(const ItemCollector&) = delete;
  ItemCollector& operator=(const ItemCollector&) = delete;
  uint64_t Count() const { return count_; }
  // Stores the counted `item` (taken over) at ravel position `index`.
  void Put(uint64_t index, Ref item);
  // The finished array, counted. For an empty array `fill` (borrowed) is what its prototype is made
  // from (numbers become 0, characters blanks).
  Ref Finish(const Ref& fill);

 private:
  Temporaries hold_;  // [0] the nested array being filled
  std::vector<uint32_t> shape_;
  uint64_t count_;
};

// The counted result of applying the function value `fn` (borrowed) to borrowed arguments (`left` 0
// for a monadic call); VALUE ERROR when the function gives no result.
Ref ResultOf(const Ref& fn, const Ref& left, const Ref& right);

// Installs the operator rows (including reduction and scan) in the evaluator's operator table.
void InitialiseOperators();

}  // namespace vantor
