// A search table built once and consulted many times, as bound search functions use it: its
// answers stay right when compaction moves the searched array and the table between lookups, and it
// says when a sought array of another type, or a changed ⎕CT, needs a table of its own. Hashed arrays
// and bound search functions keep one table across searches (a transcript cannot see that it is the
// same table) and replace it, without leaving the old one behind, when the search changes.
#include <gtest/gtest.h>

#include <vector>

#include "heap_fixture.h"
#include "base/startup.h"
#include "language/session.h"
#include "memory/memory2.h"
#include "primitives/key.h"
#include "sysfns/quadvar.h"

namespace vantor::test {
namespace {

class SearchTableTest : public InterpreterTest {
 protected:
  template <class T>
  static Ref VectorOf(ElementType type, const std::vector<T>& values) {
    Ref r = AllocVector(type, static_cast<uint32_t>(values.size()));
    std::copy(values.begin(), values.end(), DataOf<T>(r));
    return r;
  }
  static std::vector<uint32_t> Find(SearchTable& table, const Ref& sought) {
    std::vector<uint32_t> answers(ElementCount(sought));
    table.Find(sought, answers.size(), answers.data());
    return answers;
  }
  static void SetTolerance(double t) {
    Ref value = AllocScalar(kFloat64);
    *DataOf<double>(value) = t;
    AssignSystemVariable(kQuadCT, value);
    Release(value);
  }
};

// 1000 multiples of 3 (each twice, so that the first position must win), searched with a hash.
std::vector<int32_t> Multiples() {
  std::vector<int32_t> values;
  for (int32_t i = 0; i < 1000; ++i) values.push_back(3 * (i % 500));
  return values;
}

TEST_F(SearchTableTest, AnswersSurviveCompactionBetweenLookups) {
  Temporaries hold;
  hold[0] = AllocVector(kInt32, 100000);  // room in front, freed below so that compaction moves what follows
  hold[1] = VectorOf(kInt32, Multiples());
  hold[2] = VectorOf(kInt32, std::vector<int32_t>{0, 3, 4, 1497, 1500, 30, 6, 9, 12, 15, 999});
  SearchTable table(hold[1], 1000, 1, kInt32, 11);
  ASSERT_EQ(table.Method(), SearchMethod::kWord32);
  const std::vector<uint32_t> expected{0, 1, 1000, 499, 1000, 10, 2, 3, 4, 5, 333};
  EXPECT_EQ(Find(table, hold[2]), expected);
  const Ref before = hold[1];
  Release(hold[0]);
  Compact(0);
  CheckHeapConsistency();
  ASSERT_NE(hold[1], before);
  EXPECT_EQ(Find(table, hold[2]), expected);
  Temporaries narrow;
  narrow[0] = VectorOf(kInt16, std::vector<int16_t>{3, 5, 6, 1497, 0, 1, 2, 3, 4, 5, 6});
  ASSERT_TRUE(table.Accepts(kInt16));
  EXPECT_EQ(Find(table, narrow[0]), (std::vector<uint32_t>{1, 1000, 2, 499, 0, 1000, 1000, 1, 1000, 1000, 2}));
  EXPECT_FALSE(table.Accepts(kFloat64));
}

TEST_F(SearchTableTest, FloatTableServesOnlyUnderItsTolerance) {
  Temporaries hold;
  std::vector<double> values;
  for (int i = 1; i <= 100; ++i) values.push_back(i * 0.1);
  hold[0] = VectorOf(kFloat64, values);
  hold[1] = VectorOf(kFloat64, std::vector<double>{0.30000000000000004, 0.3 + 1e-15, 10.000000001, 0.1, -0.1,
                                                   5.0, 2.5, 7.7, 0.05, 9.9, 1.0});
  SearchTable table(hold[0], 100, 1, kFloat64, 11);
  ASSERT_EQ(table.Method(), SearchMethod::kTolerant);
  EXPECT_EQ(Find(table, hold[1]), (std::vector<uint32_t>{2, 2, 100, 0, 100, 49, 24, 76, 100, 98, 9}));
  EXPECT_TRUE(table.Accepts(kInt32));
  SetTolerance(0);
  EXPECT_FALSE(table.Accepts(kFloat64));
  SetTolerance(1e-14);
  EXPECT_TRUE(table.Accepts(kFloat64));
}

constexpr uint32_t kCodeIndexOf = 35;
constexpr uint32_t kCodeMember = 44;

std::vector<uint32_t> IntegersIn(Ref array) {
  std::vector<uint32_t> values;
  for (uint64_t i = 0; i < ElementCount(array); ++i) values.push_back(static_cast<uint32_t>(StoredNumber(array, i)));
  return values;
}

TEST_F(SearchTableTest, HashedArrayReusesItsTableWhileTheSearchFits) {
  Temporaries hold;
  hold[0] = HashedArrayOf(VectorOf(kInt32, Multiples()));
  ReleaseRef(PlainArray(hold[0]));  // the hashed array holds it now
  hold[1] = VectorOf(kInt32, std::vector<int32_t>{0, 3, 4, 1497, 1500, 30, 6, 9, 12, 15, 999});
  Ref first = CallPrimitive(kCodeIndexOf, hold[0], hold[1]).value;
  EXPECT_EQ(IntegersIn(first), (std::vector<uint32_t>{1, 2, 1001, 500, 1001, 11, 3, 4, 5, 6, 334}));
  ReleaseRef(first);
  hold[2] = KeptTable(hold[0]);  // held here too, so that compaction keeps the comparison honest
  ASSERT_NE(hold[2], 0u);
  Retain(hold[2]);
  Ref found = CallPrimitive(kCodeMember, hold[1], hold[0]).value;  // ∊ searches the same cells
  EXPECT_EQ(KeptTable(hold[0]), hold[2]);
  ReleaseRef(found);
  Release(hold[1]);
  hold[1] = VectorOf(kFloat64, std::vector<double>{3.0, 3.5});  // a wider sought type needs a new table
  Ref wider = CallPrimitive(kCodeIndexOf, hold[0], hold[1]).value;
  EXPECT_EQ(IntegersIn(wider), (std::vector<uint32_t>{2, 1001}));
  ReleaseRef(wider);
  EXPECT_NE(KeptTable(hold[0]), hold[2]);
}

// The kept table must survive compactions that narrow what they can: its slots (small indices here)
// never, the array it reads directly (small values here) only by making the table build anew.
TEST_F(SearchTableTest, KeptTableSurvivesNarrowingCompaction) {
  Temporaries hold;
  std::vector<int32_t> large, small;
  for (int32_t i = 0; i < 1000; ++i) {
    large.push_back(100000 * (i % 500));
    small.push_back(i % 500);
  }
  hold[0] = HashedArrayOf(VectorOf(kInt32, large));
  ReleaseRef(PlainArray(hold[0]));
  hold[1] = HashedArrayOf(VectorOf(kInt32, small));
  ReleaseRef(PlainArray(hold[1]));
  hold[2] = VectorOf(kInt32, std::vector<int32_t>{0, 100000, 7, 49900000, 499, 3, 200000, 1, 2, 5, 6});
  for (int pass = 0; pass < 2; ++pass) {
    Ref inLarge = CallPrimitive(kCodeIndexOf, hold[0], hold[2]).value;
    EXPECT_EQ(IntegersIn(inLarge), (std::vector<uint32_t>{1, 2, 1001, 500, 1001, 1001, 3, 1001, 1001, 1001, 1001}));
    ReleaseRef(inLarge);
    Ref inSmall = CallPrimitive(kCodeIndexOf, hold[1], hold[2]).value;
    EXPECT_EQ(IntegersIn(inSmall), (std::vector<uint32_t>{1, 1001, 8, 1001, 500, 4, 1001, 2, 3, 6, 7}));
    ReleaseRef(inSmall);
    Compact(0);
    CheckHeapConsistency();
  }
  EXPECT_EQ(ElementOf(TypeWord(PlainArray(hold[1]))), kInt16);  // the compaction did narrow it
}

TEST_F(SearchTableTest, BoundSearchKeepsOneTableAndTheTolerance) {
  ExecuteLine(U"X←0.1×⍳1000 ⋄ f←X∘⍳ ⋄ r←f 0.3");
  Temporaries hold;
  hold[0] = Words(ValueOf(U"f"))[kDerivedLeftOperand];
  Retain(hold[0]);
  ASSERT_TRUE(IsHashedArray(hold[0]));
  hold[1] = KeptTable(hold[0]);
  Retain(hold[1]);
  ExecuteLine(U"r←f 0.3");
  EXPECT_EQ(StoredNumber(ValueOf(U"r"), 0), 3);  // 0.1×3 is not 0.3, but tolerantly equal
  EXPECT_EQ(KeptTable(hold[0]), hold[1]);
  ExecuteLine(U"⎕CT←0 ⋄ r←f 0.3");
  EXPECT_EQ(StoredNumber(ValueOf(U"r"), 0), 1001);
  EXPECT_NE(KeptTable(hold[0]), hold[1]);
}

TEST_F(SearchTableTest, ReplacedTablesLeaveNoGarbage) {
  ExecuteLine(U"H←1500⌶ ⋄ X←H 0.1×⍳1000 ⋄ f←∊∘(⍳100)");
  const char32_t* line = U"⎕CT←0 ⋄ r←X⍳0.3 ⋄ ⎕CT←1E¯14 ⋄ r←X⍳0.3 ⋄ r←X⍳'a' ⋄ r←f 3 ⋄ r←f 0.5";
  ExecuteLine(line);
  uint64_t before = SpaceUsage().bytesInUse;
  for (int i = 0; i < 10; ++i) ExecuteLine(line);
  EXPECT_EQ(SpaceUsage().bytesInUse, before);
  CheckHeapConsistency();
}

}  // namespace
}  // namespace vantor::test
