// The tokeniser: token bytes and symbol lists of lines (tables of cases), the stream header, dfn
// state carried across lines, numbers in every literal form, the symbol list's growth and limit,
// interning, the keyword table, token-to-text round trips and the tokenising service.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "heap_fixture.h"
#include "language/ctrl.h"
#include "primitives/dispatch.h"
#include "language/scan.h"
#include "language/space.h"
#include "language/tokenise.h"
#include "base/errors.h"
#include "memory/decimal.h"
#include "sysfns/quadvar.h"

namespace vantor::test {
namespace {

using namespace std::literals;
using Bytes = std::vector<int>;
using Texts = std::vector<std::u32string>;

std::string Utf8(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

class ScanTest : public HeapTest {
 protected:
  void SetUp() override {
    HeapTest::SetUp();
    InitialiseScanner();
    InitialiseSystemVariables();
    InitialiseNames();
  }

  static Ref Stream() { return WorkingSlot(kSlotTokens); }
  static Ref List() { return RootWordAt(kRootSymbolList); }
  static Ref Symbol(uint32_t i) { return SymbolAt(List(), i); }

  static Bytes TokensOf(std::u32string_view line, ScanState* state = nullptr) {
    EXPECT_EQ(Scan(line, state), kScanOk) << Utf8(line);
    if (!IsRef(Stream())) return {};
    const uint8_t* b = TokenBytes(Stream());
    return Bytes(b, b + TokenByteCount(Stream()));
  }

  // A symbol-list item as text: a name as itself, a character array between quotes (undoubled),
  // numbers as written back.
  static std::string Describe(Ref item) {
    if (KindOf(TypeWord(item)) == kKindName) return Utf8(EntryName(item));
    if (IsSimpleCharacterArray(item)) return "'" + Utf8(CharacterText(item)) + "'";
    return Utf8(ConstantText(item));
  }
  static std::vector<std::string> SymbolsDescribed() {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < SymbolCount(List()); ++i) out.push_back(Describe(Symbol(i)));
    return out;
  }

  static void SetFloatRepresentation(int32_t fr) {
    Temporaries t;
    t[0] = MakeIntScalar(fr);
    AssignSystemVariable(kQuadFR, t[0]);
  }

  // The error number a scan signals, 0 when it signals none.
  static uint32_t ScanError(std::u32string_view line) {
    try {
      Scan(line);
    } catch (const AplError& e) {
      return e.errorNumber;
    }
    return 0;
  }
};

// ---- Token bytes and symbol lists ----------------------------------------------------------------

struct TokenCase {
  std::u32string line;
  Bytes tokens;
  std::vector<std::string> symbols;
};

class ScanTokens : public ScanTest, public ::testing::WithParamInterface<TokenCase> {};

void PrintTo(const TokenCase& c, std::ostream* os) { *os << Utf8(c.line); }

TEST_P(ScanTokens, WritesTheTokenBytesAndListsEachItemOnce) {
  const TokenCase& c = GetParam();
  EXPECT_EQ(TokensOf(c.line), c.tokens);
  EXPECT_EQ(SymbolsDescribed(), c.symbols);
}

// ⎕IO has registry number 2 and ⎕SE 13, both system variables (token 62).
INSTANTIATE_TEST_SUITE_P(
    Lines, ScanTokens,
    ::testing::Values(
        // Constants: a strand is one token; parentheses split it; the 29 after ) points at its (.
        TokenCase{U"1 2 3", {103, 0, 86}, {"1 2 3"}},
        TokenCase{U"1 (2) 3", {103, 0, 87, 96, 1, 87, 97, 0, 3, 29, 2, 87}, {"1", "2", "3"}},
        TokenCase{U"'A'", {103, 0, 87}, {"'A'"}},
        TokenCase{U"'it''s'", {103, 0, 87}, {"'it's'"}},
        TokenCase{U"5+5", {103, 0, 87, 2, 0, 87}, {"5"}},
        TokenCase{U"a+a×b", {103, 112, 2, 112, 4, 113}, {"a", "b"}},
        TokenCase{U"⍬", {103, 107}, {}},
        // System names: case-insensitive; an unknown one is ⎕, the name and a blank item.
        TokenCase{U"⎕io", {103, 2, 62}, {}},
        TokenCase{U"⎕IO←0", {103, 2, 62, 58, 0, 87}, {"0"}},
        TokenCase{U"⎕XYZ", {103, 0, 0, 81, 113, 0, 2, 81}, {"'⎕'", "XYZ", "' '"}},
        TokenCase{U"⎕ ⍞", {103, 59, 60}, {}},
        // Dfns: structure tokens chained back; ⍺← replaces the ⍺ token and the ←.
        TokenCase{U"x←{⍺←0 ⋄ ⍺+⍵}",
                  {103, 112, 58, 0, 0, 0, 27, 111, 0, 0, 7, 33, 111, 1, 87, 0, 0, 12, 29, 111, 0, 76, 2, 1, 76,
                   0, 0, 19, 30, 111},
                  {"x", "0"}},
        TokenCase{U"{x:y}", {103, 0, 0, 0, 27, 111, 112, 0, 0, 5, 28, 111, 113, 0, 0, 11, 30, 111}, {"x", "y"}},
        TokenCase{U"{0::1}", {103, 0, 0, 0, 27, 111, 0, 87, 0, 0, 5, 34, 111, 1, 87, 0, 0, 12, 30, 111},
                  {"0", "1"}},
        TokenCase{U"{⍺⍺ ⍵}", {103, 0, 0, 0, 27, 111, 3, 76, 1, 76, 0, 0, 5, 31, 111}, {}},
        TokenCase{U"{⍵⍵ ⍺⍺}", {103, 0, 0, 0, 27, 111, 4, 76, 3, 76, 0, 0, 5, 32, 111}, {}},
        TokenCase{U"⍺ ← 1", {103, 0, 0, 0, 33, 111, 0, 87}, {"1"}},
        TokenCase{U"∇∇ ∇", {103, 5, 76, 2, 76}, {}},
        // Labels, keywords and other colons.
        TokenCase{U"L1:x←1", {103, 112, 0, 106, 113, 58, 2, 87}, {"L1", "x", "1"}},
        TokenCase{U"L1: :If x", {103, 112, 0, 106, 0, 0, 0, 0, 111, 113}, {"L1", "x"}},
        TokenCase{U"a b:c", {103, 112, 113, 0, 2, 81, 115}, {"a", "b", "':'", "c"}},
        TokenCase{U":if x", {103, 0, 0, 0, 0, 111, 112}, {"x"}},
        TokenCase{U":For i :In 3", {103, 0, 0, 0, 11, 111, 112, 0, 0, 5, 12, 111, 1, 87}, {"i", "3"}},
        TokenCase{U"a x :In y", {103, 112, 113, 0, 2, 81, 115, 116}, {"a", "x", "':'", "In", "y"}},
        TokenCase{U":Access Public Shared", {103, 0, 0, 0, 43, 111, 0, 0, 26}, {"' Public Shared'"}},
        TokenCase{U":EndIf", {103, 0, 0, 0, 5, 111}, {}},
        // Separators outside dfns link back to the previous statement start (low byte first).
        TokenCase{U"a⋄b⋄c", {103, 112, 0, 0, 102, 113, 4, 0, 102, 114}, {"a", "b", "c"}},
        // Namespace dots point at the first byte of their left side; the product dot stays 68.
        TokenCase{U"a.b.c", {103, 112, 0, 1, 28, 113, 0, 1, 28, 114}, {"a", "b", "c"}},
        TokenCase{U"(a).b", {103, 96, 112, 97, 0, 1, 28, 113}, {"a", "b"}},
        TokenCase{U"x[1].y", {103, 112, 98, 1, 87, 99, 0, 1, 28, 114}, {"x", "1", "y"}},
        TokenCase{U"⎕SE.x", {103, 13, 62, 0, 1, 28, 112}, {"x"}},
        TokenCase{U"##.x #", {103, 78, 0, 1, 28, 112, 77}, {"x"}},
        TokenCase{U"+.×", {103, 2, 68, 4}, {}},
        TokenCase{U"∘.×", {103, 56, 68, 4}, {}},
        TokenCase{U"x+.5", {103, 112, 2, 1, 87}, {"x", "0.5"}},
        // Equivalent characters.
        TokenCase{U"^∣∧|", {103, 16, 10, 16, 10}, {}},
        // Comments keep the blanks before them.
        TokenCase{U"x ⍝ c  ", {103, 112, 1, 94, 0, 1, 13}, {"x", "'⍝ c'"}},
        TokenCase{U"x⍝c", {103, 112, 0, 1, 13}, {"x", "'⍝c'"}},
        // What cannot be read becomes an unknown item.
        TokenCase{U"()", {103, 0, 0, 81}, {"'()'"}},
        TokenCase{U"( )", {103, 0, 0, 81}, {"'( )'"}},
        TokenCase{U"'abc", {103, 0, 0, 81}, {"''abc'"}},
        TokenCase{U"1E", {103, 0, 0, 81}, {"'1E'"}},
        TokenCase{U"1.2.3+2a", {103, 0, 0, 81, 2, 0, 1, 81}, {"'1.2.3'", "'2a'"}},
        TokenCase{U"1 ¯", {103, 0, 87, 0, 1, 81}, {"1", "'¯'"}},
        TokenCase{U"..5", {103, 0, 0, 81}, {"'..5'"}},
        TokenCase{U"$Þ", {103, 0, 0, 81, 0, 1, 81}, {"'$'", "'Þ'"}}));

// ---- The header and the line state --------------------------------------------------------------

TEST_F(ScanTest, HeaderRecordsLabelChainBlanksDepthAndFlags) {
  TokensOf(U"   L1:x←1");
  EXPECT_EQ(HeaderField16(Stream(), kHeaderLabel), 0u);
  EXPECT_EQ(HeaderField16(Stream(), kHeaderStructureChain), 0u);
  EXPECT_EQ(HeaderField32(Stream(), kHeaderLeadingBlanks), 3u);
  EXPECT_EQ(ShapeOf(Stream())[0], kTokenHeaderBytes + 8);

  TokensOf(U"x←{⍵}");
  EXPECT_EQ(HeaderField16(Stream(), kHeaderLabel), kNoLabel);
  EXPECT_EQ(HeaderField16(Stream(), kHeaderStructureChain), 14u);  // the }
  EXPECT_EQ(HeaderField32(Stream(), kHeaderDfnDepth), 0u);

  TokensOf(std::u32string(1024, U' ') + U"x");
  EXPECT_EQ(HeaderField32(Stream(), kHeaderLeadingBlanks), 0u);
}

TEST_F(ScanTest, EndOfLineTokenOnlyWhenTheFlagsAskAndOutsideDfns) {
  ScanState state;
  state.lineFlags = kLineFlagEndToken;
  EXPECT_EQ(TokensOf(U"x", &state), (Bytes{103, 112, 0, 0, 0, 17, 111}));
  EXPECT_EQ(HeaderField32(Stream(), kHeaderLineFlags), kLineFlagEndToken);
  state.lineFlags = 0x100;  // only the low byte asks
  EXPECT_EQ(TokensOf(U"x", &state), (Bytes{103, 112}));
}

TEST_F(ScanTest, DfnOpenAtLineEndContinuesOnTheNextLine) {
  DfnFlagTable flags{};
  ScanState state;
  state.dfnFlags = &flags;
  state.lineFlags = kLineFlagEndToken;
  EXPECT_EQ(TokensOf(U"f←{⍵", &state), (Bytes{103, 112, 58, 0, 0, 0, 27, 111, 1, 76, 0, 0, 0, 0, 7, 35, 111}));
  EXPECT_EQ(HeaderField32(Stream(), kHeaderDfnDepth), 1u);
  EXPECT_EQ(state.dfnDepth, 1u);
  EXPECT_EQ(flags[1], kDfnUsesOmega);

  // The level's flags carry over: ⍺⍺ on the second line makes the closing brace a monadic operator's.
  EXPECT_EQ(TokensOf(U"⍺⍺}", &state), (Bytes{103, 3, 76, 0, 0, 0, 31, 111, 0, 0, 7, 17, 111}));
  EXPECT_EQ(state.dfnDepth, 0u);
  EXPECT_EQ(flags[1], kDfnUsesOmega | kDfnUsesAlphaAlpha);
}

TEST_F(ScanTest, DefaultLeftArgumentIsRecordedInTheLevelFlags) {
  DfnFlagTable flags{};
  ScanState state;
  state.dfnFlags = &flags;
  TokensOf(U"{⍺←0 ⋄ ⍺+⍵", &state);
  EXPECT_EQ(flags[1], kDfnDefaultAlpha | kDfnUsesAlpha | kDfnUsesOmega);
}

TEST_F(ScanTest, DfnLevelsCountModulo256AndNeverGoBelowZero) {
  ScanState state;
  TokensOf(std::u32string(256, U'{'), &state);
  EXPECT_EQ(state.dfnDepth, 0u);
  state.dfnDepth = 0;
  Bytes tokens = TokensOf(U"}}", &state);
  EXPECT_EQ(state.dfnDepth, 0u);
  EXPECT_EQ(tokens, (Bytes{103, 0, 0, 0, 30, 111, 0, 0, 5, 30, 111}));
}

TEST_F(ScanTest, BlanksBeforeACommentUseTheExtendedFormFrom256) {
  EXPECT_EQ(TokensOf(U"x" + std::u32string(255, U' ') + U"⍝"), (Bytes{103, 112, 255, 94, 0, 1, 13}));
  EXPECT_EQ(TokensOf(U"x" + std::u32string(300, U' ') + U"⍝"), (Bytes{103, 112, 0, 94, 1, 44, 95, 0, 1, 13}));
}

TEST_F(ScanTest, UnbalancedQuoteIsReported) {
  ScanState state;
  TokensOf(U"x←'abc", &state);
  EXPECT_TRUE(state.unbalancedQuote);
  TokensOf(U"x←'abc'", &state);
  EXPECT_FALSE(state.unbalancedQuote);
}

TEST_F(ScanTest, LinesHeldInPocketsOfAnyCharacterTypeScanAlike) {
  Temporaries t;
  t[0] = AllocVector(kChar8, 3);
  std::memcpy(DataOf<uint8_t>(t[0]), "a+1", 3);
  ASSERT_EQ(ScanPocket(t[0]), kScanOk);
  const uint8_t* b = TokenBytes(Stream());
  EXPECT_EQ(Bytes(b, b + TokenByteCount(Stream())), TokensOf(U"a+1"));
}

// ---- Strings and constants -----------------------------------------------------------------------

TEST_F(ScanTest, OneCharacterIsAScalarAndTheEmptyStringIsShared) {
  TokensOf(U"'A' 'AB' ''");
  ASSERT_EQ(SymbolCount(List()), 3u);
  EXPECT_EQ(RankOf(TypeWord(Symbol(0))), 0u);
  EXPECT_EQ(RankOf(TypeWord(Symbol(1))), 1u);
  EXPECT_EQ(ElementOf(TypeWord(Symbol(1))), kChar8);
  EXPECT_EQ(Symbol(2), RootWordAt(kRootEmptyCharVector));
}

TEST_F(ScanTest, SmallIntegersAreTheSharedScalars) {
  TokensOf(U"0 ⋄ 1 ⋄ ¯5");
  EXPECT_EQ(Symbol(0), RootWordAt(kRootScalarZero));
  EXPECT_EQ(Symbol(1), RootWordAt(kRootScalarOne));
  Temporaries t;
  t[0] = MakeIntScalar(-5);
  EXPECT_EQ(Symbol(2), t[0]);
}

TEST_F(ScanTest, EqualConstantsShareOnePocketAcrossLines) {
  TokensOf(U"2.5 'text' 1 2 3");
  Temporaries t;
  for (int i = 0; i < 3; ++i) {
    t[i] = Symbol(i);
    Retain(t[i]);
  }
  TokensOf(U"1 2 3 'text' 2.5");
  EXPECT_EQ(Symbol(0), t[2]);
  EXPECT_EQ(Symbol(1), t[1]);
  EXPECT_EQ(Symbol(2), t[0]);
}

// ---- Numbers ---------------------------------------------------------------------------------------

struct NumberCase {
  std::u32string text;
  ElementType type;
  std::vector<double> values;  // complex: real and imaginary pairs
};

class ScanNumbers : public ScanTest, public ::testing::WithParamInterface<NumberCase> {};

void PrintTo(const NumberCase& c, std::ostream* os) { *os << Utf8(c.text); }

TEST_P(ScanNumbers, ConvertsWithCorrectRoundingAndNarrows) {
  const NumberCase& c = GetParam();
  TokensOf(c.text);
  ASSERT_EQ(SymbolCount(List()), 1u);
  Ref constant = Symbol(0);
  EXPECT_EQ(ElementOf(TypeWord(constant)), c.type);
  size_t n = c.type == kComplex ? c.values.size() / 2 : c.values.size();
  EXPECT_EQ(ElementCount(constant), n);
  EXPECT_EQ(RankOf(TypeWord(constant)), n == 1 ? 0u : 1u);
  for (size_t i = 0; i < c.values.size(); ++i) EXPECT_EQ(StoredNumber(constant, i), c.values[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Literals, ScanNumbers,
    ::testing::Values(NumberCase{U"1 2 3", kInt8, {1, 2, 3}},
                      NumberCase{U"1 0 1", kBool, {1, 0, 1}},
                      NumberCase{U"300 ¯2", kInt16, {300, -2}},
                      NumberCase{U"2.5", kFloat64, {2.5}},
                      NumberCase{U"0.1 .5 ¯.25", kFloat64, {0.1, 0.5, -0.25}},
                      NumberCase{U"1E3 1e¯2 2.5E1", kFloat64, {1000, 0.01, 25}},
                      NumberCase{U"123456789012345678", kFloat64, {123456789012345678.0}},
                      NumberCase{U"9007199254740993", kFloat64, {9007199254740992.0}},  // ties to even
                      NumberCase{U"1E¯400", kInt8, {0}},
                      NumberCase{U"1J2 3", kComplex, {1, 2, 3, 0}},
                      NumberCase{U"1j¯2.5E1", kComplex, {1, -25}},
                      NumberCase{U"2J0 3", kInt8, {2, 3}},
                      NumberCase{U"1\t2", kInt8, {1, 2}}));

__extension__ typedef unsigned __int128 Uint128;

// The decimal128 element i as significand and exponent.
std::pair<int64_t, int> DecimalAt(Ref r, size_t i) {
  uint64_t lo = DataOf<uint64_t>(r)[2 * i], hi = DataOf<uint64_t>(r)[2 * i + 1];
  Uint128 significand = (static_cast<Uint128>(hi & 0x1FFFFFFFFFFFFull) << 64) | lo;
  int64_t s = static_cast<int64_t>(significand);
  return {hi >> 63 ? -s : s, static_cast<int>((hi >> 49) & 0x3FFF) - 6176};
}

TEST_F(ScanTest, OverflowingBinaryStrandIsReadAgainAsDecimal) {
  TokensOf(U"1E400 2.5");
  Ref constant = Symbol(0);
  ASSERT_EQ(ElementOf(TypeWord(constant)), kDecimal128);
  EXPECT_EQ(DecimalAt(constant, 0), (std::pair<int64_t, int>{1, 400}));
  EXPECT_EQ(DecimalAt(constant, 1), (std::pair<int64_t, int>{25, -1}));
}

TEST_F(ScanTest, DecimalRepresentationGivesDecimalConstantsWrittenAlikeForEqualValues) {
  SetFloatRepresentation(1287);
  TokensOf(U"0.1 1.50");
  Ref constant = Symbol(0);
  ASSERT_EQ(ElementOf(TypeWord(constant)), kDecimal128);
  EXPECT_EQ(DecimalAt(constant, 0), (std::pair<int64_t, int>{1, -1}));
  EXPECT_EQ(DecimalAt(constant, 1), (std::pair<int64_t, int>{15, -1}));
  TokensOf(U"1.5 ⋄ 1.50 ⋄ 2 3");
  EXPECT_EQ(SymbolCount(List()), 2u);  // 1.5 and 1.50 are one constant
  EXPECT_EQ(ElementOf(TypeWord(Symbol(1))), kInt8);
}

TEST_F(ScanTest, NumbersThatAreNotFiniteAreDomainErrors) {
  EXPECT_EQ(ScanError(U"1E9999"), kDomainError);
  EXPECT_EQ(ScanError(U"1J1E400"), kDomainError);
  SetFloatRepresentation(1287);
  EXPECT_EQ(ScanError(U"1E9999"), kDomainError);
  EXPECT_FALSE(IsRef(Stream()));  // the partly built stream is freed
  EXPECT_EQ(ScanError(U"1E6000"), 0u);
}

// ---- Symbol indexes beyond one byte and the list's limits ----------------------------------------

// A line naming `count` distinct names n0 n1 ...
std::u32string ManyNames(uint32_t count, std::u32string_view prefix = U"n") {
  std::u32string line;
  for (uint32_t i = 0; i < count; ++i) {
    std::string n = std::to_string(i);
    line += prefix;
    line += std::u32string(n.begin(), n.end()) + U" ";
  }
  return line;
}

std::u32string ManyFloats(int count) {
  std::u32string line;
  for (int i = 0; i < count; ++i) {
    std::string n = std::to_string(i) + ".5 ";
    line += std::u32string(n.begin(), n.end());
  }
  return line;
}

TEST_F(ScanTest, IndexesFrom144ForNamesAndFrom256ForConstantsUseTheExtension) {
  Bytes tokens = TokensOf(ManyNames(256) + U"1 2 ⋄ 'x'");
  EXPECT_EQ(tokens[144], 112 + 143);
  EXPECT_EQ(Bytes(tokens.begin() + 145, tokens.begin() + 149), (Bytes{112, 0, 144, 95}));
  EXPECT_EQ(Bytes(tokens.end() - 13, tokens.end()), (Bytes{0, 86, 1, 0, 95, 0, 0, 102, 0, 87, 1, 1, 95}));
  EXPECT_EQ(Describe(Symbol(256)), "1 2");
  EXPECT_EQ(Describe(Symbol(257)), "'x'");
}

TEST_F(ScanTest, FreshListGrowsTo1023AndIsShrunkToItsCountAfterTheLine) {
  TokensOf(ManyNames(144));
  EXPECT_EQ(PocketWords(List()), kSymbolListFirstEntry + 144);
  TokensOf(ManyNames(145));
  EXPECT_EQ(SymbolCount(List()), 145u);
  EXPECT_EQ(PocketWords(List()), kSymbolListFirstEntry + 145);
}

TEST_F(ScanTest, ExtendedListGrowsBy1024AndFailsAt4095Entries) {
  Release(RootWordAt(kRootSymbolList));
  ScanState state;
  state.extendSymbolList = true;
  TokensOf(U"a", &state);
  EXPECT_EQ(PocketWords(List()), kSymbolListFirstEntry + 144);  // not shrunk: more lines follow
  TokensOf(ManyNames(144, U"b"), &state);
  EXPECT_EQ(PocketWords(List()), kSymbolListFirstEntry + 1023);
  TokensOf(ManyNames(1000, U"c"), &state);
  EXPECT_EQ(PocketWords(List()), kSymbolListFirstEntry + 2047);
  TokensOf(ManyNames(2950, U"d"), &state);
  EXPECT_EQ(SymbolCount(List()), 4095u);
  EXPECT_EQ(PocketWords(List()), kSymbolListFirstEntry + 4095);
  EXPECT_EQ(Scan(U"a d7 newname", &state), kScanSymbolListFull);
  EXPECT_FALSE(IsRef(Stream()));
  EXPECT_EQ(Scan(U"a d7", &state), kScanOk);  // items already listed still scan
}

TEST_F(ScanTest, AnItemKeepsItsIndexWhenAnotherListWasScannedInBetween) {
  Release(RootWordAt(kRootSymbolList));
  ScanState function;
  function.extendSymbolList = true;
  TokensOf(U"a b c ⋄ 2.5", &function);
  Temporaries t;
  t[0] = List();
  Retain(t[0]);
  Release(RootWordAt(kRootSymbolList));
  TokensOf(U"2.5 c x");  // a fresh list lists 2.5 and c at other positions
  Release(RootWordAt(kRootSymbolList));
  RootWordAt(kRootSymbolList) = t.Take(0);
  EXPECT_EQ(TokensOf(U"c 2.5 b", &function), (Bytes{103, 114, 3, 87, 113}));
  EXPECT_EQ(SymbolCount(List()), 4u);
}

TEST_F(ScanTest, TokenStreamsOver65535BytesAreLimitErrors) {
  EXPECT_EQ(ScanError(std::u32string(65535, U'+')), kLimitError);
  EXPECT_FALSE(IsRef(Stream()));
  EXPECT_EQ(ScanError(std::u32string(65534, U'+')), 0u);
  EXPECT_EQ(TokenByteCount(Stream()), 65535u);
}

TEST_F(ScanTest, PendingInterruptStopsAGrowingScan) {
  g_interruptOnAllocation = true;
  g_interruptPending = true;
  uint32_t error = ScanError(std::u32string(500, U'+'));
  g_interruptOnAllocation = false;
  g_interruptPending = false;
  EXPECT_EQ(error, kInterrupt);
  EXPECT_FALSE(IsRef(Stream()));
}

TEST_F(ScanTest, RejectedKeywordFailsTheScan) {
  ScanState state;
  state.acceptKeyword = [](uint8_t code) { return code != kKeyIf; };
  EXPECT_EQ(Scan(U":While x", &state), kScanOk);
  EXPECT_EQ(Scan(U":If x", &state), kScanKeywordRejected);
  EXPECT_FALSE(IsRef(Stream()));
}

// ---- Interning and space ---------------------------------------------------------------------------


TEST_F(ScanTest, ConstantsNothingUsesAreGivenBackWhenSpaceRunsShort) {
  TokensOf(ManyFloats(2000));
  uint64_t held = SpaceUsage().bytesInUse;
  TrimCaches();
  EXPECT_GT(SpaceUsage().bytesInUse + 2000 * 8, held) << "the list still uses the strand";
  Release(WorkingSlot(kSlotTokens));
  Release(RootWordAt(kRootSymbolList));
  uint64_t before = SpaceUsage().bytesInUse;
  TrimCaches();
  EXPECT_LE(SpaceUsage().bytesInUse + 2000 * 8, before);
  TokensOf(ManyFloats(2000));
  EXPECT_EQ(StoredNumber(Symbol(0), 1999), 1999.5);
}

TEST_F(ScanTest, InterningSurvivesCompaction) {
  TokensOf(U"alpha 2.5 'text'");
  Compact(0);
  TokensOf(U"'text' alpha 2.5");
  Temporaries t;
  t[0] = Symbol(2);
  Retain(t[0]);
  Compact(0);
  TokensOf(U"2.5");
  EXPECT_EQ(Symbol(0), t[0]);
  CheckHeapConsistency();
}

TEST_F(ScanTest, CompactionsInTheMiddleOfAScanLoseNothing) {
  // A full heap with every other small block freed: the symbol list, the token buffer and the intern
  // table can only grow by compacting, which happens while the scan holds its temporaries.
  Compact(0);  // no gaps are left, so the compactions while filling move nothing
  std::vector<Ref> blocks;
  try {
    for (;;) blocks.push_back(PlainBlock(16));
  } catch (const AplError& e) {
    ASSERT_EQ(e.errorNumber, kWsFull);
  }
  for (size_t i = 0; i < blocks.size(); i += 2) {
    ASSERT_EQ(SizeWord(blocks[i]), -16);
    FreeBlock(blocks[i]);
  }
  std::u32string line = ManyNames(600, U"z") + U"⋄ " + ManyFloats(300) + U"⋄ 'some text' ⍝ and a comment";
  Bytes tokens = TokensOf(line);
  CheckHeapConsistency();
  std::u32string text = LineText(Stream(), List());
  EXPECT_EQ(TokensOf(text), tokens);
  EXPECT_EQ(SymbolCount(List()), 600u + 3);
  EXPECT_EQ(StoredNumber(Symbol(600), 299), 299.5);
}

// ---- Robustness ------------------------------------------------------------------------------------

TEST_F(ScanTest, DeepNestingNeedsNoNativeRecursion) {
  std::u32string line = std::u32string(10000, U'(') + U"1" + std::u32string(10000, U')');
  Bytes tokens = TokensOf(line);
  EXPECT_EQ(tokens.size(), 1u + 10000 + 2 + 10000 * 4);
}

TEST_F(ScanTest, AnyTextScansWithoutFailing) {
  const std::u32string_view alphabet = U"ab1 ¯.EJ'⎕:⍺⍵∇⍝⋄#←{}()[];+×.∘⍬⍞$ÞⒶ\t\0\U0001F600"sv;
  std::mt19937 random(12345);
  for (int line = 0; line < 3000; ++line) {
    std::u32string text;
    for (int n = random() % 80; n > 0; --n) {
      text.push_back(random() % 8 == 0 ? static_cast<char32_t>(random() % 0x11000) : alphabet[random() % alphabet.size()]);
    }
    try {
      ASSERT_EQ(Scan(text), kScanOk) << Utf8(text);
    } catch (const AplError& e) {
      ASSERT_EQ(e.errorNumber, kDomainError) << Utf8(text);  // an exponent too large even for decimal
      continue;
    }
    std::u32string again = LineText(Stream(), List());
    Bytes first(TokenBytes(Stream()), TokenBytes(Stream()) + TokenByteCount(Stream()));
    ASSERT_EQ(Scan(again), kScanOk);
    EXPECT_EQ(Bytes(TokenBytes(Stream()), TokenBytes(Stream()) + TokenByteCount(Stream())), first)
        << Utf8(text) << " → " << Utf8(again);
  }
}

// ---- The keyword table -----------------------------------------------------------------------------

TEST(CtrlKeywords, EveryCodeHasOneEntryAndTypedKeywordsAreFound) {
  uint32_t entries = 0;
  for (uint32_t code = 0; code < kKeywordCodeLimit; ++code) {
    const KeywordEntry* e = KeywordByCode(code);
    if (!e) continue;
    ++entries;
    EXPECT_EQ(e->code, code);
    if (e->key == u"dodgy") continue;
    std::u32string word(e->written.substr(1));
    EXPECT_EQ(FindKeyword(word), e) << code;
  }
  EXPECT_EQ(entries, kKeywordCount);
  for (uint32_t unused : {20, 46, 58, 59}) EXPECT_EQ(KeywordByCode(unused), nullptr);
}

TEST(CtrlKeywords, LookupTriesTheWordAsWrittenThenInUpperCase) {
  struct Case {
    std::u32string word;
    int code;  // -1: not a keyword
  } cases[] = {{U"If", kKeyIf},          {U"IF", kKeyIf},         {U"endif", kKeyEndIf},
               {U"InEach", kKeyInEach},  {U"In", kKeyIn},         {U"EndDisposable", kKeyEndDisposable},
               {U"Ifx", -1},             {U"dodgy", -1},          {U"DODGY", -1},
               {U"", -1},                {U"Pragma", -1},         {U"ＩＦ", -1}};
  for (const Case& c : cases) {
    const KeywordEntry* e = FindKeyword(c.word);
    EXPECT_EQ(e ? e->code : -1, c.code) << Utf8(c.word);
  }
}

TEST(CtrlKeywords, DeclarationKeywordsTakeTheRestOfTheLine) {
  EXPECT_TRUE(TakesRestOfLine(kKeyAccess));
  EXPECT_TRUE(TakesRestOfLine(kKeyEndSection));
  EXPECT_FALSE(TakesRestOfLine(kKeyTrap));
  EXPECT_FALSE(TakesRestOfLine(kKeyDisposable));
}

// ---- Token to text ---------------------------------------------------------------------------------

struct TextCase {
  std::u32string line;
  std::u32string text;  // the text written back
};

class TokenText : public ScanTest, public ::testing::WithParamInterface<TextCase> {};

void PrintTo(const TextCase& c, std::ostream* os) { *os << Utf8(c.line); }

TEST_P(TokenText, WritesTheLineBackAndTheTextScansToTheSameTokens) {
  const TextCase& c = GetParam();
  Bytes tokens = TokensOf(c.line);
  std::vector<std::string> symbols = SymbolsDescribed();
  std::u32string text = LineText(Stream(), List());
  EXPECT_EQ(Utf8(text), Utf8(c.text));
  EXPECT_EQ(TokensOf(text), tokens);
  EXPECT_EQ(SymbolsDescribed(), symbols);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TokenText,
    ::testing::Values(TextCase{U"x←+/⍳10", U"x←+/⍳10"},
                      TextCase{U"a  b   c", U"a b c"},
                      TextCase{U"  x←1 2 3", U"  x←1 2 3"},
                      TextCase{U"'it''s' 'a'", U"'it''s' 'a'"},
                      TextCase{U"x←{⍺←0⋄⍺+⍵}", U"x←{⍺←0 ⋄ ⍺+⍵}"},
                      TextCase{U":If x>0", U":If x>0"},
                      TextCase{U":For i :In⍳3", U":For i :In ⍳3"},
                      TextCase{U"L1::Else", U"L1: :Else"},
                      TextCase{U"L1:x←1", U"L1:x←1"},
                      TextCase{U"⎕io←0", U"⎕IO←0"},
                      TextCase{U"⎕xyz 5", U"⎕xyz 5"},
                      TextCase{U"a ⎕IO", U"a ⎕IO"},
                      TextCase{U"a.b.c ⋄ (a b).c ⋄ ##.x", U"a.b.c ⋄ (a b).c ⋄ ##.x"},
                      TextCase{U"x←1.5E300 ¯2 0.25 1E¯7", U"x←1.5E300 ¯2 0.25 1E¯7"},
                      TextCase{U"1J2 3 ¯1.5j¯0.5", U"1J2 3 ¯1.5J¯0.5"},
                      TextCase{U"1E400", U"1E400"},
                      TextCase{U"x   ⍝ note  ", U"x   ⍝ note"},
                      TextCase{U"   ⍝ lead", U"   ⍝ lead"},
                      TextCase{U"⍺ ⍺ ⍵⍵ ⍵ ∇∇ ∇ # ## ⎕ a", U"⍺ ⍺⍵⍵ ⍵∇∇ ∇# ##⎕ a"},
                      TextCase{U"1 ¯ 1E x", U"1 ¯ 1E x"},
                      TextCase{U":Access Public Shared", U":Access Public Shared"},
                      TextCase{U"+.× ⋄ ∘.= ⋄ +. 5", U"+.× ⋄ ∘.= ⋄ +. 5"},
                      TextCase{U"f¨⍨a←⍬", U"f¨⍨a←⍬"},
                      TextCase{U"{0::1⋄⍵:⍺}", U"{0::1 ⋄ ⍵:⍺}"},
                      TextCase{U"x[1;2]←3", U"x[1;2]←3"},
                      TextCase{U"$ () '", U"$()'"},
                      TextCase{U"a b:c", U"a b:c"},
                      TextCase{U"{⍵", U"{⍵"}));

TEST_F(ScanTest, DecimalConstantsWriteBackUnderDecimalRepresentation) {
  SetFloatRepresentation(1287);
  TokensOf(U"0.1 1E400 ¯123.456 1E¯30");
  EXPECT_EQ(Utf8(LineText(Stream(), List())), "0.1 1E400 ¯123.456 1E¯30");
}

// ---- The tokenising service ------------------------------------------------------------------------

Texts Items(Ref nested) {
  Texts out;
  for (uint64_t i = 0; i < ElementCount(nested); ++i) out.push_back(CharacterText(DataOf<Ref>(nested)[i]));
  return out;
}

TEST_F(ScanTest, TokeniseTextGivesOneItemPerTokenAndPerNumber) {
  struct Case {
    std::u32string text;
    Texts items;
  } cases[] = {
      {U"x←1 2.5 ¯3J4  ⍝ c", {U"x", U"←", U"1", U"2.5", U"¯3J4", U"⍝ c"}},
      {U"'a''b',⎕io", {U"'a''b'", U",", U"⎕IO"}},
      {U"⎕XYZ", {U"⎕", U"XYZ"}},
      {U"f←{\r\n⍺⍺ ⍵}", {U"f", U"←", U"{", U"⍺⍺", U"⍵", U"}"}},
      {U":Access  Public", {U":Access", U"Public"}},
      {U"", {}},
  };
  for (const Case& c : cases) {
    Temporaries t;
    t[0] = TokeniseText(c.text);
    EXPECT_EQ(KindOf(TypeWord(t[0])), kKindNested);
    EXPECT_EQ(Items(t[0]), c.items) << Utf8(c.text);
  }
}

TEST_F(ScanTest, TokeniseTextLeavesTheEvaluatorsSlotsAlone) {
  TokensOf(U"keep 7");
  Ref stream = Stream(), list = List();
  Temporaries t;
  t[0] = TokeniseText(U"other 8 9");
  EXPECT_EQ(Stream(), stream);
  EXPECT_EQ(List(), list);
  EXPECT_EQ(Utf8(LineText(Stream(), List())), "keep 7");
}


// The token table is what the evaluator and the decoder walk streams by: walking back from the end of
// any stream the scanner writes, token by token, must land on the line-start byte and meet only codes
// the table knows.
TEST_F(ScanTest, EveryStreamWalksBackWholeByTheTokenTable) {
  DfnFlagTable flags{};
  ScanState state;
  state.dfnFlags = &flags;
  const std::u32string lines[] = {
      U"x←1 2 3 ⋄ y←'ab' ⍝ comment",
      U"L:→L⋄⎕IO←0 ⋄ ⎕←⍳3",
      U"r←+/[1]2 3⍴⍳6 ⋄ ns.v←#.a ##.b",
      U"f←{⍺←0 ⋄ ⍵=0:⍺ ⋄ ⍺⍺ ∇∇ ⍵⍵ :: 1}",
      U"g←{⍵",  // continues on the next line
      U"⍵+1}",
      U":If x ⋄ :EndIf",
      U"1E400 'x' ⍬ ⎕NULL (1 2)[1]      ⍝ blanks",
      ManyNames(200) + U"1 2 3",
  };
  for (const std::u32string& line : lines) {
    Bytes written = TokensOf(line, &state);
    std::vector<uint8_t> tokens(written.begin(), written.end());
    uint32_t end = static_cast<uint32_t>(tokens.size());
    while (end > 1) {
      uint8_t code = tokens[end - 1];
      ASSERT_TRUE(code >= kTokFirstName || kTokenFormat[code].cls != kTcReject) << Utf8(line) << " at " << end;
      uint32_t length = TokenLengthBefore(tokens.data(), end);
      ASSERT_LE(length, end) << Utf8(line);
      end -= length;
    }
    EXPECT_EQ(end, 1u) << Utf8(line);
    EXPECT_EQ(tokens[0], kTokLineStart) << Utf8(line);
  }
}

}  // namespace
}  // namespace vantor::test
