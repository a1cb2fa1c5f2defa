// Dynamic shadowing of names: a called function localises names by recording each entry's meaning
// in a LocalRecord of its localisation frame and giving the entry its local meaning (shallow
// binding); the frame's exit undoes the records in reverse order. ⎕SHADOW localises names for the
// function that calls it.
#pragma once
#include <cstdint>

#include "primitives/dispatch.h"

namespace vantor {

// LocalRecord: three words in a localisation frame.
enum LocalRecordWord : uint32_t {
  kLocalEntry = 0,       // the NameEntry, counted
  kLocalSavedValue = 1,  // the meaning the entry had (the system variable's value for class 15), counted
  kLocalSavedState = 2,  // bits 0-3 the saved class; bit 30 entry bit 29 was set; bit 31 entry bit 30 was set
  kLocalRecordWords = 3,
};
inline constexpr uint32_t kLocalSavedClassMask = 0xF;
inline constexpr uint32_t kLocalSavedLocalised = 1u << 30;
inline constexpr uint32_t kLocalSavedExposed = 1u << 31;

// Records the entry's meaning in the topmost localisation frame and gives it `newClass` and
// `newValue` (retained; for class 15 the value goes into the system variable). When the entry
// belongs to another namespace than the executing one, the entry of the same name there is used.
void LocaliseName(Ref entry, uint32_t newClass, Ref newValue);

// Exchanges the meaning saved in record i of a localisation frame (held in a root slot, since the
// exchange may allocate) with the entry's current one: class, value (the system variable's for
// class 15; for ⎕DMX the thread's error record) and flag bits 29 and 30. Applying it twice restores
// the starting state.
void UndoLocalRecord(const Ref& frame, uint32_t i);

// ⎕SHADOW names: localises each name for the calling function, undefined (a system variable keeps
// its value).
CallResult QuadSHADOW(const Ref& left, const Ref& right);

}  // namespace vantor
