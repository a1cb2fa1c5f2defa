// The tokeniser: turns one line of APL text into a token stream, a byte code that the evaluator
// reads from its end towards its start, and a symbol list of the names, constants and texts that
// the tokens refer to by index. Defined functions keep their streams, so each line is scanned once.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "memory/decimal.h"
#include "memory/memory1.h"
#include "primitives/dispatch.h"

namespace vantor {

// ---- Token codes ------------------------------------------------------------------------------
// A token is identified by its last byte; its operand bytes come before it. Offsets inside tokens
// count from the first token byte (the 103 that starts every stream); "the offset of a token" is
// the offset of its last byte.


// Tokens with operand bytes (written first to last as shown).
enum TokenCode : uint8_t {
  kTokComment = 13,          // h l 13: the comment text, index h·256+l
  kTokDeclarationText = 26,  // h l 26: the rest of a declaration keyword's line, index h·256+l
  kTokIdiom = 27,            // o k 27: the o bytes before form idiom k (inserted by the idiom matcher)
  kTokNamespaceDot = 28,     // h l 28: h·256+l is the offset of the first byte of the left side
  kTokSegmentStart = 29,     // h l 29: written after a closing ), h·256+l is the offset of its (
  kTokSystemFunction = 61,   // k 61
  kTokSystemVariable = 62,   // k 62
  kTokSystemNiladic = 63,    // k 63
  kTokSystemOperator = 69,   // k 69
  kTokSpecialName = 76,      // n 76: n is a SpecialName
  kTokUnknown = 81,          // h l 81: unreadable text, index h·256+l
  kTokStrand = 86,           // i 86: a constant of two or more numbers
  kTokConstant = 87,         // i 87: one number or a character constant
  kTokBlanks = 94,           // b 94: blanks before a comment
  kTokExtension = 95,        // h l 95: h·256+l replaces the index (or count) of the token to its left
  kTokDiamond = 102,         // l h 102: l+256·h is the offset of the previous statement start
  kTokLineStart = 103,       // the first token byte
  kTokLabel = 106,           // i 106: the name token before it is the line's label; i its index's low byte
  kTokStructure = 111,       // 0 h l c 111: structure code c, h·256+l the previous structure token
  kTokFirstName = 112,       // 112+i: the name with symbol index i (i below 144)
};

// A name with index kShortNameLimit or more is written 112 h l 95.
inline constexpr uint32_t kShortNameLimit = 144;

enum SpecialName : uint8_t {
  kSpecialAlpha = 0,        // ⍺
  kSpecialOmega = 1,        // ⍵
  kSpecialDel = 2,          // ∇
  kSpecialAlphaAlpha = 3,   // ⍺⍺
  kSpecialOmegaOmega = 4,   // ⍵⍵
  kSpecialDelDel = 5,       // ∇∇
};

// Structure codes that the scanner itself writes; the control keywords have their codes in ctrl.h.
enum StructureCode : uint8_t {
  kStructEndOfLine = 17,      // the line flags asked for an end-of-line token
  kStructDfnOpen = 27,        // {
  kStructGuard = 28,          // the guard colon in a dfn
  kStructDfnDiamond = 29,     // ⋄ inside a dfn
  kStructDfnEnd = 30,         // } of a dfn that uses neither ⍺⍺ nor ⍵⍵
  kStructMonadicDopEnd = 31,  // } of a dfn that uses ⍺⍺ but not ⍵⍵
  kStructDyadicDopEnd = 32,   // } of a dfn that uses ⍵⍵
  kStructDefaultAlpha = 33,   // ⍺← (replaces the ⍺ token and the ←)
  kStructErrorGuard = 34,     // :: in a dfn
  kStructDfnContinues = 35,   // the line ends inside a dfn; preceded by two zero bytes
};

// What a dfn uses, recorded in the flag word of its nesting level.
enum DfnUse : uint32_t {
  kDfnUsesOmega = 4,
  kDfnUsesAlpha = 8,
  kDfnDefaultAlpha = 16,
  kDfnUsesAlphaAlpha = 128,
  kDfnUsesOmegaOmega = 256,
};

// ---- The token format ---------------------------------------------------------------------------
// One table says, for every code below kTokFirstName, the character it is written as, how many bytes
// its token takes, and how the evaluator treats it. The scanner writes tokens by it, the decoder reads
// them back to text by it, and the evaluator reads them by it.

// The characters of single-byte codes; where two characters share a code the first is written back.
struct CodeCharacter {
  uint8_t code;
  char32_t character;
};
inline constexpr CodeCharacter kCodeCharacters[] = {
    {2, U'+'},  {3, U'-'},  {4, U'×'},  {5, U'÷'},  {6, U'⌈'},  {7, U'⌊'},  {8, U'*'},  {9, U'⍟'},
    {10, U'|'}, {10, U'∣'}, {11, U'!'}, {12, U'○'}, {14, U'~'}, {15, U'∨'}, {16, U'∧'}, {16, U'^'},
    {17, U'⍱'}, {18, U'⍲'}, {19, U'<'}, {20, U'≤'}, {21, U'='}, {22, U'≥'}, {23, U'>'}, {24, U'≠'},
    {30, U'≡'}, {31, U'≢'}, {32, U'⍴'}, {33, U','}, {34, U'⍪'}, {35, U'⍳'}, {36, U'↑'}, {37, U'↓'},
    {38, U'?'}, {39, U'⍒'}, {40, U'⍋'}, {41, U'⍉'}, {42, U'⌽'}, {43, U'⊖'}, {44, U'∊'}, {45, U'⊥'},
    {46, U'⊤'}, {47, U'⍎'}, {48, U'⍕'}, {49, U'⌹'}, {50, U'⊂'}, {51, U'⊃'}, {52, U'∪'}, {53, U'∩'},
    {54, U'⍷'}, {55, U'⌷'}, {56, U'∘'}, {57, U'→'}, {58, U'←'}, {59, U'⎕'}, {60, U'⍞'}, {64, U'/'},
    {65, U'⌿'}, {66, U'\\'}, {67, U'⍀'}, {68, U'.'}, {71, U'¨'}, {72, U'⍣'}, {73, U'&'}, {74, U'⍨'},
    {75, U'⌶'}, {77, U'#'}, {82, U'⊣'}, {83, U'⊢'}, {84, U'⍠'}, {85, U'⍤'}, {89, U'⌸'}, {96, U'('},
    {97, U')'}, {98, U'['}, {99, U']'}, {100, U';'}, {107, U'⍬'},
};

// How the evaluator treats a token.
enum TokenClass : uint8_t {
  kTcReject,          // codes the scanner never writes: SYNTAX ERROR
  kTcNonce,           // codes of facilities this interpreter does not have
  kTcSystemError,     // code 70
  kTcConstant01,      // the shared 0 and 1
  kTcFunction,        // primitive functions
  kTcSkip,            // read past: comments, declaration text, blanks
  kTcIdiom,           // [o][k][27]
  kTcNamespaceDot,    // [h][l][28]
  kTcSegment,         // [h][l][29]
  kTcJot,
  kTcBranch,
  kTcAssign,
  kTcQuadInput,       // ⎕
  kTcQuoteInput,      // ⍞
  kTcSystemName,      // [k][61/62/63/69]
  kTcDyadicOperator,
  kTcMonadicOperator,
  kTcDfnName,         // [n][76]
  kTcRootSpace,
  kTcParentSpace,
  kTcUnknown,         // [h][l][81]
  kTcConstant,        // [i][86/87]
  kTcExtension,       // [.. h l 95]
  kTcOpenParen,
  kTcCloseParen,
  kTcOpenBracket,
  kTcCloseBracket,
  kTcSemicolon,
  kTcStatementEnd,    // ⋄ [l][h][102], label mark [i][106]
  kTcLineStart,       // 103
  kTcZilde,
  kTcStructure,       // [0][h][l][c][111]
};

struct TokenFormat {
  char32_t character = 0;  // what the code is written as (0: none)
  uint8_t length = 1;      // bytes of the token, its code included (see TokenLengthBefore for 95 and 111)
  TokenClass cls = kTcReject;
};

constexpr std::array<TokenFormat, kTokFirstName> MakeTokenFormat() {
  std::array<TokenFormat, kTokFirstName> t{};
  auto set = [&t](std::initializer_list<int> codes, uint8_t length, TokenClass cls) {
    for (int c : codes) t[c].length = length, t[c].cls = cls;
  };
  auto range = [&t](int first, int last, TokenClass cls) {
    for (int c = first; c <= last; ++c) t[c].cls = cls;
  };
  set({0, 1}, 1, kTcConstant01);
  range(2, 12, kTcFunction);
  range(14, 24, kTcFunction);
  range(30, 55, kTcFunction);
  range(64, 67, kTcFunction);
  set({82, 83}, 1, kTcFunction);
  set({kTokComment, kTokDeclarationText}, 3, kTcSkip);
  set({kTokBlanks}, 2, kTcSkip);
  set({104}, 1, kTcSkip);
  set({kTokIdiom}, 3, kTcIdiom);
  set({kTokNamespaceDot}, 3, kTcNamespaceDot);
  set({kTokSegmentStart}, 3, kTcSegment);
  set({56}, 1, kTcJot);
  set({57}, 1, kTcBranch);
  set({58}, 1, kTcAssign);
  set({59}, 1, kTcQuadInput);
  set({60}, 1, kTcQuoteInput);
  set({kTokSystemFunction, kTokSystemVariable, kTokSystemNiladic, kTokSystemOperator}, 2, kTcSystemName);
  set({68, 72, 85, 84}, 1, kTcDyadicOperator);
  set({71, 73, 74, 75, 89}, 1, kTcMonadicOperator);
  set({kTokSpecialName}, 2, kTcDfnName);
  set({77}, 1, kTcRootSpace);
  set({78}, 1, kTcParentSpace);
  set({kTokUnknown}, 3, kTcUnknown);
  set({kTokStrand, kTokConstant}, 2, kTcConstant);
  set({kTokExtension}, 4, kTcExtension);
  set({96}, 1, kTcOpenParen);
  set({97}, 1, kTcCloseParen);
  set({98}, 1, kTcOpenBracket);
  set({99}, 1, kTcCloseBracket);
  set({100}, 1, kTcSemicolon);
  set({kTokDiamond}, 3, kTcStatementEnd);
  set({kTokLabel}, 2, kTcStatementEnd);
  set({kTokLineStart}, 1, kTcLineStart);
  set({107}, 1, kTcZilde);
  set({kTokStructure}, 5, kTcStructure);
  set({70}, 1, kTcSystemError);
  set({80, 88, 90, 91, 92, 93}, 1, kTcNonce);
  for (const CodeCharacter& e : kCodeCharacters)
    if (t[e.code].character == 0) t[e.code].character = e.character;
  return t;
}
inline constexpr std::array<TokenFormat, kTokFirstName> kTokenFormat = MakeTokenFormat();

// The length of the token whose last byte is bytes[end - 1]. An extension (95) is five bytes unless
// it extends a name; a structure token that continues a dfn on the next line carries two zero bytes
// before it.
inline uint32_t TokenLengthBefore(const uint8_t* bytes, uint32_t end) {
  uint8_t code = bytes[end - 1];
  if (code >= kTokFirstName) return 1;
  if (code == kTokExtension) return bytes[end - 4] == kTokFirstName ? 4 : 5;
  if (code == kTokStructure && bytes[end - 2] == kStructDfnContinues) return 7;
  return kTokenFormat[code].length;
}

// ---- The token stream ---------------------------------------------------------------------------
// A simple array of 8-bit characters, rank 1, whose shape word holds 16 + n: a 16-byte header and
// n token bytes.

inline constexpr uint32_t kTokenHeaderBytes = 16;
enum TokenHeaderField : uint32_t {
  kHeaderLabel = 0,           // 2 bytes: the label's symbol index, kNoLabel when none
  kHeaderStructureChain = 2,  // 2 bytes: offset of the last structure token, 0 when none
  kHeaderLeadingBlanks = 4,   // 4 bytes: blanks before the first token (0 when 1,024 or more)
  kHeaderDfnDepth = 8,        // 4 bytes: dfn depth at the end of the line
  kHeaderLineFlags = 12,      // 4 bytes: line flags at the end of the line
};
inline constexpr uint16_t kNoLabel = 65535;
inline constexpr uint32_t kMaxTokenBytes = 65535;

inline uint8_t* TokenHeader(Ref stream) { return DataOf<uint8_t>(stream); }
inline uint8_t* TokenBytes(Ref stream) { return DataOf<uint8_t>(stream) + kTokenHeaderBytes; }
inline uint32_t TokenByteCount(Ref stream) { return ShapeOf(stream)[0] - kTokenHeaderBytes; }
inline uint32_t HeaderField16(Ref stream, uint32_t field) {
  uint16_t v;
  std::memcpy(&v, TokenHeader(stream) + field, 2);
  return v;
}
inline uint32_t HeaderField32(Ref stream, uint32_t field) {
  uint32_t v;
  std::memcpy(&v, TokenHeader(stream) + field, 4);
  return v;
}

// ---- The symbol list ----------------------------------------------------------------------------
// A reference list (kind 2): the entry count in type-word bits 4-15, the entries from word 3. A name
// is listed as its NameEntry; constants and texts as their (shared, interned) pockets.

inline constexpr uint32_t kSymbolListFirstEntry = 3;
inline constexpr uint32_t kMaxSymbols = 4095;  // indexes 0 to 4,094
inline uint32_t SymbolCount(Ref list) { return (TypeWord(list) >> kRankShift) & 0xFFF; }
inline Ref SymbolAt(Ref list, uint32_t index) { return Words(list)[kSymbolListFirstEntry + index]; }

// ---- Scanning -------------------------------------------------------------------------------------

// One flag word per dfn nesting level (DfnUse bits); a multi-line dfn carries it from line to line.
using DfnFlagTable = std::array<uint32_t, 256>;

// The low byte of the line flags asks for an end-of-line structure token.
inline constexpr uint32_t kLineFlagEndToken = 1;

// Optional scanner state, read at the start of a line and written back at its end.
struct ScanState {
  uint32_t dfnDepth = 0;            // in/out: dfn nesting depth (0-255)
  uint32_t lineFlags = 0;           // in/out
  DfnFlagTable* dfnFlags = nullptr; // in/out: when null the scanner uses a table of its own
  // In: extend the symbol list held in kRootSymbolList (a defined function's list, all of whose
  // lines share it) instead of starting a fresh one; a 0 there starts a list that is kept unshrunk.
  bool extendSymbolList = false;
  // In: when set, consulted for every keyword met (class scripts); refusing one fails the scan
  // with kScanKeywordRejected.
  bool (*acceptKeyword)(uint8_t code) = nullptr;
  bool unbalancedQuote = false;     // out: a string had no closing quote
};

enum ScanResult : int {
  kScanOk = 0,
  kScanSymbolListFull = -2,    // the line would need a symbol index of 4,095 or more
  kScanKeywordRejected = -4,   // acceptKeyword refused a keyword
};

// Scans one line. On kScanOk the token stream is in working slot kSlotTokens and the symbol list in
// root word kRootSymbolList; whatever those held before is released, so a caller that still needs
// them saves them (retained) first. A list that had to grow is a new pocket: read it back from the
// root word. On any other result, and on an error (LIMIT ERROR for a stream over 65,535 bytes,
// DOMAIN ERROR for a number that is not finite, WS FULL, INTERRUPT), the token slot is left empty.
int Scan(std::u32string_view line, ScanState* state = nullptr);
// The same for a line held as a character vector or scalar of any character type.
int ScanPocket(Ref line, ScanState* state = nullptr);

// Registers the pocket kind of the index records and the space trimmer that drops interned items
// nothing else uses any more. Call once at start-up, after the heap exists.
void InitialiseScanner();

// Root words of the tokeniser.
enum ScanRootWord : uint32_t {
  kRootInternTable = kRootScanWords,  // the workspace-wide table of interned constants and names
};

// The character a single-byte code stands for (0 when the code has none), for writing tokens back as
// text. ## (78) is the only code of two characters and is written by the caller.
inline char32_t PrimitiveCharacter(uint8_t code) { return code < kTokFirstName ? kTokenFormat[code].character : 0; }

// ---- Numbers as text ----------------------------------------------------------------------------
// The one reader of numbers written the APL way: [¯]digits[.digits][E[¯]digits] (or a leading point),
// optionally followed by J and an imaginary part of the same form; e and j may be lower case. ⎕VFI
// reads its fields with it too.

// One number as read from the text, in the plain ASCII form the converters take ("-1.5e-3").
struct NumberSyntax {
  size_t length = 0;  // characters taken (for an invalid number: up to the end of the number-like run)
  bool valid = false;
  bool complex = false;
  std::string real, imaginary;
};

// Reads the number at the start of `text`. It is invalid when the text does not start with one, or
// when a name character, a point or ¯ follows it directly.
NumberSyntax ReadNumber(std::u32string_view text);
// An ASCII number ("-1.5e-3") as binary64, through double-conversion; ±infinity when it overflows.
double AsciiToDouble(std::string_view text);
// The same as decimal128, with trailing zeros of the significand moved into the exponent (so that
// 1.5 and 1.50 are one value); infinite when it overflows.
BID_UINT128 AsciiToDecimal(std::string text);

// The characters that may appear in names: letters, _, ∆, ⍙, Ⓐ-Ⓩ, most Latin-1 letters; digits
// continue a name but do not start one.
bool IsNameStart(char32_t c);
bool IsNameCharacter(char32_t c);

}  // namespace vantor
