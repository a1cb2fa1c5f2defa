// The evaluator: executes token streams right to left with a handful of registers held in the root
// block, dispatches primitives and system functions through tables indexed by token code, and owns
// the outer loop that every error, branch and return comes back to.
#pragma once
#include <cstdint>
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
  kSlotScratch = 6,       // first slot free for other units' short-lived use
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

// Builds the dispatch tables. Called once at start-up, after the units it dispatches to.
void InitialiseEvaluator();
// Scans and executes one line in immediate execution; an untrapped error is displayed and the line
// abandoned.
void ExecuteLine(std::u32string_view line);
// The outer loop: the start action, then lines read from the host until ⎕OFF or the end of input.
[[noreturn]] void RunSession();

}  // namespace vantor
