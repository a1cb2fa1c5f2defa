// Element types as C++ code sees them: the C++ type of one element of each type, the classes
// (character, integer, real, number), the numeric promotion order, loading and storing one element
// of any type (Booleans packed), and tables with one entry per element type (or per pair of types)
// made at compile time from a template. Kernels and structural functions use these instead of
// switching on the type per element.
#pragma once
#include <array>
#include <complex>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "memory/decimal.h"
#include "memory/pockutil.h"

namespace vantor {

using Complex = std::complex<double>;
using Decimal = BID_UINT128;

// The C++ type of one element (Booleans one per bool; arrays store them packed).
template <ElementType T> struct ElementTraits;
template <> struct ElementTraits<kBool> { using Type = bool; };
template <> struct ElementTraits<kInt8> { using Type = int8_t; };
template <> struct ElementTraits<kInt16> { using Type = int16_t; };
template <> struct ElementTraits<kInt32> { using Type = int32_t; };
template <> struct ElementTraits<kInt64> { using Type = int64_t; };
template <> struct ElementTraits<kFloat64> { using Type = double; };
template <> struct ElementTraits<kComplex> { using Type = Complex; };
template <> struct ElementTraits<kDecimal128> { using Type = Decimal; };
template <> struct ElementTraits<kCharAv> { using Type = uint8_t; };
template <> struct ElementTraits<kChar8> { using Type = uint8_t; };
template <> struct ElementTraits<kChar16> { using Type = char16_t; };
template <> struct ElementTraits<kChar32> { using Type = char32_t; };
template <> struct ElementTraits<kRefElement> { using Type = Ref; };
template <ElementType T> using ElementCType = typename ElementTraits<T>::Type;

// The element type of a C++ type, the other way round (bytes are 8-bit characters; a type that is
// no element gives kRefElement).
template <class T> inline constexpr ElementType kElementTypeOf = kRefElement;
template <> inline constexpr ElementType kElementTypeOf<bool> = kBool;
template <> inline constexpr ElementType kElementTypeOf<int8_t> = kInt8;
template <> inline constexpr ElementType kElementTypeOf<int16_t> = kInt16;
template <> inline constexpr ElementType kElementTypeOf<int32_t> = kInt32;
template <> inline constexpr ElementType kElementTypeOf<int64_t> = kInt64;
template <> inline constexpr ElementType kElementTypeOf<double> = kFloat64;
template <> inline constexpr ElementType kElementTypeOf<Complex> = kComplex;
template <> inline constexpr ElementType kElementTypeOf<Decimal> = kDecimal128;
template <> inline constexpr ElementType kElementTypeOf<uint8_t> = kChar8;
template <> inline constexpr ElementType kElementTypeOf<char16_t> = kChar16;
template <> inline constexpr ElementType kElementTypeOf<char32_t> = kChar32;

// ---- Classes -----------------------------------------------------------------------------------------

constexpr bool IsCharacterType(ElementType t) { return kElementInfo[t].classes & kClassCharacter; }
// Booleans and the 8, 16 and 32-bit integers: the types the integer kernels take.
constexpr bool IsSmallIntegerType(ElementType t) { return t == kBool || t == kInt8 || t == kInt16 || t == kInt32; }
constexpr bool IsRealType(ElementType t) { return IsSmallIntegerType(t) || t == kFloat64; }
// Numbers an APL array can hold as values (not the interpreter's internal 8-byte type).
constexpr bool IsNumberType(ElementType t) { return IsRealType(t) || t == kComplex || t == kDecimal128 || t == kInt64; }

// ---- Promotion ---------------------------------------------------------------------------------------

// Promotion rank per element type: Boolean < 8 < 16 < 32 < 64-bit integer < internal < binary64 =
// decimal128 < complex < ⎕AV < 8 < 16 < 32-bit characters < references. Binary64 and decimal128
// share a rank: which of them two arguments meet in depends on ⎕FR.
inline constexpr uint8_t kPromotionRank[kElementTypeCount] = {8, 0, 1, 2, 3, 6, 12, 9, 10, 11, 7, 5, 6, 4};

// The type of higher promotion rank (the right one on a tie).
constexpr ElementType HigherPromotion(ElementType a, ElementType b) {
  return kPromotionRank[a] > kPromotionRank[b] ? a : b;
}

// ---- One element -------------------------------------------------------------------------------------

// Element i of data of type T. The copy through memcpy allows data that is not aligned for T.
template <ElementType T>
ElementCType<T> LoadElement(const uint8_t* data, uint64_t i) {
  if constexpr (T == kBool) {
    return GetBit(data, i);
  } else {
    ElementCType<T> v;
    std::memcpy(&v, data + i * sizeof v, sizeof v);
    return v;
  }
}

template <ElementType T>
void StoreElement(uint8_t* data, uint64_t i, ElementCType<T> v) {
  if constexpr (T == kBool) SetBit(data, i, v);
  else std::memcpy(data + i * sizeof v, &v, sizeof v);
}

// ---- Tables per type ---------------------------------------------------------------------------------

template <ElementType T>
using TypeTag = std::integral_constant<ElementType, T>;

// {make(TypeTag<0>), make(TypeTag<1>), ...}: one entry per element type, `make` a constexpr callable
// that gives the same entry type for every tag.
template <class Make>
constexpr auto PerTypeTable(Make make) {
  return [&]<size_t... T>(std::index_sequence<T...>) {
    return std::array{make(TypeTag<static_cast<ElementType>(T)>{})...};
  }(std::make_index_sequence<kElementTypeCount>());
}

// table[s][t] = make(TypeTag<s>, TypeTag<t>).
template <class Make>
constexpr auto PerTypePairTable(Make make) {
  return PerTypeTable([&](auto s) { return PerTypeTable([&](auto t) { return make(s, t); }); });
}

}  // namespace vantor
