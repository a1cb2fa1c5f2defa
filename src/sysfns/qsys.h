// The system-name registry: every name that begins with ⎕, with its class (system function, system
// variable, niladic system function or system operator) and its number within that class, which the
// tokeniser writes into the token and the evaluator turns into a handler.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vantor {

enum SystemNameClass : uint32_t {
  kSystemFunction = 0,
  kSystemVariable = 1,
  kSystemNiladic = 2,
  kSystemOperator = 3,
};

// One registry row. `name` is the upper-case name without ⎕, zero-terminated UTF-16. The low byte
// of `code` is the entry's number k within its class; the high byte holds the flags below.
struct SystemNameEntry {
  const char16_t* name;
  uint16_t code;
  uint32_t cls;
};

inline constexpr uint16_t kSystemNameListed = 1u << 8;     // listed with the system function names
inline constexpr uint16_t kSystemNameCompleted = 2u << 8;  // offered when completing a partly typed ⎕-name

inline constexpr uint32_t kSystemNameCount = 170;
// Names longer than this are never looked up.
inline constexpr uint32_t kSystemNameMaxLength = 31;

// System variables 11 and 12 are internal names that stand for ⎕ and ⍞ themselves.
inline constexpr uint32_t kQuadVariable = 11;
inline constexpr uint32_t kQuoteQuadVariable = 12;

inline constexpr uint32_t SystemNameNumber(const SystemNameEntry& e) { return e.code & 0xFFu; }

// How a registry number reaches its handler: a system function k is entry 239 − k of the
// evaluator's monadic and dyadic tables (codes 112..222), a system operator k has operator code
// 240 + k, and a niladic function k is handler k − 16 of the niladic dispatcher.
inline constexpr uint32_t kFirstSystemFunctionCode = 112;
inline constexpr uint32_t kLastSystemFunctionCode = 222;
inline constexpr uint32_t SystemFunctionCode(uint32_t k) { return 239 - k; }
inline constexpr uint32_t SystemFunctionNumber(uint32_t code) { return 239 - code; }
inline constexpr uint32_t SystemOperatorCode(uint32_t k) { return 240 + k; }
inline constexpr uint32_t SystemOperatorNumber(uint32_t code) { return code - 240; }
inline constexpr uint32_t kFirstNiladicNumber = 16;
inline constexpr uint32_t NiladicHandlerIndex(uint32_t k) { return k - kFirstNiladicNumber; }

// Finds a name (without ⎕) by exact comparison; the caller upper-cases a-z and retries when the
// text as written is not found. Returns nullptr for unknown names, for names longer than
// kSystemNameMaxLength, and for the internal names of ⎕ and ⍞.
const SystemNameEntry* FindSystemName(std::u32string_view upperCaseName);

// Finds the entry with number k in a class, or nullptr.
const SystemNameEntry* FindSystemNameByNumber(uint32_t k, uint32_t cls);

// "⎕" and the name of entry k of a class; "⎕" alone when the class has no entry k.
std::u32string SystemNameText(uint32_t k, uint32_t cls);

// The text of a localised system variable's name entry: "⎕" and the name, "⍞" for number 12, and
// "⎕UNUSED" for a number with no entry.
std::u32string SystemVariableText(uint32_t k);

// The registry in ascending name order (i < kSystemNameCount), for listing and completion.
const SystemNameEntry& SystemNameInNameOrder(uint32_t i);

}  // namespace vantor
