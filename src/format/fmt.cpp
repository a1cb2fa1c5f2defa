// Formatting by format phrases: dyadic ⎕FMT and dyadic ⍕. The format text is parsed into phrase
// records and a sequence of phrase numbers (repetitions expanded); the columns of the argument are
// then laid out along that sequence (where each field and text goes, how wide the result is), the
// result matrix is allocated once, and each column is written by a loop per element type and per
// result character type. Numbers come from disp1's shortest digits, rounded half up on those digits.
#include "format/fmt.h"

#include <algorithm>
#include <array>
#include <optional>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "format/disp1.h"
#include "format/disp2.h"
#include "base/errors.h"
#include "memory/memory1.h"

namespace vantor {

static constexpr char kUnit[] = "fmt";

namespace {

// ---- Phrases --------------------------------------------------------------------------------------

// The characters a phrase uses that the S qualifier can replace, in the order S names them.
enum StandardChar : uint8_t {
  kDigitChar,       // 9: a digit position of a picture
  kSuppressedChar,  // Z: a digit position that shows a blank for a leading zero
  kOverflowChar,    // *: fills a field whose value does not fit
  kPointChar,       // .
  kSeparatorChar,   // ,: thousands separator
  kFilledChar,      // _: a position of a picture filled from the value
  kZeroChar,        // 0: zero fill
  kBlankChar,       // blank
  kStandardCount,
};
using StandardChars = std::array<char32_t, kStandardCount>;
constexpr StandardChars kStandardDefaults = {U'9', U'Z', U'*', U'.', U',', U'_', U'0', U' '};

enum class Code : uint8_t { Text, A, E, F, G, I, T, X };

// O: a value shown as a text instead of a number.
struct Replacement {
  double value = 0;
  std::u32string text;
};

struct Phrase {
  Code code = Code::Text;
  int32_t width = 0;
  int32_t decimals = 0;  // F: digits after the point; E: significant digits
  int32_t scale = 0;     // K: the value is multiplied by 10 to this power
  bool blankZero = false;
  bool separators = false;
  bool left = false;
  bool zeroFill = false;
  bool toColumn = false;  // T w (otherwise T alone: to the right end of the text so far)
  bool moveLeft = false;  // X-w
  bool autoWidth = false;  // dyadic ⍕ width 0: the widest number of the column and one blank
  std::u32string negativePrefix = U"\u00AF";
  std::u32string negativeSuffix, positivePrefix, positiveSuffix, background;
  std::u32string text;  // a literal text, or the picture of G
  StandardChars chars = kStandardDefaults;
  std::vector<Replacement> replacements;

  bool TakesColumn() const { return code != Code::Text && code != Code::T && code != Code::X; }
  // Room kept after every number for the longer of the two suffixes, so that numbers align.
  uint32_t SuffixArea() const {
    return static_cast<uint32_t>(std::max(negativeSuffix.size(), positiveSuffix.size()));
  }
  uint32_t PrefixArea() const {
    return static_cast<uint32_t>(std::max(negativePrefix.size(), positivePrefix.size()));
  }
};

// A number in format text is at most this; groups nest at most this deep.
constexpr int32_t kMaxFormatNumber = 16379;
constexpr int kMaxGroupDepth = 15;
// The phrase sequence with its repetitions expanded may hold at most this many entries.
constexpr size_t kMaxSequence = size_t{1} << 22;

bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }

char32_t Closer(char32_t opener) {
  switch (opener) {
    case U'<': return U'>';
    case U'\u2282': return U'\u2283';  // ⊂ ⊃
    case U'\u2395': return U'\u2395';  // ⎕
    case U'\u235E': return U'\u235E';  // ⍞
    case U'\u00A8': return U'\u00A8';  // ¨
    default: return 0;
  }
}

class FormatTextParser {
 public:
  FormatTextParser(std::u32string_view text, std::vector<Phrase>& phrases) : text_(text), phrases_(phrases) {}

  // The phrases in the order they are applied, as indexes into the phrase records.
  std::vector<uint32_t> Parse() {
    std::vector<uint32_t> sequence = List(0);
    if (!AtEnd()) Fail();
    return sequence;
  }

 private:
  [[noreturn]] static void Fail() { SIGNAL(kFormatError); }

  bool AtEnd() {
    SkipBlanks();
    return pos_ == text_.size();
  }
  void SkipBlanks() {
    while (pos_ < text_.size() && text_[pos_] == U' ') ++pos_;
  }
  // The next character that is not a blank (0 at the end).
  char32_t Peek() { return AtEnd() ? 0 : text_[pos_]; }
  char32_t Next() {
    char32_t c = Peek();
    if (c == 0) Fail();
    ++pos_;
    return c;
  }

  std::vector<uint32_t> List(int depth) {
    std::vector<uint32_t> sequence;
    Item(depth, sequence);
    while (Peek() == U',') {
      ++pos_;
      Item(depth, sequence);
    }
    return sequence;
  }

  void Item(int depth, std::vector<uint32_t>& sequence) {
    int32_t repeat = 1;
    bool counted = IsDigit(Peek());
    if (counted && (repeat = Number()) == 0) Fail();
    if (Peek() == U'(') {
      if (depth == kMaxGroupDepth) Fail();
      ++pos_;
      std::vector<uint32_t> group = List(depth + 1);
      if (Peek() != U')') Fail();
      ++pos_;
      char32_t next = Peek();
      if (next != U',' && next != U')' && !AtEnd()) Fail();
      Append(sequence, group, repeat);
      return;
    }
    phrases_.push_back(ParsePhrase(counted));
    Append(sequence, {static_cast<uint32_t>(phrases_.size() - 1)}, repeat);
  }

  static void Append(std::vector<uint32_t>& sequence, const std::vector<uint32_t>& part, int32_t repeat) {
    if (sequence.size() + part.size() * static_cast<size_t>(repeat) > kMaxSequence) SIGNAL(kLimitError);
    for (int32_t i = 0; i < repeat; ++i) sequence.insert(sequence.end(), part.begin(), part.end());
  }

  int32_t Number() {
    if (!IsDigit(Peek())) Fail();
    int32_t value = 0;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) {
      value = value * 10 + static_cast<int32_t>(text_[pos_++] - U'0');
      if (value > kMaxFormatNumber) Fail();
    }
    return value;
  }
  bool Minus() {
    char32_t c = Peek();
    if (c != U'-' && c != U'\u00AF') return false;
    ++pos_;
    return true;
  }
  int32_t SignedNumber() {
    bool negative = Minus();
    int32_t value = Number();
    return negative ? -value : value;
  }
  // The optional number of O: sign, digits, point and digits; 0 when absent.
  double OptionalValue() {
    bool negative = Minus();
    double value = 0;
    bool any = false;
    if (IsDigit(Peek())) {
      value = Number();
      any = true;
    }
    if (Peek() == U'.') {
      ++pos_;
      double unit = 1;
      int digits = 0;
      while (pos_ < text_.size() && IsDigit(text_[pos_])) {
        if (++digits > 17) Fail();
        unit /= 10;
        value += unit * static_cast<double>(text_[pos_++] - U'0');
      }
      if (digits == 0) Fail();
      any = true;
    }
    if (negative && !any) Fail();
    return negative ? -value : value;
  }
  std::u32string Delimited() {
    char32_t close = Closer(Peek());
    if (close == 0) Fail();
    size_t start = ++pos_;
    size_t end = text_.find(close, start);
    if (end == std::u32string_view::npos) Fail();
    pos_ = end + 1;
    return std::u32string(text_.substr(start, end - start));
  }
  int32_t Width() {
    int32_t w = Number();
    if (w == 0) Fail();
    return w;
  }

  // Qualifier letters seen in the phrase, as bits by letter.
  static uint32_t Bit(char32_t letter) { return 1u << (letter - U'A'); }

  Phrase ParsePhrase(bool counted) {
    Phrase p;
    if (Closer(Peek()) != 0) {
      if (counted) Fail();
      p.text = Delimited();
      EndOfPhrase();
      return p;
    }
    uint32_t seen = 0;
    bool hasM = false, hasN = false;
    std::u32string negativePrefix;
    for (bool coded = false; !coded;) {
      char32_t c = Next();
      if (c >= U'A' && c <= U'Z' && c != U'O' && (seen & Bit(c))) Fail();
      if (c >= U'A' && c <= U'Z') seen |= Bit(c);
      switch (c) {
        case U'B': p.blankZero = true; break;
        case U'C': p.separators = true; break;
        case U'L': p.left = true; break;
        case U'Z': p.zeroFill = true; break;
        case U'K': p.scale = SignedNumber(); break;
        case U'M': negativePrefix = Delimited(), hasM = true; break;
        case U'N': p.negativeSuffix = Delimited(), hasN = true; break;
        case U'P': p.positivePrefix = Delimited(); break;
        case U'Q': p.positiveSuffix = Delimited(); break;
        case U'R': p.background = Delimited(); break;
        case U'S': Substitute(p, Delimited()); break;
        case U'O': {
          double value = OptionalValue();
          p.replacements.push_back({value, Delimited()});
          break;
        }
        default: coded = ParseCode(p, c); if (!coded) Fail(); break;
      }
    }
    seen &= ~(Bit(U'A') | Bit(U'E') | Bit(U'F') | Bit(U'G') | Bit(U'I') | Bit(U'T') | Bit(U'X'));
    CheckQualifiers(p.code, seen);
    // The sign of a negative value is "¯" unless M or N decorates it; a picture shows no sign.
    if (hasM || hasN || p.code == Code::G) p.negativePrefix = negativePrefix;
    if (p.background.empty() && (seen & Bit(U'R'))) Fail();
    EndOfPhrase();
    return p;
  }

  bool ParseCode(Phrase& p, char32_t c) {
    switch (c) {
      case U'A': p.code = Code::A; p.width = Width(); return true;
      case U'I': p.code = Code::I; p.width = Width(); return true;
      case U'F':
        p.code = Code::F;
        p.width = Width();
        if (Peek() == U'.') {
          ++pos_;
          p.decimals = Number();
        }
        return true;
      case U'E':
        p.code = Code::E;
        p.width = Width();
        if (Next() != U'.') Fail();
        if ((p.decimals = Number()) == 0) Fail();
        return true;
      case U'G':
        p.code = Code::G;
        p.text = Delimited();
        if (p.text.empty()) Fail();
        return true;
      case U'X':
        p.code = Code::X;
        p.moveLeft = Minus();
        p.width = Number();
        return true;
      case U'T':
        p.code = Code::T;
        if ((p.toColumn = IsDigit(Peek())) && (p.width = Number()) == 0) Fail();
        return true;
      default: return false;
    }
  }

  // Which qualifiers each code accepts.
  static void CheckQualifiers(enum Code code, uint32_t seen) {
    uint32_t allowed = 0;
    switch (code) {
      case Code::A: allowed = Bit(U'L') | Bit(U'R') | Bit(U'S'); break;
      case Code::G:
        allowed = Bit(U'B') | Bit(U'K') | Bit(U'M') | Bit(U'N') | Bit(U'O') | Bit(U'P') | Bit(U'Q') | Bit(U'R') |
                  Bit(U'S');
        break;
      case Code::E: case Code::F: case Code::I: allowed = ~0u; break;
      default: break;
    }
    if (seen & ~allowed) Fail();
  }

  // S: pairs of a standard character and its replacement.
  static void Substitute(Phrase& p, const std::u32string& pairs) {
    if (pairs.size() % 2 != 0) Fail();
    uint32_t done = 0;
    for (size_t i = 0; i < pairs.size(); i += 2) {
      auto at = std::find(kStandardDefaults.begin(), kStandardDefaults.end(), pairs[i]);
      if (at == kStandardDefaults.end()) Fail();
      uint32_t bit = 1u << (at - kStandardDefaults.begin());
      if (done & bit) Fail();
      done |= bit;
      p.chars[static_cast<size_t>(at - kStandardDefaults.begin())] = pairs[i + 1];
    }
    if (p.chars[kDigitChar] == p.chars[kSuppressedChar]) Fail();
  }

  void EndOfPhrase() {
    char32_t c = Peek();
    if (c != U',' && c != U')' && !AtEnd()) Fail();
  }

  std::u32string_view text_;
  size_t pos_ = 0;
  std::vector<Phrase>& phrases_;
};

// ---- Columns of the argument ------------------------------------------------------------------------

constexpr uint32_t kWholeArgument = UINT32_MAX;
constexpr uint32_t kNoColumn = UINT32_MAX;

// One column of the argument: its elements are data[offset + row × stride] of the item (or of the
// argument itself) for row < rows. The elements of a mixed array (numbers and characters, held as
// a nested array of simple scalars) each have their own type.
struct Column {
  uint32_t item = kWholeArgument;
  uint32_t offset = 0;
  uint32_t stride = 1;
  uint32_t rows = 0;
  ElementType type = kBool;
  bool mixed = false;
};

// A nested array whose items are all simple scalars: a simple array of mixed elements.
bool IsMixed(Ref array) {
  uint64_t count = ElementCount(array);
  const Ref* items = DataOf<Ref>(array);
  for (uint64_t i = 0; i < count; ++i)
    if (!IsArray(items[i]) || KindOf(TypeWord(items[i])) != kKindSimple || RankOf(TypeWord(items[i])) != 0)
      return false;
  return count > 0;
}

// The columns of an argument and the number of rows of the result.
struct ArgumentColumns {
  std::vector<Column> columns;
  uint32_t rows = 0;

  // Adds the columns of a simple or mixed scalar, vector (one column) or matrix.
  void Add(Ref array, uint32_t item) {
    uint32_t type = TypeWord(array);
    uint32_t rank = RankOf(type);
    if (rank > 2) SIGNAL(kRankError);
    uint32_t height = rank == 0 ? 1 : ShapeOf(array)[0];
    uint32_t count = rank == 2 ? ShapeOf(array)[1] : 1;
    bool mixed = KindOf(type) != kKindSimple;
    for (uint32_t j = 0; j < count; ++j) columns.push_back({item, j, count, height, ElementOf(type), mixed});
    rows = std::max(rows, height);
  }
};

ArgumentColumns ColumnsOf(Ref array) {
  ArgumentColumns out;
  if (!IsArray(array)) SIGNAL(kDomainError);
  uint32_t type = TypeWord(array);
  if (KindOf(type) == kKindSimple || IsMixed(array)) {
    out.Add(array, kWholeArgument);
    return out;
  }
  if (RankOf(type) > 1) SIGNAL(kRankError);
  uint64_t items = ElementCount(array);
  for (uint64_t i = 0; i < items; ++i) {
    Ref item = DataOf<Ref>(array)[i];
    if (!IsArray(item) || (KindOf(TypeWord(item)) != kKindSimple && !IsMixed(item))) SIGNAL(kDomainError);
    out.Add(item, static_cast<uint32_t>(i));
  }
  return out;
}

Ref ColumnArray(Ref argument, const Column& column) {
  return column.item == kWholeArgument ? argument : DataOf<Ref>(argument)[column.item];
}

bool IsNumericType(ElementType type) {
  switch (type) {
    case kBool: case kInt8: case kInt16: case kInt32: case kInt64: case kFloat64: case kComplex: case kDecimal128:
      return true;
    default: return false;
  }
}

// ---- Layout ---------------------------------------------------------------------------------------

// Where one phrase goes: a text (column kNoColumn) or the field of a column, `width` positions from
// `start` in every row.
struct Placement {
  uint32_t phrase;
  uint32_t column;
  uint32_t start;
  uint32_t width;
};

constexpr uint64_t kMaxResultWidth = 0x7FFFFFFF;
// Bounds on the work of a layout: the fields and texts placed, and the phrases walked (moves included).
constexpr size_t kMaxPlacements = size_t{1} << 24;
constexpr uint64_t kMaxLayoutSteps = uint64_t{1} << 26;

uint32_t FieldWidth(const Phrase& p) {
  if (p.code != Code::G) return static_cast<uint32_t>(p.width);
  return p.PrefixArea() + static_cast<uint32_t>(p.text.size()) + p.SuffixArea();
}

// Walks the phrase sequence over the columns: phrases are taken in order, each field phrase takes the
// next column, and the sequence starts again while columns remain. After the last column the texts
// and moves up to the next field phrase or the end of the sequence follow. Returns the result width.
uint64_t LayOut(const std::vector<Phrase>& phrases, const std::vector<uint32_t>& sequence, size_t columns,
                std::vector<Placement>& out) {
  bool anyField =
      std::any_of(sequence.begin(), sequence.end(), [&](uint32_t i) { return phrases[i].TakesColumn(); });
  uint64_t position = 0, extent = 0, steps = 0;
  size_t column = 0, next = 0;
  auto place = [&](uint32_t index) {
    if (++steps > kMaxLayoutSteps) SIGNAL(kLimitError);
    const Phrase& p = phrases[index];
    uint64_t width = 0;
    switch (p.code) {
      case Code::X:
        if (p.moveLeft) {
          position -= std::min<uint64_t>(position, static_cast<uint64_t>(p.width));
          return;
        }
        position += static_cast<uint64_t>(p.width);
        break;
      case Code::T: position = p.toColumn ? static_cast<uint64_t>(p.width) - 1 : extent; break;
      case Code::Text: width = p.text.size(); break;
      default: width = FieldWidth(p); break;
    }
    if (out.size() == kMaxPlacements) SIGNAL(kLimitError);
    if (p.code == Code::Text || p.TakesColumn()) {
      out.push_back({index, p.TakesColumn() ? static_cast<uint32_t>(column++) : kNoColumn,
                     static_cast<uint32_t>(position), static_cast<uint32_t>(width)});
      position += width;
    }
    extent = std::max(extent, position);
    if (extent > kMaxResultWidth) SIGNAL(kLimitError);
  };
  if (!anyField) {
    for (uint32_t index : sequence) place(index);
    return extent;
  }
  while (column < columns) {
    if (next == sequence.size()) next = 0;
    place(sequence[next++]);
  }
  while (next < sequence.size() && !phrases[sequence[next]].TakesColumn()) place(sequence[next++]);
  return extent;
}

// ---- Numbers as field text --------------------------------------------------------------------------

constexpr int kDoubleDigits = 16;  // significant digits a double offers
constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
constexpr uint64_t kIntegerPowersOfTen[] = {1,          10,          100,          1000,          10000,
                                            100000,     1000000,     10000000,     100000000,     1000000000,
                                            10000000000, 100000000000, 1000000000000, 10000000000000,
                                            100000000000000, 1000000000000000};

bool IsZero(const NumberDigits& d) { return d.count == 1 && d.digits[0] == '0'; }

NumberDigits Zero() {
  NumberDigits d;
  d.digits[0] = '0';
  d.count = 1;
  return d;
}

// Keeps the first `keep` digits, rounding half up; none kept leaves zero or, when the first dropped
// digit is 5 or more, one unit at the position before the first digit.
void RoundKeeping(NumberDigits& d, int64_t keep) {
  if (IsZero(d) || keep >= d.count) return;
  if (keep <= 0) {
    bool up = keep == 0 && d.digits[0] >= '5';
    bool negative = d.negative;
    int32_t exponent = d.exponent;
    d = Zero();
    if (up) {
      d.digits[0] = '1';
      d.exponent = exponent + 1;
      d.negative = negative;
    }
    return;
  }
  RoundToLimit(d, static_cast<int>(keep));
}

NumberDigits DigitsOfInteger(int64_t value) {
  if (value == 0) return Zero();
  NumberDigits d;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char reversed[20];
  int n = 0;
  for (; magnitude != 0; magnitude /= 10) reversed[n++] = static_cast<char>('0' + magnitude % 10);
  d.count = static_cast<uint8_t>(n);
  d.exponent = n;
  for (int i = 0; i < n; ++i) d.digits[i] = reversed[n - 1 - i];
  d.negative = value < 0;
  while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
  return d;
}

// The shortest digits of a double, at most 16 of them.
NumberDigits DigitsOfValue(double value) {
  NumberDigits d = DigitsOfDouble(value, kMaxPrintPrecision);
  if (d.count > kDoubleDigits) RoundToLimit(d, kDoubleDigits);
  return d;
}

// A decimal128 element, by the address of its 16 bytes.
struct DecimalElement {
  const uint8_t* bid;
};

// The text of one number before decorations: digits with separators, point, fraction, exponent.
struct Body {
  std::u32string text;
  bool negative = false;
  bool zero = false;
  bool tooWide = false;  // longer than the field: the text is not made
};

void AppendUnsigned(std::u32string& out, uint64_t value) {
  char32_t reversed[20];
  int n = 0;
  do {
    reversed[n++] = U'0' + static_cast<char32_t>(value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.push_back(reversed[--n]);
}

// Puts the thousands separator into the integer digits that start at `from`.
void InsertSeparators(std::u32string& text, size_t from, size_t digits, char32_t separator) {
  for (size_t i = digits; i > 3;) {
    i -= 3;
    text.insert(from + i, 1, separator);
  }
}

class NumberFormatter {
 public:
  explicit NumberFormatter(const Phrase& p) : p_(p) {}

  // The widest exponent text ("E", sign, digits) of an E column, so that mantissas align.
  void SetExponentWidth(uint32_t width) { exponentWidth_ = width; }
  uint32_t exponentLength() const { return exponentLength_; }
  // Fixed-point texts longer than this are not made (they overflow their field anyway).
  void SetLengthLimit(int64_t limit) { lengthLimit_ = limit; }

  const Body& Of(int64_t value) {
    if (p_.scale == 0 && p_.code != Code::E) return IntegerBody(value);
    return DigitsBody(DigitsOfInteger(value));
  }
  const Body& Of(double value) {
    if (p_.scale == 0 && (p_.code == Code::F || p_.code == Code::I) && FastFixed(value)) return body_;
    return DigitsBody(DigitsOfValue(value));
  }
  const Body& Of(DecimalElement value) { return DigitsBody(DigitsOfDecimal(value.bid, kMaxPrintPrecision)); }

 private:
  int32_t Decimals() const { return p_.code == Code::F ? p_.decimals : 0; }

  void Start(bool negative, bool zero) {
    body_.text.clear();
    body_.negative = negative && !zero;
    body_.zero = zero;
    body_.tooWide = false;
  }
  void FinishInteger(size_t digits) {
    if (p_.separators) InsertSeparators(body_.text, 0, digits, p_.chars[kSeparatorChar]);
  }

  const Body& IntegerBody(int64_t value) {
    Start(value < 0, value == 0);
    AppendUnsigned(body_.text, value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value));
    FinishInteger(body_.text.size());
    if (int32_t d = Decimals(); d > 0) {
      body_.text.push_back(p_.chars[kPointChar]);
      body_.text.append(static_cast<size_t>(d), U'0');
    }
    return body_;
  }

  // x × 10^d rounded in binary floating point gives the same digits as the shortest digits rounded
  // half up, unless it lies within the error of either of a rounding tie: those go the long way.
  bool FastFixed(double value) {
    int32_t d = Decimals();
    if (d > 15) return false;
    double scaled = std::fabs(value) * kPowersOfTen[d];
    if (!(scaled < 1e15)) return false;
    uint64_t n = static_cast<uint64_t>(scaled);
    double fraction = scaled - static_cast<double>(n);
    if (std::fabs(fraction - 0.5) <= scaled * 4e-15) return false;
    if (fraction > 0.5) ++n;
    Start(value < 0, n == 0);
    uint64_t unit = kIntegerPowersOfTen[d];
    AppendUnsigned(body_.text, n / unit);
    FinishInteger(body_.text.size());
    if (d > 0) {
      body_.text.push_back(p_.chars[kPointChar]);
      size_t at = body_.text.size();
      body_.text.append(static_cast<size_t>(d), U'0');
      for (uint64_t rest = n % unit; rest != 0; rest /= 10)
        body_.text[at + static_cast<size_t>(--d)] = U'0' + static_cast<char32_t>(rest % 10);
    }
    return true;
  }

  const Body& DigitsBody(NumberDigits d) {
    if (!IsZero(d)) d.exponent += p_.scale;
    return p_.code == Code::E ? ExponentialBody(d) : FixedBody(d);
  }

  const Body& FixedBody(NumberDigits& d) {
    int32_t decimals = Decimals();
    RoundKeeping(d, int64_t{d.exponent} + decimals);
    bool zero = IsZero(d);
    Start(d.negative, zero);
    int64_t point = zero ? 1 : d.exponent;  // digits before the point
    if (point + decimals > lengthLimit_) {
      body_.tooWide = true;
      return body_;
    }
    if (point <= 0) {
      body_.text.push_back(U'0');
    } else {
      for (int64_t i = 0; i < point; ++i) body_.text.push_back(i < d.count ? static_cast<char32_t>(d.digits[i]) : U'0');
    }
    FinishInteger(body_.text.size());
    if (decimals > 0) {
      body_.text.push_back(p_.chars[kPointChar]);
      for (int64_t i = point; i < point + decimals; ++i)
        body_.text.push_back(i >= 0 && i < d.count ? static_cast<char32_t>(d.digits[i]) : U'0');
    }
    return body_;
  }

  // One digit, the point and the rest of d significant digits, then "E" and the exponent, padded
  // with blanks to the column's exponent width.
  const Body& ExponentialBody(NumberDigits& d) {
    RoundKeeping(d, p_.decimals);
    bool zero = IsZero(d);
    Start(d.negative, zero);
    for (int32_t i = 0; i < p_.decimals; ++i) {
      if (i == 1) body_.text.push_back(p_.chars[kPointChar]);
      body_.text.push_back(i < d.count ? static_cast<char32_t>(d.digits[i]) : U'0');
    }
    size_t at = body_.text.size();
    body_.text.push_back(U'E');
    int64_t exponent = zero ? 0 : int64_t{d.exponent} - 1;
    if (exponent < 0) body_.text.push_back(kDisplayMinus);
    AppendUnsigned(body_.text, static_cast<uint64_t>(exponent < 0 ? -exponent : exponent));
    exponentLength_ = static_cast<uint32_t>(body_.text.size() - at);
    if (exponentWidth_ > exponentLength_) body_.text.append(exponentWidth_ - exponentLength_, p_.chars[kBlankChar]);
    return body_;
  }

  const Phrase& p_;
  Body body_;
  uint32_t exponentWidth_ = 0;
  uint32_t exponentLength_ = 0;
  int64_t lengthLimit_ = INT64_MAX;
};

// ---- Fields -----------------------------------------------------------------------------------------

double AsDouble(int64_t value) { return static_cast<double>(value); }
double AsDouble(double value) { return value; }
// The double nearest a decimal value (for O, which compares values with the numbers it names).
double AsDouble(DecimalElement value) {
  NumberDigits d = DigitsOfDecimal(value.bid, kMaxPrintPrecision);
  std::string text = (d.negative ? "-0." : "0.") + std::string(d.View()) + "e" + std::to_string(d.exponent);
  return std::strtod(text.c_str(), nullptr);
}

// Builds the characters of one field of a phrase: a number with its decorations, a picture, a
// character, an O text, blanks or the overflow fill.
class FieldBuilder {
 public:
  explicit FieldBuilder(const Phrase& p) : p_(p), numbers_(p) {}

  // The width of the fields that follow (the phrase's, or a column's automatic width).
  void SetWidth(uint32_t width) {
    width_ = width;
    field_.assign(width, U' ');
    numbers_.SetLengthLimit(width);
  }

  NumberFormatter& Numbers() { return numbers_; }
  const char32_t* Chars() const { return field_.data(); }

  template <typename V>
  void Number(V value) {
    for (const Replacement& r : p_.replacements)
      if (AsDouble(value) == r.value) return Justified(r.text);
    const Body& body = numbers_.Of(value);
    if (body.tooWide) return Overflow();
    if (p_.blankZero && body.zero) return Background();
    if (p_.code == Code::G) return Picture(body);
    Decorated(body, body.text);
  }

  void Character(char32_t c) {
    Background();
    field_[p_.left ? 0 : width_ - 1] = c;
  }

 private:
  void Background() {
    if (p_.background.empty()) {
      std::fill(field_.begin(), field_.end(), p_.chars[kBlankChar]);
      return;
    }
    for (uint32_t i = 0; i < width_; ++i) field_[i] = p_.background[i % p_.background.size()];
  }
  void Overflow() { std::fill(field_.begin(), field_.end(), p_.chars[kOverflowChar]); }
  void Put(uint32_t at, const std::u32string& text) { std::copy(text.begin(), text.end(), field_.begin() + at); }

  void Justified(const std::u32string& text) {
    if (text.size() > width_) return Overflow();
    Background();
    Put(p_.left ? 0 : width_ - static_cast<uint32_t>(text.size()), text);
  }

  // Prefix, number and suffix, with room for the longer suffix after every number; zero fill puts the
  // prefix at the left edge and fills up to the number.
  void Decorated(const Body& body, const std::u32string& text) {
    const std::u32string& prefix = body.negative ? p_.negativePrefix : p_.positivePrefix;
    const std::u32string& suffix = body.negative ? p_.negativeSuffix : p_.positiveSuffix;
    uint64_t area = p_.SuffixArea();
    uint64_t need = prefix.size() + text.size() + area;
    if (need > width_) return Overflow();
    Background();
    uint32_t at = 0;
    if (p_.zeroFill) {
      Put(0, prefix);
      uint32_t end = static_cast<uint32_t>(width_ - area - text.size());
      std::fill(field_.begin() + static_cast<ptrdiff_t>(prefix.size()), field_.begin() + end, p_.chars[kZeroChar]);
      at = end;
    } else if (p_.left) {
      Put(0, prefix);
      at = static_cast<uint32_t>(prefix.size());
    } else {
      at = static_cast<uint32_t>(width_ - need + prefix.size());
      Put(at - static_cast<uint32_t>(prefix.size()), prefix);
    }
    Put(at, text);
    Put(at + static_cast<uint32_t>(text.size()), suffix);
  }

  // The rounded integer's digits go right to left into the digit positions of the picture; digit
  // positions left of the digits show 0, or a blank when they are Z positions, and the other pattern
  // characters between blanked positions are blank too.
  void Picture(const Body& body) {
    const std::u32string& pattern = p_.text;
    size_t digits = body.zero ? 0 : body.text.size();
    picture_ = pattern;
    size_t taken = 0;
    bool blanking = false;
    size_t lastBlank = pattern.size();
    for (size_t i = pattern.size(); i-- > 0;) {
      char32_t c = pattern[i];
      bool digit = c == p_.chars[kDigitChar] || c == p_.chars[kFilledChar];
      bool suppressed = c == p_.chars[kSuppressedChar];
      if (!digit && !suppressed) continue;
      if (taken < digits) {
        picture_[i] = body.text[digits - 1 - taken++];
      } else if (suppressed) {
        picture_[i] = p_.chars[kBlankChar];
        if (blanking)
          for (size_t k = i + 1; k < lastBlank; ++k) picture_[k] = p_.chars[kBlankChar];
        blanking = true;
        lastBlank = i;
      } else {
        picture_[i] = U'0';
        blanking = false;
      }
    }
    if (taken < digits) return Overflow();
    Decorated(body, picture_);
  }

  const Phrase& p_;
  uint32_t width_ = 0;
  NumberFormatter numbers_;
  std::u32string field_;
  std::u32string picture_;
};

// ---- Writing columns --------------------------------------------------------------------------------

template <typename T>
struct Canvas {
  T* data;
  uint64_t width;
  T* At(uint64_t row, uint32_t column) const { return data + row * width + column; }
};

template <typename T>
void PutChars(T* to, const char32_t* from, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) to[i] = static_cast<T>(from[i]);
}

template <typename V>
V Load(const uint8_t* data, uint64_t i) {
  V value;
  std::memcpy(&value, data + i * sizeof(V), sizeof(V));
  return value;
}

// Calls f(read) with a reader of numbers of `type`: read(data, i) gives element i as int64_t, double
// or DecimalElement. DOMAIN ERROR for a type that holds no numbers, and for a complex number whose
// imaginary part is not zero.
template <typename F>
void WithNumberReader(ElementType type, F f) {
  switch (type) {
    case kBool: return f([](const uint8_t* data, uint64_t i) { return int64_t{GetBit(data, i)}; });
    case kInt8: return f([](const uint8_t* data, uint64_t i) { return int64_t{Load<int8_t>(data, i)}; });
    case kInt16: return f([](const uint8_t* data, uint64_t i) { return int64_t{Load<int16_t>(data, i)}; });
    case kInt32: return f([](const uint8_t* data, uint64_t i) { return int64_t{Load<int32_t>(data, i)}; });
    case kInt64: return f([](const uint8_t* data, uint64_t i) { return Load<int64_t>(data, i); });
    case kFloat64: return f([](const uint8_t* data, uint64_t i) { return Load<double>(data, i); });
    case kComplex:
      return f([](const uint8_t* data, uint64_t i) {
        if (Load<double>(data, 2 * i + 1) != 0) SIGNAL(kDomainError);
        return Load<double>(data, 2 * i);
      });
    case kDecimal128: return f([](const uint8_t* data, uint64_t i) { return DecimalElement{data + 16 * i}; });
    default: SIGNAL(kDomainError);
  }
}

// Calls f(row, value) for each element of a numeric column of `array`: one loop per element type, or
// for a mixed column each element by its own type.
template <typename F>
void ForEachNumber(const Column& c, Ref array, F f) {
  if (c.mixed) {
    for (uint64_t r = 0, i = c.offset; r < c.rows; ++r, i += c.stride) {
      Ref item = DataOf<Ref>(array)[i];
      WithNumberReader(ElementOf(TypeWord(item)), [&](auto read) { f(r, read(DataOf<uint8_t>(item), 0)); });
    }
    return;
  }
  const uint8_t* data = DataOf<uint8_t>(array);
  WithNumberReader(c.type, [&](auto read) {
    for (uint64_t r = 0, i = c.offset; r < c.rows; ++r, i += c.stride) f(r, read(data, i));
  });
}

// Element i of a character column (DOMAIN ERROR for a number in a mixed column).
char32_t CharacterOf(const Column& c, Ref array, uint64_t i) {
  if (!c.mixed) return CharacterAt(c.type, DataOf<uint8_t>(array), i);
  Ref item = DataOf<Ref>(array)[i];
  ElementType type = ElementOf(TypeWord(item));
  if (!IsCharacterType(type)) SIGNAL(kDomainError);
  return CharacterAt(type, DataOf<uint8_t>(item), 0);
}

// The widest exponent of a column ("E", sign and digits; 0 unless E) and the widest number without
// its exponent, sign included.
struct ColumnMeasure {
  uint32_t mantissa = 0;
  uint32_t exponent = 0;
};
ColumnMeasure MeasureColumn(NumberFormatter& numbers, const Column& c, Ref array) {
  numbers.SetExponentWidth(0);
  ColumnMeasure m;
  ForEachNumber(c, array, [&](uint64_t, auto value) {
    const Body& body = numbers.Of(value);
    m.exponent = std::max(m.exponent, numbers.exponentLength());
    m.mantissa = std::max<uint32_t>(
        m.mantissa, static_cast<uint32_t>(body.text.size() + body.negative - numbers.exponentLength()));
  });
  return m;
}

template <typename T>
void WriteField(FieldBuilder& field, const Phrase& p, const Placement& at, const Column& c, Ref array,
                const Canvas<T>& canvas) {
  if (c.rows == 0) return;
  field.SetWidth(at.width);
  if (p.code == Code::A) {
    for (uint64_t r = 0, i = c.offset; r < c.rows; ++r, i += c.stride) {
      field.Character(CharacterOf(c, array, i));
      PutChars(canvas.At(r, at.start), field.Chars(), at.width);
    }
    return;
  }
  if (p.code == Code::E) field.Numbers().SetExponentWidth(MeasureColumn(field.Numbers(), c, array).exponent);
  ForEachNumber(c, array, [&](uint64_t r, auto value) {
    field.Number(value);
    PutChars(canvas.At(r, at.start), field.Chars(), at.width);
  });
}

template <typename T>
void WriteText(const std::u32string& text, uint32_t start, uint64_t rows, const Canvas<T>& canvas) {
  for (uint64_t r = 0; r < rows; ++r) PutChars(canvas.At(r, start), text.data(), static_cast<uint32_t>(text.size()));
}

struct FormatLayout {
  std::vector<Phrase> phrases;
  std::vector<Placement> placements;
  std::vector<Column> columns;
  uint64_t rows = 0;
  uint64_t width = 0;
};

template <typename T>
void WriteLayout(const FormatLayout& layout, Ref argument, Ref result) {
  Canvas<T> canvas{DataOf<T>(result), layout.width};
  std::fill_n(canvas.data, layout.rows * layout.width, static_cast<T>(U' '));
  std::vector<std::optional<FieldBuilder>> builders(layout.phrases.size());  // one for each phrase
  for (const Placement& at : layout.placements) {
    const Phrase& p = layout.phrases[at.phrase];
    if (at.column == kNoColumn) {
      WriteText(p.text, at.start, layout.rows, canvas);
      continue;
    }
    const Column& c = layout.columns[at.column];
    std::optional<FieldBuilder>& field = builders[at.phrase];
    if (!field) field.emplace(p);
    WriteField(*field, p, at, c, ColumnArray(argument, c), canvas);
  }
}

// The widest character the result holds, to choose its element type.
char32_t WidestCharacter(const FormatLayout& layout, Ref argument) {
  char32_t widest = kDisplayMinus;
  auto widen = [&](const std::u32string& s) {
    for (char32_t c : s) widest = std::max(widest, c);
  };
  for (const Phrase& p : layout.phrases) {
    for (const std::u32string* s : {&p.negativePrefix, &p.negativeSuffix, &p.positivePrefix, &p.positiveSuffix,
                                    &p.background, &p.text})
      widen(*s);
    for (char32_t c : p.chars) widest = std::max(widest, c);
    for (const Replacement& r : p.replacements) widen(r.text);
  }
  for (const Placement& at : layout.placements) {
    if (at.column == kNoColumn) continue;
    const Column& c = layout.columns[at.column];
    if (layout.phrases[at.phrase].code != Code::A || (c.type == kChar8 && !c.mixed)) continue;
    for (uint64_t r = 0, i = c.offset; r < c.rows; ++r, i += c.stride)
      widest = std::max(widest, CharacterOf(c, ColumnArray(argument, c), i));
  }
  return widest;
}

ElementType CharacterTypeFor(char32_t widest) { return widest < 0x100 ? kChar8 : widest < 0x10000 ? kChar16 : kChar32; }

// A column's elements must suit its phrase: characters for A, numbers for the others.
void CheckColumnTypes(const FormatLayout& layout) {
  for (const Placement& at : layout.placements) {
    if (at.column == kNoColumn) continue;
    const Column& c = layout.columns[at.column];
    if (c.rows == 0 || c.mixed) continue;  // mixed elements are checked as they are formatted
    bool character = IsCharacterType(c.type);
    if (layout.phrases[at.phrase].code == Code::A ? !character : !IsNumericType(c.type)) SIGNAL(kDomainError);
  }
}

// Allocates the result (shape `shape`, last axis the layout's width) and writes the layout into it.
Ref WriteResult(const FormatLayout& layout, const Ref& argument, const std::vector<uint32_t>& shape) {
  ElementType type = CharacterTypeFor(WidestCharacter(layout, argument));
  uint64_t count = layout.rows * layout.width;
  Temporaries held;
  held[0] = AllocArray(type, static_cast<uint32_t>(shape.size()), count);
  std::copy(shape.begin(), shape.end(), ShapeOf(held[0]));
  switch (type) {
    case kChar8: WriteLayout<uint8_t>(layout, argument, held[0]); break;
    case kChar16: WriteLayout<uint16_t>(layout, argument, held[0]); break;
    default: WriteLayout<char32_t>(layout, argument, held[0]); break;
  }
  Ref result = held.Take(0);
  if (type != kChar8) Narrow(result);
  return result;
}

uint32_t CheckedExtent(uint64_t n) {
  if (n > kMaxResultWidth) SIGNAL(kLimitError);
  return static_cast<uint32_t>(n);
}

// ---- Dyadic ⍕ ---------------------------------------------------------------------------------------

// The width-decimals pairs of the left argument.
std::vector<std::pair<int64_t, int64_t>> WidthDecimalPairs(Ref left) {
  if (!IsArray(left) || KindOf(TypeWord(left)) != kKindSimple) SIGNAL(kDomainError);
  if (RankOf(TypeWord(left)) > 1) SIGNAL(kRankError);
  ElementType type = ElementOf(TypeWord(left));
  uint64_t n = ElementCount(left);
  if (n > 0 && !IsNumericType(type)) SIGNAL(kDomainError);
  std::vector<int64_t> numbers;
  if (n > 0) {
    Column all{kWholeArgument, 0, 1, static_cast<uint32_t>(n), type};
    ForEachNumber(all, left, [&](uint64_t, auto value) {
      double x = AsDouble(value);
      if (!(std::fabs(x) <= kMaxFormatNumber) || x != std::trunc(x)) SIGNAL(kDomainError);
      numbers.push_back(static_cast<int64_t>(x));
    });
  }
  if (n == 1) numbers.insert(numbers.begin(), 0);
  if (numbers.size() % 2 != 0) SIGNAL(kLengthError);
  std::vector<std::pair<int64_t, int64_t>> pairs;
  for (size_t i = 0; i < numbers.size(); i += 2) {
    if (numbers[i] < 0) SIGNAL(kDomainError);
    pairs.push_back({numbers[i], numbers[i + 1]});
  }
  return pairs;
}

Phrase WidthDecimalPhrase(int64_t width, int64_t decimals) {
  Phrase p;
  p.code = decimals < 0 ? Code::E : Code::F;
  p.decimals = static_cast<int32_t>(decimals < 0 ? -decimals : decimals);
  p.width = static_cast<int32_t>(width);
  p.autoWidth = width == 0;
  return p;
}

}  // namespace

Ref FormatByPhrases(std::u32string_view format, const Ref& array) {
  FormatLayout layout;
  std::vector<uint32_t> sequence = FormatTextParser(format, layout.phrases).Parse();
  ArgumentColumns argument = ColumnsOf(array);
  layout.columns = std::move(argument.columns);
  layout.rows = argument.rows;
  layout.width = LayOut(layout.phrases, sequence, layout.columns.size(), layout.placements);
  CheckColumnTypes(layout);
  return WriteResult(layout, array, {static_cast<uint32_t>(layout.rows), CheckedExtent(layout.width)});
}

Ref FormatWidthDecimals(const Ref& left, const Ref& right) {
  std::vector<std::pair<int64_t, int64_t>> pairs = WidthDecimalPairs(left);
  if (!IsArray(right) || KindOf(TypeWord(right)) != kKindSimple || !IsNumericType(ElementOf(TypeWord(right))))
    SIGNAL(kDomainError);
  uint32_t rank = RankOf(TypeWord(right));
  uint32_t columns = rank == 0 ? 1 : ShapeOf(right)[rank - 1];
  if (pairs.empty() ? columns != 0 : columns % pairs.size() != 0) SIGNAL(kLengthError);
  FormatLayout layout;
  layout.rows = columns == 0 ? 0 : ElementCount(right) / columns;
  std::vector<uint32_t> shape(rank == 0 ? 0 : ShapeOf(right), rank == 0 ? nullptr : ShapeOf(right) + rank - 1);
  for (auto [width, decimals] : pairs) layout.phrases.push_back(WidthDecimalPhrase(width, decimals));
  std::vector<NumberFormatter> measures(layout.phrases.begin(), layout.phrases.end());
  uint64_t position = 0;
  for (uint32_t j = 0; j < columns; ++j) {
    uint32_t pair = static_cast<uint32_t>(j % pairs.size());
    const Phrase& p = layout.phrases[pair];
    Column c{kWholeArgument, j, columns, static_cast<uint32_t>(layout.rows), ElementOf(TypeWord(right))};
    uint64_t width = static_cast<uint64_t>(p.width);
    if (p.autoWidth) {
      ColumnMeasure m = MeasureColumn(measures[pair], c, right);
      width = uint64_t{1} + m.mantissa + m.exponent;
    }
    layout.columns.push_back(c);
    layout.placements.push_back({pair, j, CheckedExtent(position), CheckedExtent(width)});
    position += width;
    CheckedExtent(position);
  }
  layout.width = position;
  shape.push_back(CheckedExtent(position));
  return WriteResult(layout, right, shape);
}

}  // namespace vantor
