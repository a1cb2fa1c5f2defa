// Numbers as display text and the numeric columns of a display. Digits come from double-conversion
// (shortest round trip, or exactly rounded when the shortest digits end in a tie just past the limit)
// or from the decimal128 significand itself; the layout writes them plain or exponential with "¯",
// "." and "E". Columns are measured and emitted by one small set of routines per element type.
#include "format/disp1.h"

#include <double-conversion/double-conversion.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/errors.h"

namespace vantor {

static constexpr char kUnit[] = "disp1";

// ---- Digits ----------------------------------------------------------------------------------------

static NumberDigits ZeroDigits() {
  NumberDigits d;
  d.digits[0] = '0';
  d.count = 1;
  d.exponent = 1;
  return d;
}

static void StripTrailingZeros(NumberDigits& d) {
  while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
}

void RoundToLimit(NumberDigits& d, int limit) {
  if (d.count <= limit) return;
  bool up = d.digits[limit] >= '5';
  d.count = static_cast<uint8_t>(limit);
  if (up) {
    int i = limit - 1;
    while (i >= 0 && d.digits[i] == '9') --i;
    if (i < 0) {
      d.digits[0] = '1';
      d.count = 1;
      ++d.exponent;
    } else {
      ++d.digits[i];
      d.count = static_cast<uint8_t>(i + 1);
    }
  }
  StripTrailingZeros(d);
}

static int ClampLimit(int limit) { return std::clamp(limit, 1, kMaxPrintPrecision); }

NumberDigits DigitsOfDouble(double value, int limit) {
  using double_conversion::DoubleToStringConverter;
  limit = ClampLimit(limit);
  double magnitude = std::fabs(value);
  // Arrays never hold infinities or NaNs (the arithmetic refuses to make them); should one arrive from
  // outside, it shows as 0 rather than reaching the digit generator, which cannot take it.
  if (magnitude == 0 || !std::isfinite(magnitude)) return ZeroDigits();
  char buffer[kMaxPrintPrecision + 2];
  bool sign;
  int length, point;
  DoubleToStringConverter::DoubleToAscii(magnitude, DoubleToStringConverter::SHORTEST, 0, buffer,
                                         sizeof buffer, &sign, &length, &point);
  // A tie digit that ends the shortest string may stand for a stored value on either side of the tie:
  // round the stored double itself.
  if (length == limit + 1 && buffer[limit] == '5')
    DoubleToStringConverter::DoubleToAscii(magnitude, DoubleToStringConverter::PRECISION, limit, buffer,
                                           sizeof buffer, &sign, &length, &point);
  NumberDigits d;
  std::memcpy(d.digits, buffer, static_cast<size_t>(length));
  d.count = static_cast<uint8_t>(length);
  d.exponent = point;
  d.negative = value < 0;
  RoundToLimit(d, limit);
  StripTrailingZeros(d);
  return d;
}

__extension__ typedef unsigned __int128 Uint128;

// A decimal128 value: significand × 10^exponent, the significand below 10^34.
struct DecimalValue {
  Uint128 significand = 0;
  int exponent = 0;
  bool negative = false;
};

static constexpr uint64_t kTen19 = 10000000000000000000ull;

static DecimalValue DecodeDecimal(const uint8_t* bid) {
  uint64_t lo, hi;
  std::memcpy(&lo, bid, 8);
  std::memcpy(&hi, bid + 8, 8);
  DecimalValue v;
  v.negative = hi >> 63;
  // The "11" combination forms are infinities, NaNs and significands of 2^113 or more, which are
  // non-canonical; none of them is a number the interpreter makes, and all read as zero here.
  if (((hi >> 61) & 3) == 3) return v;
  v.exponent = static_cast<int>((hi >> 49) & 0x3FFF) - 6176;
  v.significand = (static_cast<Uint128>(hi & 0x1FFFFFFFFFFFFull) << 64) | lo;
  static const Uint128 kTen34 = static_cast<Uint128>(kTen19) * 1000000000000000ull;
  if (v.significand >= kTen34) v.significand = 0;
  return v;
}

// All digits of a decimal value, trailing zeros removed.
static NumberDigits ExactDecimalDigits(const DecimalValue& v) {
  if (v.significand == 0) return ZeroDigits();
  char text[40];
  int length = 0;
  auto appendDigits = [&](uint64_t part, bool padded) {
    char reversed[20];
    int n = 0;
    do {
      reversed[n++] = static_cast<char>('0' + part % 10);
      part /= 10;
    } while (part != 0 || (padded && n < 19));
    while (n > 0) text[length++] = reversed[--n];
  };
  uint64_t high = static_cast<uint64_t>(v.significand / kTen19);
  uint64_t low = static_cast<uint64_t>(v.significand % kTen19);
  if (high != 0) appendDigits(high, false);
  appendDigits(low, high != 0);
  NumberDigits d;
  std::memcpy(d.digits, text, static_cast<size_t>(length));
  d.count = static_cast<uint8_t>(length);
  d.exponent = length + v.exponent;
  d.negative = v.negative;
  StripTrailingZeros(d);
  return d;
}

NumberDigits DigitsOfDecimal(const uint8_t* bid, int limit) {
  NumberDigits d = ExactDecimalDigits(DecodeDecimal(bid));
  RoundToLimit(d, ClampLimit(limit));
  return d;
}

// ---- Layout of one number -----------------------------------------------------------------------

namespace {
class TextWriter {
 public:
  explicit TextWriter(NumberText& t) : t_(t) {}
  void Put(char32_t c) {
    if (t_.length < kNumberTextCapacity) t_.text[t_.length++] = c;
  }
  void Digits(const char* digits, int n) {
    for (int i = 0; i < n; ++i) Put(static_cast<char32_t>(digits[i]));
  }
  void Zeros(int n) {
    for (int i = 0; i < n; ++i) Put(U'0');
  }
  void Integer(int64_t value, char32_t minus) {
    if (value < 0) Put(minus);
    char text[20];
    int n = 0;
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
      text[n++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    while (n > 0) Put(static_cast<char32_t>(text[--n]));
  }
  uint8_t Length() const { return t_.length; }

 private:
  NumberText& t_;
};
}  // namespace

// Room for the longest plain text (sign, 34 digits, point, five zeros) and an exponent, so that the
// padding zeros never overrun the buffer.
static constexpr int kMaxMinimumFraction = kNumberTextCapacity - 48;

NumberText LayoutNumber(const NumberDigits& d, int limit, bool eFormat, int minFraction, NumberChars chars) {
  NumberText t;
  TextWriter w(t);
  if (d.negative) w.Put(chars.minus);
  int n = d.count, b = d.exponent;
  bool exponential = eFormat || b <= -6 || b > limit;
  int pointAt = exponential ? 1 : b;  // digits before the point
  int fractionDigits = 0;
  if (pointAt <= 0) {
    w.Put(U'0');
    t.integer = w.Length();
    if (!(n == 1 && d.digits[0] == '0')) {
      w.Put(chars.point);
      w.Zeros(-pointAt);
      w.Digits(d.digits, n);
      fractionDigits = n - pointAt;
    }
  } else {
    w.Digits(d.digits, std::min(n, pointAt));
    if (n < pointAt) w.Zeros(pointAt - n);
    t.integer = w.Length();
    if (n > pointAt) {
      w.Put(chars.point);
      w.Digits(d.digits + pointAt, n - pointAt);
      fractionDigits = n - pointAt;
    }
  }
  minFraction = std::min(minFraction, kMaxMinimumFraction);
  if (minFraction > fractionDigits) {
    if (fractionDigits == 0) w.Put(chars.point);
    w.Zeros(minFraction - fractionDigits);
  }
  t.fraction = static_cast<uint8_t>(w.Length() - t.integer);
  if (exponential) {
    w.Put(kDisplayExponent);
    w.Integer(b - 1, chars.minus);
    t.exponent = static_cast<uint8_t>(w.Length() - t.integer - t.fraction);
  }
  return t;
}

NumberText IntegerText(int64_t value) {
  NumberText t;
  TextWriter w(t);
  w.Integer(value, kDisplayMinus);
  t.integer = w.Length();
  return t;
}

std::u32string CanonicalNumberText(double value) {
  return std::u32string(LayoutNumber(DigitsOfDouble(value, kMaxPrintPrecision), kMaxPrintPrecision, false, 0).View());
}

std::u32string CanonicalComplexText(double real, double imaginary) {
  std::u32string text = CanonicalNumberText(real);
  if (imaginary != 0) text += kDisplayComplex + CanonicalNumberText(imaginary);
  return text;
}

std::u32string CanonicalDecimalText(const uint8_t* bid) {
  return std::u32string(LayoutNumber(DigitsOfDecimal(bid, kMaxPrintPrecision), kMaxPrintPrecision, false, 0).View());
}

// ---- Numbers in columns ---------------------------------------------------------------------------

namespace {

template <typename T>
T Load(const uint8_t* data, uint64_t i) {
  T value;
  std::memcpy(&value, data + i * sizeof(T), sizeof(T));
  return value;
}

// The text of one element: the real part, and the imaginary part when it is shown.
struct ElementText {
  NumberText real;
  NumberText imaginary;
  bool hasImaginary = false;
};

constexpr double kPowersOfTen[18] = {1e0, 1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                     1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
inline int ExponentialBound(int printPrecision) { return std::clamp(printPrecision, 0, 17); }

// A number that forces its column into exponential form.
bool NeedsExponential(double x, int printPrecision) {
  double magnitude = std::fabs(x);
  return (magnitude > 0 && magnitude < 1e-6) || magnitude >= kPowersOfTen[ExponentialBound(printPrecision)];
}

bool AsInt32(double x, int32_t& out) {
  if (!(x >= -2147483648.0 && x <= 2147483647.0) || x != std::trunc(x)) return false;
  out = static_cast<int32_t>(x);
  return true;
}

// Digits after the point that every mantissa of an exponential column gets.
int MinimumFraction(bool exponential, const NumberTriple& triple) {
  return exponential && triple.fraction > 1 ? triple.fraction - 1 : 0;
}

NumberText RealText(double x, bool exponential, int printPrecision, int minFraction) {
  int32_t integer;
  if (!exponential && AsInt32(x, integer)) return IntegerText(integer);
  return LayoutNumber(DigitsOfDouble(x, printPrecision), ClampLimit(printPrecision), exponential, minFraction);
}

void Widen(NumberTriple& triple, const NumberText& t) {
  triple.integer = std::max(triple.integer, t.integer);
  triple.fraction = std::max(triple.fraction, t.fraction);
  triple.exponent = std::max(triple.exponent, t.exponent);
}

struct BoolNumbers {
  static constexpr bool kTwoPass = false;
  static void Mark(const uint8_t*, uint64_t, int, ColumnLayout&) {}
  static void Measure(const uint8_t*, uint64_t, ColumnLayout& c, int) { c.real.integer = std::max<uint8_t>(c.real.integer, 1); }
  static void Text(const uint8_t* data, uint64_t i, const ColumnLayout&, int, ElementText& t) {
    t.real = IntegerText(GetBit(data, i));
  }
};

template <typename T>
struct IntegerNumbers {
  static constexpr bool kTwoPass = false;
  static void Mark(const uint8_t*, uint64_t, int, ColumnLayout&) {}
  static void Measure(const uint8_t* data, uint64_t i, ColumnLayout& c, int) {
    c.real.integer = std::max(c.real.integer, IntegerWidth(Load<T>(data, i)));
  }
  static void Text(const uint8_t* data, uint64_t i, const ColumnLayout&, int, ElementText& t) {
    t.real = IntegerText(Load<T>(data, i));
  }
};

struct RealNumbers {
  static constexpr bool kTwoPass = true;
  static void Mark(const uint8_t* data, uint64_t i, int pp, ColumnLayout& c) {
    if (NeedsExponential(Load<double>(data, i), pp)) c.realExponential = true;
  }
  static void Measure(const uint8_t* data, uint64_t i, ColumnLayout& c, int pp) {
    Widen(c.real, RealText(Load<double>(data, i), c.realExponential, pp, 0));
  }
  static void Text(const uint8_t* data, uint64_t i, const ColumnLayout& c, int pp, ElementText& t) {
    t.real = RealText(Load<double>(data, i), c.realExponential, pp, MinimumFraction(c.realExponential, c.real));
  }
};

// Complex numbers: the parts are measured into their own triples, each with its own E-format flag; a
// zero imaginary part is not shown.
struct ComplexNumbers {
  static constexpr bool kTwoPass = true;
  static void Mark(const uint8_t* data, uint64_t i, int pp, ColumnLayout& c) {
    if (NeedsExponential(Load<double>(data, 2 * i), pp)) c.realExponential = true;
    if (NeedsExponential(Load<double>(data, 2 * i + 1), pp)) c.imaginaryExponential = true;
  }
  static void Measure(const uint8_t* data, uint64_t i, ColumnLayout& c, int pp) {
    Widen(c.real, RealText(Load<double>(data, 2 * i), c.realExponential, pp, 0));
    double imaginary = Load<double>(data, 2 * i + 1);
    if (imaginary == 0) return;
    c.imaginaryNonzero = true;
    Widen(c.imaginary, RealText(imaginary, c.imaginaryExponential, pp, 0));
  }
  static void Text(const uint8_t* data, uint64_t i, const ColumnLayout& c, int pp, ElementText& t) {
    t.real = RealText(Load<double>(data, 2 * i), c.realExponential, pp, MinimumFraction(c.realExponential, c.real));
    double imaginary = Load<double>(data, 2 * i + 1);
    t.hasImaginary = imaginary != 0;
    if (t.hasImaginary)
      t.imaginary = RealText(imaginary, c.imaginaryExponential, pp,
                             MinimumFraction(c.imaginaryExponential, c.imaginary));
  }
};

struct DecimalNumbers {
  static constexpr bool kTwoPass = true;
  static const uint8_t* At(const uint8_t* data, uint64_t i) { return data + 16 * i; }
  // Compared through the position of the first digit: 0 < |x| < 10^¯6 and |x| ≥ 10^k.
  static void Mark(const uint8_t* data, uint64_t i, int pp, ColumnLayout& c) {
    NumberDigits d = ExactDecimalDigits(DecodeDecimal(At(data, i)));
    bool zero = d.count == 1 && d.digits[0] == '0';
    if (!zero && (d.exponent <= -6 || d.exponent - 1 >= ExponentialBound(pp))) c.realExponential = true;
  }
  static NumberText DecimalText(const uint8_t* bid, bool exponential, int pp, int minFraction) {
    NumberDigits d = ExactDecimalDigits(DecodeDecimal(bid));
    if (!exponential && d.count <= d.exponent && d.exponent <= 10) {
      int64_t value = 0;
      for (int k = 0; k < d.exponent; ++k) value = value * 10 + (k < d.count ? d.digits[k] - '0' : 0);
      if (d.negative) value = -value;
      if (value >= INT32_MIN && value <= INT32_MAX) return IntegerText(value);
    }
    int limit = ClampLimit(pp);
    RoundToLimit(d, limit);
    return LayoutNumber(d, limit, exponential, minFraction);
  }
  static void Measure(const uint8_t* data, uint64_t i, ColumnLayout& c, int pp) {
    Widen(c.real, DecimalText(At(data, i), c.realExponential, pp, 0));
  }
  static void Text(const uint8_t* data, uint64_t i, const ColumnLayout& c, int pp, ElementText& t) {
    t.real = DecimalText(At(data, i), c.realExponential, pp, MinimumFraction(c.realExponential, c.real));
  }
};

void PadTo(std::u32string& out, int64_t target) {
  if (target > static_cast<int64_t>(out.size())) out.append(static_cast<size_t>(target) - out.size(), kDisplayBlank);
}

// Writes an element in its column: numbers align on the point (or the end of the integer part), the
// imaginary parts on theirs after "J"; blanks fill the column.
void AppendAligned(const ColumnLayout& c, const ElementText& t, std::u32string& out) {
  int64_t start = static_cast<int64_t>(out.size());
  int64_t slack = int64_t{c.width} - c.NumericWidth();
  PadTo(out, start + slack + c.real.integer - t.real.integer);
  out.append(t.real.View());
  if (t.hasImaginary) {
    PadTo(out, start + slack + c.real.Width());
    out.push_back(kDisplayComplex);
    PadTo(out, static_cast<int64_t>(out.size()) + c.imaginary.integer - t.imaginary.integer);
    out.append(t.imaginary.View());
  }
  PadTo(out, start + c.width);
}

void FinishNumericColumn(ColumnLayout& c) {
  c.numeric = true;
  c.width = std::max(c.width, c.NumericWidth());
}

template <class K>
void MeasureColumns(const uint8_t* data, uint64_t rows, uint32_t columns, ColumnLayout* layout, int pp) {
  if constexpr (K::kTwoPass) {
    for (uint64_t r = 0, i = 0; r < rows; ++r)
      for (uint32_t c = 0; c < columns; ++c, ++i) K::Mark(data, i, pp, layout[c]);
  }
  for (uint64_t r = 0, i = 0; r < rows; ++r)
    for (uint32_t c = 0; c < columns; ++c, ++i) K::Measure(data, i, layout[c], pp);
  for (uint32_t c = 0; c < columns; ++c) FinishNumericColumn(layout[c]);
}

template <class K>
void AppendRow(const uint8_t* data, uint64_t row, uint32_t columns, const ColumnLayout* layout, int pp,
               std::u32string& out) {
  ElementText t;
  uint64_t i = row * columns;
  for (uint32_t c = 0; c < columns; ++c, ++i) {
    out.append(layout[c].before, kDisplayBlank);
    K::Text(data, i, layout[c], pp, t);
    AppendAligned(layout[c], t, out);
    out.append(layout[c].after, kDisplayBlank);
  }
}

struct NumberRoutines {
  void (*measureColumns)(const uint8_t*, uint64_t, uint32_t, ColumnLayout*, int) = nullptr;
  void (*appendRow)(const uint8_t*, uint64_t, uint32_t, const ColumnLayout*, int, std::u32string&) = nullptr;
  void (*mark)(const uint8_t*, uint64_t, int, ColumnLayout&) = nullptr;
  void (*measure)(const uint8_t*, uint64_t, ColumnLayout&, int) = nullptr;
  void (*text)(const uint8_t*, uint64_t, const ColumnLayout&, int, ElementText&) = nullptr;
};

template <class K>
constexpr NumberRoutines RoutinesOf() {
  return {&MeasureColumns<K>, &AppendRow<K>, &K::Mark, &K::Measure, &K::Text};
}

// By element type. Characters and references are not numbers; the internal 8-byte type and 64-bit
// integers have no display form.
constexpr NumberRoutines kNumberRoutines[kElementTypeCount] = {
    {},                                      // 0 ⎕AV character
    RoutinesOf<BoolNumbers>(),               // 1 Boolean
    RoutinesOf<IntegerNumbers<int8_t>>(),    // 2
    RoutinesOf<IntegerNumbers<int16_t>>(),   // 3
    RoutinesOf<IntegerNumbers<int32_t>>(),   // 4
    RoutinesOf<RealNumbers>(),               // 5 binary64
    {},                                      // 6 reference
    {},                                      // 7 char8
    {},                                      // 8 char16
    {},                                      // 9 char32
    RoutinesOf<ComplexNumbers>(),            // 10 complex
    {},                                      // 11 internal
    RoutinesOf<DecimalNumbers>(),            // 12 decimal128
    {},                                      // 13 int64
};

const NumberRoutines& RoutinesFor(ElementType type) {
  const NumberRoutines& routines = kNumberRoutines[type];
  if (routines.text == nullptr) SIGNAL(kNonceError);
  return routines;
}

}  // namespace

bool IsDisplayableNumber(ElementType type) { return kNumberRoutines[type].text != nullptr; }

void MeasureNumericColumns(ElementType type, const uint8_t* data, uint64_t rows, uint32_t columns,
                           ColumnLayout* layout, int printPrecision) {
  RoutinesFor(type).measureColumns(data, rows, columns, layout, printPrecision);
}

void MarkExponentialScalar(ElementType type, const uint8_t* data, ColumnLayout& column, int printPrecision) {
  RoutinesFor(type).mark(data, 0, printPrecision, column);
}

void MeasureNumericScalar(ElementType type, const uint8_t* data, ColumnLayout& column, int printPrecision) {
  RoutinesFor(type).measure(data, 0, column, printPrecision);
  FinishNumericColumn(column);
}

void AppendNumericRow(ElementType type, const uint8_t* data, uint64_t row, uint32_t columns,
                      const ColumnLayout* layout, int printPrecision, std::u32string& out) {
  RoutinesFor(type).appendRow(data, row, columns, layout, printPrecision, out);
}

void AppendNumericScalar(ElementType type, const uint8_t* data, const ColumnLayout& column, int printPrecision,
                         std::u32string& out) {
  ElementText t;
  RoutinesFor(type).text(data, 0, column, printPrecision, t);
  AppendAligned(column, t, out);
}

}  // namespace vantor
