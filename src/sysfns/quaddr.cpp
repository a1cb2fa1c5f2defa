// ⎕DR. The rows of an array lie one after another in its data (Booleans packed most significant
// bit first), so reading a row's bits as another type is reading the whole data as that type: the
// conversion is one copy, followed by a check that the new elements are valid.
#include "sysfns/quaddr.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "language/dmx.h"
#include "primitives/dispatch.h"
#include "base/errors.h"
#include "memory/pockutil.h"

namespace vantor {

static constexpr char kUnit[] = "quaddr";

namespace {

constexpr uint16_t kNestedCode = 326;

// The element type of a code that ⎕DR can convert to.
bool TargetType(int64_t code, ElementType& type) {
  for (ElementType t : {kBool, kInt8, kInt16, kInt32, kFloat64, kComplex, kChar8, kChar16, kChar32})
    if (kElementInfo[t].dr == code) {
      type = t;
      return true;
    }
  return false;
}

uint32_t BitsOf(ElementType type) { return 1u << kElementInfo[type].log2Bits; }

// Whether the data of `array` (of a type just made by copying bits) holds valid elements.
bool ValidElements(Ref array) {
  const uint64_t n = ElementCount(array);
  switch (ElementOf(TypeWord(array))) {
    case kFloat64:
      for (uint64_t i = 0; i < n; ++i)
        if (!std::isfinite(DataOf<double>(array)[i])) return false;
      return true;
    case kComplex:
      for (uint64_t i = 0; i < 2 * n; ++i)
        if (!std::isfinite(DataOf<double>(array)[i])) return false;
      return true;
    case kChar32:
      for (uint64_t i = 0; i < n; ++i)
        if (DataOf<uint32_t>(array)[i] > 0x10FFFF) return false;
      return true;
    default: return true;
  }
}

CallResult MonadicDR(const Ref&, const Ref& right) {
  if (!IsRef(right) || KindOf(TypeWord(right)) != kKindSimple) return {MakeIntScalar(kNestedCode)};
  Narrow(right);
  return {MakeIntScalar(DrCode(right))};
}

CallResult DyadicDR(const Ref& left, const Ref& right) {
  std::vector<int64_t> code;
  ElementType target;
  if (!IsRef(left) || !ReadIntegers(left, code) || code.size() != 1 || !TargetType(code[0], target))
    SIGNAL(kDomainError);
  if (!IsRef(right) || KindOf(TypeWord(right)) != kKindSimple || ElementOf(TypeWord(right)) == kCharAv ||
      ElementOf(TypeWord(right)) == kDecimal128)
    SIGNAL(kDomainError);
  Narrow(right);
  const uint32_t type = TypeWord(right);
  const uint32_t rank = std::max(RankOf(type), 1u);
  const uint64_t count = ElementCount(right);
  const uint64_t rowLength = RankOf(type) == 0 ? 1 : ShapeOf(right)[rank - 1];
  const uint64_t rowBits = rowLength * BitsOf(ElementOf(type));
  if (rowBits % BitsOf(target) != 0) SIGNAL(kDomainError);
  const uint64_t newRowLength = rowBits / BitsOf(target);
  if (newRowLength > 0xFFFFFFFFull) SIGNAL(kLimitError);
  const uint64_t rows = rowLength == 0 ? 0 : count / rowLength;
  Temporaries hold;
  hold[0] = AllocArray(target, rank, rows * newRowLength);
  for (uint32_t axis = 0; axis + 1 < rank; ++axis) ShapeOf(hold[0])[axis] = ShapeOf(right)[axis];
  ShapeOf(hold[0])[rank - 1] = static_cast<uint32_t>(newRowLength);
  const uint64_t bytes = (rows * rowBits + 7) / 8;
  std::memcpy(DataOf<uint8_t>(hold[0]), DataOf<uint8_t>(right), bytes);
  if (!ValidElements(hold[0])) SIGNAL(kDomainError);
  return {hold.Take(0)};
}

}  // namespace

void InitialiseDataRepresentation() { InstallSystemFunction(U"DR", MonadicDR, DyadicDR); }

}  // namespace vantor
