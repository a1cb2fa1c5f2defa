// The workspace heap: block allocation, freeing, resizing, compaction and WS FULL.
#include <gtest/gtest.h>

#include "heap_fixture.h"
#include "base/errors.h"

namespace vantor::test {
namespace {

using Heap = HeapTest;

TEST_F(Heap, ExactFitLeavesNoRemainderAndOneLessLeavesOneWord) {
  Ref a = GetSpace(10);
  Ref hole = GetSpace(20);
  Ref b = GetSpace(10);
  RefCount(a) = RefCount(b) = 1;
  FreeBlock(hole);
  g_space->rover = hole;
  EXPECT_EQ(GetSpace(20), hole);
  EXPECT_EQ(static_cast<uint32_t>(hole + 4 * 20), b) << "exact fit: the next block follows directly";
  RefCount(hole) = 1;

  FreeBlock(hole);
  g_space->rover = hole;
  EXPECT_EQ(GetSpace(19), hole);
  EXPECT_TRUE(IsFreeBlock(hole + 4 * 19, 1)) << "one word less leaves a one-word free block";
}

TEST_F(Heap, NewBlockHasSizeCountTypeAndLastWordSet) {
  Ref r = GetSpace(7);
  EXPECT_EQ(SizeWord(r), -7);
  EXPECT_EQ(TypeWord(r), 0u);
  EXPECT_EQ(Words(r)[6], 0u);
  EXPECT_GE(r, kFirstRef);
}

TEST_F(Heap, TooSmallRequestIsLimitError) {
  try {
    GetSpace(2);
    FAIL() << "no error";
  } catch (const AplError& e) {
    EXPECT_EQ(e.errorNumber, kLimitError);
  }
}

TEST_F(Heap, AdjacentFreeBlocksMergeDuringSearch) {
  Ref a = GetSpace(8), b = GetSpace(8), c = GetSpace(8);
  GetSpace(4);
  FreeBlock(a);
  FreeBlock(b);
  FreeBlock(c);
  g_space->rover = a;
  EXPECT_EQ(GetSpace(24), a);
}

TEST_F(Heap, ArrayLayoutAndSizes) {
  Ref empty = AllocVector(kRefElement, 0);
  EXPECT_EQ(PocketWords(empty), 5u) << "header, shape, prototype";
  Ref bits = AllocVector(kBool, 33);
  EXPECT_EQ(PocketWords(bits), 3u + 1 + 2);
  uint8_t* d = DataOf<uint8_t>(bits);
  std::memset(d, 0, 8);
  SetBit(d, 0, true);
  SetBit(d, 8, true);
  EXPECT_EQ(d[0], 0x80);
  EXPECT_EQ(d[1], 0x80);
  EXPECT_EQ(ArrayTypeWord(kRefElement, 2) & 0xFFF, 0x627u);
  EXPECT_EQ(ArrayWords(kFloat64, 1, 3), 3u + 1 + 6);
  EXPECT_EQ(ArrayWords(kComplex, 0, 1), 3u + 4);
  try {
    ArrayWords(kFloat64, 1, 0x80000000ull);
    FAIL() << "a count too large for a pocket";
  } catch (const AplError& e) {
    EXPECT_EQ(e.errorNumber, kLimitError);
  }
}

TEST_F(Heap, AlignedDataLeavesFreeBlockInFront) {
  for (uint32_t misalign = 0; misalign < 4; ++misalign) {
    SCOPED_TRACE(misalign);
    Reset(kTestWorkspaceBytes);
    // Put the rover so that a block taken there has its word 3 exactly `misalign` words past a
    // 16-byte boundary.
    uint32_t rover = g_space->rover;
    uint32_t wordsToSkip = (4 + misalign - (rover / 4 + 3) % 4) % 4;
    if (wordsToSkip > 0 && wordsToSkip < 3) wordsToSkip += 4;
    if (wordsToSkip) PlainBlock(wordsToSkip);
    uint32_t start = g_space->rover;
    ASSERT_EQ((start / 4 + 3) % 4, misalign);
    Ref d = AllocScalar(kDecimal128);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(DataOf<uint8_t>(d)) % 16, 0u);
    uint32_t front = (4 - misalign) % 4;
    EXPECT_EQ(d, start + 4 * front);
    if (front) {
      EXPECT_TRUE(IsFreeBlock(start, front));
    }
    Ref f = AllocScalar(kFloat64);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(DataOf<uint8_t>(f)) % 8, 0u);
  }
}

TEST_F(Heap, ReleaseOfDeepChainDoesNotRecurse) {
  Reset(64u << 20);
  Ref chain = AllocVector(kRefElement, 1);
  for (int depth = 0; depth < 1000000; ++depth) {
    Temporaries hold;
    hold[0] = chain;
    Ref outer = AllocVector(kRefElement, 1);
    DataOf<Ref>(outer)[0] = hold.Take(0);
    chain = outer;
  }
  SpaceUsageReport before = SpaceUsage();
  Release(chain);
  SpaceUsageReport after = SpaceUsage();
  EXPECT_EQ(chain, 0u);
  EXPECT_GT(before.bytesInUse - after.bytesInUse, 1000000ull * 20);
}

TEST_F(Heap, SharedPocketSurvivesUntilLastRelease) {
  Ref item = IntVector({1, 2, 3});
  Ref outer = NestedOf({item, item});
  RefCount(item) += 2;  // the two elements of `outer`
  Release(outer);
  EXPECT_EQ(RefCount(item), 1u);
  EXPECT_EQ(IntValues(item), (std::vector<int32_t>{1, 2, 3}));
}

TEST_F(Heap, SmallIntegersComeFromTheCache) {
  Ref a = MakeIntScalar(-5), b = MakeIntScalar(-5);
  EXPECT_EQ(a, b);
  EXPECT_EQ(*DataOf<int8_t>(a), -5);
  Ref one = MakeIntScalar(1);
  EXPECT_EQ(one, RootWordAt(kRootScalarOne));
  Ref big = MakeIntScalar(40000);
  EXPECT_EQ(ElementOf(TypeWord(big)), kInt32);
  EXPECT_EQ(*DataOf<int32_t>(big), 40000);
  Ref mid = MakeIntScalar(300);
  EXPECT_EQ(ElementOf(TypeWord(mid)), kInt16);
  EXPECT_TRUE(TypeWord(mid) & kNarrowedFlag);
}

TEST_F(Heap, ResizeGrowsInPlaceOrMovesAndKeepsCursor) {
  Temporaries hold;
  hold[0] = IntVector({7, 8});
  Ref original = hold[0];
  Ref firstNew = Resize(hold[0], 2);
  EXPECT_EQ(hold[0], original) << "free space follows: grows in place";
  EXPECT_EQ(firstNew, original + 4 * 6);
  EXPECT_EQ(Words(original)[6], 0u);

  PlainBlock(4);
  WorkingSlot(0) = hold.Take(0);
  WorkingCursor(0) = WorkingSlot(0) + 16;  // points at the first element
  Resize(WorkingSlot(0), 4);
  EXPECT_NE(WorkingSlot(0), original) << "a neighbour is in the way: moves";
  EXPECT_EQ(WorkingCursor(0), WorkingSlot(0) + 16);
  EXPECT_EQ(*reinterpret_cast<int32_t*>(g_heapBase + WorkingCursor(0)), 7);
  Release(WorkingSlot(0));
}

TEST_F(Heap, ShrinkInPlaceFreesTheTail) {
  Ref r = IntVector({1, 2, 3, 4, 5, 6});
  ShrinkInPlace(r, 6);
  EXPECT_EQ(PocketWords(r), 6u);
  EXPECT_TRUE(IsFreeBlock(r + 24, 4));
}

TEST_F(Heap, SwitchingSpacesKeepsEachSpaceApart) {
  ASSERT_TRUE(ObtainSpace(6, 4u * 1024 * 1024, 0));
  Ref mainVector = IntVector({1, 2});
  uint32_t previous = SwitchSpace(6);
  EXPECT_EQ(previous, kMainSpace);
  Ref other = PlainBlock(5);
  EXPECT_EQ(other, 512u) << "the other space starts empty";
  SwitchSpace(kMainSpace);
  EXPECT_EQ(IntValues(mainVector), (std::vector<int32_t>{1, 2}));
  ReleaseSpace(6);
}

TEST_F(Heap, SpaceIndexOutOfRangeIsSystemError) {
  EXPECT_EXIT(
      {
        setenv("APLCORENAME", "/dev/null/none", 1);
        SwitchSpace(16);
      },
      ::testing::ExitedWithCode(3), "");
}

TEST_F(Heap, DoubleFreeIsSystemError) {
  Ref r = GetSpace(4);
  FreeBlock(r);
  EXPECT_EXIT(
      {
        setenv("APLCORENAME", "/dev/null/none", 1);
        FreeBlock(r);
      },
      ::testing::ExitedWithCode(3), "");
}

// ---- Compaction ------------------------------------------------------------------------------------

TEST_F(Heap, CompactionKeepsOrderAndRewritesEveryReference) {
  Temporaries hold;
  std::vector<Ref> live, gaps;
  for (int i = 0; i < 50; ++i) {
    live.push_back(IntVector({i, i * 10}));
    gaps.push_back(IntVector({-1}));
  }
  for (Ref& gap : gaps) Release(gap);
  // A nested vector holding every tenth array, a temporary holding one, a root slot holding another.
  Ref nested = NestedOf({live[0], live[10], live[20], live[30], live[40]});
  for (int i : {0, 10, 20, 30, 40}) Retain(live[i]);
  hold[0] = nested;
  hold[1] = live[25];
  Retain(live[25]);
  WorkingSlot(3) = live[49];
  Retain(live[49]);
  std::vector<Ref> ordered = live;

  Compact(0);

  EXPECT_NE(hold[1], live[25]) << "the array moved";
  EXPECT_EQ(IntValues(hold[1]), (std::vector<int32_t>{25, 250}));
  EXPECT_EQ(IntValues(WorkingSlot(3)), (std::vector<int32_t>{49, 490}));
  const Ref* items = DataOf<Ref>(hold[0]);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(IntValues(items[k]), (std::vector<int32_t>{k * 10, k * 100}));
  EXPECT_LT(items[0], items[1]);
  EXPECT_LT(items[2], hold[1]);
  EXPECT_LT(hold[1], items[3]) << "live pockets keep their order";
  // Everything live is now contiguous: one free block from the top to the end.
  EXPECT_EQ(g_space->rover, g_space->lowWater);
  EXPECT_GT(SizeWord(g_space->rover), 0);
  EXPECT_EQ(g_space->rover + 4 * static_cast<uint32_t>(SizeWord(g_space->rover)), g_space->end);
  CheckHeapConsistency();
  Release(WorkingSlot(3));
}

TEST_F(Heap, CountZeroPocketHeldOnlyByTemporarySurvives) {
  Temporaries hold;
  Ref floating = IntVector({42});
  TypeWord(floating) &= ~kNoNarrowFlag;
  RefCount(floating) = 0;
  hold[0] = floating;
  Ref orphan = IntVector({13});
  RefCount(orphan) = 0;

  g_space->rover = g_space->lowWater = g_space->begin;
  for (int i = 0; i < 200; ++i) PlainBlock(64);  // searches walk over both pockets
  EXPECT_LT(SizeWord(hold[0]), 0);
  Compact(0);
  EXPECT_EQ(RefCount(hold[0]), 0u);
  EXPECT_EQ(ElementOf(TypeWord(hold[0])), kInt32) << "held arrays are not narrowed";
  EXPECT_EQ(*DataOf<int32_t>(hold[0]), 42);
  CheckHeapConsistency();
  hold[0] = 0;  // the record does not own a count-0 pocket
}

TEST_F(Heap, CompactionPreparationFreesOrphansAndNarrows) {
  Ref orphan = IntVector({13});
  RefCount(orphan) = 0;
  Temporaries hold;
  hold[0] = AllocVector(kInt32, 3);
  hold[1] = IntVector({1, 2, 3});
  TypeWord(hold[1]) &= ~kNoNarrowFlag;
  Ref kept = hold[1];
  Retain(kept);
  Ref keeper = NestedOf({kept});
  hold[2] = keeper;
  SpaceUsageReport before = SpaceUsage();
  Compact(0);
  EXPECT_LT(SpaceUsage().bytesInUse, before.bytesInUse);
  EXPECT_EQ(ElementOf(TypeWord(DataOf<Ref>(hold[2])[0])), kInt32) << "held directly by a temporary";
  hold[1] = 0;
  Release(kept);  // drop the test's extra count; the nested vector still holds it
  Compact(0);
  EXPECT_EQ(ElementOf(TypeWord(DataOf<Ref>(hold[2])[0])), kInt8) << "held only inside a pocket";
}

TEST_F(Heap, CompactionRealignsFloatingPointData) {
  Temporaries hold;
  Ref gap = GetSpace(5);  // an odd gap: sliding down by it would misalign the data
  hold[0] = AllocVector(kFloat64, 3);
  TypeWord(hold[0]) |= kNoNarrowFlag;
  for (int i = 0; i < 3; ++i) DataOf<double>(hold[0])[i] = 0.5 + i;
  hold[1] = AllocScalar(kDecimal128);
  TypeWord(hold[1]) |= kNoNarrowFlag;
  std::memset(DataOf<uint8_t>(hold[1]), 0x5A, 16);
  FreeBlock(gap);
  Compact(0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(DataOf<double>(hold[0])) % 8, 0u);
  EXPECT_EQ(DataOf<double>(hold[0])[2], 2.5);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(DataOf<uint8_t>(hold[1])) % 16, 0u);
  EXPECT_EQ(DataOf<uint8_t>(hold[1])[15], 0x5A);
  EXPECT_EQ(TypeWord(hold[0]) & kPaddingMask, 0u);
  CheckHeapConsistency();
}

TEST_F(Heap, WsFullAtMinimumSizeLeavesUsableHeap) {
  Reset(kMinimumWorkspaceBytes);
  Temporaries hold;
  hold[0] = IntVector({1, 2, 3});
  try {
    AllocVector(kInt32, 2 * 1024 * 1024);
    FAIL() << "no WS FULL";
  } catch (const AplError& e) {
    EXPECT_EQ(e.errorNumber, kWsFull);
  }
  EXPECT_EQ(IntValues(hold[0]), (std::vector<int32_t>{1, 2, 3}));
  Ref big = AllocVector(kInt32, 512 * 1024);  // 2 MB still fits: the heap grew
  DataOf<int32_t>(big)[512 * 1024 - 1] = 9;
  Release(big);
  CheckHeapConsistency();
}

TEST_F(Heap, FillingTheHeapGrowsItUntilTheLimit) {
  Reset(kMinimumWorkspaceBytes);
  std::vector<Ref> kept(4096);
  Temporaries hold;
  hold.SetBuffer(kept.data(), static_cast<uint32_t>(kept.size()));
  uint32_t initialEnd = g_space->end;
  size_t made = 0;
  try {
    for (; made < kept.size(); ++made) kept[made] = AllocVector(kInt32, 1000);
  } catch (const AplError& e) {
    EXPECT_EQ(e.errorNumber, kWsFull);
  }
  EXPECT_GT(g_space->end, initialEnd);
  EXPECT_GT(made, 900u) << "most of the 4 MB was usable";
  EXPECT_LT(made, 1100u);
  CheckHeapConsistency();
}

}  // namespace
}  // namespace vantor::test
