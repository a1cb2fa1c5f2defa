// JSON conversion. Import is a single pass over the text with an explicit stack of the open arrays
// and objects; the values made so far wait on one value stack, registered as a temporaries buffer so
// that compaction moves them and an error releases them. Export walks the array with an explicit
// stack of the open arrays and namespaces, writing the text into a C++ buffer; nothing in the
// workspace is allocated until the text is complete.
#include "sysfns/json.h"

#include <double-conversion/double-conversion.h>

#include <array>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "format/disp1.h"
#include "format/disp2.h"
#include "language/dmx.h"
#include "language/scan.h"
#include "language/space.h"
#include "base/errors.h"
#include "memory/decimal.h"
#include "primitives/key.h"
#include "primitives/same.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "json";

namespace {

// Type codes of the matrix form.
enum JsonType : int32_t {
  kTypeObject = 1,
  kTypeArray = 2,
  kTypeNumber = 3,
  kTypeString = 4,
  kTypeLiteral = 5,
};

enum class Form { Namespaces = 0, Matrix = 1, NamespacesKeepingLiterals = 2 };

constexpr char32_t kNameEscape = U'⍙';

// A count or code in decimal digits.
std::u32string Decimal(uint64_t n) { return std::u32string(IntegerText(static_cast<int64_t>(n)).View()); }

std::u32string OffsetSuffix(size_t offset) { return U" at offset " + Decimal(offset); }

// An error with a message of the JSON group; a syntax error of the import carries the position of the
// offending character.
#define JSON_ERROR(en, text, ...) SIGNAL_MESSAGE_IN((en), kCategoryJson, text __VA_OPT__(, ) __VA_ARGS__)
#define JSON_SYNTAX_ERROR(text, offset) JSON_ERROR(kDomainError, text, OffsetSuffix(offset))

bool IsJsonBlank(char32_t c) {
  return c == U' ' || (c >= 9 && c <= 13) || c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

bool IsSimpleNumericScalar(Ref r) {
  return IsRef(r) && KindOf(TypeWord(r)) == kKindSimple && RankOf(TypeWord(r)) == 0 &&
         (kElementInfo[ElementOf(TypeWord(r))].classes & kClassNumeric);
}

// ---- Member names ------------------------------------------------------------------------------------

// The APL name under which a member is stored: the name itself when it is an APL name that does not
// start with ⍙, else ⍙ and the name with each character that cannot stand in a name (and ⍙ itself)
// written as ⍙code⍙.
std::u32string MangledName(std::u32string_view name) {
  if (IsValidName(name) && name[0] != kNameEscape) return std::u32string(name);
  std::u32string mangled(1, kNameEscape);
  for (char32_t c : name) {
    if (IsNameCharacter(c) && c != kNameEscape) mangled += c;
    else mangled += kNameEscape + Decimal(c) + kNameEscape;
  }
  return mangled;
}

// The member name an APL name stands for (MangledName undone).
std::u32string MemberName(std::u32string_view name) {
  if (name.empty() || name[0] != kNameEscape) return std::u32string(name);
  std::u32string member;
  for (size_t i = 1; i < name.size(); ++i) {
    // ⍙digits⍙ is one character; any other ⍙ stands for itself.
    const size_t close = name[i] == kNameEscape ? name.find(kNameEscape, i + 1) : std::u32string_view::npos;
    uint64_t code = 0;
    bool escape = close != std::u32string_view::npos && close > i + 1 && close - i <= 8;
    for (size_t k = i + 1; escape && k < close; ++k) {
      escape = name[k] >= U'0' && name[k] <= U'9';
      code = code * 10 + (name[k] - U'0');
    }
    if (!escape || code > 0x10FFFF) {
      member += name[i];
      continue;
    }
    member += static_cast<char32_t>(code);
    i = close;
  }
  return member;
}

// ---- Import ------------------------------------------------------------------------------------------

struct ImportOptions {
  Form form = Form::Namespaces;
  int32_t trueValue = 1;
  int32_t falseValue = 0;
};

ImportOptions ReadImportOptions(Ref left) {
  ImportOptions options;
  if (!left) return options;
  auto invalid = [] { SIGNAL_MESSAGE_IN(kDomainError, kCategoryGeneral, U"Invalid left argument"); };
  if (!IsRef(left) || KindOf(TypeWord(left)) != kKindSimple || IsCharacterType(ElementOf(TypeWord(left)))) invalid();
  if (RankOf(TypeWord(left)) > 1) SIGNAL_MESSAGE_IN(kRankError, kCategoryGeneral, U"Invalid left argument");
  if (ElementCount(left) > 3) SIGNAL_MESSAGE_IN(kLengthError, kCategoryGeneral, U"Invalid left argument");
  std::vector<int64_t> v;
  if (!ReadIntegers(left, v)) invalid();
  for (int64_t x : v)
    if (x < INT32_MIN || x > INT32_MAX) invalid();
  if (v.empty()) return options;
  if (v[0] < 0 || v[0] > 2 || (v[0] == 2 && v.size() > 1)) invalid();
  options.form = static_cast<Form>(v[0]);
  if (v.size() > 1) options.trueValue = static_cast<int32_t>(v[1]);
  if (v.size() > 2) options.falseValue = static_cast<int32_t>(v[2]);
  return options;
}

// The text to import: a vector or scalar as it is, a matrix row by row with a carriage return after
// every row.
std::u32string ImportText(Ref right) {
  if (!IsRef(right) || KindOf(TypeWord(right)) != kKindSimple || !IsCharacterType(ElementOf(TypeWord(right))))
    SIGNAL_MESSAGE_IN(kDomainError, kCategoryGeneral, U"Invalid right argument");
  const uint32_t rank = RankOf(TypeWord(right));
  if (rank > 2) SIGNAL_MESSAGE_IN(kRankError, kCategoryGeneral, U"Invalid right argument");
  if (rank < 2) return CharacterText(right);
  const uint32_t rows = ShapeOf(right)[0], columns = ShapeOf(right)[1];
  std::u32string text;
  text.reserve(static_cast<size_t>(rows) * (columns + 1));
  for (uint32_t r = 0; r < rows; ++r) text += CharacterText(right, static_cast<uint64_t>(r) * columns, columns) + U'\r';
  return text;
}

Ref MakeFloatScalar(double v) {
  Ref r = AllocScalar(kFloat64);
  *DataOf<double>(r) = v;
  return r;
}

// ⊂text, counted.
Ref EnclosedText(std::u32string_view text) {
  Temporaries hold;
  hold[0] = MakeText(text);
  Ref r = AllocArray(kRefElement, 0, 1);
  *DataOf<Ref>(r) = hold.Take(0);
  return r;
}

double ScalarNumber(Ref r) {
  switch (ElementOf(TypeWord(r))) {
    case kBool: return GetBit(DataOf<uint8_t>(r), 0);
    case kInt8: return *DataOf<int8_t>(r);
    case kInt16: return *DataOf<int16_t>(r);
    case kInt32: return *DataOf<int32_t>(r);
    default: return *DataOf<double>(r);
  }
}

// The text of 8-bit characters read where it lies in the workspace, which saves copying (and first
// touching the memory of) a copy as large as the document. The array is held while the import runs;
// an allocation may move it, so the importer calls Refresh after each one.
class WorkspaceBytes {
 public:
  explicit WorkspaceBytes(Ref text) : size_(ElementCount(text)) {
    hold_[0] = Retained(text);
    Refresh();
  }
  void Refresh() { data_ = DataOf<uint8_t>(hold_[0]); }
  size_t size() const { return size_; }
  char32_t operator[](size_t i) const { return data_[i]; }
  const uint8_t* data() const { return data_; }
  // The characters [from, to), which are ASCII.
  std::string_view Ascii(size_t from, size_t to, std::string&) const {
    return {reinterpret_cast<const char*>(data_) + from, to - from};
  }

 private:
  Temporaries hold_;
  const uint8_t* data_ = nullptr;
  size_t size_;
};

// Any other text, as a copy in code points.
class CodePointText {
 public:
  explicit CodePointText(std::u32string text) : text_(std::move(text)) {}
  void Refresh() {}
  size_t size() const { return text_.size(); }
  char32_t operator[](size_t i) const { return text_[i]; }
  const char32_t* data() const { return text_.data(); }
  std::string_view Ascii(size_t from, size_t to, std::string& scratch) const {
    scratch.assign(text_.begin() + static_cast<ptrdiff_t>(from), text_.begin() + static_cast<ptrdiff_t>(to));
    return scratch;
  }

 private:
  std::u32string text_;
};

// Bytes and characters that end a run of plain string characters: the quote, the backslash and the
// control characters.
constexpr std::array<bool, 256> kEndsStringRun = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = true;
  t['"'] = t['\\'] = true;
  return t;
}();
inline bool EndsStringRun(char32_t c) { return c < 256 && kEndsStringRun[c]; }

template <typename Text>
class Importer {
 public:
  template <typename Source>
  Importer(Source&& source, ImportOptions options) : text_(std::forward<Source>(source)), options_(options) {
    smallHold_.SetBuffer(smallIntegers_.data(), static_cast<uint32_t>(smallIntegers_.size()));
  }

  Ref Run() {
    ReadValue();
    for (;;) {
      if (frames_.empty()) {
        SkipBlanks();
        if (pos_ < text_.size()) JSON_SYNTAX_ERROR(U"End of input expected%ls", pos_);
        return options_.form == Form::Matrix ? MatrixResult() : Take(0);
      }
      const char32_t c = NextNonBlank();
      if (frames_.back().object) {
        if (c == U',') {
          ++pos_;
          ReadMemberName();
          ReadValue();
        } else if (c == U'}') {
          ++pos_;
          CloseObject();
        } else {
          JSON_SYNTAX_ERROR(U"Invalid object%ls", pos_);
        }
      } else {
        if (c == U',') {
          ++pos_;
          if (NextNonBlank() == U']') JSON_SYNTAX_ERROR(U"Invalid array%ls", pos_);
          ReadValue();
        } else if (c == U']') {
          ++pos_;
          CloseArray();
        } else {
          JSON_SYNTAX_ERROR(U"Invalid array%ls", pos_);
        }
      }
    }
  }

 private:
  // An open array or object. Its items (namespace form: the array's items, or the object's namespace)
  // start at values_[first]; in the matrix form every row's value is on the value stack.
  struct Frame {
    bool object;
    size_t first;
    uint64_t serial;  // tells the open containers apart for the scope of EnterObject
  };
  struct Row {
    uint32_t depth;
    std::u32string name;
    int32_t type;
  };

  void SkipBlanks() {
    while (pos_ < text_.size() && IsJsonBlank(text_[pos_])) ++pos_;
  }
  // The next character that is not white space; the end of the text here is an error.
  char32_t NextNonBlank() {
    SkipBlanks();
    if (pos_ == text_.size()) JSON_ERROR(kDomainError, U"Unexpected end of input");
    return text_[pos_];
  }

  // Every new value passes through here, which is where the text is found again after the
  // allocations that made the value.
  void Push(Ref counted) {
    values_.push_back(counted);
    hold_.SetBuffer(values_.data(), static_cast<uint32_t>(values_.size()));
    text_.Refresh();
  }
  // Takes values_[i] out of the stack's ownership.
  Ref Take(size_t i) {
    Ref r = values_[i];
    values_[i] = 0;
    return r;
  }
  void DropFrom(size_t first) {
    for (size_t i = first; i < values_.size(); ++i) Release(values_[i]);
    values_.resize(first);
    hold_.SetBuffer(values_.data(), static_cast<uint32_t>(values_.size()));
  }

  // Reads one value. A scalar is delivered at once; [ and { open a frame and go on to read its first
  // item (an empty one is closed at once), so that nesting never recurses.
  void ReadValue() {
    for (;;) {
      const char32_t c = NextNonBlank();
      switch (c) {
        case U'"': return DeliverString();
        case U'[':
          ++pos_;
          Open(false);
          if (NextNonBlank() != U']') continue;
          ++pos_;
          return CloseArray();
        case U'{':
          ++pos_;
          Open(true);
          if (NextNonBlank() != U'}') {
            ReadMemberName();
            continue;
          }
          ++pos_;
          return CloseObject();
        case U't': return DeliverLiteral(U"true");
        case U'f': return DeliverLiteral(U"false");
        case U'n': return DeliverLiteral(U"null");
        default:
          if (c == U'-' || (c >= U'0' && c <= U'9')) return ReadNumber();
          JSON_SYNTAX_ERROR(U"Invalid character%ls", pos_);
      }
    }
  }

  // The member being read in the innermost open object. The names are kept by depth and reused, so
  // that their buffers are allocated once.
  std::u32string& MemberBeingRead() { return names_[frames_.size() - 1]; }

  void ReadMemberName() {
    if (NextNonBlank() != U'"') JSON_SYNTAX_ERROR(U"Invalid object%ls", pos_);
    ReadString(MemberBeingRead());
    if (NextNonBlank() != U':') JSON_SYNTAX_ERROR(U"Invalid object%ls", pos_);
    ++pos_;
  }

  // ---- Scalars ----

  uint32_t HexDigits() {
    uint32_t unit = 0;
    for (int k = 0; k < 4; ++k, ++pos_) {
      if (pos_ == text_.size()) JSON_ERROR(kDomainError, U"Unexpected end of input");
      const char32_t h = text_[pos_];
      const int digit = h >= U'0' && h <= U'9' ? h - U'0' : h >= U'a' && h <= U'f' ? h - U'a' + 10
                                                           : h >= U'A' && h <= U'F' ? h - U'A' + 10 : -1;
      if (digit < 0) JSON_SYNTAX_ERROR(U"Invalid hexadecimal digit%ls", pos_);
      unit = unit << 4 | static_cast<uint32_t>(digit);
    }
    return unit;
  }

  // \uXXXX at pos_ (after the backslash and u), with the low half of a surrogate pair after it.
  char32_t UnicodeEscape() {
    const uint32_t unit = HexDigits();
    if (unit >= 0xDC00 && unit <= 0xDFFF) JSON_SYNTAX_ERROR(U"Invalid UTF-16 encoding%ls", pos_ - 4);
    if (unit < 0xD800 || unit > 0xDBFF) return unit;
    for (char32_t expected : {U'\\', U'u'}) {  // the low half follows as \uXXXX
      if (pos_ == text_.size()) JSON_ERROR(kDomainError, U"Unexpected end of input");
      if (text_[pos_] != expected) JSON_SYNTAX_ERROR(U"Invalid UTF-16 encoding%ls", pos_);
      ++pos_;
    }
    const uint32_t low = HexDigits();
    if (low < 0xDC00 || low > 0xDFFF) JSON_SYNTAX_ERROR(U"Invalid UTF-16 encoding%ls", pos_ - 4);
    return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }

  // The string whose opening quote is at pos_, escapes decoded, read into `s`.
  const std::u32string& ReadString(std::u32string& s) {
    s.clear();
    ++pos_;
    for (;;) {
      const size_t run = pos_;
      pos_ = PlainRunEnd(pos_);
      const size_t had = s.size();
      s.resize(had + (pos_ - run));  // an element at a time: append from a byte range would copy twice
      std::copy(text_.data() + run, text_.data() + pos_, s.begin() + static_cast<ptrdiff_t>(had));
      if (pos_ == text_.size()) JSON_ERROR(kDomainError, U"Unexpected end of input");
      const char32_t c = text_[pos_];
      if (c == U'"') {
        ++pos_;
        return s;
      }
      if (c < 0x20) JSON_SYNTAX_ERROR(U"Invalid string%ls", pos_);
      if (++pos_ == text_.size()) JSON_ERROR(kDomainError, U"Unexpected end of input");
      const char32_t e = text_[pos_++];
      switch (e) {
        case U'"': case U'\\': case U'/': s += e; break;
        case U'b': s += U'\b'; break;
        case U'f': s += U'\f'; break;
        case U'n': s += U'\n'; break;
        case U'r': s += U'\r'; break;
        case U't': s += U'\t'; break;
        case U'u': s += UnicodeEscape(); break;
        default: JSON_SYNTAX_ERROR(U"Invalid string%ls", pos_ - 1);
      }
    }
  }

  // The end of the run of characters from `from` that stand for themselves in a string.
  size_t PlainRunEnd(size_t from) const {
    const size_t size = text_.size();
    while (from < size && !EndsStringRun(text_[from])) ++from;
    return from;
  }

  size_t Digits() {
    const size_t from = pos_;
    while (pos_ < text_.size() && text_[pos_] >= U'0' && text_[pos_] <= U'9') ++pos_;
    return pos_ - from;
  }
  // At least one digit at pos_ (the end of the text here is an error, as is another character).
  void RequiredDigits() {
    if (pos_ == text_.size()) JSON_ERROR(kDomainError, U"Unexpected end of input");
    if (Digits() == 0) JSON_SYNTAX_ERROR(U"Invalid number%ls", pos_);
  }

  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, read through double-conversion; a whole number
  // that fits 32 bits is an integer.
  void ReadNumber() {
    const size_t start = pos_;
    if (text_[pos_] == U'-') ++pos_;
    if (pos_ < text_.size() && text_[pos_] == U'0') {
      ++pos_;
    } else {
      RequiredDigits();
    }
    bool whole = true;
    if (pos_ < text_.size() && text_[pos_] == U'.') {
      ++pos_;
      RequiredDigits();
      whole = false;
    }
    if (pos_ < text_.size() && (text_[pos_] == U'e' || text_[pos_] == U'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == U'+' || text_[pos_] == U'-')) ++pos_;
      RequiredDigits();
      whole = false;
    }
    const std::string_view ascii = text_.Ascii(start, pos_, number_);
    int64_t integer = 0;
    if (whole && std::from_chars(ascii.data(), ascii.data() + ascii.size(), integer).ec == std::errc() &&
        integer >= INT32_MIN && integer <= INT32_MAX)
      return Deliver(IntegerScalar(integer), kTypeNumber);
    const double v = AsciiToDouble(ascii);
    if (!std::isfinite(v)) JSON_SYNTAX_ERROR(U"Number out of range%ls", start);
    Deliver(MakeFloatScalar(v), kTypeNumber);
  }

  // An integer scalar (counted). The small ones, which a document repeats (counts, flags, true and
  // false), are made once and shared.
  Ref IntegerScalar(int64_t v) {
    if (v < 0 || v >= static_cast<int64_t>(smallIntegers_.size())) return MakeIntScalar(static_cast<int32_t>(v));
    Ref& shared = smallIntegers_[static_cast<size_t>(v)];
    if (!shared) shared = MakeIntScalar(static_cast<int32_t>(v));
    return Retained(shared);
  }

  // A string without escapes is made straight from the text; one with escapes is decoded first.
  void DeliverString() {
    const size_t start = pos_ + 1;
    const size_t end = PlainRunEnd(start);
    if (end == text_.size() || text_[end] != U'"') return Deliver(MakeText(ReadString(string_)), kTypeString);
    pos_ = end + 1;
    if constexpr (std::is_same_v<Text, CodePointText>) {
      Deliver(MakeText(std::u32string_view(text_.data() + start, end - start)), kTypeString);
    } else {
      if (end == start) return Deliver(MakeText(U""), kTypeString);
      Ref r = AllocVector(kChar8, static_cast<uint32_t>(end - start));
      text_.Refresh();
      std::memcpy(DataOf<uint8_t>(r), text_.data() + start, end - start);
      Deliver(r, kTypeString);
    }
  }

  void DeliverLiteral(std::u32string_view word) {
    for (char32_t expected : word) {
      if (pos_ == text_.size()) JSON_ERROR(kDomainError, U"Unexpected end of input");
      if (text_[pos_] != expected) JSON_SYNTAX_ERROR(U"Invalid character%ls", pos_);
      ++pos_;
    }
    if (options_.form == Form::NamespacesKeepingLiterals) return Deliver(EnclosedText(word), kTypeLiteral);
    if (word == U"null") return Deliver(NullItem(), kTypeLiteral);
    Deliver(IntegerScalar(word == U"true" ? options_.trueValue : options_.falseValue), kTypeLiteral);
  }

  // ---- Containers ----

  void Open(bool object) {
    if (options_.form == Form::Matrix) {
      AddRow(Retained(RootWordAt(kRootEmptyNumericVector)), object ? kTypeObject : kTypeArray);
    } else if (object) {
      Push(CreateNamespace(0));
      Words(values_.back())[kNsFlags] |= kNsJsonObject;
    }
    frames_.push_back({object, values_.size() - (object && options_.form != Form::Matrix ? 1 : 0), ++serials_});
    if (names_.size() < frames_.size()) names_.resize(frames_.size());
  }

  void CloseObject() {
    const size_t first = frames_.back().first;
    frames_.pop_back();
    if (options_.form == Form::Matrix) return;
    Ref ns = Take(first);
    DropFrom(first);
    Deliver(ns, kTypeObject);
  }

  void CloseArray() {
    const size_t first = frames_.back().first;
    frames_.pop_back();
    if (options_.form == Form::Matrix) return;
    const size_t count = values_.size() - first;
    Ref array;
    if (count == 0) {
      array = Retained(RootWordAt(kRootEmptyNumericVector));
    } else if (std::all_of(values_.begin() + static_cast<ptrdiff_t>(first), values_.end(), IsSimpleNumericScalar)) {
      array = NumberVector(first, count);
    } else {
      array = AllocArray(kRefElement, 1, count);
      for (size_t i = 0; i < count; ++i) DataOf<Ref>(array)[i] = Take(first + i);
    }
    DropFrom(first);
    Deliver(array, kTypeArray);
  }

  // The numbers on the stack from `first` as one simple vector, integers when they all are.
  Ref NumberVector(size_t first, size_t count) {
    bool integral = true;
    for (size_t i = 0; i < count; ++i) {
      const double v = ScalarNumber(values_[first + i]);
      integral = integral && v == std::trunc(v) && std::fabs(v) < 2147483648.0;
    }
    Ref r = AllocArray(integral ? kInt32 : kFloat64, 1, count);
    for (size_t i = 0; i < count; ++i) {
      const double v = ScalarNumber(values_[first + i]);
      if (integral) DataOf<int32_t>(r)[i] = static_cast<int32_t>(v);
      else DataOf<double>(r)[i] = v;
    }
    Narrow(r);
    return r;
  }

  // A finished value (counted): the result, an item of the open array, or a member of the open
  // object; in the matrix form, a row.
  void Deliver(Ref value, int32_t type) {
    if (options_.form == Form::Matrix) return AddRow(value, type);
    Push(value);
    if (frames_.empty() || !frames_.back().object) return;
    EnterObject(frames_.back());
    const std::u32string& name = MemberBeingRead();
    Ref entry = IsPlainName(name) ? LookupName(name, LookupMode::Create)
                                  : LookupName(MangledName(name), LookupMode::Create);
    const Ref member = values_.back();
    SetEntry(entry, IsNamespaceObject(member) ? kNameNamespace : kNameVariable, member);
    DropFrom(values_.size() - 1);
    text_.Refresh();
  }

  // Makes the object's namespace the one names are created in. The scope stays open while members
  // of the same object follow one another, and moves when another object's member comes.
  void EnterObject(const Frame& object) {
    if (scopeSerial_ == object.serial) return;
    scope_.reset();
    scope_.emplace(values_[object.first]);
    scopeSerial_ = object.serial;
  }

  // Whether a member name is an APL name that needs no escape; ASCII names by a table.
  static bool IsPlainName(const std::u32string& name) {
    static const std::array<uint8_t, 128> kAsciiName = [] {
      std::array<uint8_t, 128> t{};  // bit 0: may start a name, bit 1: may stand in one
      for (char32_t c = 0; c < 128; ++c) t[c] = (IsNameStart(c) ? 1 : 0) | (IsNameCharacter(c) ? 2 : 0);
      return t;
    }();
    if (name.empty() || name[0] == kNameEscape) return false;
    uint8_t need = 1;
    for (char32_t c : name) {
      if (c >= 128) return IsValidName(name);
      if (!(kAsciiName[c] & need)) return false;
      need = 2;
    }
    return true;
  }

  // ---- The matrix form ----

  void AddRow(Ref value, int32_t type) {
    Push(value);
    const bool member = !frames_.empty() && frames_.back().object;
    rows_.push_back({static_cast<uint32_t>(frames_.size()), member ? MemberBeingRead() : U"", type});
  }

  Ref MatrixResult() {
    Temporaries hold;
    hold[0] = AllocMatrix(kRefElement, static_cast<uint32_t>(rows_.size()), 4);
    for (size_t i = 0; i < rows_.size(); ++i) {
      Ref depth = MakeIntScalar(static_cast<int32_t>(rows_[i].depth));
      DataOf<Ref>(hold[0])[4 * i] = depth;
      Ref name = MakeText(rows_[i].name);
      DataOf<Ref>(hold[0])[4 * i + 1] = name;
      DataOf<Ref>(hold[0])[4 * i + 2] = Take(i);
      Ref type = MakeIntScalar(rows_[i].type);
      DataOf<Ref>(hold[0])[4 * i + 3] = type;
    }
    return hold.Take(0);
  }

  Text text_;
  std::u32string string_;  // the string being read, kept to save an allocation per string
  std::string number_;     // a number's text when the text is not bytes
  ImportOptions options_;
  size_t pos_ = 0;
  std::vector<Frame> frames_;
  std::vector<std::u32string> names_;  // by depth: the member being read in each open object
  std::vector<Row> rows_;
  std::vector<Ref> values_;
  Temporaries hold_;  // values_ as its buffer
  std::array<Ref, 1024> smallIntegers_{};
  Temporaries smallHold_;  // smallIntegers_ as its buffer
  uint64_t serials_ = 0;
  uint64_t scopeSerial_ = 0;  // the object whose namespace scope_ has entered, 0 for none
  std::optional<SpaceScope> scope_;
};

// ---- Export ------------------------------------------------------------------------------------------

// The exported text as it grows: one byte per character while every character is below 256, as in
// most JSON, and code points from the first wider one.
class TextOut {
 public:
  TextOut& operator+=(char32_t c) {
    if (!wide_ && c < 256) {
      narrow_.push_back(static_cast<char>(c));
    } else {
      Widen();
      codePoints_.push_back(c);
    }
    return *this;
  }
  TextOut& operator+=(std::u32string_view text) {
    for (char32_t c : text) *this += c;
    return *this;
  }
  void append(size_t count, char32_t c) {
    for (size_t i = 0; i < count; ++i) *this += c;
  }
  void append(std::string_view ascii) {
    for (char c : ascii) *this += static_cast<char32_t>(c);
  }
  size_t size() const { return wide_ ? codePoints_.size() : narrow_.size(); }

  // The text as a character vector (counted).
  Ref MakeText() const {
    if (wide_ || narrow_.empty()) return vantor::MakeText(codePoints_);
    Ref r = AllocVector(kChar8, static_cast<uint32_t>(narrow_.size()));
    std::memcpy(DataOf<char>(r), narrow_.data(), narrow_.size());
    return r;
  }

 private:
  void Widen() {
    if (wide_) return;
    wide_ = true;
    codePoints_.reserve(narrow_.size() * 2);
    for (char b : narrow_) codePoints_.push_back(static_cast<unsigned char>(b));
    std::string().swap(narrow_);
  }

  bool wide_ = false;
  std::string narrow_;
  std::u32string codePoints_;
};

[[noreturn]] void Unsupported() { JSON_ERROR(kDomainError, U"Array unsupported by JSON"); }

void WriteString(TextOut& out, std::u32string_view s) {
  static constexpr char32_t kHex[] = U"0123456789abcdef";
  out += U'"';
  for (char32_t c : s) {
    switch (c) {
      case U'"': out += U"\\\""; break;
      case U'\\': out += U"\\\\"; break;
      case U'\b': out += U"\\b"; break;
      case U'\f': out += U"\\f"; break;
      case U'\n': out += U"\\n"; break;
      case U'\r': out += U"\\r"; break;
      case U'\t': out += U"\\t"; break;
      default:
        if (c < 0x20) {
          out += U"\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += c;
        }
    }
  }
  out += U'"';
}

void WriteAscii(TextOut& out, const char* text) {
  for (; *text; ++text) out += static_cast<char32_t>(*text);
}
void WriteNumber(TextOut& out, int64_t v) { WriteAscii(out, std::to_string(v).c_str()); }
// printf's "%.16g": the double rounded to 16 significant digits (trailing zeros dropped), in fixed
// point for decimal exponents from ¯4 to 15, else one digit, the others after the point, and e±dd.
// The 16 digits come from 17 correctly rounded ones; when the 17th is 5 the value may lie exactly
// half way, where printf rounds to even, so printf itself writes it.
void WriteNumber(TextOut& out, double v) {
  using double_conversion::DoubleToStringConverter;
  char buffer[24];
  bool negative = false;
  int length = 0, exponent = 0;  // value = 0.digits × 10^exponent
  DoubleToStringConverter::DoubleToAscii(v, DoubleToStringConverter::PRECISION, 17, buffer, sizeof buffer, &negative,
                                         &length, &exponent);
  if (length == 17) {
    if (buffer[16] == '5') {
      std::snprintf(buffer, sizeof buffer, "%.16g", v);
      return WriteAscii(out, buffer);
    }
    length = 16;
    if (buffer[16] > '5') {  // round up, the carry running through nines
      int i = 15;
      for (; i >= 0 && buffer[i] == '9'; --i) buffer[i] = '0';
      if (i >= 0) {
        ++buffer[i];
      } else {
        buffer[0] = '1';
        ++exponent;
      }
    }
  }
  while (length > 1 && buffer[length - 1] == '0') --length;
  const std::string_view digits(buffer, static_cast<size_t>(length));
  const int count = length;
  if (negative) out += U'-';
  auto put = [&](std::string_view text) { out.append(text); };
  if (exponent - 1 >= -4 && exponent - 1 < 16) {
    if (exponent <= 0) {
      out += U"0.";
      out.append(static_cast<size_t>(-exponent), U'0');
      put(digits);
    } else if (exponent >= count) {
      put(digits);
      out.append(static_cast<size_t>(exponent - count), U'0');
    } else {
      put(digits.substr(0, static_cast<size_t>(exponent)));
      out += U'.';
      put(digits.substr(static_cast<size_t>(exponent)));
    }
    return;
  }
  put(digits.substr(0, 1));
  if (count > 1) {
    out += U'.';
    put(digits.substr(1));
  }
  const int power = exponent - 1;
  out += power < 0 ? U"e-" : U"e+";
  if (std::abs(power) < 10) out += U'0';
  WriteNumber(out, static_cast<int64_t>(std::abs(power)));
}
void WriteNumber(TextOut& out, std::complex<double> v) {
  if (v.imag() != 0) Unsupported();
  WriteNumber(out, v.real());
}
// A decimal number as the nearest double, or, beyond the range of doubles (1E400, 1E¯400), its own
// digits, which JSON can still write.
void WriteNumber(TextOut& out, BID_UINT128 v) {
  unsigned int flags = 0;
  const double d = bid128_to_binary64(v, BID_ROUNDING_TO_NEAREST, &flags);
  if (std::isfinite(d) && (d != 0 || bid128_isZero(v))) return WriteNumber(out, d);
  for (char32_t c : CanonicalDecimalText(reinterpret_cast<const uint8_t*>(&v))) out += c == U'¯' ? U'-' : c;
}

// The literal that ⊂'true', ⊂'false' or ⊂'null' stands for, or empty.
std::u32string_view LiteralOf(Ref item) {
  if (!IsRef(item) || KindOf(TypeWord(item)) != kKindSimple || !IsCharacterType(ElementOf(TypeWord(item))) ||
      RankOf(TypeWord(item)) != 1)
    return {};
  const std::u32string text = CharacterText(item);
  for (std::u32string_view literal : {U"true", U"false", U"null"})
    if (text == literal) return literal;
  return {};
}

class Exporter {
 public:
  TextOut Run(Ref top) {
    Value(top);
    while (!frames_.empty()) {
      Frame& f = frames_.back();
      if (f.ns) {
        f.entry = f.started ? NextEntry(f.entry) : f.entry;
        while (f.entry != f.header && !Exported(f.entry)) f.entry = NextEntry(f.entry);
        if (f.entry == f.header) {
          out_ += U'}';
          open_.erase(f.ns);
          frames_.pop_back();
          continue;
        }
        if (f.started) out_ += U',';
        f.started = true;
        WriteString(out_, MemberName(EntryName(f.entry)));
        out_ += U':';
        Value(EntryValue(f.entry));
      } else {
        if (f.next == f.count) {
          out_ += U']';
          frames_.pop_back();
          continue;
        }
        if (f.next > 0) out_ += U',';
        Value(DataOf<Ref>(f.array)[f.next++]);
      }
    }
    return std::move(out_);
  }

 private:
  struct Frame {
    Ref ns = 0;  // an object: the namespace, its tree's header and the entry reached
    Ref header = 0;
    Ref entry = 0;
    bool started = false;
    Ref array = 0;  // an array: the nested vector and the next item
    uint64_t next = 0;
    uint64_t count = 0;
  };

  static bool Exported(Ref entry) {
    const uint32_t cls = EntryClass(entry);
    return cls == kNameVariable || cls == kNameNamespace;
  }

  // Writes a value, or opens the frame of an array or object whose items follow.
  void Value(Ref v) {
    while (IsArray(v) && KindOf(TypeWord(v)) == kKindNested && RankOf(TypeWord(v)) == 0) {  // ⊂x: x
      const Ref item = *DataOf<Ref>(v);
      if (const std::u32string_view literal = LiteralOf(item); !literal.empty()) {
        out_ += literal;
        return;
      }
      v = item;
    }
    if (IsNullItem(v)) {
      out_ += U"null";
      return;
    }
    if (Ref ns = NamespaceOf(v); IsRef(ns)) return OpenObject(ns);
    if (!IsArray(v)) Unsupported();
    const uint32_t type = TypeWord(v);
    const uint32_t rank = RankOf(type);
    if (KindOf(type) == kKindNested) {
      if (rank > 1) Unsupported();
      frames_.push_back({.array = v, .count = ElementCount(v)});
      out_ += U'[';
      return;
    }
    if (rank > 1) Unsupported();
    if (IsCharacterType(ElementOf(type))) return WriteString(out_, CharacterText(v));
    if (rank == 1) out_ += U'[';
    WithReader(v, [&](auto r) {
      if constexpr (!decltype(r)::kCharacter) {
        for (uint64_t i = 0, n = ElementCount(v); i < n; ++i) {
          if (i > 0) out_ += U',';
          WriteNumber(out_, r(i));
        }
      }
      return true;
    });
    if (rank == 1) out_ += U']';
  }

  void OpenObject(Ref ns) {
    if (!open_.insert(ns).second) JSON_ERROR(kDomainError, U"Circular namespace reference");
    const Ref header = NamespaceTree(ns);
    const Ref root = Words(header)[kEntryLeft];
    frames_.push_back({.ns = ns, .header = header, .entry = IsRef(root) ? LeftmostEntry(root) : header});
    out_ += U'{';
  }

  TextOut out_;
  std::vector<Frame> frames_;
  std::unordered_set<Ref> open_;  // the namespaces being written, to find one inside itself
};

// ---- Export of the matrix form ---------------------------------------------------------------------

class MatrixExporter {
 public:
  explicit MatrixExporter(Ref matrix) : matrix_(matrix) {}

  TextOut Run() {
    if (KindOf(TypeWord(matrix_)) != kKindNested || ShapeOf(matrix_)[1] != 4 || ShapeOf(matrix_)[0] == 0)
      JSON_ERROR(kDomainError, U"Invalid matrix or sub-matrix%ls", U"");
    const uint32_t rows = ShapeOf(matrix_)[0];
    for (row_ = 1; row_ <= rows; ++row_) Row(DataOf<Ref>(matrix_) + 4 * (row_ - 1));
    while (!open_.empty()) Close();
    return std::move(out_);
  }

 private:
  std::u32string Where() const { return U" in row " + Decimal(row_) + U" at depth " + Decimal(depth_); }

  // The whole number held in a simple numeric scalar or one-element vector.
  static std::optional<int64_t> IntegerIn(Ref r) {
    std::vector<int64_t> n;
    if (!IsRef(r) || KindOf(TypeWord(r)) != kKindSimple || RankOf(TypeWord(r)) > 1 || !ReadIntegers(r, n) ||
        n.size() != 1)
      return std::nullopt;
    return n[0];
  }

  void Close() {
    out_ += open_.back() == kTypeObject ? U'}' : U']';
    open_.pop_back();
    started_.pop_back();
  }

  void Row(const Ref* row) {
    const std::optional<int64_t> depth = IntegerIn(row[0]);
    if (!depth || *depth < 0) JSON_ERROR(kDomainError, U"Level must be a non-negative integer%ls", Where());
    const uint64_t previous = depth_;
    depth_ = static_cast<uint64_t>(*depth);
    if (row_ == 1 && depth_ != 0) JSON_ERROR(kDomainError, U"Level 0 expected%ls", Where());
    if (row_ > 1 && depth_ == 0) JSON_ERROR(kDomainError, U"Non-zero level expected%ls", Where());
    if (row_ > 1 && depth_ > previous + 1)
      JSON_ERROR(kDomainError, U"Level increment must be no greater than 1%ls", Where());
    if (row_ > 1 && depth_ > open_.size()) JSON_ERROR(kDomainError, U"Invalid level increment%ls", Where());
    while (open_.size() > depth_) Close();

    const bool member = !open_.empty() && open_.back() == kTypeObject;
    if (!open_.empty()) {
      if (started_.back()) out_ += U',';
      started_.back() = true;
    }
    const Ref name = row[1];
    const bool isText = IsRef(name) && KindOf(TypeWord(name)) == kKindSimple &&
                        IsCharacterType(ElementOf(TypeWord(name))) && RankOf(TypeWord(name)) <= 1;
    if (member) {
      if (!isText) JSON_ERROR(kDomainError, U"Name must be a character vector or scalar%ls", Where());
      WriteString(out_, CharacterText(name));
      out_ += U':';
    } else if (!IsArray(name) || ElementCount(name) != 0) {
      JSON_ERROR(kDomainError, U"Name not expected%ls", Where());
    }

    const std::optional<int64_t> type = IntegerIn(row[3]);
    if (!type) JSON_ERROR(kDomainError, U"Type must be an integer%ls", Where());
    if (*type < kTypeObject || *type > kTypeLiteral) JSON_ERROR(kDomainError, U"Invalid type%ls", Where());
    WriteValue(row[2], static_cast<int32_t>(*type));
  }

  void WriteValue(Ref value, int32_t type) {
    auto mismatch = [this] { JSON_ERROR(kDomainError, U"Value does not match the specified type%ls", Where()); };
    const bool simple = IsRef(value) && KindOf(TypeWord(value)) == kKindSimple;
    const bool character = simple && IsCharacterType(ElementOf(TypeWord(value)));
    switch (type) {
      case kTypeObject:
      case kTypeArray:
        if (!IsArray(value) || ElementCount(value) != 0) mismatch();
        out_ += type == kTypeObject ? U'{' : U'[';
        open_.push_back(type);
        started_.push_back(false);
        return;
      case kTypeNumber:
        if (!simple || character || ElementCount(value) != 1 || RankOf(TypeWord(value)) > 1) mismatch();
        WithReader(value, [&](auto r) {
          if constexpr (!decltype(r)::kCharacter) WriteNumber(out_, r(0));
          return true;
        });
        return;
      case kTypeString:
        if (!character || RankOf(TypeWord(value)) > 1) mismatch();
        return WriteString(out_, CharacterText(value));
      default: {
        std::u32string_view literal = IsNullItem(value) ? U"null" : character ? LiteralOf(value) : U"";
        if (literal.empty() && KindOf(TypeWord(value)) == kKindNested && RankOf(TypeWord(value)) == 0)
          literal = LiteralOf(*DataOf<Ref>(value));
        const std::optional<int64_t> n = literal.empty() ? IntegerIn(value) : std::nullopt;
        if (n == 1) literal = U"true";
        if (n == 0) literal = U"false";
        if (literal.empty()) mismatch();
        out_ += literal;
      }
    }
  }

  Ref matrix_;
  uint64_t row_ = 0;
  uint64_t depth_ = 0;
  std::vector<int32_t> open_;  // the types of the open containers, outermost first
  std::vector<bool> started_;  // whether each has an item yet
  TextOut out_;
};

}  // namespace

// The I-beam services see hashed arrays as they are; both read the plain array (neither allocates
// before it has copied what it needs).
CallResult JsonImport(const Ref& left, const Ref& right) {
  const ImportOptions options = ReadImportOptions(PlainArray(left));
  const Ref text = PlainArray(right);
  // The objects form a tree of new namespaces, which the cycle collector need not look at.
  CycleNotesPaused paused;
  if (IsRef(text) && KindOf(TypeWord(text)) == kKindSimple && ElementOf(TypeWord(text)) == kChar8 &&
      RankOf(TypeWord(text)) < 2) {
    return {Importer<WorkspaceBytes>(text, options).Run()};
  }
  return {Importer<CodePointText>(ImportText(text), options).Run()};
}

CallResult JsonExport(const Ref& left, const Ref& right) {
  if (left) SIGNAL_MESSAGE_IN(kDomainError, kCategoryGeneral, U"Invalid left argument");
  TextOut text;
  try {
    const Ref value = PlainArray(right);
    text = IsArray(value) && RankOf(TypeWord(value)) == 2 ? MatrixExporter(value).Run() : Exporter().Run(value);
  } catch (const std::bad_alloc&) {
    JSON_ERROR(kLimitError, U"Output failure");
  }
  if (text.size() > 0x7FFFFFFF) JSON_ERROR(kLimitError, U"Output failure");
  return {text.MakeText()};
}

}  // namespace vantor
