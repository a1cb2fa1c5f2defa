// The evaluator seen from C++: lines executed in immediate execution leave nothing behind in the
// workspace once their values are gone, whatever path they take (strands, ⍎ levels, errors).
#include <gtest/gtest.h>

#include "heap_fixture.h"
#include "base/startup.h"
#include "language/dmx.h"
#include "language/session.h"
#include "language/scan.h"
#include "language/space.h"
#include "language/stack.h"
#include "base/errors.h"
#include "sysfns/quadvar.h"

namespace vantor::test {
namespace {

// The integers a variable holds (none when it has no integer value).
std::vector<int64_t> IntegersNamed(const char32_t* name) {
  std::vector<int64_t> values;
  Ref value = EntryValue(LookupName(name, LookupMode::Find));
  if (!IsRef(value) || !ReadIntegers(value, values)) values.clear();
  return values;
}

class EvalTest : public InterpreterTest {
};

TEST_F(EvalTest, RepeatedLinesLeaveNoGarbage) {
  ExecuteLine(U"a←1 ⋄ b←2.5 ⋄ s←'text'");
  ExecuteLine(U"⎕FX 'R←T X;i' 'R←0' ':For i :In X' ':Trap 11' 'R←R+÷i' ':Case 11' 'R←R' ':EndTrap' ':EndFor'");
  const char32_t* lines[] = {
      U"x←a 1 b 2 a 3",        U"y←a 'x' (1 2) s",  U"z←⍎'a b a'",         U"(p q)←10 20",
      U"⍎'⍎''1 2 3'''",        U"undefined_name",   U"1 2 +",             U"⎕SIGNAL 500",
      U"x←1;2",                U"n←⎕NS ''",         U"n.v←a b",           U"f←⊢ ⋄ f 3",
      U"'x' ⎕SIGNAL 11",       U"⎕IO←0 ⋄ ⎕IO←1",     U"[1]",               U"+..×",
      // Calls: dfns (with locals, guards, tail calls, errors that cut frames back), operators
      // running dfns, defined functions with control structures and traps.
      U"{x←⍵ ⋄ ⍵=0:x ⋄ ∇⍵-1}5", U"{÷⍵}0",            U"{0::⍵ ⋄ ÷⍵}0",      U"{⍵+1}¨1 2 3",
      U"T 0 1 2",              U"T 'a'",            U"-{⍺⍺ ⍵}1",          U"{1 2:3}0",
  };
  for (const char32_t* line : lines) {
    SCOPED_TRACE(std::u32string(line).size());
    ExecuteLine(line);  // the first run may intern constants and create names
    uint64_t before = SpaceUsage().bytesInUse;
    for (int i = 0; i < 20; ++i) ExecuteLine(line);
    EXPECT_EQ(SpaceUsage().bytesInUse, before) << "line " << (&line - lines);
  }
  CheckHeapConsistency();
}

TEST_F(EvalTest, ErrorsLeaveOnlyTheImmediateFrame) {
  ExecuteLine(U"1 (⍎'2 (⍎''undefined_name'')') 3");
  EXPECT_EQ(FrameClassOf(CurrentFrame()), kFrameImmediate);
  EXPECT_EQ(WorkingSlot(kSlotTokens), 0u);
  for (uint32_t slot = kSlotLeft; slot <= kSlotPendingItem; ++slot) EXPECT_EQ(WorkingSlot(slot), 0u) << slot;
}

// Endless APL code stops at an interrupt: a weak one at the next line of a defined function or dfn
// statement (error 1002, the function suspended), a strong one there or at an allocation (1003).
TEST_F(EvalTest, EndlessLoopsStopAtAnInterrupt) {
  struct Enabled {
    Enabled() { g_interruptOnAllocation = true; }
    ~Enabled() {
      g_interruptOnAllocation = false;
      ClearInterrupts();
    }
  } enabled;
  struct Case {
    const char32_t* line;
    uint32_t en;
  } cases[] = {
      {U"{∇⍵}0", kWeakInterrupt},                        // a tail call in constant space
      {U"⎕FX 'R←L' ':While 1' ':EndWhile'", 0},
      {U"L", kWeakInterrupt},
  };
  for (const Case& c : cases) {
    if (c.en) RequestInterrupt();  // weak: acted on at the next line or statement, not at once
    ExecuteLine(c.line);
    if (!c.en) continue;
    ExecuteLine(U"e←⎕EN");
    Ref e = ValueOf(U"e");
    ASSERT_NE(e, 0u);
    EXPECT_EQ(StoredNumber(e, 0), c.en) << (&c - cases);
  }
}

// A strong interrupt acted on at an allocation is used up: the line after it runs undisturbed.
TEST_F(EvalTest, InterruptAtAllocationIsUsedUp) {
  g_interruptOnAllocation = true;
  RequestInterrupt();
  RequestInterrupt();
  EXPECT_THROW(AllocVector(kInt32, 10), AplError);
  ExecuteLine(U"⎕FX 'R←F' 'R←1+1'");
  ExecuteLine(U"r←F");
  g_interruptOnAllocation = false;
  ClearInterrupts();
  Ref r = ValueOf(U"r");
  ASSERT_NE(r, 0u);
  EXPECT_EQ(StoredNumber(r, 0), 2);
}

// Deep calls in a small workspace compact it again and again while frames are made and dropped:
// nothing a call holds may be read from where it stood before an allocation.
TEST_F(EvalTest, CompactionDuringDeepCalls) {
  Reset(kMinimumWorkspaceBytes);
  SetUp();
  Startup().diagnosticBits = kDiagCheckAfterCompaction;
  ExecuteLine(U"g←100000⍴0.5");  // freed below the function, so that compaction moves it
  ExecuteLine(U"⎕FX 'R←D N;L' 'L←N⍴0.5' ':If N=0' 'R←0' ':Else' 'R←1+D N-1' ':EndIf'");
  ExecuteLine(U"⎕EX 'g'");
  ExecuteLine(U"ok←(600≡D 600),(2000≡{⍵=0:0 ⋄ 1+∇⍵-1}2000),600≡{x←⍵⍴0.5 ⋄ ⍵=0:0 ⋄ 1+∇⍵-1}600");
  Startup().diagnosticBits = 0;
  EXPECT_EQ(IntegersNamed(U"ok"), (std::vector<int64_t>{1, 1, 1}));
  CheckHeapConsistency();
}

// A recursion that fills the workspace: WS FULL may strike while a call localises its names, and
// the frames go (nothing is left suspended that would keep the workspace full), so the next line runs.
TEST_F(EvalTest, WorkspaceFullInDeepRecursionLeavesAUsableSession) {
  Reset(kMinimumWorkspaceBytes);
  SetUp();
  ExecuteLine(U"⎕FX 'R←D N;A;B' ':If N=0' 'R←0' ':Else' 'R←1+D N-1' ':EndIf'");
  ExecuteLine(U"D 1000000");
  EXPECT_EQ(FrameClassOf(CurrentFrame()), kFrameImmediate);
  ExecuteLine(U"ok←(⎕EN=1),(0=⍴⎕SI),600≡D 600");
  EXPECT_EQ(IntegersNamed(U"ok"), (std::vector<int64_t>{1, 1, 1}));
  CheckHeapConsistency();
}

// Frames saved while a compaction runs hold offsets and flags beside their references; a long line
// makes those offsets larger than 512, which must not be taken for references.
TEST_F(EvalTest, CompactionDuringExecutionLevelsOfLongLines) {
  Reset(kMinimumWorkspaceBytes);
  SetUp();
  Startup().diagnosticBits = kDiagCheckAfterCompaction;
  std::u32string line = U"x←";
  for (int i = 0; i < 300; ++i) line += U"'ab' ";
  line += U"(⍎'y←1 2 3 ⋄ ⍎''(1 2)(3 4)''')";
  for (int i = 0; i < 3000; ++i) ExecuteLine(line);
  Startup().diagnosticBits = 0;
  CheckHeapConsistency();
  EXPECT_EQ(FrameClassOf(CurrentFrame()), kFrameImmediate);
}

}  // namespace
}  // namespace vantor::test
