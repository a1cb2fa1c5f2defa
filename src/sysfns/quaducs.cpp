// ⎕UCS: the six conversions (code points, UTF-16 and UTF-8, each way) behind one table indexed by the
// encoding and by whether the right argument is character. Every conversion reads the argument
// through the typed readers of the structural functions, so each loop is compiled for one element
// type, and runs twice: once to validate and measure the result, once to write it into an array of
// the narrowest type. The argument is read afresh after the result is allocated, since allocating
// may move it.
#include "sysfns/quaducs.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

#include <immintrin.h>

#include "format/disp2.h"
#include "primitives/dispatch.h"
#include "language/space.h"
#include "base/errors.h"
#include "memory/decimal.h"
#include "primitives/same.h"

namespace vantor {

static constexpr char kUnit[] = "quaducs";

namespace {

constexpr int64_t kLastCodePoint = 0x10FFFF;
constexpr int64_t kFirstHighSurrogate = 0xD800;
constexpr int64_t kFirstLowSurrogate = 0xDC00;
constexpr int64_t kLastLowSurrogate = 0xDFFF;

// ---- Element values ------------------------------------------------------------------------------

// A numeric element as a whole number; false when it has a fraction or lies beyond 64-bit integers.
bool WholeNumber(int64_t v, int64_t& out) {
  out = v;
  return true;
}
bool WholeNumber(double v, int64_t& out) {
  if (!(std::fabs(v) < 9.0e18) || v != std::trunc(v)) return false;
  out = static_cast<int64_t>(v);
  return true;
}
bool WholeNumber(std::complex<double> v, int64_t& out) { return v.imag() == 0 && WholeNumber(v.real(), out); }
bool WholeNumber(BID_UINT128 v, int64_t& out) {
  unsigned int flags = 0;
  out = bid128_to_int64_xint(v, &flags);
  return flags == 0;
}

ElementType CharacterTypeHolding(int64_t widest) {
  return widest <= 0xFF ? kChar8 : widest <= 0xFFFF ? kChar16 : kChar32;
}
ElementType IntegerTypeHolding(int64_t widest) {
  return widest <= 0x7F ? kInt8 : widest <= 0x7FFF ? kInt16 : kInt32;
}

// A new array of `type` with the shape of `model` (read after the allocation, which may move it).
Ref AllocShapedLike(ElementType type, const Ref& model) {
  const uint32_t rank = RankOf(TypeWord(model));
  Ref r = AllocArray(type, rank, ElementCount(model));
  std::copy_n(ShapeOf(model), rank, ShapeOf(r));
  return r;
}

// Calls write(data) with the data of `array` as its element type, one of the types listed.
template <typename Write>
void WithCharacterData(Ref array, Write write) {
  switch (ElementOf(TypeWord(array))) {
    case kChar8: return write(DataOf<uint8_t>(array));
    case kChar16: return write(DataOf<char16_t>(array));
    default: return write(DataOf<char32_t>(array));
  }
}
template <typename Write>
void WithIntegerData(Ref array, Write write) {
  switch (ElementOf(TypeWord(array))) {
    case kInt8: return write(DataOf<int8_t>(array));
    case kInt16: return write(DataOf<int16_t>(array));
    default: return write(DataOf<int32_t>(array));
  }
}

// Runs f(reader) with the reader of the argument's numbers; the argument is numeric.
template <typename F>
void WithNumberReader(Ref array, F f) {
  WithReader(array, [&](auto reader) {
    if constexpr (!decltype(reader)::kCharacter) f(reader);
    return true;
  });
}
template <typename F>
void WithCharacterReader(Ref array, F f) {
  WithReader(array, [&](auto reader) {
    if constexpr (decltype(reader)::kCharacter) f(reader);
    return true;
  });
}

// ---- Code points (monadic, 'UTF-32') ------------------------------------------------------------

template <typename Reader>
int64_t CodePointAt(Reader r, uint64_t i) {
  int64_t code;
  if (!WholeNumber(r(i), code) || code < 0 || code > kLastCodePoint) SIGNAL(kDomainError);
  return code;
}

Ref CharactersOfCodePoints(const Ref& right) {
  const uint64_t n = ElementCount(right);
  int64_t widest = 0;
  WithNumberReader(right, [&](auto r) {
    for (uint64_t i = 0; i < n; ++i) widest = std::max(widest, CodePointAt(r, i));
  });
  Ref result = AllocShapedLike(CharacterTypeHolding(widest), right);
  WithNumberReader(right, [&](auto r) {
    WithCharacterData(result, [&](auto* out) {
      using C = std::remove_pointer_t<decltype(out)>;
      for (uint64_t i = 0; i < n; ++i) out[i] = static_cast<C>(CodePointAt(r, i));
    });
  });
  return result;
}

Ref CodePointsOfCharacters(const Ref& right) {
  const uint64_t n = ElementCount(right);
  char32_t widest = 0;
  WithCharacterReader(right, [&](auto r) {
    for (uint64_t i = 0; i < n; ++i) widest = std::max(widest, r(i));
  });
  Ref result = AllocShapedLike(IntegerTypeHolding(widest), right);
  WithCharacterReader(right, [&](auto r) {
    WithIntegerData(result, [&](auto* out) {
      using I = std::remove_pointer_t<decltype(out)>;
      for (uint64_t i = 0; i < n; ++i) out[i] = static_cast<I>(r(i));
    });
  });
  return result;
}

// ---- UTF-16 -----------------------------------------------------------------------------------------

// Calls put(code point) for each character the code units make. A negative unit, one that is not a
// whole number or above 1,114,111, or a high surrogate without a low one after it is DOMAIN ERROR.
template <typename Reader, typename Put>
void ForEachUtf16Character(Reader r, uint64_t n, Put put) {
  for (uint64_t i = 0; i < n; ++i) {
    int64_t unit = CodePointAt(r, i);
    if (unit >= kFirstHighSurrogate && unit < kFirstLowSurrogate) {
      int64_t low = i + 1 < n ? CodePointAt(r, i + 1) : 0;
      if (low < kFirstLowSurrogate || low > kLastLowSurrogate) SIGNAL(kDomainError);
      unit = 0x10000 + ((unit - kFirstHighSurrogate) << 10) + (low - kFirstLowSurrogate);
      ++i;
    }
    put(unit);
  }
}

Ref CharactersOfUtf16(const Ref& right) {
  const uint64_t n = ElementCount(right);
  uint64_t count = 0;
  int64_t widest = 0;
  WithNumberReader(right, [&](auto r) {
    ForEachUtf16Character(r, n, [&](int64_t c) {
      ++count;
      widest = std::max(widest, c);
    });
  });
  Ref result = AllocArray(CharacterTypeHolding(widest), 1, count);
  WithNumberReader(right, [&](auto r) {
    WithCharacterData(result, [&](auto* out) {
      ForEachUtf16Character(r, n, [&](int64_t c) { *out++ = static_cast<std::remove_reference_t<decltype(*out)>>(c); });
    });
  });
  return result;
}

Ref Utf16OfCharacters(const Ref& right) {
  const uint64_t n = ElementCount(right);
  uint64_t pairs = 0;
  char32_t widest = 0;
  WithCharacterReader(right, [&](auto r) {
    for (uint64_t i = 0; i < n; ++i) {
      const char32_t c = r(i);
      pairs += c > 0xFFFF;
      widest = std::max(widest, c);
    }
  });
  // A pair's units are surrogates, which need 32-bit integers as any unit from 32,768 up does.
  Ref result = AllocArray(IntegerTypeHolding(pairs ? kFirstHighSurrogate : widest), 1, n + pairs);
  WithCharacterReader(right, [&](auto r) {
    WithIntegerData(result, [&](auto* out) {
      using I = std::remove_pointer_t<decltype(out)>;
      for (uint64_t i = 0; i < n; ++i) {
        const char32_t c = r(i);
        if (c <= 0xFFFF) {
          *out++ = static_cast<I>(c);
        } else {
          *out++ = static_cast<I>(kFirstHighSurrogate + ((c - 0x10000) >> 10));
          *out++ = static_cast<I>(kFirstLowSurrogate + ((c - 0x10000) & 0x3FF));
        }
      }
    });
  });
  return result;
}

// ---- UTF-8 ------------------------------------------------------------------------------------------
// The original six-row scheme: a lead byte says how many continuation bytes (10xxxxxx) follow.
// Decoding refuses continuation bytes where a lead byte belongs, truncated sequences, overlong forms
// and code points above 1,114,111; surrogate code points pass, so that every character encodes and
// decodes back to itself.

constexpr char32_t kLargestEncodable = 0x7FFFFFFF;
constexpr uint8_t kLeadMark[6] = {0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
constexpr int64_t kSmallestOfLength[6] = {0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};

// The continuation bytes after each lead byte; -1 for a byte that cannot start a sequence (a
// continuation byte, the always-overlong C0 and C1, FE and FF).
constexpr std::array<int8_t, 256> kContinuations = [] {
  std::array<int8_t, 256> t{};
  for (int b = 0; b < 256; ++b)
    t[b] = b < 0x80 ? 0 : b < 0xC2 ? -1 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF8 ? 3 : b < 0xFC ? 4 : b < 0xFE ? 5 : -1;
  return t;
}();

constexpr int EncodedLength(char32_t c) {
  return 1 + (c >= 0x80) + (c >= 0x800) + (c >= 0x10000) + (c >= 0x200000) + (c >= 0x4000000);
}

[[noreturn]] void InvalidUtf8() { SIGNAL_MESSAGE(kDomainError, U"Invalid UTF-8 sequence"); }

// Whether the 16 bytes at `in` hold only values below 128: a test of two words against the mask of
// the bits that must be clear in each element.
template <typename T>
bool AllAscii(const T* in) {
  constexpr uint64_t kMask = sizeof(T) == 1 ? 0x8080808080808080ull
                             : sizeof(T) == 2 ? 0xFF80FF80FF80FF80ull
                             : sizeof(T) == 4 ? 0xFFFFFF80FFFFFF80ull
                                              : 0xFFFFFFFFFFFFFF80ull;
  uint64_t words[2];
  std::memcpy(words, in, sizeof words);
  return ((words[0] | words[1]) & kMask) == 0;
}

// Whether none of the n bytes at `in` has its top bit set; 32 bytes at a time.
bool BytesAreAscii(const void* in, uint64_t n) {
  const auto* bytes = static_cast<const uint8_t*>(in);
  uint64_t any = 0;
  uint64_t i = 0;
  for (; i + 32 <= n; i += 32) {
    uint64_t words[4];
    std::memcpy(words, bytes + i, sizeof words);
    any |= words[0] | words[1] | words[2] | words[3];
  }
  for (; i < n; ++i) any |= bytes[i];
  return (any & 0x8080808080808080ull) == 0;
}

constexpr uint64_t kNotUtf8 = ~uint64_t{0};

// Decodes the n bytes at `in` (integers of type T) into `out`, which has room for `capacity`
// characters (at least as many as the bytes that are not continuation bytes). Returns the number of
// characters, or kNotUtf8 when the bytes are not valid UTF-8. Runs of ASCII go sixteen bytes of
// input at a time.
template <typename C, typename T>
uint64_t DecodeUtf8Into(C* out, uint64_t capacity, const T* in, uint64_t n) {
  using Unsigned = std::make_unsigned_t<T>;
  constexpr uint64_t kBlock = 16 / sizeof(T);
  auto continuation = [&](uint64_t at) { return static_cast<uint64_t>(static_cast<Unsigned>(in[at])) ^ 0x80; };
  uint64_t i = 0, o = 0;
  uint64_t nextBlock = 0;  // after a block that was not all ASCII, the next try waits a block's length
  while (i < n) {
    const uint64_t lead = static_cast<Unsigned>(in[i]);
    if (lead < 0x80) {
      if (i >= nextBlock && i + kBlock <= n) {
        if (AllAscii(in + i)) {
          for (uint64_t k = 0; k < kBlock; ++k) out[o + k] = static_cast<C>(in[i + k]);
          i += kBlock;
          o += kBlock;
          continue;
        }
        nextBlock = i + kBlock;
      }
      out[o++] = static_cast<C>(lead);
      ++i;
      continue;
    }
    if (o == capacity) return kNotUtf8;
    if (lead >= 0xC2 && lead < 0xE0 && i + 1 < n) {  // two bytes: always 128 to 2,047
      const uint64_t c1 = continuation(i + 1);
      if (c1 > 0x3F) return kNotUtf8;
      out[o++] = static_cast<C>((lead & 0x1F) << 6 | c1);
      i += 2;
      continue;
    }
    if (lead >= 0xE0 && lead < 0xF0 && i + 2 < n) {  // three bytes: not overlong
      const uint64_t c1 = continuation(i + 1), c2 = continuation(i + 2);
      const uint64_t code = (lead & 0x0F) << 12 | c1 << 6 | c2;
      if ((c1 | c2) > 0x3F || code < 0x800) return kNotUtf8;
      out[o++] = static_cast<C>(code);
      i += 3;
      continue;
    }
    if (lead >= 0xF0 && lead < 0xF8 && i + 3 < n) {  // four bytes: not overlong, at most 1,114,111
      const uint64_t c1 = continuation(i + 1), c2 = continuation(i + 2), c3 = continuation(i + 3);
      const uint64_t code = (lead & 0x07) << 18 | c1 << 12 | c2 << 6 | c3;
      if ((c1 | c2 | c3) > 0x3F || code < 0x10000 || code > kLastCodePoint) return kNotUtf8;
      out[o++] = static_cast<C>(code);
      i += 4;
      continue;
    }
    const int extra = lead < 256 ? kContinuations[lead] : -1;
    if (extra < 0 || n - i - 1 < static_cast<uint64_t>(extra)) return kNotUtf8;
    int64_t code = static_cast<int64_t>(lead & (0x3Fu >> extra));
    for (int k = 1; k <= extra; ++k) {
      const uint64_t next = continuation(i + k);
      if (next > 0x3F) return kNotUtf8;
      code = code << 6 | static_cast<int64_t>(next);
    }
    if (code < kSmallestOfLength[extra] || code > kLastCodePoint) return kNotUtf8;
    out[o++] = static_cast<C>(code);
    i += 1 + extra;
  }
  return o;
}

// ---- Latin-1 text sixteen bytes at a time ----
// Text whose lead bytes are all below C4 decodes to 8-bit characters, each either an ASCII byte or
// a lead C2 or C3 with one continuation byte. With AVX2 the bytes (held as 16-bit integers) go
// sixteen at a time: every lead must be followed by a continuation byte and every continuation byte
// preceded by a lead (C0 and C1 are always overlong), each lead combines with the byte after it, and
// the continuation bytes are squeezed out with a byte shuffle chosen by their mask.

// For each mask of eight bytes to keep, the shuffle that moves the kept bytes to the front.
constexpr std::array<uint64_t, 256> kKeepShuffles = [] {
  std::array<uint64_t, 256> t{};
  for (unsigned mask = 0; mask < 256; ++mask) {
    uint64_t shuffle = 0x8080808080808080ull;  // bytes past the kept ones are zero
    unsigned to = 0;
    for (unsigned from = 0; from < 8; ++from) {
      if (!(mask >> from & 1)) continue;
      shuffle &= ~(0xFFull << (8 * to));
      shuffle |= static_cast<uint64_t>(from) << (8 * to);
      ++to;
    }
    t[mask] = shuffle;
  }
  return t;
}();

struct Latin1Progress {
  uint64_t read = 0;     // input elements decoded
  uint64_t written = 0;  // characters written
  bool valid = true;
};

// Decodes whole blocks of sixteen while seventeen elements remain (the block and the byte after it)
// into `out`, which has room for one character per input element. A block ending with a lead leaves
// its continuation byte, already combined, to be skipped: `read` is past it.
[[gnu::target("avx2")]] Latin1Progress DecodeLatin1Blocks(uint8_t* out, const uint16_t* in, uint64_t n) {
  Latin1Progress p;
  if (n == 0) return p;
  const __m256i kTopBits = _mm256_set1_epi16(0xC0), kContinuation = _mm256_set1_epi16(0x80);
  const __m256i kOverlong = _mm256_set1_epi16(0xFE), kLowBits = _mm256_set1_epi16(0x3F);
  const __m256i kLeadBits = _mm256_set1_epi16(3), kLastNonLead = _mm256_set1_epi16(0xBF);
  __m256i wrong = _mm256_setzero_si256();
  uint64_t i = 0, o = 0;
  p.valid = (in[0] & 0xC0) != 0x80;  // a continuation byte with nothing before it
  for (; i + 17 <= n; i += 16) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 1));
    const __m256i continuation = _mm256_cmpeq_epi16(_mm256_and_si256(v, kTopBits), kContinuation);
    const __m256i continued = _mm256_cmpeq_epi16(_mm256_and_si256(next, kTopBits), kContinuation);
    const __m256i lead = _mm256_cmpgt_epi16(v, kLastNonLead);
    wrong = _mm256_or_si256(wrong, _mm256_xor_si256(lead, continued));
    wrong = _mm256_or_si256(wrong, _mm256_cmpeq_epi16(_mm256_and_si256(v, kOverlong), _mm256_set1_epi16(0xC0)));
    const __m256i combined = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(v, kLeadBits), 6),
                                             _mm256_and_si256(next, kLowBits));
    const __m256i chars = _mm256_blendv_epi8(v, combined, lead);
    const __m256i bytes = _mm256_packus_epi16(chars, chars);  // each half: its eight characters, twice
    const uint32_t keep = ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(continuation, continuation)));
    const unsigned keepLow = keep & 0xFF, keepHigh = keep >> 16 & 0xFF;
    const __m128i low = _mm_shuffle_epi8(_mm256_castsi256_si128(bytes), _mm_cvtsi64_si128(static_cast<int64_t>(kKeepShuffles[keepLow])));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), low);
    o += static_cast<uint64_t>(std::popcount(keepLow));
    const __m128i high = _mm_shuffle_epi8(_mm256_extracti128_si256(bytes, 1), _mm_cvtsi64_si128(static_cast<int64_t>(kKeepShuffles[keepHigh])));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), high);
    o += static_cast<uint64_t>(std::popcount(keepHigh));
  }
  if (i > 0 && (in[i] & 0xC0) == 0x80) ++i;  // the continuation of the last block's last lead
  p.valid = p.valid && _mm256_testz_si256(wrong, wrong);
  p.read = i;
  p.written = o;
  return p;
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

// Bytes that are all ASCII, as characters: one copy, which for 8-bit integers is a plain copy.
template <typename Data>
Ref AsciiCharacters(Data data, uint64_t n) {
  Ref result = AllocArray(kChar8, 1, n);
  uint8_t* out = DataOf<uint8_t>(result);
  const auto* in = data();
  if constexpr (sizeof(*in) == 1) {
    std::memcpy(out, in, n);
  } else {
    for (uint64_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(in[i]);
  }
  return result;
}

// Decodes the n bytes at data() (which gives the current address: the allocation may move them).
// A first pass finds the largest byte, whose lead class decides the character type of a valid text
// (F0 and up need 32 bits, C4 and up 16, below that 8), and counts the characters (the bytes that
// are not continuation bytes), so that wider results are made at their length; 8-bit characters are
// made one per byte, which leaves the block decoder room to write whole blocks, and cut to length
// after decoding. The last pass validates as it writes.
template <typename T, typename Data>
Ref DecodeUtf8(Data data, uint64_t n) {
  using Unsigned = std::make_unsigned_t<T>;
  const T* in = data();
  if constexpr (sizeof(T) == 1)
    if (BytesAreAscii(in, n)) return AsciiCharacters(data, n);
  Unsigned widest = 0;
  uint64_t leads = 0;  // the bytes that are not continuation bytes
  for (uint64_t i = 0; i < n; ++i) {
    const Unsigned b = static_cast<Unsigned>(in[i]);
    widest = std::max(widest, b);
    leads += static_cast<Unsigned>(b - 0x80) >= 0x40;
  }
  const ElementType type = widest >= 0xF0 ? kChar32 : widest >= 0xC4 ? kChar16 : kChar8;
  if (widest < 0x80) return AsciiCharacters(data, n);
  const uint64_t capacity = type == kChar8 ? n : leads;
  Temporaries hold;
  hold[0] = AllocArray(type, 1, capacity);
  uint64_t count = kNotUtf8;
  if constexpr (sizeof(T) == 2) {
    if (type == kChar8 && HasAvx2()) {
      uint8_t* out = DataOf<uint8_t>(hold[0]);
      const auto* in = reinterpret_cast<const uint16_t*>(data());
      const Latin1Progress done = DecodeLatin1Blocks(out, in, n);
      if (!done.valid) InvalidUtf8();
      count = DecodeUtf8Into(out + done.written, capacity - done.written, data() + done.read, n - done.read);
      if (count != kNotUtf8) count += done.written;
    }
  }
  if (count == kNotUtf8)
    WithCharacterData(hold[0], [&](auto* out) { count = DecodeUtf8Into(out, capacity, data(), n); });
  if (count == kNotUtf8) InvalidUtf8();
  if (count != capacity) {
    ShapeOf(hold[0])[0] = static_cast<uint32_t>(count);
    ShrinkInPlace(hold[0], ArrayWords(type, 1, count));
  }
  return hold.Take(0);
}

Ref CharactersOfUtf8(const Ref& right) {
  const uint64_t n = ElementCount(right);
  switch (ElementOf(TypeWord(right))) {
    case kInt8: return DecodeUtf8<int8_t>([&] { return DataOf<int8_t>(right); }, n);
    case kInt16: return DecodeUtf8<int16_t>([&] { return DataOf<int16_t>(right); }, n);
    case kInt32: return DecodeUtf8<int32_t>([&] { return DataOf<int32_t>(right); }, n);
    case kInt64: return DecodeUtf8<int64_t>([&] { return DataOf<int64_t>(right); }, n);
    default: {  // Booleans, and bytes held as floating-point, complex or decimal numbers
      std::vector<int64_t> bytes(n);
      WithNumberReader(right, [&](auto r) {
        for (uint64_t i = 0; i < n; ++i)
          if (!WholeNumber(r(i), bytes[i])) InvalidUtf8();
      });
      return DecodeUtf8<int64_t>([&] { return bytes.data(); }, n);
    }
  }
}

// The five- and six-byte forms of the original scheme.
template <typename B>
B* EncodeLong(B* out, char32_t c) {
  const int extra = EncodedLength(c) - 1;
  *out++ = static_cast<B>(kLeadMark[extra] | (c >> (6 * extra)));
  for (int k = extra - 1; k >= 0; --k) *out++ = static_cast<B>(0x80 | ((c >> (6 * k)) & 0x3F));
  return out;
}

// Each length up to four bytes has its own straight-line path: a loop over the continuation bytes
// would add a branch whose count changes from character to character.
template <typename B, typename Reader>
void EncodeUtf8Into(B* out, Reader r, uint64_t n) {
  auto continuation = [](char32_t c, int shift) { return static_cast<B>(0x80 | (c >> shift & 0x3F)); };
  for (uint64_t i = 0; i < n; ++i) {
    const char32_t c = r(i);
    if (c < 0x80) {
      *out++ = static_cast<B>(c);
    } else if (c < 0x800) {
      out[0] = static_cast<B>(0xC0 | c >> 6);
      out[1] = continuation(c, 0);
      out += 2;
    } else if (c < 0x10000) {
      out[0] = static_cast<B>(0xE0 | c >> 12);
      out[1] = continuation(c, 6);
      out[2] = continuation(c, 0);
      out += 3;
    } else if (c < 0x200000) {
      out[0] = static_cast<B>(0xF0 | c >> 18);
      out[1] = continuation(c, 12);
      out[2] = continuation(c, 6);
      out[3] = continuation(c, 0);
      out += 4;
    } else {
      out = EncodeLong(out, c);
    }
  }
}

// 8-bit characters: the characters from 128 up take two bytes each, the others are copied.
Ref Utf8OfNarrowCharacters(const Ref& right) {
  const uint64_t n = ElementCount(right);
  const uint8_t* in = DataOf<uint8_t>(right);
  uint64_t wide = 0;
  if (!BytesAreAscii(in, n))
    for (uint64_t i = 0; i < n; ++i) wide += in[i] >> 7;
  Ref result = AllocArray(wide ? kInt16 : kInt8, 1, n + wide);
  in = DataOf<uint8_t>(right);
  if (!wide) {
    std::memcpy(DataOf<int8_t>(result), in, n);
    return result;
  }
  int16_t* out = DataOf<int16_t>(result);
  for (uint64_t i = 0; i < n; ++i) {
    const uint8_t c = in[i];
    if (c < 0x80) {
      *out++ = c;
    } else {
      *out++ = static_cast<int16_t>(0xC0 | (c >> 6));
      *out++ = static_cast<int16_t>(0x80 | (c & 0x3F));
    }
  }
  return result;
}

Ref Utf8OfCharacters(const Ref& right) {
  if (ElementOf(TypeWord(right)) == kChar8) return Utf8OfNarrowCharacters(right);
  const uint64_t n = ElementCount(right);
  uint64_t bytes = 0;
  char32_t widest = 0;
  WithCharacterReader(right, [&](auto r) {
    for (uint64_t i = 0; i < n; ++i) {
      const char32_t c = r(i);
      bytes += EncodedLength(c);
      widest = std::max(widest, c);
    }
  });
  if (widest > kLargestEncodable) SIGNAL(kDomainError);
  const bool ascii = bytes == n;
  Ref result = AllocArray(ascii ? kInt8 : kInt16, 1, bytes);
  WithCharacterReader(right, [&](auto r) {
    if (ascii) {
      int8_t* out = DataOf<int8_t>(result);
      for (uint64_t i = 0; i < n; ++i) out[i] = static_cast<int8_t>(r(i));
    } else {
      EncodeUtf8Into(DataOf<int16_t>(result), r, n);
    }
  });
  return result;
}

// ---- Dispatch -----------------------------------------------------------------------------------------

// The encodings in their numbering: 0 UTF-32, 1 UTF-16, 2 UTF-8.
constexpr std::u32string_view kEncodingNames[] = {U"UTF-32", U"UTF-16", U"UTF-8"};

// The conversions by encoding and by whether the right argument is character (decode, encode).
using Conversion = Ref (*)(const Ref& right);
constexpr Conversion kConversions[3][2] = {
    {CharactersOfCodePoints, CodePointsOfCharacters},
    {CharactersOfUtf16, Utf16OfCharacters},
    {CharactersOfUtf8, Utf8OfCharacters},
};

bool IsSimpleArray(Ref r) { return IsRef(r) && KindOf(TypeWord(r)) == kKindSimple; }

CallResult Convert(uint32_t encoding, const Ref& right) {
  if (!IsSimpleArray(right)) SIGNAL(kDomainError);
  return {kConversions[encoding][IsCharacterType(ElementOf(TypeWord(right)))](right)};
}

// The number of the encoding that the left argument names; DOMAIN ERROR for anything else.
uint32_t EncodingNamed(Ref left) {
  if (!IsSimpleArray(left) || !IsCharacterType(ElementOf(TypeWord(left))) || RankOf(TypeWord(left)) > 1)
    SIGNAL(kDomainError);
  const std::u32string name = CharacterText(left);
  const auto* found = std::find(std::begin(kEncodingNames), std::end(kEncodingNames), name);
  if (found == std::end(kEncodingNames)) SIGNAL(kDomainError);
  return static_cast<uint32_t>(found - std::begin(kEncodingNames));
}

CallResult MonadicUCS(const Ref&, const Ref& right) { return Convert(0, right); }

CallResult DyadicUCS(const Ref& left, const Ref& right) {
  const uint32_t encoding = EncodingNamed(left);
  if (IsArray(right) && RankOf(TypeWord(right)) > 1) SIGNAL(kRankError);
  return Convert(encoding, right);
}

}  // namespace

void InitialiseCharacterCodes() { InstallSystemFunction(U"UCS", MonadicUCS, DyadicUCS); }

}  // namespace vantor
