// ⎕R and ⎕S. The operands are read into patterns and transformations, the options are gathered from
// the ⍠ applications around the derived function, and the input is split into blocks (lines, or the
// whole document). Each block is encoded as UTF-8 and searched by every pattern; at each point the
// leftmost match wins, the lowest-numbered pattern among matches starting at the same place. ⎕R
// copies the text between matches and replaces each match; ⎕S collects one item per match.
#include "sysfns/pcre.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <emmintrin.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstring>
#include <cwctype>
#include <locale.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "base/utf8.h"
#include "language/dmx.h"
#include "primitives/dispatch.h"
#include "language/space.h"
#include "base/errors.h"
#include "files/qnfiles.h"
#include "primitives/op.h"
#include "sysfns/qsys.h"
#include "sysfns/xml.h"

namespace vantor {

static constexpr char kUnit[] = "pcre";

namespace {

constexpr uint32_t kReplaceOperator = 249;
constexpr uint32_t kSearchOperator = 250;
constexpr uint32_t kOptOperator = 251;
constexpr uint32_t kVariantOperator = 252;

// ---- Options --------------------------------------------------------------------------------------

enum class Mode { Line, Document, Multiline };
enum class ResultForm { Implied, Simple, Nested };

// The encoding of a native-file stream; `implied` takes it from the input (its byte-order mark or
// what its bytes fit best), and output to a file follows the input's or is UTF-8.
struct StreamEncoding {
  bool implied = true;
  TextEncoding encoding = TextEncoding::kUtf8;
  bool byteOrderMark = false;
};

struct Options {
  Mode mode = Mode::Line;
  bool ignoreCase = false;
  bool dotAll = false;
  bool greedy = true;
  bool overlapping = false;
  bool neol = false;
  int64_t matchLimit = 0;  // > 0 the match limit; < 0 the depth limit's magnitude
  std::u32string eol;      // empty: keep the input's line endings (LF between lines of nested input)
  ResultForm resultText = ResultForm::Implied;
  bool resultTextGiven = false;
  bool omGiven = false;
  StreamEncoding inEnc;
  StreamEncoding outEnc;
};

[[noreturn]] void InvalidOptionValue(std::u32string_view name) {
  SIGNAL_MESSAGE(kDomainError, U"Option '%ls': invalid value", name);
}

// A Boolean option value: 0 or 1.
bool FlagValue(std::u32string_view name, Ref value) {
  std::vector<int64_t> n;
  if (!argcheck::IsArrayValue(value) || ElementCount(value) != 1 || !ReadIntegers(value, n) || n[0] < 0 || n[0] > 1)
    InvalidOptionValue(name);
  return n[0] == 1;
}

int64_t IntegerValue(std::u32string_view name, Ref value) {
  std::vector<int64_t> n;
  if (!argcheck::IsArrayValue(value) || ElementCount(value) != 1 || !ReadIntegers(value, n)) InvalidOptionValue(name);
  return n[0];
}

std::u32string TextValue(std::u32string_view name, Ref value) {
  if (!IsText(value)) InvalidOptionValue(name);
  return CharacterText(value);
}

// The line ending that an EOL name stands for.
std::u32string LineEnding(std::u32string_view name, std::u32string_view value) {
  static constexpr std::pair<std::u32string_view, std::u32string_view> kEndings[] = {
      {U"CR", U"\r"},     {U"LF", U"\n"},     {U"CRLF", U"\r\n"}, {U"VT", U"\v"},
      {U"NEL", U"\x85"}, {U"FF", U"\f"},     {U"LS", U"\u2028"}, {U"PS", U"\u2029"}};
  for (const auto& [key, ending] : kEndings)
    if (key == value) return std::u32string(ending);
  InvalidOptionValue(name);
}

// The encoding a name of InEnc, OutEnc or Enc stands for. A name without suffix writes a byte-order
// mark for UTF-16 and UTF-32 and none for UTF-8; UTF-16 and UTF-32 alone are little-endian.
StreamEncoding EncodingOption(std::u32string_view name, std::u32string_view value) {
  using enum TextEncoding;
  struct Row {
    std::u32string_view name;
    TextEncoding encoding;
    bool byteOrderMark;
  };
  static constexpr Row kRows[] = {
      {U"UTF-8", kUtf8, false},           {U"UTF-8-BOM", kUtf8, true},          {U"UTF-8-NOBOM", kUtf8, false},
      {U"UTF-16LE", kUtf16LE, true},      {U"UTF-16LE-BOM", kUtf16LE, true},    {U"UTF-16LE-NOBOM", kUtf16LE, false},
      {U"UTF-16BE", kUtf16BE, true},      {U"UTF-16BE-BOM", kUtf16BE, true},    {U"UTF-16BE-NOBOM", kUtf16BE, false},
      {U"UTF-16", kUtf16LE, true},        {U"UTF-16-BOM", kUtf16LE, true},      {U"UTF-16-NOBOM", kUtf16LE, false},
      {U"UTF-32LE", kUtf32LE, true},      {U"UTF-32LE-BOM", kUtf32LE, true},    {U"UTF-32LE-NOBOM", kUtf32LE, false},
      {U"UTF-32BE", kUtf32BE, true},      {U"UTF-32BE-BOM", kUtf32BE, true},    {U"UTF-32BE-NOBOM", kUtf32BE, false},
      {U"UTF-32", kUtf32LE, true},        {U"UTF-32-BOM", kUtf32LE, true},      {U"UTF-32-NOBOM", kUtf32LE, false},
      {U"ASCII", kAscii, false},          {U"Windows-1252", kWindows1252, false}, {U"ANSI", kWindows1252, false},
      {U"UTF8", kUtf8, false},            {U"UTF8-BOM", kUtf8, true},           {U"UTF16LE", kUtf16LE, true},
      {U"UTF16LE-BOM", kUtf16LE, true},   {U"UTF16BE", kUtf16BE, true},         {U"UTF16BE-BOM", kUtf16BE, true}};
  if (value == U"Implied") return StreamEncoding{};
  for (const Row& row : kRows)
    if (row.name == value) return StreamEncoding{false, row.encoding, row.byteOrderMark};
  InvalidOptionValue(name);
}

void SetOption(Options& o, std::u32string_view name, Ref value) {
  if (name == U"Mode") {
    const std::u32string v = TextValue(name, value);
    if (v == U"L") o.mode = Mode::Line;
    else if (v == U"D") o.mode = Mode::Document;
    else if (v == U"M") o.mode = Mode::Multiline;
    else InvalidOptionValue(name);
  } else if (name == U"IC") {
    o.ignoreCase = FlagValue(name, value);
  } else if (name == U"DotAll") {
    o.dotAll = FlagValue(name, value);
  } else if (name == U"Greedy") {
    o.greedy = FlagValue(name, value);
  } else if (name == U"OM") {
    o.overlapping = FlagValue(name, value);
    o.omGiven = true;
  } else if (name == U"NEOL") {
    o.neol = FlagValue(name, value);
  } else if (name == U"ML") {
    o.matchLimit = IntegerValue(name, value);
  } else if (name == U"EOL") {
    o.eol = LineEnding(name, TextValue(name, value));
  } else if (name == U"ResultText") {
    const std::u32string v = TextValue(name, value);
    if (v == U"Simple") o.resultText = ResultForm::Simple;
    else if (v == U"Nested") o.resultText = ResultForm::Nested;
    else if (v == U"Implied") o.resultText = ResultForm::Implied;
    else InvalidOptionValue(name);
    o.resultTextGiven = true;
  } else if (name == U"InEnc" || name == U"OutEnc" || name == U"Enc") {
    // The encodings apply to native-file streams only; text arguments need none.
    const StreamEncoding e = EncodingOption(name, TextValue(name, value));
    if (name != U"OutEnc") o.inEnc = e;
    if (name != U"InEnc") o.outEnc = e;
  } else if (name == U"Optimise") {
    const int64_t v = IntegerValue(name, value);
    if (v < 0 || v > 2) InvalidOptionValue(name);
  } else {
    SIGNAL_MESSAGE(kOptionError, U"Invalid use of variant%ls", U": unknown option '" + std::u32string(name) + U"'");
  }
}

// One ⍠ right operand: a principal value (ignore case), a name and value, or a vector of pairs.
void ReadVariantOperand(Options& o, Ref operand) {
  if (!argcheck::IsArrayValue(operand)) SIGNAL_MESSAGE(kDomainError, U"Invalid use of variant%ls", U"");
  if (!argcheck::IsNestedArray(operand)) return SetOption(o, U"IC", operand);
  if (RankOf(TypeWord(operand)) > 1) SIGNAL_MESSAGE(kDomainError, U"Invalid use of variant%ls", U"");
  const uint64_t n = ElementCount(operand);
  if (n == 2 && IsText(argcheck::ItemOf(operand, 0)) && ElementCount(argcheck::ItemOf(operand, 0)) > 1) {
    Ref name = argcheck::ItemOf(operand, 0);
    return SetOption(o, CharacterText(name), argcheck::ItemOf(operand, 1));
  }
  for (uint64_t i = 0; i < n; ++i) {
    Ref pair = argcheck::ItemOf(operand, i);
    if (!argcheck::IsArrayValue(pair) || !argcheck::IsNestedArray(pair) || ElementCount(pair) != 2 ||
        !IsText(argcheck::ItemOf(pair, 0)))
      SIGNAL_MESSAGE(kDomainError, U"Invalid use of variant%ls", U"");
    SetOption(o, CharacterText(argcheck::ItemOf(pair, 0)), argcheck::ItemOf(pair, 1));
  }
}

// ---- Operands -------------------------------------------------------------------------------------

// The texts of an operand that is one text or a vector of texts; false when it is neither.
bool ReadTexts(Ref operand, std::vector<std::u32string>& out) {
  if (!argcheck::IsArrayValue(operand)) return false;
  if (IsText(operand)) {
    out.push_back(CharacterText(operand));
    return true;
  }
  if (!argcheck::IsNestedArray(operand) || RankOf(TypeWord(operand)) != 1) return false;
  for (uint64_t i = 0; i < ElementCount(operand); ++i) {
    Ref item = argcheck::ItemOf(operand, i);
    if (!IsText(item)) return false;
    out.push_back(CharacterText(item));
  }
  return true;
}

// ---- UTF-8 ---------------------------------------------------------------------------------------
// The library searches UTF-8, so the input is made UTF-8 once and ⎕R's output is written as UTF-8
// and turned into characters at the end. The input must be valid UTF-8; the output is this unit's
// own and may also hold surrogate code points, which a transformation can insert.

// Appends the UTF-8 of the interpreter's characters; a code point that is not a Unicode scalar
// value fails.
void AppendCheckedUtf8(std::string& out, std::u32string_view text) {
  out.reserve(out.size() + text.size());
  for (char32_t c : text) {
    if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) SIGNAL_MESSAGE(kDomainError, U"Unicode to UTF-8 translation error");
    AppendUtf8(out, c);
  }
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  AppendCheckedUtf8(out, text);
  return out;
}

// Output characters: surrogates in the three-byte form, anything beyond U+10FFFF as U+FFFD.
void AppendOwnUtf8(std::string& out, std::u32string_view text) {
  for (char32_t c : text) {
    if (c >= 0xD800 && c <= 0xDFFF) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      AppendUtf8(out, c);
    }
  }
}

// The character at bytes[i] of UTF-8 written by this unit; `i` moves past it.
char32_t DecodeOwnUtf8(std::string_view bytes, size_t& i) {
  const auto lead = static_cast<unsigned char>(bytes[i++]);
  if (lead < 0x80) return lead;
  const int extra = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
  char32_t c = lead & (0x3F >> extra);
  for (int k = 0; k < extra && i < bytes.size(); ++k) c = c << 6 | (static_cast<unsigned char>(bytes[i++]) & 0x3F);
  return c;
}

// Whether no byte has its top bit set; 32 bytes at a time.
bool IsAscii(std::string_view bytes) {
  uint64_t any = 0;
  size_t i = 0;
  for (; i + 32 <= bytes.size(); i += 32) {
    uint64_t words[4];
    std::memcpy(words, bytes.data() + i, sizeof words);
    any |= words[0] | words[1] | words[2] | words[3];
  }
  for (; i < bytes.size(); ++i) any |= static_cast<unsigned char>(bytes[i]);
  return (any & 0x8080808080808080ull) == 0;
}

// The first place from `from` where `needle` (two bytes or more) occurs in `text`, or npos. Sixteen
// places are tested at a time for the needle's first and last bytes; only places where both agree
// are compared in full.
size_t FindBytes(std::string_view text, std::string_view needle, size_t from) {
  const size_t k = needle.size();
  if (text.size() < k || from > text.size() - k) return std::string_view::npos;
  const char* base = text.data();
  const size_t lastStart = text.size() - k;  // the last place a match can start
  const __m128i first = _mm_set1_epi8(needle[0]);
  const __m128i last = _mm_set1_epi8(needle[k - 1]);
  size_t i = from;
  for (; i + 16 <= lastStart + 1; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i + k - 1));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    for (; mask; mask &= mask - 1) {
      const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
      if (std::memcmp(base + at + 1, needle.data() + 1, k - 2) == 0) return at;
    }
  }
  for (; i <= lastStart; ++i)
    if (base[i] == needle[0] && std::memcmp(base + i + 1, needle.data() + 1, k - 1) == 0) return i;
  return std::string_view::npos;
}

size_t CharacterCount(std::string_view bytes) {
  size_t n = 0;
  for (char b : bytes) n += (static_cast<unsigned char>(b) & 0xC0) != 0x80;
  return n;
}

// The length of the line ending at byte i of UTF-8 text, 0 when none starts there: LF, CR, CR LF,
// and with NEOL also VT, FF, NEL, LS and PS.
size_t LineEndAt(std::string_view text, size_t i, bool neol) {
  const auto b = static_cast<unsigned char>(text[i]);
  if (b == '\n') return 1;
  if (b == '\r') return i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
  if (!neol) return 0;
  if (b == 0x0B || b == 0x0C) return 1;
  const std::string_view rest = text.substr(i);
  if (rest.starts_with("\xC2\x85")) return 2;
  if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) return 3;
  return 0;
}

// Whether a line ending may start with byte b (a cheap test before LineEndAt).
bool MayStartLineEnd(unsigned char b, bool neol) {
  return b == '\n' || b == '\r' || (neol && (b == 0x0B || b == 0x0C || b == 0xC2 || b == 0xE2));
}

// Character offsets of byte offsets into one block's UTF-8, counted forward from the last answer
// (the search asks in rising order, mostly); the same numbers for ASCII.
class CharacterCounter {
 public:
  CharacterCounter(std::string_view bytes, bool ascii) : bytes_(bytes), ascii_(ascii) {}
  size_t At(size_t byte) {
    if (ascii_) return byte;
    if (byte < byte_) byte_ = chars_ = 0;
    for (; byte_ < byte; ++byte_)
      if ((static_cast<unsigned char>(bytes_[byte_]) & 0xC0) != 0x80) ++chars_;
    return chars_;
  }

 private:
  std::string_view bytes_;
  bool ascii_;
  size_t byte_ = 0;
  size_t chars_ = 0;
};

// ---- Compiled patterns ----------------------------------------------------------------------------

struct CodeDeleter {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
using CodePtr = std::shared_ptr<pcre2_code>;

std::u32string LibraryMessage(int error) {
  PCRE2_UCHAR buffer[256];
  if (pcre2_get_error_message(error, buffer, sizeof buffer) < 0) return U"unknown error";
  std::u32string text;
  for (PCRE2_UCHAR* p = buffer; *p; ++p) text.push_back(*p);
  return text;
}

uint32_t CompileFlags(const Options& o) {
  uint32_t flags = PCRE2_UTF | PCRE2_NO_UTF_CHECK;
  if (o.ignoreCase) flags |= PCRE2_CASELESS;
  if (o.dotAll) flags |= PCRE2_DOTALL;
  if (o.mode == Mode::Multiline) flags |= PCRE2_MULTILINE;
  if (!o.greedy) flags |= PCRE2_UNGREEDY;
  return flags;
}

// Compiled patterns are kept by their text and flags, so a derived function applied again (or the
// same pattern in another expression) is not compiled again.
class PatternCache {
 public:
  CodePtr Find(const std::string& key) const {
    auto it = codes_.find(key);
    return it == codes_.end() ? nullptr : it->second;
  }
  void Keep(const std::string& key, CodePtr code) {
    if (codes_.size() >= kCapacity) codes_.clear();
    codes_.emplace(key, std::move(code));
  }

 private:
  static constexpr size_t kCapacity = 256;
  std::unordered_map<std::string, CodePtr> codes_;
};

PatternCache& Cache() {
  static PatternCache cache;
  return cache;
}

CodePtr CompilePattern(const std::u32string& pattern, size_t index, const Options& o) {
  const std::string utf8 = EncodeUtf8(pattern);
  const uint32_t flags = CompileFlags(o);
  const uint32_t newline = o.neol ? PCRE2_NEWLINE_ANY : PCRE2_NEWLINE_ANYCRLF;
  std::string key = std::to_string(flags) + ':' + std::to_string(newline) + ':' + utf8;
  if (CodePtr cached = Cache().Find(key)) return cached;
  std::unique_ptr<pcre2_compile_context, decltype(&pcre2_compile_context_free)> context(
      pcre2_compile_context_create(nullptr), &pcre2_compile_context_free);
  pcre2_set_newline(context.get(), newline);
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(utf8.data()), utf8.size(), flags, &error, &offset,
                                   context.get());
  if (!code) {
    CharacterCounter counter(utf8, false);
    SIGNAL_MESSAGE(kDomainError, U"Regular expression %d (indexed from 0), offset %d: %ls", index,
                   counter.At(std::min<size_t>(offset, utf8.size())), LibraryMessage(error));
  }
  CodePtr owned(code, CodeDeleter{});
  const int jit = pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
  if (jit < 0 && jit != PCRE2_ERROR_JIT_BADOPTION && jit != PCRE2_ERROR_NOMEMORY)
    SIGNAL_MESSAGE(kDomainError, U"Regular expression optimisation: %ls", LibraryMessage(jit));
  Cache().Keep(key, owned);
  return owned;
}

uint32_t CaptureCount(const CodePtr& code) {
  uint32_t n = 0;
  pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &n);
  return n;
}

// ---- Transformation strings -----------------------------------------------------------------------

enum class Case { Keep, Upper, Lower };

// One piece of a transformation: literal text, the match or a subpattern (group ≥ 0), the block
// (group kBlockPiece), or a named subpattern.
struct Piece {
  static constexpr int kBlockPiece = -1;
  static constexpr int kNamedPiece = -2;
  std::u32string literal;
  std::string literalUtf8;
  int group = 0;
  std::u32string name;
  Case letterCase = Case::Keep;
  bool isLiteral = true;
};
using Transformation = std::vector<Piece>;

[[noreturn]] void InvalidEscape() {
  SIGNAL_MESSAGE(kDomainError, U"Invalid escape sequence in transformation string");
}

bool IsNameCharacter(char32_t c) {
  return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9') || c == U'_';
}

int HexDigit(char32_t c) {
  if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
  if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
  return -1;
}

class TransformationParser {
 public:
  explicit TransformationParser(std::u32string_view text) : text_(text) {}

  Transformation Parse() {
    while (i_ < text_.size()) {
      const char32_t c = text_[i_++];
      if (c == U'&') Insert(0, Case::Keep);
      else if (c == U'%') Insert(Piece::kBlockPiece, Case::Keep);
      else if (c == U'\\') Escape();
      else Literal(c);
    }
    return std::move(pieces_);
  }

 private:
  char32_t Next() {
    if (i_ >= text_.size()) SIGNAL_MESSAGE(kDomainError, U"Unterminated sequence in transformation string");
    return text_[i_++];
  }

  void Literal(char32_t c) {
    if (pieces_.empty() || !pieces_.back().isLiteral) pieces_.push_back(Piece{});
    pieces_.back().literal.push_back(c);
  }

  void Insert(int group, Case letterCase, std::u32string name = {}) {
    Piece p;
    p.isLiteral = false;
    p.group = group;
    p.letterCase = letterCase;
    p.name = std::move(name);
    pieces_.push_back(std::move(p));
  }

  void Escape() {
    const char32_t c = Next();
    switch (c) {
      case U'n': return Literal(U'\n');
      case U'r': return Literal(U'\r');
      case U'\\': case U'&': case U'%': return Literal(c);
      case U'x': return Literal(CodePoint());
      case U'u': return Reference(Case::Upper);
      case U'l': return Reference(Case::Lower);
      default:
        if (!Reference(c, Case::Keep)) InvalidEscape();
    }
  }

  // \u or \l: the reference they apply to follows.
  void Reference(Case letterCase) {
    const char32_t c = Next();
    if (c == U'&') return Insert(0, letterCase);
    if (c == U'%') return Insert(Piece::kBlockPiece, letterCase);
    if (c != U'\\' || !Reference(Next(), letterCase)) InvalidEscape();
  }

  // The part of a subpattern reference after its backslash, starting with `c`.
  bool Reference(char32_t c, Case letterCase) {
    if (c >= U'0' && c <= U'9') {
      Insert(static_cast<int>(c - U'0'), letterCase);
    } else if (c == U'(') {
      Insert(GroupNumber(), letterCase);
    } else if (c == U'<') {
      Insert(Piece::kNamedPiece, letterCase, GroupName());
    } else {
      return false;
    }
    return true;
  }

  int GroupNumber() {
    int n = 0;
    bool any = false;
    for (char32_t c = Next(); c != U')'; c = Next()) {
      if (c < U'0' || c > U'9') SIGNAL_MESSAGE(kDomainError, U"Invalid numeric in transformation string");
      n = std::min(n * 10 + static_cast<int>(c - U'0'), 1000);
      any = true;
    }
    if (!any) SIGNAL_MESSAGE(kDomainError, U"Invalid numeric in transformation string");
    if (n >= 64) SIGNAL_MESSAGE(kDomainError, U"Subpattern reference out of range in transformation string");
    return n;
  }

  std::u32string GroupName() {
    std::u32string name;
    for (char32_t c = Next(); c != U'>'; c = Next()) {
      if (!IsNameCharacter(c) || name.size() == 32)
        SIGNAL_MESSAGE(kDomainError, U"Invalid subpattern name in transformation string");
      name.push_back(c);
    }
    if (name.empty()) SIGNAL_MESSAGE(kDomainError, U"Name expected between '<' and '>' in transformation string");
    return name;
  }

  // \x{hex}: a code point below 110000 hexadecimal.
  char32_t CodePoint() {
    if (Next() != U'{') SIGNAL_MESSAGE(kDomainError, U"Invalid hexadecimal codepoint");
    uint32_t value = 0;
    bool any = false;
    for (char32_t c = Next(); c != U'}'; c = Next()) {
      const int d = HexDigit(c);
      if (d < 0) SIGNAL_MESSAGE(kDomainError, U"Invalid hexadecimal codepoint");
      value = std::min<uint32_t>(value * 16 + static_cast<uint32_t>(d), 0x110000);
      any = true;
    }
    if (!any || value >= 0x110000) SIGNAL_MESSAGE(kDomainError, U"Invalid hexadecimal codepoint");
    return value;
  }

  std::u32string_view text_;
  size_t i_ = 0;
  Transformation pieces_;
};

// Upper- and lower-casing by the Unicode tables of the C library's UTF-8 locale (ASCII only when the
// system lacks it).
char32_t ChangeCase(char32_t c, Case letterCase) {
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  const wint_t w = static_cast<wint_t>(c);
  if (!utf8) {
    if (c >= 0x80) return c;
    return static_cast<char32_t>(letterCase == Case::Upper ? towupper(w) : towlower(w));
  }
  return static_cast<char32_t>(letterCase == Case::Upper ? towupper_l(w, utf8) : towlower_l(w, utf8));
}

// Appends the UTF-8 `bytes` in the case asked for.
void AppendCased(std::string& out, std::string_view bytes, Case letterCase) {
  if (letterCase == Case::Keep) return out.append(bytes), void();
  std::u32string changed;
  for (size_t i = 0; i < bytes.size();) changed.push_back(ChangeCase(DecodeOwnUtf8(bytes, i), letterCase));
  AppendOwnUtf8(out, changed);
}

// ---- The operation ------------------------------------------------------------------------------

// What each match becomes: transformation strings, or ⎕S codes.
struct Transformations {
  std::vector<Transformation> strings;
  std::vector<int> codes;  // ⎕S: 0 offset, 1 length, 2 block number, 3 pattern number
  bool codesGiven = false;
  bool function = false;   // the right operand is a function, called with each match
};

struct Pattern {
  CodePtr code;
  bool jit = false;
  uint32_t captures = 0;
  std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> data{nullptr, &pcre2_match_data_free};
  // The pattern's next match in the current block, from an earlier search.
  bool searched = false;
  bool found = false;
  size_t start = 0;
  size_t end = 0;
};

// A block of the document's UTF-8 and the line ending after it: bytes [begin, end), then the ending
// up to endingEnd.
struct Span {
  size_t begin = 0;
  size_t end = 0;
  size_t endingEnd = 0;
};

struct Match {
  size_t pattern;
  const size_t* ovector;  // byte offsets into the block, pairs per subpattern
  uint32_t pairs;
};

// The characters of UTF-8 that this unit wrote itself, which may hold surrogate code points (a
// transformation may insert any character); the narrowest character vector that holds them.
Ref TextOfUtf8(std::string_view bytes) {
  if (bytes.size() > UINT32_MAX) SIGNAL_MESSAGE(kLimitError, U"Text too long");
  if (IsAscii(bytes)) {
    Ref r = AllocVector(kChar8, static_cast<uint32_t>(bytes.size()));
    if (!bytes.empty()) std::memcpy(DataOf<char>(r), bytes.data(), bytes.size());
    return r;
  }
  std::u32string text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) text.push_back(DecodeOwnUtf8(bytes, i));
  return MakeText(text);
}

class RegexRun {
 public:
  RegexRun(bool replace, const Options& o) : replace_(replace), options_(o) {
    matchContext_.reset(pcre2_match_context_create(nullptr));
    if (o.matchLimit > 0) pcre2_set_match_limit(matchContext_.get(), static_cast<uint32_t>(std::min<int64_t>(o.matchLimit, UINT32_MAX)));
    if (o.matchLimit < 0)
      pcre2_set_depth_limit(matchContext_.get(), static_cast<uint32_t>(std::min<int64_t>(-o.matchLimit, UINT32_MAX)));
    if (!o.eol.empty()) AppendOwnUtf8(eol_, o.eol);
  }

  // `derived` is the ⎕R or ⎕S derived function, held where compaction keeps it current.
  void ReadOperands(const Ref& derived) {
    derived_ = &derived;
    const Ref patterns = Words(derived)[kDerivedLeftOperand];
    const Ref transformations = Words(derived)[kDerivedRightOperand];
    std::vector<std::u32string> texts;
    if (!ReadTexts(patterns, texts)) SIGNAL_MESSAGE(kDomainError, U"Invalid regular expression format");
    if (texts.size() > 0xFFFF) SIGNAL_MESSAGE(kLimitError, U"Too many regular expressions");
    patternTexts_ = texts;
    for (size_t i = 0; i < texts.size(); ++i) {
      Pattern p;
      p.code = CompilePattern(texts[i], i, options_);
      size_t jitSize = 0;
      p.jit = options_.matchLimit >= 0 && pcre2_pattern_info(p.code.get(), PCRE2_INFO_JITSIZE, &jitSize) == 0 && jitSize > 0;
      p.captures = CaptureCount(p.code);
      p.data.reset(pcre2_match_data_create_from_pattern(p.code.get(), nullptr));
      patterns_.push_back(std::move(p));
    }
    ReadTransformations(transformations);
    FindRequiredBytes();
  }

  // ⎕R writes its text to this native file (appending) instead of returning it.
  void WriteTo(int64_t tie) {
    // Appending nothing checks the tie before any work is done.
    if (!AppendToTiedFile(tie, "", "")) SIGNAL_MESSAGE(kFileTieError, U"Output stream not tied");
    outputTie_ = tie;
  }

  // The result for the input (borrowed); 0 when the text went to a file.
  Ref Apply(const Ref& input) {
    const bool nestedInput = ReadInput(input);
    nestedResult_ = replace_ && !outputTie_ &&
                    (options_.resultText == ResultForm::Nested || (options_.resultText == ResultForm::Implied && nestedInput));
    if (replace_) out_.reserve(subject_.size() + subject_.size() / 8);
    if (nestedInput) SearchLines();
    else if (LiteralSearchApplies()) SearchLiteral();
    else SearchDocument();
    subject_ = {};  // it may lie in the workspace, which the results below may move
    if (!replace_) return SearchResult();
    if (outputTie_) {
      WriteStream(nestedInput);
      return 0;
    }
    // The lines of nested input joined into a document are split again as they were.
    return nestedResult_ ? NestedResult(nestedInput && options_.mode != Mode::Line) : TextOfUtf8(out_);
  }

 private:
  void ReadTransformations(Ref operand) {
    if (!argcheck::IsArrayValue(operand)) {
      transformations_.function = true;
      return;
    }
    std::vector<std::u32string> texts;
    if (ReadTexts(operand, texts)) {
      if (texts.size() != 1 && texts.size() != patterns_.size())
        SIGNAL_MESSAGE(kDomainError, U"Invalid transformation format");
      for (const std::u32string& t : texts) transformations_.strings.push_back(TransformationParser(t).Parse());
      for (Transformation& t : transformations_.strings)
        for (Piece& piece : t) AppendOwnUtf8(piece.literalUtf8, piece.literal);
      CheckNames();
      return;
    }
    std::vector<int64_t> codes;
    if (replace_ || !ReadIntegers(operand, codes) || RankOf(TypeWord(operand)) > 1)
      SIGNAL_MESSAGE(kDomainError, U"Invalid transformation format");
    if (codes.size() > 4) SIGNAL_MESSAGE(kDomainError, U"Invalid transformation format");
    for (int64_t c : codes) {
      if (c < 0 || c > 3) SIGNAL_MESSAGE(kDomainError, U"Invalid transformation format");
      transformations_.codes.push_back(static_cast<int>(c));
    }
    transformations_.codesGiven = true;
  }

  // A named reference must name a subpattern of some pattern it may apply to.
  void CheckNames() {
    for (size_t t = 0; t < transformations_.strings.size(); ++t)
      for (const Piece& piece : transformations_.strings[t]) {
        if (piece.isLiteral || piece.group != Piece::kNamedPiece) continue;
        bool defined = false;
        for (size_t p = 0; p < patterns_.size(); ++p)
          if (transformations_.strings.size() == 1 || p == t) defined |= GroupOfName(p, piece.name) >= 0;
        if (!defined) SIGNAL_MESSAGE(kDomainError, U"'%ls': invalid subpattern name", piece.name);
      }
  }

  int GroupOfName(size_t pattern, const std::u32string& name) const {
    std::string utf8(name.begin(), name.end());  // names are ASCII
    const int n = pcre2_substring_number_from_name(patterns_[pattern].code.get(),
                                                   reinterpret_cast<PCRE2_SPTR>(utf8.c_str()));
    return n < 0 ? -1 : n;
  }

  // The library knows, for most patterns, a byte that every match needs in its subject. When each
  // pattern has one (an ASCII one: both cases of a letter are taken, as case may be ignored), a line
  // without any of them cannot match and is passed over without calling the library.
  void FindRequiredBytes() {
    for (const Pattern& p : patterns_) {
      uint32_t type = 0, unit = 0;
      pcre2_pattern_info(p.code.get(), PCRE2_INFO_LASTCODETYPE, &type);
      if (type == 1) {
        pcre2_pattern_info(p.code.get(), PCRE2_INFO_LASTCODEUNIT, &unit);
      } else {
        pcre2_pattern_info(p.code.get(), PCRE2_INFO_FIRSTCODETYPE, &type);
        if (type != 1) return requiredBytes_.clear();
        pcre2_pattern_info(p.code.get(), PCRE2_INFO_FIRSTCODEUNIT, &unit);
      }
      if (unit >= 0x80) return requiredBytes_.clear();
      for (char c : {static_cast<char>(unit), static_cast<char>(std::tolower(static_cast<int>(unit))),
                     static_cast<char>(std::toupper(static_cast<int>(unit)))})
        if (requiredBytes_.find(c) == std::string::npos) requiredBytes_ += c;
    }
  }

  // The first byte from `from` that some pattern needs, or the end of the subject. Each byte's next
  // place is kept until the search passes it, so the subject is read once per byte.
  size_t NextRequiredByte(size_t from) {
    nextRequired_.resize(requiredBytes_.size(), 0);
    size_t first = subject_.size();
    for (size_t k = 0; k < requiredBytes_.size(); ++k) {
      size_t& next = nextRequired_[k];
      if (next < from) {
        const void* found = std::memchr(subject_.data() + from, requiredBytes_[k], subject_.size() - from);
        next = found ? static_cast<size_t>(static_cast<const char*>(found) - subject_.data()) : subject_.size();
      }
      first = std::min(first, next);
    }
    return first;
  }

  // ---- Input ----

  // Reads the input into the subject (UTF-8); true for nested input, whose lines become the blocks
  // of lines_ (joined by the line ending).
  bool ReadInput(const Ref& input) {
    if (!argcheck::IsArrayValue(input)) SIGNAL_MESSAGE(kDomainError, U"Invalid input source");
    if (IsText(input)) {
      ReadText(input);
      return false;
    }
    std::vector<int64_t> tie;
    if (ElementCount(input) == 1 && RankOf(TypeWord(input)) <= 1 && ReadIntegers(input, tie)) {
      ReadStream(tie[0]);
      return false;
    }
    std::vector<std::u32string> lines;
    if (!ReadTexts(input, lines)) SIGNAL_MESSAGE(kDomainError, U"Invalid input source");
    const std::string eol = eol_.empty() ? std::string("\n") : eol_;
    for (size_t i = 0; i < lines.size(); ++i) {
      Span s;
      s.begin = owned_.size();
      AppendCheckedUtf8(owned_, lines[i]);
      s.end = owned_.size();
      if (i + 1 < lines.size()) owned_ += eol;
      s.endingEnd = owned_.size();
      lines_.push_back(s);
    }
    SetSubject(owned_);
    return true;
  }

  // A text argument. One of 8-bit ASCII characters is its own UTF-8 and is searched where it lies,
  // unless a transformation function may run (and allocate) while the search goes on.
  void ReadText(const Ref& input) {
    const uint64_t n = ElementCount(input);
    if (ElementOf(TypeWord(input)) == kChar8) {
      const std::string_view bytes(DataOf<char>(input), n);
      if (IsAscii(bytes) && !transformations_.function) return SetSubject(bytes, true);
      for (char b : bytes) AppendUtf8(owned_, static_cast<uint8_t>(b));
    } else {
      AppendCheckedUtf8(owned_, CharacterText(input));
    }
    SetSubject(owned_);
  }

  // The rest of a tied file, from its position, decoded by InEnc (a byte-order mark of the
  // encoding is skipped).
  void ReadStream(int64_t tie) {
    std::string bytes;
    bool tooLong = false;
    if (!ReadRestOfTiedFile(tie, UINT32_MAX, bytes, tooLong)) {
      if (tooLong) SIGNAL_MESSAGE(kLimitError, U"Text too long");
      SIGNAL_MESSAGE(kFileTieError, U"Input stream not tied");
    }
    size_t markLength = 0;
    StreamEncoding& e = inputEncoding_;
    if (options_.inEnc.implied) {
      e.encoding = DetectEncoding(bytes, markLength);
    } else {
      e.encoding = options_.inEnc.encoding;
      const std::string_view mark = ByteOrderMark(e.encoding);
      if (!mark.empty() && bytes.starts_with(mark)) markLength = mark.size();
    }
    e.byteOrderMark = markLength > 0;
    std::u32string text;
    if (!DecodeText(std::string_view(bytes).substr(markLength), e.encoding, text))
      SIGNAL_MESSAGE(kDomainError, U"Invalid character in input stream");
    if (text.size() > UINT32_MAX) SIGNAL_MESSAGE(kLimitError, U"Text too long");
    AppendCheckedUtf8(owned_, text);
    SetSubject(owned_);
    fromStream_ = true;
  }

  void SetSubject(std::string_view subject, std::optional<bool> ascii = std::nullopt) {
    subject_ = subject;
    ascii_ = ascii ? *ascii : IsAscii(subject);
  }

  // ---- Blocks ----

  size_t LineEndAt(size_t i) const { return vantor::LineEndAt(subject_, i, options_.neol); }
  bool MayStartLineEnd(unsigned char b) const { return vantor::MayStartLineEnd(b, options_.neol); }

  // The line of the document that starts at `begin`.
  Span LineAt(size_t begin) const {
    const size_t n = subject_.size();
    for (size_t i = begin; i < n; ++i) {
      if (!MayStartLineEnd(static_cast<unsigned char>(subject_[i]))) continue;
      if (const size_t width = LineEndAt(i)) return {begin, i, i + width};
    }
    return {begin, n, n};
  }

  // The start of the line that holds byte `at`, looking back no further than `floor` (a line start).
  size_t LineStartOf(size_t at, size_t floor) const {
    for (size_t i = at; i > floor; --i) {
      const auto b = static_cast<unsigned char>(subject_[i - 1]);
      if (b == '\n' || b == '\r' || (options_.neol && (b == 0x0B || b == 0x0C || b == 0x85 || b == 0xA8 || b == 0xA9))) {
        // A multi-byte ending is recognised from its first byte.
        for (size_t back = std::min<size_t>(3, i - floor); back >= 1; --back)
          if (LineEndAt(i - back) == back) return i;
      }
    }
    return floor;
  }

  // Text input: the lines (Mode L) or the whole document (D, M) as blocks, each followed by its
  // own line ending (or EOL in its place).
  void SearchDocument() {
    if (options_.mode != Mode::Line) {
      return SearchBlock({0, subject_.size(), subject_.size()}, 0);
    }
    const bool skipping = !requiredBytes_.empty() && !nestedResult_;
    size_t block = 0;
    size_t pos = 0;
    do {
      if (skipping) pos = PassOver(pos, LineStartOf(NextRequiredByte(pos), pos), block);
      const Span s = LineAt(pos);
      SearchBlock(s, block++);
      pos = s.endingEnd;
    } while (pos < subject_.size());
  }

  // Lines from `pos` up to `to` (a line start) that no pattern can match: copied by ⎕R, counted.
  size_t PassOver(size_t pos, size_t to, size_t& block) {
    if (to == pos) return pos;
    if (!eol_.empty() && replace_) {  // each ending is replaced, so the lines go one by one
      while (pos < to) {
        const Span s = LineAt(pos);
        out_.append(subject_, s.begin, s.end - s.begin);
        out_ += eol_;
        pos = s.endingEnd;
        ++block;
      }
      return to;
    }
    if (replace_) out_.append(subject_, pos, to - pos);
    if (needBlockNumbers()) block += CountLineEnds(pos, to);
    return to;
  }

  bool needBlockNumbers() const {
    return transformations_.function ||
           std::find(transformations_.codes.begin(), transformations_.codes.end(), 2) != transformations_.codes.end();
  }

  size_t CountLineEnds(size_t from, size_t to) const {
    size_t count = 0;
    for (size_t i = from; i < to; ++i)
      if (MayStartLineEnd(static_cast<unsigned char>(subject_[i])))
        if (const size_t width = LineEndAt(i)) {
          ++count;
          i += width - 1;
        }
    return count;
  }

  // ---- Plain text ----
  // A single pattern that is plain text (no character with a meaning in patterns, no line ending),
  // matched with case, finds exactly the places where its bytes occur: a byte search over the whole
  // document gives what the search line by line gives, without calling the library.

  bool LiteralSearchApplies() const {
    if (patternTexts_.size() != 1 || patternTexts_[0].empty() || options_.ignoreCase || nestedResult_ ||
        transformations_.function)
      return false;
    for (char32_t c : patternTexts_[0])
      if (std::u32string_view(U"\\^$.|?*+()[]{}\n\r\v\f\x85\u2028\u2029").find(c) != std::u32string_view::npos) return false;
    const bool usesBlock = TransformationUsesBlock();
    if (options_.mode != Mode::Line) return !usesBlock;
    return !(replace_ && !eol_.empty());  // each line ending would be replaced
  }

  bool TransformationUsesBlock() const {
    for (const Transformation& t : transformations_.strings)
      for (const Piece& piece : t)
        if (!piece.isLiteral && piece.group == Piece::kBlockPiece) return true;
    return false;
  }

  void SearchLiteral() {
    const std::string needle = EncodeUtf8(patternTexts_[0]);
    const bool lines = options_.mode == Mode::Line;
    const bool usesBlock = TransformationUsesBlock();
    const bool numbered = lines && needBlockNumbers();
    size_t pos = 0, copied = 0, linesCounted = 0, lineFloor = 0;
    for (;;) {
      const size_t at = needle.size() == 1 ? subject_.find(needle[0], pos) : FindBytes(subject_, needle, pos);
      if (at == std::string_view::npos) break;
      if (numbered) {
        blockNumber_ += CountLineEnds(linesCounted, at);
        linesCounted = at;
      }
      // The block as far as the transformation needs it: its line for %, else the match alone.
      Span block{at, at + needle.size(), at + needle.size()};
      if (usesBlock) {
        lineFloor = LineStartOf(at, lineFloor);
        block = LineAt(lineFloor);
      }
      block_ = subject_.substr(block.begin, block.end - block.begin);
      blockOffset_ = block.begin;
      const size_t ovector[2] = {at - block.begin, at - block.begin + needle.size()};
      const Match m{0, ovector, 1};
      CharacterCounter counter(block_, ascii_);
      if (replace_) {
        out_.append(subject_, copied, at - copied);
        Transform(out_, m, counter);
        pos = copied = at + needle.size();
      } else {
        Collect(m, counter);
        pos = options_.overlapping ? NextCharacter(subject_, at) : at + needle.size();
      }
    }
    if (replace_) out_.append(subject_, copied);
  }

  // Nested input: each line a block (Mode L), or the lines joined by line endings as one block.
  void SearchLines() {
    if (options_.mode != Mode::Line) {
      return SearchBlock({0, subject_.size(), subject_.size()}, 0);
    }
    for (size_t b = 0; b < lines_.size(); ++b) SearchBlock(lines_[b], b);
  }

  // The characters before byte `at` of the subject, counted on from the last answer (blocks come in
  // order).
  size_t CharactersBefore(size_t at) {
    if (ascii_) return at;
    for (; countedBytes_ < at; ++countedBytes_)
      if ((static_cast<unsigned char>(subject_[countedBytes_]) & 0xC0) != 0x80) ++countedChars_;
    return countedChars_;
  }

  // The matches of one block, and for ⎕R its text with the line ending after it.
  void SearchBlock(const Span& span, size_t blockNumber) {
    const std::string_view bytes = subject_.substr(span.begin, span.end - span.begin);
    CharacterCounter counter(bytes, ascii_);
    blockNumber_ = blockNumber;
    block_ = bytes;
    blockOffset_ = span.begin;
    for (Pattern& p : patterns_) p.searched = false;
    size_t cursor = 0;        // bytes before it are done
    size_t copied = 0;        // bytes of the block already copied to the output
    bool afterEmpty = false;  // the last match was empty and ended at the cursor
    while (cursor <= bytes.size()) {
      const size_t which = NextMatch(bytes, cursor, afterEmpty);
      if (which == patterns_.size()) break;
      Pattern& p = patterns_[which];
      const size_t* ov = pcre2_get_ovector_pointer(p.data.get());
      Match m{which, ov, std::min<uint32_t>(pcre2_get_ovector_count(p.data.get()), p.captures + 1)};
      if (replace_) {
        out_.append(bytes, copied, p.start - copied);
        Transform(out_, m, counter);
        copied = p.end;
      } else {
        Collect(m, counter);
      }
      if (!replace_ && options_.overlapping) {
        cursor = NextCharacter(bytes, p.start);
        afterEmpty = false;
        for (Pattern& q : patterns_) q.searched = false;
        if (p.start >= bytes.size()) break;
        continue;
      }
      afterEmpty = p.end == p.start;
      cursor = p.end;
      p.searched = false;
    }
    if (!replace_) return;
    out_.append(bytes, copied);
    if (span.endingEnd == span.end) return EndPiece();
    if (eol_.empty()) out_.append(subject_, span.end, span.endingEnd - span.end);
    else out_ += eol_;
    EndPiece();
  }

  // Marks the end of one block's output, which the nested result splits into lines on its own.
  void EndPiece() {
    if (nestedResult_) pieceEnds_.push_back(out_.size());
  }

  static size_t NextCharacter(std::string_view bytes, size_t at) {
    if (at >= bytes.size()) return at + 1;
    ++at;
    while (at < bytes.size() && (static_cast<unsigned char>(bytes[at]) & 0xC0) == 0x80) ++at;
    return at;
  }

  // The pattern whose match comes first from the cursor (patterns_.size() when none matches).
  // A pattern's earlier answer stands while its match lies at or after the cursor: nothing
  // between the earlier start and that match matched then, and nothing does now.
  size_t NextMatch(std::string_view bytes, size_t cursor, bool afterEmpty) {
    size_t best = patterns_.size();
    for (size_t i = 0; i < patterns_.size(); ++i) {
      Pattern& p = patterns_[i];
      const bool stale = !p.searched || (p.found && p.start < cursor) ||
                         (p.found && afterEmpty && p.start == cursor && p.end == cursor);
      if (stale) Search(p, bytes, cursor, afterEmpty);
      if (p.found && (best == patterns_.size() || p.start < patterns_[best].start)) best = i;
    }
    return best;
  }

  void Search(Pattern& p, std::string_view bytes, size_t cursor, bool afterEmpty) {
    p.searched = true;
    p.found = false;
    if (cursor > bytes.size()) return;
    const auto subject = reinterpret_cast<PCRE2_SPTR>(bytes.data());
    const uint32_t notEmpty = afterEmpty ? PCRE2_NOTEMPTY_ATSTART : 0;
    // The compiled (JIT) matcher has no depth limit: a depth limit runs the interpreter.
    const int rc = p.jit ? pcre2_jit_match(p.code.get(), subject, bytes.size(), cursor, notEmpty, p.data.get(),
                                           matchContext_.get())
                         : pcre2_match(p.code.get(), subject, bytes.size(), cursor,
                                       PCRE2_NO_UTF_CHECK | notEmpty | (options_.matchLimit < 0 ? PCRE2_NO_JIT : 0),
                                       p.data.get(), matchContext_.get());
    if (rc == PCRE2_ERROR_NOMATCH) return;
    if (rc < 0) SIGNAL_MESSAGE(kDomainError, U"Invalid pattern: %ls", LibraryMessage(rc));
    const size_t* ov = pcre2_get_ovector_pointer(p.data.get());
    p.found = true;
    p.start = ov[0];
    p.end = ov[1];
    if (p.end < p.start) p.end = p.start;  // \K in a lookahead can end a match before its start
  }

  // The bytes of subpattern g of a match in the current block ("" when it did not take part).
  std::string_view Group(const Match& m, int g) const {
    if (g < 0 || static_cast<uint32_t>(g) >= m.pairs || m.ovector[2 * g] == PCRE2_UNSET) return {};
    const size_t s = m.ovector[2 * g];
    return block_.substr(s, std::max(s, m.ovector[2 * g + 1]) - s);
  }

  void Transform(std::string& out, const Match& m, CharacterCounter& counter) const {
    if (transformations_.function) return CallTransformation(out, m, counter);
    const Transformation& t = transformations_.strings[transformations_.strings.size() == 1 ? 0 : m.pattern];
    for (const Piece& piece : t) {
      if (piece.isLiteral) {
        out += piece.literalUtf8;
      } else if (piece.group == Piece::kBlockPiece) {
        AppendCased(out, block_, piece.letterCase);
      } else if (piece.group == Piece::kNamedPiece) {
        AppendCased(out, Group(m, GroupOfName(m.pattern, piece.name)), piece.letterCase);
      } else {
        AppendCased(out, Group(m, piece.group), piece.letterCase);
      }
    }
  }

  // Calls the transformation function with a namespace that describes the match; its result, a
  // character vector, is what the match becomes.
  void CallTransformation(std::string& out, const Match& m, CharacterCounter& counter) const {
    Temporaries hold;
    hold[0] = MatchNamespace(m, counter);
    const Ref function = Words(*derived_)[kDerivedRightOperand];
    hold[1] = CallFunctionValue(function, 0, hold[0]).value;
    if (!hold[1]) SIGNAL_MESSAGE(kValueError, U"Transformation function should return a value");
    const bool empty = argcheck::IsArrayValue(hold[1]) && RankOf(TypeWord(hold[1])) == 1 && ElementCount(hold[1]) == 0;
    if (!IsText(hold[1]) && !empty)
      SIGNAL_MESSAGE(kDomainError, U"Transformation function should return a character vector");
    if (!empty) AppendOwnUtf8(out, CharacterText(hold[1]));
  }

  Ref MatchNamespace(const Match& m, CharacterCounter& counter) const {
    Temporaries hold;
    hold[0] = CreateNamespace(0);
    Words(NamespaceOf(hold[0]))[kNsFlags] |= replace_ ? kNsReplaceMatch : kNsSearchMatch;
    std::vector<int64_t> offsets;
    std::vector<int64_t> lengths;
    std::vector<std::u32string> names(m.pairs - 1);
    for (uint32_t g = 0; g < m.pairs; ++g) {
      const bool unset = m.ovector[2 * g] == PCRE2_UNSET;
      offsets.push_back(unset ? -1 : static_cast<int64_t>(counter.At(m.ovector[2 * g])));
      lengths.push_back(unset ? -1 : static_cast<int64_t>(CharacterCount(Group(m, static_cast<int>(g)))));
    }
    NameTable(m.pattern, names);
    SpaceScope scope(hold[0]);
    SetVariable(U"Block", MakeText(FromUtf8(block_)));
    SetVariable(U"BlockNum", IntegerScalar(blockNumber_));
    SetVariable(U"Pattern", MakeText(patternTexts_[m.pattern]));
    SetVariable(U"PatternNum", IntegerScalar(m.pattern));
    SetVariable(U"Match", MakeText(FromUtf8(Group(m, 0))));
    SetVariable(U"Offsets", Integers(offsets));
    SetVariable(U"Lengths", Integers(lengths));
    SetVariable(U"Names", MakeNested({static_cast<uint32_t>(names.size())}, [&](uint64_t i) { return MakeText(names[i]); }));
    SetVariable(U"ReplaceMode", IntegerScalar(replace_ ? 1 : 0));
    SetVariable(U"TextOnly", IntegerScalar(fromStream_ ? 0 : 1));
    return hold.Take(0);
  }

  // The names of a pattern's subpatterns, by subpattern number less one.
  void NameTable(size_t pattern, std::vector<std::u32string>& names) const {
    const pcre2_code* code = patterns_[pattern].code.get();
    uint32_t count = 0;
    uint32_t entrySize = 0;
    PCRE2_SPTR table = nullptr;
    pcre2_pattern_info(code, PCRE2_INFO_NAMECOUNT, &count);
    pcre2_pattern_info(code, PCRE2_INFO_NAMEENTRYSIZE, &entrySize);
    pcre2_pattern_info(code, PCRE2_INFO_NAMETABLE, &table);
    for (uint32_t i = 0; i < count; ++i) {
      PCRE2_SPTR entry = table + static_cast<size_t>(i) * entrySize;
      const uint32_t group = static_cast<uint32_t>(entry[0]) << 8 | entry[1];
      if (group == 0 || group > names.size()) continue;
      std::u32string name;
      for (PCRE2_SPTR c = entry + 2; *c; ++c) name.push_back(*c);  // names are ASCII
      names[group - 1] = std::move(name);
    }
  }

  // Gives a name of the current namespace a counted value, which the name takes over.
  static void SetVariable(std::u32string_view name, Ref value) {
    Temporaries hold;
    hold[0] = value;
    SetEntry(LookupName(name, LookupMode::Create), kNameVariable, hold[0]);
    Release(hold[0]);
  }

  static Ref IntegerScalar(size_t n) { return MakeIntScalar(static_cast<int32_t>(std::min<size_t>(n, INT32_MAX))); }

  static Ref Integers(const std::vector<int64_t>& values) {
    Ref r = AllocVector(kInt32, static_cast<uint32_t>(values.size()));
    int32_t* data = DataOf<int32_t>(r);
    for (size_t i = 0; i < values.size(); ++i) data[i] = static_cast<int32_t>(std::min<int64_t>(values[i], INT32_MAX));
    Narrow(r);
    return r;
  }

  void Collect(const Match& m, CharacterCounter& counter) {
    if (!transformations_.codesGiven) {
      std::string item;
      Transform(item, m, counter);
      searchTexts_.push_back(std::move(item));
      return;
    }
    const size_t startChar = counter.At(m.ovector[0]);
    for (int code : transformations_.codes) {
      switch (code) {
        case 0: searchNumbers_.push_back(CharactersBefore(blockOffset_) + startChar); break;
        case 1: searchNumbers_.push_back(counter.At(std::max(m.ovector[0], m.ovector[1])) - startChar); break;
        case 2: searchNumbers_.push_back(blockNumber_); break;
        default: searchNumbers_.push_back(m.pattern); break;
      }
    }
    ++searchCount_;
  }

  Ref SearchResult() const {
    if (!transformations_.codesGiven) {
      return MakeNested({static_cast<uint32_t>(searchTexts_.size())},
                        [&](uint64_t i) { return TextOfUtf8(searchTexts_[i]); });
    }
    const size_t width = transformations_.codes.size();
    if (width == 1) return NumberVector(0, searchNumbers_.size());
    return MakeNested({static_cast<uint32_t>(searchCount_)},
                      [&](uint64_t i) { return NumberVector(i * width, width); });
  }

  Ref NumberVector(size_t first, size_t count) const {
    if (count > UINT32_MAX) SIGNAL_MESSAGE(kLimitError, U"Too many blocks");
    size_t widest = 0;
    for (size_t i = 0; i < count; ++i) widest = std::max(widest, searchNumbers_[first + i]);
    if (widest > INT32_MAX) SIGNAL_MESSAGE(kLimitError, U"Text too long");
    Ref r = AllocVector(kInt32, static_cast<uint32_t>(count));
    int32_t* data = DataOf<int32_t>(r);
    for (size_t i = 0; i < count; ++i) data[i] = static_cast<int32_t>(searchNumbers_[first + i]);
    Narrow(r);
    return r;
  }

  // Each block's output split into lines at its line endings. A last ending starts an empty line
  // only when `endingStartsLine`.
  Ref NestedResult(bool endingStartsLine) const {
    std::vector<std::string_view> lines;
    const std::string_view out(out_);
    size_t pieceStart = 0;
    for (const size_t pieceEnd : pieceEnds_) {
      const std::string_view piece = out.substr(0, pieceEnd);  // a CR at its end ends a line alone
      size_t start = pieceStart;
      const size_t before = lines.size();
      for (size_t i = pieceStart; i < pieceEnd; ++i) {
        const size_t width = MayStartLineEnd(static_cast<unsigned char>(out[i])) ? vantor::LineEndAt(piece, i, options_.neol) : 0;
        if (!width) continue;
        lines.push_back(out.substr(start, i - start));
        i += width - 1;
        start = i + 1;
      }
      if (start < pieceEnd || lines.size() == before || endingStartsLine) lines.push_back(out.substr(start, pieceEnd - start));
      pieceStart = pieceEnd;
    }
    if (lines.size() > UINT32_MAX) SIGNAL_MESSAGE(kLimitError, U"Too many blocks");
    return MakeNested({static_cast<uint32_t>(lines.size())}, [&](uint64_t i) { return TextOfUtf8(lines[i]); });
  }

  // ⎕R's text appended to the output file, encoded by OutEnc (when implied, as the input file was, or
  // UTF-8). Lines of nested input each end with the line ending.
  void WriteStream(bool nestedInput) {
    if (nestedInput) out_ += eol_.empty() ? std::string("\n") : eol_;
    const StreamEncoding e = options_.outEnc.implied ? inputEncoding_ : options_.outEnc;
    std::string bytes;
    if (e.encoding == TextEncoding::kUtf8 && IsAscii(out_)) {
      bytes = std::move(out_);
    } else {
      std::u32string text;
      for (size_t i = 0; i < out_.size();) text.push_back(DecodeOwnUtf8(out_, i));
      if (!EncodeText(text, e.encoding, bytes)) SIGNAL_MESSAGE(kTranslationError, U"Output stream translation error");
    }
    if (!AppendToTiedFile(*outputTie_, e.byteOrderMark ? ByteOrderMark(e.encoding) : "", bytes))
      SIGNAL_MESSAGE(kFileTieError, U"Output stream not tied");
  }

  bool replace_;
  Options options_;
  std::string eol_;  // EOL as UTF-8; empty: keep the input's line endings
  const Ref* derived_ = nullptr;
  std::unique_ptr<pcre2_match_context, decltype(&pcre2_match_context_free)> matchContext_{nullptr,
                                                                                          &pcre2_match_context_free};
  std::vector<Pattern> patterns_;
  std::vector<std::u32string> patternTexts_;
  Transformations transformations_;
  std::string requiredBytes_;  // a line without any of these cannot match
  std::vector<size_t> nextRequired_;
  // The document as UTF-8: owned_, or the argument's own bytes.
  std::string owned_;
  std::string_view subject_;
  bool ascii_ = false;
  std::vector<Span> lines_;  // the blocks of nested input
  bool fromStream_ = false;
  StreamEncoding inputEncoding_{false, TextEncoding::kUtf8, false};  // UTF-8 unless read from a file
  std::optional<int64_t> outputTie_;
  // The block being searched.
  std::string_view block_;
  size_t blockOffset_ = 0;
  size_t blockNumber_ = 0;
  size_t countedBytes_ = 0;
  size_t countedChars_ = 0;
  // ⎕R's output as UTF-8, with the end of each block's part when the result is nested.
  std::string out_;
  bool nestedResult_ = false;
  std::vector<size_t> pieceEnds_;
  std::vector<std::string> searchTexts_;
  std::vector<size_t> searchNumbers_;
  size_t searchCount_ = 0;
};

// Applies the ⎕R or ⎕S derived function `fn` with the options gathered so far.
CallResult ApplyRegex(const Ref& fn, const Ref& left, const Ref& right, const Options& options) {
  const bool replace = Words(fn)[kDerivedOperator] == kReplaceOperator;
  std::vector<int64_t> outputTie;
  if (left && (!replace || !argcheck::IsArrayValue(left) || RankOf(TypeWord(left)) > 1 || ElementCount(left) != 1 ||
               !ReadIntegers(left, outputTie)))
    SIGNAL_MESSAGE(kDomainError, U"Invalid output destination");
  if (options.omGiven && replace) SIGNAL_MESSAGE(kDomainError, U"Option '%ls': only allowed with search", U"OM");
  if (options.resultTextGiven && !replace)
    SIGNAL_MESSAGE(kDomainError, U"Option '%ls': only allowed with replace", U"ResultText");
  RegexRun run(replace, options);
  run.ReadOperands(fn);
  if (!outputTie.empty()) run.WriteTo(outputTie[0]);
  const Ref result = run.Apply(right);
  return {result, result == 0};
}

CallResult QuadR(const Ref& fn, const Ref& left, const Ref& right) { return ApplyRegex(fn, left, right, Options{}); }

bool IsRegexDerived(Ref fn) {
  if (!IsRef(fn) || KindOf(TypeWord(fn)) != kKindDerived) return false;
  const uint32_t op = Words(fn)[kDerivedOperator];
  return op == kReplaceOperator || op == kSearchOperator;
}

// ⎕XML as an operand: its system-function code.
bool IsXmlFunction(Ref fn) {
  static const uint32_t code = SystemFunctionCode(FindSystemName(U"XML")->code & 0xFF);
  return fn == code;
}

bool IsVariantDerived(Ref fn) {
  if (!IsRef(fn) || KindOf(TypeWord(fn)) != kKindDerived) return false;
  const uint32_t op = Words(fn)[kDerivedOperator];
  return op == kVariantOperator || op == kOptOperator;
}

// f⍠options, for ⎕R, ⎕S and ⎕XML: the options of nested applications are read innermost first, so
// outer ones win.
CallResult Variant(const Ref& fn, const Ref& left, const Ref& right) {
  std::vector<Ref> chain;
  Ref inner = fn;
  while (IsVariantDerived(inner)) {
    chain.push_back(inner);
    inner = Words(inner)[kDerivedLeftOperand];
  }
  if (IsXmlFunction(inner)) {
    std::vector<Ref> operands;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) operands.push_back(Words(*it)[kDerivedRightOperand]);
    return QuadXmlWithVariants(operands, left, right);
  }
  if (!IsRegexDerived(inner)) SIGNAL_MESSAGE(kDomainError, U"Invalid use of variant%ls", U"");
  Options options;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) ReadVariantOperand(options, Words(*it)[kDerivedRightOperand]);
  Temporaries hold;  // the ⎕R or ⎕S function, where compaction keeps it current
  hold[0] = Retained(inner);
  CallResult result = ApplyRegex(hold[0], left, right, options);
  Release(hold[0]);
  return result;
}

constexpr OperatorRow kRegexOperatorRows[] = {
    {kReplaceOperator, QuadR},
    {kSearchOperator, QuadR},
    {kOptOperator, Variant},
    {kVariantOperator, Variant},
};

}  // namespace

void InitialiseRegex() { InstallOperators(kRegexOperatorRows); }

}  // namespace vantor
