// The scalar engine seen from C++: pervasion through a 100,000-deep nested value without native
// recursion, calls that restart, fail or convert leave nothing behind in the workspace, the
// kernel selection the operators use, the precision of binomials whose gamma functions are huge, and
// long runs of kernels, reductions and sorts that stop at a strong interrupt.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "heap_fixture.h"
#include "base/startup.h"
#include "language/session.h"
#include "language/scan.h"
#include "language/space.h"
#include "language/stack.h"
#include "base/errors.h"
#include "memory/memory1.h"
#include "primitives/arith.h"
#include "primitives/arith_su.h"
#include "primitives/grade.h"
#include "primitives/reduce.h"

namespace vantor::test {
namespace {

class ArithTest : public InterpreterTest {
};

TEST_F(ArithTest, PervadesA100000DeepValue) {
  constexpr int kDepth = 100'000;
  ExecuteLine(U"x←⊂1 2");
  for (int i = 0; i < kDepth; ++i) ExecuteLine(U"x←⊂x");
  ExecuteLine(U"y←10×x+1");
  Ref item = ValueOf(U"y");
  for (int level = 0; level <= kDepth; ++level) {  // ⊂1 2 and kDepth enclosures
    ASSERT_EQ(KindOf(TypeWord(item)), kKindNested) << "level " << level;
    item = DataOf<Ref>(item)[0];
  }
  ASSERT_EQ(ElementCount(item), 2u);
  EXPECT_EQ(StoredNumber(item, 0), 20);
  EXPECT_EQ(StoredNumber(item, 1), 30);
  // DOMAIN ERROR at the bottom: every frame is given back (the first error records ⎕DMX).
  ExecuteLine(U"z←x+'a'");
  uint64_t before = SpaceUsage().bytesInUse;
  ExecuteLine(U"z←x+'a'");
  EXPECT_EQ(SpaceUsage().bytesInUse, before);
  ExecuteLine(U"x←y←0");
  CheckHeapConsistency();
}

TEST_F(ArithTest, CallsLeaveNoGarbage) {
  ExecuteLine(U"i←⍳100 ⋄ f←i÷3 ⋄ b←100⍴1 0 1 ⋄ n←(1 2)(3 'a') ⋄ big←100⍴2147483647");
  const char32_t* lines[] = {
      U"big+1",       U"i÷7",        U"f×i",           U"b∧i>50",      U"¯8*÷i",        U"⍟-i",
      U"n+1",         U"n=n",        U"(0⍴n)+0⍴n",     U"i+'a'",       U"~i",           U"b⍱i=i",
      U"1 2+[1]2 3⍴i", U"i+[1]3 3⍴0", U"○f",            U"1=i-i",       U"0○i",          U"!171",
  };
  for (const char32_t* line : lines) {
    ExecuteLine(line);
    uint64_t before = SpaceUsage().bytesInUse;
    for (int i = 0; i < 10; ++i) ExecuteLine(line);
    EXPECT_EQ(SpaceUsage().bytesInUse, before) << "line " << (&line - lines);
  }
  CheckHeapConsistency();
}

TEST_F(ArithTest, OperatorKernelSelection) {
  const ScalarKernel* plus = SelectOperatorKernel(kScalarPlus, kInt32, kInt8, false);
  ASSERT_NE(plus, nullptr);
  EXPECT_EQ(plus->input, kInt32);
  EXPECT_TRUE(plus->restart);
  const ScalarKernel* wider = NextOperatorKernel(plus);
  ASSERT_NE(wider, nullptr);
  EXPECT_EQ(wider->input, kInt32);
  EXPECT_EQ(wider->result, kFloat64);
  // Products of integers reduce in binary64 at once.
  EXPECT_EQ(SelectOperatorKernel(kScalarTimes, kInt16, kInt16, true)->result, kFloat64);
  EXPECT_EQ(SelectOperatorKernel(kScalarEqual, kChar8, kChar16, false)->input, kChar16);
  EXPECT_EQ(SelectOperatorKernel(kScalarLess, kBool, kBool, false)->input, kBool);
  EXPECT_EQ(SelectOperatorKernel(kScalarNot, kBool, kBool, false), nullptr);  // not dyadic scalar
}

// Each case takes another way through the reflection formula; the references were computed to 40
// digits from the same binary arguments. Taking Γ of each argument apart loses every digit here.
TEST_F(ArithTest, BinomialOfLargeArgumentsKeepsItsPrecision) {
  struct Case {
    double a, b, expected;
  };
  const Case cases[] = {
      {0.5, 1E15, 35682482.323055426751},
      {-1.5, 1E15, -8.9206205807638388465E-24},
      {1000000000000001.5, 1E15, -8.9206205807638388465E-24},
      {-1000000.5, -999997.75, -10111080178677472.134},
      {0.3, -1000000000000000.5, 20710.873123222232853},
      {-1.5, -1000000000000000.25, -8.9206205807638689536E-24},
      {-25.5, 40.25, -1.0612760459813478217E-20},
      {100.5, 300.25, 6.4901519221784128853E81},
      {510, 1020, 2.8062677682996227104E305},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(Binomial(c.a, c.b) / c.expected, 1, 5E-14) << c.a << "!" << c.b;
  EXPECT_EQ(Binomial(28, 56), 7648690600760440.0);  // exact: below 2^53
  EXPECT_EQ(Binomial(0.5, 0.5), 1);
  EXPECT_EQ(Binomial(-1, -1.5), 0);  // a pole of the denominator
  for (auto [a, b] : {std::pair{1E15, -1E20}, {515.0, 1030.0}, {1E299, 1E300}, {-1.5, -1.0}})
    EXPECT_THROW(Binomial(a, b), AplError) << a << "!" << b;
}

template <uint32_t kCode>
void Primitive(const Ref& left, const Ref& right) {
  CallPrimitive(kCode, left, right);
}

// Allocation does not look for interrupts here (they are not enabled), so only the loops of the
// primitives themselves can act on the one left pending.
TEST_F(ArithTest, LongRunsStopAtAPendingStrongInterrupt) {
  ExecuteLine(U"x←1E5⍴0.5 1.5 ⋄ b←1E5⍴1 0 0 ⋄ c←~b ⋄ n←1E5⍴(1 2)'ab' ⋄ k←1E5");
  ExecuteLine(U"r←1E5⍴2 0 1 ⋄ i←⊂⌽⍳1E5 ⋄ m←300 400⍴b ⋄ t←2E5");
  static const Ref kMinus = kScalarMinus, kNotEqual = kScalarNotEqual, kRight = kPrimRight;  // operands
  struct Case {
    const char32_t* left;  // nullptr: monadic
    const char32_t* right;
    void (*call)(const Ref& left, const Ref& right);
  };
  const Case cases[] = {
      {U"x", U"x", [](const Ref& l, const Ref& r) { DyadicScalar(kScalarFactorial, l, r); }},  // whole arrays
      {U"b", U"c", [](const Ref& l, const Ref& r) { DyadicScalar(kScalarNotEqual, l, r); }},   // word by word
      {nullptr, U"x", [](const Ref&, const Ref& r) { Reduce(kMinus, r, 0); }},   // a kernel cell by cell
      {nullptr, U"b", [](const Ref&, const Ref& r) { Reduce(kNotEqual, r, 0); }},  // windows that slide
      {nullptr, U"n", [](const Ref&, const Ref& r) { Reduce(kRight, r, 0); }},     // item by item
      {nullptr, U"x", [](const Ref&, const Ref& r) { Grade(r, false); }},
      {U"b", U"n", Primitive<kPrimSlash>},  // compress
      {U"r", U"n", Primitive<kPrimSlash>},  // replicate
      {nullptr, U"n", Primitive<kPrimRotate>},
      {nullptr, U"m", Primitive<kPrimTranspose>},
      {U"t", U"n", Primitive<kPrimUpArrow>},
      {U"n", U"n", Primitive<kPrimComma>},
      {U"i", U"n", Primitive<kPrimSquad>},
      {nullptr, U"k", Primitive<kPrimIota>},
  };
  for (const Case& c : cases) {
    for (int pass = 0; pass < 2; ++pass) {  // the first error may give ⎕DMX its pockets
      uint64_t before = SpaceUsage().bytesInUse;
      uint32_t error = 0;
      {
        Temporaries held;  // compaction keeps the arguments current
        held[0] = c.left ? Retained(ValueOf(c.left)) : 0;
        held[1] = Retained(ValueOf(c.right));
        g_interruptPending = true;
        try {
          c.call(held[0], held[1]);
        } catch (const AplError& e) {
          error = e.errorNumber;
        }
      }
      const auto which = &c - cases;
      EXPECT_EQ(error, kInterrupt) << "case " << which;
      EXPECT_FALSE(g_interruptPending) << "case " << which;
      if (pass == 1) {
        EXPECT_EQ(SpaceUsage().bytesInUse, before) << "case " << which;
      }
    }
  }
  g_interruptPending = false;
  CheckHeapConsistency();
}

// An interrupt that lands part way through copying a nested result drops the result with its items
// counted right: the counts of the argument's items come out as they went in, and nothing is left
// behind (the workspace in use may differ by ⎕DMX's few words, never by a result).
TEST_F(ArithTest, NestedResultsInterruptedHalfWayLeaveTheCountsRight) {
  ExecuteLine(U"n←2E5⍴(1 2)'ab'(⊂3 4) ⋄ b←2E5⍴1 0 1 ⋄ i←⊂⌽⍳2E5");
  const char32_t* lines[] = {U"z←⌽n", U"z←b/n", U"z←3E5↑n", U"z←n,n", U"z←i⌷n", U"z←⍉2 1E5⍴n"};
  for (const char32_t* line : lines) ExecuteLine(line);  // interning, names, ⎕DMX's pockets
  ExecuteLine(U"z←0");
  auto itemCounts = [] {
    std::vector<uint32_t> counts;
    for (int k = 0; k < 3; ++k) counts.push_back(RefCount(DataOf<Ref>(ValueOf(U"n"))[k]));
    return counts;
  };
  const std::vector<uint32_t> counts = itemCounts();
  const uint64_t before = SpaceUsage().bytesInUse;
  std::atomic<bool> done{false};
  std::thread breaker([&] {
    for (uint32_t k = 0; !done; ++k) {
      std::this_thread::sleep_for(std::chrono::microseconds(200 + 37 * (k % 50)));
      RequestInterrupt();
      RequestInterrupt();
    }
  });
  for (int round = 0; round < 20; ++round)
    for (const char32_t* line : lines) {
      g_interruptPending = false;  // one that came between lines
      ExecuteLine(line);
    }
  done = true;
  breaker.join();
  g_interruptPending = false;
  ExecuteLine(U"z←0");
  EXPECT_EQ(itemCounts(), counts);
  EXPECT_LT(SpaceUsage().bytesInUse, before + 1024);
  CheckHeapConsistency();
}

}  // namespace
}  // namespace vantor::test
