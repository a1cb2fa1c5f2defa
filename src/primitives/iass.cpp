// Indexed assignment B[I]←V and selective assignment (f B)←V. Both reduce to one step: replace the
// elements at a list of ravel offsets of the variable's array by V's elements, in place when the
// array is unshared and its type holds V, else in a copy converted to the type that holds both. All
// checks and every allocation come before the first element is replaced, so an error leaves the
// variable as it was.
#include "primitives/iass.h"

#include <algorithm>
#include <vector>

#include "language/space.h"
#include "base/errors.h"
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
// Set on a record whose positions name elements inside the items of the variable's value (made by
// f¨): each holds the item's position in the high 32 bits and the element's within the item below.
constexpr uint32_t kSelectionWithinItems = 1u << 18;
constexpr int kItemShift = 32;
// An offset that takes nothing (a position 0).
constexpr uint32_t kSkip = UINT32_MAX;

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
// else and its type holds V; otherwise the entry gets a converted, updated copy (with no entry, the
// target word itself does).
void Replace(const Ref& entry, TargetWord target, const std::vector<uint32_t>& offsets, const Ref& value,
             bool wholeItem, bool inPlaceAllowed) {
  const ElementType targetType = TypeOf(target.Get());
  const bool anything = std::any_of(offsets.begin(), offsets.end(), [](uint32_t o) { return o != kSkip; });
  if (!anything) return;  // only fill positions were selected: the array stays as it is
  const ElementType type = CombinedType(targetType, ValueType(value, wholeItem, targetType));
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
  if (inPlace) return;
  if (entry) return StoreValue(entry, hold[0]);
  Ref& word = Words(target.holder)[target.word];
  Release(word);
  word = hold.Take(0);
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


namespace {
CallResult PickThroughItem(FunctionHandler pick, const Ref& path, const Ref& selection);
CallResult SelectWithin(const Ref& left, const Ref& selection, const ItemSelector& select);
}

CallResult ApplyToSelection(FunctionHandler handler, const Ref& left, const Ref& right) {
  if (!IsSelection(right)) SIGNAL(kSyntaxError);
  if (IsPick(handler) && IsArray(left) && RankOf(TypeWord(left)) == 1 && ElementCount(left) > 1)
    return PickThroughItem(handler, left, right);
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
  const uint32_t within = TypeWord(right) & kSelectionWithinItems;  // positions may be nested then
  if (!IsArray(r) || (!within && (KindOf(TypeWord(r)) != kKindSimple || !IsIntegerType(TypeOf(r)))))
    SIGNAL(kSyntaxError);
  uint32_t type = kSelectionRecordType | within | (SelectsOneItem(handler) ? kSelectionWholeItem : 0);
  return {NewSelectionRecord(record, type)};
}

// ---- Selections within items --------------------------------------------------------------------------

namespace {

// A selection of the item at `position` (origin 1) of the record's value: positions 1..n over it.
Ref ItemSelection(const Ref& record, int64_t position) {
  Temporaries parts;
  parts[0] = Words(record)[kSelectionEntry];
  Retain(parts[0]);
  parts[1] = ElementAsScalar(Words(record)[kSelectionValue], static_cast<uint64_t>(position - 1));
  return NewSelectionRecord(parts, kSelectionRecordType);
}

// The positions of a selection made within the item at `position`, moved into the variable's ravel.
Ref PositionsWithinItem(const Ref& itemSelection, int64_t position) {
  EnsurePositions(itemSelection);
  const std::vector<int64_t> subs = IntegersOf(Words(itemSelection)[kSelectionPositions]);
  Ref r = NewArray(kInt64, ShapeVector(Words(itemSelection)[kSelectionPositions]));
  for (size_t k = 0; k < subs.size(); ++k)
    DataOf<int64_t>(r)[k] = subs[k] == 0 ? 0 : (position << kItemShift) | subs[k];
  return r;
}

// How many elements the positions name: one per element, or the elements of each array of them.
uint64_t CountLeaves(Ref positions) {
  if (KindOf(TypeWord(positions)) != kKindNested) return ElementCount(positions);
  uint64_t n = 0;
  for (uint64_t j = 0; j < ElementCount(positions); ++j) n += ElementCount(DataOf<Ref>(positions)[j]);
  return n;
}

// Pairs the positions (one per element, or one array of them per item) with V's elements: V has
// the shape of the positions (or a single element); each array of positions takes the elements of
// the matching item of V. After first or pick a single position takes the whole of V. The
// positions go to `codes`, the elements (counted) into the nested vector `elements` from `k` on.
void CollectLeaves(const Ref& positions, const Ref& value, bool wholeItem, std::vector<int64_t>& codes,
                   const Ref& elements, uint64_t& k) {
  const bool nested = KindOf(TypeWord(positions)) == kKindNested;
  const bool whole = wholeItem && RankOf(TypeWord(positions)) == 0;
  if (!whole) CheckValueShape(value, ShapeVector(positions));
  const uint64_t n = ElementCount(positions);
  const bool extend = !IsArray(value) || ElementCount(value) == 1;
  if (!nested) {
    const std::vector<int64_t> own = IntegersOf(positions);
    codes.insert(codes.end(), own.begin(), own.end());
  }
  Temporaries hold;
  for (uint64_t j = 0; j < n; ++j) {
    if (whole) {
      hold[0] = value;
      Retain(hold[0]);
    } else {
      hold[0] = ElementAsScalar(value, extend ? 0 : j);
    }
    if (!nested) {
      DataOf<Ref>(elements)[k++] = hold.Take(0);
      continue;
    }
    hold[1] = DataOf<Ref>(positions)[j];
    Retain(hold[1]);
    CollectLeaves(hold[1], hold[0], wholeItem, codes, elements, k);
    Release(hold[0]);
    Release(hold[1]);
  }
}

}  // namespace

CallResult SelectWithinItems(const Ref& left, const Ref& selection, const ItemSelector& select) {
  if (!IsSelection(selection) || IsSelection(left)) SIGNAL(kSyntaxError);
  // Each applied to items already selected within, or to one whole item, would reach a second level.
  if (TypeWord(selection) & (kSelectionWithinItems | kSelectionWholeItem)) SIGNAL(kNonceError);
  return SelectWithin(left, selection, select);
}

namespace {

// The items that `selection` selects, each selected within by `select`.
CallResult SelectWithin(const Ref& left, const Ref& selection, const ItemSelector& select) {
  EnsurePositions(selection);
  const Ref positions = Words(selection)[kSelectionPositions];
  const std::vector<uint32_t> shape = ShapeVector(positions);
  const std::vector<int64_t> items = IntegersOf(positions);
  if (left) CheckValueShape(left, shape);
  Temporaries parts;  // [0] the entry, [1] the value, [2] the new positions
  parts[2] = NewArray(kRefElement, shape);
  bool wholeItem = false;
  Temporaries call;  // [0] the left item, [1] the item's selection, [2] f's selection of it
  for (size_t j = 0; j < items.size(); ++j) {
    if (items[j] == 0) SIGNAL(kNonceError);  // an item that the selection made up (a fill)
    if (left) call[0] = ElementAsScalar(left, ElementCount(left) == 1 ? 0 : j);
    call[1] = ItemSelection(selection, items[j]);
    call[2] = select(call[0], call[1]);
    if (!IsSelection(call[2])) SIGNAL(kSyntaxError);
    wholeItem = (TypeWord(call[2]) & kSelectionWholeItem) != 0;
    Ref within = PositionsWithinItem(call[2], items[j]);
    DataOf<Ref>(parts[2])[j] = within;
    Release(call[0]);
    Release(call[1]);
    Release(call[2]);
  }
  parts[2] = Simplified(parts.Take(2));
  parts[0] = Words(selection)[kSelectionEntry];
  Retain(parts[0]);
  parts[1] = Words(selection)[kSelectionValue];
  Retain(parts[1]);
  uint32_t type = kSelectionRecordType | kSelectionWithinItems | (wholeItem ? kSelectionWholeItem : 0);
  return {NewSelectionRecord(parts, type)};
}

}  // namespace

namespace {

// Step k of a pick path as a path of its own (a one-item vector).
Ref PathStep(const Ref& path, uint64_t k) {
  Temporaries hold;
  hold[0] = NewArray(kRefElement, {1});
  DataOf<Ref>(hold[0])[0] = ElementAsScalar(path, k);
  return Simplified(hold.Take(0));
}

// (I J⊃B)←V: the first step of the path selects a whole item of B, the second selects within it.
// Deeper paths would select within an item of an item, which selections do not describe.
CallResult PickThroughItem(FunctionHandler pick, const Ref& path, const Ref& selection) {
  if (ElementCount(path) > 2 || (TypeWord(selection) & kSelectionWithinItems)) SIGNAL(kNonceError);
  Temporaries hold;
  hold[0] = PathStep(path, 0);
  hold[1] = PathStep(path, 1);
  hold[2] = ApplyToSelection(pick, hold[0], selection).value;
  return SelectWithin(0, hold[2], [&](const Ref&, const Ref& item) { return ApplyToSelection(pick, hold[1], item).value; });
}

// The end of a selective assignment through f¨: each item that holds positions is rebuilt with its
// elements replaced, then the variable's items are replaced by the rebuilt ones.
void AssignWithinItems(const Ref& entry, const Ref& selection, const Ref& value) {
  Temporaries hold;  // [0] V's elements by position, [1] an item's selection, [2] what goes into it
  hold[0] = NewArray(kRefElement, {static_cast<uint32_t>(CountLeaves(Words(selection)[kSelectionPositions]))});
  std::vector<int64_t> codes;
  uint64_t k = 0;
  CollectLeaves(Words(selection)[kSelectionPositions], value, (TypeWord(selection) & kSelectionWholeItem) != 0,
                codes, hold[0], k);
  std::vector<int64_t> items;  // the items that change, in order of first appearance
  for (int64_t code : codes)
    if (code && std::find(items.begin(), items.end(), code >> kItemShift) == items.end())
      items.push_back(code >> kItemShift);
  const uint64_t n = ElementCount(Words(selection)[kSelectionValue]);
  Temporaries rebuilt;
  rebuilt[0] = NewArray(kRefElement, {static_cast<uint32_t>(items.size())});
  std::vector<uint32_t> itemOffsets;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i] < 1 || static_cast<uint64_t>(items[i]) > n) SIGNAL(kIndexError);
    hold[1] = ItemSelection(selection, items[i]);
    std::vector<uint32_t> offsets, from;
    for (size_t leaf = 0; leaf < codes.size(); ++leaf)
      if (codes[leaf] && codes[leaf] >> kItemShift == items[i]) {
        offsets.push_back(static_cast<uint32_t>((codes[leaf] & 0xFFFFFFFF) - 1));
        from.push_back(static_cast<uint32_t>(leaf));
      }
    const Ref item = Words(hold[1])[kSelectionValue];
    for (uint32_t offset : offsets)
      if (!IsArray(item) || offset >= ElementCount(item)) SIGNAL(kIndexError);
    hold[2] = NewArray(kRefElement, {static_cast<uint32_t>(from.size())});
    for (size_t e = 0; e < from.size(); ++e) {
      Ref element = DataOf<Ref>(hold[0])[from[e]];
      Retain(element);
      DataOf<Ref>(hold[2])[e] = element;
    }
    hold[2] = Simplified(hold.Take(2));
    Replace(0, {hold[1], kSelectionValue}, offsets, hold[2], false, false);
    Release(hold[2]);
    Ref newItem = Words(hold[1])[kSelectionValue];
    Retain(newItem);
    DataOf<Ref>(rebuilt[0])[i] = newItem;
    Release(hold[1]);
    itemOffsets.push_back(static_cast<uint32_t>(items[i] - 1));
  }
  rebuilt[0] = Simplified(rebuilt.Take(0));
  Replace(entry, {selection, kSelectionValue}, itemOffsets, rebuilt[0], false, false);
}

}  // namespace

void AssignSelection(const Ref& selection, const Ref& value) {
  if (!IsSelection(selection)) SIGNAL(kSyntaxError);
  EnsurePositions(selection);
  Temporaries hold;
  hold[0] = Words(selection)[kSelectionEntry];
  Retain(hold[0]);
  CheckAssignable(hold[0]);
  if (TypeWord(selection) & kSelectionWithinItems) return AssignWithinItems(hold[0], selection, value);
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
