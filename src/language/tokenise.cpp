// Token streams back to text. A stream is decoded from its end (a token is known by its last byte)
// into a list of tokens in source order; each token is rendered from the code table, the keyword
// table, the system-name registry or its symbol-list item, and the pieces are joined with the few
// blanks that keep them apart when the text is scanned again.
#include "language/tokenise.h"

#include <double-conversion/double-to-string.h>

#include <vector>

#include "language/ctrl.h"
#include "primitives/dispatch.h"
#include "language/scan.h"
#include "language/space.h"
#include "base/errors.h"
#include "memory/decimal.h"
#include "sysfns/qsys.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "tokenise";

namespace {

// ---- Numbers and strings -------------------------------------------------------------------------

std::u32string Ascii(std::string_view text) {
  std::u32string out;
  for (char c : text) out.push_back(c == '-' ? U'¯' : static_cast<char32_t>(c));
  return out;
}

std::u32string IntegerText(int64_t v) { return Ascii(std::to_string(v)); }

std::u32string FloatText(double v) {
  static const double_conversion::DoubleToStringConverter converter(
      double_conversion::DoubleToStringConverter::NO_FLAGS, "", "", 'E', -6, 17, 0, 0);
  char buffer[64];
  double_conversion::StringBuilder builder(buffer, sizeof buffer);
  converter.ToShortest(v, &builder);
  return Ascii(builder.Finalize());
}

__extension__ typedef unsigned __int128 Uint128;

// A finite decimal128 value (binary-integer encoding) as significand digits and exponent, written
// plainly when that is short and with E otherwise.
std::u32string DecimalText(const uint8_t* bytes) {
  uint64_t lo, hi;
  std::memcpy(&lo, bytes, 8);
  std::memcpy(&hi, bytes + 8, 8);
  bool negative = hi >> 63;
  int exponent = static_cast<int>((hi >> 49) & 0x3FFF) - 6176;
  Uint128 significand = (static_cast<Uint128>(hi & 0x1FFFFFFFFFFFFull) << 64) | lo;
  if (((hi >> 61) & 3) == 3) significand = 0;  // the large-significand form is never canonical
  while (significand != 0 && significand % 10 == 0) {
    significand /= 10;
    ++exponent;
  }
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(significand % 10)));
    significand /= 10;
  } while (significand != 0);
  if (digits == "0") exponent = 0;
  int adjusted = exponent + static_cast<int>(digits.size()) - 1;
  std::string text;
  if (exponent >= 0 && adjusted < 21) {
    text = digits + std::string(static_cast<size_t>(exponent), '0');
  } else if (exponent < 0 && adjusted >= -7) {
    text = adjusted >= 0 ? digits.substr(0, static_cast<size_t>(adjusted) + 1) + "." + digits.substr(adjusted + 1)
                         : "0." + std::string(static_cast<size_t>(-adjusted - 1), '0') + digits;
  } else {
    text = digits.substr(0, 1) + (digits.size() > 1 ? "." + digits.substr(1) : "") + "E" + std::to_string(adjusted);
  }
  return Ascii((negative ? "-" : "") + text);
}

// The text of element i of a simple numeric array.
std::u32string NumberText(Ref array, uint64_t i) {
  switch (ElementOf(TypeWord(array))) {
    case kBool: return IntegerText(GetBit(DataOf<uint8_t>(array), i));
    case kInt8: return IntegerText(DataOf<int8_t>(array)[i]);
    case kInt16: return IntegerText(DataOf<int16_t>(array)[i]);
    case kInt32: return IntegerText(DataOf<int32_t>(array)[i]);
    case kInt64: return IntegerText(DataOf<int64_t>(array)[i]);
    case kFloat64: return FloatText(DataOf<double>(array)[i]);
    case kComplex: {
      double re = DataOf<double>(array)[2 * i], im = DataOf<double>(array)[2 * i + 1];
      return im == 0 ? FloatText(re) : FloatText(re) + U"J" + FloatText(im);
    }
    case kDecimal128: return DecimalText(DataOf<uint8_t>(array) + 16 * i);
    default: return U"";
  }
}

std::u32string Quoted(Ref array) {
  std::u32string text = U"'";
  for (char32_t c : CharacterText(array)) {
    text.push_back(c);
    if (c == U'\'') text.push_back(c);
  }
  return text + U"'";
}

std::vector<std::u32string> NumberTexts(Ref array) {
  std::vector<std::u32string> texts;
  for (uint64_t i = 0, n = ElementCount(array); i < n; ++i) texts.push_back(NumberText(array, i));
  return texts;
}

// The text an item of a symbol list stands for: a name, or the characters of a text.
std::u32string ItemText(Ref item) {
  if (!IsRef(item)) return U"";
  if (KindOf(TypeWord(item)) == kKindName) return EntryName(item);
  return IsSimpleCharacterArray(item) ? CharacterText(item) : ConstantText(item);
}

// ---- Decoding -------------------------------------------------------------------------------------

struct Token {
  uint8_t code;    // the token's last byte (kTokFirstName for every name)
  uint32_t value;  // symbol index, count, structure or primitive code, registry number
};

uint32_t Pair(const std::vector<uint8_t>& b, size_t highAt) { return b[highAt] * 256u + b[highAt + 1]; }

// The tokens of a stream in source order. Decoding stops at bytes that form no token.
std::vector<Token> Decode(std::span<const uint8_t> tokens) {
  std::vector<uint8_t> b(tokens.begin(), tokens.end());
  std::vector<Token> out;
  size_t i = b.size();
  while (i > 0) {
    uint8_t code = b[i - 1];
    if (code >= kTokFirstName) {
      out.push_back({kTokFirstName, static_cast<uint32_t>(code - kTokFirstName)});
      i -= 1;
      continue;
    }
    // The bytes a token needs are checked before any of them is read.
    size_t least = code == kTokStructure ? 5 : kTokenFormat[code].length;
    if (i < least) return {};
    size_t length = TokenLengthBefore(b.data(), static_cast<uint32_t>(i));
    if (i < length) return {};
    switch (code) {
      case kTokExtension: {
        uint8_t inner = b[i - 4];
        if (inner != kTokFirstName && inner != kTokStrand && inner != kTokConstant && inner != kTokBlanks) return {};
        out.push_back({inner, Pair(b, i - 3)});
        break;
      }
      case kTokStructure: out.push_back({code, b[i - 2]}); break;
      default:
        if (length == 1) out.push_back({code, code});
        else if (length == 2) out.push_back({code, b[i - 2]});
        else out.push_back({code, Pair(b, i - 3)});
    }
    i -= length;
  }
  return {out.rbegin(), out.rend()};
}

// ---- Rendering ------------------------------------------------------------------------------------

enum class Spacing : uint8_t {
  ByCharacters,  // a blank only where the neighbours would run together
  Glued,         // straight after the previous piece (comments, declaration text)
  Separated,     // blanks around (⋄) or after (keywords)
  Hidden,        // no text
};

struct Piece {
  std::u32string text;
  Spacing spacing = Spacing::ByCharacters;
  uint8_t code = 0;  // the token's code, for the spacing rules
};

const char32_t* const kSpecialNames[] = {U"⍺", U"⍵", U"∇", U"⍺⍺", U"⍵⍵", U"∇∇"};

// The class of the system name a token carries.
uint32_t SystemNameClass(uint8_t tokenCode) {
  static constexpr uint32_t kClassOf[] = {kSystemFunction, kSystemVariable, kSystemNiladic};
  return tokenCode == kTokSystemOperator ? kSystemOperator : kClassOf[tokenCode - kTokSystemFunction];
}

Piece StructurePiece(uint32_t code) {
  if (code == kStructDfnDiamond) return {U"⋄", Spacing::Separated, kTokDiamond};
  if (code == kStructDfnContinues) return {U"\n", Spacing::Glued, kTokStructure};
  const KeywordEntry* entry = KeywordByCode(code);
  std::u32string text = entry ? std::u32string(entry->written) : U"";
  if (text.empty()) return {U"", Spacing::Hidden, kTokStructure};
  bool keyword = code < kStructDfnOpen || code > kStructDfnContinues;
  return {text, keyword ? Spacing::Separated : Spacing::ByCharacters, kTokStructure};
}

Ref SymbolItem(Ref symbols, uint32_t index) {
  return IsRef(symbols) && index < SymbolCount(symbols) ? SymbolAt(symbols, index) : 0;
}

Piece Render(const Token& t, Ref symbols) {
  switch (t.code) {
    case kTokFirstName: return {ItemText(SymbolItem(symbols, t.value)), Spacing::ByCharacters, kTokFirstName};
    case kTokStrand:
    case kTokConstant: {
      Ref item = SymbolItem(symbols, t.value);
      return {IsRef(item) ? ConstantText(item) : U"", Spacing::ByCharacters, t.code};
    }
    case kTokSystemFunction:
    case kTokSystemVariable:
    case kTokSystemNiladic:
    case kTokSystemOperator: return {SystemNameText(t.value, SystemNameClass(t.code)), Spacing::ByCharacters, t.code};
    case kTokSpecialName: return {t.value < 6 ? kSpecialNames[t.value] : U""};
    case kTokUnknown: {
      // The blank item after an unknown ⎕-name only marks where the name ends.
      std::u32string text = ItemText(SymbolItem(symbols, t.value));
      return {text == U" " ? U"" : text, Spacing::ByCharacters, kTokUnknown};
    }
    case kTokComment:
    case kTokDeclarationText: return {ItemText(SymbolItem(symbols, t.value)), Spacing::Glued};
    case kTokBlanks: return {std::u32string(t.value, U' '), Spacing::Glued};
    case kTokDiamond: return {U"⋄", Spacing::Separated, kTokDiamond};
    case kTokLabel: return {U":"};
    case kTokStructure: return StructurePiece(t.value);
    case kTokNamespaceDot: return {U".", Spacing::ByCharacters, kPrimDot};
    case kPrimParent: return {U"##"};
    case kTokLineStart:
    case kTokSegmentStart:
    case kTokIdiom: return {U"", Spacing::Hidden};
    default: {
      char32_t c = PrimitiveCharacter(t.code);
      return {c ? std::u32string(1, c) : U"", c ? Spacing::ByCharacters : Spacing::Hidden, t.code};
    }
  }
}

bool RunsTogether(char32_t c) { return IsNameCharacter(c) || c == U'¯'; }

// Whether two pieces need a blank between them so that they scan apart again.
bool NeedsBlank(const Piece& left, const Piece& right) {
  char32_t a = left.text.back(), b = right.text.front();
  // A number, or a malformed one kept as an unknown item, would take in a following . or name.
  bool numeric = left.code == kTokConstant || left.code == kTokStrand || left.code == kTokUnknown;
  if (numeric && (RunsTogether(a) || a == U'.') && (RunsTogether(b) || b == U'.')) return true;
  if (RunsTogether(a) && (RunsTogether(b) || b == U'⎕')) return true;
  if (left.code == kPrimQuad && RunsTogether(b)) return true;  // ⎕ and a name would read as a ⎕-name
  if (a == b && (a == U'\'' || a == U'⍺' || a == U'⍵' || a == U'∇' || a == U'#' || a == U':')) return true;
  return left.code == kPrimDot && ((b >= U'0' && b <= U'9') || b == U'.');  // .5 and ..5 start numbers
}

std::vector<Piece> Pieces(std::span<const uint8_t> tokens, Ref symbols) {
  std::vector<Piece> pieces;
  for (const Token& t : Decode(tokens)) {
    Piece p = Render(t, symbols);
    if (!p.text.empty()) pieces.push_back(std::move(p));
  }
  // A line that ends inside a dfn ends there: only breaks within the text are written.
  if (!pieces.empty() && pieces.back().text == U"\n") pieces.pop_back();
  return pieces;
}

}  // namespace

std::u32string ConstantText(Ref constant) {
  if (IsSimpleCharacterArray(constant)) return Quoted(constant);
  std::u32string text;
  for (const std::u32string& number : NumberTexts(constant)) text += (text.empty() ? U"" : U" ") + number;
  return text;
}

std::u32string TokensText(std::span<const uint8_t> tokens, Ref symbols, uint32_t leadingBlanks) {
  std::u32string text(leadingBlanks, U' ');
  const Piece* previous = nullptr;
  bool blankOwed = false;
  for (const Piece& piece : Pieces(tokens, symbols)) {
    bool blank = false;
    if (previous && piece.spacing != Spacing::Glued) {
      blank = blankOwed || piece.spacing == Spacing::Separated || NeedsBlank(*previous, piece);
    }
    if (blank && !text.empty() && text.back() != U' ') text.push_back(U' ');
    text += piece.text;
    blankOwed = piece.spacing == Spacing::Separated;
    previous = &piece;
  }
  return text;
}

std::u32string LineText(Ref stream, Ref symbols) {
  std::span<const uint8_t> tokens(TokenBytes(stream), TokenByteCount(stream));
  return TokensText(tokens, symbols, HeaderField32(stream, kHeaderLeadingBlanks));
}

namespace {

// The tokens of one scanned line as texts for the tokenising service.
void AppendTokenTexts(std::vector<std::u32string>& out) {
  Ref stream = WorkingSlot(kSlotTokens);
  Ref symbols = RootWordAt(kRootSymbolList);
  for (const Token& t : Decode({TokenBytes(stream), TokenByteCount(stream)})) {
    if (t.code == kTokStrand) {
      for (std::u32string& number : NumberTexts(SymbolItem(symbols, t.value))) out.push_back(std::move(number));
      continue;
    }
    Piece p = Render(t, symbols);
    if (t.code == kTokBlanks || p.text.find_first_not_of(U" \n") == std::u32string::npos) continue;
    if (t.code == kTokDeclarationText) p.text.erase(0, p.text.find_first_not_of(U" \t"));
    out.push_back(std::move(p.text));
  }
}

// Keeps the evaluator's token slot and symbol list aside while the service scans, and puts them
// back however the scan ends.
class SlotsSaved {
 public:
  SlotsSaved() {
    saved_[0] = WorkingSlot(kSlotTokens);
    saved_[1] = RootWordAt(kRootSymbolList);
    WorkingSlot(kSlotTokens) = 0;
    RootWordAt(kRootSymbolList) = 0;
  }
  ~SlotsSaved() {
    Release(WorkingSlot(kSlotTokens));
    Release(RootWordAt(kRootSymbolList));
    WorkingSlot(kSlotTokens) = saved_.Take(0);
    RootWordAt(kRootSymbolList) = saved_.Take(1);
  }
  SlotsSaved(const SlotsSaved&) = delete;
  SlotsSaved& operator=(const SlotsSaved&) = delete;

 private:
  Temporaries saved_;
};

bool IsLineEnd(char32_t c) { return c == U'\r' || c == U'\n' || c == 0x85; }

Ref TextVector(std::u32string_view text) {
  Ref r = AllocVector(kChar32, static_cast<uint32_t>(text.size()));
  std::memcpy(DataOf<char32_t>(r), text.data(), text.size() * sizeof(char32_t));
  Narrow(r);
  return r;
}

}  // namespace

Ref TokeniseText(std::u32string_view text) {
  std::vector<std::u32string> texts;
  {
    SlotsSaved saved;
    DfnFlagTable flags{};
    ScanState state;
    state.dfnFlags = &flags;
    for (size_t start = 0; start <= text.size();) {
      size_t end = start;
      while (end < text.size() && !IsLineEnd(text[end])) ++end;
      if (Scan(text.substr(start, end - start), &state) != kScanOk) SIGNAL(kLimitError);  // a full symbol list
      AppendTokenTexts(texts);
      start = end + 1;
    }
  }
  Temporaries t;
  t[0] = AllocVector(kRefElement, static_cast<uint32_t>(texts.size()));
  if (texts.empty()) {
    DataOf<Ref>(t[0])[0] = RootWordAt(kRootEmptyCharVector);
    Retain(RootWordAt(kRootEmptyCharVector));
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    Ref item = TextVector(texts[i]);
    DataOf<Ref>(t[0])[i] = item;
  }
  return t.Take(0);
}

}  // namespace vantor
