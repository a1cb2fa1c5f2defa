// The workspace heap: reserving and committing the address range of each space, next-fit block
// allocation with merging and lazy collection of unreferenced count-0 pockets, freeing, resizing,
// the root block and the registered temporaries. Compaction is memory2.
#include "memory/memory1.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "base/startup.h"
#include "base/errors.h"
#include "memory/memory2.h"
#include "memory/memory3.h"

namespace vantor {

static constexpr char kUnit[] = "memory1";

uint8_t* g_heapBase = nullptr;
SpaceDescriptor* g_space = nullptr;
volatile sig_atomic_t g_weakInterrupt = 0;
std::atomic<bool> g_interruptPending{false};
bool g_interruptOnAllocation = false;
bool g_compactOnAllocation = false;

static SpaceDescriptor g_spaces[kSpaceCount];
static uint32_t g_currentSpace = kMainSpace;
static std::vector<SpaceTrimmerFn> g_trimmers;
static std::vector<void (*)()> g_workspaceForgetters;

static constexpr uint32_t kFirstBlock = kRootBlockWords * 4;  // 512

static uint64_t PageSize() {
  static const uint64_t size = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  return size;
}
static uint64_t RoundUpToPage(uint64_t bytes) { return (bytes + PageSize() - 1) & ~(PageSize() - 1); }

// Commits or decommits pages so that exactly the bytes [0, bytes) (rounded to pages) are usable.
static bool CommitUpTo(SpaceDescriptor& s, uint64_t bytes) {
  uint64_t want = std::min(RoundUpToPage(bytes), s.reservedBytes);
  if (want > s.committed) {
    if (mprotect(s.base + s.committed, want - s.committed, PROT_READ | PROT_WRITE) != 0) return false;
  } else if (want < s.committed) {
    uint8_t* from = s.base + want;
    size_t length = s.committed - want;
    madvise(from, length, MADV_DONTNEED);
    mprotect(from, length, PROT_NONE);
  }
  s.committed = static_cast<uint32_t>(std::min<uint64_t>(want, 0xFFFFF000u));
  return true;
}

static void WriteRootHeader(uint8_t* base) {
  auto* w = reinterpret_cast<uint32_t*>(base);
  std::memset(w, 0, kRootBlockWords * 4);
  w[0] = static_cast<uint32_t>(-static_cast<int32_t>(kRootBlockWords));
  w[1] = 1;
  w[2] = kKindRoot;
}

bool ObtainSpace(uint32_t index, uint64_t bytes, uintptr_t baseAddress) {
  if (index >= kSpaceCount) SystemError(86);
  SpaceDescriptor& s = g_spaces[index];
  if (s.inUse) ReleaseSpace(index);
  // The end sentinel may sit at most MAXWS - 4 bytes past the first block, and every offset must
  // stay below 2^32.
  uint64_t maxEnd = std::min<uint64_t>(kFirstBlock + bytes - 4, 0xFFFFFFFCull - PageSize());
  uint64_t reserve = RoundUpToPage(maxEnd + 4);
  int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
  if (baseAddress != 0) flags |= MAP_FIXED_NOREPLACE;
  void* p = mmap(reinterpret_cast<void*>(baseAddress), reserve, PROT_NONE, flags, -1, 0);
  if (p == MAP_FAILED) return false;
  if (baseAddress != 0 && reinterpret_cast<uintptr_t>(p) != baseAddress) {
    munmap(p, reserve);
    return false;
  }
  // Large workspaces are touched in bulk (a load reads its whole image at once): huge pages cut the
  // cost of first touching them. Only a request; the system may decline.
  madvise(p, reserve, MADV_HUGEPAGE);
  if (reinterpret_cast<uintptr_t>(p) < 256) SystemError(101);
  if (reinterpret_cast<uintptr_t>(p) % 4 != 0) SystemError(102);
  s = SpaceDescriptor{};
  s.base = static_cast<uint8_t*>(p);
  s.reservedBytes = reserve;
  s.limitBytes = static_cast<uint32_t>(std::min<uint64_t>(bytes, 0xFFFFFFFFull));
  s.maxEnd = static_cast<uint32_t>(maxEnd & ~3ull);
  s.begin = s.rover = s.lowWater = kFirstBlock;
  s.wsFullHook = [](uint32_t words) { Compact(words); };
  s.inUse = true;
  if (!CommitUpTo(s, kFirstBlock + 4)) {
    munmap(p, reserve);
    s = SpaceDescriptor{};
    return false;
  }
  WriteRootHeader(s.base);
  uint32_t previous = SwitchSpace(index);
  reinterpret_cast<uint32_t*>(s.base)[kFirstBlock / 4] = 0;
  s.end = kFirstBlock;
  SetHeapEndWithHeadroom(kFirstBlock);
  SwitchSpace(previous);
  return true;
}

void ReleaseSpace(uint32_t index) {
  SpaceDescriptor& s = Space(index);
  if (!s.inUse) return;
  munmap(s.base, s.reservedBytes);
  s = SpaceDescriptor{};
  if (index == g_currentSpace) g_heapBase = nullptr;
}

void AdoptSpace(uint32_t from, uint32_t to) {
  if (from == to || !Space(from).inUse || Space(from).temporaries) SystemError(86);
  ReleaseSpace(to);
  g_spaces[to] = g_spaces[from];
  g_spaces[from] = SpaceDescriptor{};
  if (g_currentSpace == to || g_currentSpace == from) SwitchSpace(to);
}

bool CommitImage(uint64_t imageBytes) {
  SpaceDescriptor& s = *g_space;
  uint64_t end = s.begin + imageBytes;
  return imageBytes % 4 == 0 && end <= s.maxEnd && CommitUpTo(s, end + 4);
}

void FinishImage(uint64_t imageBytes) {
  SpaceDescriptor& s = *g_space;
  uint32_t usedEnd = static_cast<uint32_t>(s.begin + imageBytes);
  reinterpret_cast<uint32_t*>(s.base)[usedEnd / 4] = 0;
  s.end = usedEnd;
  s.rover = s.lowWater = s.begin;
  SetHeapEndWithHeadroom(usedEnd);
  s.rover = usedEnd;
}

void RegisterWorkspaceForgetter(void (*forget)()) {
  if (std::find(g_workspaceForgetters.begin(), g_workspaceForgetters.end(), forget) == g_workspaceForgetters.end())
    g_workspaceForgetters.push_back(forget);
}

void ForgetWorkspaceState() {
  for (auto forget : g_workspaceForgetters) forget();
}

SpaceDescriptor& Space(uint32_t index) {
  if (index >= kSpaceCount) SystemError(86);
  return g_spaces[index];
}

uint32_t CurrentSpaceIndex() { return g_currentSpace; }

uint32_t SwitchSpace(uint32_t index) {
  if (index >= kSpaceCount) SystemError(86);
  uint32_t previous = g_currentSpace;
  g_currentSpace = index;
  g_space = &g_spaces[index];
  g_heapBase = g_space->base;
  return previous;
}

// ---- Shared constants -------------------------------------------------------------------------

static constexpr int32_t kSmallIntLow = -128;
static constexpr int32_t kSmallIntHigh = 127;

static Ref MakeConstantScalar(int8_t value) {
  Ref r = AllocScalar(kInt8);
  *DataOf<int8_t>(r) = value;
  TypeWord(r) |= kNarrowedFlag;
  return r;
}

static Ref MakeConstantText(const char* text) {
  uint32_t length = static_cast<uint32_t>(std::strlen(text));
  Ref r = AllocVector(kChar8, length);
  std::memcpy(DataOf<uint8_t>(r), text, length);
  TypeWord(r) |= kNarrowedFlag;
  return r;
}

void InitialiseHeap() {
  g_compactOnAllocation = Startup().diagnosticBits & kDiagCompactOnAllocation;
  RootWordAt(kRootEmptyCharVector) = MakeConstantText("");
  Ref zilde = AllocVector(kInt8, 0);
  TypeWord(zilde) |= kNarrowedFlag;
  RootWordAt(kRootEmptyNumericVector) = zilde;
  RootWordAt(kRootScalarZero) = MakeConstantScalar(0);
  RootWordAt(kRootScalarOne) = MakeConstantScalar(1);
  RootWordAt(kRootAlphabet) = MakeConstantText("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  RootWordAt(kRootDigits) = MakeConstantText("0123456789");
  Ref cache = AllocVector(kRefElement, kSmallIntHigh - kSmallIntLow + 1);
  RootWordAt(kRootSmallIntCache) = cache;
  for (int32_t n = kSmallIntLow; n <= kSmallIntHigh; ++n) {
    Ref item;
    if (n == 0 || n == 1) {
      item = RootWordAt(n == 0 ? kRootScalarZero : kRootScalarOne);
      Retain(item);
    } else {
      item = MakeConstantScalar(static_cast<int8_t>(n));
    }
    DataOf<Ref>(RootWordAt(kRootSmallIntCache))[n - kSmallIntLow] = item;
  }
  RefreshSmallIntCacheRange();
}

// ---- Roots -----------------------------------------------------------------------------------

bool HeldByRoots(Ref pocket) {
  for (uint32_t slot = 0; slot < kWorkingSlotCount; ++slot)
    if (WorkingSlot(slot) == pocket) return true;
  for (uint32_t w = kRootGlobals; w < kRootBlockWords; ++w)
    if (RootWordAt(w) == pocket) return true;
  for (const TempRecord* t = g_space->temporaries; t; t = t->next) {
    for (Ref r : t->refs)
      if (r == pocket) return true;
    for (uint32_t i = 0; i < t->extraCount; ++i)
      if (t->extra[i] == pocket) return true;
  }
  return false;
}

Temporaries::Temporaries() : space_(g_space) {
  record_.next = space_->temporaries;
  space_->temporaries = &record_;
}

// Records are made and dropped like the C++ frames that hold them, so this one is normally the head
// of the chain. A debug build insists on that; any build unlinks the record wherever it is, so that
// the head can never be left pointing into a dead frame.
Temporaries::~Temporaries() {
  assert(space_->temporaries == &record_ && "temporaries records are dropped in the reverse order of making");
  TempRecord** link = &space_->temporaries;
  while (*link && *link != &record_) link = &(*link)->next;
  if (*link) *link = record_.next;
  uint32_t previous = CurrentSpaceIndex();
  bool otherSpace = space_ != g_space;
  if (otherSpace) SwitchSpace(static_cast<uint32_t>(space_ - g_spaces));
  for (Ref& r : record_.refs)
    if (IsRef(r) && RefCount(r) != 0) Release(r);
  for (uint32_t i = 0; i < record_.extraCount; ++i)
    if (IsRef(record_.extra[i]) && RefCount(record_.extra[i]) != 0) Release(record_.extra[i]);
  if (otherSpace) SwitchSpace(previous);
}

// ---- Allocation ------------------------------------------------------------------------------

static inline int32_t& BlockSize(uint32_t offset) {
  return *reinterpret_cast<int32_t*>(g_heapBase + offset);
}

// Frees an in-use pocket that nobody counts and no root holds. Returns true when it was freed.
static bool CollectIfUnreferenced(uint32_t offset) {
  if (RefCount(offset) != 0 || HeldByRoots(offset)) return false;
  RefCount(offset) = 1;
  Ref r = offset;
  Release(r);
  return true;
}

// Next-fit search from `start` to the end sentinel, merging adjacent free blocks on the way.
static uint32_t SearchFrom(uint32_t start, uint32_t words) {
  uint32_t p = start;
  for (;;) {
    int32_t size = BlockSize(p);
    if (size > 0) {
      if (static_cast<uint32_t>(size) >= words) return p;
      uint32_t next = p + 4 * static_cast<uint32_t>(size);
      int32_t nextSize = BlockSize(next);
      if (nextSize > 0) {
        BlockSize(p) = size + nextSize;
        if (g_space->rover == next) g_space->rover = p;
        if (g_space->lowWater == next) g_space->lowWater = p;
        continue;
      }
      p = next;
    } else if (size == 0) {
      return 0;
    } else if (!CollectIfUnreferenced(p)) {
      p += 4 * static_cast<uint32_t>(-size);
    }
  }
}

void SignalStrongInterrupt() {
  g_interruptPending.store(false, std::memory_order_relaxed);
  g_weakInterrupt = 0;
  SIGNAL(kInterrupt);
}

Ref SearchForSpace(uint32_t words) {
  if (words < 3) SIGNAL(kLimitError);
  if (g_interruptOnAllocation) CheckStrongInterrupt();
  if (g_compactOnAllocation) Compact(words);
  for (;;) {
    uint32_t found = SearchFrom(g_space->rover, words);
    if (!found) found = SearchFrom(g_space->lowWater, words);
    if (found) return TakeBlock(found, words, BlockSize(found));
    if (TrimCaches() != 0) continue;
    g_space->wsFullHook(words);
  }
}

static void MarkFree(uint32_t offset, uint32_t words) {
  BlockSize(offset) = static_cast<int32_t>(words);
  if (offset < g_space->lowWater) g_space->lowWater = offset;
}

Ref GetSpaceAlignedSearch(uint32_t words, uint32_t dataWord, uint32_t alignWords) {
  if (words > 0x7FFFFFFFu - alignWords) SIGNAL(kLimitError);
  // Room at the rover: skip the few words in front (they stay a free block) and take exactly n.
  uint32_t rover = g_space->rover;
  int32_t size = BlockSize(rover);
  uint32_t shift = AlignmentShift(rover, dataWord, alignWords);
  if (size > 0 && static_cast<uint64_t>(size) >= static_cast<uint64_t>(words) + shift &&
      !g_interruptOnAllocation && words >= 3) {
    if (shift > 0) MarkFree(rover, shift);
    return TakeBlock(rover + 4 * shift, words, size - static_cast<int32_t>(shift));
  }
  Ref block = GetSpace(words + alignWords - 1);
  shift = AlignmentShift(block, dataWord, alignWords);
  Ref pocket = block + 4 * shift;
  if (shift > 0) MarkFree(block, shift);
  uint32_t after = alignWords - 1 - shift;
  if (after > 0) MarkFree(pocket + 4 * words, after);
  uint32_t* w = Words(pocket);
  w[0] = static_cast<uint32_t>(-static_cast<int32_t>(words));
  w[1] = 0;
  w[2] = 0;
  w[words - 1] = 0;
  return pocket;
}

void FreeBlock(Ref block) {
  int32_t size = BlockSize(block);
  if (size >= 0) SystemError(74);
  uint32_t words = static_cast<uint32_t>(-size);
  MarkFree(block, words);
  // A block just below the rover (typically the last one allocated) joins the free space at the
  // rover, so a short-lived pocket's words are the next ones handed out.
  uint32_t after = block + 4 * words;
  if (after == g_space->rover) {
    int32_t next = BlockSize(after);
    if (next > 0) BlockSize(block) = static_cast<int32_t>(words) + next;
    g_space->rover = block;
  }
}

void ShrinkBlock(Ref pocket, uint32_t newWords) {
  uint32_t old = PocketWords(pocket);
  if (newWords >= old) return;
  SizeWord(pocket) = -static_cast<int32_t>(newWords);
  MarkFree(pocket + 4 * newWords, old - newWords);
}

void ShrinkInPlace(Ref pocket, uint32_t newWords) {
  if (RefCount(pocket) == 1) ShrinkBlock(pocket, newWords);
}

// Words of free blocks directly after a pocket, without merging them.
static uint64_t FreeWordsAfter(uint32_t offset) {
  uint64_t total = 0;
  for (int32_t size; (size = BlockSize(offset)) > 0; offset += 4 * static_cast<uint32_t>(size))
    total += static_cast<uint32_t>(size);
  return total;
}

static bool ResizeInPlace(Ref pocket, uint32_t extra) {
  uint32_t old = PocketWords(pocket);
  uint32_t after = pocket + 4 * old;
  uint64_t available = FreeWordsAfter(after);
  if (available < extra) return false;
  uint32_t remainderAt = after + 4 * extra;
  uint32_t remainder = static_cast<uint32_t>(available - extra);
  uint32_t mergedEnd = after + 4 * static_cast<uint32_t>(available);
  // The rover and the low-water mark must keep pointing at block starts.
  if (g_space->rover >= after && g_space->rover < mergedEnd) g_space->rover = remainderAt;
  if (g_space->lowWater >= after && g_space->lowWater < mergedEnd) g_space->lowWater = remainderAt;
  if (remainder > 0) BlockSize(remainderAt) = static_cast<int32_t>(remainder);
  SizeWord(pocket) = -static_cast<int32_t>(old + extra);
  std::memset(Words(after), 0, 4ull * extra);
  return true;
}

// Where a pocket's data starts and how it must be aligned, so that a moved copy keeps the alignment.
static void DataAlignment(Ref pocket, uint32_t& dataWord, uint32_t& alignWords) {
  uint32_t type = TypeWord(pocket);
  dataWord = 0;
  alignWords = 1;
  if (KindOf(type) == kKindSimple) {
    dataWord = static_cast<uint32_t>(DataWordOffset(RankOf(type)));
    alignWords = kElementInfo[ElementOf(type)].alignWords;
  }
}

static void RetainChildren(Ref pocket) {
  FieldRuns runs;
  ChildFields(pocket, runs);
  ForEachChildField(Words(pocket), runs, [](uint32_t* field) { Retain(*field); });
}

Ref Resize(Ref& slot, uint32_t extra) {
  Ref pocket = slot;
  uint32_t old = PocketWords(pocket);
  if (old > 0x7FFFFFFFu - extra) SIGNAL(kLimitError);
  if (RefCount(pocket) == 1 && ResizeInPlace(pocket, extra)) return pocket + 4 * old;
  uint32_t dataWord, alignWords;
  DataAlignment(pocket, dataWord, alignWords);
  Ref fresh = GetSpaceAligned(old + extra, dataWord, alignWords);
  pocket = slot;  // a compaction may have moved it
  std::memcpy(Words(fresh) + 1, Words(pocket) + 1, 4ull * (old - 1));
  std::memset(Words(fresh) + old, 0, 4ull * extra);
  RefCount(fresh) = 1;
  RetainChildren(fresh);
  for (uint32_t s = 0; s < kWorkingSlotCount; ++s) {
    uint32_t& cursor = WorkingCursor(s);
    if (&WorkingSlot(s) == &slot && cursor >= pocket && cursor < pocket + 4 * old)
      cursor = cursor - pocket + fresh;
  }
  Release(slot);
  slot = fresh;
  return fresh + 4 * old;
}

// ---- Growth and usage ----------------------------------------------------------------------------

// The standard headroom in words past `usedEnd`.
static uint64_t HeadroomWords(uint64_t neededWords) {
  uint64_t limit = g_space->limitBytes;
  uint64_t belowRover = (g_space->rover - g_space->begin) / 4;
  return (neededWords + belowRover < limit / 64) ? limit / 256 : limit / 64;
}

// Moves the end sentinel to `newEnd`, committing or decommitting pages; the words between the old
// used end and the new end become one free block.
static bool MoveEnd(uint32_t freeFrom, uint32_t newEnd) {
  SpaceDescriptor& s = *g_space;
  if (!CommitUpTo(s, static_cast<uint64_t>(newEnd) + 4)) return false;
  if (newEnd > freeFrom) BlockSize(freeFrom) = static_cast<int32_t>((newEnd - freeFrom) / 4);
  BlockSize(newEnd) = 0;
  s.end = newEnd;
  return true;
}

uint64_t StandardHeadroomWords() { return HeadroomWords(0); }

bool GrowHeap(uint32_t neededEnd) {
  SpaceDescriptor& s = *g_space;
  if (neededEnd > s.maxEnd) return false;
  uint64_t target = neededEnd + 4 * HeadroomWords((neededEnd - s.end) / 4);
  uint32_t withHeadroom = static_cast<uint32_t>(std::min<uint64_t>(target, s.maxEnd));
  uint32_t freeFrom = s.rover;  // start of the top free block after compaction
  if (MoveEnd(freeFrom, withHeadroom)) return true;
  return MoveEnd(freeFrom, neededEnd);
}

void SetHeapEndWithHeadroom(uint32_t usedEnd) {
  SpaceDescriptor& s = *g_space;
  uint64_t target = usedEnd + 4 * HeadroomWords(0);
  uint32_t newEnd = static_cast<uint32_t>(std::min<uint64_t>(target, s.maxEnd));
  if (!MoveEnd(usedEnd, newEnd)) MoveEnd(usedEnd, std::max(usedEnd, std::min(s.end, newEnd)));
}

SpaceUsageReport SpaceUsage() {
  uint64_t used = 0;
  for (uint32_t p = g_space->begin;;) {
    int32_t size = BlockSize(p);
    if (size == 0) break;
    if (size < 0) used += 4ull * static_cast<uint32_t>(-size);
    p += 4 * static_cast<uint32_t>(size < 0 ? -size : size);
  }
  uint64_t limit = g_space->limitBytes;
  return {used, limit > used ? limit - used : 0};
}

void RegisterSpaceTrimmer(SpaceTrimmerFn trimmer) { g_trimmers.push_back(trimmer); }

uint32_t TrimCaches() {
  uint32_t freed = 0;
  for (SpaceTrimmerFn trimmer : g_trimmers) freed += trimmer();
  return freed;
}

}  // namespace vantor
