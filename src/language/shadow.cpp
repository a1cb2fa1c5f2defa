// Dynamic shadowing: LocaliseName records an entry's meaning in the topmost localisation frame and
// gives it the local one; UndoLocalRecord swaps them back when the frame ends (and again when a
// thread's stack is resumed). A class-15 entry stands for a system variable, so its meaning is the
// variable's value rather than the entry's value slot. ⎕SHADOW localises names for its caller.
#include "language/shadow.h"

#include <utility>

#include "language/dmx.h"
#include "language/qsym.h"
#include "language/space.h"
#include "language/stack.h"
#include "base/errors.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "shadow";

namespace {

// The saved-state word of a record: the class and entry bits 29 and 30 (as record bits 30 and 31).
uint32_t StateOf(uint32_t flags) {
  uint32_t state = (flags & kEntryClassMask) >> kEntryClassShift;
  if (flags & kEntryLocalisedFlag) state |= kLocalSavedLocalised;
  if (flags & kEntryExposedFlag) state |= kLocalSavedExposed;
  return state;
}

uint32_t FlagsWithState(uint32_t flags, uint32_t state) {
  flags &= ~(kEntryClassMask | kEntryLocalisedFlag | kEntryExposedFlag);
  flags |= (state & kLocalSavedClassMask) << kEntryClassShift;
  if (state & kLocalSavedLocalised) flags |= kEntryLocalisedFlag;
  if (state & kLocalSavedExposed) flags |= kEntryExposedFlag;
  return flags;
}

// The entry of the same name in the executing namespace, created when needed.
Ref ExecutingEntryFor(Ref entry) {
  Ref executing = ExecutingNamespace();
  if (EntryNamespace(entry) == executing) return entry;
  uint32_t systemVariable = Words(entry)[kEntryFlags] & kEntrySysVarMask;
  std::u32string name = EntryName(entry);
  SpaceScope scope(executing);
  Ref local = LookupName(name, LookupMode::Create);
  Words(local)[kEntryFlags] |= systemVariable;
  return local;
}

// A system variable's meaning: its value, and for ⎕DMX the thread's error record, which the errors
// unit keeps outside the variable's slot.
Ref SavedMeaning(uint32_t k) { return k == kQuadDMX ? DmxRecordValue() : ReadSystemVariable(k); }
Ref ExchangeMeaning(uint32_t k, Ref value) {
  return k == kQuadDMX ? ExchangeDmxRecord(value) : ExchangeSystemVariable(k, value);
}

}  // namespace

void LocaliseName(Ref entry, uint32_t newClass, Ref newValue) {
  Temporaries held;
  held[0] = newValue;
  Retain(newValue);
  entry = ExecutingEntryFor(entry);
  held[1] = entry;
  Retain(entry);
  uint32_t flags = Words(entry)[kEntryFlags];
  bool systemVariable = newClass == kNameSystemVariable || EntryClass(entry) == kNameSystemVariable;
  uint32_t k = EntrySystemVariable(entry);
  Ref saved = systemVariable ? SavedMeaning(k) : EntryValue(entry);
  if (!systemVariable) Retain(saved);
  held[2] = saved;
  AppendLocalRecord(held[1], held[2], StateOf(flags));
  entry = held[1];
  uint32_t& entryFlags = Words(entry)[kEntryFlags];
  entryFlags = (entryFlags & ~kEntryClassMask) | (newClass << kEntryClassShift) | kEntryLocalisedFlag;
  if (systemVariable) {
    ReleaseRef(ExchangeMeaning(k, held.Take(0)));
  } else {
    Ref old = EntryValue(entry);
    Words(entry)[kEntryValue] = held.Take(0);
    ReleaseRef(old);
  }
}

void UndoLocalRecord(const Ref& frame, uint32_t i) {
  auto record = [&] { return Words(frame) + kLocalFirstWord + kLocalRecordWords * i; };
  Ref entry = record()[kLocalEntry];
  uint32_t state = record()[kLocalSavedState];
  uint32_t& flags = Words(entry)[kEntryFlags];
  uint32_t currentClass = EntryClass(entry);
  record()[kLocalSavedState] = StateOf(flags);
  flags = FlagsWithState(flags, state);
  if (currentClass != kNameSystemVariable && (state & kLocalSavedClassMask) != kNameSystemVariable) {
    std::swap(record()[kLocalSavedValue], Words(entry)[kEntryValue]);
    return;
  }
  uint32_t k = EntrySystemVariable(entry);
  Temporaries saved;
  saved[0] = std::exchange(record()[kLocalSavedValue], 0);
  Ref current = SavedMeaning(k);
  record()[kLocalSavedValue] = current;
  ReleaseRef(ExchangeMeaning(k, saved.Take(0)));
}

CallResult QuadSHADOW(const Ref&, const Ref& right) {
  for (const std::u32string& name : NameListArgument(right)) {
    if (const SystemNameEntry* system = FindQuadName(name)) {
      if (system->cls != kSystemVariable) SIGNAL(kDomainError);
      uint32_t k = SystemNameNumber(*system);
      Temporaries value;
      value[0] = ReadSystemVariable(k);
      Ref entry = SystemVariableEntry(k);
      LocaliseName(entry, kNameSystemVariable, value[0]);
    } else {
      if (!IsValidName(name)) SIGNAL(kDomainError);
      LocaliseName(LookupName(name, LookupMode::Create), kNameUndefined, 0);
    }
  }
  return {};
}

}  // namespace vantor
