// Depth, match and tally (≡ ≢), and what every structural function shares about the items of an
// array: the prototype (the fill item of take, expand and overtaking reshape), the fill element of a
// simple type, and the element type that holds the elements of two arrays. Nested arrays are walked
// with explicit stacks, so a value nested 100,000 deep is handled like any other.
#pragma once
#include <complex>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "memory/decimal.h"
#include "memory/pockutil.h"
#include "sysfns/quadvar.h"

namespace vantor {

// The element type of a result that holds elements of types `a` and `b`: the same type; for two
// numeric types the one of higher promotion rank (Boolean < 8 < 16 < 32 < 64-bit integer < binary64
// = decimal128 < complex; binary64 with decimal128 gives the type ⎕FR names); for two character
// types the wider one (⎕AV characters are widened to at least 16 bits, since their code points may
// lie above 255); a numeric type with a character type, or any reference type, gives references.
ElementType CombinedType(ElementType a, ElementType b);

// The element type an array contributes to a combination: its own, except that the shared scalars
// 0 and 1 count as Boolean.
ElementType ContributedType(Ref array);

// The raw fill element of a simple element type (16 bytes, enough for every width): 0 for numbers
// (the decimal zero for decimal128), the blank for characters (its ⎕AV position for ⎕AV characters).
struct RawElement {
  alignas(16) uint8_t bytes[16];
};
RawElement SimpleFill(ElementType type);

// `array` (borrowed) with every number replaced by 0 and every character by a blank, the nesting
// kept; counted. Simple numeric results are Boolean, simple character results keep their type.
Ref ZeroedCopy(Ref array);

// The prototype of an array (borrowed): its first item, or for an empty array its fill item, made
// with ZeroedCopy; counted. This is the item take, expand and reshape pad with. A reference below
// 512 or a non-array item (a namespace, a function) counts as the number 0.
Ref Prototype(Ref array);

// Readers of the elements of each simple type: numbers as int64_t, double, std::complex<double> or
// BID_UINT128, characters as code points (⎕AV positions translated through ⎕AVU). WithReader calls
// f(reader) with the reader of the array's type and returns its answer; for the internal types it
// returns false without calling f.
struct BitReader {
  static constexpr bool kCharacter = false;
  const uint8_t* data;
  int64_t operator()(uint64_t i) const { return GetBit(data, i); }
};
template <typename T, bool Character>
struct PlainReader {
  static constexpr bool kCharacter = Character;
  const uint8_t* data;
  auto operator()(uint64_t i) const {
    T value;
    std::memcpy(&value, data + i * sizeof(T), sizeof(T));
    if constexpr (Character) return static_cast<char32_t>(value);
    else if constexpr (std::is_integral_v<T>) return static_cast<int64_t>(value);
    else return value;
  }
};
struct AvReader {
  static constexpr bool kCharacter = true;
  const uint8_t* data;
  char32_t operator()(uint64_t i) const { return AvCharacter(data[i]); }
};

template <typename F>
bool WithReader(Ref array, F&& f) {
  const uint8_t* d = DataOf<uint8_t>(array);
  switch (ElementOf(TypeWord(array))) {
    case kBool: return f(BitReader{d});
    case kInt8: return f(PlainReader<int8_t, false>{d});
    case kInt16: return f(PlainReader<int16_t, false>{d});
    case kInt32: return f(PlainReader<int32_t, false>{d});
    case kInt64: return f(PlainReader<int64_t, false>{d});
    case kFloat64: return f(PlainReader<double, false>{d});
    case kComplex: return f(PlainReader<std::complex<double>, false>{d});
    case kDecimal128: return f(PlainReader<BID_UINT128, false>{d});
    case kCharAv: return f(AvReader{d});
    case kChar8: return f(PlainReader<uint8_t, true>{d});
    case kChar16: return f(PlainReader<char16_t, true>{d});
    case kChar32: return f(PlainReader<char32_t, true>{d});
    default: return false;
  }
}


// Depth: 0 for a simple scalar, 1 + the greatest item depth otherwise, negative when the items'
// depths differ.
int32_t Depth(Ref array);

// Match: same rank, shape, nesting and items, numbers compared tolerantly (⎕CT, ⎕DCT for decimals),
// characters exactly; empty arrays also compare their prototypes.
bool Match(Ref a, Ref b);

// Installs ≡ and ≢ in the dispatch tables.
void InitialiseSame();

}  // namespace vantor
