// Indexed and selective assignment seen from C++ (in place or copied, nothing changed by an error,
// positions that take nothing), and the enclose family over deep nesting and under compaction, where
// a reference not held where the heap can see it, or one retained too often, would show.
#include <gtest/gtest.h>

#include "heap_fixture.h"
#include "base/startup.h"
#include "language/session.h"
#include "language/space.h"
#include "base/errors.h"
#include "primitives/iass.h"
#include "primitives/index.h"
#include "primitives/same.h"

namespace vantor::test {
namespace {

class IndexTest : public InterpreterTest {
 protected:
  static Ref Entry(const char32_t* name) { return LookupName(name, LookupMode::Find); }
  static Ref Value(const char32_t* name) { return EntryValue(Entry(name)); }
  // True when the variables hold matching values.
  static bool Same(const char32_t* a, const char32_t* b) { return Match(Value(a), Value(b)); }
  // An index list of one item per axis, each a variable's value (nullptr: the whole axis), in the
  // evaluator's LeftSlot so that it stays where compaction can see it.
  static const Ref& List(std::initializer_list<const char32_t*> names) {
    Ref list = AllocVector(kRefElement, static_cast<uint32_t>(names.size()));
    uint32_t k = 0;
    for (const char32_t* name : names) {
      Ref item = name ? Value(name) : 0;
      Retain(item);
      DataOf<Ref>(list)[k++] = item;
    }
    WorkingSlot(kSlotLeft) = list;
    return WorkingSlot(kSlotLeft);
  }
  static const Ref& ValueSlot(const char32_t* name) {
    WorkingSlot(kSlotRight) = Value(name);
    Retain(WorkingSlot(kSlotRight));
    return WorkingSlot(kSlotRight);
  }
  static void ClearSlots() {
    Release(WorkingSlot(kSlotLeft));
    Release(WorkingSlot(kSlotRight));
  }
  static uint32_t ErrorOf(void (*action)()) {
    try {
      action();
    } catch (const AplError& e) {
      ClearSlots();
      return e.errorNumber;
    }
    ClearSlots();
    return 0;
  }
};

TEST_F(IndexTest, UnsharedTargetIsUpdatedInPlaceAndWidenedByCopy) {
  ExecuteLine(U"A←10 20 30 40 ⋄ I←2 4 ⋄ V←7 8 ⋄ W←1000.5 ⋄ C←'x'");
  AssignIndexed(Entry(U"A"), List({U"I"}), ValueSlot(U"V"));  // A shares the line's constant: a copy
  ClearSlots();
  Ref before = Value(U"A");
  AssignIndexed(Entry(U"A"), List({U"I"}), ValueSlot(U"V"));
  ClearSlots();
  EXPECT_EQ(Value(U"A"), before);  // now unshared: the same pocket
  ExecuteLine(U"E←10 7 30 8");
  EXPECT_TRUE(Same(U"A", U"E"));

  AssignIndexed(Entry(U"A"), List({U"I"}), ValueSlot(U"W"));  // a wider type: a converted copy
  ClearSlots();
  EXPECT_EQ(ElementOf(TypeWord(Value(U"A"))), kFloat64);
  ExecuteLine(U"E←10 1000.5 30 1000.5");
  EXPECT_TRUE(Same(U"A", U"E"));

  AssignIndexed(Entry(U"A"), List({U"I"}), ValueSlot(U"C"));  // characters among numbers: mixed
  ClearSlots();
  ExecuteLine(U"E←10 'x' 30 'x'");
  EXPECT_TRUE(Same(U"A", U"E"));

  ExecuteLine(U"B←A");  // shared: B keeps the old value
  AssignIndexed(Entry(U"A"), List({U"I"}), ValueSlot(U"V"));
  ClearSlots();
  ExecuteLine(U"E←10 7 30 8");
  EXPECT_TRUE(Same(U"A", U"E"));
  ExecuteLine(U"E←10 'x' 30 'x'");
  EXPECT_TRUE(Same(U"B", U"E"));
  CheckHeapConsistency();
}

TEST_F(IndexTest, ErrorsLeaveTheTargetUnchanged) {
  ExecuteLine(U"M←2 3⍴⍳6 ⋄ R←1 2 ⋄ K←3 1 ⋄ BAD←3 4 ⋄ V2←5 6 ⋄ V3←2 2⍴9 ⋄ F←1.5 ⋄ S←'abc' ⋄ E←M");
  struct Case {
    void (*action)();
    uint32_t error;
  } cases[] = {
      {[] { AssignIndexed(Entry(U"M"), List({U"R", U"BAD"}), ValueSlot(U"V2")); }, kIndexError},
      {[] { AssignIndexed(Entry(U"M"), List({U"R", U"K"}), ValueSlot(U"S")); }, kRankError},
      {[] { AssignIndexed(Entry(U"M"), List({U"R", nullptr}), ValueSlot(U"V3")); }, kLengthError},
      {[] { AssignIndexed(Entry(U"M"), List({U"F", nullptr}), ValueSlot(U"V2")); }, kDomainError},
      {[] { AssignIndexed(Entry(U"M"), List({U"R"}), ValueSlot(U"V2")); }, kRankError},
      {[] { AssignIndexed(Entry(U"UNDEFINED"), List({U"R"}), ValueSlot(U"V2")); }, kSyntaxError},
  };
  LookupName(U"UNDEFINED", LookupMode::Create);
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf(c.action), c.error);
    EXPECT_TRUE(Same(U"M", U"E"));
  }
  CheckHeapConsistency();
}

// A stand-in structural function: positions 3 1 and a 0 (a fill that takes nothing).
CallResult PositionsWithFill(const Ref&, const Ref& right) {
  Ref r = AllocVector(kInt32, 3);
  DataOf<int32_t>(r)[0] = DataOf<int32_t>(right)[2];
  DataOf<int32_t>(r)[1] = DataOf<int32_t>(right)[0];
  DataOf<int32_t>(r)[2] = 0;
  return {r};
}
CallResult NotPositions(const Ref&, const Ref&) { return {AllocVector(kFloat64, 0)}; }

TEST_F(IndexTest, SelectionsCarryPositionsToTheAssignment) {
  ExecuteLine(U"A←'abcde' ⋄ I←2 3 4 ⋄ V←'XYZ'");
  Temporaries hold;
  hold[0] = MakeSelection(Entry(U"A"));
  ASSERT_TRUE(IsSelection(hold[0]));
  CallResult step = ApplyToSelection(IndexArray, List({U"I"}), hold[0]);  // (A[2 3 4])
  ClearSlots();
  hold[1] = step.value;
  hold[2] = ApplyToSelection(PositionsWithFill, 0, hold[1]).value;  // positions 4 2 0
  AssignSelection(hold[2], ValueSlot(U"V"));
  ClearSlots();
  ExecuteLine(U"E←'aYcXe'");
  EXPECT_TRUE(Same(U"A", U"E"));
  EXPECT_THROW(ApplyToSelection(NotPositions, 0, hold[0]), AplError);
}

TEST_F(IndexTest, DeepNestingIsWalkedWithoutRecursion) {
  ExecuteLine(U"D←'x'");
  for (int i = 0; i < 100000; ++i) ExecuteLine(U"D←(⊂D),1");
  ExecuteLine(U"R←∊D ⋄ F←⊃D ⋄ ⎕ML←0 ⋄ T←∊D ⋄ ⎕ML←1");
  EXPECT_EQ(ElementCount(Value(U"R")), 100001u);
  EXPECT_EQ(KindOf(TypeWord(Value(U"R"))), kKindNested);  // characters and numbers
  EXPECT_EQ(Depth(Value(U"T")), -100000);  // the innermost 'x',1 is a simple vector
  ExecuteLine(U"D←R←F←T←0");
  CheckHeapConsistency();
}

// Every line, repeated, must leave the workspace as it found it: a missing release shows as growth,
// and a compaction after every allocation moves anything held outside a root slot.
TEST_F(IndexTest, RepeatedSelectionsLeaveNoGarbageUnderCompaction) {
  Reset(kMinimumWorkspaceBytes);
  SetUp();
  ExecuteLine(U"M←3 4⍴⍳12 ⋄ N←(1 2)'ab' (3 (4 5)) ⋄ C←2 3⍴'abcdef' ⋄ BIG←⍳250000 ⋄ IX←⍳100000");
  const char32_t* lines[] = {
      U"R←M[2 3;1 4]",     U"R←N[3 1]",          U"R←⍳2 3",            U"R←↑N",
      U"R←↑[1]N",          U"R←↓M",              U"R←⊂[1]M",           U"R←1 0 1⊂'abc'",
      U"R←(2 2)⊃N",        U"R←∊N",              U"R←(⊂2 3)⌷M",        U"R←0⍴N",
      U"R←⊃0⍴N",           U"R←C[;2]",           U"R←↑0⍴⊂N",           U"R←N[⍬]",
      U"R←BIG[IX]",        U"R←⊂[1]2 50000⍴BIG", U"R←M[4;1]",         U"R←'ab'[3]",         U"⎕ML←3 ⋄ R←1 1 2⊂'abc' ⋄ ⎕ML←1",
  };
  Startup().diagnosticBits = kDiagCheckAfterCompaction;
  for (size_t k = 0; k < std::size(lines); ++k) {
    ExecuteLine(lines[k]);
    Compact(0);  // compaction also narrows: measure both sides after one
    uint64_t before = SpaceUsage().bytesInUse;
    for (int i = 0; i < 5; ++i) ExecuteLine(lines[k]);
    Compact(0);
    EXPECT_EQ(SpaceUsage().bytesInUse, before) << "line " << k;
  }
  Startup().diagnosticBits = 0;
  CheckHeapConsistency();
}

}  // namespace
}  // namespace vantor::test
