// Narrowing: each row builds an array of one element type, narrows it and checks the resulting type
// and that every value survived.
#include <gtest/gtest.h>

#include <cmath>
#include <variant>

#include "heap_fixture.h"

namespace vantor::test {
namespace {

__extension__ typedef unsigned __int128 Uint128;

// A decimal128 value significand × 10^exponent in the binary-integer encoding.
std::array<uint64_t, 2> Decimal(int64_t significand, int exponent) {
  bool negative = significand < 0;
  Uint128 magnitude = static_cast<Uint128>(negative ? -significand : significand);
  uint64_t biased = static_cast<uint64_t>(exponent + 6176);
  uint64_t hi = (static_cast<uint64_t>(negative) << 63) | (biased << 49) | static_cast<uint64_t>(magnitude >> 64);
  return {static_cast<uint64_t>(magnitude), hi};
}

struct Case {
  const char* name;
  ElementType from;
  std::vector<double> values;  // for complex: real, imaginary pairs; for decimal: significand, exponent pairs
  ElementType expected;
  bool scalar = false;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// Element i as a double; for complex arrays its real part.
double ValueAt(Ref r, uint64_t i) {
  return StoredNumber(r, ElementOf(TypeWord(r)) == kComplex ? 2 * i : i);
}

class Narrowing : public HeapTest, public ::testing::WithParamInterface<Case> {};

Ref Build(const Case& c) {
  bool pairs = c.from == kComplex || c.from == kDecimal128;
  uint32_t n = static_cast<uint32_t>(pairs ? c.values.size() / 2 : c.values.size());
  Ref r = c.scalar ? AllocScalar(c.from) : AllocVector(c.from, n);
  for (uint32_t i = 0; i < n; ++i) {
    switch (c.from) {
      case kBool: {
        uint8_t mask = static_cast<uint8_t>(0x80 >> (i % 8));
        uint8_t& byte = DataOf<uint8_t>(r)[i / 8];
        byte = static_cast<uint8_t>(c.values[i] != 0 ? byte | mask : byte & ~mask);
        break;
      }
      case kInt8: DataOf<int8_t>(r)[i] = static_cast<int8_t>(c.values[i]); break;
      case kInt16: DataOf<int16_t>(r)[i] = static_cast<int16_t>(c.values[i]); break;
      case kInt32: DataOf<int32_t>(r)[i] = static_cast<int32_t>(c.values[i]); break;
      case kFloat64: DataOf<double>(r)[i] = c.values[i]; break;
      case kChar16: DataOf<uint16_t>(r)[i] = static_cast<uint16_t>(c.values[i]); break;
      case kChar32: DataOf<uint32_t>(r)[i] = static_cast<uint32_t>(c.values[i]); break;
      case kComplex:
        DataOf<double>(r)[2 * i] = c.values[2 * i];
        DataOf<double>(r)[2 * i + 1] = c.values[2 * i + 1];
        break;
      case kDecimal128: {
        auto d = Decimal(static_cast<int64_t>(c.values[2 * i]), static_cast<int>(c.values[2 * i + 1]));
        std::memcpy(DataOf<uint8_t>(r) + 16 * i, d.data(), 16);
        break;
      }
      default: break;
    }
  }
  return r;
}

TEST_P(Narrowing, SmallestTypeKeepsEveryValue) {
  const Case& c = GetParam();
  Ref r = Build(c);
  uint32_t wordsBefore = PocketWords(r);
  int changed = Narrow(r);
  ElementType now = ElementOf(TypeWord(r));
  EXPECT_EQ(now, c.expected);
  EXPECT_EQ(changed, now != c.from ? 1 : 0);
  EXPECT_TRUE(TypeWord(r) & kNarrowedFlag);
  EXPECT_EQ(PocketWords(r), ArrayWords(now, c.scalar ? 0 : 1, ElementCount(r)));
  if (PocketWords(r) < wordsBefore) {
    EXPECT_TRUE(IsFreeBlock(r + 4 * PocketWords(r), wordsBefore - PocketWords(r)));
  }
  bool pairs = c.from == kComplex || c.from == kDecimal128;
  if (c.from != kDecimal128 || now != kDecimal128) {
    for (uint64_t i = 0; i < ElementCount(r); ++i) {
      double expected = pairs ? (c.from == kComplex ? c.values[2 * i] : c.values[2 * i] * std::pow(10.0, c.values[2 * i + 1]))
                              : c.values[i];
      EXPECT_EQ(ValueAt(r, i), expected) << "element " << i;
    }
  }
  EXPECT_EQ(Narrow(r), 0) << "an examined array is not examined again";
  CheckHeapConsistency();
}

std::vector<double> Ramp(double from, int n) {
  std::vector<double> v;
  for (int i = 0; i < n; ++i) v.push_back(from + i);
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Narrowing,
    ::testing::Values(
        Case{"FloatBooleans", kFloat64, {1, 0, 1.0}, kBool},
        Case{"FloatSmallInts", kFloat64, {2.0, 3.0}, kInt8},
        Case{"Float300", kFloat64, {300}, kInt16},
        Case{"FloatHalf", kFloat64, {1.5}, kFloat64},
        Case{"FloatBigIntegral", kFloat64, {1e10}, kFloat64},
        Case{"FloatInt32", kFloat64, {-2147483648.0, 2147483647.0}, kInt32},
        Case{"FloatScalarOne", kFloat64, {1}, kInt8, true},
        Case{"FloatEmpty", kFloat64, {}, kInt8},
        Case{"BoolEmptyStays", kBool, {}, kBool},
        Case{"BoolSingleStays", kBool, {1}, kBool},
        Case{"BoolScalarStays", kBool, {0}, kBool, true},
        Case{"Int8Booleans", kInt8, Ramp(0, 2), kBool},
        Case{"Int8SingleOne", kInt8, {1}, kInt8},
        Case{"Int16Wide", kInt16, {-32768, 5}, kInt16},
        Case{"Int16ToInt8", kInt16, Ramp(-100, 200), kInt8},
        Case{"Int32LongBooleans", kInt32, std::vector<double>(100, 1.0), kBool},
        Case{"Int32ToInt16", kInt32, Ramp(-1000, 9000), kInt16},
        Case{"Int32StopsEarly", kInt32, {100000, 1, 2}, kInt32},
        Case{"ComplexReal", kComplex, {1, 0, 2, 0}, kInt8},
        Case{"ComplexImaginary", kComplex, {1, 1}, kComplex},
        Case{"ComplexToFloat", kComplex, {0.25, 0, 3, 0}, kFloat64},
        Case{"DecimalInts", kDecimal128, {1, 0, 2, 0, 3, 0}, kInt8},
        Case{"DecimalScaledInts", kDecimal128, {10, -1, 200, -2, 3, 2}, kInt16},
        Case{"DecimalHalf", kDecimal128, {5, -1}, kDecimal128},
        Case{"DecimalTooBig", kDecimal128, {3, 12}, kDecimal128},
        Case{"DecimalBooleans", kDecimal128, {0, 0, 1, 0, 10, -1}, kBool},
        Case{"Char32ToChar8", kChar32, {'a', 'b', 'c'}, kChar8},
        Case{"Char32ToChar16", kChar32, {'a', 0x2375}, kChar16},
        Case{"Char32Stays", kChar32, {0x1F600}, kChar32},
        Case{"Char16ToChar8", kChar16, {255, 0}, kChar8}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST_F(HeapTest, NoNarrowFlagIsRespectedAcrossCompactions) {
  Temporaries hold;
  Ref kept = AllocVector(kInt64, 2);
  DataOf<int64_t>(kept)[0] = 1;
  Ref wide = AllocVector(kInt32, 2);
  DataOf<int32_t>(wide)[0] = DataOf<int32_t>(wide)[1] = 1;
  TypeWord(wide) |= kNoNarrowFlag;
  Ref holder = NestedOf({kept, wide});
  hold[0] = holder;
  for (int i = 0; i < 3; ++i) Compact(0);
  EXPECT_EQ(ElementOf(TypeWord(DataOf<Ref>(hold[0])[0])), kInt64);
  EXPECT_EQ(ElementOf(TypeWord(DataOf<Ref>(hold[0])[1])), kInt32);
}

TEST_F(HeapTest, NestedAndCharacterAvArraysAreNotNarrowed) {
  Ref nested = NestedOf({});
  EXPECT_EQ(Narrow(nested), 0);
  Ref av = AllocVector(kCharAv, 2);
  EXPECT_EQ(Narrow(av), 0);
  EXPECT_EQ(ElementOf(TypeWord(av)), kCharAv);
}

}  // namespace
}  // namespace vantor::test

namespace vantor::test {
namespace {

TEST_F(HeapTest, CopyElementWidensAcrossTypes) {
  Ref ints = AllocVector(kInt8, 2);
  DataOf<int8_t>(ints)[0] = -3;
  DataOf<int8_t>(ints)[1] = 7;
  Ref reals = AllocVector(kFloat64, 2);
  CopyElement(reals, 1, ints, 0);
  EXPECT_EQ(DataOf<double>(reals)[1], -3.0);
  Ref complex = AllocVector(kComplex, 1);
  CopyElement(complex, 0, reals, 1);
  EXPECT_EQ(DataOf<double>(complex)[0], -3.0);
  EXPECT_EQ(DataOf<double>(complex)[1], 0.0);
  Ref decimals = AllocVector(kDecimal128, 2);
  CopyElement(decimals, 0, ints, 0);
  CopyElement(decimals, 1, ints, 1);
  EXPECT_EQ(Narrow(decimals), 1) << "exact integers in decimal form narrow back";
  EXPECT_EQ(DataOf<int8_t>(decimals)[0], -3);
  EXPECT_EQ(DataOf<int8_t>(decimals)[1], 7);
  Ref wide = AllocVector(kChar32, 1);
  Ref text = AllocVector(kChar8, 1);
  DataOf<uint8_t>(text)[0] = 0xE9;
  CopyElement(wide, 0, text, 0);
  EXPECT_EQ(DataOf<uint32_t>(wide)[0], 0xE9u);
  Ref scalar = ElementAsScalar(ints, 1);
  EXPECT_EQ(RankOf(TypeWord(scalar)), 0u);
  EXPECT_EQ(*DataOf<int8_t>(scalar), 7);
}

}  // namespace
}  // namespace vantor::test
