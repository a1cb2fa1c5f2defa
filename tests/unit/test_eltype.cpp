// The element-type layer: the C++ types, the promotion order, loading and storing elements, and the
// compile-time tables per type.
#include "memory/eltype.h"

#include <gtest/gtest.h>

namespace vantor {
namespace {

TEST(ElementTypes, CppTypeAndElementTypeAreInverse) {
  constexpr auto roundTrips = PerTypeTable([](auto t) {
    if constexpr (t == kInternal8 || t == kCharAv || t == kRefElement) return true;
    else return kElementTypeOf<ElementCType<t>> == t();
  });
  for (uint32_t t = 0; t < kElementTypeCount; ++t) EXPECT_TRUE(roundTrips[t]) << "type " << t;
  constexpr auto widths = PerTypeTable([](auto t) {
    if constexpr (t == kInternal8 || t == kBool) return true;
    else return sizeof(ElementCType<t>) == kElementInfo[t].bytes;
  });
  for (uint32_t t = 0; t < kElementTypeCount; ++t) EXPECT_TRUE(widths[t]) << "type " << t;
}

TEST(ElementTypes, PromotionOrder) {
  struct Case {
    ElementType a, b, higher;
  } cases[] = {
      {kBool, kInt8, kInt8},         {kInt32, kInt16, kInt32},      {kInt32, kInt64, kInt64},
      {kInt64, kFloat64, kFloat64},  {kFloat64, kComplex, kComplex}, {kDecimal128, kComplex, kComplex},
      {kChar8, kCharAv, kChar8},     {kChar32, kChar16, kChar32},   {kComplex, kCharAv, kCharAv},
      {kChar32, kRefElement, kRefElement},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HigherPromotion(c.a, c.b), c.higher) << c.a << " " << c.b;
    EXPECT_EQ(HigherPromotion(c.b, c.a), c.higher) << c.b << " " << c.a;
  }
  // Binary64 and decimal128 tie: the right one is taken.
  EXPECT_EQ(HigherPromotion(kFloat64, kDecimal128), kDecimal128);
  EXPECT_EQ(HigherPromotion(kDecimal128, kFloat64), kFloat64);
}

TEST(ElementTypes, ClassesAgreeWithTheElementTable) {
  for (uint32_t i = 0; i < kElementTypeCount; ++i) {
    ElementType t = static_cast<ElementType>(i);
    EXPECT_FALSE(IsCharacterType(t) && IsNumberType(t)) << i;
    EXPECT_TRUE(!IsNumberType(t) || (kElementInfo[t].classes & kClassNumeric)) << i;
    EXPECT_TRUE(!IsSmallIntegerType(t) || !(kElementInfo[t].classes & kClassNonIntegral)) << i;
  }
}

TEST(ElementTypes, BooleansArePackedMostSignificantBitFirst) {
  uint8_t bits[2] = {0, 0};
  StoreElement<kBool>(bits, 0, true);
  StoreElement<kBool>(bits, 9, true);
  EXPECT_EQ(bits[0], 0x80);
  EXPECT_EQ(bits[1], 0x40);
  StoreElement<kBool>(bits, 0, false);
  EXPECT_EQ(bits[0], 0);
  EXPECT_TRUE(LoadElement<kBool>(bits, 9));
  EXPECT_FALSE(LoadElement<kBool>(bits, 8));
}

TEST(ElementTypes, ElementsLoadFromUnalignedData) {
  alignas(8) uint8_t raw[1 + 3 * sizeof(double)] = {};
  uint8_t* data = raw + 1;
  StoreElement<kFloat64>(data, 2, -2.5);
  StoreElement<kFloat64>(data, 0, 1e300);
  EXPECT_EQ(LoadElement<kFloat64>(data, 2), -2.5);
  EXPECT_EQ(LoadElement<kFloat64>(data, 0), 1e300);
  EXPECT_EQ(LoadElement<kFloat64>(data, 1), 0.0);
}

}  // namespace
}  // namespace vantor
