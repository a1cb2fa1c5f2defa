// Numbers as display text: the shortest round-trip digits of binary64 and decimal128 values under a
// significant-digit limit, the layout of one number (plain or exponential), and the numeric columns of
// a display: measuring a column of numbers so that they align on the decimal point, and emitting each
// number in its column. The layout of whole arrays and nested items is disp2; the driver is disp.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "memory/pockutil.h"

namespace vantor {

// The characters every displayed number uses.
inline constexpr char32_t kDisplayPoint = U'.';
inline constexpr char32_t kDisplayMinus = U'\u00AF';  // ¯
inline constexpr char32_t kDisplayExponent = U'E';
inline constexpr char32_t kDisplayComplex = U'J';
inline constexpr char32_t kDisplayBlank = U' ';

// The largest significant-digit limit (⎕PP) and the limit of canonical constants.
inline constexpr int kMaxPrintPrecision = 34;

// The digits of a number: value = 0.d1d2…dn × 10^exponent, no leading or trailing zeros (zero is the
// single digit "0" with exponent 1).
struct NumberDigits {
  char digits[kMaxPrintPrecision + 2];
  uint8_t count = 0;
  int32_t exponent = 1;
  bool negative = false;
  std::string_view View() const { return {digits, count}; }
};

// Shortest digits that read back as the same double, rounded to `limit` significant digits (a digit
// string ending in the tie digit just past the limit is redone exactly from the stored double). ¯0 is 0.
NumberDigits DigitsOfDouble(double value, int limit);
// Keeps `limit` (at least 1) digits, rounding half up on the digits themselves: nines carry, and a
// carry out of the first digit makes "1" with the exponent one higher. Trailing zeros are removed.
void RoundToLimit(NumberDigits& digits, int limit);
// The digits of a decimal128 value (IEEE binary-integer encoding, 16 bytes at `bid`), rounded half
// away from zero to min(limit, 34) digits.
NumberDigits DigitsOfDecimal(const uint8_t* bid, int limit);

// The characters of the point and the minus sign a layout writes.
struct NumberChars {
  char32_t point = kDisplayPoint;
  char32_t minus = kDisplayMinus;
};

// The text of one number and its four counts: characters before the point (with the sign), the point
// and the digits after it, the exponent part ("E", sign, digits), and the whole length.
inline constexpr int kNumberTextCapacity = 128;
struct NumberText {
  char32_t text[kNumberTextCapacity];
  uint8_t length = 0;
  uint8_t integer = 0;
  uint8_t fraction = 0;
  uint8_t exponent = 0;
  std::u32string_view View() const { return {text, length}; }
};

// Lays out digits: exponential form when `eFormat` is set, the exponent is ¯6 or less, or the number
// has more integer digits than `limit`; at least `minFraction` digits after the point (zeros added).
NumberText LayoutNumber(const NumberDigits& digits, int limit, bool eFormat, int minFraction,
                        NumberChars chars = {});
NumberText IntegerText(int64_t value);
// Characters of an integer: its digits, plus one for a negative sign.
inline uint8_t IntegerWidth(int64_t value) {
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  uint8_t width = 1 + (value < 0);
  while (magnitude >= 10) {
    magnitude /= 10;
    ++width;
  }
  return width;
}

// The text of a numeric constant in a function listing: 34 significant digits, never exponential
// unless the magnitude needs it; a complex constant is real part, J, imaginary part (J part omitted
// when the imaginary part is zero).
std::u32string CanonicalNumberText(double value);
std::u32string CanonicalComplexText(double real, double imaginary);
std::u32string CanonicalDecimalText(const uint8_t* bid);

// Widths of the three parts of the numbers in a column.
struct NumberTriple {
  uint8_t integer = 0;
  uint8_t fraction = 0;
  uint8_t exponent = 0;
  uint32_t Width() const { return uint32_t{integer} + fraction + exponent; }
};

// One column of a display: one position along the last axis of the array, formatted uniformly down
// its rows. `before` and `after` are the separator blanks around it.
struct ColumnLayout {
  uint32_t width = 0;
  NumberTriple real;
  NumberTriple imaginary;
  uint8_t before = 0;
  uint8_t after = 0;
  bool numeric : 1 = false;
  bool nested : 1 = false;
  bool widestNested : 1 = false;
  bool realExponential : 1 = false;       // E-format column (real parts)
  bool imaginaryExponential : 1 = false;  // E-format column (imaginary parts)
  bool imaginaryNonzero : 1 = false;      // some complex number in it has a nonzero imaginary part
  // The width of the numbers: the real triple, plus "J" and the imaginary triple when needed.
  uint32_t NumericWidth() const {
    return real.Width() + (imaginaryNonzero ? 1 + imaginary.Width() : 0);
  }
};

// True for the element types that display as numbers (Boolean, integers, binary64, complex, decimal).
bool IsDisplayableNumber(ElementType type);

// Measures the columns of a simple numeric array viewed as `rows` × `columns` (row-major data):
// E-format flags, then the part widths of every element; each column's width becomes at least its
// numeric width. NONCE ERROR for an element type with no display form.
void MeasureNumericColumns(ElementType type, const uint8_t* data, uint64_t rows, uint32_t columns,
                           ColumnLayout* layout, int printPrecision);
// The same for the one number of a scalar item of a nested array, in two steps so that a column's
// E-format flags cover all of its items before any is measured.
void MarkExponentialScalar(ElementType type, const uint8_t* data, ColumnLayout& column, int printPrecision);
void MeasureNumericScalar(ElementType type, const uint8_t* data, ColumnLayout& column, int printPrecision);

// Appends one row of a simple numeric array: for each column its leading separator, the number
// aligned on the point, blanks to the column width, and its trailing separator.
void AppendNumericRow(ElementType type, const uint8_t* data, uint64_t row, uint32_t columns,
                      const ColumnLayout* layout, int printPrecision, std::u32string& out);
// Appends the number of a scalar item aligned in its column (column width, no separators).
void AppendNumericScalar(ElementType type, const uint8_t* data, const ColumnLayout& column,
                         int printPrecision, std::u32string& out);

}  // namespace vantor
