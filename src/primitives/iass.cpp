// Indexed assignment B[I]←V and selective assignment (f B)←V. Both reduce to one step: replace the
// elements at a list of ravel offsets of the variable's array by V's elements, in place when the
// array is unshared and its type holds V, else in a copy converted to the type that holds both. All
// checks and every allocation come before the first element is replaced, so an error leaves the
// variable as it was.
#include "primitives/iass.h"

#include <algorithm>
#include <vector>

#include "language/space.h"
#include "language/trap.h"
#include "memory/memory1.h"
#include "primitives/index.h"
#include "primitives/key.h"
#include "primitives/same.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "iass";

namespace {

enum SelectionWord : uint32_t {
  kSelectionEntry = 3,
  kSelectionValue = 4,
  kSelectionPositions = 5,
  kSelectionWords = 7,
};
// Set on a record whose positions name one whole item (made by first or pick).
constexpr uint32_t kSelectionWholeItem = 1u << 17;
// An offset that takes nothing (a position 0).
constexpr uint32_t kSkip = UINT32_MAX;

bool IsArray(Ref r) { return IsRef(r) && IsArrayKind(KindOf(TypeWord(r))); }
ElementType TypeOf(Ref r) { return ElementOf(TypeWord(r)); }

std::vector<uint32_t> ShapeVector(Ref r) {
  const uint32_t* shape = ShapeOf(r);
  return std::vector<uint32_t>(shape, shape + RankOf(TypeWord(r)));
}

// V against the shape of what it replaces: the same shape, or a single element that extends.
void CheckValueShape(Ref value, const std::vector<uint32_t>& shape) {
  if (!IsArray(value) || ElementCount(value) == 1) return;
  if (RankOf(TypeWord(value)) != shape.size()) SIGNAL(kRankError);
  if (!std::equal(shape.begin(), shape.end(), ShapeOf(value))) SIGNAL(kLengthError);
}

// ---- Replacing elements -----------------------------------------------------------------------------

struct Wide16 {
  uint64_t low, high;
};

template <typename T>
void ScatterWidth(Ref target, Ref values, const std::vector<uint32_t>& offsets, bool single) {
  T* d = DataOf<T>(target);
  const T* v = DataOf<T>(values);
  for (size_t k = 0; k < offsets.size(); ++k)
    if (offsets[k] != kSkip) d[offsets[k]] = v[single ? 0 : k];
}

void ScatterBits(Ref target, Ref values, const std::vector<uint32_t>& offsets, bool single) {
  uint8_t* d = DataOf<uint8_t>(target);
  const uint8_t* v = DataOf<uint8_t>(values);
  for (size_t k = 0; k < offsets.size(); ++k)
    if (offsets[k] != kSkip) SetBit(d, offsets[k], GetBit(v, single ? 0 : k));
}

// Items: the new one is counted before the old one is dropped (they may be the same pocket).
void ScatterItems(Ref target, Ref values, const std::vector<uint32_t>& offsets, bool single) {
  for (size_t k = 0; k < offsets.size(); ++k) {
    if (offsets[k] == kSkip) continue;
    Ref item = DataOf<Ref>(values)[single ? 0 : k];
    Retain(item);
    Ref old = DataOf<Ref>(target)[offsets[k]];
    DataOf<Ref>(target)[offsets[k]] = item;
    ReleaseRef(old);
  }
}

using ScatterFn = void (*)(Ref target, Ref values, const std::vector<uint32_t>& offsets, bool single);
constexpr ScatterFn kScatterByType[kElementTypeCount] = {
    ScatterWidth<uint8_t>,   // ⎕AV character
    ScatterBits,             // Boolean
    ScatterWidth<uint8_t>,   // int8
    ScatterWidth<uint16_t>,  // int16
    ScatterWidth<uint32_t>,  // int32
    ScatterWidth<uint64_t>,  // binary64
    ScatterItems,            // references
    ScatterWidth<uint8_t>,   // char8
    ScatterWidth<uint16_t>,  // char16
    ScatterWidth<uint32_t>,  // char32
    ScatterWidth<Wide16>,    // complex
    ScatterWidth<uint64_t>,  // internal
    ScatterWidth<Wide16>,    // decimal128
    ScatterWidth<uint64_t>,  // int64
};

// The name gets its new value (a system variable through its checks).
void StoreValue(Ref entry, Ref value) {
  if (EntryClass(entry) == kNameSystemVariable) AssignSystemVariable(EntrySystemVariable(entry), value);
  else SetEntry(entry, kNameVariable, value);
}

// The element type of what V puts into the array; `wholeItem`: V goes in as one item.
ElementType ValueType(Ref value, bool wholeItem, ElementType targetType) {
  if (!IsArray(value)) return kRefElement;
  const bool simpleScalar = KindOf(TypeWord(value)) == kKindSimple && RankOf(TypeWord(value)) == 0;
  if (wholeItem) return simpleScalar ? ContributedType(value) : kRefElement;
  if (ElementCount(value) == 0) return targetType;
  return ContributedType(value);
}

// V's elements as an array of `type` (counted): V itself when it already is one, a nested scalar
// holding V when V goes in as one item (or is not an array).
Ref ValuesOfType(const Ref& value, ElementType type, bool asItem) {
  if (asItem) {
    Ref holder = NewArray(kRefElement, {});
    Retain(value);
    DataOf<Ref>(holder)[0] = value;
    return holder;
  }
  if (TypeOf(value) == type) {
    Retain(value);
    return value;
  }
  return ConvertedCopy(value, type);
}

// The array being assigned: word `word` of pocket `holder` (a name entry or a selection record).
struct TargetWord {
  const Ref& holder;
  uint32_t word;
  Ref Get() const { return Words(holder)[word]; }
};

// Replaces the elements at `offsets` (in order; kSkip takes nothing) of the target array by V's
// elements (a single one extends), in place when `inPlaceAllowed` and the array is held by nothing
// else and its type holds V; otherwise the entry gets a converted, updated copy.
void Replace(const Ref& entry, TargetWord target, const std::vector<uint32_t>& offsets, const Ref& value,
             bool wholeItem, bool inPlaceAllowed) {
  const ElementType targetType = TypeOf(target.Get());
  const bool anything = std::any_of(offsets.begin(), offsets.end(), [](uint32_t o) { return o != kSkip; });
  const ElementType type = anything ? CombinedType(targetType, ValueType(value, wholeItem, targetType)) : targetType;
  const bool asItem = !IsArray(value) || (wholeItem && type == kRefElement);
  Temporaries hold;
  hold[1] = ValuesOfType(value, type, asItem);
  const Ref current = target.Get();
  const bool inPlace =
      inPlaceAllowed && RefCount(current) == 1 && !(TypeWord(current) & kMappedFlag) && type == targetType;
  hold[2] = current;
  Retain(current);
  hold[0] = inPlace ? hold.Take(2) : ConvertedCopy(hold[2], type);
  kScatterByType[type](hold[0], hold[1], offsets, ElementCount(hold[1]) == 1);
  TypeWord(hold[0]) &= ~kNarrowedFlag;
  if (!inPlace) StoreValue(entry, hold[0]);
}

// ---- Selection records ------------------------------------------------------------------------------

// A record from the counted references in parts[0] (entry), parts[1] (value) and parts[2]
// (positions), which it takes over.
Ref NewSelectionRecord(Temporaries& parts, uint32_t type) {
  Ref record = GetSpace(kSelectionWords);
  uint32_t* w = Words(record);
  w[1] = 1;
  w[2] = type;
  w[kSelectionEntry] = parts.Take(0);
  w[kSelectionValue] = parts.Take(1);
  w[kSelectionPositions] = parts.Take(2);
  w[6] = 0;
  return record;
}

// The record's position array: 1 2 ... n in ravel order of its value, with the value's shape.
void EnsurePositions(const Ref& record) {
  if (Words(record)[kSelectionPositions]) return;
  Ref value = Words(record)[kSelectionValue];
  std::vector<uint32_t> shape = IsArray(value) ? ShapeVector(value) : std::vector<uint32_t>{};
  uint64_t n = IsArray(value) ? ElementCount(value) : 1;
  if (n > INT32_MAX) SIGNAL(kLimitError);
  Ref positions = NewArray(kInt32, shape);
  int32_t* d = DataOf<int32_t>(positions);
  for (uint64_t i = 0; i < n; ++i) d[i] = static_cast<int32_t>(i + 1);
  Words(record)[kSelectionPositions] = positions;
}

bool IsIntegerType(ElementType t) { return t == kBool || t == kInt8 || t == kInt16 || t == kInt32 || t == kInt64; }

// A hashed array changed in place gives way to its plain array in the name: its kept search table
// would no longer describe it.
void UnhashVariable(Ref entry) {
  Ref value = EntryValue(entry);
  if (IsHashedArray(value)) SetEntry(entry, kNameVariable, PlainArray(value));
}

// The entry of a selection must still name a variable when the value is assigned.
void CheckAssignable(Ref entry) {
  uint32_t cls = EntryClass(entry);
  if (cls != kNameVariable && cls != kNameSystemVariable)
    SIGNAL_MESSAGE(kSyntaxError, U"Can't change nameclass on assignment");
}

}  // namespace

void AssignIndexed(Ref entry, const Ref& list, const Ref& value) {
  Temporaries hold;
  hold[0] = entry;
  Retain(entry);
  const uint32_t cls = EntryClass(entry);
  if (cls == kNameUndefined) SIGNAL(kSyntaxError);
  if (cls != kNameVariable) SIGNAL_MESSAGE(kSyntaxError, U"Can't change nameclass on assignment");
  UnhashVariable(entry);
  const Ref array = EntryValue(entry);
  if (!IsArray(array)) SIGNAL(kRankError);
  const SelectionPlan plan = PlanIndexing(list, array);
  CheckValueShape(value, plan.shape);
  std::vector<uint32_t> offsets;
  offsets.reserve(plan.Count());
  plan.ForEachOffset([&](uint32_t offset) { offsets.push_back(offset); });
  Replace(hold[0], {hold[0], kEntryValue}, offsets, value, false, true);
}

Ref MakeSelection(Ref entry) {
  Temporaries hold;
  hold[0] = entry;
  Retain(entry);
  const uint32_t cls = EntryClass(entry);
  if (cls == kNameSystemVariable) {
    hold[1] = ReadSystemVariable(EntrySystemVariable(entry));
  } else if (cls == kNameVariable) {
    UnhashVariable(entry);
    hold[1] = EntryValue(entry);
    Retain(hold[1]);
  } else if (cls != kNameUndefined) {
    SIGNAL_MESSAGE(kSyntaxError, U"Can't change nameclass on assignment");
  }
  if (!hold[1]) SIGNAL(kValueError);
  return NewSelectionRecord(hold, kSelectionRecordType);
}


CallResult ApplyToSelection(FunctionHandler handler, const Ref& left, const Ref& right) {
  if (!IsSelection(right)) SIGNAL(kSyntaxError);
  EnsurePositions(right);
  Temporaries record;  // [0] the entry, [1] the value of the record, [2] the new positions
  record[0] = Words(right)[kSelectionEntry];
  Retain(record[0]);
  record[1] = Words(right)[kSelectionValue];
  Retain(record[1]);
  // The arguments go into the call registers, as CallPrimitive does (either may be in one of them).
  Temporaries saved;
  saved[2] = left;
  Retain(left);
  Ref positions = Words(right)[kSelectionPositions];
  Retain(positions);
  saved[0] = WorkingSlot(kSlotCallLeft);
  saved[1] = WorkingSlot(kSlotCallRight);
  WorkingSlot(kSlotCallLeft) = saved.Take(2);
  WorkingSlot(kSlotCallRight) = positions;
  CallResult result = handler(WorkingSlot(kSlotCallLeft), WorkingSlot(kSlotCallRight));
  record[2] = result.value;
  Release(WorkingSlot(kSlotCallLeft));
  Release(WorkingSlot(kSlotCallRight));
  WorkingSlot(kSlotCallLeft) = saved.Take(0);
  WorkingSlot(kSlotCallRight) = saved.Take(1);
  Ref r = record[2];
  if (!IsRef(r) || KindOf(TypeWord(r)) != kKindSimple || !IsIntegerType(TypeOf(r))) SIGNAL(kSyntaxError);
  uint32_t type = kSelectionRecordType | (SelectsOneItem(handler) ? kSelectionWholeItem : 0);
  return {NewSelectionRecord(record, type)};
}

void AssignSelection(const Ref& selection, const Ref& value) {
  if (!IsSelection(selection)) SIGNAL(kSyntaxError);
  EnsurePositions(selection);
  Temporaries hold;
  hold[0] = Words(selection)[kSelectionEntry];
  Retain(hold[0]);
  CheckAssignable(hold[0]);
  const Ref target = Words(selection)[kSelectionValue];
  if (!IsArray(target)) SIGNAL(kSyntaxError);
  const Ref positions = Words(selection)[kSelectionPositions];
  const bool wholeItem = (TypeWord(selection) & kSelectionWholeItem) != 0;
  if (!wholeItem) CheckValueShape(value, ShapeVector(positions));
  const uint64_t n = ElementCount(target);
  std::vector<uint32_t> offsets;
  for (int64_t p : IntegersOf(positions)) {
    if (p < 0 || static_cast<uint64_t>(p) > n) SIGNAL(kIndexError);
    offsets.push_back(p == 0 ? kSkip : static_cast<uint32_t>(p - 1));
  }
  Replace(hold[0], {selection, kSelectionValue}, offsets, value, wholeItem, false);
}

}  // namespace vantor
