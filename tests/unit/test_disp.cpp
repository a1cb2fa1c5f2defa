// Array display: numbers under ⎕PP, column alignment, separators, nested items, higher ranks,
// control characters, folding at ⎕PW, the Boolean and small-integer fast paths, and monadic ⍕.
// Each case builds an array in a fresh workspace and compares the exact lines shown.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "format/disp.h"
#include "format/disp1.h"
#include "format/disp2.h"
#include "heap_fixture.h"
#include "base/errors.h"
#include "memory/decimal.h"
#include "sysfns/quadvar.h"

namespace vantor::test {
namespace {

using Lines = std::vector<std::u32string>;

// A decimal128 number from its text, through the decimal library.
std::array<uint64_t, 2> Decimal(const char* text) {
  std::string copy = text;
  _IDEC_flags flags = 0;
  BID_UINT128 value = bid128_from_string(copy.data(), 0, &flags);
  return {value.w[0], value.w[1]};
}

struct ArrayCase;

class DisplayTest : public HeapTest {
 protected:
  using Shape = std::vector<uint32_t>;

  // An array of `type` with the given shape (empty: a scalar), filled by `fill(array, count)`.
  template <typename Fill>
  static Ref Make(ElementType type, Shape shape, Fill fill) {
    uint64_t count = 1;
    for (uint32_t axis : shape) count *= axis;
    Ref r = AllocArray(type, static_cast<uint32_t>(shape.size()), count);
    for (size_t a = 0; a < shape.size(); ++a) ShapeOf(r)[a] = shape[a];
    TypeWord(r) |= kNoNarrowFlag;
    fill(r, count);
    return r;
  }
  template <typename T>
  static Ref Numbers(ElementType type, Shape shape, std::vector<T> values) {
    return Make(type, shape, [&](Ref r, uint64_t count) {
      for (uint64_t i = 0; i < count; ++i) DataOf<T>(r)[i] = values[i % values.size()];
    });
  }
  static Shape VectorShape(size_t n) { return {static_cast<uint32_t>(n)}; }
  static Ref Floats(std::vector<double> values) { return Numbers<double>(kFloat64, VectorShape(values.size()), values); }
  static Ref Floats(std::vector<double> values, Shape shape) { return Numbers<double>(kFloat64, shape, values); }
  static Ref FloatScalar(double value) { return Floats({value}, {}); }
  static Ref Ints(std::vector<int32_t> values) { return Ints(values, VectorShape(values.size())); }
  static Ref Ints(std::vector<int32_t> values, Shape shape) { return Numbers<int32_t>(kInt32, shape, values); }
  static Ref IntScalar(int32_t value) { return Ints({value}, {}); }
  // Booleans from a string of 0s and 1s.
  static Ref Bools(const char* bits, Shape shape) {
    return Make(kBool, shape, [&](Ref r, uint64_t count) {
      for (uint64_t i = 0; i < count; ++i) SetBit(DataOf<uint8_t>(r), i, bits[i] == '1');
    });
  }
  // Complex numbers as (real, imaginary) pairs.
  static Ref Complex(Shape shape, std::vector<double> parts) {
    return Make(kComplex, shape, [&](Ref r, uint64_t count) {
      for (uint64_t i = 0; i < 2 * count; ++i) DataOf<double>(r)[i] = parts[i];
    });
  }
  static Ref Decimals(std::vector<std::array<uint64_t, 2>> values) {
    return Make(kDecimal128, VectorShape(values.size()), [&](Ref r, uint64_t count) {
      for (uint64_t i = 0; i < count; ++i) std::memcpy(DataOf<uint8_t>(r) + 16 * i, values[i].data(), 16);
    });
  }
  static Ref Chars(std::u32string text) { return Chars(text, VectorShape(text.size())); }
  static Ref Chars(std::u32string text, Shape shape) {
    return Make(kChar32, shape, [&](Ref r, uint64_t count) {
      for (uint64_t i = 0; i < count; ++i) DataOf<char32_t>(r)[i] = text[i];
    });
  }
  static Ref CharScalar(char32_t c) { return Chars(std::u32string(1, c), {}); }
  static Ref Nested(std::vector<Ref> items) { return Nested(items, VectorShape(items.size())); }
  static Ref Nested(std::vector<Ref> items, Shape shape) {
    uint64_t count = 1;
    for (uint32_t axis : shape) count *= axis;
    Ref r = AllocArray(kRefElement, static_cast<uint32_t>(shape.size()), count);
    for (size_t a = 0; a < shape.size(); ++a) ShapeOf(r)[a] = shape[a];
    for (uint64_t i = 0; i < count; ++i) DataOf<Ref>(r)[i] = items[i];
    return r;
  }
  static Ref Enclose(Ref item) { return Nested({item}, {}); }

  static Lines Show(Ref array, int pp = 10, int pw = 76) { return DisplayLines(array, DisplaySettings{pp, pw}); }
  static void ExpectCases(const std::vector<ArrayCase>& cases);
  static uint32_t ErrorOf(Ref array) {
    try {
      DisplayLines(array, DisplaySettings{});
    } catch (const AplError& e) {
      return e.errorNumber;
    }
    return 0;
  }
};

// A table row: an array, built in the test's workspace, and the lines it shows.
struct ArrayCase {
  const char* name;
  Ref (*make)();
  Lines shown;
  int pp = 10;
};

void DisplayTest::ExpectCases(const std::vector<ArrayCase>& cases) {
  for (const ArrayCase& c : cases) EXPECT_EQ(Show(c.make(), c.pp), c.shown) << c.name;
}

// ---- One number -----------------------------------------------------------------------------------

struct NumberCase {
  double value;
  int pp;
  const char32_t* shown;
};

TEST_F(DisplayTest, FloatScalarsUnderPrintPrecision) {
  const NumberCase cases[] = {
      {0.000001, 3, U"0.000001"},  {0.0000001, 3, U"1E¯7"},  {123, 3, U"123"},
      {1000, 3, U"1E3"},           {1234, 3, U"1.23E3"},     {123456.7, 3, U"1.23E5"},
      {2.675, 3, U"2.67"},         {99.99, 3, U"100"},       {0.15, 1, U"0.1"},
      {2.5, 1, U"3"},              {9.5, 1, U"1E1"},         {-0.0, 10, U"0"},
      {-2.5, 10, U"¯2.5"},         {1.0 / 3, 10, U"0.3333333333"}, {2.0 / 3, 10, U"0.6666666667"},
      {1234567890.5, 10, U"1234567891"}, {1e10, 10, U"1E10"}, {0.1, 17, U"0.1"},
      {1.0 / 3, 17, U"0.3333333333333333"}, {1e17, 17, U"1E17"}, {1e16, 17, U"10000000000000000"},
      {1e17, 34, U"1E17"},         {1e300, 10, U"1E300"},    {-1.5e-300, 10, U"¯1.5E¯300"},
      {123456789, 10, U"123456789"}, {-2147483648.0, 10, U"¯2147483648"}, {0.1 + 0.2, 17, U"0.30000000000000004"},
  };
  for (const NumberCase& c : cases)
    EXPECT_EQ(Show(FloatScalar(c.value), c.pp), Lines{c.shown}) << c.value << " with ⎕PP " << c.pp;
}

TEST_F(DisplayTest, DigitsAndLayoutParts) {
  NumberDigits d = DigitsOfDouble(2.675, 3);
  EXPECT_EQ(d.View(), "267");
  EXPECT_EQ(d.exponent, 1);
  d = DigitsOfDouble(99.99, 3);
  EXPECT_EQ(d.View(), "1");
  EXPECT_EQ(d.exponent, 3);
  d = DigitsOfDouble(-0.05, 10);
  EXPECT_EQ(d.View(), "5");
  EXPECT_EQ(d.exponent, -1);
  EXPECT_TRUE(d.negative);

  // Counts: integer part with sign, point and fraction, exponent part.
  NumberText t = LayoutNumber(DigitsOfDouble(-12.5, 10), 10, false, 0);
  EXPECT_EQ(t.View(), U"¯12.5");
  EXPECT_EQ(t.integer, 3);
  EXPECT_EQ(t.fraction, 2);
  EXPECT_EQ(t.exponent, 0);
  t = LayoutNumber(DigitsOfDouble(1.5e-7, 10), 10, false, 3);
  EXPECT_EQ(t.View(), U"1.500E¯7");
  EXPECT_EQ(t.integer, 1);
  EXPECT_EQ(t.fraction, 4);
  EXPECT_EQ(t.exponent, 3);
  t = LayoutNumber(DigitsOfDouble(2, 10), 10, false, 2);
  EXPECT_EQ(t.View(), U"2.00");
  t = LayoutNumber(DigitsOfDouble(-0.5, 10), 10, false, 0, NumberChars{U',', U'-'});
  EXPECT_EQ(t.View(), U"-0,5");
}

TEST_F(DisplayTest, CanonicalConstantText) {
  EXPECT_EQ(CanonicalNumberText(0.1), U"0.1");
  EXPECT_EQ(CanonicalNumberText(1e20), U"100000000000000000000");
  EXPECT_EQ(CanonicalNumberText(1e35), U"1E35");
  EXPECT_EQ(CanonicalNumberText(-2.5e-7), U"¯2.5E¯7");
  EXPECT_EQ(CanonicalComplexText(3, 0), U"3");
  EXPECT_EQ(CanonicalComplexText(1.5, -2), U"1.5J¯2");
  auto d = Decimal("1.234567890123456789E-12");
  EXPECT_EQ(CanonicalDecimalText(reinterpret_cast<const uint8_t*>(d.data())), U"1.234567890123456789E¯12");
}

// ---- Columns --------------------------------------------------------------------------------------


TEST_F(DisplayTest, NumericVectorsAndMatrices) {
  ExpectCases({
      {"integers", [] { return Ints({1, -22, 333}); }, {U"1 ¯22 333"}},
      {"each vector element is its own column", [] { return Floats({1, 1e-7}); }, {U"1 1E¯7"}},
      {"no alignment in a vector", [] { return Floats({1, 2.5, 3}); }, {U"1 2.5 3"}},
      {"E-format column", [] { return Floats({1, 1e-7}, {2, 1}); }, {U"1E0 ", U"1E¯7"}},
      {"E mantissas padded", [] { return Floats({1.5, 1e-7}, {2, 1}); }, {U"1.5E0 ", U"1.0E¯7"}},
      {"aligned on the point", [] { return Floats({1, 2.5}, {2, 1}); }, {U"1  ", U"2.5"}},
      {"mixed widths", [] { return Ints({1, -22, 333, 4}, {2, 2}); }, {U"  1 ¯22", U"333   4"}},
      {"float columns", [] { return Floats({10.25, -3, 0.5, 100}, {2, 2}); },
       {U"10.25  ¯3", U" 0.5  100"}},
      {"negative fractions", [] { return Floats({-0.25, 12}, {2, 1}); }, {U"¯0.25", U"12   "}},
      {"⎕PP applies to every column", [] { return Floats({3.14159, 2.71828, 1.41421}, {3}); },
       {U"3.14 2.72 1.41"}, 3},
      {"scalar", [] { return IntScalar(-7); }, {U"¯7"}},
      {"Boolean matrix", [] { return Bools("101000", {2, 3}); }, {U"1 0 1", U"0 0 0"}},
  });
}

TEST_F(DisplayTest, ComplexNumbers) {
  ExpectCases({
      {"3J4", [] { return Complex({}, {3, 4}); }, {U"3J4"}},
      {"3J0 is real", [] { return Complex({}, {3, 0}); }, {U"3"}},
      {"vector", [] { return Complex({2}, {1, 2, 3.5, -1}); }, {U"1J2 3.5J¯1"}},
      {"parts aligned in a column", [] { return Complex({2, 1}, {1.5, 2, 3, 4.25}); }, {U"1.5J2   ", U"3  J4.25"}},
      {"zero imaginary part in a complex column", [] { return Complex({2, 1}, {1, 1, 5, 0}); }, {U"1J1", U"5  "}},
      {"E-format imaginary part", [] { return Complex({2, 1}, {1, 1e-8, 2, 3}); }, {U"1J1E¯8", U"2J3E0 "}},
  });
}

TEST_F(DisplayTest, DecimalNumbers) {
  ExpectCases({
      {"fraction", [] { return Decimals({Decimal("123.45")}); }, {U"123.45"}},
      {"integral with trailing zeros", [] { return Decimals({Decimal("42.0"), Decimal("-0.5")}); }, {U"42 ¯0.5"}},
      {"rounded to ⎕PP", [] { return Decimals({Decimal("123.45")}); }, {U"123"}, 3},
      {"tie rounds away from zero", [] { return Decimals({Decimal("1.25")}); }, {U"1.3"}, 2},
      {"small", [] { return Decimals({Decimal("1E-7")}); }, {U"1E¯7"}},
      {"extreme exponent", [] { return Decimals({Decimal("-15E-6176")}); }, {U"¯1.5E¯6175"}},
      {"34 digits", [] { return Decimals({Decimal("1.234567890123456789")}); }, {U"1.234567890123456789"}, 34},
      {"large", [] { return Decimals({Decimal("1234567890123456789")}); },
       {U"1.234567890123456789E18"}, 34},
      {"zero", [] { return Decimals({Decimal("0E5")}); }, {U"0"}},
      {"all 34 digits", [] { return Decimals({Decimal("-0.000123456789012345678901234567890123")}); },
       {U"¯0.000123456789012345678901234567890123"}, 34},
      {"34 digits rounded", [] { return Decimals({Decimal("-0.000123456789012345678901234567890123")}); },
       {U"¯0.00012346"}, 5},
  });
}

// ---- Characters -----------------------------------------------------------------------------------

TEST_F(DisplayTest, Characters) {
  ExpectCases({
      {"vector", [] { return Chars(U"abc"); }, {U"abc"}},
      {"APL characters", [] { return Chars(U"⍳⍴¯"); }, {U"⍳⍴¯"}},
      {"matrix", [] { return Chars(U"abcdef", {2, 3}); }, {U"abc", U"def"}},
      {"empty vector", [] { return Chars(U""); }, {U""}},
      {"no rows", [] { return Chars(U"", {0, 3}); }, {}},
      {"backspace, no overstrike", [] { return Chars(U"a\b_"); }, {U"_"}},
      {"overstrike", [] { return Chars(U"A\b_"); }, {U"Ⓐ"}},
      {"overstrike in the other order", [] { return Chars(U"_\bA"); }, {U"Ⓐ"}},
      {"new blank keeps the old character", [] { return Chars(U"a\b "); }, {U"a"}},
      {"backspace stops at the left", [] { return Chars(U"ab\b\b\bc"); }, {U"cb"}},
      {"line feed", [] { return Chars(U"ab\ncd"); }, {U"ab", U"cd"}},
      {"carriage return and next-line", [] { return Chars(U"abc\rx\u0085yz"); }, {U"abc", U"x  ", U"yz "}},
      {"each row starts a line", [] { return Chars(U"a\nbc", {2, 2}); }, {U"a ", U"  ", U"bc"}},
      {"planes of a canvas", [] { return Chars(U"a\bbcde", {2, 1, 3}); }, {U"b  ", U"", U"cde"}},
      {"canvas as an item", [] { return Nested({Chars(U"ab\nc"), Chars(U"x\b_y", {2, 1, 2})}); },
       {U" ab  x  ", U" c      ", U"     _y "}},
  });
}

TEST_F(DisplayTest, OverstrikeTableWorksInEitherOrder) {
  const char32_t pairs[][3] = {{U'⎕', U'\'', U'⍞'}, {U'∘', U'⊤', U'⍕'}, {U'_', U'Z', U'Ⓩ'},
                               {U'⌸', U'⊤', U'⌶'}, {U'∨', U'∧', U'⋄'}, {U'-', U'E', U'€'}};
  for (const auto& p : pairs) {
    EXPECT_EQ(Overstrike(p[0], p[1]), p[2]);
    EXPECT_EQ(Overstrike(p[1], p[0]), p[2]);
  }
  EXPECT_EQ(Overstrike(U'a', U'_'), 0u);
}

// ⎕AV positions show as the characters the default ⎕AVU gives them, control characters included.
TEST_F(DisplayTest, AvPositions) {
  auto positions = [](std::vector<uint8_t> p) {
    return Make(kCharAv, VectorShape(p.size()), [&](Ref a, uint64_t) { std::copy(p.begin(), p.end(), DataOf<uint8_t>(a)); });
  };
  EXPECT_EQ(Show(positions({14, 15, 17})), Lines{U"⍺⍵a"});
  EXPECT_EQ(Show(positions({17, 1, 16})), Lines{U"_"});
}

// ---- Nested arrays --------------------------------------------------------------------------------

TEST_F(DisplayTest, NestedItems) {
  ExpectCases({
      {"two vectors", [] { return Nested({Ints({1, 2}), Ints({3, 4})}); }, {U" 1 2  3 4 "}},
      {"mixed scalars", [] { return Nested({IntScalar(1), CharScalar(U'a'), IntScalar(2)}); }, {U"1 a 2"}},
      {"character scalars touch", [] { return Nested({CharScalar(U'a'), CharScalar(U'b'), CharScalar(U'c')}); },
       {U"abc"}},
      {"number before a nested item", [] { return Nested({IntScalar(1), Ints({2, 3})}); }, {U"1  2 3 "}},
      {"enclosed vector", [] { return Enclose(Ints({1, 2})); }, {U" 1 2 "}},
      {"text and numbers", [] { return Nested({Chars(U"abc"), Ints({1, 2})}); }, {U" abc  1 2 "}},
      {"matrix item, top-aligned",
       [] { return Nested({Ints({1, 2, 3, 4}, {2, 2}), IntScalar(5)}); }, {U" 1 2  5", U" 3 4   "}},
      {"taller item with text", [] { return Nested({Ints({1}, {2, 2}), Chars(U"ab")}); }, {U" 1 1  ab ", U" 1 1     "}},
      {"matrix of items",
       [] { return Nested({Ints({1, 2}), IntScalar(3), CharScalar(U'x'), Ints({4, 5, 6})}, {2, 2}); },
       {U" 1 2      3 ", U" x    4 5 6 "}},
      {"floats aligned among items",
       [] { return Nested({FloatScalar(1.5), Chars(U"ab"), FloatScalar(10), Chars(U"c")}, {2, 2}); },
       {U" 1.5  ab ", U"10    c  "}},
      {"two levels", [] { return Nested({IntScalar(1), Nested({Ints({2, 3}), IntScalar(4)})}); },
       {U"1   2 3  4 "}},
      {"empty nested vector", [] { return Nested({}); }, {U""}},
      {"rank 3 item", [] { return Nested({Ints({1, 2, 3, 4}, {2, 1, 2}), CharScalar(U'z')}); },
       {U" 1 2 z", U"      ", U" 3 4  "}},
  });
}

TEST_F(DisplayTest, OnePocketInSeveralPlaces) {
  Ref pair = Ints({1, 2});
  Ref inner = Nested({pair, IntScalar(3)});
  EXPECT_EQ(Show(Nested({pair, inner, pair}, {3, 1})), (Lines{U" 1 2     ", U"  1 2  3 ", U" 1 2     "}));
}

TEST_F(DisplayTest, ItemsThatAreNotArrays) {
  Ref object = PlainBlock(4);
  TypeWord(object) = kKindPlain11;
  Ref r = Nested({object, IntScalar(1)});
  EXPECT_EQ(Show(r), Lines{U" [Object]  1"});
  SetObjectTextHook([](Ref) { return std::u32string(U"#.ns"); });
  EXPECT_EQ(Show(r), Lines{U" #.ns  1"});
  EXPECT_EQ(Show(object), Lines{U"#.ns"});
  SetObjectTextHook(nullptr);
  InitialiseSystemVariables();
  EXPECT_EQ(Show(Nested({IntScalar(1), NullItem()})), Lines{U"1  [Null] "});
}

// A 100,000-deep chain of enclosures displays without recursion: each level frames its item with
// one blank on either side.
TEST_F(DisplayTest, DeepNestingDisplays) {
  constexpr uint32_t kDepth = 100000;
  Ref chain = Ints({1, 2});
  for (uint32_t i = 0; i < kDepth; ++i) chain = Enclose(chain);
  DisplayText text = DisplayRows(chain, DisplaySettings{});
  ASSERT_EQ(text.lines.size(), 1u);
  std::u32string expected = std::u32string(kDepth, U' ') + U"1 2" + std::u32string(kDepth, U' ');
  EXPECT_TRUE(text.lines[0] == expected);
  Lines folded = Show(chain);
  EXPECT_EQ(folded.size(), 1 + (expected.size() - 76 + 69) / 70);
  ReleaseRef(chain);
}

TEST_F(DisplayTest, DeepVectorChainDisplays) {
  constexpr int kDepth = 100000;
  Ref chain = IntScalar(0);
  for (int i = 1; i <= kDepth; ++i) chain = Nested({IntScalar(i % 10), chain});
  DisplayText text = DisplayRows(chain, DisplaySettings{});
  ASSERT_EQ(text.lines.size(), 1u);
  // Each level adds its number, two blanks before its item and one after.
  const std::u32string& line = text.lines[0];
  ASSERT_EQ(line.size(), 4u * (kDepth - 1) + 3);
  EXPECT_EQ(line.substr(0, 12), U"0  9  8  7  ");
  EXPECT_EQ(line.substr(line.size() - kDepth - 2), U"1 0" + std::u32string(kDepth - 1, U' '));
}

// ---- Shapes ---------------------------------------------------------------------------------------

TEST_F(DisplayTest, RanksAndEmptyArrays) {
  ExpectCases({
      {"rank 3", [] { return Ints({1, 2, 3, 4, 5, 6, 7, 8}, {2, 2, 2}); }, {U"1 2", U"3 4", U"", U"5 6", U"7 8"}},
      {"rank 4", [] { return Ints({1, 2, 3, 4}, {2, 1, 1, 2}); }, {U"1 2", U"", U"", U"3 4"}},
      {"rank 4, two planes a block", [] { return Ints({1, 2, 3, 4}, {2, 2, 1, 1}); }, {U"1", U"", U"2", U"", U"", U"3", U"", U"4"}},
      {"rank 3 characters", [] { return Chars(U"abcd", {2, 1, 2}); }, {U"ab", U"", U"cd"}},
      {"rank 3 of items", [] { return Nested({Ints({1, 2}), Ints({3, 4})}, {2, 1, 1}); }, {U" 1 2 ", U"", U" 3 4 "}},
      {"empty numeric vector", [] { return Ints({}, {0}); }, {U""}},
      {"no rows", [] { return Ints({}, {0, 3}); }, {}},
      {"no columns", [] { return Ints({}, {3, 0}); }, {U"", U"", U""}},
  });
}

// ---- Folding --------------------------------------------------------------------------------------

TEST_F(DisplayTest, NumericRowsFoldAtABlankColumn) {
  std::vector<int32_t> values;
  for (int i = 1; i <= 30; ++i) values.push_back(i);
  const Lines vector = {U"1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17", U"      18 19 20 21 22 23 24 25 26 27 28 29",
                        U"      30"};
  EXPECT_EQ(Show(Ints(values), 10, 42), vector);
  // A matrix: every row for one chunk, one blank line between chunks.
  Lines matrix = {vector[0], vector[0], U"", vector[1], vector[1], U"", vector[2], vector[2]};
  EXPECT_EQ(Show(Ints(values, {2, 30}), 10, 42), matrix);
}

TEST_F(DisplayTest, CharactersAndNestedArraysFoldExactly) {
  std::u32string letters;
  for (int i = 0; i < 50; ++i) letters += static_cast<char32_t>(U'a' + i % 26);
  EXPECT_EQ(Show(Chars(letters), 10, 42), (Lines{letters.substr(0, 42), U"      " + letters.substr(42)}));

  std::vector<Ref> items(20);
  for (Ref& item : items) item = Ints({1, 2});
  std::u32string line;
  for (int i = 0; i < 20; ++i) line += U" 1 2 ";
  EXPECT_EQ(Show(Nested(items), 10, 42),
            (Lines{line.substr(0, 42), U"      " + line.substr(42, 36), U"      " + line.substr(78)}));
}

TEST_F(DisplayTest, BlankColumnSearchReachesFortyThreePositions) {
  // With ⎕PW 50 the search looks at columns 50 down to 8.
  auto fold = [](size_t blankAt) {
    std::u32string line(100, U'x');
    line[blankAt] = U' ';
    DisplayText text{{line}, 100, 1, false};
    return FoldLines(text, 50)[0].size();
  };
  EXPECT_EQ(fold(50), 50u);
  EXPECT_EQ(fold(8), 8u);
  EXPECT_EQ(fold(7), 50u);
}

// ---- Fast paths -----------------------------------------------------------------------------------

// Boolean and 1-byte integer arrays take their own path; their display must equal that of the same
// values held as wider integers.
TEST_F(DisplayTest, FastPathsMatchTheGeneralPath) {
  std::mt19937 random(12345);
  const std::vector<std::vector<uint32_t>> shapes = {{}, {0}, {1}, {7}, {3, 1}, {4, 5}, {0, 4}, {3, 0}, {60}, {2, 40}};
  for (const auto& shape : shapes) {
    for (int range : {2, 10, 100, 256}) {
      uint64_t count = 1;
      for (uint32_t axis : shape) count *= axis;
      std::vector<int32_t> values(count);
      for (int32_t& v : values) v = range == 256 ? static_cast<int>(random() % 256) - 128 : static_cast<int>(random() % range) - (range == 100 ? 50 : 0);
      Ref wide = Ints(values, shape);
      Ref narrow = range == 2 ? Make(kBool, shape, [&](Ref r, uint64_t n) {
        for (uint64_t i = 0; i < n; ++i) SetBit(DataOf<uint8_t>(r), i, values[i]);
      })
                              : Make(kInt8, shape, [&](Ref r, uint64_t n) {
                                  for (uint64_t i = 0; i < n; ++i) DataOf<int8_t>(r)[i] = static_cast<int8_t>(values[i]);
                                });
      for (int pw : {42, 76}) EXPECT_EQ(Show(narrow, 10, pw), Show(wide, 10, pw)) << "range " << range << " rank " << shape.size();
    }
  }
}

// ---- Errors, sinks, ⍕ -----------------------------------------------------------------------------

TEST_F(DisplayTest, RefusedArrays) {
  EXPECT_EQ(ErrorOf(0), kNonceError);
  EXPECT_EQ(ErrorOf(Numbers<int64_t>(kInt64, {2}, {1, 2})), kNonceError);
  EXPECT_EQ(ErrorOf(Nested({Numbers<int64_t>(kInt64, {}, {1})})), kNonceError);
}

TEST_F(DisplayTest, TooManyColumns) {
  ReleaseSpace(kMainSpace);
  Reset(64u << 20);
  Ref bits = Make(kBool, {kMaxDisplayColumns + 1}, [](Ref r, uint64_t count) {
    std::memset(DataOf<uint8_t>(r), 0, (count + 7) / 8);
  });
  for (Ref array : {bits, Enclose(bits)}) {
    try {
      DisplayLines(array, DisplaySettings{});
      ADD_FAILURE() << "no error";
    } catch (const AplError& e) {
      EXPECT_EQ(e.errorNumber, kLimitError);
      EXPECT_EQ(e.messageRow, MessageRow(U"Unable to format result"));
    }
  }
}

TEST_F(DisplayTest, SinkReceivesTheFoldedLines) {
  std::vector<int32_t> values;
  for (int i = 1; i <= 30; ++i) values.push_back(i);
  for (int pw : {42, 200}) {
    Ref r = Ints(values, {2, 30});
    std::u32string received;
    DisplaySink sink{&received, [](void* c, char32_t ch) { static_cast<std::u32string*>(c)->push_back(ch); },
                     [](void* c) { static_cast<std::u32string*>(c)->push_back(U'\n'); }};
    DisplayArray(r, DisplaySettings{10, pw}, sink);
    std::u32string expected;
    for (const std::u32string& line : DisplayLines(r, DisplaySettings{10, pw})) expected += line + U'\n';
    EXPECT_TRUE(received == expected) << pw;
  }
}

std::u32string TextOf(Ref r) {
  std::u32string text;
  uint64_t n = ElementCount(r);
  for (uint64_t i = 0; i < n; ++i) text += CharacterAt(ElementOf(TypeWord(r)), DataOf<uint8_t>(r), i);
  return text;
}

std::vector<uint32_t> ShapeVector(Ref r) {
  return std::vector<uint32_t>(ShapeOf(r), ShapeOf(r) + RankOf(TypeWord(r)));
}

TEST_F(DisplayTest, FormatMonadic) {
  struct Case {
    const char* name;
    Ref argument;
    std::vector<uint32_t> shape;
    std::u32string text;
    ElementType type;
  };
  std::vector<int32_t> long100(100, 7);
  std::u32string long100Text = U"7";
  for (int i = 1; i < 100; ++i) long100Text += U" 7";
  const Case cases[] = {
      {"vector", Ints({1, -2, 3}), {6}, U"1 ¯2 3", kChar8},
      {"scalar", FloatScalar(0.5), {3}, U"0.5", kChar8},
      {"matrix", Ints({1, 2, 3, 4}, {2, 2}), {2, 3}, U"1 23 4", kChar8},
      {"rank 3 with a blank row", Ints({1, 2}, {2, 1, 1}), {3, 1}, U"1 2", kChar8},
      {"multi-line item", Nested({Ints({1}, {2, 1}), Chars(U"⍳")}), {2, 6}, U" 1  ⍳  1    ", kChar16},
      {"not folded", Ints(long100), {199}, long100Text, kChar8},
      {"empty", Ints({}, {0}), {0}, U"", kChar8},
      {"no rows", Ints({}, {0, 2}), {0, 1}, U"", kChar8},
  };
  for (const Case& c : cases) {
    Ref argument = c.argument;
    CallResult result = FormatMonadic(0, argument);
    ASSERT_TRUE(IsRef(result.value)) << c.name;
    EXPECT_EQ(ShapeVector(result.value), c.shape) << c.name;
    EXPECT_EQ(ElementOf(TypeWord(result.value)), c.type) << c.name;
    EXPECT_EQ(TextOf(result.value), c.text) << c.name;
  }
}

TEST_F(DisplayTest, FormatReadsPrintPrecision) {
  InitialiseSystemVariables();
  Ref three = IntScalar(3);
  AssignSystemVariable(kQuadPP, three);
  Ref value = FloatScalar(2.675);
  EXPECT_EQ(TextOf(FormatMonadic(0, value).value), U"2.67");
}

TEST_F(DisplayTest, FormatOfCharactersIsTheArrayItself) {
  Ref text = Chars(U"abc");
  CallResult result = FormatMonadic(0, text);
  EXPECT_EQ(result.value, text);
  EXPECT_EQ(RefCount(text), 2u);
  Ref overstruck = Chars(U"A\b_");
  result = FormatMonadic(0, overstruck);
  EXPECT_NE(result.value, overstruck);
  EXPECT_EQ(TextOf(result.value), U"Ⓐ");
}

}  // namespace
}  // namespace vantor::test
