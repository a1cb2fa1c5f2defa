// The workspace heap: up to 16 spaces, each one reserved address range committed as it grows, tiled
// by blocks whose first word is their size (negative while in use). Next-fit allocation with merging
// on the way, lazy freeing of unreferenced count-0 pockets, resize and shrink in place, the root
// block at the start of every space, and the chain of registered temporaries that lets compaction
// (memory2) move pockets that C++ code is holding.
#pragma once
#include <atomic>
#include <csignal>
#include <cstdint>

#include "memory/pockutil.h"

namespace vantor {

inline constexpr uint32_t kSpaceCount = 16;
inline constexpr uint32_t kMainSpace = 4;
inline constexpr uint32_t kMinimumWorkspaceBytes = 4u * 1024 * 1024;
inline constexpr uint32_t kRootBlockWords = 128;     // at offset 0 of every space
inline constexpr uint32_t kRootBlockFileBytes = 576; // the root block as workspace files carry it

// Word indexes into the root block. Words 0-2 are a pocket header (size -128, kind 0) so that the
// block reads as an in-use pocket; the first real pocket of a space starts at byte 512.
enum RootWord : uint32_t {
  kRootWorkingSlots = 3,  // eleven three-word working slots: reference, two companion words
  kWorkingSlotCount = 11,
  kRootGlobals = kRootWorkingSlots + 3 * kWorkingSlotCount,  // 36: every word from here is a reference slot
  kRootSymbolList = kRootGlobals,
  kRootCurrentNamespace,
  kRootEmptyCharVector,
  kRootEmptyNumericVector,
  kRootScalarZero,
  kRootScalarOne,
  kRootAlphabet,
  kRootDigits,
  kRootSmallIntCache,
  kRootLastResult,
  // Each unit names its root words inside its own range (an enum in the unit's header).
  kRootStackWords = 46,      // state indicator: 6 words
  kRootScanWords = 52,       // tokeniser: 4 words
  kRootNameWords = 56,       // names and namespaces: 8 words
  kRootSysVarWords = 64,     // system variables: 8 words
  kRootErrorWords = 72,      // errors and ⎕DMX: 4 words
  kRootFirstFree = 76,       // not yet given to a unit
};

// A working slot's first companion word may point into the pocket that the slot references (a
// cursor); resize and compaction keep such a pointer pointing at the same place.
inline uint32_t& RootWordAt(uint32_t index) { return reinterpret_cast<uint32_t*>(g_heapBase)[index]; }
inline uint32_t& WorkingSlot(uint32_t slot) { return RootWordAt(kRootWorkingSlots + 3 * slot); }
inline uint32_t& WorkingCursor(uint32_t slot) { return RootWordAt(kRootWorkingSlots + 3 * slot + 1); }

// A record of references held by running C++ code. Register it with Temporaries (below).
struct TempRecord {
  Ref refs[3] = {0, 0, 0};
  Ref* extra = nullptr;    // optional further references (a descriptor of a buffer)
  uint32_t extraCount = 0;
  TempRecord* next = nullptr;
};

using WsFullHookFn = void (*)(uint32_t requestedWords);

struct SpaceDescriptor {
  uint8_t* base = nullptr;     // start of the reserved range; the root block lives here
  uint64_t reservedBytes = 0;  // size of the reservation
  uint32_t limitBytes = 0;     // MAXWS for this space
  uint32_t maxEnd = 0;         // the furthest the end sentinel may move
  uint32_t begin = 0;          // first block (byte offset)
  uint32_t end = 0;            // offset of the end sentinel
  uint32_t committed = 0;      // bytes committed from the base
  uint32_t rover = 0;          // where the next search starts
  uint32_t lowWater = 0;       // no free block lies below it
  WsFullHookFn wsFullHook = nullptr;
  TempRecord* temporaries = nullptr;
  bool inUse = false;
};

extern SpaceDescriptor* g_space;  // the current space
// Interrupt requests, set from the break signal's handler: a weak one (the first break) and a
// strong one (a second break while the first is still pending).
extern volatile sig_atomic_t g_weakInterrupt;
extern std::atomic<bool> g_interruptPending;
extern bool g_interruptOnAllocation;
// Signals INTERRUPT for a pending strong interrupt and clears both requests, so that the next line
// runs undisturbed. The test is inline, so that long loops of the primitives can make it every few
// thousand steps at no measurable cost.
[[noreturn]] void SignalStrongInterrupt();
inline void CheckStrongInterrupt() {
  if (g_interruptPending.load(std::memory_order_relaxed)) SignalStrongInterrupt();
}
// Loops of cheap steps make the strong-interrupt test once per this many steps.
inline constexpr uint64_t kInterruptStride = 65536;
// Runs step(i) for i from 0 to n−1, making the test before every kInterruptStride steps; the steps
// themselves stay a plain loop that the compiler can vectorise.
template <class Step>
void ForEachInterruptibly(uint64_t n, Step&& step) {
  for (uint64_t start = 0; start < n; start += kInterruptStride) {
    CheckStrongInterrupt();
    const uint64_t end = n - start < kInterruptStride ? n : start + kInterruptStride;
    for (uint64_t i = start; i < end; ++i) step(i);
  }
}
// A test mode (diagnostic bit 8): every allocation compacts the heap first, so that any pocket
// address that C++ code keeps across an allocation without registering it goes stale at once.
extern bool g_compactOnAllocation;

// Reserves `bytes` of address space for a space (at `baseAddress` when not 0) and makes it usable:
// root block, one free block, end sentinel. Returns false when the range cannot be had.
bool ObtainSpace(uint32_t index, uint64_t bytes, uintptr_t baseAddress);
// Gives a space's range back to the system.
void ReleaseSpace(uint32_t index);
// Creates the shared constant pockets of the main space (empty vectors, 0 and 1, ⎕A, ⎕D, the
// small-integer cache). Called once the main space exists.
void InitialiseHeap();
// Reads the range of the small-integer cache from its first and last items (after a load).
void RefreshSmallIntCacheRange();

// Moves the space at index `from` to index `to` (releasing what was there), as when a workspace
// read into a spare space replaces the main one. No temporaries may be registered on it.
void AdoptSpace(uint32_t from, uint32_t to);
// Commits the current space up to its first block plus `imageBytes` and the end word, so that an
// image of that many bytes can be read there; false when it would pass the space's limit.
bool CommitImage(uint64_t imageBytes);
// The image read at the first block becomes the space's content: the end sentinel follows it, the
// standard headroom after it is one free block, and the rover starts there.
void FinishImage(uint64_t imageBytes);

// Units that keep C++ state about the workspace's contents (caches, counters, positions) register a
// function that forgets it; all are called when a workspace is loaded or cleared.
void RegisterWorkspaceForgetter(void (*forget)());
void ForgetWorkspaceState();

// Makes `index` the current space; returns the previous index. Out of range: system error 86.
uint32_t SwitchSpace(uint32_t index);
uint32_t CurrentSpaceIndex();
SpaceDescriptor& Space(uint32_t index);

// Takes the first `words` words of the free block at `offset` (of `size` words) and moves the rover
// past them.
inline Ref TakeBlock(uint32_t offset, uint32_t words, int32_t size) {
  uint32_t* w = reinterpret_cast<uint32_t*>(g_heapBase + offset);
  if (static_cast<uint32_t>(size) > words) w[words] = static_cast<uint32_t>(size) - words;
  w[0] = static_cast<uint32_t>(-static_cast<int32_t>(words));
  w[1] = 0;
  w[2] = 0;
  w[words - 1] = 0;
  g_space->rover = offset + 4 * words;
  return offset;
}

Ref SearchForSpace(uint32_t words);

// An n-word block: size word -n, count 0, type word 0, last word 0. n < 3 is LIMIT ERROR; may
// compact, may signal WS FULL or INTERRUPT. The common case, room at the rover, is one step.
inline Ref GetSpace(uint32_t words) {
  uint32_t rover = g_space->rover;
  int32_t size = *reinterpret_cast<const int32_t*>(g_heapBase + rover);
  if (size >= static_cast<int32_t>(words) && words >= 3 && !g_interruptOnAllocation && !g_compactOnAllocation)
    return TakeBlock(rover, words, size);
  return SearchForSpace(words);
}

Ref GetSpaceAlignedSearch(uint32_t words, uint32_t dataWord, uint32_t alignWords);

// Words to skip from `offset` so that word `dataWord` of a block there falls on a multiple of
// `alignWords` (a power of two).
inline uint32_t AlignmentShift(uint32_t offset, uint32_t dataWord, uint32_t alignWords) {
  return (0u - (offset / 4 + dataWord)) & (alignWords - 1);
}

// An n-word block placed so that word `dataWord` of it falls on a multiple of `alignWords` words;
// the words skipped in front and behind become free blocks.
inline Ref GetSpaceAligned(uint32_t words, uint32_t dataWord, uint32_t alignWords) {
  if (alignWords <= 1) return GetSpace(words);
  uint32_t rover = g_space->rover;
  int32_t size = *reinterpret_cast<const int32_t*>(g_heapBase + rover);
  if (AlignmentShift(rover, dataWord, alignWords) == 0 && size >= static_cast<int32_t>(words) && words >= 3 &&
      !g_interruptOnAllocation && !g_compactOnAllocation)
    return TakeBlock(rover, words, size);
  return GetSpaceAlignedSearch(words, dataWord, alignWords);
}
// Cuts a pocket to `newWords` whatever its count (the caller knows the tail is unused).
void ShrinkBlock(Ref pocket, uint32_t newWords);
// Grows the pocket in `slot` by `extra` words (in place when it can); new words are 0. Returns the
// offset of the first new word. `slot` must be a root-block word or a Temporaries entry, so that
// a compaction during the call rewrites it.
Ref Resize(Ref& slot, uint32_t extra);
// Shrinks a pocket whose count is 1 to `newWords`; the tail becomes a free block.
void ShrinkInPlace(Ref pocket, uint32_t newWords);

struct SpaceUsageReport {
  uint64_t bytesInUse;
  uint64_t bytesAvailable;
};
SpaceUsageReport SpaceUsage();

// Owners of caches give back spare space when the allocator runs short; a trimmer returns the words
// it freed.
using SpaceTrimmerFn = uint32_t (*)();
void RegisterSpaceTrimmer(SpaceTrimmerFn trimmer);
uint32_t TrimCaches();

// True when a root-block reference or a registered temporary refers to the pocket.
bool HeldByRoots(Ref pocket);

// The headroom that heap growth leaves after the used part, in words.
uint64_t StandardHeadroomWords();
// Grows the space's end so that `neededWords` more words fit after the used part; false when the
// limit is reached. Used by compaction.
bool GrowHeap(uint32_t neededEndOffset);
// Moves the end back to leave the standard headroom after `usedEnd` (decommitting pages).
void SetHeapEndWithHeadroom(uint32_t usedEnd);

// Registers up to three references (and optionally a buffer of more) on the current space's
// temporaries chain for the lifetime of this object. On destruction (normal or by an error
// unwinding) the record is unlinked and every counted reference still in it is released; a pocket
// with count 0 is left for the allocator to collect.
class Temporaries {
 public:
  Temporaries();
  ~Temporaries();
  Temporaries(const Temporaries&) = delete;
  Temporaries& operator=(const Temporaries&) = delete;
  Ref& operator[](int i) { return record_.refs[i]; }
  void SetBuffer(Ref* refs, uint32_t count) {
    record_.extra = refs;
    record_.extraCount = count;
  }
  // Takes a reference out of the record so the caller owns it again.
  Ref Take(int i) {
    Ref r = record_.refs[i];
    record_.refs[i] = 0;
    return r;
  }

 private:
  TempRecord record_;
  SpaceDescriptor* space_;
};

}  // namespace vantor
