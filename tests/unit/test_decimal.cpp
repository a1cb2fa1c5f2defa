// The decimal128 arithmetic of ⎕FR 1287 element by element: exact decimal results where binary64
// rounds, the conversions to and from binary64 and integers, the tolerant floor, residue,
// comparisons and GCD with ⎕DCT, the value-specific DOMAIN ERRORs, and the per-thread status flags.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "heap_fixture.h"
#include "language/dmx.h"
#include "base/errors.h"
#include "primitives/darith.h"

namespace vantor::test {
namespace {

Decimal D(const char* text) {
  _IDEC_flags flags = 0;
  return bid128_from_string(const_cast<char*>(text), BID_ROUNDING_TO_NEAREST, &flags);
}

std::string Text(Decimal x) {
  char buffer[64];
  _IDEC_flags flags = 0;
  bid128_to_string(buffer, x, &flags);
  return buffer;
}

// Equal in value (1.50 and 1.5 are the same number). An expected text starting with ~ asks only for
// the first 32 digits, for results of the library's transcendental functions.
::testing::AssertionResult SameValue(Decimal actual, const char* expected) {
  _IDEC_flags flags = 0;
  bool near = expected[0] == '~';
  Decimal want = D(expected + near);
  Decimal allowed = near ? bid128_mul(bid128_abs(want), D("1E-32"), BID_ROUNDING_TO_NEAREST, &flags) : D("0");
  Decimal error = bid128_abs(bid128_sub(actual, want, BID_ROUNDING_TO_NEAREST, &flags));
  if (bid128_quiet_less_equal(error, allowed, &flags)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << Text(actual) << " is not " << expected;
}

const Decimal kTolerance = D("1E-28");
const Decimal kExact = D("0");

struct DyadicCase {
  const char* name;
  std::function<Decimal(Decimal, Decimal)> op;
  const char* a;
  const char* b;
  const char* expected;
};

TEST(DecimalArithmetic, DyadicResults) {
  auto residue = [](Decimal a, Decimal b) { return DecimalResidue(a, b, kTolerance); };
  auto gcd = [](Decimal a, Decimal b) { return DecimalGcd(a, b, kTolerance); };
  auto lcm = [](Decimal a, Decimal b) { return DecimalLcm(a, b, kTolerance); };
  const DyadicCase cases[] = {
      {"0.1+0.2 is exact", DecimalAdd, "0.1", "0.2", "0.3"},
      {"1-0.9", DecimalSubtract, "1", "0.9", "0.1"},
      {"1.1×1.1", DecimalMultiply, "1.1", "1.1", "1.21"},
      {"1÷3 to 34 digits", DecimalDivide, "1", "3", "0.3333333333333333333333333333333333"},
      {"2÷3 rounds half even", DecimalDivide, "2", "3", "0.6666666666666666666666666666666667"},
      {"max", DecimalMax, "-2.5", "1", "1"},
      {"min", DecimalMin, "-2.5", "1", "-2.5"},
      {"3|¯1", residue, "3", "-1", "2"},
      {"¯3|1", residue, "-3", "1", "-2"},
      {"0.1|1 is 0", residue, "0.1", "1", "0"},
      {"2.5|7", residue, "2.5", "7", "2"},
      {"1|¯0.25", residue, "1", "-0.25", "0.75"},
      {"0|5", residue, "0", "5", "5"},
      {"residue within ⎕DCT of a multiple", residue, "3", "6.00000000000000000000000000000001", "0"},
      {"2*10", DecimalPower, "2", "10", "1024"},
      {"0.1*3 is exact", DecimalPower, "0.1", "3", "0.001"},
      {"2*¯2", DecimalPower, "2", "-2", "0.25"},
      {"4*0.5", DecimalPower, "4", "0.5", "2"},
      {"2*0.5", DecimalPower, "2", "0.5", "1.414213562373095048801688724209698"},
      {"10⍟1000", DecimalLogarithmBase, "10", "1000", "~3"},
      {"2!5", DecimalBinomial, "2", "5", "10"},
      {"5!2", DecimalBinomial, "5", "2", "0"},
      {"20!40", DecimalBinomial, "20", "40", "137846528820"},
      {"1!¯1", DecimalBinomial, "1", "-1", "-1"},
      {"2!¯3", DecimalBinomial, "2", "-3", "6"},
      {"¯2!¯1", DecimalBinomial, "-2", "-1", "-1"},
      {"¯1!3", DecimalBinomial, "-1", "3", "0"},
      {"0.5!1.5", DecimalBinomial, "0.5", "1.5", "~1.5"},
      {"0○0.6", DecimalCircle, "0", "0.6", "0.8"},
      {"2○0", DecimalCircle, "2", "0", "1"},
      {"4○0", DecimalCircle, "4", "0", "1"},
      {"¯4○1", DecimalCircle, "-4", "-1", "0"},
      {"10○¯2", DecimalCircle, "10", "-2", "2"},
      {"12○¯1", DecimalCircle, "12", "-1", "3.141592653589793238462643383279503"},
      {"6∨4", gcd, "6", "4", "2"},
      {"0∨¯5", gcd, "0", "-5", "5"},
      {"0.2∨0.3", gcd, "0.2", "0.3", "0.1"},
      {"6∧4", lcm, "6", "4", "12"},
      {"¯6∧4", lcm, "-6", "4", "-12"},
      {"0.2∧0.3", lcm, "0.2", "0.3", "0.6"},
  };
  for (const DyadicCase& c : cases) EXPECT_TRUE(SameValue(c.op(D(c.a), D(c.b)), c.expected)) << c.name;
}

TEST(DecimalArithmetic, MonadicResults) {
  struct Case {
    const char* name;
    std::function<Decimal(Decimal)> op;
    const char* b;
    const char* expected;
  } cases[] = {
      {"!5", DecimalFactorial, "5", "120"},
      {"!30 is exact", DecimalFactorial, "30", "265252859812191058636308480000000"},
      {"!0.5", DecimalFactorial, "0.5", "~0.8862269254527580136490837416705726"},
      {"-", DecimalNegate, "2.5", "-2.5"},
      {"|", DecimalMagnitude, "-2.5", "2.5"},
      {"÷4", [](Decimal b) { return DecimalReciprocal(b, 0); }, "4", "0.25"},
      {"*0", DecimalExp, "0", "1"},
      {"⍟1", DecimalLog, "1", "0"},
      {"○1", DecimalPiTimes, "1", "3.141592653589793238462643383279503"},
  };
  for (const Case& c : cases) EXPECT_TRUE(SameValue(c.op(D(c.b)), c.expected)) << c.name;
  EXPECT_EQ(DecimalDirection(D("-0.5")), -1);
  EXPECT_EQ(DecimalDirection(D("0")), 0);
  EXPECT_EQ(DecimalDirection(D("7E-6000")), 1);
}

TEST(DecimalArithmetic, TolerantFloorAndCeiling) {
  struct Case {
    const char* x;
    Decimal tolerance;
    const char* floor;
    const char* ceiling;
  } cases[] = {
      {"2.5", kTolerance, "2", "3"},
      {"-2.5", kTolerance, "-3", "-2"},
      {"2.9999999999999999999999999999999", kTolerance, "3", "3"},
      {"2.9999999999999999999999999999999", kExact, "2", "3"},
      {"-1E-30", kTolerance, "0", "0"},
      {"-1E-30", kExact, "-1", "0"},
      {"-7.00000000000000000000000000000001", kTolerance, "-7", "-7"},
      {"12345678901234567890.5", kTolerance, "12345678901234567890", "12345678901234567891"},
      // Within ⎕DCT relative to 1E29, half a unit is no distance at all.
      {"123456789012345678901234567890.5", kTolerance, "123456789012345678901234567890", "123456789012345678901234567890"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(SameValue(DecimalFloor(D(c.x), c.tolerance), c.floor)) << "⌊" << c.x;
    EXPECT_TRUE(SameValue(DecimalCeiling(D(c.x), c.tolerance), c.ceiling)) << "⌈" << c.x;
  }
  EXPECT_FALSE(IsDecimalNegative(DecimalCeiling(D("-0.3"), kTolerance))) << "⌈¯0.3 gives 0, not ¯0";
}

TEST(DecimalArithmetic, TolerantComparisons) {
  Decimal one = D("1"), near = D("1.00000000000000000000000000001"), far = D("1.000000000000000000000000001");
  EXPECT_TRUE(DecimalEqual(one, near, kTolerance));
  EXPECT_FALSE(DecimalEqual(one, near, kExact));
  EXPECT_FALSE(DecimalEqual(one, far, kTolerance));
  EXPECT_TRUE(DecimalLessEqual(near, one, kTolerance));
  EXPECT_FALSE(DecimalLessEqual(near, one, kExact));
  EXPECT_TRUE(DecimalGreaterEqual(one, near, kTolerance));
  EXPECT_FALSE(DecimalGreaterEqual(one, far, kTolerance));
  EXPECT_TRUE(DecimalLessEqual(D("-5"), D("3"), kExact));
  // Differences that overflow compare as unequal instead of failing.
  EXPECT_FALSE(DecimalEqual(D("9E6144"), D("-9E6144"), kTolerance));
  EXPECT_FALSE(DecimalExceptionRaised());
}

TEST(DecimalConversion, DoubleAndIntegerValues) {
  EXPECT_TRUE(SameValue(DecimalFromDouble(0.1), "0.1")) << "shortest digits, not the binary value";
  EXPECT_TRUE(SameValue(DecimalFromDouble(-2.5e-300), "-2.5E-300"));
  EXPECT_TRUE(SameValue(DecimalFromDouble(1.7976931348623157e308), "1.7976931348623157E308"));
  EXPECT_TRUE(SameValue(DecimalFromDouble(-0.0), "0"));
  EXPECT_TRUE(SameValue(DecimalFromInt(-9223372036854775807LL - 1), "-9223372036854775808"));
  EXPECT_EQ(DoubleFromDecimal(D("0.1")), 0.1);
  EXPECT_EQ(DoubleFromDecimal(D("1E-400")), 0.0);
  EXPECT_EQ(IntegerFromDecimal(D("3.00000000000001"), -10, 10), 3);
  EXPECT_EQ(IntegerFromDecimal(D("-1E-15"), -10, 10), 0);
  EXPECT_EQ(IntegerFromDecimal(D("1E18"), 0, 1000000000000000000LL), 1000000000000000000LL);
  EXPECT_FALSE(BooleanFromDecimal(D("1E-15")));
  EXPECT_TRUE(BooleanFromDecimal(D("0.999999999999999")));
}

// Values a kernel cannot compute leave flags for the post-checks; each thread sees only its own.
TEST(DecimalStatusFlags, RecordOverflowAndGiveUpPerThread) {
  ClearDecimalStatus();
  DecimalAdd(D("1"), D("2"));
  EXPECT_FALSE(DecimalExceptionRaised()) << "an exact sum raises nothing";
  DecimalDivide(D("1"), D("3"));
  EXPECT_FALSE(DecimalExceptionRaised()) << "inexact is not an exception";
  bool otherThreadSaw = true;
  std::thread([&] {
    DecimalMultiply(D("1E6000"), D("1E6000"));
    otherThreadSaw = DecimalExceptionRaised();
  }).join();
  EXPECT_TRUE(otherThreadSaw);
  EXPECT_FALSE(DecimalExceptionRaised()) << "another thread's overflow is not ours";

  // The operations whose results are complex for these arguments give up.
  const std::function<Decimal()> giveUps[] = {
      [] { return DecimalPower(D("-8"), D("0.3333333333333333333333333333333333")); },
      [] { return DecimalLog(D("-1")); },
      [] { return DecimalCircle(D("-1"), D("2")); },
      [] { return DecimalCircle(D("0"), D("2")); },
      [] { return DecimalCircle(D("8"), D("0")); },
      [] { return DecimalCircle(D("-4"), D("0.5")); },
      [] { return DecimalDivide(D("1"), D("0")); },
      [] { return DecimalExp(D("1E10")); },
  };
  for (size_t i = 0; i < std::size(giveUps); ++i) {
    ClearDecimalStatus();
    giveUps[i]();
    EXPECT_TRUE(DecimalExceptionRaised()) << "case " << i;
  }
  ClearDecimalStatus();
  EXPECT_FALSE(DecimalExceptionRaised());
}

class DecimalErrors : public HeapTest {
 protected:
  void SetUp() override {
    HeapTest::SetUp();
    SetErrorState(&state_);
  }
  void TearDown() override {
    SetErrorState(nullptr);
    HeapTest::TearDown();
  }
  // The error number `f` raises, with its ⎕DMX message; 0 when it raises none.
  std::pair<uint32_t, std::u32string> Raised(const std::function<void()>& f) {
    try {
      f();
    } catch (const AplError& e) {
      return {e.errorNumber, ErrorState().dmx.message};
    }
    return {0, U""};
  }
  ThreadErrorState state_;
};

TEST_F(DecimalErrors, DivisionByZeroFollowsDiv) {
  EXPECT_TRUE(SameValue(DecimalDivideChecked(D("0"), D("0"), 0), "1"));
  EXPECT_TRUE(SameValue(DecimalDivideChecked(D("0"), D("0"), 1), "0"));
  EXPECT_TRUE(SameValue(DecimalDivideChecked(D("5"), D("0"), 1), "0"));
  EXPECT_TRUE(SameValue(DecimalReciprocal(D("0"), 1), "0"));
  auto zeroDivide = std::make_pair(uint32_t{kDomainError}, std::u32string(U"Divide by zero"));
  EXPECT_EQ(Raised([] { DecimalDivideChecked(D("5"), D("0"), 0); }), zeroDivide);
  EXPECT_EQ(Raised([] { DecimalReciprocal(D("0"), 0); }), zeroDivide);
}

TEST_F(DecimalErrors, ValuesOutsideTheDomain) {
  const std::function<void()> domainErrors[] = {
      [] { IntegerFromDecimal(D("2.5"), -10, 10); },
      [] { IntegerFromDecimal(D("11"), -10, 10); },
      [] { BooleanFromDecimal(D("2")); },
      [] { BooleanFromDecimal(D("1.0000000000001")); },
      [] { DoubleFromDecimal(D("1E400")); },
      [] { DecimalFactorial(D("-1")); },
      [] { DecimalCircle(D("13"), D("1")); },
      [] { DecimalCircle(D("1.5"), D("1")); },
      [] { DecimalBinomial(D("0.5"), D("-1")); },
  };
  for (size_t i = 0; i < std::size(domainErrors); ++i)
    EXPECT_EQ(Raised(domainErrors[i]).first, uint32_t{kDomainError}) << "case " << i;
}

}  // namespace
}  // namespace vantor::test
