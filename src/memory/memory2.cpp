// Compaction by sliding with pointer threading. Every field that refers to a pocket that will move is
// chained through that pocket's count word (counts are doubled first so that a chain entry, tagged
// with low bit 1, can be told from the count at the chain's end). Walking the blocks in address order
// then gives each pocket its new address and writes it into every field on its chain, and a last walk
// copies the pockets down. Registered temporaries live outside the heap; their fields are chained by
// their position in the temporaries walk instead of by address.
#include "memory/memory2.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "base/startup.h"
#include "base/errors.h"
#include "memory/memory1.h"
#include "memory/memory3.h"

namespace vantor {

static constexpr char kUnit[] = "memory2";

namespace {

inline int32_t& BlockSize(uint32_t offset) { return *reinterpret_cast<int32_t*>(g_heapBase + offset); }
inline uint32_t BlockWords(uint32_t offset) {
  int32_t size = BlockSize(offset);
  return size < 0 ? 0u - static_cast<uint32_t>(size) : static_cast<uint32_t>(size);
}

// Calls visit(field) for every reference word in the root block and in the registered temporaries.
template <typename Visit>
void ForEachRootField(Visit visit) {
  for (uint32_t slot = 0; slot < kWorkingSlotCount; ++slot) visit(&WorkingSlot(slot));
  for (uint32_t w = kRootGlobals; w < kRootBlockWords; ++w) visit(&RootWordAt(w));
  for (TempRecord* t = g_space->temporaries; t; t = t->next) {
    for (Ref& r : t->refs) visit(&r);
    for (uint32_t i = 0; i < t->extraCount; ++i) visit(&t->extra[i]);
  }
}

// Calls visit(field) for every reference word of one pocket.
template <typename Visit>
void ForEachPocketField(Ref pocket, Visit visit) {
  FieldRuns runs;
  ChildFields(pocket, runs);
  ForEachChildField(Words(pocket), runs, visit);
}

// Marks the simple arrays that roots and temporaries hold, so that the preparation neither frees nor
// narrows an array that running code is building or reading. The preparation walk clears the marks.
void MarkHeldArrays() {
  ForEachRootField([](uint32_t* field) {
    Ref r = *field;
    if (IsRef(r) && KindOf(TypeWord(r)) == kKindSimple) TypeWord(r) |= kMarkFlag;
  });
}

// Doubles the count of every pocket in use from `from` on, freeing the low bit for chain tags.
void DoubleCountsFrom(uint32_t from) {
  for (uint32_t p = from; BlockSize(p) != 0; p += 4 * BlockWords(p))
    if (BlockSize(p) < 0) RefCount(p) <<= 1;
}

uint32_t FirstFreeBlock() {
  uint32_t p = g_space->begin;
  while (BlockSize(p) < 0) p += 4 * BlockWords(p);
  return p;
}

// The preparation walk: frees unreferenced count-0 simple arrays and narrows the others; from the
// first free block on (the first block that will move) it also doubles the counts, so that the
// threading needs no walk of its own for that. Returns the first free block.
uint32_t PrepareBlocksAndDoubleCounts() {
  MarkHeldArrays();
  uint32_t firstMoving = 0;
  for (uint32_t p = g_space->begin; BlockSize(p) != 0; p += 4 * BlockWords(p)) {
    if (BlockSize(p) < 0 && KindOf(TypeWord(p)) == kKindSimple) {
      if (TypeWord(p) & kMarkFlag) TypeWord(p) &= ~kMarkFlag;
      else if (RefCount(p) == 0) FreeBlock(p);
      else Narrow(p);
    }
    if (BlockSize(p) > 0) {
      if (!firstMoving) firstMoving = p;
    } else if (firstMoving) {
      RefCount(p) <<= 1;
    }
  }
  return firstMoving ? firstMoving : g_space->end;
}

// A working slot's cursor that points into its pocket is kept as an offset while the pocket moves.
struct SlotCursor {
  bool inside;
  uint32_t offset;
};
using SlotCursors = std::array<SlotCursor, kWorkingSlotCount>;

SlotCursors SaveCursors() {
  SlotCursors saved;
  for (uint32_t s = 0; s < kWorkingSlotCount; ++s) {
    Ref r = WorkingSlot(s);
    uint32_t cursor = WorkingCursor(s);
    bool inside = IsRef(r) && cursor >= r && cursor < r + 4 * BlockWords(r);
    saved[s] = {inside, inside ? cursor - r : 0};
  }
  return saved;
}

void RestoreCursors(const SlotCursors& saved) {
  for (uint32_t s = 0; s < kWorkingSlotCount; ++s)
    if (saved[s].inside) WorkingCursor(s) = WorkingSlot(s) + saved[s].offset;
}

class Threader {
 public:
  explicit Threader(uint32_t firstMoving) : firstMoving_(firstMoving) {
    ForEachRootField([this](uint32_t* field) {
      if (!IsInHeap(field)) offHeapFields_.push_back(field);
    });
  }

  void ThreadAllFields() {
    size_t offHeapIndex = 0;
    ForEachRootField([&](uint32_t* field) {
      if (IsInHeap(field)) Thread(field, HeapTag(field));
      else Thread(field, (static_cast<uint32_t>(offHeapIndex++) << 2) | 3);
    });
    for (uint32_t p = g_space->begin; BlockSize(p) != 0; p += 4 * BlockWords(p))
      if (BlockSize(p) < 0 && KindOf(TypeWord(p)) != kKindSimple)
        ForEachPocketField(p, [&](uint32_t* field) { Thread(field, HeapTag(field)); });
  }

  // Gives every live pocket from firstMoving_ on its new address, recording alignment padding in the
  // type word, and writes the address into every field chained to it. Returns the new top.
  uint32_t AssignAddresses() {
    uint32_t top = firstMoving_;
    for (uint32_t p = firstMoving_; BlockSize(p) != 0; p += 4 * BlockWords(p)) {
      if (BlockSize(p) > 0) continue;
      uint32_t padding = PaddingAt(p, top);
      if (padding > 0) TypeWord(p) |= padding << kPaddingShift;
      uint32_t destination = top + 4 * padding;
      Unthread(p, destination);
      top = destination + 4 * BlockWords(p);
    }
    return top;
  }

  uint32_t SlideDown() {
    uint32_t top = firstMoving_;
    for (uint32_t p = firstMoving_; BlockSize(p) != 0;) {
      uint32_t words = BlockWords(p);
      uint32_t next = p + 4 * words;
      if (BlockSize(p) < 0) {
        uint32_t padding = RecordedPadding(p);
        uint32_t destination = top + 4 * padding;
        if (destination != p) std::memmove(g_heapBase + destination, g_heapBase + p, 4ull * words);
        if (padding > 0) BlockSize(top) = static_cast<int32_t>(padding);
        if (padding > 0) TypeWord(destination) &= ~kPaddingMask;
        RefCount(destination) >>= 1;
        top = destination + 4 * words;
      }
      p = next;
    }
    return top;
  }

 private:
  static bool IsInHeap(const uint32_t* field) {
    auto address = reinterpret_cast<const uint8_t*>(field);
    return address >= g_heapBase && address < g_heapBase + g_space->end;
  }
  static uint32_t HeapTag(const uint32_t* field) {
    return static_cast<uint32_t>(reinterpret_cast<const uint8_t*>(field) - g_heapBase) | 1;
  }
  uint32_t* FieldOf(uint32_t tag) const {
    if ((tag & 3) == 3) return offHeapFields_[tag >> 2];
    return reinterpret_cast<uint32_t*>(g_heapBase + (tag & ~1u));
  }

  // Pushes `field` on the chain of the pocket it refers to, when that pocket will move.
  void Thread(uint32_t* field, uint32_t tag) {
    Ref target = *field;
    if (!IsRef(target) || target < firstMoving_) return;
    *field = RefCount(target);
    RefCount(target) = tag;
  }

  void Unthread(Ref pocket, uint32_t newAddress) {
    uint32_t entry = RefCount(pocket);
    while (entry & 1) {
      uint32_t* field = FieldOf(entry);
      entry = *field;
      *field = newAddress;
    }
    RefCount(pocket) = entry;
  }

  static uint32_t RecordedPadding(Ref pocket) {
    uint32_t type = TypeWord(pocket);
    return KindOf(type) == kKindSimple ? (type & kPaddingMask) >> kPaddingShift : 0;
  }

  // Words of padding in front of a simple array placed at `top`, so its data stays aligned.
  static uint32_t PaddingAt(Ref pocket, uint32_t top) {
    uint32_t type = TypeWord(pocket);
    if (KindOf(type) != kKindSimple) return 0;
    uint32_t align = kElementInfo[ElementOf(type)].alignWords;
    if (align <= 1) return 0;
    uint32_t dataWord = top / 4 + static_cast<uint32_t>(DataWordOffset(RankOf(type)));
    return (align - dataWord % align) % align;
  }

  uint32_t firstMoving_;
  std::vector<uint32_t*> offHeapFields_;
};

}  // namespace

void Compact(uint32_t requestedWords, bool forSave) {
  SpaceDescriptor& s = *g_space;
  // Anything released must be released before counts are doubled.
  Release(RootWordAt(kRootLastResult));
  if (!forSave) TrimCaches();
  uint32_t firstMoving;
  if (forSave) {
    firstMoving = FirstFreeBlock();
    DoubleCountsFrom(firstMoving);
  } else {
    firstMoving = PrepareBlocksAndDoubleCounts();
  }

  SlotCursors cursors = SaveCursors();
  uint32_t top = firstMoving;
  if (BlockSize(firstMoving) != 0) {
    Threader threader(firstMoving);
    threader.ThreadAllFields();
    threader.AssignAddresses();
    top = threader.SlideDown();
  }
  RestoreCursors(cursors);

  if (s.end > top) BlockSize(top) = static_cast<int32_t>((s.end - top) / 4);
  s.rover = s.lowWater = top;
  if (requestedWords > 0) {
    // Growing only to fit the request would leave the heap just as full, and the next allocation
    // would compact again: keep the standard headroom while the limit allows.
    uint64_t freeWords = (s.end - top) / 4;
    uint64_t neededEnd = top + 4ull * requestedWords;
    bool roomy = freeWords >= requestedWords + StandardHeadroomWords();
    bool grown = !roomy && neededEnd <= s.maxEnd && GrowHeap(static_cast<uint32_t>(neededEnd));
    if (!grown && freeWords < requestedWords) SIGNAL(kWsFull);
  } else {
    SetHeapEndWithHeadroom(top);
  }
  if (Startup().diagnosticBits & kDiagCheckAfterCompaction) CheckHeapConsistency();
}

// ---- Consistency check ---------------------------------------------------------------------------

namespace {

struct BlockMap {
  std::vector<uint64_t> starts;  // one bit per word: an in-use pocket starts here
  std::vector<uint32_t> before;  // pockets starting in the bit words before each bit word
  void Set(uint32_t offset) { starts[offset / 4 / 64] |= 1ull << (offset / 4 % 64); }
  bool Has(uint32_t offset) const { return (starts[offset / 4 / 64] >> (offset / 4 % 64)) & 1; }
  // Numbers the pockets in address order, so that a table indexed by ordinal has one entry per
  // pocket rather than one per heap word.
  uint32_t Count() {
    before.resize(starts.size());
    uint32_t total = 0;
    for (size_t i = 0; i < starts.size(); ++i) {
      before[i] = total;
      total += static_cast<uint32_t>(std::popcount(starts[i]));
    }
    return total;
  }
  uint32_t Ordinal(uint32_t offset) const {
    uint32_t word = offset / 4;
    uint64_t below = starts[word / 64] & ((1ull << (word % 64)) - 1);
    return before[word / 64] + static_cast<uint32_t>(std::popcount(below));
  }
};

std::vector<uint32_t> g_uncountedObjectClasses;
std::vector<uint32_t> g_uncountedRootWords;

bool HoldsUncountedReferences(Ref p) {
  uint32_t type = TypeWord(p);
  if (KindOf(type) != kKindObject) return false;
  for (uint32_t objectClass : g_uncountedObjectClasses)
    if ((type & 0xFFFF) == objectClass) return true;
  return false;
}

bool IsUncountedRootWord(const uint32_t* field) {
  for (uint32_t word : g_uncountedRootWords)
    if (field == &RootWordAt(word)) return true;
  return false;
}

// The first fault found, as the system-error code that the consistency check raises for it.
struct FaultFinder {
  int fault = 0;
  void Note(int code) {
    if (fault == 0) fault = code;
  }
};

void CheckReference(FaultFinder& finder, const BlockMap& map, uint32_t value) {
  if (!IsRef(value)) return;
  if (value >= g_space->end || value % 4 != 0) return finder.Note(95);
  if (!map.Has(value)) finder.Note(96);
}

bool ArrayPocketFits(Ref p) {
  uint32_t type = TypeWord(p);
  if (ElementOf(type) >= kElementTypeCount || kHeaderWords + RankOf(type) > BlockWords(p)) return false;
  uint64_t count = ElementCount(p);
  uint64_t needed = kHeaderWords + RankOf(type) + DataWords(ElementOf(type), count) +
                    (ElementOf(type) == kRefElement && count == 0);
  return needed <= BlockWords(p) && (KindOf(type) == kKindNested) == (ElementOf(type) == kRefElement);
}

// Every field a pocket's layout names must lie inside the pocket.
bool FieldsInsideBlock(Ref p, const FieldRuns& runs) {
  for (uint32_t i = 0; i < runs.count; ++i) {
    const FieldRuns::Run& run = runs.runs[i];
    if (run.fields == 0) continue;
    if (uint64_t{run.firstWord} + uint64_t{run.fields - 1} * run.stride >= BlockWords(p)) return false;
  }
  return true;
}

// The block chain must tile the space from its first block to the end sentinel.
bool MapBlocks(FaultFinder& finder, BlockMap& map) {
  SpaceDescriptor& s = *g_space;
  uint32_t p = s.begin;
  while (BlockSize(p) != 0) {
    uint64_t next = p + 4ull * BlockWords(p);
    if (next > s.end || (BlockSize(p) < 0 && BlockWords(p) < kHeaderWords)) {
      finder.Note(5);
      return false;
    }
    if (BlockSize(p) < 0) map.Set(p);
    p = static_cast<uint32_t>(next);
  }
  if (p != s.end) finder.Note(64);
  return p == s.end;
}

// Counts the references to every pocket, and compares them with the counts the pockets carry.
void CheckCounts(FaultFinder& finder, const BlockMap& map, const std::vector<uint32_t>& references) {
  for (uint32_t p = g_space->begin; BlockSize(p) != 0; p += 4 * BlockWords(p))
    if (BlockSize(p) < 0 && RefCount(p) != references[map.Ordinal(p)]) return finder.Note(141);
}

}  // namespace

int FindHeapFault(bool checkCounts) {
  SpaceDescriptor& s = *g_space;
  FaultFinder finder;
  BlockMap map{std::vector<uint64_t>(s.end / 4 / 64 + 1)};
  if (!MapBlocks(finder, map)) return finder.fault;
  std::vector<uint32_t> references(checkCounts ? map.Count() : 0);
  bool counted = true;
  auto visit = [&](uint32_t* field) {
    CheckReference(finder, map, *field);
    if (checkCounts && counted && IsRef(*field) && *field < s.end && map.Has(*field)) ++references[map.Ordinal(*field)];
  };
  for (uint32_t p = s.begin; BlockSize(p) != 0 && finder.fault == 0; p += 4 * BlockWords(p)) {
    if (BlockSize(p) > 0) continue;
    uint32_t kind = KindOf(TypeWord(p));
    if (IsArrayKind(kind) && !ArrayPocketFits(p)) return 139;
    if (kind == kKindSimple) continue;  // no reference fields: the most common pocket, checked fast
    if (kind == kKindRoot || !HasLayout(p)) return 123;
    FieldRuns runs;
    ChildFields(p, runs);
    if (!FieldsInsideBlock(p, runs)) return 139;
    counted = !HoldsUncountedReferences(p);
    ForEachChildField(Words(p), runs, visit);
  }
  ForEachRootField([&](uint32_t* field) {
    counted = !IsUncountedRootWord(field);
    visit(field);
  });
  if (s.rover < s.begin || s.rover > s.end || s.lowWater < s.begin || s.lowWater > s.end) finder.Note(160);
  if (checkCounts && finder.fault == 0) CheckCounts(finder, map, references);
  return finder.fault;
}

void CheckHeapConsistency() {
  uint32_t previous = CurrentSpaceIndex();
  for (uint32_t index = 0; index < kSpaceCount; ++index) {
    if (!Space(index).inUse) continue;
    SwitchSpace(index);
    if (int fault = FindHeapFault(false)) SystemError(fault);
  }
  SwitchSpace(previous);
}

static void AddOnce(std::vector<uint32_t>& list, uint32_t value) {
  if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}
void RegisterUncountedObjectClass(uint32_t objectClass) { AddOnce(g_uncountedObjectClasses, objectClass); }
void RegisterUncountedRootWord(uint32_t word) { AddOnce(g_uncountedRootWords, word); }

}  // namespace vantor
