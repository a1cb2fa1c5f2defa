// Control structures: the keyword table that the tokeniser uses to turn :If, :For, :Class and the
// other keywords (and the dfn punctuation) into structure codes, and that the control-structure
// machinery and the function display read back by code.
#pragma once
#include <cstdint>
#include <string_view>

namespace vantor {

// Codes of the control keywords as they appear in structure tokens. The dfn punctuation and the
// scanner's own structure codes (17, 27-35) are named in scan.h.
enum KeywordCode : uint8_t {
  kKeyIf = 0,
  kKeyAndIf = 1,
  kKeyOrIf = 2,
  kKeyElseIf = 3,
  kKeyElse = 4,
  kKeyEndIf = 5,
  kKeyWhile = 6,
  kKeyEndWhile = 7,
  kKeyRepeat = 8,
  kKeyUntil = 9,
  kKeyEndRepeat = 10,
  kKeyFor = 11,
  kKeyIn = 12,
  kKeyEndFor = 13,
  kKeySelect = 14,
  kKeyCase = 15,
  kKeyCaseList = 16,
  kKeyClauseVariant = 17,  // inserted by the fixer in :If/:Select/:Trap clause chains
  kKeyEndSelect = 18,
  kKeyEnd = 19,
  kKeyWhileAndIf = 21,     // :AndIf attached to :While or :Until by the fixer
  kKeyWhileOrIf = 22,      // :OrIf attached to :While or :Until by the fixer
  kKeyGoTo = 23,
  kKeyReturn = 24,
  kKeyContinue = 25,
  kKeyLeave = 26,
  kKeyTrap = 36,
  kKeyEndTrap = 37,
  kKeyHold = 38,
  kKeyEndHold = 39,
  kKeyWith = 40,
  kKeyEndWith = 41,
  kKeyInEach = 42,
  kKeyAccess = 43,
  kKeyImplements = 44,
  kKeyRequire = 45,
  kKeyPragma = 47,
  kKeySignature = 48,
  kKeyAttribute = 49,
  kKeyClass = 50,
  kKeyEndClass = 51,
  kKeyInterface = 52,
  kKeyEndInterface = 53,
  kKeyNamespace = 54,
  kKeyEndNamespace = 55,
  kKeyProperty = 56,
  kKeyEndProperty = 57,
  kKeyField = 60,
  kKeyFunctionDelimiter = 61,  // ∇ in a script
  kKeyInclude = 62,
  kKeyUsing = 63,
  kKeySection = 64,
  kKeyEndSection = 65,
  kKeyDisposable = 66,
  kKeyEndDisposable = 67,
};

inline constexpr uint32_t kKeywordCodeLimit = 68;  // codes are below this
inline constexpr uint32_t kKeywordCount = 64;

// Keywords with codes in this range take the rest of their line as text (declarations).
inline constexpr uint8_t kFirstDeclarationKeyword = 43;
inline constexpr uint8_t kLastDeclarationKeyword = 65;
inline constexpr bool TakesRestOfLine(uint8_t code) {
  return code >= kFirstDeclarationKeyword && code <= kLastDeclarationKeyword;
}

struct KeywordEntry {
  std::u16string_view key;      // upper-case lookup name; "dodgy" for entries that cannot be typed
  std::u32string_view written;  // how the keyword is written (":If", "{", "⋄"); empty when invisible
  uint8_t code;
  bool closer;      // ends a block
  bool opensBlock;  // starts a block
};

// Looks a keyword up by the word after the colon: first as written, then with a-z in upper case.
// Internal entries are never found. Returns nullptr for an unknown word.
const KeywordEntry* FindKeyword(std::u32string_view word);

// The entry with a given code, or nullptr for a code without one.
const KeywordEntry* KeywordByCode(uint32_t code);

}  // namespace vantor
