// The handler ABI: what a primitive, operator or system function receives and returns, the registers
// it may read, the layout of derived functions, and how a unit enters its handlers into the
// evaluator's dispatch tables (indexed by token code). Primitives and display know this interface and
// never the evaluator behind it.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "memory/memory1.h"

namespace vantor {

// The evaluator's registers are working slots of the root block, so compaction rewrites them.
enum EvaluatorSlot : uint32_t {
  kSlotTokens = 0,        // current token stream; its cursor companion is the reading position
  kSlotLeft = 1,          // LeftSlot
  kSlotRight = 2,         // RightSlot
  kSlotNewValue = 3,      // NewValue
  kSlotPendingFunction = 4,
  kSlotPendingItem = 5,
  kSlotAxis = 6,          // the axis [K] of the function being applied (0: none)
  kSlotCallLeft = 7,      // the arguments of a CallPrimitive
  kSlotCallRight = 8,
  kSlotScratch = 9,       // first slot free for other units' short-lived use
};

// The codes of single-byte primitives and symbols: the token codes the scanner writes for them and
// the indexes of the dispatch tables.
enum PrimitiveCode : uint8_t {
  kPrimPlus = 2,         // +
  kPrimMinus = 3,        // -
  kPrimTimes = 4,        // ×
  kPrimDivide = 5,       // ÷
  kPrimCeiling = 6,      // ⌈
  kPrimFloor = 7,        // ⌊
  kPrimStar = 8,         // *
  kPrimLog = 9,          // ⍟
  kPrimStile = 10,       // | and ∣
  kPrimShriek = 11,      // !
  kPrimCircle = 12,      // ○
  kPrimTilde = 14,       // ~
  kPrimOr = 15,          // ∨
  kPrimAnd = 16,         // ∧ and ^
  kPrimNor = 17,         // ⍱
  kPrimNand = 18,        // ⍲
  kPrimLess = 19,        // <
  kPrimLessEqual = 20,   // ≤
  kPrimEqual = 21,       // =
  kPrimGreaterEqual = 22,  // ≥
  kPrimGreater = 23,     // >
  kPrimNotEqual = 24,    // ≠
  kPrimMatch = 30,       // ≡
  kPrimNotMatch = 31,    // ≢
  kPrimRho = 32,         // ⍴
  kPrimComma = 33,       // ,
  kPrimCommaBar = 34,    // ⍪
  kPrimIota = 35,        // ⍳
  kPrimUpArrow = 36,     // ↑
  kPrimDownArrow = 37,   // ↓
  kPrimQuery = 38,       // ?
  kPrimGradeDown = 39,   // ⍒
  kPrimGradeUp = 40,     // ⍋
  kPrimTranspose = 41,   // ⍉
  kPrimRotate = 42,      // ⌽
  kPrimRotateFirst = 43,  // ⊖
  kPrimEpsilon = 44,     // ∊
  kPrimDecode = 45,      // ⊥
  kPrimEncode = 46,      // ⊤
  kPrimExecute = 47,     // ⍎
  kPrimFormat = 48,      // ⍕
  kPrimDomino = 49,      // ⌹
  kPrimEnclose = 50,     // ⊂
  kPrimDisclose = 51,    // ⊃
  kPrimUnion = 52,       // ∪
  kPrimIntersection = 53,  // ∩
  kPrimFind = 54,        // ⍷
  kPrimSquad = 55,       // ⌷
  kPrimJot = 56,         // ∘
  kPrimBranch = 57,      // →
  kPrimAssign = 58,      // ←
  kPrimQuad = 59,        // ⎕ alone
  kPrimQuoteQuad = 60,   // ⍞
  kPrimSlash = 64,       // /
  kPrimSlashBar = 65,    // ⌿
  kPrimBackslash = 66,   // \ (U+005C)
  kPrimBackslashBar = 67,  // ⍀
  kPrimDot = 68,         // . as the product dot
  kPrimEach = 71,        // ¨
  kPrimPower = 72,       // ⍣
  kPrimSpawn = 73,       // &
  kPrimCommute = 74,     // ⍨
  kPrimIBeam = 75,       // ⌶
  kPrimRoot = 77,        // #
  kPrimParent = 78,      // ##
  kPrimLeft = 82,        // ⊣
  kPrimRight = 83,       // ⊢
  kPrimVariant = 84,     // ⍠
  kPrimRank = 85,        // ⍤
  kPrimKey = 89,         // ⌸
  kPrimLeftParen = 96,   // (
  kPrimRightParen = 97,  // )
  kPrimLeftBracket = 98,   // [
  kPrimRightBracket = 99,  // ]
  kPrimSemicolon = 100,  // ;
  kPrimZilde = 107,      // ⍬
};

// What a function handler returns: a counted result (0 when the function has no result) and
// whether the result is shy (not displayed).
struct CallResult {
  Ref value = 0;
  bool shy = false;
};

// A primitive or system function. `left` and `right` refer to the evaluator's argument registers
// (root-block slots, so compaction keeps them current: read them again after anything that
// allocates); `left` holds 0 for a monadic call. Arguments are borrowed: the handler neither
// releases them nor keeps them without retaining.
using FunctionHandler = CallResult (*)(const Ref& left, const Ref& right);

// A niladic system function: returns a counted result.
using NiladicHandler = Ref (*)();

// The axis of the function being applied, f[K]: the value K while the handler runs, 0 when the call
// has none. Borrowed, like the arguments.
inline const Ref& AxisArgument() { return WorkingSlot(kSlotAxis); }

// ---- Primitive dispatch ----------------------------------------------------------------------------

// What a primitive accepts beyond its arguments.
enum PrimitiveFlag : uint32_t {
  kMonadicAxis = 1,     // f[K] B
  kDyadicAxis = 2,      // A f[K] B
  kMonadicSelects = 4,  // passes a selective-assignment selection in B through
  kDyadicSelects = 8,   // A f B passes a selection in B through
  kTakesHashed = 16,    // is given hashed arrays as they are (every other function gets their arrays)
};

// One entry of a unit's primitive table: the handlers of primitive `code` that the unit provides
// (nullptr: not this unit's), and the flags of those valences.
struct PrimitiveRow {
  uint32_t code;
  FunctionHandler monadic;
  FunctionHandler dyadic;
  uint32_t flags;
};

// Enters a unit's rows into the evaluator's monadic and dyadic dispatch tables (codes below 224).
// Units call it from their initialiser. A valence that no unit provides is a SYNTAX ERROR when
// called ("The function requires a left argument" or "The function does not take a left argument").
void InstallPrimitives(std::span<const PrimitiveRow> rows);

// Enters a system function's handlers under its registry name (without ⎕): the units above the
// evaluator register their system functions this way from their initialisers.
void InstallSystemFunction(std::u32string_view name, FunctionHandler monadic, FunctionHandler dyadic);
// The same for a niladic system function.
void InstallNiladicFunction(std::u32string_view name, NiladicHandler handler);

// Calls primitive `code` through the dispatch tables, as the evaluator would with no axis: `left` 0
// for a monadic call. The arguments are borrowed and held in registers of their own for the call.
// For units whose work is made of other primitives.
CallResult CallPrimitive(uint32_t code, const Ref& left, const Ref& right);

// ---- Operators ------------------------------------------------------------------------------------

// A derived function object (kind 9): word 3 the left operand, word 4 the operator code, word 5 the
// right operand (codes below 512 are primitive or system-function codes; otherwise counted
// references to functions or arrays). Operator codes: / 64, ⌿ 65, \ 66, ⍀ 67, ¨ 71, ⍣ 72, & 73,
// ⍨ 74, ⌶ 75, ⍤ 85, ⌸ 89, ∘ 56, . 68 (outer product when the left operand is ∘, code 56), [ 98 (an
// axis: word 5 the axis value), ⍠ 252, system operators 240 + their number.
// Trains use operator codes of their own: an atop (g h) has g and h as its operands; a fork (f g h)
// has f (a function or an array) as its left operand and, as its right, a pair (g h) that is not a
// function by itself; a train still being read is the evaluator's own record.
inline constexpr uint32_t kTrainAtop = 232;
inline constexpr uint32_t kTrainFork = 233;
inline constexpr uint32_t kTrainForkPair = 234;
inline constexpr uint32_t kTrainBuilding = 235;
inline constexpr uint32_t kDerivedLeftOperand = 3;
inline constexpr uint32_t kDerivedOperator = 4;
inline constexpr uint32_t kDerivedRightOperand = 5;

// Applies a derived function of one operator: `derived` and the arguments are borrowed (root-held;
// `left` 0 for a monadic call); the axis register holds an axis given to the derived function.
using OperatorHandler = CallResult (*)(const Ref& derived, const Ref& left, const Ref& right);
struct OperatorRow {
  uint32_t code;
  OperatorHandler handler;
  bool takesHashed = false;  // the derived functions are given hashed arrays as they are
};
// Enters a unit's operators into the evaluator's operator table (codes below 256).
void InstallOperators(std::span<const OperatorRow> rows);

// Applies any function value — a primitive or system-function code, a derived function, a defined
// function or dfn — to borrowed arguments (`left` 0 for a monadic call) and returns its counted
// result (0 when the function gives none). The arguments are held in registers of their own for the
// call. For operators applying their operands.
CallResult CallFunctionValue(Ref fn, const Ref& left, const Ref& right);

// The text of a function value as it would be written: a dfn's source from brace to brace ("{≢⍵}"),
// a primitive's symbol, a derived function's operands and operator; empty for a defined function.
// Operators read it to recognise common operands.
std::u32string FunctionValueText(Ref fn);

}  // namespace vantor
