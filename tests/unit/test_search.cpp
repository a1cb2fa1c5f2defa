// A search table built once and consulted many times, as bound search functions will use it: its
// answers stay right when compaction moves the searched array and the table between lookups, and it
// says when a sought array of another type, or a changed ⎕CT, needs a table of its own.
#include <gtest/gtest.h>

#include <vector>

#include "heap_fixture.h"
#include "host/aplmain.h"
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

}  // namespace
}  // namespace vantor::test
