// XML conversion behind ⎕XML. Import checks every character once, then scans the text in one pass:
// names, text and attribute values are appended to one character pool and rows refer to it by
// offset, so the scan allocates nothing per character; the rows become APL arrays only at the end.
// Export measures nothing in advance: it writes into a C++ buffer and makes the narrowest character
// vector of it when every row has been checked.
#include "sysfns/xml.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "format/disp1.h"
#include "format/disp2.h"
#include "language/dmx.h"
#include "base/messages.h"
#include "language/space.h"
#include "base/errors.h"
#include "primitives/key.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "xml";

#define XML_ERROR(text, where) SIGNAL_MESSAGE_IN(kDomainError, kCategoryXml, text, where)

namespace {

enum class Whitespace : uint8_t { Strip, Trim, Preserve };

struct Options {
  Whitespace whitespace = Whitespace::Strip;
  bool keepMarkup = false;
  bool keepUnknownEntities = false;
};

enum RowType : int32_t {
  kTypeElement = 1,
  kTypeHasElements = 2,
  kTypeText = 4,
  kTypeMarkup = 8,
  kTypeComment = 16,
  kTypeProcessing = 32,
};

constexpr char32_t kEscape = 27;

// ---- Characters ------------------------------------------------------------------------------------

bool IsValidXmlCharacter(char32_t c, bool escapeAllowed) {
  if (c >= 0x20) return c < 0xD800 || (c >= 0xE000 && c <= 0x10FFFF && c != 0xFFFE && c != 0xFFFF);
  return c == 9 || c == 10 || c == 13 || (c == kEscape && escapeAllowed);
}

bool IsNameStart(char32_t c) {
  if (c < 0x80) return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || c == U'_' || c == U':';
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameCharacter(char32_t c) {
  return IsNameStart(c) || c == U'-' || c == U'.' || (c >= U'0' && c <= U'9') || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

bool IsXmlName(std::u32string_view s) {
  if (s.empty() || !IsNameStart(s[0])) return false;
  for (char32_t c : s.substr(1))
    if (!IsNameCharacter(c)) return false;
  return true;
}

std::u32string Decimal(int64_t n) { return std::u32string(IntegerText(n).View()); }

// ---- Options -----------------------------------------------------------------------------------------

bool IsSimpleText(Ref r) {
  return IsRef(r) && IsSimpleCharacterArray(r) && RankOf(TypeWord(r)) <= 1;
}

// The words of the options, as the left argument spells them and as ⍠ does.
struct OptionWords {
  std::u32string_view whitespace, markup, unknownEntity;
  std::u32string_view values[4];  // preserve, strip, trim, replace
};
constexpr OptionWords kLeftArgumentWords = {U"whitespace", U"markup", U"unknown-entity",
                                            {U"preserve", U"strip", U"trim", U"replace"}};
constexpr OptionWords kVariantWords = {U"Whitespace", U"Markup", U"UnknownEntity",
                                       {U"Preserve", U"Strip", U"Trim", U"Replace"}};
enum ValueWord { kPreserve, kStrip, kTrim, kReplace, kNoValueWord };

void ApplyOption(Options& options, Ref nameRef, Ref valueRef, const OptionWords& words) {
  if (!IsSimpleText(nameRef) || !IsSimpleText(valueRef)) XML_ERROR(U"Invalid left argument%ls", U"");
  const std::u32string name = CharacterText(nameRef), valueText = CharacterText(valueRef);
  int value = kPreserve;
  while (value < kNoValueWord && words.values[value] != valueText) ++value;
  if (name == words.whitespace) {
    if (value == kReplace || value == kNoValueWord) XML_ERROR(U"Invalid option value%ls", U"");
    options.whitespace = value == kStrip ? Whitespace::Strip : value == kTrim ? Whitespace::Trim : Whitespace::Preserve;
  } else if (name == words.markup) {
    if (value != kStrip && value != kPreserve) XML_ERROR(U"Invalid option value%ls", U"");
    options.keepMarkup = value == kPreserve;
  } else if (name == words.unknownEntity) {
    if (value != kReplace && value != kPreserve) XML_ERROR(U"Invalid option value%ls", U"");
    options.keepUnknownEntities = value == kPreserve;
  } else {
    XML_ERROR(U"Invalid option name%ls", U"");
  }
}

bool IsPair(Ref r) {
  return IsRef(r) && KindOf(TypeWord(r)) == kKindNested && RankOf(TypeWord(r)) == 1 && ElementCount(r) == 2;
}

// One (name value) pair, or a vector of such pairs, applied to `options`.
void ReadOptions(Ref given, const OptionWords& words, Options& options) {
  if (!given) return;
  given = PlainArray(given);
  if (!IsArray(given) || RankOf(TypeWord(given)) > 1) XML_ERROR(U"Invalid left argument%ls", U"");
  const uint64_t count = ElementCount(given);
  if (count == 0) return;
  if (KindOf(TypeWord(given)) != kKindNested) XML_ERROR(U"Invalid left argument%ls", U"");
  const Ref first = DataOf<Ref>(given)[0];
  if (IsRef(first) && KindOf(TypeWord(first)) == kKindSimple) {
    if (count != 2) XML_ERROR(U"Invalid left argument%ls", U"");
    return ApplyOption(options, first, DataOf<Ref>(given)[1], words);
  }
  for (uint64_t i = 0; i < count; ++i) {
    const Ref pair = DataOf<Ref>(given)[i];
    if (!IsPair(pair)) XML_ERROR(U"Invalid left argument%ls", U"");
    ApplyOption(options, DataOf<Ref>(pair)[0], DataOf<Ref>(pair)[1], words);
  }
}

// ---- Import ------------------------------------------------------------------------------------------

// A stretch of the character pool.
struct Span {
  size_t offset = 0;
  size_t length = 0;
};

struct Row {
  uint32_t level;
  int32_t type;
  Span tag;
  Span content;
  size_t firstAttribute;
  size_t attributeCount;
};

struct Attribute {
  Span name;
  Span value;
};

struct OpenElement {
  Span name;
  size_t row;
  Whitespace whitespace;
};

class Importer {
 public:
  Importer(std::u32string text, Options options)
      : text_(std::move(text)), options_(options), lineEnd_(AvCharacter(3)) {
    end_ = 0;
    while (end_ < text_.size() && IsValidXmlCharacter(text_[end_], options_.keepUnknownEntities)) ++end_;
  }

  Ref Run() {
    for (;;) {
      if (open_.empty()) {
        while (pos_ < end_ && IsBlank(text_[pos_])) ++pos_;
        if (pos_ == end_) break;
        if (text_[pos_] != U'<') XML_ERROR(U"Orphaned data%ls", At(pos_));
      } else {
        ReadText();
        if (pos_ == end_) break;
      }
      ReadMarkupOrTag();
    }
    if (end_ < text_.size()) InvalidCharacter();
    if (!open_.empty()) XML_ERROR(U"Tag imbalance%ls", AtEnd());
    return Result();
  }

 private:
  // ---- Positions and errors ----

  // Where the character at `p` was read: its count from 1, its line and column.
  std::u32string At(size_t p) const { return Location(p + 1); }
  std::u32string AtEnd() const { return U" at end of text"; }
  std::u32string Location(size_t read) const {
    if (read == 0) return U" at start of text";
    uint64_t line = 1;
    size_t lineStart = 0;
    for (size_t i = 0; i < read; ++i) {
      const char32_t c = text_[i];
      if (c == U'\n' || (c == U'\r' && !(i + 1 < read && text_[i + 1] == U'\n'))) {
        ++line;
        lineStart = i + 1;
      }
    }
    return U" at character " + Decimal(static_cast<int64_t>(read)) + U" (line " + Decimal(static_cast<int64_t>(line)) +
           U", column " + Decimal(static_cast<int64_t>(read - lineStart)) + U")";
  }
  [[noreturn]] void InvalidCharacter() const { XML_ERROR(U"Invalid character%ls", Location(end_)); }
  // The end of the valid characters: an invalid character there, else the end of the text.
  void CheckEnd() const {
    if (end_ < text_.size()) InvalidCharacter();
  }
  // Where the character at pos_ was read, or the end of the text.
  std::u32string Here() const {
    if (pos_ < end_) return At(pos_);
    CheckEnd();
    return AtEnd();
  }

  bool IsBlank(char32_t c) const { return c == U' ' || c == 9 || c == 10 || c == 13 || c == lineEnd_; }
  bool StartsWith(size_t p, std::u32string_view s) const {
    return end_ - p >= s.size() && std::u32string_view(text_).substr(p, s.size()) == s;
  }
  void SkipBlanks() {
    while (pos_ < end_ && IsBlank(text_[pos_])) ++pos_;
  }

  // Moves past the name at pos_ (none when no name starts there).
  void SkipName() {
    if (pos_ < end_ && IsNameStart(text_[pos_])) {
      ++pos_;
      while (pos_ < end_ && IsNameCharacter(text_[pos_])) ++pos_;
    }
  }
  // The name at pos_, appended to the pool (empty when none starts there).
  Span ReadName() {
    const size_t from = pos_;
    SkipName();
    return Append(std::u32string_view(text_).substr(from, pos_ - from));
  }
  Span Append(std::u32string_view s) {
    const Span span{pool_.size(), s.size()};
    pool_.append(s);
    return span;
  }
  std::u32string_view View(Span s) const { return std::u32string_view(pool_).substr(s.offset, s.length); }

  // ---- Text ----

  // Text up to the next < (or the end), with references replaced and line ends made the line-end
  // character, collected in pending_ until a tag or a kept markup row ends it.
  void ReadText() {
    const char32_t* t = text_.data();
    while (pos_ < end_) {
      const size_t run = pos_;
      while (pos_ < end_) {
        const char32_t c = t[pos_];
        if (c == U'<' || c == U'&' || c == U']' || c == U'\r' || c == U'\n' || c == lineEnd_) break;
        ++pos_;
      }
      pending_.append(t + run, pos_ - run);
      if (pos_ == end_) return;
      const char32_t c = t[pos_];
      if (c == U'<') return;
      if (c == U'&') {
        ReadReference(pending_);
      } else if (c == U']') {
        if (StartsWith(pos_, U"]]>")) XML_ERROR(U"Invalid ']]>'%ls", At(pos_ + 2));
        pending_ += c;
        ++pos_;
      } else {
        // CR LF, LF, CR, and the line-end character followed by LF are each one line end.
        ++pos_;
        if ((c == U'\r' || c == lineEnd_) && pos_ < end_ && t[pos_] == U'\n') ++pos_;
        pending_ += lineEnd_;
      }
    }
  }

  // A reference at pos_ (on &): its character, or for an unknown entity ? or the reference kept.
  void ReadReference(std::u32string& out) {
    const size_t amp = pos_++;
    if (pos_ < end_ && text_[pos_] == U'#') return ReadCharacterReference(out, amp);
    const size_t from = pos_;
    SkipName();
    if (pos_ == end_) {
      CheckEnd();
      XML_ERROR(U"Invalid entity reference%ls", AtEnd());
    }
    if (pos_ == from || text_[pos_] != U';') XML_ERROR(U"Invalid entity reference%ls", At(pos_));
    const std::u32string_view name = std::u32string_view(text_).substr(from, pos_ - from);
    ++pos_;
    static constexpr struct {
      std::u32string_view name;
      char32_t c;
    } kPredefined[] = {{U"quot", U'"'}, {U"amp", U'&'}, {U"apos", U'\''}, {U"lt", U'<'}, {U"gt", U'>'}};
    for (const auto& entity : kPredefined)
      if (entity.name == name) return void(out += entity.c);
    if (!options_.keepUnknownEntities) return void(out += U'?');
    out += kEscape;
    out.append(std::u32string_view(text_).substr(amp + 1, pos_ - amp - 1));
  }

  void ReadCharacterReference(std::u32string& out, size_t amp) {
    ++pos_;
    const bool hex = pos_ < end_ && text_[pos_] == U'x';
    if (hex) ++pos_;
    const uint32_t base = hex ? 16 : 10;
    uint64_t value = 0;
    size_t digits = 0;
    for (;; ++pos_) {
      if (pos_ == end_) {
        CheckEnd();
        XML_ERROR(U"Unterminated character reference%ls", AtEnd());
      }
      const char32_t c = text_[pos_];
      if (c == U';') break;
      const int digit = c >= U'0' && c <= U'9' ? static_cast<int>(c - U'0')
                        : (c | 0x20) >= U'a' && (c | 0x20) <= U'z' ? static_cast<int>((c | 0x20) - U'a' + 10)
                                                                   : -1;
      if (digit < 0) XML_ERROR(U"Unterminated character reference%ls", At(pos_));
      if (static_cast<uint32_t>(digit) >= base) XML_ERROR(U"Invalid character reference%ls", At(pos_));
      value = value * base + static_cast<uint32_t>(digit);
      if (value > UINT32_MAX) XML_ERROR(U"Unterminated character reference%ls", At(pos_));
      ++digits;
    }
    if (digits == 0) XML_ERROR(U"Unterminated character reference%ls", At(pos_));
    ++pos_;
    if (!IsValidXmlCharacter(static_cast<char32_t>(value), false))
      XML_ERROR(U"Invalid character from character reference%ls", At(amp));
    out += static_cast<char32_t>(value);
  }

  // The text collected so far, white space treated by the mode in force, as a row or as the
  // enclosing element's content.
  void FlushText() {
    if (pending_.empty()) return;
    const Whitespace mode = open_.back().whitespace;
    const Span text = AppendTreated(pending_, mode);
    pending_.clear();
    if (text.length == 0) return;
    OpenElement& element = open_.back();
    Row& row = rows_[element.row];
    row.type |= kTypeText;
    if (element.row == rows_.size() - 1 && row.content.length == 0) {
      row.content = text;
      return;
    }
    rows_.push_back({static_cast<uint32_t>(open_.size()), kTypeText, {}, text, 0, 0});
  }

  Span AppendTreated(std::u32string_view s, Whitespace mode) {
    if (mode == Whitespace::Preserve) return Append(s);
    size_t first = 0, last = s.size();
    while (first < last && IsBlank(s[first])) ++first;
    while (last > first && IsBlank(s[last - 1])) --last;
    s = s.substr(first, last - first);
    if (mode == Whitespace::Trim) return Append(s);
    const Span span{pool_.size(), 0};
    for (size_t i = 0; i < s.size(); ++i) {
      if (!IsBlank(s[i])) {
        pool_ += s[i];
      } else if (!IsBlank(s[i - 1])) {
        pool_ += U' ';
      }
    }
    return {span.offset, pool_.size() - span.offset};
  }

  // Before a child row: text that the element holds in its own row becomes a text row.
  void PrepareChildRow(int32_t bit) {
    if (open_.empty()) return;
    const OpenElement& element = open_.back();
    Row& row = rows_[element.row];
    row.type |= bit;
    if (element.row != rows_.size() - 1 || row.content.length == 0) return;
    const Span content = row.content;
    row.content = {};
    rows_.push_back({static_cast<uint32_t>(open_.size()), kTypeText, {}, content, 0, 0});
  }

  // ---- Tags and markup ----

  void ReadMarkupOrTag() {
    const size_t lt = pos_;
    if (StartsWith(pos_, U"<!--")) return ReadComment(lt);
    if (StartsWith(pos_, U"<![CDATA[")) return ReadCharacterData(lt);
    if (StartsWith(pos_, U"<!")) return ReadOtherMarkup(lt, kTypeMarkup);
    if (StartsWith(pos_, U"<?")) return ReadOtherMarkup(lt, kTypeProcessing);
    if (!open_.empty()) FlushText();
    if (StartsWith(pos_, U"</")) return ReadEndTag();
    ReadStartTag();
  }

  // A markup row of its text between < and >, when markup is kept.
  void AddMarkupRow(size_t lt, size_t gt, int32_t type) {
    if (!options_.keepMarkup) return;
    if (!open_.empty()) FlushText();
    PrepareChildRow(type);
    const Span tag = Append(std::u32string_view(text_).substr(lt + 1, gt - lt - 1));
    rows_.push_back({static_cast<uint32_t>(open_.size()), type, tag, {}, 0, 0});
  }

  void ReadComment(size_t lt) {
    pos_ += 4;
    for (;; ++pos_) {
      if (end_ - pos_ < 3) {
        pos_ = end_;
        CheckEnd();
        XML_ERROR(U"Unterminated comment%ls", AtEnd());
      }
      if (text_[pos_] != U'-' || text_[pos_ + 1] != U'-') continue;
      if (text_[pos_ + 2] != U'>') XML_ERROR(U"Invalid '--' in comment%ls", At(pos_ + 1));
      break;
    }
    pos_ += 3;
    AddMarkupRow(lt, pos_ - 1, kTypeComment);
  }

  void ReadCharacterData(size_t lt) {
    if (open_.empty()) XML_ERROR(U"Orphaned data%ls", At(lt));
    const size_t from = lt + 9;
    const size_t close = text_.find(U"]]>", from);
    if (close == std::u32string::npos || close + 3 > end_) {
      pos_ = end_;
      CheckEnd();
      XML_ERROR(U"Unterminated <![CDATA[%ls", AtEnd());
    }
    pending_.append(std::u32string_view(text_).substr(from, close - from));
    pos_ = close + 3;
  }

  // <!...> or <?...?>: up to the > that closes the <, counting nested < > pairs outside quotes.
  void ReadOtherMarkup(size_t lt, int32_t type) {
    pos_ += 2;
    uint64_t depth = 0;
    char32_t quote = 0;
    for (;; ++pos_) {
      if (pos_ == end_) {
        CheckEnd();
        if (type == kTypeProcessing) XML_ERROR(U"Unterminated processing instruction%ls", AtEnd());
        XML_ERROR(U"Unterminated markup%ls", AtEnd());
      }
      const char32_t c = text_[pos_];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == U'"' || c == U'\'') {
        quote = c;
      } else if (c == U'<') {
        ++depth;
      } else if (c == U'>') {
        if (depth == 0 && (type != kTypeProcessing || (pos_ > lt + 2 && text_[pos_ - 1] == U'?'))) break;
        if (depth > 0) --depth;
      }
    }
    ++pos_;
    AddMarkupRow(lt, pos_ - 1, type);
  }

  void ReadEndTag() {
    pos_ += 2;
    const size_t at = pos_;
    SkipName();
    const std::u32string_view written = std::u32string_view(text_).substr(at, pos_ - at);
    if (written.empty()) XML_ERROR(U"Invalid tag name%ls", Here());
    if (open_.empty() || View(open_.back().name) != written) XML_ERROR(U"Tag mismatch%ls", At(at));
    SkipBlanks();
    if (pos_ == end_ || text_[pos_] != U'>') XML_ERROR(U"'>' expected%ls", Here());
    ++pos_;
    open_.pop_back();
  }

  void ReadStartTag() {
    ++pos_;
    const Span name = ReadName();
    if (name.length == 0) XML_ERROR(U"Invalid tag name%ls", Here());
    if (open_.size() >= INT32_MAX) XML_ERROR(U"Too many levels of nesting%ls", At(pos_ - 1));
    PrepareChildRow(kTypeHasElements);
    const size_t row = rows_.size();
    rows_.push_back({static_cast<uint32_t>(open_.size()), kTypeElement, name, {}, attributes_.size(), 0});
    Whitespace mode = open_.empty() ? options_.whitespace : open_.back().whitespace;
    for (;;) {
      const size_t before = pos_;
      SkipBlanks();
      if (pos_ == end_) XML_ERROR(U"Attribute, '>' or '/>' expected%ls", Here());
      const char32_t c = text_[pos_];
      if (c == U'>') {
        ++pos_;
        break;
      }
      if (c == U'/') {
        ++pos_;
        if (pos_ == end_ || text_[pos_] != U'>') XML_ERROR(U"'>' expected%ls", Here());
        ++pos_;
        rows_[row].attributeCount = attributes_.size() - rows_[row].firstAttribute;
        return;  // closed at once
      }
      if (pos_ == before || !IsNameStart(c)) XML_ERROR(U"Attribute, '>' or '/>' expected%ls", Here());
      mode = ReadAttribute(mode);
    }
    rows_[row].attributeCount = attributes_.size() - rows_[row].firstAttribute;
    open_.push_back({name, row, mode});
  }

  // name = "value" at pos_; returns the white-space mode the element's content takes.
  Whitespace ReadAttribute(Whitespace mode) {
    const Span name = ReadName();
    SkipBlanks();
    if (pos_ == end_ || text_[pos_] != U'=') XML_ERROR(U"'=' expected%ls", Here());
    ++pos_;
    SkipBlanks();
    if (pos_ == end_ || (text_[pos_] != U'"' && text_[pos_] != U'\''))
      XML_ERROR(U"Quote expected at start of attribute value%ls", Here());
    const char32_t quote = text_[pos_++];
    value_.clear();
    for (;;) {
      const size_t run = pos_;
      while (pos_ < end_ && text_[pos_] != quote && text_[pos_] != U'&' && text_[pos_] != U'<') ++pos_;
      value_.append(std::u32string_view(text_).substr(run, pos_ - run));
      if (pos_ == end_) {
        CheckEnd();
        XML_ERROR(U"Unterminated attribute value%ls", AtEnd());
      }
      const char32_t c = text_[pos_];
      if (c == quote) break;
      if (c == U'<') XML_ERROR(U"'<' not allowed in attribute value%ls", At(pos_));
      ReadReference(value_);
    }
    ++pos_;
    const Span value = Append(value_);
    attributes_.push_back({name, value});
    if (View(name) != U"xml:space") return mode;
    if (value_ == U"preserve") return Whitespace::Preserve;
    if (value_ == U"default") return options_.whitespace;
    XML_ERROR(U"Invalid xml:space attribute value%ls", At(pos_ - 1));
  }

  // ---- The result ----

  Ref Result() {
    Temporaries hold;
    hold[1] = MakeNested({0, 2}, [](uint64_t) { return Ref{0}; });
    hold[0] = AllocMatrix(kRefElement, static_cast<uint32_t>(rows_.size()), 5);
    for (size_t i = 0; i < rows_.size(); ++i) {
      const Row& row = rows_[i];
      Ref level = MakeIntScalar(static_cast<int32_t>(row.level));
      DataOf<Ref>(hold[0])[5 * i] = level;
      Ref tag = MakeText(View(row.tag));
      DataOf<Ref>(hold[0])[5 * i + 1] = tag;
      Ref content = MakeText(View(row.content));
      DataOf<Ref>(hold[0])[5 * i + 2] = content;
      Ref attributes = row.attributeCount ? AttributeMatrix(row) : Retained(hold[1]);
      DataOf<Ref>(hold[0])[5 * i + 3] = attributes;
      Ref type = MakeIntScalar(row.type);
      DataOf<Ref>(hold[0])[5 * i + 4] = type;
    }
    return hold.Take(0);
  }

  Ref AttributeMatrix(const Row& row) {
    Temporaries hold;
    hold[0] = AllocMatrix(kRefElement, static_cast<uint32_t>(row.attributeCount), 2);
    for (size_t k = 0; k < row.attributeCount; ++k) {
      const Attribute& a = attributes_[row.firstAttribute + k];
      Ref name = MakeText(View(a.name));
      DataOf<Ref>(hold[0])[2 * k] = name;
      Ref value = MakeText(View(a.value));
      DataOf<Ref>(hold[0])[2 * k + 1] = value;
    }
    return hold.Take(0);
  }

  std::u32string text_;
  Options options_;
  char32_t lineEnd_;
  size_t end_ = 0;  // the first invalid character, or the end of the text
  size_t pos_ = 0;
  std::u32string pool_;
  std::u32string pending_;  // text read and not yet a row
  std::u32string value_;    // the attribute value being read
  std::vector<Row> rows_;
  std::vector<Attribute> attributes_;
  std::vector<OpenElement> open_;
};

// ---- Export ------------------------------------------------------------------------------------------

bool IsNumericScalar(Ref r) {
  return IsRef(r) && KindOf(TypeWord(r)) == kKindSimple && RankOf(TypeWord(r)) == 0 &&
         (kElementInfo[ElementOf(TypeWord(r))].classes & kClassNumeric);
}

// A number as monadic ⍕ shows it with ⎕PP 34.
std::u32string NumberText(Ref scalar) {
  const Layout layout = MeasureLayout(scalar, 34);
  std::u32string text;
  AppendLayoutLine(layout, 0, 0, text);
  return text;
}

class Exporter {
 public:
  Exporter(Ref rows, Options options)
      : rows_(rows), options_(options), lineEnd_(AvCharacter(3)), origin_(IndexOrigin()) {}

  std::u32string Run() {
    const uint32_t rank = RankOf(TypeWord(rows_));
    if (KindOf(TypeWord(rows_)) != kKindNested || rank < 1 || rank > 2) XML_ERROR(U"Invalid right argument%ls", U"");
    const uint64_t count = rank == 1 ? 1 : ShapeOf(rows_)[0];
    columns_ = rank == 1 ? ShapeOf(rows_)[0] : ShapeOf(rows_)[1];
    if (columns_ < 3 || columns_ > 5) XML_ERROR(U"Array has invalid number of columns%ls", U"");
    for (uint64_t i = 0; i < count; ++i) WriteRow(i);
    while (!open_.empty()) Close();
    return std::move(out_);
  }

 private:
  struct OpenElement {
    std::u32string name;
    Whitespace whitespace;
    size_t depth;
  };

  Ref Cell(uint64_t row, uint32_t column) const { return DataOf<Ref>(rows_)[row * columns_ + column]; }
  std::u32string InRow() const { return U" in row " + Decimal(static_cast<int64_t>(row_ + origin_)); }
  Whitespace Mode() const { return open_.empty() ? options_.whitespace : open_.back().whitespace; }
  bool IsBlank(char32_t c) const { return c == U' ' || c == 9 || c == 10 || c == 13 || c == lineEnd_; }

  // The line end and two blanks for each open element (at most 60); none before the first line.
  void NewLine() {
    if (!out_.empty()) out_ += lineEnd_;
    lineLevel_ = open_.size();
    const size_t blanks = std::min<size_t>(2 * open_.size(), 60);
    out_.append(blanks, U' ');
    lineStart_ = out_.size() - blanks;
  }

  void Close() {
    const OpenElement element = std::move(open_.back());
    open_.pop_back();
    if (element.depth < lineLevel_) NewLine();
    out_ += U"</";
    out_ += element.name;
    out_ += U'>';
  }

  void WriteRow(uint64_t row) {
    row_ = row;
    const uint64_t level = ReadLevel();
    while (open_.size() > level) Close();
    const bool hasTag = WriteTag();
    if (columns_ >= 4) WriteAttributes(hasTag);
    if (hasTag && !markupRow_) out_ += U'>';
    WriteContent(hasTag);
    if (columns_ == 5 && !IsNumericScalar(Cell(row_, 4))) XML_ERROR(U"Numeric value expected in type column%ls", InRow());
  }

  uint64_t ReadLevel() {
    const Ref cell = Cell(row_, 0);
    if (!IsNumericScalar(cell)) XML_ERROR(U"Numeric value expected in level column%ls", InRow());
    std::vector<int64_t> value;
    if (!ReadIntegers(cell, value)) XML_ERROR(U"Numeric value expected in level column%ls", InRow());
    if (value[0] < 0) XML_ERROR(U"Level must be a non-negative value%ls", InRow());
    const uint64_t level = static_cast<uint64_t>(value[0]);
    if (row_ == 0 && level != 0) XML_ERROR(U"Outer level must be 0%ls", InRow());
    if (row_ > 0 && level > previousLevel_ + 1) XML_ERROR(U"Level increment must be no greater than 1%ls", InRow());
    previousLevel_ = level;
    return level;
  }

  // The start of an element (its attributes and > follow) or a markup row; false for no tag.
  bool WriteTag() {
    const Ref cell = Cell(row_, 1);
    if (!IsSimpleText(cell) && !IsEmptyVector(cell)) XML_ERROR(U"Character vector expected in tag column%ls", InRow());
    const std::u32string tag = IsSimpleText(cell) ? CharacterText(cell) : U"";
    markupRow_ = !tag.empty() && (tag[0] == U'!' || tag[0] == U'?');
    if (tag.empty()) return false;
    if (markupRow_) {
      NewLine();
      out_ += U'<';
      out_ += tag;
      out_ += U'>';
      return true;
    }
    if (!IsXmlName(tag)) XML_ERROR(U"Invalid tag name%ls", InRow());
    NewLine();
    out_ += U'<';
    out_ += tag;
    open_.push_back({tag, Mode(), open_.size()});
    return true;
  }

  static bool IsEmptyVector(Ref r) {
    return IsArray(r) && RankOf(TypeWord(r)) == 1 && ElementCount(r) == 0;
  }

  void WriteAttributes(bool hasTag) {
    const Ref list = Cell(row_, 3);
    if (!IsArray(list) || RankOf(TypeWord(list)) > 2) XML_ERROR(U"Invalid attribute array%ls", InRow());
    if (ElementCount(list) == 0 && RankOf(TypeWord(list)) < 2) return;
    const uint32_t rank = RankOf(TypeWord(list));
    if (KindOf(TypeWord(list)) != kKindNested) XML_ERROR(U"Invalid attribute array%ls", InRow());
    const uint64_t width = rank == 2 ? ShapeOf(list)[1] : ShapeOf(list)[0];
    if (width != 2) XML_ERROR(U"Attribute list should have two columns%ls", InRow());
    const uint64_t count = ElementCount(list) / 2;
    if (count == 0) return;
    if (!hasTag) XML_ERROR(U"Attribute list but no tag%ls", InRow());
    for (uint64_t k = 0; k < count; ++k) {
      const Ref name = DataOf<Ref>(list)[2 * k], value = DataOf<Ref>(list)[2 * k + 1];
      if (!IsSimpleText(name)) XML_ERROR(U"Character vector expected for attribute name%ls", InRow());
      const std::u32string nameText = CharacterText(name);
      if (nameText.empty()) XML_ERROR(U"Zero-length attribute name%ls", InRow());
      if (!IsXmlName(nameText)) XML_ERROR(U"Invalid attribute name%ls", InRow());
      std::u32string valueText;
      if (IsNumericScalar(value)) valueText = NumberText(value);
      else if (IsSimpleText(value) || IsEmptyVector(value)) valueText = IsSimpleText(value) ? CharacterText(value) : U"";
      else XML_ERROR(U"Numeric scalar or character vector expected for attribute value%ls", InRow());
      for (char32_t c : valueText)
        if (!IsValidXmlCharacter(c, options_.keepUnknownEntities))
          XML_ERROR(U"Invalid character in attribute value%ls", InRow());
      if (nameText == U"xml:space") {
        if (valueText != U"preserve" && valueText != U"default") XML_ERROR(U"Invalid xml:space attribute value%ls", InRow());
        if (!markupRow_ && !open_.empty())
          open_.back().whitespace = valueText == U"preserve" ? Whitespace::Preserve : options_.whitespace;
      }
      out_ += U' ';
      out_ += nameText;
      out_ += U"=\"";
      WriteEscaped(valueText, true);
      out_ += U'"';
    }
  }

  void WriteContent(bool hasTag) {
    const Ref cell = Cell(row_, 2);
    std::u32string text;
    if (IsNumericScalar(cell)) text = NumberText(cell);
    else if (IsSimpleText(cell)) text = CharacterText(cell);
    else if (!IsEmptyVector(cell)) XML_ERROR(U"Numeric scalar or character vector expected in data column%ls", InRow());
    for (char32_t c : text)
      if (!IsValidXmlCharacter(c, options_.keepUnknownEntities)) XML_ERROR(U"Invalid character in data%ls", InRow());
    if (text.empty()) return;
    if (open_.empty()) XML_ERROR(U"Orphaned data%ls", InRow());
    const Whitespace mode = Mode();
    std::u32string_view s = text;
    if (mode != Whitespace::Preserve) {
      size_t first = 0, last = s.size();
      while (first < last && IsBlank(s[first])) ++first;
      while (last > first && IsBlank(s[last - 1])) --last;
      s = s.substr(first, last - first);
      if (s.empty()) return;
    }
    if (!hasTag) NewLine();
    if (mode != Whitespace::Strip) return WriteEscaped(s, false);
    for (size_t i = 0; i < s.size();) {
      if (!IsBlank(s[i])) {
        const size_t run = i;
        while (i < s.size() && !IsBlank(s[i])) ++i;
        WriteEscaped(s.substr(run, i - run), false);
        continue;
      }
      while (i < s.size() && IsBlank(s[i])) ++i;
      if (out_.size() - lineStart_ >= 70) NewLine();
      else out_ += U' ';
    }
  }

  // Characters with the markup characters as references; LF and CR LF become CR, ESC becomes &.
  void WriteEscaped(std::u32string_view s, bool attribute) {
    for (size_t i = 0; i < s.size(); ++i) {
      const char32_t c = s[i];
      switch (c) {
        case U'&': out_ += U"&amp;"; break;
        case U'<': out_ += U"&lt;"; break;
        case U'>': out_ += U"&gt;"; break;
        case U'"':
          if (attribute) out_ += U"&quot;";
          else out_ += c;
          break;
        case U'\n': out_ += U'\r'; break;
        case U'\r':
          out_ += U'\r';
          if (i + 1 < s.size() && s[i + 1] == U'\n') ++i;
          break;
        case kEscape: out_ += U'&'; break;
        default: out_ += c;
      }
    }
  }

  Ref rows_;
  Options options_;
  char32_t lineEnd_;
  uint32_t origin_;
  uint64_t columns_ = 0;
  uint64_t row_ = 0;
  uint64_t previousLevel_ = 0;
  bool markupRow_ = false;
  size_t lineLevel_ = 0;
  size_t lineStart_ = 0;
  std::vector<OpenElement> open_;
  std::u32string out_;
};

}  // namespace

// ---- Entry -------------------------------------------------------------------------------------------

static CallResult ImportOrExport(const Options& options, const Ref& right) {
  const Ref value = PlainArray(right);
  try {
    if (IsSimpleText(value) && RankOf(TypeWord(value)) == 1) return {Importer(CharacterText(value), options).Run()};
    if (!IsArray(value)) XML_ERROR(U"Invalid right argument%ls", U"");
    return {MakeText(Exporter(value, options).Run())};
  } catch (const std::bad_alloc&) {
    SIGNAL_MESSAGE_IN(kLimitError, kCategoryGeneral, U"Out of memory");
  }
}

static CallResult QuadXml(const Ref& left, const Ref& right) {
  Options options;
  ReadOptions(left, kLeftArgumentWords, options);
  return ImportOrExport(options, right);
}

CallResult QuadXmlWithVariants(std::span<const Ref> variantOptions, const Ref& left, const Ref& right) {
  Options options;
  for (const Ref given : variantOptions) ReadOptions(given, kVariantWords, options);
  ReadOptions(left, kLeftArgumentWords, options);
  return ImportOrExport(options, right);
}

void InitialiseXml() { InstallSystemFunction(U"XML", QuadXml, QuadXml); }

}  // namespace vantor
